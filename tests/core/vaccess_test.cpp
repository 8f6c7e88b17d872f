// The vendor command channel on the simulated bench: the SATA framing blocks in both
// transfer modes, the command sector and its data phase, vendor mode on/off, the
// vendor-mode probe with its rounds and waits, the standard IDENTIFY and INQUIRY blocks,
// and the drive-size query.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/Scan.h"
#include "platform/DeviceIoctl.h"
#include "platform/sim/Sha256.h"
#include "platform/sim/SimDrive.h"
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

// Restores the process-wide transfer mode and slots around each test.
class VendorChannel : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDeviceSlots();
        VendorXferMode = 2;
    }
    void TearDown() override {
        ResetDeviceSlots();
        VendorXferMode = 2;
    }
};

std::array<uint8_t, 12> cdb12(const SimCall& c) {
    std::array<uint8_t, 12> b{};
    std::copy_n(c.cdb.begin(), 12, b.begin());
    return b;
}

int countCommand(const std::vector<SimCall>& calls, uint8_t command, int features = -1) {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const SimCall& c) {
        return c.hasTaskFile && c.taskFileIn[6] == command &&
               (features < 0 || c.taskFileIn[0] == features);
    }));
}

bool logged(const test::SimFixture& f, const std::string& line) {
    const auto& out = f.bench.debugOutput();
    return std::find(out.begin(), out.end(), line) != out.end();
}

std::string sectorDigest(std::initializer_list<uint8_t> head) {
    std::array<uint8_t, 512> sector{};
    std::copy(head.begin(), head.end(), sector.begin());
    return sim::Sha256::hex(sector.data(), sector.size());
}

// ------------------------------------------------------------------ SATA framing
TEST_F(VendorChannel, FramingInMode2UsesDmaOpcodesAndProtocols) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k403")}));
    f.bindSlot(0, 0);  // SCSI path: the whole block travels as the CDB
    ASSERT_TRUE(VA_EnableVendorCmd(0, true));
    VendorXferMode = 2;

    std::array<uint8_t, 512> sector{0xFF, 0xE5, 0x86, 3};
    EXPECT_EQ(VC_SATA_WriteCmd(0, sector.data(), 1, 0xFF), 1);
    EXPECT_EQ(cdb12(f.bench.calls().back()),
              (std::array<uint8_t, 12>{0xA1, 0x16, 0x03, 0, 1, 0xFF, 0x34, 0x12, 0xE0, 0x88, 0, 0}));
    EXPECT_EQ(f.bench.calls().back().length, 512u);

    std::array<uint8_t, 512> answer{};
    EXPECT_EQ(VC_SATA_ReadCmd(0, answer.data(), 1, 0xFF), 1);
    EXPECT_EQ(cdb12(f.bench.calls().back()),
              (std::array<uint8_t, 12>{0xA1, 0x14, 0x0B, 0, 1, 0xFF, 0x34, 0x12, 0xE0, 0x86, 0, 0}));
    EXPECT_TRUE(std::equal(VendorAnswer.begin(), VendorAnswer.end(), answer.begin()));
}

TEST_F(VendorChannel, FramingInMode1UsesPioOpcodesAndProtocols) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k401")}));
    f.bindSlot(0, 0);
    ASSERT_TRUE(VA_EnableVendorCmd(0, true));
    VendorXferMode = 1;

    std::array<uint8_t, 512> sector{0xFF, 0xE5, 0x86, 3};
    EXPECT_EQ(VC_SATA_WriteCmd(0, sector.data(), 1, 0xFF), 1);
    EXPECT_EQ(cdb12(f.bench.calls().back()),
              (std::array<uint8_t, 12>{0xA1, 0x0A, 0x03, 0, 1, 0xFF, 0x34, 0x12, 0xE0, 0x8F, 0, 0}));

    std::array<uint8_t, 4096> data{};
    EXPECT_EQ(VC_SATA_ReadCmd(0, data.data(), 8, 0x86), 1);
    EXPECT_EQ(cdb12(f.bench.calls().back()),
              (std::array<uint8_t, 12>{0xA1, 0x08, 0x0B, 0, 8, 0x86, 0x34, 0x12, 0xE0, 0x8A, 0, 0}));
    EXPECT_EQ(f.bench.calls().back().length, 4096u);
}

