// SCSI sense data as a bridge or the system returns it after a CHECK CONDITION: the sense
// key, the additional sense code and qualifier, and the ATA registers that an ATA
// PASS-THROUGH command hands back inside the sense data (SCSI/ATA Translation).
//
// Both formats are read:
//   fixed (response code 0x70 current / 0x71 deferred): key at byte 2, additional length
//     at byte 7, ASC/ASCQ at bytes 12/13. With ASC/ASCQ 00h/1Dh ("ATA pass-through
//     information available") the INFORMATION field carries the ATA registers: byte 3
//     ERROR, byte 4 STATUS, byte 5 DEVICE, byte 6 COUNT(7:0); the COMMAND-SPECIFIC
//     INFORMATION field bytes 9, 10, 11 carry LBA(7:0), LBA(15:8), LBA(23:16).
//   descriptor (0x72 current / 0x73 deferred): key at byte 1, ASC/ASCQ at bytes 2/3,
//     additional length at byte 7, descriptors from byte 8. The ATA Status Return
//     descriptor (code 09h, additional length 0Ch) holds ERROR at 3, COUNT(7:0) at 5,
//     LBA(7:0) at 7, LBA(15:8) at 9, LBA(23:16) at 11, DEVICE at 12, STATUS at 13.
//
// Sense data comes from outside: the decoder reads no byte beyond the length it is given,
// and anything it cannot read in full is reported as undecodable, which callers treat as a
// failed command: an unknown response code, fixed data shorter than 14 bytes (or whose
// additional length leaves out ASC/ASCQ), descriptor data shorter than its header or than
// its additional length says (a descriptor cut off could be the ATA status), a descriptor
// running past the end, an ATA Status Return descriptor shorter than 0Ch. Fixed data may be
// cut after byte 13: everything read from it lies before that.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace qx {

constexpr uint8_t kSenseKeyNoSense = 0x00;
constexpr uint8_t kSenseKeyRecoveredError = 0x01;
constexpr uint8_t kSenseKeyIllegalRequest = 0x05;

struct SenseData {
    uint8_t responseCode = 0;  // 0x70, 0x71, 0x72 or 0x73
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    // The returned ATA registers in IDEREGS order (error, count, LBA low, mid, high,
    // device, status, 0), when the sense data carries them.
    std::optional<std::array<uint8_t, 8>> ataRegisters;

    uint8_t ataStatus() const { return ataRegisters ? (*ataRegisters)[6] : 0; }
    uint8_t ataError() const { return ataRegisters ? (*ataRegisters)[0] : 0; }
};

// Decodes `length` bytes of sense data. Nothing when they cannot be read in full.
std::optional<SenseData> DecodeSenseData(const uint8_t* data, std::size_t length);

// The verdict on a command the system delivered: true for status GOOD, and for CHECK
// CONDITION with readable sense data whose key is NO SENSE or RECOVERED ERROR and whose
// ATA status, when carried, has ERR clear. Every other status is a failure.
// `decoded` receives the sense data when it could be read (for the caller's log line).
bool ScsiCommandSucceeded(uint8_t scsiStatus, const uint8_t* sense, std::size_t senseLength,
                          std::optional<SenseData>* decoded = nullptr);

}  // namespace qx
