#pragma once
// The picture carousel of the running page: frames slide horizontally from one to another in 25
// steps. Every pair of frames is merged once into one picture twice a frame wide, and each step
// of a slide is a frame-sized cut of that picture, made on first use and kept in the toolkit's
// image cache, so later slides of the same pair (either way) reuse it. Captions from the
// language file are drawn onto the built-in frames; downloaded banners carry their own.
// Every picture is made at the window's scale (from the @2x frames above 100 %), so it is drawn
// pixel for pixel. A slide runs on a window timer, one step a tick, and never holds the window's
// thread; with the system's client-area animations off the target frame shows at once.
#include <windows.h>

#include <string>
#include <vector>

namespace DuiLib {
class CControlUI;
class CPaintManagerUI;
}

class CAnima {
public:
    // What the window gives the carousel besides its toolkit objects.
    struct Settings {
        int frameCount = 0;
        std::wstring fontFace;       // the language's carousel font
        std::wstring uiFace;         // the language's window face: captions the carousel font cannot draw
        bool whiteCaptions = false;  // products whose frames are dark
        std::vector<DuiLib::CControlUI*> dots;
    };

    // Frame size when the carousel area has none yet.
    static constexpr int kDefaultWidth = 650;
    static constexpr int kDefaultHeight = 300;
    static constexpr int kSteps = 25;
    static constexpr DWORD kStepMs = 50;
    static constexpr DWORD kGreyCaption = 0xFF4A4A4A;
    static constexpr DWORD kWhiteCaption = 0xFFFFFFFF;
    // The window timer of a slide's steps (the window gives its ticks to OnStepTimer).
    static constexpr UINT_PTR kStepTimer = 2001;

    CAnima(HWND window, DuiLib::CControlUI* target, DuiLib::CPaintManagerUI* pm, const Settings& settings);

    // Merges every pair of frames (prefix + "%d" + extension, or the built-in frames when the
    // prefix is empty, with built-in ones standing in for missing pictures). Returns 1.
    int HorizontalMoveAnimaInit(const std::wstring& prefix, const std::wstring& extension);
    // Starts the slide from frame from to frame to (1-based); a slide still running ends at its
    // last step first. With a window the steps follow on its timer; without one (or with the
    // system's animations off) the slide ends before this returns. Returns 1.
    int Animate(int from, int to);
    // One step of the running slide (the window's kStepTimer tick); false once it has ended.
    bool OnStepTimer();
    // Ends the running slide at its last step.
    void FinishSlide();
    bool IsSliding() const { return m_slide.active; }
    // Shows frame k alone (1-based) in the carousel area: after a change of scale or of pictures.
    void ShowFrame(int k);

    int FrameCount() const { return m_frameCount; }
    // Frame size in window pixels (the carousel area at the window's scale).
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Mode() const { return m_mode; }
    int Scale() const { return m_scale; }
    int MergedCount() const { return m_mergedCount; }
    // Step images made (not reused) by all slides so far.
    int StepsMade() const { return m_stepsMade; }
    const std::vector<std::wstring>& Captions() const { return m_captions; }
    const std::vector<std::wstring>& ExtraCaptions() const { return m_extraCaptions; }
    DWORD CaptionColour() const { return m_whiteCaptions ? kWhiteCaption : kGreyCaption; }

    static std::wstring MergedName(int i, int j);
    static std::wstring StepName(int i, int j, int step);
    // Horizontal offset in the merged picture of step k (0 to 25) of a frame width.
    static int StepOffset(int width, int step);
    // Whether GDI+ draws the text in the face: the face can be made in the style and has a glyph
    // for every character of the text (an empty text: always).
    static bool GdiplusDrawsCaption(const std::wstring& face, const std::wstring& text, bool bold);

private:
    struct Slide {
        bool active = false;
        int low = 0, high = 0;
        bool forward = true;
        int step = 0;  // steps shown so far, 0 to kSteps
    };
    // The step image k (0 to kSteps) of the pair low < high, made when the cache has none.
    std::wstring MakeStep(int low, int high, int k);
    void Show(const std::wstring& name);
    void AdvanceSlide();
    void FillCaptions();
    void DrawCaptions(HBITMAP target, BYTE* bits, int frame);
    void DrawCaptionsWithToolkit(HBITMAP target, BYTE* bits, const std::wstring& caption, const std::wstring& extra);

    HWND m_window;
    DuiLib::CControlUI* m_target;
    DuiLib::CPaintManagerUI* m_pm;
    RECT m_area{};
    int m_mode = 1;
    int m_frameCount = 0;
    int m_width = kDefaultWidth;
    int m_height = kDefaultHeight;
    std::wstring m_fontFace;
    std::wstring m_uiFace;
    bool m_whiteCaptions = false;
    std::vector<DuiLib::CControlUI*> m_dots;
    std::vector<std::wstring> m_captions;
    std::vector<std::wstring> m_extraCaptions;
    int m_mergedCount = 0;
    int m_stepsMade = 0;
    int m_scale = 100;
    Slide m_slide;
};
