// The transports seen from the device: every request field, control-call length, open mode
// and handle close is checked on a recording DeviceIo; time runs on a virtual clock.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "platform/DeviceIoctl.h"
#include "support/FakeDevices.h"
#include "support/TempDir.h"

namespace qx {
namespace {

using test::FakeAnswer;
using test::FakePlatform;

constexpr const char* kPath = "\\\\?\\ide#disk0";
constexpr const char* kUsbPath = "\\\\?\\usbstor#disk&ven_quorvex";
constexpr uint32_t kHeader = sizeof(AtaPassThroughEx);

FakeAnswer checkCondition(std::vector<uint8_t> sense) {
    FakeAnswer a;
    a.scsiStatus = kScsiStatusCheckCondition;
    a.sense = std::move(sense);
    return a;
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override { ResetDeviceSlots(); }
    void TearDown() override {
        // Every handle that was opened has been closed again.
        int opened = 0;
        for (const auto& o : p.devices.opens) opened += o.succeeded ? 1 : 0;
        EXPECT_EQ(p.devices.closes, opened);
        EXPECT_EQ(p.devices.openHandles(), 0);
        ResetDeviceSlots();
    }

    static IDEREGS taskFile(uint8_t command) {
        IDEREGS tf;
        tf.bFeaturesReg = 0x11;
        tf.bSectorCountReg = 0x22;
        tf.bSectorNumberReg = 0x33;
        tf.bCylLowReg = 0x44;
        tf.bCylHighReg = 0x55;
        tf.bDriveHeadReg = 0xE0;
        tf.bCommandReg = command;
        return tf;
    }

    static CommandBlock ataBlock(uint8_t command) {
        return {0xA1, 0x08, 0x0E, 0x01, 0x02, 0x03, 0x04, 0x05, 0xA0, command, 0x77, 0x66};
    }

    FakePlatform p;
};

// ---------------------------------------------------------------------------------------
// ATA pass-through

TEST_F(TransportTest, AtaCommandWithoutData) {
    IDEREGS tf = taskFile(0xEF);
    EXPECT_EQ(WriteATACommandWithTimeOutValue(kPath, &tf, nullptr, 0, 7), 1);

    ASSERT_EQ(p.devices.opens.size(), 1u);
    EXPECT_EQ(p.devices.opens[0].path, kPath);
    EXPECT_EQ(p.devices.opens[0].access, AccessRead | AccessWrite);
    EXPECT_EQ(p.devices.opens[0].share, ShareNone);
    ASSERT_EQ(p.devices.calls.size(), 1u);
    const auto& c = p.devices.calls[0];
    EXPECT_EQ(c.code, kIoctlAtaPassThrough);
    EXPECT_EQ(c.inLen, kHeader);
    EXPECT_EQ(c.outLen, kHeader);
    EXPECT_TRUE(c.inIsOut);
    const AtaPassThroughEx h = c.ata();
    EXPECT_EQ(h.Length, kHeader);
    EXPECT_EQ(h.AtaFlags, 0);
    EXPECT_EQ(h.PathId, 0);
    EXPECT_EQ(h.TargetId, 0);
    EXPECT_EQ(h.Lun, 0);
    EXPECT_EQ(h.ReservedAsUchar, 0);
    EXPECT_EQ(h.DataTransferLength, 0u);
    EXPECT_EQ(h.TimeOutValue, 7u);
    EXPECT_EQ(h.ReservedAsUlong, 0u);
    EXPECT_EQ(h.DataBufferOffset, kHeader);
    const uint8_t zero[8] = {};
    EXPECT_EQ(std::memcmp(h.PreviousTaskFile, zero, 8), 0);
    const uint8_t sent[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0xE0, 0xEF, 0x00};
    EXPECT_EQ(std::memcmp(h.CurrentTaskFile, sent, 8), 0);
}

TEST_F(TransportTest, AtaReadCopiesDataAndRegistersBack) {
    FakeAnswer a;
    a.taskFile = std::array<uint8_t, 8>{0x00, 0x01, 0x02, 0x03, 0x04, 0xA0, 0x50, 0x00};
    for (int i = 0; i < 512; ++i) a.data.push_back(static_cast<uint8_t>(i * 7));
    p.devices.script(a);
    IDEREGS tf = taskFile(0xEC);
    std::vector<uint8_t> buf(512, 0xCC);
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), 512, 10), 1);
    EXPECT_EQ(buf, a.data);
    EXPECT_EQ(tf.bSectorCountReg, 0x01);
    EXPECT_EQ(tf.bCylHighReg, 0x04);
    EXPECT_EQ(tf.bDriveHeadReg, 0xA0);
    EXPECT_EQ(tf.bCommandReg, 0x50);

    const auto& c = p.devices.calls.at(0);
    EXPECT_EQ(c.inLen, kHeader + 512);
    EXPECT_EQ(c.outLen, kHeader + 512);
    EXPECT_EQ(c.ata().AtaFlags, 0x03);
    EXPECT_EQ(c.ata().DataTransferLength, 512u);
    // The data area goes out zeroed.
    EXPECT_EQ(c.ataData(), std::vector<uint8_t>(512, 0));
}

