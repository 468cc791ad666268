// Right-to-left text shaped by the toolkit itself: the screen order of items by embedding level,
// the advance of every unit from its glyph cluster, joined Arabic letters, and every Arabic text of
// the skin measured and drawn many times over in one process with the heap left whole (analysing
// whole Arabic strings corrupted the heap of one Uniscribe implementation and ended the process).
#include <gtest/gtest.h>

#include <minizip/zip.h>

#include <map>
#include <string>
#include <vector>

#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "support/test_support.h"

using namespace DuiLib;

namespace {

std::wstring SkinText(const std::string& relative) {
    return TextCodec::Utf8ToWide(test_support::ReadFile(TextCodec::Utf8ToWide(std::string(ORBALA_SOURCE_DIR) + "/skin/" + relative)));
}

// The text attributes of a skin file with at least one Arabic letter, entities resolved.
std::vector<std::wstring> ArabicTexts(const std::wstring& xml) {
    std::vector<std::wstring> texts;
    const std::wstring open = L"text=\"";
    for (size_t at = xml.find(open); at != std::wstring::npos; at = xml.find(open, at)) {
        at += open.size();
        size_t end = xml.find(L'"', at);
        if (end == std::wstring::npos) break;
        std::wstring raw = xml.substr(at, end - at), text;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'&') { text.push_back(raw[i]); continue; }
            size_t semi = raw.find(L';', i);
            std::wstring entity = semi == std::wstring::npos ? L"" : raw.substr(i, semi - i + 1);
            wchar_t c = entity == L"&quot;" ? L'"' : entity == L"&amp;" ? L'&' : entity == L"&lt;" ? L'<' : entity == L"&gt;" ? L'>'
                        : entity == L"&apos;" ? L'\'' : 0;
            if (c) { text.push_back(c); i = semi; } else text.push_back(raw[i]);
        }
        bool arabic = false;
        for (wchar_t c : text) arabic = arabic || (c >= 0x0600 && c <= 0x06FF);
        if (arabic) texts.push_back(text);
        at = end;
    }
    return texts;
}

class ShapingPage {
public:
    ShapingPage() {
        zip_ = test_support::ZipOf({
            {"page.xml",
             "<Window size='420,300' bkcolor='#FFFFFFFF'>"
             "<Font id='1' name='Segoe UI' size='12' default='true'/><Font id='2' name='Segoe UI' size='13' bold='true'/>"
             "<Font id='3' name='Noto Naskh Arabic' size='12'/><Font id='4' name='Noto Naskh Arabic' size='19' bold='true'/>"
             "<Font id='5' name='Noto Sans Arabic' size='13'/><Font id='6' name='Noto Sans Arabic' size='15' bold='true'/>"
             "<Font id='7' name='Leelawadee UI' size='12'/>"
             "<Container><Label name='text' float='true' pos='10,10,410,290' textcolor='#FF000000' font='1' "
             "showhtml='true' multiline='true'/></Container></Window>"},
        });
        ok_ = CPaintManagerUI::SetResourceZip(zip_.data(), zip_.size());
        CDialogBuilder builder;
        pm.AttachRoot(builder.Create(L"page.xml", &pm));
        pm.SetClientSize(SIZE{420, 300});
        pm.SetRTL(true);
    }
    ~ShapingPage() { CPaintManagerUI::SetResourceZip(nullptr, 0); }
    bool Ok() const { return ok_; }
    CPaintManagerUI pm;

private:
    std::string zip_;
    bool ok_ = false;
};

}  // namespace

TEST(Shaping, ItemsAreOrderedOnScreenByTheirLevels) {
    struct Case {
        std::vector<int> levels;
        std::vector<int> visual;
    };
    const Case cases[] = {
        {{}, {}},
        {{0, 0, 0}, {0, 1, 2}},                 // left to right throughout
        {{1}, {0}},
        {{1, 1, 1}, {2, 1, 0}},                 // right to left throughout
        {{1, 2, 1}, {2, 1, 0}},                 // a Latin name inside Arabic keeps its place
        {{1, 2, 2, 1}, {3, 1, 2, 0}},           // two left-to-right items stay in their order
        {{0, 1, 1, 0}, {0, 2, 1, 3}},           // Arabic words inside a left-to-right line
        {{0, 1, 2, 1, 0}, {0, 3, 2, 1, 4}},     // a number inside Arabic inside Latin
    };
    for (const Case& c : cases) EXPECT_EQ(VisualOrder(c.levels), c.visual) << ::testing::PrintToString(c.levels);
}

