// Certificates are checked on every request: the local services' HTTPS listener, whose
// certificate the build's test authority signed, is reached by every kind of request the program
// makes; a server with a self-signed certificate (the services' second HTTPS listener) is refused
// by each of them, with a log line and the caller's fall-back; a certificate for another name is
// refused too. The release settings (the Windows store) are checked as values: Wine's Schannel
// accepts any certificate by itself, so only the test authority's path can be refused under Wine.
#include "support/local_services.h"
#include "support/services_environment.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIMarkup.h"
#include "ReportSDK/CReportTransport.h"
#include "ReportSDK/CSdkLog.h"
#include "analytics/CSingleUserLog.h"
#include "base/TlsPolicy.h"
#include "config/CConfigure.h"
#include "config/ConfigurationLoad.h"
#include "deployment_values.h"
#include "net/CLibcurlTool.h"
#include "net/RangeTarget.h"
#include "support/log_capture.h"
#include "support/recording_report.h"
#include "support/test_support.h"

namespace {

class Environment : public ServicesEnvironment {
public:
    static std::string SelfSigned() { return LocalServices::env("ORBALA_SERVICES_HTTPS_SELF_SIGNED"); }
protected:
    void Prepare() override {
        ASSERT_FALSE(SelfSigned().empty()) << "the services' self-signed listener is missing";
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

std::string Trusted() { return LocalServices::BaseUrl(true); }
std::string SelfSigned() { return Environment::SelfSigned(); }
std::string HostOf(const std::string& base) { return base.substr(base.find("//") + 2); }
std::string PortOf(const std::string& base) { return base.substr(base.rfind(':') + 1); }

const char kRefused[] = " TLS certificate refused: ";

// A served file for the header probe and the ranged request.
const char kFileName[] = "tls_policy_test.bin";
const std::string kFileBytes(4096, 'x');

// The one segment of a ranged request, its bytes kept in memory.
class Segment : public IRangeTarget {
public:
    Segment(const std::string& url, int64_t size) {
        segment_.RemotePath = url;
        segment_.EndPos = size;
        segment_.ContentLength = size;
    }
    TransferSegment* getSegment() const override { return &segment_; }
    size_t writeAt(int64_t pos, const char* data, size_t n) override {
        if (bytes_.size() < size_t(pos) + n) bytes_.resize(size_t(pos) + n);
        std::copy(data, data + n, bytes_.begin() + pos);
        return n;
    }
    bool stopRequested() const override { return false; }

private:
    mutable TransferSegment segment_;
    std::string bytes_;
};

// Every kind of request of the program, against one base URL: its libcurl result and what it
// brought back.
struct Outcome {
    int code = -1;
    std::string detail;
};

Outcome PlainGet(const std::string& base) {
    CLibcurlTool tool(curl_easy_init());
    std::string body = "unchanged";
    Outcome o;
    o.code = tool.httpGet(base + "/pages/privacy.html", body);
    o.detail = body;
    return o;
}
Outcome HeaderProbe(const std::string& base) {
    CLibcurlTool tool(curl_easy_init());
    char headers[4096] = {};
    long status = 0;
    Outcome o;
    o.code = tool.httpGet(base + "/download/" + kFileName, headers, status);
    o.detail = std::to_string(status);
    return o;
}
Outcome Post(const std::string& base) {
    CLibcurlTool tool(curl_easy_init());
    std::string reply;
    Outcome o;
    o.code = tool.HttpPost(base + "/api/exception/send", "{}", reply);
    o.detail = reply;
    return o;
}
Outcome Ranged(const std::string& base) {
    CLibcurlTool tool(curl_easy_init());
    std::string url = base + "/download/" + kFileName;
    Segment segment(url, int64_t(kFileBytes.size()));
    Outcome o;
    o.code = tool.httpDownloadContent(url, 0, int64_t(kFileBytes.size()), &segment);
    o.detail = std::to_string(segment.getSegment()->DownloadedPos.load());
    return o;
}

}  // namespace

TEST(TlsPolicy, SettingsOfReleaseAndTestBuilds) {
    const TlsPolicy::Settings release = TlsPolicy::SettingsFor(nullptr);
    EXPECT_EQ(release.verifyPeer, 1);
    EXPECT_EQ(release.verifyHost, 2);
    EXPECT_EQ(release.sslOptions, long(CURLSSLOPT_REVOKE_BEST_EFFORT));
    EXPECT_EQ(release.authorityPem, nullptr) << "a release trusts the Windows store";
    EXPECT_STREQ(release.protocols, "http,https");
    EXPECT_STREQ(TlsPolicy::TrustName(release), "the Windows certificate store");
    EXPECT_EQ(TlsPolicy::SettingsFor("").authorityPem, nullptr);

    const TlsPolicy::Settings test = TlsPolicy::SettingsFor("PEM");
    EXPECT_STREQ(test.authorityPem, "PEM");
    EXPECT_EQ(test.verifyPeer, 1);
    EXPECT_EQ(test.verifyHost, 2);
    EXPECT_STREQ(TlsPolicy::TrustName(test), "the build's test authority");

    // This build is the local deployment's: it trusts the test authority alone.
    ASSERT_TRUE(Deployment::kTrustTestAuthority);
    EXPECT_STREQ(TlsPolicy::Current().authorityPem, Deployment::kTestAuthorityPem);
    EXPECT_NE(std::string(Deployment::kTestAuthorityPem).find("-----BEGIN CERTIFICATE-----"), std::string::npos);
}

TEST(TlsPolicy, RefusalCodesAndLine) {
    const std::pair<CURLcode, bool> codes[] = {
        {CURLE_PEER_FAILED_VERIFICATION, true}, {CURLE_SSL_CACERT_BADFILE, true}, {CURLE_SSL_ISSUER_ERROR, true},
        {CURLE_OK, false}, {CURLE_COULDNT_CONNECT, false}, {CURLE_SSL_CONNECT_ERROR, false},
        {CURLE_OPERATION_TIMEDOUT, false}};
    for (const auto& c : codes) EXPECT_EQ(TlsPolicy::IsCertificateRefusal(c.first), c.second) << c.first;
    EXPECT_EQ(TlsPolicy::RefusalLine("https://cfg.example:8443/queryDownloaderV2?SoftWareID=486",
                                     CURLE_PEER_FAILED_VERIFICATION, TlsPolicy::SettingsFor(nullptr)),
              std::string(kRefused) + "https://cfg.example:8443 (" + curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION) +
                  "); trusted: the Windows certificate store");
    EXPECT_EQ(TlsPolicy::RefusalLine("https://h.example", CURLE_SSL_CACERT_BADFILE, TlsPolicy::SettingsFor("P")),
              std::string(kRefused) + "https://h.example (" + curl_easy_strerror(CURLE_SSL_CACERT_BADFILE) +
                  "); trusted: the build's test authority");
}

TEST(TlsPolicy, EveryRequestReachesTheTrustedServerAndRefusesTheSelfSignedOne) {
    ASSERT_TRUE(LocalServices::Reset());
    test_support::WriteText(test_support::WinePath(LocalServices::env("ORBALA_SERVICES_ROOT_UNIX")) + L"\\" +
                                std::wstring(kFileName, kFileName + strlen(kFileName)),
                            kFileBytes);
    const struct {
        const char* request;
        Outcome (*run)(const std::string&);
        const char* trustedDetail;  // what the trusted server's answer leaves behind
    } requests[] = {
        {"plain GET", PlainGet, nullptr},
        {"header probe", HeaderProbe, "200"},
        {"POST", Post, "{\"code\":200,\"msg\":\"ok\"}"},
        {"ranged GET", Ranged, "4096"},
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.request);
        Outcome trusted = r.run(Trusted());
        EXPECT_EQ(trusted.code, CURLE_OK);
        if (r.trustedDetail) {
            EXPECT_EQ(trusted.detail, r.trustedDetail);
        } else {
            EXPECT_NE(trusted.detail.find("<html"), std::string::npos) << trusted.detail;
        }

        LogCapture log;
        Outcome refused = r.run(SelfSigned());
        EXPECT_EQ(refused.code, CURLE_PEER_FAILED_VERIFICATION);
        const std::string line = std::string(kRefused) + SelfSigned() + " (" +
                                 curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION) +
                                 "); trusted: the build's test authority";
        EXPECT_EQ(log.countExact(line), 1) << log.dump();
        if (r.run == PlainGet) {
            EXPECT_EQ(refused.detail, "unchanged") << "a refused GET leaves the text alone";
        }
        if (r.run == Ranged) {
            EXPECT_EQ(refused.detail, "0") << "nothing of a refused server is written";
        }
    }
    // The refused requests never got as far as HTTP.
    for (const Json::Value& request : LocalServices::Requests())
        EXPECT_NE(request["listener"].asString(), "https-self-signed") << request.toStyledString();
}

