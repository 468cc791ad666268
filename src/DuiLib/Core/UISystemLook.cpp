#include "DuiLib/Core/UISystemLook.h"

#include <atomic>

namespace DuiLib {
namespace SystemLook {
namespace {
std::atomic<int> g_highContrast{-1};
std::atomic<int> g_animation{-1};
}  // namespace

bool HighContrast() {
    const int forced = g_highContrast.load();
    if (forced >= 0) return forced != 0;
    HIGHCONTRASTW hc{};
    hc.cbSize = sizeof(hc);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

bool ClientAreaAnimation() {
    const int forced = g_animation.load();
    if (forced >= 0) return forced != 0;
    BOOL on = TRUE;
    // A system that does not know the setting (before Vista) animates.
    if (!SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &on, 0)) return true;
    return on != FALSE;
}

DWORD SysColor(int index) {
    const COLORREF c = GetSysColor(index);
    return 0xFF000000u | (DWORD(GetRValue(c)) << 16) | (DWORD(GetGValue(c)) << 8) | DWORD(GetBValue(c));
}

DWORD RoleColor(Role role) {
    switch (role) {
        case Role::Window: return SysColor(COLOR_WINDOW);
        case Role::WindowText: return SysColor(COLOR_WINDOWTEXT);
        case Role::ButtonFace: return SysColor(COLOR_BTNFACE);
        case Role::ButtonText: return SysColor(COLOR_BTNTEXT);
        case Role::Link: return SysColor(COLOR_HOTLIGHT);
        case Role::Highlight: return SysColor(COLOR_HIGHLIGHT);
        case Role::HighlightText: return SysColor(COLOR_HIGHLIGHTTEXT);
        case Role::GrayText: return SysColor(COLOR_GRAYTEXT);
    }
    return SysColor(COLOR_WINDOWTEXT);
}

DWORD FocusRingColor(DWORD skinColor) { return HighContrast() ? RoleColor(Role::Highlight) : skinColor; }

void OverrideHighContrast(int value) { g_highContrast = value; }
void OverrideClientAreaAnimation(int value) { g_animation = value; }

}  // namespace SystemLook
}  // namespace DuiLib
