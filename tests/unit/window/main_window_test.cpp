// The installer window under Wine and the virtual display, driven as a user drives it: mouse
// presses where the layout draws the controls and links, keys, and answers to the message boxes
// it asks. Each test asserts the controls' state, the events the window sends (a recording report
// object behind the analytics object) and its log lines.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <json/json.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Core/UIAccessible.h"
#include "DuiLib/Core/UIRichText.h"
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
#include "window/MessageBoxWnd.h"
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

// ---- The keyboard ----

namespace {

std::wstring FocusName(TestWindow& w) {
    DuiLib::CControlUI* focus = w.Pm().GetFocus();
    return focus ? focus->GetName() : L"";
}

void PressKeys(HWND hwnd, std::initializer_list<WPARAM> keys) {
    for (WPARAM key : keys) {
        PostKey(hwnd, key);
        Pump(60);
    }
}

// The names Tab reaches now, in order (a text with two links appears twice).
std::vector<std::wstring> TabStopNames(TestWindow& w) {
    std::vector<std::wstring> names;
    for (const auto& stop : w.Pm().GetTabStops()) names.push_back(stop.first->GetName());
    return names;
}

bool Has(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Relative luminance and contrast ratio of two colours (0x00RRGGBB).
double Luminance(DWORD rgb) {
    auto channel = [](int v) {
        double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((rgb >> 16) & 0xFF) + 0.7152 * channel((rgb >> 8) & 0xFF) + 0.0722 * channel(rgb & 0xFF);
}
double Contrast(DWORD a, DWORD b) {
    double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
DWORD PixelAt(const DuiLib::TImageInfo& image, int x, int y) { return image.PixelAt(x, y) & 0xFFFFFF; }

}  // namespace

TEST_F(MainWindowTest, TabReachesOnlyWhatTheWindowShows) {
    Open();
    struct Case {
        const char* state;
        std::function<void()> arrange;
        bool settingsReachable;
    } cases[] = {
        {"collapsed at start", [] {}, false},
        {"settings open", [&] { ClickAndPump(L"install_setting"); }, true},
        {"settings closed again", [&] { ClickAndPump(L"install_setting"); }, false},
    };
    for (const Case& c : cases) {
        c.arrange();
        std::vector<std::wstring> stops = TabStopNames(*window_);
        for (const wchar_t* hidden : {L"language_combox", L"install_file_path_edit", L"browser_btn"})
            EXPECT_EQ(Has(stops, hidden), c.settingsReachable) << c.state << " " << N(hidden);
        for (const wchar_t* shown : {L"install_btn", L"license_checkbox", L"license_link", L"install_setting"})
            EXPECT_TRUE(Has(stops, shown)) << c.state << " " << N(shown);
        // Tab itself: once round the window visits exactly these stops.
        std::vector<std::wstring> visited;
        for (size_t i = 0; i < stops.size(); ++i) {
            PressKeys(Hwnd(), {VK_TAB});
            visited.push_back(FocusName(*window_));
        }
        std::vector<std::wstring> sortedStops = stops, sortedVisited = visited;
        std::sort(sortedStops.begin(), sortedStops.end());
        std::sort(sortedVisited.begin(), sortedVisited.end());
        EXPECT_EQ(sortedVisited, sortedStops) << c.state;
        EXPECT_TRUE(window_->Pm().IsFocusVisible());
    }
}

TEST_F(MainWindowTest, EachPageFocusesItsDefaultButtonAndEnterPressesIt) {
    Open();
    EXPECT_EQ(FocusName(*window_), L"install_btn");
    EXPECT_EQ(window_->Pm().GetDefaultButton(), window_->Find(L"install_btn"));
    // Enter on the setting page installs.
    PressKeys(Hwnd(), {VK_RETURN});
    Pump(200);
    ASSERT_EQ(window_->workerStarts, 1);
    struct Case {
        const char* page;
        std::function<void()> reach;
        const wchar_t* focused;
    } cases[] = {
        {"running", [] {}, L"install_minbtn"},
        {"failure", [&] {
             BoxAnswerer answers;
             answers.Answer(L"btn_yes");
             PostMessageW(Hwnd(), kMsgDownloadFailed, 9, 0);
             PumpUntil([&] { return window_->Visible(L"text_fail_retry"); }, 3000);
         }, L"start_app"},
    };
    for (const Case& c : cases) {
        c.reach();
        EXPECT_EQ(FocusName(*window_), c.focused) << c.page;
        EXPECT_EQ(window_->Pm().GetDefaultButton(), window_->Find(c.focused)) << c.page;
    }
    // Enter on the failure page is "Try again".
    PressKeys(Hwnd(), {VK_RETURN});
    Pump(200);
    EXPECT_EQ(window_->workerStarts, 2);
    // The finish page: Start.
    PostMessageW(Hwnd(), kMsgInstallSucceeded, 0, 0);
    Pump(300);
    EXPECT_EQ(FocusName(*window_), L"start_app");
}

TEST_F(MainWindowTest, LinksAreTabStopsAndEnterOrSpaceOpensThem) {
    const std::map<std::string, std::string> newRow{
        {"NewLicenseFlag", "1"}, {"LicenseUrl", "https://example.com/licence"}, {"PrivacyUrl", "https://example.com/privacy"}};
    struct Case {
        const wchar_t* control;
        int link;
        WPARAM key;
        std::wstring opened;  // web page opened, or empty: the licence panel opens (560) or closes (360)
        int height;
    };
    struct Row {
        std::map<std::string, std::string> labels;
        std::vector<Case> cases;
    } rows[] = {
        {{}, {{L"license_link", 0, VK_RETURN, L"", 560}, {L"license_link", 0, VK_SPACE, L"", 360}}},
        {newRow, {{L"license_link_new", 0, VK_RETURN, L"https://example.com/privacy", 360},
                  {L"license_link_new", 1, VK_SPACE, L"https://example.com/licence", 360}}},
    };
    for (const Row& row : rows) {
        Open(row.labels);
        for (const Case& c : row.cases) {
            g_opened.clear();
            // Tab until the link has the focus (a text with two links is two stops).
            bool reached = false;
            for (int i = 0; i < 12 && !reached; ++i) {
                DuiLib::CControlUI* focus = window_->Pm().GetFocus();
                reached = focus && focus->GetName() == c.control && focus->GetFocusPart() == c.link;
                if (!reached) PressKeys(Hwnd(), {VK_TAB});
            }
            ASSERT_TRUE(reached) << N(c.control) << " " << c.link;
            PressKeys(Hwnd(), {c.key});
            Pump(100);
            EXPECT_EQ(window_->Height(), c.height) << N(c.control) << " " << c.link;
            if (c.opened.empty()) {
                EXPECT_TRUE(g_opened.empty());
            } else {
                ASSERT_EQ(g_opened.size(), 1u) << N(c.control) << " " << c.link;
                EXPECT_NE(g_opened[0].first.find(c.opened), std::wstring::npos) << N(g_opened[0].first);
            }
        }
        Close();
    }
}

TEST_F(MainWindowTest, LicenceTextScrollsWithTheKeys) {
    Open();
    ASSERT_TRUE(ClickLink(Hwnd(), L"license_link", 0));
    Pump(300);
    auto* scroll = dynamic_cast<DuiLib::CContainerUI*>(window_->Find(L"license_scroll"));
    ASSERT_NE(scroll, nullptr);
    window_->Pm().UpdateLayout();
    ASSERT_GT(scroll->GetScrollRange(), 0);
    // Tab reaches the licence text.
    for (int i = 0; i < 12 && FocusName(*window_) != L"license_scroll"; ++i) PressKeys(Hwnd(), {VK_TAB});
    ASSERT_EQ(FocusName(*window_), L"license_scroll");
    struct Case {
        WPARAM key;
        std::function<bool(int before, int after)> moved;
        const char* expectation;
    } cases[] = {
        {VK_DOWN, [](int b, int a) { return a > b; }, "down scrolls down"},
        {VK_NEXT, [](int b, int a) { return a - b > 48; }, "page down scrolls more than a line"},
        {VK_UP, [](int b, int a) { return a < b; }, "up scrolls up"},
        {VK_END, [&](int, int a) { return a == scroll->GetScrollRange(); }, "end goes to the end"},
        {VK_PRIOR, [](int b, int a) { return b - a > 48; }, "page up scrolls back more than a line"},
        {VK_HOME, [](int, int a) { return a == 0; }, "home goes to the top"},
    };
    for (const Case& c : cases) {
        int before = scroll->GetScrollPos();
        PressKeys(Hwnd(), {c.key});
        EXPECT_TRUE(c.moved(before, scroll->GetScrollPos())) << c.expectation << ": " << before << " -> " << scroll->GetScrollPos();
    }
}

TEST_F(MainWindowTest, AltF4DoesWhatTheCloseButtonDoes) {
    struct Case {
        const char* page;
        bool running;
        bool finished;
        bool asks;
    } cases[] = {
        {"setting page", false, false, true},
        {"running page", true, false, true},
        {"finish page", true, true, false},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Open();
        if (c.running) ClickAndPump(L"install_btn", 200);
        if (c.finished) {
            PostMessageW(Hwnd(), kMsgInstallSucceeded, 0, 0);
            Pump(300);
        }
        BoxAnswerer answers;
        if (c.asks) answers.Answer(L"btn_no");
        PostMessageW(Hwnd(), WM_SYSKEYDOWN, VK_F4, 0x20000001);  // with Alt down
        PumpUntil([&] { return answers.Seen().size() == (c.asks ? 1u : 0u) && (c.asks || !IsWindow(Hwnd())); }, 3000);
        Pump(100);
        EXPECT_EQ(answers.Seen().size(), c.asks ? 1u : 0u) << c.page;
        EXPECT_EQ(log.countExact(" ShowMsgBox: 2"), c.asks ? 1 : 0) << c.page;
        // "No" keeps the window; a final page closes at once.
        EXPECT_EQ(IsWindow(Hwnd()) != FALSE, c.asks) << c.page;
        Close();
    }
}

TEST_F(MainWindowTest, ClosedComboAppliesALanguageOnlyWhenConfirmed) {
    struct Case {
        const char* keys;
        std::vector<WPARAM> press;
        int32_t language;
        int applied;
    } cases[] = {
        {"arrows only", {VK_DOWN, VK_DOWN, VK_DOWN}, English, 0},
        {"arrows and Enter", {VK_DOWN, VK_DOWN, VK_RETURN}, Chinese, 1},
        {"arrows then Tab away", {VK_DOWN, VK_TAB}, English, 0},
        {"list: arrows and F4", {VK_SPACE, VK_DOWN, VK_F4}, Japanese, 1},
        {"list: arrows and Esc", {VK_SPACE, VK_DOWN, VK_DOWN, VK_ESCAPE}, English, 0},
    };
    Open();
    ClickAndPump(L"install_setting");
    auto* combo = dynamic_cast<DuiLib::CComboUI*>(window_->Find(L"language_combox"));
    ASSERT_NE(combo, nullptr);
    for (const Case& c : cases) {
        // Each case starts in English with the focus on the combo.
        window_->SelectLanguageItem(English);
        window_->ApplyLanguage();
        LogCapture log;
        for (int i = 0; i < 12 && FocusName(*window_) != L"language_combox"; ++i) PressKeys(Hwnd(), {VK_TAB});
        ASSERT_EQ(FocusName(*window_), L"language_combox") << c.keys;
        for (WPARAM key : c.press) PressKeys(Hwnd(), {key});
        Pump(100);
        EXPECT_EQ(window_->GetLanguage(), c.language) << c.keys;
        EXPECT_EQ(log.countExact(" ChangeLanguageTo: " + N(GetLanguageFileName(c.language))), c.applied) << c.keys;
        // What the combo shows after leaving it is what applies.
        if (FocusName(*window_) == L"language_combox") PressKeys(Hwnd(), {VK_TAB});
        EXPECT_EQ(combo->GetCurSel(), c.language) << c.keys;
        EXPECT_FALSE(combo->IsChoicePending()) << c.keys;
    }
}

TEST_F(MainWindowTest, ClickOnTheAgreementWordsTogglesTheBox) {
    Open({{"ChooseLicense", "0"}});
    window_->Pm().UpdateLayout();
    auto* caption = dynamic_cast<DuiLib::CLabelUI*>(window_->Find(L"license_link"));
    ASSERT_NE(caption, nullptr);
    POINT words{caption->TextOrigin().x + 8, Center(caption->GetPos()).y};
    struct Case {
        const char* where;
        bool onWords;
        bool ticked;
    } cases[] = {{"words", true, true}, {"words again", true, false}, {"link", false, false}};
    for (const Case& c : cases) {
        if (c.onWords) PostClickAt(Hwnd(), words);
        else ASSERT_TRUE(ClickLink(Hwnd(), L"license_link", 0));
        Pump(200);
        EXPECT_EQ(window_->LicenceTicked(), c.ticked) << c.where;
    }
    // The link itself opened the licence text, not the box.
    EXPECT_EQ(window_->TabPage(L"set_layout"), 0);
    EXPECT_EQ(window_->Height(), 560);
}

TEST_F(MainWindowTest, FocusRingStandsOutAtLeastThreeToOne) {
    Open();
    ClickAndPump(L"install_setting");
    DuiLib::CPaintManagerUI& pm = window_->Pm();
    pm.SetFocus(nullptr);
    std::unique_ptr<DuiLib::TImageInfo> plain = pm.Render();
    ASSERT_TRUE(plain);
    const int ring = pm.Scale(DuiLib::CPaintManagerUI::kFocusRingGap) + pm.Scale(DuiLib::CPaintManagerUI::kFocusRingWidth) / 2 + 1;
    int measured = 0;
    for (size_t i = 0; i < TabStopNames(*window_).size(); ++i) {
        PressKeys(Hwnd(), {VK_TAB});
        DuiLib::CControlUI* focus = pm.GetFocus();
        ASSERT_NE(focus, nullptr);
        std::unique_ptr<DuiLib::TImageInfo> shot = pm.Render();
        ASSERT_TRUE(shot);
        // The ring's left edge, half way down, against what was there without the focus.
        RECT rc = focus->GetFocusRects().front();
        int x = rc.left - ring, y = (rc.top + rc.bottom) / 2;
        if (x < 0 || x >= shot->width || y >= shot->height) continue;
        double ratio = Contrast(PixelAt(*shot, x, y), PixelAt(*plain, x, y));
        EXPECT_GE(ratio, 3.0) << N(focus->GetName()) << " part " << focus->GetFocusPart();
        ++measured;
    }
    EXPECT_GE(measured, 6);
}

// ---- Screen readers ----

namespace {

struct AccObject {
    long id = -1;
    long role = 0;
    long state = 0;
    std::string name, value, action;
};

// Runs the screen-reader stand-in (another process) and pumps this thread's messages meanwhile:
// its calls reach the window through them. Its exit code, -1 when it did not end in time.
int RunAccClient(const std::wstring& args, DWORD ms = 20000) {
    std::wstring command = L"\"" + TextCodec::Utf8ToWide(ACC_CLIENT_EXE) + L"\" " + args;
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    PumpUntil([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, ms);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == STILL_ACTIVE ? -1 : static_cast<int>(code);
}

std::wstring HwndArg(HWND hwnd) { return std::to_wstring(reinterpret_cast<uintptr_t>(hwnd)); }

std::vector<std::vector<std::string>> Lines(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields;
        std::string line = text.substr(at, end - at);
        size_t f = 0;
        for (;;) {
            size_t tab = line.find('\t', f);
            fields.push_back(line.substr(f, tab == std::string::npos ? std::string::npos : tab - f));
            if (tab == std::string::npos) break;
            f = tab + 1;
        }
        lines.push_back(fields);
        at = end + 1;
    }
    return lines;
}

// The window's accessible objects as another process reads them (the client area first).
std::vector<AccObject> ReadTree(HWND hwnd) {
    test_support::TempDir dir;
    std::wstring out = dir.File(L"tree.txt");
    EXPECT_EQ(RunAccClient(L"tree " + HwndArg(hwnd) + L" \"" + out + L"\""), 0);
    std::vector<AccObject> objects;
    for (const auto& f : Lines(test_support::ReadFile(out))) {
        if (f.size() < 6) continue;
        AccObject o;
        o.id = std::stol(f[0]);
        o.role = std::stol(f[1]);
        o.state = std::stol(f[2]);
        o.name = f[3];
        o.value = f[4];
        o.action = f[5];
        objects.push_back(o);
    }
    return objects;
}

const AccObject* FindObject(const std::vector<AccObject>& tree, long role, const std::string& name) {
    for (const AccObject& o : tree)
        if (o.role == role && o.name == name) return &o;
    return nullptr;
}

std::string PlainOf(const std::wstring& markup) {
    std::wstring plain = DuiLib::PlainText(DuiLib::ParseRichText(markup));
    return N(DuiLib::UI::Trim(plain));
}

bool Interactive(long role) {
    switch (role) {
        case ROLE_SYSTEM_PUSHBUTTON: case ROLE_SYSTEM_CHECKBUTTON: case ROLE_SYSTEM_RADIOBUTTON: case ROLE_SYSTEM_LINK:
        case ROLE_SYSTEM_COMBOBOX: case ROLE_SYSTEM_TEXT: case ROLE_SYSTEM_PROGRESSBAR: case ROLE_SYSTEM_DOCUMENT:
            return true;
        default:
            return false;
    }
}

}  // namespace

TEST_F(MainWindowTest, ScreenReaderInAnotherProcessReadsEveryPageInItsLanguage) {
    CoInitialize(nullptr);
    struct Page {
        const char* name;
        std::function<void()> reach;
        // Buttons (by language key) the page must show with their language's name.
        std::vector<const wchar_t*> buttons;
        bool combo;
        bool progress;
    };
    for (int32_t language : {English, Arabic}) {
        Open();
        window_->SelectLanguageItem(language);
        window_->ApplyLanguage();
        Pump(100);
        auto text = [&](const wchar_t* key) { return N(LanguageText(L"install_page", key, language)); };
        Page pages[] = {
            {"setting", [] {}, {L"install_btn", L"install_setting"}, false, false},
            {"settings open", [&] { ClickAndPump(L"install_setting"); }, {L"install_btn", L"browser_btn"}, true, false},
            {"running", [&] { ClickAndPump(L"install_setting"); ClickAndPump(L"install_btn", 200); }, {L"install_minbtn"}, false, true},
            {"failure", [&] {
                 BoxAnswerer answers;
                 answers.Answer(L"btn_yes");
                 PostMessageW(Hwnd(), kMsgDownloadFailed, 9, 0);
                 PumpUntil([&] { return window_->Visible(L"text_fail_retry"); }, 3000);
             }, {L"retry_btn"}, false, false},
        };
        for (Page& page : pages) {
            page.reach();
            std::vector<AccObject> tree = ReadTree(Hwnd());
            std::string where = std::string(page.name) + " language " + std::to_string(language);
            ASSERT_GT(tree.size(), 3u) << where << ": the window is one object only";
            EXPECT_EQ(tree[0].role, ROLE_SYSTEM_CLIENT) << where;
            int interactive = 0;
            for (const AccObject& o : tree) {
                if (!Interactive(o.role) || (o.state & STATE_SYSTEM_INVISIBLE)) continue;
                EXPECT_FALSE(o.name.empty()) << where << ": object " << o.id << " role " << o.role;
                ++interactive;
            }
            EXPECT_GE(interactive, 2) << where;
            for (const wchar_t* key : page.buttons)
                EXPECT_NE(FindObject(tree, ROLE_SYSTEM_PUSHBUTTON, text(key)), nullptr) << where << " " << N(key);
            // The picture-only close button is named in the language (the running page has none).
            if (std::string(page.name) != "running") {
                EXPECT_NE(FindObject(tree, ROLE_SYSTEM_PUSHBUTTON, text(L"install_closebtn")), nullptr) << where;
            }
            if (std::string(page.name) == "setting") {
                const AccObject* box = FindObject(tree, ROLE_SYSTEM_CHECKBUTTON, PlainOf(LanguageText(L"install_page", L"license_link", language)));
                ASSERT_NE(box, nullptr) << where;
                EXPECT_EQ((box->state & STATE_SYSTEM_CHECKED) != 0, window_->LicenceTicked()) << where;
                const AccObject* install = FindObject(tree, ROLE_SYSTEM_PUSHBUTTON, text(L"install_btn"));
                ASSERT_NE(install, nullptr);
                EXPECT_NE(install->state & STATE_SYSTEM_DEFAULT, 0) << where;
                auto* link = dynamic_cast<DuiLib::CLabelUI*>(window_->Find(L"license_link"));
                EXPECT_NE(FindObject(tree, ROLE_SYSTEM_LINK, N(link->GetLinkText(0))), nullptr) << where;
                // The settings panel below the window's edge is there but invisible.
                for (const AccObject& o : tree) {
                    if (o.role == ROLE_SYSTEM_COMBOBOX) {
                        EXPECT_NE(o.state & STATE_SYSTEM_INVISIBLE, 0) << where;
                    }
                }
            }
            if (page.combo) {
                const AccObject* combo = FindObject(tree, ROLE_SYSTEM_COMBOBOX, PlainOf(LanguageText(L"install_page", L"select_language_text", language)));
                ASSERT_NE(combo, nullptr) << where;
                EXPECT_EQ(combo->value, N(DuiLib::UI::Trim(window_->Find(L"language_combox")->GetText()))) << where;
                EXPECT_EQ(combo->state & STATE_SYSTEM_INVISIBLE, 0) << where;
                const AccObject* folder = FindObject(tree, ROLE_SYSTEM_TEXT, PlainOf(LanguageText(L"install_page", L"install_path_text", language)));
                ASSERT_NE(folder, nullptr) << where;
                EXPECT_EQ(folder->value, N(window_->Text(L"install_file_path_edit"))) << where;
            }
            if (page.progress) {
                bool found = false;
                for (const AccObject& o : tree)
                    if (o.role == ROLE_SYSTEM_PROGRESSBAR) {
                        found = true;
                        EXPECT_EQ(o.value, std::to_string(window_->Progress()) + "%") << where;
                    }
                EXPECT_TRUE(found) << where;
            }
        }
        Close();
    }
}

TEST_F(MainWindowTest, FocusEventsFollowTabInAnotherProcess) {
    CoInitialize(nullptr);
    Open();
    ClickAndPump(L"install_setting");
    const int presses = 5;
    // What each Tab will focus, as this process names it.
    std::vector<std::string> expected;
    {
        std::vector<std::pair<DuiLib::CControlUI*, int>> stops = window_->Pm().GetTabStops();
        auto at = std::find(stops.begin(), stops.end(), std::make_pair(window_->Pm().GetFocus(), window_->Pm().GetFocus()->GetFocusPart()));
        size_t index = at == stops.end() ? stops.size() - 1 : static_cast<size_t>(at - stops.begin());
        std::vector<DuiLib::TAccessibleElement> all = DuiLib::CollectAccessibleElements(window_->Pm());
        for (int i = 0; i < presses; ++i) {
            index = (index + 1) % stops.size();
            for (const auto& e : all)
                if (e.control == stops[index].first && (e.role != ROLE_SYSTEM_STATICTEXT) &&
                    (e.part < 0 || e.part == stops[index].second))
                    expected.push_back(N(DuiLib::AccessibleName(window_->Pm(), e)));
        }
    }
    ASSERT_EQ(expected.size(), static_cast<size_t>(presses));
    test_support::TempDir dir;
    std::wstring out = dir.File(L"focus.txt");
    std::wstring readyName = L"main_window_test_acc_ready_" + std::to_wstring(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    std::wstring command = L"\"" + TextCodec::Utf8ToWide(ACC_CLIENT_EXE) + L"\" focus " + HwndArg(Hwnd()) + L" \"" + out + L"\" " +
                           std::to_wstring(presses) + L" 8000 " + readyName;
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(ready, 0) == WAIT_OBJECT_0; }, 10000));
    for (int i = 0; i < presses; ++i) {
        PostKey(Hwnd(), VK_TAB);
        Pump(250);
    }
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, 12000));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(ready);
    std::vector<std::string> seen;
    for (const auto& f : Lines(test_support::ReadFile(out)))
        if (f.size() >= 3) seen.push_back(f[2]);
    EXPECT_EQ(seen, expected);
}

