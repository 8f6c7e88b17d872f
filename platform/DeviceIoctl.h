// Request structures and control codes of the Windows storage control calls, in the native
// layout of the build. Every back-end (Windows, Linux, simulated bench) reads and writes
// these exact bytes, so the layouts are pinned here for 32- and 64-bit builds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qx {

constexpr uint32_t kIoctlAtaPassThrough = 0x4D02C;         // IOCTL_ATA_PASS_THROUGH
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;  // IOCTL_SCSI_PASS_THROUGH_DIRECT
constexpr uint32_t kSmartRcvDriveData = 0x7C088;           // SMART_RCV_DRIVE_DATA
constexpr uint32_t kIoctlStorageGetDeviceNumber = 0x2D1080;  // IOCTL_STORAGE_GET_DEVICE_NUMBER
constexpr uint32_t kFsctlLockVolume = 0x90018;      // FSCTL_LOCK_VOLUME (on a volume handle)
constexpr uint32_t kFsctlDismountVolume = 0x90020;  // FSCTL_DISMOUNT_VOLUME

// ATA_PASS_THROUGH_EX.AtaFlags
constexpr uint16_t kAtaFlagsDrdyRequired = 0x01;
constexpr uint16_t kAtaFlagsDataIn = 0x02;
constexpr uint16_t kAtaFlagsDataOut = 0x04;
constexpr uint16_t kAtaFlags48BitCommand = 0x08;
constexpr uint16_t kAtaFlagsUseDma = 0x10;

// Status register bit 0.
constexpr uint8_t kAtaStatusErr = 0x01;

struct AtaPassThroughEx {
    uint16_t Length;
    uint16_t AtaFlags;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t ReservedAsUchar;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uint32_t ReservedAsUlong;
    uintptr_t DataBufferOffset;
    uint8_t PreviousTaskFile[8];
    uint8_t CurrentTaskFile[8];
};

struct ScsiPassThroughDirect {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    void* DataBuffer;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

// The direct request followed by the sense buffer that SenseInfoOffset points to. Descriptor
// sense may carry other descriptors before the ATA Status Return (an information descriptor
// and the status return alone take 34 bytes): a buffer that cuts it off turns a completed
// command into an undecodable one. 64 bytes, as the SG_IO back-end asks for.
constexpr uint8_t kSenseBufferLength = 64;
struct ScsiPassThroughDirectWithSense {
    ScsiPassThroughDirect sptd;
    uint32_t Filler;
    uint8_t Sense[kSenseBufferLength];
};

constexpr uint8_t kScsiDataOut = 0;  // SCSI_IOCTL_DATA_OUT
constexpr uint8_t kScsiDataIn = 1;   // SCSI_IOCTL_DATA_IN
constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint8_t kScsiStatusCheckCondition = 0x02;

#pragma pack(push, 1)
struct IdeRegsRaw {
    uint8_t bFeaturesReg;
    uint8_t bSectorCountReg;
    uint8_t bSectorNumberReg;
    uint8_t bCylLowReg;
    uint8_t bCylHighReg;
    uint8_t bDriveHeadReg;
    uint8_t bCommandReg;
    uint8_t bReserved;
};

struct SendCmdInParams {
    uint32_t cBufferSize;
    IdeRegsRaw irDriveRegs;
    uint8_t bDriveNumber;
    uint8_t bReserved[3];
    uint32_t dwReserved[4];
    uint8_t bBuffer[1];
};

struct DriverStatus {
    uint8_t bDriverError;
    uint8_t bIDEError;
    uint8_t bReserved[2];
    uint32_t dwReserved[2];
};

struct SendCmdOutParams {
    uint32_t cBufferSize;
    ::qx::DriverStatus DriverStatus;  // qualified: the member shares the type's name
    uint8_t bBuffer[1];
};
#pragma pack(pop)

constexpr uint32_t kSmartAnswerLength = 528;  // 16-byte header + 512 data bytes
constexpr uint32_t kSmartRequestLength = 32;  // SENDCMDINPARAMS without its data byte

struct StorageDeviceNumber {
    uint32_t DeviceType;
    uint32_t DeviceNumber;
    uint32_t PartitionNumber;
};

constexpr uint32_t kFileDeviceDisk = 7;  // FILE_DEVICE_DISK

static_assert(sizeof(IdeRegsRaw) == 8);
static_assert(sizeof(SendCmdInParams) == 33);
static_assert(offsetof(SendCmdInParams, irDriveRegs) == 4);
static_assert(offsetof(SendCmdInParams, bDriveNumber) == 12);
static_assert(offsetof(SendCmdInParams, bBuffer) == 32);
static_assert(sizeof(DriverStatus) == 12);
static_assert(offsetof(SendCmdOutParams, bBuffer) == 16);
static_assert(sizeof(StorageDeviceNumber) == 12);

static_assert(offsetof(AtaPassThroughEx, AtaFlags) == 2);
static_assert(offsetof(AtaPassThroughEx, DataTransferLength) == 8);
static_assert(offsetof(AtaPassThroughEx, TimeOutValue) == 12);
static_assert(offsetof(AtaPassThroughEx, DataBufferOffset) == 20 || sizeof(void*) == 8);
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == 16);

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(AtaPassThroughEx) == 40);
static_assert(offsetof(AtaPassThroughEx, DataBufferOffset) == 20);
static_assert(offsetof(AtaPassThroughEx, PreviousTaskFile) == 24);
static_assert(offsetof(AtaPassThroughEx, CurrentTaskFile) == 32);
static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28);
static_assert(offsetof(ScsiPassThroughDirectWithSense, Sense) == 48);
#else
static_assert(sizeof(AtaPassThroughEx) == 48);
static_assert(offsetof(AtaPassThroughEx, DataBufferOffset) == 24);
static_assert(offsetof(AtaPassThroughEx, PreviousTaskFile) == 32);
static_assert(offsetof(AtaPassThroughEx, CurrentTaskFile) == 40);
static_assert(sizeof(ScsiPassThroughDirect) == 56);
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 24);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 32);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 36);
static_assert(offsetof(ScsiPassThroughDirectWithSense, Sense) == 60);
#endif

}  // namespace qx
