// The SMART attribute catalogue and the report built from a SMART data sector.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/core/MainState.h"
#include "app/core/UserSeam.h"

namespace qx {

std::vector<std::string> BuildSmartReport(const uint8_t* smartData512);

// A catalogued attribute of a SMART data sector, field by field: its entry as stored, the
// decoded values under their names, and the report lines it gives. In sector order, like
// the report.
struct SmartAttributeView {
    uint8_t id = 0;
    std::string name;
    uint16_t flags = 0;
    uint8_t current = 0;
    uint8_t worst = 0;
    std::array<uint8_t, 6> raw{};
    std::vector<std::pair<std::string, int>> fields;
    std::vector<std::string> lines;
};
std::vector<SmartAttributeView> DescribeSmartAttributes(const uint8_t* smartData512);

// "Smart Info" in the main window: picks SmartDrive and shows the SMART window.
void SmartInfoBtnClick(MainState& state, UserSeam& user);

// "Get Smart Info": on success returns true and the report lines; on failure false and
// the SMART window keeps its text.
bool GetSMARTInfo(std::vector<std::string>& lines);

}  // namespace qx
