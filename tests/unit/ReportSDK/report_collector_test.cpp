// The report SDK against the local services' collector and GA4 path: what is sent, what counts
// as delivered, retries, the queue file across outages and restarts, and the send-rest wait.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "ReportSDK/CManagement.h"
#include "ReportSDK/CNetworkCommunicate.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/CReportTransport.h"
#include "ReportSDK/ReportFormat.h"
#include "ReportSDK/WebLog.h"
#include "support/local_services.h"
#include "support/test_support.h"

using test_support::TempDir;

namespace {

std::string Body(const std::string& category, const std::string& action) {
    Json::Value body(Json::objectValue);
    body["is_new"] = 1;
    body["actions"]["event_category"] = category;
    body["actions"]["event_action"] = action;
    body["actions"]["event_label"] = "label";
    return body.toStyledString();
}

const char kGa4Query[] = "&tid=G-Q3RT8KW2ZN&ep.qv_productname=Downloader&ep.qv_category=Other"
                         "&ep.qv_action=FlowError&ep.qv_label=DL002&en=FlowError&ep.cd7=Windows 10 64bit";

// Requests of a path that the services answered without an injected fault.
std::vector<Json::Value> Clean(const std::string& path) {
    std::vector<Json::Value> out;
    for (const Json::Value& r : LocalServices::Requests(path))
        if (!r.isMember("faults")) out.push_back(r);
    return out;
}

// How often each funnel event (by its action) reached the collector, a status fault aside: a
// request the services answered late still reached them.
std::map<std::string, int> FunnelArrivals() {
    std::map<std::string, int> count;
    for (const Json::Value& r : LocalServices::Requests("/collector")) {
        bool refused = false;
        for (const Json::Value& f : r["faults"]) refused = refused || f.asString() == "status";
        if (!refused) ++count[test_support::ParseJson(r["body"].asString())["actions"]["event_action"].asString()];
    }
    return count;
}

// A started SDK in a temporary folder, its test switch on and both endpoints pointed at the
// local services; short pauses keep the retries quick.
class ReportCollector : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        CreateDirectoryW(appData.c_str(), nullptr);
        test_support::WriteText(dir.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\n");
    }
    // A management object of this folder, pointed at the services (one per process).
    std::unique_ptr<CManagement> Management() {
        std::unique_ptr<CManagement> made(new CManagement(exe, appData));
        made->SetTestEndpoints(LocalServices::BaseUrl(true), LocalServices::BaseUrl(true));
        return made;
    }
    void Start() {
        m = Management();
        n.reset(new CNetworkCommunicate(*m, timing));
        WebLog::Start(*m, *n, 2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
        m->SetCommonParams(486, 0, "en", "1.0.0.1");
    }
    std::string Log() { return test_support::ReadFile(m->LogPath()); }
    // The "-sendrestlogs" copy of this folder, in this process: takes the queue over, delivers
    // it, lets it go. True when everything was delivered; ADD_FAILURE with its log otherwise.
    bool RunCopy(DWORD takeOverMs = 5000) {
        std::unique_ptr<CManagement> copyM = Management();
        CNetworkCommunicate copyN(*copyM, timing);
        WebLog::Start(*copyM, copyN, 2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
        CNetworkCommunicate::SendRestLimits limits;
        limits.pollMs = 50;
        limits.takeOverMs = takeOverMs;
        bool delivered = WebLog::SendRest(*copyM, copyN, limits);
        if (!delivered) ADD_FAILURE() << test_support::ReadFile(copyM->LogPath());
        return delivered;
    }
    // What is filed: the queue file with its journal applied.
    std::vector<std::string> FiledKeys() {
        std::vector<std::string> keys;
        CQueueFile file(m ? m->QueueFilePath() : Management()->QueueFilePathFor(3086));
        std::vector<CQueueFile::Entry> entries;
        EXPECT_TRUE(file.ReadEntries(entries));
        for (const CQueueFile::Entry& e : entries) keys.push_back(e.key);
        return keys;
    }

    TempDir dir;
    std::wstring exe = dir.File(L"Setup.exe");
    std::wstring appData = dir.File(L"AppData");
    CNetworkCommunicate::Timing timing{3, 50, 20};
    std::unique_ptr<CManagement> m;
    std::unique_ptr<CNetworkCommunicate> n;
};

}  // namespace

TEST_F(ReportCollector, FunnelEventIsPostedWholeWithItsHeaders) {
    Start();
    ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("CoreFuncEvent", "FlowError"), true), 0);
    std::vector<Json::Value> requests = Clean("/collector");
    ASSERT_EQ(requests.size(), 1u);
    const Json::Value& r = requests[0];
    EXPECT_EQ(r["method"].asString(), "POST");
    EXPECT_EQ(r["headers"]["User-Agent"].asString(), "PostmanRuntime/7.29.2");
    EXPECT_EQ(r["headers"]["Accept"].asString(), "*/*");
    // (The services drop Accept-Encoding before they record a request.)
    EXPECT_EQ(r["headers"]["Content-Type"].asString(), "application/json; charset=utf-8");
    Json::Value event = test_support::ParseJson(r["body"].asString());
    ReportFormat::CommonFields fields = m->Fields();
    EXPECT_EQ(event["common"]["session_id"].asString(), fields.sessionId);
    EXPECT_EQ(event["common"]["uid"].asString(), fields.uid);
    EXPECT_EQ(event["common"]["pid"].asInt(), 3086);
    EXPECT_EQ(event["common"]["downloader_id"].asInt(), 486);
    EXPECT_EQ(event["common"]["product_version"].asString(), "2.1.0");
    EXPECT_EQ(event["common"]["is_new"].asInt(), 1);
    EXPECT_EQ(event["actions"]["event_label"].asString(), "label");
    EXPECT_EQ(std::to_string(event["ts"].asInt64()).size(), 13u);
    // Written in jsoncpp's styled form: tab indentation and a final line feed.
    EXPECT_EQ(r["body"].asString().compare(0, 3, "{\n\t"), 0);
    EXPECT_EQ(r["body"].asString().back(), '\n');
    EXPECT_TRUE(FiledKeys().empty());
    EXPECT_EQ(Log().find("PostDataError"), std::string::npos);

    // The body's length is given to the library, so a zero byte does not cut it short.
    CReportTransport transport(m->ExeFolder(), &m->Log());
    EXPECT_EQ(transport.PostDataError(m->CollectorAddress(), std::string("a\0b", 3)), 200);
    EXPECT_EQ(LocalServices::Requests("/collector").back()["body_size"].asInt(), 3);
}

