#include "DuiLib/Control/UICombo.h"

#include <algorithm>

#include "DuiLib/Core/UIBase.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"

namespace DuiLib {

void* CListLabelElementUI::GetInterface(const std::wstring& name) {
    if (name == L"ListLabelElement") return this;
    return CLabelUI::GetInterface(name);
}

// ---- The drop-down list ----

class CComboItemUI;

// A borderless pop-up under the combo that does not take the activation: the keyboard stays with
// the window, whose messages the list watches while it is open (arrows, Enter, Esc, wheel, a
// click elsewhere, the window losing the activation or moving).
class CComboWnd : public CWindowWnd, public IMessageFilterUI, public INotifyUI {
public:
    explicit CComboWnd(CComboUI* owner) : m_owner(owner) {}

    bool Open();
    void Close();
    int GetHighlight() const { return m_highlight; }
    void SetHighlight(int index);
    void Choose(int index);
    CComboUI* GetOwner() const { return m_owner; }
    void Detach() { m_owner = nullptr; }
    CPaintManagerUI& GetPaintManager() { return m_pm; }

    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void Notify(TNotifyUI& msg) override {}

protected:
    const wchar_t* GetWindowClassName() const override { return L"DuiLibComboDropWnd"; }
    UINT GetClassStyle() const override { return CS_DBLCLKS | CS_DROPSHADOW; }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override;

private:
    void BuildList();
    void EnsureVisible(int index);

    CComboUI* m_owner;
    CPaintManagerUI* m_ownerPm = nullptr;
    CPaintManagerUI m_pm;
    CVerticalLayoutUI* m_list = nullptr;
    int m_highlight = -1;
    bool m_closing = false;
};

class CComboItemUI : public CLabelUI {
public:
    CComboItemUI(CComboWnd* window, int index) : CLabelUI(L"ComboItem"), m_window(window), m_index(index) {}
    int GetIndex() const { return m_index; }

