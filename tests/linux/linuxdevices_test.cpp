// The SG_IO back-end without a disk: a fake SG_IO records the command blocks and answers
// with canned status, sense data and data; nodes are ordinary files; sysfs is a tree in a
// temporary directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "platform/linux/LinuxDevices.h"
#include "support/CaptureKernel.h"
#include "support/TempDir.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

struct SgAnswer {
    int error = 0;  // errno of the ioctl itself
    uint8_t status = kScsiStatusGood;
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> data;  // for data-in
    int resid = 0;
};

struct SgCall {
    int fd = -1;
    std::vector<uint8_t> cdb;
    int direction = 0;
    unsigned length = 0;
    void* buffer = nullptr;
    unsigned timeout = 0;
    unsigned char senseRoom = 0;
    std::vector<uint8_t> dataOut;
};

class FakeSgIo final : public SgIo {
public:
    int sgIo(int fd, sg_io_hdr_t& h) override {
        SgCall c;
        c.fd = fd;
        c.cdb.assign(h.cmdp, h.cmdp + h.cmd_len);
        c.direction = h.dxfer_direction;
        c.length = h.dxfer_len;
        c.buffer = h.dxferp;
        c.timeout = h.timeout;
        c.senseRoom = h.mx_sb_len;
        if (h.dxfer_direction == SG_DXFER_TO_DEV && h.dxferp != nullptr) {
            const auto* b = static_cast<const uint8_t*>(h.dxferp);
            c.dataOut.assign(b, b + h.dxfer_len);
        }
        calls.push_back(c);
        if (answer.error != 0) return answer.error;
        if (h.dxfer_direction == SG_DXFER_FROM_DEV && h.dxferp != nullptr && !answer.data.empty()) {
            std::memcpy(h.dxferp, answer.data.data(), std::min<std::size_t>(answer.data.size(), h.dxfer_len));
        }
        h.status = answer.status;
        h.host_status = answer.hostStatus;
        h.driver_status = answer.driverStatus;
        const std::size_t n = std::min<std::size_t>(answer.sense.size(), h.mx_sb_len);
        if (n > 0) std::memcpy(h.sbp, answer.sense.data(), n);
        h.sb_len_wr = static_cast<unsigned char>(n);
        h.resid = answer.resid;
        return 0;
    }
    SgAnswer answer;
    std::vector<SgCall> calls;
};

// Descriptor sense after CK_COND: RECOVERED ERROR, 00h/1Dh, ATA Status Return.
std::vector<uint8_t> ataReturn(uint8_t key, uint8_t error, uint8_t count, uint8_t status) {
    return {0x72, key, 0x00, 0x1D, 0, 0, 0, 14,
            0x09, 0x0C, 0, error, 0, count, 0, 0x33, 0, 0x44, 0, 0x55, 0xE0, status};
}

class LinuxDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = tmp_.path();
        node = (dir / "sdz").string();
        std::ofstream(node) << "disk";
        previous = platform();
        installPlatform(Platform{&clock, &devices, nullptr, &kernel});
    }
    void TearDown() override {
        DbgReleaseLock();
        installPlatform(previous);
    }

    // The request of an ATA command as the transport builds it.
    struct AtaRequest {
        AtaPassThroughEx hdr{};
        uint8_t data[4096]{};
    };
    static AtaRequest ataRequest(std::array<uint8_t, 8> tf, uint16_t flags, uint32_t length) {
        AtaRequest r;
        r.hdr.Length = sizeof(AtaPassThroughEx);
        r.hdr.AtaFlags = flags;
        r.hdr.DataTransferLength = length;
        r.hdr.TimeOutValue = 10;
        r.hdr.DataBufferOffset = sizeof(AtaPassThroughEx);
        std::memcpy(r.hdr.CurrentTaskFile, tf.data(), 8);
        return r;
    }
    bool sendAta(AtaRequest& r) {
        const DeviceHandle h = devices.open("\\\\.\\ide#sdz", AccessRead | AccessWrite, ShareNone);
        EXPECT_NE(h, kInvalidDevice);
        uint32_t returned = 0;
        const uint32_t len = static_cast<uint32_t>(sizeof(AtaPassThroughEx)) + r.hdr.DataTransferLength;
        const bool ok = devices.control(h, kIoctlAtaPassThrough, &r, len, &r, len, &returned);
        devices.close(h);
        return ok;
    }

    test::TempDir tmp_{"qx-linuxdevices"};
    fs::path dir;
    std::string node;
    FakeSgIo sg;
    LinuxDevices devices{sg, [this](const char* p) -> std::optional<std::string> {
                             if (std::string(p).find("missing") != std::string::npos) return std::nullopt;
                             if (std::string(p).find("absent") != std::string::npos) {
                                 return (dir / "absent").string();
                             }
                             return node;
                         }};
    VirtualClock clock;
    test::CaptureKernel kernel;
    Platform previous;
};

