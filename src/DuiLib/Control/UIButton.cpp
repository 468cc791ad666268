#include "DuiLib/Control/UIButton.h"

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UISystemLook.h"
#include "DuiLib/Core/UIRender.h"

namespace DuiLib {

CButtonUI::CButtonUI(std::wstring className) : CLabelUI(std::move(className)) { m_textStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER; }

void* CButtonUI::GetInterface(const std::wstring& name) {
    if (name == L"Button") return this;
    return CLabelUI::GetInterface(name);
}

void CButtonUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    CLabelUI::SetAttribute(name, value);
    DWORD color = 0;
    if (name == L"normalimage") m_normalImage = value;
    else if (name == L"hotimage") m_hotImage = value;
    else if (name == L"pushedimage") m_pushedImage = value;
    else if (name == L"focusedimage") m_focusedImage = value;
    else if (name == L"disabledimage") m_disabledImage = value;
    else if (name == L"foreimage") m_foreImage = value;
    else if (name == L"hotforeimage") m_hotForeImage = value;
    else if (name == L"pushedforeimage") m_pushedForeImage = value;
    else if (name == L"disabledforeimage") m_disabledForeImage = value;
    else if (name == L"hottextcolor" && UI::ParseColor(value, color)) m_hotTextColor = color;
    else if (name == L"pushedtextcolor" && UI::ParseColor(value, color)) m_pushedTextColor = color;
    else if (name == L"focusedtextcolor" && UI::ParseColor(value, color)) m_focusedTextColor = color;
    else if (name == L"hotbkcolor" && UI::ParseColor(value, color)) m_hotBkColor = color;
    else if (name == L"pushedbkcolor" && UI::ParseColor(value, color)) m_pushedBkColor = color;
    else if (name == L"disabledbkcolor" && UI::ParseColor(value, color)) m_disabledBkColor = color;
    else if (name == L"tabstop") m_takesFocus = UI::ParseBool(value);
}

UINT CButtonUI::GetControlFlags() const {
    return (m_keyboard && m_takesFocus ? UIFLAG_TABSTOP : 0) | (IsEnabled() ? UIFLAG_SETCURSOR : 0);
}

bool CButtonUI::FocusShown() const { return m_focused && m_manager && m_manager->IsFocusVisible(); }

void CButtonUI::SetEnabled(bool enabled) {
    if (!enabled) m_state &= ~(UISTATE_HOT | UISTATE_PUSHED | UISTATE_CAPTURED);
    CControlUI::SetEnabled(enabled);
}

void CButtonUI::DoEvent(TEventUI& event) {
    if (!IsEnabled() && event.Type != UIEVENT_SETFOCUS && event.Type != UIEVENT_KILLFOCUS) {
        if (event.Type == UIEVENT_SCROLLWHEEL && m_parent) m_parent->DoEvent(event);
        return;
    }
    // A link inside the button's text is a link, not the button.
    if (m_showHtml && (event.Type == UIEVENT_BUTTONDOWN || event.Type == UIEVENT_BUTTONUP || event.Type == UIEVENT_SETCURSOR ||
                       event.Type == UIEVENT_DBLCLICK)) {
        bool onLink = LinkAt(event.ptMouse) >= 0;
        if (onLink || (event.Type == UIEVENT_BUTTONUP && m_pushedLink >= 0)) {
            CLabelUI::DoEvent(event);
            return;
        }
    }
    switch (event.Type) {
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK:
            if (UI::Contains(m_rcItem, event.ptMouse)) {
                m_state |= UISTATE_PUSHED | UISTATE_CAPTURED;
                Invalidate();
            }
            return;
        case UIEVENT_MOUSEMOVE:
            if (m_state & UISTATE_CAPTURED) {
                bool inside = UI::Contains(m_rcItem, event.ptMouse);
                bool pushed = (m_state & UISTATE_PUSHED) != 0;
                if (inside != pushed) {
                    if (inside) m_state |= UISTATE_PUSHED;
                    else m_state &= ~UISTATE_PUSHED;
                    Invalidate();
                }
            }
            if (m_showHtml) CLabelUI::DoEvent(event);
            return;
        case UIEVENT_BUTTONUP:
            if (m_state & UISTATE_CAPTURED) {
                bool inside = UI::Contains(m_rcItem, event.ptMouse);
                m_state &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
                if (!inside) m_state &= ~UISTATE_HOT;
                Invalidate();
                if (inside) Activate();
            }
            return;
        case UIEVENT_MOUSEENTER:
            m_state |= UISTATE_HOT;
            Invalidate();
            return;
        case UIEVENT_MOUSELEAVE:
            m_state &= ~UISTATE_HOT;
            Invalidate();
            if (m_showHtml) CLabelUI::DoEvent(event);
            return;
        case UIEVENT_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return;
        case UIEVENT_KEYDOWN:
            if (event.chKey == VK_SPACE || event.chKey == VK_RETURN) {
                Activate();
                return;
            }
            break;
        default:
            break;
    }
    CLabelUI::DoEvent(event);
}

