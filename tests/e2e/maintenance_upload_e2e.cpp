// The maintenance runs of the real setup.exe: started with "-close05 NAME" or "-dmp NAME" (as the
// close handler and the crash handler start it), it packs the named log of its log folder (and,
// for "-dmp ", the dump) and posts it to the deployment's log-upload service, then ends without
// a window. The local services of this test listen where the local deployment's log-upload host
// points, so each run is checked against the archive they received, or, when they refuse it,
// against what the run must leave behind. Last, a setup that really crashes: its crash handler
// starts the "-dmp " run, which sends the dump it wrote.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <regex>

#include "base/TextCodec.h"
#include "support/local_services.h"
#include "support/setup_driver.h"
#include "support/setup_process.h"
#include "support/test_support.h"
#include "support/zip_reader.h"

namespace {

const wchar_t* kClass = L"QV_UI_Frame_486";
const wchar_t* kBaseName = L"OrbalaLumeno_Setup";  // from the skin's download address
const wchar_t* kLogName = L"OrbalaLumeno_Setup_20260105101112013.log";

// APPDATA of this process (inherited by the setups it starts) set to a folder of its own.
class AppDataFolder {
public:
    AppDataFolder() {
        had_ = GetEnvironmentVariableW(L"APPDATA", old_, 1024) != 0;
        SetEnvironmentVariableW(L"APPDATA", dir_.path().c_str());
    }
    ~AppDataFolder() { SetEnvironmentVariableW(L"APPDATA", had_ ? old_ : nullptr); }
    // The setup's log folder under it.
    std::wstring LogFolder() const { return dir_.path() + L"\\VUDezivazaru\\logs\\" + kBaseName; }

private:
    test_support::TempDir dir_;
    wchar_t old_[1024] = {};
    bool had_ = false;
};

bool IsArchiveName(const std::wstring& file) { return file.size() == 21 && file.compare(17, 4, L".zip") == 0; }

std::vector<std::wstring> NewFiles(const std::wstring& folder, const std::vector<std::wstring>& before) {
    std::vector<std::wstring> added;
    for (const std::wstring& file : test_support::FilesIn(folder))
        if (std::find(before.begin(), before.end(), file) == before.end()) added.push_back(file);
    return added;
}

// The form parts of one recorded upload by name.
std::map<std::string, Json::Value> FormOf(const Json::Value& request) {
    std::map<std::string, Json::Value> parts;
    for (const Json::Value& part : request["form"]) parts[part["name"].asString()] = part;
    return parts;
}

// The archive of a recorded upload, read back through a file of the given folder.
zip_reader::Entries ReceivedArchive(const Json::Value& request, const std::wstring& scratch) {
    std::map<std::string, Json::Value> parts = FormOf(request);
    test_support::WriteText(scratch, zip_reader::Base64Decode(parts["file"]["content_base64"].asString()));
    zip_reader::Entries entries;
    EXPECT_TRUE(zip_reader::ReadEntries(scratch, entries));
    DeleteFileW(scratch.c_str());
    return entries;
}

struct Case {
    const wchar_t* arguments;
    const char* catalogue;
    std::vector<std::string> entries;
    bool refused;  // the service answers 500
};

}  // namespace

TEST(MaintenanceUploadE2e, CloseAndCrashRunsPackTheNamedLogAndEnd) {
    ASSERT_TRUE(LocalServices::Available());
    std::wstring exe = CopySetupToTempFolder(BuiltSetupExe());
    ASSERT_FALSE(exe.empty());
    AppDataFolder appData;
    const std::wstring folder = appData.LogFolder();
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
    test_support::WriteText(folder + L"\\" + kLogName, "the closed run's log\r\n");
    test_support::WriteText(folder + L"\\" + kLogName + L".dmp", "its dump");
    const std::string name = TextCodec::WideToUtf8(kLogName);
    test_support::TempDir scratch;

    const Case cases[] = {
        {L"-close05 ", "close05", {name}, false},
        {L" -dmp ", "CrashDmp", {name, name + ".dmp"}, false},
        {L"-close05 ", "close05", {name}, true},
        {L" -dmp ", "CrashDmp", {name, name + ".dmp"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.catalogue) + (c.refused ? ", refused" : ", accepted"));
        ASSERT_TRUE(LocalServices::Reset());
        if (c.refused) {
            ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/v1/productLogUpload","status":500})"));
        }
        std::vector<std::wstring> before = test_support::FilesIn(folder);
        SetupProcess setup;
        ASSERT_TRUE(setup.Start(exe, std::wstring(c.arguments) + kLogName));
        ASSERT_TRUE(setup.WaitForExit(150000)) << setup.Output();
        EXPECT_EQ(setup.ExitCode(), 0u);

        // The maintenance run wrote a log of its own beside the others and told what it did.
        std::string ownLog;
        std::vector<std::wstring> zips;
        for (const std::wstring& file : NewFiles(folder, before)) {
            if (IsArchiveName(file)) zips.push_back(file);
            if (file.compare(0, wcslen(kBaseName) + 1, std::wstring(kBaseName) + L"_") == 0 && file != kLogName &&
                file.find(L"_copy.log") == std::wstring::npos)
                ownLog = test_support::ReadFile(folder + L"\\" + file);
        }
        EXPECT_NE(ownLog.find(std::string(" Maintenance start: ") + c.catalogue + " " + name), std::string::npos) << ownLog;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(ownLog, m, std::regex(" Log archive upload: (-?[0-9]+)"))) << ownLog;
        EXPECT_EQ(m[1].str(), c.refused ? "-3" : "0") << ownLog;

        // The service received the archive, with the named log (and the dump) as they are.
        std::vector<Json::Value> uploads = LocalServices::Requests("/v1/productLogUpload");
        ASSERT_EQ(uploads.size(), 1u);
        EXPECT_EQ(FormOf(uploads[0])["catalogue"]["value"].asString(), c.catalogue);
        zip_reader::Entries received = ReceivedArchive(uploads[0], scratch.File(L"received.zip"));
        EXPECT_EQ(zip_reader::Names(received), c.entries);
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received[0].second, "the closed run's log\r\n");
        if (received.size() > 1) {
            EXPECT_EQ(received[1].second, "its dump");
        }

        const bool copyLeft = GetFileAttributesW((folder + L"\\" + kLogName + L"_copy.log").c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!c.refused) {
            // Accepted: nothing of the upload is left.
            EXPECT_TRUE(zips.empty());
            EXPECT_FALSE(copyLeft);
        } else {
            // Not accepted: the archive and the copy stay, the archive as it was sent.
            ASSERT_EQ(zips.size(), 1u);
            EXPECT_TRUE(copyLeft);
            zip_reader::Entries kept;
            ASSERT_TRUE(zip_reader::ReadEntries(folder + L"\\" + zips[0], kept));
            EXPECT_EQ(kept, received);
            DeleteFileW((folder + L"\\" + zips[0]).c_str());
            DeleteFileW((folder + L"\\" + kLogName + L"_copy.log").c_str());
        }
        // The log and the dump are never removed.
        EXPECT_EQ(test_support::ReadFile(folder + L"\\" + kLogName), "the closed run's log\r\n");
        EXPECT_EQ(test_support::ReadFile(folder + L"\\" + kLogName + L".dmp"), "its dump");
    }
}

