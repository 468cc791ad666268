// A layout drawn into a real window under Wine and Xvfb: what the screen shows where the layout
// puts it, hover and pushed states, clicks, keyboard focus with Tab, Enter and Esc, the native
// edit box, timers, custom messages, the caption, a modal run with its result code and the
// repainting of only what changed.
#include <gtest/gtest.h>

#include <minizip/zip.h>

#include <map>
#include <string>
#include <vector>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Core/WindowImplBase.h"
#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "support/test_support.h"

using namespace DuiLib;

namespace {

std::string SkinFile(const std::string& relative) {
    return test_support::ReadFile(TextCodec::Utf8ToWide(std::string(ORBALA_SOURCE_DIR) + "/skin/skin/" + relative));
}

const char* kPage =
    "<Window size='400,240' caption='0,0,0,40' bkcolor='#FFFFFFFF'><Font id='1' name='Segoe UI' size='14' default='true'/>"
    "<Container>"
    "<Button name='closebtn' float='true' pos='360,0,400,32' tabstop='false' normalimage='skin\\btn_close_normal.png' hotimage='skin\\btn_close_hot.png'/>"
    "<Button name='first' float='true' pos='20,60,132,94' text='First' "
    "normalimage=\"file='skin\\btn_primary_small_normal.png' corner='5,5,5,5'\" hotimage=\"file='skin\\btn_primary_small_hot.png' corner='5,5,5,5'\" "
    "pushedimage=\"file='skin\\btn_primary_small_pushed.png' corner='5,5,5,5'\"/>"
    "<Button name='second' float='true' pos='150,60,262,94' text='Second' normalimage=\"file='skin\\btn_secondary_normal.png' corner='5,5,5,5'\"/>"
    "<Edit name='path' float='true' pos='20,120,380,154' textpadding='10,0,10,0' text='C:\\Apps'/>"
    "<Label name='title' float='true' pos='20,180,380,210' text='Orbala Lumeno' textcolor='#FF000000'/>"
    "</Container></Window>";

class TestWindow : public WindowImplBase {
public:
    std::vector<std::wstring> events;
    std::vector<UINT_PTR> timers;
    std::vector<UINT> custom;
    bool initialised = false;
    bool initBeforeWindowInit = false;
    int modalResultAtTimer = 0;
    bool ownerDisabledAtClose = false;

    void Notify(TNotifyUI& msg) override {
        if (msg.sType == L"windowinit") initBeforeWindowInit = initialised;
        if (msg.sType == L"click" || msg.sType == L"windowinit" || msg.sType == L"textchanged")
            events.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L""));
        WindowImplBase::Notify(msg);
    }
    CPaintManagerUI& Pm() { return m_pm; }

protected:
    const wchar_t* GetWindowClassName() const override { return L"DuiLibTestWindow"; }
    std::wstring GetSkinFile() override { return L"page.xml"; }
    void InitWindow() override { initialised = true; }
    void OnTimer(UINT_PTR id) override {
        timers.push_back(id);
        if (id == 7) {
            ::KillTimer(m_hWnd, 7);
            HWND owner = GetWindow(m_hWnd, GW_OWNER);
            ownerDisabledAtClose = owner && !IsWindowEnabled(owner);
            Close(modalResultAtTimer);
        }
    }
    LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override {
        if (msg == WM_USER + 1919) {
            custom.push_back(msg);
            handled = TRUE;
            return 1;
        }
        handled = FALSE;
        return 0;
    }
};

void Pump(int ms) {
    DWORD end = GetTickCount() + ms;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount() < end);
}

