// The fault matrix of the command line: `list`, `smart DISK`, `update DISK --yes` and
// `erase DISK --yes --password-stdin` run once on a bench file as they should go; the
// commands the drive under test receives in that run (the scan's, then the procedure's) are
// the positions. Then, for every position k and every way a drive or transport fails, the
// command runs again with a bench fault on the k-th control call, and the test checks:
//   - the exit code and the JSON document (the drive list, the SMART result, the drive's
//     outcome, the log box), and the diagnostic lines;
//   - the commands the drive receives after the failure: those the flow specifies (the
//     rules in tests/support/FaultMatrix.h, shared with the core procedures' matrix);
//   - that the drive not named on the command line receives nothing but the scan's
//     commands;
//   - that a failed drive is never "Pass" and its exit code never 0.
// The drive is named by its device path, which names it whatever the scan could read from
// it. One test per command and failure kind walks all positions on a directly attached drive
// and on one behind a USB bridge.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "CliHarness.h"
#include "QXLib/Smart.h"
#include "QXLib/SystemInfo.h"
#include "QXLib/V_Access.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "platform/sim/SimBench.h"
#include "support/FaultMatrix.h"
#include "support/ProcedureBench.h"
#include "support/TempDir.h"

namespace qx::test {
namespace {

using nlohmann::json;
using sim::SimCall;

// The drive under test: directly attached (ATA path) or behind a bridge (SCSI path).
enum class Target { Sata, Usb };

constexpr const char* kSataPath =
    "\\\\?\\ide#diskquorvex_qx-t74_256gb_cli1#5&1a2b3c4d&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kUsbPath =
    "\\\\?\\usbstor#disk&ven_quorvex&prod_usb_to_sata&rev_0001#cli1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kOtherPath =
    "\\\\?\\ide#diskquorvex_qx-t74_256gb_cli2#5&1a2b3c4d&0&1.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

std::string targetPath(Target t) { return t == Target::Sata ? kSataPath : kUsbPath; }

// One of the maker's drives as a bench file section.
std::string makerDisk(const std::string& path, int n) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "[disk]\npath = %s\nmodel = Quorvex QX-T74 256GB\nserial = QX74T000000%d\nfirmware = 1.02\n"
                  "sectors = 500118192\nwwn = 5001 b448 1234 560%d\n"
                  "buildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01\n"
                  "smart = 9:4d2 12:38 194:004000120021\n",
                  path.c_str(), n, n);
    return text;
}

// The bench: the drive under test (disk 1) with the fault lines given, and a second drive
// of the maker that is never named.
std::string benchText(Target t, const std::string& faults) {
    std::string text = makerDisk(targetPath(t), 1);
    text += t == Target::Sata ? "bus = ide\nvolumes = D\n" : "bus = usb\ninquiry-code = k403\nvolumes = E\n";
    // Stage 2 of the controller record reads all four system pages (no page carries the
    // signature), so a failure there is followed by the same reads as in the good run.
    text += "signature-block = none\n";
    text += faults;
    text += makerDisk(kOtherPath, 2) + "bus = ide\n";
    return text;
}

// One run of a command: what it left to check.
struct CliFlowRun {
    int code = -1;
    json doc;
    std::string err;
    std::vector<SimCall> target;  // calls to the drive under test
    std::vector<SimCall> others;  // calls to the drive not named
    int othersOpened = 0;
    Lines debug;
    bool firmwareInstalled = false;
    bool erased = false;
};

using Command = std::function<CliFlowRun(Target, const std::string& faults)>;

