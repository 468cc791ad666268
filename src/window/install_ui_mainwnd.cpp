#include "window/install_ui_mainwnd.h"

#include <process.h>
#include <shobjidl.h>

#include <easylogging++.h>

#include "DuiLib/Control/UIButton.h"
#include "config/ConfigurationLoad.h"
#include "download/DownloadAddress.h"
#include "analytics/CSingleUserLog.h"
#include "base/LanguageTables.h"
#include "platform/FuntionImpl.h"
#include "window/SettingsPanel.h"
#include "analytics/FlowError.h"
#include "install/InstallWorker.h"
#include "install/ProductLaunch.h"

namespace {
std::wstring g_windowClassName = L"QV_UI_Frame_";
HANDLE g_instanceMutexForWorker = nullptr;
InstallUIMainWnd* g_mainWindow = nullptr;  // the process's main window, registered by the worker
}

void SetMainWindowClassName(const std::wstring& name) { g_windowClassName = name; }

InstallUIMainWnd::InstallUIMainWnd() : m_log(nullptr) {}

InstallUIMainWnd::~InstallUIMainWnd() {
    if (m_taskbar) m_taskbar->Release();
    if (m_progressFinished) CloseHandle(m_progressFinished);
}

const wchar_t* InstallUIMainWnd::GetWindowClassName() const { return g_windowClassName.c_str(); }

unsigned __stdcall InstallUIMainWnd::AsyncGetCbsInfoThreadFunc(void* window) {
    auto* self = static_cast<InstallUIMainWnd*>(window);
    return unsigned(ConfigurationLoad::RunEarlyQuery(*self->m_configure, self->m_workerStarted, self->m_uiLanguage.load()));
}

unsigned __stdcall InstallUIMainWnd::InstallThreadFunc(void* window) {
    auto* self = static_cast<InstallUIMainWnd*>(window);
    InstallWorker worker(*self, *self->m_configure, InstallWorker::Options());
    return static_cast<unsigned>(worker.Run());
}

void InstallUIMainWnd::ClearAPPData() {
    std::wstring extra;
    SkinLabel(L"Extra_download_url", extra);
    InstallWorker::ClearAppData(InstallWorker::PathsFor(m_install.workFolder, extra, m_configure->softwareVersion()));
}

std::wstring InstallUIMainWnd::GetMainExePath() {
    return ProductLaunch::MainExePath(m_install.installDirectory, m_configure->m_processName,
                                      m_configure->loadState() == CConfigure::kLoaded);
}

void InstallUIMainWnd::SetInstanceMutexForWorker(HANDLE mutex) { g_instanceMutexForWorker = mutex; }

bool InstallUIMainWnd::SkinLabel(const std::wstring& name, std::wstring& text) {
    if (!m_pm.FindControl(name)) return false;
    text = m_pm.GetControlText(name);
    return true;
}

void InstallUIMainWnd::Post(UINT message, WPARAM wParam) { PostMessageW(m_hWnd, message, wParam, 0); }

// The worker's thread asks; the timer is set on the window's own thread.
void InstallUIMainWnd::StartRunningAnimation() { PostMessageW(m_hWnd, kMsgRunningAnimation, 1, 0); }

void InstallUIMainWnd::StopRunningAnimation() { PostMessageW(m_hWnd, kMsgRunningAnimation, 0, 0); }

void InstallUIMainWnd::RegisterAsMainWindow() { g_mainWindow = this; }

void InstallUIMainWnd::ReleaseInstanceMutex() {
    if (g_instanceMutexForWorker) {
        ReleaseMutex(g_instanceMutexForWorker);
        CloseHandle(g_instanceMutexForWorker);
        g_instanceMutexForWorker = nullptr;
    }
}

void InstallUIMainWnd::CloseWindow() { PostMessageW(m_hWnd, WM_CLOSE, 0, 0); }

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
    // The open panel never reaches under the taskbar of the monitor the window is on.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT work{0, 0, 0, 0};
    if (GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) work = monitor.rcWork;
    RECT fit = SettingsPanel::FitHeightInWorkArea(rc, m_pm.Scale(SettingsPanel::HeightFor(collapsed)), work);
    MoveWindow(m_hWnd, fit.left, fit.top, fit.right - fit.left, fit.bottom - fit.top, TRUE);
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
