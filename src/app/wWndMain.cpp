// Process entry of the setup: start-up sequence, maintenance modes, single instance, the
// installer window and the ordered shutdown.
#include <curl/curl.h>  // before windows.h: it brings winsock2.h
#include <easylogging++.h>
#include <objbase.h>
#include <windows.h>

#include <thread>

#include <string>
#include <vector>

#include "app/LogSetup.h"
#include "app/SafeDllLoading.h"
#include "app/MaintenanceUpload.h"
#include "app/StartupRules.h"
#include "window/install_ui_mainwnd.h"
#include "window/MessageBoxWnd.h"
#include "crash/CrashHandler.h"
#include "analytics/CSingleUserLog.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIMarkup.h"
#include "platform/FuntionImpl.h"
#include "platform/FuntionImpl_Firewall.h"
#include "platform/ProtectedSelfCopy.h"
#include "platform/RunFolders.h"
#include "base/ProcessEnvironment.h"
#include "deployment_values.h"
#include "ReportSDK/WebLog.h"
#include "base/TextCodec.h"
#include "base/Unattended.h"

namespace {

// Process-wide start-up state, written on the main thread before any other thread exists.
HANDLE g_instanceMutex = nullptr;
HANDLE g_instanceMutexForWorker = nullptr;  // released by the install worker's forced exit

constexpr int kSkinResourceId = 138;

// Hands the skin archive to the toolkit and reads every entry of it once. False, with what is
// wrong, when the resource is missing, empty, not an archive, or holds an entry that cannot be
// read (a damaged download of the setup).
bool LoadSkinArchive(HINSTANCE instance, std::string& problem) {
    HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(kSkinResourceId), L"ZIPRES");
    HGLOBAL handle = info ? LoadResource(instance, info) : nullptr;
    if (handle == nullptr) {
        problem = "skin resource missing";
        return false;
    }
    DWORD size = SizeofResource(instance, info);
    const void* data = LockResource(handle);
    bool ok = size != 0 && data != nullptr && DuiLib::CPaintManagerUI::SetResourceZip(data, size);
    FreeResource(handle);
    if (!ok) {
        problem = "skin resource is not a readable archive";
        return false;
    }
    return DuiLib::CPaintManagerUI::GetResourceZip().Verify(&problem);
}

