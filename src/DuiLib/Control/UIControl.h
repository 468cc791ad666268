#pragma once
// The base of every control: a rectangle in its parent's layout with a name, a text, state
// (visible, enabled, selected, focused), colours, images and a border. Layout attributes are in
// logical pixels (100 % scale); positions after layout are in window pixels.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DuiLib/Core/UIDefine.h"

namespace DuiLib {

class CPaintManagerUI;

class CControlUI {
public:
    explicit CControlUI(std::wstring className = L"Control");
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    // Identity.
    const std::wstring& GetClass() const { return m_class; }
    const std::wstring& GetName() const { return m_name; }
    void SetName(const std::wstring& name) { m_name = name; }
    virtual void* GetInterface(const std::wstring& name);

    // Text and state.
    virtual std::wstring GetText() const { return m_text; }
    virtual void SetText(const std::wstring& text);
    const std::wstring& GetToolTip() const { return m_tooltip; }
    void SetToolTip(const std::wstring& text) { m_tooltip = text; }
    bool IsVisible() const { return m_visible && m_internVisible; }
    virtual void SetVisible(bool visible);
    // Set by a parent that hides the control without changing its own visibility (tab pages).
    virtual void SetInternVisible(bool visible);
    bool IsEnabled() const { return m_enabled; }
    virtual void SetEnabled(bool enabled);
    bool IsSelected() const { return m_selected; }
    virtual void SetSelected(bool selected);
    bool IsFocused() const { return m_focused; }
    virtual void SetFocus();
    // Focus stops inside the control: a text with several links has one per link, and Tab moves
    // through them in order before leaving the control. Most controls have one.
    virtual int GetFocusPartCount() { return 1; }
    int GetFocusPart() const { return m_focusPart; }
    virtual void SetFocusPart(int part);
    // What the focus ring goes round (window pixels): the control, or its focused link.
    virtual std::vector<RECT> GetFocusRects();
    bool IsMouseEnabled() const { return m_mouse; }
    void SetMouseEnabled(bool enable) { m_mouse = enable; }
    bool IsKeyboardEnabled() const { return m_keyboard; }
    void SetKeyboardEnabled(bool enable) { m_keyboard = enable; }
    UINT GetState() const { return m_state; }

    // Attributes written in the layout; every one is kept as written, so GetAttribute answers
    // for attributes the control does not use itself.
    virtual void SetAttribute(const std::wstring& name, const std::wstring& value);
    std::wstring GetAttribute(const std::wstring& name) const;
    // A list of name="value" pairs, as in the layout's <Default> elements.
    void ApplyAttributeList(const std::wstring& list);
    const std::vector<std::pair<std::wstring, std::wstring>>& GetAttributes() const { return m_attributes; }

    // Tree.
    CControlUI* GetParent() const { return m_parent; }
    CPaintManagerUI* GetManager() const { return m_manager; }
    virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true);
    virtual size_t GetCount() const { return 0; }
    virtual CControlUI* GetItemAt(size_t index) const { return nullptr; }
    // Containers take the child; other controls refuse it (and it is destroyed).
    virtual CControlUI* Add(std::unique_ptr<CControlUI> child);
    // Depth-first search of this control and its descendants by name; the first match wins.
    virtual CControlUI* FindControl(const std::wstring& name);
    // The topmost control under the point (window pixels) that passes the flags.
    virtual CControlUI* FindControlAt(POINT pt, UINT flags);
    // Calls visit on this control and every descendant, in tree order.
    virtual void ForEach(const std::function<void(CControlUI*)>& visit);

    // Layout (logical pixels unless said otherwise).
    const RECT& GetPos() const { return m_rcItem; }  // window pixels
    virtual void SetPos(const RECT& rc);
    int GetFixedWidth() const { return m_fixed.cx; }
    int GetFixedHeight() const { return m_fixed.cy; }
    void SetFixedWidth(int cx);
    void SetFixedHeight(int cy);
    int GetMinWidth() const { return m_min.cx; }
    int GetMinHeight() const { return m_min.cy; }
    int GetMaxWidth() const { return m_max.cx; }
    int GetMaxHeight() const { return m_max.cy; }
    void SetMinWidth(int cx) { m_min.cx = cx; NeedParentUpdate(); }
    void SetMaxWidth(int cx) { m_max.cx = cx; NeedParentUpdate(); }
    void SetMinHeight(int cy) { m_min.cy = cy; NeedParentUpdate(); }
    void SetMaxHeight(int cy) { m_max.cy = cy; NeedParentUpdate(); }
    const RECT& GetPadding() const { return m_padding; }  // outer margin inside the parent
    void SetPadding(const RECT& rc) { m_padding = rc; NeedParentUpdate(); }
    bool IsFloat() const { return m_float; }
    void SetFloat(bool f) { m_float = f; NeedParentUpdate(); }
    const RECT& GetFloatPos() const { return m_floatPos; }  // "pos" of a floating control
    void SetFloatPos(const RECT& rc) { m_floatPos = rc; NeedParentUpdate(); }
    // Preferred size (window pixels) for the space available; 0 in a direction means "stretch".
    virtual SIZE EstimateSize(SIZE available);

