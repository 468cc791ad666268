// The data service's requests run by the window's banner and links threads.
#include "config/DataService.h"

#include <windows.h>

#include <curl/curl.h>
#include <easylogging++.h>
#include <json/json.h>

#include "DuiLib/Core/UIImage.h"
#include "analytics/CSingleUserLog.h"
#include "analytics/FlowError.h"
#include "base/JsonText.h"
#include "base/OutboundUrl.h"
#include "base/ScopedHandle.h"
#include "base/TextCodec.h"
#include "config/CConfigure.h"
#include "download/DownLoadImpl.h"
#include "net/CLibcurlTool.h"
#include "platform/FuntionImpl.h"
#include "deployment_values.h"

namespace DataService {

namespace {

// A member of an element as text: empty when the element is no object or the member no text.
std::string TextMember(const Json::Value& element, const char* name) {
    if (!element.isObject()) return std::string();
    const Json::Value& v = element[name];
    return v.isString() ? v.asString() : std::string();
}

// A member as a 32-bit integer: 0 when missing or not an integer in range.
int32_t IntMember(const Json::Value& element, const char* name) {
    if (!element.isObject()) return 0;
    const Json::Value& v = element[name];
    return v.isInt() ? v.asInt() : 0;
}

// Parses the text and decides whether the reply counts; the root is returned in root.
ParseResult ParseReply(const std::string& text, Json::Value& root) {
    ParseResult result;
    std::string errors;
    result.parsed = JsonText::Parse(text, root, &errors);
    // jsoncpp writes one "* Line ..." block per error it found.
    for (size_t at = errors.find("* Line"); at != std::string::npos; at = errors.find("* Line", at + 1))
        ++result.errorCount;
    if (!result.parsed && result.errorCount == 0) result.errorCount = 1;
    result.counts = result.parsed;
    if (result.parsed && text.find("\"code\"") != std::string::npos) {
        const bool is200 = root.isObject() && root["code"].isIntegral() && root["code"].asInt64() == 200;
        result.counts = is200;
    }
    return result;
}

// The elements of a reply: the root's when it is an array, none otherwise.
const Json::Value& Elements(const Json::Value& root) {
    static const Json::Value kNone(Json::arrayValue);
    return root.isArray() ? root : kNone;
}

CSingleUserLog* Analytics(CSingleUserLog* given) { return given ? given : CSingleUserLog::GetInstance(); }

// The first way to fetch a picture: one GET through the transfer layer, so the TLS policy checks
// the server as on every other request, then the body written to the file. 0 on success, else the
// transfer's result or -1 when the file could not be written.
long CurlDownload(const std::wstring& url, const std::wstring& file, bool plainHttpAllowed) {
    std::string body;
    CURLcode code;
    {
        CLibcurlTool tool(curl_easy_init());
        code = tool.httpGet(TextCodec::WideToUtf8(url), body, plainHttpAllowed ? "http,https" : "https");
    }
    if (code != CURLE_OK) return static_cast<long>(code);
    ScopedHandle out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return -1;
    DWORD written = 0;
    if (!WriteFile(out.get(), body.data(), static_cast<DWORD>(body.size()), &written, nullptr) || written != body.size())
        return -1;
    return 0;
}

std::string Shortened(const std::string& text) { return text.substr(0, FlowError::kLoggedResponseBytes); }

}  // namespace

ParseResult ParseBannerReply(const std::string& text, std::vector<BannerEntry>& banners) {
    banners.clear();
    Json::Value root;
    ParseResult result = ParseReply(text, root);
    if (!result.counts) return result;
    for (const Json::Value& element : Elements(root)) {
        BannerEntry entry;
        entry.bannerUrl = TextMember(element, "banner_url");
        entry.jumpUrl = TextMember(element, "jump_url");
        entry.prompt = TextMember(element, "prompt");
        entry.sort = IntMember(element, "sort");
        banners.push_back(entry);
    }
    return result;
}

ParseResult ParseLinksReply(const std::string& text, std::vector<LinkEntry>& links) {
    links.clear();
    Json::Value root;
    ParseResult result = ParseReply(text, root);
    if (!result.counts) return result;
    for (const Json::Value& element : Elements(root)) {
        LinkEntry entry;
        entry.langCode = TextMember(element, "lang_code");
        const Json::Value& urls = element.isObject() ? element["urls"] : Json::Value::nullSingleton();
        if (urls.isArray()) {
            for (Json::ArrayIndex i = 0; i < urls.size(); ++i) {
                const std::string field = TextMember(urls[i], "field");
                const std::string url = TextMember(urls[i], "url");
                LOG(INFO) << " Get Cbs tcp3: " << i << ", " << field << ", " << url.size();
                if (field == "tc") {
                    if (url.empty()) entry.licenseMissing = true;
                    else entry.licenseUrl = TextCodec::Utf8ToWide(url);
                } else if (field == "p") {
                    if (url.empty()) entry.privacyMissing = true;
                    else entry.privacyUrl = TextCodec::Utf8ToWide(url);
                }
            }
        }
        links.push_back(entry);
    }
    return result;
}

std::wstring BannerFilePath(const std::wstring& workFolder, int32_t sort, const std::string& bannerUrl) {
    std::wstring extension;
    const size_t dot = bannerUrl.rfind('.');
    if (dot != std::string::npos) {
        extension = L".";
        for (size_t i = dot + 1; i < bannerUrl.size() && extension.size() <= 8; ++i) {
            const char c = bannerUrl[i];
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) break;
            extension += static_cast<wchar_t>(c);
        }
        if (extension.size() == 1) extension.clear();
    }
    return workFolder + L"\\" + std::to_wstring(sort) + extension;
}

