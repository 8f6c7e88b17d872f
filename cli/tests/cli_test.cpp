// qxupdater-cli end to end on the simulated bench: every subcommand in text and JSON, the
// DISK forms, the confirmations, the password sources, and each exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "CliHarness.h"
#include "platform/sim/SimBench.h"
#include "cli/TerminalUser.h"
#include "support/TempDir.h"

namespace qx::test {
namespace {

using nlohmann::json;

void writeText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One line of text ending in a newline.
bool oneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

// A bench file of disks written by the test (sim:PATH).
class BenchFile {
public:
    explicit BenchFile(const std::string& text) : path_(dir_.file("bench.txt")) {
        writeText(path_, text);
    }
    std::string setting() const { return "sim:" + path_; }

private:
    TempDir dir_;
    std::string path_;
};

const char* const kMakerDisk =
    "[disk]\npath = \\\\?\\ide#diskone\nbus = ide\ndrive = maker\nmodel = QX One\n"
    "serial = SAME0001\nbuildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01\n"
    "wwn = 5001 b448 1234 5601\nsignature-block = 1\n";

// ---------------------------------------------------------------------------------------
TEST(CliList, JsonOnTheDemoBench) {
    const CliRun r = runCli({"list", "--json", "--devices", "sim"});
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = r.json();
    EXPECT_EQ(j["command"], "list");
    ASSERT_EQ(j["drives"].size(), 4u);
    const json& first = j["drives"][0];
    EXPECT_EQ(first["disk"], 1);
    EXPECT_EQ(first["model"], "Quorvex QX-T74 256GB");
    EXPECT_EQ(first["serial"], "QX74A0000001");
    EXPECT_EQ(first["firmware"], "1.02");
    EXPECT_EQ(first["capacityGB"], 238);
    EXPECT_EQ(first["bus"], "IDE / SATA");
    EXPECT_EQ(first["busKind"], "DEVICE_IDE");
    EXPECT_TRUE(contains(first["path"], "diskquorvex_qx-t74_256gb"));
    EXPECT_EQ(first["driveLetter"], "D");
    // The system volume's letter is never given; a USB drive keeps its firmware field whole.
    EXPECT_TRUE(j["drives"][1]["driveLetter"].is_null());
    EXPECT_EQ(j["drives"][1]["capacityGB"], 119);
    EXPECT_EQ(j["drives"][2]["bus"], "USB / SATA");
    EXPECT_EQ(j["drives"][2]["busKind"], "DEVICE_USB");
    EXPECT_EQ(j["drives"][2]["driveLetter"], "E");
    EXPECT_EQ(j["drives"][2]["firmware"], "1.02    ");
    EXPECT_EQ(j["drives"][3]["serial"], "QX74D0000006");
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(CliList, TextTableAndTheEnvironment) {
    // QXUPDATER_DEVICES chooses the bench when --devices is not given.
    CliSetup setup;
    setup.env["QXUPDATER_DEVICES"] = "sim";
    const CliRun r = runCli({"list"}, setup);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Disk  Model", 0), 0u) << r.out;
    EXPECT_TRUE(contains(r.out, "Serial No."));
    EXPECT_TRUE(contains(r.out, "QX74B0000002"));
    EXPECT_TRUE(contains(r.out, "238"));
    EXPECT_TRUE(contains(r.out, "E:"));
    EXPECT_FALSE(contains(r.out, "HD0000000005")) << "the hard disk is not listed";

    // --devices wins over the environment.
    setup.env["QXUPDATER_DEVICES"] = "sim:/no/such/bench";
    EXPECT_EQ(runCli({"list", "--devices", "sim"}, setup).code, 0);
}

TEST(CliList, NoDriveIsAnEmptyList) {
    BenchFile bench("[disk]\npath = \\\\?\\ide#diskhdd\ndrive = harddisk\n");
    const CliRun r = runCli({"list", "--json", "--devices", bench.setting()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.json()["drives"].empty());
    EXPECT_TRUE(contains(runCli({"list", "--devices", bench.setting()}).out, "(no drive found)"));
}

// ---------------------------------------------------------------------------------------
TEST(CliExit, UsageErrorsAreOneLineAndTouchNothing) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", "--frobnicate", "--devices", "sim"},
          std::vector<std::string>{"--devices", "sim"},
          std::vector<std::string>{"smart", "--devices", "sim"},
          std::vector<std::string>{"list", "--devices", "floppy"}}) {
        const CliRun r = runCli(args);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_TRUE(oneLine(r.err)) << r.err;
        EXPECT_EQ(r.err.rfind("qxupdater-cli: ", 0), 0u) << r.err;
        EXPECT_FALSE(r.backendOpened) << args[0];
    }
    const CliRun help = runCli({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(contains(help.out, "update"));
}

TEST(CliExit, BackendThatCannotStartIsFour) {
    TempDir dir;
    const CliRun missing = runCli({"list", "--devices", "sim:" + dir.file("none.txt")});
    EXPECT_EQ(missing.code, 4);
    EXPECT_TRUE(contains(missing.err, "none.txt")) << missing.err;

    BenchFile noList("[system]\nenumeration = fails\n[disk]\npath = \\\\?\\ide#diskone\n");
    const CliRun failed = runCli({"list", "--json", "--devices", noList.setting()});
    EXPECT_EQ(failed.code, 4);
    EXPECT_EQ(failed.json()["exitCode"], 4);

    // Every disk refuses the open for lack of rights: not "no drives", but no back-end.
    BenchFile denied(
        "[disk]\npath = \\\\?\\ide#diskone\nfault = open every open-fails 5\n"
        "[disk]\npath = \\\\?\\ide#disktwo\nfault = open every open-fails 5\n");
    const CliRun r = runCli({"list", "--devices", denied.setting()});
    EXPECT_EQ(r.code, 4);
    EXPECT_TRUE(contains(r.err, "permission denied")) << r.err;
}

// ---------------------------------------------------------------------------------------
TEST(CliExplain, EveryCandidateOfTheDemoBench) {
    const CliRun r = runCli({"explain", "--json", "--devices", "sim"});
    ASSERT_EQ(r.code, 0) << r.err;
    const json c = r.json()["candidates"];
    ASSERT_EQ(c.size(), 7u);
    EXPECT_EQ(c[0]["reason"], "listed");
    EXPECT_EQ(c[0]["disk"], 1);
    EXPECT_EQ(c[0]["identify"]["rotationRate"], 1);
    EXPECT_EQ(c[0]["probe"]["rounds"], 1);
    EXPECT_EQ(c[0]["probe"]["answers"][0]["bytes"], "e5515800");
    EXPECT_EQ(c[2]["reason"], "listed");
    EXPECT_EQ(c[2]["inquiry"]["code"], "k403");
    EXPECT_EQ(c[2]["inquiry"]["class"], 4);
    EXPECT_EQ(c[2]["bridgeIdentify"]["ok"], true);
    // Another maker's SSD: six rounds, the wrong answer each time.
    EXPECT_EQ(c[3]["reason"], "no-vendor-answer");
    EXPECT_EQ(c[3]["listed"], false);
    EXPECT_TRUE(c[3]["disk"].is_null());
    EXPECT_EQ(c[3]["probe"]["rounds"], 6);
    EXPECT_EQ(c[3]["probe"]["answers"][5]["bytes"], "e5515801");
    // The hard disk: one IDENTIFY and no vendor round.
    EXPECT_EQ(c[4]["reason"], "rotating");
    EXPECT_EQ(c[4]["identify"]["rotationRate"], 7200);
    EXPECT_EQ(c[4]["probe"]["rounds"], 0);
    EXPECT_EQ(c[5]["reason"], "unknown-bridge-code");
    EXPECT_EQ(c[5]["inquiry"]["code"], "ZZ99");
    EXPECT_EQ(c[6]["disk"], 4);
    for (const json& one : c) EXPECT_FALSE(one["explanation"].get<std::string>().empty());
}

TEST(CliExplain, EachReasonToPassOver) {
    BenchFile bench(
        "[disk]\npath = \\\\?\\pci#diskother\n"
        "[disk]\npath = \\\\?\\usbstor#diskvendor\nbus = usb\ninquiry-code = R20X\n"
        "[disk]\npath = \\\\?\\usbstor#disknoinquiry\nbus = usb\ninquiry-code = k403\n"
        "fault = scsi:12 every control-fails\n"
        "[disk]\npath = \\\\?\\usbstor#diskbadanswer\nbus = usb\ninquiry-code = k403\n"
        "fault = ata:ec every ata-error 04\n"
        "[disk]\npath = \\\\?\\ide#diskdead\nfault = ata:ec every control-fails\n");
    const CliRun r = runCli({"explain", "--json", "--devices", bench.setting()});
    ASSERT_EQ(r.code, 0) << r.err;
    const json c = r.json()["candidates"];
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[0]["reason"], "no-bus-kind");
    EXPECT_EQ(c[0]["busKind"], "none");
    EXPECT_EQ(c[1]["reason"], "vendor-usb-device");
    EXPECT_EQ(c[1]["inquiry"]["class"], 10);
    EXPECT_EQ(c[2]["reason"], "inquiry-failed");
    EXPECT_EQ(c[2]["inquiry"]["ok"], false);
    EXPECT_EQ(c[3]["reason"], "bridge-identify-failed");
    EXPECT_EQ(c[4]["reason"], "identify-failed");
    EXPECT_EQ(c[4]["identify"]["ok"], false);
    EXPECT_EQ(c[4]["explanation"], "IDENTIFY DEVICE failed");

    const CliRun text = runCli({"explain", "--devices", bench.setting()});
    ASSERT_EQ(text.code, 0);
    EXPECT_TRUE(contains(text.out, "passed over: the path names no known bus"));
    EXPECT_TRUE(contains(text.out, "(class 10)"));
    EXPECT_TRUE(contains(text.out, "IDENTIFY DEVICE through the bridge failed"));
}

TEST(CliExplain, FullDriveTableAndScsiPaths) {
    // Windows 7: a SCSI path is a SCSI-path drive; 17 of the maker's drives overflow the table.
    std::string text = "[system]\nos = 6.1\n";
    for (int i = 0; i < 17; ++i) {
        text += "[disk]\npath = \\\\?\\scsi#disk" + std::to_string(i) + "\nbus = scsi\nserial = S" +
                std::to_string(i) + "\n";
    }
    BenchFile bench(text);
    const CliRun r = runCli({"explain", "--json", "--devices", bench.setting()});
    ASSERT_EQ(r.code, 0) << r.err;
    const json c = r.json()["candidates"];
    ASSERT_EQ(c.size(), 17u);
    EXPECT_EQ(c[15]["disk"], 16);
    EXPECT_EQ(c[0]["busKind"], "DEVICE_SCSI");
    EXPECT_EQ(c[0]["bus"], "SCSI");
    EXPECT_EQ(c[16]["reason"], "drive-table-full");
    EXPECT_EQ(c[16]["listed"], false);
    const CliRun list = runCli({"list", "--json", "--devices", bench.setting()});
    ASSERT_EQ(list.json()["drives"].size(), 16u);
    EXPECT_EQ(list.json()["drives"][0]["bus"], "SCSI");
}

// ---------------------------------------------------------------------------------------
TEST(CliSmart, ReportLinesAndAttributes) {
    const CliRun text = runCli({"smart", "1", "--devices", "sim"});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "Power on hour=1234\n"));
    EXPECT_TRUE(contains(text.out, "Temperature: Current=33  Min=18  Max=64\n"));

