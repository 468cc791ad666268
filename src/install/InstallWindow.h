#pragma once
// What the install worker needs of whoever shows the installation: the window state it reads
// and writes, and the few things only the window can do. The installer window implements it;
// tests and the automated mode implement it without a window.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Messages the worker posts to the window (lParam 0).
enum InstallMessage : UINT {
    kMsgDownloadFailed = WM_USER + 1920,        // 2944: wParam = EnumErrorCode, 14 = no usable address,
                                                //       16 = every download had another digest
    kMsgNothingToInstall = WM_USER + 1921,      // 2945: the package is not a program
    kMsgVerifyStarted = WM_USER + 1922,         // 2946
    kMsgInstallerStarted = WM_USER + 1923,      // 2947
    kMsgInstallerTimedOut = WM_USER + 1924,     // 2948: also a failed installer run
    kMsgInstallSucceeded = WM_USER + 1925,      // 2949
    kMsgVerifyFailed = WM_USER + 1926,          // 2950
    kMsgStartProduct = WM_USER + 1929,          // 2953: the start_app click, on the window's thread;
                                                //       wParam 1: then close the window (automated mode)
};
// wParam of 2944 when no usable download address was found.
constexpr WPARAM kNoUsableAddress = 14;
// wParam of 2944 (and the "DownErrorCode" label "error_16") when the last download attempt
// brought a package whose MD5 differs from the one the configuration service gave.
constexpr WPARAM kDigestMismatch = 16;

// The window's values and flags shared with the worker. The values are set before the worker
// starts; each flag has one writer (the worker), the window only reads it.
struct InstallWindowState {
    // Read by the worker.
    bool retry = false;                      // "Retry" rather than "First" in the step events
    int32_t needStartFlag = 0;               // 1: start the product after installing
    bool appendFileName = false;             // the installer line carries the setup's file name
    bool unattended = false;                 // installed from the command line: no product page opens
    int32_t downloaderId = 0;
    std::atomic<int64_t> packageSize{0};     // set by the download progress reporting
    DWORD installClickTick = 0;
    std::wstring installDirectory;           // chosen path with the product folder
    std::wstring workFolder;                 // where the package is downloaded
    std::wstring logFolder;                  // where the installer writes its log
    HANDLE progressFinish100 = nullptr;      // manual-reset event "ProgressFinish100" (unnamed: this process only)

    // Written by the worker.
    std::atomic<int> verificationDone{0};    // 0 while verifying; 1 when it ended usable or with a signature failure
    std::atomic<int> installerFinished{0};   // 0 while the installer runs; 1 when it ended or timed out
    std::atomic<DWORD> verificationStartTick{0};
    std::atomic<DWORD> installStartTick{0};
    // An installer of ours that outlived its time limit and still runs (its process handle), or
    // null. A later run waits for it instead of fetching, checking or starting the package again.
    HANDLE runningInstaller = nullptr;

    // Set by the window when it closes for good: the worker stops where it is, waits for nothing
    // more and starts nothing new (never the installer). A manual-reset event, so every wait of
    // the worker can end on it.
    void RequestStop() { SetEvent(m_stop); }
    bool StopRequested() const { return WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0; }
    HANDLE StopEvent() const { return m_stop; }

    InstallWindowState() : m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~InstallWindowState() {
        if (m_stop) CloseHandle(m_stop);
        if (runningInstaller) CloseHandle(runningInstaller);
    }
    InstallWindowState(const InstallWindowState&) = delete;
    InstallWindowState& operator=(const InstallWindowState&) = delete;

    // The chosen download address; the failure page's advice link opens it.
    void SetAdviceLink(const std::wstring& address) {
        std::lock_guard<std::mutex> lock(m_linkLock);
        m_adviceLink = address;
    }
    std::wstring AdviceLink() const {
        std::lock_guard<std::mutex> lock(m_linkLock);
        return m_adviceLink;
    }

private:
    HANDLE m_stop = nullptr;
    mutable std::mutex m_linkLock;
    std::wstring m_adviceLink;
};

class IInstallWindow {
public:
    virtual ~IInstallWindow() = default;

    virtual InstallWindowState& InstallState() = 0;
    // The UI language (EnumLanguage index).
    virtual int32_t UiLanguage() = 0;
    // Sets the flag the early configuration thread gives up on.
    virtual void SetWorkerStarted() = 0;
    // Makes sure the download configuration is loaded: the service's reply, else the skin's
    // configuration labels.
    virtual void LoadDownloadInfo() = 0;
    // Text of a label of the skin's configuration; false when there is no such label.
    virtual bool SkinLabel(const std::wstring& name, std::wstring& text) = 0;
    // PostMessageW(window, message, wParam, 0). The worker reaches the window's controls only
    // this way: whatever touches them (the product start, message boxes, timers) runs on the
    // window's thread.
    virtual void Post(UINT message, WPARAM wParam) = 0;
    // Running animation (timer 1000) and the process's main-window registration.
    virtual void StartRunningAnimation() = 0;
    virtual void StopRunningAnimation() = 0;
    virtual void RegisterAsMainWindow() = 0;
    // Value of the progress bar (read once after the installer ended).
    virtual int ProgressValue() = 0;
    // Records the chosen UI language for the installed product.
    virtual bool SaveProductLanguage() = 0;
    // Automated mode: the window's copy of the single-instance mutex is released, and the
    // window closes (result 0, posted WM_CLOSE).
    virtual void ReleaseInstanceMutex() = 0;
    virtual void CloseWindow() = 0;
};
