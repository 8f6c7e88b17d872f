// qxupdater-cli: argument parsing, the back-end, the scan and the subcommands (Cli.h).
#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "QXLib/DbgLog.h"
#include "QXLib/Smart.h"
#include "QXLib/Transport.h"
#include "app/core/MainState.h"
#include "cli/CliBackend.h"
#include "cli/CliPackage.h"
#include "cli/TerminalUser.h"
#include "config/Config.h"
#include "devices/DeviceLock.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "platform/TraceCodec.h"
#include "platform/Utf8Path.h"
#include "smart/SmartReport.h"
#include "update/Package.h"
#include "update/SecureErase.h"
#include "update/Update.h"

namespace qx::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kSchema = 1;
constexpr const char* kProgram = "qxupdater-cli";

// One failure that ends the run: the exit code and its one-line message.
struct Outcome {
    int code = kExitOk;
    std::string message;
};

// What the command line asked for.
struct Request {
    std::string command;  // "list", "explain", "smart", "update", "erase", "package inspect"
    bool json = false;
    std::string devices;
    bool devicesGiven = false;
    double waitSeconds = 0;  // --wait: for another process's hold of the drives
    std::vector<std::string> disks;
    bool all = false;
    std::string package;
    std::string image;
    std::string revision;
    bool revisionGiven = false;
    bool yes = false;
    bool powerOff = false;
    bool skipCurrent = false;
    std::string passwordFile;
    bool passwordStdin = false;
    std::string passwordArgument;  // never used, never shown: its presence is a refusal
    bool passwordArgumentGiven = false;
    std::string file;              // package inspect
};

std::string dumpJson(const Json& j) {
    // Texts from a drive may hold any bytes: invalid UTF-8 is replaced, never thrown on.
    return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

std::string lowerAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool allDigits(const std::string& s) {
    return !s.empty() && s.size() <= 6 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}


// Printable ASCII of a fixed field, other bytes as '.'.
std::string printable(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '.');
    return s;
}

// ---------------------------------------------------------------------------------------
// The drives of one scan.
struct Drive {
    int disk = 0;  // caption: index + 1
    DriveRow row;
    std::string path;
    int32_t busKind = 0;
    std::string bus;
    std::string letter;  // "" or "E"
};

const char* busKindName(int32_t kind) {
    switch (kind) {
        case 1: return "DEVICE_IDE";
        case 2: return "DEVICE_SCSI";
        case 3: return "DEVICE_USB";
        default: return "none";
    }
}

std::string letterOf(const std::string& entry) {
    // DeviceList entries end in " (X:)" when the drive has a letter.
    const size_t n = entry.size();
    if (n >= 5 && entry.compare(n - 5, 2, " (") == 0 && entry.compare(n - 2, 2, ":)") == 0) {
        return entry.substr(n - 3, 1);
    }
    return {};
}

std::vector<Drive> collectDrives(const MainState& state, TerminalUser& user) {
    std::vector<Drive> drives;
    std::map<int, std::string> busNames;
    for (const CandidateNote& n : user.notes()) {
        if (n.listed) busNames[n.disk] = trim(n.busName);
    }
    const size_t count = std::min({user.rows().size(), state.DeviceList.size(),
                                   static_cast<size_t>(DriveCount), static_cast<size_t>(kMaxDrives)});
    for (size_t i = 0; i < count; ++i) {
        Drive d;
        d.disk = static_cast<int>(i) + 1;
        d.row = user.rows()[i].row;
        d.path = std::string(DriveInfo[i].devicePath, strnlen(DriveInfo[i].devicePath, sizeof(DriveInfo[i].devicePath)));
        d.busKind = DriveInfo[i].busKind;
        d.bus = busNames.count(d.disk) != 0 ? busNames[d.disk] : std::string();
        d.letter = letterOf(state.DeviceList[i]);
        drives.push_back(std::move(d));
    }
    return drives;
}

Json driveJson(const Drive& d) {
    Json j;
    j["disk"] = d.disk;
    j["model"] = d.row.model;
    j["serial"] = d.row.serial;
    j["firmware"] = d.row.firmware;
    j["capacityGB"] = std::strtoull(d.row.capacity.c_str(), nullptr, 10);
    j["bus"] = d.bus;
    j["busKind"] = busKindName(d.busKind);
    j["path"] = d.path;
    j["driveLetter"] = d.letter.empty() ? Json(nullptr) : Json(d.letter);
    return j;
}

