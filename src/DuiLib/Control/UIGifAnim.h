#pragma once
// Animation: an animated GIF of the skin archive ("bkimage") played frame by frame with its own
// delays, or a numbered image sequence ("frames" = a name with %d, "framecount", "interval" in
// milliseconds) drawn through the image cache. Plays on its own control timer.
#include <memory>
#include <string>
#include <vector>

#include "DuiLib/Control/UIControl.h"
#include "DuiLib/Core/UIImage.h"

namespace DuiLib {

class CGifAnimUI : public CControlUI {
public:
    CGifAnimUI();
    ~CGifAnimUI() override;
    void* GetInterface(const std::wstring& name) override;

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    void SetVisible(bool visible) override;
    void SetInternVisible(bool visible) override;
    void DoEvent(TEventUI& event) override;
    void PaintBkImage(HDC hdc) override;

    void Play();
    void Pause();
    void Stop();
    bool IsPlaying() const { return m_playing; }
    size_t GetFrameCount();
    size_t GetCurrentFrame() const { return m_frame; }
    // Advances one frame (what the timer does).
    void NextFrame();

private:
    bool Load();
    void ScheduleNext();
    std::wstring FrameName(size_t index) const;

    std::wstring m_source;          // GIF file
    std::wstring m_framePattern;    // image sequence
    int m_frameCount = 0;
    int m_interval = 50;
    bool m_autoPlay = true;
    bool m_loaded = false;
    bool m_playing = false;
    size_t m_frame = 0;
    std::vector<std::unique_ptr<TImageInfo>> m_frames;
    std::vector<int> m_delays;
};

}  // namespace DuiLib
