#include "download/CThreadManager.h"

#include <algorithm>

#include "download/CTask.h"
#include "easylogging++.h"

CThreadManager::CThreadManager() { m_hTaskDone = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

CThreadManager::~CThreadManager() {
    // Threads that were never stopped are stopped here, so none runs on a deleted object.
    if (!m_threads.empty()) {
        for (const auto& t : m_threads) t->stop();
        releaseThreads();
    }
    if (m_hTaskDone) CloseHandle(m_hTaskDone);
}

void CThreadManager::startThread(CThread* thread) {
    std::unique_ptr<CThread> owned(thread);
    owned->setDoneEvent(m_hTaskDone);
    if (!owned->init(m_keepAlive.lock())) return;
    m_freeThreads.push_back(owned.get());
    m_threadHandles.push_back(owned->getHandle());
    m_threads.push_back(std::move(owned));
}

int CThreadManager::createThreads(int count) {
    for (int i = 0; i < count; ++i) startThread(new CThread());
    return static_cast<int>(m_threadHandles.size());
}

CThread* CThreadManager::getOneFreeThreads() {
    if (m_freeThreads.empty()) {
        LOG(INFO) << "is no free threads";
        return nullptr;
    }
    CThread* t = m_freeThreads.back();
    m_freeThreads.pop_back();
    return t;
}

int CThreadManager::giveTaskToAThreadTodo(CTask* task) {
    CThread* t = getOneFreeThreads();
    if (!t) {
        LOG(INFO) << "get free thread is null" << (task ? task->TaskId.load() : 0);
        return 0;
    }
    t->doTask(task);
    m_busyThreads.push_back(t);
    return 1;
}

void CThreadManager::recycleThreads(std::vector<CThread*>* recycled) {
    // Each thread's state is read once: a thread that goes idle during the pass is either
    // moved now or stays busy until the next pass, never lost.
    std::vector<CThread*> stillBusy;
    for (CThread* t : m_busyThreads) {
        if (t->getState() == CThread::StateIdle) {
            m_freeThreads.push_back(t);
            if (recycled) recycled->push_back(t);
        } else {
            stillBusy.push_back(t);
        }
    }
    m_busyThreads.swap(stillBusy);
}

int CThreadManager::stopThreads() {
    // Busy threads too: a thread that is told while it works ends after its task (the owner
    // ends running transfers at once through its own stop request).
    for (const auto& t : m_threads) t->stop();
    LOG(INFO) << " start wait threads exit";
    for (HANDLE h : m_threadHandles) WaitForSingleObject(h, 30000);
    LOG(INFO) << " end wait threads exit";
    return 1;
}

bool CThreadManager::allEnded() const {
    for (HANDLE h : m_threadHandles)
        if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
    return true;
}

void CThreadManager::releaseThreads(DWORD waitMs) {
    const DWORD start = GetTickCount();
    for (auto& t : m_threads) {
        // The thread that releases the pool may be one of its workers, on its way out after
        // its last use of the pool: it is not waited for.
        if (GetThreadId(t->getHandle()) == GetCurrentThreadId()) continue;
        const DWORD spent = GetTickCount() - start;
        const DWORD wait = spent < waitMs ? waitMs - spent : 0;
        if (WaitForSingleObject(t->getHandle(), wait) != WAIT_OBJECT_0) {
            LOG(INFO) << " a worker did not end, left running";
            t.release();  // never deleted under a running thread
        }
    }
    m_freeThreads.clear();
    m_busyThreads.clear();
    m_threadHandles.clear();
    m_threads.clear();  // each worker closes its thread handle and its transfer handle
}
