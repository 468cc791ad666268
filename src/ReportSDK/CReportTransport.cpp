#include "ReportSDK/CReportTransport.h"

#include <curl/curl.h>

#include <cstdio>
#include <sstream>

#include "ReportSDK/CSdkLog.h"
#include "base/TlsPolicy.h"

namespace {

// Appends every received chunk to the in-memory text stream.
size_t AppendToStream(char* data, size_t size, size_t count, void* stream) {
    static_cast<std::ostringstream*>(stream)->write(data, std::streamsize(size * count));
    return size * count;
}

}  // namespace

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

int CReportTransport::PostDataError(const std::string& address, const std::string& body) const {
    CURL* curl = curl_easy_init();
    if (!curl) {
        if (m_log) m_log->Write("PostDataError: %d, %s, %d", int(CURLE_FAILED_INIT), "curl_easy_init failed", 0);
        return 0;
    }
    curl_slist* headers = nullptr;
    for (const char* line : {"User-Agent:PostmanRuntime/7.29.2", "Accept:*/*", "Accept-Encoding:gzip, deflate, br",
                             "Connection:keep-alive", "Content-Type:application/json; charset=utf-8"})
        headers = curl_slist_append(headers, line);
    std::ostringstream response;
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
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToStream);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    TlsPolicy::Apply(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    std::string proxy = ReadProxy();
    if (!proxy.empty()) curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());

    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);

    if (result != CURLE_OK || (status != 200 && status != 204)) {
        // The library's own text when the error buffer stayed empty (also for success).
        const char* text = errorText[0] ? errorText : curl_easy_strerror(result);
        if (m_log) m_log->Write("PostDataError: %d, %s, %d", int(result), text, int(status));
    }
    return int(status);
}
