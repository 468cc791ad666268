#include "download/CDownloader.h"

#include <process.h>

#include <algorithm>
#include <thread>

#include "easylogging++.h"

namespace {

uintptr_t StartWithBeginThread(unsigned(__stdcall* entry)(void*), void* argument) {
    return _beginthreadex(nullptr, 0, entry, argument, 0, nullptr);
}

std::atomic<CDownloader::ThreadStarter>& Starter() {
    static std::atomic<CDownloader::ThreadStarter> starter{&StartWithBeginThread};
    return starter;
}

}  // namespace

void CDownloader::SetThreadStarter(ThreadStarter starter) { Starter().store(starter ? starter : &StartWithBeginThread); }

CDownloader::CDownloader(const std::string& remotePath, const std::string& localPath, const std::string& taskFilePath,
                         int threadCount)
    : m_remotePath(remotePath),
      m_localPath(localPath),
      m_taskFilePath(taskFilePath),
      m_threadCount(threadCount),
      m_taskManager(remotePath, localPath, taskFilePath),
      m_threadManager(localPath) {
    m_statistics.tick = GetTickCount();
}

std::shared_ptr<CDownloader> CDownloader::Start(const std::string& remotePath, const std::string& localPath,
                                                const std::string& taskFilePath, int threadCount) {
    std::shared_ptr<CDownloader> attempt(new CDownloader(remotePath, localPath, taskFilePath, threadCount));
    // Every thread of the attempt holds it while it runs.
    attempt->m_threadManager.setKeepAlive(attempt);
    auto* holder = new std::shared_ptr<CDownloader>(attempt);
    const uintptr_t handle = Starter().load()(driverEntry, holder);
    if (handle == 0) {
        LOG(INFO) << " driver thread not started, error " << GetLastError();
        delete holder;
    }
    attempt->m_hThread = reinterpret_cast<HANDLE>(handle);
    return attempt;
}

CDownloader::~CDownloader() {
    // Nothing runs on this object any more: its threads held it while they ran.
    m_threadManager.closeFile();
    if (m_hThread) CloseHandle(m_hThread);
}

unsigned __stdcall CDownloader::driverEntry(void* argument) {
    std::shared_ptr<CDownloader> self = std::move(*static_cast<std::shared_ptr<CDownloader>*>(argument));
    delete static_cast<std::shared_ptr<CDownloader>*>(argument);
    const unsigned result = self->downloaderThread();
    self.reset();  // may release the attempt; nothing of it is touched afterwards
    return result;
}

EnumErrorCode CDownloader::downloadInit(const std::string& tag, int verbose) {
    if (!m_hThread) {
        // Without its driver nothing would ever be handed out or finish.
        LOG(INFO) << " [Error]: " << "driver thread not started";
        return ErrNoThreads;
    }
    const EnumErrorCode result = m_taskManager.loadDownloadTask(tag, verbose);
    if (result != ErrSuccess) {
        LOG(INFO) << " [Error]: " << "error to loadDownloadTask";
        return result;
    }
    int threads = m_threadManager.createThreads(m_threadCount);
    if (threads == -1) return ErrOpenFile;
    // Tasks cut afresh trust no byte of a leftover package: one longer than the new content
    // is cut to its length (the shorter rest is overwritten segment by segment).
    if (m_taskManager.generatedAfresh() && !m_threadManager.package().cutTo(m_taskManager.ContentLength))
        LOG(INFO) << " package not cut to " << m_taskManager.ContentLength << ", error " << GetLastError();
    if (threads == 0) {
        LOG(INFO) << " [Error]: " << " createThreads is empty";
        return ErrNoThreads;
    }
    m_dispatched.store(false);
    m_prepared.store(true);
    return ErrSuccess;
}

void CDownloader::setRunState(int32_t state) {
    if (state == RunStop) m_threadManager.requestStop();
    m_runState.store(state);
    if (m_threadManager.taskDoneEvent()) SetEvent(m_threadManager.taskDoneEvent());  // the driver sees it now
}

bool CDownloader::waitDriver(DWORD milliseconds) {
    return !m_hThread || WaitForSingleObject(m_hThread, milliseconds) == WAIT_OBJECT_0;
}

