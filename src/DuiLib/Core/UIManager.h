#pragma once
// The paint manager of one window: it owns the control tree, the fonts and images the layout
// declares, the screen scale, and turns window messages into control events and notifications:
// hover, push, focus and keyboard (Tab, Enter, Esc), timers, mouse wheel, painting (double
// buffered, only what was invalidated) and the caption area that drags the window.
//
// Process-wide it holds the instance handle and the skin archive that every layout, language
// file and image comes from.
//
// It also works without a window (Init with no window and SetClientSize), so layouts can be laid
// out, hit-tested and rendered into a bitmap by tests and the screens tool.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DuiLib/Control/UIControl.h"
#include "DuiLib/Core/UIDefine.h"
#include "DuiLib/Core/UIImage.h"
#include "DuiLib/Core/UIResourceZip.h"

namespace DuiLib {

struct TFontInfo {
    std::wstring face;
    int size = 12;  // pixel height at 100 %
    bool bold = false;
    bool underline = false;
    bool italic = false;
};

// Window-level attributes of a layout's <Window> element.
struct TWindowInfo {
    SIZE size{0, 0};            // initial client size, logical pixels
    RECT caption{0, 0, 0, 0};   // drag area: left, top, right, bottom ("0,0,0,310": the top 310 rows)
    RECT sizeBox{0, 0, 0, 0};
    SIZE roundCorner{0, 0};
    SIZE minInfo{0, 0};
    SIZE maxInfo{0, 0};
    bool layered = false;       // per-pixel transparency ("bktrans")
    bool shadow = false;        // a drop shadow under the frameless window
    DWORD bkColor = 0xFFFFFFFF; // what is behind every control
    DWORD borderColor = 0;      // a one-pixel line round the window, over the controls
};

// The message the paint manager posts to itself for queued notifications and layered repaints.
constexpr UINT WM_DUI_ASYNC = WM_APP + 0x2E0;
// Posted by a native child that lost the keyboard focus (lParam: the child).
constexpr UINT WM_DUI_ENDEDIT = WM_APP + 0x2E1;

class CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // ---- Process-wide ----
    static void SetInstance(HINSTANCE instance);
    static HINSTANCE GetInstance();
    // Hands the skin archive (a ZIP image in memory) to the toolkit; the bytes are copied.
    static bool SetResourceZip(const void* data, size_t size);
    static const CResourceZip& GetResourceZip();
    // The paint manager of a window of this process (its own or a parent's), or null.
    static CPaintManagerUI* FromWindow(HWND hwnd);
    // The screen scale in percent (100 to 300, steps of 25) of the monitor the window is on, or of
    // the system when there is no window or the system cannot tell per window.
    static int GetSystemScale(HWND window = nullptr);
    // A monitor's dots per inch as a scale: 96 is 100 %, rounded to steps of 25, 100 to 300.
    static int ScaleForDpi(int dpi);
    static constexpr int kMinScale = 100;
    static constexpr int kMaxScale = 300;

    // ---- The window ----
    // Binds to a window (null: no window; set a size with SetClientSize).
    void Init(HWND hwnd);
    HWND GetPaintWindow() const { return m_hwnd; }
    HDC GetPaintDC() const { return m_measureDC; }
    SIZE GetClientSize() const;
    void SetClientSize(SIZE size);  // without a window
    TWindowInfo& GetWindowInfo() { return m_window; }
    const TWindowInfo& GetWindowInfo() const { return m_window; }
    // Applies a <Window> attribute to the window info.
    void SetWindowAttribute(const std::wstring& name, const std::wstring& value);

    // Screen scale in percent; every logical size is multiplied by it. Set before the first layout
    // (the window base does it from the monitor, and again when the window moves to a monitor of
    // another scale). A change drops the fonts made at the old scale and lays out again.
    int GetScale() const { return m_scale; }
    void SetScale(int percent);
    int Scale(int logical) const { return MulDiv(logical, m_scale, 100); }

    // Right-to-left pages: horizontal layouts and text run from the right.
    bool IsRTL() const { return m_rtl; }
    void SetRTL(bool rtl);

    // ---- The control tree ----
    void AttachRoot(std::unique_ptr<CControlUI> root);
    CControlUI* GetRoot() const { return m_root.get(); }
    CControlUI* FindControl(const std::wstring& name) const;
    CControlUI* FindControl(POINT pt) const;
    // Text of the named control, or empty when there is none.
    std::wstring GetControlText(const std::wstring& name) const;
    // Lays the tree out again before the next paint.
    void NeedUpdate();
    bool IsUpdateNeeded() const { return m_updateNeeded; }
    // Lays out the tree now (if needed) for the client size.
    void UpdateLayout();
    // Called by a control that leaves the tree (hover, focus and capture forget it).
    void ReapControl(CControlUI* control);
    // Options sharing a group name: selecting one clears the others.
    void AddOptionGroup(const std::wstring& group, CControlUI* option);
    void RemoveOptionGroup(const std::wstring& group, CControlUI* option);
    const std::vector<CControlUI*>* GetOptionGroup(const std::wstring& group) const;