// ---------------------------------------------------------------------------------------
// Opening

TEST_F(LinuxDevicesTest, OpensReadOnlyAndNonBlocking) {
    const DeviceHandle h = devices.open("\\\\.\\ide#sdz", AccessRead | AccessWrite, ShareNone);
    ASSERT_NE(h, kInvalidDevice);
    EXPECT_EQ(devices.lastError(), 0u);
    const int flags = ::fcntl(static_cast<int>(h), F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
    EXPECT_NE(flags & O_NONBLOCK, 0);
    EXPECT_EQ(flags & O_EXCL, 0);
    devices.close(h);
    EXPECT_EQ(::fcntl(static_cast<int>(h), F_GETFL), -1);  // closed
}

TEST_F(LinuxDevicesTest, OpenFailures) {
    EXPECT_EQ(devices.open("\\\\.\\missing", AccessRead, ShareRead), kInvalidDevice);
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(devices.open("\\\\.\\ide#absent", AccessRead, ShareRead), kInvalidDevice);
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(devices.open(nullptr, AccessRead, ShareRead), kInvalidDevice);
    EXPECT_NE(devices.lastError(), 0u);
    EXPECT_TRUE(kernel.output.empty());
}

TEST_F(LinuxDevicesTest, PermissionDeniedIsExplained) {
    // A file without read rights; root reads any ordinary file, but not a write-only sysfs
    // attribute.
    std::string refused = node;
    ::chmod(node.c_str(), 0);
    if (::geteuid() == 0) refused = "/sys/bus/platform/uevent";
    const int probe = ::open(refused.c_str(), O_RDONLY | O_NONBLOCK);
    if (probe >= 0 || errno != EACCES) {
        if (probe >= 0) ::close(probe);
        GTEST_SKIP() << "no file here refuses reading";
    }
    LinuxDevices refusing{sg, [&](const char*) -> std::optional<std::string> { return refused; }};
    EXPECT_EQ(refusing.open("\\\\.\\ide#sdz", AccessRead, ShareRead), kInvalidDevice);
    EXPECT_EQ(refusing.lastError(), static_cast<uint32_t>(EACCES));
    EXPECT_EQ(kernel.output, std::vector<std::string>{"Cannot open " + refused +
                                                      ": permission denied (raw pass-through needs "
                                                      "CAP_SYS_RAWIO: start the utility from its "
                                                      "menu entry, which asks for administrator "
                                                      "rights, or as root)\r\n"});
}

// ---------------------------------------------------------------------------------------
// ATA pass-through

TEST_F(LinuxDevicesTest, NonDataCommandBlock) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;  // DRIVER_SENSE
    sg.answer.sense = ataReturn(0x01, 0x00, 0x22, 0x50);
    AtaRequest r = ataRequest({0x11, 0x22, 0x33, 0x44, 0x55, 0xE0, 0xEF, 0}, 0, 0);
    r.hdr.TimeOutValue = 7;
    ASSERT_TRUE(sendAta(r));
    ASSERT_EQ(sg.calls.size(), 1u);
    const std::vector<uint8_t> expected = {0x85, 0x06, 0x20, 0x00, 0x11, 0x00, 0x22, 0x00,
                                           0x33, 0x00, 0x44, 0x00, 0x55, 0xE0, 0xEF, 0x00};
    EXPECT_EQ(sg.calls[0].cdb, expected);
    EXPECT_EQ(sg.calls[0].direction, SG_DXFER_NONE);
    EXPECT_EQ(sg.calls[0].length, 0u);
    EXPECT_EQ(sg.calls[0].timeout, 7000u);
    EXPECT_GE(sg.calls[0].senseRoom, 32);
    EXPECT_EQ(r.hdr.CurrentTaskFile[6], 0x50);
    EXPECT_EQ(devices.lastError(), 0u);
}

