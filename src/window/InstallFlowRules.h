#pragma once
// The arithmetic and decisions of the installer window's install flow, kept free of the window
// so that each rule can be tested on its own: the progress bands, the install-time estimate,
// the crawl timers' next step, the free-space checks before an installation and the place in
// the flow a close happens at.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace InstallFlowRules {

// Progress bands of the bar.
constexpr int kDownloadEnd = 85;      // the download fills 0 to 85
constexpr int kVerifyEnd = 90;        // the verification crawls 85 to 90
constexpr int kInstallLast = 99;      // the install crawl rests here until the installer ends

// Percent of the bar for a download report: downloaded / total of the download band,
// truncated; 0 for a negative result or an unknown total.
int DownloadPercent(int64_t downloaded, int64_t total);
// "%.2fMB" of the package size in MiB (single precision), the label of "PackageSize".
std::string PackageSizeText(int64_t total);

// Estimated installer run in whole seconds for a package size: about one second per 17 MiB.
int64_t EstimateInstallSeconds(int64_t packageSize);
// Timer period of the install crawl: a tenth of (estimate + extra) seconds, in milliseconds.
// Never 0 (a zero period would be the system's minimum anyway) and never beyond what a timer
// takes.
UINT InstallCrawlElapse(int64_t estimateSeconds, int32_t extraSeconds);

// One tick of a crawl timer.
struct CrawlStep {
    bool setProgress = false;  // set the bar to next
    int next = 0;
    bool stopTimer = false;
    bool signalFinish = false;     // signal "ProgressFinish100"
    bool startLastTimer = false;   // start timer 1923
};
// Verification crawl (timer 1920): +1 every tick until the worker says it is done or 90.
CrawlStep VerifyTick(int barValue, bool verificationDone);
// Install crawl (timer 1921).
CrawlStep InstallTick(int barValue, bool installerFinished);
// Last steps after the installer ended (timer 1923).
CrawlStep LastTick(int barValue);

// Free-space check before an installation. freeBytes(drive, out) reads the free bytes for a
// drive given by its first two characters ("C:"); false when it cannot be read (the drive
// then counts as large enough).
using FreeBytesFn = std::function<bool(const std::wstring& drive, uint64_t& free)>;
enum SpaceResult : int32_t { kSpaceEnough = 1, kDownloadDriveShort = -1, kInstallDriveShort = -2 };
struct SpaceCheck {
    int32_t result = kSpaceEnough;
    uint64_t freeFound = 0;  // the free bytes of the drive found short
    uint64_t needed = 0;     // what that drive needed
};
// downloadDrive and installDrive are the first two characters of the download folder and of
// the install path. The install drive needs three times the package when it is also the
// download drive (package, unpacked copy, installed product), else twice.
SpaceCheck CheckFreeSpace(uint64_t packageSize, const std::wstring& downloadDrive, const std::wstring& installDrive,
                          const FreeBytesFn& freeBytes);
// The first SSD letter (in the given order) whose free space is strictly more than the package
// times its factor (3 on the download drive, else 2); 0 when none fits.
wchar_t ChooseSsdLetter(uint64_t packageSize, const std::wstring& ssdLetters, const std::wstring& downloadDrive,
                        const FreeBytesFn& freeBytes);
// The install path on the suggested drive: only its first character changes.
std::wstring OnDrive(wchar_t letter, const std::wstring& path);

// Where in the flow the user closes the window.
struct ClosePosition {
    std::string reason;        // "close01" ... "close07"; empty when nothing matched
    std::string step;          // "BeforeDownload", "Downloading", "Md5Check", "Installing", "Starting"
    std::string durationName;  // empty: no duration event
    std::string durationKey;
    bool running = false;      // a running position (the bar value matters)
    enum Since { kNone, kWindowStart, kInstallClick, kVerifyStart, kInstallStart } since = kNone;
};
// mainPage and pagePage: the selected pages of main_tablayout and page_layout (-1 when missing).
// successOnRunningPage: the installation succeeded while the running page stayed up (the
// product starts itself from there); such a close is a final one.
ClosePosition ClassifyClose(int mainPage, int pagePage, int barValue, bool failureTextShown, bool launchStarted,
                            bool successOnRunningPage);
// Whole seconds from a tick to now, with 32-bit tick arithmetic.
std::string SecondsSince(DWORD startTick, DWORD now);

// The free pending-rename replacement folder: path + " 1", " 2", ... the first one for which
// pending(folder) is false.
std::wstring ReplacementFolder(const std::wstring& path, const std::function<bool(const std::wstring&)>& pending);

// The version shown by the launch hint: cut before the third "." when there is one.
std::wstring ShortVersion(const std::wstring& version);

}  // namespace InstallFlowRules
