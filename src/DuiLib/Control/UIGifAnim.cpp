#include "DuiLib/Control/UIGifAnim.h"

#include <cwchar>

#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"

namespace DuiLib {
namespace {
constexpr UINT kFrameTimer = 1;
}

CGifAnimUI::CGifAnimUI() : CControlUI(L"GifAnim") {}

CGifAnimUI::~CGifAnimUI() {
    if (m_manager) m_manager->KillTimer(this, kFrameTimer);
}

void* CGifAnimUI::GetInterface(const std::wstring& name) {
    if (name == L"GifAnim") return this;
    return CControlUI::GetInterface(name);
}

void CGifAnimUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"bkimage") {
        CControlUI::SetAttribute(L"gifimage", value);
        m_source = value;
        m_loaded = false;
        return;
    }
    CControlUI::SetAttribute(name, value);
    if (name == L"frames") { m_framePattern = value; m_loaded = false; }
    else if (name == L"framecount") m_frameCount = UI::ParseInt(value);
    else if (name == L"interval") m_interval = std::max(10, UI::ParseInt(value, 50));
    else if (name == L"autoplay") m_autoPlay = UI::ParseBool(value);
}

void CGifAnimUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    CControlUI::SetManager(manager, parent, init);
    if (manager && m_autoPlay && IsVisible()) Play();
}

void CGifAnimUI::SetVisible(bool visible) {
    CControlUI::SetVisible(visible);
    if (!IsVisible()) Pause();
    else if (m_autoPlay) Play();
}

void CGifAnimUI::SetInternVisible(bool visible) {
    CControlUI::SetInternVisible(visible);
    if (!IsVisible()) Pause();
    else if (m_autoPlay && m_manager) Play();
}

std::wstring CGifAnimUI::FrameName(size_t index) const {
    wchar_t name[MAX_PATH];
    std::swprintf(name, MAX_PATH, m_framePattern.c_str(), static_cast<int>(index));
    return name;
}

bool CGifAnimUI::Load() {
    if (m_loaded) return !m_frames.empty() || m_frameCount > 0;
    m_loaded = true;
    m_frames.clear();
    m_delays.clear();
    if (!m_framePattern.empty()) return m_frameCount > 0;
    std::string bytes;
    CDefaultImageSource source;
    if (m_source.empty() || !source.Read(m_source, bytes)) return false;
    return ImageCodec::DecodeFrames(bytes.data(), bytes.size(), m_frames, m_delays);
}

size_t CGifAnimUI::GetFrameCount() {
    Load();
    return m_framePattern.empty() ? m_frames.size() : static_cast<size_t>(m_frameCount);
}

void CGifAnimUI::ScheduleNext() {
    if (!m_manager || !m_playing) return;
    int delay = m_interval;
    if (m_framePattern.empty() && m_frame < m_delays.size()) delay = m_delays[m_frame];
    m_manager->SetTimer(this, kFrameTimer, static_cast<UINT>(delay));
}

void CGifAnimUI::Play() {
    if (m_playing || GetFrameCount() < 2) return;
    m_playing = true;
    ScheduleNext();
}

void CGifAnimUI::Pause() {
    if (!m_playing) return;
    m_playing = false;
    if (m_manager) m_manager->KillTimer(this, kFrameTimer);
}

void CGifAnimUI::Stop() {
    Pause();
    m_frame = 0;
    Invalidate();
}

void CGifAnimUI::NextFrame() {
    size_t count = GetFrameCount();
    if (count == 0) return;
    m_frame = (m_frame + 1) % count;
    Invalidate();
}

void CGifAnimUI::DoEvent(TEventUI& event) {
    if (event.Type == UIEVENT_TIMER && event.wParam == kFrameTimer) {
        NextFrame();
        ScheduleNext();
        return;
    }
    CControlUI::DoEvent(event);
}

void CGifAnimUI::PaintBkImage(HDC hdc) {
    if (!Load()) return;
    if (!m_framePattern.empty()) {
        DrawImage(hdc, FrameName(m_frame));
        return;
    }
    if (m_frame >= m_frames.size()) return;
    const TImageInfo& frame = *m_frames[m_frame];
    CRenderEngine::DrawImage(hdc, frame, m_rcItem, m_rcPaint, RECT{0, 0, frame.width, frame.height}, RECT{0, 0, 0, 0}, 255, false);
}

}  // namespace DuiLib
