// SMART acquisition: the three standard SMART commands (command 0xB0) packed as ATA
// PASS-THROUGH(12) blocks and sent through ExecDeviceCommand, on both the ATA and the SCSI
// path, and the process-wide SMART drive index and data sector.
#include "QXLib/Smart.h"

#include "QXLib/Transport.h"

namespace qx {

uint8_t SmartDrive = 0;
std::array<uint8_t, 512> SmartData{};
std::array<uint8_t, 512> SmartThresholds{};

namespace {

constexpr uint8_t kSmartEnableOperations = 0xD8;
constexpr uint8_t kSmartReadData = 0xD0;
constexpr uint8_t kSmartReadThresholds = 0xD1;

// Bytes 6 and 7 carry the signature 0x4F/0xC2 that SMART expects in LBA mid and high.
CommandBlock smartBlock(uint8_t protocol, uint8_t transfer, uint8_t subcommand, uint8_t count) {
    return {0xA1, protocol, transfer, subcommand, count, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00};
}

int smartRead(uint8_t device, uint8_t subcommand, uint8_t* buffer, uint8_t sectors) {
    if (device >= kMaxDrives || buffer == nullptr) return 2;
    const CommandBlock block = smartBlock(0x08, 0x0B, subcommand, sectors);
    const auto length = static_cast<int32_t>(uint32_t{sectors} * 512u);
    return ExecDeviceCommand(device, 1, block, static_cast<int>(block.size()), buffer, length) == 1
               ? 1
               : 2;
}

}  // namespace

int VC_STD_SmartEnable(uint8_t device) {
    if (device >= kMaxDrives) return 2;
    const CommandBlock block = smartBlock(0x06, 0x00, kSmartEnableOperations, 0x01);
    return ExecDeviceCommand(device, 0, block, static_cast<int>(block.size()), nullptr, 0) == 1
               ? 1
               : 2;
}

int VC_STD_SmartReadData(uint8_t device, uint8_t* buffer, uint8_t sectors) {
    return smartRead(device, kSmartReadData, buffer, sectors);
}

int VC_STD_SmartReadThresholds(uint8_t device, uint8_t* buffer, uint8_t sectors) {
    return smartRead(device, kSmartReadThresholds, buffer, sectors);
}

bool AcquireSmartData(uint8_t device) {
    if (VC_STD_SmartEnable(device) != 1) return false;
    if (VC_STD_SmartReadData(device, SmartData.data(), 1) != 1) return false;
    SmartThresholds.fill(0);
    return VC_STD_SmartReadThresholds(device, SmartThresholds.data(), 1) == 1;
}

}  // namespace qx
