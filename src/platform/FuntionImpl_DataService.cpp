// Signed request URLs of the data service. Both requests carry a query whose last member,
// "verify", is the MD5 digest of the query before it followed by the product's salt; the
// service refuses a request whose digest does not match.
#include <windows.h>
#include <wincrypt.h>

#include <easylogging++.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "base/TextCodec.h"
#include "deployment_values.h"
#include "platform/FuntionImpl.h"

namespace {

std::mutex g_hostLock;
std::string g_hostOverride;

std::string BannerQuery(const std::string& langCode, int32_t parentPid, int64_t timestamp) {
    char text[512] = {};
    std::snprintf(text, sizeof(text), "lang_code=%s&parent_pid=%d&timestamp=%" PRId64 "&type=1", langCode.c_str(),
                  parentPid, timestamp);
    return text;
}

std::string PrivacyQuery(int32_t parentPid, int64_t timestamp) {
    char text[128] = {};
    std::snprintf(text, sizeof(text), "parent_pid=%d&timestamp=%" PRId64, parentPid, timestamp);
    return text;
}

std::string Signed(const std::string& query, const std::string& salt) {
    return query + "&verify=" + FuntionImpl::Md5Hex(query + salt);
}

int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

namespace FuntionImpl {

std::string Md5Hex(const std::string& text) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return std::string();
    std::string out;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        BYTE digest[16] = {};
        DWORD size = sizeof(digest);
        if (CryptHashData(hash, reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()), 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof(digest)) {
            static const char hex[] = "0123456789abcdef";
            for (BYTE b : digest) {
                out += hex[b >> 4];
                out += hex[b & 15];
            }
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return out;
}

std::string BuildBannerPicUrl(const std::string& host, const std::string& langCode, int32_t parentPid,
                              int64_t timestamp, const std::string& salt) {
    return "https://" + host + "/api/v1/banners?" + Signed(BannerQuery(langCode, parentPid, timestamp), salt);
}

std::string BuildPrivacyUrl(const std::string& host, int32_t parentPid, int64_t timestamp, const std::string& salt) {
    return "https://" + host + "/api/v1/user_privacy_info?" + Signed(PrivacyQuery(parentPid, timestamp), salt);
}

std::string DataServiceHost() {
    {
        std::lock_guard<std::mutex> lock(g_hostLock);
        if (!g_hostOverride.empty()) return g_hostOverride;
    }
    return TextCodec::WideToUtf8(IsTestEnv() ? Deployment::DATA_HOST_TEST() : Deployment::DATA_HOST_PRODUCTION());
}

void SetDataServiceHost(const std::string& host) {
    std::lock_guard<std::mutex> lock(g_hostLock);
    g_hostOverride = host;
}

std::string GetBannerPicUrl(int32_t parentPid, EnumLanguage language) {
    const std::string langCode = GetLanguageCode(language);
    const int64_t timestamp = NowSeconds();
    const std::string salt = TextCodec::WideToUtf8(Deployment::DATA_SERVICE_SALT());
    const std::string url = BuildBannerPicUrl(DataServiceHost(), langCode, parentPid, timestamp, salt);
    LOG(INFO) << " BAN: lang_code=" << langCode << "&parent_pid=" << parentPid << "&timestamp=" << timestamp
              << "&type=1&verify=" << url.substr(url.rfind('=') + 1);
    return url;
}

std::string GetPrivacyUrl(int32_t parentPid) {
    const int64_t timestamp = NowSeconds();
    const std::string salt = TextCodec::WideToUtf8(Deployment::DATA_SERVICE_SALT());
    const std::string url = BuildPrivacyUrl(DataServiceHost(), parentPid, timestamp, salt);
    LOG(INFO) << " TCP: parent_pid=" << parentPid << "&timestamp=" << timestamp
              << "&verify=" << url.substr(url.rfind('=') + 1);
    return url;
}

}  // namespace FuntionImpl
