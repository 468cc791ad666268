#pragma once
// Checks of the downloaded product installer: its embedded Authenticode signature, and the
// lock that keeps the checked file unchanged until the installer process has started.
#include <windows.h>

#include <string>

namespace FuntionImpl {

// Log text for a status of WinVerifyTrust (the last error decides between "not signed" and
// "unknown error" for TRUST_E_NOSIGNATURE).
std::string SignatureStatusText(LONG status, DWORD lastError, const std::wstring& path);

// True when the file's embedded signature verifies through a trusted chain and its signer's
// subject name equals the product's publisher (deployment value PRODUCT_PUBLISHER). Logs
// " VerifyEmbeddedSignature result is <status>, <text>", and a line of its own for a signer
// that is not the publisher. file: an open handle of the same file to verify (the package
// lock's), or INVALID_HANDLE_VALUE to let the check open the path itself.
bool VerifyEmbeddedSignature(const std::wstring& path, HANDLE file = INVALID_HANDLE_VALUE);
// The same against a given publisher name.
bool VerifyEmbeddedSignatureBy(const std::wstring& path, const std::wstring& publisher, HANDLE file);

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
