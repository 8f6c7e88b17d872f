// The bench trace: one JSON object per control call, one per line (docs/trace.md).
// Data written to a device appears only as its SHA-256; a security erase block holds a
// password, so the bytes themselves are never written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/DeviceIoctl.h"
#include "platform/sim/SimBench.h"

namespace qx::sim {

// The JSON text of one call, without the line end.
std::string formatTraceLine(const SimCall& call);

// True for the data block of an ATA security command that carries a password (SECURITY
// SET PASSWORD, UNLOCK, ERASE UNIT, DISABLE PASSWORD): its bytes and even their digest are
// never traced, as the digest of a short block would give the password away to a dictionary.
bool carriesPassword(const SimCall& call);

// True for the ATA command codes of those commands (F1h, F2h, F4h, F6h).
bool isPasswordCommand(uint8_t command);

// The fields of a request's header as a call records them: the bench and the recorder over
// a real back-end read the same structures the same way. The ATA and SCSI ones set the
// direction too.
void recordAtaRequest(const AtaPassThroughEx& h, SimCall& c);
void recordScsiRequest(const ScsiPassThroughDirect& h, SimCall& c);
void recordSmartRequest(const SendCmdInParams& p, SimCall& c);

// An open that failed (traced so that a replay fails it too), with the system's text for
// the error when there is one.
std::string formatOpenFailureLine(uint64_t time, const std::string& path, uint32_t lastError,
                                  const std::string& lastErrorText = {});

// One answer of the system's disk list, drive letters, Windows directory, version or rescan.
struct TraceSystemAnswer {
    std::string query;               // "diskInterfaces", "logicalDrives", "windowsDirectory",
                                     // "osVersion", "rescan"
    bool ok = true;                  // diskInterfaces: the enumeration could be started
    std::vector<std::string> paths;  // diskInterfaces
    uint32_t mask = 0;               // logicalDrives
    std::string text;                // windowsDirectory
    OsVersion os;                    // osVersion
    int step = 0;                    // rescan: 0 or the failing step
    uint32_t code = 0;               // rescan: the error code
};
std::string formatSystemLine(uint64_t time, const TraceSystemAnswer& answer);

// Name of a control code as used in the trace ("IOCTL_ATA_PASS_THROUGH", ...).
const char* controlName(uint32_t code);

}  // namespace qx::sim
