// Linux kernel services: single instance across processes, named locks, debugger output,
// profile files and the power-off handler.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/linux/LinuxKernel.h"
#include "support/ProcedureBench.h"

namespace qx {
namespace {

// Lock files go to a private runtime directory for the test.
class LinuxKernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        runtime_ = dir_.file("run");
        std::filesystem::create_directories(runtime_);
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        name_ = std::string("QXUpdaterTest-") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override {
        if (hadOld_)
            ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    // Runs `body` in a forked child; returns its exit code (-1 when it did not exit).
    template <typename F>
    static int inChild(F body) {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(body());
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    test::TempDir dir_;
    std::string runtime_;
    std::string name_;

private:
    bool hadOld_ = false;
    std::string old_;
};

TEST_F(LinuxKernelTest, SecondInstanceInAnotherProcessIsRefused) {
    LinuxKernel kernel;
    ASSERT_TRUE(kernel.acquireSingleInstance(name_.c_str()));
    const std::string expected = runtime_ + "/" + name_ + "-" + std::to_string(::getuid()) + ".lock";
    EXPECT_TRUE(std::filesystem::exists(expected));
    EXPECT_EQ(inChild([&] { return LinuxKernel().acquireSingleInstance(name_.c_str()) ? 1 : 0; }), 0);
    // Another name is free.
    EXPECT_EQ(inChild([&] {
                  return LinuxKernel().acquireSingleInstance((name_ + "x").c_str()) ? 1 : 0;
              }),
              1);
}

TEST_F(LinuxKernelTest, InstanceOfAKilledProcessIsReleased) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(ready[0]);
        LinuxKernel kernel;
        const char ok = kernel.acquireSingleInstance(name_.c_str()) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        for (;;) ::pause();  // held until killed
    }
    ::close(ready[1]);
    char got = 0;
    ASSERT_EQ(::read(ready[0], &got, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(got, 'y');
    LinuxKernel kernel;
    EXPECT_FALSE(kernel.acquireSingleInstance(name_.c_str()));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(kernel.acquireSingleInstance(name_.c_str()));
}

TEST_F(LinuxKernelTest, NamedLockKeepsOtherProcessesOut) {
    LinuxKernel kernel;
    auto lock = kernel.openNamedLock("DBGAcess");
    ASSERT_NE(lock, nullptr);
    const std::string file = LinuxKernel::lockFilePath("DBGAcess", ".namedlock");
    auto tryFromChild = [&] {
        const int fd = ::open(file.c_str(), O_RDWR);
        if (fd < 0) return 2;
        return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : (errno == EWOULDBLOCK ? 0 : 3);
    };
    lock->lock();
    EXPECT_EQ(inChild(tryFromChild), 0);
    lock->unlock();
    EXPECT_EQ(inChild(tryFromChild), 1);
    // Again after the first round.
    lock->lock();
    EXPECT_EQ(inChild(tryFromChild), 0);
    lock->unlock();
}

TEST_F(LinuxKernelTest, DeviceLockKeepsOtherProcessesOutAndNamesTheHolder) {
    using State = DeviceLockAttempt::State;
    const std::string path = dir_.file("devices.lock");
    DeviceLockAttempt held = LinuxKernel::lockDeviceFile(path);
    ASSERT_EQ(held.state, State::Held) << held.detail;
    const pid_t self = ::getpid();
    // Another process is refused at once and told who holds it; so is a second open file
    // description in this process (an OFD lock belongs to the open file, not the process).
    EXPECT_EQ(inChild([&] {
                  const DeviceLockAttempt a = LinuxKernel::lockDeviceFile(path);
                  return a.state == State::Busy && a.holderPid == self ? 0 : 1;
              }),
              0);
    const DeviceLockAttempt again = LinuxKernel::lockDeviceFile(path);
    EXPECT_EQ(again.state, State::Busy);
    EXPECT_EQ(again.holderPid, self);
    held.lock.reset();
    EXPECT_EQ(inChild([&] { return LinuxKernel::lockDeviceFile(path).state == State::Held ? 0 : 1; }), 0);

    // A lock file that cannot be made is told apart from a held one.
    const DeviceLockAttempt none = LinuxKernel::lockDeviceFile(runtime_);
    EXPECT_EQ(none.state, State::Unavailable);
    EXPECT_EQ(none.detail.rfind(runtime_ + ": ", 0), 0u) << none.detail;

    // Without `create` (the machine's file, for anyone but root) a missing file is not made.
    const std::string missing = dir_.file("missing.lock");
    EXPECT_EQ(LinuxKernel::lockDeviceFile(missing, false).state, State::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(missing));

    // A bench file's lock lies beside it; the built-in bench and a replay take none.
    LinuxKernel kernel;
    kernel.setDeviceLockTarget(DeviceLockTarget::BenchFile, dir_.file("bench.txt"));
    DeviceLockAttempt bench = kernel.lockDevices();
    EXPECT_EQ(bench.state, State::Held);
    EXPECT_EQ(LinuxKernel::lockDeviceFile(dir_.file("bench.txt.lock")).state, State::Busy);
    kernel.setDeviceLockTarget(DeviceLockTarget::None);
    EXPECT_EQ(kernel.lockDevices().state, State::Held);
    EXPECT_EQ(kernel.lockDevices().state, State::Held);
}

TEST_F(LinuxKernelTest, LockNamesAreMadeSafeForFileNames) {
    const std::string p = LinuxKernel::lockFilePath("../x/y", ".lock");
    EXPECT_EQ(p, runtime_ + "/_.._x_y-" + std::to_string(::getuid()) + ".lock");
    EXPECT_EQ(LinuxKernel::lockFilePath(nullptr, ".lock"),
              runtime_ + "/_-" + std::to_string(::getuid()) + ".lock");
    ::setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(LinuxKernel::lockFilePath("a", ".lock").rfind("/tmp/a-", 0), 0u);
}

TEST_F(LinuxKernelTest, DebugOutputOnlyWhenAskedFor) {
    LinuxKernel kernel;
    ::unsetenv("QXUPDATER_DEBUG");
    ::testing::internal::CaptureStderr();
    kernel.debugOutput("hidden\r\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ::setenv("QXUPDATER_DEBUG", "1", 1);
    ::testing::internal::CaptureStderr();
    kernel.debugOutput("shown\r\n");
    kernel.debugOutput(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "shown\r\n");
    ::setenv("QXUPDATER_DEBUG", "yes", 1);
    ::testing::internal::CaptureStderr();
    kernel.debugOutput("hidden");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ::unsetenv("QXUPDATER_DEBUG");
}

TEST_F(LinuxKernelTest, ExecutablePathProfileAndPowerOff) {
    LinuxKernel kernel;
    const std::string exe = kernel.executablePath();
    EXPECT_EQ(std::filesystem::path(exe).filename(), "linuxkernel_test");
    EXPECT_EQ(kernel.executableListedSize(), static_cast<int64_t>(std::filesystem::file_size(exe)));

    const std::string ini = dir_.file("QXUpdater.ini");
    EXPECT_EQ(kernel.profileString("DeviceSetting", "FirmwareVer", "1.0", ini), "1.0");
    ASSERT_TRUE(kernel.writeProfileString("DeviceSetting", "FirmwareVer", "0.0", ini));
    ASSERT_TRUE(kernel.writeProfileString("DeviceSetting", "CustomBKImage", "0x2", ini));
    EXPECT_EQ(kernel.profileString("devicesetting", "firmwarever", "1.0", ini), "0.0");
    EXPECT_EQ(kernel.profileInt("DeviceSetting", "CustomBKImage", 0, ini), 2);
    EXPECT_FALSE(kernel.writeProfileString("S", "K", "v", dir_.file("none/x.ini")));

    EXPECT_EQ(kernel.shutDownComputer(), 0);  // no handler: nothing to ask
    int calls = 0;
    kernel.setShutdownHandler([&] { return ++calls; });
    EXPECT_EQ(kernel.shutDownComputer(), 1);
    EXPECT_EQ(calls, 1);
}

TEST(LinuxKernelConfiguration, InstalledFoldersSendTheFileToEtc) {
    LinuxKernel kernel;
    EXPECT_EQ(kernel.systemConfigurationPath(), "/etc/qxupdater/QXUpdater.ini");
    // Folders of the package manager, even for root, who could write them.
    for (const char* folder : {"/usr/bin/", "/usr/local/bin", "/bin/", "/sbin/", "/usr/"}) {
        EXPECT_FALSE(kernel.folderTakesConfiguration(folder)) << folder;
    }
    EXPECT_FALSE(kernel.folderTakesConfiguration("/nonexistent-qx-folder/"));
    test::TempDir dir("qx-portable");
    EXPECT_TRUE(kernel.folderTakesConfiguration(dir.str() + "/"));
    EXPECT_TRUE(kernel.folderTakesConfiguration(dir.str()));
}

TEST(LinuxKernelSleepHold, TheHandlersDescriptorIsHeldUntilRelease) {
    LinuxKernel kernel;
    EXPECT_EQ(kernel.holdOffSleep("Secure erase of disk 1"), nullptr);  // no handler
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string asked;
    int held = -1;
    kernel.setSleepHoldHandler([&](const std::string& why) {
        asked = why;
        held = ::dup(fds[0]);
        return held;
    });
    {
        auto hold = kernel.holdOffSleep("Firmware update of disk 2 (QX SSD, serial S1)");
        ASSERT_NE(hold, nullptr);
        EXPECT_EQ(asked, "Firmware update of disk 2 (QX SSD, serial S1)");
        ASSERT_GE(held, 0);
        EXPECT_NE(::fcntl(held, F_GETFD), -1);  // open while held
    }
    EXPECT_EQ(::fcntl(held, F_GETFD), -1);  // closed with the hold
    EXPECT_EQ(errno, EBADF);
    ::close(fds[0]);
    ::close(fds[1]);
    kernel.setSleepHoldHandler([](const std::string&) { return -1; });
    EXPECT_EQ(kernel.holdOffSleep("x"), nullptr);
}

}  // namespace
}  // namespace qx
