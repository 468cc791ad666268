// Starting the product installer and waiting for it: the test installer packages run for real
// (exit codes, the install it does, time-out, ending it and its loader); the process start is
// replaced where a test needs it to fail or to look at what it was given.
#include <gtest/gtest.h>

#include "install/InstallerCommand.h"
#include "install/InstallerRun.h"
#include "support/install_fixtures.h"
#include "platform/FuntionImpl.h"
#include "support/test_support.h"

using install_fixtures::ProcessesNamed;

namespace {

const wchar_t kInstallerName[] = L"OrbalaLumeno_Setup_1.0.0.0.exe";
const wchar_t kLoaderName[] = L"OrbalaLumeno_Setup_1.0.0.0.tmp";

struct Captured {
    std::wstring application, commandLine;
    BOOL inherit = FALSE;
    DWORD flags = 0;
    bool inheritableHandles = false;  // process or thread handle made inheritable
    bool startupSized = false;
    int calls = 0;
} g_captured;
DWORD g_failWith = 0;

BOOL WINAPI RecordingCreateProcess(LPCWSTR app, LPWSTR line, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                                   BOOL inherit, DWORD flags, LPVOID env, LPCWSTR dir, LPSTARTUPINFOW si,
                                   LPPROCESS_INFORMATION pi) {
    ++g_captured.calls;
    g_captured.application = app ? app : L"";
    g_captured.commandLine = line ? line : L"";
    g_captured.inherit = inherit;
    g_captured.flags = flags;
    g_captured.inheritableHandles = (pa && pa->bInheritHandle) || (ta && ta->bInheritHandle);
    g_captured.startupSized = si->cb == sizeof(STARTUPINFOW);
    if (g_failWith) {
        SetLastError(g_failWith);
        return FALSE;
    }
    return CreateProcessW(app, line, pa, ta, inherit, flags, env, dir, si, pi);
}

// One installer in a folder of its own, with the folder it installs into and its log folder.
struct Installation {
    Installation() { CreateDirectoryW(logs.c_str(), nullptr); }
    std::wstring Line() {
        InstallerCommand::Inputs in;
        in.installDirectory = app;
        in.language = 4;  // German: "de"
        in.downloaderId = 486;
        in.logFolder = logs;
        in.softwareName = L"Orbala Lumeno";
        GetLocalTime(&in.localTime);
        in.setupPath = L"C:\\Downloads\\OrbalaLumeno_setup.exe";
        in.appendFileName = true;
        return InstallerCommand::Build(in);
    }
    // The installer's log (the only file of the log folder).
    std::string LogText() {
        std::vector<std::wstring> files = test_support::FilesIn(logs);
        return files.empty() ? std::string() : test_support::ReadFile(logs + L"\\" + files[0]);
    }
    test_support::TempDir dir;
    std::wstring installer = dir.File(kInstallerName);
    std::wstring app = dir.File(L"Orbala Lumeno");
    std::wstring logs = dir.File(L"logs");
};

class InstallerRunTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() {
        InstallerRun::SetCreateProcessForTest(nullptr);
        g_captured = Captured();
        g_failWith = 0;
        install_fixtures::EndProcessesNamed({kInstallerName, kLoaderName});
        install_fixtures::DeleteUninstallKey();
    }
};

}  // namespace