    UINT GetControlFlags() const override { return UIFLAG_SETCURSOR; }
    void DoEvent(TEventUI& event) override {
        switch (event.Type) {
            case UIEVENT_MOUSEENTER:
            case UIEVENT_MOUSEMOVE:
                m_window->SetHighlight(m_index);
                return;
            case UIEVENT_BUTTONUP:
                if (UI::Contains(m_rcItem, event.ptMouse)) m_window->Choose(m_index);
                return;
            case UIEVENT_SETCURSOR:
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return;
            default:
                CLabelUI::DoEvent(event);
        }
    }
    void PaintBkColor(HDC hdc) override {
        CComboUI* owner = m_window->GetOwner();
        if (!owner) return;
        RECT rc = UI::Deflate(m_rcItem, RECT{Scale(4), Scale(2), Scale(4), Scale(2)});
        if (m_index == m_window->GetHighlight())
            CRenderEngine::DrawRoundRect(hdc, rc, Scale(4), Scale(4), owner->GetItemHotBkColor(), 0, 0);
        else if (m_index == owner->GetCurSel())
            CRenderEngine::DrawRoundRect(hdc, rc, Scale(4), Scale(4), owner->GetItemSelectedBkColor(), 0, 0);
    }

protected:
    DWORD StateTextColor() const override {
        CComboUI* owner = m_window->GetOwner();
        if (owner && m_index == owner->GetCurSel() && UI::AlphaOf(owner->GetItemSelectedTextColor())) return owner->GetItemSelectedTextColor();
        if (owner && UI::AlphaOf(owner->GetItemTextColor())) return owner->GetItemTextColor();
        return CLabelUI::StateTextColor();
    }

private:
    CComboWnd* m_window;
    int m_index;
};

bool CComboWnd::Open() {
    m_ownerPm = m_owner->GetManager();
    if (!m_ownerPm || !m_ownerPm->GetPaintWindow()) return false;
    HWND ownerWnd = m_ownerPm->GetPaintWindow();
    RECT rc = m_owner->GetPos();
    int visible = 0;
    for (size_t i = 0; i < m_owner->GetCount(); ++i)
        if (m_owner->GetItemAt(i)->IsVisible()) ++visible;
    int scale = m_ownerPm->GetScale();
    int itemHeight = MulDiv(m_owner->GetItemHeight(), scale, 100);
    SIZE box = m_owner->GetDropBoxSize();
    int width = std::max<int>(UI::Width(rc), MulDiv(box.cx, scale, 100));
    int height = visible * itemHeight + MulDiv(8, scale, 100) + 2;
    if (box.cy > 0) height = std::min(height, MulDiv(box.cy, scale, 100));
    POINT below{rc.left, rc.bottom + MulDiv(4, scale, 100)};
    ClientToScreen(ownerWnd, &below);
    POINT above{rc.left, rc.top - MulDiv(4, scale, 100)};
    ClientToScreen(ownerWnd, &above);
    MONITORINFO mi{sizeof(mi)};
    GetMonitorInfoW(MonitorFromWindow(ownerWnd, MONITOR_DEFAULTTONEAREST), &mi);
    int x = below.x, y = below.y;
    if (y + height > mi.rcWork.bottom && above.y - height >= mi.rcWork.top) y = above.y - height;
    if (!Create(ownerWnd, L"", WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, x, y, width, height)) return false;
    m_ownerPm->AddMessageFilter(this);
    ShowWindow(true, false);
    return true;
}

void CComboWnd::BuildList() {
    m_pm.Init(m_hWnd);
    m_pm.SetResourceParent(m_ownerPm);
    m_pm.SetScale(m_ownerPm->GetScale());
    m_pm.SetRTL(m_ownerPm->IsRTL());
    m_pm.AddNotifier(this);
    auto list = std::make_unique<CVerticalLayoutUI>();
    list->SetAttribute(L"vscrollbar", L"true");
    list->SetAttribute(L"inset", L"1,5,1,3");
    list->SetAttribute(L"bkcolor", L"#FFFFFFFF");
    list->SetAttribute(L"scrollstepsize", std::to_wstring(m_owner->GetItemHeight()));
    list->SetBkColor(m_owner->GetDropBoxBkColor());
    list->SetBorderColor(m_owner->GetDropBoxBorderColor());
    list->SetBorderSize(1);
    const RECT& pad = m_owner->GetItemTextPadding();
    std::wstring padding = std::to_wstring(pad.left) + L"," + std::to_wstring(pad.top) + L"," + std::to_wstring(pad.right) + L"," +
                           std::to_wstring(pad.bottom);
    for (size_t i = 0; i < m_owner->GetCount(); ++i) {
        CControlUI* item = m_owner->GetItemAt(i);
        auto row = std::make_unique<CComboItemUI>(this, static_cast<int>(i));
        row->SetAttribute(L"height", std::to_wstring(m_owner->GetItemHeight()));
        row->SetAttribute(L"textpadding", padding);
        row->SetAttribute(L"font", std::to_wstring(m_owner->GetItemFont()));
        row->SetAttribute(L"endellipsis", L"true");
        row->SetText(item->GetText());
        row->SetVisible(item->IsVisible());
        list->Add(std::move(row));
    }
    m_list = list.get();
    m_pm.AttachRoot(std::move(list));
    m_highlight = m_owner->GetCurSel();
    m_pm.UpdateLayout();
    EnsureVisible(m_highlight);
}

void CComboWnd::EnsureVisible(int index) {
    if (!m_list || index < 0) return;
    for (size_t i = 0; i < m_list->GetCount(); ++i) {
        auto* row = static_cast<CComboItemUI*>(m_list->GetItemAt(i));
        if (row->GetIndex() != index || !row->IsVisible()) continue;
        RECT item = row->GetPos();
        RECT box = m_list->GetPos();
        int pos = m_list->GetScrollPos();
        int inset = m_pm.Scale(5);
        if (item.top < box.top + inset) m_list->SetScrollPos(pos - (box.top + inset - item.top));
        else if (item.bottom > box.bottom - inset) m_list->SetScrollPos(pos + (item.bottom - box.bottom + inset));
        return;
    }
}

void CComboWnd::SetHighlight(int index) {
    if (index == m_highlight) return;
    m_highlight = index;
    m_pm.Invalidate();
}

void CComboWnd::Choose(int index) {
    CComboUI* owner = m_owner;
    Close();
    if (owner) owner->SelectItem(index, true, true);
}

void CComboWnd::Close() {
    if (m_closing) return;
    m_closing = true;
    if (m_ownerPm) m_ownerPm->RemoveMessageFilter(this);
    if (m_owner) {
        m_owner->OnDropClosed(this);
        m_owner = nullptr;
    }
    // The window goes after the current message: this may run inside one of its own handlers.
    if (m_hWnd) PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

LRESULT CComboWnd::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled) {
    if (m_closing || !m_owner) return 0;
    switch (uMsg) {
        case WM_KEYDOWN:
            switch (wParam) {
                case VK_UP:
                case VK_DOWN: {
                    int start = m_highlight >= 0 ? m_highlight : m_owner->GetCurSel();
                    int next = m_owner->NextVisibleItem(start, wParam == VK_DOWN ? 1 : -1);
                    if (next >= 0) {
                        SetHighlight(next);
                        EnsureVisible(next);
                    }
                    handled = true;
                    return 0;
                }
                case VK_RETURN:
                case VK_SPACE:
                    handled = true;
                    if (m_highlight >= 0) Choose(m_highlight);
                    else Close();
                    return 0;
                case VK_ESCAPE:
                    handled = true;
                    Close();
                    return 0;
                case VK_F4:
                    // Closing the list with its key takes the highlighted item.
                    handled = true;
                    if (m_highlight >= 0) Choose(m_highlight);
                    else Close();
                    return 0;
                case VK_TAB:
                    // Leaving with Tab takes the highlighted item; the key then moves the focus.
                    if (m_highlight >= 0) Choose(m_highlight);
                    else Close();
                    return 0;
                default:
                    return 0;
            }
        case WM_MOUSEWHEEL:
            if (m_list) {
                TEventUI e;
                e.Type = UIEVENT_SCROLLWHEEL;
                e.wParam = static_cast<WPARAM>(static_cast<short>(HIWORD(wParam)));
                m_list->DoEvent(e);
            }
            handled = true;
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            bool onCombo = UI::Contains(m_owner->GetPos(), pt);
            Close();
            handled = onCombo;  // a click on the combo itself only closes the list
            return 0;
        }
        case WM_RBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
        case WM_KILLFOCUS:
        case WM_MOVE:
        case WM_SIZE:
        case WM_SYSCOMMAND:
            Close();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) Close();
            return 0;
        case WM_ACTIVATEAPP:
            if (!wParam) Close();
            return 0;
        default:
            return 0;
    }
}

