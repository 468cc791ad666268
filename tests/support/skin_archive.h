#pragma once
// The skin folder of the source tree as the toolkit's skin archive, zipped in memory the way the
// build packs it into setup.exe, so window tests read the same layouts, language files and images.
#include <minizip/zip.h>

#include <string>
#include <vector>

#include "DuiLib/Core/UIManager.h"
#include "base/TextCodec.h"
#include "support/test_support.h"

namespace test_support {

namespace detail {
// Adds every file under folder to the archive as relative/name (forward slashes).
inline void ZipFolder(zipFile zip, const std::wstring& folder, const std::string& relative) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string entry = (relative.empty() ? "" : relative + "/") + TextCodec::WideToUtf8(name);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ZipFolder(zip, folder + L"\\" + name, entry);
            continue;
        }
        std::string bytes = ReadFile(folder + L"\\" + name);
        zip_fileinfo info{};
        zipOpenNewFileInZip(zip, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1);
        zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size()));
        zipCloseFileInZip(zip);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}
}  // namespace detail

// The bytes of a ZIP archive of the source tree's skin folder (made once per test binary).
inline const std::string& SourceSkinArchive() {
    static const std::string bytes = [] {
        TempDir dir;
        std::string path = TextCodec::WideToAnsi(dir.File(L"skin.zip"));
        zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
        if (!zip) return std::string();
        detail::ZipFolder(zip, SourcePath("skin"), "");
        zipClose(zip, nullptr);
        return ReadFile(dir.File(L"skin.zip"));
    }();
    return bytes;
}

// Hands the source tree's skin to the toolkit, as start-up hands it the resource of setup.exe.
inline bool UseSourceSkin() {
    const std::string& bytes = SourceSkinArchive();
    return !bytes.empty() && DuiLib::CPaintManagerUI::SetResourceZip(bytes.data(), bytes.size());
}

}  // namespace test_support