// The whole way of a crash report: the setup crashes on the install click (the test switch
// CrashTest of its local settings file), its crash handler writes the dump beside the run's log
// and, as the configuration reply asks (Downloader_config 2), starts the hidden "-dmp " run, which
// posts the log and that dump. The setup runs in a job, so the test knows when every process it
// started has ended.
TEST(MaintenanceUploadE2e, ACrashedSetupSendsItsLogAndDump) {
    ASSERT_TRUE(LocalServices::Available());
    ASSERT_TRUE(LocalServices::Reset());
    ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
    ASSERT_EQ(LocalServices::Control("POST", "/__control/config", R"({"Downloader_config": 2})"), 200);
    std::wstring exe = CopySetupToTempFolder(BuiltSetupExe());
    ASSERT_FALSE(exe.empty());
    test_support::WriteText(exe.substr(0, exe.find_last_of(L'\\')) + L"\\qv_downloader.cfg", "[Settings]\r\nCrashTest=1\r\n");
    AppDataFolder appData;
    const std::wstring folder = appData.LogFolder();
    POINT install{};
    ASSERT_TRUE(setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"install_btn", -1, 360, install));

    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    SetupProcess setup;
    ASSERT_TRUE(setup.Start(exe, L"", job));
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = setup_driver::WindowOf(kClass, setup.Pid())) != nullptr; }, 60000))
        << setup.Output();
    // The run's log, once the configuration reply has been read (the handler reads its setting;
    // the reply's last field, TimeoutCfg, is logged as it is read).
    std::wstring runLog;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const std::wstring& file : test_support::FilesIn(folder))
                if (file.size() > 4 && file.compare(file.size() - 4, 4, L".log") == 0 &&
                    test_support::ReadFile(folder + L"\\" + file).find(" GetCbsInfo TimeoutCfg is: ") != std::string::npos)
                    runLog = file;
            return !runLog.empty();
        },
        60000))
        << setup.Output();
    const std::string name = TextCodec::WideToUtf8(runLog);

    setup_driver::ClickAt(window, install);
    ASSERT_TRUE(setup.WaitForExit(60000)) << "the click did not end the setup";
    EXPECT_EQ(setup.ExitCode(), DWORD(EXCEPTION_ACCESS_VIOLATION));
    // Every process of the job (the setup, the run it started) has ended: the upload is over.
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    ASSERT_TRUE(WaitUntil(
        [&] {
            return QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                             nullptr) &&
                   accounting.ActiveProcesses == 0;
        },
        150000));
    EXPECT_GE(accounting.TotalProcesses, 2u) << "the crash handler started no copy";
    CloseHandle(job);

    const std::string log = test_support::ReadFile(folder + L"\\" + runLog);
    EXPECT_NE(log.find(" Exception handler entered."), std::string::npos) << log;
    const std::string dump = test_support::ReadFile(folder + L"\\" + runLog + L".dmp");
    ASSERT_GT(dump.size(), 32u) << "no dump beside the log";
    EXPECT_EQ(dump.compare(0, 4, "MDMP"), 0);

    std::vector<Json::Value> uploads = LocalServices::Requests("/v1/productLogUpload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(FormOf(uploads[0])["catalogue"]["value"].asString(), "CrashDmp");
    test_support::TempDir scratch;
    zip_reader::Entries received = ReceivedArchive(uploads[0], scratch.File(L"received.zip"));
    ASSERT_EQ(zip_reader::Names(received), (std::vector<std::string>{name, name + ".dmp"}));
    EXPECT_EQ(received[0].second, log);
    EXPECT_EQ(received[1].second, dump);
    // Accepted: the archive and the copy are gone, the log and the dump stay.
    for (const std::wstring& file : test_support::FilesIn(folder)) {
        EXPECT_FALSE(IsArchiveName(file)) << TextCodec::WideToUtf8(file);
        EXPECT_EQ(file.find(L"_copy.log"), std::wstring::npos) << TextCodec::WideToUtf8(file);
    }
}
