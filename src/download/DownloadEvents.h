#pragma once
// The analytics reports of the download engine, in one place. Each forwards to the process's
// analytics object; an observer (set by whoever wants to watch the engine, such as the tests
// and the benchmark driver) sees every report as well, in the order the engine made them.
#include <functional>
#include <string>

namespace DownloadEvents {

// AddUserLogEvent(category, action, label, false).
void Event(const std::string& category, const std::string& action, const std::string& label);
// AddUserLog_funnelEx(category, action, {}, false, false).
void Funnel(const std::string& category, const std::string& action);
// A flow error code ("DL025", ...), raised as "Other" / "FlowError" / code.
void Flow(const std::string& code);

// Sees each report as kind ("event", "funnel", "flow") and its texts (category, action,
// label; empty where the kind has none). An empty function removes the observer.
using Observer = std::function<void(const std::string& kind, const std::string& category,
                                    const std::string& action, const std::string& label)>;
void SetObserver(Observer observer);

}  // namespace DownloadEvents
