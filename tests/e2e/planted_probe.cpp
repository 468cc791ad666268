// A DLL that leaves a mark when it is loaded: "<its own path>.loaded". The hardening test puts
// copies of it beside setup.exe under the names of DLLs the setup uses; a mark shows that the
// setup took a DLL from its own folder instead of the system folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8] = {};
        DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcatW(path, L".loaded");
            HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
        }
    }
    return TRUE;
}
