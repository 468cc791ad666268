// The installer window under Wine and the virtual display, driven as a user drives it: mouse
// presses where the layout draws the controls and links, keys, and answers to the message boxes
// it asks. Each test asserts the controls' state, the events the window sends (a recording report
// object behind the analytics object) and its log lines.
#include <gtest/gtest.h>

#include <json/json.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/JsonText.h"
#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "support/analytics_identity.h"
#include "support/control_text_asker.h"
#include "support/log_capture.h"
#include "support/recording_report.h"
#include "support/skin_archive.h"
#include "support/test_support.h"
#include "support/window_driver.h"
#include "window/MessageBoxKinds.h"
#include "window/WindowLanguage.h"
#include "window/WindowShell.h"
#include "window/WindowTexts.h"
#include "config/CConfigure.h"
#include "window/install_ui_mainwnd.h"

using namespace window_driver;

namespace {

std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }

std::vector<std::pair<std::wstring, std::wstring>> g_opened;
void RecordOpen(const std::wstring& file, const std::wstring& parameters) { g_opened.emplace_back(file, parameters); }

// Messages 2943 (clear the downloaded data) that reached the installer window.
int g_clearDataMessages = 0;
HHOOK g_hook = nullptr;
LRESULT CALLBACK WatchPosted(int code, WPARAM wParam, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code >= 0 && wParam == PM_REMOVE && msg->message == MessageBoxKinds::kMsgClearAppData) ++g_clearDataMessages;
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

// A subclass that lets the test reach the window's paint manager and controls.
class TestWindow : public InstallUIMainWnd {
public:
    DuiLib::CPaintManagerUI& Pm() { return m_pm; }
    DuiLib::CControlUI* Find(const wchar_t* name) { return m_pm.FindControl(name); }
    std::wstring Text(const wchar_t* name) {
        DuiLib::CControlUI* c = Find(name);
        return c ? c->GetText() : L"<missing>";
    }
    bool Visible(const wchar_t* name) {
        DuiLib::CControlUI* c = Find(name);
        return c && c->IsVisible();
    }
    int TabPage(const wchar_t* name) {
        auto* tab = dynamic_cast<DuiLib::CTabLayoutUI*>(Find(name));
        return tab ? tab->GetCurSel() : -1;
    }
    bool LicenceTicked() {
        auto* box = dynamic_cast<DuiLib::CCheckBoxUI*>(Find(L"license_checkbox"));
        return box && box->GetCheck();
    }
    int Height() {
        RECT rc{};
        GetWindowRect(m_hWnd, &rc);
        return MulDiv(rc.bottom - rc.top, 100, m_pm.GetScale());
    }
    int Progress() const { return m_progressValue.load(); }
    // Install worker starts; the installation itself stays out of these tests.
    int workerStarts = 0;

protected:
    void StartInstallWorker() override { ++workerStarts; }
};

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetMainWindowClassName(L"QV_UI_Frame_main_window_test");
        WindowShell::SetOpenHook(&RecordOpen);
        g_hook = SetWindowsHookExW(WH_GETMESSAGE, &WatchPosted, nullptr, GetCurrentThreadId());
    }
    static void TearDownTestSuite() {
        WindowShell::SetOpenHook(nullptr);
        if (g_hook) UnhookWindowsHookEx(g_hook);
    }
    void SetUp() override {
        DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str());
        g_opened.clear();
        g_clearDataMessages = 0;
    }
    void TearDown() override {
        Close();
        DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str());
    }

    // Opens the window over the source skin with some configuration labels changed.
    void Open(const std::map<std::string, std::string>& labels = {}) {
        ASSERT_TRUE(test_support::UseSourceSkinWith(labels));
        log_.reset(new CSingleUserLog(&report_, TestIdentity(), nullptr));
        log_->InitReport(486, 61, "1.0.0.0", "Orbala Lumeno", "http://127.0.0.1/d.exe", false, 3086);
        window_.reset(new TestWindow());
        window_->SetAnalytics(log_.get());
        ASSERT_TRUE(window_->Create(nullptr, L"Orbala Lumeno", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 600, 400));
        window_->CenterWindow();
        window_->ShowWindow(true, true);
        Pump(300);
    }
    void Close() {
        if (!window_) return;
        if (IsWindow(window_->GetHWND())) DestroyWindow(window_->GetHWND());
        Pump(50);
        window_->WaitForAllThreadExit();
        window_.reset();
        log_.reset();
    }
    HWND Hwnd() { return window_->GetHWND(); }
    void ClickAndPump(const wchar_t* name, DWORD ms = 300) {
        ASSERT_TRUE(Click(Hwnd(), name)) << N(name);
        Pump(ms);
    }

    // The GA4 events sent, as "category/action/label".
    std::vector<std::string> Ga4(size_t fromCall = 0) {
        std::vector<std::string> events;
        std::vector<RecordingReport::Call> calls = report_.Calls();
        for (size_t i = fromCall; i < calls.size(); ++i) {
            const RecordingReport::Call& call = calls[i];
            if (call.slot != "ReportGa4") continue;
            auto field = [&](const std::string& name) {
                size_t at = call.text.find("&ep.qv_" + name + "=");
                if (at == std::string::npos) return std::string();
                at += name.size() + 8;
                return call.text.substr(at, call.text.find('&', at) - at);
            };
            events.push_back(field("category") + "/" + field("action") + "/" + field("label"));
        }
        return events;
    }
    int CountGa4(const std::string& event) {
        int n = 0;
        for (const auto& e : Ga4()) n += e == event;
        return n;
    }
    // Funnel bodies holding the member key with the value (anywhere in the body).
    int CountFunnel(const std::string& key, const std::string& value) {
        std::function<bool(const Json::Value&)> holds = [&](const Json::Value& v) {
            if (v.isObject()) {
                if (v.isMember(key) && v[key].isString() && v[key].asString() == value) return true;
                for (const auto& name : v.getMemberNames())
                    if (holds(v[name])) return true;
            } else if (v.isArray()) {
                for (const auto& item : v)
                    if (holds(item)) return true;
            }
            return false;
        };
        int n = 0;
        for (const auto& call : report_.Calls()) {
            if (call.slot != "ReportEvent") continue;
            Json::Value body;
            if (JsonText::Parse(call.text, body) && holds(body)) ++n;
        }
        return n;
    }
    std::wstring LanguageText(const wchar_t* page, const wchar_t* key, int32_t language) {
        return WindowLanguage::GetLanguageText(page, key, language);
    }

    RecordingReport report_;
    std::unique_ptr<CSingleUserLog> log_;
    std::unique_ptr<TestWindow> window_;
};

}  // namespace

