// The bench file: a complete file, the demo bench, errors with their line numbers, and
// hostile input (oversized, binary, random).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/sim/SimBench.h"
#include "support/TempDir.h"

namespace qx::sim {
namespace {

const char* kFull = R"(# a bench with one of everything
; another comment style
[system]
os = 5.1
service-pack = 2
os-extended = no
os-basic = yes
system-letter = d
enumeration = ok
rescan = reenumerate-fails
executable = C:\demo\qxupdater.exe
executable-size = 4000000
elevated = no
scsi-ata12 = no

[disk]
path = \\?\usbstor#disk&ven_quorvex#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = usb
drive = maker
model = "  Padded Model  "
serial = S123
firmware = 1.02
sectors = 500118192
rotation = 1
wwn = 5001 B448 1234 5601
buildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01
buildinfo-option = 1
page-size-code = 3
system-blocks = 0x10 17 0x20 0xFFFF
signature-block = none
master-password = SECRET
security-frozen = yes
new-firmware = after-power-cycle
smart = 9:4d2 194:004000120021
smart-thresholds = 5:0a
inquiry-code = hex:05e30718
inquiry-length = 36
passes-ata = no
volumes = E F:
command-ms = 5
held-by-other = shared
fault = ata:EC at 2 ata-error 10
fault = open every open-fails 5
fault = scsi:12 at 1 check-condition 06/29/00
fault = vendor-read every hang 11000
fault = ata:b0/d0 at 3 short-data 100
fault = devnum at 1 control-fails

[disk]
path = \\?\ide#second
drive = harddisk
)";

TEST(BenchFile, EveryKeyLandsInTheSpec) {
    SimBenchSpec s;
    std::string error;
    ASSERT_TRUE(parseBenchText(kFull, s, error)) << error;
    EXPECT_EQ(s.os.major, 5u);
    EXPECT_EQ(s.os.minor, 1u);
    EXPECT_EQ(s.os.servicePackMajor, 2);
    EXPECT_FALSE(s.os.extendedOk);
    EXPECT_TRUE(s.os.basicOk);
    EXPECT_EQ(s.systemLetter, 'D');
    EXPECT_FALSE(s.enumerationFails);
    EXPECT_EQ(s.rescanFailsAt, 2);
    EXPECT_EQ(s.executablePath, "C:\\demo\\qxupdater.exe");
    EXPECT_EQ(s.executableSize, 4000000);
    EXPECT_FALSE(s.elevated);
    EXPECT_FALSE(s.scsiAta12);
    ASSERT_EQ(s.disks.size(), 2u);
    const SimDiskSpec& d = s.disks[0];
    EXPECT_EQ(d.path, "\\\\?\\usbstor#disk&ven_quorvex#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_EQ(d.bus, SimBus::Usb);
    EXPECT_TRUE(d.hasDrive);
    EXPECT_EQ(d.drive.controller, ControllerKind::Maker);
    EXPECT_EQ(d.drive.model, "  Padded Model  ");
    EXPECT_EQ(d.drive.serial, "S123");
    EXPECT_EQ(d.drive.sectors28, 0x0FFFFFFFu);
    EXPECT_EQ(d.drive.sectors48, 500118192u);
    EXPECT_EQ(d.drive.wwn[1], 0xB448);
    EXPECT_EQ(d.drive.buildInfo[36], 't');
    EXPECT_EQ(d.drive.buildInfo[62], 0);
    EXPECT_EQ(d.drive.buildInfo[63], 1);
    EXPECT_EQ(d.drive.pageSizeCode, 3);
    EXPECT_EQ(d.drive.systemBlocks[1], 17);
    EXPECT_EQ(d.drive.systemBlocks[3], 0xFFFF);
    EXPECT_EQ(d.drive.signatureBlock, -1);
    EXPECT_EQ(d.drive.masterPassword, "SECRET");
    EXPECT_TRUE(d.drive.securityFrozen);
    EXPECT_FALSE(d.drive.newFirmwareAtOnce);
    EXPECT_EQ(d.drive.smartData[2], 9);
    EXPECT_EQ(d.drive.smartData[7], 0xD2);
    EXPECT_EQ(d.drive.smartData[8], 0x04);
    EXPECT_EQ(d.drive.smartData[14], 194);
    EXPECT_EQ(d.drive.smartData[14 + 5], 0x21);
    EXPECT_EQ(d.drive.smartData[14 + 9], 0x40);
    EXPECT_EQ(d.drive.smartThresholds[2], 5);
    EXPECT_EQ(d.drive.smartThresholds[3], 10);
    EXPECT_EQ(d.inquiryCode[0], 0x05);
    EXPECT_EQ(d.inquiryCode[3], 0x18);
    EXPECT_EQ(d.inquiryLength, 36u);
    EXPECT_FALSE(d.passesAta);
    EXPECT_EQ(d.volumes, (std::vector<char>{'E', 'F'}));
    EXPECT_EQ(d.commandMs, 5u);
    EXPECT_EQ(d.heldByOther, SimHold::Shared);
    ASSERT_EQ(d.faults.size(), 6u);
    EXPECT_EQ(d.faults[0].key, "ata:ec");
    EXPECT_EQ(d.faults[0].occurrence, 2);
    EXPECT_EQ(d.faults[0].kind, FaultKind::AtaError);
    EXPECT_EQ(d.faults[0].errorReg, 0x10);
    EXPECT_EQ(d.faults[1].occurrence, 0);
    EXPECT_EQ(d.faults[1].kind, FaultKind::OpenFails);
    EXPECT_EQ(d.faults[1].lastError, 5u);
    EXPECT_EQ(d.faults[2].senseKey, 0x06);
    EXPECT_EQ(d.faults[2].asc, 0x29);
    EXPECT_EQ(d.faults[3].kind, FaultKind::Hang);
    EXPECT_EQ(d.faults[3].ms, 11000u);
    EXPECT_EQ(d.faults[4].key, "ata:b0/d0");
    EXPECT_EQ(d.faults[4].bytes, 100u);
    EXPECT_EQ(d.faults[5].kind, FaultKind::ControlFails);
    EXPECT_EQ(d.faults[5].lastError, 0u);
    // Defaults of a sparse disk; a hard disk rotates.
    EXPECT_EQ(s.disks[1].bus, SimBus::Ide);
    EXPECT_EQ(s.disks[1].drive.controller, ControllerKind::HardDisk);
    EXPECT_EQ(s.disks[1].drive.rotationRate, 7200);
}

TEST(BenchFile, PowerSourceKeys) {
    SimBenchSpec s;
    std::string error;
    ASSERT_TRUE(parseBenchText("[system]\n", s, error)) << error;
    EXPECT_TRUE(s.acPower);
    EXPECT_EQ(s.batteryPercent, -1);
    SimBenchSpec low;
    ASSERT_TRUE(parseBenchText("[system]\nac-power = no\nbattery = 20\n", low, error)) << error;
    EXPECT_FALSE(low.acPower);
    EXPECT_EQ(low.batteryPercent, 20);
    SimBench bench(low);
    const PowerSource power = bench.platform().system->powerSource();
    EXPECT_TRUE(power.onBattery);
    EXPECT_EQ(power.batteryPercent, 20);
    SimBenchSpec bad;
    EXPECT_FALSE(parseBenchText("[system]\nbattery = 101\n", bad, error));
    EXPECT_EQ(error, "line 2: battery must be a percentage from 0 to 100");
    EXPECT_FALSE(parseBenchText("[system]\nac-power = maybe\n", bad, error));
    EXPECT_EQ(error, "line 2: ac-power must be yes or no");
}

// The keys of the security state, the erase time and the system's freeze at start, with
// compatible defaults: a bench without them is unchanged.
TEST(BenchFile, SecurityEraseTimeAndFreezeKeys) {
    SimBenchSpec s;
    std::string error;
    ASSERT_TRUE(parseBenchText("[disk]\npath = a\n", s, error)) << error;
    EXPECT_TRUE(s.windows);
    EXPECT_FALSE(s.securityFreezeAtStart);
    EXPECT_TRUE(s.disks[0].drive.securitySupported);
    EXPECT_FALSE(s.disks[0].drive.securityAttemptsExpired);
    EXPECT_EQ(s.disks[0].drive.eraseTimeWord, 0);
    EXPECT_EQ(s.disks[0].drive.eraseMs, 0u);
    EXPECT_TRUE(s.disks[0].busyVolumes.empty());

    ASSERT_TRUE(parseBenchText("[system]\nsystem = Linux\nsecurity-freeze-at-start = yes\n"
                               "[disk]\npath = a\nsecurity = no\nsecurity-attempts-expired = yes\n"
                               "erase-estimate = 4\nerase-ms = 240000\nvolumes = D E\nbusy-volumes = e:\n"
                               "[disk]\npath = b\nerase-estimate = 509\n"
                               "[disk]\npath = c\nerase-estimate = 3\n",
                               s, error))
        << error;
    EXPECT_FALSE(s.windows);
    EXPECT_TRUE(s.securityFreezeAtStart);
    EXPECT_FALSE(s.disks[0].drive.securitySupported);
    EXPECT_TRUE(s.disks[0].drive.securityAttemptsExpired);
    EXPECT_EQ(s.disks[0].drive.eraseTimeWord, 2);          // units of 2 minutes
    EXPECT_EQ(s.disks[1].drive.eraseTimeWord, 0x8000 | 255);  // beyond 508 minutes: extended
    EXPECT_EQ(s.disks[2].drive.eraseTimeWord, 2);          // rounded up
    EXPECT_EQ(s.disks[0].drive.eraseMs, 240000u);
    EXPECT_EQ(s.disks[0].busyVolumes, std::vector<char>{'E'});
}

// Windows' inbox drivers freeze what they drive at start: ide and scsi paths, not USB or
// SBP-2 bridges.
TEST(BenchFile, FreezeAtStartReachesDirectlyAttachedDrivesOnly) {
    std::string error;
    auto bench = SimBench::fromText("[system]\nsecurity-freeze-at-start = yes\n"
                                    "[disk]\npath = a\nbus = ide\n[disk]\npath = b\nbus = scsi\n"
                                    "[disk]\npath = c\nbus = usb\n[disk]\npath = d\nbus = sbp2\n",
                                    error);
    ASSERT_NE(bench, nullptr) << error;
    const bool expected[] = {true, true, false, false};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(bench->driveState(i).frozenBySystem, expected[i]) << i;
}

TEST(BenchFile, CallKeyAndTimeOutKind) {
    SimBenchSpec s;
    std::string error;
    ASSERT_TRUE(parseBenchText("[disk]\npath = a\nfault = call at 4 timeout\nfault = call every control-fails\n", s,
                               error))
        << error;
    ASSERT_EQ(s.disks.at(0).faults.size(), 2u);
    EXPECT_EQ(s.disks[0].faults[0].key, "call");
    EXPECT_EQ(s.disks[0].faults[0].occurrence, 4);
    EXPECT_EQ(s.disks[0].faults[0].kind, FaultKind::TimeOut);
    EXPECT_EQ(s.disks[0].faults[1].occurrence, 0);
    EXPECT_FALSE(parseBenchText("[disk]\npath = a\nfault = call at 1 timeout 5\n", s, error));
    EXPECT_NE(error.find("timeout takes no argument"), std::string::npos) << error;
}

TEST(BenchFile, WindowsLineEndsAndNoDriveAtAll) {
    SimBenchSpec s;
    std::string error;
    ASSERT_TRUE(parseBenchText("[disk]\r\npath = a\r\ndrive = none\r\n", s, error)) << error;
    ASSERT_EQ(s.disks.size(), 1u);
    EXPECT_EQ(s.disks[0].path, "a");
    EXPECT_FALSE(s.disks[0].hasDrive);
    ASSERT_TRUE(parseBenchText("", s, error));
    EXPECT_TRUE(s.disks.empty());
}

TEST(BenchFile, TheDemoBench) {
    SimBenchSpec s;
    std::string error;
    ASSERT_TRUE(parseBenchText(demoBenchText(), s, error)) << error;
    ASSERT_EQ(s.disks.size(), 7u);
    EXPECT_EQ(s.disks[0].drive.serial, "QX74A0000001");
    EXPECT_EQ(s.disks[0].drive.sectors28, 0x0FFFFFFFu);
    EXPECT_EQ(s.disks[0].drive.sectors48, 500118192u);
    EXPECT_EQ(s.disks[0].drive.signatureBlock, 1);
    EXPECT_EQ(s.disks[1].volumes, std::vector<char>{'C'});
    EXPECT_EQ(s.disks[1].drive.sectors28, 250069680u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.disks[1].drive.buildInfo.data()) + 6, 6), "111008");
    EXPECT_EQ(s.disks[2].bus, SimBus::Usb);
    EXPECT_EQ(std::string(s.disks[2].inquiryCode.begin(), s.disks[2].inquiryCode.end()), "k403");
    EXPECT_EQ(s.disks[3].drive.controller, ControllerKind::Foreign);
    EXPECT_EQ(s.disks[4].drive.controller, ControllerKind::HardDisk);
    EXPECT_EQ(std::string(s.disks[5].inquiryCode.begin(), s.disks[5].inquiryCode.end()), "ZZ99");
    EXPECT_EQ(s.disks[6].drive.firmware, "0.98");
    // The keys a bench leaves out keep today's behaviour.
    EXPECT_TRUE(s.elevated);
    EXPECT_TRUE(s.scsiAta12);
    EXPECT_EQ(s.executableSize, -1);
    EXPECT_NE(SimBench::demo(), nullptr);
}

