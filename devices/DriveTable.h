// The drive table: what the utility knows about each accepted drive. Drive i is DriveInfo
// i, DeviceSlot i, list row i and DeviceList entry i.
#pragma once

#include <cstdint>
#include <string>

#include "QXLib/Transport.h"

namespace qx {

struct DriveInfoRecord {
    char devicePath[256];
    uint8_t identify[512];
    int32_t busKind;
};

extern DriveInfoRecord DriveInfo[kMaxDrives];

// Identify text fields, read within their widths.
constexpr int kSerialOffset = 20, kSerialWidth = 20;
constexpr int kFirmwareOffset = 46, kFirmwareWidth = 8;
constexpr int kModelOffset = 54, kModelWidth = 40;
constexpr int kWwnOffset = 216;  // words 108-111

// The field as text: at most `width` bytes, cut at the first NUL.
std::string IdentifyText(const uint8_t* identify, int offset, int width);
// As IdentifyText, then blanks removed at both ends.
std::string IdentifyTextTrimmed(const uint8_t* identify, int offset, int width);

void ResetDriveTable();

}  // namespace qx
