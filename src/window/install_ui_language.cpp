// The installer window's language: the first choice from the system, a change in the language
// combo, and every text, format and licence text of the language put on the window.
#include "window/install_ui_mainwnd.h"

#include <easylogging++.h>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Core/UIRichText.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "window/WindowLanguage.h"
#include "window/WindowTexts.h"

void InstallUIMainWnd::InitLanguage() {
    SelectLanguageItem(m_unattended.language >= 0 ? m_unattended.language : FuntionImpl::GetLanguageByLocalSystem());
    m_log->UpdateCommon(m_uiLanguage.load(), TextCodec::WideToUtf8(m_configure->softwareVersion()));
    ApplyLanguage();
    ResizeForSettings(true);
}

void InstallUIMainWnd::SelectLanguageItem(int32_t wanted) {
    std::vector<bool> visible;
    if (m_languageCombo)
        for (size_t i = 0; i < m_languageCombo->GetCount(); ++i) {
            DuiLib::CControlUI* item = m_languageCombo->GetItemAt(i);
            visible.push_back(item && item->IsVisible());
        }
    int32_t choice = WindowLanguage::ChooseLanguageItem(wanted, visible);
    m_uiLanguage = choice;
    if (m_languageCombo && !visible.empty()) m_languageCombo->SelectItem(choice, false, false);
}

void InstallUIMainWnd::OnItemSelect(DuiLib::TNotifyUI& msg) {
    if (!m_languageCombo || msg.pSender != m_languageCombo) return;
    int32_t selected = m_languageCombo->GetCurSel();
    if (selected < 0) return;
    m_uiLanguage = selected;
    m_log->UpdateCommon(selected, TextCodec::WideToUtf8(m_configure->softwareVersion()));
    LOG(INFO) << " ChangeLanguageTo: " << TextCodec::WideToUtf8(GetLanguageFileName(selected));
    ApplyLanguage();
}

void InstallUIMainWnd::ApplyLanguage() {
    const int32_t language = m_uiLanguage.load();
    // The script's own face for every text, and Arabic pages from the right.
    WindowLanguage::ApplyLanguageFace(m_pm, language);

    // 1. The licence text of the language and the height of its panel.
    ApplyLicenceText();

    // 2. Every text of "install_page" whose key names a control; the three formats are kept.
    ApplyInstallPageTexts();

    // 3. The space labels in the new language.
    if (m_spaceFree) m_spaceFree->SetText(WindowTexts::FormatNumber(m_freeSpaceFormat, m_freeSpaceGb));
    if (m_spaceNeed) m_spaceNeed->SetText(WindowTexts::FormatText(m_needSpaceFormat, m_pm.GetControlText(L"ProductSize")));

    // 4. The settings button and the licence link that stays in the licence row.
    if (m_installSetting) m_installSetting->SetVisible(true);
    if (DuiLib::CLabelUI* link = m_useNewLicense ? m_licenseLinkNew : m_licenseLink) link->SetVisible(true);

    // 5. Buttons without words are named in the language too.
    ApplyPictureButtonNames();
}

void InstallUIMainWnd::ApplyPictureButtonNames() {
    const int32_t language = m_uiLanguage.load();
    if (m_closeBtn) m_closeBtn->SetToolTip(WindowLanguage::GetLanguageText(L"install_page", L"install_closebtn", language));
    if (m_minBtn) m_minBtn->SetToolTip(WindowLanguage::GetLanguageText(L"install_page", L"install_minbtn", language));
    // A carousel dot is named by the first line of its picture's caption.
    for (size_t i = 0; i < m_dots.size(); ++i) {
        std::wstring caption = m_pm.GetControlText(L"anima_text_" + std::to_wstring(i + 1));
        size_t end = caption.find(L"{n}");
        m_dots[i]->SetToolTip(DuiLib::PlainText(DuiLib::ParseRichText(caption.substr(0, end))));
    }
}

void InstallUIMainWnd::ApplyLicenceText() {
    WindowLanguage::ApplyLicence(m_pm, m_uiLanguage.load(), m_siteId, m_useNewLicense);
}

void InstallUIMainWnd::ApplyInstallPageTexts() {
    WindowLanguage::InstallPageFormats formats{m_progressFormat, m_needSpaceFormat, m_freeSpaceFormat};
    if (!WindowLanguage::ApplyInstallPage(m_pm, m_uiLanguage.load(), formats)) {
        LOG(INFO) << " Language file without install_page: "
                  << TextCodec::WideToUtf8(GetLanguageFileName(m_uiLanguage.load()));
        return;
    }
    m_progressFormat = formats.progress;
    m_needSpaceFormat = formats.needSpace;
    m_freeSpaceFormat = formats.freeSpace;
}

bool InstallUIMainWnd::SaveProductLanguage() {
    if (!m_configure) return false;
    return WindowLanguage::SaveProductLanguage(m_configure->m_downloaderId, m_uiLanguage.load(), m_configure->m_softwareName);
}

std::wstring InstallUIMainWnd::GetLanguageFontName() { return GetLanguageFontFace(m_uiLanguage.load()); }
