// A page rendered into a bitmap and checked by measurable facts: images where the layout puts
// them (their own pixels, their state images, the @2x image at 200 %), texts inside their
// controls and nowhere else, opaque, in their colour; and the real skin's pages.
#include <gtest/gtest.h>

#include <minizip/zip.h>

#include <map>
#include <string>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Layout/UIContainer.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "support/test_support.h"

using namespace DuiLib;

namespace {

std::string SkinFile(const std::string& relative) {
    return test_support::ReadFile(TextCodec::Utf8ToWide(std::string(ORBALA_SOURCE_DIR) + "/skin/" + relative));
}

struct Rendered {
    CPaintManagerUI pm;
    std::unique_ptr<TImageInfo> image;
    explicit Rendered(const std::wstring& layout, int scale = 100, SIZE size = SIZE{0, 0}) {
        pm.SetScale(scale);
        CDialogBuilder builder;
        pm.AttachRoot(builder.Create(layout, &pm));
        SIZE s = size.cx ? size : pm.GetWindowInfo().size;
        pm.SetClientSize(SIZE{pm.Scale(s.cx), pm.Scale(s.cy)});
        Render();
    }
    void Render() { image = pm.Render(); }
    DWORD At(int x, int y) const { return image->PixelAt(x, y); }
    RECT Pos(const wchar_t* name) const {
        CControlUI* c = pm.FindControl(name);
        return c ? c->GetPos() : RECT{0, 0, 0, 0};
    }
    // Pixels in r that differ from the background colour by more than a little.
    int Marks(const RECT& r, DWORD background) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                DWORD p = At(x, y);
                int d = 0;
                for (int shift = 0; shift < 24; shift += 8)
                    d = std::max(d, std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((background >> shift) & 0xFF)));
                if (d > 40) ++n;
            }
        return n;
    }
};

int Luma(DWORD p) { return (((p >> 16) & 0xFF) * 3 + ((p >> 8) & 0xFF) * 6 + (p & 0xFF)) / 10; }

}  // namespace