struct Bad {
    const char* text;
    const char* error;
};

TEST(BenchFile, ErrorsNameTheirLine) {
    const Bad cases[] = {
        {"model = x\n", "line 1: key 'model' outside a section"},
        {"[system]\nos = 6\n", "line 2: os must be MAJOR.MINOR, e.g. 6.1"},
        {"[sys]\n", "line 1: unknown section [sys]"},
        {"[system\n", "line 1: section header without ']'"},
        {"[disk]\npath = a\nmodle = x\n", "line 3: unknown key 'modle' in [disk]"},
        {"# c\n[disk]\nmodel = x\n\n[disk]\npath = b\n", "line 2: [disk] without path"},
        {"[disk]\npath = A\n[disk]\npath = a\n", "line 3: path already used by disk 0"},
        {"[disk]\npath = a\npath = b\n", "line 3: duplicate key 'path'"},
        {"[disk]\npath = a\nsectors = -1\n", "line 3: sectors must be a number below 2^48"},
        {"[disk]\npath = a\nrotation = 65536\n", "line 3: rotation must be a 16-bit number"},
        {"[disk]\npath = a\nmodel = 12345678901234567890123456789012345678901\n",
         "line 3: model longer than 40 characters"},
        {"[disk]\npath = a\nserial = 123456789012345678901\n", "line 3: serial longer than 20 characters"},
        {"[disk]\npath = a\nwwn = 1 2 3\n", "line 3: wwn must be four hexadecimal words"},
        {"[disk]\npath = a\nsmart = 0:12\n", "line 3: smart entries must be ID:HEX with ID 1 to 255"},
        {"[disk]\npath = a\nsmart = 9:1234567890123\n", "line 3: smart raw value must be at most 12 hex digits"},
        {"[disk]\npath = a\nvolumes = C 1\n", "line 3: volumes must be drive letters"},
        {"[disk]\npath = a\nvolumes = C c\n", "line 3: volume C listed twice"},
        {"[disk]\npath = a\nbusy-volumes = 1\n", "line 3: busy-volumes must be drive letters"},
        {"[system]\nsecurity-freeze-at-start = maybe\n", "line 2: security-freeze-at-start must be yes or no"},
        {"[system]\nsystem = macos\n", "line 2: system must be windows or linux"},
        {"[disk]\npath = a\nsecurity = sometimes\n", "line 3: security must be yes or no"},
        {"[disk]\npath = a\nsecurity-attempts-expired = 2\n", "line 3: security-attempts-expired must be yes or no"},
        {"[disk]\npath = a\nerase-estimate = 65535\n", "line 3: erase-estimate must be 0 to 65534 minutes"},
        {"[disk]\npath = a\nerase-ms = -5\n", "line 3: erase-ms must be 0 to 86400000"},
        {"[disk]\npath = a\nfault = ata:ec\n", "line 3: fault must be 'KEY at N KIND [ARG]' or 'KEY every KIND [ARG]'"},
        {"[disk]\npath = a\nfault = ata:zz at 1 ata-error\n", "line 3: unknown fault key 'ata:zz'"},
        {"[disk]\npath = a\nfault = ata:ec at 0 ata-error\n", "line 3: fault occurrence must be 1 to 1000000"},
        {"[disk]\npath = a\nfault = ata:ec at 1 explode\n", "line 3: unknown fault kind 'explode'"},
        {"[disk]\npath = a\nfault = ata:ec at 1 open-fails\n", "line 3: open-fails goes with the key open, and only there"},
        {"[disk]\npath = a\nfault = open at 1 ata-error\n", "line 3: the key open takes open-fails or hang"},
        {"[disk]\npath = a\nfault = ata:ec at 1 hang\n", "line 3: hang needs milliseconds (at most 3600000)"},
        {"[disk]\npath = a\nfault = scsi:12 at 1 check-condition 5/24/0\n", "line 3: check-condition sense must be KK/AA/QQ in hex"},
        {"[disk]\npath = a\nfault = ata:ec at 1 ata-error 10 20\n", "line 3: too many words in fault"},
        {"[disk]\npath = a\nbus = firewire\n", "line 3: bus must be ide, scsi, usb, sbp2 or other"},
        {"[disk]\npath = a\ninquiry-code = k4030\n", "line 3: inquiry-code longer than 4 characters"},
        {"[disk]\npath = a\ninquiry-length = 97\n", "line 3: inquiry-length must be 0 to 96"},
        {"[disk]\npath = a\nbuildinfo = 1234567890123456789012345678901234567890123456789012345678901234\n",
         "line 3: buildinfo longer than 63 characters"},
        {"[disk]\npath = a\nno equals sign\n", "line 3: expected 'key = value'"},
        {"[disk]\npath = a\n[system]\n", "line 3: [system] must come before the disks"},
        {"[disk]\npath = a\x01\n", "line 2: control character in line"},
    };
    for (const Bad& c : cases) {
        SimBenchSpec s;
        s.systemLetter = 'Q';
        std::string error;
        EXPECT_FALSE(parseBenchText(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(s.systemLetter, 'Q') << "a failed parse leaves the setup alone";
    }
}

TEST(BenchFile, BoundsOnSizeLinesDisksAndFaults) {
    SimBenchSpec s;
    std::string error;
    EXPECT_FALSE(parseBenchText(std::string((1 << 20) + 1, '#'), s, error));
    EXPECT_EQ(error, "bench text is larger than 1 MiB");
    EXPECT_FALSE(parseBenchText("[disk]\npath = " + std::string(9000, 'p') + "\n", s, error));
    EXPECT_EQ(error, "line 2: line longer than 8192 characters");

    std::string many;
    for (int i = 0; i < 257; ++i) many += "[disk]\npath = d" + std::to_string(i) + "\n";
    EXPECT_FALSE(parseBenchText(many, s, error));
    EXPECT_EQ(error, "line 513: more than 256 disks");

    std::string faults = "[disk]\npath = a\n";
    for (int i = 0; i < 65; ++i) faults += "fault = ata:ec every ata-error\n";
    EXPECT_FALSE(parseBenchText(faults, s, error));
    EXPECT_EQ(error, "line 67: more than 64 faults on one disk");

    std::string most;
    for (int i = 0; i < 256; ++i) most += "[disk]\npath = d" + std::to_string(i) + "\n";
    EXPECT_TRUE(parseBenchText(most, s, error)) << error;
    EXPECT_EQ(s.disks.size(), 256u);
}

TEST(BenchFile, HostileInputNeverCrashes) {
    const std::vector<std::string> tokens = {
        "[disk]", "[system]", "path = ", "fault = ", "ata:ec", " at ", " every ", "hang ", "9:",
        "=", "\n", "\r\n", "\"", "0x", "ffffffffffffffffffff", "-", "smart = ", "wwn = ",
        "system-blocks = ", "volumes = ", "[", "]", " ", "\xff", "\x00", "#", "sectors = ",
        "inquiry-code = hex:", "os = ", ".", "99999999999999999999999", "short-data ", "open"};
    uint32_t x = 12345;
    int parsed = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int n = static_cast<int>(x % 60);
        for (int i = 0; i < n; ++i) {
            x = x * 1103515245u + 12345u;
            text += tokens[(x >> 16) % tokens.size()];
        }
        x = x * 1103515245u + 12345u;
        SimBenchSpec s;
        std::string error;
        if (parseBenchText(text, s, error)) {
            ++parsed;
            // Whatever parses must also build a working bench.
            SimBench bench(s);
            EXPECT_LE(s.disks.size(), 256u);
        } else {
            EXPECT_EQ(error.rfind("line ", 0) == 0 || error.find("larger") != std::string::npos, true) << error;
        }
    }
    EXPECT_GT(parsed, 0);
}

TEST(BenchFile, FromFileAndFromSetting) {
    const test::TempDir tmp("qx-benchfile");
    const auto& dir = tmp.path();
    const auto good = dir / "good.bench";
    {
        std::ofstream out(good, std::ios::binary);
        out << "[disk]\npath = \\\\?\\ide#one\n";
    }
    std::string error;
    auto bench = SimBench::fromFile(good.string(), error);
    ASSERT_NE(bench, nullptr) << error;
    EXPECT_EQ(bench->setup().disks.size(), 1u);
    bench = SimBench::fromSetting("sim:" + good.string(), error);
    ASSERT_NE(bench, nullptr) << error;

    const auto bad = dir / "bad.bench";
    {
        std::ofstream out(bad, std::ios::binary);
        out << "[disk]\npath = a\nrotation = fast\n";
    }
    EXPECT_EQ(SimBench::fromFile(bad.string(), error), nullptr);
    EXPECT_EQ(error, bad.string() + ": line 3: rotation must be a 16-bit number");

    EXPECT_EQ(SimBench::fromFile((dir / "missing.bench").string(), error), nullptr);
    EXPECT_NE(error.find("cannot open bench file"), std::string::npos);

    const auto big = dir / "big.bench";
    {
        std::ofstream out(big, std::ios::binary);
        out << std::string((1 << 20) + 10, '#');
    }
    EXPECT_EQ(SimBench::fromFile(big.string(), error), nullptr);
    EXPECT_NE(error.find("larger than 1 MiB"), std::string::npos);

    auto demo = SimBench::fromSetting("sim", error);
    ASSERT_NE(demo, nullptr);
    EXPECT_EQ(demo->setup().disks.size(), 7u);
    EXPECT_EQ(SimBench::fromSetting("simulated", error), nullptr);
    EXPECT_EQ(SimBench::fromSetting("sim:", error), nullptr);
}

}  // namespace
}  // namespace qx::sim
