#include "config/CConfigure.h"

#include <winsock2.h>  // before windows.h, for the transfer layer's curl.h
#include <windows.h>

#include <easylogging++.h>
#include <tinyxml2.h>

#include <cstdio>
#include <cstring>

#include "net/CLibcurlTool.h"
#include "analytics/CSingleUserLog.h"
#include "download/DownloadAddress.h"
#include "base/DownloadSettings.h"
#include "DuiLib/Core/UIManager.h"
#include "platform/FuntionImpl.h"
#include "base/TextCodec.h"
#include "base/LocalSwitches.h"
#include "base/PlainName.h"
#include "deployment_values.h"

CConfigure::CConfigure(int32_t downloaderId, int32_t languageId, int32_t siteId)
    : m_downloaderId(downloaderId), m_siteId(siteId), m_languageId(languageId) {}

CConfigure::~CConfigure() { delete[] m_replyText; }

bool CConfigure::IsRemotePathCandidate(const std::wstring& url) { return !url.empty() && !IsCdnUrl(url); }

bool CConfigure::addRemotePath(const std::wstring& url) {
    if (!IsRemotePathCandidate(url)) return false;
    m_remotePaths.push_back(url);
    return true;
}

int CConfigure::loadFromConfigureXml(const DuiLib::CPaintManagerUI* pm, bool fallback) {
    std::lock_guard<std::mutex> lock(m_loadLock);
    m_loadState = kNotLoaded;
    m_source = kSourceNothing;
    m_fileSize = 0;
    m_softwareId = 0;
    m_softwareName.clear();
    m_softwareVersion.clear();
    m_downloadUrl.clear();
    m_md5.clear();
    m_processName.clear();
    m_installUrl.clear();
    m_bannerUrl.clear();
    m_licenseFileUrl.clear();
    m_remotePaths.clear();

    // A missing label reads as an empty text (0 for numbers); the shipped file carries them all.
    auto text = [pm](const wchar_t* key) { return pm ? pm->GetControlText(key) : std::wstring(); };
    auto number = [&text](const wchar_t* key) { return FuntionImpl::ParseLeadingInt(text(key)); };

    m_downloaderId = number(L"Downloader_id");
    m_softwareId = number(L"Software_id");
    m_siteId = number(L"Site_id");
    m_languageId = number(L"Language_id");
    m_softwareName = text(L"Software_name");
    m_softwareVersion = text(L"Software_version");
    m_processName = text(L"Process_name");
    m_installUrl = text(L"Install_url");
    m_downloadUrl = text(L"Download_url");
    m_extraDownloadUrl = text(L"Extra_download_url");
    m_bannerUrl = text(L"Banner_url");
    m_licenseFileUrl = text(L"Licensefile_url");
    m_md5 = text(L"Md5");
    m_fileSize = FuntionImpl::ParseLeadingInt64(text(L"Filesize"));
    m_md5Extra = text(L"Md5_extra");
    m_installTimeout = number(L"InstallTimeout");
    if (m_installTimeout == 0) m_installTimeout = 242;
    m_cnetDownloadUrl = text(L"Cnet_download_url");

    m_downloaderType = 1;
    m_downloaderConfig = 0;
    m_sliceNum = 0;
    m_sliceSize = 0;
    m_additionalTime = 0;
    m_backRunning = 0;
    m_connectTimeout = 3;
    m_transferTimeout = 20;

    if (fallback) {
        m_loadState = kLoaded;
        m_source = kSourceFile;
        addRemotePath(m_downloadUrl);
        addRemotePath(m_extraDownloadUrl);
    }
    return 1;
}

void CConfigure::loadDefaultLinks(const DuiLib::CPaintManagerUI* pm) {
    bool newLicense = pm && pm->GetControlText(L"NewLicenseFlag") == L"1";
    std::lock_guard<std::mutex> lock(m_linksLock);
    m_defaultLicenseUrl = newLicense ? pm->GetControlText(L"LicenseUrl") : std::wstring();
    m_defaultPrivacyUrl = newLicense ? pm->GetControlText(L"PrivacyUrl") : std::wstring();
}

