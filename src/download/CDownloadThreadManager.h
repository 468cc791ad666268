#pragma once
// The worker pool of one download: the package file and CDownloadThread workers.
#include <atomic>
#include <string>

#include "download/CThreadManager.h"
#include "download/PackageFile.h"

class CDownloadThreadManager : public CThreadManager {
public:
    explicit CDownloadThreadManager(const std::string& localPath);
    ~CDownloadThreadManager() override;

    // Opens the package file (keeping an existing one), then creates and starts count workers.
    // Returns the number of started workers, or -1 when the file cannot be opened.
    int createThreads(int count) override;
    // Closes the package file; no worker of this pool writes into it afterwards.
    void closeFile();
    // Asks every running transfer to end now.
    void requestStop() { m_stopTransfers.store(true); }

    PackageFile& package() { return m_package; }

private:
    PackageFile m_package;
    std::atomic<bool> m_stopTransfers{false};
};
