#include "DuiLib/Core/UIManager.h"

#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "DuiLib/Core/UIAccessible.h"
#include "DuiLib/Core/UIRender.h"
#include "DuiLib/Core/UISystemLook.h"
#include "DuiLib/Layout/UIContainer.h"
#include "deployment_values.h"

namespace DuiLib {
namespace {

HINSTANCE g_instance = nullptr;

CResourceZip& ResourceZip() {
    static CResourceZip zip;
    return zip;
}

// Window handle -> its paint manager (window thread only: every window of the toolkit lives on
// the thread that created it, and they are all created on the UI thread).
std::map<HWND, CPaintManagerUI*>& Managers() {
    static std::map<HWND, CPaintManagerUI*> managers;
    return managers;
}

int StyleKey(bool bold, bool italic, bool underline) { return (bold ? 1 : 0) | (italic ? 2 : 0) | (underline ? 4 : 0); }

// Focus stops in tree order: controls that take Tab (each link of a text is a stop of its own),
// counting only those whose parents all show and that the window shows at least in part: the
// settings panel below the edge of a collapsed window is not reached.
void CollectTabStops(CControlUI* control, const RECT& shown, std::vector<std::pair<CControlUI*, int>>& out) {
    if (!control || !control->IsVisible()) return;
    RECT visible = UI::Intersect(shown, control->GetPos());
    if (UI::IsEmptyRect(visible)) return;
    if (control->IsEnabled() && control->IsKeyboardEnabled() && (control->GetControlFlags() & UIFLAG_TABSTOP)) {
        int parts = control->GetFocusPartCount();
        for (int part = 0; part < parts; ++part) out.emplace_back(control, part);
    }
    for (size_t i = 0; i < control->GetCount(); ++i) CollectTabStops(control->GetItemAt(i), visible, out);
}

RECT Inflated(RECT rc, int by) {
    InflateRect(&rc, by, by);
    return rc;
}

}  // namespace

// ---- Process-wide ----

void CPaintManagerUI::SetInstance(HINSTANCE instance) {
    g_instance = instance;
    // Crisp text at every screen scale: the toolkit scales its layouts itself.
    SetProcessDPIAware();
}

HINSTANCE CPaintManagerUI::GetInstance() { return g_instance; }

bool CPaintManagerUI::SetResourceZip(const void* data, size_t size) { return ResourceZip().Open(data, size); }
const CResourceZip& CPaintManagerUI::GetResourceZip() { return ResourceZip(); }

CPaintManagerUI* CPaintManagerUI::FromWindow(HWND hwnd) {
    for (HWND h = hwnd; h; h = GetParent(h)) {
        auto it = Managers().find(h);
        if (it != Managers().end()) return it->second;
    }
    return nullptr;
}

int CPaintManagerUI::ScaleForDpi(int dpi) {
    if (dpi <= 0) dpi = 96;
    int percent = (MulDiv(dpi, 100, 96) + 12) / 25 * 25;
    return std::clamp(percent, kMinScale, kMaxScale);
}

int CPaintManagerUI::GetSystemScale(HWND window) {
    // DUILIB_SCALE (100 to 300) forces a scale, for looking at layouts at another scale: a
    // development aid of test builds; a release takes the scale from the display alone.
    const char* forced = Deployment::kTestBuild ? std::getenv("DUILIB_SCALE") : nullptr;
    if (forced && *forced) return ScaleForDpi(MulDiv(std::atoi(forced), 96, 100));
    // A per-monitor aware process asks the window's own monitor (Windows 10 1607 and later; the
    // manifest declares that awareness). Older systems have one scale for every monitor.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const DpiForWindow dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (window && dpiForWindow) {
        UINT dpi = dpiForWindow(window);
        if (dpi > 0) return ScaleForDpi(static_cast<int>(dpi));
    }
    HDC dc = GetDC(nullptr);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return ScaleForDpi(dpi);
}

// ---- The window ----

CPaintManagerUI::CPaintManagerUI() {
    m_measureDC = CreateCompatibleDC(nullptr);
    m_highContrast = SystemLook::HighContrast();
}

CPaintManagerUI::~CPaintManagerUI() {
    // Clients may still hold the window's accessible object: from now on it answers that the
    // window is gone.
    ReleaseAccessible();
    // Controls of the tree go first, while the manager they report to still exists.
    m_root.reset();
    if (m_hwnd) {
        for (const TimerEntry& t : m_timers) ::KillTimer(m_hwnd, t.windowId);
        Managers().erase(m_hwnd);
    }
    m_timers.clear();
    ReleaseFonts();
    if (m_offscreenDC) {
        SelectObject(m_offscreenDC, m_offscreenOld);
        DeleteDC(m_offscreenDC);
    }
    if (m_offscreen) DeleteObject(m_offscreen);
    if (m_measureDC) DeleteDC(m_measureDC);
    if (m_nativeBrush) DeleteObject(m_nativeBrush);
}

void CPaintManagerUI::Init(HWND hwnd) {
    if (m_hwnd) Managers().erase(m_hwnd);
    m_hwnd = hwnd;
    if (hwnd) Managers()[hwnd] = this;
    RefreshSystemLook();
}

