#include "download/CThreadManager.h"

#include <algorithm>

#include "download/CTask.h"
#include "easylogging++.h"

CThreadManager::CThreadManager() = default;

CThreadManager::~CThreadManager() {
    // Threads that were never stopped are stopped here, so none runs on a deleted object.
    for (CThread* t : m_busyThreads) m_freeThreads.push_back(t);
    m_busyThreads.clear();
    if (!m_threads.empty()) {
        for (CThread* t : m_freeThreads) t->stop();
        releaseThreads();
    }
}

void CThreadManager::startThread(CThread* thread) {
    std::unique_ptr<CThread> owned(thread);
    if (!owned->init()) return;
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
    for (CThread* t : m_freeThreads) t->stop();
    LOG(INFO) << " start wait threads exit";
    for (HANDLE h : m_threadHandles) WaitForSingleObject(h, 30000);
    LOG(INFO) << " end wait threads exit";
    return 1;
}

void CThreadManager::releaseThreads() {
    for (HANDLE h : m_threadHandles) {
        if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
            LOG(INFO) << " wait for a worker still running";
            WaitForSingleObject(h, INFINITE);
        }
    }
    m_freeThreads.clear();
    m_busyThreads.clear();
    m_threadHandles.clear();
    m_threads.clear();  // each worker closes its thread handle and its transfer handle
}
