// The work folder is one that no one else controls: the trust decision over a folder's facts,
// the choice among family folders and drives (through a stand-in system), and what Windows (here
// Wine) shows of real folders: creation, a folder everyone may write, a file in the way, and the
// drives that keep access lists. Wine keeps no owners or access lists of its own (it makes them up
// from Unix modes) and cannot make junctions: owners and reparse points are covered through the
// stand-in, the mode-derived access list through Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/RunFolders.h"
#include "support/test_support.h"

namespace {

const char kSystem[] = "S-1-5-18";
const char kAdmins[] = "S-1-5-32-544";
const char kUsers[] = "S-1-5-32-545";
const char kEveryone[] = "S-1-1-0";
const char kAnn[] = "S-1-5-21-1-2-3-1001";  // an ordinary local user
const std::vector<std::string> kTrusted = {kSystem, kAdmins};

FolderFacts Protected() {
    FolderFacts f;
    f.exists = f.isDirectory = f.securityRead = f.hasAccessList = true;
    f.ownerSid = kAdmins;
    f.aces = {{kSystem, FILE_ALL_ACCESS, true}, {kAdmins, FILE_ALL_ACCESS, true}, {kUsers, 0x1200a9, true}};
    return f;
}

// A stand-in file system: folders by path with their facts; creation makes protected ones.
class FakeSystem : public RunFolders::FolderSystem {
public:
    std::map<std::wstring, FolderFacts> folders;
    std::set<std::wstring> withTaskFile;
    std::vector<std::wstring> created;
    std::map<std::wstring, FolderFacts> appearsOnCreate;  // someone else is faster
    std::set<std::wstring> cannotCreate;

    FolderFacts Inspect(const std::wstring& path) override {
        auto it = folders.find(path);
        return it == folders.end() ? FolderFacts() : it->second;
    }
    bool CreateProtected(const std::wstring& path) override {
        if (cannotCreate.count(path)) return false;
        auto raced = appearsOnCreate.find(path);
        if (raced != appearsOnCreate.end()) {
            folders[path] = raced->second;
            return false;
        }
        if (folders.count(path)) return false;
        folders[path] = Protected();
        created.push_back(path);
        return true;
    }
    bool HoldsResumableDownload(const std::wstring& folder) override { return withTaskFile.count(folder) != 0; }
    std::vector<std::string> TrustedSids() override { return kTrusted; }
    std::wstring RandomSuffix() override { return L"5f3a9c21"; }
};

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
}

}  // namespace

TEST(WorkFolder, TrustDecisionOverAFoldersFacts) {
    struct Case {
        const char* what;
        FolderFacts facts;
        FolderVerdict verdict;
        const char* detail;
    };
    std::vector<Case> cases;
    cases.push_back({"protected", Protected(), FolderVerdict::Trusted, ""});
    FolderFacts f = Protected();
    f.ownerSid = kSystem;
    f.aces.push_back({kEveryone, FILE_ALL_ACCESS, false});  // a deny entry gives no one anything
    cases.push_back({"owned by SYSTEM, with a deny entry", f, FolderVerdict::Trusted, ""});
    cases.push_back({"missing", FolderFacts(), FolderVerdict::Missing, ""});
    f = Protected(); f.isDirectory = false;
    cases.push_back({"a file", f, FolderVerdict::NotAFolder, ""});
    f = Protected(); f.isReparsePoint = true;
    cases.push_back({"a junction", f, FolderVerdict::ReparsePoint, ""});
    f = Protected(); f.securityRead = false;
    cases.push_back({"unreadable", f, FolderVerdict::Unreadable, ""});
    f = Protected(); f.ownerSid = kAnn;
    cases.push_back({"made by a user first", f, FolderVerdict::ForeignOwner, kAnn});
    f = Protected(); f.hasAccessList = false;
    cases.push_back({"no access list", f, FolderVerdict::NoAccessList, ""});
    f = Protected(); f.aces.push_back({"S-1-5-11", FILE_ADD_SUBDIRECTORY, true});
    cases.push_back({"authenticated users may add folders", f, FolderVerdict::ForeignWriter, "S-1-5-11"});
    f = Protected(); f.aces.push_back({kUsers, DELETE, true});
    cases.push_back({"users may delete it", f, FolderVerdict::ForeignWriter, kUsers});
    f = Protected(); f.aces.push_back({kAnn, WRITE_DAC, true});
    cases.push_back({"a user may change the access list", f, FolderVerdict::ForeignWriter, kAnn});
    f = Protected(); f.aces.push_back({"S-1-3-0", GENERIC_ALL, true});
    cases.push_back({"creator owner of what is made inside", f, FolderVerdict::ForeignWriter, "S-1-3-0"});
    f = Protected(); f.aces.push_back({kEveryone, 0x1301ff, true});
    cases.push_back({"everyone may write (Wine's mode 0777)", f, FolderVerdict::ForeignWriter, kEveryone});
    for (const Case& c : cases) {
        std::string detail = "unset";
        EXPECT_EQ(RunFolders::Judge(c.facts, kTrusted, &detail), c.verdict) << c.what;
        EXPECT_EQ(detail, c.detail) << c.what;
    }
}

