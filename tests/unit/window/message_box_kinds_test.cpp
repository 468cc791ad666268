// The message box kinds: for each of the 16 kinds its layout, icon, the texts it takes from the
// language file (English as quoted, every other language translated), which buttons show, what
// each click answers and whether the automated mode answers it.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "window/MessageBoxKinds.h"
#include "window/WindowLanguage.h"

using namespace MessageBoxKinds;

namespace {

std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }

// A lookup over one language's "message_page".
std::function<std::wstring(const std::wstring&)> PageLookup(int32_t language) {
    auto labels = std::make_shared<std::map<std::wstring, std::wstring>>();
    WindowLanguage::Labels page;
    WindowLanguage::LoadPage(language, L"message_page", page);
    for (const auto& l : page) (*labels)[l.first] = l.second;
    return [labels](const std::wstring& key) {
        auto it = labels->find(key);
        return it == labels->end() ? std::wstring() : it->second;
    };
}

struct Expected {
    EnumMsgType kind;
    const char* layout;
    const char* icon;  // "" : the layout's own
    const char* describe;
    const char* first;
    const char* second;
    bool secondVisible;
};

// English, as the window shows it.
const Expected kEnglish[] = {
    {MsgReplace, "MessageBox.xml", "skin\\message_help.png",
     "{f 1}You have already installed Orbala Lumeno on your computer.{/c}{/f}", "Replace", "Cancel", true},
    {MsgPlain, "MessageBox.xml", "", "", "", "", true},
    {MsgCancel, "MessageBox.xml", "skin\\message_help.png", "{f 1}Are you sure to cancel installation?{/c}{/f}", "Yes", "No", true},
    {MsgAppExist, "MessageBox.xml", "skin\\message_help.png",
     "{f 1}Orbala Lumeno is running now. If you want to re-install it\xEF\xBC\x8C please close it firstly!{/c}{/f}", "OK", "No", false},
    {MsgPathError, "MessageBox.xml", "skin\\message_exclamation.png",
     "{f 1}The installation path you have selected is invalid. Please choose again!{/c}{/f}", "OK", "", false},
    {MsgPlainDown, "MessageBox_down.xml", "", "", "", "", false},
    {MsgInstallRunTimeOut, "MessageBox.xml", "skin\\message_exclamation.png",
     "{f 1}It takes more time than expected to install it. As the installation file may be corrupt or missing, please install it  again!{/c}{/f}",
     "Confirm", "Cancel", false},
    {MsgMD5Fail, "MessageBox.xml", "skin\\message_exclamation.png", "{f 1}Failed to verify MD5, please install it again{/c}{/f}",
     "Confirm", "Cancel", false},
    {MsgUrlFail, "MessageBox.xml", "skin\\message_exclamation.png",
     "{f 1}Failed to connect to the server, please install it again{/c}{/f}", "Confirm", "Cancel", false},
    {MsgInternetFail, "MessageBox.xml", "skin\\message_exclamation.png",
     "{f 1}Your network is disconnected. Please check to see if the network is connected properly. {/c}{/f}", "Confirm", "Cancel", false},
    {MsgInternetTimeout, "MessageBox.xml", "skin\\message_exclamation.png",
     "{f 1}Your download has been interrupted. Please check to see if the network is connected properly. {/c}{/f}", "Confirm",
     "Cancel", false},
    {MsgNoEnoughSpace, "MessageBox.xml", "skin\\message_exclamation.png",
     "{f 1}Insufficient disk space! Please change the storage path.{/c}{/f}", "OK", "", false},
    {MsgClickShortcut, "MessageBox.xml", "skin\\message_exclamation.png",
     "After the program is installed, please click the Orbala Lumeno shortcut on the desktop to launch the program.", "Confirm", "", false},
    {MsgNotSupportSystem, "MessageBox.xml", "skin\\message_exclamation.png",
     "{f 1}Only compatible with 64-bit operating systems!{/c}{/f}", "OK", "", false},
    {MsgAgree, "MessageBox.xml", "skin\\message_exclamation.png",
     "To protect your interests and rights, please read and agree to the license agreement", "Agree and Install", "Disagree", true},
    {MsgSuggestSSD, "MessageBox.xml", "skin\\message_exclamation.png",
     "It is detected that the currently selected installation directory is on the mechanical hard disk. It is recommended to change the "
     "installation directory to the solid state drive (E drive) to improve software performance.",
     "OK", "No", true},
};

class MessageBoxKindsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(test_support::UseSourceSkin()); }
};

}  // namespace

TEST_F(MessageBoxKindsTest, EnglishTextsButtonsAndIcons) {
    auto english = PageLookup(English);
    static_assert(sizeof(kEnglish) / sizeof(kEnglish[0]) == kMsgTypeCount, "one row per kind");
    for (const Expected& e : kEnglish) {
        SCOPED_TRACE(e.kind);
        EXPECT_EQ(N(SkinFileFor(e.kind)), e.layout);
        Texts t = TextsFor(e.kind, english, L"E");
        EXPECT_EQ(N(t.icon), e.icon);
        EXPECT_EQ(N(t.describe), e.describe);
        // The question line is empty in English except for the replace question.
        EXPECT_EQ(N(t.question), e.kind == MsgReplace ? "Do you want to replace it?" : "");
        EXPECT_EQ(N(t.firstButton), e.first);
        EXPECT_EQ(N(t.secondButton), e.second);
        EXPECT_EQ(t.secondVisible, e.secondVisible);
    }
    EXPECT_TRUE(Row(MsgPlainDown).ownTexts);
    EXPECT_FALSE(Row(MsgAgree).ownTexts);
}

