// The controller information record and the system pages: VP_GetSystemInfo over a drive
// whose vendor answers come from the input, on the ATA or the SCSI path, in either vendor
// transfer mode; then the BuildInfo codes it leaves for the update.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "support/FuzzPlatform.h"
#include "update/Package.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzPlatform p(data, size);
    FuzzedDataProvider& in = p.input();
    static char path[] = "\\\\?\\ide#diskqx_ssd#4&1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    const auto device = in.ConsumeIntegralInRange<uint8_t>(0, kMaxDrives - 1);
    DeviceSlot[device].devicePath = path;
    DeviceSlot[device].ata = in.ConsumeBool() ? 1 : 0;
    VendorXferMode = in.ConsumeBool() ? 1 : 2;

    std::vector<uint8_t> work(kWorkBufferSize, 0);
    if (in.ConsumeBool()) VA_CheckVendorMode(device);
    VA_EnableVendorCmd(device, true);
    if (VP_GetSystemInfo(device, work.data())) {
        const BuildInfoFields f = ReadBuildInfo(DriveBuildInfo.data());
        if (f.binFileCode.size() != 4 || f.customerId.size() != 4) std::abort();
        const uint8_t layout = SelectedLayoutVersion();
        if (layout > 1) std::abort();
    }
    VA_EnableVendorCmd(device, false);
    return 0;
}
