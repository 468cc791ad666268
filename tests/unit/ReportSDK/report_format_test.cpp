// The report SDK's rules over plain data: event wrapping, the ten checks, keys, the GA4
// encoding, task kinds, the cross-end id and the SDK log line.
#include <gtest/gtest.h>

#include <functional>

#include "ReportSDK/CSdkLog.h"
#include "ReportSDK/IWebLogNew.h"
#include "ReportSDK/ReportFormat.h"
#include "base/JsonText.h"

using namespace ReportFormat;

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(JsonText::Parse(text, v)) << text;
    return v;
}

CommonFields ValidFields() {
    CommonFields f;
    f.sdkType = 2;
    f.mainPid = 3086;
    f.secondPid = 7;
    f.downloaderId = 486;
    f.kitType = 1;
    f.product = "Orbala Lumeno";
    f.productVersion = "2.1.0";
    f.email = "e";
    f.phone = "p";
    f.toolsLang = "en";
    f.toolsVersion = "1.0.0.1";
    f.sessionId = "0A1B2C3D-0000-1111-2222-333344445555";
    f.uid = "11111111-2222-3333-4444-555555555555";
    f.os = "Windows 10-64";
    f.osVersion = "22H2(19045)";
    f.mac = "00:11:22:33:44:55";
    f.brand = "Board maker";
    f.model = "Board";
    f.userId = "u";
    return f;
}

const int64_t kTs = 1700000000123;

Json::Value ValidInput() {
    return Parse(R"({"channel":"seo","is_new":1,"actions":{"event_category":"CoreFuncEvent","event_action":"FlowError"}})");
}

}  // namespace

TEST(ReportWrapping, CommonMembersComeFromTheFieldsAndTheInput) {
    CommonFields f = ValidFields();
    f.crossEndId = "123456789012345678";
    Json::Value out = BuildFunnelEvent(f, ValidInput(), kTs);
    const Json::Value& c = out["common"];
    EXPECT_EQ(c["uid"].asString(), f.uid);
    EXPECT_EQ(c["session_id"].asString(), f.sessionId);
    EXPECT_EQ(c["pid"].asInt(), 3086);  // MainPid in a downloader
    EXPECT_EQ(c["channel"].asString(), "seo");
    EXPECT_EQ(c["is_new"].asInt(), 1);
    EXPECT_TRUE(c["is_vip"].isNull());
    EXPECT_TRUE(c["is_login"].isNull());
    EXPECT_EQ(c["cross_end_id"].asString(), "123456789012345678");
    EXPECT_EQ(c["rnclid"].asString(), "123456789012345678");
    EXPECT_EQ(c["source_type"].asString(), "downloader");
    EXPECT_EQ(c["kit_type"].asInt(), 1);
    EXPECT_EQ(c["downloader_id"].asInt(), 486);
    EXPECT_EQ(c["tools_lang"].asString(), "en");
    EXPECT_EQ(c.size(), 24u);
    EXPECT_EQ(out["ts"].asInt64(), kTs);
    EXPECT_EQ(out["actions"]["event_action"].asString(), "FlowError");
    EXPECT_FALSE(out.isMember("start"));
    EXPECT_FALSE(out.isMember("monitor"));
    EXPECT_FALSE(out.isMember("channel"));  // everything else of the input is not sent

    f.sdkType = 1;
    Json::Value product = BuildFunnelEvent(f, Parse("{}"), kTs);
    EXPECT_EQ(product["common"]["pid"].asInt(), 7);  // SecondPid inside a product
    EXPECT_EQ(product["common"]["source_type"].asString(), "product");
    EXPECT_EQ(product["common"]["channel"].asString(), "");
    EXPECT_EQ(product["common"]["is_new"].asInt(), 0);
    f.sdkType = 3;
    EXPECT_EQ(BuildFunnelEvent(f, Parse("{}"), kTs)["common"]["source_type"].asString(), "");
}

