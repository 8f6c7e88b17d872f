// Building, inspecting and synthesising firmware packages: the core of the qxpack tool and
// of the tests that need real package files. The utility itself only reads packages.
//
// Header bytes written here beyond the texts and the picture flag:
//   26-29  number of image slots that follow (uint32 LE)
//   30-31  header format version, currently 1 (uint16 LE)
// The utility does not read either; they let a tool tell what it is looking at.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "update/Package.h"

namespace qx {

constexpr uint32_t kHeaderSlotCountOffset = 26;
constexpr uint32_t kHeaderFormatOffset = 30;
constexpr uint16_t kHeaderFormatVersion = 1;
// With the slot stride of 163,856 bytes and the count taken as (size - base) / 163,840,
// the count read back is exact only below this many slots.
constexpr uint32_t kMaxPackageSlots = 10239;
// The shortest synthetic image: BuildInfo ends at 831, then the 0xA5 byte and the checksum.
constexpr uint32_t kMinSyntheticImageLength = kBuildInfoOffset + kBuildInfoSize + 2;

struct PackageBuildRequest {
    std::string exePath;
    std::string outPath;
    std::string versionText;   // at most 13 characters
    std::string productName;   // at most 11 characters
    std::string picturePath;   // empty: no picture, flag 0
    std::vector<std::string> imagePaths;
};

// Writes exe + zero padding + header [+ picture area] + one slot per image to outPath.
// A signed executable (a certificate table in its security directory) is refused.
// Returns false with `error` set, and no output file left behind, on any refusal.
bool BuildPackage(const PackageBuildRequest& request, std::string& error);

struct SyntheticImageSpec {
    uint32_t length = 0;          // kMinSyntheticImageLength .. kImageArea
    std::string buildInfo;        // at most 63 characters; byte 63 (option) stays 0
    std::string model;            // at most 40 characters
    std::string serial;           // at most 20 characters
    std::string firmware;         // at most 8 characters
    std::array<uint16_t, 4> wwn{};
    uint32_t seed = 1;            // pseudo-random fill of the code areas
};

// A firmware-shaped image: pseudo-random code, an IdentifyTemplate carrying the given
// model/serial/firmware/WWN (the rest of the template zero), the BuildInfo text, 0xA5 at
// length-2 and a valid checksum at length-1.
bool MakeSyntheticImage(const SyntheticImageSpec& setup, std::vector<uint8_t>& image,
                        std::string& error);

struct SlotInspection {
    int index = 0;
    uint32_t length = 0;
    bool complete = false;        // the file holds the whole slot header and image
    bool lengthInRange = false;   // 3 .. 163,840
    bool checksumValid = false;
    bool hasBuildInfo = false;    // length reaches past the BuildInfo block
    BuildInfoFields buildInfo;
};

struct PackageInspection {
    uint64_t fileSize = 0;
    std::string versionText;
    std::string productName;
    bool pictureFlag = false;
    uint32_t imageBase = 0;
    int32_t slotCount = 0;
    uint32_t headerSlotCount = 0;
    uint16_t headerFormat = 0;
    uint32_t certificateOffset = 0;  // the executable's Authenticode table; size 0: unsigned
    uint32_t certificateSize = 0;
    std::vector<SlotInspection> slots;
};

bool InspectPackage(const std::string& path, PackageInspection& result, std::string& error);
std::string FormatInspection(const PackageInspection& inspection);

}  // namespace qx
