#include "download/CDownloadThread.h"

#include "download/CTask.h"
#include "easylogging++.h"

CDownloadThread::CDownloadThread(PackageFile* package, const std::atomic<bool>* stop)
    : m_package(package), m_stop(stop), m_pCurlTool(new CLibcurlTool(curl_easy_init())) {
    if (!m_pCurlTool->handle()) LOG(INFO) << "  m_pCurl init error !!!";
}

void CDownloadThread::taskBusiness() {
    CTask* task = m_pTask;
    if (!task) return;
    int64_t from = task->DownloadedPos;
    if (from == task->EndPos) {
        // The last segment ends one past the file, so reaching EndPos means every byte is in.
        // Any other segment reaches EndPos one byte early when a chunk ends just before its last
        // byte; if its transfer broke right there, that byte is still missing: fetch it.
        if (task->EndPos == task->ContentLength || task->TaskStatus.load() == TaskComplete) {
            task->TaskStatus = TaskComplete;
            return;
        }
    }
    const CURLcode result = m_pCurlTool->httpDownloadContent(task->RemotePath, from, task->EndPos, this);
    if (result == CURLE_ABORTED_BY_CALLBACK && stopRequested()) {
        // Ended because the attempt stops: not a failure of the server. What arrived is kept.
        task->TaskStatus = TaskFailed;
        if (task->Verbose)
            LOG(INFO) << " Tasks info, download stopped, id = " << task->TaskId.load();
        return;
    }
    if (result != CURLE_OK || task->DownloadedPos != task->EndPos) {
        ++task->RequestTimes;
        task->TaskStatus = TaskFailed;
        if (task->Verbose)
            LOG(INFO) << " Tasks info, download fail(" << result << "), id = " << task->TaskId.load()
                      << ", reqTime = " << task->RequestTimes.load();
    } else {
        task->TaskStatus = TaskComplete;
        if (task->Verbose)
            LOG(INFO) << " Tasks info, download success(" << result << "), id = " << task->TaskId.load()
                      << ", reqTime = " << task->RequestTimes.load();
    }
}
