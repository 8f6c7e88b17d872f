// The bench trace: one JSON object per control call, one per line (docs/trace.md).
// Data written to a device appears only as its SHA-256; a security erase block holds a
// password, so the bytes themselves are never written.
#pragma once

#include <string>

#include "platform/sim/SimBench.h"

namespace qx::sim {

// The JSON text of one call, without the line end.
std::string formatTraceLine(const SimCall& call);

// Name of a control code as used in the trace ("IOCTL_ATA_PASS_THROUGH", ...).
const char* controlName(uint32_t code);

}  // namespace qx::sim
