#include "ReportSDK/CNetworkCommunicate.h"

#include <curl/curl.h>  // before windows.h: it brings winsock2.h
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cwchar>

#include "ReportSDK/CManagement.h"
#include "ReportSDK/IWebLogNew.h"
#include "ReportSDK/ReportFormat.h"

namespace {

constexpr size_t kShortestFiledText = 20;  // filed keys and contents shorter than this are never sent

// The mutex whose holder delivers the queue file at this path.
std::wstring DeliverMutexNameFor(const std::wstring& queueFile) {
    std::wstring fileMutex = CQueueFile::MutexNameFor(queueFile);
    return L"ReportSdkDeliver_" + fileMutex.substr(fileMutex.find(L'_') + 1);
}

}  // namespace

CNetworkCommunicate& CNetworkCommunicate::Instance() {
    static CNetworkCommunicate* instance = new CNetworkCommunicate(CManagement::Instance());
    return *instance;
}

CNetworkCommunicate::CNetworkCommunicate(CManagement& management) : CNetworkCommunicate(management, Timing()) {}

CNetworkCommunicate::CNetworkCommunicate(CManagement& management, Timing timing)
    : m_management(management),
      m_timing(timing),
      m_history(&management.Log()),
      m_transport(management.ExeFolder(), &management.Log()) {}

CNetworkCommunicate::~CNetworkCommunicate() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_stop = true;
        m_cancel = true;
        m_giveUp.now = true;
    }
    Notify();
    if (m_thread.joinable()) m_thread.join();
    if (m_deliverMutex) CloseHandle(m_deliverMutex);
}

void CNetworkCommunicate::Notify() {
    m_wake.notify_all();
    m_state.notify_all();
}

void CNetworkCommunicate::Start() {
    std::call_once(m_startOnce, [this] {
        curl_global_init(CURL_GLOBAL_ALL);
        std::wstring path = m_management.QueueFilePath();
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            // Without a safe folder for it (see CManagement::Init) nothing is filed: events are
            // sent from memory only.
            if (!path.empty()) {
                m_file.reset(new CQueueFile(path, &m_management.Log()));
                m_file->SetJournalLimit(m_timing.journalMaxBytes);
            }
        }
        m_deliverMutex = CreateMutexW(nullptr, FALSE, DeliverMutexNameFor(path).c_str());
        m_thread = std::thread(&CNetworkCommunicate::ThreadMain, this);
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_state.wait(lock, [this] { return m_tried; });
    });
}

int32_t CNetworkCommunicate::SendableKind(const std::string& content) {
    int32_t kind = ReportFormat::TaskKind(content);
    if (kind == 1 && ReportFormat::Ga4FiledQuery(content).empty()) return 0;  // no collection address in it
    return kind;
}

void CNetworkCommunicate::PushLocked(const Task& task, std::vector<std::string>& dropped) {
    while (m_queue.size() >= kMaxQueuedEvents) {
        dropped.push_back(m_queue.front().key);
        m_known.erase(m_queue.front().key);
        m_queue.pop_front();
    }
    m_known.insert(task.key);
    m_queue.push_back(task);
}

void CNetworkCommunicate::RemoveDropped(const std::vector<std::string>& dropped) {
    for (const std::string& key : dropped) {
        m_management.Log().Write("Queue full (%d), dropped %s", int(kMaxQueuedEvents), key.c_str());
        if (m_file) m_file->Append(key, std::string(), CQueueFile::kStatusDelivered);
    }
}

