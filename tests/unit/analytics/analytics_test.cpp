// The analytics object: what it hands to the report object for each kind of report, in which
// order, with which numbering and retries; and the texts it formats.
#include <gtest/gtest.h>

#include <json/json.h>
#include <windows.h>

#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "analytics/AnalyticsFormat.h"
#include "analytics/CSingleUserLog.h"
#include "platform/FuntionImpl.h"
#include "ReportSDK/IWebLogNew.h"
#include "support/analytics_identity.h"
#include "support/recording_report.h"
#include "support/test_support.h"
#include "base/JsonText.h"

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(JsonText::Parse(text, v)) << text;
    return v;
}

int g_ended = 0;
void CountEnd() { ++g_ended; }

class AnalyticsTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str()); }
    void TearDown() override { DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str()); }
    void Start(CSingleUserLog& log, bool kitFlag = false) {
        log.InitReport(486, 61, "1.0.0.0", "Orbala Lumeno", "http://127.0.0.1/download/OrbalaLumeno_Setup.exe", kitFlag, 3086);
    }
    // The funnel and GA4 calls only (without Init and SetCommonParams).
    std::vector<RecordingReport::Call> Events() {
        std::vector<RecordingReport::Call> events;
        for (const auto& c : report.Calls())
            if (c.slot == "ReportEvent" || c.slot == "ReportGa4") events.push_back(c);
        return events;
    }
    RecordingReport report;
};

}  // namespace

TEST_F(AnalyticsTest, InitReportStartsTheReportObject) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log, true);
    auto calls = report.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].slot + ":" + calls[0].text, "Init:2,3086,Orbala Lumeno,1.0.0.0");
    EXPECT_EQ(calls[1].slot + ":" + calls[1].text, "SetCommonParams:486,1,en,1.0.0.1");
}

TEST_F(AnalyticsTest, FirstFlowErrorSendsFourEventsInOrder) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    EXPECT_EQ(log.AddUserLogEvent("Other", "FlowError", "DL012", false), 0);
    auto events = Events();
    ASSERT_EQ(events.size(), 4u);

    Json::Value error = Parse(events[0].text)["actions"];
    EXPECT_EQ(error["event_type"].asString(), "event");
    EXPECT_EQ(error["event_category"].asString(), "ErrorReporting");
    EXPECT_EQ(error["event_action"].asString(), "Error");
    EXPECT_EQ(error["MainErrorType"].asString(), "DL012");

    Json::Value opening = Parse(events[1].text)["actions"];
    EXPECT_EQ(opening["event_type"].asString(), "CoreFuncEvent");
    EXPECT_EQ(opening["core_func_name"].asString(), "FlowError");
    EXPECT_EQ(opening["func_step"].asInt(), 0);
    EXPECT_EQ(opening["event_category"].asString(), "Download");
    EXPECT_EQ(opening["event_action"].asString(), "CoreFuncStart");
    EXPECT_EQ(opening["event_label"].asString(), "null");

    Json::Value step = Parse(events[2].text)["actions"];
    EXPECT_EQ(step["func_step"].asInt(), 1);
    EXPECT_EQ(step["event_action"].asString(), "DL012");

    EXPECT_EQ(events[3].slot, "ReportGa4");
    EXPECT_NE(events[3].text.find("&ep.qv_category=Other&ep.qv_action=FlowError&ep.qv_label=DL012&en=FlowError&"),
              std::string::npos) << events[3].text;

    // The second flow error: the error report, step 2 and its GA4 event only.
    log.AddUserLogEvent("Other", "FlowError", "DL010", false);
    events = Events();
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(Parse(events[4].text)["actions"]["MainErrorType"].asString(), "DL010");
    EXPECT_EQ(Parse(events[5].text)["actions"]["func_step"].asInt(), 2);
    EXPECT_EQ(Parse(events[5].text)["actions"]["event_action"].asString(), "DL010");
    EXPECT_EQ(events[6].slot, "ReportGa4");
}

