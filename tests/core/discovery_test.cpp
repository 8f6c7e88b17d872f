// Drive discovery: the candidate table and its limits, bus kinds of paths, the version
// test, IDENTIFY through the SMART request, the identify text fix-up, device numbers,
// drive letters and the rescan.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/Discovery.h"
#include "platform/sim/SimDrive.h"
#include "support/BenchSpecs.h"
#include "support/SimFixture.h"

namespace qx {
namespace {

using sim::FaultKind;
using sim::SimBenchSpec;
using sim::SimFault;
using test::benchOf;
using test::fault;

int countLinesContaining(const test::SimFixture& f, const std::string& part) {
    const auto& out = f.bench.debugOutput();
    return static_cast<int>(std::count_if(out.begin(), out.end(), [&](const std::string& s) {
        return s.find(part) != std::string::npos;
    }));
}

// ------------------------------------------------------------------ candidate table
TEST(EnumDiskInterfaces, ListsTheDisksInSystemOrder) {
    test::SimFixture f;  // the demo bench
    auto table = std::make_unique<CandidateTable>();
    ASSERT_EQ(EnumDiskInterfaces(*table), 7);
    for (size_t i = 0; i < 7; ++i) EXPECT_STREQ(table->path[i], f.path(i));
}

TEST(EnumDiskInterfaces, FailedEnumerationGivesNoCandidates) {
    SimBenchSpec s = benchOf({test::makerSataDisk(1)});
    s.enumerationFails = true;
    test::SimFixture f(s);
    auto table = std::make_unique<CandidateTable>();
    EXPECT_EQ(EnumDiskInterfaces(*table), 0);
}

TEST(EnumDiskInterfaces, StopsAt80AndLogsTheRest) {
    std::vector<sim::SimDiskSpec> disks;
    for (int i = 0; i < 100; ++i) disks.push_back(test::hardDisk(i));
    test::SimFixture f(benchOf(disks));
    auto table = std::make_unique<CandidateTable>();
    ASSERT_EQ(EnumDiskInterfaces(*table), 80);
    EXPECT_STREQ(table->path[79], f.path(79));
    EXPECT_EQ(countLinesContaining(f, "the table holds 80 paths"), 20);
    EXPECT_EQ(countLinesContaining(f, "disk interface 99 passed over"), 1);
}

TEST(EnumDiskInterfaces, PassesOverAPathThatDoesNotFit255Characters) {
    sim::SimDiskSpec fits = test::hardDisk(1);
    sim::SimDiskSpec tooLong = test::hardDisk(2);
    sim::SimDiskSpec after = test::hardDisk(3);
    fits.path = "\\\\?\\ide#" + std::string(255 - 8, 'a');
    tooLong.path = "\\\\?\\ide#" + std::string(256 - 8, 'b');
    ASSERT_EQ(fits.path.size(), 255u);
    ASSERT_EQ(tooLong.path.size(), 256u);
    test::SimFixture f(benchOf({fits, tooLong, after}));
    auto table = std::make_unique<CandidateTable>();
    ASSERT_EQ(EnumDiskInterfaces(*table), 2);
    EXPECT_STREQ(table->path[0], f.path(0));
    EXPECT_STREQ(table->path[1], f.path(2));
    EXPECT_EQ(countLinesContaining(f, "disk interface 1 passed over, its path of 256 characters"), 1);
}

// ------------------------------------------------------------------ bus kinds
struct PathCase {
    const char* path;
    int32_t kind;
    const char* name;
};

TEST(ClassifyDevicePath, KindsByWordsInThePath) {
    SimBenchSpec s;
    s.os = OsVersion{true, true, 6, 1, 1};  // Windows 7
    test::SimFixture f(s);
    const PathCase cases[] = {
        {"\\\\?\\ide#diskmodel#5&1&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", DEVICE_IDE, " IDE / SATA "},
        {"\\\\?\\scsi#disk&ven_x&prod_y#4&2&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", DEVICE_SCSI, " SCSI "},
        {"\\\\?\\usbstor#disk&ven_x&prod_y#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", DEVICE_USB, " USB "},
        {"\\\\?\\sbp2#disk&ven_x#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", DEVICE_USB, " SBP2 "},
        {"\\\\?\\nvme#disk&ven_x#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", DEVICE_NONE, ""},
        // "ide" anywhere wins, even over "usb" in front of it.
        {"\\\\?\\usbstor#disk&ven_x&prod_guide#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", DEVICE_IDE, " IDE / SATA "},
        {"\\\\.\\usb#sdb", DEVICE_USB, " USB "},
        {"", DEVICE_NONE, ""},
    };
    for (const PathCase& c : cases) {
        std::vector<char> path(c.path, c.path + std::strlen(c.path) + 1);
        std::string name = "stale";
        EXPECT_EQ(ClassifyDevicePath(path.data(), name), c.kind) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
    }
}

TEST(ClassifyDevicePath, LowerCasesThePathInPlace) {
    test::SimFixture f;
    char path[] = "\\\\?\\USBSTOR#Disk&Ven_QUORVEX#0123ABC&0#{53F56307-B6BF}";
    std::string name;
    EXPECT_EQ(ClassifyDevicePath(path, name), DEVICE_USB);
    EXPECT_STREQ(path, "\\\\?\\usbstor#disk&ven_quorvex#0123abc&0#{53f56307-b6bf}");
}

TEST(ClassifyDevicePath, ScsiPathTakesTheAtaPathOnWindows8) {
    SimBenchSpec s;
    s.os = OsVersion{true, true, 6, 2, 0};
    test::SimFixture f(s);
    char path[] = "\\\\?\\scsi#disk&ven_x&prod_y#4&2&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    std::string name;
    EXPECT_EQ(ClassifyDevicePath(path, name), DEVICE_IDE);
    EXPECT_EQ(name, " IDE / SATA ");
}

TEST(IsWindows8, ExactlyVersion6Point2FromEitherRecord) {
    struct Case {
        OsVersion os;
        bool expected;
    };
    const Case cases[] = {
        {{true, true, 6, 2, 0}, true},
        {{false, true, 6, 2, 0}, true},   // only the basic record
        {{false, false, 6, 2, 0}, false}, // neither record readable
        {{true, true, 6, 1, 1}, false},
        {{true, true, 6, 3, 0}, false},
        {{true, true, 10, 0, 0}, false},
        {{true, true, 5, 1, 3}, false},
    };
    for (const Case& c : cases) {
        SimBenchSpec s;
        s.os = c.os;
        test::SimFixture f(s);
        EXPECT_EQ(IsWindows8(), c.expected) << c.os.major << "." << c.os.minor;
    }
}

// ------------------------------------------------------------------ identify text
std::array<uint8_t, 20> swappedField20(const char* text) {
    std::array<uint8_t, 20> f{};
    PutAtaString(f.data(), 20, "");  // all blanks
    std::memcpy(f.data(), text, std::min<size_t>(20, std::strlen(text)));
    for (size_t i = 0; i < 20; i += 2) std::swap(f[i], f[i + 1]);
    return f;
}

std::array<uint8_t, 20> plain20(const char* text) {
    std::array<uint8_t, 20> f{};
    std::memcpy(f.data(), text, std::strlen(text));
    return f;
}

TEST(FixAtaString, SwapsPairsAndTrimsBlanksToNul) {
    const std::pair<const char*, const char*> cases[] = {
        {"  S123  ", "S123"},   // blanks on both sides
        {"  S123", "S123"},     // leading only
        {"S123  ", "S123"},     // trailing only
        {"S1 23", "S1 23"},     // inner blanks stay
        {"", ""},               // blanks only: all NUL
    };
    for (const auto& [raw, expected] : cases) {
        auto field = swappedField20(raw);
        FixAtaString(field.data(), 20);
        EXPECT_EQ(field, plain20(expected)) << "'" << raw << "'";
    }
}

TEST(FixAtaString, FullFieldKeepsNoNul) {
    std::array<uint8_t, 8> fw{};
    PutAtaString(fw.data(), 8, "ABCDEFGH");
    FixAtaString(fw.data(), 8);
    EXPECT_EQ(std::string(fw.begin(), fw.end()), "ABCDEFGH");
}

TEST(FixAtaString, TrailingNulsAndBlanksMixedAreCleared) {
    // A drive that pads with NUL instead of blanks, and one blank before them.
    std::array<uint8_t, 8> fw = {'.', '1', ' ', '2', 0, 0, 0, 0};  // "1. 2" swapped
    FixAtaString(fw.data(), 8);
    EXPECT_EQ(fw, (std::array<uint8_t, 8>{'1', '.', '2', 0, 0, 0, 0, 0}));
}

TEST(FixAtaString, IgnoresEmptyFields) {
    FixAtaString(nullptr, 20);
    uint8_t one[2] = {'b', 'a'};
    FixAtaString(one, 0);
    EXPECT_EQ(one[0], 'b');
}

// ------------------------------------------------------------------ identify
TEST(GetIdentifyData, ReadsThroughTheSmartRequestAndFixesTheText) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    std::array<uint8_t, 512> id;
    id.fill(0xAA);
    EXPECT_TRUE(GetIdentifyData(f.path(0), 3, DEVICE_IDE, id.data()));
    const sim::SimCall& c = f.bench.calls().back();
    EXPECT_EQ(c.kind, "smart");
    EXPECT_EQ(c.driveNumber, 3);
    EXPECT_EQ(c.taskFileIn, (std::array<uint8_t, 8>{0, 1, 0, 0, 0, 0xB0, 0xEC, 0}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.data() + 54)), "Quorvex QX-T74 256GB");
    EXPECT_EQ(id[54 + 20], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.data() + 20)), "QX74T0000001");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.data() + 46), 4), "1.02");
    EXPECT_EQ(id[50], 0);
    // Other words as the drive returned them: the world wide name.
    EXPECT_EQ(id[216], 0x01);
    EXPECT_EQ(id[217], 0x50);
}

