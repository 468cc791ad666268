#pragma once
// The edit box. While it has the focus a native EDIT child window sits over its text area, so
// typing, selection, the clipboard and input methods behave exactly as in any Windows edit box;
// without the focus the toolkit draws the text itself. "textchanged" is sent on every change.
#include <string>

#include "DuiLib/Control/UILabel.h"

namespace DuiLib {

class CEditUI : public CLabelUI {
public:
    CEditUI();
    ~CEditUI() override;
    void* GetInterface(const std::wstring& name) override;

    std::wstring GetText() const override;
    void SetText(const std::wstring& text) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    UINT GetControlFlags() const override;
    void DoEvent(TEventUI& event) override;
    void SetPos(const RECT& rc) override;
    void SetVisible(bool visible) override;
    void SetInternVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    void PaintStatusImage(HDC hdc) override;
    void PaintText(HDC hdc) override;
    DWORD GetNativeBkColor() const override { return m_nativeBkColor; }
    DWORD GetNativeTextColor() const override;

    bool IsReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly);
    int GetMaxChar() const { return m_maxChar; }
    void SetMaxChar(int maxChar);
    // The native window while editing, else null.
    HWND GetNativeWindow() const { return m_native; }

private:
    void BeginEdit();
    void EndEdit();
    void PlaceCaret(POINT pt);

    friend class CPaintManagerUI;
    RECT NativeRect() const;
    static LRESULT CALLBACK NativeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_native = nullptr;
    WNDPROC m_nativeOldProc = nullptr;
    bool m_readOnly = false;
    bool m_password = false;
    int m_maxChar = 255;
    DWORD m_nativeBkColor = 0xFFFFFFFF;
    std::wstring m_normalImage, m_hotImage, m_focusedImage, m_disabledImage;
    POINT m_clickPoint{-1, -1};
    bool m_ending = false;
};

}  // namespace DuiLib
