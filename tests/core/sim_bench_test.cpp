// The simulated bench as the platform: system information, kernel, device opening and
// the sharing rules, device numbers, request decoding (ATA, SCSI, SMART receive) with
// malformed requests, and faults at a given occurrence.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/DeviceIoctl.h"
#include "platform/sim/SimTrace.h"
#include "support/SimFixture.h"

namespace qx {
namespace {

using sim::DataDir;
using sim::FaultKind;
using sim::SimBenchSpec;
using sim::SimFault;
using test::fault;
using test::rawAta;
using test::rawSat;
using test::rawScsi;
using test::regs;

SimBenchSpec benchOf(std::vector<sim::SimDiskSpec> disks) {
    SimBenchSpec s;
    s.disks = std::move(disks);
    return s;
}

// ------------------------------------------------------------------------- system
TEST(SimBenchDemo, ListsTheDemoDisksInOrder) {
    test::SimFixture f;
    auto disks = platform().system->diskInterfaces();
    ASSERT_TRUE(disks.has_value());
    ASSERT_EQ(disks->size(), 7u);
    EXPECT_EQ((*disks)[0],
              "\\\\?\\ide#diskquorvex_qx-t74_256gb_______________1.02____#5&1a2b3c4d&0&0.0.0#"
              "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_NE((*disks)[2].find("usbstor"), std::string::npos);
    EXPECT_EQ(f.bench.setup().disks[2].inquiryCode[0], 'k');
    EXPECT_EQ(f.bench.setup().disks[4].drive.rotationRate, 7200);
    EXPECT_EQ(f.bench.driveState(1).buildInfo[6], '1');
    // Volumes C, D, E.
    EXPECT_EQ(platform().system->logicalDrives(), (1u << 2) | (1u << 3) | (1u << 4));
    EXPECT_EQ(platform().system->windowsDirectory(), "C:\\WINDOWS");
}

TEST(SimBenchSystem, EnumerationVersionAndRescanFollowTheSpec) {
    SimBenchSpec s = benchOf({test::makerSataDisk(1)});
    s.os = OsVersion{true, true, 5, 1, 1};
    s.systemLetter = 'D';
    s.rescanFailsAt = 2;
    test::SimFixture f(s);
    EXPECT_EQ(platform().system->windowsDirectory(), "D:\\WINDOWS");
    EXPECT_EQ(platform().system->logicalDrives(), 1u << 3);
    const OsVersion v = platform().system->osVersion();
    EXPECT_EQ(v.major, 5u);
    EXPECT_EQ(v.servicePackMajor, 1);
    uint32_t code = 0;
    EXPECT_EQ(platform().system->rescan(&code), 2);
    EXPECT_NE(code, 0u);
    f.bench.setup().rescanFailsAt = 0;
    EXPECT_EQ(platform().system->rescan(&code), 0);
    EXPECT_EQ(f.bench.rescanCount(), 2);
    f.bench.setup().enumerationFails = true;
    EXPECT_FALSE(platform().system->diskInterfaces().has_value());
}

// ------------------------------------------------------------------------- kernel
class HostKernel : public Kernel {
public:
    std::string executablePath() override { return "/opt/host/qxupdater"; }
    bool acquireSingleInstance(const char*) override { return ++instances == 1; }
    void debugOutput(const char* t) override { debug.push_back(t); }
    std::unique_ptr<NamedLock> openNamedLock(const char*) override { return nullptr; }
    std::string profileString(const std::string&, const std::string&, const std::string&,
                              const std::string&) override { return "host"; }
    int32_t profileInt(const std::string&, const std::string&, int32_t, const std::string&) override { return 7; }
    bool writeProfileString(const std::string&, const std::string&, const std::string&,
                            const std::string&) override { return true; }
    int shutDownComputer() override { return ++shutdowns; }
    int instances = 0;
    int shutdowns = 0;
    std::vector<std::string> debug;
};

TEST(SimBenchClock, VirtualUnlessTheRealClockIsChosen) {
    test::SimFixture f(benchOf({}));
    Clock& c = *platform().clock;
    const uint32_t t0 = c.tickCount();
    c.sleep(300000);  // five minutes, at once
    EXPECT_EQ(c.tickCount() - t0, 300000u);
    EXPECT_EQ(f.clock().now(), 1000u + 300000u);
    // The real clock (tests do not wait on it: only that the platform follows the switch).
    f.bench.useRealClock(true);
    const uint32_t r0 = c.tickCount();
    c.sleep(0);
    const uint32_t r1 = c.tickCount();
    EXPECT_NE(r0, f.clock().tickCount());
    EXPECT_LT(r1 - r0, 60000u) << "monotonic";
    EXPECT_EQ(f.clock().now(), 1000u + 300000u) << "the virtual clock stood still";
    f.bench.useRealClock(false);
    c.sleep(1);
    EXPECT_EQ(f.clock().now(), 1000u + 300001u);
}

TEST(SimBenchKernel, OwnKernelKeepsEverythingInMemory) {
    SimBenchSpec s = benchOf({});
    s.executablePath = "C:\\demo\\qxupdater.exe";
    test::SimFixture f(s);
    Kernel& k = *platform().kernel;
    EXPECT_EQ(k.executablePath(), "C:\\demo\\qxupdater.exe");
    EXPECT_TRUE(k.acquireSingleInstance("QXUpdater"));
    EXPECT_FALSE(k.acquireSingleInstance("QXUpdater"));
    EXPECT_TRUE(k.acquireSingleInstance("Other"));
    k.debugOutput("FAILED(VC_SATA_ReadCmd)\r\n");
    ASSERT_EQ(f.bench.debugOutput().size(), 1u);
    EXPECT_EQ(f.bench.debugOutput()[0], "FAILED(VC_SATA_ReadCmd)\r\n");
    auto lock = k.openNamedLock("DBGAcess");
    ASSERT_NE(lock, nullptr);
    lock->lock();
    lock->unlock();
    EXPECT_EQ(k.shutDownComputer(), 1);
    EXPECT_EQ(f.bench.shutdownRequests(), 1);
    EXPECT_EQ(k.profileString("S", "K", "def", "missing.ini"), "def");
}

TEST(SimBenchKernel, HostKernelServesAllButThePowerOff) {
    HostKernel host;
    VirtualClock hostClock;
    sim::SimBench bench(benchOf({test::makerSataDisk(1)}));
    const Platform p = bench.platform(&host, &hostClock);
    hostClock.advance(5000);
    EXPECT_EQ(p.clock->tickCount(), hostClock.tickCount());
    p.clock->sleep(10);
    EXPECT_EQ(hostClock.now(), 1000u + 5000u + 10u);
    EXPECT_EQ(p.kernel->executablePath(), "/opt/host/qxupdater");
    EXPECT_TRUE(p.kernel->acquireSingleInstance("QXUpdater"));
    EXPECT_FALSE(p.kernel->acquireSingleInstance("QXUpdater"));
    p.kernel->debugOutput("x");
    EXPECT_EQ(host.debug.size(), 1u);
    EXPECT_EQ(bench.debugOutput().size(), 1u);
    EXPECT_EQ(p.kernel->profileInt("S", "K", 0, "f.ini"), 7);
    EXPECT_EQ(p.kernel->shutDownComputer(), 1);
    EXPECT_EQ(host.shutdowns, 0) << "the bench never powers anything off";
    // Commands take their time on the host clock.
    const uint64_t before = hostClock.now();
    const Platform saved = platform();
    installPlatform(p);
    uint8_t id[512];
    EXPECT_TRUE(rawAta(bench.setup().disks[0].path.c_str(), regs(0xEC, 0, 1), DataDir::In, id, 512).ok);
    installPlatform(saved);
    EXPECT_EQ(hostClock.now() - before, 1u);
    EXPECT_EQ(bench.clock().now(), 1000u) << "the bench's own clock did not move";
}

// ------------------------------------------------------------------------- opening
TEST(SimBenchOpen, PathsMatchWithoutRegardToCaseAndUnknownOnesFail) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    DeviceIo& io = *platform().devices;
    std::string upper = f.path(0);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const DeviceHandle h = io.open(upper.c_str(), AccessRead | AccessWrite, ShareNone);
    ASSERT_NE(h, kInvalidDevice);
    io.close(h);
    EXPECT_EQ(io.open("\\\\?\\ide#nothing", AccessRead, ShareRead), kInvalidDevice);
    EXPECT_EQ(io.lastError(), 2u);
    EXPECT_EQ(io.open(nullptr, AccessRead, ShareRead), kInvalidDevice);
    EXPECT_EQ(f.bench.openCount(0), 1);
    EXPECT_EQ(f.bench.openHandles(), 0);
}

TEST(SimBenchOpen, ExclusiveOpenIsRefusedWhileAnotherHandleIsOpen) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    DeviceIo& io = *platform().devices;
    const uint32_t rw = AccessRead | AccessWrite;
    const DeviceHandle shared = io.open(f.path(0), rw, ShareRead | ShareWrite);
    ASSERT_NE(shared, kInvalidDevice);
    EXPECT_EQ(io.open(f.path(0), rw, ShareNone), kInvalidDevice);
    EXPECT_EQ(io.lastError(), 32u);
    const DeviceHandle second = io.open(f.path(0), rw, ShareRead | ShareWrite);
    EXPECT_NE(second, kInvalidDevice) << "shared opens coexist";
    io.close(second);
    io.close(shared);
    const DeviceHandle exclusive = io.open(f.path(0), rw, ShareNone);
    ASSERT_NE(exclusive, kInvalidDevice);
    EXPECT_EQ(io.open(f.path(0), rw, ShareRead | ShareWrite), kInvalidDevice);
    EXPECT_EQ(io.lastError(), 32u);
    const DeviceHandle query = io.open(f.path(0), AccessNone, ShareRead | ShareWrite);
    EXPECT_NE(query, kInvalidDevice) << "an open without access rights takes no part";
    io.close(query);
    io.close(exclusive);
    // The ATA path fails to open while another handle is held.
    const DeviceHandle held = io.open(f.path(0), rw, ShareRead | ShareWrite);
    uint8_t id[512];
    const auto r = rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.lastError, 32u);
    io.close(held);
}

