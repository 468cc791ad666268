// InitWindow of the installer window: what happens between the layout being built and the
// window being shown, in this order: the analytics registration, the window state, the controls,
// the skin's configuration values, the licence row, the configuration record, the default
// folder, the early configuration thread, the progress event, the start log lines and events,
// the PC facts once per machine, the icon, the language, the taskbar progress and the automated
// mode's timer.
#include "window/InstallFolder.h"
#include "window/install_ui_mainwnd.h"

#include <process.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <easylogging++.h>

#include <cstdio>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Control/UIProgress.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "window/WindowLanguage.h"

namespace {

template <typename T>
T* Bind(DuiLib::CPaintManagerUI& pm, const wchar_t* name) {
    return dynamic_cast<T*>(pm.FindControl(name));
}

void Hide(DuiLib::CControlUI* control) {
    if (control) control->SetVisible(false);
}

}  // namespace

void InstallUIMainWnd::InitWindow() {
    // 1. The analytics object reaches the window (product version, language, progress) from now on.
    if (!m_log) m_log = CSingleUserLog::GetInstance();
    m_log->SetMainWindow(this);
    m_windowStartTick = GetTickCount();

    // 2. Window state.
    for (HANDLE& thread : m_threads) thread = nullptr;
    m_install.packageSize = 0;
    m_lastSuppressedMessage = -1;
    m_install.retry = false;
    m_install.appendFileName = true;
    m_frameCount = CountCarouselFrames();

    // 3. Controls.
    BindControls();
    Hide(m_failRetry);
    Hide(m_failAdvice);
    Hide(m_imgWarning);
    m_install.SetAdviceLink(std::wstring());

    // 4. The skin's configuration values.
    if (!m_pm.GetRoot() || m_pm.GetRoot()->GetCount() == 0)
        LOG(INFO) << " Main window layout missing from the skin; configuration labels are empty";
    ReadSkinValues();

    // 5. The licence box: ticked in the automated mode, else as the product asks.
    // An unattended run's licence is accepted by whoever gave the switch.
    if (m_licenseCheck)
        m_licenseCheck->SetCheck(IsUnattended() || FuntionImpl::IsAutoRun() || m_chooseLicense == 1, false);

    // 6. Exactly one licence link stays in the licence row.
    m_useNewLicense = m_newLicenseFlag == L"1";
    if (m_licenseArea) {
        DuiLib::CLabelUI*& removed = m_useNewLicense ? m_licenseLink : m_licenseLinkNew;
        if (removed && m_licenseArea->Remove(removed)) removed = nullptr;
    }

    // 7. The configuration record from the skin's labels (no fall-back), with the default links.
    m_configure.reset(new CConfigure(m_downloaderId, m_languageId, m_siteId));
    CConfigure::QueryTargets targets;
    targets.analytics = m_log;
    m_configure->setQueryTargets(targets);
    m_configure->loadFromConfigureXml(&m_pm, false);
    m_configure->loadDefaultLinks(&m_pm);
    m_configure->printContent();

    // 8. The run's stamp and work folder.
    m_startStamp = m_log->GetStartStamp();
    m_install.workFolder = m_log->GetWorkFolder();
    m_install.logFolder = m_log->GetLogFolder();

    // 9. The default install folder.
    wchar_t programFiles[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
    m_defaultFolder = std::wstring(programFiles) + L"\\Orbala";
    // A product installed before is updated where it is: a second copy elsewhere would orphan the
    // first (both share one uninstall entry). Its folder is then this machine's default.
    const std::wstring installed = InstallFolder::ReadInstalledFolder(m_softwareName);
    if (!installed.empty()) {
        LOG(INFO) << " Installed folder: " << TextCodec::WideToUtf8(installed);
        m_defaultFolder = installed;
    }
    // A folder given on the command line (/dir) wins: the administrator chose it.
    if (m_pathEdit) m_pathEdit->SetText(m_unattended.folder.empty() ? m_defaultFolder : m_unattended.folder);

    // 10. The download configuration is usually in before the user presses "install".
    m_threads[0] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &InstallUIMainWnd::AsyncGetCbsInfoThreadFunc, this, 0, nullptr));
    if (m_useNewLicense) StartPrivacyThread();

    // 11. The event that holds the success page until the progress bar has reached its end.
    // Unnamed: only this process's window and worker can set or reset it, never another setup.
    m_progressFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_install.progressFinish100 = m_progressFinished;
    if (m_progressFinished) {
        LOG(INFO) << " CreateEvent successfully ";
        ResetEvent(m_progressFinished);
    } else {
        LOG(INFO) << " CreateEvent failed with error " << GetLastError();
    }

    // 12.
    m_carouselInterval = 7000;

    // 13. Screen and run facts for the log.
    LogStartFacts();

    // 14. Start events.
    m_log->AddUserLogEvent("CrashRate", "Start", "", false);
    m_log->AddUserLog_funnel("Keypoint", "null", 0, "CorePublicModule", "Start", "null", false, false);

    // 15.
    SendPcFactsOnce();

    // 16. Launch events.
    m_log->AddUserLogEvent("Download", "1.Launch", "", false);
    m_log->AddUserLog_funnel("CoreFuncEvent", "BeforeDownload", 0, "Download", "CoreFuncStart", "null", false, false);
    m_log->AddUserLog_funnel("CoreFuncEvent", "BeforeDownload", 1, "Download", "Launch", "null", false, false);
    m_log->AddUserLog_funnel("CoreFuncEvent", "BeforeDownload", 0, "Download", "CoreFuncEnd", "null", false, false);

    // 17.
    SetIcon(143);

    // 18. The language from the system; the window starts collapsed.
    InitLanguage();

    // 19.
    m_log->AddUserLogEvent("Other", "ClickToShowTime", std::to_string(GetTickCount() - m_windowStartTick), false);

    // 20. The taskbar button's progress.
    ITaskbarList3* taskbar = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_ALL, IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar)))) {
        if (SUCCEEDED(taskbar->HrInit())) m_taskbar = taskbar;
        else taskbar->Release();
    }

    // The setting page's default button: Enter installs.
    FocusPageDefault();

    // 21. The automated mode presses "install" by itself; an unattended run at once.
    if (IsUnattended()) {
        PostMessageW(m_hWnd, kMsgUnattendedStart, 0, 0);
    } else if (FuntionImpl::IsAutoRun()) {
        ::SetTimer(m_hWnd, kAutoInstallTimer, 2000, nullptr);
    }
}