TEST_F(MainWindowTest, DefaultActionFromAnotherProcessPressesTheControl) {
    CoInitialize(nullptr);
    Open();
    struct Case {
        const wchar_t* control;
        long role;
        std::function<bool()> done;
    } cases[] = {
        {L"install_setting", ROLE_SYSTEM_PUSHBUTTON, [&] { return window_->Height() == 560; }},
        {L"license_checkbox", ROLE_SYSTEM_CHECKBUTTON, [&] { return !window_->LicenceTicked(); }},
        {L"license_link", ROLE_SYSTEM_LINK, [&] { return window_->TabPage(L"set_layout") == 0; }},
    };
    for (const Case& c : cases) {
        std::vector<DuiLib::TAccessibleElement> all = DuiLib::CollectAccessibleElements(window_->Pm());
        long id = 0;
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].control == window_->Find(c.control) && all[i].role == c.role) id = static_cast<long>(i + 1);
        ASSERT_GT(id, 0) << N(c.control);
        EXPECT_EQ(RunAccClient(L"act " + HwndArg(Hwnd()) + L" " + std::to_wstring(id)), 0) << N(c.control);
        EXPECT_TRUE(PumpUntil(c.done, 2000)) << N(c.control);
    }
}

namespace {
// Reads the open message box's accessible object in this process (the box's modal loop runs
// here, inside the question; a reader in another process would wait for this thread).
std::wstring g_boxTitle;
std::vector<std::pair<long, std::wstring>> g_boxObjects;
void CALLBACK ReadBoxThenAnswer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = BoxAnswerer::FindBox();
    if (!box) return;
    KillTimer(nullptr, id);
    wchar_t title[128] = {};
    GetWindowTextW(box, title, 128);
    g_boxTitle = title;
    IAccessible* acc = nullptr;
    if (SUCCEEDED(AccessibleObjectFromWindow(box, static_cast<DWORD>(OBJID_CLIENT), DuiLib::kIID_IAccessible,
                                             reinterpret_cast<void**>(&acc))) && acc) {
        long count = 0;
        acc->get_accChildCount(&count);
        for (long i = 0; i <= count; ++i) {
            VARIANT child;
            VariantInit(&child);
            child.vt = VT_I4;
            child.lVal = i;
            VARIANT role, state;
            BSTR name = nullptr;
            acc->get_accRole(child, &role);
            acc->get_accState(child, &state);
            acc->get_accName(child, &name);
            std::wstring text = name ? name : L"";
            if (name) SysFreeString(name);
            bool isDefault = (state.lVal & STATE_SYSTEM_DEFAULT) != 0;
            g_boxObjects.emplace_back(role.lVal, (isDefault ? L"*" : L"") + text);
        }
        acc->Release();
    }
    // Its first button has the focus: Enter answers with it.
    DuiLib::CPaintManagerUI* pm = DuiLib::CPaintManagerUI::FromWindow(box);
    if (pm && pm->GetFocus() && pm->GetFocus()->GetName() == L"btn_yes") PostKey(box, VK_RETURN);
    else Click(box, L"btn_no");
}
}  // namespace

