#include "DuiLib/Core/WindowImplBase.h"

#include <windowsx.h>

namespace DuiLib {

void WindowImplBase::Notify(TNotifyUI& msg) {
    if (msg.sType == L"click") OnClick(msg);
    else if (msg.sType == L"selectchanged") OnSelectChanged(msg);
    else if (msg.sType == L"itemselect") OnItemSelect(msg);
    else if (msg.sType == L"windowinit") OnWindowInit(msg);
}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = TRUE;
    DestroyWindow(m_hWnd);
    return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = FALSE;
    return 0;
}

bool WindowImplBase::ResponseDefaultKeyEvent(WPARAM key) {
    if (key != VK_ESCAPE) return false;
    CControlUI* close = m_pm.FindControl(L"closebtn");
    return close && close->IsVisible() && close->IsEnabled() && close->Activate();
}

bool WindowImplBase::OnCloseCommand() {
    CControlUI* close = m_pm.FindControl(L"closebtn");
    if (!close) return false;
    if (close->IsVisible() && close->IsEnabled()) close->Activate();
    return true;
}

bool WindowImplBase::IsCaptionPoint(POINT pt) {
    const TWindowInfo& info = m_pm.GetWindowInfo();
    RECT client{};
    GetClientRect(m_hWnd, &client);
    RECT caption{m_pm.Scale(info.caption.left), m_pm.Scale(info.caption.top), client.right - m_pm.Scale(info.caption.right),
                 m_pm.Scale(info.caption.bottom)};
    if (!UI::Contains(caption, pt)) return false;
    // Over something that reacts to the mouse the point belongs to that control.
    CControlUI* hit = m_pm.FindControl(pt);
    return !(hit && hit->IsEnabled() && (hit->GetControlFlags() & (UIFLAG_TABSTOP | UIFLAG_SETCURSOR)));
}

LRESULT WindowImplBase::OnCreate() {
    // Frameless, and children (the native edit box) are not painted over.
    LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, style | WS_CLIPCHILDREN);
    m_pm.Init(m_hWnd);
    m_pm.SetScale(CPaintManagerUI::GetSystemScale(m_hWnd));
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root = builder.Create(GetSkinFolder() + GetSkinFile(), &m_pm, this);
    m_pm.AttachRoot(std::move(root));
    m_pm.AddNotifier(this);
    const TWindowInfo& info = m_pm.GetWindowInfo();
    if (info.layered) SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    if (info.size.cx > 0 && info.size.cy > 0)
        SetWindowPos(m_hWnd, nullptr, 0, 0, m_pm.Scale(info.size.cx), m_pm.Scale(info.size.cy),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    else
        SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    InitWindow();
    m_pm.SendNotify(m_pm.GetRoot(), L"windowinit", 0, 0, true);
    return 0;
}

LRESULT WindowImplBase::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    const int oldScale = m_pm.GetScale();
    // Both halves carry the same value for a window; the vertical one sizes the text.
    m_pm.SetScale(CPaintManagerUI::ScaleForDpi(HIWORD(wParam)));
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    if (suggested && suggested->right > suggested->left && suggested->bottom > suggested->top)
        SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    m_pm.UpdateLayout();
    if (m_pm.GetScale() != oldScale) OnScaleChanged(oldScale, m_pm.GetScale());
    m_pm.Invalidate();
    return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    BOOL handled = FALSE;
    LRESULT r = 0;
    switch (msg) {
        case WM_CREATE:
            return OnCreate();
        case WM_NCCALCSIZE:
            if (wParam) return 0;  // the whole window is client area
            break;
        case WM_NCPAINT:
            return 0;
        case WM_NCACTIVATE:
            if (!IsIconic(m_hWnd)) return wParam == FALSE ? TRUE : TRUE;
            break;
        case WM_DPICHANGED:
            return OnDpiChanged(wParam, lParam);
        case WM_NCHITTEST: {
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ScreenToClient(m_hWnd, &pt);
            return IsCaptionPoint(pt) ? HTCAPTION : HTCLIENT;
        }
        default:
            break;
    }
    r = HandleCustomMessage(msg, wParam, lParam, handled);
    if (handled) return r;
    switch (msg) {
        case WM_CLOSE:
            r = OnClose(msg, wParam, lParam, handled);
            if (handled) return r;
            break;
        case WM_DESTROY:
            r = OnDestroy(msg, wParam, lParam, handled);
            if (handled) return r;
            break;
        case WM_TIMER:
            if (m_pm.MessageHandler(msg, wParam, lParam, r)) return r;
            OnTimer(wParam);
            return 0;
        case WM_KEYDOWN:
            if (m_pm.MessageHandler(msg, wParam, lParam, r)) return r;
            if (ResponseDefaultKeyEvent(wParam)) return 0;
            break;
        case WM_SYSCOMMAND:
            // Alt+F4 and the taskbar's "Close window" do what the layout's close button does
            // (a window that asks before it closes asks here too).
            if ((wParam & 0xFFF0) == SC_CLOSE && OnCloseCommand()) return 0;
            break;
        default:
            break;
    }
    if (m_pm.GetPaintWindow() && m_pm.MessageHandler(msg, wParam, lParam, r)) return r;
    return CWindowWnd::HandleMessage(msg, wParam, lParam);
}

}  // namespace DuiLib
