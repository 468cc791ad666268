// Starts setup.exe and measures its window: the time from the process start to the first
// complete paint of the installer window, the CPU the idle window uses, and its private memory.
// Then closes the window as a user would. bench/window.sh runs it under Wine.
//   window_probe.exe SETUP_EXE [IDLE_SECONDS [MARKER_FILE]]
// Prints "first_paint_ms N", "idle_cpu_percent N", "private_mb N" (one core = 100 %). With a
// marker file it then prints "ready" and keeps the window open until that file exists (at most
// 30 s), so that a script can read the process's memory from the host's side meanwhile.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindInstallerWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[128] = {};
    GetClassNameW(hwnd, cls, 128);
    if (pid == search->pid && wcsncmp(cls, L"QV_UI_Frame_", 12) == 0 && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(to.QuadPart - from.QuadPart) / double(f.QuadPart);
}

ULONGLONG CpuTime100ns(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    return (ULONGLONG(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (ULONGLONG(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: window_probe SETUP_EXE [IDLE_SECONDS]\n");
        return 2;
    }
    const int idleSeconds = argc > 2 ? _wtoi(argv[2]) : 10;
    std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    LARGE_INTEGER start, painted, now;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(argv[1], &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fwprintf(stderr, L"cannot start %ls: %lu\n", argv[1], GetLastError());
        return 1;
    }
    // The window counts as painted once it is visible, its update region is empty and its
    // thread answers: every part of it has been drawn at least once.
    Search search{pi.dwProcessId, nullptr};
    bool done = false;
    for (;;) {
        QueryPerformanceCounter(&now);
        if (Seconds(start, now) > 60 || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
        if (!search.found) EnumWindows(FindInstallerWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            DWORD_PTR answer = 0;
            if (!GetUpdateRect(search.found, nullptr, FALSE) &&
                SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer)) {
                done = true;
                break;
            }
        }
        Sleep(1);
    }
    QueryPerformanceCounter(&painted);
    int rc = 0;
    if (!done) {
        fwprintf(stderr, L"no painted installer window within 60 s\n");
        rc = 1;
    } else {
        printf("first_paint_ms %.0f\n", Seconds(start, painted) * 1000);
        // Let the start-up threads (configuration query, events) finish, then watch the window idle.
        Sleep(3000);
        ULONGLONG cpuBefore = CpuTime100ns(pi.hProcess);
        QueryPerformanceCounter(&start);
        Sleep(DWORD(idleSeconds) * 1000);
        ULONGLONG cpuAfter = CpuTime100ns(pi.hProcess);
        QueryPerformanceCounter(&now);
        printf("idle_cpu_percent %.2f\n", double(cpuAfter - cpuBefore) / 1e7 / Seconds(start, now) * 100);
        // The whole life's CPU so far: shows that the process times are reported at all.
        printf("cpu_since_start_s %.2f\n", double(cpuAfter) / 1e7);
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof(memory);
        if (GetProcessMemoryInfo(pi.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
            printf("private_mb %.1f\nworking_set_mb %.1f\n", memory.PrivateUsage / 1048576.0,
                   memory.WorkingSetSize / 1048576.0);
        if (argc > 3) {
            printf("ready\n");
            fflush(stdout);
            for (int waited = 0; waited < 3000 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++waited) Sleep(10);
        }
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(pi.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return rc;
}
