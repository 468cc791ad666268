#include "ReportSDK/CQueueFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <memory>
#include <unordered_map>

#include "ReportSDK/CSdkLog.h"
#include "ReportSDK/ReportFormat.h"
#include "base/JsonText.h"
#include "base/TextCodec.h"

namespace {

constexpr DWORD kLockWaitMs = 30000;  // a whole-file update, or a fold's short steps
constexpr int kIoAttempts = 5;        // a scanner or indexer may hold the file for a moment
constexpr DWORD kIoPauseMs = 20;

// Holds the named mutex for one read-change-write. An abandoned mutex (its holder died) is
// owned all the same: the file it guarded is whole, because writes replace it in one step, and
// a journal record cut short by the death is skipped when read.
class NamedLock {
public:
    NamedLock(HANDLE mutex, DWORD waitMs) : m_mutex(mutex) {
        DWORD r = mutex ? WaitForSingleObject(mutex, waitMs) : WAIT_FAILED;
        m_owned = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    ~NamedLock() {
        if (m_owned) ReleaseMutex(m_mutex);
    }
    bool owned() const { return m_owned; }

private:
    HANDLE m_mutex;
    bool m_owned = false;
};

bool ParseDocument(const std::string& text, Json::Value& doc) {
    Json::Value parsed;
    if (!JsonText::Parse(text, parsed)) return false;
    if (!parsed.isObject()) return false;
    const Json::Value* items = parsed.find("send_item", "send_item" + 9);
    if (items && !items->isArray() && !items->isNull()) return false;
    doc = parsed;
    return true;
}

Json::Value EmptyDocument() {
    Json::Value doc(Json::objectValue);
    doc["send_count"] = 0;
    doc["send_item"] = Json::Value(Json::arrayValue);
    return doc;
}

std::string StyledText(const Json::Value& doc) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::StyledWriter writer;
    return writer.write(doc);
#pragma GCC diagnostic pop
}

std::string TextMember(const Json::Value& object, const char* name) {
    const Json::Value* v = object.find(name, name + strlen(name));
    return v && v->isString() ? v->asString() : std::string();
}

// The queue's entries with journal records applied in order: an entry is found by its key (the
// first entry with that key), refreshed in place or appended, and removed by a status 2 record.
class Merge {
public:
    explicit Merge(const Json::Value& items) {
        if (!items.isArray()) return;
        for (const Json::Value& item : items) Push(item);
    }

    void Apply(const std::string& key, int status, const std::string& content, bool moveLast = false) {
        auto found = m_index.find(key);
        bool exists = found != m_index.end() && !found->second.empty();
        if (status == CQueueFile::kStatusDelivered) {
            if (exists) {
                m_alive[found->second.front()] = false;
                found->second.pop_front();
            }
            return;
        }
        if (exists && moveLast) {
            size_t at = found->second.front();
            Json::Value entry = m_items[at];
            m_alive[at] = false;
            found->second.pop_front();
            entry["task_status"] = status;
            entry["task_content"] = content;
            Push(entry);
            return;
        }
        if (exists) {
            Json::Value& entry = m_items[found->second.front()];
            entry["task_status"] = status;
            entry["task_content"] = content;
            return;
        }
        Json::Value entry(Json::objectValue);
        entry["task_guid"] = key;
        entry["task_status"] = status;
        entry["task_content"] = content;
        Push(entry);
    }

    // Applies every whole record of the journal; returns the number of lines that were no record
    // (a record cut short by a killed writer).
    int ApplyJournal(const std::string& bytes) {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        int bad = 0;
        size_t from = 0;
        while (from < bytes.size()) {
            size_t end = bytes.find('\n', from);
            if (end == std::string::npos) {
                ++bad;  // no line end: cut short
                break;
            }
            if (end > from) {
                Json::Value record;
                std::string errors;
                if (reader->parse(bytes.data() + from, bytes.data() + end, &record, &errors) && record.isObject() &&
                    record["task_guid"].isString() && record["task_status"].isInt())
                    Apply(record["task_guid"].asString(), record["task_status"].asInt(), TextMember(record, "task_content"),
                          record["task_move_last"].isBool() && record["task_move_last"].asBool());
                else
                    ++bad;
            }
            from = end + 1;
        }
        return bad;
    }

