// The fault matrix's common parts (FaultMatrix.h).
#include "support/FaultMatrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace qx::test {

using sim::SimCall;

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool dataIn(const SimCall& c) { return c.direction == "in" && c.length > 0 && c.kind != "devnum"; }

}  // namespace

const char* nameOf(Failure f) {
    switch (f) {
        case Failure::AtaError: return "AtaError";
        case Failure::CheckCondition: return "CheckCondition";
        case Failure::ControlFails: return "ControlFails";
        case Failure::TimeOut: return "TimeOut";
        case Failure::ShortData: return "ShortData";
    }
    return "?";
}

bool applies(Failure f, const SimCall& c) {
    switch (f) {
        case Failure::AtaError: return c.hasTaskFile;
        case Failure::CheckCondition: return c.kind == "scsi";
        case Failure::ControlFails:
        case Failure::TimeOut: return true;
        case Failure::ShortData: return dataIn(c);
    }
    return false;
}

sim::SimFault faultAt(size_t position, Failure f, const SimCall& c) {
    sim::SimFault x;
    x.key = "call";
    x.occurrence = static_cast<int>(position + 1);
    switch (f) {
        case Failure::AtaError: x.kind = sim::FaultKind::AtaError; x.errorReg = 0x04; break;
        case Failure::CheckCondition:
            x.kind = sim::FaultKind::CheckCondition;
            x.senseKey = 0x04;  // HARDWARE ERROR
            x.asc = 0x44;       // internal target failure
            x.ascq = 0x00;
            break;
        case Failure::ControlFails: x.kind = sim::FaultKind::ControlFails; break;
        case Failure::TimeOut: x.kind = sim::FaultKind::TimeOut; break;
        case Failure::ShortData:
            x.kind = sim::FaultKind::ShortData;
            x.bytes = c.length / 2;
            break;
    }
    return x;
}

std::string faultLine(size_t position, Failure f, const SimCall& c) {
    const sim::SimFault x = faultAt(position, f, c);
    char line[96];
    const char* kind = "";
    char argument[32] = "";
    switch (f) {
        case Failure::AtaError:
            kind = "ata-error";
            std::snprintf(argument, sizeof argument, " %02x", x.errorReg);
            break;
        case Failure::CheckCondition:
            kind = "check-condition";
            std::snprintf(argument, sizeof argument, " %02x/%02x/%02x", x.senseKey, x.asc, x.ascq);
            break;
        case Failure::ControlFails: kind = "control-fails"; break;
        case Failure::TimeOut: kind = "timeout"; break;
        case Failure::ShortData:
            kind = "short-data";
            std::snprintf(argument, sizeof argument, " %u", static_cast<unsigned>(x.bytes));
            break;
    }
    std::snprintf(line, sizeof line, "fault = call at %d %s%s\n", x.occurrence, kind, argument);
    return line;
}

bool failedAsAsked(Failure f, const SimCall& c) {
    switch (f) {
        case Failure::AtaError:
            if (c.kind == "scsi") return c.scsiStatus == 0x02;
            if (c.kind == "smart") return c.driverError != 0;
            return (c.taskFileOut[6] & 0x01) != 0;
        case Failure::CheckCondition: return c.result && c.scsiStatus == 0x02;
        case Failure::ControlFails: return !c.result && c.lastError == 1117;
        case Failure::TimeOut: return !c.result && c.lastError == 121;
        case Failure::ShortData: return c.result && c.transferred < c.length;
    }
    return false;
}

std::string signature(const SimCall& c) {
    char text[160];
    const auto& t = c.taskFileIn;
    std::snprintf(text, sizeof text, "%s %02x%02x%02x%02x%02x%02x%02x cdb%02x %s %u", c.kind.c_str(), t[0],
                  t[1], t[2], t[3], t[4], t[5], t[6], c.kind == "scsi" ? c.cdb[0] : 0, c.direction.c_str(),
                  static_cast<unsigned>(c.length));
    return text;
}

std::vector<std::string> signatures(const std::vector<SimCall>& calls) {
    std::vector<std::string> s;
    for (const SimCall& c : calls) s.push_back(signature(c));
    return s;
}

std::vector<SimCall> callsTo(const sim::SimBench& bench, const std::string& path) {
    std::vector<SimCall> out;
    for (const SimCall& c : bench.calls()) {
        if (lower(c.path) == lower(path)) out.push_back(c);
    }
    return out;
}