// Finds the drives a list of DISK arguments names. Exit 3 for one that names no drive, 2
// for a serial number that more than one drive carries.
Outcome resolveDisks(const std::vector<std::string>& args, const std::vector<Drive>& drives,
                     std::vector<int>& rows) {
    std::set<int> chosen;
    for (const std::string& arg : args) {
        std::vector<int> found;
        std::string serial = arg;
        bool bySerialOnly = false;
        if (arg.rfind("serial:", 0) == 0) {
            serial = arg.substr(7);
            bySerialOnly = true;
        }
        if (!bySerialOnly && allDigits(arg)) {
            const long n = std::strtol(arg.c_str(), nullptr, 10);
            if (n < 1 || n > static_cast<long>(drives.size())) {
                return {kExitNoDrive, "no disk " + arg + " (the scan found " +
                                          std::to_string(drives.size()) + " drives)"};
            }
            found.push_back(static_cast<int>(n) - 1);
        } else {
            const std::string lowered = lowerAscii(arg);
            for (const Drive& d : drives) {
                if (!bySerialOnly && !d.path.empty() && lowerAscii(d.path) == lowered) {
                    found.push_back(d.disk - 1);
                }
            }
            if (found.empty()) {
                for (const Drive& d : drives) {
                    if (!serial.empty() && d.row.serial == serial) found.push_back(d.disk - 1);
                }
            }
            if (found.empty()) return {kExitNoDrive, "no drive matches '" + arg + "'"};
            if (found.size() > 1) {
                return {kExitUsage, "serial number '" + serial + "' matches " +
                                        std::to_string(found.size()) +
                                        " drives: name them by disk number or device path"};
            }
        }
        chosen.insert(found.front());
    }
    rows.assign(chosen.begin(), chosen.end());
    return {};
}

// ---------------------------------------------------------------------------------------
class Program {
public:
    Program(Streams& io, const Host& host) : io_(io), host_(host) {}

    int run(const std::vector<std::string>& args);

private:
    Outcome parse(const std::vector<std::string>& args, bool& helpShown);
    Outcome checkInputs();
    Outcome openBackend();
    Outcome scan();
    Outcome confirmDrives(const std::vector<int>& rows, const char* action);
    Outcome readPassword(std::string& password);

    Outcome list();
    Outcome explain();
    Outcome smart();
    Outcome update();
    Outcome erase();
    Outcome inspectPackage();

    Outcome finishDriveAction(const std::vector<int>& rows, const char* failedText);
    OutcomeReason reasonOf(const TerminalRow& row, const std::string& status) const;
    void emit(const Json& j) {
        io_.out << dumpJson(j) << "\n";
        emitted_ = true;
    }
    Json document() const {
        Json j;
        j["schema"] = kSchema;
        j["version"] = kVersionText;
        j["command"] = request_.command;
        return j;
    }
    const char* env(const char* name) const {
        const char* v = host_.getenv ? host_.getenv(name) : nullptr;
        return v != nullptr && *v != '\0' ? v : nullptr;
    }

