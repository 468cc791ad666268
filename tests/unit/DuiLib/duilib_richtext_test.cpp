// Rich-text markup: parsing into runs and links, and the layout of runs into lines, with a
// measurer of fixed widths (no fonts, no window) and with the real Uniscribe measurer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "DuiLib/Core/UIRichText.h"

using namespace DuiLib;

namespace {

// Every unit is 10 pixels wide (font 2: 20), lines are 16 high with ascent 12 (font 2: 24, 18);
// a line may start after a blank.
class FixedMeasurer : public ITextMeasurer {
public:
    void MeasureChars(const std::wstring& text, const TTextStyle& style, std::vector<int>& widths) override {
        widths.assign(text.size(), style.font == 2 ? 20 : 10);
    }
    TFontMetrics Metrics(const TTextStyle& style) override {
        TFontMetrics m;
        m.height = style.font == 2 ? 24 : 16;
        m.ascent = style.font == 2 ? 18 : 12;
        return m;
    }
    void Breaks(const std::wstring& text, std::vector<char>& canBreak, std::vector<char>& space) override {
        canBreak.assign(text.size(), 0);
        space.assign(text.size(), 0);
        for (size_t i = 0; i < text.size(); ++i) {
            space[i] = text[i] == L' ';
            canBreak[i] = i > 0 && text[i - 1] == L' ' && text[i] != L' ';
        }
    }
};

std::wstring PieceText(const TTextLayout& layout, const TTextPiece& p) { return layout.runs[p.run].text.substr(p.start, p.length); }

std::wstring LineText(const TTextLayout& layout, size_t line) {
    std::wstring out;
    for (const TTextPiece& p : layout.lines[line].pieces) out += PieceText(layout, p);
    return out;
}

}  // namespace

TEST(RichText, RunsCarryFontColourLinkAndDecoration) {
    // The licence row of the language files.
    TRichText rich = ParseRichText(
        L"{f 1}{c #000001}I've read and agreed{/c}{/f} {f 1}{a}{u}{c #8372FF}Privacy Policy{/c}{/u}{/a}{/f}"
        L"{f 1}{c #000001} and {/c}{/f}{f 1}{a}{u}{c #8372FF}User License Agreement{/c}{/u}{/a}{/f}.");
    ASSERT_EQ(rich.runs.size(), 6u);
    EXPECT_EQ(rich.linkCount, 2);
    struct Expect {
        const wchar_t* text;
        int font;
        bool hasColor;
        DWORD color;
        int link;
        bool underline;
    } expect[] = {
        {L"I've read and agreed", 1, true, 0xFF000001, -1, false},
        {L" ", -1, false, 0, -1, false},
        {L"Privacy Policy", 1, true, 0xFF8372FF, 0, true},
        {L" and ", 1, true, 0xFF000001, -1, false},
        {L"User License Agreement", 1, true, 0xFF8372FF, 1, true},
        {L".", -1, false, 0, -1, false},
    };
    for (size_t i = 0; i < rich.runs.size(); ++i) {
        const TTextRun& r = rich.runs[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(r.text, expect[i].text);
        EXPECT_EQ(r.style.font, expect[i].font);
        EXPECT_EQ(r.style.hasColor, expect[i].hasColor);
        if (expect[i].hasColor) {
            EXPECT_EQ(r.style.color, expect[i].color);
        }
        EXPECT_EQ(r.style.link, expect[i].link);
        EXPECT_EQ(r.style.underline, expect[i].underline);
    }
}

TEST(RichText, TableOfMarkup) {
    struct Case {
        const wchar_t* markup;
        const wchar_t* plain;
        size_t runs;
        int links;
    } cases[] = {
        {L"plain text", L"plain text", 1, 0},
        {L"", L"", 0, 0},
        // Closing tags without their opening ones (the message texts end in {/c}{/f}).
        {L"{f 1}You have already installed it.{/c}{/f}", L"You have already installed it.", 1, 0},
        {L"a{n}b", L"a\nb", 3, 0},
        {L"a{p}b", L"a\nb", 3, 0},
        {L"{b}bold{/b} {i}it{/i} {s}x{/s}", L"bold it x", 5, 0},
        {L"{a http://x}one{/a} {a}two{/a}", L"one two", 3, 2},
        // Braces that open nothing known stay text; {r} keeps braces literally.
        {L"100{%} {unknown} {", L"100{%} {unknown} {", 1, 0},
        {L"{r}{f 1}{/r}", L"{f 1}", 1, 0},
        {L"{c nothex}x", L"{c nothex}x", 1, 0},
        {L"%0.f%%", L"%0.f%%", 1, 0},
        {L"{x 12}indented", L"indented", 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.markup, c.markup + wcslen(c.markup)));
        TRichText rich = ParseRichText(c.markup);
        EXPECT_EQ(PlainText(rich), c.plain);
        EXPECT_EQ(rich.runs.size(), c.runs);
        EXPECT_EQ(rich.linkCount, c.links);
    }
    EXPECT_EQ(ParseRichText(L"{a http://x}one{/a}").linkTargets.at(0), L"http://x");
    // Without markup the text is taken as it is.
    TRichText raw = ParseRichText(L"{f 1}x{/f}", false);
    ASSERT_EQ(raw.runs.size(), 1u);
    EXPECT_EQ(raw.runs[0].text, L"{f 1}x{/f}");
    // Colours: #RGB, #RRGGBB, #AARRGGBB.
    EXPECT_EQ(ParseRichText(L"{c #f00}x").runs[0].style.color, 0xFFFF0000u);
    EXPECT_EQ(ParseRichText(L"{c #80112233}x").runs[0].style.color, 0x80112233u);
}