TEST_F(MessageBoxKindsTest, EveryLanguageFillsEveryShownText) {
    auto english = PageLookup(English);
    for (int32_t lang = 1; lang < kLanguageCount; ++lang) {
        auto lookup = PageLookup(lang);
        for (int32_t kind = 0; kind < kMsgTypeCount; ++kind) {
            if (kind == MsgPlain || kind == MsgPlainDown) continue;
            SCOPED_TRACE(GetLanguageEventName(lang) + " kind " + std::to_string(kind));
            Texts t = TextsFor(kind, lookup, L"E");
            Texts en = TextsFor(kind, english, L"E");
            EXPECT_FALSE(t.describe.empty());
            EXPECT_NE(t.describe, en.describe);
            EXPECT_FALSE(t.firstButton.empty());
            if (t.secondVisible) {
                EXPECT_FALSE(t.secondButton.empty());
            }
            if (kind == MsgSuggestSSD) {
                EXPECT_EQ(t.describe.find(L"**1**"), std::wstring::npos);
                EXPECT_NE(t.describe.find(L"E"), std::wstring::npos);
            }
        }
    }
}

TEST(MessageBoxKinds, SuggestSsdMarkerAndMissingLabels) {
    auto lookup = [](const std::wstring& key) { return key == L"SuggestSSDText" ? std::wstring(L"(**1**) or **1**?") : std::wstring(); };
    EXPECT_EQ(TextsFor(MsgSuggestSSD, lookup, L"D").describe, L"(D) or D?");
    // Only MsgSuggestSSD replaces the marker.
    auto marker = [](const std::wstring&) { return std::wstring(L"**1**"); };
    EXPECT_EQ(TextsFor(MsgAgree, marker, L"D").describe, L"**1**");
    // A page without the labels leaves every text empty, buttons as the kind has them.
    auto none = [](const std::wstring&) { return std::wstring(); };
    Texts t = TextsFor(MsgCancel, none, L"");
    EXPECT_EQ(t.describe + t.question + t.firstButton + t.secondButton, L"");
    EXPECT_TRUE(t.secondVisible);
    // A kind outside the table is shown as the plain box.
    EXPECT_EQ(N(SkinFileFor(99)), "MessageBox.xml");
    EXPECT_EQ(TextsFor(99, marker, L"").describe, L"");
}

TEST(MessageBoxKinds, Clicks) {
    struct Case {
        int32_t kind;
        const char* control;
        bool closes;
        int32_t result;
        bool clear;
        bool hideOwner;
        bool minimise;
    } cases[] = {
        {MsgMD5Fail, "closebtn", true, 2, true, false, false},
        {MsgInstallRunTimeOut, "closebtn", true, 2, true, false, false},
        {MsgUrlFail, "closebtn", true, 2, false, false, false},
        {MsgCancel, "closebtn", true, 2, false, false, false},
        {MsgMD5Fail, "btn_yes", true, 1, true, false, false},
        {MsgInstallRunTimeOut, "btn_yes", true, 1, true, false, false},
        {MsgUrlFail, "btn_yes", true, 1, false, false, false},
        {MsgCancel, "btn_yes", true, 1, false, true, false},
        {MsgPlain, "btn_yes", true, 1, false, true, false},
        {MsgAgree, "btn_yes", true, 1, false, false, false},
        {MsgAgree, "btn_no", true, 2, false, false, false},
        {MsgCancel, "btn_no", true, 2, false, false, false},
        {MsgSuggestSSD, "btn_no", true, 2, false, false, false},
        {MsgAgree, "minbtn", false, 0, false, false, true},
        {MsgAgree, "msg_describe", false, 0, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + " " + c.control);
        ClickAction a = ClickFor(c.kind, TextCodec::Utf8ToWide(c.control));
        EXPECT_EQ(a.closes, c.closes);
        EXPECT_EQ(a.result, c.result);
        EXPECT_EQ(a.postClearData, c.clear);
        EXPECT_EQ(a.hideOwner, c.hideOwner);
        EXPECT_EQ(a.minimise, c.minimise);
    }
}

TEST(MessageBoxKinds, AutomatedModeAnswersOnlyOneButtonBoxes) {
    for (int32_t kind = 0; kind < kMsgTypeCount; ++kind) {
        bool second = Row(kind).secondVisible;
        EXPECT_EQ(AutoAnswers(true, second), !second) << kind;
        EXPECT_FALSE(AutoAnswers(false, second)) << kind;
    }
    EXPECT_TRUE(AutoAnswers(true, Row(MsgInternetFail).secondVisible));
    EXPECT_FALSE(AutoAnswers(true, Row(MsgAgree).secondVisible));
    EXPECT_EQ(kMsgClearAppData, 2943u);
}
