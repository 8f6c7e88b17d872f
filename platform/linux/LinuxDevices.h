// Device I/O on Linux: the Windows storage control calls of the core carried out with SG_IO
// on the disk's block device.
//
//   IOCTL_ATA_PASS_THROUGH          ATA PASS-THROUGH(16) with CK_COND, so the returned
//                                   registers come back in the sense data
//   IOCTL_SCSI_PASS_THROUGH_DIRECT  the command block as it is
//   SMART_RCV_DRIVE_DATA            IDENTIFY-style PIO data-in through the ATA path, the
//                                   answer laid out as SENDCMDOUTPARAMS
//   IOCTL_STORAGE_GET_DEVICE_NUMBER the whole disk's (major << 20) | minor, the partition
//                                   number from sysfs
//
// A device is opened read-only and non-blocking, never exclusively: SG_IO needs no write
// access, closing a read-write descriptor makes udev probe the disk again, and an exclusive
// open fails on a disk with mounted partitions. The access and share flags of open() are
// therefore not mapped. lastError() holds the errno of the last failure (EIO for a command
// the host adapter or driver gave up on), 0 after a success.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/DeviceIoctl.h"
#include "platform/Platform.h"

namespace qx {

// The SG_IO ioctl itself, so tests can check command blocks and feed canned answers.
class SgIo {
public:
    virtual ~SgIo() = default;
    // Issues SG_IO on `fd`. 0 on success, otherwise the errno of the failed ioctl.
    virtual int sgIo(int fd, sg_io_hdr_t& hdr) = 0;
};

// The /dev node that a device or volume path names (qx::linuxos::DeviceNodeForPath).
using DeviceNodeResolver = std::function<std::optional<std::string>(const char* path)>;

class LinuxDevices final : public DeviceIo {
public:
    // The real ioctl, the real path names and /sys.
    LinuxDevices();
    // `sg` must outlive the object. `sysRoot` stands for /sys.
    LinuxDevices(SgIo& sg, DeviceNodeResolver resolver, std::string sysRoot = "/sys");

    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override;
    void close(DeviceHandle h) override;
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override;
    uint32_t lastError() override { return lastError_; }
    // strerror's text for the errno value.
    std::string errorText(uint32_t code) override;

private:
    bool ataPassThrough(int fd, void* in, uint32_t inLen, void* out, uint32_t outLen,
                        uint32_t* bytesReturned);
    bool scsiPassThrough(int fd, void* in, uint32_t inLen, void* out, uint32_t outLen,
                         uint32_t* bytesReturned);
    bool smartReceive(int fd, void* in, uint32_t inLen, void* out, uint32_t outLen,
                      uint32_t* bytesReturned);
    bool deviceNumber(int fd, void* out, uint32_t outLen, uint32_t* bytesReturned);
    // Issues SG_IO; false (with lastError set) when the ioctl or the host/driver failed.
    bool send(int fd, sg_io_hdr_t& h, const char* permissionNote);
    // Runs one ATA command; `taskFile` goes in and receives the returned registers,
    // `transferred` the data bytes moved (the length less the residue SG_IO reports).
    bool runAta(int fd, uint8_t taskFile[8], uint16_t ataFlags, uint8_t* data, uint32_t length,
                uint32_t timeoutSeconds, uint32_t* transferred);
    bool fail(uint32_t error) {
        lastError_ = error;
        return false;
    }

    SgIo* sg_;
    DeviceNodeResolver resolver_;
    std::string sysRoot_;
    uint32_t lastError_ = 0;
};

namespace linuxos {

// Builds the ATA PASS-THROUGH(16) command block for a task file (IDEREGS order) and the
// ATA_PASS_THROUGH_EX flags of a request moving `length` bytes.
void BuildAtaPassThrough16(const uint8_t taskFile[8], uint16_t ataFlags, uint32_t length,
                           uint8_t cdb[16]);

// The STORAGE_DEVICE_NUMBER of the block device major:minor, from the sysfs tree under
// `sysRoot`: a partition reports its parent disk's number and its own partition number, a
// whole disk partition 0. Nothing when sysfs does not know the device.
std::optional<StorageDeviceNumber> StorageNumberFromSysfs(const std::string& sysRoot,
                                                          uint32_t major, uint32_t minor);

}  // namespace linuxos
}  // namespace qx
