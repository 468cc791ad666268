// The data service's requests against the local services: the signed URLs the service accepts,
// the parsing of its replies, the banner pictures stored in the work folder (two ways to fetch
// each) and the per-language links stored in the configuration record.
#include <gtest/gtest.h>

#include <windows.h>
#include <urlmon.h>

#include <string>
#include <vector>

#include "analytics/CSingleUserLog.h"
#include "base/TextCodec.h"
#include "config/CConfigure.h"
#include "config/DataService.h"
#include "deployment_values.h"
#include "platform/FuntionImpl.h"
#include "support/analytics_identity.h"
#include "support/local_services.h"
#include "support/log_capture.h"
#include "support/recording_report.h"
#include "support/test_support.h"

namespace {

std::string HostOf(const std::string& base) { return base.substr(base.find("//") + 2); }

// Fetches a URL with libcurl directly (the test does not test the program's transfer code with
// itself) and returns the signature check the service recorded for it.
std::string SignatureCheckOf(const std::string& url, long* status = nullptr) {
    LocalServices::Reset();
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
    long code = 0;
    if (curl_easy_perform(h) == CURLE_OK) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(h);
    if (status) *status = code;
    auto requests = LocalServices::Requests("/api/v1/");
    return requests.size() == 1 ? requests[0]["checks"]["signature"].asString() : "no request";
}

class DataServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        FuntionImpl::SetDataServiceHost(HostOf(LocalServices::BaseUrl(true)));
        log_.reset(new CSingleUserLog(&report_, TestIdentity(), nullptr));
        log_->InitReport(486, 61, "1.0.0.0", "Orbala Lumeno", "http://127.0.0.1/d.exe", false, 3086);
    }
    void TearDown() override { FuntionImpl::SetDataServiceHost(""); }

    // Report calls whose text holds every one of the parts.
    int CountCalls(const std::vector<std::string>& parts) {
        int n = 0;
        for (const auto& call : report_.Calls()) {
            bool all = true;
            for (const auto& p : parts) all = all && call.text.find(p) != std::string::npos;
            n += all;
        }
        return n;
    }
    DataService::BannerJob Job() {
        DataService::BannerJob job;
        job.parentPid = 3086;
        job.language = English;
        job.workFolder = dir_.path();
        job.analytics = log_.get();
        return job;
    }

    test_support::TempDir dir_;
    RecordingReport report_;
    std::unique_ptr<CSingleUserLog> log_;
};