void CDownloader::resetAttempt() {
    m_threadManager.closeFile();
    m_runState.store(RunCreated);
    {
        std::lock_guard<std::mutex> lock(m_statisticsLock);
        m_statistics.tick = GetTickCount();
    }
    if (m_hThread) CloseHandle(m_hThread);
    m_hThread = nullptr;
}

void CDownloader::abandon() {
    m_threadManager.requestStop();
    {
        std::lock_guard<std::mutex> lock(m_saveLock);
        m_abandoned.store(true);
    }
    m_threadManager.package().revokeWrites();
}

DownloadStatistics CDownloader::getStatistics() const {
    std::lock_guard<std::mutex> lock(m_statisticsLock);
    return m_statistics;
}

void CDownloader::updateStatistics() {
    const DWORD now = GetTickCount();
    int64_t downloaded = 0;
    int32_t requestTimes = 0;
    for (const auto& task : m_taskManager.allTasks()) {
        downloaded += task->DownloadedPos.load() - task->StartPos + 1;
        requestTimes += task->RequestTimes.load();
    }
    std::lock_guard<std::mutex> lock(m_statisticsLock);
    const DWORD elapsed = now - m_statistics.tick;
    if (elapsed == 0) return;
    m_taskManager.DownloadTime += elapsed;
    DownloadStatistics next;
    next.tick = now;
    next.downloaded = downloaded;
    const int64_t length = m_taskManager.ContentLength;
    next.percent = length > 0 ? static_cast<int64_t>(static_cast<double>(downloaded) / length * 10000) / 100.0 : 0;
    next.downloadTime = m_taskManager.DownloadTime.load();
    next.requestTimes = requestTimes;
    m_statistics = next;
}

std::string CDownloader::getCdnSummary() const {
    if (!m_threadManager.allEnded()) return std::string();
    const auto& tasks = m_taskManager.allTasks();
    std::string parts;
    for (const auto& task : tasks)
        if (!task->CdnInfo.empty()) parts += task->CdnInfo + ";";
    if (parts.empty()) return std::string();
    return "T(" + tasks.back()->HeadCdnInfo + ");C(" + parts + ")";
}

void CDownloader::saveTaskToFile() {
    // An attempt whose preparation failed (size unknown, too many redirects, package not
    // opened, no worker) has nothing to tell the task file: it stays exactly as the attempt
    // found it, and the next attempt resumes from it.
    std::lock_guard<std::mutex> lock(m_saveLock);
    if (m_prepared.load() && !m_abandoned.load())
        m_taskManager.saveTaskToFile([this] { return m_threadManager.package().flush(); });
}

DWORD CDownloader::retryDelayMs(int32_t failures) {
    // 250 ms after the first failure, doubling up to 4 s: a server that refuses every request
    // is not hammered, and a broken connection is picked up again at once.
    if (failures < 1) failures = 1;
    if (failures > 5) failures = 5;
    return 250u << (failures - 1);
}

void CDownloader::requeueFailed(const std::vector<CThread*>& recycled) {
    const DWORD now = GetTickCount();
    for (CThread* t : recycled) {
        CTask* task = t->getTask();
        if (task && task->TaskStatus.load() == TaskFailed) m_retries.push_back({task, now + retryDelayMs(task->RequestTimes.load())});
    }
}

void CDownloader::releaseDueRetries() {
    const DWORD now = GetTickCount();
    for (auto it = m_retries.begin(); it != m_retries.end();) {
        if (static_cast<int32_t>(now - it->due) >= 0) {
            // Back from the taken list to the todo list: the next request continues at
            // DownloadedPos, so the bytes already written are kept.
            m_taskManager.returnToTodo(it->task);
            it = m_retries.erase(it);
        } else {
            ++it;
        }
    }
}

DWORD CDownloader::nextPassWait() const {
    // Up to kPassMs between passes (statistics, the save mark and the owner's stop are seen at
    // that pace at least), sooner when a failed segment is due again; a finishing worker wakes
    // the driver at once.
    DWORD wait = kPassMs;
    const DWORD now = GetTickCount();
    for (const Retry& r : m_retries) {
        const int32_t left = static_cast<int32_t>(r.due - now);
        if (left <= 0) return 0;
        if (static_cast<DWORD>(left) < wait) wait = static_cast<DWORD>(left);
    }
    return wait;
}

