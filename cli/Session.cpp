// qxupdater-cli: the back-end of a run, its scan, the drives it found and the choice of the
// drives a command acts on.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "QXLib/Transport.h"
#include "cli/Program.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "platform/Ascii.h"

namespace qx::cli::detail {

namespace {

bool allDigits(const std::string& s) {
    return !s.empty() && s.size() <= 6 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
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

}  // namespace

const char* busKindName(int32_t kind) {
    switch (kind) {
        case 1: return "DEVICE_IDE";
        case 2: return "DEVICE_SCSI";
        case 3: return "DEVICE_USB";
        default: return "none";
    }
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

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
            const std::string lowered = LowerAscii(arg);
            for (const Drive& d : drives) {
                if (!bySerialOnly && !d.path.empty() && LowerAscii(d.path) == lowered) {
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

}  // namespace qx::cli::detail
