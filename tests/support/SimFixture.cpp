// The bench fixture and setup builders (see SimFixture.h).
#include "support/SimFixture.h"

#include "QXLib/DbgLog.h"
#include "platform/AtaString.h"
#include "platform/DeviceIoctl.h"
#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <cstdio>

namespace qx::test {

SimFixture::SimFixture() : SimFixture(sim::SimBench::demo()) {}

SimFixture::SimFixture(sim::SimBenchSpec setup)
    : SimFixture(std::make_unique<sim::SimBench>(std::move(setup))) {}

SimFixture::SimFixture(std::unique_ptr<sim::SimBench> b)
    : owned_(std::move(b)), previous_(platform()), bench(*owned_) {
    DbgReleaseLock();  // the log lock belongs to the kernel installed before
    installPlatform(bench.platform());
}

SimFixture::~SimFixture() {
    for (int i = 0; i < kMaxDrives; ++i) {
        if ((boundSlots_ & (1u << i)) != 0) DeviceSlot[i] = DeviceSlotRecord{};
    }
    DbgReleaseLock();
    installPlatform(previous_);
}

namespace {
std::string numbered(const char* fmt, int n) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, n);
    return buf;
}
}  // namespace

sim::SimDriveSpec makerDrive(int n) {
    sim::SimDriveSpec d;
    d.controller = sim::ControllerKind::Maker;
    d.model = "Quorvex QX-T74 256GB";
    d.serial = numbered("QX74T%07d", n);
    d.firmware = "1.02";
    d.sectors28 = 0x0FFFFFFF;
    d.sectors48 = 500118192;
    d.rotationRate = 1;
    d.wwn = {0x5001, 0xB448, 0x1234, static_cast<uint16_t>(0x5600 + n)};
    d.buildInfo = sim::makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01");
    d.pageSizeCode = 1;
    d.systemBlocks = {0x10, 0x11, 0x20, 0x21};
    d.signatureBlock = 1;
    d.smartData = sim::makeSmartData({{9, 1234}, {12, 56}, {194, 0x004000120021ull}});
    d.smartThresholds = sim::makeSmartThresholds({{5, 10}});
    return d;
}

