// Sleep and shutdown held off around firmware downloads and secure erases, on the bench:
// the hold is taken before the first DOWNLOAD MICROCODE or SECURITY ERASE command of a
// drive and released after its last one, also when a command fails; a refused hold is
// logged and the work goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "devices/DriveTable.h"
#include "support/ProcedureBench.h"
#include "support/TestKernel.h"
#include "update/Package.h"
#include "update/SecureErase.h"
#include "update/SleepHold.h"
#include "update/Update.h"

namespace qx {
namespace {

using test::ProcedureBench;
using test::makerSataDisk;

constexpr uint8_t kDownload = 0x92;
constexpr uint8_t kPrepare = 0xF3;
constexpr uint8_t kUnit = 0xF4;
// makerSataDisk's running firmware: FwVer 42, code A1B2, customer QX01.
constexpr const char* kImage = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";

// Positions in the bench's call record of the commands with these command registers.
std::vector<size_t> positionsOf(const ProcedureBench& b, std::initializer_list<uint8_t> commands) {
    std::vector<size_t> at;
    const auto& calls = b.fixture.bench.calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        for (uint8_t c : commands) {
            if (calls[i].hasTaskFile && calls[i].taskFileIn[6] == c) at.push_back(i);
        }
    }
    return at;
}

// The drive's commands lie inside the hold: taken before the first, released after the last.
void expectHeldAround(const sim::SimSleepHold& hold, const std::vector<size_t>& commands) {
    ASSERT_FALSE(commands.empty());
    EXPECT_TRUE(hold.released);
    EXPECT_LE(hold.takenAt, commands.front());
    EXPECT_GT(hold.releasedAt, commands.back());
}

class SleepHoldTest : public ::testing::Test {
protected:
    void usePackage(ProcedureBench& b) {
        const std::string path = tmp.file("qxupdater.exe");
        b.state.ExeFileSize = test::writePackage(
            path, "1.06", "QX Demo SSD", false, {{test::firmwareImage(150016, kImage), 0, false}});
        b.state.ExePath = path;
        b.state.PackageMode = 1;
        std::ifstream f(path, std::ios::binary);
        f.seekg(kPackageHeaderOffset);
        f.read(reinterpret_cast<char*>(b.state.PackageHeader.data()), kPackageHeaderSize);
    }
    test::TempDir tmp;
};

TEST_F(SleepHoldTest, UpdateHoldsSleepForEachDownloadNamingTheDrive) {
    ProcedureBench b({makerSataDisk(1), makerSataDisk(2)});
    usePackage(b);
    b.user.check(0);
    b.user.check(1);
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.rows[0].status, "Pass");
    ASSERT_EQ(b.user.rows[1].status, "Pass");

    const auto& holds = b.bench().sleepHolds();
    ASSERT_EQ(holds.size(), 2u);
    const std::string model = IdentifyText(DriveInfo[0].identify, kModelOffset, kModelWidth);
    const std::string serial = IdentifyText(DriveInfo[0].identify, kSerialOffset, kSerialWidth);
    ASSERT_FALSE(serial.empty());
    EXPECT_EQ(holds[0].why, "Firmware update of disk 1 (" + model + ", serial " + serial + ")");
    EXPECT_EQ(holds[1].why.rfind("Firmware update of disk 2 (", 0), 0u);
    // Each drive's downloads inside its own hold; the first hold ends before the second.
    const std::vector<size_t> downloads = positionsOf(b, {kDownload});
    const auto split = std::find_if(downloads.begin(), downloads.end(),
                                    [&](size_t at) { return at >= holds[1].takenAt; });
    expectHeldAround(holds[0], {downloads.begin(), split});
    expectHeldAround(holds[1], {split, downloads.end()});
    EXPECT_LE(holds[0].releasedAt, holds[1].takenAt);
}

TEST_F(SleepHoldTest, FailedDownloadReleasesTheHold) {
    ProcedureBench b({test::withFault(makerSataDisk(1), "ata:92", 2, sim::FaultKind::AtaError)});
    usePackage(b);
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.rows[0].status, "Fail");
    ASSERT_EQ(b.bench().sleepHolds().size(), 1u);
    expectHeldAround(b.bench().sleepHolds()[0], positionsOf(b, {kDownload}));
}

