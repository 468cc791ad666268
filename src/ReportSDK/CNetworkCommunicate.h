#pragma once
// The send queue of the report SDK: the flood check, the queue file, the in-memory FIFO and the
// one sending thread that works it off, and the wait of the "-sendrestlogs" copy.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ReportSDK/CEventHistory.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/CReportTransport.h"

class CManagement;

class CNetworkCommunicate {
public:
    struct Task {
        std::string key;
        int32_t kind = 0;  // 1 GA4 address, 2 funnel event body
        std::string content;
    };

    // Pauses and attempts; the setup uses the defaults, tests may shorten them.
    struct Timing {
        int attempts = 3;
        unsigned retryPauseMs = 2000;  // after each failed attempt, also after the last
        unsigned idleWaitMs = 500;     // an idle sending thread looks again this often
    };

    // How long the "-sendrestlogs" copy keeps trying. It ends when the queue is empty and no
    // task is in flight, or when every queued task failed maxFailedRounds times in a row
    // without any delivery in between, or after maxTotalMs.
    struct SendRestLimits {
        unsigned pollMs = 5000;
        int maxFailedRounds = 2;
        unsigned maxTotalMs = 10 * 60 * 1000;
    };

    // The process's one sending queue, bound to CManagement::Instance().
    static CNetworkCommunicate& Instance();

    explicit CNetworkCommunicate(CManagement& management);
    CNetworkCommunicate(CManagement& management, Timing timing);
    // Stops the sending thread (a task in flight finishes first). The setup's own object is
    // never destroyed; tests' objects are.
    ~CNetworkCommunicate();
    CNetworkCommunicate(const CNetworkCommunicate&) = delete;
    CNetworkCommunicate& operator=(const CNetworkCommunicate&) = delete;

    // Binds the queue file of the management's product folder and starts the sending thread.
    // Once; later calls do nothing.
    void Start();

    // 0 accepted (queued; delivered when bWait), -1 refused as a flood (or of no known kind),
    // -2 bWait delivery failed (the task is queued).
    int32_t AddTask(const std::string& key, const std::string& content, bool persist, bool bWait);
    // Queues the filed events of earlier runs; returns the number of entries in the file.
    int LoadHistory();
    // Sends one task now: up to the attempts of Timing; a task that fails them all goes back to
    // the end of the queue; a delivered one leaves the file when persist.
    bool SendTask(const Task& task, bool persist);

    size_t QueueLength() const;
    // Neither queued nor in-flight tasks.
    bool Idle() const;
    // The "-sendrestlogs" wait: returns when Idle or when a limit of SendRestLimits is reached;
    // true when everything was delivered.
    bool WaitSendRest(const SendRestLimits& limits);

    // After the report object was ended: offers are still filed and queued, but a bWait offer
    // no longer blocks its caller (the process is shutting down).
    void MarkEnded() { m_ended = true; }

    CEventHistory& History() { return m_history; }
    CQueueFile* QueueFile() { return m_file.get(); }

private:
    void ThreadMain();
    int PostTask(const Task& task) const;

    CManagement& m_management;
    Timing m_timing;
    CEventHistory m_history;
    CReportTransport m_transport;
    std::unique_ptr<CQueueFile> m_file;

    mutable std::mutex m_queueLock;
    std::condition_variable m_wake;
    std::deque<Task> m_queue;
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_failedInARow{0};  // tasks that failed all attempts since the last delivery
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_stop{false};
    std::once_flag m_startOnce;
    std::thread m_thread;
};
