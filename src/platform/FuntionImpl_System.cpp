// Operating system, locale, region, time and screen facts. Each call asks Windows again.
#include "platform/FuntionImpl.h"

#include <easylogging++.h>

#include <cstdio>
#include <cwchar>

#include <windows.h>

#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "base/ProcessEnvironment.h"

namespace FuntionImpl {
namespace {

constexpr uint8_t kWorkstation = 1;           // VER_NT_WORKSTATION
constexpr uint16_t kArchitectureAmd64 = 9;    // PROCESSOR_ARCHITECTURE_AMD64

struct LanguageRow {
    uint16_t id;
    const char* name;
};

// English "Language_Country" names of the UI language identifiers we report.
const LanguageRow kLanguages[] = {
    {0x0000, "Neutral_Neutral"}, {0x0400, "Default_Default"}, {0x0401, "Arabic_Saudi Arabia"},
    {0x0402, "Bulgarian_Bulgaria"}, {0x0403, "Catalan_Spain"}, {0x0404, "Chinese_Taiwan"},
    {0x0405, "Czech_Czech Republic"}, {0x0406, "Danish_Denmark"}, {0x0407, "German_Germany"},
    {0x0408, "Greek_Greece"}, {0x0409, "English_United States"}, {0x040a, "Spanish_Spain (Traditional sort)"},
    {0x040b, "Finnish_Finland"}, {0x040c, "French_France"}, {0x040d, "Hebrew_Israel"},
    {0x040e, "Hungarian_Hungary"}, {0x040f, "Icelandic_Iceland"}, {0x0410, "Italian_Italy"},
    {0x0411, "Japanese_Japan"}, {0x0412, "Korean_Korea"}, {0x0413, "Dutch_Netherlands"},
    {0x0414, "Norwegian_Norway (Bokm?l)"}, {0x0415, "Polish_Poland"}, {0x0416, "Portuguese_Brazil"},
    {0x0418, "Romanian_Romania"}, {0x0419, "Russian_Russia"}, {0x041a, "Croatian_Croatia"},
    {0x041b, "Slovak_Slovakia"}, {0x041c, "Albanian_Albania"}, {0x041d, "Swedish_Sweden"},
    {0x041e, "Thai_Thailand"}, {0x041f, "Turkish_Turkey"}, {0x0420, "Urdu_Pakistan"},
    {0x0421, "Indonesian_Indonesia (Bahasa)"}, {0x0422, "Ukrainian_Ukraine"}, {0x0423, "Belarusian_Belarus"},
    {0x0424, "Slovenian_Slovenia"}, {0x0425, "Estonian_Estonia"}, {0x0426, "Latvian_Latvia"},
    {0x0427, "Lithuanian_Lithuania"}, {0x0429, "Farsi_Iran"}, {0x042a, "Vietnamese_Viet Nam"},
    {0x042b, "Armenian_Armenia"}, {0x042c, "Azeri_Azerbaijan (Latin)"}, {0x042d, "Basque_Spain"},
    {0x042f, "Macedonian (FYROM)_Macedonian (FYROM)"}, {0x0436, "Afrikaans_South Africa"}, {0x0437, "Georgian_Georgia"},
    {0x0438, "Faeroese_Faeroe Islands"}, {0x0439, "Hindi_India"}, {0x043e, "Malay_Malaysia"},
    {0x043f, "Kazakh_Kazakstan"}, {0x0440, "Kyrgyz_Kyrgyzstan"}, {0x0441, "Swahili_Kenya"},
    {0x0443, "Uzbek_Uzbekistan (Latin)"}, {0x0444, "Tatar_Tatarstan"}, {0x0445, "Bengali_India"},
    {0x0446, "Punjabi_India (Gurmukhi script)"}, {0x0447, "Gujarati_India"}, {0x0448, "Oriya_India"},
    {0x0449, "Tamil_India"}, {0x044a, "Telugu_India (Telugu script)"}, {0x044b, "Kannada_India (Kannada script)"},
    {0x044c, "Malayalam_India"}, {0x044d, "Assamese_India"}, {0x044e, "Marathi_India"},
    {0x044f, "Sanskrit_India"}, {0x0450, "Mongolian (Cyrillic)_Mongolia"}, {0x0456, "Galician_Spain"},
    {0x0457, "Konkani_India"}, {0x045a, "Syriac_Syria"}, {0x0465, "Divehi_Maldives"},
    {0x0801, "Arabic_Iraq"}, {0x0804, "Chinese_PRC"}, {0x0807, "German_Switzerland"},
    {0x0809, "English_United Kingdom"}, {0x080a, "Spanish_Mexico"}, {0x080c, "French_Belgium"},
    {0x0810, "Italian_Switzerland"}, {0x0813, "Dutch_Belgium"}, {0x0814, "Norwegian_Norway (Nynorsk)"},
    {0x0816, "Portuguese_Portugal"}, {0x081a, "Serbian_Serbia (Latin)"}, {0x081d, "Swedish_Finland"},
    {0x0820, "Urdu_India"}, {0x0827, "Classic Lithuanian_Lithuania"}, {0x082c, "Azeri_Azerbaijan (Cyrillic)"},
    {0x083e, "Malay_Brunei Darussalam"}, {0x0843, "Uzbek_Uzbekistan (Cyrillic)"}, {0x0c01, "Arabic_Egypt"},
    {0x0c04, "Chinese_Hong Kong SAR"}, {0x0c07, "German_Austria"}, {0x0c09, "English_Australia"},
    {0x0c0a, "Spanish_Spain (International sort)"}, {0x0c0c, "French_Canada"}, {0x0c1a, "Serbian_Serbia (Cyrillic)"},
    {0x1001, "Arabic_Libya"}, {0x1004, "Chinese_Singapore"}, {0x1007, "German_Luxembourg"},
    {0x1009, "English_Canada"}, {0x100a, "Spanish_Guatemala"}, {0x100c, "French_Switzerland"},
    {0x1401, "Arabic_Algeria"}, {0x1404, "Chinese_Macao SAR"}, {0x1407, "German_Liechtenstein"},
    {0x1409, "English_New Zealand"}, {0x140a, "Spanish_Costa Rica"}, {0x140c, "French_Luxembourg"},
    {0x1801, "Arabic_Morocco"}, {0x1809, "English_Ireland"}, {0x180a, "Spanish_Panama"},
    {0x180c, "French_Monaco"}, {0x1c01, "Arabic_Tunisia"}, {0x1c09, "English_South Africa"},
    {0x1c0a, "Spanish_Dominican Republic"}, {0x2001, "Arabic_Oman"}, {0x2009, "English_Jamaica"},
    {0x200a, "Spanish_Venezuela"}, {0x2401, "Arabic_Yemen"}, {0x2409, "English_Caribbean"},
    {0x240a, "Spanish_Colombia"}, {0x2801, "Arabic_Syria"}, {0x2809, "English_Belize"},
    {0x280a, "Spanish_Peru"}, {0x2c01, "Arabic_Jordan"}, {0x2c09, "English_Trinidad"},
    {0x2c0a, "Spanish_Argentina"}, {0x3001, "Arabic_Lebanon"}, {0x3009, "English_Zimbabwe"},
    {0x300a, "Spanish_Ecuador"}, {0x3401, "Arabic_Kuwait"}, {0x3409, "English_Philippines"},
    {0x340a, "Spanish_Chile"}, {0x3801, "Arabic_U.A.E."}, {0x380a, "Spanish_Uruguay"},
    {0x3c01, "Arabic_Bahrain"}, {0x3c0a, "Spanish_Paraguay"}, {0x4001, "Arabic_Qatar"},
    {0x400a, "Spanish_Bolivia"}, {0x440a, "Spanish_El Salvador"}, {0x480a, "Spanish_Honduras"},
    {0x4c0a, "Spanish_Nicaragua"}, {0x500a, "Spanish_Puerto Rico"},
};
static_assert(sizeof(kLanguages) / sizeof(kLanguages[0]) == 143, "one row per reported UI language");

template <typename Fn>
Fn LookUp(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

// Name and number from the classic version structure (systems before Windows 8.1).
std::string NameFromVersionEx(const OsVersionFacts& f, float& number) {
    const bool workstation = f.productType == kWorkstation;
    switch (f.major) {
        case 4:
            if (f.minor == 0) {
                number = 0.0f;
                if (f.platformId == VER_PLATFORM_WIN32_NT) return "Windows NT 4.0";
                if (f.platformId == VER_PLATFORM_WIN32_WINDOWS) return "Windows 95";
                return std::string();
            }
            if (f.minor == 10) { number = 1.0f; return "Windows 98"; }
            if (f.minor == 90) { number = 2.0f; return "Microsoft Windows Me"; }
            return std::string();
        case 5:
            if (f.minor == 0) { number = 3.0f; return "Windows 2000"; }
            if (f.minor == 1) { number = 4.0f; return "Windows XP"; }
            if (f.minor == 2) {
                number = 5.0f;
                if (workstation && f.processorArchitecture == kArchitectureAmd64)
                    return "Windows XP Professional x64 Edition";
                return f.serverR2 ? "Windows Server 2003 R2" : "Windows Server 2003";
            }
            return std::string();
        case 6:
            if (f.minor == 0) { number = 6.0f; return workstation ? "Windows Vista" : "Windows Server 2008"; }
            if (f.minor == 1) { number = 7.0f; return workstation ? "Windows 7" : "Windows Server 2008 R2"; }
            if (f.minor == 2) { number = 8.0f; return workstation ? "Windows 8" : "Windows Server 2012"; }
            return std::string();
        default:
            return "Error";
    }
}

}  // namespace

// ---- Windows version -----------------------------------------------------------------------

std::string OsNameFromFacts(const OsVersionFacts& f, float& versionNumber) {
    if (f.isWindows11) {
        versionNumber = 11.0f;
        return "Windows 11";
    }
    // The native numbers are right also where GetVersionExW is capped at 6.2 for programs
    // without a compatibility manifest.
    if (f.haveNtNumbers) {
        if (f.ntMajor == 6 && f.ntMinor == 3) { versionNumber = 8.1f; return "Windows 8.1"; }
        if (f.ntMajor == 10 && f.ntMinor == 0) { versionNumber = 10.0f; return "Windows 10"; }
    }
    if (!f.versionExOk) return std::string();
    return NameFromVersionEx(f, versionNumber);
}

OsVersionFacts ReadOsVersionFacts() {
    OsVersionFacts facts;
    facts.isWindows11 = IsWindows11();

    using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
    if (auto fn = LookUp<RtlGetNtVersionNumbersFn>(L"ntdll.dll", "RtlGetNtVersionNumbers")) {
        DWORD major = 0, minor = 0, build = 0;
        fn(&major, &minor, &build);
        facts.haveNtNumbers = true;
        facts.ntMajor = major;
        facts.ntMinor = minor;
    }

    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    facts.versionExOk = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
#pragma GCC diagnostic pop
    facts.major = version.dwMajorVersion;
    facts.minor = version.dwMinorVersion;
    facts.platformId = version.dwPlatformId;
    facts.productType = version.wProductType;
    facts.processorArchitecture = info.wProcessorArchitecture;
    // Only Windows Server 2003 tells R2 apart; asking elsewhere would load user32 into processes
    // that have no window (the download and verification drivers), which costs their start-up.
    if (facts.major == 5 && facts.minor == 2) facts.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    return facts;
}

std::string GetOSVersionName(float& versionNumber) {
    return OsNameFromFacts(ReadOsVersionFacts(), versionNumber);
}

bool IsWindows11Build(const std::wstring& buildText) {
    return ParseLeadingInt64(buildText) > 21999;
}

bool IsWindows11() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_ALL_ACCESS, &key) != ERROR_SUCCESS &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_ALL_ACCESS,
                      &key) != ERROR_SUCCESS)
        return false;
    bool result = false;
    for (const wchar_t* name : {L"CurrentBuild", L"CurrentBuildNumber"}) {
        wchar_t buffer[261] = {};  // 260 read, one more for a terminator the value may lack
        DWORD type = 0;
        DWORD size = 260 * sizeof(wchar_t);
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            result = IsWindows11Build(buffer);
            break;
        }
    }
    RegCloseKey(key);
    return result;
}

