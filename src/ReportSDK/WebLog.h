#pragma once
// The one implementation of IWebLogNew. It holds no data: every slot works on the process's
// CManagement and CNetworkCommunicate (or, through the static forms, on the ones given).
#include <string>

#include "ReportSDK/CNetworkCommunicate.h"
#include "ReportSDK/IWebLogNew.h"

class CManagement;
namespace ProtectedSelfCopy { class Copy; }

class WebLog : public IWebLogNew {
public:
    int32_t Init(int32_t type, int32_t mainPid, int32_t secondPid, const char* email, const char* phone,
                 const char* product, const char* productVersion, const char* userId) override;
    int32_t SetCommonParams(int32_t downloaderId, int32_t kitType, const char* toolsLang,
                            const char* toolsVersion) override;
    int32_t SetExtraCommon(const char* json) override;
    int32_t ReportEvent(const char* body, bool bWait) override;
    int32_t ReportGa4(const char* query, bool bWait) override;
    ~WebLog() override;

    // How long a send-rest copy waits, at its end, for its sending thread to let the queue go.
    static constexpr DWORD kLetGoWaitMs = 5000;

    // Init without the send-rest mode: steps up to the history load. Result 0.
    static int32_t Start(CManagement& m, CNetworkCommunicate& n, int32_t type, int32_t mainPid, int32_t secondPid,
                         const std::string& email, const std::string& phone, const std::string& product,
                         const std::string& productVersion, const std::string& userId);
    static int32_t ReportEventWith(CManagement& m, CNetworkCommunicate& n, const std::string& body, bool bWait);
    static int32_t ReportGa4With(CManagement& m, CNetworkCommunicate& n, const std::string& query, bool bWait);

    // Whether the arguments of a command line (the text after the program name) ask for the
    // send-rest mode: "-sendrestlogs" as a whole argument, never a part of one.
    static bool IsSendRestCommandLine(const std::wstring& arguments);
    // The send-rest mode of a started SDK: takes the queue over (or leaves it to the process that
    // delivers it), delivers it within the limits, lets it go. True when everything was delivered.
    static bool SendRest(CManagement& m, CNetworkCommunicate& n, const CNetworkCommunicate::SendRestLimits& limits);
    // SendRest, then ends the process with exit code 0.
    [[noreturn]] static void RunSendRest(CManagement& m, CNetworkCommunicate& n,
                                         const CNetworkCommunicate::SendRestLimits& limits);

    // The first half of ending the report object, for a caller that must not wait: requests in
    // flight are given up and offers no longer wait for deliveries. DestroyReportObj does it too.
    static void AbortDeliveries();

    // Ends the report object: deletes it if there is one, then starts the protected copy of the
    // setup hidden with "-sendrestlogs" when it is still the same bytes. True when it was started.
    static bool EndReportObj(const ProtectedSelfCopy::Copy& copy);
};
