// The local services: every endpoint the setup talks to, a request recorder and
// fault injection, behind one request handler shared by all listeners.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "json.h"

struct ServiceOptions {
    std::string root;         // folder served under /download/
    std::string recordPath;   // JSON lines file, empty = none
    std::string configPath;   // configuration reply: Name=value lines or a Downloader XML template
    std::string package;      // package file name under root; empty = first *.exe found
    std::string salt = "pvdkwTN38mgo5QX7";  // data-service signing salt
    std::string bannerDir;    // /banners/N.png served from DIR/N.png where present; empty = drawn patterns
};

// A fault rule as given to the control API, with its own counters.
struct FaultRule {
    json::Value spec;
    std::string path;    // prefix of the request path; empty matches every path
    std::string method;  // empty matches every method
    int64_t skip = 0;    // matching requests let through before the rule applies
    int64_t times = -1;  // matching requests the rule applies to; -1 = no limit
    int64_t seen = 0;
    int64_t applied = 0;
};

// Effect of all rules that apply to one request.
struct Fault {
    int status = 0;
    int64_t delayMs = 0;
    int64_t stallMs = 0;
    int64_t throttle = 0;      // bytes per second
    int64_t dropAfter = -1;    // close the connection after this many body bytes
    int64_t resetAfter = -1;   // reset the connection after this many body bytes
    bool ignoreRange = false;  // answer a ranged request with 200 and the whole body
    int64_t rangeTotal = -1;   // total reported in Content-Range instead of the real one
    int64_t sizeDelta = 0;     // the package appears this many bytes longer (zeros) or shorter
    bool changeContent = false;
    bool garbageHeaders = false;
    bool endless = false;
    int64_t shortRange = 0;    // a single-range reply ends this many bytes early; Content-Range names what is sent
    bool shortBody = false;    // a single-range reply names the whole range but its chunked body ends a byte early
    bool redirectLoop = false;
    std::string location;      // answer 302 to this address
    std::string cdn;           // data-centre code for CF-RAY, e.g. "FRA"
    std::string cdnCache = "HIT";
    bool hasBody = false;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::string> names;  // rule effects applied, for the record
    uint64_t changeSeq = 0;            // request number that picks the changed content
};

class Services {
public:
    explicit Services(ServiceOptions opts);
    ~Services();

    bool openRecord(std::string &error);
    void setPorts(int httpPort, int httpsPort) { httpPort_ = httpPort; httpsPort_ = httpsPort; }

    // Registers the handlers on one listener; listener names the record field.
    void attach(httplib::Server &server, const std::string &listener);

private:
    ServiceOptions opts_;
    int httpPort_ = 0;
    int httpsPort_ = 0;

    std::mutex mu_;
    FILE *recordFile_ = nullptr;
    std::vector<json::Value> records_;
    uint64_t seq_ = 0;
    std::vector<FaultRule> rules_;
    std::map<std::string, std::string> configOverrides_;
    std::map<std::string, uint64_t> changeCounters_;

    // The digest of the last package asked for, kept while the file is the same one: same inode,
    // size and change times to the nanosecond. A copy that keeps the source's modification time
    // (as CopyFileW does) still changes the inode's change time, so a package replaced by another
    // of the same size within one second is hashed again.
    struct Md5Cache {
        std::string path;
        int64_t size = -1, inode = -1, mtimeNs = 0, ctimeNs = 0;
        std::string md5;
    };
    Md5Cache md5Cache_;

    void handle(const httplib::Request &req, httplib::Response &res, const std::string &listener);
    void record(const httplib::Request &req, const std::string &listener, const Fault &fault,
                const json::Value &checks);
    Fault resolveFaults(const std::string &method, const std::string &path);

    // Control API.
    void control(const httplib::Request &req, httplib::Response &res);

    // Endpoints.
    void serveDownload(const httplib::Request &req, httplib::Response &res, const std::string &file,
                       Fault &fault);
    void serveConfig(const httplib::Request &req, httplib::Response &res, Fault &fault);
    std::string configReply(const httplib::Request &req);
    void serveData(const httplib::Request &req, httplib::Response &res, Fault &fault,
                   const json::Value &checks);

    std::string packageName();
    std::string packageMd5(const std::string &path);
    std::string baseUrl(bool https) const;
    std::string expand(const std::string &text) const;
};

// Helpers shared with the tests of this folder.
std::string md5Hex(const std::string &data);
std::string base64(const std::string &data);
// The data-service signature check: "ok", "mismatch" or "malformed: ...".
std::string checkSignedQuery(const std::string &path, const std::string &rawQuery,
                             const std::string &salt);
