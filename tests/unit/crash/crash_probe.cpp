// A program that crashes on purpose with the setup's own crash handler, for crash_handler_test.
//
//   crash_probe crash LOGGER_FILE LOG|- CONFIG MUTEX|- PRODUCT THREADS RESULT_FILE
//     Installs the handler as the setup does, logs to LOGGER_FILE, tells the handler the log file
//     path LOG (none with "-"), sets Downloader_config to CONFIG, holds the named mutex MUTEX on the main thread (none with
//     "-"), sets the product number PRODUCT (0: as before the single-instance check), then lets
//     THREADS worker threads write through a null pointer at the same moment. RESULT_FILE gets
//     "thread=<id>" for each worker and, after the handler has run, "mutex_free=0|1": whether
//     a new start could create the mutex.
//
//     With ORBALA_PROBE_COPY_FOLDER set, the probe first makes its protected copy in that folder
//     (as the setup makes its own in the work folder): the handler starts that copy, and without
//     one it starts nothing.
//
//   crash_probe -dmp NAME   (how the handler starts the crash-report copy)
//     Appends "args=<text after the program name>" and "show=<wShowWindow>" to the file named by
//     ORBALA_PROBE_RECORD, then, as the setup's maintenance run does, uploads the log archive of
//     the folder ORBALA_PROBE_LOG_FOLDER to ORBALA_PROBE_UPLOAD_URL and appends "upload=<result>".
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app/LogSetup.h"
#include "app/StartupRules.h"
#include "base/DownloadSettings.h"
#include "base/ProcessEnvironment.h"
#include "base/TextCodec.h"
#include "crash/CrashHandler.h"
#include "logupload/LogArchiveUpload.h"
#include "platform/ProtectedSelfCopy.h"
#include "platform/RunFolders.h"

namespace {

std::wstring g_resultFile;
std::wstring g_mutexName;
HANDLE g_mutex = nullptr;
HANDLE g_go = nullptr;

void Append(const std::wstring& file, const std::string& line) {
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

// The setup's filter, then a look at what a new start of the setup would find.
LONG WINAPI ProbeFilter(EXCEPTION_POINTERS* info) {
    LONG result = UnhandledExceptionHandler(info);
    if (!g_mutexName.empty()) {
        HANDLE again = CreateMutexW(nullptr, FALSE, g_mutexName.c_str());
        bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        Append(g_resultFile, std::string("mutex_free=") + (again != nullptr && !existed ? "1" : "0"));
    }
    return result;
}

DWORD WINAPI Crash(void*) {
    WaitForSingleObject(g_go, INFINITE);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}

// The command line after the program name, as wWinMain receives it.
std::wstring ArgumentsText() {
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

int CrashReportCopy(const std::wstring& arguments) {
    std::wstring record = ProcessEnvironment::EnvironmentValue(L"ORBALA_PROBE_RECORD");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    Append(record, "args=" + TextCodec::WideToUtf8(arguments));
    Append(record, "show=" + std::to_string((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1));
    MaintenanceCommand command = ParseMaintenanceCommand(arguments);
    LogUploadTarget target = LogUpload::DefaultTarget();
    target.url = TextCodec::WideToUtf8(ProcessEnvironment::EnvironmentValue(L"ORBALA_PROBE_UPLOAD_URL"));
    int result = UploadLogArchive(ProcessEnvironment::EnvironmentValue(L"ORBALA_PROBE_LOG_FOLDER"), command.logFileName,
                                  TextCodec::WideToAnsi(command.catalogue), L"", command.wantDumps, target);
    Append(record, "upload=" + std::to_string(result));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring arguments = ArgumentsText();
    if (arguments.find(L"-dmp ") != std::wstring::npos) return CrashReportCopy(arguments);
    if (argc != 9 || std::wstring(argv[1]) != L"crash") {
        fprintf(stderr, "usage: crash_probe crash LOGGER_FILE LOG|- CONFIG MUTEX|- PRODUCT THREADS RESULT_FILE\n");
        return 2;
    }
    CrashHandler::Install();
    SetUnhandledExceptionFilter(ProbeFilter);
    std::wstring copyFolder = ProcessEnvironment::EnvironmentValue(L"ORBALA_PROBE_COPY_FOLDER");
    std::vector<std::string> copyNotes;
    if (!copyFolder.empty()) {
        ProtectedSelfCopy::OfThisProcess().HoldSource(ProcessEnvironment::ModulePath());
        ProtectedSelfCopy::OfThisProcess().Make(copyFolder, RunFolders::WindowsFolderSystem(), true, copyNotes);
    }

    ConfigureProgramLog(argv[2]);
    for (const std::string& note : copyNotes) Append(argv[8], "copy_note=" + note);
    CrashHandler::SetLogFilePath(argv[3] == std::wstring(L"-") ? std::wstring() : argv[3]);
    GetDownloadSettings().Downloader_config = _wtoi(argv[4]);
    if (argv[5] != std::wstring(L"-")) {
        g_mutexName = argv[5];
        g_mutex = CreateMutexW(nullptr, TRUE, g_mutexName.c_str());
        CrashHandler::SetInstanceMutexSlot(&g_mutex);
    }
    int product = _wtoi(argv[6]);
    if (product != 0) CrashHandler::SetProductNumber(product);
    int threads = _wtoi(argv[7]);
    g_resultFile = argv[8];

    g_go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> workers;
    for (int i = 0; i < threads; ++i) {
        DWORD id = 0;
        workers.push_back(CreateThread(nullptr, 0, Crash, nullptr, 0, &id));
        Append(g_resultFile, "thread=" + std::to_string(id));
    }
    Sleep(100);  // every worker waits at the gate
    SetEvent(g_go);
    WaitForMultipleObjects(static_cast<DWORD>(workers.size()), workers.data(), TRUE, 120000);
    return 3;  // the crash did not end the process
}
