// The product installer's command line: language codes, log file name, suffix and length limit.
#include <gtest/gtest.h>

#include "deployment_values.h"
#include "install/InstallerCommand.h"

namespace {

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
    SYSTEMTIME t = {};
    t.wYear = y; t.wMonth = mo; t.wDay = d; t.wHour = h; t.wMinute = mi; t.wSecond = s;
    return t;
}

InstallerCommand::Inputs Sample() {
    InstallerCommand::Inputs in;
    in.installDirectory = L"C:\\Program Files\\Orbala Lumeno";
    in.language = 4;
    in.downloaderId = 486;
    in.logFolder = L"C:\\logs";
    in.softwareName = L"Orbala Lumeno";
    in.localTime = Time(2026, 1, 2, 3, 4, 5);
    in.setupPath = L"C:\\Downloads\\OrbalaLumeno_setup.exe";
    in.appendFileName = true;
    return in;
}

}  // namespace

TEST(InstallerCommand, LanguageCodesByLanguageAndDownloader) {
    struct Case {
        int language, downloaderId;
        const wchar_t* code;
    } cases[] = {
        {0, 486, L"en"},   {1, 486, L"ja"},  {1, 117, L"jp"}, {1, 118, L"jp"}, {1, 120, L"jp"}, {1, 121, L"ja"},
        {1, 122, L"jp"},   {1, 125, L"jp"},  {1, 126, L"ja"}, {2, 118, L"zhcn"}, {10, 486, L"zhtw"},
        {12, 486, L"nl"},  {17, 486, L"my"}, {18, 486, L"se"}, {19, 486, L"cz"}, {20, 486, L"vi"},
        {21, 486, L"en"},  {-1, 486, L"en"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InstallerCommand::LanguageCode(c.language, c.downloaderId), c.code)
            << c.language << " / " << c.downloaderId;
}

TEST(InstallerCommand, LogFileNameCarriesTheLocalTime) {
    EXPECT_EQ(InstallerCommand::LogFileName(L"Orbala Lumeno", Time(2026, 1, 2, 3, 4, 5)),
              L"Orbala Lumeno_Setup_20260102030405.log");
    EXPECT_EQ(InstallerCommand::LogFileName(L"X", Time(999, 12, 31, 23, 59, 9)), L"X_Setup_09991231235909.log");
}

TEST(InstallerCommand, SuffixIsTheSetupNameOnlyWhenAskedAndNamedWithUnderscore) {
    struct Case {
        const wchar_t* path;
        bool append;
        const wchar_t* value;
    } cases[] = {
        {L"C:\\d\\OrbalaLumeno_setup.exe", true, L"OrbalaLumeno_setup.exe"},
        {L"C:\\d\\OrbalaLumeno_setup.exe", false, L"null"},
        {L"C:\\d\\setup.exe", true, L"null"},
        {L"C:\\my_downloads\\setup.exe", true, L"null"},  // an underscore in the folder does not count
        {L"OrbalaLumeno_setup (1).exe", true, L"OrbalaLumeno_setup (1).exe"},
    };
    for (const Case& c : cases) EXPECT_EQ(InstallerCommand::SuffixValue(c.path, c.append), c.value) << c.path;
}

TEST(InstallerCommand, WholeLine) {
    std::wstring expected = L" /VERYSILENT /SP- /NORESTART /DIR=\"C:\\Program Files\\Orbala Lumeno\" /LANG=de /LOG=\""
                            L"C:\\logs\\Orbala Lumeno_Setup_20260102030405.log\"" +
                            Deployment::INSTALLER_SUFFIX_SWITCH() + L"OrbalaLumeno_setup.exe";
    EXPECT_EQ(InstallerCommand::Build(Sample()), expected);
    ASSERT_FALSE(Deployment::INSTALLER_SUFFIX_SWITCH().empty());
    EXPECT_EQ(Deployment::INSTALLER_SUFFIX_SWITCH()[0], L' ');
}

TEST(InstallerCommand, NoLogFolderMeansNoInstallerLogAtADriveRoot) {
    InstallerCommand::Inputs in = Sample();
    in.logFolder.clear();
    std::wstring expected = L" /VERYSILENT /SP- /NORESTART /DIR=\"C:\\Program Files\\Orbala Lumeno\" /LANG=de" +
                            Deployment::INSTALLER_SUFFIX_SWITCH() + L"OrbalaLumeno_setup.exe";
    EXPECT_EQ(InstallerCommand::Build(in), expected);
}

TEST(InstallerCommand, LineLongerThan1023CharactersIsNotBuilt) {
    InstallerCommand::Inputs in = Sample();
    size_t base = InstallerCommand::Build(in).size();
    in.installDirectory += std::wstring(1023 - base, L'x');
    EXPECT_EQ(InstallerCommand::Build(in).size(), 1023u);
    in.installDirectory += L"x";
    EXPECT_EQ(InstallerCommand::Build(in), L"");
}
