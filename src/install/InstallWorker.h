#pragma once
// The install worker: one installation from the install click to the product start, as a
// column of phases (configuration, address, resume decision, download, verification,
// installation, finish). It talks to whoever shows it through IInstallWindow only, reports
// every phase as analytics events and every failure as a flow error, and posts exactly one
// failure message (2944, 2948 or 2950) when it stops early.
#include <windows.h>

#include <cstdint>
#include <string>

#include "install/InstallWindow.h"
#include "install/PackageCheck.h"
#include "platform/ProtectedSelfCopy.h"

class CConfigure;
class CSingleUserLog;

class InstallWorker {
public:
    // Opens a document or starts a program through the shell ("open"); the shell's result.
    using ShellOpenFn = INT_PTR (*)(const std::wstring& file, const std::wstring& parameters, int show);
    using StartSelfFn = ProtectedSelfCopy::StartResult (*)(const std::wstring& parameters, int show, DWORD* error);

    struct Options {
        CSingleUserLog* analytics = nullptr;  // null: the process's analytics object
        std::string exceptionEndpoint;        // empty: the exception-report service of the deployment
        ShellOpenFn shellOpen = nullptr;      // null: ShellExecuteW
        std::wstring setupPath;               // empty: the running executable (its name is in the installer's command line)
        StartSelfFn startSelf = nullptr;      // null: the process's protected copy (automated restart)
        DWORD autoRunPauseMs = 2000;          // automated mode: pause before the restart
        DWORD lockPatienceMs = 30000;         // how long a busy package is asked for again
    };

    InstallWorker(IInstallWindow& window, CConfigure& config, const Options& options);
    InstallWorker(const InstallWorker&) = delete;
    InstallWorker& operator=(const InstallWorker&) = delete;

    // The whole installation on the calling thread: 0 when the product is installed, 1 when
    // the package is not a program (nothing to install), -1 after a failure the window was told about.
    int Run();

    // The window closed for good: the worker stops where it is (a download attempt ends through
    // the engine's stop and saves its task file) and starts nothing more, never the installer.
    // Any thread.
    static void RequestStop(InstallWindowState& state);

    // The package's local files in the work folder: "<base>_<version>.exe" (".apk" when the
    // skin's Extra_download_url does not end in ".exe"), its task file (+ ".xml") and its
    // digest stamp (+ ".db"). base: that label's text after its last "/" up to its last ".".
    // All three empty when base or version is no plain name (base/PlainName) or the package would
    // not lie in the work folder.
    struct PackagePaths {
        std::wstring installer;
        std::wstring taskFile;
        std::wstring stamp;
        bool isProgram = true;
    };
    static PackagePaths PathsFor(const std::wstring& workFolder, const std::wstring& extraDownloadLabel,
                                 const std::wstring& version);
    // Whether an earlier download may be kept: the stamp's first line is "<version>###<digest>"
    // with the record's version and a digest that, in lower case, equals Md5 or Md5_extra.
    static bool KeepsEarlierDownload(const std::string& stampLine, const std::wstring& version, const std::wstring& md5,
                                     const std::wstring& md5Extra);
    // Deletes the package, its task file and its stamp; logs " Clear cache: <result>, <error>".
    static void ClearAppData(const PackagePaths& paths);
    // "%.2fMB/s" of size over the download time. The time counts in whole seconds; a download
    // of less than one second is measured in milliseconds instead of dividing by zero.
    static std::string SpeedText(int64_t packageSize, DWORD elapsedMs);

private:
    enum class Step { Continue, Stop, DownloadAgain };
    void LoadConfiguration();
    Step ChooseAddress();
    Step DecideResume();
    int FetchVerifiedPackage();
    int Download();
    Step Verify();
    int Install();
    int AwaitInstaller(HANDLE process);
    bool HasRunningInstaller();
    int WaitForEarlierInstaller();
    bool LockPackage();
    bool Stopped(const char* where);
    void Finish();

    void Event(const std::string& category, const std::string& action, const std::string& label, bool wait = false);
    void StepEvent(int step, const std::string& core, const std::string& action);
    void FunnelPair(const std::string& category, const std::string& action, const std::string& key, const std::string& value);
    void RaiseFlowError(const std::string& code);
    void SendExceptionReport(const std::string& code, int kind);
    std::string FirstOrRetry() const;
    INT_PTR ShellOpen(const std::wstring& file, const std::wstring& parameters, int show);

    IInstallWindow& m_window;
    InstallWindowState& m_state;
    CConfigure& m_config;
    Options m_options;
    CSingleUserLog* m_log;

    DWORD m_start = 0;           // start of the thread
    DWORD m_addressChosen = 0;   // end of the address phase: the download time counts from here
    DWORD m_downloadEnded = 0;
    std::wstring m_address;
    std::string m_addressLabel;
    PackagePaths m_paths;
    int m_attemptsUsed = 0;      // download attempts so far, of the 12 (a refused package used one)
    // Held from before the digest until the installer has started.
    PackageLock m_lock;
};