TEST(SimBenchOpen, AnotherProcessHoldingTheDisk) {
    auto disk = test::makerSataDisk(1);
    disk.heldByOther = sim::SimHold::Shared;
    test::SimFixture f(benchOf({disk}));
    DeviceIo& io = *platform().devices;
    const uint32_t rw = AccessRead | AccessWrite;
    EXPECT_EQ(io.open(f.path(0), rw, ShareNone), kInvalidDevice);
    const DeviceHandle h = io.open(f.path(0), rw, ShareRead | ShareWrite);
    EXPECT_NE(h, kInvalidDevice);
    io.close(h);
    f.bench.setup().disks[0].heldByOther = sim::SimHold::Exclusive;
    EXPECT_EQ(io.open(f.path(0), rw, ShareRead | ShareWrite), kInvalidDevice);
    EXPECT_EQ(io.lastError(), 32u);
}

// ------------------------------------------------------------------------- device numbers
StorageDeviceNumber deviceNumberOf(const char* path, bool& ok) {
    DeviceIo& io = *platform().devices;
    StorageDeviceNumber n{99, 99, 99};
    ok = false;
    const DeviceHandle h = io.open(path, AccessNone, ShareRead | ShareWrite);
    if (h == kInvalidDevice) return n;
    uint32_t got = 0;
    ok = io.control(h, kIoctlStorageGetDeviceNumber, nullptr, 0, &n, sizeof n, &got);
    io.close(h);
    return n;
}

