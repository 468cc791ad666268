#pragma once
// The proxy the system gives for each address the setup requests: the user's Internet settings
// (a fixed proxy with its bypass list, or an automatic configuration script or auto-detection),
// as every Windows program that goes through WinINet or WinHTTP honours them. Without it, an
// office network that lets the web out only through a proxy would refuse the configuration
// query, the download and every event.
//
// The settings are read once per run: WinHttpGetIEProxyConfigForCurrentUser, and beside it the
// values ProxyEnable, ProxyServer, ProxyOverride and AutoConfigURL of the user's key
// "Software\Microsoft\Windows\CurrentVersion\Internet Settings" (the same settings; some
// systems, Wine among them, answer the call from another place and leave these out). The
// decision for an address (scheme, host and port) is made once and kept for the run; an
// automatic configuration is asked through WinHttpGetProxyForUrl, and auto-detection that found
// no script is not tried again in the run. A proxy that asks for credentials gets the user's
// Windows logon (NTLM or Negotiate through SSPI). TLS stays end to end: an https address goes
// through the proxy as a tunnel (CONNECT), with the same certificate checks as without it.
#include <curl/curl.h>

#include <functional>
#include <string>

namespace SystemProxy {

// The user's Internet settings.
struct Settings {
    bool autoDetect = false;
    std::string autoConfigUrl;
    std::string proxyServer;  // "host:port", or per scheme "http=host:port;https=host:port"
    std::string bypassList;   // entries separated by ";" (or blanks): hosts with "*", "<local>", ...
};

// An address as the decision sees it: scheme and host in lower case, the port always given.
struct Origin {
    std::string scheme;
    std::string host;  // an IPv6 literal keeps its brackets
    int port = 0;
};
// False when the address has no scheme or host.
bool ParseOrigin(const std::string& url, Origin& origin);
// "scheme://host:port".
std::string OriginText(const Origin& origin);

// The proxy of a proxy server list for a scheme, as a libcurl proxy ("http://host:port"); empty
// when the list names none for the scheme (the address then goes direct). A list without "="
// serves every scheme; "socks=host:port" serves the schemes the list names no proxy for.
std::string ProxyForScheme(const std::string& proxyServer, const std::string& scheme);

// Whether an address goes direct by a bypass list. Entries match the host without regard to
// case, "*" standing for any run of characters; an entry may name a scheme ("https://host") and
// a port ("host:8080"), which must then match too. "<local>" matches host names without a dot.
// Loopback addresses (localhost, 127.x.x.x, [::1]) always go direct unless the list holds
// "<-loopback>".
bool Bypassed(const Origin& origin, const std::string& bypassList);

// The decision for an address.
struct Choice {
    std::string proxy;     // libcurl's proxy ("http://host:port"); empty: direct
    std::string how;       // "direct", "fixed", "bypassed", "script", "auto-detect", for the log
};
// Decides once per scheme, host and port; later calls answer from what was decided.
Choice For(const std::string& url);

// Sets the decision on a libcurl handle before its request: CURLOPT_PROXY (empty for direct,
// which also keeps proxy variables of the environment out) and, through a proxy, the user's
// credentials for a proxy that asks (CURLOPT_PROXYAUTH NTLM or Negotiate, CURLOPT_PROXYUSERPWD
// ":"), when this libcurl has SSPI. Returns the decision.
Choice Apply(CURL* handle, const std::string& url);
// After a transfer of url: when it went through a proxy and failed at the proxy (unreachable,
// name unknown, the tunnel refused, credentials asked for and refused), writes
// " Proxy failed: " the proxy, " for " the address's origin, " (" libcurl's text, ")" to the
// program log, once per origin and run. Returns whether it was such a failure.
bool LogIfFailed(CURL* handle, const std::string& url, CURLcode code);

// Test seams: the settings the decisions read (instead of the system's), and a fresh start of
// the run's decisions.
void SetSettingsSourceForTests(std::function<Settings()> source);
void ForgetDecisionsForTests();

}  // namespace SystemProxy