Lines transportLines(Failure f, const SimCall& c) {
    char line[160];
    const bool in = c.direction == "in";
    if (c.kind == "ata") {
        const char* name = in ? "ReadATACommandWithTimeOutValue" : "WriteATACommandWithTimeOutValue";
        switch (f) {
            case Failure::ControlFails:
                std::snprintf(line, sizeof line, "%s() fail\r\n", name);
                return {line};
            case Failure::TimeOut: {
                // The system gives up one second after the request's own time-out (10 s, or
                // 120 s for DOWNLOAD MICROCODE).
                std::snprintf(line, sizeof line, "%s() fail\r\n", name);
                char timeout[64];
                std::snprintf(timeout, sizeof timeout, "Timeout = %u sec\r\n", c.timeout + 1);
                return {line, timeout};
            }
            case Failure::ShortData:
                std::snprintf(line, sizeof line, "%s(): %u of %u bytes transferred\r\n", name, c.length / 2,
                              c.length);
                return {line};
            default: return {};
        }
    }
    if (c.kind == "smart") {
        if (f != Failure::ShortData) return {};  // its failures are silent
        std::snprintf(line, sizeof line, "SmartReceiveData(): %u of 528 bytes returned\r\n", 16 + c.length / 2);
        return {line};
    }
    if (c.kind == "scsi") {
        const char* name = in ? "ReadSCSICommandWithTimeOutValue" : "WriteSCSICommandWithTimeOutValue";
        switch (f) {
            case Failure::ControlFails:
            case Failure::TimeOut:
                std::snprintf(line, sizeof line, "LastError(%s)[1] = %d\r\n", name,
                              f == Failure::TimeOut ? 121 : 1117);
                return {line};
            case Failure::CheckCondition: return {"SCSI CHECK CONDITION: sense key 04h, ASC 44h, ASCQ 00h\r\n"};
            case Failure::AtaError:
                if (c.cdb[0] != 0xA1) return {"SCSI CHECK CONDITION: sense key 0Bh, ASC 00h, ASCQ 00h\r\n"};
                return {"SCSI CHECK CONDITION: sense key 0Bh, ASC 00h, ASCQ 00h\r\n", "ATA status 51h, error 04h\r\n"};
            case Failure::ShortData:
                std::snprintf(line, sizeof line, "%s(): %u of %u bytes transferred\r\n", name, c.length / 2,
                              c.length);
                return {line};
        }
    }
    return {};  // the device number query fails silently
}

bool logged(const std::vector<std::string>& output, const std::string& line) {
    return std::find(output.begin(), output.end(), line) != output.end();
}

std::vector<size_t> range(size_t from, size_t to) {
    std::vector<size_t> r;
    for (size_t i = from; i < to; ++i) r.push_back(i);
    return r;
}

bool isSetFeatures(const SimCall& c, uint8_t value) {
    return c.hasTaskFile && c.taskFileIn[6] == 0xEF && c.taskFileIn[0] == 0xDC && c.taskFileIn[1] == value;
}
bool isVendorWrite(const SimCall& c) {
    return c.hasTaskFile && (c.taskFileIn[6] == 0x88 || c.taskFileIn[6] == 0x8F) && c.taskFileIn[3] == 0x34;
}
bool isVendorRead(const SimCall& c) {
    return c.hasTaskFile && (c.taskFileIn[6] == 0x86 || c.taskFileIn[6] == 0x8A) && c.taskFileIn[3] == 0x34;
}
bool isIdentify(const SimCall& c) { return c.hasTaskFile && c.taskFileIn[6] == 0xEC; }

ScanExpected expectedScan(const std::vector<SimCall>& scan, size_t k, bool bridge) {
    const SimCall& call = scan.at(k);
    ScanExpected e;
    if (k == 0 || (bridge && k == 1)) {
        // The probe IDENTIFY, the bridge's INQUIRY or the IDENTIFY through the bridge: the
        // candidate is passed over and nothing more is sent to it.
        e.listing = Listing::Dropped;
    } else if (isSetFeatures(call, 0x51)) {
        // Vendor mode on: its result is not looked at; the answer read that follows fails
        // (the drive is not in vendor mode), which gives the probe one more round after its
        // 200 ms wait, and that round finds the answer.
        e.after = {k + 1, k, k + 1};
        for (size_t i : range(k + 2, scan.size())) e.after.push_back(i);
    } else if (isVendorRead(call)) {
        // A failed answer read gives the probe one more round, which succeeds.
        e.after = {k - 1, k};
        for (size_t i : range(k + 1, scan.size())) e.after.push_back(i);
    } else if (call.kind == "smart") {
        // The identify data of an accepted drive: the drive is listed with what the cleared
        // buffer holds (blank texts); the letter and the size query follow.
        e.after = range(k + 1, scan.size());
        e.listing = Listing::BlankIdentity;
    } else if (call.kind == "devnum") {
        // The drive letter: listed without one; the size query follows.
        e.after = range(k + 1, scan.size());
        e.listing = Listing::NoLetter;
    } else {
        EXPECT_TRUE(isIdentify(call)) << signature(call);
        EXPECT_EQ(k + 1, scan.size()) << "the size query is the scan's last command";
        e.listing = Listing::NoSize;
    }
    return e;
}

