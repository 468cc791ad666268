#include "Common/install_ui_mainwnd.h"

#include <easylogging++.h>

#include "DuiLib/UIDlgBuilder.h"
#include "FuntionImpl.h"

namespace {
std::wstring g_windowClassName = L"QV_UI_Frame_";
}

void SetMainWindowClassName(const std::wstring& name) { g_windowClassName = name; }

InstallUIMainWnd::InstallUIMainWnd() = default;
InstallUIMainWnd::~InstallUIMainWnd() = default;

const wchar_t* InstallUIMainWnd::GetWindowClassName() const { return g_windowClassName.c_str(); }

void InstallUIMainWnd::WaitForAllThreadExit() {}

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
            PostQuitMessage(0);
            return 0;
        default:
            return DuiLib::CWindowWnd::HandleMessage(msg, wParam, lParam);
    }
}