TEST_F(ReportCollector, Status201IsLoggedAndTriedAgain) {
    Start();
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","status":201,"times":1})"));
    EXPECT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "Act"), true), 0);
    EXPECT_EQ(LocalServices::Requests("/collector").size(), 2u);
    EXPECT_NE(Log().find("] PostDataError: 0, No error, 201\r\n"), std::string::npos) << Log();
    EXPECT_TRUE(FiledKeys().empty());
}

TEST_F(ReportCollector, Ga4WantsStatus204) {
    Start();
    ASSERT_EQ(WebLog::ReportGa4With(*m, *n, kGa4Query, true), 0);
    std::vector<Json::Value> requests = Clean("/g/collect");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"].asString(), "POST");
    EXPECT_EQ(requests[0]["body_size"].asInt(), 0);
    std::string query = requests[0]["query"].asString();
    std::string cid = ReportFormat::Ga4ClientId(m->VolumeSerialHex(), m->Fields().mac);
    EXPECT_EQ(query.compare(0, 11 + cid.size(), "v=2&cid=" + cid + "&ti"), 0) << query;
    EXPECT_NE(query.find("&ep.cd7=Windows%2010%2064bit"), std::string::npos) << query;
    EXPECT_EQ(Log().find("PostDataError"), std::string::npos);

    // A 200 from the GA4 path is no delivery: three attempts, -2, and the sending thread takes
    // the event over (it is still filed).
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/g/collect","status":200,"times":3})"));
    EXPECT_EQ(WebLog::ReportGa4With(*m, *n, std::string(kGa4Query) + "&ep.x=1", true), -2);
    EXPECT_EQ(FiledKeys().size(), 1u);
    EXPECT_TRUE(test_support::WaitUntil([&] { return n->Idle() && FiledKeys().empty(); }, 20000));
    EXPECT_EQ(LocalServices::Requests("/g/collect").size(), 5u);
}

