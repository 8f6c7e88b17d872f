// The controller information record: VP_GetSystemInfo reads SystemInfo from controller
// memory space 3, keeps the running firmware's BuildInfo for the update, copies the system
// block numbers into the drive's DeviceSlot, and then looks for the controller's system
// page in the flash (stage 2).
#include "QXLib/SystemInfo.h"

#include <cstring>

#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "platform/FlashPage.h"
#include "platform/LittleEndian.h"

namespace qx {

std::array<uint8_t, 64> DriveBuildInfo{};

namespace {

// The system page signature and the layout version that goes with it. Chosen by the model
// code of the drive read last and kept for models outside both known groups.
std::array<uint8_t, 16> gSignature{};
uint8_t gLayoutVersion = 0;

constexpr char kSignatureV40[16] = "LDBK BLOCKS V40";  // 15 characters and the NUL
constexpr char kSignatureV50[16] = "LDBK BLOCKS V50";

constexpr uint8_t kSystemInfoSpace = 3;
constexpr uint8_t kSystemInfoSectors = kSystemInfoSize / 512;
constexpr uint8_t kSystemPageSectors = 8;
constexpr uint8_t kSysReadEccMode = 3;

void selectSignature(const uint8_t* modelCode) {
    if (modelCode[0] != 't' || modelCode[1] != '7') return;
    const char generation = static_cast<char>(modelCode[2]);
    if (generation >= '1' && generation <= '3') {
        std::memcpy(gSignature.data(), kSignatureV40, gSignature.size());
        gLayoutVersion = 0;
    } else if (generation >= '4' && generation <= '6') {
        std::memcpy(gSignature.data(), kSignatureV50, gSignature.size());
        gLayoutVersion = 1;
    }
}

}  // namespace

const std::array<uint8_t, 16>& SelectedSystemPageSignature() { return gSignature; }
uint8_t SelectedLayoutVersion() { return gLayoutVersion; }

void ResetSystemInfoState() {
    DriveBuildInfo.fill(0);
    gSignature.fill(0);
    gLayoutVersion = 0;
}

bool VP_GetSystemInfo(uint8_t device, uint8_t* work) {
    if (work == nullptr || device >= kMaxDrives) return false;
    if (VA_ReadCodeFromMem(device, kSystemInfoSpace, 0, work, kSystemInfoSectors) != 1) return false;

    uint16_t blocks[4];
    for (int k = 0; k < 4; ++k) {
        blocks[k] = ReadLe16(work + kSystemInfoSystemBlocksOffset + 2 * k);
        DeviceSlot[device].SystemBlocks[k] = blocks[k];
    }
    std::memcpy(DriveBuildInfo.data(), work + kSystemInfoBuildInfoOffset, DriveBuildInfo.size());
    selectSignature(DriveBuildInfo.data() + 36);
    const uint32_t perPage = SectorsPerFlashPage(ReadLe16(work + kSystemInfoFlashInfoOffset));

    // Stage 2. The system page of an odd block lies 8 pages into the block unit. A
    // page-size code of 4 to 7 gives no page size: the odd block is then read at byte
    // offset 0 like the even one, so the four reads still go out and the procedure does
    // not fail; nothing depends on what stage 2 finds.
    for (int k = 0; k < 4; ++k) {
        std::memset(work, 0, kWorkBufferSize);
        const uint16_t b = blocks[k];
        const uint32_t offset = (b & 1u) != 0 ? 8u * perPage * 512u : 0u;
        VA_SysReadPage(device, 0, static_cast<uint16_t>(b / 2), 0, kSysReadEccMode, gLayoutVersion,
                       work, kSystemPageSectors, offset);
        if (std::memcmp(work, gSignature.data(), gSignature.size()) == 0) break;
    }
    return true;
}

}  // namespace qx
