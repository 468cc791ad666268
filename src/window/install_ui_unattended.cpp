// The installer window in an unattended run (setup.exe /quiet or /passive): the install click
// without a user, and the end of the run with its exit code.
#include "window/install_ui_mainwnd.h"

#include <easylogging++.h>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/TextCodec.h"

void InstallUIMainWnd::NoteUnattendedEnd(int exitCode) {
    if (exitCode < 0 || m_unattendedExit >= 0) return;
    m_unattendedExit = exitCode;
    LOG(INFO) << " Unattended run ends with exit code " << exitCode;
}

void InstallUIMainWnd::StartUnattended() {
    LOG(INFO) << " Unattended install (" << Unattended::ModeName(m_unattended.mode) << "), folder \""
              << TextCodec::WideToUtf8(m_unattended.folder) << "\"";
    if (!m_unattended.folder.empty() && !Unattended::IsUsableFolder(m_unattended.folder)) {
        // The folder box would refuse it at the install click as well (MsgPathError).
        m_log->AddUserLogEvent("Other", "FlowError", "DL009", false);
        LOG(INFO) << " Unattended folder refused: " << TextCodec::WideToUtf8(m_unattended.folder);
        NoteUnattendedEnd(Unattended::kNoSpaceOrBadFolder);
        Close();
        return;
    }
    // The same click a user makes, with its events; the licence box is already ticked.
    PerformClick(m_installBtn);
    if (m_threads[kThreadInstall] == nullptr) {
        // A check before the installation refused it: its box became the exit code (or, with
        // no box, the run ends as a failure rather than waiting hidden for a click).
        NoteUnattendedEnd(Unattended::kFailed);
        Close();
        return;
    }
    if (m_unattended.mode == Unattended::Mode::Passive) ShowWindow(true, false);
}
