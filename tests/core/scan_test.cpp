// The drive scan on the simulated bench: which candidates are accepted, what the list rows,
// DeviceList entries, DriveInfo and DeviceSlot records hold afterwards, the commands every
// kind of candidate receives, the limits of the drive table, and hostile drive answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "app/core/MainState.h"
#include "devices/Discovery.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "platform/sim/SimDrive.h"
#include "support/ScriptedUser.h"
#include "support/BenchSpecs.h"
#include "support/SimFixture.h"

namespace qx {
namespace {

using sim::FaultKind;
using sim::SimBenchSpec;
using sim::SimCall;
using sim::SimFault;
using test::benchOf;
using test::fault;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The control calls that went to disk `disk` (its path, compared without case).
std::vector<SimCall> callsTo(test::SimFixture& f, size_t disk) {
    const std::string p = lower(f.bench.setup().disks.at(disk).path);
    std::vector<SimCall> out;
    for (const SimCall& c : f.bench.calls()) {
        if (lower(c.path) == p) out.push_back(c);
    }
    return out;
}

// How many calls of one sort a list holds.
struct CommandCounts {
    int identify = 0;     // IDENTIFY DEVICE through the pass-through
    int smartIdentify = 0;
    int setFeatures = 0;  // SET FEATURES 0xDC
    int vendorRead = 0;   // answer sector reads
    int inquiry = 0;
    int devnum = 0;
    int other = 0;
    bool operator==(const CommandCounts&) const = default;
};

std::ostream& operator<<(std::ostream& os, const CommandCounts& c) {
    return os << "{identify " << c.identify << ", smart " << c.smartIdentify << ", setfeatures "
              << c.setFeatures << ", vendorread " << c.vendorRead << ", inquiry " << c.inquiry
              << ", devnum " << c.devnum << ", other " << c.other << "}";
}

CommandCounts countOf(const std::vector<SimCall>& calls) {
    CommandCounts n;
    for (const SimCall& c : calls) {
        if (c.kind == "devnum") {
            ++n.devnum;
        } else if (c.kind == "smart" && c.taskFileIn[6] == 0xEC) {
            ++n.smartIdentify;
        } else if (c.kind == "scsi" && c.cdb[0] == 0x12) {
            ++n.inquiry;
        } else if (c.hasTaskFile && c.taskFileIn[6] == 0xEC) {
            ++n.identify;
        } else if (c.hasTaskFile && c.taskFileIn[6] == 0xEF && c.taskFileIn[0] == 0xDC) {
            ++n.setFeatures;
        } else if (c.hasTaskFile && (c.taskFileIn[6] == 0x86 || c.taskFileIn[6] == 0x8A) &&
                   c.taskFileIn[2] == 0xFF) {
            ++n.vendorRead;
        } else {
            ++n.other;
        }
    }
    return n;
}

int logCount(const test::SimFixture& f, const std::string& line) {
    const auto& out = f.bench.debugOutput();
    return static_cast<int>(std::count(out.begin(), out.end(), line));
}

int logCountContaining(const test::SimFixture& f, const std::string& part) {
    const auto& out = f.bench.debugOutput();
    return static_cast<int>(std::count_if(out.begin(), out.end(), [&](const std::string& s) {
        return s.find(part) != std::string::npos;
    }));
}

// Every test starts from a process that has not scanned yet.
class Scan : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
    static void resetAll() {
        ResetDeviceSlots();
        ResetDriveTable();
        VendorXferMode = 2;
        DriveCount = 0;
    }

    std::vector<std::string> captions() const {
        std::vector<std::string> c;
        for (const auto& r : user.rows) c.push_back(r.row.caption);
        return c;
    }