// Runs the command line on a fresh bench file, as a fresh process would start.
CliFlowRun runOnBench(Target t, const std::string& faults, std::vector<std::string> args,
                      const std::string& input = {}) {
    ResetDeviceSlots();
    ResetDriveTable();
    ResetSystemInfoState();
    VendorXferMode = 2;
    DriveCount = 0;
    SmartData.fill(0);
    TempDir dir;
    const std::string bench = dir.file("bench.txt");
    {
        std::ofstream f(bench, std::ios::binary);
        f << benchText(t, faults);
    }
    args.push_back("--json");
    args.push_back("--devices");
    args.push_back("sim:" + bench);
    CliFlowRun r;
    CliSetup setup;
    setup.input = input;
    setup.onFinish = [&](HostPlatform& host) {
        const sim::SimBench& b = *host.bench();
        r.target = callsTo(b, targetPath(t));
        r.others = callsTo(b, kOtherPath);
        r.othersOpened = b.openCount(1);
        r.debug = b.debugOutput();
        r.firmwareInstalled = host.bench()->driveState(0).firmwareUpdated;
        r.erased = host.bench()->driveState(0).erased;
    };
    const CliRun run = runCli(args, setup);
    r.code = run.code;
    r.err = run.err;
    r.doc = run.json();
    return r;
}

struct Matrix {
    int positions = 0;  // positions of the good run
    int covered = 0;    // positions this failure kind applies to
};

// The good run of `list`: the scan's commands to each drive.
struct ScanRecord {
    std::vector<SimCall> target;
    std::vector<std::string> others;
    int othersOpened = 0;
    json drives;
};

ScanRecord recordScan(Target t) {
    const CliFlowRun good = runOnBench(t, "", {"list"});
    EXPECT_EQ(good.code, 0) << good.err;
    return {good.target, signatures(good.others), good.othersOpened, good.doc["drives"]};
}

// `expect` checks one faulty run; it gets the position, the scan's share of the good run
// and both runs.
Matrix runMatrix(Failure failure, Target t, const Command& command,
                 const std::function<void(size_t k, const ScanRecord& scan, const CliFlowRun& good,
                                          const CliFlowRun& faulty)>& expect) {
    Matrix m;
    const ScanRecord scan = recordScan(t);
    const CliFlowRun good = command(t, "");
    EXPECT_FALSE(scan.target.empty());
    EXPECT_GE(good.target.size(), scan.target.size());
    // The command begins with the scan, and the drive not named sees only the scan.
    for (size_t i = 0; i < scan.target.size() && i < good.target.size(); ++i) {
        EXPECT_EQ(signature(good.target[i]), signature(scan.target[i])) << i;
    }
    EXPECT_EQ(signatures(good.others), scan.others);
    m.positions = static_cast<int>(good.target.size());
    for (size_t k = 0; k < good.target.size(); ++k) {
        const SimCall& call = good.target[k];
        if (!applies(failure, call)) continue;
        ++m.covered;
        SCOPED_TRACE(testing::Message() << "position " << k << (k < scan.target.size() ? " (scan): " : ": ")
                                        << signature(call) << ", " << nameOf(failure));
        const CliFlowRun faulty = command(t, faultLine(k, failure, call));
        if (faulty.target.size() <= k) {
            ADD_FAILURE() << "the run ended before position " << k << "\n" << faulty.err;
            continue;
        }
        for (size_t i = 0; i <= k; ++i) EXPECT_EQ(signature(faulty.target[i]), signature(good.target[i])) << i;
        EXPECT_TRUE(failedAsAsked(failure, faulty.target[k]));
        for (const std::string& line : transportLines(failure, call)) EXPECT_TRUE(logged(faulty.debug, line)) << line;
        // The drive not named gets the scan's commands and nothing else.
        EXPECT_EQ(signatures(faulty.others), scan.others);
        EXPECT_EQ(faulty.othersOpened, scan.othersOpened);
        expect(k, scan, good, faulty);
    }
    return m;
}

// The commands after position k of a faulty run, against the good run's commands at the
// given positions.
void expectAfter(const CliFlowRun& good, const CliFlowRun& faulty, size_t k, const std::vector<size_t>& positions) {
    std::vector<std::string> want, got;
    for (size_t i : positions) want.push_back(signature(good.target.at(i)));
    for (size_t i = k + 1; i < faulty.target.size(); ++i) got.push_back(signature(faulty.target[i]));
    EXPECT_EQ(got, want);
}

// The positions after a failure in the scan: the scan's own continuation, then (when the
// drive is still listed) the command's commands as in the good run.
std::vector<size_t> afterScanFailure(const ScanExpected& e, size_t scanSize, const CliFlowRun& good) {
    std::vector<size_t> after = e.after;
    if (e.listing == Listing::Dropped) return after;
    for (size_t i : range(scanSize, good.target.size())) after.push_back(i);
    return after;
}

