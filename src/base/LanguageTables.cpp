#include "base/LanguageTables.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <vector>

namespace {

struct LanguageRow {
    const char* eventName;
    const wchar_t* fileStem;      // language_<stem>.xml
    const wchar_t* licenseStem;   // license_<stem>
    const char* serviceCode;
    const char* installerCode;
    const wchar_t* productCode;
    int licenseHeight;            // 0: depends on the site id (Chinese)
    const wchar_t* font;
    const wchar_t* nativeName;
};

// In EnumLanguage order.
const LanguageRow kRows[kLanguageCount] = {
    {"English", L"english", L"english", "en", "en", L"en", 1370, L"Microsoft YaHei", L" English"},
    {"Japanese", L"japanese", L"japanese", "ja", "ja", L"ja", 1320, L"Meiryo UI", L" \x65E5\x672C\x8A9E"},
    {"Chinese", L"chinese", L"chinese", "zh-cn", "zhcn", L"zhcn", 0, L"Microsoft YaHei", L" \x7B80\x4F53\x4E2D\x6587"},
    {"Spanish", L"spanish", L"spanish", "es", "es", L"es", 1440, L"Times New Roman", L" Espa\x00F1ol"},
    {"German", L"german", L"german", "de", "de", L"de", 1485, L"Times New Roman", L" Deutsch"},
    {"French", L"french", L"french", "fr", "fr", L"fr", 1410, L"Times New Roman", L" Fran\x00E7" L"ais"},
    {"Russian", L"russian", L"russian", "ru", "ru", L"ru", 1445, L"Times New Roman",
     L" \x0420\x0443\x0441\x0441\x043A\x0438\x0439"},
    {"Portuguese", L"portuguese", L"portuguese", "pt", "pt", L"pt", 1295, L"Times New Roman", L" Portugu\x00EAs"},
    {"Arabic", L"arabic", L"arabic", "ar", "ar", L"ar", 1195, L"Times New Roman",
     L" \x0627\x0644\x0639\x0631\x0628\x064A\x0629"},
    {"Italiano", L"italiano", L"italiano", "it", "it", L"it", 1345, L"Times New Roman", L" Italiano"},
    {"ChineseTrad", L"chinesetrad", L"chinesetrad", "zh-tw", "zhtw", L"zhtw", 1095, L"Microsoft YaHei",
     L" \x7E41\x9AD4\x4E2D\x6587"},
    {"Korean", L"korean", L"korean", "ko", "ko", L"ko", 1175, L"batang", L" \xD55C\xAD6D\xC5B4"},
    {"Nederlands", L"nederland", L"nederlands", "nl", "nl", L"nl", 1485, L"Microsoft YaHei", L" Nederlands"},
    {"Indonesian", L"indonesian", L"indonesian", "id", "id", L"id", 1370, L"Microsoft YaHei", L" Bahasa Indonesia"},
    {"Turkish", L"turkish", L"turkish", "tr", "tr", L"tr", 1370, L"Microsoft YaHei", L" T\x00FCrk\x00E7" L"e"},
    {"Hindi", L"hindi", L"hindi", "hi", "hi", L"hi", 1370, L"Microsoft YaHei",
     L" \x0939\x093F\x0928\x094D\x0926\x0940"},
    {"Thai", L"thai", L"thai", "th", "th", L"th", 1175, L"Microsoft YaHei", L" \x0E44\x0E17\x0E22"},
    {"Malay", L"malay", L"malay", "my", "my", L"my", 1410, L"Microsoft YaHei", L" Bahasa Melayu"},
    {"Swedish", L"swedish", L"swedish", "se", "se", L"se", 1410, L"Microsoft YaHei", L" Svenska"},
    {"Czech", L"czech", L"czech", "cz", "cz", L"cz", 1410, L"Microsoft YaHei", L" \x010C" L"e\x0161tina"},
    {"Vietnamese", L"vietnamese", L"vietnamese", "vi", "vi", L"vi", 1410, L"Microsoft YaHei",
     L" Ti\x1EBFng Vi\x1EC7t"},
};

const LanguageRow& Row(int32_t language) { return kRows[IsKnownLanguage(language) ? language : English]; }

// Windows language ids of each UI language; every id not listed is English.
struct IdGroup {
    EnumLanguage language;
    std::vector<uint16_t> ids;
};
const IdGroup kIdGroups[] = {
    {Japanese, {1041}},
    {Chinese, {2052}},
    {Spanish, {1034, 2058, 3082, 4106, 5130, 6154, 7178, 8202, 9226, 10250, 11274, 12298, 13322, 14346, 15370,
               16394, 17418, 18442, 19466, 20490}},
    {German, {1031, 2055, 3079, 4103, 5127}},
    {French, {1036, 2060, 3084, 4108, 5132}},
    {Russian, {1049}},
    {Portuguese, {1046, 2070}},
    {Arabic, {1025}},
    {Italiano, {1040, 2064}},
    {ChineseTrad, {1028, 3076}},
    {Korean, {1042, 2066}},
    {Nederlands, {1043, 2067}},
    {Indonesian, {1057}},
    {Turkish, {1055}},
    {Hindi, {1081}},
    {Thai, {1054}},
    {Malay, {1086, 2110}},
    {Swedish, {1053, 2077}},
    {Czech, {1029}},
    {Vietnamese, {1066}},
};

}  // namespace

std::string GetLanguageCode(int32_t language) { return Row(language).serviceCode; }

int32_t LanguageFromCode(const std::string& code) {
    auto same = [&code](const char* known) {
        size_t n = std::char_traits<char>::length(known);
        if (n != code.size() || n == 0) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(code[i])) != known[i]) return false;
        return true;
    };
    for (int32_t language = 0; language < kLanguageCount; ++language)
        if (same(kRows[language].serviceCode) || same(kRows[language].installerCode)) return language;
    return -1;
}

std::string GetLanguageEventName(int32_t language) { return Row(language).eventName; }

std::wstring GetLanguageFileName(int32_t language) {
    return std::wstring(L"language_") + Row(language).fileStem + L".xml";
}

std::wstring GetLanguageFilePath(int32_t language) { return L"language\\" + GetLanguageFileName(language); }

std::wstring GetLicenseControlName(int32_t language) { return std::wstring(L"license_") + Row(language).licenseStem; }

std::string GetInstallerLanguageCode(int32_t language, int32_t downloaderId) {
    if (language == Japanese) {
        static const int32_t kJpIds[] = {117, 118, 119, 120, 122, 123, 124, 125};
        if (std::find(std::begin(kJpIds), std::end(kJpIds), downloaderId) != std::end(kJpIds)) return "jp";
    }
    return Row(language).installerCode;
}

std::wstring GetProductLanguageCode(int32_t language) { return Row(language).productCode; }

int GetLicenseHeight(int32_t language, int32_t siteId) {
    if (!IsKnownLanguage(language)) return 1765;
    if (language == Chinese) {
        static const int32_t kTallSites[] = {54, 93, 118, 127, 133, 290, 550};
        if (std::find(std::begin(kTallSites), std::end(kTallSites), siteId) != std::end(kTallSites)) return 1900;
        return siteId == 521 ? 1300 : 1095;
    }
    return kRows[language].licenseHeight;
}

std::wstring GetLanguageFontFace(int32_t language) { return Row(language).font; }

std::wstring GetLanguageNativeName(int32_t language) { return Row(language).nativeName; }

EnumLanguage LanguageFromLangId(uint16_t languageId) {
    for (const IdGroup& group : kIdGroups)
        for (uint16_t id : group.ids)
            if (id == languageId) return group.language;
    return English;
}
