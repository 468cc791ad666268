#include "download/DownloadEvents.h"

#include <map>
#include <mutex>

#include "analytics/CSingleUserLog.h"
#include "analytics/FlowError.h"

namespace DownloadEvents {
namespace {

std::mutex& ObserverLock() {
    static std::mutex lock;
    return lock;
}
Observer& CurrentObserver() {
    static Observer observer;
    return observer;
}

void Notify(const char* kind, const std::string& category, const std::string& action, const std::string& label) {
    std::lock_guard<std::mutex> lock(ObserverLock());
    if (CurrentObserver()) CurrentObserver()(kind, category, action, label);
}

}  // namespace

void Event(const std::string& category, const std::string& action, const std::string& label) {
    Notify("event", category, action, label);
    CSingleUserLog::GetInstance()->AddUserLogEvent(category, action, label, false);
}

void Funnel(const std::string& category, const std::string& action) {
    Notify("funnel", category, action, "");
    CSingleUserLog::GetInstance()->AddUserLog_funnelEx(category, action, std::map<std::string, std::string>(), false,
                                                       false);
}

void Flow(const std::string& code) {
    Notify("flow", "Other", "FlowError", code);
    FlowError::Raise(code);
}

void SetObserver(Observer observer) {
    std::lock_guard<std::mutex> lock(ObserverLock());
    CurrentObserver() = std::move(observer);
}

}  // namespace DownloadEvents
