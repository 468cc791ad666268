// The picture carousel: the merged pictures and the steps of a slide (made once, reused the other
// way), banners standing in for built-in frames, the dots and the timer of the running page, the
// captions' colour, and the banners fetched from the local services reaching the carousel.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Core/UIImage.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UISystemLook.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "support/analytics_identity.h"
#include "support/installer_window.h"
#include "support/local_services.h"
#include "support/log_capture.h"
#include "support/recording_report.h"
#include "support/skin_archive.h"
#include "support/test_support.h"
#include "support/window_driver.h"
#include "window/CAnima.h"
#include "window/install_ui_mainwnd.h"

using namespace window_driver;

namespace {

std::unique_ptr<DuiLib::TImageInfo> Solid(int w, int h, DWORD argb) {
    auto image = DuiLib::ImageCodec::Create(w, h);
    for (int i = 0; i < w * h; ++i) reinterpret_cast<DWORD*>(image->bits)[i] = argb;
    image->alpha = false;
    return image;
}

DWORD Rgb(DWORD pixel) { return pixel & 0xFFFFFF; }

const DWORD kFrameColours[] = {0, 0xFF102030, 0xFF204060, 0xFF306090, 0xFF4080C0, 0xFF50A0F0};

// Built-in frames of one colour each, in a paint manager without a window.
class AnimaTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int f = 1; f <= 5; ++f)
            pm_.AddImage(L"skin\\anima\\" + std::to_wstring(f) + L".png", Solid(650, 300, kFrameColours[f]));
    }
    std::unique_ptr<CAnima> Make(int frames) {
        CAnima::Settings settings;
        settings.frameCount = frames;
        return std::make_unique<CAnima>(nullptr, nullptr, &pm_, settings);
    }
    const DuiLib::TImageInfo* Image(const std::wstring& name) { return pm_.GetImageCache().Get(name); }
    DuiLib::CPaintManagerUI pm_;
};

TEST_F(AnimaTest, MergesEveryPair) {
    auto anima = Make(5);
    EXPECT_EQ(anima->Width(), 650);
    EXPECT_EQ(anima->Height(), 300);
    EXPECT_EQ(anima->HorizontalMoveAnimaInit(L"", L""), 1);
    EXPECT_EQ(anima->MergedCount(), 10);
    for (int i = 1; i <= 5; ++i) {
        for (int j = i + 1; j <= 5; ++j) {
            const DuiLib::TImageInfo* merged = Image(CAnima::MergedName(i, j));
            ASSERT_TRUE(merged) << i << "," << j;
            EXPECT_EQ(merged->width, 1300);
            EXPECT_EQ(merged->height, 300);
            EXPECT_EQ(Rgb(merged->PixelAt(649, 150)), Rgb(kFrameColours[i]));
            EXPECT_EQ(Rgb(merged->PixelAt(650, 150)), Rgb(kFrameColours[j]));
        }
    }
    EXPECT_EQ(CAnima::MergedName(1, 3), L"Merge0103.png");
    EXPECT_EQ(CAnima::StepName(1, 3, 7), L"Merge0103.png07");
    const DuiLib::TImageInfo* first = Image(L"FirstFrame");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 650);
    EXPECT_EQ(Rgb(first->PixelAt(10, 10)), Rgb(kFrameColours[1]));
}

TEST_F(AnimaTest, SlideStepsAreCutOnceAndReusedBackwards) {
    struct {
        int width, step, offset;
    } offsets[] = {{650, 1, 26}, {650, 25, 650}, {648, 25, 648}, {648, 24, 622}, {648, 0, 0}};
    for (const auto& o : offsets) EXPECT_EQ(CAnima::StepOffset(o.width, o.step), o.offset) << o.width << "/" << o.step;

    auto anima = Make(5);
    anima->HorizontalMoveAnimaInit(L"", L"");
    // Without a window to tick, the slide has ended when Animate returns.
    anima->Animate(1, 3);
    EXPECT_FALSE(anima->IsSliding());
    EXPECT_EQ(anima->StepsMade(), 25);
    for (int k = 1; k <= 25; ++k) {
        const DuiLib::TImageInfo* step = Image(CAnima::StepName(1, 3, k));
        ASSERT_TRUE(step) << k;
        const int offset = CAnima::StepOffset(650, k);
        // Column x of the step is column offset + x of frames 1 and 3 side by side.
        for (int x : {0, 325, 649}) {
            const int at = offset + x;
            EXPECT_EQ(Rgb(step->PixelAt(x, 100)), Rgb(kFrameColours[at < 650 ? 1 : 3])) << k << "," << x;
        }
    }
    EXPECT_FALSE(Image(CAnima::StepName(1, 3, 0)));
    anima->Animate(3, 1);
    EXPECT_EQ(anima->StepsMade(), 26);  // only step 0 is new
    ASSERT_TRUE(Image(CAnima::StepName(1, 3, 0)));
    EXPECT_EQ(Rgb(Image(CAnima::StepName(1, 3, 0))->PixelAt(649, 0)), Rgb(kFrameColours[1]));
    anima->Animate(2, 2);
    anima->Animate(1, 9);
    EXPECT_EQ(anima->StepsMade(), 26);
}

