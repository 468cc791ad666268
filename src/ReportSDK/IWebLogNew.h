#pragma once
// The boundary of the report SDK: one abstract interface whose slots keep this order, and the
// two functions the executable exports by name so other processes can reach the same SDK.
#include <cstdint>

// Event results of ReportEvent and ReportGa4.
enum ReportResult : int32_t {
    kReportAccepted = 0,      // queued (bWait false) or delivered and acknowledged (bWait true)
    kReportFlood = -1,        // refused as a flood of repeats; nothing queued
    kReportDeliveryFailed = -2,  // bWait delivery failed; the event stays queued
    // -99 to -90: funnel event rejected by its checks; nothing queued
};

class IWebLogNew {
public:
    // Slot 0. Does not return in the "-sendrestlogs" mode.
    virtual int32_t Init(int32_t type, int32_t mainPid, int32_t secondPid, const char* email, const char* phone,
                         const char* product, const char* productVersion, const char* userId) = 0;
    // Slot 1.
    virtual int32_t SetCommonParams(int32_t downloaderId, int32_t kitType, const char* toolsLang,
                                    const char* toolsVersion) = 0;
    // Slot 2. -1 when the text is shorter than 2 characters, else 0.
    virtual int32_t SetExtraCommon(const char* json) = 0;
    // Slot 3.
    virtual int32_t ReportEvent(const char* json, bool bWait) = 0;
    // Slot 4.
    virtual int32_t ReportGa4(const char* query, bool bWait) = 0;
    // Slot 5.
    virtual ~IWebLogNew() = default;
};

extern "C" {
// The process's one report object, made on the first call; never deleted by this call.
__declspec(dllexport) IWebLogNew* GetReportObj();
// Deletes the object if there is one, then starts the hidden "-sendrestlogs" copy of the
// executable to deliver what is still queued.
__declspec(dllexport) void DestroyReportObj();
}
