#include "DuiLib/Control/UIEdit.h"

#include <algorithm>

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "DuiLib/Core/UISystemLook.h"

namespace DuiLib {
namespace {
const wchar_t kSelfProp[] = L"DuiLib.CEditUI";
}

CEditUI::CEditUI() : CLabelUI(L"Edit") { m_textStyle = DT_SINGLELINE | DT_VCENTER; }

CEditUI::~CEditUI() {
    if (m_native) {
        RemovePropW(m_native, kSelfProp);
        if (m_nativeOldProc) SetWindowLongPtrW(m_native, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_nativeOldProc));
        if (m_manager) m_manager->UnregisterNativeChild(m_native);
        DestroyWindow(m_native);
        m_native = nullptr;
    }
}

void* CEditUI::GetInterface(const std::wstring& name) {
    if (name == L"Edit") return this;
    return CLabelUI::GetInterface(name);
}

std::wstring CEditUI::GetText() const {
    if (!m_native) return m_text;
    int n = GetWindowTextLengthW(m_native);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(m_native, &text[0], n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

void CEditUI::SetText(const std::wstring& text) {
    std::wstring t = text;
    if (m_maxChar > 0 && static_cast<int>(t.size()) > m_maxChar) {
        // Cut between characters, never inside a surrogate pair.
        size_t keep = static_cast<size_t>(m_maxChar);
        if (keep > 0 && t[keep - 1] >= 0xD800 && t[keep - 1] <= 0xDBFF) --keep;
        t.resize(keep);
    }
    bool changed = t != m_text;
    CLabelUI::SetText(t);
    if (m_native && GetText() != t) SetWindowTextW(m_native, t.c_str());
    if (changed && m_manager) m_manager->NotifyAccessible(EVENT_OBJECT_VALUECHANGE, this);
}

void CEditUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    CLabelUI::SetAttribute(name, value);
    DWORD color = 0;
    if (name == L"readonly") m_readOnly = UI::ParseBool(value);
    else if (name == L"password") m_password = UI::ParseBool(value);
    else if (name == L"maxchar") m_maxChar = UI::ParseInt(value, 255);
    else if (name == L"normalimage") m_normalImage = value;
    else if (name == L"hotimage") m_hotImage = value;
    else if (name == L"focusedimage") m_focusedImage = value;
    else if (name == L"disabledimage") m_disabledImage = value;
    else if (name == L"nativebkcolor" && UI::ParseColor(value, color)) m_nativeBkColor = color;
}

void CEditUI::SetReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    if (m_native) SendMessageW(m_native, EM_SETREADONLY, readOnly, 0);
}

void CEditUI::SetMaxChar(int maxChar) {
    m_maxChar = maxChar;
    if (m_native) SendMessageW(m_native, EM_LIMITTEXT, static_cast<WPARAM>(std::max(0, maxChar)), 0);
}

UINT CEditUI::GetControlFlags() const { return IsEnabled() ? (UIFLAG_TABSTOP | UIFLAG_SETCURSOR) : 0; }

DWORD CEditUI::GetNativeTextColor() const { return StateTextColor(); }

RECT CEditUI::NativeRect() const {
    RECT rc = TextRect();
    // The native box draws its single line at the top: make it one line high, centred like the
    // toolkit's own drawing of the text.
    int lineHeight = UI::Height(rc);
    if (m_manager) {
        HDC dc = m_manager->GetPaintDC();
        HGDIOBJ old = SelectObject(dc, m_manager->GetFont(m_font));
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        lineHeight = std::min<int>(lineHeight, tm.tmHeight);
    }
    int top = rc.top + (UI::Height(rc) - lineHeight) / 2;
    return RECT{rc.left, top, rc.right, top + lineHeight};
}