TEST(DataServiceUrl, Md5OfKnownTexts) {
    // RFC 1321's test suite.
    EXPECT_EQ(FuntionImpl::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(FuntionImpl::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(FuntionImpl::Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(DataServiceUrl, QueryMembersInOrder) {
    const std::string banner = FuntionImpl::BuildBannerPicUrl("h:1", "zh-cn", -7, 1700000000123LL, "salt");
    const std::string prefix = "https://h:1/api/v1/banners?lang_code=zh-cn&parent_pid=-7&timestamp=1700000000123&type=1&verify=";
    ASSERT_EQ(banner.substr(0, prefix.size()), prefix);
    EXPECT_EQ(banner.substr(prefix.size()),
              FuntionImpl::Md5Hex("lang_code=zh-cn&parent_pid=-7&timestamp=1700000000123&type=1salt"));
    const std::string links = FuntionImpl::BuildPrivacyUrl("h:1", 0, 5, "salt");
    EXPECT_EQ(links, "https://h:1/api/v1/user_privacy_info?parent_pid=0&timestamp=5&verify=" +
                         FuntionImpl::Md5Hex("parent_pid=0&timestamp=5salt"));
}

TEST_F(DataServiceTest, ServiceAcceptsTheSignaturesAndRefusesAnotherSalt) {
    const std::string host = HostOf(LocalServices::BaseUrl(true));
    long status = 0;
    EXPECT_EQ(SignatureCheckOf(FuntionImpl::GetBannerPicUrl(3086, Japanese), &status), "ok");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(SignatureCheckOf(FuntionImpl::GetPrivacyUrl(3086), &status), "ok");
    EXPECT_EQ(status, 200);
    const std::string salt = TextCodec::WideToUtf8(Deployment::DATA_SERVICE_SALT());
    EXPECT_EQ(SignatureCheckOf(FuntionImpl::BuildBannerPicUrl(host, "en", 1, 1, salt + "x"), &status), "mismatch");
    EXPECT_EQ(status, 403);
    EXPECT_EQ(SignatureCheckOf(FuntionImpl::BuildPrivacyUrl(host, 1, 1, "other-salt-16chr")), "mismatch");
    // The URL carries the language's service code and the time of the request.
    const std::string url = FuntionImpl::GetBannerPicUrl(3086, Chinese);
    EXPECT_NE(url.find("lang_code=zh-cn&parent_pid=3086&timestamp="), std::string::npos) << url;
    const long long stamp = std::stoll(url.substr(url.find("timestamp=") + 10));
    EXPECT_LE(std::llabs(stamp - static_cast<long long>(time(nullptr))), 5);
}

TEST(DataServiceReply, Banners) {
    struct Case {
        const char* text;
        bool parsed, counts;
        size_t count;
    } cases[] = {
        {R"([{"banner_url":"u1","jump_url":"j","prompt":"p","sort":2},{"banner_url":"u2","sort":1}])", true, true, 2},
        {"[]", true, true, 0},
        {R"({"code":500,"msg":"busy"})", true, false, 0},
        {R"({"code":"200"})", true, false, 0},
        {R"({"code":200,"data":[]})", true, true, 0},
        // Any "code" in quotes asks for the member, which an array does not have.
        {R"([{"banner_url":"u","sort":1,"note":"code"}])", true, false, 0},
        {R"([{"banner_url":"u","sort":1,"lang_code":"en"}])", true, true, 1},
        {R"([{"banner_url":"u","sort":1,"x":{"code":200}}])", true, false, 0},
        {"not json", false, false, 0},
        {R"([1,"two",{"sort":"3"}])", true, true, 3},
    };
    for (const Case& c : cases) {
        std::vector<DataService::BannerEntry> banners;
        DataService::ParseResult r = DataService::ParseBannerReply(c.text, banners);
        EXPECT_EQ(r.parsed, c.parsed) << c.text;
        EXPECT_EQ(r.counts, c.counts) << c.text;
        EXPECT_EQ(banners.size(), c.count) << c.text;
        if (!c.parsed) {
            EXPECT_GT(r.errorCount, 0);
        }
    }
    std::vector<DataService::BannerEntry> banners;
    DataService::ParseBannerReply(R"([{"banner_url":"u1","jump_url":"j","prompt":"p","sort":2},{"sort":"3"}])", banners);
    ASSERT_EQ(banners.size(), 2u);
    EXPECT_EQ(banners[0].bannerUrl, "u1");
    EXPECT_EQ(banners[0].jumpUrl, "j");
    EXPECT_EQ(banners[0].prompt, "p");
    EXPECT_EQ(banners[0].sort, 2);
    // Missing or mistyped members read as empty and 0.
    EXPECT_EQ(banners[1].bannerUrl, "");
    EXPECT_EQ(banners[1].sort, 0);
}

TEST(DataServiceReply, Links) {
    std::vector<DataService::LinkEntry> links;
    DataService::ParseResult r = DataService::ParseLinksReply(
        R"([{"lang_code":"en","urls":[{"field":"p","url":"P"},{"field":"tc","url":"T"},{"field":"x","url":"X"}]},
            {"lang_code":"ja","urls":[{"field":"p","url":""}]},
            {"lang_code":"de","urls":[{"field":"tc","url":""}]},
            {"lang_code":"fr"}])",
        links);
    ASSERT_TRUE(r.counts);
    ASSERT_EQ(links.size(), 4u);
    EXPECT_EQ(links[0].privacyUrl, L"P");
    EXPECT_EQ(links[0].licenseUrl, L"T");
    EXPECT_FALSE(links[0].privacyMissing || links[0].licenseMissing);
    EXPECT_TRUE(links[1].privacyMissing);
    EXPECT_FALSE(links[1].licenseMissing);
    EXPECT_TRUE(links[2].licenseMissing);
    EXPECT_EQ(links[3].langCode, "fr");
    EXPECT_TRUE(links[3].privacyUrl.empty() && links[3].licenseUrl.empty());
    EXPECT_FALSE(DataService::ParseLinksReply(R"({"code":500})", links).counts);
    EXPECT_TRUE(links.empty());
}

TEST(DataServiceReply, BannerFileAndTimeBucket) {
    struct FileCase {
        int sort;
        const char* url;
        const wchar_t* file;
    } files[] = {
        {2, "http://h/b/x.png", L"W\\2.png"},
        {1, "http://h/b/x.jpeg?v=3", L"W\\1.jpeg"},
        {3, "http://h/b.d/x", L"W\\3.d"},
        {4, "http://h/x.png/..\\..\\evil.exe", L"W\\4.exe"},
        {5, "http://h/x./../../evil", L"W\\5"},
        {6, "nodot", L"W\\6"},
    };
    for (const auto& f : files) EXPECT_EQ(DataService::BannerFilePath(L"W", f.sort, f.url), f.file) << f.url;
    struct BucketCase {
        unsigned ms;
        const char* bucket;
    } buckets[] = {{0, "[0~3]s"}, {2999, "[0~3]s"}, {3000, "[3~6]s"}, {8999, "[6~9]s"}, {31000, "[30~33]s"}};
    for (const auto& b : buckets) EXPECT_EQ(DataService::TimeBucket(b.ms), b.bucket) << b.ms;
}

TEST_F(DataServiceTest, EveryBannerStored) {
    LogCapture log;
    DataService::BannerMap banners;
    ASSERT_TRUE(DataService::FetchBanners(Job(), banners));
    ASSERT_EQ(banners.size(), 5u);
    int expectedSort = 1;
    for (const auto& entry : banners) {
        EXPECT_EQ(entry.first, expectedSort);
        EXPECT_EQ(entry.second.localFile, dir_.File(std::to_wstring(expectedSort) + L".png"));
        EXPECT_TRUE(DataService::IsLoadableImage(entry.second.localFile));
        EXPECT_EQ(entry.second.prompt, L"Orbala Lumeno " + std::to_wstring(expectedSort));
        ++expectedSort;
    }
    EXPECT_TRUE(log.contains(" Get Banner success"));
    EXPECT_TRUE(log.contains(" Get Cbs Ban 5 Success 1"));
    EXPECT_EQ(CountCalls({"ObtainCarouselMapTime", "[0~3]s"}), 1);
    EXPECT_EQ(CountCalls({"DownloadCarouselImagesTime"}), 5);
    auto requests = LocalServices::Requests("/api/v1/banners");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["checks"]["signature"].asString(), "ok");
}

long FailFirstWayForSecond(const std::wstring& url, const std::wstring& file) {
    if (url.find(L"/banners/2.png") != std::wstring::npos) return E_FAIL;
    return static_cast<long>(URLDownloadToFileW(nullptr, url.c_str(), file.c_str(), 0, nullptr));
}

TEST_F(DataServiceTest, SecondWayStoresWhatTheFirstCouldNot) {
    LogCapture log;
    DataService::BannerJob job = Job();
    job.firstWay = &FailFirstWayForSecond;
    DataService::BannerMap banners;
    ASSERT_TRUE(DataService::FetchBanners(job, banners));
    EXPECT_EQ(banners.size(), 5u);
    EXPECT_TRUE(log.contains(" Get Cbs Ban 1 Fail 1"));
    EXPECT_TRUE(log.contains(" Get Cbs Ban 2 Success 2"));
    EXPECT_TRUE(DataService::IsLoadableImage(dir_.File(L"2.png")));
}

int LinesStartingWith(const LogCapture& log, const std::string& start) {
    int n = 0;
    for (const auto& l : log.lines()) n += l.rfind(start, 0) == 0;
    return n;
}

std::vector<std::wstring> g_firstWayUrls;
long RecordingFirstWay(const std::wstring& url, const std::wstring&) {
    g_firstWayUrls.push_back(url);
    return E_FAIL;
}

TEST_F(DataServiceTest, PicturesOnlyFromAddressesTheBuildAllows) {
    // The pictures are decoded in the elevated process: a file, a share or another scheme is never
    // fetched, by either way.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/api/v1/banners","body":[
        {"banner_url":"file:///C:/windows/win.ini","sort":1},
        {"banner_url":"\\\\127.0.0.1\\share\\2.png","sort":2},
        {"banner_url":"ftp://127.0.0.1/3.png","sort":3},
        {"banner_url":"C:\\Users\\Public\\4.png","sort":4}]})"));
    g_firstWayUrls.clear();
    DataService::BannerJob job = Job();
    job.firstWay = &RecordingFirstWay;
    DataService::BannerMap banners;
    {
        LogCapture log;
        EXPECT_FALSE(DataService::FetchBanners(job, banners));
        EXPECT_EQ(LinesStartingWith(log, " Get Cbs Ban refused: "), 4) << log.dump();
        EXPECT_TRUE(log.contains(" Get Cbs Ban refused: file:///C:/windows/win.ini")) << log.dump();
    }
    EXPECT_TRUE(banners.empty());
    EXPECT_TRUE(g_firstWayUrls.empty());
    EXPECT_TRUE(test_support::FilesIn(dir_.path()).empty());

    // As a release judges them: the services' own list names http: pictures, none is fetched;
    // the same pictures over https: are fetched (the first way, through the TLS policy).
    ASSERT_TRUE(LocalServices::Reset());
    job = Job();
    job.httpsOnly = true;
    {
        LogCapture log;
        EXPECT_FALSE(DataService::FetchBanners(job, banners));
        EXPECT_EQ(LinesStartingWith(log, " Get Cbs Ban refused: http://"), 5) << log.dump();
    }
    EXPECT_TRUE(banners.empty());
    EXPECT_TRUE(LocalServices::Requests("/banners/").empty());
    const std::string https = LocalServices::BaseUrl(true);
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/api/v1/banners","body":[{"banner_url":")" + https +
                                        R"(/banners/1.png","sort":1}]})"));
    LogCapture log;
    EXPECT_TRUE(DataService::FetchBanners(job, banners)) << log.dump();
    EXPECT_TRUE(log.contains(" Get Cbs Ban 1 Success 1")) << log.dump();
    EXPECT_TRUE(DataService::IsLoadableImage(dir_.File(L"1.png")));
}