TEST_F(MainWindowTest, StartsCollapsedInEnglishWithItsStartFactsAndEvents) {
    LogCapture log;
    Open();
    EXPECT_EQ(window_->Height(), 360);
    EXPECT_EQ(window_->GetLanguage(), English);  // the prefix's UI language is 1033
    EXPECT_EQ(N(window_->Text(L"install_btn")), "Install");
    EXPECT_EQ(window_->TabPage(L"main_tablayout"), 0);
    EXPECT_EQ(window_->TabPage(L"page_layout"), 0);
    EXPECT_FALSE(window_->Visible(L"text_fail_retry"));
    EXPECT_FALSE(window_->Visible(L"text_fail_advice"));
    EXPECT_FALSE(window_->Visible(L"img_warning"));
    EXPECT_TRUE(window_->LicenceTicked());  // ChooseLicense 1
    // The old licence row: only license_link stays.
    EXPECT_NE(window_->Find(L"license_link"), nullptr);
    EXPECT_EQ(window_->Find(L"license_link_new"), nullptr);
    // The default folder: program files and "Orbala".
    std::wstring folder = window_->Text(L"install_file_path_edit");
    EXPECT_EQ(folder.substr(folder.size() - 7), L"\\Orbala");
    // The licence text of English, its panel at least the built-in height.
    EXPECT_EQ(window_->Text(L"license_text"), window_->Text(L"license_english"));
    EXPECT_GE(window_->Find(L"license_text_layout")->GetFixedHeight(), 1370 + 170);

    EXPECT_TRUE(log.contains(" Downloader info: ")) << log.dump();
    EXPECT_TRUE(log.contains(", proc_id="));
    EXPECT_TRUE(log.contains(" Screen: "));
    EXPECT_TRUE(log.contains(" CurUid is: "));
    EXPECT_EQ(log.countExact(" Request For Product Config -- [Downloader Id]: 486 [Site Id]: 61 [Language Id]: 1033"), 1);
    EXPECT_EQ(log.countExact(" CreateEvent successfully "), 1);
    EXPECT_EQ(log.countExact(" GetLanguageByLocalSystem: 1033"), 1);

    // Start, launch and show-time events in their order.
    std::vector<std::string> events = Ga4();
    auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    ASSERT_LT(at("CrashRate/Start/"), static_cast<long>(events.size()));
    EXPECT_LT(at("CrashRate/Start/"), at("Download/1.Launch/"));
    ASSERT_LT(at("Download/1.Launch/"), static_cast<long>(events.size()));
    bool shown = false;
    for (const auto& e : events) shown = shown || e.rfind("Other/ClickToShowTime/", 0) == 0;
    EXPECT_TRUE(shown);
    EXPECT_GE(CountFunnel("event_action", "Launch"), 1);
    // The PC facts are sent once per machine: afterwards the marker is there.
    std::wstring key = L"SOFTWARE\\" + WindowLanguage::VendorKey() + L"\\Downloader2.5.0";
    EXPECT_EQ(N(FuntionImpl::ReadMachineRegString(key, L"GA_PC")), "1");
}

TEST_F(MainWindowTest, PcFactsGoOutOnlyWhenTheMachineHasNoMarker) {
    std::wstring key = L"SOFTWARE\\" + WindowLanguage::VendorKey() + L"\\Downloader2.5.0";
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
        RegDeleteValueW(h, L"GA_PC");
        RegCloseKey(h);
    }
    Open();
    int os = 0;
    for (const auto& e : Ga4()) os += e.rfind("PC/SysOS/", 0) == 0;
    EXPECT_EQ(os, 1);
    EXPECT_EQ(CountGa4("PC/SysScreenResolution/" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "*" +
                       std::to_string(GetSystemMetrics(SM_CYSCREEN))), 1);
    Close();
    size_t before = report_.Calls().size();
    Open();
    for (const auto& e : Ga4(before)) EXPECT_NE(e.rfind("PC/", 0), 0u) << e;
}

