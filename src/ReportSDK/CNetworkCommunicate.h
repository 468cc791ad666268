#pragma once
// The send queue of the report SDK: the flood check, the queue file, the in-memory FIFO and the
// one sending thread that works it off, and the wait of the "-sendrestlogs" copy.
//
// One process at a time delivers a queue file: the one whose sending thread holds the file's
// named delivery mutex. That process loads what is filed, sends it, takes up what other
// processes file meanwhile (at each fold of the journal) and is the only one that removes
// delivered entries. Another process using the same file (a run started while the
// "-sendrestlogs" copy of the last run still delivers, or that copy while the ending run lets go)
// only files its events; its sending thread waits for the mutex and loads the file when it gets
// it. So no event is sent by two processes, and a waiting caller never sends what the sending
// thread has (its key is known to the queue while it is in flight).
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

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
        // An endpoint kind (GA4, the analytics collector) whose task failed all its attempts
        // waits this long before its next task, doubling with each further failure up to the
        // cap, while the tasks of the other kind go first; a delivery ends the back-off. With
        // nothing of another kind queued, the failing kind's tasks are tried at once.
        unsigned kindBackOffMs = 10 * 1000;
        unsigned kindBackOffMaxMs = 5 * 60 * 1000;
        // A fold of the journal that failed (the queue file cannot be replaced) is tried again
        // after this, doubling up to the cap, instead of at every idle wake; meanwhile the
        // journal is read as it is, so what it holds is still sent.
        unsigned foldBackOffMs = 2000;
        unsigned foldBackOffMaxMs = 5 * 60 * 1000;
        // Bound of the journal while folds fail (CQueueFile::SetJournalLimit).
        uint64_t journalMaxBytes = CQueueFile::kMaxJournalBytes;
    };

    // How long the "-sendrestlogs" copy keeps trying. It ends when the queue is empty and no
    // task is in flight, or when every queued task failed maxFailedRounds times in a row
    // without any delivery in between, or after maxTotalMs. It gives up at once, leaving the
    // queue to whoever delivers it, when it cannot take the queue within takeOverMs (the ending
    // run lets go within a second or two; a new run that took it keeps it).
    struct SendRestLimits {
        unsigned pollMs = 5000;
        int maxFailedRounds = 2;
        unsigned maxTotalMs = 10 * 60 * 1000;
        unsigned takeOverMs = 30 * 1000;
    };

    // What the queue keeps. A run files on the order of a hundred events; 1,000 hold about ten
    // runs' worth, and a "-sendrestlogs" copy can still post that many within its 10 minutes on a
    // slow line (about 0.6 s a request). Past that number the oldest go first. An event older than
    // a week goes as well: a week covers a machine that stayed offline over a holiday, and an
    // older event describes an installation long settled; GA4 counts an event on the day it
    // arrives, so a late one would be counted on the wrong day. Both are logged.
    static constexpr size_t kMaxQueuedEvents = 1000;
    static constexpr int64_t kMaxEventAgeMs = 7LL * 24 * 60 * 60 * 1000;
    // The journal is folded into the file when the sending thread has nothing to send, and
    // after this many records in between.
    static constexpr int kFoldAfterRecords = 200;
    // When the report object ends, a request already in flight may still finish within this
    // time (then it is given up): one that the collector has received is seldom sent twice, and
    // ending never waits longer than this and the library's reaction time (about a second).
    static constexpr unsigned kEndGraceMs = 1000;
    // How long the ending run waits beyond the grace for its sending thread to record the
    // outcome of that request and let the queue go, before the copy that takes the queue over
    // is started (the library's reaction time, the removal from the file and the last fold).
    static constexpr unsigned kEndMarginMs = 2000;

    // The process's one sending queue, bound to CManagement::Instance().
    static CNetworkCommunicate& Instance();

    explicit CNetworkCommunicate(CManagement& management);
    CNetworkCommunicate(CManagement& management, Timing timing);
    // Stops the sending thread (a request in flight is given up), which folds the journal and
    // lets the queue go. The setup's own object is never destroyed; tests' objects are.
    ~CNetworkCommunicate();
    CNetworkCommunicate(const CNetworkCommunicate&) = delete;
    CNetworkCommunicate& operator=(const CNetworkCommunicate&) = delete;

    // Binds the queue file of the management's product folder and starts the sending thread.
    // Returns once the thread has tried to take the queue: when no other process delivers it,
    // the filed events are loaded ("Read history") before this returns; otherwise the thread
    // waits for the queue in the background. Once; later calls do nothing.
    void Start();

    // 0 accepted (filed and queued; delivered when bWait), -1 refused as a flood, -3 of no
    // known kind, -2 bWait delivery failed or not tried here (the event stays filed), -4 not
    // filed (queued in memory only). See ReportResult.
    int32_t AddTask(const std::string& key, const std::string& content, bool persist, bool bWait);

    size_t QueueLength() const;
    // Neither queued nor in-flight tasks.
    bool Idle() const;
    // This process delivers the queue file now.
    bool Delivering() const;
    // Entries found in the file when this process took the queue.
    int HistoryCount() const { return m_historyCount; }
    // Waits until this process delivers the queue file; when it does not within ms, the sending
    // thread stops trying and false is returned.
    bool WaitDelivering(DWORD ms);
    // The "-sendrestlogs" wait: returns when Idle or when a limit of SendRestLimits is reached;
    // true when everything was delivered.
    bool WaitSendRest(const SendRestLimits& limits);

    // The report object ends: no request is started any more and every pause ends at once;
    // requests in flight are given up after kEndGraceMs. No caller waits longer. The sending
    // thread then folds the journal and lets the queue go (the "-sendrestlogs" copy takes it
    // over). Offers after this are filed only. Returns at once.
    void MarkEnded();
    // Waits until the sending thread has let the queue go; false when ms passed first.
    bool WaitStopped(DWORD ms);
    // MarkEnded, then waits (at most kEndGraceMs + kEndMarginMs) until a request in flight has
    // finished or been given up and its outcome is in the file, and the queue is let go. A
    // process that ends right after this never leaves a delivered event filed as waiting.
    bool EndAndWait();

    CEventHistory& History() { return m_history; }
    CQueueFile* QueueFile() { return m_file.get(); }