void InstallUIMainWnd::BindControls() {
    m_closeBtn = Bind<DuiLib::CButtonUI>(m_pm, L"closebtn");
    m_minBtn = Bind<DuiLib::CButtonUI>(m_pm, L"minbtn");
    m_mainTab = Bind<DuiLib::CTabLayoutUI>(m_pm, L"main_tablayout");
    m_pathEdit = Bind<DuiLib::CEditUI>(m_pm, L"install_file_path_edit");
    m_progress = Bind<DuiLib::CProgressUI>(m_pm, L"install_progress");
    m_progressLabel = Bind<DuiLib::CLabelUI>(m_pm, L"install_label");
    m_spaceFree = Bind<DuiLib::CLabelUI>(m_pm, L"space_free");
    m_spaceNeed = Bind<DuiLib::CLabelUI>(m_pm, L"space_need");
    m_installSetting = Bind<DuiLib::CButtonUI>(m_pm, L"install_setting");
    m_licenseLink = Bind<DuiLib::CLabelUI>(m_pm, L"license_link");
    m_licenseLinkNew = Bind<DuiLib::CLabelUI>(m_pm, L"license_link_new");
    m_licenseCheck = Bind<DuiLib::CCheckBoxUI>(m_pm, L"license_checkbox");
    m_improvementCheck = Bind<DuiLib::CCheckBoxUI>(m_pm, L"agree_improvement_checkbox");
    m_setTab = Bind<DuiLib::CTabLayoutUI>(m_pm, L"set_layout");
    m_pageTab = Bind<DuiLib::CTabLayoutUI>(m_pm, L"page_layout");
    m_installBtn = Bind<DuiLib::CButtonUI>(m_pm, L"install_btn");
    m_licenseEnglish = m_pm.FindControl(L"license_english");
    m_licenseJapanese = m_pm.FindControl(L"license_japanese");
    m_licenseText = Bind<DuiLib::CLabelUI>(m_pm, L"license_text");
    m_licenseTextLayout = m_pm.FindControl(L"license_text_layout");
    m_licenseArea = Bind<DuiLib::CContainerUI>(m_pm, L"license_area");
    m_languageCombo = Bind<DuiLib::CComboUI>(m_pm, L"language_combox");
    m_failRetry = m_pm.FindControl(L"text_fail_retry");
    m_failAdvice = m_pm.FindControl(L"text_fail_advice");
    m_imgWarning = m_pm.FindControl(L"img_warning");
    m_startApp = Bind<DuiLib::CButtonUI>(m_pm, L"start_app");
    m_startShortcut = m_pm.FindControl(L"text_startshortcut");
    m_selectLanguageText = m_pm.FindControl(L"select_language_text");
    m_installPathText = m_pm.FindControl(L"install_path_text");
    m_browseBtn = Bind<DuiLib::CButtonUI>(m_pm, L"browser_btn");
    m_imagePlay = m_pm.FindControl(L"image_play");
    m_background = m_pm.FindControl(L"backgroudlayout");
    m_dots.clear();
    for (int i = 1;; ++i) {
        auto* dot = Bind<DuiLib::COptionUI>(m_pm, (L"image_play_option" + std::to_wstring(i)).c_str());
        if (!dot) break;
        m_dots.push_back(dot);
    }
}

