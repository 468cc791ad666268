// Choice of the download address: content-delivery test, host and host class, the first usable
// remote path, the persistent request counter in the registry, and the Windows 7/8 link repair
// probed against the local services.
#include "support/local_services.h"
#include "support/services_environment.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "download/DownloadAddress.h"
#include "platform/FuntionImpl.h"
#include "support/log_capture.h"

namespace {

class Environment : public ServicesEnvironment {
protected:
    void Prepare() override {
        // A package the link check finds (the other "_obwin.exe" name stays missing).
        const std::string root = LocalServices::Root();
        HANDLE h = CreateFileW((std::wstring(root.begin(), root.end()) + L"\\Lumeno_obwin.exe").c_str(), GENERIC_WRITE,
                               0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        WriteFile(h, "MZ", 2, &done, nullptr);
        CloseHandle(h);
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

TEST(DownloadAddress, ContentDeliveryAddresses) {
    struct Case {
        const char* url;
        bool cdn;
    } cases[] = {
        {"https://cdn.example.com/p.exe", true},
        {"https://dl.example.com/p.exe", true},
        {"http://x.example.com/redirect?to=//cdn.other.com/p.exe", true},  // anywhere in the text
        {"https://CDN.example.com/p.exe", false},                           // case-sensitive
        {"https://www.example.com/cdn./p.exe", false},
        {"https://xdl.example.com/p.exe", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsCdnUrl(std::string(c.url)), c.cdn) << c.url;
        EXPECT_EQ(IsCdnUrl(Wide(c.url)), c.cdn) << c.url;
    }
}

TEST(DownloadAddress, HostAndHostClass) {
    struct Case {
        const char* url;
        const char* host;
        int type;
    } cases[] = {
        {"https://CDN.Example.com/p.exe", "cdn.example.com", 10},
        {"https://dl.example.com/a/b.exe", "dl.example.com", 10},
        {"https://alicdn.example.com/p.exe", "alicdn.example.com", 12},
        {"https://www.Kalidownload.com/p.exe", "www.kalidownload.com", 12},  // "ali" anywhere
        {"https://dl.alibaba.com/p.exe", "dl.alibaba.com", 10},             // dl. is tested first
        {"https://awscdn.example.com/p.exe", "awscdn.example.com", 13},
        {"https://www.example.com/p.exe", "www.example.com", 11},
        {"http://127.0.0.1:47080/download/p.exe", "127.0.0.1:47080", 11},
        {"https://www.example.com", "", 10},      // no "/" after the host
        {"no-dot-at-all/p", "", 10},
        {"", "", 10},
        {"www.example.com/p.exe", "www.example.com", 11},  // no scheme: from the start
        {"https://a.b/p", "a.b", 11},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FuntionImpl::GetUrlHost(std::string(c.url)), c.host) << c.url;
        EXPECT_EQ(FuntionImpl::GetUrlHost(Wide(c.url)), Wide(c.host)) << c.url;
        EXPECT_EQ(FuntionImpl::GetUrlHostType(std::string(c.url)), c.type) << c.url;
        EXPECT_EQ(FuntionImpl::GetUrlHostType(Wide(c.url)), c.type) << c.url;
    }
    EXPECT_EQ(DownloadAddress::AddressLabel(L"https://alicdn.example.com/p.exe"), "Extra_download_url");
    EXPECT_EQ(DownloadAddress::AddressLabel(L"https://awscdn.example.com/p.exe"), "Download_url");
}

TEST(DownloadAddress, FirstAddressThatIsNotContentDelivery) {
    struct Case {
        std::vector<std::wstring> paths;
        std::wstring chosen;
    } cases[] = {
        {{}, L""},
        {{L"https://cdn.example.com/a.exe", L"https://dl.example.com/b.exe"}, L""},
        {{L"https://dl.example.com/a.exe", L"https://www.example.com/b.exe", L"https://www.example.com/c.exe"},
         L"https://www.example.com/b.exe"},
        {{L"https://www.example.com/a.exe", L"https://cdn.example.com/b.exe"}, L"https://www.example.com/a.exe"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(DownloadAddress::CheckRemotePath(c.paths, true), c.chosen);
        EXPECT_EQ(log.countExact(" isForbidCDN: 1"), 1) << log.dump();
        if (c.chosen.empty())
            EXPECT_EQ(log.countExact(" checkRemotePath fail: -1"), 1) << log.dump();
        else
            EXPECT_EQ(log.countExact(" UrlUsed: " + std::string(c.chosen.begin(), c.chosen.end())), 1) << log.dump();
    }
    LogCapture log;
    DownloadAddress::CheckRemotePath({}, false);
    EXPECT_EQ(log.countExact(" isForbidCDN: 0"), 1);
}

class RequestCounter : public ::testing::Test {
protected:
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }
    void Remove() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, DownloadAddress::RequestCounterKey(kName).c_str()); }
    std::wstring Value() {
        return FuntionImpl::ReadMachineRegString(DownloadAddress::RequestCounterKey(kName),
                                                 DownloadAddress::kRequestCounterValue);
    }
    void Set(const std::wstring& text) {
        ASSERT_TRUE(FuntionImpl::WriteMachineRegString(DownloadAddress::RequestCounterKey(kName),
                                                       DownloadAddress::kRequestCounterValue, text));
    }
    const std::wstring kName = L"Orbala Lumeno Counter Test " + std::to_wstring(GetCurrentProcessId());
};

TEST_F(RequestCounter, ForbidsAfterMoreThanThree) {
    EXPECT_FALSE(DownloadAddress::IsForbidCDN(kName));  // no key at all
    Set(L"3");
    EXPECT_FALSE(DownloadAddress::IsForbidCDN(kName));
    Set(L"4");
    EXPECT_TRUE(DownloadAddress::IsForbidCDN(kName));
    DownloadAddress::AddRequestTooMuchTimes(kName);
    EXPECT_EQ(Value(), L"5");
    EXPECT_TRUE(DownloadAddress::IsForbidCDN(kName));
}

TEST_F(RequestCounter, IncrementRestartsFromNothingUsable) {
    DownloadAddress::AddRequestTooMuchTimes(kName);  // creates the key
    EXPECT_EQ(Value(), L"1");
    DownloadAddress::AddRequestTooMuchTimes(kName);
    EXPECT_EQ(Value(), L"2");
    for (const wchar_t* old : {L"0", L"-7", L"many"}) {
        Set(old);
        DownloadAddress::AddRequestTooMuchTimes(kName);
        EXPECT_EQ(Value(), L"1") << old;
    }
}

TEST(Win78LinkCheck, ProbesOnlyOldWindowsAndRepairsOnlyA404) {
    const std::wstring found = Wide(LocalServices::DownloadUrl(false, "Lumeno_obwin.exe"));
    const std::wstring missing = Wide(LocalServices::DownloadUrl(false, "Gone_obwin.exe"));
    const std::wstring otherMissing = Wide(LocalServices::DownloadUrl(false, "Gone.exe"));
    const std::wstring skin = L"https://www.example.com/skin.exe";
    const std::wstring skinExtra = L"https://www.example.com/skin_extra.exe";
    const std::wstring cdn = L"https://cdn.example.com/skin.exe";
    struct Case {
        const wchar_t* what;
        std::wstring address;
        float os;
        std::wstring skinUrl, skinExtraUrl;
        std::wstring expected;
        size_t probes;
        const char* logged;
    } cases[] = {
        {L"Windows 10: never probed", missing, 10.0f, skin, skinExtra, missing, 0, nullptr},
        {L"no _obwin.exe", otherMissing, 6.1f, skin, skinExtra, otherMissing, 0, nullptr},
        {L"present", found, 6.1f, skin, skinExtra, found, 1, " Curl check win78 link, http code is 200, curl code is 0"},
        {L"404: skin Download_url", missing, 6.3f, skin, skinExtra, skin, 1, " Curl check win78 link, http code is 404, curl code is 0"},
        {L"404: cdn skin address passed over", missing, 6.2f, cdn, skinExtra, skinExtra, 1, nullptr},
        {L"404: empty skin address passed over", missing, 6.2f, L"", skinExtra, skinExtra, 1, nullptr},
        {L"404: nothing usable", missing, 0.0f, cdn, L"https://dl.example.com/x.exe", missing, 1, nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(LocalServices::Reset());
        LogCapture log;
        EXPECT_EQ(DownloadAddress::CheckWin78Link(c.address, c.os, c.skinUrl, c.skinExtraUrl), c.expected) << c.what;
        EXPECT_EQ(LocalServices::Requests("/download/").size(), c.probes) << c.what;
        if (c.logged) {
            EXPECT_EQ(log.countExact(c.logged), 1) << log.dump();
        }
        if (c.expected != c.address)
            EXPECT_EQ(log.countExact(" UrlUsed change to: " + std::string(c.expected.begin(), c.expected.end())), 1)
                << log.dump();
        else
            EXPECT_FALSE(log.contains("UrlUsed change to")) << log.dump();
    }
}
