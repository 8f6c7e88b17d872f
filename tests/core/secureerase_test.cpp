// The secure erase on the simulated bench: questions, the password box, the two commands
// and their data block, outcomes per drive, and that the password leaves no trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/Sha256.h"
#include "devices/DriveTable.h"
#include "platform/DeviceIoctl.h"
#include "support/DeviceTap.h"
#include "support/ProcedureBench.h"
#include "update/SecureErase.h"

namespace qx {
namespace {

using test::ProcedureBench;
using test::TempDir;
using test::makerSataDisk;
using test::usbBridgeDisk;
using Lines = std::vector<std::string>;

constexpr uint8_t kPrepare = 0xF3;
constexpr uint8_t kUnit = 0xF4;
constexpr const char* kQuestion =
    "Please close all other \"applications\" before performing the secure erase.\n"
    "Click \"OK\" to proceed.";

// The UNIT data block for a password, as the drive must receive it.
std::vector<uint8_t> unitBlock(const std::string& password) {
    std::vector<uint8_t> block(512, 0);
    block[0] = 0x01;
    std::memset(block.data() + 2, ' ', 32);
    std::memcpy(block.data() + 2, password.data(), std::min<size_t>(password.size(), 32));
    return block;
}

bool contains(const uint8_t* memory, size_t length, const std::string& text) {
    return std::search(memory, memory + length, text.begin(), text.end()) != memory + length;
}

size_t eraseCommands(const ProcedureBench& b) {
    return b.commands(kPrepare).size() + b.commands(kUnit).size();
}

TEST(SecureErase, CancelAtTheQuestion) {
    ProcedureBench b({makerSataDisk(1)});
    b.user.check(0);
    b.user.confirmAnswers = {false};
    SecureEraseBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.count("confirm"), 1);
    // The question comes after the log box was cleared and the buttons were locked.
    size_t clearAt = 0, confirmAt = 0;
    for (size_t i = 0; i < b.user.calls.size(); ++i) {
        if (b.user.calls[i].what == "clearLog" && clearAt == 0) clearAt = i + 1;
        if (b.user.calls[i].what == "confirm" && confirmAt == 0) confirmAt = i + 1;
    }
    EXPECT_GT(clearAt, 0u);
    EXPECT_GT(confirmAt, clearAt);
    const auto& q = b.first("confirm");
    EXPECT_EQ(q.caption, "Warning");
    EXPECT_EQ(q.text, kQuestion);
    EXPECT_EQ(q.icon, BoxIcon::Warning);
    EXPECT_EQ(b.user.noticeTexts(), Lines{"Secure erase cancelled!"});
    EXPECT_EQ(b.user.count("askText"), 0);
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_TRUE(b.user.scanAndExitEnabled);
    EXPECT_TRUE(b.user.actionsEnabled);
}

TEST(SecureErase, RefusedSystem) {
    ProcedureBench b({makerSataDisk(1)});
    b.bench().setup().os = {true, true, 5, 0, 0};
    b.user.check(0);
    SecureEraseBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.count("notice"), 1);
    const auto& n = b.first("notice");
    EXPECT_EQ(n.caption, b.state.appTitle);
    EXPECT_EQ(n.text, "The program must be running on Microsoft Windows XP Service Pack 2 (SP2) or later!");
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_TRUE(b.user.scanAndExitEnabled);
}

TEST(SecureErase, NoCheckedRowComesBeforeThePasswordBox) {
    ProcedureBench b({makerSataDisk(1)});
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.noticeTexts(), Lines{"Please select a disk!"});
    EXPECT_EQ(b.user.count("confirm"), 1);
    EXPECT_EQ(b.user.count("askText"), 0);
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_TRUE(b.user.actionsEnabled);
}

