#pragma once
// A download worker: a CThread that fetches its segment into the pool's shared output file
// with its own transfer tool (and so its own easy handle).
#include <cstdio>
#include <memory>

#include "net/CLibcurlTool.h"
#include "net/RangeTarget.h"
#include "download/CTask.h"
#include "download/CThread.h"

// It is the range target of its own requests: the transfer layer reaches the segment, the file and
// the download mutex through IRangeTarget (the first base, so the pointer handed to libcurl as
// user data is the same either way).
class CDownloadThread : public IRangeTarget, public CThread {
public:
    // file: the shared output file, opened and owned by the pool.
    CDownloadThread(HANDLE downloadMutex, FILE* file);

    // One ranged request for the rest of the current task; marks it complete (1) or failed (2).
    void taskBusiness() override;

    TransferSegment* getSegment() const override { return getTask(); }
    FILE* getFile() const override { return m_pFile; }
    HANDLE getMutex() const override { return CThread::getMutex(); }
    CLibcurlTool& getCurlTool() { return *m_pCurlTool; }

protected:
    FILE* m_pFile = nullptr;
    std::unique_ptr<CLibcurlTool> m_pCurlTool;
};
