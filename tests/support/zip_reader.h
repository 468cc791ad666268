#pragma once
// Reads ZIP archives back (minizip's reader) and decodes the base64 file parts of the local
// services' request record, so tests can look inside an uploaded archive.
#include <windows.h>

#include <minizip/unzip.h>
// after unzip.h: it needs zlib's declarations
#include <minizip/iowin32.h>

#include <string>
#include <utility>
#include <vector>

namespace zip_reader {

using Entries = std::vector<std::pair<std::string, std::string>>;  // name, content, in archive order

// The entries of the archive at path; false when it is not a readable archive (or an entry's
// data fails its CRC check).
inline bool ReadEntries(const std::wstring& path, Entries& entries) {
    entries.clear();
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    unzFile zip = unzOpen2_64(path.c_str(), &io);
    if (zip == nullptr) return false;
    bool ok = true;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        char name[1024] = {};
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK ||
            unzOpenCurrentFile(zip) != UNZ_OK) {
            ok = false;
            break;
        }
        std::string content;
        char buffer[65536];
        int n;
        while ((n = unzReadCurrentFile(zip, buffer, sizeof(buffer))) > 0) content.append(buffer, n);
        if (n < 0 || unzCloseCurrentFile(zip) != UNZ_OK) ok = false;  // UNZ_CRCERROR among others
        entries.emplace_back(name, content);
    }
    unzClose(zip);
    return ok;
}

inline std::vector<std::string> Names(const Entries& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.first);
    return names;
}

inline std::string Base64Decode(const std::string& text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    int bits = 0, have = 0;
    for (char c : text) {
        int v = value(c);
        if (v < 0) continue;
        bits = (bits << 6) | v;
        have += 6;
        if (have >= 8) {
            have -= 8;
            out.push_back(static_cast<char>((bits >> have) & 0xFF));
        }
    }
    return out;
}

}  // namespace zip_reader
