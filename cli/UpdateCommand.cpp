// qxupdater-cli update: the firmware update of the asked drives, the read-back of every
// drive that passed, and the report of an update or an erase.
#include <filesystem>
#include <system_error>

#include "cli/Program.h"
#include "config/Config.h"
#include "platform/Platform.h"
#include "platform/Utf8Path.h"

namespace qx::cli::detail {

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

}  // namespace qx::cli::detail
