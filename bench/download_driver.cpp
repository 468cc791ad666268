// download_driver URL LOCAL_PATH [ATTEMPTS] [MAIN] [nomd5]
// Runs supervised download attempts of URL into LOCAL_PATH until one succeeds or ATTEMPTS
// (default 12) are used, as the install worker does, then prints "result N attempts K" and
// the file's MD5 ("-" with nomd5, so a benchmark times the download alone, as it does for its
// peers), and exits with the last result (1 = success).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <curl/curl.h>

#include "download/DownLoadImpl.h"
#include "easylogging++.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: download_driver URL LOCAL_PATH [ATTEMPTS] [MAIN] [nomd5]\n");
        return 2;
    }
    el::Configurations quiet;
    quiet.setToDefault();
    quiet.setGlobally(el::ConfigurationType::Enabled, getenv("DRIVER_LOG") ? "true" : "false");
    el::Loggers::reconfigureAllLoggers(quiet);
    curl_global_init(CURL_GLOBAL_ALL);
    const int attempts = argc > 3 ? _wtoi(argv[3]) : 12;
    const bool main = argc > 4 ? _wtoi(argv[4]) != 0 : true;
    int result = 0, used = 0;
    for (used = 1; used <= attempts; ++used) {
        std::string cdn;
        result = CDownLoadImpl::SuperDownloadFile(argv[1], argv[2], cdn, main);
        if (result == 1) break;
    }
    const bool md5 = !(argc > 5 && std::wstring(argv[5]) == L"nomd5");
    printf("result %d attempts %d md5 %s\n", result, used > attempts ? attempts : used,
           md5 ? CDownLoadImpl::FileMd5(argv[2]).c_str() : "-");
    fflush(stdout);
    curl_global_cleanup();
    return result;
}
