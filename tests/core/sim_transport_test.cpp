// The bench driven through the utility's real transport (QXLib/Transport): the requests it
// builds are decoded as a drive expects them, failures come back as the transport's
// failure values, and time-outs are measured on the bench clock.
#include <gtest/gtest.h>

#include <cstring>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "platform/DeviceIoctl.h"
#include "support/SimFixture.h"

namespace qx {
namespace {

using sim::FaultKind;
using sim::SimFault;
using test::fault;

CommandBlock block(uint8_t protocol, uint8_t flags, std::array<uint8_t, 7> r) {
    return {0xA1, protocol, flags, r[0], r[1], r[2], r[3], r[4], r[5], r[6], 0, 0};
}

const CommandBlock kIdentify = block(0x08, 0x0B, {0, 1, 0, 0, 0, 0xE0, 0xEC});
const CommandBlock kVendorOn = block(0x06, 0x00, {0xDC, 0x51, 0, 0, 0, 0xE0, 0xEF});

CommandBlock download(uint16_t count, uint16_t offset) {
    return block(0x16, 0x03, {0x03, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                              static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8), 0xE0, 0x92});
}

class TransportOnBench : public ::testing::Test {
protected:
    static sim::SimBenchSpec setup() {
        sim::SimBenchSpec s;
        s.disks = {test::makerSataDisk(1), test::usbBridgeDisk(2, "k403")};
        return s;
    }
    TransportOnBench() : f(setup()) {
        ResetDeviceSlots();
        f.bindSlot(0, 0);
        f.bindSlot(1, 1);
    }
    bool logged(const std::string& line) const {
        for (const auto& l : f.bench.debugOutput()) {
            if (l == line) return true;
        }
        return false;
    }
    test::SimFixture f;
};

TEST_F(TransportOnBench, IdentifyOnBothPaths) {
    for (uint8_t slot : {uint8_t{0}, uint8_t{1}}) {
        uint8_t id[512] = {};
        EXPECT_EQ(ExecDeviceCommand(slot, 1, kIdentify, 12, id, 512), 1) << int(slot);
        EXPECT_EQ(sim::readAtaString(id + 20, 20), slot == 0 ? "QX74T0000001" : "QX74T0000002");
    }
    const auto& calls = f.bench.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, "ata");
    EXPECT_EQ(calls[0].ataFlags, 0x03);
    EXPECT_EQ(calls[0].timeout, 10u);
    EXPECT_EQ(calls[0].headerLength, sizeof(AtaPassThroughEx));
    EXPECT_EQ(calls[1].kind, "scsi");
    EXPECT_EQ(calls[1].targetId, 1);
    EXPECT_EQ(calls[1].cdbLength, 12);
    EXPECT_EQ(calls[1].timeout, 10u);
    EXPECT_EQ(calls[1].taskFileOut[6], 0x50);
}

TEST_F(TransportOnBench, VendorReadOfTheInformationRecordWithDma) {
    EXPECT_EQ(ExecDeviceCommand(0, 0, kVendorOn, 12, nullptr, 0), 1);
    EXPECT_TRUE(f.drive(0).vendorMode);
    uint8_t sector[512] = {0xFF, 0xE5, 0x86, 0x03};
    EXPECT_EQ(ExecDeviceCommand(0, 0, block(0x16, 0x03, {0, 1, 0xFF, 0x34, 0x12, 0xE0, 0x88}), 12, sector, 512), 1);
    std::vector<uint8_t> si(4096, 0);
    EXPECT_EQ(ExecDeviceCommand(0, 1, block(0x14, 0x0B, {0, 8, 0x86, 0x34, 0x12, 0xE0, 0x86}), 12, si.data(), 4096), 1);
    EXPECT_EQ(std::memcmp(si.data() + 0x300, "QXFWR_111007", 12), 0);
    const auto& calls = f.bench.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].ataFlags, 0x00);
    EXPECT_EQ(calls[0].length, 0u);
    EXPECT_EQ(calls[1].ataFlags, 0x15) << "0x88 write goes as DMA";
    EXPECT_FALSE(calls[1].dataSha256.empty());
    EXPECT_EQ(calls[2].ataFlags, 0x13) << "0x86 read goes as DMA";
}

TEST_F(TransportOnBench, TimeBudgetIsMeasuredOnTheBenchClock) {
    // Every command takes 1 ms; the hang adds to it.
    f.bench.setup().disks[0].faults = {fault("ata:ec", 1, FaultKind::Hang, 10900),
                                      fault("ata:ec", 2, FaultKind::Hang, 10999)};
    uint8_t id[512];
    EXPECT_EQ(ExecDeviceCommand(0, 1, kIdentify, 12, id, 512), 1) << "10.901 s";
    EXPECT_EQ(ExecDeviceCommand(0, 1, kIdentify, 12, id, 512), 0) << "11.000 s";
    EXPECT_TRUE(logged("Timeout = 11 sec\r\n"));
    EXPECT_EQ(f.drive(0).commandCount, 2u) << "the late command still completed";
}

