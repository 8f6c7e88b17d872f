// The drive scan: recognises the maker's drives and bridges among the discovered disks,
// fills DriveInfo, DeviceSlot, the list rows and DeviceList.
#pragma once

#include <cstdint>

#include "app/MainState.h"
#include "app/UserSeam.h"

namespace qx {

// Number of drives accepted by the last scan.
extern int DriveCount;

// Class 0..14 of the device's INQUIRY code (bytes 36-39); 0 when the INQUIRY fails.
int ClassifyBridge(uint8_t device);
// The same table applied to a 40-byte INQUIRY answer.
int ClassifyBridgeCode(const uint8_t* inquiry40);
bool IsBridgeClass(int cls);

void GetQuorvexDevice(MainState& state, UserSeam& user);

}  // namespace qx