TEST_F(TransportTest, AtaWriteCarriesTheData) {
    std::vector<uint8_t> data(1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ 0x5A);
    IDEREGS tf = taskFile(0x92);
    EXPECT_EQ(WriteATACommandWithTimeOutValue(kPath, &tf, data.data(), 1024, 10), 1);
    const auto& c = p.devices.calls.at(0);
    EXPECT_EQ(c.ata().AtaFlags, 0x05);
    EXPECT_EQ(c.ata().DataTransferLength, 1024u);
    EXPECT_EQ(c.ataData(), data);
}

TEST_F(TransportTest, AtaDmaFlagOnlyForTheVendorDmaCommands) {
    struct Case {
        bool read;
        uint8_t command;
        uint16_t flags;
    };
    const Case cases[] = {
        {true, 0x86, 0x13}, {false, 0x86, 0x05}, {false, 0x88, 0x15},
        {true, 0x88, 0x03}, {true, 0x8A, 0x03},  {false, 0x8F, 0x05},
    };
    std::vector<uint8_t> buf(512);
    for (const Case& k : cases) {
        IDEREGS tf = taskFile(k.command);
        const int r = k.read ? ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), 512, 10)
                             : WriteATACommandWithTimeOutValue(kPath, &tf, buf.data(), 512, 10);
        EXPECT_EQ(r, 1);
        EXPECT_EQ(p.devices.calls.back().ata().AtaFlags, k.flags)
            << (k.read ? "read " : "write ") << int{k.command};
    }
    // Without data no flag at all, DMA command or not.
    IDEREGS tf = taskFile(0x86);
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), 0, 10), 1);
    EXPECT_EQ(p.devices.calls.back().ata().AtaFlags, 0);
}

TEST_F(TransportTest, AtaLengthBounds) {
    std::vector<uint8_t> buf(kMaxTransferLength + 1);
    for (int32_t bad : {-1, kMaxTransferLength + 1, INT32_MIN}) {
        IDEREGS tf = taskFile(0xEC);
        EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), bad, 10), -1) << bad;
        EXPECT_EQ(WriteATACommandWithTimeOutValue(kPath, &tf, buf.data(), bad, 10), -1) << bad;
    }
    EXPECT_TRUE(p.devices.calls.empty());
    EXPECT_TRUE(p.kernel.output.empty());

    IDEREGS tf = taskFile(0xEC);
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), kMaxTransferLength, 10), 1);
    ASSERT_EQ(p.devices.calls.size(), 1u);
    EXPECT_EQ(p.devices.calls[0].inLen, kHeader + 65536u);
    EXPECT_EQ(p.devices.calls[0].ata().DataTransferLength, 65536u);
}

TEST_F(TransportTest, AtaOpenFailureIsZeroWithoutCall) {
    p.devices.defaultAnswer.openFails = true;
    IDEREGS tf = taskFile(0xEC);
    uint8_t buf[512];
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), 0);
    EXPECT_EQ(WriteATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), 0);
    EXPECT_TRUE(p.devices.calls.empty());
    // The failed open is logged with the system's error: number and text.
    const std::string line = std::string("CreateFile on ") + kPath +
                             " failed: error 2, The system cannot find the file specified.\r\n";
    EXPECT_EQ(p.kernel.output, (std::vector<std::string>{line, line}));
}

TEST_F(TransportTest, AtaFailedControlCallIsLogged) {
    p.devices.defaultAnswer.callFails = true;
    IDEREGS tf = taskFile(0xEC);
    uint8_t buf[512];
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), -1);
    EXPECT_EQ(WriteATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), -1);
    const std::string detail = std::string("IOCTL_ATA_PASS_THROUGH on ") + kPath +
                               " failed: error 31, A device attached to the system is not functioning.\r\n";
    EXPECT_EQ(p.kernel.output, (std::vector<std::string>{"ReadATACommandWithTimeOutValue() fail\r\n", detail,
                                                         "WriteATACommandWithTimeOutValue() fail\r\n", detail}));
    // The caller's task file is left as it was.
    EXPECT_EQ(tf.bCommandReg, 0xEC);
}

TEST_F(TransportTest, AtaErrorStatusHandsBackTheRegisters) {
    FakeAnswer a;
    a.status = 0x51;
    a.error = 0x04;
    p.devices.script(a);
    p.devices.script(a);
    IDEREGS tf = taskFile(0xEC);
    uint8_t buf[512];
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), 0);
    EXPECT_EQ(tf.bCommandReg, 0x51);
    EXPECT_EQ(tf.bFeaturesReg, 0x04);
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 512, 10), -2);
    // The drive's verdict is in the diagnostic log with the command and both registers.
    const std::string line = "ReadATACommandWithTimeOutValue(): command ECh ended with status 51h, error 04h\r\n";
    EXPECT_EQ(p.kernel.output, (std::vector<std::string>{line, line}));
}