TEST_F(MainWindowTest, UntickedLicenceAsksAndOnlyAgreementInstalls) {
    LogCapture log;
    Open({{"ChooseLicense", "0"}});
    ASSERT_FALSE(window_->LicenceTicked());
    BoxAnswerer answers;

    // "Disagree": the licence stays unticked and nothing more happens.
    answers.Answer(L"btn_no");
    ClickAndPump(L"install_btn", 800);
    ASSERT_EQ(answers.Seen().size(), 1u);
    const SeenBox& box = answers.Seen()[0];
    EXPECT_EQ(N(box.describe), "To protect your interests and rights, please read and agree to the license agreement");
    EXPECT_EQ(N(box.yes), "Agree and Install");
    EXPECT_EQ(N(box.no), "Disagree");
    EXPECT_TRUE(box.noVisible);
    EXPECT_EQ(box.owner, Hwnd());
    EXPECT_FALSE(window_->LicenceTicked());
    EXPECT_EQ(CountFunnel("PrivacyAgreementPopupType", "Disagree"), 1);
    EXPECT_EQ(CountGa4("Download/2.DownStart/"), 1);
    EXPECT_EQ(CountGa4("Other/SetLanguage/English"), 0);
    EXPECT_EQ(log.countExact(" ShowMsgBox: 14"), 1);

    // "Agree and Install": ticked, and the install click goes on to the checks.
    answers.Answer(L"btn_yes");
    ClickAndPump(L"install_btn", 800);
    ASSERT_EQ(answers.Seen().size(), 2u);
    EXPECT_TRUE(window_->LicenceTicked());
    EXPECT_EQ(CountFunnel("PrivacyAgreementPopupType", "Agree and install"), 1);
    EXPECT_EQ(CountGa4("Other/SetLanguage/English"), 1);
    EXPECT_EQ(CountGa4("Other/SetPath/"), 0);  // the default folder
    int dates = 0;
    for (const auto& e : Ga4()) dates += e.rfind("Download/StartTimeDate/", 0) == 0;
    EXPECT_EQ(dates, 1);

    // The checks passed: the worker started on the running page.
    EXPECT_EQ(window_->workerStarts, 1);
    EXPECT_EQ(window_->TabPage(L"main_tablayout"), 1);

    // Back on the setting page, a third click no longer asks and sends the start date no more.
    dynamic_cast<DuiLib::CTabLayoutUI*>(window_->Find(L"main_tablayout"))->SelectItem(0);
    dynamic_cast<DuiLib::CTabLayoutUI*>(window_->Find(L"page_layout"))->SelectItem(0);
    Pump(100);
    ClickAndPump(L"install_btn", 500);
    EXPECT_EQ(answers.Seen().size(), 2u);
    dates = 0;
    for (const auto& e : Ga4()) dates += e.rfind("Download/StartTimeDate/", 0) == 0;
    EXPECT_EQ(dates, 1);
    EXPECT_EQ(CountGa4("Other/SetLanguage/English"), 2);
    EXPECT_EQ(CountGa4("Download/2.DownStart/"), 3);
}

TEST_F(MainWindowTest, ChangedFolderSendsSetPath) {
    Open();
    auto* edit = dynamic_cast<DuiLib::CEditUI*>(window_->Find(L"install_file_path_edit"));
    ASSERT_NE(edit, nullptr);
    edit->SetText(edit->GetText() + L"2");
    ClickAndPump(L"install_btn");
    EXPECT_EQ(CountGa4("Other/SetPath/"), 1);
    // The install folder is fixed by its first use; the product name is appended.
    std::wstring path = window_->GetInstallPath();
    EXPECT_EQ(path, edit->GetText() + L"\\Orbala Lumeno");
    edit->SetText(L"D:\\Apps");
    EXPECT_EQ(window_->GetInstallPath(), path);
}

TEST_F(MainWindowTest, SettingsPanelOpensClosesAndSwitchesToTheLicence) {
    Open();
    ASSERT_EQ(window_->Height(), 360);
    ClickAndPump(L"install_setting");
    EXPECT_EQ(window_->Height(), 560);
    EXPECT_EQ(window_->TabPage(L"set_layout"), 1);
    EXPECT_TRUE(window_->Visible(L"language_combox"));
    ClickAndPump(L"install_setting");
    EXPECT_EQ(window_->Height(), 360);

    // Settings open, then the licence link: the panel shows the licence text and stays open.
    ClickAndPump(L"install_setting");
    ASSERT_EQ(window_->Height(), 560);
    ASSERT_TRUE(ClickLink(Hwnd(), L"license_link", 0));
    Pump(300);
    EXPECT_EQ(window_->Height(), 560);
    EXPECT_EQ(window_->TabPage(L"set_layout"), 0);
    EXPECT_TRUE(window_->Visible(L"license_text"));
    // The licence link again closes it.
    ASSERT_TRUE(ClickLink(Hwnd(), L"license_link", 0));
    Pump(300);
    EXPECT_EQ(window_->Height(), 360);
}

