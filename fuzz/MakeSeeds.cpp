// Writes the seed corpora under fuzz/corpus (run by hand when an input format of a target
// changes: `build/fuzz/fuzz/qxfuzz_seeds fuzz/corpus`). Inputs of the device targets are
// recorded from scans and reads over the simulated bench, so each seed follows a good run
// to its end; the file formats are written from the layouts themselves.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "QXLib/Smart.h"
#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "app/core/MainState.h"
#include "devices/Discovery.h"
#include "devices/Scan.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimDrive.h"
#include "support/FuzzPlatform.h"
#include "support/ScriptedUser.h"
#include "smart/SmartReport.h"
#include "update/Package.h"

using namespace qx;
namespace fs = std::filesystem;

namespace {

fs::path gRoot;

void save(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path dir = gRoot / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void saveText(const std::string& target, const std::string& name, const std::string& text) {
    save(target, name, std::vector<uint8_t>(text.begin(), text.end()));
}

// A bench installed with its device I/O recorded.
struct Recording {
    explicit Recording(std::unique_ptr<sim::SimBench> b) : bench(std::move(b)), recorder(*bench->platform().devices) {
        fuzz::ResetCoreState();
        previous = platform();
        Platform p = bench->platform();
        p.devices = &recorder.devices();
        installPlatform(p);
    }
    ~Recording() {
        fuzz::ResetCoreState();
        installPlatform(previous);
    }
    std::unique_ptr<sim::SimBench> bench;
    fuzz::InputRecorder recorder;
    Platform previous;
};

std::unique_ptr<sim::SimBench> benchOf(const std::string& text) {
    std::string error;
    auto b = sim::SimBench::fromText(text, error);
    if (!b) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        std::exit(1);
    }
    return b;
}

// fuzz_scan: the system prefix, then the scan's calls.
void scanSeed(const std::string& name, std::unique_ptr<sim::SimBench> bench) {
    Recording r(std::move(bench));
    const sim::SimBenchSpec& setup = r.bench->setup();
    r.recorder.integral(setup.disks.size());
    for (const sim::SimDiskSpec& d : setup.disks) {
        std::string path = d.path, bus;
        const int32_t kind = ClassifyDevicePath(path.data(), bus);
        int index = 4;
        if (kind == DEVICE_IDE) index = 0;
        else if (kind == DEVICE_SCSI) index = 1;
        else if (kind == DEVICE_USB) index = path.find("usb") != std::string::npos ? 2 : 3;
        r.recorder.integral(static_cast<uint64_t>(index));
    }
    r.recorder.integral(setup.os.major == 6 && setup.os.minor == 2 ? 1 : 0);
    r.recorder.integral(platform().system->logicalDrives() & 0x03FFFFFFu, 4);
    MainState state;
    test::ScriptedUser user;
    GetQuorvexDevice(state, user);
    std::printf("fuzz_scan/%s: %d drives\n", name.c_str(), DriveCount);
    save("fuzz_scan", name, r.recorder.input());
}

const char* kOneSata = R"([system]
os = 6.1
[disk]
path = \\?\ide#diskqx#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = ide
model = QX SSD 256
serial = QX0000000001
buildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01
smart = 9:4d2 12:38 167:1 169:0002000a0003 173:32c 175:0 192:7 194:004000120021
)";

const char* kOneBridge = R"([system]
os = 6.1
[disk]
path = \\?\usbstor#disk&ven_qx&prod_bridge#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = usb
inquiry-code = k401
volumes = E
buildinfo = QXFWR_111020_R,Oct 01 2012,12:00:00,t75a,40C3D4,QX02
smart = 9:10 194:002800100030
)";

const char* kScsiPath = R"([system]
os = 6.1
[disk]
path = \\?\scsi#disk&ven_qx&prod_ssd#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = scsi
buildinfo = QXFWR_111020_R,Oct 01 2012,12:00:00,t71a,40C3D4,QX02
signature-block = 3
page-size-code = 2
)";

