// A simulated bench installed as the process platform for the length of a test.
//
//   qx::test::SimFixture f;                 // the built-in demo bench
//   qx::test::SimFixture f(setup);           // a bench of your own
//   f.bench.driveState(0).vendorMode ...    // the bench itself
//   f.clock().now()                         // its virtual clock
//   f.bindSlot(0, 2);                       // DeviceSlot 0 -> disk 2, flags as the scan sets them
//
// The previous platform is installed again when the fixture goes out of scope.
#pragma once

#include <array>
#include <memory>
#include <vector>
#include <string>
#include <string_view>

#include "QXLib/Transport.h"
#include "platform/Platform.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimDrive.h"

namespace qx::test {

class SimFixture {
public:
    SimFixture();                                         // the demo bench
    explicit SimFixture(sim::SimBenchSpec setup);
    explicit SimFixture(std::unique_ptr<sim::SimBench> bench);
    ~SimFixture();
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    VirtualClock& clock() { return bench.clock(); }
    // The device path of disk `disk` (the text the transport opens).
    const char* path(size_t disk) { return bench.setup().disks.at(disk).path.c_str(); }
    sim::SimDriveState& drive(size_t disk) { return bench.driveState(disk); }

    // Points DeviceSlot `slot` at disk `disk`: the ATA flag for IDE disks (and SCSI-path
    // disks when the bench reports Windows 8 or later), the SCSI path otherwise. The slot
    // borrows the setup's path text, so do not add disks to the setup afterwards; the fixture
    // empties the slots it bound when it goes.
    void bindSlot(int slot, size_t disk) {
        const sim::SimDiskSpec& d = bench.setup().disks.at(disk);
        const bool win8 = bench.setup().os.major == 6 && bench.setup().os.minor == 2;
        DeviceSlotRecord& s = DeviceSlot[slot];
        boundSlots_ |= 1u << (slot & 15);
        s.devicePath = d.path.c_str();
        s.usbDirect = 0;
        s.ata = (d.bus == sim::SimBus::Ide || (d.bus == sim::SimBus::Scsi && win8)) ? 1 : 0;
    }

private:
    std::unique_ptr<sim::SimBench> owned_;
    Platform previous_;
    uint32_t boundSlots_ = 0;

public:
    sim::SimBench& bench;
};

// Setup builders for common disks. `n` makes paths and identities unique.
sim::SimDriveSpec makerDrive(int n);
sim::SimDiskSpec makerSataDisk(int n);                        // IDE path, maker controller
sim::SimDiskSpec usbBridgeDisk(int n, const char* code);      // USB enclosure, maker drive
sim::SimDiskSpec foreignSsdDisk(int n);                       // another maker's SSD
sim::SimDiskSpec hardDisk(int n);                             // rotating disk

// A firmware image of `length` bytes (at least 834) prepared for `drive`: random-looking
// code bytes from `seed`, the IdentifyTemplate with the drive's serial number, model and
// world wide name and the given revision, the BuildInfo text, the 0xA5 marker at length-2
// and a valid checksum at length-1. The vector is padded with `pad` to whole blocks.
std::vector<uint8_t> makeImageFor(const sim::SimDriveSpec& drive, size_t length,
                                  const std::string& revision, std::string_view buildInfo,
                                  uint8_t pad = 0, uint32_t seed = 1);
// Recomputes the checksum byte of an image of `length` bytes.
void sealImage(std::vector<uint8_t>& image, size_t length);

// A fault on `key` at occurrence `at` (0 = every one); `ms` for hangs.
inline sim::SimFault fault(const char* key, int at, sim::FaultKind kind, uint32_t ms = 0) {
    sim::SimFault f;
    f.key = key;
    f.occurrence = at;
    f.kind = kind;
    f.ms = ms;
    return f;
}

// Raw control calls through the installed platform's DeviceIo, for tests of the bench
// itself (the utility's own requests come from QXLib/Transport).
struct RawResult {
    bool opened = false;
    bool ok = false;                  // the control call's result
    uint32_t lastError = 0;
    std::array<uint8_t, 8> taskFile{};  // ATA: CurrentTaskFile returned
    uint8_t scsiStatus = 0;
    std::vector<uint8_t> sense;       // SCSI: the sense bytes returned
    uint32_t transferred = 0;         // ATA and SCSI: DataTransferLength returned
};
// IOCTL_ATA_PASS_THROUGH with the header and data area in one buffer.
RawResult rawAta(const char* path, const std::array<uint8_t, 8>& taskFile, sim::DataDir dir,
                 uint8_t* data, uint32_t length, uint32_t timeoutSeconds = 10);
// IOCTL_SCSI_PASS_THROUGH_DIRECT with the transport's sense buffer (kSenseBufferLength).
RawResult rawScsi(const char* path, const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                  uint8_t* data, uint32_t length, uint32_t timeoutSeconds = 10);
// An ATA command as an ATA PASS-THROUGH(12) CDB (protocol by direction: 3, 4 or 5).
RawResult rawSat(const char* path, const std::array<uint8_t, 8>& taskFile, sim::DataDir dir,
                 uint8_t* data, uint32_t length);

// Registers in IDEREGS order: features, count, lba low, mid, high, device, command.
inline std::array<uint8_t, 8> regs(uint8_t command, uint8_t features = 0, uint8_t count = 0,
                                   uint8_t lbaLow = 0, uint8_t lbaMid = 0, uint8_t lbaHigh = 0) {
    return {features, count, lbaLow, lbaMid, lbaHigh, 0xE0, command, 0};
}

}  // namespace qx::test