    MainState state;
    test::ScriptedUser user;
};

// ------------------------------------------------------------------ the demo bench
TEST_F(Scan, DemoBenchListsTheFourMakerDrives) {
    test::SimFixture f;
    ScanWork(state, user);

    ASSERT_EQ(user.rows.size(), 4u);
    EXPECT_EQ(DriveCount, 4);
    const struct {
        const char* caption;
        const char* model;
        const char* serial;
        const char* firmware;
        const char* capacity;
    } expected[] = {
        {"1", "Quorvex QX-T74 256GB", "QX74A0000001", "1.02", "238"},
        {"2", "Quorvex QX-T74 128GB", "QX74B0000002", "1.01", "119"},
        {"3", "Quorvex QX-T74 512GB", "QX74C0000003", "1.02    ", "476"},  // kind 3 keeps blanks
        {"4", "Quorvex QX-T74 64GB", "QX74D0000006", "0.98", "59"},
    };
    for (size_t i = 0; i < 4; ++i) {
        const DriveRow& r = user.rows[i].row;
        EXPECT_EQ(r.caption, expected[i].caption);
        EXPECT_EQ(r.model, expected[i].model);
        EXPECT_EQ(r.serial, expected[i].serial);
        EXPECT_EQ(r.firmware, expected[i].firmware);
        EXPECT_EQ(r.capacity, expected[i].capacity);
        EXPECT_FALSE(user.rows[i].hasStatus);
    }
    EXPECT_EQ(state.DeviceList,
              (std::vector<std::string>{
                  "<< IDE / SATA >>  Quorvex QX-T74 256GB QX74A0000001 (D:)",
                  "<< IDE / SATA >>  Quorvex QX-T74 128GB QX74B0000002",  // only C:, the system
                  "<< USB / SATA >>  Quorvex QX-T74 512GB QX74C0000003 (E:)",
                  "<< IDE / SATA >>  Quorvex QX-T74 64GB QX74D0000006",
              }));
    EXPECT_EQ(state.deviceListSelected, 0);
    EXPECT_TRUE(user.actionsEnabled);
    EXPECT_TRUE(user.log.empty());
}

TEST_F(Scan, DemoBenchTablesAndSlots) {
    test::SimFixture f;
    GetQuorvexDevice(state, user);
    const size_t disk[] = {0, 1, 2, 6};
    const int32_t kind[] = {DEVICE_IDE, DEVICE_IDE, DEVICE_USB, DEVICE_IDE};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::string(DriveInfo[i].devicePath), lower(f.bench.setup().disks[disk[i]].path));
        EXPECT_EQ(DriveInfo[i].busKind, kind[i]);
        EXPECT_EQ(DeviceSlot[i].devicePath, DriveInfo[i].devicePath);
        EXPECT_EQ(DeviceSlot[i].usbDirect, 0);
        EXPECT_EQ(DeviceSlot[i].ata, kind[i] == DEVICE_IDE ? 1 : 0);
    }
    // Kind 1: plain text, NUL-filled. Kind 3: reading order with the drive's blanks.
    EXPECT_EQ(IdentifyText(DriveInfo[0].identify, kModelOffset, kModelWidth), "Quorvex QX-T74 256GB");
    EXPECT_EQ(DriveInfo[0].identify[kModelOffset + 20], 0);
    EXPECT_EQ(IdentifyText(DriveInfo[2].identify, kModelOffset, kModelWidth),
              "Quorvex QX-T74 512GB                    ");
    EXPECT_EQ(IdentifyText(DriveInfo[2].identify, kSerialOffset, kSerialWidth),
              "QX74C0000003        ");
    // The scan leaves the maker's controllers in vendor mode; the last candidate was SATA.
    EXPECT_TRUE(f.drive(0).vendorMode);
    EXPECT_TRUE(f.drive(6).vendorMode);
    EXPECT_EQ(VendorXferMode, 2);
}

TEST_F(Scan, DemoBenchLogLines) {
    test::SimFixture f;
    GetQuorvexDevice(state, user);
    EXPECT_EQ(logCount(f, "nDevice = 7"), 1);
    EXPECT_EQ(logCount(f, "DEVICE_IDE"), 5);
    EXPECT_EQ(logCount(f, "DEVICE_USB"), 2);
    EXPECT_EQ(logCount(f, "DEVICE_SCSI"), 0);
    // The list and the log box are cleared before the first row arrives.
    ASSERT_GE(user.calls.size(), 3u);
    EXPECT_EQ(user.calls[0].what, "clearRows");
    EXPECT_EQ(user.calls[1].what, "clearLog");
}

