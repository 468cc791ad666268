#pragma once
// The kinds of the installer's message box and what each one shows and answers: its layout,
// icon, the labels of the language file's "message_page" that fill its texts, which buttons
// show, and what a click on each of its controls does. Plain data, so the dialog and its tests
// read the same table.
#include <cstdint>
#include <functional>
#include <string>

enum EnumMsgType : int32_t {
    MsgReplace = 0,
    MsgPlain = 1,
    MsgCancel = 2,
    MsgAppExist = 3,
    MsgPathError = 4,
    MsgPlainDown = 5,
    MsgInstallRunTimeOut = 6,
    MsgMD5Fail = 7,
    MsgUrlFail = 8,
    MsgInternetFail = 9,
    MsgInternetTimeout = 10,
    MsgNoEnoughSpace = 11,
    MsgClickShortcut = 12,
    MsgNotSupportSystem = 13,
    MsgAgree = 14,
    MsgSuggestSSD = 15,
    kMsgTypeCount
};

namespace MessageBoxKinds {

// Result codes of the dialog.
constexpr int32_t kResultFirst = 1;   // btn_yes
constexpr int32_t kResultSecond = 2;  // btn_no or the close button

// Posted to the owner by the boxes of MsgInstallRunTimeOut and MsgMD5Fail when answered: clear the
// downloaded data (WM_USER + 1919).
constexpr unsigned kMsgClearAppData = 0x0400 + 1919;

// The dialog's self-answer timer in the automated mode.
constexpr unsigned kAutoAnswerTimer = 777;
constexpr unsigned kAutoAnswerElapse = 1000;

constexpr const wchar_t* kIconHelp = L"skin\\message_help.png";
constexpr const wchar_t* kIconExclamation = L"skin\\message_exclamation.png";

struct KindRow {
    const wchar_t* layout;       // "MessageBox.xml" or "MessageBox_down.xml"
    const wchar_t* icon;         // null: the layout's own icon
    const wchar_t* describe;     // labels of "message_page"; null: empty text
    const wchar_t* question;
    const wchar_t* firstButton;
    const wchar_t* secondButton;
    bool secondVisible;          // btn_no stays visible
    bool ownTexts;               // the layout carries its own texts; nothing is set
};

bool IsKnownKind(int32_t kind);
// The row of a kind; a kind outside the table is shown as MsgPlain.
const KindRow& Row(int32_t kind);
// "MessageBox_down.xml" for MsgPlainDown, else "MessageBox.xml".
std::wstring SkinFileFor(int32_t kind);

// What the dialog shows for a kind. lookup gives a label of the language file's "message_page"
// (empty when missing). extra replaces the marker "**1**" of the MsgSuggestSSD description.
struct Texts {
    std::wstring icon;  // empty: leave the layout's icon
    std::wstring describe;
    std::wstring question;
    std::wstring firstButton;
    std::wstring secondButton;
    bool secondVisible = true;
};
Texts TextsFor(int32_t kind, const std::function<std::wstring(const std::wstring&)>& lookup, const std::wstring& extra);

// What a click on one of the dialog's controls does.
struct ClickAction {
    bool closes = false;         // the dialog ends with result
    int32_t result = 0;
    bool postClearData = false;  // post kMsgClearAppData to the owner first
    bool hideOwner = false;      // hide the dialog and the owner window before closing
    bool minimise = false;       // minimise the dialog; it stays open
};
ClickAction ClickFor(int32_t kind, const std::wstring& controlName);

// Whether the automated mode answers the box by itself: only when its second button is hidden.
bool AutoAnswers(bool autoRun, bool secondButtonVisible);

}  // namespace MessageBoxKinds
