#include "platform/FuntionImpl_NetFrame.h"

#include <windows.h>

#include <easylogging++.h>

#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"

namespace FuntionImpl {

namespace {

constexpr size_t kMaxLineChars = 1024;
// The requirement file is a few lines; anything past this is not read.
constexpr DWORD kMaxFileBytes = 1 << 20;

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

std::string NeededNetFrameVersionFromText(const std::string& text) {
    size_t at = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;  // a UTF-8 byte order mark
    bool inSettings = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string raw = text.substr(at, end - at);
        at = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.size() > kMaxLineChars) continue;
        std::string line = Trim(raw);
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            if (line == "[Text]") break;
            inSettings = line == "[Settings]";
            continue;
        }
        if (!inSettings) continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos || Trim(line.substr(0, equals)) != "NetFrameworkVersion") continue;
        return Trim(line.substr(equals + 1));
    }
    return std::string();
}

std::string ReadNeededNetFrameVersion(const std::wstring& folder) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += L"NetFrameCheck.db";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string text(kMaxFileBytes, '\0');
    DWORD read = 0;
    BOOL ok = ReadFile(file, &text[0], kMaxFileBytes, &read, nullptr);
    CloseHandle(file);
    if (!ok) return std::string();
    text.resize(read);
    return NeededNetFrameVersionFromText(text);
}

std::wstring ReadMachineRegString32(const std::wstring& keyPath, const std::wstring& valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return std::wstring();
    // Up to 260 characters and their terminator are read; one more stays zero, so a value
    // stored without terminator ends too.
    wchar_t buffer[262] = {};
    DWORD type = 0;
    DWORD size = 261 * sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::wstring();
    return std::wstring(buffer);
}

std::string InstalledNetFrameVersion() {
    return TextCodec::WideToUtf8(
        ReadMachineRegString32(L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client", L"Version"));
}

void SplitVersion4(const std::string& version, int32_t parts[4]) {
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        parts[i] = 0;
        if (at > version.size()) continue;
        size_t dot = version.find('.', at);
        std::string part = version.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
        parts[i] = ParseLeadingInt(TextCodec::Utf8ToWide(part));
        at = dot == std::string::npos ? version.size() + 1 : dot + 1;
    }
}

bool IsNetFrameOlder(const std::string& installed, const std::string& needed) {
    int32_t have[4], need[4];
    SplitVersion4(installed, have);
    SplitVersion4(needed, need);
    for (int i = 0; i < 4; ++i)
        if (have[i] != need[i]) return have[i] < need[i];
    return false;
}

bool WillShowNetFrameCheck(const std::wstring& folder) {
    std::string needed = ReadNeededNetFrameVersion(folder);
    if (needed.empty()) return false;
    std::string installed = InstalledNetFrameVersion();
    LOG(INFO) << " LocalNetFrame: " << installed << ", NeedNetFrame: " << needed;
    return IsNetFrameOlder(installed, needed);
}

}  // namespace FuntionImpl
