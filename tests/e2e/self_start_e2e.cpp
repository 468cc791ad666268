// The setup starts itself again (the "-sendrestlogs" delivery copy, the "-close" log upload) only
// through its protected copy: while its window is open, the setup.exe in the download folder is
// renamed and another program put under its name, as a standard user could; closing the window
// never starts that program, and the close still reaches the collector and the log upload. And a
// setup saved under a name that contains a switch is still an ordinary start with its window.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/TextCodec.h"
#include "support/local_services.h"
#include "support/setup_process.h"
#include "support/test_support.h"

namespace {

const wchar_t kClass[] = L"QV_UI_Frame_486";

std::wstring PlantedProgram() { return test_support::WinePath(START_PROBE_EXE); }

HWND WindowOf(DWORD pid) {
    for (const auto& w : FindWindowsOfClass(kClass))
        if (w.second == pid) return w.first;
    return nullptr;
}

// A setup.exe copy in a folder of its own, its application data there, its events going to the
// services of this test.
class SelfStartE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
        appData_ = dir_.File(L"AppData");
        CreateDirectoryW(appData_.c_str(), nullptr);
        SetEnvironmentVariableW(L"APPDATA", appData_.c_str());
        SetEnvironmentVariableW(L"ORBALA_REPORT_ENDPOINT", TextCodec::Utf8ToWide(LocalServices::BaseUrl(true)).c_str());
        test_support::WriteText(dir_.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\n");
    }
    void TearDown() override {
        for (const auto& w : FindWindowsOfClass(kClass))
            if (HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, w.second)) {
                TerminateProcess(p, 1);
                CloseHandle(p);
            }
        SetEnvironmentVariableW(L"ORBALA_REPORT_ENDPOINT", nullptr);
    }
    // Every log the runs wrote: the program's logs and the report SDK's.
    std::string Logs() {
        std::string all;
        for (const std::wstring& f : test_support::FilesBelow(appData_))
            if (f.size() > 4 && f.compare(f.size() - 4, 4, L".log") == 0) all += test_support::ReadFile(appData_ + L"\\" + f);
        return all;
    }

    test_support::TempDir dir_;
    std::wstring appData_;
};

}  // namespace

TEST_F(SelfStartE2E, ARenamedAndReplacedSetupIsNeverStartedAtTheClose) {
    const std::wstring exe = dir_.File(L"setup.exe");
    ASSERT_TRUE(CopyFileW(BuiltSetupExe().c_str(), exe.c_str(), FALSE));
    // The configuration asks for a close report: closing starts the "-close" upload copy too.
    ASSERT_EQ(LocalServices::Control("POST", "/__control/config", R"({"Downloader_config": 2})"), 200);

    SetupProcess setup;
    ASSERT_TRUE(setup.Start(exe));
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = WindowOf(setup.Pid())) != nullptr; }, 60000)) << setup.Output();
    ASSERT_TRUE(WaitUntil([] { return !LocalServices::Requests("/queryDownloaderV2").empty(); }, 30000));
    Sleep(1500);  // the reply is read

    // What a standard user can do to the file while the elevated window is open.
    const std::wstring renamed = dir_.File(L"setup.renamed.exe");
    ASSERT_TRUE(MoveFileW(exe.c_str(), renamed.c_str())) << GetLastError();
    ASSERT_TRUE(CopyFileW(PlantedProgram().c_str(), exe.c_str(), FALSE));

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(setup.WaitForExit(30000));
    EXPECT_EQ(setup.ExitCode(), 0u);

    // The delivery copy ran and delivered the close, and the close report was uploaded.
    EXPECT_TRUE(WaitUntil([&] { return Logs().find("Send rest logs, wait end") != std::string::npos; }, 60000)) << Logs();
    auto closeArrived = [] {
        for (const Json::Value& r : LocalServices::Requests("/g/collect"))
            if ((r["query"].asString() + r["body"].asString()).find("ep.qv_action=Close") != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(WaitUntil(closeArrived, 30000));
    EXPECT_TRUE(WaitUntil([&] { return Logs().find(" Maintenance start: close01 ") != std::string::npos; }, 30000)) << Logs();
    EXPECT_TRUE(WaitUntil([] { return !LocalServices::Requests("/v1/productLogUpload").empty(); }, 30000));

    // Started from the protected copy (the program's own log says where it ran from), never
    // from the download folder.
    const std::string logs = Logs();
    EXPECT_NE(logs.find(" Protected copy: "), std::string::npos) << logs;
    // The firewall entry names the protected copy too (Wine's firewall accepts the entry and
    // keeps nothing; the setup prints what it added).
    const std::string output = setup.Output();
    const size_t entry = output.find("Authorized application ");
    ASSERT_NE(entry, std::string::npos) << output;
    const std::string named = output.substr(entry, output.find('\n', entry) - entry);
    EXPECT_NE(named.find("\\setup-"), std::string::npos) << named;
    EXPECT_EQ(named.find(TextCodec::WideToUtf8(dir_.path())), std::string::npos) << named;
    Sleep(2000);
    EXPECT_EQ(test_support::ReadFile(exe + L".started"), "") << "the planted program was started";
}

// The switch counts only as an argument: a setup saved under a name that contains it is an
// ordinary start and shows its window.
TEST_F(SelfStartE2E, ANameContainingTheSwitchStillShowsTheWindow) {
    for (const wchar_t* name : {L"setup-sendrestlogs.exe", L"setup -sendrestlogs.exe"}) {
        SCOPED_TRACE(TextCodec::WideToUtf8(name));
        const std::wstring exe = dir_.File(name);
        ASSERT_TRUE(CopyFileW(BuiltSetupExe().c_str(), exe.c_str(), FALSE));
        SetupProcess setup;
        ASSERT_TRUE(setup.Start(exe));
        HWND window = nullptr;
        EXPECT_TRUE(WaitUntil([&] { return (window = WindowOf(setup.Pid())) != nullptr || !setup.IsRunning(); }, 60000));
        ASSERT_NE(window, nullptr) << "no window: the start was taken for the delivery copy";
        PostMessageW(window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(setup.WaitForExit(30000));
        EXPECT_EQ(setup.ExitCode(), 0u);
        // Let the delivery copy of this run end before the next start.
        Sleep(3000);
    }
}
