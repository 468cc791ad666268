#include "services.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using httplib::Request;
using httplib::Response;
using httplib::Server;

namespace {

const char *kLanguageCodes[] = {"en", "ja", "zh-cn", "es", "de", "fr", "ru", "pt", "ar", "it", "zh-tw",
                                "ko", "nl", "id",    "tr", "hi", "th", "my", "se", "cz", "vi"};

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string isoTime(int64_t ms) {
    time_t s = time_t(ms / 1000);
    struct tm tm;
    gmtime_r(&s, &tm);
    char buf[80];
    snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms % 1000));
    return buf;
}

bool startsWith(const std::string &s, const std::string &p) { return s.compare(0, p.size(), p) == 0; }

std::string rawQuery(const Request &req) {
    size_t q = req.target.find('?');
    return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

// Printable UTF-8 text goes into records as is; anything else as base64.
bool isPlainText(const std::string &s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f) return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        int n = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (n < 0 || i + size_t(n) >= s.size()) return false;
        for (int k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += size_t(n) + 1;
    }
    return true;
}

std::string xmlEscape(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string replaceAll(std::string s, const std::string &from, const std::string &to) {
    for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
    return s;
}

std::string trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

bool readFile(const std::string &path, std::string &out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    out.clear();
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return true;
}

// Finds the descriptor of this process's TCP connection with the given local and
// peer ports, so that a fault can break that connection from inside a handler.
int findConnectionFd(int localPort, int remotePort) {
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    int found = -1;
    while (dirent *e = readdir(d)) {
        int fd = atoi(e->d_name);
        if (fd <= 2) continue;
        sockaddr_in local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &ll) != 0 || local.sin_family != AF_INET)
            continue;
        if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &pl) != 0) continue;
        if (ntohs(local.sin_port) == localPort && ntohs(peer.sin_port) == remotePort) {
            found = fd;
            break;
        }
    }
    closedir(d);
    return found;
}

// Aborts a TCP connection so the peer sees a reset. Disconnecting with an
// AF_UNSPEC address makes the kernel send RST while the descriptor stays valid
// for the HTTP layer, which closes it as usual afterwards.
void resetConnection(int localPort, int remotePort) {
    int fd = findConnectionFd(localPort, remotePort);
    if (fd < 0) return;
    // Give the bytes already written a moment to reach the client, so the
    // reset lands in the middle of the body rather than wiping it out.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    sockaddr sa{};
    sa.sa_family = AF_UNSPEC;
    connect(fd, &sa, sizeof sa);
}

// ---- Bodies ---------------------------------------------------------------------

// A response body made of text pieces and slices of a file. Bytes of a slice
// that lie past the end of the real file read as zeros (used to make a file look
// longer than it is); xorKey changes every file byte (a file that changed).
struct BodyPlan {
    struct Piece {
        bool fromFile = false;
        std::string text;
        int64_t offset = 0;
        int64_t length = 0;
    };
    std::vector<Piece> pieces;
    int fd = -1;
    unsigned char xorKey = 0;

    ~BodyPlan() {
        if (fd >= 0) close(fd);
    }
    int64_t total() const {
        int64_t t = 0;
        for (const auto &p : pieces) t += p.fromFile ? p.length : int64_t(p.text.size());
        return t;
    }
    void addText(std::string s) {
        Piece p;
        p.text = std::move(s);
        pieces.push_back(std::move(p));
    }
    void addFile(int64_t offset, int64_t length) {
        Piece p;
        p.fromFile = true;
        p.offset = offset;
        p.length = length;
        pieces.push_back(std::move(p));
    }
    // Copies up to n bytes at body offset pos into buf; returns the count.
    size_t read(int64_t pos, char *buf, size_t n) const {
        size_t done = 0;
        int64_t base = 0;
        for (const auto &p : pieces) {
            int64_t len = p.fromFile ? p.length : int64_t(p.text.size());
            if (pos < base + len && done < n) {
                int64_t in = pos - base;
                size_t take = size_t(std::min<int64_t>(len - in, int64_t(n - done)));
                if (p.fromFile) {
                    ssize_t got = pread(fd, buf + done, take, off_t(p.offset + in));
                    if (got < 0) got = 0;
                    if (size_t(got) < take) memset(buf + done + got, 0, take - size_t(got));
                    if (xorKey)
                        for (size_t k = 0; k < take; ++k) buf[done + k] = char(buf[done + k] ^ xorKey);
                } else {
                    memcpy(buf + done, p.text.data() + in, take);
                }
                done += take;
                pos += int64_t(take);
            }
            base += len;
        }
        return done;
    }
};

