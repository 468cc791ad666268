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
    task->EndWritten = false;
    const CURLcode result = m_pCurlTool->httpDownloadContent(task->RemotePath, from, task->EndPos, this);
    // Complete only when every byte of the segment reached the file. A reply shorter than its
    // range (a server that takes bytes=a-b as excluding b, a body that ends early on a clean
    // close) ends without an error but stops short: its bytes stay, the rest is asked again.
    const bool whole = task->EndWritten.load() && task->DownloadedPos == task->EndPos;
    if (result == CURLE_ABORTED_BY_CALLBACK && stopRequested() && !whole) {
        // Ended because the attempt stops: not a failure of the server. What arrived is kept.
        task->TaskStatus = TaskFailed;
        if (task->Verbose)
            LOG(INFO) << " Tasks info, download stopped, id = " << task->TaskId.load();
        return;
    }
    if (result != CURLE_OK || !whole) {
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
