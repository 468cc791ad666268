#include "base/TlsPolicy.h"

#include <cstring>

#include "base/TrustedAuthority.h"
#include "easylogging++.h"

namespace TlsPolicy {

Settings SettingsFor(const char* authorityPem) {
    Settings settings;
    settings.authorityPem = authorityPem && authorityPem[0] ? authorityPem : nullptr;
    return settings;
}

const Settings& Current() {
    static const Settings settings = SettingsFor(TrustedAuthority::Pem());
    return settings;
}

const char* TrustName(const Settings& settings) {
    return settings.authorityPem ? "the build's test authority" : "the Windows certificate store";
}

CURLcode Apply(CURL* handle) { return Apply(handle, Current()); }

CURLcode Apply(CURL* handle, const Settings& settings) {
    CURLcode kept = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, settings.verifyPeer);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, settings.verifyPeer);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, settings.verifyHost);
    curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, settings.sslOptions);
    if (settings.authorityPem) {
        // libcurl copies the blob description; the text itself is static and is not copied.
        curl_blob blob = {const_cast<char*>(settings.authorityPem), strlen(settings.authorityPem), CURL_BLOB_NOCOPY};
        curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
    }
    // A proxy speaking TLS is checked as well (against the Windows store).
    curl_easy_setopt(handle, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, settings.protocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, settings.protocols);
    return kept;
}

bool IsCertificateRefusal(CURLcode code) {
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
           code == CURLE_SSL_ISSUER_ERROR || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

std::string RefusalLine(const std::string& url, CURLcode code, const Settings& settings) {
    // Scheme, host and port only: a query may carry ids that do not belong in a log line.
    std::string origin = url;
    size_t hostStart = origin.find("://");
    hostStart = hostStart == std::string::npos ? 0 : hostStart + 3;
    size_t hostEnd = origin.find_first_of("/?#", hostStart);
    if (hostEnd != std::string::npos) origin.erase(hostEnd);
    return std::string(" TLS certificate refused: ") + origin + " (" + curl_easy_strerror(code) +
           "); trusted: " + TrustName(settings);
}

bool LogIfRefused(CURL* handle, CURLcode code) {
    if (!IsCertificateRefusal(code)) return false;
    const char* url = nullptr;
    if (handle) curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url);
    LOG(INFO) << RefusalLine(url ? url : "", code, Current());
    return true;
}

}  // namespace TlsPolicy
