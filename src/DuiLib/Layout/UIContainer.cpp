#include "DuiLib/Layout/UIContainer.h"

#include <algorithm>

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"

namespace DuiLib {
namespace {
constexpr int kScrollBarWidth = 10;  // logical pixels, the thumb is narrower inside it
}

CContainerUI::CContainerUI(std::wstring className) : CControlUI(std::move(className)) {}

CContainerUI::~CContainerUI() {
    // Children go while this container still answers GetParent.
    m_items.clear();
}

void* CContainerUI::GetInterface(const std::wstring& name) {
    if (name == L"Container") return this;
    return CControlUI::GetInterface(name);
}

CControlUI* CContainerUI::GetItemAt(size_t index) const { return index < m_items.size() ? m_items[index].get() : nullptr; }

int CContainerUI::GetItemIndex(CControlUI* control) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == control) return static_cast<int>(i);
    return -1;
}

CControlUI* CContainerUI::Add(std::unique_ptr<CControlUI> child) { return AddAt(std::move(child), m_items.size()); }

CControlUI* CContainerUI::AddAt(std::unique_ptr<CControlUI> child, size_t index) {
    if (!child) return nullptr;
    CControlUI* raw = child.get();
    index = std::min<int>(index, m_items.size());
    m_items.insert(m_items.begin() + static_cast<ptrdiff_t>(index), std::move(child));
    raw->SetManager(m_manager, this, true);
    raw->SetInternVisible(IsVisible());
    NeedUpdate();
    return raw;
}

bool CContainerUI::Remove(CControlUI* control) { return Detach(control) != nullptr; }

std::unique_ptr<CControlUI> CContainerUI::Detach(CControlUI* control) {
    for (auto it = m_items.begin(); it != m_items.end(); ++it)
        if (it->get() == control) {
            std::unique_ptr<CControlUI> out = std::move(*it);
            m_items.erase(it);
            out->Invalidate();
            // The manager forgets it (hover, focus, timers) before it leaves.
            out->ForEach([this](CControlUI* c) {
                if (m_manager) m_manager->ReapControl(c);
            });
            out->SetManager(nullptr, nullptr, false);
            NeedUpdate();
            return out;
        }
    return nullptr;
}

void CContainerUI::RemoveAll() {
    while (!m_items.empty()) Remove(m_items.back().get());
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    CControlUI::SetManager(manager, parent, init);
    for (auto& child : m_items) child->SetManager(manager, this, init);
}

CControlUI* CContainerUI::FindControl(const std::wstring& name) {
    if (CControlUI* self = CControlUI::FindControl(name)) return self;
    for (auto& child : m_items)
        if (CControlUI* found = child->FindControl(name)) return found;
    return nullptr;
}

CControlUI* CContainerUI::FindControlAt(POINT pt, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((flags & UIFIND_HITTEST) && !UI::Contains(m_rcItem, pt)) return nullptr;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if (IsScrollBarShown() && UI::Contains(m_rcScrollBar, pt)) return this;
    // Later children are drawn over earlier ones, so they are asked first; children outside the
    // container's inside (scrolled away) are not hit.
    RECT inside = UI::Deflate(m_rcItem, Scale(m_inset));
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        CControlUI* child = it->get();
        if ((flags & UIFIND_HITTEST) && !child->IsFloat() && !UI::Contains(inside, pt)) continue;
        if (CControlUI* found = child->FindControlAt(pt, flags)) return found;
    }
    if ((flags & UIFIND_HITTEST) && !m_mouse) return nullptr;
    return this;
}

void CContainerUI::ForEach(const std::function<void(CControlUI*)>& visit) {
    visit(this);
    for (auto& child : m_items) child->ForEach(visit);
}

void CContainerUI::SetVisible(bool visible) {
    if (m_visible == visible) return;
    if (!visible) Invalidate();
    CControlUI::SetVisible(visible);
    for (auto& child : m_items) child->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool visible) {
    CControlUI::SetInternVisible(visible);
    for (auto& child : m_items) child->SetInternVisible(IsVisible());
}

void CContainerUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    CControlUI::SetAttribute(name, value);
    if (name == L"inset") m_inset = UI::ParseRect(value);
    else if (name == L"childpadding") m_childPadding = UI::ParseInt(value);
    else if (name == L"childalign") m_childAlign = value == L"center" ? 1 : value == L"right" ? 2 : 0;
    else if (name == L"childvalign") m_childVAlign = value == L"vcenter" || value == L"center" ? 1 : value == L"bottom" ? 2 : 0;
    else if (name == L"vscrollbar") m_vscroll = UI::ParseBool(value);
    else if (name == L"scrollstepsize") m_scrollStep = std::max<int>(1, UI::ParseInt(value, 40));
}

RECT CContainerUI::Mirror(const RECT& r, const RECT& box) {
    return RECT{box.left + box.right - r.right, r.top, box.left + box.right - r.left, r.bottom};
}

RECT CContainerUI::ContentRect() const {
    RECT rc = UI::Deflate(m_rcItem, Scale(m_inset));
    if (IsScrollBarShown()) rc.right -= Scale(kScrollBarWidth);
    return rc;
}

void CContainerUI::SetFloatPos(CControlUI* child, const RECT& rc) {
    const RECT& p = child->GetFloatPos();
    RECT r{m_rcItem.left + Scale(p.left), m_rcItem.top + Scale(p.top), m_rcItem.left + Scale(p.right), m_rcItem.top + Scale(p.bottom)};
    if (m_manager && m_manager->IsRTL()) r = Mirror(r, m_rcItem);
    child->SetPos(r);
}

int CContainerUI::LayoutChildren(const RECT& rc) {
    int needed = 0;
    for (auto& item : m_items) {
        CControlUI* child = item.get();
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(child, rc);
            continue;
        }
        RECT pad = Scale(child->GetPadding());
        RECT r = UI::Deflate(rc, pad);
        SIZE sz = child->EstimateSize(SIZE{UI::Width(r), UI::Height(r)});
        if (sz.cx > 0) r.right = r.left + std::min<LONG>(sz.cx, UI::Width(r));
        if (sz.cy > 0) r.bottom = r.top + sz.cy;
        if (m_manager && m_manager->IsRTL()) r = Mirror(r, rc);
        child->SetPos(r);
        needed = std::max<int>(needed, r.bottom - rc.top + pad.bottom);
    }
    return needed;
}

void CContainerUI::SetPos(const RECT& rc) {
    CControlUI::SetPos(rc);
    RECT inside = UI::Deflate(m_rcItem, Scale(m_inset));
    if (!m_vscroll) {
        m_scrollRange = 0;
        m_scrollPos = 0;
        LayoutChildren(inside);
        return;
    }
    // Lay out once without the bar; when the children need more height, again with it.
    int oldRange = m_scrollRange;
    m_scrollRange = 0;
    RECT r = inside;
    int needed = LayoutChildren(r);
    if (needed > UI::Height(inside)) {
        m_scrollRange = needed - UI::Height(inside);
        r.right -= Scale(kScrollBarWidth);
        m_scrollPos = std::clamp(m_scrollPos, 0, m_scrollRange);
        RECT shifted = r;
        OffsetRect(&shifted, 0, -m_scrollPos);
        needed = LayoutChildren(RECT{shifted.left, shifted.top, shifted.right, shifted.top + UI::Height(inside)});
        m_scrollRange = std::max<int>(0, needed - UI::Height(inside));
        m_scrollPos = std::clamp(m_scrollPos, 0, m_scrollRange);
        m_rcScrollBar = RECT{inside.right - Scale(kScrollBarWidth), inside.top, inside.right, inside.bottom};
    } else {
        m_scrollPos = 0;
        m_rcScrollBar = RECT{0, 0, 0, 0};
    }
    if (oldRange != m_scrollRange) Invalidate();
}

void CContainerUI::SetScrollPos(int pos) {
    pos = std::clamp(pos, 0, m_scrollRange);
    if (pos == m_scrollPos) return;
    m_scrollPos = pos;
    RECT keep = m_rcItem;
    m_rcItem = RECT{0, 0, 0, 0};  // force the children to be placed again
    SetPos(keep);
    Invalidate();
}

RECT CContainerUI::GetThumbRect() const {
    if (!IsScrollBarShown()) return RECT{0, 0, 0, 0};
    int track = UI::Height(m_rcScrollBar);
    int visible = track;
    int thumb = std::max<int>(Scale(24), static_cast<int>(static_cast<long long>(track) * visible / (visible + m_scrollRange)));
    thumb = std::min<int>(thumb, track);
    int top = m_rcScrollBar.top + static_cast<int>(static_cast<long long>(track - thumb) * m_scrollPos / std::max<int>(1, m_scrollRange));
    int w = Scale(6);
    int left = m_rcScrollBar.left + (UI::Width(m_rcScrollBar) - w) / 2;
    return RECT{left, top, left + w, top + thumb};
}

