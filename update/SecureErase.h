// The secure erase procedure behind "Secure Erase".
#pragma once

#include <string>

#include "app/MainState.h"
#include "app/UserSeam.h"

namespace qx {

void SecureEraseBtnClick(MainState& state, UserSeam& user);

// SECURITY ERASE PREPARE, then SECURITY ERASE UNIT with the 512-byte block built from the
// password (control word 0x0001, first 32 characters, spaces after them).
bool SecureEraseDrive(uint8_t device, const std::string& password);

// Converts typed text (UTF-8) to the bytes the drive receives.
std::string PasswordToAnsi(const std::string& utf8);

}  // namespace qx
