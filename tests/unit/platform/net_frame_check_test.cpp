// The .NET check: the needed version from the requirement file, the installed one from the
// registry's 32-bit view, and their comparison as four numbers.
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/FuntionImpl_NetFrame.h"
#include "support/log_capture.h"
#include "support/test_support.h"

TEST(NetFrameCheck, VersionComparison) {
    struct Case {
        const char* installed;
        const char* needed;
        bool older;
    };
    const Case cases[] = {
        {"4.5.2", "4.6.1", true},
        {"4.5.0.0", "4.5", false},
        {"", "4.8", true},
        {"4.8", "4.8", false},
        {"4.8.1", "4.8", false},
        {"4.10", "4.9", false},  // numbers, not text
        {"4.9", "4.10", true},
        {"4.7.03062", "4.7.2", false},
        {"4.0.30319", "4.5", true},
        {"v4.8", "4.8", true},  // a part that is not a number is 0
        {"4.8.0.0.9", "4.8.0.0.1", false},  // parts past the fourth are not looked at
        {"5", "4.99.99.99", false},
        {"4.8", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FuntionImpl::IsNetFrameOlder(c.installed, c.needed), c.older) << c.installed << " vs " << c.needed;
}

TEST(NetFrameCheck, NeededVersionFromTheRequirementText) {
    struct Case {
        std::string text;
        const char* needed;
    };
    const Case cases[] = {
        {"[Settings]\r\nNetFrameworkVersion=4.6.1\r\n[Text]\r\nen=Please install .NET\r\n", "4.6.1"},
        {"[Settings]\nOther=1\nNetFrameworkVersion=4.8\n", "4.8"},
        {"\xEF\xBB\xBF[Settings]\r\nNetFrameworkVersion=4.7.2\r\n", "4.7.2"},
        {"[Settings]\r\n  NetFrameworkVersion = 4.5 \r\n", "4.5"},
        {"[Settings]\r\n[Text]\r\nNetFrameworkVersion=4.8\r\n", ""},             // after [Text]: ignored
        {"[Text]\r\n[Settings]\r\nNetFrameworkVersion=4.8\r\n", ""},             // reading stopped
        {"NetFrameworkVersion=4.8\r\n[Settings]\r\n", ""},                       // outside [Settings]
        {"[Other]\r\nNetFrameworkVersion=4.8\r\n", ""},
        {"[Settings]\r\nNetFrameworkVersionX=4.8\r\n", ""},
        {"[Settings]\r\nNetFrameworkVersion=\r\n", ""},
        {"[Settings]\r\nx=" + std::string(1100, 'a') + "NetFrameworkVersion=9\r\n", ""},  // over-long line skipped whole
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FuntionImpl::NeededNetFrameVersionFromText(c.text), c.needed) << c.text.substr(0, 80);
}

TEST(NetFrameCheck, RequirementFileInTheFolder) {
    test_support::TempDir dir;
    EXPECT_EQ(FuntionImpl::ReadNeededNetFrameVersion(dir.path()), "");
    EXPECT_FALSE(FuntionImpl::WillShowNetFrameCheck(dir.path()));

    test_support::WriteText(dir.File(L"NetFrameCheck.db"), "[Settings]\r\nNetFrameworkVersion=99.0\r\n[Text]\r\n");
    EXPECT_EQ(FuntionImpl::ReadNeededNetFrameVersion(dir.path()), "99.0");
    EXPECT_EQ(FuntionImpl::ReadNeededNetFrameVersion(dir.path() + L"\\"), "99.0");
    {
        LogCapture log;
        EXPECT_TRUE(FuntionImpl::WillShowNetFrameCheck(dir.path()));
        EXPECT_EQ(log.countExact(" LocalNetFrame: " + FuntionImpl::InstalledNetFrameVersion() + ", NeedNetFrame: 99.0"), 1)
            << log.dump();
    }
    test_support::WriteText(dir.File(L"NetFrameCheck.db"), "[Settings]\r\nNetFrameworkVersion=0\r\n");
    EXPECT_FALSE(FuntionImpl::WillShowNetFrameCheck(dir.path()));
}

TEST(NetFrameCheck, InstalledVersionComesFromThe32BitView) {
    const wchar_t kKey[] = L"SOFTWARE\\OrbalaTests\\net_frame_check_test";
    auto write = [&](REGSAM view, DWORD type, const std::wstring& text) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"Version", 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    };
    auto remove = [&] {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
    };
    remove();
    EXPECT_EQ(FuntionImpl::ReadMachineRegString32(kKey, L"Version"), L"");
    write(KEY_WOW64_64KEY, REG_SZ, L"9.9.9");
    EXPECT_EQ(FuntionImpl::ReadMachineRegString32(kKey, L"Version"), L"");  // the 64-bit view is not read
    write(KEY_WOW64_32KEY, REG_SZ, L"4.7.2");
    EXPECT_EQ(FuntionImpl::ReadMachineRegString32(kKey, L"Version"), L"4.7.2");
    write(KEY_WOW64_32KEY, REG_EXPAND_SZ, L"4.8");
    EXPECT_EQ(FuntionImpl::ReadMachineRegString32(kKey, L"Version"), L"4.8");
    write(KEY_WOW64_32KEY, REG_SZ, std::wstring(260, L'4'));
    EXPECT_EQ(FuntionImpl::ReadMachineRegString32(kKey, L"Version"), std::wstring(260, L'4'));
    write(KEY_WOW64_32KEY, REG_SZ, std::wstring(261, L'4'));
    EXPECT_EQ(FuntionImpl::ReadMachineRegString32(kKey, L"Version"), L"");
    write(KEY_WOW64_32KEY, REG_BINARY, L"4.8");
    EXPECT_EQ(FuntionImpl::ReadMachineRegString32(kKey, L"Version"), L"");
    remove();
}