sim::SimDiskSpec makerSataDisk(int n) {
    sim::SimDiskSpec d;
    d.path = numbered("\\\\?\\ide#diskquorvex_qx-t74_256gb_test%d#5&1a2b3c4d&0&0.0.0#"
                      "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
    d.bus = sim::SimBus::Ide;
    d.drive = makerDrive(n);
    return d;
}

sim::SimDiskSpec usbBridgeDisk(int n, const char* code) {
    sim::SimDiskSpec d;
    d.path = numbered("\\\\?\\usbstor#disk&ven_quorvex&prod_usb_to_sata&rev_0001#test%d&0#"
                      "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
    d.bus = sim::SimBus::Usb;
    d.drive = makerDrive(n);
    d.inquiryCode = {0, 0, 0, 0};
    std::memcpy(d.inquiryCode.data(), code, std::min<size_t>(4, std::strlen(code)));
    return d;
}

sim::SimDiskSpec foreignSsdDisk(int n) {
    sim::SimDiskSpec d = makerSataDisk(n);
    d.path = numbered("\\\\?\\ide#diskacme_ssd_120gb_test%d#5&1a2b3c4d&0&2.0.0#"
                      "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
    d.drive.controller = sim::ControllerKind::Foreign;
    d.drive.model = "ACME SSD 120GB";
    d.drive.serial = numbered("AC12%08d", n);
    return d;
}

sim::SimDiskSpec hardDisk(int n) {
    sim::SimDiskSpec d = makerSataDisk(n);
    d.path = numbered("\\\\?\\ide#diskhdd_st1000_test%d#5&1a2b3c4d&0&3.0.0#"
                      "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
    d.drive.controller = sim::ControllerKind::HardDisk;
    d.drive.model = "HDD ST1000";
    d.drive.serial = numbered("HD%010d", n);
    d.drive.rotationRate = 7200;
    return d;
}

std::vector<uint8_t> makeImageFor(const sim::SimDriveSpec& drive, size_t length,
                                  const std::string& revision, std::string_view buildInfo,
                                  uint8_t pad, uint32_t seed) {
    const size_t blocks = (length + 511) / 512;
    std::vector<uint8_t> img(blocks * 512, pad);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        img[i] = static_cast<uint8_t>(x >> 16);
    }
    PutAtaString(img.data() + 96, 20, drive.serial);
    PutAtaString(img.data() + 122, 8, revision);
    PutAtaString(img.data() + 130, 40, drive.model);
    for (size_t w = 0; w < 4; ++w) PutLe16(img.data() + 292 + 2 * w, drive.wwn[w]);
    const auto bi = sim::makeBuildInfo(buildInfo);
    std::memcpy(img.data() + 768, bi.data(), 64);
    img[length - 2] = 0xA5;
    sealImage(img, length);
    return img;
}

void sealImage(std::vector<uint8_t>& image, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 2 < length; ++i) sum += image[i];
    image[length - 1] = static_cast<uint8_t>((256 - (sum & 0xFF)) & 0xFF);
}

RawResult rawAta(const char* path, const std::array<uint8_t, 8>& taskFile, sim::DataDir dir,
                 uint8_t* data, uint32_t length, uint32_t timeoutSeconds) {
    RawResult r;
    DeviceIo& io = *platform().devices;
    const DeviceHandle h = io.open(path, AccessRead | AccessWrite, ShareNone);
    if (h == kInvalidDevice) {
        r.lastError = io.lastError();
        return r;
    }
    r.opened = true;
    constexpr size_t kHeader = sizeof(AtaPassThroughEx);
    std::vector<uint8_t> buf(kHeader + length, 0);
    AtaPassThroughEx hdr{};
    hdr.Length = static_cast<uint16_t>(kHeader);
    hdr.AtaFlags = dir == sim::DataDir::In ? 0x03 : dir == sim::DataDir::Out ? 0x05 : 0x00;
    hdr.DataTransferLength = length;
    hdr.TimeOutValue = timeoutSeconds;
    hdr.DataBufferOffset = kHeader;
    std::memcpy(hdr.CurrentTaskFile, taskFile.data(), 8);
    std::memcpy(buf.data(), &hdr, kHeader);
    if (dir == sim::DataDir::Out && length > 0) std::memcpy(buf.data() + kHeader, data, length);
    uint32_t returned = 0;
    const auto size = static_cast<uint32_t>(buf.size());
    r.ok = io.control(h, kIoctlAtaPassThrough, buf.data(), size, buf.data(), size, &returned);
    r.lastError = io.lastError();
    io.close(h);
    std::memcpy(&hdr, buf.data(), kHeader);
    std::memcpy(r.taskFile.data(), hdr.CurrentTaskFile, 8);
    r.transferred = hdr.DataTransferLength;
    if (r.ok && dir == sim::DataDir::In && length > 0) std::memcpy(data, buf.data() + kHeader, length);
    return r;
}

RawResult rawScsi(const char* path, const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                  uint8_t* data, uint32_t length, uint32_t timeoutSeconds) {
    RawResult r;
    DeviceIo& io = *platform().devices;
    const DeviceHandle h = io.open(path, AccessRead | AccessWrite, ShareRead | ShareWrite);
    if (h == kInvalidDevice) {
        r.lastError = io.lastError();
        return r;
    }
    r.opened = true;
    ScsiPassThroughDirectWithSense req{};
    req.sptd.Length = sizeof(ScsiPassThroughDirect);
    req.sptd.TargetId = 1;
    req.sptd.CdbLength = cdbLength;
    req.sptd.SenseInfoLength = kSenseBufferLength;
    req.sptd.SenseInfoOffset = offsetof(ScsiPassThroughDirectWithSense, Sense);
    req.sptd.DataIn = dataIn ? kScsiDataIn : kScsiDataOut;
    req.sptd.DataTransferLength = length;
    req.sptd.TimeOutValue = timeoutSeconds;
    req.sptd.DataBuffer = data;
    std::memcpy(req.sptd.Cdb, cdb, std::min<size_t>(cdbLength, 16));
    uint32_t returned = 0;
    r.ok = io.control(h, kIoctlScsiPassThroughDirect, &req, sizeof req, &req, sizeof req, &returned);
    r.lastError = io.lastError();
    io.close(h);
    r.scsiStatus = req.sptd.ScsiStatus;
    r.transferred = req.sptd.DataTransferLength;
    r.sense.assign(req.Sense, req.Sense + std::min<size_t>(req.sptd.SenseInfoLength, kSenseBufferLength));
    return r;
}

RawResult rawSat(const char* path, const std::array<uint8_t, 8>& tf, sim::DataDir dir,
                 uint8_t* data, uint32_t length) {
    const uint8_t protocol = dir == sim::DataDir::In ? 4 : dir == sim::DataDir::Out ? 5 : 3;
    const uint8_t flags = dir == sim::DataDir::In ? 0x0E : dir == sim::DataDir::Out ? 0x06 : 0x00;
    const uint8_t cdb[12] = {0xA1, static_cast<uint8_t>(protocol << 1), flags, tf[0], tf[1], tf[2],
                             tf[3], tf[4], tf[5], tf[6], 0, 0};
    return rawScsi(path, cdb, 12, dir != sim::DataDir::Out, data, length);
}

}  // namespace qx::test
