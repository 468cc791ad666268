// OS name, UI language, China time and machine identifier: the decisions over plain facts, and
// one pass over the real Windows calls.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

#include "platform/FuntionImpl.h"
#include "base/TextCodec.h"

using namespace FuntionImpl;

namespace {

OsVersionFacts Facts(bool win11, bool haveNt, uint32_t ntMajor, uint32_t ntMinor, bool exOk, uint32_t major,
                     uint32_t minor, uint32_t platform = VER_PLATFORM_WIN32_NT, uint8_t productType = 1,
                     uint16_t arch = 0, bool serverR2 = false) {
    OsVersionFacts f;
    f.isWindows11 = win11;
    f.haveNtNumbers = haveNt;
    f.ntMajor = ntMajor;
    f.ntMinor = ntMinor;
    f.versionExOk = exOk;
    f.major = major;
    f.minor = minor;
    f.platformId = platform;
    f.productType = productType;
    f.processorArchitecture = arch;
    f.serverR2 = serverR2;
    return f;
}

}  // namespace

TEST(OsName, FromVersionFacts) {
    constexpr float kUntouched = 42.0f;
    struct Case {
        const char* what;
        OsVersionFacts facts;
        const char* name;
        float number;
    } cases[] = {
        {"build 22000+ wins over native numbers", Facts(true, true, 10, 0, true, 6, 2), "Windows 11", 11.0f},
        {"8.1 from native numbers though GetVersionExW says 6.2", Facts(false, true, 6, 3, true, 6, 2), "Windows 8.1", 8.1f},
        {"10 from native numbers though GetVersionExW says 6.2", Facts(false, true, 10, 0, true, 6, 2), "Windows 10", 10.0f},
        {"no native numbers, 6.2", Facts(false, false, 0, 0, true, 6, 2), "Windows 8", 8.0f},
        {"7 workstation", Facts(false, true, 6, 1, true, 6, 1), "Windows 7", 7.0f},
        {"7 server", Facts(false, true, 6, 1, true, 6, 1, 2, 3), "Windows Server 2008 R2", 7.0f},
        {"vista", Facts(false, true, 6, 0, true, 6, 0), "Windows Vista", 6.0f},
        {"2008", Facts(false, true, 6, 0, true, 6, 0, 2, 2), "Windows Server 2008", 6.0f},
        {"2012", Facts(false, true, 6, 2, true, 6, 2, 2, 3), "Windows Server 2012", 8.0f},
        {"xp x64", Facts(false, true, 5, 2, true, 5, 2, 2, 1, 9), "Windows XP Professional x64 Edition", 5.0f},
        {"5.2 workstation on x86 is a server name", Facts(false, true, 5, 2, true, 5, 2, 2, 1, 0), "Windows Server 2003", 5.0f},
        {"2003 r2", Facts(false, true, 5, 2, true, 5, 2, 2, 3, 0, true), "Windows Server 2003 R2", 5.0f},
        {"xp", Facts(false, true, 5, 1, true, 5, 1), "Windows XP", 4.0f},
        {"2000", Facts(false, true, 5, 0, true, 5, 0), "Windows 2000", 3.0f},
        {"me", Facts(false, true, 4, 90, true, 4, 90, 1), "Microsoft Windows Me", 2.0f},
        {"98", Facts(false, true, 4, 10, true, 4, 10, 1), "Windows 98", 1.0f},
        {"95", Facts(false, true, 4, 0, true, 4, 0, 1), "Windows 95", 0.0f},
        {"nt 4", Facts(false, true, 4, 0, true, 4, 0, 2), "Windows NT 4.0", 0.0f},
        {"4.0 on another platform: no name, number 0", Facts(false, true, 4, 0, true, 4, 0, 0), "", 0.0f},
        {"unlisted minor of a listed major", Facts(false, true, 6, 4, true, 6, 4), "", kUntouched},
        {"unlisted major", Facts(false, true, 3, 51, true, 3, 51), "Error", kUntouched},
        {"version query failed", Facts(false, true, 6, 1, false, 0, 0), "", kUntouched},
    };
    for (const Case& c : cases) {
        float number = kUntouched;
        EXPECT_EQ(OsNameFromFacts(c.facts, number), c.name) << c.what;
        EXPECT_FLOAT_EQ(number, c.number) << c.what;
    }
}

