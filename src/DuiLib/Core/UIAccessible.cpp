#include "DuiLib/Core/UIAccessible.h"

#include <algorithm>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Control/UIProgress.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRichText.h"
#include "DuiLib/Layout/UIContainer.h"

namespace DuiLib {

const IID kIID_IAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace {

template <typename T>
T* As(CControlUI* control, const wchar_t* name) {
    return control ? static_cast<T*>(control->GetInterface(name)) : nullptr;
}

// Text without markup on one line.
std::wstring Plain(const std::wstring& text, bool markup) {
    std::wstring plain = PlainText(ParseRichText(text, markup));
    for (wchar_t& c : plain)
        if (c == L'\n' || c == L'\r' || c == L'\t') c = L' ';
    std::wstring out;
    for (wchar_t c : plain)
        if (!(c == L' ' && (out.empty() || out.back() == L' '))) out.push_back(c);
    while (!out.empty() && out.back() == L' ') out.pop_back();
    return out;
}

std::wstring TextOf(CControlUI* control) {
    if (!control) return std::wstring();
    auto* label = As<CLabelUI>(control, L"Label");
    return Plain(control->GetText(), label ? label->IsShowHtml() : false);
}

// The first line of the first text inside a container (a scrolling panel's heading).
std::wstring FirstLineInside(CControlUI* container) {
    std::wstring found;
    container->ForEach([&found](CControlUI* c) {
        if (!found.empty() || !As<CLabelUI>(c, L"Label") || !c->IsVisible()) return;
        auto* label = As<CLabelUI>(c, L"Label");
        std::wstring plain = PlainText(ParseRichText(c->GetText(), label->IsShowHtml()));
        size_t start = plain.find_first_not_of(L" \r\n\t");
        if (start == std::wstring::npos) return;
        size_t end = plain.find_first_of(L"\r\n", start);
        found = UI::Trim(plain.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    });
    return found;
}

void Collect(CPaintManagerUI& pm, CControlUI* control, std::vector<TAccessibleElement>& out) {
    if (!control || !control->IsVisible()) return;
    auto add = [&out, control](long role, int part = -1) { out.push_back(TAccessibleElement{control, part, role}); };
    // Controls that are one object each, the most particular kind first (a check box is also an
    // option and a button); a combo's items are its list's, not the window's.
    static const struct {
        const wchar_t* kind;
        long role;
    } kLeaves[] = {{L"Combo", ROLE_SYSTEM_COMBOBOX},       {L"Edit", ROLE_SYSTEM_TEXT},
                   {L"Progress", ROLE_SYSTEM_PROGRESSBAR}, {L"CheckBox", ROLE_SYSTEM_CHECKBUTTON},
                   {L"Option", ROLE_SYSTEM_RADIOBUTTON},   {L"Button", ROLE_SYSTEM_PUSHBUTTON}};
    for (const auto& leaf : kLeaves)
        if (control->GetInterface(leaf.kind)) {
            add(leaf.role);
            return;
        }
    if (auto* label = As<CLabelUI>(control, L"Label")) {
        if (!TextOf(control).empty()) add(ROLE_SYSTEM_STATICTEXT);
        if (label->HasLinks())
            for (int link = 0; link < label->GetLinkCount(); ++link) add(ROLE_SYSTEM_LINK, link);
        return;
    }
    auto* container = As<CContainerUI>(control, L"Container");
    if (container && container->IsScrollBarShown()) add(ROLE_SYSTEM_DOCUMENT);
    for (size_t i = 0; i < control->GetCount(); ++i) Collect(pm, control->GetItemAt(i), out);
}

bool WindowHasFocus(CPaintManagerUI& pm) {
    HWND hwnd = pm.GetPaintWindow();
    HWND focused = ::GetFocus();
    return hwnd && focused && (focused == hwnd || IsChild(hwnd, focused));
}

RECT ElementRect(CPaintManagerUI& pm, const TAccessibleElement& e) {
    RECT rc = e.control->GetPos();
    if (e.role == ROLE_SYSTEM_LINK) {
        auto* label = As<CLabelUI>(e.control, L"Label");
        std::vector<RECT> rects = label->GetTextLayout().LinkRects(e.part);
        if (!rects.empty()) {
            POINT origin = label->TextOrigin();
            RECT all = rects.front();
            for (const RECT& r : rects) UnionRect(&all, &all, &r);
            OffsetRect(&all, origin.x, origin.y);
            rc = all;
        }
    }
    RECT shown = pm.GetShownRect(e.control);
    return UI::IsEmptyRect(shown) ? rc : UI::Intersect(rc, shown);
}

}  // namespace

// ---- The accessible object of a window's client area ----

class CAccessibleUI final : public IAccessible {
public:
    explicit CAccessibleUI(CPaintManagerUI* pm) : m_pm(pm) {}

    // The window is gone: every later call fails.
    void Disconnect() { m_pm = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kIID_IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&m_refs);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: no type information; clients call the interface directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        if (!m_pm || !m_pm->GetPaintWindow()) return RPC_E_DISCONNECTED;
        return CreateStdAccessibleObject(m_pm->GetPaintWindow(), OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count) return E_POINTER;
        if (!m_pm) return RPC_E_DISCONNECTED;
        *count = static_cast<long>(CollectAccessibleElements(*m_pm).size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        return S_FALSE;  // every child is a simple element of this object
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        std::wstring text;
        if (!e.control) {
            wchar_t title[256] = {};
            GetWindowTextW(m_pm->GetPaintWindow(), title, 256);
            text = title;
        } else {
            text = AccessibleName(*m_pm, e);
        }
        return Answer(text, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return ChildText(child, value, [](const TAccessibleElement& e) { return AccessibleValue(e); });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        // The tooltip, when it says more than the name.
        return ChildText(child, description, [this](const TAccessibleElement& e) {
            const std::wstring& tip = e.control->GetToolTip();
            return tip != AccessibleName(*m_pm, e) ? tip : std::wstring();
        });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role) return E_POINTER;
        VariantInit(role);
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        role->vt = VT_I4;
        role->lVal = e.control ? e.role : ROLE_SYSTEM_CLIENT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state) return E_POINTER;
        VariantInit(state);
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        state->vt = VT_I4;
        if (e.control) {
            state->lVal = AccessibleState(*m_pm, e);
        } else {
            HWND hwnd = m_pm->GetPaintWindow();
            long bits = STATE_SYSTEM_FOCUSABLE;
            if (!IsWindowVisible(hwnd)) bits |= STATE_SYSTEM_INVISIBLE;
            if (::GetFocus() == hwnd && !m_pm->GetFocus()) bits |= STATE_SYSTEM_FOCUSED;
            state->lVal = bits;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override {
        if (help) *help = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file) *file = nullptr;
        if (topic) *topic = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        if (!shortcut) return E_POINTER;
        *shortcut = nullptr;
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        // The default button is pressed with Enter wherever the focus is on the page's buttons.
        if (e.control && e.control == m_pm->GetDefaultButton()) return Answer(L"Enter", shortcut);
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        VariantInit(focus);
        if (!m_pm) return RPC_E_DISCONNECTED;
        if (!WindowHasFocus(*m_pm)) return S_FALSE;
        focus->vt = VT_I4;
        long id = m_pm->GetFocus() ? AccessibleChildId(*m_pm, m_pm->GetFocus()) : 0;
        focus->lVal = id > 0 ? id : CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        VariantInit(selection);
        return m_pm ? S_FALSE : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return ChildText(child, action, [](const TAccessibleElement& e) { return AccessibleDefaultAction(e); });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        if (!e.control || !(flags & SELFLAG_TAKEFOCUS)) return S_FALSE;
        if (!(e.control->GetControlFlags() & UIFLAG_TABSTOP) || !e.control->IsActive()) return S_FALSE;
        if (e.part >= 0) e.control->SetFocusPart(e.part);
        m_pm->SetFocus(e.control);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        if (!left || !top || !width || !height) return E_POINTER;
        *left = *top = *width = *height = 0;
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        HWND hwnd = m_pm->GetPaintWindow();
        RECT rc{};
        if (e.control) rc = ElementRect(*m_pm, e);
        else GetClientRect(hwnd, &rc);
        POINT origin{rc.left, rc.top};
        ClientToScreen(hwnd, &origin);
        *left = origin.x;
        *top = origin.y;
        *width = rc.right - rc.left;
        *height = rc.bottom - rc.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end) return E_POINTER;
        VariantInit(end);
        TAccessibleElement e;
        HRESULT hr = Resolve(start, e);
        if (FAILED(hr)) return hr;
        long count = static_cast<long>(CollectAccessibleElements(*m_pm).size());
        long from = start.vt == VT_I4 ? start.lVal : CHILDID_SELF;
        long to = 0;
        switch (direction) {
            case NAVDIR_FIRSTCHILD: to = from == CHILDID_SELF && count > 0 ? 1 : 0; break;
            case NAVDIR_LASTCHILD: to = from == CHILDID_SELF && count > 0 ? count : 0; break;
            case NAVDIR_NEXT: case NAVDIR_DOWN: case NAVDIR_RIGHT: to = from > 0 && from < count ? from + 1 : 0; break;
            case NAVDIR_PREVIOUS: case NAVDIR_UP: case NAVDIR_LEFT: to = from > 1 ? from - 1 : 0; break;
            default: return E_INVALIDARG;
        }
        if (to == 0) return S_FALSE;
        end->vt = VT_I4;
        end->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        if (!child) return E_POINTER;
        VariantInit(child);
        if (!m_pm) return RPC_E_DISCONNECTED;
        HWND hwnd = m_pm->GetPaintWindow();
        POINT pt{x, y};
        ScreenToClient(hwnd, &pt);
        RECT client{};
        GetClientRect(hwnd, &client);
        if (!UI::Contains(client, pt)) return S_FALSE;
        std::vector<TAccessibleElement> all = CollectAccessibleElements(*m_pm);
        long hit = CHILDID_SELF;
        for (size_t i = 0; i < all.size(); ++i)
            if (UI::Contains(ElementRect(*m_pm, all[i]), pt)) hit = static_cast<long>(i + 1);  // the innermost wins
        child->vt = VT_I4;
        child->lVal = hit;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        if (!e.control) return DISP_E_MEMBERNOTFOUND;
        if (!e.control->IsActive() || AccessibleDefaultAction(e).empty()) return DISP_E_MEMBERNOTFOUND;
        // After the call returns: the action may open a modal box, and the client waits for this call.
        PostMessageW(m_pm->GetPaintWindow(), WM_DUI_ACCACTION, reinterpret_cast<WPARAM>(e.control), static_cast<LPARAM>(e.part));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    // The element a child id names: control null for the client area itself.
    HRESULT Resolve(const VARIANT& child, TAccessibleElement& e) {
        if (!m_pm || !m_pm->GetPaintWindow() || !IsWindow(m_pm->GetPaintWindow())) return RPC_E_DISCONNECTED;
        if (child.vt != VT_I4) return E_INVALIDARG;
        if (child.lVal == CHILDID_SELF) {
            e = TAccessibleElement{};
            return S_OK;
        }
        std::vector<TAccessibleElement> all = CollectAccessibleElements(*m_pm);
        if (child.lVal < 1 || child.lVal > static_cast<long>(all.size())) return E_INVALIDARG;
        e = all[static_cast<size_t>(child.lVal - 1)];
        return S_OK;
    }
    // A text of a control's element (none for the client area itself).
    template <typename Text>
    HRESULT ChildText(const VARIANT& child, BSTR* out, Text text) {
        if (!out) return E_POINTER;
        *out = nullptr;
        TAccessibleElement e;
        HRESULT hr = Resolve(child, e);
        if (FAILED(hr)) return hr;
        return e.control ? Answer(text(e), out) : S_FALSE;
    }
    static HRESULT Answer(const std::wstring& text, BSTR* out) {
        if (text.empty()) return S_FALSE;
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    LONG m_refs = 1;
    CPaintManagerUI* m_pm;
};

std::vector<TAccessibleElement> CollectAccessibleElements(CPaintManagerUI& pm) {
    std::vector<TAccessibleElement> out;
    pm.UpdateLayout();
    Collect(pm, pm.GetRoot(), out);
    return out;
}

std::wstring AccessibleName(CPaintManagerUI& pm, const TAccessibleElement& e) {
    CControlUI* c = e.control;
    if (!c) return std::wstring();
    if (e.role == ROLE_SYSTEM_LINK) return As<CLabelUI>(c, L"Label")->GetLinkText(e.part);
    std::wstring name;
    // Controls whose text is their value are named by their caption.
    bool textIsValue = e.role == ROLE_SYSTEM_COMBOBOX || e.role == ROLE_SYSTEM_TEXT || e.role == ROLE_SYSTEM_PROGRESSBAR;
    if (!textIsValue) name = TextOf(c);
    // labelledby names the caption, or several of which the first the layout still has.
    for (const std::wstring& by : UI::Split(c->GetAttribute(L"labelledby"), L' ')) {
        if (!name.empty()) break;
        if (!by.empty()) name = TextOf(pm.FindControl(by));
    }
    if (name.empty()) name = c->GetToolTip();
    if (name.empty() && e.role == ROLE_SYSTEM_DOCUMENT) name = FirstLineInside(c);
    return name;
}

long AccessibleState(CPaintManagerUI& pm, const TAccessibleElement& e) {
    CControlUI* c = e.control;
    long state = 0;
    if (!c) return state;
    if ((c->GetControlFlags() & UIFLAG_TABSTOP) && c->IsKeyboardEnabled()) state |= STATE_SYSTEM_FOCUSABLE;
    bool focusedHere = pm.GetFocus() == c && (e.role != ROLE_SYSTEM_STATICTEXT || !As<CLabelUI>(c, L"Label")->HasLinks()) &&
                       (e.part < 0 || e.part == c->GetFocusPart());
    if (focusedHere && WindowHasFocus(pm)) state |= STATE_SYSTEM_FOCUSED;
    if ((e.role == ROLE_SYSTEM_CHECKBUTTON || e.role == ROLE_SYSTEM_RADIOBUTTON) && c->IsSelected()) state |= STATE_SYSTEM_CHECKED;
    if (!c->IsEnabled()) state |= STATE_SYSTEM_UNAVAILABLE;
    if (UI::IsEmptyRect(pm.GetShownRect(c))) state |= STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN;
    if (c == pm.GetDefaultButton()) state |= STATE_SYSTEM_DEFAULT;
    if (e.role == ROLE_SYSTEM_LINK) state |= STATE_SYSTEM_LINKED;
    if (e.role == ROLE_SYSTEM_STATICTEXT || e.role == ROLE_SYSTEM_DOCUMENT || e.role == ROLE_SYSTEM_PROGRESSBAR)
        state |= STATE_SYSTEM_READONLY;
    if (auto* edit = As<CEditUI>(c, L"Edit"))
        if (edit->IsReadOnly()) state |= STATE_SYSTEM_READONLY;
    if (auto* combo = As<CComboUI>(c, L"Combo")) state |= STATE_SYSTEM_HASPOPUP | (combo->IsDropped() ? STATE_SYSTEM_EXPANDED : STATE_SYSTEM_COLLAPSED);
    if (auto* button = As<CButtonUI>(c, L"Button"))
        if (button->IsPushed()) state |= STATE_SYSTEM_PRESSED;
    return state;
}

std::wstring AccessibleValue(const TAccessibleElement& e) {
    CControlUI* c = e.control;
    if (!c) return std::wstring();
    if (auto* progress = As<CProgressUI>(c, L"Progress")) {
        int range = progress->GetMaxValue() - progress->GetMinValue();
        int percent = range > 0 ? (progress->GetValue() - progress->GetMinValue()) * 100 / range : 0;
        return std::to_wstring(percent) + L"%";
    }
    if (As<CComboUI>(c, L"Combo")) return UI::Trim(c->GetText());
    if (As<CEditUI>(c, L"Edit")) return c->GetText();
    return std::wstring();
}

std::wstring AccessibleDefaultAction(const TAccessibleElement& e) {
    switch (e.role) {
        case ROLE_SYSTEM_PUSHBUTTON: return L"Press";
        case ROLE_SYSTEM_CHECKBUTTON: return e.control->IsSelected() ? L"Uncheck" : L"Check";
        case ROLE_SYSTEM_RADIOBUTTON: return L"Select";
        case ROLE_SYSTEM_LINK: return L"Jump";
        case ROLE_SYSTEM_COMBOBOX: return As<CComboUI>(e.control, L"Combo")->IsDropped() ? L"Close" : L"Open";
        case ROLE_SYSTEM_TEXT:
        case ROLE_SYSTEM_DOCUMENT: return L"Focus";
        default: return std::wstring();
    }
}

long AccessibleChildId(CPaintManagerUI& pm, CControlUI* control, int part) {
    if (!control) return 0;
    auto* label = As<CLabelUI>(control, L"Label");
    bool links = label && label->HasLinks();
    if (links && part < 0) part = control->GetFocusPart();
    std::vector<TAccessibleElement> all = CollectAccessibleElements(pm);
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].control != control) continue;
        if (links && all[i].part != part) continue;
        return static_cast<long>(i + 1);
    }
    return 0;
}

