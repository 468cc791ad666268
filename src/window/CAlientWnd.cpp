#include "window/CAlientWnd.h"

#include <process.h>

#include <easylogging++.h>

#include <atomic>
#include <cstdio>

#include "analytics/CSingleUserLog.h"
#include "install/ProductLaunch.h"
#include "window/InstallFlowRules.h"
#include "window/WindowLanguage.h"

namespace {
constexpr UINT_PTR kAnimationTimer = 1000;
constexpr UINT kAnimationMs = 50;
constexpr int kAnimationFrames = 21;  // skin/gif/bg00.png to bg20.png
// Popup with caption and system menu, visible, clipping its children.
constexpr DWORD kHintStyle = 0x96C80000;

std::atomic<unsigned> g_animationStep{0};
std::atomic<CAlientWnd::StartFn> g_startHook{nullptr};

int StartProduct(const std::wstring& command, int adminFlag) {
    CAlientWnd::StartFn hook = g_startHook.load();
    return hook ? hook(command, adminFlag) : FuntionImpl::StartTargetMainExe(command, adminFlag);
}
}  // namespace

CAlientWnd::CAlientWnd(int32_t adminFlag, const std::wstring& command, const std::wstring& version,
                       const std::wstring& productName, int32_t duration, int32_t language)
    : m_adminFlag(adminFlag),
      m_command(command),
      m_version(InstallFlowRules::ShortVersion(version)),
      m_productName(productName),
      m_duration(duration),
      m_language(language) {}

void CAlientWnd::SetStartHook(StartFn start) { g_startHook = start; }

int32_t CAlientWnd::ShowModalWindow() {
    HWND hwnd = Create(nullptr, m_productName.c_str(), kHintStyle, 0, 0, 0, 600, 400);
    if (!hwnd) {
        // Without the hint the product still has to start: on this thread, without the wait.
        LOG(INFO) << " Launch hint window could not be created";
        int result = StartProduct(m_command, m_adminFlag);
        delete this;
        return result;
    }
    CenterWindow();
    ShowWindow(true, true);
    return static_cast<int32_t>(ShowModal());
}

void CAlientWnd::InitWindow() {
    m_closeBtn = m_pm.FindControl(L"closebtn");
    m_minBtn = m_pm.FindControl(L"minbtn");
    m_foreImage = m_pm.FindControl(L"foreImage");
    m_versionLabel = m_pm.FindControl(L"version");
    // The name with the version; the label keeps the layout's product name.
    if (m_versionLabel) m_versionLabelText = m_versionLabel->GetText() + m_version;
    ::SetTimer(m_hWnd, kAnimationTimer, kAnimationMs, nullptr);
    HANDLE starter = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CAlientWnd::StarterThread, this, 0, nullptr));
    if (starter) {
        CloseHandle(starter);
    } else {
        // No starter: close at once rather than stay up forever.
        PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    }
}

unsigned __stdcall CAlientWnd::StarterThread(void* window) {
    auto* self = static_cast<CAlientWnd*>(window);
    // Copies: the window may be gone before this thread ends.
    const HWND hwnd = self->m_hWnd;
    const std::wstring command = self->m_command;
    const int adminFlag = self->m_adminFlag;
    const int32_t duration = self->m_duration;
    const int32_t language = self->m_language;
    int result = StartProduct(command, adminFlag);
    if (result != 0) {
        CSingleUserLog::GetInstance()->AddUserLogEvent("Other", "FlowError", "DL019", false);
        std::wstring text = WindowLanguage::GetLanguageText(L"message_page", L"ClickShortcutToLaunchText", language);
        MessageBoxW(nullptr, text.c_str(), L"", MB_OK);
    } else if (duration > 0) {
        Sleep(static_cast<DWORD>(duration) * 1000);
    }
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

void CAlientWnd::OnTimer(UINT_PTR) {
    unsigned step = g_animationStep.fetch_add(1);
    wchar_t name[64] = {};
    std::swprintf(name, 64, L"skin/gif/bg%.2d.png", static_cast<int>(step % kAnimationFrames));
    if (m_foreImage) m_foreImage->SetBkImage(name);
}

void CAlientWnd::OnClick(DuiLib::TNotifyUI& msg) {
    if (!msg.pSender) return;
    if (msg.pSender == m_closeBtn) Close(2);
    else if (msg.pSender == m_minBtn) SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void CAlientWnd::OnFinalMessage(HWND) { delete this; }
