#pragma once
// The product configuration record: the skin's configuration labels, overwritten by the
// configuration service's reply when one arrives, refilled from the labels as a fall-back.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace DuiLib { class CPaintManagerUI; }

class CConfigure {
public:
    enum LoadState : int32_t { kNotLoaded = 1, kLoaded = 2 };
    enum Source : int32_t { kSourceNothing = 0, kSourceServer = 1, kSourceFile = 2 };

    CConfigure(int32_t downloaderId, int32_t languageId, int32_t siteId);
    ~CConfigure();
    CConfigure(const CConfigure&) = delete;
    CConfigure& operator=(const CConfigure&) = delete;

    // Reads the record's keys from the label controls of the window. In fall-back mode the
    // record counts as loaded from the file and the remote paths are rebuilt. Returns 1.
    int loadFromConfigureXml(const DuiLib::CPaintManagerUI* pm, bool fallback);
    // Default licence and privacy links: the labels LicenseUrl and PrivacyUrl when the label
    // NewLicenseFlag is "1", else empty.
    void loadDefaultLinks(const DuiLib::CPaintManagerUI* pm);
    // Writes the record to the program log. Returns 1.
    int printContent() const;

    std::string getQueryUrl() const { return m_queryUrl; }

    void setLanguageLinks(const std::string& languageCode, const std::wstring& privacyUrl, const std::wstring& licenseUrl);
    std::wstring getLicenseUrl(const std::string& languageCode);
    std::wstring getPrivacyUrl(const std::string& languageCode);

    // Appends an address to the remote paths unless it is empty or on a content-delivery host
    // ("//cdn." or "//dl."). True when it was added.
    bool addRemotePath(const std::wstring& url);
    static bool IsRemotePathCandidate(const std::wstring& url);

    // Fields, in declaration order. Plain data: see the class comment of the window for who writes.
    int32_t m_loadState = kNotLoaded;
    int32_t m_source = kSourceNothing;
    int64_t m_fileSize = 0;
    int32_t m_downloaderId = 0;
    int32_t m_softwareId = 0;
    int32_t m_siteId = 0;
    int32_t m_languageId = 0;
    int32_t m_downloaderType = 3;
    int32_t m_downloaderConfig = 0;
    int32_t m_sliceNum = 0;
    int32_t m_sliceSize = 0;
    int32_t m_additionalTime = 0;
    int32_t m_backRunning = 0;
    int32_t m_installTimeout = 240;
    int32_t m_connectTimeout = 3;
    int32_t m_transferTimeout = 20;
    std::wstring m_softwareName;
    std::wstring m_softwareVersion;
    std::wstring m_downloadUrl;
    std::wstring m_md5;
    std::wstring m_processName;
    std::wstring m_installUrl;
    std::wstring m_bannerUrl;
    std::wstring m_licenseFileUrl;
    std::wstring m_extraDownloadUrl;
    std::vector<std::wstring> m_remotePaths;
    std::wstring m_md5Extra;
    std::wstring m_cnetDownloadUrl;
    std::string m_queryUrl;
    char* m_replyText = nullptr;  // owned; the last reply's Downloader element, null when none
    std::wstring m_defaultLicenseUrl;
    std::wstring m_defaultPrivacyUrl;

private:
    std::map<std::string, std::pair<std::wstring, std::wstring>> m_languageLinks;  // code -> (privacy, licence)
    std::mutex m_linksLock;
};
