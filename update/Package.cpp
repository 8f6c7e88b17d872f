// Reads of the firmware package behind the executable and of stand-alone .bin images.
// Every read opens the file anew, seeks to an absolute offset, reads no more than its
// field and closes the file again; short reads leave the zeros (or 0xFF) put there first.
#include "update/Package.h"

#include <algorithm>
#include <cstring>

#include "platform/BinaryFile.h"
#include "platform/LittleEndian.h"
#include "update/PeCertificate.h"

namespace qx {

namespace {

// Reads up to `size` bytes at the current position; returns how many arrived.
size_t readSome(BinaryFile& in, uint8_t* dst, size_t size) { return in.read(dst, size); }

bool seekTo(BinaryFile& in, uint64_t offset) { return in.seek(offset); }

// A NUL-terminated text inside a fixed field: never reads past the field.
std::string fieldText(const uint8_t* field, size_t width) {
    const auto* begin = reinterpret_cast<const char*>(field);
    const auto* end = std::find(begin, begin + width, '\0');
    return std::string(begin, end);
}

std::string rawGroup(const uint8_t* block, size_t at, size_t width) {
    return std::string(reinterpret_cast<const char*>(block) + at, width);
}

constexpr uint64_t kMinUsableLength = kBuildInfoOffset + kBuildInfoSize;

}  // namespace

PackageSoundness CheckPackageWhole(const std::string& exePath, bool pictureFlag) {
    PackageSoundness r;
    BinaryFile in(exePath);
    const int64_t size = in.isOpen() ? in.size() : -1;
    if (size < 0) {
        r.reason = "the package cannot be read";
        return r;
    }
    const auto fileSize = static_cast<uint64_t>(size);
    const uint64_t base = ImageBase(pictureFlag);
    if (fileSize < kPackageHeaderOffset + kPackageHeaderSize) {
        r.reason = "the file ends before the end of the package header";
        return r;
    }
    if (fileSize < base) {
        r.reason = pictureFlag ? "the file ends inside the picture area" : "the package holds no image slot";
        return r;
    }
    // A signature's certificate table behind the last slot is not a slot.
    const uint64_t end = PackageDataEnd(ReadPeCertificateTable(exePath), fileSize, base);
    const uint64_t row = end - base;
    const uint64_t whole = row / kSlotSize;
    if (row % kSlotSize != 0) {
        r.reason = "slot " + std::to_string(whole) + " is cut short: the file ends " +
                   std::to_string(row % kSlotSize) + " bytes into it, " +
                   std::to_string(kSlotSize) + " are needed";
        return r;
    }
    if (whole == 0) {
        r.reason = "the package holds no image slot";
        return r;
    }
    if (whole >= static_cast<uint64_t>(kImageArea / kSlotHeaderSize)) {
        r.reason = "the package holds more slots than its count can tell";
        return r;
    }
    r.slotCount = static_cast<int>(whole);
    r.slotRowEnd = static_cast<int32_t>(end);  // below 2 GiB: bounded by the slot count
    std::vector<uint8_t> area(kImageArea);
    for (int slot = 0; slot < r.slotCount; ++slot) {
        std::array<uint8_t, kSlotHeaderSize> header{};
        if (!in.seek(base + static_cast<uint64_t>(slot) * kSlotSize) ||
            in.read(header.data(), header.size()) != header.size() ||
            in.read(area.data(), area.size()) != area.size()) {
            r.reason = "slot " + std::to_string(slot) + " cannot be read";
            return r;
        }
        if (SlotImageUsable(ReadLe32(header.data()), area)) ++r.usableSlots;
    }
    if (r.usableSlots == 0) {
        r.reason = "no slot holds a usable image (each image's length or checksum is wrong)";
        return r;
    }
    r.sound = true;
    return r;
}

bool SlotImageUsable(uint32_t length, const std::vector<uint8_t>& area) {
    return length >= kMinUsableLength && length <= kImageArea && area.size() >= kImageArea &&
           ImageChecksumValid(area.data(), length);
}

PackageStartup ReadPackageStartup(const std::string& exePath) {
    PackageStartup result;
    BinaryFile in(exePath);
    if (!in.isOpen()) return result;
    result.opened = true;
    if (seekTo(in, kPackageHeaderOffset)) readSome(in, result.header.data(), result.header.size());
    if (HeaderPictureFlag(result.header)) {
        result.picture.assign(kPictureAreaSize, 0);
        if (seekTo(in, kPictureAreaOffset)) readSome(in, result.picture.data(), result.picture.size());
    }
    return result;
}

std::string HeaderVersionText(const std::array<uint8_t, kPackageHeaderSize>& header) {
    return fieldText(header.data(), kVersionTextWidth);
}

std::string HeaderProductName(const std::array<uint8_t, kPackageHeaderSize>& header) {
    return fieldText(header.data() + kVersionTextWidth, kProductNameWidth);
}

bool HeaderPictureFlag(const std::array<uint8_t, kPackageHeaderSize>& header) {
    return header[kPictureFlagOffset] != 0;
}

uint32_t ImageBase(bool pictureFlag) {
    return pictureFlag ? kImageBaseWithPicture : kImageBaseNoPicture;
}

int32_t SlotCount(int32_t exeFileSize, bool pictureFlag) {
    const int64_t room = static_cast<int64_t>(exeFileSize) - ImageBase(pictureFlag);
    if (room <= 0) return 0;
    return static_cast<int32_t>(room / kImageArea);
}

int EnumeratePackageImages(const std::string& exePath, bool pictureFlag, int32_t exeFileSize,
                           std::vector<uint8_t>& buffer,
                           const std::function<bool(int slot, uint32_t length,
                                                    const std::vector<uint8_t>& image)>& consumer) {
    // A signature's certificate table behind the last slot is not a slot.
    const int32_t slots =
        SlotCount(PackageDataEnd(exePath, exeFileSize, ImageBase(pictureFlag)), pictureFlag);
    if (slots <= 0) return -1;
    BinaryFile in(exePath);
    if (!in.isOpen()) return -1;
    if (!seekTo(in, ImageBase(pictureFlag))) return -1;

    for (int slot = 0; slot < slots; ++slot) {
        std::array<uint8_t, kSlotHeaderSize> slotHeader{};
        const size_t headerBytes = readSome(in, slotHeader.data(), slotHeader.size());
        const uint32_t length = ReadLe32(slotHeader.data());
        // The area is overwritten by the read; only what the file did not supply is cleared,
        // which leaves the same bytes as clearing all of it first.
        buffer.resize(kImageArea);
        const size_t imageBytes = readSome(in, buffer.data(), buffer.size());
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(imageBytes), buffer.end(), uint8_t{0});
        // A slot cut short by the end of the file holds only part of its image: the rest
        // would be zeros, and a checksum recomputed over them would make a broken
        // firmware look whole. Such a slot is never offered.
        if (headerBytes < kSlotHeaderSize || imageBytes < std::min<uint64_t>(length, kImageArea))
            break;
        if (consumer(slot, length, buffer)) return slot;
    }
    buffer.assign(kImageArea, 0);
    return -1;
}