std::string TimeBucket(uint32_t elapsedMs) {
    const uint32_t n = elapsedMs / 1000 / 3 * 3;
    return "[" + std::to_string(n) + "~" + std::to_string(n + 3) + "]s";
}

std::string FetchText(const std::string& url, CSingleUserLog* analytics, const char* logText, const char* category,
                      const char* action, const char* key) {
    std::string reply;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        std::string body;
        CURLcode code;
        const DWORD start = GetTickCount();
        {
            CLibcurlTool tool(curl_easy_init());
            code = tool.httpGet(url, body);
        }
        Analytics(analytics)->AddUserLog_funnelExPair(category, action, key, TimeBucket(GetTickCount() - start), false,
                                                      false);
        LOG(INFO) << logText << attempt << ", " << static_cast<int>(code) << ", " << url.size() << ", " << body.size();
        if (code == CURLE_OK && !body.empty()) {
            reply = body;
            break;
        }
        Sleep(100);
    }
    return reply;
}

bool IsLoadableImage(const std::wstring& file) {
    std::string bytes;
    DuiLib::CDefaultImageSource source;
    if (!source.Read(file, bytes) || bytes.empty()) return false;
    return DuiLib::ImageCodec::Decode(bytes.data(), bytes.size()) != nullptr;
}

