// SMART acquisition on the simulated bench (both paths), and the "Smart Info" and
// "Get Smart Info" logic.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "QXLib/Smart.h"
#include "smart/SmartReport.h"
#include "support/ProcedureBench.h"

namespace qx {
namespace {

using test::ProcedureBench;
using test::makerSataDisk;
using test::usbBridgeDisk;

constexpr uint8_t kSmart = 0xB0;

std::vector<uint8_t> features(const std::vector<sim::SimCall>& calls) {
    std::vector<uint8_t> out;
    for (const auto& c : calls) out.push_back(c.taskFileIn[0]);
    return out;
}

class SmartAcquisition : public ::testing::Test {
protected:
    void SetUp() override {
        SmartDrive = 0;
        SmartData.fill(0xEE);  // a previous sector
        SmartThresholds.fill(0xEE);
    }
};

TEST_F(SmartAcquisition, SataDriveGetsEnableDataThresholdsInOrder) {
    ProcedureBench b({makerSataDisk(1)});
    ASSERT_TRUE(AcquireSmartData(0));
    const auto calls = b.commands(kSmart);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(features(calls), (std::vector<uint8_t>{0xD8, 0xD0, 0xD1}));
    for (const auto& c : calls) {
        EXPECT_EQ(c.kind, "ata");
        EXPECT_EQ(c.taskFileIn[3], 0x4F);
        EXPECT_EQ(c.taskFileIn[4], 0xC2);
    }
    EXPECT_EQ(calls[0].taskFileIn[1], 0x01);
    EXPECT_EQ(calls[0].length, 0u);
    EXPECT_EQ(calls[1].direction, "in");
    EXPECT_EQ(calls[1].length, 512u);
    EXPECT_EQ(calls[2].length, 512u);
    EXPECT_EQ(SmartData, b.bench().setup().disks[0].drive.smartData);
    EXPECT_EQ(SmartThresholds, b.bench().setup().disks[0].drive.smartThresholds);
}

TEST_F(SmartAcquisition, BridgeDriveGetsTheExactPassThroughBlocks) {
    ProcedureBench b({usbBridgeDisk(1, "k403")});
    ASSERT_TRUE(AcquireSmartData(0));
    std::vector<std::array<uint8_t, 12>> cdbs;
    for (const auto& c : b.bench().calls()) {
        if (c.kind != "scsi") continue;
        std::array<uint8_t, 12> cdb{};
        std::copy_n(c.cdb.begin(), 12, cdb.begin());
        EXPECT_EQ(c.cdbLength, 12);
        cdbs.push_back(cdb);
    }
    const std::vector<std::array<uint8_t, 12>> expected = {
        {0xA1, 0x06, 0x00, 0xD8, 0x01, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00},
        {0xA1, 0x08, 0x0B, 0xD0, 0x01, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00},
        {0xA1, 0x08, 0x0B, 0xD1, 0x01, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00},
    };
    EXPECT_EQ(cdbs, expected);
    EXPECT_EQ(SmartData, b.bench().setup().disks[0].drive.smartData);
}

TEST_F(SmartAcquisition, RejectedEnableSendsNoReadAndKeepsTheSector) {
    const auto disk = test::withFault(makerSataDisk(1), "ata:b0/d8", 0, sim::FaultKind::AtaError);
    ProcedureBench b({disk});
    const auto before = SmartData;
    EXPECT_FALSE(AcquireSmartData(0));
    EXPECT_EQ(features(b.commands(kSmart)), std::vector<uint8_t>{0xD8});
    EXPECT_EQ(SmartData, before);
}

TEST_F(SmartAcquisition, FailedDataReadSendsNoThresholdRead) {
    const auto disk = test::withFault(makerSataDisk(1), "ata:b0/d0", 0, sim::FaultKind::ControlFails);
    ProcedureBench b({disk});
    EXPECT_FALSE(AcquireSmartData(0));
    EXPECT_EQ(features(b.commands(kSmart)), (std::vector<uint8_t>{0xD8, 0xD0}));
}

TEST_F(SmartAcquisition, FailedThresholdReadFailsAfterAGoodDataRead) {
    const auto disk = test::withFault(makerSataDisk(1), "ata:b0/d1", 0, sim::FaultKind::AtaError);
    ProcedureBench b({disk});
    EXPECT_FALSE(AcquireSmartData(0));
    EXPECT_EQ(features(b.commands(kSmart)), (std::vector<uint8_t>{0xD8, 0xD0, 0xD1}));
    EXPECT_EQ(SmartData, b.bench().setup().disks[0].drive.smartData);
    std::vector<std::string> lines = {"earlier"};
    SmartDrive = 0;
    EXPECT_FALSE(GetSMARTInfo(lines));
    EXPECT_EQ(lines, std::vector<std::string>{"earlier"});
}

TEST_F(SmartAcquisition, DriveIndexOutsideTheTableSendsNothing) {
    ProcedureBench b({makerSataDisk(1)});
    EXPECT_FALSE(AcquireSmartData(kMaxDrives));
    EXPECT_TRUE(b.bench().calls().empty());
}

// ---------------------------------------------------------------------------------------

class SmartInfoButton : public SmartAcquisition {};

TEST_F(SmartInfoButton, NoCheckedRowTellsAndUnlocks) {
    ProcedureBench b({makerSataDisk(1), makerSataDisk(2)});
    b.user.rows[0].hasStatus = true;
    b.user.rows[0].status = "Pass";
    b.user.log = {"old line"};
    SmartDrive = 1;
    SmartInfoBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.count("notice"), 1);
    const auto& notice = b.first("notice");
    EXPECT_EQ(notice.caption, b.state.caption);
    EXPECT_EQ(notice.text, "Please select a disk!");
    EXPECT_EQ(notice.icon, BoxIcon::None);
    EXPECT_EQ(b.user.smartWindows, 0);
    EXPECT_TRUE(b.user.log.empty());
    EXPECT_EQ(b.user.rows[0].status, "");
    EXPECT_TRUE(b.user.scanAndExitEnabled);
    EXPECT_TRUE(b.user.actionsEnabled);
    EXPECT_EQ(SmartDrive, 1);
    EXPECT_TRUE(b.bench().calls().empty());
}

TEST_F(SmartInfoButton, ChoosesTheCheckedDriveAndReadsNothingUntilAsked) {
    ProcedureBench b({makerSataDisk(1), makerSataDisk(2), makerSataDisk(3)});
    b.user.check(0);
    b.user.check(2);  // two checked rows: the last one wins
    bool lockedWhileOpen = false;
    b.user.onSmartWindow = [&] { lockedWhileOpen = !b.user.scanAndExitEnabled && !b.user.actionsEnabled; };
    SmartInfoBtnClick(b.state, b.user);
    EXPECT_EQ(SmartDrive, 2);
    EXPECT_EQ(b.user.smartWindows, 1);
    EXPECT_TRUE(lockedWhileOpen);
    EXPECT_TRUE(b.user.scanAndExitEnabled);
    EXPECT_TRUE(b.user.actionsEnabled);
    EXPECT_TRUE(b.commands(kSmart).empty());
}

TEST_F(SmartInfoButton, GetSmartInfoReadsTheChosenDriveEachTime) {
    auto second = makerSataDisk(2);
    second.drive.smartData = sim::makeSmartData({{9, 70000}, {1, 3}, {169, 0x0002000A0003ull}});
    ProcedureBench b({makerSataDisk(1), second});
    b.user.check(1);
    SmartInfoBtnClick(b.state, b.user);
    std::vector<std::string> lines;
    ASSERT_TRUE(GetSMARTInfo(lines));
    const std::vector<std::string> expected = {"Power on hour=4464", "Bad Block count=3",
                                               "Total bad number=10", "Later bad number=2"};
    EXPECT_EQ(lines, expected);
    ASSERT_TRUE(GetSMARTInfo(lines));  // a second click reads again and gives the same lines
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(b.commands(kSmart).size(), 6u);
    for (const auto& c : b.bench().calls()) EXPECT_EQ(c.path, b.bench().setup().disks[1].path);
}

}  // namespace
}  // namespace qx
