#include "install/InstallWorker.h"

#include <shellapi.h>

#include <easylogging++.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "analytics/CSingleUserLog.h"
#include "analytics/FlowError.h"
#include "base/OutboundUrl.h"
#include "base/PlainName.h"
#include "base/TextCodec.h"
#include "config/CConfigure.h"
#include "deployment_values.h"
#include "download/DownLoadImpl.h"
#include "download/DownloadAddress.h"
#include "download/DownloadResult.h"
#include "install/InstallFlowCodes.h"
#include "install/InstallerCommand.h"
#include "install/InstallerRun.h"
#include "platform/FuntionImpl.h"

namespace {

constexpr int kAttempts = 12;
// Attempts in a row that found no network (9) or could not learn the size from the host (6: its
// ten probes got no answer) end the round: the next attempts would only wait the same way. Two
// may be a moment's loss of the network; three of a black-holed host take about 95 s.
constexpr int kUnreachableAttempts = 3;
// The window's timers bring the bar to its end within seconds of the installer's end; a window
// that is gone or a timer that never comes must not hold the worker (and the process) for ever.
constexpr DWORD kProgressFinishWaitMs = 120000;
// A package that cannot be locked is held by another program for a moment (a scanner, an
// indexer): asked again this often (for Options::lockPatienceMs) before the worker gives up.
constexpr DWORD kLockRetryMs = 500;

bool Unreachable(int result) { return result == ErrNetwork || result == ErrSizeUnknown; }

const wchar_t* const kProductUrlLabels[] = {
    L"product_url_english",   L"product_url_japanese",   L"product_url_chinesesimp", L"product_url_spanish",
    L"product_url_german",    L"product_url_french",     L"product_url_russian",     L"product_url_portuguese",
    L"product_url_arabic",    L"product_url_italiano",   L"product_url_chinesetrad", L"product_url_korean",
    L"product_url_nederlands", L"product_url_indonesian", L"product_url_turkish",    L"product_url_hindi",
    L"product_url_thai",      L"product_url_malay",      L"product_url_swedish",     L"product_url_czech",
    L"product_url_vietnamese"};

DWORD SecondsSince(DWORD tick) { return (GetTickCount() - tick) / 1000; }

std::string Decimal(int64_t value) { return std::to_string(value); }

// A value rounded down to two decimals, printed with the given format.
std::string TwoDecimals(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof text, format, std::floor(value * 100.0) / 100.0);
    return text;
}

// The count logged as " The Retry Frequency is: " after a failed attempt.
int RetryFrequency(int attempt) { return attempt == kAttempts ? kAttempts - 1 : attempt - 1; }

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

INT_PTR ShellExecuteOpen(const std::wstring& file, const std::wstring& parameters, int show) {
    return reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", file.c_str(),
                                                   parameters.empty() ? nullptr : parameters.c_str(), nullptr, show));
}

std::wstring RunningExecutable() {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return std::wstring(path, n);
}

}  // namespace

InstallWorker::InstallWorker(IInstallWindow& window, CConfigure& config, const Options& options)
    : m_window(window),
      m_state(window.InstallState()),
      m_config(config),
      m_options(options),
      m_log(options.analytics ? options.analytics : CSingleUserLog::GetInstance()) {}

// ---- Static helpers ----------------------------------------------------------------------------

InstallWorker::PackagePaths InstallWorker::PathsFor(const std::wstring& workFolder, const std::wstring& extraDownloadLabel,
                                                    const std::wstring& version) {
    size_t slash = extraDownloadLabel.find_last_of(L'/');
    std::wstring name = slash == std::wstring::npos ? extraDownloadLabel : extraDownloadLabel.substr(slash + 1);
    size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name = name.substr(0, dot);
    PackagePaths paths;
    paths.isProgram = FuntionImpl::EndsWithExe(extraDownloadLabel);
    // The files are written, run and deleted with administrator rights: the name's parts must be
    // plain names and the result must stay in the work folder, or there are no paths at all.
    const std::wstring installer =
        workFolder + L"\\" + name + L"_" + version + (paths.isProgram ? L".exe" : L".apk");
    if (!PlainName::IsPlain(name, true) || !PlainName::IsPlain(version, false) ||
        !PlainName::IsInsideFolder(workFolder, installer))
        return paths;
    paths.installer = installer;
    paths.taskFile = paths.installer + L".xml";
    paths.stamp = paths.installer + L".db";
    return paths;
}