TEST_F(LinuxDevicesTest, ProtocolAndTransferFlags) {
    struct Case {
        uint16_t flags;
        uint8_t protocolByte;
        uint8_t transferByte;
        int direction;
    };
    const Case cases[] = {
        {0x03, 0x08, 0x2E, SG_DXFER_FROM_DEV},  // PIO in
        {0x05, 0x0A, 0x26, SG_DXFER_TO_DEV},    // PIO out
        {0x13, 0x0C, 0x2E, SG_DXFER_FROM_DEV},  // DMA in
        {0x15, 0x0C, 0x26, SG_DXFER_TO_DEV},    // DMA out
    };
    for (const Case& k : cases) {
        sg.calls.clear();
        AtaRequest r = ataRequest({0, 2, 0, 0, 0, 0xA0, 0x86, 0}, k.flags, 1024);
        ASSERT_TRUE(sendAta(r)) << k.flags;
        const SgCall& c = sg.calls.at(0);
        EXPECT_EQ(c.cdb[1], k.protocolByte) << k.flags;
        EXPECT_EQ(c.cdb[2], k.transferByte) << k.flags;
        EXPECT_EQ(c.direction, k.direction) << k.flags;
        EXPECT_EQ(c.length, 1024u);
        EXPECT_EQ(c.buffer, static_cast<void*>(r.data));
        EXPECT_EQ(c.cdb[6], 2);  // sector count
    }
    // A transfer that is not whole blocks is counted in bytes.
    uint8_t cdb[16];
    const uint8_t tf[8] = {0, 0x10, 0, 0, 0, 0xA0, 0x8A, 0};
    linuxos::BuildAtaPassThrough16(tf, 0x03, 16, cdb);
    EXPECT_EQ(cdb[2], 0x2A);
}

TEST_F(LinuxDevicesTest, ReadDataAndRegistersFromDescriptorSense) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = ataReturn(0x01, 0x00, 0x01, 0x50);
    for (int i = 0; i < 512; ++i) sg.answer.data.push_back(static_cast<uint8_t>(i));
    AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 0x03, 512);
    ASSERT_TRUE(sendAta(r));
    EXPECT_EQ(std::memcmp(r.data, sg.answer.data.data(), 512), 0);
    const uint8_t expected[8] = {0x00, 0x01, 0x33, 0x44, 0x55, 0xE0, 0x50, 0x00};
    EXPECT_EQ(std::memcmp(r.hdr.CurrentTaskFile, expected, 8), 0);
}

TEST_F(LinuxDevicesTest, RegistersFromFixedSense) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    // error 04, status 51, device E0, count 01; LBA 11 22 33; ASC/ASCQ 00h/1Dh.
    sg.answer.sense = {0x70, 0, 0x01, 0x04, 0x51, 0xE0, 0x01, 10, 0, 0x11, 0x22, 0x33, 0x00, 0x1D, 0, 0, 0, 0};
    AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 0, 0);
    ASSERT_TRUE(sendAta(r));
    const uint8_t expected[8] = {0x04, 0x01, 0x11, 0x22, 0x33, 0xE0, 0x51, 0x00};
    EXPECT_EQ(std::memcmp(r.hdr.CurrentTaskFile, expected, 8), 0);
}

TEST_F(LinuxDevicesTest, GoodStatusWithoutSenseCountsAsCompleted) {
    // A command byte with bit 0 set must not come back looking like ERR.
    AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xA0, 0x8F, 0}, 0, 0);
    ASSERT_TRUE(sendAta(r));
    EXPECT_EQ(r.hdr.CurrentTaskFile[6], 0x50);
    EXPECT_EQ(r.hdr.CurrentTaskFile[0], 0x00);
}

TEST_F(LinuxDevicesTest, ErrorSenseWithoutRegistersSetsErr) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = {0x72, 0x0B, 0x00, 0x00, 0, 0, 0, 0};  // ABORTED COMMAND
    AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 0, 0);
    ASSERT_TRUE(sendAta(r));
    EXPECT_EQ(r.hdr.CurrentTaskFile[6] & kAtaStatusErr, kAtaStatusErr);
    EXPECT_EQ(r.hdr.CurrentTaskFile[0], 0x04);

    // The same through the transport: the drive reported an error.
    IDEREGS tf;
    tf.bCommandReg = 0xEC;
    EXPECT_EQ(WriteATACommandWithTimeOutValue("\\\\.\\ide#sdz", &tf, nullptr, 0, 10), 0);
    EXPECT_EQ(tf.bCommandReg & kAtaStatusErr, kAtaStatusErr);
}

