#include "download/CDownloadTaskManager.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <tinyxml2.h>

#include "net/CLibcurlTool.h"
#include "net/HttpHeaders.h"
#include "analytics/CSingleUserLog.h"
#include "download/DownloadEvents.h"
#include "base/DownloadSettings.h"
#include "easylogging++.h"

namespace {

// Leading decimal digits at offset as a number (0 without any).
int64_t digitsAt(const std::string& text, size_t offset) {
    if (offset >= text.size()) return 0;
    return _strtoi64(text.c_str() + offset, nullptr, 10);
}

// A Location value may be relative ("/path" or "name"): it is resolved against the address the
// probe asked for, so the segments get an address they can request.
std::string resolveLocation(const std::string& base, const std::string& location) {
    if (location.find("://") != std::string::npos) return location;
    size_t scheme = base.find("://");
    if (scheme == std::string::npos) return location;
    size_t pathStart = base.find('/', scheme + 3);
    std::string origin = pathStart == std::string::npos ? base : base.substr(0, pathStart);
    if (!location.empty() && location[0] == '/') return origin + location;
    std::string path = pathStart == std::string::npos ? "/" : base.substr(pathStart);
    path = path.substr(0, path.find('?'));
    return origin + path.substr(0, path.rfind('/') + 1) + location;
}

// Whether a file is there, whoever holds it open: a package another process keeps open is
// still there, and so is the progress recorded for it.
bool fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t childInt64(const tinyxml2::XMLElement* e) {
    int64_t v = 0;
    if (e->QueryInt64Text(&v) != tinyxml2::XML_SUCCESS) v = 0;
    return v;
}

void addChild(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name, int64_t value) {
    tinyxml2::XMLElement* e = doc.NewElement(name);
    e->SetText(value);
    parent->InsertEndChild(e);
}

void addChild(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name, const std::string& value) {
    tinyxml2::XMLElement* e = doc.NewElement(name);
    e->SetText(value.c_str());
    parent->InsertEndChild(e);
}

}  // namespace

CDownloadTaskManager::CDownloadTaskManager(const std::string& remotePath, const std::string& localPath,
                                           const std::string& taskFilePath)
    : m_remotePath(remotePath), m_localPath(localPath), m_taskFilePath(taskFilePath) {}

CTask* CDownloadTaskManager::getTask() {
    if (m_todoTasks.empty()) return nullptr;
    CTask* task = m_todoTasks.front();
    m_todoTasks.pop_front();
    task->TaskStatus.store(TaskHandedOut);
    m_takenTasks.push_back(task);
    return task;
}

bool CDownloadTaskManager::addTodoTask(CTask* task) {
    if (!task) return false;
    m_todoTasks.push_back(task);
    return true;
}

bool CDownloadTaskManager::addDoneTask(CTask* task) {
    if (!task) return false;
    m_takenTasks.push_back(task);
    return true;
}

int64_t CDownloadTaskManager::LengthOfReply(const std::string& headers, int64_t parsedLength) {
    std::string value;
    if (HttpHeaders::Find(headers, "Content-Range", value)) {
        int64_t first = 0, last = 0, total = 0;
        if (HttpHeaders::ParseContentRange(value, first, last, total) && total > 0) return total;
        return 0;
    }
    if (parsedLength >= 0) return parsedLength;
    if (HttpHeaders::Find(headers, "Content-Length", value)) return digitsAt(value, 0);
    return 0;
}

