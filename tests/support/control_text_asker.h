#pragma once
// Asks a main window of a test build for a control's text (window/ControlTextQuery.h): a
// message-only window of the calling thread that receives the answer.
#include <windows.h>

#include <string>

#include "window/ControlTextQuery.h"

class ControlTextAsker {
public:
    ControlTextAsker() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrbalaControlTextAsker";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~ControlTextAsker() { DestroyWindow(hwnd_); }
    ControlTextAsker(const ControlTextAsker&) = delete;
    ControlTextAsker& operator=(const ControlTextAsker&) = delete;

    HWND Hwnd() const { return hwnd_; }
    // Sends a question as it is given; the window's result (0 when it did not answer or the send
    // failed). Answered() and Answer() then tell what came back.
    LRESULT Send(HWND window, ULONG_PTR kind, const void* data, DWORD bytes, HWND replyTo) {
        answer_.clear();
        answered_ = false;
        COPYDATASTRUCT ask{};
        ask.dwData = kind;
        ask.cbData = bytes;
        ask.lpData = const_cast<void*>(data);
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window, WM_COPYDATA, reinterpret_cast<WPARAM>(replyTo), reinterpret_cast<LPARAM>(&ask),
                                 SMTO_ABORTIFHUNG, 10000, &result))
            return 0;
        return static_cast<LRESULT>(result);
    }
    // The control's text; false when the window has no such control or did not answer.
    bool Ask(HWND window, const std::wstring& control, std::wstring& text) {
        if (Send(window, ControlTextQuery::kAsk, control.data(), DWORD(control.size() * sizeof(wchar_t)), hwnd_) != 1 ||
            !answered_)
            return false;
        text = answer_;
        return true;
    }
    static bool Answered() { return answered_; }
    static const std::wstring& Answer() { return answer_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_COPYDATA) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (data->dwData != ControlTextQuery::kAnswer) return FALSE;
            answer_.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
            answered_ = true;
            return TRUE;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    HWND hwnd_ = nullptr;
    static inline std::wstring answer_;
    static inline bool answered_ = false;
};
