#pragma once
// Free functions for system facts, paths, processes and the local settings file.
#include <cstdint>
#include <string>
#include <vector>

#include "base/LanguageTables.h"

struct _SYSTEMTIME;  // SYSTEMTIME of <windows.h>, kept out of this header

namespace FuntionImpl {

// Local settings file "qv_downloader.cfg" beside the running executable, section "Settings".
// Each switch is read afresh at every call; it is on only when its value is exactly 1. Test
// builds only: a release build reads no switch (base/LocalSwitches.h) and these answer false.
bool IsTestEnv();
bool IsAutoRun();
bool IsCrashTest();
// The switches that the file sets to 1 but this build ignores (always empty in a test build), for
// the log line that says so.
std::vector<std::wstring> IgnoredLocalSwitches();

// Path of the local settings file: drive and directory of the module file name + "qv_downloader.cfg".
std::wstring GetLocalSettingsPath();
// Reads one switch of the "Settings" section of the given INI file (on only for exactly 1).
bool ReadSettingsSwitch(const std::wstring& iniPath, const wchar_t* key);

// Leading decimal digits (after an optional sign) as a number; 0 when the text is not a number.
int32_t ParseLeadingInt(const std::wstring& text);
int64_t ParseLeadingInt64(const std::wstring& text);

// ---- Operating system, locale and screen ---------------------------------------------------

// What the version queries of the machine answered; filled by ReadOsVersionFacts.
struct OsVersionFacts {
    bool isWindows11 = false;            // registry build number 22000 or more
    bool haveNtNumbers = false;          // RtlGetNtVersionNumbers was found and called
    uint32_t ntMajor = 0, ntMinor = 0;
    bool versionExOk = false;            // GetVersionExW with the extended structure succeeded
    uint32_t major = 0, minor = 0, platformId = 0;
    uint8_t productType = 0;             // 1: workstation
    uint16_t processorArchitecture = 0;   // 9: AMD64
    bool serverR2 = false;               // GetSystemMetrics(SM_SERVERR2) != 0 (asked on 5.2 only)
};
OsVersionFacts ReadOsVersionFacts();
// Display name and version number from the facts. The number is written only where the name
// table gives one; an empty name means an unlisted minor version or a failed query.
std::string OsNameFromFacts(const OsVersionFacts& facts, float& versionNumber);
std::string GetOSVersionName(float& versionNumber);

// True when the build text (decimal) is 22000 or more.
bool IsWindows11Build(const std::wstring& buildText);
bool IsWindows11();
// True when this 32-bit process runs under WOW64 (64-bit Windows).
bool Is64BitSystem();

// "Language_Country" in English for a 16-bit language identifier; an identifier outside the
// table gives its "0x%.4x" form twice, joined by "_".
std::string UILanguageNameFor(uint16_t languageId);
std::string GetUILanguageName();
// The UI language for the user's Windows UI language (LanguageFromLangId); logs the id.
EnumLanguage GetLanguageByLocalSystem();
// ISO 3166-1 two-letter code of the user's nation; empty when Windows gives none.
std::wstring GetSystemRegion();

// The given UTC time as time of day in China (UTC+8, no daylight saving),
// "%04d-%02d-%02d %02d:%02d:%02d"; empty when the time cannot be converted.
std::string ChinaTimeTextFromUtc(const _SYSTEMTIME& utc);
std::string GetChinaTimeText();

// Physical width and height of the primary display; the result is physical / logical width
// (1.0 when the logical width cannot be read).
double GetScreenResolution(int& width, int& height);
// GUID (without braces) of the volume that holds the Windows directory; empty on failure.
std::wstring GetSystemVolumeGuid();
// The text between the first "{" and the first "}" after it; empty when either is missing.
std::wstring GuidFromVolumeName(const std::wstring& volumeName);

// ---- Registry, folders and file names ------------------------------------------------------

// String value under HKEY_LOCAL_MACHINE; empty on any failure (missing key or value, no
// access, not a string, longer than 259 characters).
std::wstring ReadMachineRegString(const std::wstring& keyPath, const std::wstring& valueName);
// Creates or opens the key under HKEY_LOCAL_MACHINE and sets the value as REG_SZ.
bool WriteMachineRegString(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text);

// Creates the folder and every missing parent ("/" and "\" both separate). Result: 0 or
// ERROR_ALREADY_EXISTS when the folder exists afterwards, ERROR_DISK_FULL (112) as soon as a
// step runs out of space, otherwise the error of the final step.
unsigned long CreateDirectoryPath(const std::wstring& path);

// True when the text ends in ".exe" (exact case) or is shorter than 4 characters.
bool EndsWithExe(const std::wstring& path);

// ---- Processes -----------------------------------------------------------------------------

// The process that runs the file at fullPath (compared without regard to case); with
// includeSetupLoader also the ".tmp" loader an Inno Setup installer of that name starts (a process
// named like the file with "tmp" for its last three characters whose program lies in a ".tmp"
// folder). kill ends each match (and waits up to 5 s for it to go). The calling process is never
// a match; without includeSetupLoader the search stops at the first one. Result: the id of the
// last match, -1 when none, -2 when the process list cannot be read.
int32_t FindProcessByFullPath(const std::wstring& fullPath, bool kill, bool includeSetupLoader);

// ---- Drives --------------------------------------------------------------------------------

constexpr int kBusTypeUsb = 7;

// One root of GetLogicalDriveStringsW and what is known about it.
struct DriveFacts {
    std::wstring root;            // "C:\"
    unsigned type = 0;             // GetDriveTypeW (DRIVE_FIXED is 3)
    int busType = 0;              // GetDriveBusType (0 when unknown)
    uint64_t freeBytes = 0;       // free bytes available to the caller
    bool noSeekPenalty = false;   // IsSsdDrive
};
// Facts of every logical drive, in drive order. Bus type, free space and seek penalty are
// asked only of fixed drives (and the last two only when wanted), so removable and network
// drives are never opened.
std::vector<DriveFacts> ReadDriveFacts(bool withFreeSpace, bool withSeekPenalty);

// True when the drive reports that it incurs no seek penalty; false when it cannot be asked.
bool IsSsdDrive(wchar_t letter);
// Storage bus type of the drive (7 is USB); 0 for a letter outside A-Z/a-z or when unreadable.
int GetDriveBusType(wchar_t letter);

// A fixed drive that is not on the USB bus: the drives that may hold run folders.
bool IsFixedNonUsb(const DriveFacts& drive);
// Letters of the fixed, non-USB, solid-state drives, in drive order.
std::wstring SsdDriveLettersFrom(const std::vector<DriveFacts>& drives);
std::wstring GetSsdDriveLetters();
// The path with its drive root ("X:\") replaced by the root of the fixed, non-USB drive with
// the most free space (the earlier drive in drive order wins a tie); the path stays as it is
// when no such drive reports free space, and also when it does not start with a drive root.
std::wstring ReplaceDriveWithLargestFixed(const std::wstring& path, const std::vector<DriveFacts>& drives);
std::wstring ReplaceDriveWithLargestFixed(const std::wstring& path);
// True when the text starts with a letter, ":" and a backslash or slash.
bool StartsWithDriveRoot(const std::wstring& path);

// ---- Pending rename operations -------------------------------------------------------------

// Whether a multi-string (texts each ended by a 0, the list ended by an empty text; chars is
// the buffer's length) holds a text containing folder followed by a backslash.
bool PendingRenameNamesFolder(const wchar_t* data, size_t chars, const std::wstring& folder);
// Whether the folder occurs in the system's pending rename operations (the value
// "PendingFileRenameOperations" of the session manager). False when it cannot be read.
bool HasPendingRename(const std::wstring& folder);

// ---- Channel and file-version facts --------------------------------------------------------

// Marketing channel label of a site number for the download address (UTF-8, matched after
// lower-casing); a site number without a row gives its decimal form. The caller passes the site
// number (the analytics object keeps it), so these facts need nothing above this layer.
std::string GetChannelLabel(int siteId, const std::string& sourceText);
// "PPC", "CN" or "SEO".
std::string GetSiteCategory(int siteId);

// File version of the file's version resource as "%d.%d.%d.%d"; empty without one.
std::string GetFileVersionText(const std::wstring& filePath);
std::wstring GetFileVersionTextW(const std::wstring& filePath);

struct FileVersionStrings {
    std::wstring productName;
    std::wstring productVersion;
    std::wstring legalCopyright;
    std::wstring fileDescription;
};
// Strings of the first language and code page of the translation table; a missing string is
// empty, and all four are empty without a version resource or translation table.
FileVersionStrings GetFileVersionStrings(const std::wstring& filePath);

}  // namespace FuntionImpl

