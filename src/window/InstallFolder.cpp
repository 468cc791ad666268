#include "window/InstallFolder.h"

#include <shlobj.h>

#include "window/WindowLanguage.h"

namespace InstallFolder {
namespace {

bool IsAbsolute(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\' && iswalpha(path[0])) return true;
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::wstring FolderFromInstallLocation(const std::wstring& installLocation) {
    std::wstring folder = installLocation;
    // A backslash before the closing quote of "/DIR=" would escape the quote: none at the end,
    // except the one of a drive root.
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (!IsAbsolute(folder)) return std::wstring();
    return folder;
}

std::wstring ReadInstalledFolder(const std::wstring& softwareName) {
    if (softwareName.empty()) return std::wstring();
    // The key the product's installer writes and the setup writes the language to.
    WindowLanguage::ProductLanguageValue key;
    if (!WindowLanguage::PlanProductLanguage(0, 0, softwareName, std::wstring(), WindowLanguage::FindUninstallRoot(), key))
        return std::wstring();
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);  // room for a terminator the value may lack
    DWORD type = 0;
    if (RegGetValueW(key.root, key.key.c_str(), L"InstallLocation", RRF_RT_REG_SZ, &type, value, &size) != ERROR_SUCCESS)
        return std::wstring();
    return FolderFromInstallLocation(value);
}

bool InstallPathFits(const std::wstring& path) { return !path.empty() && path.size() <= kMaxInstallPathLength; }

std::wstring PickerStartFolder(const std::wstring& boxText) {
    std::wstring folder = boxText;
    while (!folder.empty()) {
        while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        if (IsFolder(folder)) return folder;
        const size_t slash = folder.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash + 1 >= folder.size()) break;
        folder.resize(slash == 2 && folder[1] == L':' ? 3 : slash);
    }
    return std::wstring();
}

int CALLBACK PickerCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
    const auto* start = reinterpret_cast<const PickerStart*>(data);
    if (message == BFFM_INITIALIZED && start && !start->folder.empty())
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start->folder.c_str()));
    return 0;
}

}  // namespace InstallFolder