TEST_F(LinuxDevicesTest, ErrorKeyWithCleanRegistersStillFails) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = ataReturn(0x04, 0x00, 0x00, 0x50);  // HARDWARE ERROR
    AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 0, 0);
    ASSERT_TRUE(sendAta(r));
    EXPECT_EQ(r.hdr.CurrentTaskFile[6], 0x51);
}

TEST_F(LinuxDevicesTest, TransportFailuresFailTheCall) {
    struct Case {
        SgAnswer answer;
        uint32_t error;
    };
    std::vector<Case> cases;
    {
        SgAnswer a;
        a.hostStatus = 0x01;  // DID_NO_CONNECT
        cases.push_back({a, EIO});
    }
    {
        SgAnswer a;
        a.hostStatus = 0x03;  // DID_TIME_OUT
        cases.push_back({a, ETIMEDOUT});
    }
    {
        SgAnswer a;
        a.driverStatus = 0x06;  // DRIVER_TIMEOUT
        cases.push_back({a, EIO});
    }
    {
        SgAnswer a;
        a.status = kScsiStatusCheckCondition;
        a.driverStatus = 0x08;
        a.sense = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 40};  // cut sense
        cases.push_back({a, EIO});
    }
    {
        SgAnswer a;
        a.status = 0x08;  // BUSY
        cases.push_back({a, EIO});
    }
    {
        SgAnswer a;
        a.error = ENODEV;
        cases.push_back({a, ENODEV});
    }
    for (const Case& k : cases) {
        sg.answer = k.answer;
        AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 0x03, 512);
        EXPECT_FALSE(sendAta(r));
        EXPECT_EQ(devices.lastError(), k.error);
    }
    // Through the transport, a failed control call is -1 with its log line.
    IDEREGS tf;
    tf.bCommandReg = 0xEC;
    uint8_t buf[512];
    EXPECT_EQ(ReadATACommandWithTimeOutValue("\\\\.\\ide#sdz", &tf, buf, 512, 10), -1);
    EXPECT_TRUE(kernel.logged("ReadATACommandWithTimeOutValue() fail\r\n"));
}

TEST_F(LinuxDevicesTest, PermissionRefusedCommandIsExplained) {
    sg.answer.error = EPERM;
    AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 0, 0);
    EXPECT_FALSE(sendAta(r));
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(EPERM));
    EXPECT_TRUE(kernel.logged("SG_IO on " + node + ": permission denied (ATA commands need root rights)\r\n"));
}

TEST_F(LinuxDevicesTest, MalformedAtaRequestsAreRefused) {
    const DeviceHandle h = devices.open("\\\\.\\ide#sdz", AccessRead, ShareRead);
    ASSERT_NE(h, kInvalidDevice);
    uint32_t returned = 0;
    const uint32_t full = sizeof(AtaRequest);
    {
        AtaRequest r = ataRequest({}, 0x03, 512);
        r.hdr.Length = static_cast<uint16_t>(sizeof(AtaPassThroughEx) + 1);
        EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &r, full, &r, full, &returned));
    }
    {
        AtaRequest r = ataRequest({}, 0x03, 4096);  // data area runs past the output
        EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &r, full, &r, 100, &returned));
    }
    {
        AtaRequest r = ataRequest({}, 0x07, 512);  // both directions
        EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &r, full, &r, full, &returned));
    }
    {
        AtaRequest r = ataRequest({}, 0x0B, 512);  // 48-bit
        EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &r, full, &r, full, &returned));
    }
    {
        AtaRequest r = ataRequest({}, 0x01, 512);  // data without a direction
        EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &r, full, &r, full, &returned));
    }
    {
        AtaRequest r = ataRequest({}, 0x03, 512);
        r.hdr.DataBufferOffset = 8;  // inside the header
        EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &r, full, &r, full, &returned));
    }
    {
        AtaRequest r = ataRequest({}, 0, 0);
        EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &r, 20, &r, 20, &returned));
        EXPECT_FALSE(devices.control(h, 0x12345, &r, full, &r, full, &returned));
    }
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(ENOTTY));
    EXPECT_TRUE(sg.calls.empty());
    devices.close(h);
}

