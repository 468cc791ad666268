#pragma once
// The persistent queue file "tempga.wk": every event not yet delivered, as one JSON object
// {"send_count": n, "send_item": [{"task_guid", "task_status", "task_content"}, ...]} written by
// jsoncpp's StyledWriter.
//
// Every change reads, changes and writes the whole file under a named mutex derived from the
// file's path, so the callers' threads, the sending thread and other processes (the
// "-sendrestlogs" copy, a second start) never lose each other's entries. The file is written
// to a new file beside it that then replaces it, so a crash mid-write leaves the previous file
// whole. A file that does not parse is kept beside (".damaged-<ms>") and the entries that can
// still be read from it are carried over.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <json/json.h>

class CSdkLog;

class CQueueFile {
public:
    static constexpr int kStatusWaiting = 0;
    static constexpr int kStatusDelivered = 2;

    struct Entry {
        Json::Value raw;  // the entry as filed (an object, or whatever a foreign writer left)
        std::string key;
        int status = 0;
        std::string content;
    };

    explicit CQueueFile(const std::wstring& path, CSdkLog* log = nullptr);
    ~CQueueFile();
    CQueueFile(const CQueueFile&) = delete;
    CQueueFile& operator=(const CQueueFile&) = delete;

    const std::wstring& Path() const { return m_path; }

    // Status 0 adds the entry or refreshes the one with the same key; status 2 removes it.
    // False when the file could not be read or written (nothing was changed then).
    bool Update(const std::string& key, const std::string& content, int status);

    // The filed entries, oldest first (after recovering a damaged file). False when the file
    // exists but cannot be read.
    bool ReadEntries(std::vector<Entry>& entries);

    // Name of the mutex that guards the file at this path (case-insensitive path hash).
    static std::wstring MutexNameFor(const std::wstring& path);
    // Entries that can still be read from a damaged file's text: each complete object of the
    // "send_item" array that parses on its own and has a text "task_guid".
    static Json::Value SalvageEntries(const std::string& text);

private:
    struct Stamp {
        DWORD volume = 0, indexHigh = 0, indexLow = 0, sizeHigh = 0, sizeLow = 0;
        FILETIME written = {};
        bool operator==(const Stamp& o) const;
    };
    enum class LoadResult { Ok, Unreadable };

    LoadResult LoadLocked(Json::Value& doc);
    bool WriteLocked(const Json::Value& doc);
    bool ReadStamp(HANDLE file, Stamp& stamp) const;
    void KeepDamagedFile();

    std::wstring m_path;
    CSdkLog* m_log;
    HANDLE m_mutex = nullptr;
    // The document as this object last read or wrote it, and the file it came from; reused
    // while the file is unchanged, so a growing queue is not parsed again at every offer.
    bool m_haveCache = false;
    Stamp m_cacheStamp;
    Json::Value m_cache;
};
