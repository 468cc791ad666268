// The maintenance runs of the real setup.exe: started with "-close05 NAME" or "-dmp NAME" (as the
// close handler and the crash handler start it), it packs the named log of its log folder (and,
// for "-dmp ", the dump) and posts it to the deployment's log-upload service, then ends without
// a window. The deployment's service address is compiled in, so whether the post is accepted
// depends on what listens there; either outcome is checked against what it must leave behind.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <regex>

#include "base/TextCodec.h"
#include "support/setup_process.h"
#include "support/test_support.h"
#include "support/zip_reader.h"

namespace {

const wchar_t* kBaseName = L"OrbalaLumeno_Setup";  // from the skin's download address
const wchar_t* kLogName = L"OrbalaLumeno_Setup_20260105101112013.log";

struct Case {
    const wchar_t* arguments;
    const char* catalogue;
    std::vector<std::string> entries;
};

}  // namespace

TEST(MaintenanceUploadE2e, CloseAndCrashRunsPackTheNamedLogAndEnd) {
    std::wstring exe = CopySetupToTempFolder(BuiltSetupExe());
    ASSERT_FALSE(exe.empty());
    test_support::TempDir appData;
    wchar_t oldAppData[1024] = {};
    DWORD hadAppData = GetEnvironmentVariableW(L"APPDATA", oldAppData, 1024);
    SetEnvironmentVariableW(L"APPDATA", appData.path().c_str());  // inherited by setup.exe

    const std::wstring folder = appData.path() + L"\\VUDezivazaru\\logs\\" + kBaseName;
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
    test_support::WriteText(folder + L"\\" + kLogName, "the closed run's log\r\n");
    test_support::WriteText(folder + L"\\" + kLogName + L".dmp", "its dump");
    const std::string name = TextCodec::WideToUtf8(kLogName);

    const Case cases[] = {
        {L"-close05 ", "close05", {name}},
        {L" -dmp ", "CrashDmp", {name, name + ".dmp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.catalogue);
        std::vector<std::wstring> before = test_support::FilesIn(folder);
        SetupProcess setup;
        ASSERT_TRUE(setup.Start(exe, std::wstring(c.arguments) + kLogName));
        ASSERT_TRUE(setup.WaitForExit(150000)) << setup.Output();
        EXPECT_EQ(setup.ExitCode(), 0u);
        const std::string output = setup.Output();

        // The maintenance run wrote a log of its own beside the others and told what it did.
        std::string ownLog;
        std::vector<std::wstring> zips;
        for (const std::wstring& file : test_support::FilesIn(folder)) {
            if (std::find(before.begin(), before.end(), file) != before.end()) continue;
            if (file.size() == 21 && file.compare(17, 4, L".zip") == 0) zips.push_back(file);
            if (file.compare(0, wcslen(kBaseName) + 1, std::wstring(kBaseName) + L"_") == 0 && file != kLogName &&
                file.find(L"_copy.log") == std::wstring::npos)
                ownLog = test_support::ReadFile(folder + L"\\" + file);
        }
        EXPECT_NE(ownLog.find(std::string(" Maintenance start: ") + c.catalogue + " " + name), std::string::npos) << ownLog;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(ownLog, m, std::regex(" Log archive upload: (-?[0-9]+)"))) << ownLog;
        const bool copyLeft = GetFileAttributesW((folder + L"\\" + kLogName + L"_copy.log").c_str()) != INVALID_FILE_ATTRIBUTES;
        if (m[1] == "0") {
            // Accepted: nothing of the upload is left.
            EXPECT_TRUE(zips.empty());
            EXPECT_FALSE(copyLeft);
        } else {
            // Not accepted: the archive and the copy stay, and the archive holds the right entries.
            EXPECT_EQ(m[1], "-3");
            ASSERT_EQ(zips.size(), 1u);
            EXPECT_TRUE(copyLeft);
            zip_reader::Entries entries;
            ASSERT_TRUE(zip_reader::ReadEntries(folder + L"\\" + zips[0], entries));
            EXPECT_EQ(zip_reader::Names(entries), c.entries);
            EXPECT_EQ(entries[0].second, "the closed run's log\r\n");
            DeleteFileW((folder + L"\\" + zips[0]).c_str());
        }
        // The log and the dump are never removed.
        EXPECT_EQ(test_support::ReadFile(folder + L"\\" + kLogName), "the closed run's log\r\n");
        EXPECT_EQ(test_support::ReadFile(folder + L"\\" + kLogName + L".dmp"), "its dump");
    }
    SetEnvironmentVariableW(L"APPDATA", hadAppData ? oldAppData : nullptr);
}
