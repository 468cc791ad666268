// The firewall rule's decisions, through a stand-in for the firewall's COM objects that keeps its
// list of authorised applications between runs: added once, left alone when enabled, each
// failing step's message and result, COM initialised and uninitialised in pairs. Wine has no
// firewall of its own; the last test shows what its COM objects answer.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "platform/FuntionImpl_Firewall.h"

namespace {

constexpr long kFail = static_cast<long>(0x80004005);  // E_FAIL
const wchar_t kPath[] = L"C:\\Program Files\\Orbala\\setup.exe";

class FakeFirewall : public FuntionImpl::IFirewallSeam {
public:
    // The firewall's list, kept across runs as the real one is.
    std::map<std::wstring, FuntionImpl::FirewallEntry> listed;
    long initializeResult = S_OK;
    std::string failStep;  // the step that fails with kFail
    std::vector<std::string> calls;
    std::string printed;
    int initialized = 0, uninitialized = 0, released = 0;

    long Initialize() override {
        ++initialized;
        return Step("Initialize", initializeResult);
    }
    void Uninitialize() override { ++uninitialized; }
    long CreateManager() override { return Step("CreateManager"); }
    long GetLocalPolicy() override { return Step("GetLocalPolicy"); }
    long GetCurrentProfile() override { return Step("GetCurrentProfile"); }
    long GetAuthorizedApplications() override { return Step("GetAuthorizedApplications"); }
    long FindApplication(const std::wstring& path, bool& enabled) override {
        long hr = Step("FindApplication");
        if (FAILED(hr)) return hr;
        auto it = listed.find(path);
        if (it == listed.end()) return static_cast<long>(0x80070002);  // not listed
        enabled = it->second.enabled;
        return S_OK;
    }
    long CreateApplication() override {
        entry_ = FuntionImpl::FirewallEntry();
        entry_.scope = -1;
        entry_.ipVersion = -1;
        entry_.enabled = false;
        return Step("CreateApplication");
    }
    long PutProcessImageFileName(const std::wstring& path) override { return Set("PutProcessImageFileName", entry_.imageFileName, path); }
    long PutScope(int scope) override { return Set("PutScope", entry_.scope, scope); }
    long PutIpVersion(int ipVersion) override { return Set("PutIpVersion", entry_.ipVersion, ipVersion); }
    long PutEnabled(bool enabled) override { return Set("PutEnabled", entry_.enabled, enabled); }
    long PutName(const std::wstring& name) override { return Set("PutName", entry_.name, name); }
    long AddApplication() override {
        long hr = Step("AddApplication");
        if (SUCCEEDED(hr)) listed[entry_.imageFileName] = entry_;
        return hr;
    }
    void ReleaseObjects() override { ++released; }
    void Print(const std::string& text) override { printed += text; }

    void NewRun() {
        calls.clear();
        printed.clear();
    }

private:
    long Step(const std::string& name, long result = S_OK) {
        calls.push_back(name);
        return name == failStep ? kFail : result;
    }
    template <typename T>
    long Set(const std::string& name, T& field, const T& value) {
        long hr = Step(name);
        if (SUCCEEDED(hr)) field = value;
        return hr;
    }
    FuntionImpl::FirewallEntry entry_;
};

}  // namespace

TEST(Firewall, AddsTheEntryOnceAcrossRuns) {
    FakeFirewall fw;
    EXPECT_EQ(FuntionImpl::AddFirewallException(kPath, fw), 0);
    EXPECT_EQ(fw.printed, "Authorized application C:\\Program Files\\Orbala\\setup.exe is now enabled in the firewall.\n");
    ASSERT_EQ(fw.listed.size(), 1u);
    const FuntionImpl::FirewallEntry& entry = fw.listed.begin()->second;
    EXPECT_EQ(entry.imageFileName, kPath);
    EXPECT_EQ(entry.scope, 0);      // NET_FW_SCOPE_ALL
    EXPECT_EQ(entry.ipVersion, 2);  // NET_FW_IP_VERSION_ANY
    EXPECT_TRUE(entry.enabled);
    EXPECT_EQ(entry.name, L"Kdr_setup1.0.0.1");

    // The second run of the setup finds it and adds nothing.
    fw.NewRun();
    EXPECT_EQ(FuntionImpl::AddFirewallException(kPath, fw), 0);
    EXPECT_EQ(fw.printed, "Authorized application C:\\Program Files\\Orbala\\setup.exe is enabled in the firewall.\n");
    EXPECT_EQ(fw.calls, (std::vector<std::string>{"Initialize", "CreateManager", "GetLocalPolicy", "GetCurrentProfile",
                                                  "GetAuthorizedApplications", "FindApplication"}));
    EXPECT_EQ(fw.listed.size(), 1u);
    EXPECT_EQ(fw.initialized, 2);
    EXPECT_EQ(fw.uninitialized, 2);
    EXPECT_EQ(fw.released, 2);
}

