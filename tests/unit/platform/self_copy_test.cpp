// The protected copy through which the setup starts itself: made from the running program while
// it is held, in a protected folder named after its digest, started only while it is still the
// same bytes. The program copied here is a probe that records each start beside itself
// ("<path>.started"), so a start that should not happen is seen.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ProtectedSelfCopy.h"
#include "platform/RunFolders.h"
#include "support/test_support.h"
#include "support/wait_until.h"

namespace {

using ProtectedSelfCopy::StartResult;
using test_support::ReadFile;

const wchar_t kName[] = L"OrbalaLumeno_Setup_1.exe";

std::wstring Probe() { return test_support::WinePath(START_PROBE_EXE); }

std::string Started(const std::wstring& program) { return ReadFile(program + L".started"); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Joined(const std::vector<std::string>& notes) {
    std::string text;
    for (const std::string& note : notes) text += note + "\n";
    return text;
}

// The real folders of the machine (here Wine's), except that the folders of the copies can be
// made to look writable by all users.
class JudgedSystem : public RunFolders::FolderSystem {
public:
    bool copyFolderForeign = false;
    FolderFacts Inspect(const std::wstring& path) override {
        FolderFacts facts = real().Inspect(path);
        if (copyFolderForeign && facts.exists && path.find(L"\\setup-") != std::wstring::npos)
            facts.aces.push_back({"S-1-5-32-545", 0x001301bf, true});  // Users: modify
        return facts;
    }
    bool CreateProtected(const std::wstring& path) override { return real().CreateProtected(path); }
    bool HoldsResumableDownload(const std::wstring& folder) override { return real().HoldsResumableDownload(folder); }
    std::vector<std::string> TrustedSids() override { return real().TrustedSids(); }
    std::wstring RandomSuffix() override { return real().RandomSuffix(); }

private:
    static RunFolders::FolderSystem& real() { return RunFolders::WindowsFolderSystem(); }
};

// A download folder with the "setup" (a probe) and its side files, and a work folder.
class SelfCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryW(downloads.c_str(), nullptr);
        CreateDirectoryW(work.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(Probe().c_str(), setup.c_str(), FALSE));
        test_support::WriteText(downloads + L"\\qv_downloader.cfg", "[Settings]\r\nAutoRun=1\r\n");
        test_support::WriteText(downloads + L"\\proxy.txt", "http://127.0.0.1:3128\r\n");
    }
    // Another build of the setup: the same program with one byte more at its end (still a
    // program that runs and records its start).
    void WriteOtherBuild(const std::wstring& path) {
        test_support::WriteText(path, ReadFile(Probe()) + std::string(1, '\x5a'));
    }

    test_support::TempDir dir;
    std::wstring downloads = dir.File(L"Downloads");
    std::wstring work = dir.File(L"work");
    std::wstring setup = downloads + L"\\" + kName;
    JudgedSystem system;
};

}  // namespace

