// The installer window during an installation: the checks before it starts (the product not
// running, free space, the SSD suggestion, the folder), the install worker's start, the
// progress bar with its bands and crawl timers, the taskbar button, and what each message of
// the worker does to the pages.
#include "window/InstallFolder.h"
#include "window/install_ui_mainwnd.h"

#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <easylogging++.h>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Control/UIProgress.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/TextCodec.h"
#include "deployment_values.h"
#include "download/DownLoadImpl.h"
#include "install/InstallWindow.h"
#include "platform/FuntionImpl.h"
#include "window/ControlTextQuery.h"
#include "window/InstallFlowRules.h"
#include "window/MessageBoxKinds.h"
#include "window/UnattendedRun.h"
#include "window/WindowLanguage.h"
#include "window/WindowTexts.h"

namespace {

constexpr UINT_PTR kStartProgressTimer = 1922;
constexpr UINT_PTR kVerifyCrawlTimer = 1920;
constexpr UINT_PTR kInstallCrawlTimer = 1921;
constexpr UINT_PTR kLastStepsTimer = 1923;
constexpr UINT_PTR kCarouselTimer = 2000;
constexpr UINT_PTR kAutoRetryTimer = 888;

void Show(DuiLib::CControlUI* control, bool visible) {
    if (control) control->SetVisible(visible);
}

bool ReadFreeBytes(const std::wstring& drive, uint64_t& free) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(drive.c_str(), &available, nullptr, nullptr)) return false;
    free = available.QuadPart;
    return true;
}

}  // namespace

// ---- Progress -------------------------------------------------------------------------------

int InstallUIMainWnd::SetInstallProgress(int percent) {
    if (!m_progressLabel || !m_progress) return m_progressValue.load();
    if (percent <= m_progress->GetValue()) return m_progress->GetValue();
    m_progressLabel->SetText(WindowTexts::FormatNumber(m_progressFormat, static_cast<double>(percent)));
    if (m_progress->SetValue(percent)) m_progressValue = m_progress->GetValue();
    if (m_taskbar && m_hWnd) {
        m_taskbar->SetProgressValue(m_hWnd, static_cast<ULONGLONG>(percent), 100);
        m_taskbar->SetProgressState(m_hWnd, TBPF_NORMAL);
    }
    return m_progressValue.load();
}

int InstallUIMainWnd::OnDownloadProgress(int64_t downloaded, int64_t total, int32_t) {
    // The first report tells the package's size; only one thread gets to announce it.
    int64_t none = 0;
    if (total > 0 && m_install.packageSize.compare_exchange_strong(none, total))
        m_log->AddUserLogEvent("Other", "PackageSize", InstallFlowRules::PackageSizeText(total), false);
    int percent = InstallFlowRules::DownloadPercent(downloaded, total);
    // The controls belong to the window thread: the percentage travels there, where the bar
    // keeps only values above its own.
    if (m_hWnd && percent > m_progressValue.load()) PostMessageW(m_hWnd, kMsgDownloadPercent, WPARAM(percent), 0);
    return percent;
}

void InstallUIMainWnd::SetTaskbarState(int state) {
    if (m_taskbar && m_hWnd) m_taskbar->SetProgressState(m_hWnd, static_cast<TBPFLAG>(state));
}

// ---- Timers ---------------------------------------------------------------------------------

