#pragma once
// The boundary of the report SDK: one abstract interface whose slots keep this order, and the
// two functions the executable exports by name so other processes can reach the same SDK.
// The slot order and the argument lists are part of the binary interface; never reorder or
// insert slots.
#include <windows.h>

#include <cstdint>

// <windows.h> maps ReportEvent to the event-log function ReportEventW; the slot keeps its own
// name in every unit that sees this interface (the program does not write the event log).
#ifdef ReportEvent
#undef ReportEvent
#endif

// Event results of ReportEvent and ReportGa4. No result asks for the same event to be offered
// again: after 0, -2 and -4 it is queued (offered again, it would be sent twice); the others would
// only be refused again (a refused repeat even counts once more against the flood limit).
enum ReportResult : int32_t {
    kReportAccepted = 0,         // queued (bWait false) or delivered and acknowledged (bWait true)
    kReportFlood = -1,           // refused as a flood of repeats; nothing queued
    kReportDeliveryFailed = -2,  // bWait delivery failed or was not tried (another process
                                 // delivers the queue file, or the object is ending); the event
                                 // stays filed and is delivered later
    kReportUnknownKind = -3,     // neither a funnel event nor a GA4 collection address: no request
                                 // exists for it; nothing queued
    kReportNotFiled = -4,        // the queue file could not be written: the event is queued in
                                 // memory only and is lost if the process ends before it is sent
    // -99 to -90: funnel event rejected by its checks (the first that fails); nothing queued
    kReportNoSessionId = -99,
    kReportNoUid = -98,
    kReportBadPid = -97,            // "pid" not above 1000
    kReportNoProductVersion = -96,
    kReportShortRnclid = -95,       // not empty and at most 17 characters
    kReportBadRnclid = -94,         // longer than 17 characters and not all digits
    kReportNoCategory = -93,
    kReportNoAction = -92,
    kReportShortTs = -91,           // 12 characters or fewer
    kReportBadTs = -90,             // not all digits
};

class IWebLogNew {
public:
    // Slot 0. type: 1 inside a product, 2 inside a downloader. Result 0. In a process started
    // with "-sendrestlogs" it delivers the queued events and ends the process instead of returning.
    virtual int32_t Init(int32_t type, int32_t mainPid, int32_t secondPid, const char* email, const char* phone,
                         const char* product, const char* productVersion, const char* userId) = 0;
    // Slot 1. Result 0.
    virtual int32_t SetCommonParams(int32_t downloaderId, int32_t kitType, const char* toolsLang,
                                    const char* toolsVersion) = 0;
    // Slot 2. JSON text of an object with extra common members. -1 when shorter than 2 characters, else 0.
    virtual int32_t SetExtraCommon(const char* json) = 0;
    // Slot 3. Funnel event body (JSON text); an event result.
    virtual int32_t ReportEvent(const char* json, bool bWait) = 0;
    // Slot 4. GA4 measurement query; an event result.
    virtual int32_t ReportGa4(const char* query, bool bWait) = 0;
    // Slot 5.
    virtual ~IWebLogNew() = default;
};

extern "C" {
// The process's one report object, made on the first call; never deleted by this call.
__declspec(dllexport) IWebLogNew* GetReportObj();
// Deletes the object if there is one, then starts the hidden "-sendrestlogs" copy of the
// executable to deliver what is still queued (also when there was no object).
__declspec(dllexport) void DestroyReportObj();
}
