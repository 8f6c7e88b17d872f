// The lowest command layer: ATA and SCSI pass-through, the SMART receive request, the
// command executors and the per-drive transport table. Every command a drive of the drive
// table receives goes through ExecDeviceCommand. Results are plain integers; no handle is
// held between commands.
#pragma once

#include <array>
#include <cstdint>

namespace qx {

// The eight-byte ATA task file (Windows IDEREGS layout). Sent with every ATA command and
// handed back with the error (byte 0) and status (byte 6) registers.
struct IDEREGS {
    uint8_t bFeaturesReg = 0;
    uint8_t bSectorCountReg = 0;
    uint8_t bSectorNumberReg = 0;
    uint8_t bCylLowReg = 0;
    uint8_t bCylHighReg = 0;
    uint8_t bDriveHeadReg = 0;
    uint8_t bCommandReg = 0;
    uint8_t bReserved = 0;
};
static_assert(sizeof(IDEREGS) == 8);

// The 12-byte command block, laid out as SCSI ATA PASS-THROUGH(12): 0 opcode 0xA1,
// 1 protocol, 2 transfer flags, 3 features, 4 count, 5-7 LBA, 8 device, 9 command.
using CommandBlock = std::array<uint8_t, 12>;

constexpr int kMaxDrives = 16;
constexpr int32_t kMaxTransferLength = 65536;

// How commands reach drive i. The path is not owned: during a scan it points into the
// candidate table, afterwards into the drive's DriveInfo record.
struct DeviceSlotRecord {
    const char* devicePath = nullptr;
    uint8_t usbDirect = 0;  // nonzero while a USB candidate is classified (INQUIRY, 300 s reads)
    uint8_t ata = 0;        // nonzero: ATA pass-through; zero: SCSI pass-through
    uint16_t SystemBlocks[4] = {0, 0, 0, 0};
};
extern DeviceSlotRecord DeviceSlot[kMaxDrives];

// ATA pass-through. 1: completed with ERR clear; 0: cannot open, or ERR set;
// -1: length out of range or the control call failed. `taskFile` receives the returned
// registers. Direction is given by the function; DMA only for 0x86 (read) / 0x88 (write).
int ReadATACommandWithTimeOutValue(const char* path, IDEREGS* taskFile, uint8_t* data,
                                   int32_t length, uint32_t timeoutSeconds);
int WriteATACommandWithTimeOutValue(const char* path, IDEREGS* taskFile, const uint8_t* data,
                                    int32_t length, uint32_t timeoutSeconds);

// Sends a CommandBlock down the ATA path with a time budget measured on the clock.
// 1 success; 0 took longer than the budget; -1 empty path, bad length, failed control
// call; -2 cannot open or the drive reported an error.
int ExecATACommand(const char* path, int direction, const CommandBlock& block, uint8_t* data,
                   int32_t length, uint32_t budgetSeconds);

// Sends one command to drive `index` of the DeviceSlot table (direction nonzero: data from
// the device). 1 is success, anything else a failure.
int ExecDeviceCommand(uint8_t index, int direction, const CommandBlock& block,
                      int blockLength, uint8_t* data, int32_t length);

// The same with a longer time-out for a command that a drive may take long to finish (its
// flash write, an erase): the system's time-out of the request and the ATA path's budget are
// both `timeoutSeconds`; never less than the ordinary 10 seconds. SCSI reads while the
// USB-direct flag is set keep their 300 seconds when that is longer.
int ExecDeviceCommand(uint8_t index, int direction, const CommandBlock& block,
                      int blockLength, uint8_t* data, int32_t length, uint32_t timeoutSeconds);

// The ordinary time-out of a command, in seconds.
constexpr uint32_t kCommandTimeoutSeconds = 10;

// Data-in command through the SMART receive request (IDENTIFY DEVICE during discovery).
// 0 success (512 bytes in `answer`), -1 failure.
int SmartReceiveData(const char* path, int driveNumber, const IDEREGS& taskFile,
                     uint8_t* answer512);

// SCSI pass-through direct. 1 success, 0 failure. A command counts as successful only
// when the system delivered it and the device ended it with GOOD, or with CHECK CONDITION
// whose sense key is NO SENSE or RECOVERED ERROR and whose ATA status (if carried) has ERR
// clear.
int ReadSCSICommandWithTimeOutValue(const char* path, const uint8_t* cdb, int cdbLength,
                                    uint8_t* data, int32_t length, uint32_t timeoutSeconds);
int WriteSCSICommandWithTimeOutValue(const char* path, const uint8_t* cdb, int cdbLength,
                                     const uint8_t* data, int32_t length,
                                     uint32_t timeoutSeconds);

// One diagnostic line for a failed system call: the call, the path, the system's error
// number and its text, e.g. "CreateFile on \\?\ide#... failed: error 5, Access is denied.".
void LogFailedCall(const char* call, const char* path, uint32_t error);

// Clears the DeviceSlot table (tests; the process starts with it zeroed).
void ResetDeviceSlots();

}  // namespace qx
