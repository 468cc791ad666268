#pragma once
// A pool of worker threads with a free list and a busy list. One thread (the driver) calls
// every operation, so the lists need no lock.
#include <windows.h>

#include <memory>
#include <vector>

#include "download/CThread.h"

class CTask;

class CThreadManager {
public:
    CThreadManager();
    virtual ~CThreadManager();
    CThreadManager(const CThreadManager&) = delete;
    CThreadManager& operator=(const CThreadManager&) = delete;

    // Creates and starts count threads; returns the number of started threads.
    virtual int createThreads(int count);

    // The most recently freed thread, removed from the free list; null when none is free.
    CThread* getOneFreeThreads();
    // Gives the task to a free thread and moves it to the busy list: 1, or 0 when none is free.
    int giveTaskToAThreadTodo(CTask* task);
    // Moves every busy thread that has gone idle back to the free list; the threads moved are
    // appended to recycled when it is given.
    void recycleThreads(std::vector<CThread*>* recycled = nullptr);
    // Tells every thread to end (a busy one after its task) and waits for each, at most 30 s
    // each. Returns 1.
    int stopThreads();
    // Whether every started thread has ended.
    bool allEnded() const;
    // Releases the threads: deletes the workers that have ended, with their transfer handles,
    // and closes their handles. A thread still running after waitMs is never deleted under
    // itself: it is left, with a log line, to whoever keeps it alive (see setKeepAlive). The
    // lists are empty afterwards.
    void releaseThreads(DWORD waitMs = 30000);
    // Signalled whenever a thread has finished a task (auto-reset); the driver waits on it
    // instead of polling.
    HANDLE taskDoneEvent() const { return m_hTaskDone; }
    // What every thread started from now on keeps alive until it ends (the attempt that owns
    // the pool); only a weak reference is kept here.
    void setKeepAlive(const std::shared_ptr<void>& owner) { m_keepAlive = owner; }

    const std::vector<CThread*>& freeThreads() const { return m_freeThreads; }
    const std::vector<CThread*>& busyThreads() const { return m_busyThreads; }
    const std::vector<HANDLE>& threadHandles() const { return m_threadHandles; }

protected:
    // Starts a created thread and files it; a thread that fails to start is deleted.
    void startThread(CThread* thread);

    std::vector<CThread*> m_freeThreads;   // idle, not owning
    std::vector<CThread*> m_busyThreads;   // given a task, not owning
    std::vector<HANDLE> m_threadHandles;   // one per started thread, in creation order
    std::vector<std::unique_ptr<CThread>> m_threads;  // owning, every started thread
    std::weak_ptr<void> m_keepAlive;
    HANDLE m_hTaskDone = nullptr;
};
