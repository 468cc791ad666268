#pragma once
// The installer's one message box: a modal skinned dialog whose kind (EnumMsgType) chooses the
// layout, the icon, the texts of the current language and the buttons, and which returns the
// button that closed it (1 the first, 2 the second or the close button).
#include <windows.h>

#include <cstdint>
#include <string>

#include "DuiLib/Core/WindowImplBase.h"
#include "window/MessageBoxKinds.h"

class MessageBoxWnd : public DuiLib::WindowImplBase {
public:
    MessageBoxWnd(int32_t kind, int32_t language, const std::wstring& extraText);

    // Creates the dialog over the parent (none: a top-level dialog), brings a minimised parent
    // back, centres the dialog and runs it modally. Returns 1 or 2.
    int32_t ShowModalOver(HWND parent);

    // Puts the kind's texts, icon and buttons of the language onto a message box layout (also
    // used without a window by the text-fit check). The layout's own texts stay when the
    // language file cannot be loaded; a file without "message_page" empties them.
    static void ApplyKind(DuiLib::CPaintManagerUI& pm, int32_t kind, int32_t language, const std::wstring& extraText);

    int32_t Kind() const { return m_kind; }

protected:
    const wchar_t* GetWindowClassName() const override { return L"MESSAGEBOX_UI_Frame"; }
    std::wstring GetSkinFile() override { return MessageBoxKinds::SkinFileFor(m_kind); }
    void InitWindow() override;
    void OnClick(DuiLib::TNotifyUI& msg) override;
    void OnTimer(UINT_PTR id) override;

private:
    int32_t m_kind;
    int32_t m_language;
    std::wstring m_extraText;
    HWND m_parent = nullptr;
};

// Start-up's notice on a 32-bit system for a product that needs a 64-bit one: the message box
// MsgNotSupportSystem in the system's language, without a parent. Returns when it is closed.
void ShowNotSupportSystemBox();
