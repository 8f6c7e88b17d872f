// Sleep and shutdown hold around downloads and erases.
#include "update/SleepHold.h"

#include "QXLib/DbgLog.h"
#include "devices/DriveTable.h"

namespace qx {

namespace {

// Drive texts come from the drive: only printable ASCII reaches the system's log.
std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    return out;
}

}  // namespace

SleepHold::SleepHold(const std::string& why) {
    Kernel* kernel = platform().kernel;
    if (kernel != nullptr) hold_ = kernel->holdOffSleep(why);
    if (!hold_) {
        DbgPrintf("Sleep and shutdown are not held off during: %.200s\r\n", why.c_str());
    }
}

std::string SleepHoldReason(const char* work, int index) {
    std::string text = std::string(work) + " of disk " + std::to_string(index + 1);
    if (index < 0 || index >= kMaxDrives) return text;
    const uint8_t* identify = DriveInfo[index].identify;
    const std::string model = printable(IdentifyText(identify, kModelOffset, kModelWidth));
    const std::string serial = printable(IdentifyText(identify, kSerialOffset, kSerialWidth));
    return text + " (" + model + ", serial " + serial + ")";
}

}  // namespace qx
