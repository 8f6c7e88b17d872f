// Firmware packages as the command line reads them: the description of `package inspect`
// and the main-window state of package mode for `update --package`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/MainState.h"
#include "update/Package.h"

namespace qx::cli {

struct PackageSlotDescription {
    int slot = 0;
    uint32_t length = 0;         // from the slot header
    bool usable = false;         // 832 .. 163,840 bytes: an image the update can send
    bool checksumValid = false;
    BuildInfoFields build;       // texts cut at their first NUL, other bytes shown as '.'
};

struct PackageDescription {
    uint64_t size = 0;
    std::string versionText;
    std::string productName;
    bool pictureFlag = false;
    uint32_t imageBase = 0;
    std::vector<PackageSlotDescription> slots;
};

// False with a one-line error when the file cannot be read or carries no package.
bool DescribePackage(const std::string& path, PackageDescription& description, std::string& error);

// Package mode for the update: ExePath, ExeFileSize, PackageMode and the header, as the
// main window holds them when its own executable carries the package. `ownExecutable`
// only changes the error text.
bool LoadPackageState(const std::string& path, bool ownExecutable, MainState& state,
                      std::string& error);

}  // namespace qx::cli
