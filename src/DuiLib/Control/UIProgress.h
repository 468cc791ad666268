#pragma once
// The progress bar: a value between min and max (0 and 100 by default) drawn as the fill image
// over the track (the background image). Values outside the range are ignored. The value may be
// read from any thread.
#include <atomic>
#include <string>

#include "DuiLib/Control/UILabel.h"

namespace DuiLib {

class CProgressUI : public CLabelUI {
public:
    CProgressUI();
    void* GetInterface(const std::wstring& name) override;

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    int GetValue() const { return m_value.load(); }
    // False (and no change) for a value outside the range.
    bool SetValue(int value);
    int GetMinValue() const { return m_min; }
    int GetMaxValue() const { return m_max; }
    void SetRange(int minValue, int maxValue);
    void SetForeImage(const std::wstring& image) { m_foreImage = image; Invalidate(); }
    // The part of the control the fill covers for the current value (window pixels).
    RECT FillRect() const;

    void PaintStatusImage(HDC hdc) override;

private:
    std::atomic<int> m_value{0};
    int m_min = 0;
    int m_max = 100;
    bool m_horizontal = true;
    bool m_stretchFore = true;
    std::wstring m_foreImage;
    DWORD m_foreColor = 0;
};

}  // namespace DuiLib