LRESULT CComboWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            BuildList();
            return 0;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_CLOSE:
            DestroyWindow(m_hWnd);
            return 0;
        default:
            break;
    }
    LRESULT r = 0;
    if (m_pm.GetPaintWindow() && m_pm.MessageHandler(msg, wParam, lParam, r)) return r;
    return CWindowWnd::HandleMessage(msg, wParam, lParam);
}

void CComboWnd::OnFinalMessage(HWND) {
    if (!m_closing) {
        if (m_ownerPm) m_ownerPm->RemoveMessageFilter(this);
        if (m_owner) m_owner->OnDropClosed(this);
    }
    delete this;
}

// ---- The combo ----

CComboUI::CComboUI() : CContainerUI(L"Combo") {}

CComboUI::~CComboUI() {
    if (m_dropWindow) {
        CComboWnd* window = m_dropWindow;
        m_dropWindow = nullptr;
        window->Detach();
        window->Close();
    }
}

void* CComboUI::GetInterface(const std::wstring& name) {
    if (name == L"Combo") return this;
    return CContainerUI::GetInterface(name);
}

std::wstring CComboUI::GetText() const {
    CControlUI* item = GetItemAt(static_cast<size_t>(m_curSel));
    return (m_curSel >= 0 && item) ? item->GetText() : m_text;
}

bool CComboUI::SelectItem(int index, bool takeFocus, bool triggerEvent) {
    if (index < 0 || index >= static_cast<int>(GetCount())) return false;
    if (takeFocus && m_manager) m_manager->SetFocus(this);
    if (index != m_curSel) ShowItem(index);
    if (index == m_chosenSel) return true;
    int old = m_chosenSel;
    m_chosenSel = index;
    if (triggerEvent && m_manager) m_manager->SendNotify(this, L"itemselect", static_cast<WPARAM>(index), static_cast<LPARAM>(old));
    return true;
}

