// qxupdater-cli: the scan, the SMART read, the firmware update and the secure erase of the
// desktop utility without a window, for shells, scripts and configuration management.
//
// runCli is the whole program behind main(): it parses the arguments, opens the device
// back-end, runs the same procedures as the windows through a terminal user seam, and
// returns the exit code (docs/cli.md):
//
//   0  every asked drive passed, or nothing needed an update (and every listing command)
//   1  at least one drive failed (or its SMART data could not be read)
//   2  usage error or refusal; nothing was sent to a drive
//   3  no drive matches a DISK argument (or there is no drive for --all)
//   4  the device back-end could not start
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/HostPlatform.h"

namespace qx::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoDrive = 3,
    kExitBackend = 4,
};

struct Streams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool inIsTerminal = false;   // typed confirmations are possible
    bool errIsTerminal = false;  // the progress bar is drawn
};

// One line read within a bound (ReadBoundedLine).
enum class LineRead { Ok, End, TooLong };

// The longest password taken from a file or standard input.
constexpr size_t kMaxPasswordBytes = 4096;

// Reads one line of at most `max` bytes (without its newline) from `in`. The line's storage
// is reserved before the first byte arrives, so a secret never moves and leaves no copy in
// a freed buffer. End: nothing before the end of the input. TooLong: `line` is wiped and
// left empty.
LineRead ReadBoundedLine(std::istream& in, std::string& line, size_t max);

// What the program needs from the process around it.
struct Host {
    // The program's own executable: the package `update` uses without --package, and the
    // directory of QXUpdater.ini for file mode.
    std::string executablePath;
    // The environment (QXUPDATER_DEVICES, QXUPDATER_TRACE); null or empty counts as unset.
    std::function<const char*(const char* name)> getenv;
    // Options for the back-end (a virtual clock in tests and benchmarks).
    HostOptions backendOptions;
    // Called with the back-end once it is installed and before any drive is touched (tests
    // look at the bench through it).
    std::function<void(HostPlatform&)> onBackend;
    // Called with the back-end after the command, before it is closed.
    std::function<void(HostPlatform&)> onFinish;
    // Powers the computer off for --power-off on the real back-end; null: the kernel's own.
    std::function<int()> powerOff;
    // Reads one line of at most kMaxPasswordBytes from standard input without echoing it on
    // a terminal (the password of --password-stdin); null: read from Streams::in as it is.
    std::function<LineRead(std::string& line)> readSecretLine;
};

int runCli(const std::vector<std::string>& args, Streams& streams, const Host& host);

}  // namespace qx::cli
