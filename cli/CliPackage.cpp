// Package description and package-mode state for the command line (CliPackage.h).
#include "cli/CliPackage.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/Utf8Path.h"
#include "update/PeCertificate.h"

namespace qx::cli {

namespace {

constexpr uint32_t kMinImageLength = kBuildInfoOffset + kBuildInfoSize;

std::string shown(const std::string& field) {
    std::string s = field.substr(0, field.find('\0'));
    for (char& c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) c = '.';
    }
    return s;
}

// The file's size, or false with the error text.
bool packageSize(const std::string& path, const char* what, uint64_t& size, std::string& error) {
    std::error_code ec;
    const std::filesystem::path p = Utf8Path(path);
    if (path.empty() || !std::filesystem::is_regular_file(p, ec)) {
        error = std::string("cannot read ") + what + " '" + path + "'";
        return false;
    }
    size = std::filesystem::file_size(p, ec);
    if (ec) {
        error = std::string("cannot read ") + what + " '" + path + "'";
        return false;
    }
    if (size < kPackageModeThreshold) {
        error = "'" + path + "' carries no firmware package (" + std::to_string(size) +
                " bytes; a package starts at 3145216 and needs at least 3145728)";
        return false;
    }
    return true;
}

int32_t clampedSize(uint64_t size) {
    constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(size > kMax ? kMax : size);
}

}  // namespace

bool DescribePackage(const std::string& path, PackageDescription& d, std::string& error) {
    d = PackageDescription{};
    if (!packageSize(path, "the package", d.size, error)) return false;
    const PackageStartup start = ReadPackageStartup(path);
    if (!start.opened) {
        error = "cannot read the package '" + path + "'";
        return false;
    }
    d.versionText = shown(HeaderVersionText(start.header));
    d.productName = shown(HeaderProductName(start.header));
    d.pictureFlag = HeaderPictureFlag(start.header);
    d.imageBase = ImageBase(d.pictureFlag);
    std::vector<uint8_t> buffer;
    EnumeratePackageImages(path, d.pictureFlag, clampedSize(d.size), buffer,
                           [&](int slot, uint32_t length, const std::vector<uint8_t>& area) {
                               PackageSlotDescription s;
                               s.slot = slot;
                               s.length = length;
                               s.usable = length >= kMinImageLength && length <= kImageArea;
                               if (area.size() >= kImageArea) {
                                   s.checksumValid = s.usable && ImageChecksumValid(area.data(), length);
                                   s.build = ReadBuildInfo(area.data() + kBuildInfoOffset);
                               }
                               s.build.svnVersion = shown(s.build.svnVersion);
                               s.build.buildDate = shown(s.build.buildDate);
                               s.build.modelCode = shown(s.build.modelCode);
                               s.build.fwVer = shown(s.build.fwVer);
                               s.build.binFileCode = shown(s.build.binFileCode);
                               s.build.customerId = shown(s.build.customerId);
                               d.slots.push_back(std::move(s));
                               return false;  // every slot is described
                           });
    return true;
}

bool LoadPackageState(const std::string& path, bool ownExecutable, MainState& state,
                      std::string& error) {
    uint64_t size = 0;
    if (!packageSize(path, "the package", size, error)) {
        if (ownExecutable) {
            error = "this program carries no firmware package: give --package FILE or --image FILE";
        }
        return false;
    }
    const PackageStartup start = ReadPackageStartup(path);
    if (!start.opened) {
        error = "cannot read the package '" + path + "'";
        return false;
    }
    const bool picture = HeaderPictureFlag(start.header);
    const int32_t end = PackageDataEnd(path, clampedSize(size), ImageBase(picture));
    if (SlotCount(end, picture) <= 0) {
        error = "the package '" + path + "' holds no image slot";
        return false;
    }
    // Checked whole before the back-end opens: nothing is sent for a damaged package.
    const PackageSoundness whole = CheckPackageWhole(path, picture);
    if (!whole.sound) {
        error = "the package '" + path + "' cannot be used: " + whole.reason + " (nothing was sent)";
        return false;
    }
    state.PackageMode = 1;
    state.ExePath = path;
    state.ExeFileSize = clampedSize(size);
    state.PackageHeader = start.header;
    return true;
}

}  // namespace qx::cli
