// The install worker end to end: real downloads from the local services, the build's signed
// test packages, the real installer runs; a window stand-in records what the worker posts and
// asks, a recording report object the events, the services the exception reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <thread>
#include <map>
#include <mutex>

#include <json/json.h>

#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIMarkup.h"
#include "analytics/CSingleUserLog.h"
#include "config/CConfigure.h"
#include "config/ConfigurationLoad.h"
#include "deployment_values.h"
#include "download/DownLoadImpl.h"
#include "install/InstallWorker.h"
#include "install/InstallerRun.h"
#include "install/ProductLaunch.h"
#include "support/install_fixtures.h"
#include "support/local_services.h"
#include "support/log_capture.h"
#include "platform/FuntionImpl.h"
#include "support/recording_report.h"
#include "support/test_support.h"

using install_fixtures::ProcessName;

namespace {

const wchar_t kServedName[] = L"OrbalaLumeno_Setup.exe";
const wchar_t kLocalName[] = L"OrbalaLumeno_Setup_1.0.0.0.exe";
const wchar_t kLoaderName[] = L"OrbalaLumeno_Setup_1.0.0.0.tmp";
const char kQueryUrl[] = "https://127.0.0.1:1/queryDownloaderV2?downloader_id=486";

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Stands in for the installer window.
class FakeWindow : public IInstallWindow {
public:
    FakeWindow() { state.progressFinish100 = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~FakeWindow() override { CloseHandle(state.progressFinish100); }

    InstallWindowState& InstallState() override { return state; }
    int32_t UiLanguage() override { return language; }
    void SetWorkerStarted() override { workerStarted = true; }
    void LoadDownloadInfo() override {
        ++loads;
        if (onLoad) onLoad();
    }
    bool SkinLabel(const std::wstring& name, std::wstring& text) override {
        auto it = labels.find(name);
        if (it == labels.end()) return false;
        text = it->second;
        return true;
    }
    void Post(UINT message, WPARAM wParam) override {
        {
            std::lock_guard<std::mutex> lock(m);
            posters.push_back(GetCurrentThreadId());
            if (message == kMsgStartProduct) {
                // What the window does with it: the start_app click, then (1) the close.
                ++startClicks;
                if (wParam == 1) ++closes;
            } else {
                posted.push_back({message, wParam});
            }
        }
        if (onPost) onPost(message);
    }
    void StartRunningAnimation() override { ++animations; }
    void StopRunningAnimation() override { --animations; }
    void RegisterAsMainWindow() override { ++registered; }
    int ProgressValue() override { return progress; }
    bool SaveProductLanguage() override {
        ++languageSaves;
        return true;
    }
    void ReleaseInstanceMutex() override { ++mutexReleases; }
    void CloseWindow() override { ++closes; }

    std::vector<std::pair<UINT, WPARAM>> Posted() {
        std::lock_guard<std::mutex> lock(m);
        return posted;
    }
    // The threads that posted, in order.
    std::vector<DWORD> Posters() {
        std::lock_guard<std::mutex> lock(m);
        return posters;
    }

    InstallWindowState state;
    std::function<void(UINT)> onPost;  // called on the worker's thread after each post
    std::function<void()> onLoad;  // what loading the configuration does (nothing: the record is preset)
    std::map<std::wstring, std::wstring> labels;
    int32_t language = 0;
    bool workerStarted = false;
    int loads = 0, animations = 0, registered = 0, progress = 100, languageSaves = 0, startClicks = 0,
        mutexReleases = 0, closes = 0;

private:
    std::mutex m;
    std::vector<std::pair<UINT, WPARAM>> posted;
    std::vector<DWORD> posters;
};

using Messages = std::vector<std::pair<UINT, WPARAM>>;

struct ShellCall {
    std::wstring file, parameters;
    int show;
};
std::vector<ShellCall> g_shellCalls;
INT_PTR RecordingShellOpen(const std::wstring& file, const std::wstring& parameters, int show) {
    g_shellCalls.push_back({file, parameters, show});
    return 42;
}
// Starts of the setup's protected copy (the automated restart).
std::vector<ShellCall> g_selfStarts;
ProtectedSelfCopy::StartResult RecordingStartSelf(const std::wstring& parameters, int show, DWORD* error) {
    g_selfStarts.push_back({L"", parameters, show});
    *error = 0;
    return ProtectedSelfCopy::StartResult::Started;
}

// What the process start saw of the package while the worker held it.
struct LockSeen {
    bool checked = false, writeRefused = false, deleteRefused = false;
} g_lockSeen;
BOOL WINAPI CheckingCreateProcess(LPCWSTR app, LPWSTR line, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                                  BOOL inherit, DWORD flags, LPVOID env, LPCWSTR dir, LPSTARTUPINFOW si,
                                  LPPROCESS_INFORMATION pi) {
    g_lockSeen.checked = true;
    HANDLE writer = CreateFileW(app, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    g_lockSeen.writeRefused = writer == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    g_lockSeen.deleteRefused = !DeleteFileW(app);
    return CreateProcessW(app, line, pa, ta, inherit, flags, env, dir, si, pi);
}
BOOL WINAPI FailingCreateProcess(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                 LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

int g_networkCalls = 0;
int g_networkDownFor = 0;
bool NetworkAfterAFewCalls() { return ++g_networkCalls > g_networkDownFor; }

class InstallWorkerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(install_fixtures::TrustTestAuthority()); }

    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str());
        install_fixtures::DeleteUninstallKey();
        g_shellCalls.clear();
        g_selfStarts.clear();
        g_lockSeen = LockSeen();
        dir.reset(new test_support::TempDir());
        work = dir->File(L"work");
        logs = dir->File(L"logs");
        app = dir->File(L"Orbala Lumeno");
        w.reset(new FakeWindow());
        c.reset(new CConfigure(486, 1033, 61));
        report.reset(new RecordingReport());
        analytics.reset(new CSingleUserLog(report.get(), AnalyticsFormat::Identity(), nullptr));
        limits = CDownLoadImpl::GetLimits();
        FakeWindow* shown = w.get();
        CDownLoadImpl::SetProgressCallback([shown](int64_t, int64_t total, int32_t) {
            shown->state.packageSize = total;
            return 0;
        });

