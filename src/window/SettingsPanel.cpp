#include "window/SettingsPanel.h"

namespace SettingsPanel {

Step Toggle(bool& openFlag, int shownPage, int wantedPage) {
    Step step;
    if (!openFlag) {
        step.selectPage = wantedPage;
        step.collapse = false;
        openFlag = true;
    } else if (shownPage == wantedPage) {
        step.collapse = true;
        openFlag = false;
    } else {
        step.selectPage = wantedPage;
        step.collapse = false;
    }
    return step;
}

RECT FitHeightInWorkArea(const RECT& window, int height, const RECT& workArea) {
    RECT rc{window.left, window.top, window.right, window.top + height};
    const int available = workArea.bottom - workArea.top;
    if (available <= 0) return rc;  // no work area known: the plain size
    if (height > available) {
        rc.top = workArea.top;
        rc.bottom = workArea.bottom;
        return rc;
    }
    if (rc.bottom > workArea.bottom) {
        rc.top = workArea.bottom - height;
        rc.bottom = workArea.bottom;
    }
    if (rc.top < workArea.top) {
        rc.top = workArea.top;
        rc.bottom = workArea.top + height;
    }
    return rc;
}

}  // namespace SettingsPanel
