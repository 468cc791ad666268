// Run folders of one run, and the program log written by real runs (child processes of this
// test program, each a run of its own with its own start stamp).
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <easylogging++.h>

#include "analytics/CSingleUserLog.h"
#include "app/LogSetup.h"
#include "platform/RunFolders.h"
#include "base/TextCodec.h"
#include "support/test_support.h"

using FuntionImpl::DriveFacts;

namespace {

constexpr uint64_t GB = 1024ull * 1024 * 1024;

DriveFacts Drive(const wchar_t* root, uint64_t freeBytes, int bus = 11) {
    DriveFacts d;
    d.root = root;
    d.type = DRIVE_FIXED;
    d.busType = bus;
    d.freeBytes = freeBytes;
    return d;
}

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
    SYSTEMTIME t = {};
    t.wYear = y;
    t.wMonth = mo;
    t.wDay = d;
    t.wHour = h;
    t.wMinute = mi;
    t.wSecond = s;
    t.wMilliseconds = ms;
    return t;
}

const wchar_t kAppData[] = L"C:\\Users\\ann\\AppData\\Roaming";

}  // namespace

TEST(RunFolders, ValuesFromBaseNameTimeAndDrives) {
    RunFolderValues v;
    ASSERT_TRUE(RunFolders::Compute(L"LumenoSetup", kAppData, Time(2024, 3, 5, 7, 8, 9, 10), L"C:\\",
                                    {Drive(L"C:\\", 10 * GB), Drive(L"D:\\", 200 * GB),
                                     Drive(L"E:\\", 900 * GB, FuntionImpl::kBusTypeUsb)},
                                    v));
    EXPECT_EQ(v.startStamp, L"20240305070809010");
    EXPECT_EQ(v.logFolder, L"C:\\Users\\ann\\AppData\\Roaming\\VUDezivazaru\\logs\\LumenoSetup");
    EXPECT_EQ(v.logFilePath,
              L"C:\\Users\\ann\\AppData\\Roaming\\VUDezivazaru\\logs\\LumenoSetup\\LumenoSetup_20240305070809010.log");
    EXPECT_EQ(v.workFolder, L"D:\\VUDezivazaru\\LumenoSetup") << "largest fixed drive, never the USB one";
}

TEST(RunFolders, WorkFolderStaysWhenNoOtherDriveHasMore) {
    RunFolderValues v;
    ASSERT_TRUE(RunFolders::Compute(L"LumenoSetup", kAppData, Time(2024, 12, 31, 23, 59, 59, 999), L"C:\\",
                                    {Drive(L"C:\\", 50 * GB), Drive(L"D:\\", 50 * GB)}, v));
    EXPECT_EQ(v.workFolder, L"C:\\VUDezivazaru\\LumenoSetup");
    EXPECT_EQ(v.startStamp, L"20241231235959999");
}

TEST(RunFolders, MissingAppData) {
    RunFolderValues v;
    ASSERT_TRUE(RunFolders::Compute(L"LumenoSetup", L"", Time(2024, 1, 2, 3, 4, 5, 6), L"C:\\",
                                    {Drive(L"C:\\", 10 * GB)}, v));
    EXPECT_EQ(v.logFolder, L"\\VUDezivazaru\\logs\\LumenoSetup");
    EXPECT_EQ(v.logFilePath, L"\\VUDezivazaru\\logs\\LumenoSetup\\LumenoSetup_20240102030405006.log");
    // The work folder starts from the Windows drive, then moves like any other.
    EXPECT_EQ(v.workFolder, L"C:\\VUDezivazaru\\LumenoSetup");
    ASSERT_TRUE(RunFolders::Compute(L"LumenoSetup", L"", Time(2024, 1, 2, 3, 4, 5, 6), L"C:\\",
                                    {Drive(L"C:\\", 10 * GB), Drive(L"F:\\", 20 * GB)}, v));
    EXPECT_EQ(v.workFolder, L"F:\\VUDezivazaru\\LumenoSetup");
}

TEST(RunFolders, RefusedInputsLeaveTheValuesAlone) {
    const SYSTEMTIME t = Time(2024, 1, 2, 3, 4, 5, 6);
    const std::vector<DriveFacts> drives = {Drive(L"C:\\", 10 * GB)};
    RunFolderValues v;
    v.logFolder = L"untouched";

    // Paths longer than 259 characters: a long APPDATA, a long base name.
    const std::wstring longAppData = L"C:\\" + std::wstring(220, L'a');
    EXPECT_FALSE(RunFolders::Compute(L"LumenoSetup", longAppData, t, L"C:\\", drives, v));
    EXPECT_FALSE(RunFolders::Compute(std::wstring(130, L'b'), kAppData, t, L"C:\\", drives, v));
    // Names that are no file names.
    for (const wchar_t* base : {L"", L"a\\b", L"a/b", L"C:x", L"a?b", L"a*b", L"a|b", L"a\"b", L"a<b", L"a\tb"})
        EXPECT_FALSE(RunFolders::Compute(base, kAppData, t, L"C:\\", drives, v)) << TextCodec::WideToUtf8(base);
    EXPECT_EQ(v.logFolder, L"untouched");

    // The longest log file path that still fits.
    const std::wstring suffix = L"\\VUDezivazaru\\logs\\LumenoSetup\\LumenoSetup_20240102030405006.log";
    const std::wstring fits = L"C:\\" + std::wstring(RunFolders::kMaxPathChars - 3 - suffix.size(), L'a');
    ASSERT_TRUE(RunFolders::Compute(L"LumenoSetup", fits, t, L"C:\\", drives, v));
    EXPECT_EQ(v.logFilePath.size(), RunFolders::kMaxPathChars);
    EXPECT_FALSE(RunFolders::Compute(L"LumenoSetup", fits + L"a", t, L"C:\\", drives, v));
}