        CreateDirectoryW(work.c_str(), nullptr);
        CreateDirectoryW(logs.c_str(), nullptr);
        w->state.downloaderId = 486;
        w->state.needStartFlag = 1;
        w->state.installClickTick = GetTickCount();
        w->state.installDirectory = app;
        w->state.workFolder = work;
        w->state.logFolder = logs;

        c->m_loadState = CConfigure::kLoaded;
        c->m_source = CConfigure::kSourceServer;
        c->m_softwareName = L"Orbala Lumeno";
        c->m_softwareVersion = L"1.0.0.0";
        c->m_installTimeout = 60;
        c->m_queryUrl = kQueryUrl;
        Serve(L"");
    }
    void TearDown() override {
        CDownLoadImpl::ClearStop();
        InstallerRun::SetCreateProcessForTest(nullptr);
        CDownLoadImpl::SetLimits(limits);
        CDownLoadImpl::SetProgressCallback(nullptr);
        DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str());
        install_fixtures::EndProcessesNamed({kLocalName, kLoaderName, ProcessName()});
        install_fixtures::DeleteUninstallKey();
    }

    // Serves a package variant under the download name, at an address of its own (the process
    // keeps the content length it learnt for each address), and makes it the configuration's
    // address; the record's digest becomes the package's MD5.
    void Serve(const std::wstring& variant, const std::wstring& name = kServedName) {
        static int count = 0;
        std::string folder = "v" + std::to_string(++count);
        std::wstring local = Wide(LocalServices::Root()) + L"\\" + Wide(folder);
        CreateDirectoryW(local.c_str(), nullptr);
        served = local + L"\\" + name;
        ASSERT_TRUE(install_fixtures::CopyPackage(variant, served));
        c->m_md5 = Wide(CDownLoadImpl::FileMd5(served));
        url = LocalServices::DownloadUrl(false, folder + "/" + install_fixtures::Utf8(name));
        SetAddress(url);
    }
    void SetAddress(const std::string& address) {
        c->m_remotePaths = {Wide(address)};
        c->m_downloadUrl = c->m_extraDownloadUrl = Wide(address);
        w->labels[L"Download_url"] = w->labels[L"Extra_download_url"] = Wide(address);
    }
    int Run() {
        InstallWorker::Options options;
        options.analytics = analytics.get();
        options.exceptionEndpoint = LocalServices::BaseUrl(true) + "/api/exception/send";
        options.shellOpen = &RecordingShellOpen;
        options.startSelf = &RecordingStartSelf;
        options.setupPath = L"C:\\Downloads\\OrbalaLumeno_setup.exe";
        options.autoRunPauseMs = 10;
        options.lockPatienceMs = lockPatienceMs;
        InstallWorker worker(*w, *c, options);
        return worker.Run();
    }

    // (category, action, label) of every GA4 event, in order.
    struct Ga4Event {
        std::string category, action, label;
    };
    static std::string Field(const std::string& query, const std::string& name) {
        size_t at = query.find("&" + name + "=");
        if (at == std::string::npos) return "";
        at += name.size() + 2;
        return query.substr(at, query.find('&', at) - at);
    }
    std::vector<Ga4Event> Events() {
        std::vector<Ga4Event> out;
        for (const auto& call : report->Calls())
            if (call.slot == "ReportGa4")
                out.push_back({Field(call.text, "ep.qv_category"), Field(call.text, "ep.qv_action"),
                               Field(call.text, "ep.qv_label")});
        return out;
    }
    std::vector<std::string> FlowErrors() {
        std::vector<std::string> codes;
        for (const auto& e : Events())
            if (e.action == "FlowError") codes.push_back(e.label);
        return codes;
    }
    // The actions of every event, GA4 or funnel, in the order they were handed over.
    std::vector<std::string> AllActions() {
        std::vector<std::string> out;
        for (const auto& call : report->Calls()) {
            if (call.slot == "ReportGa4") out.push_back(Field(call.text, "ep.qv_action"));
            if (call.slot == "ReportEvent")
                out.push_back(test_support::ParseJson(call.text)["actions"]["event_action"].asString());
        }
        return out;
    }
    // Whether the actions occur in this order (others may come between).
    ::testing::AssertionResult ActionsInOrder(const std::vector<std::string>& actions) {
        std::vector<std::string> all = AllActions();
        size_t next = 0;
        for (const auto& a : all)
            if (next < actions.size() && a == actions[next]) ++next;
        if (next == actions.size()) return ::testing::AssertionSuccess();
        std::string text;
        for (const auto& a : all) text += a + "|";
        return ::testing::AssertionFailure() << "missing " << actions[next] << " in " << text;
    }
    std::string LabelOf(const std::string& action) {
        for (const auto& e : Events())
            if (e.action == action) return e.label;
        return "<none>";
    }
    std::vector<Json::Value> ExceptionReports() { return LocalServices::Requests("/api/exception/send"); }
    int PackageGets() {
        int n = 0;
        for (const auto& r : LocalServices::Requests("/download/"))
            if (r["method"].asString() == "GET") ++n;
        return n;
    }
    std::wstring Local(const std::wstring& suffix = L"") { return work + L"\\" + kLocalName + suffix; }
    bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::string InstallerLog() {
        std::vector<std::wstring> files = test_support::FilesIn(logs);
        return files.size() == 1 ? test_support::ReadFile(logs + L"\\" + files[0]) : "";
    }

    // Everything a run touches is made afresh by SetUp, so a test can run several cases.
    std::unique_ptr<test_support::TempDir> dir;
    std::wstring work, logs, app;
    std::string url;  // the address of the package served last
    std::wstring served;  // its file in the services' folder
    std::unique_ptr<FakeWindow> w;
    std::unique_ptr<CConfigure> c;
    std::unique_ptr<RecordingReport> report;
    std::unique_ptr<CSingleUserLog> analytics;
    CDownLoadImpl::Limits limits;
    DWORD lockPatienceMs = 3000;
};

}  // namespace

