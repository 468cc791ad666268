// The crash handler in a real process under Wine: a probe program installs it as the setup does
// and writes through a null pointer on a worker thread. The dump is read back (header, stream
// directory, the faulting thread), the log lines and the freed mutex are checked, and so is the
// hidden "-dmp " copy that the handler starts when the download configuration asks for crash
// reports. The probe is its own copy: it records how it was started and uploads the log and the
// dump with the setup's upload function to the local services (the real setup.exe's "-dmp " run,
// after a real crash, is maintenance_upload_e2e's). Each probe runs in a job, whose count of
// processes tells how many copies the handler started, final once the probe has ended.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbghelp.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/TextCodec.h"
#include "crash/CrashHandler.h"
#include "support/local_services.h"
#include "support/setup_process.h"
#include "support/test_support.h"
#include "support/zip_reader.h"

namespace {

using test_support::ReadFile;

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr ULONG32 kMinidumpSignature = 0x504d444d;  // "MDMP"
const wchar_t kLogName[] = L"Setup_20260105101112013.log";

std::wstring ProbeExe() { return test_support::WinePath(CRASH_PROBE_EXE); }

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> values;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.compare(0, prefix.size(), prefix) == 0) values.push_back(line.substr(prefix.size()));
        at = end + 1;
    }
    return values;
}

// What a minidump says about itself, read from its header and stream directory.
struct DumpFacts {
    bool wellFormed = false;  // signature, version, and every stream inside the file
    DWORD exceptionThread = 0;
    DWORD exceptionCode = 0;
    std::vector<DWORD> threads;
    size_t modules = 0;
};

DumpFacts ReadDump(const std::string& bytes) {
    DumpFacts facts;
    MINIDUMP_HEADER header;
    if (bytes.size() < sizeof(header)) return facts;
    memcpy(&header, bytes.data(), sizeof(header));
    if (header.Signature != kMinidumpSignature || (header.Version & 0xFFFF) != MINIDUMP_VERSION ||
        header.NumberOfStreams == 0 ||
        header.StreamDirectoryRva + uint64_t(header.NumberOfStreams) * sizeof(MINIDUMP_DIRECTORY) > bytes.size())
        return facts;
    bool inside = true;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        memcpy(&entry, bytes.data() + header.StreamDirectoryRva + i * sizeof(entry), sizeof(entry));
        const uint64_t rva = entry.Location.Rva, size = entry.Location.DataSize;
        if (entry.StreamType == UnusedStream) continue;
        if (rva + size > bytes.size()) {
            inside = false;
            continue;
        }
        const char* data = bytes.data() + rva;
        if (entry.StreamType == ExceptionStream && size >= sizeof(MINIDUMP_EXCEPTION_STREAM)) {
            MINIDUMP_EXCEPTION_STREAM exception;
            memcpy(&exception, data, sizeof(exception));
            facts.exceptionThread = exception.ThreadId;
            facts.exceptionCode = exception.ExceptionRecord.ExceptionCode;
        } else if (entry.StreamType == ThreadListStream && size >= sizeof(ULONG32)) {
            ULONG32 count;
            memcpy(&count, data, sizeof(count));
            for (ULONG32 t = 0; t < count && sizeof(ULONG32) + (t + 1) * sizeof(MINIDUMP_THREAD) <= size; ++t) {
                MINIDUMP_THREAD thread;
                memcpy(&thread, data + sizeof(ULONG32) + t * sizeof(thread), sizeof(thread));
                facts.threads.push_back(thread.ThreadId);
            }
        } else if (entry.StreamType == ModuleListStream && size >= sizeof(ULONG32)) {
            ULONG32 count;
            memcpy(&count, data, sizeof(count));
            facts.modules = count;
        }
    }
    facts.wellFormed = inside;
    return facts;
}

struct ProbeResult {
    DWORD exitCode = 0;
    // Processes of the run: the probe and every copy it started. The handler starts its copy
    // before it returns, so once the probe has ended the count is final.
    DWORD processes = 0;
    std::vector<DWORD> threads;  // the workers that crashed
    std::string mutexFree;       // "1", "0", or empty when the probe held no mutex
};

class CrashHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        CreateDirectoryW(temp_.c_str(), nullptr);
        // The probe and the copies it starts inherit these.
        SetEnvironmentVariableW(L"ORBALA_PROBE_RECORD", Record().c_str());
        SetEnvironmentVariableW(L"ORBALA_PROBE_LOG_FOLDER", logs_.path().c_str());
        SetEnvironmentVariableW(L"ORBALA_PROBE_UPLOAD_URL",
                                TextCodec::Utf8ToWide(LocalServices::BaseUrl(true) + "/v1/productLogUpload").c_str());
        // The probe's protected copy, which the handler starts.
        CreateDirectoryW(copies_.c_str(), nullptr);
        SetEnvironmentVariableW(L"ORBALA_PROBE_COPY_FOLDER", copies_.c_str());
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[MAX_PATH] = {};
            savedTemp_.push_back(GetEnvironmentVariableW(name, value, MAX_PATH) ? value : L"");
            SetEnvironmentVariableW(name, (temp_ + L"\\").c_str());
        }
    }
    void TearDown() override {
        // Copies still running hold files of the folders about to go.
        WaitUntil([&] { return Count(ReadFile(Record()), "upload=") == Count(ReadFile(Record()), "args="); }, 30000);
        // The next test's folders are made in the real temporary folder.
        SetEnvironmentVariableW(L"TMP", savedTemp_.at(0).empty() ? nullptr : savedTemp_[0].c_str());
        SetEnvironmentVariableW(L"TEMP", savedTemp_.at(1).empty() ? nullptr : savedTemp_[1].c_str());
    }

    std::wstring Record() const { return work_.File(L"record.txt"); }
    std::wstring LogPath() const { return logs_.File(kLogName); }

    // Runs the probe to its end. log: the path the handler is told ("" for none; the logger then
    // writes beside the result file). mutex: whether the probe holds a mutex named after this test.
    ProbeResult RunProbe(const std::wstring& log, int config, bool mutex, int product, int threads) {
        ProbeResult result;
        std::wstring resultFile = work_.File(L"result" + std::to_wstring(++runs_) + L".txt");
        mutexName_ = L"crash_handler_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(runs_);
        loggerFile_ = log.empty() ? resultFile + L".log" : log;
        std::wstring args = L"crash \"" + loggerFile_ + L"\" \"" + (log.empty() ? L"-" : log) + L"\" " +
                            std::to_wstring(config) + L" " + (mutex ? mutexName_ : L"-") + L" " + std::to_wstring(product) +
                            L" " + std::to_wstring(threads) + L" \"" + resultFile + L"\"";
        HANDLE job = CreateJobObjectW(nullptr, nullptr);
        EXPECT_NE(job, nullptr);
        SetupProcess probe;
        EXPECT_TRUE(probe.Start(ProbeExe(), args, job));
        EXPECT_TRUE(probe.WaitForExit(60000)) << "the probe did not end";
        result.exitCode = probe.ExitCode();
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        EXPECT_TRUE(QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                              nullptr));
        result.processes = accounting.TotalProcesses;
        if (job) CloseHandle(job);
        std::string text = ReadFile(resultFile);
        for (const std::string& id : LinesWith(text, "thread=")) result.threads.push_back(std::stoul(id));
        std::vector<std::string> mutexLines = LinesWith(text, "mutex_free=");
        if (!mutexLines.empty()) result.mutexFree = mutexLines.back();
        return result;
    }
    // The log as text with "\n" line ends (the logger writes the file in text mode).
    std::string LoggedText() const {
        std::string text = ReadFile(loggerFile_);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

    // Waits for the crash-report copies to finish their upload; returns the record's lines.
    std::map<std::string, std::vector<std::string>> CopiesRecorded(int expected) {
        WaitUntil([&] { return Count(ReadFile(Record()), "upload=") >= expected; }, 60000);
        std::string text = ReadFile(Record());
        return {{"args", LinesWith(text, "args=")}, {"show", LinesWith(text, "show=")}, {"upload", LinesWith(text, "upload=")}};
    }

    test_support::TempDir logs_;
    test_support::TempDir work_;
    std::wstring temp_ = work_.File(L"temp");
    std::wstring copies_ = work_.File(L"copies");
    std::wstring mutexName_;
    std::wstring loggerFile_;
    int runs_ = 0;
    std::vector<std::wstring> savedTemp_;
};

}  // namespace

