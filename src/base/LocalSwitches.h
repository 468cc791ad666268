#pragma once
// How far the files beside setup.exe reach. "qv_downloader.cfg" (TestEnv, AutoRun, CrashTest),
// "test.wk" (TestEnv only: it names no address in any build) and "proxy.txt" are the product's own switches and are
// read as designed; but the setup usually runs from the Downloads folder, where anyone who can put
// a file there sets them, and it runs elevated. So what they may change depends on the build:
//
//   switch                                 test build        release build
//   TestEnv: the services' test hosts       yes               yes (hosts fixed by the deployment)
//   TestEnv: configuration over plain HTTP  yes               no: HTTPS, certificate checked
//   AutoRun, CrashTest                      yes               yes (they change no host and no check)
//   proxy.txt                               yes               yes (TLS is checked end to end)
//
// No switch turns off a certificate check (TlsPolicy) or the package's signature check, and none
// names a download host: download addresses come only from the configuration service (over
// checked HTTPS) or the skin.
namespace LocalSwitches {

struct Bounds {
    bool plainHttpConfigurationQuery = false;  // TestEnv may send the configuration query over http://
};

// The bounds of a test build or of a release build.
Bounds For(bool testBuild);
// The bounds of this build (its deployment's BUILD_KIND), unless a test has put others in place.
Bounds ThisBuild();

// Test seam: while alive, ThisBuild() answers with the given bounds (one at a time).
class ScopedBounds {
public:
    explicit ScopedBounds(const Bounds& bounds);
    ~ScopedBounds();
    ScopedBounds(const ScopedBounds&) = delete;
    ScopedBounds& operator=(const ScopedBounds&) = delete;
};

}  // namespace LocalSwitches