bool CDownloadTaskManager::CdnOfReply(const std::string& headers, std::string& eventLabel, std::string& logText,
                                      std::string& cdnText) {
    eventLabel.clear();
    logText.clear();
    cdnText.clear();
    std::string cache, ray, xCache;
    const bool hasCache = HttpHeaders::Find(headers, "CF-Cache-Status", cache);
    const bool hasRay = HttpHeaders::Find(headers, "CF-RAY", ray);
    const size_t dash = hasRay ? ray.find('-') : std::string::npos;
    if (hasCache && dash != std::string::npos) {
        // Cloudflare: data centre (the ray identifier's suffix) and cache status. The cache
        // status keeps the blank that follows the header's colon in the event label.
        eventLabel = ray.substr(dash + 1) + "/ " + cache;
        logText = " " + cache + ", " + ray.substr(dash + 1);
        return true;
    }
    if (HttpHeaders::Find(headers, "X-Cache", xCache)) {
        eventLabel = logText = cdnText = xCache;
        return true;
    }
    return false;
}

std::string CDownloadTaskManager::ValidatorOfReply(const std::string& headers) {
    std::string value;
    // A weak entity tag ("W/...") may stay the same when the bytes change: not a validator.
    if (HttpHeaders::Find(headers, "ETag", value) && !value.empty() && value.compare(0, 2, "W/") != 0) return value;
    if (HttpHeaders::Find(headers, "Last-Modified", value)) return value;
    return std::string();
}

namespace {
bool isEntityTag(const std::string& validator) { return !validator.empty() && validator[0] == '"'; }
}  // namespace

bool CDownloadTaskManager::ValidatorsDiffer(const std::string& storedValidator, const std::string& storedLastModified,
                                            const std::string& validator, const std::string& lastModified) {
    const std::string storedTag = isEntityTag(storedValidator) ? storedValidator : std::string();
    const std::string storedDate = isEntityTag(storedValidator) ? storedLastModified : storedValidator;
    const std::string tag = isEntityTag(validator) ? validator : std::string();
    const std::string date = isEntityTag(validator) ? lastModified : validator;
    if (!storedTag.empty() && !tag.empty()) return storedTag != tag;
    if (!storedDate.empty() && !date.empty()) return storedDate != date;
    return false;
}

int64_t CDownloadTaskManager::getContentLength(int& resultCode, std::string& cdnText, int verbose, bool fresh) {
    cdnText.clear();
    CSingleUserLog* analytics = CSingleUserLog::GetInstance();
    if (!fresh) {
        int64_t known = analytics->GetContentLength(m_remotePath);
        if (known != 0) return known;
    }
    resultCode = 0;
    CLibcurlTool tool(curl_easy_init());
    // A final reply that still names a Location (and answers 200) is followed by another
    // probe; ten probes per call at most.
    for (int probes = 1;; ++probes) {
        LOG(INFO) << " before getContentLength GetHeader";
        std::vector<char> buffer(CLibcurlTool::kHeaderBufferSize, 0);
        long status = 0;
        CLibcurlTool::ProbeResult probe;
        resultCode = tool.httpGet(m_remotePath, buffer.data(), status, &probe);
        LOG(INFO) << " after getContentLength GetHeader";
        // Everything is read from the last reply of the redirect chain, by header name.
        const std::string& headers = probe.lastHeaders;

        std::string label, logText;
        if (CdnOfReply(headers, label, logText, cdnText)) {
            LOG(INFO) << " Cdn result:" << logText;
            DownloadEvents::Event("Download", "3.CDNStatus", label);
        }

        if (status != 200) {
            cdnText.clear();
            return 0;
        }
        // libcurl followed the redirects: its final address is the file's address.
        if (!probe.finalUrl.empty()) m_remotePath = probe.finalUrl;
        std::string location;
        if (HttpHeaders::Find(headers, "Location", location)) {
            if (probes >= 10) {
                if (verbose) LOG(INFO) << " Get Contentlength =" << 0 << ", error CURLE_TOO_MANY_REDIRECTS";
                // The probe gave up on redirects: that is the result the caller reports (13).
                resultCode = CURLE_TOO_MANY_REDIRECTS;
                cdnText.clear();
                return 0;
            }
            m_remotePath = resolveLocation(m_remotePath, location);
            continue;
        }

        const int64_t length = LengthOfReply(headers, probe.contentLength);
        if (length <= 0) return 0;
        m_validator = ValidatorOfReply(headers);
        if (!HttpHeaders::Find(headers, "Last-Modified", m_lastModified)) m_lastModified.clear();
        if (verbose) LOG(INFO) << " Get Contentlength =" << length;
        if (!m_remotePath.empty()) analytics->SetContentLength(m_remotePath, length);
        return length;
    }
}

