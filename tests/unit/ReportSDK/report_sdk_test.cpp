// The report SDK without a collector: settings and identity, extra common members, the flood
// check, the proxy line, and the queue file's updates, recovery, atomicity and concurrent writers.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <regex>
#include <thread>
#include <vector>

#include "ReportSDK/CEventHistory.h"
#include "ReportSDK/CManagement.h"
#include "ReportSDK/CNetworkCommunicate.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/CReportTransport.h"
#include "ReportSDK/IWebLogNew.h"
#include "ReportSDK/WebLog.h"
#include "support/test_support.h"
#include "base/JsonText.h"

using test_support::TempDir;

namespace {

Json::Value ParseFile(const std::wstring& path, bool* ok = nullptr) {
    std::string text = test_support::ReadFile(path);
    Json::Value v;
    bool parsed = JsonText::Parse(text, v);
    if (ok) *ok = parsed;
    return v;
}

void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr);
    CloseHandle(h);
}

std::vector<std::wstring> FilesLike(const std::wstring& pattern) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do out.push_back(fd.cFileName); while (FindNextFileW(h, &fd));
    FindClose(h);
    return out;
}

// The keys filed in a queue file, in file order.
std::vector<std::string> FiledKeys(const std::wstring& path) {
    std::vector<std::string> keys;
    Json::Value doc = ParseFile(path);
    for (const Json::Value& e : doc["send_item"]) keys.push_back(e["task_guid"].asString());
    return keys;
}

std::string Key(int i) { return "2::1700000000123::Cat::Action" + std::to_string(i); }

// An SDK set up in a temporary folder: the executable's folder and the application data.
struct SdkFolder {
    TempDir dir;
    std::wstring exe = dir.File(L"Setup.exe");
    std::wstring appData = dir.File(L"AppData");
    SdkFolder() { CreateDirectoryW(appData.c_str(), nullptr); }
};

}  // namespace

