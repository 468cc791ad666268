// Starts the real setup.exe under Wine twice with APPDATA in a test folder and checks that each
// run leaves its own log file in the log folder, every line in the program's log format.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "base/TextCodec.h"
#include "support/setup_process.h"
#include "support/test_support.h"

namespace {

const wchar_t* kClass = L"QV_UI_Frame_486";
const wchar_t* kBaseName = L"OrbalaLumeno_Setup";  // from the skin's download address
constexpr DWORD kStartLimitMs = 60000;

std::wstring SetupCopy() { return CopySetupToTempFolder(BuiltSetupExe()); }

// One run: start, wait for the window, close it, wait for a clean end.
void RunOnce(const std::wstring& exe) {
    SetupProcess setup;
    ASSERT_TRUE(setup.Start(exe));
    auto hasWindow = [&] {
        for (const auto& w : FindWindowsOfClass(kClass))
            if (w.second == setup.Pid()) return true;
        return false;
    };
    ASSERT_TRUE(WaitUntil(hasWindow, kStartLimitMs)) << setup.Output();
    for (const auto& w : FindWindowsOfClass(kClass))
        if (w.second == setup.Pid()) PostMessageW(w.first, WM_CLOSE, 0, 0);
    ASSERT_TRUE(setup.WaitForExit(30000));
    EXPECT_EQ(setup.ExitCode(), 0u);
}

}  // namespace

TEST(RunLogE2e, EachRunWritesItsOwnLogFile) {
    ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
    std::wstring exe = SetupCopy();
    ASSERT_FALSE(exe.empty());

    test_support::TempDir appData;
    wchar_t oldAppData[1024] = {};
    DWORD hadAppData = GetEnvironmentVariableW(L"APPDATA", oldAppData, 1024);
    SetEnvironmentVariableW(L"APPDATA", appData.path().c_str());  // inherited by setup.exe
    RunOnce(exe);
    RunOnce(exe);
    SetEnvironmentVariableW(L"APPDATA", hadAppData ? oldAppData : nullptr);

    const std::wstring logFolder = appData.path() + L"\\VUDezivazaru\\logs\\" + kBaseName;
    // The log folder also holds the analytics day marker (galog.json); count the logs.
    std::vector<std::wstring> files;
    for (const std::wstring& f : test_support::FilesIn(logFolder))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, L".log") == 0) files.push_back(f);
    // Closing the window also starts the hidden "-sendrestlogs" copy, which logs a run of its own.
    ASSERT_GE(files.size(), 2u) << "one log file per run";
    int windowRuns = 0;

    const std::regex name(TextCodec::WideToUtf8(kBaseName) + R"(_\d{17}\.log)");
    // Most messages begin with a blank of their own; a few fixed texts (such as
    // "CSingleUserLog WaitThreadForExit") do not.
    const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2},\d{3}--\[Thread\]\(\d+\) {1,2}\S.*)");
    for (const std::wstring& file : files) {
        SCOPED_TRACE(TextCodec::WideToUtf8(file));
        EXPECT_TRUE(std::regex_match(TextCodec::WideToUtf8(file), name));
        std::istringstream in(test_support::ReadFile(logFolder + L"\\" + file));
        std::string text, l;
        int lines = 0;
        while (std::getline(in, l)) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            EXPECT_TRUE(std::regex_match(l, line)) << l;
            text += l + "\n";
            ++lines;
        }
        EXPECT_GT(lines, 0);
        EXPECT_NE(text.find("  Start: skin loaded"), std::string::npos) << text;
        // A window run logs to its end: the file stays open through the shutdown.
        if (text.find(" [Downloader Id]: ") != std::string::npos) {
            ++windowRuns;
            EXPECT_NE(text.find("  Wait exit 3"), std::string::npos) << "the file stays open to the end\n" << text;
        }
    }
    EXPECT_EQ(windowRuns, 2) << "each window run has its own log file";
}

// The elevated setup writes its log, the report SDK's queue and log, and the day marker into the
// user's profile, which the user controls. With the log family folder and the SDK's folder
// replaced by links to another folder, nothing is written where they lead: the setup takes the
// sibling family folders "-2" and says so in its log.
TEST(RunLogE2e, FoldersOfTheProfileReplacedByLinksAreNotWrittenThrough) {
    ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
    std::wstring exe = SetupCopy();
    ASSERT_FALSE(exe.empty());

    test_support::TempDir appData, elsewhere;
    ASSERT_TRUE(test_support::MakeLink(elsewhere.path(), appData.File(L"VUDezivazaru")));
    ASSERT_TRUE(test_support::MakeLink(elsewhere.path(), appData.File(L"RUZavaDuradeVIV")));
    wchar_t oldAppData[1024] = {};
    DWORD hadAppData = GetEnvironmentVariableW(L"APPDATA", oldAppData, 1024);
    SetEnvironmentVariableW(L"APPDATA", appData.path().c_str());  // inherited by setup.exe
    RunOnce(exe);
    SetEnvironmentVariableW(L"APPDATA", hadAppData ? oldAppData : nullptr);

    std::vector<std::wstring> through = test_support::FilesBelow(elsewhere.path());
    EXPECT_TRUE(through.empty()) << "written through a link: " << TextCodec::WideToUtf8(through.front());

    const std::wstring logFolder = appData.File(L"VUDezivazaru-2\\logs\\") + kBaseName;
    std::string text;
    for (const std::wstring& f : test_support::FilesIn(logFolder))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, L".log") == 0) text += test_support::ReadFile(logFolder + L"\\" + f);
    EXPECT_NE(text.find("  Start: skin loaded"), std::string::npos) << "no run log in the sibling family folder";
    EXPECT_NE(text.find(" Log folder: " + TextCodec::WideToUtf8(appData.File(L"VUDezivazaru")) +
                        " refused, a junction or link"),
              std::string::npos)
        << text;
    // The report SDK's log and queue went to its own sibling folder.
    std::vector<std::wstring> sdkFiles = test_support::FilesBelow(appData.File(L"RUZavaDuradeVIV-2"));
    EXPECT_FALSE(sdkFiles.empty()) << "the report SDK wrote nothing in its sibling family folder";
}