// fuzz_identify: the first 512 bytes double as an identify sector; the calls follow.
void identifySeed(const std::string& name, const char* text) {
    Recording r(benchOf(text));
    const char* path = r.bench->setup().disks[0].path.c_str();
    DeviceSlot[0] = {path, 0, 1, {}};
    DeviceSlot[1] = {path, 0, 0, {}};
    for (uint8_t device = 0; device < 2; ++device) {
        GetDriveSectorCount(device);
        uint8_t identify[512];
        VC_IdentifyDevice(device, identify, 1);
    }
    uint8_t viaSmart[512];
    GetIdentifyData(path, 0, DEVICE_IDE, viaSmart);
    save("fuzz_identify", name, r.recorder.input());
}

void systemInfoSeed(const std::string& name, const char* text, bool ata, bool pio) {
    Recording r(benchOf(text));
    r.recorder.integral(0);  // device 0
    r.recorder.integral(ata ? 1 : 0);
    r.recorder.integral(pio ? 1 : 0);
    r.recorder.integral(1);  // the vendor-mode probe first
    DeviceSlot[0] = {r.bench->setup().disks[0].path.c_str(), 0, static_cast<uint8_t>(ata ? 1 : 0), {}};
    VendorXferMode = pio ? 1 : 2;
    std::vector<uint8_t> work(kWorkBufferSize, 0);
    const bool probe = VA_CheckVendorMode(0);
    VA_EnableVendorCmd(0, true);
    const bool ok = VP_GetSystemInfo(0, work.data());
    VA_EnableVendorCmd(0, false);
    std::printf("fuzz_systeminfo/%s: probe %d, read %d\n", name.c_str(), probe, ok);
    save("fuzz_systeminfo", name, r.recorder.input());
}

void smartSeed(const std::string& name, const char* text, bool ata) {
    std::unique_ptr<sim::SimBench> bench = benchOf(text);
    const std::array<uint8_t, 512> sector = bench->setup().disks[0].drive.smartData;
    Recording r(std::move(bench));
    r.recorder.bytes(sector.data(), sector.size());  // read directly by the target
    r.recorder.integral(0);
    r.recorder.integral(ata ? 1 : 0);
    SmartDrive = 0;
    DeviceSlot[0] = {r.bench->setup().disks[0].path.c_str(), 0, static_cast<uint8_t>(ata ? 1 : 0), {}};
    std::vector<std::string> lines;
    const bool ok = GetSMARTInfo(lines);
    std::printf("fuzz_smart/%s: %d, %zu lines\n", name.c_str(), ok, lines.size());
    save("fuzz_smart", name, r.recorder.input());
}

// A firmware image: code bytes, the BuildInfo block, the 0xA5 marker and the checksum.
std::vector<uint8_t> image(uint32_t length, const char* buildInfo) {
    std::vector<uint8_t> img(length, 0);
    uint32_t x = length;
    for (uint8_t& b : img) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    const auto bi = sim::makeBuildInfo(buildInfo);
    std::memcpy(img.data() + kBuildInfoOffset, bi.data(), bi.size());
    img[length - 2] = 0xA5;
    img[length - 1] = ImageChecksumByte(img.data(), length);
    return img;
}

// fuzz_package: claimed extra size, header, then the file after the header.
void packageSeed(const std::string& name, bool picture, const std::vector<uint8_t>& jpeg,
                 const std::vector<std::vector<uint8_t>>& images,
                 const std::string& target = "fuzz_package") {
    // 327,680 bytes more than the file (fuzz_update: byte 0 is the mode, the size follows).
    std::vector<uint8_t> in = {0x00, 0x00, 0x05, 0x00};
    if (target == "fuzz_update") in = {0x00, 0x00, 0x00, 0x05};
    std::vector<uint8_t> header(kPackageHeaderSize, 0);
    std::memcpy(header.data(), "1.06", 4);
    std::memcpy(header.data() + kVersionTextWidth, "QX Demo SSD", 11);
    header[kPictureFlagOffset] = picture ? 1 : 0;
    in.insert(in.end(), header.begin(), header.end());
    if (picture) {
        std::vector<uint8_t> area(kPictureAreaSize, 0);
        std::memcpy(area.data(), jpeg.data(), std::min<size_t>(jpeg.size(), area.size()));
        in.insert(in.end(), area.begin(), area.end());
    }
    for (size_t k = 0; k < images.size(); ++k) {
        const std::vector<uint8_t>& img = images[k];
        std::vector<uint8_t> slot(kSlotHeaderSize, 0);
        const auto length = static_cast<uint32_t>(img.size());
        for (int b = 0; b < 4; ++b) slot[static_cast<size_t>(b)] = static_cast<uint8_t>(length >> (8 * b));
        in.insert(in.end(), slot.begin(), slot.end());
        in.insert(in.end(), img.begin(), img.end());
        // Every slot but the last is whole; the last ends where its image ends.
        if (k + 1 < images.size()) in.resize(in.size() + (kImageArea - img.size()), 0xFF);
    }
    save(target, name, in);
}