// Sends the body through the HTTP layer's content provider so that the
// streaming faults (stall, throttle, drop, reset, endless) apply to any reply.
void streamBody(Response &res, std::shared_ptr<BodyPlan> plan, const std::string &contentType,
                const Fault &fault, int localPort, int remotePort) {
    struct State {
        bool started = false;
        std::chrono::steady_clock::time_point start;
        int64_t sent = 0;
    };
    auto state = std::make_shared<State>();
    Fault f = fault;

    auto pace = [f, state](size_t want) -> size_t {
        if (!state->started) {
            state->started = true;
            if (f.stallMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(f.stallMs));
            state->start = std::chrono::steady_clock::now();
        }
        size_t chunk = std::min<size_t>(want, 64 * 1024);
        if (f.throttle > 0) {
            chunk = std::min<size_t>(chunk, size_t(std::max<int64_t>(1, f.throttle / 20)));
            auto due = state->start + std::chrono::microseconds(state->sent * 1000000 / f.throttle);
            std::this_thread::sleep_until(due);
        }
        return chunk;
    };

    if (f.shortBody) {
        // No Content-Length: the body ends, cleanly, where the plan ends.
        res.set_chunked_content_provider(contentType, [plan, pace](size_t offset, httplib::DataSink &sink) {
            const int64_t left = plan->total() - int64_t(offset);
            if (left <= 0) {
                sink.done();
                return true;
            }
            std::vector<char> buf(pace(size_t(left)));
            size_t got = plan->read(int64_t(offset), buf.data(), buf.size());
            return got > 0 && sink.write(buf.data(), got);
        });
        return;
    }

    if (f.endless) {
        res.set_chunked_content_provider(contentType, [pace, state](size_t, httplib::DataSink &sink) {
            std::string block(64 * 1024, 'E');
            size_t n = pace(block.size());
            if (!sink.write(block.data(), n)) return false;
            state->sent += int64_t(n);
            return true;
        });
        return;
    }

    int64_t total = plan->total();
    res.set_content_provider(
        size_t(total), contentType,
        [plan, f, state, pace, localPort, remotePort](size_t offset, size_t length, httplib::DataSink &sink) {
            size_t n = pace(length);
            if (f.dropAfter >= 0) {
                int64_t allowed = f.dropAfter - int64_t(offset);
                if (allowed <= 0) return false;  // the HTTP layer closes the connection
                n = std::min<size_t>(n, size_t(allowed));
            }
            if (f.resetAfter >= 0) {
                int64_t allowed = f.resetAfter - int64_t(offset);
                if (allowed <= 0) {
                    resetConnection(localPort, remotePort);
                    return false;
                }
                n = std::min<size_t>(n, size_t(allowed));
            }
            std::vector<char> buf(n);
            size_t got = plan->read(int64_t(offset), buf.data(), n);
            if (got == 0) return false;
            if (!sink.write(buf.data(), got)) return false;
            state->sent += int64_t(got);
            return true;
        });
}

void reply(Response &res, int status, const std::string &body, const std::string &contentType,
           const Fault &fault, const Request &req) {
    res.status = status;
    auto plan = std::make_shared<BodyPlan>();
    plan->addText(body);
    if (body.empty() && !fault.endless) {
        res.set_content("", contentType);
        return;
    }
    streamBody(res, plan, contentType, fault, req.local_port, req.remote_port);
}

// ---- Ranges ----------------------------------------------------------------------

enum class RangeResult { None, Ok, Unsatisfiable };

// Parses "bytes=a-b,c-,-n" against a body of total bytes. Ends past the last
// byte are cut to the last byte (a client may ask one byte too far and gets the
// bytes up to the end). A range that starts past the end, an empty suffix or an
// inverted range makes the whole header unsatisfiable.
RangeResult parseRanges(const std::string &header, int64_t total, std::vector<std::pair<int64_t, int64_t>> &out) {
    std::string h = trim(header);
    if (h.empty()) return RangeResult::None;
    if (!startsWith(h, "bytes=")) return RangeResult::Unsatisfiable;
    std::string list = h.substr(6);
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        std::string spec = trim(list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        size_t dash = spec.find('-');
        if (dash == std::string::npos) return RangeResult::Unsatisfiable;
        std::string a = trim(spec.substr(0, dash)), b = trim(spec.substr(dash + 1));
        auto digits = [](const std::string &s) {
            return !s.empty() && s.size() < 19 && std::all_of(s.begin(), s.end(), ::isdigit);
        };
        int64_t first, last;
        if (a.empty()) {
            if (!digits(b)) return RangeResult::Unsatisfiable;
            int64_t n = std::stoll(b);
            if (n == 0 || total == 0) return RangeResult::Unsatisfiable;
            first = std::max<int64_t>(0, total - n);
            last = total - 1;
        } else {
            if (!digits(a) || (!b.empty() && !digits(b))) return RangeResult::Unsatisfiable;
            first = std::stoll(a);
            last = b.empty() ? total - 1 : std::stoll(b);
            if (last < first || first >= total) return RangeResult::Unsatisfiable;
            last = std::min(last, total - 1);
        }
        out.emplace_back(first, last);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return out.empty() ? RangeResult::Unsatisfiable : RangeResult::Ok;
}

// ---- Images ----------------------------------------------------------------------

void pngChunk(std::string &out, const char *type, const std::string &data) {
    uint32_t len = htonl(uint32_t(data.size()));
    out.append(reinterpret_cast<const char *>(&len), 4);
    std::string td = std::string(type, 4) + data;
    out += td;
    uint32_t crc = htonl(uint32_t(crc32(0, reinterpret_cast<const Bytef *>(td.data()), uInt(td.size()))));
    out.append(reinterpret_cast<const char *>(&crc), 4);
}

// A banner picture: 650 x 300 RGB with a colour and stripe pattern that differ by
// number, so a person can tell the banners apart on a screenshot.
std::string bannerPng(int n) {
    const int w = 650, h = 300;
    static const unsigned char colours[][3] = {{0x2d, 0x6c, 0xdf}, {0x1f, 0xa2, 0x6b}, {0xe0, 0x7a, 0x1f},
                                               {0x9b, 0x3d, 0xc4}, {0xd6, 0x33, 0x4f}, {0x3a, 0x3a, 0x3a}};
    const unsigned char *c = colours[(n > 0 ? n - 1 : 5) % 6];
    std::string raw;
    raw.reserve(size_t(h) * (w * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw += char(0);  // filter: none
        for (int x = 0; x < w; ++x) {
            bool stripe = ((x + y) / 25) % (n + 1) == 0;
            for (int k = 0; k < 3; ++k) raw += char(stripe ? 255 - (255 - c[k]) / 3 : c[k]);
        }
    }
    uLongf zlen = compressBound(uLong(raw.size()));
    std::string z(zlen, '\0');
    compress2(reinterpret_cast<Bytef *>(&z[0]), &zlen, reinterpret_cast<const Bytef *>(raw.data()),
              uLong(raw.size()), 6);
    z.resize(zlen);
    std::string out("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    uint32_t bw = htonl(w), bh = htonl(h);
    ihdr.append(reinterpret_cast<const char *>(&bw), 4);
    ihdr.append(reinterpret_cast<const char *>(&bh), 4);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    pngChunk(out, "IHDR", ihdr);
    pngChunk(out, "IDAT", z);
    pngChunk(out, "IEND", "");
    return out;
}

}  // namespace

// ---- Helpers shared with tests -----------------------------------------------------

std::string md5Hex(const std::string &data) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), d, &n, EVP_md5(), nullptr);
    static const char *hex = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < n; ++i) {
        out += hex[d[i] >> 4];
        out += hex[d[i] & 15];
    }
    return out;
}

