#include "download/CDownloadThreadManager.h"

#include <tlhelp32.h>

#include "download/CDownloadThread.h"
#include "download/DownloadEvents.h"
#include "base/TextCodec.h"
#include "easylogging++.h"

namespace {

// Ends the processes whose executable is the given file (a program started from the download
// path keeps the output file locked).
void endProcessesRunningFrom(const std::wstring& path) {
    wchar_t wanted[MAX_PATH * 2] = {};
    if (!GetFullPathNameW(path.c_str(), MAX_PATH * 2, wanted, nullptr)) return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        wchar_t image[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (QueryFullProcessImageNameW(process, 0, image, &size) && lstrcmpiW(image, wanted) == 0) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

}  // namespace

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
            endProcessesRunningFrom(TextCodec::AnsiToWide(m_package.path()));
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