    const CliRun r = runCli({"smart", "QX74C0000003", "--json", "--devices", "sim"});
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = r.json();
    EXPECT_EQ(j["disk"], 3);
    EXPECT_EQ(j["ok"], true);
    ASSERT_FALSE(j["lines"].empty());
    const json& a = j["attributes"];
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(a[0]["id"], 9);
    EXPECT_EQ(a[0]["name"], "Power-on Hours Count");
    EXPECT_EQ(a[0]["fields"]["hours"], 1234);
    EXPECT_EQ(a[0]["raw"], "d20400000000");
    EXPECT_EQ(a[0]["current"], 100);
    const json& bad = a[3];
    EXPECT_EQ(bad["id"], 169);
    EXPECT_EQ(bad["fields"]["badBlocks"], 3);
    EXPECT_EQ(bad["fields"]["totalBad"], 10);
    EXPECT_EQ(bad["fields"]["laterBad"], 2);
    EXPECT_EQ(bad["lines"].size(), 3u);
    const json& temperature = a[7];
    EXPECT_EQ(temperature["fields"]["current"], 33);
    EXPECT_EQ(temperature["fields"]["max"], 64);
}

TEST(CliSmart, DiskFormsAndFailures) {
    const CliRun list = runCli({"list", "--json", "--devices", "sim"});
    const std::string path = list.json()["drives"][1]["path"];
    const CliRun byPath = runCli({"smart", path, "--json", "--devices", "sim"});
    ASSERT_EQ(byPath.code, 0) << byPath.err;
    EXPECT_EQ(byPath.json()["disk"], 2);

    EXPECT_EQ(runCli({"smart", "9", "--devices", "sim"}).code, 3);
    const CliRun unknown = runCli({"smart", "NOSUCHSERIAL", "--devices", "sim"});
    EXPECT_EQ(unknown.code, 3);
    EXPECT_TRUE(contains(unknown.err, "NOSUCHSERIAL"));

    BenchFile twins(std::string(kMakerDisk) + std::string(kMakerDisk).replace(
                                                  std::string(kMakerDisk).find("diskone"), 7, "disktwo"));
    const CliRun ambiguous = runCli({"smart", "SAME0001", "--devices", twins.setting()});
    EXPECT_EQ(ambiguous.code, 2);
    EXPECT_TRUE(contains(ambiguous.err, "matches 2 drives")) << ambiguous.err;
    EXPECT_EQ(runCli({"smart", "serial:SAME0001", "--devices", twins.setting()}).code, 2);

    BenchFile noSmart(std::string(kMakerDisk) + "fault = ata:b0/d0 every ata-error 04\n");
    const CliRun failed = runCli({"smart", "1", "--json", "--devices", noSmart.setting()});
    EXPECT_EQ(failed.code, 1);
    EXPECT_EQ(failed.json()["ok"], false);
    EXPECT_TRUE(contains(failed.err, "could not be read"));
}