TEST_F(CrashHandlerTest, WorkerThreadCrashLeavesADumpFreesTheMutexAndStartsOneUploadCopy) {
    ProbeResult run = RunProbe(LogPath(), 2, true, 486, 1);
    EXPECT_EQ(run.exitCode, kAccessViolation);
    ASSERT_EQ(run.threads.size(), 1u);
    EXPECT_EQ(run.processes, 2u) << "the probe and its one copy";

    // The dump, under the log file's full name followed by ".dmp", reads back whole.
    std::string dump = ReadFile(LogPath() + L".dmp");
    DumpFacts facts = ReadDump(dump);
    EXPECT_TRUE(facts.wellFormed) << dump.size() << " bytes";
    EXPECT_EQ(facts.exceptionThread, run.threads[0]);
    EXPECT_EQ(facts.exceptionCode, kAccessViolation);
    EXPECT_NE(std::find(facts.threads.begin(), facts.threads.end(), run.threads[0]), facts.threads.end());
    EXPECT_GT(facts.modules, 0u);

    // The lines, in order; the worker does not own the main thread's mutex, so releasing it
    // fails, and closing the handle is what frees it: a new start is admitted.
    std::string log = LoggedText();
    size_t entered = log.find(" Exception handler entered.\n");
    size_t released = log.find(" Release mutex: 0, 288, 1, 0\n");
    size_t created = log.find(" Create dmp file: 1, 0\n");
    size_t written = log.find(" Write dmp file: 1, ");
    EXPECT_NE(entered, std::string::npos) << log;
    EXPECT_TRUE(entered < released && released < created && created < written && written != std::string::npos) << log;
    EXPECT_EQ(run.mutexFree, "1");

    // One hidden copy, told the log's file name; it sends the log and the dump, then removes
    // the archive and the copy of the log.
    auto copies = CopiesRecorded(1);
    EXPECT_EQ(copies["args"], (std::vector<std::string>{"-dmp " + TextCodec::WideToUtf8(kLogName)}));
    EXPECT_EQ(copies["show"], (std::vector<std::string>{std::to_string(SW_HIDE)}));
    EXPECT_EQ(copies["upload"], (std::vector<std::string>{"0"}));
    std::vector<Json::Value> uploads = LocalServices::Requests("/v1/productLogUpload");
    ASSERT_EQ(uploads.size(), 1u);
    std::map<std::string, Json::Value> parts;
    for (const Json::Value& part : uploads[0]["form"]) parts[part["name"].asString()] = part;
    EXPECT_EQ(parts["catalogue"]["value"].asString(), "CrashDmp");
    EXPECT_EQ(parts["version"]["value"].asString(), "7.6.5.4");
    EXPECT_EQ(parts["product_id"]["value"].asString(), "DAZurezuvi2900");
    std::wstring received = work_.File(L"received.zip");
    test_support::WriteText(received, zip_reader::Base64Decode(parts["file"]["content_base64"].asString()));
    zip_reader::Entries entries;
    ASSERT_TRUE(zip_reader::ReadEntries(received, entries));
    const std::string name = TextCodec::WideToUtf8(kLogName);
    ASSERT_EQ(zip_reader::Names(entries), (std::vector<std::string>{name, name + ".dmp"}));
    EXPECT_EQ(entries[0].second, ReadFile(LogPath()));
    EXPECT_EQ(entries[1].second, dump);
    std::vector<std::wstring> left = test_support::FilesIn(logs_.path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::wstring>{kLogName, std::wstring(kLogName) + L".dmp"}));
}

TEST_F(CrashHandlerTest, NoCrashReportCopyUnlessTheConfigurationAsksForOne) {
    for (int config : {0, 3, -1}) {
        ProbeResult run = RunProbe(LogPath(), config, true, 486, 1);
        EXPECT_EQ(run.exitCode, kAccessViolation) << config;
        EXPECT_TRUE(ReadDump(ReadFile(LogPath() + L".dmp")).wellFormed) << config;
        EXPECT_EQ(run.mutexFree, "1") << config;
        // The handler has returned (the probe ended through it): any copy it started is counted.
        EXPECT_EQ(run.processes, 1u) << config << ": the handler started a copy";
    }
    EXPECT_EQ(ReadFile(Record()), "");
}