TEST(Shaping, EveryUnitGetsTheAdvanceOfItsCluster) {
    struct Case {
        const char* what;
        std::vector<WORD> clusters;
        std::vector<int> advances;
        bool rightToLeft;
        std::vector<int> widths;
    };
    const Case cases[] = {
        {"one glyph a unit", {0, 1, 2}, {5, 6, 7}, false, {5, 6, 7}},
        {"a ligature of two units", {0, 0, 1}, {9, 4}, false, {5, 4, 4}},
        {"a unit of two glyphs", {0, 2}, {3, 4, 5}, false, {7, 5}},
        // Right to left, glyphs in screen order: the first unit's glyph is the last in the array.
        {"right to left, one glyph a unit", {2, 1, 0}, {7, 6, 5}, true, {5, 6, 7}},
        {"right to left, lam-alef ligature first", {1, 1, 0}, {3, 8}, true, {4, 4, 3}},
        {"right to left, a letter and its mark as one cluster", {2, 2, 0}, {5, 0, 6}, true, {3, 3, 5}},
        {"empty", {}, {}, false, {}},
    };
    for (const Case& c : cases) {
        std::vector<int> widths = ClusterWidths(c.clusters.data(), static_cast<int>(c.clusters.size()), c.advances.data(),
                                                static_cast<int>(c.advances.size()), c.rightToLeft);
        EXPECT_EQ(widths, c.widths) << c.what;
        int sum = 0, total = 0;
        for (int w : widths) sum += w;
        for (int a : c.advances) total += a;
        EXPECT_EQ(sum, total) << c.what;
    }
}

TEST(Shaping, OwnShapingTakesRightToLeftDevanagariAndThaiTexts) {
    EXPECT_TRUE(NeedsOwnShaping(L"\x0642\x064A\x062F", false));
    EXPECT_TRUE(NeedsOwnShaping(L" \x05E9\x05DC\x05D5\x05DD", false));  // Hebrew
    EXPECT_TRUE(NeedsOwnShaping(L"\xFEFB", false));                      // a presentation form
    EXPECT_TRUE(NeedsOwnShaping(L"Orbala", true));                       // a right-to-left paragraph
    EXPECT_TRUE(NeedsOwnShaping(L"\x0915\x0943\x092A\x092F\x093E, \x0930\x0941\x0915\x0947\x0902", false));  // Devanagari
    EXPECT_TRUE(NeedsOwnShaping(L"\x0E02\x0E49\x0E2D\x0E15\x0E01\x0E25\x0E07 Orbala", false));  // Thai with a Latin name
    EXPECT_FALSE(NeedsOwnShaping(L"Orbala Lumeno \x65E5\x672C \xAD6D\xC5B4 \x0444", false));
    // Only Hebrew and Arabic-family letters make a text read from the right.
    EXPECT_TRUE(HasRightToLeftLetters(L"Orbala \x0642\x064A\x062F"));
    EXPECT_FALSE(HasRightToLeftLetters(L"\x0915\x0943\x092A\x092F\x093E \x0E44\x0E17\x0E22 Orbala"));
    EXPECT_FALSE(NeedsOwnShaping(L"", false));
}

// Joined letters are narrower than the same letters apart, and a word is as wide measured as its
// units' advances together; drawn, it leaves ink inside its box only.
TEST(Shaping, ArabicLettersJoinAndDrawWhereMeasured) {
    ShapingPage page;
    ASSERT_TRUE(page.Ok());
    HDC dc = page.pm.GetPaintDC();
    CUniscribeMeasurer measurer(dc, &page.pm, 3, true);
    TTextStyle style;
    const std::wstring letter = L"\x0628";  // beh
    std::vector<int> one, four;
    measurer.MeasureChars(letter, style, one);
    measurer.MeasureChars(letter + letter + letter + letter, style, four);
    ASSERT_EQ(one.size(), 1u);
    ASSERT_EQ(four.size(), 4u);
    int joined = four[0] + four[1] + four[2] + four[3];
    EXPECT_GT(one[0], 0);
    EXPECT_GT(joined, 0);
    EXPECT_LT(joined, 4 * one[0]) << "the letters were not joined";

    const std::wstring word = L"\x0627\x0644\x062A\x062B\x0628\x064A\x062A";
    TShapedText shaped;
    ASSERT_TRUE(measurer.Shape(word, style, shaped));
    std::vector<int> widths;
    measurer.MeasureChars(word, style, widths);
    int sum = 0;
    for (int w : widths) sum += w;
    EXPECT_EQ(sum, shaped.width);
    ASSERT_FALSE(shaped.items.empty());
    EXPECT_FALSE(shaped.items[0].plain);
    EXPECT_EQ(shaped.items[0].level % 2, 1);

    auto* label = dynamic_cast<CLabelUI*>(page.pm.FindControl(L"text"));
    ASSERT_NE(label, nullptr);
    label->SetFont(4);
    label->SetText(word);
    std::unique_ptr<TImageInfo> image = page.pm.Render();
    ASSERT_TRUE(image);
    RECT box = label->GetPos();
    int inside = 0, outside = 0;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            bool ink = (image->PixelAt(x, y) & 0xFF) < 128;
            bool in = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
            (in ? inside : outside) += ink ? 1 : 0;
        }
    EXPECT_GT(inside, 30);
    EXPECT_EQ(outside, 0);
    // Right-to-left reading order: the text is set against the right of its box.
    int rightmost = 0, leftmost = image->width;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x)
            if ((image->PixelAt(x, y) & 0xFF) < 128) {
                rightmost = std::max(rightmost, x);
                leftmost = std::min(leftmost, x);
            }
    EXPECT_GT(rightmost, box.right - 20);
    EXPECT_GT(leftmost, box.left + (box.right - box.left) / 2);
}

