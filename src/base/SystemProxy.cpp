#include "base/SystemProxy.h"

#include <windows.h>
#include <winhttp.h>

#include <cctype>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "base/SystemLibrary.h"
#include "base/TextCodec.h"
#include "easylogging++.h"

namespace SystemProxy {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// Entries of a list separated by ";", "," or blanks.
std::vector<std::string> Entries(const std::string& list) {
    std::vector<std::string> out;
    std::string current;
    for (char c : list) {
        if (c == ';' || c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!current.empty()) out.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

// "*" matches any run of characters (also none); everything else matches itself.
bool WildcardMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

int DefaultPort(const std::string& scheme) { return scheme == "https" ? 443 : scheme == "http" ? 80 : 0; }

bool IsLoopback(const std::string& host) {
    if (host == "localhost" || host == "[::1]") return true;  // recognises loopback: contacts nothing
    return host.compare(0, 4, "127.") == 0 && host.find_first_not_of("0123456789.") == std::string::npos;
}

// "host:port" with an optional "scheme://" in front becomes libcurl's "scheme://host:port"
// (http:// when none is named).
std::string AsCurlProxy(std::string entry) {
    entry = Trim(entry);
    if (entry.empty()) return entry;
    if (entry.find("://") == std::string::npos) entry = "http://" + entry;
    return entry;
}

// ---- The run's decisions ----

std::mutex g_lock;
bool g_settingsRead = false;
Settings g_settings;
std::function<Settings()> g_source;     // tests; null: the system's
std::map<std::string, Choice> g_decided;  // by origin text
bool g_autoDetectFailed = false;
std::set<std::string> g_failureLogged;

struct WinHttp {
    HMODULE module = nullptr;
    decltype(&WinHttpGetIEProxyConfigForCurrentUser) getIeConfig = nullptr;
    decltype(&WinHttpOpen) open = nullptr;
    decltype(&WinHttpGetProxyForUrl) getProxyForUrl = nullptr;
    decltype(&WinHttpSetTimeouts) setTimeouts = nullptr;
    HINTERNET session = nullptr;
};

WinHttp& Library() {
    static WinHttp lib = [] {
        WinHttp l;
        l.module = SystemLibrary::Load(L"winhttp.dll");
        if (!l.module) return l;
        l.getIeConfig = reinterpret_cast<decltype(l.getIeConfig)>(
            reinterpret_cast<void*>(GetProcAddress(l.module, "WinHttpGetIEProxyConfigForCurrentUser")));
        l.open = reinterpret_cast<decltype(l.open)>(reinterpret_cast<void*>(GetProcAddress(l.module, "WinHttpOpen")));
        l.getProxyForUrl = reinterpret_cast<decltype(l.getProxyForUrl)>(
            reinterpret_cast<void*>(GetProcAddress(l.module, "WinHttpGetProxyForUrl")));
        l.setTimeouts = reinterpret_cast<decltype(l.setTimeouts)>(
            reinterpret_cast<void*>(GetProcAddress(l.module, "WinHttpSetTimeouts")));
        return l;
    }();
    return lib;
}

std::string FreeGlobalText(LPWSTR text) {
    if (!text) return std::string();
    std::string out = TextCodec::WideToUtf8(text);
    GlobalFree(text);
    return out;
}

std::string RegistryText(HKEY key, const wchar_t* name) {
    wchar_t buffer[2048] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    return TextCodec::WideToUtf8(buffer);
}

Settings ReadSystemSettings() {
    Settings settings;
    WinHttp& lib = Library();
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
    if (lib.getIeConfig && lib.getIeConfig(&ie)) {
        settings.autoDetect = ie.fAutoDetect != FALSE;
        settings.autoConfigUrl = FreeGlobalText(ie.lpszAutoConfigUrl);
        settings.proxyServer = FreeGlobalText(ie.lpszProxy);
        settings.bypassList = FreeGlobalText(ie.lpszProxyBypass);
    }
    // The same settings as values of the user's key, where the call above did not give them.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD enable = 0, size = sizeof(enable), type = 0;
        const bool enabled = RegQueryValueExW(key, L"ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enable),
                                              &size) == ERROR_SUCCESS && type == REG_DWORD && enable == 1;
        if (settings.proxyServer.empty() && enabled) {
            settings.proxyServer = RegistryText(key, L"ProxyServer");
            settings.bypassList = RegistryText(key, L"ProxyOverride");
        }
        if (settings.autoConfigUrl.empty()) settings.autoConfigUrl = RegistryText(key, L"AutoConfigURL");
        RegCloseKey(key);
    }
    return settings;
}

// Asks WinHTTP for the proxy of url by the configuration script (a given one, or the one
// auto-detection finds). True with choice filled when it answered.
bool AskAutomaticConfiguration(const std::string& url, bool autoDetect, const std::string& scriptUrl, Choice& choice) {
    WinHttp& lib = Library();
    if (!lib.open || !lib.getProxyForUrl) return false;
    if (!lib.session) {
        lib.session = lib.open(L"Orbala Lumeno setup", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0);
        // The script's download is bounded: a configuration server that does not answer costs seconds, not minutes.
        if (lib.session && lib.setTimeouts) lib.setTimeouts(lib.session, 5000, 5000, 5000, 5000);
    }
    if (!lib.session) return false;
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    std::wstring script = TextCodec::Utf8ToWide(scriptUrl);
    if (autoDetect) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = script.c_str();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    std::wstring wideUrl = TextCodec::Utf8ToWide(url);
    if (!lib.getProxyForUrl(lib.session, wideUrl.c_str(), &options, &info)) {
        LOG(INFO) << " Proxy " << (autoDetect ? "auto-detection" : "configuration script") << " gave nothing: error "
                  << GetLastError();
        return false;
    }
    std::string proxies = FreeGlobalText(info.lpszProxy);
    FreeGlobalText(info.lpszProxyBypass);
    choice.how = autoDetect ? "auto-detect" : "script";
    choice.proxy.clear();
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        // The first of the script's proxies; "DIRECT" entries are not named here.
        std::vector<std::string> list = Entries(proxies);
        if (!list.empty()) choice.proxy = ProxyForScheme(list[0], "http");
    }
    return true;
}

Choice Decide(const std::string& url, const Origin& origin, const Settings& settings) {
    Choice choice;
    if (settings.autoDetect && !g_autoDetectFailed && !g_source) {
        if (AskAutomaticConfiguration(url, true, std::string(), choice)) return choice;
        g_autoDetectFailed = true;  // the script's place does not depend on the address
    }
    if (!settings.autoConfigUrl.empty() && !g_source) {
        if (AskAutomaticConfiguration(url, false, settings.autoConfigUrl, choice)) return choice;
    }
    if (!settings.proxyServer.empty()) {
        if (Bypassed(origin, settings.bypassList)) {
            choice.how = "bypassed";
            return choice;
        }
        choice.proxy = ProxyForScheme(settings.proxyServer, origin.scheme);
        choice.how = choice.proxy.empty() ? "direct" : "fixed";
        return choice;
    }
    choice.how = "direct";
    return choice;
}

bool HasSspi() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && (info->features & CURL_VERSION_SSPI) != 0 &&
           (info->features & (CURL_VERSION_NTLM | CURL_VERSION_SPNEGO)) != 0;
}

}  // namespace

