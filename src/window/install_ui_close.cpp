// Closing the installer window: the close button's question, where in the flow the window was
// closed (reported with how long that phase had lasted), the close report, background mode
// (the window hides and the installation goes on until its last message) and the wait for the
// window's threads at the end of the process.
#include "window/install_ui_mainwnd.h"

#include <easylogging++.h>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/TextCodec.h"
#include "install/InstallWorker.h"
#include "platform/ProtectedSelfCopy.h"
#include "window/InstallFlowRules.h"
#include "window/MessageBoxKinds.h"

namespace {
constexpr DWORD kThreadWaitMs = 600000;
const char* const kThreadNames[6] = {"configuration", "privacy links", "banners", "install worker", "spare", "spare"};
}  // namespace

void InstallUIMainWnd::StopWork(const char* reason) {
    if (m_workStopped) return;
    m_workStopped = true;
    LOG(INFO) << " Stop the work: " << reason;
    // The download attempt ends its transfers and saves its task file; the installer is never
    // started after this; the worker's waits end.
    InstallWorker::RequestStop(m_install);
}

void InstallUIMainWnd::OnSessionEnd() {
    StopWork("the session ends");
    HANDLE worker = m_threads[kThreadInstall];
    if (worker && WaitForSingleObject(worker, kSessionEndWaitMs) == WAIT_TIMEOUT)
        LOG(INFO) << " Thread 3 (install worker) still running at the session's end after " << kSessionEndWaitMs
                  << " ms";
}

void InstallUIMainWnd::OnCancelRequest() {
    if (m_closeMode == 1) {
        ShowWindow(false, false);
        Close();
        return;
    }
    // The box hides itself and this window when it is answered with "Yes".
    if (ShowMessageBox(m_closeMode, L"") == MessageBoxKinds::kResultFirst) Close();
}

LRESULT InstallUIMainWnd::OnClose(UINT, WPARAM, LPARAM, BOOL& handled) {
    const int mainPage = m_mainTab ? m_mainTab->GetCurSel() : -1;
    const int pagePage = m_pageTab ? m_pageTab->GetCurSel() : -1;
    const int bar = m_progressValue.load();
    const bool failureShown = m_failRetry && m_failRetry->IsVisible();
    InstallFlowRules::ClosePosition position =
        InstallFlowRules::ClassifyClose(mainPage, pagePage, bar, failureShown, m_launchStarted, m_successOnRunningPage);

    if (position.running) {
        if (m_log->GetDownloadSettings().Back_running != 0) {
            m_log->Closing = true;
            LOG(INFO) << " Close and run background at: " << bar;
        }
        m_log->AddUserLog_funnelExPair("CloseDownloader", "Close", "ClosePosition", std::to_string(bar) + "%", false, false);
    }

    auto sendCloseEvents = [&] {
        if (!position.durationName.empty()) {
            DWORD since = 0;
            switch (position.since) {
                case InstallFlowRules::ClosePosition::kWindowStart: since = m_windowStartTick; break;
                case InstallFlowRules::ClosePosition::kInstallClick: since = m_installClickTick; break;
                case InstallFlowRules::ClosePosition::kVerifyStart: since = m_install.verificationStartTick.load(); break;
                case InstallFlowRules::ClosePosition::kInstallStart: since = m_install.installStartTick.load(); break;
                default: break;
            }
            m_log->AddUserLog_funnelExPair("RunningTime", position.durationName, position.durationKey,
                                           InstallFlowRules::SecondsSince(since, GetTickCount()), false, false);
        }
        m_log->AddUserLogEvent("CrashRate", "Close", position.reason, false);
        m_log->AddUserLog_funnel("Keypoint", position.step, 0, "CorePublicModule", "Close", "null", false, false);
    };

    if (m_log->Closing.load() && position.running) {
        // Background mode: hidden, the workers go on; their last message closes the window.
        ::ShowWindow(m_hWnd, SW_HIDE);
        sendCloseEvents();
        handled = TRUE;
        return 0;
    }

    // The window really closes.
    if (m_log->GetDownloadSettings().Downloader_config == 2) {
        // A close report: a hidden copy of the setup uploads the logs ("-close").
        std::wstring logPath = m_log->GetLogFilePath();
        size_t slash = logPath.find_last_of(L"\\/");
        std::wstring fileName = slash == std::wstring::npos ? logPath : logPath.substr(slash + 1);
        size_t dot = fileName.find_last_of(L'.');
        std::wstring stem = dot == std::wstring::npos ? fileName : fileName.substr(0, dot);
        std::wstring extension = dot == std::wstring::npos ? std::wstring() : fileName.substr(dot);
        std::wstring parameters = L" -" + TextCodec::Utf8ToWide(position.reason) + L" " + stem + extension;
        // The protected copy of the setup, never the file in the download folder.
        DWORD error = 0;
        ProtectedSelfCopy::StartResult started = ProtectedSelfCopy::OfThisProcess().Start(parameters, SW_HIDE, &error);
        if (started != ProtectedSelfCopy::StartResult::Started)
            LOG(INFO) << " Close report copy not started: " << ProtectedSelfCopy::ResultText(started) << ", " << error;
    }
    sendCloseEvents();
    // Closed for good: the work this window owns stops (the download saves its positions for
    // the next run) and no installer starts after this.
    StopWork(("window closed, " + position.reason).c_str());
    PostQuitMessage(0);
    handled = FALSE;
    // The default handling destroys the window.
    DestroyWindow(m_hWnd);
    handled = TRUE;
    return 0;
}

int InstallUIMainWnd::WaitForAllThreadExit() {
    LOG(INFO) << "InstallUIMainWnd WaitForAllThreadExit";
    for (int slot = 0; slot < 6; ++slot) {
        HANDLE thread = m_threads[slot];
        if (!thread) continue;
        DWORD limit = kThreadWaitMs;
        if (slot == kThreadInstall && m_workStopped) limit = kStoppedWorkerWaitMs;
        if (WaitForSingleObject(thread, limit) == WAIT_TIMEOUT)
            LOG(INFO) << " Thread " << slot << " (" << kThreadNames[slot] << ") still running at exit: not ended within "
                      << limit / 1000 << " s" << (slot == kThreadInstall && m_workStopped ? " of the stop" : "");
    }
    return 0;
}

bool InstallUIMainWnd::AllThreadsEnded() const {
    for (HANDLE thread : m_threads)
        if (thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) return false;
    return true;
}