TEST(SecureErase, EmptyOrCancelledPasswordSendsNothing) {
    ProcedureBench b({makerSataDisk(1)});
    b.user.check(0);
    SecureEraseBtnClick(b.state, b.user);  // no answer queued: the box was cancelled
    b.user.textAnswers = {""};
    SecureEraseBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.count("askText"), 2);
    const auto& ask = b.first("askText");
    EXPECT_EQ(ask.caption, "Please Input the Password");
    EXPECT_EQ(ask.text, "Password");
    const Lines expected = {"No password and secure erase cancelled!",
                            "No password and secure erase cancelled!"};
    EXPECT_EQ(b.user.noticeTexts(), expected);
    const auto& n = b.first("notice");
    EXPECT_EQ(n.caption, b.state.caption);
    EXPECT_EQ(n.icon, BoxIcon::None);
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_TRUE(b.user.scanAndExitEnabled);
}

TEST(SecureErase, ErasesWithTheMasterPassword) {
    ProcedureBench b({makerSataDisk(1), makerSataDisk(2)});
    test::DeviceTap tap;
    b.user.check(1);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.log, (Lines{"Disk 2 starting secure erase.",
                                 "Disk 2 secure erase successfully, please shut down your system."}));
    EXPECT_EQ(b.user.rows[1].status, "Pass");
    EXPECT_EQ(b.user.rows[0].status, "");
    EXPECT_TRUE(b.drive(1).erased);
    EXPECT_FALSE(b.drive(0).erased);
    EXPECT_TRUE(b.drive(1).vendorMode);  // switched on and left on
    EXPECT_EQ(b.user.pauses, std::vector<uint32_t>{2000});
    EXPECT_EQ(b.user.shutdownPrompts, 0);

    const auto prepare = b.commands(kPrepare);
    const auto unit = b.commands(kUnit);
    ASSERT_EQ(prepare.size(), 1u);
    ASSERT_EQ(unit.size(), 1u);
    EXPECT_EQ(prepare[0].length, 0u);
    EXPECT_EQ(prepare[0].taskFileIn[5], 0xE0);
    EXPECT_EQ(unit[0].direction, "out");
    EXPECT_EQ(unit[0].length, 512u);
    EXPECT_EQ(unit[0].taskFileIn[1], 0x01);
    EXPECT_EQ(tap.written(kUnit), std::vector<std::vector<uint8_t>>{unitBlock("QXMASTER")});  // blank-filled
    EXPECT_EQ(unit[0].dataSha256, "");  // not even a digest of the block is kept
    EXPECT_TRUE(b.user.scanAndExitEnabled);
    EXPECT_TRUE(b.user.actionsEnabled);
}

// The device name leads to another drive since the scan (a hot-plug): IDENTIFY is read
// again first, and a drive whose serial number, model or world wide name differs from the
// scan's is not erased; neither is a drive the scan could not identify.
TEST(SecureErase, OnlyTheScannedDriveIsErased) {
    enum Change { Serial, Model, Wwn, Blank };
    for (const Change change : {Serial, Model, Wwn, Blank}) {
        for (const bool usb : {false, true}) {
            SCOPED_TRACE(testing::Message() << "change " << change << (usb ? " usb" : " sata"));
            ProcedureBench b({usb ? usbBridgeDisk(1, "k403") : makerSataDisk(1), makerSataDisk(2)});
            b.user.check(0);
            b.user.check(1);
            b.user.textAnswers = {"QXMASTER"};
            sim::SimDriveSpec& now = b.bench().setup().disks[0].drive;
            if (change == Serial) now.serial = "QX74T9999999";
            if (change == Model) now.model = "Quorvex QX-T74 512GB";
            if (change == Wwn) now.wwn[3] = 0x7777;
            if (change == Blank) std::memset(DriveInfo[0].identify, 0, sizeof DriveInfo[0].identify);
            SecureEraseBtnClick(b.state, b.user);
            EXPECT_EQ(b.user.rows[0].status, "Fail");
            EXPECT_FALSE(b.drive(0).erased);
            EXPECT_EQ(b.user.log[0], "Disk 1 starting secure erase.");
            EXPECT_EQ(b.user.log[1], "Disk 1 secure erase fail!");
            const std::string expected =
                change == Blank ? "[0]The drive's serial number is empty: the drive cannot be told from another"
                                : std::string("[0]The drive's ") +
                                      (change == Serial ? "serial number" : change == Model ? "model number" : "world wide name") +
                                      " differs from the scan's";
            EXPECT_NE(b.debugText().find(expected), std::string::npos) << b.debugText();
            // Nothing but the IDENTIFY reached the first drive; the second is erased.
            for (const auto& c : b.bench().calls()) {
                if (c.path == b.fixture.path(0) && c.hasTaskFile) EXPECT_EQ(c.taskFileIn[6], 0xEC);
            }
            EXPECT_EQ(b.user.rows[1].status, "Pass");
            EXPECT_TRUE(b.drive(1).erased);
        }
    }
}