TEST_F(MainWindowTest, LanguageChangeRelabelsEveryText) {
    LogCapture log;
    Open();
    ClickAndPump(L"install_setting");
    // Open the language list with the mouse, go down two items with the keyboard, take it.
    ClickAndPump(L"language_combox");
    PostKey(Hwnd(), VK_DOWN);
    PostKey(Hwnd(), VK_DOWN);
    PostKey(Hwnd(), VK_RETURN);
    Pump(500);
    ASSERT_EQ(window_->GetLanguage(), Chinese);
    EXPECT_EQ(log.countExact(" ChangeLanguageTo: language_chinese.xml"), 1);
    // Every key of the Chinese install page that names a control now carries its text.
    WindowLanguage::Labels labels;
    ASSERT_TRUE(WindowLanguage::LoadPage(Chinese, L"install_page", labels));
    int relabelled = 0;
    for (const auto& label : labels) {
        DuiLib::CControlUI* control = window_->Find(label.first.c_str());
        // The two space labels show their formats filled in.
        if (!control || label.first == L"space_free" || label.first == L"space_need") continue;
        EXPECT_EQ(control->GetText(), label.second) << N(label.first);
        ++relabelled;
    }
    EXPECT_GE(relabelled, 10);
    EXPECT_NE(window_->Text(L"install_btn"), L"Install");
    EXPECT_EQ(window_->Text(L"license_text"), window_->Text(L"license_chinese"));
    // Site 61: the Chinese licence panel is at least 1095 + 170 high.
    EXPECT_GE(window_->Find(L"license_text_layout")->GetFixedHeight(), 1095 + 170);
    // The report object hears of the new language.
    bool common = false;
    for (const auto& call : report_.Calls()) common = common || (call.slot == "SetExtraCommon" && call.text.find("zh-cn") != std::string::npos);
    EXPECT_TRUE(common);
    // The install click reports the language by its event name.
    ClickAndPump(L"install_setting");
    ClickAndPump(L"install_btn");
    EXPECT_EQ(CountGa4("Other/SetLanguage/Chinese"), 1);
}

TEST_F(MainWindowTest, LanguageTableCasesOnTheRealCombo) {
    Open();
    struct Case {
        int32_t wanted;
        int32_t chosen;
    } cases[] = {{Russian, Russian}, {Malay, English}, {Vietnamese, English}, {Thai, Thai}, {99, English}};
    for (const Case& c : cases) {
        window_->SelectLanguageItem(c.wanted);
        window_->ApplyLanguage();
        EXPECT_EQ(window_->GetLanguage(), c.chosen) << c.wanted;
        EXPECT_EQ(window_->Text(L"install_btn"), LanguageText(L"install_page", L"install_btn", c.chosen)) << c.wanted;
    }
    window_->SelectLanguageItem(Russian);
    window_->ApplyLanguage();
    EXPECT_EQ(window_->Text(L"license_text"), window_->Text(L"license_russian"));
    EXPECT_GE(window_->Find(L"license_text_layout")->GetFixedHeight(), 1445 + 170);
    EXPECT_EQ(N(window_->GetLanguageFontName()), "Times New Roman");
}

TEST_F(MainWindowTest, LicenceHeightOverrideAppliesToTheOldRowOnly) {
    Open({{"LicenseHeightLang00", "3000"}});
    EXPECT_EQ(window_->Find(L"license_text_layout")->GetFixedHeight(), 3000 + 170);
    Close();
    Open({{"LicenseHeightLang00", "3000"}, {"NewLicenseFlag", "1"}});
    EXPECT_LT(window_->Find(L"license_text_layout")->GetFixedHeight(), 3000);
}

TEST_F(MainWindowTest, NewLicenceRowOpensPrivacyAndLicencePages) {
    LogCapture log;
    Open({{"NewLicenseFlag", "1"}, {"LicenseUrl", "https://example.com/licence"}, {"PrivacyUrl", "https://example.com/privacy"}});
    EXPECT_EQ(window_->Find(L"license_link"), nullptr);
    ASSERT_NE(window_->Find(L"license_link_new"), nullptr);
    EXPECT_TRUE(window_->Visible(L"license_link_new"));
    ASSERT_TRUE(ClickLink(Hwnd(), L"license_link_new", 0));
    Pump(300);
    ASSERT_TRUE(ClickLink(Hwnd(), L"license_link_new", 1));
    Pump(300);
    ASSERT_EQ(g_opened.size(), 2u);
    EXPECT_EQ(N(g_opened[0].first), "https://example.com/privacy");
    EXPECT_EQ(N(g_opened[1].first), "https://example.com/licence");
    EXPECT_TRUE(log.contains(" Open Privacy Url: https://example.com/privacy"));
    EXPECT_TRUE(log.contains(" Open License Url: https://example.com/licence"));
}

TEST_F(MainWindowTest, LinksThatAreNoWebPagesAreRefused) {
    // The links come from the data service's reply: a file, a share or a program must never
    // reach the shell of the elevated setup.
    LogCapture log;
    Open({{"NewLicenseFlag", "1"}, {"LicenseUrl", "\\\\127.0.0.1\\share\\terms.exe"},
          {"PrivacyUrl", "file:///C:/Windows/System32/calc.exe"}});
    ASSERT_TRUE(ClickLink(Hwnd(), L"license_link_new", 0));
    Pump(300);
    ASSERT_TRUE(ClickLink(Hwnd(), L"license_link_new", 1));
    Pump(300);
    EXPECT_TRUE(g_opened.empty());
    EXPECT_TRUE(log.contains(" Url refused: file:///C:/Windows/System32/calc.exe")) << log.dump();
    EXPECT_TRUE(log.contains(" Url refused: \\\\127.0.0.1\\share\\terms.exe")) << log.dump();
}

