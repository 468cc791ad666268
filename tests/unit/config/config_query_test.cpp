// The download configuration query and its reply: URL forms, the Downloader element of a
// response, every element rule of the parse (TimeoutCfg scanning included), the real query
// against the local services with its events and flow errors, the early thread and the install
// worker's order, and two queries finishing at the same moment.
#include "support/local_services.h"
#include "support/services_environment.h"

#include <gtest/gtest.h>

#include <json/json.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/CConfigure.h"
#include "analytics/CSingleUserLog.h"
#include "config/ConfigurationLoad.h"
#include "base/DownloadSettings.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIMarkup.h"
#include "platform/FuntionImpl.h"
#include "base/TextCodec.h"
#include "support/log_capture.h"
#include "support/recording_report.h"
#include "support/test_support.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServicesEnvironment);

// "127.0.0.1:port" of the local services' HTTPS listener (which also answers plain HTTP).
std::string ServicesHost() {
    std::string base = LocalServices::BaseUrl(true);
    return base.substr(base.find("//") + 2);
}
const char kClosedHost[] = "127.0.0.1:1";  // nothing listens there: connection refused

std::string Reply(const std::string& children) { return "<Downloader>" + children + "</Downloader>"; }

// A record whose reply text is the given one, as the query would have stored it.
void StoreReply(CConfigure& c, const std::string& text) {
    delete[] c.m_replyText;
    c.m_replyText = new char[text.size() + 1];
    memcpy(c.m_replyText, text.c_str(), text.size() + 1);
}

void WriteLocalSettings(const std::string& text) {
    std::ofstream out(FuntionImpl::GetLocalSettingsPath().c_str(), std::ios::binary | std::ios::trunc);
    out << text;
}

// A record wired to the local services and to a recording report object.
class QueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str());
        ASSERT_TRUE(LocalServices::Reset());
        GetDownloadSettings() = DownloadSettings();
        AnalyticsFormat::Identity id;
        id.toolsVersion = "1.0.0.1";
        id.language = "en";
        analytics.reset(new CSingleUserLog(&report, id, nullptr));
        Target(ServicesHost(), "localhost:" + ServicesHost().substr(ServicesHost().find(':') + 1));
    }
    void TearDown() override { DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str()); }
    void Target(const std::string& primary, const std::string& alternate) {
        CConfigure::QueryTargets t;
        t.primaryHost = primary;
        t.alternateHost = alternate;
        t.analytics = analytics.get();
        config.setQueryTargets(t);
    }
    std::string Stored() { return config.m_replyText ? config.m_replyText : ""; }
    // GA4 queries and funnel bodies sent so far.
    std::vector<std::string> Ga4() {
        std::vector<std::string> out;
        for (const auto& c : report.Calls())
            if (c.slot == "ReportGa4") out.push_back(c.text);
        return out;
    }
    std::vector<Json::Value> FunnelActions(const std::string& action) {
        std::vector<Json::Value> out;
        for (const auto& c : report.Calls()) {
            if (c.slot != "ReportEvent") continue;
            Json::Value a = test_support::ParseJson(c.text)["actions"];
            if (a["event_action"].asString() == action) out.push_back(a);
        }
        return out;
    }
    bool Ga4Has(const std::string& text) {
        for (const auto& q : Ga4())
            if (q.find(text) != std::string::npos) return true;
        return false;
    }

    RecordingReport report;
    std::unique_ptr<CSingleUserLog> analytics;
    CConfigure config{486, 1033, 61};
};

}  // namespace