// Captions in every script of the languages show their letters: a carousel face that GDI+ cannot
// make or that lacks the script gives way to the language's window face drawn by the toolkit; a
// face that has the script keeps GDI+. Ink lands in the caption band in each case.
TEST_F(AnimaTest, CaptionsOfEveryScriptAreDrawn) {
    struct Case {
        const char* what;
        const wchar_t* carouselFace;
        const wchar_t* uiFace;
        const wchar_t* caption;
        bool gdiplus;  // the carousel face draws it through GDI+
    };
    const Case cases[] = {
        {"English", L"Microsoft YaHei", L"Segoe UI", L"Fast downloads{n}and easy setup", true},
        {"Hindi", L"Microsoft YaHei", L"Nirmala UI",
         L"\x0924\x0947\x091C\x093C \x0921\x093E\x0909\x0928\x0932\x094B\x0921{n}\x0914\x0930 \x0906\x0938\x093E\x0928 \x0938\x0947\x091F\x0905\x092A", false},
        {"Thai", L"Microsoft YaHei", L"Leelawadee UI", L"\x0E14\x0E32\x0E27\x0E19\x0E4C\x0E42\x0E2B\x0E25\x0E14\x0E40\x0E23\x0E47\x0E27", false},
        {"Arabic", L"Times New Roman", L"Segoe UI", L"\x062A\x0646\x0632\x064A\x0644 \x0633\x0631\x064A\x0639", false},
        {"a face the machine lacks", L"No Such Face Anywhere", L"Segoe UI", L"Fast downloads", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DuiLib::CPaintManagerUI pm;
        for (int f = 1; f <= 2; ++f) pm.AddImage(L"skin\\anima\\" + std::to_wstring(f) + L".png", Solid(650, 300, 0xFFFFFFFF));
        auto root = std::make_unique<DuiLib::CContainerUI>();
        auto label = std::make_unique<DuiLib::CLabelUI>();
        label->SetName(L"anima_text_1");
        label->SetText(c.caption);
        root->Add(std::move(label));
        pm.AttachRoot(std::move(root));
        CAnima::Settings settings;
        settings.frameCount = 2;
        settings.fontFace = c.carouselFace;
        settings.uiFace = c.uiFace;
        CAnima anima(nullptr, nullptr, &pm, settings);
        std::wstring plain = c.caption;
        plain.replace(plain.find(L"{n}") == std::wstring::npos ? plain.size() : plain.find(L"{n}"),
                      plain.find(L"{n}") == std::wstring::npos ? 0 : 3, L"\n");
        EXPECT_EQ(CAnima::GdiplusDrawsCaption(c.carouselFace, plain, true), c.gdiplus);
        anima.HorizontalMoveAnimaInit(L"", L".png");
        const DuiLib::TImageInfo* first = pm.GetImageCache().Get(L"FirstFrame");
        ASSERT_TRUE(first);
        int ink = 0, outside = 0;
        for (int y = 0; y < first->height; ++y)
            for (int x = 0; x < first->width; ++x) {
                DWORD p = first->PixelAt(x, y);
                bool dark = (p & 0xFF) < 160 && ((p >> 8) & 0xFF) < 160;
                bool band = x >= 30 && x < first->width - 30 && y >= 40 && y < 140;
                (band ? ink : outside) += dark ? 1 : 0;
                EXPECT_EQ(p >> 24, 0xFFu) << x << "," << y;  // the frame stays opaque under the text
                if ((p >> 24) != 0xFF) return;
            }
        EXPECT_GT(ink, 60);
        EXPECT_EQ(outside, 0);
    }
}

TEST_F(AnimaTest, OneFrameNeverSlides) {
    auto anima = Make(1);
    anima->HorizontalMoveAnimaInit(L"", L"");
    EXPECT_EQ(anima->MergedCount(), 0);
    EXPECT_TRUE(Image(L"FirstFrame"));
    anima->Animate(1, 2);
    EXPECT_EQ(anima->StepsMade(), 0);
}

TEST_F(AnimaTest, BannersStandInForTheFramesTheyHave) {
    LogCapture log;
    pm_.AddImage(L"C:\\work\\1.png", Solid(650, 300, 0xFFAA0000));
    pm_.AddImage(L"C:\\work\\2.png", Solid(650, 300, 0xFF00AA00));
    auto anima = Make(5);
    anima->HorizontalMoveAnimaInit(L"C:\\work\\", L".png");
    EXPECT_EQ(anima->MergedCount(), 10);
    EXPECT_EQ(Rgb(Image(L"FirstFrame")->PixelAt(5, 5)), 0xAA0000u);
    const DuiLib::TImageInfo* merged = Image(CAnima::MergedName(2, 3));
    EXPECT_EQ(Rgb(merged->PixelAt(5, 5)), 0x00AA00u);
    EXPECT_EQ(Rgb(merged->PixelAt(655, 5)), Rgb(kFrameColours[3]));
    EXPECT_TRUE(log.contains(" AnimaInit, use default: 3"));
    EXPECT_FALSE(log.contains(" AnimaInit, use default: 2"));
    EXPECT_TRUE(log.contains(" AnimaInit ok: 5, 10"));
}

// ---- The carousel in the installer window ----

class TestWindow : public InstallUIMainWnd {
public:
    DuiLib::CPaintManagerUI& Pm() { return m_pm; }
    int bannerMessages = 0;
    LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override {
        if (msg == kMsgBannersReady) {
            ++bannerMessages;
            OnBannersReady();
            handled = TRUE;
            return 0;
        }
        return InstallUIMainWnd::HandleCustomMessage(msg, wParam, lParam, handled);
    }
    void OnTimer(UINT_PTR id) override {
        if (id == kCarouselTimer) OnCarouselTimer();
        InstallUIMainWnd::OnTimer(id);
    }
};

class CarouselWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetMainWindowClassName(L"QV_UI_Frame_carousel_test"); }
    void TearDown() override {
        DuiLib::SystemLook::OverrideClientAreaAnimation(-1);
        installer_window::Close(window_, log_);
        FuntionImpl::SetDataServiceHost("");
    }
    // Opens the window over the source skin (with some labels and skin files changed) and shows
    // the running page as the installation does.
    void Open(const std::map<std::string, std::string>& labels, const std::map<std::string, std::string>& files = {}) {
        std::map<std::string, std::string> replaced = files;
        replaced["configure/configure.xml"] = test_support::ConfigureWith(labels);
        ASSERT_TRUE(installer_window::Open(test_support::MakeSkinArchive(replaced), report_, log_, window_));
        Pump(200);
        auto* tab = dynamic_cast<DuiLib::CTabLayoutUI*>(window_->Pm().FindControl(L"main_tablayout"));
        ASSERT_TRUE(tab);
        tab->SelectItem(1);
        window_->Pm().UpdateLayout();
    }
    HWND Hwnd() { return window_->GetHWND(); }
    std::wstring Shown() { return window_->Pm().FindControl(L"image_play")->GetBkImage(); }
    bool DotSelected(int n) {
        auto* dot = dynamic_cast<DuiLib::COptionUI*>(window_->Pm().FindControl(L"image_play_option" + std::to_wstring(n)));
        return dot && dot->IsSelected();
    }
    const DuiLib::TImageInfo* Image(const std::wstring& name) { return window_->Pm().GetImageCache().Get(name); }

    RecordingReport report_;
    std::unique_ptr<CSingleUserLog> log_;
    std::unique_ptr<TestWindow> window_;
};