bool InstallWorker::KeepsEarlierDownload(const std::string& stampLine, const std::wstring& version,
                                         const std::wstring& md5, const std::wstring& md5Extra) {
    size_t mark = stampLine.find("###");
    if (mark == std::string::npos) return false;
    std::wstring cachedVersion = TextCodec::AnsiToWide(stampLine.substr(0, mark));
    std::string digest = stampLine.substr(mark + 3);
    std::transform(digest.begin(), digest.end(), digest.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    std::wstring cachedDigest = TextCodec::AnsiToWide(digest);
    return cachedVersion == version && (cachedDigest == md5 || cachedDigest == md5Extra);
}

void InstallWorker::ClearAppData(const PackagePaths& paths) {
    BOOL deleted = DeleteFileW(paths.installer.c_str());
    DWORD error = GetLastError();
    DeleteFileW(paths.taskFile.c_str());
    DeleteFileW(paths.stamp.c_str());
    LOG(INFO) << " Clear cache: " << deleted << ", " << error;
}

std::string InstallWorker::SpeedText(int64_t packageSize, DWORD elapsedMs) {
    double seconds = static_cast<double>(elapsedMs / 1000);
    if (seconds == 0) seconds = std::max<DWORD>(elapsedMs, 1) / 1000.0;
    char text[64];
    snprintf(text, sizeof text, "%.2fMB/s", static_cast<double>(packageSize) / seconds / 1024 / 1024);
    return text;
}

// ---- Reporting ---------------------------------------------------------------------------------

void InstallWorker::Event(const std::string& category, const std::string& action, const std::string& label, bool wait) {
    m_log->AddUserLogEvent(category, action, label, wait);
}

void InstallWorker::StepEvent(int step, const std::string& core, const std::string& action) {
    m_log->AddUserLog_funnel("CoreFuncEvent", core, step, "Download", action, "null", false, false);
}

void InstallWorker::FunnelPair(const std::string& category, const std::string& action, const std::string& key,
                               const std::string& value) {
    m_log->AddUserLog_funnelExPair(category, action, key, value, false, false);
}

void InstallWorker::RaiseFlowError(const std::string& code) { Event("Other", "FlowError", code); }

void InstallWorker::SendExceptionReport(const std::string& code, int kind) {
    std::string endpoint = m_options.exceptionEndpoint.empty() ? FlowError::ExceptionReportEndpoint(FuntionImpl::IsTestEnv())
                                                               : m_options.exceptionEndpoint;
    FlowError::SendExceptionReportTo(m_log, endpoint, code, static_cast<FlowError::ExceptionKind>(kind),
                                     m_state.downloaderId, m_config.m_source, m_config.getQueryUrl(),
                                     TextCodec::WideToUtf8(m_state.AdviceLink()));
}

std::string InstallWorker::FirstOrRetry() const { return m_state.retry ? "Retry" : "First"; }

INT_PTR InstallWorker::ShellOpen(const std::wstring& file, const std::wstring& parameters, int show) {
    return (m_options.shellOpen ? m_options.shellOpen : &ShellExecuteOpen)(file, parameters, show);
}

// ---- Phases ------------------------------------------------------------------------------------

int InstallWorker::Run() {
    m_start = GetTickCount();
    LoadConfiguration();
    if (ChooseAddress() == Step::Stop) return -1;
    if (HasRunningInstaller()) {
        // "Try again" after a time-out while our installer still runs from the package: the
        // package is complete and checked, so there is nothing to fetch or to write (opening it
        // for writing would end that installer). Wait for it instead of starting another.
        if (WaitForEarlierInstaller() != 0) return -1;
        Finish();
        return 0;
    }
    if (DecideResume() == Step::Stop) return -1;
    int fetched = FetchVerifiedPackage();
    if (fetched != 0) return fetched;
    if (Install() != 0) return -1;
    Finish();
    return 0;
}

void InstallWorker::RequestStop(InstallWindowState& state) {
    state.RequestStop();
    CDownLoadImpl::RequestStop();
}

bool InstallWorker::Stopped(const char* where) {
    if (!m_state.StopRequested()) return false;
    LOG(INFO) << " Work stopped, the window closed: " << where;
    return true;
}

bool InstallWorker::HasRunningInstaller() {
    HANDLE earlier = m_state.runningInstaller;
    if (!earlier) return false;
    if (WaitForSingleObject(earlier, 0) == WAIT_TIMEOUT) return true;
    CloseHandle(earlier);
    m_state.runningInstaller = nullptr;
    return false;
}

void InstallWorker::LoadConfiguration() {
    m_window.SetWorkerStarted();
    m_window.LoadDownloadInfo();
    if (m_config.loadState() == CConfigure::kLoaded) m_config.printContent();
    FunnelPair("Download", "DownloadConfigReady", "default_config", m_config.m_source == CConfigure::kSourceFile ? "1" : "0");
}

InstallWorker::Step InstallWorker::ChooseAddress() {
    m_address = DownloadAddress::CheckRemotePath(m_config.m_remotePaths, DownloadAddress::IsForbidCDN(m_config.m_softwareName));
    float osVersion = 0;
    FuntionImpl::GetOSVersionName(osVersion);
    std::wstring skinDownload, skinExtra;
    m_window.SkinLabel(L"Download_url", skinDownload);
    m_window.SkinLabel(L"Extra_download_url", skinExtra);
    m_address = DownloadAddress::CheckWin78Link(m_address, osVersion, skinDownload, skinExtra);
    m_state.SetAdviceLink(m_address);
    if (m_address.size() < 5) {
        LOG(INFO) << "url is empty";
        m_config.m_loadState = CConfigure::kNotLoaded;  // the next run loads again
        RaiseFlowError("DL023");
        m_window.Post(kMsgDownloadFailed, kNoUsableAddress);
        return Step::Stop;
    }
    m_log->LanguageFrozen = true;
    LOG(INFO) << " Speed-Test Totally Take " << TwoDecimals("%.2f", GetTickCount() - m_start) << " ms";
    m_addressChosen = GetTickCount();
    return Step::Continue;
}

InstallWorker::Step InstallWorker::DecideResume() {
    std::wstring extraLabel;
    m_window.SkinLabel(L"Extra_download_url", extraLabel);
    m_paths = PathsFor(m_state.workFolder, extraLabel, m_config.m_softwareVersion);
    if (m_paths.installer.empty()) {
        // Told like a package file that cannot be opened: the failure page with "Try again".
        LOG(INFO) << " Package path refused: " << TextCodec::WideToUtf8(m_state.workFolder) << ", "
                  << OutboundUrl::ForLog(extraLabel) << ", " << OutboundUrl::ForLog(m_config.m_softwareVersion);
        RaiseFlowError(InstallFlowCodes::ForDownloadResult(ErrOpenFile));
        m_window.Post(kMsgDownloadFailed, ErrOpenFile);
        return Step::Stop;
    }
    if (FILE* stamp = _wfopen(m_paths.stamp.c_str(), L"rb")) {
        char line[260] = {};
        if (!fgets(line, sizeof line, stamp)) line[0] = '\0';
        fclose(stamp);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (!KeepsEarlierDownload(text, m_config.m_softwareVersion, m_config.m_md5, m_config.m_md5Extra)) {
            if (FileExists(m_paths.installer)) DeleteFileW(m_paths.installer.c_str());
            if (FileExists(m_paths.taskFile)) DeleteFileW(m_paths.taskFile.c_str());
        }
        DeleteFileW(m_paths.stamp.c_str());
    }
    m_window.StartRunningAnimation();
    m_window.RegisterAsMainWindow();
    if (m_config.m_source == CConfigure::kSourceFile) {
        // Without the service's digest a partial file cannot be trusted: start from scratch.
        LOG(INFO) << " Configure Load From File, clearAppData Before Download! ";
        ClearAppData(m_paths);
    }
    return Step::Continue;
}

// Download and verification. A package whose digest is not the service's is a failed download:
// it was deleted, and the next attempt fetches it from scratch, within the 12 attempts.
int InstallWorker::FetchVerifiedPackage() {
    for (;;) {
        int downloaded = Download();
        if (downloaded != 0) return downloaded;
        Step verified = Verify();
        if (verified == Step::Continue) return 0;
        if (verified == Step::Stop) return -1;
        LOG(INFO) << " The Retry Frequency is: " << RetryFrequency(m_attemptsUsed);
        if (m_attemptsUsed >= kAttempts) {
            Event("Other", "DownErrorCode", "error_" + Decimal(kDigestMismatch));
            m_window.Post(kMsgDownloadFailed, kDigestMismatch);
            return -1;
        }
    }
}

int InstallWorker::Download() {
    m_addressLabel = DownloadAddress::AddressLabel(m_address);
    // A download after a refused package is a round of its own, announced and timed again.
    DWORD roundStart = m_attemptsUsed == 0 ? m_addressChosen : GetTickCount();
    Event("Download", "3.Downloading...", FirstOrRetry());
    StepEvent(2, "Downloading", "Downloading");
    int result = 0;
    int unreachable = 0;  // attempts in a row that reached nothing
    while (m_attemptsUsed < kAttempts) {
        if (Stopped("before a download attempt")) return -1;
        int attempt = ++m_attemptsUsed;
        char label[300];
        snprintf(label, sizeof label, "%s-%d", m_addressLabel.c_str(), attempt);
        FunnelPair("Download", "Use download address", "Use download address Type", label);
        FunnelPair("Download", "SliceDownloadStart", "", "");
        LOG(INFO) << " Tasks info, round begin, current = " << attempt << ", total = 12";
        std::string cdnSummary;
        result = CDownLoadImpl::SuperDownloadFile(m_address, m_paths.installer, cdnSummary, true);
        LOG(INFO) << " Tasks info, round end, current = " << attempt << ", total = 12, result = " << result;
        if (!cdnSummary.empty()) Event("Other", "CDNInfor", cdnSummary);
        if (result == ErrStopped || m_state.StopRequested()) {
            // The attempt saved its task file: the next run resumes from there. Nothing more is
            // reported to a window that has gone.
            LOG(INFO) << " Work stopped, the window closed: during a download attempt";
            return -1;
        }
        if (result == 1) {
            if (attempt > 1) LOG(INFO) << "Success\xA3\xAC" << "The Retry Frequency is: " << attempt - 1;
            break;
        }
        if (result == 13)
            SendExceptionReport("DL022", static_cast<int>(FlowError::ExceptionKind::TooManyRedirects));
        else
            RaiseFlowError(InstallFlowCodes::ForDownloadResult(result));
        // No pause between attempts: each one resumes from the task file.
        LOG(INFO) << " The Retry Frequency is: " << RetryFrequency(attempt);
        unreachable = Unreachable(result) ? unreachable + 1 : 0;
        if (unreachable >= kUnreachableAttempts && attempt < kAttempts) {
            LOG(INFO) << " Download round ended early: " << unreachable << " attempts in a row reached no host, result = "
                      << result;
            break;
        }
    }

    DWORD downloadMs = GetTickCount() - roundStart;
    std::string seconds = Decimal(downloadMs / 1000);
    StepEvent(3, "Downloading", "DownFinsh");
    Event("Other", "MDownloadTime", seconds);
    StepEvent(0, "Downloading", "CoreFuncEnd");
    Event("Other", "DownloadSpeed", SpeedText(m_state.packageSize.load(), downloadMs));
    Event("Other", "DownloadTime", seconds);
    LOG(INFO) << " DownloadTime total use " << seconds;
    FunnelPair("RunningTime", "DownloadDuration", "DownloadCompleted", Decimal(SecondsSince(m_state.installClickTick)));
    m_downloadEnded = GetTickCount();

    if (result != 1) {
        Event("Other", "DownErrorCode", "error_" + Decimal(result));
        m_window.Post(kMsgDownloadFailed, static_cast<WPARAM>(result));
        return -1;
    }
    FunnelPair("Download", "DownloadSuccess", "", "");
    m_log->AddUserLog_funnelEx("Download", "MDownSuccess", {{"AddressType", "NO"}, {"Download address", m_addressLabel}},
                               false, false);
    if (!FuntionImpl::EndsWithExe(m_config.m_extraDownloadUrl)) {
        m_window.Post(kMsgNothingToInstall, 0);
        LOG(INFO) << "APP DownloaderSucceed";
        return 1;
    }
    return 0;
}

InstallWorker::Step InstallWorker::Verify() {
    m_state.verificationStartTick = GetTickCount();
    m_state.verificationDone = 0;
    m_window.Post(kMsgVerifyStarted, 0);
    Event("Download", "Md5CheckStart", "");
    StepEvent(0, "Md5Check", "CoreFuncStart");
    StepEvent(1, "Md5Check", "Md5CheckStart");

    // From here until the installer has started, nobody may change the file. A file that cannot
    // be locked is busy, not badly signed: it is asked for again, and never deleted for it.
    if (!LockPackage()) {
        m_state.verificationDone = 1;
        if (m_state.StopRequested()) return Step::Stop;
        RaiseFlowError(InstallFlowCodes::ForDownloadResult(ErrOpenFile));
        Event("Other", "DownErrorCode", "error_" + Decimal(ErrOpenFile));
        m_window.Post(kMsgDownloadFailed, ErrOpenFile);
        return Step::Stop;
    }
    PackageVerdict verdict =
        VerifyHeldPackage(m_paths.installer, m_lock, m_config.m_source != CConfigure::kSourceFile, m_config.m_md5,
                          m_config.m_md5Extra, m_config.m_softwareVersion);
    bool digestGood = verdict.digestGood;
    bool signatureGood = verdict.signatureGood;

    DWORD start = m_state.verificationStartTick.load();
    Event("Other", "MMD5CheckTime", Decimal(SecondsSince(start)));
    StepEvent(2, "Md5Check", "Md5CheckFinsh");
    std::string checkSeconds = Decimal(SecondsSince(start));
    Event("Other", "MD5CheckTime", checkSeconds);
    StepEvent(0, "Md5Check", "CoreFuncEnd");
    FunnelPair("RunningTime", "VerificationDuration", "VerificationDurationPar", checkSeconds);
    Event("Download", "Md5CheckFinsh", "");

    InstallFlowCodes::VerificationFailure failure = InstallFlowCodes::ForVerification(digestGood, signatureGood);
    if (failure.failed) SendExceptionReport(failure.code, static_cast<int>(failure.kind));
    if (failure.stopsInstall) {
        m_lock.Release();
        m_state.verificationDone = 1;
        m_window.Post(kMsgVerifyFailed, 0);
        return Step::Stop;
    }
    if (failure.downloadsAgain) {
        // Not the file the service named (its digest came with the configuration): refused like a
        // failed download, deleted with its task file and stamp, never installed.
        LOG(INFO) << " Package refused: its MD5 is not the configuration's; downloading it again";
        m_lock.Release();
        ClearAppData(m_paths);
        return Step::DownloadAgain;
    }
    return Step::Continue;
}

bool InstallWorker::LockPackage() {
    const DWORD start = GetTickCount();
    for (int tries = 1;; ++tries) {
        if (m_lock.Acquire(m_paths.installer)) {
            if (tries > 1) LOG(INFO) << " Package lock taken after " << tries << " tries";
            return true;
        }
        const DWORD error = m_lock.error();
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!busy || GetTickCount() - start >= m_options.lockPatienceMs) {
            LOG(INFO) << " Package lock failed (" << error << "), " << (busy ? "busy for " : "not retried: ")
                      << (busy ? Decimal((GetTickCount() - start) / 1000) + " s" : std::string("not a busy file"));
            return false;
        }
        if (tries == 1) LOG(INFO) << " Package busy (" << error << "), asking again";
        if (WaitForSingleObject(m_state.StopEvent(), kLockRetryMs) == WAIT_OBJECT_0) {
            LOG(INFO) << " Package lock failed (" << error << "), the window closed";
            return false;
        }
    }
}

