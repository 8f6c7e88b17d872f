// A bench for the procedure tests (update, secure erase, SMART): a simulated bench whose
// disks stand in the drive table as a scan would have left them (DeviceSlot, DriveInfo,
// list rows, DeviceList), a main-window state and a scripted user.
//
//   qx::test::ProcedureBench b({makerSataDisk(1), makerSataDisk(2)});
//   b.user.check(1);
//   qx::DownloadCodeBtnClick(b.state, b.user);
//   b.commands(0x92) ...
#pragma once

#include "support/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/MainState.h"
#include "support/ScriptedUser.h"
#include "support/SimFixture.h"

namespace qx::test {

class ProcedureBench {
public:
    explicit ProcedureBench(std::vector<sim::SimDiskSpec> disks);
    explicit ProcedureBench(sim::SimBenchSpec setup);

    sim::SimBench& bench() { return fixture.bench; }
    sim::SimDriveState& drive(size_t disk) { return fixture.drive(disk); }

    // The ATA commands (ATA path, or ATA PASS-THROUGH on the SCSI path) with this command
    // register, in order.
    std::vector<sim::SimCall> commands(uint8_t command) const;
    // The debugger output so far, as one text.
    std::string debugText() const;
    // The first call of this kind made to the scripted user (fails the test when none).
    const UserCall& first(const std::string& what) const;
    // Drops recorded calls and debugger output lines seen so far from what the helpers
    // report (calls() of the bench are cleared).
    void forget();

    SimFixture fixture;
    MainState state;
    ScriptedUser user;

private:
    void enlist();
    size_t debugSeen_ = 0;
};

// The disk with one more fault.
sim::SimDiskSpec withFault(sim::SimDiskSpec disk, const std::string& key, int occurrence,
                           sim::FaultKind kind);

// The drive's identify data as the scan keeps it for a directly attached drive: the text
// fields in reading order, NUL-filled; every other word as the drive reports it.
void fillDriveInfo(int slot, const sim::SimDriveSpec& drive);

// Writes a package file: `exeBytes` of executable (zero bytes), the header with the
// version text and product name at 0x2FFE00, the picture area when `picture` is set, and
// one slot per image (length from `lengths`, or the image's size when absent).
struct PackageImage {
    std::vector<uint8_t> bytes;
    uint32_t length = 0;  // slot header length; 0 → bytes.size()
    bool lengthGiven = false;
};
// Returns the file size (ExeFileSize).
int32_t writePackage(const std::string& path, const std::string& versionText,
                     const std::string& productName, bool picture,
                     const std::vector<PackageImage>& images);

// A firmware image of `length` bytes carrying the BuildInfo text, with a valid checksum.
std::vector<uint8_t> firmwareImage(size_t length, const std::string& buildInfo,
                                   uint32_t seed = 7);

}  // namespace qx::test