TEST_F(CarouselWindowTest, DotsSlideAndTheTimerAdvances) {
    Open({});
    window_->StartCarousel();
    CAnima* anima = window_->Carousel();
    ASSERT_TRUE(anima);
    // The frames are as large as the carousel area of the shipped layout.
    EXPECT_EQ(anima->Width(), 648);
    EXPECT_EQ(anima->Height(), 300);
    EXPECT_EQ(anima->FrameCount(), 5);
    EXPECT_EQ(anima->MergedCount(), 10);
    EXPECT_EQ(Shown(), L"FirstFrame");
    EXPECT_TRUE(DotSelected(1));

    ASSERT_TRUE(Click(Hwnd(), L"image_play_option3"));
    PumpUntil([&] { return window_->CurrentFrame() == 3 && !anima->IsSliding(); }, 3000);
    EXPECT_EQ(window_->CurrentFrame(), 3);
    EXPECT_EQ(Shown(), L"Merge0103.png25");
    EXPECT_EQ(anima->StepsMade(), 25);
    ASSERT_TRUE(Click(Hwnd(), L"image_play_option1"));
    PumpUntil([&] { return window_->CurrentFrame() == 1 && !anima->IsSliding(); }, 3000);
    EXPECT_EQ(Shown(), L"Merge0103.png00");
    EXPECT_EQ(anima->StepsMade(), 26);

    // The timer's tick selects the next dot; after the last one comes the first.
    window_->OnCarouselTimer();
    EXPECT_EQ(window_->CurrentFrame(), 2);
    EXPECT_TRUE(DotSelected(2));
    for (int i = 0; i < 3; ++i) window_->OnCarouselTimer();
    EXPECT_EQ(window_->CurrentFrame(), 5);
    window_->OnCarouselTimer();
    EXPECT_EQ(window_->CurrentFrame(), 1);
    EXPECT_TRUE(DotSelected(1));
    PumpUntil([&] { return !anima->IsSliding(); }, 3000);
    EXPECT_EQ(Shown(), L"Merge0105.png00");

    // Timer 2000 runs until the carousel stops.
    EXPECT_TRUE(KillTimer(Hwnd(), InstallUIMainWnd::kCarouselTimer));
    window_->StartCarousel();
    window_->StopCarousel();
    EXPECT_FALSE(KillTimer(Hwnd(), InstallUIMainWnd::kCarouselTimer));
}

