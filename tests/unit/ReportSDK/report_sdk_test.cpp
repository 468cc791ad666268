// The report SDK without a collector: settings and identity, extra common members, the flood
// check, the proxy line, and the queue file's updates, recovery, atomicity and concurrent writers.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "ReportSDK/CEventHistory.h"
#include "ReportSDK/CManagement.h"
#include "ReportSDK/CNetworkCommunicate.h"
#include "ReportSDK/CQueueFile.h"
#include "ReportSDK/CReportTransport.h"
#include "ReportSDK/CSdkLog.h"
#include "ReportSDK/IWebLogNew.h"
#include "ReportSDK/ReportFormat.h"
#include "ReportSDK/WebLog.h"
#include "support/test_support.h"
#include "base/LocalSwitches.h"
#include "base/JsonText.h"
#include "base/TextCodec.h"
#include "deployment_values.h"

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
                                                  "1\\.0\\.0\\.13, type 2, main_pid 3086, Orbala Lumeno 2\\.1\\.0, with curl [0-9.]+\r\n")))
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
    // A release build ignores the switch: its events go to the production collector.
    {
        SdkFolder r;
        WriteText(r.dir.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\n");
        LocalSwitches::ScopedBounds release(LocalSwitches::For(false));
        CManagement m(r.exe, r.appData);
        EXPECT_FALSE(m.TestEnv());
        EXPECT_EQ(m.CollectorAddress(), "https://" + TextCodec::WideToUtf8(Deployment::COLLECTOR_HOST_PRODUCTION()) + "/collect");
    }
    // The file beside the executable only switches: addresses written in it are not taken.
    SdkFolder f;
    WriteText(f.dir.File(L"test.wk"), "[Configs]\r\nTestEnv=1\r\nCollectorUrl=http://127.0.0.1:9\r\nGa4Url=http://127.0.0.1:8\r\n");
    CManagement m(f.exe, f.appData);
    EXPECT_EQ(m.CollectorAddress(), "https://" + TextCodec::WideToUtf8(Deployment::COLLECTOR_HOST_TEST()) + "/collector");
    EXPECT_EQ(m.Ga4Base(), "https://" + TextCodec::WideToUtf8(Deployment::GA4_HOST()));
    // Tests point the endpoints at their services through the object itself.
    m.SetTestEndpoints("http://127.0.0.1:9", "http://127.0.0.1:8");
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
    EXPECT_NE(test_support::ReadFile(m.LogPath()).find("] Detect repeat 11, more than 10 within 60 seconds\r\n"),
              std::string::npos);
    // The same category and action as a GA4 event is another event.
    EXPECT_EQ(n.AddTask("1::1700000060000::Cat::Act", "https://h/g/collect?v=2&cid=1&tid=G&en=Act", false, false), 0);
    // A task of no known kind is never queued, and says so with a code of its own.
    EXPECT_EQ(n.AddTask("2::1700000060000::Other::Act", "plain text", false, false), kReportUnknownKind);
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

// Starts this test binary as a writer: it files keys first..first+count-1 into path (whole-file
// updates, or journal appends as an offer makes them) and, after each one returned, records the
// index in marker.
HANDLE StartWriter(const std::wstring& path, int first, int count, const std::wstring& marker, bool append = false) {
    std::wstring args = path + L"|" + std::to_wstring(first) + L"|" + std::to_wstring(count) + L"|" + marker + L"|" +
                        (append ? L"append" : L"update");
    SetEnvironmentVariableW(kChildVariable, args.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(self) +
                       L"\" --gtest_also_run_disabled_tests --gtest_filter=ReportQueueFileWriter.DISABLED_Writes";
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

// The writer process itself, run only when a test starts it (disabled in the suite's own run).
TEST(ReportQueueFileWriter, DISABLED_Writes) {
    wchar_t args[2048] = {};
    if (GetEnvironmentVariableW(kChildVariable, args, 2048) == 0) GTEST_SKIP() << "runs only as a writer process";
    std::wstring s = args;
    size_t a = s.find(L'|'), b = s.find(L'|', a + 1), c = s.find(L'|', b + 1), d = s.find(L'|', c + 1);
    std::wstring path = s.substr(0, a);
    int first = _wtoi(s.substr(a + 1, b - a - 1).c_str());
    int count = _wtoi(s.substr(b + 1, c - b - 1).c_str());
    std::wstring marker = s.substr(c + 1, d - c - 1);
    bool append = s.substr(d + 1) == L"append";
    CQueueFile file(path);
    for (int i = first; i < first + count; ++i) {
        if (append)
            ASSERT_TRUE(file.Append(Key(i), std::string(3000, 'x'), 0));
        else
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

// ---- The journal: offers that cost the same however many events wait ------------------------

namespace {

// The keys filed at a path as every reader sees them: the file with its journal applied.
std::vector<std::string> ReadableKeys(const std::wstring& path) {
    CQueueFile file(path);
    std::vector<CQueueFile::Entry> entries;
    EXPECT_TRUE(file.ReadEntries(entries));
    std::vector<std::string> keys;
    for (const CQueueFile::Entry& e : entries) keys.push_back(e.key);
    return keys;
}

// A queue file of n funnel-like entries whose keys carry the given times, written directly.
void WriteQueueFile(const std::wstring& path, const std::vector<std::string>& keys) {
    Json::Value doc(Json::objectValue);
    doc["send_count"] = Json::UInt(keys.size());
    doc["send_item"] = Json::Value(Json::arrayValue);
    for (const std::string& key : keys) {
        Json::Value e(Json::objectValue);
        e["task_guid"] = key;
        e["task_status"] = 0;
        e["task_content"] = "{\"source_type\":\"downloader\",\"cross_end_id\":\"\",\"key\":\"" + key + "\"}";
        doc["send_item"].append(e);
    }
    WriteText(path, doc.toStyledString());
}

std::string KeyAt(int64_t millis, int i) { return "2::" + std::to_string(millis) + "::Cat::A" + std::to_string(i); }

}  // namespace

TEST(ReportQueueJournal, AppendsAreReadAndFoldedInTheFileFormat) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    CQueueFile file(path);
    ASSERT_TRUE(file.Update(Key(0), "zero", 0));
    std::string before = test_support::ReadFile(path);
    for (int i = 1; i <= 10; ++i) ASSERT_TRUE(file.Append(Key(i), "c" + std::to_string(i), 0));
    ASSERT_TRUE(file.Append(Key(3), "three again", 0));  // same key: refreshed in place
    ASSERT_TRUE(file.Append(Key(2), "", 2));             // delivered: removed
    EXPECT_EQ(test_support::ReadFile(path), before) << "an offer never rewrites the file";

    // A record cut short by a killed writer is skipped, and it does not swallow the next one.
    {
        HANDLE h = CreateFileW(file.JournalPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        const char cut[] = "\n{\"task_content\":\"half";
        DWORD n = 0;
        WriteFile(h, cut, DWORD(strlen(cut)), &n, nullptr);
        CloseHandle(h);
    }
    ASSERT_TRUE(file.Append(Key(11), "eleven", 0));
    std::vector<std::string> expected = {Key(0), Key(1), Key(3), Key(4), Key(5), Key(6), Key(7), Key(8), Key(9), Key(10), Key(11)};
    EXPECT_EQ(ReadableKeys(path), expected);

    std::vector<CQueueFile::Entry> entries;
    std::vector<CQueueFile::Dropped> dropped;
    ASSERT_TRUE(file.Fold(CQueueFile::Limits(), &entries, &dropped));
    EXPECT_TRUE(dropped.empty());
    EXPECT_EQ(entries.size(), expected.size());
    EXPECT_EQ(GetFileAttributesW(file.JournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << "the journal is folded in";
    EXPECT_EQ(FiledKeys(path), expected) << "the file alone holds every entry";
    Json::Value doc = ParseFile(path);
    EXPECT_EQ(doc["send_count"].asInt(), 11);
    EXPECT_EQ(doc["send_item"][2]["task_content"].asString(), "three again");
    std::string text = test_support::ReadFile(path);
    EXPECT_EQ(text.compare(0, 22, "{\n   \"send_count\" : 11"), 0) << text;
    EXPECT_TRUE(FilesLike(path + L".new*").empty());

    // A journal left beside an already folded file (a crash after the file was replaced) only
    // applies again what the file already holds.
    ASSERT_TRUE(file.Append(Key(4), "c4", 0));
    ASSERT_TRUE(file.Append(Key(12), "twelve", 0));
    std::string journal = test_support::ReadFile(file.JournalPath());
    ASSERT_TRUE(file.Fold(CQueueFile::Limits(), nullptr, nullptr));
    WriteText(file.JournalPath(), journal);
    expected.push_back(Key(12));
    EXPECT_EQ(ReadableKeys(path), expected);
}

TEST(ReportQueueJournal, OfferedEventsSurviveAKilledWriter) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    std::wstring marker = dir.File(L"marker.txt");
    HANDLE writer = StartWriter(path, 0, 100000, marker, true);
    ASSERT_TRUE(writer);
    ULONGLONG start = GetTickCount64();
    while (LastMarked(marker) < 40 && GetTickCount64() - start < 30000) Sleep(5);
    TerminateProcess(writer, 9);
    WaitForSingleObject(writer, 10000);
    CloseHandle(writer);
    int last = LastMarked(marker);
    ASSERT_GE(last, 0) << "the writer wrote nothing";

    std::vector<std::string> keys = ReadableKeys(path);
    for (int i = 0; i <= last; ++i) EXPECT_NE(std::find(keys.begin(), keys.end(), Key(i)), keys.end()) << i;
    // The next writer takes over the mutex the killed one may have held, and a fold leaves a
    // whole file in its format.
    CQueueFile after(path);
    ASSERT_TRUE(after.Append(Key(99999), "after", 0));
    ASSERT_TRUE(after.Fold(CQueueFile::Limits(), nullptr, nullptr));
    bool parsed = false;
    ParseFile(path, &parsed);
    ASSERT_TRUE(parsed);
    keys = FiledKeys(path);
    for (int i = 0; i <= last; ++i) EXPECT_NE(std::find(keys.begin(), keys.end(), Key(i)), keys.end()) << i;
    EXPECT_EQ(keys.back(), Key(99999));
}

TEST(ReportQueueJournal, ProcessesAppendingWhileAFoldRuns) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    HANDLE a = StartWriter(path, 0, 150, dir.File(L"a.txt"), true);
    HANDLE b = StartWriter(path, 1000, 150, dir.File(L"b.txt"), true);
    ASSERT_TRUE(a && b);
    CQueueFile mine(path);
    // Fold over and over while the two write: nothing appended meanwhile is lost.
    while (WaitForSingleObject(a, 0) == WAIT_TIMEOUT || WaitForSingleObject(b, 0) == WAIT_TIMEOUT)
        mine.Fold(CQueueFile::Limits(), nullptr, nullptr);
    CloseHandle(a);
    CloseHandle(b);
    ASSERT_TRUE(mine.Fold(CQueueFile::Limits(), nullptr, nullptr));
    std::vector<std::string> keys = FiledKeys(path);
    EXPECT_EQ(keys.size(), 300u);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::unique(keys.begin(), keys.end()), keys.end());
}

// ---- Bounds ----------------------------------------------------------------------------------

TEST(ReportQueueLimits, FoldDropsTheTooOldAndThenTheOldestPastTheCount) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    const int64_t now = 1800000000000;
    const int64_t day = 24LL * 60 * 60 * 1000;
    std::vector<std::string> keys;
    for (int i = 0; i < 3; ++i) keys.push_back(KeyAt(now - 8 * day, i));      // past the age
    for (int i = 0; i < 500; ++i) keys.push_back(KeyAt(now - 6 * day, 100 + i));
    keys.push_back("2::notatimeatall::Cat::Kept");                            // no readable time: kept
    for (int i = 500; i < 1000; ++i) keys.push_back(KeyAt(now - day, 100 + i));
    WriteQueueFile(path, keys);
    CQueueFile file(path);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(file.Append(KeyAt(now, 2000 + i), "{\"source_type\":1,\"cross_end_id\":1}", 0));

    CQueueFile::Limits limits;
    limits.maxEntries = 1000;
    limits.maxAgeMs = 7 * day;
    limits.nowMs = now;
    std::vector<CQueueFile::Entry> entries;
    std::vector<CQueueFile::Dropped> dropped;
    ASSERT_TRUE(file.Fold(limits, &entries, &dropped));
    ASSERT_EQ(dropped.size(), 3u + 6u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dropped[i].key, KeyAt(now - 8 * day, i));
        EXPECT_TRUE(dropped[i].tooOld);
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(dropped[3 + i].key, KeyAt(now - 6 * day, 100 + i));  // the oldest left
        EXPECT_FALSE(dropped[3 + i].tooOld);
    }
    std::vector<std::string> filed = FiledKeys(path);
    ASSERT_EQ(filed.size(), 1000u);
    EXPECT_EQ(filed.front(), KeyAt(now - 6 * day, 106));
    EXPECT_NE(std::find(filed.begin(), filed.end(), "2::notatimeatall::Cat::Kept"), filed.end());
    EXPECT_EQ(filed.back(), KeyAt(now, 2004));
}

TEST(ReportQueueLimits, QueuePastItsLimitKeepsTheNewest) {
    SdkFolder f;
    CManagement m(f.exe, f.appData);
    m.Init(2, 3086, 3086, "", "", "P", "1", "");
    m.SetTestEndpoints("http://127.0.0.1:1", "http://127.0.0.1:1");  // nothing answers: the queue only grows
    // An earlier run left a full queue, two entries of which are older than a week.
    const int64_t now = ReportFormat::LocalClockMillis();
    const int64_t day = 24LL * 60 * 60 * 1000;
    const size_t kMax = CNetworkCommunicate::kMaxQueuedEvents;
    std::vector<std::string> keys = {KeyAt(now - 9 * day, 0), KeyAt(now - 8 * day, 1)};
    for (size_t i = 0; i < kMax; ++i) keys.push_back(KeyAt(now - 60000, int(100 + i)));
    WriteQueueFile(m.QueueFilePath(), keys);
    {
        CNetworkCommunicate n(m, CNetworkCommunicate::Timing{1, 10, 20});
        n.Start();
        EXPECT_LE(n.QueueLength(), kMax);
        const std::string body = "{\"source_type\":\"downloader\",\"cross_end_id\":\"\"}";
        for (int i = 0; i < 5; ++i) EXPECT_EQ(n.AddTask(KeyAt(now, 5000 + i), body, true, false), 0);
        EXPECT_LE(n.QueueLength(), kMax);
    }  // the sending thread folds the journal in when it stops
    std::vector<std::string> filed = FiledKeys(m.QueueFilePath());
    ASSERT_EQ(filed.size(), kMax);
    for (int i = 0; i < 5; ++i) EXPECT_NE(std::find(filed.begin(), filed.end(), KeyAt(now, 5000 + i)), filed.end()) << i;
    std::string log = test_support::ReadFile(m.LogPath());
    for (const std::string& old : {KeyAt(now - 9 * day, 0), KeyAt(now - 8 * day, 1)}) {
        EXPECT_EQ(std::find(filed.begin(), filed.end(), old), filed.end());
        EXPECT_NE(log.find("] Queue entry older than 7 days, dropped " + old + "\r\n"), std::string::npos) << log;
    }
    EXPECT_NE(log.find("] Queue full (1000), dropped 2::"), std::string::npos) << log;
}

TEST(ReportQueueLimits, OnlyTheNewestDamagedCopiesStay) {
    TempDir dir;
    std::wstring path = dir.File(L"tempga.wk");
    FILETIME base;
    GetSystemTimeAsFileTime(&base);
    for (int i = 0; i < 5; ++i) {
        std::wstring copy = path + L".damaged-" + std::to_wstring(100 + i);
        WriteText(copy, "old damaged " + std::to_string(i));
        ULARGE_INTEGER t;
        t.LowPart = base.dwLowDateTime;
        t.HighPart = base.dwHighDateTime;
        t.QuadPart -= ULONGLONG(10 - i) * 3600 * 10000000ULL;  // hours ago, the last the newest
        FILETIME ft = {t.LowPart, t.HighPart};
        HANDLE h = CreateFileW(copy.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetFileTime(h, nullptr, nullptr, &ft);
        CloseHandle(h);
    }
    WriteText(path, "\x01 not json");
    CQueueFile file(path);
    EXPECT_TRUE(file.Update(Key(1), "x", 0));
    std::vector<std::wstring> kept = FilesLike(path + L".damaged-*");
    ASSERT_EQ(kept.size(), CQueueFile::kDamagedCopiesKept);
    std::set<std::string> texts;
    for (const std::wstring& name : kept) texts.insert(test_support::ReadFile(dir.File(name)));
    EXPECT_EQ(texts, (std::set<std::string>{"\x01 not json", "old damaged 3", "old damaged 4"}));
}

TEST(ReportSdkLog, WindowsLineEnds) {
    TempDir dir;
    CSdkLog log;
    ASSERT_TRUE(log.Open(dir.File(L"sdk.log")));
    log.Write("one %d", 1);
    log.WriteText("two\xE2\x80\xA8three");  // a U+2028 line separator inside
    log.WriteText("four\r\nfive");
    log.Close();
    std::string text = test_support::ReadFile(dir.File(L"sdk.log"));
    EXPECT_NE(text.find("] one 1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] two\r\nthree\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] four\r\nfive\r\n"), std::string::npos) << text;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        EXPECT_EQ(text[at - 1], '\r') << "a bare line feed at " << at;
}

TEST(ReportSdkLog, OldDailyLogsArePruned) {
    SdkFolder f;
    std::wstring logs = f.appData + L"\\RUZavaDuradeVIV\\3086\\logs";
    SHCreateDirectoryExW(nullptr, logs.c_str(), nullptr);
    for (int day = 1; day <= 35; ++day) {
        wchar_t name[32];
        swprintf(name, 32, L"\\2024%04d.log", 100 + day);  // 20240101 ... 20240135: names sort by date
        WriteText(logs + name, "old");
    }
    WriteText(logs + L"\\notes.log", "not a daily log");
    CManagement m(f.exe, f.appData);
    m.Init(2, 3086, 3086, "", "", "P", "1", "");
    std::vector<std::wstring> names = test_support::FilesIn(logs);
    std::sort(names.begin(), names.end());
    // Today's log and the 29 newest old ones; the other file is not a daily log and stays.
    ASSERT_EQ(names.size(), CManagement::kSdkLogsKept + 1);
    EXPECT_EQ(names.front(), L"20240107.log");
    EXPECT_EQ(names.back(), L"notes.log");
    EXPECT_NE(test_support::ReadFile(m.LogPath()).find("] Old SDK log deleted: 20240101.log\r\n"), std::string::npos);
}

TEST(ReportSdkOffer, OffersNeverRewriteTheQueueFile) {
    SdkFolder f;
    CManagement m(f.exe, f.appData);
    m.SetTestEndpoints("http://127.0.0.1:1", "http://127.0.0.1:1");
    CNetworkCommunicate n(m, CNetworkCommunicate::Timing{1, 10, 20});
    WebLog::Start(m, n, 2, 3086, 3086, "", "", "P", "1", "");
    m.SetCommonParams(486, 0, "en", "1.0.0.1");
    std::string key, content;
    // An earlier run's entry, folded into the file.
    ASSERT_EQ(m.WrapEvent("{\"actions\":{\"event_category\":\"C\",\"event_action\":\"Earlier\"}}", ReportFormat::LocalClockMillis(),
                          key, content), 0);
    ASSERT_TRUE(n.QueueFile()->Update(key, content, 0));
    std::string before = test_support::ReadFile(m.QueueFilePath());
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(WebLog::ReportEventWith(m, n, "{\"actions\":{\"event_category\":\"C\",\"event_action\":\"A" + std::to_string(i) + "\"}}", false), 0);
    EXPECT_EQ(test_support::ReadFile(m.QueueFilePath()), before);
    EXPECT_EQ(ReadableKeys(m.QueueFilePath()).size(), 21u);
}