void CContainerUI::PaintScrollBar(HDC hdc) {
    if (!IsScrollBarShown()) return;
    RECT thumb = GetThumbRect();
    RECT track{thumb.left, m_rcScrollBar.top, thumb.right, m_rcScrollBar.bottom};
    int r = UI::Width(thumb) / 2;
    CRenderEngine::DrawRoundRect(hdc, track, r, r, 0xFFF1F0F6, 0, 0);
    CRenderEngine::DrawRoundRect(hdc, thumb, r, r, (m_thumbHot || m_thumbDrag) ? 0xFFA99DFF : 0xFFC9C4DE, 0, 0);
}

void CContainerUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    RECT paint = UI::Intersect(rcPaint, m_rcItem);
    if (UI::IsEmptyRect(paint)) return;
    CControlUI::DoPaint(hdc, rcPaint);
    if (m_items.empty() && !IsScrollBarShown()) return;
    int saved = SaveDC(hdc);
    RECT inside = UI::Deflate(m_rcItem, Scale(m_inset));
    RECT clip = UI::Intersect(paint, inside);
    IntersectClipRect(hdc, clip.left, clip.top, clip.right, clip.bottom);
    for (auto& item : m_items) {
        CControlUI* child = item.get();
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) continue;
        if (UI::IsEmptyRect(UI::Intersect(child->GetPos(), clip))) continue;
        child->DoPaint(hdc, clip);
    }
    RestoreDC(hdc, saved);
    // Floating children may sit on the inset; they are clipped by the container only.
    saved = SaveDC(hdc);
    IntersectClipRect(hdc, paint.left, paint.top, paint.right, paint.bottom);
    for (auto& item : m_items) {
        CControlUI* child = item.get();
        if (!child->IsVisible() || !child->IsFloat()) continue;
        if (UI::IsEmptyRect(UI::Intersect(child->GetPos(), paint))) continue;
        child->DoPaint(hdc, paint);
    }
    RestoreDC(hdc, saved);
    PaintScrollBar(hdc);
}

// A container that scrolls takes the keyboard focus, so its content can be read without a mouse.
UINT CContainerUI::GetControlFlags() const { return IsScrollBarShown() && IsEnabled() && m_keyboard ? UIFLAG_TABSTOP : 0; }

void CContainerUI::DoEvent(TEventUI& event) {
    if (!IsScrollBarShown()) {
        CControlUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
        case UIEVENT_SCROLLWHEEL: {
            int delta = static_cast<int>(static_cast<short>(event.wParam));
            SetScrollPos(m_scrollPos - delta * Scale(m_scrollStep) / WHEEL_DELTA);
            return;
        }
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK: {
            RECT thumb = GetThumbRect();
            if (UI::Contains(m_rcScrollBar, event.ptMouse)) {
                if (event.ptMouse.y >= thumb.top && event.ptMouse.y < thumb.bottom) {
                    m_thumbDrag = true;
                    m_dragStartY = event.ptMouse.y;
                    m_dragStartPos = m_scrollPos;
                } else {
                    int page = UI::Height(m_rcScrollBar) * 9 / 10;
                    SetScrollPos(m_scrollPos + (event.ptMouse.y < thumb.top ? -page : page));
                }
                Invalidate();
            }
            return;
        }
        case UIEVENT_MOUSEMOVE:
            if (m_thumbDrag) {
                RECT thumb = GetThumbRect();
                int travel = UI::Height(m_rcScrollBar) - UI::Height(thumb);
                if (travel > 0)
                    SetScrollPos(m_dragStartPos + static_cast<int>(static_cast<long long>(event.ptMouse.y - m_dragStartY) * m_scrollRange / travel));
            } else {
                bool hot = UI::Contains(GetThumbRect(), event.ptMouse);
                if (hot != m_thumbHot) {
                    m_thumbHot = hot;
                    Invalidate();
                }
            }
            return;
        case UIEVENT_BUTTONUP:
            if (m_thumbDrag) {
                m_thumbDrag = false;
                Invalidate();
            }
            return;
        case UIEVENT_MOUSELEAVE:
            if (m_thumbHot) {
                m_thumbHot = false;
                Invalidate();
            }
            return;
        case UIEVENT_KEYDOWN:
            if (event.chKey == VK_DOWN || event.chKey == VK_UP) {
                SetScrollPos(m_scrollPos + (event.chKey == VK_DOWN ? 1 : -1) * Scale(m_scrollStep));
                return;
            }
            if (event.chKey == VK_NEXT || event.chKey == VK_PRIOR) {
                int page = UI::Height(m_rcScrollBar) * 9 / 10;
                SetScrollPos(m_scrollPos + (event.chKey == VK_NEXT ? page : -page));
                return;
            }
            if (event.chKey == VK_HOME || event.chKey == VK_END) {
                SetScrollPos(event.chKey == VK_HOME ? 0 : m_scrollRange);
                return;
            }
            break;
        default:
            break;
    }
    CControlUI::DoEvent(event);
}

