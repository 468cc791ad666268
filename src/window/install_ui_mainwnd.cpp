#include "window/install_ui_mainwnd.h"

#include <process.h>

#include <easylogging++.h>

#include "config/ConfigurationLoad.h"
#include "download/DownloadAddress.h"
#include "analytics/CSingleUserLog.h"
#include "platform/FuntionImpl.h"
#include "analytics/FlowError.h"
#include "install/InstallWorker.h"
#include "install/ProductLaunch.h"

namespace {
std::wstring g_windowClassName = L"QV_UI_Frame_";
HANDLE g_instanceMutexForWorker = nullptr;
InstallUIMainWnd* g_mainWindow = nullptr;  // the process's main window, registered by the worker
constexpr UINT_PTR kRunningAnimationTimer = 1000;
}

void SetMainWindowClassName(const std::wstring& name) { g_windowClassName = name; }

InstallUIMainWnd::InstallUIMainWnd() = default;
InstallUIMainWnd::~InstallUIMainWnd() = default;

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

void InstallUIMainWnd::StartRunningAnimation() { SetTimer(m_hWnd, kRunningAnimationTimer, 1000, nullptr); }

void InstallUIMainWnd::StopRunningAnimation() { KillTimer(m_hWnd, kRunningAnimationTimer); }

void InstallUIMainWnd::RegisterAsMainWindow() { g_mainWindow = this; }

void InstallUIMainWnd::SaveProductLanguage() {
    // Not built yet: the product's language is written once the window has its language tables.
}

void InstallUIMainWnd::ClickStartApp() {
    // start_app launches the installed product, with the installer's rights when admin_flag is set.
    std::wstring command = L"\"" + GetMainExePath() + L"\"";
    int adminFlag = FuntionImpl::ParseLeadingInt(m_pm.GetControlText(L"admin_flag"));
    if (FuntionImpl::StartTargetMainExe(command, adminFlag) == -1) FlowError::Raise("DL019");
}

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

void InstallUIMainWnd::InitWindow() {
    if (!m_pm.GetRoot() || m_pm.GetRoot()->GetCount() == 0)
        LOG(INFO) << " Main window layout missing from the skin; configuration labels are empty";
    auto number = [this](const wchar_t* key) { return FuntionImpl::ParseLeadingInt(m_pm.GetControlText(key)); };
    m_configure.reset(new CConfigure(number(L"Downloader_id"), number(L"Language_id"), number(L"Site_id")));
    m_configure->loadFromConfigureXml(&m_pm, false);
    m_configure->loadDefaultLinks(&m_pm);
    m_configure->printContent();
    // What the install worker is given by the window.
    m_install.downloaderId = number(L"Downloader_id");
    m_install.needStartFlag = number(L"NeedStart_flag");
    m_install.workFolder = CSingleUserLog::GetInstance()->GetWorkFolder();
    m_install.logFolder = CSingleUserLog::GetInstance()->GetLogFolder();
    m_install.progressFinish100 = CreateEventW(nullptr, TRUE, FALSE, L"ProgressFinish100");
    // The download configuration is usually in before the user presses "install".
    m_threads[0] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &InstallUIMainWnd::AsyncGetCbsInfoThreadFunc, this, 0, nullptr));
}

LRESULT InstallUIMainWnd::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    // The report object ends with the window; what it still holds is delivered by the hidden
    // "-sendrestlogs" copy it starts.
    CSingleUserLog::GetInstance()->EndReportObject();
    PostQuitMessage(0);
    handled = FALSE;
    return 0;
}