TEST_F(InstallWorkerTest, WholeInstallation) {
    w->labels[L"product_url_english"] = L"https://127.0.0.1:1/product";
    LogCapture log;
    EXPECT_EQ(Run(), 0) << log.dump();
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2949, 0}}));
    EXPECT_TRUE(w->workerStarted);
    EXPECT_EQ(w->loads, 1);
    EXPECT_EQ(w->state.AdviceLink(), Wide(url));
    EXPECT_EQ(w->state.verificationDone.load(), 1);
    EXPECT_EQ(w->state.installerFinished.load(), 1);
    EXPECT_EQ(w->languageSaves, 1);
    EXPECT_EQ(w->startClicks, 1);  // NeedStart_flag 1: asked of the window by a post
    EXPECT_EQ(w->closes, 0);

    // The installer ran with the setup's line and installed the product.
    EXPECT_TRUE(Exists(app + L"\\" + ProcessName()));
    std::wstring language;
    ASSERT_TRUE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
    EXPECT_EQ(language, L"en");
    EXPECT_NE(InstallerLog().find("Installation process succeeded."), std::string::npos) << InstallerLog();
    EXPECT_TRUE(log.contains(" [Start Install CmdLine]:  /VERYSILENT /SP- /NORESTART /DIR=\"" +
                             install_fixtures::Utf8(app) + "\" /LANG=en /LOG=\"")) << log.dump();
    EXPECT_TRUE(log.contains(" install Finished, exit code: 0")) << log.dump();
    // The digest and the signature are checked side by side but logged in their order.
    std::vector<std::string> lines = log.lines();
    auto at = [&lines](const std::string& start) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(start, 0) == 0) return static_cast<int>(i);
        return -1;
    };
    EXPECT_GE(at(" MD5 of file "), 0) << log.dump();
    EXPECT_LT(at(" MD5 of file "), at(" after md5 "));
    EXPECT_LT(at(" after md5 "), at(" VerifyEmbeddedSignature result is 0, "));
    EXPECT_LT(at(" VerifyEmbeddedSignature result is 0, "), at(" [Start Install CmdLine]: "));

    EXPECT_TRUE(ActionsInOrder({"DownloadConfigReady", "3.Downloading...", "Use download address", "DownFinsh",
                                "MDownloadTime", "DownloadSpeed", "DownloadTime", "DownloadSuccess", "Md5CheckStart",
                                "MMD5CheckTime", "MD5CheckTime", "Md5CheckFinsh",
                                install_fixtures::Utf8(Deployment::INSTALL_READY_ACTION()), "5.ProgramInstall",
                                "MInstallTime", "6.ProgramFinsh", "InstallTime", "ProductVersion"}));
    EXPECT_TRUE(FlowErrors().empty());
    EXPECT_EQ(LabelOf("3.Downloading..."), "First");
    EXPECT_EQ(LabelOf("ProductVersion"), "1.0.0.0");
    std::string speed = LabelOf("DownloadSpeed");
    EXPECT_EQ(speed.substr(speed.size() - 4), "MB/s");
    EXPECT_EQ(speed.find("inf"), std::string::npos) << speed;
    EXPECT_NE(speed, "0.00MB/s");  // the package size came from the progress reports

    // The product page, then the work files are cleared.
    ASSERT_EQ(g_shellCalls.size(), 1u);
    EXPECT_EQ(g_shellCalls[0].file, L"https://127.0.0.1:1/product");
    EXPECT_EQ(g_shellCalls[0].show, SW_SHOWNORMAL);
    EXPECT_FALSE(Exists(Local()));
    EXPECT_FALSE(Exists(Local(L".db")));
    EXPECT_TRUE(log.contains(" Clear cache: 1, ")) << log.dump();
    EXPECT_TRUE(ExceptionReports().empty());
}

TEST_F(InstallWorkerTest, SuccessWaitsUntilTheProgressBarHasReachedItsEnd) {
    // The bar is not at its end when the installer ends: the worker leaves the event to the
    // window's timers, and 2949 comes only after them.
    w->progress = 50;
    HANDLE finished = w->state.progressFinish100;
    std::atomic<bool> signalled{false};
    FakeWindow* shown = w.get();
    std::thread timers([&] {
        for (int i = 0; i < 3000 && (shown->state.installerFinished.load() == 0 || shown->Posted().size() < 2); ++i) Sleep(20);
        Sleep(500);
        signalled = true;
        SetEvent(finished);
    });
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(signalled.load());
    timers.join();
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2949, 0}}));
}

