// The Win32 device calls behind the device I/O seam.
#include "platform/windows/WinDevices.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>

#include "platform/DeviceIoctl.h"

namespace qx {

// The request layouts the core builds are the system's own.
static_assert(kIoctlAtaPassThrough == IOCTL_ATA_PASS_THROUGH);
static_assert(kIoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(kSmartRcvDriveData == SMART_RCV_DRIVE_DATA);
static_assert(kIoctlStorageGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(kFsctlLockVolume == FSCTL_LOCK_VOLUME && kFsctlDismountVolume == FSCTL_DISMOUNT_VOLUME);
static_assert(sizeof(AtaPassThroughEx) == sizeof(ATA_PASS_THROUGH_EX));
static_assert(offsetof(AtaPassThroughEx, DataTransferLength) ==
              offsetof(ATA_PASS_THROUGH_EX, DataTransferLength));
static_assert(offsetof(AtaPassThroughEx, DataBufferOffset) ==
              offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset));
static_assert(offsetof(AtaPassThroughEx, CurrentTaskFile) ==
              offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile));
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
static_assert(sizeof(SendCmdInParams) == sizeof(SENDCMDINPARAMS));
static_assert(offsetof(SendCmdInParams, bDriveNumber) == offsetof(SENDCMDINPARAMS, bDriveNumber));
static_assert(offsetof(SendCmdOutParams, bBuffer) == offsetof(SENDCMDOUTPARAMS, bBuffer));
static_assert(sizeof(StorageDeviceNumber) == sizeof(STORAGE_DEVICE_NUMBER));
static_assert(kFileDeviceDisk == FILE_DEVICE_DISK);
static_assert(AccessRead == GENERIC_READ && AccessWrite == GENERIC_WRITE);
static_assert(ShareRead == FILE_SHARE_READ && ShareWrite == FILE_SHARE_WRITE);
static_assert(sizeof(HANDLE) == sizeof(DeviceHandle));  // INVALID_HANDLE_VALUE is -1

namespace {
HANDLE toHandle(DeviceHandle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

DeviceHandle WinDevices::open(const char* path, uint32_t access, uint32_t share) {
    if (path == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return kInvalidDevice;
    }
    const HANDLE h = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        lastError_ = GetLastError();
        if (lastError_ == 0) lastError_ = ERROR_GEN_FAILURE;
        return kInvalidDevice;
    }
    lastError_ = 0;
    return reinterpret_cast<DeviceHandle>(h);
}

void WinDevices::close(DeviceHandle h) {
    if (h != kInvalidDevice) CloseHandle(toHandle(h));
}

bool WinDevices::control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                         uint32_t outLen, uint32_t* bytesReturned) {
    DWORD returned = 0;
    SetLastError(0);
    const BOOL ok = DeviceIoControl(toHandle(h), code, in, inLen, out, outLen, &returned, nullptr);
    lastError_ = GetLastError();
    if (!ok && lastError_ == 0) lastError_ = ERROR_GEN_FAILURE;
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok != FALSE;
}

std::string WinDevices::errorText(uint32_t code) {
    char buffer[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                   nullptr, code, 0, buffer, sizeof(buffer), nullptr);
    std::string text(buffer, n < sizeof(buffer) ? n : 0);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

}  // namespace qx
