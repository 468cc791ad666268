#pragma once
// The worker pool of one download: the shared output file and CDownloadThread workers.
#include <cstdio>
#include <string>

#include "download/CThreadManager.h"

class CDownloadThreadManager : public CThreadManager {
public:
    explicit CDownloadThreadManager(const std::string& localPath);
    ~CDownloadThreadManager() override;

    // Opens the output file (keeping an existing one), then creates and starts count workers.
    // Returns the number of started workers, or -1 when the file cannot be opened.
    int createThreads(int count) override;
    // Closes the shared output file.
    void closeFile();

    FILE* file() const { return m_pFile; }

private:
    FILE* openOutput(unsigned long& error);

    FILE* m_pFile = nullptr;
    std::string m_localPath;
};
