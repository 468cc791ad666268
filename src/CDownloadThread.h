#pragma once
// A download worker: a CThread that fetches its segment into the pool's shared output file
// with its own transfer tool (and so its own easy handle).
#include <cstdio>
#include <memory>

#include "CLibcurlTool.h"
#include "CThread.h"

class CDownloadThread : public CThread {
public:
    // file: the shared output file, opened and owned by the pool.
    CDownloadThread(HANDLE downloadMutex, FILE* file);

    // One ranged request for the rest of the current task; marks it complete (1) or failed (2).
    void taskBusiness() override;

    FILE* getFile() const { return m_pFile; }
    CLibcurlTool& getCurlTool() { return *m_pCurlTool; }

protected:
    FILE* m_pFile = nullptr;
    std::unique_ptr<CLibcurlTool> m_pCurlTool;
};
