// Closes every window of the setup's window class, as a user closing the installer would.
// Used by the demo; exits 0 when at least one window was asked to close.
#include <windows.h>

#include <cwchar>

namespace {
const wchar_t* g_className = L"QV_UI_Frame_486";
int g_closed = 0;

BOOL CALLBACK CloseIfSetup(HWND hwnd, LPARAM) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    if (wcscmp(name, g_className) == 0) {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        ++g_closed;
    }
    return TRUE;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) g_className = argv[1];
    EnumWindows(CloseIfSetup, 0);
    return g_closed > 0 ? 0 : 1;
}