TEST(OsName, Windows11FromBuildText) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"22000", true}, {L"22621", true}, {L"21999", false}, {L"19045", false},
        {L"26100.1", true}, {L"", false}, {L"abc", false}, {L"-22000", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWindows11Build(c.first), c.second) << TextCodec::WideToUtf8(c.first);
}

TEST(UILanguage, NameFromIdentifier) {
    const std::pair<uint16_t, const char*> cases[] = {
        {0x0c0a, "Spanish_Spain (International sort)"},
        {0x040a, "Spanish_Spain (Traditional sort)"},
        {0x0000, "Neutral_Neutral"},
        {0x0409, "English_United States"},
        {0x0414, "Norwegian_Norway (Bokm?l)"},
        {0x042f, "Macedonian (FYROM)_Macedonian (FYROM)"},
        {0x500a, "Spanish_Puerto Rico"},
        {0x0481, "0x0481_0x0481"},
        {0x0417, "0x0417_0x0417"},
        {0xffff, "0xffff_0xffff"},
    };
    for (const auto& c : cases) EXPECT_EQ(UILanguageNameFor(c.first), c.second) << std::hex << c.first;
}

TEST(ChinaTime, FromUtc) {
    struct Case {
        WORD y, mo, d, h, mi, s;
        const char* china;
    } cases[] = {
        {2023, 12, 31, 16, 30, 0, "2024-01-01 00:30:00"},   // date rolls over into the new year
        {2023, 12, 31, 15, 59, 59, "2023-12-31 23:59:59"},  // one second before the roll-over
        {2023, 12, 31, 16, 0, 0, "2024-01-01 00:00:00"},
        {2024, 2, 28, 16, 0, 0, "2024-02-29 00:00:00"},     // leap day
        {2023, 6, 15, 3, 4, 5, "2023-06-15 11:04:05"},      // no daylight saving in summer
    };
    for (const Case& c : cases) {
        SYSTEMTIME utc = {};
        utc.wYear = c.y;
        utc.wMonth = c.mo;
        utc.wDay = c.d;
        utc.wHour = c.h;
        utc.wMinute = c.mi;
        utc.wSecond = c.s;
        EXPECT_EQ(ChinaTimeTextFromUtc(utc), c.china);
    }
}

TEST(VolumeGuid, TextBetweenBraces) {
    EXPECT_EQ(GuidFromVolumeName(L"\\\\?\\Volume{1a2b3c4d-0000-1111-2222-333344445555}\\"),
              L"1a2b3c4d-0000-1111-2222-333344445555");
    EXPECT_EQ(GuidFromVolumeName(L"\\\\?\\Volume{abc"), L"");
    EXPECT_EQ(GuidFromVolumeName(L"\\\\?\\Volume}x{"), L"");
    EXPECT_EQ(GuidFromVolumeName(L""), L"");
}

// The real calls on the machine the tests run on: each answers something sane.
TEST(SystemFactsOnThisMachine, AnswerSanely) {
    float number = 0.0f;
    std::string os = GetOSVersionName(number);
    EXPECT_EQ(os.rfind("Windows", 0), 0u) << os;
    EXPECT_GT(number, 0.0f) << os;

    std::string language = GetUILanguageName();
    EXPECT_NE(language.find('_'), std::string::npos) << language;
    EXPECT_EQ(language, UILanguageNameFor(GetUserDefaultUILanguage()));

    // Windows and Wine (which takes the nation from the locale and names each drive's volume)
    // both answer these: an empty one is a fault here, not an answer.
    std::wstring region = GetSystemRegion();
    EXPECT_TRUE(std::regex_match(TextCodec::WideToUtf8(region), std::regex("[A-Z]{2}"))) << TextCodec::WideToUtf8(region);

    std::wstring guid = GetSystemVolumeGuid();
    EXPECT_TRUE(std::regex_match(TextCodec::WideToUtf8(guid),
                                 std::regex("[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}")))
        << TextCodec::WideToUtf8(guid);

    std::string china = GetChinaTimeText();
    EXPECT_TRUE(std::regex_match(china, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << china;

    // An independent sign of 64-bit Windows: the folder of the 32-bit system files exists.
    wchar_t wow64Dir[MAX_PATH] = {};
    EXPECT_EQ(Is64BitSystem(), GetSystemWow64DirectoryW(wow64Dir, MAX_PATH) != 0);

    int width = 0, height = 0;
    double scale = GetScreenResolution(width, height);
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_GT(scale, 0.0);
}