std::string base64(const std::string &data) {
    static const char *t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t v = (uint32_t(uint8_t(data[i])) << 16) | (uint32_t(uint8_t(data[i + 1])) << 8) | uint8_t(data[i + 2]);
        out += t[v >> 18];
        out += t[(v >> 12) & 63];
        out += t[(v >> 6) & 63];
        out += t[v & 63];
    }
    if (i < data.size()) {
        uint32_t v = uint32_t(uint8_t(data[i])) << 16;
        if (i + 1 < data.size()) v |= uint32_t(uint8_t(data[i + 1])) << 8;
        out += t[v >> 18];
        out += t[(v >> 12) & 63];
        out += i + 1 < data.size() ? t[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// The data service signs a query by its text up to (not including) "&verify=",
// followed by the salt; "verify" must be the MD5 of that, in lower-case hex, and
// the members must come in the fixed order with a decimal timestamp.
std::string checkSignedQuery(const std::string &path, const std::string &rawQuery, const std::string &salt) {
    size_t v = rawQuery.find("&verify=");
    if (v == std::string::npos) return "malformed: no verify";
    std::string signedText = rawQuery.substr(0, v);
    std::string verify = rawQuery.substr(v + 8);
    std::vector<std::string> keys;
    std::map<std::string, std::string> values;
    size_t pos = 0;
    while (pos <= signedText.size()) {
        size_t amp = signedText.find('&', pos);
        std::string kv = signedText.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        size_t eq = kv.find('=');
        if (eq == std::string::npos) return "malformed: member without value";
        keys.push_back(kv.substr(0, eq));
        values[kv.substr(0, eq)] = kv.substr(eq + 1);
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    std::vector<std::string> expected =
        path == "/api/v1/banners" ? std::vector<std::string>{"lang_code", "parent_pid", "timestamp", "type"}
                                  : std::vector<std::string>{"parent_pid", "timestamp"};
    if (keys != expected) return "malformed: members or their order";
    const std::string &ts = values["timestamp"];
    if (ts.empty() || !std::all_of(ts.begin(), ts.end(), ::isdigit)) return "malformed: timestamp";
    const std::string &pid = values["parent_pid"];
    if (pid.empty() || !std::all_of(pid.begin() + (pid[0] == '-' ? 1 : 0), pid.end(), ::isdigit))
        return "malformed: parent_pid";
    if (values.count("type") && values["type"] != "1") return "malformed: type";
    return verify == md5Hex(signedText + salt) ? "ok" : "mismatch";
}

// ---- Services ------------------------------------------------------------------------

Services::Services(ServiceOptions opts) : opts_(std::move(opts)) {}

Services::~Services() {
    if (recordFile_) fclose(recordFile_);
}

bool Services::openRecord(std::string &error) {
    if (opts_.recordPath.empty()) return true;
    recordFile_ = fopen(opts_.recordPath.c_str(), "a");
    if (!recordFile_) error = "cannot open " + opts_.recordPath + ": " + strerror(errno);
    return recordFile_ != nullptr;
}

std::string Services::baseUrl(bool https) const {
    return (https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(https ? httpsPort_ : httpPort_);
}

std::string Services::expand(const std::string &text) const {
    std::string s = replaceAll(text, "${HTTP}", baseUrl(false));
    return replaceAll(s, "${HTTPS}", baseUrl(true));
}

void Services::attach(httplib::Server &server, const std::string &listener) {
    auto h = [this, listener](const Request &req, Response &res) { handle(req, res, listener); };
    server.Get(".*", h);
    server.Post(".*", h);
    server.Put(".*", h);
    server.Delete(".*", h);
    server.Patch(".*", h);
    server.Options(".*", h);
    // The HTTP layer answers a Range header it cannot parse with a bare 416
    // before routing; hand such requests to the handler so they are recorded
    // and answered with the Content-Range of an unsatisfiable range.
    server.set_error_handler(Server::HandlerWithResponse([this, listener](const Request &req, Response &res) {
        if (res.status != 416 || req.has_header("X-Local-Services-Recorded")) return Server::HandlerResponse::Unhandled;
        res.status = -1;
        handle(req, res, listener);
        return Server::HandlerResponse::Handled;
    }));
    // Other requests that the HTTP layer answers itself (an unknown method, a
    // POST without a length) never reach the handler; record them here.
    server.set_logger([this, listener](const Request &req, const Response &res) {
        if (req.has_header("X-Local-Services-Recorded")) return;
        if (startsWith(req.path, "/__control")) return;
        Fault none;
        json::Value checks = json::Value::object();
        checks.set("answered_by_http_layer", res.status);
        record(req, listener, none, checks);
    });
    // SO_REUSEADDR only: the HTTP layer's default also sets SO_REUSEPORT, which
    // would let a second instance share the port silently instead of failing.
    server.set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Replies go out at once: a reply written in two parts (headers, then body) would otherwise
    // wait for the client's delayed acknowledgement, about 40 ms on a kept-alive connection.
    // Accepted sockets take the option from the listening one.
    server.set_tcp_nodelay(true);
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_keep_alive_max_count(1000);
    server.set_read_timeout(30);
    server.set_write_timeout(30);
}

void Services::record(const Request &req, const std::string &listener, const Fault &fault,
                      const json::Value &checks) {
    int64_t ms = nowMs();
    json::Value r = json::Value::object();
    r.set("listener", listener);
    r.set("method", req.method);
    r.set("path", req.path);
    r.set("query", rawQuery(req));
    json::Value headers = json::Value::object();
    for (const auto &h : req.headers) {
        if (h.first == "X-Local-Services-Recorded" || h.first == "REMOTE_ADDR" || h.first == "REMOTE_PORT" ||
            h.first == "LOCAL_ADDR" || h.first == "LOCAL_PORT")
            continue;
        const json::Value *old = headers.find(h.first);
        headers.set(h.first, old ? old->asString() + ", " + h.second : h.second);
    }
    r.set("headers", headers);
    bool text = isPlainText(req.body);
    r.set("body", text ? req.body : base64(req.body));
    r.set("body_encoding", text ? "text" : "base64");
    r.set("body_size", int64_t(req.body.size()));
    if (!req.files.empty()) {
        json::Value form = json::Value::array();
        for (const auto &f : req.files) {
            json::Value e = json::Value::object();
            e.set("name", f.second.name);
            e.set("filename", f.second.filename);
            e.set("content_type", f.second.content_type);
            e.set("size", int64_t(f.second.content.size()));
            bool t = f.second.filename.empty() && isPlainText(f.second.content);
            e.set(t ? "value" : "content_base64", t ? f.second.content : base64(f.second.content));
            form.push(std::move(e));
        }
        r.set("form", form);
    }
    if (!fault.names.empty()) {
        json::Value names = json::Value::array();
        for (const auto &n : fault.names) names.push(n);
        r.set("faults", names);
    }
    if (checks.isObject() && checks.size() > 0) r.set("checks", checks);
    r.set("time", isoTime(ms));
    r.set("time_ms", ms);

    std::lock_guard<std::mutex> lock(mu_);
    r.set("seq", int64_t(++seq_));
    if (recordFile_) {
        std::string line = r.dump() + "\n";
        fwrite(line.data(), 1, line.size(), recordFile_);
        fflush(recordFile_);
    }
    records_.push_back(std::move(r));
}

Fault Services::resolveFaults(const std::string &method, const std::string &path) {
    Fault f;
    std::lock_guard<std::mutex> lock(mu_);
    for (auto &rule : rules_) {
        if (!rule.path.empty() && !startsWith(path, rule.path)) continue;
        if (!rule.method.empty() && rule.method != method) continue;
        int64_t n = ++rule.seen;
        if (n <= rule.skip) continue;
        if (rule.times >= 0 && n > rule.skip + rule.times) continue;
        ++rule.applied;
        const json::Value &s = rule.spec;
        for (const auto &m : s.members()) {
            const std::string &k = m.first;
            const json::Value &v = m.second;
            bool effect = true;
            if (k == "status") f.status = int(v.asInt());
            else if (k == "delay_ms") f.delayMs = v.asInt();
            else if (k == "stall_ms") f.stallMs = v.asInt();
            else if (k == "throttle") f.throttle = v.asInt();
            else if (k == "drop_after") f.dropAfter = v.asInt();
            else if (k == "reset_after") f.resetAfter = v.asInt();
            else if (k == "ignore_range") f.ignoreRange = v.asBool();
            else if (k == "range_total") f.rangeTotal = v.asInt();
            else if (k == "size_delta") f.sizeDelta = v.asInt();
            else if (k == "change_content") f.changeContent = v.asBool();
            else if (k == "garbage_headers") f.garbageHeaders = v.asBool();
            else if (k == "endless") f.endless = v.asBool();
            else if (k == "short_range") f.shortRange = v.asInt();
            else if (k == "short_body") f.shortBody = v.asBool();
            else if (k == "redirect_loop") f.redirectLoop = v.asBool();
            else if (k == "location") f.location = v.asString();
            else if (k == "cdn") f.cdn = v.asString();
            else if (k == "cdn_cache") f.cdnCache = v.asString();
            else if (k == "body") { f.hasBody = true; f.body = v.isString() ? v.asString() : v.dump(); }
            else if (k == "content_type") f.contentType = v.asString();
            else if (k == "headers") {
                for (const auto &hm : v.members()) f.headers.emplace_back(hm.first, hm.second.asString());
            } else effect = false;  // path, method, skip, times and unknown members
            if (effect) f.names.push_back(k);
        }
        if (f.changeContent) f.changeSeq = changeCounters_[path]++;
    }
    return f;
}

std::string Services::packageName() {
    if (!opts_.package.empty()) return opts_.package;
    if (opts_.root.empty()) return "package.exe";
    std::vector<std::string> names;
    if (DIR *d = opendir(opts_.root.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".exe") == 0) names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names.empty() ? "package.exe" : names.front();
}

namespace {
int64_t TimeNs(const struct timespec &t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }
}  // namespace

std::string Services::packageMd5(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "";
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (md5Cache_.path == path && md5Cache_.size == int64_t(st.st_size) && md5Cache_.inode == int64_t(st.st_ino) &&
            md5Cache_.mtimeNs == TimeNs(st.st_mtim) && md5Cache_.ctimeNs == TimeNs(st.st_ctim))
            return md5Cache_.md5;
    }
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return "";
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    std::vector<char> buf(1 << 20);
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0) EVP_DigestUpdate(ctx, buf.data(), n);
    fclose(f);
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, d, &len);
    EVP_MD_CTX_free(ctx);
    std::string hex;
    for (unsigned i = 0; i < len; ++i) {
        char b[3];
        snprintf(b, sizeof b, "%02x", d[i]);
        hex += b;
    }
    std::lock_guard<std::mutex> lock(mu_);
    md5Cache_ = {path, int64_t(st.st_size), int64_t(st.st_ino), TimeNs(st.st_mtim), TimeNs(st.st_ctim), hex};
    return hex;
}

// ---- Request handling ------------------------------------------------------------------

void Services::handle(const Request &creq, Response &res, const std::string &listener) {
    // The handler decides ranges and encodings itself: drop what the HTTP layer
    // parsed so that it neither cuts the body again nor compresses it.
    Request &req = const_cast<Request &>(creq);
    req.ranges.clear();
    req.headers.erase("Accept-Encoding");

    if (startsWith(req.path, "/__control")) {
        control(req, res);
        return;
    }

    json::Value checks = json::Value::object();
    if (req.path == "/api/v1/banners" || req.path == "/api/v1/user_privacy_info")
        checks.set("signature", checkSignedQuery(req.path, rawQuery(req), opts_.salt));

    Fault fault = resolveFaults(req.method, req.path);
    record(req, listener, fault, checks);
    req.headers.emplace("X-Local-Services-Recorded", "1");

    if (fault.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));

    if (!fault.cdn.empty()) {
        char ray[24];
        snprintf(ray, sizeof ray, "%016llx", (unsigned long long)(nowMs() * 2654435761ULL));
        res.set_header("CF-RAY", std::string(ray) + "-" + fault.cdn);
        res.set_header("CF-Cache-Status", fault.cdnCache);
    }
    for (const auto &h : fault.headers) res.set_header(h.first, h.second);

    if (fault.garbageHeaders) {
        if (!req.ssl) {
            // Plain connection: write a broken header block straight onto the
            // socket and end the connection; the HTTP layer's own reply after it
            // goes nowhere.
            int fd = findConnectionFd(req.local_port, req.remote_port);
            if (fd >= 0) {
                std::string raw = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nthis header line has no colon\r\n"
                                  "\x01\x02\xff\xfe: \x80\x81\r\nContent-Range: bytes */??\r\n\r\nhello world\n";
                send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
                shutdown(fd, SHUT_RDWR);
                res.set_header("Connection", "close");
                res.status = 200;
                return;
            }
        }
        // Over TLS only header values can be spoiled.
        res.set_header("Content-Range", "bytes */??");
        res.set_header("X-\x01\x02garbage", "\x80\x81\xfe\xff");
    }

    if (fault.redirectLoop || !fault.location.empty()) {
        std::string host = req.get_header_value("Host");
        std::string self = std::string(req.ssl ? "https://" : "http://") + host + req.target;
        res.set_header("Location", fault.redirectLoop ? self : fault.location);
        reply(res, 302, "redirect\n", "text/plain", fault, req);
        return;
    }
    if (fault.status || fault.hasBody) {
        int status = fault.status ? fault.status : 200;
        std::string body = fault.hasBody ? expand(fault.body) : "fault: status " + std::to_string(status) + "\n";
        std::string type = !fault.contentType.empty() ? fault.contentType
                           : fault.hasBody && !body.empty() && (body[0] == '{' || body[0] == '[')
                               ? "application/json"
                               : fault.hasBody && startsWith(body, "<") ? "text/xml" : "text/plain";
        reply(res, status, body, type, fault, req);
        return;
    }

    const std::string &p = req.path;
    auto methodIs = [&](std::initializer_list<const char *> ms) {
        for (const char *m : ms)
            if (req.method == m) return true;
        res.set_header("Allow", *ms.begin());
        reply(res, 405, "method not allowed\n", "text/plain", fault, req);
        return false;
    };

    // /redirect/N/rest answers 302 N times before reaching /rest; /loop/... forever.
    if (startsWith(p, "/redirect/") || startsWith(p, "/loop/")) {
        std::string host = req.get_header_value("Host");
        std::string scheme = req.ssl ? "https://" : "http://";
        std::string q = rawQuery(req);
        std::string next;
        if (startsWith(p, "/loop/")) {
            next = p;
        } else {
            size_t slash = p.find('/', 10);
            std::string count = p.substr(10, slash == std::string::npos ? std::string::npos : slash - 10);
            std::string rest = slash == std::string::npos ? "/" : p.substr(slash);
            if (count.empty() || !std::all_of(count.begin(), count.end(), ::isdigit)) {
                reply(res, 404, "bad redirect count\n", "text/plain", fault, req);
                return;
            }
            int n = std::stoi(count);
            next = n > 1 ? "/redirect/" + std::to_string(n - 1) + rest : rest;
        }
        res.set_header("Location", scheme + host + next + (q.empty() ? "" : "?" + q));
        reply(res, 302, "redirect\n", "text/plain", fault, req);
        return;
    }
    if (startsWith(p, "/download/")) {
        if (!methodIs({"GET", "HEAD"})) return;
        serveDownload(req, res, p.substr(10), fault);
        return;
    }
    if (p == "/queryDownloaderV2") {
        if (!methodIs({"GET", "HEAD"})) return;
        serveConfig(req, res, fault);
        return;
    }
    if (p == "/api/v1/banners" || p == "/api/v1/user_privacy_info") {
        if (!methodIs({"GET", "HEAD"})) return;
        serveData(req, res, fault, checks);
        return;
    }
    if (p == "/api/exception/send") {
        if (!methodIs({"POST"})) return;
        reply(res, 200, "{\"code\":200,\"msg\":\"ok\"}", "application/json", fault, req);
        return;
    }
    if (p == "/collect" || p == "/collector") {
        if (!methodIs({"POST"})) return;
        reply(res, 200, "{\"code\":200,\"msg\":\"ok\"}", "application/json", fault, req);
        return;
    }
    if (p == "/g/collect") {
        if (!methodIs({"POST"})) return;
        res.status = 204;
        return;
    }
    if (p == "/v1/productLogUpload") {
        if (!methodIs({"POST"})) return;
        if (!req.has_file("file") || req.get_file_value("file").filename.empty()) {
            reply(res, 400, "{\"code\":400,\"msg\":\"multipart field 'file' missing\"}", "application/json", fault,
                  req);
            return;
        }
        reply(res, 200, "{\"code\":200,\"msg\":\"ok\"}", "application/json", fault, req);
        return;
    }
    if (startsWith(p, "/banners/")) {
        if (!methodIs({"GET", "HEAD"})) return;
        int n = atoi(p.c_str() + 9);
        // A picture of the banner folder by its number only (no name from the request reaches the
        // file system); the drawn pattern where the folder has none.
        std::string picture;
        if (opts_.bannerDir.empty() || !readFile(opts_.bannerDir + "/" + std::to_string(n) + ".png", picture))
            picture = bannerPng(n);
        reply(res, 200, picture, "image/png", fault, req);
        return;
    }
    if (startsWith(p, "/pages/")) {
        if (!methodIs({"GET", "HEAD"})) return;
        std::string name = xmlEscape(p.substr(7));
        reply(res, 200, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + name +
                            "</title></head><body><h1>Orbala Lumeno</h1><p>" + name + "</p></body></html>\n",
              "text/html; charset=utf-8", fault, req);
        return;
    }
    reply(res, 404, "not found\n", "text/plain", fault, req);
}