void CPaintManagerUI::RefreshSystemLook() {
    const bool highContrast = SystemLook::HighContrast();
    if (highContrast == m_highContrast) return;
    m_highContrast = highContrast;
    NeedUpdate();
    Invalidate();
    // The native edit box asks its colours again when it repaints.
    for (const auto& child : m_nativeChildren) ::InvalidateRect(child.first, nullptr, TRUE);
}

DWORD CPaintManagerUI::GetDefaultTextColor() const {
    return m_highContrast ? SystemLook::RoleColor(SystemLook::Role::WindowText) : m_defaultTextColor;
}
DWORD CPaintManagerUI::GetDefaultDisabledColor() const {
    return m_highContrast ? SystemLook::RoleColor(SystemLook::Role::GrayText) : m_defaultDisabledColor;
}
DWORD CPaintManagerUI::GetDefaultLinkColor() const {
    return m_highContrast ? SystemLook::RoleColor(SystemLook::Role::Link) : m_defaultLinkColor;
}
DWORD CPaintManagerUI::GetDefaultLinkHoverColor() const {
    return m_highContrast ? SystemLook::RoleColor(SystemLook::Role::Link) : m_defaultLinkHoverColor;
}
DWORD CPaintManagerUI::GetWindowBkColor() const {
    return m_highContrast ? SystemLook::RoleColor(SystemLook::Role::Window) : m_window.bkColor;
}

SIZE CPaintManagerUI::GetClientSize() const {
    if (m_hwnd) {
        RECT rc{};
        GetClientRect(m_hwnd, &rc);
        return SIZE{rc.right - rc.left, rc.bottom - rc.top};
    }
    return m_headlessSize;
}

void CPaintManagerUI::SetClientSize(SIZE size) {
    m_headlessSize = size;
    NeedUpdate();
}

void CPaintManagerUI::SetWindowAttribute(const std::wstring& name, const std::wstring& value) {
    DWORD color = 0;
    if (name == L"size") m_window.size = UI::ParseSize(value);
    else if (name == L"caption") m_window.caption = UI::ParseRect(value);
    else if (name == L"sizebox") m_window.sizeBox = UI::ParseRect(value);
    else if (name == L"roundcorner") m_window.roundCorner = UI::ParseSize(value);
    else if (name == L"mininfo") m_window.minInfo = UI::ParseSize(value);
    else if (name == L"maxinfo") m_window.maxInfo = UI::ParseSize(value);
    else if (name == L"bktrans") m_window.layered = UI::ParseBool(value);
    else if (name == L"showshadow") m_window.shadow = UI::ParseBool(value);
    else if (name == L"bkcolor" && UI::ParseColor(value, color)) m_window.bkColor = color;
    else if (name == L"bordercolor" && UI::ParseColor(value, color)) m_window.borderColor = color;
    else if (name == L"defaultfontcolor" && UI::ParseColor(value, color)) m_defaultTextColor = color;
    else if (name == L"disabledfontcolor" && UI::ParseColor(value, color)) m_defaultDisabledColor = color;
    else if (name == L"linkfontcolor" && UI::ParseColor(value, color)) m_defaultLinkColor = color;
    else if (name == L"linkhoverfontcolor" && UI::ParseColor(value, color)) m_defaultLinkHoverColor = color;
}

void CPaintManagerUI::SetScale(int percent) {
    percent = std::clamp(percent, kMinScale, kMaxScale);
    if (percent == m_scale) return;
    m_scale = percent;
    ReleaseFonts();
    NeedUpdate();
    Invalidate();
}

void CPaintManagerUI::SetRTL(bool rtl) {
    if (m_rtl == rtl) return;
    m_rtl = rtl;
    NeedUpdate();
    Invalidate();
}

// ---- The control tree ----

void CPaintManagerUI::AttachRoot(std::unique_ptr<CControlUI> root) {
    m_focus = m_hot = m_pushed = m_defaultButton = nullptr;
    m_root = std::move(root);
    if (m_root) m_root->SetManager(this, nullptr, true);
    NeedUpdate();
}

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const { return m_root ? m_root->FindControl(name) : nullptr; }

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
    return m_root ? m_root->FindControlAt(pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST) : nullptr;
}

std::wstring CPaintManagerUI::GetControlText(const std::wstring& name) const {
    CControlUI* control = FindControl(name);
    return control ? control->GetText() : std::wstring();
}

void CPaintManagerUI::NeedUpdate() {
    if (m_inLayout) return;
    m_updateNeeded = true;
    if (m_hwnd) {
        if (m_window.layered) Invalidate();
        else ::InvalidateRect(m_hwnd, nullptr, FALSE);  // a paint comes, and lays out first
    }
}

void CPaintManagerUI::UpdateLayout() {
    if (!m_updateNeeded || !m_root) return;
    m_updateNeeded = false;
    m_inLayout = true;
    SIZE size = GetClientSize();
    m_root->SetPos(RECT{0, 0, size.cx, size.cy});
    m_inLayout = false;
    // A layout pass that changed visibility asks for another; settle it now.
    if (m_updateNeeded) {
        m_updateNeeded = false;
        m_inLayout = true;
        m_root->SetPos(RECT{0, 0, size.cx, size.cy});
        m_inLayout = false;
    }
}