int64_t CDownloadTaskManager::probeSize(int tries, int verbose, int& lastResult, std::string& cdnText,
                                        std::vector<std::string>* results, bool fresh) {
    int64_t length = 0;
    for (int i = 0; i < tries; ++i) {
        int result = 0;
        length = getContentLength(result, cdnText, verbose, fresh);
        lastResult = result;
        if (length > 0) {
            if (results) results->push_back("Success");
            break;
        }
        if (results) {
            char text[32];
            snprintf(text, sizeof text, "error:%d", result);
            results->push_back(text);
        }
        Sleep(100);
    }
    return length;
}

void CDownloadTaskManager::reportSizeProbes(const std::string& tag, std::vector<std::string> results) {
    while (results.size() < kSizeProbes) results.push_back("Null");
    if (tag.empty()) return;
    std::string label;
    for (size_t i = 0; i < results.size(); ++i) label += (i ? "/" : "") + results[i];
    DownloadEvents::Event("Other", "Download", label);
    LOG(INFO) << " GetSize: " << tag << ", " << label;
}

EnumErrorCode CDownloadTaskManager::sizeFailure(int lastResult) {
    LOG(INFO) << " [Error]: " << "get content length failed";
    return lastResult == CURLE_TOO_MANY_REDIRECTS ? ErrTooManyRedirects : ErrSizeUnknown;
}

EnumErrorCode CDownloadTaskManager::generateDownloadTask(const std::string& tag, int verbose) {
    std::vector<std::string> results;
    std::string cdnText;
    int lastResult = 0;
    // Asked of the server itself: a length this process learnt on an earlier attempt may be
    // stale (the file replaced since), and only a probe names the validator the segments send.
    m_validator.clear();
    m_lastModified.clear();
    const int64_t length = probeSize(kSizeProbes, verbose, lastResult, cdnText, &results, true);
    reportSizeProbes(tag, results);
    if (length <= 0) return sizeFailure(lastResult);
    m_fileValidator = m_validator;
    m_fileLastModified = m_lastModified;

    ContentLength = length;
    m_generated = true;
    const DownloadSettings& settings = GetDownloadSettings();
    int64_t count = 0;
    if (settings.Slice_num > 0) {
        count = settings.Slice_num > kMaxTasks ? kMaxTasks : settings.Slice_num;
        // More slices than bytes would give empty slices: one byte per slice then.
        if (count > length) count = length;
        m_sliceSize = length / count;
    } else {
        m_sliceSize = settings.Slice_size > 0 ? settings.Slice_size : kDefaultSliceSize;
        // A slice size far too small for the file (given in KiB by mistake, say) would make a
        // task and a task-file entry of every few bytes: the slices grow instead.
        if (length / m_sliceSize > kMaxTasks) m_sliceSize = (length + kMaxTasks - 1) / kMaxTasks;
        count = length / m_sliceSize;
    }
    if (count == 0) count = 1;

    for (int64_t i = 1; i <= count; ++i) {
        CTask* task = new CTask;
        task->StartPos = (i - 1) * m_sliceSize;
        task->DownloadedPos = task->StartPos;
        task->EndPos = i == count ? length : i * m_sliceSize - 1;
        task->TaskStatus = TaskNew;
        task->TaskId = static_cast<int32_t>(i);
        task->RemotePath = m_remotePath;
        task->LocalPath = m_localPath;
        task->ContentLength = length;
        task->RequestTimes = 0;
        task->HeadCdnInfo = cdnText;
        task->Validator = m_validator;
        task->Verbose = verbose;
        addTask(task);
    }
    TasksCount = static_cast<int32_t>(count);
    if (verbose)
        LOG(INFO) << " Tasks info, generate ok, total " << m_allTasks.size() << ", todo " << m_todoTasks.size()
                  << ", complete " << m_takenTasks.size();
    return ErrSuccess;
}

