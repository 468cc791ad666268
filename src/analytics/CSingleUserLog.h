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
    // Result when there is no report object (none made, or it has been ended). The report
    // object's flood refusal is -1 as well; callers never act on either.
    static constexpr int32_t kNoReportObject = -1;
    // Result when category, action and label would make the GA4 query reach 4096 bytes: the
    // event is refused rather than cut into another one. (No report object result uses -5.)
    static constexpr int32_t kEventTooLong = -5;
    // How long ending the report object waits for sends in progress to give up: the report
    // object gives a request in flight a second to finish, and the transfer library notices
    // within about another one.
    static constexpr unsigned kEndWaitMs = 2500;
    // Program log files of one installer kept in its log folder (one per run); InitLogPath
    // deletes older ones.
    static constexpr size_t kProgramLogsKept = 20;

    // Created on first use with the running executable's facts and the report object; lives
    // until the process ends.
    static CSingleUserLog* GetInstance();

    // An object with the given report object, identity and the function that ends the report
    // object; for the process (GetInstance) and for tests. abortSends, when given, makes the
    // sends in progress give up at once (it runs before the end waits for them).
    using EndReportFn = void (*)();
    CSingleUserLog(IWebLogNew* reportObject, const AnalyticsFormat::Identity& identity, EndReportFn endReport,
                   EndReportFn abortSends = nullptr);
    ~CSingleUserLog();
    CSingleUserLog(const CSingleUserLog&) = delete;
    CSingleUserLog& operator=(const CSingleUserLog&) = delete;

    // Run folders and log file; see RunFolders. Result 1, or 0 when the base name is unusable.
    int InitLogPath(const std::wstring& baseName);
    std::wstring GetStartStamp() const { return m_run.startStamp; }
    std::wstring GetLogFolder() const { return m_run.logFolder; }
    std::wstring GetLogFilePath() const { return m_run.logFilePath; }
    std::wstring GetWorkFolder() const { return m_run.workFolder; }
    // What InitLogPath decided about the log and work folders, as log lines (it runs before the log is set up).
    std::vector<std::string> GetRunFolderNotes() const { return m_runFolderNotes; }

    // Once, before any event, on the thread that then runs the window and its message loop:
    // keeps the start-up values, decides whether this is the first start of the day, starts the
    // report object. An event that this thread offers with bWait is queued instead of delivered
    // on the spot (result 0, the report object's "accepted"): the window never waits for the
    // network; the sending thread delivers it in the background.
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

    // Marks every later funnel event of the run with the common member "install_mode" (a run
    // from the command line without the user: "quiet" or "passive").
    void SetInstallMode(const std::string& mode);
    // Passes {"tools_lang", "product_version"} to the report object as extra common members.
    void UpdateCommon(int32_t uiLanguage, const std::string& productVersion);
    // Logs and returns true: the object owns no thread.
    bool WaitThreadForExit();

    // Ends the report object (its queue goes to the "-sendrestlogs" copy). Every later event
    // returns kNoReportObject at once and never reaches the ended object. Sends in progress are
    // told to give up and waited for at most kEndWaitMs: should one still be inside the report
    // object then, the object is left alone (not deleted, no copy started; its events stay
    // filed for the next start) rather than holding up the window.
    void EndReportObject();

    void SetMainWindow(IAnalyticsWindow* window) { m_mainWindow.store(window); }

    void SetContentLength(const std::string& address, int64_t length);
    int64_t GetContentLength(const std::string& address);

    DownloadSettings& GetDownloadSettings() { return ::GetDownloadSettings(); }

    // The path of "galog.json" in a log folder; empty when there is no log folder (the file is
    // then neither read nor written, and every start counts as the first of its day).
    static std::wstring DayMarkerPathIn(const std::wstring& logFolder);
    // The program logs of an installer to delete from its log folder: files named
    // <base name>_<17 digits>.log beyond the keep newest (the stamp orders them).
    static std::vector<std::wstring> OldProgramLogs(const std::vector<std::wstring>& fileNames,
                                                    const std::wstring& baseName, size_t keep);
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

    bool IsWindowThread() const;
    void PruneProgramLogs(const std::wstring& baseName);

    // The report object is called under m_reportLock shared and cleared under it exclusive.
    // Events test m_ending first, so that ending never waits behind a queue of new sends.
    IWebLogNew* m_report = nullptr;
    EndReportFn m_endReport = nullptr;
    EndReportFn m_abortSends = nullptr;
    std::shared_timed_mutex m_reportLock;
    std::atomic<bool> m_ending{false};
    std::atomic<unsigned long> m_windowThreadId{0};  // the thread of InitReport
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
    std::vector<std::string> m_runFolderNotes;

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