int CConfigure::printContent() const {
    using TextCodec::WideToUtf8;
    if (m_source == kSourceFile)
        LOG(INFO) << " Configure Load From File! ";
    else if (m_source == kSourceServer)
        LOG(INFO) << " Configure Load From XML! ";
    else
        LOG(INFO) << " Configure Load From Nothing! ";
    LOG(INFO) << " [File ContentLength]: " << m_fileSize;
    LOG(INFO) << " [Downloader Id]: " << m_downloaderId;
    LOG(INFO) << " [SoftWare Id]: " << m_softwareId;
    LOG(INFO) << " [Site Id]: " << m_siteId;
    LOG(INFO) << " [Language Id]: " << m_languageId;
    LOG(INFO) << " [Software Name]: " << WideToUtf8(m_softwareName);
    LOG(INFO) << " [Software Version]: " << WideToUtf8(m_softwareVersion);
    LOG(INFO) << " [Remote Path]: " << WideToUtf8(m_downloadUrl);
    LOG(INFO) << " [MD5 String]: " << WideToUtf8(m_md5);
    LOG(INFO) << " [Process Name]: " << WideToUtf8(m_processName);
    LOG(INFO) << " [Install Url]: " << WideToUtf8(m_installUrl);
    LOG(INFO) << " [Banner Url]: " << WideToUtf8(m_bannerUrl);
    LOG(INFO) << " [Licensefile Url]: " << WideToUtf8(m_licenseFileUrl);
    LOG(INFO) << " [Extra Download Url]: " << WideToUtf8(m_extraDownloadUrl);
    LOG(INFO) << " [Cnet Download Url]: " << WideToUtf8(m_cnetDownloadUrl);
    LOG(INFO) << " [MD5 Extra String]: " << WideToUtf8(m_md5Extra);
    LOG(INFO) << " [Downloader config]: " << m_downloaderConfig;
    LOG(INFO) << " [Slice num]: " << m_sliceNum;
    LOG(INFO) << " [Slice size]: " << m_sliceSize;
    LOG(INFO) << " [Additional Time]: " << m_additionalTime;
    LOG(INFO) << " [Allow Back Running]: " << m_backRunning;
    LOG(INFO) << " [TimeoutCfg]: " << m_connectTimeout << ", " << m_transferTimeout;
    return 1;
}

void CConfigure::setLanguageLinks(const std::string& languageCode, const std::wstring& privacyUrl,
                                  const std::wstring& licenseUrl) {
    std::lock_guard<std::mutex> lock(m_linksLock);
    m_languageLinks[languageCode] = std::make_pair(privacyUrl, licenseUrl);
}

std::wstring CConfigure::getLicenseUrl(const std::string& languageCode) {
    std::lock_guard<std::mutex> lock(m_linksLock);
    auto it = m_languageLinks.find(languageCode);
    if (it != m_languageLinks.end() && !it->second.second.empty()) return it->second.second;
    return m_defaultLicenseUrl;
}

std::wstring CConfigure::getPrivacyUrl(const std::string& languageCode) {
    std::lock_guard<std::mutex> lock(m_linksLock);
    auto it = m_languageLinks.find(languageCode);
    if (it != m_languageLinks.end() && !it->second.first.empty()) return it->second.first;
    return m_defaultPrivacyUrl;
}

// ---- The configuration query ---------------------------------------------------------------

std::string CConfigure::getQueryUrl() const {
    std::lock_guard<std::mutex> lock(m_loadLock);
    return m_queryUrl;
}

int32_t CConfigure::loadState() {
    std::lock_guard<std::mutex> lock(m_loadLock);
    return m_loadState;
}

std::wstring CConfigure::softwareVersion() {
    std::lock_guard<std::mutex> lock(m_loadLock);
    return m_softwareVersion;
}

std::string CConfigure::queryHost(bool alternate) const {
    if (alternate) {
        return m_targets.alternateHost.empty() ? TextCodec::WideToUtf8(Deployment::CONFIG_HOST_ALTERNATE())
                                               : m_targets.alternateHost;
    }
    return m_targets.primaryHost.empty() ? TextCodec::WideToUtf8(Deployment::CONFIG_HOST_PRIMARY())
                                         : m_targets.primaryHost;
}

CSingleUserLog* CConfigure::queryAnalytics() const {
    return m_targets.analytics ? m_targets.analytics : CSingleUserLog::GetInstance();
}

std::string CConfigure::BuildQueryUrl(const std::string& host, bool testEnv, int32_t languageId, int32_t downloaderId,
                                      int32_t siteId, float osVersionNumber) {
    // Windows before 10 gets the package built for it; an unnamed version counts as 0.
    const char* packageType = osVersionNumber < 10.0f ? "&package_type=5" : "";
    const char* format = testEnv ? "http://%s/queryDownloaderV2?LanguageId=%d&SoftWareID=%d&SiteID=%d%s"
                                 : "https://%s/queryDownloaderV2?LanguageId=%d&SoftWareID=%d&SiteID=%d%s";
    char url[512];
    int n = snprintf(url, sizeof(url), format, host.c_str(), languageId, downloaderId, siteId, packageType);
    // A cut URL would ask another question than the one meant: refuse it instead.
    if (n < 0 || size_t(n) >= sizeof(url)) return std::string();
    return std::string(url, size_t(n));
}