int InstallWorker::Install() {
    m_state.verificationDone = 1;
    if (Stopped("the installer is not started")) {
        m_lock.Release();
        return -1;
    }
    m_window.StopRunningAnimation();
    Event("Download", TextCodec::WideToUtf8(Deployment::INSTALL_READY_ACTION()), FirstOrRetry());

    InstallerCommand::Inputs inputs;
    inputs.installDirectory = m_state.installDirectory;
    inputs.language = m_window.UiLanguage();
    inputs.downloaderId = m_state.downloaderId;
    inputs.logFolder = m_state.logFolder;
    inputs.softwareName = m_config.m_softwareName;
    GetLocalTime(&inputs.localTime);
    inputs.setupPath = m_options.setupPath.empty() ? RunningExecutable() : m_options.setupPath;
    inputs.appendFileName = m_state.appendFileName;
    std::wstring line = InstallerCommand::Build(inputs);
    LOG(INFO) << " [Download File Path]: " << TextCodec::WideToUtf8(m_paths.installer);
    LOG(INFO) << " [Start Install CmdLine]: " << TextCodec::WideToUtf8(line);

    Event("Download", "5.ProgramInstall", FirstOrRetry());
    StepEvent(0, "Installing", "CoreFuncStart");
    StepEvent(1, "Installing", "ProgramInstall");
    if (Stopped("the installer is not started")) {
        m_lock.Release();
        return -1;
    }
    m_state.installStartTick = GetTickCount();
    DWORD error = ERROR_BUFFER_OVERFLOW;  // a line too long to pass is not started
    HANDLE process = line.empty() ? nullptr : InstallerRun::Start(m_paths.installer, line, error);
    m_lock.Release();  // the installer runs (or could not start): the file may change again
    if (!process) {
        // Told to the window like a time-out: the failure page with "Try again".
        m_state.installerFinished = 1;
        LOG(INFO) << " Start installer failed (" << error << ")";
        Event("Other", "InstallStartError", Decimal(error));
        StepEvent(0, "Installing", "CoreFuncEnd");
        m_window.Post(kMsgInstallerTimedOut, 0);
        return -1;
    }
    m_state.installerFinished = 0;
    m_window.Post(kMsgInstallerStarted, 0);
    return AwaitInstaller(process);
}

