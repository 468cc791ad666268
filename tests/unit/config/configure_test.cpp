// The product configuration record: defaults, the skin-label loader in normal and fall-back
// mode, the remote-path rule, the log lines and the per-language links.
#include <gtest/gtest.h>

#include <easylogging++.h>

#include <vector>

#include "config/CConfigure.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIMarkup.h"
#include "base/TextCodec.h"
#include "deployment_values.h"
#include "support/test_support.h"

namespace {

// A paint manager whose controls come from the given layout text.
class Labels {
public:
    explicit Labels(const std::string& xml) {
        DuiLib::CMarkup markup;
        EXPECT_TRUE(markup.Load(xml));
        DuiLib::CDialogBuilder builder;
        pm.AttachRoot(builder.Create(markup));
    }
    DuiLib::CPaintManagerUI pm;
};

std::string Layout(const std::string& labels) {
    return "<VerticalLayout><VerticalLayout name=\"Product_config\">" + labels + "</VerticalLayout></VerticalLayout>";
}

std::string Label(const std::string& name, const std::string& text) {
    return "<Label name=\"" + name + "\" text=\"" + text + "\"/>";
}

}  // namespace

TEST(Configure, ConstructorDefaults) {
    CConfigure c(486, 1033, 61);
    EXPECT_EQ(c.m_loadState, 1);
    EXPECT_EQ(c.m_source, 0);
    EXPECT_EQ(c.m_downloaderId, 486);
    EXPECT_EQ(c.m_languageId, 1033);
    EXPECT_EQ(c.m_siteId, 61);
    EXPECT_EQ(c.m_installTimeout, 240);
    EXPECT_EQ(c.m_connectTimeout, 3);
    EXPECT_EQ(c.m_transferTimeout, 20);
    EXPECT_EQ(c.m_downloaderType, 3);
    EXPECT_EQ(c.m_fileSize, 0);
    EXPECT_TRUE(c.m_remotePaths.empty());
    EXPECT_EQ(c.m_replyText, nullptr);
    EXPECT_EQ(c.getLicenseUrl("en"), L"");
}

TEST(Configure, ShippedFileLoadsWithItsValues) {
    // The product configuration as setup.exe carries it, with the deployment's addresses.
    Labels labels(test_support::ReadFile(test_support::GeneratedPath("skin/configure/configure.xml")));
    CConfigure c(0, 0, 0);
    EXPECT_EQ(c.loadFromConfigureXml(&labels.pm, false), 1);
    EXPECT_EQ(c.m_loadState, 1) << "a normal load keeps the record unloaded";
    EXPECT_EQ(c.m_source, 0);
    EXPECT_EQ(c.m_downloaderId, 486);
    EXPECT_EQ(c.m_softwareId, 0);
    EXPECT_EQ(c.m_siteId, 61);
    EXPECT_EQ(c.m_languageId, 1033);
    EXPECT_EQ(c.m_softwareName, L"Orbala Lumeno");
    EXPECT_EQ(c.m_softwareVersion, L"1.0.0.0");
    EXPECT_EQ(c.m_installTimeout, 600);
    EXPECT_EQ(c.m_downloaderType, 1);
    EXPECT_EQ(c.m_fileSize, 0);
    EXPECT_EQ(c.m_downloadUrl, Deployment::DOWNLOAD_BASE_URL() + L"OrbalaLumeno_Setup.exe");
    EXPECT_EQ(c.m_extraDownloadUrl, c.m_downloadUrl);
    EXPECT_TRUE(c.m_remotePaths.empty()) << "only the fall-back load fills the remote paths";
}

