// Whole installations with the real setup.exe under Wine against the local services (on the
// ports the local deployment names): the install click, the download, the signature check, the
// silent installer, the finish page and the product's start; and the ways that go wrong (the
// configuration service down, a package with a bad signature, the network failing mid-download,
// the product already running, a close during the download).
// The test presses the window's buttons with the mouse where the skin's layout puts them, and
// keeps a screenshot of each page it passes under its folder in the build.
#include <gtest/gtest.h>

#include <winsock2.h>  // before windows.h
#include <windows.h>

#include <json/json.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DuiLib/Core/WindowImplBase.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/TextCodec.h"
#include "base/Unattended.h"
#include "support/install_fixtures.h"
#include "support/local_services.h"
#include "support/setup_driver.h"
#include "support/setup_process.h"
#include "support/skin_archive.h"
#include "support/test_support.h"
#include "window/MessageBoxKinds.h"
#include "window/MessageBoxWnd.h"

namespace {

const wchar_t* kClass = L"QV_UI_Frame_486";
const wchar_t* kBoxClass = L"MESSAGEBOX_UI_Frame";
const std::string kPackage = "OrbalaLumeno_Setup.exe";  // the skin's download file name

std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }

std::wstring InstallFolder() {
    wchar_t programFiles[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramW6432", programFiles, MAX_PATH);
    if (!programFiles[0]) GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    return std::wstring(programFiles) + L"\\Orbala\\" + install_fixtures::ProductName();
}

std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& name) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
        std::wstring entry = data.cFileName;
        if (entry == L"." || entry == L"..") continue;
        std::wstring full = folder + L"\\" + entry;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (auto& f : FindFiles(full, name)) found.push_back(f);
        } else if (lstrcmpiW(entry.c_str(), name.c_str()) == 0 ||
                   (name.size() > 1 && name[0] == L'*' && entry.size() >= name.size() - 1 &&
                    lstrcmpiW(entry.c_str() + entry.size() - (name.size() - 1), name.c_str() + 1) == 0)) {
            found.push_back(full);
        }
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return found;
}

// One setup.exe copy in a folder of its own, with its application data there and its events
// going to the services of this test.
class InstallFlowE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
        install_fixtures::EndProcessesNamed({install_fixtures::ProcessName()});
        install_fixtures::DeleteUninstallKey();
        DeleteFileW((InstallFolder() + L"\\launches.txt").c_str());
        DeleteFileW((InstallFolder() + L"\\" + install_fixtures::ProcessName()).c_str());
        ASSERT_TRUE(install_fixtures::TrustTestAuthority());
        // A close during a download keeps the package and its task file for the next run: each
        // case starts without what an earlier case left in the machine-wide work folder.
        for (const std::wstring& p : WorkPackages()) {
            DeleteFileW(p.c_str());
            DeleteFileW((p + L".xml").c_str());
            DeleteFileW((p + L".db").c_str());
        }
        exe_ = dir_.File(L"setup.exe");
        ASSERT_TRUE(CopyFileW(BuiltSetupExe().c_str(), exe_.c_str(), FALSE));
        appData_ = dir_.File(L"AppData");
        CreateDirectoryW(appData_.c_str(), nullptr);
        SetEnvironmentVariableW(L"APPDATA", appData_.c_str());
        SetEnvironmentVariableW(L"ORBALA_REPORT_ENDPOINT", TextCodec::Utf8ToWide(LocalServices::BaseUrl(true)).c_str());
        ASSERT_TRUE(setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"install_btn", -1, 360, installBtn_));
        ASSERT_TRUE(setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"closebtn", -1, 360, closeBtn_));
    }
    void TearDown() override {
        if (setup_ && setup_->IsRunning()) setup_->Kill();
        for (const auto& w : FindWindowsOfClass(kClass))
            if (HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, w.second)) {
                TerminateProcess(p, 1);
                CloseHandle(p);
            }
        install_fixtures::EndProcessesNamed({install_fixtures::ProcessName()});
        SetEnvironmentVariableW(L"ORBALA_REPORT_ENDPOINT", nullptr);
    }

    // Serves a package variant under the skin's download name and points the configuration
    // reply at it with the product's program name.
    void Serve(const std::wstring& variant, const std::string& extraConfig = "") {
        std::wstring root = TextCodec::Utf8ToWide(LocalServices::Root());
        ASSERT_TRUE(install_fixtures::CopyPackage(variant, root + L"\\" + TextCodec::Utf8ToWide(kPackage)));
        std::string config = "{\"Process_name\": \"" + N(install_fixtures::ProcessName()) +
                             "\", \"Install_url\": \"\", \"Additional_time\": 0" + extraConfig + "}";
        ASSERT_EQ(LocalServices::Control("POST", "/__control/config", config), 200);
    }
    // The product configuration limits the installer to 3 s; the slow installer takes 30 s:
    // installs until the time-out box shows.
    void ReachTheTimeOutBox();
    void WriteLocalSettings(const std::string& text) { test_support::WriteText(dir_.File(L"qv_downloader.cfg"), text); }

    void Start() {
        setup_.reset(new SetupProcess());
        ASSERT_TRUE(setup_->Start(exe_));
        ASSERT_TRUE(WaitUntil([&] { return (window_ = setup_driver::WindowOf(kClass, setup_->Pid())) != nullptr; }, 60000))
            << setup_->Output();
        Sleep(1500);  // the window shows and the early configuration query runs
    }
    void ClickInstall() { setup_driver::ClickAt(window_, installBtn_); }
    // The window thread has come back to its message loop: a message sent now is answered only
    // there (or in a box's loop, so call it once the boxes are closed).
    bool WindowThreadCaughtUp() {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &result) != 0;
    }
    // Closes the window as the taskbar does and waits for the setup to end: its log is then whole.
    bool CloseAndWaitForExit() {
        PostMessageW(window_, WM_CLOSE, 0, 0);
        return setup_->WaitForExit(60000);
    }

    std::string Log() {
        // The program's log files of every run (the setup's and its hidden copies').
        std::string all;
        for (const std::wstring& f : FindFiles(appData_, L"*.log")) all += test_support::ReadFile(f);
        return all;
    }
    bool WaitForLog(const std::string& text, DWORD ms) {
        return WaitUntil([&] { return Log().find(text) != std::string::npos; }, ms);
    }
    // Answers the setup's open message box with the button of that kind's layout.
    bool AnswerBox(int kind, const std::wstring& button) {
        HWND box = nullptr;
        if (!WaitUntil([&] { return (box = setup_driver::WindowOf(kBoxClass, setup_->Pid())) != nullptr && IsWindowVisible(box); }, 20000))
            return false;
        Sleep(300);
        POINT pt{};
        if (!setup_driver::LayoutPoint(MessageBoxKinds::SkinFileFor(kind), button, kind, 0, pt)) return false;
        setup_driver::ClickAt(box, pt);
        return WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
    }
    std::vector<std::string> Ga4Actions() {
        std::vector<std::string> out;
        for (const Json::Value& r : LocalServices::Requests("/g/collect")) {
            std::string body = r["body"].asString() + r["query"].asString() + r["path"].asString();
            size_t at = body.find("ep.qv_action=");
            while (at != std::string::npos) {
                size_t end = body.find_first_of("&\n", at);
                out.push_back(body.substr(at + 13, end == std::string::npos ? std::string::npos : end - at - 13));
                at = body.find("ep.qv_action=", at + 1);
            }
        }
        return out;
    }
    bool SentAction(const std::string& action) {
        for (const auto& a : Ga4Actions())
            if (a == action) return true;
        return false;
    }
    // The downloaded package in the work folder (on the fixed drive with the most room).
    std::vector<std::wstring> WorkPackages() {
        std::vector<std::wstring> found;
        DWORD drives = GetLogicalDrives();
        for (int i = 0; i < 26; ++i) {
            if (!(drives & (1u << i))) continue;
            std::wstring path = std::wstring(1, wchar_t(L'A' + i)) +
                                L":\\VUDezivazaru\\OrbalaLumeno_Setup\\OrbalaLumeno_Setup_1.0.0.0.exe";
            if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) found.push_back(path);
        }
        return found;
    }

    test_support::TempDir dir_;
    std::wstring exe_, appData_;
    std::unique_ptr<SetupProcess> setup_;
    HWND window_ = nullptr;
    POINT installBtn_{}, closeBtn_{};
};

}  // namespace

