#pragma once
// What the user asked of the system's look: high contrast (then every text, button, link, edit
// box and focus ring is drawn in the system's colours, GetSysColor, instead of the skin's) and
// client-area animations (off: the picture carousel changes frames without sliding). Both are
// read from SystemParametersInfo at each question, so a change (WM_SETTINGCHANGE) applies at
// once; tests can put a value of their own in place of the system's.
#include <windows.h>

namespace DuiLib {
namespace SystemLook {

bool HighContrast();
bool ClientAreaAnimation();

// The system colour (a COLOR_* index) as an opaque ARGB value of the toolkit.
DWORD SysColor(int index);

// Colours of the high-contrast scheme by the role a toolkit drawing plays.
enum class Role {
    Window,         // background of the window and of panels
    WindowText,     // labels and texts
    ButtonFace,     // button background
    ButtonText,     // button text and border
    Link,           // links (COLOR_HOTLIGHT)
    Highlight,      // hot or pushed button background, selected list item, focus ring
    HighlightText,  // text over Highlight
    GrayText,       // disabled text
};
DWORD RoleColor(Role role);
// The colour of a focus ring: the skin's colour normally, the system's highlight in high contrast.
DWORD FocusRingColor(DWORD skinColor);

// Test seam: -1 reads the system, 0 or 1 replaces its answer.
void OverrideHighContrast(int value);
void OverrideClientAreaAnimation(int value);

}  // namespace SystemLook
}  // namespace DuiLib