    // ---- Focus, hover and keyboard ----
    CControlUI* GetFocus() const { return m_focus; }
    // Gives the control the keyboard focus; with takeWindowFocus the window takes the system's
    // keyboard focus too (a page that shows its default button leaves the system focus alone).
    void SetFocus(CControlUI* control, bool takeWindowFocus = true);
    CControlUI* GetHot() const { return m_hot; }
    CControlUI* GetPushed() const { return m_pushed; }
    // Moves the focus to the next (or previous) focus stop that takes Tab: controls, and each
    // link of a text, in tree order; hidden controls and controls outside the window or cut
    // away by their parents are passed over.
    bool MoveFocus(bool forward);
    // The focus stops Tab goes through now: (control, part) in order.
    std::vector<std::pair<CControlUI*, int>> GetTabStops();
    // True once the keyboard moved the focus; focus rings are drawn only then.
    bool IsFocusVisible() const { return m_focusVisible; }
    void SetFocusVisible(bool visible);
    // The part of the control the window shows (window pixels): its rectangle cut by its parents
    // and the client area; empty when it is hidden, cut away or outside the window.
    RECT GetShownRect(CControlUI* control) const;
    // The page's default button: it has the focus when the page appears (Enter presses it) and
    // screen readers are told it is the default.
    void SetDefaultButton(CControlUI* control);
    CControlUI* GetDefaultButton() const { return m_defaultButton; }
    // The colour of the focus ring (ARGB), set in one place for every control of the window.
    void SetFocusRingColor(DWORD argb);
    DWORD GetFocusRingColor() const { return m_focusRingColor; }
    // The ring's thickness and its distance outside the control (logical pixels).
    static constexpr int kFocusRingWidth = 2;
    static constexpr int kFocusRingGap = 1;

    // The standard tooltip window that shows the tooltip of the control under the mouse (made on
    // the first control with one; null before).
    HWND GetToolTipWindow() const { return m_tooltip; }

    // ---- Assistive technology ----
    // Tells accessibility clients that something of the control changed (EVENT_OBJECT_FOCUS,
    // _VALUECHANGE, _STATECHANGE, _NAMECHANGE); part is the focus stop for links, -1 for the
    // control's current one.
    void NotifyAccessible(DWORD event, CControlUI* control, int part = -1);

    // ---- Notifications ----
    void AddNotifier(INotifyUI* notifier);
    void RemoveNotifier(INotifyUI* notifier);
    void AddMessageFilter(IMessageFilterUI* filter);
    void RemoveMessageFilter(IMessageFilterUI* filter);
    // Sends the notification to every notifier now, or queues it for after the current message.
    void SendNotify(CControlUI* control, const std::wstring& type, WPARAM wParam = 0, LPARAM lParam = 0, bool async = false);
    void SendNotify(TNotifyUI& msg, bool async = false);

    // ---- Timers of controls (window timers of the window logic are plain SetTimer calls) ----
    bool SetTimer(CControlUI* control, UINT id, UINT elapse);
    bool KillTimer(CControlUI* control, UINT id);
    void KillTimers(CControlUI* control);

    // ---- Fonts ----
    // Declares font id (a <Font> element); replaces an earlier one with the same id.
    void AddFont(int id, const TFontInfo& font, bool isDefault = false);
    const TFontInfo* GetFontInfo(int id) const;
    int GetDefaultFontId() const { return m_defaultFont; }
    // Every font of this window drawn with another face (a language's own face), or the
    // layout's faces again when empty.
    void SetFontFaceOverride(const std::wstring& face);
    const std::wstring& GetFontFaceOverride() const { return m_faceOverride; }
    // The GDI font for an id (-1: the default font) with style overrides, at the current scale.
    HFONT GetFont(int id, bool bold = false, bool italic = false, bool underline = false);
    // The same font drawn with another face (a script's own face for text the font lacks).
    HFONT GetFontWithFace(int id, const std::wstring& face, bool bold = false, bool italic = false);
    // Fonts, images and default colours come from another window (the combo's drop-down list).
    void SetResourceParent(CPaintManagerUI* parent) { m_resourceParent = parent; }

    // The layout's colours, or the system's while high contrast is on.
    DWORD GetDefaultTextColor() const;
    DWORD GetDefaultDisabledColor() const;
    DWORD GetDefaultLinkColor() const;
    DWORD GetDefaultLinkHoverColor() const;
    DWORD GetWindowBkColor() const;

    // ---- The system's look ----
    // High contrast as the system had it when last asked: at Init and at every WM_SETTINGCHANGE,
    // WM_THEMECHANGED and WM_SYSCOLORCHANGE (the window repaints when it changed).
    bool IsHighContrast() const { return m_highContrast; }
    void RefreshSystemLook();