TEST(SimBenchDeviceNumber, DisksAndTheirVolumes) {
    auto a = test::makerSataDisk(1);
    auto b = test::makerSataDisk(2);
    b.volumes = {'E', 'F'};
    SimBenchSpec s = benchOf({a, b});
    s.systemLetter = 'C';
    test::SimFixture f(s);
    bool ok = false;
    StorageDeviceNumber n = deviceNumberOf(f.path(1), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(n.DeviceType, 7u);
    EXPECT_EQ(n.DeviceNumber, 1u);
    EXPECT_EQ(n.PartitionNumber, 0u);
    n = deviceNumberOf("\\\\.\\F:", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(n.DeviceNumber, 1u);
    EXPECT_EQ(n.PartitionNumber, 2u);
    n = deviceNumberOf("\\\\.\\e:", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(n.PartitionNumber, 1u);
    // The system volume lies on a disk the bench does not list.
    n = deviceNumberOf("\\\\.\\C:", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(n.DeviceNumber, 2u);
    deviceNumberOf("\\\\.\\G:", ok);
    EXPECT_FALSE(ok);
    // Too small an answer buffer.
    DeviceIo& io = *platform().devices;
    const DeviceHandle h = io.open(f.path(0), AccessNone, ShareRead | ShareWrite);
    uint8_t small[8];
    EXPECT_FALSE(io.control(h, kIoctlStorageGetDeviceNumber, nullptr, 0, small, sizeof small, nullptr));
    EXPECT_EQ(io.lastError(), 122u);
    io.close(h);
}

// ------------------------------------------------------------------------- ATA requests
class AtaRequest : public ::testing::Test {
protected:
    AtaRequest() : f(benchOf({test::makerSataDisk(1), test::usbBridgeDisk(2, "k403")})) {
        h = platform().devices->open(f.path(0), AccessRead | AccessWrite, ShareNone);
        hdr.Length = sizeof(AtaPassThroughEx);
        hdr.AtaFlags = 0x03;
        hdr.DataTransferLength = 512;
        hdr.TimeOutValue = 10;
        hdr.DataBufferOffset = sizeof(AtaPassThroughEx);
        const auto tf = regs(0xEC, 0, 1);
        std::memcpy(hdr.CurrentTaskFile, tf.data(), 8);
    }
    ~AtaRequest() override { platform().devices->close(h); }
    bool send(uint32_t inLen, uint32_t outLen) {
        buf.assign(sizeof(AtaPassThroughEx) + 512, 0);
        std::memcpy(buf.data(), &hdr, sizeof hdr);
        return platform().devices->control(h, kIoctlAtaPassThrough, buf.data(), inLen,
                                           buf.data(), outLen, nullptr);
    }
    test::SimFixture f;
    DeviceHandle h = kInvalidDevice;
    AtaPassThroughEx hdr{};
    std::vector<uint8_t> buf;
    const uint32_t full = sizeof(AtaPassThroughEx) + 512;
};

TEST_F(AtaRequest, AWellFormedIdentify) {
    ASSERT_TRUE(send(full, full));
    AtaPassThroughEx back;
    std::memcpy(&back, buf.data(), sizeof back);
    EXPECT_EQ(back.CurrentTaskFile[6], 0x50);
    EXPECT_EQ(back.CurrentTaskFile[0], 0x00);
    EXPECT_EQ(sim::readAtaString(buf.data() + sizeof back + 20, 20), "QX74T0000001");
}

TEST_F(AtaRequest, MalformedRequestsFailTheCall) {
    EXPECT_FALSE(send(sizeof(AtaPassThroughEx) - 1, full));
    EXPECT_EQ(platform().devices->lastError(), 87u);
    EXPECT_FALSE(send(full, full - 1)) << "data area beyond the output buffer";
    EXPECT_EQ(platform().devices->lastError(), 87u);
    hdr.Length = 40 + 8;
    if (sizeof(AtaPassThroughEx) == 48) hdr.Length = 40;
    EXPECT_FALSE(send(full, full)) << "wrong Length";
    hdr.Length = sizeof(AtaPassThroughEx);
    hdr.DataBufferOffset = 0xFFFFFFF0u;
    EXPECT_FALSE(send(full, full)) << "offset far outside";
    hdr.DataBufferOffset = 8;
    EXPECT_FALSE(send(full, full)) << "data area over the header";
    hdr.DataBufferOffset = sizeof(AtaPassThroughEx);
    hdr.AtaFlags = 0x07;
    EXPECT_FALSE(send(full, full)) << "both directions";
    hdr.AtaFlags = 0x00;
    EXPECT_FALSE(send(full, full)) << "data without a direction";
    EXPECT_FALSE(platform().devices->control(h, kIoctlAtaPassThrough, nullptr, full, nullptr, full, nullptr));
    EXPECT_FALSE(platform().devices->control(h + 1000, kIoctlAtaPassThrough, buf.data(), full,
                                             buf.data(), full, nullptr));
    EXPECT_EQ(platform().devices->lastError(), 6u);
    EXPECT_FALSE(platform().devices->control(h, 0x12345, buf.data(), full, buf.data(), full, nullptr));
    EXPECT_EQ(platform().devices->lastError(), 1u);
    EXPECT_EQ(f.drive(0).commandCount, 0u) << "none of them reached the drive";
}

TEST_F(AtaRequest, NeedsReadWriteAccessAndAnAtaDisk) {
    platform().devices->close(h);
    h = platform().devices->open(f.path(0), AccessRead, ShareRead);
    EXPECT_FALSE(send(full, full));
    EXPECT_EQ(platform().devices->lastError(), 5u);
    uint8_t id[512];
    const auto r = rawAta(f.path(1), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_TRUE(r.opened);
    EXPECT_FALSE(r.ok) << "no ATA pass-through to a USB enclosure";
    EXPECT_EQ(r.lastError, 1u);
}

TEST_F(AtaRequest, DriveErrorsComeBackInTheTaskFile) {
    platform().devices->close(h);
    h = kInvalidDevice;
    const auto r = rawAta(f.path(0), regs(0x25), DataDir::None, nullptr, 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.taskFile[6], 0x51);
    EXPECT_EQ(r.taskFile[0], 0x04);
}

// ------------------------------------------------------------------------- SCSI requests
TEST(SimBenchScsi, InquiryCarriesTheBridgeCode) {
    auto usb = test::usbBridgeDisk(1, "k403");
    auto shortAnswer = test::usbBridgeDisk(2, "k401");
    shortAnswer.inquiryLength = 36;
    test::SimFixture f(benchOf({usb, shortAnswer}));
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0};
    uint8_t answer[40];
    std::memset(answer, 0xEE, sizeof answer);
    auto r = rawScsi(f.path(0), cdb, 12, true, answer, 40);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.scsiStatus, 0);
    EXPECT_EQ(r.transferred, 40u);
    EXPECT_EQ(std::memcmp(answer + 36, "k403", 4), 0);
    EXPECT_EQ(answer[4], 35);
    std::memset(answer, 0xEE, sizeof answer);
    r = rawScsi(f.path(1), cdb, 12, true, answer, 40);
    EXPECT_EQ(r.transferred, 36u);
    EXPECT_EQ(answer[36], 0xEE) << "nothing beyond the answer";
    // An allocation length shorter than the answer.
    const uint8_t cdb8[12] = {0x12, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
    r = rawScsi(f.path(0), cdb8, 12, true, answer, 40);
    EXPECT_EQ(r.transferred, 8u);
}

TEST(SimBenchScsi, AtaPassThroughBehindABridge) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k403")}));
    uint8_t id[512] = {};
    auto r = rawSat(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.scsiStatus, 0);
    EXPECT_TRUE(r.sense.empty());
    EXPECT_EQ(sim::readAtaString(id + 54, 40), "Quorvex QX-T74 256GB");
    // An ATA error: CHECK CONDITION, descriptor sense, ABORTED COMMAND, ATA status return.
    r = rawSat(f.path(0), regs(0x25), DataDir::None, nullptr, 0);
    ASSERT_TRUE(r.ok) << "the system delivered the command";
    EXPECT_EQ(r.scsiStatus, 2);
    ASSERT_EQ(r.sense.size(), 22u);
    EXPECT_EQ(r.sense[0], 0x72);
    EXPECT_EQ(r.sense[1], 0x0B);
    EXPECT_EQ(r.sense[2], 0x00);
    EXPECT_EQ(r.sense[3], 0x00);
    EXPECT_EQ(r.sense[7], 14);
    EXPECT_EQ(r.sense[8], 0x09);
    EXPECT_EQ(r.sense[9], 0x0C);
    EXPECT_EQ(r.sense[8 + 3], 0x04) << "error register";
    EXPECT_EQ(r.sense[8 + 13], 0x51) << "status register";
}

TEST(SimBenchScsi, CheckConditionOnRequestWithCkCond) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k403")}));
    const uint8_t cdb[12] = {0xA1, 3 << 1, 0x20, 0xDC, 0x51, 0, 0, 0, 0xE0, 0xEF, 0, 0};
    const auto r = rawScsi(f.path(0), cdb, 12, false, nullptr, 0);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.scsiStatus, 2);
    ASSERT_GE(r.sense.size(), 22u);
    EXPECT_EQ(r.sense[1], 0x01);
    EXPECT_EQ(r.sense[3], 0x1D);
    EXPECT_EQ(r.sense[8 + 13], 0x50);
    EXPECT_TRUE(f.drive(0).vendorMode);
}

TEST(SimBenchScsi, RefusedCommandBlocks) {
    auto noAta = test::usbBridgeDisk(1, "k412");
    noAta.passesAta = false;
    auto empty = test::usbBridgeDisk(2, "k403");
    empty.hasDrive = false;
    test::SimFixture f(benchOf({noAta, empty, test::usbBridgeDisk(3, "k403")}));
    uint8_t id[512];
    auto r = rawSat(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.scsiStatus, 2);
    EXPECT_EQ(r.sense[1], 0x05);
    EXPECT_EQ(r.sense[2], 0x20);
    r = rawSat(f.path(1), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(r.sense[1], 0x02) << "no medium";
    const uint8_t unknown[12] = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    r = rawScsi(f.path(2), unknown, 12, true, id, 512);
    EXPECT_EQ(r.scsiStatus, 2);
    EXPECT_EQ(r.sense[1], 0x05);
    EXPECT_EQ(r.sense[2], 0x20);
    EXPECT_EQ(r.sense[3], 0x00);
    // Data direction of the request against the protocol of the CDB.
    const uint8_t pioInButOut[12] = {0xA1, 4 << 1, 0x0E, 0, 1, 0, 0, 0, 0xE0, 0xEC, 0, 0};
    r = rawScsi(f.path(2), pioInButOut, 12, false, id, 512);
    EXPECT_EQ(r.sense[1], 0x05);
    EXPECT_EQ(r.sense[2], 0x24);
    EXPECT_EQ(f.drive(2).commandCount, 0u);
}

// scsi-ata12 = no models Windows' inbox AHCI driver: the SCSI pass-through to a disk on a
// SCSI path refuses ATA PASS-THROUGH(12) with ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE
// and never hands it to the drive; ATA PASS-THROUGH(16), the ATA pass-through and a USB
// bridge are not affected.
TEST(SimBenchScsi, AhciDriverRefusesTheTwelveByteAtaPassThrough) {
    auto sata = test::makerSataDisk(1);
    sata.bus = sim::SimBus::Scsi;
    sata.path = "\\\\?\\scsi#disk&ven_quorvex&prod_one#4&1&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    SimBenchSpec setup = benchOf({sata, test::usbBridgeDisk(2, "k403")});
    setup.scsiAta12 = false;
    test::SimFixture f(setup);
    uint8_t id[512] = {};
    auto r = rawSat(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    ASSERT_TRUE(r.ok) << "the system delivered the request";
    EXPECT_EQ(r.scsiStatus, 2);
    ASSERT_GE(r.sense.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(r.sense.begin(), r.sense.begin() + 4), (std::vector<uint8_t>{0x72, 0x05, 0x20, 0x00}));
    EXPECT_EQ(f.drive(0).commandCount, 0u);
    // ATA PASS-THROUGH(16), PIO data in, IDENTIFY DEVICE.
    const uint8_t sixteen[16] = {0x85, 4 << 1, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0};
    r = rawScsi(f.path(0), sixteen, 16, true, id, 512);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.scsiStatus, 0);
    EXPECT_EQ(sim::readAtaString(id + 54, 40), "Quorvex QX-T74 256GB");
    EXPECT_TRUE(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).ok);
    r = rawSat(f.path(1), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(r.scsiStatus, 0) << "a USB bridge is no SCSI-path disk";

    // The default (yes) passes it on, as before.
    SimBenchSpec passes = benchOf({sata});
    test::SimFixture g(passes);
    r = rawSat(g.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(r.scsiStatus, 0);
}

// Failed calls carry Windows' text for their code, in the records and the trace.
TEST(SimBenchFaults, FailedCallsCarryWindowsErrorText) {
    auto disk = test::makerSataDisk(1);
    SimFault failing;
    failing.key = "ata:ec";
    failing.occurrence = 1;
    failing.kind = FaultKind::ControlFails;
    disk.faults.push_back(failing);
    test::SimFixture f(benchOf({disk}));
    uint8_t id[512] = {};
    EXPECT_FALSE(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).ok);
    ASSERT_FALSE(f.bench.calls().empty());
    EXPECT_EQ(f.bench.calls().back().lastError, 1117u);
    EXPECT_EQ(f.bench.calls().back().lastErrorText,
              "The request could not be performed because of an I/O device error.");
    EXPECT_NE(sim::formatTraceLine(f.bench.calls().back())
                  .find("\"lastErrorText\":\"The request could not be performed because of an I/O device error.\""),
              std::string::npos);
    EXPECT_EQ(platform().devices->errorText(32),
              "The process cannot access the file because it is being used by another process.");
    EXPECT_EQ(platform().devices->errorText(987654), "");
}

TEST(SimBenchScsi, MalformedRequestsFailTheCall) {
    test::SimFixture f(benchOf({test::usbBridgeDisk(1, "k403")}));
    DeviceIo& io = *platform().devices;
    const DeviceHandle h = io.open(f.path(0), AccessRead | AccessWrite, ShareRead | ShareWrite);
    ScsiPassThroughDirectWithSense req{};
    req.sptd.Length = sizeof(ScsiPassThroughDirect);
    req.sptd.CdbLength = 12;
    req.sptd.Cdb[0] = 0x12;
    req.sptd.Cdb[4] = 40;
    req.sptd.DataIn = 1;
    req.sptd.DataTransferLength = 40;
    req.sptd.DataBuffer = nullptr;
    EXPECT_FALSE(io.control(h, kIoctlScsiPassThroughDirect, &req, sizeof req, &req, sizeof req, nullptr));
    EXPECT_EQ(io.lastError(), 87u) << "data without a buffer";
    uint8_t answer[40];
    req.sptd.DataBuffer = answer;
    req.sptd.CdbLength = 17;
    EXPECT_FALSE(io.control(h, kIoctlScsiPassThroughDirect, &req, sizeof req, &req, sizeof req, nullptr));
    req.sptd.CdbLength = 12;
    req.sptd.SenseInfoLength = 32;
    req.sptd.SenseInfoOffset = sizeof req;  // beyond the output buffer
    EXPECT_FALSE(io.control(h, kIoctlScsiPassThroughDirect, &req, sizeof req, &req, sizeof req, nullptr));
    req.sptd.SenseInfoLength = 0;
    EXPECT_FALSE(io.control(h, kIoctlScsiPassThroughDirect, &req, sizeof(ScsiPassThroughDirect) - 1,
                            &req, sizeof req, nullptr));
    EXPECT_TRUE(io.control(h, kIoctlScsiPassThroughDirect, &req, sizeof(ScsiPassThroughDirect),
                           &req, sizeof(ScsiPassThroughDirect), nullptr))
        << "no sense asked: the bare request is enough";
    io.close(h);
}

// ------------------------------------------------------------------------- SMART receive
bool smartReceive(const char* path, uint8_t command, uint8_t features, uint8_t* answer528,
                  uint32_t outLen = kSmartAnswerLength) {
    DeviceIo& io = *platform().devices;
    const DeviceHandle h = io.open(path, AccessRead | AccessWrite, ShareRead | ShareWrite);
    if (h == kInvalidDevice) return false;
    SendCmdInParams p{};
    p.cBufferSize = 512;
    p.irDriveRegs = {features, 1, 0, 0x4F, 0xC2, 0xA0, command, 0};
    p.bDriveNumber = 0;
    const bool ok = io.control(h, kSmartRcvDriveData, &p, kSmartRequestLength, answer528, outLen, nullptr);
    io.close(h);
    return ok;
}

TEST(SimBenchSmartReceive, IdentifyAtOffsetSixteen) {
    test::SimFixture f(benchOf({test::makerSataDisk(1), test::usbBridgeDisk(2, "k403")}));
    uint8_t answer[kSmartAnswerLength];
    ASSERT_TRUE(smartReceive(f.path(0), 0xEC, 0, answer));
    EXPECT_EQ(answer[4], 0) << "driver error";
    EXPECT_EQ(sim::readAtaString(answer + 16 + 20, 20), "QX74T0000001");
    ASSERT_TRUE(smartReceive(f.path(0), 0xB0, 0xD0, answer));
    EXPECT_EQ(answer[16 + 2], 9);
    EXPECT_FALSE(smartReceive(f.path(0), 0xEF, 0, answer)) << "not a receive command";
    EXPECT_EQ(platform().devices->lastError(), 87u);
    EXPECT_FALSE(smartReceive(f.path(0), 0xEC, 0, answer, kSmartAnswerLength - 1));
    EXPECT_FALSE(smartReceive(f.path(1), 0xEC, 0, answer)) << "USB enclosures do not take it";
}

TEST(SimBenchSmartReceive, DriveErrorsAreDriverErrors) {
    auto disk = test::makerSataDisk(1);
    auto f0 = fault("smart:ec", 1, FaultKind::AtaError);
    f0.errorReg = 0x10;
    disk.faults = {f0};
    test::SimFixture f(benchOf({disk}));
    uint8_t answer[kSmartAnswerLength];
    ASSERT_TRUE(smartReceive(f.path(0), 0xEC, 0, answer));
    EXPECT_EQ(answer[4], 1);
    EXPECT_EQ(answer[5], 0x10);
    ASSERT_TRUE(smartReceive(f.path(0), 0xEC, 0, answer));
    EXPECT_EQ(answer[4], 0);
}

// ------------------------------------------------------------------------- faults
TEST(SimBenchFaults, AtaErrorAtTheSecondOccurrenceOnly) {
    auto disk = test::makerSataDisk(1);
    auto f0 = fault("ata:ec", 2, FaultKind::AtaError);
    f0.errorReg = 0x10;
    disk.faults = {f0};
    test::SimFixture f(benchOf({disk}));
    uint8_t id[512];
    EXPECT_EQ(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).taskFile[6], 0x50);
    auto r = rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.taskFile[6], 0x51);
    EXPECT_EQ(r.taskFile[0], 0x10);
    EXPECT_EQ(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).taskFile[6], 0x50);
    // Other commands do not count.
    EXPECT_EQ(rawAta(f.path(0), regs(0xEF, 0x02), DataDir::None, nullptr, 0).taskFile[6], 0x50);
}

