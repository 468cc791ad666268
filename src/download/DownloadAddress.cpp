#include "download/DownloadAddress.h"

#include "net/CLibcurlTool.h"  // before the logging library: curl brings winsock2.h, which must precede windows.h

#include <easylogging++.h>

#include "platform/FuntionImpl.h"
#include "base/TextCodec.h"

bool IsCdnUrl(const std::wstring& url) {
    return url.find(L"//cdn.") != std::wstring::npos || url.find(L"//dl.") != std::wstring::npos;
}

bool IsCdnUrl(const std::string& url) {
    // The markers are ASCII, so widening byte by byte keeps every match and adds none.
    return IsCdnUrl(std::wstring(url.begin(), url.end()));
}

namespace DownloadAddress {

const wchar_t kRequestCounterValue[] = L"RequestTooMuchTimes";

std::wstring CheckRemotePath(const std::vector<std::wstring>& remotePaths, bool forbidCdn) {
    LOG(INFO) << " isForbidCDN: " << (forbidCdn ? 1 : 0);
    for (const std::wstring& path : remotePaths) {
        if (IsCdnUrl(path)) continue;
        LOG(INFO) << " UrlUsed: " << TextCodec::WideToUtf8(path);
        return path;
    }
    LOG(INFO) << " checkRemotePath fail: " << -1;
    return std::wstring();
}

std::wstring RequestCounterKey(const std::wstring& softwareName) {
    return L"SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + softwareName;
}

bool IsForbidCDN(const std::wstring& softwareName) {
    std::wstring text = FuntionImpl::ReadMachineRegString(RequestCounterKey(softwareName), kRequestCounterValue);
    return FuntionImpl::ParseLeadingInt(text) > 3;
}

void AddRequestTooMuchTimes(const std::wstring& softwareName) {
    const std::wstring key = RequestCounterKey(softwareName);
    int32_t n = FuntionImpl::ParseLeadingInt(FuntionImpl::ReadMachineRegString(key, kRequestCounterValue));
    int32_t next = n < 1 ? 1 : n + 1;
    FuntionImpl::WriteMachineRegString(key, kRequestCounterValue, std::to_wstring(next));
}

std::wstring CheckWin78Link(const std::wstring& address, float osVersionNumber, const std::wstring& skinDownloadUrl,
                            const std::wstring& skinExtraDownloadUrl) {
    if (!(osVersionNumber < 10.0f) || address.find(L"_obwin.exe") == std::wstring::npos) return address;

    CLibcurlTool probe(curl_easy_init());
    char headers[CLibcurlTool::kHeaderBufferSize] = {};
    long status = 0;
    CURLcode result = probe.httpGet(TextCodec::WideToUtf8(address), headers, status);
    LOG(INFO) << " Curl check win78 link, http code is " << status << ", curl code is " << int(result);
    if (status != 404) return address;

    // An empty label is no address: it is passed over like a content-delivery one, so an
    // empty Download_url label does not hide a usable Extra_download_url.
    for (const std::wstring* candidate : {&skinDownloadUrl, &skinExtraDownloadUrl}) {
        if (candidate->empty() || IsCdnUrl(*candidate)) continue;
        LOG(INFO) << " UrlUsed change to: " << TextCodec::WideToUtf8(*candidate);
        return *candidate;
    }
    return address;
}

std::string AddressLabel(const std::wstring& address) {
    return FuntionImpl::GetUrlHostType(address) == 12 ? "Extra_download_url" : "Download_url";
}

}  // namespace DownloadAddress
