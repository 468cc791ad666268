// Control state and notifications, driven by the events the paint manager delivers, without a
// window: buttons, options in groups, check boxes, the combo with hidden items, the progress
// bar, links in labels, keyboard focus with Tab; and the image cache.
#include <gtest/gtest.h>

#include <minizip/zip.h>

#include <map>
#include <string>
#include <vector>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Control/UIProgress.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIImage.h"
#include "DuiLib/Core/UIManager.h"
#include "support/test_support.h"

using namespace DuiLib;

namespace {

struct Recorder : INotifyUI {
    struct Entry {
        std::wstring type;
        std::wstring sender;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Entry> got;
    void Notify(TNotifyUI& msg) override {
        got.push_back({msg.sType, msg.pSender ? msg.pSender->GetName() : L"", msg.wParam, msg.lParam});
    }
    int Count(const std::wstring& type, const std::wstring& sender) const {
        int n = 0;
        for (const Entry& e : got)
            if (e.type == type && e.sender == sender) ++n;
        return n;
    }
};

struct Page {
    CPaintManagerUI pm;
    Recorder rec;
    explicit Page(const char* xml, SIZE size = SIZE{400, 300}) {
        CMarkup markup;
        EXPECT_TRUE(markup.Load(xml)) << markup.GetLastError();
        CDialogBuilder builder;
        pm.AttachRoot(builder.Create(markup, &pm));
        pm.AddNotifier(&rec);
        pm.SetClientSize(size);
        pm.UpdateLayout();
    }
    template <typename T>
    T* Get(const wchar_t* name) {
        CControlUI* c = pm.FindControl(name);
        return c ? dynamic_cast<T*>(c) : nullptr;
    }
    // The messages the window would get, straight into the paint manager.
    void Mouse(UINT msg, int x, int y) {
        LRESULT r = 0;
        pm.MessageHandler(msg, 0, MAKELPARAM(x, y), r);
    }
    void Click(int x, int y) {
        Mouse(WM_MOUSEMOVE, x, y);
        Mouse(WM_LBUTTONDOWN, x, y);
        Mouse(WM_LBUTTONUP, x, y);
    }
    void Key(WPARAM key) {
        LRESULT r = 0;
        pm.MessageHandler(WM_KEYDOWN, key, 0, r);
    }
};

POINT Centre(CControlUI* c) {
    RECT r = c->GetPos();
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

TEST(Button, HotPushedAndClick) {
    Page page("<Window><Container><Button name='ok' float='true' pos='10,10,110,40' normalimage='n.png' hotimage='h.png' "
              "pushedimage='p.png' disabledimage='d.png'/></Container></Window>");
    auto* ok = page.Get<CButtonUI>(L"ok");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->CurrentImage(), L"n.png");
    page.Mouse(WM_MOUSEMOVE, 50, 20);
    EXPECT_TRUE(ok->IsHot());
    EXPECT_EQ(ok->CurrentImage(), L"h.png");
    page.Mouse(WM_LBUTTONDOWN, 50, 20);
    EXPECT_TRUE(ok->IsPushed());
    EXPECT_EQ(ok->CurrentImage(), L"p.png");
    // Dragged off while held: no longer pushed, and released outside: no click.
    page.Mouse(WM_MOUSEMOVE, 300, 200);
    EXPECT_FALSE(ok->IsPushed());
    page.Mouse(WM_LBUTTONUP, 300, 200);
    EXPECT_EQ(page.rec.Count(L"click", L"ok"), 0);
    page.Click(50, 20);
    EXPECT_EQ(page.rec.Count(L"click", L"ok"), 1);
    page.Mouse(WM_MOUSEMOVE, 300, 200);
    EXPECT_FALSE(ok->IsHot());
    // Disabled: its own image, no hover, no click.
    ok->SetEnabled(false);
    EXPECT_EQ(ok->CurrentImage(), L"d.png");
    page.Click(50, 20);
    EXPECT_EQ(page.rec.Count(L"click", L"ok"), 1);
    EXPECT_FALSE(ok->IsHot());
}

TEST(Option, GroupKeepsOneSelectedAndNotifiesTheNewOne) {
    Page page("<Window><HorizontalLayout>"
              "<Option name='o1' width='20' group='dots' selected='true'/><Option name='o2' width='20' group='dots'/>"
              "<Option name='o3' width='20' group='dots'/><CheckBox name='cb' width='20'/></HorizontalLayout></Window>");
    auto* o1 = page.Get<COptionUI>(L"o1");
    auto* o2 = page.Get<COptionUI>(L"o2");
    auto* o3 = page.Get<COptionUI>(L"o3");
    auto* cb = page.Get<CCheckBoxUI>(L"cb");
    ASSERT_TRUE(o1 && o2 && o3 && cb);
    EXPECT_TRUE(o1->IsSelected());
    POINT p = Centre(o3);
    page.Click(p.x, p.y);
    EXPECT_FALSE(o1->IsSelected());
    EXPECT_TRUE(o3->IsSelected());
    EXPECT_EQ(page.rec.Count(L"selectchanged", L"o3"), 1);
    EXPECT_EQ(page.rec.Count(L"selectchanged", L"o1"), 0);
    EXPECT_EQ(page.rec.Count(L"click", L"o3"), 1);
    // Selecting by program notifies the same way; selecting the selected one does nothing.
    o2->Selected(true);
    EXPECT_FALSE(o3->IsSelected());
    EXPECT_EQ(page.rec.Count(L"selectchanged", L"o2"), 1);
    o2->Selected(true);
    EXPECT_EQ(page.rec.Count(L"selectchanged", L"o2"), 1);
    page.Click(Centre(o2).x, Centre(o2).y);  // clicking a selected group member keeps it selected
    EXPECT_TRUE(o2->IsSelected());
    // The check box toggles on every click.
    page.Click(Centre(cb).x, Centre(cb).y);
    EXPECT_TRUE(cb->GetCheck());
    page.Click(Centre(cb).x, Centre(cb).y);
    EXPECT_FALSE(cb->GetCheck());
    EXPECT_EQ(page.rec.Count(L"selectchanged", L"cb"), 2);
    EXPECT_EQ(page.rec.Count(L"click", L"cb"), 2);
}

TEST(Combo, HiddenItemsAreSkippedAndSelectionNotifies) {
    Page page("<Window><VerticalLayout><Combo name='lang' height='30'>"
              "<ListLabelElement text=' English'/><ListLabelElement text=' Deutsch'/>"
              "<ListLabelElement text=' Malay' visible='false'/><ListLabelElement text=' Svenska' visible='false'/>"
              "<ListLabelElement text=' Thai'/></Combo></VerticalLayout></Window>");
    auto* combo = page.Get<CComboUI>(L"lang");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->GetCount(), 5u);
    EXPECT_EQ(combo->GetCurSel(), -1);
    EXPECT_TRUE(combo->SelectItem(1));
    EXPECT_EQ(combo->GetText(), L" Deutsch");
    ASSERT_EQ(page.rec.got.size(), 1u);
    EXPECT_EQ(page.rec.got[0].type, L"itemselect");
    EXPECT_EQ(page.rec.got[0].wParam, 1u);
    EXPECT_EQ(page.rec.got[0].lParam, -1);
    EXPECT_FALSE(combo->SelectItem(5));
    EXPECT_FALSE(combo->SelectItem(-1));
    // A hidden item can be selected by the program (its index still counts) ...
    EXPECT_TRUE(combo->SelectItem(3, false, false));
    EXPECT_EQ(combo->GetText(), L" Svenska");
    EXPECT_EQ(page.rec.Count(L"itemselect", L"lang"), 1);
    // ... but the keyboard walks the visible ones only.
    combo->SelectItem(1, true, false);
    EXPECT_EQ(page.pm.GetFocus(), combo);
    page.Key(VK_DOWN);
    EXPECT_EQ(combo->GetCurSel(), 4);
    page.Key(VK_DOWN);
    EXPECT_EQ(combo->GetCurSel(), 4);
    page.Key(VK_UP);
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_EQ(combo->NextVisibleItem(1, 1), 4);
    EXPECT_EQ(combo->NextVisibleItem(0, -1), -1);
}

TEST(Progress, KeepsItsRangeAndFillsProportionally) {
    Page page("<Window><VerticalLayout><Progress name='bar' height='6' min='0' max='100' value='0'/></VerticalLayout></Window>",
              SIZE{400, 6});
    auto* bar = page.Get<CProgressUI>(L"bar");
    ASSERT_NE(bar, nullptr);
    struct Case {
        int set;
        bool accepted;
        int value;
        int fillWidth;
    } cases[] = {{40, true, 40, 160}, {-1, false, 40, 160}, {101, false, 40, 160}, {100, true, 100, 400}, {0, true, 0, 0}, {1, true, 1, 4}};
    for (const Case& c : cases) {
        EXPECT_EQ(bar->SetValue(c.set), c.accepted) << c.set;
        EXPECT_EQ(bar->GetValue(), c.value);
        RECT fill = bar->FillRect();
        EXPECT_EQ(fill.right - fill.left, c.fillWidth) << c.set;
    }
}

TEST(Label, LinkNotificationCarriesTheLinkIndex) {
    Page page("<Window><VerticalLayout><Text name='lic' height='40' font='1' wordbreak='false' "
              "text=\"{f 1}I've read and agreed{/f} {a}{u}Privacy Policy{/u}{/a} and {a}{u}User License Agreement{/u}{/a}.\"/>"
              "</VerticalLayout></Window>",
              SIZE{600, 40});
    auto* lic = page.Get<CLabelUI>(L"lic");
    ASSERT_NE(lic, nullptr);
    EXPECT_EQ(lic->GetLinkCount(), 2);
    EXPECT_TRUE(lic->GetControlFlags() & UIFLAG_SETCURSOR);
    const TTextLayout& layout = lic->GetTextLayout();
    POINT origin = lic->TextOrigin();
    for (int link = 0; link < 2; ++link) {
        std::vector<RECT> rects = layout.LinkRects(link);
        ASSERT_FALSE(rects.empty());
        POINT p{origin.x + (rects[0].left + rects[0].right) / 2, origin.y + (rects[0].top + rects[0].bottom) / 2};
        EXPECT_EQ(lic->LinkAt(p), link);
        page.Click(p.x, p.y);
        ASSERT_FALSE(page.rec.got.empty());
        EXPECT_EQ(page.rec.got.back().type, L"link");
        EXPECT_EQ(page.rec.got.back().wParam, static_cast<WPARAM>(link));
    }
    // Clicking the plain words is no link.
    size_t before = page.rec.got.size();
    page.Click(origin.x + 2, origin.y + 5);
    EXPECT_EQ(page.rec.got.size(), before);
}

TEST(Focus, TabWalksTheVisibleEnabledControlsInOrder) {
    Page page("<Window><VerticalLayout>"
              "<Button name='a' height='20'/><Label name='label' height='20'/><Button name='b' height='20' enabled='false'/>"
              "<Edit name='e' height='20'/><Button name='c' height='20' visible='false'/>"
              "<TabLayout height='40'><Button name='shown' height='20'/><Button name='onhiddenpage' height='20'/></TabLayout>"
              "</VerticalLayout></Window>");
    std::vector<std::wstring> order;
    for (int i = 0; i < 4; ++i) {
        page.Key(VK_TAB);
        ASSERT_NE(page.pm.GetFocus(), nullptr);
        order.push_back(page.pm.GetFocus()->GetName());
    }
    EXPECT_EQ(order, (std::vector<std::wstring>{L"a", L"e", L"shown", L"a"}));
    EXPECT_TRUE(page.pm.IsFocusVisible());
    EXPECT_EQ(page.rec.Count(L"setfocus", L"e"), 1);
    EXPECT_EQ(page.rec.Count(L"killfocus", L"e"), 1);
    // Enter and Space press the focused button.
    page.Key(VK_RETURN);
    page.Key(VK_SPACE);
    EXPECT_EQ(page.rec.Count(L"click", L"a"), 2);
    // A focused control that is hidden loses the focus.
    page.pm.FindControl(L"a")->SetVisible(false);
    EXPECT_EQ(page.pm.GetFocus(), nullptr);
}

TEST(Edit, TextWithoutAWindow) {
    Page page("<Window><VerticalLayout><Edit name='path' height='30' maxchar='10'/></VerticalLayout></Window>");
    auto* edit = page.Get<CEditUI>(L"path");
    ASSERT_NE(edit, nullptr);
    edit->SetText(L"C:\\Program Files\\Orbala");
    EXPECT_EQ(edit->GetText(), L"C:\\Program");
    EXPECT_EQ(edit->GetNativeWindow(), nullptr);  // no window, no native box
    EXPECT_TRUE(edit->GetControlFlags() & UIFLAG_TABSTOP);
}

namespace {

// PNG bytes of a w x h image filled with one colour (GDI+ encoder).
std::string SolidPng(int w, int h, DWORD argb);

}  // namespace

TEST(ImageCache, LoadsNamedImagesAndTheirDoubleSizeCompanions) {
    struct MapSource : IImageSource {
        std::map<std::wstring, std::string> files;
        bool Read(const std::wstring& name, std::string& bytes) override {
            auto it = files.find(name);
            if (it == files.end()) return false;
            bytes = it->second;
            return true;
        }
    } source;
    source.files[L"skin\\logo.png"] = SolidPng(10, 6, 0xFF112233);
    source.files[L"skin\\logo@2x.png"] = SolidPng(20, 12, 0xFF445566);
    source.files[L"skin\\plain.png"] = SolidPng(8, 8, 0x80FF0000);
    source.files[L"skin\\broken.png"] = "not an image";
    source.files[L"skin\\wrong.png"] = SolidPng(4, 4, 0xFF000000);
    source.files[L"skin\\wrong@2x.png"] = SolidPng(5, 5, 0xFF000000);  // not double: ignored
    CImageCache cache(&source);

    const TImageInfo* logo = cache.Get(L"skin\\logo.png");
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->width, 10);
    EXPECT_EQ(logo->height, 6);
    EXPECT_EQ(logo->PixelAt(3, 3), 0xFF112233u);
    EXPECT_FALSE(logo->alpha);
    EXPECT_EQ(cache.Get(L"skin/LOGO.png"), logo);  // either slash, any case
    const TImageInfo* at200 = cache.GetScaled(L"skin\\logo.png", 200);
    ASSERT_NE(at200, nullptr);
    EXPECT_EQ(at200->width, 20);
    EXPECT_EQ(at200->PixelAt(5, 5), 0xFF445566u);  // the @2x image itself
    const TImageInfo* at150 = cache.GetScaled(L"skin\\logo.png", 150);
    ASSERT_NE(at150, nullptr);
    EXPECT_EQ(at150->width, 15);
    EXPECT_EQ(at150->height, 9);
    EXPECT_EQ(at150->PixelAt(7, 4), 0xFF445566u);  // drawn from the @2x image
    EXPECT_EQ(cache.GetScaled(L"skin\\logo.png", 100), logo);

