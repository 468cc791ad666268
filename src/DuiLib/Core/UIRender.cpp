#include "DuiLib/Core/UIRender.h"

#include <objidl.h>
#include <gdiplus.h>
#include <usp10.h>

#include <algorithm>
#include <cstring>

#include "DuiLib/Core/UIDefine.h"
#include "DuiLib/Core/UIManager.h"

namespace DuiLib {
namespace {

// The 32-bit DIB section selected into a device context, if any: drawing there keeps the alpha
// channel right (GDI's own fills and text would clear it).
struct DibTarget {
    BYTE* bits = nullptr;
    int width = 0;
    int height = 0;
    bool topDown = false;
    BYTE* Row(int y) const { return bits + static_cast<size_t>(topDown ? y : height - 1 - y) * width * 4; }
};

DibTarget TargetOf(HDC hdc) {
    DibTarget t;
    HGDIOBJ bitmap = GetCurrentObject(hdc, OBJ_BITMAP);
    DIBSECTION ds{};
    if (!bitmap || GetObjectW(bitmap, sizeof(ds), &ds) != sizeof(ds) || ds.dsBm.bmBitsPixel != 32 || !ds.dsBm.bmBits) return t;
    t.bits = static_cast<BYTE*>(ds.dsBm.bmBits);
    t.width = ds.dsBm.bmWidth;
    t.height = std::abs(ds.dsBmih.biHeight);
    t.topDown = ds.dsBmih.biHeight < 0;
    if (!t.topDown && t.height > 1) {
        // Some systems report the height of a top-down section without its sign: ask GDI where
        // a pixel of a row lands.
        RECT clip{};
        if (GetClipBox(hdc, &clip) == NULLREGION || clip.top < 0 || clip.top >= t.height || clip.left < 0 || clip.left >= t.width) {
            t.topDown = true;  // nothing can be drawn there anyway
            return t;
        }
        int y = clip.top, mirror = t.height - 1 - y;
        if (y == mirror) return t;
        DWORD* top = reinterpret_cast<DWORD*>(t.bits + (static_cast<size_t>(y) * t.width + clip.left) * 4);
        DWORD* bottom = reinterpret_cast<DWORD*>(t.bits + (static_cast<size_t>(mirror) * t.width + clip.left) * 4);
        DWORD keepTop = *top, keepBottom = *bottom;
        *top = 0x00010203;
        *bottom = 0x00010203;
        GdiFlush();
        SetPixelV(hdc, clip.left, y, RGB(0xF1, 0xF2, 0xF3));
        GdiFlush();
        t.topDown = (*top & 0xFFFFFF) == 0xF1F2F3;
        *top = keepTop;
        *bottom = keepBottom;
    }
    return t;
}

// Saves the alpha of an area of a DIB target and puts it back after GDI drew text there.
class AlphaKeeper {
public:
    AlphaKeeper(HDC hdc, const RECT& area) : m_target(TargetOf(hdc)) {
        if (!m_target.bits) return;
        RECT clip{};
        GetClipBox(hdc, &clip);
        RECT bounds{0, 0, m_target.width, m_target.height};
        m_rc = UI::Intersect(UI::Intersect(area, clip), bounds);
        if (UI::IsEmptyRect(m_rc)) return;
        m_saved.resize(static_cast<size_t>(UI::Width(m_rc)) * UI::Height(m_rc));
        size_t k = 0;
        for (int y = m_rc.top; y < m_rc.bottom; ++y) {
            const BYTE* row = m_target.Row(y);
            for (int x = m_rc.left; x < m_rc.right; ++x) m_saved[k++] = row[x * 4 + 3];
        }
    }
    ~AlphaKeeper() {
        if (m_saved.empty()) return;
        GdiFlush();
        size_t k = 0;
        for (int y = m_rc.top; y < m_rc.bottom; ++y) {
            BYTE* row = m_target.Row(y);
            for (int x = m_rc.left; x < m_rc.right; ++x) {
                BYTE a = m_saved[k++];
                BYTE* p = row + x * 4;
                p[3] = a;
                if (a != 255) {
                    p[0] = std::min(p[0], a);
                    p[1] = std::min(p[1], a);
                    p[2] = std::min(p[2], a);
                }
            }
        }
    }

private:
    DibTarget m_target;
    RECT m_rc{};
    std::vector<BYTE> m_saved;
};

void Blend(HDC hdc, const RECT& dst, HDC src, const RECT& from, BYTE fade, bool alpha) {
    int dw = UI::Width(dst), dh = UI::Height(dst), sw = UI::Width(from), sh = UI::Height(from);
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    if (!alpha && fade == 255) {
        if (dw == sw && dh == sh) BitBlt(hdc, dst.left, dst.top, dw, dh, src, from.left, from.top, SRCCOPY);
        else {
            int old = SetStretchBltMode(hdc, COLORONCOLOR);
            StretchBlt(hdc, dst.left, dst.top, dw, dh, src, from.left, from.top, sw, sh, SRCCOPY);
            SetStretchBltMode(hdc, old);
        }
        return;
    }
    BLENDFUNCTION bf{AC_SRC_OVER, 0, fade, AC_SRC_ALPHA};
    AlphaBlend(hdc, dst.left, dst.top, dw, dh, src, from.left, from.top, sw, sh, bf);
}

Gdiplus::Color GpColor(DWORD argb) {
    return Gdiplus::Color(UI::AlphaOf(argb), (argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

// Runs fn with a GDI+ surface on the device context; on a 32-bit DIB it draws straight into the
// pixels (alpha kept), limited to the context's clip box.
template <typename Fn>
void WithGraphics(HDC hdc, Fn fn) {
    if (!ImageCodec::EnsureGdiplus()) return;
    GdiFlush();
    DibTarget t = TargetOf(hdc);
    if (t.bits && t.topDown) {
        Gdiplus::Bitmap bitmap(t.width, t.height, t.width * 4, PixelFormat32bppPARGB, t.bits);
        Gdiplus::Graphics g(&bitmap);
        RECT clip{};
        if (GetClipBox(hdc, &clip) != NULLREGION && GetClipBox(hdc, &clip) != ERROR)
            g.SetClip(Gdiplus::Rect(clip.left, clip.top, UI::Width(clip), UI::Height(clip)));
        POINT org{};
        GetViewportOrgEx(hdc, &org);
        g.TranslateTransform(static_cast<Gdiplus::REAL>(org.x), static_cast<Gdiplus::REAL>(org.y));
        fn(g);
        return;
    }
    Gdiplus::Graphics g(hdc);
    fn(g);
}

void AddRoundRect(Gdiplus::GraphicsPath& path, Gdiplus::REAL x, Gdiplus::REAL y, Gdiplus::REAL w, Gdiplus::REAL h,
                  Gdiplus::REAL rx, Gdiplus::REAL ry) {
    rx = std::min(rx, w / 2);
    ry = std::min(ry, h / 2);
    if (rx <= 0 || ry <= 0) {
        path.AddRectangle(Gdiplus::RectF(x, y, w, h));
        return;
    }
    path.AddArc(x, y, rx * 2, ry * 2, 180, 90);
    path.AddArc(x + w - rx * 2, y, rx * 2, ry * 2, 270, 90);
    path.AddArc(x + w - rx * 2, y + h - ry * 2, rx * 2, ry * 2, 0, 90);
    path.AddArc(x, y + h - ry * 2, rx * 2, ry * 2, 90, 90);
    path.CloseFigure();
}

constexpr DWORD kSsaFlags = SSA_GLYPHS | SSA_FALLBACK | SSA_LINK;

// Scripts whose text a window's face may lack, with the faces that draw each of them, tried in
// order: the Windows faces first, then the Noto faces that stand in for them elsewhere.
enum class Script { Other, Arabic, Hebrew, Devanagari, Thai, Hangul, Kana, Han };

Script ScriptOf(wchar_t c) {
    if ((c >= 0x0600 && c <= 0x06FF) || (c >= 0x0750 && c <= 0x077F) || (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF))
        return Script::Arabic;
    if (c >= 0x0590 && c <= 0x05FF) return Script::Hebrew;
    if (c >= 0x0900 && c <= 0x097F) return Script::Devanagari;
    if (c >= 0x0E00 && c <= 0x0E7F) return Script::Thai;
    if ((c >= 0xAC00 && c <= 0xD7AF) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3130 && c <= 0x318F)) return Script::Hangul;
    if (c >= 0x3040 && c <= 0x30FF) return Script::Kana;
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFFEF))
        return Script::Han;
    return Script::Other;
}

// The first script of the text that is not Latin, Cyrillic, Greek or punctuation; Kana wins over
// Han (Japanese), Hangul too (Korean).
Script DominantScript(const std::wstring& text) {
    Script found = Script::Other;
    for (wchar_t c : text) {
        Script s = ScriptOf(c);
        if (s == Script::Other) continue;
        if (s == Script::Kana || s == Script::Hangul) return s;
        if (found == Script::Other) found = s;
    }
    return found;
}

const std::vector<const wchar_t*>& FallbackFaces(Script s) {
    static const std::vector<const wchar_t*> arabic{L"Segoe UI", L"Tahoma", L"Arial", L"Noto Sans Arabic", L"Noto Naskh Arabic"};
    static const std::vector<const wchar_t*> hebrew{L"Segoe UI", L"Arial", L"Noto Sans Hebrew"};
    static const std::vector<const wchar_t*> devanagari{L"Nirmala UI", L"Mangal", L"Noto Sans Devanagari"};
    static const std::vector<const wchar_t*> thai{L"Leelawadee UI", L"Tahoma", L"Noto Sans Thai"};
    static const std::vector<const wchar_t*> hangul{L"Malgun Gothic", L"Gulim", L"Noto Sans CJK KR"};
    static const std::vector<const wchar_t*> kana{L"Meiryo UI", L"Yu Gothic UI", L"MS UI Gothic", L"Noto Sans CJK JP"};
    static const std::vector<const wchar_t*> han{L"Microsoft YaHei", L"Microsoft JhengHei", L"SimSun", L"Noto Sans CJK SC"};
    // Latin and the other letters every Windows face has, for a window face without them (a Thai
    // face that stands in for the language's own).
    static const std::vector<const wchar_t*> other{L"Segoe UI", L"Tahoma", L"Arial", L"Noto Sans", L"DejaVu Sans"};
    switch (s) {
        case Script::Arabic: return arabic;
        case Script::Hebrew: return hebrew;
        case Script::Devanagari: return devanagari;
        case Script::Thai: return thai;
        case Script::Hangul: return hangul;
        case Script::Kana: return kana;
        case Script::Han: return han;
        default: return other;
    }
}

bool IsArabicMark(wchar_t c) {
    return (c >= 0x064B && c <= 0x065F) || c == 0x0670 || (c >= 0x06D6 && c <= 0x06DC) || (c >= 0x06DF && c <= 0x06E4) ||
           c == 0x06E7 || c == 0x06E8 || (c >= 0x06EA && c <= 0x06ED);
}

bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsLamAlefAlef(wchar_t c) { return c == 0x0622 || c == 0x0623 || c == 0x0625 || c == 0x0627; }

}  // namespace

std::wstring ShapingText(const std::wstring& text, std::vector<int>* order) {
    std::wstring out = text;
    const size_t n = text.size();
    if (order) {
        order->resize(n);
        for (size_t i = 0; i < n; ++i) (*order)[i] = static_cast<int>(i);
    }
    for (size_t i = 1; i + 1 < n; ++i) {
        if (text[i - 1] != 0x0644 || !IsLamAlefAlef(text[i]) || !IsArabicMark(text[i + 1])) continue;
        size_t end = i + 1;
        while (end < n && IsArabicMark(text[end])) ++end;
        // Followed by another Arabic letter, the mark is not on the item's last glyph.
        if (end < n && ScriptOf(text[end]) == Script::Arabic) {
            i = end - 1;
            continue;
        }
        // lam, alef, marks -> lam, marks, alef
        std::rotate(out.begin() + static_cast<std::ptrdiff_t>(i), out.begin() + static_cast<std::ptrdiff_t>(i + 1),
                    out.begin() + static_cast<std::ptrdiff_t>(end));
        if (order)
            std::rotate(order->begin() + static_cast<std::ptrdiff_t>(i), order->begin() + static_cast<std::ptrdiff_t>(i + 1),
                        order->begin() + static_cast<std::ptrdiff_t>(end));
        i = end - 1;
    }
    return out;
}

TDrawInfo TDrawInfo::Parse(const std::wstring& description) {
    TDrawInfo info;
    std::wstring d = UI::Trim(description);
    if (d.find(L'=') == std::wstring::npos || d.find(L'\'') == std::wstring::npos) {
        info.file = d;
        return info;
    }
    size_t i = 0;
    while (i < d.size()) {
        while (i < d.size() && (d[i] == L' ' || d[i] == L'\t')) ++i;
        size_t eq = d.find(L'=', i);
        if (eq == std::wstring::npos) break;
        std::wstring key = UI::Trim(d.substr(i, eq - i));
        size_t q1 = d.find(L'\'', eq);
        if (q1 == std::wstring::npos) break;
        size_t q2 = d.find(L'\'', q1 + 1);
        if (q2 == std::wstring::npos) break;
        std::wstring value = d.substr(q1 + 1, q2 - q1 - 1);
        i = q2 + 1;
        if (key == L"file" || key == L"res") info.file = value;
        else if (key == L"source") { info.source = UI::ParseRect(value); info.hasSource = true; }
        else if (key == L"corner") info.corner = UI::ParseRect(value);
        else if (key == L"dest") { info.dest = UI::ParseRect(value); info.hasDest = true; }
        else if (key == L"fade") info.fade = static_cast<BYTE>(std::clamp(UI::ParseInt(value, 255), 0, 255));
        else if (key == L"hole") info.hole = UI::ParseBool(value);
        else if (key == L"align") info.align = value == L"left" ? 0 : value == L"right" ? 2 : 1;
        else if (key == L"valign") info.valign = value == L"top" ? 0 : value == L"bottom" ? 2 : 1;
    }
    return info;
}

void CRenderEngine::DrawImage(HDC hdc, const TImageInfo& image, const RECT& dest, const RECT& rcPaint, const RECT& src,
                              const RECT& corners, BYTE fade, bool hole) {
    if (!image.hBitmap || UI::IsEmptyRect(dest)) return;
    RECT check = UI::Intersect(dest, rcPaint);
    if (UI::IsEmptyRect(check)) return;
    HDC mem = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(mem, image.hBitmap);
    bool alpha = image.alpha;
    const RECT& c = corners;
    // Corners that do not fit the destination shrink.
    int cl = c.left, cr = c.right, ct = c.top, cb = c.bottom;
    if (cl + cr > UI::Width(dest)) { cl = UI::Width(dest) * cl / std::max(1L, static_cast<long>(cl + cr)); cr = UI::Width(dest) - cl; }
    if (ct + cb > UI::Height(dest)) { ct = UI::Height(dest) * ct / std::max(1L, static_cast<long>(ct + cb)); cb = UI::Height(dest) - ct; }
    if (c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0) {
        Blend(hdc, dest, mem, src, fade, alpha);
    } else {
        // Nine parts: corners at their size, edges stretched along, the middle both ways.
        int dx[4] = {dest.left, dest.left + cl, dest.right - cr, dest.right};
        int dy[4] = {dest.top, dest.top + ct, dest.bottom - cb, dest.bottom};
        int sx[4] = {src.left, src.left + c.left, src.right - c.right, src.right};
        int sy[4] = {src.top, src.top + c.top, src.bottom - c.bottom, src.bottom};
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col) {
                if (hole && row == 1 && col == 1) continue;
                RECT d{dx[col], dy[row], dx[col + 1], dy[row + 1]};
                RECT s{sx[col], sy[row], sx[col + 1], sy[row + 1]};
                if (UI::IsEmptyRect(UI::Intersect(d, rcPaint))) continue;
                Blend(hdc, d, mem, s, fade, alpha);
            }
    }
    SelectObject(mem, old);
    DeleteDC(mem);
}