TEST_F(AnalyticsTest, CloseEndsOnlyStartedFunnels) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    log.AddUserLogEvent("CrashRate", "Close", "", false);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].slot, "ReportGa4");

    log.AddUserLogEvent("Other", "FlowError", "DL011", false);
    log.AddUserLogEvent("CrashRate", "Close", "", false);
    auto events = Events();
    ASSERT_EQ(events.size(), 1u + 4u + 2u);
    Json::Value end = Parse(events[5].text)["actions"];
    EXPECT_EQ(end["event_action"].asString(), "CoreFuncEnd");
    EXPECT_EQ(end["func_step"].asInt(), 0);
    EXPECT_EQ(end["core_func_name"].asString(), "FlowError");

    // The funnel stays started: the next flow error continues the numbering.
    log.AddUserLogEvent("Other", "FlowError", "DL016", false);
    events = Events();
    EXPECT_EQ(Parse(events[events.size() - 2].text)["actions"]["func_step"].asInt(), 2);
}

TEST_F(AnalyticsTest, CategoryComparisonIsExact) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    log.AddUserLogEvent("other", "FlowError", "DL012", false);
    auto events = Events();
    // No error report; the funnel step still follows the action.
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(Parse(events[0].text)["actions"]["event_action"].asString(), "CoreFuncStart");
}

TEST_F(AnalyticsTest, ToolKitFunnelAndKitFlag) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log, true);
    log.AddUserLogEvent("Other", "FlowErrorIsChToolKitErrorCode", "T1", false);
    auto events = Events();
    ASSERT_EQ(events.size(), 3u);
    Json::Value opening = Parse(events[0].text);
    EXPECT_EQ(opening["actions"]["core_func_name"].asString(), "FlowIsChToolKitError");
    EXPECT_EQ(opening["kit_type"].asInt(), 2);
    EXPECT_EQ(Parse(events[1].text)["actions"]["func_step"].asInt(), 1);
    EXPECT_NE(events[2].text.find("&ep.cd8=0"), std::string::npos);

    log.AddUserLog_funnelExPair("Download", "Start", "k", "v", false, false);
    EXPECT_EQ(Parse(Events().back().text)["kit_type"].asInt(), 1);

    RecordingReport plain;
    CSingleUserLog noKit(&plain, TestIdentity(), nullptr);
    noKit.InitReport(486, 61, "1", "P", "", false, 1);
    noKit.AddUserLog_funnelExPair("Download", "Start", "k", "v", false, false);
    noKit.AddUserLogEvent("Download", "Start", "", false);
    auto calls = plain.Calls();
    EXPECT_EQ(Parse(calls[2].text)["kit_type"].asInt(), 0);
    EXPECT_NE(calls[3].text.find("&ep.cd8=1"), std::string::npos);
}

TEST_F(AnalyticsTest, FunnelBodyForms) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    // From a worker thread, bWait reaches the report object as it is.
    std::thread([&log] { log.AddUserLog_funnel("", "", 5, "Cat", "Act", "Lab", true, false); }).join();
    Json::Value body = Parse(Events().back().text);
    EXPECT_TRUE(Events().back().bWait);
    EXPECT_EQ(body["actions"]["event_type"].asString(), "event");
    EXPECT_FALSE(body["actions"].isMember("core_func_name"));
    EXPECT_FALSE(body["actions"].isMember("func_step"));
    for (const char* member : {"is_new", "brand", "model", "product", "product_version", "email", "phone", "cross_end_id",
                               "rnclid", "source_type", "tools_version", "tools_lang", "kit_type", "actions", "pid"})
        EXPECT_TRUE(body.isMember(member)) << member;
    EXPECT_EQ(body["brand"].asString(), "PC");
    EXPECT_EQ(body["cross_end_id"].asString(), "42");
    EXPECT_EQ(body["rnclid"].asString(), "42");
    EXPECT_EQ(body["source_type"].asString(), "downloader");
    EXPECT_EQ(body["pid"].asInt(), 3086);
    EXPECT_EQ(body.size(), 15u);
    // Styled form: one member a line, tab indentation, a final line feed.
    const std::string& text = Events().back().text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("\n\t\"brand\" : \"PC\",\n"), std::string::npos) << text;

    log.AddUserLog_funnelEx("Cat", "Act", {{"", "dropped"}, {"event_action", "Replaced"}, {"Extra", "x"}}, false, false);
    Json::Value actions = Parse(Events().back().text)["actions"];
    EXPECT_EQ(actions["event_action"].asString(), "Replaced");
    EXPECT_EQ(actions["Extra"].asString(), "x");
    EXPECT_EQ(actions.size(), 4u);
}

