// Drive discovery: the disk interface paths of the system, their bus kinds, IDENTIFY
// DEVICE through the SMART request, drive letters and the device-tree rescan.
#pragma once

#include <cstdint>
#include <string>

#include "platform/DeviceIoctl.h"

namespace qx {

constexpr int kMaxCandidates = 80;
constexpr int kCandidatePathSize = 256;

enum BusKind : int32_t { DEVICE_NONE = 0, DEVICE_IDE = 1, DEVICE_SCSI = 2, DEVICE_USB = 3 };

struct CandidateTable {
    char path[kMaxCandidates][kCandidatePathSize];
};

// Fills entries 0..count-1; at most 80; a path that does not fit 255 characters is
// passed over and logged. Returns the count.
int EnumDiskInterfaces(CandidateTable& table);

// Lower-cases `path` in place (ASCII letters) and returns the bus kind; `busName`
// receives the bus name text (" IDE / SATA ", " SCSI ", " USB ", " SBP2 ") or stays empty.
int32_t ClassifyDevicePath(char* path, std::string& busName);

bool IsWindows8();

// IDENTIFY DEVICE through SmartReceiveData; the buffer is cleared first and the three text
// fields fixed up whatever the result. True on success.
bool GetIdentifyData(const char* path, int position, int32_t busKind, uint8_t* buffer512);

void FixAtaString(uint8_t* field, int width);

bool GetDeviceNumber(const char* path, StorageDeviceNumber& number);

// True and the letter 'A'..'Z' in `letter`, or false.
bool FindDriveLetter(const char* diskPath, char& letter);

bool RescanDevices();

}  // namespace qx
