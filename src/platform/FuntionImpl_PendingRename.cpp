// The system's pending rename operations: files Windows moves or deletes at the next start.
#include "platform/FuntionImpl.h"

#include <windows.h>

#include <vector>

namespace FuntionImpl {

bool PendingRenameNamesFolder(const wchar_t* data, size_t chars, const std::wstring& folder) {
    if (!data || folder.empty()) return false;
    const std::wstring wanted = folder + L"\\";
    size_t at = 0;
    while (at < chars && data[at] != L'\0') {
        size_t end = at;
        while (end < chars && data[end] != L'\0') ++end;
        // A value cut short without its final 0 still ends at the buffer's end.
        if (std::wstring(data + at, end - at).find(wanted) != std::wstring::npos) return true;
        at = end + 1;
    }
    return false;
}

bool HasPendingRename(const std::wstring& folder) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, bytes = 0;
    bool found = false;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ && bytes >= sizeof(wchar_t)) {
        std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
        DWORD read = bytes;
        if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                             &read) == ERROR_SUCCESS)
            found = PendingRenameNamesFolder(buffer.data(), read / sizeof(wchar_t), folder);
    }
    RegCloseKey(key);
    return found;
}

}  // namespace FuntionImpl