    void Limit(const CQueueFile::Limits& limits, std::vector<CQueueFile::Dropped>* dropped) {
        if (limits.maxAgeMs > 0) {
            for (size_t i = 0; i < m_items.size(); ++i) {
                if (!m_alive[i] || !m_items[i].isObject()) continue;
                std::string key = TextMember(m_items[i], "task_guid");
                int64_t time = ReportFormat::KeyTimeMillis(ReportFormat::SplitKey(key).time);
                if (time == 0 || limits.nowMs - time <= limits.maxAgeMs) continue;  // no readable time: kept
                Drop(i, key, true, dropped);
            }
        }
        if (limits.maxEntries > 0) {
            size_t alive = size_t(std::count(m_alive.begin(), m_alive.end(), true));
            for (size_t i = 0; i < m_items.size() && alive > limits.maxEntries; ++i) {
                if (!m_alive[i]) continue;
                Drop(i, m_items[i].isObject() ? TextMember(m_items[i], "task_guid") : std::string(), false, dropped);
                --alive;
            }
        }
    }

    Json::Value Document() const {
        Json::Value items(Json::arrayValue);
        for (size_t i = 0; i < m_items.size(); ++i)
            if (m_alive[i]) items.append(m_items[i]);
        Json::Value doc(Json::objectValue);
        doc["send_count"] = Json::UInt(items.size());
        doc["send_item"] = items;
        return doc;
    }

private:
    void Push(const Json::Value& item) {
        m_items.push_back(item);
        m_alive.push_back(true);
        if (item.isObject()) {
            const Json::Value* guid = item.find("task_guid", "task_guid" + 9);
            if (guid && guid->isString()) m_index[guid->asString()].push_back(m_items.size() - 1);
        }
    }
    void Drop(size_t i, const std::string& key, bool tooOld, std::vector<CQueueFile::Dropped>* dropped) {
        m_alive[i] = false;
        auto found = m_index.find(key);
        if (found != m_index.end()) {
            auto& positions = found->second;
            positions.erase(std::remove(positions.begin(), positions.end(), i), positions.end());
        }
        if (dropped) dropped->push_back({key, tooOld});
    }

    std::vector<Json::Value> m_items;
    std::vector<bool> m_alive;
    std::unordered_map<std::string, std::deque<size_t>> m_index;
};

void EntriesOf(const Json::Value& doc, std::vector<CQueueFile::Entry>& entries) {
    entries.clear();
    const Json::Value& items = doc["send_item"];
    if (!items.isArray()) return;
    for (const Json::Value& item : items) {
        CQueueFile::Entry e;
        e.raw = item;
        if (item.isObject()) {
            const Json::Value& status = item["task_status"];
            e.key = TextMember(item, "task_guid");
            e.status = status.isInt() ? status.asInt() : 0;
            e.content = TextMember(item, "task_content");
        }
        entries.push_back(std::move(e));
    }
}

}  // namespace

bool CQueueFile::Stamp::operator==(const Stamp& o) const {
    if (exists != o.exists) return false;
    if (!exists) return true;
    return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow && sizeHigh == o.sizeHigh &&
           sizeLow == o.sizeLow && CompareFileTime(&written, &o.written) == 0;
}

CQueueFile::CQueueFile(const std::wstring& path, CSdkLog* log) : m_path(path), m_log(log) {
    m_mutex = CreateMutexW(nullptr, FALSE, MutexNameFor(path).c_str());
}

CQueueFile::~CQueueFile() {
    if (m_mutex) CloseHandle(m_mutex);
}

std::wstring CQueueFile::MutexNameFor(const std::wstring& path) {
    // FNV-1a over the upper-cased path: one name per file, whatever the spelling of its case.
    uint64_t hash = 1469598103934665603ULL;
    for (wchar_t c : path) {
        wchar_t u = c == L'/' ? L'\\' : static_cast<wchar_t>(towupper(c));
        hash = (hash ^ uint64_t(u)) * 1099511628211ULL;
    }
    wchar_t name[64] = {};
    swprintf(name, 64, L"ReportSdkQueueFile_%016llx", static_cast<unsigned long long>(hash));
    return name;
}

