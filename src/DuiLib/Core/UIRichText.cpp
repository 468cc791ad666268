#include "DuiLib/Core/UIRichText.h"

#include <algorithm>
#include <cwctype>

#include "DuiLib/Core/UIDefine.h"

namespace DuiLib {
namespace {

constexpr wchar_t kEllipsis[] = L"\x2026";
constexpr wchar_t kSpacePlaceholder = L'\xA0';

struct ParseState {
    std::vector<int> fonts;
    std::vector<DWORD> colors;
    int bold = 0, italic = 0, underline = 0, strike = 0;
    int link = -1;

    TTextStyle Style() const {
        TTextStyle s;
        s.font = fonts.empty() ? -1 : fonts.back();
        if (!colors.empty()) {
            s.color = colors.back();
            s.hasColor = true;
        }
        s.bold = bold > 0;
        s.italic = italic > 0;
        s.underline = underline > 0;
        s.strike = strike > 0;
        s.link = link;
        return s;
    }
};

bool SameStyle(const TTextStyle& a, const TTextStyle& b) {
    return a.font == b.font && a.hasColor == b.hasColor && (!a.hasColor || a.color == b.color) && a.bold == b.bold &&
           a.italic == b.italic && a.underline == b.underline && a.strike == b.strike && a.link == b.link;
}

// Splits "f 1" into the tag name "f" and the argument "1"; also accepts "f1".
void SplitTag(const std::wstring& tag, std::wstring& name, std::wstring& arg) {
    size_t i = 0;
    if (i < tag.size() && tag[i] == L'/') ++i;
    while (i < tag.size() && std::iswalpha(tag[i])) ++i;
    name = tag.substr(0, i);
    arg = UI::Trim(tag.substr(i));
}

}  // namespace

TRichText ParseRichText(const std::wstring& markup, bool html) {
    TRichText rich;
    // A line feed in the text (a licence's paragraphs) starts a new line, in plain text and in
    // markup alike; a carriage return before it is dropped.
    auto lineBreak = [&rich](const TTextStyle& style) {
        TTextRun run;
        run.style = style;
        run.lineBreak = true;
        rich.runs.push_back(run);
    };
    if (!html) {
        size_t start = 0;
        while (start < markup.size()) {
            size_t end = markup.find(L'\n', start);
            std::wstring line = markup.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
            if (!line.empty() && line.back() == L'\r') line.pop_back();
            if (!line.empty()) {
                TTextRun run;
                run.text = line;
                rich.runs.push_back(run);
            }
            if (end == std::wstring::npos) break;
            lineBreak(TTextStyle());
            start = end + 1;
        }
        return rich;
    }
    ParseState state;
    std::wstring pending;
    TTextStyle pendingStyle = state.Style();
    auto flush = [&]() {
        if (pending.empty()) return;
        TTextRun run;
        run.text.swap(pending);
        run.style = pendingStyle;
        if (run.style.link >= 0 && run.style.link < static_cast<int>(rich.linkTargets.size()))
            run.target = rich.linkTargets[run.style.link];
        rich.runs.push_back(run);
        pending.clear();
    };
    auto append = [&](const std::wstring& text) {
        TTextStyle now = state.Style();
        if (!pending.empty() && !SameStyle(now, pendingStyle)) flush();
        if (pending.empty()) pendingStyle = now;
        pending += text;
    };

    size_t i = 0;
    while (i < markup.size()) {
        wchar_t ch = markup[i];
        if (ch == L'\r' && i + 1 < markup.size() && markup[i + 1] == L'\n') {
            ++i;
            continue;
        }
        if (ch == L'\n') {
            flush();
            lineBreak(state.Style());
            ++i;
            continue;
        }
        if (ch != L'{') {
            append(std::wstring(1, ch));
            ++i;
            continue;
        }
        size_t close = markup.find(L'}', i + 1);
        if (close == std::wstring::npos) {
            append(markup.substr(i));
            break;
        }
        std::wstring tag = markup.substr(i + 1, close - i - 1);
        std::wstring name, arg;
        SplitTag(tag, name, arg);
        bool known = true;
        if (name == L"f" && !arg.empty()) {
            state.fonts.push_back(UI::ParseInt(arg, -1));
        } else if (name == L"/f") {
            if (!state.fonts.empty()) state.fonts.pop_back();
        } else if (name == L"c" && !arg.empty()) {
            DWORD color = 0;
            if (UI::ParseColor(arg, color)) state.colors.push_back(color);
            else known = false;
        } else if (name == L"/c") {
            if (!state.colors.empty()) state.colors.pop_back();
        } else if (name == L"b" && arg.empty()) {
            ++state.bold;
        } else if (name == L"/b") {
            if (state.bold > 0) --state.bold;
        } else if (name == L"i" && arg.empty()) {
            ++state.italic;
        } else if (name == L"/i") {
            if (state.italic > 0) --state.italic;
        } else if (name == L"u" && arg.empty()) {
            ++state.underline;
        } else if (name == L"/u") {
            if (state.underline > 0) --state.underline;
        } else if (name == L"s" && arg.empty()) {
            ++state.strike;
        } else if (name == L"/s") {
            if (state.strike > 0) --state.strike;
        } else if (name == L"a") {
            state.link = rich.linkCount++;
            rich.linkTargets.push_back(arg);
        } else if (name == L"/a") {
            state.link = -1;
        } else if ((name == L"n" || name == L"p") && arg.empty()) {
            flush();
            TTextRun run;
            run.style = state.Style();
            run.lineBreak = true;
            run.paragraph = name == L"p";
            rich.runs.push_back(run);
        } else if (name == L"x" && !arg.empty()) {
            flush();
            TTextRun run;
            run.style = state.Style();
            run.space = std::max(0, UI::ParseInt(arg, 0));
            rich.runs.push_back(run);
        } else if (name == L"r" && arg.empty()) {
            size_t end = markup.find(L"{/r}", close + 1);
            append(markup.substr(close + 1, end == std::wstring::npos ? std::wstring::npos : end - close - 1));
            i = end == std::wstring::npos ? markup.size() : end + 4;
            continue;
        } else {
            known = false;
        }
        if (!known) {
            append(L"{");
            ++i;
            continue;
        }
        i = close + 1;
    }
    flush();
    return rich;
}

std::wstring PlainText(const TRichText& rich) {
    std::wstring out;
    for (const TTextRun& run : rich.runs) {
        if (run.lineBreak) out += L'\n';
        else out += run.text;
    }
    return out;
}

int TTextLayout::LinkAt(POINT pt) const {
    for (const TTextLine& line : lines)
        for (const TTextPiece& piece : line.pieces) {
            int link = runs[piece.run].style.link;
            if (link >= 0 && UI::Contains(piece.rc, pt)) return link;
        }
    return -1;
}

std::vector<RECT> TTextLayout::LinkRects(int link) const {
    std::vector<RECT> out;
    for (const TTextLine& line : lines)
        for (const TTextPiece& piece : line.pieces)
            if (runs[piece.run].style.link == link) out.push_back(piece.rc);
    return out;
}

namespace {

// One paragraph laid out in logical order: per unit of its text the run it comes from, the
// offset in that run and its advance.
struct Paragraph {
    std::wstring text;
    std::vector<int> run;
    std::vector<int> offset;
    std::vector<int> width;
    std::vector<char> canBreak;
    std::vector<char> space;
    int styleRun = -1;  // a run whose style sizes an empty line
    bool paragraphBreak = false;
};

bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

TTextLayout LayoutRichText(const TRichText& rich, ITextMeasurer& measurer, const TTextLayoutOptions& opt) {
    TTextLayout layout;
    layout.runs = rich.runs;
    layout.rtl = opt.rtl;
    std::vector<TTextRun>& runs = layout.runs;
    const int maxWidth = std::max(0, opt.maxWidth);

    // Cut the runs into paragraphs at line breaks.
    std::vector<Paragraph> paragraphs(1);
    for (size_t r = 0; r < runs.size(); ++r) {
        const TTextRun& run = runs[r];
        Paragraph& p = paragraphs.back();
        if (run.lineBreak) {
            if (p.styleRun < 0) p.styleRun = static_cast<int>(r);
            p.paragraphBreak = run.paragraph;
            paragraphs.emplace_back();
            continue;
        }
        if (p.styleRun < 0) p.styleRun = static_cast<int>(r);
        if (run.space > 0) {
            p.text.push_back(kSpacePlaceholder);
            p.run.push_back(static_cast<int>(r));
            p.offset.push_back(0);
            p.width.push_back(run.space);
            continue;
        }
        std::vector<int> widths;
        measurer.MeasureChars(run.text, run.style, widths);
        widths.resize(run.text.size(), 0);
        for (size_t k = 0; k < run.text.size(); ++k) {
            p.text.push_back(run.text[k]);
            p.run.push_back(static_cast<int>(r));
            p.offset.push_back(static_cast<int>(k));
            p.width.push_back(widths[k]);
        }
    }
    if (runs.empty()) return layout;

    int y = 0;
    int widest = 0;
    TTextStyle defaultStyle;
    for (size_t pi = 0; pi < paragraphs.size(); ++pi) {
        Paragraph& p = paragraphs[pi];
        const int n = static_cast<int>(p.text.size());
        measurer.Breaks(p.text, p.canBreak, p.space);
        p.canBreak.resize(n, 0);
        p.space.resize(n, 0);
        for (int k = 0; k < n; ++k)
            if (p.text[k] == kSpacePlaceholder && runs[p.run[k]].space > 0) p.space[k] = 0;

        int i = 0;
        bool firstLine = true;
        while (i < n || firstLine) {
            firstLine = false;
            int lineStart = i;
            int end = n;
            int lastBreak = -1;
            int width = 0;
            bool ellipsis = false;
            for (int j = i; j < n; ++j) {
                if (j > lineStart && p.canBreak[j]) lastBreak = j;
                int w = p.width[j];
                if (width + w > maxWidth && !p.space[j] && j > lineStart) {
                    if (opt.wrap) {
                        if (lastBreak > lineStart) end = lastBreak;
                        else {
                            end = j;
                            if (end > lineStart && IsLowSurrogate(p.text[end])) --end;
                            if (end == lineStart) end = j + 1;
                        }
                        break;
                    }
                    if (opt.endEllipsis) {
                        ellipsis = true;
                        break;
                    }
                }
                width += w;
            }
            if (!opt.wrap) end = n;

            // The units of this line, without trailing blanks for its width.
            int drawEnd = end;
            if (ellipsis) {
                TTextStyle style = runs[p.run[std::max(lineStart, std::min(end, n) - 1)]].style;
                std::vector<int> ew;
                measurer.MeasureChars(kEllipsis, style, ew);
                int ellipsisWidth = ew.empty() ? 0 : ew[0];
                int w = 0;
                drawEnd = lineStart;
                while (drawEnd < end && w + p.width[drawEnd] + ellipsisWidth <= maxWidth) w += p.width[drawEnd++];
                if (drawEnd < end && IsLowSurrogate(p.text[drawEnd]) && drawEnd > lineStart) --drawEnd;
            }
            int visibleEnd = drawEnd;
            while (visibleEnd > lineStart && p.space[visibleEnd - 1]) --visibleEnd;

            TTextLine line;
            line.top = y;
            int x = 0;
            int maxAscent = 0, maxDescent = 0;
            auto addPiece = [&](int runIndex, int start, int length, int w) {
                TFontMetrics m = measurer.Metrics(runs[runIndex].style);
                maxAscent = std::max(maxAscent, m.ascent);
                maxDescent = std::max(maxDescent, m.height - m.ascent);
                TTextPiece piece;
                piece.run = runIndex;
                piece.start = start;
                piece.length = length;
                piece.rc = RECT{x, 0, x + w, m.height};
                piece.baseline = m.ascent;  // relative until the line's baseline is known
                line.pieces.push_back(piece);
                x += w;
            };
            int k = lineStart;
            while (k < visibleEnd) {
                int runIndex = p.run[k];
                int start = k, w = 0;
                while (k < visibleEnd && p.run[k] == runIndex) w += p.width[k++];
                if (runs[runIndex].space > 0) {
                    x += w;
                    continue;
                }
                addPiece(runIndex, p.offset[start], k - start, w);
            }
            if (ellipsis) {
                int styleRun = p.run[std::max(lineStart, drawEnd - 1)];
                TTextRun dots;
                dots.text = kEllipsis;
                dots.style = runs[styleRun].style;
                runs.push_back(dots);
                std::vector<int> ew;
                measurer.MeasureChars(kEllipsis, dots.style, ew);
                addPiece(static_cast<int>(runs.size()) - 1, 0, 1, ew.empty() ? 0 : ew[0]);
            }
            if (line.pieces.empty()) {
                TFontMetrics m = measurer.Metrics(p.styleRun >= 0 ? runs[p.styleRun].style : defaultStyle);
                maxAscent = m.ascent;
                maxDescent = m.height - m.ascent;
            }
            line.width = x;
            line.height = maxAscent + maxDescent;
            line.baseline = maxAscent;
            for (TTextPiece& piece : line.pieces) {
                int ascent = piece.baseline;
                int h = piece.rc.bottom;
                piece.rc.top = y + line.baseline - ascent;
                piece.rc.bottom = piece.rc.top + h;
                piece.baseline = y + line.baseline;
            }
            widest = std::max(widest, line.width);
            y += line.height;
            layout.lines.push_back(line);

            i = end;
            if (opt.wrap)
                while (i < n && p.space[i]) ++i;  // a wrapped line does not start with blanks
            if (i < n) y += opt.lineSpacing;
        }
        if (pi + 1 < paragraphs.size()) {
            y += opt.lineSpacing;
            if (p.paragraphBreak) y += opt.paragraphSpacing;
        }
    }

    // Horizontal placement: right-to-left order, then alignment in the box.
    int box = maxWidth < 0x3FFFFFFF ? maxWidth : widest;
    for (TTextLine& line : layout.lines) {
        if (opt.rtl)
            for (TTextPiece& piece : line.pieces) {
                int l = line.width - piece.rc.right, r = line.width - piece.rc.left;
                piece.rc.left = l;
                piece.rc.right = r;
            }
        int offset = 0;
        if (opt.align == kAlignCenter) offset = (box - line.width) / 2;
        else if (opt.align == kAlignRight) offset = box - line.width;
        if (offset < 0 && !opt.endEllipsis) offset = opt.align == kAlignCenter ? offset : 0;
        for (TTextPiece& piece : line.pieces) {
            piece.rc.left += offset;
            piece.rc.right += offset;
        }
    }
    layout.size.cx = widest;
    layout.size.cy = y;
    return layout;
}

}  // namespace DuiLib