void CComboUI::ShowItem(int index) {
    if (index == m_curSel) return;
    m_curSel = index;
    Invalidate();
    if (m_manager) m_manager->NotifyAccessible(EVENT_OBJECT_VALUECHANGE, this);
}

void CComboUI::ConfirmChoice() {
    if (IsChoicePending()) SelectItem(m_curSel, false, true);
}

void CComboUI::CancelChoice() {
    if (IsChoicePending() && m_chosenSel >= 0) ShowItem(m_chosenSel);
}

int CComboUI::NextVisibleItem(int index, int step) const {
    int n = static_cast<int>(GetCount());
    for (int i = index + step; i >= 0 && i < n; i += step)
        if (GetItemAt(static_cast<size_t>(i))->IsVisible()) return i;
    return -1;
}

void CComboUI::ShowDropDown() {
    if (m_dropWindow || !IsActive() || GetCount() == 0) return;
    m_dropWindow = new CComboWnd(this);
    if (!m_dropWindow->Open()) {
        delete m_dropWindow;
        m_dropWindow = nullptr;
        return;
    }
    m_state |= UISTATE_PUSHED;
    Invalidate();
    if (m_manager) m_manager->SendNotify(this, L"dropdown");
}

void CComboUI::CloseDropDown() {
    if (m_dropWindow) m_dropWindow->Close();
}

void CComboUI::OnDropClosed(CComboWnd* window) {
    if (m_dropWindow != window) return;
    m_dropWindow = nullptr;
    m_state &= ~UISTATE_PUSHED;
    Invalidate();
}

void CComboUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    CContainerUI::SetAttribute(name, value);
    DWORD color = 0;
    if (name == L"font") m_font = UI::ParseInt(value, -1);
    else if (name == L"textcolor" && UI::ParseColor(value, color)) m_textColor = color;
    else if (name == L"disabledtextcolor" && UI::ParseColor(value, color)) m_disabledTextColor = color;
    else if (name == L"textpadding") m_textPadding = UI::ParseRect(value);
    else if (name == L"normalimage") m_normalImage = value;
    else if (name == L"hotimage") m_hotImage = value;
    else if (name == L"pushedimage") m_pushedImage = value;
    else if (name == L"focusedimage") m_focusedImage = value;
    else if (name == L"disabledimage") m_disabledImage = value;
    else if (name == L"arrowimage") m_arrowImage = value;
    else if (name == L"hotarrowimage") m_hotArrowImage = value;
    else if (name == L"disabledarrowimage") m_disabledArrowImage = value;
    else if (name == L"itemheight") m_itemHeight = std::max(1, UI::ParseInt(value, 30));
    else if (name == L"itemfont") m_itemFont = UI::ParseInt(value, -1);
    else if (name == L"itemtextcolor" && UI::ParseColor(value, color)) m_itemTextColor = color;
    else if (name == L"itemhotbkcolor" && UI::ParseColor(value, color)) m_itemHotBkColor = color;
    else if (name == L"itemselectedbkcolor" && UI::ParseColor(value, color)) m_itemSelectedBkColor = color;
    else if (name == L"itemselectedtextcolor" && UI::ParseColor(value, color)) m_itemSelectedTextColor = color;
    else if (name == L"itemtextpadding") m_itemTextPadding = UI::ParseRect(value);
    else if (name == L"dropboxsize") m_dropBoxSize = UI::ParseSize(value);
    else if (name == L"dropboxbkcolor" && UI::ParseColor(value, color)) m_dropBoxBkColor = color;
    else if (name == L"dropboxbordercolor" && UI::ParseColor(value, color)) m_dropBoxBorderColor = color;
    else if (name == L"selectedid" || name == L"cursel") m_curSel = m_chosenSel = UI::ParseInt(value, -1);
}

UINT CComboUI::GetControlFlags() const { return IsEnabled() ? (UIFLAG_TABSTOP | UIFLAG_SETCURSOR) : 0; }