void InstallUIMainWnd::OnTimer(UINT_PTR id) {
    switch (id) {
        case kAutoInstallTimer:
            ::KillTimer(m_hWnd, kAutoInstallTimer);
            if (FuntionImpl::IsAutoRun()) PerformClick(m_installBtn);
            break;
        case kAutoRetryTimer:
            ::KillTimer(m_hWnd, kAutoRetryTimer);
            if (FuntionImpl::IsAutoRun()) PerformClick(m_startApp);
            break;
        case kStartProgressTimer:
            ::KillTimer(m_hWnd, kStartProgressTimer);
            SetInstallProgress(1);
            break;
        case kRunningAnimationTimer:
            break;
        case kVerifyCrawlTimer: {
            InstallFlowRules::CrawlStep step =
                InstallFlowRules::VerifyTick(m_progressValue.load(), m_install.verificationDone.load() == 1);
            if (step.stopTimer) ::KillTimer(m_hWnd, kVerifyCrawlTimer);
            if (step.setProgress) SetInstallProgress(step.next);
            break;
        }
        case kInstallCrawlTimer: {
            const bool finished = m_install.installerFinished.load() != 0;
            InstallFlowRules::CrawlStep step = InstallFlowRules::InstallTick(m_progressValue.load(), finished);
            LOG(INFO) << " TIMER_INSTALLPROGRESS_ID: " << (finished ? 1 : 0) << ", " << step.next;
            if (step.setProgress) SetInstallProgress(step.next);
            if (step.stopTimer) ::KillTimer(m_hWnd, kInstallCrawlTimer);
            if (step.signalFinish && m_progressFinished) SetEvent(m_progressFinished);
            if (step.startLastTimer) ::SetTimer(m_hWnd, kLastStepsTimer, 500, nullptr);
            break;
        }
        case kLastStepsTimer: {
            const bool finished = m_install.installerFinished.load() != 0;
            InstallFlowRules::CrawlStep step = InstallFlowRules::LastTick(m_progressValue.load());
            LOG(INFO) << " TIMER_ATLASTPROGRESS_ID: " << (finished ? 1 : 0) << ", " << step.next;
            if (step.setProgress) SetInstallProgress(step.next);
            if (step.stopTimer) ::KillTimer(m_hWnd, kLastStepsTimer);
            if (step.signalFinish && m_progressFinished) SetEvent(m_progressFinished);
            break;
        }
        case kCarouselTimer:
            OnCarouselTimer();
            break;
        case CAnima::kStepTimer:
            if (!m_anima || !m_anima->OnStepTimer()) ::KillTimer(m_hWnd, CAnima::kStepTimer);
            break;
        default:
            break;
    }
}

// ---- Worker messages ------------------------------------------------------------------------

LRESULT InstallUIMainWnd::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (msg == WM_COPYDATA && Deployment::kTestBuild) return AnswerControlTextQuery(wParam, lParam, handled);
    if (msg == kMsgDownloadPercent) {
        SetInstallProgress(static_cast<int>(wParam));
        handled = TRUE;
        return 0;
    }
    if (msg == kMsgRunningAnimation) {
        if (wParam)
            ::SetTimer(m_hWnd, kRunningAnimationTimer, 1000, nullptr);
        else
            ::KillTimer(m_hWnd, kRunningAnimationTimer);
        handled = TRUE;
        return 0;
    }
    if (msg == kMsgStartProduct) {
        // The worker's product start: the same handler as the user's click, on this thread.
        LOG(INFO) << " Start product on the window thread " << GetCurrentThreadId();
        PerformClick(m_startApp);
        if (wParam == 1) PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        handled = TRUE;
        return 0;
    }
    if (msg == kMsgUnattendedStart) {
        // The click waits for the early configuration query (bounded by its own time limits):
        // the free-space checks before an installation need the package size it brings.
        HANDLE query = m_threads[kThreadPreQuery];
        if (query && WaitForSingleObject(query, 0) == WAIT_TIMEOUT && GetTickCount() - m_windowStartTick < 20000) {
            Sleep(50);
            PostMessageW(m_hWnd, kMsgUnattendedStart, 0, 0);
        } else {
            StartUnattended();
        }
        handled = TRUE;
        return 0;
    }
    if (msg == WM_ENDSESSION) {
        if (wParam) OnSessionEnd();
        handled = FALSE;
        return 0;
    }
    if (msg < WM_USER + 1919 || msg > WM_USER + 1928) {
        handled = FALSE;
        return 0;
    }
    handled = TRUE;
    HandleWorkerMessage(msg, wParam);
    return 0;
}

