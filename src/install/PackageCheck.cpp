#include "install/PackageCheck.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <easylogging++.h>

#include <cstdio>
#include <thread>

#include "base/TextCodec.h"
#include "deployment_values.h"
#include "download/DownLoadImpl.h"

namespace FuntionImpl {

std::string SignatureStatusText(LONG status, DWORD lastError, const std::wstring& path) {
    const std::string quoted = "\"" + TextCodec::WideToUtf8(path) + "\"";
    switch (status) {
        case ERROR_SUCCESS:
            return "The file " + quoted + " is signed and the signature was verified.";
        case TRUST_E_NOSIGNATURE:
            if (lastError == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
                lastError == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
                lastError == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN))
                return "The file " + quoted + " is not signed.";
            return "An unknown error occurred trying to verify the signature of the " + quoted + " file.";
        case TRUST_E_EXPLICIT_DISTRUST:
            return "The signature is present, but specifically disallowed.";
        case TRUST_E_SUBJECT_NOT_TRUSTED:
            return "The signature is present, but not trusted.";
        case CRYPT_E_SECURITY_SETTINGS:
            return "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't explicitly "
                   "trusted by the admin and admin policy has disabled user trust. No signature, publisher or "
                   "timestamp errors.";
        default: {
            char text[32];
            snprintf(text, sizeof text, "Error is: 0x%x.", static_cast<unsigned>(status));
            return text;
        }
    }
}

namespace {

// Subject name (simple display form) of the first signer's certificate, from the state that a
// verifying WinVerifyTrust call left open.
std::wstring SignerName(HANDLE state) {
    CRYPT_PROVIDER_DATA* data = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = data ? WTHelperGetProvSignerFromChain(data, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* cert = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (!cert || !cert->pCert) return std::wstring();
    wchar_t name[512] = {};
    DWORD n = CertGetNameStringW(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
    return n > 1 ? std::wstring(name) : std::wstring();
}

}  // namespace

bool VerifyEmbeddedSignature(const std::wstring& path, HANDLE file) {
    return VerifyEmbeddedSignatureBy(path, Deployment::PRODUCT_PUBLISHER(), file);
}

bool VerifyEmbeddedSignatureBy(const std::wstring& path, const std::wstring& publisher, HANDLE file) {
    return JudgeEmbeddedSignature(path, publisher, CheckEmbeddedSignature(path, file));
}

SignatureCheck CheckEmbeddedSignature(const std::wstring& path, HANDLE file) {
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file == INVALID_HANDLE_VALUE ? nullptr : file;

    // The whole chain is verified up to a trusted root: a signature anyone can make with a
    // certificate of their own does not pass (the hash-only check would let it). No user
    // interface and no revocation check: the setup runs unattended and may be offline.
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_NO_POLICY_USAGE_FLAG;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    SignatureCheck check;
    check.status = WinVerifyTrust(nullptr, &action, &data);
    check.lastError = GetLastError();
    if (check.status == ERROR_SUCCESS) check.signer = SignerName(data.hWVTStateData);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &data);
    return check;
}

bool JudgeEmbeddedSignature(const std::wstring& path, const std::wstring& publisher, const SignatureCheck& check) {
    LOG(INFO) << " VerifyEmbeddedSignature result is " << check.status << ", "
              << SignatureStatusText(check.status, check.lastError, path);
    if (check.status != ERROR_SUCCESS) return false;
    // A trusted chain is not enough: the signer must be the product's publisher. (Wine does
    // not check that a chain ends at a trusted root, so under Wine this test is the one that
    // turns away a signature made with a certificate of one's own.)
    if (check.signer != publisher) {
        LOG(INFO) << " VerifyEmbeddedSignature signer is \"" << TextCodec::WideToUtf8(check.signer)
                  << "\", not the publisher \"" << TextCodec::WideToUtf8(publisher) << "\"";
        return false;
    }
    return true;
}

}  // namespace FuntionImpl

bool PackageLock::Acquire(const std::wstring& path) {
    Release();
    m_file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    m_error = m_file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return held();
}

void PackageLock::Release() {
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}

PackageVerdict VerifyHeldPackage(const std::wstring& path, const PackageLock& lock, bool compareDigest,
                                 const std::wstring& md5, const std::wstring& md5Extra, const std::wstring& record) {
    std::string digest;
    std::thread digestThread;
    if (compareDigest) digestThread = std::thread([&digest, &path] { digest = CDownLoadImpl::FileMd5(path); });
    FuntionImpl::SignatureCheck signature;
    if (lock.held()) signature = FuntionImpl::CheckEmbeddedSignature(path, lock.handle());
    if (digestThread.joinable()) digestThread.join();

    PackageVerdict verdict;
    verdict.digestGood = !compareDigest || CDownLoadImpl::checkDigest(path, digest, md5, md5Extra, record);
    LOG(INFO) << " after md5 ";
    verdict.signatureGood =
        lock.held() && FuntionImpl::JudgeEmbeddedSignature(path, Deployment::PRODUCT_PUBLISHER(), signature);
    return verdict;
}