// ---------------------------------------------------------------------------------------
// SCSI pass-through

TEST_F(LinuxDevicesTest, ScsiBlockGoesUnchanged) {
    sg.answer.data = {0x00, 0x80, 0x06, 0x02, 31};
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 36, 0};
    uint8_t buf[36] = {};
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue("\\\\.\\usb#sdz", cdb, 6, buf, 36, 300), 1);
    ASSERT_EQ(sg.calls.size(), 1u);
    EXPECT_EQ(sg.calls[0].cdb, std::vector<uint8_t>(cdb, cdb + 6));
    EXPECT_EQ(sg.calls[0].direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(sg.calls[0].buffer, static_cast<void*>(buf));
    EXPECT_EQ(sg.calls[0].length, 36u);
    EXPECT_EQ(sg.calls[0].timeout, 300000u);
    EXPECT_EQ(buf[1], 0x80);

    const uint8_t ata12[12] = {0xA1, 0x0A, 0x06, 0x03, 0x01, 0, 0, 0, 0xA0, 0x92, 0, 0};
    const std::vector<uint8_t> image(512, 0x5A);
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue("\\\\.\\usb#sdz", ata12, 12, image.data(), 512, 10), 1);
    EXPECT_EQ(sg.calls[1].cdb, std::vector<uint8_t>(ata12, ata12 + 12));
    EXPECT_EQ(sg.calls[1].direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(sg.calls[1].dataOut, image);

    EXPECT_EQ(WriteSCSICommandWithTimeOutValue("\\\\.\\usb#sdz", cdb, 6, nullptr, 0, 10), 1);
    EXPECT_EQ(sg.calls[2].direction, SG_DXFER_NONE);
}

TEST_F(LinuxDevicesTest, ScsiStatusSenseAndResidualComeBack) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.resid = 100;
    for (int i = 0; i < 40; ++i) sg.answer.sense.push_back(static_cast<uint8_t>(0xC0 + i));
    ScsiPassThroughDirectWithSense r{};
    r.sptd.Length = sizeof(ScsiPassThroughDirect);
    r.sptd.CdbLength = 6;
    r.sptd.DataIn = kScsiDataIn;
    uint8_t buf[512];
    r.sptd.DataBuffer = buf;
    r.sptd.DataTransferLength = 512;
    r.sptd.SenseInfoLength = 20;
    r.sptd.SenseInfoOffset = offsetof(ScsiPassThroughDirectWithSense, Sense);
    const DeviceHandle h = devices.open("\\\\.\\usb#sdz", AccessRead, ShareRead);
    uint32_t returned = 0;
    ASSERT_TRUE(devices.control(h, kIoctlScsiPassThroughDirect, &r, sizeof(r), &r, sizeof(r), &returned));
    devices.close(h);
    EXPECT_EQ(r.sptd.ScsiStatus, kScsiStatusCheckCondition);
    EXPECT_EQ(r.sptd.SenseInfoLength, 20);
    EXPECT_EQ(r.sptd.DataTransferLength, 412u);
    EXPECT_EQ(r.Sense[0], 0xC0);
    EXPECT_EQ(r.Sense[19], 0xC0 + 19);
    EXPECT_EQ(r.Sense[20], 0);  // bounded by the room the request gave
    EXPECT_EQ(returned, r.sptd.SenseInfoOffset + 20u);
}

TEST_F(LinuxDevicesTest, ScsiCheckConditionThroughTheTransport) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0};
    const uint8_t cdb[12] = {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC};
    uint8_t buf[512];
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue("\\\\.\\usb#sdz", cdb, 12, buf, 512, 10), 0);
    EXPECT_TRUE(kernel.logged("SCSI CHECK CONDITION: sense key 05h, ASC 24h, ASCQ 00h\r\n"));
}