void CNetworkCommunicate::ForgetJournalDrops() {
    if (!m_file) return;
    std::vector<std::string> dropped = m_file->TakeDroppedKeys();
    if (dropped.empty()) return;
    std::unordered_set<std::string> gone(dropped.begin(), dropped.end());
    std::lock_guard<std::mutex> lock(m_queueLock);
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (gone.count(it->key)) {
            m_known.erase(it->key);
            gone.erase(it->key);
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    // Known but not queued: in flight. Should that send fail, the task is not queued again.
    for (const std::string& key : gone)
        if (m_known.count(key)) m_droppedInFlight.insert(key);
}

int32_t CNetworkCommunicate::AddTask(const std::string& offeredKey, const std::string& content, bool persist,
                                     bool bWait) {
    // Two offers of the same event in the same millisecond have the same key; the second is
    // numbered, so that it is filed and sent as an event of its own instead of refreshing the first.
    std::string key = offeredKey;
    int repeats = m_history.CountAndAppendUnique(key);
    if (repeats > CEventHistory::kMaxRepeats) {
        m_management.Log().Write("Detect repeat %d, more than %d within %d seconds", repeats, CEventHistory::kMaxRepeats,
                                 CEventHistory::kWindowSeconds);
        return kReportFlood;
    }
    Task task;
    task.key = key;
    task.content = content;
    task.kind = SendableKind(content);
    if (task.kind == 0) {
        // No request exists for it; queueing it would only keep it circling.
        m_management.Log().Write("Task of unknown kind not queued: %s", key.c_str());
        return kReportUnknownKind;
    }
    CQueueFile* file;
    bool sendNow = false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        file = m_file.get();
        // Sent here only by the process that delivers the queue, and only when the same key is
        // not already waiting (then this offer refreshes that entry and it is sent once).
        if (bWait && m_delivering && !m_ended && m_known.count(key) == 0) {
            sendNow = true;
            m_known.insert(key);  // before it is filed: a fold must not queue it meanwhile
            ++m_waitingSends;     // the queue is not let go while it is sent
        }
    }
    bool filed = !persist || !file || file->Append(key, content, CQueueFile::kStatusWaiting);
    if (persist && file && filed) ++m_recordsSinceFold;
    ForgetJournalDrops();
    if (sendNow) {
        bool delivered = SendTask(task, persist && filed);
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            --m_waitingSends;
        }
        m_state.notify_all();
        if (delivered) return kReportAccepted;
        return filed ? kReportDeliveryFailed : kReportNotFiled;
    }
    bool inFile = persist && file && filed;
    std::vector<std::string> dropped;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        // A process that does not deliver the queue keeps nothing that is filed: the process
        // that delivers it takes the entry from the file.
        if (!m_ended && (m_delivering || !inFile) && m_known.count(key) == 0) PushLocked(task, dropped);
    }
    m_wake.notify_one();
    RemoveDropped(dropped);
    if (!filed) return kReportNotFiled;
    return bWait ? kReportDeliveryFailed : kReportAccepted;
}

int CNetworkCommunicate::PostTask(const Task& task) const {
    if (task.kind == 1) {
        // Only the query comes from the task; the endpoint is always the configured one.
        std::string query = ReportFormat::Ga4FiledQuery(task.content);
        if (query.empty()) return 0;
        return m_transport.PostDataError(ReportFormat::Ga4Address(m_management.Ga4Base(), std::string(), query),
                                         std::string(), &m_giveUp);
    }
    return m_transport.PostDataError(m_management.CollectorAddress(), task.content, &m_giveUp);
}

