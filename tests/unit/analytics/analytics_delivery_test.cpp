// The analytics object over a real report SDK and the local services' collector: an event is
// delivered once however its delivery went, and neither ending the report object nor an event
// of the window thread waits for the network.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "analytics/CSingleUserLog.h"
#include "platform/FuntionImpl.h"
#include "ReportSDK/CManagement.h"
#include "ReportSDK/CNetworkCommunicate.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/WebLog.h"
#include "support/analytics_identity.h"
#include "support/local_services.h"
#include "support/test_support.h"

namespace {

// The report object of the setup, bound to an SDK of the test's own folder.
class SdkReport : public IWebLogNew {
public:
    SdkReport(CManagement& m, CNetworkCommunicate& n) : m_(m), n_(n) {}
    int32_t Init(int32_t type, int32_t mainPid, int32_t secondPid, const char* email, const char* phone,
                 const char* product, const char* version, const char* userId) override {
        return WebLog::Start(m_, n_, type, mainPid, secondPid, email, phone, product, version, userId);
    }
    int32_t SetCommonParams(int32_t downloaderId, int32_t kitType, const char* lang, const char* version) override {
        m_.SetCommonParams(downloaderId, kitType, lang, version);
        return 0;
    }
    int32_t SetExtraCommon(const char* json) override { return m_.SetExtraCommon(json); }
    int32_t ReportEvent(const char* body, bool bWait) override { return WebLog::ReportEventWith(m_, n_, body, bWait); }
    int32_t ReportGa4(const char* query, bool bWait) override { return WebLog::ReportGa4With(m_, n_, query, bWait); }

private:
    CManagement& m_;
    CNetworkCommunicate& n_;
};

bool StatusFaulted(const Json::Value& request) {
    for (const Json::Value& f : request["faults"])
        if (f.asString() == "status") return true;
    return false;
}

// Arrivals of each funnel event (by its action) and each GA4 event (by its action), the
// requests answered with an injected status aside.
std::map<std::string, int> Arrivals() {
    std::map<std::string, int> count;
    for (const Json::Value& r : LocalServices::Requests("/collector"))
        if (!StatusFaulted(r))
            ++count["funnel:" + test_support::ParseJson(r["body"].asString())["actions"]["event_action"].asString()];
    for (const Json::Value& r : LocalServices::Requests("/g/collect")) {
        if (StatusFaulted(r)) continue;
        std::string query = r["query"].asString();
        size_t at = query.find("&ep.qv_action=");
        if (at == std::string::npos) continue;
        at += 14;
        ++count["ga4:" + query.substr(at, query.find('&', at) - at)];
    }
    return count;
}

CNetworkCommunicate* g_sdk = nullptr;
std::atomic<int> g_ended{0};
void AbortSends() { g_sdk->MarkEnded(); }
void EndReport() { ++g_ended; }

class AnalyticsDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str());  // no AutoRun
        CreateDirectoryW(appData.c_str(), nullptr);
        test_support::WriteText(dir.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\n");
        m.reset(new CManagement(dir.File(L"Setup.exe"), appData));
        m->SetTestEndpoints(LocalServices::BaseUrl(true), LocalServices::BaseUrl(true));
        n.reset(new CNetworkCommunicate(*m, CNetworkCommunicate::Timing{3, 50, 20}));
        g_sdk = n.get();
        g_ended = 0;
        report.reset(new SdkReport(*m, *n));
        log.reset(new CSingleUserLog(report.get(), TestIdentity(), &EndReport, &AbortSends));
        // This thread stands for the window's: it starts the report object.
        log->InitReport(486, 61, "2.1.0", "Orbala Lumeno", "http://127.0.0.1/download/OrbalaLumeno_Setup.exe", false, 3086);
    }
    void TearDown() override {
        log.reset();
        n.reset();
        g_sdk = nullptr;
    }
    bool Settled() {
        CQueueFile file(m->QueueFilePath());
        std::vector<CQueueFile::Entry> entries;
        return n->Idle() && file.ReadEntries(entries) && entries.empty();
    }

    test_support::TempDir dir;
    std::wstring appData = dir.File(L"AppData");
    std::unique_ptr<CManagement> m;
    std::unique_ptr<CNetworkCommunicate> n;
    std::unique_ptr<SdkReport> report;
    std::unique_ptr<CSingleUserLog> log;
};

}  // namespace

TEST_F(AnalyticsDelivery, WaitedEventWithTheCollectorFailingArrivesOnce) {
    // Every attempt of the waiting delivery fails; the sending thread delivers it later.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/g/collect","status":503,"times":3})"));
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","status":503,"times":3})"));
    int32_t ga4 = 1, funnel = 1;
    std::thread worker([&] {
        ga4 = log->AddUserLogEvent("Download", "Waited", "L", true);
        funnel = log->AddUserLog_funnelExPair("Download", "WaitedFunnel", "k", "v", true, false);
    });
    worker.join();
    EXPECT_EQ(ga4, kReportDeliveryFailed);
    EXPECT_EQ(funnel, kReportDeliveryFailed);
    ASSERT_TRUE(test_support::WaitUntil([&] { return Settled(); }, 30000));
    std::map<std::string, int> arrivals = Arrivals();
    EXPECT_EQ(arrivals["ga4:Waited"], 1);
    EXPECT_EQ(arrivals["funnel:WaitedFunnel"], 1);
}

TEST_F(AnalyticsDelivery, ClosingTheWindowDuringAWaitedSendReturnsInTime) {
    // The collector holds every request for 30 seconds.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","delay_ms":30000})"));
    int32_t result = 1;
    std::thread worker([&] { result = log->AddUserLog_funnelExPair("Download", "Held", "k", "v", true, false); });
    ASSERT_TRUE(test_support::WaitUntil([] { return LocalServices::Requests("/collector").size() == 1; }, 20000));
    ULONGLONG start = GetTickCount64();
    log->EndReportObject();
    ULONGLONG took = GetTickCount64() - start;
    worker.join();
    EXPECT_LT(took, ULONGLONG(CSingleUserLog::kEndWaitMs + 1000)) << "ending waited for the network";
    EXPECT_EQ(g_ended.load(), 1) << "the report object was ended, not left busy";
    EXPECT_EQ(result, kReportDeliveryFailed);
    EXPECT_EQ(log->AddUserLogEvent("Download", "After", "", true), CSingleUserLog::kNoReportObject);
    EXPECT_TRUE(n->WaitStopped(10000));
    CQueueFile file(m->QueueFilePath());
    std::vector<CQueueFile::Entry> entries;
    ASSERT_TRUE(file.ReadEntries(entries));
    EXPECT_EQ(entries.size(), 1u) << "the held event stays filed for the copy";
}

TEST_F(AnalyticsDelivery, TheWindowThreadOffersWithoutWaiting) {
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/collector","delay_ms":5000})"));
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(log->AddUserLog_funnelExPair("Page", "Shown", "k", "v", true, false), 0);
    EXPECT_LT(GetTickCount64() - start, 4000u) << "the window waited for the collector";
    ASSERT_TRUE(test_support::WaitUntil([&] { return Settled(); }, 30000));
    EXPECT_EQ(Arrivals()["funnel:Shown"], 1);
}
