#include "install/SignerTrust.h"

#include <cstring>
#include <vector>

#include "base/TextCodec.h"
#include "base/TrustedAuthority.h"

namespace SignerTrust {

namespace {

// Closes a certificate store, chain engine or chain when it goes out of scope.
struct StoreCloser {
    HCERTSTORE store = nullptr;
    ~StoreCloser() {
        if (store) CertCloseStore(store, 0);
    }
};
struct EngineCloser {
    HCERTCHAINENGINE engine = nullptr;
    ~EngineCloser() {
        if (engine) CertFreeCertificateChainEngine(engine);
    }
};
struct ChainCloser {
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ~ChainCloser() {
        if (chain) CertFreeCertificateChain(chain);
    }
};
struct CertCloser {
    PCCERT_CONTEXT cert = nullptr;
    ~CertCloser() {
        if (cert) CertFreeCertificateContext(cert);
    }
};

// The failure a call just reported; never success, even when the call set no error.
HRESULT LastFailure() {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The authority's certificate from its PEM text.
PCCERT_CONTEXT AuthorityCertificate(const char* pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem, 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) || size == 0)
        return nullptr;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem, 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
}

// A chain for code signing, built by engine; the signature's own certificates (the signer's
// store) and extra supply the intermediates. No revocation check, as for WinVerifyTrust: the
// setup runs unattended and may be offline.
PCCERT_CHAIN_CONTEXT BuildChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT signer, HCERTSTORE extra) {
    LPSTR codeSigning = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &codeSigning;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(engine, signer, nullptr, extra ? extra : signer->hCertStore, &para, 0, nullptr,
                                 &chain))
        return nullptr;
    return chain;
}

HRESULT AuthenticodePolicy(PCCERT_CHAIN_CONTEXT chain, DWORD flags) {
    CERT_CHAIN_POLICY_PARA para = {};
    para.cbSize = sizeof para;
    para.dwFlags = flags;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &para, &status))
        return LastFailure();
    return static_cast<HRESULT>(status.dwError);
}

bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
    return a && b && a->cbCertEncoded == b->cbCertEncoded &&
           memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// The machine's roots (the store administrators manage; the current user's roots are left out,
// since a standard user can add to them and the setup runs elevated).
ChainVerdict ByMachineRoots(PCCERT_CONTEXT signer) {
    ChainVerdict verdict;
    verdict.how = "the machine's trusted roots";
    ChainCloser chain{BuildChain(HCCE_LOCAL_MACHINE, signer, nullptr)};
    verdict.error = chain.chain ? AuthenticodePolicy(chain.chain, 0) : LastFailure();
    return verdict;
}

// Only the authority: a chain engine whose exclusive root it is, and our own check that the
// chain really ends there. Wine 8 refuses the configuration of newer Windows (E_INVALIDARG) and
// takes that of Windows 7 but ignores its exclusive root, building to the machine's roots; so the
// chain, built with the authority among the stores it may use, must end at exactly that
// certificate, have no fault but an untrusted root (the authority need not be in the machine's
// store), and pass the Authenticode policy told to accept an unknown root. On Windows the
// exclusive root is trusted and the same chain passes the same checks.
ChainVerdict ByAuthority(PCCERT_CONTEXT signer, PCCERT_CONTEXT authority) {
    ChainVerdict verdict;
    verdict.how = "the build's test authority";
    StoreCloser roots{CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)};
    // The signature's certificates and the authority, for the chain builder to pick from.
    StoreCloser extra{CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)};
    bool copied = roots.store && extra.store &&
                  CertAddCertificateContextToStore(roots.store, authority, CERT_STORE_ADD_ALWAYS, nullptr) &&
                  CertAddCertificateContextToStore(extra.store, authority, CERT_STORE_ADD_ALWAYS, nullptr);
    for (PCCERT_CONTEXT c = copied ? CertEnumCertificatesInStore(signer->hCertStore, nullptr) : nullptr; c;
         c = CertEnumCertificatesInStore(signer->hCertStore, c)) {
        if (!CertAddCertificateContextToStore(extra.store, c, CERT_STORE_ADD_USE_EXISTING, nullptr)) {
            CertFreeCertificateContext(c);
            copied = false;
            break;
        }
    }
    if (!copied) {
        verdict.error = LastFailure();
        return verdict;
    }
    CERT_CHAIN_ENGINE_CONFIG config = {};
    config.cbSize = sizeof config;
    config.hExclusiveRoot = roots.store;
    EngineCloser engine;
    if (!CertCreateCertificateChainEngine(&config, &engine.engine)) engine.engine = nullptr;
    ChainCloser chain{BuildChain(engine.engine ? engine.engine : HCCE_LOCAL_MACHINE, signer, extra.store)};
    if (!chain.chain) {
        verdict.error = LastFailure();
        return verdict;
    }
    const CERT_SIMPLE_CHAIN* simple = chain.chain->cChain > 0 ? chain.chain->rgpChain[0] : nullptr;
    PCCERT_CONTEXT top = simple && simple->cElement > 0 ? simple->rgpElement[simple->cElement - 1]->pCertContext : nullptr;
    DWORD faults = chain.chain->TrustStatus.dwErrorStatus & ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    if (chain.chain->cChain != 1 || !SameCertificate(top, authority))
        verdict.error = CERT_E_UNTRUSTEDROOT;
    else if (faults & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        verdict.error = CERT_E_WRONG_USAGE;
    else if (faults & CERT_TRUST_IS_NOT_TIME_VALID)
        verdict.error = CERT_E_EXPIRED;
    else if (faults)
        verdict.error = CERT_E_CHAINING;
    else
        verdict.error = AuthenticodePolicy(chain.chain, CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG);
    return verdict;
}

