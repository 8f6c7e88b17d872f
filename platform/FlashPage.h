// The flash page size in the controller information record: what the updater reads from a
// drive (QXLib/SystemInfo) and what the bench's drives report (platform/sim).
#pragma once

#include <cstdint>

namespace qx {

// Sectors of 512 bytes per flash page by the page-size code (bits 0-2 of the record's flash
// information word). Codes 4 to 7 name no page size and give 0.
constexpr uint32_t SectorsPerFlashPage(uint32_t flashInfo) {
    switch (flashInfo & 7u) {
        case 0: return 4;
        case 1: return 8;
        case 2: return 16;
        case 3: return 32;
        default: return 0;
    }
}

}  // namespace qx