TEST(SimBenchFaults, EveryOccurrenceAndTheFeatureQualifiedKey) {
    auto disk = test::makerSataDisk(1);
    disk.faults = {fault("ata:ef/dc", 0, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({disk}));
    for (int i = 0; i < 3; ++i) {
        const auto r = rawAta(f.path(0), regs(0xEF, 0xDC, 0x51), DataDir::None, nullptr, 0);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.lastError, 1117u);
    }
    EXPECT_FALSE(f.drive(0).vendorMode);
    EXPECT_TRUE(rawAta(f.path(0), regs(0xEF, 0x02), DataDir::None, nullptr, 0).ok);
}

TEST(SimBenchFaults, OpenFailsAtTheGivenOpen) {
    auto disk = test::makerSataDisk(1);
    auto f0 = fault("open", 2, FaultKind::OpenFails);
    f0.lastError = 5;
    disk.faults = {f0};
    test::SimFixture f(benchOf({disk}));
    uint8_t id[512];
    EXPECT_TRUE(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).opened);
    const auto r = rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.lastError, 5u);
    EXPECT_TRUE(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).opened);
}

TEST(SimBenchFaults, HangTakesItsTimeOnTheClockAndCompletes) {
    auto disk = test::makerSataDisk(1);
    auto f0 = fault("ata:92", 1, FaultKind::Hang);
    f0.ms = 11000;
    disk.faults = {f0};
    disk.commandMs = 3;
    test::SimFixture f(benchOf({disk}));
    uint8_t id[512];
    uint64_t t = f.clock().now();
    rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(f.clock().now() - t, 3u);
    t = f.clock().now();
    std::vector<uint8_t> block(512, 0);
    const auto r = rawAta(f.path(0), regs(0x92, 0x03, 1), DataDir::Out, block.data(), 512);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(f.clock().now() - t, 11003u);
    EXPECT_EQ(f.drive(0).downloadCommands, 1) << "the command completed after the hang";
}

