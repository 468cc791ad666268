#pragma once
// Access to the local services that the test launcher (scripts/with-local-services.sh) started
// for this test binary: base URLs, the served folder, the request record and the control API.
// Uses libcurl directly, so tests of the program's own transfer code do not test themselves.
#include <curl/curl.h>
#include "base/JsonText.h"
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <json/json.h>

namespace LocalServices {

inline std::string env(const char* name) {
    const char* v = getenv(name);
    return v ? v : "";
}
inline bool Available() { return !env("ORBALA_SERVICES_HTTP").empty(); }
inline std::string BaseUrl(bool https) { return env(https ? "ORBALA_SERVICES_HTTPS" : "ORBALA_SERVICES_HTTP"); }
// The folder served under /download/ (a Wine path).
inline std::string Root() { return env("ORBALA_SERVICES_ROOT"); }
inline std::string DownloadUrl(bool https, const std::string& name) { return BaseUrl(https) + "/download/" + name; }

// One request to the control API on the plain listener; returns the HTTP status (0 on failure).
inline long Control(const char* method, const std::string& path, const std::string& body = "",
                    std::string* reply = nullptr) {
    CURL* h = curl_easy_init();
    if (!h) return 0;
    std::string out;
    std::string url = BaseUrl(false) + path;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 10L);
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    if (!body.empty()) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, long(body.size()));
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* t) {
        static_cast<std::string*>(t)->append(d, s * n);
        return s * n;
    });
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &out);
    long status = 0;
    if (curl_easy_perform(h) == CURLE_OK) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    if (reply) *reply = out;
    return status;
}

// Adds one fault rule (a JSON object: path prefix, method, skip, times and the effects).
inline bool AddFault(const std::string& ruleJson) { return Control("POST", "/__control/faults", ruleJson) == 200; }
// Clears fault rules and the request record.
inline bool Reset() { return Control("POST", "/__control/reset", "{}") == 200; }

// The requests recorded since the last Reset whose path starts with prefix, oldest first.
inline std::vector<Json::Value> Requests(const std::string& prefix = "") {
    std::vector<Json::Value> out;
    std::string reply;
    char* escaped = curl_easy_escape(nullptr, prefix.c_str(), int(prefix.size()));
    std::string query = std::string("/__control/requests?path=") + (escaped ? escaped : "");
    curl_free(escaped);
    if (Control("GET", query, "", &reply) != 200) return out;
    Json::Value all;
    if (!JsonText::Parse(reply, all) || !all.isArray()) return out;
    for (const auto& r : all) out.push_back(r);
    return out;
}

}  // namespace LocalServices
