#include "support/setup_process.h"

#include "support/test_support.h"

SetupProcess::~SetupProcess() {
    Kill();
    if (pi_.hProcess) CloseHandle(pi_.hProcess);
    if (pi_.hThread) CloseHandle(pi_.hThread);
    if (outRead_) CloseHandle(outRead_);
}

bool SetupProcess::Start(const std::wstring& exe, const std::wstring& arguments, HANDLE job) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE outWrite = nullptr;
    if (!CreatePipe(&outRead_, &outWrite, &sa, 1 << 20)) return false;
    SetHandleInformation(outRead_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = outWrite;
    si.hStdError = outWrite;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    BOOL ok = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, job ? CREATE_SUSPENDED : 0, nullptr,
                             folder.c_str(), &si, &pi_);
    CloseHandle(outWrite);
    if (ok && job) {
        if (!AssignProcessToJobObject(job, pi_.hProcess)) {
            TerminateProcess(pi_.hProcess, 1);
            return false;
        }
        ResumeThread(pi_.hThread);
    }
    return ok != FALSE;
}

bool SetupProcess::WaitForExit(DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (WaitForSingleObject(pi_.hProcess, 50) == WAIT_TIMEOUT) {
        Drain(false);
        if (GetTickCount() - start > milliseconds) return false;
    }
    Drain(true);
    return true;
}

bool SetupProcess::IsRunning() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

DWORD SetupProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

void SetupProcess::Drain(bool untilClosed) {
    if (!outRead_) return;
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(outRead_, nullptr, 0, nullptr, &available, nullptr)) return;  // closed
        if (available == 0) {
            if (!untilClosed) return;
            Sleep(20);
            if (!PeekNamedPipe(outRead_, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        }
        DWORD read = 0;
        if (!ReadFile(outRead_, buffer, sizeof(buffer), &read, nullptr) || read == 0) return;
        output_.append(buffer, read);
    }
}

std::string SetupProcess::Output() {
    Drain(false);
    return output_;
}

void SetupProcess::Kill() {
    if (IsRunning()) {
        TerminateProcess(pi_.hProcess, 1);
        WaitForSingleObject(pi_.hProcess, 5000);
    }
}

namespace {

struct WindowSearch {
    std::wstring className;
    std::vector<std::pair<HWND, DWORD>> found;
};

BOOL CALLBACK CollectWindowOfClass(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    if (search->className == name) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        search->found.emplace_back(hwnd, pid);
    }
    return TRUE;
}

}  // namespace

std::vector<std::pair<HWND, DWORD>> FindWindowsOfClass(const std::wstring& className) {
    WindowSearch search{className, {}};
    EnumWindows(CollectWindowOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring CopySetupToTempFolder(const std::wstring& setupExe) {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    std::wstring folder = std::wstring(base) + L"orbala_e2e_" + std::to_wstring(now.QuadPart);
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring copy = folder + L"\\setup.exe";
    if (!CopyFileW(setupExe.c_str(), copy.c_str(), FALSE)) return std::wstring();
    return copy;
}

std::wstring BuiltSetupExe() { return test_support::WinePath(SETUP_EXE_PATH); }
