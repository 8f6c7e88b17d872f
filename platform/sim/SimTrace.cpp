// Formatting of trace lines (see SimTrace.h and docs/trace.md).
#include "platform/sim/SimTrace.h"

#include <cstdio>
#include <cstring>

#include "platform/DeviceIoctl.h"

namespace qx::sim {

namespace {

class Json {
public:
    Json() : text_(1, '{') {}
    Json& num(const char* key, uint64_t v) {
        sep(key);
        text_ += std::to_string(v);
        return *this;
    }
    Json& boolean(const char* key, bool v) {
        sep(key);
        text_ += v ? "true" : "false";
        return *this;
    }
    Json& str(const char* key, const std::string& v) {
        sep(key);
        quote(v);
        return *this;
    }
    Json& hex(const char* key, const uint8_t* p, size_t n) {
        static const char* d = "0123456789abcdef";
        std::string s;
        s.reserve(2 * n);
        for (size_t i = 0; i < n; ++i) {
            s.push_back(d[p[i] >> 4]);
            s.push_back(d[p[i] & 15]);
        }
        return str(key, s);
    }
    Json& strings(const char* key, const std::vector<std::string>& values) {
        sep(key);
        text_ += '[';
        for (size_t i = 0; i < values.size(); ++i) {
            if (i > 0) text_ += ',';
            quote(values[i]);
        }
        text_ += ']';
        return *this;
    }
    Json& object(const char* key, const Json& inner) {
        sep(key);
        text_ += inner.done();
        return *this;
    }
    std::string done() const { return text_ + "}"; }

private:
    void sep(const char* key) {
        if (text_.size() > 1) text_ += ",";
        quote(key);
        text_ += ":";
    }
    // Bytes outside printable ASCII are escaped as \u00XX, so every line is valid JSON
    // (and plain ASCII) whatever a path holds.
    void quote(const std::string& s) {
        text_ += '"';
        for (const char byte : s) {
            const auto ch = static_cast<unsigned char>(byte);
            if (ch == '"' || ch == '\\') {
                text_ += '\\';
                text_ += static_cast<char>(ch);
            } else if (ch < 0x20 || ch >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", ch);
                text_ += buf;
            } else {
                text_ += static_cast<char>(ch);
            }
        }
        text_ += '"';
    }
    std::string text_;
};

std::string base64(const std::vector<uint8_t>& data) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    s.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t n = (uint32_t{data[i]} << 16) |
                           (i + 1 < data.size() ? uint32_t{data[i + 1]} << 8 : 0u) |
                           (i + 2 < data.size() ? uint32_t{data[i + 2]} : 0u);
        s.push_back(k[(n >> 18) & 63]);
        s.push_back(k[(n >> 12) & 63]);
        s.push_back(i + 1 < data.size() ? k[(n >> 6) & 63] : '=');
        s.push_back(i + 2 < data.size() ? k[n & 63] : '=');
    }
    return s;
}

}  // namespace

bool carriesPassword(const SimCall& c) {
    uint8_t command = 0;
    if (c.kind == "ata") {
        command = c.taskFileIn[6];
    } else if (c.kind == "scsi" && c.cdb[0] == 0xA1) {
        command = c.cdb[9];
    } else if (c.kind == "scsi" && c.cdb[0] == 0x85) {
        command = c.cdb[14];
    } else {
        return false;
    }
    return isPasswordCommand(command);
}

bool isPasswordCommand(uint8_t command) {
    return command == 0xF1 || command == 0xF2 || command == 0xF4 || command == 0xF6;
}

void recordAtaRequest(const AtaPassThroughEx& h, SimCall& c) {
    c.headerLength = h.Length;
    c.ataFlags = h.AtaFlags;
    c.length = h.DataTransferLength;
    c.timeout = h.TimeOutValue;
    c.dataBufferOffset = h.DataBufferOffset;
    c.hasTaskFile = true;
    std::memcpy(c.taskFileIn.data(), h.CurrentTaskFile, 8);
    const bool dataIn = (h.AtaFlags & kAtaFlagsDataIn) != 0;
    const bool dataOut = (h.AtaFlags & kAtaFlagsDataOut) != 0;
    c.direction = dataIn ? "in" : dataOut ? "out" : "none";
}

void recordScsiRequest(const ScsiPassThroughDirect& h, SimCall& c) {
    c.headerLength = h.Length;
    c.targetId = h.TargetId;
    c.cdbLength = h.CdbLength;
    c.senseInfoLength = h.SenseInfoLength;
    c.senseInfoOffset = h.SenseInfoOffset;
    c.dataIn = h.DataIn;
    c.length = h.DataTransferLength;
    c.timeout = h.TimeOutValue;
    std::memcpy(c.cdb.data(), h.Cdb, 16);
    c.direction = c.length == 0 ? "none" : h.DataIn == kScsiDataIn ? "in" : "out";
}

