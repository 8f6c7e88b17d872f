// Reading, capturing and replaying control calls (TraceCodec.h).
#include "platform/TraceCodec.h"

#include <algorithm>
#include <cstring>

#include "platform/Ascii.h"
#include "platform/DeviceIoctl.h"
#include "platform/sim/Sha256.h"
#include "platform/sim/SimTrace.h"

namespace qx {

namespace {


bool fits(uint64_t offset, uint64_t length, uint64_t room) { return offset <= room && length <= room - offset; }

// The registers of the ATA Status Return descriptor (0x09) of descriptor-format sense.
bool registersFromSense(const std::vector<uint8_t>& sense, std::array<uint8_t, 8>& tf) {
    if (sense.size() < 8 || (sense[0] & 0x7F) != 0x72) return false;
    size_t at = 8;
    const size_t end = std::min(sense.size(), size_t{8} + sense[7]);
    while (at + 2 <= end) {
        const uint8_t type = sense[at];
        const size_t length = size_t{2} + sense[at + 1];
        if (type == 0x09 && length >= 14 && at + 14 <= end) {
            const uint8_t* d = sense.data() + at;
            tf = {d[3], d[5], d[7], d[9], d[11], d[12], d[13], 0};
            return true;
        }
        at += length;
    }
    return false;
}

}  // namespace

std::string HexText(const uint8_t* p, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

void DecodeTraceRequest(uint32_t code, const void* in, uint32_t inLen, void* out, uint32_t outLen,
                        sim::SimCall& c, TraceBuffers& b) {
    c.control = code;
    c.direction = "none";
    auto* outBytes = static_cast<uint8_t*>(out);
    const auto* inBytes = static_cast<const uint8_t*>(in);
    switch (code) {
        case kIoctlAtaPassThrough: {
            c.kind = "ata";
            if (in == nullptr || inLen < sizeof(AtaPassThroughEx)) return;
            AtaPassThroughEx h;
            std::memcpy(&h, in, sizeof h);
            sim::recordAtaRequest(h, c);
            const bool dataIn = (h.AtaFlags & kAtaFlagsDataIn) != 0;
            const bool dataOut = (h.AtaFlags & kAtaFlagsDataOut) != 0;
            if (c.length == 0) return;
            if (dataOut && !dataIn && fits(h.DataBufferOffset, c.length, inLen) && !carriesPassword(c)) {
                c.dataSha256 = sim::Sha256::hex(inBytes + h.DataBufferOffset, c.length);
            }
            if (dataIn && out != nullptr && fits(h.DataBufferOffset, c.length, outLen)) {
                b.readArea = outBytes + h.DataBufferOffset;
                b.readRoom = c.length;
            }
            return;
        }
        case kIoctlScsiPassThroughDirect: {
            c.kind = "scsi";
            if (in == nullptr || inLen < sizeof(ScsiPassThroughDirect)) return;
            ScsiPassThroughDirect h;
            std::memcpy(&h, in, sizeof h);
            sim::recordScsiRequest(h, c);
            if (h.Cdb[0] == 0xA1 || h.Cdb[0] == 0x85) {
                const uint8_t* d = h.Cdb;
                c.hasTaskFile = true;
                c.taskFileOutKnown = false;
                c.taskFileIn = h.Cdb[0] == 0xA1
                                   ? std::array<uint8_t, 8>{d[3], d[4], d[5], d[6], d[7], d[8], d[9], 0}
                                   : std::array<uint8_t, 8>{d[4], d[6], d[8], d[10], d[12], d[13], d[14], 0};
            }
            auto* data = static_cast<uint8_t*>(h.DataBuffer);
            if (c.length > 0 && data != nullptr) {
                if (h.DataIn == kScsiDataIn) {
                    b.readArea = data;
                    b.readRoom = c.length;
                } else if (!carriesPassword(c)) {
                    c.dataSha256 = sim::Sha256::hex(data, c.length);
                }
            }
            if (fits(h.SenseInfoOffset, h.SenseInfoLength, outLen)) {
                b.senseOffset = h.SenseInfoOffset;
                b.senseRoom = h.SenseInfoLength;
            }
            return;
        }
        case kSmartRcvDriveData: {
            c.kind = "smart";
            c.direction = "in";
            c.length = 512;
            if (in == nullptr || inLen < kSmartRequestLength) return;
            SendCmdInParams p;
            std::memcpy(&p, in, kSmartRequestLength);
            sim::recordSmartRequest(p, c);
            c.taskFileOutKnown = false;
            if (out != nullptr && outLen > 16) {
                b.readArea = outBytes + 16;
                b.readRoom = std::min<uint32_t>(outLen - 16, 512);
            }
            return;
        }
        case kIoctlStorageGetDeviceNumber:
            c.kind = "devnum";
            c.direction = "in";
            c.length = outLen;
            return;
        default:
            c.kind = "other";
            return;
    }
}

void CaptureTraceAnswer(const TraceBuffers& b, const void* out, uint32_t outLen, uint32_t returned,
                        sim::SimCall& c) {
    c.hasReturned = true;
    c.returned = returned;
    if (!c.result || out == nullptr) return;
    const auto* o = static_cast<const uint8_t*>(out);
    const auto takeData = [&](uint32_t n) {
        if (b.readArea != nullptr) c.readData.assign(b.readArea, b.readArea + std::min(n, b.readRoom));
    };
    if (c.kind == "ata" && outLen >= sizeof(AtaPassThroughEx)) {
        AtaPassThroughEx h;
        std::memcpy(&h, o, sizeof h);
        std::memcpy(c.taskFileOut.data(), h.CurrentTaskFile, 8);
        // The system lowers DataTransferLength to what the data phase moved: a short read is
        // recorded with the length it returned, and its replay fails as the run did.
        c.transferred = c.direction == "none" ? 0 : std::min(h.DataTransferLength, c.length);
        takeData(c.transferred);
    } else if (c.kind == "scsi" && outLen >= sizeof(ScsiPassThroughDirect)) {
        ScsiPassThroughDirect h;
        std::memcpy(&h, o, sizeof h);
        c.scsiStatus = h.ScsiStatus;
        c.transferred = std::min(h.DataTransferLength, c.length);
        const uint32_t senseLength = std::min<uint32_t>(h.SenseInfoLength, b.senseRoom);
        if (senseLength > 0 && fits(b.senseOffset, senseLength, outLen)) {
            c.sense.assign(o + b.senseOffset, o + b.senseOffset + senseLength);
        }
        if (c.hasTaskFile) c.taskFileOutKnown = registersFromSense(c.sense, c.taskFileOut);
        if (c.direction == "in") takeData(c.transferred);
    } else if (c.kind == "smart" && outLen >= 16) {
        SendCmdOutParams h;
        std::memcpy(&h, o, 16);
        c.transferred = std::min<uint32_t>(h.cBufferSize, 512);
        c.driverError = h.DriverStatus.bDriverError;
        c.ideError = h.DriverStatus.bIDEError;
        takeData(c.transferred);
    } else if (c.kind == "devnum" && outLen >= sizeof(StorageDeviceNumber)) {
        StorageDeviceNumber n;
        std::memcpy(&n, o, sizeof n);
        c.deviceNumber = {n.DeviceType, n.DeviceNumber, n.PartitionNumber};
        c.transferred = sizeof n;
    }
}

uint32_t ApplyTraceAnswer(const sim::SimCall& a, const sim::SimCall& request, const TraceBuffers& b,
                          const void* in, uint32_t inLen, void* out, uint32_t outLen) {
    if (out == nullptr) return 0;
    auto* o = static_cast<uint8_t*>(out);
    const auto putData = [&](uint32_t limit) {
        if (b.readArea == nullptr) return;
        const size_t n = std::min({a.readData.size(), size_t{b.readRoom}, size_t{limit}});
        if (n > 0) std::memcpy(b.readArea, a.readData.data(), n);
    };
    if (request.kind == "ata" && outLen >= sizeof(AtaPassThroughEx) && in != nullptr &&
        inLen >= sizeof(AtaPassThroughEx)) {
        if (out != in) std::memmove(out, in, sizeof(AtaPassThroughEx));
        if (a.taskFileOutKnown) {
            std::memcpy(o + offsetof(AtaPassThroughEx, CurrentTaskFile), a.taskFileOut.data(), 8);
        }
        if (request.direction != "none") {
            const uint32_t moved = std::min(a.transferred, request.length);
            std::memcpy(o + offsetof(AtaPassThroughEx, DataTransferLength), &moved, sizeof moved);
        }
        putData(request.direction == "none" ? request.length : std::min(a.transferred, request.length));
        return a.hasReturned ? a.returned
                             : static_cast<uint32_t>(sizeof(AtaPassThroughEx)) +
                                   (request.direction == "in" ? request.length : 0);
    }
    if (request.kind == "scsi" && outLen >= sizeof(ScsiPassThroughDirect) && in != nullptr &&
        inLen >= sizeof(ScsiPassThroughDirect)) {
        ScsiPassThroughDirect h;
        std::memcpy(&h, in, sizeof h);
        h.ScsiStatus = a.scsiStatus;
        h.DataTransferLength = std::min(a.transferred, request.length);
        const uint32_t senseLength =
            std::min<uint32_t>(static_cast<uint32_t>(a.sense.size()), b.senseRoom);
        h.SenseInfoLength = static_cast<uint8_t>(senseLength);
        std::memcpy(o, &h, sizeof h);
        if (senseLength > 0) std::memcpy(o + b.senseOffset, a.sense.data(), senseLength);
        if (request.direction == "in") putData(h.DataTransferLength);
        return a.hasReturned ? a.returned
                             : (senseLength > 0 ? b.senseOffset + senseLength
                                                : static_cast<uint32_t>(sizeof h));
    }
    if (request.kind == "smart" && outLen >= 16) {
        SendCmdOutParams h{};
        h.cBufferSize = a.transferred;
        h.DriverStatus.bDriverError = a.driverError;
        h.DriverStatus.bIDEError = a.ideError;
        std::memcpy(o, &h, 16);
        putData(a.transferred);
        return a.hasReturned ? a.returned : 16 + a.transferred;
    }
    if (request.kind == "devnum" && outLen >= sizeof(StorageDeviceNumber)) {
        const StorageDeviceNumber n{a.deviceNumber[0], a.deviceNumber[1], a.deviceNumber[2]};
        std::memcpy(o, &n, sizeof n);
        return sizeof n;
    }
    return a.hasReturned ? a.returned : 0;
}

std::string TraceRequestKey(const sim::SimCall& c) {
    std::string k;
    k.reserve(160 + c.path.size());
    k.append(c.kind).append(1, '|').append(LowerAscii(c.path)).append(1, '|');
    if (c.kind == "ata" || c.kind == "smart") k.append(HexText(c.taskFileIn.data(), 8));
    if (c.kind == "scsi") k.append(HexText(c.cdb.data(), std::min<size_t>(c.cdbLength, 16)));
    k.append(1, '|').append(c.direction).append(1, '|').append(std::to_string(c.length));
    if (c.kind == "smart") k.append(1, '|').append(std::to_string(c.driveNumber));
    if (c.direction == "out" && !carriesPassword(c)) k.append(1, '|').append(c.dataSha256);
    return k;
}

std::string DescribeTraceRequest(const sim::SimCall& c) {
    std::string d = std::string(sim::controlName(c.control)) + " on " + c.path;
    if (c.kind == "ata" || c.kind == "smart") d += ", registers " + HexText(c.taskFileIn.data(), 8);
    if (c.kind == "scsi") d += ", CDB " + HexText(c.cdb.data(), std::min<size_t>(c.cdbLength, 16));
    d += ", " + c.direction + " " + std::to_string(c.length) + " bytes";
    if (!c.dataSha256.empty()) d += ", data SHA-256 " + c.dataSha256;
    return d;
}

}  // namespace qx
