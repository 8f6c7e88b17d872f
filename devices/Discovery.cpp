// Drive discovery: candidate paths from the system's disk enumeration, their bus kinds,
// IDENTIFY DEVICE through the SMART request, drive letters by device number, and the
// device-tree rescan. Nothing is kept between calls.
#include "devices/Discovery.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "platform/Ascii.h"
#include "platform/AtaString.h"
#include "platform/Platform.h"

namespace qx {

namespace {

constexpr std::size_t kMaxPathLength = kCandidatePathSize - 1;  // 255 characters and a NUL

constexpr uint8_t kIdentifyDevice = 0xEC;

char toUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

int EnumDiskInterfaces(CandidateTable& table) {
    SystemInfoSource* system = platform().system;
    if (system == nullptr) return 0;
    const std::optional<std::vector<std::string>> paths = system->diskInterfaces();
    if (!paths) return 0;

    int count = 0;
    for (std::size_t i = 0; i < paths->size(); ++i) {
        const std::string& p = (*paths)[i];
        const int index = static_cast<int>(i);
        if (count == kMaxCandidates) {
            DbgPrintf("EnumDiskInterfaces: disk interface %d passed over, the table holds %d "
                      "paths: %.255s\r\n",
                      index, kMaxCandidates, p.c_str());
            continue;
        }
        if (p.size() > kMaxPathLength) {
            DbgPrintf("EnumDiskInterfaces: disk interface %d passed over, its path of %u "
                      "characters does not fit %u: %.255s...\r\n",
                      index, static_cast<unsigned>(p.size()), static_cast<unsigned>(kMaxPathLength),
                      p.c_str());
            continue;
        }
        // A path with an embedded NUL would be opened as a different, shorter path.
        if (p.empty() || std::memchr(p.data(), '\0', p.size()) != nullptr) {
            DbgPrintf("EnumDiskInterfaces: disk interface %d passed over, its path is empty or "
                      "holds a NUL character\r\n",
                      index);
            continue;
        }
        char* entry = table.path[count];
        std::memset(entry, 0, kCandidatePathSize);
        std::memcpy(entry, p.data(), p.size());
        ++count;
    }
    return count;
}

int32_t ClassifyDevicePath(char* path, std::string& busName) {
    busName.clear();
    if (path == nullptr) return DEVICE_NONE;
    for (char* c = path; *c != '\0'; ++c) *c = LowerAscii(*c);
    if (std::strstr(path, "ide") != nullptr) {
        busName = " IDE / SATA ";
        return DEVICE_IDE;
    }
    if (std::strstr(path, "scsi") != nullptr) {
        // From Windows 8 on, disks on SCSI paths take the ATA pass-through.
        if (IsWindows8()) {
            busName = " IDE / SATA ";
            return DEVICE_IDE;
        }
        busName = " SCSI ";
        return DEVICE_SCSI;
    }
    if (std::strstr(path, "usb") != nullptr) {
        busName = " USB ";
        return DEVICE_USB;
    }
    if (std::strstr(path, "sbp2") != nullptr) {
        busName = " SBP2 ";
        return DEVICE_USB;
    }
    return DEVICE_NONE;
}

bool IsWindows8() {
    SystemInfoSource* system = platform().system;
    if (system == nullptr) return false;
    // The extended record is asked for first and the basic one after it; either carries
    // the version numbers.
    const OsVersion v = system->osVersion();
    if (!v.extendedOk && !v.basicOk) return false;
    return v.major == 6 && v.minor == 2;
}

bool GetIdentifyData(const char* path, int position, int32_t busKind, uint8_t* buffer512) {
    (void)busKind;  // kinds 1 and 2 ask the same way
    if (buffer512 == nullptr) return false;
    // Cleared, so a failed request never leaves another drive's data behind.
    std::memset(buffer512, 0, 512);

    IDEREGS taskFile;  // features, LBA and device 0
    taskFile.bSectorCountReg = 1;
    taskFile.bCommandReg = kIdentifyDevice;
    const bool ok = SmartReceiveData(path, position, taskFile, buffer512) == 0;

    FixAtaString(buffer512 + 54, 40);  // model number
    FixAtaString(buffer512 + 46, 8);   // firmware revision
    FixAtaString(buffer512 + 20, 20);  // serial number
    return ok;
}

void FixAtaString(uint8_t* field, int width) {
    if (field == nullptr || width <= 0) return;
    SwapAtaPairs(field, static_cast<std::size_t>(width));

    int lead = 0;
    while (lead < width && field[lead] == ' ') ++lead;
    if (lead > 0) {
        std::memmove(field, field + lead, static_cast<std::size_t>(width - lead));
        std::memset(field + (width - lead), 0, static_cast<std::size_t>(lead));
    }
    for (int i = width - 1; i >= 0 && (field[i] == ' ' || field[i] == '\0'); --i) field[i] = 0;
}

bool GetDeviceNumber(const char* path, StorageDeviceNumber& number) {
    number = StorageDeviceNumber{};
    DeviceIo* io = platform().devices;
    if (io == nullptr || path == nullptr || path[0] == '\0') return false;
    const DeviceHandle h = io->open(path, AccessNone, ShareRead | ShareWrite);
    if (h == kInvalidDevice) {
        LogFailedCall("CreateFile", path, io->lastError());
        return false;
    }
    uint32_t returned = 0;
    const bool ok = io->control(h, kIoctlStorageGetDeviceNumber, nullptr, 0, &number,
                                sizeof(number), &returned);
    if (!ok) LogFailedCall("IOCTL_STORAGE_GET_DEVICE_NUMBER", path, io->lastError());
    io->close(h);
    if (!ok) number = StorageDeviceNumber{};
    return ok;
}

bool FindDriveLetter(const char* diskPath, char& letter) {
    SystemInfoSource* system = platform().system;
    if (system == nullptr) return false;
    const uint32_t mask = system->logicalDrives();

    StorageDeviceNumber disk;
    if (!GetDeviceNumber(diskPath, disk)) return false;

    // The volume holding the Windows directory is never reported.
    const std::string windowsDir = system->windowsDirectory();
    const char systemLetter = windowsDir.empty() ? '\0' : toUpperAscii(windowsDir[0]);

    for (char c = 'A'; c <= 'Z'; ++c) {
        if ((mask & (1u << (c - 'A'))) == 0 || c == systemLetter) continue;
        char volume[8];
        std::snprintf(volume, sizeof(volume), "\\\\.\\%c:", c);
        StorageDeviceNumber v;
        if (!GetDeviceNumber(volume, v)) continue;
        if (v.DeviceType == disk.DeviceType && v.DeviceNumber == disk.DeviceNumber) {
            letter = c;
            return true;
        }
    }
    return false;
}

bool RescanDevices() {
    SystemInfoSource* system = platform().system;
    if (system == nullptr) return false;
    uint32_t code = 0;
    const int step = system->rescan(&code);
    if (step == 0) return true;
    if (step == 1) {
        std::printf("CM_Locate_DevNode failed: %x\n", static_cast<unsigned>(code));
    } else {
        std::printf("CM_Reenumerate_DevNode failed: %x\n", static_cast<unsigned>(code));
    }
    std::fflush(stdout);
    return false;
}

}  // namespace qx
