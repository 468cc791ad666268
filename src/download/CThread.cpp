#include "download/CThread.h"

#include <process.h>

#include "download/CTask.h"
#include "easylogging++.h"

namespace {

struct StartArgument {
    CThread* thread;
    std::shared_ptr<void> keepAlive;
};

unsigned __stdcall threadEntry(void* argument) {
    std::unique_ptr<StartArgument> start(static_cast<StartArgument*>(argument));
    std::shared_ptr<void> keepAlive = std::move(start->keepAlive);
    const unsigned result = start->thread->ThreadFunc();
    // The last reference may go here, and the thread's own object with it: nothing of the
    // object is touched afterwards.
    keepAlive.reset();
    return result;
}

}  // namespace

CThread::CThread() {
    m_hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hEvent) LOG(INFO) << "  creat event error code =  " << GetLastError();
}

CThread::~CThread() {
    if (m_hEvent) CloseHandle(m_hEvent);
    if (m_hThread) CloseHandle(m_hThread);
}

int CThread::init(std::shared_ptr<void> keepAlive) {
    auto* start = new StartArgument{this, std::move(keepAlive)};
    uintptr_t handle = _beginthreadex(nullptr, 0, threadEntry, start, 0, nullptr);
    if (handle == 0) {
        LOG(INFO) << "  creat thread error code =  " << GetLastError();
        delete start;
        return 0;
    }
    m_hThread = reinterpret_cast<HANDLE>(handle);
    return 1;
}

int CThread::doTask(CTask* task) {
    m_pTask = task;
    if (task && task->Verbose)
        LOG(INFO) << " Tasks info, download begin, id = " << task->TaskId.load()
                  << ", task status = " << task->TaskStatus.load() << ", thread status = " << m_nState.load();
    // The state is set before the event, so a thread between its steps never misses the task.
    m_nState.store(StateHasTask);
    if (m_hEvent) SetEvent(m_hEvent);
    return 1;
}

void CThread::stop() {
    m_nState.store(StateStop);
    if (m_hEvent) SetEvent(m_hEvent);
}

unsigned CThread::ThreadFunc() {
    for (;;) {
        const int32_t state = m_nState.load();
        if (state == StateIdle) {
            LOG(INFO) << " wait before thread " << GetCurrentThreadId();
            // Without an event the wait fails at once and the thread finds its state by polling.
            if (m_hEvent) WaitForSingleObject(m_hEvent, INFINITE);
            LOG(INFO) << " wait after thread " << GetCurrentThreadId();
        } else if (state == StateStop) {
            return 1;
        } else if (state == StateHasTask) {
            taskBusiness();
            // Idle again, unless it was told to stop meanwhile: then it ends.
            int32_t expected = StateHasTask;
            m_nState.compare_exchange_strong(expected, StateIdle);
            if (m_hDone) SetEvent(m_hDone);
        }
        Sleep(1);
    }
}
