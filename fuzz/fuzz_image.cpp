// A stand-alone .bin firmware image: the file load, the BuildInfo codes, the checksum and
// the personalisation that writes the drive's identity into it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "QXLib/MicroCode.h"
#include "support/FuzzPlatform.h"
#include "update/Package.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("SYS_A1B2.bin");
    if (!file.write(data, size)) return 0;
    std::vector<uint8_t> image;
    uint64_t length = 0;
    if (!LoadImageFile(file.path(), image, length)) std::abort();
    if (image.size() != kImageArea || length != size) std::abort();
    const BuildInfoFields f = ReadBuildInfo(image.data() + kBuildInfoOffset);
    if (f.svnVersion.size() != 6 || f.binFileCode.size() != 4) std::abort();

    const auto usable = static_cast<uint32_t>(std::min<uint64_t>(length, kImageArea));
    const bool valid = ImageChecksumValid(image.data(), usable);
    ApplyOptionRule(f.svnVersion.c_str(), image.data());
    // The world wide name as the scan would take it from the image's own identify template.
    const std::string wwn = WwnToText(image.data() + kIdentifyTemplateOffset + 216);
    if (wwn.size() != 16) std::abort();
    if (PersonaliseAndSeal(image.data(), usable, "QX0000000001", "QX SSD", wwn, "1.06")) {
        if (!ImageChecksumValid(image.data(), usable) && usable >= 3) std::abort();
    }
    (void)valid;
    return 0;
}