// ---------------------------------------------------------------------------------------
class CliUpdate : public ::testing::Test {
protected:
    void SetUp() override { writeDemoPackage(package); }
    TempDir dir;
    std::string package = dir.file("qxupdater-demo");
};

TEST_F(CliUpdate, AllDrivesPassOrNeedNoUpdate) {
    CliSetup setup;
    bool updated[7] = {};
    int powerOffs = -1;
    setup.onFinish = [&](HostPlatform& host) {
        for (size_t i = 0; i < 7; ++i) updated[i] = host.bench()->driveState(i).firmwareUpdated;
        powerOffs = host.bench()->shutdownRequests();
    };
    const CliRun r = runCli({"update", "--all", "--yes", "--json", "--package", package,
                             "--devices", "sim"},
                            setup);
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = r.json();
    EXPECT_EQ(j["command"], "update");
    EXPECT_EQ(j["mode"], "package");
    ASSERT_EQ(j["drives"].size(), 4u);
    EXPECT_EQ(j["drives"][0]["outcome"], "Pass");
    EXPECT_EQ(j["drives"][1]["outcome"], "Pass");
    EXPECT_EQ(j["drives"][2]["outcome"], "Pass");
    EXPECT_EQ(j["drives"][3]["outcome"], "No update needed");
    EXPECT_EQ(j["drives"][3]["serial"], "QX74D0000006");
    EXPECT_EQ(j["powerOff"], false);
    EXPECT_TRUE(updated[0] && updated[1] && updated[2]);
    EXPECT_FALSE(updated[6]);
    EXPECT_EQ(powerOffs, 0) << "power-off is never automatic";
    // The log box goes to standard error.
    EXPECT_TRUE(contains(r.err, "Disk 1 starting update.\n"));
    EXPECT_TRUE(contains(r.err, "Disk 1 updated successfully, please shut down your system\n"));
    EXPECT_TRUE(contains(r.err, "Disk 4 no update, the firmware file isn't exist\n"));
    EXPECT_FALSE(contains(r.err, "bytes")) << "no progress bar without a terminal";
}

TEST_F(CliUpdate, PowerOffProgressAndText) {
    CliSetup setup;
    setup.errIsTerminal = true;
    int powerOffs = -1;
    setup.onFinish = [&](HostPlatform& host) { powerOffs = host.bench()->shutdownRequests(); };
    const CliRun r = runCli({"update", "2", "--yes", "--power-off", "--package", package,
                             "--devices", "sim"},
                            setup);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(powerOffs, 1);
    EXPECT_TRUE(contains(r.out, "Disk 2 QX74B0000002: Pass\n")) << r.out;
    EXPECT_TRUE(contains(r.err, "150528/150528 bytes")) << r.err;
    EXPECT_TRUE(contains(r.err, "65536/150528 bytes")) << r.err;
}