    // Premultiplied alpha: half-transparent red is stored as (128, 128, 0, 0).
    const TImageInfo* plain = cache.Get(L"skin\\plain.png");
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(plain->alpha);
    DWORD p = plain->PixelAt(1, 1);
    EXPECT_NEAR(static_cast<int>(p >> 24), 128, 1);
    EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 128, 1);
    EXPECT_EQ(cache.GetScaled(L"skin\\plain.png", 125)->width, 10);  // no @2x: scaled up from itself

    EXPECT_EQ(cache.Get(L"skin\\broken.png"), nullptr);
    EXPECT_EQ(cache.Get(L"skin\\missing.png"), nullptr);
    EXPECT_EQ(cache.GetScaled(L"skin\\wrong.png", 200)->width, 8);

    // Images added by name (the carousel's merged frames) and removed again.
    cache.Add(L"FirstFrame", ImageCodec::Create(650, 300));
    ASSERT_NE(cache.Get(L"FirstFrame"), nullptr);
    EXPECT_EQ(cache.Get(L"FirstFrame")->width, 650);
    cache.Remove(L"FirstFrame");
    EXPECT_EQ(cache.Get(L"FirstFrame"), nullptr);
    cache.Clear();
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_NE(cache.Get(L"skin\\logo.png"), nullptr);  // loaded again on demand
}

