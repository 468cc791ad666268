#include "window/MessageBoxKinds.h"

namespace MessageBoxKinds {
namespace {

constexpr const wchar_t* kBox = L"MessageBox.xml";
constexpr const wchar_t* kBoxDown = L"MessageBox_down.xml";

// In EnumMsgType order. A hidden second button still gets its text, as the language file has it.
const KindRow kRows[kMsgTypeCount] = {
    /* MsgReplace */ {kBox, kIconHelp, L"ReplaceDesText", L"ReplaceQueText", L"ReplaceText", L"CancelText", true, false},
    /* MsgPlain */ {kBox, nullptr, nullptr, nullptr, nullptr, nullptr, true, false},
    /* MsgCancel */ {kBox, kIconHelp, L"CancelDesText", L"CancelQueText", L"YesText", L"NoText", true, false},
    /* MsgAppExist */ {kBox, kIconHelp, L"AppExistDesText", L"AppExistQueText", L"OkButtonText", L"NoText", false, false},
    /* MsgPathError */ {kBox, kIconExclamation, L"PathErrorDesText", nullptr, L"OkButtonText", nullptr, false, false},
    /* MsgPlainDown */ {kBoxDown, nullptr, nullptr, nullptr, nullptr, nullptr, false, true},
    /* MsgInstallRunTimeOut */ {kBox, kIconExclamation, L"InstallRunTimeOutDesText", L"InstallRunTimeOutQueText",
                                L"ConfirmText", L"CancelText", false, false},
    /* MsgMD5Fail */ {kBox, kIconExclamation, L"MD5FailDesText", L"MD5FailQueText", L"ConfirmText", L"CancelText", false, false},
    /* MsgUrlFail */ {kBox, kIconExclamation, L"UrlFailDexText", L"UrlFailQueText", L"ConfirmText", L"CancelText", false, false},
    /* MsgInternetFail */ {kBox, kIconExclamation, L"InternetFailDesText", L"InternetFailQueText", L"ConfirmText",
                           L"CancelText", false, false},
    /* MsgInternetTimeout */ {kBox, kIconExclamation, L"InternetTimeoutDesText", L"InternetTimeoutQueText", L"ConfirmText",
                              L"CancelText", false, false},
    /* MsgNoEnoughSpace */ {kBox, kIconExclamation, L"NoEnoughSpaceDesText", nullptr, L"OkButtonText", nullptr, false, false},
    /* MsgClickShortcut */ {kBox, kIconExclamation, L"ClickShortcutToLaunchText", nullptr, L"ConfirmText", nullptr, false, false},
    /* MsgNotSupportSystem */ {kBox, kIconExclamation, L"NotSupportSystemDesText", nullptr, L"OkButtonText", nullptr, false, false},
    /* MsgAgree */ {kBox, kIconExclamation, L"AgreeDesText", nullptr, L"AgreeInstallText", L"NotAgreeText", true, false},
    /* MsgSuggestSSD */ {kBox, kIconExclamation, L"SuggestSSDText", nullptr, L"AcceptText", L"RejectText", true, false},
};

std::wstring ReplaceAll(std::wstring text, const std::wstring& marker, const std::wstring& with) {
    for (size_t at = text.find(marker); at != std::wstring::npos; at = text.find(marker, at + with.size()))
        text.replace(at, marker.size(), with);
    return text;
}

}  // namespace

bool IsKnownKind(int32_t kind) { return kind >= 0 && kind < kMsgTypeCount; }

const KindRow& Row(int32_t kind) { return kRows[IsKnownKind(kind) ? kind : MsgPlain]; }

std::wstring SkinFileFor(int32_t kind) { return kind == MsgPlainDown ? kBoxDown : kBox; }

Texts TextsFor(int32_t kind, const std::function<std::wstring(const std::wstring&)>& lookup, const std::wstring& extra) {
    const KindRow& row = Row(kind);
    auto text = [&](const wchar_t* label) { return label ? lookup(label) : std::wstring(); };
    Texts texts;
    if (row.icon) texts.icon = row.icon;
    texts.describe = text(row.describe);
    if (kind == MsgSuggestSSD) texts.describe = ReplaceAll(texts.describe, L"**1**", extra);
    texts.question = text(row.question);
    texts.firstButton = text(row.firstButton);
    texts.secondButton = text(row.secondButton);
    texts.secondVisible = row.secondVisible;
    return texts;
}

ClickAction ClickFor(int32_t kind, const std::wstring& controlName) {
    ClickAction action;
    const bool clearsData = kind == MsgInstallRunTimeOut || kind == MsgMD5Fail;
    if (controlName == L"closebtn") {
        action.closes = true;
        action.result = kResultSecond;
        action.postClearData = clearsData;
    } else if (controlName == L"minbtn") {
        action.minimise = true;
    } else if (controlName == L"btn_yes") {
        action.closes = true;
        action.result = kResultFirst;
        action.postClearData = clearsData;
        action.hideOwner = kind == MsgPlain || kind == MsgCancel;
    } else if (controlName == L"btn_no") {
        action.closes = true;
        action.result = kResultSecond;
    }
    return action;
}

bool AutoAnswers(bool autoRun, bool secondButtonVisible) { return autoRun && !secondButtonVisible; }

}  // namespace MessageBoxKinds