// Another program holding the disk for a moment (a SMART monitor, a virus scanner) makes the
// exclusive open fail with a sharing violation: the ATA path tries again, 100 ms apart on the
// clock, at most ten times, and logs every try.
TEST_F(TransportTest, AtaOpenRetriesAMomentarySharingViolation) {
    FakeAnswer held;
    held.openFails = true;
    held.openError = 32;  // ERROR_SHARING_VIOLATION
    p.devices.script(held);
    p.devices.script(held);
    const uint64_t start = p.clock.now();
    IDEREGS tf = taskFile(0xEC);
    uint8_t buf[512];
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), 1);
    EXPECT_EQ(p.devices.opens.size(), 3u);
    EXPECT_EQ(p.devices.calls.size(), 1u);
    EXPECT_EQ(p.clock.now() - start, 200u);
    const std::string text = "The process cannot access the file because it is being used by another process.";
    EXPECT_EQ(p.kernel.output,
              (std::vector<std::string>{
                  std::string("ReadATACommandWithTimeOutValue(): ") + kPath + " is held by another program (error 32, " +
                      text + "), open tried again in 100 ms (1 of 10)\r\n",
                  std::string("ReadATACommandWithTimeOutValue(): ") + kPath + " is held by another program (error 32, " +
                      text + "), open tried again in 100 ms (2 of 10)\r\n"}));
}

TEST_F(TransportTest, AtaOpenGivesUpOnAPersistentSharingViolation) {
    p.devices.defaultAnswer.openFails = true;
    p.devices.defaultAnswer.openError = 32;
    const uint64_t start = p.clock.now();
    IDEREGS tf = taskFile(0x92);
    uint8_t buf[512] = {};
    EXPECT_EQ(WriteATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), 0);
    EXPECT_EQ(p.devices.opens.size(), 11u);
    EXPECT_TRUE(p.devices.calls.empty());
    EXPECT_EQ(p.clock.now() - start, 1000u);
    ASSERT_EQ(p.kernel.output.size(), 11u);
    EXPECT_NE(p.kernel.output[9].find("(10 of 10)"), std::string::npos) << p.kernel.output[9];
    EXPECT_EQ(p.kernel.output[10], std::string("CreateFile on ") + kPath +
                                       " failed: error 32, The process cannot access the file because it is "
                                       "being used by another process.\r\n");
    // Within the executor's budget: the command fails as one that could not open (-2).
    p.devices.opens.clear();
    EXPECT_EQ(ExecATACommand(kPath, 0, ataBlock(0x92), buf, 512, 10), -2);
    EXPECT_EQ(p.devices.opens.size(), 11u);
}

TEST_F(TransportTest, OnlyTheExclusiveOpenRetriesAndOnlyOnSharingViolations) {
    // Any other error fails at once.
    p.devices.defaultAnswer.openFails = true;
    p.devices.defaultAnswer.openError = 5;  // ERROR_ACCESS_DENIED
    IDEREGS tf = taskFile(0xEC);
    uint8_t buf[512];
    const uint64_t start = p.clock.now();
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf, 512, 10), 0);
    EXPECT_EQ(p.devices.opens.size(), 1u);
    // The shared opens (SMART receive, SCSI pass-through) do not wait either.
    p.devices.defaultAnswer.openError = 32;
    EXPECT_EQ(SmartReceiveData(kPath, 0, tf, buf), -1);
    const uint8_t cdb[12] = {0x12};
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, buf, 36, 10), 0);
    EXPECT_EQ(p.devices.opens.size(), 3u);
    EXPECT_EQ(p.clock.now(), start);
    EXPECT_EQ(p.kernel.output.front(),
              std::string("CreateFile on ") + kPath + " failed: error 5, Access is denied.\r\n");
}

// ---------------------------------------------------------------------------------------
// ExecATACommand and ExecDeviceCommand

TEST_F(TransportTest, ExecAtaBuildsTheTaskFileFromTheBlock) {
    uint8_t buf[512];
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 512, 10), 1);
    const AtaPassThroughEx h = p.devices.calls.at(0).ata();
    const uint8_t expected[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0xA0, 0xEC, 0x00};
    EXPECT_EQ(std::memcmp(h.CurrentTaskFile, expected, 8), 0);
    EXPECT_EQ(h.TimeOutValue, 10u);
    EXPECT_EQ(h.AtaFlags, 0x03);

    EXPECT_EQ(ExecATACommand(kPath, 0, ataBlock(0x92), buf, 512, 10), 1);
    EXPECT_EQ(p.devices.calls.at(1).ata().AtaFlags, 0x05);
}

TEST_F(TransportTest, ExecAtaEmptyPath) {
    uint8_t buf[512];
    EXPECT_EQ(ExecATACommand("", 1, ataBlock(0xEC), buf, 512, 10), -1);
    EXPECT_EQ(ExecATACommand(nullptr, 0, ataBlock(0xEC), buf, 512, 10), -1);
    EXPECT_TRUE(p.devices.opens.empty());
}

TEST_F(TransportTest, ExecAtaResults) {
    uint8_t buf[16];
    FakeAnswer closed;
    closed.openFails = true;
    p.devices.script(closed);
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 16, 10), -2);
    FakeAnswer broken;
    broken.callFails = true;
    p.devices.script(broken);
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 16, 10), -1);
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 65537, 10), -1);
}

