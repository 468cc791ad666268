// Command lines split as Windows programs split them, and the send-rest switch recognised only
// as a whole argument after the program name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ReportSDK/WebLog.h"
#include "base/CommandLine.h"
#include "base/TextCodec.h"

TEST(CommandLine, ArgumentsTextSkipsTheProgramName) {
    const struct {
        const wchar_t* line;
        const wchar_t* arguments;
    } cases[] = {
        {L"\"C:\\Users\\a b\\Downloads\\setup -sendrestlogs.exe\"", L""},
        {L"\"C:\\dl\\setup.exe\"  -close05 run.log", L"-close05 run.log"},
        {L"C:\\dl\\setup-sendrestlogs.exe", L""},
        {L"C:\\dl\\setup.exe\t-sendrestlogs", L"-sendrestlogs"},
        {L"\"C:\\dl\\setup.exe\"-sendrestlogs", L"-sendrestlogs"},
        {L"\"unclosed -sendrestlogs", L""},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CommandLine::ArgumentsText(c.line), c.arguments) << TextCodec::WideToUtf8(c.line);
}

TEST(CommandLine, SplitsByTheWindowsRules) {
    const struct {
        const wchar_t* arguments;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"-dmp  run.log", {L"-dmp", L"run.log"}},
        {L"\"a b\" c", {L"a b", L"c"}},
        {L"a\"b c\"d", {L"ab cd"}},
        {L"a\\\\\"b c\"", {L"a\\b c"}},    // 2n backslashes: n, and the quote opens
        {L"a\\\"b", {L"a\"b"}},            // 2n+1: n and a literal quote
        {L"a\\b\\\\c", {L"a\\b\\\\c"}},    // backslashes without a quote stay
        {L"\"a\"\"b\"", {L"a\"b"}},        // a doubled quote inside quotes
        {L"  \t ", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> texts;
        for (const CommandLine::Argument& a : CommandLine::Split(c.arguments)) texts.push_back(a.text);
        EXPECT_EQ(texts, c.expected) << TextCodec::WideToUtf8(c.arguments);
    }
    // Where each argument lies in the text: the maintenance switches take the rest after them.
    std::vector<CommandLine::Argument> split = CommandLine::Split(L" -close05 x y");
    ASSERT_EQ(split.size(), 3u);
    EXPECT_EQ(split[0].begin, 1u);
    EXPECT_EQ(split[0].end, 9u);
    EXPECT_EQ(split[2].begin, 12u);
}

// A setup saved under a name that contains the switch still shows its window; only the switch
// as an argument of its own starts the delivery copy.
TEST(CommandLine, SendRestSwitchOnlyAsAWholeArgument) {
    const struct {
        const wchar_t* line;
        bool sendRest;
    } cases[] = {
        {L"\"C:\\Users\\u\\Downloads\\setup-sendrestlogs.exe\"", false},
        {L"C:\\Users\\u\\Downloads\\setup-sendrestlogs.exe", false},
        {L"\"C:\\Users\\u\\Downloads\\setup-sendrestlogs.exe\" /S", false},
        {L"\"C:\\dl\\setup.exe\" x-sendrestlogs", false},
        {L"\"C:\\dl\\setup.exe\" -sendrestlogsx", false},
        {L"\"C:\\dl\\setup.exe\" -sendrestlogs", true},
        {L"\"C:\\dl\\setup-sendrestlogs.exe\" -sendrestlogs", true},
        {L"\"C:\\dl\\setup.exe\" /S -sendrestlogs", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WebLog::IsSendRestCommandLine(CommandLine::ArgumentsText(c.line)), c.sendRest)
            << TextCodec::WideToUtf8(c.line);
}