TEST(Firewall, ADisabledEntryIsAddedAgainEnabled) {
    FakeFirewall fw;
    FuntionImpl::FirewallEntry disabled = FuntionImpl::FirewallEntryFor(kPath);
    disabled.enabled = false;
    disabled.name = L"old";
    fw.listed[kPath] = disabled;
    EXPECT_EQ(FuntionImpl::AddFirewallException(kPath, fw), 0);
    EXPECT_TRUE(fw.listed[kPath].enabled);
    EXPECT_EQ(fw.listed[kPath].name, L"Kdr_setup1.0.0.1");
    EXPECT_NE(fw.printed.find("is now enabled"), std::string::npos);
}

TEST(Firewall, EachFailingStepPrintsItsMessageAndStops) {
    struct Case {
        const char* step;
        const char* printed;
        int result;
    };
    const Case cases[] = {
        {"Initialize", "CoInitializeEx failed: 0x80004005\n", -1},
        {"CreateManager", "CoCreateInstance failed: 0x80004005\nWindowsFirewallInitialize failed: 0x80004005\n", -1},
        {"GetLocalPolicy", "get_LocalPolicy failed: 0x80004005\nWindowsFirewallInitialize failed: 0x80004005\n", -1},
        {"GetCurrentProfile", "get_CurrentProfile failed: 0x80004005\nWindowsFirewallInitialize failed: 0x80004005\n", -1},
        {"GetAuthorizedApplications", "get_AuthorizedApplications failed: 0x80004005\n", 0},
        {"CreateApplication", "CoCreateInstance failed: 0x80004005\n", 0},
        {"PutProcessImageFileName", "put_ProcessImageFileName failed: 0x80004005\n", 0},
        {"PutScope", "put_Scope failed: 0x80004005\n", 0},
        {"PutIpVersion", "put_IpVersion failed: 0x80004005\n", 0},
        {"PutEnabled", "put_Enabled failed: 0x80004005\n", 0},
        {"PutName", "put_Name failed: 0x80004005\n", 0},
        {"AddApplication", "Add failed: 0x80004005\n", 0},
    };
    for (const Case& c : cases) {
        FakeFirewall fw;
        fw.failStep = c.step;
        EXPECT_EQ(FuntionImpl::AddFirewallException(kPath, fw), c.result) << c.step;
        EXPECT_EQ(fw.printed, c.printed) << c.step;
        EXPECT_EQ(fw.calls.back(), c.step) << "a step ran after the failing one";
        EXPECT_TRUE(fw.listed.empty()) << c.step;
        // COM is uninitialised exactly when it was initialised; the objects are always released.
        EXPECT_EQ(fw.uninitialized, std::string(c.step) == "Initialize" ? 0 : 1) << c.step;
        EXPECT_EQ(fw.released, std::string(c.step) == "Initialize" ? 0 : 1) << c.step;
    }
}

TEST(Firewall, ComAlreadyInitialisedElsewhere) {
    struct Case {
        long initialize;
        int uninitialized;
    };
    const Case cases[] = {
        {S_FALSE, 1},                                  // already initialised the same way: balanced
        {static_cast<long>(RPC_E_CHANGED_MODE), 0},    // another mode: accepted, not ours to undo
    };
    for (const Case& c : cases) {
        FakeFirewall fw;
        fw.initializeResult = c.initialize;
        EXPECT_EQ(FuntionImpl::AddFirewallException(kPath, fw), 0);
        EXPECT_EQ(fw.listed.size(), 1u);
        EXPECT_EQ(fw.uninitialized, c.uninitialized);
    }
}

// What Wine's own firewall objects (hnetcfg) answer: see the test's output.
TEST(Firewall, WineFirewallObjectsAnswer) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    testing::internal::CaptureStdout();
    int first = FuntionImpl::AddFirewallException(module);
    int second = FuntionImpl::AddFirewallException(module);
    std::string printed = testing::internal::GetCapturedStdout();
    std::printf("Wine answered %d then %d:\n%s", first, second, printed.c_str());
    EXPECT_EQ(first, 0) << printed;
    EXPECT_EQ(second, 0) << printed;
}
