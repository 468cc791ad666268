#include "window/install_ui_mainwnd.h"

#include <process.h>
#include <shobjidl.h>

#include <easylogging++.h>

#include "config/ConfigurationLoad.h"
#include "download/DownloadAddress.h"
#include "analytics/CSingleUserLog.h"
#include "base/LanguageTables.h"
#include "platform/FuntionImpl.h"
#include "window/SettingsPanel.h"

namespace {
std::wstring g_windowClassName = L"QV_UI_Frame_";
}

void SetMainWindowClassName(const std::wstring& name) { g_windowClassName = name; }

InstallUIMainWnd::InstallUIMainWnd() : m_log(nullptr) {}

InstallUIMainWnd::~InstallUIMainWnd() {
    if (m_taskbar) m_taskbar->Release();
    if (m_progressFinished) CloseHandle(m_progressFinished);
}

const wchar_t* InstallUIMainWnd::GetWindowClassName() const { return g_windowClassName.c_str(); }

int InstallUIMainWnd::WaitForAllThreadExit() {
    LOG(INFO) << "InstallUIMainWnd WaitForAllThreadExit";
    for (HANDLE thread : m_threads)
        if (thread) WaitForSingleObject(thread, 600000);
    return 0;
}

unsigned __stdcall InstallUIMainWnd::AsyncGetCbsInfoThreadFunc(void* window) {
    auto* self = static_cast<InstallUIMainWnd*>(window);
    return unsigned(ConfigurationLoad::RunEarlyQuery(*self->m_configure, self->m_workerStarted, self->m_uiLanguage.load()));
}

void InstallUIMainWnd::LoadDownloadInfo() {
    ConfigurationLoad::LoadAtInstallTime(*m_configure, m_uiLanguage.load(), &m_pm);
}

std::wstring InstallUIMainWnd::checkRemotePath(std::vector<std::wstring> remotePaths) {
    return DownloadAddress::CheckRemotePath(remotePaths, IsForbidCDN());
}

bool InstallUIMainWnd::IsForbidCDN() { return DownloadAddress::IsForbidCDN(m_configure->m_softwareName); }

void InstallUIMainWnd::AddRequestTooMuchTimes() { DownloadAddress::AddRequestTooMuchTimes(m_configure->m_softwareName); }

std::wstring InstallUIMainWnd::CheckWin78Link(const std::wstring& address) {
    float osVersion = 0;
    FuntionImpl::GetOSVersionName(osVersion);
    return DownloadAddress::CheckWin78Link(address, osVersion, m_pm.GetControlText(L"Download_url"),
                                           m_pm.GetControlText(L"Extra_download_url"));
}

std::wstring InstallUIMainWnd::AnalyticsProductVersion() {
    return m_configure ? m_configure->softwareVersion() : std::wstring();
}

std::string InstallUIMainWnd::AnalyticsLanguageCode() { return GetLanguageCode(m_uiLanguage.load()); }

void InstallUIMainWnd::ResizeForSettings(bool collapsed) {
    RECT rc{};
    GetWindowRect(m_hWnd, &rc);
    MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, m_pm.Scale(SettingsPanel::HeightFor(collapsed)), TRUE);
}

LRESULT InstallUIMainWnd::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    // The report object ends with the window; what it still holds is delivered by the hidden
    // "-sendrestlogs" copy it starts. The analytics object outlives the window: it forgets it.
    if (m_log) {
        m_log->SetMainWindow(nullptr);
        m_log->EndReportObject();
    }
    PostQuitMessage(0);
    handled = FALSE;
    return 0;
}