// Events sent by the caller while the sending thread keeps folding the file (it does so whenever it
// is idle): a fold that read an entry before the caller marked it delivered must not queue it again.
TEST_F(ReportCollector, WaitingSendsDuringFoldsReachTheCollectorOnce) {
    Start();
    std::vector<std::string> actions;
    for (int i = 0; i < 150; ++i) {
        actions.push_back("W" + std::to_string(i));
        ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", actions.back()), true), 0);
    }
    ASSERT_TRUE(test_support::WaitUntil([&] { return n->Idle(); }, 20000));
    // Folds run on the sending thread between its sends. A marker offered now is sent by that
    // thread after any fold under way has ended; once it has arrived and the queue is idle, what
    // such a fold queued again has been sent, and later folds read the file after every delivery.
    ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "Marker"), false), 0);
    ASSERT_TRUE(test_support::WaitUntil([&] { return n->Idle() && FunnelArrivals()["Marker"] == 1; }, 20000));
    EXPECT_TRUE(FiledKeys().empty());
    std::map<std::string, int> arrivals = FunnelArrivals();
    for (const std::string& action : actions) EXPECT_EQ(arrivals[action], 1) << action;
}

TEST_F(ReportCollector, CollectorDownFor200EventsThenUp) {
    Start();
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","status":503})"));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "A" + std::to_string(i)), false), 0);
    EXPECT_EQ(FiledKeys().size(), 200u);
    EXPECT_TRUE(test_support::WaitUntil([&] { return LocalServices::Requests("/collector").size() >= 6; }, 20000));
    EXPECT_EQ(FiledKeys().size(), 200u);  // nothing leaves the file while the collector refuses
    ASSERT_TRUE(LocalServices::Reset());  // up again
    ASSERT_TRUE(test_support::WaitUntil([&] { return n->Idle(); }, 120000));
    EXPECT_TRUE(FiledKeys().empty());
    std::multiset<std::string> actions;
    for (const Json::Value& r : Clean("/collector")) {
        Json::Value event = test_support::ParseJson(r["body"].asString());
        actions.insert(event["actions"]["event_action"].asString());
    }
    EXPECT_EQ(actions.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(actions.count("A" + std::to_string(i)), 1u) << i;
}

TEST_F(ReportCollector, EventsOfEarlierRunsAreLoadedAndDelivered) {
    // A queue file left by an earlier run a minute ago: two funnel events, one GA4 event, one
    // entry too short to be sent and one already delivered.
    const int64_t t0 = ReportFormat::LocalClockMillis() - 60000;
    {
        CManagement earlier(exe, appData);
        earlier.Init(2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
        CQueueFile file(earlier.QueueFilePath());
        std::string key, content;
        ASSERT_EQ(earlier.WrapEvent(Body("Cat", "Earlier1"), t0 + 1, key, content), 0);
        file.Update(key, content, 0);
        ASSERT_EQ(earlier.WrapEvent(Body("Cat", "Earlier2"), t0 + 2, key, content), 0);
        file.Update(key, content, 0);
        earlier.WrapGa4(kGa4Query, t0 + 3, key, content);
        file.Update(key, content, 0);
        file.Update("short", "short", 0);
        Json::Value doc = test_support::ParseJson(test_support::ReadFile(earlier.QueueFilePath()));
        Json::Value done(Json::objectValue);
        done["task_guid"] = "2::" + std::to_string(t0 + 4) + "::Cat::Done";
        done["task_status"] = 2;
        done["task_content"] = "{\"source_type\":\"downloader\",\"cross_end_id\":\"\"}";
        doc["send_item"].append(done);
        doc["send_count"] = 5;
        test_support::WriteText(earlier.QueueFilePath(), doc.toStyledString());
    }
    Start();
    EXPECT_NE(Log().find("] Read history: 4/5\r\n"), std::string::npos) << Log();
    ASSERT_TRUE(test_support::WaitUntil([&] { return n->Idle(); }, 20000));
    EXPECT_EQ(FiledKeys(), (std::vector<std::string>{"short", "2::" + std::to_string(t0 + 4) + "::Cat::Done"}));
    std::vector<Json::Value> funnel = Clean("/collector");
    ASSERT_EQ(funnel.size(), 2u);
    EXPECT_EQ(test_support::ParseJson(funnel[0]["body"].asString())["actions"]["event_action"].asString(), "Earlier1");
    EXPECT_EQ(test_support::ParseJson(funnel[0]["body"].asString())["ts"].asInt64(), t0 + 1);
    EXPECT_EQ(Clean("/g/collect").size(), 1u);
}

TEST_F(ReportCollector, SendRestEndsWhenDeliveredOrWhenTheCollectorNeverAnswers) {
    Start();
    CNetworkCommunicate::SendRestLimits limits;
    limits.pollMs = 50;
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","status":503})"));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "R" + std::to_string(i)), false), 0);
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(n->WaitSendRest(limits));
    // Two failed rounds of three tasks, three attempts each.
    EXPECT_GE(LocalServices::Requests("/collector").size(), 18u);
    EXPECT_LT(GetTickCount64() - start, 30000u);
    EXPECT_EQ(FiledKeys().size(), 3u);  // kept for the next start
    EXPECT_NE(Log().find("] Send rest logs, "), std::string::npos);

    ASSERT_TRUE(LocalServices::Reset());
    EXPECT_TRUE(n->WaitSendRest(limits));
    EXPECT_TRUE(FiledKeys().empty());
    EXPECT_EQ(Clean("/collector").size(), 3u);
}

