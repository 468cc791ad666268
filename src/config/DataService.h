#pragma once
// The data service's two requests as the window runs them on their own threads: the banner list
// with the banner pictures it names, and the per-language privacy and licence links. The replies
// are parsed by plain functions (reply text -> records), so they are tested without a window.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CConfigure;
class CSingleUserLog;

namespace DataService {

// One element of the banner reply, as sent (UTF-8).
struct BannerEntry {
    std::string bannerUrl;
    std::string jumpUrl;
    std::string prompt;
    int32_t sort = 0;
};

// One element of the links reply: the language code and the addresses of the fields "p"
// (privacy policy) and "tc" (licence agreement). A field present with an empty address sets its
// missing flag; an address not given stays empty.
struct LinkEntry {
    std::string langCode;
    std::wstring privacyUrl;
    std::wstring licenseUrl;
    bool privacyMissing = false;
    bool licenseMissing = false;
};

// The outcome of parsing a reply: whether it parsed, whether it counts (parsed and, when the text
// names a "code", that member is the number 200), the parser's error count, and the elements.
struct ParseResult {
    bool parsed = false;
    bool counts = false;
    int errorCount = 0;
};
ParseResult ParseBannerReply(const std::string& text, std::vector<BannerEntry>& banners);
ParseResult ParseLinksReply(const std::string& text, std::vector<LinkEntry>& links);

// One downloaded banner picture, kept by the window ordered by its sort number.
struct BannerRecord {
    std::wstring bannerUrl;
    std::wstring jumpUrl;
    std::wstring prompt;
    std::wstring localFile;
    int32_t sort = 0;
};
using BannerMap = std::map<int32_t, BannerRecord>;

// Where a banner is stored: the work folder, a backslash, the decimal sort and the extension of
// the banner address (from its last "."). Only letters and digits of the extension are kept (at
// most 8), so an address can never name a file outside the work folder.
std::wstring BannerFilePath(const std::wstring& workFolder, int32_t sort, const std::string& bannerUrl);

// The value of a timing event: "[n~n+3]s" with n = (elapsed whole seconds / 3) * 3.
std::string TimeBucket(uint32_t elapsedMs);

// Up to 3 plain GETs of url into a text, 100 ms apart, until one succeeds with a non-empty reply;
// each attempt sends the timing event (category, action, key) and logs logText with the attempt,
// the transfer result, the address's length and the reply's length. Empty when every one failed.
std::string FetchText(const std::string& url, CSingleUserLog* analytics, const char* logText,
                      const char* category, const char* action, const char* key);

// What the banner thread needs from the window.
struct BannerJob {
    int32_t parentPid = 0;
    int32_t language = 0;
    std::wstring workFolder;
    CSingleUserLog* analytics = nullptr;  // null: the process's analytics object
    // The first way to fetch a picture; null: a plain GET of the transfer layer (under the TLS
    // policy, at most 5 seconds and 4 MiB) written to the file. 0 is success.
    long (*firstWay)(const std::wstring& url, const std::wstring& file) = nullptr;
    // Test seam: judge the picture addresses as a release build does (https: only) also in a test
    // build.
    bool httpsOnly = false;
};
// Fetches the banner list and every picture it names (two ways, 3 attempts each) into the work
// folder; every stored picture is a record of banners. True when the list was not empty and every
// picture was stored: the carousel may then show them (the caller tells the window). A picture
// address that base/OutboundUrl refuses (in a release build anything but https:) is not fetched
// (" Get Cbs Ban refused: " and the address) and counts as missing; the first way keeps to https:
// also after redirects in a release build.
bool FetchBanners(const BannerJob& job, BannerMap& banners);

// Fetches the links and stores each language's with CConfigure::setLanguageLinks; a field given
// with an empty address raises "DL005" (licence) or "DL004" (privacy), once each.
void FetchPrivacyLinks(int32_t parentPid, CConfigure& configure, CSingleUserLog* analytics);

// True when the toolkit can decode the file as an image.
bool IsLoadableImage(const std::wstring& file);

}  // namespace DataService