bool CRenderEngine::DrawImageString(HDC hdc, CPaintManagerUI* manager, const RECT& rc, const RECT& rcPaint,
                                    const std::wstring& description) {
    if (!manager || description.empty()) return false;
    TDrawInfo info = TDrawInfo::Parse(description);
    const TImageInfo* base = manager->GetImageCache().Get(info.file);
    const TImageInfo* image = manager->GetImage(info.file);
    if (!image || !base) return false;
    // Logical values are of the image at 100 %; the drawn image is scaled by scale/100.
    int scale = manager->GetScale();
    auto s = [&](int v) { return image == base ? v : MulDiv(v, image->width, base->width); };
    RECT source{0, 0, image->width, image->height};
    if (info.hasSource) source = RECT{s(info.source.left), s(info.source.top), s(info.source.right), s(info.source.bottom)};
    source.right = std::min<LONG>(source.right, image->width);
    source.bottom = std::min<LONG>(source.bottom, image->height);
    RECT corner{s(info.corner.left), s(info.corner.top), s(info.corner.right), s(info.corner.bottom)};
    RECT dest = rc;
    if (info.hasDest) {
        dest = RECT{rc.left + MulDiv(info.dest.left, scale, 100), rc.top + MulDiv(info.dest.top, scale, 100),
                    rc.left + MulDiv(info.dest.right, scale, 100), rc.top + MulDiv(info.dest.bottom, scale, 100)};
    } else if (info.align >= 0 || info.valign >= 0) {
        // Natural size, placed in the box.
        int w = UI::Width(source), h = UI::Height(source);
        int x = rc.left, y = rc.top;
        int ha = info.align < 0 ? 1 : info.align, va = info.valign < 0 ? 1 : info.valign;
        if (ha == 1) x = rc.left + (UI::Width(rc) - w) / 2; else if (ha == 2) x = rc.right - w;
        if (va == 1) y = rc.top + (UI::Height(rc) - h) / 2; else if (va == 2) y = rc.bottom - h;
        dest = RECT{x, y, x + w, y + h};
    }
    // Right-to-left pages place the image from the other side (a check box's box, an icon).
    if (manager->IsRTL() && (info.hasDest || info.align >= 0) && !UI::RectEquals(dest, rc))
        dest = RECT{rc.left + rc.right - dest.right, dest.top, rc.left + rc.right - dest.left, dest.bottom};
    DrawImage(hdc, *image, dest, rcPaint, source, corner, info.fade, info.hole);
    return true;
}

