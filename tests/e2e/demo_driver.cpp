// The demo's user: starts setup.exe, takes a screenshot of each page it passes (setting, the
// settings open, running, finished with the product starting, the product), presses its buttons where the
// skin's layout puts them, waits for the setup to end and prints how long each phase took.
//   demo_driver.exe SETUP_EXE SCREENSHOT_FOLDER(Linux path)
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/setup_driver.h"

namespace {
const wchar_t* kClass = L"QV_UI_Frame_486";
double Seconds(ULONGLONG from, ULONGLONG to) { return double(to - from) / 1000.0; }
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: demo_driver SETUP_EXE SCREENSHOT_FOLDER\n");
        return 2;
    }
    char folder[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, folder, sizeof folder, nullptr, nullptr);
    POINT install{}, settings{};
    if (!setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"install_btn", -1, 360, install) ||
        !setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"install_setting", -1, 360, settings)) {
        std::fprintf(stderr, "the skin's layout has no install button\n");
        return 1;
    }
    ULONGLONG t0 = GetTickCount64();
    SetupProcess setup;
    if (!setup.Start(argv[1])) return 1;
    HWND window = nullptr;
    if (!WaitUntil([&] { return (window = setup_driver::WindowOf(kClass, setup.Pid())) != nullptr; }, 60000)) return 1;
    ULONGLONG tWindow = GetTickCount64();
    Sleep(1500);
    setup_driver::Screenshot(folder, "1-setting");
    setup_driver::ClickAt(window, settings);
    Sleep(800);
    setup_driver::Screenshot(folder, "2-settings-open");
    setup_driver::ClickAt(window, settings);
    Sleep(800);
    ULONGLONG tClick = GetTickCount64();
    setup_driver::ClickAt(window, install);
    Sleep(2500);
    setup_driver::Screenshot(folder, "3-running");
    // The finished installation starts the product through the launch hint window.
    HWND hint = nullptr;
    bool launched = WaitUntil([&] { return (hint = setup_driver::WindowOf(L"CALIENTWND_UI_Frame", setup.Pid())) != nullptr; },
                              300000);
    ULONGLONG tFinish = GetTickCount64();
    if (launched) {
        // The hint window fades in over the finished page: taken once it has painted.
        WaitUntil([&] { return IsWindowVisible(hint) != FALSE; }, 5000);
        Sleep(1000);
        setup_driver::Screenshot(folder, "4-finished-starting");
    }
    bool ended = setup.WaitForExit(60000);
    ULONGLONG tEnd = GetTickCount64();
    // Last, the product's own window, as the user sees it once the setup has gone.
    HWND product = nullptr;
    if (WaitUntil([&] { return (product = FindWindowW(L"OrbalaFixtureProduct", nullptr)) != nullptr; }, 20000)) {
        Sleep(800);
        setup_driver::Screenshot(folder, "5-product");
    }
    std::printf("start to window      %6.1f s\n", Seconds(t0, tWindow));
    std::printf("install click to end %6.1f s (download, verification, installer, product start)\n", Seconds(tClick, tFinish));
    std::printf("launch hint to exit  %6.1f s\n", Seconds(tFinish, tEnd));
    std::printf("setup exit code      %lu%s\n", ended ? setup.ExitCode() : 259ul, ended ? "" : " (still running)");
    return launched && ended ? 0 : 1;
}