TEST(Render, ImagesAndTextsWhereTheLayoutPutsThem) {
    std::string zip = test_support::ZipOf({
        {"page.xml",
         "<Window size='300,200' bkcolor='#FFFFFFFF'><Font id='1' name='Segoe UI' size='14' default='true'/>"
         "<Container>"
         "<Button name='btn' float='true' pos='20,20,132,54' text='Install' textcolor='#FFFFFFFF' font='1' "
         "normalimage=\"file='skin\\btn_primary_small_normal.png' corner='5,5,5,5'\" hotimage=\"file='skin\\btn_primary_small_hot.png' corner='5,5,5,5'\"/>"
         "<Label name='title' float='true' pos='20,80,280,110' text='Orbala Lumeno' textcolor='#FF000000' font='1'/>"
         "<Label name='red' float='true' pos='20,120,280,150' text=\"{c #FF0000}Red{/c}\" showhtml='true' font='1'/>"
         "<Control name='logo' float='true' pos='200,20,220,40' bkimage='skin\\logo_small.png'/>"
         "</Container></Window>"},
        {"skin/btn_primary_small_normal.png", SkinFile("skin/btn_primary_small_normal.png")},
        {"skin/btn_primary_small_normal@2x.png", SkinFile("skin/btn_primary_small_normal@2x.png")},
        {"skin/btn_primary_small_hot.png", SkinFile("skin/btn_primary_small_hot.png")},
        {"skin/logo_small.png", SkinFile("skin/logo_small.png")},
        {"skin/logo_small@2x.png", SkinFile("skin/logo_small@2x.png")},
    });
    ASSERT_TRUE(CPaintManagerUI::SetResourceZip(zip.data(), zip.size()));
    Rendered page(L"page.xml");
    ASSERT_TRUE(page.image);
    EXPECT_EQ(page.image->width, 300);

    // The button image: its middle is the accent, the window around it stays white.
    const TImageInfo* normal = page.pm.GetImageCache().Get(L"skin\\btn_primary_small_normal.png");
    ASSERT_NE(normal, nullptr);
    EXPECT_EQ(page.At(24, 22), normal->PixelAt(4, 2));   // a left corner pixel of the image
    EXPECT_EQ(page.At(70, 24), normal->PixelAt(50, 4));  // the stretched top edge
    EXPECT_EQ(page.At(10, 10), 0xFFFFFFFFu);
    // The button text is white and inside the button.
    RECT btn = page.Pos(L"btn");
    int whiteInside = 0;
    for (int y = btn.top + 8; y < btn.bottom - 8; ++y)
        for (int x = btn.left + 10; x < btn.right - 10; ++x)
            if (Luma(page.At(x, y)) > 200) ++whiteInside;
    EXPECT_GT(whiteInside, 20);

    // Text: dark, opaque pixels in its box; none around it.
    RECT title = page.Pos(L"title");
    int dark = 0;
    for (int y = title.top; y < title.bottom; ++y)
        for (int x = title.left; x < title.right; ++x) {
            DWORD p = page.At(x, y);
            EXPECT_EQ(p >> 24, 255u) << x << "," << y;
            if (Luma(p) < 60) ++dark;
        }
    EXPECT_GT(dark, 30);
    EXPECT_EQ(page.Marks(RECT{20, 60, 280, 78}, 0xFFFFFFFF), 0);
    // A {c} colour: red pixels, no blue ones.
    RECT red = page.Pos(L"red");
    int reds = 0;
    for (int y = red.top; y < red.bottom; ++y)
        for (int x = red.left; x < red.right; ++x) {
            DWORD p = page.At(x, y);
            if (((p >> 16) & 0xFF) > 200 && ((p >> 8) & 0xFF) < 60 && (p & 0xFF) < 60) ++reds;
        }
    EXPECT_GT(reds, 10);

    // The logo with its alpha, blended over white.
    const TImageInfo* logo = page.pm.GetImageCache().Get(L"skin\\logo_small.png");
    ASSERT_NE(logo, nullptr);
    DWORD centre = logo->PixelAt(10, 10);
    ASSERT_EQ(centre >> 24, 255u);
    EXPECT_EQ(page.At(210, 30), centre);
    DWORD corner = page.At(200, 20);  // transparent corner of the rounded mark: close to white
    EXPECT_GT(Luma(corner), 200);

    // Hover: the hot image is drawn after the mouse enters.
    page.pm.GetImageCache();
    LRESULT r = 0;
    page.pm.MessageHandler(WM_MOUSEMOVE, 0, MAKELPARAM(70, 36), r);
    page.Render();
    const TImageInfo* hot = page.pm.GetImageCache().Get(L"skin\\btn_primary_small_hot.png");
    ASSERT_NE(hot, nullptr);
    EXPECT_EQ(page.At(70, 24), hot->PixelAt(50, 4));
    EXPECT_NE(hot->PixelAt(50, 4), normal->PixelAt(50, 4));

    // At 200 % the @2x image is drawn pixel for pixel and the text grows with the page.
    Rendered big(L"page.xml", 200);
    EXPECT_EQ(big.image->width, 600);
    const TImageInfo* hiRes = big.pm.GetImage(L"skin\\btn_primary_small_normal.png");
    ASSERT_NE(hiRes, nullptr);
    EXPECT_EQ(hiRes->width, normal->width * 2);
    EXPECT_EQ(big.At(140, 48), hiRes->PixelAt(100, 8));
    RECT bigTitle = big.Pos(L"title");
    EXPECT_EQ(bigTitle.left, 40);
    int bigDark = 0;
    for (int y = bigTitle.top; y < bigTitle.bottom; ++y)
        for (int x = bigTitle.left; x < bigTitle.right; ++x)
            if (Luma(big.At(x, y)) < 60) ++bigDark;
    EXPECT_GT(bigDark, dark * 3);
    CPaintManagerUI::SetResourceZip(nullptr, 0);
}