TEST_F(InstallWorkerTest, WrongDigestIsAFailedDownloadNeverInstalled) {
    // The service named another file (its digest) than the one served, signed by the same
    // publisher: every attempt downloads it from scratch and refuses it, then the failure page.
    c->m_md5 = L"00000000000000000000000000000000";
    LogCapture log;
    EXPECT_EQ(Run(), -1);
    Messages expected(12, {2946, 0});
    expected.push_back({2944, kDigestMismatch});
    EXPECT_EQ(w->Posted(), expected);
    EXPECT_EQ(FlowErrors(), std::vector<std::string>(12, "DL013"));
    std::vector<Json::Value> reports = ExceptionReports();
    ASSERT_EQ(reports.size(), 12u);
    EXPECT_EQ(reports[0]["method"].asString(), "POST");
    EXPECT_EQ(reports[0]["body"].asString(),
              std::string("pid=486&type=2&exception_code=MD5_Check_Fail_Cfg1&other=") + kQueryUrl + "," + url);
    EXPECT_EQ(log.countExact(" Package refused: its MD5 is not the configuration's; downloading it again"), 12)
        << log.dump();
    // Each attempt fetched the whole file anew: it was deleted with its task file in between.
    EXPECT_EQ(log.countExact(" Tasks info, round end, current = 12, total = 12, result = 1"), 1) << log.dump();
    int cleared = 0;
    for (const auto& line : log.lines()) cleared += line.rfind(" Clear cache: 1, ", 0) == 0;
    EXPECT_EQ(cleared, 12) << log.dump();
    for (int k = 0; k <= 11; ++k)
        EXPECT_EQ(log.countExact(" The Retry Frequency is: " + std::to_string(k)), 1) << k << log.dump();
    EXPECT_EQ(LabelOf("DownErrorCode"), "error_16");
    EXPECT_EQ(LabelOf("5.ProgramInstall"), "<none>");
    EXPECT_FALSE(Exists(app));
    EXPECT_FALSE(Exists(Local()));
    EXPECT_FALSE(Exists(Local(L".xml")));
    EXPECT_FALSE(Exists(Local(L".db")));
    EXPECT_EQ(w->startClicks, 0);
}

TEST_F(InstallWorkerTest, RefusedPackageThenTheRightOneInstalls) {
    // The first download brings another file than the service named (same publisher, same size,
    // other bytes); by the next attempt the server has the right one.
    std::wstring right = served + L".right";
    ASSERT_TRUE(MoveFileExW(served.c_str(), right.c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(install_fixtures::CopyPackage(L"deep", served));
    ASSERT_EQ(install_fixtures::ReadBytes(served).size(), install_fixtures::ReadBytes(right).size());
    w->onPost = [right, this](UINT message) {
        if (message == kMsgVerifyStarted) MoveFileExW(right.c_str(), served.c_str(), MOVEFILE_REPLACE_EXISTING);
    };
    LogCapture log;
    EXPECT_EQ(Run(), 0) << log.dump();
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2946, 0}, {2947, 0}, {2949, 0}}));
    EXPECT_EQ(FlowErrors(), std::vector<std::string>{"DL013"});
    EXPECT_EQ(ExceptionReports().size(), 1u);
    EXPECT_TRUE(log.contains(" Tasks info, round end, current = 2, total = 12, result = 1")) << log.dump();
    EXPECT_TRUE(Exists(app + L"\\" + ProcessName()));
}

TEST_F(InstallWorkerTest, SignatureFailuresStopBeforeTheInstaller) {
    struct Case {
        const wchar_t* variant;
        bool goodDigest;
        const char* code;
        const char* exception;
    } cases[] = {
        {L"unsigned", true, "DL014", "Hash_Check_Fail_Cfg1"},
        {L"otherpub", true, "DL014", "Hash_Check_Fail_Cfg1"},
        {L"otherorg", true, "DL014", "Hash_Check_Fail_Cfg1"},
        {L"selfsigned", true, "DL014", "Hash_Check_Fail_Cfg1"},
        {L"otherca", true, "DL014", "Hash_Check_Fail_Cfg1"},
        {L"tampered", true, "DL014", "Hash_Check_Fail_Cfg1"},
        {L"unsigned", false, "DL015", "MD5_Hash_Check_Fail_Cfg1"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(install_fixtures::Utf8(k.variant) + (k.goodDigest ? "" : " with a wrong digest"));
        TearDown();
        SetUp();
        Serve(k.variant);
        if (!k.goodDigest) c->m_md5 = L"00000000000000000000000000000000";
        EXPECT_EQ(Run(), -1);
        EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2950, 0}}));
        EXPECT_EQ(FlowErrors(), std::vector<std::string>{k.code});
        std::vector<Json::Value> reports = ExceptionReports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0]["body"].asString().find(std::string("exception_code=") + k.exception + "&other="),
                  std::string::npos) << reports[0]["body"].asString();
        EXPECT_EQ(w->state.verificationDone.load(), 1);
        EXPECT_TRUE(Exists(Local()));  // the file stays; the window clears it after its message box
        EXPECT_FALSE(Exists(app));
        EXPECT_EQ(LabelOf("5.ProgramInstall"), "<none>");
    }
}

TEST_F(InstallWorkerTest, InstallerThatOutlivesTheLimit) {
    Serve(L"slow");
    c->m_installTimeout = 1;
    LogCapture log;
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2948, 0}}));
    EXPECT_EQ(FlowErrors(), std::vector<std::string>{"DL016"});
    EXPECT_TRUE(log.contains(" Cmd nWaitSeconds timed out: 1")) << log.dump();
    EXPECT_EQ(w->state.installerFinished.load(), 1);
    // It keeps running until someone ends it.
    EXPECT_FALSE(install_fixtures::ProcessesNamed({kLocalName}).empty());
    EXPECT_GT(FuntionImpl::FindProcessByFullPath(Local(), true, true), 0);
    EXPECT_TRUE(install_fixtures::ProcessesNamed({kLocalName, kLoaderName}).empty());
}

TEST_F(InstallWorkerTest, InstallerThatCannotStartIsAFailureTheWindowHears) {
    InstallerRun::SetCreateProcessForTest(&FailingCreateProcess);
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2948, 0}}));
    EXPECT_EQ(LabelOf("InstallStartError"), "5");
    EXPECT_TRUE(FlowErrors().empty());
    EXPECT_EQ(w->state.installerFinished.load(), 1);
    EXPECT_EQ(LabelOf("6.ProgramFinsh"), "<none>");
}

TEST_F(InstallWorkerTest, InstallerThatReportsAFailureIsNotASuccess) {
    // The installer refuses a line it does not know; the worker must not report success.
        w->state.installDirectory = L"relative\\folder";  // refused by the installer: not absolute
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2948, 0}}));
    EXPECT_EQ(LabelOf("InstallExitCode"), "1");
    EXPECT_EQ(LabelOf("6.ProgramFinsh"), "<none>");
    EXPECT_EQ(w->startClicks, 0);
}