TEST(ReportWrapping, ExtraCommonReplacesMembersOfTheSameName) {
    CommonFields f = ValidFields();
    f.extraCommon = Parse(R"({"tools_lang":"de","product_version":"9.9","theme":"dark"})");
    const Json::Value c = BuildFunnelEvent(f, ValidInput(), kTs)["common"];
    EXPECT_EQ(c["tools_lang"].asString(), "de");
    EXPECT_EQ(c["product_version"].asString(), "9.9");
    EXPECT_EQ(c["theme"].asString(), "dark");
}

TEST(ReportWrapping, StartAndMonitorOnlyWithTheirMarkers) {
    Json::Value noType = Parse(R"({"monitor_guid":"g","monitor_line_id":4,"actions":{}})");
    EXPECT_FALSE(BuildFunnelEvent(ValidFields(), noType, kTs).isMember("monitor"));

    Json::Value in = Parse(R"({"entry":"desktop","monitor_type":"crash","monitor_guid":"g","monitor_line_id":4,
        "monitor_main_pid":10,"monitor_ext1":"x","monitor_error_code":"E1"})");
    Json::Value out = BuildFunnelEvent(ValidFields(), in, kTs);
    EXPECT_EQ(out["start"]["entry"].asString(), "desktop");
    const Json::Value& m = out["monitor"];
    EXPECT_EQ(m["monitor_type"].asString(), "crash");
    EXPECT_EQ(m["guid"].asString(), "g");
    EXPECT_EQ(m["param"]["line_id"].asInt(), 4);
    EXPECT_EQ(m["param"]["start_time"].asInt(), 0);
    EXPECT_EQ(m["param"]["error_code"].asString(), "E1");
    EXPECT_EQ(m["param"]["total_memory"].asString(), "");
    EXPECT_EQ(m["param"]["ext"]["parent_pid"].asInt(), 10);
    EXPECT_EQ(m["param"]["ext"]["pid"].asInt(), 0);
    EXPECT_EQ(m["param"]["ext"]["ext_others"].asString(), "x");
    EXPECT_TRUE(out["actions"].isNull());
}

TEST(ReportWrapping, InputThatIsNoObjectIsWrappedLikeAnEmptyOne) {
    for (const char* text : {"[1,2]", "5", "\"text\"", "null"}) {
        Json::Value out = BuildFunnelEvent(ValidFields(), Parse(text), kTs);
        EXPECT_EQ(CheckFunnelEvent(out), kReportNoCategory) << text;
    }
}

// Each case breaks one thing of a valid event; every earlier check still passes.
TEST(ReportChecks, FirstFailedCheckGivesItsCode) {
    struct Case {
        const char* what;
        std::function<void(CommonFields&, Json::Value&, int64_t&)> breakIt;
        int32_t code;
    };
    const Case cases[] = {
        {"valid", [](CommonFields&, Json::Value&, int64_t&) {}, 0},
        {"no session id", [](CommonFields& f, Json::Value&, int64_t&) { f.sessionId.clear(); }, -99},
        {"no uid", [](CommonFields& f, Json::Value&, int64_t&) { f.uid.clear(); }, -98},
        {"pid 1000", [](CommonFields& f, Json::Value&, int64_t&) { f.mainPid = 1000; }, -97},
        {"pid 1001", [](CommonFields& f, Json::Value&, int64_t&) { f.mainPid = 1001; }, 0},
        {"no product version", [](CommonFields& f, Json::Value&, int64_t&) { f.productVersion.clear(); }, -96},
        {"rnclid 123", [](CommonFields& f, Json::Value&, int64_t&) { f.crossEndId = "123"; }, -95},
        {"rnclid 17 digits", [](CommonFields& f, Json::Value&, int64_t&) { f.crossEndId = "12345678901234567"; }, -95},
        {"rnclid 18 digits", [](CommonFields& f, Json::Value&, int64_t&) { f.crossEndId = "123456789012345678"; }, 0},
        {"rnclid 18 not digits", [](CommonFields& f, Json::Value&, int64_t&) { f.crossEndId = "12345678901234567x"; },
         -94},
        {"no category", [](CommonFields&, Json::Value& in, int64_t&) { in["actions"].removeMember("event_category"); },
         -93},
        {"category object", [](CommonFields&, Json::Value& in, int64_t&) { in["actions"]["event_category"] = Json::Value(Json::objectValue); },
         -93},
        {"no action", [](CommonFields&, Json::Value& in, int64_t&) { in["actions"]["event_action"] = ""; }, -92},
        {"ts 12 digits", [](CommonFields&, Json::Value&, int64_t& ts) { ts = 999999999999; }, -91},
        {"ts negative", [](CommonFields&, Json::Value&, int64_t& ts) { ts = -1700000000123; }, -90},
        {"extra pid text", [](CommonFields& f, Json::Value&, int64_t&) { f.extraCommon["pid"] = "5000"; }, -97},
    };
    for (const Case& c : cases) {
        CommonFields f = ValidFields();
        Json::Value in = ValidInput();
        int64_t ts = kTs;
        c.breakIt(f, in, ts);
        EXPECT_EQ(CheckFunnelEvent(BuildFunnelEvent(f, in, ts)), c.code) << c.what;
    }
}