TEST_F(InstallFlowE2E, InstallsStartsTheProductAndRecordsTheLanguage) {
    Serve(L"");
    Start();
    setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "happy-1-setting");
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" BeginInstallTask", 10000)) << Log();
    // The worker runs once the window has turned to its running page.
    ASSERT_TRUE(WaitForLog(" Speed-Test Totally Take ", 30000)) << Log();
    Sleep(500);
    EXPECT_TRUE(setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "happy-2-running"));
    // The worker starts the product itself (NeedStart_flag 1) through the launch hint window.
    ASSERT_TRUE(WaitForLog(" LaunchProduct: ", 120000)) << Log();
    setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "happy-3-launching");
    std::vector<install_fixtures::Launch> launches = install_fixtures::WaitForLaunches(InstallFolder(), 1, 30000);
    ASSERT_EQ(launches.size(), 1u) << Log();
    const std::string program = N(InstallFolder() + L"\\" + install_fixtures::ProcessName());
    EXPECT_NE(launches[0].commandLine.find(program), std::string::npos) << launches[0].commandLine;
    // The setup ends by itself once the hint has shown for Gif_duration seconds.
    ASSERT_TRUE(setup_->WaitForExit(60000)) << Log();
    EXPECT_EQ(setup_->ExitCode(), 0u);
    std::wstring language;
    ASSERT_TRUE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
    EXPECT_EQ(N(language), "en");
    const std::string log = Log();
    EXPECT_EQ(log.find(" Enter fail page "), std::string::npos);
    EXPECT_NE(log.find(" install Finished, progress: "), std::string::npos);
    EXPECT_EQ(LocalServices::Requests("/queryDownloaderV2").empty(), false);
    EXPECT_FALSE(LocalServices::Requests("/download/" + kPackage).empty());
}

TEST_F(InstallFlowE2E, ServiceDownInstallsFromTheSkinsConfiguration) {
    Serve(L"");
    // The reply the service would give leads nowhere: were it used, the download would fail.
    ASSERT_EQ(LocalServices::Control("POST", "/__control/config",
                                     R"({"Download_url": "${HTTP}/download/absent.exe", )"
                                     R"("Extra_download_url": "${HTTPS}/download/absent.exe"})"),
              200);
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/queryDownloaderV2","status":503})"));
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" LaunchProduct: ", 120000)) << Log();
    EXPECT_EQ(install_fixtures::WaitForLaunches(InstallFolder(), 1, 30000).size(), 1u);
    ASSERT_TRUE(setup_->WaitForExit(60000));
    const std::string log = Log();
    EXPECT_EQ(log.find(" Enter fail page "), std::string::npos);
    // The fault fired: the service answered every configuration query through the 503 rule ...
    const std::vector<Json::Value> queries = LocalServices::Requests("/queryDownloaderV2");
    ASSERT_FALSE(queries.empty());
    for (const Json::Value& q : queries) {
        bool faulted = false;
        for (const Json::Value& f : q["faults"]) faulted = faulted || f.asString() == "status";
        EXPECT_TRUE(faulted) << q.toStyledString();
    }
    // ... and the setup took the skin's configuration, whose package address is the one fetched.
    EXPECT_NE(log.find(" Configure Load From File! "), std::string::npos) << log;
    EXPECT_EQ(log.find(" Configure Load From XML! "), std::string::npos) << log;
    EXPECT_TRUE(LocalServices::Requests("/download/absent.exe").empty());
    EXPECT_FALSE(LocalServices::Requests("/download/" + kPackage).empty());
}

TEST_F(InstallFlowE2E, BadSignatureShowsTheBoxAndClearsThePackage) {
    Serve(L"unsigned");
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" ShowMsgBox: " + std::to_string(MsgMD5Fail), 120000)) << Log();
    Sleep(500);  // the box paints
    setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "signature-box");
    ASSERT_FALSE(WorkPackages().empty());
    ASSERT_TRUE(AnswerBox(MsgMD5Fail, L"btn_yes"));
    ASSERT_TRUE(WaitForLog(" Enter fail page ", 10000)) << Log();
    EXPECT_TRUE(WaitUntil([&] { return WorkPackages().empty(); }, 10000)) << "the package is cleared";
    EXPECT_TRUE(setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "signature-failure-page"));
    EXPECT_TRUE(install_fixtures::Launches(InstallFolder()).empty());
}

// Signatures that pass Windows' own check on a machine that trusts both test authorities, but
// not this build's: the publisher's exact names on a self-made certificate and through the second
// authority. The same refusal as an unsigned package: its box, nothing installed.
TEST_F(InstallFlowE2E, PublishersNameWithoutTheBuildsAuthorityIsRefused) {
    for (const wchar_t* variant : {L"selfsigned", L"otherca"}) {
        SCOPED_TRACE(N(variant));
        TearDown();
        SetUp();
        Serve(variant);
        Start();
        ClickInstall();
        ASSERT_TRUE(WaitForLog(" ShowMsgBox: " + std::to_string(MsgMD5Fail), 120000)) << Log();
        const std::string log = Log();
        EXPECT_NE(log.find(" VerifyEmbeddedSignature "), std::string::npos);
        EXPECT_EQ(log.find(" [Start Install CmdLine]: "), std::string::npos) << log;
        ASSERT_TRUE(AnswerBox(MsgMD5Fail, L"btn_yes"));
        ASSERT_TRUE(WaitForLog(" Enter fail page ", 10000)) << Log();
        EXPECT_TRUE(WaitUntil([&] { return WorkPackages().empty(); }, 10000)) << "the package is cleared";
        EXPECT_TRUE(install_fixtures::Launches(InstallFolder()).empty());
        std::wstring language;
        EXPECT_FALSE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
    }
}

// The service's reply names another digest than the served package's (a package of the same
// publisher): every attempt is refused, then the download failure's box and page; nothing runs.
TEST_F(InstallFlowE2E, PackageWithAnotherDigestThanTheReplysIsNeverInstalled) {
    Serve(L"", ", \"Md5\": \"0123456789abcdef0123456789abcdef\"");
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" ShowMsgBox: " + std::to_string(MsgUrlFail), 240000)) << Log();
    const std::string log = Log();
    size_t refusals = 0;
    for (size_t at = log.find(" Package refused: its MD5 is not the configuration's"); at != std::string::npos;
         at = log.find(" Package refused: its MD5 is not the configuration's", at + 1))
        ++refusals;
    EXPECT_EQ(refusals, 12u) << log;
    EXPECT_EQ(log.find(" [Start Install CmdLine]: "), std::string::npos) << log;
    ASSERT_TRUE(AnswerBox(MsgUrlFail, L"btn_yes"));
    ASSERT_TRUE(WaitForLog(" Enter fail page ", 10000)) << Log();
    EXPECT_TRUE(WorkPackages().empty()) << "the refused package is deleted";
    EXPECT_EQ(LocalServices::Requests("/api/exception/send").size(), 12u);
    EXPECT_TRUE(install_fixtures::Launches(InstallFolder()).empty());
    std::wstring language;
    EXPECT_FALSE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
}