TEST(ReportSdkInit, FoldersLogAndIdentity) {
    SdkFolder f;
    CManagement m(f.exe, f.appData);
    m.Init(2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
    std::wstring product = f.appData + L"\\RUZavaDuradeVIV\\3086";
    EXPECT_EQ(m.QueueFilePath(), product + L"\\backup\\tempga.wk");
    EXPECT_NE(GetFileAttributesW((product + L"\\backup").c_str()), INVALID_FILE_ATTRIBUTES);
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t name[32];
    swprintf(name, 32, L"\\logs\\%4d%02d%02d.log", t.wYear, t.wMonth, t.wDay);
    EXPECT_EQ(m.LogPath(), product + name);
    std::string log = test_support::ReadFile(m.LogPath());
    EXPECT_EQ(log.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_TRUE(std::regex_search(log, std::regex("^\xEF\xBB\xBF[0-9]{8}-[0-9]{6}-[0-9]{3} \\[[0-9]+\\] SDK init ok, version "
                                                  "1\\.0\\.0\\.13, type 2, main_pid 3086, Orbala Lumeno 2\\.1\\.0, with curl [0-9.]+\n")))
        << log;

    ReportFormat::CommonFields fields = m.Fields();
    EXPECT_TRUE(std::regex_match(fields.sessionId, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << fields.sessionId;
    EXPECT_NE(fields.sessionId, CManagement::NewSessionId());
    EXPECT_FALSE(fields.uid.empty());
    EXPECT_TRUE(std::regex_match(fields.os, std::regex("Windows .+-(32|64)"))) << fields.os;
    EXPECT_TRUE(fields.mac.empty() || std::regex_match(fields.mac, std::regex("[0-9A-F]{2}(:[0-9A-F]{2})*"))) << fields.mac;
    EXPECT_EQ(m.CrossEndId(), "");  // "Setup.exe" has no "_"
    EXPECT_EQ(m.CollectorAddress().substr(m.CollectorAddress().size() - 8), "/collect");
}

TEST(ReportSdkInit, TestSwitchFile) {
    const std::pair<const char*, bool> cases[] = {
        {"[Configs]\r\nTestEnv=1\r\n", true},  {"[Configs]\r\nTestEnv=2\r\n", true},
        {"[Configs]\r\nTestEnv=0\r\n", false}, {"[Configs]\r\nTestEnv=abc\r\n", false},
        {"[Settings]\r\nTestEnv=1\r\n", false}, {"", false},
    };
    for (const auto& c : cases) {
        SdkFolder f;
        if (*c.first) WriteText(f.dir.File(L"test.wk"), c.first);
        CManagement m(f.exe, f.appData);
        EXPECT_EQ(m.TestEnv(), c.second) << c.first;
        std::string address = m.CollectorAddress();
        EXPECT_EQ(address.substr(address.rfind('/')), c.second ? "/collector" : "/collect") << c.first;
    }
    SdkFolder f;
    WriteText(f.dir.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\nCollectorUrl=http://127.0.0.1:9\r\nGa4Url=http://127.0.0.1:8\r\n");
    CManagement m(f.exe, f.appData);
    EXPECT_EQ(m.CollectorAddress(), "http://127.0.0.1:9/collector");
    EXPECT_EQ(m.Ga4Base(), "http://127.0.0.1:8");
}

TEST(ReportSdkExtraCommon, ProtectedNamesAndBadText) {
    SdkFolder f;
    CManagement m(f.exe, f.appData);
    m.Init(2, 3086, 3086, "", "", "P", "1", "");
    EXPECT_EQ(m.SetExtraCommon(R"({"uid":"x","tools_lang":"de"})"), 0);
    EXPECT_EQ(m.Fields().extraCommon.getMemberNames(), std::vector<std::string>{"tools_lang"});
    EXPECT_EQ(m.SetExtraCommon(R"({"UID":"x","Mac":"y"})"), 0);
    EXPECT_EQ(m.Fields().extraCommon.getMemberNames(), std::vector<std::string>{"tools_lang"});
    EXPECT_EQ(m.SetExtraCommon("x"), -1);
    EXPECT_EQ(m.SetExtraCommon("{bad"), 0);
    EXPECT_EQ(m.SetExtraCommon(R"({"product_version":"3.0"})"), 0);
    Json::Value extra = m.Fields().extraCommon;
    EXPECT_EQ(extra["tools_lang"].asString(), "de");
    EXPECT_EQ(extra["product_version"].asString(), "3.0");
    EXPECT_NE(test_support::ReadFile(m.LogPath()).find("Extra common parse failed: "), std::string::npos);

    // The wrapped event carries them; an unparsable body is wrapped and then fails at the category.
    std::string key, content;
    EXPECT_EQ(m.WrapEvent("{not json", 1700000000123, key, content), kReportNoCategory);
}

TEST(ReportSdkFlood, TwelfthRepeatWithinAMinuteIsRefused) {
    SdkFolder f;
    CManagement m(f.exe, f.appData);
    m.Init(2, 3086, 3086, "", "", "P", "1", "");
    CNetworkCommunicate n(m);  // not started: offers are only checked and queued
    const std::string body = "{\"source_type\":\"downloader\",\"cross_end_id\":\"\"}";
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(n.AddTask("2::17000000" + std::to_string(10000 + i * 4000) + "::Cat::Act", body, false, false), 0) << i;
    EXPECT_EQ(n.AddTask("2::1700000060000::Cat::Act", body, false, false), -1);
    EXPECT_EQ(n.QueueLength(), 11u);
    EXPECT_NE(test_support::ReadFile(m.LogPath()).find("] Detect repeat 11, more than 10 within 60 seconds\n"),
              std::string::npos);
    // The same category and action as a GA4 event is another event.
    EXPECT_EQ(n.AddTask("1::1700000060000::Cat::Act", "https://h/g/collect?v=2&cid=1&tid=G&en=Act", false, false), 0);
    // A task of no known kind is never queued.
    EXPECT_EQ(n.AddTask("2::1700000060000::Other::Act", "plain text", false, false), -1);
    EXPECT_EQ(n.QueueLength(), 12u);
}

TEST(ReportSdkFlood, KeysMoreThanAMinuteApartAreDropped) {
    CEventHistory h;
    h.Append("2::1700000000000::Cat::Act");   // stays behind the key 61 s away: dropped
    h.Append("2::1700000001000::Cat::Act");   // 61 s before the offer below: stops the walk
    h.Append("2::1700000050000::Cat::Act");
    h.Append("2::1700000055000::Cat::Other");
    EXPECT_EQ(h.LookForRepeatCount("2::1700000062000::Cat::Act"), 1);
    EXPECT_EQ(h.Size(), 3u);
    // Keys loaded from an earlier run are all far away from a live event.
    EXPECT_EQ(h.LookForRepeatCount("2::1800000000000::Cat::Act"), 0);
    EXPECT_EQ(h.Size(), 1u);
    // A key whose time part is no number counts as time 0.
    CEventHistory bad;
    bad.Append("2::notanumber000::Cat::Act");
    EXPECT_EQ(bad.LookForRepeatCount("2::0000000030000::Cat::Act"), 1);
}

TEST(ReportSdkFlood, ConcurrentOffersNeverPassTheLimit) {
    CEventHistory h;
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i)
                if (h.CountAndAppend("2::1700000000000::Cat::Act") <= CEventHistory::kMaxRepeats) ++accepted;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(accepted.load(), 11);
}

TEST(ReportSdkTransport, ProxyLineRules) {
    const std::pair<std::string, std::string> cases[] = {
        {"127.0.0.1:8080", "127.0.0.1:8080"},
        {"http://proxy:3128\nsecond:1\n", "http://proxy:3128"},
        {"proxy:3128\r\n", "proxy:3128"},
        {"\xEF\xBB\xBFproxy:3128\r\n", "proxy:3128"},
        {"\nproxy:3128\n", ""},
        {"\r\nproxy:3128\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CReportTransport::ProxyFromFileText(c.first), c.second) << c.first;
    TempDir dir;
    CReportTransport transport(dir.path() + L"\\", nullptr);
    EXPECT_EQ(transport.ReadProxy(), "");
    WriteText(dir.File(L"proxy.txt"), "10.0.0.1:80\r\n");
    EXPECT_EQ(transport.ReadProxy(), "10.0.0.1:80");
}

TEST(ReportQueueFile, AddRefreshAndRemove) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    CQueueFile file(path);
    EXPECT_TRUE(file.Update(Key(1), "one", 0));
    EXPECT_TRUE(file.Update(Key(2), "two", 0));
    EXPECT_TRUE(file.Update(Key(1), "one again", 0));  // same key: refreshed, not added
    Json::Value doc = ParseFile(path);
    EXPECT_EQ(doc["send_count"].asInt(), 2);
    ASSERT_EQ(doc["send_item"].size(), 2u);
    EXPECT_EQ(doc["send_item"][0]["task_content"].asString(), "one again");
    EXPECT_EQ(doc["send_item"][0]["task_status"].asInt(), 0);
    EXPECT_TRUE(file.Update(Key(1), "", 2));
    EXPECT_TRUE(file.Update(Key(9), "", 2));  // nothing to remove
    EXPECT_EQ(FiledKeys(path), std::vector<std::string>{Key(2)});
    EXPECT_EQ(ParseFile(path)["send_count"].asInt(), 1);
    EXPECT_EQ(GetFileAttributesW((path + L".new").c_str()), INVALID_FILE_ATTRIBUTES);  // no new file left behind

    // Written by jsoncpp's StyledWriter: three-space indentation, one member per line.
    std::string text = test_support::ReadFile(path);
    EXPECT_EQ(text.compare(0, 21, "{\n   \"send_count\" : 1"), 0) << text;

    // Changes made through another object (another process) are seen, not overwritten.
    CQueueFile other(path);
    EXPECT_TRUE(other.Update(Key(3), "three", 0));
    EXPECT_TRUE(file.Update(Key(4), "four", 0));
    EXPECT_EQ(FiledKeys(path), (std::vector<std::string>{Key(2), Key(3), Key(4)}));
}

TEST(ReportQueueFile, CountThatDisagreesWithTheEntries) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    Json::Value doc(Json::objectValue);
    doc["send_count"] = 3;
    for (int i = 0; i < 5; ++i) {
        Json::Value e(Json::objectValue);
        e["task_guid"] = Key(i);
        e["task_status"] = 0;
        e["task_content"] = "c" + std::to_string(i);
        doc["send_item"].append(e);
    }
    WriteText(path, doc.toStyledString());
    CQueueFile file(path);
    std::vector<CQueueFile::Entry> entries;
    ASSERT_TRUE(file.ReadEntries(entries));
    EXPECT_EQ(entries.size(), 5u);  // the entries are the truth, not the count
    EXPECT_TRUE(file.Update(Key(4), "refreshed", 0));  // found beyond the count
    EXPECT_TRUE(file.Update(Key(7), "new", 0));        // appended after all five
    Json::Value after = ParseFile(path);
    EXPECT_EQ(after["send_count"].asInt(), 6);
    EXPECT_EQ(FiledKeys(path), (std::vector<std::string>{Key(0), Key(1), Key(2), Key(3), Key(4), Key(7)}));
    EXPECT_EQ(after["send_item"][4]["task_content"].asString(), "refreshed");
}

TEST(ReportQueueFile, DamagedFileIsKeptAndItsReadableEntriesCarriedOver) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> carried;
    };
    std::string whole = "{\n   \"send_count\" : 3,\n   \"send_item\" : [\n      {\n         \"task_content\" : \"a {x} \\\"}\",\n"
                        "         \"task_guid\" : \"" + Key(1) + "\",\n         \"task_status\" : 0\n      },\n"
                        "      {\n         \"task_content\" : \"b\",\n         \"task_guid\" : \"" + Key(2) +
                        "\",\n         \"task_status\" : 0\n      },\n      {\n         \"task_content\" : \"c";
    const Case cases[] = {
        {"cut in the third entry", whole, {Key(1), Key(2)}},
        {"no JSON at all", "\x01\x02garbage", {}},
        {"send_item not an array", "{\"send_count\":1,\"send_item\":\"x\"}", {}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::wstring path = dir.File(L"tempga.wk");
        WriteText(path, c.text);
        CQueueFile file(path);
        EXPECT_TRUE(file.Update(Key(5), "new", 0)) << c.what;
        std::vector<std::string> expected = c.carried;
        expected.push_back(Key(5));
        EXPECT_EQ(FiledKeys(path), expected) << c.what;
        std::vector<std::wstring> kept = FilesLike(path + L".damaged-*");
        ASSERT_EQ(kept.size(), 1u) << c.what;
        EXPECT_EQ(test_support::ReadFile(dir.File(kept[0])), c.text) << c.what;
    }
    // An empty file is simply empty.
    TempDir dir;
    WriteText(dir.File(L"tempga.wk"), "");
    CQueueFile file(dir.File(L"tempga.wk"));
    EXPECT_TRUE(file.Update(Key(1), "x", 0));
    EXPECT_TRUE(FilesLike(dir.File(L"tempga.wk.damaged-*")).empty());
}

TEST(ReportQueueFile, FileThatCannotBeReadIsNotOverwritten) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    CQueueFile file(path);
    ASSERT_TRUE(file.Update(Key(1), "one", 0));
    std::string before = test_support::ReadFile(path);
    CQueueFile fresh(path);  // no cached copy of the file
    HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(fresh.Update(Key(2), "two", 0));
    CloseHandle(lock);
    EXPECT_EQ(test_support::ReadFile(path), before);
    EXPECT_TRUE(fresh.Update(Key(2), "two", 0));
    EXPECT_EQ(FiledKeys(path), (std::vector<std::string>{Key(1), Key(2)}));
}

TEST(ReportQueueFile, ConcurrentWritersLoseNothing) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    CQueueFile shared(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            CQueueFile own(path);  // threads 0 and 1 share one object, 2 and 3 have their own
            CQueueFile& file = t < 2 ? shared : own;
            for (int i = 0; i < 40; ++i) ASSERT_TRUE(file.Update(Key(t * 100 + i), std::string(500, 'a' + t), 0));
            for (int i = 0; i < 40; i += 2) ASSERT_TRUE(file.Update(Key(t * 100 + i), "", 2));
        });
    for (auto& t : threads) t.join();
    std::vector<std::string> keys = FiledKeys(path);
    EXPECT_EQ(keys.size(), 80u);
    for (int t = 0; t < 4; ++t)
        for (int i = 1; i < 40; i += 2)
            EXPECT_NE(std::find(keys.begin(), keys.end(), Key(t * 100 + i)), keys.end()) << t << " " << i;
}