bool CNetworkCommunicate::SendTask(const Task& task, bool persist) {
    int success = task.kind == 1 ? 204 : 200;
    bool delivered = false;
    for (int attempt = 0; attempt < m_timing.attempts && !delivered && !m_cancel; ++attempt) {
        delivered = PostTask(task) == success;
        if (!delivered) {
            std::unique_lock<std::mutex> lock(m_queueLock);
            m_wake.wait_for(lock, std::chrono::milliseconds(m_timing.retryPauseMs), [this] { return m_cancel.load(); });
        }
    }
    if (delivered) {
        m_failedInARow = 0;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            RecordKindOutcomeLocked(task.kind, true);
        }
        // Removed from the file before it is forgotten here, and both under the fold lock: a fold
        // reads the file first and looks at what is known afterwards, so one running in between
        // would find the entry still waiting in what it read, no longer known, and send it again.
        std::lock_guard<std::mutex> foldLock(m_foldLock);
        bool removed = !persist || !m_file || m_file->Append(task.key, std::string(), CQueueFile::kStatusDelivered);
        if (removed) ++m_recordsSinceFold;
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (!removed) m_pendingRemovals.insert(task.key);
        m_known.erase(task.key);
        m_droppedInFlight.erase(task.key);
    } else {
        ++m_failedInARow;
        std::vector<std::string> dropped;
        bool requeued = false;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_known.erase(task.key);
            // After the end the task stays in the file only: the process that takes the queue
            // over sends it.
            if (m_droppedInFlight.erase(task.key)) {
                // dropped by the journal's bound while it was sent: gone, as the drop said
            } else if (!m_cancel) {
                RecordKindOutcomeLocked(task.kind, false);
                PushLocked(task, dropped);
                requeued = true;
            }
        }
        // Behind the rest in the file too, so that the next process does not begin with it.
        if (requeued && persist && m_file)
            m_file->Append(task.key, task.content, CQueueFile::kStatusWaiting, CQueueFile::kAppendWaitMs, true);
        ForgetJournalDrops();
        RemoveDropped(dropped);
    }
    return delivered;
}

bool CNetworkCommunicate::FoldLocked(std::vector<CQueueFile::Entry>* entries) {
    std::vector<std::string> removals;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        removals.assign(m_pendingRemovals.begin(), m_pendingRemovals.end());
    }
    for (const std::string& key : removals)
        if (m_file->Append(key, std::string(), CQueueFile::kStatusDelivered)) {
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_pendingRemovals.erase(key);
        }

    CQueueFile::Limits limits;
    limits.maxEntries = kMaxQueuedEvents;
    limits.maxAgeMs = kMaxEventAgeMs;
    limits.nowMs = ReportFormat::LocalClockMillis();
    std::vector<CQueueFile::Dropped> dropped;
    m_recordsSinceFold = 0;
    if (!m_file->Fold(limits, entries, &dropped)) return false;
    for (const CQueueFile::Dropped& d : dropped) {
        if (d.tooOld)
            m_management.Log().Write("Queue entry older than %d days, dropped %s", int(kMaxEventAgeMs / 86400000),
                                     d.key.c_str());
        else
            m_management.Log().Write("Queue full (%d), dropped %s", int(kMaxQueuedEvents), d.key.c_str());
    }
    if (!dropped.empty()) {
        std::lock_guard<std::mutex> lock(m_queueLock);
        std::unordered_set<std::string> gone;
        for (const CQueueFile::Dropped& d : dropped) gone.insert(d.key);
        for (auto it = m_queue.begin(); it != m_queue.end();) {
            if (gone.count(it->key)) {
                m_known.erase(it->key);
                it = m_queue.erase(it);
            } else {
                ++it;
            }
        }
    }
    return true;
}

void CNetworkCommunicate::FoldAndQueue(bool firstLoad) {
    std::lock_guard<std::mutex> foldLock(m_foldLock);
    if (!m_file) return;
    std::vector<CQueueFile::Entry> entries;
    bool folded = false;
    if (firstLoad || FoldDue()) {
        folded = FoldLocked(&entries);
        RecordFoldOutcome(folded);
    }
    if (!folded) {
        // The file could not be written now; what it and the journal hold can still be read and
        // sent (the journal keeps the removals of what is delivered meanwhile).
        if (!m_file->ReadEntries(entries)) {
            if (firstLoad) m_management.Log().Write("Read history: %d/%d", 0, 0);
            return;
        }
    }

    int pending = 0;
    std::vector<std::string> full;
    for (const CQueueFile::Entry& e : entries) {
        if (!e.raw.isObject() || e.status == CQueueFile::kStatusDelivered) continue;
        ++pending;
        if (e.key.size() < kShortestFiledText || e.content.size() < kShortestFiledText) continue;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            if (m_known.count(e.key) || m_skipped.count(e.key) || m_pendingRemovals.count(e.key)) continue;
        }
        Task task;
        task.key = e.key;
        task.content = e.content;
        task.kind = SendableKind(e.content);
        if (task.kind == 0) {
            // No request exists for it (only an edited or damaged file holds one): it goes.
            m_management.Log().Write("Filed task of unknown kind dropped: %s", e.key.c_str());
            if (!m_file->Append(e.key, std::string(), CQueueFile::kStatusDelivered)) {
                std::lock_guard<std::mutex> lock(m_queueLock);
                m_skipped.insert(e.key);
            }
            continue;
        }
        if (firstLoad) {
            int repeats = m_history.CountAndAppend(e.key);
            if (repeats > CEventHistory::kMaxRepeats) {
                m_management.Log().Write("Detect repeat %d, more than %d within %d seconds", repeats,
                                         CEventHistory::kMaxRepeats, CEventHistory::kWindowSeconds);
                std::lock_guard<std::mutex> lock(m_queueLock);
                m_skipped.insert(e.key);
                continue;
            }
        }
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_cancel) break;
        // Looked at again with the push: an offer of the same key may have queued it meanwhile.
        if (m_known.count(e.key) || m_pendingRemovals.count(e.key)) continue;
        PushLocked(task, full);
    }
    RemoveDropped(full);
    m_wake.notify_one();
    if (firstLoad) {
        m_historyCount = int(entries.size());
        m_management.Log().Write("Read history: %d/%d", pending, int(entries.size()));
    }
}

