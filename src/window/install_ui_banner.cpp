// The installer window's banner carousel and the data service: the banner thread (started with
// each installation until the banners are in), the links thread (started with the window when it
// shows the new licence row), the carousel's start and stop, its timer and its dots.
#include <process.h>

#include <easylogging++.h>

#include <algorithm>

#include "DuiLib/Control/UIButton.h"
#include "base/LanguageFaces.h"
#include "base/TextCodec.h"
#include "window/install_ui_mainwnd.h"

unsigned __stdcall InstallUIMainWnd::GetCbsBanner(void* window) {
    auto* self = static_cast<InstallUIMainWnd*>(window);
    DataService::BannerJob job;
    job.parentPid = self->m_mainPid;
    job.language = self->m_uiLanguage.load();
    job.workFolder = self->m_install.workFolder;
    job.analytics = self->m_log;
    DataService::BannerMap banners;
    if (DataService::FetchBanners(job, banners)) {
        {
            std::lock_guard<std::mutex> lock(self->m_bannersLock);
            self->m_banners = banners;
        }
        PostMessageW(self->m_hWnd, kMsgBannersReady, 0, 0);
    }
    return 0;
}

unsigned __stdcall InstallUIMainWnd::GetCbsPrivacy(void* window) {
    auto* self = static_cast<InstallUIMainWnd*>(window);
    DataService::FetchPrivacyLinks(self->m_mainPid, *self->m_configure, self->m_log);
    return 0;
}

void InstallUIMainWnd::StartBannerThread() {
    if (m_bannersReady) return;
    HANDLE& slot = m_threads[2];
    // One banner thread at a time: a retry while the first still fetches leaves it to finish.
    if (slot && WaitForSingleObject(slot, 0) == WAIT_TIMEOUT) return;
    if (slot) CloseHandle(slot);
    slot = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &InstallUIMainWnd::GetCbsBanner, this, 0, nullptr));
}

void InstallUIMainWnd::StartPrivacyThread() {
    if (m_threads[1]) return;
    m_threads[1] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &InstallUIMainWnd::GetCbsPrivacy, this, 0, nullptr));
}

DataService::BannerMap InstallUIMainWnd::Banners() {
    std::lock_guard<std::mutex> lock(m_bannersLock);
    return m_banners;
}

void InstallUIMainWnd::MakeCarousel() {
    CAnima::Settings settings;
    settings.frameCount = m_frameCount;
    settings.fontFace = GetLanguageFontName();
    settings.uiFace = GetLanguageUiFace(m_uiLanguage.load());
    settings.whiteCaptions = m_configure && m_configure->m_softwareId == 10;
    settings.dots.assign(m_dots.begin(), m_dots.end());
    m_anima.reset(new CAnima(m_hWnd, m_imagePlay, &m_pm, settings));
    LOG(INFO) << " Carousel frame size: " << m_anima->Width() << "*" << m_anima->Height();
}

void InstallUIMainWnd::MakeCarouselPictures() {
    if (!m_bannersReady) {
        m_anima->HorizontalMoveAnimaInit(L"", L"");
        return;
    }
    DataService::BannerRecord first;
    {
        std::lock_guard<std::mutex> lock(m_bannersLock);
        auto found = m_banners.find(1);
        if (found != m_banners.end()) first = found->second;
    }
    const size_t dot = first.localFile.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : first.localFile.substr(dot);
    m_anima->HorizontalMoveAnimaInit(m_install.workFolder + L"\\", extension);
}

void InstallUIMainWnd::StartCarousel() {
    if (!m_anima) {
        MakeCarousel();
        // Banners that came in before the carousel existed are shown from the start.
        MakeCarouselPictures();
    }
    m_currentFrame = 1;
    // Dots beyond the frames have nothing to show.
    for (size_t i = 0; i < m_dots.size(); ++i) m_dots[i]->SetVisible(int(i) < m_frameCount);
    if (!m_dots.empty()) m_dots[0]->Selected(true, false);
    if (m_imagePlay) m_imagePlay->SetBkImage(L"FirstFrame");
    if (m_frameCount >= 2) ::SetTimer(m_hWnd, kCarouselTimer, m_carouselInterval, nullptr);
}

void InstallUIMainWnd::StopCarousel() {
    ::KillTimer(m_hWnd, kCarouselTimer);
    if (m_anima) m_anima->FinishSlide();
}

void InstallUIMainWnd::RebuildCarousel() {
    if (!m_anima) return;
    m_anima->FinishSlide();
    // Pictures made at the old scale go; the frames are made again for the area as it is now.
    m_pm.RemoveAllImages();
    MakeCarousel();
    MakeCarouselPictures();
    m_anima->ShowFrame(m_currentFrame);
}

void InstallUIMainWnd::OnScaleChanged(int, int) { RebuildCarousel(); }

void InstallUIMainWnd::OnCarouselTimer() {
    if (m_dots.empty()) return;
    size_t next = 0;
    if (m_currentFrame >= 1 && m_currentFrame <= 9 && m_currentFrame < m_frameCount && size_t(m_currentFrame) < m_dots.size())
        next = size_t(m_currentFrame);
    m_dots[next]->Selected(true);
}

void InstallUIMainWnd::OnSelectChanged(DuiLib::TNotifyUI& msg) {
    // Every option of a group reports its change; the dot that became selected is the one.
    if (!msg.pSender || !msg.pSender->IsSelected()) return;
    const size_t count = std::min<size_t>(std::min<size_t>(m_dots.size(), 10), size_t(std::max(m_frameCount, 0)));
    for (size_t i = 0; i < count; ++i) {
        if (m_dots[i] != msg.pSender) continue;
        const int k = int(i) + 1;
        if (m_frameCount >= 2) ::SetTimer(m_hWnd, kCarouselTimer, m_carouselInterval, nullptr);
        if (m_anima) m_anima->Animate(m_currentFrame, k);
        m_currentFrame = k;
        return;
    }
}

void InstallUIMainWnd::OnBannersReady() {
    m_bannersReady = true;
    if (!m_anima) return;
    m_anima->FinishSlide();
    m_pm.RemoveAllImages();
    MakeCarouselPictures();
    // The show starts again at frame 1, now with the banners.
    m_currentFrame = 1;
    if (!m_dots.empty()) m_dots[0]->Selected(true, false);
    if (m_imagePlay) m_imagePlay->SetBkImage(L"FirstFrame");
}