TEST_F(MainWindowTest, AdviceLinkOpensTheDownloadWithThePackageSuffix) {
    LogCapture log;
    Open();
    // The failure page, as a failed download leaves it.
    dynamic_cast<DuiLib::CTabLayoutUI*>(window_->Find(L"page_layout"))->SelectItem(1);
    for (const wchar_t* name : {L"text_fail_retry", L"text_fail_advice", L"img_warning"}) window_->Find(name)->SetVisible(true);
    Pump(100);
    // The configuration as a reply from the service leaves it: type 2 takes the first address
    // on a content-delivery host, and there is none, so the link opens nothing.
    window_->WaitForAllThreadExit();  // the early configuration query is over
    CConfigure* config = window_->GetConfigure();
    config->m_downloaderType = 2;
    config->m_remotePaths = {L"https://www.example.com/OrbalaLumeno_Setup.exe"};
    ASSERT_TRUE(ClickLink(Hwnd(), L"text_fail_advice", 0));
    Pump(300);
    EXPECT_EQ(g_opened.size(), 0u);
    EXPECT_EQ(CountGa4("Download/8-2.ClickInstallLink/First"), 1);
    // Type 3 takes the first address that is not on one.
    config->m_downloaderType = 3;
    config->m_remotePaths = {L"https://cdn.example.com/a.exe", L"http://127.0.0.1:47080/download/OrbalaLumeno_Setup.exe"};
    ASSERT_TRUE(ClickLink(Hwnd(), L"text_fail_advice", 0));
    Pump(300);
    ASSERT_EQ(g_opened.size(), 1u);
    // The test program's own name, main_window_test.exe, carries the suffix.
    EXPECT_EQ(N(g_opened[0].first),
              "http://127.0.0.1:47080/download/OrbalaLumeno_Setup.exe?rnclid=test&package=main_window_test.exe");
    EXPECT_TRUE(log.contains(" Open Advice Url: http://127.0.0.1:47080/download/OrbalaLumeno_Setup.exe?rnclid=test"));
    EXPECT_EQ(CountGa4("Download/8-2.ClickInstallLink/First"), 2);
    // The address the install worker chose wins over the configuration's.
    window_->InstallState().SetAdviceLink(L"https://chosen.example.com/p.exe");
    ASSERT_TRUE(ClickLink(Hwnd(), L"text_fail_advice", 0));
    Pump(300);
    ASSERT_EQ(g_opened.size(), 2u);
    EXPECT_EQ(N(g_opened[1].first), "https://chosen.example.com/p.exe?rnclid=test&package=main_window_test.exe");

    // "Try again" on the failure page: its events, the retry flag, the bar back at 0. Each retry
    // runs the installation again, and a failed download brings the failure page back.
    BoxAnswerer answers;
    auto failAgain = [&] {
        answers.Answer(L"btn_yes");
        PostMessageW(Hwnd(), kMsgDownloadFailed, 9, 0);
        EXPECT_TRUE(PumpUntil([&] { return window_->Visible(L"text_fail_retry"); }, 3000));
        Pump(100);
    };
    ClickAndPump(L"start_app");
    EXPECT_EQ(CountGa4("Download/8-1.ClickTryAgain/First"), 1);
    failAgain();
    ClickAndPump(L"start_app");
    EXPECT_EQ(CountGa4("Download/8-1.ClickTryAgain/Retry"), 1);
    failAgain();
    ASSERT_TRUE(ClickLink(Hwnd(), L"text_fail_advice", 0));
    Pump(300);
    EXPECT_EQ(CountGa4("Download/8-2.ClickInstallLink/Retry"), 1);
}

TEST_F(MainWindowTest, EveryMessageBoxKindShowsItsTextsAndAnswers) {
    Open();
    struct Case {
        int32_t kind;
        const wchar_t* answer;
        int32_t result;
        bool clearsData;
    } cases[] = {
        {MsgReplace, L"btn_no", 2, false},       {MsgAppExist, L"btn_yes", 1, false},
        {MsgPathError, L"closebtn", 2, false},   {MsgInstallRunTimeOut, L"btn_yes", 1, true},
        {MsgMD5Fail, L"closebtn", 2, true},      {MsgUrlFail, L"btn_yes", 1, false},
        {MsgUrlFail, L"closebtn", 2, false},     {MsgInternetFail, L"btn_yes", 1, false},
        {MsgInternetTimeout, L"btn_yes", 1, false}, {MsgNoEnoughSpace, L"btn_yes", 1, false},
        {MsgClickShortcut, L"btn_yes", 1, false}, {MsgNotSupportSystem, L"btn_yes", 1, false},
        {MsgAgree, L"btn_no", 2, false},         {MsgSuggestSSD, L"btn_yes", 1, false},
        {MsgPlainDown, L"btn_yes", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " " + N(c.answer));
        BoxAnswerer answers;
        answers.Answer(c.answer);
        g_clearDataMessages = 0;
        EXPECT_EQ(window_->ShowMessageBox(c.kind, L"E"), c.result);
        Pump(50);
        ASSERT_EQ(answers.Seen().size(), 1u);
        const SeenBox& seen = answers.Seen()[0];
        EXPECT_EQ(seen.owner, Hwnd());
        EXPECT_EQ(g_clearDataMessages, c.clearsData ? 1 : 0);
        if (c.kind == MsgPlainDown) continue;  // the layout's own texts
        const MessageBoxKinds::KindRow& row = MessageBoxKinds::Row(c.kind);
        std::wstring describe = LanguageText(L"message_page", row.describe, English);
        if (c.kind == MsgSuggestSSD) describe.replace(describe.find(L"**1**"), 5, L"E");
        EXPECT_EQ(seen.describe, describe);
        EXPECT_EQ(seen.yes, LanguageText(L"message_page", row.firstButton, English));
        EXPECT_EQ(seen.noVisible, row.secondVisible);
        if (row.secondVisible) {
            EXPECT_EQ(seen.no, LanguageText(L"message_page", row.secondButton, English));
        }
        EXPECT_EQ(seen.icon, row.icon);
    }
    // The window is still there and visible after all of them.
    EXPECT_TRUE(IsWindowVisible(Hwnd()));
}