TEST(SimBenchFaults, ShortDataLeavesTheRestOfTheBufferUntouched) {
    auto disk = test::makerSataDisk(1);
    auto f0 = fault("ata:ec", 1, FaultKind::ShortData);
    f0.bytes = 100;
    disk.faults = {f0};
    test::SimFixture f(benchOf({disk}));
    std::vector<uint8_t> id(512, 0xEE);
    // The raw helper zeroes its request buffer, so look at the bytes past 100.
    const auto r = rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id.data(), 512);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.transferred, 100u) << "DataTransferLength tells the host, as the system does";
    EXPECT_EQ(id[0], 0x40) << "the first bytes arrived";
    EXPECT_EQ(id[21], 'Q');
    EXPECT_TRUE(std::all_of(id.begin() + 100, id.end(), [](uint8_t b) { return b == 0; }));
}

TEST(SimBenchFaults, ScsiKeysAndCheckCondition) {
    auto disk = test::usbBridgeDisk(1, "k403");
    auto f0 = fault("scsi:12", 1, FaultKind::CheckCondition);
    f0.senseKey = 0x06;
    f0.asc = 0x29;
    auto f1 = fault("vendor-read", 1, FaultKind::AtaError);
    disk.faults = {f0, f1};
    test::SimFixture f(benchOf({disk}));
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0};
    uint8_t answer[40];
    auto r = rawScsi(f.path(0), cdb, 12, true, answer, 40);
    EXPECT_EQ(r.scsiStatus, 2);
    EXPECT_EQ(r.sense[1], 0x06);
    EXPECT_EQ(r.sense[2], 0x29);
    EXPECT_EQ(r.transferred, 0u);
    r = rawScsi(f.path(0), cdb, 12, true, answer, 40);
    EXPECT_EQ(r.scsiStatus, 0);
    rawSat(f.path(0), regs(0xEF, 0xDC, 0x51), DataDir::None, nullptr, 0);
    uint8_t sector[512];
    r = rawSat(f.path(0), regs(0x86, 0, 1, 0xFF, 0x34, 0x12), DataDir::In, sector, 512);
    EXPECT_EQ(r.scsiStatus, 2) << "the answer read failed";
    r = rawSat(f.path(0), regs(0x86, 0, 1, 0xFF, 0x34, 0x12), DataDir::In, sector, 512);
    EXPECT_EQ(r.scsiStatus, 0);
    EXPECT_EQ(sector[0], 0xE5);
}