TEST_F(CliUpdate, FailureIsExitOne) {
    BenchFile bench(std::string(kMakerDisk) + "fault = ata:92 at 1 ata-error 04\n");
    const CliRun r = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                             bench.setting()});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.json()["drives"][0]["outcome"], "Fail");
    EXPECT_TRUE(contains(r.err, "Disk 1 update fail"));
    // Nothing to update is success.
    const CliRun none = runCli({"update", "4", "--yes", "--json", "--package", package,
                                "--devices", "sim"});
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.json()["drives"][0]["outcome"], "No update needed");
}

TEST_F(CliUpdate, ImageFileMode) {
    // The image of slot 2 as a .bin file, for the 40/C3D4/QX02 drive.
    const std::string image = dir.file("SYS_C3D4.bin");
    {
        std::ifstream in(package, std::ios::binary);
        in.seekg(0x300000 + 2 * 163856 + 16);
        std::vector<char> bytes(150528);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::ofstream out(image, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string firmware;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { firmware = host.bench()->driveState(1).firmware; };
    const CliRun r = runCli({"update", "QX74B0000002", "1", "--yes", "--json", "--image", image,
                             "--revision", "1.07", "--devices", "sim"},
                            setup);
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = r.json();
    EXPECT_EQ(j["mode"], "image");
    ASSERT_EQ(j["drives"].size(), 2u);
    EXPECT_EQ(j["drives"][0]["disk"], 1);
    EXPECT_EQ(j["drives"][0]["outcome"], "No update needed");
    EXPECT_EQ(j["drives"][1]["outcome"], "Pass");
    EXPECT_EQ(firmware, "1.07");
    EXPECT_TRUE(contains(r.err, "\"Firmware Mismatch\""));
}

TEST_F(CliUpdate, RefusalsBeforeAnyDrive) {
    // No terminal, no --yes.
    const CliRun noYes = runCli({"update", "1", "--package", package, "--devices", "sim"});
    EXPECT_EQ(noYes.code, 2);
    EXPECT_FALSE(noYes.backendOpened);
    EXPECT_TRUE(contains(noYes.err, "--yes"));
    // A package that cannot be read, or is none.
    const CliRun missing = runCli({"update", "--all", "--yes", "--json", "--package",
                                   dir.file("nothing"), "--devices", "sim"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_FALSE(missing.backendOpened);
    EXPECT_TRUE(oneLine(missing.err)) << missing.err;
    EXPECT_EQ(missing.json()["exitCode"], 2);
    const std::string small = dir.file("small.exe");
    writeText(small, "MZ not a package");
    EXPECT_EQ(runCli({"update", "--all", "--yes", "--package", small, "--devices", "sim"}).code, 2);
    // Without --package the program's own executable must carry one.
    CliSetup own;
    own.executablePath = small;
    const CliRun ownNone = runCli({"update", "--all", "--yes", "--devices", "sim"}, own);
    EXPECT_EQ(ownNone.code, 2);
    EXPECT_TRUE(contains(ownNone.err, "carries no firmware package"));
    own.executablePath = package;
    EXPECT_EQ(runCli({"update", "4", "--yes", "--devices", "sim"}, own).code, 0);
    // An image file that is not there; DISK and --all together.
    EXPECT_EQ(runCli({"update", "1", "--yes", "--image", dir.file("no.bin"),
                      "--devices", "sim"}).code, 2);
    EXPECT_EQ(runCli({"update", "1", "--all", "--yes", "--package", package, "--devices", "sim"}).code, 2);
    // A DISK that names no drive.
    EXPECT_EQ(runCli({"update", "7", "--yes", "--package", package, "--devices", "sim"}).code, 3);
    BenchFile empty("[disk]\npath = \\\\?\\ide#diskhdd\ndrive = harddisk\n");
    EXPECT_EQ(runCli({"update", "--all", "--yes", "--package", package, "--devices", empty.setting()}).code, 3);
}

TEST_F(CliUpdate, RefusalOfTheProcedureIsExitTwo) {
    // The operating-system gate of the update refuses Windows XP SP1: the procedure says so,
    // no drive gets an outcome.
    BenchFile xp(std::string("[system]\nos = 5.1\nservice-pack = 1\n") + kMakerDisk);
    bool updated = true;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { updated = host.bench()->driveState(0).firmwareUpdated; };
    const CliRun r = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                             xp.setting()},
                            setup);
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(updated);
    const json j = r.json();
    EXPECT_TRUE(j["drives"][0]["outcome"].is_null());
    EXPECT_EQ(j["notices"][0],
              "The program must be running on Microsoft Windows XP Service Pack 2 (SP2) or later");
    EXPECT_EQ(r.out.find("\"error\""), std::string::npos) << "one document only";
}

TEST_F(CliUpdate, TypedSerialNumberOnATerminal) {
    CliSetup setup;
    setup.inIsTerminal = true;
    bool updated = true;
    setup.onFinish = [&](HostPlatform& host) { updated = host.bench()->driveState(0).firmwareUpdated; };
    setup.input = "QX74A0000009\n";
    const CliRun wrong = runCli({"update", "1", "--package", package, "--devices", "sim"}, setup);
    EXPECT_EQ(wrong.code, 2);
    EXPECT_TRUE(contains(wrong.err, "Type the serial number of disk 1"));
    EXPECT_TRUE(contains(wrong.err, "does not match"));
    EXPECT_FALSE(updated);

    setup.input = "QX74A0000001\n";
    const CliRun right = runCli({"update", "1", "--package", package, "--devices", "sim"}, setup);
    EXPECT_EQ(right.code, 0) << right.err;
    EXPECT_TRUE(updated);
}

TEST_F(CliUpdate, EveryDocumentCarriesTheVersionAndEveryDriveThatDidNotPassAReason) {
    const CliRun list = runCli({"list", "--json", "--devices", "sim"});
    EXPECT_EQ(list.json()["version"], "A.1.19(RC2)");
    const CliRun usage = runCli({"update", "--json", "--devices", "sim"});
    EXPECT_EQ(usage.json()["version"], "A.1.19(RC2)");

    const CliRun r = runCli({"update", "--all", "--yes", "--json", "--package", package, "--devices", "sim"});
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = r.json();
    EXPECT_EQ(j["version"], "A.1.19(RC2)");
    EXPECT_FALSE(j["drives"][0].contains("reason"));
    const json& none = j["drives"][3];
    EXPECT_EQ(none["outcome"], "No update needed");
    EXPECT_EQ(none["reason"], "no-image-for-drive");
    EXPECT_EQ(none["details"]["binFileName"], "SYS_E5F6.bin") << none.dump();
    EXPECT_TRUE(none["details"].contains("fwVer"));
    EXPECT_TRUE(none["details"].contains("customerId"));

    BenchFile failing(std::string(kMakerDisk) + "fault = ata:92 at 1 ata-error 04\n");
    const CliRun failed = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                                  failing.setting()});
    EXPECT_EQ(failed.json()["drives"][0]["reason"], "download-failed");

    BenchFile xp(std::string("[system]\nos = 5.1\nservice-pack = 1\n") + kMakerDisk);
    const CliRun refused = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                                   xp.setting()});
    EXPECT_EQ(refused.json()["drives"][0]["reason"], "os-refused");
}

