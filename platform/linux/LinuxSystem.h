// The Linux disk enumeration behind the platform seam: the whole disks of the SCSI disk
// driver (sd*) as libudev lists them, with the bus word of their transport, mounted file
// systems (getmntent) standing in for drive letters, and the SCSI host rescan. The path
// forms are described in LinuxPaths.h and docs/linux-devices.md.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qx::linuxos {

// One mounted block device with the letter it stands for.
struct MountedVolume {
    char letter = 0;         // 'C'..'Z'
    std::string device;      // the mount source, e.g. "/dev/sda1"
    std::string mountPoint;  // where it is mounted (the first mount point seen)
};

// One whole disk of the SCSI disk driver as the device manager lists it.
struct UdevDisk {
    std::string name;         // kernel name, "sda"
    std::string node;         // device node, "/dev/sda"
    uint32_t major = 0;       // device number
    uint32_t minor = 0;
    std::string bus;          // bus word: "ide", "usb", "sbp2" or "scsi"
};

// The whole disks of the SCSI disk driver that libudev lists, in the kernel's order of
// names. A disk without a device node or device number, or whose name or node holds
// anything but a plain kernel name, is passed over with a diagnostic line; so is a
// property with odd bytes (the disk stays, the property counts as missing). Nothing when
// the device manager cannot be asked at all.
std::optional<std::vector<UdevDisk>> ListUdevDisks();

// The bus word of a disk from its udev ID_BUS property, for a disk whose transport path
// names no bus of its own: "ata" → "ide", "usb" → "usb", "ieee1394" → "sbp2"; empty
// otherwise (and for a missing value).
std::string BusWordForIdBus(const char* idBus);

// Letters for the block devices mounted in `mountsText` (the /proc/self/mounts format):
// the device mounted on "/" is 'C', the other devices follow from 'D' in natural order of
// their device names. A device mounted several times gets one letter. Loop and RAM disks
// are no volumes of a disk and get none; devices beyond 'Z' get none. The table is read
// with getmntent(3); an entry whose device holds control or non-ASCII bytes is passed over
// with a diagnostic line.
std::vector<MountedVolume> AssignVolumeLetters(const std::string& mountsText);

// The mounts of block devices under /dev in `mountsText` (the /proc/self/mounts format), in
// table order: (device, mount point). Entries whose device holds odd bytes are passed over.
std::vector<std::pair<std::string, std::string>> DeviceMounts(const std::string& mountsText);

// True when the block device `name` (kernel name: "sda1", "dm-0") lives on the disk
// `disk` ("sda"): the disk itself, one of its partitions, or a device mapper or RAID device
// built on them, as the sysfs tree under `sysfsRoot` tells.
bool BlockDeviceOnDisk(const std::string& sysfsRoot, const std::string& name,
                       const std::string& disk);

// The bus word of a disk: "ide", "usb", "sbp2" or "scsi". `devicePath` is the resolved
// sysfs path of its SCSI device below the sysfs root (e.g.
// "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0"); `drivers` are the
// `proc_name` of its SCSI host and the drivers bound to the devices above it.
std::string BusWordForDevicePath(const std::string& devicePath,
                                 const std::vector<std::string>& drivers);

// Natural order of kernel names: "sdz" before "sdaa", "sd2" before "sd10".
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace qx::linuxos

namespace qx {

class LinuxSystem : public SystemInfoSource {
public:
    // `sysfsRoot` stands for /sys in the rescan and `mountsFile` for /proc/self/mounts, so
    // tests can build their own. The disks always come from libudev (tests give it a mock
    // device tree).
    // `openExclusive` opens a disk node for the erase's hold and returns the descriptor or
    // -errno (the default: open(2) with O_EXCL, which fails with EBUSY while a file system,
    // swap space or a volume manager uses the disk); tests give their own.
    using ExclusiveOpen = std::function<int(const std::string& node)>;
    explicit LinuxSystem(std::string sysfsRoot = "/sys",
                         std::string mountsFile = "/proc/self/mounts",
                         ExclusiveOpen openExclusive = {});

    std::optional<std::vector<std::string>> diskInterfaces() override;
    uint32_t logicalDrives() override;
    std::string windowsDirectory() override;
    OsVersion osVersion() override;
    int rescan(uint32_t* code) override;
    // From the supplies of <sysfs>/class/power_supply (the kernel's power_supply class,
    // Documentation/ABI/testing/sysfs-class-power): on battery when a system battery is
    // there and no mains or USB supply is online (without any mains supply listed, when the
    // battery says "Discharging"); the charge is the mean `capacity` of the system
    // batteries. Batteries of attached devices (`scope` "Device") do not count.
    PowerSource powerSource() override;
    // The disk is refused when a file system on it is mounted (the root or /boot one: the
    // disk of the running system), and otherwise held open with O_EXCL for the erase.
    std::optional<DiskClaimResult> claimForErase(const std::string& path) override;

    // The mounted volumes with their letters, as logicalDrives() sees them.
    std::vector<linuxos::MountedVolume> volumes();
    // The /dev node of the volume with this letter ('a'..'z' accepted), if one has it.
    std::optional<std::string> volumeNode(char letter);

private:
    std::string sysfsRoot_;
    std::string mountsFile_;
    ExclusiveOpen openExclusive_;
};

}  // namespace qx