// A test's question for a control's text (test builds only, see window/ControlTextQuery.h).
LRESULT InstallUIMainWnd::AnswerControlTextQuery(WPARAM wParam, LPARAM lParam, BOOL& handled) {
    const auto* ask = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    HWND asker = reinterpret_cast<HWND>(wParam);
    if (!ask || ask->dwData != ControlTextQuery::kAsk || !ask->lpData || ask->cbData == 0 ||
        ask->cbData > ControlTextQuery::kMaxNameBytes || ask->cbData % sizeof(wchar_t) != 0 || !::IsWindow(asker)) {
        handled = FALSE;
        return 0;
    }
    handled = TRUE;
    std::wstring name(static_cast<const wchar_t*>(ask->lpData), ask->cbData / sizeof(wchar_t));
    DuiLib::CControlUI* control = m_pm.FindControl(name);
    if (!control) return 0;
    std::wstring text = control->GetText();
    COPYDATASTRUCT answer{};
    answer.dwData = ControlTextQuery::kAnswer;
    answer.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    answer.lpData = text.empty() ? nullptr : &text[0];
    ::SendMessageW(asker, WM_COPYDATA, reinterpret_cast<WPARAM>(m_hWnd), reinterpret_cast<LPARAM>(&answer));
    return 1;
}

void InstallUIMainWnd::FinalPageSteps() {
    if (m_closeBtn) m_closeBtn->SetEnabled(true);
    ::KillTimer(m_hWnd, kCarouselTimer);
    if (m_mainTab) m_mainTab->SelectItem(0);
    m_closeMode = 1;
    FocusPageDefault();
}

void InstallUIMainWnd::FocusPageDefault() {
    DuiLib::CControlUI* button = m_installBtn;
    if (m_mainTab && m_mainTab->GetCurSel() == 1) button = FindControl(L"install_minbtn");
    else if (m_pageTab && m_pageTab->GetCurSel() == 1) button = m_startApp;
    m_pm.SetDefaultButton(button);
}