bool ParseOrigin(const std::string& url, Origin& origin) {
    size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0) return false;
    origin.scheme = Lower(url.substr(0, schemeEnd));
    size_t hostStart = schemeEnd + 3;
    size_t hostEnd = url.find_first_of("/?#", hostStart);
    std::string authority = url.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    origin.port = DefaultPort(origin.scheme);
    size_t colon = authority.rfind(':');
    size_t bracket = authority.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        std::string port = authority.substr(colon + 1);
        authority.erase(colon);
        if (!port.empty()) {
            if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
            origin.port = std::stoi(port);
        }
    }
    origin.host = Lower(authority);
    return !origin.host.empty();
}

std::string OriginText(const Origin& origin) {
    return origin.scheme + "://" + origin.host + ":" + std::to_string(origin.port);
}

std::string ProxyForScheme(const std::string& proxyServer, const std::string& scheme) {
    std::string forScheme, socks, plain;
    for (const std::string& entry : Entries(proxyServer)) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            if (plain.empty()) plain = entry;
            continue;
        }
        std::string name = Lower(entry.substr(0, equals));
        std::string value = entry.substr(equals + 1);
        if (name == scheme && forScheme.empty()) forScheme = value;
        if (name == "socks" && socks.empty()) socks = value;
    }
    if (!forScheme.empty()) return AsCurlProxy(forScheme);
    if (!plain.empty()) return AsCurlProxy(plain);
    if (!socks.empty()) return "socks4://" + Trim(socks);
    return std::string();
}

