// Sense data as a bridge or the system returns it: both formats, and the verdict on the
// command. Input: the SCSI status byte, then the sense bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "QXLib/SenseData.h"
#include "platform/DeviceIoctl.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // A copy of exactly the sense length, so a read beyond it is seen by the sanitizer.
    const std::vector<uint8_t> sense(data + 1, data + size);
    const std::optional<SenseData> d = DecodeSenseData(sense.data(), sense.size());
    std::optional<SenseData> seen;
    const bool ok = ScsiCommandSucceeded(data[0], sense.data(), sense.size(), &seen);
    if (data[0] == kScsiStatusCheckCondition) {
        if (seen.has_value() != d.has_value()) std::abort();
        // Success after CHECK CONDITION only with readable sense, a benign key and no ERR.
        if (ok && (!d || (d->senseKey != kSenseKeyNoSense && d->senseKey != kSenseKeyRecoveredError) ||
                   (d->ataStatus() & kAtaStatusErr) != 0))
            std::abort();
    } else if (ok != (data[0] == kScsiStatusGood)) {
        std::abort();
    }
    if (d && d->responseCode != (sense[0] & 0x7F)) std::abort();
    return 0;
}
