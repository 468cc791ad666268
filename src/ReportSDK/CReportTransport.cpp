#include "ReportSDK/CReportTransport.h"

#include <curl/curl.h>  // before windows.h: it brings winsock2.h
#include <windows.h>

#include <cstdio>

#include "ReportSDK/CSdkLog.h"
#include "base/SystemProxy.h"
#include "base/TlsPolicy.h"

namespace {

// Appends every received chunk to the in-memory text, up to its limit; a longer response ends
// the transfer (the library then reports a write error; the status has arrived by then).
size_t AppendToText(char* data, size_t size, size_t count, void* text) {
    std::string& kept = *static_cast<std::string*>(text);
    size_t bytes = size * count;
    if (kept.size() + bytes > CReportTransport::kMaxResponseBytes) return 0;
    kept.append(data, bytes);
    return bytes;
}

// Called by the library during the transfer (also while it connects): a non-zero answer gives
// the request up.
int CheckCancel(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const CReportTransport::Cancel*>(cancel)->Due() ? 1 : 0;
}

}  // namespace

bool CReportTransport::Cancel::Due() const {
    if (now) return true;
    unsigned long long when = at;
    return when != 0 && GetTickCount64() >= when;
}

std::string CReportTransport::ProxyFromFileText(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string CReportTransport::ReadProxy() const {
    FILE* file = _wfopen((m_exeFolder + L"proxy.txt").c_str(), L"rb");
    if (!file) return std::string();
    char buffer[1024] = {};
    size_t got = fread(buffer, 1, sizeof(buffer) - 1, file);
    fclose(file);
    return ProxyFromFileText(std::string(buffer, got));
}

CReportTransport::~CReportTransport() {
    if (m_kept) curl_easy_cleanup(static_cast<CURL*>(m_kept));
}

int CReportTransport::PostDataError(const std::string& address, const std::string& body, const Cancel* cancel) const {
    std::unique_lock<std::mutex> kept(m_keptLock, std::try_to_lock);
    if (kept.owns_lock()) {
        if (!m_kept) m_kept = curl_easy_init();
        if (m_kept) {
            // Every option is set anew; the handle's connections and TLS sessions stay.
            curl_easy_reset(static_cast<CURL*>(m_kept));
            return Post(m_kept, address, body, cancel);
        }
    }
    kept = std::unique_lock<std::mutex>();  // busy or not made: a handle for this request only
    CURL* own = curl_easy_init();
    int status = Post(own, address, body, cancel);
    if (own) curl_easy_cleanup(own);
    return status;
}

int CReportTransport::Post(void* handle, const std::string& address, const std::string& body,
                           const Cancel* cancel) const {
    CURL* curl = static_cast<CURL*>(handle);
    if (!curl) {
        if (m_log) m_log->Write("PostDataError: %d, %s, %d", int(CURLE_FAILED_INIT), "curl_easy_init failed", 0);
        return 0;
    }
    curl_slist* headers = nullptr;
    for (const char* line : {"User-Agent:PostmanRuntime/7.29.2", "Accept:*/*", "Accept-Encoding:gzip, deflate, br",
                             "Connection:keep-alive", "Content-Type:application/json; charset=utf-8"})
        headers = curl_slist_append(headers, line);
    std::string response;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_HEADER, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, kMaxConnectionAgeSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToText);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    TlsPolicy::Apply(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    // A GA4 address comes from the queue file; whatever it says, nothing but web requests go out.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (cancel) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancel);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<Cancel*>(cancel));
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    // The system's proxy for the collector, unless "proxy.txt" names one: the file wins.
    SystemProxy::Apply(curl, address);
    std::string proxy = ReadProxy();
    if (!proxy.empty()) curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());

    CURLcode result = curl_easy_perform(curl);
    if (proxy.empty()) SystemProxy::LogIfFailed(curl, address, result);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    // The options point at this call's texts: none of them may outlive it in a kept handle.
    curl_easy_reset(curl);
    curl_slist_free_all(headers);

    if (result != CURLE_OK || (status != 200 && status != 204)) {
        // The library's own text when the error buffer stayed empty (also for success).
        const char* text = errorText[0] ? errorText : curl_easy_strerror(result);
        if (m_log) m_log->Write("PostDataError: %d, %s, %d", int(result), text, int(status));
    }
    return int(status);
}