void CDownloader::waitPass(DWORD milliseconds) {
    HANDLE done = m_threadManager.taskDoneEvent();
    if (done) WaitForSingleObject(done, milliseconds);
    else Sleep(milliseconds ? 1 : 0);
}

void CDownloader::saverLoop() {
    std::unique_lock<std::mutex> lock(m_saveRequestLock);
    for (;;) {
        m_saveWake.wait(lock, [this] { return m_saveRequested || m_saverStop; });
        if (!m_saveRequested) return;
        m_saveRequested = false;
        lock.unlock();
        saveTaskToFile();
        lock.lock();
    }
}

void CDownloader::requestSave() {
    std::lock_guard<std::mutex> lock(m_saveRequestLock);
    m_saveRequested = true;
    m_saveWake.notify_one();
}

unsigned CDownloader::downloaderThread() {
    double saveMark = 0;
    std::vector<CThread*> recycled;
    DWORD stopSeen = 0;
    bool stopping = false;
    // The saves of the tenths of progress flush the package, which can take a while: a thread
    // of their own does them, so the driver goes on handing out segments meanwhile.
    std::thread saver([this] { saverLoop(); });
    for (;;) {
        const int32_t state = m_runState.load();
        if (state == RunStop) {
            if (m_threadManager.busyThreads().empty()) break;
            if (!stopping) {
                stopping = true;
                stopSeen = GetTickCount();
            }
            // A worker that does not come back (its transfer was told to end) is not waited for
            // without limit: the pool is stopped all the same, busy workers included.
            if (GetTickCount() - stopSeen >= kStopWaitMs) {
                LOG(INFO) << " workers still busy, stopping the pool";
                break;
            }
            m_threadManager.recycleThreads();
            updateStatistics();
            // Running transfers were told to end; each that ends wakes the driver.
            waitPass(kPassMs);
            continue;
        }
        if (state == RunCreated) {
            waitPass(kPassMs);
            continue;
        }
        if (state != RunRunning) continue;

        if (getStatistics().percent / 10 > saveMark) {
            saveMark += 1;
            requestSave();
        }
        // Workers that went idle first, so the pass that sees the last segment end also sees
        // the download complete.
        recycled.clear();
        m_threadManager.recycleThreads(&recycled);
        requeueFailed(recycled);
        const auto& taken = m_taskManager.takenTasks();
        const bool allComplete = std::all_of(taken.begin(), taken.end(),
                                             [](CTask* t) { return t->TaskStatus.load() == TaskComplete; });
        if (m_taskManager.todoTasks().empty() && allComplete && m_threadManager.busyThreads().empty() &&
            m_retries.empty()) {
            m_runState.store(RunStop);
            LOG(INFO) << " Download will stop";
            continue;
        }
        m_dispatched.store(true);
        releaseDueRetries();
        updateStatistics();
        while (!m_taskManager.todoTasks().empty() && !m_threadManager.freeThreads().empty())
            m_threadManager.giveTaskToAThreadTodo(m_taskManager.getTask());
        waitPass(nextPassWait());
    }
    {
        std::lock_guard<std::mutex> lock(m_saveRequestLock);
        m_saverStop = true;
        m_saveWake.notify_one();
    }
    saver.join();

    const auto& all = m_taskManager.allTasks();
    if (std::any_of(all.begin(), all.end(), [](const std::unique_ptr<CTask>& t) { return t->TaskStatus.load() != TaskComplete; })) {
        LOG(INFO) << " Stopping Download," << "Mission Failed";
        saveTaskToFile();
    }
    m_threadManager.stopThreads();
    updateStatistics();
    LOG(INFO) << " Stopping Download," << "Update DownloadInfo";
    saveTaskToFile();
    // The package is closed when the driver ends, also when its owner has left it.
    m_threadManager.closeFile();
    LOG(INFO) << " Download Stopped\xA3\xA1";
    return 1;
}
