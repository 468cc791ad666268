#pragma once
// Containers: the plain container (children stacked over its whole inside), the vertical and
// horizontal layouts (children one after another: fixed sizes first, the stretching ones share
// what is left), and the tab layout (one child shown at a time). Insets, child padding, child
// alignment, floating children at fixed positions and a vertical scroll bar are common to all.
#include <memory>
#include <string>
#include <vector>

#include "DuiLib/Control/UIControl.h"

namespace DuiLib {

class CContainerUI : public CControlUI {
public:
    explicit CContainerUI(std::wstring className = L"Container");
    ~CContainerUI() override;

    void* GetInterface(const std::wstring& name) override;

    // Children.
    size_t GetCount() const override { return m_items.size(); }
    CControlUI* GetItemAt(size_t index) const override;
    int GetItemIndex(CControlUI* control) const;
    CControlUI* Add(std::unique_ptr<CControlUI> child) override;
    CControlUI* AddAt(std::unique_ptr<CControlUI> child, size_t index);
    // Removes and destroys the child; false when it is not a child of this container.
    bool Remove(CControlUI* control);
    // Takes the child out without destroying it.
    std::unique_ptr<CControlUI> Detach(CControlUI* control);
    void RemoveAll();

    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    CControlUI* FindControl(const std::wstring& name) override;
    CControlUI* FindControlAt(POINT pt, UINT flags) override;
    void ForEach(const std::function<void(CControlUI*)>& visit) override;
    void SetVisible(bool visible) override;
    void SetInternVisible(bool visible) override;

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    const RECT& GetInset() const { return m_inset; }
    void SetInset(const RECT& inset) { m_inset = inset; NeedUpdate(); }
    int GetChildPadding() const { return m_childPadding; }
    void SetChildPadding(int padding) { m_childPadding = padding; NeedUpdate(); }

    void SetPos(const RECT& rc) override;
    void DoPaint(HDC hdc, const RECT& rcPaint) override;
    void DoEvent(TEventUI& event) override;
    UINT GetControlFlags() const override;

    // Vertical scrolling (window pixels).
    bool HasScrollBar() const { return m_vscroll; }
    void EnableScrollBar(bool enable) { m_vscroll = enable; NeedUpdate(); }
    int GetScrollPos() const { return m_scrollPos; }
    int GetScrollRange() const { return m_scrollRange; }
    void SetScrollPos(int pos);
    bool IsScrollBarShown() const { return m_vscroll && m_scrollRange > 0; }
    RECT GetScrollBarRect() const { return m_rcScrollBar; }
    RECT GetThumbRect() const;

protected:
    // Lays out the children in rc (inset already taken off) and returns the height they need.
    virtual int LayoutChildren(const RECT& rc);
    void SetFloatPos(CControlUI* child, const RECT& rc);
    // The rectangle of the children before scrolling; the scroll bar's width is taken off when
    // it shows.
    RECT ContentRect() const;
    void PaintScrollBar(HDC hdc);
    // Horizontal mirror of a rectangle inside box (right-to-left pages).
    static RECT Mirror(const RECT& r, const RECT& box);

    std::vector<std::unique_ptr<CControlUI>> m_items;
    RECT m_inset{0, 0, 0, 0};
    int m_childPadding = 0;
    int m_childAlign = 0;   // 0 start, 1 centre, 2 end (across the layout direction)
    int m_childVAlign = 0;
    bool m_vscroll = false;
    int m_scrollPos = 0;
    int m_scrollRange = 0;
    int m_scrollStep = 40;  // logical pixels per wheel notch
    RECT m_rcScrollBar{0, 0, 0, 0};
    bool m_thumbHot = false;
    bool m_thumbDrag = false;
    int m_dragStartY = 0;
    int m_dragStartPos = 0;
};

class CVerticalLayoutUI : public CContainerUI {
public:
    CVerticalLayoutUI() : CContainerUI(L"VerticalLayout") {}
    void* GetInterface(const std::wstring& name) override;

protected:
    int LayoutChildren(const RECT& rc) override;
};

class CHorizontalLayoutUI : public CContainerUI {
public:
    CHorizontalLayoutUI() : CContainerUI(L"HorizontalLayout") {}
    void* GetInterface(const std::wstring& name) override;

protected:
    int LayoutChildren(const RECT& rc) override;
};

class CTabLayoutUI : public CContainerUI {
public:
    CTabLayoutUI() : CContainerUI(L"TabLayout") {}
    void* GetInterface(const std::wstring& name) override;

    int GetCurSel() const { return m_curSel; }
    // Shows page index; false when there is no such page.
    bool SelectItem(int index);
    bool SelectItem(CControlUI* page);
    CControlUI* Add(std::unique_ptr<CControlUI> child) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void SetInternVisible(bool visible) override;
    void SetVisible(bool visible) override;

private:
    void ApplySelection();
    int m_curSel = 0;
};

}  // namespace DuiLib
