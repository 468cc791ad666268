#pragma once
// Helpers shared by the unit tests.
#include <windows.h>
#include "base/JsonText.h"
#include "support/wait_until.h"

#include <json/json.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

// A Linux path as Wine sees it (drive Z: is the Linux root).
inline std::wstring WinePath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return path;
}

// A file of the source tree, seen from Wine (drive Z: is the Linux root).
inline std::wstring SourcePath(const std::string& relative) {
    return WinePath(std::string(ORBALA_SOURCE_DIR) + "/" + relative);
}

#ifdef ORBALA_GENERATED_DIR
// A file the build generated (the deployment's header, the skin's product configuration as
// setup.exe carries it: "skin/configure/configure.xml"), seen from Wine.
inline std::wstring GeneratedPath(const std::string& relative) {
    return WinePath(std::string(ORBALA_GENERATED_DIR) + "/" + relative);
}
#endif

inline void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr);
    CloseHandle(h);
}

// The JSON value of a text; null (or partly filled) when it does not parse.
// The JSON value of text (null when it is not JSON).
inline Json::Value ParseJson(const std::string& text) {
    Json::Value v;
    JsonText::Parse(text, v);
    return v;
}

// Names of the files (not folders) in a folder.
inline std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

inline std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A fresh empty folder under the temporary folder, removed with its files when the object goes.
class TempDir {
public:
    TempDir() {
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        // Process ids repeat under Wine, so the clock makes the name unique across runs.
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        path_ = std::wstring(base) + L"orbala_ut_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(now.QuadPart) + L"_" + std::to_wstring(counter()++);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempDir() { Remove(path_); }
    const std::wstring& path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    static int& counter() { static int c = 0; return c; }
    static void Remove(const std::wstring& dir) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = fd.cFileName;
                if (name == L"." || name == L"..") continue;
                std::wstring full = dir + L"\\" + name;
                // A link is removed itself, never what it leads to.
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    if (!RemoveDirectoryW(full.c_str())) DeleteFileW(full.c_str());
                } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    Remove(full);
                } else {
                    DeleteFileW(full.c_str());
                }
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring path_;
};

// The Linux path of a Windows path (Wine's own kernel32 export); empty when there is none.
inline std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = fn ? fn(path.c_str()) : nullptr;
    if (!unix) return std::string();
    std::string text(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return text;
}

// Makes link (which must not exist) lead to target, a folder or a file, as a junction or a symbolic
// link a user made would. Wine makes neither through its API, but it shows a Linux symbolic link
// with a reparse point and follows it like a junction: so the link is made by Linux's ln.
inline bool MakeLink(const std::wstring& target, const std::wstring& link) {
    std::string from = UnixPath(target), to = UnixPath(link);
    if (from.empty() || to.empty()) return false;
    std::wstring command = L"ln -s \"" + std::wstring(from.begin(), from.end()) + L"\" \"" +
                           std::wstring(to.begin(), to.end()) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // Wine does not wait for a Linux program through its process handle: wait for the link.
    return WaitUntil([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
}

// Every file below a folder, links not followed (paths relative to it).
inline std::vector<std::wstring> FilesBelow(const std::wstring& folder, const std::wstring& prefix = L"") {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return files;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(prefix + name);
        } else if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            for (const std::wstring& f : FilesBelow(folder + L"\\" + name, prefix + name + L"\\")) files.push_back(f);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return files;
}

}  // namespace test_support
