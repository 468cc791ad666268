// Layout arithmetic of the containers and hit testing, on trees built from layout markup and
// laid out without a window.
#include <gtest/gtest.h>

#include <string>

#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Layout/UIContainer.h"

using namespace DuiLib;

namespace {

// Builds the markup into a manager of the given client size and lays it out.
struct Laid {
    CPaintManagerUI pm;
    Laid(const char* xml, int cx, int cy, int scale = 100) {
        CMarkup markup;
        EXPECT_TRUE(markup.Load(xml)) << markup.GetLastError();
        CDialogBuilder builder;
        pm.SetScale(scale);
        pm.AttachRoot(builder.Create(markup, &pm));
        pm.SetClientSize(SIZE{cx, cy});
        pm.UpdateLayout();
    }
    RECT Pos(const wchar_t* name) {
        CControlUI* c = pm.FindControl(name);
        EXPECT_NE(c, nullptr) << std::string(name, name + wcslen(name));
        return c ? c->GetPos() : RECT{-1, -1, -1, -1};
    }
};

void ExpectRect(const RECT& r, int l, int t, int rr, int b, const char* what) {
    EXPECT_EQ(r.left, l) << what;
    EXPECT_EQ(r.top, t) << what;
    EXPECT_EQ(r.right, rr) << what;
    EXPECT_EQ(r.bottom, b) << what;
}

}  // namespace

TEST(Layout, TableOfLayouts) {
    struct Case {
        const char* what;
        const char* xml;
        int cx, cy, scale;
        const wchar_t* name;
        RECT expect;
    } cases[] = {
        {"vertical: fixed heights, the stretching child takes the rest",
         "<Window><VerticalLayout><Control name='a' height='40'/><Control name='b'/><Control name='c' height='60'/></VerticalLayout></Window>",
         200, 300, 100, L"b", {0, 40, 200, 240}},
        {"vertical: two stretching children share, the last takes the remainder",
         "<Window><VerticalLayout><Control name='a'/><Control name='b'/></VerticalLayout></Window>", 100, 101, 100, L"b", {0, 50, 100, 101}},
        {"vertical: inset, child padding and the child's own padding",
         "<Window><VerticalLayout inset='10,20,30,40' childpadding='5'><Control name='a' height='10'/>"
         "<Control name='b' height='10' padding='3,4,5,6'/></VerticalLayout></Window>",
         200, 300, 100, L"b", {13, 20 + 10 + 5 + 4, 200 - 30 - 5, 20 + 10 + 5 + 4 + 10}},
        {"vertical: fixed width is centred with childalign",
         "<Window><VerticalLayout childalign='center'><Control name='a' width='50' height='10'/></VerticalLayout></Window>",
         200, 100, 100, L"a", {75, 0, 125, 10}},
        {"vertical: hidden children take no room",
         "<Window><VerticalLayout><Control height='30' visible='false'/><Control name='a' height='10'/></VerticalLayout></Window>",
         100, 100, 100, L"a", {0, 0, 100, 10}},
        {"vertical: childvalign centres the column",
         "<Window><VerticalLayout childvalign='vcenter'><Control name='a' height='20'/></VerticalLayout></Window>", 100, 100, 100, L"a",
         {0, 40, 100, 60}},
        {"vertical: min and max heights of a stretching child",
         "<Window><VerticalLayout><Control name='a' maxheight='30'/><Control height='10'/></VerticalLayout></Window>", 100, 100, 100, L"a",
         {0, 0, 100, 30}},
        {"horizontal: fixed widths, stretching middle, vertical centring",
         "<Window><HorizontalLayout childvalign='vcenter'><Control width='20'/><Control name='b' height='10'/><Control width='30'/></HorizontalLayout></Window>",
         200, 50, 100, L"b", {20, 20, 170, 30}},
        {"horizontal: childalign right packs fixed children to the right",
         "<Window><HorizontalLayout childalign='right' childpadding='10'><Control name='a' width='40'/><Control name='b' width='40'/></HorizontalLayout></Window>",
         200, 50, 100, L"a", {110, 0, 150, 50}},
        {"float: pos relative to the parent",
         "<Window><Container inset='5,5,5,5'><Control name='f' float='true' pos='10,20,50,60'/></Container></Window>", 300, 300, 100,
         L"f", {10, 20, 50, 60}},
        {"scale 150 %: every logical size is multiplied",
         "<Window><VerticalLayout inset='10,10,10,10'><Control name='a' height='40'/><Control name='f' float='true' pos='10,20,50,60'/></VerticalLayout></Window>",
         300, 300, 150, L"a", {15, 15, 285, 75}},
        {"scale 150 %: floating position",
         "<Window><VerticalLayout><Control name='f' float='true' pos='10,20,50,60'/></VerticalLayout></Window>", 300, 300, 150, L"f",
         {15, 30, 75, 90}},
        {"tab layout: every page gets the whole inside",
         "<Window><TabLayout inset='2,2,2,2'><Control name='p0'/><Control name='p1'/></TabLayout></Window>", 100, 80, 100, L"p0",
         {2, 2, 98, 78}},
    };
    for (const Case& c : cases) {
        Laid laid(c.xml, c.cx, c.cy, c.scale);
        ExpectRect(laid.Pos(c.name), c.expect.left, c.expect.top, c.expect.right, c.expect.bottom, c.what);
    }
}

