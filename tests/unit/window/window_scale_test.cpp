// The installer window at every screen scale and in high contrast: its size and a control's
// rectangle from 100 % to 300 %, a move to a monitor of another scale (WM_DPICHANGED) with the
// rectangle the system suggests, the carousel's frames made at the window's scale, the settings
// panel kept inside the monitor's work area, and the system's colours with high contrast on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Core/UIImage.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UISystemLook.h"
#include "DuiLib/Layout/UIContainer.h"
#include "support/installer_window.h"
#include "support/recording_report.h"
#include "support/skin_archive.h"
#include "support/test_support.h"
#include "support/window_driver.h"
#include "window/SettingsPanel.h"
#include "window/install_ui_mainwnd.h"

using namespace window_driver;

namespace {

class TestWindow : public InstallUIMainWnd {
public:
    DuiLib::CPaintManagerUI& Pm() { return m_pm; }
};

RECT WindowRect(HWND hwnd) {
    RECT rc{};
    GetWindowRect(hwnd, &rc);
    return rc;
}

class WindowScaleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetMainWindowClassName(L"QV_UI_Frame_window_scale_test"); }
    void TearDown() override {
        Close();
        _putenv_s("DUILIB_SCALE", "");
        DuiLib::SystemLook::OverrideHighContrast(-1);
    }
    void Close() { installer_window::Close(window_, log_); }
    // Opens the window over the source skin at a scale (0: the system's). Hidden, it keeps the
    // size it asked for even where that is larger than the virtual screen of the tests (Wine fits
    // a window to the screen when it maps it; a 300 % monitor is large enough for it).
    void Open(int scale, bool show = true) {
        Close();
        _putenv_s("DUILIB_SCALE", scale ? std::to_string(scale).c_str() : "");
        const std::string skin = test_support::MakeSkinArchive({{"configure/configure.xml", test_support::ConfigureWith({})}});
        ASSERT_TRUE(installer_window::Open(skin, report_, log_, window_, show));
        Pump(100);
        window_->Pm().UpdateLayout();
    }
    HWND Hwnd() { return window_->GetHWND(); }
    RECT ControlRect(const wchar_t* name) {
        window_->Pm().UpdateLayout();
        DuiLib::CControlUI* control = window_->Pm().FindControl(name);
        return control ? control->GetPos() : RECT{};
    }
    // The running page with its carousel, as the installation shows it.
    void ShowRunningPage() {
        auto* tab = dynamic_cast<DuiLib::CTabLayoutUI*>(window_->Pm().FindControl(L"main_tablayout"));
        ASSERT_TRUE(tab);
        tab->SelectItem(1);
        window_->Pm().UpdateLayout();
        window_->StartCarousel();
        ASSERT_TRUE(window_->Carousel());
    }

    RecordingReport report_;
    std::unique_ptr<CSingleUserLog> log_;
    std::unique_ptr<TestWindow> window_;
};

void ExpectScaled(const RECT& actual, const RECT& at100, int scale) {
    EXPECT_NEAR(actual.left, MulDiv(at100.left, scale, 100), 2);
    EXPECT_NEAR(actual.top, MulDiv(at100.top, scale, 100), 2);
    EXPECT_NEAR(actual.right, MulDiv(at100.right, scale, 100), 2);
    EXPECT_NEAR(actual.bottom, MulDiv(at100.bottom, scale, 100), 2);
}

// The window's size and the install button's rectangle at each scale, with no clamp at 200 %.
TEST_F(WindowScaleTest, SizeAndControlsFollowTheScaleUpTo300) {
    Open(100);
    const RECT button100 = ControlRect(L"install_btn");
    ASSERT_GT(button100.right - button100.left, 100);
    const int scales[] = {100, 125, 150, 200, 250, 300};
    for (int scale : scales) {
        SCOPED_TRACE(scale);
        Open(scale, false);
        EXPECT_EQ(window_->Pm().GetScale(), scale);
        const RECT rc = WindowRect(Hwnd());
        EXPECT_EQ(rc.right - rc.left, MulDiv(650, scale, 100));
        // The system keeps a window no taller than its screen (the tests' virtual screen is 800
        // high; a monitor at 250 % or 300 % is taller than the window).
        EXPECT_EQ(rc.bottom - rc.top, std::min(MulDiv(360, scale, 100), GetSystemMetrics(SM_CYSCREEN)));
        ExpectScaled(ControlRect(L"install_btn"), button100, scale);
    }
}

