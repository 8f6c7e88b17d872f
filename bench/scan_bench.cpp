// A full drive scan of a bench with 16 of the maker's drives (12 on SATA, 4 behind k403
// bridges) and 8 other disks (hard disks, other makers' SSDs, unknown and vendor-protocol USB
// devices), on the virtual clock: the waits of the probe cost nothing, so the time measured
// is the time of the code itself (scan, command layers, transport and simulated bench).
//
// The commands every candidate receives are counted on the bench and checked against the
// scan's command table; a mismatch fails the benchmark.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "app/core/MainState.h"
#include "app/core/UserSeam.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "platform/Platform.h"
#include "platform/sim/SimBench.h"

namespace {

using namespace qx;

// Answers nothing and keeps only the rows.
class QuietUser final : public UserSeam {
public:
    std::vector<DriveRow> rows;
    bool confirm(const std::string&, const std::string&, BoxIcon) override { return true; }
    void notice(const std::string&, const std::string&, BoxIcon) override {}
    std::string askText(const std::string&, const std::string&, const std::string& def) override { return def; }
    std::string chooseFile(const std::string&, const std::string&, std::string&) override { return {}; }
    void appendLog(const std::string&) override {}
    void clearLog() override {}
    int rowCount() override { return static_cast<int>(rows.size()); }
    bool rowChecked(int) override { return false; }
    void setRowStatus(int, const std::string&) override {}
    void clearRows() override { rows.clear(); }
    void addRow(const DriveRow& row) override { rows.push_back(row); }
    void enableScanAndExit(bool) override {}
    void enableActions(bool) override {}
    void pause(uint32_t) override {}
    void showShutdownPrompt() override {}
    void showSmartWindow() override {}
};

enum class Kind { MakerSata, MakerBridge, HardDisk, ForeignSsd, UnknownUsb, VendorUsb };

// Commands of the scan's command table for one candidate (device-number look-ups aside).
int tableCommands(Kind k) {
    switch (k) {
        case Kind::MakerSata: return 5;    // IDENTIFY, SET FEATURES, answer read, SMART IDENTIFY, size IDENTIFY
        case Kind::MakerBridge: return 3;  // INQUIRY, IDENTIFY, size IDENTIFY
        case Kind::HardDisk: return 1;     // IDENTIFY
        case Kind::ForeignSsd: return 13;  // IDENTIFY, six rounds of SET FEATURES and answer read
        case Kind::UnknownUsb: return 1;   // INQUIRY
        case Kind::VendorUsb: return 1;    // INQUIRY
    }
    return 0;
}

std::string numbered(const char* fmt, int n) {
    char buf[200];
    std::snprintf(buf, sizeof buf, fmt, n);
    return buf;
}

sim::SimDiskSpec disk(Kind kind, int n) {
    sim::SimDiskSpec d;
    d.commandMs = 1;
    d.drive.model = "Quorvex QX-T74 256GB";
    d.drive.serial = numbered("QX74B%07d", n);
    d.drive.sectors28 = 0x0FFFFFFF;
    d.drive.sectors48 = 500118192;
    switch (kind) {
        case Kind::MakerSata:
        case Kind::HardDisk:
        case Kind::ForeignSsd:
            d.bus = sim::SimBus::Ide;
            d.path = numbered("\\\\?\\ide#diskbench_%02d#5&1a2b3c4d&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
            d.drive.controller = kind == Kind::MakerSata   ? sim::ControllerKind::Maker
                                 : kind == Kind::HardDisk ? sim::ControllerKind::HardDisk
                                                          : sim::ControllerKind::Foreign;
            if (kind == Kind::HardDisk) d.drive.rotationRate = 7200;
            break;
        case Kind::MakerBridge:
        case Kind::UnknownUsb:
        case Kind::VendorUsb:
            d.bus = sim::SimBus::Usb;
            d.path = numbered("\\\\?\\usbstor#disk&ven_bench&prod_%02d#0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
            d.inquiryCode = kind == Kind::MakerBridge  ? std::array<uint8_t, 4>{'k', '4', '0', '3'}
                            : kind == Kind::VendorUsb ? std::array<uint8_t, 4>{'R', '2', '0', 'X'}
                                                      : std::array<uint8_t, 4>{'Z', 'Z', '9', '9'};
            break;
    }
    // Some volumes, so the letter look-ups have work to do.
    if (n % 3 == 0) d.volumes = {static_cast<char>('D' + n / 3)};
    return d;
}

std::vector<Kind> benchKinds() {
    std::vector<Kind> k;
    for (int i = 0; i < 12; ++i) k.push_back(Kind::MakerSata);
    for (int i = 0; i < 4; ++i) k.push_back(Kind::MakerBridge);
    for (Kind other : {Kind::HardDisk, Kind::HardDisk, Kind::HardDisk, Kind::ForeignSsd,
                       Kind::ForeignSsd, Kind::UnknownUsb, Kind::UnknownUsb, Kind::VendorUsb}) {
        k.push_back(other);
    }
    // Interleaved, so accepted and passed-over candidates alternate as on a real machine.
    // The sixteenth drive comes last: after it the table is full and the scan stops.
    std::vector<Kind> mixed;
    for (size_t i = 0; i < 8; ++i) {
        mixed.push_back(k[i + 16]);
        mixed.push_back(k[i]);
        mixed.push_back(k[i + 8]);
    }
    return mixed;
}

void BM_FullScan(benchmark::State& state) {
    const std::vector<Kind> kinds = benchKinds();
    sim::SimBenchSpec setup;
    for (size_t i = 0; i < kinds.size(); ++i) setup.disks.push_back(disk(kinds[i], static_cast<int>(i)));
    sim::SimBench bench(setup);
    Platform parts = bench.platform();
    parts.kernel = nullptr;  // diagnostic lines go nowhere: they would pile up in the bench
    const Platform saved = platform();
    installPlatform(parts);

    MainState main;
    QuietUser user;

    // One recorded scan: the commands per candidate must be those of the command table.
    int expectedCommands = 0;
    for (Kind k : kinds) expectedCommands += tableCommands(k);
    bench.setRecordCalls(true);
    bench.clearCalls();
    const uint64_t start = bench.clock().now();
    GetQuorvexDevice(main, user);
    const uint64_t virtualMs = bench.clock().now() - start;
    int commands = 0, devnum = 0;
    for (const sim::SimCall& c : bench.calls()) {
        if (c.kind == "devnum") {
            ++devnum;
        } else {
            ++commands;
        }
    }
    if (commands != expectedCommands || user.rows.size() != 16) {
        state.SkipWithError(("commands " + std::to_string(commands) + ", expected " +
                             std::to_string(expectedCommands) + "; rows " +
                             std::to_string(user.rows.size()))
                                .c_str());
        installPlatform(saved);
        return;
    }

    bench.setRecordCalls(false);
    for (auto _ : state) {
        GetQuorvexDevice(main, user);
        benchmark::DoNotOptimize(user.rows.data());
    }

    state.counters["drives"] = static_cast<double>(user.rows.size());
    state.counters["commands"] = commands;
    state.counters["devnum_calls"] = devnum;
    state.counters["virtual_ms"] = static_cast<double>(virtualMs);
    // Wall time of the scan per command of the command table, and per control call
    // (device-number look-ups included).
    const auto kPerItem = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    state.counters["per_command"] = benchmark::Counter(static_cast<double>(commands), kPerItem);
    state.counters["per_call"] = benchmark::Counter(static_cast<double>(commands + devnum), kPerItem);
    installPlatform(saved);
    ResetDeviceSlots();
    ResetDriveTable();
}
BENCHMARK(BM_FullScan)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
