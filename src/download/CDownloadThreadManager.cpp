#include "download/CDownloadThreadManager.h"

#include <tlhelp32.h>

#include "download/CDownloadThread.h"
#include "download/DownloadEvents.h"
#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "easylogging++.h"

CDownloadThreadManager::CDownloadThreadManager(const std::string& localPath) : m_package(localPath) {}

CDownloadThreadManager::~CDownloadThreadManager() {
    // The workers use the file and the stop request: they end (or are left, never deleted,
    // when they do not) before these go; a worker left running can no longer write.
    requestStop();
    m_package.revokeWrites();
    for (const auto& t : m_threads) t->stop();
    releaseThreads();
    closeFile();
}

void CDownloadThreadManager::closeFile() { m_package.close(); }

int CDownloadThreadManager::createThreads(int count) {
    DWORD error = 0;
    m_package.open(error);
    if (!m_package.isOpen()) {
        LOG(INFO) << "local file is NULL error code = " << error;
        if (error == ERROR_SHARING_VIOLATION) {
            FuntionImpl::FindProcessByFullPath(TextCodec::AnsiToWide(m_package.path()), true, true);
            m_package.open(error);
        }
    }
    if (!m_package.isOpen()) {
        LOG(INFO) << "after kill local file is NULL error code = " << error;
        DownloadEvents::Event("Other", "OpenFileErrCode", std::to_string(error));
        return -1;
    }
    LOG(INFO) << " Create threads and init: " << count;
    for (int i = 0; i < count; ++i) startThread(new CDownloadThread(&m_package, &m_stopTransfers));
    return static_cast<int>(m_threadHandles.size());
}
