#pragma once
// A report object for tests: records every call the analytics object makes and answers from a
// script (0 when the script is empty).
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ReportSDK/IWebLogNew.h"

class RecordingReport : public IWebLogNew {
public:
    struct Call {
        std::string slot;
        std::string text;
        bool bWait;
    };
    int32_t Init(int32_t type, int32_t mainPid, int32_t, const char*, const char*, const char* product,
                 const char* version, const char*) override {
        Record("Init", std::to_string(type) + "," + std::to_string(mainPid) + "," + product + "," + version, false);
        return 0;
    }
    int32_t SetCommonParams(int32_t downloaderId, int32_t kitType, const char* lang, const char* version) override {
        Record("SetCommonParams", std::to_string(downloaderId) + "," + std::to_string(kitType) + "," + lang + "," + version, false);
        return 0;
    }
    int32_t SetExtraCommon(const char* json) override { Record("SetExtraCommon", json, false); return 0; }
    int32_t ReportEvent(const char* json, bool bWait) override { return Record("ReportEvent", json, bWait); }
    int32_t ReportGa4(const char* query, bool bWait) override { return Record("ReportGa4", query, bWait); }

    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(m_);
        return calls_;
    }
    void Script(std::vector<int32_t> answers) {
        std::lock_guard<std::mutex> lock(m_);
        answers_ = std::move(answers);
    }

private:
    int32_t Record(const std::string& slot, const std::string& text, bool bWait) {
        std::lock_guard<std::mutex> lock(m_);
        calls_.push_back({slot, text, bWait});
        if (answers_.empty()) return 0;
        int32_t answer = answers_.front();
        answers_.erase(answers_.begin());
        return answer;
    }
    std::mutex m_;
    std::vector<Call> calls_;
    std::vector<int32_t> answers_;
};

