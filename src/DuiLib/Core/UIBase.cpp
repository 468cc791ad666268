#include "DuiLib/Core/UIBase.h"

#include "DuiLib/Core/UIManager.h"

namespace DuiLib {

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    HINSTANCE instance = CPaintManagerUI::GetInstance() ? CPaintManagerUI::GetInstance() : GetModuleHandleW(nullptr);
    if (GetClassInfoExW(instance, GetWindowClassName(), &wc)) return true;
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &CWindowWnd::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(143));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = GetWindowClassName();
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle,
                        int x, int y, int cx, int cy, HMENU menu) {
    if (!RegisterWindowClass()) return nullptr;
    HINSTANCE instance = CPaintManagerUI::GetInstance() ? CPaintManagerUI::GetInstance() : GetModuleHandleW(nullptr);
    m_hWnd = CreateWindowExW(exStyle, GetWindowClassName(), title, style, x, y, cx, cy, parent, menu, instance, this);
    return m_hWnd;
}

void CWindowWnd::CenterWindow() {
    if (!m_hWnd) return;
    RECT rc{};
    GetWindowRect(m_hWnd, &rc);
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = area.left + ((area.right - area.left) - w) / 2;
    int y = area.top + ((area.bottom - area.top) - h) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
    if (!m_hWnd) return;
    ::ShowWindow(m_hWnd, show ? (takeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
    if (show && takeFocus) SetFocus(m_hWnd);
}

void CWindowWnd::Close(UINT result) {
    if (m_hWnd) PostMessageW(m_hWnd, WM_CLOSE, result, 0);
}

int CWindowWnd::MessageLoop() {
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

LRESULT CWindowWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = nullptr;
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        self->m_hWnd = hWnd;
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CWindowWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(hWnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        LRESULT r = self->HandleMessage(msg, wParam, lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        self->OnFinalMessage(hWnd);
        return r;
    }
    return self->HandleMessage(msg, wParam, lParam);
}

}  // namespace DuiLib