bool CNetworkCommunicate::TakeQueue() {
    bool first = true;
    for (;;) {
        if (m_cancel) return false;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            if (m_stopTrying) return false;
        }
        DWORD r = m_deliverMutex ? WaitForSingleObject(m_deliverMutex, first ? 0 : m_timing.idleWaitMs) : WAIT_OBJECT_0;
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
            std::lock_guard<std::mutex> lock(m_queueLock);
            if (m_stopTrying || m_cancel) {
                if (m_deliverMutex) ReleaseMutex(m_deliverMutex);
                return false;
            }
            m_delivering = true;  // before the load: an offer from now on is queued here
            return true;
        }
        if (r == WAIT_FAILED) Sleep(m_timing.idleWaitMs);
        if (first) {
            first = false;
            m_management.Log().Write("Queue file delivered by another process; waiting for it");
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_tried = true;
            m_state.notify_all();
        }
    }
}

void CNetworkCommunicate::LetQueueGo() {
    // A delivery still in progress on a caller's thread ends within the grace time: its outcome
    // is recorded before the next process loads the file.
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_state.wait_for(lock, std::chrono::milliseconds(kEndGraceMs + 3000), [this] { return m_waitingSends == 0; });
    }
    // What was appended is folded in, so that the next process finds a tidy file.
    {
        std::lock_guard<std::mutex> foldLock(m_foldLock);
        if (m_file) FoldLocked(nullptr);
    }
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_delivering = false;
    }
    if (m_deliverMutex) ReleaseMutex(m_deliverMutex);
}

void CNetworkCommunicate::ThreadMain() {
    bool took = TakeQueue();
    if (took) {
        if (m_file) m_file->RemoveStrayNewFiles();  // no other process folds now
        FoldAndQueue(true);
    }
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_tried = true;
    }
    m_state.notify_all();
    if (took) {
        for (;;) {
            Task task;
            bool haveTask = false;
            {
                std::unique_lock<std::mutex> lock(m_queueLock);
                if (m_queue.empty() && !m_cancel)
                    m_wake.wait_for(lock, std::chrono::milliseconds(m_timing.idleWaitMs));
                if (m_cancel) break;
                auto next = NextTaskLocked();
                if (next != m_queue.end()) {
                    task = *next;
                    m_queue.erase(next);
                    ++m_inFlight;  // taken and counted in one step, so Idle never sees it in neither place
                    haveTask = true;
                }
            }
            if (haveTask) {
                SendTask(task, true);
                --m_inFlight;
                if (m_recordsSinceFold >= kFoldAfterRecords && FoldDue()) FoldAndQueue(false);
            } else if (m_file && m_file->JournalBytes() > 0 && FoldDue()) {
                // Nothing to send: fold what was filed and take up what other processes filed.
                FoldAndQueue(false);
            }
        }
        LetQueueGo();
    }
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_threadDone = true;
    }
    m_state.notify_all();
}