// The shipped setup is a 32-bit program, so the system is 64-bit exactly when it runs under WoW64;
// a 64-bit build (the test build on hosts without 32-bit support) is on a 64-bit system by itself.
bool Is64BitSystem() { return sizeof(void*) == 8 || ProcessEnvironment::IsWow64(); }

// ---- Language and region -------------------------------------------------------------------

std::string UILanguageNameFor(uint16_t languageId) {
    for (const LanguageRow& row : kLanguages)
        if (row.id == languageId) return row.name;
    char hex[8] = {};
    std::snprintf(hex, sizeof(hex), "0x%.4x", static_cast<unsigned>(languageId));
    return std::string(hex) + "_" + hex;
}

std::string GetUILanguageName() { return UILanguageNameFor(GetUserDefaultUILanguage()); }

EnumLanguage GetLanguageByLocalSystem() {
    LANGID id = GetUserDefaultUILanguage();
    LOG(INFO) << " GetLanguageByLocalSystem: " << id;
    return LanguageFromLangId(id);
}

std::wstring GetSystemRegion() {
    wchar_t code[260] = {};
    GEOID nation = GetUserGeoID(GEOCLASS_NATION);
    if (nation != GEOID_NOT_AVAILABLE &&
        GetGeoInfoW(nation, GEO_ISO2, code, static_cast<int>(_countof(code)), GetUserDefaultLangID()) <= 0)
        code[0] = L'\0';
    std::wstring region = code;
    LOG(INFO) << " System Region info is : " << TextCodec::WideToUtf8(region);
    return region;
}