TEST_F(InstallFlowE2E, ProductAlreadyRunningIsRefused) {
    Serve(L"");
    // The product's program runs (from the fixtures' folder).
    SetupProcess product;
    ASSERT_TRUE(product.Start(install_fixtures::ProductProgram()));
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" ShowMsgBox: " + std::to_string(MsgAppExist), 20000)) << Log();
    ASSERT_TRUE(AnswerBox(MsgAppExist, L"btn_yes"));
    EXPECT_TRUE(WaitForLog("app is running", 5000));
    // The click has been handled to its end (an install that went on would have started its
    // worker by then); once the setup has ended its log is whole: no worker ran, nothing was
    // fetched or installed.
    ASSERT_TRUE(WindowThreadCaughtUp());
    ASSERT_TRUE(CloseAndWaitForExit()) << Log();
    const std::string log = Log();
    EXPECT_EQ(log.find(" Speed-Test Totally Take "), std::string::npos) << log;
    EXPECT_EQ(log.find(" install Finished"), std::string::npos) << log;
    EXPECT_TRUE(LocalServices::Requests("/download/" + kPackage).empty());
    product.Kill();
}

// The running page has no close button of its own: the user closes it from the taskbar, which
// sends WM_CLOSE (no question is asked; the setting page's close button asks, see the window test).
TEST_F(InstallFlowE2E, CloseDuringTheDownloadInBackgroundModeFinishesHidden) {
    // A slow download keeps the window on the running page; background mode is on.
    Serve(L"", ", \"Back_running\": 1");
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/","throttle":100000})"));
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" BeginInstallTask", 10000));
    Sleep(2000);
    PostMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitForLog(" Close and run background at: ", 10000)) << Log();
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window_); }, 5000));
    EXPECT_TRUE(setup_->IsRunning());
    // The installation goes on hidden and the setup ends by itself, the product installed.
    ASSERT_TRUE(setup_->WaitForExit(180000)) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find(" BgMode will auto exit when success"), std::string::npos) << log;
    std::wstring language;
    EXPECT_TRUE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
    EXPECT_TRUE(WaitUntil([&] { return SentAction("Close"); }, 15000));
}

TEST_F(InstallFlowE2E, CloseDuringTheDownloadWithoutBackgroundModeEndsAtOnce) {
    Serve(L"");
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/","throttle":20000})"));
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" BeginInstallTask", 10000));
    Sleep(2000);
    PostMessageW(window_, WM_CLOSE, 0, 0);
    // Nothing is installing yet: the process does not stay behind for the download.
    ASSERT_TRUE(setup_->WaitForExit(30000)) << Log();
    EXPECT_EQ(setup_->ExitCode(), 0u);
    const std::string log = Log();
    EXPECT_EQ(log.find(" Close and run background at: "), std::string::npos);
    EXPECT_EQ(log.find(" install Finished"), std::string::npos);
    std::wstring language;
    EXPECT_FALSE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
}

TEST_F(InstallFlowE2E, NetworkFailureMidDownloadThenTryAgainResumes) {
    Serve(L"");
    // After the size probe the first segments break off part way, then the server is gone for
    // every request: the attempts run out with part of the package on disk.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/","method":"GET","times":1,"reset_after":200000})"));
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/","skip":2,"status":404})"));
    Start();
    ClickInstall();
    // The failure's box comes first, then the failure page.
    ASSERT_TRUE(WaitForLog(" ShowMsgBox: ", 150000)) << Log();
    std::string log = Log();
    int kind = std::atoi(log.c_str() + log.find(" ShowMsgBox: ") + 13);
    EXPECT_TRUE(kind == MsgUrlFail || kind == MsgInternetFail || kind == MsgInternetTimeout) << kind;
    ASSERT_TRUE(AnswerBox(kind, L"btn_yes"));
    ASSERT_TRUE(WaitForLog(" Enter fail page ", 10000)) << Log();
    setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "network-failure-page");
    EXPECT_TRUE(WaitUntil([&] { return SentAction("8.DownFail"); }, 15000));  // events go out on their own thread
    // The network is back: "Try again" resumes and installs.
    ASSERT_EQ(LocalServices::Control("DELETE", "/__control/faults"), 200);
    POINT startApp{};
    ASSERT_TRUE(setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"start_app", -1, 360, startApp, true));
    setup_driver::ClickAt(window_, startApp);
    ASSERT_TRUE(WaitForLog(" LaunchProduct: ", 180000)) << Log();
    EXPECT_TRUE(WaitUntil([&] { return SentAction("8-1.ClickTryAgain"); }, 15000));
    ASSERT_TRUE(setup_->WaitForExit(60000));
}

// The installer that outlives its time limit, the automated test mode's whole cycle and an
// install folder on a drive too small for the product.
namespace {

// The analytics hits the collector received, as (action, label) pairs in the order sent.
std::vector<std::pair<std::string, std::string>> Ga4Events() {
    std::vector<std::pair<std::string, std::string>> out;
    auto field = [](const std::string& hit, const std::string& name) {
        size_t at = hit.find("&" + name + "=");
        if (at == std::string::npos) return std::string();
        at += name.size() + 2;
        return hit.substr(at, hit.find('&', at) == std::string::npos ? std::string::npos : hit.find('&', at) - at);
    };
    for (const Json::Value& r : LocalServices::Requests("/g/collect")) {
        std::istringstream hits(r["path"].asString() + "\n" + r["query"].asString() + "\n" + r["body"].asString());
        std::string hit;
        while (std::getline(hits, hit))
            if (hit.find("ep.qv_action=") != std::string::npos)
                out.emplace_back(field("&" + hit, "ep.qv_action"), field("&" + hit, "ep.qv_label"));
    }
    return out;
}
bool SentEvent(const std::string& action, const std::string& label) {
    for (const auto& e : Ga4Events())
        if (e.first == action && e.second == label) return true;
    return false;
}

// The funnel events the collector received: their "actions" members, in the order sent.
std::vector<Json::Value> FunnelActions() {
    std::vector<Json::Value> out;
    for (const Json::Value& r : LocalServices::Requests("/collect"))
        out.push_back(test_support::ParseJson(r["body"].asString())["actions"]);
    return out;
}
bool SentFunnelStep(const std::string& coreFunction, const std::string& action) {
    for (const Json::Value& a : FunnelActions())
        if (a["core_func_name"].asString() == coreFunction && a["event_action"].asString() == action) return true;
    return false;
}

BOOL CALLBACK FirstResourceLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    *reinterpret_cast<WORD*>(found) = language;
    return FALSE;
}

// Gives a setup.exe copy the skin it ships with, except for some labels of its product
// configuration (the configuration as generated for this build, with those texts changed).
bool GiveSetupSkinLabels(const std::wstring& exe, const std::map<std::string, std::string>& labels) {
    std::string xml = test_support::ReadFile(test_support::GeneratedPath("skin/configure/configure.xml"));
    for (const auto& label : labels) {
        const std::string opening = "name=\"" + label.first + "\" text=\"";
        size_t at = xml.find(opening);
        if (at == std::string::npos) return false;
        at += opening.size();
        xml.replace(at, xml.find('"', at) - at, label.second);
    }
    std::string archive = test_support::MakeSkinArchive({{"configure/configure.xml", xml}});
    if (archive.empty()) return false;
    // The resource keeps the language it was built with.
    WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    if (HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
        EnumResourceLanguagesW(image, L"ZIPRES", MAKEINTRESOURCEW(138), &FirstResourceLanguage,
                               reinterpret_cast<LONG_PTR>(&language));
        FreeLibrary(image);
    }
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update) return false;
    BOOL ok = UpdateResourceW(update, L"ZIPRES", MAKEINTRESOURCEW(138), language, &archive[0], DWORD(archive.size()));
    return EndUpdateResourceW(update, !ok) && ok;
}

// Starts a command line of the host's shell (Wine starts Linux programs by their path). Wine
// does not wait for a Linux program: the caller waits for its effect.
bool HostShell(const std::string& command, DWORD ms = 30000) {
    std::string line = "Z:\\bin\\sh -c \"" + command + "\"";
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    bool ended = WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return ended;
}