std::string CQueueFile::JournalRecord(const std::string& key, const std::string& content, int status,
                                      bool moveLast) {
    Json::Value record(Json::objectValue);
    record["task_guid"] = key;
    record["task_status"] = status;
    if (status != kStatusDelivered) record["task_content"] = content;
    if (moveLast && status != kStatusDelivered) record["task_move_last"] = true;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;  // the bytes as they are; line feeds inside texts are escaped
    // The leading line feed ends whatever a killed writer may have left half written, so that a
    // cut record never swallows the next one.
    return "\n" + Json::writeString(builder, record) + "\n";
}

bool CQueueFile::ReadStamp(HANDLE file, Stamp& stamp) const {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info)) return false;
    stamp.exists = true;
    stamp.volume = info.dwVolumeSerialNumber;
    stamp.indexHigh = info.nFileIndexHigh;
    stamp.indexLow = info.nFileIndexLow;
    stamp.sizeHigh = info.nFileSizeHigh;
    stamp.sizeLow = info.nFileSizeLow;
    stamp.written = info.ftLastWriteTime;
    return true;
}

bool CQueueFile::StampOfPath(Stamp& stamp) const {
    stamp = Stamp();
    HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;  // a missing file has a stamp too
    }
    bool ok = ReadStamp(file, stamp);
    CloseHandle(file);
    return ok;
}

CQueueFile::LoadResult CQueueFile::LoadLocked(Json::Value& doc) {
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kIoAttempts; ++attempt) {
        file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            doc = EmptyDocument();
            m_haveCache = true;
            m_cacheStamp = Stamp();  // "no file"
            m_cache = doc;
            return LoadResult::Ok;
        }
        Sleep(kIoPauseMs);
    }
    if (file == INVALID_HANDLE_VALUE) {
        LogFailure("Queue file cannot be opened, error %lu", GetLastError());
        return LoadResult::Unreadable;
    }

    Stamp stamp;
    bool haveStamp = ReadStamp(file, stamp);
    if (haveStamp && m_haveCache && stamp == m_cacheStamp) {
        CloseHandle(file);
        doc = m_cache;
        return LoadResult::Ok;
    }

    std::string text;
    bool readOk = true;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) {
            readOk = false;
            break;
        }
        if (got == 0) break;
        text.append(buffer, got);
    }
    CloseHandle(file);
    if (!readOk) {
        LogFailure("Queue file cannot be read, error %lu", GetLastError());
        return LoadResult::Unreadable;
    }

    if (text.empty()) {
        doc = EmptyDocument();
    } else if (!ParseDocument(text, doc)) {
        Json::Value items = SalvageEntries(text);
        KeepDamagedFile();
        doc = EmptyDocument();
        doc["send_item"] = items;
        doc["send_count"] = Json::UInt(items.size());
        m_haveCache = false;
        // Write the recovered entries at once, so the damaged text is not met again.
        WriteLocked(doc);
        return LoadResult::Ok;
    }
    m_haveCache = haveStamp;
    m_cacheStamp = stamp;
    m_cache = doc;
    return LoadResult::Ok;
}

