// The device lock as the procedures take it: one process at a time sends commands to the
// drives. A scan, an update, an erase and a SMART read each run inside a hold; the first
// hold of a program (its MainState) takes the machine-wide lock from the kernel, holds
// within it share it (the command line holds the lock for its whole run, its scan inside).
#pragma once

#include <cstdint>
#include <string>

#include "app/core/MainState.h"

namespace qx {

enum class DeviceUse {
    Read,   // a scan or a SMART read: goes on without the lock when the lock cannot be made
    Write,  // an update or an erase: refused then
};

// The text of a refusal because another process holds the lock.
constexpr const char* kDevicesBusyText = "another process is sending commands to the drives";

class DeviceHold {
public:
    // Tries the lock, and while another process holds it, again every 250 ms on the
    // platform clock until `waitMs` have passed.
    DeviceHold(MainState& state, DeviceUse use, uint32_t waitMs = 0);
    ~DeviceHold();
    DeviceHold(const DeviceHold&) = delete;
    DeviceHold& operator=(const DeviceHold&) = delete;

    bool granted() const { return granted_; }
    // Why the hold was refused (empty when granted).
    const std::string& refusal() const { return refusal_; }
    // The desktop programs' form: a refusal is shown in a notice; false means nothing may
    // be sent.
    bool grantedOrNotice(UserSeam& user) const;

private:
    MainState& state_;
    bool granted_ = false;
    bool owner_ = false;
    std::string refusal_;
};

}  // namespace qx
