#pragma once
// Drives the real setup.exe of another process the way a user does: the test lays the skin's
// layouts out in a window of its own to learn where a control is drawn, and presses it there
// with the mouse. Also takes screenshots of the virtual display.
#include <windows.h>

#include <string>
#include <vector>

#include "DuiLib/Core/WindowImplBase.h"
#include "DuiLib/Layout/UIContainer.h"
#include "support/setup_process.h"
#include "support/skin_archive.h"
#include "support/test_support.h"
#include "window/MessageBoxWnd.h"

namespace setup_driver {

// A window of this process with one of the skin's layouts, laid out at the size the setup gives
// it, to learn where a control is drawn.
class LayoutProbe : public DuiLib::WindowImplBase {
public:
    LayoutProbe(std::wstring file, int kind, bool failurePage) : m_file(std::move(file)), m_kind(kind), m_failurePage(failurePage) {}
    DuiLib::CPaintManagerUI& Pm() { return m_pm; }

protected:
    const wchar_t* GetWindowClassName() const override { return L"OrbalaLayoutProbe"; }
    std::wstring GetSkinFile() override { return m_file; }
    void InitWindow() override {
        if (m_kind >= 0) MessageBoxWnd::ApplyKind(m_pm, m_kind, 0, L"");
        // The licence row keeps one of its two links, as the setup does for the product's
        // NewLicenseFlag; with both the row's settings button would sit further right.
        if (auto* flag = m_pm.FindControl(L"NewLicenseFlag"))
            if (auto* dropped = m_pm.FindControl(flag->GetText() == L"1" ? L"license_link" : L"license_link_new"))
                if (auto* row = dynamic_cast<DuiLib::CContainerUI*>(dropped->GetParent())) row->Remove(dropped);
        if (m_failurePage) {
            // The failure page: the finish page with its three failure controls shown.
            if (auto* tab = dynamic_cast<DuiLib::CTabLayoutUI*>(m_pm.FindControl(L"page_layout"))) tab->SelectItem(1);
            for (const wchar_t* name : {L"text_fail_retry", L"text_fail_advice", L"img_warning", L"start_app"})
                if (DuiLib::CControlUI* c = m_pm.FindControl(name)) c->SetVisible(true);
            if (DuiLib::CControlUI* c = m_pm.FindControl(L"text_startshortcut")) c->SetVisible(false);
        }
    }

private:
    std::wstring m_file;
    int m_kind;
    bool m_failurePage;
};

// Centre of a control in client pixels of a window of the layout with the given client height
// (0: the layout's own).
inline bool LayoutPoint(const std::wstring& file, const std::wstring& control, int kind, int height, POINT& pt,
                 bool failurePage = false) {
    if (!test_support::UseSourceSkin()) return false;
    LayoutProbe probe(file, kind, failurePage);
    if (!probe.Create(nullptr, L"probe", WS_POPUP, 0, 0, 0, 600, 400)) return false;
    if (height > 0) {
        RECT rc{};
        GetWindowRect(probe.GetHWND(), &rc);
        SetWindowPos(probe.GetHWND(), nullptr, 0, 0, rc.right - rc.left, probe.Pm().Scale(height), SWP_NOMOVE | SWP_NOZORDER);
    }
    probe.Pm().UpdateLayout();
    DuiLib::CControlUI* c = probe.Pm().FindControl(control);
    bool ok = c != nullptr;
    if (ok) {
        RECT r = c->GetPos();
        pt = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    DestroyWindow(probe.GetHWND());
    return ok;
}

inline void ClickAt(HWND hwnd, POINT pt) {
    LPARAM at = MAKELPARAM(pt.x, pt.y);
    PostMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
}

inline HWND WindowOf(const wchar_t* cls, DWORD pid) {
    for (const auto& w : FindWindowsOfClass(cls))
        if (w.second == pid) return w.first;
    return nullptr;
}

// Screenshot of the screen into the test's artefact folder (needs ImageMagick's import on the
// host; Wine runs Linux programs by their path). Wine hands a Linux program over without waiting
// for it, so the picture is waited for: taken later it would show whatever the screen holds then
// (after the test, an empty screen). True when the picture was written.
inline bool Screenshot(const std::string& folder, const std::string& name) {
    std::wstring dir = test_support::WinePath(folder);
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring picture = dir + L"\\" + std::wstring(name.begin(), name.end()) + L".png";
    const std::wstring partial = picture + L".part";
    DeleteFileW(picture.c_str());
    DeleteFileW(partial.c_str());
    // Written under another name and renamed once complete, so a picture seen is a whole one.
    std::string command = "Z:\\bin\\sh -c \"import -window root png:'" + folder + "/" + name + ".png.part' 2>/dev/null && mv '" +
                          folder + "/" + name + ".png.part' '" + folder + "/" + name + ".png'\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return WaitUntil([&] { return GetFileAttributesW(picture.c_str()) != INVALID_FILE_ATTRIBUTES; }, 15000);
}

}  // namespace setup_driver
