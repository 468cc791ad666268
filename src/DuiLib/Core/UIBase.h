#pragma once
// A Win32 window whose class name, class style and message handling come from the derived
// class, with the centring, showing, modal loop and message loop every toolkit window shares.
#include <string>

#include <windows.h>

namespace DuiLib {

class CWindowWnd {
public:
    CWindowWnd() = default;
    virtual ~CWindowWnd() = default;
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    HWND GetHWND() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Registers the class on first use and creates the window. Null on failure.
    HWND Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle, int x, int y, int cx, int cy,
                HMENU menu = nullptr);
    // Centres the window over its owner, or on the work area of its monitor.
    void CenterWindow();
    void ShowWindow(bool show = true, bool takeFocus = true);
    // Shows the window modally: its owner is disabled until it closes. Returns the code it was
    // closed with (Close(code)); a window closed another way gives IDCANCEL.
    UINT ShowModal();
    // Posts WM_CLOSE with the result code.
    void Close(UINT result = IDOK);
    // Sets the client size (window pixels) keeping the top-left corner.
    void ResizeClient(int cx, int cy);
    void SetIcon(UINT resourceId);

    // Runs the thread's message loop until WM_QUIT; returns its exit code.
    static int MessageLoop();

protected:
    virtual const wchar_t* GetWindowClassName() const = 0;
    virtual UINT GetClassStyle() const { return CS_DBLCLKS; }
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (WM_NCDESTROY); the object may delete itself here.
    virtual void OnFinalMessage(HWND hWnd) {}

    HWND m_hWnd = nullptr;
    // While ShowModal runs: where the closing code goes.
    UINT* m_modalResult = nullptr;

private:
    bool RegisterWindowClass();
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

}  // namespace DuiLib