    // Scaling of logical pixels to window pixels through the manager's scale.
    int Scale(int logical) const;
    RECT Scale(const RECT& logical) const;

    // Appearance.
    DWORD GetBkColor() const { return m_bkColor; }
    void SetBkColor(DWORD argb) { m_bkColor = argb; Invalidate(); }
    const std::wstring& GetBkImage() const { return m_bkImage; }
    void SetBkImage(const std::wstring& image);
    DWORD GetBorderColor() const { return m_borderColor; }
    void SetBorderColor(DWORD argb) { m_borderColor = argb; Invalidate(); }
    int GetBorderSize() const { return m_borderSize; }
    void SetBorderSize(int size) { m_borderSize = size; Invalidate(); }

    // Marks this control for repainting.
    void Invalidate();
    // The control's size may have changed: lay out its parent's children again.
    void NeedParentUpdate();
    // This control's own children need to be laid out again.
    void NeedUpdate();

    // Input.
    virtual UINT GetControlFlags() const { return 0; }
    virtual void DoEvent(TEventUI& event);
    // Performs the control's action (a click); false when it is not active.
    virtual bool Activate();
    bool IsActive() const { return IsVisible() && IsEnabled(); }

    // Drawing into a device context of the window's size; rcPaint limits what is drawn.
    virtual void DoPaint(HDC hdc, const RECT& rcPaint);
    virtual void PaintBkColor(HDC hdc);
    virtual void PaintBkImage(HDC hdc);
    virtual void PaintStatusImage(HDC hdc) {}
    virtual void PaintText(HDC hdc) {}
    virtual void PaintBorder(HDC hdc);
    // Draws an image description ("name" or "file='name' source='..' corner='..' dest='..'")
    // into this control's rectangle. False when the image cannot be found.
    bool DrawImage(HDC hdc, const std::wstring& image, const RECT* rcOverride = nullptr);

    // Colours behind a native child window of the control (the edit box).
    virtual DWORD GetNativeBkColor() const { return 0xFFFFFFFF; }
    virtual DWORD GetNativeTextColor() const { return 0xFF000000; }

    // Free data for the window logic.
    UINT_PTR GetTag() const { return m_tag; }
    void SetTag(UINT_PTR tag) { m_tag = tag; }
    const std::wstring& GetUserData() const { return m_userData; }
    void SetUserData(const std::wstring& data) { m_userData = data; }

protected:
    RECT PaintRect() const { return m_rcPaint; }

    std::wstring m_class;
    std::wstring m_name;
    std::wstring m_text;
    std::wstring m_tooltip;
    std::wstring m_userData;
    UINT_PTR m_tag = 0;
    bool m_visible = true;
    bool m_internVisible = true;
    bool m_enabled = true;
    bool m_selected = false;
    bool m_focused = false;
    bool m_mouse = true;
    bool m_keyboard = true;
    bool m_float = false;
    bool m_highContrastImage = false;  // the background picture is content: kept in high contrast
    UINT m_state = 0;
    int m_focusPart = 0;

    CPaintManagerUI* m_manager = nullptr;
    CControlUI* m_parent = nullptr;

    RECT m_rcItem{0, 0, 0, 0};
    RECT m_rcPaint{0, 0, 0, 0};
    RECT m_padding{0, 0, 0, 0};
    RECT m_floatPos{0, 0, 0, 0};
    SIZE m_fixed{0, 0};
    SIZE m_min{0, 0};
    SIZE m_max{9999, 9999};

    DWORD m_bkColor = 0;
    DWORD m_bkColor2 = 0;  // lower end of a vertical gradient
    DWORD m_borderColor = 0;
    DWORD m_focusBorderColor = 0;
    int m_borderSize = 0;
    SIZE m_borderRound{0, 0};
    std::wstring m_bkImage;
    std::wstring m_cursor;

private:
    std::vector<std::pair<std::wstring, std::wstring>> m_attributes;
};

}  // namespace DuiLib
