#pragma once
// Who signed the product installer, judged by the setup itself after WinVerifyTrust: the
// signer's certificate chain must end at an authority this build trusts, and the signer's
// subject must name the product's publisher exactly.
//
// Whom a build trusts is the same decision as for HTTPS (base/TrustedAuthority, which the TLS
// policy follows): a release trusts the roots of the machine's certificate store (the local
// machine's, not a store a standard user can add to), a test build only the build's own test
// authority, whatever the machine trusts.
#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace SignerTrust {

// The names of a certificate subject that identify a publisher. A subject may repeat an
// attribute; each count says how many times it occurs, and the text is the first one's.
struct SubjectNames {
    std::wstring commonName;    // CN, whole (an embedded NUL stays in the text)
    std::wstring organization;  // O
    int commonNames = 0;
    int organizations = 0;
    bool decoded = false;       // false: the subject is not a readable name
};
SubjectNames ReadSubject(const CERT_NAME_BLOB& subject);
// True when the subject holds exactly one common name and one organisation and both equal the
// publisher's, compared whole (length and every character; no fall-back to other fields).
bool IsPublisher(const SubjectNames& names, const std::wstring& commonName, const std::wstring& organization);
// "CN" (organisation "O") for log lines, control characters shown as '?'.
std::string Describe(const SubjectNames& names);

// The result of judging a signer's chain: error 0 when it ends at a trusted authority and the
// Authenticode policy accepts it; otherwise the policy's or chain builder's error
// (CERT_E_UNTRUSTEDROOT, CERT_E_WRONG_USAGE, ...). how says which way it was judged.
struct ChainVerdict {
    HRESULT error = E_FAIL;
    const char* how = "";
};
// signer: the signer's certificate; its own store (the signature's certificates) supplies the
// intermediates. authorityPem: the one authority to trust (a test build), or null for the
// machine's roots (a release).
ChainVerdict VerifyChain(PCCERT_CONTEXT signer, const char* authorityPem);
// The same with this build's trust (TrustedAuthority::Pem()).
ChainVerdict VerifyChain(PCCERT_CONTEXT signer);

}  // namespace SignerTrust