// The good run's entry of the drive as the scan lists it after the failure.
json listedAs(json drive, Listing listing) {
    switch (listing) {
        case Listing::BlankIdentity: drive["model"] = drive["serial"] = drive["firmware"] = ""; break;
        case Listing::NoLetter: drive["driveLetter"] = nullptr; break;
        case Listing::NoSize: drive["capacityGB"] = 0; break;
        default: break;
    }
    return drive;
}

// The run ended with exit 3 because the named drive was passed over by the scan.
void expectNoSuchDrive(const CliFlowRun& faulty) {
    EXPECT_EQ(faulty.code, 3) << faulty.err;
    EXPECT_EQ(faulty.doc.value("exitCode", 0), 3);
    EXPECT_NE(faulty.err.find("no drive matches"), std::string::npos) << faulty.err;
    EXPECT_FALSE(faulty.doc.contains("drives"));
    EXPECT_FALSE(faulty.firmwareInstalled);
    EXPECT_FALSE(faulty.erased);
}

class CliFaultMatrix : public ::testing::TestWithParam<Failure> {
protected:
    void TearDown() override {
        ResetDeviceSlots();
        ResetDriveTable();
        ResetSystemInfoState();
        VendorXferMode = 2;
        DriveCount = 0;
    }

    // Runs the matrix on both targets.
    void walk(const char* name, const Command& command,
              const std::function<void(Target, size_t, const ScanRecord&, const CliFlowRun&, const CliFlowRun&)>&
                  expect) {
        Matrix total;
        for (const Target t : {Target::Sata, Target::Usb}) {
            SCOPED_TRACE(t == Target::Sata ? "SATA drive" : "USB bridge");
            const Matrix m = runMatrix(GetParam(), t, command,
                                       [&](size_t k, const ScanRecord& scan, const CliFlowRun& good,
                                           const CliFlowRun& faulty) { expect(t, k, scan, good, faulty); });
            std::printf("cli fault matrix: %s on the %s drive, %s: %d of %d positions\n", name,
                        t == Target::Sata ? "SATA" : "USB", nameOf(GetParam()), m.covered, m.positions);
            EXPECT_GT(m.positions, 0);
            total.covered += m.covered;
        }
        EXPECT_GT(total.covered, 0);
    }
};

// ---------------------------------------------------------------------------------------
// list: the scan alone.

TEST_P(CliFaultMatrix, List) {
    const Command list = [](Target t, const std::string& faults) { return runOnBench(t, faults, {"list"}); };
    walk("list", list, [](Target t, size_t k, const ScanRecord& scan, const CliFlowRun& good, const CliFlowRun& faulty) {
        // A failed command in the scan is no failure of `list`: the scan passes the
        // candidate over or lists it with what it could read, as "Scan for Drives" shows it,
        // and the list is printed; exit 1 belongs to a drive that failed an update or erase
        // and to a SMART read that failed. So the exit code stays 0.
        EXPECT_EQ(faulty.code, 0) << faulty.err;
        const ScanExpected e = expectedScan(scan.target, k, t == Target::Usb);
        expectAfter(good, faulty, k, e.after);
        const json& drives = faulty.doc["drives"];
        ASSERT_EQ(good.doc["drives"].size(), 2u);
        if (e.listing == Listing::Dropped) {
            // The drive not named before takes disk number 1.
            ASSERT_EQ(drives.size(), 1u);
            json moved = good.doc["drives"][1];
            moved["disk"] = 1;
            EXPECT_EQ(drives[0], moved);
        } else {
            ASSERT_EQ(drives.size(), 2u);
            EXPECT_EQ(drives[0], listedAs(good.doc["drives"][0], e.listing));
            EXPECT_EQ(drives[1], good.doc["drives"][1]);
        }
    });
}

// ---------------------------------------------------------------------------------------
// smart DISK.

