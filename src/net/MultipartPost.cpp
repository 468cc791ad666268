#include "net/MultipartPost.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "base/SystemProxy.h"
#include "base/TlsPolicy.h"

namespace {

// One file of the form, read through a Windows handle (so any path the system takes works,
// whatever code page libcurl would read a narrow path in).
struct FileSource {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~FileSource() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
};

size_t readFile(char* buffer, size_t size, size_t count, void* arg) {
    FileSource* source = static_cast<FileSource*>(arg);
    DWORD want = static_cast<DWORD>(std::min<size_t>(size * count, 1 << 20));
    DWORD got = 0;
    if (!ReadFile(source->file, buffer, want, &got, nullptr)) return CURL_READFUNC_ABORT;
    return got;
}

int seekFile(void* arg, curl_off_t offset, int origin) {
    FileSource* source = static_cast<FileSource*>(arg);
    LARGE_INTEGER to;
    to.QuadPart = offset;
    DWORD method = origin == SEEK_CUR ? FILE_CURRENT : origin == SEEK_END ? FILE_END : FILE_BEGIN;
    return SetFilePointerEx(source->file, to, nullptr, method) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

size_t appendReply(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

}  // namespace

CURLcode PostMultipartForm(CURL* handle, const std::string& url, const std::vector<MultipartField>& fields,
                           const std::vector<std::string>& headerLines, const MultipartLimits& limits, long& status,
                           std::string& reply) {
    status = 0;
    curl_easy_reset(handle);
    std::vector<std::unique_ptr<FileSource>> files;
    curl_mime* form = curl_mime_init(handle);
    if (form == nullptr) return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    for (const MultipartField& field : fields) {
        curl_mimepart* part = curl_mime_addpart(form);
        if (part == nullptr) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        curl_mime_name(part, field.name.c_str());
        if (field.filePath.empty()) {
            curl_mime_data(part, field.value.data(), field.value.size());
            continue;
        }
        auto source = std::make_unique<FileSource>();
        source->file = CreateFileW(field.filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER size{};
        if (source->file == INVALID_HANDLE_VALUE || !GetFileSizeEx(source->file, &size)) {
            result = CURLE_READ_ERROR;
            break;
        }
        curl_mime_data_cb(part, size.QuadPart, readFile, seekFile, nullptr, source.get());
        curl_mime_filename(part, field.fileName.c_str());
        files.push_back(std::move(source));
    }

    curl_slist* headers = nullptr;
    for (const std::string& line : headerLines) headers = curl_slist_append(headers, line.c_str());
    if (result == CURLE_OK) {
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_MIMEPOST, form);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendReply);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        TlsPolicy::Apply(handle);
        SystemProxy::Apply(handle, url);
        if (limits.connectTimeoutSeconds > 0) curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
        if (limits.stallSeconds > 0) {
            curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
        }
        result = curl_easy_perform(handle);
        TlsPolicy::LogIfRefused(handle, result);
        SystemProxy::LogIfFailed(handle, url, result);
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    }
    // The handle keeps pointers to the form and the header list until it is reset.
    curl_easy_reset(handle);
    curl_mime_free(form);
    curl_slist_free_all(headers);
    return result;
}