TEST_F(InstallWorkerTest, PackageIsHeldFromVerificationUntilTheInstallerStarts) {
    InstallerRun::SetCreateProcessForTest(&CheckingCreateProcess);
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(g_lockSeen.checked);
    EXPECT_TRUE(g_lockSeen.writeRefused);
    EXPECT_TRUE(g_lockSeen.deleteRefused);
    EXPECT_FALSE(Exists(Local()));  // released afterwards: the clean-up could delete it
}

TEST_F(InstallWorkerTest, NoUsableAddress) {
    for (const std::vector<std::wstring>& paths :
         {std::vector<std::wstring>{}, std::vector<std::wstring>{L"http://dl.example.com/x.exe", L"x.ex"}}) {
        TearDown();
        SetUp();
        c->m_remotePaths = paths;
        LogCapture log;
        EXPECT_EQ(Run(), -1);
        EXPECT_EQ(w->Posted(), (Messages{{2944, 14}}));
        EXPECT_EQ(FlowErrors(), std::vector<std::string>{"DL023"});
        EXPECT_EQ(c->m_loadState, int32_t(CConfigure::kNotLoaded));
        EXPECT_TRUE(log.contains("url is empty")) << log.dump();
        EXPECT_EQ(PackageGets(), 0);
    }
}

TEST_F(InstallWorkerTest, TwelveFailedAttempts) {
    // A host that answers, with a file too small to be the package: every attempt ends with 15.
    test_support::WriteText(served, std::string(4096, 'x'));
    c->m_md5 = Wide(CDownLoadImpl::FileMd5(served));
    LogCapture log;
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(w->Posted(), (Messages{{2944, 15}}));
    EXPECT_EQ(FlowErrors(), std::vector<std::string>(12, "DL031"));
    for (int k = 0; k <= 11; ++k)
        EXPECT_EQ(log.countExact(" The Retry Frequency is: " + std::to_string(k)), 1) << k << log.dump();
    EXPECT_EQ(log.countExact(" Tasks info, round end, current = 12, total = 12, result = 15"), 1);
    EXPECT_EQ(LabelOf("DownErrorCode"), "error_15");
    EXPECT_EQ(LabelOf("Md5CheckStart"), "<none>");
}

// Attempts that reach no host would each wait the same way: three in a row end the round
// (two may be a moment's loss: SuccessOnTheThirdAttempt).
TEST_F(InstallWorkerTest, RoundEndsEarlyWhenNoHostIsReached) {
    struct Case {
        const char* name;
        bool networkDown;      // IsNetworkAlive says no
        std::string address;   // else: a port nobody listens on (every probe refused)
        int result;
        const char* code;
    };
    const Case cases[] = {
        {"network down", true, "", 9, "DL010"},
        {"host refuses", false, "http://127.0.0.1:9/download/OrbalaLumeno_Setup.exe", 6, "DL012"},
    };
    for (const Case& k : cases) {
        TearDown();
        SetUp();
        CDownLoadImpl::Limits quick = limits;
        if (k.networkDown) quick.networkAlive = [] { return false; };
        quick.networkDownPauseMs = 1;
        CDownLoadImpl::SetLimits(quick);
        if (!k.address.empty()) SetAddress(k.address);
        LogCapture log;
        EXPECT_EQ(Run(), -1) << k.name;
        EXPECT_EQ(w->Posted(), (Messages{{2944, WPARAM(k.result)}})) << k.name;
        EXPECT_EQ(FlowErrors(), std::vector<std::string>(3, k.code)) << k.name;
        EXPECT_TRUE(log.contains(" Download round ended early: 3 attempts in a row reached no host, result = " +
                                 std::to_string(k.result)))
            << k.name << log.dump();
        EXPECT_EQ(log.countExact(" Tasks info, round begin, current = 4, total = 12"), 0) << k.name;
        EXPECT_EQ(LabelOf("DownErrorCode"), "error_" + std::to_string(k.result)) << k.name;
    }
}

// The window closed for good during the download: the attempt stops through the engine, its
// task file keeps the positions, nothing more is told to the gone window, nothing is installed.
TEST_F(InstallWorkerTest, StopDuringTheDownloadEndsTheAttemptAndKeepsItsPositions) {
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/","method":"GET","throttle":100000})"));
    InstallWindowState& state = w->state;
    std::thread closer([&state] {
        Sleep(3000);
        InstallWorker::RequestStop(state);
    });
    LogCapture log;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Run(), -1);
    const DWORD took = GetTickCount() - start;
    closer.join();
    EXPECT_LT(took, 20000u) << log.dump();
    EXPECT_TRUE(w->Posted().empty());
    EXPECT_TRUE(FlowErrors().empty());
    EXPECT_TRUE(log.contains(" Work stopped, the window closed: during a download attempt")) << log.dump();
    EXPECT_TRUE(log.contains(" Download stopped by its owner")) << log.dump();
    EXPECT_TRUE(Exists(Local(L".xml")));
    EXPECT_FALSE(Exists(app + L"\\" + ProcessName()));
    EXPECT_EQ(LabelOf("Md5CheckStart"), "<none>");
}

// A close confirmed before the installer's start: the installer never starts.
TEST_F(InstallWorkerTest, StopBeforeTheInstallerStartsNothing) {
    InstallWindowState& state = w->state;
    w->onPost = [&state](UINT message) {
        if (message == kMsgVerifyStarted) InstallWorker::RequestStop(state);
    };
    LogCapture log;
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}}));
    EXPECT_TRUE(log.contains(" Work stopped, the window closed: the installer is not started")) << log.dump();
    EXPECT_FALSE(Exists(app + L"\\" + ProcessName()));
    EXPECT_TRUE(install_fixtures::ProcessesNamed({kLocalName, kLoaderName}).empty());
    EXPECT_EQ(LabelOf("5.ProgramInstall"), "<none>");
    EXPECT_EQ(w->startClicks, 0);
}