TEST(ReportKeys, FunnelAndGa4Keys) {
    EXPECT_EQ(FunnelKey(BuildFunnelEvent(ValidFields(), ValidInput(), kTs)),
              "2::1700000000123::CoreFuncEvent::FlowError");
    std::string query = "&tid=G-Q3RT8KW2ZN&ep.qv_productname=Downloader&ep.qv_category=Other&ep.qv_action=FlowError"
                        "&ep.qv_label=DL002&en=FlowError";
    EXPECT_EQ(Ga4Key(PercentEncodeQuery(query), kTs), "1::1700000000123::Other::FlowError");
    // Category and action stay encoded; a query without them gives empty parts.
    EXPECT_EQ(Ga4Key(PercentEncodeQuery("&ep.qv_category=Page View&ep.qv_action=a/b"), kTs),
              "1::1700000000123::Page%20View::a%2fb");
    EXPECT_EQ(Ga4Key("&en=x", kTs), "1::1700000000123::::");
    EXPECT_EQ(Ga4Address("https://h:1", "1A2B001122334455", "&tid=x"), "https://h:1/g/collect?v=2&cid=1A2B001122334455&tid=x");
    EXPECT_EQ(Ga4ClientId("1A2B", "00:11:22:AA:BB:CC"), "1A2B001122AABBCC");
}