TEST_F(ReportCollector, ProxyFromTheFileBesideTheExecutable) {
    Start();
    CReportTransport transport(m->ExeFolder(), &m->Log());
    test_support::WriteText(dir.File(L"proxy.txt"), "127.0.0.1:1\r\n");
    EXPECT_EQ(transport.PostDataError(m->CollectorAddress(), "{}"), 0);
    EXPECT_NE(Log().find("] PostDataError: 7, "), std::string::npos) << Log();
    test_support::WriteText(dir.File(L"proxy.txt"), "\r\n127.0.0.1:1\r\n");  // an empty first line: no proxy
    EXPECT_EQ(transport.PostDataError(m->CollectorAddress(), "{}"), 200);
}

// ---- One delivering process per queue file ---------------------------------------------------

TEST_F(ReportCollector, NewRunDuringADeliveryCopySendsNothingTwice) {
    // What the ending run left: twelve events.
    const int64_t t0 = ReportFormat::LocalClockMillis() - 60000;
    std::set<std::string> expected;
    std::unique_ptr<CManagement> copyM = Management();
    copyM->Init(2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
    {
        CQueueFile file(copyM->QueueFilePath());
        std::string key, content;
        for (int i = 0; i < 12; ++i) {
            ASSERT_EQ(copyM->WrapEvent(Body("Cat", "Left" + std::to_string(i)), t0 + i, key, content), 0);
            ASSERT_TRUE(file.Update(key, content, 0));
            expected.insert("Left" + std::to_string(i));
        }
    }
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","delay_ms":150})"));
    // The "-sendrestlogs" copy takes the queue and delivers it.
    CNetworkCommunicate copyN(*copyM, timing);
    WebLog::Start(*copyM, copyN, 2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
    ASSERT_TRUE(copyN.Delivering());
    CNetworkCommunicate::SendRestLimits limits;
    limits.pollMs = 50;
    limits.takeOverMs = 5000;
    std::thread copy([&] { WebLog::SendRest(*copyM, copyN, limits); });

    // A new run starts meanwhile: it files its events and leaves the queue to the copy.
    Sleep(300);
    Start();
    EXPECT_FALSE(n->Delivering());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "Live" + std::to_string(i)), false), 0);
        expected.insert("Live" + std::to_string(i));
    }
    EXPECT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "Waited"), true), kReportDeliveryFailed)
        << "filed: the process that delivers the queue sends it";
    expected.insert("Waited");
    copy.join();

    // Once the copy has let the queue go, the new run takes it and delivers what is left.
    ASSERT_TRUE(test_support::WaitUntil([&] { return n->Delivering() && n->Idle() && FiledKeys().empty(); }, 60000)) << Log();
    std::map<std::string, int> arrivals = FunnelArrivals();
    for (const std::string& action : expected) EXPECT_EQ(arrivals[action], 1) << action;
    EXPECT_EQ(arrivals.size(), expected.size());
}