std::vector<uint8_t> readAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qxfuzz_seeds CORPUS_DIR SOURCE_DIR\n");
        return 2;
    }
    gRoot = argv[1];
    const fs::path source = argv[2];

    scanSeed("demo-bench", sim::SimBench::demo());
    scanSeed("one-sata", benchOf(kOneSata));
    scanSeed("one-bridge", benchOf(kOneBridge));
    scanSeed("scsi-path", benchOf(kScsiPath));

    identifySeed("sata", kOneSata);
    identifySeed("bridge", kOneBridge);

    systemInfoSeed("sata-dma", kOneSata, true, false);
    systemInfoSeed("scsi-pio", kScsiPath, false, true);
    systemInfoSeed("bridge-scsi", kOneBridge, false, true);

    smartSeed("sata", kOneSata, true);
    smartSeed("bridge", kOneBridge, false);

    const std::vector<uint8_t> jpeg = readAll(source / "app/resources/demo_background.jpg");
    const char* bi1 = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";
    const char* bi2 = "QXFWR_111008_R,Sep 20 2012,09:30:00,t74a,40C3D4,QX02";
    packageSeed("one-slot", false, jpeg, {image(1024, bi1)});
    packageSeed("picture", true, jpeg, {image(834, bi2)});
    packageSeed("one-slot", false, jpeg, {image(1024, bi1)}, "fuzz_update");
    packageSeed("other-codes", false, jpeg, {image(1024, bi2)}, "fuzz_update");
    {
        std::vector<uint8_t> fileMode = {0x01, 0x00, 0x00, 0x00};
        const std::vector<uint8_t> img = image(2048, bi1);
        fileMode.insert(fileMode.end(), img.begin(), img.end());
        save("fuzz_update", "file-mode", fileMode);
    }
    save("fuzz_image", "sys-a1b2", image(1024, bi1));
    save("fuzz_image", "sys-c3d4-short", image(834, bi2));
    save("fuzz_jpeg", "demo-background", jpeg);

    save("fuzz_sense", "fixed-ata-information",
         {0x02, 0x70, 0, 0x01, 0x00, 0x50, 0x40, 0x01, 0x0A, 0, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0});
    save("fuzz_sense", "fixed-illegal-request",
         {0x02, 0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0});
    save("fuzz_sense", "descriptor-ata-status",
         {0x02, 0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x0E, 0x09, 0x0C, 0x00, 0x00, 0x00, 0x01, 0, 0,
          0, 0, 0, 0, 0xE0, 0x50});
    save("fuzz_sense", "descriptor-information-then-ata",
         {0x02, 0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x1A, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0,
          0x01, 0x09, 0x0C, 0x00, 0x04, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0xE0, 0x51});
    save("fuzz_sense", "good", {0x00});

    saveText("fuzz_profile", "qxupdater-ini",
             "[DeviceSetting]\r\nFirmwareVer=1.06\r\nCustomTitle=QX Updater\r\nCustomBKImage=1\r\n"
             "EnFilterBinFile=0\r\n");
    saveText("fuzz_profile", "quoted-bom",
             "\xEF\xBB\xBF; comment\n[Other]\nkey = \"  spaced  \"\n[devicesetting]\n firmwarever = '2.0' \n"
             "CustomBKImage=0x1F\n[DeviceSetting]\nFirmwareVer=3.0\n");
    saveText("fuzz_benchfile", "demo-bench", sim::demoBenchText());
    saveText("fuzz_benchfile", "faults", std::string(kOneSata) +
             "fault = ata:ec at 2 ata-error 04\nfault = vendor-read every hang 400000\n"
             "[disk]\npath = \\\\?\\usbstor#x#2\nbus = usb\ninquiry-code = hex:05e30718\n"
             "passes-ata = no\nfault = scsi:a1 at 1 check-condition 05/24/00\nfault = open at 1 open-fails\n");
    return 0;
}