void CRenderEngine::FillRect(HDC hdc, const RECT& rc, DWORD argb) {
    if (UI::IsEmptyRect(rc) || UI::AlphaOf(argb) == 0) return;
    // A one-pixel premultiplied bitmap stretched over the rectangle: right alpha on any target.
    static thread_local std::unique_ptr<TImageInfo> pixel;
    if (!pixel) pixel = ImageCodec::Create(1, 1);
    if (!pixel) return;
    BYTE a = UI::AlphaOf(argb);
    pixel->bits[0] = static_cast<BYTE>((argb & 0xFF) * a / 255);
    pixel->bits[1] = static_cast<BYTE>(((argb >> 8) & 0xFF) * a / 255);
    pixel->bits[2] = static_cast<BYTE>(((argb >> 16) & 0xFF) * a / 255);
    pixel->bits[3] = a;
    HDC mem = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(mem, pixel->hBitmap);
    RECT one{0, 0, 1, 1};
    if (a == 255) {
        int oldMode = SetStretchBltMode(hdc, COLORONCOLOR);
        StretchBlt(hdc, rc.left, rc.top, UI::Width(rc), UI::Height(rc), mem, 0, 0, 1, 1, SRCCOPY);
        SetStretchBltMode(hdc, oldMode);
    } else {
        Blend(hdc, rc, mem, one, 255, true);
    }
    SelectObject(mem, old);
    DeleteDC(mem);
}