// A damaged setup cannot show its own window: a plain system box says so (its texts are in the
// damaged skin, so the box speaks English).
void ShowDamagedSetupBox() {
    MessageBoxW(nullptr,
                L"This setup program is damaged and cannot continue.\n\nPlease download Orbala Lumeno setup again and run the new copy.",
                L"Orbala Lumeno", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

// The Windows version as this program is told it ("major.minor.build"). Version queries answer
// with the real version only to programs whose manifest declares that version; others are told
// Windows 8 (6.2), so this line shows in the log whether the manifest took effect.
std::string ReportedWindowsVersion() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return "unknown";
#pragma GCC diagnostic pop
    return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
           std::to_string(version.dwBuildNumber);
}

// An unattended run's end: the program log is copied where /log asked (written out first),
// and the exit code is returned.
int EndUnattended(const Unattended::Options& options, int exitCode) {
    if (!options.Unattended() && options.logCopy.empty()) return 0;
    LOG(INFO) << " Exit code " << exitCode;
    if (!options.logCopy.empty()) {
        el::Loggers::flushAll();
        const std::wstring log = CSingleUserLog::GetInstance()->GetLogFilePath();
        if (log.empty() || !CopyFileW(log.c_str(), options.logCopy.c_str(), FALSE))
            LOG(INFO) << " Log not copied to " << TextCodec::WideToUtf8(options.logCopy) << ": error " << GetLastError();
    }
    return options.Unattended() ? exitCode : 0;
}

// Taken with an atomic exchange: the crash handler may take the same handle on another thread.
void ReleaseInstanceMutex() {
    HANDLE mutex = static_cast<HANDLE>(InterlockedExchangePointer(&g_instanceMutex, nullptr));
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int) {
    // 0. Before anything else loads: DLLs come from the system folder only.
    const SystemLibrary::SearchRestriction dllSearch = SafeDllLoading::Start();
    SafeDllLoading::PreloadDelayedDlls();
    // The running setup.exe is held open from here until its protected copy is made: while held
    // it cannot be changed, deleted or renamed, so the copy is of the file that was started.
    ProtectedSelfCopy::OfThisProcess().HoldSource(ProcessEnvironment::ModulePath());

    // 1. Crash handling first.
    CrashHandler::Install();

    // 2-3. The skin archive and the start-up keys of the product configuration.
    StartupValues values;
    std::string skinProblem;
    bool haveSkin = LoadSkinArchive(hInstance, skinProblem);
    if (haveSkin) {
        DuiLib::CMarkup markup;
        if (markup.LoadFromResource(L"configure\\configure.xml")) ReadStartupValues(markup, values);
    }

    // 4.
    curl_global_init(CURL_GLOBAL_ALL);

    // 5. The run's log, named after the installer's base name.
    std::wstring baseName = BaseNameFromUrl(values.startupUrl);
    if (!baseName.empty() && CSingleUserLog::GetInstance()->InitLogPath(baseName) == 1) {
        ConfigureProgramLog(CSingleUserLog::GetInstance()->GetLogFilePath());
        CrashHandler::SetLogFilePath(CSingleUserLog::GetInstance()->GetLogFilePath());
    }
    LOG(INFO) << " Start: skin " << (haveSkin ? "loaded" : "missing") << ", Downloader_id "
              << TextCodec::WideToUtf8(values.downloaderIdText) << ", start-up url "
              << TextCodec::WideToUtf8(values.startupUrl);
    float osNumber = 0;
    std::string osName = FuntionImpl::GetOSVersionName(osNumber);
    LOG(INFO) << SystemLibrary::Describe(dllSearch);
    for (const std::string& note : CSingleUserLog::GetInstance()->GetRunFolderNotes()) LOG(INFO) << note;
    LOG(INFO) << " Windows: " << osName << ", version reported to this program " << ReportedWindowsVersion();
    std::wstring ignored;
    for (const std::wstring& name : FuntionImpl::IgnoredLocalSwitches()) ignored += L" " + name + L"=1";
    if (!ignored.empty())
        LOG(INFO) << " Local settings file ignored in a release build:" << TextCodec::WideToUtf8(ignored);

    // 6. Maintenance modes: upload a log archive and end.
    std::wstring commandLine = lpCmdLine ? lpCmdLine : L"";
    MaintenanceCommand maintenance = ParseMaintenanceCommand(commandLine);
    if (maintenance.mode != MaintenanceMode::None) {
        LOG(INFO) << " Maintenance start: " << TextCodec::WideToUtf8(maintenance.catalogue) << " "
                  << TextCodec::WideToUtf8(maintenance.logFileName);
        RunLogArchiveUpload(maintenance.logFileName, TextCodec::WideToAnsi(maintenance.catalogue), std::wstring(),
                            maintenance.wantDumps);
        return 0;
    }

    // The hidden copy started when a run ended: the report object delivers the queued events
    // and ends this process from Init. It goes ahead of the single-instance checks, because the
    // run that started it may still hold the mutex, and a copy that held it would turn a new
    // start of the setup away while it delivers.
    if (WebLog::IsSendRestCommandLine(commandLine)) {
        LOG(INFO) << " Send rest logs";
        GetReportObj()->Init(2, values.mainPid, values.mainPid, "", "", TextCodec::WideToUtf8(values.softwareName).c_str(),
                             TextCodec::WideToUtf8(values.softwareVersion).c_str(), "");
        return 0;
    }

    // The command line of an unattended install.
    const Unattended::Options unattended = Unattended::Parse(commandLine);
    if (!unattended.error.empty()) {
        LOG(INFO) << " Command line refused: " << unattended.error;
        return Unattended::kBadCommandLine;
    }
    if (unattended.help) {
        MessageBoxW(nullptr, Unattended::HelpText().c_str(), L"Orbala Lumeno setup", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (unattended.Unattended())
        LOG(INFO) << " Unattended: " << Unattended::ModeName(unattended.mode) << ", language " << unattended.language
                  << ", wait " << unattended.waitSeconds << " s" << (unattended.noRestart ? ", no restart" : "");

    // A damaged skin: no window can be built from it. Said once in the log and to the user (an
    // unattended run only in the log and its exit code), and the run ends here, before it holds
    // the instance mutex or starts any work.
    if (!haveSkin) {
        LOG(INFO) << " Skin archive damaged: " << skinProblem;
        if (unattended.Unattended()) return Unattended::kFailed;
        ShowDamagedSetupBox();
        return 0;
    }

    // 7. A window of this product is already open: bring it forward instead (an unattended run
    // shows nothing: it waits for that run below).
    if (!values.downloaderIdText.empty()) {
        std::wstring className = WindowClassNameFor(values.downloaderIdText);
        SetMainWindowClassName(className);
        HWND existing = FindWindowW(className.c_str(), nullptr);
        if (existing != nullptr && !FuntionImpl::IsAutoRun() && !unattended.Unattended()) {
            LOG(INFO) << " Already running: showing the open window";
            ShowWindow(existing, SW_SHOW);
            SwitchToThisWindow(existing, TRUE);
            return 0;
        }
    }

    // 8. One instance per product.
    std::wstring mutexName = InstanceMutexNameFor(values.downloaderId);
    g_instanceMutex = CreateMutexW(nullptr, TRUE, mutexName.c_str());
    const bool mutexExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mutexExisted && g_instanceMutex && unattended.Unattended() && !FuntionImpl::IsAutoRun()) {
        // An unattended run waits for the other run to end (its mutex is then ours), for at
        // most /wait seconds.
        LOG(INFO) << " Already running: " << TextCodec::WideToUtf8(mutexName) << " exists, waiting up to "
                  << unattended.waitSeconds << " s";
        DWORD waited = WaitForSingleObject(g_instanceMutex, unattended.waitSeconds * 1000u);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
            LOG(INFO) << " Already running: the other run did not end";
            CloseHandle(g_instanceMutex);
            g_instanceMutex = nullptr;
            return EndUnattended(unattended, Unattended::kAlreadyRunning);
        }
        LOG(INFO) << " The other run ended";
    } else if (mutexExisted && !FuntionImpl::IsAutoRun()) {
        LOG(INFO) << " Already running: " << TextCodec::WideToUtf8(mutexName) << " exists";
        if (g_instanceMutex) CloseHandle(g_instanceMutex);
        g_instanceMutex = nullptr;
        return 0;
    }
    g_instanceMutexForWorker = g_instanceMutex;
    // The install worker's own handle of the mutex, which it closes before an automated restart.
    HANDLE workerCopy = nullptr;
    if (g_instanceMutex)
        DuplicateHandle(GetCurrentProcess(), g_instanceMutex, GetCurrentProcess(), &workerCopy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    InstallUIMainWnd::SetInstanceMutexForWorker(workerCopy);
    CrashHandler::SetInstanceMutexSlot(&g_instanceMutex);
    CrashHandler::SetProductNumber(values.downloaderId);

    // Every later start of this setup by itself (report delivery, log uploads, the automated
    // restart) starts a copy in a folder only administrators can write, never the file in the
    // folder it was downloaded to.
    std::vector<std::string> copyNotes;
    ProtectedSelfCopy::Copy& selfCopy = ProtectedSelfCopy::OfThisProcess();
    selfCopy.Make(CSingleUserLog::GetInstance()->GetWorkFolder(), RunFolders::WindowsFolderSystem(),
                  Deployment::kTestBuild, copyNotes);
    for (const std::string& note : copyNotes) LOG(INFO) << note;

    // 9. Analytics.
    CSingleUserLog::GetInstance()->InitReport(values.downloaderId, values.siteId, TextCodec::WideToUtf8(values.softwareVersion),
                               TextCodec::WideToUtf8(values.softwareName), TextCodec::WideToUtf8(values.startupUrl),
                               KitFlagFor(values.downloaderId), values.mainPid);
    // Every funnel event of an unattended run says so.
    if (unattended.Unattended()) CSingleUserLog::GetInstance()->SetInstallMode(Unattended::ModeName(unattended.mode));

    // 10. Products that do not support 32-bit Windows refuse to run there.
    if (ShouldRefuse32BitSystem(values.support32System, FuntionImpl::Is64BitSystem())) {
        LOG(INFO) << " 32-bit Windows is not supported by this product";
        CSingleUserLog::GetInstance()->AddUserLogEvent("Other", "32bitStartupForbided", "", true);
        if (unattended.Unattended()) return EndUnattended(unattended, Unattended::kSystemNotSupported);
        ShowNotSupportSystemBox();
        return 0;
    }

    // 11.
    if (FAILED(CoInitialize(nullptr))) return 0;

    // 12. The firewall exception, on a thread of its own: the firewall's COM objects take about a
    // second to answer, and the window need not wait for them. The thread initialises COM itself
    // and is joined before the process ends. The entry names the protected copy, never the file
    // in the download folder, which a standard user could replace with any program; the copy's
    // path depends only on its bytes, so runs of the same setup share one entry.
    const std::wstring firewallPath = selfCopy.Path();
    if (firewallPath.empty()) LOG(INFO) << " Firewall exception skipped: no protected copy";
    std::thread firewall([firewallPath] {
        if (!firewallPath.empty() && FuntionImpl::AddFirewallException(firewallPath) != 0)
            LOG(INFO) << " Firewall exception failed";
    });

    // 13. The installer window and the message loop.
    DuiLib::CPaintManagerUI::SetInstance(hInstance);
    InstallUIMainWnd* window = new (std::nothrow) InstallUIMainWnd();
    if (window == nullptr) {
        firewall.join();
        return 0;
    }
    window->SetUnattended(unattended);
    window->Create(nullptr, L"Orbala Lumeno", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 600, 400, nullptr);
    window->CenterWindow();
    // An unattended run's window stays hidden (/passive shows it on its running page).
    if (!unattended.Unattended()) window->ShowWindow(true, true);
    DuiLib::CWindowWnd::MessageLoop();

    // 14. Shutdown in order.
    ReleaseInstanceMutex();
    firewall.join();
    LOG(INFO) << " Wait exit 1";
    window->WaitForAllThreadExit();
    LOG(INFO) << " Wait exit 2";
    CSingleUserLog::GetInstance()->WaitThreadForExit();
    LOG(INFO) << " Wait exit 3";
    // A download the user walked away from may still be running: the window it reports to
    // stays, and the process ends with it.
    const int exitCode = window->UnattendedExitCode();
    if (!window->AllThreadsEnded()) {
        LOG(INFO) << " Exit with a thread still running";
        return EndUnattended(unattended, exitCode);
    }
    delete window;
    curl_global_cleanup();
    CoUninitialize();
    return EndUnattended(unattended, exitCode);
}
