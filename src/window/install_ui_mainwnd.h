#pragma once
// The installer window: the layout "InstallMainWnd.xml" of the skin with its pages (setting,
// running, finish and failure), the settings panel, the language, the licence row, every click
// and link, and the message boxes it asks with. Its methods are spread over one source unit per
// concern: install_ui_mainwnd.cpp (threads, configuration, shared helpers), install_ui_init.cpp
// (InitWindow), install_ui_clicks.cpp (clicks, links, the install click, the product start),
// install_ui_language.cpp (the language choice and its texts), install_ui_msgbox.cpp (message
// boxes), install_ui_flow.cpp (the checks before an installation, progress, timers and the
// worker's messages), install_ui_close.cpp (closing, background mode, the threads at exit),
// install_ui_launch.cpp (the product start) and install_ui_banner.cpp (carousel and banners).
#include <windows.h>

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/CSingleUserLog.h"
#include "base/Unattended.h"
#include "config/CConfigure.h"
#include "config/DataService.h"
#include "DuiLib/Core/WindowImplBase.h"
#include "install/InstallWindow.h"
#include "window/CAnima.h"

struct ITaskbarList3;
namespace DuiLib {
class CButtonUI;
class CCheckBoxUI;
class CComboUI;
class CContainerUI;
class CEditUI;
class CLabelUI;
class COptionUI;
class CProgressUI;
class CTabLayoutUI;
}

// Class name of the installer window: "QV_UI_Frame_" + Downloader_id, fixed at start-up.
void SetMainWindowClassName(const std::wstring& name);

class InstallUIMainWnd : public DuiLib::WindowImplBase, public IAnalyticsWindow, public IInstallWindow {
public:
    InstallUIMainWnd();
    ~InstallUIMainWnd() override;

    // The analytics object the window reports to; the process's own unless set before Create.
    void SetAnalytics(CSingleUserLog* log) { m_log = log; }

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
    bool SaveProductLanguage() override;
    void ReleaseInstanceMutex() override;
    void CloseWindow() override;

    // Download address choice over the record's remote paths.
    std::wstring checkRemotePath(std::vector<std::wstring> remotePaths);
    // The persistent counter of downloads refused by a content-delivery host.
    bool IsForbidCDN();
    void AddRequestTooMuchTimes();
    // The Windows 7/8 repair of an "_obwin.exe" address that the server no longer has.
    std::wstring CheckWin78Link(const std::wstring& address);

    // ---- Messages boxes (install_ui_msgbox.cpp) ----
    // Shows the message box of a kind over the window and returns its answer (1 first button,
    // 2 second or close). In background mode nothing shows: the kind is kept as the last
    // suppressed one and the answer is 1.
    int32_t ShowMessageBox(int32_t kind, const std::wstring& extraText);
    int32_t LastSuppressedMessage() const { return m_lastSuppressedMessage; }

    // ---- Install folder and the product (install_ui_clicks.cpp) ----
    // The install folder: fixed by the first call (the edit box's folder, with the product name
    // appended unless it is in it), the same for the rest of the run.
    std::wstring GetInstallPath();
    // The folder picker; 0 when a folder was chosen (the edit box then holds it), -1 cancelled.
    int BrowseInstallFolder();
    // A folder the picker returned into the box: 0 taken, -1 refused (too long for the installer:
    // the path message shows and the box keeps its text).
    int TakePickedFolder(const std::wstring& folder);
    // Free space of the folder's drive and the needed space into their labels; false when the
    // free space cannot be read.
    bool UpdateSpaceLabels(const std::wstring& folder);
    // Starts the product (the window closes).
    void LaunchProduct();
    // The settings panel: 360 high collapsed, 560 open, keeping the left, top and width.
    void ResizeForSettings(bool collapsed);
    // The checks before the installation and the start of the install worker. 0 started, -1 not.
    int BeginInstallTask();

    // ---- Languages (install_ui_language.cpp) ----
    void InitLanguage();
    // Chooses the language the combo can show for the wanted one and selects it.
    void SelectLanguageItem(int32_t wanted);
    // Puts the current language's texts on the window.
    void ApplyLanguage();
    std::wstring GetLanguageFontName();
    int32_t GetLanguage() const { return m_uiLanguage.load(); }

    // IAnalyticsWindow
    std::wstring AnalyticsProductVersion() override;
    std::string AnalyticsLanguageCode() override;

