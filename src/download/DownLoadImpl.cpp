#include "download/DownLoadImpl.h"

#include <wincrypt.h>

#include <cstdio>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "base/ScopedHandle.h"
#include "base/SystemLibrary.h"
#include "base/TextCodec.h"
#include "download/CDownloader.h"
#include "download/DownloadAddress.h"
#include "download/DownloadEvents.h"
#include "easylogging++.h"

namespace {

std::mutex& CallbackLock() {
    static std::mutex lock;
    return lock;
}
CDownLoadImpl::ProgressCallback& Callback() {
    static CDownLoadImpl::ProgressCallback callback;
    return callback;
}
std::mutex& LimitsLock() {
    static std::mutex lock;
    return lock;
}
CDownLoadImpl::Limits& CurrentLimits() {
    static CDownLoadImpl::Limits limits;
    return limits;
}

std::atomic<bool>& StopFlag() {
    static std::atomic<bool> stop{false};
    return stop;
}

// Reports progress to the window when one is registered; false when there is none.
bool ReportProgress(int64_t downloaded, int64_t total) {
    CDownLoadImpl::ProgressCallback callback;
    {
        std::lock_guard<std::mutex> lock(CallbackLock());
        callback = Callback();
    }
    if (!callback) return false;
    callback(downloaded, total, 0);
    return true;
}

// IsNetworkAlive of SensApi, looked up once; a system without it counts as connected.
bool SystemNetworkAlive() {
    using IsNetworkAliveFn = BOOL(WINAPI*)(LPDWORD);
    static IsNetworkAliveFn isNetworkAlive = [] {
        HMODULE sens = SystemLibrary::Load(L"sensapi.dll");  // from the system folder only
        return sens ? reinterpret_cast<IsNetworkAliveFn>(reinterpret_cast<void*>(GetProcAddress(sens, "IsNetworkAlive")))
                    : nullptr;
    }();
    if (!isNetworkAlive) return true;
    DWORD flags = 0;
    return isNetworkAlive(&flags) != FALSE;
}

int64_t FileSize(const std::wstring& path) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) size.QuadPart = 0;
    return size.QuadPart;
}