void CEditUI::BeginEdit() {
    if (m_native || !m_manager || !m_manager->GetPaintWindow() || !IsVisible() || !IsEnabled()) return;
    RECT rc = NativeRect();
    DWORD style = WS_CHILD | ES_AUTOHSCROLL | (m_password ? ES_PASSWORD : 0) | (m_readOnly ? ES_READONLY : 0);
    if (m_manager->IsRTL()) style |= ES_RIGHT;
    std::wstring text = m_text;
    m_native = CreateWindowExW(0, L"EDIT", text.c_str(), style, rc.left, rc.top, UI::Width(rc), UI::Height(rc),
                               m_manager->GetPaintWindow(), nullptr, CPaintManagerUI::GetInstance(), nullptr);
    if (!m_native) return;
    SendMessageW(m_native, WM_SETFONT, reinterpret_cast<WPARAM>(m_manager->GetFont(m_font)), FALSE);
    SendMessageW(m_native, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    SendMessageW(m_native, EM_LIMITTEXT, static_cast<WPARAM>(std::max(0, m_maxChar)), 0);
    SetPropW(m_native, kSelfProp, this);
    m_nativeOldProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(m_native, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CEditUI::NativeProc)));
    m_manager->RegisterNativeChild(m_native, this);
    ShowWindow(m_native, SW_SHOWNOACTIVATE);
    ::SetFocus(m_native);
    if (m_clickPoint.x >= 0) PlaceCaret(m_clickPoint);
    else SendMessageW(m_native, EM_SETSEL, 0, -1);
    m_clickPoint = POINT{-1, -1};
    Invalidate();
}

void CEditUI::PlaceCaret(POINT pt) {
    if (!m_native) return;
    RECT rc = NativeRect();
    int length = GetWindowTextLengthW(m_native);
    POINT p{pt.x - rc.left, std::max<LONG>(0, pt.y - rc.top)};
    LRESULT at = SendMessageW(m_native, EM_CHARFROMPOS, 0, MAKELPARAM(std::max<LONG>(0, p.x), p.y));
    int pos = LOWORD(at);
    if (p.x >= UI::Width(rc) || pos > length) pos = length;
    SendMessageW(m_native, EM_SETSEL, pos, pos);
}

void CEditUI::EndEdit() {
    if (!m_native || m_ending) return;
    m_ending = true;
    std::wstring text = GetText();
    HWND native = m_native;
    m_native = nullptr;
    RemovePropW(native, kSelfProp);
    if (m_nativeOldProc) SetWindowLongPtrW(native, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_nativeOldProc));
    m_nativeOldProc = nullptr;
    if (m_manager) m_manager->UnregisterNativeChild(native);
    DestroyWindow(native);
    m_ending = false;
    if (text != m_text) {
        m_text = text;
        m_layoutValid = false;
    }
    Invalidate();
}

LRESULT CALLBACK CEditUI::NativeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CEditUI*>(GetPropW(hwnd, kSelfProp));
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    WNDPROC old = self->m_nativeOldProc;
    switch (msg) {
        case WM_KEYDOWN:
            if ((wParam == VK_TAB || wParam == VK_RETURN || wParam == VK_ESCAPE) && self->m_manager &&
                self->m_manager->HandleChildKey(wParam))
                return 0;
            break;
        case WM_CHAR:
            if (wParam == L'\t' || wParam == L'\r' || wParam == 0x1B) return 0;  // no beep for keys handled above
            break;
        case WM_GETDLGCODE:
            return CallWindowProcW(old, hwnd, msg, wParam, lParam) | DLGC_WANTALLKEYS;
        case WM_KILLFOCUS: {
            LRESULT r = CallWindowProcW(old, hwnd, msg, wParam, lParam);
            // Destroying the window inside its own focus change is unsafe: the toolkit ends the
            // edit once this message is done.
            if (self->m_manager && self->m_manager->GetPaintWindow())
                PostMessageW(self->m_manager->GetPaintWindow(), WM_DUI_ENDEDIT, 0, reinterpret_cast<LPARAM>(hwnd));
            return r;
        }
        default:
            break;
    }
    LRESULT r = CallWindowProcW(old, hwnd, msg, wParam, lParam);
    if (msg == WM_CHAR || msg == WM_PASTE || msg == WM_CUT || msg == WM_CLEAR || msg == WM_UNDO || msg == WM_KEYDOWN ||
        msg == WM_IME_COMPOSITION || msg == WM_IME_ENDCOMPOSITION) {
        // Keep the model's text in step and tell the window.
        self = static_cast<CEditUI*>(GetPropW(hwnd, kSelfProp));
        if (self) {
            std::wstring text = self->GetText();
            if (text != self->m_text) {
                self->m_text = text;
                self->m_layoutValid = false;
                if (self->m_manager) {
                    self->m_manager->NotifyAccessible(EVENT_OBJECT_VALUECHANGE, self);
                    self->m_manager->SendNotify(self, L"textchanged");
                }
            }
        }
    }
    return r;
}