TEST_P(CliFaultMatrix, Smart) {
    const Command smart = [](Target t, const std::string& faults) {
        return runOnBench(t, faults, {"smart", targetPath(t)});
    };
    walk("smart", smart, [](Target t, size_t k, const ScanRecord& scan, const CliFlowRun& good, const CliFlowRun& faulty) {
        ASSERT_EQ(good.code, 0) << good.err;
        ASSERT_EQ(good.doc["ok"], true);
        ASSERT_FALSE(good.doc["lines"].empty());
        if (k < scan.target.size()) {
            const ScanExpected e = expectedScan(scan.target, k, t == Target::Usb);
            expectAfter(good, faulty, k, afterScanFailure(e, scan.target.size(), good));
            if (e.listing == Listing::Dropped) return expectNoSuchDrive(faulty);
            // The drive is listed (perhaps without its identity texts, letter or size) and
            // its SMART data reads as in the good run.
            EXPECT_EQ(faulty.code, 0) << faulty.err;
            const json drive = listedAs(scan.drives[0], e.listing);
            EXPECT_EQ(faulty.doc["disk"], 1);
            EXPECT_EQ(faulty.doc["serial"], drive["serial"]);
            EXPECT_EQ(faulty.doc["model"], drive["model"]);
            EXPECT_EQ(faulty.doc["ok"], true);
            EXPECT_EQ(faulty.doc["lines"], good.doc["lines"]);
            EXPECT_EQ(faulty.doc["attributes"], good.doc["attributes"]);
            return;
        }
        // Any failed command of the SMART read ends it: nothing more is sent, and the
        // command ends with exit 1 and "ok": false, no report lines.
        const size_t s = scan.target.size();
        const std::vector<SimCall> own(good.target.begin() + static_cast<std::ptrdiff_t>(s), good.target.end());
        const Expected e = expectedSmartRead(own, k - s);
        std::vector<size_t> after;
        for (size_t i : e.after) after.push_back(i + s);
        expectAfter(good, faulty, k, after);
        EXPECT_EQ(faulty.code, 1) << faulty.err;
        EXPECT_EQ(faulty.doc["ok"], false);
        EXPECT_TRUE(faulty.doc["lines"].empty());
        EXPECT_TRUE(faulty.doc["attributes"].empty());
        EXPECT_NE(faulty.err.find("qxupdater-cli: the SMART data of disk 1 could not be read"), std::string::npos)
            << faulty.err;
    });
}

// ---------------------------------------------------------------------------------------
// update DISK --yes and erase DISK --yes --password-stdin: the procedure's outcome of the
// named drive, its log box, the diagnostic lines and the exit code.

void expectProcedure(const Expected& e, const CliFlowRun& faulty, bool installedOrErased) {
    EXPECT_EQ(faulty.code, e.status == "Pass" ? 0 : 1) << faulty.err;
    ASSERT_EQ(faulty.doc["drives"].size(), 1u);
    EXPECT_EQ(faulty.doc["drives"][0]["outcome"], e.status);
    EXPECT_EQ(faulty.doc["log"], json(e.log));
    EXPECT_EQ(installedOrErased, e.status == "Pass");
    for (const std::string& line : e.debug) EXPECT_TRUE(logged(faulty.debug, line)) << line;
}

// The procedure's share of the good run's commands, and the positions `e` gives shifted
// past the scan's.
std::vector<SimCall> procedureCalls(const CliFlowRun& good, size_t scanSize) {
    return {good.target.begin() + static_cast<std::ptrdiff_t>(scanSize), good.target.end()};
}
std::vector<size_t> shifted(const std::vector<size_t>& positions, size_t by) {
    std::vector<size_t> out;
    for (size_t i : positions) out.push_back(i + by);
    return out;
}

constexpr const char* kImage = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";

