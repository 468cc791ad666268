#pragma once
#include <windows.h>

// The settings panel under the installer window's upper part: the tab layout "set_layout"
// shows the licence text (page 0) or the settings (page 1), and the window grows from 360 to 560
// pixels to show it. The install_setting click, the install_setting link and the licence link
// each toggle it; the click keeps one "open" flag and both links share another.

namespace SettingsPanel {

constexpr int kLicensePage = 0;
constexpr int kSettingsPage = 1;
constexpr int kCollapsedHeight = 360;
constexpr int kExpandedHeight = 560;

// What one toggle does to the panel.
struct Step {
    int selectPage = -1;  // page of set_layout to select, -1: leave it
    bool collapse = false;  // true: 360 high, false: 560 high
};

// A toggle towards the wanted page with the given open flag (updated), while set_layout shows
// shownPage: closed → open on the wanted page; open on the wanted page → closed; open on the other
// page → stays open and switches to the wanted page.
Step Toggle(bool& openFlag, int shownPage, int wantedPage);

inline int HeightFor(bool collapsed) { return collapsed ? kCollapsedHeight : kExpandedHeight; }

// The window's rectangle (screen pixels) at its left, top and width with the new height, kept
// inside the work area of its monitor: moved up when its bottom would reach under the taskbar,
// and as high as the work area when even that is too little. Left and width stay.
RECT FitHeightInWorkArea(const RECT& window, int height, const RECT& workArea);

}  // namespace SettingsPanel
