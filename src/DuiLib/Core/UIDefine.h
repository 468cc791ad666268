#pragma once
// Shared vocabulary of the toolkit: the events a control receives, the notifications a window
// receives, control flags and the small geometry and attribute-parsing helpers every part uses.
#include <windows.h>

#include <string>
#include <vector>

namespace DuiLib {

class CControlUI;

// Events the paint manager delivers to a control (DoEvent).
enum EventTypeUI {
    UIEVENT_UNKNOWN = 0,
    UIEVENT_MOUSEMOVE,
    UIEVENT_MOUSELEAVE,
    UIEVENT_MOUSEENTER,
    UIEVENT_MOUSEHOVER,
    UIEVENT_BUTTONDOWN,
    UIEVENT_BUTTONUP,
    UIEVENT_DBLCLICK,
    UIEVENT_RBUTTONDOWN,
    UIEVENT_SCROLLWHEEL,
    UIEVENT_KEYDOWN,
    UIEVENT_KEYUP,
    UIEVENT_CHAR,
    UIEVENT_SETFOCUS,
    UIEVENT_KILLFOCUS,
    UIEVENT_SETCURSOR,
    UIEVENT_TIMER,
};

struct TEventUI {
    int Type = UIEVENT_UNKNOWN;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse{0, 0};
    wchar_t chKey = 0;
    WORD wKeyState = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// A notification by name ("click", "selectchanged", "itemselect", "link", "windowinit", ...).
// For "link" wParam is the link's index in its text; for "itemselect" wParam is the new item
// index and lParam the old one.
struct TNotifyUI {
    std::wstring sType;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse{0, 0};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

// Sees every window message before the paint manager does; setting handled stops it there.
class IMessageFilterUI {
public:
    virtual ~IMessageFilterUI() = default;
    virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;
};

// Flags a control reports from GetControlFlags.
enum {
    UIFLAG_TABSTOP = 0x01,   // reachable with Tab
    UIFLAG_SETCURSOR = 0x02, // sets its own cursor
    UIFLAG_WANTRETURN = 0x04 // takes Enter itself
};

// Search flags of FindControl.
enum {
    UIFIND_VISIBLE = 0x01,
    UIFIND_ENABLED = 0x02,
    UIFIND_HITTEST = 0x04,
    UIFIND_TOP_FIRST = 0x08,
    UIFIND_ME_FIRST = 0x80000000
};

// Button states, used for the image and colour a control paints.
enum {
    UISTATE_FOCUSED = 0x01,
    UISTATE_SELECTED = 0x02,
    UISTATE_DISABLED = 0x04,
    UISTATE_HOT = 0x08,
    UISTATE_PUSHED = 0x10,
    UISTATE_CAPTURED = 0x40,
};

namespace UI {

inline int Width(const RECT& r) { return r.right - r.left; }
inline int Height(const RECT& r) { return r.bottom - r.top; }
inline bool IsEmptyRect(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
inline RECT MakeRect(int l, int t, int r, int b) { RECT rc{l, t, r, b}; return rc; }
inline bool RectEquals(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline bool Contains(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }
// Intersection; an empty rectangle (all zero) when they do not meet.
RECT Intersect(const RECT& a, const RECT& b);
RECT Deflate(const RECT& r, const RECT& by);

// Attribute values of the layouts.
bool ParseBool(const std::wstring& value);
int ParseInt(const std::wstring& value, int fallback = 0);
// "l,t,r,b" (missing parts are 0).
RECT ParseRect(const std::wstring& value);
// "cx,cy".
SIZE ParseSize(const std::wstring& value);
// "#RRGGBB", "#AARRGGBB", "#RGB" or "0xAARRGGBB": ARGB with alpha FF when it is not written.
// False for anything else.
bool ParseColor(const std::wstring& value, DWORD& argb);
std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator);
std::wstring Trim(const std::wstring& text);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

inline COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }
inline BYTE AlphaOf(DWORD argb) { return static_cast<BYTE>(argb >> 24); }

}  // namespace UI
}  // namespace DuiLib