bool CDownloadTaskManager::readTaskFile(std::string& text) {
    // Any sharing: a reader, a writer or a rename of ours never locks the file for the others.
    // Another program that holds it without sharing (an antivirus scan, a backup) does for a
    // while: the file is not damaged then, only busy; it is asked again, and a file still held
    // after that is reported busy, never read as unusable.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int tries = 0;; ++tries) {
        file = CreateFileA(m_taskFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return false;
        if (tries >= kBusyTries) {
            LOG(INFO) << " task file busy, error " << error << ": " << m_taskFilePath;
            m_taskFileBusy = true;
            return false;
        }
        Sleep(kBusyPauseMs);
    }
    LARGE_INTEGER size{};
    bool read = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart <= kMaxTaskFileSize;
    if (read) {
        text.resize(static_cast<size_t>(size.QuadPart));
        DWORD done = 0;
        read = text.empty() || (ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &done, nullptr) &&
                                done == text.size());
    }
    CloseHandle(file);
    return read;
}

bool CDownloadTaskManager::loadTaskFromFile(int verbose) {
    m_loadedTasks = false;
    m_storedValidator.clear();
    m_storedLastModified.clear();
    m_taskFileBusy = false;
    std::string text;
    if (!readTaskFile(text)) return false;
    tinyxml2::XMLDocument doc;
    const tinyxml2::XMLError parsed = doc.Parse(text.data(), text.size());
    const tinyxml2::XMLElement* root = parsed == tinyxml2::XML_SUCCESS ? doc.FirstChildElement() : nullptr;
    if (!root) return false;

    CSingleUserLog* analytics = CSingleUserLog::GetInstance();
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string name = e->Name();
        if (name == "TasksCount") TasksCount = static_cast<int32_t>(childInt64(e));
        else if (name == "ContentLength") ContentLength = childInt64(e);
        else if (name == "DownloadTime") DownloadTime = childInt64(e);
        else if (name == "Validator") m_storedValidator = e->GetText() ? e->GetText() : "";
        else if (name == "LastModified") m_storedLastModified = e->GetText() ? e->GetText() : "";
        else if (name == "Task") {
            CTask* task = new CTask;
            for (const tinyxml2::XMLElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
                const std::string field = c->Name();
                const char* text = c->GetText();
                if (field == "StartPos") task->StartPos = childInt64(c);
                else if (field == "EndPos") task->EndPos = childInt64(c);
                else if (field == "DownloadedPos") task->DownloadedPos = childInt64(c);
                else if (field == "RemotePath") {
                    task->RemotePath = text ? text : "";
                    if (ContentLength != 0) analytics->SetContentLength(task->RemotePath, ContentLength);
                } else if (field == "LocalPath") task->LocalPath = text ? text : "";
                else if (field == "TaskStatus") task->TaskStatus = static_cast<int32_t>(childInt64(c));
                else if (field == "TaskId") task->TaskId = static_cast<int32_t>(childInt64(c));
            }
            task->RequestTimes = 0;
            // A segment is complete only with its whole position: one saved as complete with a
            // short position is work still to do.
            if (task->TaskStatus.load() == TaskComplete && task->DownloadedPos != task->EndPos)
                task->TaskStatus = TaskNew;
            if (task->ContentLength == 0 && ContentLength != 0) task->ContentLength = ContentLength;
            task->Verbose = verbose;
            addTask(task);
            m_loadedTasks = true;
        }
    }
    m_fileValidator = m_storedValidator;
    m_fileLastModified = m_storedLastModified;
    // The file does not keep the slice size: it is the length of the first of several
    // segments, so a file cut with any slice size passes the layout check.
    if (m_allTasks.size() > 1) m_sliceSize = m_allTasks[0]->EndPos - m_allTasks[0]->StartPos + 1;
    if (verbose)
        LOG(INFO) << " Tasks info, load ok, total " << m_allTasks.size() << ", todo " << m_todoTasks.size()
                  << ", complete " << m_takenTasks.size();
    return true;
}

