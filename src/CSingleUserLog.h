#pragma once
// The process-wide analytics object. It also keeps what every part of the setup needs to reach:
// the run's log file and folders, fixed once at start-up, and the site number of this copy.
#include <atomic>
#include <string>

#include "RunFolders.h"

class CSingleUserLog {
public:
    // Created on first use; lives until the process ends.
    static CSingleUserLog* GetInstance();

    // Fixes the run values for the installer's base name and creates the log and work folders
    // (failures to create them are not reported: the log then goes nowhere). Result 1; 0 when
    // the base name is unusable or the paths would be too long, and the values stay empty.
    // Called once, on the main thread, before any other thread starts; later calls change
    // nothing and give the first call's result.
    int InitLogPath(const std::wstring& baseName);

    // Copies of the run values; empty before InitLogPath or when it failed.
    std::wstring GetStartStamp() const { return m_run.startStamp; }
    std::wstring GetLogFolder() const { return m_run.logFolder; }
    std::wstring GetLogFilePath() const { return m_run.logFilePath; }
    std::wstring GetWorkFolder() const { return m_run.workFolder; }

    // The Site_id of the product configuration, for the channel facts.
    void SetSiteId(int siteId) { m_siteId.store(siteId); }
    int GetSiteId() const { return m_siteId.load(); }

private:
    CSingleUserLog() = default;
    CSingleUserLog(const CSingleUserLog&) = delete;
    CSingleUserLog& operator=(const CSingleUserLog&) = delete;

    bool m_initCalled = false;
    int m_initResult = 0;
    RunFolderValues m_run;
    std::atomic<int> m_siteId{0};
};
