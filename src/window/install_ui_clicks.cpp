// Clicks and links of the installer window: the title-bar buttons, the install click with its
// licence question and events, "Try again", the settings panel toggles, the licence and advice
// links, the folder picker and the space labels, the install folder, and the automated mode's
// own click.
#include "window/install_ui_mainwnd.h"

#include <shlobj.h>

#include <easylogging++.h>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Control/UIProgress.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "window/InstallFolder.h"
#include "window/MessageBoxKinds.h"
#include "window/SettingsPanel.h"
#include "window/WindowShell.h"
#include "window/WindowTexts.h"

namespace {
bool IsShown(const DuiLib::CControlUI* control) { return control && control->IsVisible(); }
}  // namespace

void InstallUIMainWnd::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType == L"link") OnLink(msg);
    DuiLib::WindowImplBase::Notify(msg);
}

void InstallUIMainWnd::PerformClick(DuiLib::CControlUI* control) {
    if (!control) return;
    DuiLib::TNotifyUI msg;
    msg.sType = L"click";
    msg.pSender = control;
    OnClick(msg);
}

void InstallUIMainWnd::OnClick(DuiLib::TNotifyUI& msg) {
    if (!msg.pSender) return;
    const std::wstring& name = msg.pSender->GetName();
    if (msg.pSender == m_closeBtn) {
        OnCancelRequest();
    } else if (msg.pSender == m_minBtn || name == L"install_minbtn") {
        SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"install_closebtn") {
        OnCancelRequest();
    } else if (name == L"step_last") {
        ::KillTimer(m_hWnd, 2000);
        if (m_mainTab) m_mainTab->SelectItem(0);
    } else if (msg.pSender == m_installBtn) {
        OnInstallClick();
    } else if (name == L"finish_btn") {
        Close();
    } else if (msg.pSender == m_browseBtn) {
        BrowseInstallFolder();
    } else if (name == L"cancel_btn") {
        OnCancelRequest();
    } else if (msg.pSender == m_licenseCheck) {
        if (m_installBtn) m_installBtn->SetEnabled(true);
    } else if (msg.pSender == m_startApp) {
        OnStartAppClick();
    } else if (msg.pSender == m_installSetting) {
        ToggleSettings(m_settingsOpenByClick, SettingsPanel::kSettingsPage);
    }
}

void InstallUIMainWnd::OnLink(DuiLib::TNotifyUI& msg) {
    if (!msg.pSender) return;
    if (msg.pSender == m_installSetting) {
        ToggleSettings(m_settingsOpenByLink, SettingsPanel::kSettingsPage);
    } else if (msg.pSender == m_licenseLink) {
        ToggleSettings(m_settingsOpenByLink, SettingsPanel::kLicensePage);
    } else if (msg.pSender == m_licenseLinkNew) {
        // Link 0 is the privacy policy, any other the licence agreement.
        const std::string code = GetLanguageCode(m_uiLanguage.load());
        const bool privacy = msg.wParam == 0;
        std::wstring url = privacy ? m_configure->getPrivacyUrl(code) : m_configure->getLicenseUrl(code);
        LOG(INFO) << (privacy ? " Open Privacy Url: " : " Open License Url: ") << TextCodec::WideToUtf8(url);
        if (!url.empty()) WindowShell::Open(url);
    } else if (msg.pSender == m_failAdvice) {
        OpenAdviceLink();
    }
}

void InstallUIMainWnd::ToggleSettings(bool& openFlag, int wantedPage) {
    int shown = m_setTab ? m_setTab->GetCurSel() : -1;
    SettingsPanel::Step step = SettingsPanel::Toggle(openFlag, shown, wantedPage);
    if (step.selectPage >= 0 && m_setTab) m_setTab->SelectItem(step.selectPage);
    ResizeForSettings(step.collapse);
}

void InstallUIMainWnd::OnInstallClick() {
    m_installClickTick = GetTickCount();
    m_log->AddUserLog_funnelExPair("RunningTime", "DurationFordownLoading", "LoadingStart",
                                   std::to_string((m_installClickTick - m_windowStartTick) / 1000), false, false);
    // The local test switch: the crash handling takes over from here.
    if (FuntionImpl::IsCrashTest()) RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);

    m_log->AddUserLogEvent("Download", "2.DownStart", "", false);
    m_log->AddUserLog_funnel("CoreFuncEvent", "Downloading", 0, "Download", "CoreFuncStart", "null", false, false);
    m_log->AddUserLog_funnel("CoreFuncEvent", "Downloading", 1, "Download", "DownStart", "null", false, false);

    if (m_licenseCheck && !m_licenseCheck->GetCheck()) {
        if (ShowMessageBox(MsgAgree, L"") != MessageBoxKinds::kResultFirst) {
            m_log->AddUserLog_funnelExPair("StartDownloader", "PrivacyAgreementPopup", "PrivacyAgreementPopupType", "Disagree",
                                           false, false);
            return;
        }
        m_log->AddUserLog_funnelExPair("StartDownloader", "PrivacyAgreementPopup", "PrivacyAgreementPopupType",
                                       "Agree and install", false, false);
        m_licenseCheck->SetCheck(true, false);
    }

    if (!m_startTimeSent) {
        m_startTimeSent = true;
        std::string now = FuntionImpl::GetChinaTimeText();  // "YYYY-MM-DD hh:mm:ss"
        if (now.size() >= 13) {
            m_log->AddUserLogEvent("Download", "StartTimeDate", now.substr(0, 10), false);
            m_log->AddUserLogEvent("Download", "StartTimeHour", now.substr(11, 2), false);
        }
    }
    m_log->AddUserLogEvent("Other", "SetLanguage", GetLanguageEventName(m_uiLanguage.load()), false);
    if (m_pathEdit && m_pathEdit->GetText() != m_defaultFolder) m_log->AddUserLogEvent("Other", "SetPath", "", false);

    BeginInstallTask();
}