// A slide runs on the window's timer: no message of the window's thread takes long while the
// frames move, and the steps still come one by one until the target frame shows. With the
// system's client-area animations off there is no slide: the target frame shows at once.
TEST_F(CarouselWindowTest, SlidesNeverHoldTheWindowsThreadAndRespectAnimationsOff) {
    struct Case {
        const char* what;
        int animations;
    } cases[] = {{"animations on", 1}, {"animations off", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DuiLib::SystemLook::OverrideClientAreaAnimation(c.animations);
        Open({});
        window_->StartCarousel();
        CAnima* anima = window_->Carousel();
        ASSERT_TRUE(anima);
        ASSERT_TRUE(Click(Hwnd(), L"image_play_option3"));
        // Dispatch every message by hand and time the longest.
        DWORD longest = 0;
        int stepsSeen = 0;
        std::wstring last;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 3000) {
            MSG msg;
            if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (window_->CurrentFrame() == 3 && !anima->IsSliding()) break;
                Sleep(5);
                continue;
            }
            const DWORD before = GetTickCount();
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            longest = std::max<DWORD>(longest, GetTickCount() - before);
            if (Shown() != last) {
                last = Shown();
                ++stepsSeen;
            }
        }
        EXPECT_EQ(window_->CurrentFrame(), 3);
        EXPECT_FALSE(anima->IsSliding());
        EXPECT_EQ(Shown(), L"Merge0103.png25");
        EXPECT_LT(longest, 8 * CAnima::kStepMs);
        if (c.animations) {
            EXPECT_EQ(anima->StepsMade(), CAnima::kSteps);
            EXPECT_GE(stepsSeen, CAnima::kSteps / 2);  // the steps were seen one by one
        } else {
            EXPECT_EQ(anima->StepsMade(), 1);  // only the target frame was made
            EXPECT_FALSE(KillTimer(Hwnd(), CAnima::kStepTimer));
        }
        DuiLib::SystemLook::OverrideClientAreaAnimation(-1);
        TearDown();
    }
}

TEST_F(CarouselWindowTest, OneFrameHasNoTimer) {
    Open({}, {{"skin/anima/2.png", ""}, {"skin/anima/2@2x.png", ""}});
    window_->StartCarousel();
    ASSERT_TRUE(window_->Carousel());
    EXPECT_EQ(window_->Carousel()->FrameCount(), 1);
    EXPECT_EQ(Shown(), L"FirstFrame");
    EXPECT_TRUE(Image(L"FirstFrame"));
    EXPECT_FALSE(KillTimer(Hwnd(), InstallUIMainWnd::kCarouselTimer));
    EXPECT_TRUE(window_->Pm().FindControl(L"image_play_option1")->IsVisible());
    EXPECT_FALSE(window_->Pm().FindControl(L"image_play_option2")->IsVisible());
    window_->OnCarouselTimer();
    EXPECT_EQ(window_->CurrentFrame(), 1);
    EXPECT_EQ(window_->Carousel()->StepsMade(), 0);
    EXPECT_FALSE(KillTimer(Hwnd(), InstallUIMainWnd::kCarouselTimer));
}