TEST(GetIdentifyData, FailureLeavesACleanBuffer) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.faults = {fault("smart:ec", 0, FaultKind::AtaError)};
    test::SimFixture f(benchOf({d}));
    std::array<uint8_t, 512> id;
    id.fill('A');
    EXPECT_FALSE(GetIdentifyData(f.path(0), 0, DEVICE_IDE, id.data()));
    EXPECT_TRUE(std::all_of(id.begin(), id.end(), [](uint8_t b) { return b == 0; }));
}

TEST(GetIdentifyData, UnknownPathFails) {
    test::SimFixture f(benchOf({test::makerSataDisk(1)}));
    std::array<uint8_t, 512> id{};
    EXPECT_FALSE(GetIdentifyData("\\\\?\\ide#nothing", 0, DEVICE_IDE, id.data()));
    EXPECT_FALSE(GetIdentifyData(f.path(0), 0, DEVICE_IDE, nullptr));
}

// ------------------------------------------------------------------ device numbers, letters
TEST(GetDeviceNumber, DisksAndVolumes) {
    sim::SimDiskSpec a = test::makerSataDisk(1);
    sim::SimDiskSpec b = test::makerSataDisk(2);
    b.volumes = {'E', 'F'};
    test::SimFixture f(benchOf({a, b}));
    StorageDeviceNumber n;
    ASSERT_TRUE(GetDeviceNumber(f.path(1), n));
    EXPECT_EQ(n.DeviceType, kFileDeviceDisk);
    EXPECT_EQ(n.DeviceNumber, 1u);
    ASSERT_TRUE(GetDeviceNumber("\\\\.\\F:", n));
    EXPECT_EQ(n.DeviceNumber, 1u);
    EXPECT_EQ(n.PartitionNumber, 2u);
    EXPECT_FALSE(GetDeviceNumber("\\\\.\\Q:", n));
    EXPECT_FALSE(GetDeviceNumber("", n));
    EXPECT_FALSE(GetDeviceNumber(nullptr, n));
    EXPECT_EQ(f.bench.openHandles(), 0);
}

