// The installer window's questions and notices: every one goes through ShowMessageBox.
#include "window/install_ui_mainwnd.h"

#include <easylogging++.h>

#include "window/MessageBoxWnd.h"

int32_t InstallUIMainWnd::ShowMessageBox(int32_t kind, const std::wstring& extraText) {
    LOG(INFO) << " ShowMsgBox: " << kind;
    // In background mode nobody is there to answer: the question counts as accepted.
    if (m_log && m_log->Closing.load()) {
        m_lastSuppressedMessage = kind;
        return MessageBoxKinds::kResultFirst;
    }
    MessageBoxWnd box(kind, m_uiLanguage.load(), extraText);
    return box.ShowModalOver(m_hWnd);
}
