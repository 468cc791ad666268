#pragma once
// Buttons ("click" when pressed and released over them, or Space/Enter with the focus), options
// (selected state, one selected per group, "selectchanged") and check boxes (options that toggle).
// Each state has its image and text colour: normal, hot (mouse over), pushed, focused (after
// keyboard navigation), disabled; options add the selected ones.
#include <string>

#include "DuiLib/Control/UILabel.h"

namespace DuiLib {

class CButtonUI : public CLabelUI {
public:
    explicit CButtonUI(std::wstring className = L"Button");
    void* GetInterface(const std::wstring& name) override;

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    UINT GetControlFlags() const override;
    void DoEvent(TEventUI& event) override;
    bool Activate() override;
    void SetEnabled(bool enabled) override;
    void PaintBkColor(HDC hdc) override;
    void PaintStatusImage(HDC hdc) override;
    // High contrast: a button with a text is drawn as the system's button (face, border, text);
    // buttons that are a picture only (the title bar's) and options keep their pictures.
    virtual bool SystemFace() const;

    void SetNormalImage(const std::wstring& image) { m_normalImage = image; Invalidate(); }
    void SetHotImage(const std::wstring& image) { m_hotImage = image; Invalidate(); }
    void SetPushedImage(const std::wstring& image) { m_pushedImage = image; Invalidate(); }
    void SetDisabledImage(const std::wstring& image) { m_disabledImage = image; Invalidate(); }
    void SetForeImage(const std::wstring& image) { m_foreImage = image; Invalidate(); }
    bool IsHot() const { return (m_state & UISTATE_HOT) != 0; }
    bool IsPushed() const { return (m_state & UISTATE_PUSHED) != 0; }

    // The image description the current state draws (for tests and the screens tool).
    virtual std::wstring CurrentImage() const;

protected:
    DWORD StateTextColor() const override;
    bool FocusShown() const;
    std::wstring CurrentForeImage() const;

    std::wstring m_normalImage, m_hotImage, m_pushedImage, m_focusedImage, m_disabledImage;
    std::wstring m_foreImage, m_hotForeImage, m_pushedForeImage, m_disabledForeImage;
    DWORD m_hotTextColor = 0, m_pushedTextColor = 0, m_focusedTextColor = 0;
    DWORD m_hotBkColor = 0, m_pushedBkColor = 0, m_disabledBkColor = 0;
    bool m_takesFocus = true;
};

class COptionUI : public CButtonUI {
public:
    explicit COptionUI(std::wstring className = L"Option");
    ~COptionUI() override;
    void* GetInterface(const std::wstring& name) override;

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    bool SystemFace() const override { return false; }  // the box or dot is the state: kept
    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    const std::wstring& GetGroup() const { return m_group; }
    void SetGroup(const std::wstring& group);
    // Selects or clears; in a group selecting one clears the others. Sends "selectchanged"
    // (for a group: only for the option that became selected) when triggerEvent is true.
    void Selected(bool selected, bool triggerEvent = true);
    void SetSelected(bool selected) override { Selected(selected); }
    bool Activate() override;
    std::wstring CurrentImage() const override;

protected:
    DWORD StateTextColor() const override;

    std::wstring m_group;
    std::wstring m_selectedImage, m_selectedHotImage, m_selectedPushedImage, m_selectedDisabledImage, m_selectedForeImage;
    DWORD m_selectedTextColor = 0;
    DWORD m_selectedBkColor = 0;
};

class CCheckBoxUI : public COptionUI {
public:
    CCheckBoxUI();
    void* GetInterface(const std::wstring& name) override;
    bool GetCheck() const { return IsSelected(); }
    void SetCheck(bool check, bool triggerEvent = true) { Selected(check, triggerEvent); }
};

}  // namespace DuiLib