    Streams& io_;
    const Host& host_;
    Request request_;
    std::unique_ptr<CliBackend> backend_;
    MainState state_;
    std::unique_ptr<TerminalUser> user_;
    std::vector<Drive> drives_;
    bool emitted_ = false;  // one document per run: an error after it goes to standard error only
    std::map<int, DriveAfterUpdate> afterUpdate_;  // the read-back of every drive that passed
    std::unique_ptr<DeviceHold> hold_;  // the device lock of the run; goes before the back-end
};

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
            wipeString(r.passwordArgument);
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
        wipeString(r.passwordArgument);
        // The parser keeps its own copy of what it was given.
        for (std::string& s : const_cast<CLI::results_t&>(erase->get_option("--password")->results())) {
            wipeString(s);
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

Outcome Program::openBackend() {
    const char* fromEnv = env("QXUPDATER_DEVICES");
    const std::string devices = request_.devicesGiven ? request_.devices : (fromEnv ? fromEnv : "");
    if (!devices.empty() && devices != "sim" && devices.rfind("sim:", 0) != 0 &&
        devices.rfind("replay:", 0) != 0) {
        return {kExitUsage, "unknown device back-end '" + devices +
                                "' (leave it empty for the real disks, or use sim, sim:PATH or "
                                "replay:PATH)"};
    }
    const char* trace = env("QXUPDATER_TRACE");
    std::string error;
    HostOptions options = host_.backendOptions;
    if (!options.diagnostics) {
        options.diagnostics = [this](const std::string& line) { io_.err << line << "\n"; };
    }
    backend_ = CliBackend::open(devices, trace ? trace : "", options, error);
    if (!backend_) return {kExitBackend, error};
    backend_->install();
    // One process at a time sends commands to the drives: the hold lasts the whole run, the
    // scan included, so nothing of another process lands between the commands of this one.
    const bool writes = request_.command == "update" || request_.command == "erase";
    hold_ = std::make_unique<DeviceHold>(state_, writes ? DeviceUse::Write : DeviceUse::Read,
                                         static_cast<uint32_t>(request_.waitSeconds * 1000.0));
    if (!hold_->granted()) return {kExitUsage, hold_->refusal()};
    if (host_.onBackend) host_.onBackend(backend_->host());
    return {};
}

Outcome Program::scan() {
    ResetDriveTable();
    ResetDeviceSlots();
    ScanWork(state_, *user_);
    drives_ = collectDrives(state_, *user_);
    if (backend_->enumerationFailed()) {
        return {kExitBackend, "the disks of the system could not be listed"};
    }
    if (drives_.empty() && backend_->permissionDenied()) {
        return {kExitBackend, "the disks cannot be used: permission denied for pass-through "
                              "(run as root or Administrator)"};
    }
    return {};
}

Outcome Program::confirmDrives(const std::vector<int>& rows, const char* action) {
    if (request_.yes) return {};
    for (int row : rows) {
        const Drive& d = drives_[static_cast<size_t>(row)];
        io_.err << "Type the serial number of disk " << d.disk << " (" << d.row.model << ", "
                << d.path << ") to " << action << " it: " << std::flush;
        std::string typed;
        if (!std::getline(io_.in, typed)) typed.clear();
        if (!typed.empty() && typed.back() == '\r') typed.pop_back();
        if (trim(typed) != d.row.serial || d.row.serial.empty()) {
            return {kExitUsage, "the serial number typed for disk " + std::to_string(d.disk) +
                                    " does not match: nothing was sent"};
        }
    }
    return {};
}

Outcome Program::readPassword(std::string& password) {
    password.clear();
    if (request_.passwordStdin) {
        const LineRead read = host_.readSecretLine ? host_.readSecretLine(password)
                                                   : ReadBoundedLine(io_.in, password, kMaxPasswordBytes);
        if (read == LineRead::TooLong) {
            return {kExitUsage, "the password on standard input is longer than 4096 bytes: nothing was sent"};
        }
        if (read == LineRead::End) wipeString(password);
    } else {
        std::ifstream f(Utf8Path(request_.passwordFile), std::ios::binary);
        if (!f.is_open()) return {kExitUsage, "cannot read the password file '" + request_.passwordFile + "'"};
        std::string text(kMaxPasswordBytes + 1, '\0');
        f.read(text.data(), static_cast<std::streamsize>(text.size()));
        const auto got = static_cast<size_t>(f.gcount());
        if (got > kMaxPasswordBytes) {
            wipeString(text);
            return {kExitUsage, "the password file is larger than 4096 bytes"};
        }
        const size_t end = std::min(got, text.find('\n'));
        password.assign(text.data(), end);
        wipeString(text);
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) return {kExitUsage, "no password: nothing was sent"};
    return {};
}

// ---------------------------------------------------------------------------------------
Outcome Program::list() {
    if (request_.json) {
        Json j = document();
        j["drives"] = Json::array();
        for (const Drive& d : drives_) j["drives"].push_back(driveJson(d));
        emit(j);
        return {};
    }
    std::vector<std::vector<std::string>> table = {
        {"Disk", "Model", "Serial No.", "FW Rev.", "Capacity(GB)", "Bus", "Letter", "Device path"}};
    for (const Drive& d : drives_) {
        table.push_back({d.row.caption, d.row.model, d.row.serial, d.row.firmware, d.row.capacity,
                         d.bus, d.letter.empty() ? "" : d.letter + ":", d.path});
    }
    std::vector<size_t> width(table.front().size(), 0);
    for (const auto& line : table) {
        for (size_t c = 0; c < line.size(); ++c) width[c] = std::max(width[c], line[c].size());
    }
    for (const auto& line : table) {
        std::string text;
        for (size_t c = 0; c < line.size(); ++c) {
            text += line[c];
            if (c + 1 < line.size()) text += std::string(width[c] - line[c].size() + 2, ' ');
        }
        io_.out << text << "\n";
    }
    if (drives_.empty()) io_.out << "(no drive found)\n";
    return {};
}

std::string reasonText(const CandidateNote& n) {
    if (n.reason == "listed") return "listed as disk " + std::to_string(n.disk);
    if (n.reason == "no-bus-kind") return "the path names no known bus (ide, scsi, usb, sbp2)";
    if (n.reason == "rotating") {
        return "IDENTIFY reports a rotating disk (rotation rate " + std::to_string(n.rotationRate) + ")";
    }
    if (n.reason == "identify-failed") return "IDENTIFY DEVICE failed";
    if (n.reason == "no-vendor-answer") {
        return "no vendor answer after " + std::to_string(n.probeRounds) +
               " vendor-mode rounds: not the maker's controller";
    }
    if (n.reason == "inquiry-failed") return "INQUIRY failed";
    if (n.reason == "unknown-bridge-code") {
        return "INQUIRY code '" + printable(n.inquiryCode.data(), 4) + "' is none of the maker's bridges";
    }
    if (n.reason == "vendor-usb-device") {
        return "INQUIRY code '" + printable(n.inquiryCode.data(), 4) +
               "' (class 10) is a device of the vendor protocol over USB, not a bridge";
    }
    if (n.reason == "bridge-identify-failed") return "IDENTIFY DEVICE through the bridge failed";
    if (n.reason == "drive-table-full") return "the drive table is full (16 drives)";
    return n.reason;
}

Outcome Program::explain() {
    const auto& notes = user_->notes();
    if (request_.json) {
        Json j = document();
        j["candidates"] = Json::array();
        for (const CandidateNote& n : notes) {
            Json c;
            c["position"] = n.position;
            c["path"] = n.path;
            c["busKind"] = busKindName(n.busKind);
            c["bus"] = trim(n.busName);
            c["listed"] = n.listed;
            c["disk"] = n.listed ? Json(n.disk) : Json(nullptr);
            c["reason"] = n.reason;
            c["explanation"] = reasonText(n);
            if (n.probed) {
                Json answers = Json::array();
                for (size_t i = 0; i < n.probeAnswers.size(); ++i) {
                    const bool read = i < n.probeReadOk.size() && n.probeReadOk[i];
                    answers.push_back({{"read", read},
                                       {"bytes", HexText(n.probeAnswers[i].data(), 4)}});
                }
                c["identify"] = {{"ok", n.identifyOk}, {"rotationRate", n.rotationRate}};
                c["probe"] = {{"rounds", n.probeRounds}, {"answers", answers}};
            }
            if (n.inquiryAsked) {
                c["inquiry"] = {{"ok", n.inquiryOk},
                                {"code", printable(n.inquiryCode.data(), 4)},
                                {"codeHex", HexText(n.inquiryCode.data(), 4)},
                                {"class", n.bridgeClass}};
            }
            if (n.bridgeIdentifyAsked) c["bridgeIdentify"] = {{"ok", n.bridgeIdentifyOk}};
            j["candidates"].push_back(c);
        }
        emit(j);
        return {};
    }
    for (const CandidateNote& n : notes) {
        io_.out << "Candidate " << n.position << ": " << n.path << "\n";
        io_.out << "  bus: " << busKindName(n.busKind);
        if (!trim(n.busName).empty()) io_.out << " (" << trim(n.busName) << ")";
        io_.out << "\n";
        if (n.probed) {
            io_.out << "  IDENTIFY: " << (n.identifyOk ? "answered" : "failed")
                    << ", rotation rate " << n.rotationRate << "\n";
            for (size_t i = 0; i < n.probeAnswers.size(); ++i) {
                const bool read = i < n.probeReadOk.size() && n.probeReadOk[i];
                io_.out << "  vendor-mode round " << i + 1 << ": "
                        << (read ? "answer " + HexText(n.probeAnswers[i].data(), 4)
                                 : std::string("answer sector not read"))
                        << "\n";
            }
        }
        if (n.inquiryAsked) {
            io_.out << "  INQUIRY: " << (n.inquiryOk ? "answered" : "failed") << ", code '"
                    << printable(n.inquiryCode.data(), 4) << "', class " << n.bridgeClass << "\n";
        }
        if (n.bridgeIdentifyAsked) {
            io_.out << "  IDENTIFY through the bridge: "
                    << (n.bridgeIdentifyOk ? "answered" : "failed") << "\n";
        }
        io_.out << "  " << (n.listed ? "" : "passed over: ") << reasonText(n) << "\n";
    }
    if (notes.empty()) io_.out << "(no disk interface found)\n";
    return {};
}

Outcome Program::smart() {
    std::vector<int> rows;
    Outcome o = resolveDisks(request_.disks, drives_, rows);
    if (o.code != kExitOk) return o;
    const int row = rows.front();
    for (auto& r : user_->rows()) r.checked = false;
    user_->rows()[static_cast<size_t>(row)].checked = true;
    SmartInfoBtnClick(state_, *user_);
    const Drive& d = drives_[static_cast<size_t>(row)];
    const bool ok = user_->smartRead();
    if (request_.json) {
        Json j = document();
        j["disk"] = d.disk;
        j["serial"] = d.row.serial;
        j["model"] = d.row.model;
        j["ok"] = ok;
        j["lines"] = ok ? Json(user_->smartLines()) : Json::array();
        j["attributes"] = Json::array();
        if (ok) {
            for (const SmartAttributeView& a : DescribeSmartAttributes(SmartData.data())) {
                Json fields = Json::object();
                for (const auto& [key, value] : a.fields) fields[key] = value;
                j["attributes"].push_back({{"id", a.id},
                                           {"name", a.name},
                                           {"flags", a.flags},
                                           {"current", a.current},
                                           {"worst", a.worst},
                                           {"raw", HexText(a.raw.data(), a.raw.size())},
                                           {"fields", fields},
                                           {"lines", a.lines}});
            }
        }
        emit(j);
    } else if (ok) {
        io_.out << "Disk " << d.disk << " " << d.row.model << " " << d.row.serial << "\n";
        for (const std::string& line : user_->smartLines()) io_.out << line << "\n";
    }
    if (!ok) return {kExitFailed, "the SMART data of disk " + std::to_string(d.disk) + " could not be read"};
    return {};
}

namespace {

// The read-back of a drive that passed, as a line of the text output.
std::string afterText(const DriveAfterUpdate& a) {
    if (!a.reason.empty()) return "not read back (" + a.reason + ")";
    return "now firmware " + a.firmware + ", build " + a.build +
           (a.running ? ": runs the new firmware" : ": runs the new firmware after a power cycle");
}

}  // namespace

// Why a drive that did not pass did not: what the procedure told, else what stopped the
// action, else the failure of the command itself (docs/cli.md, table of reasons).
OutcomeReason Program::reasonOf(const TerminalRow& row, const std::string& status) const {
    if (!row.reason.code.empty()) return row.reason;
    if (status.empty()) {
        if (!user_->actionReason().code.empty()) return user_->actionReason();
        return {"stopped", {}};
    }
    return {request_.command + "-failed", {}};
}

// The outcome of an update or erase: one status per asked drive, exit 1 when one failed,
// 2 when the procedure stopped before reaching the drives (it told why).
Outcome Program::finishDriveAction(const std::vector<int>& rows, const char* failedText) {
    bool failed = false, stopped = false;
    Json drives = Json::array();
    for (int row : rows) {
        const Drive& d = drives_[static_cast<size_t>(row)];
        const std::string status = user_->rows()[static_cast<size_t>(row)].status;
        failed = failed || status == "Fail";
        stopped = stopped || status.empty();
        Json drive = {{"disk", d.disk},
                      {"serial", d.row.serial},
                      {"model", d.row.model},
                      {"path", d.path},
                      {"outcome", status.empty() ? Json(nullptr) : Json(status)}};
        if (status != "Pass") {
            const OutcomeReason reason = reasonOf(user_->rows()[static_cast<size_t>(row)], status);
            drive["reason"] = reason.code;
            if (!reason.details.empty()) {
                Json details = Json::object();
                for (const auto& [name, text] : reason.details) details[name] = text;
                drive["details"] = details;
            }
        }
        const auto after = afterUpdate_.find(row);
        if (after != afterUpdate_.end()) {
            const DriveAfterUpdate& a = after->second;
            if (a.reason.empty()) {
                drive["after"] = {{"firmware", a.firmware}, {"build", a.build}, {"running", a.running}};
            } else {
                drive["after"] = nullptr;
                drive["reason"] = a.reason;
            }
        }
        drives.push_back(drive);
        if (!request_.json && !status.empty()) {
            io_.out << "Disk " << d.disk << " " << d.row.serial << ": " << status << "\n";
            if (after != afterUpdate_.end()) io_.out << "  " << afterText(after->second) << "\n";
        }
    }
    const bool powerOffAsked = request_.powerOff && user_->shutdownPrompts() > 0;
    if (request_.json) {
        Json j = document();
        if (request_.command == "update") j["mode"] = state_.PackageMode != 0 ? "package" : "image";
        j["drives"] = drives;
        j["log"] = user_->log();
        if (!user_->notices().empty()) j["notices"] = user_->notices();
        if (request_.command == "update") j["powerOff"] = powerOffAsked;
        emit(j);
    }
    io_.out.flush();
    if (stopped) {
        const std::string why = user_->notices().empty() ? std::string("the procedure stopped")
                                                         : user_->notices().back();
        return {kExitUsage, why};
    }
    if (user_->shutdownPrompts() > 0) {
        if (powerOffAsked) {
            int issued = 0;
            if (host_.powerOff && !backend_->simulated()) {
                issued = host_.powerOff();
            } else if (platform().kernel != nullptr) {
                issued = platform().kernel->shutDownComputer();
            }
            if (issued == 0) io_.err << kProgram << ": the power-off was refused\n";
        } else {
            io_.err << "Shut the computer down to finish the update (or use --power-off).\n";
        }
    }
    if (failed) return {kExitFailed, failedText};
    return {};
}

Outcome Program::update() {
    std::vector<int> rows;
    if (request_.all) {
        for (const Drive& d : drives_) rows.push_back(d.disk - 1);
        if (rows.empty()) return {kExitNoDrive, "no drive found to update"};
    } else {
        Outcome o = resolveDisks(request_.disks, drives_, rows);
        if (o.code != kExitOk) return o;
    }
    Outcome o = confirmDrives(rows, "update");
    if (o.code != kExitOk) return o;
    if (state_.PackageMode == 0) {
        user_->setImagePath(request_.image);
        state_.firmwareVer = request_.revision;
        if (!request_.revisionGiven) {
            const std::string ini = BuildIniPath(host_.executablePath);
            std::error_code ec;
            state_.firmwareVer = std::filesystem::exists(Utf8Path(ini), ec)
                                     ? platform().kernel->profileString("DeviceSetting", "FirmwareVer", "1.0", ini)
                                     : std::string("0.0");
        }
    }
    for (auto& r : user_->rows()) r.checked = false;
    for (int row : rows) user_->rows()[static_cast<size_t>(row)].checked = true;
    state_.skipCurrent = request_.skipCurrent;
    DownloadCodeBtnClick(state_, *user_);
    // Every drive that passed is read back: what it runs now. A read-back that fails leaves
    // the outcome "Pass" (the firmware was written) and says why.
    for (int row : rows) {
        const TerminalRow& r = user_->rows()[static_cast<size_t>(row)];
        if (r.status == "Pass") afterUpdate_[row] = ReadDriveAfterUpdate(row, r.imageBuildInfo);
    }
    return finishDriveAction(rows, "the update of at least one drive failed");
}

Outcome Program::erase() {
    std::vector<int> rows;
    Outcome o = resolveDisks(request_.disks, drives_, rows);
    if (o.code != kExitOk) return o;
    o = confirmDrives(rows, "erase");
    if (o.code != kExitOk) return o;
    std::string password;
    o = readPassword(password);
    if (o.code != kExitOk) {
        wipeString(password);
        return o;
    }
    user_->setSecret(password);
    wipeString(password);
    for (auto& r : user_->rows()) r.checked = false;
    for (int row : rows) user_->rows()[static_cast<size_t>(row)].checked = true;
    SecureEraseBtnClick(state_, *user_);
    user_->setSecret("");
    return finishDriveAction(rows, "the secure erase of at least one drive failed");
}

Outcome Program::inspectPackage() {
    PackageDescription p;
    std::string error;
    if (!DescribePackage(request_.file, p, error)) return {kExitUsage, error};
    if (request_.json) {
        Json j = document();
        j["file"] = request_.file;
        j["size"] = p.size;
        j["versionText"] = p.versionText;
        j["productName"] = p.productName;
        j["pictureFlag"] = p.pictureFlag;
        j["imageBase"] = p.imageBase;
        j["slotCount"] = p.slots.size();
        j["slots"] = Json::array();
        for (const PackageSlotDescription& s : p.slots) {
            j["slots"].push_back({{"slot", s.slot},
                                  {"length", s.length},
                                  {"usable", s.usable},
                                  {"checksumValid", s.checksumValid},
                                  {"svnVersion", s.build.svnVersion},
                                  {"buildDate", s.build.buildDate},
                                  {"modelCode", s.build.modelCode},
                                  {"fwVer", s.build.fwVer},
                                  {"binFileCode", s.build.binFileCode},
                                  {"customerId", s.build.customerId},
                                  {"fileName", "SYS_" + s.build.binFileCode + ".bin"}});
        }
        emit(j);
        return {};
    }
    io_.out << "File:          " << request_.file << " (" << p.size << " bytes)\n";
    io_.out << "Version text:  " << p.versionText << "\n";
    io_.out << "Product name:  " << p.productName << "\n";
    io_.out << "Picture:       " << (p.pictureFlag ? "yes" : "no") << "\n";
    io_.out << "Image base:    0x" << std::hex << p.imageBase << std::dec << "\n";
    io_.out << "Slots:         " << p.slots.size() << "\n";
    for (const PackageSlotDescription& s : p.slots) {
        io_.out << "  slot " << s.slot << ": " << s.length << " bytes, FwVer " << s.build.fwVer
                << ", SYS_" << s.build.binFileCode << ".bin, CustomerID " << s.build.customerId
                << ", SVN " << s.build.svnVersion << ", built " << s.build.buildDate
                << (s.checksumValid ? "" : ", checksum wrong") << (s.usable ? "" : ", not usable")
                << "\n";
    }
    return {};
}

int Program::run(const std::vector<std::string>& args) {
    bool helpShown = false;
    Outcome o = parse(args, helpShown);
    if (helpShown) return kExitOk;
    const auto fail = [&](const Outcome& failure) {
        if (request_.json && !request_.command.empty() && !emitted_) {
            Json j = document();
            j["error"] = failure.message;
            j["exitCode"] = failure.code;
            emit(j);
        }
        io_.err << kProgram << ": " << failure.message << "\n";
        return failure.code;
    };
    if (o.code != kExitOk) return fail(o);
    if (request_.command == "package inspect") {
        o = inspectPackage();
        return o.code == kExitOk ? kExitOk : fail(o);
    }

    // The inputs are checked before the back-end opens: a refusal sends nothing to a drive.
    const Platform previous = platform();
    struct Restore {
        Platform p;
        ~Restore() { installPlatform(p); }
    } restore{previous};
    o = checkInputs();
    if (o.code != kExitOk) return fail(o);
    o = openBackend();
    if (o.code != kExitOk) {
        const int code = fail(o);
        if (backend_ && host_.onFinish) host_.onFinish(backend_->host());
        return code;
    }

    const bool echoLog = request_.command == "update" || request_.command == "erase";
    user_ = std::make_unique<TerminalUser>(io_.err, io_.errIsTerminal, echoLog);
    state_.caption = std::string("Quorvex ") + kControllerModel + " Toolbox " + kVersionText;
    state_.appTitle = state_.caption;
    o = scan();
    if (o.code == kExitOk) {
        if (request_.command == "list") o = list();
        else if (request_.command == "explain") o = explain();
        else if (request_.command == "smart") o = smart();
        else if (request_.command == "update") o = update();
        else if (request_.command == "erase") o = erase();
    }
    const int code = o.code == kExitOk ? kExitOk : fail(o);
    if (host_.onFinish) host_.onFinish(backend_->host());
    hold_.reset();
    user_.reset();
    backend_.reset();
    return code;
}

}  // namespace

LineRead ReadBoundedLine(std::istream& in, std::string& line, size_t max) {
    wipeString(line);
    line.reserve(max + 1);
    bool any = false;
    for (;;) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) return any ? LineRead::Ok : LineRead::End;
        any = true;
        if (c == '\n') return LineRead::Ok;
        if (line.size() >= max) {
            wipeString(line);
            return LineRead::TooLong;
        }
        line.push_back(static_cast<char>(c));
    }
}

int runCli(const std::vector<std::string>& args, Streams& streams, const Host& host) {
    try {
        Program program(streams, host);
        return program.run(args);
    } catch (const std::exception& e) {
        streams.err << kProgram << ": " << e.what() << "\n";
        return kExitUsage;
    }
}

}  // namespace qx::cli