TEST(RunLog, GettersEmptyBeforeInit) {
    // This test program never fixes run folders in its own process.
    CSingleUserLog* log = CSingleUserLog::GetInstance();
    EXPECT_EQ(log, CSingleUserLog::GetInstance());
    EXPECT_EQ(log->GetStartStamp(), L"");
    EXPECT_EQ(log->GetLogFolder(), L"");
    EXPECT_EQ(log->GetLogFilePath(), L"");
    EXPECT_EQ(log->GetWorkFolder(), L"");
}

// One run: started as a child by the test below, with APPDATA pointing at a test folder.
TEST(RunLogChild, DISABLED_WriteOneRun) {
    wchar_t base[64] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"ORBALA_TEST_RUN_BASE", base, 64), 0u);
    CSingleUserLog* log = CSingleUserLog::GetInstance();
    ASSERT_EQ(log->InitLogPath(base), 1);
    ConfigureProgramLog(log->GetLogFilePath());
    LOG(INFO) << " Run log test";
    LOG(INFO) << " Work folder: " << TextCodec::WideToUtf8(log->GetWorkFolder());
    el::Loggers::flushAll();
}

namespace {

bool RunChild(const std::wstring& appData, const std::wstring& baseName) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_filter=RunLogChild.DISABLED_WriteOneRun --gtest_also_run_disabled_tests";
    SetEnvironmentVariableW(L"APPDATA", appData.c_str());
    SetEnvironmentVariableW(L"ORBALA_TEST_RUN_BASE", baseName.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"ORBALA_TEST_RUN_BASE", nullptr);
    if (!started) return false;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(RunLog, TwoRunsWriteTwoLogFilesSideBySide) {
    test_support::TempDir appData;
    wchar_t oldAppData[1024] = {};
    DWORD hadAppData = GetEnvironmentVariableW(L"APPDATA", oldAppData, 1024);
    // A base name of its own, so the work folder this leaves behind can be told apart.
    const std::wstring base = L"RunLogTest" + std::to_wstring(GetTickCount());

    ASSERT_TRUE(RunChild(appData.path(), base));
    Sleep(20);
    ASSERT_TRUE(RunChild(appData.path(), base));
    SetEnvironmentVariableW(L"APPDATA", hadAppData ? oldAppData : nullptr);

    const std::wstring logFolder = appData.path() + L"\\VUDezivazaru\\logs\\" + base;
    std::vector<std::wstring> files = test_support::FilesIn(logFolder);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(files[0], files[1]);

    const std::regex name(TextCodec::WideToUtf8(base) + R"(_\d{17}\.log)");
    const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2},\d{3}--\[Thread\]\(\d+\)  Run log test)");
    const std::regex workLine(R"(.*--\[Thread\]\(\d+\)  Work folder: (.+))");
    std::vector<std::string> workFolders;
    for (const std::wstring& file : files) {
        EXPECT_TRUE(std::regex_match(TextCodec::WideToUtf8(file), name)) << TextCodec::WideToUtf8(file);
        // Each run's file holds that run's lines only: nothing was overwritten or appended.
        std::vector<std::string> lines = Lines(test_support::ReadFile(logFolder + L"\\" + file));
        ASSERT_EQ(lines.size(), 2u) << TextCodec::WideToUtf8(file);
        EXPECT_TRUE(std::regex_match(lines[0], line)) << lines[0];
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[1], m, workLine)) << lines[1];
        workFolders.push_back(m[1].str());
    }
    ASSERT_EQ(workFolders.size(), 2u);

    // Each run's work folder exists on a drive root, named after the base name; remove them
    // again. The drive is the one with the most free space at each start, which may differ
    // between the two runs when two drives share one disk (Wine's C: and Z:, for one).
    for (const std::string& folder : workFolders) {
        const std::wstring work = TextCodec::Utf8ToWide(folder);
        EXPECT_TRUE(FuntionImpl::StartsWithDriveRoot(work));
        EXPECT_EQ(work.substr(3), L"VUDezivazaru\\" + base);
        DWORD attributes = GetFileAttributesW(work.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << folder;
    }
    for (const std::string& folder : workFolders) {
        const std::wstring work = TextCodec::Utf8ToWide(folder);
        RemoveDirectoryW(work.c_str());
        RemoveDirectoryW(work.substr(0, 3).append(L"VUDezivazaru").c_str());  // only when empty
    }
}
