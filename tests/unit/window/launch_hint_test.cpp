// The launch hint window: it starts the product from its own thread, animates while it waits and
// closes itself the configured number of seconds after the start.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "support/window_driver.h"
#include "window/CAlientWnd.h"

namespace {
std::atomic<int> g_starts{0};
std::wstring g_command;
int g_admin = -1;
int RecordStart(const std::wstring& command, int adminFlag) {
    g_command = command;
    g_admin = adminFlag;
    ++g_starts;
    return 0;
}
}  // namespace

TEST(LaunchHint, StartsTheProductOnceAndClosesAfterItsDuration) {
    ASSERT_TRUE(test_support::UseSourceSkin());
    CAlientWnd::SetStartHook(&RecordStart);
    g_starts = 0;
    auto* hint = new CAlientWnd(1, L"\"C:\\Apps\\Orbala Lumeno\\OrbalaLumeno.exe\"", L"1.0.0.0", L"Orbala Lumeno", 1, 0);
    EXPECT_EQ(TextCodec::WideToUtf8(hint->VersionText()), "1.0.0");
    DWORD start = GetTickCount();
    hint->ShowModalWindow();  // returns when the window has closed itself (and deleted itself)
    DWORD took = GetTickCount() - start;
    CAlientWnd::SetStartHook(nullptr);
    EXPECT_EQ(g_starts.load(), 1);
    EXPECT_EQ(TextCodec::WideToUtf8(g_command), "\"C:\\Apps\\Orbala Lumeno\\OrbalaLumeno.exe\"");
    EXPECT_EQ(g_admin, 1);
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 10000u);
    // Nothing of it is left.
    EXPECT_EQ(FindWindowW(L"CALIENTWND_UI_Frame", nullptr), nullptr);
}