void Services::serveDownload(const Request &req, Response &res, const std::string &file, Fault &fault) {
    if (opts_.root.empty() || file.empty() || file.find("..") != std::string::npos) {
        reply(res, 404, "not found\n", "text/plain", fault, req);
        return;
    }
    std::string path = opts_.root + "/" + file;
    auto plan = std::make_shared<BodyPlan>();
    plan->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (plan->fd < 0 || fstat(plan->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reply(res, 404, "not found\n", "text/plain", fault, req);
        return;
    }
    int64_t size = std::max<int64_t>(0, int64_t(st.st_size) + fault.sizeDelta);
    if (fault.changeContent) plan->xorKey = static_cast<unsigned char>(fault.changeSeq & 0xFF);
    std::string type = "application/octet-stream";
    res.set_header("Accept-Ranges", "bytes");

    std::vector<std::pair<int64_t, int64_t>> ranges;
    RangeResult rr = fault.ignoreRange ? RangeResult::None : parseRanges(req.get_header_value("Range"), size, ranges);
    // If-Range: the range holds only while the validator sent is the one this reply names
    // (an entity tag or Last-Modified of the `headers` rule field); otherwise the whole file.
    if (rr != RangeResult::None && req.has_header("If-Range")) {
        const std::string sent = trim(req.get_header_value("If-Range"));
        bool same = false;
        for (const auto &h : fault.headers)
            if ((strcasecmp(h.first.c_str(), "ETag") == 0 || strcasecmp(h.first.c_str(), "Last-Modified") == 0) &&
                trim(h.second) == sent && sent.compare(0, 2, "W/") != 0)
                same = true;
        if (!same) rr = RangeResult::None;
    }
    int64_t reportedTotal = fault.rangeTotal >= 0 ? fault.rangeTotal : size;

    if (rr == RangeResult::Unsatisfiable) {
        res.set_header("Content-Range", "bytes */" + std::to_string(reportedTotal));
        reply(res, 416, "range not satisfiable\n", "text/plain", fault, req);
        return;
    }
    if (rr == RangeResult::None) {
        res.status = 200;
        plan->addFile(0, size);
    } else if (ranges.size() == 1) {
        res.status = 206;
        int64_t last = ranges[0].second;
        // A server that takes bytes=a-b as excluding b: every reply ends early (a range no
        // longer than the cut is answered whole, or nothing would be left to send).
        if (fault.shortRange > 0 && last - ranges[0].first + 1 > fault.shortRange) last -= fault.shortRange;
        res.set_header("Content-Range", "bytes " + std::to_string(ranges[0].first) + "-" + std::to_string(last) +
                                            "/" + std::to_string(reportedTotal));
        int64_t sent = last - ranges[0].first + 1;
        // A body that ends a byte before the range it names, on a clean end of the reply.
        if (fault.shortBody && sent > 1) --sent;
        plan->addFile(ranges[0].first, sent);
    } else {
        res.status = 206;
        const std::string boundary = "local-services-byteranges";
        for (const auto &r : ranges) {
            plan->addText("\r\n--" + boundary + "\r\nContent-Type: " + type + "\r\nContent-Range: bytes " +
                          std::to_string(r.first) + "-" + std::to_string(r.second) + "/" +
                          std::to_string(reportedTotal) + "\r\n\r\n");
            plan->addFile(r.first, r.second - r.first + 1);
        }
        plan->addText("\r\n--" + boundary + "--\r\n");
        type = "multipart/byteranges; boundary=" + boundary;
    }
    if (plan->total() == 0 && !fault.endless) {
        res.set_content("", type);
        return;
    }
    streamBody(res, plan, type, fault, req.local_port, req.remote_port);
}

std::string Services::configReply(const Request &req) {
    std::string pkg = packageName();
    std::string pkgPath = opts_.root.empty() ? "" : opts_.root + "/" + pkg;
    struct stat st;
    int64_t size = (!pkgPath.empty() && stat(pkgPath.c_str(), &st) == 0) ? int64_t(st.st_size) : 0;

    std::string softwareId = req.get_param_value("SoftWareID");
    std::string siteId = req.get_param_value("SiteID");
    std::vector<std::pair<std::string, std::string>> fields = {
        {"Downloader_id", softwareId.empty() ? "0" : softwareId},
        {"Software_id", "1"},
        {"Site_id", siteId.empty() ? "0" : siteId},
        {"Software_name", "Orbala Lumeno"},
        {"Software_version", "1.0.0.0"},
        {"Process_name", "Lumeno.exe"},
        {"Install_url", "${HTTP}/pages/installed.html"},
        {"Download_url", "${HTTP}/download/" + pkg},
        {"Extra_download_url", "${HTTPS}/download/" + pkg},
        {"Banner_url", ""},
        {"Licensefile_url", ""},
        {"Md5", pkgPath.empty() ? "" : packageMd5(pkgPath)},
        {"Md5_extra", ""},
        {"Cnet_download_url", ""},
        {"Filesize", std::to_string(size)},
        {"Downloader_type", "0"},
        {"Downloader_config", "0"},
        {"Slice_num", "0"},
        {"Slice_size", "0"},
        {"Additional_time", "0"},
        {"Back_running", "0"},
        {"TimeoutCfg", "3,20"},
    };
    auto setField = [&](const std::string &k, const std::string &v) {
        for (auto &f : fields)
            if (f.first == k) { f.second = v; return; }
        fields.emplace_back(k, v);
    };

    // A configuration file holds either a whole reply (it contains "<Downloader>")
    // or Name=value lines that replace single fields.
    std::string fileText;
    if (!opts_.configPath.empty() && readFile(opts_.configPath, fileText)) {
        if (fileText.find("<Downloader>") != std::string::npos)
            return expand(replaceAll(fileText, "${PACKAGE}", pkg));
        size_t pos = 0;
        while (pos < fileText.size()) {
            size_t nl = fileText.find('\n', pos);
            std::string line = trim(fileText.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
            pos = nl == std::string::npos ? fileText.size() : nl + 1;
            size_t eq = line.find('=');
            if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
            setField(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
        }
    }
    std::map<std::string, std::string> overrides;
    {
        std::lock_guard<std::mutex> lock(mu_);
        overrides = configOverrides_;
    }
    for (const auto &o : overrides) setField(o.first, o.second);

    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Downloader>\n";
    for (const auto &f : fields)
        xml += "    <" + f.first + ">" + xmlEscape(expand(replaceAll(f.second, "${PACKAGE}", pkg))) + "</" + f.first +
               ">\n";
    xml += "</Downloader>\n";
    return xml;
}

void Services::serveConfig(const Request &req, Response &res, Fault &fault) {
    reply(res, 200, configReply(req), "text/xml; charset=utf-8", fault, req);
}

void Services::serveData(const Request &req, Response &res, Fault &fault, const json::Value &checks) {
    const std::string &sig = checks.get("signature").asString();
    if (sig != "ok") {
        json::Value err = json::Value::object();
        err.set("code", 403);
        err.set("msg", "signature " + sig);
        reply(res, 403, err.dump(), "application/json", fault, req);
        return;
    }
    json::Value out = json::Value::array();
    if (req.path == "/api/v1/banners") {
        for (int i = 1; i <= 5; ++i) {
            json::Value b = json::Value::object();
            b.set("banner_url", baseUrl(false) + "/banners/" + std::to_string(i) + ".png");
            b.set("jump_url", baseUrl(false) + "/pages/banner" + std::to_string(i) + ".html");
            b.set("prompt", "Orbala Lumeno " + std::to_string(i));
            b.set("sort", i);
            out.push(std::move(b));
        }
    } else {
        for (const char *code : kLanguageCodes) {
            json::Value e = json::Value::object();
            e.set("lang_code", code);
            json::Value urls = json::Value::array();
            json::Value p = json::Value::object();
            p.set("field", "p");
            p.set("url", baseUrl(false) + "/pages/privacy-" + code + ".html");
            json::Value tc = json::Value::object();
            tc.set("field", "tc");
            tc.set("url", baseUrl(false) + "/pages/terms-" + code + ".html");
            urls.push(std::move(p));
            urls.push(std::move(tc));
            e.set("urls", urls);
            out.push(std::move(e));
        }
    }
    reply(res, 200, out.dump(), "application/json", fault, req);
}

// ---- Control API -------------------------------------------------------------------------

void Services::control(const Request &req, Response &res) {
    auto sendJson = [&](int status, const json::Value &v) {
        res.status = status;
        res.set_content(v.dump() + "\n", "application/json");
    };
    auto error = [&](int status, const std::string &msg) {
        json::Value e = json::Value::object();
        e.set("error", msg);
        sendJson(status, e);
    };
    auto okReply = [&]() {
        json::Value o = json::Value::object();
        o.set("ok", true);
        sendJson(200, o);
    };
    json::Value body;
    if (req.method == "POST" || req.method == "PUT") {
        std::string perr;
        if (!req.body.empty() && !json::parse(req.body, body, &perr)) {
            error(400, "bad JSON: " + perr);
            return;
        }
    }
    const std::string &p = req.path;

    if (p == "/__control/reset" && req.method == "POST") {
        std::lock_guard<std::mutex> lock(mu_);
        rules_.clear();
        records_.clear();
        configOverrides_.clear();
        changeCounters_.clear();
        okReply();
        return;
    }
    if (p == "/__control/requests") {
        if (req.method == "DELETE") {
            std::lock_guard<std::mutex> lock(mu_);
            records_.clear();
            okReply();
            return;
        }
        std::string prefix = req.get_param_value("path");
        json::Value all = json::Value::array();
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto &r : records_)
            if (prefix.empty() || startsWith(r.get("path").asString(), prefix)) all.push(r);
        sendJson(200, all);
        return;
    }
    if (p == "/__control/faults") {
        if (req.method == "DELETE") {
            std::lock_guard<std::mutex> lock(mu_);
            rules_.clear();
            okReply();
            return;
        }
        if (req.method == "POST") {
            // Body: one rule, an array of rules, or {"rules": [...], "replace": bool}.
            std::vector<json::Value> specs;
            bool replace = false;
            if (body.isArray()) specs = body.items();
            else if (body.isObject() && body.has("rules")) {
                specs = body.get("rules").items();
                replace = body.get("replace").asBool();
            } else if (body.isObject()) specs.push_back(body);
            else {
                error(400, "expected a rule object or an array of rules");
                return;
            }
            std::vector<FaultRule> added;
            for (const auto &s : specs) {
                if (!s.isObject()) {
                    error(400, "a rule must be an object");
                    return;
                }
                FaultRule r;
                r.spec = s;
                r.path = s.get("path").asString();
                if (r.path == "*") r.path.clear();
                r.method = s.get("method").asString();
                r.skip = s.get("skip").asInt();
                r.times = s.has("times") ? s.get("times").asInt() : -1;
                added.push_back(std::move(r));
            }
            std::lock_guard<std::mutex> lock(mu_);
            if (replace) rules_.clear();
            for (auto &r : added) rules_.push_back(std::move(r));
            json::Value o = json::Value::object();
            o.set("ok", true);
            o.set("rules", int64_t(rules_.size()));
            sendJson(200, o);
            return;
        }
        json::Value all = json::Value::array();
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto &r : rules_) {
            json::Value e = json::Value::object();
            e.set("rule", r.spec);
            e.set("seen", r.seen);
            e.set("applied", r.applied);
            all.push(std::move(e));
        }
        sendJson(200, all);
        return;
    }
    if (p == "/__control/config") {
        if (req.method == "POST") {
            // Body: {"Name": value, ...}; a null value removes an override.
            const json::Value &fields = body.has("fields") ? body.get("fields") : body;
            if (!fields.isObject()) {
                error(400, "expected an object of field values");
                return;
            }
            std::lock_guard<std::mutex> lock(mu_);
            for (const auto &m : fields.members()) {
                if (m.second.isNull()) configOverrides_.erase(m.first);
                else configOverrides_[m.first] = m.second.isString() ? m.second.asString() : m.second.dump();
            }
            okReply();
            return;
        }
        res.status = 200;
        res.set_content(configReply(req), "text/xml; charset=utf-8");
        return;
    }
    if (p == "/__control/info") {
        json::Value o = json::Value::object();
        o.set("http", baseUrl(false));
        o.set("https", baseUrl(true));
        o.set("root", opts_.root);
        o.set("package", packageName());
        o.set("pid", int64_t(getpid()));
        sendJson(200, o);
        return;
    }
    error(404, "unknown control path");
}
