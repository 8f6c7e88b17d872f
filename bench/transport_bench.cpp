// What the command transport costs on top of the drive: one ExecDeviceCommand round trip
// through the simulated bench (open, request building, control-call decoding, close)
// against the simulated drive's own work for the same command, called directly.
//
// Goal: the transport adds less than 20 % or 2 µs per command, whichever is larger.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "QXLib/Transport.h"
#include "platform/DeviceIoctl.h"
#include "platform/Platform.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimDrive.h"

namespace {

using namespace qx;

sim::SimDiskSpec benchDisk(sim::SimBus bus) {
    sim::SimDiskSpec d;
    d.path = bus == sim::SimBus::Ide
                 ? "\\\\?\\ide#diskquorvex_qx-t74_256gb#5&1a2b3c4d&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"
                 : "\\\\?\\usbstor#disk&ven_quorvex&prod_usb_to_sata#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    d.bus = bus;
    d.inquiryCode = {'k', '4', '0', '3'};
    d.commandMs = 0;
    d.drive.buildInfo = sim::makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01");
    return d;
}

// The bench installed as the platform, DeviceSlot 0 pointing at its disk.
class Installed {
public:
    explicit Installed(sim::SimBus bus) : bench_(setup(bus)), saved_(platform()) {
        bench_.setRecordCalls(false);
        installPlatform(bench_.platform());
        DeviceSlot[0].devicePath = bench_.setup().disks[0].path.c_str();
        DeviceSlot[0].usbDirect = 0;
        DeviceSlot[0].ata = bus == sim::SimBus::Ide ? 1 : 0;
    }
    ~Installed() {
        ResetDeviceSlots();
        installPlatform(saved_);
    }

private:
    static sim::SimBenchSpec setup(sim::SimBus bus) {
        sim::SimBenchSpec s;
        s.disks = {benchDisk(bus)};
        return s;
    }
    sim::SimBench bench_;
    Platform saved_;
};

const CommandBlock kIdentify = {0xA1, 0x08, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0xEC, 0x00, 0x00};
const CommandBlock kSetFeatures = {0xA1, 0x06, 0x00, 0xDC, 0x51, 0x00, 0x00, 0x00, 0xE0, 0xEF, 0x00, 0x00};

void transport(benchmark::State& state, sim::SimBus bus, const CommandBlock& block, int direction,
               int32_t length) {
    Installed installed(bus);
    uint8_t data[512];
    for (auto _ : state) {
        const int r = ExecDeviceCommand(0, direction, block, 12, length ? data : nullptr, length);
        if (r != 1) state.SkipWithError("command failed");
        benchmark::DoNotOptimize(data);
    }
}

void drive(benchmark::State& state, const CommandBlock& block, sim::DataDir dir, uint32_t length) {
    const sim::SimDiskSpec disk = benchDisk(sim::SimBus::Ide);
    sim::SimDrive d(disk.drive);
    uint8_t data[512];
    for (auto _ : state) {
        std::array<uint8_t, 8> tf = {block[3], block[4], block[5], block[6], block[7], block[8], block[9], 0};
        d.execute(tf, dir, length ? data : nullptr, length);
        if (tf[6] != 0x50) state.SkipWithError("command failed");
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(tf);
    }
}

// The bench's own share: open, one control call on a prepared request, close.
void deviceIo(benchmark::State& state, const CommandBlock& block, bool dataIn, uint32_t length) {
    Installed installed(sim::SimBus::Ide);
    constexpr uint32_t kHeader = sizeof(AtaPassThroughEx);
    std::vector<uint8_t> request(kHeader + length, 0);
    AtaPassThroughEx hdr{};
    hdr.Length = kHeader;
    hdr.AtaFlags = length ? static_cast<uint16_t>(dataIn ? 0x03 : 0x05) : 0;
    hdr.DataTransferLength = length;
    hdr.TimeOutValue = 10;
    hdr.DataBufferOffset = kHeader;
    const uint32_t size = static_cast<uint32_t>(request.size());
    DeviceIo& io = *platform().devices;
    for (auto _ : state) {
        std::memcpy(hdr.CurrentTaskFile, block.data() + 3, 7);
        std::memcpy(request.data(), &hdr, kHeader);
        const DeviceHandle h = io.open(DeviceSlot[0].devicePath, AccessRead | AccessWrite, ShareNone);
        uint32_t returned = 0;
        if (!io.control(h, kIoctlAtaPassThrough, request.data(), size, request.data(), size, &returned)) {
            state.SkipWithError("control failed");
        }
        io.close(h);
        benchmark::DoNotOptimize(request.data());
    }
}

void BM_Identify_Drive(benchmark::State& s) { drive(s, kIdentify, sim::DataDir::In, 512); }
void BM_Identify_AtaTransport(benchmark::State& s) { transport(s, sim::SimBus::Ide, kIdentify, 1, 512); }
void BM_Identify_ScsiTransport(benchmark::State& s) { transport(s, sim::SimBus::Usb, kIdentify, 1, 512); }
void BM_Identify_BenchDeviceIo(benchmark::State& s) { deviceIo(s, kIdentify, true, 512); }
void BM_SetFeatures_BenchDeviceIo(benchmark::State& s) { deviceIo(s, kSetFeatures, false, 0); }
void BM_SetFeatures_Drive(benchmark::State& s) { drive(s, kSetFeatures, sim::DataDir::None, 0); }
void BM_SetFeatures_AtaTransport(benchmark::State& s) { transport(s, sim::SimBus::Ide, kSetFeatures, 0, 0); }
void BM_SetFeatures_ScsiTransport(benchmark::State& s) { transport(s, sim::SimBus::Usb, kSetFeatures, 0, 0); }

BENCHMARK(BM_Identify_Drive);
BENCHMARK(BM_Identify_BenchDeviceIo);
BENCHMARK(BM_Identify_AtaTransport);
BENCHMARK(BM_Identify_ScsiTransport);
BENCHMARK(BM_SetFeatures_Drive);
BENCHMARK(BM_SetFeatures_BenchDeviceIo);
BENCHMARK(BM_SetFeatures_AtaTransport);
BENCHMARK(BM_SetFeatures_ScsiTransport);

}  // namespace

BENCHMARK_MAIN();