TEST(RichTextLayout, WrapsAtBlanksWithinTheWidth) {
    FixedMeasurer m;
    TTextLayoutOptions opt;
    opt.wrap = true;
    opt.maxWidth = 100;  // ten units
    TTextLayout layout = LayoutRichText(ParseRichText(L"aaaa bbbb cccc dddddddddddddd"), m, opt);
    ASSERT_EQ(layout.lines.size(), 4u);
    EXPECT_EQ(LineText(layout, 0), L"aaaa bbbb");
    EXPECT_EQ(LineText(layout, 1), L"cccc");
    // A word longer than the line is cut where the width ends.
    EXPECT_EQ(LineText(layout, 2), L"dddddddddd");
    EXPECT_EQ(LineText(layout, 3), L"dddd");
    for (const TTextLine& line : layout.lines) {
        EXPECT_LE(line.width, 100);
        EXPECT_EQ(line.height, 16);
    }
    EXPECT_EQ(layout.lines[1].top, 16);
    EXPECT_EQ(layout.size.cy, 64);
    EXPECT_EQ(layout.size.cx, 100);
}

// A line feed in a text starts a new line, in plain text and in markup; a carriage return before
// it is dropped.
TEST(RichTextLayout, LineFeedsStartNewLines) {
    FixedMeasurer m;
    TTextLayoutOptions opt;
    opt.wrap = true;
    opt.maxWidth = 1000;
    for (bool html : {false, true}) {
        TTextLayout layout = LayoutRichText(ParseRichText(L"Licence\r\n\n1. Use\nEnd", html), m, opt);
        ASSERT_EQ(layout.lines.size(), 4u) << html;
        EXPECT_EQ(LineText(layout, 0), L"Licence") << html;
        EXPECT_EQ(LineText(layout, 1), L"") << html;
        EXPECT_EQ(LineText(layout, 2), L"1. Use") << html;
        EXPECT_EQ(LineText(layout, 3), L"End") << html;
        EXPECT_EQ(layout.size.cx, 70) << html;
        EXPECT_EQ(layout.size.cy, 64) << html;
    }
}

TEST(RichTextLayout, MixedFontsShareABaseline) {
    FixedMeasurer m;
    TTextLayoutOptions opt;
    TTextLayout layout = LayoutRichText(ParseRichText(L"ab{f 2}CD{/f}e"), m, opt);
    ASSERT_EQ(layout.lines.size(), 1u);
    const TTextLine& line = layout.lines[0];
    ASSERT_EQ(line.pieces.size(), 3u);
    EXPECT_EQ(line.height, 24);
    EXPECT_EQ(line.width, 20 + 40 + 10);
    for (const TTextPiece& p : line.pieces) EXPECT_EQ(p.baseline, 18);
    EXPECT_EQ(line.pieces[0].rc.top, 18 - 12);
    EXPECT_EQ(line.pieces[1].rc.top, 0);
    EXPECT_EQ(line.pieces[1].rc.left, 20);
    EXPECT_EQ(line.pieces[2].rc.left, 60);
}