TEST_F(LinuxDevicesTest, MalformedScsiRequestsAreRefused) {
    const DeviceHandle h = devices.open("\\\\.\\usb#sdz", AccessRead, ShareRead);
    uint32_t returned = 0;
    const auto base = [] {
        ScsiPassThroughDirectWithSense r{};
        r.sptd.Length = sizeof(ScsiPassThroughDirect);
        r.sptd.CdbLength = 6;
        r.sptd.SenseInfoLength = 32;
        r.sptd.SenseInfoOffset = offsetof(ScsiPassThroughDirectWithSense, Sense);
        return r;
    };
    auto r = base();
    r.sptd.CdbLength = 17;
    EXPECT_FALSE(devices.control(h, kIoctlScsiPassThroughDirect, &r, sizeof(r), &r, sizeof(r), &returned));
    r = base();
    r.sptd.CdbLength = 0;
    EXPECT_FALSE(devices.control(h, kIoctlScsiPassThroughDirect, &r, sizeof(r), &r, sizeof(r), &returned));
    r = base();
    r.sptd.DataTransferLength = 512;  // no buffer
    EXPECT_FALSE(devices.control(h, kIoctlScsiPassThroughDirect, &r, sizeof(r), &r, sizeof(r), &returned));
    r = base();
    r.sptd.SenseInfoOffset = sizeof(r) - 8;  // sense room past the output
    EXPECT_FALSE(devices.control(h, kIoctlScsiPassThroughDirect, &r, sizeof(r), &r, sizeof(r), &returned));
    r = base();
    EXPECT_FALSE(devices.control(h, kIoctlScsiPassThroughDirect, &r, sizeof(r), &r,
                                 sizeof(ScsiPassThroughDirect), &returned));
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(EINVAL));
    EXPECT_TRUE(sg.calls.empty());
    devices.close(h);
}

// ---------------------------------------------------------------------------------------
// SMART receive

TEST_F(LinuxDevicesTest, IdentifyThroughSmartReceive) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = ataReturn(0x01, 0, 0, 0x50);
    for (int i = 0; i < 512; ++i) sg.answer.data.push_back(static_cast<uint8_t>(i * 3));
    IDEREGS tf;
    tf.bSectorCountReg = 1;
    tf.bCommandReg = 0xEC;
    std::vector<uint8_t> answer(512);
    EXPECT_EQ(SmartReceiveData("\\\\.\\ide#sdz", 3, tf, answer.data()), 0);
    EXPECT_EQ(answer, sg.answer.data);
    ASSERT_EQ(sg.calls.size(), 1u);
    const SgCall& c = sg.calls[0];
    EXPECT_EQ(c.cdb[0], 0x85);
    EXPECT_EQ(c.cdb[1], 0x08);  // PIO in
    EXPECT_EQ(c.cdb[2], 0x2E);
    EXPECT_EQ(c.cdb[6], 1);
    EXPECT_EQ(c.cdb[13], 0xB0);
    EXPECT_EQ(c.cdb[14], 0xEC);
    EXPECT_EQ(c.length, 512u);
    EXPECT_EQ(c.direction, SG_DXFER_FROM_DEV);
}

TEST_F(LinuxDevicesTest, SmartReceiveFailures) {
    IDEREGS tf;
    tf.bCommandReg = 0xEC;
    std::vector<uint8_t> answer(512, 0xEE);
    // The drive aborts IDENTIFY: the driver error byte is set, the transport fails.
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = ataReturn(0x01, 0x04, 0, 0x51);
    EXPECT_EQ(SmartReceiveData("\\\\.\\ide#sdz", 0, tf, answer.data()), -1);
    EXPECT_EQ(answer, std::vector<uint8_t>(512, 0xEE));
    // Only identify and SMART commands travel this way.
    tf.bCommandReg = 0x92;
    EXPECT_EQ(SmartReceiveData("\\\\.\\ide#sdz", 0, tf, answer.data()), -1);
    EXPECT_EQ(sg.calls.size(), 1u);
}

// ---------------------------------------------------------------------------------------
// Device numbers