// The copy the handler starts is the protected one, never the program by its own path: a probe
// that made no protected copy starts nothing, and says so in its log.
TEST_F(CrashHandlerTest, NoProtectedCopyNoCrashReportCopy) {
    SetEnvironmentVariableW(L"ORBALA_PROBE_COPY_FOLDER", nullptr);
    ProbeResult run = RunProbe(LogPath(), 2, true, 486, 1);
    EXPECT_EQ(run.exitCode, kAccessViolation);
    EXPECT_TRUE(ReadDump(ReadFile(LogPath() + L".dmp")).wellFormed);
    std::string log = LoggedText();
    EXPECT_EQ(Count(log, " Crash report copy not started: no protected copy, 0\n"), 1) << log;
    Sleep(4000);  // a copy would have recorded itself well within this time
    EXPECT_EQ(ReadFile(Record()), "");
}

TEST_F(CrashHandlerTest, WithoutALogTheDumpGoesToTheTemporaryFolderUnderADatedName) {
    struct Case {
        int product;
        bool mutex;
        const char* pattern;
    };
    // Product 0 and no mutex: a crash before the single-instance check.
    const Case cases[] = {{0, false, "0_7\\.6\\.5\\.4_([0-9]{8})[0-9]{9}\\.dmp"},
                          {486, true, "486_7\\.6\\.5\\.4_([0-9]{8})[0-9]{9}\\.dmp"}};
    int copies = 0;
    for (const Case& c : cases) {
        SYSTEMTIME today;
        GetLocalTime(&today);
        ProbeResult run = RunProbe(L"", 2, c.mutex, c.product, 1);
        ++copies;
        EXPECT_EQ(run.exitCode, kAccessViolation);
        // At least the probe and its copy (the record below counts the copies; once, under load,
        // Wine had one more process of its own in the job here).
        EXPECT_GE(run.processes, 2u) << c.product;
        std::vector<std::wstring> dumps = test_support::FilesIn(temp_);
        ASSERT_EQ(dumps.size(), 1u) << c.product;
        std::string name = TextCodec::WideToUtf8(dumps[0]);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(name, m, std::regex(c.pattern))) << name;
        char date[16];
        snprintf(date, sizeof(date), "%.4d%.2d%.2d", today.wYear, today.wMonth, today.wDay);
        EXPECT_EQ(m[1].str(), date);
        DumpFacts facts = ReadDump(ReadFile(temp_ + L"\\" + dumps[0]));
        EXPECT_TRUE(facts.wellFormed);
        EXPECT_EQ(facts.exceptionThread, run.threads.at(0));
        std::string log = LoggedText();
        EXPECT_EQ(Count(log, " Exception handler entered.\n"), 1) << log;
        EXPECT_EQ(Count(log, " Release mutex: "), c.mutex ? 1 : 0) << log;
        DeleteFileW((temp_ + L"\\" + dumps[0]).c_str());

        // The copy is still started, with an empty name; it has no log to send and sends nothing.
        auto recorded = CopiesRecorded(copies);
        ASSERT_EQ(recorded["args"].size(), size_t(copies));
        EXPECT_EQ(recorded["args"].back().substr(0, 4), "-dmp");
        EXPECT_EQ(recorded["upload"].back(), "-1");
    }
    EXPECT_TRUE(LocalServices::Requests("/v1/productLogUpload").empty());
}

TEST_F(CrashHandlerTest, TwoThreadsCrashingAtOnceLeaveOneCompleteDump) {
    ProbeResult run = RunProbe(LogPath(), 2, true, 486, 2);
    EXPECT_EQ(run.exitCode, kAccessViolation);
    ASSERT_EQ(run.threads.size(), 2u);
    std::string dump = ReadFile(LogPath() + L".dmp");
    DumpFacts facts = ReadDump(dump);
    EXPECT_TRUE(facts.wellFormed) << dump.size() << " bytes";
    EXPECT_TRUE(facts.exceptionThread == run.threads[0] || facts.exceptionThread == run.threads[1]);
    EXPECT_EQ(facts.exceptionCode, kAccessViolation);
    std::string log = LoggedText();
    EXPECT_EQ(Count(log, " Exception handler entered.\n"), 1) << log;
    // The other thread came in while the dump was written, and waited.
    EXPECT_EQ(Count(log, " Exception handler busy: thread "), 1) << log;
    EXPECT_EQ(Count(log, " Create dmp file: "), 1) << log;
    EXPECT_EQ(Count(log, " Write dmp file: 1, "), 1) << log;
    EXPECT_EQ(test_support::FilesIn(temp_).size(), 0u);
    EXPECT_EQ(run.processes, 2u) << "one crash-report copy for the two crashes";
    auto copies = CopiesRecorded(1);
    EXPECT_EQ(Count(ReadFile(Record()), "args="), 1);
    EXPECT_EQ(copies["upload"], (std::vector<std::string>{"0"}));
}

