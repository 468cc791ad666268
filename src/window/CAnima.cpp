#include "window/CAnima.h"

#include <objidl.h>
#include <gdiplus.h>

#include <easylogging++.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "DuiLib/Control/UIControl.h"
#include "DuiLib/Core/UIImage.h"
#include "DuiLib/Core/UIRender.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UISystemLook.h"
#include "base/TextCodec.h"

namespace {

const wchar_t kBuiltInPattern[] = L"skin\\anima\\%d.png";

std::wstring Format(const wchar_t* pattern, int value) {
    wchar_t text[MAX_PATH + 32] = {};
    std::swprintf(text, sizeof(text) / sizeof(text[0]), pattern, value);
    return text;
}

// A GDI+ view of a toolkit image: both are 32-bit premultiplied BGRA, top-down.
std::unique_ptr<Gdiplus::Bitmap> View(const DuiLib::TImageInfo& image) {
    return std::make_unique<Gdiplus::Bitmap>(image.width, image.height, image.width * 4, PixelFormat32bppPARGB,
                                             image.bits);
}

// A copy of a frame picture at the frame size.
std::unique_ptr<DuiLib::TImageInfo> FrameCopy(const DuiLib::TImageInfo& source, int width, int height) {
    auto copy = DuiLib::ImageCodec::Create(width, height);
    if (!copy) return nullptr;
    auto from = View(source);
    auto to = View(*copy);
    Gdiplus::Graphics g(to.get());
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.DrawImage(from.get(), Gdiplus::Rect(0, 0, width, height), 0, 0, source.width, source.height,
                Gdiplus::UnitPixel);
    return copy;
}

// True when a GDI font of the face has a glyph for every visible character of the text.
bool FaceCovers(const std::wstring& face, const std::wstring& text) {
    std::wstring visible;
    for (wchar_t c : text)
        if (c > L' ' && c != 0x200C && c != 0x200D) visible += c;
    if (visible.empty()) return true;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return true;
    HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH, face.c_str());
    HGDIOBJ old = SelectObject(dc, font);
    std::vector<WORD> glyphs(visible.size());
    const DWORD result =
        GetGlyphIndicesW(dc, visible.c_str(), static_cast<int>(visible.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    if (result == GDI_ERROR) return false;
    return std::find(glyphs.begin(), glyphs.end(), WORD(0xFFFF)) == glyphs.end();
}

}  // namespace

bool CAnima::GdiplusDrawsCaption(const std::wstring& face, const std::wstring& text, bool bold) {
    if (text.empty()) return true;
    if (face.empty()) return false;
    Gdiplus::FontFamily family(face.c_str());
    if (family.GetLastStatus() != Gdiplus::Ok) return false;
    Gdiplus::Font font(&family, 11, bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular);
    return font.GetLastStatus() == Gdiplus::Ok && FaceCovers(face, text);
}

CAnima::CAnima(HWND window, DuiLib::CControlUI* target, DuiLib::CPaintManagerUI* pm, const Settings& settings)
    : m_window(window),
      m_target(target),
      m_pm(pm),
      m_frameCount(settings.frameCount),
      m_fontFace(settings.fontFace),
      m_uiFace(settings.uiFace),
      m_whiteCaptions(settings.whiteCaptions),
      m_dots(settings.dots) {
    DuiLib::ImageCodec::EnsureGdiplus();
    if (m_target) m_area = m_target->GetPos();
    // The frames are as large as the carousel area in window pixels: made at the window's scale,
    // they are drawn without resizing.
    m_scale = m_pm ? m_pm->GetScale() : 100;
    const int width = m_area.right - m_area.left;
    const int height = m_area.bottom - m_area.top;
    if (width > 0 && height > 0) {
        m_width = width;
        m_height = height;
    } else {
        m_width = MulDiv(kDefaultWidth, m_scale, 100);
        m_height = MulDiv(kDefaultHeight, m_scale, 100);
    }
}

std::wstring CAnima::MergedName(int i, int j) {
    wchar_t text[32] = {};
    std::swprintf(text, 32, L"Merge%02d%02d.png", i, j);
    return text;
}

std::wstring CAnima::StepName(int i, int j, int step) {
    wchar_t text[8] = {};
    std::swprintf(text, 8, L"%02d", step);
    return MergedName(i, j) + text;
}

int CAnima::StepOffset(int width, int step) {
    // Multiplied before dividing, so the last step lands on the frame for every width.
    return width * step / kSteps;
}

void CAnima::FillCaptions() {
    if (!m_captions.empty() || !m_extraCaptions.empty() || !m_pm) return;
    for (int i = 1;; ++i) {
        DuiLib::CControlUI* caption = m_pm->FindControl(Format(L"anima_text_%d", i));
        DuiLib::CControlUI* extra = m_pm->FindControl(Format(L"anima_text_extra_%d", i));
        if (!caption && !extra) break;
        m_captions.push_back(caption ? caption->GetText() : std::wstring());
        m_extraCaptions.push_back(extra ? extra->GetText() : std::wstring());
    }
}

void CAnima::DrawCaptions(HBITMAP target, BYTE* bits, int frame) {
    const size_t index = static_cast<size_t>(frame - 1);
    std::wstring caption = index < m_captions.size() ? m_captions[index] : std::wstring();
    const std::wstring extra = index < m_extraCaptions.size() ? m_extraCaptions[index] : std::wstring();
    if (caption.empty() && extra.empty()) return;
    const size_t brace = caption.find(L"{n}");
    if (brace != std::wstring::npos) caption.replace(brace, 3, L"\n");
    // A carousel face that GDI+ cannot make, or that lacks the caption's script (Devanagari or Thai
    // in a Chinese face, say), would draw nothing or empty boxes: the captions are then drawn
    // by the toolkit's text in the language's own face, which falls back per script and shapes.
    if (!GdiplusDrawsCaption(m_fontFace, caption, true) || !GdiplusDrawsCaption(m_fontFace, extra, false)) {
        DrawCaptionsWithToolkit(target, bits, caption, extra);
        return;
    }

    Gdiplus::Bitmap bitmap(m_width, m_height, m_width * 4, PixelFormat32bppPARGB, bits);
    Gdiplus::Graphics g(&bitmap);
    // The caption's places and sizes are of the frame at 100 %.
    const float k = static_cast<float>(m_scale) / 100.0f;
    g.ScaleTransform(k, k);
    const float logicalWidth = static_cast<float>(MulDiv(m_width, 100, m_scale));
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    // A face the machine lacks falls back to Tahoma, which every Windows has.
    Gdiplus::FontFamily family(m_fontFace.c_str());
    Gdiplus::FontFamily fallback(L"Tahoma");
    const Gdiplus::FontFamily* use = family.GetLastStatus() == Gdiplus::Ok ? &family : &fallback;
    const Gdiplus::Color colour(CaptionColour());
    Gdiplus::SolidBrush brush(colour);
    if (!caption.empty()) {
        Gdiplus::Font font(use, 11, Gdiplus::FontStyleBold);
        Gdiplus::StringFormat format;
        format.SetAlignment(Gdiplus::StringAlignmentCenter);
        format.SetLineAlignment(Gdiplus::StringAlignmentNear);
        Gdiplus::RectF rect(30.0f, 40.0f, logicalWidth - 60.0f, 100.0f);
        g.DrawString(caption.c_str(), -1, &font, rect, &format, &brush);
    }
    if (!extra.empty()) {
        Gdiplus::Font font(use, 11, Gdiplus::FontStyleRegular);
        Gdiplus::StringFormat format;
        format.SetAlignment(Gdiplus::StringAlignmentCenter);
        format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
        Gdiplus::RectF rect(194.0f, 40.0f, 178.0f, 65.0f);
        g.DrawString(extra.c_str(), -1, &font, rect, &format, &brush);
    }
}

void CAnima::DrawCaptionsWithToolkit(HBITMAP target, BYTE* bits, const std::wstring& caption, const std::wstring& extra) {
    if (!target || !bits) return;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return;
    // GDI's text clears the alpha of the pixels it touches, glyphs that reach past their advance
    // too: the frame's alpha is put back afterwards.
    const size_t pixels = static_cast<size_t>(m_width) * m_height;
    std::vector<BYTE> alpha(pixels);
    for (size_t i = 0; i < pixels; ++i) alpha[i] = bits[i * 4 + 3];
    HGDIOBJ old = SelectObject(dc, target);
    // Fonts of their own at the frame's size (11 points at 96 dots an inch), in the language's face.
    DuiLib::CPaintManagerUI fonts;
    const std::wstring face = m_uiFace.empty() ? m_fontFace : m_uiFace;
    fonts.AddFont(1, DuiLib::TFontInfo{face, 15, true, false, false}, true);
    fonts.AddFont(2, DuiLib::TFontInfo{face, 15, false, false, false});
    fonts.SetScale(m_scale);
    auto at = [&](int logical) { return MulDiv(logical, m_scale, 100); };
    const DWORD colour = CaptionColour();
    UINT direction = DuiLib::HasRightToLeftLetters(caption + extra) ? DT_RTLREADING : 0;
    if (!caption.empty()) {
        std::wstring lines;  // the line break as markup, braces of the text kept as text
        for (wchar_t c : caption) {
            if (c == L'\n') lines += L"{n}";
            else if (c == L'{') lines += L"{r}{{/r}";
            else lines += c;
        }
        RECT rc{at(30), at(40), m_width - at(30), at(140)};
        DuiLib::CRenderEngine::DrawText(dc, &fonts, rc, lines, colour, 1, DT_CENTER | DT_TOP | DT_WORDBREAK | direction, true);
    }
    if (!extra.empty()) {
        RECT rc{at(194), at(40), at(194 + 178), at(40 + 65)};
        DuiLib::CRenderEngine::DrawText(dc, &fonts, rc, extra, colour, 2, DT_CENTER | DT_VCENTER | DT_WORDBREAK | direction, false);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    GdiFlush();
    for (size_t i = 0; i < pixels; ++i) {
        BYTE* p = bits + i * 4;
        p[3] = alpha[i];
        for (int k = 0; k < 3; ++k) p[k] = std::min(p[k], alpha[i]);
    }
}

int CAnima::HorizontalMoveAnimaInit(const std::wstring& prefix, const std::wstring& extension) {
    LOG(INFO) << " AnimaInit: " << TextCodec::WideToUtf8(prefix) << ", " << TextCodec::WideToUtf8(extension);
    FillCaptions();
    if (!m_pm) return 1;
    DuiLib::CImageCache& cache = m_pm->GetImageCache();
    const bool bannerMode = !prefix.empty();
    const std::wstring pattern = bannerMode ? prefix + L"%d" + extension : std::wstring(kBuiltInPattern);

    // Every frame once, at the frame size, captions drawn where the picture is a built-in one.
    std::vector<std::unique_ptr<DuiLib::TImageInfo>> frames(static_cast<size_t>(std::max(m_frameCount, 0)) + 1);
    for (int f = 1; f <= m_frameCount; ++f) {
        // At the window's scale: the @2x frame above 100 %.
        const DuiLib::TImageInfo* source = cache.GetScaled(Format(pattern.c_str(), f), m_scale);
        bool captions = !bannerMode;
        if (!source && bannerMode) {
            source = cache.GetScaled(Format(kBuiltInPattern, f), m_scale);
            LOG(INFO) << " AnimaInit, use default: " << f;
            captions = true;
        }
        if (!source) continue;
        frames[f] = FrameCopy(*source, m_width, m_height);
        if (frames[f]) frames[f]->alpha = source->alpha;
        if (frames[f] && captions) DrawCaptions(frames[f]->hBitmap, frames[f]->bits, f);
    }
    // The first frame also stands alone, for the start of the slide show (even with one frame).
    if (m_frameCount >= 1 && frames[1]) {
        auto first = DuiLib::ImageCodec::Create(m_width, m_height);
        if (first) {
            std::copy(frames[1]->bits, frames[1]->bits + size_t(m_width) * m_height * 4, first->bits);
            cache.Add(L"FirstFrame", std::move(first), m_scale);
        }
    }

    m_mergedCount = 0;
    for (int i = 1; i <= m_frameCount; ++i) {
        for (int j = i + 1; j <= m_frameCount; ++j) {
            if (!frames[i] || !frames[j]) continue;
            auto merged = DuiLib::ImageCodec::Create(2 * m_width, m_height);
            if (!merged) continue;
            const size_t rowBytes = size_t(m_width) * 4;
            for (int y = 0; y < m_height; ++y) {
                BYTE* row = merged->bits + size_t(y) * rowBytes * 2;
                std::copy(frames[i]->bits + y * rowBytes, frames[i]->bits + (y + 1) * rowBytes, row);
                std::copy(frames[j]->bits + y * rowBytes, frames[j]->bits + (y + 1) * rowBytes, row + rowBytes);
            }
            merged->alpha = frames[i]->alpha || frames[j]->alpha;
            cache.Add(MergedName(i, j), std::move(merged), m_scale);
            ++m_mergedCount;
        }
    }
    LOG(INFO) << " AnimaInit ok: " << m_frameCount << ", " << m_mergedCount;
    return 1;
}

std::wstring CAnima::MakeStep(int low, int high, int k) {
    const std::wstring name = StepName(low, high, k);
    DuiLib::CImageCache& cache = m_pm->GetImageCache();
    if (cache.Exists(name)) return name;
    const DuiLib::TImageInfo* merged = cache.Get(MergedName(low, high));
    if (!merged || merged->width < 2 * m_width || merged->height < m_height) return name;
    auto step = DuiLib::ImageCodec::Create(m_width, m_height);
    if (!step) return name;
    // The cut of the merged picture composed over opaque white.
    const int offset = StepOffset(m_width, k);
    for (int y = 0; y < m_height; ++y) {
        const BYTE* src = merged->bits + (size_t(y) * merged->width + offset) * 4;
        BYTE* dst = step->bits + size_t(y) * m_width * 4;
        for (int x = 0; x < m_width; ++x, src += 4, dst += 4) {
            const int clear = 255 - src[3];
            dst[0] = BYTE(src[0] + clear);
            dst[1] = BYTE(src[1] + clear);
            dst[2] = BYTE(src[2] + clear);
            dst[3] = 255;
        }
    }
    step->alpha = false;
    cache.Add(name, std::move(step), m_scale);
    ++m_stepsMade;
    return name;
}

void CAnima::Show(const std::wstring& name) {
    if (!m_target) return;
    // The step as the area's picture; the dots over it are painted with it.
    m_target->SetBkImage(name);
    m_pm->Invalidate(m_target->GetPos());
}

void CAnima::AdvanceSlide() {
    if (!m_slide.active) return;
    const int s = ++m_slide.step;
    Show(MakeStep(m_slide.low, m_slide.high, m_slide.forward ? s : kSteps - s));
    if (s >= kSteps) {
        m_slide.active = false;
        if (m_window) KillTimer(m_window, kStepTimer);
    }
}

int CAnima::Animate(int from, int to) {
    if (m_frameCount == 1 || from == to || m_mode != 1 || !m_pm) return 1;
    if (from < 1 || to < 1 || from > m_frameCount || to > m_frameCount) return 1;
    FinishSlide();
    m_slide.active = true;
    m_slide.low = std::min(from, to);
    m_slide.high = std::max(from, to);
    m_slide.forward = from < to;
    m_slide.step = 0;
    if (!DuiLib::SystemLook::ClientAreaAnimation()) {
        // The user turned animations off: the target frame, without the slide.
        m_slide.step = kSteps - 1;
        AdvanceSlide();
        return 1;
    }
    if (!m_window) {
        FinishSlide();  // no window to tick: every step at once
        return 1;
    }
    AdvanceSlide();
    SetTimer(m_window, kStepTimer, kStepMs, nullptr);
    return 1;
}

bool CAnima::OnStepTimer() {
    AdvanceSlide();
    if (!m_slide.active && m_window) KillTimer(m_window, kStepTimer);
    return m_slide.active;
}

void CAnima::FinishSlide() {
    while (m_slide.active) AdvanceSlide();
}

void CAnima::ShowFrame(int k) {
    if (!m_pm || k < 1 || k > m_frameCount) return;
    FinishSlide();
    // Frame 1 stands alone; frame k > 1 is the last step of the slide from 1 to k.
    Show(k == 1 ? std::wstring(L"FirstFrame") : MakeStep(1, k, kSteps));
}
