#pragma once
// The installer window. It draws the layout "InstallMainWnd.xml" of the skin (every
// configuration key is a hidden label found by name), creates the configuration record and
// logs it; the page logic and the install flow are still to come.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/CConfigure.h"
#include "DuiLib/Core/WindowImplBase.h"

// Class name of the installer window: "QV_UI_Frame_" + Downloader_id, fixed at start-up.
void SetMainWindowClassName(const std::wstring& name);

class InstallUIMainWnd : public DuiLib::WindowImplBase {
public:
    InstallUIMainWnd();
    ~InstallUIMainWnd() override;

    // Waits for the threads the window started; their handles outlive the window.
    int WaitForAllThreadExit();

    CConfigure* GetConfigure() const { return m_configure.get(); }

    // Early configuration thread, started when the window initialises (argument: the window).
    static unsigned __stdcall AsyncGetCbsInfoThreadFunc(void* window);
    // The install worker's configuration phase: the install-time order of the query, the parse
    // and the skin fall-back. The worker sets the worker-started flag before calling it.
    void LoadDownloadInfo();

    // Download address choice over the record's remote paths.
    std::wstring checkRemotePath(std::vector<std::wstring> remotePaths);
    // The persistent counter of downloads refused by a content-delivery host.
    bool IsForbidCDN();
    void AddRequestTooMuchTimes();
    // The Windows 7/8 repair of an "_obwin.exe" address that the server no longer has.
    std::wstring CheckWin78Link(const std::wstring& address);

    // Set first thing by the install worker, never cleared; the early configuration thread
    // gives up when it sees it.
    std::atomic<bool> m_workerStarted{false};
    // The UI language (EnumLanguage index); English until the language choice sets it.
    std::atomic<int32_t> m_uiLanguage{0};

protected:
    const wchar_t* GetWindowClassName() const override;
    UINT GetClassStyle() const override { return CS_DBLCLKS | CS_DROPSHADOW; }
    std::wstring GetSkinFile() override { return L"InstallMainWnd.xml"; }
    void InitWindow() override;
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;

private:
    std::unique_ptr<CConfigure> m_configure;
    // Pre-query, privacy links, banners, install worker and two spare slots. The handles are
    // kept (not closed) so that WaitForAllThreadExit can wait for them after the window is gone.
    HANDLE m_threads[6] = {};
};