TEST_F(MainWindowTest, MessageBoxesSpeakTheWindowsLanguage) {
    Open();
    window_->SelectLanguageItem(German);
    window_->ApplyLanguage();
    BoxAnswerer answers;
    answers.Answer(L"btn_yes");
    EXPECT_EQ(window_->ShowMessageBox(MsgInternetFail, L""), 1);
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].describe, LanguageText(L"message_page", L"InternetFailDesText", German));
    EXPECT_EQ(answers.Seen()[0].yes, LanguageText(L"message_page", L"ConfirmText", German));
}

TEST_F(MainWindowTest, CloseButtonAsksAndNoKeepsTheWindow) {
    Open();
    BoxAnswerer answers;
    // The title-bar close button: "No" keeps the window.
    answers.Answer(L"btn_no");
    ClickAndPump(L"closebtn", 800);
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(N(answers.Seen()[0].describe), "{f 1}Are you sure to cancel installation?{/c}{/f}");
    EXPECT_TRUE(IsWindow(Hwnd()));
    EXPECT_TRUE(IsWindowVisible(Hwnd()));
    // Esc on the keyboard is the close button too: "Yes" hides the window at once and closes it.
    answers.Answer(L"btn_yes");
    PostKey(Hwnd(), VK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return answers.Seen().size() == 2; }, 3000));
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(Hwnd()); }, 3000));
}

TEST_F(MainWindowTest, AutomatedModeAnswersOneButtonBoxesAndPressesInstall) {
    test_support::WriteText(FuntionImpl::GetLocalSettingsPath(), "[Settings]\r\nAutoRun=1\r\n");
    LogCapture log;
    Open({{"ChooseLicense", "0"}});
    // Ticked whatever the product asks.
    EXPECT_TRUE(window_->LicenceTicked());
    // Two seconds after the start the install button presses itself.
    EXPECT_TRUE(PumpUntil([&] { return log.contains(" BeginInstallTask"); }, 4000)) << log.dump();

    // A one-button box answers itself after a second.
    DWORD start = GetTickCount();
    EXPECT_EQ(window_->ShowMessageBox(MsgInternetFail, L""), 1);
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 5000u);
    // A two-button box waits for its answer.
    BoxAnswerer answers;
    answers.Answer(L"btn_no", 1800);
    EXPECT_EQ(window_->ShowMessageBox(MsgAgree, L""), 2);
    EXPECT_EQ(answers.Seen().size(), 1u);
}

TEST_F(MainWindowTest, BackgroundModeAnswersWithoutShowing) {
    LogCapture log;
    Open();
    log_->Closing = true;
    BoxAnswerer answers;
    EXPECT_EQ(window_->ShowMessageBox(MsgInternetFail, L""), 1);
    EXPECT_EQ(window_->LastSuppressedMessage(), MsgInternetFail);
    EXPECT_EQ(answers.Seen().size(), 0u);
    EXPECT_EQ(log.countExact(" ShowMsgBox: 9"), 1);
}

// ---- The install flow in the window (the worker's messages are posted as the worker posts them) ----

// The worker's message ids (install/InstallWindow.h) are the window's too.

TEST_F(MainWindowTest, InstallClickStartsTheWorkerOnTheRunningPageAndProgressOnlyGrows) {
    LogCapture log;
    Open();
    ClickAndPump(L"install_btn", 300);
    EXPECT_EQ(window_->workerStarts, 1);
    EXPECT_EQ(window_->TabPage(L"main_tablayout"), 1);
    EXPECT_EQ(window_->TabPage(L"page_layout"), 1);
    // Timer 1922 shows 1 % a second after the click.
    EXPECT_TRUE(PumpUntil([&] { return window_->Progress() == 1; }, 3000));
    EXPECT_EQ(N(window_->Text(L"install_label")).find("1%") != std::string::npos, true) << N(window_->Text(L"install_label"));

    // Download reports arrive from another thread; 40 % of the band then 30 % leave the bar at 34.
    std::thread reporter([&] {
        window_->OnDownloadProgress(40, 100, 0);
        window_->OnDownloadProgress(30, 100, 0);
    });
    reporter.join();
    Pump(200);
    EXPECT_EQ(window_->Progress(), 34);
    EXPECT_EQ(CountGa4("Other/PackageSize/0.00MB"), 1);  // the first report's total: 100 bytes
    window_->OnDownloadProgress(100, 100, 0);
    Pump(200);
    EXPECT_EQ(window_->Progress(), 85);
    EXPECT_EQ(CountGa4("Other/PackageSize/0.00MB"), 1);

    // Verification: 85, then +1 every two seconds.
    PostMessageW(Hwnd(), kMsgVerifyStarted, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return window_->Progress() == 86; }, 3500));
    // The installer: 90 at once and the estimate in the log; 3 s of extra time make 300 ms steps.
    log_->GetDownloadSettings().Additional_time = 3;
    PostMessageW(Hwnd(), kMsgInstallerStarted, 0, 0);
    Pump(150);
    log_->GetDownloadSettings().Additional_time = 0;
    EXPECT_EQ(window_->Progress(), 90);
    EXPECT_TRUE(log.contains(" Estimate install time is 0, extra install time is 3, timer elapse is 300"));
    EXPECT_EQ(CountFunnel("EstimatedDurationPar", "0"), 1);
    // The installer does not end: the crawl reaches 99 and rests there.
    EXPECT_TRUE(PumpUntil([&] { return window_->Progress() == 99; }, 6000));
    Pump(300);
    EXPECT_EQ(window_->Progress(), 99);
    EXPECT_TRUE(log.contains(" TIMER_INSTALLPROGRESS_ID: 0, 100"));
}