TEST(FindDriveLetter, FirstVolumeOtherThanTheSystemOne) {
    sim::SimDiskSpec system = test::makerSataDisk(1);
    system.volumes = {'C'};
    sim::SimDiskSpec data = test::makerSataDisk(2);
    data.volumes = {'F', 'E'};
    sim::SimDiskSpec bare = test::makerSataDisk(3);
    sim::SimDiskSpec mixed = test::makerSataDisk(4);
    mixed.volumes = {'G'};
    test::SimFixture f(benchOf({system, data, bare, mixed}));

    char letter = '?';
    EXPECT_FALSE(FindDriveLetter(f.path(0), letter));  // only the Windows volume
    ASSERT_TRUE(FindDriveLetter(f.path(1), letter));
    EXPECT_EQ(letter, 'E');                             // alphabetically first
    EXPECT_FALSE(FindDriveLetter(f.path(2), letter));  // no volume
    ASSERT_TRUE(FindDriveLetter(f.path(3), letter));
    EXPECT_EQ(letter, 'G');
    EXPECT_EQ(f.bench.openHandles(), 0);
}

TEST(FindDriveLetter, SystemDiskWithAnotherVolumeYieldsThatOne) {
    sim::SimDiskSpec system = test::makerSataDisk(1);
    system.volumes = {'C', 'D'};
    test::SimFixture f(benchOf({system}));
    char letter = 0;
    ASSERT_TRUE(FindDriveLetter(f.path(0), letter));
    EXPECT_EQ(letter, 'D');
}

TEST(FindDriveLetter, WindowsOnAnotherLetter) {
    SimBenchSpec s = benchOf({test::makerSataDisk(1)});
    s.disks[0].volumes = {'D', 'E'};
    s.systemLetter = 'D';
    test::SimFixture f(s);
    char letter = 0;
    ASSERT_TRUE(FindDriveLetter(f.path(0), letter));
    EXPECT_EQ(letter, 'E');
}

TEST(FindDriveLetter, NoLetterWhenTheDiskHasNoNumber) {
    sim::SimDiskSpec d = test::makerSataDisk(1);
    d.volumes = {'E'};
    d.faults = {fault("devnum", 0, FaultKind::ControlFails)};
    test::SimFixture f(benchOf({d}));
    char letter = 0;
    EXPECT_FALSE(FindDriveLetter(f.path(0), letter));
    EXPECT_FALSE(FindDriveLetter("\\\\?\\ide#absent", letter));
}

// ------------------------------------------------------------------ rescan
TEST(RescanDevices, AcceptedRequest) {
    test::SimFixture f;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(RescanDevices());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(f.bench.rescanCount(), 1);
}

TEST(RescanDevices, FailuresPrintTheStepAndCode) {
    for (int step : {1, 2}) {
        SimBenchSpec s;
        s.rescanFailsAt = step;
        test::SimFixture f(s);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(RescanDevices());
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  step == 1 ? "CM_Locate_DevNode failed: 13\n" : "CM_Reenumerate_DevNode failed: 13\n");
    }
}

}  // namespace
}  // namespace qx