TEST_F(ReportCollector, EndingRunLetsItsQueueGoToTheCopy) {
    Start();
    ASSERT_TRUE(n->Delivering());
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","delay_ms":300})"));
    std::set<std::string> expected;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "E" + std::to_string(i)), false), 0);
        expected.insert("E" + std::to_string(i));
    }
    Sleep(500);  // the sending thread is at work
    // The report object ends; the copy it starts takes the queue over once this run let it go.
    n->MarkEnded();
    EXPECT_TRUE(RunCopy(10000));
    EXPECT_TRUE(n->WaitStopped(1000));
    EXPECT_TRUE(FiledKeys().empty());
    std::map<std::string, int> arrivals = FunnelArrivals();
    for (const std::string& action : expected) EXPECT_EQ(arrivals[action], 1) << action;
    EXPECT_EQ(arrivals.size(), expected.size());
    // An offer after the end is filed for the next start, not sent from here.
    EXPECT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "After"), true), kReportDeliveryFailed);
    EXPECT_EQ(FiledKeys().size(), 1u);
}

TEST_F(ReportCollector, CopyThatCannotTakeTheQueueLeavesItAlone) {
    Start();  // a run that delivers the queue, and keeps it
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","status":503})"));
    ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "Mine"), false), 0);
    std::unique_ptr<CManagement> copyM = Management();
    CNetworkCommunicate copyN(*copyM, timing);
    WebLog::Start(*copyM, copyN, 2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
    EXPECT_FALSE(copyN.Delivering());
    CNetworkCommunicate::SendRestLimits limits;
    limits.pollMs = 50;
    limits.takeOverMs = 300;
    EXPECT_FALSE(WebLog::SendRest(*copyM, copyN, limits));
    // (Both write the same SDK log: one product, one day.)
    EXPECT_NE(Log().find("] Send rest logs, the queue is delivered by another process\r\n"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("] Read history: 1/1"), std::string::npos) << "the copy never loaded the queue";
    EXPECT_TRUE(copyN.WaitStopped(1000));
    EXPECT_EQ(FiledKeys().size(), 1u);
    EXPECT_TRUE(n->Delivering());
}

// ---- What the queue file says is never where a request goes --------------------------------

TEST_F(ReportCollector, EditedGa4EntryIsSentOnlyToTheConfiguredEndpoint) {
    // A queue file whose GA4 entries were edited: one points at the services' other listener,
    // one at a local file, one has a query that is no encoded query.
    const int64_t t0 = ReportFormat::LocalClockMillis() - 60000;
    std::string query = "&tid=G-Q3RT8KW2ZN&ep.qv_category=Other&ep.qv_action=Edited&en=Edited";
    {
        std::unique_ptr<CManagement> earlier = Management();
        earlier->Init(2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
        CQueueFile file(earlier->QueueFilePath());
        std::string key = "1::" + std::to_string(t0) + "::Other::Edited";
        ASSERT_TRUE(file.Update(key, LocalServices::BaseUrl(false) + "/g/collect?v=2&cid=ABC" + query, 0));
        ASSERT_TRUE(file.Update("1::" + std::to_string(t0 + 1) + "::Other::File",
                                "file:///C:/windows/win.ini?/g/collect?v=2&cid=A&tid=x&en=y#", 0));
        ASSERT_TRUE(file.Update("1::" + std::to_string(t0 + 2) + "::Other::Host",
                                "https://127.0.0.1/g/collect?v=2&cid=A&tid=x&en=y@evil.example/", 0));
    }
    Start();
    ASSERT_TRUE(test_support::WaitUntil([&] { return n->Idle(); }, 20000));
    std::vector<Json::Value> requests = LocalServices::Requests("/g/collect");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["listener"].asString(), "https") << "the configured endpoint, not the filed one";
    EXPECT_EQ(requests[0]["query"].asString(), "v=2&cid=ABC" + query);
    EXPECT_TRUE(LocalServices::Requests("/").size() == 1u) << "nothing else was asked for";
    EXPECT_TRUE(FiledKeys().empty()) << "entries with no collection query are dropped";
    EXPECT_NE(Log().find("] Filed task of unknown kind dropped: 1::" + std::to_string(t0 + 1) + "::Other::File\r\n"),
              std::string::npos)
        << Log();
}

// ---- Ending never waits for the network ------------------------------------------------------

TEST_F(ReportCollector, EndingDuringAWaitingSendReturnsInTime) {
    Start();
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","delay_ms":30000})"));
    int32_t result = 1;
    ULONGLONG returned = 0;
    std::thread waiting([&] {
        result = WebLog::ReportEventWith(*m, *n, Body("Cat", "Waiting"), true);
        returned = GetTickCount64();
    });
    ASSERT_TRUE(test_support::WaitUntil([&] { return LocalServices::Requests("/collector").size() == 1; }, 10000));
    ULONGLONG ended = GetTickCount64();
    n->MarkEnded();
    waiting.join();
    EXPECT_EQ(result, kReportDeliveryFailed);
    // The request was held for 30 seconds; the caller got its answer within the grace time and
    // the library's reaction time.
    EXPECT_LT(returned - ended, ULONGLONG(CNetworkCommunicate::kEndGraceMs + 3000));
    EXPECT_TRUE(n->WaitStopped(10000));
    EXPECT_EQ(FiledKeys().size(), 1u) << "kept for the copy";
}