TEST_F(TransportTest, ExecAtaTimeBudget) {
    uint8_t buf[512];
    FakeAnswer slow;
    slow.elapsedMs = 10'999;
    p.devices.script(slow);
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 512, 10), 1);
    EXPECT_TRUE(p.kernel.output.empty());

    slow.elapsedMs = 11'000;
    p.devices.script(slow);
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 512, 10), 0);
    EXPECT_EQ(p.kernel.output, std::vector<std::string>{"Timeout = 11 sec\r\n"});

    // Too slow and failed: the time-out wins.
    slow.elapsedMs = 30'000;
    slow.status = 0x51;
    p.devices.script(slow);
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 512, 10), 0);
    EXPECT_TRUE(p.kernel.logged("Timeout = 30 sec\r\n"));
}

TEST_F(TransportTest, ExecAtaTimeBudgetAcrossTickWrap) {
    // The tick counter wraps after 49.7 days; two seconds across the wrap are two seconds.
    p.clock.advance(0xFFFFFFFFull - p.clock.now() - 500);
    FakeAnswer a;
    a.elapsedMs = 2'000;
    p.devices.script(a);
    uint8_t buf[512];
    EXPECT_EQ(ExecATACommand(kPath, 1, ataBlock(0xEC), buf, 512, 10), 1);
    EXPECT_TRUE(p.kernel.output.empty());
}

TEST_F(TransportTest, ExecDeviceCommandEmptySlot) {
    uint8_t buf[512];
    DeviceSlot[0].devicePath = "";
    DeviceSlot[0].ata = 1;
    DeviceSlot[1].devicePath = "";
    DeviceSlot[1].ata = 0;
    // Slot 2 was never filled: null path.
    EXPECT_EQ(ExecDeviceCommand(0, 1, ataBlock(0xEC), 12, buf, 512), -1);
    EXPECT_EQ(ExecDeviceCommand(0, 0, ataBlock(0xEC), 12, buf, 512), -1);
    EXPECT_EQ(ExecDeviceCommand(1, 1, ataBlock(0xEC), 12, buf, 512), -1);
    EXPECT_EQ(ExecDeviceCommand(1, 0, ataBlock(0xEC), 12, buf, 512), -1);
    EXPECT_EQ(ExecDeviceCommand(2, 1, ataBlock(0xEC), 12, buf, 512), -1);
    DeviceSlot[2].ata = 1;
    EXPECT_EQ(ExecDeviceCommand(2, 1, ataBlock(0xEC), 12, buf, 512), -1);
    EXPECT_TRUE(p.devices.opens.empty());
}

TEST_F(TransportTest, ExecDeviceCommandRejectsBadIndexAndBlockLength) {
    uint8_t buf[512];
    DeviceSlot[0].devicePath = kPath;
    EXPECT_EQ(ExecDeviceCommand(kMaxDrives, 1, ataBlock(0xEC), 12, buf, 512), -1);
    EXPECT_EQ(ExecDeviceCommand(255, 1, ataBlock(0xEC), 12, buf, 512), -1);
    EXPECT_EQ(ExecDeviceCommand(0, 1, ataBlock(0xEC), 13, buf, 512), -1);
    EXPECT_EQ(ExecDeviceCommand(0, 1, ataBlock(0xEC), 0, buf, 512), -1);
    EXPECT_TRUE(p.devices.opens.empty());
}

TEST_F(TransportTest, ExecDeviceCommandAtaSlot) {
    DeviceSlot[3].devicePath = kPath;
    DeviceSlot[3].ata = 1;
    DeviceSlot[3].usbDirect = 1;  // not looked at on the ATA path
    uint8_t buf[512];
    EXPECT_EQ(ExecDeviceCommand(3, 1, ataBlock(0xEC), 12, buf, 512), 1);
    ASSERT_EQ(p.devices.calls.size(), 1u);
    EXPECT_EQ(p.devices.calls[0].code, kIoctlAtaPassThrough);
    EXPECT_EQ(p.devices.calls[0].ata().TimeOutValue, 10u);
    EXPECT_EQ(p.devices.opens[0].share, ShareNone);

    FakeAnswer slow;
    slow.elapsedMs = 12'000;
    p.devices.script(slow);
    EXPECT_EQ(ExecDeviceCommand(3, 1, ataBlock(0xEC), 12, buf, 512), 0);
}

TEST_F(TransportTest, ExecDeviceCommandScsiTimeOuts) {
    DeviceSlot[0].devicePath = "\\\\?\\usbstor#disk0";
    uint8_t buf[512];
    EXPECT_EQ(ExecDeviceCommand(0, 1, ataBlock(0xEC), 12, buf, 512), 1);
    EXPECT_EQ(ExecDeviceCommand(0, 0, ataBlock(0xEF), 12, nullptr, 0), 1);
    DeviceSlot[0].usbDirect = 1;
    EXPECT_EQ(ExecDeviceCommand(0, 1, ataBlock(0xEC), 12, buf, 512), 1);
    EXPECT_EQ(ExecDeviceCommand(0, 0, ataBlock(0xEF), 12, nullptr, 0), 1);
    ASSERT_EQ(p.devices.calls.size(), 4u);
    const uint32_t expected[] = {10, 10, 300, 10};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p.devices.calls[i].code, kIoctlScsiPassThroughDirect);
        EXPECT_EQ(p.devices.calls[i].scsi().TimeOutValue, expected[i]) << i;
        EXPECT_EQ(p.devices.calls[i].scsi().DataIn, i % 2 == 0 ? 1 : 0) << i;
    }
}