TEST(TlsPolicy, TheReportTransportRefusesTheSelfSignedCollector) {
    test_support::TempDir folder;
    CSdkLog sdkLog;
    ASSERT_TRUE(sdkLog.Open(folder.File(L"sdk.log")));
    CReportTransport transport(folder.path() + L"\\", &sdkLog);
    EXPECT_EQ(transport.PostDataError(Trusted() + "/collect", "{}"), 200);
    EXPECT_EQ(transport.PostDataError(SelfSigned() + "/collect", "{}"), 0);
    sdkLog.Close();
    std::string text = test_support::ReadFile(folder.File(L"sdk.log"));
    EXPECT_NE(text.find("PostDataError: 60, "), std::string::npos) << text;
}

TEST(TlsPolicy, TheConfigurationQueryFallsBackToTheSkinWhenTheServiceIsNotTrusted) {
    ASSERT_TRUE(LocalServices::Reset());
    RecordingReport report;
    AnalyticsFormat::Identity id;
    CSingleUserLog analytics(&report, id, nullptr);
    CConfigure config(486, 1033, 61);
    config.setQueryTargets({HostOf(SelfSigned()), "localhost:" + PortOf(SelfSigned()), &analytics});
    DuiLib::CMarkup markup;
    ASSERT_TRUE(markup.Load("<VerticalLayout><Label name=\"Download_url\" text=\"https://www.example.com/skin.exe\"/>"
                            "</VerticalLayout>"));
    DuiLib::CDialogBuilder builder;
    DuiLib::CPaintManagerUI skin;
    skin.AttachRoot(builder.Create(markup));

    LogCapture log;
    ConfigurationLoad::LoadAtInstallTime(config, 0, &skin);
    EXPECT_TRUE(log.contains(std::string(kRefused) + SelfSigned() + " (")) << log.dump();
    EXPECT_TRUE(log.contains(std::string(kRefused) + "https://localhost:" + PortOf(SelfSigned()) + " (")) << log.dump();
    EXPECT_TRUE(log.contains("(Synccom): 60,")) << log.dump();
    EXPECT_EQ(config.m_source, CConfigure::kSourceFile) << "the configuration comes from the skin";
    EXPECT_EQ(config.m_remotePaths, std::vector<std::wstring>{L"https://www.example.com/skin.exe"});
    EXPECT_EQ(config.m_replyText, nullptr);

    // The same query against the trusted listener gets the service's reply.
    CConfigure trusted(486, 1033, 61);
    trusted.setQueryTargets({HostOf(Trusted()), HostOf(Trusted()), &analytics});
    ConfigurationLoad::LoadAtInstallTime(trusted, 0, &skin);
    EXPECT_EQ(trusted.m_source, CConfigure::kSourceServer);
}