// ---- A failing endpoint never holds up the other --------------------------------------------

TEST_F(ReportCollector, FailingCollectorDoesNotHoldUpGa4) {
    timing.retryPauseMs = 500;  // a failed funnel task costs about 1.5 s
    Start();
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","status":503})"));
    for (int i = 0; i < 8; ++i) ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "F" + std::to_string(i)), false), 0);
    std::vector<std::string> funnel = FiledKeys();  // in the order offered
    ASSERT_EQ(funnel.size(), 8u);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(WebLog::ReportGa4With(*m, *n,
                                        "&tid=G-Q3RT8KW2ZN&ep.qv_category=Other&ep.qv_action=G" + std::to_string(i) +
                                            "&en=G" + std::to_string(i),
                                        false),
                  0);
    // Behind eight failing funnel tasks the GA4 events would wait about 12 s; once the first
    // funnel task has failed, they go first.
    ASSERT_TRUE(test_support::WaitUntil([&] { return Clean("/g/collect").size() == 3; }, 6000)) << Log();
    std::vector<Json::Value> ga4 = Clean("/g/collect");
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(ga4[size_t(i)]["query"].asString().find("ep.qv_action=G" + std::to_string(i) + "&"), std::string::npos)
            << "in the order offered: " << ga4[size_t(i)]["query"].asString();
    EXPECT_TRUE(Clean("/collector").empty());
    // The funnel task that failed all its attempts stands behind the others in the file too, so
    // that the next process does not begin with it.
    std::vector<std::string> filed = FiledKeys();
    auto at = [&](const std::string& key) { return std::find(filed.begin(), filed.end(), key) - filed.begin(); };
    ASSERT_LT(at(funnel[7]), std::ptrdiff_t(filed.size()));
    EXPECT_GT(at(funnel[0]), at(funnel[7])) << "first failed, now last";
    EXPECT_EQ(filed.size(), 8u);
}

// ---- Every offer is an event of its own ------------------------------------------------------

TEST_F(ReportCollector, OffersInOneMillisecondAreEventsOfTheirOwn) {
    Start();
    const int64_t ts = ReportFormat::LocalClockMillis();
    struct Case {
        const char* name;
        std::function<void(std::string&, std::string&)> wrap;
        std::function<size_t()> arrived;
    } cases[] = {
        {"funnel", [&](std::string& k, std::string& c) { ASSERT_EQ(m->WrapEvent(Body("Cat", "Same"), ts, k, c), 0); },
         [&] { return size_t(FunnelArrivals()["Same"]); }},
        {"GA4", [&](std::string& k, std::string& c) { m->WrapGa4(kGa4Query, ts, k, c); },
         [&] { return Clean("/g/collect").size(); }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Eleven offers of the same event in the same millisecond: eleven events. The twelfth is
        // still a flood.
        std::set<std::string> keys;
        for (int i = 0; i < 12; ++i) {
            std::string key, content;
            c.wrap(key, content);
            EXPECT_EQ(n->AddTask(key, content, true, false), i < 11 ? kReportAccepted : kReportFlood) << i;
        }
        ASSERT_TRUE(test_support::WaitUntil([&] { return n->Idle() && FiledKeys().empty(); }, 20000)) << Log();
        EXPECT_EQ(c.arrived(), 11u);
    }
}

// ---- Closing during a send -------------------------------------------------------------------

TEST_F(ReportCollector, ClosingDuringASlowSendDeliversEachEventOnce) {
    Start();
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","delay_ms":700})"));
    ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "Slow"), false), 0);
    ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "Behind"), false), 0);
    ASSERT_TRUE(test_support::WaitUntil([&] { return LocalServices::Requests("/collector").size() == 1; }, 10000));
    // The window closes while the collector has the event and has not answered yet.
    ULONGLONG ending = GetTickCount64();
    EXPECT_TRUE(n->EndAndWait());
    EXPECT_LT(GetTickCount64() - ending, ULONGLONG(CNetworkCommunicate::kEndGraceMs + CNetworkCommunicate::kEndMarginMs));
    n.reset();  // the process ends: a request still in flight would be cut off here
    // The "-sendrestlogs" copy starts and delivers what is still filed.
    EXPECT_TRUE(RunCopy());
    std::map<std::string, int> arrivals = FunnelArrivals();
    EXPECT_EQ(arrivals["Slow"], 1);
    EXPECT_EQ(arrivals["Behind"], 1);
    EXPECT_TRUE(FiledKeys().empty());
}

