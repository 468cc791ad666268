// Finding the processes that run a given program file, and ending them.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "support/install_fixtures.h"
#include "support/log_capture.h"
#include "platform/FuntionImpl.h"
#include "support/test_support.h"

using install_fixtures::ProcessName;

namespace {

// Starts a copy of the test product from a folder; its pid as the product recorded it.
std::string StartProductIn(const std::wstring& folder) {
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    std::wstring program = folder + L"\\" + ProcessName();
    if (!CopyFileW(install_fixtures::ProductProgram().c_str(), program.c_str(), FALSE)) return "";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return "";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    auto launches = install_fixtures::WaitForLaunches(folder, 1);
    return launches.empty() ? "" : launches[0].pid;
}

bool Running(const std::string& pid) {
    for (DWORD id : install_fixtures::ProcessesNamed({ProcessName()}))
        if (std::to_string(id) == pid) return true;
    return false;
}

}  // namespace

TEST(ProcessLookup, OnlyTheProcessOfThatFileIsFoundAndEnded) {
    test_support::TempDir dir;
    std::wstring a = dir.File(L"a"), b = dir.File(L"b");
    std::string pidA = StartProductIn(a), pidB = StartProductIn(b);
    ASSERT_FALSE(pidA.empty());
    ASSERT_FALSE(pidB.empty());

    LogCapture log;
    EXPECT_EQ(std::to_string(FuntionImpl::FindProcessByFullPath(a + L"\\" + ProcessName(), false, false)), pidA);
    EXPECT_TRUE(log.contains(" Find proc: ")) << log.dump();
    EXPECT_TRUE(Running(pidA));
    // Upper and lower case do not matter.
    std::wstring upper = a + L"\\" + ProcessName();
    CharUpperW(&upper[0]);
    EXPECT_EQ(std::to_string(FuntionImpl::FindProcessByFullPath(upper, true, false)), pidA);
    EXPECT_TRUE(log.contains(" Kill proc: 1, ")) << log.dump();
    EXPECT_FALSE(Running(pidA));
    EXPECT_TRUE(Running(pidB));

    EXPECT_EQ(FuntionImpl::FindProcessByFullPath(a + L"\\" + ProcessName(), true, false), -1);
    EXPECT_EQ(std::to_string(FuntionImpl::FindProcessByFullPath(b + L"\\" + ProcessName(), true, false)), pidB);
    EXPECT_FALSE(Running(pidB));
}

TEST(ProcessLookup, NothingRunningThatFile) {
    EXPECT_EQ(FuntionImpl::FindProcessByFullPath(L"C:\\nowhere\\nothing_running.exe", true, true), -1);
}
