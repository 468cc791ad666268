// What a screen reader does, from a process of its own: reads the accessible tree of a window
// through oleacc (AccessibleObjectFromWindow, OBJID_CLIENT), or listens for focus events with an
// out-of-context hook and reads the name of each object that got the focus.
//
//   acc_client tree HWND OUTFILE                    one line per object: id, role, state, name, value, action
//   acc_client focus HWND OUTFILE COUNT MS EVENT     sets the named event once hooked; waits for COUNT
//                                                    focus events of the window's controls (or MS
//                                                    milliseconds), then one line per event: id, role, name
//   acc_client act HWND ID                           the object's default action
// Lines are UTF-8, fields separated by tabs. The exit code is 0, or 2 when the window gave no object.
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Spelled out: the constant of mingw-w64's oleacc import library is read from the wrong bytes.
const IID kIAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::wstring Take(BSTR b) {
    std::wstring w = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    if (b) SysFreeString(b);
    return w;
}

VARIANT Child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::string Describe(IAccessible* acc, long id) {
    VARIANT child = Child(id);
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    BSTR name = nullptr, value = nullptr, action = nullptr;
    acc->get_accRole(child, &role);
    acc->get_accState(child, &state);
    acc->get_accName(child, &name);
    acc->get_accValue(child, &value);
    acc->get_accDefaultAction(child, &action);
    char head[64];
    snprintf(head, sizeof(head), "%ld\t%ld\t%ld\t", id, role.vt == VT_I4 ? role.lVal : -1L, state.vt == VT_I4 ? state.lVal : -1L);
    return head + Utf8(Take(name)) + "\t" + Utf8(Take(value)) + "\t" + Utf8(Take(action));
}

FILE* g_out = nullptr;
HWND g_window = nullptr;
int g_wanted = 0;
std::vector<long> g_focused;  // child ids of the focus events, in the order they came

// Only noted here: a call into the window from inside the hook would let the next events in
// while it waits (they would be handled nested, out of order). The names are read afterwards.
// The system's own event for the window itself (child 0, when the window takes the keyboard
// focus back from its edit box) is left out: a reader asks the window which child has the focus,
// and the window's event for that child follows.
void CALLBACK OnFocus(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (hwnd != g_window || object != OBJID_CLIENT || child == CHILDID_SELF) return;
    g_focused.push_back(child);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 1;
    CoInitialize(nullptr);
    std::wstring mode = argv[1];
    HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoull(argv[2], nullptr, 0)));
    if (mode == L"act") {
        IAccessible* acc = nullptr;
        if (FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIAccessible, reinterpret_cast<void**>(&acc))) || !acc)
            return 2;
        HRESULT hr = acc->accDoDefaultAction(Child(wcstol(argv[3], nullptr, 10)));
        acc->Release();
        return SUCCEEDED(hr) ? 0 : 3;
    }
    g_out = _wfopen(argv[3], L"wb");
    if (!g_out) return 1;
    int rc = 0;
    if (mode == L"tree") {
        IAccessible* acc = nullptr;
        HRESULT hr = AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIAccessible, reinterpret_cast<void**>(&acc));
        if (FAILED(hr) || !acc) {
            fprintf(g_out, "error\t0x%08lx\n", static_cast<unsigned long>(hr));
            rc = 2;
        } else {
            long count = 0;
            acc->get_accChildCount(&count);
            fprintf(g_out, "%s\n", Describe(acc, CHILDID_SELF).c_str());
            for (long id = 1; id <= count; ++id) fprintf(g_out, "%s\n", Describe(acc, id).c_str());
            acc->Release();
        }
    } else if (mode == L"focus" && argc >= 7) {
        g_window = hwnd;
        g_wanted = _wtoi(argv[4]);
        DWORD limit = static_cast<DWORD>(_wtoi(argv[5]));
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, &OnFocus, pid, 0, WINEVENT_OUTOFCONTEXT);
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[6]);
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
        DWORD start = GetTickCount();
        while (static_cast<int>(g_focused.size()) < g_wanted && GetTickCount() - start < limit) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        if (hook) UnhookWinEvent(hook);
        if (!hook) rc = 2;
        for (long child : g_focused) {
            IAccessible* acc = nullptr;
            VARIANT v;
            VariantInit(&v);
            if (FAILED(AccessibleObjectFromEvent(hwnd, static_cast<DWORD>(OBJID_CLIENT), static_cast<DWORD>(child), &acc, &v)) || !acc) {
                fprintf(g_out, "%ld\t-1\t<no object>\n", child);
                continue;
            }
            VARIANT role;
            VariantInit(&role);
            BSTR name = nullptr;
            acc->get_accRole(v, &role);
            acc->get_accName(v, &name);
            fprintf(g_out, "%ld\t%ld\t%s\n", child, role.vt == VT_I4 ? role.lVal : -1L, Utf8(Take(name)).c_str());
            acc->Release();
        }
    }
    fclose(g_out);
    CoUninitialize();
    return rc;
}
