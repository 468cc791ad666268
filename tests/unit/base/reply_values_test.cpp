// The rules for values from outside that the elevated setup acts on: plain names (what may become
// a file, key or command-line name), paths that must stay in their folder, and the web addresses
// it hands to the shell or fetches pictures from (https: only; http: too in test builds).
#include <gtest/gtest.h>

#include <string>

#include "base/OutboundUrl.h"
#include "base/PlainName.h"
#include "deployment_values.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST(PlainName, WhatPassesAndWhy) {
    struct Case {
        std::wstring text;
        bool required;
        const char* problem;  // null: a plain name
    } cases[] = {
        {L"Orbala Lumeno", true, nullptr},
        {L"Lumeno.exe", true, nullptr},
        {L"1.0.0.0", true, nullptr},
        {L"2.0 \x03B2", true, nullptr},                 // blanks inside and other scripts are fine
        {L"Bob's Tool (x64)", true, nullptr},
        {std::wstring(64, L'N'), true, nullptr},      // the bound itself
        {L"", false, nullptr},                         // an optional value may be empty
        {L"", true, "empty"},
        {std::wstring(65, L'N'), true, "longer than 64 characters"},
        {L"1\\..\\..\\..\\users\\Public\\escaped", true, "a path separator or drive"},
        {L"..\\..\\marker.exe", true, "a path separator or drive"},
        {L"sub/Lumeno.exe", true, "a path separator or drive"},
        {L"C:evil.exe", true, "a path separator or drive"},
        {L"Lumeno.exe:stream", true, "a path separator or drive"},
        {L"..", true, "\"..\""},
        {L"a..b", true, "\"..\""},
        {L"Orbala\" /DIR=\"x", true, "a double quote"},
        {L"Lumeno\r\n.exe", true, "a control character"},
        {L"Lumeno\t.exe", true, "a control character"},
        {std::wstring(L"a\0b", 3), true, "a control character"},
        {L"Lumeno\x0085.exe", true, "a control character"},  // C1 (next line)
        {L"Lume*.exe", true, "a character file names cannot hold"},
        {L"a|b", true, "a character file names cannot hold"},
        {L"a<b>", true, "a character file names cannot hold"},
        {L"Lumeno.exe.", true, "a trailing dot or blank"},
        {L"Lumeno.exe ", true, "a trailing dot or blank"},
        {L"NUL", true, "a device name"},
        {L"con.exe", true, "a device name"},
        {L"Com7", true, "a device name"},
        {L"LPT1.txt", true, "a device name"},
        {L"COM10", true, nullptr},  // not a device
        {L"CONSOLE.exe", true, nullptr},
    };
    for (const Case& c : cases) {
        const char* problem = PlainName::Problem(c.text, c.required);
        SCOPED_TRACE(Narrow(c.text));
        if (!c.problem) {
            EXPECT_EQ(problem, nullptr) << problem;
            EXPECT_TRUE(PlainName::IsPlain(c.text, c.required));
        } else {
            ASSERT_NE(problem, nullptr);
            EXPECT_STREQ(problem, c.problem);
            EXPECT_FALSE(PlainName::IsPlain(c.text, c.required));
        }
    }
}

TEST(PlainName, PathsInsideTheirFolder) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* path;
        bool inside;
    } cases[] = {
        {L"C:\\work", L"C:\\work\\Setup_1.0.0.0.exe", true},
        {L"C:\\work\\", L"C:\\work\\Setup_1.0.0.0.exe", true},
        {L"c:\\Work", L"C:\\WORK\\sub\\x.exe", true},  // without case, as the file system
        {L"C:\\work", L"C:\\work\\a\\..\\b.exe", true},  // folded, still inside
        {L"C:\\work", L"C:\\work\\Setup_1\\..\\..\\users\\Public\\escaped.exe", false},
        {L"C:\\work", L"C:\\work\\..\\work2\\x.exe", false},
        {L"C:\\work", L"C:\\work2\\x.exe", false},       // a sibling that starts alike
        {L"C:\\work", L"C:\\work/../x.exe", false},      // "/" is a separator too
        {L"C:\\work", L"C:\\work\\", false},             // the folder itself names no file
        {L"C:\\work", L"C:\\work", false},
        {L"C:\\work", L"D:\\x.exe", false},
        {L"C:\\work", L"\\\\host\\share\\x.exe", false},
        {L"", L"C:\\x.exe", false},                      // no folder: never the drive root
        {L"C:\\work", L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PlainName::IsInsideFolder(c.folder, c.path), c.inside) << Narrow(c.folder) << " | " << Narrow(c.path);
}

TEST(OutboundUrl, OnlyWebAddressesReachTheShell) {
    struct Case {
        std::wstring url;
        bool testBuild;  // allowed when plain HTTP is (test builds)
        bool release;    // allowed in a release build
    } cases[] = {
        {L"https://www.example.com/privacy", true, true},
        {L"HTTPS://Example.com", true, true},
        {L"https://127.0.0.1:47443/pages/x.html?lang=en#top", true, true},
        {L"http://www.example.com/privacy", true, false},
        {L"Http://127.0.0.1:47080/download/p.exe?rnclid=a&package=setup_a.exe", true, false},
        {L"file:///C:/Windows/System32/calc.exe", false, false},
        {L"file://host/share/x.exe", false, false},
        {L"\\\\host\\share\\x.exe", false, false},
        {L"C:\\Users\\Public\\x.exe", false, false},
        {L"calc.exe", false, false},
        {L"javascript:alert(1)", false, false},
        {L"ms-settings:", false, false},
        {L"ftp://example.com/x", false, false},
        {L"https:example.com", false, false},
        {L"https:\\\\example.com", false, false},
        {L"https:///x", false, false},                 // no host
        {L"https://", false, false},
        {L"", false, false},
        {L" https://example.com", false, false},       // nothing before the scheme
        {L"https://example.com/a b", false, false},    // a blank ends the address for the browser
        {L"https://example.com/\" --flag", false, false},
        {L"https://example.com/<x>", false, false},
        {L"https://example.com/a\\..\\b", false, false},
        {L"https://example.com/\r\nx", false, false},
        {L"https://example.com/" + std::wstring(2100, L'a'), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutboundUrl::Allowed(c.url, true), c.testBuild) << Narrow(c.url);
        EXPECT_EQ(OutboundUrl::Allowed(c.url, false), c.release) << Narrow(c.url);
        EXPECT_EQ(OutboundUrl::AllowedInThisBuild(c.url), Deployment::kTestBuild ? c.testBuild : c.release)
            << Narrow(c.url);
    }
    EXPECT_EQ(OutboundUrl::ForLog(L"https://x/\r\n"), "https://x/??");
    EXPECT_EQ(OutboundUrl::ForLog(std::wstring(300, L'a')).size(), 200u);
}
