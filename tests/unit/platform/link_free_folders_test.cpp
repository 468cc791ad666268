// Folders of the user's profile that the elevated setup writes to: a folder on the way that is a
// link is refused (and nothing is written where it leads), a sibling family folder is taken
// instead, a secured folder cannot be renamed away while the process runs, and a file reached
// through a link or carrying a second name is not opened for writing. The links are Linux symbolic
// links, which Wine shows as folders with a reparse point and follows like junctions (Wine makes
// no junctions itself).
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/TextCodec.h"
#include "platform/LinkFreeFolders.h"
#include "support/test_support.h"

namespace {

using test_support::FilesBelow;
using test_support::MakeLink;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteText;

bool IsFolder(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

TEST(LinkFreeFolders, MakesTheFoldersAndHoldsThemAgainstRenaming) {
    TempDir base;
    std::string detail;
    ASSERT_TRUE(LinkFreeFolders::Secure(base.path(), L"Family\\logs\\Product", &detail)) << detail;
    EXPECT_TRUE(IsFolder(base.File(L"Family\\logs\\Product")));
    // Held: a folder on the way cannot be moved aside (and a link put in its place).
    EXPECT_FALSE(MoveFileW(base.File(L"Family").c_str(), base.File(L"Moved").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileW(base.File(L"Family\\logs\\Product").c_str(), base.File(L"Moved").c_str()));
    // Files come and go in it as usual.
    WriteText(base.File(L"Family\\logs\\Product\\a.log"), "x");
    EXPECT_TRUE(DeleteFileW(base.File(L"Family\\logs\\Product\\a.log").c_str()));
    // Securing it again (another part of the program, or another run) is no conflict.
    EXPECT_TRUE(LinkFreeFolders::Secure(base.path(), L"Family\\logs\\Product", &detail)) << detail;
}

TEST(LinkFreeFolders, RefusesALinkOnTheWayAndWritesNothingWhereItLeads) {
    TempDir base, elsewhere;
    ASSERT_TRUE(MakeLink(elsewhere.path(), base.File(L"Family"))) << "could not make a link under Wine";
    const struct {
        const char* what;
        std::wstring relative;
    } cases[] = {{"the family folder", L"Family\\logs\\Product"}, {"the last folder", L"Family"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string detail;
        EXPECT_FALSE(LinkFreeFolders::Secure(base.path(), c.relative, &detail));
        EXPECT_NE(detail.find("Family refused, a junction or link"), std::string::npos) << detail;
    }
    // A link deeper down, below real folders.
    TempDir other;
    ASSERT_TRUE(LinkFreeFolders::Secure(other.path(), L"Family\\logs", nullptr));
    ASSERT_TRUE(MakeLink(elsewhere.path(), other.File(L"Family\\logs\\Product")));
    std::string detail;
    EXPECT_FALSE(LinkFreeFolders::Secure(other.path(), L"Family\\logs\\Product", &detail));
    EXPECT_NE(detail.find("Product refused, a junction or link"), std::string::npos) << detail;
    EXPECT_TRUE(FilesBelow(elsewhere.path()).empty());
    EXPECT_FALSE(IsFolder(elsewhere.path() + L"\\logs")) << "a folder was made through the link";
}

TEST(LinkFreeFolders, ChoosesTheFirstSiblingFamilyWithoutALink) {
    TempDir base, elsewhere;
    ASSERT_TRUE(MakeLink(elsewhere.path(), base.File(L"Family")));
    ASSERT_TRUE(MakeLink(elsewhere.path(), base.File(L"Family-2")));
    LinkFreeFolders::Choice choice = LinkFreeFolders::Choose(base.path(), L"Family", L"logs\\Product", "Log folder");
    EXPECT_EQ(choice.folder, base.File(L"Family-3\\logs\\Product"));
    EXPECT_TRUE(IsFolder(choice.folder));
    ASSERT_EQ(choice.notes.size(), 3u);
    EXPECT_EQ(choice.notes[0].rfind(" Log folder: ", 0), 0u);
    EXPECT_NE(choice.notes[1].find("Family-2 refused, a junction or link"), std::string::npos) << choice.notes[1];
    EXPECT_NE(choice.notes[2].find("Family-3"), std::string::npos) << choice.notes[2];
    EXPECT_TRUE(FilesBelow(elsewhere.path()).empty());

    // Without a link the family folder itself, and no note.
    TempDir plain;
    choice = LinkFreeFolders::Choose(plain.path(), L"Family", L"logs\\Product", "Log folder");
    EXPECT_EQ(choice.folder, plain.File(L"Family\\logs\\Product"));
    EXPECT_TRUE(choice.notes.empty());
}

TEST(LinkFreeFolders, NoBaseFolderMeansNoFolderAndNothingAtADriveRoot) {
    LinkFreeFolders::Choice choice = LinkFreeFolders::Choose(L"", L"OrbalaLinkTest", L"logs", "Log folder");
    EXPECT_TRUE(choice.folder.empty());
    ASSERT_EQ(choice.notes.size(), 1u);
    EXPECT_EQ(choice.notes[0], " Log folder: none, APPDATA is not set");
    EXPECT_EQ(GetFileAttributesW(L"\\OrbalaLinkTest"), INVALID_FILE_ATTRIBUTES);
    // Names that would climb out of the base are not folder names.
    TempDir base;
    for (const wchar_t* relative : {L"..\\Escaped", L"Family\\.\\x", L"C:\\x", L"Family\\\\x", L"a/b"}) {
        std::string detail;
        EXPECT_FALSE(LinkFreeFolders::Secure(base.path(), relative, &detail)) << TextCodec::WideToUtf8(relative);
    }
}

TEST(LinkFreeFolders, AFileReachedThroughALinkOrWithASecondNameIsNotOpened) {
    TempDir base, elsewhere;
    const std::wstring victim = elsewhere.File(L"victim.log");
    const struct {
        const char* what;
        std::function<bool()> plant;  // puts something in place of base\\planted.log
        std::wstring path;
    } cases[] = {
        {"a link to the file", [&] { return MakeLink(victim, base.File(L"planted.log")); }, base.File(L"planted.log")},
        {"a second name of the file", [&] { return CreateHardLinkW(base.File(L"second.log").c_str(), victim.c_str(), nullptr) != 0; },
         base.File(L"second.log")},
        {"a linked folder", [&] { return MakeLink(elsewhere.path(), base.File(L"linked")); }, base.File(L"linked\\victim.log")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteText(victim, "keep me");
        ASSERT_TRUE(c.plant());
        for (DWORD disposition : {static_cast<DWORD>(CREATE_ALWAYS), static_cast<DWORD>(OPEN_ALWAYS)}) {
            HANDLE file = LinkFreeFolders::CreateFileAt(c.path, GENERIC_WRITE, 0, disposition);
            EXPECT_EQ(file, INVALID_HANDLE_VALUE) << disposition;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        }
        FILE* stream = LinkFreeFolders::OpenForAppend(c.path, true);
        EXPECT_EQ(stream, nullptr);
        if (stream) fclose(stream);
        EXPECT_EQ(ReadFile(victim), "keep me") << "changed through the planted name";
    }

    // A plain file: made, emptied for CREATE_ALWAYS, appended to by OpenForAppend.
    WriteText(base.File(L"plain.log"), "old");
    HANDLE file = LinkFreeFolders::CreateFileAt(base.File(L"plain.log"), GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(ReadFile(base.File(L"plain.log")), "");
    for (const char* part : {"a", "b"}) {
        FILE* stream = LinkFreeFolders::OpenForAppend(base.File(L"plain.log"), false);
        ASSERT_NE(stream, nullptr);
        fputs(part, stream);
        fclose(stream);
    }
    EXPECT_EQ(ReadFile(base.File(L"plain.log")), "ab");
}