bool FreeBytes(const std::wstring& root, uint64_t& free, uint64_t* total = nullptr) {
    ULARGE_INTEGER available{}, size{}, totalFree{};
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, &size, &totalFree)) return false;
    free = available.QuadPart;
    if (total) *total = size.QuadPart;
    return true;
}

// A drive letter of the Wine prefix on a size-limited memory file system of the host (a tmpfs
// mount, which needs root), removed again at the end.
class SmallDrive {
public:
    explicit SmallDrive(unsigned kib) {
        DWORD used = GetLogicalDrives();
        for (wchar_t c = L'Q'; c <= L'Y' && !letter_; ++c)
            if (!(used & (1u << (c - L'A')))) letter_ = c;
        if (!letter_) return;
        folder_ = "/tmp/orbala-e2e-drive-" + std::to_string(GetCurrentProcessId());
        link_ = "${WINEPREFIX:-$HOME/.wine}/dosdevices/" + std::string(1, char(towlower(letter_))) + ":";
        HostShell("mkdir -p " + folder_ + " && mount -t tmpfs -o size=" + std::to_string(kib) + "k orbala-e2e " +
                  folder_ + " && ln -sfn " + folder_ + " " + link_);
        uint64_t free = 0, total = 0;
        ready_ = WaitUntil([&] { return FreeBytes(Root(), free, &total); }, 15000) && total <= uint64_t(kib) * 1024;
    }
    ~SmallDrive() {
        if (!letter_) return;
        // Lazily: a Wine process may still hold the drive open; it goes once they let go.
        HostShell("rm -f " + link_ + "; umount -l " + folder_ + " && rmdir " + folder_);
        const std::wstring mountPoint = test_support::WinePath(folder_);
        WaitUntil([&] { return GetFileAttributesW(mountPoint.c_str()) == INVALID_FILE_ATTRIBUTES; }, 15000);
    }
    bool Ready() const { return ready_; }
    std::wstring Root() const { return std::wstring(1, letter_) + L":\\"; }

private:
    wchar_t letter_ = 0;
    std::string folder_, link_;
    bool ready_ = false;
};

// The skin's main window with its settings page selected, laid out to learn where the install
// folder box is drawn.
class SettingsProbe : public DuiLib::WindowImplBase {
protected:
    const wchar_t* GetWindowClassName() const override { return L"OrbalaSettingsProbe"; }
    std::wstring GetSkinFile() override { return L"InstallMainWnd.xml"; }
    void InitWindow() override {
        if (auto* tab = dynamic_cast<DuiLib::CTabLayoutUI*>(m_pm.FindControl(L"set_layout"))) tab->SelectItem(1);
    }

public:
    bool Point(const std::wstring& control, int height, POINT& pt) {
        if (!test_support::UseSourceSkin() || !Create(nullptr, L"probe", WS_POPUP, 0, 0, 0, 600, height)) return false;
        RECT rc{};
        GetWindowRect(GetHWND(), &rc);
        SetWindowPos(GetHWND(), nullptr, 0, 0, rc.right - rc.left, m_pm.Scale(height), SWP_NOMOVE | SWP_NOZORDER);
        m_pm.UpdateLayout();
        DuiLib::CControlUI* c = m_pm.FindControl(control);
        if (c) pt = POINT{(c->GetPos().left + c->GetPos().right) / 2, (c->GetPos().top + c->GetPos().bottom) / 2};
        DestroyWindow(GetHWND());
        return c != nullptr && c->GetPos().right > c->GetPos().left;
    }
};

BOOL CALLBACK VisibleEditChild(HWND child, LPARAM found) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// The native edit box the toolkit opens inside the window while its text is edited.
HWND NativeEditOf(HWND window) {
    HWND found = nullptr;
    EnumChildWindows(window, &VisibleEditChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Opens the settings panel of the setup's window, types the install folder into its box as a user
// does and closes the panel again; keeps a screenshot with the folder typed.
bool TypeInstallFolder(HWND window, const std::wstring& folder, const std::string& screenshot) {
    POINT settings{}, edit{};
    if (!setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"install_setting", -1, 360, settings) ||
        !SettingsProbe().Point(L"install_file_path_edit", 560, edit))
        return false;
    setup_driver::ClickAt(window, settings);
    Sleep(800);
    setup_driver::ClickAt(window, edit);
    HWND native = nullptr;
    if (!WaitUntil([&] { return (native = NativeEditOf(window)) != nullptr; }, 5000)) return false;
    SendMessageW(native, EM_SETSEL, 0, -1);
    for (wchar_t c : folder) PostMessageW(native, WM_CHAR, c, 1);
    // Asked with the message: the text of another process's edit box is not its caption.
    wchar_t typed[MAX_PATH] = {};
    if (!WaitUntil([&] { return SendMessageW(native, WM_GETTEXT, MAX_PATH, LPARAM(typed)) >= 0 && folder == typed; }, 5000))
        return false;
    bool pictured = setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, screenshot + "-1-folder");
    setup_driver::ClickAt(window, settings);  // the panel closes, the folder stays
    Sleep(800);
    return pictured;
}

// Windows of the setup's class that belong to processes other than pid.
std::vector<std::pair<HWND, DWORD>> OtherSetupWindows(DWORD pid) {
    std::vector<std::pair<HWND, DWORD>> out;
    for (const auto& w : FindWindowsOfClass(kClass))
        if (w.second != pid) out.push_back(w);
    return out;
}

}  // namespace

void InstallFlowE2E::ReachTheTimeOutBox() {
    ASSERT_TRUE(GiveSetupSkinLabels(exe_, {{"InstallTimeout", "3"}}));
    Serve(L"slow");
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" ShowMsgBox: " + std::to_string(MsgInstallRunTimeOut), 150000)) << Log();
}

TEST_F(InstallFlowE2E, InstallerOutlivingTheTimeLimitShowsTheTimeOutBox) {
    ASSERT_NO_FATAL_FAILURE(ReachTheTimeOutBox());
    Sleep(500);
    EXPECT_TRUE(setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "timeout-box"));
    const std::string log = Log();
    EXPECT_NE(log.find(" Cmd nWaitSeconds timed out: 3"), std::string::npos) << log;
    EXPECT_EQ(log.find(" install Finished"), std::string::npos) << log;
    ASSERT_TRUE(AnswerBox(MsgInstallRunTimeOut, L"btn_yes"));
    ASSERT_TRUE(WaitForLog(" Enter fail page ", 10000)) << Log();
    EXPECT_TRUE(WaitUntil([&] { return SentEvent("FlowError", "DL016"); }, 15000));
    // The installing step ends in the funnel, without its success.
    EXPECT_TRUE(WaitUntil([&] { return SentFunnelStep("Installing", "CoreFuncEnd"); }, 15000));
    EXPECT_FALSE(SentFunnelStep("Installing", "ProgramFinsh"));
    Sleep(1000);
    EXPECT_TRUE(setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "timeout-failure-page"));
    EXPECT_TRUE(install_fixtures::Launches(InstallFolder()).empty());
    // The installer was left running: it finishes its installation on its own later.
    std::wstring language;
    EXPECT_TRUE(WaitUntil([&] { return install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language); }, 60000));
}

