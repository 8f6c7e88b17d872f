// The SMART report: the attribute catalogue over a SMART data sector, read directly from the
// first 512 bytes and then through the SMART commands from a drive whose answers come from
// the rest of the input (ATA or SCSI path).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QXLib/Smart.h"
#include "QXLib/Transport.h"
#include "smart/SmartReport.h"
#include "support/FuzzPlatform.h"

using namespace qx;

namespace {

void checkReport(const std::vector<std::string>& lines) {
    // 30 entries, at most three lines each.
    if (lines.size() > 90) std::abort();
    for (const std::string& l : lines) {
        if (l.empty() || l.size() > 95) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> sector(512, 0);
    const size_t direct = std::min<size_t>(size, 512);
    std::memcpy(sector.data(), data, direct);
    checkReport(BuildSmartReport(sector.data()));

    fuzz::FuzzPlatform p(data + direct, size - direct);
    static char path[] = "\\\\?\\usbstor#disk&ven_qx&prod_ssd#0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    SmartDrive = p.input().ConsumeIntegralInRange<uint8_t>(0, kMaxDrives - 1);
    DeviceSlot[SmartDrive].devicePath = path;
    DeviceSlot[SmartDrive].ata = p.input().ConsumeBool() ? 1 : 0;
    std::vector<std::string> lines;
    if (GetSMARTInfo(lines)) checkReport(lines);
    return 0;
}