size_t CNetworkCommunicate::QueueLength() const {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.size();
}

bool CNetworkCommunicate::Idle() const {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.empty() && m_inFlight == 0;
}

bool CNetworkCommunicate::Delivering() const {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_delivering;
}

bool CNetworkCommunicate::WaitDelivering(DWORD ms) {
    std::unique_lock<std::mutex> lock(m_queueLock);
    m_state.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_delivering || m_threadDone; });
    if (m_delivering) return true;
    m_stopTrying = true;
    return false;
}

bool CNetworkCommunicate::WaitStopped(DWORD ms) {
    std::unique_lock<std::mutex> lock(m_queueLock);
    if (!m_thread.joinable()) return true;
    return m_state.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_threadDone; });
}

std::deque<CNetworkCommunicate::Task>::iterator CNetworkCommunicate::NextTaskLocked() {
    ULONGLONG now = GetTickCount64();
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        int32_t kind = it->kind;
        if (kind < 1 || kind > 2 || m_kindBackOff[kind].ms == 0 || now >= m_kindBackOff[kind].until) return it;
    }
    return m_queue.begin();  // only kinds that back off: the oldest goes, as nothing else waits
}

void CNetworkCommunicate::RecordKindOutcomeLocked(int32_t kind, bool delivered) {
    if (kind < 1 || kind > 2) return;
    KindBackOff& b = m_kindBackOff[kind];
    if (delivered) {
        b = KindBackOff();
        return;
    }
    b.ms = b.ms == 0 ? m_timing.kindBackOffMs : std::min(b.ms * 2, m_timing.kindBackOffMaxMs);
    b.until = GetTickCount64() + b.ms;
}

bool CNetworkCommunicate::FoldDue() const {
    return m_foldBackOff == 0 || GetTickCount64() >= m_foldRetryAt;
}

void CNetworkCommunicate::RecordFoldOutcome(bool folded) {
    unsigned was = m_foldBackOff;
    if (folded) {
        m_foldBackOff = 0;
        if (was != 0) m_management.Log().Write("Queue file folded again");
        return;
    }
    unsigned next = was == 0 ? m_timing.foldBackOffMs : std::min(was * 2, m_timing.foldBackOffMaxMs);
    m_foldBackOff = std::max(next, 1u);
    m_foldRetryAt = GetTickCount64() + next;
    if (was == 0)
        m_management.Log().Write("Queue file cannot be folded; tried again after %u ms, doubling up to %u s", next,
                                 m_timing.foldBackOffMaxMs / 1000);
}

bool CNetworkCommunicate::EndAndWait() {
    MarkEnded();
    return WaitStopped(kEndGraceMs + kEndMarginMs);
}

void CNetworkCommunicate::MarkEnded() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_ended = true;
        m_cancel = true;
        m_stopTrying = true;
        if (m_giveUp.at == 0) m_giveUp.at = GetTickCount64() + kEndGraceMs;
    }
    Notify();
}

bool CNetworkCommunicate::WaitSendRest(const SendRestLimits& limits) {
    ULONGLONG start = GetTickCount64();
    m_failedInARow = 0;  // only failures seen during this wait count
    for (;;) {
        if (Idle()) {
            FoldAndQueue(false);  // what other processes filed meanwhile
            if (Idle()) return true;
        }
        size_t waiting;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            waiting = m_queue.size() + size_t(m_inFlight.load());
        }
        if (waiting == 0) continue;
        if (m_failedInARow >= limits.maxFailedRounds * int(waiting)) {
            m_management.Log().Write("Send rest logs, %d left after %d failed deliveries in a row", int(waiting),
                                     m_failedInARow.load());
            return false;
        }
        if (GetTickCount64() - start >= limits.maxTotalMs) {
            m_management.Log().Write("Send rest logs, %d left when the time was up", int(waiting));
            return false;
        }
        Sleep(limits.pollMs);
    }
}
