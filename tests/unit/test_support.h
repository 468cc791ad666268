#pragma once
// Helpers shared by the unit tests.
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// A file of the source tree, seen from Wine (drive Z: is the Linux root).
inline std::wstring SourcePath(const std::string& relative) {
    std::string unix = std::string(ORBALA_SOURCE_DIR) + "/" + relative;
    std::wstring path = L"Z:";
    for (char c : unix) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return path;
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
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Remove(full); else DeleteFileW(full.c_str());
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring path_;
};

}  // namespace test_support
