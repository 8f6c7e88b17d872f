// qxupdater-cli: the JSON documents (docs/cli.md): one a run, and the drive as they show it.
#include <cstdlib>

#include "cli/Program.h"

namespace qx::cli::detail {

std::string dumpJson(const Json& j) {
    return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

const char* busKindName(int32_t kind) {
    switch (kind) {
        case 1: return "DEVICE_IDE";
        case 2: return "DEVICE_SCSI";
        case 3: return "DEVICE_USB";
        default: return "none";
    }
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

Json Program::document() const {
    Json j;
    j["schema"] = kSchema;
    j["version"] = kVersionText;
    j["command"] = request_.command;
    return j;
}

void Program::emit(const Json& j) {
    io_.out << dumpJson(j) << "\n";
    emitted_ = true;
}

}  // namespace qx::cli::detail
