#include "ReportSDK/WebLog.h"

#include <windows.h>
#include <shellapi.h>

#include <mutex>

#include "ReportSDK/CManagement.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/CNetworkCommunicate.h"
#include "ReportSDK/ReportFormat.h"
#include "base/CommandLine.h"
#include "platform/ProtectedSelfCopy.h"

namespace {

std::mutex g_objectLock;
WebLog* g_object = nullptr;

std::string Text(const char* text) { return text ? text : ""; }

}  // namespace

int32_t WebLog::Start(CManagement& m, CNetworkCommunicate& n, int32_t type, int32_t mainPid, int32_t secondPid,
                      const std::string& email, const std::string& phone, const std::string& product,
                      const std::string& productVersion, const std::string& userId) {
    m.Init(type, mainPid, secondPid, email, phone, product, productVersion, userId);
    n.Start();  // loads the filed events when no other process delivers them
    return 0;
}

int32_t WebLog::Init(int32_t type, int32_t mainPid, int32_t secondPid, const char* email, const char* phone,
                     const char* product, const char* productVersion, const char* userId) {
    CManagement& m = CManagement::Instance();
    CNetworkCommunicate& n = CNetworkCommunicate::Instance();
    Start(m, n, type, mainPid, secondPid, Text(email), Text(phone), Text(product), Text(productVersion), Text(userId));
    if (IsSendRestCommandLine(CommandLine::ArgumentsText(GetCommandLineW())))
        RunSendRest(m, n, CNetworkCommunicate::SendRestLimits());
    return 0;
}

bool WebLog::IsSendRestCommandLine(const std::wstring& arguments) {
    return CommandLine::HasArgument(arguments, L"-sendrestlogs");
}

bool WebLog::SendRest(CManagement& m, CNetworkCommunicate& n, const CNetworkCommunicate::SendRestLimits& limits) {
    m.Log().Write("Send rest logs, wait begin");
    bool delivered = false;
    // The ending run lets the queue go within a second or two; a run started since keeps it and
    // delivers it itself, so a copy that cannot take it in time leaves it alone.
    if (n.WaitDelivering(limits.takeOverMs))
        delivered = n.WaitSendRest(limits);
    else
        m.Log().Write("Send rest logs, the queue is delivered by another process");
    n.MarkEnded();
    n.WaitStopped(kLetGoWaitMs);  // the journal folded in and the queue let go
    m.Log().Write("Send rest logs, wait end");
    return delivered;
}

void WebLog::RunSendRest(CManagement& m, CNetworkCommunicate& n, const CNetworkCommunicate::SendRestLimits& limits) {
    SendRest(m, n, limits);
    ExitProcess(0);
}

void WebLog::AbortDeliveries() { CNetworkCommunicate::Instance().MarkEnded(); }

int32_t WebLog::SetCommonParams(int32_t downloaderId, int32_t kitType, const char* toolsLang,
                                const char* toolsVersion) {
    CManagement::Instance().SetCommonParams(downloaderId, kitType, Text(toolsLang), Text(toolsVersion));
    return 0;
}

int32_t WebLog::SetExtraCommon(const char* json) { return CManagement::Instance().SetExtraCommon(Text(json)); }

int32_t WebLog::ReportEventWith(CManagement& m, CNetworkCommunicate& n, const std::string& body, bool bWait) {
    std::string key, content;
    int32_t check = m.WrapEvent(body, ReportFormat::LocalClockMillis(), key, content);
    if (check != 0) return check;
    return n.AddTask(key, content, true, bWait);
}

int32_t WebLog::ReportGa4With(CManagement& m, CNetworkCommunicate& n, const std::string& query, bool bWait) {
    std::string key, address;
    m.WrapGa4(query, ReportFormat::LocalClockMillis(), key, address);
    return n.AddTask(key, address, true, bWait);
}

int32_t WebLog::ReportEvent(const char* body, bool bWait) {
    return ReportEventWith(CManagement::Instance(), CNetworkCommunicate::Instance(), Text(body), bWait);
}

int32_t WebLog::ReportGa4(const char* query, bool bWait) {
    return ReportGa4With(CManagement::Instance(), CNetworkCommunicate::Instance(), Text(query), bWait);
}

WebLog::~WebLog() {}

bool WebLog::EndReportObj(const ProtectedSelfCopy::Copy& copy) {
    {
        std::lock_guard<std::mutex> lock(g_objectLock);
        // No new request starts and no later offer waits for a delivery; a request in flight may
        // finish within the grace time, then it is given up. What was filed stays filed.
        CNetworkCommunicate::Instance().MarkEnded();
        if (g_object) {
            delete g_object;
            g_object = nullptr;
        }
    }
    // The process may end as soon as this returns. A request still in flight must have finished
    // (its event removed from the file) or been given up before then, and the queue must be let
    // go, or the copy started below would load an event the collector already has and send it
    // again. The wait is bounded: the grace and a margin.
    if (!CNetworkCommunicate::Instance().EndAndWait())
        CManagement::Instance().Log().Write("Send rest logs, the sending thread had not stopped after %u ms",
                                            CNetworkCommunicate::kEndGraceMs + CNetworkCommunicate::kEndMarginMs);
    // Only the protected copy of the setup is started, and only when it is still the same bytes.
    // Without one, nothing is started and nothing is delivered in this process either: it has
    // already given up its requests and must not linger after its window has gone, and every
    // event stays in the queue file, which the next start of the setup delivers.
    DWORD error = 0;
    ProtectedSelfCopy::StartResult result = copy.Start(L"-sendrestlogs", SW_HIDE, &error);
    if (result == ProtectedSelfCopy::StartResult::Started) return true;
    CManagement::Instance().Log().Write("Send rest logs, no copy started: %s (%lu); the queue stays filed",
                                        ProtectedSelfCopy::ResultText(result), static_cast<unsigned long>(error));
    return false;
}

extern "C" IWebLogNew* GetReportObj() {
    std::lock_guard<std::mutex> lock(g_objectLock);
    if (!g_object) g_object = new WebLog();
    return g_object;
}

extern "C" void DestroyReportObj() { WebLog::EndReportObj(ProtectedSelfCopy::OfThisProcess()); }
