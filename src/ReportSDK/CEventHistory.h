#pragma once
// The flood history: keys of the events offered in this process, oldest first, and the check
// that counts how often the same event was offered within the last minute.
#include <list>
#include <mutex>
#include <string>

class CSdkLog;

class CEventHistory {
public:
    static constexpr int kWindowSeconds = 60;
    static constexpr int kMaxRepeats = 10;

    explicit CEventHistory(CSdkLog* log = nullptr) : m_log(log) {}

    // Walks the history from the newest key back: counts the keys of the same type and the same
    // category and action; at the first key more than 60 seconds away from key, drops every
    // key older than that one and stops.
    int LookForRepeatCount(const std::string& key);
    void Append(const std::string& key);
    // The check and the append as one step, so two threads offering the same event at once
    // cannot both pass on the same count. Returns the count before the append.
    int CountAndAppend(const std::string& key);
    size_t Size() const;

private:
    int CountLocked(const std::string& key);

    CSdkLog* m_log;
    mutable std::mutex m_lock;
    std::list<std::string> m_keys;
};