    // Set first thing by the install worker, never cleared; the early configuration thread
    // gives up when it sees it.
    std::atomic<bool> m_workerStarted{false};
    // The UI language (EnumLanguage index); English until the language choice sets it.
    std::atomic<int32_t> m_uiLanguage{0};
    // The window state shared with the install worker.
    InstallWindowState m_install;
    // Value of the progress bar, kept by the progress page.
    std::atomic<int> m_progressValue{0};

    // ---- Unattended run (install_ui_unattended.cpp) ----
    // setup.exe /quiet or /passive: set before Create. The window then presses "install" itself
    // as soon as it is created (the licence ticked, the folder and language of the switches),
    // shows no message box (each one's cause becomes the exit code) and closes itself at the
    // end. /quiet never shows the window; /passive shows it once the running page is up.
    void SetUnattended(const Unattended::Options& options) { m_unattended = options; }
    bool IsUnattended() const { return m_unattended.Unattended(); }
    // The exit code of the unattended run: its first failure, or installed; kFailed when it
    // ended without either (closed, or stopped before the end).
    int UnattendedExitCode() const { return m_unattendedExit < 0 ? Unattended::kFailed : m_unattendedExit; }
    static constexpr UINT kMsgUnattendedStart = WM_USER + 1942;

    // Timer of the automated mode: presses "install" two seconds after the start.
    static constexpr UINT_PTR kAutoInstallTimer = 666;