int CDownloadTaskManager::checkTaskInfo(int verbose) {
    // The size is asked of the server itself, not of what this process learnt before: a file
    // that changed on the server must not be resumed. A probe that cannot learn the size says
    // nothing about the file, which is then kept for a later attempt.
    std::string cdnText;
    m_checkProbes.clear();
    m_checkResult = 0;
    m_validator.clear();
    m_lastModified.clear();
    const int64_t length = probeSize(kSizeProbes, verbose, m_checkResult, cdnText, &m_checkProbes, true);
    m_checkCdnText = cdnText;
    // The same size is not enough: a file replaced on the server by another of the same size
    // shows another validator of the same kind. An address that names none (another mirror of
    // the same file, say) leaves the size, and Last-Modified where both name one, to decide.
    if (length == ContentLength &&
        ValidatorsDiffer(m_storedValidator, m_storedLastModified, m_validator, m_lastModified)) {
        LOG(INFO) << " remote file changed: " << m_storedValidator << " " << m_storedLastModified << " != "
                  << m_validator << " " << m_lastModified;
        DownloadEvents::Flow("DL025");
        return CheckSizeChanged;
    }
    if (length <= 0) return CheckSizeUnknown;
    if (length != ContentLength) {
        DownloadEvents::Flow("DL025");
        return CheckSizeChanged;
    }
    int64_t expectedStart = 0;
    bool progress = false;
    bool fits = !m_allTasks.empty();
    for (const auto& task : m_allTasks) {
        const int64_t start = task->StartPos;
        const int64_t downloaded = task->DownloadedPos;
        if (start != (int64_t(task->TaskId.load()) - 1) * m_sliceSize || start != expectedStart ||
            task->EndPos < start || downloaded < start || downloaded > task->EndPos) {
            fits = false;
            break;
        }
        progress = progress || downloaded > start;
        expectedStart = task->EndPos + 1;
    }
    // Progress recorded for an output file that is gone would count missing bytes as done.
    if (fits && (expectedStart != ContentLength + 1 || (progress && !fileExists(m_localPath)))) fits = false;
    if (!fits) {
        DownloadEvents::Flow("DL026");
        return CheckInconsistent;
    }
    return CheckUsable;
}

void CDownloadTaskManager::discardDownload() {
    clearTasks();
    DeleteFileA(m_localPath.c_str());
    DeleteFileA(m_taskFilePath.c_str());
    ContentLength = 0;
    DownloadTime = 0;
}

EnumErrorCode CDownloadTaskManager::loadDownloadTask(const std::string& tag, int verbose) {
    if (fileExists(m_taskFilePath)) {
        int check = CheckInconsistent;
        if (loadTaskFromFile(verbose)) {
            check = checkTaskInfo(verbose);
        } else if (m_taskFileBusy) {
            // Held by another program: the partial package and its progress stay for the next
            // attempt, which finds the file free again.
            clearTasks();
            return ErrOpenFile;
        } else {
            // Not well-formed, or no root element: as unusable as an inconsistent file.
            DownloadEvents::Flow("DL026");
        }
        if (check == CheckUsable) {
            // The segments are asked of the address that was just probed (and its final address
            // after redirects), not of the one stored when the tasks were cut: a signed link
            // that has expired, or a configuration that now names another address for the same
            // file, must not fail every request of every attempt.
            // If-Range carries only what this address's probe named: a validator of another
            // address (or of the task file) would turn every answer of a correct server into
            // the whole file, which is refused.
            for (const auto& task : m_allTasks) {
                task->RemotePath = m_remotePath;
                task->HeadCdnInfo = m_checkCdnText;
                task->Validator = m_validator;
            }
            const bool tagNow = isEntityTag(m_validator);
            if (!m_validator.empty() && (tagNow || !isEntityTag(m_fileValidator))) m_fileValidator = m_validator;
            if (!m_lastModified.empty()) m_fileLastModified = m_lastModified;
            LOG(INFO) << " Load tasks from file success!";
            if (m_loadedTasks) DownloadEvents::Funnel("Download", "ResumUpload");
            return ErrSuccess;
        }
        if (check == CheckSizeUnknown) {
            // The server did not answer the size: nothing is known about the file, so the
            // partial download and its task file stay exactly as they are for the next attempt.
            reportSizeProbes(tag, m_checkProbes);
            clearTasks();
            return sizeFailure(m_checkResult);
        }
        LOG(INFO) << " taskinfo file error";
        discardDownload();
    }
    return generateDownloadTask(tag, verbose);
}

