#pragma once
// Starting the product installer and waiting for it with a time limit. Process creation goes
// through a replaceable function, so tests can make it fail or start something else.
#include <windows.h>

#include <cstdint>
#include <string>

namespace InstallerRun {

using CreateProcessFn = BOOL(WINAPI*)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                      LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
// Replaces CreateProcessW for the installer start (nullptr restores it). For tests.
void SetCreateProcessForTest(CreateProcessFn fn);

// Starts the installer: the file as application name, a copy of the line as command line,
// inheritable security attributes without descriptor, handle inheritance on,
// CREATE_DEFAULT_ERROR_MODE, the caller's environment and folder. The process handle is
// returned (the thread handle is closed); nullptr with the system error in error on failure.
HANDLE Start(const std::wstring& installerPath, const std::wstring& commandLine, DWORD& error);

struct WaitResult {
    bool ended = false;   // the process ended within the limit
    bool stopped = false; // the wait ended on the stop event; the process still runs
    int waits = 0;        // n of the wait loop: how many waits of one step passed unanswered
    DWORD exitCode = 0;   // the process's exit code when it ended
};
// Waits in steps of stepMs: after each unanswered step the count n goes up; the wait gives up
// once n is greater than timeoutSteps when a step passes unanswered (so with a limit of 600 it
// gives up after the 602nd step). A set stop event (when given) ends the wait at once.
WaitResult Wait(HANDLE process, int32_t timeoutSteps, DWORD stepMs = 1000, HANDLE stop = nullptr);

}  // namespace InstallerRun
