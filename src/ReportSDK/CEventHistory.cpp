#include "ReportSDK/CEventHistory.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "ReportSDK/CSdkLog.h"
#include "ReportSDK/ReportFormat.h"

int CEventHistory::LookForRepeatCount(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_lock);
    return CountLocked(key);
}

int CEventHistory::CountAndAppend(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_lock);
    int count = CountLocked(key);
    m_keys.push_back(key);
    return count;
}

int CEventHistory::CountAndAppendUnique(std::string& key) {
    std::lock_guard<std::mutex> lock(m_lock);
    bool seen = false;
    int count = CountLocked(key, &seen);
    if (seen) {
        // Numbered keys are unique within the process; a filed key of an earlier run could
        // still carry the same number, so the history is asked again.
        std::string base = key;
        do {
            key = base + "::#" + std::to_string(++m_sequence);
        } while (std::find(m_keys.begin(), m_keys.end(), key) != m_keys.end());
    }
    m_keys.push_back(key);
    return count;
}

std::string_view CEventHistory::RestWithoutSequence(std::string_view rest) {
    size_t mark = rest.rfind("::#");
    if (mark == std::string_view::npos || mark + 3 == rest.size()) return rest;
    for (size_t i = mark + 3; i < rest.size(); ++i)
        if (rest[i] < '0' || rest[i] > '9') return rest;
    return rest.substr(0, mark);
}

namespace {

// The parts of a key as the flood check compares them, without copying: the type prefix
// (characters 0 to 2), the time (characters 3 to 15) and the rest (from character 16).
struct KeyView {
    explicit KeyView(const std::string& key)
        : prefix(std::string_view(key).substr(0, 3)),
          time(key.size() > 3 ? std::string_view(key).substr(3, 13) : std::string_view()),
          rest(CEventHistory::RestWithoutSequence(key.size() > 16 ? std::string_view(key).substr(16)
                                                                  : std::string_view())) {}
    std::string_view prefix, time, rest;
};

}  // namespace

int CEventHistory::CountLocked(const std::string& key, bool* seen) {
    int count = 0;
    try {
        KeyView k(key);
        int64_t time = ReportFormat::KeyTimeMillis(k.time);
        for (auto it = m_keys.end(); it != m_keys.begin();) {
            --it;
            KeyView h(*it);
            int64_t distance = std::llabs(time - ReportFormat::KeyTimeMillis(h.time)) / 1000;
            if (distance > kWindowSeconds) {
                m_keys.erase(m_keys.begin(), it);
                break;
            }
            if (h.prefix == k.prefix && h.rest == k.rest) ++count;
            if (seen && *it == key) *seen = true;
        }
    } catch (const std::exception& e) {
        if (m_log) m_log->Write("LookForRepeatCount function ex: %s", e.what());
    } catch (...) {
        if (m_log) m_log->Write("LookForRepeatCount function ex: Unknown error");
    }
    return count;
}

void CEventHistory::Append(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_keys.push_back(key);
}

size_t CEventHistory::Size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_keys.size();
}