TEST_F(WindowScaleTest, ScaleForDpiRoundsAndKeepsTheRange) {
    struct {
        int dpi, scale;
    } cases[] = {{96, 100}, {72, 100}, {120, 125}, {144, 150}, {192, 200}, {240, 250}, {288, 300}, {384, 300}, {0, 100}, {150, 150}};
    for (const auto& c : cases) EXPECT_EQ(DuiLib::CPaintManagerUI::ScaleForDpi(c.dpi), c.scale) << c.dpi;
}

// Moved to a monitor of another scale: the window takes the suggested rectangle, lays out at the
// new scale (the button as a window opened at that scale has it) and makes the carousel again.
TEST_F(WindowScaleTest, DpiChangeTakesTheSuggestedRectangleAndRescales) {
    struct Case {
        int from, to;
    } cases[] = {{200, 100}, {150, 300}};
    Open(100, false);
    const RECT button100 = ControlRect(L"install_btn");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + "->" + std::to_string(c.to));
        Open(c.from);
        ShowRunningPage();
        RECT suggested{40, 30, 40 + MulDiv(650, c.to, 100), 30 + MulDiv(360, c.to, 100)};
        const int dpi = MulDiv(96, c.to, 100);
        SendMessageW(Hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(window_->Pm().GetScale(), c.to);
        const RECT rc = WindowRect(Hwnd());
        EXPECT_EQ(rc.left, suggested.left);
        EXPECT_EQ(rc.top, suggested.top);
        EXPECT_EQ(rc.right, suggested.right);
        EXPECT_EQ(rc.bottom, suggested.bottom);
        auto* tab = dynamic_cast<DuiLib::CTabLayoutUI*>(window_->Pm().FindControl(L"main_tablayout"));
        tab->SelectItem(0);
        ExpectScaled(ControlRect(L"install_btn"), button100, c.to);
        // The carousel's frames are made for the area at the new scale.
        ASSERT_TRUE(window_->Carousel());
        EXPECT_NEAR(window_->Carousel()->Width(), MulDiv(648, c.to, 100), 2);
        EXPECT_NEAR(window_->Carousel()->Height(), MulDiv(300, c.to, 100), 2);
    }
}

// The carousel's pictures are made at the window's scale and drawn as they are: at 200 % they
// are the @2x frames, not the 1x frames stretched.
TEST_F(WindowScaleTest, CarouselFramesAreMadeAtTheWindowsScale) {
    const int scales[] = {200};
    for (int scale : scales) {
        SCOPED_TRACE(scale);
        Open(scale);
        ShowRunningPage();
        DuiLib::CImageCache& cache = window_->Pm().GetImageCache();
        const DuiLib::TImageInfo* first = cache.Get(L"FirstFrame");
        ASSERT_TRUE(first);
        EXPECT_NEAR(first->width, MulDiv(648, scale, 100), 2);
        EXPECT_NEAR(first->height, MulDiv(300, scale, 100), 2);
        // Drawn at the window's scale without another resize.
        EXPECT_EQ(cache.GetScaled(L"FirstFrame", scale), first);
        const DuiLib::TImageInfo* merged = cache.Get(CAnima::MergedName(1, 2));
        ASSERT_TRUE(merged);
        EXPECT_EQ(merged->width, 2 * first->width);
    }
}

