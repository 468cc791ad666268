#include "base/PlainName.h"

#include <windows.h>

#include <cwctype>
#include <vector>

namespace PlainName {

namespace {

bool IsControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The device names Windows reserves in every folder, also with an extension ("NUL.exe").
bool IsDeviceName(const std::wstring& text) {
    std::wstring stem = text.substr(0, text.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices)
        if (stem == device) return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) && stem[3] >= L'1' &&
           stem[3] <= L'9';
}

// The absolute form Windows gives the path when it opens it; empty when there is none.
std::wstring FullPath(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return std::wstring();
    std::vector<wchar_t> buffer(n + 1);
    n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) return std::wstring();
    return std::wstring(buffer.data(), n);
}

}  // namespace

const char* Problem(const std::wstring& text, bool required) {
    if (text.empty()) return required ? "empty" : nullptr;
    if (text.size() > kMaxLength) return "longer than 64 characters";
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'/' || c == L':') return "a path separator or drive";
        if (c == L'"') return "a double quote";
        if (IsControl(c)) return "a control character";
        if (c == L'<' || c == L'>' || c == L'|' || c == L'?' || c == L'*') return "a character file names cannot hold";
    }
    if (text.find(L"..") != std::wstring::npos) return "\"..\"";
    if (text.back() == L'.' || text.back() == L' ') return "a trailing dot or blank";
    if (IsDeviceName(text)) return "a device name";
    return nullptr;
}

bool IsInsideFolder(const std::wstring& folder, const std::wstring& path) {
    if (folder.empty() || path.empty()) return false;
    std::wstring base = FullPath(folder);
    const std::wstring full = FullPath(path);
    while (!base.empty() && base.back() == L'\\') base.pop_back();
    if (base.empty() || full.size() <= base.size() + 1 || full[base.size()] != L'\\') return false;
    // File names compare without case, as the file system does.
    return CompareStringOrdinal(full.c_str(), static_cast<int>(base.size()), base.c_str(), static_cast<int>(base.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace PlainName