TEST_F(DataServiceTest, PictureThatIsNoImageIsDeletedAndNothingIsReady) {
    // Banner 3 answers with text every time: both ways fetch it, neither may keep it.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/banners/3.png","body":"<html>gone</html>","content_type":"text/html"})"));
    LogCapture log;
    DataService::BannerMap banners;
    EXPECT_FALSE(DataService::FetchBanners(Job(), banners));
    EXPECT_EQ(banners.size(), 4u);
    EXPECT_EQ(banners.count(3), 0u);
    EXPECT_EQ(GetFileAttributesW(dir_.File(L"3.png").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(log.contains(" Get Banner success"));
    int gets = 0;
    for (const auto& r : LocalServices::Requests("/banners/3.png")) gets += r["method"].asString() == "GET";
    EXPECT_EQ(gets, 6);  // 3 attempts, two ways each
}

TEST_F(DataServiceTest, RepliesThatDoNotCount) {
    struct Case {
        const char* body;
        const char* log;
    } cases[] = {
        {R"({"code":500,"msg":"busy"})", " Get Cbs Ban fail: "},
        {"[]", " Get Cbs Ban2: 1, 0"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(LocalServices::Reset());
        ASSERT_TRUE(LocalServices::AddFault(std::string(R"({"path":"/api/v1/banners","body":)") + c.body + "}"));
        LogCapture log;
        DataService::BannerMap banners;
        EXPECT_FALSE(DataService::FetchBanners(Job(), banners)) << c.body;
        EXPECT_TRUE(banners.empty());
        EXPECT_TRUE(log.contains(c.log)) << c.body;
        EXPECT_TRUE(LocalServices::Requests("/banners/").empty());
    }
}

TEST_F(DataServiceTest, FetchRetriesThreeTimes) {
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/api/v1/banners","times":2,"status":503,"body":""})"));
    LogCapture log;
    DataService::BannerMap banners;
    EXPECT_TRUE(DataService::FetchBanners(Job(), banners));
    EXPECT_EQ(LocalServices::Requests("/api/v1/banners").size(), 3u);
    EXPECT_TRUE(log.contains(" Get Cbs Ban1: 3, 0, "));
}

TEST_F(DataServiceTest, LinksStoredPerLanguage) {
    CConfigure configure(486, 0, 61);
    DataService::FetchPrivacyLinks(3086, configure, log_.get());
    const std::string http = LocalServices::BaseUrl(false);
    EXPECT_EQ(TextCodec::WideToUtf8(configure.getPrivacyUrl("ja")), http + "/pages/privacy-ja.html");
    EXPECT_EQ(TextCodec::WideToUtf8(configure.getLicenseUrl("zh-cn")), http + "/pages/terms-zh-cn.html");
    EXPECT_EQ(CountCalls({"ObtainProtocolTime"}), 1);
    EXPECT_EQ(CountCalls({"DL004"}), 0);
    EXPECT_EQ(CountCalls({"DL005"}), 0);
}

TEST_F(DataServiceTest, EmptyAddressesRaiseFlowErrorsOnce) {
    ASSERT_TRUE(LocalServices::AddFault(
        R"({"path":"/api/v1/user_privacy_info","body":[
            {"lang_code":"en","urls":[{"field":"p","url":""},{"field":"tc","url":"T"}]},
            {"lang_code":"ja","urls":[{"field":"p","url":""},{"field":"tc","url":""}]},
            {"lang_code":"de","urls":[{"field":"tc","url":""}]}]})"));
    CConfigure configure(486, 0, 61);
    DataService::FetchPrivacyLinks(3086, configure, log_.get());
    EXPECT_EQ(configure.getLicenseUrl("en"), L"T");
    // What raising one code once sends, on a report object of its own.
    RecordingReport once;
    {
        CSingleUserLog reference(&once, TestIdentity(), nullptr);
        reference.InitReport(486, 61, "1.0.0.0", "Orbala Lumeno", "http://127.0.0.1/d.exe", false, 3086);
        reference.AddUserLogEvent("Other", "FlowError", "DL004", false);
        reference.AddUserLog_funnelExPair("ErrorReporting", "Error", "MainErrorType", "DL004", false, false);
    }
    int expected = 0;
    for (const auto& call : once.Calls()) expected += call.text.find("DL004") != std::string::npos;
    ASSERT_GT(expected, 0);
    EXPECT_EQ(CountCalls({"DL004"}), expected);
    EXPECT_EQ(CountCalls({"DL005"}), expected);
    EXPECT_GT(CountCalls({"FlowError", "DL005"}), 0);
    EXPECT_GT(CountCalls({"MainErrorType", "DL004"}), 0);
}

}  // namespace