void CPaintManagerUI::ReapControl(CControlUI* control) {
    if (m_focus == control) m_focus = nullptr;
    if (m_defaultButton == control) m_defaultButton = nullptr;
    if (m_hot == control) m_hot = nullptr;
    if (m_pushed == control) m_pushed = nullptr;
    KillTimers(control);
    for (auto& group : m_optionGroups) {
        auto& v = group.second;
        v.erase(std::remove(v.begin(), v.end(), control), v.end());
    }
    m_queued.erase(std::remove_if(m_queued.begin(), m_queued.end(), [control](const TNotifyUI& n) { return n.pSender == control; }),
                   m_queued.end());
    for (auto it = m_nativeChildren.begin(); it != m_nativeChildren.end();)
        it = it->second == control ? m_nativeChildren.erase(it) : std::next(it);
}

void CPaintManagerUI::AddOptionGroup(const std::wstring& group, CControlUI* option) {
    auto& v = m_optionGroups[group];
    if (std::find(v.begin(), v.end(), option) == v.end()) v.push_back(option);
}

void CPaintManagerUI::RemoveOptionGroup(const std::wstring& group, CControlUI* option) {
    auto it = m_optionGroups.find(group);
    if (it == m_optionGroups.end()) return;
    it->second.erase(std::remove(it->second.begin(), it->second.end(), option), it->second.end());
}

const std::vector<CControlUI*>* CPaintManagerUI::GetOptionGroup(const std::wstring& group) const {
    auto it = m_optionGroups.find(group);
    return it == m_optionGroups.end() ? nullptr : &it->second;
}

// ---- Focus ----

void CPaintManagerUI::SetFocus(CControlUI* control, bool takeWindowFocus) {
    if (control == m_focus) {
        if (control && m_hwnd && takeWindowFocus && ::GetFocus() == nullptr) ::SetFocus(m_hwnd);
        return;
    }
    if (m_hwnd && control && takeWindowFocus) {
        HWND focused = ::GetFocus();
        // The focus event for the new control follows below, not for the one the window had.
        m_takingWindowFocus = true;
        if (focused != m_hwnd && (!focused || GetParent(focused) != m_hwnd)) ::SetFocus(m_hwnd);
        m_takingWindowFocus = false;
    }
    InvalidateFocusRing();
    CControlUI* old = m_focus;
    m_focus = control;
    if (old) {
        TEventUI e;
        e.Type = UIEVENT_KILLFOCUS;
        e.pSender = old;
        e.dwTimestamp = GetTickCount();
        old->DoEvent(e);
        SendNotify(old, L"killfocus");
    }
    if (control && m_focus == control) {
        TEventUI e;
        e.Type = UIEVENT_SETFOCUS;
        e.pSender = control;
        e.dwTimestamp = GetTickCount();
        control->DoEvent(e);
        SendNotify(control, L"setfocus");
    }
    if (m_focus && m_focus == control) {
        InvalidateFocusRing();
        NotifyAccessible(EVENT_OBJECT_FOCUS, control);
    }
}

std::vector<std::pair<CControlUI*, int>> CPaintManagerUI::GetTabStops() {
    std::vector<std::pair<CControlUI*, int>> stops;
    if (!m_root) return stops;
    UpdateLayout();
    SIZE size = GetClientSize();
    CollectTabStops(m_root.get(), RECT{0, 0, size.cx, size.cy}, stops);
    return stops;
}

RECT CPaintManagerUI::GetShownRect(CControlUI* control) const {
    RECT empty{0, 0, 0, 0};
    if (!control) return empty;
    SIZE size = GetClientSize();
    RECT shown = UI::Intersect(control->GetPos(), RECT{0, 0, size.cx, size.cy});
    for (CControlUI* c = control; c; c = c->GetParent()) {
        if (!c->IsVisible()) return empty;
        shown = UI::Intersect(shown, c->GetPos());
        if (UI::IsEmptyRect(shown)) return empty;
    }
    return shown;
}

void CPaintManagerUI::SetFocusVisible(bool visible) {
    if (visible == m_focusVisible) return;
    m_focusVisible = visible;
    InvalidateFocusRing();
    if (m_focus) m_focus->Invalidate();
}

void CPaintManagerUI::SetDefaultButton(CControlUI* control) {
    CControlUI* old = m_defaultButton;
    m_defaultButton = control;
    if (old && old != control) NotifyAccessible(EVENT_OBJECT_STATECHANGE, old);
    if (control && control->IsActive()) SetFocus(control, false);
    if (control) NotifyAccessible(EVENT_OBJECT_STATECHANGE, control);
}

void CPaintManagerUI::SetFocusRingColor(DWORD argb) {
    m_focusRingColor = argb;
    InvalidateFocusRing();
}

void CPaintManagerUI::InvalidateFocusRing() {
    if (!m_focus || !m_focusVisible) return;
    int margin = Scale(kFocusRingGap + kFocusRingWidth) + 1;
    for (const RECT& rc : m_focus->GetFocusRects()) Invalidate(Inflated(rc, margin));
}

