// The window's language helpers: texts read from the language files of the skin archive, the
// combo item chosen for a wanted language, the licence height with its override, and the value
// that hands the chosen language to the installed product (planned for every downloader id and
// written once into a real uninstall key).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "window/WindowLanguage.h"

using namespace WindowLanguage;

namespace {

class WindowLanguageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(test_support::UseSourceSkin()); }
};

std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }

}  // namespace

TEST_F(WindowLanguageTest, TextsComeFromTheLanguageFiles) {
    EXPECT_EQ(N(GetLanguageText(L"install_page", L"retry_btn", English)), "Try again");
    EXPECT_EQ(N(GetLanguageText(L"install_page", L"start_app", English)), "Start");
    EXPECT_EQ(N(GetLanguageText(L"message_page", L"ClickShortcutToLaunchText", English)),
              "After the program is installed, please click the Orbala Lumeno shortcut on the desktop to launch the program.");
    // Every language has its own texts for the same keys.
    std::wstring english = GetLanguageText(L"install_page", L"install_btn", English);
    for (int32_t lang = 1; lang < kLanguageCount; ++lang) {
        std::wstring text = GetLanguageText(L"install_page", L"install_btn", lang);
        EXPECT_FALSE(text.empty()) << lang;
        EXPECT_NE(text, english) << lang;
    }
    // Missing page, missing label and a language outside the table.
    EXPECT_EQ(GetLanguageText(L"no_page", L"install_btn", English), L"");
    EXPECT_EQ(GetLanguageText(L"install_page", L"no_such_key", German), L"");
    EXPECT_EQ(GetLanguageText(L"install_page", L"install_btn", 99), english);
}

TEST_F(WindowLanguageTest, PagesKeepTheFileOrder) {
    Labels labels;
    ASSERT_TRUE(LoadPage(French, L"install_page", labels));
    ASSERT_GT(labels.size(), 20u);
    EXPECT_EQ(N(labels.front().first), "select_language_text");
    EXPECT_FALSE(LoadPage(French, L"missing_page", labels));
    EXPECT_TRUE(labels.empty());
}

TEST_F(WindowLanguageTest, MissingArchiveEntryGivesNoText) {
    // A skin without language files: every lookup is empty.
    // (Bytes that are no archive leave the toolkit with an empty one.)
    std::string empty = "PK\x05\x06" + std::string(18, '\0');
    DuiLib::CPaintManagerUI::SetResourceZip(empty.data(), empty.size());
    EXPECT_EQ(GetLanguageText(L"install_page", L"install_btn", English), L"");
    Labels labels;
    EXPECT_FALSE(LoadPage(English, L"install_page", labels));
    ASSERT_TRUE(test_support::UseSourceSkin());
}

TEST(WindowLanguage, ChooseLanguageItem) {
    // The shipped combo: 21 items, Malay, Swedish, Czech and Vietnamese hidden.
    std::vector<bool> shipped(21, true);
    for (int i = 17; i <= 20; ++i) shipped[i] = false;
    std::vector<bool> firstHidden = shipped;
    firstHidden[0] = false;
    struct Case {
        const char* what;
        int32_t wanted;
        std::vector<bool> visible;
        int32_t chosen;
    } cases[] = {
        {"visible item", Russian, shipped, Russian},
        {"hidden item falls back to item 0", Malay, shipped, English},
        {"hidden item and hidden item 0: first visible", Vietnamese, firstHidden, Japanese},
        {"out of range", 30, shipped, English},
        {"negative", -1, shipped, English},
        {"nothing visible", German, std::vector<bool>(21, false), English},
        {"no items", Thai, {}, English},
        {"short combo", German, {true, true}, English},
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseLanguageItem(c.wanted, c.visible), c.chosen) << c.what;
}

