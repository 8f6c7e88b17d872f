// The secure erase procedure behind "Secure Erase".
#pragma once

#include <string>

#include "app/core/MainState.h"
#include "app/core/UserSeam.h"
#include "platform/Platform.h"

namespace qx {

void SecureEraseBtnClick(MainState& state, UserSeam& user);

// SECURITY ERASE PREPARE, then SECURITY ERASE UNIT with the 512-byte block built from the
// password (control word 0x0001, first 32 characters, spaces after them). UNIT gets
// `unitTimeoutSeconds` (never less than the ordinary 10 seconds).
bool SecureEraseDrive(uint8_t device, const std::string& password,
                      uint32_t unitTimeoutSeconds = 10);

// What the drive's security state (IDENTIFY DEVICE, read just before the erase) says about
// the erase. A locked drive is not refused: the master-password erase is how a locked drive
// is recovered.
enum class SecurityRefusal {
    None,
    NotSupported,     // word 82 bit 1 or word 128 bit 0 clear
    Frozen,           // word 128 bit 3: the drive refuses every security command until reset
    AttemptsExpired,  // word 128 bit 4: too many wrong passwords until the next power cycle
};
SecurityRefusal SecurityRefusalOf(const uint8_t* identify512);

// The drive's estimate of a normal security erase (IDENTIFY word 89): bit 15 set, bits 14:0
// in units of 2 minutes; otherwise bits 7:0 in units of 2 minutes; 0 means not given and
// the largest value "more than".
struct EraseEstimate {
    uint32_t minutes = 0;  // 0: the drive gives none
    bool atLeast = false;  // the field holds its largest value: the erase may take longer
};
EraseEstimate NormalEraseEstimate(const uint8_t* identify512);

// The time-out of SECURITY ERASE UNIT: twice the drive's estimate, at least the ordinary
// 10 seconds, at most 12 hours.
uint32_t EraseUnitTimeoutSeconds(const EraseEstimate& estimate);

// Holds the disk of drive `device` for its erase (DiskClaim): the system's own rule where
// it has one, else the disk's volumes locked and dismounted through the device I/O. The
// disk of the running system is never claimed.
DiskClaimResult ClaimDiskForErase(const char* devicePath);

// Converts typed text (UTF-8) to the bytes the drive receives.
std::string PasswordToAnsi(const std::string& utf8);

}  // namespace qx