std::string CConfigure::ExtractDownloaderElement(const std::string& body) {
    static const char kOpen[] = "<Downloader>";
    static const char kClose[] = "</Downloader>";
    const size_t begin = body.find(kOpen);
    if (begin == std::string::npos) return std::string();
    const size_t end = body.find(kClose, begin + strlen(kOpen));
    if (end == std::string::npos) return std::string();
    return body.substr(begin, end + strlen(kClose) - begin);
}

int CConfigure::getDownloadInfoXml(bool sync, bool alternate) {
    int32_t languageId = 0, downloaderId = 0, siteId = 0;
    {
        std::lock_guard<std::mutex> lock(m_loadLock);
        if (m_replyText && m_replyText[0]) return 0;
        languageId = m_languageId;
        downloaderId = m_downloaderId;
        siteId = m_siteId;
    }
    const DWORD start = GetTickCount();
    float osVersion = 0;
    const std::string osName = FuntionImpl::GetOSVersionName(osVersion);

    const bool testEnv = FuntionImpl::IsTestEnv();
    // Test mode always asks the primary host; over plain HTTP only in a test build: in a release a
    // "qv_downloader.cfg" beside the setup must not strip the reply's protection.
    const std::string host = queryHost(alternate && !testEnv);
    const bool plainHttp = testEnv && LocalSwitches::ThisBuild().plainHttpConfigurationQuery;
    const std::string url = BuildQueryUrl(host, plainHttp, languageId, downloaderId, siteId, osVersion);
    {
        std::lock_guard<std::mutex> lock(m_loadLock);
        m_queryUrl = url;
    }

    std::string body;
    CURLcode code = CURLE_URL_MALFORMAT;
    {
        CLibcurlTool tool(curl_easy_init());
        if (!url.empty()) code = tool.httpGet(url, body);

        CSingleUserLog* log = queryAnalytics();
        if (code == CURLE_COULDNT_RESOLVE_HOST) log->AddUserLogEvent("Other", "FlowError", "DL003", false);
        if (code == CURLE_OPERATION_TIMEDOUT) log->AddUserLogEvent("Other", "FlowError", "DL002", false);

        LOG(INFO) << " GetCbsInfo New interface V2(" << (sync ? "Sync" : "Async")
                  << (testEnv ? "test" : alternate ? "cn" : "com") << "): " << int(code) << ", " << body.size() << ", "
                  << osName << ", " << osVersion;
        const DWORD seconds = (GetTickCount() - start) / 1000;
        log->AddUserLogEvent("Other", sync ? "SyncGetCbsTime" : "AsyncGetCbsTime", std::to_string(seconds), false);
    }  // the transfer handle is released here

    const std::string element = ExtractDownloaderElement(body);
    if (element.empty()) return 0;
    {
        // The early thread and the install worker may both get here with a reply: the first
        // one stored counts for the whole run, the later one is dropped.
        std::lock_guard<std::mutex> lock(m_loadLock);
        if (m_replyText && m_replyText[0]) return 0;
        delete[] m_replyText;
        m_replyText = new char[element.size() + 1];
        memcpy(m_replyText, element.c_str(), element.size() + 1);
    }
    queryAnalytics()->AddUserLog_funnelEx("Download", "Get download configuration",
                                     {{"Configuration URL", queryHost(alternate)},
                                      {"Download configurationType", "Success"}},
                                     false, false);
    return 1;
}

bool CConfigure::ParseTimeoutCfg(const std::string& text, int32_t& first, int32_t& second) {
    const size_t comma = text.find(',');
    if (text.size() <= 2 || comma == std::string::npos || comma == 0) return false;
    int a = 0, b = 0;
    if (sscanf(text.c_str(), "%d%*[^0-9]%d", &a, &b) != 2) return false;
    first = a;
    second = b;
    return true;
}

int CConfigure::readDownloadInfoFromXml() {
    std::lock_guard<std::mutex> lock(m_loadLock);
    return parseReplyLocked();
}

int CConfigure::readDownloadInfoFromXmlUnless(const std::atomic<bool>& stop) {
    std::lock_guard<std::mutex> lock(m_loadLock);
    if (stop.load()) return -1;
    return parseReplyLocked();
}

namespace {

// The element's text as UTF-16; an empty element gives an empty text. The reply is an XML
// document, so its text is UTF-8 whatever the system's code page.
std::wstring ElementText(const tinyxml2::XMLElement* e) {
    const char* text = e->GetText();
    return text ? TextCodec::Utf8ToWide(text) : std::wstring();
}

std::wstring WithoutLineBreaks(std::wstring text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L'\r' && c != L'\n') out.push_back(c);
    return out;
}