void CQueueFile::KeepDamagedFile() {
    wchar_t suffix[40] = {};
    swprintf(suffix, 40, L".damaged-%llu", static_cast<unsigned long long>(GetTickCount64()));
    std::wstring aside = m_path + suffix;
    bool kept = MoveFileExW(m_path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (m_log)
        m_log->Write("Queue file damaged, %s %s", kept ? "kept as" : "could not be moved to",
                     TextCodec::WideToUtf8(aside).c_str());
    PruneDamagedCopies();
}

void CQueueFile::PruneDamagedCopies() {
    // Newest first by the time the damaged text was last written (the move keeps it); the tick
    // count in the name starts again at every boot, so it cannot order copies of several boots.
    struct Copy {
        std::wstring path;
        FILETIME written;
    };
    std::vector<Copy> copies;
    size_t slash = m_path.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : m_path.substr(0, slash + 1);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((m_path + L".damaged-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            copies.push_back({folder + found.cFileName, found.ftLastWriteTime});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (copies.size() <= kDamagedCopiesKept) return;
    std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) {
        int order = CompareFileTime(&a.written, &b.written);
        return order != 0 ? order > 0 : a.path > b.path;
    });
    for (size_t i = kDamagedCopiesKept; i < copies.size(); ++i) {
        bool deleted = DeleteFileW(copies[i].path.c_str()) != FALSE;
        if (m_log)
            m_log->Write("Old damaged queue file %s %s", deleted ? "deleted:" : "could not be deleted:",
                         TextCodec::WideToUtf8(copies[i].path).c_str());
    }
}

bool CQueueFile::WriteWhole(const std::wstring& temp, const std::string& text) {
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogFailure("Queue file cannot be written, error %lu", GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
    ok = ok && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok) {
        LogFailure("Queue file cannot be written, error %lu", GetLastError());
        DeleteFileW(temp.c_str());
    }
    return ok;
}

bool CQueueFile::WriteLocked(const Json::Value& doc) {
    std::wstring temp = m_path + L".new";
    if (!WriteWhole(temp, StyledText(doc))) {
        m_haveCache = false;
        return false;
    }
    bool ok = false;
    for (int attempt = 0; attempt < kIoAttempts && !ok; ++attempt) {
        ok = MoveFileExW(temp.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        if (!ok) Sleep(kIoPauseMs);
    }
    if (!ok) {
        LogFailure("Queue file cannot be replaced, error %lu", GetLastError());
        DeleteFileW(temp.c_str());
        m_haveCache = false;
        return false;
    }
    m_haveCache = StampOfPath(m_cacheStamp) && m_cacheStamp.exists;
    if (m_haveCache) m_cache = doc;
    return true;
}

bool CQueueFile::ReadJournalLocked(std::string& bytes) const {
    bytes.clear();
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kIoAttempts; ++attempt) {
        file = CreateFileW(JournalPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        Sleep(kIoPauseMs);
    }
    if (file == INVALID_HANDLE_VALUE) {
        LogFailure("Queue journal cannot be opened, error %lu", GetLastError());
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    if (!ok) LogFailure("Queue journal cannot be read, error %lu", GetLastError());
    return ok;
}

uint64_t CQueueFile::JournalBytes() const {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(JournalPath().c_str(), GetFileExInfoStandard, &data)) return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool CQueueFile::Append(const std::string& key, const std::string& content, int status, DWORD waitMs,
                        bool moveLast) {
    std::string record = JournalRecord(key, content, status, moveLast);
    NamedLock lock(m_mutex, waitMs);
    if (!lock.owned()) {
        if (m_log) m_log->Write("Queue file busy, %s not filed", key.c_str());
        return false;
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kIoAttempts; ++attempt) {
        file = CreateFileW(JournalPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        Sleep(kIoPauseMs);
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (m_log) m_log->Write("Queue journal cannot be opened, error %lu, %s not filed", GetLastError(), key.c_str());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, record.data(), DWORD(record.size()), &written, nullptr) && written == record.size();
    LARGE_INTEGER size = {};
    bool sized = ok && GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!ok && m_log) m_log->Write("Queue journal cannot be written, error %lu, %s not filed", GetLastError(), key.c_str());
    // Only a journal that folds keep failing to empty grows this far.
    if (sized && m_maxJournalBytes > 0 && uint64_t(size.QuadPart) > m_maxJournalBytes) BoundJournalLocked();
    return ok;
}

bool CQueueFile::BoundJournalLocked() {
    std::string bytes;
    if (!ReadJournalLocked(bytes)) return false;
    struct Record {
        std::string key;
        int status;
        std::string content;
        bool moveLast;
        bool alive;
    };
    std::vector<Record> records;
    std::unordered_map<std::string, size_t> lastAdd;  // key -> its live status 0 record
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    for (size_t from = 0; from < bytes.size();) {
        size_t end = bytes.find('\n', from);
        if (end == std::string::npos) break;  // cut short: skipped, as a fold skips it
        Json::Value r;
        std::string errors;
        if (end > from && reader->parse(bytes.data() + from, bytes.data() + end, &r, &errors) && r.isObject() &&
            r["task_guid"].isString() && r["task_status"].isInt()) {
            Record rec{r["task_guid"].asString(), r["task_status"].asInt(), TextMember(r, "task_content"),
                       r["task_move_last"].isBool() && r["task_move_last"].asBool(), true};
            auto found = lastAdd.find(rec.key);
            if (rec.status == kStatusDelivered) {
                // The removal stays (the file may hold the entry); the records before it go.
                if (found != lastAdd.end()) {
                    records[found->second].alive = false;
                    lastAdd.erase(found);
                }
                records.push_back(rec);
            } else if (found != lastAdd.end() && !rec.moveLast) {
                records[found->second].content = rec.content;  // refreshed where it stands
                records[found->second].status = rec.status;
            } else {
                if (found != lastAdd.end()) records[found->second].alive = false;
                lastAdd[rec.key] = records.size();
                records.push_back(rec);
            }
        }
        from = end + 1;
    }
    std::vector<std::string> lines(records.size());
    uint64_t total = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!records[i].alive) continue;
        lines[i] = JournalRecord(records[i].key, records[i].content, records[i].status, records[i].moveLast);
        total += lines[i].size();
    }
    // Down to three quarters of the bound, so that the next appends do not compact again at once.
    uint64_t target = m_maxJournalBytes - m_maxJournalBytes / 4;
    std::vector<std::string> dropped;
    for (size_t i = 0; i < records.size() && total > target; ++i) {
        if (!records[i].alive || records[i].status == kStatusDelivered) continue;
        records[i].alive = false;
        total -= lines[i].size();
        dropped.push_back(records[i].key);
    }
    std::string text;
    text.reserve(size_t(total));
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].alive) text += lines[i];
    std::wstring temp = JournalPath() + L".new";
    if (!WriteWhole(temp, text)) return false;
    if (!MoveFileExW(temp.c_str(), JournalPath().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        LogFailure("Queue journal cannot be replaced, error %lu", GetLastError());
        DeleteFileW(temp.c_str());
        return false;
    }
    if (m_log)
        for (const std::string& key : dropped)
            m_log->Write("Queue journal full (%llu bytes), dropped %s",
                         static_cast<unsigned long long>(m_maxJournalBytes), key.c_str());
    std::lock_guard<std::mutex> lock(m_failureLock);
    m_droppedKeys.insert(m_droppedKeys.end(), dropped.begin(), dropped.end());
    return true;
}

