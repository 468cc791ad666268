#pragma once
// The combo box: a list of items (<ListLabelElement text="..."/> children) of which one is
// selected and shown; a click opens the drop-down list below it. Hidden items stay in the list
// (their indexes count) but are neither shown nor reachable with the keyboard. A change of the
// selection sends "itemselect" (wParam: new index, lParam: old index), and only once the choice
// is confirmed: the arrows of the closed combo show the next item without choosing it; Enter
// chooses the item shown, leaving the combo puts the chosen one back. In the open list an item
// is chosen by a click, Enter, Space, F4 or Tab; Esc or a click elsewhere closes it unchanged.
#include <memory>
#include <string>

#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Layout/UIContainer.h"

namespace DuiLib {

class CComboWnd;

// One item of a combo.
class CListLabelElementUI : public CLabelUI {
public:
    CListLabelElementUI() : CLabelUI(L"ListLabelElement") {}
    void* GetInterface(const std::wstring& name) override;
};

class CComboUI : public CContainerUI {
public:
    CComboUI();
    ~CComboUI() override;
    void* GetInterface(const std::wstring& name) override;

    std::wstring GetText() const override;
    int GetCurSel() const { return m_curSel; }
    // Selects item index (hidden ones too); false when there is no such item. Sends
    // "itemselect" when the selection changes and triggerEvent is true.
    bool SelectItem(int index, bool takeFocus = false, bool triggerEvent = true);
    // The item chosen last (the one "itemselect" told of); GetCurSel is the one shown.
    int GetChosenSel() const { return m_chosenSel; }
    bool IsChoicePending() const { return m_curSel != m_chosenSel; }
    // Chooses the item shown / shows the chosen item again.
    void ConfirmChoice();
    void CancelChoice();
    // Next (or previous) visible item from index, or -1.
    int NextVisibleItem(int index, int step) const;
    bool IsDropped() const { return m_dropWindow != nullptr; }
    void ShowDropDown();
    void CloseDropDown();

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    UINT GetControlFlags() const override;
    void DoEvent(TEventUI& event) override;
    void SetPos(const RECT& rc) override;
    void DoPaint(HDC hdc, const RECT& rcPaint) override;
    void PaintStatusImage(HDC hdc) override;
    void PaintText(HDC hdc) override;
    CControlUI* FindControlAt(POINT pt, UINT flags) override;
    void SetInternVisible(bool visible) override;
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;

    // Appearance of the drop-down list (logical pixels).
    int GetItemHeight() const { return m_itemHeight; }
    int GetItemFont() const { return m_itemFont < 0 ? m_font : m_itemFont; }
    DWORD GetItemTextColor() const { return m_itemTextColor; }
    DWORD GetItemHotBkColor() const { return m_itemHotBkColor; }
    DWORD GetItemSelectedBkColor() const { return m_itemSelectedBkColor; }
    DWORD GetItemSelectedTextColor() const { return m_itemSelectedTextColor; }
    const RECT& GetItemTextPadding() const { return m_itemTextPadding; }
    SIZE GetDropBoxSize() const { return m_dropBoxSize; }
    DWORD GetDropBoxBkColor() const { return m_dropBoxBkColor; }
    DWORD GetDropBoxBorderColor() const { return m_dropBoxBorderColor; }
    CComboWnd* GetDropWindow() const { return m_dropWindow; }

private:
    friend class CComboWnd;
    void OnDropClosed(CComboWnd* window);
    void ShowItem(int index);

    int m_curSel = -1;
    int m_chosenSel = -1;
    int m_font = -1;
    DWORD m_textColor = 0;
    DWORD m_disabledTextColor = 0;
    RECT m_textPadding{0, 0, 0, 0};
    std::wstring m_normalImage, m_hotImage, m_pushedImage, m_focusedImage, m_disabledImage;
    std::wstring m_arrowImage, m_hotArrowImage, m_disabledArrowImage;
    int m_itemHeight = 30;
    int m_itemFont = -1;
    DWORD m_itemTextColor = 0;
    DWORD m_itemHotBkColor = 0xFFF6F5FF;
    DWORD m_itemSelectedBkColor = 0xFFECEAF8;
    DWORD m_itemSelectedTextColor = 0;
    RECT m_itemTextPadding{12, 0, 12, 0};
    SIZE m_dropBoxSize{0, 240};
    DWORD m_dropBoxBkColor = 0xFFFFFFFF;
    DWORD m_dropBoxBorderColor = 0xFFD0D0D8;
    CComboWnd* m_dropWindow = nullptr;
};

}  // namespace DuiLib
