#pragma once
// The unattended install of the command line: the switches an administrator gives setup.exe to
// install without a question, and the exit codes that tell a deployment script how it ended.
//
//   /quiet        installs with no window at all; the licence counts as accepted by whoever
//                 typed the switch
//   /passive      shows only the running page with its progress and closes itself at the end
//   /dir="..."    the folder (the same checks as a folder typed into the settings panel)
//   /lang=xx      the language (the services' codes: en, ja, zh-cn, de, ...)
//   /log="..."    the program log is copied to this file at the end
//   /norestart    the installer never restarts the machine (it is always started so)
//   /wait=N       seconds to wait for another running setup of the product (default 300)
//   /?            the switches in a box
//
// Switches are whole arguments and their names are not case-sensitive. Arguments that do not
// start with "/" are the setup's own maintenance switches ("-dmp ", "-close", "-sendrestlogs") and
// are left to them.
#include <cstdint>
#include <string>

namespace Unattended {

// Exit codes of an unattended run (a run with a window always ends with 0).
enum ExitCode : int {
    kInstalled = 0,
    kFailed = 1,               // ended otherwise (closed, crashed)
    kBadCommandLine = 2,       // an unknown switch or a value it cannot take
    kAlreadyRunning = 3,       // another run of this setup did not end within /wait
    kNoService = 4,            // no usable network, service or proxy
    kDownloadFailed = 5,
    kPackageRefused = 6,       // digest or signature
    kNoSpaceOrBadFolder = 7,
    kInstallerFailed = 8,      // the installer failed, did not start or outlived its time limit
    kProductRunning = 9,       // the product runs and must be closed first
    kSystemNotSupported = 10,  // the product needs 64-bit Windows
};

enum class Mode { Interactive, Quiet, Passive };

struct Options {
    Mode mode = Mode::Interactive;
    bool help = false;
    bool noRestart = false;
    std::wstring folder;     // /dir, empty: the default folder
    int32_t language = -1;   // /lang as EnumLanguage, -1: the system's
    std::wstring logCopy;    // /log, empty: no copy
    unsigned waitSeconds = kDefaultWaitSeconds;
    std::string error;       // why the command line was refused; empty when it was not
    static constexpr unsigned kDefaultWaitSeconds = 300;
    static constexpr unsigned kMaxWaitSeconds = 86400;

    bool Unattended() const { return mode != Mode::Interactive; }
};

// Reads the switches of the arguments text (no program name). A switch it does not know, a value
// it cannot take or two modes leave `error` set.
Options Parse(const std::wstring& arguments);

// Whether a folder given with /dir can be an install folder at all: a full path on a drive
// ("C:\..."), with no character Windows refuses in a file name, no "." or ".." step, and short
// enough to leave room for the product's files.
bool IsUsableFolder(const std::wstring& folder);

// The text of the /? box.
std::wstring HelpText();

// "quiet", "passive" or "" for the analytics mark of the run.
std::string ModeName(Mode mode);

}  // namespace Unattended