bool FetchBanners(const BannerJob& job, BannerMap& banners) {
    CSingleUserLog* analytics = Analytics(job.analytics);
    LOG(INFO) << "get banner from server";
    // Without a work folder the pictures would land in the root of the current drive.
    if (job.workFolder.empty()) {
        LOG(INFO) << " Get Cbs Ban: no work folder";
        return false;
    }
    const std::string url = FuntionImpl::GetBannerPicUrl(job.parentPid, static_cast<EnumLanguage>(job.language));
    const std::string reply = FetchText(url, analytics, " Get Cbs Ban1: ", "Download", "ObtainCarouselMapTime",
                                        "CarouselMapTimeInterval");
    if (reply.empty()) return false;

    std::vector<BannerEntry> entries;
    const ParseResult parsed = ParseBannerReply(reply, entries);
    LOG(INFO) << " Get Cbs Ban2: " << (parsed.parsed ? 1 : 0) << ", " << parsed.errorCount;
    if (!parsed.counts) {
        LOG(INFO) << " Get Cbs Ban fail: " << Shortened(reply);
        return false;
    }

    const bool plainHttpAllowed = Deployment::kTestBuild && !job.httpsOnly;
    const size_t n = entries.size();
    size_t stored = 0;
    for (size_t i = 0; i < n; ++i) {
        const BannerEntry& entry = entries[i];
        LOG(INFO) << " Get Cbs Ban3: " << entry.bannerUrl.size() << ", " << i << "/" << n;
        if (entry.bannerUrl.empty()) continue;

        BannerRecord record;
        record.bannerUrl = TextCodec::Utf8ToWide(entry.bannerUrl);
        // The picture is decoded in the elevated process: only from an address the build allows.
        if (!OutboundUrl::Allowed(record.bannerUrl, plainHttpAllowed)) {
            LOG(INFO) << " Get Cbs Ban refused: " << OutboundUrl::ForLog(record.bannerUrl);
            continue;
        }
        record.jumpUrl = TextCodec::Utf8ToWide(entry.jumpUrl);
        record.prompt = TextCodec::Utf8ToWide(entry.prompt);
        record.localFile = BannerFilePath(job.workFolder, entry.sort, entry.bannerUrl);
        record.sort = entry.sort;

        const DWORD start = GetTickCount();
        for (int attempt = 1; attempt <= 3; ++attempt) {
            LOG(INFO) << " Get Cbs Ban4: " << i << "/" << n << ", " << attempt << "/3";
            const long first = job.firstWay ? job.firstWay(record.bannerUrl, record.localFile)
                                            : CurlDownload(record.bannerUrl, record.localFile, plainHttpAllowed);
            LOG(INFO) << " Get Cbs Ban5_1: " << first;
            if (first == 0 && IsLoadableImage(record.localFile)) {
                ++stored;
                LOG(INFO) << " Get Cbs Ban " << stored << " Success 1";
                banners[record.sort] = record;
                break;
            }
            LOG(INFO) << " Get Cbs Ban " << stored << " Fail 1";
            DeleteFileW(record.localFile.c_str());

            std::string cdnSummary;
            const int second = CDownLoadImpl::SuperDownloadFile(record.bannerUrl, record.localFile, cdnSummary, false);
            LOG(INFO) << " Get Cbs Ban5_2: " << second;
            if (second == 1 && IsLoadableImage(record.localFile)) {
                ++stored;
                LOG(INFO) << " Get Cbs Ban " << stored << " Success 2";
                banners[record.sort] = record;
                break;
            }
            LOG(INFO) << " Get Cbs Ban " << stored << " Fail 2";
            DeleteFileW(record.localFile.c_str());
        }
        analytics->AddUserLog_funnelExPair("Download", "DownloadCarouselImagesTime", "DownloadCarouselImagesTimeInterval",
                                           TimeBucket(GetTickCount() - start), false, false);
    }
    if (n != 0 && stored == n) {
        LOG(INFO) << " Get Banner success";
        return true;
    }
    return false;
}

void FetchPrivacyLinks(int32_t parentPid, CConfigure& configure, CSingleUserLog* analytics) {
    analytics = Analytics(analytics);
    LOG(INFO) << "get privacy and license url";
    const std::string url = FuntionImpl::GetPrivacyUrl(parentPid);
    const std::string reply = FetchText(url, analytics, " Get Cbs tcp1: ", "StartDownloader", "ObtainProtocolTime",
                                        "ProtocolObtainProtocolTime");
    if (reply.empty()) return;

    std::vector<LinkEntry> links;
    const ParseResult parsed = ParseLinksReply(reply, links);
    LOG(INFO) << " Get Cbs tcp2: " << (parsed.parsed ? 1 : 0) << ", " << parsed.errorCount;
    if (!parsed.counts) {
        LOG(INFO) << " Get Cbs tcp fail: " << Shortened(reply);
        return;
    }
    bool licenseMissing = false;
    bool privacyMissing = false;
    for (const LinkEntry& link : links) {
        licenseMissing = licenseMissing || link.licenseMissing;
        privacyMissing = privacyMissing || link.privacyMissing;
        configure.setLanguageLinks(link.langCode, link.privacyUrl, link.licenseUrl);
    }
    if (licenseMissing) {
        analytics->AddUserLogEvent("Other", "FlowError", "DL005", false);
        analytics->AddUserLog_funnelExPair("ErrorReporting", "Error", "MainErrorType", "DL005", false, false);
    }
    if (privacyMissing) {
        analytics->AddUserLogEvent("Other", "FlowError", "DL004", false);
        analytics->AddUserLog_funnelExPair("ErrorReporting", "Error", "MainErrorType", "DL004", false, false);
    }
}

}  // namespace DataService