TEST_F(CliUpdate, SkipCurrentLeavesADriveThatRunsTheImagesBuild) {
    // The drive runs exactly the build of the package's slot 1.
    const std::string current =
        "[disk]\npath = \\\\?\\ide#diskone\nbus = ide\ndrive = maker\nmodel = QX One\n"
        "serial = SAME0001\nbuildinfo = QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01\n"
        "wwn = 5001 b448 1234 5601\nsignature-block = 1\n";
    BenchFile bench(current);
    int downloads = -1;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { downloads = host.bench()->driveState(0).downloadCommands; };
    const CliRun skip = runCli({"update", "1", "--yes", "--json", "--skip-current", "--package", package,
                                "--devices", bench.setting()},
                               setup);
    ASSERT_EQ(skip.code, 0) << skip.err;
    EXPECT_EQ(skip.json()["drives"][0]["outcome"], "Up to date");
    EXPECT_EQ(skip.json()["drives"][0]["reason"], "firmware-current");
    EXPECT_EQ(downloads, 0);
    // Without the flag the same build is flashed again; a drive on an older build is
    // flashed with it.
    const CliRun again = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                                 bench.setting()},
                                setup);
    EXPECT_EQ(again.json()["drives"][0]["outcome"], "Pass");
    EXPECT_GT(downloads, 0);
    BenchFile older(kMakerDisk);
    const CliRun flashed = runCli({"update", "1", "--yes", "--json", "--skip-current", "--package", package,
                                   "--devices", older.setting()});
    EXPECT_EQ(flashed.json()["drives"][0]["outcome"], "Pass");
}

TEST_F(CliUpdate, DrivesThatPassedAreReadBack) {
    // A drive that runs the new firmware at once reports the image's build.
    BenchFile atOnce(kMakerDisk);
    const CliRun now = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                               atOnce.setting()});
    ASSERT_EQ(now.code, 0) << now.err;
    const json a = now.json()["drives"][0];
    EXPECT_EQ(a["outcome"], "Pass");
    EXPECT_FALSE(a.contains("reason")) << a.dump();
    EXPECT_EQ(a["after"]["firmware"], "1.06") << a.dump();
    EXPECT_EQ(a["after"]["build"], "111020 Oct 01 2012");
    EXPECT_EQ(a["after"]["running"], true);

    // A drive that takes the image at its next power cycle still runs the old build: the
    // outcome stays "Pass", and the text output says so.
    BenchFile later(std::string(kMakerDisk) + "new-firmware = after-power-cycle\n");
    const CliRun pending = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                                   later.setting()});
    ASSERT_EQ(pending.code, 0) << pending.err;
    const json p = pending.json()["drives"][0];
    EXPECT_EQ(p["outcome"], "Pass");
    EXPECT_EQ(p["after"]["build"], "111007 Sep 18 2012") << p.dump();
    EXPECT_EQ(p["after"]["running"], false);
    const CliRun text = runCli({"update", "1", "--yes", "--package", package, "--devices", later.setting()});
    EXPECT_EQ(text.code, 0) << text.err;
    EXPECT_NE(text.out.find("runs the new firmware after a power cycle"), std::string::npos) << text.out;

    // A read-back that fails leaves "Pass" (the firmware was written) and says why: the
    // IDENTIFY after the update is the fourth the drive receives (the scan's and the check before
    // personalising).
    BenchFile noIdentify(std::string(kMakerDisk) + "fault = ata:ec at 4 ata-error 04\n");
    const CliRun unread = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                                  noIdentify.setting()});
    ASSERT_EQ(unread.code, 0) << unread.err;
    const json u = unread.json()["drives"][0];
    EXPECT_EQ(u["outcome"], "Pass");
    EXPECT_TRUE(u["after"].is_null()) << u.dump();
    EXPECT_EQ(u["reason"], "read-back-identify-failed");

    // Drives that did not pass are not read back.
    BenchFile failing(std::string(kMakerDisk) + "fault = ata:92 at 1 ata-error 04\n");
    const CliRun failed = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                                  failing.setting()});
    EXPECT_FALSE(failed.json()["drives"][0].contains("after"));
}