// What the screen shows at a client point of the window.
DWORD ScreenPixel(HWND hwnd, int x, int y) {
    UpdateWindow(hwnd);
    GdiFlush();
    POINT p{x, y};
    ClientToScreen(hwnd, &p);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return 0xFF000000 | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

bool Near(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 3) return false;
    return true;
}

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        zip = test_support::ZipOf({{"page.xml", kPage},
                       {"skin/btn_close_normal.png", SkinFile("btn_close_normal.png")},
                       {"skin/btn_close_hot.png", SkinFile("btn_close_hot.png")},
                       {"skin/btn_primary_small_normal.png", SkinFile("btn_primary_small_normal.png")},
                       {"skin/btn_primary_small_hot.png", SkinFile("btn_primary_small_hot.png")},
                       {"skin/btn_primary_small_pushed.png", SkinFile("btn_primary_small_pushed.png")},
                       {"skin/btn_secondary_normal.png", SkinFile("btn_secondary_normal.png")}});
        ASSERT_TRUE(CPaintManagerUI::SetResourceZip(zip.data(), zip.size()));
        window = new TestWindow();
        ASSERT_NE(window->Create(nullptr, L"toolkit test", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 40, 40, 600, 400), nullptr);
        SetWindowPos(window->GetHWND(), HWND_TOPMOST, 40, 40, 0, 0, SWP_NOSIZE);
        window->ShowWindow(true, true);
        Pump(300);
    }
    void TearDown() override {
        if (window && IsWindow(window->GetHWND())) DestroyWindow(window->GetHWND());
        Pump(50);
        delete window;
        CPaintManagerUI::SetResourceZip(nullptr, 0);
    }
    HWND Hwnd() { return window->GetHWND(); }
    void Send(UINT msg, WPARAM w, LPARAM l) {
        SendMessageW(Hwnd(), msg, w, l);
        Pump(30);
    }
    int Count(const std::wstring& event) {
        int n = 0;
        for (const auto& e : window->events)
            if (e == event) ++n;
        return n;
    }

    std::string zip;
    TestWindow* window = nullptr;
};

}  // namespace

TEST_F(WindowTest, DrawsTheLayoutWhereItSaysAndFollowsTheMouse) {
    RECT client{};
    GetClientRect(Hwnd(), &client);
    EXPECT_EQ(client.right, 400);  // the layout's size, not the size it was created with
    EXPECT_EQ(client.bottom, 240);
    EXPECT_TRUE(window->initialised);
    EXPECT_TRUE(window->initBeforeWindowInit);
    EXPECT_EQ(Count(L"windowinit:"), 1);

    CImageCache& images = window->Pm().GetImageCache();
    const TImageInfo* normal = images.Get(L"skin\\btn_primary_small_normal.png");
    const TImageInfo* hot = images.Get(L"skin\\btn_primary_small_hot.png");
    const TImageInfo* pushed = images.Get(L"skin\\btn_primary_small_pushed.png");
    ASSERT_TRUE(normal && hot && pushed);
    // A pixel of the stretched top edge of "first", in each state.
    const int x = 70, y = 64;
    EXPECT_TRUE(Near(ScreenPixel(Hwnd(), x, y), normal->PixelAt(50, 4))) << std::hex << ScreenPixel(Hwnd(), x, y);
    EXPECT_TRUE(Near(ScreenPixel(Hwnd(), 10, 200), 0xFFFFFFFF));
    // Text: dark pixels inside the label.
    int dark = 0;
    for (int px = 20; px < 200; px += 1)
        if ((ScreenPixel(Hwnd(), px, 195) & 0xFF) < 100) ++dark;
    EXPECT_GT(dark, 5);

    int paints = window->Pm().GetPaintCount();
    Send(WM_MOUSEMOVE, 0, At(x, 80));
    EXPECT_TRUE(Near(ScreenPixel(Hwnd(), x, y), hot->PixelAt(50, 4)));
    // Only the button was painted again.
    EXPECT_GT(window->Pm().GetPaintCount(), paints);
    RECT last = window->Pm().GetLastPaintRect();
    EXPECT_EQ(last.left, 20);
    EXPECT_EQ(last.right, 132);
    EXPECT_EQ(last.top, 60);
    EXPECT_EQ(last.bottom, 94);

    Send(WM_LBUTTONDOWN, MK_LBUTTON, At(x, 80));
    EXPECT_TRUE(Near(ScreenPixel(Hwnd(), x, y), pushed->PixelAt(50, 4)));
    EXPECT_EQ(Count(L"click:first"), 0);
    Send(WM_LBUTTONUP, 0, At(x, 80));
    EXPECT_EQ(Count(L"click:first"), 1);
    Send(WM_MOUSEMOVE, 0, At(300, 200));
    EXPECT_TRUE(Near(ScreenPixel(Hwnd(), x, y), normal->PixelAt(50, 4)));

    // The caption drags the window, except where a control takes the mouse.
    POINT caption{150, 20}, onClose{380, 16}, below{150, 200};
    ClientToScreen(Hwnd(), &caption);
    ClientToScreen(Hwnd(), &onClose);
    ClientToScreen(Hwnd(), &below);
    EXPECT_EQ(SendMessageW(Hwnd(), WM_NCHITTEST, 0, MAKELPARAM(caption.x, caption.y)), HTCAPTION);
    EXPECT_EQ(SendMessageW(Hwnd(), WM_NCHITTEST, 0, MAKELPARAM(onClose.x, onClose.y)), HTCLIENT);
    EXPECT_EQ(SendMessageW(Hwnd(), WM_NCHITTEST, 0, MAKELPARAM(below.x, below.y)), HTCLIENT);
}