// The commands of each candidate kind, counted on the bench.
TEST_F(Scan, CommandsPerCandidateKind) {
    test::SimFixture f;
    GetQuorvexDevice(state, user);
    // Accepted SATA drive: IDENTIFY, one probe round, SMART IDENTIFY, size IDENTIFY, and its
    // device number for the letter.
    const CommandCounts makerSata{2, 1, 1, 1, 0, 1, 0};
    EXPECT_EQ(countOf(callsTo(f, 0)), makerSata);
    EXPECT_EQ(countOf(callsTo(f, 1)), makerSata);
    EXPECT_EQ(countOf(callsTo(f, 6)), makerSata);
    // Maker bridge: INQUIRY, IDENTIFY through the bridge, size IDENTIFY, device number.
    EXPECT_EQ(countOf(callsTo(f, 2)), (CommandCounts{2, 0, 0, 0, 1, 1, 0}));
    // Foreign SSD: IDENTIFY and six probe rounds.
    EXPECT_EQ(countOf(callsTo(f, 3)), (CommandCounts{1, 0, 6, 6, 0, 0, 0}));
    // Hard disk: one IDENTIFY.
    EXPECT_EQ(countOf(callsTo(f, 4)), (CommandCounts{1, 0, 0, 0, 0, 0, 0}));
    // Unknown bridge: INQUIRY only.
    EXPECT_EQ(countOf(callsTo(f, 5)), (CommandCounts{0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(f.bench.openHandles(), 0);
}

TEST_F(Scan, ScsiPathOnWindows7) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.path = "\\\\?\\SCSI#Disk&Ven_Quorvex&Prod_QX-T74#4&2&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    d.bus = sim::SimBus::Scsi;
    d.volumes = {'E'};
    SimBenchSpec s = benchOf({d});
    s.os = OsVersion{true, true, 6, 1, 1};
    test::SimFixture f(s);
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 1u);
    // No letter for SCSI-path drives, and no device-number lookup either.
    EXPECT_EQ(state.DeviceList, (std::vector<std::string>{"<< SCSI >>  Quorvex QX-T74 256GB QX74T0000001"}));
    EXPECT_EQ(countOf(callsTo(f, 0)), (CommandCounts{2, 1, 1, 1, 0, 0, 0}));
    EXPECT_EQ(DeviceSlot[0].ata, 0);
    EXPECT_EQ(DriveInfo[0].busKind, DEVICE_SCSI);
    EXPECT_EQ(logCount(f, "DEVICE_SCSI"), 1);
    EXPECT_EQ(user.rows[0].row.capacity, "238");
}

TEST_F(Scan, ScsiPathOnWindows8TakesTheAtaPath) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.path = "\\\\?\\scsi#disk&ven_quorvex&prod_qx-t74#4&2&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    d.bus = sim::SimBus::Scsi;
    d.volumes = {'E'};
    test::SimFixture f(benchOf({d}));
    GetQuorvexDevice(state, user);
    EXPECT_EQ(state.DeviceList, (std::vector<std::string>{"<< IDE / SATA >>  Quorvex QX-T74 256GB QX74T0000001 (E:)"}));
    EXPECT_EQ(DeviceSlot[0].ata, 1);
}