namespace {

const Lines kUpdatePassed = {"Disk 1 starting update.", "Disk 1 update in progress...............................",
                             "Disk 1 updated successfully, please shut down your system", "", ""};
const Lines kUpdateFailed = {"Disk 1 starting update.", "Disk 1 update in progress...............................",
                             "Disk 1 update fail", "", ""};
const Lines kRecordUnread = {"Disk 1 update fail", "", ""};

}  // namespace

namespace {

size_t vendorOffIn(const std::vector<SimCall>& update) {
    size_t vendorOff = 0;
    while (vendorOff < update.size() && !isSetFeatures(update[vendorOff], 0x58)) ++vendorOff;
    EXPECT_LT(vendorOff, update.size()) << "the good update leaves vendor mode";
    return vendorOff;
}

}  // namespace

Expected expectedUpdate(const std::vector<SimCall>& update, size_t k, bool inVendorMode) {
    const SimCall& call = update.at(k);
    const size_t vendorOff = vendorOffIn(update);
    const bool systemInfoCommand = k >= 1 && k <= 2;  // the record's command sector and its read
    Expected e;
    if (isSetFeatures(call, 0x51) && inVendorMode) {
        // Vendor mode on: its result is not looked at, and the drive is in vendor mode
        // already, so the update goes on to success.
        EXPECT_EQ(k, 0u);
        e = {range(k + 1, update.size()), "Pass", kUpdatePassed, {}};
    } else if (isSetFeatures(call, 0x51)) {
        // Vendor mode on: its result is not looked at, so the record is still asked for; the
        // drive is not in vendor mode and refuses the command sector, so the record cannot
        // be read, vendor mode is switched off as always, and the drive fails without an
        // image being looked at.
        EXPECT_EQ(k, 0u);
        e = {{1, vendorOff}, "Fail", kRecordUnread, {"FAILED(VC_SATA_WriteCmd)\r\n"}};
    } else if (systemInfoCommand) {
        // The controller information record cannot be read: vendor mode off, then the drive
        // fails without an image being looked at.
        EXPECT_TRUE(isVendorWrite(call) || isVendorRead(call)) << signature(call);
        e = {{vendorOff},
             "Fail",
             kRecordUnread,
             {isVendorWrite(call) ? "FAILED(VC_SATA_WriteCmd)\r\n" : "FAILED(VC_SATA_ReadCmd)\r\n"}};
    } else if (k < vendorOff) {
        // Stage 2 of the record (the system pages) is informational: the four page reads
        // always go out and nothing depends on what they find, so the update goes on. A
        // failed command sector leaves out only its own page read.
        EXPECT_TRUE(isVendorWrite(call) || isVendorRead(call)) << signature(call);
        for (size_t i : range(k + 1, update.size())) {
            if (!(isVendorWrite(call) && i == k + 1)) e.after.push_back(i);
        }
        e.status = "Pass";
        e.log = kUpdatePassed;
    } else if (k == vendorOff) {
        // Vendor mode off: its result is not looked at; DOWNLOAD MICROCODE is a standard
        // command, so the update goes on to success.
        e = {range(k + 1, update.size()), "Pass", kUpdatePassed, {}};
    } else if (isIdentify(call)) {
        // The IDENTIFY that checks the drive before personalising: nothing is sent.
        e = {{}, "Fail", kUpdateFailed, {"[0]IDENTIFY DEVICE failed before personalising: nothing is sent\r\n"}};
    } else {
        // A chunk of the download: the download ends there, no retry, no resend.
        EXPECT_EQ(call.taskFileIn[6], 0x92) << signature(call);
        const unsigned count = call.taskFileIn[1] | (call.taskFileIn[2] << 8);
        EXPECT_GT(count, 0u);
        const unsigned offset = call.taskFileIn[3] | (call.taskFileIn[4] << 8);
        const bool last = k + 1 == update.size();
        const bool beforeLast = k + 2 == update.size();
        char line[128];
        std::snprintf(line, sizeof line, "%s, dwBufferOffset = %u\r\n",
                      last         ? "FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[1])"
                      : beforeLast ? "FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[0])"
                                   : "FAILED(VC_STD_DownloadMicroCode)",
                      offset * 512);
        e = {{}, "Fail", kUpdateFailed, {line}};
    }
    return e;
}

