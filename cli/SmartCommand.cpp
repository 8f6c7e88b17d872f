// qxupdater-cli smart: the SMART report of one drive, as "Get Smart Info" reads it.
#include "QXLib/Smart.h"
#include "cli/Program.h"
#include "platform/TraceCodec.h"
#include "smart/SmartReport.h"

namespace qx::cli::detail {

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

}  // namespace qx::cli::detail