TEST(ConfigQueryUrl, Forms) {
    struct Case {
        bool testEnv;
        float os;
        const char* expected;
    } cases[] = {
        {false, 10.0f, "https://h.example:443/queryDownloaderV2?LanguageId=1033&SoftWareID=486&SiteID=61"},
        {false, 6.3f, "https://h.example:443/queryDownloaderV2?LanguageId=1033&SoftWareID=486&SiteID=61&package_type=5"},
        {false, 0.0f, "https://h.example:443/queryDownloaderV2?LanguageId=1033&SoftWareID=486&SiteID=61&package_type=5"},
        {true, 11.0f, "http://h.example:443/queryDownloaderV2?LanguageId=1033&SoftWareID=486&SiteID=61"},
        {true, 6.1f, "http://h.example:443/queryDownloaderV2?LanguageId=1033&SoftWareID=486&SiteID=61&package_type=5"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CConfigure::BuildQueryUrl("h.example:443", c.testEnv, 1033, 486, 61, c.os), c.expected);
    // A URL that would not fit the request buffer is refused, never cut.
    EXPECT_EQ(CConfigure::BuildQueryUrl(std::string(500, 'h'), false, 1033, 486, 61, 10.0f), "");
}

TEST(ConfigQueryReply, DownloaderElementOfABody) {
    struct Case {
        const char* body;
        const char* element;
    } cases[] = {
        {"<?xml version=\"1.0\"?><Downloader><Md5>ab</Md5></Downloader>", "<Downloader><Md5>ab</Md5></Downloader>"},
        {"junk before <Downloader>x</Downloader> and after </Downloader>", "<Downloader>x</Downloader>"},
        {"<Downloader></Downloader>", "<Downloader></Downloader>"},
        {"<Downloader><Md5>ab</Md5>", ""},     // no closing tag
        {"</Downloader><Downloader>", ""},     // closing tag only before the opening one
        {"<html>404 Not Found</html>", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(CConfigure::ExtractDownloaderElement(c.body), c.element) << c.body;
}

TEST(ConfigQueryReply, TimeoutCfgScanning) {
    struct Case {
        const char* text;
        int connect, transfer;
    } cases[] = {
        {"5,30", 5, 30},
        {"0,0", 3, 20},
        {"-4,0", 3, 20},
        {"5;30", 3, 20},    // no comma: nothing changes
        {"12", 3, 20},      // a lone number
        {"5, a30", 5, 30},  // any run of non-digits between the numbers
        {",5,30", 3, 20},   // the comma must not be first
        {"7,", 3, 20},      // only one number
        {"", 3, 20},
    };
    for (const Case& c : cases) {
        GetDownloadSettings() = DownloadSettings();
        CConfigure config(486, 1033, 61);
        StoreReply(config, Reply(std::string("<TimeoutCfg>") + c.text + "</TimeoutCfg>"));
        LogCapture log;
        ASSERT_EQ(config.readDownloadInfoFromXml(), 1) << c.text;
        EXPECT_EQ(config.m_connectTimeout, c.connect) << c.text;
        EXPECT_EQ(config.m_transferTimeout, c.transfer) << c.text;
        EXPECT_EQ(GetDownloadSettings().ConnectTimeout, c.connect) << c.text;
        EXPECT_EQ(GetDownloadSettings().TransferTimeout, c.transfer) << c.text;
        EXPECT_EQ(log.countExact(std::string(" GetCbsInfo TimeoutCfg is: ") + c.text), 1) << log.dump();
    }
}

TEST(ConfigQueryReply, ElementRules) {
    GetDownloadSettings() = DownloadSettings();
    CConfigure c(486, 1033, 61);
    // Values from the configuration file, some of which the reply leaves alone.
    c.m_md5 = L"file-md5";
    c.m_processName = L"File.exe";
    c.m_bannerUrl = L"https://www.example.com/banner";
    c.m_installTimeout = 600;
    c.m_languageId = 1033;
    c.m_remotePaths = {L"https://www.example.com/earlier.exe"};
    const std::string longName(64, 'N');  // the longest plain name, kept whole
    StoreReply(c, "<Reply>"  // the root's name does not matter
                  "<Downloader_id>487</Downloader_id><Software_id>9</Software_id><Site_id>notanumber</Site_id>"
                  "<Language_id>2052</Language_id><InstallTimeout>5</InstallTimeout><Unknown>x</Unknown>"
                  "<Software_name>" + longName + "</Software_name>"
                  "<Software_version>2.0 \xCE\xB2</Software_version>"
                  "<Process_name>Lumeno.exe\r\n</Process_name>"
                  "<Download_url>https://www.example.com/a\r\n.exe</Download_url>"
                  "<Extra_download_url>https://cdn.example.com/b.exe</Extra_download_url>"
                  "<Banner_url></Banner_url>"
                  "<Filesize>5368709120</Filesize><Downloader_type>2</Downloader_type>"
                  "<Downloader_config>2</Downloader_config><Slice_num>8</Slice_num><Slice_size>1048576</Slice_size>"
                  "<Additional_time>30</Additional_time><Back_running>1</Back_running>"
                  "<Slice_num>6</Slice_num>"  // a repeated name overwrites
                  "</Reply>");
    ASSERT_EQ(c.readDownloadInfoFromXml(), 1);
    EXPECT_EQ(c.m_loadState, 2);
    EXPECT_EQ(c.m_source, 1);
    EXPECT_EQ(c.m_downloaderId, 487);
    EXPECT_EQ(c.m_softwareId, 9);
    EXPECT_EQ(c.m_siteId, 61);           // not a number: unchanged
    EXPECT_EQ(c.m_languageId, 1033);     // never read from the reply
    EXPECT_EQ(c.m_installTimeout, 600);  // never read from the reply
    EXPECT_EQ(c.m_softwareName, std::wstring(64, L'N'));
    EXPECT_EQ(c.m_softwareVersion, L"2.0 \x03B2");  // the reply's text is UTF-8
    EXPECT_EQ(c.m_processName, L"Lumeno.exe");
    EXPECT_EQ(c.m_downloadUrl, L"https://www.example.com/a.exe");
    EXPECT_EQ(c.m_extraDownloadUrl, L"https://cdn.example.com/b.exe");
    EXPECT_EQ(c.m_bannerUrl, L"");   // present but empty
    EXPECT_EQ(c.m_md5, L"file-md5");  // absent: the file's value stays
    EXPECT_EQ(c.m_fileSize, 5368709120LL);
    EXPECT_EQ(c.m_downloaderType, 2);
    EXPECT_EQ(c.m_downloaderConfig, 2);
    EXPECT_EQ(c.m_sliceNum, 6);
    EXPECT_EQ(c.m_sliceSize, 1048576);
    EXPECT_EQ(c.m_additionalTime, 30);
    EXPECT_EQ(c.m_backRunning, 1);
    const DownloadSettings& s = GetDownloadSettings();
    EXPECT_EQ(s.Downloader_config, 2);
    EXPECT_EQ(s.Slice_num, 6);
    EXPECT_EQ(s.Slice_size, 1048576);
    EXPECT_EQ(s.Additional_time, 30);
    EXPECT_EQ(s.Back_running, 1);
    // Appended to what the list held; the content-delivery address is left out.
    EXPECT_EQ(c.m_remotePaths,
              (std::vector<std::wstring>{L"https://www.example.com/earlier.exe", L"https://www.example.com/a.exe"}));
}

TEST(ConfigQueryReply, UnusableRepliesLeaveTheRecordUnloaded) {
    for (const char* text : {"", "<Downloader><Md5>ab</Downloader>", "<!-- only a comment -->"}) {
        CConfigure c(486, 1033, 61);
        c.m_loadState = 2;
        c.m_md5 = L"file-md5";
        StoreReply(c, text);
        EXPECT_EQ(c.readDownloadInfoFromXml(), 0) << text;
        EXPECT_EQ(c.m_loadState, 1) << text;
        EXPECT_EQ(c.m_md5, L"file-md5") << text;
        EXPECT_TRUE(c.m_remotePaths.empty()) << text;
    }
    CConfigure none(486, 1033, 61);  // no reply at all
    none.m_loadState = 2;
    EXPECT_EQ(none.readDownloadInfoFromXml(), 0);
    EXPECT_EQ(none.m_loadState, 1);
}

TEST(ConfigQueryReply, NamesThatAreNoPlainNamesRefuseTheWholeReply) {
    // Each of these values becomes a file, key or command-line name of the elevated setup. One
    // that breaks the rule makes the reply unusable, like one that does not parse: nothing of it
    // is stored (also not the elements before it) and the worker falls back to the skin.
    struct Case {
        const char* element;
        std::string text;
        const char* problem;
    } cases[] = {
        {"Software_version", "1\\..\\..\\..\\users\\Public\\escaped", "a path separator or drive"},
        {"Software_version", "1/../x", "a path separator or drive"},
        {"Software_version", "..", "\"..\""},
        {"Software_version", "1.0\r\n###ffff", "a control character"},
        {"Process_name", "..\\..\\..\\users\\Public\\marker.exe", "a path separator or drive"},
        {"Process_name", "C:\\Windows\\System32\\cmd.exe", "a path separator or drive"},
        {"Process_name", "", "empty"},
        {"Process_name", "\r\n", "empty"},  // line breaks are dropped first, as the Part says
        {"Process_name", "NUL.exe", "a device name"},
        {"Process_name", "Lumeno.exe.", "a trailing dot or blank"},
        {"Software_name", "Orbala\" /DIR=\"C:\\Users\\Public\\x", "a double quote"},
        {"Software_name", "Orbala\\Run", "a path separator or drive"},
        {"Software_name", "", "empty"},
        {"Software_name", std::string(65, 'N'), "longer than 64 characters"},
        {"Software_name", "Orbala\tLumeno", "a control character"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.element) + " = " + k.text);
        GetDownloadSettings() = DownloadSettings();
        CConfigure c(486, 1033, 61);
        c.m_loadState = 2;  // as a record loaded earlier
        c.m_softwareName = L"File name";
        c.m_softwareVersion = L"1.0.0.0";
        c.m_processName = L"File.exe";
        StoreReply(c, Reply("<Slice_num>8</Slice_num><Software_id>9</Software_id>"
                            "<Download_url>https://www.example.com/a.exe</Download_url>"
                            "<" + std::string(k.element) + ">" + k.text + "</" + k.element + ">"
                            "<Md5>0123</Md5>"));
        LogCapture log;
        EXPECT_EQ(c.readDownloadInfoFromXml(), 0);
        EXPECT_EQ(c.m_loadState, 1);
        EXPECT_EQ(log.countExact(std::string(" GetCbsInfo reply refused: ") + k.element + " is no plain name (" +
                                 k.problem + ")"), 1) << log.dump();
        EXPECT_EQ(c.m_softwareName, L"File name");
        EXPECT_EQ(c.m_softwareVersion, L"1.0.0.0");
        EXPECT_EQ(c.m_processName, L"File.exe");
        EXPECT_EQ(c.m_softwareId, 0);
        EXPECT_EQ(c.m_md5, L"");
        EXPECT_TRUE(c.m_remotePaths.empty());
        EXPECT_EQ(GetDownloadSettings().Slice_num, 0);
    }
    // What the rule lets through: an empty version, line breaks the Part drops, blanks inside.
    CConfigure c(486, 1033, 61);
    StoreReply(c, Reply("<Software_version></Software_version><Process_name>Lumeno.exe\r\n</Process_name>"
                        "<Software_name>Orbala Lumeno</Software_name>"));
    EXPECT_EQ(c.readDownloadInfoFromXml(), 1);
    EXPECT_EQ(c.m_softwareVersion, L"");
    EXPECT_EQ(c.m_processName, L"Lumeno.exe");
    EXPECT_EQ(c.m_softwareName, L"Orbala Lumeno");
}

TEST_F(QueryTest, ReplyWithAPathForANameFallsBackToTheSkin) {
    // Through the services' reply and the install worker's order: the reply is refused, the skin's
    // configuration labels are used, as for a reply that cannot be read.
    ASSERT_EQ(LocalServices::Control("POST", "/__control/config",
                                     R"({"Software_version": "1\\..\\..\\..\\users\\Public\\escaped"})"),
              200);
    DuiLib::CMarkup markup;
    ASSERT_TRUE(markup.Load("<VerticalLayout><Label name=\"Software_version\" text=\"1.0.0.0\"/>"
                            "<Label name=\"Process_name\" text=\"Lumeno.exe\"/>"
                            "<Label name=\"Download_url\" text=\"https://www.example.com/skin.exe\"/></VerticalLayout>"));
    DuiLib::CDialogBuilder builder;
    DuiLib::CPaintManagerUI skin;
    skin.AttachRoot(builder.Create(markup));
    LogCapture log;
    ConfigurationLoad::LoadAtInstallTime(config, 0, &skin);
    EXPECT_EQ(LocalServices::Requests("/queryDownloaderV2").size(), 1u);  // the reply came
    EXPECT_TRUE(log.contains(" GetCbsInfo reply refused: Software_version is no plain name (a path separator or drive)"))
        << log.dump();
    EXPECT_EQ(config.m_loadState, 2);
    EXPECT_EQ(config.m_source, 2);
    EXPECT_EQ(config.m_softwareVersion, L"1.0.0.0");
    EXPECT_EQ(config.m_remotePaths, std::vector<std::wstring>{L"https://www.example.com/skin.exe"});
}

TEST_F(QueryTest, QueryStoresTheReplyAndAsksOnlyOnce) {
    LogCapture log;
    ASSERT_EQ(config.getDownloadInfoXml(false, false), 1);
    EXPECT_EQ(Stored().rfind("<Downloader>", 0), 0u) << Stored();
    EXPECT_EQ(Stored().substr(Stored().size() - 13), "</Downloader>");

    auto requests = LocalServices::Requests("/queryDownloaderV2");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"].asString(), "GET");
    float os = 0;
    std::string osName = FuntionImpl::GetOSVersionName(os);
    EXPECT_EQ(requests[0]["query"].asString(),
              std::string("LanguageId=1033&SoftWareID=486&SiteID=61") + (os < 10.0f ? "&package_type=5" : ""));
    EXPECT_EQ(config.getQueryUrl(), "https://" + ServicesHost() + "/queryDownloaderV2?" + requests[0]["query"].asString());

    auto funnel = FunnelActions("Get download configuration");
    ASSERT_EQ(funnel.size(), 1u);
    EXPECT_EQ(funnel[0]["event_category"].asString(), "Download");
    EXPECT_EQ(funnel[0]["Configuration URL"].asString(), ServicesHost());
    EXPECT_EQ(funnel[0]["Download configurationType"].asString(), "Success");
    EXPECT_TRUE(Ga4Has("ep.qv_category=Other&ep.qv_action=AsyncGetCbsTime&ep.qv_label=0&")) << Ga4().size();
    EXPECT_TRUE(log.contains(" GetCbsInfo New interface V2(Asynccom): 0, ")) << log.dump();

    // The reply parses into the record, with the services' values.
    ASSERT_EQ(config.readDownloadInfoFromXml(), 1);
    EXPECT_EQ(config.m_softwareName, L"Orbala Lumeno");
    EXPECT_EQ(config.m_remotePaths.size(), 2u);

    // A stored reply: no request, result 0, the reply unchanged.
    const std::string before = Stored();
    EXPECT_EQ(config.getDownloadInfoXml(true, true), 0);
    EXPECT_EQ(LocalServices::Requests("/queryDownloaderV2").size(), 1u);
    EXPECT_EQ(Stored(), before);
}

TEST_F(QueryTest, OnlyTheElementOfABodyIsStored) {
    ASSERT_TRUE(LocalServices::AddFault(
        R"({"path": "/queryDownloaderV2", "body": "<html>before<Downloader><Md5>abc</Md5></Downloader>after</html>"})"));
    EXPECT_EQ(config.getDownloadInfoXml(true, false), 1);
    EXPECT_EQ(Stored(), "<Downloader><Md5>abc</Md5></Downloader>");
}

TEST_F(QueryTest, IncompleteOrFailedRepliesStoreNothing) {
    struct Case {
        const char* fault;
        const char* logged;
    } cases[] = {
        {R"({"path": "/queryDownloaderV2", "body": "<Downloader><Md5>abc</Md5>"})", "(Synccom): 0, 26, "},
        {R"({"path": "/queryDownloaderV2", "status": 500, "body": "error"})", "(Synccom): 0, 5, "},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(LocalServices::Reset());
        ASSERT_TRUE(LocalServices::AddFault(c.fault));
        LogCapture log;
        EXPECT_EQ(config.getDownloadInfoXml(true, false), 0) << c.fault;
        EXPECT_EQ(config.m_replyText, nullptr) << c.fault;
        EXPECT_TRUE(log.contains(c.logged)) << log.dump();
    }
    EXPECT_TRUE(FunnelActions("Get download configuration").empty());
    EXPECT_TRUE(Ga4Has("ep.qv_action=SyncGetCbsTime&"));
}

TEST_F(QueryTest, AlternateHostAndTestMode) {
    Target(kClosedHost, ServicesHost());
    LogCapture log;
    EXPECT_EQ(config.getDownloadInfoXml(true, false), 0);
    EXPECT_TRUE(log.contains(" GetCbsInfo New interface V2(Synccom): 7, 0, ")) << log.dump();
    EXPECT_EQ(config.getDownloadInfoXml(true, true), 1);
    EXPECT_TRUE(log.contains(" GetCbsInfo New interface V2(Synccn): 0, ")) << log.dump();
    EXPECT_EQ(FunnelActions("Get download configuration").at(0)["Configuration URL"].asString(), ServicesHost());

    // Test mode asks the primary host over plain HTTP, whatever the argument.
    WriteLocalSettings("[Settings]\r\nTestEnv=1\r\n");
    CConfigure test(486, 1033, 61);
    CConfigure::QueryTargets t;
    t.primaryHost = ServicesHost();
    t.alternateHost = kClosedHost;
    t.analytics = analytics.get();
    test.setQueryTargets(t);
    EXPECT_EQ(test.getDownloadInfoXml(false, true), 1);
    EXPECT_EQ(test.getQueryUrl().rfind("http://" + ServicesHost() + "/queryDownloaderV2?", 0), 0u) << test.getQueryUrl();
    EXPECT_TRUE(log.contains(" GetCbsInfo New interface V2(Asynctest): 0, ")) << log.dump();
}

TEST_F(QueryTest, NameResolutionFailureAndTimeOutAreFlowErrors) {
    Target("no-such-host.invalid", "no-such-host.invalid");
    EXPECT_EQ(config.getDownloadInfoXml(true, false), 0);
    EXPECT_TRUE(Ga4Has("ep.qv_category=Other&ep.qv_action=FlowError&ep.qv_label=DL003&"));
    EXPECT_FALSE(Ga4Has("ep.qv_label=DL002&"));

    Target(ServicesHost(), ServicesHost());
    ASSERT_TRUE(LocalServices::AddFault(R"({"path": "/queryDownloaderV2", "delay_ms": 6500})"));
    LogCapture log;
    EXPECT_EQ(config.getDownloadInfoXml(true, false), 0);  // the 5-second limit
    EXPECT_TRUE(Ga4Has("ep.qv_category=Other&ep.qv_action=FlowError&ep.qv_label=DL002&"));
    EXPECT_TRUE(log.contains("(Synccom): 28, 0, ")) << log.dump();
    EXPECT_TRUE(Ga4Has("ep.qv_action=SyncGetCbsTime&ep.qv_label=5&"));
}

TEST_F(QueryTest, TwoQueriesFinishingTogetherStoreOneReply) {
    // Both requests are in flight at once; each thread gets its own reply.
    ASSERT_TRUE(LocalServices::AddFault(
        R"({"path": "/queryDownloaderV2", "times": 1, "delay_ms": 400, "body": "<Downloader><Md5>first</Md5></Downloader>"})"));
    ASSERT_TRUE(LocalServices::AddFault(
        R"({"path": "/queryDownloaderV2", "skip": 1, "delay_ms": 400, "body": "<Downloader><Md5>second</Md5></Downloader>"})"));
    std::atomic<int> results[2] = {{-1}, {-1}};
    std::thread early([&] { results[0] = config.getDownloadInfoXml(false, false); });
    std::thread worker([&] { results[1] = config.getDownloadInfoXml(true, false); });
    early.join();
    worker.join();
    EXPECT_EQ(LocalServices::Requests("/queryDownloaderV2").size(), 2u);
    EXPECT_EQ(results[0] + results[1], 1) << results[0] << " " << results[1];
    const std::string stored = Stored();
    EXPECT_TRUE(stored == "<Downloader><Md5>first</Md5></Downloader>" ||
                stored == "<Downloader><Md5>second</Md5></Downloader>") << stored;
    EXPECT_EQ(FunnelActions("Get download configuration").size(), 1u);
    ASSERT_EQ(config.readDownloadInfoFromXml(), 1);
    EXPECT_EQ(config.m_remotePaths.size(), 0u);
}

TEST_F(QueryTest, EarlyThreadParsesUnlessTheWorkerHasStarted) {
    std::atomic<bool> workerStarted{false};
    EXPECT_EQ(ConfigurationLoad::RunEarlyQuery(config, workerStarted, 0), 0);
    EXPECT_EQ(config.m_loadState, 2);
    EXPECT_EQ(config.m_source, 1);
    bool updated = false;
    for (const auto& c : report.Calls())
        updated |= c.slot == "SetExtraCommon" && test_support::ParseJson(c.text)["product_version"].asString() == "1.0.0.0" &&
                   test_support::ParseJson(c.text)["tools_lang"].asString() == "en";
    EXPECT_TRUE(updated);

    // The worker has begun: the early thread may still store a reply, but leaves the record.
    CConfigure other(486, 1033, 61);
    CConfigure::QueryTargets t;
    t.primaryHost = kClosedHost;
    t.alternateHost = ServicesHost();
    t.analytics = analytics.get();
    other.setQueryTargets(t);
    workerStarted = true;
    LogCapture log;
    EXPECT_EQ(ConfigurationLoad::RunEarlyQuery(other, workerStarted, 0), 0);
    EXPECT_EQ(log.countExact(" GetDownloaderInfo(Async) abandon"), 1) << log.dump();
    EXPECT_EQ(other.m_loadState, 1);
    EXPECT_TRUE(other.m_remotePaths.empty());
    EXPECT_FALSE(log.contains("(Asynccn)")) << "no second request after abandoning";
    EXPECT_EQ(other.readDownloadInfoFromXmlUnless(workerStarted), -1);
    EXPECT_EQ(other.m_loadState, 1);
}

TEST_F(QueryTest, InstallTimeOrder) {
    // Neither host answers: both are tried once, then the skin labels are used.
    Target(kClosedHost, kClosedHost);
    DuiLib::CMarkup markup;
    ASSERT_TRUE(markup.Load("<VerticalLayout><Label name=\"Software_version\" text=\"1.0.0.0\"/>"
                            "<Label name=\"Download_url\" text=\"https://www.example.com/skin.exe\"/>"
                            "<Label name=\"InstallTimeout\" text=\"600\"/></VerticalLayout>"));
    DuiLib::CDialogBuilder builder;
    DuiLib::CPaintManagerUI skin;
    skin.AttachRoot(builder.Create(markup));
    LogCapture log;
    ConfigurationLoad::LoadAtInstallTime(config, 0, &skin);
    EXPECT_TRUE(log.contains("(Synccom): 7")) << log.dump();
    EXPECT_TRUE(log.contains("(Synccn): 7")) << log.dump();
    EXPECT_EQ(config.m_loadState, 2);
    EXPECT_EQ(config.m_source, 2);
    EXPECT_EQ(config.m_remotePaths, std::vector<std::wstring>{L"https://www.example.com/skin.exe"});

    // Once loaded, a later run sends nothing.
    Target(ServicesHost(), ServicesHost());
    ConfigurationLoad::LoadAtInstallTime(config, 0, &skin);
    EXPECT_TRUE(LocalServices::Requests("/queryDownloaderV2").empty());

    // A stored reply (from the early thread) is parsed without a request.
    CConfigure stored(486, 1033, 61);
    stored.setQueryTargets({ServicesHost(), ServicesHost(), analytics.get()});
    StoreReply(stored, Reply("<Download_url>https://www.example.com/server.exe</Download_url>"));
    ConfigurationLoad::LoadAtInstallTime(stored, 0, &skin);
    EXPECT_TRUE(LocalServices::Requests("/queryDownloaderV2").empty());
    EXPECT_EQ(stored.m_source, 1);
    EXPECT_EQ(stored.m_remotePaths, std::vector<std::wstring>{L"https://www.example.com/server.exe"});
}
