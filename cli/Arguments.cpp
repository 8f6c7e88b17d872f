// qxupdater-cli: the command line, and everything refused before a drive is touched.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/CliPackage.h"
#include "cli/Program.h"
#include "platform/Utf8Path.h"
#include "platform/Wipe.h"

namespace qx::cli::detail {

Outcome Program::parse(const std::vector<std::string>& args, bool& helpShown) {
    CLI::App app{"QX Updater on the command line: list the drives, explain the scan, read SMART "
                 "data, update the firmware, run a secure erase, inspect a package.",
                 kProgram};
    app.require_subcommand(1);
    app.fallthrough();
    app.footer("Exit codes: 0 every asked drive passed or needed no update, 1 a drive failed, "
               "2 usage error or refusal, 3 no matching drive, 4 the device back-end could not "
               "start.");
    Request& r = request_;
    app.add_option("--devices", r.devices,
                   "device back-end: empty for the real disks, sim, sim:PATH or replay:PATH "
                   "(default: QXUPDATER_DEVICES)");
    app.add_flag("--json", r.json, "write one JSON document on standard output");
    app.add_option("--wait", r.waitSeconds,
                   "while another process sends commands to the drives, wait up to SECONDS for "
                   "it (default: refuse at once)")
        ->check(CLI::Range(0.0, 86400.0));

    auto* list = app.add_subcommand("list", "the scan of \"Scan for Drives\": the drives found");
    auto* explain = app.add_subcommand("explain", "every candidate disk, listed or not, and why");
    auto* smart = app.add_subcommand("smart", "the SMART report of one drive");
    smart->add_option("DISK", r.disks, "disk number, serial number or device path")->required()->expected(1);

    auto* update = app.add_subcommand("update", "update the firmware of drives");
    update->add_option("DISK", r.disks, "disk numbers, serial numbers or device paths");
    update->add_flag("--all", r.all, "every listed drive");
    update->add_option("--package", r.package, "an executable that carries a firmware package");
    update->add_option("--image", r.image, "a firmware image file (.bin), file mode");
    update->add_option("--revision", r.revision,
                       "file mode: the firmware revision updated drives report (default: "
                       "FirmwareVer of QXUpdater.ini beside the program, else 0.0)");
    update->add_flag("--yes", r.yes, "do not ask for the serial numbers");
    update->add_flag("--power-off", r.powerOff, "power the computer off after a passed update");
    update->add_flag("--skip-current", r.skipCurrent,
                     "a drive that already runs the image's build ends \"Up to date\", nothing sent");

    auto* erase = app.add_subcommand("erase", "ATA secure erase (master password, normal erase)");
    erase->add_option("DISK", r.disks, "disk numbers, serial numbers or device paths")->required();
    erase->add_option("--password-file", r.passwordFile, "read the password from the first line of FILE");
    erase->add_flag("--password-stdin", r.passwordStdin, "read the password from standard input");
    erase->add_flag("--yes", r.yes, "do not ask for the serial numbers");
    // Taken only to refuse it: a password in the arguments shows in the process list.
    erase->add_option("--password", r.passwordArgument)->group("");

    auto* package = app.add_subcommand("package", "firmware packages");
    package->require_subcommand(1);
    auto* inspect = package->add_subcommand("inspect", "the header, image base and slots of a package");
    inspect->add_option("FILE", r.file, "the executable carrying the package")->required();

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e, io_.out, io_.err);
        helpShown = true;
        return {};
    } catch (const CLI::CallForAllHelp& e) {
        app.exit(e, io_.out, io_.err);
        helpShown = true;
        return {};
    } catch (const CLI::ExtrasError&) {
        // Only option names are repeated: a value beside a mistyped option may be a secret.
        std::string names;
        size_t values = 0;
        for (const std::string& extra : app.remaining(true)) {
            if (extra.size() > 1 && extra[0] == '-') {
                names += (names.empty() ? "" : " ") + extra.substr(0, extra.find('='));
            } else {
                ++values;
            }
        }
        std::string what = names.empty() ? std::string("unexpected arguments")
                                         : "unknown options: " + names;
        if (!names.empty() && values > 0) what += " (and " + std::to_string(values) + " more arguments)";
        return {kExitUsage, what + " (see " + kProgram + " --help)"};
    } catch (const CLI::ParseError& e) {
        if (erase->parsed() && erase->count("--password") > 0) {
            WipeString(r.passwordArgument);
            return {kExitUsage, "the password is never taken from the command line (it would "
                                "show in the process list): use --password-file FILE or "
                                "--password-stdin"};
        }
        std::string what = e.what();
        const size_t nl = what.find('\n');
        if (nl != std::string::npos) what.resize(nl);
        return {kExitUsage, what + " (see " + kProgram + " --help)"};
    }
    r.devicesGiven = app.count("--devices") > 0;
    if (list->parsed()) r.command = "list";
    if (explain->parsed()) r.command = "explain";
    if (smart->parsed()) r.command = "smart";
    if (update->parsed()) r.command = "update";
    r.revisionGiven = update->count("--revision") > 0;
    if (erase->parsed()) {
        r.command = "erase";
        r.passwordArgumentGiven = erase->count("--password") > 0;
        WipeString(r.passwordArgument);
        // The parser keeps its own copy of what it was given.
        for (std::string& s : const_cast<CLI::results_t&>(erase->get_option("--password")->results())) {
            WipeString(s);
        }
    }
    if (inspect->parsed()) r.command = "package inspect";
    return {};
}

// Everything that can be refused before a drive is touched.
Outcome Program::checkInputs() {
    const Request& r = request_;
    if (r.command == "update") {
        if (r.all == !r.disks.empty()) {
            return {kExitUsage, "update needs DISK arguments or --all (not both)"};
        }
        if (!r.package.empty() && !r.image.empty()) {
            return {kExitUsage, "update takes --package FILE or --image FILE, not both"};
        }
        if (!r.image.empty()) {
            std::error_code ec;
            std::ifstream f(Utf8Path(r.image), std::ios::binary);
            if (!f.is_open() || std::filesystem::is_directory(Utf8Path(r.image), ec)) {
                return {kExitUsage, "cannot read the image file '" + r.image + "'"};
            }
        } else {
            const std::string package = r.package.empty() ? host_.executablePath : r.package;
            std::string error;
            if (!LoadPackageState(package, r.package.empty(), state_, error)) {
                return {kExitUsage, error};
            }
        }
    }
    if (r.command == "erase") {
        if (r.passwordArgumentGiven) {
            return {kExitUsage, "the password is never taken from the command line (it would "
                                "show in the process list): use --password-file FILE or "
                                "--password-stdin"};
        }
        if (r.passwordFile.empty() == !r.passwordStdin) {
            return {kExitUsage, "erase needs --password-file FILE or --password-stdin (one of them)"};
        }
        if (r.passwordStdin && !r.yes) {
            return {kExitUsage, "--password-stdin takes standard input: confirm with --yes"};
        }
    }
    if ((r.command == "update" || r.command == "erase") && !r.yes && !io_.inIsTerminal) {
        return {kExitUsage, r.command + " asks for the serial number of every drive on a "
                                        "terminal; without one, confirm with --yes"};
    }
    return {};
}

}  // namespace qx::cli::detail