    // ---- Images ----
    CImageCache& GetImageCache();
    // The image for the current scale (see CImageCache::GetScaled).
    const TImageInfo* GetImage(const std::wstring& name);
    void AddImage(const std::wstring& name, std::unique_ptr<TImageInfo> image);
    void RemoveImage(const std::wstring& name);
    void RemoveAllImages();
    // Draws an image description into a rectangle of a device context (window pixels).
    bool PaintImage(HDC hdc, const RECT& rc, const std::wstring& image);

    // ---- Painting ----
    void Invalidate();
    void Invalidate(const RECT& rc);
    // Renders the whole tree into a device context of the client size (no window needed).
    void RenderTo(HDC hdc);
    // Renders into a new 32-bit image of the client size.
    std::unique_ptr<TImageInfo> Render();
    // How many times the window was painted, and the area painted last (tests and benchmarks).
    int GetPaintCount() const { return m_paintCount; }
    RECT GetLastPaintRect() const { return m_lastPaint; }

    // ---- Messages ----
    // Handles a window message; true when it was handled (result in lRes).
    bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    // A key pressed in a native child (Tab, Enter, Esc): handled as if the window had it.
    bool HandleChildKey(WPARAM key);

    // Native child windows of controls (the edit box) and the colours behind them.
    void RegisterNativeChild(HWND child, CControlUI* control);
    void UnregisterNativeChild(HWND child);

private:
    struct FontEntry {
        TFontInfo info;
        std::map<std::wstring, HFONT> made;  // by face and style bits
    };
    struct TimerEntry {
        CControlUI* control;
        UINT id;
        UINT_PTR windowId;
    };

    void Paint(HDC target, const RECT& rcPaint);
    void PaintFocusRing(HDC hdc);
    void InvalidateFocusRing();
    LRESULT AnswerGetObject(WPARAM wParam, LPARAM lParam);
    void ReleaseAccessible();
    void UpdateToolTip(CControlUI* control);
    void LayeredPaint();
    void EnsureOffscreen(SIZE size);
    void ReleaseFonts();
    HFONT MakeFont(int id, const std::wstring& face, bool bold, bool italic, bool underline);
    void FireQueued();
    void DispatchEvent(CControlUI* control, TEventUI& event);
    void SetHot(CControlUI* control, POINT pt);
    bool HandleKey(UINT uMsg, WPARAM wParam);
    void ApplyRoundCorner();

    HWND m_hwnd = nullptr;
    HDC m_measureDC = nullptr;
    HDC m_offscreenDC = nullptr;
    HBITMAP m_offscreen = nullptr;
    HGDIOBJ m_offscreenOld = nullptr;
    BYTE* m_offscreenBits = nullptr;
    SIZE m_offscreenSize{0, 0};
    SIZE m_headlessSize{0, 0};
    TWindowInfo m_window;
    int m_scale = 100;
    bool m_rtl = false;

    std::unique_ptr<CControlUI> m_root;
    bool m_updateNeeded = true;
    bool m_inLayout = false;
    CControlUI* m_focus = nullptr;
    CControlUI* m_hot = nullptr;
    CControlUI* m_pushed = nullptr;
    bool m_focusVisible = false;
    bool m_takingWindowFocus = false;
    CControlUI* m_defaultButton = nullptr;
    DWORD m_focusRingColor = 0xFF1C1A2E;  // the skin's darkest text colour: 16:1 on white
    // The window's accessible object while clients hold it (released with the manager).
    class CAccessibleUI* m_accessible = nullptr;
    HWND m_tooltip = nullptr;
    std::wstring m_tooltipText;  // the tooltip window reads the text from here
    bool m_mouseTracking = false;
    POINT m_lastMouse{-1, -1};
    std::map<std::wstring, std::vector<CControlUI*>> m_optionGroups;

    std::vector<INotifyUI*> m_notifiers;
    std::vector<IMessageFilterUI*> m_filters;
    std::vector<TNotifyUI> m_queued;
    std::vector<TimerEntry> m_timers;
    UINT_PTR m_nextTimerId = 0x7FF00000;
    std::map<HWND, CControlUI*> m_nativeChildren;
    HBRUSH m_nativeBrush = nullptr;
    DWORD m_nativeBrushColor = 0;

    std::map<int, FontEntry> m_fonts;
    int m_defaultFont = -1;
    std::wstring m_faceOverride;
    CPaintManagerUI* m_resourceParent = nullptr;
    bool m_highContrast = false;
    DWORD m_defaultTextColor = 0xFF000000;
    DWORD m_defaultDisabledColor = 0xFFA0A0A8;
    DWORD m_defaultLinkColor = 0xFF8372FF;
    DWORD m_defaultLinkHoverColor = 0xFF6B5AE6;
    std::unique_ptr<CImageCache> m_images;

    int m_paintCount = 0;
    RECT m_lastPaint{0, 0, 0, 0};
    bool m_layeredPending = false;

    friend class CControlUI;
};

}  // namespace DuiLib