TEST_F(InstallFlowE2E, AutomatedModeInstallsThenStartsItselfAgain) {
    WriteLocalSettings("[Settings]\r\nAutoRun=1\r\n");
    Serve(L"");
    Start();
    // Nobody presses "install": the window does, two seconds after its start.
    ASSERT_TRUE(WaitForLog(" BeginInstallTask", 15000)) << Log();
    ASSERT_TRUE(WaitForLog(" Speed-Test Totally Take ", 30000)) << Log();
    Sleep(500);
    EXPECT_TRUE(setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "autorun-1-running"));
    // After the installation the program starts itself again, hidden, and this run ends.
    ASSERT_TRUE(WaitForLog(" Force Exit 8", 150000)) << Log();
    EXPECT_TRUE(WorkPackages().empty()) << "the downloaded installer is deleted before the restart";
    std::vector<std::pair<HWND, DWORD>> second;
    ASSERT_TRUE(WaitUntil([&] { return !(second = OtherSetupWindows(setup_->Pid())).empty(); }, 30000)) << Log();
    const DWORD secondPid = second[0].second;
    ASSERT_TRUE(setup_->WaitForExit(60000)) << Log();
    EXPECT_EQ(setup_->ExitCode(), 0u);
    std::wstring language;
    EXPECT_TRUE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
    EXPECT_EQ(install_fixtures::WaitForLaunches(InstallFolder(), 1, 30000).size(), 1u) << Log();
    const std::string log = Log();
    size_t restart = log.find(" Force Exit 7 error code = ");
    ASSERT_NE(restart, std::string::npos);
    EXPECT_EQ(log.compare(restart + 27, 13, "0, 0 (started"), 0) << log.substr(restart, 80);
    // The second run is the same program, started from its protected copy (never from the
    // download folder), and it asks for the download configuration again; analytics are
    // refused throughout the automated mode (the copy has the switch file beside it).
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, secondPid);
    ASSERT_NE(process, nullptr);
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameW(process, 0, image, &size);
    const std::wstring secondImage = image;
    EXPECT_NE(lstrcmpiW(image, exe_.c_str()), 0) << N(image);
    EXPECT_NE(secondImage.find(L"\\setup-"), std::wstring::npos) << N(image);
    EXPECT_EQ(secondImage.substr(secondImage.find_last_of(L'\\') + 1), L"setup.exe");
    EXPECT_EQ(test_support::ReadFile(secondImage), test_support::ReadFile(exe_));
    EXPECT_TRUE(WaitUntil([] { return LocalServices::Requests("/queryDownloaderV2").size() >= 2; }, 30000));
    EXPECT_TRUE(WaitUntil([&] {
        const std::string all = Log();
        return all.find(" Start: skin loaded") != all.rfind(" Start: skin loaded");
    }, 30000)) << "the second run writes its own log: " << Log();
    EXPECT_TRUE(setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "autorun-2-second-run"));
    const auto events = Ga4Events();
    EXPECT_TRUE(events.empty()) << events.size() << " events, the first " << (events.empty() ? "" : events[0].first);
    EXPECT_TRUE(FunnelActions().empty()) << FunnelActions().size() << " funnel events";
    // The cycle would go on: end it here.
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    for (const auto& w : OtherSetupWindows(setup_->Pid()))
        if (HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, w.second)) {
            TerminateProcess(p, 1);
            CloseHandle(p);
        }
}

TEST_F(InstallFlowE2E, InstallFolderOnADriveTooSmallShowsTheNoSpaceBox) {
    SmallDrive drive(1024);
    ASSERT_TRUE(drive.Ready()) << "a 1 MiB tmpfs mounted as a drive of the prefix (needs root)";
    uint64_t smallFree = 0;
    ASSERT_TRUE(FreeBytes(drive.Root(), smallFree));
    // The largest fixed drive, where the downloads go, holds a package of two thirds of its free
    // space once, but not with its installation beside it.
    uint64_t largest = 0;
    DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        std::wstring root = std::wstring(1, wchar_t(L'A' + i)) + L":\\";
        uint64_t free = 0;
        if ((drives & (1u << i)) && GetDriveTypeW(root.c_str()) == DRIVE_FIXED && FreeBytes(root, free))
            largest = std::max(largest, free);
    }
    ASSERT_GT(largest, 0u);
    const uint64_t packageSize = largest / 3 * 2;
    Serve(L"", ", \"Filesize\": " + std::to_string(packageSize));
    Start();
    // The user opens the settings and types a folder on the small drive.
    ASSERT_TRUE(TypeInstallFolder(window_, drive.Root() + L"Orbala", "small-drive"));
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" ShowMsgBox: " + std::to_string(MsgNoEnoughSpace), 20000)) << Log();
    Sleep(500);
    EXPECT_TRUE(setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "small-drive-2-box"));
    // The small drive is judged first, then the largest drive the folder moves to.
    const std::string log = Log();
    EXPECT_NE(log.find(" PC space not enough2: " + std::to_string(smallFree) + "<=" + std::to_string(packageSize * 2)),
              std::string::npos) << log;
    size_t second = log.find(" PC space not enough2: ", log.find(" PC space not enough2: ") + 1);
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_EQ(log.find(" PC space not enough1: "), std::string::npos) << log;
    ASSERT_TRUE(AnswerBox(MsgNoEnoughSpace, L"btn_yes"));
    // The window thread has handled the click to its end (an install that went on would have
    // started its worker by then).
    ASSERT_TRUE(WindowThreadCaughtUp());
    EXPECT_TRUE(WaitUntil([&] { return SentEvent("FlowError", "DL008"); }, 15000));
    std::string noSpace;
    for (const auto& e : Ga4Events())
        if (e.first == "NoEnoughSpace") noSpace = e.second;
    EXPECT_EQ(noSpace.rfind("install_", 0), 0u) << noSpace;
    EXPECT_GT(std::strtoull(noSpace.c_str() + 8, nullptr, 10), smallFree) << "the larger drive's free bytes";
    EXPECT_TRUE(setup_->IsRunning());
    // The window stayed on its setting page: once the setup has ended, its whole log shows no
    // worker and no failure page, and nothing was fetched.
    ASSERT_TRUE(CloseAndWaitForExit()) << Log();
    const std::string whole = Log();
    EXPECT_EQ(whole.find(" Enter fail page "), std::string::npos) << whole;
    EXPECT_EQ(whole.find(" Speed-Test Totally Take "), std::string::npos) << whole;
    EXPECT_TRUE(LocalServices::Requests("/download/" + kPackage).empty());
}

TEST_F(InstallFlowE2E, InstallFolderOnADriveTooSmallMovesToTheLargestDrive) {
    SmallDrive drive(1024);
    ASSERT_TRUE(drive.Ready()) << "a 1 MiB tmpfs mounted as a drive of the prefix (needs root)";
    uint64_t smallFree = 0;
    ASSERT_TRUE(FreeBytes(drive.Root(), smallFree));
    // The reply announces the package's own size, which the largest drive holds easily.
    Serve(L"");
    WIN32_FILE_ATTRIBUTE_DATA package{};
    ASSERT_TRUE(GetFileAttributesExW(install_fixtures::Package(L"").c_str(), GetFileExInfoStandard, &package));
    const uint64_t packageSize = (uint64_t(package.nFileSizeHigh) << 32) | package.nFileSizeLow;
    Start();
    ASSERT_TRUE(TypeInstallFolder(window_, drive.Root() + L"Orbala", "moved-drive"));
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" LaunchProduct: ", 120000)) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find(" PC space not enough2: " + std::to_string(smallFree) + "<=" + std::to_string(packageSize * 2)),
              std::string::npos) << log;
    EXPECT_EQ(log.find(" PC space not enough2: "), log.rfind(" PC space not enough2: ")) << "the second drive is large enough";
    EXPECT_EQ(log.find(" ShowMsgBox: "), std::string::npos) << log;
    // The product went into the same folder on a fixed drive and started from there.
    size_t at = log.find(" LaunchProduct: ") + 16;
    std::string command = log.substr(at, log.find_first_of("\r\n", at) - at);
    size_t folderAt = command.find(":\\Orbala\\" + N(install_fixtures::ProductName()) + "\\");
    ASSERT_NE(folderAt, std::string::npos) << command;
    ASSERT_GT(folderAt, 0u);
    const std::wstring root = std::wstring(1, wchar_t(command[folderAt - 1])) + L":\\";
    EXPECT_NE(root, drive.Root());
    EXPECT_EQ(GetDriveTypeW(root.c_str()), UINT(DRIVE_FIXED)) << N(root);
    const std::wstring folder = root + L"Orbala\\" + install_fixtures::ProductName();
    EXPECT_EQ(install_fixtures::WaitForLaunches(folder, 1, 30000).size(), 1u) << N(folder);
    ASSERT_TRUE(setup_->WaitForExit(60000)) << Log();
    EXPECT_EQ(setup_->ExitCode(), 0u);
    install_fixtures::EndProcessesNamed({install_fixtures::ProcessName()});
    if (folder != InstallFolder()) {
        DeleteFileW((folder + L"\\launches.txt").c_str());
        DeleteFileW((folder + L"\\" + install_fixtures::ProcessName()).c_str());
    }
}

