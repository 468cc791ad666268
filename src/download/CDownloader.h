#pragma once
// One attempt at downloading one file: the segment tasks, the worker pool, and the driver
// thread that hands tasks to workers, keeps progress statistics and saves the task file.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "download/CDownloadTaskManager.h"
#include "download/DownloadResult.h"
#include "download/CDownloadThreadManager.h"

struct DownloadStatistics {
    DWORD tick = 0;              // GetTickCount of the last update
    int64_t downloaded = 0;      // sum over tasks of DownloadedPos - StartPos + 1
    double percent = 0;          // two decimals
    int64_t downloadTime = 0;    // milliseconds over all attempts
    int32_t requestTimes = 0;    // failed requests in this attempt
    // Bytes per second over the whole download time, 0 before any time was counted.
    int64_t averageSpeed() const { return downloadTime ? downloaded / downloadTime * 1000 : 0; }
};

class CDownloader {
public:
    enum RunState : int32_t { RunStop = 0, RunRunning = 1, RunCreated = 2 };

    // Builds the managers and starts the driver thread, which idles until the state is 1.
    CDownloader(const std::string& remotePath, const std::string& localPath, const std::string& taskFilePath,
                int threadCount);
    // The driver thread must have ended (resetAttempt) before the object goes.
    ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Loads or generates the tasks and starts the workers: an EnumErrorCode (1, 6, 7, 8, 13).
    EnumErrorCode downloadInit(const std::string& tag, int verbose);
    void setRunState(int32_t state) { m_runState.store(state); }
    int32_t getRunState() const { return m_runState.load(); }
    // Waits for the driver thread: true when it has ended.
    bool waitDriver(DWORD milliseconds);
    // After the driver thread ended: deletes the tasks, releases the workers and the output
    // file, state 2, statistics tick now, driver handle closed.
    void resetAttempt();
    // The driver thread outlived its owner's wait: it neither saves the task file nor touches
    // the owner's state any more, and the object is left to it.
    void abandon() { m_abandoned.store(true); }

    DownloadStatistics getStatistics() const;
    void updateStatistics();
    std::string getCdnSummary() const;
    bool dispatched() const { return m_dispatched.load(); }
    int64_t contentLength() const { return m_taskManager.ContentLength; }
    int32_t tasksCount() const { return static_cast<int32_t>(m_taskManager.allTasks().size()); }

    CDownloadTaskManager& taskManager() { return m_taskManager; }
    CDownloadThreadManager& threadManager() { return m_threadManager; }

    // Pause before a failed segment is asked for again in the same attempt.
    static DWORD retryDelayMs(int32_t failures);

private:
    static unsigned __stdcall driverEntry(void* self);
    unsigned downloaderThread();
    void saveTaskToFile();
    // Failed segments whose worker is done: asked for again after a pause.
    void requeueFailed(const std::vector<CThread*>& recycled);
    void releaseDueRetries();

    std::string m_remotePath, m_localPath, m_taskFilePath;
    int m_threadCount = 0;
    std::atomic<int32_t> m_runState{RunCreated};
    HANDLE m_hThread = nullptr;
    std::atomic<bool> m_dispatched{false};
    std::atomic<bool> m_abandoned{false};
    std::atomic<bool> m_prepared{false};  // downloadInit succeeded: the task file may be written
    mutable std::mutex m_statisticsLock;  // the owner reads the record while the driver writes it
    DownloadStatistics m_statistics;
    CDownloadTaskManager m_taskManager;
    CDownloadThreadManager m_threadManager;
    struct Retry { CTask* task; DWORD due; };
    std::vector<Retry> m_retries;
};
