#pragma once
// The flood history: keys of the events offered in this process, oldest first, and the check
// that counts how often the same event was offered within the last minute.
#include <list>
#include <mutex>
#include <string>
#include <string_view>

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
    // The same for a newly offered event whose key must name it alone: when the history already
    // holds this very key (the same event offered in the same millisecond), key gets the next
    // number of this process's sequence, as "::#" and the number, and that key is appended. The
    // flood check counts such keys as the event they number.
    int CountAndAppendUnique(std::string& key);
    // The part of a key's rest (from character 16) that the flood check compares: without the
    // "::#" number of CountAndAppendUnique.
    static std::string_view RestWithoutSequence(std::string_view rest);
    size_t Size() const;

private:
    int CountLocked(const std::string& key, bool* seen = nullptr);

    CSdkLog* m_log;
    unsigned long long m_sequence = 0;
    mutable std::mutex m_lock;
    std::list<std::string> m_keys;
};
