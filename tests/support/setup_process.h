#pragma once
// Starts a copy of setup.exe in a folder of its own, with its standard output captured, and
// watches its windows; used by the end-to-end tests.
#include <windows.h>

#include <string>
#include <vector>

#include "support/wait_until.h"

class SetupProcess {
public:
    SetupProcess() = default;
    ~SetupProcess();
    SetupProcess(const SetupProcess&) = delete;
    SetupProcess& operator=(const SetupProcess&) = delete;

    // Starts `exe` with the given command line (after the program name). False on failure.
    // With a job, the process runs in it from its first instruction, and so do the processes it
    // starts: the job's accounting then counts every process the run started.
    bool Start(const std::wstring& exe, const std::wstring& arguments = L"", HANDLE job = nullptr);
    // Waits for the process to end; false on time-out. The exit code is then ExitCode().
    bool WaitForExit(DWORD milliseconds);
    bool IsRunning() const;
    DWORD ExitCode() const;
    DWORD Pid() const { return pi_.dwProcessId; }
    // All output the process wrote so far (reads the pipe until it is empty or closed).
    std::string Output();
    void Kill();

private:
    void Drain(bool untilClosed);
    PROCESS_INFORMATION pi_{};
    HANDLE outRead_ = nullptr;
    std::string output_;
};

// Top-level windows of a class, with their owning process ids.
std::vector<std::pair<HWND, DWORD>> FindWindowsOfClass(const std::wstring& className);
using test_support::WaitUntil;

// The setup.exe of this build, as Wine sees it.
std::wstring BuiltSetupExe();

// Copies setup.exe into a new folder of the temporary folder and returns the copy's path.
std::wstring CopySetupToTempFolder(const std::wstring& setupExe);