// Closing for good, bounded waits, "Try again" after the installer's time-out, and the product
// start on the window's thread.
namespace {

// The thread id of the first log line whose message contains text ("...--[Thread](id) msg").
std::string ThreadOf(const std::string& log, const std::string& text) {
    size_t at = log.find(text);
    if (at == std::string::npos) return "";
    size_t line = log.rfind('\n', at);
    line = line == std::string::npos ? 0 : line + 1;
    size_t open = log.find("[Thread](", line);
    if (open == std::string::npos || open > at) return "";
    open += 9;
    return log.substr(open, log.find(')', open) - open);
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A listener on loopback whose accept queue is full: the system answers no more connection
// requests, so a client waits for its connect time-out, as with a host that drops everything.
class BlackHole {
public:
    BlackHole() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
        started_ = true;
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (listener_ == INVALID_SOCKET || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener_, 0) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        for (int i = 0; i < 4; ++i) {  // fill the queue: never accepted
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(s, FIONBIO, &nonBlocking);
            connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers_.push_back(s);
        }
        Sleep(300);
    }
    ~BlackHole() {
        for (SOCKET s : fillers_) closesocket(s);
        if (listener_ != INVALID_SOCKET) closesocket(listener_);
        if (started_) WSACleanup();
    }
    int port() const { return port_; }
    // Whether a connection to it is still pending after waitMs (the black hole holds).
    bool Swallows(DWORD waitMs) const {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(port_));
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval limit{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
        int ready = select(0, nullptr, &writable, &failed, &limit);
        closesocket(s);
        return ready == 0;
    }

private:
    bool started_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::vector<SOCKET> fillers_;
};

}  // namespace

// The worker asks the window to start the product; the start runs on the window's thread.
TEST_F(InstallFlowE2E, ProductStartRunsOnTheWindowsThread) {
    Serve(L"");
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" LaunchProduct: ", 120000)) << Log();
    ASSERT_TRUE(setup_->WaitForExit(60000)) << Log();
    const std::string log = Log();
    const std::string worker = ThreadOf(log, " install Finished, progress: ");
    const std::string window = ThreadOf(log, " Estimate install time is ");  // message 2947, window thread
    const std::string start = ThreadOf(log, " LaunchProduct: ");
    ASSERT_FALSE(worker.empty()) << log;
    ASSERT_FALSE(window.empty()) << log;
    EXPECT_NE(worker, window);
    EXPECT_EQ(start, window) << log;
}

// A close during a throttled download stops the attempt and saves its positions; the next run
// asks only for what was not on disk yet, and no installer starts after the close.
TEST_F(InstallFlowE2E, CloseDuringTheDownloadSavesThePositionsAndTheNextRunResumes) {
    // A package large enough that a tenth of it is more than a block per connection.
    constexpr size_t kSize = 48u << 20;
    constexpr size_t kBlock = 256u << 10;  // what a worker writes at once
    std::string bytes(kSize, '\0');
    uint32_t seed = 12345;
    for (char& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<char>(seed >> 24);
    }
    std::wstring root = TextCodec::Utf8ToWide(LocalServices::Root());
    test_support::WriteText(root + L"\\" + TextCodec::Utf8ToWide(kPackage), bytes);
    std::string config = "{\"Process_name\": \"" + N(install_fixtures::ProcessName()) +
                         "\", \"Install_url\": \"\", \"Additional_time\": 0}";
    ASSERT_EQ(LocalServices::Control("POST", "/__control/config", config), 200);
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/","method":"GET","throttle":1000000})"));

    Start();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" BeginInstallTask", 10000));
    ASSERT_TRUE(WaitForLog(" Tasks info, round begin, current = 1", 30000)) << Log();
    Sleep(5000);
    PostMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(setup_->WaitForExit(90000)) << Log();
    std::string log = Log();
    EXPECT_NE(log.find(" Stop the work: window closed, close02"), std::string::npos) << log;
    EXPECT_NE(log.find(" Download stopped by its owner"), std::string::npos) << log;
    EXPECT_EQ(log.find(" still running at exit"), std::string::npos) << log;
    EXPECT_EQ(log.find(" [Start Install CmdLine]"), std::string::npos) << log;
    EXPECT_TRUE(install_fixtures::ProcessesNamed({L"OrbalaLumeno_Setup_1.0.0.0.exe"}).empty());

    std::vector<std::wstring> packages = WorkPackages();
    ASSERT_EQ(packages.size(), 1u);
    const std::vector<unsigned char> onDisk = install_fixtures::ReadBytes(packages[0]);
    ASSERT_GT(GetFileAttributesW((packages[0] + L".xml").c_str()), 0u);
    // How much of the package the first run had put on disk.
    size_t fetched = 0;
    for (size_t i = 0; i < onDisk.size() && i < bytes.size(); ++i)
        if (onDisk[i] == static_cast<unsigned char>(bytes[i])) ++fetched;
    ASSERT_GT(fetched, kSize / 10) << "the first run fetched too little to tell";

    // The next run, at full speed.
    ASSERT_EQ(LocalServices::Control("DELETE", "/__control/faults"), 200);
    ASSERT_EQ(LocalServices::Control("DELETE", "/__control/requests"), 200);
    Start();
    ClickInstall();
    ASSERT_TRUE(WaitUntil([&] { return Count(Log(), " after md5 ") >= 1; }, 180000)) << Log();
    size_t again = 0, asked = 0;
    int ranges = 0;
    for (const Json::Value& r : LocalServices::Requests("/download/")) {
        if (r["method"].asString() != "GET") continue;
        std::string range = r["headers"]["Range"].asString();
        unsigned long long a = 0, b = 0;
        ASSERT_EQ(sscanf(range.c_str(), "bytes=%llu-%llu", &a, &b), 2) << range;
        b = std::min<unsigned long long>(b, kSize - 1);
        ++ranges;
        asked += static_cast<size_t>(b - a + 1);
        // Bytes of this range that were on disk already: fetched again.
        size_t n = 0;
        for (size_t i = static_cast<size_t>(a); i <= b && i < onDisk.size(); ++i)
            if (onDisk[i] == static_cast<unsigned char>(bytes[i])) ++n;
        EXPECT_LE(n, kBlock) << "range " << range << " asks again for " << n << " bytes on disk";
        again += n;
    }
    printf("first run on disk %zu bytes; next run asked %zu bytes in %d ranges, %zu of them fetched again\n", fetched,
           asked, ranges, again);
    EXPECT_GT(ranges, 0);
    EXPECT_LE(again, 4 * kBlock);
    EXPECT_LE(asked, kSize - fetched + 4 * kBlock);
}

// A host that takes no connection: the failure page comes within two minutes of the click.
TEST_F(InstallFlowE2E, BlackHoledHostReachesTheFailurePageWithinTheBound) {
    BlackHole hole;
    ASSERT_NE(hole.port(), 0);
    ASSERT_TRUE(hole.Swallows(2000)) << "the listener answered: no black hole on this system";
    const std::string address = "http://127.0.0.1:" + std::to_string(hole.port()) + "/download/" + kPackage;
    std::string config = "{\"Process_name\": \"" + N(install_fixtures::ProcessName()) +
                         "\", \"Install_url\": \"\", \"Download_url\": \"" + address +
                         "\", \"Extra_download_url\": \"" + address + "\"}";
    ASSERT_EQ(LocalServices::Control("POST", "/__control/config", config), 200);
    Start();
    const ULONGLONG clicked = GetTickCount64();
    ClickInstall();
    ASSERT_TRUE(WaitForLog(" ShowMsgBox: ", 150000)) << Log();
    const ULONGLONG took = GetTickCount64() - clicked;
    EXPECT_LT(took, 120000u) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find(" Download round ended early: 3 attempts in a row reached no host"), std::string::npos) << log;
    printf("failure box %llu ms after the click\n", took);
}