class SysfsTree : public ::testing::Test {
protected:
    void SetUp() override {
        root = tmp_.path();
        disk("8:0", "devices/pci0/ata1/host0/target0/block/sda");
        part("8:1", "devices/pci0/ata1/host0/target0/block/sda/sda1", "1");
        part("8:2", "devices/pci0/ata1/host0/target0/block/sda/sda2", "2");
        disk("259:0", "devices/pci0/nvme/nvme0/nvme0n1");
        part("259:3", "devices/pci0/nvme/nvme0/nvme0n1/nvme0n1p1", "1");
        part("8:17", "devices/virtual/block/sdb/sdb1", "x1");
        fs::create_directories(root / "devices/virtual/block/sdb");
        std::ofstream(root / "devices/virtual/block/sdb/dev") << "8:16\n";
    }
    void link(const std::string& dev, const std::string& target) {
        fs::create_directories(root / "dev/block");
        fs::create_directory_symlink("../../" + target, root / "dev/block" / dev);
    }
    void disk(const std::string& dev, const std::string& at) {
        fs::create_directories(root / at);
        std::ofstream(root / at / "dev") << dev << "\n";
        link(dev, at);
    }
    void part(const std::string& dev, const std::string& at, const std::string& number) {
        fs::create_directories(root / at);
        std::ofstream(root / at / "dev") << dev << "\n";
        std::ofstream(root / at / "partition") << number << "\n";
        link(dev, at);
    }
    test::TempDir tmp_{"qx-sysfs"};
    fs::path root;
};

TEST_F(SysfsTree, WholeDiskAndPartitions) {
    const auto disk = linuxos::StorageNumberFromSysfs(root.string(), 8, 0);
    ASSERT_TRUE(disk.has_value());
    EXPECT_EQ(disk->DeviceType, kFileDeviceDisk);
    EXPECT_EQ(disk->DeviceNumber, (8u << 20) | 0u);
    EXPECT_EQ(disk->PartitionNumber, 0u);

    const auto p1 = linuxos::StorageNumberFromSysfs(root.string(), 8, 1);
    const auto p2 = linuxos::StorageNumberFromSysfs(root.string(), 8, 2);
    ASSERT_TRUE(p1 && p2);
    EXPECT_EQ(p1->DeviceNumber, disk->DeviceNumber);
    EXPECT_EQ(p2->DeviceNumber, disk->DeviceNumber);
    EXPECT_EQ(p1->PartitionNumber, 1u);
    EXPECT_EQ(p2->PartitionNumber, 2u);

    const auto nvme = linuxos::StorageNumberFromSysfs(root.string(), 259, 3);
    ASSERT_TRUE(nvme.has_value());
    EXPECT_EQ(nvme->DeviceNumber, (259u << 20) | 0u);
    EXPECT_EQ(nvme->PartitionNumber, 1u);
}

TEST_F(SysfsTree, UnknownOrBrokenEntries) {
    EXPECT_FALSE(linuxos::StorageNumberFromSysfs(root.string(), 8, 48).has_value());
    EXPECT_FALSE(linuxos::StorageNumberFromSysfs(root.string(), 8, 17).has_value());
    EXPECT_FALSE(linuxos::StorageNumberFromSysfs((root / "nowhere").string(), 8, 0).has_value());
}

TEST_F(LinuxDevicesTest, DeviceNumberNeedsABlockDevice) {
    const DeviceHandle h = devices.open("\\\\.\\ide#sdz", AccessNone, ShareRead | ShareWrite);
    StorageDeviceNumber n{};
    uint32_t returned = 0;
    EXPECT_FALSE(devices.control(h, kIoctlStorageGetDeviceNumber, nullptr, 0, &n, sizeof(n), &returned));
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(ENOTBLK));
    EXPECT_FALSE(devices.control(h, kIoctlStorageGetDeviceNumber, nullptr, 0, &n, 8, &returned));
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(EINVAL));
    devices.close(h);
}

// ---------------------------------------------------------------------------------------
// Short transfers and long sense data, through the transport on both paths

// Descriptor sense of a completed command that carries an information descriptor before
// the ATA Status Return: 8 + 12 + 14 = 34 bytes.
std::vector<uint8_t> recoveredWithInformation(uint8_t status) {
    return {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 26,
            0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78,
            0x09, 0x0C, 0, 0x00, 0, 0x01, 0, 0x33, 0, 0x44, 0, 0x55, 0xE0, status};
}

