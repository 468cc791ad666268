#include "ReportSDK/CNetworkCommunicate.h"

#include <curl/curl.h>  // before windows.h: it brings winsock2.h
#include <windows.h>

#include <chrono>

#include "ReportSDK/CManagement.h"
#include "ReportSDK/IWebLogNew.h"
#include "ReportSDK/ReportFormat.h"

namespace {
constexpr size_t kShortestFiledText = 20;  // filed keys and contents shorter than this are never sent
}

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
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CNetworkCommunicate::Start() {
    std::call_once(m_startOnce, [this] {
        curl_global_init(CURL_GLOBAL_ALL);
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_file.reset(new CQueueFile(m_management.QueueFilePath(), &m_management.Log()));
        }
        m_thread = std::thread(&CNetworkCommunicate::ThreadMain, this);
    });
}

int32_t CNetworkCommunicate::AddTask(const std::string& key, const std::string& content, bool persist, bool bWait) {
    int repeats = m_history.CountAndAppend(key);
    if (repeats > CEventHistory::kMaxRepeats) {
        m_management.Log().Write("Detect repeat %d, more than %d within %d seconds", repeats, CEventHistory::kMaxRepeats,
                                 CEventHistory::kWindowSeconds);
        return kReportFlood;
    }
    Task task;
    task.key = key;
    task.content = content;
    task.kind = ReportFormat::TaskKind(content);
    if (task.kind == 0) {
        // No request exists for it; queueing it would only keep it circling.
        m_management.Log().Write("Task of unknown kind not queued: %s", key.c_str());
        return kReportFlood;
    }
    CQueueFile* file;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        file = m_file.get();
    }
    if (persist && file) file->Update(key, content, CQueueFile::kStatusWaiting);
    if (bWait && !m_ended) return SendTask(task, persist) ? kReportAccepted : kReportDeliveryFailed;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.push_back(task);
    }
    m_wake.notify_one();
    return kReportAccepted;
}

int CNetworkCommunicate::PostTask(const Task& task) const {
    if (task.kind == 1) return m_transport.PostDataError(task.content, std::string());
    return m_transport.PostDataError(m_management.CollectorAddress(), task.content);
}

bool CNetworkCommunicate::SendTask(const Task& task, bool persist) {
    int success = task.kind == 1 ? 204 : 200;
    bool delivered = false;
    for (int attempt = 0; attempt < m_timing.attempts && !delivered; ++attempt) {
        delivered = PostTask(task) == success;
        if (!delivered) {
            std::unique_lock<std::mutex> lock(m_queueLock);
            m_wake.wait_for(lock, std::chrono::milliseconds(m_timing.retryPauseMs), [this] { return m_stop.load(); });
        }
    }
    if (delivered) {
        m_failedInARow = 0;
        CQueueFile* file;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            file = m_file.get();
        }
        if (persist && file) file->Update(task.key, task.content, CQueueFile::kStatusDelivered);
    } else {
        ++m_failedInARow;
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.push_back(task);
    }
    return delivered;
}

void CNetworkCommunicate::ThreadMain() {
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            while (m_queue.empty() && !m_stop)
                m_wake.wait_for(lock, std::chrono::milliseconds(m_timing.idleWaitMs));
            if (m_stop) return;
            task = m_queue.front();
            m_queue.pop_front();
            ++m_inFlight;  // taken and counted in one step, so Idle never sees it in neither place
        }
        SendTask(task, true);
        --m_inFlight;
    }
}

int CNetworkCommunicate::LoadHistory() {
    CQueueFile* file;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        file = m_file.get();
    }
    std::vector<CQueueFile::Entry> entries;
    if (!file || !file->ReadEntries(entries)) {
        m_management.Log().Write("Read history: %d/%d", 0, 0);
        return 0;
    }
    int pending = 0;
    for (const CQueueFile::Entry& e : entries) {
        if (!e.raw.isObject() || e.status == CQueueFile::kStatusDelivered) continue;
        ++pending;
        if (e.key.size() < kShortestFiledText || e.content.size() < kShortestFiledText) continue;
        AddTask(e.key, e.content, false, false);
    }
    m_management.Log().Write("Read history: %d/%d", pending, int(entries.size()));
    return int(entries.size());
}

size_t CNetworkCommunicate::QueueLength() const {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.size();
}

bool CNetworkCommunicate::Idle() const {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.empty() && m_inFlight == 0;
}

bool CNetworkCommunicate::WaitSendRest(const SendRestLimits& limits) {
    ULONGLONG start = GetTickCount64();
    m_failedInARow = 0;  // only failures seen during this wait count
    for (;;) {
        size_t waiting;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            if (m_queue.empty() && m_inFlight == 0) return true;
            waiting = m_queue.size() + size_t(m_inFlight.load());
        }
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
