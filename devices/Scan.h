// The drive scan: recognises the maker's drives and bridges among the discovered disks,
// fills DriveInfo, DeviceSlot, the list rows and DeviceList.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/MainState.h"
#include "app/core/UserSeam.h"

namespace qx {

// What one scan learnt about one candidate disk (UserSeam::candidateExamined).
struct CandidateNote {
    int position = 0;              // discovery order, from 0
    std::string path;              // as discovery listed it, lower-cased by the scan
    int32_t busKind = 0;           // 0 none, 1 IDE, 2 SCSI, 3 USB
    std::string busName;
    bool listed = false;
    int disk = 0;                  // the list caption (index + 1) when listed
    // Why it was passed over, or "listed": "no-bus-kind", "identify-failed", "rotating",
    // "no-vendor-answer",
    // "inquiry-failed", "unknown-bridge-code", "vendor-usb-device", "bridge-identify-failed",
    // "drive-table-full".
    std::string reason;
    // Kinds 1 and 2: the vendor-mode probe.
    bool probed = false;
    bool identifyOk = false;
    int rotationRate = 0;
    int probeRounds = 0;
    std::vector<std::array<uint8_t, 4>> probeAnswers;
    std::vector<bool> probeReadOk;
    // Kind 3: the INQUIRY and the IDENTIFY through the bridge.
    bool inquiryAsked = false;
    bool inquiryOk = false;
    std::array<uint8_t, 4> inquiryCode{};
    int bridgeClass = 0;
    bool bridgeIdentifyAsked = false;
    bool bridgeIdentifyOk = false;
};

// Number of drives accepted by the last scan.
extern int DriveCount;

// Class 0..14 of the device's INQUIRY code (bytes 36-39); 0 when the INQUIRY fails.
int ClassifyBridge(uint8_t device);
// The same table applied to a 40-byte INQUIRY answer.
int ClassifyBridgeCode(const uint8_t* inquiry40);
bool IsBridgeClass(int cls);

void GetQuorvexDevice(MainState& state, UserSeam& user);

}  // namespace qx