int InstallUIMainWnd::CountCarouselFrames() {
    int count = 0;
    wchar_t name[64] = {};
    for (;;) {
        std::swprintf(name, 64, L"skin\\anima\\%d.png", count + 1);
        // Counted by the skin's files; they are decoded when the carousel first shows them.
        if (!m_pm.GetImageCache().Has(name)) break;
        ++count;
    }
    return count;
}

void InstallUIMainWnd::ReadSkinValues() {
    auto text = [this](const wchar_t* key) { return m_pm.GetControlText(key); };
    auto number = [&](const wchar_t* key) { return FuntionImpl::ParseLeadingInt(text(key)); };
    m_downloaderId = number(L"Downloader_id");
    m_siteId = number(L"Site_id");
    m_languageId = number(L"Language_id");
    m_gifDuration = number(L"Gif_duration");
    m_needStartFlag = number(L"NeedStart_flag");
    m_chooseLicense = number(L"ChooseLicense");
    m_suggestSsd = number(L"SuggestSSD");
    m_adminFlag = number(L"admin_flag");
    m_softwareName = text(L"Software_name");
    m_extraDownloadUrl = text(L"Extra_download_url");
    m_mainPid = number(L"MainPid");
    m_newLicenseFlag = text(L"NewLicenseFlag");
    // What the install worker is given by the window.
    m_install.downloaderId = m_downloaderId;
    // An unattended run installs only: the product is not started in the administrator's
    // elevated session.
    if (IsUnattended()) m_needStartFlag = 0;
    m_install.unattended = IsUnattended();
    m_install.needStartFlag = m_needStartFlag;
}

void InstallUIMainWnd::LogStartFacts() {
    m_screenWidth = GetSystemMetrics(SM_CXSCREEN);
    m_screenHeight = GetSystemMetrics(SM_CYSCREEN);
    double scale = FuntionImpl::GetScreenResolution(m_screenWidth, m_screenHeight);

    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    FuntionImpl::FileVersionStrings version = FuntionImpl::GetFileVersionStrings(module);
    LOG(INFO) << " Downloader info: " << TextCodec::WideToUtf8(version.productVersion) << "("
              << TextCodec::WideToUtf8(version.productName) << "), 64Bit: " << (FuntionImpl::Is64BitSystem() ? "True" : "False")
              << ", proc_id=" << GetCurrentProcessId();
    LOG(INFO) << " Screen: " << m_screenWidth << "*" << m_screenHeight << ", " << scale;
    LOG(INFO) << " CurUid is: " << TextCodec::WideToUtf8(FuntionImpl::GetSystemVolumeGuid());
    LOG(INFO) << " Request For Product Config -- "
              << "[Downloader Id]: " << m_downloaderId << " [Site Id]: " << m_siteId << " [Language Id]: " << m_languageId;
}

void InstallUIMainWnd::SendPcFactsOnce() {
    const std::wstring key = L"SOFTWARE\\" + WindowLanguage::VendorKey() + L"\\Downloader2.5.0";
    if (!FuntionImpl::ReadMachineRegString(key, L"GA_PC").empty()) return;
    float osVersion = 0;
    std::string os = FuntionImpl::GetOSVersionName(osVersion) + (FuntionImpl::Is64BitSystem() ? " 64bit" : " 32bit");
    m_log->AddUserLogEvent("PC", "SysOS", os, false);
    m_log->AddUserLogEvent("PC", "SysLanguage", FuntionImpl::GetUILanguageName(), false);
    char resolution[32] = {};
    std::snprintf(resolution, sizeof(resolution), "%d*%d", m_screenWidth, m_screenHeight);
    m_log->AddUserLogEvent("PC", "SysScreenResolution", resolution, false);
    FuntionImpl::WriteMachineRegString(key, L"GA_PC", L"1");
}
