#pragma once
// The one place that decides how TLS server certificates are treated, on every libcurl request
// of the program: the transfer helper (CLibcurlTool) and the report SDK's transport call Apply on
// each handle before the request.
//
// The setup runs elevated and acts on what its services tell it (which file to download, its
// checksum), so every HTTPS server must prove who it is: peer and host checks are on, and a
// server whose certificate does not verify is refused (libcurl result 60, logged by LogIfRefused;
// the caller's usual fall-back follows: the configuration from the skin, the event kept queued, the
// download attempt failed). Whom the setup trusts is the deployment's choice (deployment/<name>,
// TLS_TRUST):
//   - windows-store (every release): the Windows certificate store, through Schannel's own
//     validation. Revocation is checked where the authority publishes revocation data; an
//     unreachable revocation server does not fail the request (many networks block them).
//   - test-authority (test builds, deployment "local"): only the build's own test authority,
//     which signed the local services' certificate; given to libcurl as an in-memory CA file.
// Only http and https are spoken, also after redirects.
#include <curl/curl.h>

#include <string>

namespace TlsPolicy {

struct Settings {
    long verifyPeer = 1;                                // CURLOPT_SSL_VERIFYPEER
    long verifyHost = 2;                                // CURLOPT_SSL_VERIFYHOST: the name must match
    long sslOptions = CURLSSLOPT_REVOKE_BEST_EFFORT;    // CURLOPT_SSL_OPTIONS
    const char* authorityPem = nullptr;                 // CURLOPT_CAINFO_BLOB; null: the Windows store
    const char* protocols = "http,https";               // CURLOPT_PROTOCOLS_STR, CURLOPT_REDIR_PROTOCOLS_STR
};

// The settings of a build that trusts the Windows store (authorityPem null) or only the authority
// whose certificate authorityPem holds.
Settings SettingsFor(const char* authorityPem);
// The settings of this build, from its deployment.
const Settings& Current();
// "the Windows certificate store" or "the build's test authority", for log lines.
const char* TrustName(const Settings& settings);

// Sets this build's settings on the handle: CURLOPT_SSL_VERIFYPEER twice and the others once,
// in the order of the Settings fields. Returns the result of the first setting (the one the
// callers act on).
CURLcode Apply(CURL* handle);
CURLcode Apply(CURL* handle, const Settings& settings);

// True when a transfer's result means that the server's certificate was refused (it did not
// verify, or the trusted authorities could not be read).
bool IsCertificateRefusal(CURLcode code);
// The log line for a refused certificate: " TLS certificate refused: " the scheme, host and port
// of url, " (" libcurl's text for code, "); trusted: " the trust of settings.
std::string RefusalLine(const std::string& url, CURLcode code, const Settings& settings);
// After a transfer: writes RefusalLine to the program log when code is a refusal (the address is
// the handle's effective URL). Returns whether it was one.
bool LogIfRefused(CURL* handle, CURLcode code);

}  // namespace TlsPolicy