TEST_F(LinuxDevicesTest, AtaDataInThatMovedLessFails) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = ataReturn(0x01, 0, 0, 0x50);
    sg.answer.data.assign(512, 0x11);
    sg.answer.resid = 256;
    // The back-end reports the underrun the way the system does.
    AtaRequest r = ataRequest({0, 1, 0, 0, 0, 0xE0, 0xEC, 0}, 0x03, 512);
    ASSERT_TRUE(sendAta(r));
    EXPECT_EQ(r.hdr.DataTransferLength, 256u);
    // And the transport refuses the half sector.
    IDEREGS tf;
    tf.bSectorCountReg = 1;
    tf.bCommandReg = 0xEC;
    std::vector<uint8_t> buf(512, 0xCC);
    EXPECT_EQ(ReadATACommandWithTimeOutValue("\\\\.\\ide#sdz", &tf, buf.data(), 512, 10), -1);
    EXPECT_TRUE(kernel.logged("ReadATACommandWithTimeOutValue(): 256 of 512 bytes transferred\r\n"));
    EXPECT_EQ(buf, std::vector<uint8_t>(512, 0xCC));
    // A full transfer still passes.
    sg.answer.resid = 0;
    EXPECT_EQ(ReadATACommandWithTimeOutValue("\\\\.\\ide#sdz", &tf, buf.data(), 512, 10), 1);
    EXPECT_EQ(buf, sg.answer.data);
}

TEST_F(LinuxDevicesTest, SmartReceiveThatMovedLessFails) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = ataReturn(0x01, 0, 0, 0x50);
    sg.answer.data.assign(512, 0x22);
    sg.answer.resid = 12;
    IDEREGS tf;
    tf.bSectorCountReg = 1;
    tf.bCommandReg = 0xEC;
    std::vector<uint8_t> answer(512, 0xEE);
    EXPECT_EQ(SmartReceiveData("\\\\.\\ide#sdz", 0, tf, answer.data()), -1);
    EXPECT_TRUE(kernel.logged("SmartReceiveData(): 516 of 528 bytes returned\r\n"));
}

TEST_F(LinuxDevicesTest, ScsiDataInThatMovedLessFails) {
    sg.answer.data = {0x00, 0x80, 0x06, 0x02, 31};
    sg.answer.resid = 4;
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 40, 0};
    uint8_t buf[40] = {};
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue("\\\\.\\usb#sdz", cdb, 6, buf, 40, 300), 0);
    EXPECT_TRUE(kernel.logged("ReadSCSICommandWithTimeOutValue(): 36 of 40 bytes transferred\r\n"));
}

TEST_F(LinuxDevicesTest, RecoveredErrorWithInformationDescriptorOnTheAtaPath) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = recoveredWithInformation(0x50);
    IDEREGS tf;
    tf.bFeaturesReg = 0xDC;
    tf.bSectorCountReg = 0x51;
    tf.bCommandReg = 0xEF;
    EXPECT_EQ(WriteATACommandWithTimeOutValue("\\\\.\\ide#sdz", &tf, nullptr, 0, 10), 1);
    EXPECT_EQ(tf.bCommandReg, 0x50);
    EXPECT_EQ(tf.bSectorCountReg, 0x01);
    EXPECT_EQ(tf.bCylHighReg, 0x55);
    // The same reply with ERR in its status is a failure.
    sg.answer.sense = recoveredWithInformation(0x51);
    EXPECT_EQ(WriteATACommandWithTimeOutValue("\\\\.\\ide#sdz", &tf, nullptr, 0, 10), 0);
}

TEST_F(LinuxDevicesTest, RecoveredErrorWithInformationDescriptorOnTheScsiPath) {
    sg.answer.status = kScsiStatusCheckCondition;
    sg.answer.driverStatus = 0x08;
    sg.answer.sense = recoveredWithInformation(0x50);
    const uint8_t cdb[12] = {0xA1, 0x06, 0x20, 0xDC, 0x51, 0, 0, 0, 0xE0, 0xEF, 0, 0};
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue("\\\\.\\usb#sdz", cdb, 12, nullptr, 0, 10), 1);
    EXPECT_TRUE(kernel.output.empty());
    ASSERT_EQ(sg.calls.size(), 1u);
    EXPECT_GE(sg.calls[0].senseRoom, 34);
    sg.answer.sense = recoveredWithInformation(0x51);
    EXPECT_EQ(WriteSCSICommandWithTimeOutValue("\\\\.\\usb#sdz", cdb, 12, nullptr, 0, 10), 0);
}

}  // namespace
}  // namespace qx
