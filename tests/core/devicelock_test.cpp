// The device lock as the procedures take it: a scan and the actions run inside a hold,
// another process's hold stops them with a notice before any command, a lock that cannot
// be made stops what writes and lets what reads go on, and --wait's retries run on the
// platform clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/DeviceLock.h"
#include "update/Update.h"
#include "support/ProcedureBench.h"
#include "support/TempDir.h"

namespace qx {
namespace {

using test::ProcedureBench;
using test::makerSataDisk;
using Lines = std::vector<std::string>;
using LockState = sim::SimBenchSpec::DeviceLockState;

constexpr const char* kImage = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";

class DeviceLockTest : public ::testing::Test {
protected:
    DeviceLockTest() : b({makerSataDisk(1)}) {
        const std::string path = tmp.file("qxupdater.exe");
        b.state.ExeFileSize = test::writePackage(path, "1.06", "QX Demo SSD", false,
                                                 {{test::firmwareImage(150016, kImage), 0, false}});
        b.state.ExePath = path;
        b.state.PackageMode = 1;
        b.state.caption = "QX caption";
        b.user.check(0);
    }
    test::TempDir tmp;
    ProcedureBench b;
};

TEST_F(DeviceLockTest, ActionRunsInsideTheLockAndLetsItGo) {
    b.user.confirmAnswers = {true};
    RunAction(b.state, b.user, &DownloadCodeBtnClick);
    EXPECT_EQ(b.user.rows.at(0).status, "Pass");
    EXPECT_EQ(b.bench().deviceLockTakes(), 1);
    EXPECT_FALSE(b.bench().deviceLockHeld());
    EXPECT_FALSE(b.state.deviceLock);
}

TEST_F(DeviceLockTest, AnotherProcessStopsActionAndScanWithANoticeBeforeAnyCommand) {
    b.bench().setup().deviceLock = LockState::HeldByOther;
    b.bench().setup().deviceLockHolder = 4242;
    b.bench().clearCalls();
    b.user.confirmAnswers = {true};
    RunAction(b.state, b.user, &DownloadCodeBtnClick);
    EXPECT_EQ(b.user.noticeTexts(),
              Lines{"another process is sending commands to the drives (process 4242)"});
    EXPECT_EQ(b.user.count("confirm"), 0) << "refused before the question";
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_FALSE(b.state.actionRunning);
    EXPECT_EQ(b.first("notice").caption, "QX caption");

    // The scan too; without a process id the text has none.
    b.bench().setup().deviceLockHolder = 0;
    ScanWork(b.state, b.user);
    EXPECT_EQ(b.user.noticeTexts().back(), "another process is sending commands to the drives");
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_EQ(b.bench().driveState(0).downloadCommands, 0);
}

TEST_F(DeviceLockTest, LockThatCannotBeMadeStopsWritersOnly) {
    b.bench().setup().deviceLock = LockState::CannotBeMade;
    b.bench().clearCalls();
    b.user.confirmAnswers = {true};
    RunAction(b.state, b.user, &DownloadCodeBtnClick);
    ASSERT_EQ(b.user.noticeTexts().size(), 1u);
    EXPECT_NE(b.user.noticeTexts()[0].find("cannot be made"), std::string::npos);
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_EQ(b.bench().driveState(0).downloadCommands, 0);

    // A scan only reads: it goes on without the lock.
    ScanWork(b.state, b.user);
    EXPECT_FALSE(b.bench().calls().empty());
    EXPECT_EQ(b.user.noticeTexts().size(), 1u);
}

TEST_F(DeviceLockTest, HoldsOfOneProgramNestAndWaitingRunsOnTheClock) {
    {
        const DeviceHold outer(b.state, DeviceUse::Write);
        ASSERT_TRUE(outer.granted());
        const DeviceHold inner(b.state, DeviceUse::Read);  // the scan inside the CLI's run
        EXPECT_TRUE(inner.granted());
        EXPECT_EQ(b.bench().deviceLockTakes(), 1);
    }
    EXPECT_FALSE(b.bench().deviceLockHeld());

    // Another process holds it: a hold with a wait tries again until the wait has passed.
    b.bench().setup().deviceLock = LockState::HeldByOther;
    const uint64_t before = b.fixture.clock().now();
    const DeviceHold waited(b.state, DeviceUse::Write, 3000);
    EXPECT_FALSE(waited.granted());
    EXPECT_EQ(waited.refusal(), "another process is sending commands to the drives");
    EXPECT_GE(b.fixture.clock().now() - before, 3000u);
    EXPECT_LT(b.fixture.clock().now() - before, 3000u + 1000u);
}

}  // namespace
}  // namespace qx
