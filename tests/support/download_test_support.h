#pragma once
// Helpers of the download engine tests: files served by the local services, their bytes, and
// the engine's reports.
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "download/DownloadEvents.h"
#include "base/DownloadSettings.h"
#include "support/local_services.h"

namespace dltest {

// The byte at a position of every served test file (not a round pattern).
inline uint8_t SourceByte(int64_t pos) { return uint8_t((uint64_t(pos) * 0x9E3779B97F4A7C15ull) >> 56); }
inline std::vector<char> SourceBytes(int64_t from, size_t n) {
    std::vector<char> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = char(SourceByte(from + int64_t(i)));
    return out;
}

inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }
inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Writes data at `at` and sets the file's size (bytes in between stay sparse).
inline bool WriteAt(const std::wstring& path, int64_t at, const std::vector<char>& data, int64_t size,
                    bool create = true) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, create ? CREATE_ALWAYS : OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER p;
    p.QuadPart = at;
    DWORD done = 0;
    bool ok = SetFilePointerEx(h, p, nullptr, FILE_BEGIN) &&
              (data.empty() || (WriteFile(h, data.data(), DWORD(data.size()), &done, nullptr) && done == data.size()));
    if (size >= 0) {
        p.QuadPart = size;
        ok = ok && SetFilePointerEx(h, p, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    }
    CloseHandle(h);
    return ok;
}

inline std::vector<char> ReadAt(const std::wstring& path, int64_t at, size_t n) {
    std::vector<char> out(n);
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f || _fseeki64(f, at, SEEK_SET) != 0) out.clear();
    else out.resize(fread(out.data(), 1, n, f));
    if (f) fclose(f);
    return out;
}

inline int64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a)) return -1;
    return (int64_t(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

// Serves a file of the test pattern under /download/name.
inline bool Serve(const std::string& name, int64_t size) {
    std::wstring path = Wide(LocalServices::Root()) + L"\\" + Wide(name);
    return WriteAt(path, 0, SourceBytes(0, size_t(size)), size);
}
inline std::wstring ServedPath(const std::string& name) { return Wide(LocalServices::Root()) + L"\\" + Wide(name); }

// Collects the engine's reports while alive, as "kind|category|action|label".
class Reports {
public:
    Reports() {
        DownloadEvents::SetObserver([this](const std::string& k, const std::string& c, const std::string& a,
                                           const std::string& l) {
            std::lock_guard<std::mutex> lock(m_);
            all_.push_back(k + "|" + c + "|" + a + "|" + l);
        });
    }
    ~Reports() { DownloadEvents::SetObserver(nullptr); }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> lock(m_);
        return all_;
    }
    int count(const std::string& line) {
        int n = 0;
        for (const auto& l : all()) n += l == line;
        return n;
    }

private:
    std::mutex m_;
    std::vector<std::string> all_;
};

// Restores the download settings record when a test is over.
class SettingsGuard {
public:
    SettingsGuard() : saved_(GetDownloadSettings()) {}
    ~SettingsGuard() { GetDownloadSettings() = saved_; }

private:
    DownloadSettings saved_;
};

}  // namespace dltest