TEST(WorkFolder, MissingFoldersAreCreatedProtected) {
    FakeSystem fs;
    RunFolders::WorkFolderChoice c = RunFolders::ChooseWorkFolder(L"D:\\VUDezivazaru\\Lumeno", {L"C:\\"}, fs);
    EXPECT_EQ(c.folder, L"D:\\VUDezivazaru\\Lumeno");
    EXPECT_EQ(fs.created, (std::vector<std::wstring>{L"D:\\VUDezivazaru", L"D:\\VUDezivazaru\\Lumeno"}));
    EXPECT_EQ(Joined(c.notes), " Work folder: created D:\\VUDezivazaru\n Work folder: created D:\\VUDezivazaru\\Lumeno\n"
                               " Work folder: D:\\VUDezivazaru\\Lumeno\n");
    // The next run finds them and takes them as they are.
    fs.created.clear();
    c = RunFolders::ChooseWorkFolder(L"D:\\VUDezivazaru\\Lumeno", {}, fs);
    EXPECT_EQ(c.folder, L"D:\\VUDezivazaru\\Lumeno");
    EXPECT_TRUE(fs.created.empty());
}

TEST(WorkFolder, SomeoneElsesFolderIsPassedOverForAFreshOneBesideIt) {
    struct Case {
        const char* what;
        std::function<void(FakeSystem&)> prepare;
        std::wstring expected;
        std::string note;
    };
    FolderFacts foreign = Protected();
    foreign.ownerSid = kAnn;
    FolderFacts junction = Protected();
    junction.isReparsePoint = true;
    FolderFacts writable = Protected();
    writable.aces.push_back({kUsers, FILE_GENERIC_WRITE, true});
    const Case cases[] = {
        {"family folder made by a user", [&](FakeSystem& fs) { fs.folders[L"D:\\VUDezivazaru"] = foreign; },
         L"D:\\VUDezivazaru-2\\Lumeno",
         " Work folder: D:\\VUDezivazaru refused, owned by someone else (S-1-5-21-1-2-3-1001)"},
        {"family folder is a junction", [&](FakeSystem& fs) { fs.folders[L"D:\\VUDezivazaru"] = junction; },
         L"D:\\VUDezivazaru-2\\Lumeno", " Work folder: D:\\VUDezivazaru refused, a junction or link"},
        {"work folder writable by users",
         [&](FakeSystem& fs) {
             fs.folders[L"D:\\VUDezivazaru"] = Protected();
             fs.folders[L"D:\\VUDezivazaru\\Lumeno"] = writable;
         },
         L"D:\\VUDezivazaru-2\\Lumeno", " Work folder: D:\\VUDezivazaru\\Lumeno refused, writable by someone else (S-1-5-32-545)"},
        {"a user is faster between the look and the creation",
         [&](FakeSystem& fs) { fs.appearsOnCreate[L"D:\\VUDezivazaru"] = foreign; }, L"D:\\VUDezivazaru-2\\Lumeno",
         " Work folder: D:\\VUDezivazaru refused, owned by someone else"},
        {"every family name taken",
         [&](FakeSystem& fs) {
             fs.folders[L"D:\\VUDezivazaru"] = foreign;
             for (int n = 2; n <= 9; ++n) fs.folders[L"D:\\VUDezivazaru-" + std::to_wstring(n)] = foreign;
         },
         L"D:\\VUDezivazaru-5f3a9c21\\Lumeno", " Work folder: D:\\VUDezivazaru-9 refused"},
        {"an earlier fresh folder is used again",
         [&](FakeSystem& fs) {
             fs.folders[L"D:\\VUDezivazaru"] = foreign;
             fs.folders[L"D:\\VUDezivazaru-2"] = Protected();
             fs.folders[L"D:\\VUDezivazaru-2\\Lumeno"] = Protected();
         },
         L"D:\\VUDezivazaru-2\\Lumeno", " Work folder: D:\\VUDezivazaru-2\\Lumeno"},
    };
    for (const Case& c : cases) {
        FakeSystem fs;
        c.prepare(fs);
        RunFolders::WorkFolderChoice choice = RunFolders::ChooseWorkFolder(L"D:\\VUDezivazaru\\Lumeno", {}, fs);
        EXPECT_EQ(choice.folder, c.expected) << c.what;
        EXPECT_NE(Joined(choice.notes).find(c.note), std::string::npos) << c.what << "\n" << Joined(choice.notes);
        for (const std::wstring& made : fs.created)
            EXPECT_EQ(RunFolders::Judge(fs.folders[made], kTrusted, nullptr), FolderVerdict::Trusted);
    }
    // Nothing can be created at all: no folder rather than an unprotected one.
    FakeSystem readOnly;
    readOnly.folders[L"D:\\VUDezivazaru"] = foreign;
    for (const wchar_t* name : {L"D:\\VUDezivazaru-2", L"D:\\VUDezivazaru-3", L"D:\\VUDezivazaru-4", L"D:\\VUDezivazaru-5",
                                L"D:\\VUDezivazaru-6", L"D:\\VUDezivazaru-7", L"D:\\VUDezivazaru-8", L"D:\\VUDezivazaru-9",
                                L"D:\\VUDezivazaru-5f3a9c21"})
        readOnly.cannotCreate.insert(name);
    RunFolders::WorkFolderChoice none = RunFolders::ChooseWorkFolder(L"D:\\VUDezivazaru\\Lumeno", {}, readOnly);
    EXPECT_EQ(none.folder, L"");
    EXPECT_NE(Joined(none.notes).find(" Work folder: no protected folder could be made on D:\\"), std::string::npos);
    EXPECT_EQ(RunFolders::ChooseWorkFolder(L"D:\\Other\\Lumeno", {}, readOnly).folder, L"");
}