TEST(SecureErase, BridgeDriveGetsTheExactBlocks) {
    ProcedureBench b({usbBridgeDisk(1, "k403")});
    test::DeviceTap tap;
    ASSERT_TRUE(SecureEraseDrive(0, "QXMASTER"));
    std::vector<std::array<uint8_t, 12>> cdbs;
    for (const auto& c : b.bench().calls()) {
        if (c.kind != "scsi" || c.cdb[0] != 0xA1) continue;
        std::array<uint8_t, 12> cdb{};
        std::copy_n(c.cdb.begin(), 12, cdb.begin());
        cdbs.push_back(cdb);
    }
    const std::vector<std::array<uint8_t, 12>> expected = {
        {0xA1, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xF3, 0x00, 0x00},
        {0xA1, 0x0A, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0xF4, 0x00, 0x00},
    };
    EXPECT_EQ(cdbs, expected);
    EXPECT_EQ(tap.written(kUnit), std::vector<std::vector<uint8_t>>{unitBlock("QXMASTER")});
    EXPECT_TRUE(b.drive(0).erased);
}

TEST(SecureErase, OnlyTheFirst32CharactersAreSent) {
    auto disk = makerSataDisk(1);
    const std::string master = "0123456789abcdefghijklmnopqrstuv";  // 32
    disk.drive.masterPassword = master;
    ProcedureBench b({disk});
    test::DeviceTap tap;
    b.user.check(0);
    b.user.textAnswers = {master + "EXTRA-TAIL"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.rows[0].status, "Pass");
    EXPECT_EQ(tap.written(kUnit).at(0), unitBlock(master));
}

TEST(SecureErase, FailedPrepareSendsNoUnit) {
    const auto disk = test::withFault(makerSataDisk(1), "ata:f3", 0, sim::FaultKind::AtaError);
    ProcedureBench b({disk});
    b.user.check(0);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.commands(kPrepare).size(), 1u);
    EXPECT_TRUE(b.commands(kUnit).empty());
    EXPECT_EQ(b.user.log, (Lines{"Disk 1 starting secure erase.", "Disk 1 secure erase fail!"}));
    EXPECT_EQ(b.user.rows[0].status, "Fail");
    EXPECT_EQ(b.user.pauses, std::vector<uint32_t>{2000});  // paused whatever the result
}

TEST(SecureErase, TwoDrivesOneFailing) {
    const auto failing = test::withFault(makerSataDisk(1), "ata:f4", 0, sim::FaultKind::AtaError);
    ProcedureBench b({failing, makerSataDisk(2), makerSataDisk(3)});
    b.user.check(0);
    b.user.check(2);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    const Lines expected = {"Disk 1 starting secure erase.", "Disk 1 secure erase fail!",
                            "Disk 3 starting secure erase.",
                            "Disk 3 secure erase successfully, please shut down your system."};
    EXPECT_EQ(b.user.log, expected);
    EXPECT_EQ(b.user.rows[0].status, "Fail");
    EXPECT_EQ(b.user.rows[1].status, "");
    EXPECT_EQ(b.user.rows[2].status, "Pass");
    EXPECT_EQ(b.user.pauses, (std::vector<uint32_t>{2000, 2000}));
    EXPECT_EQ(b.user.count("askText"), 1);  // one password for the whole run
    EXPECT_TRUE(b.drive(2).erased);
}

// ---------------------------------------------------------------------------------------
// What the drive and the system allow, checked from the IDENTIFY data read just before the
// erase: a refused drive receives nothing of the erase.

sim::SimBenchSpec benchOf(std::vector<sim::SimDiskSpec> disks, bool windows) {
    sim::SimBenchSpec setup;
    setup.windows = windows;
    setup.disks = std::move(disks);
    return setup;
}

