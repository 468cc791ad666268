#include "download/CDownloadThreadManager.h"

#include "download/CDownloadThread.h"
#include "download/DownloadEvents.h"
#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "easylogging++.h"

CDownloadThreadManager::CDownloadThreadManager(const std::string& localPath) : m_localPath(localPath) {}

CDownloadThreadManager::~CDownloadThreadManager() {
    // The workers write into the file: they end before it is closed.
    for (CThread* t : m_busyThreads) m_freeThreads.push_back(t);
    m_busyThreads.clear();
    for (CThread* t : m_freeThreads) t->stop();
    releaseThreads();
    closeFile();
}

void CDownloadThreadManager::closeFile() {
    if (m_pFile) fclose(m_pFile);
    m_pFile = nullptr;
}

FILE* CDownloadThreadManager::openOutput(unsigned long& error) {
    FILE* probe = fopen(m_localPath.c_str(), "rb");
    FILE* file = nullptr;
    if (probe) {
        fclose(probe);
        file = fopen(m_localPath.c_str(), "rb+");
    } else {
        file = fopen(m_localPath.c_str(), "wb+");
    }
    error = GetLastError();
    // Unbuffered: a position a worker publishes is backed by bytes the system already has, so
    // a task file saved at any moment, or a process that is killed, never claims unwritten bytes.
    if (file) setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

int CDownloadThreadManager::createThreads(int count) {
    unsigned long error = 0;
    if (!m_pFile) m_pFile = openOutput(error);
    if (!m_pFile) {
        LOG(INFO) << "local file is NULL error code = " << error;
        if (error == ERROR_SHARING_VIOLATION) {
            // Most likely an earlier copy of the installer still runs from this path (with its
            // ".tmp" loader): end them and try again.
            FuntionImpl::FindProcessByFullPath(TextCodec::AnsiToWide(m_localPath), true, true);
            m_pFile = openOutput(error);
        }
    }
    if (!m_pFile) {
        LOG(INFO) << "after kill local file is NULL error code = " << error;
        DownloadEvents::Event("Other", "OpenFileErrCode", std::to_string(error));
        return -1;
    }
    LOG(INFO) << " Create threads and init: " << count;
    for (int i = 0; i < count; ++i) startThread(new CDownloadThread(m_hMutex, m_pFile));
    return static_cast<int>(m_threadHandles.size());
}