// Waits for our installer with the time limit. A time-out keeps its handle: "Try again" then
// waits for that installer rather than opening its package (which would end it).
int InstallWorker::AwaitInstaller(HANDLE process) {
    InstallerRun::WaitResult wait = InstallerRun::Wait(process, m_config.m_installTimeout, 1000, m_state.StopEvent());
    if (wait.stopped) {
        // The installer goes on by itself; the process need not stay for it.
        LOG(INFO) << " Work stopped, the window closed: the installer still runs, not waited for";
        if (m_state.runningInstaller == process) m_state.runningInstaller = nullptr;
        CloseHandle(process);
        return -1;
    }
    if (!wait.ended) {
        if (m_state.runningInstaller && m_state.runningInstaller != process) CloseHandle(m_state.runningInstaller);
        m_state.runningInstaller = process;
    } else {
        if (m_state.runningInstaller == process) m_state.runningInstaller = nullptr;
        CloseHandle(process);
    }
    if (!wait.ended) {
        // The installer keeps running; the window offers "Try again".
        m_state.installerFinished = 1;
        RaiseFlowError("DL016");
        StepEvent(0, "Installing", "CoreFuncEnd");
        LOG(INFO) << " Cmd nWaitSeconds timed out: " << m_config.m_installTimeout;
        m_window.Post(kMsgInstallerTimedOut, 0);
        return -1;
    }
    Event("Other", "MInstallTime", Decimal(SecondsSince(m_state.installStartTick.load())));
    m_log->AddUserLog_funnel("CoreFuncEvent", "Installing", 2, "Download", "ProgramFinsh", "null", true, false);
    LOG(INFO) << " install Finished, nWaitSeconds: " << wait.waits;
    LOG(INFO) << " install Finished, exit code: " << wait.exitCode;
    if (wait.exitCode != 0) {
        // An installer that reports a failure has not installed the product.
        m_state.installerFinished = 1;
        Event("Other", "InstallExitCode", Decimal(wait.exitCode));
        StepEvent(0, "Installing", "CoreFuncEnd");
        m_window.Post(kMsgInstallerTimedOut, 0);
        return -1;
    }
    return 0;
}

