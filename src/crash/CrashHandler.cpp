#include "crash/CrashHandler.h"

#include <dbghelp.h>
#include <easylogging++.h>

#include <cwchar>

#include "base/DownloadSettings.h"
#include "platform/FuntionImpl.h"
#include "platform/LinkFreeFolders.h"
#include "platform/ProtectedSelfCopy.h"

namespace {

// Handed over at start-up on the main thread; only read by the filter.
std::wstring g_logFilePath;
std::wstring g_dumpPathBesideLog;  // empty when the log path gives no usable dump path
std::wstring g_restartParameters;
bool g_restartFits = true;
std::wstring g_versionText;
wchar_t g_exePath[MAX_PATH] = {};
bool g_exePathOk = false;
HANDLE* volatile g_mutexSlot = nullptr;
volatile LONG g_productNumber = 0;

// Which thread does the work (0: none yet), and whether it has finished.
volatile LONG g_ownerThread = 0;
volatile LONG g_finished = 0;

void ReleaseInstanceMutex() {
    HANDLE* slot = g_mutexSlot;
    if (slot == nullptr) return;
    HANDLE mutex = static_cast<HANDLE>(InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(slot), nullptr));
    if (mutex == nullptr) return;
    // A crash on a thread other than the one that created the mutex cannot release it (it is
    // not the owner); closing the last handle still removes the name, which is what lets a new
    // start of the setup in.
    SetLastError(0);
    BOOL released = ReleaseMutex(mutex);
    DWORD releaseError = GetLastError();
    SetLastError(0);
    BOOL closed = CloseHandle(mutex);
    DWORD closeError = GetLastError();
    LOG(INFO) << " Release mutex: " << (released ? 1 : 0) << ", " << releaseError << ", " << (closed ? 1 : 0) << ", "
              << closeError;
}

// The dump path of this crash: beside the log, or dated in the temporary folder.
std::wstring DumpPathNow() {
    if (!g_logFilePath.empty()) {
        if (g_dumpPathBesideLog.empty()) LOG(INFO) << " Dump path too long: no dump written";
        return g_dumpPathBesideLog;
    }
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        LOG(INFO) << " Temporary folder unusable: " << length << ", " << GetLastError() << ": no dump written";
        return std::wstring();
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring path = CrashHandler::DumpPathInTemp(temp, g_productNumber, g_versionText, now);
    if (path.empty()) LOG(INFO) << " Dump path too long: no dump written";
    return path;
}

void StartCrashReportCopy() {
    if (!g_restartFits) {
        LOG(INFO) << " Crash report copy skipped: log file name too long";
        return;
    }
    // The protected copy of the setup, never the file in the download folder.
    DWORD error = 0;
    ProtectedSelfCopy::StartResult started = ProtectedSelfCopy::OfThisProcess().Start(g_restartParameters, SW_HIDE, &error);
    if (started != ProtectedSelfCopy::StartResult::Started)
        LOG(INFO) << " Crash report copy not started: " << ProtectedSelfCopy::ResultText(started) << ", " << error;
}

}  // namespace

