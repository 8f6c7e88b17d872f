// IDENTIFY DEVICE answers: the text fields (serial number, firmware revision, model), the
// world wide name, the capacity, and IDENTIFY taken through the SMART request during
// discovery. Input: the drive's answers, call by call (support/FuzzPlatform.h); the first
// 512 bytes are also read as an identify sector directly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "QXLib/MicroCode.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/Discovery.h"
#include "devices/DriveTable.h"
#include "platform/AtaString.h"
#include "support/FuzzPlatform.h"

using namespace qx;

namespace {

void readFields(const uint8_t* identify) {
    const struct { int offset, width; } fields[] = {
        {kSerialOffset, kSerialWidth}, {kFirmwareOffset, kFirmwareWidth}, {kModelOffset, kModelWidth}};
    for (const auto& f : fields) {
        const std::string t = IdentifyText(identify, f.offset, f.width);
        const std::string trimmed = IdentifyTextTrimmed(identify, f.offset, f.width);
        if (t.size() > static_cast<size_t>(f.width) || trimmed.size() > t.size()) std::abort();
        if (t.find('\0') != std::string::npos) std::abort();
        const auto field = identify + f.offset;
        const auto width = static_cast<size_t>(f.width);
        if (ReadAtaString(field, width, AtaNul::EndsText).find('\0') != std::string::npos) std::abort();
        if (ReadAtaString(field, width, AtaNul::PadsEnd).size() > width) std::abort();
    }
    if (WwnToText(identify + kWwnOffset).size() != 16) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t sector[512] = {};
    std::memcpy(sector, data, std::min<size_t>(size, sizeof sector));
    readFields(sector);
    uint8_t fixed[512];
    std::memcpy(fixed, sector, sizeof fixed);
    FixAtaString(fixed + 54, 40);
    FixAtaString(fixed + 46, 8);
    FixAtaString(fixed + 20, 20);
    readFields(fixed);

    fuzz::FuzzPlatform p(data, size);
    static char path[] = "\\\\?\\ide#diskqx_ssd#4&1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    DeviceSlot[0].devicePath = path;
    DeviceSlot[0].ata = 1;
    DeviceSlot[1].devicePath = path;  // the same drive on the SCSI path
    DeviceSlot[1].ata = 0;
    for (uint8_t device = 0; device < 2; ++device) {
        const uint64_t sectors = GetDriveSectorCount(device);
        if (sectors >= (uint64_t{1} << 48)) std::abort();
        if (GetDriveCapacityMB(device) > (uint64_t{1} << 37)) std::abort();
        uint8_t identify[512];
        if (VC_IdentifyDevice(device, identify, 1) == 1) readFields(identify);
    }
    uint8_t viaSmart[512];
    GetIdentifyData(path, 0, DEVICE_IDE, viaSmart);
    readFields(viaSmart);
    return 0;
}