ExpectedWithReadBack expectedUpdateWithReadBack(const std::vector<SimCall>& update, size_t k,
                                                bool inVendorMode) {
    size_t start = update.size();  // the read-back's first position: after the last download
    while (start > 0 && !(update[start - 1].hasTaskFile && update[start - 1].taskFileIn[6] == 0x92)) --start;
    EXPECT_TRUE(start > 0 && start < update.size() && isIdentify(update[start])) << "the good run is read back";
    ExpectedWithReadBack x;
    if (k < start) {
        const std::vector<SimCall> procedure(update.begin(), update.begin() + static_cast<std::ptrdiff_t>(start));
        x.procedure = expectedUpdate(procedure, k, inVendorMode);
        x.readBack = x.procedure.status == "Pass";
        if (x.readBack) {
            for (size_t i : range(start, update.size())) x.procedure.after.push_back(i);
        }
        return x;
    }
    x.procedure = {{}, "Pass", kUpdatePassed, {}};
    x.readBack = true;
    if (k == start) {
        // IDENTIFY DEVICE: the read-back ends there.
        x.afterReason = "read-back-identify-failed";
        x.procedure.debug = {"[0]IDENTIFY DEVICE failed after the update\r\n"};
        return x;
    }
    // The controller record, read as the update reads it; the drive left vendor mode at the
    // end of the update.
    const size_t recordStart = start + 1;
    const std::vector<SimCall> record(update.begin() + static_cast<std::ptrdiff_t>(recordStart), update.end());
    const Expected r = expectedUpdate(record, k - recordStart, false);
    for (size_t i : r.after) x.procedure.after.push_back(i + recordStart);
    x.procedure.debug = r.debug;
    if (r.status != "Pass") {
        x.afterReason = "read-back-record-unreadable";
        x.procedure.debug.push_back("[0]The controller information record could not be read after the update\r\n");
    }
    return x;
}

Expected expectedUpdateOfBlankIdentity(const std::vector<SimCall>& update) {
    const size_t vendorOff = vendorOffIn(update);
    EXPECT_TRUE(vendorOff + 1 < update.size() && isIdentify(update[vendorOff + 1]));
    return {range(0, vendorOff + 1),
            "Fail",
            kUpdateFailed,
            {"[0]The drive's serial number is empty: the image is not personalised, nothing is sent\r\n"}};
}

Expected expectedErase(const std::vector<SimCall>& erase, size_t k) {
    const SimCall& call = erase.at(k);
    if (isIdentify(call)) {
        // The IDENTIFY that makes sure the drive is still the scanned one: nothing is sent.
        EXPECT_EQ(k, 0u);
        return {{},
                "Fail",
                {"Disk 1 starting secure erase.", "Disk 1 secure erase fail!"},
                {"[0]IDENTIFY DEVICE failed before the secure erase: nothing is sent\r\n"}};
    }
    if (isSetFeatures(call, 0x51)) {
        // Vendor mode on: its result is not looked at, and the erase pair does not need
        // vendor mode, so the erase goes on to success.
        return {range(k + 1, erase.size()),
                "Pass",
                {"Disk 1 starting secure erase.", "Disk 1 secure erase successfully, please shut down your system."},
                {}};
    }
    if (call.kind == "devnum") {
        // The disk's device number, to find its volumes for the erase: without it nothing
        // of the erase is sent.
        return {{},
                "Fail",
                {"Disk 1 starting secure erase.",
                 "Disk 1: the disk is in use, so it is not erased: the disk's device number could not "
                 "be read, so its volumes are unknown.",
                 "Disk 1 secure erase fail!"},
                {}};
    }
    // PREPARE failed (UNIT is not sent) or UNIT failed.
    EXPECT_TRUE(call.taskFileIn[6] == 0xF3 || call.taskFileIn[6] == 0xF4) << signature(call);
    return {{}, "Fail", {"Disk 1 starting secure erase.", "Disk 1 secure erase fail!"}, {}};
}

Expected expectedEraseOfBlankIdentity() {
    return {{},
            "Fail",
            {"Disk 1 starting secure erase.", "Disk 1 secure erase fail!"},
            {"[0]The drive's serial number is empty: the drive cannot be told from another, nothing is sent\r\n"}};
}

Expected expectedSmartRead(const std::vector<SimCall>& smart, size_t k) {
    const SimCall& call = smart.at(k);
    EXPECT_TRUE(call.hasTaskFile && call.taskFileIn[6] == 0xB0) << signature(call);
    return {{}, "", {}, {}};
}

}  // namespace qx::test
