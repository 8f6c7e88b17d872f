// The controller's vendor command channel (module V_Access of QXLib): the 16-byte vendor
// command block, its SATA framing, vendor mode on/off, the vendor-mode probe, and the few
// standard commands the utility builds on the same layer (IDENTIFY, SET FEATURES, INQUIRY).
// Single commands return 1 for success and 2 for failure.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace qx {

using VendorCmdBlock = std::array<uint8_t, 16>;

// Chooses the ATA opcodes of the SATA framing: 2 → 0x88/0x86 (DMA), 1 → 0x8F/0x8A (PIO).
// Process-wide, set by the scan before the first vendor command to a device.
extern uint8_t VendorXferMode;

// The answer a controller in vendor mode puts at the start of its answer sector.
constexpr std::array<uint8_t, 4> VendorAnswer = {0xE5, 0x51, 0x58, 0x00};

int VC_SATA_WriteCmd(uint8_t device, const uint8_t* data, uint8_t sectors, uint8_t lbaLow);
int VC_SATA_ReadCmd(uint8_t device, uint8_t* data, uint8_t sectors, uint8_t lbaLow);
bool VC_ExecVendorCmd(uint8_t device, bool fromDevice, const VendorCmdBlock& block,
                      uint8_t* data, uint8_t sectors);

// What the vendor-mode probe asked and got, for a caller that explains the scan.
struct VendorProbeNote {
    bool identifyOk = false;
    int rotationRate = 0;                    // IDENTIFY word 217 (0 when the IDENTIFY failed)
    int rounds = 0;                          // vendor-mode rounds sent
    std::vector<std::array<uint8_t, 4>> answers;  // first four bytes of each answer read
    std::vector<bool> readOk;                // per round: the answer sector could be read
};

bool VA_EnableVendorCmd(uint8_t device, bool on);
bool VA_CheckVendorMode(uint8_t device, VendorProbeNote* note = nullptr);
int VA_ReadCodeFromMem(uint8_t device, uint8_t space, uint32_t address, uint8_t* data,
                       uint8_t sectors);
int VA_SysReadPage(uint8_t device, uint8_t bank, uint16_t blockUnit, uint16_t page,
                   uint8_t eccMode, uint8_t layoutVersion, uint8_t* data, uint8_t sectors,
                   uint32_t byteOffset);

int VC_IdentifyDevice(uint8_t device, uint8_t* buffer, uint32_t sectors);
int VC_Inquiry(uint8_t device, uint8_t* buffer40);

// Size in 512-byte sectors from IDENTIFY DEVICE; 0 when it cannot be found. When words
// 60-61 are saturated (0x0FFFFFFF) the 48-bit count of words 100-103 is used in full.
uint64_t GetDriveSectorCount(uint8_t device);
uint64_t GetDriveCapacityMB(uint8_t device);

}  // namespace qx
