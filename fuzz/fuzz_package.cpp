// The firmware package behind the executable: the start-up read of the header (and the
// picture area), its texts, and the enumeration of the image slots with the BuildInfo codes
// and checksum of every image offered; the whole check before an update.
//
// Input: 4 bytes that say how much larger than the file the executable claims to be (a file
// cut or changed after its size was taken), the 512-byte header, then what follows the
// header in the file. The bytes land at 0x2FFE00 of a sparse file, so the file looks like a
// real utility with a package appended.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/FuzzPlatform.h"
#include "update/Package.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("qxupdater");
    if (size < 4) return 0;
    const uint32_t claimedExtra =
        (data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24)) %
        (4 * kSlotSize);
    if (!file.write(data + 4, size - 4, kPackageHeaderOffset)) return 0;
    const uint64_t fileSize = kPackageHeaderOffset + (size - 4);

    const PackageStartup startup = ReadPackageStartup(file.path());
    if (!startup.opened) std::abort();
    const std::string version = HeaderVersionText(startup.header);
    const std::string product = HeaderProductName(startup.header);
    if (version.size() > kVersionTextWidth || product.size() > kProductNameWidth) std::abort();
    const bool pictureFlag = HeaderPictureFlag(startup.header);
    if (pictureFlag && startup.picture.size() != kPictureAreaSize) std::abort();

    std::vector<uint8_t> buffer;
    const auto exeSize = static_cast<int32_t>(fileSize + claimedExtra);
    int offered = 0;
    const int accepted = EnumeratePackageImages(
        file.path(), pictureFlag, exeSize, buffer,
        [&](int slot, uint32_t length, const std::vector<uint8_t>& image) {
            if (slot != offered++ || image.size() != kImageArea) std::abort();
            const BuildInfoFields f = ReadBuildInfo(image.data() + kBuildInfoOffset);
            (void)f;
            // The image ends in the file: the slot lies whole before the end.
            const uint64_t end = ImageBase(pictureFlag) + static_cast<uint64_t>(slot) * kSlotSize +
                                 kSlotHeaderSize + std::min<uint64_t>(length, kImageArea);
            if (end > fileSize) std::abort();
            return ImageChecksumValid(image.data(), length);
        });
    if (accepted >= 0 && (buffer.size() != kImageArea || accepted >= SlotCount(exeSize, pictureFlag)))
        std::abort();

    // The whole check: a sound package is slots back to back within the file, with at least
    // one usable image; a refused one says why.
    const PackageSoundness whole = CheckPackageWhole(file.path(), pictureFlag);
    if (whole.sound) {
        const uint64_t row = static_cast<uint64_t>(whole.slotRowEnd) - ImageBase(pictureFlag);
        if (static_cast<uint64_t>(whole.slotRowEnd) > fileSize || row % kSlotSize != 0 ||
            row / kSlotSize != static_cast<uint64_t>(whole.slotCount) || whole.usableSlots < 1 ||
            whole.usableSlots > whole.slotCount || SlotCount(whole.slotRowEnd, pictureFlag) != whole.slotCount) {
            std::abort();
        }
    } else if (whole.reason.empty()) {
        std::abort();
    }
    return 0;
}