bool Bypassed(const Origin& origin, const std::string& bypassList) {
    const std::vector<std::string> entries = Entries(bypassList);
    bool loopbackThroughProxy = false;
    for (const std::string& raw : entries)
        if (Lower(raw) == "<-loopback>") loopbackThroughProxy = true;
    if (!loopbackThroughProxy && IsLoopback(origin.host)) return true;
    for (const std::string& raw : entries) {
        std::string entry = Lower(raw);
        if (entry == "<-loopback>") continue;
        if (entry == "<local>") {
            if (origin.host.find('.') == std::string::npos && origin.host.find(':') == std::string::npos &&
                origin.host[0] != '[')
                return true;
            continue;
        }
        std::string scheme;
        size_t schemeEnd = entry.find("://");
        if (schemeEnd != std::string::npos) {
            scheme = entry.substr(0, schemeEnd);
            entry.erase(0, schemeEnd + 3);
        }
        int port = -1;
        size_t colon = entry.rfind(':');
        size_t bracket = entry.rfind(']');
        if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
            std::string digits = entry.substr(colon + 1);
            if (digits != "*" && !digits.empty() && digits.size() <= 5 &&
                digits.find_first_not_of("0123456789") == std::string::npos)
                port = std::stoi(digits);
            entry.erase(colon);
        }
        if (entry.empty()) continue;
        if (!scheme.empty() && scheme != "*" && scheme != origin.scheme) continue;
        if (port >= 0 && port != origin.port) continue;
        if (WildcardMatch(entry, origin.host)) return true;
    }
    return false;
}

Choice For(const std::string& url) {
    Origin origin;
    if (!ParseOrigin(url, origin)) return Choice{std::string(), "direct"};
    const std::string key = OriginText(origin);
    std::lock_guard<std::mutex> lock(g_lock);
    auto found = g_decided.find(key);
    if (found != g_decided.end()) return found->second;
    if (!g_settingsRead) {
        g_settings = g_source ? g_source() : ReadSystemSettings();
        g_settingsRead = true;
        LOG(INFO) << " Proxy settings: auto-detect " << (g_settings.autoDetect ? 1 : 0) << ", script \""
                  << g_settings.autoConfigUrl << "\", proxy \"" << g_settings.proxyServer << "\", bypass \""
                  << g_settings.bypassList << "\"";
    }
    Choice choice = Decide(url, origin, g_settings);
    LOG(INFO) << " Proxy for " << key << ": " << (choice.proxy.empty() ? "none" : choice.proxy) << " (" << choice.how
              << ")";
    g_decided[key] = choice;
    return choice;
}

Choice Apply(CURL* handle, const std::string& url) {
    Choice choice = For(url);
    curl_easy_setopt(handle, CURLOPT_PROXY, choice.proxy.c_str());
    if (choice.proxy.empty()) return choice;
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
    static const bool sspi = HasSspi();
    if (sspi) {
        // The user's own logon, offered only when the proxy asks for it (libcurl asks which of
        // the two the proxy takes first).
        curl_easy_setopt(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NTLM | CURLAUTH_NEGOTIATE));
        curl_easy_setopt(handle, CURLOPT_PROXYUSERPWD, ":");
    } else {
        static std::once_flag once;
        std::call_once(once, [] {
            LOG(INFO) << " Proxy credentials unavailable: this libcurl has no SSPI; a proxy that asks for them refuses";
        });
    }
    return choice;
}

bool LogIfFailed(CURL* handle, const std::string& url, CURLcode code) {
    if (code == CURLE_OK && !handle) return false;
    long connectCode = 0, status = 0;
    if (handle) {
        curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    }
    const bool tunnelRefused = connectCode != 0 && (connectCode < 200 || connectCode > 299);
    const bool credentialsRefused = status == 407 || connectCode == 407;
    const bool atProxy = code == CURLE_COULDNT_RESOLVE_PROXY || code == CURLE_COULDNT_CONNECT ||
                         (code != CURLE_OK && tunnelRefused) || credentialsRefused;
    if (!atProxy) return false;
    Choice choice = For(url);
    if (choice.proxy.empty()) return false;
    Origin origin;
    ParseOrigin(url, origin);
    const std::string key = OriginText(origin);
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_failureLogged.insert(key).second) return true;
    }
    std::string what = credentialsRefused ? "credentials refused (407)" : curl_easy_strerror(code);
    if (tunnelRefused && !credentialsRefused) what += ", tunnel answered " + std::to_string(connectCode);
    LOG(INFO) << " Proxy failed: " << choice.proxy << " for " << key << " (" << what << ")";
    return true;
}

void SetSettingsSourceForTests(std::function<Settings()> source) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_source = std::move(source);
    g_settingsRead = false;
    g_decided.clear();
    g_autoDetectFailed = false;
    g_failureLogged.clear();
}

void ForgetDecisionsForTests() { SetSettingsSourceForTests(nullptr); }

}  // namespace SystemProxy
