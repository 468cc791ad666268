// The installer window's questions and notices: every one goes through ShowMessageBox.
#include "window/install_ui_mainwnd.h"

#include <easylogging++.h>

#include "window/MessageBoxWnd.h"
#include "window/UnattendedRun.h"

int32_t InstallUIMainWnd::ShowMessageBox(int32_t kind, const std::wstring& extraText) {
    LOG(INFO) << " ShowMsgBox: " << kind;
    // In background mode nobody is there to answer: the question counts as accepted.
    if (m_log && m_log->Closing.load()) {
        m_lastSuppressedMessage = kind;
        return MessageBoxKinds::kResultFirst;
    }
    // In an unattended run nobody is there either: the box's cause becomes the exit code.
    if (IsUnattended()) {
        const UnattendedRun::BoxOutcome outcome = UnattendedRun::ForMessageBox(kind);
        NoteUnattendedEnd(outcome.exitCode);
        // The two boxes whose answer clears the downloaded package do so here as well.
        if (kind == MsgInstallRunTimeOut || kind == MsgMD5Fail) PostMessageW(m_hWnd, MessageBoxKinds::kMsgClearAppData, 0, 0);
        return outcome.answer;
    }
    MessageBoxWnd box(kind, m_uiLanguage.load(), extraText);
    return box.ShowModalOver(m_hWnd);
}
