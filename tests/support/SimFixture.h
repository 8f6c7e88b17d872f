// A simulated bench installed as the process platform for the length of a test.
//
//   qx::test::SimFixture f;                 // the built-in demo bench
//   qx::test::SimFixture f(spec);           // a bench of your own
//   f.bench.driveState(0).vendorMode ...    // the bench itself
//   f.clock().now()                         // its virtual clock
//   f.bindSlot(0, 2);                       // DeviceSlot 0 -> disk 2, flags as the scan sets them
//
// The previous platform is installed again when the fixture goes out of scope.
#pragma once

#include <memory>
#include <string>

#include "QXLib/Transport.h"
#include "platform/Platform.h"
#include "platform/sim/SimBench.h"

namespace qx::test {

class SimFixture {
public:
    SimFixture();                                         // the demo bench
    explicit SimFixture(sim::SimBenchSpec spec);
    explicit SimFixture(std::unique_ptr<sim::SimBench> bench);
    ~SimFixture();
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    VirtualClock& clock() { return bench.clock(); }
    // The device path of disk `disk` (the text the transport opens).
    const char* path(size_t disk) { return bench.spec().disks.at(disk).path.c_str(); }
    sim::SimDriveState& drive(size_t disk) { return bench.driveState(disk); }

    // Points DeviceSlot `slot` at disk `disk`: the ATA flag for IDE disks (and SCSI-path
    // disks when the bench reports Windows 8 or later), the SCSI path otherwise. The slot
    // borrows the spec's path text, so do not add disks to the spec afterwards.
    void bindSlot(int slot, size_t disk) {
        const sim::SimDiskSpec& d = bench.spec().disks.at(disk);
        const bool win8 = bench.spec().os.major == 6 && bench.spec().os.minor == 2;
        DeviceSlotRecord& s = DeviceSlot[slot];
        s.devicePath = d.path.c_str();
        s.usbDirect = 0;
        s.ata = (d.bus == sim::SimBus::Ide || (d.bus == sim::SimBus::Scsi && win8)) ? 1 : 0;
    }

private:
    std::unique_ptr<sim::SimBench> owned_;
    Platform previous_;

public:
    sim::SimBench& bench;
};

// Spec builders for common disks. `n` makes paths and identities unique.
sim::SimDriveSpec makerDrive(int n);
sim::SimDiskSpec makerSataDisk(int n);                        // IDE path, maker controller
sim::SimDiskSpec usbBridgeDisk(int n, const char* code);      // USB enclosure, maker drive
sim::SimDiskSpec foreignSsdDisk(int n);                       // another maker's SSD
sim::SimDiskSpec hardDisk(int n);                             // rotating disk

}  // namespace qx::test
