// Starts the real setup.exe under Wine and checks one instance per product: a second start is
// refused while the first holds the mutex (and its window is brought forward), and admitted
// when the local settings file sets AutoRun.
#include <gtest/gtest.h>

#include <fstream>

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

    SetupProcess second;
    ASSERT_TRUE(second.Start(exe));
    ASSERT_TRUE(second.WaitForExit(kStartLimitMs)) << "the second start must end by itself";
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_NE(second.Output().find(" Already running"), std::string::npos) << second.Output();
    EXPECT_EQ(FindWindowsOfClass(kClass).size(), 1u);
    EXPECT_TRUE(first.IsRunning());

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