private:
    void ThreadMain();
    bool TakeQueue();
    void LetQueueGo();
    // Sends one task now: up to the attempts of Timing; a task that fails them all goes back to
    // the end of the queue; a delivered one leaves the file when persist.
    bool SendTask(const Task& task, bool persist);
    int PostTask(const Task& task) const;
    // Folds the journal into the file within the limits (logging what they drop and forgetting it
    // here too) after recording the removals still pending; under m_foldLock.
    bool FoldLocked(std::vector<CQueueFile::Entry>* entries);
    // Folds the journal into the file and queues what the file holds that is neither queued nor
    // in flight here (at the first load with the flood check); logs what the limits dropped.
    void FoldAndQueue(bool firstLoad);
    // Kind of a content as it can be sent: 0 when no request exists for it.
    static int32_t SendableKind(const std::string& content);
    // Appends under the queue lock, keeping at most kMaxQueuedEvents (the oldest go; their keys
    // are returned so that the caller removes them from the file outside the lock).
    void PushLocked(const Task& task, std::vector<std::string>& dropped);
    void RemoveDropped(const std::vector<std::string>& dropped);
    // Forgets the queued tasks whose records the journal's bound dropped (as the queue's own
    // limit drops its oldest), so that a later failure does not file them again.
    void ForgetJournalDrops();
    void Notify();
    // The next task to send, under the queue lock: the oldest of a kind not backing off, else the
    // oldest of all. m_queue.end() when the queue is empty.
    std::deque<Task>::iterator NextTaskLocked();
    void RecordKindOutcomeLocked(int32_t kind, bool delivered);
    // Whether a fold is due (no failed fold waits out its back-off), and the outcome of one:
    // the SDK log says when folds start failing and when they work again, not every attempt.
    bool FoldDue() const;
    void RecordFoldOutcome(bool folded);

    CManagement& m_management;
    Timing m_timing;
    CEventHistory m_history;
    CReportTransport m_transport;
    std::unique_ptr<CQueueFile> m_file;
    HANDLE m_deliverMutex = nullptr;

    mutable std::mutex m_queueLock;
    std::condition_variable m_wake;   // the queue, the pauses and the end
    std::condition_variable m_state;  // taking and letting go of the queue
    std::deque<Task> m_queue;
    // Keys of the tasks queued or in flight in this process: a fold never queues them again.
    std::unordered_set<std::string> m_known;
    // Filed keys this process will not send (refused at the first load, of no known kind).
    std::unordered_set<std::string> m_skipped;
    // Delivered keys whose removal could not be recorded yet; applied at the next fold.
    std::unordered_set<std::string> m_pendingRemovals;
    // In-flight keys whose journal records the bound dropped: not queued again if they fail.
    std::unordered_set<std::string> m_droppedInFlight;
    bool m_delivering = false;
    bool m_tried = false;       // the thread has tried to take the queue once
    bool m_threadDone = false;  // the thread has let the queue go (or never took it) and ended
    bool m_stopTrying = false;
    std::mutex m_foldLock;
    // Back-off of each endpoint kind (index 1 GA4, 2 collector) after a task failed all attempts.
    struct KindBackOff {
        unsigned ms = 0;          // 0: not backing off
        ULONGLONG until = 0;      // tick count when its next task may go before other kinds' again
    };
    KindBackOff m_kindBackOff[3];
    std::atomic<unsigned> m_foldBackOff{0};  // 0: folds work
    std::atomic<ULONGLONG> m_foldRetryAt{0};
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_failedInARow{0};  // tasks that failed all attempts since the last delivery
    std::atomic<int> m_recordsSinceFold{0};
    std::atomic<int> m_historyCount{0};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_cancel{false};  // ended or stopping: no new request, no pause
    CReportTransport::Cancel m_giveUp;  // when requests in flight give up
    std::atomic<int> m_waitingSends{0};  // bWait deliveries in progress on callers' threads
    std::once_flag m_startOnce;
    std::thread m_thread;
};