TEST_F(MainWindowTest, FailureMessagesShowTheirBoxAndTheFailurePageAndTryAgainRestarts) {
    struct Case {
        UINT message;
        WPARAM wParam;
        int box;
    } cases[] = {
        {kMsgDownloadFailed, 9, MsgInternetFail},   {kMsgDownloadFailed, 10, MsgInternetTimeout},
        {kMsgDownloadFailed, 14, MsgUrlFail},       {kMsgVerifyFailed, 0, MsgMD5Fail},
        {kMsgInstallerTimedOut, 0, MsgInstallRunTimeOut},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Open();
        // The report object lives through the loop: count only this round's events.
        const size_t from = report_.Calls().size();
        auto count = [&](const std::string& event) {
            int n = 0;
            for (const auto& e : Ga4(from)) n += e == event;
            return n;
        };
        ClickAndPump(L"install_btn", 200);
        ASSERT_EQ(window_->workerStarts, 1);
        BoxAnswerer answers;
        answers.Answer(L"btn_yes");
        PostMessageW(Hwnd(), c.message, c.wParam, 0);
        EXPECT_TRUE(PumpUntil([&] { return log.contains(" Enter fail page "); }, 3000)) << c.box;
        EXPECT_EQ(log.countExact(" ShowMsgBox: " + std::to_string(c.box)), 1) << c.box;
        EXPECT_EQ(window_->TabPage(L"main_tablayout"), 0);
        EXPECT_EQ(window_->TabPage(L"page_layout"), 1);
        EXPECT_TRUE(window_->Visible(L"text_fail_retry"));
        EXPECT_TRUE(window_->Visible(L"img_warning"));
        EXPECT_EQ(N(window_->Text(L"start_app")), "Try again");
        if (c.message == kMsgDownloadFailed) {
            EXPECT_EQ(count("Download/8.DownFail/First"), 1);
        }
        // The two boxes about the downloaded file have it cleared when answered.
        if (c.box == MsgMD5Fail || c.box == MsgInstallRunTimeOut) {
            EXPECT_TRUE(PumpUntil([&] { return log.contains(" Clear cache: "); }, 2000));
        }

        // "Try again": the bar back to 0, the running page, a new worker.
        ClickAndPump(L"start_app", 300);
        EXPECT_EQ(window_->workerStarts, 2) << c.box;
        EXPECT_EQ(window_->TabPage(L"main_tablayout"), 1);
        EXPECT_FALSE(window_->Visible(L"text_fail_retry"));
        EXPECT_EQ(N(window_->Text(L"start_app")), "Start");
        EXPECT_EQ(count("Download/8-1.ClickTryAgain/First"), 1);
        Close();
    }
}

TEST_F(MainWindowTest, SuccessShowsTheFinishPageAndCloseNoLongerAsks) {
    Open();
    ClickAndPump(L"install_btn", 200);
    PostMessageW(Hwnd(), kMsgInstallSucceeded, 0, 0);
    Pump(300);
    EXPECT_EQ(window_->TabPage(L"main_tablayout"), 0);
    EXPECT_EQ(window_->TabPage(L"page_layout"), 1);
    EXPECT_TRUE(window_->Visible(L"start_app"));
    EXPECT_FALSE(window_->Visible(L"text_fail_retry"));
    BoxAnswerer answers;
    ClickAndPump(L"closebtn", 300);
    EXPECT_EQ(answers.Seen().size(), 0u);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(Hwnd()); }, 3000));
    EXPECT_EQ(CountGa4("CrashRate/Close/close06"), 1);
}

TEST_F(MainWindowTest, CloseBeforeInstallReportsItsPlaceAndDuration) {
    DWORD before = GetTickCount();
    Open();
    DWORD opened = GetTickCount();
    Pump(2100);
    DWORD closing = GetTickCount();
    SendMessageW(Hwnd(), WM_CLOSE, 0, 0);  // Alt+F4 does not ask
    EXPECT_FALSE(IsWindow(Hwnd()));
    EXPECT_EQ(CountGa4("CrashRate/Close/close01"), 1);
    // Whole seconds since the window started, which was between the two ticks around Open.
    int found = 0;
    for (DWORD s = (closing - opened) / 1000; s <= (GetTickCount() - before) / 1000; ++s)
        found += CountFunnel("UserCloses", std::to_string(s));
    EXPECT_EQ(found, 1);
    EXPECT_GE((closing - opened) / 1000, 2u);
}

TEST_F(MainWindowTest, BackgroundModeHidesAndTheFailureClosesTheWindow) {
    LogCapture log;
    Open();
    ClickAndPump(L"install_btn", 200);
    window_->OnDownloadProgress(1, 2, 0);
    Pump(200);
    ASSERT_EQ(window_->Progress(), 42);
    log_->GetDownloadSettings().Back_running = 1;
    SendMessageW(Hwnd(), WM_CLOSE, 0, 0);
    log_->GetDownloadSettings().Back_running = 0;
    EXPECT_TRUE(IsWindow(Hwnd()));
    EXPECT_FALSE(IsWindowVisible(Hwnd()));
    EXPECT_TRUE(log_->Closing.load());
    EXPECT_TRUE(log.contains(" Close and run background at: 42"));
    EXPECT_EQ(CountFunnel("ClosePosition", "42%"), 1);
    EXPECT_EQ(CountGa4("CrashRate/Close/close02"), 1);
    // The worker fails: no box shows, the failure page reports the box it kept back and closes.
    BoxAnswerer answers;
    PostMessageW(Hwnd(), kMsgDownloadFailed, 9, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(Hwnd()); }, 3000));
    EXPECT_EQ(answers.Seen().size(), 0u);
    EXPECT_EQ(CountFunnel("DownFailError", "error_page_9"), 1);
    EXPECT_EQ(CountGa4("CrashRate/Close/close05"), 1);
    log_->Closing = false;
}

