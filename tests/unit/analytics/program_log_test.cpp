// The run's log under an APPDATA whose path holds characters outside the ANSI code page (a user
// name in another script): the folders are made and the program log is written there.
#include <gtest/gtest.h>

#include <windows.h>

#include <easylogging++.h>

#include "analytics/CSingleUserLog.h"
#include "app/LogSetup.h"
#include "base/TextCodec.h"
#include "support/test_support.h"

TEST(ProgramLog, WrittenUnderAnAppDataOutsideTheAnsiCodePage) {
    test_support::TempDir dir;
    std::wstring appData = dir.File(L"\x041B\x043E\x0433_\x65E5\x672C");  // Cyrillic and CJK letters
    ASSERT_TRUE(CreateDirectoryW(appData.c_str(), nullptr));
    ASSERT_NE(TextCodec::AnsiToUtf8(TextCodec::WideToAnsi(appData)), TextCodec::WideToUtf8(appData))
        << "the ANSI code page holds these letters: nothing to test";
    wchar_t oldAppData[1024] = {};
    DWORD hadAppData = GetEnvironmentVariableW(L"APPDATA", oldAppData, 1024);
    SetEnvironmentVariableW(L"APPDATA", appData.c_str());
    CSingleUserLog log(nullptr, AnalyticsFormat::Identity(), nullptr);
    // A base name of its own, so the work folder this leaves behind can be told apart.
    const std::wstring base = L"ProgramLogTest" + std::to_wstring(GetTickCount());
    int made = log.InitLogPath(base);
    SetEnvironmentVariableW(L"APPDATA", hadAppData ? oldAppData : nullptr);
    ASSERT_EQ(made, 1);
    EXPECT_EQ(log.GetLogFolder(), appData + L"\\VUDezivazaru\\logs\\" + base);

    ConfigureProgramLog(log.GetLogFilePath());
    LOG(INFO) << " Program log test \xD0\x9B";
    ConfigureProgramLog(L"");  // closes the file
    std::string text = test_support::ReadFile(log.GetLogFilePath());
    EXPECT_NE(text.find("--[Thread]("), std::string::npos) << text;
    EXPECT_NE(text.find(")  Program log test \xD0\x9B\r\n"), std::string::npos) << text;
    RemoveDirectoryW(log.GetWorkFolder().c_str());
}