void DoAccessibleAction(CPaintManagerUI& pm, CControlUI* control, int part) {
    // The control may have gone since the action was asked for.
    bool present = false;
    if (pm.GetRoot()) pm.GetRoot()->ForEach([&present, control](CControlUI* c) { present = present || c == control; });
    if (!present || !control->IsActive()) return;
    if (auto* combo = As<CComboUI>(control, L"Combo")) {
        pm.SetFocus(combo);
        if (combo->IsDropped()) combo->CloseDropDown();
        else combo->ShowDropDown();
        return;
    }
    auto* label = As<CLabelUI>(control, L"Label");
    if (label && !As<CButtonUI>(control, L"Button") && label->HasLinks() && part >= 0) {
        control->SetFocusPart(part);
        pm.SetFocus(control);
        pm.SendNotify(control, L"link", static_cast<WPARAM>(part));
        return;
    }
    if (As<CButtonUI>(control, L"Button")) {
        if (control->GetControlFlags() & UIFLAG_TABSTOP) pm.SetFocus(control);
        control->Activate();
        return;
    }
    if (control->GetControlFlags() & UIFLAG_TABSTOP) pm.SetFocus(control);
}

// ---- The paint manager's side ----

LRESULT CPaintManagerUI::AnswerGetObject(WPARAM wParam, LPARAM lParam) {
    if (!m_hwnd || !m_root) return 0;
    if (!m_accessible) m_accessible = new CAccessibleUI(this);
    return LresultFromObject(kIID_IAccessible, wParam, static_cast<IAccessible*>(m_accessible));
}

void CPaintManagerUI::ReleaseAccessible() {
    if (!m_accessible) return;
    m_accessible->Disconnect();
    m_accessible->Release();
    m_accessible = nullptr;
}

void CPaintManagerUI::NotifyAccessible(DWORD event, CControlUI* control, int part) {
    if (!m_hwnd || !control || !IsWinEventHookInstalled(event)) return;
    long id = AccessibleChildId(*this, control, part);
    if (id > 0) NotifyWinEvent(event, m_hwnd, OBJID_CLIENT, id);
}

}  // namespace DuiLib
