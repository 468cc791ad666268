// Report SDK queue figures: time to offer 1,000 funnel events while the collector refuses them
// (the queue grows to 1,000 entries), the cost of one offer with about 1,000 waiting (the last
// 100 offers), then the delivery rate once the collector accepts.
// Run through bench/report_queue.sh, which starts the local services.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ReportSDK/CManagement.h"
#include "ReportSDK/CNetworkCommunicate.h"
#include "ReportSDK/WebLog.h"
#include "support/local_services.h"

int main() {
    if (!LocalServices::Available()) {
        fprintf(stderr, "start through bench/report_queue.sh\n");
        return 2;
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"orbala_report_bench_" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring appData = dir + L"\\AppData";
    CreateDirectoryW(appData.c_str(), nullptr);
    std::string base = LocalServices::BaseUrl(true);
    std::string ini = "[Configs]\r\nTestEnv=1\r\n";
    HANDLE h = CreateFileW((dir + L"\\test.wk").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, ini.data(), DWORD(ini.size()), &n, nullptr);
    CloseHandle(h);

    LocalServices::Reset();
    LocalServices::AddFault(R"({"path":"/collector","status":503})");
    CManagement m(dir + L"\\Setup.exe", appData);
    m.SetTestEndpoints(base, base);
    CNetworkCommunicate net(m);  // the setup's own timing
    WebLog::Start(m, net, 2, 3086, 3086, "", "", "Orbala Lumeno", "2.1.0", "");
    m.SetCommonParams(486, 0, "en", "1.0.0.1");

    const int kEvents = 1000;
    const int kLast = 100;
    LARGE_INTEGER f, a, b, last;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    last = a;
    for (int i = 0; i < kEvents; ++i) {
        if (i == kEvents - kLast) QueryPerformanceCounter(&last);
        std::string body = "{\"actions\":{\"event_category\":\"Bench\",\"event_action\":\"E" + std::to_string(i) + "\"}}";
        if (WebLog::ReportEventWith(m, net, body, false) != 0) return 1;
    }
    QueryPerformanceCounter(&b);
    double offerMs = 1000.0 * double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
    double lastMs = 1000.0 * double(b.QuadPart - last.QuadPart) / double(f.QuadPart);
    printf("offer %d events, collector down: %.0f ms (%.2f ms per event)\n", kEvents, offerMs, offerMs / kEvents);
    printf("offer with %d to %d waiting: %.2f ms per event\n", kEvents - kLast, kEvents - 1, lastMs / kLast);

    LocalServices::Reset();
    QueryPerformanceCounter(&a);
    while (!net.Idle()) Sleep(10);
    QueryPerformanceCounter(&b);
    double sendS = double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
    size_t delivered = LocalServices::Requests("/collector").size();
    printf("deliver %zu events to the local collector (HTTPS): %.1f s, %.0f events/s\n", delivered, sendS,
           double(delivered) / sendS);
    return 0;
}