TEST(WorkFolder, AnEarlierDownloadIsResumedWhereverTheBestDriveIsNow) {
    FakeSystem fs;
    // The first run chose D:; the download filled it, so E: has the most free space now.
    fs.folders[L"D:\\VUDezivazaru"] = Protected();
    fs.folders[L"D:\\VUDezivazaru\\Lumeno"] = Protected();
    fs.withTaskFile.insert(L"D:\\VUDezivazaru\\Lumeno");
    RunFolders::WorkFolderChoice c = RunFolders::ChooseWorkFolder(L"E:\\VUDezivazaru\\Lumeno", {L"C:\\", L"D:\\", L"E:\\"}, fs);
    EXPECT_EQ(c.folder, L"D:\\VUDezivazaru\\Lumeno");
    EXPECT_EQ(Joined(c.notes), " Work folder: D:\\VUDezivazaru\\Lumeno (an earlier download to resume)\n");
    EXPECT_TRUE(fs.created.empty()) << "nothing is made on E:";

    // Also in a fresh family folder of an earlier run; but never in one that someone else controls.
    FakeSystem other;
    FolderFacts foreign = Protected();
    foreign.ownerSid = kAnn;
    other.folders[L"C:\\VUDezivazaru"] = foreign;
    other.folders[L"C:\\VUDezivazaru\\Lumeno"] = Protected();
    other.withTaskFile.insert(L"C:\\VUDezivazaru\\Lumeno");
    other.folders[L"D:\\VUDezivazaru-3"] = Protected();
    other.folders[L"D:\\VUDezivazaru-3\\Lumeno"] = Protected();
    other.withTaskFile.insert(L"D:\\VUDezivazaru-3\\Lumeno");
    c = RunFolders::ChooseWorkFolder(L"E:\\VUDezivazaru\\Lumeno", {L"C:\\", L"D:\\"}, other);
    EXPECT_EQ(c.folder, L"D:\\VUDezivazaru-3\\Lumeno");

    // The preferred drive's own earlier download comes first.
    fs.folders[L"E:\\VUDezivazaru"] = Protected();
    fs.folders[L"E:\\VUDezivazaru\\Lumeno"] = Protected();
    fs.withTaskFile.insert(L"E:\\VUDezivazaru\\Lumeno");
    EXPECT_EQ(RunFolders::ChooseWorkFolder(L"E:\\VUDezivazaru\\Lumeno", {L"D:\\"}, fs).folder, L"E:\\VUDezivazaru\\Lumeno");
}

// ---- What Wine shows of real folders ----------------------------------------------------------

