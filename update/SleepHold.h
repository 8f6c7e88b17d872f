// Sleep and shutdown held off while a firmware download or a secure erase runs: a drive
// whose power goes mid-download may be left without working firmware, and an interrupted
// erase leaves it locked. The hold comes from the kernel (logind inhibitor lock on Linux,
// the thread's execution state on Windows, recorded on the bench). When the system refuses
// it, one diagnostic line says so and the work goes on: the hold guards against an
// accident, it is no condition of the update.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qx {

class SleepHold {
public:
    // Takes the hold through the installed kernel; `why` names the work and the drive.
    explicit SleepHold(const std::string& why);
    ~SleepHold() = default;
    SleepHold(const SleepHold&) = delete;
    SleepHold& operator=(const SleepHold&) = delete;

    bool held() const { return hold_ != nullptr; }
    // Ends the hold now (otherwise at destruction).
    void release() { hold_.reset(); }

private:
    std::unique_ptr<PowerHold> hold_;
};

// "<work> of disk <index + 1> (<model>, serial <serial>)", the model and serial number taken
// from the drive table entry and reduced to printable ASCII.
std::string SleepHoldReason(const char* work, int index);

}  // namespace qx
