#pragma once
// The persistent queue file "tempga.wk": every event not yet delivered, as one JSON object
// {"send_count": n, "send_item": [{"task_guid", "task_status", "task_content"}, ...]} written by
// jsoncpp's StyledWriter.
//
// Offering and delivering an event only append one line to a journal beside the file
// ("tempga.wk.journal"): a compact JSON record {"task_guid", "task_status", "task_content"}
// with status 0 (add or refresh the entry) or 2 (remove it). An append costs the same however
// many events wait, and once it returned the record survives the writing process being killed.
// Folding applies the journal to the file in order and writes the file anew (a new file beside it
// that then replaces it), so "tempga.wk" keeps its format and stays readable on its own; a
// journal left by a crash is applied again, which changes nothing that was already applied.
// Readers see the file with the journal applied.
//
// A named mutex derived from the file's path guards every append, every read and the short
// steps of a fold, so the callers' threads, the sending thread and other processes (the
// "-sendrestlogs" copy, a second start) never lose each other's entries. A fold builds and
// writes the new file outside the mutex: an append never waits for a whole file to be written.
// A file that does not parse is kept beside (".damaged-<ms>", the newest few of them) and the
// entries that can still be read from it are carried over.
//
// The journal has a size bound: while folds fail (a file that cannot be replaced), an append
// that takes it past the bound compacts it (a removed entry's records go, a refreshed entry keeps
// its last record) and, when that is not enough, drops the oldest waiting entries' records, each
// drop logged, as the queue drops its oldest. A failure that repeats is logged once, until the
// next fold or update succeeds.
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <json/json.h>

class CSdkLog;

class CQueueFile {
public:
    static constexpr int kStatusWaiting = 0;
    static constexpr int kStatusDelivered = 2;
    // Copies of damaged files kept beside the queue file; older ones are deleted.
    static constexpr size_t kDamagedCopiesKept = 3;

    struct Entry {
        Json::Value raw;  // the entry as filed (an object, or whatever a foreign writer left)
        std::string key;
        int status = 0;
        std::string content;
    };

    // What a fold keeps: at most maxEntries (the oldest go first), none whose key time lies more
    // than maxAgeMs before nowMs (keys without a readable time are kept). 0 turns a limit off.
    struct Limits {
        size_t maxEntries = 0;
        int64_t maxAgeMs = 0;
        int64_t nowMs = 0;
    };
    struct Dropped {
        std::string key;
        bool tooOld = false;  // else: past the number of entries kept
    };

    // A journal of this size holds the records of about 1,500 events, past the queue's 1,000.
    static constexpr uint64_t kMaxJournalBytes = 2 * 1024 * 1024;

    explicit CQueueFile(const std::wstring& path, CSdkLog* log = nullptr);
    void SetJournalLimit(uint64_t bytes) { m_maxJournalBytes = bytes; }
    ~CQueueFile();
    CQueueFile(const CQueueFile&) = delete;
    CQueueFile& operator=(const CQueueFile&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring JournalPath() const { return m_path + L".journal"; }

    // Records a change in the journal: status 0 adds the entry or refreshes the one with the same
    // key, status 2 removes it; with moveLast, a refreshed entry also moves behind all others (a
    // task that failed all its attempts). Waits at most waitMs for the mutex. False when nothing
    // was recorded (busy or not writable).
    bool Append(const std::string& key, const std::string& content, int status, DWORD waitMs = kAppendWaitMs,
                bool moveLast = false);

    // Applies the journal to the file, then the change, and writes the file whole at once (the
    // journal is emptied). False when the file could not be read or written (nothing changed).
    bool Update(const std::string& key, const std::string& content, int status);

    // Applies the journal to the file, drops what the limits do not keep and writes the file;
    // the journal keeps only what was appended meanwhile. entries: what the file holds after the
    // fold (may be null); dropped: the entries the limits removed (may be null). False when the
    // file could not be read or written, or changed under the fold (nothing changed then).
    bool Fold(const Limits& limits, std::vector<Entry>* entries, std::vector<Dropped>* dropped);

    // The filed entries with the journal applied, oldest first (after recovering a damaged
    // file). False when the file exists but cannot be read.
    bool ReadEntries(std::vector<Entry>& entries);

    // Keys whose records the journal's bound dropped since the last call, for the caller to
    // forget them too.
    std::vector<std::string> TakeDroppedKeys();

    // Bytes waiting in the journal (0 when there is none).
    uint64_t JournalBytes() const;
    // Deletes new files that a writer killed before its rename left beside the queue file.
    void RemoveStrayNewFiles();

    // Name of the mutex that guards the file at this path (case-insensitive path hash).
    static std::wstring MutexNameFor(const std::wstring& path);
    // Entries that can still be read from a damaged file's text: each complete object of the
    // "send_item" array that parses on its own and has a text "task_guid".
    static Json::Value SalvageEntries(const std::string& text);
    // One journal record, line feeds included. A move is the member "task_move_last": true; a
    // reader that does not know it refreshes the entry in place.
    static std::string JournalRecord(const std::string& key, const std::string& content, int status,
                                     bool moveLast = false);

    static constexpr DWORD kAppendWaitMs = 500;

private:
    struct Stamp {
        bool exists = false;
        DWORD volume = 0, indexHigh = 0, indexLow = 0, sizeHigh = 0, sizeLow = 0;
        FILETIME written = {};
        bool operator==(const Stamp& o) const;
    };
    enum class LoadResult { Ok, Unreadable };

    LoadResult LoadLocked(Json::Value& doc);
    bool WriteLocked(const Json::Value& doc);
    bool WriteWhole(const std::wstring& temp, const std::string& text);
    bool ReadStamp(HANDLE file, Stamp& stamp) const;
    bool StampOfPath(Stamp& stamp) const;
    bool ReadJournalLocked(std::string& bytes) const;
    void KeepDamagedFile();
    // Compacts the journal past its bound (see above), under the mutex; false when it could not
    // be rewritten.
    bool BoundJournalLocked();
    // Logs a failure unless it is the same text as the last one logged; a success forgets it.
    void LogFailure(const char* format, ...) const
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void ForgetFailure();
    void PruneDamagedCopies();

    std::wstring m_path;
    CSdkLog* m_log;
    uint64_t m_maxJournalBytes = kMaxJournalBytes;
    mutable std::mutex m_failureLock;
    mutable std::string m_lastFailure;
    std::vector<std::string> m_droppedKeys;  // under m_failureLock
    HANDLE m_mutex = nullptr;
    // The document as this object last read or wrote it, and the file it came from; reused
    // while the file is unchanged, so a growing queue is not parsed again at every fold.
    bool m_haveCache = false;
    Stamp m_cacheStamp;
    Json::Value m_cache;
};