TEST_F(CrashHandlerTest, ALogPathTooLongForTheDumpNameWritesNoCutName) {
    // A log path of 259 characters: its dump name would need 263.
    std::wstring folder = logs_.path() + L"\\";
    std::wstring name = L"Setup_" + std::wstring(259 - folder.size() - 10, L'x') + L".log";
    std::wstring log = folder + name;
    ASSERT_EQ(log.size(), 259u);
    ProbeResult run = RunProbe(log, 2, true, 486, 1);
    EXPECT_EQ(run.exitCode, kAccessViolation);
    std::string text = LoggedText();
    EXPECT_NE(text.find(" Dump path too long: no dump written\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(" Create dmp file: "), std::string::npos) << text;
    EXPECT_EQ(test_support::FilesIn(logs_.path()), (std::vector<std::wstring>{name}));
    EXPECT_EQ(run.mutexFree, "1");
    EXPECT_EQ(run.processes, 1u) << "a copy was started without a dump";
    EXPECT_EQ(ReadFile(Record()), "");
}

TEST(CrashHandlerNames, DumpAndRestartNames) {
    EXPECT_EQ(CrashHandler::DumpPathBesideLog(L"C:\\logs\\Setup_1.log"), L"C:\\logs\\Setup_1.log.dmp");
    EXPECT_EQ(CrashHandler::DumpPathBesideLog(L"C:\\" + std::wstring(251, L'a') + L".log"), L"");

    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 1;
    t.wDay = 5;
    t.wHour = 7;
    t.wMinute = 8;
    t.wSecond = 9;
    t.wMilliseconds = 12;
    EXPECT_EQ(CrashHandler::DumpPathInTemp(L"C:\\Temp\\", 486, L"1.0.0.1", t), L"C:\\Temp\\486_1.0.0.1_20260105070809012.dmp");
    EXPECT_EQ(CrashHandler::DumpPathInTemp(L"C:\\Temp\\", 0, L"", t), L"C:\\Temp\\0__20260105070809012.dmp");
    // 255 characters fit, 256 do not.
    std::wstring fits = L"C:\\" + std::wstring(255 - 33 - 4, L't') + L"\\";  // the name takes 33
    EXPECT_EQ(CrashHandler::DumpPathInTemp(fits, 486, L"1.0.0.1", t).size(), 255u);
    EXPECT_EQ(CrashHandler::DumpPathInTemp(fits + L"t", 486, L"1.0.0.1", t), L"");

    std::wstring parameters;
    EXPECT_TRUE(CrashHandler::RestartParametersFor(L"C:\\logs\\Setup_1.log", parameters));
    EXPECT_EQ(parameters, L" -dmp Setup_1.log");
    EXPECT_TRUE(CrashHandler::RestartParametersFor(L"", parameters));
    EXPECT_EQ(parameters, L" -dmp ");
    EXPECT_TRUE(CrashHandler::RestartParametersFor(L"C:\\l\\" + std::wstring(253, L'n'), parameters));
    EXPECT_EQ(parameters.size(), 259u);
    EXPECT_FALSE(CrashHandler::RestartParametersFor(L"C:\\l\\" + std::wstring(254, L'n'), parameters));
}

TEST(CrashHandlerNames, OnlyConfigurationsOneAndTwoAskForAReport) {
    for (int config : {-1, 0, 1, 2, 3, 100})
        EXPECT_EQ(CrashHandler::WantsCrashReport(config), config == 1 || config == 2) << config;
}

TEST(CrashHandlerInstall, BecomesTheUnhandledExceptionFilter) {
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(nullptr);
    CrashHandler::Install();
    EXPECT_EQ(SetUnhandledExceptionFilter(before), &UnhandledExceptionHandler);
}