TEST_F(SleepHoldTest, NoDownloadNoHold) {
    // A drive whose codes fit no image: nothing is downloaded, nothing is held.
    ProcedureBench b({makerSataDisk(1)});
    const std::string path = tmp.file("qxupdater.exe");
    b.state.ExeFileSize = test::writePackage(
        path, "1.06", "QX Demo SSD", false,
        {{test::firmwareImage(150016, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09"), 0,
          false}});
    b.state.ExePath = path;
    b.state.PackageMode = 1;
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.rows[0].status, "No update needed");
    EXPECT_TRUE(b.bench().sleepHolds().empty());
}

TEST_F(SleepHoldTest, RefusedHoldIsLoggedAndTheUpdateGoesOn) {
    ProcedureBench b({makerSataDisk(1)});
    b.bench().setup().sleepHoldFails = true;
    usePackage(b);
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.rows[0].status, "Pass");
    EXPECT_EQ(b.drive(0).downloadVerdict, "installed");
    EXPECT_NE(b.debugText().find("Sleep and shutdown are not held off during: Firmware update of "
                                 "disk 1 ("),
              std::string::npos);
}

TEST(SleepHoldErase, EraseHoldsSleepAroundBothCommandsAlsoWhenOneFails) {
    // UNIT refused (a frozen drive would now receive neither command).
    const auto refusing = test::withFault(makerSataDisk(2), "ata:f4", 0, sim::FaultKind::AtaError);
    ProcedureBench b({makerSataDisk(1), refusing});
    b.user.check(0);
    b.user.check(1);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.rows[0].status, "Pass");
    ASSERT_EQ(b.user.rows[1].status, "Fail");

    const auto& holds = b.bench().sleepHolds();
    ASSERT_EQ(holds.size(), 2u);
    EXPECT_EQ(holds[0].why.rfind("Secure erase of disk 1 (", 0), 0u);
    EXPECT_EQ(holds[1].why.rfind("Secure erase of disk 2 (", 0), 0u);
    const std::vector<size_t> commands = positionsOf(b, {kPrepare, kUnit});
    ASSERT_GE(commands.size(), 3u);
    const auto split = std::find_if(commands.begin(), commands.end(),
                                    [&](size_t at) { return at >= holds[1].takenAt; });
    expectHeldAround(holds[0], {commands.begin(), split});
    expectHeldAround(holds[1], {split, commands.end()});
}

TEST(SleepHoldErase, FailedPrepareReleasesTheHold) {
    ProcedureBench b({test::withFault(makerSataDisk(1), "ata:f3", 0, sim::FaultKind::ControlFails),
                      makerSataDisk(2)});
    b.user.check(0);
    b.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.rows[0].status, "Fail");
    ASSERT_EQ(b.bench().sleepHolds().size(), 1u);
    expectHeldAround(b.bench().sleepHolds()[0], positionsOf(b, {kPrepare}));
}

TEST(SleepHoldErase, RefusedHoldStopsNothing) {
    ProcedureBench refused({makerSataDisk(1)});
    refused.bench().setup().sleepHoldFails = true;
    refused.user.check(0);
    refused.user.textAnswers = {"QXMASTER"};
    SecureEraseBtnClick(refused.state, refused.user);
    EXPECT_EQ(refused.user.rows[0].status, "Pass");
    EXPECT_TRUE(refused.drive(0).erased);
    EXPECT_NE(refused.debugText().find("Sleep and shutdown are not held off during: Secure erase of "
                                       "disk 1 ("),
              std::string::npos);
}

TEST(BenchKernel, HoldsStayOnTheBenchTheConfigurationPlaceComesFromTheHost) {
    test::TestKernel host;
    host.systemIniPath = "/etc/qx-test/QXUpdater.ini";
    host.folderWritable = false;
    auto bench = sim::SimBench::demo();
    const Platform p = bench->platform(&host);
    EXPECT_EQ(p.kernel->systemConfigurationPath(), "/etc/qx-test/QXUpdater.ini");
    EXPECT_FALSE(p.kernel->folderTakesConfiguration("/usr/bin/"));
    {
        const auto hold = p.kernel->holdOffSleep("Secure erase of disk 1");
        EXPECT_NE(hold, nullptr);
    }
    ASSERT_EQ(bench->sleepHolds().size(), 1u);
    EXPECT_TRUE(bench->sleepHolds()[0].released);
}

}  // namespace
}  // namespace qx