// The bar's end never comes (the window's timers are gone): the wait has a bound, and a close
// ends it at once.
TEST_F(InstallWorkerTest, ProgressFinishWaitEndsWhenTheWindowCloses) {
    w->progress = 50;  // the worker leaves the event to timers that never fire
    InstallWindowState& state = w->state;
    std::atomic<int> result{99};
    std::thread worker([&] { result = Run(); });
    ULONGLONG start = GetTickCount64();
    while (state.installerFinished.load() == 0 || w->languageSaves == 0) {
        if (GetTickCount64() - start > 60000) break;
        Sleep(50);
    }
    Sleep(500);
    LogCapture log;
    InstallWorker::RequestStop(state);
    start = GetTickCount64();
    while (result.load() == 99 && GetTickCount64() - start < 10000) Sleep(20);
    const bool ended = result.load() != 99;
    if (!ended) SetEvent(state.progressFinish100);  // let a stuck worker go so the test can end
    worker.join();
    EXPECT_TRUE(ended) << "the worker still waited for ProgressFinish100 after the close";
    EXPECT_TRUE(log.contains(" ProgressFinish100 not waited for: the window closed")) << log.dump();
}

// A package another program holds for a moment is busy, not badly signed: asked again, and a
// package busy for good is a clear failure that keeps the complete package.
TEST_F(InstallWorkerTest, PackageThatCannotBeLockedIsBusyNeverBadlySigned) {
    struct Case {
        const char* name;
        DWORD heldMs;  // how long another program holds the package open without sharing
        int result;
        Messages posted;
    };
    const Case cases[] = {
        {"held for a moment", 1500, 0, {{2946, 0}, {2947, 0}, {2949, 0}}},
        {"held for good", 60000, -1, {{2946, 0}, {2944, 7}}},
    };
    for (const Case& k : cases) {
        TearDown();
        SetUp();
        lockPatienceMs = 3000;
        std::wstring package = Local();
        HANDLE holder = INVALID_HANDLE_VALUE;
        w->onPost = [&](UINT message) {
            if (message == kMsgVerifyStarted)
                holder = CreateFileW(package.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        };
        std::atomic<bool> done{false};
        std::thread releaser([&] {
            ULONGLONG start = GetTickCount64();
            while (holder == INVALID_HANDLE_VALUE && !done.load()) Sleep(10);
            while (GetTickCount64() - start < k.heldMs && !done.load()) Sleep(10);
            if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
        });
        LogCapture log;
        EXPECT_EQ(Run(), k.result) << k.name << log.dump();
        const bool packageLeft = Exists(package);
        done = true;
        releaser.join();
        EXPECT_NE(holder, INVALID_HANDLE_VALUE) << k.name;
        EXPECT_EQ(w->Posted(), k.posted) << k.name;
        EXPECT_TRUE(log.contains(" Package busy (32), asking again")) << k.name << log.dump();
        EXPECT_TRUE(ExceptionReports().empty()) << k.name;  // no signature report
        std::vector<std::string> errors = FlowErrors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), "DL014") + std::count(errors.begin(), errors.end(), "DL015"), 0)
            << k.name;
        if (k.result == -1) {
            EXPECT_EQ(errors, std::vector<std::string>{"DL027"}) << k.name;
            EXPECT_TRUE(packageLeft) << k.name;  // the complete package is kept for the next try
        }
    }
}

// "Try again" after the installer's time-out while that installer still runs: nothing is
// fetched or opened for writing (which would end it); the worker waits for it to its end.
TEST_F(InstallWorkerTest, TryAgainAfterTheTimeLimitWaitsForTheRunningInstaller) {
    Serve(L"slow");
    c->m_installTimeout = 1;
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2948, 0}}));
    ASSERT_FALSE(install_fixtures::ProcessesNamed({kLocalName}).empty());
    const int getsBefore = PackageGets();

    c->m_installTimeout = 120;
    w->state.retry = true;
    LogCapture log;
    EXPECT_EQ(Run(), 0) << log.dump();
    EXPECT_TRUE(log.contains(" Installer of the last run still running: waiting for it, nothing downloaded")) << log.dump();
    EXPECT_FALSE(log.contains(" Kill proc: ")) << log.dump();
    EXPECT_EQ(PackageGets(), getsBefore);  // nothing fetched again
    EXPECT_TRUE(log.contains(" install Finished, exit code: 0")) << log.dump();
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2948, 0}, {2947, 0}, {2949, 0}}));
    // The slow installer ran to its end and installed the product.
    EXPECT_TRUE(Exists(app + L"\\" + ProcessName()));
    EXPECT_NE(InstallerLog().find("Installation process succeeded."), std::string::npos) << InstallerLog();
    EXPECT_EQ(w->startClicks, 1);
}

TEST_F(InstallWorkerTest, SuccessOnTheThirdAttempt) {
    CDownLoadImpl::Limits flaky = limits;
    g_networkCalls = 0;
    g_networkDownFor = 2;  // the first check of attempts 1 and 2 finds no network
    flaky.networkAlive = &NetworkAfterAFewCalls;
    flaky.networkDownPauseMs = 1;
    CDownLoadImpl::SetLimits(flaky);
    LogCapture log;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2949, 0}}));
    EXPECT_EQ(FlowErrors(), (std::vector<std::string>{"DL010", "DL010"}));
    EXPECT_TRUE(log.contains("Success\xA3\xAC" "The Retry Frequency is: 2")) << log.dump();
    EXPECT_EQ(log.countExact(" The Retry Frequency is: 0"), 1);
    EXPECT_EQ(log.countExact(" The Retry Frequency is: 1"), 1);
    EXPECT_EQ(log.countExact(" The Retry Frequency is: 2"), 0);
}

