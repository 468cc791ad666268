#pragma once
// The segments of one download attempt: the size probe, the cut into segments, the resume from
// the task file beside the download, and the task file itself.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download/CTaskManager.h"
#include "download/DownloadResult.h"

class CDownloadTaskManager : public CTaskManager {
public:
    static constexpr int64_t kDefaultSliceSize = 4194304;  // 4 MiB
    // At most this many segments (16 GiB in default slices); larger files get larger slices.
    static constexpr int64_t kMaxTasks = 4096;

    // Result of checkTaskInfo.
    enum CheckResult { CheckUsable = 1, CheckSizeChanged = 2, CheckInconsistent = 3, CheckSizeUnknown = 4 };

    // Narrow texts: remote address, local output path, task file path.
    CDownloadTaskManager(const std::string& remotePath, const std::string& localPath, const std::string& taskFilePath);

    CTask* getTask() override;
    bool addTodoTask(CTask* task) override;
    bool addDoneTask(CTask* task) override;

    // Resumes from the task file when it is usable, else starts afresh: an EnumErrorCode
    // (1 ready; 6 size unknown; 13 too many redirects).
    EnumErrorCode loadDownloadTask(const std::string& tag, int verbose);
    // Probes the size and cuts the file into segments: 1, 6 or 13.
    EnumErrorCode generateDownloadTask(const std::string& tag, int verbose);
    // Reads the task file into tasks. False when the file is missing, is not well-formed XML
    // or has no root element (nothing is added then).
    bool loadTaskFromFile(int verbose);
    // Whether the loaded tasks fit the remote file: CheckResult.
    int checkTaskInfo(int verbose);
    // Writes the current state over the task file; a file that cannot be written is skipped.
    // flushPackage, when given, makes the package's bytes durable after the state was read and
    // before the new task file is put in place; when it fails the previous task file stays.
    void saveTaskToFile(const std::function<bool()>& flushPackage = nullptr);
    // Test seam: called for each task between the reads of its status and of its position
    // while the task file is saved (a segment that finishes meanwhile). Empty: none.
    static void SetSaveReadHook(std::function<void(CTask&)> hook);

    // Size of the remote file, 0 when unknown. resultCode gets the last probe's libcurl result,
    // cdnText the CDN text of the reply. A length this process already knows for the address
    // is answered without a request unless fresh is set.
    int64_t getContentLength(int& resultCode, std::string& cdnText, int verbose, bool fresh = false);

    // The remote file's length from the header block of a probe's last reply: the total of its
    // Content-Range, else the length libcurl parsed (parsedLength, -1 when none), else its
    // Content-Length; 0 when none is known. Header names in any case.
    static int64_t LengthOfReply(const std::string& headers, int64_t parsedLength);
    // The CDN facts of a probe's last reply: eventLabel for the "3.CDNStatus" event (data
    // centre "/" cache status of Cloudflare, or X-Cache), the text of the " Cdn result:" log
    // line, and cdnText, the CDN text the segments compare theirs with (X-Cache only). False
    // when the reply names no CDN.
    static bool CdnOfReply(const std::string& headers, std::string& eventLabel, std::string& logText,
                           std::string& cdnText);

    // The validator of a probe's last reply: its entity tag when that is strong, else its
    // Last-Modified date; empty when it names neither.
    static std::string ValidatorOfReply(const std::string& headers);
    // Whether two descriptions of a file (validator as the task file keeps it: a strong entity
    // tag, else a Last-Modified date; and a Last-Modified date kept beside an entity tag) say
    // that its bytes can have changed: only validators of the same kind are compared, entity
    // tags first. A side that names none, or names only the other kind, says nothing.
    static bool ValidatorsDiffer(const std::string& storedValidator, const std::string& storedLastModified,
                                 const std::string& validator, const std::string& lastModified);
    // Whether the tasks were cut afresh (not resumed) by the last load.
    bool generatedAfresh() const { return m_generated; }

    const std::string& remotePath() const { return m_remotePath; }
    const std::string& localPath() const { return m_localPath; }
    const std::string& taskFilePath() const { return m_taskFilePath; }
    int64_t sliceSize() const { return m_sliceSize; }

    int64_t ContentLength = 0;  // length of the remote file, 0 = unknown
    // Milliseconds of downloading over all attempts: added to by the driver while a save may
    // read it on another thread.
    std::atomic<int64_t> DownloadTime{0};

private:
    // Up to `tries` probes with 100 ms between failed ones; collects "Success"/"error:%d".
    int64_t probeSize(int tries, int verbose, int& lastResult, std::string& cdnText, std::vector<std::string>* results,
                      bool fresh);
    // The task file's text; false when it is missing or unreadable, or (m_taskFileBusy) held by
    // another program without sharing after a few tries.
    bool readTaskFile(std::string& text);
    // Deletes the tasks, the partial output file and the task file.
    void discardDownload();
    // The "GetSize" event and log line of a series of size probes ("Success", "error:N"),
    // padded with "Null" to kSizeProbes entries; nothing without a tag.
    static void reportSizeProbes(const std::string& tag, std::vector<std::string> results);
    // The result of a size that could not be learnt: 13 after too many redirects, else 6.
    static EnumErrorCode sizeFailure(int lastResult);

    static constexpr size_t kSizeProbes = 10;
    // A task file held by another program is asked again this many times, this far apart.
    static constexpr int kBusyTries = 20;
    static constexpr int kBusyPauseMs = 100;
    // Far beyond kMaxTasks entries: a larger file is not a task file.
    static constexpr int64_t kMaxTaskFileSize = 64 * 1024 * 1024;

    std::string m_remotePath;
    std::string m_localPath;
    std::string m_taskFilePath;
    int64_t m_sliceSize = kDefaultSliceSize;  // 64-bit: slices of files beyond 4 GiB
    bool m_loadedTasks = false;               // the last load read at least one task
    std::vector<std::string> m_checkProbes;   // the probes of the last checkTaskInfo
    int m_checkResult = 0;                    // and the result of its last probe
    std::string m_checkCdnText;               // and the CDN text it saw
    // What the last probe that learnt the size named: its validator (sent as If-Range, so
    // only ever one the address being asked gave) and its Last-Modified date.
    std::string m_validator;
    std::string m_lastModified;
    std::string m_storedValidator;            // validator the task file names
    std::string m_storedLastModified;         // Last-Modified date it keeps beside an entity tag
    // The file the segments belong to, as the task file keeps it: the current address's
    // validators, else those stored before (an address that names none does not erase them).
    std::string m_fileValidator;
    std::string m_fileLastModified;
    bool m_generated = false;                 // generateDownloadTask cut the tasks
    bool m_taskFileBusy = false;              // the last load found the task file held
};
