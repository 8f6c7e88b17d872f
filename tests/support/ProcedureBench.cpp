// The procedure bench (see ProcedureBench.h).
#include "support/ProcedureBench.h"

#include "devices/Discovery.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/DriveTable.h"
#include "platform/sim/SimDrive.h"
#include "update/Package.h"

namespace qx::test {

ProcedureBench::ProcedureBench(std::vector<sim::SimDiskSpec> disks)
    : ProcedureBench([&] {
          sim::SimBenchSpec setup;
          setup.disks = std::move(disks);
          return setup;
      }()) {}

ProcedureBench::ProcedureBench(sim::SimBenchSpec setup) : fixture(std::move(setup)) { enlist(); }

void ProcedureBench::enlist() {
    ResetDeviceSlots();
    ResetDriveTable();
    ResetSystemInfoState();
    VendorXferMode = 2;
    state.caption = "QX Updater A.1.19(RC2)";
    state.appTitle = "QXUpdater";
    const auto& disks = fixture.bench.setup().disks;
    for (size_t i = 0; i < disks.size() && i < static_cast<size_t>(kMaxDrives); ++i) {
        const int slot = static_cast<int>(i);
        fixture.bindSlot(slot, i);
        fillDriveInfo(slot, disks[i].drive);
        // The bus kind the scan gives the disk's path.
        const sim::SimBus bus = disks[i].bus;
        DriveInfo[i].busKind = bus == sim::SimBus::Usb || bus == sim::SimBus::Sbp2 ? DEVICE_USB
                               : bus == sim::SimBus::Scsi                           ? DEVICE_SCSI
                                                                                    : DEVICE_IDE;
        std::snprintf(DriveInfo[i].devicePath, sizeof DriveInfo[i].devicePath, "%s",
                      disks[i].path.c_str());
        DriveRow row;
        row.caption = std::to_string(i + 1);
        row.model = disks[i].drive.model;
        row.serial = disks[i].drive.serial;
        row.firmware = disks[i].drive.firmware;
        row.capacity = "256";
        user.rows.push_back({row, false, false, {}});
        state.DeviceList.push_back("<<IDE>>  " + row.model + " " + row.serial);
    }
    state.deviceListSelected = state.DeviceList.empty() ? -1 : 0;
    user.actionsEnabled = !state.DeviceList.empty();
}

std::vector<sim::SimCall> ProcedureBench::commands(uint8_t command) const {
    std::vector<sim::SimCall> out;
    for (const sim::SimCall& c : fixture.bench.calls()) {
        if (c.hasTaskFile && c.taskFileIn[6] == command) out.push_back(c);
    }
    return out;
}

std::string ProcedureBench::debugText() const {
    std::string text;
    const auto& lines = fixture.bench.debugOutput();
    for (size_t i = debugSeen_; i < lines.size(); ++i) text += lines[i];
    return text;
}

const UserCall& ProcedureBench::first(const std::string& what) const {
    for (const UserCall& c : user.calls) {
        if (c.what == what) return c;
    }
    ADD_FAILURE() << "no call " << what;
    static const UserCall none;
    return none;
}

void ProcedureBench::forget() {
    fixture.bench.clearCalls();
    debugSeen_ = fixture.bench.debugOutput().size();
}

sim::SimDiskSpec withFault(sim::SimDiskSpec disk, const std::string& key, int occurrence,
                           sim::FaultKind kind) {
    disk.faults.push_back(fault(key.c_str(), occurrence, kind));
    return disk;
}

void fillDriveInfo(int slot, const sim::SimDriveSpec& drive) {
    DriveInfoRecord& rec = DriveInfo[slot];
    const sim::SimDrive d(drive);
    const auto id = d.identifyData();
    std::memcpy(rec.identify, id.data(), id.size());
    const auto put = [&](int offset, int width, const std::string& text) {
        std::memset(rec.identify + offset, 0, static_cast<size_t>(width));
        std::memcpy(rec.identify + offset, text.data(),
                    std::min(text.size(), static_cast<size_t>(width)));
    };
    put(kSerialOffset, kSerialWidth, drive.serial);
    put(kFirmwareOffset, kFirmwareWidth, drive.firmware);
    put(kModelOffset, kModelWidth, drive.model);
    rec.busKind = 1;
}

int32_t writePackage(const std::string& path, const std::string& versionText,
                     const std::string& productName, bool picture,
                     const std::vector<PackageImage>& images) {
    const uint32_t base = picture ? kImageBaseWithPicture : kImageBaseNoPicture;
    std::vector<uint8_t> file(base, 0);
    uint8_t* header = file.data() + kPackageHeaderOffset;
    std::memcpy(header, versionText.data(), std::min<size_t>(versionText.size(), 13));
    std::memcpy(header + kVersionTextWidth, productName.data(),
                std::min<size_t>(productName.size(), 11));
    header[kPictureFlagOffset] = picture ? 1 : 0;
    for (const PackageImage& img : images) {
        const size_t at = file.size();
        file.resize(at + kSlotSize, 0);
        const uint32_t length =
            img.lengthGiven ? img.length : static_cast<uint32_t>(img.bytes.size());
        for (int b = 0; b < 4; ++b) file[at + static_cast<size_t>(b)] = static_cast<uint8_t>(length >> (8 * b));
        std::memcpy(file.data() + at + kSlotHeaderSize, img.bytes.data(),
                    std::min<size_t>(img.bytes.size(), kImageArea));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<int32_t>(file.size());
}

std::vector<uint8_t> firmwareImage(size_t length, const std::string& buildInfo, uint32_t seed) {
    sim::SimDriveSpec anyDrive;
    std::vector<uint8_t> img = makeImageFor(anyDrive, length, "0.00", buildInfo, 0, seed);
    img.resize(length);
    return img;
}

}  // namespace qx::test