TEST_F(InstallerRunTest, ExitCodesTimeOutAndStartFailures) {
    struct Case {
        const char* name;
        const wchar_t* variant;
        bool badLine;      // a line the installer must refuse
        DWORD failStart;   // the process start fails with this error
        int timeoutSteps;
        bool started, ended;
        DWORD exitCode;
        const wchar_t* installedAt;  // the product's folder below the install folder (null: not installed)
    } cases[] = {
        {"installs", L"", false, 0, 100, true, true, 0, L""},
        {"installs deeper", L"deep", false, 0, 100, true, true, 0, L"\\bin"},
        {"refuses another line", L"", true, 0, 100, true, true, 1, nullptr},
        {"exits at once", L"noinstall", false, 0, 100, true, true, 0, nullptr},
        {"outlives the limit", L"slow", false, 0, 2, true, false, 0, nullptr},
        {"cannot start", L"", false, ERROR_ACCESS_DENIED, 100, false, false, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Clean();
        Installation s;
        const std::wstring& installer = s.installer;
        const std::wstring& app = s.app;
        ASSERT_TRUE(install_fixtures::CopyPackage(c.variant, installer));
        g_failWith = c.failStart;
        InstallerRun::SetCreateProcessForTest(&RecordingCreateProcess);
        std::wstring line = s.Line();
        if (c.badLine) line.replace(line.find(L"/VERYSILENT"), 11, L"/SILENT");
        DWORD error = 0;
        HANDLE process = InstallerRun::Start(installer, line, error);
        ASSERT_EQ(process != nullptr, c.started);
        EXPECT_EQ(g_captured.application, installer);
        EXPECT_EQ(g_captured.commandLine, line);
        // The installer inherits none of the setup's handles.
        EXPECT_FALSE(g_captured.inherit);
        EXPECT_EQ(g_captured.flags, DWORD(CREATE_DEFAULT_ERROR_MODE));
        EXPECT_FALSE(g_captured.inheritableHandles);
        EXPECT_TRUE(g_captured.startupSized);
        if (!c.started) {
            EXPECT_EQ(error, c.failStart);
            continue;
        }
        InstallerRun::WaitResult wait = InstallerRun::Wait(process, c.timeoutSteps, 200);
        CloseHandle(process);
        EXPECT_EQ(wait.ended, c.ended);
        if (c.ended) {
            EXPECT_EQ(wait.exitCode, c.exitCode);
        } else {
            EXPECT_EQ(wait.waits, c.timeoutSteps + 1);
        }
        if (c.installedAt) {
            EXPECT_NE(GetFileAttributesW((app + c.installedAt + L"\\" + install_fixtures::ProcessName()).c_str()),
                      INVALID_FILE_ATTRIBUTES);
            std::wstring language;
            ASSERT_TRUE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
            EXPECT_EQ(language, L"de");
            EXPECT_NE(s.LogText().find("Installation process succeeded."), std::string::npos) << s.LogText();
        } else {
            EXPECT_EQ(GetFileAttributesW(app.c_str()), INVALID_FILE_ATTRIBUTES);
        }
        if (c.badLine) {
            EXPECT_NE(s.LogText().find("Refused command line"), std::string::npos) << s.LogText();
        }
    }
}

TEST_F(InstallerRunTest, TheWaitGivesUpOnlyAfterTheCountExceedsTheLimit) {
    Installation s;
    ASSERT_TRUE(install_fixtures::CopyPackage(L"slow", s.installer));
    DWORD error = 0;
    HANDLE process = InstallerRun::Start(s.installer, s.Line(), error);
    ASSERT_NE(process, nullptr);
    ULONGLONG start = GetTickCount64();
    InstallerRun::WaitResult wait = InstallerRun::Wait(process, 3, 100);
    ULONGLONG elapsed = GetTickCount64() - start;
    CloseHandle(process);
    EXPECT_FALSE(wait.ended);
    EXPECT_EQ(wait.waits, 4);
    EXPECT_GE(elapsed, 500u);  // five unanswered waits of 100 ms
}

TEST_F(InstallerRunTest, AStillRunningInstallerIsEndedWithItsLoader) {
    Installation s;
    const std::wstring& installer = s.installer;
    ASSERT_TRUE(install_fixtures::CopyPackage(L"slow", installer));
    DWORD error = 0;
    HANDLE process = InstallerRun::Start(installer, s.Line(), error);
    ASSERT_NE(process, nullptr);
    // The installer starts its loader copy from the temporary folder.
    ULONGLONG start = GetTickCount64();
    while (ProcessesNamed({kLoaderName}).empty() && GetTickCount64() - start < 15000) Sleep(50);
    ASSERT_EQ(ProcessesNamed({kLoaderName}).size(), 1u);
    ASSERT_EQ(ProcessesNamed({kInstallerName}).size(), 1u);

    // Without the loader only the installer itself matches, and nothing is ended.
    EXPECT_GT(FuntionImpl::FindProcessByFullPath(installer, false, false), 0);
    EXPECT_EQ(ProcessesNamed({kInstallerName}).size(), 1u);

    int32_t found = FuntionImpl::FindProcessByFullPath(installer, true, true);
    EXPECT_GT(found, 0);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    CloseHandle(process);
    EXPECT_TRUE(ProcessesNamed({kInstallerName, kLoaderName}).empty());
    EXPECT_EQ(GetFileAttributesW(s.app.c_str()), INVALID_FILE_ATTRIBUTES);  // it never installed
    EXPECT_EQ(FuntionImpl::FindProcessByFullPath(installer, true, true), -1);
}