namespace FuntionImpl {

// ---- Download addresses --------------------------------------------------------------------

// Host of an address, lower-cased: the text after the last "/" before the first ".", up to the
// first "/" after that "."; empty when the address has no "." or no "/" after its first ".".
std::wstring GetUrlHost(const std::wstring& url);
std::string GetUrlHost(const std::string& url);
// Host class: 10 for a host shorter than 2 characters or beginning with "dl." or "cdn.";
// 12 for one beginning with "alicdn." or containing "ali"; 13 for one beginning with
// "awscdn."; 11 for any other.
int GetUrlHostType(const std::wstring& url);
int GetUrlHostType(const std::string& url);

}  // namespace FuntionImpl

namespace FuntionImpl {

// ---- Data service (banners, privacy and licence links) -------------------------------------

// Lower-case hexadecimal MD5 digest of a text (32 digits); empty when the system cannot hash.
std::string Md5Hex(const std::string& text);

// Signed request URLs of the data service, from their parts: "https://" + host + path + query,
// where the query ends in "&verify=" and the MD5 of the query before it followed by the salt.
std::string BuildBannerPicUrl(const std::string& host, const std::string& langCode, int32_t parentPid,
                              int64_t timestamp, const std::string& salt);
std::string BuildPrivacyUrl(const std::string& host, int32_t parentPid, int64_t timestamp, const std::string& salt);

// The host the data-service requests go to: the one set by SetDataServiceHost when not empty,
// else the deployment's test host when the "TestEnv" switch is on, else its production host.
std::string DataServiceHost();
// Points the data-service requests at another host ("name:port"); empty restores the deployment's.
void SetDataServiceHost(const std::string& host);

// The banner list and the links request for now (seconds since 1970, UTC), the deployment's salt
// and DataServiceHost(); each logs its query.
std::string GetBannerPicUrl(int32_t parentPid, EnumLanguage language);
std::string GetPrivacyUrl(int32_t parentPid);

}  // namespace FuntionImpl
