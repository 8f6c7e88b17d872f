// SMART acquisition through the standard ATA SMART commands packed as ATA PASS-THROUGH(12).
#pragma once

#include <array>
#include <cstdint>

namespace qx {

extern uint8_t SmartDrive;
extern std::array<uint8_t, 512> SmartData;
extern std::array<uint8_t, 512> SmartThresholds;

int VC_STD_SmartEnable(uint8_t device);
int VC_STD_SmartReadData(uint8_t device, uint8_t* buffer, uint8_t sectors);
int VC_STD_SmartReadThresholds(uint8_t device, uint8_t* buffer, uint8_t sectors);

// Enable, read data into SmartData, read thresholds; stops at the first failure.
bool AcquireSmartData(uint8_t device);

}  // namespace qx
