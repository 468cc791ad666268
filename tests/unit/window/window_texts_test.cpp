// Text rules of the window: number formats from the language files (and what a hostile format
// cannot do), the install folder, the advice link's address and suffix, and the settings panel
// toggle sequences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TextCodec.h"
#include "window/SettingsPanel.h"
#include "window/WindowTexts.h"

using namespace WindowTexts;

namespace {
std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }
}  // namespace

TEST(WindowTexts, FormatNumber) {
    struct Case {
        const wchar_t* format;
        double value;
        const char* text;
    } cases[] = {
        {L"Space available : %.1fGB", 12.345, "Space available : 12.3GB"},
        {L"{f 4}{c #000000}Installing, please wait...{/c} {/f}{f 0}{c #8372FF}%0.f%%{/c}{/f}", 42,
         "{f 4}{c #000000}Installing, please wait...{/c} {/f}{f 0}{c #8372FF}42%{/c}{/f}"},
        {L"%0.f%%", 0.0, "0%"},
        {L"%0.f%%", 99.6, "100%"},
        {L"Space required : 2.3M", 5, "Space required : 2.3M"},          // no conversion
        {L"%s and %n %d: %.1f", 1.24, "%s and %n %d: 1.2"},               // only the float is filled
        {L"%.1f then %.1f", 2.0, "2.0 then %.1f"},                         // only the first
        {L"%999999999.1f", 1.0, "%999999999.1f"},                          // absurd widths are text
        {L"100%", 1.0, "100%"},                                            // a lone % at the end
        {L"", 1.0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(N(FormatNumber(c.format, c.value)), c.text) << N(c.format);
}

TEST(WindowTexts, FormatText) {
    EXPECT_EQ(N(FormatText(L"Space required : 2.3M", L"512MB")), "Space required : 2.3M");
    EXPECT_EQ(N(FormatText(L"Need %s (100%%)", L"512MB")), "Need 512MB (100%)");
    EXPECT_EQ(N(FormatText(L"%s %s %d", L"x")), "x %s %d");
    EXPECT_EQ(N(FormatText(L"50%", L"x")), "50%");
}

TEST(WindowTexts, InstallFolder) {
    EXPECT_EQ(N(ComposeInstallPath(L"D:\\Apps", L"Orbala Lumeno")), "D:\\Apps\\Orbala Lumeno");
    EXPECT_EQ(N(ComposeInstallPath(L"D:\\Orbala Lumeno\\x", L"Orbala Lumeno")), "D:\\Orbala Lumeno\\x");
    // Exact substring: another case is not the product name.
    EXPECT_EQ(N(ComposeInstallPath(L"D:\\orbala lumeno", L"Orbala Lumeno")), "D:\\orbala lumeno\\Orbala Lumeno");
    EXPECT_EQ(N(PickedFolderText(L"D:\\Apps")), "D:\\Apps\\Orbala");
    EXPECT_EQ(N(PickedFolderText(L"D:\\")), "D:\\Orbala");
    EXPECT_EQ(N(PickedFolderText(L"D:\\My Orbala")), "D:\\My Orbala");
}

TEST(WindowTexts, AdviceLinkAddress) {
    const std::vector<std::wstring> mixed = {L"https://cdn.example.com/a.exe", L"https://www.example.com/b.exe",
                                             L"https://dl.example.com/c.exe"};
    const std::vector<std::wstring> direct = {L"https://www.example.com/b.exe"};
    struct Case {
        const wchar_t* chosen;
        const std::vector<std::wstring>* paths;
        int32_t type;
        const char* url;
    } cases[] = {
        {L"https://chosen/x.exe", &mixed, 2, "https://chosen/x.exe"},
        {L"", &mixed, 1, "https://www.example.com/b.exe"},
        {L"", &mixed, 3, "https://www.example.com/b.exe"},
        {L"", &mixed, 2, "https://cdn.example.com/a.exe"},
        {L"", &direct, 2, ""},  // type 2 and no content-delivery address: nothing opens
        {L"", &mixed, 0, ""},
        {L"", &mixed, 4, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(N(AdviceLinkAddress(c.chosen, *c.paths, c.type)), c.url) << c.type;
}

TEST(WindowTexts, AdviceLinkSuffix) {
    EXPECT_EQ(N(AppendPackageSuffix(L"https://h/p.exe", L"setup_ab12.exe")), "https://h/p.exe?rnclid=ab12&package=setup_ab12.exe");
    EXPECT_EQ(N(AppendPackageSuffix(L"https://h/p.exe", L"setup.exe")), "https://h/p.exe");
    EXPECT_EQ(N(AppendPackageSuffix(L"u", L"my_setup_x9.exe")), "u?rnclid=x9&package=my_setup_x9.exe");
    EXPECT_EQ(N(AppendPackageSuffix(L"u", L"setup_ab")), "u?rnclid=ab&package=setup_ab");
    EXPECT_EQ(N(FileNameOf(L"C:\\dir\\setup_ab12.exe")), "setup_ab12.exe");
    EXPECT_EQ(N(FileNameOf(L"setup.exe")), "setup.exe");
}

TEST(SettingsPanel, ToggleSequences) {
    using SettingsPanel::Toggle;
    // install_setting clicked twice: opens (560) on the settings, then closes (360).
    bool click = false;
    SettingsPanel::Step s = Toggle(click, 0, 1);
    EXPECT_EQ(s.selectPage, 1);
    EXPECT_FALSE(s.collapse);
    EXPECT_TRUE(click);
    s = Toggle(click, 1, 1);
    EXPECT_EQ(s.selectPage, -1);
    EXPECT_TRUE(s.collapse);
    EXPECT_FALSE(click);

    // Settings open by the click; the licence link switches to the licence text and stays open.
    click = false;
    bool link = false;
    Toggle(click, 0, 1);
    s = Toggle(link, 1, 0);
    EXPECT_EQ(s.selectPage, 0);
    EXPECT_FALSE(s.collapse);
    // The licence link again closes it.
    s = Toggle(link, 0, 0);
    EXPECT_TRUE(s.collapse);

    // Open on one page by a link, the other link switches page and keeps it open.
    link = false;
    Toggle(link, 1, 0);
    s = Toggle(link, 0, 1);
    EXPECT_EQ(s.selectPage, 1);
    EXPECT_FALSE(s.collapse);
    EXPECT_TRUE(link);
    EXPECT_EQ(SettingsPanel::HeightFor(true), 360);
    EXPECT_EQ(SettingsPanel::HeightFor(false), 560);
}
