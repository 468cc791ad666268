// The switches of an unattended install: whole arguments without regard to case, their values,
// what is refused, and the folders /dir may name.
#include <gtest/gtest.h>

#include <string>

#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "base/Unattended.h"

using Unattended::Mode;

TEST(Unattended, ReadsTheSwitches) {
    const struct {
        const wchar_t* arguments;
        Mode mode;
        const wchar_t* folder;
        int32_t language;
        const wchar_t* log;
        bool noRestart;
        unsigned wait;
        bool help;
    } cases[] = {
        {L"", Mode::Interactive, L"", -1, L"", false, 300, false},
        {L"/quiet", Mode::Quiet, L"", -1, L"", false, 300, false},
        {L"/QUIET /NoRestart", Mode::Quiet, L"", -1, L"", true, 300, false},
        {L"/passive /lang=de", Mode::Passive, L"", German, L"", false, 300, false},
        {L"/quiet /LANG=ZH-CN", Mode::Quiet, L"", Chinese, L"", false, 300, false},
        {L"/quiet /lang=zhtw", Mode::Quiet, L"", ChineseTrad, L"", false, 300, false},
        {L"/quiet \"/dir=D:\\Apps\\My Tools\" /log=\"C:\\logs\\setup run.log\"", Mode::Quiet, L"D:\\Apps\\My Tools", -1,
         L"C:\\logs\\setup run.log", false, 300, false},
        {L"/quiet /dir=\"D:\\Apps\\My Tools\"", Mode::Quiet, L"D:\\Apps\\My Tools", -1, L"", false, 300, false},
        {L"/quiet /wait=0", Mode::Quiet, L"", -1, L"", false, 0, false},
        {L"/quiet /wait=86400", Mode::Quiet, L"", -1, L"", false, 86400, false},
        {L"/?", Mode::Interactive, L"", -1, L"", false, 300, true},
        // The setup's own maintenance switches are not its business.
        {L"-close05 run.log", Mode::Interactive, L"", -1, L"", false, 300, false},
        {L"/quiet /quiet", Mode::Quiet, L"", -1, L"", false, 300, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TextCodec::WideToUtf8(c.arguments));
        Unattended::Options o = Unattended::Parse(c.arguments);
        EXPECT_EQ(o.error, "");
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.folder, c.folder);
        EXPECT_EQ(o.language, c.language);
        EXPECT_EQ(o.logCopy, c.log);
        EXPECT_EQ(o.noRestart, c.noRestart);
        EXPECT_EQ(o.waitSeconds, c.wait);
        EXPECT_EQ(o.help, c.help);
        EXPECT_EQ(o.Unattended(), c.mode != Mode::Interactive);
    }
}

TEST(Unattended, RefusesWhatItCannotTake) {
    const wchar_t* const refused[] = {
        L"/quiet /passive",        // two modes
        L"/quietly",               // a switch is a whole argument
        L"/quiet/norestart",
        L"/q",
        L"/quiet /lang=xx",        // no such language
        L"/quiet /lang=",
        L"/quiet /log=",           // no file
        L"/quiet /wait=-1",
        L"/quiet /wait=86401",
        L"/quiet /wait=5s",
        L"/quiet /dir",            // a value switch without its value
        L"/quiet=1",               // a flag with a value
        L"/quiet /unknown",
    };
    for (const wchar_t* arguments : refused)
        EXPECT_NE(Unattended::Parse(arguments).error, "") << TextCodec::WideToUtf8(arguments);
}

TEST(Unattended, FoldersThatCanBeInstallFolders) {
    const struct {
        const wchar_t* folder;
        bool usable;
    } cases[] = {
        {L"C:\\Program Files\\Orbala", true},
        {L"d:\\apps", true},
        {L"D:\\", true},
        {L"D:\\apps\\", true},
        {L"D:apps", false},                  // relative to the drive's current folder
        {L"\\apps", false},                  // no drive
        {L"apps\\tools", false},
        {L"\\\\server\\share\\apps", false}, // not a local drive
        {L"1:\\apps", false},
        {L"C:\\apps\\..\\Windows", false},
        {L"C:\\apps\\.\\x", false},
        {L"C:\\apps\\a|b", false},
        {L"C:\\apps\\a?b", false},
        {L"C:\\apps\\a\"b", false},
        {L"C:\\apps\\x:y", false},
        {L"C:\\apps\\x/y", false},
        {L"C:\\apps\\trailing ", false},
        {L"C:\\apps\\trailing.", false},
        {L"C:\\apps\\\\x", false},
        {L"C:\\apps\\a\x0001" L"b", false},
        {L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Unattended::IsUsableFolder(c.folder), c.usable) << TextCodec::WideToUtf8(c.folder);
    EXPECT_TRUE(Unattended::IsUsableFolder(L"C:\\" + std::wstring(147, L'a')));
    EXPECT_FALSE(Unattended::IsUsableFolder(L"C:\\" + std::wstring(148, L'a')));
}

TEST(Unattended, EveryLanguageHasACodeTheSwitchTakes) {
    for (int32_t language = 0; language < kLanguageCount; ++language) {
        SCOPED_TRACE(GetLanguageEventName(language));
        EXPECT_EQ(LanguageFromCode(GetLanguageCode(language)), language);
        const std::wstring code = TextCodec::Utf8ToWide(GetLanguageCode(language));
        EXPECT_EQ(Unattended::Parse(L"/quiet /lang=" + code).language, language);
        // The help text lists the code.
        EXPECT_NE(Unattended::HelpText().find(L" " + code + (language == kLanguageCount - 1 ? L"\n" : L",")),
                  std::wstring::npos);
    }
    EXPECT_EQ(LanguageFromCode(""), -1);
    EXPECT_EQ(LanguageFromCode("e"), -1);
    EXPECT_EQ(LanguageFromCode("eng"), -1);
}

TEST(Unattended, ExitCodesAreDistinct) {
    const int codes[] = {Unattended::kInstalled,       Unattended::kFailed,          Unattended::kBadCommandLine,
                         Unattended::kAlreadyRunning,  Unattended::kNoService,       Unattended::kDownloadFailed,
                         Unattended::kPackageRefused,  Unattended::kNoSpaceOrBadFolder, Unattended::kInstallerFailed,
                         Unattended::kProductRunning,  Unattended::kSystemNotSupported};
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        for (size_t j = i + 1; j < sizeof codes / sizeof codes[0]; ++j) EXPECT_NE(codes[i], codes[j]);
        // The help box names each code.
        EXPECT_NE(Unattended::HelpText().find(std::to_wstring(codes[i]) + L" "), std::wstring::npos) << codes[i];
    }
}
