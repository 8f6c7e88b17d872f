// qxupdater-cli list: the drives of the scan, as a table or a JSON document.
#include <algorithm>
#include <cstdlib>

#include "cli/Program.h"

namespace qx::cli::detail {

namespace {

// A drive of the scan as the document of list shows it.
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

}  // namespace

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

}  // namespace qx::cli::detail