LONG WINAPI UnhandledExceptionHandler(EXCEPTION_POINTERS* exceptionInfo) {
    const DWORD self = GetCurrentThreadId();
    const LONG owner = InterlockedCompareExchange(&g_ownerThread, static_cast<LONG>(self), 0);
    if (owner != 0) {
        // A fault inside the filter itself: end now rather than wait for ourselves.
        if (static_cast<DWORD>(owner) == self) return EXCEPTION_EXECUTE_HANDLER;
        // Another thread writes the dump: returning now would end the process under it.
        LOG(INFO) << " Exception handler busy: thread " << self << " waits for thread " << static_cast<DWORD>(owner);
        while (InterlockedCompareExchange(&g_finished, 0, 0) == 0) Sleep(20);
        return EXCEPTION_EXECUTE_HANDLER;
    }

    const int downloaderConfig = GetDownloadSettings().Downloader_config;
    LOG(INFO) << " Exception handler entered.";
    ReleaseInstanceMutex();

    std::wstring dumpPath = DumpPathNow();
    if (!dumpPath.empty()) {
        SetLastError(0);
        // The log folder is the user's: a dump file there reached through a link is not written.
        HANDLE file = LinkFreeFolders::CreateFileAt(dumpPath, GENERIC_WRITE, 0, CREATE_ALWAYS);
        DWORD createError = GetLastError();
        LOG(INFO) << " Create dmp file: " << (file != INVALID_HANDLE_VALUE ? 1 : 0) << ", " << createError;
        if (file != INVALID_HANDLE_VALUE) {
            MINIDUMP_EXCEPTION_INFORMATION exception;
            exception.ThreadId = self;
            exception.ExceptionPointers = exceptionInfo;
            exception.ClientPointers = TRUE;
            // Registering the process with the symbol handler first, without loading any
            // module's symbols, keeps dump writers that would otherwise load every module's
            // debug information (Wine's) from spending seconds on it; the dump needs none.
            SymInitializeW(GetCurrentProcess(), nullptr, FALSE);
            SetLastError(0);
            BOOL written = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                                             exceptionInfo != nullptr ? &exception : nullptr, nullptr, nullptr);
            DWORD writeError = GetLastError();
            LOG(INFO) << " Write dmp file: " << (written ? 1 : 0) << ", " << writeError;
            CloseHandle(file);
            if (written && CrashHandler::WantsCrashReport(downloaderConfig)) StartCrashReportCopy();
        }
    }

    InterlockedExchange(&g_finished, 1);
    return EXCEPTION_EXECUTE_HANDLER;
}

namespace CrashHandler {

void Install() {
    DWORD length = GetModuleFileNameW(nullptr, g_exePath, MAX_PATH);
    g_exePathOk = length > 0 && length < MAX_PATH;
    if (g_exePathOk) g_versionText = FuntionImpl::GetFileVersionTextW(g_exePath);
    SetUnhandledExceptionFilter(UnhandledExceptionHandler);
}

void SetLogFilePath(const std::wstring& logFilePath) {
    g_logFilePath = logFilePath;
    g_dumpPathBesideLog = logFilePath.empty() ? std::wstring() : DumpPathBesideLog(logFilePath);
    g_restartFits = RestartParametersFor(logFilePath, g_restartParameters);
}

void SetInstanceMutexSlot(HANDLE* slot) { g_mutexSlot = slot; }

void SetProductNumber(int productNumber) { InterlockedExchange(&g_productNumber, productNumber); }

bool WantsCrashReport(int downloaderConfig) { return downloaderConfig == 1 || downloaderConfig == 2; }

std::wstring DumpPathBesideLog(const std::wstring& logFilePath) {
    std::wstring path = logFilePath + L".dmp";
    return path.size() <= kMaxPathChars ? path : std::wstring();
}

std::wstring DumpPathInTemp(const std::wstring& tempFolder, int productNumber, const std::wstring& versionText,
                            const SYSTEMTIME& t) {
    wchar_t path[kMaxTempDumpPathChars + 2] = {};
    int n = _snwprintf(path, kMaxTempDumpPathChars + 2, L"%ls%d_%ls_%.4d%.2d%.2d%.2d%.2d%.2d%.3d.dmp", tempFolder.c_str(),
                       productNumber, versionText.c_str(), t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                       t.wMilliseconds);
    if (n < 0 || static_cast<size_t>(n) > kMaxTempDumpPathChars) return std::wstring();
    return std::wstring(path, static_cast<size_t>(n));
}

bool RestartParametersFor(const std::wstring& logFilePath, std::wstring& parameters) {
    size_t slash = logFilePath.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? logFilePath : logFilePath.substr(slash + 1);
    parameters = L" -dmp " + name;
    if (parameters.size() > kMaxRestartParameterChars) {
        parameters.clear();
        return false;
    }
    return true;
}

}  // namespace CrashHandler
