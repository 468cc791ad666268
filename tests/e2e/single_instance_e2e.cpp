// Starts the real setup.exe under Wine and checks one instance per product: a second start is
// refused while the first holds the mutex (and its window is brought forward), and admitted
// when the local settings file sets AutoRun.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "support/setup_process.h"
#include "support/test_support.h"

namespace {

const wchar_t* kClass = L"QV_UI_Frame_486";
const wchar_t* kMutex = L"KDR_Downloader_486";
constexpr DWORD kStartLimitMs = 60000;

std::wstring SetupCopy() {
    std::wstring copy = CopySetupToTempFolder(BuiltSetupExe());
    EXPECT_FALSE(copy.empty());
    return copy;
}

bool HasWindowOf(DWORD pid) {
    for (const auto& w : FindWindowsOfClass(kClass))
        if (w.second == pid) return true;
    return false;
}

HWND WindowOfProcess(DWORD pid) {
    for (const auto& w : FindWindowsOfClass(kClass))
        if (w.second == pid) return w.first;
    return nullptr;
}

// A visible top-level window of the test's own, on a thread that answers its messages (another
// process activating its window sends this one its deactivation), to stand in front of the setup.
class CoveringWindow {
public:
    CoveringWindow() {
        thread_ = std::thread([this] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"single_instance_e2e_cover";
            RegisterClassW(&wc);
            hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"cover", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 700,
                                    nullptr, nullptr, wc.hInstance, nullptr);
            SetForegroundWindow(hwnd_);
            SetEvent(ready_);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        });
        WaitForSingleObject(ready_, 10000);
    }
    ~CoveringWindow() {
        if (hwnd_) PostMessageW(hwnd_, WM_QUIT, 0, 0);
        thread_.join();
        CloseHandle(ready_);
    }
    HWND hwnd() const { return hwnd_; }

private:
    HANDLE ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND hwnd_ = nullptr;
    std::thread thread_;
};

void CloseWindowsAndExpectCleanExit(SetupProcess& process) {
    for (const auto& w : FindWindowsOfClass(kClass))
        if (w.second == process.Pid()) PostMessageW(w.first, WM_CLOSE, 0, 0);
    ASSERT_TRUE(process.WaitForExit(30000));
    EXPECT_EQ(process.ExitCode(), 0u);
    std::string out = process.Output();
    size_t w1 = out.find(" Wait exit 1"), w2 = out.find(" Wait exit 2"), w3 = out.find(" Wait exit 3");
    EXPECT_NE(w1, std::string::npos) << out;
    EXPECT_TRUE(w1 < w2 && w2 < w3 && w3 != std::string::npos) << "shutdown lines out of order:\n" << out;
}

}  // namespace

TEST(SingleInstance, SecondStartIsRefusedWhileTheFirstRuns) {
    ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
    std::wstring exe = SetupCopy();

    SetupProcess first;
    ASSERT_TRUE(first.Start(exe));
    ASSERT_TRUE(WaitUntil([&] { return HasWindowOf(first.Pid()); }, kStartLimitMs)) << first.Output();
    HANDLE held = OpenMutexW(SYNCHRONIZE, FALSE, kMutex);
    EXPECT_NE(held, nullptr) << "the first instance holds the product mutex";
    if (held) CloseHandle(held);
    // The configuration lines may follow the window's creation by a moment on a busy machine.
    EXPECT_TRUE(WaitUntil([&] { return first.Output().find(" [Downloader Id]: 486") != std::string::npos; },
                          kStartLimitMs))
        << "the window logs its configuration";

    // Another window is in front of the first one and has the foreground.
    HWND window = WindowOfProcess(first.Pid());
    ASSERT_NE(window, nullptr);
    CoveringWindow cover;
    ASSERT_NE(cover.hwnd(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == cover.hwnd(); }, 5000));

    SetupProcess second;
    ASSERT_TRUE(second.Start(exe));
    ASSERT_TRUE(second.WaitForExit(kStartLimitMs)) << "the second start must end by itself";
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_NE(second.Output().find(" Already running: showing the open window"), std::string::npos) << second.Output();
    EXPECT_EQ(FindWindowsOfClass(kClass).size(), 1u);
    EXPECT_TRUE(first.IsRunning());
    // The second start brought the first window forward. (A window hidden by the test came back
    // visible under Wine without the second start's help, so visibility tells nothing here.)
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetForegroundWindow(), window) << "the first window stays behind";

    CloseWindowsAndExpectCleanExit(first);
    HANDLE released = OpenMutexW(SYNCHRONIZE, FALSE, kMutex);
    EXPECT_EQ(released, nullptr) << "the mutex is gone with the first instance";
    if (released) CloseHandle(released);
}

TEST(SingleInstance, HeldMutexRefusesEvenWithoutAWindow) {
    std::wstring exe = SetupCopy();
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutex);
    ASSERT_NE(mutex, nullptr);

    SetupProcess refused;
    ASSERT_TRUE(refused.Start(exe));
    ASSERT_TRUE(refused.WaitForExit(kStartLimitMs));
    EXPECT_EQ(refused.ExitCode(), 0u);
    EXPECT_NE(refused.Output().find("KDR_Downloader_486 exists"), std::string::npos) << refused.Output();
    EXPECT_TRUE(FindWindowsOfClass(kClass).empty());

    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST(SingleInstance, AutoRunAdmitsASecondInstance) {
    std::wstring exe = SetupCopy();
    std::wstring cfg = exe.substr(0, exe.find_last_of(L'\\')) + L"\\qv_downloader.cfg";
    {
        std::ofstream out(cfg.c_str(), std::ios::binary);
        out << "[Settings]\r\nAutoRun=1\r\n";
    }

    SetupProcess first;
    ASSERT_TRUE(first.Start(exe));
    ASSERT_TRUE(WaitUntil([&] { return HasWindowOf(first.Pid()); }, kStartLimitMs)) << first.Output();

    // Both refusals are passed: a window of the class is open and the mutex exists.
    SetupProcess second;
    ASSERT_TRUE(second.Start(exe));
    ASSERT_TRUE(WaitUntil([&] { return HasWindowOf(second.Pid()); }, kStartLimitMs)) << second.Output();
    EXPECT_EQ(FindWindowsOfClass(kClass).size(), 2u);

    CloseWindowsAndExpectCleanExit(second);
    CloseWindowsAndExpectCleanExit(first);
}