void CComboUI::DoEvent(TEventUI& event) {
    if (!IsEnabled() && event.Type != UIEVENT_KILLFOCUS) return;
    switch (event.Type) {
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK:
            if (IsDropped()) CloseDropDown();
            else ShowDropDown();
            return;
        case UIEVENT_MOUSEENTER:
            m_state |= UISTATE_HOT;
            Invalidate();
            return;
        case UIEVENT_MOUSELEAVE:
            m_state &= ~UISTATE_HOT;
            Invalidate();
            return;
        case UIEVENT_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return;
        case UIEVENT_KILLFOCUS:
            m_focused = false;
            CloseDropDown();
            CancelChoice();
            Invalidate();
            return;
        case UIEVENT_KEYDOWN:
            if (IsDropped()) return;
            switch (event.chKey) {
                case VK_UP:
                case VK_DOWN: {
                    int next = NextVisibleItem(m_curSel, event.chKey == VK_DOWN ? 1 : -1);
                    if (next >= 0) ShowItem(next);
                    return;
                }
                case VK_RETURN:
                    if (IsChoicePending()) ConfirmChoice();
                    else ShowDropDown();
                    return;
                case VK_SPACE:
                case VK_F4:
                    ShowDropDown();
                    return;
                default:
                    break;
            }
            break;
        case UIEVENT_SCROLLWHEEL:
            if (m_parent) m_parent->DoEvent(event);
            return;
        default:
            break;
    }
    CControlUI::DoEvent(event);
}

void CComboUI::SetPos(const RECT& rc) {
    // The items are data of the list, not laid out in the combo.
    CControlUI::SetPos(rc);
}

CControlUI* CComboUI::FindControlAt(POINT pt, UINT flags) { return CControlUI::FindControlAt(pt, flags); }

void CComboUI::SetInternVisible(bool visible) {
    // Hiding the combo closes its list; its items keep their own visibility.
    CControlUI::SetInternVisible(visible);
    if (!IsVisible()) CloseDropDown();
}

void CComboUI::SetVisible(bool visible) {
    CControlUI::SetVisible(visible);
    if (!IsVisible()) CloseDropDown();
}

void CComboUI::SetEnabled(bool enabled) {
    CControlUI::SetEnabled(enabled);
    if (!enabled) CloseDropDown();
}

void CComboUI::DoPaint(HDC hdc, const RECT& rcPaint) { CControlUI::DoPaint(hdc, rcPaint); }

void CComboUI::PaintStatusImage(HDC hdc) {
    std::wstring image = m_normalImage, arrow = m_arrowImage;
    if (!IsEnabled()) {
        if (!m_disabledImage.empty()) image = m_disabledImage;
        if (!m_disabledArrowImage.empty()) arrow = m_disabledArrowImage;
    } else if ((m_state & UISTATE_PUSHED) && !m_pushedImage.empty()) {
        image = m_pushedImage;
    } else if (m_focused && m_manager && m_manager->IsFocusVisible() && !m_focusedImage.empty()) {
        image = m_focusedImage;
    } else if ((m_state & UISTATE_HOT) && !m_hotImage.empty()) {
        image = m_hotImage;
    }
    if (IsEnabled() && (m_state & (UISTATE_HOT | UISTATE_PUSHED)) && !m_hotArrowImage.empty()) arrow = m_hotArrowImage;
    if (!image.empty()) DrawImage(hdc, image);
    if (!arrow.empty()) DrawImage(hdc, arrow);
}

void CComboUI::PaintText(HDC hdc) {
    std::wstring text = GetText();
    if (text.empty()) return;
    RECT pad = Scale(m_textPadding);
    bool rtl = m_manager && m_manager->IsRTL();
    if (rtl) std::swap(pad.left, pad.right);
    RECT rc = UI::Deflate(m_rcItem, pad);
    DWORD color = IsEnabled() ? (UI::AlphaOf(m_textColor) ? m_textColor : (m_manager ? m_manager->GetDefaultTextColor() : 0xFF000000))
                              : (UI::AlphaOf(m_disabledTextColor) ? m_disabledTextColor : 0xFFA0A0A8);
    if (m_manager && m_manager->IsHighContrast())
        color = IsEnabled() ? m_manager->GetDefaultTextColor() : m_manager->GetDefaultDisabledColor();
    UINT style = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | (rtl ? (DT_RIGHT | DT_RTLREADING) : 0);
    CRenderEngine::DrawText(hdc, m_manager, rc, text, color, m_font, style, false);
}

}  // namespace DuiLib