TEST_F(VendorChannel, AtaPathSendsTheTaskFileAndDmaOnlyInMode2) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    ASSERT_EQ(DeviceSlot[0].ata, 1);
    ASSERT_TRUE(VA_EnableVendorCmd(0, true));
    std::array<uint8_t, 512> answer{};

    VendorXferMode = 2;
    EXPECT_EQ(VC_SATA_ReadCmd(0, answer.data(), 1, 0xFF), 1);
    const SimCall dma = f.bench.calls().back();
    EXPECT_EQ(dma.taskFileIn, (std::array<uint8_t, 8>{0, 1, 0xFF, 0x34, 0x12, 0xE0, 0x86, 0}));
    EXPECT_NE(dma.ataFlags & kAtaFlagsUseDma, 0);

    VendorXferMode = 1;
    EXPECT_EQ(VC_SATA_ReadCmd(0, answer.data(), 1, 0xFF), 1);
    const SimCall pio = f.bench.calls().back();
    EXPECT_EQ(pio.taskFileIn[6], 0x8A);
    EXPECT_EQ(pio.ataFlags & kAtaFlagsUseDma, 0);
}

TEST_F(VendorChannel, FailedPhasesLogTheirNameAndReport2) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("vendor-write", 0, FaultKind::AtaError), fault("vendor-read", 0, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    std::array<uint8_t, 512> buf{};
    EXPECT_EQ(VC_SATA_WriteCmd(0, buf.data(), 1, 0xFF), 2);
    EXPECT_TRUE(logged(f, "FAILED(VC_SATA_WriteCmd)\r\n"));
    EXPECT_EQ(VC_SATA_ReadCmd(0, buf.data(), 1, 0xFF), 2);
    EXPECT_TRUE(logged(f, "FAILED(VC_SATA_ReadCmd)\r\n"));
}

// ------------------------------------------------------------------ vendor commands
TEST_F(VendorChannel, CommandWithoutDataWritesOnlyTheCommandSector) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    f.bench.clearCalls();

    const VendorCmdBlock block{0xFF, 0xE5, 0x42, 1, 2, 3};
    EXPECT_TRUE(VC_ExecVendorCmd(0, true, block, nullptr, 0));
    ASSERT_EQ(f.bench.calls().size(), 1u);
    const SimCall& c = f.bench.calls()[0];
    EXPECT_EQ(c.taskFileIn, (std::array<uint8_t, 8>{0, 1, 0xFF, 0x34, 0x12, 0xE0, 0x88, 0}));
    EXPECT_EQ(c.direction, "out");
    EXPECT_EQ(c.dataSha256, sectorDigest({0xFF, 0xE5, 0x42, 1, 2, 3}));
}

TEST_F(VendorChannel, CommandWithoutDataReportsTheWriteResult) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("vendor-write", 1, FaultKind::AtaError)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    f.bench.clearCalls();
    const VendorCmdBlock block{0xFF, 0xE5, 0x42};
    EXPECT_FALSE(VC_ExecVendorCmd(0, true, block, nullptr, 0));
    EXPECT_EQ(f.bench.calls().size(), 1u);
    EXPECT_TRUE(VC_ExecVendorCmd(0, true, block, nullptr, 0));
}

TEST_F(VendorChannel, ReadCodeFromMemPutsSpaceAndAddressBigEndian) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    f.bench.clearCalls();

    std::vector<uint8_t> data(8 * 512, 0xAA);
    EXPECT_EQ(VA_ReadCodeFromMem(0, 3, 1000000, data.data(), 8), 1);
    ASSERT_EQ(f.bench.calls().size(), 2u);
    EXPECT_EQ(f.bench.calls()[0].dataSha256,
              sectorDigest({0xFF, 0xE5, 0x86, 0x03, 0x00, 0x0F, 0x42, 0x40}));
    const SimCall& read = f.bench.calls()[1];
    EXPECT_EQ(read.taskFileIn, (std::array<uint8_t, 8>{0, 8, 0x86, 0x34, 0x12, 0xE0, 0x86, 0}));
    EXPECT_EQ(read.length, 4096u);
}

TEST_F(VendorChannel, ReadCodeFromMemReturnsTheSystemInformation) {
    SimBenchSpec s = benchOf({test::makerSataDisk(1)});
    test::SimFixture f(s);
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    std::vector<uint8_t> data(4096, 0);
    ASSERT_EQ(VA_ReadCodeFromMem(0, 3, 0, data.data(), 8), 1);
    const auto expected = sim::SimDrive(f.bench.setup().disks[0].drive).systemInfo();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.begin()));
}

