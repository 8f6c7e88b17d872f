// One drive's firmware update on the simulated bench and the virtual clock: the whole
// "Update Firmware" handler (package mode, image found in slot 2 of the package), the
// download alone, and the preparation alone.
//
// Counters: the DOWNLOAD MICROCODE commands the drive received and their block counts
// (150,016 bytes: 128, 128, 36 and 1), the virtual time spent beyond the 1 s and 2 s pauses
// (the bench's per-command time), and the check that the drive installed the image. The
// wall time per iteration is the time the code itself spends: the pauses cost nothing on
// the virtual clock.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "QXLib/MicroCode.h"
#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "app/core/MainState.h"
#include "app/core/UserSeam.h"
#include "devices/DriveTable.h"
#include "platform/Platform.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimDrive.h"
#include "update/Package.h"
#include "update/Update.h"

namespace {

using namespace qx;

constexpr const char* kDriveBuild = "QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01";
constexpr const char* kOtherBuild = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09";
constexpr const char* kImageBuild = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";
constexpr uint32_t kImageLength = 150016;

// A user who answers OK, has row 0 checked and waits on the platform clock.
class BenchUser final : public UserSeam {
public:
    bool confirm(const std::string&, const std::string&, BoxIcon) override { return true; }
    void notice(const std::string&, const std::string&, BoxIcon) override { ++notices; }
    std::string askText(const std::string&, const std::string&, const std::string& def) override {
        return def;
    }
    std::string chooseFile(const std::string&, const std::string&, std::string&) override { return {}; }
    void appendLog(const std::string& line) override { lastLine = line.empty() ? lastLine : line; }
    void clearLog() override {}
    int rowCount() override { return 1; }
    bool rowChecked(int row) override { return row == 0; }
    void setRowStatus(int, const std::string& text) override { status = text; }
    void clearRows() override {}
    void addRow(const DriveRow&) override {}
    void enableScanAndExit(bool) override {}
    void enableActions(bool) override {}
    void pause(uint32_t ms) override {
        pausedMs += ms;
        platform().clock->sleep(ms);
    }
    void showShutdownPrompt() override {}
    void showSmartWindow() override {}

