#pragma once
// Drawing: images (with alpha, a source part, nine-slice corners, fade), colours, borders and
// text. Text is shaped and drawn through Uniscribe with font fallback, so every script (Arabic
// right to left, Devanagari and Thai shaped, CJK) draws from the window's fonts.
#include <windows.h>
#include <usp10.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "DuiLib/Core/UIImage.h"
#include "DuiLib/Core/UIRichText.h"

namespace DuiLib {

class CPaintManagerUI;

// An image description: "name" or "file='name' source='l,t,r,b' corner='l,t,r,b'
// dest='l,t,r,b' fade='0..255' hole='true' align='center' valign='center'". source, corner
// and dest are logical pixels of the image at 100 % / of the control.
struct TDrawInfo {
    std::wstring file;
    RECT source{0, 0, 0, 0};
    bool hasSource = false;
    RECT corner{0, 0, 0, 0};
    RECT dest{0, 0, 0, 0};
    bool hasDest = false;
    BYTE fade = 255;
    bool hole = false;
    int align = -1;   // -1 stretch to the box; 0 left, 1 centre, 2 right (natural size)
    int valign = -1;  // -1 stretch; 0 top, 1 centre, 2 bottom

    static TDrawInfo Parse(const std::wstring& description);
};

class CRenderEngine {
public:
    // Draws image (at the scale it was prepared for: scale percent of the logical values) into rc.
    static void DrawImage(HDC hdc, const TImageInfo& image, const RECT& dest, const RECT& rcPaint, const RECT& source,
                          const RECT& corners, BYTE fade, bool hole);
    // Draws a description through the manager's image cache into the control rectangle rc.
    static bool DrawImageString(HDC hdc, CPaintManagerUI* manager, const RECT& rc, const RECT& rcPaint,
                                const std::wstring& description);
    // Fills with a colour (ARGB; blended when not opaque).
    static void FillRect(HDC hdc, const RECT& rc, DWORD argb);
    static void FillGradient(HDC hdc, const RECT& rc, DWORD top, DWORD bottom);
    static void DrawRect(HDC hdc, const RECT& rc, int size, DWORD argb);
    // Anti-aliased rounded rectangle: filled when fill is not 0, outlined when border is not 0.
    static void DrawRoundRect(HDC hdc, const RECT& rc, int radiusX, int radiusY, DWORD fill, DWORD border, int borderSize);
    static void DrawLine(HDC hdc, int x1, int y1, int x2, int y2, int size, DWORD argb);

