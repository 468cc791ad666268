#include "DuiLib/Core/UIBase.h"

#include "DuiLib/Core/UIManager.h"

namespace DuiLib {

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    HINSTANCE instance = CPaintManagerUI::GetInstance() ? CPaintManagerUI::GetInstance() : GetModuleHandleW(nullptr);
    if (GetClassInfoExW(instance, GetWindowClassName(), &wc)) return true;
    wc.cbSize = sizeof(wc);
    wc.style = GetClassStyle();
    wc.lpfnWndProc = &CWindowWnd::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(143));
    wc.hbrBackground = nullptr;  // the paint manager paints everything
    wc.lpszClassName = GetWindowClassName();
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle, int x, int y, int cx, int cy, HMENU menu) {
    if (!RegisterWindowClass()) return nullptr;
    HINSTANCE instance = CPaintManagerUI::GetInstance() ? CPaintManagerUI::GetInstance() : GetModuleHandleW(nullptr);
    m_hWnd = CreateWindowExW(exStyle, GetWindowClassName(), title, style, x, y, cx, cy, parent, menu, instance, this);
    return m_hWnd;
}

void CWindowWnd::CenterWindow() {
    if (!m_hWnd) return;
    RECT rc{};
    GetWindowRect(m_hWnd, &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO mi{sizeof(mi)};
    GetMonitorInfoW(MonitorFromWindow(owner && IsWindowVisible(owner) && !IsIconic(owner) ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    RECT area = mi.rcWork;
    RECT center = area;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &center);
    int x = center.left + ((center.right - center.left) - w) / 2;
    int y = center.top + ((center.bottom - center.top) - h) / 2;
    // Keep it on the work area.
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    if (x + w > area.right) x = area.right - w;
    if (y + h > area.bottom) y = area.bottom - h;
    SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
    if (!m_hWnd) return;
    ::ShowWindow(m_hWnd, show ? (takeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
    if (show && takeFocus) SetFocus(m_hWnd);
}

UINT CWindowWnd::ShowModal() {
    if (!m_hWnd) return IDCANCEL;
    HWND self = m_hWnd;
    HWND owner = GetWindow(self, GW_OWNER);
    UINT result = IDCANCEL;
    m_modalResult = &result;
    bool ownerEnabled = owner && IsWindowEnabled(owner);
    ::ShowWindow(self, SW_SHOWNORMAL);
    if (ownerEnabled) EnableWindow(owner, FALSE);
    MSG msg{};
    bool quit = false;
    // The window object may delete itself when it is destroyed: only locals are used below.
    while (IsWindow(self)) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            quit = got == 0;
            break;
        }
        if (msg.message == WM_CLOSE && msg.hwnd == self && ownerEnabled) {
            // The owner gets the activation back when this window goes, not some other window.
            EnableWindow(owner, TRUE);
            ownerEnabled = false;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (ownerEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
    if (owner && IsWindow(owner) && IsWindowVisible(owner)) SetFocus(owner);
    if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
    return result;
}

void CWindowWnd::Close(UINT result) {
    if (m_hWnd) PostMessageW(m_hWnd, WM_CLOSE, result, 0);
}

void CWindowWnd::ResizeClient(int cx, int cy) {
    if (!m_hWnd) return;
    RECT rc{0, 0, cx, cy};
    // Frameless windows have no non-client area; others get their frame around the client.
    RECT wr{}, cr{};
    GetWindowRect(m_hWnd, &wr);
    GetClientRect(m_hWnd, &cr);
    int dx = (wr.right - wr.left) - (cr.right - cr.left), dy = (wr.bottom - wr.top) - (cr.bottom - cr.top);
    SetWindowPos(m_hWnd, nullptr, 0, 0, rc.right + dx, rc.bottom + dy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT resourceId) {
    HINSTANCE instance = CPaintManagerUI::GetInstance() ? CPaintManagerUI::GetInstance() : GetModuleHandleW(nullptr);
    HICON big = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                              GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    HICON small = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (big) SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (small) SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
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
    if (msg == WM_CLOSE && self->m_modalResult) *self->m_modalResult = wParam ? static_cast<UINT>(wParam) : IDCANCEL;
    if (msg == WM_NCDESTROY) {
        LRESULT r = self->HandleMessage(msg, wParam, lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        self->m_modalResult = nullptr;
        self->OnFinalMessage(hWnd);
        return r;
    }
    return self->HandleMessage(msg, wParam, lParam);
}

}  // namespace DuiLib
