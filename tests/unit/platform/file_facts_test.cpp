// File names, folder creation, machine registry strings, version resources and the channel facts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/FuntionImpl.h"
#include "base/TextCodec.h"
#include "support/test_support.h"

using namespace FuntionImpl;

TEST(EndsWithExe, ExactCaseOrShortText) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"a.exe", true}, {L"C:\\dir\\setup.exe", true}, {L"ab", true}, {L"", true}, {L"abc", true},
        {L"a.EXE", false}, {L"a.Exe", false}, {L"a.exe ", false}, {L"a.ex", false}, {L"abcd", false},
        {L".exe", true}, {L"a.exe.txt", false},
    };
    for (const auto& c : cases) EXPECT_EQ(EndsWithExe(c.first), c.second) << TextCodec::WideToUtf8(c.first);
}

TEST(CreateDirectoryPath, CreatesEveryMissingParent) {
    test_support::TempDir dir;
    const std::wstring deep = dir.path() + L"\\one\\two/three\\four";
    EXPECT_EQ(CreateDirectoryPath(deep), 0u);
    for (const wchar_t* sub : {L"\\one", L"\\one\\two", L"\\one\\two\\three", L"\\one\\two\\three\\four"}) {
        DWORD attributes = GetFileAttributesW((dir.path() + sub).c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            << TextCodec::WideToUtf8(sub);
    }
    // Again: everything exists already.
    EXPECT_EQ(CreateDirectoryPath(deep), static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
    // A trailing separator creates the same folder once, and the last step finds it there.
    EXPECT_EQ(CreateDirectoryPath(dir.path() + L"\\five\\"), static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(GetFileAttributesW((dir.path() + L"\\five").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CreateDirectoryPath, FailuresAreReported) {
    test_support::TempDir dir;
    // A file stands where a parent folder should be.
    const std::wstring file = dir.File(L"plain.txt");
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    unsigned long rc = CreateDirectoryPath(file + L"\\child");
    EXPECT_NE(rc, 0u);
    EXPECT_NE(rc, static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(CreateDirectoryPath(L""), 0u);
}

namespace {

// A throwaway key under HKEY_LOCAL_MACHINE, removed with its values at the end.
class MachineKey {
public:
    MachineKey() : path_(L"SOFTWARE\\OrbalaSetupUnitTest\\" + std::to_wstring(GetCurrentProcessId())) {}
    ~MachineKey() {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path_.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrbalaSetupUnitTest");
    }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

}  // namespace

TEST(MachineRegistry, WriteThenRead) {
    MachineKey key;
    EXPECT_EQ(ReadMachineRegString(key.path(), L"GA_PC"), L"") << "missing key";
    ASSERT_TRUE(WriteMachineRegString(key.path(), L"GA_PC", L"1"));
    EXPECT_EQ(ReadMachineRegString(key.path(), L"GA_PC"), L"1");
    ASSERT_TRUE(WriteMachineRegString(key.path(), L"GA_PC", L""));
    EXPECT_EQ(ReadMachineRegString(key.path(), L"GA_PC"), L"");
    EXPECT_EQ(ReadMachineRegString(key.path(), L"Missing"), L"") << "missing value";

    const std::wstring longest(259, L'x');
    ASSERT_TRUE(WriteMachineRegString(key.path(), L"Longest", longest));
    EXPECT_EQ(ReadMachineRegString(key.path(), L"Longest"), longest);
    ASSERT_TRUE(WriteMachineRegString(key.path(), L"TooLong", std::wstring(300, L'y')));
    EXPECT_EQ(ReadMachineRegString(key.path(), L"TooLong"), L"") << "longer than the read buffer";

    // Values written by others: a number is not a text, and a text stored without terminator
    // still ends where it should.
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, KEY_ALL_ACCESS, &handle), ERROR_SUCCESS);
    DWORD number = 0x00410041;  // would read as "AA" if taken for text
    RegSetValueExW(handle, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    RegSetValueExW(handle, L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), sizeof(unterminated));
    RegCloseKey(handle);
    EXPECT_EQ(ReadMachineRegString(key.path(), L"Number"), L"");
    EXPECT_EQ(ReadMachineRegString(key.path(), L"Unterminated"), L"abc");
}

namespace {

// Builds a VS_VERSIONINFO resource: every block is length, value length, type, key, padding,
// value, padding, children.
struct VersionBlock {
    std::wstring key;
    std::vector<uint8_t> value;
    uint16_t valueLength = 0;  // bytes for binary values, characters for texts
    uint16_t type = 1;         // 1: text, 0: binary
    std::vector<VersionBlock> children;
};

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xff));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Align4(std::vector<uint8_t>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

void WriteBlock(const VersionBlock& block, std::vector<uint8_t>& out) {
    Align4(out);
    const size_t start = out.size();
    Put16(out, 0);
    Put16(out, block.valueLength);
    Put16(out, block.type);
    for (wchar_t c : block.key) Put16(out, static_cast<uint16_t>(c));
    Put16(out, 0);
    Align4(out);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const VersionBlock& child : block.children) WriteBlock(child, out);
    const size_t length = out.size() - start;
    out[start] = static_cast<uint8_t>(length & 0xff);
    out[start + 1] = static_cast<uint8_t>(length >> 8);
}

VersionBlock TextBlock(const std::wstring& key, const std::wstring& text) {
    VersionBlock b;
    b.key = key;
    for (wchar_t c : text) Put16(b.value, static_cast<uint16_t>(c));
    Put16(b.value, 0);
    b.valueLength = static_cast<uint16_t>(text.size() + 1);
    return b;
}

std::vector<uint8_t> VersionResource(WORD a, WORD b, WORD c, WORD d, const std::vector<VersionBlock>& strings) {
    VS_FIXEDFILEINFO info = {};
    info.dwSignature = 0xFEEF04BD;
    info.dwStrucVersion = 0x00010000;
    info.dwFileVersionMS = MAKELONG(b, a);
    info.dwFileVersionLS = MAKELONG(d, c);
    info.dwProductVersionMS = info.dwFileVersionMS;
    info.dwProductVersionLS = info.dwFileVersionLS;
    info.dwFileOS = VOS_NT_WINDOWS32;
    info.dwFileType = VFT_APP;

    VersionBlock root;
    root.key = L"VS_VERSION_INFO";
    root.type = 0;
    root.valueLength = sizeof(info);
    root.value.resize(sizeof(info));
    std::memcpy(root.value.data(), &info, sizeof(info));

    VersionBlock table;
    table.key = L"040904b0";
    table.children = strings;
    VersionBlock stringInfo;
    stringInfo.key = L"StringFileInfo";
    stringInfo.children.push_back(table);

    VersionBlock translation;
    translation.key = L"Translation";
    translation.type = 0;
    Put16(translation.value, 0x0409);
    Put16(translation.value, 0x04b0);
    translation.valueLength = 4;
    VersionBlock varInfo;
    varInfo.key = L"VarFileInfo";
    varInfo.children.push_back(translation);

    root.children = {stringInfo, varInfo};
    std::vector<uint8_t> out;
    WriteBlock(root, out);
    return out;
}

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// A copy of this test program carrying the given version resource.
bool WriteVersionedCopy(const std::wstring& target, const std::vector<uint8_t>& resource) {
    if (!CopyFileW(OwnPath().c_str(), target.c_str(), FALSE)) return false;
    HANDLE update = BeginUpdateResourceW(target.c_str(), FALSE);
    if (update == nullptr) return false;
    BOOL ok = UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                              const_cast<uint8_t*>(resource.data()), static_cast<DWORD>(resource.size()));
    return EndUpdateResourceW(update, !ok) && ok;
}

}  // namespace

TEST(FileVersion, NumbersAndStrings) {
    test_support::TempDir dir;
    const std::wstring file = dir.File(L"versioned.exe");
    ASSERT_TRUE(WriteVersionedCopy(file, VersionResource(2, 5, 0, 7, {
        TextBlock(L"ProductName", L"Orbala Lumeno"),
        TextBlock(L"ProductVersion", L"2.5"),
        TextBlock(L"FileDescription", L"Lumeno setup"),
        TextBlock(L"LegalCopyright", L"(c) Orbala"),
    })));
    EXPECT_EQ(GetFileVersionText(file), "2.5.0.7");
    EXPECT_EQ(GetFileVersionTextW(file), L"2.5.0.7");
    FileVersionStrings s = GetFileVersionStrings(file);
    EXPECT_EQ(s.productName, L"Orbala Lumeno");
    EXPECT_EQ(s.productVersion, L"2.5");
    EXPECT_EQ(s.fileDescription, L"Lumeno setup");
    EXPECT_EQ(s.legalCopyright, L"(c) Orbala");
}

TEST(FileVersion, LargeResourceAndMissingStrings) {
    test_support::TempDir dir;
    const std::wstring file = dir.File(L"large.exe");
    // 24,000 bytes of comments push the product strings past the first 16 KiB; the copyright
    // is missing altogether.
    ASSERT_TRUE(WriteVersionedCopy(file, VersionResource(65535, 0, 1, 65534, {
        TextBlock(L"Comments", std::wstring(12000, L'c')),
        TextBlock(L"ProductName", L"Lumeno"),
        TextBlock(L"ProductVersion", L"65535.0"),
        TextBlock(L"FileDescription", L"after the comments"),
    })));
    EXPECT_EQ(GetFileVersionText(file), "65535.0.1.65534");
    FileVersionStrings s = GetFileVersionStrings(file);
    EXPECT_EQ(s.productName, L"Lumeno");
    EXPECT_EQ(s.productVersion, L"65535.0");
    EXPECT_EQ(s.fileDescription, L"after the comments");
    EXPECT_EQ(s.legalCopyright, L"");
}

TEST(FileVersion, NoResourceOrNoFile) {
    // This test program carries no version resource.
    for (const std::wstring& file : {OwnPath(), std::wstring(L"C:\\no\\such\\file.exe"), std::wstring()}) {
        EXPECT_EQ(GetFileVersionText(file), "");
        EXPECT_EQ(GetFileVersionTextW(file), L"");
        FileVersionStrings s = GetFileVersionStrings(file);
        EXPECT_EQ(s.productName + s.productVersion + s.fileDescription + s.legalCopyright, L"");
    }
}

TEST(Channel, LabelByRowKindAndAddress) {
    struct Case {
        int site;
        const char* address;
        const char* label;
    } cases[] = {
        // Base label with a search-engine suffix.
        {2, "https://dl.example.com/LumenoSetup_bing_x.exe", "LumenoPPC-Bing"},
        {2, "https://dl.example.com/LumenoSetup_yahoo.exe", "LumenoPPC-Yahoo"},
        {2, "https://dl.example.com/LumenoSetup_bing.exe?x=_yahoo_", "LumenoPPC-Bing"},
        {206, "https://dl.example.com/LumenoSetup_Bing_a.exe", "LumenoPPC-Bing"},
        {8, "https://dl.example.com/LumenoSetup_YAHOO_a.exe", "OrbalaAds-Yahoo"},
        {293, "https://dl.example.com/LumenoSetup.exe", "LumenoSearch"},
        {293, "https://dl.example.com/LumenoSetup_bingo.exe", "LumenoSearch"},
        // Base label with a Bing suffix only.
        {338, "https://dl.example.com/LumenoSetup_BING_.exe", "OrbalaShopping-Bing"},
        {338, "https://dl.example.com/LumenoSetup_yahoo_.exe", "OrbalaShopping"},
        // Base label with an online suffix.
        {1, "https://dl.example.com/LumenoSetup_Online.exe", "LumenoOnline"},
        {3, "https://dl.example.com/LumenoSetup_online_x.exe", "LumenoOnline"},
        {1, "https://dl.example.com/LumenoSetup.exe", "Lumeno"},
        // Fixed label whatever the address.
        {9, "https://dl.example.com/LumenoSetup_bing_.exe", "Organic"},
        // No row: the number itself.
        {84, "https://dl.example.com/LumenoSetup_bing_.exe", "84"},
        {-5, "", "-5"},
        {0, "", "0"},
    };
    for (const Case& c : cases) EXPECT_EQ(GetChannelLabel(c.site, c.address), c.label) << c.site << " " << c.address;
}

TEST(Channel, SiteCategory) {
    for (int site : {2, 8, 74, 84, 206, 293, 305, 338}) EXPECT_EQ(GetSiteCategory(site), "PPC") << site;
    for (int site : {54, 93, 290, 354}) EXPECT_EQ(GetSiteCategory(site), "CN") << site;
    for (int site : {0, 1, 3, 85, 355, -2}) EXPECT_EQ(GetSiteCategory(site), "SEO") << site;
}
