// The example Windows benches of docs/benches end to end through the real core: what a user
// of qxupdater-cli sees on a Windows 7 PC (SATA disks on ide# paths) and on a Windows 8 to 11
// PC (SATA disks on scsi# paths of the AHCI driver, which refuses ATA PASS-THROUGH(12) in the
// SCSI pass-through), both with the security of directly attached drives frozen by Windows'
// own drivers, and an update that meets another program holding the disk. A bench file takes
// the device lock keyed to its path, so every test runs on its own copy.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "CliHarness.h"
#include "platform/sim/SimBench.h"
#include "support/TempDir.h"

namespace qx::test {
namespace {

using nlohmann::json;

const std::string kWindows7 = std::string(QX_BENCH_EXAMPLES) + "/windows7.bench";
const std::string kWindows8To11 = std::string(QX_BENCH_EXAMPLES) + "/windows8-11.bench";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A copy of an example bench with one line replaced and lines added at its end.
std::string variant(const TempDir& dir, const std::string& from, const std::string& line,
                    const std::string& replacement, const std::string& tail = {}) {
    std::string text = fileText(from);
    const size_t at = text.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos) text.replace(at, line.size(), replacement);
    const std::string path = dir.file("bench.txt");
    std::ofstream(path, std::ios::binary) << text << tail;
    return "sim:" + path;
}

struct Generation {
    const char* name;
    std::string bench;
    std::string firstPathPart;  // of the two SATA disks
    const char* serialPrefix;
};

// Test names and messages show the generation's name, not the struct's bytes.
void PrintTo(const Generation& g, std::ostream* os) { *os << g.name; }

class WindowsBench : public ::testing::TestWithParam<Generation> {
protected:
    // The example bench copied into this test's own folder.
    std::string devices() {
        if (copy_.empty()) {
            copy_ = dir_.file("bench.txt");
            std::ofstream(copy_, std::ios::binary) << fileText(GetParam().bench);
        }
        return "sim:" + copy_;
    }
    std::string serial(int n) const { return std::string(GetParam().serialPrefix) + "00000" + std::to_string(n); }

private:
    TempDir dir_;
    std::string copy_;
};

TEST_P(WindowsBench, ListsTheSataDisksAsIdeSataAndTheBridge) {
    CliSetup setup;
    std::vector<sim::SimCall> calls;
    setup.onFinish = [&](HostPlatform& host) { calls = host.bench()->calls(); };
    const CliRun r = runCli({"list", "--json", "--devices", devices()}, setup);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const json j = r.json();
    ASSERT_EQ(j["drives"].size(), 3u) << j.dump();
    for (int d = 0; d < 2; ++d) {
        const json& sata = j["drives"][static_cast<size_t>(d)];
        EXPECT_EQ(sata["serial"], serial(d + 1));
        EXPECT_EQ(sata["bus"], "IDE / SATA");
        EXPECT_EQ(sata["busKind"], "DEVICE_IDE");
        EXPECT_TRUE(contains(sata["path"], GetParam().firstPathPart)) << sata["path"];
    }
    EXPECT_TRUE(j["drives"][0]["driveLetter"].is_null()) << "the system volume is never named";
    EXPECT_EQ(j["drives"][1]["driveLetter"], "D");
    EXPECT_EQ(j["drives"][2]["bus"], "USB / SATA");
    EXPECT_EQ(j["drives"][2]["serial"], serial(3));
    // The SATA disks were reached through the ATA pass-through and SMART request only.
    for (const sim::SimCall& c : calls) {
        if (contains(c.path, GetParam().firstPathPart)) EXPECT_NE(c.kind, "scsi") << c.path;
    }
}

TEST_P(WindowsBench, UpdatesEveryDriveAndReadsSmartAndErases) {
    const TempDir dir;
    const std::string package = dir.file("qxupdater-demo");
    writeDemoPackage(package);
    CliSetup setup;
    bool updated[3] = {};
    setup.onFinish = [&](HostPlatform& host) {
        for (size_t i = 0; i < 3; ++i) updated[i] = host.bench()->driveState(i).firmwareUpdated;
    };
    const CliRun update =
        runCli({"update", "--all", "--yes", "--json", "--package", package, "--devices", devices()}, setup);
    ASSERT_EQ(update.code, 0) << update.err;
    const json u = update.json();
    ASSERT_EQ(u["drives"].size(), 3u);
    for (size_t d = 0; d < 3; ++d) EXPECT_EQ(u["drives"][d]["outcome"], "Pass") << d;
    EXPECT_TRUE(updated[0] && updated[1] && updated[2]);
    EXPECT_TRUE(contains(update.err, "Disk 1 updated successfully, please shut down your system\n"));
    EXPECT_TRUE(contains(update.err, "Disk 2 updated successfully, please shut down your system\n"));

    const CliRun smart = runCli({"smart", "2", "--json", "--devices", devices()});
    ASSERT_EQ(smart.code, 0) << smart.err;
    const json s = smart.json();
    EXPECT_EQ(s["ok"], true);
    EXPECT_EQ(s["disk"], 2);
    ASSERT_FALSE(s["attributes"].empty());
    EXPECT_EQ(s["attributes"][0]["fields"]["hours"], 1234);

    const std::string password = dir.file("password.txt");
    std::ofstream(password) << "QXMASTER\n";
    bool erased[3] = {};
    std::vector<sim::SimCall> calls;
    CliSetup eraseSetup;
    eraseSetup.onFinish = [&](HostPlatform& host) {
        for (size_t i = 0; i < 3; ++i) erased[i] = host.bench()->driveState(i).erased;
        calls = host.bench()->calls();
    };
    // Windows' own drivers froze the SATA drive: nothing of the erase is sent to it, and the
    // reason names Windows' driver. The drive behind the USB bridge is erased.
    const CliRun erase = runCli({"erase", "2", "3", "--yes", "--json", "--password-file", password,
                                 "--devices", devices()},
                                eraseSetup);
    ASSERT_EQ(erase.code, 1) << erase.err;
    const json e = erase.json();
    ASSERT_EQ(e["drives"].size(), 2u) << e.dump();
    EXPECT_EQ(e["drives"][0]["outcome"], "Fail");
    EXPECT_EQ(e["drives"][0]["reason"], "frozen");
    EXPECT_TRUE(contains(erase.err, "Windows' storage driver froze the drive's security")) << erase.err;
    EXPECT_TRUE(contains(erase.err, "Disk 2 secure erase fail!")) << erase.err;
    EXPECT_EQ(e["drives"][1]["outcome"], "Pass");
    EXPECT_FALSE(e["drives"][1].contains("reason"));
    EXPECT_FALSE(erased[1]);
    EXPECT_TRUE(erased[2]);
    int ataCalls = 0;
    for (const sim::SimCall& c : calls) {
        if (!contains(c.path, GetParam().firstPathPart) || !c.hasTaskFile) continue;
        ++ataCalls;
        // SECURITY ERASE PREPARE (F3h) and UNIT (F4h) never reach the frozen drive: the
        // command register is byte 6 of the task file.
        EXPECT_NE(c.taskFileIn[6], 0xF3) << c.path;
        EXPECT_NE(c.taskFileIn[6], 0xF4) << c.path;
    }
    EXPECT_GT(ataCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(Generations, WindowsBench,
                         ::testing::Values(Generation{"Windows7", kWindows7, "\\\\?\\ide#diskquorvex", "QX74W7"},
                                           Generation{"Windows8To11", kWindows8To11,
                                                      "\\\\?\\scsi#disk&ven_quorvex", "QX74W8"}),
                         [](const ::testing::TestParamInfo<Generation>& info) { return std::string(info.param.name); });

// What a program that declared Windows 10 in its manifest would be told (10.0): the disks of
// the AHCI driver become SCSI-path disks, their ATA PASS-THROUGH(12) is refused, and only the
// bridge is listed. This is why the utility's manifest declares no system.
TEST(WindowsBenchVersion, ADeclaredWindows10WouldListNoSataDisk) {
    const TempDir dir;
    const std::string devices = variant(dir, kWindows8To11, "os = 6.2", "os = 10.0");
    const CliRun r = runCli({"list", "--json", "--devices", devices});
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = r.json();
    ASSERT_EQ(j["drives"].size(), 1u) << j.dump();
    EXPECT_EQ(j["drives"][0]["bus"], "USB / SATA");
}

// The opens of disk 2 (index 1) up to and including its second DOWNLOAD MICROCODE command in
// an undisturbed update: every ATA command opens the disk once and issues one control call.
int openOfSecondDownload(const std::string& devices, const std::string& package) {
    CliSetup setup;
    int open = -1;
    setup.onFinish = [&](HostPlatform& host) {
        const std::string path = host.bench()->setup().disks[1].path;
        int opens = 0, downloads = 0;
        for (const sim::SimCall& c : host.bench()->calls()) {
            if (c.path != path) continue;
            ++opens;
            if (c.kind == "ata" && c.taskFileIn[6] == 0x92 && ++downloads == 2) {
                open = opens;
                break;
            }
        }
    };
    const CliRun r = runCli({"update", "2", "--yes", "--package", package, "--devices", devices}, setup);
    EXPECT_EQ(r.code, 0) << r.err;
    return open;
}

// A SMART monitor or a virus scanner holding the disk for a moment fails the exclusive open
// of one DOWNLOAD MICROCODE command with a sharing violation (bench: open-fails 32).
TEST(WindowsBenchSharing, AMomentaryHolderIsWaitedOutAndAPersistentOneFailsTheUpdate) {
    const TempDir dir;
    const std::string package = dir.file("qxupdater-demo");
    writeDemoPackage(package);
    const int n = openOfSecondDownload(variant(dir, kWindows8To11, "os = 6.2", "os = 6.2"), package);
    ASSERT_GT(n, 0);
    // The bench counts the opens of the disk from the start of the run (scan included).
    const std::string diskTwo = "serial = QX74W8000002\n";
    std::string once = diskTwo + "fault = open at " + std::to_string(n) + " open-fails 32\n";

    std::vector<std::string> debug;
    CliSetup setup;
    setup.onFinish = [&](HostPlatform& host) { debug = host.bench()->debugOutput(); };
    const CliRun passed = runCli({"update", "2", "--yes", "--json", "--package", package, "--devices",
                                  variant(dir, kWindows8To11, diskTwo, once)},
                                 setup);
    ASSERT_EQ(passed.code, 0) << passed.err;
    EXPECT_EQ(passed.json()["drives"][0]["outcome"], "Pass");
    int retries = 0;
    for (const std::string& line : debug) retries += contains(line, "is held by another program (error 32") ? 1 : 0;
    EXPECT_EQ(retries, 1);

    // Held for longer than the retries wait: eleven opens in a row fail.
    std::string held = diskTwo;
    for (int k = 0; k <= 10; ++k) held += "fault = open at " + std::to_string(n + k) + " open-fails 32\n";
    const TempDir dir2;
    const CliRun failed = runCli({"update", "2", "--yes", "--json", "--package", package, "--devices",
                                  variant(dir2, kWindows8To11, diskTwo, held)},
                                 setup);
    EXPECT_EQ(failed.code, 1) << failed.err;
    EXPECT_EQ(failed.json()["drives"][0]["outcome"], "Fail");
    EXPECT_TRUE(contains(failed.err, "Disk 2 update fail")) << failed.err;
    std::vector<std::string> tries;
    for (const std::string& line : debug) {
        if (contains(line, "is held by another program (error 32, The process cannot access the file because "
                           "it is being used by another process.), open tried again in 100 ms")) {
            tries.push_back(line);
        }
    }
    ASSERT_EQ(tries.size(), 10u);
    EXPECT_TRUE(contains(tries.back(), "(10 of 10)"));
    bool gaveUp = false;
    for (const std::string& line : debug) {
        gaveUp = gaveUp || (contains(line, "CreateFile on \\\\?\\scsi#disk&ven_quorvex&prod_qx-t74_256gb") &&
                            contains(line, "failed: error 32, "));
    }
    EXPECT_TRUE(gaveUp);
}

}  // namespace
}  // namespace qx::test
