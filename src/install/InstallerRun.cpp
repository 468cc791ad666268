#include "install/InstallerRun.h"

#include <algorithm>
#include <vector>

namespace InstallerRun {

namespace {
CreateProcessFn g_createProcess = nullptr;
}

void SetCreateProcessForTest(CreateProcessFn fn) { g_createProcess = fn; }

HANDLE Start(const std::wstring& installerPath, const std::wstring& commandLine, DWORD& error) {
    // The system may write into the command line buffer: a copy of 1024 characters.
    std::vector<wchar_t> line(1024, L'\0');
    commandLine.copy(line.data(), std::min<size_t>(commandLine.size(), line.size() - 1));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    CreateProcessFn create = g_createProcess ? g_createProcess : &CreateProcessW;
    // The installer inherits no handle of the setup (files, the package lock, pipes), and its
    // process and thread handles are not inheritable by what it starts.
    if (!create(installerPath.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                nullptr, &startup, &info)) {
        error = GetLastError();
        if (error == 0) error = ERROR_GEN_FAILURE;
        return nullptr;
    }
    error = 0;
    if (info.hThread) CloseHandle(info.hThread);
    return info.hProcess;
}

WaitResult Wait(HANDLE process, int32_t timeoutSteps, DWORD stepMs, HANDLE stop) {
    WaitResult result;
    const HANDLE handles[2] = {process, stop};
    for (;;) {
        DWORD state = WaitForMultipleObjects(stop ? 2 : 1, handles, FALSE, stepMs);
        if (state == WAIT_OBJECT_0 + 1) {
            result.stopped = true;
            return result;
        }
        if (state == WAIT_OBJECT_0) {
            result.ended = true;
            GetExitCodeProcess(process, &result.exitCode);
            return result;
        }
        if (state != WAIT_TIMEOUT) {  // not a process handle one can wait for: nothing to wait for
            result.ended = true;
            result.exitCode = static_cast<DWORD>(-1);
            return result;
        }
        if (result.waits > timeoutSteps) return result;
        ++result.waits;
    }
}

}  // namespace InstallerRun