void CPaintManagerUI::PaintFocusRing(HDC hdc) {
    if (!m_focus || !m_focusVisible || !m_focus->IsVisible()) return;
    RECT shown = GetShownRect(m_focus);
    if (UI::IsEmptyRect(shown)) return;
    // The ring may stand outside the control, but not outside a scrolling parent's view.
    SIZE size = GetClientSize();
    RECT clip{0, 0, size.cx, size.cy};
    for (CControlUI* p = m_focus->GetParent(); p; p = p->GetParent()) {
        auto* container = static_cast<CContainerUI*>(p->GetInterface(L"Container"));
        if (container && container->IsScrollBarShown()) clip = UI::Intersect(clip, p->GetPos());
    }
    int width = std::max(1, Scale(kFocusRingWidth));
    int gap = Scale(kFocusRingGap);
    int saved = SaveDC(hdc);
    IntersectClipRect(hdc, clip.left, clip.top, clip.right, clip.bottom);
    for (const RECT& rc : m_focus->GetFocusRects())
        CRenderEngine::DrawRect(hdc, Inflated(rc, gap + width), width, SystemLook::FocusRingColor(m_focusRingColor));
    RestoreDC(hdc, saved);
}

bool CPaintManagerUI::MoveFocus(bool forward) {
    std::vector<std::pair<CControlUI*, int>> stops = GetTabStops();
    if (stops.empty()) return false;
    auto it = m_focus ? std::find(stops.begin(), stops.end(), std::make_pair(m_focus, m_focus->GetFocusPart())) : stops.end();
    size_t index;
    if (it == stops.end()) index = forward ? 0 : stops.size() - 1;
    else {
        size_t at = static_cast<size_t>(it - stops.begin());
        index = forward ? (at + 1) % stops.size() : (at + stops.size() - 1) % stops.size();
    }
    SetFocusVisible(true);
    CControlUI* next = stops[index].first;
    if (next == m_focus) {
        // Another link of the same text.
        InvalidateFocusRing();
        next->SetFocusPart(stops[index].second);
        InvalidateFocusRing();
        NotifyAccessible(EVENT_OBJECT_FOCUS, next);
    } else {
        next->SetFocusPart(stops[index].second);
        SetFocus(next);
    }
    if (m_focus) m_focus->Invalidate();
    return true;
}

// ---- Notifications ----

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
    if (std::find(m_notifiers.begin(), m_notifiers.end(), notifier) == m_notifiers.end()) m_notifiers.push_back(notifier);
}

void CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
    m_notifiers.erase(std::remove(m_notifiers.begin(), m_notifiers.end(), notifier), m_notifiers.end());
}

void CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) {
    if (std::find(m_filters.begin(), m_filters.end(), filter) == m_filters.end()) m_filters.push_back(filter);
}

void CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter) {
    m_filters.erase(std::remove(m_filters.begin(), m_filters.end(), filter), m_filters.end());
}

void CPaintManagerUI::SendNotify(CControlUI* control, const std::wstring& type, WPARAM wParam, LPARAM lParam, bool async) {
    TNotifyUI msg;
    msg.sType = type;
    msg.pSender = control;
    msg.wParam = wParam;
    msg.lParam = lParam;
    SendNotify(msg, async);
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg, bool async) {
    msg.ptMouse = m_lastMouse;
    msg.dwTimestamp = GetTickCount();
    if (async && m_hwnd) {
        m_queued.push_back(msg);
        PostMessageW(m_hwnd, WM_DUI_ASYNC, 0, 0);
        return;
    }
    // A copy: a notifier may add or remove notifiers.
    std::vector<INotifyUI*> notifiers = m_notifiers;
    for (INotifyUI* n : notifiers)
        if (std::find(m_notifiers.begin(), m_notifiers.end(), n) != m_notifiers.end()) n->Notify(msg);
}

void CPaintManagerUI::FireQueued() {
    std::vector<TNotifyUI> queued;
    queued.swap(m_queued);
    for (TNotifyUI& msg : queued) SendNotify(msg, false);
}

// ---- Timers ----

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapse) {
    for (TimerEntry& t : m_timers)
        if (t.control == control && t.id == id) {
            if (m_hwnd) ::SetTimer(m_hwnd, t.windowId, elapse, nullptr);
            return true;
        }
    TimerEntry t{control, id, ++m_nextTimerId};
    if (m_hwnd && !::SetTimer(m_hwnd, t.windowId, elapse, nullptr)) return false;
    m_timers.push_back(t);
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
        if (it->control == control && it->id == id) {
            if (m_hwnd) ::KillTimer(m_hwnd, it->windowId);
            m_timers.erase(it);
            return true;
        }
    return false;
}