TEST(TlsPolicy, ACertificateForAnotherNameIsRefusedAndOnlyHttpIsSpoken) {
    struct Case {
        const char* host;  // the name asked for; the connection goes to the trusted listener
        CURLcode expected;
    } cases[] = {{"127.0.0.1", CURLE_OK}, {"localhost", CURLE_OK}, {"config.orbala.example", CURLE_PEER_FAILED_VERIFICATION}};
    const std::string port = PortOf(Trusted());
    for (const Case& c : cases) {
        CURL* curl = curl_easy_init();
        ASSERT_NE(curl, nullptr);
        std::string url = std::string("https://") + c.host + ":" + port + "/pages/x.html";
        curl_slist* connectTo = curl_slist_append(nullptr, (std::string(c.host) + ":" + port + ":127.0.0.1:" + port).c_str());
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo);
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
        ASSERT_EQ(TlsPolicy::Apply(curl), CURLE_OK);
        EXPECT_EQ(curl_easy_perform(curl), c.expected) << c.host;
        curl_easy_cleanup(curl);
        curl_slist_free_all(connectTo);
    }
    // Other protocols are not spoken, not even for an address from a configuration reply.
    CLibcurlTool tool(curl_easy_init());
    std::string body;
    EXPECT_EQ(tool.httpGet("file:///C:/windows/win.ini", body), CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_TRUE(body.empty());
}