void recordSmartRequest(const SendCmdInParams& p, SimCall& c) {
    c.headerLength = p.cBufferSize;
    c.driveNumber = p.bDriveNumber;
    c.hasTaskFile = true;
    std::memcpy(c.taskFileIn.data(), &p.irDriveRegs, 8);
}

std::string formatOpenFailureLine(uint64_t time, const std::string& path, uint32_t lastError,
                                  const std::string& lastErrorText) {
    Json j;
    j.num("time", time).str("event", "open").str("path", path);
    j.boolean("result", false).num("lastError", lastError);
    if (!lastErrorText.empty()) j.str("lastErrorText", lastErrorText);
    return j.done();
}

std::string formatSystemLine(uint64_t time, const TraceSystemAnswer& a) {
    Json j;
    j.num("time", time).str("event", "system").str("query", a.query);
    if (a.query == "diskInterfaces") {
        j.boolean("result", a.ok);
        if (a.ok) j.strings("paths", a.paths);
    } else if (a.query == "logicalDrives") {
        j.num("mask", a.mask);
    } else if (a.query == "windowsDirectory") {
        j.str("text", a.text);
    } else if (a.query == "osVersion") {
        j.boolean("extendedOk", a.os.extendedOk).boolean("basicOk", a.os.basicOk);
        j.num("major", a.os.major).num("minor", a.os.minor);
        j.num("servicePackMajor", a.os.servicePackMajor);
    } else if (a.query == "rescan") {
        j.num("step", static_cast<uint64_t>(a.step < 0 ? 0 : a.step)).num("code", a.code);
    }
    return j.done();
}

const char* controlName(uint32_t code) {
    switch (code) {
        case kIoctlAtaPassThrough: return "IOCTL_ATA_PASS_THROUGH";
        case kIoctlScsiPassThroughDirect: return "IOCTL_SCSI_PASS_THROUGH_DIRECT";
        case kSmartRcvDriveData: return "SMART_RCV_DRIVE_DATA";
        case kIoctlStorageGetDeviceNumber: return "IOCTL_STORAGE_GET_DEVICE_NUMBER";
        default: return "UNKNOWN";
    }
}

std::string formatTraceLine(const SimCall& c) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%05x", c.control);
    Json j;
    j.num("time", c.time).num("elapsedMs", c.elapsedMs).str("path", c.path);
    j.str("control", controlName(c.control)).str("code", code);
    if (c.kind == "ata") {
        Json r;
        r.num("Length", c.headerLength).num("AtaFlags", c.ataFlags);
        r.num("DataTransferLength", c.length).num("TimeOutValue", c.timeout);
        r.num("DataBufferOffset", c.dataBufferOffset);
        j.object("request", r);
    } else if (c.kind == "scsi") {
        Json r;
        r.num("Length", c.headerLength).num("TargetId", c.targetId).num("CdbLength", c.cdbLength);
        r.num("SenseInfoLength", c.senseInfoLength).num("SenseInfoOffset", c.senseInfoOffset);
        r.num("DataIn", c.dataIn).num("DataTransferLength", c.length);
        r.num("TimeOutValue", c.timeout);
        j.object("request", r);
        j.hex("cdb", c.cdb.data(), c.cdbLength <= 16 ? c.cdbLength : 16);
    } else if (c.kind == "smart") {
        Json r;
        r.num("cBufferSize", c.headerLength).num("bDriveNumber", c.driveNumber);
        j.object("request", r);
    }
    if (c.hasTaskFile) {
        j.hex("taskFileIn", c.taskFileIn.data(), 8);
        if (c.result && c.taskFileOutKnown) j.hex("taskFileOut", c.taskFileOut.data(), 8);
    }
    j.str("direction", c.direction.empty() ? std::string("none") : c.direction);
    j.num("length", c.length).num("timeout", c.timeout);
    j.boolean("result", c.result).num("lastError", c.lastError);
    if (!c.result && !c.lastErrorText.empty()) j.str("lastErrorText", c.lastErrorText);
    if (c.result) {
        j.num("transferred", c.transferred);
        if (c.kind == "scsi") {
            j.num("scsiStatus", c.scsiStatus);
            j.hex("sense", c.sense.data(), c.sense.size());
        } else if (c.kind == "smart") {
            j.num("driverError", c.driverError);
            if (c.hasReturned) j.num("ideError", c.ideError);
        } else if (c.kind == "devnum") {
            j.num("deviceType", c.deviceNumber[0]).num("deviceNumber", c.deviceNumber[1]);
            j.num("partitionNumber", c.deviceNumber[2]);
        }
    }
    if (c.hasReturned && c.result) j.num("returned", c.returned);
    if (!c.readData.empty() && c.result) j.str("data", base64(c.readData));
    if (carriesPassword(c) && c.direction == "out") {
        j.boolean("dataOmitted", true);
    } else if (!c.dataSha256.empty()) {
        j.str("dataSha256", c.dataSha256);
    }
    return j.done();
}

}  // namespace qx::sim