TEST_F(CliUpdate, LowBatteryIsExitTwoWithNothingSent) {
    BenchFile bench(std::string("[system]\nac-power = no\nbattery = 20\n") + kMakerDisk);
    int downloads = -1;
    bool updated = true;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) {
        downloads = host.bench()->driveState(0).downloadCommands;
        updated = host.bench()->driveState(0).firmwareUpdated;
    };
    const CliRun r = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                             bench.setting()},
                            setup);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(downloads, 0);
    EXPECT_FALSE(updated);
    EXPECT_TRUE(contains(r.err, "runs on its battery at 20 %")) << r.err;
    EXPECT_TRUE(r.json()["drives"][0]["outcome"].is_null());
    EXPECT_EQ(r.json()["drives"][0]["reason"], "battery-low");
}

TEST_F(CliUpdate, PackageCutInsideItsLastSlotIsExitTwoWithNothingSent) {
    const auto size = std::filesystem::file_size(package);
    std::filesystem::resize_file(package, size - 4000);
    bool reached = false;
    CliSetup setup;
    setup.onBackend = [&](HostPlatform&) { reached = true; };
    const CliRun r = runCli({"update", "--all", "--yes", "--json", "--package", package,
                             "--devices", "sim"},
                            setup);
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(reached) << "refused before the back-end opens: no DOWNLOAD MICROCODE";
    EXPECT_TRUE(contains(r.err, "slot 2 is cut short")) << r.err;
    EXPECT_TRUE(oneLine(r.err)) << r.err;
    EXPECT_EQ(r.json()["exitCode"], 2);
}

// One process at a time sends commands to the drives: two runs on one bench file exclude
// each other like two processes on one machine.
TEST_F(CliUpdate, SecondRunOnTheSameBenchFileIsRefusedWhileTheFirstUpdates) {
    BenchFile bench(kMakerDisk);
    CliRun second, waited, listed;
    size_t secondCalls = 99;
    uint64_t waitedMs = 0;
    CliSetup first;
    first.onBackend = [&](HostPlatform&) {
        // The first run holds the drives from here to its end.
        CliSetup other;
        other.onFinish = [&](HostPlatform& host) { secondCalls = host.bench()->calls().size(); };
        second = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                         bench.setting()},
                        other);
        CliSetup patient;
        patient.onFinish = [&](HostPlatform& host) { waitedMs = host.bench()->clock().now(); };
        waited = runCli({"list", "--wait", "5", "--devices", bench.setting()}, patient);
    };
    bool updated = false;
    first.onFinish = [&](HostPlatform& host) { updated = host.bench()->driveState(0).firmwareUpdated; };
    const CliRun r = runCli({"update", "1", "--yes", "--json", "--package", package, "--devices",
                             bench.setting()},
                            first);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(updated);

    EXPECT_EQ(second.code, 2);
    EXPECT_EQ(secondCalls, 0u) << "nothing was sent";
    EXPECT_FALSE(second.backendOpened);
    const std::string refusal = "another process is sending commands to the drives";
    EXPECT_TRUE(contains(second.err, refusal)) << second.err;
#if !defined(_WIN32)
    // The holder names itself in the lock file: here this very process.
    EXPECT_TRUE(contains(second.err, "(process " + std::to_string(::getpid()) + ")")) << second.err;
#endif
    EXPECT_TRUE(oneLine(second.err)) << second.err;
    EXPECT_EQ(second.json()["exitCode"], 2);
    EXPECT_TRUE(contains(second.json()["error"], refusal));

    // --wait tries again on the platform clock until its time has passed.
    EXPECT_EQ(waited.code, 2);
    EXPECT_GE(waitedMs, 5000u);

    // Once the first has ended, the drives are free again.
    listed = runCli({"list", "--devices", bench.setting()});
    EXPECT_EQ(listed.code, 0) << listed.err;
}

#if !defined(_WIN32)
TEST_F(CliUpdate, DeviceLockThatCannotBeMadeRefusesWritesOnly) {
    BenchFile bench(kMakerDisk);
    // The lock file's place is taken by a folder: the lock cannot be made, even for root.
    const std::string setting = bench.setting();
    std::filesystem::create_directory(setting.substr(4) + ".lock");
    bool updated = true;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { updated = host.bench()->driveState(0).firmwareUpdated; };
    const CliRun r = runCli({"update", "1", "--yes", "--package", package, "--devices", setting}, setup);
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(updated);
    EXPECT_TRUE(contains(r.err, "cannot be made")) << r.err;
    const CliRun list = runCli({"list", "--json", "--devices", setting});
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_EQ(list.json()["drives"].size(), 1u);
}
#endif

// ---------------------------------------------------------------------------------------
class CliErase : public ::testing::Test {
protected:
    TempDir dir;
    std::string passwordFile(const std::string& text) {
        const std::string p = dir.file("password.txt");
        writeText(p, text);
        return p;
    }
};

TEST_F(CliErase, RightAndWrongPassword) {
    bool erased = false;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { erased = host.bench()->driveState(0).erased; };
    const CliRun right = runCli({"erase", "1", "--yes", "--json", "--password-file",
                                 passwordFile("QXMASTER\n"), "--devices", "sim"},
                                setup);
    ASSERT_EQ(right.code, 0) << right.err;
    EXPECT_TRUE(erased);
    EXPECT_EQ(right.json()["drives"][0]["outcome"], "Pass");
    EXPECT_TRUE(contains(right.err, "Disk 1 secure erase successfully"));
    EXPECT_FALSE(contains(right.out + right.err, "QXMASTER"));

    const CliRun wrong = runCli({"erase", "QX74A0000001", "--yes", "--password-file",
                                 passwordFile("NOT-THE-ONE\r\n"), "--devices", "sim"},
                                setup);
    EXPECT_EQ(wrong.code, 1);
    EXPECT_FALSE(erased);
    EXPECT_TRUE(contains(wrong.out, "Disk 1 QX74A0000001: Fail"));
    EXPECT_TRUE(contains(wrong.err, "Disk 1 secure erase fail!"));
    EXPECT_FALSE(contains(wrong.out + wrong.err, "NOT-THE-ONE"));
}