    // Text through Uniscribe. style: DT_LEFT/DT_CENTER/DT_RIGHT, DT_TOP/DT_VCENTER/DT_BOTTOM,
    // DT_SINGLELINE or DT_WORDBREAK, DT_END_ELLIPSIS, DT_RTLREADING, DT_CALCRECT (measure only:
    // rc gets the text's size). html: the text is rich-text markup.
    static void DrawText(HDC hdc, CPaintManagerUI* manager, RECT& rc, const std::wstring& text, DWORD color, int font,
                         UINT style, bool html = false);
    // Lays out rich text in the manager's fonts for a box width.
    static TTextLayout LayoutText(HDC hdc, CPaintManagerUI* manager, const TRichText& rich, int font, int width,
                                  UINT style);
    // Draws a laid-out text with its top-left corner at origin. hotLink is drawn in the hover
    // colour; link colours default to the manager's.
    static void DrawTextLayout(HDC hdc, CPaintManagerUI* manager, const TTextLayout& layout, POINT origin,
                               const RECT& clip, DWORD color, int font, int hotLink = -1);
};

// The text as it is handed to Uniscribe, with order[i] the index in text of the unit at i (a
// permutation). Combining marks on a lam-alef that ends a run of Arabic letters ("أولاً!",
// "مثلاً") move in front of the alef: some Uniscribe implementations place a mark on a ligature
// that ends a right-to-left item from the advance of the glyph before the first one, reading
// outside their own arrays (a crash). Before the alef the mark sits on the lam, as it may in
// written Arabic; everything else is left as it is.
std::wstring ShapingText(const std::wstring& text, std::vector<int>* order = nullptr);

// The pieces (start, length) a text is measured in: none longer than longest units, cut after
// a blank or between units of scripts that do not join where the text has such a place.
constexpr size_t kLongestMeasuredText = 256;
std::vector<std::pair<size_t, size_t>> MeasureChunks(const std::wstring& text, size_t longest);

// Text shaped by the toolkit itself rather than by Uniscribe's string functions: cut into items
// by ScriptItemize, each item shaped and placed by ScriptShape / ScriptPlace with its glyphs in
// screen order, the items put in screen order by their embedding levels. Used for right-to-left
// text: one Uniscribe implementation corrupts its heap while it analyses whole Arabic strings.
struct TShapedItem {
    int start = 0;   // in the text
    int length = 0;
    int level = 0;   // embedding level (odd: right to left)
    HFONT font = nullptr;
    bool plain = false;             // shaping failed: the characters are drawn as they are
    std::vector<WORD> glyphs;       // left to right on screen
    std::vector<int> advances;
    std::vector<GOFFSET> offsets;
    int width = 0;
};

struct TShapedText {
    std::vector<TShapedItem> items;  // in text order
    std::vector<int> visual;         // item indexes, left to right on screen
    std::vector<int> widths;         // advance of each unit of the text
    int width = 0;
};

// Whether the text has a unit of a right-to-left script (Hebrew, Arabic, Syriac, Thaana, N'Ko and
// their presentation forms): such a text reads from the right.
bool HasRightToLeftLetters(const std::wstring& text);
// Texts that take the toolkit's own shaping: a right-to-left paragraph, a text with right-to-left
// letters, or one with Devanagari or Thai. Whole-string analysis with font fallback drew a
// Devanagari text after a comma in a face without its letters, and measured a Thai text with a
// Latin name narrower than it drew it (the name's last letter cut off); shaped item by item, each
// item in a face that has its script, a text is drawn exactly as wide as it was measured.
bool NeedsOwnShaping(const std::wstring& text, bool rtl);
// Screen order (left to right) of runs with these embedding levels, in text order: from the
// highest level down to the lowest odd one, every stretch of runs at that level or above is
// reversed.
std::vector<int> VisualOrder(const std::vector<int>& levels);
// Advance of each of chars units from the glyph advances and the cluster map ScriptShape gives
// (clusters[i]: the glyph of unit i's cluster). rightToLeft: the glyphs are in screen order for a
// right-to-left item, where a cluster's value is its last glyph in the array. A cluster's advance
// is shared among its units, the remainder to its first unit.
std::vector<int> ClusterWidths(const WORD* clusters, int chars, const int* advances, int glyphs, bool rightToLeft);

// Measures text in a manager's fonts through Uniscribe (used by the layout of rich text).
class CUniscribeMeasurer : public ITextMeasurer {
public:
    CUniscribeMeasurer(HDC hdc, CPaintManagerUI* manager, int defaultFont, bool rtl = false);
    ~CUniscribeMeasurer() override;
    CUniscribeMeasurer(const CUniscribeMeasurer&) = delete;
    CUniscribeMeasurer& operator=(const CUniscribeMeasurer&) = delete;
    void MeasureChars(const std::wstring& text, const TTextStyle& style, std::vector<int>& widths) override;
    TFontMetrics Metrics(const TTextStyle& style) override;
    void Breaks(const std::wstring& text, std::vector<char>& canBreak, std::vector<char>& space) override;

    // The style's font; FontForText: the same in a face that has the text's script when the
    // style's face lacks it.
    HFONT FontFor(const TTextStyle& style);
    HFONT FontForText(const TTextStyle& style, const std::wstring& text);

    // Shapes text (already passed through ShapingText) in the style: every item in the style's
    // font, or in a face that has the item's script. False only for an empty text.
    bool Shape(const std::wstring& text, const TTextStyle& style, TShapedText& out);
    // Draws a shaped text with its left end at x, on the baseline y.
    void DrawShaped(const std::wstring& text, const TShapedText& shaped, int x, int baseline);

private:
    bool Covers(HFONT font, const std::wstring& text, int script);
    bool ShapeItem(const std::wstring& text, const SCRIPT_ITEM& item, int length, const TTextStyle& style, TShapedItem& out,
                   std::vector<int>& widths);
    std::map<std::pair<HFONT, wchar_t>, bool> m_coverage;  // has the face a glyph for the character
    std::map<HFONT, SCRIPT_CACHE> m_caches;

    HDC m_hdc;
    CPaintManagerUI* m_manager;
    int m_defaultFont;
    bool m_rtl;
};

}  // namespace DuiLib
