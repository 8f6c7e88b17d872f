// The drive scan over drives and bridges whose every answer (vendor-mode probe, IDENTIFY,
// INQUIRY, device numbers) comes from the input. The first bytes choose the system: how
// many disks on which buses, the Windows version and the volume letters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "QXLib/Transport.h"
#include "app/core/MainState.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "support/FuzzPlatform.h"
#include "support/ScriptedUser.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzPlatform p(data, size);
    FuzzedDataProvider& in = p.input();
    static const char* const kinds[] = {"ide", "scsi", "usbstor", "sbp2", "storage", "IDE"};
    const int disks = in.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < disks; ++i) {
        const char* kind = kinds[in.ConsumeIntegralInRange<size_t>(0, 5)];
        p.disks.push_back(std::string("\\\\?\\") + kind + "#disk&ven_qx&prod_ssd#" +
                          std::to_string(i) + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    }
    p.os.minor = in.ConsumeBool() ? 2 : 1;
    p.logicalDrives = in.ConsumeIntegral<uint32_t>() & 0x03FFFFFFu;

    MainState state;
    test::ScriptedUser user;
    GetQuorvexDevice(state, user);
    if (DriveCount < 0 || DriveCount > disks || user.rows.size() != static_cast<size_t>(DriveCount) ||
        state.DeviceList.size() != user.rows.size())
        std::abort();
    for (int q = 0; q < DriveCount; ++q) {
        const DriveRow& row = user.rows[static_cast<size_t>(q)].row;
        if (row.caption != std::to_string(q + 1) || row.model.size() > kModelWidth ||
            row.serial.size() > kSerialWidth || row.firmware.size() > kFirmwareWidth)
            std::abort();
        // Every accepted drive is reachable by its slot, through its own record.
        if (DeviceSlot[q].devicePath != DriveInfo[q].devicePath) std::abort();
    }
    for (int q = DriveCount; q < kMaxDrives; ++q) {
        if (DeviceSlot[q].devicePath != nullptr &&
            DeviceSlot[q].devicePath != DriveInfo[q].devicePath)
            std::abort();  // a slot left pointing into the released candidate table
    }
    return 0;
}