void InstallUIMainWnd::HandleWorkerMessage(UINT msg, WPARAM wParam) {
    switch (msg) {
        case MessageBoxKinds::kMsgClearAppData:  // 2943
            ClearAPPData();
            break;
        case kMsgDownloadFailed: {  // 2944
            SetTaskbarState(TBPF_ERROR);
            if (IsUnattended()) NoteUnattendedEnd(UnattendedRun::ForDownloadFailure(wParam));
            if (wParam == 9) {
                ShowMessageBox(MsgInternetFail, L"");
            } else if (wParam == 10) {
                ShowMessageBox(MsgInternetTimeout, L"");
            } else if (wParam == 11) {
                AddRequestTooMuchTimes();
                ShowMessageBox(MsgInternetTimeout, L"");
            } else {
                ShowMessageBox(MsgUrlFail, L"");
            }
            if (m_closeBtn) m_closeBtn->SetEnabled(true);
            m_log->AddUserLogEvent("Download", "8.DownFail", RetryLabel(), false);
            ::KillTimer(m_hWnd, kCarouselTimer);
            if (m_mainTab) m_mainTab->SelectItem(0);
            m_closeMode = 1;
            ::KillTimer(m_hWnd, kRunningAnimationTimer);
            DownLoadFail();
            break;
        }
        case kMsgNothingToInstall:  // 2945
            SetInstallProgress(100);
            SaveProductLanguage();
            FinalPageSteps();
            if (IsUnattended()) {
                NoteUnattendedEnd(Unattended::kInstalled);
                Close();
            }
            break;
        case kMsgVerifyStarted:  // 2946
            SetInstallProgress(InstallFlowRules::kDownloadEnd);
            ::SetTimer(m_hWnd, kVerifyCrawlTimer, 2000, nullptr);
            break;
        case kMsgInstallerStarted:  // 2947
            OnInstallCrawlStart();
            break;
        case kMsgInstallerTimedOut:  // 2948
            ::KillTimer(m_hWnd, kRunningAnimationTimer);
            ::KillTimer(m_hWnd, kInstallCrawlTimer);
            ::KillTimer(m_hWnd, kLastStepsTimer);
            SetTaskbarState(TBPF_ERROR);
            ShowMessageBox(MsgInstallRunTimeOut, L"");
            ::KillTimer(m_hWnd, kCarouselTimer);
            if (m_mainTab) m_mainTab->SelectItem(0);
            m_closeMode = 1;
            DownLoadFail();
            break;
        case kMsgInstallSucceeded:  // 2949
            if (m_closeBtn) m_closeBtn->SetEnabled(true);
            ::KillTimer(m_hWnd, kCarouselTimer);
            if (!(m_needStartFlag == 1 && m_gifDuration == 0)) {
                if (m_mainTab) m_mainTab->SelectItem(0);
                m_closeMode = 1;
                Show(m_startApp, true);
                Show(m_startShortcut, false);
                FocusPageDefault();
            } else {
                // The product starts from the running page; a close from here on is final.
                m_successOnRunningPage = true;
                m_closeMode = 1;
            }
            SetTaskbarState(TBPF_NOPROGRESS);
            if (IsUnattended()) {
                NoteUnattendedEnd(Unattended::kInstalled);
                Close();
                break;
            }
            if (m_log->Closing.load()) {
                LOG(INFO) << " BgMode will auto exit when success";
                Sleep(3000);
                Close();
            }
            break;
        case kMsgVerifyFailed:  // 2950
            ::KillTimer(m_hWnd, kVerifyCrawlTimer);
            SetTaskbarState(TBPF_ERROR);
            ShowMessageBox(MsgMD5Fail, L"");
            if (m_closeBtn) m_closeBtn->SetEnabled(true);
            ::KillTimer(m_hWnd, kCarouselTimer);
            if (m_mainTab) m_mainTab->SelectItem(0);
            m_closeMode = 1;
            DownLoadFail();
            break;
        case WM_USER + 1928:  // 2952
            OnBannersReady();
            break;
        default:
            break;
    }
}

void InstallUIMainWnd::OnInstallCrawlStart() {
    ::KillTimer(m_hWnd, kVerifyCrawlTimer);
    SetInstallProgress(InstallFlowRules::kVerifyEnd);
    const int64_t estimate = InstallFlowRules::EstimateInstallSeconds(m_install.packageSize.load());
    const int32_t extra = m_log->GetDownloadSettings().Additional_time;
    const UINT elapse = InstallFlowRules::InstallCrawlElapse(estimate, extra);
    ::SetTimer(m_hWnd, kInstallCrawlTimer, elapse, nullptr);
    LOG(INFO) << " Estimate install time is " << estimate << ", extra install time is " << extra
              << ", timer elapse is " << elapse;
    m_log->AddUserLog_funnelExPair("RunningTime", "Estimated Duration", "EstimatedDurationPar", std::to_string(estimate),
                                   false, false);
}

void InstallUIMainWnd::DownLoadFail() {
    LOG(INFO) << " Enter fail page ";
    Show(m_failRetry, true);
    Show(m_failAdvice, true);
    Show(m_imgWarning, true);
    if (m_startApp) {
        m_startApp->SetEnabled(true);
        m_startApp->SetText(WindowLanguage::GetLanguageText(L"install_page", L"retry_btn", m_uiLanguage.load()));
        m_startApp->SetVisible(true);
    }
    Show(m_startShortcut, false);
    if (IsUnattended()) {
        // No "Try again" without a user: the run ends with the failure's code.
        NoteUnattendedEnd(Unattended::kFailed);
        Close();
        return;
    }
    FocusPageDefault();
    if (FuntionImpl::IsAutoRun()) ::SetTimer(m_hWnd, kAutoRetryTimer, 1000, nullptr);
    if (m_log->Closing.load()) {
        m_log->AddUserLog_funnelExPair("DownFail", "DownFailReason", "DownFailError",
                                       "error_page_" + std::to_string(m_lastSuppressedMessage), false, false);
        LOG(INFO) << " BgMode will auto exit when fail";
        Close();
    }
}