void CPaintManagerUI::KillTimers(CControlUI* control) {
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->control == control) {
            if (m_hwnd) ::KillTimer(m_hwnd, it->windowId);
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- Fonts ----

void CPaintManagerUI::AddFont(int id, const TFontInfo& font, bool isDefault) {
    auto it = m_fonts.find(id);
    if (it != m_fonts.end())
        for (auto& made : it->second.made) DeleteObject(made.second);
    FontEntry entry;
    entry.info = font;
    m_fonts[id] = entry;
    if (isDefault || m_defaultFont < 0) m_defaultFont = id;
}

const TFontInfo* CPaintManagerUI::GetFontInfo(int id) const {
    auto it = m_fonts.find(id);
    if (it != m_fonts.end()) return &it->second.info;
    if (m_resourceParent) return m_resourceParent->GetFontInfo(id);
    return nullptr;
}

void CPaintManagerUI::SetFontFaceOverride(const std::wstring& face) {
    if (face == m_faceOverride) return;
    m_faceOverride = face;
    ReleaseFonts();
    NeedUpdate();
    Invalidate();
}

HFONT CPaintManagerUI::GetFont(int id, bool bold, bool italic, bool underline) {
    return MakeFont(id, std::wstring(), bold, italic, underline);
}

HFONT CPaintManagerUI::GetFontWithFace(int id, const std::wstring& face, bool bold, bool italic) {
    return MakeFont(id, face, bold, italic, false);
}

HFONT CPaintManagerUI::MakeFont(int id, const std::wstring& faceWanted, bool bold, bool italic, bool underline) {
    if (id < 0) id = m_defaultFont >= 0 ? m_defaultFont : (m_resourceParent ? m_resourceParent->GetDefaultFontId() : -1);
    const TFontInfo* info = GetFontInfo(id);
    if (!info) {
        static TFontInfo fallback{L"Segoe UI", 12, false, false, false};
        info = &fallback;
        id = -1;
    }
    FontEntry& entry = m_fonts[id];
    if (entry.info.face.empty()) entry.info = *info;
    int style = StyleKey(bold || info->bold, italic || info->italic, underline || info->underline);
    std::wstring face = faceWanted;
    if (face.empty()) face = m_faceOverride;
    if (face.empty() && m_resourceParent) face = m_resourceParent->GetFontFaceOverride();
    if (face.empty()) face = info->face;
    std::wstring key = face + L"|" + std::to_wstring(style);
    auto made = entry.made.find(key);
    if (made != entry.made.end()) return made->second;
    LOGFONTW lf{};
    lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
    lf.lfHeight = -Scale(info->size);
    lf.lfWeight = (style & 1) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style & 2) ? TRUE : FALSE;
    lf.lfUnderline = (style & 4) ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    lf.lfQuality = CLEARTYPE_QUALITY;
    HFONT font = CreateFontIndirectW(&lf);
    entry.made[key] = font;
    return font;
}

void CPaintManagerUI::ReleaseFonts() {
    for (auto& f : m_fonts) {
        for (auto& made : f.second.made) DeleteObject(made.second);
        f.second.made.clear();
    }
    m_fonts.erase(-1);
}

// ---- Images ----

CImageCache& CPaintManagerUI::GetImageCache() {
    if (m_resourceParent) return m_resourceParent->GetImageCache();
    if (!m_images) m_images.reset(new CImageCache());
    return *m_images;
}

const TImageInfo* CPaintManagerUI::GetImage(const std::wstring& name) { return GetImageCache().GetScaled(name, m_scale); }

void CPaintManagerUI::AddImage(const std::wstring& name, std::unique_ptr<TImageInfo> image) {
    GetImageCache().Add(name, std::move(image));
}

void CPaintManagerUI::RemoveImage(const std::wstring& name) { GetImageCache().Remove(name); }

void CPaintManagerUI::RemoveAllImages() {
    GetImageCache().Clear();
    Invalidate();
}

bool CPaintManagerUI::PaintImage(HDC hdc, const RECT& rc, const std::wstring& image) {
    return CRenderEngine::DrawImageString(hdc, this, rc, rc, image);
}

// ---- Painting ----

void CPaintManagerUI::Invalidate() {
    SIZE size = GetClientSize();
    Invalidate(RECT{0, 0, size.cx, size.cy});
}

void CPaintManagerUI::Invalidate(const RECT& rc) {
    if (!m_hwnd) return;
    if (m_window.layered) {
        if (!m_layeredPending) {
            m_layeredPending = true;
            PostMessageW(m_hwnd, WM_DUI_ASYNC, 0, 0);
        }
        return;
    }
    ::InvalidateRect(m_hwnd, &rc, FALSE);
}

void CPaintManagerUI::EnsureOffscreen(SIZE size) {
    if (m_offscreen && m_offscreenSize.cx == size.cx && m_offscreenSize.cy == size.cy) return;
    if (m_offscreenDC) {
        SelectObject(m_offscreenDC, m_offscreenOld);
        DeleteDC(m_offscreenDC);
        m_offscreenDC = nullptr;
    }
    if (m_offscreen) DeleteObject(m_offscreen);
    m_offscreen = nullptr;
    m_offscreenBits = nullptr;
    if (size.cx <= 0 || size.cy <= 0) return;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = size.cx;
    bmi.bmiHeader.biHeight = -size.cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_offscreen = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_offscreenBits = static_cast<BYTE*>(bits);
    m_offscreenDC = CreateCompatibleDC(nullptr);
    m_offscreenOld = SelectObject(m_offscreenDC, m_offscreen);
    m_offscreenSize = size;
}