bool CButtonUI::Activate() {
    if (!IsActive()) return false;
    if (m_manager) m_manager->SendNotify(this, L"click");
    return true;
}

std::wstring CButtonUI::CurrentImage() const {
    if (!IsEnabled()) return m_disabledImage.empty() ? m_normalImage : m_disabledImage;
    if ((m_state & UISTATE_PUSHED) && !m_pushedImage.empty()) return m_pushedImage;
    if (FocusShown() && !m_focusedImage.empty()) return m_focusedImage;
    if ((m_state & UISTATE_HOT) && !m_hotImage.empty()) return m_hotImage;
    return m_normalImage;
}

std::wstring CButtonUI::CurrentForeImage() const {
    if (!IsEnabled() && !m_disabledForeImage.empty()) return m_disabledForeImage;
    if ((m_state & UISTATE_PUSHED) && !m_pushedForeImage.empty()) return m_pushedForeImage;
    if ((m_state & UISTATE_HOT) && !m_hotForeImage.empty()) return m_hotForeImage;
    return m_foreImage;
}

bool CButtonUI::SystemFace() const { return m_manager && m_manager->IsHighContrast() && !m_text.empty(); }

void CButtonUI::PaintBkColor(HDC hdc) {
    if (SystemFace()) {
        // High contrast: the system's button face, its highlight when hot, pushed or focused.
        const bool lit = IsEnabled() && ((m_state & (UISTATE_PUSHED | UISTATE_HOT)) || FocusShown());
        const DWORD face = SystemLook::RoleColor(lit ? SystemLook::Role::Highlight : SystemLook::Role::ButtonFace);
        const DWORD edge = SystemLook::RoleColor(IsEnabled() ? SystemLook::Role::ButtonText : SystemLook::Role::GrayText);
        CRenderEngine::DrawRoundRect(hdc, m_rcItem, Scale(m_borderRound.cx), Scale(m_borderRound.cy), face, edge,
                                     std::max(1, Scale(1)));
        return;
    }
    DWORD keep = m_bkColor;
    if (!IsEnabled() && UI::AlphaOf(m_disabledBkColor)) m_bkColor = m_disabledBkColor;
    else if ((m_state & UISTATE_PUSHED) && UI::AlphaOf(m_pushedBkColor)) m_bkColor = m_pushedBkColor;
    else if ((m_state & UISTATE_HOT) && UI::AlphaOf(m_hotBkColor)) m_bkColor = m_hotBkColor;
    CControlUI::PaintBkColor(hdc);
    m_bkColor = keep;
}

void CButtonUI::PaintStatusImage(HDC hdc) {
    if (SystemFace()) return;  // the skin's pictures of the button give way to the system's face
    std::wstring image = CurrentImage();
    if (!image.empty()) DrawImage(hdc, image);
    std::wstring fore = CurrentForeImage();
    if (!fore.empty()) DrawImage(hdc, fore);
}

DWORD CButtonUI::StateTextColor() const {
    if (SystemFace()) {
        if (!IsEnabled()) return SystemLook::RoleColor(SystemLook::Role::GrayText);
        const bool lit = (m_state & (UISTATE_PUSHED | UISTATE_HOT)) || FocusShown();
        return SystemLook::RoleColor(lit ? SystemLook::Role::HighlightText : SystemLook::Role::ButtonText);
    }
    if (IsEnabled()) {
        if ((m_state & UISTATE_PUSHED) && UI::AlphaOf(m_pushedTextColor)) return m_pushedTextColor;
        if ((m_state & UISTATE_HOT) && UI::AlphaOf(m_hotTextColor)) return m_hotTextColor;
        if (FocusShown() && UI::AlphaOf(m_focusedTextColor)) return m_focusedTextColor;
    }
    return CLabelUI::StateTextColor();
}