TEST_F(VendorChannel, SysReadPageBlockLayout) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    f.bench.clearCalls();
    std::vector<uint8_t> data(512);
    EXPECT_EQ(VA_SysReadPage(0, 1, 0x1234, 0x5678, 2, 3, data.data(), 1, 0x0A0B0C0D), 1);
    ASSERT_EQ(f.bench.calls().size(), 2u);
    EXPECT_EQ(f.bench.calls()[0].dataSha256,
              sectorDigest({0xFF, 0xE5, 0x04, 0xFF, 1, 0x12, 0x34, 0x56, 0x78, 2, 3, 0, 0x0A,
                            0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(f.bench.calls()[1].taskFileIn[2], 0x04);
    EXPECT_EQ(f.bench.calls()[1].taskFileIn[1], 1);
}

TEST_F(VendorChannel, FailedCommandSectorSendsNoDataPhase) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("vendor-write", 1, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    f.bench.clearCalls();
    std::vector<uint8_t> data(4096);
    EXPECT_EQ(VA_ReadCodeFromMem(0, 3, 0, data.data(), 8), 2);
    EXPECT_EQ(f.bench.calls().size(), 1u);
}

TEST_F(VendorChannel, FailedDataPhaseFailsTheCommand) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("vendor:86", 1, FaultKind::AtaError)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    std::vector<uint8_t> data(4096);
    EXPECT_EQ(VA_ReadCodeFromMem(0, 3, 0, data.data(), 8), 2);
    EXPECT_TRUE(logged(f, "FAILED(VC_SATA_ReadCmd)\r\n"));
}

TEST_F(VendorChannel, OversizedOrBufferlessDataPhaseIsNotAnnounced) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    VA_EnableVendorCmd(0, true);
    f.bench.clearCalls();
    std::vector<uint8_t> data(129 * 512);
    EXPECT_EQ(VA_ReadCodeFromMem(0, 3, 0, data.data(), 129), 2);
    EXPECT_EQ(VA_ReadCodeFromMem(0, 3, 0, nullptr, 8), 2);
    EXPECT_TRUE(f.bench.calls().empty());
    // 128 sectors is the largest transfer and goes through.
    EXPECT_EQ(VA_ReadCodeFromMem(0, 3, 0, data.data(), 128), 1);
    EXPECT_EQ(f.bench.calls().back().length, 65536u);
}

// ------------------------------------------------------------------ vendor mode
TEST_F(VendorChannel, EnableVendorCmdSendsSetFeaturesDc) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    EXPECT_TRUE(VA_EnableVendorCmd(0, true));
    EXPECT_EQ(f.bench.calls().back().taskFileIn,
              (std::array<uint8_t, 8>{0xDC, 0x51, 0, 0, 0, 0xE0, 0xEF, 0}));
    EXPECT_EQ(f.bench.calls().back().direction, "none");
    EXPECT_TRUE(f.drive(0).vendorMode);
    EXPECT_TRUE(VA_EnableVendorCmd(0, false));
    EXPECT_EQ(f.bench.calls().back().taskFileIn[1], 0x58);
    EXPECT_FALSE(f.drive(0).vendorMode);
}

TEST_F(VendorChannel, EnableVendorCmdReportsFailure) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("ata:ef/dc", 0, FaultKind::AtaError)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    EXPECT_FALSE(VA_EnableVendorCmd(0, true));
    // An empty slot reaches no device at all.
    EXPECT_FALSE(VA_EnableVendorCmd(5, true));
}

TEST_F(VendorChannel, ProbeAcceptsTheMakerControllerInOneRound) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    const uint64_t start = f.clock().now();
    EXPECT_TRUE(VA_CheckVendorMode(0));
    EXPECT_EQ(f.bench.calls().size(), 3u);  // IDENTIFY, SET FEATURES, answer sector
    EXPECT_EQ(countCommand(f.bench.calls(), 0xEC), 1);
    EXPECT_EQ(countCommand(f.bench.calls(), 0xEF, 0xDC), 1);
    EXPECT_EQ(countCommand(f.bench.calls(), 0x86), 1);
    EXPECT_TRUE(f.drive(0).vendorMode);  // left on
    EXPECT_EQ(f.clock().now() - start, 3u);  // no waits, 1 ms per command
}

TEST_F(VendorChannel, ProbeComparesOnlyTheLowByteOfTheRotationRate) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.drive.rotationRate = 0x0101;
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    EXPECT_TRUE(VA_CheckVendorMode(0));
}