void CRenderEngine::FillGradient(HDC hdc, const RECT& rc, DWORD top, DWORD bottom) {
    int h = UI::Height(rc);
    if (h <= 0) return;
    for (int y = 0; y < h; ++y) {
        auto mix = [&](int shift) {
            int a = (top >> shift) & 0xFF, b = (bottom >> shift) & 0xFF;
            return static_cast<DWORD>(a + (b - a) * y / std::max(1, h - 1)) << shift;
        };
        DWORD c = mix(24) | mix(16) | mix(8) | mix(0);
        FillRect(hdc, RECT{rc.left, rc.top + y, rc.right, rc.top + y + 1}, c);
    }
}

void CRenderEngine::DrawRect(HDC hdc, const RECT& rc, int size, DWORD argb) {
    if (size <= 0 || UI::IsEmptyRect(rc)) return;
    FillRect(hdc, RECT{rc.left, rc.top, rc.right, rc.top + size}, argb);
    FillRect(hdc, RECT{rc.left, rc.bottom - size, rc.right, rc.bottom}, argb);
    FillRect(hdc, RECT{rc.left, rc.top + size, rc.left + size, rc.bottom - size}, argb);
    FillRect(hdc, RECT{rc.right - size, rc.top + size, rc.right, rc.bottom - size}, argb);
}

void CRenderEngine::DrawRoundRect(HDC hdc, const RECT& rc, int rx, int ry, DWORD fill, DWORD border, int borderSize) {
    if (UI::IsEmptyRect(rc)) return;
    WithGraphics(hdc, [&](Gdiplus::Graphics& g) {
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
        if (UI::AlphaOf(fill)) {
            Gdiplus::GraphicsPath path;
            AddRoundRect(path, static_cast<Gdiplus::REAL>(rc.left), static_cast<Gdiplus::REAL>(rc.top),
                         static_cast<Gdiplus::REAL>(UI::Width(rc)), static_cast<Gdiplus::REAL>(UI::Height(rc)),
                         static_cast<Gdiplus::REAL>(rx), static_cast<Gdiplus::REAL>(ry));
            Gdiplus::SolidBrush brush(GpColor(fill));
            g.FillPath(&brush, &path);
        }
        if (UI::AlphaOf(border) && borderSize > 0) {
            Gdiplus::REAL half = borderSize / 2.0f;
            Gdiplus::GraphicsPath path;
            AddRoundRect(path, rc.left + half, rc.top + half, UI::Width(rc) - borderSize * 1.0f, UI::Height(rc) - borderSize * 1.0f,
                         std::max<Gdiplus::REAL>(0, rx - half), std::max<Gdiplus::REAL>(0, ry - half));
            Gdiplus::Pen pen(GpColor(border), static_cast<Gdiplus::REAL>(borderSize));
            g.DrawPath(&pen, &path);
        }
    });
}

void CRenderEngine::DrawLine(HDC hdc, int x1, int y1, int x2, int y2, int size, DWORD argb) {
    if (x1 == x2 || y1 == y2) {  // straight lines fill whole pixels
        RECT r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
        if (x1 == x2) r.right = r.left + size; else r.bottom = r.top + size;
        FillRect(hdc, r, argb);
        return;
    }
    WithGraphics(hdc, [&](Gdiplus::Graphics& g) {
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        Gdiplus::Pen pen(GpColor(argb), static_cast<Gdiplus::REAL>(size));
        g.DrawLine(&pen, x1, y1, x2, y2);
    });
}

// ---- Text ----