bool InstallUIMainWnd::IsFailurePageShown() const {
    return IsShown(m_failRetry) && IsShown(m_failAdvice) && IsShown(m_imgWarning);
}

void InstallUIMainWnd::OnStartAppClick() {
    if (IsFailurePageShown()) {
        // "Try again".
        m_log->AddUserLogEvent("Download", "8-1.ClickTryAgain", RetryLabel(), false);
        m_log->AddUserLog_funnel("CoreFuncEvent", "Downloading", 0, "Download", "CoreFuncStart", "null", false, false);
        m_install.retry = true;
        if (m_progress) m_progress->SetValue(0);
        m_progressValue = 0;
        BeginInstallTask();
        return;
    }
    OnFinishStartClick();
}

void InstallUIMainWnd::OpenAdviceLink() {
    m_log->AddUserLogEvent("Download", "8-2.ClickInstallLink", RetryLabel(), false);
    std::wstring url = WindowTexts::AdviceLinkAddress(m_install.AdviceLink(), m_configure->m_remotePaths,
                                                      m_configure->m_downloaderType);
    if (url.empty()) return;
    if (m_install.appendFileName) {
        wchar_t module[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, module, MAX_PATH);
        url = WindowTexts::AppendPackageSuffix(url, WindowTexts::FileNameOf(module));
    }
    LOG(INFO) << " Open Advice Url: " << TextCodec::WideToUtf8(url);
    WindowShell::Open(url);
}

std::wstring InstallUIMainWnd::GetInstallPath() {
    if (m_installPath.empty())
        m_installPath = WindowTexts::ComposeInstallPath(m_pathEdit ? m_pathEdit->GetText() : std::wstring(), m_softwareName);
    return m_installPath;
}

int InstallUIMainWnd::BrowseInstallFolder() {
    // The picker opens at the box's folder (or the nearest one above it that exists) and says
    // what it asks for, with the caption of the folder box.
    InstallFolder::PickerStart start{InstallFolder::PickerStartFolder(m_pathEdit ? m_pathEdit->GetText() : m_defaultFolder)};
    const std::wstring prompt = m_installPathText ? m_installPathText->GetText() : std::wstring();
    BROWSEINFOW info{};
    info.hwndOwner = GetForegroundWindow();
    info.ulFlags = 0x51;  // file-system folders only, new dialog style, edit box
    info.lpszTitle = prompt.empty() ? nullptr : prompt.c_str();
    info.lpfn = &InstallFolder::PickerCallback;
    info.lParam = reinterpret_cast<LPARAM>(&start);
    PIDLIST_ABSOLUTE picked = SHBrowseForFolderW(&info);
    if (!picked) return -1;
    wchar_t folder[MAX_PATH] = {};
    bool ok = SHGetPathFromIDListW(picked, folder) != FALSE;
    CoTaskMemFree(picked);
    if (!ok) return -1;
    return TakePickedFolder(folder);
}

int InstallUIMainWnd::TakePickedFolder(const std::wstring& folder) {
    const std::wstring text = WindowTexts::PickedFolderText(folder);
    // Too long for the installer: refused as a wrong folder, the box keeps what it had.
    if (!InstallFolder::InstallPathFits(WindowTexts::ComposeInstallPath(text, m_softwareName))) {
        LOG(INFO) << " Picked folder too long: " << text.size();
        ShowMessageBox(MsgPathError, L"");
        return -1;
    }
    UpdateSpaceLabels(folder);
    if (m_pathEdit) m_pathEdit->SetText(text);
    return 0;
}

bool InstallUIMainWnd::UpdateSpaceLabels(const std::wstring& folder) {
    ULARGE_INTEGER available{}, total{}, totalFree{};
    bool read = GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &totalFree) != FALSE;
    if (read) {
        m_freeSpaceGb = static_cast<float>(static_cast<double>(totalFree.QuadPart) / (1024.0 * 1024.0 * 1024.0));
        if (m_spaceFree) m_spaceFree->SetText(WindowTexts::FormatNumber(m_freeSpaceFormat, m_freeSpaceGb));
    }
    if (m_spaceNeed) m_spaceNeed->SetText(WindowTexts::FormatText(m_needSpaceFormat, m_pm.GetControlText(L"ProductSize")));
    return read;
}
