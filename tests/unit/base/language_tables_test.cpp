// The per-language tables: every row of the 21 languages, the fall-backs outside the table, the
// Japanese installer code by downloader id, the Chinese licence height by site id and the
// Windows language ids that choose each language.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/LanguageTables.h"
#include "base/TextCodec.h"

namespace {

struct Row {
    const char* eventName;
    const char* file;
    const char* license;
    const char* service;
    const char* installer;
    int height;  // Chinese: the height for an ordinary site id
    const char* font;
};

const Row kRows[kLanguageCount] = {
    {"English", "language_english.xml", "license_english", "en", "en", 1370, "Microsoft YaHei"},
    {"Japanese", "language_japanese.xml", "license_japanese", "ja", "ja", 1320, "Meiryo UI"},
    {"Chinese", "language_chinese.xml", "license_chinese", "zh-cn", "zhcn", 1095, "Microsoft YaHei"},
    {"Spanish", "language_spanish.xml", "license_spanish", "es", "es", 1440, "Times New Roman"},
    {"German", "language_german.xml", "license_german", "de", "de", 1485, "Times New Roman"},
    {"French", "language_french.xml", "license_french", "fr", "fr", 1410, "Times New Roman"},
    {"Russian", "language_russian.xml", "license_russian", "ru", "ru", 1445, "Times New Roman"},
    {"Portuguese", "language_portuguese.xml", "license_portuguese", "pt", "pt", 1295, "Times New Roman"},
    {"Arabic", "language_arabic.xml", "license_arabic", "ar", "ar", 1195, "Times New Roman"},
    {"Italiano", "language_italiano.xml", "license_italiano", "it", "it", 1345, "Times New Roman"},
    {"ChineseTrad", "language_chinesetrad.xml", "license_chinesetrad", "zh-tw", "zhtw", 1095, "Microsoft YaHei"},
    {"Korean", "language_korean.xml", "license_korean", "ko", "ko", 1175, "batang"},
    {"Nederlands", "language_nederland.xml", "license_nederlands", "nl", "nl", 1485, "Microsoft YaHei"},
    {"Indonesian", "language_indonesian.xml", "license_indonesian", "id", "id", 1370, "Microsoft YaHei"},
    {"Turkish", "language_turkish.xml", "license_turkish", "tr", "tr", 1370, "Microsoft YaHei"},
    {"Hindi", "language_hindi.xml", "license_hindi", "hi", "hi", 1370, "Microsoft YaHei"},
    {"Thai", "language_thai.xml", "license_thai", "th", "th", 1175, "Microsoft YaHei"},
    {"Malay", "language_malay.xml", "license_malay", "my", "my", 1410, "Microsoft YaHei"},
    {"Swedish", "language_swedish.xml", "license_swedish", "se", "se", 1410, "Microsoft YaHei"},
    {"Czech", "language_czech.xml", "license_czech", "cz", "cz", 1410, "Microsoft YaHei"},
    {"Vietnamese", "language_vietnamese.xml", "license_vietnamese", "vi", "vi", 1410, "Microsoft YaHei"},
};

std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }

}  // namespace

TEST(LanguageTables, EveryLanguageRow) {
    for (int32_t lang = 0; lang < kLanguageCount; ++lang) {
        const Row& r = kRows[lang];
        SCOPED_TRACE(r.eventName);
        EXPECT_EQ(GetLanguageEventName(lang), r.eventName);
        EXPECT_EQ(N(GetLanguageFileName(lang)), r.file);
        EXPECT_EQ(N(GetLanguageFilePath(lang)), std::string("language\\") + r.file);
        EXPECT_EQ(N(GetLicenseControlName(lang)), r.license);
        EXPECT_EQ(GetLanguageCode(lang), r.service);
        EXPECT_EQ(GetInstallerLanguageCode(lang, 486), r.installer);
        // The product code is the installer code for every language.
        EXPECT_EQ(N(GetProductLanguageCode(lang)), r.installer);
        EXPECT_EQ(GetLicenseHeight(lang, 1), r.height);
        EXPECT_EQ(N(GetLanguageFontFace(lang)), r.font);
        EXPECT_EQ(GetLanguageNativeName(lang).substr(0, 1), L" ");
    }
}

TEST(LanguageTables, ValuesOutsideTheTableAreEnglishExceptTheHeight) {
    for (int32_t lang : {-1, 21, 1000}) {
        EXPECT_EQ(GetLanguageEventName(lang), "English");
        EXPECT_EQ(GetLanguageCode(lang), "en");
        EXPECT_EQ(GetInstallerLanguageCode(lang, 120), "en");
        EXPECT_EQ(N(GetProductLanguageCode(lang)), "en");
        EXPECT_EQ(N(GetLanguageFontFace(lang)), "Microsoft YaHei");
        EXPECT_EQ(N(GetLanguageFileName(lang)), "language_english.xml");
        EXPECT_EQ(GetLicenseHeight(lang, 521), 1765);
    }
}

TEST(LanguageTables, JapaneseInstallerCodeByDownloaderId) {
    const std::set<int32_t> jp = {117, 118, 119, 120, 122, 123, 124, 125};
    for (int32_t id = 100; id <= 130; ++id) {
        EXPECT_EQ(GetInstallerLanguageCode(Japanese, id), jp.count(id) ? "jp" : "ja") << id;
        // Only Japanese changes with the downloader id.
        EXPECT_EQ(GetInstallerLanguageCode(Korean, id), "ko") << id;
    }
    EXPECT_EQ(GetInstallerLanguageCode(Japanese, 486), "ja");
    EXPECT_EQ(N(GetProductLanguageCode(Japanese)), "ja");
}

TEST(LanguageTables, ChineseLicenseHeightBySiteId) {
    struct Case {
        int32_t site;
        int height;
    } cases[] = {{54, 1900}, {93, 1900}, {118, 1900}, {127, 1900}, {133, 1900}, {290, 1900}, {550, 1900},
                 {521, 1300}, {61, 1095}, {0, 1095}, {551, 1095}};
    for (const Case& c : cases) {
        EXPECT_EQ(GetLicenseHeight(Chinese, c.site), c.height) << c.site;
        // Other languages ignore the site id.
        EXPECT_EQ(GetLicenseHeight(ChineseTrad, c.site), 1095) << c.site;
    }
}

TEST(LanguageTables, WindowsLanguageIds) {
    struct Case {
        uint16_t id;
        EnumLanguage language;
    } cases[] = {
        {1033, English}, {2057, English}, {3081, English}, {11273, English}, {1041, Japanese}, {2052, Chinese},
        {1034, Spanish}, {3082, Spanish}, {20490, Spanish}, {1031, German}, {5127, German}, {1036, French},
        {5132, French}, {1049, Russian}, {1046, Portuguese}, {2070, Portuguese}, {1025, Arabic}, {1040, Italiano},
        {2064, Italiano}, {1028, ChineseTrad}, {3076, ChineseTrad}, {1042, Korean}, {2066, Korean},
        {1043, Nederlands}, {2067, Nederlands}, {1057, Indonesian}, {1055, Turkish}, {1081, Hindi}, {1054, Thai},
        {1086, Malay}, {2110, Malay}, {1053, Swedish}, {2077, Swedish}, {1029, Czech}, {1066, Vietnamese},
        // Variants outside the list are English.
        {4100, English}, {5124, English}, {14337, English}, {3073, English}, {1045, English}, {0, English},
        {21514, English}, {6156, English},
    };
    for (const Case& c : cases) EXPECT_EQ(LanguageFromLangId(c.id), c.language) << c.id;
}