void CPaintManagerUI::Paint(HDC target, const RECT& rcPaint) {
    SIZE size = GetClientSize();
    EnsureOffscreen(size);
    if (!m_offscreenDC) return;
    int saved = SaveDC(m_offscreenDC);
    IntersectClipRect(m_offscreenDC, rcPaint.left, rcPaint.top, rcPaint.right, rcPaint.bottom);
    CRenderEngine::FillRect(m_offscreenDC, rcPaint, GetWindowBkColor() | 0xFF000000);
    if (m_root) m_root->DoPaint(m_offscreenDC, rcPaint);
    PaintFocusRing(m_offscreenDC);
    if (UI::AlphaOf(m_window.borderColor)) CRenderEngine::DrawRect(m_offscreenDC, RECT{0, 0, size.cx, size.cy}, 1, m_window.borderColor);
    RestoreDC(m_offscreenDC, saved);
    BitBlt(target, rcPaint.left, rcPaint.top, UI::Width(rcPaint), UI::Height(rcPaint), m_offscreenDC, rcPaint.left, rcPaint.top,
           SRCCOPY);
    ++m_paintCount;
    m_lastPaint = rcPaint;
}

void CPaintManagerUI::LayeredPaint() {
    m_layeredPending = false;
    if (!m_hwnd) return;
    UpdateLayout();
    SIZE size = GetClientSize();
    EnsureOffscreen(size);
    if (!m_offscreenDC) return;
    std::memset(m_offscreenBits, 0, static_cast<size_t>(size.cx) * size.cy * 4);
    RECT all{0, 0, size.cx, size.cy};
    if (UI::AlphaOf(m_window.bkColor) == 0xFF && !m_window.layered) CRenderEngine::FillRect(m_offscreenDC, all, GetWindowBkColor());
    if (m_root) m_root->DoPaint(m_offscreenDC, all);
    PaintFocusRing(m_offscreenDC);
    GdiFlush();
    RECT wr{};
    GetWindowRect(m_hwnd, &wr);
    POINT dst{wr.left, wr.top};
    POINT src{0, 0};
    BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(m_hwnd, nullptr, &dst, &size, m_offscreenDC, &src, 0, &bf, ULW_ALPHA);
    ++m_paintCount;
    m_lastPaint = all;
}

void CPaintManagerUI::RenderTo(HDC hdc) {
    UpdateLayout();
    SIZE size = GetClientSize();
    RECT all{0, 0, size.cx, size.cy};
    if (!m_window.layered) CRenderEngine::FillRect(hdc, all, GetWindowBkColor() | 0xFF000000);
    if (m_root) m_root->DoPaint(hdc, all);
    PaintFocusRing(hdc);
    if (UI::AlphaOf(m_window.borderColor) && !m_window.layered) CRenderEngine::DrawRect(hdc, all, 1, m_window.borderColor);
    GdiFlush();
}

std::unique_ptr<TImageInfo> CPaintManagerUI::Render() {
    SIZE size = GetClientSize();
    auto image = ImageCodec::Create(size.cx, size.cy);
    if (!image) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, image->hBitmap);
    RenderTo(dc);
    SelectObject(dc, old);
    DeleteDC(dc);
    return image;
}

void CPaintManagerUI::ApplyRoundCorner() {
    if (!m_hwnd || (m_window.roundCorner.cx <= 0 && m_window.roundCorner.cy <= 0) || m_window.layered) return;
    RECT rc{};
    GetWindowRect(m_hwnd, &rc);
    HRGN region = CreateRoundRectRgn(0, 0, rc.right - rc.left + 1, rc.bottom - rc.top + 1, Scale(m_window.roundCorner.cx),
                                     Scale(m_window.roundCorner.cy));
    SetWindowRgn(m_hwnd, region, TRUE);
}

// ---- Messages ----

void CPaintManagerUI::DispatchEvent(CControlUI* control, TEventUI& event) {
    if (!control) return;
    event.pSender = control;
    event.dwTimestamp = GetTickCount();
    control->DoEvent(event);
}

void CPaintManagerUI::UpdateToolTip(CControlUI* control) {
    if (!m_hwnd) return;
    std::wstring text = control ? control->GetToolTip() : std::wstring();
    if (!m_tooltip) {
        if (text.empty()) return;
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        m_tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd, nullptr, GetInstance(), nullptr);
        if (!m_tooltip) return;
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_SUBCLASS;  // the tooltip sees the window's mouse messages itself
        tool.hwnd = m_hwnd;
        tool.uId = 1;
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, Scale(400));
    }
    m_tooltipText = text;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_hwnd;
    tool.uId = 1;
    tool.hinst = nullptr;
    tool.lpszText = const_cast<wchar_t*>(m_tooltipText.c_str());
    SendMessageW(m_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    if (control) tool.rect = control->GetPos();
    SendMessageW(m_tooltip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_tooltip, TTM_ACTIVATE, text.empty() ? FALSE : TRUE, 0);
}

void CPaintManagerUI::SetHot(CControlUI* control, POINT pt) {
    if (control == m_hot) return;
    CControlUI* old = m_hot;
    m_hot = control;
    UpdateToolTip(control);
    if (old) {
        TEventUI e;
        e.Type = UIEVENT_MOUSELEAVE;
        e.ptMouse = pt;
        DispatchEvent(old, e);
    }
    if (control && m_hot == control) {
        TEventUI e;
        e.Type = UIEVENT_MOUSEENTER;
        e.ptMouse = pt;
        DispatchEvent(control, e);
    }
}