    // ---- Install flow ----
    // (install_ui_flow.cpp: progress, timers, worker messages, the checks before an
    // installation; install_ui_close.cpp: closing and background mode; install_ui_launch.cpp:
    // the product start.)
    // The bar only grows; the label, the bar and the taskbar button follow it. Window thread.
    int SetInstallProgress(int percent);
    // The download engine's progress report, on a download thread: carried to the window thread.
    int OnDownloadProgress(int64_t downloaded, int64_t total, int32_t unused);
    // The failure page.
    void DownLoadFail();
    // True when the product is not running.
    bool AppIsRunning();
    bool IsCorrectInstallPath();
    // 1 enough, -1 the download drive is too small, -2 the install drive; shortFree gets the
    // free bytes of the drive found short.
    int32_t EnoughFreeSpace(int64_t packageSize, uint64_t& shortFree);
    bool NeedSuggestSSD(int64_t packageSize);
    void SwitchToSuggestedDrive();
    void SwitchToLargestFixedDrive();
    // Where free space is read from (tests give drives of their own size).
    void SetFreeSpaceReader(std::function<bool(const std::wstring& drive, uint64_t& free)> reader) {
        m_freeSpaceReader = std::move(reader);
    }
    // The window's threads: slots of the thread handles.
    enum ThreadSlot { kThreadPreQuery = 0, kThreadPrivacy = 1, kThreadBanner = 2, kThreadInstall = 3 };
    // Whether every thread the window started has ended (the window may then be deleted).
    bool AllThreadsEnded() const;
    // Private message that carries a download percentage to the window thread.
    static constexpr UINT kMsgDownloadPercent = WM_USER + 1940;
    // Private message that starts (wParam 1) or stops (0) the running animation's timer.
    static constexpr UINT kMsgRunningAnimation = WM_USER + 1941;
    static constexpr UINT_PTR kRunningAnimationTimer = 1000;
    // The longest the process waits at its end for the install worker once it was told to stop
    // (its download attempt ends its transfers at once and saves the task file).
    static constexpr DWORD kStoppedWorkerWaitMs = 60000;
    // At the end of the session the system ends the process soon: the worker gets this long.
    static constexpr DWORD kSessionEndWaitMs = 4000;

protected:
    LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;
    LRESULT AnswerControlTextQuery(WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;
    // Alt+F4 on any page is the close request of the close button (the running page shows none).
    bool OnCloseCommand() override {
        OnCancelRequest();
        return true;
    }
    // Starts the install worker's thread (tests replace it to keep the installation out).
    virtual void StartInstallWorker();

private:
    void FinalPageSteps();
    void SetTaskbarState(int state);
    void HandleWorkerMessage(UINT msg, WPARAM wParam);
    void OnInstallCrawlStart();

    std::function<bool(const std::wstring& drive, uint64_t& free)> m_freeSpaceReader;
    std::wstring m_suggestedSsd;          // one letter, empty when none
    bool m_successOnRunningPage = false;  // installed while the running page stayed up
    // The window closed for good: the worker was told to stop (its wait at exit is shorter).
    bool m_workStopped = false;
    // Tells the worker to stop and saves what the download fetched (every close for good).
    void StopWork(const char* reason);
    // WM_ENDSESSION: the session ends with the process in it.
    void OnSessionEnd();
    // ---- end of install flow ----

    // Unattended run.
    Unattended::Options m_unattended;
    int m_unattendedExit = -1;
    void StartUnattended();
    // Keeps the first code that ends the run (a later box of the same failure does not replace it).
    void NoteUnattendedEnd(int exitCode);

public:

protected:
    const wchar_t* GetWindowClassName() const override;
    UINT GetClassStyle() const override { return CS_DBLCLKS | CS_DROPSHADOW; }
    std::wstring GetSkinFile() override { return L"InstallMainWnd.xml"; }
    void InitWindow() override;
    void Notify(DuiLib::TNotifyUI& msg) override;
    void OnClick(DuiLib::TNotifyUI& msg) override;
    void OnItemSelect(DuiLib::TNotifyUI& msg) override;
    void OnTimer(UINT_PTR id) override;
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;
    void OnScaleChanged(int oldScale, int newScale) override;

private:
    // install_ui_init.cpp
    void BindControls();
    int CountCarouselFrames();
    void ReadSkinValues();
    void LogStartFacts();
    void SendPcFactsOnce();

    // install_ui_clicks.cpp
    void OnLink(DuiLib::TNotifyUI& msg);
    void PerformClick(DuiLib::CControlUI* control);
    void OnInstallClick();
    void OnStartAppClick();
    void OnFinishStartClick();
    void OnCancelRequest();
    void ToggleSettings(bool& openFlag, int wantedPage);
    void OpenAdviceLink();
    bool IsFailurePageShown() const;
    std::string RetryLabel() const { return m_install.retry ? "Retry" : "First"; }

    // install_ui_language.cpp
    void ApplyLicenceText();
    void ApplyInstallPageTexts();
    // Names of the buttons that show a picture only (close, minimise, carousel dots), in the
    // language: their tooltips, which screen readers read as their names.
    void ApplyPictureButtonNames();

public:
    // The page's default button (Install; Start or Try again; Hide on the running page) takes
    // the focus as its page appears, so Enter presses it.
    void FocusPageDefault();

private:

    CSingleUserLog* m_log;
    std::unique_ptr<CConfigure> m_configure;
    // Pre-query, privacy links, banners, install worker and two spare slots. The handles are
    // kept (not closed) so that WaitForAllThreadExit can wait for them after the window is gone.
    HANDLE m_threads[6] = {};
    HANDLE m_progressFinished = nullptr;  // "ProgressFinish100"
    ITaskbarList3* m_taskbar = nullptr;

    // Controls bound by name in InitWindow (null when the layout has none).
    DuiLib::CButtonUI* m_closeBtn = nullptr;
    DuiLib::CButtonUI* m_minBtn = nullptr;
    DuiLib::CTabLayoutUI* m_mainTab = nullptr;
    DuiLib::CEditUI* m_pathEdit = nullptr;
    DuiLib::CProgressUI* m_progress = nullptr;
    DuiLib::CLabelUI* m_progressLabel = nullptr;
    DuiLib::CLabelUI* m_spaceFree = nullptr;
    DuiLib::CLabelUI* m_spaceNeed = nullptr;
    DuiLib::CButtonUI* m_installSetting = nullptr;
    DuiLib::CLabelUI* m_licenseLink = nullptr;
    DuiLib::CLabelUI* m_licenseLinkNew = nullptr;
    DuiLib::CCheckBoxUI* m_licenseCheck = nullptr;
    DuiLib::CCheckBoxUI* m_improvementCheck = nullptr;
    DuiLib::CTabLayoutUI* m_setTab = nullptr;
    DuiLib::CTabLayoutUI* m_pageTab = nullptr;
    DuiLib::CButtonUI* m_installBtn = nullptr;
    DuiLib::CControlUI* m_licenseEnglish = nullptr;
    DuiLib::CControlUI* m_licenseJapanese = nullptr;
    DuiLib::CLabelUI* m_licenseText = nullptr;
    DuiLib::CControlUI* m_licenseTextLayout = nullptr;
    DuiLib::CContainerUI* m_licenseArea = nullptr;
    DuiLib::CComboUI* m_languageCombo = nullptr;
    DuiLib::CControlUI* m_failRetry = nullptr;
    DuiLib::CControlUI* m_failAdvice = nullptr;
    DuiLib::CControlUI* m_imgWarning = nullptr;
    DuiLib::CButtonUI* m_startApp = nullptr;
    DuiLib::CControlUI* m_startShortcut = nullptr;
    DuiLib::CControlUI* m_selectLanguageText = nullptr;
    DuiLib::CControlUI* m_installPathText = nullptr;
    DuiLib::CButtonUI* m_browseBtn = nullptr;
    DuiLib::CControlUI* m_imagePlay = nullptr;
    DuiLib::CControlUI* m_background = nullptr;
    std::vector<DuiLib::COptionUI*> m_dots;

    // Values of the skin's configuration labels.
    int32_t m_downloaderId = 0;
    int32_t m_siteId = 0;
    int32_t m_languageId = 0;
    int32_t m_gifDuration = 0;
    int32_t m_needStartFlag = 0;
    int32_t m_chooseLicense = 0;
    int32_t m_suggestSsd = 0;
    int32_t m_adminFlag = 0;
    int32_t m_mainPid = 0;
    std::wstring m_softwareName;
    std::wstring m_extraDownloadUrl;
    std::wstring m_newLicenseFlag;
    bool m_useNewLicense = false;

    // Window state.
    int32_t m_closeMode = 2;  // 2: closing asks (MsgCancel); 1: closes at once
    bool m_launchStarted = false;
    // The settings panel's "open" flags: one for the install_setting click, one for the links.
    // (One window per process: these are the process's flags.)
    bool m_settingsOpenByClick = false;
    bool m_settingsOpenByLink = false;
    // The start date and hour are sent at the first install click only.
    bool m_startTimeSent = false;
    int32_t m_lastSuppressedMessage = -1;
    DWORD m_windowStartTick = 0;
    DWORD m_installClickTick = 0;
    std::wstring m_startStamp;
    std::wstring m_defaultFolder;
    std::wstring m_installPath;  // fixed by the first GetInstallPath
    std::wstring m_progressFormat;
    std::wstring m_needSpaceFormat;
    std::wstring m_freeSpaceFormat;
    float m_freeSpaceGb = 0;
    int m_frameCount = 0;
    int m_carouselInterval = 7000;
    int m_screenWidth = 0;
    int m_screenHeight = 0;

    // ---- Carousel and data service ----
    // (install_ui_banner.cpp) The banner and links threads of the data service and the picture
    // carousel of the running page.
public:
    // Message posted by the banner thread when every banner picture was stored.
    static constexpr UINT kMsgBannersReady = WM_USER + 1928;
    static constexpr UINT_PTR kCarouselTimer = 2000;
    // Thread functions (argument: the window); both return 0.
    static unsigned __stdcall GetCbsBanner(void* window);
    static unsigned __stdcall GetCbsPrivacy(void* window);
    // Starts the banner thread unless the banners are ready or a banner thread still runs.
    void StartBannerThread();
    // Starts the links thread (the new licence row).
    void StartPrivacyThread();
    // Creates the carousel when needed, shows frame 1 and starts the timer when there are frames
    // to move to.
    void StartCarousel();
    void StopCarousel();
    // Makes the carousel's pictures again for the carousel area as it is now (a new scale) and
    // shows the current frame.
    void RebuildCarousel();
    // Timer 2000: selects the next dot (which slides to its frame).
    void OnCarouselTimer();
    // Message 2952: the carousel shows the downloaded banners from now on.
    void OnBannersReady();
    void OnSelectChanged(DuiLib::TNotifyUI& msg) override;
    CAnima* Carousel() const { return m_anima.get(); }
    int CurrentFrame() const { return m_currentFrame; }
    int FrameCountForCarousel() const { return m_frameCount; }
    bool BannersReady() const { return m_bannersReady.load(); }
    DataService::BannerMap Banners();

private:
    // The carousel for the carousel area as it is now, and its pictures (banners when they are in).
    void MakeCarousel();
    void MakeCarouselPictures();
    std::unique_ptr<CAnima> m_anima;
    int m_currentFrame = 1;
    std::atomic<bool> m_bannersReady{false};
    std::mutex m_bannersLock;  // the banner thread hands its records over under it
    DataService::BannerMap m_banners;
    // ---- end of carousel and data service ----
};
