#pragma once
// The rich-text markup of labels and language files, and the layout of its runs into lines.
//
// Markup: {f n}...{/f} font n of the window, {c #RRGGBB}...{/c} colour, {b} bold, {i} italic,
// {u} underline, {s} strike-through, {a}...{/a} or {a target}...{/a} a link (numbered from 0 in
// text order), {n} a line break, {p} a paragraph break (a line break with a little space), {x n}
// n pixels of horizontal space, {r}...{/r} raw text (braces inside are not markup). A closing tag
// without its opening tag is ignored; a brace that does not open a known tag is text.
//
// Parsing and layout are plain computations over a text measurer, so both are tested without a
// window; the measurer that draws through Uniscribe lives in UIRender.
#include <windows.h>

#include <string>
#include <vector>

namespace DuiLib {

struct TTextStyle {
    int font = -1;           // -1: the control's own font
    DWORD color = 0;         // ARGB, when hasColor
    bool hasColor = false;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int link = -1;           // index of the link the text belongs to, -1 for none
};

struct TTextRun {
    std::wstring text;
    TTextStyle style;
    bool lineBreak = false;  // a {n} or {p}: ends the line; text is empty
    bool paragraph = false;  // {p}: extra space after the line
    int space = 0;           // {x n}: horizontal space in pixels; text is empty
    std::wstring target;     // the target of {a target}
};

struct TRichText {
    std::vector<TTextRun> runs;
    int linkCount = 0;
    std::vector<std::wstring> linkTargets;  // per link index (empty when {a} had none)
};

// Parses markup into runs. With html false the whole text is one plain run.
TRichText ParseRichText(const std::wstring& markup, bool html = true);
// The text without its markup ({n} and {p} become line feeds).
std::wstring PlainText(const TRichText& rich);

// What the layout needs to know about drawing text.
struct TFontMetrics {
    int height = 0;  // line height
    int ascent = 0;
};

class ITextMeasurer {
public:
    virtual ~ITextMeasurer() = default;
    // Advance of each UTF-16 unit of text in the style (same length as text); their sum is the
    // width of the text.
    virtual void MeasureChars(const std::wstring& text, const TTextStyle& style, std::vector<int>& widths) = 0;
    virtual TFontMetrics Metrics(const TTextStyle& style) = 0;
    // For each unit of text: may a line start here (canBreak), is it blank (space).
    virtual void Breaks(const std::wstring& text, std::vector<char>& canBreak, std::vector<char>& space) = 0;
};

// One piece of a line: a part of one run, placed.
struct TTextPiece {
    int run = 0;
    int start = 0;   // in the run's text
    int length = 0;
    RECT rc{};       // relative to the layout's origin
    int baseline = 0;  // y of the baseline, relative to the origin
};

struct TTextLine {
    int top = 0;
    int height = 0;
    int baseline = 0;  // from top
    int width = 0;     // without trailing blanks
    std::vector<TTextPiece> pieces;
};

enum TextAlign { kAlignLeft = 0, kAlignCenter = 1, kAlignRight = 2 };

struct TTextLayoutOptions {
    int maxWidth = 0x3FFFFFFF;  // width of the box
    bool wrap = false;          // break lines at word boundaries to fit maxWidth
    bool endEllipsis = false;   // without wrap: cut what does not fit and end with "..."
    int align = kAlignLeft;
    bool rtl = false;           // right-to-left paragraphs: runs are placed from the right
    int lineSpacing = 0;        // extra pixels between lines
    int paragraphSpacing = 0;   // extra pixels after {p}
};

struct TTextLayout {
    std::vector<TTextLine> lines;
    std::vector<TTextRun> runs;  // the runs the pieces refer to (an ellipsis may add one)
    SIZE size{0, 0};             // of all lines (width: the widest line)
    bool rtl = false;
    // Index of the link under the point (relative to the origin), -1 when none.
    int LinkAt(POINT pt) const;
    // Rectangles of one link's pieces.
    std::vector<RECT> LinkRects(int link) const;
};

TTextLayout LayoutRichText(const TRichText& rich, ITextMeasurer& measurer, const TTextLayoutOptions& options);

}  // namespace DuiLib