TEST_F(VendorChannel, ProbeStopsAtARotatingOrUnknownRateWithoutSetFeatures) {
    for (uint16_t rate : {uint16_t{0}, uint16_t{7200}, uint16_t{0x0100}}) {
        sim::SimDiskSpec d = test::makerSataDisk(1);
        d.drive.rotationRate = rate;
        test::SimFixture f(benchOf({d}));
        f.bindSlot(0, 0);
        EXPECT_FALSE(VA_CheckVendorMode(0)) << rate;
        EXPECT_EQ(f.bench.calls().size(), 1u) << rate;
        EXPECT_EQ(countCommand(f.bench.calls(), 0xEF), 0) << rate;
    }
}

TEST_F(VendorChannel, ProbeTreatsAFailedIdentifyAsRotating) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("ata:ec", 0, FaultKind::AtaError)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    EXPECT_FALSE(VA_CheckVendorMode(0));
    EXPECT_EQ(countCommand(f.bench.calls(), 0xEF), 0);
}

TEST_F(VendorChannel, ProbeAsksAWrongAnswerSixTimesWith200MsWaits) {
    // The foreign controller answers 0xE5 "QX" 0x01.
    test::SimFixture f(benchOf({test::foreignSsdDisk(1)}));
    f.bindSlot(0, 0);
    const uint64_t start = f.clock().now();
    EXPECT_FALSE(VA_CheckVendorMode(0));
    EXPECT_EQ(countCommand(f.bench.calls(), 0xEF, 0xDC), 6);
    EXPECT_EQ(countCommand(f.bench.calls(), 0x86), 6);
    EXPECT_EQ(f.bench.calls().size(), 13u);
    EXPECT_EQ(f.clock().now() - start, 6u * 200u + 13u);
}

TEST_F(VendorChannel, ProbeGivesUpAfterTwoFailedReads) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("vendor-read", 0, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    const uint64_t start = f.clock().now();
    EXPECT_FALSE(VA_CheckVendorMode(0));
    EXPECT_EQ(countCommand(f.bench.calls(), 0xEF, 0xDC), 2);
    EXPECT_EQ(f.clock().now() - start, 2u * 200u + 5u);  // two waits, five commands
}

TEST_F(VendorChannel, ProbeStopsWhenAReadFailsAfterWrongAnswers) {
    sim::SimDiskSpec d = test::foreignSsdDisk(1);
    d.faults = {fault("vendor-read", 4, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    EXPECT_FALSE(VA_CheckVendorMode(0));
    EXPECT_EQ(countCommand(f.bench.calls(), 0xEF, 0xDC), 4);
}

TEST_F(VendorChannel, ProbeSucceedsInTheRoundAfterAFailedRead) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("vendor-read", 1, FaultKind::AtaError)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    EXPECT_TRUE(VA_CheckVendorMode(0));
    EXPECT_EQ(countCommand(f.bench.calls(), 0xEF, 0xDC), 2);
}

// ------------------------------------------------------------------ standard commands
TEST_F(VendorChannel, IdentifyBlockCarriesTheCountLittleEndian) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k403")}));
    f.bindSlot(0, 0);
    std::vector<uint8_t> buf(128 * 512);
    EXPECT_EQ(VC_IdentifyDevice(0, buf.data(), 1), 1);
    EXPECT_EQ(cdb12(f.bench.calls().back()),
              (std::array<uint8_t, 12>{0xA1, 0x08, 0x0B, 0, 1, 0, 0, 0, 0xE0, 0xEC, 0, 0}));
    EXPECT_EQ(f.bench.calls().back().length, 512u);
    EXPECT_EQ(sim::readAtaString(buf.data() + 54, 40), "Quorvex QX-T74 256GB");

    VC_IdentifyDevice(0, buf.data(), 128);
    EXPECT_EQ(cdb12(f.bench.calls().back())[4], 0x80);
    EXPECT_EQ(f.bench.calls().back().length, 65536u);
}

TEST_F(VendorChannel, IdentifyRefusesWhatTheTransportCannotCarry) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    f.bindSlot(0, 0);
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(VC_IdentifyDevice(0, buf.data(), 129), 2);
    EXPECT_EQ(VC_IdentifyDevice(0, buf.data(), 0x10001), 2);
    EXPECT_EQ(VC_IdentifyDevice(0, buf.data(), 0), 2);
    EXPECT_EQ(VC_IdentifyDevice(0, nullptr, 1), 2);
    EXPECT_TRUE(f.bench.calls().empty());
}