CUniscribeMeasurer::CUniscribeMeasurer(HDC hdc, CPaintManagerUI* manager, int defaultFont, bool rtl)
    : m_hdc(hdc), m_manager(manager), m_defaultFont(defaultFont), m_rtl(rtl) {}

HFONT CUniscribeMeasurer::FontFor(const TTextStyle& style) {
    int id = style.font >= 0 ? style.font : m_defaultFont;
    if (!m_manager) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    if (id >= 0 && !m_manager->GetFontInfo(id)) id = m_defaultFont;
    return m_manager->GetFont(id, style.bold, style.italic, false);
}

bool CUniscribeMeasurer::Covers(HFONT font, const std::wstring& text, int script) {
    // Known per character: texts of one script differ in their letters (a run of digits is
    // covered by a face that lacks the Latin letters of the next run).
    std::wstring unknown;
    for (wchar_t c : text) {
        if (static_cast<int>(ScriptOf(c)) != script || c <= L' ') continue;
        auto known = m_coverage.find(std::make_pair(font, c));
        if (known == m_coverage.end()) {
            if (unknown.find(c) == std::wstring::npos) unknown.push_back(c);
        } else if (!known->second) {
            return false;
        }
    }
    if (unknown.empty()) return true;
    HGDIOBJ old = SelectObject(m_hdc, font);
    std::vector<WORD> glyphs(unknown.size());
    const bool read = GetGlyphIndicesW(m_hdc, unknown.c_str(), static_cast<int>(unknown.size()), glyphs.data(),
                                       GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR;
    SelectObject(m_hdc, old);
    bool covered = true;
    for (size_t i = 0; i < unknown.size(); ++i) {
        const bool has = read && glyphs[i] != 0xFFFF;
        m_coverage[std::make_pair(font, unknown[i])] = has;
        covered = covered && has;
    }
    return covered;
}

HFONT CUniscribeMeasurer::FontForText(const TTextStyle& style, const std::wstring& text) {
    HFONT primary = FontFor(style);
    Script script = DominantScript(text);
    if (!m_manager || Covers(primary, text, static_cast<int>(script))) return primary;
    // The window's face lacks the script (a language's own name in the language list, or a Latin
    // name in a window whose face has only its language's letters): the same font in a face that
    // has it. Uniscribe's fallback then covers the rest.
    int id = style.font >= 0 ? style.font : m_defaultFont;
    if (id >= 0 && !m_manager->GetFontInfo(id)) id = m_defaultFont;
    for (const wchar_t* face : FallbackFaces(script)) {
        HFONT candidate = m_manager->GetFontWithFace(id, face, style.bold, style.italic);
        if (candidate && Covers(candidate, text, static_cast<int>(script))) return candidate;
    }
    return primary;
}

CUniscribeMeasurer::~CUniscribeMeasurer() {
    for (auto& entry : m_caches) ScriptFreeCache(&entry.second);
}

bool HasRightToLeftLetters(const std::wstring& text) {
    for (wchar_t c : text)
        if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF)) return true;
    return false;
}

bool NeedsOwnShaping(const std::wstring& text, bool rtl) {
    if (rtl || HasRightToLeftLetters(text)) return true;
    for (wchar_t c : text)
        if ((c >= 0x0900 && c <= 0x097F) || (c >= 0x0E00 && c <= 0x0E7F)) return true;
    return false;
}

std::vector<int> VisualOrder(const std::vector<int>& levels) {
    std::vector<int> order(levels.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    if (levels.empty()) return order;
    int highest = *std::max_element(levels.begin(), levels.end());
    int lowestOdd = 0x7FFFFFFF;
    for (int l : levels)
        if (l % 2) lowestOdd = std::min(lowestOdd, l);
    for (int level = highest; level >= lowestOdd && level > 0; --level) {
        size_t i = 0;
        while (i < order.size()) {
            if (levels[order[i]] < level) { ++i; continue; }
            size_t j = i;
            while (j < order.size() && levels[order[j]] >= level) ++j;
            std::reverse(order.begin() + static_cast<std::ptrdiff_t>(i), order.begin() + static_cast<std::ptrdiff_t>(j));
            i = j;
        }
    }
    return order;
}

std::vector<int> ClusterWidths(const WORD* clusters, int chars, const int* advances, int glyphs, bool rightToLeft) {
    std::vector<int> widths(static_cast<size_t>(std::max(0, chars)), 0);
    if (chars <= 0) return widths;
    // The distinct cluster values, ascending: each cluster's glyphs lie between its value and its
    // neighbour's.
    std::vector<int> starts;
    for (int i = 0; i < chars; ++i) starts.push_back(std::min<int>(clusters[i], std::max(0, glyphs - 1)));
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    auto clusterAdvance = [&](int value) {
        size_t k = static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), value) - starts.begin());
        int first, last;  // glyphs [first, last)
        if (rightToLeft) {
            first = k == 0 ? 0 : starts[k - 1] + 1;
            last = k + 1 == starts.size() ? glyphs : value + 1;
        } else {
            first = k == 0 ? 0 : value;
            last = k + 1 < starts.size() ? starts[k + 1] : glyphs;
        }
        int sum = 0;
        for (int g = std::max(0, first); g < std::min(last, glyphs); ++g) sum += advances[g];
        return sum;
    };
    int i = 0;
    while (i < chars) {
        int j = i;
        while (j < chars && clusters[j] == clusters[i]) ++j;
        int value = std::min<int>(clusters[i], std::max(0, glyphs - 1));
        int total = glyphs > 0 ? clusterAdvance(value) : 0;
        int count = j - i;
        for (int c = i; c < j; ++c) widths[c] = total / count;
        widths[i] += total - total / count * count;
        i = j;
    }
    return widths;
}

