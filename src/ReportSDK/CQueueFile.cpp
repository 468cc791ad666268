#include "ReportSDK/CQueueFile.h"

#include <memory>

#include "ReportSDK/CSdkLog.h"
#include "base/TextCodec.h"
#include "base/JsonText.h"

namespace {

constexpr DWORD kLockWaitMs = 30000;  // a writer holds the lock for one read and one write
constexpr int kIoAttempts = 5;        // a scanner or indexer may hold the file for a moment
constexpr DWORD kIoPauseMs = 20;

// Holds the named mutex for one read-change-write. An abandoned mutex (its holder died) is
// owned all the same: the file it guarded is whole, because writes replace it in one step.
class NamedLock {
public:
    explicit NamedLock(HANDLE mutex) : m_mutex(mutex) {
        DWORD r = mutex ? WaitForSingleObject(mutex, kLockWaitMs) : WAIT_FAILED;
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

}  // namespace

bool CQueueFile::Stamp::operator==(const Stamp& o) const {
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

bool CQueueFile::ReadStamp(HANDLE file, Stamp& stamp) const {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info)) return false;
    stamp.volume = info.dwVolumeSerialNumber;
    stamp.indexHigh = info.nFileIndexHigh;
    stamp.indexLow = info.nFileIndexLow;
    stamp.sizeHigh = info.nFileSizeHigh;
    stamp.sizeLow = info.nFileSizeLow;
    stamp.written = info.ftLastWriteTime;
    return true;
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
            m_haveCache = false;
            return LoadResult::Ok;
        }
        Sleep(kIoPauseMs);
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (m_log) m_log->Write("Queue file cannot be opened, error %lu", GetLastError());
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
        if (m_log) m_log->Write("Queue file cannot be read, error %lu", GetLastError());
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
}

bool CQueueFile::WriteLocked(const Json::Value& doc) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::StyledWriter writer;
    std::string text = writer.write(doc);
#pragma GCC diagnostic pop
    std::wstring temp = m_path + L".new";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (m_log) m_log->Write("Queue file cannot be written, error %lu", GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
    ok = ok && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok) {
        ok = false;
        for (int attempt = 0; attempt < kIoAttempts && !ok; ++attempt) {
            ok = MoveFileExW(temp.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
            if (!ok) Sleep(kIoPauseMs);
        }
    }
    if (!ok) {
        if (m_log) m_log->Write("Queue file cannot be replaced, error %lu", GetLastError());
        DeleteFileW(temp.c_str());
        m_haveCache = false;
        return false;
    }
    HANDLE check = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_haveCache = check != INVALID_HANDLE_VALUE && ReadStamp(check, m_cacheStamp);
    if (check != INVALID_HANDLE_VALUE) CloseHandle(check);
    if (m_haveCache) m_cache = doc;
    return true;
}

bool CQueueFile::Update(const std::string& key, const std::string& content, int status) {
    NamedLock lock(m_mutex);
    if (!lock.owned()) {
        if (m_log) m_log->Write("Queue file busy, update of %s skipped", key.c_str());
        return false;
    }
    Json::Value doc;
    if (LoadLocked(doc) != LoadResult::Ok) return false;
    Json::Value& items = doc["send_item"];
    if (!items.isArray()) items = Json::Value(Json::arrayValue);

    bool changed = false;
    bool matched = false;
    for (Json::ArrayIndex i = 0; i < items.size(); ++i) {
        Json::Value& entry = items[i];
        if (!entry.isObject()) continue;
        const Json::Value* guid = entry.find("task_guid", "task_guid" + 9);
        if (!guid || !guid->isString() || guid->asString() != key) continue;
        matched = true;
        if (status == kStatusDelivered) {
            items.removeIndex(i, nullptr);
        } else {
            entry["task_status"] = status;
            entry["task_content"] = content;
        }
        changed = true;
        break;
    }
    if (!matched && status != kStatusDelivered) {
        Json::Value entry(Json::objectValue);
        entry["task_guid"] = key;
        entry["task_status"] = status;
        entry["task_content"] = content;
        items.append(entry);
        changed = true;
    }
    if (!changed) return true;
    doc["send_count"] = Json::UInt(items.size());
    return WriteLocked(doc);
}

bool CQueueFile::ReadEntries(std::vector<Entry>& entries) {
    entries.clear();
    NamedLock lock(m_mutex);
    Json::Value doc;
    // Reading without the lock (it timed out) is still safe: the file is only ever replaced whole.
    if (LoadLocked(doc) != LoadResult::Ok) return false;
    const Json::Value& items = doc["send_item"];
    if (!items.isArray()) return true;
    for (const Json::Value& item : items) {
        Entry e;
        e.raw = item;
        if (item.isObject()) {
            const Json::Value& guid = item["task_guid"];
            const Json::Value& status = item["task_status"];
            const Json::Value& content = item["task_content"];
            e.key = guid.isString() ? guid.asString() : std::string();
            e.status = status.isInt() ? status.asInt() : 0;
            e.content = content.isString() ? content.asString() : std::string();
        }
        entries.push_back(std::move(e));
    }
    return true;
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
