// Start-up decisions: the start-up URL, maintenance command lines, the instance names and the
// refusal rule, as the process entry takes them.
#include <gtest/gtest.h>

#include "app/StartupRules.h"
#include "DuiLib/Core/UIMarkup.h"

namespace {

std::string ConfigureXml(const std::string& labels) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VerticalLayout><VerticalLayout name=\"Product_config\">" +
           labels + "</VerticalLayout></VerticalLayout>";
}

StartupValues ReadFrom(const std::string& xml) {
    DuiLib::CMarkup markup;
    EXPECT_TRUE(markup.Load(xml)) << xml;
    StartupValues values;
    ReadStartupValues(markup, values);
    return values;
}

}  // namespace

TEST(StartupUrl, FirstAddressNotOnAContentDeliveryHostWins) {
    struct Case {
        const char* labels;
        const wchar_t* expected;
    } cases[] = {
        {"<Label name=\"Download_url\" text=\"https://cdn.a.com/p.exe\"/><Label name=\"Extra_download_url\" text=\"https://x.b.com/q.exe\"/>",
         L"https://x.b.com/q.exe"},
        {"<Label name=\"Download_url\" text=\"https://dl.a.com/p.exe\"/><Label name=\"Extra_download_url\" text=\"https://cdn.b.com/q.exe\"/>",
         L""},
        {"<Label name=\"Download_url\" text=\"https://www.a.com/p.exe\"/><Label name=\"Extra_download_url\" text=\"https://x.b.com/q.exe\"/>",
         L"https://www.a.com/p.exe"},
        // Document order decides, not the key.
        {"<Label name=\"Extra_download_url\" text=\"https://x.b.com/q.exe\"/><Label name=\"Download_url\" text=\"https://www.a.com/p.exe\"/>",
         L"https://x.b.com/q.exe"},
        // An empty first address is taken and keeps the later one out.
        {"<Label name=\"Download_url\" text=\"\"/><Label name=\"Extra_download_url\" text=\"https://x.b.com/q.exe\"/>", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadFrom(ConfigureXml(c.labels)).startupUrl, c.expected) << c.labels;
}

TEST(StartupValuesReader, ReadsTheStartupKeysAndSkipsTheRest) {
    StartupValues v = ReadFrom(ConfigureXml(
        "<Label name=\"Downloader_id\" text=\"486\"/><Label name=\"Software_id\" text=\"9\"/>"
        "<Label name=\"Site_id\" text=\"61\"/><Label name=\"Software_name\" text=\"Orbala Lumeno\"/>"
        "<Label name=\"Software_version\" text=\"1.0.0.0\"/><Label name=\"MainPid\" text=\"3086\"/>"
        "<Label name=\"Support32System\" text=\"0\"/>"));
    EXPECT_EQ(v.downloaderIdText, L"486");
    EXPECT_EQ(v.downloaderId, 486);
    EXPECT_EQ(v.siteId, 61);
    EXPECT_EQ(v.softwareName, L"Orbala Lumeno");
    EXPECT_EQ(v.softwareVersion, L"1.0.0.0");
    EXPECT_EQ(v.mainPid, 3086);
    EXPECT_EQ(v.support32System, L"0");
}

TEST(StartupValuesReader, DamagedFilesLeaveEmptyValues) {
    // Reordered attributes make the text the key; missing attributes and missing levels are skipped.
    StartupValues reordered = ReadFrom(ConfigureXml("<Label text=\"486\" name=\"Downloader_id\"/>"));
    EXPECT_EQ(reordered.downloaderIdText, L"");
    EXPECT_EQ(reordered.downloaderId, 0);

    StartupValues oneAttribute = ReadFrom(ConfigureXml("<Label name=\"Downloader_id\"/><Label name=\"Site_id\" text=\"7\"/>"));
    EXPECT_EQ(oneAttribute.downloaderIdText, L"");
    EXPECT_EQ(oneAttribute.siteId, 7);

    StartupValues noProductConfig = ReadFrom("<VerticalLayout/>");
    EXPECT_EQ(noProductConfig.downloaderId, 0);
    EXPECT_EQ(noProductConfig.startupUrl, L"");

    StartupValues notANumber = ReadFrom(ConfigureXml("<Label name=\"Downloader_id\" text=\"abc\"/>"));
    EXPECT_EQ(notANumber.downloaderIdText, L"abc");
    EXPECT_EQ(notANumber.downloaderId, 0);

    DuiLib::CMarkup broken;
    EXPECT_FALSE(broken.Load("<VerticalLayout><Label name="));
    StartupValues fromBroken;
    ReadStartupValues(broken, fromBroken);
    EXPECT_EQ(fromBroken.downloaderIdText, L"");
}

TEST(MaintenanceCommandLine, ChoosesTheModeAndItsArguments) {
    struct Case {
        const wchar_t* commandLine;
        MaintenanceMode mode;
        const wchar_t* logFile;
        const wchar_t* catalogue;
        bool wantDumps;
    } cases[] = {
        {L"-dmp C:\\logs\\run.log", MaintenanceMode::CrashDump, L"C:\\logs\\run.log", L"CrashDmp", true},
        {L"-close05 C:\\logs\\run.log", MaintenanceMode::Close, L"C:\\logs\\run.log", L"close05", false},
        // Without its blank "-dmp" is not the crash mode; the close mode then applies.
        {L"-close05 -dmpX", MaintenanceMode::Close, L"-dmpX", L"close05", false},
        // A switch counts only as a whole argument: inside a word it is no switch at all.
        {L"-dmp-close05 C:\\a.log", MaintenanceMode::None, L"", L"", false},
        {L"x-close05 C:\\a.log", MaintenanceMode::None, L"", L"", false},
        {L"C:\\dl\\setup-dmp 1.exe", MaintenanceMode::None, L"", L"", false},
        {L"-close05x C:\\a.log", MaintenanceMode::None, L"", L"", false},
        {L"/S -close03 C:\\a.log", MaintenanceMode::Close, L"C:\\a.log", L"close03", false},
        // Both present: the crash mode wins and takes everything after "-dmp ".
        {L"-close05 x.log -dmp y.log", MaintenanceMode::CrashDump, L"y.log", L"CrashDmp", true},
        {L"-dmp y.log -close05 x.log", MaintenanceMode::CrashDump, L"y.log -close05 x.log", L"CrashDmp", true},
        // Too short to carry a file name: no read past the end.
        {L"-close", MaintenanceMode::Close, L"", L"close", false},
        {L"-dmp ", MaintenanceMode::CrashDump, L"", L"CrashDmp", true},
        {L"", MaintenanceMode::None, L"", L"", false},
        {L"/S", MaintenanceMode::None, L"", L"", false},
    };
    for (const Case& c : cases) {
        MaintenanceCommand m = ParseMaintenanceCommand(c.commandLine);
        std::string label(c.commandLine, c.commandLine + wcslen(c.commandLine));
        EXPECT_EQ(m.mode, c.mode) << label;
        if (c.mode == MaintenanceMode::None) continue;
        EXPECT_EQ(m.logFileName, c.logFile) << label;
        EXPECT_EQ(m.catalogue, c.catalogue) << label;
        EXPECT_EQ(m.wantDumps, c.wantDumps) << label;
    }
}

TEST(MaintenanceCommandLine, DmpWithoutBlankFallsToCloseWhenPresent) {
    MaintenanceCommand m = ParseMaintenanceCommand(L"-close05 C:\\a.log -dmp");
    EXPECT_EQ(m.mode, MaintenanceMode::Close);
    EXPECT_EQ(m.logFileName, L"C:\\a.log -dmp");
}

TEST(StartupRules, KitFlagOnlyFor277And278) {
    const std::pair<int, bool> cases[] = {{277, true}, {278, true}, {276, false}, {279, false}, {486, false}, {0, false}, {-277, false}};
    for (const auto& c : cases) EXPECT_EQ(KitFlagFor(c.first), c.second) << c.first;
}

TEST(StartupRules, RefusesOnlyWhenTheProductSaysSoAndWindowsIs32Bit) {
    struct Case {
        const wchar_t* support32;
        bool wow64;
        bool refuse;
    } cases[] = {{L"0", false, true}, {L"0", true, false}, {L"1", false, false}, {L"", false, false}, {L"00", false, false}};
    for (const Case& c : cases) EXPECT_EQ(ShouldRefuse32BitSystem(c.support32, c.wow64), c.refuse);
}

TEST(StartupRules, BaseNameIsTheFileNameUpToItsFirstPoint) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"http://127.0.0.1:47080/download/OrbalaLumeno_Setup.exe", L"OrbalaLumeno_Setup"},
        {L"https://www.a.com/v1.2/pkg.tar.gz", L"pkg"},
        {L"https://www.a.com/dir.v2/noext", L""},
        {L"https://www.a.com/", L""},
        {L"setup.exe", L""},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(BaseNameFromUrl(c.first), c.second);
}

TEST(StartupRules, PerProductNames) {
    EXPECT_EQ(WindowClassNameFor(L"486"), L"QV_UI_Frame_486");
    EXPECT_EQ(InstanceMutexNameFor(486), L"KDR_Downloader_486");
    EXPECT_EQ(InstanceMutexNameFor(0), L"KDR_Downloader_0");
}