int InstallWorker::WaitForEarlierInstaller() {
    LOG(INFO) << " Installer of the last run still running: waiting for it, nothing downloaded";
    m_state.verificationDone = 1;
    m_window.RegisterAsMainWindow();
    Event("Download", "5.ProgramInstall", FirstOrRetry());
    m_state.installStartTick = GetTickCount();
    m_state.installerFinished = 0;
    m_window.Post(kMsgInstallerStarted, 0);
    HANDLE process = m_state.runningInstaller;
    return AwaitInstaller(process);
}

void InstallWorker::Finish() {
    m_state.installerFinished = 1;
    int progress = m_window.ProgressValue();
    LOG(INFO) << " install Finished, progress: " << progress;
    if (progress >= 99 && m_state.progressFinish100) SetEvent(m_state.progressFinish100);

    Event("Download", "6.ProgramFinsh", FirstOrRetry(), true);
    StepEvent(0, "Installing", "CoreFuncEnd");
    if (m_log->Closing) FunnelPair("InstallationSuccessful", "ProgramInstallSuccess", "PSuccessbackend", "");

    std::string installSeconds = Decimal(SecondsSince(m_state.installStartTick.load()));
    Event("Other", "InstallTime", installSeconds);
    if (!m_config.m_softwareVersion.empty())
        Event("Other", "ProductVersion", TextCodec::WideToUtf8(m_config.m_softwareVersion));
    FunnelPair("RunningTime", "ActualTime", "InstCompletedClosed", installSeconds);

    int32_t language = m_window.UiLanguage();
    std::wstring productUrl;
    if (m_state.unattended) {
        // Installed from the command line: no browser opens on the administrator's desktop.
        LOG(INFO) << " Product page not opened: unattended install";
    } else if (language >= 0 && language < 21 && m_window.SkinLabel(kProductUrlLabels[language], productUrl) &&
               !productUrl.empty()) {
        LOG(INFO) << " Open Url: " << TextCodec::WideToUtf8(productUrl);
        // Only a web page: the shell would run a file, a share or a program just as well.
        if (OutboundUrl::AllowedInThisBuild(productUrl))
            ShellOpen(productUrl, L"", SW_SHOWNORMAL);
        else
            LOG(INFO) << " Url refused: " << OutboundUrl::ForLog(productUrl);
    }

    m_window.SaveProductLanguage();
    if (m_state.progressFinish100) {
        const HANDLE waits[2] = {m_state.progressFinish100, m_state.StopEvent()};
        DWORD state = WaitForMultipleObjects(2, waits, FALSE, kProgressFinishWaitMs);
        if (state == WAIT_TIMEOUT)
            LOG(INFO) << " ProgressFinish100 not signalled within " << kProgressFinishWaitMs / 1000
                      << " s: the bar's timers did not end, going on";
        else if (state == WAIT_OBJECT_0 + 1)
            LOG(INFO) << " ProgressFinish100 not waited for: the window closed";
    }
    m_window.Post(kMsgInstallSucceeded, 0);

    LOG(INFO) << " Install Totally Take " << TwoDecimals("%.1f", (GetTickCount() - m_downloadEnded) / 60000.0)
              << " minutes And Send To Server";
    ClearAppData(m_paths);

    if (FuntionImpl::IsAutoRun()) {
        // Automated test mode: start the whole program again, hidden, and close this one.
        Sleep(m_options.autoRunPauseMs);
        LOG(INFO) << " Force Exit 1";
        DeleteFileW(m_paths.installer.c_str());
        LOG(INFO) << " Force Exit 2";
        DeleteFileW(m_paths.taskFile.c_str());
        LOG(INFO) << " Force Exit 3";
        DeleteFileW(m_paths.stamp.c_str());
        LOG(INFO) << " Force Exit 4";
        m_window.ReleaseInstanceMutex();
        LOG(INFO) << " Force Exit 5";
        LOG(INFO) << " Force Exit 6";
        // The protected copy of the setup, never the file in the download folder.
        DWORD error = 0;
        ProtectedSelfCopy::StartResult started = m_options.startSelf ? m_options.startSelf(L"", SW_HIDE, &error)
                                                 : ProtectedSelfCopy::OfThisProcess().Start(L"", SW_HIDE, &error);
        LOG(INFO) << " Force Exit 7 error code = " << static_cast<int>(started) << ", " << error << " ("
                  << ProtectedSelfCopy::ResultText(started) << ")";
        // The window closes after the product start it was asked for, both on its own thread.
        if (m_state.needStartFlag == 1)
            m_window.Post(kMsgStartProduct, 1);
        else
            m_window.CloseWindow();
        LOG(INFO) << " Force Exit 8";
        return;
    }
    // The start_app click runs on the window's thread: it shows the launch hint, message boxes
    // and timers of the window.
    if (m_state.needStartFlag == 1) m_window.Post(kMsgStartProduct, 0);
}