TEST(Layout, RightToLeftMirrorsRows) {
    Laid laid("<Window><HorizontalLayout><Control name='a' width='20'/><Control name='b' width='30'/></HorizontalLayout></Window>", 200, 40);
    ExpectRect(laid.Pos(L"a"), 0, 0, 20, 40, "ltr");
    laid.pm.SetRTL(true);
    laid.pm.UpdateLayout();
    ExpectRect(laid.Pos(L"a"), 180, 0, 200, 40, "rtl first");
    ExpectRect(laid.Pos(L"b"), 150, 0, 180, 40, "rtl second");
}

TEST(Layout, TabLayoutShowsOnePageAndWindowResizes) {
    Laid laid("<Window><VerticalLayout><Container name='upper' height='360'/><TabLayout name='tabs' height='200'>"
              "<Control name='p0'/><Control name='p1'/></TabLayout></VerticalLayout></Window>",
              650, 560);
    auto* tabs = static_cast<CTabLayoutUI*>(laid.pm.FindControl(L"tabs")->GetInterface(L"TabLayout"));
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->GetCurSel(), 0);
    EXPECT_TRUE(laid.pm.FindControl(L"p0")->IsVisible());
    EXPECT_FALSE(laid.pm.FindControl(L"p1")->IsVisible());
    EXPECT_TRUE(tabs->SelectItem(1));
    EXPECT_FALSE(tabs->SelectItem(2));
    EXPECT_FALSE(laid.pm.FindControl(L"p0")->IsVisible());
    EXPECT_TRUE(laid.pm.FindControl(L"p1")->IsVisible());
    laid.pm.UpdateLayout();
    ExpectRect(laid.Pos(L"p1"), 0, 360, 650, 560, "open panel");
    // The window collapses to 360: the panel lies below the client area.
    laid.pm.SetClientSize(SIZE{650, 360});
    laid.pm.UpdateLayout();
    ExpectRect(laid.Pos(L"upper"), 0, 0, 650, 360, "upper panel");
    EXPECT_EQ(laid.pm.FindControl(POINT{300, 100}), laid.pm.FindControl(L"upper"));
}

TEST(Layout, ScrollingContainerScrollsItsChildren) {
    Laid laid("<Window><VerticalLayout name='scroll' vscrollbar='true' inset='10,10,10,10' height='200'>"
              "<VerticalLayout name='content' height='1540'><Text name='text'/></VerticalLayout></VerticalLayout></Window>",
              650, 200);
    auto* scroll = static_cast<CContainerUI*>(laid.pm.FindControl(L"scroll")->GetInterface(L"Container"));
    ASSERT_NE(scroll, nullptr);
    EXPECT_TRUE(scroll->IsScrollBarShown());
    EXPECT_EQ(scroll->GetScrollRange(), 1540 - 180);
    RECT content = laid.Pos(L"content");
    EXPECT_EQ(content.top, 10);
    EXPECT_LT(content.right, 640);  // the scroll bar takes its width
    scroll->SetScrollPos(100);
    EXPECT_EQ(laid.Pos(L"content").top, 10 - 100);
    scroll->SetScrollPos(100000);
    EXPECT_EQ(scroll->GetScrollPos(), scroll->GetScrollRange());
    // The wheel scrolls too (one notch down).
    scroll->SetScrollPos(0);
    TEventUI wheel;
    wheel.Type = UIEVENT_SCROLLWHEEL;
    wheel.wParam = static_cast<WPARAM>(-WHEEL_DELTA);
    laid.pm.FindControl(L"text")->DoEvent(wheel);
    EXPECT_GT(scroll->GetScrollPos(), 0);
    // A shorter content needs no bar.
    laid.pm.FindControl(L"content")->SetFixedHeight(100);
    laid.pm.UpdateLayout();
    EXPECT_FALSE(scroll->IsScrollBarShown());
    EXPECT_EQ(scroll->GetScrollPos(), 0);
}

TEST(HitTest, TopmostVisibleEnabledControl) {
    Laid laid("<Window><Container name='back'>"
              "<Button name='under' float='true' pos='0,0,100,100'/>"
              "<Button name='over' float='true' pos='50,50,150,150'/>"
              "<Button name='hidden' float='true' pos='0,150,100,200' visible='false'/>"
              "<Label name='deaf' float='true' pos='200,0,300,100' mouse='false'/>"
              "</Container></Window>",
              400, 300);
    struct Case {
        POINT pt;
        const wchar_t* expect;
    } cases[] = {
        {{10, 10}, L"under"}, {{60, 60}, L"over"}, {{140, 140}, L"over"}, {{10, 160}, L"back"}, {{250, 50}, L"back"}, {{399, 299}, L"back"},
    };
    for (const Case& c : cases) {
        CControlUI* hit = laid.pm.FindControl(c.pt);
        ASSERT_NE(hit, nullptr);
        EXPECT_EQ(hit->GetName(), c.expect) << c.pt.x << "," << c.pt.y;
    }
    EXPECT_EQ(laid.pm.FindControl(POINT{500, 10}), nullptr);
}