bool CUniscribeMeasurer::ShapeItem(const std::wstring& text, const SCRIPT_ITEM& item, int length, const TTextStyle& style,
                                   TShapedItem& out, std::vector<int>& widths) {
    out.start = item.iCharPos;
    out.length = length;
    out.level = item.a.s.uBidiLevel;
    const wchar_t* chars = text.c_str() + item.iCharPos;
    out.font = FontForText(style, std::wstring(chars, static_cast<size_t>(length)));
    HGDIOBJ old = SelectObject(m_hdc, out.font);
    SCRIPT_CACHE& cache = m_caches[out.font];
    SCRIPT_ANALYSIS analysis = item.a;
    analysis.fLogicalOrder = 0;  // glyphs in screen order: logical order corrupts one implementation's heap
    std::vector<WORD> clusters(static_cast<size_t>(length));
    int count = 0;
    HRESULT hr = E_FAIL;
    for (int room = length * 3 / 2 + 16; room <= length * 8 + 64; room *= 2) {
        out.glyphs.assign(static_cast<size_t>(room), 0);
        std::vector<SCRIPT_VISATTR> attrs(static_cast<size_t>(room));
        hr = ScriptShape(m_hdc, &cache, chars, length, room, &analysis, out.glyphs.data(), clusters.data(), attrs.data(), &count);
        if (hr == USP_E_SCRIPT_NOT_IN_FONT) {  // the face lacks the script: its glyphs unshaped
            analysis.eScript = SCRIPT_UNDEFINED;
            hr = ScriptShape(m_hdc, &cache, chars, length, room, &analysis, out.glyphs.data(), clusters.data(), attrs.data(), &count);
        }
        if (hr != E_OUTOFMEMORY) {
            if (SUCCEEDED(hr)) {
                out.glyphs.resize(static_cast<size_t>(count));
                attrs.resize(static_cast<size_t>(count));
                out.advances.assign(static_cast<size_t>(count), 0);
                out.offsets.assign(static_cast<size_t>(count), GOFFSET{});
                ABC abc{};
                hr = count > 0 ? ScriptPlace(m_hdc, &cache, out.glyphs.data(), count, attrs.data(), &analysis, out.advances.data(),
                                             out.offsets.data(), &abc)
                               : S_OK;
            }
            break;
        }
    }
    if (SUCCEEDED(hr)) {
        widths = ClusterWidths(clusters.data(), length, out.advances.data(), count, analysis.fRTL != 0);
    } else {
        // Plain GDI as a fall-back (never expected): the characters as they are.
        out.plain = true;
        out.glyphs.clear();
        out.advances.clear();
        out.offsets.clear();
        std::vector<INT> dx(static_cast<size_t>(length));
        SIZE size{};
        INT fit = 0;
        widths.assign(static_cast<size_t>(length), 0);
        if (GetTextExtentExPointW(m_hdc, chars, length, 0x7FFFFFFF, &fit, dx.data(), &size))
            for (int i = 0; i < length; ++i) widths[i] = dx[i] - (i ? dx[i - 1] : 0);
        out.advances = widths;
    }
    SelectObject(m_hdc, old);
    out.width = 0;
    for (int w : widths) out.width += w;
    return true;
}

bool CUniscribeMeasurer::Shape(const std::wstring& text, const TTextStyle& style, TShapedText& out) {
    out = TShapedText{};
    const int n = static_cast<int>(text.size());
    if (n == 0) return false;
    out.widths.assign(text.size(), 0);
    std::vector<SCRIPT_ITEM> items(text.size() + 2);
    int count = 0;
    SCRIPT_CONTROL control{};
    SCRIPT_STATE state{};
    state.uBidiLevel = m_rtl ? 1 : 0;
    if (FAILED(ScriptItemize(text.c_str(), n, static_cast<int>(items.size()) - 1, &control, &state, items.data(), &count)) || count < 1) {
        // One item in the paragraph's direction.
        items[0] = SCRIPT_ITEM{};
        items[0].a.fRTL = m_rtl;
        items[0].a.s.uBidiLevel = m_rtl ? 1 : 0;
        items[1].iCharPos = n;
        count = 1;
    }
    std::vector<int> levels;
    for (int k = 0; k < count; ++k) {
        int length = items[k + 1].iCharPos - items[k].iCharPos;
        if (length <= 0) continue;
        TShapedItem shaped;
        std::vector<int> widths;
        ShapeItem(text, items[k], length, style, shaped, widths);
        for (int i = 0; i < length; ++i) out.widths[shaped.start + i] = widths[i];
        out.width += shaped.width;
        levels.push_back(shaped.level);
        out.items.push_back(std::move(shaped));
    }
    out.visual = VisualOrder(levels);
    return true;
}

