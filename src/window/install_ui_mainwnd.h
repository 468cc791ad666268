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
#include "install/InstallWindow.h"

// Class name of the installer window: "QV_UI_Frame_" + Downloader_id, fixed at start-up.
void SetMainWindowClassName(const std::wstring& name);

class InstallUIMainWnd : public DuiLib::WindowImplBase, public IInstallWindow {
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
    void LoadDownloadInfo() override;

    // The install worker's thread (argument: the window): one installation, InstallWorker.
    static unsigned __stdcall InstallThreadFunc(void* window);
    // Deletes the downloaded package, its task file and its stamp from the work folder.
    void ClearAPPData();
    // The installed product's main program; empty when not found.
    std::wstring GetMainExePath();
    // The copy of the single-instance mutex that the worker releases before an automated restart.
    static void SetInstanceMutexForWorker(HANDLE mutex);

    // What the install worker reads and writes (IInstallWindow).
    InstallWindowState& InstallState() override { return m_install; }
    int32_t UiLanguage() override { return m_uiLanguage.load(); }
    void SetWorkerStarted() override { m_workerStarted = true; }
    bool SkinLabel(const std::wstring& name, std::wstring& text) override;
    void Post(UINT message, WPARAM wParam) override;
    void StartRunningAnimation() override;
    void StopRunningAnimation() override;
    void RegisterAsMainWindow() override;
    int ProgressValue() override { return m_progressValue.load(); }
    void SaveProductLanguage() override;
    void ClickStartApp() override;
    void ReleaseInstanceMutex() override;
    void CloseWindow() override;

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
    // The window state shared with the install worker.
    InstallWindowState m_install;
    // Value of the progress bar, kept by the progress page.
    std::atomic<int> m_progressValue{0};

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
