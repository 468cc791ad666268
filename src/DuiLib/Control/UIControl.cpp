#include "DuiLib/Control/UIControl.h"

#include <algorithm>

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "DuiLib/Core/UISystemLook.h"

namespace DuiLib {

CControlUI::CControlUI(std::wstring className) : m_class(std::move(className)) {}

CControlUI::~CControlUI() {
    if (m_manager) m_manager->ReapControl(this);
}

void* CControlUI::GetInterface(const std::wstring& name) {
    if (name == L"Control") return this;
    return nullptr;
}

void CControlUI::SetText(const std::wstring& text) {
    if (m_text == text) return;
    m_text = text;
    Invalidate();
}

void CControlUI::SetVisible(bool visible) {
    if (m_visible == visible) return;
    bool was = IsVisible();
    m_visible = visible;
    if (m_focused && !visible && m_manager) m_manager->SetFocus(nullptr);
    if (was != IsVisible()) NeedParentUpdate();
}

void CControlUI::SetInternVisible(bool visible) {
    m_internVisible = visible;
    if (!visible && m_focused && m_manager) m_manager->SetFocus(nullptr);
}

void CControlUI::SetEnabled(bool enabled) {
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    if (!enabled) {
        m_state &= ~(UISTATE_HOT | UISTATE_PUSHED | UISTATE_CAPTURED);
        if (m_focused && m_manager) m_manager->SetFocus(nullptr);
    }
    Invalidate();
    if (m_manager) m_manager->NotifyAccessible(EVENT_OBJECT_STATECHANGE, this);
}

void CControlUI::SetSelected(bool selected) {
    if (m_selected == selected) return;
    m_selected = selected;
    Invalidate();
}

void CControlUI::SetFocus() {
    if (m_manager) m_manager->SetFocus(this);
}

void CControlUI::SetFocusPart(int part) {
    int count = GetFocusPartCount();
    if (part < 0 || part >= count) part = 0;
    m_focusPart = part;
}

std::vector<RECT> CControlUI::GetFocusRects() { return {m_rcItem}; }

void CControlUI::SetFixedWidth(int cx) {
    if (cx < 0) return;
    m_fixed.cx = cx;
    NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
    if (cy < 0) return;
    m_fixed.cy = cy;
    NeedParentUpdate();
}

void CControlUI::SetBkImage(const std::wstring& image) {
    if (m_bkImage == image) return;
    m_bkImage = image;
    Invalidate();
}

int CControlUI::Scale(int logical) const { return m_manager ? m_manager->Scale(logical) : logical; }

RECT CControlUI::Scale(const RECT& r) const { return RECT{Scale(r.left), Scale(r.top), Scale(r.right), Scale(r.bottom)}; }

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    bool kept = false;
    for (auto& a : m_attributes)
        if (a.first == name) { a.second = value; kept = true; break; }
    if (!kept) m_attributes.emplace_back(name, value);

