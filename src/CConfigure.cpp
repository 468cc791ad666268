#include "CConfigure.h"

#include <easylogging++.h>

#include "DuiLib/UIManager.h"
#include "FuntionImpl.h"
#include "TextCodec.h"

CConfigure::CConfigure(int32_t downloaderId, int32_t languageId, int32_t siteId)
    : m_downloaderId(downloaderId), m_siteId(siteId), m_languageId(languageId) {}

CConfigure::~CConfigure() { delete[] m_replyText; }

bool CConfigure::IsRemotePathCandidate(const std::wstring& url) {
    return !url.empty() && url.find(L"//cdn.") == std::wstring::npos && url.find(L"//dl.") == std::wstring::npos;
}

bool CConfigure::addRemotePath(const std::wstring& url) {
    if (!IsRemotePathCandidate(url)) return false;
    m_remotePaths.push_back(url);
    return true;
}

int CConfigure::loadFromConfigureXml(const DuiLib::CPaintManagerUI* pm, bool fallback) {
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
