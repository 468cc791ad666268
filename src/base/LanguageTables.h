#pragma once
// The installer's 21 UI languages and every per-language value: language file, licence text
// control, event name, data-service code, product installer code, product registry code,
// licence text height and carousel font. Plain functions over plain values, so the window and
// the install worker share one table and the tests reach every row.
//
// Every function answers English's value for a language outside 0 to 20 (the licence height
// is the exception: 1765).
#include <cstdint>
#include <string>

enum EnumLanguage : int32_t {
    English = 0, Japanese, Chinese, Spanish, German, French, Russian, Portuguese, Arabic, Italiano,
    ChineseTrad, Korean, Nederlands, Indonesian, Turkish, Hindi, Thai, Malay, Swedish, Czech, Vietnamese,
    kLanguageCount
};

inline bool IsKnownLanguage(int32_t language) { return language >= 0 && language < kLanguageCount; }

// Language code sent to the maker's services ("en", "zh-cn", ...).
std::string GetLanguageCode(int32_t language);
// The language whose service code ("en", "zh-cn", ...) or installer code ("zhcn") is `code`,
// without regard to case; -1 for any other text.
int32_t LanguageFromCode(const std::string& code);
// Label of the "SetLanguage" event ("English", "Japanese", ..., "Nederlands").
std::string GetLanguageEventName(int32_t language);
// File name in the skin's "language" folder ("language_english.xml"); English's for others.
std::wstring GetLanguageFileName(int32_t language);
// The skin archive entry of the language file ("language\language_english.xml").
std::wstring GetLanguageFilePath(int32_t language);
// Name of the licence text control in "License.xml" ("license_english").
std::wstring GetLicenseControlName(int32_t language);
// Value of the product installer's "/LANG=" switch. Japanese is "jp" for the downloader ids
// 117 to 120 and 122 to 125, "ja" otherwise.
std::string GetInstallerLanguageCode(int32_t language, int32_t downloaderId);
// Language code written for the installed product ("Inno Setup: Language").
std::wstring GetProductLanguageCode(int32_t language);
// The built-in licence text height in pixels. Chinese depends on the site id: 1900 for 54, 93,
// 118, 127, 133, 290 and 550, 1300 for 521, 1095 otherwise. 1765 outside the table.
int GetLicenseHeight(int32_t language, int32_t siteId);
// Carousel caption font face.
std::wstring GetLanguageFontFace(int32_t language);
// Name of the language in its own script as the language combo shows it, with its leading blank
// (" English", " 日本語", ...).
std::wstring GetLanguageNativeName(int32_t language);

// The UI language for a Windows language id (GetUserDefaultUILanguage); English for every id
// not listed, so other Arabic, Chinese and Portuguese variants are English.
EnumLanguage LanguageFromLangId(uint16_t languageId);
