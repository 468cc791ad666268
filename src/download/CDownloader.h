#pragma once
// One attempt at downloading one file: the segment tasks, the worker pool, and the driver
// thread that hands tasks to workers, keeps progress statistics and saves the task file.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <condition_variable>
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

// An attempt is shared by its owner, its driver thread and its workers: it is released by
// whichever of them lets it go last, so the owner never has to wait for it without limit and
// nothing of it is freed while one of its threads still uses it.
class CDownloader : public std::enable_shared_from_this<CDownloader> {
public:
    enum RunState : int32_t { RunStop = 0, RunRunning = 1, RunCreated = 2 };

    // Builds the managers and starts the driver thread, which idles until the state is 1.
    static std::shared_ptr<CDownloader> Start(const std::string& remotePath, const std::string& localPath,
                                              const std::string& taskFilePath, int threadCount);
    // Releases the tasks, the workers with their transfer handles, and the package. Runs when
    // neither the owner nor any thread of the attempt holds it any more; never waits.
    ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Loads or generates the tasks and starts the workers: an EnumErrorCode (1, 6, 7, 8, 13;
    // 8 also when the driver thread could not be started).
    EnumErrorCode downloadInit(const std::string& tag, int verbose);
    // State 0 also ends the running transfers at once.
    void setRunState(int32_t state);
    int32_t getRunState() const { return m_runState.load(); }
    // Waits for the driver thread: true when it has ended (or never started).
    bool waitDriver(DWORD milliseconds);
    // After the driver thread ended: the package is closed, state 2, statistics tick now,
    // driver handle closed. The tasks and workers go with the attempt.
    void resetAttempt();
    // The driver thread outlived its owner's wait: from now on the attempt writes neither into
    // the package nor the task file (writes in progress are waited for), and the driver releases
    // it when it ends.
    void abandon();

    // Test seam: how the driver thread is started (default _beginthreadex); 0 = not started.
    using ThreadStarter = uintptr_t (*)(unsigned(__stdcall*)(void*), void*);
    static void SetThreadStarter(ThreadStarter starter);

    DownloadStatistics getStatistics() const;
    void updateStatistics();
    // The CDN summary; empty while workers of the attempt still run (they write its parts).
    std::string getCdnSummary() const;
    bool dispatched() const { return m_dispatched.load(); }
    int64_t contentLength() const { return m_taskManager.ContentLength; }
    int32_t tasksCount() const { return static_cast<int32_t>(m_taskManager.allTasks().size()); }

    CDownloadTaskManager& taskManager() { return m_taskManager; }
    CDownloadThreadManager& threadManager() { return m_threadManager; }

    // Longest pause of the driver between passes.
    static constexpr DWORD kPassMs = 50;
    // How long a stopping driver waits for its busy workers before it stops the pool anyway.
    static constexpr DWORD kStopWaitMs = 30000;
    // Pause before a failed segment is asked for again in the same attempt.
    static DWORD retryDelayMs(int32_t failures);

private:
    CDownloader(const std::string& remotePath, const std::string& localPath, const std::string& taskFilePath,
                int threadCount);
    static unsigned __stdcall driverEntry(void* self);
    unsigned downloaderThread();
    void saveTaskToFile();
    // The periodic saves, on a thread of their own.
    void saverLoop();
    void requestSave();
    DWORD nextPassWait() const;
    void waitPass(DWORD milliseconds);
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
    std::mutex m_saveLock;                // a save and abandon() never overlap
    std::mutex m_saveRequestLock;         // the saver's request flags
    std::condition_variable m_saveWake;
    bool m_saveRequested = false;
    bool m_saverStop = false;
    mutable std::mutex m_statisticsLock;  // the owner reads the record while the driver writes it
    DownloadStatistics m_statistics;
    CDownloadTaskManager m_taskManager;
    CDownloadThreadManager m_threadManager;
    struct Retry { CTask* task; DWORD due; };
    std::vector<Retry> m_retries;
};
