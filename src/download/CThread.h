#pragma once
// A worker thread of the download pool: it sleeps on its wake-up event until it is given one
// segment task, does the work of taskBusiness, and goes back to sleep.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

class CTask;

class CThread {
public:
    enum State : int32_t { StateStop = 0, StateHasTask = 1, StateIdle = 2 };

    CThread();
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // The work on the current task, run on this thread (none for a plain thread).
    virtual void taskBusiness() {}

    // Starts the thread: 1, or 0 when it could not be created. keepAlive (may be empty) is held
    // by the thread until it ends: whatever the thread's work touches stays alive that long.
    int init(std::shared_ptr<void> keepAlive = nullptr);
    // Hands the thread one task and wakes it. Returns 1.
    int doTask(CTask* task);
    // Asks the thread to end: at once when idle, after its current task when busy.
    void stop();
    // The thread body; returns 1 when told to stop.
    unsigned ThreadFunc();

    // An event the thread signals whenever it has finished a task (the driver's wake-up).
    void setDoneEvent(HANDLE event) { m_hDone = event; }
    CTask* getTask() const { return m_pTask; }
    void setTask(CTask* task) { m_pTask = task; }
    HANDLE getHandle() const { return m_hThread; }
    int32_t getState() const { return m_nState.load(); }
    void setState(int32_t state) { m_nState.store(state); }

protected:
    HANDLE m_hThread = nullptr;               // from _beginthreadex, null until started
    std::atomic<int32_t> m_nState{StateIdle};
    CTask* m_pTask = nullptr;                 // current task, not owned
    HANDLE m_hEvent = nullptr;                // auto-reset wake-up event
    HANDLE m_hDone = nullptr;                 // signalled after each task (not owned)
};