// Pixels of the caption band (x 30 to W - 30, y 40 to 140) of exactly one colour.
int CountInCaptionBand(const DuiLib::TImageInfo& image, DWORD rgb) {
    int n = 0;
    for (int y = 40; y < 140; ++y)
        for (int x = 30; x < image.width - 30; ++x) n += Rgb(image.PixelAt(x, y)) == rgb;
    return n;
}

TEST_F(CarouselWindowTest, CaptionColourFollowsTheSoftwareId) {
    struct Case {
        const char* softwareId;
        DWORD colour;
    } cases[] = {{"10", 0xFFFFFF}, {"1", 0x4A4A4A}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.softwareId);
        Open({{"Software_id", c.softwareId}});
        window_->StartCarousel();
        ASSERT_TRUE(window_->Carousel());
        EXPECT_EQ(window_->Carousel()->CaptionColour() & 0xFFFFFF, c.colour);
        const DuiLib::TImageInfo* first = Image(L"FirstFrame");
        const DuiLib::TImageInfo* plain = Image(L"skin\\anima\\1.png");
        ASSERT_TRUE(first && plain);
        EXPECT_GT(CountInCaptionBand(*first, c.colour), CountInCaptionBand(*plain, c.colour) + 50);
        // Frame 3 carries its own caption: the two differ in the band.
        const DuiLib::TImageInfo* merged = Image(CAnima::MergedName(1, 3));
        ASSERT_TRUE(merged);
        int differing = 0;
        for (int y = 40; y < 140; ++y)
            for (int x = 30; x < 618; ++x) differing += Rgb(merged->PixelAt(x, y)) != Rgb(merged->PixelAt(648 + x, y));
        EXPECT_GT(differing, 100);
        TearDown();
    }
}

TEST_F(CarouselWindowTest, BannersFromTheServiceReachTheCarousel) {
    ASSERT_TRUE(LocalServices::Available());
    ASSERT_TRUE(LocalServices::Reset());
    // Two banners only: frames 1 and 2 show them, 3 to 5 stay built-in.
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/api/v1/banners","body":[
        {"banner_url":"${HTTP}/banners/1.png","jump_url":"","prompt":"one","sort":1},
        {"banner_url":"${HTTP}/banners/2.png","jump_url":"","prompt":"two","sort":2}]})"));
    const std::string https = LocalServices::BaseUrl(true);
    FuntionImpl::SetDataServiceHost(https.substr(https.find("//") + 2));
    test_support::TempDir work;
    Open({});
    window_->m_install.workFolder = work.path();
    window_->StartCarousel();
    const DWORD plainFirst = Image(L"FirstFrame")->PixelAt(5, 5);
    window_->StartBannerThread();
    ASSERT_TRUE(PumpUntil([&] { return window_->BannersReady(); }, 20000));
    EXPECT_EQ(window_->bannerMessages, 1);
    EXPECT_EQ(window_->Banners().size(), 2u);
    EXPECT_TRUE(DataService::IsLoadableImage(work.File(L"2.png")));
    // A second start does not fetch again.
    window_->StartBannerThread();
    Pump(300);
    EXPECT_EQ(LocalServices::Requests("/api/v1/banners").size(), 1u);

    EXPECT_EQ(Shown(), L"FirstFrame");
    EXPECT_NE(Rgb(Image(L"FirstFrame")->PixelAt(5, 5)), Rgb(plainFirst));
    const DuiLib::TImageInfo* merged = Image(CAnima::MergedName(2, 3));
    const DuiLib::TImageInfo* builtIn3 = Image(L"skin\\anima\\3.png");
    ASSERT_TRUE(merged && builtIn3);
    EXPECT_EQ(Rgb(merged->PixelAt(648 + 5, 5)), Rgb(builtIn3->PixelAt(5, 5)));
    EXPECT_NE(Rgb(merged->PixelAt(5, 5)), Rgb(builtIn3->PixelAt(5, 5)));
}

}  // namespace
