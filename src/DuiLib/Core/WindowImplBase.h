#pragma once
// The base of the toolkit's skinned windows: on creation it builds the layout named by
// GetSkinFile from the skin archive, sizes the window to it at the screen scale, calls InitWindow
// and then sends "windowinit". The window is frameless: the layout's caption area drags it. It
// dispatches notifications by name to OnClick, OnSelectChanged and OnItemSelect, gives window
// timers of its own to OnTimer, gives every message first to HandleCustomMessage, and answers
// Esc, Alt+F4 and the system menu's Close by clicking the layout's "closebtn" when it shows. Moved
// to a monitor of another scale (WM_DPICHANGED) it lays out, fonts and images at the new scale and
// takes the rectangle the system suggests.
#include <string>

#include "DuiLib/Core/UIBase.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"

namespace DuiLib {

class WindowImplBase : public CWindowWnd, public INotifyUI, public IDialogBuilderCallback {
public:
    WindowImplBase() = default;
    ~WindowImplBase() override = default;

    CPaintManagerUI& GetPaintManager() { return m_pm; }
    // Finds a control of the window's tree by name.
    CControlUI* FindControl(const std::wstring& name) const { return m_pm.FindControl(name); }
    template <typename T>
    T* FindControl(const std::wstring& name) const {
        CControlUI* c = m_pm.FindControl(name);
        return c ? dynamic_cast<T*>(c) : nullptr;
    }

    // Default dispatch of notifications by name.
    void Notify(TNotifyUI& msg) override;
    CControlUI* CreateControl(const std::wstring& className) override { return nullptr; }

protected:
    virtual std::wstring GetSkinFolder() { return std::wstring(); }
    virtual std::wstring GetSkinFile() = 0;
    // Called once the layout is built and attached, before "windowinit".
    virtual void InitWindow() {}
    virtual void OnClick(TNotifyUI& msg) {}
    virtual void OnSelectChanged(TNotifyUI& msg) {}
    virtual void OnItemSelect(TNotifyUI& msg) {}
    virtual void OnWindowInit(TNotifyUI& msg) {}
    // WM_TIMER of window timers set with ::SetTimer on this window.
    virtual void OnTimer(UINT_PTR id) {}
    // Sees every message first; set handled to stop it there.
    virtual LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    // WM_CLOSE: destroys the window (a window that asks first overrides this).
    virtual LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    // Keys nothing else took: Esc clicks "closebtn".
    virtual bool ResponseDefaultKeyEvent(WPARAM key);
    // Alt+F4 or the system menu's Close: clicks "closebtn" when it shows (nothing while it is
    // hidden or disabled). False lets the system close the window (a layout without one).
    virtual bool OnCloseCommand();
    // Can the point (client pixels) drag the window?
    virtual bool IsCaptionPoint(POINT pt);
    // The window now draws at another scale (its new size and layout are in place): what the
    // window made itself at the old scale is made again here.
    virtual void OnScaleChanged(int oldScale, int newScale) {}
    // WM_DPICHANGED: the new dots per inch (wParam) and the suggested window rectangle (lParam).
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);

    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT OnCreate();

    CPaintManagerUI m_pm;
};

}  // namespace DuiLib
