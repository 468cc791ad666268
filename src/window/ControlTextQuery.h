#pragma once
// Test builds only: another process asks the main window for the text of one of its controls.
// The asker sends WM_COPYDATA with dwData kAsk, the control's name in UTF-16 (no terminator) and
// its own window in wParam; the window answers with WM_COPYDATA to that window, dwData kAnswer
// and the text in UTF-16, before the asker's send returns (result 1; 0 when there is no such
// control). The controls draw themselves, so no other process can read their texts otherwise.
// Release builds ignore the message.
#include <windows.h>

namespace ControlTextQuery {

constexpr ULONG_PTR kAsk = 0x4F54514Bu;     // "OTQK"
constexpr ULONG_PTR kAnswer = 0x4F545141u;  // "OTQA"
constexpr DWORD kMaxNameBytes = 256;

}  // namespace ControlTextQuery
