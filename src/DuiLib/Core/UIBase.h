#pragma once
// A Win32 window whose class name and message handling come from the derived class.
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

    // Registers the class on first use and creates the window. Null on failure.
    HWND Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle,
                int x, int y, int cx, int cy, HMENU menu = nullptr);
    void CenterWindow();
    void ShowWindow(bool show = true, bool takeFocus = true);
    void Close(UINT result = IDOK);

    // Runs the thread's message loop until WM_QUIT; returns its exit code.
    static int MessageLoop();

protected:
    virtual const wchar_t* GetWindowClassName() const = 0;
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (WM_NCDESTROY); the object may delete itself here.
    virtual void OnFinalMessage(HWND hWnd) {}

    HWND m_hWnd = nullptr;

private:
    bool RegisterWindowClass();
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

}  // namespace DuiLib
