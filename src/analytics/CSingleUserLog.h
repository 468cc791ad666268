#pragma once
// The process-wide analytics object: every part of the setup reports through it. Each report
// becomes a GA4 event; flow errors, closing and explicit calls also become funnel events for the
// maker's collector. The object formats and hands events to the report object, which files,
// queues and delivers them. It also keeps what every part needs to reach: the run's log file
// and folders, the download settings record and the content lengths of download addresses.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "analytics/AnalyticsFormat.h"
#include "base/DownloadSettings.h"
#include "platform/RunFolders.h"

class IWebLogNew;

// What the analytics object asks of the installer window, once it has registered itself.
class IAnalyticsWindow {
public:
    virtual ~IAnalyticsWindow() = default;
    // Software_version of the configuration record the window holds (may be empty).
    virtual std::wstring AnalyticsProductVersion() = 0;
    // Service code of the window's current UI language ("en", "zh-cn", ...).
    virtual std::string AnalyticsLanguageCode() = 0;
};

class CSingleUserLog {
public:
    // Result when the local settings switch "AutoRun" is on: nothing is formatted or sent.
    static constexpr int32_t kAutoRunRefused = -99;
    // Result when there is no report object (none made, or it has been ended).
    static constexpr int32_t kNoReportObject = -1;

    // Created on first use with the running executable's facts and the report object; lives
    // until the process ends.
    static CSingleUserLog* GetInstance();

    // An object with the given report object, identity and the function that ends the report
    // object; for the process (GetInstance) and for tests.
    using EndReportFn = void (*)();
    CSingleUserLog(IWebLogNew* reportObject, const AnalyticsFormat::Identity& identity, EndReportFn endReport);
    ~CSingleUserLog();
    CSingleUserLog(const CSingleUserLog&) = delete;
    CSingleUserLog& operator=(const CSingleUserLog&) = delete;

    // Run folders and log file; see RunFolders. Result 1, or 0 when the base name is unusable.
    int InitLogPath(const std::wstring& baseName);
    std::wstring GetStartStamp() const { return m_run.startStamp; }
    std::wstring GetLogFolder() const { return m_run.logFolder; }
    std::wstring GetLogFilePath() const { return m_run.logFilePath; }
    std::wstring GetWorkFolder() const { return m_run.workFolder; }
    // What InitLogPath decided about the work folder, as log lines (it runs before the log is set up).
    std::vector<std::string> GetWorkFolderNotes() const { return m_workFolderNotes; }

    // Once, before any event: keeps the start-up values, decides whether this is the first
    // start of the day, starts the report object.
    void InitReport(int32_t downloaderId, int32_t siteId, const std::string& productVersion,
                    const std::string& productName, const std::string& startupUrl, bool kitFlag, int32_t mainPid);

    int32_t AddUserLogEvent(const std::string& category, const std::string& action, const std::string& label, bool bWait);
    int32_t AddUserLog(int32_t unused1, const std::string& action, bool bWait, int32_t unused2, const std::string& unused3,
                       const std::string& label, const std::string& category);
    int32_t AddUserLog_funnel(const std::string& eventType, const std::string& coreFuncName, int32_t funcStep,
                              const std::string& category, const std::string& action, const std::string& label,
                              bool bWait, bool isToolKit);
    int32_t AddUserLog_funnelEx(const std::string& category, const std::string& action,
                                const std::map<std::string, std::string>& extras, bool bWait, bool isToolKit);
    int32_t AddUserLog_funnelExPair(const std::string& category, const std::string& action, const std::string& key,
                                    const std::string& value, bool bWait, bool isToolKit);

    // Passes {"tools_lang", "product_version"} to the report object as extra common members.
    void UpdateCommon(int32_t uiLanguage, const std::string& productVersion);
    // Logs and returns true: the object owns no thread.
    bool WaitThreadForExit();

    // Ends the report object (its queue goes to the "-sendrestlogs" copy). Waits for sends in
    // progress; every later event returns kNoReportObject and never reaches the ended object.
    void EndReportObject();

    void SetMainWindow(IAnalyticsWindow* window) { m_mainWindow.store(window); }

    void SetContentLength(const std::string& address, int64_t length);
    int64_t GetContentLength(const std::string& address);

    DownloadSettings& GetDownloadSettings() { return ::GetDownloadSettings(); }
    int GetSiteId() const { return m_siteId; }

    // Single-writer flags shared with the window and the install worker.
    std::atomic<bool> LanguageFrozen{false};
    std::atomic<bool> Closing{false};

private:
    int32_t SendGa4(const std::string& category, const std::string& action, const std::string& label, bool bWait);
    int32_t SendFunnelBody(const std::string& body, const std::string& category, const std::string& action, bool bWait);
    AnalyticsFormat::FunnelCommon FunnelCommonValues();
    std::string ProductVersion();
    std::string ToolsLanguage();
    // Next step of a funnel, with its opening event when it was not started yet.
    void MirrorFunnelStep(bool toolKit, const std::string& label, bool bWait);
    std::wstring DayMarkerPath() const;

    IWebLogNew* m_report = nullptr;
    EndReportFn m_endReport = nullptr;
    std::shared_mutex m_reportLock;  // shared while sending, exclusive while ending
    AnalyticsFormat::Identity m_identity;

    std::mutex m_funnelLock;  // started flags and step numbers move together
    bool m_flowFunnelStarted = false;
    bool m_toolKitFunnelStarted = false;
    int32_t m_flowStep = 1;
    int32_t m_toolKitStep = 1;

    std::mutex m_lengthsLock;
    std::map<std::string, int64_t> m_contentLengths;

    bool m_initCalled = false;
    int m_initResult = 0;
    RunFolderValues m_run;
    std::vector<std::string> m_workFolderNotes;

    std::mutex m_cacheLock;
    std::string m_productVersion;
    std::string m_toolsLanguage;
    std::atomic<IAnalyticsWindow*> m_mainWindow{nullptr};

    int32_t m_siteId = 0;
    std::string m_productName;
    std::string m_startupUrl;
    bool m_kitFlag = false;
    int32_t m_mainPid = 0;
    bool m_isNew = false;
    std::atomic<bool> m_firstFunnel{true};
    void* m_ga4Event = nullptr;
    void* m_funnelEvent = nullptr;
};

// "[lo~lo+3]" + suffix for an elapsed time in whole seconds, lo = seconds / 3 * 3.
std::string DurationBucketText(int64_t seconds, const std::string& suffix);