TEST_F(WindowTest, KeyboardMovesTheFocusAndPressesButtons) {
    Send(WM_KEYDOWN, VK_TAB, 0);
    ASSERT_NE(window->Pm().GetFocus(), nullptr);
    EXPECT_EQ(window->Pm().GetFocus()->GetName(), L"first");
    Send(WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(window->Pm().GetFocus()->GetName(), L"second");
    Send(WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(Count(L"click:second"), 1);
    // Into the edit box: a native edit takes the keys, Tab leaves it again.
    Send(WM_KEYDOWN, VK_TAB, 0);
    auto* edit = static_cast<CEditUI*>(window->Pm().FindControl(L"path"));
    ASSERT_EQ(window->Pm().GetFocus(), edit);
    HWND native = edit->GetNativeWindow();
    ASSERT_NE(native, nullptr);
    EXPECT_EQ(GetFocus(), native);
    SendMessageW(native, WM_CHAR, L'X', 0);
    Pump(30);
    EXPECT_EQ(edit->GetText().back(), L'X');
    EXPECT_GE(Count(L"textchanged:path"), 1);
    SendMessageW(native, WM_KEYDOWN, VK_TAB, 0);
    Pump(50);
    EXPECT_EQ(edit->GetNativeWindow(), nullptr);
    EXPECT_FALSE(IsWindow(native));
    EXPECT_EQ(window->Pm().GetFocus()->GetName(), L"first");  // wrapped round
    EXPECT_EQ(edit->GetText().back(), L'X');
    // Esc clicks the close button.
    Send(WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(Count(L"click:closebtn"), 1);
}

TEST_F(WindowTest, TimersCustomMessagesAndAModalRun) {
    ::SetTimer(Hwnd(), 666, 30, nullptr);
    PostMessageW(Hwnd(), WM_USER + 1919, 9, 0);
    Pump(200);
    ::KillTimer(Hwnd(), 666);
    EXPECT_FALSE(window->timers.empty());
    EXPECT_EQ(window->timers.front(), 666u);
    ASSERT_EQ(window->custom.size(), 1u);

    // A second window, modal over the first; it closes itself with code 7 from a timer.
    TestWindow* dialog = new TestWindow();
    ASSERT_NE(dialog->Create(Hwnd(), L"modal", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW, 0, 0, 452, 190), nullptr);
    dialog->CenterWindow();
    dialog->modalResultAtTimer = 7;
    ::SetTimer(dialog->GetHWND(), 7, 100, nullptr);
    HWND dialogHwnd = dialog->GetHWND();
    RECT rc{};
    GetClientRect(dialogHwnd, &rc);
    EXPECT_EQ(rc.right, 400);  // frameless: the whole window is the layout
    UINT result = dialog->ShowModal();
    EXPECT_EQ(result, 7u);
    EXPECT_FALSE(IsWindow(dialogHwnd));
    EXPECT_TRUE(dialog->ownerDisabledAtClose);
    EXPECT_TRUE(IsWindowEnabled(Hwnd()));
    delete dialog;

    // Closing with the close code of a button, as a message box does.
    TestWindow* box = new TestWindow();
    box->Create(Hwnd(), L"box", WS_POPUP, 0, 0, 0, 100, 100);
    PostMessageW(box->GetHWND(), WM_CLOSE, 2, 0);
    EXPECT_EQ(box->ShowModal(), 2u);
    delete box;
}
