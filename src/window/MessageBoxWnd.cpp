#include "window/MessageBoxWnd.h"

#include <easylogging++.h>

#include <map>
#include <memory>

#include "DuiLib/Core/UIDlgBuilder.h"
#include "base/LanguageTables.h"
#include "platform/FuntionImpl.h"
#include "window/WindowLanguage.h"

namespace {
// Style of the dialog: a popup with a caption and a system menu, visible, clipping its children;
// a modal tool window.
constexpr DWORD kDialogStyle = 0x96C80000;
constexpr DWORD kDialogExStyle = 0x81;
}  // namespace

MessageBoxWnd::MessageBoxWnd(int32_t kind, int32_t language, const std::wstring& extraText)
    : m_kind(kind), m_language(language), m_extraText(extraText) {}

int32_t MessageBoxWnd::ShowModalOver(HWND parent) {
    m_parent = parent;
    if (!Create(parent, L"MSGUIDemo", kDialogStyle, kDialogExStyle, 0, 0, 452, 190)) {
        LOG(INFO) << " Message box could not be created, kind " << m_kind;
        return MessageBoxKinds::kResultSecond;
    }
    // A minimised installer window comes back under its question.
    if (parent) SendMessageW(parent, WM_SYSCOMMAND, SC_RESTORE, 0);
    CenterWindow();
    UINT result = ShowModal();
    return result == MessageBoxKinds::kResultFirst ? MessageBoxKinds::kResultFirst : MessageBoxKinds::kResultSecond;
}

void MessageBoxWnd::ApplyKind(DuiLib::CPaintManagerUI& pm, int32_t kind, int32_t language, const std::wstring& extraText) {
    WindowLanguage::ApplyLanguageFace(pm, language);
    if (MessageBoxKinds::Row(kind).ownTexts) return;
    WindowLanguage::Labels page;
    bool fileLoaded = false;
    WindowLanguage::LoadPage(language, L"message_page", page, &fileLoaded);
    // Without the language file the layout's own texts stay.
    if (!fileLoaded) return;
    std::map<std::wstring, std::wstring> labels(page.begin(), page.end());
    auto lookup = [&labels](const std::wstring& key) {
        auto it = labels.find(key);
        return it == labels.end() ? std::wstring() : it->second;
    };
    MessageBoxKinds::Texts texts = MessageBoxKinds::TextsFor(kind, lookup, extraText);
    auto setText = [&pm](const wchar_t* name, const std::wstring& text) {
        if (DuiLib::CControlUI* control = pm.FindControl(name)) control->SetText(text);
    };
    if (!texts.icon.empty())
        if (DuiLib::CControlUI* icon = pm.FindControl(L"iconimage")) icon->SetBkImage(texts.icon);
    setText(L"msg_describe", texts.describe);
    setText(L"msg_question", texts.question);
    setText(L"btn_yes", texts.firstButton);
    setText(L"btn_no", texts.secondButton);
    if (!texts.secondVisible)
        if (DuiLib::CControlUI* no = pm.FindControl(L"btn_no")) no->SetVisible(false);
}

void MessageBoxWnd::InitWindow() {
    ApplyKind(m_pm, m_kind, m_language, m_extraText);
    // The box's own title is its window text, which screen readers announce with the box; the
    // close button is named in the language; the first button is the default and has the focus.
    std::wstring title = m_pm.GetControlText(L"msg_title");
    if (!title.empty()) SetWindowTextW(m_hWnd, title.c_str());
    if (DuiLib::CControlUI* close = m_pm.FindControl(L"closebtn"))
        close->SetToolTip(WindowLanguage::GetLanguageText(L"install_page", L"install_closebtn", m_language));
    m_pm.SetDefaultButton(m_pm.FindControl(L"btn_yes"));
    DuiLib::CControlUI* no = m_pm.FindControl(L"btn_no");
    if (MessageBoxKinds::AutoAnswers(FuntionImpl::IsAutoRun(), no && no->IsVisible()))
        ::SetTimer(m_hWnd, MessageBoxKinds::kAutoAnswerTimer, MessageBoxKinds::kAutoAnswerElapse, nullptr);
}

void MessageBoxWnd::OnClick(DuiLib::TNotifyUI& msg) {
    if (!msg.pSender) return;
    MessageBoxKinds::ClickAction action = MessageBoxKinds::ClickFor(m_kind, msg.pSender->GetName());
    if (action.minimise) {
        SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return;
    }
    if (!action.closes) return;
    if (action.postClearData && m_parent) PostMessageW(m_parent, MessageBoxKinds::kMsgClearAppData, 0, 0);
    if (action.hideOwner) {
        ::ShowWindow(m_hWnd, SW_HIDE);
        if (m_parent) ::ShowWindow(m_parent, SW_HIDE);
    }
    Close(static_cast<UINT>(action.result));
}

void MessageBoxWnd::OnTimer(UINT_PTR id) {
    if (id != MessageBoxKinds::kAutoAnswerTimer) return;
    ::KillTimer(m_hWnd, MessageBoxKinds::kAutoAnswerTimer);
    DuiLib::TNotifyUI click;
    click.sType = L"click";
    click.pSender = m_pm.FindControl(L"btn_yes");
    OnClick(click);
}

void ShowNotSupportSystemBox() {
    MessageBoxWnd box(MsgNotSupportSystem, FuntionImpl::GetLanguageByLocalSystem(), L"");
    box.ShowModalOver(nullptr);
}