    int notices = 0;
    uint64_t pausedMs = 0;
    std::string status, lastLine;
};

std::vector<uint8_t> firmwareImage(const char* buildInfo, uint32_t seed) {
    std::vector<uint8_t> img(kImageLength, 0);
    uint32_t x = seed;
    for (auto& b : img) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    const auto bi = sim::makeBuildInfo(buildInfo);
    std::memcpy(img.data() + kBuildInfoOffset, bi.data(), bi.size());
    img[kImageLength - 2] = 0xA5;
    return img;
}

// A package behind a zero-filled "executable": a slot that fits nothing, then the image.
std::string writePackage() {
    const std::string path =
        (std::filesystem::temp_directory_path() / "qx-update-bench-package.exe").string();
    std::vector<uint8_t> file(kImageBaseNoPicture, 0);
    std::memcpy(file.data() + kPackageHeaderOffset, "1.06", 4);
    std::memcpy(file.data() + kPackageHeaderOffset + kVersionTextWidth, "QX Bench", 8);
    for (const char* bi : {kOtherBuild, kImageBuild}) {
        const auto img = firmwareImage(bi, static_cast<uint32_t>(file.size()));
        const size_t at = file.size();
        file.resize(at + kSlotSize, 0);
        for (int k = 0; k < 4; ++k) file[at + static_cast<size_t>(k)] = static_cast<uint8_t>(kImageLength >> (8 * k));
        std::memcpy(file.data() + at + kSlotHeaderSize, img.data(), img.size());
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                 static_cast<std::streamsize>(file.size()));
    return path;
}

// The bench installed as the platform with one maker drive in slot 0, listed as a scan
// leaves it.
class Installed {
public:
    Installed() : bench_(setup()), saved_(platform()) {
        installPlatform(bench_.platform());
        const sim::SimDiskSpec& disk = bench_.setup().disks[0];
        ResetDeviceSlots();
        ResetDriveTable();
        ResetSystemInfoState();
        VendorXferMode = 2;
        DeviceSlot[0].devicePath = disk.path.c_str();
        DeviceSlot[0].ata = 1;
        const auto id = sim::SimDrive(disk.drive).identifyData();
        std::memcpy(DriveInfo[0].identify, id.data(), id.size());
        putText(kSerialOffset, kSerialWidth, disk.drive.serial);
        putText(kFirmwareOffset, kFirmwareWidth, disk.drive.firmware);
        putText(kModelOffset, kModelWidth, disk.drive.model);
    }
    ~Installed() {
        ResetDeviceSlots();
        installPlatform(saved_);
    }
    sim::SimBench& bench() { return bench_; }

private:
    static void putText(int offset, int width, const std::string& text) {
        std::memset(DriveInfo[0].identify + offset, 0, static_cast<size_t>(width));
        std::memcpy(DriveInfo[0].identify + offset, text.data(),
                    std::min(text.size(), static_cast<size_t>(width)));
    }
    static sim::SimBenchSpec setup() {
        sim::SimDiskSpec d;
        d.path = "\\\\?\\ide#diskquorvex_qx-t74_256gb#5&1a2b3c4d&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
        d.bus = sim::SimBus::Ide;
        d.drive.model = "Quorvex QX-T74 256GB";
        d.drive.serial = "QX74A0000001";
        d.drive.wwn = {0x5001, 0xB448, 0x1234, 0x5601};
        d.drive.buildInfo = sim::makeBuildInfo(kDriveBuild);
        d.drive.signatureBlock = 1;
        sim::SimBenchSpec s;
        s.disks = {d};
        return s;
    }
    sim::SimBench bench_;
    Platform saved_;
};

// Block counts of the DOWNLOAD MICROCODE commands recorded since the last clear.
std::vector<unsigned> downloadChunks(const sim::SimBench& bench) {
    std::vector<unsigned> out;
    for (const auto& c : bench.calls()) {
        if (c.hasTaskFile && c.taskFileIn[6] == 0x92) out.push_back(c.taskFileIn[1] | (c.taskFileIn[2] << 8));
    }
    return out;
}

void reportChunks(benchmark::State& state, const std::vector<unsigned>& chunks) {
    state.counters["download_cmds"] = static_cast<double>(chunks.size());
    for (size_t i = 0; i < chunks.size() && i < 4; ++i) {
        state.counters["blocks_" + std::to_string(i)] = static_cast<double>(chunks[i]);
    }
}

void BM_UpdateOneDrive(benchmark::State& state) {
    const std::string package = writePackage();
    Installed installed;
    sim::SimBench& bench = installed.bench();
    MainState ms;
    ms.PackageMode = 1;
    ms.ExePath = package;
    ms.ExeFileSize = static_cast<int32_t>(std::filesystem::file_size(package));
    std::memcpy(ms.PackageHeader.data(), "1.06", 4);
    ms.DeviceList = {"<<IDE>>  Quorvex QX-T74 256GB QX74A0000001"};
    ms.caption = ms.appTitle = "QX Bench";

    uint64_t beyondPauses = 0, iterations = 0;
    std::vector<unsigned> chunks;
    bool installedOk = true;
    for (auto _ : state) {
        bench.clearCalls();
        BenchUser user;
        const uint64_t start = bench.clock().now();
        DownloadCodeBtnClick(ms, user);
        beyondPauses += bench.clock().now() - start - user.pausedMs;
        ++iterations;
        chunks = downloadChunks(bench);
        installedOk = installedOk && user.status == "Pass" &&
                      bench.driveState(0).downloadVerdict == "installed";
    }
    if (!installedOk) state.SkipWithError("the drive did not install the image");
    reportChunks(state, chunks);
    state.counters["virtual_ms_beyond_pauses"] =
        iterations ? static_cast<double>(beyondPauses) / static_cast<double>(iterations) : 0.0;
    state.counters["device_commands"] = static_cast<double>(bench.calls().size());
    std::filesystem::remove(package);
}
BENCHMARK(BM_UpdateOneDrive)->Unit(benchmark::kMillisecond);

void BM_DownloadOnly(benchmark::State& state) {
    Installed installed;
    sim::SimBench& bench = installed.bench();
    std::vector<uint8_t> image = firmwareImage(kImageBuild, 1);
    image.resize(kImageArea, 0);
    const uint8_t* id = DriveInfo[0].identify;
    PersonaliseAndSeal(image.data(), kImageLength, IdentifyText(id, kSerialOffset, kSerialWidth),
                       IdentifyText(id, kModelOffset, kModelWidth), WwnToText(id + kWwnOffset), "1.06");
    std::vector<unsigned> chunks;
    bool ok = true;
    for (auto _ : state) {
        bench.clearCalls();
        ok = VP_PROC_DownloadMicroCode(0, image.data(), kImageLength) && ok;
        chunks = downloadChunks(bench);
    }
    if (!ok) state.SkipWithError("download failed");
    reportChunks(state, chunks);
}
BENCHMARK(BM_DownloadOnly)->Unit(benchmark::kMicrosecond);

void BM_PersonaliseAndSeal(benchmark::State& state) {
    std::vector<uint8_t> image = firmwareImage(kImageBuild, 1);
    image.resize(kImageArea, 0);
    for (auto _ : state) {
        ApplyOptionRule("111008", image.data());
        PersonaliseAndSeal(image.data(), kImageLength, "QX74A0000001", "Quorvex QX-T74 256GB",
                           "5001B44812345601", "1.06");
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageLength);
}
BENCHMARK(BM_PersonaliseAndSeal)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