TEST(SecureEraseChecks, FrozenDriveReceivesNoSecurityCommand) {
    auto frozen = makerSataDisk(1);
    frozen.drive.securityFrozen = true;
    ProcedureBench b(benchOf({frozen, makerSataDisk(2)}, false));
    b.user.check(0);
    b.user.check(1);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(eraseCommands(b), 2u);  // the second drive's pair only
    for (const auto& c : b.commands(kPrepare)) EXPECT_NE(c.path, frozen.path);
    const Lines expected = {
        "Disk 1 starting secure erase.",
        "Disk 1: the drive's security is frozen, so it refuses the erase. Suspend and resume the "
        "computer, or attach the drive through the maker's USB bridge, then try again.",
        "Disk 1 secure erase fail!", "Disk 2 starting secure erase.",
        "Disk 2 secure erase successfully, please shut down your system."};
    EXPECT_EQ(b.user.log, expected);
    EXPECT_EQ(b.user.rows[0].status, "Fail");
    EXPECT_EQ(b.user.reasons, (std::map<int, std::string>{{0, "frozen"}}));
    EXPECT_FALSE(b.drive(0).erased);
    EXPECT_FALSE(b.drive(0).vendorMode);  // nothing but IDENTIFY reached it
    EXPECT_TRUE(b.drive(1).erased);
}