// The reply's values that become file names (the package, the installer's log, the product's
// program), registry key names (the uninstall and request-counter keys) or part of the installer's
// command line. Each must be a plain name; the program's name and the product's name are required.
struct NameField {
    const char* element;
    bool required;
};
const NameField kNameFields[] = {{"Software_name", true}, {"Software_version", false}, {"Process_name", true}};

// The text of a name element as the parse stores it.
std::wstring NameValue(const tinyxml2::XMLElement* e) {
    std::wstring text = ElementText(e);
    return strcmp(e->Name(), "Process_name") == 0 ? WithoutLineBreaks(text) : text;
}

// Checks every name element of the reply before anything is stored; logs the first that breaks
// the rule. A reply with one is no usable reply: the record is left as it was.
bool NamesArePlain(const tinyxml2::XMLElement* root) {
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        for (const NameField& field : kNameFields) {
            if (strcmp(e->Name(), field.element) != 0) continue;
            if (const char* problem = PlainName::Problem(NameValue(e), field.required)) {
                LOG(INFO) << " GetCbsInfo reply refused: " << field.element << " is no plain name (" << problem << ")";
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int CConfigure::parseReplyLocked() {
    tinyxml2::XMLDocument doc;
    if (!m_replyText || !m_replyText[0] || doc.Parse(m_replyText) != tinyxml2::XML_SUCCESS) {
        m_loadState = kNotLoaded;
        return 0;
    }
    const tinyxml2::XMLElement* root = doc.FirstChildElement();
    if (!root || !NamesArePlain(root)) {
        m_loadState = kNotLoaded;
        return 0;
    }
    DownloadSettings& settings = GetDownloadSettings();
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string name = e->Name();
        // Integers: a text that is not a number leaves the value as it was.
        auto readInt = [e](int32_t& field) {
            int value = 0;
            if (e->QueryIntText(&value) == tinyxml2::XML_SUCCESS) field = value;
        };
        auto readSetting = [&readInt](int32_t& field, int32_t& setting) {
            readInt(field);
            setting = field;
        };
        if (name == "Downloader_id") readInt(m_downloaderId);
        else if (name == "Software_id") readInt(m_softwareId);
        else if (name == "Site_id") readInt(m_siteId);
        else if (name == "Downloader_type") readInt(m_downloaderType);
        else if (name == "Downloader_config") readSetting(m_downloaderConfig, settings.Downloader_config);
        else if (name == "Slice_num") readSetting(m_sliceNum, settings.Slice_num);
        else if (name == "Slice_size") readSetting(m_sliceSize, settings.Slice_size);
        else if (name == "Additional_time") readSetting(m_additionalTime, settings.Additional_time);
        else if (name == "Back_running") readSetting(m_backRunning, settings.Back_running);
        else if (name == "Filesize") {
            int64_t value = 0;
            if (e->QueryInt64Text(&value) == tinyxml2::XML_SUCCESS) m_fileSize = value;
        } else if (name == "Software_name") {
            m_softwareName = NameValue(e);  // within the plain names' bound, so never cut
        } else if (name == "Software_version") m_softwareVersion = NameValue(e);
        else if (name == "Install_url") m_installUrl = ElementText(e);
        else if (name == "Banner_url") m_bannerUrl = ElementText(e);
        else if (name == "Licensefile_url") m_licenseFileUrl = ElementText(e);
        else if (name == "Md5") m_md5 = ElementText(e);
        else if (name == "Cnet_download_url") m_cnetDownloadUrl = ElementText(e);
        else if (name == "Md5_extra") m_md5Extra = ElementText(e);
        else if (name == "Process_name") m_processName = NameValue(e);
        else if (name == "Download_url") m_downloadUrl = WithoutLineBreaks(ElementText(e));
        else if (name == "Extra_download_url") m_extraDownloadUrl = WithoutLineBreaks(ElementText(e));
        else if (name == "TimeoutCfg") {
            const char* raw = e->GetText();
            const std::string text = raw ? raw : "";
            LOG(INFO) << " GetCbsInfo TimeoutCfg is: " << text;
            int32_t connect = 0, transfer = 0;
            if (ParseTimeoutCfg(text, connect, transfer)) {
                m_connectTimeout = connect < 1 ? 3 : connect;
                m_transferTimeout = transfer < 1 ? 20 : transfer;
                settings.ConnectTimeout = m_connectTimeout;
                settings.TransferTimeout = m_transferTimeout;
            }
        }
    }
    m_loadState = kLoaded;
    m_source = kSourceServer;
    addRemotePath(m_downloadUrl);
    addRemotePath(m_extraDownloadUrl);
    return 1;
}