TEST_F(TransportTest, ExecDeviceCommandScsiFailureIsMinusTwo) {
    DeviceSlot[0].devicePath = "\\\\?\\usbstor#disk0";
    FakeAnswer a;
    a.openFails = true;
    p.devices.script(a);
    uint8_t buf[512];
    EXPECT_EQ(ExecDeviceCommand(0, 1, ataBlock(0xEC), 12, buf, 512), -2);
    p.devices.script(checkCondition({0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(ExecDeviceCommand(0, 0, ataBlock(0xEF), 12, nullptr, 0), -2);
}

// ---------------------------------------------------------------------------------------
// SMART receive

TEST_F(TransportTest, SmartReceiveRequest) {
    FakeAnswer a;
    for (int i = 0; i < 512; ++i) a.data.push_back(static_cast<uint8_t>(255 - i % 256));
    p.devices.script(a);
    IDEREGS tf;
    tf.bSectorCountReg = 1;
    tf.bDriveHeadReg = 0x40;
    tf.bCommandReg = 0xEC;
    std::vector<uint8_t> answer(512, 0);
    EXPECT_EQ(SmartReceiveData(kPath, 3, tf, answer.data()), 0);
    EXPECT_EQ(answer, a.data);

    ASSERT_EQ(p.devices.opens.size(), 1u);
    EXPECT_EQ(p.devices.opens[0].access, AccessRead | AccessWrite);
    EXPECT_EQ(p.devices.opens[0].share, ShareRead | ShareWrite);
    const auto& c = p.devices.calls.at(0);
    EXPECT_EQ(c.code, kSmartRcvDriveData);
    EXPECT_EQ(c.inLen, 32u);
    EXPECT_EQ(c.outLen, 528u);
    const SendCmdInParams in = c.smart();
    EXPECT_EQ(in.cBufferSize, 512u);
    EXPECT_EQ(in.irDriveRegs.bSectorCountReg, 1);
    EXPECT_EQ(in.irDriveRegs.bDriveHeadReg, 0xB0);
    EXPECT_EQ(in.irDriveRegs.bCommandReg, 0xEC);
    EXPECT_EQ(in.bDriveNumber, 3);
    EXPECT_EQ(c.request.size(), 32u);
    for (std::size_t i = 13; i < 32; ++i) EXPECT_EQ(c.request[i], 0) << i;
}

TEST_F(TransportTest, SmartReceiveDeviceByteByParity) {
    IDEREGS tf;
    tf.bCommandReg = 0xEC;
    uint8_t answer[512];
    EXPECT_EQ(SmartReceiveData(kPath, 2, tf, answer), 0);
    EXPECT_EQ(SmartReceiveData(kPath, 0x1FF, tf, answer), 0);
    EXPECT_EQ(p.devices.calls.at(0).smart().irDriveRegs.bDriveHeadReg, 0xA0);
    EXPECT_EQ(p.devices.calls.at(0).smart().bDriveNumber, 2);
    EXPECT_EQ(p.devices.calls.at(1).smart().irDriveRegs.bDriveHeadReg, 0xB0);
    EXPECT_EQ(p.devices.calls.at(1).smart().bDriveNumber, 0xFF);
}

TEST_F(TransportTest, SmartReceiveFailures) {
    IDEREGS tf;
    tf.bCommandReg = 0xEC;
    std::vector<uint8_t> answer(512, 0xAB);
    FakeAnswer a;
    a.openFails = true;
    p.devices.script(a);
    EXPECT_EQ(SmartReceiveData(kPath, 0, tf, answer.data()), -1);
    a = FakeAnswer{};
    a.callFails = true;
    p.devices.script(a);
    EXPECT_EQ(SmartReceiveData(kPath, 0, tf, answer.data()), -1);
    a = FakeAnswer{};
    a.driverError = 1;
    a.data.assign(512, 0x11);
    p.devices.script(a);
    EXPECT_EQ(SmartReceiveData(kPath, 0, tf, answer.data()), -1);
    EXPECT_EQ(answer, std::vector<uint8_t>(512, 0xAB));
    EXPECT_EQ(SmartReceiveData("", 0, tf, answer.data()), -1);
    EXPECT_EQ(p.devices.opens.size(), 3u);
    EXPECT_EQ(p.kernel.output,
              (std::vector<std::string>{
                  std::string("CreateFile on ") + kPath + " failed: error 2, The system cannot find the file specified.\r\n",
                  std::string("SMART_RCV_DRIVE_DATA on ") + kPath +
                      " failed: error 31, A device attached to the system is not functioning.\r\n",
                  "SmartReceiveData(): command ECh ended with driver error 1, IDE error 00h\r\n"}));
}

// ---------------------------------------------------------------------------------------
// SCSI pass-through



TEST_F(TransportTest, ScsiReadRequest) {
    FakeAnswer a;
    a.data = {1, 2, 3, 4, 5, 6, 7, 8};
    p.devices.script(a);
    // Bytes beyond the block's length must not reach the Cdb field.
    const uint8_t cdb[16] = {0x12, 0, 0, 0, 0x24, 0, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF,
                             0x99, 0x98, 0x97, 0x96};
    std::vector<uint8_t> buf(36, 0);
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, buf.data(), 36, 300), 1);
    EXPECT_TRUE(std::equal(a.data.begin(), a.data.end(), buf.begin()));

    ASSERT_EQ(p.devices.opens.size(), 1u);
    EXPECT_EQ(p.devices.opens[0].access, AccessRead | AccessWrite);
    EXPECT_EQ(p.devices.opens[0].share, ShareRead | ShareWrite);
    const auto& c = p.devices.calls.at(0);
    EXPECT_EQ(c.code, kIoctlScsiPassThroughDirect);
    EXPECT_EQ(c.inLen, sizeof(ScsiPassThroughDirectWithSense));
    EXPECT_EQ(c.outLen, sizeof(ScsiPassThroughDirectWithSense));
    EXPECT_TRUE(c.inIsOut);
    const ScsiPassThroughDirect s = c.scsi();
    EXPECT_EQ(s.Length, sizeof(ScsiPassThroughDirect));
    EXPECT_EQ(s.ScsiStatus, 0);
    EXPECT_EQ(s.PathId, 0);
    EXPECT_EQ(s.TargetId, 1);
    EXPECT_EQ(s.Lun, 0);
    EXPECT_EQ(s.CdbLength, 12);
    EXPECT_EQ(s.SenseInfoLength, 64);
    EXPECT_EQ(s.DataIn, 1);
    EXPECT_EQ(s.DataTransferLength, 36u);
    EXPECT_EQ(s.TimeOutValue, 300u);
    EXPECT_EQ(s.DataBuffer, static_cast<void*>(buf.data()));
    EXPECT_EQ(s.SenseInfoOffset, offsetof(ScsiPassThroughDirectWithSense, Sense));
    EXPECT_EQ(std::memcmp(s.Cdb, cdb, 12), 0);
    for (int i = 12; i < 16; ++i) EXPECT_EQ(s.Cdb[i], 0) << i;
    // The sense buffer goes out empty.
    for (std::size_t i = sizeof(ScsiPassThroughDirect); i < c.request.size(); ++i) {
        EXPECT_EQ(c.request[i], 0) << i;
    }
}

TEST_F(TransportTest, ScsiWriteRequest) {
    const CommandBlock block{0xA1, 0x0A, 0x06, 0x03, 0x80, 0, 0, 0, 0xA0, 0x92, 0, 0};
    std::vector<uint8_t> data(4096);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, block.data(), 12, data.data(), 4096, 10), 1);
    const auto& c = p.devices.calls.at(0);
    const ScsiPassThroughDirect s = c.scsi();
    EXPECT_EQ(s.DataIn, 0);
    EXPECT_EQ(s.DataTransferLength, 4096u);
    EXPECT_EQ(s.TimeOutValue, 10u);
    EXPECT_EQ(s.TargetId, 1);
    EXPECT_EQ(s.SenseInfoLength, 64);
    EXPECT_EQ(s.DataBuffer, static_cast<const void*>(data.data()));
    EXPECT_EQ(std::memcmp(s.Cdb, block.data(), 12), 0);
    EXPECT_EQ(c.dataOut, data);
}

