// Folder creation and file-name checks.
#include "platform/FuntionImpl.h"

#include <windows.h>

namespace FuntionImpl {

unsigned long CreateDirectoryPath(const std::wstring& path) {
    std::wstring prefix;
    prefix.reserve(path.size());
    for (wchar_t c : path) {
        prefix.push_back(c);
        if (c != L'/' && c != L'\\') continue;
        // Parents that exist (and roots that cannot be created) fail harmlessly here; only a
        // full disk ends the walk early.
        if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() == ERROR_DISK_FULL) return ERROR_DISK_FULL;
    }
    // A successful call does not clear the thread's last error, so success is reported as 0
    // rather than whatever an earlier step left behind.
    if (CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
    return GetLastError();
}

bool EndsWithExe(const std::wstring& path) {
    static const std::wstring kExe = L".exe";
    if (path.size() < kExe.size()) return true;
    return path.compare(path.size() - kExe.size(), kExe.size(), kExe) == 0;
}

}  // namespace FuntionImpl