TEST(Configure, InstallTimeoutOfZeroOrNothingBecomes242) {
    const std::pair<const char*, int> cases[] = {{"0", 242}, {"", 242}, {"abc", 242}, {"600", 600}, {"1", 1}};
    for (const auto& c : cases) {
        Labels labels(Layout(Label("InstallTimeout", c.first)));
        CConfigure record(0, 0, 0);
        record.loadFromConfigureXml(&labels.pm, false);
        EXPECT_EQ(record.m_installTimeout, c.second) << "InstallTimeout=" << c.first;
    }
    Labels missing(Layout(""));
    CConfigure record(0, 0, 0);
    record.loadFromConfigureXml(&missing.pm, false);
    EXPECT_EQ(record.m_installTimeout, 242);
}

TEST(Configure, LoadResetsEarlierValuesAndReadsLargeSizes) {
    Labels labels(Layout(Label("Filesize", "5368709120") + Label("Downloader_id", "486x") + Label("Md5", "ABC")));
    CConfigure c(1, 2, 3);
    c.m_softwareName = L"stale";
    c.m_remotePaths.push_back(L"https://stale.example/p.exe");
    c.m_sliceNum = 8;
    c.m_connectTimeout = 9;
    c.loadFromConfigureXml(&labels.pm, false);
    EXPECT_EQ(c.m_fileSize, 5368709120LL);
    EXPECT_EQ(c.m_downloaderId, 486);
    EXPECT_EQ(c.m_md5, L"ABC");
    EXPECT_EQ(c.m_softwareName, L"");
    EXPECT_TRUE(c.m_remotePaths.empty());
    EXPECT_EQ(c.m_sliceNum, 0);
    EXPECT_EQ(c.m_connectTimeout, 3);
}

TEST(Configure, FallbackKeepsContentDeliveryAddressesOutOfTheRemotePaths) {
    struct Case {
        const char* download;
        const char* extra;
        std::vector<std::wstring> expected;
    } cases[] = {
        {"https://cdn.a.com/p.exe", "https://www.b.com/p.exe", {L"https://www.b.com/p.exe"}},
        {"https://www.a.com/p.exe", "https://dl.b.com/p.exe", {L"https://www.a.com/p.exe"}},
        {"https://www.a.com/p.exe", "https://www.a.com/p.exe", {L"https://www.a.com/p.exe", L"https://www.a.com/p.exe"}},
        {"", "https://cdn.b.com/p.exe", {}},
        // Only a host that begins with the marker is a content-delivery host.
        {"https://mycdn.a.com/p.exe", "https://www.b.com/dl.p.exe", {L"https://mycdn.a.com/p.exe", L"https://www.b.com/dl.p.exe"}},
    };
    for (const Case& c : cases) {
        Labels labels(Layout(Label("Download_url", c.download) + Label("Extra_download_url", c.extra)));
        CConfigure record(0, 0, 0);
        record.m_remotePaths.push_back(L"https://earlier.example/p.exe");
        record.loadFromConfigureXml(&labels.pm, true);
        EXPECT_EQ(record.m_loadState, 2);
        EXPECT_EQ(record.m_source, 2);
        EXPECT_EQ(record.m_downloadUrl, TextCodec::Utf8ToWide(c.download)) << "the address itself is kept";
        EXPECT_EQ(record.m_remotePaths, c.expected) << c.download << " " << c.extra;
    }
}

TEST(Configure, LicenceLinksFallBackToTheDefaults) {
    {
        Labels labels(Layout(Label("NewLicenseFlag", "1") + Label("LicenseUrl", "https://l.example/") +
                             Label("PrivacyUrl", "https://p.example/")));
        CConfigure c(0, 0, 0);
        c.loadDefaultLinks(&labels.pm);
        EXPECT_EQ(c.getLicenseUrl("de"), L"https://l.example/");
        EXPECT_EQ(c.getPrivacyUrl("de"), L"https://p.example/");
        c.setLanguageLinks("de", L"https://p.example/de", L"");
        EXPECT_EQ(c.getPrivacyUrl("de"), L"https://p.example/de");
        EXPECT_EQ(c.getLicenseUrl("de"), L"https://l.example/") << "an empty entry URL falls back";
        c.setLanguageLinks("de", L"", L"https://l.example/de");
        EXPECT_EQ(c.getLicenseUrl("de"), L"https://l.example/de") << "a later entry replaces the earlier";
        EXPECT_EQ(c.getPrivacyUrl("de"), L"https://p.example/");
        EXPECT_EQ(c.getLicenseUrl("fr"), L"https://l.example/");
    }
    for (const char* flag : {"0", ""}) {
        Labels labels(Layout(Label("NewLicenseFlag", flag) + Label("LicenseUrl", "https://l.example/")));
        CConfigure c(0, 0, 0);
        c.loadDefaultLinks(&labels.pm);
        EXPECT_EQ(c.getLicenseUrl("de"), L"") << "NewLicenseFlag=" << flag;
    }
}