TEST(RichTextLayout, AlignmentRightToLeftAndEllipsis) {
    FixedMeasurer m;
    TTextLayoutOptions opt;
    opt.maxWidth = 200;
    opt.align = kAlignCenter;
    TTextLayout centred = LayoutRichText(ParseRichText(L"abcd"), m, opt);
    EXPECT_EQ(centred.lines[0].pieces[0].rc.left, 80);
    opt.align = kAlignRight;
    TTextLayout right = LayoutRichText(ParseRichText(L"abcd"), m, opt);
    EXPECT_EQ(right.lines[0].pieces[0].rc.right, 200);

    // Right to left: the first run is placed rightmost.
    opt.align = kAlignLeft;
    opt.rtl = true;
    TTextLayout rtl = LayoutRichText(ParseRichText(L"{b}ab{/b}cd"), m, opt);
    ASSERT_EQ(rtl.lines[0].pieces.size(), 2u);
    EXPECT_GT(rtl.lines[0].pieces[0].rc.left, rtl.lines[0].pieces[1].rc.left);

    // One line that does not fit ends with an ellipsis inside the width.
    opt.rtl = false;
    opt.maxWidth = 55;
    opt.endEllipsis = true;
    TTextLayout cut = LayoutRichText(ParseRichText(L"abcdefghij"), m, opt);
    ASSERT_EQ(cut.lines.size(), 1u);
    EXPECT_EQ(LineText(cut, 0), L"abcd\x2026");
    EXPECT_LE(cut.lines[0].width, 55);
}

TEST(RichTextLayout, LinksAreFoundWhereTheyAreDrawn) {
    FixedMeasurer m;
    TTextLayoutOptions opt;
    opt.wrap = true;
    opt.maxWidth = 120;
    // "read " (5) then a link "the agreement now" that wraps onto the second line.
    TTextLayout layout = LayoutRichText(ParseRichText(L"read {a}the agreement{/a} and {a}the policy{/a}"), m, opt);
    std::vector<RECT> first = layout.LinkRects(0);
    ASSERT_FALSE(first.empty());
    POINT inFirst{first[0].left + 1, first[0].top + 1};
    EXPECT_EQ(layout.LinkAt(inFirst), 0);
    std::vector<RECT> second = layout.LinkRects(1);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(layout.LinkAt(POINT{second.back().right - 1, second.back().bottom - 1}), 1);
    EXPECT_EQ(layout.LinkAt(POINT{1, 1}), -1);  // "read"
    EXPECT_EQ(layout.LinkAt(POINT{500, 500}), -1);
}

TEST(TextExtents, UniscribeMeasuresWithTheWindowsFonts) {
    CPaintManagerUI pm;
    TFontInfo small{L"Segoe UI", 12, false, false, false};
    TFontInfo big{L"Segoe UI", 24, true, false, false};
    pm.AddFont(1, small, true);
    pm.AddFont(2, big);
    HDC dc = pm.GetPaintDC();
    RECT a{0, 0, 1000, 100}, b{0, 0, 1000, 100};
    CRenderEngine::DrawText(dc, &pm, a, L"Install Orbala Lumeno", 0xFF000000, 1, DT_CALCRECT | DT_SINGLELINE);
    CRenderEngine::DrawText(dc, &pm, b, L"Install Orbala Lumeno", 0xFF000000, 2, DT_CALCRECT | DT_SINGLELINE);
    EXPECT_GT(a.right, 60);
    EXPECT_GT(b.right, a.right * 3 / 2);
    EXPECT_GT(b.bottom, a.bottom);
    // A scale of 200 % doubles the extents (within rounding of the glyph advances).
    pm.SetScale(200);
    RECT c{0, 0, 2000, 200};
    CRenderEngine::DrawText(dc, &pm, c, L"Install Orbala Lumeno", 0xFF000000, 1, DT_CALCRECT | DT_SINGLELINE);
    EXPECT_NEAR(c.right, a.right * 2, a.right / 8);
    pm.SetScale(100);

    // Wrapping keeps every line inside the width, for Latin and for CJK without blanks.
    for (const wchar_t* text : {L"The program installation failed, you can try to reinstall it again. Or directly download the file.",
                                L"\x7A0B\x5E8F\x5B89\x88C5\x5931\x8D25\xFF0C\x60A8\x53EF\x4EE5\x5C1D\x8BD5\x91CD\x65B0\x5B89\x88C5\x3002"
                                L"\x6216\x8005\x76F4\x63A5\x4E0B\x8F7D\x5B89\x88C5\x5305\x6587\x4EF6\x5E76\x5B89\x88C5\x3002"}) {
        TTextLayout layout = CRenderEngine::LayoutText(dc, &pm, ParseRichText(text, false), 1, 150, DT_WORDBREAK);
        EXPECT_GE(layout.lines.size(), 2u);
        for (const TTextLine& line : layout.lines) EXPECT_LE(line.width, 150);
        size_t units = 0;
        for (const TTextLine& line : layout.lines)
            for (const TTextPiece& p : line.pieces) units += p.length;
        EXPECT_LE(units, wcslen(text));
        EXPECT_GE(units + layout.lines.size(), wcslen(text) - 20);  // only blanks at the breaks are dropped
    }
}
