#pragma once
// The installer window. For now it builds its control tree from the skin (so every
// configuration key is a hidden label found by name), creates the configuration record and
// logs it; pages, drawing and the install flow come with the window toolkit.
#include <memory>
#include <string>

#include "CConfigure.h"
#include "DuiLib/UIBase.h"
#include "DuiLib/UIManager.h"

// Class name of the installer window: "QV_UI_Frame_" + Downloader_id, fixed at start-up.
void SetMainWindowClassName(const std::wstring& name);

class InstallUIMainWnd : public DuiLib::CWindowWnd {
public:
    InstallUIMainWnd();
    ~InstallUIMainWnd() override;

    // Waits for the threads the window started; their handles outlive the window.
    void WaitForAllThreadExit();

    CConfigure* GetConfigure() const { return m_configure.get(); }
    DuiLib::CPaintManagerUI& GetPaintManager() { return m_pm; }

protected:
    const wchar_t* GetWindowClassName() const override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void OnWindowInit();

    DuiLib::CPaintManagerUI m_pm;
    std::unique_ptr<CConfigure> m_configure;
};