    DWORD color = 0;
    if (name == L"name") m_name = value;
    else if (name == L"text") m_text = value;
    else if (name == L"tooltip") m_tooltip = value;
    else if (name == L"userdata") m_userData = value;
    else if (name == L"visible") m_visible = UI::ParseBool(value);
    else if (name == L"enabled") m_enabled = UI::ParseBool(value);
    else if (name == L"selected") m_selected = UI::ParseBool(value);
    else if (name == L"mouse") m_mouse = UI::ParseBool(value);
    else if (name == L"keyboard") m_keyboard = UI::ParseBool(value);
    else if (name == L"float") m_float = UI::ParseBool(value);
    else if (name == L"pos") {
        m_floatPos = UI::ParseRect(value);
        m_fixed.cx = m_floatPos.right - m_floatPos.left;
        m_fixed.cy = m_floatPos.bottom - m_floatPos.top;
    } else if (name == L"width") m_fixed.cx = std::max(0, UI::ParseInt(value));
    else if (name == L"height") m_fixed.cy = std::max(0, UI::ParseInt(value));
    else if (name == L"minwidth") m_min.cx = UI::ParseInt(value);
    else if (name == L"minheight") m_min.cy = UI::ParseInt(value);
    else if (name == L"maxwidth") m_max.cx = UI::ParseInt(value, 9999);
    else if (name == L"maxheight") m_max.cy = UI::ParseInt(value, 9999);
    else if (name == L"padding") m_padding = UI::ParseRect(value);
    else if (name == L"bkcolor" && UI::ParseColor(value, color)) m_bkColor = color;
    else if (name == L"bkcolor2" && UI::ParseColor(value, color)) m_bkColor2 = color;
    else if (name == L"bordercolor" && UI::ParseColor(value, color)) m_borderColor = color;
    else if (name == L"focusbordercolor" && UI::ParseColor(value, color)) m_focusBorderColor = color;
    else if (name == L"highcontrastimage") m_highContrastImage = UI::ParseBool(value);
    else if (name == L"bordersize") m_borderSize = UI::ParseInt(value);
    else if (name == L"borderround") m_borderRound = UI::ParseSize(value);
    else if (name == L"bkimage") m_bkImage = value;
    else if (name == L"cursor") m_cursor = value;
}

std::wstring CControlUI::GetAttribute(const std::wstring& name) const {
    for (const auto& a : m_attributes)
        if (a.first == name) return a.second;
    return std::wstring();
}

void CControlUI::ApplyAttributeList(const std::wstring& list) {
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == L' ' || list[i] == L'\t' || list[i] == L'\n' || list[i] == L'\r')) ++i;
        size_t eq = list.find(L'=', i);
        if (eq == std::wstring::npos) break;
        std::wstring key = UI::Trim(list.substr(i, eq - i));
        size_t q1 = list.find_first_of(L"\"'", eq);
        if (q1 == std::wstring::npos) break;
        size_t q2 = list.find(list[q1], q1 + 1);
        if (q2 == std::wstring::npos) break;
        SetAttribute(key, list.substr(q1 + 1, q2 - q1 - 1));
        i = q2 + 1;
    }
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    m_manager = manager;
    m_parent = parent;
}

CControlUI* CControlUI::Add(std::unique_ptr<CControlUI> child) { return nullptr; }

CControlUI* CControlUI::FindControl(const std::wstring& name) {
    return (!name.empty() && m_name == name) ? this : nullptr;
}

CControlUI* CControlUI::FindControlAt(POINT pt, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if ((flags & UIFIND_HITTEST) && (!m_mouse || !UI::Contains(m_rcItem, pt))) return nullptr;
    return this;
}

void CControlUI::ForEach(const std::function<void(CControlUI*)>& visit) { visit(this); }

void CControlUI::SetPos(const RECT& rc) {
    RECT r = rc;
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    if (UI::RectEquals(r, m_rcItem)) return;
    Invalidate();
    m_rcItem = r;
    Invalidate();
}

SIZE CControlUI::EstimateSize(SIZE available) { return SIZE{Scale(m_fixed.cx), Scale(m_fixed.cy)}; }

void CControlUI::Invalidate() {
    if (!m_manager || !IsVisible() || UI::IsEmptyRect(m_rcItem)) return;
    // Only the part that its visible parents show.
    RECT rc = m_rcItem;
    for (CControlUI* p = m_parent; p; p = p->m_parent) {
        if (!p->IsVisible()) return;
        rc = UI::Intersect(rc, p->m_rcItem);
        if (UI::IsEmptyRect(rc)) return;
    }
    m_manager->Invalidate(rc);
}

void CControlUI::NeedParentUpdate() {
    if (m_manager) m_manager->NeedUpdate();
}

void CControlUI::NeedUpdate() {
    if (m_manager) m_manager->NeedUpdate();
}

