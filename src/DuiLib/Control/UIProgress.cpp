#include "DuiLib/Control/UIProgress.h"

#include <algorithm>

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "DuiLib/Core/UISystemLook.h"

namespace DuiLib {

CProgressUI::CProgressUI() : CLabelUI(L"Progress") { m_textStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER; }

void* CProgressUI::GetInterface(const std::wstring& name) {
    if (name == L"Progress") return this;
    return CLabelUI::GetInterface(name);
}

void CProgressUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    CLabelUI::SetAttribute(name, value);
    DWORD color = 0;
    if (name == L"foreimage") m_foreImage = value;
    else if (name == L"forecolor" && UI::ParseColor(value, color)) m_foreColor = color;
    else if (name == L"hor") m_horizontal = UI::ParseBool(value);
    else if (name == L"isstretchfore") m_stretchFore = UI::ParseBool(value);
    else if (name == L"min") SetRange(UI::ParseInt(value), m_max);
    else if (name == L"max") SetRange(m_min, UI::ParseInt(value, 100));
    else if (name == L"value") SetValue(UI::ParseInt(value));
}

void CProgressUI::SetRange(int minValue, int maxValue) {
    if (maxValue <= minValue) return;
    m_min = minValue;
    m_max = maxValue;
    m_value = std::clamp(m_value.load(), m_min, m_max);
    Invalidate();
}

bool CProgressUI::SetValue(int value) {
    if (value < m_min || value > m_max) return false;
    if (value == m_value.load()) return true;
    m_value = value;
    Invalidate();
    if (m_manager) m_manager->NotifyAccessible(EVENT_OBJECT_VALUECHANGE, this);
    return true;
}

RECT CProgressUI::FillRect() const {
    RECT rc = m_rcItem;
    int span = m_max - m_min;
    int v = m_value.load() - m_min;
    if (m_horizontal) {
        int w = static_cast<int>(static_cast<long long>(UI::Width(rc)) * v / span);
        if (m_manager && m_manager->IsRTL()) rc.left = rc.right - w;
        else rc.right = rc.left + w;
    } else {
        int h = static_cast<int>(static_cast<long long>(UI::Height(rc)) * v / span);
        rc.top = rc.bottom - h;
    }
    return rc;
}

void CProgressUI::PaintStatusImage(HDC hdc) {
    RECT fill = FillRect();
    if (UI::IsEmptyRect(fill)) return;
    const bool highContrast = m_manager && m_manager->IsHighContrast();
    if (UI::AlphaOf(m_foreColor) || highContrast) {
        int r = std::min(UI::Height(fill), UI::Width(fill)) / 2;
        CRenderEngine::DrawRoundRect(hdc, fill, r, r,
                                     highContrast ? SystemLook::RoleColor(SystemLook::Role::Highlight) : m_foreColor, 0, 0);
    }
    if (highContrast) return;  // the system's highlight is the fill
    if (m_foreImage.empty()) return;
    if (m_stretchFore) {
        DrawImage(hdc, m_foreImage, &fill);
        return;
    }
    // Cut: the image keeps its place and only the part up to the value shows.
    int saved = SaveDC(hdc);
    IntersectClipRect(hdc, fill.left, fill.top, fill.right, fill.bottom);
    DrawImage(hdc, m_foreImage);
    RestoreDC(hdc, saved);
}

}  // namespace DuiLib
