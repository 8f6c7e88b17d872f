// The fault matrix's common parts: the ways a command fails, the bench fault that makes the
// k-th control call on a disk fail that way, how to tell that it did, and what each flow
// must do after a failure at each position of its good run (the scan, the firmware update,
// the secure erase, the SMART read). The core procedures' matrix (tests/core) and the
// command line's (cli/tests) both check against these rules.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sim/SimBench.h"

namespace qx::test {

using Lines = std::vector<std::string>;

enum class Failure { AtaError, CheckCondition, ControlFails, TimeOut, ShortData };

const char* nameOf(Failure f);
// Test names and failure messages show the kind by name.
inline void PrintTo(Failure f, std::ostream* os) { *os << nameOf(f); }

// Whether a drive or transport can fail this call in that way: ERR needs an ATA command,
// CHECK CONDITION a SCSI pass-through (the ATA path has no sense data on Windows; its
// translator's errors arrive as ERR), a short transfer a data-in command.
bool applies(Failure f, const sim::SimCall& c);
// The fault that makes the (position + 1)-th control call on the disk fail.
sim::SimFault faultAt(size_t position, Failure f, const sim::SimCall& c);
// The same fault as a bench file line ("fault = call at N ...").
std::string faultLine(size_t position, Failure f, const sim::SimCall& c);
// Whether the bench shows call `c` failed the intended way (the fault hit that command).
bool failedAsAsked(Failure f, const sim::SimCall& c);
// What identifies a command, for comparing the commands of two runs.
std::string signature(const sim::SimCall& c);
std::vector<std::string> signatures(const std::vector<sim::SimCall>& calls);
std::vector<sim::SimCall> callsTo(const sim::SimBench& bench, const std::string& path);
// The diagnostic lines the transport writes for a call that failed this way.
Lines transportLines(Failure f, const sim::SimCall& c);
bool logged(const std::vector<std::string>& output, const std::string& line);

std::vector<size_t> range(size_t from, size_t to);
bool isSetFeatures(const sim::SimCall& c, uint8_t value);
bool isVendorWrite(const sim::SimCall& c);
bool isVendorRead(const sim::SimCall& c);
bool isIdentify(const sim::SimCall& c);

// What a flow does after command k of its good run failed: the good run's positions the
// drive still receives after k (in order), and for the procedures the drive's status, the
// log box and diagnostic lines that must be written.
struct Expected {
    std::vector<size_t> after;
    std::string status;
    Lines log;
    Lines debug;
};

// The scan, from the commands it sends the drive: how the drive is listed afterwards.
enum class Listing {
    Dropped,        // passed over: not listed, the next drive takes its caption
    Listed,         // listed as in the good run
    BlankIdentity,  // listed with blank model, serial number and firmware revision
    NoLetter,       // listed without its drive letter
    NoSize,         // listed with capacity 0
};
struct ScanExpected {
    std::vector<size_t> after;
    Listing listing = Listing::Listed;
};
// `scan` holds the scan's commands to the drive; `bridge`: the drive is behind a USB bridge.
ScanExpected expectedScan(const std::vector<sim::SimCall>& scan, size_t k, bool bridge);

// The firmware update of disk 1 (package mode, an image that fits), from its own commands.
// `inVendorMode`: the drive is still in vendor mode when the update starts (the scan's probe
// leaves it on), so a failed switch to vendor mode changes nothing.
Expected expectedUpdate(const std::vector<sim::SimCall>& update, size_t k, bool inVendorMode = false);
// The command line's update of disk 1: the procedure (`update` up to its last DOWNLOAD
// MICROCODE), then for a drive that passed the read-back: IDENTIFY DEVICE, vendor mode on,
// the controller record, vendor mode off. A failed read-back leaves "Pass".
struct ExpectedWithReadBack {
    Expected procedure;       // `after` holds the read-back's positions too
    bool readBack = false;    // the drive was read back (its document has "after")
    std::string afterReason;  // the drive's `reason` when the read-back failed
};
ExpectedWithReadBack expectedUpdateWithReadBack(const std::vector<sim::SimCall>& update, size_t k,
                                                bool inVendorMode);
// The update of disk 1 when the scan listed it with a blank identity: the controller record
// is read as always, then the drive fails before the check IDENTIFY, nothing is sent.
Expected expectedUpdateOfBlankIdentity(const std::vector<sim::SimCall>& update);
// The secure erase of disk 1 with the right master password.
Expected expectedErase(const std::vector<sim::SimCall>& erase, size_t k);
// The secure erase of disk 1 when the scan listed it with a blank identity: it fails before
// anything is sent.
Expected expectedEraseOfBlankIdentity();
// The SMART read: any failed command ends the acquisition, no report.
Expected expectedSmartRead(const std::vector<sim::SimCall>& smart, size_t k);

}  // namespace qx::test
