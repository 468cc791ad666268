#include "logupload/CZipWriter.h"

#include <windows.h>

#include <minizip/zip.h>
// after zip.h: it needs zlib's declarations
#include <minizip/iowin32.h>

#include <vector>

#include "base/ScopedHandle.h"

namespace {

// General purpose flag bit 11: the entry name is UTF-8.
constexpr unsigned long kUtf8NameFlag = 1ul << 11;
// "Made by" version: 2.0 on MS-DOS/Windows attributes, as plain writers of deflate archives say.
constexpr unsigned long kVersionMadeBy = 20;

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

void EntryDate(HANDLE file, zip_fileinfo& info) {
    FILETIME written{}, local{};
    SYSTEMTIME t{};
    if (!GetFileTime(file, nullptr, nullptr, &written) || !FileTimeToLocalFileTime(&written, &local) ||
        !FileTimeToSystemTime(&local, &t))
        GetLocalTime(&t);
    info.tmz_date.tm_sec = t.wSecond;
    info.tmz_date.tm_min = t.wMinute;
    info.tmz_date.tm_hour = t.wHour;
    info.tmz_date.tm_mday = t.wDay;
    info.tmz_date.tm_mon = t.wMonth - 1;
    info.tmz_date.tm_year = t.wYear;
}

}  // namespace

CZipWriter::~CZipWriter() { Close(); }

bool CZipWriter::Create(const std::wstring& archivePath) {
    Close();
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    m_zip = zipOpen2_64(archivePath.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
    return m_zip != nullptr;
}

CZipWriter::AddResult CZipWriter::AddFile(const std::wstring& sourcePath, const std::string& entryName) {
    if (m_zip == nullptr) return AddResult::WriteFailed;
    ScopedHandle source(CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!source || !GetFileSizeEx(source.get(), &size)) return AddResult::SourceMissing;

    zip_fileinfo info{};
    EntryDate(source.get(), info);
    const int zip64 = size.QuadPart >= 0xffffffffLL ? 1 : 0;
    int rc = zipOpenNewFileInZip4_64(m_zip, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                     Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                     kVersionMadeBy, IsAscii(entryName) ? 0 : kUtf8NameFlag, zip64);
    if (rc != ZIP_OK) return AddResult::WriteFailed;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            rc = ZIP_ERRNO;
            break;
        }
        if (read == 0) break;
        rc = zipWriteInFileInZip(m_zip, buffer.data(), read);
        if (rc != ZIP_OK) break;
    }
    int closed = zipCloseFileInZip(m_zip);
    return rc == ZIP_OK && closed == ZIP_OK ? AddResult::Added : AddResult::WriteFailed;
}

bool CZipWriter::Close() {
    if (m_zip == nullptr) return true;
    int rc = zipClose(m_zip, nullptr);
    m_zip = nullptr;
    return rc == ZIP_OK;
}