TEST_F(MainWindowTest, ChecksBeforeTheInstallationStopAtTheFirstProblem) {
    // The product running: a suspended copy of the command interpreter under a name of its own
    // plays it (the calling process itself is the walk's first entry, which is not looked at).
    {
        test_support::TempDir dir;
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        const std::wstring standIn = dir.File(L"main_window_test_product.exe");
        ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\cmd.exe").c_str(), standIn.c_str(), FALSE));
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::wstring line = L"\"" + standIn + L"\"";
        ASSERT_TRUE(CreateProcessW(standIn.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                                   nullptr, nullptr, &si, &pi));
        LogCapture log;
        Open();
        window_->WaitForAllThreadExit();  // the early configuration query is over
        window_->GetConfigure()->m_processName = L"main_window_test_product.exe";
        BoxAnswerer answers;
        answers.Answer(L"btn_yes");
        ClickAndPump(L"install_btn", 800);
        EXPECT_EQ(log.countExact(" ShowMsgBox: " + std::to_string(MsgAppExist)), 1);
        EXPECT_EQ(CountGa4("Other/FlowError/DL024"), 1);
        EXPECT_EQ(window_->workerStarts, 0);
        EXPECT_EQ(window_->TabPage(L"main_tablayout"), 0);
        Close();
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    // The download drive too small for the package the service told.
    {
        LogCapture log;
        Open();
        window_->WaitForAllThreadExit();
        CConfigure* config = window_->GetConfigure();
        config->m_loadState = CConfigure::kLoaded;
        config->m_source = CConfigure::kSourceServer;
        config->m_fileSize = 1000;
        window_->SetFreeSpaceReader([](const std::wstring&, uint64_t& free) {
            free = 999;
            return true;
        });
        BoxAnswerer answers;
        answers.Answer(L"btn_yes");
        ClickAndPump(L"install_btn", 800);
        EXPECT_EQ(log.countExact(" ShowMsgBox: " + std::to_string(MsgNoEnoughSpace)), 1);
        EXPECT_EQ(CountGa4("Other/FlowError/DL008"), 1);
        EXPECT_EQ(CountGa4("Other/NoEnoughSpace/download_999"), 1);
        EXPECT_EQ(window_->workerStarts, 0);
        // Room again: the next click starts.
        window_->SetFreeSpaceReader([](const std::wstring&, uint64_t& free) {
            free = 1000000;
            return true;
        });
        ClickAndPump(L"install_btn", 300);
        EXPECT_EQ(window_->workerStarts, 1);
        Close();
    }
    // A folder that cannot be made.
    {
        LogCapture log;
        Open();
        auto* edit = dynamic_cast<DuiLib::CEditUI*>(window_->Find(L"install_file_path_edit"));
        ASSERT_NE(edit, nullptr);
        edit->SetText(L"Q:\\no\\such\\drive");
        BoxAnswerer answers;
        answers.Answer(L"btn_yes");
        ClickAndPump(L"install_btn", 800);
        EXPECT_EQ(log.countExact(" ShowMsgBox: " + std::to_string(MsgPathError)), 1);
        EXPECT_EQ(CountGa4("Other/FlowError/DL009"), 1);
        EXPECT_EQ(window_->workerStarts, 0);
    }
}

// Test builds tell another process a control's text; malformed questions get no answer.
TEST_F(MainWindowTest, ControlTextQueryAnswersOnlyWellFormedQuestions) {
    Open();
    ControlTextAsker asker;
    for (const wchar_t* name : {L"install_btn", L"select_language_text", L"language_combox"}) {
        std::wstring text;
        ASSERT_TRUE(asker.Ask(Hwnd(), name, text)) << N(name);
        EXPECT_EQ(text, window_->Find(name)->GetText()) << N(name);
        EXPECT_FALSE(text.empty()) << N(name);
    }
    const std::wstring name = L"install_btn";
    const std::wstring longer = name + L"x";  // one byte more than the name: half a character
    struct Bad {
        const char* what;
        ULONG_PTR kind;
        const void* data;
        DWORD bytes;
        bool replyToAsker;
    };
    const Bad bad[] = {
        {"no such control", ControlTextQuery::kAsk, L"no_such_control", 15 * sizeof(wchar_t), true},
        {"another kind", ControlTextQuery::kAnswer, name.data(), DWORD(name.size() * sizeof(wchar_t)), true},
        {"no data", ControlTextQuery::kAsk, nullptr, DWORD(name.size() * sizeof(wchar_t)), true},
        {"odd byte count", ControlTextQuery::kAsk, longer.data(), DWORD(name.size() * sizeof(wchar_t) + 1), true},
        {"no window to answer", ControlTextQuery::kAsk, name.data(), DWORD(name.size() * sizeof(wchar_t)), false},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(asker.Send(Hwnd(), b.kind, b.data, b.bytes, b.replyToAsker ? asker.Hwnd() : nullptr), 0) << b.what;
        EXPECT_FALSE(ControlTextAsker::Answered()) << b.what;
    }
    // The window still answers afterwards.
    std::wstring text;
    EXPECT_TRUE(asker.Ask(Hwnd(), name, text));
}