TEST(SettingsPanelWorkArea, OpenPanelStaysAboveTheTaskbar) {
    const RECT work{0, 0, 1280, 760};  // a taskbar of 40 below
    struct Case {
        const char* what;
        RECT window;
        int height;
        RECT expected;
    } cases[] = {
        {"fits where it is", {100, 100, 750, 460}, 560, {100, 100, 750, 660}},
        {"bottom under the taskbar: moved up", {100, 300, 750, 660}, 560, {100, 200, 750, 760}},
        {"exactly at the edge stays", {100, 200, 750, 560}, 560, {100, 200, 750, 760}},
        {"taller than the work area: shrunk to it", {0, 100, 1950, 1180}, 1680, {0, 0, 1950, 760}},
        {"above the work area: moved down", {100, -50, 750, 310}, 560, {100, 0, 750, 560}},
        {"collapsing keeps the top", {100, 200, 750, 760}, 360, {100, 200, 750, 560}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RECT r = SettingsPanel::FitHeightInWorkArea(c.window, c.height, work);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
    // A second monitor above and to the left (negative coordinates) is handled the same way.
    RECT r = SettingsPanel::FitHeightInWorkArea({-900, -300, -250, 60}, 560, {-1280, -1024, 0, -40});
    EXPECT_EQ(r.bottom, -40);
    EXPECT_EQ(r.top, -600);
}

// The real window: opening the settings panel near the bottom of the screen keeps it inside
// the monitor's work area.
TEST_F(WindowScaleTest, OpenedSettingsPanelFitsTheWorkArea) {
    Open(100);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(Hwnd(), MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT work = monitor.rcWork;
    SetWindowPos(Hwnd(), nullptr, work.left + 10, work.bottom - 380, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    window_->ResizeForSettings(false);
    RECT rc = WindowRect(Hwnd());
    EXPECT_EQ(rc.bottom - rc.top, 560);
    EXPECT_LE(rc.bottom, work.bottom);
    EXPECT_GE(rc.top, work.top);
}

// Pixels of a rectangle's inside that have exactly one colour (ARGB, alpha ignored).
int CountColour(const DuiLib::TImageInfo& image, const RECT& rc, DWORD argb) {
    int n = 0;
    for (int y = rc.top + 2; y < rc.bottom - 2; ++y)
        for (int x = rc.left + 2; x < rc.right - 2; ++x) n += (image.PixelAt(x, y) & 0xFFFFFF) == (argb & 0xFFFFFF);
    return n;
}

// With high contrast the install button is the system's button face with the system's button
// text, the edit box the system's window colour, and the decorative background of the upper
// panel gives way to the system's window colour; switched off again at run time
// (WM_SETTINGCHANGE), the skin's colours come back.
TEST_F(WindowScaleTest, HighContrastUsesTheSystemsColoursAndSwitchesAtRunTime) {
    using DuiLib::SystemLook::Role;
    using DuiLib::SystemLook::RoleColor;
    DuiLib::SystemLook::OverrideHighContrast(0);
    Open(100);
    ASSERT_FALSE(window_->Pm().IsHighContrast());
    auto render = [&] { return window_->Pm().Render(); };
    const RECT button = ControlRect(L"install_btn");
    const RECT panel = ControlRect(L"backgroudlayout");
    const int buttonArea = (button.right - button.left - 4) * (button.bottom - button.top - 4);
    struct Look {
        bool highContrast;
    } looks[] = {{true}, {false}, {true}};
    for (const Look& look : looks) {
        SCOPED_TRACE(look.highContrast ? "high contrast" : "skin");
        DuiLib::SystemLook::OverrideHighContrast(look.highContrast ? 1 : 0);
        SendMessageW(Hwnd(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        EXPECT_EQ(window_->Pm().IsHighContrast(), look.highContrast);
        EXPECT_EQ(window_->Pm().GetDefaultTextColor(), look.highContrast ? RoleColor(Role::WindowText) : 0xFF000000u);
        EXPECT_EQ(window_->Pm().GetDefaultLinkColor(), look.highContrast ? RoleColor(Role::Link) : 0xFF8372FFu);
        auto image = render();
        ASSERT_TRUE(image);
        const int face = CountColour(*image, button, RoleColor(Role::ButtonFace));
        const int buttonText = CountColour(*image, button, RoleColor(Role::ButtonText));
        if (look.highContrast) {
            EXPECT_GT(face, buttonArea / 2);
            EXPECT_GT(buttonText, 10);
        } else {
            EXPECT_LT(face, buttonArea / 10);
        }
        // The upper panel's corner (no control over it) shows the window colour in high contrast.
        RECT corner{panel.left, panel.top + 60, panel.left + 60, panel.top + 120};
        const int window = CountColour(*image, corner, RoleColor(Role::Window));
        const int cornerArea = 56 * 56;
        if (look.highContrast) EXPECT_EQ(window, cornerArea);
        else EXPECT_LT(window, cornerArea);
    }
}

}  // namespace