// ---- China time ----------------------------------------------------------------------------

std::string ChinaTimeTextFromUtc(const _SYSTEMTIME& utc) {
    TIME_ZONE_INFORMATION china = {};
    china.Bias = -480;
    wcscpy_s(china.StandardName, L"China Standard Time");
    // StandardDate and DaylightDate stay zero: no daylight saving.
    SYSTEMTIME local = {};
    if (!SystemTimeToTzSpecificLocalTime(&china, &utc, &local)) return std::string();
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", local.wYear, local.wMonth, local.wDay,
                  local.wHour, local.wMinute, local.wSecond);
    return text;
}

std::string GetChinaTimeText() {
    SYSTEMTIME utc = {};
    GetSystemTime(&utc);
    return ChinaTimeTextFromUtc(utc);
}

// ---- Screen and machine identifier ---------------------------------------------------------

double GetScreenResolution(int& width, int& height) {
    width = 0;
    height = 0;
    DEVMODEW mode = {};
    mode.dmSize = sizeof(mode);
    if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) {
        width = static_cast<int>(mode.dmPelsWidth);
        height = static_cast<int>(mode.dmPelsHeight);
    }
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    HMONITOR handle = MonitorFromWindow(GetDesktopWindow(), MONITOR_DEFAULTTONEAREST);
    if (handle == nullptr || !GetMonitorInfoW(handle, &monitor)) return 1.0;
    const long logicalWidth = monitor.rcMonitor.right - monitor.rcMonitor.left;
    if (logicalWidth <= 0 || width <= 0) return 1.0;
    return static_cast<double>(width) / static_cast<double>(logicalWidth);
}

std::wstring GuidFromVolumeName(const std::wstring& volumeName) {
    size_t open = volumeName.find(L'{');
    if (open == std::wstring::npos) return std::wstring();
    size_t close = volumeName.find(L'}', open + 1);
    if (close == std::wstring::npos) return std::wstring();
    return volumeName.substr(open + 1, close - open - 1);
}

std::wstring GetSystemVolumeGuid() {
    wchar_t windowsDir[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(windowsDir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    const wchar_t root[] = {windowsDir[0], L':', L'\\', L'\0'};
    wchar_t volumeName[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(root, volumeName, MAX_PATH)) return std::wstring();
    return GuidFromVolumeName(volumeName);
}

}  // namespace FuntionImpl
