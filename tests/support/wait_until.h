#pragma once
// Polling for the tests: waits until a condition holds or the time is up.
#include <windows.h>

namespace test_support {

template <typename Condition>
bool WaitUntil(Condition condition, DWORD milliseconds) {
    ULONGLONG start = GetTickCount64();
    while (!condition()) {
        if (GetTickCount64() - start > milliseconds) return false;
        Sleep(20);
    }
    return true;
}

}  // namespace test_support