std::string SpeedText(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

void CDownLoadImpl::SetProgressCallback(ProgressCallback callback) {
    std::lock_guard<std::mutex> lock(CallbackLock());
    Callback() = std::move(callback);
}

CDownLoadImpl::Limits CDownLoadImpl::GetLimits() {
    std::lock_guard<std::mutex> lock(LimitsLock());
    return CurrentLimits();
}

void CDownLoadImpl::SetLimits(const Limits& limits) {
    std::lock_guard<std::mutex> lock(LimitsLock());
    CurrentLimits() = limits;
}

void CDownLoadImpl::RequestStop() { StopFlag() = true; }
void CDownLoadImpl::ClearStop() { StopFlag() = false; }
bool CDownLoadImpl::StopRequested() { return StopFlag().load(); }

int CDownLoadImpl::WorkerCount(unsigned processors) {
    int count = static_cast<int>(processors * 8 / 5);
    return count < 4 ? 4 : count;
}

std::string CDownLoadImpl::AverageSpeedText(int64_t bytesPerSecond) {
    const double mib = static_cast<int64_t>(bytesPerSecond / 1048576.0 * 100) / 100.0;
    return SpeedText("%.1fMB/s", mib);
}

EnumErrorCode CDownLoadImpl::SuperDownloadFile(const std::wstring& remote, const std::wstring& local, std::string& cdnSummary,
                                     bool mainDownload) {
    if (StopRequested()) return ErrStopped;
    const Limits limits = GetLimits();
    auto networkAlive = [&] { return limits.networkAlive ? limits.networkAlive() : SystemNetworkAlive(); };

    // Texts are kept whole: a path cut to a fixed buffer would name another file.
    const std::string remoteAnsi = TextCodec::WideToAnsi(remote);
    const std::string localAnsi = TextCodec::WideToAnsi(local);
    const std::string taskFile = localAnsi + ".xml";
    const bool cdn = ::IsCdnUrl(remote);
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    const int workers = WorkerCount(info.dwNumberOfProcessors);

    std::shared_ptr<CDownloader> downloader = CDownloader::Start(remoteAnsi, localAnsi, taskFile, workers);
    // Ends the attempt: waits for the driver thread, takes the CDN summary once no worker writes
    // it any more, and lets the attempt go. A driver that outlives the wait keeps the attempt
    // alive and releases it when it ends; from now on it writes neither the package nor the
    // task file, so the next attempt has both to itself.
    auto endAttempt = [&](DWORD waitMs) {
        if (!downloader->waitDriver(waitMs)) {
            LOG(INFO) << " driver thread did not end, attempt left to it";
            downloader->abandon();
            cdnSummary.clear();
            downloader.reset();
            return false;
        }
        cdnSummary = downloader->getCdnSummary();
        downloader->resetAttempt();
        downloader.reset();
        return true;
    };

    const EnumErrorCode init = downloader->downloadInit("Download", mainDownload ? 1 : 0);
    if (init != ErrSuccess) {
        downloader->setRunState(CDownloader::RunStop);
        endAttempt(limits.driverWaitMs);
        return init;
    }
    downloader->setRunState(CDownloader::RunRunning);
    DownloadEvents::Funnel("Download", "SliceDownloading");

    int64_t previousAmount = 0;
    DWORD previousTick = GetTickCount();
    // The no-progress limit runs on the supervisor's own clock: a driver that stops updating
    // its statistics must not keep the supervisor waiting for ever.
    DWORD lastProgress = previousTick;
    double lowest = 102400.0, highest = 0.0;
    EnumErrorCode result = ErrSuccess;  // a failure here ends the watch
    bool networkDown = !networkAlive();
    while (!networkDown) {
        if (StopRequested()) {
            LOG(INFO) << " Download stopped by its owner";
            result = ErrStopped;
            break;
        }
        const DownloadStatistics stats = downloader->getStatistics();
        if (stats.downloaded > previousAmount) {
            if (static_cast<int32_t>(stats.tick - previousTick) > 0) {
                const double speed = (stats.downloaded - previousAmount) / 1048576.0 / ((stats.tick - previousTick) / 1000.0);
                if (speed < lowest) lowest = speed;
                if (speed > highest) highest = speed;
            }
            previousAmount = stats.downloaded;
            previousTick = stats.tick;
            lastProgress = GetTickCount();
        }
        if (stats.downloaded == previousAmount && GetTickCount() - lastProgress >= limits.noProgressMs) {
            LOG(INFO) << "too long no speed:";
            result = ErrNoProgress;
            break;
        }
        if (cdn && stats.requestTimes > 3 * downloader->tasksCount()) {
            LOG(INFO) << " ---cdn fail:" << stats.requestTimes << " > 3 * " << downloader->tasksCount();
            result = ErrCdnFailures;
            break;
        }
        if (downloader->getRunState() == CDownloader::RunStop) break;  // every task complete
        if (mainDownload) ReportProgress(stats.downloaded, downloader->contentLength());
        networkDown = !networkAlive();
        // The limits are measured on the driver's statistics, so a pause between passes costs
        // nothing in accuracy and keeps a stalled download from spinning a processor.
        if (!networkDown) Sleep(limits.passPauseMs);
    }

    if (networkDown) {
        LOG(INFO) << "network is  no  alive";
        downloader->setRunState(CDownloader::RunStop);
        endAttempt(limits.driverWaitMs);
        Sleep(limits.networkDownPauseMs);
        return ErrNetwork;
    }
    if (result != ErrSuccess) {
        downloader->setRunState(CDownloader::RunStop);
        endAttempt(limits.driverWaitMs);
        return result;
    }

    // Completion: the driver stopped by itself.
    const int64_t contentLength = downloader->contentLength();
    const bool dispatched = downloader->dispatched();
    const bool ended = downloader->waitDriver(limits.driverWaitMs);
    const DownloadStatistics final = downloader->getStatistics();
    if (!endAttempt(0) || !ended) return ErrShortFile;
    if (final.downloaded < contentLength) {
        LOG(INFO) << " lenth is error, less than remote file.";
        return ErrShortFile;
    }
    const int64_t size = FileSize(local);
    if (mainDownload && size < 1048576) return ErrMainDownloadTooSmall;
    if (dispatched) {
        LOG(INFO) << " Average speed: " << AverageSpeedText(final.averageSpeed());
        LOG(INFO) << " Download speed range " << SpeedText("%.1f MB/s", lowest) << " - "
                  << SpeedText("%.1f MB/s", highest);
    } else if (mainDownload) {
        ReportProgress(contentLength, contentLength);
    }
    return ErrSuccess;
}

std::string CDownLoadImpl::FileMd5(const std::wstring& path) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string hex;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return hex;
    if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        bool ok = true;
        if (FILE* file = _wfopen(path.c_str(), L"rb")) {
            std::vector<unsigned char> buffer(1048576, 0);
            size_t n;
            while (ok && (n = fread(buffer.data(), 1, buffer.size(), file)) > 0)
                ok = CryptHashData(hash, buffer.data(), static_cast<DWORD>(n), 0) != FALSE;
            fclose(file);
        }
        BYTE digest[16];
        DWORD length = sizeof digest;
        if (ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == sizeof digest) {
            static const char kHex[] = "0123456789abcdef";
            for (BYTE b : digest) {
                hex.push_back(kHex[b >> 4]);
                hex.push_back(kHex[b & 15]);
            }
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return hex;
}

bool CDownLoadImpl::checkMD5(const std::wstring& path, const std::wstring& md5, const std::wstring& md5Extra,
                             const std::wstring& record) {
    return checkDigest(path, FileMd5(path), md5, md5Extra, record);
}

bool CDownLoadImpl::checkDigest(const std::wstring& path, const std::string& digest, const std::wstring& md5,
                                const std::wstring& md5Extra, const std::wstring& record) {
    LOG(INFO) << " MD5 of file " << TextCodec::WideToAnsi(path) << " is " << digest;
    if (FILE* file = _wfopen((path + L".db").c_str(), L"wb+")) {
        const std::string text = TextCodec::WideToAnsi(record) + "###" + digest;
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
    // A digest that could not be computed is empty and must not match an empty expectation.
    if (digest.empty()) return false;
    return digest == TextCodec::WideToUtf8(md5) || digest == TextCodec::WideToUtf8(md5Extra);
}