void CEditUI::SetPos(const RECT& rc) {
    CLabelUI::SetPos(rc);
    if (m_native) {
        // A new scale made new fonts: the box takes the font of the current one.
        SendMessageW(m_native, WM_SETFONT, reinterpret_cast<WPARAM>(m_manager ? m_manager->GetFont(m_font) : nullptr), FALSE);
        RECT r = NativeRect();
        SetWindowPos(m_native, nullptr, r.left, r.top, UI::Width(r), UI::Height(r), SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CEditUI::SetVisible(bool visible) {
    CLabelUI::SetVisible(visible);
    if (!IsVisible()) EndEdit();
}

void CEditUI::SetInternVisible(bool visible) {
    CLabelUI::SetInternVisible(visible);
    if (!IsVisible()) EndEdit();
}

void CEditUI::SetEnabled(bool enabled) {
    CLabelUI::SetEnabled(enabled);
    if (!enabled) EndEdit();
}

void CEditUI::DoEvent(TEventUI& event) {
    switch (event.Type) {
        case UIEVENT_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_IBEAM));
            return;
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK:
            m_clickPoint = event.ptMouse;
            if (m_native) PlaceCaret(event.ptMouse);
            else if (m_focused) BeginEdit();
            m_clickPoint = POINT{-1, -1};
            return;
        case UIEVENT_SETFOCUS:
            m_focused = true;
            BeginEdit();
            Invalidate();
            return;
        case UIEVENT_KILLFOCUS:
            m_focused = false;
            EndEdit();
            return;
        case UIEVENT_MOUSEENTER:
            m_state |= UISTATE_HOT;
            Invalidate();
            return;
        case UIEVENT_MOUSELEAVE:
            m_state &= ~UISTATE_HOT;
            Invalidate();
            return;
        default:
            break;
    }
    CLabelUI::DoEvent(event);
}

void CEditUI::PaintStatusImage(HDC hdc) {
    if (m_manager && m_manager->IsHighContrast()) {
        // The system's window colours, with a border in its text colour (its highlight with focus).
        const DWORD edge = m_focused ? SystemLook::FocusRingColor(0) : SystemLook::RoleColor(SystemLook::Role::WindowText);
        CRenderEngine::FillRect(hdc, m_rcItem, SystemLook::RoleColor(SystemLook::Role::Window));
        CRenderEngine::DrawRect(hdc, m_rcItem, std::max(1, Scale(1)), edge);
        return;
    }
    std::wstring image = m_normalImage;
    if (!IsEnabled() && !m_disabledImage.empty()) image = m_disabledImage;
    else if (m_focused && !m_focusedImage.empty()) image = m_focusedImage;
    else if ((m_state & UISTATE_HOT) && !m_hotImage.empty()) image = m_hotImage;
    if (!image.empty()) DrawImage(hdc, image);
}

void CEditUI::PaintText(HDC hdc) {
    if (m_native) return;  // the native box draws it
    std::wstring shown = m_password ? std::wstring(m_text.size(), L'\x25CF') : m_text;
    if (shown.empty()) return;
    RECT rc = TextRect();
    RECT clip = UI::Intersect(rc, m_rcPaint);
    TTextLayout layout = CRenderEngine::LayoutText(m_manager ? m_manager->GetPaintDC() : nullptr, m_manager, ParseRichText(shown, false),
                                                   m_font, UI::Width(rc), EffectiveStyle() & ~DT_END_ELLIPSIS);
    POINT origin{rc.left, rc.top + (UI::Height(rc) - layout.size.cy) / 2};
    CRenderEngine::DrawTextLayout(hdc, m_manager, layout, origin, clip, StateTextColor(), m_font);
}

}  // namespace DuiLib
