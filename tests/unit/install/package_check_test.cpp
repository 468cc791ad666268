// The signature check against the build's signed test packages, and the package lock.
#include <gtest/gtest.h>

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <vector>

#include "deployment_values.h"
#include "install/PackageCheck.h"
#include "install/SignerTrust.h"
#include "support/install_fixtures.h"
#include "support/log_capture.h"
#include "support/test_support.h"

using install_fixtures::Package;

namespace {

class PackageCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(install_fixtures::TrustTestAuthority()); }
};

const std::wstring kPublisher = Deployment::PRODUCT_PUBLISHER();
const std::wstring kOrganization = Deployment::PRODUCT_PUBLISHER_ORGANIZATION();

// The signer's certificate of a signed file, read from its embedded signature (released with
// its store by the caller through CertFreeCertificateContext).
PCCERT_CONTEXT SignerOf(const std::wstring& path) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message, nullptr))
        return nullptr;
    DWORD size = 0;
    PCCERT_CONTEXT cert = nullptr;
    if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) {
        std::vector<BYTE> info(size);
        if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size))
            cert = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT,
                                              info.data(), nullptr);
    }
    CryptMsgClose(message);
    CertCloseStore(store, 0);  // the certificate keeps its store alive
    return cert;
}

// DER of an X.500 name: one attribute per RDN, each (OID bytes, UTF8String value).
std::vector<BYTE> Der(BYTE tag, const std::vector<BYTE>& content) {
    std::vector<BYTE> out(content.size() + 2);
    out[0] = tag;
    out[1] = static_cast<BYTE>(content.size());  // short lengths only
    std::copy(content.begin(), content.end(), out.begin() + 2);
    return out;
}
std::vector<BYTE> NameDer(const std::vector<std::pair<BYTE, std::string>>& attributes) {
    std::vector<BYTE> rdns;
    for (const auto& a : attributes) {
        std::vector<BYTE> oid = Der(0x06, {0x55, 0x04, a.first});  // 2.5.4.n
        std::vector<BYTE> value = Der(0x0C, std::vector<BYTE>(a.second.begin(), a.second.end()));
        oid.insert(oid.end(), value.begin(), value.end());
        std::vector<BYTE> set = Der(0x31, Der(0x30, oid));
        rdns.insert(rdns.end(), set.begin(), set.end());
    }
    return Der(0x30, rdns);
}
const BYTE kCN = 0x03, kO = 0x0A, kOU = 0x0B;

}  // namespace

TEST_F(PackageCheck, SignatureVariantsAreToldApart) {
    const std::string publisher = install_fixtures::Utf8(kPublisher), organization = install_fixtures::Utf8(kOrganization);
    struct Case {
        const wchar_t* variant;
        bool ok;
        std::string logged;  // a line that must be logged
    } cases[] = {
        {L"", true, "is signed and the signature was verified."},
        {L"unsigned", false, "is not signed."},
        // A trusted chain, but not the product's publisher.
        {L"otherpub", false,
         "signer is \"Another Test Publisher\" (organisation \"" + organization + "\"), not the publisher \"" + publisher +
             "\" (organisation \"" + organization + "\")"},
        {L"otherorg", false, "signer is \"" + publisher + "\" (organisation \"Another Test Organisation\"), not the publisher"},
        // The publisher's exact names on a certificate nobody vouches for, and on one of an
        // authority the machine trusts but this build does not. (Windows' own check already turns
        // the self-made one away; under Wine it passes, and the chain check refuses it.)
        {L"selfsigned", false, " VerifyEmbeddedSignature result is "},
        {L"otherca", false, " VerifyEmbeddedSignature signer chain refused: 0x800b0109; trusted: the build's test authority"},
        {L"tampered", false, " VerifyEmbeddedSignature result is -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(install_fixtures::Utf8(c.variant));
        LogCapture log;
        std::wstring path = Package(c.variant);
        EXPECT_EQ(FuntionImpl::VerifyEmbeddedSignature(path), c.ok) << log.dump();
        EXPECT_TRUE(log.contains(c.logged)) << log.dump();
        if (std::wstring(c.variant) == L"selfsigned" && log.contains(" VerifyEmbeddedSignature result is 0, ")) {
            EXPECT_TRUE(log.contains(" VerifyEmbeddedSignature signer chain refused: 0x")) << log.dump();
        }
    }
}

TEST_F(PackageCheck, VerifiesThroughTheHeldHandleAsWell) {
    PackageLock lock;
    ASSERT_TRUE(lock.Acquire(Package(L"")));
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignature(Package(L""), lock.handle()));
    PackageLock other;
    ASSERT_TRUE(other.Acquire(Package(L"otherpub")));
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(Package(L"otherpub"), other.handle()));
    // The publisher is the deployment's; other names accept the other publisher instead.
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignatureBy(Package(L"otherpub"), L"Another Test Publisher", kOrganization,
                                                       other.handle()));
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignatureBy(Package(L"otherpub"), L"Another Test Publisher",
                                                        L"Another Test Organisation", other.handle()));
}