TEST(WindowLanguage, LicenseHeightAndOverride) {
    EXPECT_EQ(N(LicenseHeightOverrideKey(Chinese)), "LicenseHeightLang02");
    EXPECT_EQ(N(LicenseHeightOverrideKey(Vietnamese)), "LicenseHeightLang20");
    struct Case {
        int32_t lang;
        int32_t site;
        bool newLicense;
        const wchar_t* override;
        int height;
    } cases[] = {
        {Russian, 0, false, L"", 1445},
        {Chinese, 521, false, L"", 1300},
        {Chinese, 61, false, L"", 1095},
        {Chinese, 61, false, L"1500", 1500},
        {Chinese, 61, true, L"1500", 1095},   // the new licence row ignores the override
        {Chinese, 61, false, L"0", 1095},     // only 1 or more replaces
        {Chinese, 61, false, L"-5", 1095},
        {Chinese, 61, false, L"abc", 1095},
        {English, 0, false, L"1", 1},
        {English, 0, false, L"1600px", 1600},  // leading digits
    };
    for (const Case& c : cases)
        EXPECT_EQ(LicenseTextHeight(c.lang, c.site, c.newLicense, c.override), c.height)
            << c.lang << " " << c.site << " " << N(c.override);
}

TEST(WindowLanguage, ProductLanguagePlans) {
    struct Case {
        int32_t downloaderId;
        int32_t lang;
        UninstallRoot root;
        bool planned;
        HKEY hive;
        const char* key;
        const char* valueName;
        const char* value;
    } cases[] = {
        {104, Chinese, UninstallRoot::None, true, HKEY_CURRENT_USER, "Software\\Brevant\\Clipwright Studio", "kCurrentLanguage", "Chinese"},
        {104, Japanese, UninstallRoot::None, true, HKEY_CURRENT_USER, "Software\\Brevant\\Clipwright Studio", "kCurrentLanguage", "English"},
        {113, Japanese, UninstallRoot::None, true, HKEY_CURRENT_USER, "Software\\Vendor\\Travo", "Lang", "ja_JP"},
        {114, Arabic, UninstallRoot::None, true, HKEY_CURRENT_USER, "Software\\Vendor\\Travo", "Lang", "en_US"},
        {115, ChineseTrad, UninstallRoot::None, true, HKEY_CURRENT_USER, "Software\\Vendor\\Travo", "Lang", "zh_TW"},
        {114, Portuguese, UninstallRoot::None, true, HKEY_CURRENT_USER, "Software\\Vendor\\Travo", "Lang", "pt_BR"},
        {486, Chinese, UninstallRoot::Wow6432Node, true, HKEY_LOCAL_MACHINE,
         "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Orbala}_is1", "Inno Setup: Language", "zhcn"},
        {120, Japanese, UninstallRoot::Native, true, HKEY_LOCAL_MACHINE,
         "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Orbala}_is1", "Inno Setup: Language", "ja"},
        {486, Vietnamese, UninstallRoot::None, false, nullptr, "", "", ""},
    };
    for (const Case& c : cases) {
        ProductLanguageValue plan;
        SCOPED_TRACE(std::to_string(c.downloaderId) + " " + std::to_string(c.lang));
        ASSERT_EQ(PlanProductLanguage(c.downloaderId, c.lang, L"Orbala", L"Vendor", c.root, plan), c.planned);
        if (!c.planned) continue;
        EXPECT_EQ(plan.root, c.hive);
        EXPECT_EQ(N(plan.key), c.key);
        EXPECT_EQ(N(plan.valueName), c.valueName);
        EXPECT_EQ(N(plan.value), c.value);
    }
}

TEST(WindowLanguage, SavesIntoTheProductsUninstallKey) {
    // A product name of this test's own, so the key is nobody else's.
    const std::wstring product = L"window_language_test_product";
    UninstallRoot root = FindUninstallRoot();
    ASSERT_NE(root, UninstallRoot::None);
    ProductLanguageValue plan;
    ASSERT_TRUE(PlanProductLanguage(486, German, product, VendorKey(), root, plan));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, plan.key.c_str());

    ASSERT_TRUE(SaveProductLanguage(486, German, product));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, plan.key.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    wchar_t data[32] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t), type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Inno Setup: Language", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_SZ));
    // (Written without the terminating character; Wine's registry stores one anyway.)
    EXPECT_EQ(std::wstring(data), L"de");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, plan.key.c_str());
}

TEST(WindowLanguage, VendorKeyIsAFixedName) {
    EXPECT_FALSE(VendorKey().empty());
    EXPECT_EQ(VendorKey().find(L'\\'), std::wstring::npos);
}