void CControlUI::DoEvent(TEventUI& event) {
    switch (event.Type) {
        case UIEVENT_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, m_cursor == L"hand" ? IDC_HAND : IDC_ARROW));
            return;
        case UIEVENT_SETFOCUS:
            m_focused = true;
            Invalidate();
            return;
        case UIEVENT_KILLFOCUS:
            m_focused = false;
            Invalidate();
            return;
        case UIEVENT_MOUSEENTER:
        case UIEVENT_MOUSELEAVE:
            return;
        case UIEVENT_SCROLLWHEEL:
        case UIEVENT_KEYDOWN:
            // Unhandled here: the parent may scroll or take the key.
            if (m_parent) m_parent->DoEvent(event);
            return;
        default:
            return;
    }
}

bool CControlUI::Activate() { return IsActive(); }

void CControlUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    m_rcPaint = UI::Intersect(rcPaint, m_rcItem);
    if (UI::IsEmptyRect(m_rcPaint)) return;
    PaintBkColor(hdc);
    PaintBkImage(hdc);
    PaintStatusImage(hdc);
    PaintText(hdc);
    PaintBorder(hdc);
}

void CControlUI::PaintBkColor(HDC hdc) {
    if (!UI::AlphaOf(m_bkColor)) return;
    if (m_manager && m_manager->IsHighContrast()) {
        // Panels take the system's window colour, which the system's text colour is read against.
        const DWORD window = SystemLook::RoleColor(SystemLook::Role::Window);
        if (m_borderRound.cx > 0 || m_borderRound.cy > 0)
            CRenderEngine::DrawRoundRect(hdc, m_rcItem, Scale(m_borderRound.cx), Scale(m_borderRound.cy), window, 0, 0);
        else
            CRenderEngine::FillRect(hdc, m_rcPaint, window);
        return;
    }
    if (m_borderRound.cx > 0 || m_borderRound.cy > 0) {
        CRenderEngine::DrawRoundRect(hdc, m_rcItem, Scale(m_borderRound.cx), Scale(m_borderRound.cy), m_bkColor, 0, 0);
        return;
    }
    if (UI::AlphaOf(m_bkColor2)) CRenderEngine::FillGradient(hdc, m_rcItem, m_bkColor, m_bkColor2);
    else CRenderEngine::FillRect(hdc, m_rcPaint, m_bkColor);
}

void CControlUI::PaintBkImage(HDC hdc) {
    if (m_bkImage.empty()) return;
    // High contrast: the picture behind a panel of controls is decoration and would stand under
    // the system's text colours; it goes unless the layout marks it as content
    // (highcontrastimage). Pictures of single controls (icons, illustrations) stay: each has a
    // text beside it that says the same.
    if (m_manager && m_manager->IsHighContrast() && GetCount() > 0 && !m_highContrastImage) return;
    DrawImage(hdc, m_bkImage);
}

void CControlUI::PaintBorder(HDC hdc) {
    DWORD color = m_borderColor;
    const bool highContrast = m_manager && m_manager->IsHighContrast();
    if (highContrast && UI::AlphaOf(color)) color = SystemLook::RoleColor(SystemLook::Role::WindowText);
    if (m_focused && UI::AlphaOf(m_focusBorderColor) && m_manager && m_manager->IsFocusVisible())
        color = SystemLook::FocusRingColor(m_focusBorderColor);
    if (!UI::AlphaOf(color) || m_borderSize <= 0) return;
    int size = std::max(1, Scale(m_borderSize));
    if (m_borderRound.cx > 0 || m_borderRound.cy > 0)
        CRenderEngine::DrawRoundRect(hdc, m_rcItem, Scale(m_borderRound.cx), Scale(m_borderRound.cy), 0, color, size);
    else
        CRenderEngine::DrawRect(hdc, m_rcItem, size, color);
}

bool CControlUI::DrawImage(HDC hdc, const std::wstring& image, const RECT* rcOverride) {
    return CRenderEngine::DrawImageString(hdc, m_manager, rcOverride ? *rcOverride : m_rcItem, m_rcPaint, image);
}

}  // namespace DuiLib
