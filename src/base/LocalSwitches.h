#pragma once
// How far the files beside setup.exe reach. "qv_downloader.cfg" (TestEnv, AutoRun, CrashTest) and
// "test.wk" (TestEnv) are test switches; "proxy.txt" is the report SDK's proxy. The setup usually
// runs from the Downloads folder, where anyone who can put a file there sets them, and it runs
// elevated. So what they may change depends on the build, decided when it is compiled:
//
//   switch                                 test build        release build
//   TestEnv: the services' test hosts       yes               no: ignored (a log line says so)
//   TestEnv: configuration over plain HTTP  yes               no
//   AutoRun, CrashTest                      yes               no: ignored (a log line says so)
//   proxy.txt                               yes               yes (TLS is checked end to end)
//
// AutoRun stands for a user's consent (it ticks the licence box and installs) and CrashTest makes
// every click crash: a file must not decide either for a real user. No switch turns off a
// certificate check (TlsPolicy) or the package's signature check, and none names a download host:
// download addresses come only from the configuration service (over checked HTTPS) or the skin.
namespace LocalSwitches {

struct Bounds {
    bool honoursSwitchFiles = false;           // qv_downloader.cfg's and test.wk's switches are read
    bool plainHttpConfigurationQuery = false;  // TestEnv may send the configuration query over http://
};

// The bounds of a test build or of a release build.
Bounds For(bool testBuild);
// The bounds of this build (its deployment's BUILD_KIND). In a test build a test may put others
// in place (ScopedBounds); a release build always answers with the release bounds.
Bounds ThisBuild();

// Test seam: while alive, ThisBuild() of a test build answers with the given bounds (one at a time).
class ScopedBounds {
public:
    explicit ScopedBounds(const Bounds& bounds);
    ~ScopedBounds();
    ScopedBounds(const ScopedBounds&) = delete;
    ScopedBounds& operator=(const ScopedBounds&) = delete;
};

}  // namespace LocalSwitches