TEST_F(TransportTest, ScsiWriteWithoutData) {
    const CommandBlock block{0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0xA0, 0xE7, 0, 0};
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, block.data(), 12, nullptr, 0, 10), 1);
    const ScsiPassThroughDirect s = p.devices.calls.at(0).scsi();
    EXPECT_EQ(s.DataIn, 0);
    EXPECT_EQ(s.DataTransferLength, 0u);
    EXPECT_EQ(std::memcmp(s.Cdb, block.data(), 12), 0);
}

TEST_F(TransportTest, ScsiOpenFailureLogsThePath) {
    p.devices.defaultAnswer.openFails = true;
    const uint8_t cdb[12] = {0x12};
    uint8_t buf[36];
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, buf, 36, 10), 0);
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, nullptr, 0, 10), 0);
    EXPECT_EQ(p.kernel.output,
              (std::vector<std::string>{
                  std::string("CreateFile on ") + kUsbPath + " failed: error 2, The system cannot find the file specified.\r\n",
                  std::string("ReadSCSICommandWithTimeOutValue(INVALID_HANDLE_VALUE) = ") + kUsbPath + "\r\n",
                  std::string("CreateFile on ") + kUsbPath + " failed: error 2, The system cannot find the file specified.\r\n",
                  std::string("WriteSCSICommandWithTimeOutValue(INVALID_HANDLE_VALUE) = ") + kUsbPath + "\r\n"}));
    EXPECT_TRUE(p.devices.calls.empty());
}