// Start-up reads only what it draws: at 100 % the double-size companion is not read, and asking
// whether an image exists reads its file but decodes nothing (a broken file still "exists" until
// it is loaded).
TEST(ImageCache, CompanionsAndExistenceCostNoDecodingUntilUsed) {
    struct CountingSource : IImageSource {
        std::map<std::wstring, std::string> files;
        std::map<std::wstring, int> reads;
        bool Read(const std::wstring& name, std::string& bytes) override {
            ++reads[name];
            auto it = files.find(name);
            if (it == files.end()) return false;
            bytes = it->second;
            return true;
        }
    } source;
    source.files[L"skin\\frame.png"] = SolidPng(10, 6, 0xFF112233);
    source.files[L"skin\\frame@2x.png"] = SolidPng(20, 12, 0xFF445566);
    source.files[L"skin\\damaged.png"] = "not an image";
    CImageCache cache(&source);

    ASSERT_NE(cache.GetScaled(L"skin\\frame.png", 100), nullptr);
    EXPECT_EQ(source.reads[L"skin\\frame@2x.png"], 0);
    const TImageInfo* at200 = cache.GetScaled(L"skin\\frame.png", 200);
    ASSERT_NE(at200, nullptr);
    EXPECT_EQ(at200->width, 20);
    EXPECT_EQ(cache.GetScaled(L"skin\\frame.png", 150)->width, 15);
    EXPECT_EQ(source.reads[L"skin\\frame@2x.png"], 1);  // read once, kept

    EXPECT_TRUE(cache.Has(L"skin\\damaged.png"));
    EXPECT_FALSE(cache.Has(L"skin\\absent.png"));
    EXPECT_EQ(cache.Count(), 1u);  // nothing decoded or remembered by asking
    EXPECT_EQ(cache.Get(L"skin\\damaged.png"), nullptr);
    EXPECT_FALSE(cache.Has(L"skin\\damaged.png"));  // known now not to decode

    // An image added by name never takes a skin file's companion.
    source.files[L"Banner@2x.png"] = SolidPng(40, 40, 0xFF000000);
    cache.Add(L"Banner.png", ImageCodec::Create(10, 10));
    EXPECT_EQ(cache.GetScaled(L"Banner.png", 200)->width, 20);
    EXPECT_EQ(source.reads[L"Banner@2x.png"], 0);
}

