#pragma once
// What a screen reader reads of a toolkit window. The window draws its controls itself, so the
// system knows none of them: the paint manager answers WM_GETOBJECT (OBJID_CLIENT) with an
// IAccessible of its client area whose children are the controls the window shows: buttons,
// check boxes, options, links (one per link of a text), the combo, the edit box, the progress
// bar, static texts and a scrolling text panel, each with its name, role, state, value,
// location and default action. Screen readers that speak UI Automation read the same objects
// through the system's bridge.
//
// The children are simple elements numbered 1 to N in tree order; a focus, value, state or name
// change is announced with NotifyWinEvent for the element's number.
#include <windows.h>

#include <oleacc.h>

#include <string>
#include <vector>

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

// IID_IAccessible spelled out: the constant of mingw-w64's oleacc import library is read from the
// wrong bytes, and every call made with it fails with E_NOINTERFACE.
extern const IID kIID_IAccessible;

// Posted by the accessible object to do a default action after the client's call has returned
// (wParam: the control, lParam: the focus stop). A handler may open a modal message box.
constexpr UINT WM_DUI_ACCACTION = WM_APP + 0x2E2;

// One child of the window's accessible object.
struct TAccessibleElement {
    CControlUI* control = nullptr;
    int part = -1;  // the link index for a link, -1 for the control itself
    long role = 0;
};

// The window's accessible children as a screen reader sees them, in tree order.
std::vector<TAccessibleElement> CollectAccessibleElements(CPaintManagerUI& pm);
// Name, state bits, value and default action of an element (the same answers the accessible
// object gives).
std::wstring AccessibleName(CPaintManagerUI& pm, const TAccessibleElement& element);
long AccessibleState(CPaintManagerUI& pm, const TAccessibleElement& element);
std::wstring AccessibleValue(const TAccessibleElement& element);
std::wstring AccessibleDefaultAction(const TAccessibleElement& element);
// The element's child id (1-based) for the control (and, for a text with links, its focused or
// given link), 0 when the window does not expose it.
long AccessibleChildId(CPaintManagerUI& pm, CControlUI* control, int part = -1);
// Does what the element's default action says (the window thread, after WM_DUI_ACCACTION).
void DoAccessibleAction(CPaintManagerUI& pm, CControlUI* control, int part);

}  // namespace DuiLib
