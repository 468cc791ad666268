#pragma once
// Checks of the downloaded product installer: its embedded Authenticode signature, and the
// lock that keeps the checked file unchanged until the installer process has started.
#include <windows.h>

#include <string>

#include "install/SignerTrust.h"

namespace FuntionImpl {

// Log text for a status of WinVerifyTrust (the last error decides between "not signed" and
// "unknown error" for TRUST_E_NOSIGNATURE).
std::string SignatureStatusText(LONG status, DWORD lastError, const std::wstring& path);

// True when the file's embedded signature verifies (WinVerifyTrust), the signer's chain ends at
// an authority this build trusts (SignerTrust), and the signer's subject carries exactly the
// product's publisher: common name PRODUCT_PUBLISHER and organisation
// PRODUCT_PUBLISHER_ORGANIZATION (deployment values). Logs
// " VerifyEmbeddedSignature result is <status>, <text>", and a line of its own for a chain that
// is refused or a signer that is not the publisher. file: an open handle of the same file to
// verify (the package lock's), or INVALID_HANDLE_VALUE to let the check open the path itself.
bool VerifyEmbeddedSignature(const std::wstring& path, HANDLE file = INVALID_HANDLE_VALUE);
// The same against a given publisher.
bool VerifyEmbeddedSignatureBy(const std::wstring& path, const std::wstring& publisher,
                               const std::wstring& organization, HANDLE file);

// The two halves of the check, so the signature can be checked while something else runs and
// be logged afterwards in its place: the result of WinVerifyTrust and what the signer is ...
struct SignatureCheck {
    LONG status = 0;
    DWORD lastError = 0;
    // Of the first signer, when the status is 0:
    SignerTrust::SubjectNames subject;
    SignerTrust::ChainVerdict chain;
};
SignatureCheck CheckEmbeddedSignature(const std::wstring& path, HANDLE file);
// ... and the verdict for a publisher, with its log lines.
bool JudgeEmbeddedSignature(const std::wstring& path, const std::wstring& publisher, const std::wstring& organization,
                            const SignatureCheck& check);

}  // namespace FuntionImpl

// Holds the package open for reading while sharing only reading: from before its digest is
// computed until the installer process has started, nobody can write, rename or delete it,
// so the file that starts is the file that was checked.
class PackageLock {
public:
    PackageLock() = default;
    ~PackageLock() { Release(); }
    PackageLock(const PackageLock&) = delete;
    PackageLock& operator=(const PackageLock&) = delete;

    // Opens the file; false (with the system error in error()) when it cannot be opened.
    bool Acquire(const std::wstring& path);
    void Release();
    bool held() const { return m_file != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return m_file; }
    DWORD error() const { return m_error; }

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    DWORD m_error = 0;
};

struct PackageVerdict {
    bool digestGood = false;
    bool signatureGood = false;
};
// The checks between the end of the download and the installer's start, on a package held by
// lock (a package not held counts as not signed): its MD5 digest when compareDigest is set
// (recorded in the ".db" stamp with record; otherwise it counts as good) and its signature by the
// product's publisher. Both read the whole file, so they run side by side; their log lines come
// in the order digest, " after md5 ", signature.
PackageVerdict VerifyHeldPackage(const std::wstring& path, const PackageLock& lock, bool compareDigest,
                                 const std::wstring& md5, const std::wstring& md5Extra, const std::wstring& record);
