#include "base/OutboundUrl.h"

#include <cwctype>

#include "base/TextCodec.h"
#include "deployment_values.h"

namespace OutboundUrl {

namespace {

// The length of the scheme part ("https://") when url starts with it, any case; else 0.
size_t SchemeLength(const std::wstring& url, const wchar_t* scheme) {
    size_t n = 0;
    for (; scheme[n]; ++n)
        if (n >= url.size() || std::towlower(url[n]) != scheme[n]) return 0;
    return n;
}

}  // namespace

bool Allowed(const std::wstring& url, bool plainHttpAllowed) {
    if (url.size() > kMaxLength) return false;
    size_t hostStart = SchemeLength(url, L"https://");
    if (hostStart == 0 && plainHttpAllowed) hostStart = SchemeLength(url, L"http://");
    if (hostStart == 0) return false;
    for (wchar_t c : url) {
        if (c <= 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
        if (c == L'"' || c == L'<' || c == L'>' || c == L'\\') return false;
    }
    // A host must follow: "https:///x" or "https://?x" names none.
    const size_t hostEnd = url.find_first_of(L"/?#", hostStart);
    return (hostEnd == std::wstring::npos ? url.size() : hostEnd) > hostStart;
}

bool AllowedInThisBuild(const std::wstring& url) { return Allowed(url, Deployment::kTestBuild); }

std::string ForLog(const std::wstring& url) {
    std::wstring shown = url.substr(0, 200);
    for (wchar_t& c : shown)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) c = L'?';
    return TextCodec::WideToUtf8(shown);
}

}  // namespace OutboundUrl
