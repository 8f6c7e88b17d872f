// The configuration file QXUpdater.ini beside the executable (file mode only).
#pragma once

#include <cstdint>
#include <string>

#include "app/core/UserSeam.h"

namespace qx {

struct Configuration {
    std::string firmwareVer = "1.0";
    std::string customTitle = "N/A";
    int32_t customBkImage = 0;
    int32_t enFilterBinFile = 0;
};

// The directory of the executable up to and including its last separator, + name.
std::string BuildIniPath(const std::string& exePath);

// Where the file is used: beside the executable (BuildIniPath) when it is there already,
// when the platform has no system-wide place for it, or when the executable's folder takes
// it (a portable copy); otherwise the platform's system-wide path (an installed copy).
std::string ChooseIniPath(const std::string& exePath);

// Loads the file; when it is missing shows the "Error" box and creates it with
// FirmwareVer=0.0. Returns false with `error` set ("Unable to write to %s") when the file
// cannot be created.
bool LoadConfiguration(const std::string& iniPath, UserSeam& user, Configuration& config,
                       std::string& error);

// The custom-title rule: true when the first three characters differ from "N/A".
bool HasCustomTitle(const std::string& customTitle);

}  // namespace qx
