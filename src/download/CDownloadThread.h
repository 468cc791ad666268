#pragma once
// A download worker: a CThread that fetches its segment into the pool's package file with its
// own transfer tool (and so its own easy handle).
#include <atomic>
#include <memory>

#include "net/CLibcurlTool.h"
#include "net/RangeTarget.h"
#include "download/CTask.h"
#include "download/CThread.h"
#include "download/PackageFile.h"

// It is the range target of its own requests: the transfer layer reaches the segment and the
// output through IRangeTarget (the first base, so the pointer handed to libcurl as user data is
// the same either way).
class CDownloadThread : public IRangeTarget, public CThread {
public:
    // package: the attempt's output file, owned by the pool (null: nothing can be written).
    // stop: the pool's request to end every transfer now (null: never).
    explicit CDownloadThread(PackageFile* package, const std::atomic<bool>* stop = nullptr);

    // One ranged request for the rest of the current task; marks it complete (1) or failed (2).
    void taskBusiness() override;

    TransferSegment* getSegment() const override { return getTask(); }
    size_t writeAt(int64_t pos, const char* data, size_t n) override {
        return m_package ? m_package->writeAt(m_writerSlot, pos, data, n) : 0;
    }
    bool stopRequested() const override { return m_stop && m_stop->load(); }
    CLibcurlTool& getCurlTool() { return *m_pCurlTool; }

protected:
    PackageFile* m_package = nullptr;
    const std::atomic<bool>* m_stop = nullptr;
    int m_writerSlot = -1;  // this worker's own handle of the package
    std::unique_ptr<CLibcurlTool> m_pCurlTool;
};
