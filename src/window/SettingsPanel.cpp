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

}  // namespace SettingsPanel
