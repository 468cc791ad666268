#include "window/install_ui_mainwnd.h"

#include <process.h>

#include <easylogging++.h>

#include "config/ConfigurationLoad.h"
#include "download/DownloadAddress.h"
#include "analytics/CSingleUserLog.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "platform/FuntionImpl.h"

namespace {
std::wstring g_windowClassName = L"QV_UI_Frame_";
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

void InstallUIMainWnd::OnWindowInit() {
    DuiLib::CDialogBuilder builder;
    std::unique_ptr<DuiLib::CControlUI> root = builder.Create(L"install_ui_mainwnd.xml");
    if (!root) LOG(INFO) << " Main window layout missing from the skin; configuration labels are empty";
    m_pm.AttachRoot(std::move(root));
    auto number = [this](const wchar_t* key) { return FuntionImpl::ParseLeadingInt(m_pm.GetControlText(key)); };
    m_configure.reset(new CConfigure(number(L"Downloader_id"), number(L"Language_id"), number(L"Site_id")));
    m_configure->loadFromConfigureXml(&m_pm, false);
    m_configure->loadDefaultLinks(&m_pm);
    m_configure->printContent();
    // The download configuration is usually in before the user presses "install".
    m_threads[0] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &InstallUIMainWnd::AsyncGetCbsInfoThreadFunc, this, 0, nullptr));
}

LRESULT InstallUIMainWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            OnWindowInit();
            return 0;
        case WM_CLOSE:
            DestroyWindow(m_hWnd);
            return 0;
        case WM_DESTROY:
            // The report object ends with the window; what it still holds is delivered by the
            // hidden "-sendrestlogs" copy it starts.
            CSingleUserLog::GetInstance()->EndReportObject();
            PostQuitMessage(0);
            return 0;
        default:
            return DuiLib::CWindowWnd::HandleMessage(msg, wParam, lParam);
    }
}