TEST(Render, TheSkinPagesDrawTheirImagesAndNames) {
    // The real skin folder, zipped as the build does.
    std::map<std::string, std::string> entries;
    for (const char* f : {"InstallMainWnd.xml", "InstallSetting.xml", "InstallCustom.xml", "InstallFinished.xml", "InstallRunning.xml",
                          "MessageBox.xml", "MessageBox_down.xml", "configure/configure.xml", "skin/transWnd.xml"})
        entries[f] = SkinFile(f);
    for (const char* f : {"backgroud", "backgroud_complete", "logo", "btn_primary_normal", "btn_close_normal", "btn_min_normal", "checkbox_unchecked",
                          "checkbox_checked", "chevron_down", "message_bg", "message_help", "message_exclamation", "btn_primary_small_normal",
                          "btn_secondary_normal", "logo_small", "waiting", "logo_running", "gif/bg00", "anima/1", "dot_normal", "dot_selected",
                          "progress_track", "progress_fill", "success_check", "fail_illustration"}) {
        entries[std::string("skin/") + f + ".png"] = SkinFile(std::string("skin/") + f + ".png");
        entries[std::string("skin/") + f + "@2x.png"] = SkinFile(std::string("skin/") + f + "@2x.png");
    }
    std::string zip = test_support::ZipOf(entries);
    ASSERT_TRUE(CPaintManagerUI::SetResourceZip(zip.data(), zip.size()));

    Rendered main(L"InstallMainWnd.xml", 100, SIZE{650, 360});
    EXPECT_EQ(main.pm.GetWindowInfo().size.cx, 650);
    EXPECT_EQ(main.pm.GetWindowInfo().size.cy, 560);
    EXPECT_EQ(main.pm.GetWindowInfo().caption.bottom, 310);
    // Every control the window logic binds by name is in the tree.
    for (const wchar_t* name :
         {L"closebtn", L"minbtn", L"main_tablayout", L"install_file_path_edit", L"install_progress", L"install_label", L"space_free", L"space_need",
          L"install_setting", L"license_link", L"license_link_new", L"license_checkbox", L"agree_improvement_checkbox", L"set_layout",
          L"page_layout", L"install_btn", L"license_text", L"license_text_layout", L"license_area", L"language_combox", L"text_fail_retry",
          L"text_fail_advice", L"img_warning", L"start_app", L"text_startshortcut", L"select_language_text", L"install_path_text", L"browser_btn",
          L"image_play", L"backgroudlayout", L"image_play_option1", L"image_play_option5", L"anima_text_1", L"anima_text_10", L"text_product_name",
          L"install_minbtn", L"Downloader_id"})
        EXPECT_NE(main.pm.FindControl(name), nullptr) << TextCodec::WideToUtf8(name);
    EXPECT_EQ(main.pm.FindControl(L"image_play_option6"), nullptr);
    EXPECT_EQ(main.Pos(L"backgroudlayout").bottom, 360);
    RECT play = main.Pos(L"image_play");
    EXPECT_EQ(play.right - play.left, 0);  // the running page is not shown
    // The background image fills the upper panel; the install button's middle is the accent.
    const TImageInfo* back = main.pm.GetImageCache().Get(L"skin\\backgroud.png");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(main.At(100, 200), back->PixelAt(100, 200));
    RECT install = main.Pos(L"install_btn");
    EXPECT_EQ(install.right - install.left, 240);
    DWORD accent = main.At(install.left + 8, install.top + 6);
    EXPECT_EQ(accent & 0xFFFFFF, 0x8372FFu);

    // The running page: the carousel is 648 x 300 and shows frame 1; the progress fills.
    static_cast<CTabLayoutUI*>(main.pm.FindControl(L"main_tablayout")->GetInterface(L"TabLayout"))->SelectItem(1);
    main.pm.UpdateLayout();
    play = main.Pos(L"image_play");
    EXPECT_EQ(play.right - play.left, 648);
    EXPECT_EQ(play.bottom - play.top, 300);
    main.Render();
    const TImageInfo* frame = main.pm.GetImageCache().Get(L"skin\\anima\\1.png");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(main.At(play.left + 324, play.top + 150), frame->PixelAt(324, 150));

    // The message box: 500 x 190, the icon 40 x 40, both buttons at the bottom right.
    Rendered box(L"MessageBox.xml");
    EXPECT_EQ(box.image->width, 500);
    EXPECT_EQ(box.image->height, 190);
    RECT icon = box.Pos(L"iconimage");
    EXPECT_EQ(icon.right - icon.left, 40);
    EXPECT_EQ(icon.bottom - icon.top, 40);
    RECT yes = box.Pos(L"btn_yes"), no = box.Pos(L"btn_no");
    EXPECT_LT(yes.right, no.left);
    EXPECT_GT(no.right, 460);
    EXPECT_FALSE(box.pm.FindControl(L"msg_question")->IsVisible());
    // With the second button hidden the first one moves to the right edge.
    box.pm.FindControl(L"btn_no")->SetVisible(false);
    box.pm.UpdateLayout();
    EXPECT_EQ(box.Pos(L"btn_yes").right, no.right);

    // The launch hint window is transparent around its card.
    Rendered hint(L"skin\\transWnd.xml");
    EXPECT_TRUE(hint.pm.GetWindowInfo().layered);
    EXPECT_EQ(hint.image->width, 320);
    EXPECT_EQ(hint.At(1, 1) >> 24, 0u);
    EXPECT_EQ(hint.At(160, 260) >> 24, 255u);
    EXPECT_NE(hint.pm.FindControl(L"foreImage"), nullptr);
    EXPECT_NE(hint.pm.FindControl(L"version"), nullptr);
    CPaintManagerUI::SetResourceZip(nullptr, 0);
}

