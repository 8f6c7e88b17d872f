// The device lock of the procedures (DeviceLock.h).
#include "devices/DeviceLock.h"

#include <algorithm>

#include "QXLib/DbgLog.h"
#include "platform/Platform.h"

namespace qx {

namespace {

constexpr uint32_t kRetryMs = 250;

std::string busyText(int64_t pid) {
    std::string text = kDevicesBusyText;
    if (pid > 0) text += " (process " + std::to_string(pid) + ")";
    return text;
}

}  // namespace

DeviceHold::DeviceHold(MainState& state, DeviceUse use, uint32_t waitMs) : state_(state) {
    if (state.deviceLock) {
        granted_ = true;  // within a hold of the same program
        return;
    }
    Kernel* kernel = platform().kernel;
    Clock* clock = platform().clock;
    if (kernel == nullptr) {
        granted_ = true;
        return;
    }
    const uint32_t start = clock != nullptr ? clock->tickCount() : 0;
    for (;;) {
        DeviceLockAttempt a = kernel->lockDevices();
        if (a.state == DeviceLockAttempt::State::Held) {
            state.deviceLock = std::move(a.lock);
            granted_ = owner_ = true;
            return;
        }
        if (a.state == DeviceLockAttempt::State::Unavailable) {
            // Nobody can be shown to stay away: what writes to a drive does not go on.
            if (use == DeviceUse::Read) {
                DbgPrintf("The device lock cannot be made (%s): the drives are read without it\r\n",
                          a.detail.c_str());
                granted_ = true;
            } else {
                refusal_ = "the lock that keeps other processes away from the drives cannot be made (" +
                           a.detail + "): nothing was sent";
            }
            return;
        }
        const uint32_t elapsed = clock != nullptr ? clock->tickCount() - start : waitMs;
        if (elapsed >= waitMs) {
            refusal_ = busyText(a.holderPid);
            return;
        }
        clock->sleep(std::min(kRetryMs, waitMs - elapsed));
    }
}

DeviceHold::~DeviceHold() {
    if (owner_) state_.deviceLock.reset();
}

bool DeviceHold::grantedOrNotice(UserSeam& user) const {
    if (!granted_) user.notice(state_.caption, refusal_, BoxIcon::Warning);
    return granted_;
}

}  // namespace qx