namespace {
std::function<void(CTask&)>& SaveReadHook() {
    static std::function<void(CTask&)> hook;
    return hook;
}
}  // namespace

void CDownloadTaskManager::SetSaveReadHook(std::function<void(CTask&)> hook) { SaveReadHook() = std::move(hook); }

void CDownloadTaskManager::saveTaskToFile(const std::function<bool()>& flushPackage) {
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* root = doc.NewElement("TaskInfo");
    doc.InsertEndChild(root);
    addChild(doc, root, "TasksCount", int64_t(TasksCount));
    addChild(doc, root, "ContentLength", ContentLength);
    addChild(doc, root, "DownloadTime", DownloadTime.load());
    // The validator of the file the segments belong to, when a server named one; beside an
    // entity tag, the file's Last-Modified date, so that an address that names only the date
    // can still be compared.
    if (!m_fileValidator.empty()) addChild(doc, root, "Validator", m_fileValidator);
    if (isEntityTag(m_fileValidator) && !m_fileLastModified.empty())
        addChild(doc, root, "LastModified", m_fileLastModified);
    for (const auto& task : m_allTasks) {
        // Status first, then position: a worker publishes the last position of its segment
        // before it marks the segment complete, so a status read as complete comes with the
        // segment's whole position. A segment that finishes between the two reads is saved as
        // not yet complete, which costs at most a repeated request, never a missing byte.
        const int32_t status = task->TaskStatus.load();
        if (SaveReadHook()) SaveReadHook()(*task);
        const int64_t downloaded = task->DownloadedPos.load();
        tinyxml2::XMLElement* e = doc.NewElement("Task");
        root->InsertEndChild(e);
        addChild(doc, e, "StartPos", task->StartPos);
        addChild(doc, e, "EndPos", task->EndPos);
        addChild(doc, e, "DownloadedPos", downloaded);
        addChild(doc, e, "RemotePath", task->RemotePath);
        addChild(doc, e, "LocalPath", task->LocalPath);
        addChild(doc, e, "TaskStatus", int64_t(status));
        addChild(doc, e, "TaskId", int64_t(task->TaskId.load()));
        addChild(doc, e, "RequestTimes", int64_t(task->RequestTimes.load()));
    }
    // The bytes the file describes reach the disk before the file that claims them does.
    if (flushPackage && !flushPackage()) return;
    // Written beside the task file and then put in its place, so a process that ends in the
    // middle of the write leaves the previous file, never half of one.
    const std::string temporary = m_taskFilePath + ".tmp";
    FILE* file = fopen(temporary.c_str(), "w");
    if (!file) return;
    bool written = doc.SaveFile(file, false) == tinyxml2::XML_SUCCESS;
    // On the disk before the rename that puts it in place: after a crash of the system the
    // name never points at an empty or half-written file.
    written = written && fflush(file) == 0 &&
              FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
    const bool closed = fclose(file) == 0;
    if (!written || !closed ||
        !MoveFileExA(temporary.c_str(), m_taskFilePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(temporary.c_str());
}
