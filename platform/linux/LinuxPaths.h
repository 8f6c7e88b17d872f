// How the Linux back-ends name disks and volumes.
//
// A disk is listed as "\\.\<bus>#<kernel name>", for example "\\.\ide#sda" or
// "\\.\usb#sdb": the bus word lets the path classification work unchanged, and the part
// after the last '#' is the block device under /dev. Mounted file systems stand in for
// drive letters; a volume is opened as "\\.\<letter>:".
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qx::linuxos {

// The longest kernel name a disk path may carry.
constexpr std::size_t kMaxKernelNameLength = 64;

// The /dev node that a device or volume path names, or nothing when the path is not one of
// the forms above (or names a letter that no mounted volume has).
std::optional<std::string> DeviceNodeForPath(const char* path);

}  // namespace qx::linuxos
