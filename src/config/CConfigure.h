#pragma once
// The product configuration record: the skin's configuration labels, overwritten by the
// configuration service's reply when one arrives, refilled from the labels as a fall-back.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace DuiLib { class CPaintManagerUI; }
class CSingleUserLog;

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

    // The configuration query: asks the service (primary host, or the alternate one) for the
    // download configuration and stores the reply's Downloader element. 1 when this call stored
    // a reply; 0 when a reply was already stored (nothing is sent), when the response held no
    // complete Downloader element, or when another thread stored its reply first (this one is
    // then discarded). sync only names the caller in the log and the timing event.
    int getDownloadInfoXml(bool sync, bool alternate);
    // Parses the stored reply into the record and the download settings. 1 on success; 0 (and
    // load state 1, nothing stored) when there is no reply, it is not XML, it has no root element,
    // or a value that becomes a file, key or command-line name (Software_name, Software_version,
    // Process_name) is no plain name (base/PlainName): logged as " GetCbsInfo reply refused: ".
    int readDownloadInfoFromXml();
    // The same, for the early thread: when stop is set at the moment the parse would begin, the
    // record is left alone and the result is -1. The test and the parse happen under the load
    // lock, so once the install worker has set stop and taken the lock it is the only parser.
    int readDownloadInfoFromXmlUnless(const std::atomic<bool>& stop);
    // Load state and software version read under the load lock (a parse may be running).
    int32_t loadState();
    std::wstring softwareVersion();

    // Where the query goes and whom it reports to. Empty hosts mean the deployment's
    // configuration hosts and a null analytics object the process's one; tests point these at
    // the local services and a recording report object.
    struct QueryTargets {
        std::string primaryHost;
        std::string alternateHost;
        CSingleUserLog* analytics = nullptr;
    };
    void setQueryTargets(const QueryTargets& targets) { m_targets = targets; }
    // The analytics object the query reports to.
    CSingleUserLog* queryAnalytics() const;

    // Query URL for a host; empty when it does not fit the 512-byte limit of the request line.
    static std::string BuildQueryUrl(const std::string& host, bool testEnv, int32_t languageId, int32_t downloaderId,
                                     int32_t siteId, float osVersionNumber);
    // The Downloader element of a response body (from "<Downloader>" through
    // "</Downloader>"); empty when the body holds no complete one.
    static std::string ExtractDownloaderElement(const std::string& body);
    // The two numbers of a TimeoutCfg text ("5,30"); false when the text has no comma after its
    // first character, is shorter than 3 characters or does not hold two numbers.
    static bool ParseTimeoutCfg(const std::string& text, int32_t& first, int32_t& second);
    // Default licence and privacy links: the labels LicenseUrl and PrivacyUrl when the label
    // NewLicenseFlag is "1", else empty.
    void loadDefaultLinks(const DuiLib::CPaintManagerUI* pm);
    // Writes the record to the program log. Returns 1.
    int printContent() const;

    std::string getQueryUrl() const;

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
    std::string m_queryUrl;  // under m_loadLock: the early thread and the worker may both query
    char* m_replyText = nullptr;  // owned; the reply's Downloader element, null when none; under m_loadLock
    std::wstring m_defaultLicenseUrl;
    std::wstring m_defaultPrivacyUrl;

private:
    int parseReplyLocked();
    std::string queryHost(bool alternate) const;

    // Serialises what the early configuration thread and the install worker may do at the same
    // moment: the check for a stored reply and its store, every parse, and the skin load.
    mutable std::mutex m_loadLock;
    QueryTargets m_targets;

    std::map<std::string, std::pair<std::wstring, std::wstring>> m_languageLinks;  // code -> (privacy, licence)
    std::mutex m_linksLock;
};
