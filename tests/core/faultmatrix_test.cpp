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
#include "support/FaultMatrix.h"
#include "support/ProcedureBench.h"
#include "support/ScriptedUser.h"
#include "support/SimFixture.h"
#include "update/Package.h"
#include "update/SecureErase.h"
#include "update/Update.h"

namespace qx {
namespace {

using sim::SimCall;
using test::Expected;
using test::Failure;
using test::Lines;
using test::ProcedureBench;
using test::applies;
using test::callsTo;
using test::faultAt;
using test::failedAsAsked;
using test::logged;
using test::nameOf;
using test::signature;
using test::transportLines;

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
            EXPECT_TRUE(logged(faulty.debug, line)) << line;
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
            const test::ScanExpected e = test::expectedScan(good.target, k, t == Target::Usb);
            expectAfter(good, faulty, k, e.after);
            switch (e.listing) {
                case test::Listing::Dropped:
                    // The next drive takes caption 1.
                    ASSERT_EQ(faulty.rows.size(), 1u);
                    EXPECT_EQ(faulty.rows[0].caption, "1");
                    EXPECT_EQ(faulty.rows[0].serial, good.rows[1].serial);
                    break;
                case test::Listing::Listed: expectListedAs(listed, true); break;
                case test::Listing::BlankIdentity: {
                    DriveRow blank = listed;
                    blank.model = blank.serial = blank.firmware = "";
                    expectListedAs(blank, true);
                    break;
                }
                case test::Listing::NoLetter: expectListedAs(listed, false); break;
                case test::Listing::NoSize: {
                    DriveRow noSize = listed;
                    noSize.capacity = "0";
                    expectListedAs(noSize, true);
                    break;
                }
            }
        });
        report("scan", t, m);
        EXPECT_GT(m.positions, 0);
    }
}

// ---------------------------------------------------------------------------------------
// The firmware update, package mode.

constexpr const char* kImage = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";

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
        const Matrix m = runMatrix(GetParam(), flow, [&](size_t k, const FlowRun& good, const FlowRun& faulty) {
            ASSERT_EQ(good.statuses.at(0), "Pass");
            EXPECT_EQ(faulty.statuses.at(1), "");
            const Expected e = test::expectedUpdate(good.target, k);
            expectAfter(good, faulty, k, e.after);
            EXPECT_EQ(faulty.statuses.at(0), e.status);
            EXPECT_EQ(faulty.log, e.log);
            EXPECT_EQ(passes(faulty), e.status == "Pass" ? 1 : 0);
            EXPECT_EQ(faulty.firmwareInstalled, e.status == "Pass");
            EXPECT_EQ(faulty.shutdownPrompts, e.status == "Pass" ? 1 : 0);
            for (const std::string& line : e.debug) EXPECT_TRUE(logged(faulty.debug, line)) << line;
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
            EXPECT_EQ(faulty.statuses.at(1), "");
            const Expected e = test::expectedErase(good.target, k);
            expectAfter(good, faulty, k, e.after);
            EXPECT_EQ(faulty.statuses.at(0), e.status);
            EXPECT_EQ(passes(faulty), e.status == "Pass" ? 1 : 0);
            EXPECT_EQ(faulty.erased, e.status == "Pass");
            EXPECT_EQ(faulty.log, e.log);
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
            expectAfter(good, faulty, k, test::expectedSmartRead(good.target, k).after);
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