CERT_NAME_INFO* DecodeUnicodeName(const BYTE* data, DWORD size) {
    CERT_NAME_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                             &infoSize))
        return nullptr;
    return info;
}

// Whether the decoder counts the terminating NUL in a value's length: Windows does not, Wine 8
// does. Asked once of a name whose one value is "A", so that a NUL that is part of a name is
// never taken for the terminator.
bool TerminatorCounted() {
    static const bool counted = [] {
        const BYTE name[] = {0x30, 0x0C, 0x31, 0x0A, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x01, 'A'};
        CERT_NAME_INFO* info = DecodeUnicodeName(name, sizeof name);
        bool result = info && info->cRDN == 1 && info->rgRDN[0].cRDNAttr == 1 &&
                      info->rgRDN[0].rgRDNAttr[0].Value.cbData == 2 * sizeof(wchar_t);
        if (info) LocalFree(info);
        return result;
    }();
    return counted;
}

std::wstring Value(const CERT_RDN_VALUE_BLOB& value) {
    size_t length = value.cbData / sizeof(wchar_t);
    if (length > 0 && TerminatorCounted()) --length;
    return std::wstring(reinterpret_cast<const wchar_t*>(value.pbData), length);
}

std::string Printable(const std::wstring& text) {
    std::wstring shown = text;
    for (wchar_t& c : shown)
        if (c < L' ' || c == 0x7F) c = L'?';
    return TextCodec::WideToUtf8(shown);
}

}  // namespace

SubjectNames ReadSubject(const CERT_NAME_BLOB& subject) {
    SubjectNames names;
    // The Unicode form keeps each value's whole length, so a NUL inside a name stays visible.
    CERT_NAME_INFO* info = DecodeUnicodeName(subject.pbData, subject.cbData);
    if (!info) return names;
    names.decoded = true;
    for (DWORD r = 0; r < info->cRDN; ++r) {
        const CERT_RDN& rdn = info->rgRDN[r];
        for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
            const CERT_RDN_ATTR& attr = rdn.rgRDNAttr[a];
            if (!attr.pszObjId) continue;
            if (strcmp(attr.pszObjId, szOID_COMMON_NAME) == 0) {
                if (names.commonNames++ == 0) names.commonName = Value(attr.Value);
            } else if (strcmp(attr.pszObjId, szOID_ORGANIZATION_NAME) == 0) {
                if (names.organizations++ == 0) names.organization = Value(attr.Value);
            }
        }
    }
    LocalFree(info);
    return names;
}

bool IsPublisher(const SubjectNames& names, const std::wstring& commonName, const std::wstring& organization) {
    return names.decoded && names.commonNames == 1 && names.organizations == 1 && names.commonName == commonName &&
           names.organization == organization;
}

std::string Describe(const SubjectNames& names) {
    return "\"" + Printable(names.commonName) + "\" (organisation \"" + Printable(names.organization) + "\")";
}

ChainVerdict VerifyChain(PCCERT_CONTEXT signer, const char* authorityPem) {
    if (!signer) return ChainVerdict{TRUST_E_NO_SIGNER_CERT, "no signer certificate"};
    if (!authorityPem) return ByMachineRoots(signer);
    CertCloser authority{AuthorityCertificate(authorityPem)};
    if (!authority.cert) return ChainVerdict{CRYPT_E_NOT_FOUND, "the build's test authority (unreadable)"};
    return ByAuthority(signer, authority.cert);
}

ChainVerdict VerifyChain(PCCERT_CONTEXT signer) { return VerifyChain(signer, TrustedAuthority::Pem()); }

}  // namespace SignerTrust