// A Thai text that ends in a Latin name, in the Thai window's face: drawn, its ink stays within
// the width it was measured at (the name's last letter was cut off at the measured width when the
// whole string was analysed with font fallback), and the name is drawn, not boxes: its ink has
// gaps between the letters.
TEST(Shaping, ThaiWithALatinNameDrawsWithinItsMeasuredWidth) {
    ShapingPage page;
    ASSERT_TRUE(page.Ok());
    HDC dc = page.pm.GetPaintDC();
    const std::wstring text = L"\x0E02\x0E49\x0E2D\x0E15\x0E01\x0E25\x0E07\x0E2A\x0E34\x0E17\x0E18\x0E34\x0E4C "
                              L"\x0E01\x0E32\x0E23\x0E43\x0E0A\x0E49\x0E07\x0E32\x0E19\x0E02\x0E2D\x0E07 Orbala";
    TTextLayout line = CRenderEngine::LayoutText(dc, &page.pm, ParseRichText(text, true), 7, 0x3FFFFFFF, DT_SINGLELINE);
    ASSERT_GT(line.size.cx, 0);
    auto* label = dynamic_cast<CLabelUI*>(page.pm.FindControl(L"text"));
    ASSERT_NE(label, nullptr);
    label->SetFont(7);
    label->SetText(text);
    std::unique_ptr<TImageInfo> image = page.pm.Render();
    ASSERT_TRUE(image);
    RECT box = label->GetPos();
    int leftmost = box.right, rightmost = box.left;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x)
            if ((image->PixelAt(x, y) & 0xFF) < 128) {
                leftmost = std::min(leftmost, x);
                rightmost = std::max(rightmost, x);
            }
    ASSERT_GE(rightmost, leftmost) << "nothing drawn";
    const int inked = rightmost - leftmost + 1;
    EXPECT_LE(inked, line.size.cx) << "ink wider than the measured width";
    EXPECT_GT(inked, line.size.cx - 8) << "the text ends well before its measured width";
}

// Every Arabic text of the skin (window texts, message boxes, the licence) in several faces and
// sizes, measured single-line and wrapped and drawn, round after round in one process: the heap
// stays whole and every text has a width.
TEST(Shaping, ManyArabicLayoutsInOneProcessLeaveTheHeapWhole) {
    std::vector<std::wstring> texts = ArabicTexts(SkinText("language/language_arabic.xml"));
    std::vector<std::wstring> licence = ArabicTexts(SkinText("License.xml"));
    texts.insert(texts.end(), licence.begin(), licence.end());
    ASSERT_GT(texts.size(), 30u);
    ShapingPage page;
    ASSERT_TRUE(page.Ok());
    HDC dc = page.pm.GetPaintDC();
    auto* label = dynamic_cast<CLabelUI*>(page.pm.FindControl(L"text"));
    ASSERT_NE(label, nullptr);
    for (int round = 0; round < 3; ++round)
        for (int font = 1; font <= 6; ++font)
            for (const std::wstring& text : texts) {
                TRichText rich = ParseRichText(text, true);
                TTextLayout line = CRenderEngine::LayoutText(dc, &page.pm, rich, font, 0x3FFFFFFF, DT_SINGLELINE | DT_RTLREADING);
                EXPECT_GT(line.size.cx, 0) << TextCodec::WideToUtf8(text.substr(0, 40));
                TTextLayout wrapped = CRenderEngine::LayoutText(dc, &page.pm, rich, font, 300, DT_WORDBREAK | DT_RTLREADING);
                EXPECT_LE(wrapped.size.cx, std::max<LONG>(300, line.size.cx));
                if (round == 0) {
                    label->SetFont(font);
                    label->SetText(text);
                    EXPECT_TRUE(page.pm.Render());
                }
            }
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}