// ---- Vertical layout ----

void* CVerticalLayoutUI::GetInterface(const std::wstring& name) {
    if (name == L"VerticalLayout") return this;
    return CContainerUI::GetInterface(name);
}

int CVerticalLayoutUI::LayoutChildren(const RECT& rc) {
    const bool rtl = m_manager && m_manager->IsRTL();
    SIZE available{UI::Width(rc), UI::Height(rc)};
    // Fixed heights first; the stretching children share what is left.
    int fixed = 0, adjustables = 0, count = 0;
    std::vector<SIZE> sizes(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i) {
        CControlUI* child = m_items[i].get();
        if (!child->IsVisible() || child->IsFloat()) continue;
        RECT pad = Scale(child->GetPadding());
        SIZE sz = child->EstimateSize(SIZE{available.cx - pad.left - pad.right, available.cy});
        if (sz.cy == 0) {
            ++adjustables;
        } else {
            sz.cy = std::clamp<LONG>(sz.cy, Scale(child->GetMinHeight()), Scale(child->GetMaxHeight()));
            fixed += sz.cy;
        }
        fixed += pad.top + pad.bottom;
        sizes[i] = sz;
        ++count;
    }
    if (count > 1) fixed += (count - 1) * Scale(m_childPadding);
    int expand = adjustables > 0 ? std::max<int>(0, (available.cy - fixed) / adjustables) : 0;
    int remainder = adjustables > 0 ? std::max<int>(0, available.cy - fixed - expand * adjustables) : 0;

    // Children may not fill the height: childvalign places the whole column.
    int y = rc.top;
    if (adjustables == 0 && fixed < available.cy) {
        if (m_childVAlign == 1) y += (available.cy - fixed) / 2;
        else if (m_childVAlign == 2) y += available.cy - fixed;
    }
    int seen = 0;
    for (size_t i = 0; i < m_items.size(); ++i) {
        CControlUI* child = m_items[i].get();
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(child, rc);
            continue;
        }
        RECT pad = Scale(child->GetPadding());
        SIZE sz = sizes[i];
        int cy = sz.cy;
        if (cy == 0) {
            cy = expand;
            if (++seen == adjustables) cy += remainder;
            cy = std::clamp<int>(cy, Scale(child->GetMinHeight()), Scale(child->GetMaxHeight()));
        }
        int room = available.cx - pad.left - pad.right;
        int cx = sz.cx == 0 ? room : std::clamp<int>(sz.cx, Scale(child->GetMinWidth()), Scale(child->GetMaxWidth()));
        cx = std::min<int>(cx, std::max<int>(0, room));
        int x = rc.left + pad.left;
        if (m_childAlign == 1) x = rc.left + pad.left + (room - cx) / 2;
        else if (m_childAlign == 2) x = rc.right - pad.right - cx;
        RECT r{x, y + pad.top, x + cx, y + pad.top + cy};
        if (rtl) r = Mirror(r, rc);
        child->SetPos(r);
        y += pad.top + cy + pad.bottom + Scale(m_childPadding);
    }
    return fixed + (adjustables > 0 ? expand * adjustables + remainder : 0);
}

// ---- Horizontal layout ----

void* CHorizontalLayoutUI::GetInterface(const std::wstring& name) {
    if (name == L"HorizontalLayout") return this;
    return CContainerUI::GetInterface(name);
}

