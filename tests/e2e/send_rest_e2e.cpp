// The hidden "-sendrestlogs" copy of the real setup.exe: started with a queue file left by an
// earlier run, it delivers every event to the collector and ends by itself; ending the report
// object starts such a copy every time.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>

#include "ReportSDK/CManagement.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/WebLog.h"
#include "support/local_services.h"
#include "support/setup_process.h"
#include "support/test_support.h"

namespace {

// MainPid of the product configuration built into setup.exe.
int SkinMainPid() {
    std::string xml = test_support::ReadFile(test_support::SourcePath("skin/configure/configure.xml"));
    std::smatch m;
    if (!std::regex_search(xml, m, std::regex("name=\"MainPid\" text=\"([0-9]+)\""))) return 0;
    return std::stoi(m[1]);
}

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string Body(const std::string& action) {
    Json::Value body(Json::objectValue);
    body["actions"]["event_category"] = "CoreFuncEvent";
    body["actions"]["event_action"] = action;
    return body.toStyledString();
}

}  // namespace

TEST(SendRestE2E, DeliversTheLeftoversAndEnds) {
    ASSERT_TRUE(LocalServices::Available());
    ASSERT_TRUE(LocalServices::Reset());
    test_support::TempDir dir;
    std::wstring exe = dir.File(L"setup.exe");
    ASSERT_TRUE(CopyFileW(BuiltSetupExe().c_str(), exe.c_str(), FALSE));
    std::string base = LocalServices::BaseUrl(true);
    test_support::WriteText(dir.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\nCollectorUrl=" + base + "\r\nGa4Url=" + base + "\r\n");
    std::wstring appData = dir.File(L"AppData");
    CreateDirectoryW(appData.c_str(), nullptr);
    SetEnvironmentVariableW(L"APPDATA", appData.c_str());  // the copies inherit it
    int mainPid = SkinMainPid();
    ASSERT_GT(mainPid, 1000);

    // What an earlier run left: three funnel events and one GA4 event.
    CManagement earlier(exe, appData);
    earlier.Init(2, mainPid, mainPid, "", "", "Orbala Lumeno", "2.1.0", "");
    earlier.SetCommonParams(486, 0, "en", "1.0.0.1");
    {
        CQueueFile file(earlier.QueueFilePath());
        std::string key, content;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(earlier.WrapEvent(Body("Left" + std::to_string(i)), 1700000000000 + i, key, content), 0);
            ASSERT_TRUE(file.Update(key, content, 0));
        }
        earlier.WrapGa4("&tid=G-Q3RT8KW2ZN&ep.qv_category=Other&ep.qv_action=Close&en=Close", 1700000000009, key, content);
        ASSERT_TRUE(file.Update(key, content, 0));
    }

    SetupProcess copy;
    ASSERT_TRUE(copy.Start(exe, L"-sendrestlogs"));
    ASSERT_TRUE(copy.WaitForExit(60000)) << "the send-rest copy did not end";
    EXPECT_EQ(copy.ExitCode(), 0u);

    std::vector<Json::Value> funnel = LocalServices::Requests("/collector");
    ASSERT_EQ(funnel.size(), 3u);
    std::set<std::string> actions;
    for (const Json::Value& r : funnel) {
        Json::Value event = test_support::ParseJson(r["body"].asString());
        actions.insert(event["actions"]["event_action"].asString());
        const Json::Value& common = event["common"];
        for (const char* name : {"session_id", "uid", "os", "product", "product_version", "source_type", "tools_version",
                                 "tools_lang"})
            EXPECT_FALSE(common[name].asString().empty()) << name;
        EXPECT_EQ(common["pid"].asInt(), mainPid);
        EXPECT_EQ(common["downloader_id"].asInt(), 486);
    }
    EXPECT_EQ(actions, (std::set<std::string>{"Left0", "Left1", "Left2"}));
    EXPECT_EQ(LocalServices::Requests("/g/collect").size(), 1u);
    Json::Value doc = test_support::ParseJson(test_support::ReadFile(earlier.QueueFilePath()));
    EXPECT_EQ(doc["send_item"].size(), 0u);
    std::string log = test_support::ReadFile(earlier.LogPath());
    EXPECT_NE(log.find("] Read history: 4/4\n"), std::string::npos) << log;
    EXPECT_EQ(CountOf(log, "] Send rest logs, wait end\n"), 1) << log;

    // Ending the report object starts a copy each time, also when there is no object any more.
    GetReportObj();
    EXPECT_TRUE(WebLog::EndReportObj(exe));
    EXPECT_TRUE(WebLog::EndReportObj(exe));
    EXPECT_FALSE(WebLog::EndReportObj(dir.File(L"missing.exe")));
    EXPECT_TRUE(WaitUntil([&] { return CountOf(test_support::ReadFile(earlier.LogPath()), "] Send rest logs, wait end\n") == 3; },
                          60000))
        << test_support::ReadFile(earlier.LogPath());
}