std::vector<std::string> CQueueFile::TakeDroppedKeys() {
    std::lock_guard<std::mutex> lock(m_failureLock);
    std::vector<std::string> keys;
    keys.swap(m_droppedKeys);
    return keys;
}

void CQueueFile::LogFailure(const char* format, ...) const {
    if (!m_log) return;
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    {
        std::lock_guard<std::mutex> lock(m_failureLock);
        if (m_lastFailure == message) return;  // logged already; the state has not changed
        m_lastFailure = message;
    }
    m_log->WriteText(message);
}

void CQueueFile::ForgetFailure() {
    std::lock_guard<std::mutex> lock(m_failureLock);
    m_lastFailure.clear();
}

bool CQueueFile::Update(const std::string& key, const std::string& content, int status) {
    NamedLock lock(m_mutex, kLockWaitMs);
    if (!lock.owned()) {
        if (m_log) m_log->Write("Queue file busy, update of %s skipped", key.c_str());
        return false;
    }
    Json::Value doc;
    if (LoadLocked(doc) != LoadResult::Ok) return false;
    std::string journal;
    if (!ReadJournalLocked(journal)) return false;
    Merge merge(doc["send_item"]);
    merge.ApplyJournal(journal);
    merge.Apply(key, status, content);
    if (!WriteLocked(merge.Document())) return false;
    if (!journal.empty()) DeleteFileW(JournalPath().c_str());  // applied: a leftover would only apply again
    ForgetFailure();
    return true;
}