namespace {

// Runs `body` with the "default" logger writing bare messages into a file; returns the text.
template <typename Body>
std::string CaptureLog(Body body) {
    test_support::TempDir dir;
    std::wstring logPath = dir.File(L"print.log");
    el::Configurations conf;
    conf.setToDefault();
    conf.set(el::Level::Info, el::ConfigurationType::Format, "%msg");
    conf.set(el::Level::Info, el::ConfigurationType::ToStandardOutput, "false");
    conf.set(el::Level::Info, el::ConfigurationType::ToFile, "true");
    conf.set(el::Level::Info, el::ConfigurationType::Filename, TextCodec::WideToAnsi(logPath));
    el::Loggers::reconfigureLogger("default", conf);
    body();
    el::Loggers::getLogger("default")->flush();
    el::Configurations quiet;
    quiet.setToDefault();
    quiet.set(el::Level::Global, el::ConfigurationType::ToFile, "false");
    el::Loggers::reconfigureLogger("default", quiet);  // releases the file
    std::string text;
    for (char ch : test_support::ReadFile(logPath)) if (ch != '\r') text.push_back(ch);
    return text;
}

}  // namespace

TEST(Configure, PrintContentWritesTheRecordInOrder) {
    CConfigure c(486, 1033, 61);
    c.m_source = 2;
    c.m_fileSize = 5368709120LL;
    c.m_softwareName = L"Orbala Lumeno";
    c.m_downloadUrl = L"https://www.a.com/p.exe";
    c.m_sliceNum = 4;
    c.m_connectTimeout = 5;
    c.m_transferTimeout = 30;
    const char* expected =
        " Configure Load From File! \n [File ContentLength]: 5368709120\n [Downloader Id]: 486\n [SoftWare Id]: 0\n"
        " [Site Id]: 61\n [Language Id]: 1033\n [Software Name]: Orbala Lumeno\n [Software Version]: \n"
        " [Remote Path]: https://www.a.com/p.exe\n [MD5 String]: \n [Process Name]: \n [Install Url]: \n"
        " [Banner Url]: \n [Licensefile Url]: \n [Extra Download Url]: \n [Cnet Download Url]: \n"
        " [MD5 Extra String]: \n [Downloader config]: 0\n [Slice num]: 4\n [Slice size]: 0\n"
        " [Additional Time]: 0\n [Allow Back Running]: 0\n [TimeoutCfg]: 5, 30\n";
    EXPECT_EQ(CaptureLog([&c] { EXPECT_EQ(c.printContent(), 1); }), expected);
}

TEST(Configure, PrintContentNamesTheSource) {
    const std::pair<int, const char*> cases[] = {
        {1, " Configure Load From XML! \n"}, {0, " Configure Load From Nothing! \n"}, {7, " Configure Load From Nothing! \n"}};
    for (const auto& c : cases) {
        CConfigure record(0, 0, 0);
        record.m_source = c.first;
        std::string text = CaptureLog([&record] { record.printContent(); });
        EXPECT_EQ(text.substr(0, text.find('\n') + 1), c.second) << "source " << c.first;
    }
}
