#include "DuiLib/Control/UILabel.h"

#include <algorithm>

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"

namespace DuiLib {
namespace {

// A device context for measuring text when a control has no manager.
HDC MeasureDC() {
    static HDC dc = CreateCompatibleDC(nullptr);
    return dc;
}

}  // namespace

CLabelUI::CLabelUI(std::wstring className) : CControlUI(std::move(className)) {}

void* CLabelUI::GetInterface(const std::wstring& name) {
    if (name == L"Label") return this;
    return CControlUI::GetInterface(name);
}

void CLabelUI::SetText(const std::wstring& text) {
    if (text == m_text) return;
    m_text = text;
    m_layoutValid = false;
    m_hotLink = m_pushedLink = -1;
    Invalidate();
    if (m_autoWidth || m_autoHeight) NeedParentUpdate();
}

void CLabelUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    CControlUI::SetAttribute(name, value);
    DWORD color = 0;
    if (name == L"text") m_layoutValid = false;
    else if (name == L"font") m_font = UI::ParseInt(value, -1);
    else if (name == L"textcolor" && UI::ParseColor(value, color)) m_textColor = color;
    else if (name == L"disabledtextcolor" && UI::ParseColor(value, color)) m_disabledTextColor = color;
    else if (name == L"textpadding") m_textPadding = UI::ParseRect(value);
    else if (name == L"showhtml") m_showHtml = UI::ParseBool(value);
    else if (name == L"autocalcwidth") m_autoWidth = UI::ParseBool(value);
    else if (name == L"autocalcheight") m_autoHeight = UI::ParseBool(value);
    else if (name == L"align") {
        m_textStyle &= ~(DT_LEFT | DT_CENTER | DT_RIGHT);
        if (value == L"center") m_textStyle |= DT_CENTER;
        else if (value == L"right") m_textStyle |= DT_RIGHT;
    } else if (name == L"valign") {
        m_textStyle &= ~(DT_TOP | DT_VCENTER | DT_BOTTOM);
        if (value == L"vcenter" || value == L"center") m_textStyle |= DT_VCENTER;
        else if (value == L"bottom") m_textStyle |= DT_BOTTOM;
    } else if (name == L"wordbreak" || name == L"multiline") {
        if (UI::ParseBool(value)) {
            m_textStyle &= ~DT_SINGLELINE;
            m_textStyle |= DT_WORDBREAK;
        } else {
            m_textStyle &= ~DT_WORDBREAK;
            m_textStyle |= DT_SINGLELINE;
        }
    } else if (name == L"endellipsis") {
        if (UI::ParseBool(value)) m_textStyle |= DT_END_ELLIPSIS;
        else m_textStyle &= ~DT_END_ELLIPSIS;
    }
    m_layoutValid = false;
}

UINT CLabelUI::EffectiveStyle() const {
    UINT style = m_textStyle;
    if (m_manager && m_manager->IsRTL()) {
        style |= DT_RTLREADING;
        if (style & DT_RIGHT) style &= ~DT_RIGHT;
        else if (!(style & DT_CENTER)) style |= DT_RIGHT;
    }
    return style;
}

RECT CLabelUI::TextRect() const {
    RECT pad = Scale(m_textPadding);
    if (m_manager && m_manager->IsRTL()) std::swap(pad.left, pad.right);
    return UI::Deflate(m_rcItem, pad);
}

const TTextLayout& CLabelUI::GetTextLayout() {
    int width = UI::Width(TextRect());
    int scale = m_manager ? m_manager->GetScale() : 100;
    std::wstring face = m_manager ? m_manager->GetFontFaceOverride() : std::wstring();
    bool rtl = m_manager && m_manager->IsRTL();
    if (!m_layoutValid || width != m_layoutWidth || scale != m_layoutScale || face != m_layoutFace || rtl != m_layoutRtl) {
        HDC dc = m_manager ? m_manager->GetPaintDC() : MeasureDC();
        m_layout = CRenderEngine::LayoutText(dc, m_manager, ParseRichText(m_text, m_showHtml), m_font, width, EffectiveStyle());
        m_layoutValid = true;
        m_layoutWidth = width;
        m_layoutScale = scale;
        m_layoutFace = face;
        m_layoutRtl = rtl;
    }
    return m_layout;
}

POINT CLabelUI::TextOrigin() {
    RECT rc = TextRect();
    const TTextLayout& layout = GetTextLayout();
    UINT style = m_textStyle;
    int y = rc.top;
    if (style & DT_VCENTER) y = rc.top + (UI::Height(rc) - layout.size.cy) / 2;
    else if (style & DT_BOTTOM) y = rc.bottom - layout.size.cy;
    return POINT{rc.left, y};
}

int CLabelUI::LinkAt(POINT pt) {
    if (!m_showHtml || m_text.find(L"{a") == std::wstring::npos) return -1;
    POINT origin = TextOrigin();
    return GetTextLayout().LinkAt(POINT{pt.x - origin.x, pt.y - origin.y});
}

int CLabelUI::GetLinkCount() { return m_showHtml ? ParseRichText(m_text, true).linkCount : 0; }

SIZE CLabelUI::EstimateSize(SIZE available) {
    SIZE size{Scale(m_fixed.cx), Scale(m_fixed.cy)};
    if (!m_autoWidth && !m_autoHeight) return size;
    RECT pad = Scale(m_textPadding);
    HDC dc = m_manager ? m_manager->GetPaintDC() : MeasureDC();
    TRichText rich = ParseRichText(m_text, m_showHtml);
    if (m_autoWidth) {
        TTextLayout natural = CRenderEngine::LayoutText(dc, m_manager, rich, m_font, 0x3FFFFFFF, EffectiveStyle() & ~DT_WORDBREAK);
        size.cx = natural.size.cx + pad.left + pad.right;
        if (m_max.cx < 9999) size.cx = std::min<LONG>(size.cx, Scale(m_max.cx));
    }
    if (m_autoHeight) {
        int width = (size.cx > 0 ? size.cx : available.cx) - pad.left - pad.right;
        TTextLayout wrapped = CRenderEngine::LayoutText(dc, m_manager, rich, m_font, std::max(1, width), EffectiveStyle());
        size.cy = wrapped.size.cy + pad.top + pad.bottom;
        if (m_min.cy > 0) size.cy = std::max<LONG>(size.cy, Scale(m_min.cy));
    }
    return size;
}