TEST(SecureEraseChecks, UnsupportedOrExpiredSecurityIsRefused) {
    struct Case {
        void (*set)(sim::SimDriveSpec&);
        const char* reason;
    };
    const Case cases[] = {
        {[](sim::SimDriveSpec& d) { d.securitySupported = false; }, "security-not-supported"},
        {[](sim::SimDriveSpec& d) { d.securityAttemptsExpired = true; }, "attempts-expired"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        auto disk = makerSataDisk(1);
        c.set(disk.drive);
        ProcedureBench b({disk});
        b.user.check(0);
        b.user.textAnswers = {"QXMASTER"};
        SecureEraseBtnClick(b.state, b.user);
        EXPECT_EQ(eraseCommands(b), 0u);
        EXPECT_EQ(b.user.reasons[0], c.reason);
        ASSERT_EQ(b.user.log.size(), 3u);
        EXPECT_EQ(b.user.log[2], "Disk 1 secure erase fail!");
        EXPECT_EQ(b.user.rows[0].status, "Fail");
    }
}

// A locked drive is not refused: the master-password erase is how it is recovered.
TEST(SecureEraseChecks, WordsOfTheSecurityState) {
    std::array<uint8_t, 512> id{};
    const auto set = [&id](size_t word, uint16_t v) {
        id[2 * word] = static_cast<uint8_t>(v);
        id[2 * word + 1] = static_cast<uint8_t>(v >> 8);
    };
    set(82, 0x0002);
    set(128, 0x0001);
    EXPECT_EQ(SecurityRefusalOf(id.data()), SecurityRefusal::None);
    set(128, 0x0007);  // enabled and locked
    EXPECT_EQ(SecurityRefusalOf(id.data()), SecurityRefusal::None);
    set(128, 0x000F);
    EXPECT_EQ(SecurityRefusalOf(id.data()), SecurityRefusal::Frozen);
    set(128, 0x0013);
    EXPECT_EQ(SecurityRefusalOf(id.data()), SecurityRefusal::AttemptsExpired);
    set(128, 0x0000);
    EXPECT_EQ(SecurityRefusalOf(id.data()), SecurityRefusal::NotSupported);
    set(128, 0x0001);
    set(82, 0x0000);
    EXPECT_EQ(SecurityRefusalOf(id.data()), SecurityRefusal::NotSupported);
}

// Windows' inbox drivers freeze directly attached drives at start; the USB bridge is not
// one of them, and the reason says so.
TEST(SecureEraseChecks, WindowsFrozeTheDirectlyAttachedDrive) {
    sim::SimBenchSpec setup = benchOf({makerSataDisk(1), usbBridgeDisk(2, "k403")}, true);
    setup.disks[0].path = "\\\\?\\scsi#disk&ven_quorvex&prod_qx-t74#4&1a2b&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    setup.disks[0].bus = sim::SimBus::Scsi;
    setup.securityFreezeAtStart = true;
    ProcedureBench b(setup);
    b.user.check(0);
    b.user.check(1);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    for (const auto& c : b.commands(kPrepare)) EXPECT_EQ(c.path, setup.disks[1].path);
    ASSERT_GE(b.user.log.size(), 3u);
    EXPECT_EQ(b.user.log[1],
              "Disk 1: Windows' storage driver froze the drive's security when it started (the drive "
              "itself is not at fault), so the erase is refused. Attach the drive through the maker's "
              "USB bridge, or erase it from another system, then try again.");
    EXPECT_EQ(b.user.reasons, (std::map<int, std::string>{{0, "frozen"}}));
    EXPECT_EQ(b.user.rows[0].status, "Fail");
    EXPECT_EQ(b.user.rows[1].status, "Pass");
    EXPECT_TRUE(b.drive(1).erased);
}

// A drive behind a bridge is frozen by its own start, not by the system's driver.
TEST(SecureEraseChecks, FrozenBehindTheBridge) {
    auto disk = usbBridgeDisk(1, "k403");
    disk.drive.securityFrozen = true;
    ProcedureBench b({disk});
    b.user.check(0);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(eraseCommands(b), 0u);
    EXPECT_EQ(b.user.reasons[0], "frozen");
    EXPECT_EQ(b.user.log.at(1),
              "Disk 1: the drive's security is frozen, so it refuses the erase. Disconnect the drive "
              "and connect it again, then try again.");
}

// ---------------------------------------------------------------------------------------
// The drive's own estimate sets the UNIT command's time-out.

TEST(SecureEraseTime, EstimateFromWord89) {
    std::array<uint8_t, 512> id{};
    const auto w89 = [&id](uint16_t v) {
        id[178] = static_cast<uint8_t>(v);
        id[179] = static_cast<uint8_t>(v >> 8);
        return NormalEraseEstimate(id.data());
    };
    EXPECT_EQ(w89(0).minutes, 0u);
    EXPECT_EQ(w89(2).minutes, 4u);
    EXPECT_EQ(w89(0x1202).minutes, 4u);  // bits 14:8 are not part of the normal format
    EXPECT_FALSE(w89(0xFE).atLeast);
    EXPECT_TRUE(w89(0xFF).atLeast);
    EXPECT_EQ(w89(0xFF).minutes, 508u);  // "more than 508 minutes"
    EXPECT_EQ(w89(0x8100).minutes, 512u);  // extended format
    EXPECT_TRUE(w89(0xFFFF).atLeast);
    EXPECT_EQ(w89(0xFFFF).minutes, 65532u);

    EXPECT_EQ(EraseUnitTimeoutSeconds({0, false}), 10u);
    EXPECT_EQ(EraseUnitTimeoutSeconds({4, false}), 480u);
    EXPECT_EQ(EraseUnitTimeoutSeconds({200, false}), 24000u);
    EXPECT_EQ(EraseUnitTimeoutSeconds({508, true}), 12u * 3600u);
    EXPECT_EQ(EraseUnitTimeoutSeconds({65534, true}), 12u * 3600u);
}

TEST(SecureEraseTime, AFourMinuteEraseIsGivenEightMinutes) {
    auto disk = makerSataDisk(1);
    disk.drive.eraseTimeWord = 2;     // 4 minutes
    disk.drive.eraseMs = 4 * 60000;   // and it takes them
    for (const bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "usb" : "sata");
        auto d = disk;
        if (usb) {
            d = usbBridgeDisk(1, "k403");
            d.drive.eraseTimeWord = 2;
            d.drive.eraseMs = 4 * 60000;
        }
        ProcedureBench b({d});
        b.user.check(0);
        b.user.textAnswers = {"QXMASTER"};
        SecureEraseBtnClick(b.state, b.user);
        const auto unit = b.commands(kUnit);
        ASSERT_EQ(unit.size(), 1u);
        EXPECT_GE(unit[0].timeout, 480u);
        EXPECT_EQ(b.commands(kPrepare).at(0).timeout, 10u);
        EXPECT_EQ(b.user.rows[0].status, "Pass");
        EXPECT_EQ(b.user.eraseEstimates, std::vector<uint32_t>{240});
        EXPECT_EQ(b.user.eraseUnitsEnded, 1);
        ASSERT_EQ(b.user.log.size(), 3u);
        EXPECT_EQ(b.user.log[1],
                  "Disk 1: the drive estimates the erase at 4 minutes; it is given up to 8 minutes.");
    }
}