bool CPaintManagerUI::HandleKey(UINT uMsg, WPARAM wParam) {
    if (uMsg == WM_KEYDOWN && wParam == VK_TAB) {
        MoveFocus(GetKeyState(VK_SHIFT) >= 0);
        return true;
    }
    // Keys that move within a control show where the focus is, as Tab does.
    if (uMsg == WM_KEYDOWN && (wParam == VK_UP || wParam == VK_DOWN || wParam == VK_LEFT || wParam == VK_RIGHT ||
                               wParam == VK_PRIOR || wParam == VK_NEXT))
        SetFocusVisible(true);
    if (!m_focus || wParam == VK_ESCAPE) return false;
    TEventUI e;
    e.Type = uMsg == WM_KEYDOWN ? UIEVENT_KEYDOWN : UIEVENT_KEYUP;
    e.chKey = static_cast<wchar_t>(wParam);
    e.wParam = wParam;
    e.wKeyState = static_cast<WORD>((GetKeyState(VK_SHIFT) < 0 ? MK_SHIFT : 0) | (GetKeyState(VK_CONTROL) < 0 ? MK_CONTROL : 0));
    DispatchEvent(m_focus, e);
    return true;
}

bool CPaintManagerUI::HandleChildKey(WPARAM key) {
    if (key == VK_TAB) {
        MoveFocus(GetKeyState(VK_SHIFT) >= 0);
        return true;
    }
    if (key == VK_ESCAPE || key == VK_RETURN) {
        // Leaves the native child and lets the window see the key.
        if (m_hwnd) {
            ::SetFocus(m_hwnd);
            PostMessageW(m_hwnd, WM_KEYDOWN, key, 0);
        }
        return true;
    }
    return false;
}

void CPaintManagerUI::RegisterNativeChild(HWND child, CControlUI* control) { m_nativeChildren[child] = control; }

