// The fault matrix: every flow (scan, firmware update, secure erase, SMART read) is run once
// on the bench as it should go, and the commands that run sent to the drive under test are
// the positions. Then, for every position k and every way a drive or transport fails (ERR
// status, CHECK CONDITION with an error sense key, a failed control call, a time-out, a short
// transfer), the flow runs again with command k failing that way, and the test checks:
//   - the statuses, log box lines and diagnostic lines the flow must show;
//   - the commands the drive receives after the failure: none where the flow stops for that
//     drive, and exactly the specified ones where the flow goes on (each such case says why);
//   - that no command at all reaches the drive whose row is not checked;
//   - that nothing is reported "Pass" unless the flow specifies that it goes on to success.
// The positions come from the recorded good run, so the matrix grows with the flows. One
// test per flow and failure kind walks all positions, to keep the process count low.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "QXLib/Smart.h"
#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "smart/SmartReport.h"
#include "support/BenchSpecs.h"
#include "support/ProcedureBench.h"
#include "support/ScriptedUser.h"
#include "support/SimFixture.h"
#include "update/Package.h"
#include "update/SecureErase.h"
#include "update/Update.h"

namespace qx {
namespace {

using sim::SimCall;
using test::ProcedureBench;
using Lines = std::vector<std::string>;

enum class Failure { AtaError, CheckCondition, ControlFails, TimeOut, ShortData };

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

// Test names and failure messages show the kind by name.
void PrintTo(Failure f, std::ostream* os) { *os << nameOf(f); }

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool dataIn(const SimCall& c) { return c.direction == "in" && c.length > 0 && c.kind != "devnum"; }

// Whether a drive or transport can fail this call in that way: ERR needs an ATA command,
// CHECK CONDITION a SCSI pass-through (the ATA path has no sense data on Windows; its
// translator's errors arrive as ERR, covered above), a short transfer a data-in command.
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

// The fault that makes the (position + 1)-th control call on the disk fail.
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

// Whether the bench shows call `c` failed the intended way (the fault hit that command).
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

// What identifies a command, for comparing the commands of two runs.
std::string signature(const SimCall& c) {
    char text[160];
    const auto& t = c.taskFileIn;
    std::snprintf(text, sizeof text, "%s %02x%02x%02x%02x%02x%02x%02x cdb%02x %s %u", c.kind.c_str(), t[0],
                  t[1], t[2], t[3], t[4], t[5], t[6], c.kind == "scsi" ? c.cdb[0] : 0, c.direction.c_str(),
                  static_cast<unsigned>(c.length));
    return text;
}

std::vector<SimCall> callsTo(const sim::SimBench& bench, const std::string& path) {
    std::vector<SimCall> out;
    for (const SimCall& c : bench.calls()) {
        if (lower(c.path) == lower(path)) out.push_back(c);
    }
    return out;
}

// The diagnostic lines the transport writes for a call that failed this way.
Lines transportLines(Failure f, const SimCall& c) {
    char line[160];
    const bool in = c.direction == "in";
    if (c.kind == "ata") {
        const char* name = in ? "ReadATACommandWithTimeOutValue" : "WriteATACommandWithTimeOutValue";
        switch (f) {
            case Failure::ControlFails:
                std::snprintf(line, sizeof line, "%s() fail\r\n", name);
                return {line};
            case Failure::TimeOut:
                std::snprintf(line, sizeof line, "%s() fail\r\n", name);
                return {line, "Timeout = 11 sec\r\n"};
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

bool logged(const std::vector<std::string>& output, size_t from, const std::string& line) {
    return std::find(output.begin() + static_cast<std::ptrdiff_t>(from), output.end(), line) != output.end();
}

// One run of a flow: what it left to check.
struct FlowRun {
    std::vector<SimCall> target;  // calls to the drive under test
    std::vector<SimCall> others;  // calls to the drive whose row is not checked
    int othersOpened = 0;
    std::vector<std::string> debug;
    Lines log;
    std::vector<std::string> statuses;
    std::vector<DriveRow> rows;
    std::vector<std::string> deviceList;
    int shutdownPrompts = 0;
    bool firmwareInstalled = false;
    bool erased = false;
    bool smartRead = false;
    Lines smartLines;
};

// The drive under test: directly attached (ATA path) or behind a bridge (SCSI path).
enum class Target { Sata, Usb };

sim::SimDiskSpec targetDisk(Target t) {
    sim::SimDiskSpec d = t == Target::Sata ? test::makerSataDisk(1) : test::usbBridgeDisk(1, "k403");
    d.volumes = {t == Target::Sata ? 'D' : 'E'};
    // Stage 2 of the controller record reads all four system pages (no page carries the
    // signature), so a failure there is followed by the same reads as in the good run.
    d.drive.signatureBlock = -1;
    return d;
}

using Flow = std::function<FlowRun(const std::vector<sim::SimFault>&)>;

// The matrix over one flow and one failure kind. `expect` checks one faulty run against
// the good one; it receives the position and the failing call's role in the good run.
struct Matrix {
    int positions = 0;  // positions of the good run
    int covered = 0;    // positions this failure kind applies to
};

Matrix runMatrix(Failure failure, const Flow& flow,
                 const std::function<void(size_t k, const FlowRun& good, const FlowRun& faulty)>& expect) {
    Matrix m;
    const FlowRun good = flow({});
    EXPECT_FALSE(good.target.empty());
    m.positions = static_cast<int>(good.target.size());
    for (size_t k = 0; k < good.target.size(); ++k) {
        const SimCall& call = good.target[k];
        if (!applies(failure, call)) continue;
        ++m.covered;
        SCOPED_TRACE(testing::Message() << "position " << k << ": " << signature(call) << ", " << nameOf(failure));
        const FlowRun faulty = flow({faultAt(k, failure, call)});
        // The fault hit the intended command, after the same commands as in the good run.
        if (faulty.target.size() <= k) {
            ADD_FAILURE() << "the run ended before position " << k;
            continue;
        }
        for (size_t i = 0; i <= k; ++i) EXPECT_EQ(signature(faulty.target[i]), signature(good.target[i])) << i;
        EXPECT_TRUE(failedAsAsked(failure, faulty.target[k]));
        for (const std::string& line : transportLines(failure, call)) {
            EXPECT_TRUE(logged(faulty.debug, 0, line)) << line;
        }
        // No command reaches the drive whose row is not checked (the scan has no checks).
        EXPECT_TRUE(faulty.others.empty());
        EXPECT_EQ(faulty.othersOpened, 0);
        expect(k, good, faulty);
    }
    return m;
}

// The commands after position k of a faulty run, against the good run's commands at the
// given positions.
void expectAfter(const FlowRun& good, const FlowRun& faulty, size_t k, const std::vector<size_t>& goodPositions) {
    std::vector<std::string> want, got;
    for (size_t i : goodPositions) want.push_back(signature(good.target.at(i)));
    for (size_t i = k + 1; i < faulty.target.size(); ++i) got.push_back(signature(faulty.target[i]));
    EXPECT_EQ(got, want);
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

class FaultMatrix : public ::testing::TestWithParam<Failure> {
protected:
    void TearDown() override {
        ResetDeviceSlots();
        ResetDriveTable();
        ResetSystemInfoState();
        VendorXferMode = 2;
        DriveCount = 0;
    }

    static void report(const char* flow, Target t, const Matrix& m) {
        std::printf("fault matrix: %s on the %s drive, %s: %d of %d positions\n", flow,
                    t == Target::Sata ? "SATA" : "USB", nameOf(GetParam()), m.covered, m.positions);
    }
};

// Runs a procedure on a bench of the drive under test (row 1, checked) and a second drive
// (row 2, not checked).
FlowRun runProcedure(Target t, const std::vector<sim::SimFault>& faults,
                 const std::function<void(ProcedureBench&)>& prepare,
                 const std::function<void(ProcedureBench&, FlowRun&)>& act) {
    sim::SimDiskSpec disk = targetDisk(t);
    disk.faults = faults;
    ProcedureBench b({disk, test::makerSataDisk(2)});
    b.user.check(0);
    prepare(b);
    FlowRun r;
    act(b, r);
    r.target = callsTo(b.bench(), b.bench().setup().disks[0].path);
    r.others = callsTo(b.bench(), b.bench().setup().disks[1].path);
    r.othersOpened = b.bench().openCount(1);
    r.debug = b.bench().debugOutput();
    r.log = b.user.log;
    for (const auto& row : b.user.rows) r.statuses.push_back(row.status);
    r.shutdownPrompts = b.user.shutdownPrompts;
    r.firmwareInstalled = b.drive(0).firmwareUpdated;
    r.erased = b.drive(0).erased;
    return r;
}

int passes(const FlowRun& r) { return static_cast<int>(std::count(r.statuses.begin(), r.statuses.end(), "Pass")); }

// ---------------------------------------------------------------------------------------
// The scan.

TEST_P(FaultMatrix, Scan) {
    for (const Target t : {Target::Sata, Target::Usb}) {
        SCOPED_TRACE(t == Target::Sata ? "SATA drive" : "USB bridge");
        const Flow flow = [t](const std::vector<sim::SimFault>& faults) {
            ResetDeviceSlots();
            ResetDriveTable();
            VendorXferMode = 2;
            sim::SimDiskSpec disk = targetDisk(t);
            disk.faults = faults;
            test::SimFixture f(test::benchOf({disk, test::makerSataDisk(2)}));
            MainState state;
            test::ScriptedUser user;
            GetQuorvexDevice(state, user);
            FlowRun r;
            r.target = callsTo(f.bench, f.bench.setup().disks[0].path);
            r.debug = f.bench.debugOutput();
            r.log = user.log;
            for (const auto& row : user.rows) {
                r.rows.push_back(row.row);
                if (row.hasStatus) r.statuses.push_back(row.status);
            }
            r.deviceList = state.DeviceList;
            return r;
        };
        const Matrix m = runMatrix(GetParam(), flow, [&](size_t k, const FlowRun& good, const FlowRun& faulty) {
            const SimCall& call = good.target[k];
            // The scan writes nothing into the log box and no Status cell.
            EXPECT_TRUE(faulty.log.empty());
            EXPECT_TRUE(faulty.statuses.empty());
            ASSERT_EQ(good.rows.size(), 2u);
            const DriveRow& listed = good.rows[0];
            const auto expectListedAs = [&](const DriveRow& row, bool letter) {
                ASSERT_EQ(faulty.rows.size(), 2u);
                EXPECT_EQ(faulty.rows[0].caption, "1");
                EXPECT_EQ(faulty.rows[0].model, row.model);
                EXPECT_EQ(faulty.rows[0].serial, row.serial);
                EXPECT_EQ(faulty.rows[0].firmware, row.firmware);
                EXPECT_EQ(faulty.rows[0].capacity, row.capacity);
                EXPECT_EQ(faulty.rows[1].serial, good.rows[1].serial);
                const bool hasLetter = faulty.deviceList.at(0).find(":)") != std::string::npos;
                EXPECT_EQ(hasLetter, letter);
            };
            const bool first = k == 0;
            if (first || (t == Target::Usb && k == 1)) {
                // The probe IDENTIFY, the bridge's INQUIRY or the IDENTIFY through the bridge:
                // the candidate is passed over, nothing more is sent to it, and the next
                // drive takes caption 1.
                ASSERT_EQ(faulty.rows.size(), 1u);
                EXPECT_EQ(faulty.rows[0].caption, "1");
                EXPECT_EQ(faulty.rows[0].serial, good.rows[1].serial);
                expectAfter(good, faulty, k, {});
            } else if (isSetFeatures(call, 0x51)) {
                // Vendor mode on: its result is not looked at; the answer read that follows
                // fails (the drive is not in vendor mode), which gives the probe one more
                // round after its 200 ms wait, and that round finds the answer.
                std::vector<size_t> after = {k + 1, k, k + 1};
                for (size_t i : range(k + 2, good.target.size())) after.push_back(i);
                expectAfter(good, faulty, k, after);
                expectListedAs(listed, true);
            } else if (isVendorRead(call)) {
                // A failed answer read gives the probe one more round, which succeeds.
                std::vector<size_t> after = {k - 1, k};
                for (size_t i : range(k + 1, good.target.size())) after.push_back(i);
                expectAfter(good, faulty, k, after);
                expectListedAs(listed, true);
            } else if (call.kind == "smart") {
                // The identify data of an accepted drive: the drive is listed with what the
                // cleared buffer holds (blank texts); the letter and the size query follow.
                expectAfter(good, faulty, k, range(k + 1, good.target.size()));
                DriveRow blank = listed;
                blank.model = blank.serial = blank.firmware = "";
                expectListedAs(blank, true);
            } else if (call.kind == "devnum") {
                // The drive letter: listed without one; the size query follows.
                expectAfter(good, faulty, k, range(k + 1, good.target.size()));
                expectListedAs(listed, false);
            } else {
                ASSERT_TRUE(isIdentify(call));
                ASSERT_EQ(k + 1, good.target.size());  // the size query is the last command
                expectAfter(good, faulty, k, {});
                DriveRow noSize = listed;
                noSize.capacity = "0";
                expectListedAs(noSize, true);
            }
        });
        report("scan", t, m);
        EXPECT_GT(m.positions, 0);
    }
}

// ---------------------------------------------------------------------------------------
// The firmware update, package mode.

constexpr const char* kImage = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";
constexpr uint8_t kDownload = 0x92;

TEST_P(FaultMatrix, FirmwareUpdate) {
    test::TempDir tmp;
    const std::string exe = tmp.file("qxupdater.exe");
    const int32_t exeSize =
        test::writePackage(exe, "1.06", "QX Demo SSD", false, {{test::firmwareImage(150016, kImage), 0, false}});
    for (const Target t : {Target::Sata, Target::Usb}) {
        SCOPED_TRACE(t == Target::Sata ? "SATA drive" : "USB bridge");
        const Flow flow = [&](const std::vector<sim::SimFault>& faults) {
            return runProcedure(
                t, faults,
                [&](ProcedureBench& b) {
                    b.state.ExePath = exe;
                    b.state.ExeFileSize = exeSize;
                    b.state.PackageMode = 1;
                    std::ifstream f(exe, std::ios::binary);
                    f.seekg(kPackageHeaderOffset);
                    f.read(reinterpret_cast<char*>(b.state.PackageHeader.data()), kPackageHeaderSize);
                },
                [](ProcedureBench& b, FlowRun&) { DownloadCodeBtnClick(b.state, b.user); });
        };
        const Lines passed = {"Disk 1 starting update.", "Disk 1 update in progress...............................",
                              "Disk 1 updated successfully, please shut down your system", "", ""};
        const Lines failed = {"Disk 1 starting update.", "Disk 1 update in progress...............................",
                              "Disk 1 update fail", "", ""};
        const Lines unread = {"Disk 1 update fail", "", ""};
        const Matrix m = runMatrix(GetParam(), flow, [&](size_t k, const FlowRun& good, const FlowRun& faulty) {
            ASSERT_EQ(good.statuses.at(0), "Pass");
            const SimCall& call = good.target[k];
            EXPECT_EQ(faulty.statuses.at(1), "");
            size_t vendorOff = 0;
            while (vendorOff < good.target.size() && !isSetFeatures(good.target[vendorOff], 0x58)) ++vendorOff;
            ASSERT_LT(vendorOff, good.target.size());
            const bool systemInfoCommand = k >= 1 && k <= 2;  // the record's command sector and its read
            const auto expectOutcome = [&](const std::string& status, const Lines& log) {
                EXPECT_EQ(faulty.statuses.at(0), status);
                EXPECT_EQ(faulty.log, log);
                EXPECT_EQ(passes(faulty), status == "Pass" ? 1 : 0);
                EXPECT_EQ(faulty.firmwareInstalled, status == "Pass");
                EXPECT_EQ(faulty.shutdownPrompts, status == "Pass" ? 1 : 0);
            };
            if (isSetFeatures(call, 0x51)) {
                // Vendor mode on: its result is not looked at, so the record is still asked
                // for; the drive is not in vendor mode and refuses the command sector, so the
                // record cannot be read, vendor mode is switched off as always, and the
                // drive fails without an image being looked at.
                ASSERT_EQ(k, 0u);
                expectAfter(good, faulty, k, {1, vendorOff});
                expectOutcome("Fail", unread);
                EXPECT_TRUE(logged(faulty.debug, 0, "FAILED(VC_SATA_WriteCmd)\r\n"));
            } else if (systemInfoCommand) {
                // The controller information record cannot be read: vendor mode off, then
                // the drive fails without an image being looked at.
                ASSERT_TRUE(isVendorWrite(call) || isVendorRead(call));
                expectAfter(good, faulty, k, {vendorOff});
                expectOutcome("Fail", unread);
                EXPECT_TRUE(logged(faulty.debug, 0,
                                   isVendorWrite(call) ? "FAILED(VC_SATA_WriteCmd)\r\n" : "FAILED(VC_SATA_ReadCmd)\r\n"));
            } else if (k < vendorOff) {
                // Stage 2 of the record (the system pages) is informational: the four page
                // reads always go out and nothing depends on what they find, so the update
                // goes on. A failed command sector leaves out only its own page read.
                ASSERT_TRUE(isVendorWrite(call) || isVendorRead(call));
                std::vector<size_t> after;
                for (size_t i : range(k + 1, good.target.size())) {
                    if (!(isVendorWrite(call) && i == k + 1)) after.push_back(i);
                }
                expectAfter(good, faulty, k, after);
                expectOutcome("Pass", passed);
            } else if (k == vendorOff) {
                // Vendor mode off: its result is not looked at; DOWNLOAD MICROCODE is a
                // standard command, so the update goes on to success.
                expectAfter(good, faulty, k, range(k + 1, good.target.size()));
                expectOutcome("Pass", passed);
            } else if (isIdentify(call)) {
                // The IDENTIFY that checks the drive before personalising: nothing is sent.
                expectAfter(good, faulty, k, {});
                expectOutcome("Fail", failed);
                EXPECT_TRUE(logged(faulty.debug, 0, "[0]IDENTIFY DEVICE failed before personalising: nothing is sent\r\n"));
            } else {
                // A chunk of the download: the download ends there, no retry, no resend.
                ASSERT_EQ(call.taskFileIn[6], kDownload);
                expectAfter(good, faulty, k, {});
                expectOutcome("Fail", failed);
                const unsigned count = call.taskFileIn[1] | (call.taskFileIn[2] << 8);
                const unsigned offset = call.taskFileIn[3] | (call.taskFileIn[4] << 8);
                const bool last = k + 1 == good.target.size();
                const bool beforeLast = k + 2 == good.target.size();
                char line[128];
                std::snprintf(line, sizeof line, "%s, dwBufferOffset = %u\r\n",
                              last         ? "FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[1])"
                              : beforeLast ? "FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[0])"
                                           : "FAILED(VC_STD_DownloadMicroCode)",
                              offset * 512);
                EXPECT_TRUE(logged(faulty.debug, 0, line)) << line;
                EXPECT_GT(count, 0u);
            }
        });
        report("firmware update", t, m);
        EXPECT_GT(m.positions, 0);
    }
}

// ---------------------------------------------------------------------------------------
// The secure erase.

TEST_P(FaultMatrix, SecureErase) {
    Matrix total;
    for (const Target t : {Target::Sata, Target::Usb}) {
        SCOPED_TRACE(t == Target::Sata ? "SATA drive" : "USB bridge");
        const Flow flow = [t](const std::vector<sim::SimFault>& faults) {
            return runProcedure(
                t, faults, [](ProcedureBench& b) { b.user.textAnswers = {"QXMASTER"}; },
                [](ProcedureBench& b, FlowRun&) { SecureEraseBtnClick(b.state, b.user); });
        };
        const Matrix m = runMatrix(GetParam(), flow, [&](size_t k, const FlowRun& good, const FlowRun& faulty) {
            ASSERT_EQ(good.statuses.at(0), "Pass");
            const SimCall& call = good.target[k];
            EXPECT_EQ(faulty.statuses.at(1), "");
            if (isSetFeatures(call, 0x51)) {
                // Vendor mode on: its result is not looked at, and the erase pair does not
                // need vendor mode, so the erase goes on to success.
                expectAfter(good, faulty, k, range(k + 1, good.target.size()));
                EXPECT_EQ(faulty.statuses.at(0), "Pass");
                EXPECT_TRUE(faulty.erased);
                EXPECT_EQ(faulty.log, (Lines{"Disk 1 starting secure erase.",
                                             "Disk 1 secure erase successfully, please shut down your system."}));
            } else {
                // PREPARE failed (UNIT is not sent) or UNIT failed.
                ASSERT_TRUE(call.taskFileIn[6] == 0xF3 || call.taskFileIn[6] == 0xF4);
                expectAfter(good, faulty, k, {});
                EXPECT_EQ(faulty.statuses.at(0), "Fail");
                EXPECT_EQ(passes(faulty), 0);
                EXPECT_FALSE(faulty.erased);
                EXPECT_EQ(faulty.log, (Lines{"Disk 1 starting secure erase.", "Disk 1 secure erase fail!"}));
            }
            EXPECT_EQ(faulty.shutdownPrompts, 0);
        });
        report("secure erase", t, m);
        total.positions += m.positions;
        total.covered += m.covered;
    }
    EXPECT_GT(total.positions, 0);
    if (total.covered == 0) GTEST_SKIP() << "the secure erase sends no command this failure kind applies to";
}

// ---------------------------------------------------------------------------------------
// The SMART read ("Smart Info", then "Get Smart Info" in the SMART window).

TEST_P(FaultMatrix, SmartRead) {
    for (const Target t : {Target::Sata, Target::Usb}) {
        SCOPED_TRACE(t == Target::Sata ? "SATA drive" : "USB bridge");
        const Flow flow = [t](const std::vector<sim::SimFault>& faults) {
            return runProcedure(
                t, faults, [](ProcedureBench&) {},
                [](ProcedureBench& b, FlowRun& r) {
                    SmartData.fill(0);
                    b.user.onSmartWindow = [&r] { r.smartRead = GetSMARTInfo(r.smartLines); };
                    SmartInfoBtnClick(b.state, b.user);
                });
        };
        const Matrix m = runMatrix(GetParam(), flow, [&](size_t k, const FlowRun& good, const FlowRun& faulty) {
            ASSERT_TRUE(good.smartRead);
            ASSERT_FALSE(good.smartLines.empty());
            // Any failed command ends the acquisition: no later command, no report.
            ASSERT_TRUE(good.target[k].hasTaskFile && good.target[k].taskFileIn[6] == 0xB0);
            expectAfter(good, faulty, k, {});
            EXPECT_FALSE(faulty.smartRead);
            EXPECT_TRUE(faulty.smartLines.empty());
            EXPECT_TRUE(faulty.log.empty());
            EXPECT_EQ(faulty.statuses, (std::vector<std::string>{"", ""}));
        });
        report("SMART read", t, m);
        EXPECT_GT(m.positions, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultMatrix,
                         ::testing::Values(Failure::AtaError, Failure::CheckCondition, Failure::ControlFails,
                                           Failure::TimeOut, Failure::ShortData),
                         [](const ::testing::TestParamInfo<Failure>& info) { return std::string(nameOf(info.param)); });

}  // namespace
}  // namespace qx