// "Try again" after the installer's time-out leaves our slow installer running to its end.
TEST_F(InstallFlowE2E, TryAgainAfterTheTimeLimitLeavesTheInstallerRunning) {
    ASSERT_NO_FATAL_FAILURE(ReachTheTimeOutBox());
    ASSERT_TRUE(AnswerBox(MsgInstallRunTimeOut, L"btn_yes"));
    ASSERT_TRUE(WaitForLog(" Enter fail page ", 10000)) << Log();
    POINT startApp{};
    ASSERT_TRUE(setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"start_app", -1, 360, startApp, true));
    setup_driver::ClickAt(window_, startApp);
    ASSERT_TRUE(WaitForLog(" Installer of the last run still running: waiting for it", 30000)) << Log();
    // The installer was not ended: it finishes its installation.
    std::wstring language;
    EXPECT_TRUE(WaitUntil([&] { return install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language); }, 60000))
        << Log();
    const std::string log = Log();
    EXPECT_EQ(log.find(" Kill proc: "), std::string::npos) << log;
}

// Unattended installs from the command line (/quiet, /passive), and the system's proxy.
namespace {

// Whether any window of the setup's class was visible while the run lasted (polled).
struct VisibilityWatch {
    bool sawVisible = false;
    bool sawHidden = false;
    void Poll(DWORD pid) {
        for (const auto& w : FindWindowsOfClass(kClass))
            if (w.second == pid) (IsWindowVisible(w.first) ? sawVisible : sawHidden) = true;
    }
    // Watches the setup's windows until it ends; false when it did not end in time.
    bool UntilExit(SetupProcess& setup, DWORD ms) {
        return WaitUntil([&] {
            Poll(setup.Pid());
            return !setup.IsRunning();
        }, ms);
    }
};

// A tinyproxy of the host on a loopback port, with its own configuration and log in a folder of
// the test; stopped (by the id in its pid file) at the end.
class HostProxy {
public:
    explicit HostProxy(int port) : port_(port) {
        folder_ = "/tmp/orbala-e2e-proxy-" + std::to_string(GetCurrentProcessId());
        std::string conf = "User nobody\nGroup nogroup\nPort " + std::to_string(port) +
                           "\nListen 127.0.0.1\nTimeout 60\nLogFile \\\"" + folder_ + "/proxy.log\\\"\nLogLevel Connect\n"
                           "PidFile \\\"" + folder_ + "/proxy.pid\\\"\nMaxClients 100\nAllow 127.0.0.1\n";
        HostShell("mkdir -p " + folder_ + " && chmod 777 " + folder_ + " && printf '" + Escape(conf) + "' > " + folder_ +
                  "/proxy.conf && tinyproxy -c " + folder_ + "/proxy.conf");
        started_ = WaitUntil([&] { return !Read("proxy.pid").empty(); }, 10000);
    }
    ~HostProxy() { Stop(); }
    void Stop() {
        if (!started_) return;
        HostShell("kill $(cat " + folder_ + "/proxy.pid)");
        WaitUntil([&] { return Read("proxy.pid").empty(); }, 10000);
        started_ = false;
    }
    bool Started() const { return started_; }
    std::string Log() { return Read("proxy.log"); }

private:
    static std::string Escape(const std::string& text) {
        std::string out;
        for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
        return out;
    }
    std::string Read(const std::string& name) { return test_support::ReadFile(test_support::WinePath(folder_ + "/" + name)); }
    int port_;
    std::string folder_;
    bool started_ = false;
};

// The user's Internet settings of the Wine prefix (shared by every test): set for one case, and
// removed at its end so that no other case goes through a proxy.
class InternetSettingsProxy {
public:
    InternetSettingsProxy(const std::wstring& server, const std::wstring& bypass) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr) != ERROR_SUCCESS)
            return;
        DWORD one = 1;
        ok_ = RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) == 0 &&
              RegSetValueExW(key_, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                             DWORD((server.size() + 1) * sizeof(wchar_t))) == 0 &&
              RegSetValueExW(key_, L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(bypass.c_str()),
                             DWORD((bypass.size() + 1) * sizeof(wchar_t))) == 0;
    }
    ~InternetSettingsProxy() {
        if (!key_) return;
        for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"}) RegDeleteValueW(key_, name);
        RegCloseKey(key_);
    }
    bool Ok() const { return ok_; }

private:
    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    HKEY key_ = nullptr;
    bool ok_ = false;
};

// A loopback port nothing listens on.
int ClosedPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        closesocket(s);
        return 0;
    }
    closesocket(s);
    return ntohs(a.sin_port);
}

}  // namespace

// /quiet with its folder, language and log: installed with no window at all, the installer
// started with the folder and language, the log copied, the funnel marked, the product not started.
TEST_F(InstallFlowE2E, QuietInstallsIntoItsFolderInItsLanguageWithoutAWindow) {
    Serve(L"");
    const std::wstring folder = dir_.File(L"Quiet Apps");
    const std::wstring logCopy = dir_.File(L"copied setup.log");
    setup_.reset(new SetupProcess());
    ASSERT_TRUE(setup_->Start(exe_, L"/QUIET /dir=\"" + folder + L"\" /Lang=de /log=\"" + logCopy + L"\" /norestart"));
    VisibilityWatch watch;
    ASSERT_TRUE(watch.UntilExit(*setup_, 150000)) << Log();
    EXPECT_EQ(setup_->ExitCode(), DWORD(Unattended::kInstalled)) << Log();
    EXPECT_FALSE(watch.sawVisible);
    EXPECT_TRUE(watch.sawHidden) << "the window exists, hidden";
    const std::wstring installed = folder + L"\\" + install_fixtures::ProductName();
    EXPECT_NE(GetFileAttributesW((installed + L"\\" + install_fixtures::ProcessName()).c_str()), INVALID_FILE_ATTRIBUTES);
    std::wstring language;
    ASSERT_TRUE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
    EXPECT_EQ(N(language), "de");
    const std::string copied = test_support::ReadFile(logCopy);
    size_t line = copied.find(" [Start Install CmdLine]: ");
    ASSERT_NE(line, std::string::npos) << copied;
    const std::string command = copied.substr(line, copied.find('\n', line) - line);
    EXPECT_NE(command.find("/DIR=\"" + N(installed) + "\""), std::string::npos) << command;
    EXPECT_NE(command.find("/LANG=de "), std::string::npos) << command;
    EXPECT_NE(command.find("/NORESTART"), std::string::npos) << command;
    EXPECT_NE(copied.find(" Exit code 0"), std::string::npos);
    EXPECT_EQ(copied.find(" ShowMsgBox: "), std::string::npos) << copied;
    EXPECT_TRUE(install_fixtures::Launches(installed).empty()) << "the product is not started";
    EXPECT_EQ(copied.find(" Open Url: "), std::string::npos) << "no browser opens";
    // The events flow as in a run with a window, each funnel event marked.
    EXPECT_TRUE(WaitUntil([&] { return SentAction("6.ProgramFinsh"); }, 15000));
    const std::vector<Json::Value> requests = LocalServices::Requests("/collect");
    ASSERT_FALSE(requests.empty());
    for (const Json::Value& r : requests)
        EXPECT_EQ(test_support::ParseJson(r["body"].asString())["common"]["install_mode"].asString(), "quiet") << r["body"].asString();
    install_fixtures::EndProcessesNamed({install_fixtures::ProcessName()});
}