TEST_F(TransportTest, ScsiFailedCallLogsTheError) {
    FakeAnswer a;
    a.callFails = true;
    a.callError = 1117;  // ERROR_IO_DEVICE
    p.devices.script(a);
    FakeAnswer b;
    b.errorAfterSuccess = 121;  // the call returns success but leaves ERROR_SEM_TIMEOUT
    p.devices.script(b);
    const uint8_t cdb[12] = {0x12};
    uint8_t buf[36];
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, buf, 36, 10), 0);
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, nullptr, 0, 10), 0);
    EXPECT_EQ(p.kernel.output,
              (std::vector<std::string>{"LastError(ReadSCSICommandWithTimeOutValue)[1] = 1117\r\n",
                                        std::string("IOCTL_SCSI_PASS_THROUGH_DIRECT on ") + kUsbPath +
                                            " failed: error 1117, The request could not be performed because of an I/O device error.\r\n",
                                        "LastError(WriteSCSICommandWithTimeOutValue)[1] = 121\r\n",
                                        std::string("IOCTL_SCSI_PASS_THROUGH_DIRECT on ") + kUsbPath +
                                            " failed: error 121, The semaphore timeout period has expired.\r\n"}));
}

TEST_F(TransportTest, ScsiCheckConditionIllegalRequestFails) {
    p.devices.script(checkCondition({0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0}));
    const uint8_t cdb[12] = {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC};
    uint8_t buf[512];
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, buf, 512, 10), 0);
    EXPECT_EQ(p.kernel.output, std::vector<std::string>{
                                   "SCSI CHECK CONDITION: sense key 05h, ASC 20h, ASCQ 00h\r\n"});
}

TEST_F(TransportTest, ScsiCheckConditionRecoveredErrorSucceeds) {
    p.devices.script(checkCondition({0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14,
                                     0x09, 0x0C, 0, 0x00, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xA0, 0x50}));
    const uint8_t cdb[12] = {0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0xA0, 0xE7};
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, nullptr, 0, 10), 1);
    EXPECT_TRUE(p.kernel.output.empty());
}

TEST_F(TransportTest, ScsiCheckConditionWithAtaErrorFails) {
    p.devices.script(checkCondition({0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14,
                                     0x09, 0x0C, 0, 0x04, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xA0, 0x51}));
    const uint8_t cdb[12] = {0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0xA0, 0xE7};
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, nullptr, 0, 10), 0);
    EXPECT_EQ(p.kernel.output,
              (std::vector<std::string>{"SCSI CHECK CONDITION: sense key 01h, ASC 00h, ASCQ 1Dh\r\n",
                                        "ATA status 51h, error 04h\r\n"}));
}

TEST_F(TransportTest, ScsiCheckConditionWithoutReadableSenseFails) {
    p.devices.script(checkCondition({}));
    // Claims more than the buffer holds.
    p.devices.script(checkCondition({0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 60}));
    const uint8_t cdb[12] = {0x00};
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 6, nullptr, 0, 10), 0);
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 6, nullptr, 0, 10), 0);
    EXPECT_TRUE(p.kernel.logged("SCSI CHECK CONDITION: sense data unreadable (0 bytes)\r\n"));
    EXPECT_TRUE(p.kernel.logged("SCSI CHECK CONDITION: sense data unreadable (8 bytes)\r\n"));
}

// A completed command whose descriptor sense carries an information descriptor before the
// ATA Status Return: 34 bytes, more than a 32-byte sense room holds.
TEST_F(TransportTest, ScsiRecoveredErrorWithInformationDescriptorSucceeds) {
    const std::vector<uint8_t> sense = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 26,
                                        0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78,
                                        0x09, 0x0C, 0, 0x00, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xA0, 0x50};
    p.devices.script(checkCondition(sense));
    const uint8_t cdb[12] = {0xA1, 0x06, 0x20, 0xDC, 0x51, 0, 0, 0, 0xE0, 0xEF};
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, nullptr, 0, 10), 1);
    EXPECT_TRUE(p.kernel.output.empty());
    EXPECT_GE(p.devices.calls.at(0).scsi().SenseInfoLength, 64);
    // With ERR in the returned status the same reply is a failure.
    std::vector<uint8_t> failed = sense;
    failed.back() = 0x51;
    p.devices.script(checkCondition(failed));
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, nullptr, 0, 10), 0);
}

