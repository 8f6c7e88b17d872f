// Runs qxupdater-cli in the test process on a bench with a virtual clock.
//
//   CliRun r = runCli({"list", "--json", "--devices", "sim"});
//   r.code, r.out, r.err, r.json()
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "platform/HostPlatform.h"

namespace qx::test {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
    bool backendOpened = false;
    nlohmann::json json() const;  // the document on standard output (fails the test if none)
};

struct CliSetup {
    std::string input;                        // standard input
    bool inIsTerminal = false;
    bool errIsTerminal = false;
    std::map<std::string, std::string> env;   // QXUPDATER_DEVICES, QXUPDATER_TRACE
    std::string executablePath;               // the program's own path (default: none)
    std::function<void(HostPlatform&)> onBackend;
    std::function<void(HostPlatform&)> onFinish;
};

CliRun runCli(const std::vector<std::string>& args, const CliSetup& setup = {});

// The demo bench with a package for it: slot 0 fits no drive, slot 1 the 42/A1B2/QX01
// drives (disks 1 and 3), slot 2 the 40/C3D4/QX02 drive (disk 2). Returns the file size.
int32_t writeDemoPackage(const std::string& path);

// The text of a file (empty when it cannot be read).
std::string fileText(const std::string& path);

}  // namespace qx::test