TEST_F(MainWindowTest, MessageBoxIsNamedByItsTitleAndEnterTakesItsFocusedFirstButton) {
    CoInitialize(nullptr);
    Open({{"ChooseLicense", "0"}});
    g_boxTitle.clear();
    g_boxObjects.clear();
    UINT_PTR timer = SetTimer(nullptr, 0, 300, &ReadBoxThenAnswer);
    ClickAndPump(L"install_btn", 1500);
    KillTimer(nullptr, timer);
    EXPECT_EQ(N(g_boxTitle), "Orbala Lumeno");
    auto has = [](long role, const std::string& name) {
        for (const auto& o : g_boxObjects)
            if (o.first == role && N(o.second) == name) return true;
        return false;
    };
    EXPECT_TRUE(has(ROLE_SYSTEM_CLIENT, "Orbala Lumeno"));
    EXPECT_TRUE(has(ROLE_SYSTEM_PUSHBUTTON, "*Agree and Install"));  // the default button
    EXPECT_TRUE(has(ROLE_SYSTEM_PUSHBUTTON, "Disagree"));
    EXPECT_TRUE(has(ROLE_SYSTEM_PUSHBUTTON, "Close"));
    EXPECT_TRUE(has(ROLE_SYSTEM_STATICTEXT, "To protect your interests and rights, please read and agree to the license agreement"));
    // Enter took "Agree and Install".
    EXPECT_TRUE(window_->LicenceTicked());
    EXPECT_EQ(window_->workerStarts, 1);
}

TEST_F(MainWindowTest, TooltipsOfTheLayoutAreShownOnHover) {
    Open();
    POINT pt{-1, -1};
    ASSERT_TRUE(ControlCenter(Hwnd(), L"closebtn", pt));
    PostMessageW(Hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
    Pump(100);
    HWND tip = window_->Pm().GetToolTipWindow();
    ASSERT_NE(tip, nullptr);
    wchar_t text[128] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = Hwnd();
    tool.uId = 1;
    tool.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(N(text), "Close");
    SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool));
    EXPECT_TRUE(DuiLib::UI::Contains(tool.rect, pt));
    // Away from it: the tool has no text, so nothing shows.
    ASSERT_TRUE(ControlCenter(Hwnd(), L"install_btn", pt));
    PostMessageW(Hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
    Pump(100);
    text[0] = 0;
    tool.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(N(text), "");
}
