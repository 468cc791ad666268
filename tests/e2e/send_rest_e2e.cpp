// The hidden "-sendrestlogs" copy of the real setup.exe: started with a queue file left by an
// earlier run, it delivers every event to the collector and ends by itself; ending the report
// object starts such a copy every time; two copies at once send no event twice.
//
// The copies reach the services of this test through ORBALA_REPORT_ENDPOINT, which a setup.exe
// built for the local deployment honours (nothing written beside the executable can move the
// endpoints).
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <regex>

#include "ReportSDK/CManagement.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/ReportFormat.h"
#include "ReportSDK/WebLog.h"
#include "platform/ProtectedSelfCopy.h"
#include "platform/RunFolders.h"
#include "base/TextCodec.h"
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

// A copy of setup.exe in a test folder, with its test switch on, the application data in the
// folder and the endpoints at this test's services (the copies inherit the environment).
struct SetupFolder {
    SetupFolder() {
        exe = dir.File(L"setup.exe");
        ok = CopyFileW(BuiltSetupExe().c_str(), exe.c_str(), FALSE) != FALSE;
        test_support::WriteText(dir.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\n");
        appData = dir.File(L"AppData");
        CreateDirectoryW(appData.c_str(), nullptr);
        SetEnvironmentVariableW(L"APPDATA", appData.c_str());
        SetEnvironmentVariableW(L"ORBALA_REPORT_ENDPOINT", TextCodec::Utf8ToWide(LocalServices::BaseUrl(true)).c_str());
    }
    ~SetupFolder() { SetEnvironmentVariableW(L"ORBALA_REPORT_ENDPOINT", nullptr); }
    test_support::TempDir dir;
    std::wstring exe, appData;
    bool ok = false;
};

}  // namespace

TEST(SendRestE2E, DeliversTheLeftoversAndEnds) {
    ASSERT_TRUE(LocalServices::Available());
    ASSERT_TRUE(LocalServices::Reset());
    SetupFolder folder;
    ASSERT_TRUE(folder.ok);
    const std::wstring& exe = folder.exe;
    const std::wstring& appData = folder.appData;
    int mainPid = SkinMainPid();
    ASSERT_GT(mainPid, 1000);

    // What an earlier run left a minute ago: three funnel events and one GA4 event.
    const int64_t t0 = ReportFormat::LocalClockMillis() - 60000;
    CManagement earlier(exe, appData);
    earlier.Init(2, mainPid, mainPid, "", "", "Orbala Lumeno", "2.1.0", "");
    earlier.SetCommonParams(486, 0, "en", "1.0.0.1");
    {
        CQueueFile file(earlier.QueueFilePath());
        std::string key, content;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(earlier.WrapEvent(Body("Left" + std::to_string(i)), t0 + i, key, content), 0);
            ASSERT_TRUE(file.Update(key, content, 0));
        }
        earlier.WrapGa4("&tid=G-Q3RT8KW2ZN&ep.qv_category=Other&ep.qv_action=Close&en=Close", t0 + 9, key, content);
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
    EXPECT_NE(log.find("] Read history: 4/4\r\n"), std::string::npos) << log;
    EXPECT_EQ(CountOf(log, "] Send rest logs, wait end\r\n"), 1) << log;

    // Ending the report object starts the protected copy each time, also when there is no object
    // any more; without a protected copy it starts nothing.
    ProtectedSelfCopy::Copy selfCopy;
    ASSERT_TRUE(selfCopy.HoldSource(exe));
    std::vector<std::string> notes;
    const std::wstring work = folder.dir.File(L"work");
    CreateDirectoryW(work.c_str(), nullptr);
    ASSERT_TRUE(selfCopy.Make(work, RunFolders::WindowsFolderSystem(), true, notes)) << notes.back();
    GetReportObj();
    EXPECT_TRUE(WebLog::EndReportObj(selfCopy));
    EXPECT_TRUE(WebLog::EndReportObj(selfCopy));
    ProtectedSelfCopy::Copy none;
    EXPECT_FALSE(WebLog::EndReportObj(none));
    EXPECT_TRUE(WaitUntil([&] { return CountOf(test_support::ReadFile(earlier.LogPath()), "] Send rest logs, wait end\r\n") == 3; },
                          60000))
        << test_support::ReadFile(earlier.LogPath());
}

TEST(SendRestE2E, TwoCopiesAtOnceSendEachEventOnce) {
    ASSERT_TRUE(LocalServices::Available());
    ASSERT_TRUE(LocalServices::Reset());
    SetupFolder folder;
    ASSERT_TRUE(folder.ok);
    int mainPid = SkinMainPid();
    ASSERT_GT(mainPid, 1000);
    const int64_t t0 = ReportFormat::LocalClockMillis() - 60000;
    CManagement earlier(folder.exe, folder.appData);
    earlier.Init(2, mainPid, mainPid, "", "", "Orbala Lumeno", "2.1.0", "");
    {
        CQueueFile file(earlier.QueueFilePath());
        std::string key, content;
        for (int i = 0; i < 10; ++i) {
            ASSERT_EQ(earlier.WrapEvent(Body("Twice" + std::to_string(i)), t0 + i, key, content), 0);
            ASSERT_TRUE(file.Update(key, content, 0));
        }
    }
    // Slow answers keep the first copy busy while the second starts.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","delay_ms":200})"));
    SetupProcess first, second;
    ASSERT_TRUE(first.Start(folder.exe, L"-sendrestlogs"));
    ASSERT_TRUE(second.Start(folder.exe, L"-sendrestlogs"));
    ASSERT_TRUE(first.WaitForExit(90000));
    ASSERT_TRUE(second.WaitForExit(90000));
    std::map<std::string, int> arrivals;
    for (const Json::Value& r : LocalServices::Requests("/collector"))
        ++arrivals[test_support::ParseJson(r["body"].asString())["actions"]["event_action"].asString()];
    EXPECT_EQ(arrivals.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(arrivals["Twice" + std::to_string(i)], 1) << i;
    CQueueFile file(earlier.QueueFilePath());
    std::vector<CQueueFile::Entry> entries;
    ASSERT_TRUE(file.ReadEntries(entries));
    EXPECT_TRUE(entries.empty());
}