TEST(SimBenchFaults, DeviceNumberFault) {
    auto disk = test::makerSataDisk(1);
    disk.faults = {fault("devnum", 0, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({disk}));
    bool ok = true;
    deviceNumberOf(f.path(0), ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(platform().devices->lastError(), 1117u);
}

TEST(SimBenchFaults, CallKeyCountsEveryControlCallOfTheDisk) {
    auto disk = test::makerSataDisk(1);
    disk.faults = {fault("call", 3, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({disk, test::makerSataDisk(2)}));
    uint8_t id[512];
    EXPECT_TRUE(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).ok);
    EXPECT_TRUE(rawAta(f.path(1), regs(0xEC, 0, 1), DataDir::In, id, 512).ok);  // another disk
    bool ok = false;
    deviceNumberOf(f.path(0), ok);
    EXPECT_TRUE(ok);
    const auto third = rawAta(f.path(0), regs(0xEF, 0xDC, 0x51), DataDir::None, nullptr, 0);
    EXPECT_FALSE(third.ok);
    EXPECT_EQ(third.lastError, 1117u);
    EXPECT_FALSE(f.drive(0).vendorMode) << "the drive never saw it";
    EXPECT_TRUE(rawAta(f.path(0), regs(0xEF, 0xDC, 0x51), DataDir::None, nullptr, 0).ok);
}

TEST(SimBenchFaults, TimeOutTakesTheRequestsTimeOutThenFails) {
    auto disk = test::makerSataDisk(1);
    disk.commandMs = 2;
    disk.faults = {fault("ata:ef", 1, FaultKind::TimeOut)};
    auto bridge = test::usbBridgeDisk(2, "k403");
    bridge.commandMs = 0;
    bridge.faults = {fault("scsi:12", 1, FaultKind::TimeOut)};
    test::SimFixture f(benchOf({disk, bridge}));
    uint64_t t = f.clock().now();
    const auto r = rawAta(f.path(0), regs(0xEF, 0xDC, 0x51), DataDir::None, nullptr, 0, 10);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lastError, 121u);
    EXPECT_EQ(f.clock().now() - t, 11002u);
    EXPECT_FALSE(f.drive(0).vendorMode);
    t = f.clock().now();
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0};
    uint8_t answer[40];
    const auto s = rawScsi(f.path(1), cdb, 12, true, answer, 40, 300);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.lastError, 121u);
    EXPECT_EQ(f.clock().now() - t, 301000u);
}

TEST(SimBenchFaults, FaultsAddedThroughTheSpecTakeEffect) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    uint8_t id[512];
    EXPECT_EQ(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).taskFile[6], 0x50);
    f.bench.setup().disks[0].faults.push_back(fault("ata:ec", 1, FaultKind::AtaError));
    EXPECT_EQ(rawAta(f.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512).taskFile[6], 0x51);
    f.bench.setup().disks[0].drive.securityFrozen = true;
    EXPECT_EQ(rawAta(f.path(0), regs(0xF3), DataDir::None, nullptr, 0).taskFile[6], 0x51);
}

}  // namespace
}  // namespace qx