void CPaintManagerUI::UnregisterNativeChild(HWND child) { m_nativeChildren.erase(child); }

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    lRes = 0;
    for (IMessageFilterUI* filter : std::vector<IMessageFilterUI*>(m_filters)) {
        bool handled = false;
        LRESULT r = filter->MessageHandler(uMsg, wParam, lParam, handled);
        if (handled) {
            lRes = r;
            return true;
        }
    }
    switch (uMsg) {
        case WM_DUI_ASYNC:
            FireQueued();
            if (m_layeredPending) LayeredPaint();
            return true;
        case WM_DUI_ACCACTION:
            DoAccessibleAction(*this, reinterpret_cast<CControlUI*>(wParam), static_cast<int>(lParam));
            return true;
        case WM_DUI_ENDEDIT: {
            auto it = m_nativeChildren.find(reinterpret_cast<HWND>(lParam));
            if (it == m_nativeChildren.end()) return true;
            HWND focused = ::GetFocus();
            if (focused == reinterpret_cast<HWND>(lParam)) return true;  // it has the focus again
            CControlUI* control = it->second;
            if (m_focus == control) SetFocus(nullptr);
            else {
                TEventUI e;
                e.Type = UIEVENT_KILLFOCUS;
                DispatchEvent(control, e);
            }
            return true;
        }
        case WM_ERASEBKGND:
            lRes = 1;
            return true;
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
        case WM_SYSCOLORCHANGE:
            // High contrast switched on or off while the window shows: it repaints in the new colours.
            RefreshSystemLook();
            return false;
        case WM_PAINT: {
            UpdateLayout();
            if (m_window.layered) {
                ValidateRect(m_hwnd, nullptr);
                LayeredPaint();
                return true;
            }
            PAINTSTRUCT ps{};
            HDC dc = BeginPaint(m_hwnd, &ps);
            if (!UI::IsEmptyRect(ps.rcPaint)) Paint(dc, ps.rcPaint);
            EndPaint(m_hwnd, &ps);
            return true;
        }
        case WM_PRINTCLIENT: {
            RECT rc{};
            GetClientRect(m_hwnd, &rc);
            UpdateLayout();
            Paint(reinterpret_cast<HDC>(wParam), rc);
            return true;
        }
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) {
                NeedUpdate();
                ApplyRoundCorner();
            }
            return false;
        case WM_TIMER:
            for (const TimerEntry& t : m_timers)
                if (t.windowId == wParam) {
                    TEventUI e;
                    e.Type = UIEVENT_TIMER;
                    e.wParam = t.id;
                    DispatchEvent(t.control, e);
                    return true;
                }
            return false;
        case WM_MOUSEMOVE: {
            if (!m_mouseTracking && m_hwnd) {
                TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, m_hwnd, 0};
                m_mouseTracking = TrackMouseEvent(&tme) != FALSE;
            }
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            m_lastMouse = pt;
            CControlUI* hit = FindControl(pt);
            if (hit && !hit->IsEnabled()) hit = nullptr;
            if (m_pushed) {
                TEventUI e;
                e.Type = UIEVENT_MOUSEMOVE;
                e.ptMouse = pt;
                e.wParam = wParam;
                DispatchEvent(m_pushed, e);
            }
            SetHot(hit, pt);
            if (hit && hit != m_pushed) {
                TEventUI e;
                e.Type = UIEVENT_MOUSEMOVE;
                e.ptMouse = pt;
                e.wParam = wParam;
                DispatchEvent(hit, e);
            }
            return true;
        }
        case WM_MOUSELEAVE:
            m_mouseTracking = false;
            if (!m_pushed) SetHot(nullptr, POINT{-1, -1});
            return true;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            m_lastMouse = pt;
            m_focusVisible = false;
            if (m_hwnd && ::GetFocus() != m_hwnd) ::SetFocus(m_hwnd);
            CControlUI* hit = FindControl(pt);
            if (!hit || !hit->IsEnabled()) return true;
            if (hit->GetControlFlags() & UIFLAG_TABSTOP) SetFocus(hit);
            m_pushed = hit;
            if (m_hwnd) SetCapture(m_hwnd);
            TEventUI e;
            e.Type = uMsg == WM_LBUTTONDBLCLK ? UIEVENT_DBLCLICK : UIEVENT_BUTTONDOWN;
            e.ptMouse = pt;
            e.wParam = wParam;
            DispatchEvent(hit, e);
            return true;
        }
        case WM_LBUTTONUP: {
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            m_lastMouse = pt;
            CControlUI* pushed = m_pushed;
            m_pushed = nullptr;
            if (m_hwnd && GetCapture() == m_hwnd) ReleaseCapture();
            if (pushed) {
                TEventUI e;
                e.Type = UIEVENT_BUTTONUP;
                e.ptMouse = pt;
                e.wParam = wParam;
                DispatchEvent(pushed, e);
            }
            return true;
        }
        case WM_CAPTURECHANGED:
            if (m_pushed && reinterpret_cast<HWND>(lParam) != m_hwnd) {
                CControlUI* pushed = m_pushed;
                m_pushed = nullptr;
                TEventUI e;
                e.Type = UIEVENT_BUTTONUP;
                e.ptMouse = POINT{-100000, -100000};
                DispatchEvent(pushed, e);
            }
            return false;
        case WM_MOUSEWHEEL: {
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ScreenToClient(m_hwnd, &pt);
            CControlUI* hit = FindControl(pt);
            if (!hit) return false;
            TEventUI e;
            e.Type = UIEVENT_SCROLLWHEEL;
            e.ptMouse = pt;
            e.wParam = static_cast<WPARAM>(static_cast<short>(HIWORD(wParam)));
            DispatchEvent(hit, e);
            return true;
        }
        case WM_SETCURSOR: {
            if (LOWORD(lParam) != HTCLIENT) return false;
            POINT pt{};
            GetCursorPos(&pt);
            ScreenToClient(m_hwnd, &pt);
            CControlUI* hit = FindControl(pt);
            if (hit && hit->IsEnabled() && (hit->GetControlFlags() & UIFLAG_SETCURSOR)) {
                TEventUI e;
                e.Type = UIEVENT_SETCURSOR;
                e.ptMouse = pt;
                DispatchEvent(hit, e);
            } else {
                ::SetCursor(LoadCursorW(nullptr, IDC_ARROW));
            }
            lRes = TRUE;
            return true;
        }
        case WM_KEYDOWN:
        case WM_KEYUP:
            return HandleKey(uMsg, wParam);
        case WM_CHAR:
            if (!m_focus) return false;
            {
                TEventUI e;
                e.Type = UIEVENT_CHAR;
                e.chKey = static_cast<wchar_t>(wParam);
                e.wParam = wParam;
                DispatchEvent(m_focus, e);
            }
            return true;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            if (m_focus) m_focus->Invalidate();
            InvalidateFocusRing();
            // A screen reader tells which control has the focus when the window gets it.
            // (Not when the focus only comes back from the window's own edit box.)
            if (uMsg == WM_SETFOCUS && m_focus && !m_takingWindowFocus &&
                !(wParam && IsChild(m_hwnd, reinterpret_cast<HWND>(wParam))))
                NotifyAccessible(EVENT_OBJECT_FOCUS, m_focus);
            return false;
        case WM_GETOBJECT:
            if (static_cast<LONG>(lParam) != static_cast<LONG>(OBJID_CLIENT)) return false;
            lRes = AnswerGetObject(wParam, lParam);
            return lRes != 0;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC: {
            auto it = m_nativeChildren.find(reinterpret_cast<HWND>(lParam));
            if (it == m_nativeChildren.end()) return false;
            // High contrast: the system's colours, not the skin's, for the box and its text.
            DWORD bk = m_highContrast ? SystemLook::RoleColor(SystemLook::Role::Window) : it->second->GetNativeBkColor();
            DWORD text = m_highContrast ? SystemLook::RoleColor(SystemLook::Role::WindowText) : it->second->GetNativeTextColor();
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, UI::ToColorRef(text));
            SetBkColor(dc, UI::ToColorRef(bk));
            if (!m_nativeBrush || m_nativeBrushColor != bk) {
                if (m_nativeBrush) DeleteObject(m_nativeBrush);
                m_nativeBrush = CreateSolidBrush(UI::ToColorRef(bk));
                m_nativeBrushColor = bk;
            }
            lRes = reinterpret_cast<LRESULT>(m_nativeBrush);
            return true;
        }
        case WM_DESTROY:
            for (const TimerEntry& t : m_timers) ::KillTimer(m_hwnd, t.windowId);
            m_timers.clear();
            if (m_tooltip) DestroyWindow(m_tooltip);
            m_tooltip = nullptr;
            return false;
        default:
            return false;
    }
}

}  // namespace DuiLib