TEST_F(VendorChannel, InquiryAsksFor40Bytes) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k403")}));
    f.bindSlot(0, 0);
    DeviceSlot[0].usbDirect = 1;
    std::array<uint8_t, 40> inq{};
    EXPECT_EQ(VC_Inquiry(0, inq.data()), 1);
    const SimCall& c = f.bench.calls().back();
    EXPECT_EQ(cdb12(c), (std::array<uint8_t, 12>{0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.length, 40u);
    EXPECT_EQ(c.direction, "in");
    EXPECT_EQ(c.timeout, 300u);  // the USB-direct read time-out
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(inq.data() + 36), 4), "k403");
}

// A device that answers INQUIRY with fewer than the 40 bytes asked for: the command fails,
// and the code bytes are never taken from what the buffer held before.
TEST_F(VendorChannel, ShortInquiryFails) {
    sim::SimDiskSpec d = test::usbBridgeDisk(1, "k403");
    d.inquiryLength = 36;
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    std::array<uint8_t, 40> inq;
    inq.fill(0xAA);
    EXPECT_EQ(VC_Inquiry(0, inq.data()), 2);
    EXPECT_EQ(ClassifyBridge(0), 0);
    EXPECT_EQ(inq[8], 'Q');  // the answer itself arrived
    EXPECT_EQ((std::array<uint8_t, 4>{inq[36], inq[37], inq[38], inq[39]}),
              (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

// ------------------------------------------------------------------ drive size
struct SizeCase {
    uint32_t sectors28;
    uint64_t sectors48;
    uint64_t expected;
};

TEST_F(VendorChannel, SectorCountFromWords60And100) {
    const SizeCase cases[] = {
        {250069680, 250069680, 250069680},          // 28-bit count given
        {0x0FFFFFFE, 0x200000000ull, 0x0FFFFFFE},   // anything but the saturated value wins
        {0, 5860533168ull, 0},                      // as the drive says
        {0x0FFFFFFF, 500118192, 500118192},         // saturated: 48-bit count
        {0x0FFFFFFF, 5860533168ull, 5860533168ull},  // above 2 TiB: all 48 bits
        {0x0FFFFFFF, 0xFFFFFFFFull, 0xFFFFFFFFull}, // words 100-101 all ones, 102-103 zero
        {0x0FFFFFFF, 0xFFFFFFFFFFFFull, 0},         // both saturated
        {0x0FFFFFFF, 0, 0},                         // no 48-bit count
        {0xFFFFFFFF, 500118192, 0},                 // not a 28-bit count at all
    };
    for (const SizeCase& c : cases) {
        sim::SimDiskSpec d = test::makerSataDisk(1);
        d.drive.sectors28 = c.sectors28;
        d.drive.sectors48 = c.sectors48;
        test::SimFixture f(benchOf({d}));
        f.bindSlot(0, 0);
        EXPECT_EQ(GetDriveSectorCount(0), c.expected) << c.sectors28 << " " << c.sectors48;
        EXPECT_EQ(GetDriveCapacityMB(0), c.expected >> 11);
    }
}

TEST_F(VendorChannel, SectorCountOfAFailedIdentifyIsZero) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("ata:ec", 0, FaultKind::AtaError)};
    test::SimFixture f(benchOf({d}));
    f.bindSlot(0, 0);
    EXPECT_EQ(GetDriveSectorCount(0), 0u);
    EXPECT_EQ(GetDriveCapacityMB(0), 0u);
}

TEST_F(VendorChannel, CapacityInGigabytesOfCommonSizes) {
    for (auto [sectors, gb] : {std::pair<uint64_t, uint64_t>{250069680, 119},
                               std::pair<uint64_t, uint64_t>{500118192, 238},
                               std::pair<uint64_t, uint64_t>{5860533168ull, 2794}}) {
        sim::SimDiskSpec d = test::makerSataDisk(1);
        d.drive.sectors28 = sectors > 0x0FFFFFFF ? 0x0FFFFFFF : static_cast<uint32_t>(sectors);
        d.drive.sectors48 = sectors;
        test::SimFixture f(benchOf({d}));
        f.bindSlot(0, 0);
        EXPECT_EQ(GetDriveCapacityMB(0) >> 10, gb) << sectors;
    }
}

}  // namespace
}  // namespace qx