// ---- A fold that keeps failing ---------------------------------------------------------------

TEST_F(ReportCollector, FoldThatKeepsFailingKeepsTheJournalBoundedAndItsEventsDelivered) {
    timing.journalMaxBytes = 16 * 1024;
    timing.foldBackOffMs = 100;  // several tries within the case
    std::wstring path = Management()->QueueFilePathFor(3086);
    {
        std::unique_ptr<CManagement> earlier = Management();
        earlier->Init(2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
        std::string key, content;
        ASSERT_EQ(earlier->WrapEvent(Body("Cat", "Earlier"), ReportFormat::LocalClockMillis() - 60000, key, content), 0);
        ASSERT_TRUE(CQueueFile(earlier->QueueFilePath()).Update(key, content, 0));
        path = earlier->QueueFilePath();
    }
    // The new file a fold of this process writes cannot be made (a folder stands in its place):
    // the queue file can be read, never rewritten.
    std::wstring blocker = path + L".new-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(blocker.c_str(), nullptr));
    Start();
    // Delivered events leave their removals in the journal; the idle sending thread tries to fold.
    for (int i = 0; i < 5; ++i) ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "D" + std::to_string(i)), false), 0);
    ASSERT_TRUE(test_support::WaitUntil([&] { return n->Idle() && FunnelArrivals().size() == 6; }, 20000)) << Log();
    Sleep(2000);  // idle wakes every 20 ms; folds tried again after 100, 200, 400, 800 ms
    // The collector fails now: the journal fills with waiting events.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","status":503})"));
    for (int i = 0; i < 60; ++i) ASSERT_EQ(WebLog::ReportEventWith(*m, *n, Body("Cat", "J" + std::to_string(i)), false), 0);
    Sleep(1000);
    CQueueFile probe(path);
    EXPECT_LE(probe.JournalBytes(), timing.journalMaxBytes);
    std::string log = Log();
    auto count = [&](const std::string& text) {
        size_t found = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
        return found;
    };
    EXPECT_EQ(count("] Queue file cannot be folded; "), 1u) << log;
    EXPECT_EQ(count("] Queue file cannot be written, "), 1u) << log;
    EXPECT_NE(log.find("] Queue journal full (16384 bytes), dropped 2::"), std::string::npos) << log;

    // The run ends; its copy cannot fold either and delivers what the journal holds.
    EXPECT_TRUE(n->EndAndWait());
    n.reset();
    std::vector<std::string> filed = FiledKeys();
    EXPECT_GT(filed.size(), 5u);
    EXPECT_LT(filed.size(), 60u) << "the oldest were dropped";
    ASSERT_TRUE(LocalServices::Reset());
    EXPECT_TRUE(RunCopy());
    std::map<std::string, int> arrivals = FunnelArrivals();
    EXPECT_EQ(arrivals["J59"], 1);
    EXPECT_EQ(arrivals["J0"], 0) << "dropped from the journal, and not filed again by a later failure";
    size_t delivered = 0;
    for (const auto& a : arrivals) delivered += size_t(a.second);
    EXPECT_EQ(delivered, filed.size());
    EXPECT_TRUE(FiledKeys().empty());
    RemoveDirectoryW(blocker.c_str());
}