TEST(ReportKeys, FiledGa4TaskGivesOnlyItsQuery) {
    // Whatever stands in front of the collection path, only what follows it is taken, and only
    // when it is a client id and an encoded query.
    const std::pair<std::string, std::string> cases[] = {
        {"https://h:1/g/collect?v=2&cid=1A2B0011&tid=G&en=x%20y", "1A2B0011&tid=G&en=x%20y"},
        {"http://elsewhere.example:8080/g/collect?v=2&cid=1A&tid=G&en=x", "1A&tid=G&en=x"},
        {"/g/collect?v=2&cid=&tid=G&en=x", "&tid=G&en=x"},
        {"https://h/g/collect?v=2&cid=1&tid=G&en=x#frag", ""},
        {"https://h/g/collect?v=2&cid=1&tid=G&en=x@evil/", ""},
        {"https://h/g/collect?v=2&cid=1&tid=G&en=x\r\nHost: evil", ""},
        {"https://h/g/collect?v=2&cid=1&tid=G&en=x%2", ""},
        {"https://h/g/collect?v=2&cid=1&tid=G&en=x%zz", ""},
        {"https://h/collect?v=2&cid=1&tid=G&en=x", ""},
        {"file:///C:/x.ini", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Ga4FiledQuery(c.first), c.second) << c.first;
    // What the SDK files for a query is always taken whole.
    std::string encoded = PercentEncodeQuery("&tid=G-Q3RT8KW2ZN&ep.qv_category=Page View&en=a/b?c#d");
    EXPECT_EQ(Ga4FiledQuery(Ga4Address("https://h:1", "1A2B001122334455", encoded)), "1A2B001122334455" + encoded);
}

TEST(ReportKeys, PercentEncoding) {
    const std::pair<std::string, std::string> cases[] = {
        {"AZaz09!&'()*-.=_~", "AZaz09!&'()*-.=_~"},
        {"a b", "a%20b"},
        {"/?:#+%,;\"", "%2f%3f%3a%23%2b%25%2c%3b%22"},
        {"\xC3\xA9", "%c3%a9"},  // UTF-8 bytes one by one, lower-case hex
        {std::string("a\0b", 3), "a%00b"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(PercentEncodeQuery(c.first), c.second) << c.first;
}

TEST(ReportKeys, TaskKindAndKeyParts) {
    EXPECT_EQ(TaskKind("{\"source_type\":1,\"cross_end_id\":2}"), 2);
    EXPECT_EQ(TaskKind("https://h/g/collect?v=2&cid=1&tid=G&en=x"), 1);
    EXPECT_EQ(TaskKind("https://h/g/collect?v=2&cid=1&tid=G"), 0);
    EXPECT_EQ(TaskKind("{\"source_type\":1}"), 0);

    KeyParts k = SplitKey("2::1700000000123::Cat::Act");
    EXPECT_EQ(k.prefix, "2::");
    EXPECT_EQ(k.time, "1700000000123");
    EXPECT_EQ(k.rest, "::Cat::Act");
    EXPECT_EQ(KeyTimeMillis("1700000000123"), 1700000000123);
    for (const char* bad : {"", "17000000001x3", "99999999999999999999"}) EXPECT_EQ(KeyTimeMillis(bad), 0) << bad;
}

TEST(ReportIdentity, CrossEndId) {
    const std::pair<const wchar_t*, const char*> names[] = {
        {L"Setup_123.exe", "123"},
        {L"Lumeno_setup_123456789012345678.exe", "123456789012345678"},
        {L"Setup.exe", ""},
        {L"Setup_", ""},
        {L"a.b_c", ""},  // the "_" comes after the last "."
    };
    for (const auto& n : names) EXPECT_EQ(CrossEndIdFromFileName(n.first), n.second);
    EXPECT_EQ(CrossEndIdFromSpText("abc\r\nx_1.\r\nname_4711.dat\r\nname_9.dat\n"), "4711");  // first line > 4 chars
    EXPECT_EQ(CrossEndIdFromSpText("a.b_c\nnothing here\n"), "");
    EXPECT_EQ(CrossEndIdFromSpText(""), "");
}

TEST(ReportIdentity, ProtectedCommonNames) {
    for (const char* name : {"session_id", "UID", "Os", "os_version", "mac", "brand", "model", "cross_end_id", "RNCLID",
                             "source_type"})
        EXPECT_TRUE(IsProtectedCommonName(name)) << name;
    for (const char* name : {"tools_lang", "product_version", "pid", "osx"}) EXPECT_FALSE(IsProtectedCommonName(name)) << name;
}

TEST(ReportLog, LineFormatSeparatorsAndLength) {
    EXPECT_EQ(CSdkLog::FormatLine("Read history: 2/3", 2024, 3, 7, 9, 5, 1, 42, 1234),
              L"20240307-090501-042 [1234] Read history: 2/3");
    EXPECT_EQ(CSdkLog::FormatLine("a\xE2\x80\xA8" "b", 2024, 1, 1, 0, 0, 0, 0, 1), L"20240101-000000-000 [1] a\nb");
    std::wstring longLine = CSdkLog::FormatLine(std::string(3000, 'x'), 2024, 1, 1, 0, 0, 0, 0, 1);
    EXPECT_EQ(longLine.size(), 1023u);  // with its line feed, 1024
}

TEST(ReportClock, MillisecondsSince1970) {
    int64_t ms = LocalClockMillis();
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    int64_t utc = ((int64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - 116444736000000000LL) / 10000;
    EXPECT_LT(std::llabs(ms - utc), 2000);
    EXPECT_EQ(std::to_string(ms).size(), 13u);
}
