#pragma once
// The skin folder of the source tree as the toolkit's skin archive, zipped in memory the way the
// build packs it into setup.exe, so window tests read the same layouts, language files and images.
#include <minizip/zip.h>

#include <map>
#include <string>
#include <vector>

#include "DuiLib/Core/UIManager.h"
#include "base/TextCodec.h"
#include "support/test_support.h"

namespace test_support {

namespace detail {
// Adds every file under folder to the archive as relative/name (forward slashes); an entry named
// in replaced gets that content instead of the file's.
inline void ZipFolder(zipFile zip, const std::wstring& folder, const std::string& relative,
                      const std::map<std::string, std::string>& replaced) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string entry = (relative.empty() ? "" : relative + "/") + TextCodec::WideToUtf8(name);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ZipFolder(zip, folder + L"\\" + name, entry, replaced);
            continue;
        }
        auto replacement = replaced.find(entry);
        std::string bytes = replacement != replaced.end() ? replacement->second : ReadFile(folder + L"\\" + name);
        zip_fileinfo info{};
        zipOpenNewFileInZip(zip, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1);
        zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size()));
        zipCloseFileInZip(zip);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}
}  // namespace detail

// The bytes of a ZIP archive holding these entries (name, content): a skin of a test's own.
// Empty when it could not be made.
inline std::string ZipOf(const std::map<std::string, std::string>& entries) {
    TempDir dir;
    std::string path = TextCodec::WideToAnsi(dir.File(L"skin.zip"));
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return std::string();
    bool ok = true;
    for (const auto& e : entries) {
        zip_fileinfo info{};
        ok = ok && zipOpenNewFileInZip(zip, e.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, e.second.data(), static_cast<unsigned>(e.second.size())) == ZIP_OK;
        zipCloseFileInZip(zip);
    }
    ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    return ok ? ReadFile(dir.File(L"skin.zip")) : std::string();
}

// The bytes of a ZIP archive of the source tree's skin folder, with some entries replaced.
inline std::string MakeSkinArchive(const std::map<std::string, std::string>& replaced) {
    TempDir dir;
    std::string path = TextCodec::WideToAnsi(dir.File(L"skin.zip"));
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return std::string();
    detail::ZipFolder(zip, SourcePath("skin"), "", replaced);
    zipClose(zip, nullptr);
    return ReadFile(dir.File(L"skin.zip"));
}

// The source tree's skin (made once per test binary).
inline const std::string& SourceSkinArchive() {
    static const std::string bytes = MakeSkinArchive({});
    return bytes;
}

// The product configuration of the source skin with some labels' texts changed
// ({"ChooseLicense", "0"}).
inline std::string ConfigureWith(const std::map<std::string, std::string>& labels) {
    std::string xml = ReadFile(SourcePath("skin/configure/configure.xml"));
    for (const auto& label : labels) {
        const std::string opening = "name=\"" + label.first + "\" text=\"";
        size_t at = xml.find(opening);
        if (at == std::string::npos) continue;
        at += opening.size();
        xml.replace(at, xml.find('"', at) - at, label.second);
    }
    return xml;
}

// Hands the toolkit the source skin with changed configuration labels.
inline bool UseSourceSkinWith(const std::map<std::string, std::string>& labels) {
    std::string bytes = MakeSkinArchive({{"configure/configure.xml", ConfigureWith(labels)}});
    return !bytes.empty() && DuiLib::CPaintManagerUI::SetResourceZip(bytes.data(), bytes.size());
}
// Hands the source tree's skin to the toolkit, as start-up hands it the resource of setup.exe.
inline bool UseSourceSkin() {
    const std::string& bytes = SourceSkinArchive();
    return !bytes.empty() && DuiLib::CPaintManagerUI::SetResourceZip(bytes.data(), bytes.size());
}

}  // namespace test_support