TEST_F(CliErase, PasswordFromStandardInput) {
    CliSetup setup;
    setup.input = "QXMASTER\n";
    const CliRun r = runCli({"erase", "3", "--yes", "--password-stdin", "--devices", "sim"}, setup);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Disk 3 QX74C0000003: Pass"));
}

TEST_F(CliErase, PasswordFromStandardInputIsBoundedAt4096Bytes) {
    bool erased = true;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { erased = host.bench()->driveState(2).erased; };
    setup.input = std::string(4097, 'Q') + "\n";
    const CliRun over = runCli({"erase", "3", "--yes", "--json", "--password-stdin", "--devices", "sim"}, setup);
    EXPECT_EQ(over.code, 2);
    EXPECT_FALSE(erased);
    EXPECT_TRUE(contains(over.err, "longer than 4096 bytes")) << over.err;
    EXPECT_FALSE(contains(over.out, "QQQQ"));
    // 4,096 bytes are taken (and here are the wrong password).
    setup.input = std::string(4096, 'Q') + "\n";
    const CliRun at = runCli({"erase", "3", "--yes", "--json", "--password-stdin", "--devices", "sim"}, setup);
    EXPECT_EQ(at.code, 1) << at.err;
    EXPECT_EQ(at.json()["drives"][0]["outcome"], "Fail");
    EXPECT_EQ(at.json()["drives"][0]["reason"], "erase-failed");
}

TEST(CliReadBoundedLine, LinesEndAndBounds) {
    std::istringstream in("abc\n\nlast");
    std::string line = "old";
    EXPECT_EQ(cli::ReadBoundedLine(in, line, 3), cli::LineRead::Ok);
    EXPECT_EQ(line, "abc");
    EXPECT_EQ(cli::ReadBoundedLine(in, line, 3), cli::LineRead::Ok);
    EXPECT_EQ(line, "");
    EXPECT_EQ(cli::ReadBoundedLine(in, line, 3), cli::LineRead::TooLong);
    EXPECT_EQ(line, "");
    std::istringstream end("");
    EXPECT_EQ(cli::ReadBoundedLine(end, line, 3), cli::LineRead::End);
}

TEST_F(CliErase, Refusals) {
    const CliRun argument = runCli({"erase", "1", "--yes", "--password", "S3CRET-WORD", "--devices", "sim"});
    EXPECT_EQ(argument.code, 2);
    EXPECT_FALSE(argument.backendOpened);
    EXPECT_TRUE(contains(argument.err, "never taken from the command line"));
    EXPECT_FALSE(contains(argument.out + argument.err, "S3CRET-WORD"));
    const CliRun joined = runCli({"erase", "1", "--yes", "--password=S3CRET-WORD", "--devices", "sim"});
    EXPECT_EQ(joined.code, 2);
    EXPECT_FALSE(contains(joined.out + joined.err, "S3CRET-WORD"));

    // A mistyped option never repeats the value beside it.
    const CliRun typo = runCli({"erase", "1", "--yes", "--pasword", "S3CRET-WORD", "--pw=S3CRET-WORD",
                                "--devices", "sim"});
    EXPECT_EQ(typo.code, 2);
    EXPECT_TRUE(contains(typo.err, "--pasword")) << typo.err;
    EXPECT_FALSE(contains(typo.out + typo.err, "S3CRET-WORD")) << typo.err;

    EXPECT_EQ(runCli({"erase", "1", "--yes", "--devices", "sim"}).code, 2);
    const CliRun noYes = runCli({"erase", "1", "--password-file", passwordFile("QXMASTER"), "--devices", "sim"});
    EXPECT_EQ(noYes.code, 2);
    EXPECT_FALSE(noYes.backendOpened);
    const CliRun missing = runCli({"erase", "1", "--yes", "--password-file",
                                   dir.file("none"), "--devices", "sim"});
    EXPECT_EQ(missing.code, 2);
    bool erased = true;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { erased = host.bench()->driveState(0).erased; };
    const CliRun empty = runCli({"erase", "1", "--yes", "--password-file", passwordFile("\n"),
                                 "--devices", "sim"},
                                setup);
    EXPECT_EQ(empty.code, 2);
    EXPECT_FALSE(erased);
    EXPECT_EQ(runCli({"erase", "8", "--yes", "--password-file", passwordFile("QXMASTER"),
                      "--devices", "sim"}).code, 3);
}

// A drive that refuses the erase receives nothing of it; the JSON says why.
TEST_F(CliErase, FrozenDriveGivesItsReason) {
    BenchFile bench(std::string("[system]\nsystem = linux\n") + kMakerDisk + "security-frozen = yes\n");
    const std::string trace = dir.file("trace.jsonl");
    CliSetup setup;
    setup.env["QXUPDATER_TRACE"] = trace;
    const CliRun r = runCli({"erase", "1", "--yes", "--json", "--password-file",
                             passwordFile("QXMASTER\n"), "--devices", bench.setting()},
                            setup);
    EXPECT_EQ(r.code, 1) << r.err;
    const json j = r.json();
    EXPECT_EQ(j["drives"][0]["outcome"], "Fail");
    EXPECT_EQ(j["drives"][0]["reason"], "frozen");
    EXPECT_TRUE(contains(r.err, "Disk 1 secure erase fail!"));
    EXPECT_TRUE(contains(r.err, "Suspend and resume the computer"));
    // Not one SECURITY command (0xF3, 0xF4) reached the drive.
    const std::string t = fileText(trace);
    ASSERT_FALSE(t.empty());
    std::istringstream lines(t);
    std::string line;
    int ata = 0;
    while (std::getline(lines, line)) {
        const json call = json::parse(line);
        if (!call.contains("taskFileIn")) continue;
        ++ata;
        std::string command = call["taskFileIn"].get<std::string>().substr(12, 2);
        for (char& ch : command) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(command, "f3") << line;
        EXPECT_NE(command, "f4") << line;
    }
    EXPECT_GT(ata, 0);
}