// Marks on a lam-alef at the end of a run of Arabic letters move before the alef; anything else
// is handed to Uniscribe as it is, and the order maps every unit back.
TEST(Render, ShapingTextMovesMarksOffALamAlefThatEndsAnArabicRun) {
    struct Case {
        const wchar_t* text;
        const wchar_t* shaped;
    };
    const Case cases[] = {
        {L"\x0623\x0648\x0644\x0627\x064B!", L"\x0623\x0648\x0644\x064B\x0627!"},         // "!" ends the run
        {L"\x0645\x062B\x0644\x0627\x064B", L"\x0645\x062B\x0644\x064B\x0627"},           // the text ends
        {L"\x0644\x0623\x064E\x0651 x", L"\x0644\x064E\x0651\x0623 x"},                     // two marks, hamza alef
        {L"\x0644\x0627\x064B\x0628", L"\x0644\x0627\x064B\x0628"},                         // a letter follows: kept
        {L"\x0644\x0627!", L"\x0644\x0627!"},                                                  // no mark
        {L"\x0628\x0627\x064B!", L"\x0628\x0627\x064B!"},                                    // no lam
        {L"Orbala Lumeno", L"Orbala Lumeno"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        std::vector<int> order;
        std::wstring shaped = ShapingText(c.text, &order);
        EXPECT_EQ(shaped, c.shaped) << TextCodec::WideToUtf8(c.text);
        ASSERT_EQ(order.size(), shaped.size());
        for (size_t i = 0; i < shaped.size(); ++i) EXPECT_EQ(shaped[i], c.text[order[i]]) << i;
    }
}

// Arabic texts whose lam-alef carries a mark at the end of a run are measured and drawn (they
// brought the window down once), with the marks' width counted.
TEST(Render, ArabicMarksOnALamAlefAtTheEndOfARunDraw) {
    std::string zip = test_support::ZipOf({
        {"page.xml",
         "<Window size='400,60' bkcolor='#FFFFFFFF'><Font id='1' name='Segoe UI' size='13' default='true'/>"
         "<Container><Label name='text' float='true' pos='10,10,390,50' textcolor='#FF000000' font='1'/></Container></Window>"},
    });
    ASSERT_TRUE(CPaintManagerUI::SetResourceZip(zip.data(), zip.size()));
    const wchar_t* texts[] = {
        L"Orbala Lumeno \x0642\x064A\x062F \x0627\x0644\x062A\x0634\x063A\x064A\x0644. \x064A\x0631\x062C\x0649 "
        L"\x0625\x063A\x0644\x0627\x0642\x0647 \x0623\x0648\x0644\x0627\x064B!",
        L"\x0645\x062B\x0644\x0627\x064B",
        L"\x0641\x0639\x0644\x0627\x064B. \x0643\x0627\x0645\x0644\x0627\x064B",
    };
    for (const wchar_t* text : texts) {
        Rendered page(L"page.xml");
        page.pm.SetRTL(true);
        page.pm.SetFontFaceOverride(L"Segoe UI");
        auto* label = dynamic_cast<CLabelUI*>(page.pm.FindControl(L"text"));
        ASSERT_NE(label, nullptr);
        label->SetText(text);
        page.Render();
        ASSERT_TRUE(page.image);
        EXPECT_GT(page.Marks(page.Pos(L"text"), 0xFFFFFFFF), 20) << TextCodec::WideToUtf8(text);
        TTextLayout layout = CRenderEngine::LayoutText(page.pm.GetPaintDC(), &page.pm, ParseRichText(text, false), 1, 0x3FFFFFFF,
                                                       DT_SINGLELINE | DT_RTLREADING);
        EXPECT_GT(layout.size.cx, 10) << TextCodec::WideToUtf8(text);
    }
}

// Long texts are measured in pieces cut after a blank or between CJK units, never inside a
// surrogate pair or before a combining mark; short ones whole.
TEST(Render, LongTextsAreMeasuredInPiecesCutWhereShapesDoNotChange) {
    struct Case {
        std::wstring text;
        size_t longest;
        std::vector<std::pair<size_t, size_t>> chunks;
    };
    const Case cases[] = {
        {L"short", 8, {{0, 5}}},
        {L"", 8, {{0, 0}}},
        {L"aaaa bbbb cccc", 8, {{0, 8}, {8, 6}}},                                          // Latin letters do not join
        {L"\x0628\x0628\x0628 \x0628\x0628\x0628\x0628", 5, {{0, 4}, {4, 4}}},                   // Arabic: after the blank
        {L"\x65E5\x672C\x8A9E\x65E5\x672C\x8A9E\x65E5\x672C\x8A9E", 4, {{0, 4}, {4, 4}, {8, 1}}},
        {L"abcdefghij", 4, {{0, 4}, {4, 4}, {8, 2}}},                                  // no place: a hard cut
        {std::wstring(L"abc\xD83D\xDE00") + L"defgh", 4, {{0, 3}, {3, 4}, {7, 3}}},           // not inside the pair
        {L"\x0628\x0628\x0628\x0628\x064E\x0628", 4, {{0, 3}, {3, 3}}},                     // never before a mark
    };
    for (const Case& c : cases) {
        std::vector<std::pair<size_t, size_t>> chunks = MeasureChunks(c.text, c.longest);
        EXPECT_EQ(chunks, c.chunks) << TextCodec::WideToUtf8(c.text);
        size_t covered = 0;
        for (const auto& chunk : chunks) {
            EXPECT_EQ(chunk.first, covered);
            EXPECT_LE(chunk.second, c.longest);
            covered += chunk.second;
        }
        EXPECT_EQ(covered, c.text.size());
    }
}
