// The Windows disk enumeration behind the platform seam: the present disk interfaces from
// the Setup API, drive letters, the Windows directory, the version query and the
// device-tree rescan of the configuration manager.
#pragma once

#include "platform/Platform.h"

namespace qx {

class WinSystem final : public SystemInfoSource {
public:
    // Device interface paths of the disk interface class, present devices only, in the order
    // the Setup API lists them. Nothing when the information set cannot be obtained.
    std::optional<std::vector<std::string>> diskInterfaces() override;
    uint32_t logicalDrives() override;
    std::string windowsDirectory() override;
    // GetVersionExA with the extended record first, then the basic one.
    OsVersion osVersion() override;
    // CM_Locate_DevNodeA on the root, then CM_Reenumerate_DevNode.
    int rescan(uint32_t* code) override;
    // GetSystemPowerStatus: on battery when the AC line is offline and a system battery is
    // there (BatteryFlag neither 128 "no system battery" nor 255 "unknown"); the charge is
    // BatteryLifePercent (255: unknown).
    PowerSource powerSource() override;
    bool isWindows() override { return true; }
};

}  // namespace qx