TEST_F(SelfCopyTest, StartsTheCopyInTheProtectedFolderWithTheArgumentsAsGiven) {
    ProtectedSelfCopy::Copy copy;
    ASSERT_TRUE(copy.HoldSource(setup));
    // Held: the running setup can be neither replaced nor renamed until it is copied.
    EXPECT_FALSE(MoveFileW(setup.c_str(), (setup + L".old").c_str()));
    EXPECT_EQ(CreateFileW(setup.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    std::vector<std::string> notes;
    ASSERT_TRUE(copy.Make(work, system, true, notes)) << Joined(notes);

    const std::wstring folder = ProtectedSelfCopy::CopyFolderFor(work, copy.GetDigest());
    EXPECT_EQ(copy.Path(), folder + L"\\" + kName);
    EXPECT_EQ(ReadFile(copy.Path()), ReadFile(setup));
    EXPECT_EQ(ReadFile(folder + L"\\qv_downloader.cfg"), "[Settings]\r\nAutoRun=1\r\n");
    EXPECT_EQ(ReadFile(folder + L"\\proxy.txt"), "http://127.0.0.1:3128\r\n");
    EXPECT_FALSE(Exists(folder + L"\\test.wk"));
    // Only the copy and its side files: the temporary file of the copy is gone.
    EXPECT_EQ(test_support::FilesIn(work).size(), 0u);
    // Copied: the original may be renamed again; the copy stays held for the life of the object.
    EXPECT_TRUE(MoveFileW(setup.c_str(), (setup + L".old").c_str()));
    EXPECT_FALSE(DeleteFileW(copy.Path().c_str()));

    const struct {
        const wchar_t* parameters;
        const char* recorded;
    } starts[] = {{L"-sendrestlogs", "args=-sendrestlogs\n"},
                  {L" -close05 OrbalaLumeno_Setup_20260105101112013.log", "args=-close05 OrbalaLumeno_Setup_20260105101112013.log\n"},
                  {L"", "args=\n"}};
    std::string expected;
    for (const auto& s : starts) {
        EXPECT_EQ(copy.Start(s.parameters, SW_HIDE), StartResult::Started);
        expected += s.recorded;
        EXPECT_TRUE(test_support::WaitUntil([&] { return Started(copy.Path()) == expected; }, 20000))
            << Started(copy.Path());
    }
    EXPECT_EQ(Started(setup), "");
    EXPECT_EQ(Started(setup + L".old"), "");
}

// What was copied is what starts: a copy whose bytes changed after it was made, or that is
// gone, is not started (and the programs used here would record a start).
TEST_F(SelfCopyTest, AChangedCopyIsNotStarted) {
    const struct {
        const char* name;
        void (*change)(const std::wstring& copy, const std::wstring& otherBuild);
        StartResult result;
    } cases[] = {
        {"one byte more", [](const std::wstring& c, const std::wstring& other) { CopyFileW(other.c_str(), c.c_str(), FALSE); },
         StartResult::Changed},
        {"one byte changed",
         [](const std::wstring& c, const std::wstring&) {
             std::string bytes = ReadFile(c);
             bytes[bytes.size() / 2] ^= 0x01;
             test_support::WriteText(c, bytes);
         },
         StartResult::Changed},
        {"deleted", [](const std::wstring& c, const std::wstring&) { DeleteFileW(c.c_str()); }, StartResult::Unreadable},
    };
    const std::wstring otherBuild = dir.File(L"other.exe");
    WriteOtherBuild(otherBuild);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring path;
        ProtectedSelfCopy::Digest digest{};
        {
            ProtectedSelfCopy::Copy copy;
            ASSERT_TRUE(copy.HoldSource(setup));
            std::vector<std::string> notes;
            ASSERT_TRUE(copy.Make(work, system, true, notes)) << Joined(notes);
            path = copy.Path();
            digest = copy.GetDigest();
        }  // lets the copy go, so that it can be changed here
        c.change(path, otherBuild);
        DeleteFileW((path + L".started").c_str());
        DWORD error = 0;
        EXPECT_EQ(ProtectedSelfCopy::StartVerified(path, digest, L"-sendrestlogs", SW_HIDE, &error), c.result);
        Sleep(1500);  // a start would have recorded itself by now
        EXPECT_EQ(Started(path), "");
        DeleteFileW(path.c_str());
    }
}

TEST_F(SelfCopyTest, RunsOfOneBuildShareACopyAndOtherBuildsAreRemovedOnceUnused) {
    auto first = std::make_unique<ProtectedSelfCopy::Copy>();
    auto second = std::make_unique<ProtectedSelfCopy::Copy>();
    std::vector<std::string> notes;
    ASSERT_TRUE(first->HoldSource(setup));
    ASSERT_TRUE(first->Make(work, system, true, notes)) << Joined(notes);
    ASSERT_TRUE(second->HoldSource(setup));
    ASSERT_TRUE(second->Make(work, system, true, notes)) << Joined(notes);
    EXPECT_EQ(first->Path(), second->Path());
    EXPECT_EQ(second->Start(L"x", SW_HIDE), StartResult::Started);
    const std::wstring firstPath = first->Path();
    const std::wstring firstFolder = ProtectedSelfCopy::CopyFolderFor(work, first->GetDigest());

    // Another build while the first one's copy is held: both stay.
    const std::wstring otherSetup = downloads + L"\\other\\" + kName;
    CreateDirectoryW((downloads + L"\\other").c_str(), nullptr);
    WriteOtherBuild(otherSetup);
    {
        ProtectedSelfCopy::Copy other;
        ASSERT_TRUE(other.HoldSource(otherSetup));
        ASSERT_TRUE(other.Make(work, system, true, notes)) << Joined(notes);
        EXPECT_NE(ProtectedSelfCopy::CopyFolderFor(work, other.GetDigest()), firstFolder);
        EXPECT_TRUE(Exists(firstPath));
    }
    // Once no run holds it (and its program no longer runs), the next run removes it.
    ASSERT_TRUE(test_support::WaitUntil([&] { return Started(firstPath) == "args=x\n"; }, 20000));
    Sleep(500);  // the started program has ended
    first.reset();
    second.reset();
    ProtectedSelfCopy::Copy later;
    ASSERT_TRUE(later.HoldSource(otherSetup));
    ASSERT_TRUE(later.Make(work, system, true, notes)) << Joined(notes);
    EXPECT_FALSE(Exists(firstPath));
    EXPECT_FALSE(Exists(firstFolder));
}

TEST_F(SelfCopyTest, NoProtectedFolderNoCopyAndNothingStarted) {
    const struct {
        const char* name;
        bool foreignFolder;
        std::wstring workFolder;
        const char* note;
    } cases[] = {
        {"copy folder writable by users", true, work, "refused, writable by someone else"},
        {"no work folder", false, L"", "no protected work folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        system.copyFolderForeign = c.foreignFolder;
        ProtectedSelfCopy::Copy copy;
        ASSERT_TRUE(copy.HoldSource(setup));
        std::vector<std::string> notes;
        EXPECT_FALSE(copy.Make(c.workFolder, system, true, notes));
        EXPECT_NE(Joined(notes).find(c.note), std::string::npos) << Joined(notes);
        EXPECT_FALSE(copy.Ready());
        EXPECT_EQ(copy.Path(), L"");
        EXPECT_EQ(copy.Start(L"-sendrestlogs", SW_HIDE), StartResult::NoCopy);
        // The source was let go all the same.
        EXPECT_TRUE(MoveFileW(setup.c_str(), (setup + L".moved").c_str()));
        EXPECT_TRUE(MoveFileW((setup + L".moved").c_str(), setup.c_str()));
        EXPECT_TRUE(test_support::FilesIn(work).empty()) << "left in the work folder";
    }
    Sleep(1000);
    EXPECT_EQ(Started(setup), "");
}

// Beside the copy: the proxy file in every build, the test switches only in test builds.
TEST_F(SelfCopyTest, SideFilesByBuild) {
    EXPECT_EQ(ProtectedSelfCopy::SideFileNames(false), (std::vector<std::wstring>{L"proxy.txt"}));
    ProtectedSelfCopy::Copy copy;
    ASSERT_TRUE(copy.HoldSource(setup));
    std::vector<std::string> notes;
    ASSERT_TRUE(copy.Make(work, system, false, notes)) << Joined(notes);
    const std::wstring folder = ProtectedSelfCopy::CopyFolderFor(work, copy.GetDigest());
    EXPECT_TRUE(Exists(folder + L"\\proxy.txt"));
    EXPECT_FALSE(Exists(folder + L"\\qv_downloader.cfg"));
}