// ---- Other processes writing the same file ---------------------------------------------------

namespace {

const wchar_t kChildVariable[] = L"ORBALA_QUEUE_WRITER";

// Starts this test binary as a writer: it files keys first..first+count-1 into path and, after
// each update returned, records the index in marker.
HANDLE StartWriter(const std::wstring& path, int first, int count, const std::wstring& marker) {
    std::wstring args = path + L"|" + std::to_wstring(first) + L"|" + std::to_wstring(count) + L"|" + marker;
    SetEnvironmentVariableW(kChildVariable, args.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" --gtest_filter=ReportQueueFileWriter.Writes";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(kChildVariable, nullptr);
    if (!ok) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

int LastMarked(const std::wstring& marker) {
    std::string text = test_support::ReadFile(marker);
    return text.empty() ? -1 : atoi(text.c_str());
}

}  // namespace

// The writer process itself; does nothing unless a test started it.
TEST(ReportQueueFileWriter, Writes) {
    wchar_t args[2048] = {};
    if (GetEnvironmentVariableW(kChildVariable, args, 2048) == 0) GTEST_SKIP() << "runs only as a writer process";
    std::wstring s = args;
    size_t a = s.find(L'|'), b = s.find(L'|', a + 1), c = s.find(L'|', b + 1);
    std::wstring path = s.substr(0, a);
    int first = _wtoi(s.substr(a + 1, b - a - 1).c_str());
    int count = _wtoi(s.substr(b + 1, c - b - 1).c_str());
    std::wstring marker = s.substr(c + 1);
    CQueueFile file(path);
    for (int i = first; i < first + count; ++i) {
        ASSERT_TRUE(file.Update(Key(i), std::string(3000, 'x'), 0));
        // The marker is replaced whole, so a kill between truncating and writing it can never
        // leave it empty while updates were filed.
        std::string n = std::to_string(i);
        std::wstring next = marker + L".next";
        HANDLE h = CreateFileW(next.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD w = 0;
        WriteFile(h, n.data(), DWORD(n.size()), &w, nullptr);
        CloseHandle(h);
        MoveFileExW(next.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

TEST(ReportQueueFile, ProcessesAndThreadsWritingAtOnce) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    HANDLE a = StartWriter(path, 0, 60, dir.File(L"a.txt"));
    HANDLE b = StartWriter(path, 1000, 60, dir.File(L"b.txt"));
    ASSERT_TRUE(a && b);
    CQueueFile mine(path);
    for (int i = 2000; i < 2060; ++i) ASSERT_TRUE(mine.Update(Key(i), "mine", 0));
    EXPECT_EQ(WaitForSingleObject(a, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 60000), WAIT_OBJECT_0);
    CloseHandle(a);
    CloseHandle(b);
    std::vector<std::string> keys = FiledKeys(path);
    EXPECT_EQ(keys.size(), 180u);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::unique(keys.begin(), keys.end()), keys.end());
}

TEST(ReportQueueFile, WriterKilledMidWriteLeavesAWholeFile) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    int filed = 0;
    for (int round = 0; round < 3; ++round) {
        std::wstring marker = dir.File(L"marker" + std::to_wstring(round) + L".txt");
        HANDLE writer = StartWriter(path, round * 1000, 100000, marker);
        ASSERT_TRUE(writer);
        // Let it write a while (each update rewrites the whole, growing file), then kill it.
        ULONGLONG start = GetTickCount64();
        while (LastMarked(marker) < round * 1000 + 20 + round * 7 && GetTickCount64() - start < 30000) Sleep(5);
        TerminateProcess(writer, 9);
        WaitForSingleObject(writer, 10000);
        CloseHandle(writer);
        int last = LastMarked(marker);
        ASSERT_GE(last, round * 1000) << "the writer wrote nothing";

        bool parsed = false;
        Json::Value doc = ParseFile(path, &parsed);
        ASSERT_TRUE(parsed) << "round " << round;
        std::vector<std::string> keys = FiledKeys(path);
        for (int i = round * 1000; i <= last; ++i)
            EXPECT_NE(std::find(keys.begin(), keys.end(), Key(i)), keys.end()) << i;
        EXPECT_GE(int(keys.size()), filed + last - round * 1000 + 1);
        filed = int(keys.size());
        for (const Json::Value& e : doc["send_item"]) EXPECT_EQ(e["task_content"].asString().size(), 3000u);
    }
    // The next writer takes over the lock the killed one may have held.
    CQueueFile after(path);
    EXPECT_TRUE(after.Update(Key(99999), "after", 0));
    EXPECT_EQ(int(FiledKeys(path).size()), filed + 1);
}
