#pragma once
// What the installer window does in an unattended run (setup.exe /quiet or /passive) where it
// would otherwise ask: every message box becomes the exit code of its cause, and the answer the
// box would have been given lets the flow go on to its end. Plain functions over the box kinds
// and the worker's failure values, so the table is tested on its own.
#include <windows.h>

#include <cstdint>

namespace UnattendedRun {

struct BoxOutcome {
    int exitCode = -1;  // the run ends with this code; -1: the box does not end the run
    int32_t answer = 1; // the button the box counts as pressed (1 first, 2 second)
};

// The outcome of a message box of a kind (EnumMsgType).
BoxOutcome ForMessageBox(int32_t kind);

// The exit code of a download failure (wParam of the worker's message 2944: the last
// EnumErrorCode, 14 no usable address, 16 every download had another digest).
int ForDownloadFailure(WPARAM failure);

}  // namespace UnattendedRun