TEST(WorkFolder, RealFoldersCreatedProtectedAndAFolderEveryoneMayWriteRefused) {
    RunFolders::FolderSystem& system = RunFolders::WindowsFolderSystem();
    const std::vector<std::string> trusted = system.TrustedSids();
    test_support::TempDir dir;

    const std::wstring mine = dir.File(L"protected");
    ASSERT_TRUE(system.CreateProtected(mine));
    EXPECT_FALSE(system.CreateProtected(mine)) << "an existing folder is never taken over";
    FolderFacts facts = system.Inspect(mine);
    std::string detail;
    EXPECT_EQ(RunFolders::Judge(facts, trusted, &detail), FolderVerdict::Trusted) << detail;
    EXPECT_TRUE(facts.isDirectory);
    EXPECT_FALSE(facts.isReparsePoint);

    // A folder that grants everyone full control (Wine shows it as mode 0777).
    const std::wstring open = dir.File(L"open");
    ASSERT_TRUE(CreateDirectoryW(open.c_str(), nullptr));
    PSECURITY_DESCRIPTOR everyone = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(everyone, &present, &acl, &defaulted);
    ASSERT_EQ(SetNamedSecurityInfoW(const_cast<LPWSTR>(open.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    acl, nullptr),
              DWORD(ERROR_SUCCESS));
    LocalFree(everyone);
    EXPECT_EQ(RunFolders::Judge(system.Inspect(open), trusted, &detail), FolderVerdict::ForeignWriter);
    EXPECT_EQ(detail, kEveryone);

    // A file where the folder should be; nothing at all.
    test_support::WriteText(dir.File(L"file"), "x");
    EXPECT_EQ(RunFolders::Judge(system.Inspect(dir.File(L"file")), trusted, nullptr), FolderVerdict::NotAFolder);
    EXPECT_EQ(RunFolders::Judge(system.Inspect(dir.File(L"none")), trusted, nullptr), FolderVerdict::Missing);

    // Task files mark a download to resume.
    EXPECT_FALSE(system.HoldsResumableDownload(mine));
    test_support::WriteText(mine + L"\\Lumeno_1.0.exe.xml", "<Tasks/>");
    EXPECT_TRUE(system.HoldsResumableDownload(mine));
    DeleteFileW((mine + L"\\Lumeno_1.0.exe.xml").c_str());
    RemoveDirectoryW(mine.c_str());
    RemoveDirectoryW(open.c_str());
}

TEST(WorkFolder, OnRealDrivesSomeoneElsesWorkFolderIsPassedOver) {
    // A base name of this test's own, on the Windows drive: C:\VUDezivazaru\<name>.
    const std::wstring name = L"work_folder_test_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring preferred = L"C:\\VUDezivazaru\\" + name;
    RunFolders::FolderSystem& system = RunFolders::WindowsFolderSystem();
    RunFolders::WorkFolderChoice first = RunFolders::ChooseWorkFolder(preferred, {}, system);
    ASSERT_EQ(first.folder, preferred) << Joined(first.notes);

    // Someone opened it to everyone: the next run makes a fresh one beside the family folder.
    PSECURITY_DESCRIPTOR everyone = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(everyone, &present, &acl, &defaulted);
    SetNamedSecurityInfoW(const_cast<LPWSTR>(preferred.c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    LocalFree(everyone);
    RunFolders::WorkFolderChoice second = RunFolders::ChooseWorkFolder(preferred, {}, system);
    EXPECT_EQ(second.folder, L"C:\\VUDezivazaru-2\\" + name) << Joined(second.notes);
    EXPECT_NE(Joined(second.notes).find(" refused, writable by someone else (S-1-1-0)"), std::string::npos);
    RemoveDirectoryW(second.folder.c_str());
    RemoveDirectoryW(preferred.c_str());
}

TEST(WorkFolder, DrivesWithoutAccessListsAreLeftOut) {
    FuntionImpl::DriveFacts c, missing, network;
    c.root = L"C:\\";
    c.type = DRIVE_FIXED;
    missing.root = L"Q:\\";  // nothing there: its file system cannot be asked
    missing.type = DRIVE_FIXED;
    network.root = L"N:\\";
    network.type = DRIVE_REMOTE;  // never a work folder drive; left for the drive choice to skip
    std::vector<FuntionImpl::DriveFacts> drives = {c, missing, network};
    RunFolders::KeepDrivesWithAccessLists(drives);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].root, L"C:\\");
    EXPECT_EQ(drives[1].root, L"N:\\");
}