// ---- Before the installation ----------------------------------------------------------------

int InstallUIMainWnd::BeginInstallTask() {
    LOG(INFO) << " BeginInstallTask";
    if (!AppIsRunning()) {
        m_log->AddUserLogEvent("Other", "FlowError", "DL024", false);
        LOG(INFO) << "app is running";
        return -1;
    }
    if (!IsCorrectInstallPath()) return -1;

    // 3. The running page's size, centred where the window is.
    RECT rc{};
    GetWindowRect(m_hWnd, &rc);
    MoveWindow(m_hWnd, rc.left, rc.top, m_pm.Scale(650), m_pm.Scale(360), TRUE);
    CenterWindow();

    // 4.
    if (m_progressLabel) m_progressLabel->SetText(WindowTexts::FormatNumber(m_progressFormat, 0.0));
    Show(m_failRetry, false);
    Show(m_failAdvice, false);
    Show(m_imgWarning, false);
    if (m_startApp) m_startApp->SetText(WindowLanguage::GetLanguageText(L"install_page", L"start_app", m_uiLanguage.load()));
    if (m_background) m_background->SetBkImage(L"skin/backgroud_complete.png");

    // 5.
    StartCarousel();
    ::SetTimer(m_hWnd, kStartProgressTimer, 1000, nullptr);

    // 6. What the worker reads is fixed before it starts; the flags of a previous run are reset.
    m_install.installDirectory = GetInstallPath();
    m_install.installClickTick = m_installClickTick;
    m_install.verificationDone = 0;
    m_install.installerFinished = 0;
    m_successOnRunningPage = false;
    if (m_progressFinished) ResetEvent(m_progressFinished);
    CDownLoadImpl::SetProgressCallback(
        [this](int64_t downloaded, int64_t total, int32_t unused) { return OnDownloadProgress(downloaded, total, unused); });
    StartBannerThread();
    StartInstallWorker();
    return 0;
}

void InstallUIMainWnd::StartInstallWorker() {
    HANDLE& slot = m_threads[kThreadInstall];
    // A retry starts only after the previous worker posted its failure: that one has ended, or
    // is about to. Its handle is let go once it has.
    if (slot) {
        if (WaitForSingleObject(slot, 5000) == WAIT_OBJECT_0) CloseHandle(slot);
        else LOG(INFO) << " Previous install thread still running";
        slot = nullptr;
    }
    slot = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &InstallUIMainWnd::InstallThreadFunc, this, 0, nullptr));
}

bool InstallUIMainWnd::AppIsRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot, &entry)) {
        CloseHandle(snapshot);
        return false;
    }
    const std::wstring& processName = m_configure->m_processName;
    bool running = false;
    // The first entry is the system's idle process; the product is looked for after it.
    while (!processName.empty() && Process32NextW(snapshot, &entry)) {
        if (processName == entry.szExeFile) {
            LOG(INFO) << TextCodec::WideToUtf8(entry.szExeFile) << "," << TextCodec::WideToUtf8(processName)
                      << "ID:" << entry.th32ProcessID;
            running = true;
            break;
        }
    }
    CloseHandle(snapshot);
    if (running) {
        ShowMessageBox(MsgAppExist, L"");
        return false;
    }
    return true;
}

