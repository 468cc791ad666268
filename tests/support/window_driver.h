#pragma once
// Drives toolkit windows of the test's own thread the way a user does: mouse presses at the
// positions the layout gives a control or a link, keys, and answers to the message boxes that
// open while a handler waits in their modal loop. Also pumps the thread's messages.
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Core/UIManager.h"

namespace window_driver {

// Handles this thread's messages for the given time (WM_QUIT, which a closing window posts, is
// dropped).
inline void Pump(DWORD milliseconds) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

// Pumps until the condition holds or the time is up; the condition's last value.
template <typename Condition>
bool PumpUntil(Condition condition, DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= milliseconds) return condition();
        Pump(10);
    }
    return true;
}

inline POINT Center(const RECT& rc) { return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}; }

// A left click at a point of the window's client area (window pixels), as the mouse sends it.
inline void PostClickAt(HWND hwnd, POINT pt) {
    LPARAM at = MAKELPARAM(pt.x, pt.y);
    PostMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
}

// Lays the window's controls out (as its next paint would) and returns the control's centre.
inline bool ControlCenter(HWND hwnd, const std::wstring& name, POINT& pt) {
    DuiLib::CPaintManagerUI* pm = DuiLib::CPaintManagerUI::FromWindow(hwnd);
    if (!pm) return false;
    pm->UpdateLayout();
    DuiLib::CControlUI* control = pm->FindControl(name);
    if (!control || !control->IsVisible()) return false;
    pt = Center(control->GetPos());
    return true;
}

// Clicks the named control where it is drawn; false when it is not there to be clicked.
inline bool Click(HWND hwnd, const std::wstring& name) {
    POINT pt;
    if (!ControlCenter(hwnd, name, pt)) return false;
    PostClickAt(hwnd, pt);
    return true;
}

// Clicks the index-th link of a rich-text label where it is drawn.
inline bool ClickLink(HWND hwnd, const std::wstring& name, int link) {
    DuiLib::CPaintManagerUI* pm = DuiLib::CPaintManagerUI::FromWindow(hwnd);
    if (!pm) return false;
    pm->UpdateLayout();
    auto* label = dynamic_cast<DuiLib::CLabelUI*>(pm->FindControl(name));
    if (!label || !label->IsVisible()) return false;
    std::vector<RECT> rects = label->GetTextLayout().LinkRects(link);
    if (rects.empty()) return false;
    POINT origin = label->TextOrigin();
    POINT pt = Center(rects.front());
    PostClickAt(hwnd, POINT{origin.x + pt.x, origin.y + pt.y});
    return true;
}

inline void PostKey(HWND hwnd, WPARAM key) {
    PostMessageW(hwnd, WM_KEYDOWN, key, 1);
    PostMessageW(hwnd, WM_KEYUP, key, 0xC0000001);
}

// What a message box showed when it was answered.
struct SeenBox {
    std::wstring describe;
    std::wstring question;
    std::wstring yes;
    std::wstring no;
    bool noVisible = false;
    std::wstring icon;
    HWND owner = nullptr;
};

// Answers the message boxes of this thread, in order: each answer is the name of the control to
// click ("btn_yes", "btn_no", "closebtn"), after a delay. A timer of the thread looks for the box,
// so it runs inside the modal loop of whoever asked.
class BoxAnswerer {
public:
    explicit BoxAnswerer(const wchar_t* boxClass = L"MESSAGEBOX_UI_Frame") : m_class(boxClass) {
        Self() = this;
        m_timer = SetTimer(nullptr, 0, 20, &BoxAnswerer::Tick);
    }
    ~BoxAnswerer() {
        KillTimer(nullptr, m_timer);
        Self() = nullptr;
    }
    void Answer(const std::wstring& control, DWORD delayMs = 0) { m_answers.push_back({control, delayMs}); }
    const std::vector<SeenBox>& Seen() const { return m_seen; }
    size_t Pending() const { return m_answers.size(); }
    // Boxes open right now on this thread.
    static HWND FindBox(const wchar_t* boxClass = L"MESSAGEBOX_UI_Frame") {
        BoxSearch search{boxClass, nullptr};
        EnumThreadWindows(GetCurrentThreadId(), MatchBox, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

private:
    struct BoxSearch {
        const wchar_t* cls;
        HWND found;
    };
    // A named function, not a lambda: the window enumerator calls it with the system's calling
    // convention, which a lambda cannot carry on 32-bit Windows.
    static BOOL CALLBACK MatchBox(HWND hwnd, LPARAM param) {
        auto* s = reinterpret_cast<BoxSearch*>(param);
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (std::wstring(name) == s->cls && IsWindowVisible(hwnd)) {
            s->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    struct Pending_ {
        std::wstring control;
        DWORD delay;
    };
    static BoxAnswerer*& Self() {
        static BoxAnswerer* self = nullptr;
        return self;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        BoxAnswerer* self = Self();
        if (!self || self->m_answers.empty()) return;
        HWND box = FindBox(self->m_class.c_str());
        if (!box) {
            self->m_box = nullptr;
            self->m_clicked = nullptr;
            return;
        }
        if (box != self->m_box) {
            self->m_box = box;
            self->m_seenAt = GetTickCount();
            return;  // let it paint once
        }
        if (self->m_clicked == box) return;  // this one is answered and closing
        if (GetTickCount() - self->m_seenAt < self->m_answers.front().delay) return;
        DuiLib::CPaintManagerUI* pm = DuiLib::CPaintManagerUI::FromWindow(box);
        if (!pm) return;
        pm->UpdateLayout();
        SeenBox seen;
        auto text = [pm](const wchar_t* name) {
            DuiLib::CControlUI* c = pm->FindControl(name);
            return c ? c->GetText() : std::wstring();
        };
        seen.describe = text(L"msg_describe");
        seen.question = text(L"msg_question");
        seen.yes = text(L"btn_yes");
        seen.no = text(L"btn_no");
        DuiLib::CControlUI* no = pm->FindControl(L"btn_no");
        seen.noVisible = no && no->IsVisible();
        if (DuiLib::CControlUI* icon = pm->FindControl(L"iconimage")) seen.icon = icon->GetBkImage();
        seen.owner = GetWindow(box, GW_OWNER);
        self->m_seen.push_back(seen);
        std::wstring control = self->m_answers.front().control;
        self->m_answers.pop_front();
        self->m_clicked = box;
        Click(box, control);
    }

    std::wstring m_class;
    UINT_PTR m_timer = 0;
    std::deque<Pending_> m_answers;
    std::vector<SeenBox> m_seen;
    HWND m_box = nullptr;
    HWND m_clicked = nullptr;
    DWORD m_seenAt = 0;
};

}  // namespace window_driver