TEST_F(AnalyticsTest, OneOfferWhateverTheResult) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    // After each result the event is either filed (-2, -4: offered again it would be filed and
    // sent once more under a new key) or would only be refused again (-1, -3, the checks).
    const int32_t results[] = {kReportDeliveryFailed, kReportNotFiled, kReportFlood, kReportUnknownKind,
                               kReportShortRnclid, kReportNoSessionId};
    for (int32_t result : results) {
        size_t before = Events().size();
        report.Script({result, 0, 0});
        std::thread([&] { EXPECT_EQ(log.AddUserLogEvent("Download", "Start", "", true), result); }).join();
        EXPECT_EQ(Events().size(), before + 1) << result;
        report.Script({result, 0, 0});
        EXPECT_EQ(log.AddUserLog_funnelExPair("Download", "Start", "k", "v", false, false), result);
        EXPECT_EQ(Events().size(), before + 2) << result;
    }
}

TEST_F(AnalyticsTest, TheWindowThreadNeverWaitsForADelivery) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);  // the thread of InitReport runs the window
    log.AddUserLogEvent("Other", "FlowError", "DL012", true);
    auto events = Events();
    ASSERT_EQ(events.size(), 4u);
    for (const auto& e : events) EXPECT_FALSE(e.bWait) << e.slot << ": queued, not waited for";
    std::thread([&log] { log.AddUserLogEvent("Other", "FlowError", "DL012", true); }).join();
    events = Events();
    ASSERT_EQ(events.size(), 7u);
    for (size_t i = 4; i < events.size(); ++i) EXPECT_TRUE(events[i].bWait) << events[i].slot << ": a worker waits";
}

TEST_F(AnalyticsTest, TooLongEventHasItsOwnResult) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    EXPECT_EQ(log.AddUserLogEvent("Download", "Start", std::string(4000, 'x'), false), CSingleUserLog::kEventTooLong);
    EXPECT_TRUE(Events().empty());
    EXPECT_NE(CSingleUserLog::kEventTooLong, CSingleUserLog::kNoReportObject);
}

TEST_F(AnalyticsTest, NoReportObjectOrAutoRunSendsNothing) {
    CSingleUserLog none(nullptr, TestIdentity(), nullptr);
    EXPECT_EQ(none.AddUserLogEvent("Other", "FlowError", "DL012", false), -1);
    EXPECT_EQ(none.AddUserLog_funnelExPair("a", "b", "c", "d", false, false), -1);

    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    {
        std::ofstream cfg(FuntionImpl::GetLocalSettingsPath().c_str());
        cfg << "[Settings]\nAutoRun=1\n";
    }
    EXPECT_EQ(log.AddUserLogEvent("Other", "FlowError", "DL012", false), -99);
    EXPECT_EQ(log.AddUserLog_funnel("e", "c", 1, "a", "b", "l", false, false), -99);
    EXPECT_EQ(log.AddUserLog_funnelExPair("a", "b", "c", "d", false, false), -99);
    EXPECT_TRUE(Events().empty());
}

TEST_F(AnalyticsTest, SimultaneousFlowErrorsNeitherSkipNorRepeatSteps) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    Start(log);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log] {
            for (int i = 0; i < 25; ++i) log.AddUserLogEvent("Other", "FlowError", "DL017", false);
        });
    for (auto& t : threads) t.join();
    std::multiset<int> steps;
    int openings = 0;
    for (const auto& e : Events()) {
        if (e.slot != "ReportEvent") continue;
        Json::Value actions = Parse(e.text)["actions"];
        if (!actions.isMember("func_step")) continue;
        if (actions["event_action"].asString() == "CoreFuncStart") ++openings;
        else steps.insert(actions["func_step"].asInt());
    }
    EXPECT_EQ(openings, 1);
    ASSERT_EQ(steps.size(), 100u);
    int expected = 1;
    for (int s : steps) EXPECT_EQ(s, expected++);
}