TEST_F(TransportOnBench, DriveErrorsAndFailedCalls) {
    f.bench.setup().disks[0].faults = {fault("ata:ec", 1, FaultKind::AtaError),
                                      fault("ata:ec", 2, FaultKind::ControlFails)};
    IDEREGS tf;
    tf.bSectorCountReg = 1;
    tf.bDriveHeadReg = 0xE0;
    tf.bCommandReg = 0xEC;
    uint8_t id[512];
    EXPECT_EQ(ReadATACommandWithTimeOutValue(f.path(0), &tf, id, 512, 10), 0);
    EXPECT_EQ(tf.bCommandReg, 0x51);
    EXPECT_EQ(tf.bFeaturesReg, 0x04);
    EXPECT_EQ(ExecDeviceCommand(0, 1, kIdentify, 12, id, 512), -1) << "failed control call";
    EXPECT_TRUE(logged("ReadATACommandWithTimeOutValue() fail\r\n"));
    EXPECT_EQ(ExecDeviceCommand(0, 1, kIdentify, 12, id, 512), 1);
    // Through the bridge an ATA error is a CHECK CONDITION, which the transport fails.
    f.bench.setup().disks[1].faults = {fault("ata:ec", 1, FaultKind::AtaError)};
    EXPECT_EQ(ExecDeviceCommand(1, 1, kIdentify, 12, id, 512), -2);
    EXPECT_EQ(ExecDeviceCommand(1, 1, kIdentify, 12, id, 512), 1);
}

TEST_F(TransportOnBench, ExclusiveAtaPathCannotOpenAHeldDisk) {
    DeviceIo& io = *platform().devices;
    const DeviceHandle other = io.open(f.path(0), AccessRead | AccessWrite, ShareRead | ShareWrite);
    ASSERT_NE(other, kInvalidDevice);
    uint8_t id[512];
    EXPECT_EQ(ExecDeviceCommand(0, 1, kIdentify, 12, id, 512), -2);
    // The SMART request opens shared and gets through.
    IDEREGS tf;
    tf.bSectorCountReg = 1;
    tf.bCommandReg = 0xEC;
    EXPECT_EQ(SmartReceiveData(f.path(0), 3, tf, id), 0);
    io.close(other);
    EXPECT_EQ(ExecDeviceCommand(0, 1, kIdentify, 12, id, 512), 1);
    const auto& c = f.bench.calls().front();
    EXPECT_EQ(c.kind, "smart");
    EXPECT_EQ(c.taskFileIn[5], 0xB0) << "odd drive number";
    EXPECT_EQ(c.driveNumber, 3);
}

TEST_F(TransportOnBench, InquiryWhileTheBridgeIsClassified) {
    DeviceSlot[1].usbDirect = 1;
    const CommandBlock inquiry = {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0};
    uint8_t answer[40] = {};
    EXPECT_EQ(ExecDeviceCommand(1, 1, inquiry, 12, answer, 40), 1);
    EXPECT_EQ(std::memcmp(answer + 36, "k403", 4), 0);
    EXPECT_EQ(f.bench.calls().back().timeout, 300u);
}

TEST_F(TransportOnBench, FirmwareDownloadOnBothPaths) {
    for (uint8_t slot : {uint8_t{0}, uint8_t{1}}) {
        const sim::SimDriveSpec& drive = f.bench.setup().disks[slot].drive;
        auto image = test::makeImageFor(drive, 150016, "1.06",
                                        "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01");
        const uint16_t chunks[][2] = {{128, 0}, {128, 128}, {36, 256}, {1, 292}};
        for (const auto& c : chunks) {
            EXPECT_EQ(ExecDeviceCommand(slot, 0, download(c[0], c[1]), 12, image.data() + c[1] * 512, c[0] * 512), 1)
                << int(slot) << " at " << c[1];
        }
        EXPECT_TRUE(f.drive(slot).firmwareUpdated) << int(slot);
        uint8_t id[512];
        ASSERT_EQ(ExecDeviceCommand(slot, 1, kIdentify, 12, id, 512), 1);
        EXPECT_EQ(sim::readAtaString(id + 46, 8), "1.06");
    }
    // A zero-count command is refused on either path.
    EXPECT_NE(ExecDeviceCommand(0, 0, download(0, 0), 12, nullptr, 0), 1);
    EXPECT_NE(ExecDeviceCommand(1, 0, download(0, 0), 12, nullptr, 0), 1);
}

TEST_F(TransportOnBench, SecureEraseOnBothPaths) {
    for (uint8_t slot : {uint8_t{0}, uint8_t{1}}) {
        std::vector<uint8_t> unit(512, 0);
        unit[0] = 1;
        std::memset(unit.data() + 2, ' ', 32);
        std::memcpy(unit.data() + 2, "QXMASTER", 8);
        EXPECT_EQ(ExecDeviceCommand(slot, 0, block(0x06, 0x00, {0, 0, 0, 0, 0, 0xE0, 0xF3}), 12, nullptr, 0), 1);
        EXPECT_EQ(ExecDeviceCommand(slot, 0, block(0x0A, 0x03, {0, 1, 0, 0, 0, 0xE0, 0xF4}), 12, unit.data(), 512), 1);
        EXPECT_EQ(f.drive(slot).eraseCount, 1) << int(slot);
        unit[2] = 'X';
        EXPECT_EQ(ExecDeviceCommand(slot, 0, block(0x06, 0x00, {0, 0, 0, 0, 0, 0xE0, 0xF3}), 12, nullptr, 0), 1);
        EXPECT_NE(ExecDeviceCommand(slot, 0, block(0x0A, 0x03, {0, 1, 0, 0, 0, 0xE0, 0xF4}), 12, unit.data(), 512), 1);
        EXPECT_EQ(f.drive(slot).eraseCount, 1);
    }
}

TEST_F(TransportOnBench, EmptySlotOpensNothing) {
    uint8_t id[512];
    EXPECT_EQ(ExecDeviceCommand(5, 1, kIdentify, 12, id, 512), -1);
    DeviceSlot[5].ata = 1;
    EXPECT_EQ(ExecDeviceCommand(5, 1, kIdentify, 12, id, 512), -1);
    EXPECT_EQ(f.bench.openCount(0) + f.bench.openCount(1), 0);
    EXPECT_TRUE(f.bench.calls().empty());
    DeviceSlot[5] = DeviceSlotRecord{};
}

}  // namespace
}  // namespace qx
