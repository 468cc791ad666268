#pragma once
// A multipart/form-data POST: text fields and files, each file streamed from disk under a file
// name of the caller's choice. Used for the log archive upload.
#include <curl/curl.h>

#include <string>
#include <vector>

struct MultipartField {
    std::string name;
    std::string value;       // a text field's value
    std::wstring filePath;   // when not empty, a file field: this file's content is sent ...
    std::string fileName;    // ... under this file name
};

struct MultipartLimits {
    long connectTimeoutSeconds = 0;  // 0: libcurl's default
    // The transfer ends when fewer than one byte per second moves for this many seconds
    // (0: never); a total time limit would cut off a large upload on a slow line.
    long stallSeconds = 0;
};

// Posts the fields on the handle (which is reset first) with the given header lines; the reply
// body is appended to reply and the status goes to status (0 without a response). A file that
// cannot be opened ends the request before anything is sent, with CURLE_READ_ERROR.
CURLcode PostMultipartForm(CURL* handle, const std::string& url, const std::vector<MultipartField>& fields,
                           const std::vector<std::string>& headerLines, const MultipartLimits& limits, long& status,
                           std::string& reply);
