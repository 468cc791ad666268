#include "CThread.h"

#include "easylogging++.h"

CThread::CThread(HANDLE downloadMutex) : m_hMutex(downloadMutex) {
    m_hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hEvent) LOG(INFO) << "  creat event error code =  " << GetLastError();
}

CThread::~CThread() {
    if (m_hEvent) CloseHandle(m_hEvent);
    if (m_hThread) CloseHandle(m_hThread);
}
