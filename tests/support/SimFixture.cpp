// The bench fixture and spec builders (see SimFixture.h).
#include "support/SimFixture.h"

#include <algorithm>
#include <cstring>
#include <cstdio>

namespace qx::test {

SimFixture::SimFixture() : SimFixture(sim::SimBench::demo()) {}

SimFixture::SimFixture(sim::SimBenchSpec spec)
    : SimFixture(std::make_unique<sim::SimBench>(std::move(spec))) {}

SimFixture::SimFixture(std::unique_ptr<sim::SimBench> b)
    : owned_(std::move(b)), previous_(platform()), bench(*owned_) {
    installPlatform(bench.platform());
}

SimFixture::~SimFixture() { installPlatform(previous_); }

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

}  // namespace qx::test