TEST_F(InstallWorkerTest, PackageThatIsNotAProgram) {
    Serve(L"", L"OrbalaLumeno.apk");
    LogCapture log;
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(w->Posted(), (Messages{{2945, 0}}));
    EXPECT_TRUE(log.contains("APP DownloaderSucceed"));
    EXPECT_TRUE(Exists(work + L"\\OrbalaLumeno_1.0.0.0.apk"));
    EXPECT_EQ(LabelOf("Md5CheckStart"), "<none>");
    EXPECT_FALSE(Exists(app));
}

TEST_F(InstallWorkerTest, EarlierDownloadIsKeptOrDiscardedByItsStamp) {
    // A first run leaves the complete package, its task file and its stamp (the unsigned
    // package stops at the signature check).
    Serve(L"unsigned");
    std::wstring md5 = c->m_md5;
    EXPECT_EQ(Run(), -1);
    ASSERT_TRUE(Exists(Local()) && Exists(Local(L".xml")) && Exists(Local(L".db")));
    std::string digest = install_fixtures::Utf8(md5), upper = digest;
    for (char& ch : upper) ch = char(toupper(static_cast<unsigned char>(ch)));

    struct Case {
        std::string stamp;
        std::wstring recordMd5;
        bool kept;
    } cases[] = {
        {"1.0.0.0###" + digest, md5, true},
        {"1.0.0.0###" + upper, md5, true},                                  // the stamp side is lowered
        {"1.0.0.0###" + digest, std::wstring(md5.size(), L'0'), false},     // another digest
        {"1.0.0.0###" + digest, Wide(upper), false},                        // the record's side is not
        {"0.9.0.0###" + digest, md5, false},                                // another version
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.stamp + " / " + install_fixtures::Utf8(k.recordMd5));
        std::ofstream(Local(L".db").c_str(), std::ios::binary | std::ios::trunc) << k.stamp;
        c->m_md5 = k.recordMd5;
        ASSERT_TRUE(LocalServices::Reset());
        Run();
        EXPECT_EQ(PackageGets() == 0, k.kept) << PackageGets();
        EXPECT_TRUE(Exists(Local()));
    }
}

TEST_F(InstallWorkerTest, ConfigurationFromTheFileDownloadsFromScratchWithoutDigest) {
    // Leave a complete download with a matching stamp behind first.
    Serve(L"unsigned");
    EXPECT_EQ(Run(), -1);
    ASSERT_TRUE(Exists(Local(L".db")));
    // The same work folder, a new run whose configuration came from the file.
    std::unique_ptr<test_support::TempDir> keep = std::move(dir);
    std::wstring keptWork = work;
    TearDown();
    SetUp();
    dir = std::move(keep);
    work = keptWork;
    app = dir->File(L"Orbala Lumeno");
    w->state.workFolder = work;
    w->state.installDirectory = app;
    ASSERT_TRUE(Exists(Local(L".db")));
    c->m_source = CConfigure::kSourceFile;
    c->m_md5 = L"00000000000000000000000000000000";  // never compared
    LogCapture log;
    EXPECT_EQ(Run(), 0) << log.dump();
    EXPECT_TRUE(log.contains(" Configure Load From File, clearAppData Before Download! "));
    EXPECT_GT(PackageGets(), 0);
    EXPECT_TRUE(FlowErrors().empty());
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2949, 0}}));
    bool configFromFile = false;
    for (const auto& call : report->Calls())
        if (call.slot == "ReportEvent" && call.text.find("DownloadConfigReady") != std::string::npos)
            configFromFile = call.text.find("\"default_config\" : \"1\"") != std::string::npos;
    EXPECT_TRUE(configFromFile);
}

TEST_F(InstallWorkerTest, ARunningEarlierInstallerIsEndedWithItsLoaderToFreeThePackage) {
    // An earlier copy of the installer still runs from the download path and holds the file.
    ASSERT_TRUE(install_fixtures::CopyPackage(L"slow", Local()));
    std::wstring line = L" /VERYSILENT /SP- /NORESTART /DIR=\"" + dir->File(L"earlier") + L"\" /LANG=en /LOG=\"" +
                        dir->File(L"earlier.log") + L"\"" + Deployment::INSTALLER_SUFFIX_SWITCH() + L"null";
    DWORD error = 0;
    HANDLE earlier = InstallerRun::Start(Local(), line, error);
    ASSERT_NE(earlier, nullptr);
    ULONGLONG start = GetTickCount64();
    while (install_fixtures::ProcessesNamed({kLoaderName}).empty() && GetTickCount64() - start < 15000) Sleep(50);
    ASSERT_FALSE(install_fixtures::ProcessesNamed({kLoaderName}).empty());

    LogCapture log;
    EXPECT_EQ(Run(), 0) << log.dump();
    EXPECT_TRUE(log.contains(" Kill proc: 1, ")) << log.dump();
    EXPECT_EQ(WaitForSingleObject(earlier, 10000), WAIT_OBJECT_0);
    CloseHandle(earlier);
    EXPECT_TRUE(install_fixtures::ProcessesNamed({kLoaderName}).empty());
    EXPECT_EQ(w->Posted(), (Messages{{2946, 0}, {2947, 0}, {2949, 0}}));
    EXPECT_TRUE(Exists(app + L"\\" + ProcessName()));
}

