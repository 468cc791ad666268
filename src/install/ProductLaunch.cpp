#include "install/ProductLaunch.h"

#include <windows.h>
#include <shellapi.h>

#include <easylogging++.h>

#include <cstdio>
#include <vector>

#include "analytics/CSingleUserLog.h"
#include "base/PlainName.h"
#include "base/TextCodec.h"

namespace {

// A file of its own: no folder, and no link or junction that would lead somewhere else.
bool IsPlainFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}
bool IsPlainFile(const std::wstring& path) { return IsPlainFile(GetFileAttributesW(path.c_str())); }

int LaunchFailed(CSingleUserLog* analytics, DWORD error) {
    analytics->AddUserLogEvent("Other", "StartWindowError", std::to_string(error), false);
    return -1;
}

}  // namespace

namespace FuntionImpl {

int StartTargetMainExe(const std::wstring& command, int adminFlag, CSingleUserLog* analytics) {
    if (!analytics) analytics = CSingleUserLog::GetInstance();
    if (adminFlag != 0) {
        // The folder of the quoted path: from the second character through the last backslash.
        size_t slash = command.find_last_of(L'\\');
        std::wstring folder = slash == std::wstring::npos || slash < 1 ? std::wstring() : command.substr(1, slash);
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        // The product inherits no handle of the setup.
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
            DWORD error = GetLastError();
            char text[64];
            snprintf(text, sizeof text, "CreateProcess failed3 (%d)", static_cast<int>(error));
            LOG(INFO) << text;
            return LaunchFailed(analytics, error);
        }
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return 0;
    }
    std::wstring path = command.size() >= 2 ? command.substr(1, command.size() - 2) : std::wstring();
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        LOG(INFO) << " CreateProcess failed1 (" << 2 << ")";
        return LaunchFailed(analytics, 2);
    }
    // Judged by the shell's answer: the last error of a call that succeeded may be anything.
    SetLastError(0);
    std::wstring parameters = L"/e, " + command;
    HINSTANCE shell = ShellExecuteW(nullptr, L"open", L"explorer.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
    DWORD error = GetLastError();
    if (reinterpret_cast<INT_PTR>(shell) <= 32) {
        if (error == 0) error = static_cast<DWORD>(reinterpret_cast<INT_PTR>(shell));
        LOG(INFO) << " CreateProcess failed2 (" << error << ")";
        return LaunchFailed(analytics, error);
    }
    return 0;
}

std::wstring FindFileInSubfolders(const std::wstring& folder, const std::wstring& fileName) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return std::wstring();
    std::wstring found;
    do {
        // A junction or a link to a folder is passed over: it may lead anywhere on the machine,
        // also into a folder a standard user fills, and what is found is started elevated.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring sub = folder + name + L"\\";
        if (IsPlainFile(sub + fileName)) {
            found = sub + fileName;
        } else {
            found = FindFileInSubfolders(sub, fileName);
        }
    } while (found.empty() && FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

}  // namespace FuntionImpl

namespace ProductLaunch {

std::wstring MainExePath(const std::wstring& installDirectory, const std::wstring& processName, bool configurationLoaded) {
    if (!configurationLoaded) return std::wstring();
    size_t first = installDirectory.find_first_not_of(L' ');
    size_t last = installDirectory.find_last_not_of(L' ');
    std::wstring folder = first == std::wstring::npos ? std::wstring() : installDirectory.substr(first, last - first + 1);
    if (folder.empty() || processName.empty()) return std::wstring();
    // The program is started with the installer's rights: only a plain file name, and only a
    // path that stays in the install folder.
    if (const char* problem = PlainName::Problem(processName, true)) {
        LOG(INFO) << " Product path refused: the program name is no plain name (" << problem << ")";
        return std::wstring();
    }
    std::wstring direct = folder + L"\\" + processName;
    if (!PlainName::IsInsideFolder(folder, direct)) {
        LOG(INFO) << " Product path refused: " << TextCodec::WideToUtf8(direct);
        return std::wstring();
    }
    if (IsPlainFile(direct)) return direct;
    std::wstring found = FuntionImpl::FindFileInSubfolders(folder + L"\\", processName);
    if (!found.empty() && !PlainName::IsInsideFolder(folder, found)) {
        LOG(INFO) << " Product path refused: " << TextCodec::WideToUtf8(found);
        return std::wstring();
    }
    return found;
}

}  // namespace ProductLaunch
