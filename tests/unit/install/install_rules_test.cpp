// The install worker's plain rules: flow codes of download results and verification, package
// paths, the resume decision and the speed figure.
#include <gtest/gtest.h>

#include "install/InstallFlowCodes.h"
#include "install/InstallWorker.h"

using FlowError::ExceptionKind;

TEST(InstallFlowCodes, DownloadResults) {
    struct Case {
        int result;
        const char* code;
    } cases[] = {{1, ""},       {9, "DL010"},  {10, "DL011"}, {6, "DL012"},  {13, "DL022"}, {7, "DL027"},
                 {8, "DL028"},  {11, "DL029"}, {12, "DL030"}, {15, "DL031"}, {0, "DL017"},  {2, "DL017"},
                 {14, "DL017"}, {-1, "DL017"}};
    for (const Case& c : cases) EXPECT_EQ(InstallFlowCodes::ForDownloadResult(c.result), c.code) << c.result;
}

TEST(InstallFlowCodes, Verification) {
    struct Case {
        bool digest, signature, failed;
        const char* code;
        ExceptionKind kind;
        bool stops, downloadsAgain;
    } cases[] = {
        {true, true, false, "", ExceptionKind::Md5CheckFail, false, false},
        {false, true, true, "DL013", ExceptionKind::Md5CheckFail, false, true},
        {true, false, true, "DL014", ExceptionKind::HashCheckFail, true, false},
        {false, false, true, "DL015", ExceptionKind::Md5HashCheckFail, true, false},
    };
    for (const Case& c : cases) {
        InstallFlowCodes::VerificationFailure f = InstallFlowCodes::ForVerification(c.digest, c.signature);
        EXPECT_EQ(f.failed, c.failed);
        EXPECT_EQ(f.code, c.code);
        if (c.failed) {
            EXPECT_EQ(f.kind, c.kind) << c.code;
        }
        EXPECT_EQ(f.stopsInstall, c.stops) << c.code;
        EXPECT_EQ(f.downloadsAgain, c.downloadsAgain) << c.code;
    }
}

TEST(InstallWorkerRules, PackagePaths) {
    auto p = InstallWorker::PathsFor(L"C:\\work", L"http://h/download/OrbalaLumeno_Setup.exe", L"1.0.0.0");
    EXPECT_EQ(p.installer, L"C:\\work\\OrbalaLumeno_Setup_1.0.0.0.exe");
    EXPECT_EQ(p.taskFile, L"C:\\work\\OrbalaLumeno_Setup_1.0.0.0.exe.xml");
    EXPECT_EQ(p.stamp, L"C:\\work\\OrbalaLumeno_Setup_1.0.0.0.exe.db");
    EXPECT_TRUE(p.isProgram);
    auto apk = InstallWorker::PathsFor(L"C:\\work", L"http://h/a.b/Lumeno.v2.apk", L"2.0");
    EXPECT_EQ(apk.installer, L"C:\\work\\Lumeno.v2_2.0.apk");
    EXPECT_FALSE(apk.isProgram);
    // ".EXE" in capitals is not ".exe".
    EXPECT_FALSE(InstallWorker::PathsFor(L"C:\\w", L"http://h/x.EXE", L"1").isProgram);
}

TEST(InstallWorkerRules, EarlierDownloadIsKeptOnlyForTheSameVersionAndDigest) {
    const std::wstring md5 = L"0123456789abcdef0123456789abcdef";
    struct Case {
        const char* stamp;
        const wchar_t* version;
        const wchar_t* md5;
        const wchar_t* md5Extra;
        bool keep;
    } cases[] = {
        {"1.0.0.0###0123456789abcdef0123456789abcdef", L"1.0.0.0", md5.c_str(), L"", true},
        {"1.0.0.0###0123456789ABCDEF0123456789ABCDEF", L"1.0.0.0", md5.c_str(), L"", true},   // the stamp side is lowered
        {"1.0.0.0###0123456789abcdef0123456789abcdef", L"1.0.0.0", L"0123456789ABCDEF0123456789ABCDEF", L"", false},
        {"1.0.0.0###0123456789abcdef0123456789abcdef", L"1.0.0.0", L"ffff", md5.c_str(), true},  // Md5_extra
        {"0.9.0.0###0123456789abcdef0123456789abcdef", L"1.0.0.0", md5.c_str(), L"", false},
        {"1.0.0.0#0123456789abcdef0123456789abcdef", L"1.0.0.0", md5.c_str(), L"", false},
        {"", L"1.0.0.0", md5.c_str(), L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InstallWorker::KeepsEarlierDownload(c.stamp, c.version, c.md5, c.md5Extra), c.keep) << c.stamp;
}

TEST(InstallWorkerRules, SpeedNeverDividesByZero) {
    const int64_t mib = 1048576;
    EXPECT_EQ(InstallWorker::SpeedText(100 * mib, 10000), "10.00MB/s");
    EXPECT_EQ(InstallWorker::SpeedText(100 * mib, 10999), "10.00MB/s");  // whole seconds
    EXPECT_EQ(InstallWorker::SpeedText(10 * mib, 500), "20.00MB/s");     // under a second: milliseconds
    EXPECT_EQ(InstallWorker::SpeedText(10 * mib, 0), "10000.00MB/s");    // at least one millisecond
    EXPECT_EQ(InstallWorker::SpeedText(0, 0), "0.00MB/s");
}
