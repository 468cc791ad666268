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

// The first signer's certificate, from the state that a verifying WinVerifyTrust call left open
// (owned by that state).
PCCERT_CONTEXT SignerCertificate(HANDLE state) {
    CRYPT_PROVIDER_DATA* data = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = data ? WTHelperGetProvSignerFromChain(data, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* cert = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    return cert ? cert->pCert : nullptr;
}

}  // namespace

bool VerifyEmbeddedSignature(const std::wstring& path, HANDLE file) {
    return VerifyEmbeddedSignatureBy(path, Deployment::PRODUCT_PUBLISHER(), Deployment::PRODUCT_PUBLISHER_ORGANIZATION(),
                                     file);
}

bool VerifyEmbeddedSignatureBy(const std::wstring& path, const std::wstring& publisher,
                               const std::wstring& organization, HANDLE file) {
    return JudgeEmbeddedSignature(path, publisher, organization, CheckEmbeddedSignature(path, file));
}

SignatureCheck CheckEmbeddedSignature(const std::wstring& path, HANDLE file) {
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file == INVALID_HANDLE_VALUE ? nullptr : file;

    // No user interface and no revocation check: the setup runs unattended and may be offline.
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
    if (check.status == ERROR_SUCCESS) {
        // WinVerifyTrust checked the signature; whether the signer's chain ends at an authority
        // this build trusts is judged here (Wine's check does not walk to a trusted root).
        PCCERT_CONTEXT signer = SignerCertificate(data.hWVTStateData);
        if (signer) check.subject = SignerTrust::ReadSubject(signer->pCertInfo->Subject);
        check.chain = SignerTrust::VerifyChain(signer);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &data);
    return check;
}

bool JudgeEmbeddedSignature(const std::wstring& path, const std::wstring& publisher, const std::wstring& organization,
                            const SignatureCheck& check) {
    LOG(INFO) << " VerifyEmbeddedSignature result is " << check.status << ", "
              << SignatureStatusText(check.status, check.lastError, path);
    if (check.status != ERROR_SUCCESS) return false;
    // A signature anyone can make with a certificate of their own does not pass: the chain must
    // end at an authority this build trusts ...
    if (check.chain.error != S_OK) {
        char code[16];
        snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(check.chain.error));
        LOG(INFO) << " VerifyEmbeddedSignature signer chain refused: " << code << "; trusted: " << check.chain.how;
        return false;
    }
    // ... and a trusted chain is not enough: the signer must be the product's publisher, by both
    // names, compared whole.
    SignerTrust::SubjectNames expected;
    expected.commonName = publisher;
    expected.organization = organization;
    if (!SignerTrust::IsPublisher(check.subject, publisher, organization)) {
        LOG(INFO) << " VerifyEmbeddedSignature signer is " << SignerTrust::Describe(check.subject)
                  << ", not the publisher " << SignerTrust::Describe(expected);
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
        lock.held() && FuntionImpl::JudgeEmbeddedSignature(path, Deployment::PRODUCT_PUBLISHER(),
                                                           Deployment::PRODUCT_PUBLISHER_ORGANIZATION(), signature);
    return verdict;
}