TEST(ImageCache, ResizeAveragesWhenShrinking) {
    // A 4 x 1 image black, white, black, white shrinks to 2 x 1 mid grey, to 1 x 1 too.
    auto image = ImageCodec::Create(4, 1);
    for (int x = 0; x < 4; ++x) {
        BYTE v = x % 2 ? 255 : 0;
        image->bits[x * 4 + 0] = image->bits[x * 4 + 1] = image->bits[x * 4 + 2] = v;
        image->bits[x * 4 + 3] = 255;
    }
    auto half = ImageCodec::Resize(*image, 2, 1);
    ASSERT_NE(half, nullptr);
    EXPECT_NEAR(static_cast<int>(half->PixelAt(0, 0) & 0xFF), 128, 1);
    EXPECT_NEAR(static_cast<int>(half->PixelAt(1, 0) & 0xFF), 128, 1);
    auto one = ImageCodec::Resize(*image, 1, 1);
    EXPECT_NEAR(static_cast<int>(one->PixelAt(0, 0) & 0xFF), 128, 1);
    EXPECT_EQ(one->PixelAt(0, 0) >> 24, 255u);
}

#include <objidl.h>
#include <gdiplus.h>

namespace {

std::string SolidPng(int w, int h, DWORD argb) {
    ImageCodec::EnsureGdiplus();
    Gdiplus::Bitmap bitmap(w, h, PixelFormat32bppARGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bitmap.SetPixel(x, y, Gdiplus::Color(argb));
    CLSID png{};
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, encoders);
    for (UINT i = 0; i < count; ++i)
        if (wcscmp(encoders[i].MimeType, L"image/png") == 0) png = encoders[i].Clsid;
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    bitmap.Save(stream, &png, nullptr);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(&bytes[0], static_cast<ULONG>(bytes.size()), &read);
    stream->Release();
    return bytes;
}

}  // namespace
