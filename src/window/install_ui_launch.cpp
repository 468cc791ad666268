// The finish page's start click and the product start: the installed program directly, or
// through the launch hint window when the product asks for one; a package that is not a
// program is shown in Explorer instead.
#include "window/install_ui_mainwnd.h"

#include <shellapi.h>

#include <easylogging++.h>

#include "base/TextCodec.h"
#include "install/InstallWorker.h"
#include "install/ProductLaunch.h"
#include "analytics/FlowError.h"
#include "platform/FuntionImpl.h"
#include "platform/FuntionImpl_NetFrame.h"
#include "window/CAlientWnd.h"
#include "window/WindowLanguage.h"

void InstallUIMainWnd::OnFinishStartClick() {
    const std::wstring installPath = GetInstallPath();
    if (FuntionImpl::EndsWithExe(m_configure->m_extraDownloadUrl)) {
        if (FuntionImpl::WillShowNetFrameCheck(installPath)) m_gifDuration = 0;
        m_log->AddUserLogEvent("Download", "7.ProgramLaunch", "", m_gifDuration == 0);
        m_log->AddUserLog_funnel("CoreFuncEvent", "Starting", 0, "Download", "CoreFuncStart", "null", false, false);
        m_log->AddUserLog_funnel("CoreFuncEvent", "Starting", 1, "Download", "ProgramLaunch", "null", false, false);
        LaunchProduct();
        return;
    }
    // Not a program: the downloaded file is shown in its folder; the window stays.
    std::wstring extra;
    SkinLabel(L"Extra_download_url", extra);
    InstallWorker::PackagePaths paths = InstallWorker::PathsFor(m_install.workFolder, extra, m_configure->softwareVersion());
    if (paths.installer.empty()) return;  // no package path in the work folder: nothing to show
    std::wstring parameters = L"/select, " + paths.installer;
    ShellExecuteW(nullptr, L"open", L"explorer.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void InstallUIMainWnd::LaunchProduct() {
    m_launchStarted = true;
    const std::wstring command = L"\"" + GetMainExePath() + L"\"";
    LOG(INFO) << " LaunchProduct: " << TextCodec::WideToUtf8(command);
    ShowWindow(false, false);
    m_log->AddUserLogEvent("Download", "9.StartWindow", std::to_string(m_gifDuration), true);
    m_log->AddUserLog_funnel("CoreFuncEvent", "Starting", 2, "Download", "StartWindow", "null", true, false);
    m_log->AddUserLog_funnel("CoreFuncEvent", "Starting", 0, "Download", "CoreFuncEnd", "null", false, false);
    if (m_gifDuration != 0) {
        // The hint starts the product and closes itself; it deletes itself when it goes.
        auto* hint = new CAlientWnd(m_adminFlag, command, m_configure->softwareVersion(), m_configure->m_softwareName,
                                    m_gifDuration, m_uiLanguage.load());
        hint->ShowModalWindow();
    } else if (FuntionImpl::StartTargetMainExe(command, m_adminFlag, m_log) == -1) {
        m_log->AddUserLogEvent("Other", "FlowError", "DL019", false);
        std::wstring text = WindowLanguage::GetLanguageText(L"message_page", L"ClickShortcutToLaunchText", m_uiLanguage.load());
        MessageBoxW(nullptr, text.c_str(), L"", MB_OK);
    }
    Close();
}
