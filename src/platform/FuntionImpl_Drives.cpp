// Drive facts: type, bus, free space and seek penalty of the logical drives, and the choices
// made from them (solid-state letters, the fixed drive with the most free space).
#include "platform/FuntionImpl.h"

#include <windows.h>
#include <winioctl.h>

namespace FuntionImpl {
namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Opens the volume of a drive letter for device queries; INVALID_HANDLE_VALUE on failure.
HANDLE OpenVolume(wchar_t letter, DWORD access, DWORD attributes) {
    if (!IsAsciiLetter(letter)) return INVALID_HANDLE_VALUE;
    wchar_t name[] = L"\\\\?\\*:";
    name[4] = letter;
    return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, attributes, nullptr);
}

std::vector<std::wstring> LogicalDriveRoots() {
    std::vector<std::wstring> roots;
    DWORD needed = GetLogicalDriveStringsW(0, nullptr);
    if (needed == 0) return roots;
    std::wstring buffer(needed + 1, L'\0');
    DWORD written = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), &buffer[0]);
    if (written == 0 || written >= buffer.size()) return roots;
    for (const wchar_t* p = buffer.c_str(); *p != L'\0'; p += wcslen(p) + 1) roots.emplace_back(p);
    return roots;
}

}  // namespace

bool IsSsdDrive(wchar_t letter) {
    HANDLE volume = OpenVolume(letter, 0, 0);
    if (volume == INVALID_HANDLE_VALUE) return false;
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR descriptor = {};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), &descriptor,
                              sizeof(descriptor), &returned, nullptr);
    CloseHandle(volume);
    if (!ok || returned < sizeof(descriptor)) return false;
    return descriptor.IncursSeekPenalty == FALSE;
}

int GetDriveBusType(wchar_t letter) {
    HANDLE volume = OpenVolume(letter, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    if (volume == INVALID_HANDLE_VALUE) return 0;
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    // The fixed part of STORAGE_DEVICE_DESCRIPTOR (40 bytes); the bus type lies inside it.
    union {
        STORAGE_DEVICE_DESCRIPTOR descriptor;
        BYTE bytes[40];
    } out = {};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), &out, sizeof(out.bytes),
                              &returned, nullptr);
    CloseHandle(volume);
    const DWORD needed = offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(out.descriptor.BusType);
    if (!ok || returned < needed) return 0;
    return static_cast<int>(out.descriptor.BusType);
}

std::vector<DriveFacts> ReadDriveFacts(bool withFreeSpace, bool withSeekPenalty) {
    std::vector<DriveFacts> drives;
    for (const std::wstring& root : LogicalDriveRoots()) {
        DriveFacts drive;
        drive.root = root;
        drive.type = GetDriveTypeW(root.c_str());
        if (drive.type == DRIVE_FIXED && !root.empty()) {
            drive.busType = GetDriveBusType(root[0]);
            if (drive.busType != kBusTypeUsb) {
                if (withFreeSpace) {
                    ULARGE_INTEGER available = {};
                    if (GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr))
                        drive.freeBytes = available.QuadPart;
                }
                if (withSeekPenalty) drive.noSeekPenalty = IsSsdDrive(root[0]);
            }
        }
        drives.push_back(drive);
    }
    return drives;
}

bool IsFixedNonUsb(const DriveFacts& drive) {
    return drive.type == DRIVE_FIXED && drive.busType != kBusTypeUsb && !drive.root.empty();
}

std::wstring SsdDriveLettersFrom(const std::vector<DriveFacts>& drives) {
    std::wstring letters;
    for (const DriveFacts& drive : drives)
        if (IsFixedNonUsb(drive) && drive.noSeekPenalty) letters.push_back(drive.root[0]);
    return letters;
}

std::wstring GetSsdDriveLetters() { return SsdDriveLettersFrom(ReadDriveFacts(false, true)); }

bool StartsWithDriveRoot(const std::wstring& path) {
    return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

std::wstring ReplaceDriveWithLargestFixed(const std::wstring& path, const std::vector<DriveFacts>& drives) {
    // Only a drive-letter path has a root to replace; a relative or UNC path would be cut apart.
    if (!StartsWithDriveRoot(path)) return path;
    std::wstring bestRoot = path.substr(0, 3);
    uint64_t bestFree = 0;
    for (const DriveFacts& drive : drives) {
        if (!IsFixedNonUsb(drive) || !StartsWithDriveRoot(drive.root)) continue;
        if (drive.freeBytes > bestFree) {
            bestFree = drive.freeBytes;
            bestRoot = drive.root.substr(0, 3);
        }
    }
    return bestRoot + path.substr(3);
}

std::wstring ReplaceDriveWithLargestFixed(const std::wstring& path) {
    if (!StartsWithDriveRoot(path)) return path;
    return ReplaceDriveWithLargestFixed(path, ReadDriveFacts(true, false));
}

}  // namespace FuntionImpl
