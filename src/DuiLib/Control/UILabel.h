#pragma once
// Labels and texts: a text in one of the window's fonts, aligned in the control, optionally
// rich-text markup with links ("link" notification with the link's index), wrapped over several
// lines or cut with an ellipsis. CTextUI is a label that wraps and reads markup by default.
#include <memory>
#include <string>

#include "DuiLib/Control/UIControl.h"
#include "DuiLib/Core/UIRichText.h"

namespace DuiLib {

class CLabelUI : public CControlUI {
public:
    explicit CLabelUI(std::wstring className = L"Label");
    void* GetInterface(const std::wstring& name) override;

    void SetText(const std::wstring& text) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    SIZE EstimateSize(SIZE available) override;
    void SetPos(const RECT& rc) override;
    void PaintText(HDC hdc) override;
    void DoEvent(TEventUI& event) override;
    // A text with links takes the keyboard focus, one stop per link; Enter or Space opens the
    // focused link. A label written with labelfor="name" passes a click on its text (not on a
    // link) to that control, as a check box's caption does.
    UINT GetControlFlags() const override;
    int GetFocusPartCount() override;
    std::vector<RECT> GetFocusRects() override;
    bool HasLinks() const { return m_showHtml && m_text.find(L"{a") != std::wstring::npos; }
    // The plain text of link index (its words without markup).
    std::wstring GetLinkText(int link) const;

    int GetFont() const { return m_font; }
    void SetFont(int id) { m_font = id; m_layoutValid = false; NeedParentUpdate(); }
    DWORD GetTextColor() const { return m_textColor; }
    void SetTextColor(DWORD argb) { m_textColor = argb; Invalidate(); }
    void SetDisabledTextColor(DWORD argb) { m_disabledTextColor = argb; Invalidate(); }
    // DT_* alignment and wrapping flags.
    UINT GetTextStyle() const { return m_textStyle; }
    void SetTextStyle(UINT style) { m_textStyle = style; m_layoutValid = false; Invalidate(); }
    const RECT& GetTextPadding() const { return m_textPadding; }
    void SetTextPadding(const RECT& rc) { m_textPadding = rc; m_layoutValid = false; NeedParentUpdate(); }
    bool IsShowHtml() const { return m_showHtml; }
    void SetShowHtml(bool html) { m_showHtml = html; m_layoutValid = false; Invalidate(); }

    // The text as laid out for the control's current width (window pixels, relative to
    // TextOrigin), and the link under a point of the window (-1 for none).
    const TTextLayout& GetTextLayout();
    POINT TextOrigin();
    int LinkAt(POINT pt);
    int GetLinkCount();
    int GetHotLink() const { return m_hotLink; }

protected:
    // The colour the text is drawn in for the current state.
    virtual DWORD StateTextColor() const;
    RECT TextRect() const;
    UINT EffectiveStyle() const;
    void InvalidateLayout() { m_layoutValid = false; }

    int m_font = -1;
    DWORD m_textColor = 0;
    DWORD m_disabledTextColor = 0;
    UINT m_textStyle = DT_VCENTER | DT_SINGLELINE;
    RECT m_textPadding{0, 0, 0, 0};
    bool m_showHtml = false;
    bool m_autoWidth = false;
    bool m_autoHeight = false;

    // The laid-out text and what it was laid out for.
    TTextLayout m_layout;
    bool m_layoutValid = false;
    int m_layoutWidth = -1;
    int m_layoutScale = 0;
    std::wstring m_layoutFace;
    bool m_layoutRtl = false;

    int m_hotLink = -1;
    int m_pushedLink = -1;
    bool m_captionPushed = false;
};

class CTextUI : public CLabelUI {
public:
    CTextUI();
    void* GetInterface(const std::wstring& name) override;
};

}  // namespace DuiLib
