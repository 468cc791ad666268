#pragma once
// The report SDK's computations over plain data: the funnel event wrapping and its checks,
// the task keys, the GA4 query encoding and address, the task kinds and the cross-end id.
// No system calls here, so every rule can be tested with fixed inputs.
#include <cstdint>
#include <string>
#include <string_view>

#include <json/json.h>

namespace ReportFormat {

// What the SDK knows of the machine, the run and the product; the source of "common".
struct CommonFields {
    int32_t sdkType = 0;      // 1 inside a product, 2 inside a downloader
    int32_t mainPid = 0;
    int32_t secondPid = 0;
    int32_t downloaderId = 0;
    int32_t kitType = 0;
    std::string product, productVersion, email, phone, toolsLang, toolsVersion, sessionId, crossEndId, uid, os,
        osVersion, mac, brand, model, userId;
    Json::Value extraCommon;  // object of extra members, or null
};

// The event object for a funnel body: "common", "start" (when the input has "entry"),
// "actions", "monitor" (when the input has "monitor_type") and "ts". A body that is not a
// JSON object counts as an empty one.
Json::Value BuildFunnelEvent(const CommonFields& fields, const Json::Value& input, int64_t ts);

// 0, or the code of the first failed check (-99 to -90, see ReportResult).
int32_t CheckFunnelEvent(const Json::Value& event);

// "2::" + ts + "::" + category + "::" + action of a checked event.
std::string FunnelKey(const Json::Value& event);

// Percent-encodes every byte but ASCII letters, digits and ! & ' ( ) * - . = _ ~ (lower-case hex).
std::string PercentEncodeQuery(const std::string& query);
// "1::" + ts + "::" + category + "::" + action, both taken from the encoded query.
std::string Ga4Key(const std::string& encodedQuery, int64_t ts);
// Base (scheme and host) + "/g/collect?v=2&cid=" + client id + encoded query.
std::string Ga4Address(const std::string& base, const std::string& clientId, const std::string& encodedQuery);
// What a filed GA4 task sends: the client id and the encoded query that follow
// "/g/collect?v=2&cid=" in it. Empty when the content has no such part or when that part holds a
// character that neither a client id nor an encoded query has (only letters, digits,
// ! & ' ( ) * - . = _ ~ and "%" with two hexadecimal digits). The address in front of it is
// never used: the queue file can be edited by anyone who can write the user's folders, so a GA4
// task is always sent to the configured endpoint (Ga4Address with the configured base).
std::string Ga4FiledQuery(const std::string& content);
// Volume serial number ("%X") followed by the MAC address without its colons.
std::string Ga4ClientId(const std::string& volumeSerialHex, const std::string& mac);

// Kind of a task content: 2 funnel event, 1 GA4 address, 0 neither.
int32_t TaskKind(const std::string& content);

// A key split as "T::" + 13-digit time + rest (the rest starts with "::").
struct KeyParts {
    std::string prefix;  // characters 0 to 2
    std::string time;    // characters 3 to 15
    std::string rest;    // from character 16
};
KeyParts SplitKey(const std::string& key);
// Milliseconds of a key's time part; 0 when empty, not all digits or beyond 64 bits.
int64_t KeyTimeMillis(std::string_view timePart);

// Cross-end id from an executable's file name: the text between its last "_" and its last ".",
// when the "_" comes first; "" otherwise.
std::string CrossEndIdFromFileName(const std::wstring& fileName);
// Cross-end id from the lines of "SP.dat" (UTF-8): the first line longer than 4 characters
// whose last "_" comes before its last "." gives the text between them; "" when none does.
std::string CrossEndIdFromSpText(const std::string& text);

// Names that extra common members may not replace (compared after lowering their case).
bool IsProtectedCommonName(const std::string& name);

// The current time in milliseconds since 1970 (UTC), from the local clock and time zone.
int64_t LocalClockMillis();

// Text of a JSON member for the checks: strings as they are, numbers and booleans in their
// text form, anything else "".
std::string TextOf(const Json::Value& value);

}  // namespace ReportFormat