// ---- Option ----

COptionUI::COptionUI(std::wstring className) : CButtonUI(std::move(className)) {}

COptionUI::~COptionUI() {
    if (m_manager && !m_group.empty()) m_manager->RemoveOptionGroup(m_group, this);
}

void* COptionUI::GetInterface(const std::wstring& name) {
    if (name == L"Option") return this;
    return CButtonUI::GetInterface(name);
}

void COptionUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"group") {
        CControlUI::SetAttribute(name, value);
        SetGroup(value);
        return;
    }
    if (name == L"selected") {
        CControlUI::SetAttribute(name, value);
        m_selected = UI::ParseBool(value);  // as laid out: no notification
        return;
    }
    CButtonUI::SetAttribute(name, value);
    DWORD color = 0;
    if (name == L"selectedimage") m_selectedImage = value;
    else if (name == L"selectedhotimage") m_selectedHotImage = value;
    else if (name == L"selectedpushedimage") m_selectedPushedImage = value;
    else if (name == L"selecteddisabledimage") m_selectedDisabledImage = value;
    else if (name == L"selectedforeimage") m_selectedForeImage = value;
    else if (name == L"selectedtextcolor" && UI::ParseColor(value, color)) m_selectedTextColor = color;
    else if (name == L"selectedbkcolor" && UI::ParseColor(value, color)) m_selectedBkColor = color;
}

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    if (m_manager && m_manager != manager && !m_group.empty()) m_manager->RemoveOptionGroup(m_group, this);
    CButtonUI::SetManager(manager, parent, init);
    if (m_manager && !m_group.empty()) m_manager->AddOptionGroup(m_group, this);
}

void COptionUI::SetGroup(const std::wstring& group) {
    if (m_manager && !m_group.empty()) m_manager->RemoveOptionGroup(m_group, this);
    m_group = group;
    if (m_manager && !m_group.empty()) m_manager->AddOptionGroup(m_group, this);
}

void COptionUI::Selected(bool selected, bool triggerEvent) {
    if (m_selected == selected) return;
    m_selected = selected;
    Invalidate();
    if (!m_manager) return;
    m_manager->NotifyAccessible(EVENT_OBJECT_STATECHANGE, this);
    if (!m_group.empty()) {
        if (!m_selected) return;
        const std::vector<CControlUI*>* group = m_manager->GetOptionGroup(m_group);
        if (group) {
            std::vector<CControlUI*> others = *group;
            for (CControlUI* c : others)
                if (c != this) static_cast<COptionUI*>(c)->Selected(false, triggerEvent);
        }
    }
    if (triggerEvent) m_manager->SendNotify(this, L"selectchanged");
}

bool COptionUI::Activate() {
    if (!CButtonUI::Activate()) return false;
    if (!m_group.empty()) Selected(true);
    else Selected(!m_selected);
    return true;
}

std::wstring COptionUI::CurrentImage() const {
    if (!m_selected) return CButtonUI::CurrentImage();
    if (!IsEnabled()) return !m_selectedDisabledImage.empty() ? m_selectedDisabledImage : m_selectedImage.empty() ? CButtonUI::CurrentImage() : m_selectedImage;
    if ((m_state & UISTATE_PUSHED) && !m_selectedPushedImage.empty()) return m_selectedPushedImage;
    if ((m_state & UISTATE_HOT) && !m_selectedHotImage.empty()) return m_selectedHotImage;
    if (!m_selectedImage.empty()) return m_selectedImage;
    return CButtonUI::CurrentImage();
}

DWORD COptionUI::StateTextColor() const {
    if (m_selected && IsEnabled() && UI::AlphaOf(m_selectedTextColor)) return m_selectedTextColor;
    return CButtonUI::StateTextColor();
}

// ---- Check box ----

CCheckBoxUI::CCheckBoxUI() : COptionUI(L"CheckBox") { m_textStyle = DT_SINGLELINE | DT_VCENTER; }

void* CCheckBoxUI::GetInterface(const std::wstring& name) {
    if (name == L"CheckBox") return this;
    return COptionUI::GetInterface(name);
}

}  // namespace DuiLib