// Each failure of an unattended run ends it with its own exit code, never with a box.
TEST_F(InstallFlowE2E, UnattendedFailuresEndWithTheirExitCodes) {
    const int closedPort = ClosedPort();
    ASSERT_NE(closedPort, 0);
    HANDLE otherRun = nullptr;
    std::unique_ptr<SmallDrive> drive;
    const struct Case {
        const char* name;
        std::function<void()> arrange;
        std::wstring arguments;
        DWORD exitCode;
        const char* logged;
    } cases[] = {
        {"bad command line", [] {}, L"/quiet /lang=xx", Unattended::kBadCommandLine, " Command line refused: unknown language"},
        {"bad folder", [&] { Serve(L""); }, L"/quiet \"/dir=C:\\bad|folder\"", Unattended::kNoSpaceOrBadFolder,
         " Unattended folder refused: "},
        {"another run holds the product", [&] {
             Serve(L"");
             otherRun = CreateMutexW(nullptr, TRUE, L"KDR_Downloader_486");
         }, L"/quiet /wait=1", Unattended::kAlreadyRunning, " Already running: the other run did not end"},
        {"download service down", [&] {
             const std::string address = "http://127.0.0.1:" + std::to_string(closedPort) + "/download/" + kPackage;
             Serve(L"", ", \"Download_url\": \"" + address + "\", \"Extra_download_url\": \"" + address + "\"");
         }, L"/quiet", Unattended::kNoService, " ShowMsgBox: 8"},
        {"package refused", [&] { Serve(L"unsigned"); }, L"/quiet", Unattended::kPackageRefused, " ShowMsgBox: 7"},
        {"no space on a small drive", [&] {
             drive.reset(new SmallDrive(1024));
             Serve(L"", ", \"Filesize\": 4194304");
         }, L"", Unattended::kNoSpaceOrBadFolder, " ShowMsgBox: 11"},
        {"installer time-out", [&] {
             GiveSetupSkinLabels(exe_, {{"InstallTimeout", "3"}});
             Serve(L"slow");
         }, L"/passive", Unattended::kInstallerFailed, " ShowMsgBox: 6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.arrange();
        std::wstring arguments = c.arguments;
        if (drive) {
            ASSERT_TRUE(drive->Ready()) << "a 1 MiB tmpfs mounted as a drive of the prefix (needs root)";
            arguments = L"/quiet /dir=" + drive->Root() + L"Orbala";
        }
        setup_.reset(new SetupProcess());
        ASSERT_TRUE(setup_->Start(exe_, arguments));
        VisibilityWatch watch;
        ASSERT_TRUE(watch.UntilExit(*setup_, 150000)) << Log();
        EXPECT_EQ(setup_->ExitCode(), c.exitCode) << Log();
        const std::string log = Log();
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        EXPECT_TRUE(FindWindowsOfClass(kBoxClass).empty());
        // /quiet never shows the window; /passive shows its running page once it is up.
        EXPECT_EQ(watch.sawVisible, arguments.find(L"/passive") != std::wstring::npos);
        std::wstring language;
        EXPECT_FALSE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language)) << "nothing installed";
        if (otherRun) {
            ReleaseMutex(otherRun);
            CloseHandle(otherRun);
            otherRun = nullptr;
        }
        drive.reset();
    }
    // The slow installer the time-out left running ends its installation by itself: waited for,
    // so that the next case starts without it.
    std::wstring language;
    EXPECT_TRUE(WaitUntil([&] { return install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language); }, 60000));
}

// /passive: the window shows only once its running page is up, and closes itself when installed.
// A second unattended run started meanwhile waits for it, then runs.
TEST_F(InstallFlowE2E, PassiveShowsOnlyTheRunningPageAndASecondRunWaitsForIt) {
    Serve(L"");
    setup_.reset(new SetupProcess());
    ASSERT_TRUE(setup_->Start(exe_, L"/passive"));
    HWND shown = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& w : FindWindowsOfClass(kClass))
            if (w.second == setup_->Pid() && IsWindowVisible(w.first)) shown = w.first;
        return shown != nullptr || !setup_->IsRunning();
    }, 60000));
    ASSERT_NE(shown, nullptr) << Log();
    // When it first shows, the install click has been handled: the running page is up.
    EXPECT_NE(Log().find(" BeginInstallTask"), std::string::npos);
    setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, "passive-running");
    SetupProcess second;
    ASSERT_TRUE(second.Start(exe_, L"/quiet /wait=120"));
    ASSERT_TRUE(setup_->WaitForExit(150000)) << Log();
    EXPECT_EQ(setup_->ExitCode(), DWORD(Unattended::kInstalled)) << Log();
    // The second run got the product's mutex once the first ended, and installs in its turn.
    ASSERT_TRUE(second.WaitForExit(150000)) << Log();
    EXPECT_EQ(second.ExitCode(), DWORD(Unattended::kInstalled)) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find(" Already running: KDR_Downloader_486 exists, waiting up to 120 s"), std::string::npos) << log;
    EXPECT_NE(log.find(" The other run ended"), std::string::npos) << log;
    EXPECT_EQ(log.find(" ShowMsgBox: "), std::string::npos) << log;
}

// The system's proxy (the prefix's Internet settings) with a real proxy of the host: every
// request goes through it; set but stopped, the run ends with the proxy's failure.
TEST_F(InstallFlowE2E, QuietInstallGoesThroughTheSystemsProxy) {
    const int port = ClosedPort();
    ASSERT_NE(port, 0);
    const std::string proxyText = "127.0.0.1:" + std::to_string(port);
    InternetSettingsProxy settings(TextCodec::Utf8ToWide(proxyText), L"<-loopback>");
    ASSERT_TRUE(settings.Ok());
    {
        HostProxy proxy(port);
        ASSERT_TRUE(proxy.Started()) << "tinyproxy from the host (scripts/bootstrap-packages.sh installs it)";
        Serve(L"");
        setup_.reset(new SetupProcess());
        ASSERT_TRUE(setup_->Start(exe_, L"/quiet"));
        ASSERT_TRUE(setup_->WaitForExit(150000)) << Log();
        EXPECT_EQ(setup_->ExitCode(), DWORD(Unattended::kInstalled)) << Log();
        const std::string log = Log();
        EXPECT_NE(log.find(" Proxy for https://127.0.0.1:47443: http://" + proxyText + " (fixed)"), std::string::npos) << log;
        EXPECT_NE(log.find(" Proxy for http://127.0.0.1:47080: http://" + proxyText + " (fixed)"), std::string::npos) << log;
        const std::string proxied = proxy.Log();
        // The configuration query and the events (HTTPS: tunnels, checked end to end), the package (HTTP).
        EXPECT_NE(proxied.find("CONNECT 127.0.0.1:47443"), std::string::npos) << proxied;
        EXPECT_NE(proxied.find("GET http://127.0.0.1:47080/download/" + kPackage), std::string::npos) << proxied;
        EXPECT_FALSE(LocalServices::Requests("/queryDownloaderV2").empty());
        EXPECT_TRUE(WaitUntil([&] { return !LocalServices::Requests("/collect").empty(); }, 15000));
        install_fixtures::EndProcessesNamed({install_fixtures::ProcessName()});
    }
    // The proxy is stopped, the setting stays: no service is reachable, and the log says why.
    TearDown();
    SetUp();
    Serve(L"");
    setup_.reset(new SetupProcess());
    ASSERT_TRUE(setup_->Start(exe_, L"/quiet"));
    ASSERT_TRUE(setup_->WaitForExit(150000)) << Log();
    EXPECT_EQ(setup_->ExitCode(), DWORD(Unattended::kNoService)) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find(" Proxy failed: http://" + proxyText + " for http://127.0.0.1:47080"), std::string::npos) << log;
    EXPECT_TRUE(LocalServices::Requests("/download/" + kPackage).empty());
}