TEST(SecureEraseTime, AnEraseBeyondItsTimeOutFails) {
    auto disk = makerSataDisk(1);
    disk.drive.eraseTimeWord = 2;
    disk.drive.eraseMs = 9 * 60000;  // longer than twice its own estimate
    ProcedureBench b({disk});
    b.user.check(0);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.rows[0].status, "Fail");
    // The system gave up after the time-out: the control call failed.
    EXPECT_NE(b.debugText().find("WriteATACommandWithTimeOutValue() fail"), std::string::npos);
    EXPECT_TRUE(b.drive(0).erased);  // while the drive went on
}

// ---------------------------------------------------------------------------------------
// Mounted and system disks (the bench stands for Windows: volumes are locked and dismounted).

TEST(SecureEraseVolumes, SystemDiskIsNeverErased) {
    auto disk = makerSataDisk(1);
    disk.volumes = {'C', 'D'};
    ProcedureBench b({disk});
    b.user.check(0);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(eraseCommands(b), 0u);
    EXPECT_EQ(b.user.reasons[0], "system-disk");
    EXPECT_EQ(b.user.log.at(1),
              "Disk 1: the disk of the running system is never erased: it holds C: with the running "
              "Windows.");
    for (const auto& c : b.bench().calls()) EXPECT_NE(c.control, kFsctlLockVolume);
}

TEST(SecureEraseVolumes, BusyVolumeRefusesAndIdleVolumesAreLockedForTheErase) {
    auto busy = makerSataDisk(1);
    busy.volumes = {'D', 'E'};
    busy.busyVolumes = {'E'};
    auto idle = makerSataDisk(2);
    idle.volumes = {'F'};
    ProcedureBench b({busy, idle});
    b.user.check(0);
    b.user.check(1);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.reasons, (std::map<int, std::string>{{0, "mounted"}}));
    EXPECT_EQ(b.user.log.at(1),
              "Disk 1: the disk is in use, so it is not erased: volume E: is in use and could not be "
              "locked; close what uses it.");
    EXPECT_FALSE(b.drive(0).erased);
    EXPECT_TRUE(b.drive(1).erased);
    // F: is locked and dismounted before the pair and released after it.
    const auto& calls = b.bench().calls();
    size_t lockF = 0, dismountF = 0, prepare = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].path == "\\\\.\\F:" && calls[i].control == kFsctlLockVolume) lockF = i + 1;
        if (calls[i].path == "\\\\.\\F:" && calls[i].control == kFsctlDismountVolume) dismountF = i + 1;
        if (calls[i].hasTaskFile && calls[i].taskFileIn[6] == kPrepare) prepare = i + 1;
    }
    EXPECT_GT(lockF, 0u);
    EXPECT_GT(dismountF, lockF);
    EXPECT_GT(prepare, dismountF);
    EXPECT_EQ(b.bench().openHandles(), 0);
}

TEST(SecureErase, WrongPasswordFailsTheUnitCommand) {
    ProcedureBench b({makerSataDisk(1)});
    b.user.check(0);
    b.user.textAnswers = {"qxmaster"};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.commands(kUnit).size(), 1u);
    EXPECT_EQ(b.user.rows[0].status, "Fail");
    EXPECT_FALSE(b.drive(0).erased);
}

