#include "ReportSDK/ReportFormat.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

#include "ReportSDK/IWebLogNew.h"
#include "base/TextCodec.h"

namespace ReportFormat {
namespace {

bool AllDigits(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The member of an object input, or the default when the input has none.
Json::Value Member(const Json::Value& input, const char* name, const Json::Value& fallback) {
    return input.isObject() ? input.get(name, fallback) : fallback;
}

bool Has(const Json::Value& input, const char* name) { return input.isObject() && input.isMember(name); }

// The member of an object, or null for anything that is not an object.
const Json::Value& Field(const Json::Value& object, const char* name) {
    static const Json::Value null;
    if (!object.isObject()) return null;
    const Json::Value* found = object.find(name, name + strlen(name));
    return found ? *found : null;
}

// The text after "marker" up to the next "&" (or the end); "" when the marker is missing.
std::string ValueAfter(const std::string& query, const std::string& marker) {
    size_t at = query.find(marker);
    if (at == std::string::npos) return std::string();
    size_t from = at + marker.size();
    size_t end = query.find('&', from);
    return query.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// Text between the last "_" and the last "." when the "_" comes first.
std::wstring BetweenUnderscoreAndDot(const std::wstring& name) {
    size_t underscore = name.rfind(L'_');
    size_t dot = name.rfind(L'.');
    if (underscore == std::wstring::npos || dot == std::wstring::npos || underscore > dot) return std::wstring();
    return name.substr(underscore + 1, dot - underscore - 1);
}

}  // namespace

std::string TextOf(const Json::Value& value) {
    if (value.isString() || value.isNumeric() || value.isBool()) return value.asString();
    return std::string();
}

Json::Value BuildFunnelEvent(const CommonFields& f, const Json::Value& input, int64_t ts) {
    Json::Value common(Json::objectValue);
    common["uid"] = f.uid;
    common["user_id"] = f.userId;
    common["session_id"] = f.sessionId;
    common["pid"] = f.sdkType == 2 ? f.mainPid : f.secondPid;
    common["brand"] = f.brand;
    common["model"] = f.model;
    common["channel"] = Member(input, "channel", "");
    common["is_new"] = Member(input, "is_new", 0);
    common["mac"] = f.mac;
    common["os"] = f.os;
    common["os_version"] = f.osVersion;
    common["product"] = f.product;
    common["product_version"] = f.productVersion;
    common["email"] = f.email;
    common["phone"] = f.phone;
    common["is_vip"] = Member(input, "is_vip", Json::Value());
    common["is_login"] = Member(input, "is_login", Json::Value());
    common["cross_end_id"] = f.crossEndId;
    common["rnclid"] = f.crossEndId;
    common["source_type"] = f.sdkType == 1 ? "product" : f.sdkType == 2 ? "downloader" : "";
    common["tools_version"] = f.toolsVersion;
    common["tools_lang"] = f.toolsLang;
    common["kit_type"] = f.kitType;
    common["downloader_id"] = f.downloaderId;
    if (f.extraCommon.isObject())
        for (const std::string& name : f.extraCommon.getMemberNames()) common[name] = f.extraCommon[name];

    Json::Value out(Json::objectValue);
    out["common"] = common;
    if (Has(input, "entry")) {
        Json::Value start(Json::objectValue);
        start["entry"] = Member(input, "entry", "");
        out["start"] = start;
    }
    out["actions"] = Member(input, "actions", Json::Value());
    if (Has(input, "monitor_type")) {
        Json::Value ext(Json::objectValue);
        ext["parent_pid"] = Member(input, "monitor_main_pid", 0);
        ext["pid"] = Member(input, "monitor_sub_pid", 0);
        ext["ext_others"] = Member(input, "monitor_ext1", "");
        Json::Value param(Json::objectValue);
        param["start_time"] = Member(input, "monitor_start_time", 0);
        param["error_time"] = Member(input, "monitor_error_time", 0);
        param["line_id"] = Member(input, "monitor_line_id", 0);
        param["error_code"] = Member(input, "monitor_error_code", "");
        param["total_memory"] = Member(input, "monitor_total_memory", "");
        param["remain_memory"] = Member(input, "monitor_remain_memory", "");
        param["user_ext"] = Member(input, "monitor_user_ext", "");
        param["ext"] = ext;
        Json::Value monitor(Json::objectValue);
        monitor["monitor_type"] = Member(input, "monitor_type", "");
        monitor["guid"] = Member(input, "monitor_guid", "");
        monitor["param"] = param;
        out["monitor"] = monitor;
    }
    out["ts"] = Json::Int64(ts);
    return out;
}

int32_t CheckFunnelEvent(const Json::Value& event) {
    const Json::Value& common = Field(event, "common");
    const Json::Value& actions = Field(event, "actions");
    if (TextOf(Field(common, "session_id")).empty()) return kReportNoSessionId;
    if (TextOf(Field(common, "uid")).empty()) return kReportNoUid;
    const Json::Value& pid = Field(common, "pid");
    if (!pid.isIntegral() || pid.asLargestInt() <= 1000) return kReportBadPid;
    if (TextOf(Field(common, "product_version")).empty()) return kReportNoProductVersion;
    std::string rnclid = TextOf(Field(common, "rnclid"));
    if (!rnclid.empty() && rnclid.size() <= 17) return kReportShortRnclid;
    if (rnclid.size() > 17 && !AllDigits(rnclid)) return kReportBadRnclid;
    if (TextOf(Field(actions, "event_category")).empty()) return kReportNoCategory;
    if (TextOf(Field(actions, "event_action")).empty()) return kReportNoAction;
    std::string ts = TextOf(Field(event, "ts"));
    if (ts.size() <= 12) return kReportShortTs;
    if (!AllDigits(ts)) return kReportBadTs;
    return kReportAccepted;
}

std::string FunnelKey(const Json::Value& event) {
    const Json::Value& actions = Field(event, "actions");
    return "2::" + TextOf(Field(event, "ts")) + "::" + TextOf(Field(actions, "event_category")) +
           "::" + TextOf(Field(actions, "event_action"));
}

std::string PercentEncodeQuery(const std::string& query) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(query.size() * 3);
    for (unsigned char c : query) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            strchr("!&'()*-.=_~", c) != nullptr) {
            if (c != 0) {
                out.push_back(static_cast<char>(c));
                continue;
            }
        }
        out.push_back('%');
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

std::string Ga4Key(const std::string& encodedQuery, int64_t ts) {
    return "1::" + std::to_string(ts) + "::" + ValueAfter(encodedQuery, "&ep.qv_category=") +
           "::" + ValueAfter(encodedQuery, "&ep.qv_action=");
}

std::string Ga4Address(const std::string& base, const std::string& clientId, const std::string& encodedQuery) {
    return base + "/g/collect?v=2&cid=" + clientId + encodedQuery;
}

std::string Ga4FiledQuery(const std::string& content) {
    static const char kMarker[] = "/g/collect?v=2&cid=";
    size_t at = content.find(kMarker);
    if (at == std::string::npos) return std::string();
    std::string rest = content.substr(at + strlen(kMarker));
    auto hex = [](char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; };
    for (size_t i = 0; i < rest.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(rest[i]);
        if (c == '%') {
            if (i + 2 >= rest.size() || !hex(rest[i + 1]) || !hex(rest[i + 2])) return std::string();
            i += 2;
            continue;
        }
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     (c != 0 && strchr("!&'()*-.=_~", c) != nullptr);
        if (!plain) return std::string();
    }
    return rest;
}

std::string Ga4ClientId(const std::string& volumeSerialHex, const std::string& mac) {
    std::string id = volumeSerialHex;
    for (char c : mac)
        if (c != ':') id.push_back(c);
    return id;
}

int32_t TaskKind(const std::string& content) {
    auto has = [&](const char* text) { return content.find(text) != std::string::npos; };
    if (has("source_type") && has("cross_end_id")) return 2;
    if (has("&tid=") && has("&en=")) return 1;
    return 0;
}

KeyParts SplitKey(const std::string& key) {
    KeyParts parts;
    parts.prefix = key.substr(0, 3);
    if (key.size() > 3) parts.time = key.substr(3, 13);
    if (key.size() > 16) parts.rest = key.substr(16);
    return parts;
}

int64_t KeyTimeMillis(std::string_view timePart) {
    if (timePart.empty()) return 0;
    uint64_t value = 0;
    for (char c : timePart) {
        if (c < '0' || c > '9') return 0;
        if (value > (uint64_t(INT64_MAX) - uint64_t(c - '0')) / 10) return 0;
        value = value * 10 + uint64_t(c - '0');
    }
    return int64_t(value);
}

std::string CrossEndIdFromFileName(const std::wstring& fileName) {
    return TextCodec::WideToUtf8(BetweenUnderscoreAndDot(fileName));
}

std::string CrossEndIdFromSpText(const std::string& text) {
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        std::string line = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
        from = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 255) line.resize(255);
        if (line.size() <= 4) continue;
        size_t underscore = line.rfind('_');
        size_t dot = line.rfind('.');
        if (underscore == std::string::npos || dot == std::string::npos || underscore > dot) continue;
        return line.substr(underscore + 1, dot - underscore - 1);
    }
    return std::string();
}

bool IsProtectedCommonName(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    static const char* const kProtected[] = {"session_id", "uid", "os", "os_version", "mac",
                                             "brand", "model", "cross_end_id", "rnclid", "source_type"};
    for (const char* p : kProtected)
        if (lower == p) return true;
    return false;
}

int64_t LocalClockMillis() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    struct tm local = {};
    local.tm_year = now.wYear - 1900;
    local.tm_mon = now.wMonth - 1;
    local.tm_mday = now.wDay;
    local.tm_hour = now.wHour;
    local.tm_min = now.wMinute;
    local.tm_sec = now.wSecond;
    local.tm_isdst = -1;
    return int64_t(mktime(&local)) * 1000 + now.wMilliseconds;
}

}  // namespace ReportFormat
