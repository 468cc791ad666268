#pragma once
// Writes a standard ZIP archive (deflate) with minizip over zlib: files from disk become entries
// under names of the caller's choice. Paths are wide, so any path Windows takes works.
#include <string>

class CZipWriter {
public:
    CZipWriter() = default;
    ~CZipWriter();  // closes an archive still open
    CZipWriter(const CZipWriter&) = delete;
    CZipWriter& operator=(const CZipWriter&) = delete;

    // Creates (or replaces) the archive. False when it cannot be created.
    bool Create(const std::wstring& archivePath);
    enum class AddResult { Added, SourceMissing, WriteFailed };
    // Adds the file's content as an entry (no folder part in the name expected; UTF-8, marked as
    // such when it is not plain ASCII), dated with the file's last write time. A file that
    // cannot be opened adds nothing (SourceMissing); WriteFailed means the archive is damaged.
    // The source may be open elsewhere, also for writing (a log in use).
    AddResult AddFile(const std::wstring& sourcePath, const std::string& entryName);
    // Writes the central directory and closes the file. False when that failed.
    bool Close();

private:
    void* m_zip = nullptr;
};