// The chain judgement itself, for each trust a build can have. The suite's set-up made the
// machine trust both the build's test authority and the second authority.
TEST_F(PackageCheck, SignerChainEndsAtWhatTheBuildTrusts) {
    ASSERT_TRUE(Deployment::kTrustTestAuthority);
    struct Case {
        const wchar_t* variant;
        bool testBuild;  // the build's test authority alone; else the machine's roots (a release)
        bool trusted;
    } cases[] = {
        {L"", true, true},
        {L"otherca", true, false},     // the machine trusts its authority; the test build does not
        {L"selfsigned", true, false},
        {L"", false, true},            // the machine trusts the test authority as well
        {L"otherca", false, true},
        {L"selfsigned", false, false},  // nobody trusts it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(install_fixtures::Utf8(c.variant) + (c.testBuild ? " / test build" : " / release"));
        PCCERT_CONTEXT signer = SignerOf(Package(c.variant));
        ASSERT_NE(signer, nullptr);
        SignerTrust::ChainVerdict verdict =
            SignerTrust::VerifyChain(signer, c.testBuild ? Deployment::kTestAuthorityPem : nullptr);
        EXPECT_EQ(verdict.error == S_OK, c.trusted) << std::hex << verdict.error << " " << verdict.how;
        if (!c.trusted) {
            EXPECT_EQ(verdict.error, CERT_E_UNTRUSTEDROOT) << std::hex << verdict.error;
        }
        CertFreeCertificateContext(signer);
    }
    // This build's own choice is the test authority's.
    PCCERT_CONTEXT signer = SignerOf(Package(L"otherca"));
    ASSERT_NE(signer, nullptr);
    EXPECT_NE(SignerTrust::VerifyChain(signer).error, S_OK);
    CertFreeCertificateContext(signer);
}

TEST(SignerSubject, PublisherIsBothNamesExactly) {
    const std::string cn = "Orbala Test Publisher", org = "Orbala Test Software";
    struct Case {
        const char* what;
        std::vector<std::pair<BYTE, std::string>> subject;
        bool publisher;
    } cases[] = {
        {"both names", {{kO, org}, {kCN, cn}}, true},
        {"other attributes beside them", {{kOU, "Signing"}, {kCN, cn}, {kO, org}}, true},
        {"no organisation", {{kCN, cn}}, false},
        {"the name only as organisation (what a display name falls back to)", {{kO, cn}}, false},
        {"an embedded NUL after the name", {{kO, org}, {kCN, cn + std::string(1, '\0') + ".evil"}}, false},
        {"an embedded NUL in the organisation", {{kO, org + std::string(1, '\0') + "x"}, {kCN, cn}}, false},
        {"a longer name", {{kO, org}, {kCN, cn + " Ltd"}}, false},
        {"another case", {{kO, org}, {kCN, "orbala test publisher"}}, false},
        {"a second common name", {{kO, org}, {kCN, cn}, {kCN, "Someone Else"}}, false},
        {"another organisation", {{kO, "Orbala Test"}, {kCN, cn}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<BYTE> der = NameDer(c.subject);
        CERT_NAME_BLOB blob = {static_cast<DWORD>(der.size()), der.data()};
        SignerTrust::SubjectNames names = SignerTrust::ReadSubject(blob);
        EXPECT_TRUE(names.decoded);
        EXPECT_EQ(SignerTrust::IsPublisher(names, L"Orbala Test Publisher", L"Orbala Test Software"), c.publisher)
            << SignerTrust::Describe(names);
    }
    // The NUL and what follows it are part of the name that was read.
    std::vector<BYTE> der = NameDer({{kO, org}, {kCN, cn + std::string(1, '\0') + ".evil"}});
    CERT_NAME_BLOB blob = {static_cast<DWORD>(der.size()), der.data()};
    SignerTrust::SubjectNames names = SignerTrust::ReadSubject(blob);
    EXPECT_EQ(names.commonName.size(), cn.size() + 6);
    EXPECT_EQ(SignerTrust::Describe(names), "\"Orbala Test Publisher?.evil\" (organisation \"Orbala Test Software\")");
    // Something that is not a name is no publisher.
    BYTE junk[] = {0x30, 0x05, 0x01, 0x02};
    CERT_NAME_BLOB bad = {sizeof junk, junk};
    EXPECT_FALSE(SignerTrust::ReadSubject(bad).decoded);
    EXPECT_FALSE(SignerTrust::IsPublisher(SignerTrust::ReadSubject(bad), L"", L""));
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
