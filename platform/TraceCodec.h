// Control calls as the trace sees them (docs/trace.md): the request structures of
// DeviceIoctl.h read into a SimCall before the call, the answer read back after it, and
// the same answer written into a caller's buffers when a trace is replayed. Every read is
// bounded by the buffer lengths the caller gave.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sim/SimBench.h"

namespace qx {

// The bytes as lower-case hexadecimal digits, two a byte.
std::string HexText(const uint8_t* p, size_t n);

// Where the data and the sense bytes of one call land in the caller's buffers.
struct TraceBuffers {
    uint8_t* readArea = nullptr;  // data from the device
    uint32_t readRoom = 0;
    uint32_t senseOffset = 0;     // SCSI: the sense bytes within `out`
    uint32_t senseRoom = 0;
};

// Fills the request fields of `c` (kind, header fields, task file or CDB, direction,
// length, the digest of data written) and where the answer goes.
void DecodeTraceRequest(uint32_t code, const void* in, uint32_t inLen, void* out, uint32_t outLen,
                        sim::SimCall& c, TraceBuffers& b);

// After the call: the result fields of `c` from the caller's buffers.
void CaptureTraceAnswer(const TraceBuffers& b, const void* out, uint32_t outLen, uint32_t returned,
                        sim::SimCall& c);

// Writes a recorded answer into the caller's buffers, as the system would have; returns the
// byte count the call reports.
uint32_t ApplyTraceAnswer(const sim::SimCall& answer, const sim::SimCall& request,
                          const TraceBuffers& b, const void* in, uint32_t inLen, void* out,
                          uint32_t outLen);

// What identifies a request in a trace: control, path (without case), the registers or the
// CDB, direction, length and the digest of the data written (never for a password block).
std::string TraceRequestKey(const sim::SimCall& c);

// The request in words, for a diagnostic.
std::string DescribeTraceRequest(const sim::SimCall& c);

}  // namespace qx