bool LoadImageFile(const std::string& path, std::vector<uint8_t>& buffer, uint64_t& length) {
    buffer.assign(kImageArea, 0xFF);
    BinaryFile in(path);
    const int64_t size = in.size();
    length = size < 0 ? 0 : static_cast<uint64_t>(size);
    if (!in.isOpen() || !in.seek(0)) return false;
    readSome(in, buffer.data(), buffer.size());  // past the end of the file stays 0xFF
    return true;
}

BuildInfoFields ReadBuildInfo(const uint8_t* buildInfo64) {
    BuildInfoFields f;
    f.svnVersion = rawGroup(buildInfo64, 6, 6);
    f.buildDate = rawGroup(buildInfo64, 15, 11);
    f.modelCode = rawGroup(buildInfo64, 36, 4);
    f.fwVer = rawGroup(buildInfo64, 41, 2);
    f.binFileCode = rawGroup(buildInfo64, 43, 4);
    f.customerId = rawGroup(buildInfo64, 48, 4);
    f.option = buildInfo64[63];
    return f;
}

uint8_t ImageChecksumByte(const uint8_t* image, uint32_t length) {
    if (length < 3 || length > kImageArea) return 0;
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 2 < length; ++i) sum += image[i];
    return static_cast<uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
}

bool ImageChecksumValid(const uint8_t* image, uint32_t length) {
    if (length < 3 || length > kImageArea) return false;
    return ImageChecksumByte(image, length) == image[length - 1];
}

}  // namespace qx
