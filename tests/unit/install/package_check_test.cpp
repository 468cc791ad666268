// The signature check against the build's signed test packages, and the package lock.
#include <gtest/gtest.h>

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include "install/PackageCheck.h"
#include "support/install_fixtures.h"
#include "support/log_capture.h"
#include "support/test_support.h"

using install_fixtures::Package;

namespace {

class PackageCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(install_fixtures::TrustTestAuthority()); }
};

}  // namespace

TEST_F(PackageCheck, SignatureVariantsAreToldApart) {
    struct Case {
        const wchar_t* variant;
        bool ok;
        const char* logged;  // a line that must be logged
    } cases[] = {
        {L"", true, "is signed and the signature was verified."},
        {L"unsigned", false, "is not signed."},
        // A trusted chain, but not the product's publisher.
        {L"otherpub", false, "signer is \"Another Test Publisher\", not the publisher"},
        // The publisher's name on a certificate nobody vouches for.
        {L"selfsigned", false, " VerifyEmbeddedSignature result is -"},
        {L"tampered", false, " VerifyEmbeddedSignature result is -"},
    };
    for (const Case& c : cases) {
        if (std::wstring(c.variant) == L"selfsigned" && !install_fixtures::ChecksChainTrust()) continue;
        LogCapture log;
        std::wstring path = Package(c.variant);
        EXPECT_EQ(FuntionImpl::VerifyEmbeddedSignature(path), c.ok) << log.dump();
        EXPECT_TRUE(log.contains(c.logged)) << log.dump();
    }
}

TEST_F(PackageCheck, VerifiesThroughTheHeldHandleAsWell) {
    PackageLock lock;
    ASSERT_TRUE(lock.Acquire(Package(L"")));
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignature(Package(L""), lock.handle()));
    PackageLock other;
    ASSERT_TRUE(other.Acquire(Package(L"otherpub")));
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(Package(L"otherpub"), other.handle()));
    // The publisher is the deployment's; another name accepts the other publisher instead.
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignatureBy(Package(L"otherpub"), L"Another Test Publisher", other.handle()));
}

TEST(SignatureText, Table) {
    const std::wstring path = L"C:\\w\\p.exe";
    struct Case {
        LONG status;
        DWORD lastError;
        std::string text;
    } cases[] = {
        {0, 0, "The file \"C:\\w\\p.exe\" is signed and the signature was verified."},
        {LONG(TRUST_E_NOSIGNATURE), DWORD(TRUST_E_NOSIGNATURE), "The file \"C:\\w\\p.exe\" is not signed."},
        {LONG(TRUST_E_NOSIGNATURE), DWORD(TRUST_E_SUBJECT_FORM_UNKNOWN), "The file \"C:\\w\\p.exe\" is not signed."},
        {LONG(TRUST_E_NOSIGNATURE), DWORD(TRUST_E_PROVIDER_UNKNOWN), "The file \"C:\\w\\p.exe\" is not signed."},
        {LONG(TRUST_E_NOSIGNATURE), ERROR_ACCESS_DENIED,
         "An unknown error occurred trying to verify the signature of the \"C:\\w\\p.exe\" file."},
        {LONG(TRUST_E_EXPLICIT_DISTRUST), 0, "The signature is present, but specifically disallowed."},
        {LONG(TRUST_E_SUBJECT_NOT_TRUSTED), 0, "The signature is present, but not trusted."},
        {LONG(CRYPT_E_SECURITY_SETTINGS), 0,
         "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't explicitly trusted by "
         "the admin and admin policy has disabled user trust. No signature, publisher or timestamp errors."},
        {LONG(CERT_E_UNTRUSTEDROOT), 0, "Error is: 0x800b0109."},
        {LONG(TRUST_E_BAD_DIGEST), 0, "Error is: 0x80096010."},
    };
    for (const Case& c : cases) EXPECT_EQ(FuntionImpl::SignatureStatusText(c.status, c.lastError, path), c.text);
}

TEST(PackageLockTest, NobodyWritesRenamesOrDeletesWhileHeldButTheProgramStarts) {
    test_support::TempDir dir;
    std::wstring path = dir.File(L"OrbalaLumeno_Setup_1.0.0.0.exe");
    ASSERT_TRUE(install_fixtures::CopyPackage(L"noinstall", path));
    {
        PackageLock lock;
        ASSERT_TRUE(lock.Acquire(path));
        HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        EXPECT_FALSE(DeleteFileW(path.c_str()));
        EXPECT_FALSE(MoveFileW(path.c_str(), dir.File(L"moved.exe").c_str()));
        // Reading (the digest) and starting the program still work.
        HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE);
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::wstring line = L" /VERYSILENT";
        ASSERT_TRUE(CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 15000), WAIT_OBJECT_0);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    // Released: the file may be replaced again.
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}

TEST(PackageLockTest, MissingFileIsAnErrorNotAHold) {
    PackageLock lock;
    EXPECT_FALSE(lock.Acquire(L"C:\\no\\such\\package.exe"));
    EXPECT_FALSE(lock.held());
    EXPECT_NE(lock.error(), 0u);
}
