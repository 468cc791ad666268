// local-services: the stand-in backend that the setup, its tests and the demo
// talk to on 127.0.0.1. See services/README.md for flags and the control API.

#include <httplib.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "cert.h"
#include "dual_port.h"
#include "services.h"

namespace {

void usage() {
    fprintf(stderr,
            "usage: local-services [--http-port N] [--https-port N] [--root DIR] [--record FILE]\n"
            "                      [--parent-pid PID] [--exit-on-stdin-eof] [--cert-dir DIR]\n"
            "                      [--config FILE] [--package NAME] [--salt TEXT] [--banner-dir DIR]\n"
            "                      [--self-signed-https-port N] [--self-signed-cert-dir DIR]\n"
            "  ports default to 47080 (HTTP) and 47443 (HTTPS, also answers plain HTTP); 0 = any free port\n"
            "  --parent-pid defaults to the parent at start; 0 = do not watch\n");
}

bool parsePort(const char *s, int &out) {
    char *end = nullptr;
    long v = strtol(s, &end, 10);
    if (!end || *end || v < 0 || v > 65535) return false;
    out = int(v);
    return true;
}

void onSignal(int) { _exit(0); }

// Binds an HTTP server on 127.0.0.1 (port 0 = any); returns the port or -1.
int bindServer(httplib::Server &s, int port) {
    if (port == 0) return s.bind_to_any_port("127.0.0.1");
    return s.bind_to_port("127.0.0.1", port) ? port : -1;
}

}  // namespace

int main(int argc, char **argv) {
    int httpPort = 47080, httpsPort = 47443;
    long parentPid = long(getppid());
    bool stdinEof = false;
    const char *tmp = getenv("TMPDIR");
    std::string certDir = std::string(tmp && *tmp ? tmp : "/tmp") + "/local-services-cert";
    // A second HTTPS listener whose certificate no authority signed (for tests of the setup's
    // refusal of untrusted servers); off unless a port is given.
    int selfSignedPort = -1;
    std::string selfSignedDir = std::string(tmp && *tmp ? tmp : "/tmp") + "/local-services-self-signed";
    ServiceOptions opts;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "local-services: %s needs a value\n", name);
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--http-port") {
            if (!parsePort(value("--http-port"), httpPort)) { usage(); return 2; }
        } else if (a == "--https-port") {
            if (!parsePort(value("--https-port"), httpsPort)) { usage(); return 2; }
        } else if (a == "--root") opts.root = value("--root");
        else if (a == "--record") opts.recordPath = value("--record");
        else if (a == "--parent-pid") parentPid = atol(value("--parent-pid"));
        else if (a == "--exit-on-stdin-eof") stdinEof = true;
        else if (a == "--cert-dir") certDir = value("--cert-dir");
        else if (a == "--self-signed-https-port") {
            if (!parsePort(value("--self-signed-https-port"), selfSignedPort)) { usage(); return 2; }
        } else if (a == "--self-signed-cert-dir") selfSignedDir = value("--self-signed-cert-dir");
        else if (a == "--config") opts.configPath = value("--config");
        else if (a == "--package") opts.package = value("--package");
        else if (a == "--salt") opts.salt = value("--salt");
        else if (a == "--banner-dir") opts.bannerDir = value("--banner-dir");
        else if (a == "-h" || a == "--help") { usage(); return 0; }
        else {
            fprintf(stderr, "local-services: unknown argument %s\n", a.c_str());
            usage();
            return 2;
        }
    }
    while (opts.root.size() > 1 && opts.root.back() == '/') opts.root.pop_back();

    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    signal(SIGHUP, onSignal);

    std::string certPath, keyPath, error;
    if (!ensureCertificate(certDir, certPath, keyPath, error)) {
        fprintf(stderr, "local-services: %s\n", error.c_str());
        return 1;
    }

    std::string selfSignedCert, selfSignedKey;
    if (selfSignedPort >= 0 && !ensureCertificate(selfSignedDir, selfSignedCert, selfSignedKey, error)) {
        fprintf(stderr, "local-services: %s\n", error.c_str());
        return 1;
    }

    Services services(opts);
    if (!services.openRecord(error)) {
        fprintf(stderr, "local-services: %s\n", error.c_str());
        return 1;
    }

    // Three HTTP engines: the public plain listener, and behind the dual
    // HTTPS port an internal TLS server and an internal plain server.
    httplib::Server http;
    httplib::SSLServer tls(certPath.c_str(), keyPath.c_str());
    httplib::Server plainOnTlsPort;
    if (!tls.is_valid()) {
        fprintf(stderr, "local-services: cannot load %s / %s\n", certPath.c_str(), keyPath.c_str());
        return 1;
    }
    services.attach(http, "http");
    services.attach(tls, "https");
    services.attach(plainOnTlsPort, "https-plain");

    int boundHttp = bindServer(http, httpPort);
    if (boundHttp < 0) {
        fprintf(stderr, "local-services: cannot listen on 127.0.0.1:%d\n", httpPort);
        return 1;
    }
    int tlsInner = bindServer(tls, 0);
    int plainInner = bindServer(plainOnTlsPort, 0);
    DualPort front;
    int boundHttps = front.bind(httpsPort, error);
    if (tlsInner < 0 || plainInner < 0 || boundHttps < 0) {
        fprintf(stderr, "local-services: cannot listen on 127.0.0.1:%d: %s\n", httpsPort, error.c_str());
        return 1;
    }
    services.setPorts(boundHttp, boundHttps);

    std::unique_ptr<httplib::SSLServer> selfSigned;
    int boundSelfSigned = -1;
    if (selfSignedPort >= 0) {
        selfSigned.reset(new httplib::SSLServer(selfSignedCert.c_str(), selfSignedKey.c_str()));
        if (!selfSigned->is_valid()) {
            fprintf(stderr, "local-services: cannot load %s / %s\n", selfSignedCert.c_str(), selfSignedKey.c_str());
            return 1;
        }
        services.attach(*selfSigned, "https-self-signed");
        boundSelfSigned = bindServer(*selfSigned, selfSignedPort);
        if (boundSelfSigned < 0) {
            fprintf(stderr, "local-services: cannot listen on 127.0.0.1:%d\n", selfSignedPort);
            return 1;
        }
        std::thread([&] { selfSigned->listen_after_bind(); }).detach();
    }

    std::thread([&] { http.listen_after_bind(); }).detach();
    std::thread([&] { tls.listen_after_bind(); }).detach();
    std::thread([&] { plainOnTlsPort.listen_after_bind(); }).detach();
    std::thread([&] { front.serve(tlsInner, plainInner); }).detach();

    printf("http http://127.0.0.1:%d\n", boundHttp);
    printf("https https://127.0.0.1:%d\n", boundHttps);
    if (boundSelfSigned >= 0) printf("https-self-signed https://127.0.0.1:%d\n", boundSelfSigned);
    fflush(stdout);

    if (stdinEof) {
        std::thread([] {
            char buf[256];
            while (read(0, buf, sizeof buf) > 0) {
            }
            _exit(0);
        }).detach();
    }

    // Stop with the process that started us: poll whether it still exists
    // (a parent that is gone, or reaped, no longer answers signal 0, and an
    // orphaned process is re-parented, which changes getppid()).
    long startParent = long(getppid());
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (parentPid <= 0) continue;
        bool gone = kill(pid_t(parentPid), 0) != 0 && errno == ESRCH;
        if (parentPid == startParent && long(getppid()) != startParent) gone = true;
        if (gone) _exit(0);
    }
}