void CUniscribeMeasurer::DrawShaped(const std::wstring& text, const TShapedText& shaped, int x, int baseline) {
    // Items in different faces (Arabic letters in a face that has them, a Latin name in the
    // window's face) share the line's baseline.
    UINT oldAlign = SetTextAlign(m_hdc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    const int y = baseline;
    for (int index : shaped.visual) {
        const TShapedItem& item = shaped.items[index];
        HGDIOBJ old = SelectObject(m_hdc, item.font);
        if (item.plain) {
            ExtTextOutW(m_hdc, x, y, 0, nullptr, text.c_str() + item.start, static_cast<UINT>(item.length), nullptr);
            x += item.width;
            SelectObject(m_hdc, old);
            continue;
        }
        // Glyphs without an offset go out together, each advanced by its own width; a glyph with
        // an offset (a mark) on its own.
        size_t g = 0;
        const size_t count = item.glyphs.size();
        while (g < count) {
            const GOFFSET& o = item.offsets[g];
            if (o.du != 0 || o.dv != 0) {
                ExtTextOutW(m_hdc, x + o.du, y - o.dv, ETO_GLYPH_INDEX, nullptr, reinterpret_cast<LPCWSTR>(&item.glyphs[g]), 1, nullptr);
                x += item.advances[g];
                ++g;
                continue;
            }
            size_t end = g;
            std::vector<INT> dx;
            while (end < count && item.offsets[end].du == 0 && item.offsets[end].dv == 0) dx.push_back(item.advances[end++]);
            ExtTextOutW(m_hdc, x, y, ETO_GLYPH_INDEX, nullptr, reinterpret_cast<LPCWSTR>(&item.glyphs[g]), static_cast<UINT>(end - g),
                        dx.data());
            for (INT d : dx) x += d;
            g = end;
        }
        SelectObject(m_hdc, old);
    }
    SetTextAlign(m_hdc, oldAlign);
}

namespace {

// Where a long text may be cut for measuring without changing its shapes: after a blank, or
// between two units of scripts that do not join (Latin, CJK); never inside a surrogate pair or
// before a combining mark.
bool SafeCut(const std::wstring& text, size_t at) {
    wchar_t before = text[at - 1], after = text[at];
    if (IsLowSurrogate(after) || IsArabicMark(after) || (after >= 0x0300 && after <= 0x036F) || (after >= 0x200C && after <= 0x200D))
        return false;
    if (before == L' ' || before == L'\t' || before == L'\n') return true;
    auto plain = [](wchar_t c) {
        Script s = ScriptOf(c);
        return s == Script::Han || s == Script::Kana || s == Script::Hangul || (s == Script::Other && c < 0x0590);
    };
    return plain(before) && plain(after);
}

}  // namespace

std::vector<std::pair<size_t, size_t>> MeasureChunks(const std::wstring& text, size_t longest) {
    std::vector<std::pair<size_t, size_t>> chunks;
    size_t start = 0;
    while (text.size() - start > longest) {
        size_t cut = start + longest;
        while (cut > start + longest / 2 && !SafeCut(text, cut)) --cut;
        if (cut == start + longest / 2) {  // no safe place: any place outside a surrogate pair, not before a mark
            cut = start + longest;
            while (cut > start + 1 && (IsLowSurrogate(text[cut]) || IsArabicMark(text[cut]) || (text[cut] >= 0x0300 && text[cut] <= 0x036F)))
                --cut;
        }
        chunks.emplace_back(start, cut - start);
        start = cut;
    }
    if (start < text.size() || text.empty()) chunks.emplace_back(start, text.size() - start);
    return chunks;
}

void CUniscribeMeasurer::MeasureChars(const std::wstring& text, const TTextStyle& style, std::vector<int>& widths) {
    widths.assign(text.size(), 0);
    if (text.empty()) return;
    HGDIOBJ old = SelectObject(m_hdc, FontForText(style, text));
    // Long texts (a licence of hundreds of items) are measured in pieces: Uniscribe refuses a
    // string of too many items, and one implementation leaves its heap broken when it does.
    for (const auto& chunk : MeasureChunks(text, kLongestMeasuredText)) {
        std::wstring part = text.substr(chunk.first, chunk.second);
        int* out = widths.data() + chunk.first;
        int len = static_cast<int>(part.size());
        std::vector<int> order;
        std::wstring shaped = ShapingText(part, &order);
        if (NeedsOwnShaping(part, m_rtl)) {
            TShapedText own;
            if (Shape(shaped, style, own))
                for (size_t i = 0; i < part.size(); ++i) out[order[i]] = own.widths[i];
            continue;
        }
        SCRIPT_STRING_ANALYSIS ssa = nullptr;
        HRESULT hr = ScriptStringAnalyse(m_hdc, shaped.c_str(), len, len * 3 / 2 + 16, -1, kSsaFlags | (m_rtl ? SSA_RTL : 0), 0,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, &ssa);
        if (SUCCEEDED(hr) && ssa) {
            std::vector<int> shapedWidths(part.size(), 0);
            ScriptStringGetLogicalWidths(ssa, shapedWidths.data());
            for (size_t i = 0; i < part.size(); ++i) out[order[i]] = shapedWidths[i];
            ScriptStringFree(&ssa);
        } else {
            // Plain GDI as a fall-back (never expected).
            std::vector<INT> dx(part.size());
            SIZE size{};
            INT fit = 0;
            if (GetTextExtentExPointW(m_hdc, part.c_str(), len, 0x7FFFFFFF, &fit, dx.data(), &size))
                for (int i = 0; i < len; ++i) out[i] = dx[i] - (i ? dx[i - 1] : 0);
        }
    }
    SelectObject(m_hdc, old);
}

TFontMetrics CUniscribeMeasurer::Metrics(const TTextStyle& style) {
    HGDIOBJ old = SelectObject(m_hdc, FontFor(style));
    TEXTMETRICW tm{};
    GetTextMetricsW(m_hdc, &tm);
    SelectObject(m_hdc, old);
    TFontMetrics m;
    m.height = tm.tmHeight;
    m.ascent = tm.tmAscent;
    return m;
}

void CUniscribeMeasurer::Breaks(const std::wstring& text, std::vector<char>& canBreak, std::vector<char>& space) {
    size_t n = text.size();
    canBreak.assign(n, 0);
    space.assign(n, 0);
    if (n == 0) return;
    std::vector<SCRIPT_ITEM> items(n + 2);
    int count = 0;
    SCRIPT_CONTROL control{};
    SCRIPT_STATE state{};
    if (m_rtl) state.uBidiLevel = 1;
    if (FAILED(ScriptItemize(text.c_str(), static_cast<int>(n), static_cast<int>(items.size()) - 1, &control, &state, items.data(), &count))) {
        for (size_t i = 0; i < n; ++i) {
            space[i] = text[i] == L' ';
            canBreak[i] = i > 0 && text[i - 1] == L' ' && text[i] != L' ';
        }
        return;
    }
    for (int k = 0; k < count; ++k) {
        int start = items[k].iCharPos, end = items[k + 1].iCharPos;
        std::vector<SCRIPT_LOGATTR> attrs(end - start);
        if (SUCCEEDED(ScriptBreak(text.c_str() + start, end - start, &items[k].a, attrs.data())))
            for (int i = start; i < end; ++i) {
                canBreak[i] = attrs[i - start].fSoftBreak;
                space[i] = attrs[i - start].fWhiteSpace;
            }
    }
    for (size_t i = 0; i < n; ++i)
        if (text[i] == L'\t' || text[i] == L'\x3000') space[i] = 1;
}

TTextLayout CRenderEngine::LayoutText(HDC hdc, CPaintManagerUI* manager, const TRichText& rich, int font, int width, UINT style) {
    bool rtl = (style & DT_RTLREADING) != 0;
    CUniscribeMeasurer measurer(hdc, manager, font, rtl);
    TTextLayoutOptions opt;
    opt.maxWidth = width;
    opt.wrap = (style & DT_WORDBREAK) && !(style & DT_SINGLELINE);
    opt.endEllipsis = (style & DT_END_ELLIPSIS) != 0;
    opt.align = (style & DT_CENTER) ? kAlignCenter : (style & DT_RIGHT) ? kAlignRight : kAlignLeft;
    opt.rtl = rtl;
    opt.paragraphSpacing = manager ? manager->Scale(6) : 6;
    return LayoutRichText(rich, measurer, opt);
}

void CRenderEngine::DrawTextLayout(HDC hdc, CPaintManagerUI* manager, const TTextLayout& layout, POINT origin, const RECT& clip,
                                   DWORD color, int font, int hotLink) {
    if (layout.lines.empty()) return;
    RECT area{origin.x, origin.y, origin.x + layout.size.cx, origin.y + layout.size.cy};
    for (const TTextLine& line : layout.lines)
        for (const TTextPiece& p : line.pieces) {
            area.left = std::min<LONG>(area.left, origin.x + p.rc.left);
            area.right = std::max<LONG>(area.right, origin.x + p.rc.right);
        }
    area = UI::Intersect(area, clip);
    if (UI::IsEmptyRect(area)) return;
    AlphaKeeper keep(hdc, RECT{area.left - 2, area.top - 2, area.right + 2, area.bottom + 2});
    int saved = SaveDC(hdc);
    IntersectClipRect(hdc, clip.left, clip.top, clip.right, clip.bottom);
    SetBkMode(hdc, TRANSPARENT);
    CUniscribeMeasurer measurer(hdc, manager, font, layout.rtl);
    for (const TTextLine& line : layout.lines) {
        for (const TTextPiece& p : line.pieces) {
            RECT rc{origin.x + p.rc.left, origin.y + p.rc.top, origin.x + p.rc.right, origin.y + p.rc.bottom};
            if (UI::IsEmptyRect(UI::Intersect(rc, clip))) continue;
            const TTextRun& run = layout.runs[p.run];
            // High contrast: colours written in the text give way to the system's text and link colours.
            const bool systemColours = manager && manager->IsHighContrast();
            DWORD c = color;
            if (run.style.link >= 0 && manager && (systemColours || !run.style.hasColor)) c = manager->GetDefaultLinkColor();
            else if (run.style.hasColor && !systemColours) c = run.style.color;
            if (run.style.link >= 0 && run.style.link == hotLink && manager) c = manager->GetDefaultLinkHoverColor();
            SetTextColor(hdc, UI::ToColorRef(c));
            std::wstring piece = ShapingText(run.text.substr(p.start, p.length));
            HGDIOBJ old = SelectObject(hdc, measurer.FontForText(run.style, piece));
            SCRIPT_STRING_ANALYSIS ssa = nullptr;
            int len = static_cast<int>(piece.size());
            TShapedText own;
            if (NeedsOwnShaping(piece, layout.rtl)) {
                if (measurer.Shape(piece, run.style, own)) measurer.DrawShaped(piece, own, rc.left, origin.y + p.baseline);
            } else if (len > 0 && SUCCEEDED(ScriptStringAnalyse(hdc, piece.c_str(), len, len * 3 / 2 + 16, -1,
                                                         kSsaFlags | (layout.rtl ? SSA_RTL : 0), 0, nullptr, nullptr, nullptr, nullptr,
                                                         nullptr, &ssa)) && ssa) {
                ScriptStringOut(ssa, rc.left, rc.top, 0, nullptr, 0, 0, FALSE);
                ScriptStringFree(&ssa);
            } else if (len > 0) {
                ExtTextOutW(hdc, rc.left, rc.top, 0, nullptr, piece.c_str(), len, nullptr);
            }
            SelectObject(hdc, old);
            int h = UI::Height(rc);
            int thick = std::max(1, h / 18);
            if (run.style.underline) {
                int y = p.baseline + origin.y + std::max(1, h / 10);
                FillRect(hdc, RECT{rc.left, y, rc.right, y + thick}, c | 0xFF000000);
            }
            if (run.style.strike) {
                int y = p.baseline + origin.y - h * 3 / 10;
                FillRect(hdc, RECT{rc.left, y, rc.right, y + thick}, c | 0xFF000000);
            }
        }
    }
    RestoreDC(hdc, saved);
}

void CRenderEngine::DrawText(HDC hdc, CPaintManagerUI* manager, RECT& rc, const std::wstring& text, DWORD color, int font,
                             UINT style, bool html) {
    TRichText rich = ParseRichText(text, html);
    int width = UI::Width(rc);
    if (style & DT_CALCRECT) {
        TTextLayout layout = LayoutText(hdc, manager, rich, font, (style & DT_WORDBREAK) ? width : 0x3FFFFFFF, style & ~DT_CENTER & ~DT_RIGHT);
        rc.right = rc.left + layout.size.cx;
        rc.bottom = rc.top + layout.size.cy;
        return;
    }
    TTextLayout layout = LayoutText(hdc, manager, rich, font, width, style);
    int y = rc.top;
    if (style & DT_VCENTER) y = rc.top + (UI::Height(rc) - layout.size.cy) / 2;
    else if (style & DT_BOTTOM) y = rc.bottom - layout.size.cy;
    DrawTextLayout(hdc, manager, layout, POINT{rc.left, y}, rc, color, font);
}

}  // namespace DuiLib