void CLabelUI::SetPos(const RECT& rc) {
    if (UI::Width(rc) != UI::Width(m_rcItem)) m_layoutValid = false;
    CControlUI::SetPos(rc);
}

DWORD CLabelUI::StateTextColor() const {
    if (m_manager && m_manager->IsHighContrast())
        return IsEnabled() ? m_manager->GetDefaultTextColor() : m_manager->GetDefaultDisabledColor();
    if (!IsEnabled()) {
        if (UI::AlphaOf(m_disabledTextColor)) return m_disabledTextColor;
        return m_manager ? m_manager->GetDefaultDisabledColor() : 0xFFA0A0A8;
    }
    if (UI::AlphaOf(m_textColor)) return m_textColor;
    return m_manager ? m_manager->GetDefaultTextColor() : 0xFF000000;
}

void CLabelUI::PaintText(HDC hdc) {
    if (m_text.empty()) return;
    const TTextLayout& layout = GetTextLayout();
    CRenderEngine::DrawTextLayout(hdc, m_manager, layout, TextOrigin(), m_rcPaint, StateTextColor(), m_font, m_hotLink);
}

UINT CLabelUI::GetControlFlags() const {
    if (!HasLinks()) return 0;
    return UIFLAG_SETCURSOR | (IsEnabled() && m_keyboard ? UIFLAG_TABSTOP : 0);
}

int CLabelUI::GetFocusPartCount() {
    int links = HasLinks() ? GetLinkCount() : 0;
    return links > 0 ? links : 1;
}

std::vector<RECT> CLabelUI::GetFocusRects() {
    if (!HasLinks()) return CControlUI::GetFocusRects();
    std::vector<RECT> rects = GetTextLayout().LinkRects(m_focusPart);
    if (rects.empty()) return CControlUI::GetFocusRects();
    POINT origin = TextOrigin();
    for (RECT& r : rects) OffsetRect(&r, origin.x, origin.y);
    return rects;
}

std::wstring CLabelUI::GetLinkText(int link) const {
    std::wstring text;
    TRichText rich = ParseRichText(m_text, m_showHtml);
    for (const TTextRun& run : rich.runs)
        if (run.style.link == link) text += run.text;
    return UI::Trim(text);
}

void CLabelUI::DoEvent(TEventUI& event) {
    bool links = HasLinks();
    // A caption passes a click on its words to the control it labels.
    std::wstring labelFor = GetAttribute(L"labelfor");
    if (!labelFor.empty() && m_manager && IsEnabled()) {
        if (event.Type == UIEVENT_BUTTONDOWN || event.Type == UIEVENT_DBLCLICK) {
            m_captionPushed = LinkAt(event.ptMouse) < 0;
            if (m_captionPushed) return;
        } else if (event.Type == UIEVENT_BUTTONUP && m_captionPushed) {
            m_captionPushed = false;
            CControlUI* target = m_manager->FindControl(labelFor);
            if (target && UI::Contains(m_rcItem, event.ptMouse) && LinkAt(event.ptMouse) < 0 && target->IsActive()) {
                if (target->GetControlFlags() & UIFLAG_TABSTOP) m_manager->SetFocus(target);
                target->Activate();
            }
            return;
        }
    }
    if (links) {
        switch (event.Type) {
            case UIEVENT_SETCURSOR:
                SetCursor(LoadCursorW(nullptr, LinkAt(event.ptMouse) >= 0 ? IDC_HAND : IDC_ARROW));
                return;
            case UIEVENT_MOUSEMOVE: {
                int link = LinkAt(event.ptMouse);
                if (link != m_hotLink) {
                    m_hotLink = link;
                    Invalidate();
                }
                return;
            }
            case UIEVENT_MOUSELEAVE:
                if (m_hotLink >= 0) {
                    m_hotLink = -1;
                    Invalidate();
                }
                return;
            case UIEVENT_BUTTONDOWN:
            case UIEVENT_DBLCLICK:
                m_pushedLink = LinkAt(event.ptMouse);
                if (m_pushedLink >= 0) SetFocusPart(m_pushedLink);
                return;
            case UIEVENT_KEYDOWN:
                if ((event.chKey == VK_RETURN || event.chKey == VK_SPACE) && IsEnabled() && m_manager) {
                    m_manager->SendNotify(this, L"link", static_cast<WPARAM>(m_focusPart));
                    return;
                }
                break;
            case UIEVENT_BUTTONUP: {
                int link = LinkAt(event.ptMouse);
                bool fire = m_pushedLink >= 0 && link == m_pushedLink && IsEnabled();
                m_pushedLink = -1;
                if (fire && m_manager) m_manager->SendNotify(this, L"link", static_cast<WPARAM>(link));
                return;
            }
            default:
                break;
        }
    }
    CControlUI::DoEvent(event);
}

CTextUI::CTextUI() : CLabelUI(L"Text") {
    m_textStyle = DT_WORDBREAK;
    m_showHtml = true;
}

void* CTextUI::GetInterface(const std::wstring& name) {
    if (name == L"Text") return this;
    return CLabelUI::GetInterface(name);
}

}  // namespace DuiLib
