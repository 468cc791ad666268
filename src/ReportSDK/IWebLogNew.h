#pragma once
// The report object's interface: the one boundary between the analytics object (and other
// processes that load the executable's exports) and the report SDK behind it. The slot order
// and the argument lists are part of the binary interface; never reorder or insert slots.
#include <windows.h>

#include <cstdint>

// <windows.h> maps ReportEvent to the event-log function ReportEventW; the slot keeps its own
// name in every unit that sees this interface (the program does not write the event log).
#ifdef ReportEvent
#undef ReportEvent
#endif

class IWebLogNew {
public:
    // Slot 0. type: 1 inside a product, 2 inside a downloader. Result 0. In a process started
    // with "-sendrestlogs" it delivers the queued events and ends the process instead of returning.
    virtual int32_t Init(int32_t type, int32_t mainPid, int32_t secondPid, const char* email, const char* phone,
                         const char* product, const char* productVersion, const char* userId) = 0;
    // Slot 1. Result 0.
    virtual int32_t SetCommonParams(int32_t downloaderId, int32_t kitType, const char* toolsLang,
                                    const char* toolsVersion) = 0;
    // Slot 2. JSON text of an object with extra common members. -1 when shorter than 2 characters.
    virtual int32_t SetExtraCommon(const char* json) = 0;
    // Slot 3. Funnel event body (JSON text); an event result below.
    virtual int32_t ReportEvent(const char* body, bool bWait) = 0;
    // Slot 4. GA4 measurement query; an event result below.
    virtual int32_t ReportGa4(const char* query, bool bWait) = 0;
    // Slot 5.
    virtual ~IWebLogNew() {}
};

// Event results of ReportEvent and ReportGa4.
namespace ReportResult {
constexpr int32_t kAccepted = 0;        // queued, or delivered and acknowledged when bWait
constexpr int32_t kRepeated = -1;       // refused as a flood of repeats; nothing queued
constexpr int32_t kWaitFailed = -2;     // bWait delivery failed; the event stays queued
constexpr int32_t kNoSessionId = -99;   // -99 to -90: funnel event failed a check; nothing queued
constexpr int32_t kNoUid = -98;
constexpr int32_t kBadPid = -97;
constexpr int32_t kNoProductVersion = -96;
constexpr int32_t kShortRnclid = -95;
constexpr int32_t kBadRnclid = -94;
constexpr int32_t kNoCategory = -93;
constexpr int32_t kNoAction = -92;
constexpr int32_t kShortTs = -91;
constexpr int32_t kBadTs = -90;
}  // namespace ReportResult

// Exported by name from the executable.
extern "C" {
// The process's one report object, made on the first call; never deleted by this call.
__declspec(dllexport) IWebLogNew* GetReportObj();
// Deletes the report object if there is one, then starts the hidden "-sendrestlogs" copy of
// the executable (also when there was no object).
__declspec(dllexport) void DestroyReportObj();
}