bool InstallUIMainWnd::IsCorrectInstallPath() {
    // 0. A folder too long for the installer (typed or pasted into the box) is refused as a wrong
    // folder before anything is fixed or created; it is never cut.
    const std::wstring planned =
        m_installPath.empty() ? WindowTexts::ComposeInstallPath(m_pathEdit ? m_pathEdit->GetText() : std::wstring(), m_softwareName)
                              : m_installPath;
    if (!InstallFolder::InstallPathFits(planned)) {
        LOG(INFO) << " Install path too long: " << planned.size();
        ShowMessageBox(MsgPathError, L"");
        return false;
    }

    // 1. The space checks need the package size the service told.
    if (m_configure->loadState() == CConfigure::kLoaded && m_configure->m_source == CConfigure::kSourceServer) {
        const int64_t size = m_configure->m_fileSize;
        const bool pathFixedHere = m_installPath.empty();
        if (NeedSuggestSSD(size) && !m_suggestedSsd.empty()) {
            if (ShowMessageBox(MsgSuggestSSD, m_suggestedSsd) == MessageBoxKinds::kResultFirst) {
                LOG(INFO) << " user choose ok to switch ssd: " << TextCodec::WideToUtf8(m_suggestedSsd);
                SwitchToSuggestedDrive();
            }
        }
        uint64_t shortFree = 0;
        int32_t r = EnoughFreeSpace(size, shortFree);
        if (r == InstallFlowRules::kDownloadDriveShort) {
            ShowMessageBox(MsgNoEnoughSpace, L"");
            return false;
        }
        if (r == InstallFlowRules::kInstallDriveShort && IsUnattended() && !m_unattended.folder.empty()) {
            // The administrator's folder is not moved to another drive behind their back.
            m_log->AddUserLogEvent("Other", "FlowError", "DL008", false);
            m_log->AddUserLogEvent("Other", "NoEnoughSpace", "install_" + std::to_string(shortFree), false);
            ShowMessageBox(MsgNoEnoughSpace, L"");
            return false;
        }
        if (r == InstallFlowRules::kInstallDriveShort) {
            SwitchToLargestFixedDrive();
            // The folder was fixed by this very check: it follows the switch, else the second
            // check would judge the same drive again. A folder fixed by an earlier run (a
            // retry resumes there) stays.
            if (pathFixedHere) m_installPath.clear();
            r = EnoughFreeSpace(size, shortFree);
            if (r == InstallFlowRules::kDownloadDriveShort) {
                ShowMessageBox(MsgNoEnoughSpace, L"");
                return false;
            }
            if (r == InstallFlowRules::kInstallDriveShort) {
                m_log->AddUserLogEvent("Other", "FlowError", "DL008", false);
                m_log->AddUserLogEvent("Other", "NoEnoughSpace", "install_" + std::to_string(shortFree), false);
                ShowMessageBox(MsgNoEnoughSpace, L"");
                return false;
            }
        }
    }

    // 2, 3. The folder must exist afterwards.
    const std::wstring path = GetInstallPath();
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    if (!PathFileExistsW(path.c_str())) {
        m_log->AddUserLogEvent("Other", "FlowError", "DL009", false);
        ShowMessageBox(MsgPathError, L"");
        return false;
    }
    m_log->AddUserLog_funnelExPair("Download", "DownloadEnvReady", "", "", false, false);

    // 5. A folder Windows still has to move or delete at the next start: reported. The
    // installation stays in the folder already fixed; the free neighbour is only logged.
    if (FuntionImpl::HasPendingRename(path)) {
        m_log->AddUserLogEvent("Other", "ProcessNeedRestartSign", "", false);
        std::wstring spare = InstallFlowRules::ReplacementFolder(path, [](const std::wstring& f) {
            return FuntionImpl::HasPendingRename(f);
        });
        LOG(INFO) << " Install folder has pending renames; free folder would be " << TextCodec::WideToUtf8(spare);
    }

    // 6. The running page.
    if (m_mainTab) m_mainTab->SelectItem(1);
    if (m_pageTab) m_pageTab->SelectItem(1);
    if (m_closeBtn) m_closeBtn->SetEnabled(true);
    FocusPageDefault();
    return true;
}