TEST_F(InstallWorkerTest, AutomatedModeStartsTheProgramAgainAndCloses) {
    std::ofstream(FuntionImpl::GetLocalSettingsPath().c_str(), std::ios::binary) << "[Settings]\r\nAutoRun=1\r\n";
    LogCapture log;
    EXPECT_EQ(Run(), 0);
    std::vector<std::string> order;
    for (const auto& l : log.lines())
        if (l.rfind(" Force Exit ", 0) == 0) order.push_back(l.substr(0, 13));
    EXPECT_EQ(order, (std::vector<std::string>{" Force Exit 1", " Force Exit 2", " Force Exit 3", " Force Exit 4",
                                               " Force Exit 5", " Force Exit 6", " Force Exit 7", " Force Exit 8"}));
    EXPECT_TRUE(log.contains(" Force Exit 7 error code = 0, 0 (started)")) << log.dump();
    // The restart is a start of the protected copy, never of the setup by its path.
    EXPECT_TRUE(g_shellCalls.empty());
    ASSERT_EQ(g_selfStarts.size(), 1u);
    EXPECT_EQ(g_selfStarts[0].parameters, L"");
    EXPECT_EQ(g_selfStarts[0].show, SW_HIDE);
    EXPECT_EQ(w->mutexReleases, 1);
    EXPECT_EQ(w->closes, 1);
    EXPECT_EQ(w->startClicks, 1);
    EXPECT_FALSE(Exists(Local(L".xml")));
}

TEST_F(InstallWorkerTest, ReplyFieldsThatNamePathsAreRefusedAndNothingLeavesTheFolders) {
    // The configuration service's reply names a path, or adds switches, where a name belongs. The
    // elevated worker must write, run and start nothing outside its work and install folders: the
    // reply is refused with a log line, the skin's values are used (as for a reply that cannot be
    // read), and the product page from the skin, a file here, is not opened either.
    struct Case {
        const char* field;
        std::function<std::string(const std::wstring& outside)> value;
    } cases[] = {
        {"Software_version", [](const std::wstring&) { return std::string("1\\..\\..\\outside\\escaped"); }},
        {"Process_name", [](const std::wstring&) { return std::string("..\\outside\\marker.exe"); }},
        {"Software_name",
         [](const std::wstring& outside) { return "x\" /DIR=\"" + install_fixtures::Utf8(outside) + "\\injected"; }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.field);
        TearDown();
        SetUp();
        const std::wstring outside = dir->File(L"outside");
        ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
        // A program a standard user planted where the path leads.
        ASSERT_TRUE(CopyFileW(install_fixtures::ProductProgram().c_str(), (outside + L"\\marker.exe").c_str(), FALSE));

        Json::Value reply;
        reply["Download_url"] = reply["Extra_download_url"] = url;
        reply["Md5"] = install_fixtures::Utf8(c->m_md5);
        reply[k.field] = k.value(outside);
        ASSERT_EQ(LocalServices::Control("POST", "/__control/config", Json::writeString(Json::StreamWriterBuilder(), reply)), 200);
        const std::string host = LocalServices::BaseUrl(true).substr(LocalServices::BaseUrl(true).find("//") + 2);
        c->setQueryTargets({host, host, analytics.get()});
        c->m_loadState = CConfigure::kNotLoaded;
        c->m_source = CConfigure::kSourceNothing;

        // The skin's configuration labels, the fall-back.
        const std::string skinXml =
            "<VerticalLayout><Label name=\"Software_name\" text=\"Orbala Lumeno\"/>"
            "<Label name=\"Software_version\" text=\"1.0.0.0\"/>"
            "<Label name=\"Process_name\" text=\"" + install_fixtures::Utf8(ProcessName()) + "\"/>"
            "<Label name=\"Download_url\" text=\"" + url + "\"/><Label name=\"Extra_download_url\" text=\"" + url + "\"/>"
            "<Label name=\"InstallTimeout\" text=\"60\"/></VerticalLayout>";
        DuiLib::CMarkup markup;
        ASSERT_TRUE(markup.Load(skinXml.c_str()));
        DuiLib::CDialogBuilder builder;
        DuiLib::CPaintManagerUI skin;
        skin.AttachRoot(builder.Create(markup));
        CConfigure* record = c.get();
        w->onLoad = [record, &skin] { ConfigurationLoad::LoadAtInstallTime(*record, 0, &skin); };
        w->labels[L"product_url_english"] = L"file:///" + outside + L"\\marker.exe";

        LogCapture log;
        EXPECT_EQ(Run(), 0) << log.dump();
        EXPECT_TRUE(log.contains(std::string(" GetCbsInfo reply refused: ") + k.field + " is no plain name")) << log.dump();
        EXPECT_EQ(c->m_source, int32_t(CConfigure::kSourceFile));
        EXPECT_TRUE(log.contains(" [Download File Path]: " + install_fixtures::Utf8(Local()))) << log.dump();
        // One /DIR, the install folder; the installer's log in the log folder under the skin's name.
        std::string line;
        for (const auto& l : log.lines())
            if (l.rfind(" [Start Install CmdLine]: ", 0) == 0) line = l;
        EXPECT_EQ(line.find("/DIR="), line.rfind("/DIR=")) << line;
        EXPECT_NE(line.find("/DIR=\"" + install_fixtures::Utf8(app) + "\" "), std::string::npos) << line;
        EXPECT_NE(line.find("/LOG=\"" + install_fixtures::Utf8(logs) + "\\Orbala Lumeno_Setup_"), std::string::npos) << line;
        EXPECT_TRUE(g_shellCalls.empty());
        EXPECT_TRUE(log.contains(" Url refused: file:///")) << log.dump();

        // The product is started from the install folder, as the window starts it.
        const std::wstring program = ProductLaunch::MainExePath(app, c->m_processName, c->loadState() == CConfigure::kLoaded);
        EXPECT_EQ(program, app + L"\\" + ProcessName());
        EXPECT_EQ(FuntionImpl::StartTargetMainExe(L"\"" + program + L"\"", 1, analytics.get()), 0);
        EXPECT_EQ(install_fixtures::WaitForLaunches(app, 1).size(), 1u);
        // Nothing was written into the outside folder (files or folders) and nothing ran from it.
        std::vector<std::wstring> entries;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((outside + L"\\*").c_str(), &found);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found))
            if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) entries.push_back(found.cFileName);
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        EXPECT_EQ(entries, std::vector<std::wstring>{L"marker.exe"});
        EXPECT_TRUE(install_fixtures::Launches(outside).empty());
        install_fixtures::EndProcessesNamed({L"marker.exe"});
    }
}