bool CQueueFile::Fold(const Limits& limits, std::vector<Entry>* entries, std::vector<Dropped>* dropped) {
    if (dropped) dropped->clear();
    // 1. Under the mutex: the file as it is and the journal up to now.
    Json::Value doc;
    std::string journal;
    Stamp before;
    {
        NamedLock lock(m_mutex, kLockWaitMs);
        if (!lock.owned()) {
            LogFailure("Queue file busy, fold skipped");
            return false;
        }
        if (LoadLocked(doc) != LoadResult::Ok || !ReadJournalLocked(journal)) return false;
        if (!StampOfPath(before)) return false;
    }
    // 2. Without it: the merged document, written to a new file of this process.
    Merge merge(doc["send_item"]);
    int bad = merge.ApplyJournal(journal);
    if (bad) LogFailure("Queue journal: %d cut or unreadable record(s) skipped", bad);
    std::vector<Dropped> droppedHere;
    merge.Limit(limits, &droppedHere);
    Json::Value merged = merge.Document();
    if (journal.empty() && droppedHere.empty()) {
        if (entries) EntriesOf(merged, *entries);
        return true;  // nothing to fold
    }
    std::wstring temp = m_path + L".new-" + std::to_wstring(GetCurrentProcessId());
    if (!WriteWhole(temp, StyledText(merged))) return false;
    // 3. Under the mutex again: replace the file unless someone rewrote it meanwhile, and keep in
    // the journal only the records appended since step 1.
    {
        NamedLock lock(m_mutex, kLockWaitMs);
        Stamp now;
        if (!lock.owned() || !StampOfPath(now) || !(now == before)) {
            DeleteFileW(temp.c_str());
            LogFailure("Queue file changed during a fold; fold skipped");
            return false;
        }
        std::string journalNow;
        if (!ReadJournalLocked(journalNow) || journalNow.size() < journal.size() ||
            journalNow.compare(0, journal.size(), journal) != 0) {
            DeleteFileW(temp.c_str());
            LogFailure("Queue journal changed during a fold; fold skipped");
            return false;
        }
        if (!MoveFileExW(temp.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            LogFailure("Queue file cannot be replaced, error %lu", GetLastError());
            DeleteFileW(temp.c_str());
            return false;
        }
        m_haveCache = StampOfPath(m_cacheStamp) && m_cacheStamp.exists;
        if (m_haveCache) m_cache = merged;
        // From here on the file holds what the journal's first part says; were the journal left
        // as it is (a failure below), applying that part again would change nothing.
        std::string tail = journalNow.substr(journal.size());
        if (tail.empty()) {
            DeleteFileW(JournalPath().c_str());
        } else {
            std::wstring journalTemp = JournalPath() + L".new";
            if (WriteWhole(journalTemp, tail))
                MoveFileExW(journalTemp.c_str(), JournalPath().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }
    }
    ForgetFailure();
    if (entries) EntriesOf(merged, *entries);
    if (dropped) *dropped = std::move(droppedHere);
    return true;
}

bool CQueueFile::ReadEntries(std::vector<Entry>& entries) {
    entries.clear();
    NamedLock lock(m_mutex, kLockWaitMs);
    Json::Value doc;
    // Reading without the lock (it timed out) is still safe: the file is only ever replaced whole
    // and a journal record cut short is skipped.
    if (LoadLocked(doc) != LoadResult::Ok) return false;
    std::string journal;
    if (!ReadJournalLocked(journal)) return false;
    if (journal.empty()) {
        EntriesOf(doc, entries);
        return true;
    }
    Merge merge(doc["send_item"]);
    merge.ApplyJournal(journal);
    EntriesOf(merge.Document(), entries);
    return true;
}

void CQueueFile::RemoveStrayNewFiles() {
    NamedLock lock(m_mutex, kLockWaitMs);
    if (!lock.owned()) return;
    size_t slash = m_path.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : m_path.substr(0, slash + 1);
    std::wstring own = m_path + L".new-" + std::to_wstring(GetCurrentProcessId());
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((m_path + L".new*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> stray;
    do {
        std::wstring path = folder + found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && path != own) stray.push_back(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& path : stray) DeleteFileW(path.c_str());
}

Json::Value CQueueFile::SalvageEntries(const std::string& text) {
    Json::Value items(Json::arrayValue);
    size_t at = text.find("\"send_item\"");
    if (at == std::string::npos) return items;
    at = text.find('[', at);
    if (at == std::string::npos) return items;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    int depth = 0;
    bool inString = false;
    size_t start = 0;
    for (size_t i = at + 1; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{') {
            if (depth++ == 0) start = i;
        } else if (c == '}' && depth > 0) {
            if (--depth == 0) {
                Json::Value entry;
                std::string errors;
                if (reader->parse(text.data() + start, text.data() + i + 1, &entry, &errors) && entry.isObject() &&
                    entry["task_guid"].isString())
                    items.append(entry);
            }
        } else if (c == ']' && depth == 0) {
            break;
        }
    }
    return items;
}