int CHorizontalLayoutUI::LayoutChildren(const RECT& rc) {
    const bool rtl = m_manager && m_manager->IsRTL();
    SIZE available{UI::Width(rc), UI::Height(rc)};
    int fixed = 0, adjustables = 0, count = 0;
    std::vector<SIZE> sizes(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i) {
        CControlUI* child = m_items[i].get();
        if (!child->IsVisible() || child->IsFloat()) continue;
        RECT pad = Scale(child->GetPadding());
        SIZE sz = child->EstimateSize(SIZE{available.cx, available.cy - pad.top - pad.bottom});
        if (sz.cx == 0) {
            ++adjustables;
        } else {
            sz.cx = std::clamp<LONG>(sz.cx, Scale(child->GetMinWidth()), Scale(child->GetMaxWidth()));
            fixed += sz.cx;
        }
        fixed += pad.left + pad.right;
        sizes[i] = sz;
        ++count;
    }
    if (count > 1) fixed += (count - 1) * Scale(m_childPadding);
    int expand = adjustables > 0 ? std::max<int>(0, (available.cx - fixed) / adjustables) : 0;
    int remainder = adjustables > 0 ? std::max<int>(0, available.cx - fixed - expand * adjustables) : 0;

    int x = rc.left;
    if (adjustables == 0 && fixed < available.cx) {
        if (m_childAlign == 1) x += (available.cx - fixed) / 2;
        else if (m_childAlign == 2) x += available.cx - fixed;
    }
    int seen = 0;
    int needed = 0;
    for (size_t i = 0; i < m_items.size(); ++i) {
        CControlUI* child = m_items[i].get();
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(child, rc);
            continue;
        }
        RECT pad = Scale(child->GetPadding());
        SIZE sz = sizes[i];
        int cx = sz.cx;
        if (cx == 0) {
            cx = expand;
            if (++seen == adjustables) cx += remainder;
            cx = std::clamp<int>(cx, Scale(child->GetMinWidth()), Scale(child->GetMaxWidth()));
        }
        int room = available.cy - pad.top - pad.bottom;
        int cy = sz.cy == 0 ? room : std::clamp<int>(sz.cy, Scale(child->GetMinHeight()), Scale(child->GetMaxHeight()));
        cy = std::min<int>(cy, std::max<int>(0, room));
        int y = rc.top + pad.top;
        if (m_childVAlign == 1) y = rc.top + pad.top + (room - cy) / 2;
        else if (m_childVAlign == 2) y = rc.bottom - pad.bottom - cy;
        RECT r{x + pad.left, y, x + pad.left + cx, y + cy};
        if (rtl) r = Mirror(r, rc);
        child->SetPos(r);
        x += pad.left + cx + pad.right + Scale(m_childPadding);
        needed = std::max<int>(needed, cy + pad.top + pad.bottom);
    }
    return needed;
}

// ---- Tab layout ----

void* CTabLayoutUI::GetInterface(const std::wstring& name) {
    if (name == L"TabLayout") return this;
    return CContainerUI::GetInterface(name);
}

CControlUI* CTabLayoutUI::Add(std::unique_ptr<CControlUI> child) {
    CControlUI* raw = CContainerUI::Add(std::move(child));
    ApplySelection();
    return raw;
}

void CTabLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    CContainerUI::SetAttribute(name, value);
    if (name == L"selectedid") {
        m_curSel = std::max<int>(0, UI::ParseInt(value));
        ApplySelection();
    }
}

void CTabLayoutUI::ApplySelection() {
    for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->SetInternVisible(IsVisible() && static_cast<int>(i) == m_curSel);
}

void CTabLayoutUI::SetInternVisible(bool visible) {
    CControlUI::SetInternVisible(visible);
    ApplySelection();
}

void CTabLayoutUI::SetVisible(bool visible) {
    if (m_visible == visible) return;
    if (!visible) Invalidate();
    CControlUI::SetVisible(visible);
    ApplySelection();
}

bool CTabLayoutUI::SelectItem(int index) {
    if (index < 0 || index >= static_cast<int>(m_items.size())) return false;
    if (index == m_curSel) return true;
    int old = m_curSel;
    m_curSel = index;
    ApplySelection();
    NeedUpdate();
    Invalidate();
    if (m_manager) m_manager->SendNotify(this, L"tabselect", static_cast<WPARAM>(index), static_cast<LPARAM>(old));
    return true;
}

bool CTabLayoutUI::SelectItem(CControlUI* page) { return SelectItem(GetItemIndex(page)); }

}  // namespace DuiLib
