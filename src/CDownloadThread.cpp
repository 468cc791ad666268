#include "CDownloadThread.h"

#include "easylogging++.h"

CDownloadThread::CDownloadThread(HANDLE downloadMutex, FILE* file)
    : CThread(downloadMutex), m_pFile(file), m_pCurlTool(new CLibcurlTool(curl_easy_init())) {
    if (!m_pCurlTool->handle()) LOG(INFO) << "  m_pCurl init error !!!";
}