TEST_P(CliFaultMatrix, Update) {
    TempDir tmp;
    const std::string package = tmp.file("qxupdater-package");
    writePackage(package, "1.06", "QX Demo SSD", false, {{firmwareImage(150016, kImage), 0, false}});
    const Command update = [&](Target t, const std::string& faults) {
        return runOnBench(t, faults, {"update", targetPath(t), "--yes", "--package", package});
    };
    walk("update", update, [](Target t, size_t k, const ScanRecord& scan, const CliFlowRun& good, const CliFlowRun& faulty) {
        ASSERT_EQ(good.code, 0) << good.err;
        ASSERT_EQ(good.doc["drives"][0]["outcome"], "Pass");
        ASSERT_TRUE(good.firmwareInstalled);
        ASSERT_EQ(good.doc["drives"][0]["after"]["running"], true) << good.doc.dump();
        const size_t s = scan.target.size();
        if (k < s) {
            const ScanExpected e = expectedScan(scan.target, k, t == Target::Usb);
            if (e.listing == Listing::Dropped) {
                expectAfter(good, faulty, k, {});
                return expectNoSuchDrive(faulty);
            }
            if (e.listing == Listing::BlankIdentity) {
                // Listed without serial number and model: the update refuses to personalise
                // an image for it.
                const Expected blank = expectedUpdateOfBlankIdentity(procedureCalls(good, s));
                std::vector<size_t> after = e.after;
                for (size_t i : shifted(blank.after, s)) after.push_back(i);
                expectAfter(good, faulty, k, after);
                expectProcedure(blank, faulty, faulty.firmwareInstalled);
                return;
            }
            expectAfter(good, faulty, k, afterScanFailure(e, s, good));
            expectProcedure({{}, "Pass", good.doc["log"].get<Lines>(), {}}, faulty, faulty.firmwareInstalled);
            return;
        }
        // The scan's vendor-mode probe left the directly attached drive in vendor mode; a
        // drive behind a bridge is recognised by its INQUIRY and was never switched.
        const ExpectedWithReadBack x = expectedUpdateWithReadBack(procedureCalls(good, s), k - s, t == Target::Sata);
        const Expected& e = x.procedure;
        expectAfter(good, faulty, k, shifted(e.after, s));
        expectProcedure(e, faulty, faulty.firmwareInstalled);
        const json& drive = faulty.doc["drives"][0];
        if (!x.readBack) {
            EXPECT_FALSE(drive.contains("after")) << drive.dump();
        } else if (x.afterReason.empty()) {
            EXPECT_EQ(drive["after"], good.doc["drives"][0]["after"]) << drive.dump();
            EXPECT_FALSE(drive.contains("reason")) << drive.dump();
        } else {
            EXPECT_TRUE(drive["after"].is_null()) << drive.dump();
            EXPECT_EQ(drive["reason"], x.afterReason);
        }
        EXPECT_EQ(faulty.doc["powerOff"], false);
    });
}

TEST_P(CliFaultMatrix, Erase) {
    const Command erase = [](Target t, const std::string& faults) {
        return runOnBench(t, faults, {"erase", targetPath(t), "--yes", "--password-stdin"}, "QXMASTER\n");
    };
    walk("erase", erase, [](Target t, size_t k, const ScanRecord& scan, const CliFlowRun& good, const CliFlowRun& faulty) {
        ASSERT_EQ(good.code, 0) << good.err;
        ASSERT_EQ(good.doc["drives"][0]["outcome"], "Pass");
        ASSERT_TRUE(good.erased);
        const size_t s = scan.target.size();
        if (k < s) {
            const ScanExpected e = expectedScan(scan.target, k, t == Target::Usb);
            if (e.listing == Listing::BlankIdentity) {
                // Listed without serial number and model: the drive cannot be told from
                // another, so nothing of the erase is sent.
                expectAfter(good, faulty, k, e.after);
                expectProcedure(expectedEraseOfBlankIdentity(), faulty, faulty.erased);
                return;
            }
            expectAfter(good, faulty, k, afterScanFailure(e, s, good));
            if (e.listing == Listing::Dropped) return expectNoSuchDrive(faulty);
            expectProcedure({{}, "Pass", good.doc["log"].get<Lines>(), {}}, faulty, faulty.erased);
            return;
        }
        const Expected e = expectedErase(procedureCalls(good, s), k - s);
        expectAfter(good, faulty, k, shifted(e.after, s));
        expectProcedure(e, faulty, faulty.erased);
    });
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliFaultMatrix,
                         ::testing::Values(Failure::AtaError, Failure::CheckCondition, Failure::ControlFails,
                                           Failure::TimeOut, Failure::ShortData),
                         [](const ::testing::TestParamInfo<Failure>& info) { return std::string(nameOf(info.param)); });

}  // namespace
}  // namespace qx::test
