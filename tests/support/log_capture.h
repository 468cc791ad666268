#pragma once
// Collects the messages written through easylogging++ while it is alive, so tests can assert
// on log lines. Messages are kept as the program wrote them (without the line format).
#include <mutex>
#include <string>
#include <vector>

#include "easylogging++.h"

class LogCapture {
public:
    LogCapture() {
        el::Helpers::installLogDispatchCallback<Sink>("LogCapture");
        sink()->clear();
        sink()->setEnabled(true);
    }
    ~LogCapture() {
        sink()->setEnabled(false);
        el::Helpers::uninstallLogDispatchCallback<Sink>("LogCapture");
    }
    std::vector<std::string> lines() const { return sink()->lines(); }
    // Whether some message contains text.
    bool contains(const std::string& text) const {
        for (const auto& l : lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    // How many messages equal text exactly.
    int countExact(const std::string& text) const {
        int n = 0;
        for (const auto& l : lines()) n += l == text;
        return n;
    }
    std::string dump() const {
        std::string all;
        for (const auto& l : lines()) all += "[" + l + "]\n";
        return all;
    }

private:
    class Sink : public el::LogDispatchCallback {
    public:
        void clear() { std::lock_guard<std::mutex> lock(m_); lines_.clear(); }
        std::vector<std::string> lines() { std::lock_guard<std::mutex> lock(m_); return lines_; }

    protected:
        void handle(const el::LogDispatchData* data) override {
            std::lock_guard<std::mutex> lock(m_);
            lines_.push_back(data->logMessage()->message());
        }

    private:
        std::mutex m_;
        std::vector<std::string> lines_;
    };
    static Sink* sink() { return el::Helpers::logDispatchCallback<Sink>("LogCapture"); }
};