// ------------------------------------------------------------------ acceptance
TEST_F(Scan, TwoMakerDrivesAndAHardDisk) {
    test::SimFixture f(benchOf({test::makerSataDisk(1), test::hardDisk(2), test::makerSataDisk(3)}));
    ScanWork(state, user);
    EXPECT_EQ(captions(), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(state.DeviceList.size(), 2u);
    EXPECT_EQ(user.rows[1].row.serial, "QX74T0000003");
    EXPECT_EQ(callsTo(f, 1).size(), 1u);
    EXPECT_EQ(DeviceSlot[1].devicePath, DriveInfo[1].devicePath);
    EXPECT_EQ(std::string(DriveInfo[1].devicePath), lower(f.bench.setup().disks[2].path));
}

TEST_F(Scan, ForeignSsdIsPassedOverAfterSixRounds) {
    test::SimFixture f(benchOf({test::foreignSsdDisk(1)}));
    const uint64_t start = f.clock().now();
    ScanWork(state, user);
    EXPECT_TRUE(user.rows.empty());
    EXPECT_TRUE(state.DeviceList.empty());
    EXPECT_FALSE(user.actionsEnabled);
    EXPECT_EQ(f.clock().now() - start, 1200u + 13u);
}

TEST_F(Scan, BridgeCodesDecideTheUsbCandidates) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k403"), test::usbBridgeDisk(2, "R20X"),
                                test::usbBridgeDisk(3, "ZZ99"), test::usbBridgeDisk(4, "k402")}));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 2u);
    EXPECT_EQ(state.DeviceList[0], "<< USB / SATA >>  Quorvex QX-T74 256GB QX74T0000001");
    EXPECT_EQ(state.DeviceList[1], "<< USB / SATA >>  Quorvex QX-T74 256GB QX74T0000004");
    EXPECT_EQ(countOf(callsTo(f, 1)), (CommandCounts{0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(countOf(callsTo(f, 2)), (CommandCounts{0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(VendorXferMode, 2);
}

TEST_F(Scan, K401BridgeSwitchesToPioFraming) {
    test::SimFixture f(benchOf({test::makerSataDisk(1), test::usbBridgeDisk(2, "k401")}));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 2u);
    EXPECT_EQ(VendorXferMode, 1);
}

TEST_F(Scan, FailedBridgeIdentifyLeavesNoCaptionGap) {
    sim::SimDiskSpec bad = test::usbBridgeDisk(2, "k403");
    bad.faults = {fault("ata:ec", 0, FaultKind::AtaError)};
    test::SimFixture f(benchOf({test::makerSataDisk(1), bad, test::makerSataDisk(3)}));
    GetQuorvexDevice(state, user);
    EXPECT_EQ(captions(), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(user.rows[1].row.serial, "QX74T0000003");
    EXPECT_EQ(DeviceSlot[1].ata, 1);
    EXPECT_EQ(DeviceSlot[1].usbDirect, 0);
    EXPECT_EQ(countOf(callsTo(f, 1)), (CommandCounts{1, 0, 0, 0, 1, 0, 0}));
}

TEST_F(Scan, Sbp2BridgeIsListedAsUsbSata) {
    sim::SimDiskSpec d = test::usbBridgeDisk(1, "k404");
    d.path = "\\\\?\\sbp2#disk&ven_quorvex#0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    d.bus = sim::SimBus::Sbp2;
    test::SimFixture f(benchOf({d}));
    GetQuorvexDevice(state, user);
    EXPECT_EQ(state.DeviceList, (std::vector<std::string>{"<< USB / SATA >>  Quorvex QX-T74 256GB QX74T0000001"}));
}

TEST_F(Scan, RescanAfterRemovalRenumbersFromOne) {
    test::SimFixture f;
    ScanWork(state, user);
    ASSERT_EQ(user.rows.size(), 4u);
    f.bench.setup().disks.erase(f.bench.setup().disks.begin());  // disk 0 unplugged
    ScanWork(state, user);
    EXPECT_EQ(captions(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(user.rows[0].row.serial, "QX74B0000002");
    EXPECT_EQ(user.rows[2].row.serial, "QX74D0000006");
    EXPECT_EQ(state.DeviceList.size(), 3u);
    EXPECT_EQ(DriveCount, 3);
    EXPECT_EQ(user.count("clearRows"), 2);
}

TEST_F(Scan, NoDiskAtAll) {
    SimBenchSpec s;
    s.enumerationFails = true;
    test::SimFixture f(s);
    state.DeviceList = {"<< IDE / SATA >>  old"};
    user.rows.push_back({});
    user.actionsEnabled = true;
    ScanWork(state, user);
    EXPECT_TRUE(user.rows.empty());
    EXPECT_TRUE(state.DeviceList.empty());
    EXPECT_FALSE(user.actionsEnabled);
    EXPECT_EQ(user.count("enableActions"), 1);
    EXPECT_EQ(logCount(f, "nDevice = 0"), 1);
    EXPECT_EQ(DriveCount, 0);
}

TEST_F(Scan, NoDriveAcceptedKeepsTheActionsDisabled) {
    test::SimFixture f(benchOf({test::hardDisk(1), test::usbBridgeDisk(2, "R21X")}));
    ScanWork(state, user);
    EXPECT_TRUE(user.rows.empty());
    EXPECT_FALSE(user.actionsEnabled);
    EXPECT_EQ(state.deviceListSelected, -1);
    EXPECT_EQ(user.count("notice"), 0);
    // The rejected last candidate's slot does not keep a path into the released table.
    EXPECT_EQ(DeviceSlot[0].devicePath, nullptr);
}

// ------------------------------------------------------------------ the drive table limit
TEST_F(Scan, SeventeenMakerDrivesAcceptSixteen) {
    std::vector<sim::SimDiskSpec> disks;
    for (int i = 0; i < 18; ++i) disks.push_back(test::makerSataDisk(i));
    test::SimFixture f(benchOf(disks));
    GetQuorvexDevice(state, user);
    EXPECT_EQ(user.rows.size(), 16u);
    EXPECT_EQ(state.DeviceList.size(), 16u);
    EXPECT_EQ(DriveCount, 16);
    EXPECT_EQ(user.rows.back().row.caption, "16");
    // The rest is logged and never touched.
    EXPECT_EQ(logCountContaining(f, "drive table full"), 2);
    EXPECT_EQ(logCountContaining(f, "candidate 17 passed over"), 1);
    EXPECT_EQ(f.bench.openCount(16), 0);
    EXPECT_EQ(f.bench.openCount(17), 0);
}

TEST_F(Scan, HundredDisksWithTwentyMakerDrives) {
    std::vector<sim::SimDiskSpec> disks;
    for (int i = 0; i < 100; ++i) {
        disks.push_back(i % 4 == 0 && i < 80 ? test::makerSataDisk(i) : test::hardDisk(i));
    }
    test::SimFixture f(benchOf(disks));
    ScanWork(state, user);
    ASSERT_EQ(user.rows.size(), 16u);
    EXPECT_EQ(user.rows[15].row.serial, "QX74T0000060");
    EXPECT_EQ(logCountContaining(f, "the table holds 80 paths"), 20);
    EXPECT_EQ(logCountContaining(f, "drive table full"), 80 - 61);
    EXPECT_EQ(f.bench.openCount(61), 0);
    EXPECT_EQ(f.bench.openCount(64), 0);
    EXPECT_EQ(countOf(callsTo(f, 1)), (CommandCounts{1, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(user.actionsEnabled);
}

// ------------------------------------------------------------------ hostile answers
TEST_F(Scan, BridgeDriveKeepsItsWholeIdentifyAnswer) {
    sim::SimDiskSpec d = test::usbBridgeDisk(1, "k403");
    d.drive.wwn = {0x5001, 0xB448, 0xABCD, 0xEF01};
    test::SimFixture f(benchOf({d}));
    // A record that an earlier scan filled with something else.
    std::memset(DriveInfo[0].identify, 0x5A, sizeof(DriveInfo[0].identify));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 1u);
    auto expected = sim::SimDrive(f.bench.setup().disks[0].drive).identifyData();
    for (auto [at, width] : {std::pair{kModelOffset, kModelWidth}, std::pair{kSerialOffset, kSerialWidth},
                             std::pair{kFirmwareOffset, kFirmwareWidth}}) {
        for (int i = 0; i < width; i += 2) std::swap(expected[at + i], expected[at + i + 1]);
    }
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), DriveInfo[0].identify));
    EXPECT_EQ(DriveInfo[0].identify[kWwnOffset + 4], 0xCD);
    EXPECT_EQ(DriveInfo[0].identify[kWwnOffset + 5], 0xAB);
}

TEST_F(Scan, FailedSmartIdentifyShowsNoOtherDrivesData) {
    sim::SimDiskSpec b = test::makerSataDisk(2);
    b.faults = {fault("smart:ec", 0, FaultKind::AtaError)};
    test::SimFixture f(benchOf({test::makerSataDisk(1), b}));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 2u);
    EXPECT_EQ(user.rows[1].row.model, "");
    EXPECT_EQ(user.rows[1].row.serial, "");
    EXPECT_EQ(user.rows[1].row.firmware, "");
    EXPECT_EQ(user.rows[1].row.capacity, "238");  // the size query still works
    const uint8_t* id = DriveInfo[1].identify;
    EXPECT_TRUE(std::all_of(id, id + 512, [](uint8_t x) { return x == 0; }));
}

// An IDENTIFY through the bridge that delivers nothing is a failed IDENTIFY: the drive is
// passed over rather than listed with whatever the buffer held.
TEST_F(Scan, EmptyIdentifyThroughABridgePassesTheDriveOver) {
    sim::SimDiskSpec d = test::usbBridgeDisk(1, "k403");
    d.faults = {fault("ata:ec", 0, FaultKind::ShortData)};  // nothing arrives
    test::SimFixture f(benchOf({d, test::makerSataDisk(2)}));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 1u);
    EXPECT_EQ(user.rows[0].row.caption, "1");
    EXPECT_EQ(user.rows[0].row.serial, f.bench.setup().disks[1].drive.serial);
    EXPECT_EQ(logCount(f, "ReadSCSICommandWithTimeOutValue(): 0 of 512 bytes transferred\r\n"), 1);
}

sim::SimDiskSpec allOnes(sim::SimDiskSpec d) {
    d.drive.model = std::string(40, '\xFF');
    d.drive.serial = std::string(20, '\xFF');
    d.drive.firmware = std::string(8, '\xFF');
    d.drive.sectors28 = 0xFFFFFFFF;
    d.drive.sectors48 = 0xFFFFFFFFFFFFFFFFull;
    d.drive.rotationRate = 0xFFFF;
    d.drive.wwn = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    return d;
}

TEST_F(Scan, AllOnesIdentify) {
    test::SimFixture f(benchOf({allOnes(test::makerSataDisk(1)), allOnes(test::usbBridgeDisk(2, "k403"))}));
    GetQuorvexDevice(state, user);
    // The SATA drive is no solid-state drive by its rotation rate; the bridge's drive is
    // listed with texts bounded by their fields and no size.
    ASSERT_EQ(user.rows.size(), 1u);
    EXPECT_EQ(user.rows[0].row.model, std::string(40, '\xFF'));
    EXPECT_EQ(user.rows[0].row.serial, std::string(20, '\xFF'));
    EXPECT_EQ(user.rows[0].row.firmware, std::string(8, '\xFF'));
    EXPECT_EQ(user.rows[0].row.capacity, "0");
    EXPECT_EQ(countOf(callsTo(f, 0)), (CommandCounts{1, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Scan, BlankOnlyTextFields) {
    sim::SimDiskSpec a = test::makerSataDisk(1);
    sim::SimDiskSpec b = test::usbBridgeDisk(2, "k403");
    for (sim::SimDiskSpec* d : {&a, &b}) {
        d->drive.model = "";
        d->drive.serial = "";
        d->drive.firmware = "";
    }
    test::SimFixture f(benchOf({a, b}));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 2u);
    EXPECT_EQ(user.rows[0].row.model, "");
    EXPECT_EQ(user.rows[0].row.firmware, "");
    EXPECT_EQ(user.rows[1].row.model, "");
    EXPECT_EQ(user.rows[1].row.firmware, "        ");  // kind 3: as stored
    EXPECT_EQ(state.DeviceList[0], "<< IDE / SATA >>   ");
}

TEST_F(Scan, FullTextFieldsWithoutNul) {
    sim::SimDiskSpec a = test::makerSataDisk(1);
    sim::SimDiskSpec b = test::usbBridgeDisk(2, "k403");
    for (sim::SimDiskSpec* d : {&a, &b}) {
        d->drive.model = std::string(40, 'M');
        d->drive.serial = std::string(20, 'S');
        d->drive.firmware = std::string(8, 'F');
    }
    test::SimFixture f(benchOf({a, b}));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 2u);
    for (const auto& r : user.rows) {
        EXPECT_EQ(r.row.model, std::string(40, 'M'));
        EXPECT_EQ(r.row.serial, std::string(20, 'S'));
        EXPECT_EQ(r.row.firmware, std::string(8, 'F'));
    }
}

TEST_F(Scan, ShortInquiryIsNoBridge) {
    sim::SimDiskSpec d = test::usbBridgeDisk(1, "k403");
    d.inquiryLength = 36;
    test::SimFixture f(benchOf({d}));
    GetQuorvexDevice(state, user);
    EXPECT_TRUE(user.rows.empty());
    EXPECT_EQ(countOf(callsTo(f, 0)), (CommandCounts{0, 0, 0, 0, 1, 0, 0}));
}

TEST_F(Scan, InquiryThatNeverComesTimesOutAndTheScanGoesOn) {
    sim::SimDiskSpec d = test::usbBridgeDisk(1, "k403");
    // The answer never arrives: the system gives up after the 300-second time-out.
    SimFault timedOut = fault("scsi:12", 0, FaultKind::ControlFails);
    timedOut.lastError = 121;  // ERROR_SEM_TIMEOUT
    d.faults = {fault("scsi:12", 0, FaultKind::Hang, 300000), timedOut};
    test::SimFixture f(benchOf({d, test::makerSataDisk(2)}));
    const uint64_t start = f.clock().now();
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 1u);
    EXPECT_EQ(user.rows[0].row.serial, "QX74T0000002");
    EXPECT_GE(f.clock().now() - start, 300000u);
    EXPECT_EQ(callsTo(f, 0).front().timeout, 300u);
}

TEST_F(Scan, OversizedCandidatePathIsPassedOver) {
    sim::SimDiskSpec longOne = test::makerSataDisk(1);
    longOne.path = "\\\\?\\ide#" + std::string(300, 'x');
    test::SimFixture f(benchOf({longOne, test::makerSataDisk(2)}));
    GetQuorvexDevice(state, user);
    ASSERT_EQ(user.rows.size(), 1u);
    EXPECT_EQ(user.rows[0].row.serial, "QX74T0000002");
    EXPECT_EQ(f.bench.openCount(0), 0);
}

// ------------------------------------------------------------------ bridge table
std::array<uint8_t, 40> inquiryWith(std::initializer_list<uint8_t> code) {
    std::array<uint8_t, 40> a{};
    std::fill(a.begin() + 8, a.begin() + 36, 'x');
    std::copy(code.begin(), code.end(), a.begin() + 36);
    return a;
}

std::array<uint8_t, 40> inquiryWith(const char* code) {
    std::array<uint8_t, 40> a = inquiryWith({});
    std::memcpy(a.data() + 36, code, std::min<size_t>(4, std::strlen(code)));
    return a;
}

TEST(ClassifyBridgeCode, EveryRowOfTheTable) {
    const std::pair<const char*, int> rows[] = {
        {"k401", 1},  {"k402", 9},  {"k403", 4},  {"k404", 7},  {"k405", 8},  {"k406", 11},
        {"k407", 12}, {"k408", 12}, {"k409", 13}, {"xt51", 13}, {"Qt52", 13}, {"at53", 13},
        {"5t54", 13}, {"k410", 13}, {"k411", 13}, {"k412", 10}, {"R20X", 10}, {"ice ", 10},
        {"k41x", 10}, {"R21X", 10},
    };
    for (const auto& [code, cls] : rows) {
        const auto inq = inquiryWith(code);
        EXPECT_EQ(ClassifyBridgeCode(inq.data()), cls) << code;
    }
    const auto raw = inquiryWith({0x05, 0xE3, 0x07, 0x18});
    EXPECT_EQ(ClassifyBridgeCode(raw.data()), 14);
}

TEST(ClassifyBridgeCode, ComparisonsAreExact) {
    for (const char* code : {"K401", "k40", "ice", "r20x", "k413", "t51", "ZZ99", ""}) {
        const auto inq = inquiryWith(code);
        EXPECT_EQ(ClassifyBridgeCode(inq.data()), 0) << code;
    }
    // The whole code is cut at its first NUL.
    EXPECT_EQ(ClassifyBridgeCode(inquiryWith({'k', '4', '0', 0}).data()), 0);
    EXPECT_EQ(ClassifyBridgeCode(inquiryWith({'k', 0, '0', '1'}).data()), 0);
    // Characters 2-4 are compared as bytes, whatever the first one is.
    EXPECT_EQ(ClassifyBridgeCode(inquiryWith({0, 't', '5', '1'}).data()), 13);
    EXPECT_EQ(ClassifyBridgeCode(inquiryWith({0x05, 0xE3, 0x07, 0x19}).data()), 0);
    EXPECT_EQ(ClassifyBridgeCode(nullptr), 0);
}

TEST(IsBridgeClass, TheMakersBridges) {
    std::vector<int> bridges;
    for (int c = -1; c <= 16; ++c) {
        if (IsBridgeClass(c)) bridges.push_back(c);
    }
    EXPECT_EQ(bridges, (std::vector<int>{1, 4, 7, 8, 9, 11, 12, 13, 14}));
}

TEST_F(Scan, ClassifyBridgeOfAFailedInquiryIsZero) {
    sim::SimDiskSpec d = test::usbBridgeDisk(1, "k403");
    d.faults = {fault("scsi:12", 0, FaultKind::CheckCondition)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    EXPECT_EQ(ClassifyBridge(0), 0);
    d.faults.clear();
    f.bench.setup().disks[0].faults.clear();
    EXPECT_EQ(ClassifyBridge(0), 4);
}

}  // namespace
}  // namespace qx
