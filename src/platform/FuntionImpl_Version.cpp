// Where this copy of the setup comes from (channel label, site category) and what a file's
// version resource says.
#include "platform/FuntionImpl.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include <windows.h>


namespace FuntionImpl {
namespace {

// How a channel row turns the download address into a label.
enum class ChannelKind {
    Fixed,          // the label as it stands
    SearchEngine,   // "-Bing" or "-Yahoo" by the address
    BingOnly,       // "-Bing" by the address
    Online,         // "Online" by the address
};

struct ChannelRow {
    int siteIds[3];  // 0 ends the list early
    ChannelKind kind;
    const char* label;
};

// Marketing channels of the site numbers the maker hands out.
const ChannelRow kChannels[] = {
    {{2, 206, 0}, ChannelKind::SearchEngine, "LumenoPPC"},
    {{8, 0, 0}, ChannelKind::SearchEngine, "OrbalaAds"},
    {{293, 305, 0}, ChannelKind::SearchEngine, "LumenoSearch"},
    {{338, 0, 0}, ChannelKind::BingOnly, "OrbalaShopping"},
    {{1, 3, 0}, ChannelKind::Online, "Lumeno"},
    {{9, 0, 0}, ChannelKind::Fixed, "Organic"},
    {{4, 0, 0}, ChannelKind::Fixed, "OrbalaOfficial"},
    {{5, 0, 0}, ChannelKind::Fixed, "LumenoBlog"},
    {{6, 0, 0}, ChannelKind::Fixed, "Affiliate"},
    {{7, 0, 0}, ChannelKind::Fixed, "Newsletter"},
    {{10, 11, 0}, ChannelKind::Fixed, "Partner"},
    {{12, 0, 0}, ChannelKind::Fixed, "Social"},
    {{20, 0, 0}, ChannelKind::Fixed, "Video"},
    {{21, 0, 0}, ChannelKind::Fixed, "Forum"},
    {{30, 0, 0}, ChannelKind::Fixed, "Reviews"},
    {{54, 0, 0}, ChannelKind::Fixed, "CN-Search"},
    {{74, 0, 0}, ChannelKind::Fixed, "Display"},
    {{93, 0, 0}, ChannelKind::Fixed, "CN-Partner"},
    {{100, 0, 0}, ChannelKind::Fixed, "Bundle"},
    {{120, 0, 0}, ChannelKind::Fixed, "Retail"},
    {{150, 0, 0}, ChannelKind::Fixed, "Download-Sites"},
    {{290, 0, 0}, ChannelKind::Fixed, "CN-Official"},
    {{354, 0, 0}, ChannelKind::Fixed, "CN-Store"},
};

const ChannelRow* FindChannel(int siteId) {
    for (const ChannelRow& row : kChannels)
        for (int id : row.siteIds)
            if (id != 0 && id == siteId) return &row;
    return nullptr;
}

bool Contains(const std::string& text, const char* token) { return text.find(token) != std::string::npos; }

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The whole version resource of a file, or nothing. The buffer is as large as the resource
// says (never less than 16 KiB), so large resources are read in full.
std::vector<BYTE> ReadVersionResource(const std::wstring& filePath) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(filePath.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<BYTE> buffer(std::max<DWORD>(size, 16384), 0);
    if (!GetFileVersionInfoW(filePath.c_str(), 0, static_cast<DWORD>(buffer.size()), buffer.data())) return {};
    return buffer;
}

bool ReadFixedVersion(const std::wstring& filePath, unsigned (&parts)[4]) {
    std::vector<BYTE> resource = ReadVersionResource(filePath);
    if (resource.empty()) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(resource.data(), L"\\", &value, &length) || value == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (info->dwSignature != 0xFEEF04BD) return false;
    parts[0] = HIWORD(info->dwFileVersionMS);
    parts[1] = LOWORD(info->dwFileVersionMS);
    parts[2] = HIWORD(info->dwFileVersionLS);
    parts[3] = LOWORD(info->dwFileVersionLS);
    return true;
}

std::wstring QueryString(std::vector<BYTE>& resource, const wchar_t* translation, const wchar_t* name) {
    wchar_t block[128] = {};
    _snwprintf_s(block, _countof(block), _TRUNCATE, L"\\StringFileInfo\\%s\\%s", translation, name);
    void* value = nullptr;
    UINT length = 0;  // in characters
    if (!VerQueryValueW(resource.data(), block, &value, &length) || value == nullptr || length == 0)
        return std::wstring();
    const auto* text = static_cast<const wchar_t*>(value);
    return std::wstring(text, wcsnlen(text, length));
}

}  // namespace

std::string GetChannelLabel(int siteId, const std::string& sourceText) {
    const ChannelRow* row = FindChannel(siteId);
    if (row == nullptr) return std::to_string(siteId);
    const std::string source = LowerAscii(sourceText);
    const bool bing = Contains(source, "_bing_") || Contains(source, "_bing.");
    const std::string label = row->label;
    switch (row->kind) {
        case ChannelKind::Fixed:
            return label;
        case ChannelKind::SearchEngine:
            if (bing) return label + "-Bing";
            if (Contains(source, "_yahoo_") || Contains(source, "_yahoo.")) return label + "-Yahoo";
            return label;
        case ChannelKind::BingOnly:
            return bing ? label + "-Bing" : label;
        case ChannelKind::Online:
            return Contains(source, "_online") ? label + "Online" : label;  // "_online." included
    }
    return label;
}

std::string GetSiteCategory(int siteId) {
    static const int kPpc[] = {2, 8, 74, 84, 206, 293, 305, 338};
    static const int kCn[] = {54, 93, 290, 354};
    if (std::find(std::begin(kPpc), std::end(kPpc), siteId) != std::end(kPpc)) return "PPC";
    if (std::find(std::begin(kCn), std::end(kCn), siteId) != std::end(kCn)) return "CN";
    return "SEO";
}

std::string GetFileVersionText(const std::wstring& filePath) {
    unsigned parts[4] = {};
    if (!ReadFixedVersion(filePath, parts)) return std::string();
    char text[64] = {};
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
    return text;
}

std::wstring GetFileVersionTextW(const std::wstring& filePath) {
    unsigned parts[4] = {};
    if (!ReadFixedVersion(filePath, parts)) return std::wstring();
    wchar_t text[64] = {};
    _snwprintf_s(text, _countof(text), _TRUNCATE, L"%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
    return text;
}

FileVersionStrings GetFileVersionStrings(const std::wstring& filePath) {
    FileVersionStrings strings;
    std::vector<BYTE> resource = ReadVersionResource(filePath);
    if (resource.empty()) return strings;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation", &value, &length) || value == nullptr ||
        length < 2 * sizeof(WORD))
        return strings;
    const auto* pair = static_cast<const WORD*>(value);
    wchar_t translation[16] = {};
    _snwprintf_s(translation, _countof(translation), _TRUNCATE, L"%04x%04x", pair[0], pair[1]);
    strings.productName = QueryString(resource, translation, L"ProductName");
    strings.productVersion = QueryString(resource, translation, L"ProductVersion");
    strings.fileDescription = QueryString(resource, translation, L"FileDescription");
    strings.legalCopyright = QueryString(resource, translation, L"LegalCopyright");
    return strings;
}

}  // namespace FuntionImpl
