#pragma once
// The launch hint: a small transparent window with an animation, the product logo and its name,
// shown while the product starts. It starts the product from a thread of its own and closes
// itself the configured number of seconds later (at once when the start failed).
#include <windows.h>

#include <cstdint>
#include <string>

#include "DuiLib/Core/WindowImplBase.h"

class CAlientWnd : public DuiLib::WindowImplBase {
public:
    // adminFlag: start with the installer's rights; command: the product's program in quotes;
    // version: the product's version (shown as at most three numbers); duration: seconds the
    // hint stays after the product started.
    CAlientWnd(int32_t adminFlag, const std::wstring& command, const std::wstring& version, const std::wstring& productName,
               int32_t duration, int32_t language);

    // Creates the window (title the product name) and runs it modally on the calling thread.
    // The window deletes itself when it is destroyed: create it with new.
    int32_t ShowModalWindow();

    // How the product is started (tests count the starts instead); 0 when started.
    using StartFn = int (*)(const std::wstring& command, int adminFlag);
    static void SetStartHook(StartFn start);

    const std::wstring& VersionText() const { return m_version; }
    const std::wstring& VersionLabelText() const { return m_versionLabelText; }

protected:
    const wchar_t* GetWindowClassName() const override { return L"CALIENTWND_UI_Frame"; }
    UINT GetClassStyle() const override { return CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_SAVEBITS; }
    std::wstring GetSkinFolder() override { return L"skin\\"; }
    std::wstring GetSkinFile() override { return L"transWnd.xml"; }
    void InitWindow() override;
    void OnClick(DuiLib::TNotifyUI& msg) override;
    void OnTimer(UINT_PTR id) override;
    void OnFinalMessage(HWND hwnd) override;

private:
    static unsigned __stdcall StarterThread(void* window);

    int32_t m_adminFlag;
    std::wstring m_command;
    std::wstring m_version;
    std::wstring m_productName;
    int32_t m_duration;
    int32_t m_language;
    std::wstring m_versionLabelText;
    DuiLib::CControlUI* m_closeBtn = nullptr;
    DuiLib::CControlUI* m_minBtn = nullptr;
    DuiLib::CControlUI* m_foreImage = nullptr;
    DuiLib::CControlUI* m_versionLabel = nullptr;
};
