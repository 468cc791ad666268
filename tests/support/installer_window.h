#pragma once
// Opens and closes the installer window in a test's own thread over a skin archive of the test's
// making, with an analytics object that records into the test's report.
#include <memory>
#include <string>

#include "DuiLib/Core/UIManager.h"
#include "analytics/CSingleUserLog.h"
#include "support/analytics_identity.h"
#include "support/recording_report.h"
#include "support/window_driver.h"

namespace installer_window {

// Creates the window (a test's subclass of the installer window) over the skin archive bytes;
// shown when show is set. False when the skin or the window could not be had.
template <typename Window>
bool Open(const std::string& skinArchive, RecordingReport& report, std::unique_ptr<CSingleUserLog>& log,
          std::unique_ptr<Window>& window, bool show = true) {
    if (!DuiLib::CPaintManagerUI::SetResourceZip(skinArchive.data(), skinArchive.size())) return false;
    log.reset(new CSingleUserLog(&report, TestIdentity(), nullptr));
    log->InitReport(486, 61, "1.0.0.0", "Orbala Lumeno", "http://127.0.0.1/d.exe", false, 3086);
    window.reset(new Window());
    window->SetAnalytics(log.get());
    if (!window->Create(nullptr, L"Orbala Lumeno", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 600, 400)) return false;
    if (show) window->ShowWindow(true, true);
    return true;
}

// Destroys the window, waits for the threads it started and lets it go, then the analytics object.
template <typename Window>
void Close(std::unique_ptr<Window>& window, std::unique_ptr<CSingleUserLog>& log) {
    if (window) {
        if (IsWindow(window->GetHWND())) DestroyWindow(window->GetHWND());
        window_driver::Pump(50);
        window->WaitForAllThreadExit();
        window.reset();
    }
    log.reset();
}

}  // namespace installer_window
