// Choice of the drive for run folders and the solid-state letters, over given drive facts; the
// device queries on letters that name no drive; one pass over the real drives.
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/FuntionImpl.h"
#include "base/TextCodec.h"

using namespace FuntionImpl;

namespace {

constexpr uint64_t GB = 1024ull * 1024 * 1024;

DriveFacts Drive(const wchar_t* root, unsigned type, uint64_t freeBytes, int bus = 11 /* SATA */, bool ssd = false) {
    DriveFacts d;
    d.root = root;
    d.type = type;
    d.freeBytes = freeBytes;
    d.busType = bus;
    d.noSeekPenalty = ssd;
    return d;
}

}  // namespace

TEST(LargestFixedDrive, ReplacesTheDriveRoot) {
    const std::wstring path = L"C:\\VUDezivazaru\\LumenoSetup";
    struct Case {
        const char* what;
        std::vector<DriveFacts> drives;
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {"the fixed drive with more free space wins",
         {Drive(L"C:\\", DRIVE_FIXED, 10 * GB), Drive(L"D:\\", DRIVE_FIXED, 200 * GB)},
         path, L"D:\\VUDezivazaru\\LumenoSetup"},
        {"a larger USB drive is never chosen",
         {Drive(L"C:\\", DRIVE_FIXED, 10 * GB), Drive(L"D:\\", DRIVE_FIXED, 200 * GB),
          Drive(L"E:\\", DRIVE_FIXED, 2000 * GB, kBusTypeUsb)},
         path, L"D:\\VUDezivazaru\\LumenoSetup"},
        {"removable, network and optical drives do not count",
         {Drive(L"C:\\", DRIVE_FIXED, 10 * GB), Drive(L"E:\\", DRIVE_REMOVABLE, 900 * GB),
          Drive(L"F:\\", DRIVE_REMOTE, 900 * GB), Drive(L"G:\\", DRIVE_CDROM, 900 * GB)},
         path, path},
        {"equal free space keeps the earlier drive",
         {Drive(L"C:\\", DRIVE_FIXED, 100 * GB), Drive(L"D:\\", DRIVE_FIXED, 100 * GB)},
         path, path},
        {"equal free space: the earlier drive even for a path on the later one",
         {Drive(L"C:\\", DRIVE_FIXED, 100 * GB), Drive(L"D:\\", DRIVE_FIXED, 100 * GB)},
         L"D:\\work", L"C:\\work"},
        {"no drive with free space leaves the path", {Drive(L"C:\\", DRIVE_FIXED, 0)}, path, path},
        {"no drives at all", {}, path, path},
        {"sizes beyond 4 GiB compare as 64-bit",
         {Drive(L"C:\\", DRIVE_FIXED, 5 * GB), Drive(L"D:\\", DRIVE_FIXED, 1 * GB + 1)},
         L"D:\\x", L"C:\\x"},
        {"lower-case drive letter and forward slash", {Drive(L"D:\\", DRIVE_FIXED, 1 * GB)}, L"c:/a/b", L"D:\\a/b"},
        {"bare root", {Drive(L"D:\\", DRIVE_FIXED, 1 * GB)}, L"C:\\", L"D:\\"},
        {"UNC path is not cut apart", {Drive(L"D:\\", DRIVE_FIXED, 1 * GB)}, L"\\\\server\\share\\x",
         L"\\\\server\\share\\x"},
        {"rooted path without drive", {Drive(L"D:\\", DRIVE_FIXED, 1 * GB)}, L"\\VUDezivazaru\\x", L"\\VUDezivazaru\\x"},
        {"short text", {Drive(L"D:\\", DRIVE_FIXED, 1 * GB)}, L"C:", L"C:"},
        {"empty text", {Drive(L"D:\\", DRIVE_FIXED, 1 * GB)}, L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextCodec::WideToUtf8(ReplaceDriveWithLargestFixed(c.path, c.drives)),
                  TextCodec::WideToUtf8(c.expected))
            << c.what;
}

TEST(SsdLetters, FixedNonUsbSolidStateInDriveOrder) {
    std::vector<DriveFacts> drives = {
        Drive(L"C:\\", DRIVE_FIXED, 0, 11, true),
        Drive(L"D:\\", DRIVE_FIXED, 0, 11, false),           // spinning disk
        Drive(L"E:\\", DRIVE_FIXED, 0, kBusTypeUsb, true),   // USB stick
        Drive(L"F:\\", DRIVE_REMOVABLE, 0, 0, true),
        Drive(L"G:\\", DRIVE_FIXED, 0, 17 /* NVMe */, true),
    };
    EXPECT_EQ(SsdDriveLettersFrom(drives), L"CG");
    EXPECT_EQ(SsdDriveLettersFrom({}), L"");
}

TEST(DeviceQueries, LettersThatNameNoDrive) {
    for (wchar_t letter : {L'1', L'?', L'*', L'\0', L'\\', L'[', L'@', static_cast<wchar_t>(0x00e4)}) {
        EXPECT_EQ(GetDriveBusType(letter), 0) << static_cast<int>(letter);
        EXPECT_FALSE(IsSsdDrive(letter)) << static_cast<int>(letter);
    }
}

TEST(DriveFactsOnThisMachine, AtLeastOneFixedDrive) {
    std::vector<DriveFacts> drives = ReadDriveFacts(true, true);
    int fixed = 0;
    for (const DriveFacts& d : drives) {
        ASSERT_TRUE(StartsWithDriveRoot(d.root)) << TextCodec::WideToUtf8(d.root);
        if (d.type == DRIVE_FIXED) ++fixed;
    }
    EXPECT_GE(fixed, 1);

    for (wchar_t letter : GetSsdDriveLetters()) EXPECT_TRUE(letter >= L'A' && letter <= L'Z');

    std::wstring moved = ReplaceDriveWithLargestFixed(L"C:\\VUDezivazaru\\probe");
    EXPECT_TRUE(StartsWithDriveRoot(moved));
    EXPECT_EQ(moved.substr(3), L"VUDezivazaru\\probe");
}
