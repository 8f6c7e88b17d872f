// The SMART attribute catalogue and the report built from a SMART data sector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/MainState.h"
#include "app/UserSeam.h"

namespace qx {

std::vector<std::string> BuildSmartReport(const uint8_t* smartData512);

// "Smart Info" in the main window: picks SmartDrive and shows the SMART window.
void SmartInfoBtnClick(MainState& state, UserSeam& user);

// "Get Smart Info": on success returns true and the report lines; on failure false and
// the SMART window keeps its text.
bool GetSMARTInfo(std::vector<std::string>& lines);

}  // namespace qx
