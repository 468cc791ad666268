#include "ReportSDK/CEventHistory.h"

#include <cstdlib>
#include <exception>

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

int CEventHistory::CountLocked(const std::string& key) {
    int count = 0;
    try {
        ReportFormat::KeyParts k = ReportFormat::SplitKey(key);
        int64_t time = ReportFormat::KeyTimeMillis(k.time);
        for (auto it = m_keys.end(); it != m_keys.begin();) {
            --it;
            ReportFormat::KeyParts h = ReportFormat::SplitKey(*it);
            int64_t distance = std::llabs(time - ReportFormat::KeyTimeMillis(h.time)) / 1000;
            if (distance > kWindowSeconds) {
                m_keys.erase(m_keys.begin(), it);
                break;
            }
            if (h.prefix == k.prefix && h.rest == k.rest) ++count;
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