// The system lowers DataTransferLength when the device moved less than asked; the bytes
// beyond would be stale, so the command fails on every path.
TEST_F(TransportTest, ShortDataInFailsOnEveryPath) {
    FakeAnswer half;
    half.data.assign(512, 0x11);
    half.transferred = 256;
    p.devices.script(half);
    IDEREGS tf = taskFile(0xEC);
    std::vector<uint8_t> buf(512, 0xCC);
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), 512, 10), -1);
    EXPECT_TRUE(p.kernel.logged("ReadATACommandWithTimeOutValue(): 256 of 512 bytes transferred\r\n"));
    EXPECT_EQ(buf, std::vector<uint8_t>(512, 0xCC));

    FakeAnswer inquiry;
    inquiry.data.assign(36, 0x20);
    inquiry.transferred = 36;
    p.devices.script(inquiry);
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 40, 0};
    uint8_t answer[40] = {};
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 6, answer, 40, 300), 0);
    EXPECT_TRUE(p.kernel.logged("ReadSCSICommandWithTimeOutValue(): 36 of 40 bytes transferred\r\n"));

    FakeAnswer smart;
    smart.data.assign(512, 0x33);
    smart.transferred = 500;
    p.devices.script(smart);
    IDEREGS identify = taskFile(0xEC);
    std::vector<uint8_t> sector(512, 0xEE);
    EXPECT_EQ(SmartReceiveData(kPath, 0, identify, sector.data()), -1);
    EXPECT_TRUE(p.kernel.logged("SmartReceiveData(): 516 of 528 bytes returned\r\n"));

    // ExecDeviceCommand reports the ATA-path failure as such, and ERR still comes first.
    FakeAnswer errShort;
    errShort.status = 0x51;
    errShort.transferred = 0;
    p.devices.script(errShort);
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), 512, 10), 0);

    // Everything moved, or a data-out command: no failure.
    FakeAnswer full;
    full.data.assign(512, 0x44);
    full.transferred = 512;
    p.devices.script(full);
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kPath, &tf, buf.data(), 512, 10), 1);
    EXPECT_EQ(buf, full.data);
    FakeAnswer written;
    written.transferred = 0;
    p.devices.script(written);
    IDEREGS download = taskFile(0x92);
    EXPECT_EQ(WriteATACommandWithTimeOutValue(kPath, &download, buf.data(), 512, 10), 1);
}

TEST_F(TransportTest, ScsiOtherStatusFails) {
    FakeAnswer busy;
    busy.scsiStatus = 0x08;
    p.devices.script(busy);
    const uint8_t cdb[6] = {0x00};
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 6, nullptr, 0, 10), 0);
    EXPECT_TRUE(p.kernel.logged("SCSI status 08h\r\n"));
}

TEST_F(TransportTest, ScsiBadArgumentsOpenNothing) {
    const uint8_t cdb[17] = {0x12};
    uint8_t buf[36];
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 0, buf, 36, 10), 0);
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 17, buf, 36, 10), 0);
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, nullptr, 12, buf, 36, 10), 0);
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, buf, -1, 10), 0);
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, nullptr, 36, 10), 0);
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue(kUsbPath, cdb, 12, buf, 65537, 10), 0);
    EXPECT_TRUE(p.devices.opens.empty());
    // A 16-byte block is the largest accepted.
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kUsbPath, cdb, 16, buf, 36, 10), 1);
    EXPECT_EQ(p.devices.calls.at(0).scsi().CdbLength, 16);
}

// ---------------------------------------------------------------------------------------
// The diagnostic log

// "DbgMsg.txt" goes to the current directory: each test runs in a folder of its own, as
// the test processes share their working directory.
class DbgLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        RDMode = false;
        previousDir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override {
        RDMode = false;
        std::filesystem::current_path(previousDir_);
    }
    static std::string fileText() {
        std::ifstream f("DbgMsg.txt", std::ios::binary);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }

    FakePlatform p;

private:
    test::TempDir dir_{"qx-dbglog"};
    std::filesystem::path previousDir_;
};

TEST_F(DbgLogTest, OffWritesOnlyTheDebuggerOutput) {
    DbgPrintf("Disk %d: %s\r\n", 0, "ready");
    EXPECT_EQ(p.kernel.output, std::vector<std::string>{"Disk 0: ready\r\n"});
    EXPECT_FALSE(std::filesystem::exists("DbgMsg.txt"));
    EXPECT_TRUE(p.kernel.locks.empty());
}

TEST_F(DbgLogTest, OnAppendsUnchangedUnderTheLock) {
    {
        std::ofstream seed("DbgMsg.txt", std::ios::binary);
        seed << "earlier\r\n";
    }
    RDMode = true;
    DbgPrintf("first %u\r\n", 1u);
    DbgPrintf("%s", "no line end");
    DbgPrintf("\n\r\r\n");
    EXPECT_EQ(fileText(), "earlier\r\nfirst 1\r\nno line end\n\r\r\n");
    EXPECT_EQ(p.kernel.output.size(), 3u);
    // One lock, opened once by name, taken and released around every append.
    ASSERT_EQ(p.kernel.locks.size(), 1u);
    EXPECT_EQ(p.kernel.locks[0]->name, "DBGAcess");
    EXPECT_EQ(p.kernel.locks[0]->locks, 3);
    EXPECT_FALSE(p.kernel.locks[0]->held());
}

TEST_F(DbgLogTest, LongMessagesAreCutToTheBuffer) {
    const std::string longText(2000, 'x');
    RDMode = true;
    DbgPrintf("%s", longText.c_str());
    ASSERT_EQ(p.kernel.output.size(), 1u);
    EXPECT_EQ(p.kernel.output[0], std::string(kDbgBufferSize - 1, 'x'));
    EXPECT_EQ(fileText(), std::string(1023, 'x'));
}

TEST_F(DbgLogTest, WithoutKernelTheFileStillGetsTheLine) {
    Platform bare = platform();
    bare.kernel = nullptr;
    installPlatform(bare);
    RDMode = true;
    DbgPrintf("quiet\r\n");
    installPlatform(Platform{&p.clock, &p.devices, nullptr, &p.kernel});
    EXPECT_EQ(fileText(), "quiet\r\n");
    EXPECT_TRUE(p.kernel.output.empty());
}

}  // namespace
}  // namespace qx
