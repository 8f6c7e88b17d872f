// The controller information record (SystemInfo) and the process-wide copy of the running
// firmware's BuildInfo block.
#pragma once

#include <array>
#include <cstdint>

namespace qx {

constexpr uint32_t kSystemInfoSize = 4096;
constexpr uint32_t kSystemInfoBuildInfoOffset = 0x300;
constexpr uint32_t kSystemInfoFlashInfoOffset = 0x500;
constexpr uint32_t kSystemInfoSystemBlocksOffset = 0x510;
constexpr uint32_t kWorkBufferSize = 65536;

// The 64-byte BuildInfo of the drive read last by VP_GetSystemInfo.
extern std::array<uint8_t, 64> DriveBuildInfo;

// Reads SystemInfo (space 3, address 0, 8 sectors) into `work` (65,536 bytes), copies the
// system blocks and the BuildInfo, then looks for the system page (stage 2).
// True when SystemInfo was read.
bool VP_GetSystemInfo(uint8_t device, uint8_t* work);

// Process-wide signature selection (tests).
const std::array<uint8_t, 16>& SelectedSystemPageSignature();
uint8_t SelectedLayoutVersion();
void ResetSystemInfoState();

}  // namespace qx
