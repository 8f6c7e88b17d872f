// The firmware package appended to the executable, the firmware image layout, and the
// stand-alone .bin image file. Every read bounds itself by its field. Paths are UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx {

constexpr uint32_t kPackageHeaderOffset = 0x2FFE00;  // 3,145,216
constexpr uint32_t kPackageHeaderSize = 512;
constexpr uint32_t kPictureAreaOffset = 0x300000;    // 3,145,728
constexpr uint32_t kPictureAreaSize = 0x14000;       // 81,920
constexpr uint32_t kImageBaseNoPicture = 0x300000;
constexpr uint32_t kImageBaseWithPicture = 0x314000;  // 3,227,648
constexpr uint32_t kSlotHeaderSize = 16;
constexpr uint32_t kImageArea = 0x28000;             // 163,840
constexpr uint32_t kSlotSize = kSlotHeaderSize + kImageArea;  // 163,856
constexpr uint32_t kVersionTextWidth = 14;
constexpr uint32_t kProductNameWidth = 12;
constexpr uint32_t kPictureFlagOffset = 32;

// Image offsets.
constexpr uint32_t kIdentifyTemplateOffset = 76;
constexpr uint32_t kBuildInfoOffset = 768;
constexpr uint32_t kBuildInfoSize = 64;

struct PackageStartup {
    bool opened = false;
    std::array<uint8_t, kPackageHeaderSize> header{};
    std::vector<uint8_t> picture;  // 81,920 bytes when the picture flag is set
};

// Start-up read: header at 0x2FFE00 and, with the picture flag, the picture area.
PackageStartup ReadPackageStartup(const std::string& exePath);

// Header texts, read only within their fields (14 and 12 bytes), cut at the first NUL.
std::string HeaderVersionText(const std::array<uint8_t, kPackageHeaderSize>& header);
std::string HeaderProductName(const std::array<uint8_t, kPackageHeaderSize>& header);
bool HeaderPictureFlag(const std::array<uint8_t, kPackageHeaderSize>& header);

uint32_t ImageBase(bool pictureFlag);
// (exeFileSize - base) / 163,840, never negative.
int32_t SlotCount(int32_t exeFileSize, bool pictureFlag);

// Enumerates the slots in file order, up to the end of the package data (PackageDataEnd:
// an Authenticode certificate table behind the last slot is left out). The consumer gets (slot index, image length, the
// 163,840-byte image area) and returns true to accept; enumeration stops there and
// `buffer` keeps the accepted image. Returns the accepted slot index, or -1.
int EnumeratePackageImages(const std::string& exePath, bool pictureFlag, int32_t exeFileSize,
                           std::vector<uint8_t>& buffer,
                           const std::function<bool(int slot, uint32_t length,
                                                    const std::vector<uint8_t>& image)>& consumer);

// The whole package checked before any drive is addressed: the header and (with its flag)
// the picture area within the file, the slots back to back up to the end of the slot row,
// which is the end of the file or, in a signed executable, the start of its certificate
// table; every slot's image length and checksum. A slot cut short refuses the package; a
// slot whose length or checksum is wrong is never offered; a package without a usable
// slot is refused.
struct PackageSoundness {
    bool sound = false;
    std::string reason;       // why the package is refused (empty when sound)
    int32_t slotRowEnd = 0;   // where the last slot ends: the size the enumeration takes
    int slotCount = 0;
    int usableSlots = 0;
};
PackageSoundness CheckPackageWhole(const std::string& exePath, bool pictureFlag);

// A slot's image can be offered: its length holds its BuildInfo block and fits the image
// area, and its checksum is right.
bool SlotImageUsable(uint32_t length, const std::vector<uint8_t>& area);

// Loads a .bin file: fills `buffer` (163,840 bytes) from the file, 0xFF past its end.
// Returns false when the file cannot be opened; `length` receives the file size (0 when
// it cannot be taken), which may exceed the image area.
bool LoadImageFile(const std::string& path, std::vector<uint8_t>& buffer, uint64_t& length);

// BuildInfo fields as fixed-width character groups.
struct BuildInfoFields {
    std::string svnVersion;    // bytes 6-11
    std::string buildDate;     // bytes 15-25
    std::string modelCode;     // bytes 36-39
    std::string fwVer;         // bytes 41-42
    std::string binFileCode;   // bytes 43-46
    std::string customerId;    // bytes 48-51
    uint8_t option = 0;        // byte 63
};
BuildInfoFields ReadBuildInfo(const uint8_t* buildInfo64);

// Byte sum check of an image: bytes 0..length-3 plus byte length-1 sum to 0 mod 256.
bool ImageChecksumValid(const uint8_t* image, uint32_t length);
uint8_t ImageChecksumByte(const uint8_t* image, uint32_t length);

}  // namespace qx