TEST(SecureErase, PasswordLeavesNoTrace) {
    TempDir tmp;
    const std::string trace = tmp.file("trace.jsonl");
    const auto failing = test::withFault(makerSataDisk(1), "ata:f4", 0, sim::FaultKind::ControlFails);
    const auto bridge = test::withFault(usbBridgeDisk(2, "k403"), "scsi:a1", 2, sim::FaultKind::CheckCondition);
    ProcedureBench b({failing, bridge, makerSataDisk(3)});
    b.bench().setTracePath(trace);
    const std::string secret = "Sw0rdf1sh-QX";
    b.bench().setup().disks[2].drive.masterPassword = secret;
    for (int row = 0; row < 3; ++row) b.user.check(row);
    b.user.textAnswers = {secret};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.rows[0].status, "Fail");
    EXPECT_EQ(b.user.rows[1].status, "Fail");
    EXPECT_EQ(b.user.rows[2].status, "Pass");

    EXPECT_EQ(b.debugText().find(secret), std::string::npos);
    for (const auto& c : b.user.calls) {
        EXPECT_EQ(c.text.find(secret), std::string::npos) << c.what;
        EXPECT_EQ(c.caption.find(secret), std::string::npos) << c.what;
    }
    std::ifstream in(trace, std::ios::binary);
    const std::string traced((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(traced.empty());
    EXPECT_EQ(traced.find(secret), std::string::npos);
    const std::vector<uint8_t> block = unitBlock(secret);
    EXPECT_EQ(traced.find(sim::Sha256::hex(block.data(), block.size())), std::string::npos);
    b.bench().setTracePath("");
}

// The ATA path copies the erase block, password included, into its request buffer. That
// buffer is the transport's own for the life of the process (one address for every
// command), so it can be looked at once the erase is over: the password is there while the
// command is sent, and nowhere in it afterwards.
TEST(SecureErase, RequestBufferHoldsNoPasswordAfterTheErase) {
    const std::string secret = "Sw0rdf1sh-QX";
    auto disk = makerSataDisk(1);
    disk.drive.masterPassword = secret;
    ProcedureBench b({disk, test::withFault(makerSataDisk(2), "ata:f4", 0, sim::FaultKind::AtaError)});
    test::DeviceTap tap;
    b.user.check(0);
    b.user.check(1);
    b.user.textAnswers = {secret};
    SecureEraseBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.rows[0].status, "Pass");
    EXPECT_EQ(b.user.rows[1].status, "Fail");

    const uint8_t* request = nullptr;
    uint32_t largest = 0;
    int unitCommands = 0;
    for (const auto& c : tap.calls) {
        if (c.code != kIoctlAtaPassThrough) continue;
        if (request == nullptr) request = c.request;
        ASSERT_EQ(c.request, request) << "the ATA request buffer moved";
        largest = std::max(largest, c.requestLength);
        if (c.command == kUnit) {
            ++unitCommands;
            EXPECT_TRUE(contains(c.written.data(), c.written.size(), secret));
        }
    }
    ASSERT_EQ(unitCommands, 2);
    ASSERT_NE(request, nullptr);
    ASSERT_GE(largest, sizeof(AtaPassThroughEx) + 512u);
    EXPECT_FALSE(contains(request, largest, secret));
    EXPECT_TRUE(std::all_of(request, request + largest, [](uint8_t v) { return v == 0; }));
}

TEST(PasswordToAnsi, AsciiIsUnchanged) {
    EXPECT_EQ(PasswordToAnsi("QXMASTER 123 !~"), "QXMASTER 123 !~");
    EXPECT_EQ(PasswordToAnsi(""), "");
}

#if !defined(_WIN32)
TEST(PasswordToAnsi, WesternCharactersAndDefaultCharacter) {
    EXPECT_EQ(PasswordToAnsi("caf\xC3\xA9"), "caf\xE9");           // é
    EXPECT_EQ(PasswordToAnsi("\xE2\x82\xAC" "5"), "\x80" "5");      // €
    EXPECT_EQ(PasswordToAnsi("\xC5\xA0"), "\x8A");                  // Š
    EXPECT_EQ(PasswordToAnsi("\xE6\x97\xA5"), "?");                 // a CJK character
    EXPECT_EQ(PasswordToAnsi("\xF0\x9F\x94\x91x"), "?x");           // outside the BMP
    EXPECT_EQ(PasswordToAnsi("a\xFF" "b"), "a?b");                  // malformed byte
    EXPECT_EQ(PasswordToAnsi("a\xC3"), "a?");                       // truncated sequence
    EXPECT_EQ(PasswordToAnsi("\xC0\xAF"), "?");                     // overlong form
}
#endif

}  // namespace
}  // namespace qx