TEST_F(AnalyticsTest, NoLogFolderNoDayMarker) {
    EXPECT_EQ(CSingleUserLog::DayMarkerPathIn(L""), L"") << "not \\galog.json, the root of the current drive";
    EXPECT_EQ(CSingleUserLog::DayMarkerPathIn(L"C:\\a\\logs\\Setup"), L"C:\\a\\logs\\Setup\\galog.json");

    // A run without a log folder (no base name) leaves the current drive's root alone and
    // counts as the first start of the day.
    test_support::TempDir dir;
    wchar_t old[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, old);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    std::wstring rootMarker = dir.path().substr(0, 3) + L"galog.json";
    bool existed = GetFileAttributesW(rootMarker.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::string before = test_support::ReadFile(rootMarker);
    {
        CSingleUserLog log(&report, TestIdentity(), nullptr);
        Start(log);
        log.AddUserLog_funnelExPair("Download", "Start", "k", "v", false, false);
        EXPECT_EQ(Parse(Events().back().text)["is_new"].asInt(), 1);
    }
    SetCurrentDirectoryW(old);
    EXPECT_EQ(GetFileAttributesW(rootMarker.c_str()) != INVALID_FILE_ATTRIBUTES, existed);
    EXPECT_EQ(test_support::ReadFile(rootMarker), before);
}

TEST(AnalyticsLogFiles, OldProgramLogsOfTheInstaller) {
    const std::vector<std::wstring> names = {
        L"Lumeno_20240103120000000.log", L"Lumeno_20240101120000000.log", L"Lumeno_20240102120000000.log",
        L"Lumeno_Setup_20240101120000.log",    // the product installer's own log
        L"Lumeno_20240101120000000.log.dmp",   // a crash dump
        L"Other_20240101120000000.log",        // another installer's
        L"Lumeno_2024010112000000x.log", L"galog.json",
    };
    EXPECT_EQ(CSingleUserLog::OldProgramLogs(names, L"Lumeno", 2), std::vector<std::wstring>{L"Lumeno_20240101120000000.log"});
    EXPECT_EQ(CSingleUserLog::OldProgramLogs(names, L"Lumeno", 0),
              (std::vector<std::wstring>{L"Lumeno_20240101120000000.log", L"Lumeno_20240102120000000.log",
                                         L"Lumeno_20240103120000000.log"}));
    EXPECT_TRUE(CSingleUserLog::OldProgramLogs(names, L"Lumeno", 3).empty());
}

TEST_F(AnalyticsTest, EndedReportObjectIsNeverReachedAgain) {
    CSingleUserLog log(&report, TestIdentity(), &CountEnd);
    Start(log);
    g_ended = 0;
    log.EndReportObject();
    EXPECT_EQ(g_ended, 1);
    size_t before = report.Calls().size();
    EXPECT_EQ(log.AddUserLogEvent("Other", "FlowError", "DL012", false), -1);
    log.UpdateCommon(0, "1.0");
    EXPECT_EQ(report.Calls().size(), before);
}

TEST_F(AnalyticsTest, UpdateCommonPassesLanguageCodeAndVersion) {
    CSingleUserLog log(&report, TestIdentity(), nullptr);
    log.UpdateCommon(2, "3.1.0");
    auto calls = report.Calls();
    ASSERT_EQ(calls.size(), 1u);
    Json::Value extra = Parse(calls[0].text);
    EXPECT_EQ(extra["tools_lang"].asString(), "zh-cn");
    EXPECT_EQ(extra["product_version"].asString(), "3.1.0");
    log.UpdateCommon(99, "");
    EXPECT_EQ(Parse(report.Calls()[1].text)["tools_lang"].asString(), "en");
}

TEST_F(AnalyticsTest, ContentLengths) {
    CSingleUserLog log(nullptr, TestIdentity(), nullptr);
    log.SetContentLength("http://a/p.exe", 5368709120LL);
    log.SetContentLength("http://a/zero.exe", 0);
    log.SetContentLength("", 10);
    EXPECT_EQ(log.GetContentLength("http://a/p.exe"), 5368709120LL);
    EXPECT_EQ(log.GetContentLength("http://a/zero.exe"), 0);
    EXPECT_EQ(log.GetContentLength("http://a/never.exe"), 0);
    EXPECT_EQ(log.GetContentLength(""), 0);
    log.SetContentLength("http://a/p.exe", 7);
    EXPECT_EQ(log.GetContentLength("http://a/p.exe"), 7);
}

TEST(AnalyticsFormat, DerivedIdentityValues) {
    const std::pair<const wchar_t*, const char*> crossEnd[] = {
        {L"C:\\dl\\Setup_42.exe", "42"}, {L"C:\\dl\\Setup.exe", ""}, {L"C:\\my_dir\\Setup.exe", ""},
        {L"C:\\dl\\A_b_77.x.exe", "77.x"}, {L"Setup_9", ""}, {L"", ""},
    };
    for (const auto& c : crossEnd) EXPECT_EQ(AnalyticsFormat::CrossEndIdFromPath(c.first), c.second);

    std::string language, country;
    AnalyticsFormat::SplitLanguageName("en_US", language, country);
    EXPECT_EQ(language + "|" + country, "en|US");
    AnalyticsFormat::SplitLanguageName("zh_Hans_CN", language, country);
    EXPECT_EQ(language + "|" + country, "zh|Hans_CN");
    AnalyticsFormat::SplitLanguageName("English", language, country);
    EXPECT_EQ(language + "|" + country, "Unknown|Unknown");

    EXPECT_EQ(AnalyticsFormat::SystemText("Windows 7", false), "Windows 7 32bit");
}

TEST(AnalyticsFormat, DurationBuckets) {
    const std::pair<int64_t, const char*> cases[] = {{7, "[6~9]s"}, {2, "[0~3]s"}, {0, "[0~3]s"}, {9, "[9~12]s"}, {3000000000LL, "[3000000000~3000000003]s"}};
    for (const auto& c : cases) EXPECT_EQ(DurationBucketText(c.first, "s"), c.second);
}

TEST(AnalyticsFormat, Ga4QueryTextAndLimit) {
    AnalyticsFormat::Ga4Fields f{"SEO", "Organic", "Orbala Lumeno", false};
    AnalyticsFormat::Identity id = TestIdentity();
    id.language = "Unknown";
    id.country = "Unknown";
    EXPECT_EQ(AnalyticsFormat::Ga4Query(id, f, "Download", "Start", "L"),
              "&tid=G-Q3RT8KW2ZN&ep.qv_productname=Downloader&ep.qv_productversion=1.0.0.1&ep.qv_category=Download"
              "&ep.qv_action=Start&ep.qv_label=L&en=Start&ep.cd1=1.0.0.1&ep.cd2=SEO&ep.cd3=Organic"
              "&ep.cd4=Orbala Lumeno&ep.cd5=Unknown&ep.cd6=Unknown&ep.cd7=Windows 10 64bit&ep.cd8=1");
    EXPECT_EQ(AnalyticsFormat::Ga4Query(id, f, "Download", "Start", std::string(4000, 'x')), "");
}

TEST(AnalyticsFormat, DayMarker) {
    std::string text;
    EXPECT_TRUE(AnalyticsFormat::DayMarkerUpdate("", false, 2026, 12, 10, text));
    Json::Value v = Parse(text);
    EXPECT_EQ(v["year"].asInt(), 2026);
    EXPECT_EQ(v["month"].asInt(), 12);
    EXPECT_EQ(v["day"].asInt(), 10);
    EXPECT_NE(text.find("\n   \"day\" : 10"), std::string::npos) << "three-space styled form: " << text;

    std::string withVersion = AnalyticsFormat::DayMarkerWithVersion(text, true, "1.0.0.1");
    EXPECT_EQ(Parse(withVersion)["version"].asString(), "1.0.0.1");
    EXPECT_EQ(AnalyticsFormat::DayMarkerWithVersion(withVersion, true, "1.0.0.1"), "") << "same version: no write";

    std::string again;
    EXPECT_FALSE(AnalyticsFormat::DayMarkerUpdate(withVersion, true, 2026, 12, 10, again)) << "same day";
    EXPECT_EQ(again, "");
    EXPECT_TRUE(AnalyticsFormat::DayMarkerUpdate(withVersion, true, 2026, 12, 11, again)) << "after midnight";
    EXPECT_EQ(Parse(again)["version"].asString(), "1.0.0.1") << "other members survive";
    EXPECT_TRUE(AnalyticsFormat::DayMarkerUpdate("{not json", true, 2026, 12, 10, again));
    EXPECT_EQ(Parse(again)["day"].asInt(), 10);
    EXPECT_EQ(Parse(AnalyticsFormat::DayMarkerWithVersion("", false, "2.0"))["version"].asString(), "2.0");
}