int32_t InstallUIMainWnd::EnoughFreeSpace(int64_t packageSize, uint64_t& shortFree) {
    if (packageSize <= 0) return InstallFlowRules::kSpaceEnough;
    const InstallFlowRules::FreeBytesFn reader = m_freeSpaceReader ? m_freeSpaceReader : &ReadFreeBytes;
    const std::wstring downloadDrive = m_install.workFolder.substr(0, 2);
    // The install path is fixed only once the download drive is known to be large enough.
    uint64_t free = 0;
    if (reader(downloadDrive, free) && static_cast<uint64_t>(packageSize) >= free) {
        shortFree = free;
        LOG(INFO) << " PC space not enough1: " << free << "<=" << packageSize;
        m_log->AddUserLogEvent("Other", "FlowError", "DL008", false);
        m_log->AddUserLogEvent("Other", "NoEnoughSpace", "download_" + std::to_string(free), false);
        return InstallFlowRules::kDownloadDriveShort;
    }
    const std::wstring installDrive = GetInstallPath().substr(0, 2);
    InstallFlowRules::SpaceCheck check =
        InstallFlowRules::CheckFreeSpace(static_cast<uint64_t>(packageSize), downloadDrive, installDrive, reader);
    if (check.result == InstallFlowRules::kInstallDriveShort) {
        shortFree = check.freeFound;
        LOG(INFO) << " PC space not enough2: " << check.freeFound << "<=" << check.needed;
        return InstallFlowRules::kInstallDriveShort;
    }
    return InstallFlowRules::kSpaceEnough;
}

bool InstallUIMainWnd::NeedSuggestSSD(int64_t packageSize) {
    LOG(INFO) << " custom suggest ssd: " << m_suggestSsd;
    if (m_suggestSsd == 0) return false;
    const std::wstring path = m_pathEdit ? m_pathEdit->GetText() : std::wstring();
    if (path.empty()) return false;
    if (FuntionImpl::IsSsdDrive(path[0])) {
        LOG(INFO) << " CurInstallPath is ssd";
        return false;
    }
    const std::wstring letters = FuntionImpl::GetSsdDriveLetters();
    LOG(INFO) << " CurInstallPath is not ssd, get ssd: " << TextCodec::WideToUtf8(letters);
    if (letters.empty()) return false;
    const InstallFlowRules::FreeBytesFn reader = m_freeSpaceReader ? m_freeSpaceReader : &ReadFreeBytes;
    const std::wstring downloadDrive = m_install.workFolder.substr(0, 2);
    // Each candidate's judgement goes to the log, as the rule reads it.
    InstallFlowRules::FreeBytesFn logged = [&](const std::wstring& root, uint64_t& free) {
        bool read = reader(root, free);
        uint64_t factor = root == downloadDrive ? 3 : 2;
        LOG(INFO) << " Judge space: " << free << ", " << packageSize << "*" << factor;
        return read;
    };
    wchar_t letter = InstallFlowRules::ChooseSsdLetter(static_cast<uint64_t>(packageSize), letters, downloadDrive, logged);
    if (!letter) return false;
    m_suggestedSsd.assign(1, letter);
    LOG(INFO) << " Judge space ok, can use ssd: " << TextCodec::WideToUtf8(m_suggestedSsd);
    return true;
}

void InstallUIMainWnd::SwitchToSuggestedDrive() {
    if (!m_pathEdit || m_suggestedSsd.empty()) return;
    m_pathEdit->SetText(InstallFlowRules::OnDrive(m_suggestedSsd[0], m_pathEdit->GetText()));
}

void InstallUIMainWnd::SwitchToLargestFixedDrive() {
    if (!m_pathEdit) return;
    m_pathEdit->SetText(FuntionImpl::ReplaceDriveWithLargestFixed(m_pathEdit->GetText()));
}