// Windows 8 to 11 on the inbox AHCI driver: SATA disks on scsi# paths, frozen by the driver
// at start; a drive behind the maker's USB bridge is not.
TEST_F(CliErase, WindowsFreezeAtStart) {
    BenchFile bench(
        "[system]\nos = 6.2\nsecurity-freeze-at-start = yes\n"
        "[disk]\npath = \\\\?\\scsi#disk&ven_quorvex&prod_qx-t74_256gb#4&2f1e&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
        "bus = scsi\ndrive = maker\nmodel = QX Sata\nserial = SATA0001\nwwn = 5001 b448 1234 5601\n"
        "buildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01\nsignature-block = 1\n"
        "[disk]\npath = \\\\?\\usbstor#disk&ven_quorvex&prod_usb_to_sata&rev_0001#0123456789ab&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
        "bus = usb\ninquiry-code = k403\ndrive = maker\nmodel = QX Usb\nserial = USB00002\n"
        "wwn = 5001 b448 1234 5602\nbuildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01\n"
        "signature-block = 1\n");
    bool sataErased = true, usbErased = false;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) {
        sataErased = host.bench()->driveState(0).erased;
        usbErased = host.bench()->driveState(1).erased;
    };
    const CliRun r = runCli({"erase", "1", "2", "--yes", "--json", "--password-file",
                             passwordFile("QXMASTER\n"), "--devices", bench.setting()},
                            setup);
    EXPECT_EQ(r.code, 1) << r.err;
    const json j = r.json();
    ASSERT_EQ(j["drives"].size(), 2u) << r.out;
    EXPECT_EQ(j["drives"][0]["reason"], "frozen");
    EXPECT_EQ(j["drives"][1]["outcome"], "Pass");
    EXPECT_FALSE(j["drives"][1].contains("reason"));
    EXPECT_FALSE(sataErased);
    EXPECT_TRUE(usbErased);
    const std::string log = j["log"].dump();
    EXPECT_TRUE(contains(log, "Windows' storage driver froze the drive's security")) << log;
    EXPECT_TRUE(contains(log, "erase it from another system")) << log;
}

// The disk that holds the running Windows (the demo bench's disk 2 holds C:).
TEST_F(CliErase, SystemDiskIsRefused) {
    bool erased = true;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { erased = host.bench()->driveState(1).erased; };
    const CliRun r = runCli({"erase", "2", "--yes", "--json", "--password-file",
                             passwordFile("QXMASTER\n"), "--devices", "sim"},
                            setup);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.json()["drives"][0]["reason"], "system-disk");
    EXPECT_FALSE(erased);
}

TEST(CliEraseTicker, ElapsedAgainstTheEstimate) {
    EXPECT_EQ(cli::EraseElapsedLine(1, 185, 480), "Disk 2 erasing: 3:05 of about 8:00");
    EXPECT_EQ(cli::EraseElapsedLine(0, 7, 0), "Disk 1 erasing: 0:07");
}

// ---------------------------------------------------------------------------------------
TEST(CliPackage, InspectTextAndJson) {
    TempDir dir;
    const std::string package = dir.file("pkg.exe");
    const int32_t size = writeDemoPackage(package);
    const CliRun r = runCli({"package", "inspect", package, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(r.backendOpened);
    const json j = r.json();
    EXPECT_EQ(j["command"], "package inspect");
    EXPECT_EQ(j["size"], size);
    EXPECT_EQ(j["versionText"], "1.06");
    EXPECT_EQ(j["productName"], "QX Demo SSD");
    EXPECT_EQ(j["pictureFlag"], false);
    EXPECT_EQ(j["imageBase"], 0x300000);
    ASSERT_EQ(j["slotCount"], 3);
    EXPECT_EQ(j["slots"][1]["length"], 150016);
    EXPECT_EQ(j["slots"][1]["fwVer"], "42");
    EXPECT_EQ(j["slots"][1]["binFileCode"], "A1B2");
    EXPECT_EQ(j["slots"][1]["customerId"], "QX01");
    EXPECT_EQ(j["slots"][1]["svnVersion"], "111020");
    EXPECT_EQ(j["slots"][1]["buildDate"], "Oct 01 2012");
    EXPECT_EQ(j["slots"][1]["fileName"], "SYS_A1B2.bin");
    EXPECT_EQ(j["slots"][1]["checksumValid"], true);
    EXPECT_EQ(j["slots"][2]["length"], 150528);

    const CliRun text = runCli({"package", "inspect", package});
    EXPECT_EQ(text.code, 0);
    EXPECT_TRUE(contains(text.out, "Image base:    0x300000"));
    EXPECT_TRUE(contains(text.out, "slot 2: 150528 bytes, FwVer 40, SYS_C3D4.bin, CustomerID QX02"));

    const std::string small = dir.file("small");
    writeText(small, "tiny");
    const CliRun none = runCli({"package", "inspect", small});
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(oneLine(none.err));
    EXPECT_EQ(runCli({"package", "inspect", dir.file("missing")}).code, 2);
}

}  // namespace
}  // namespace qx::test
