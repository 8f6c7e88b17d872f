// Windows kernel services under the real Win32 calls: profile files, the single-instance
// mapping and named mutexes. The power-off is never called here.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/Utf8Path.h"
#include "platform/windows/WinKernel.h"
#include "support/ProcedureBench.h"

namespace qx {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(WinKernel, ProfileRoundTripAndRules) {
    test::TempDir dir;
    WinKernel kernel;
    const std::string ini = dir.file("QXUpdater.ini");
    EXPECT_EQ(kernel.profileString("DeviceSetting", "FirmwareVer", "1.0", ini), "1.0");
    EXPECT_EQ(kernel.profileInt("DeviceSetting", "CustomBKImage", 5, ini), 5);
    ASSERT_TRUE(kernel.writeProfileString("DeviceSetting", "FirmwareVer", "0.0", ini));
    EXPECT_TRUE(std::filesystem::exists(ini));
    EXPECT_NE(readFile(ini).find("FirmwareVer=0.0"), std::string::npos);
    EXPECT_EQ(kernel.profileString("devicesetting", "FIRMWAREVER", "1.0", ini), "0.0");

    {
        std::ofstream out(ini, std::ios::binary);
        out << "[DeviceSetting]\r\nCustomTitle = \"My Drive\" \r\nCustomBKImage=12abc\r\n"
               "EnFilterBinFile=abc\r\nHex=0x1F\r\nNeg=-5\r\nCustomTitle=second\r\n";
    }
    EXPECT_EQ(kernel.profileString("DeviceSetting", "CustomTitle", "N/A", ini), "My Drive");
    EXPECT_EQ(kernel.profileInt("DeviceSetting", "CustomBKImage", 9, ini), 12);
    EXPECT_EQ(kernel.profileInt("DeviceSetting", "EnFilterBinFile", 9, ini), 0);
    EXPECT_EQ(kernel.profileInt("DeviceSetting", "Hex", 9, ini), 31);
    EXPECT_EQ(kernel.profileInt("DeviceSetting", "Neg", 9, ini), -5);
    EXPECT_EQ(kernel.profileInt("DeviceSetting", "Missing", 9, ini), 9);

    // Text beyond ASCII goes through as UTF-8.
    const std::string title = "Disque \xC3\xA9tendu";
    ASSERT_TRUE(kernel.writeProfileString("DeviceSetting", "Other", title, ini));
    EXPECT_EQ(kernel.profileString("DeviceSetting", "Other", "", ini), title);

    // Paths are UTF-8 too: a name outside ASCII reaches the same file the core opens.
    const std::string wide = dir.file("\xC3\xA9t\xC3\xA9 \xE6\x9B\xB4.ini");
    ASSERT_TRUE(kernel.writeProfileString("DeviceSetting", "FirmwareVer", "2.0", wide));
    EXPECT_TRUE(std::filesystem::exists(Utf8Path(wide)));
    EXPECT_EQ(kernel.profileString("DeviceSetting", "FirmwareVer", "", wide), "2.0");

    // A directory that does not exist cannot take the file.
    EXPECT_FALSE(kernel.writeProfileString("S", "K", "v", dir.file("none\\x.ini")));
}

TEST(WinKernel, SecondSingleInstanceIsRefused) {
    WinKernel kernel;
    const std::string name = "QXUpdaterTest-" + std::to_string(GetCurrentProcessId());
    EXPECT_TRUE(kernel.acquireSingleInstance(name.c_str()));
    EXPECT_FALSE(kernel.acquireSingleInstance(name.c_str()));
    EXPECT_FALSE(WinKernel().acquireSingleInstance(name.c_str()));
    EXPECT_TRUE(kernel.acquireSingleInstance((name + "-other").c_str()));
}

TEST(WinKernel, DeviceLockIsAGlobalMutexThatRefusesASecondHolder) {
    using State = DeviceLockAttempt::State;
    const std::string name = "Global\\QXDeviceLockTest-" + std::to_string(GetCurrentProcessId());
    // Another holder of the mutex (a thread owns a mutex, as another process would).
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE finish = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        const std::wstring wide(name.begin(), name.end());
        HANDLE m = CreateMutexW(nullptr, TRUE, wide.c_str());
        SetEvent(started);
        WaitForSingleObject(finish, INFINITE);
        ReleaseMutex(m);
        CloseHandle(m);
    });
    WaitForSingleObject(started, INFINITE);
    const DeviceLockAttempt busy = WinKernel::lockDeviceMutex(name);
    EXPECT_EQ(busy.state, State::Busy);
    EXPECT_EQ(busy.holderPid, 0);  // Windows does not tell
    SetEvent(finish);
    holder.join();

    DeviceLockAttempt held = WinKernel::lockDeviceMutex(name);
    ASSERT_EQ(held.state, State::Held) << held.detail;
    // A second take within this process is refused too, and names this process.
    const DeviceLockAttempt again = WinKernel::lockDeviceMutex(name);
    EXPECT_EQ(again.state, State::Busy);
    EXPECT_EQ(again.holderPid, static_cast<int64_t>(GetCurrentProcessId()));
    held.lock.reset();
    EXPECT_EQ(WinKernel::lockDeviceMutex(name).state, State::Held);
    CloseHandle(started);
    CloseHandle(finish);

    // A bench file's mutex: one per file, whatever the case of its path.
    const std::string a = WinKernel::benchLockName("C:\\Bench\\One.txt");
    EXPECT_EQ(a.rfind("Global\\QXUpdaterBench-", 0), 0u) << a;
    EXPECT_EQ(a, WinKernel::benchLockName("c:\\bench\\one.TXT"));
    EXPECT_NE(a, WinKernel::benchLockName("C:\\Bench\\Two.txt"));
}

TEST(WinKernel, NamedLockIsAMutex) {
    WinKernel kernel;
    const std::string name = "QXLockTest-" + std::to_string(GetCurrentProcessId());
    auto lock = kernel.openNamedLock(name.c_str());
    ASSERT_NE(lock, nullptr);
    // The mutex exists under its name once opened.
    HANDLE probe = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    ASSERT_NE(probe, nullptr);
    lock->lock();
    // Held by this thread: another thread cannot take it.
    struct Ctx { HANDLE h; DWORD result; } ctx{probe, 0};
    auto tryTake = [](LPVOID p) -> DWORD {
        auto* c = static_cast<Ctx*>(p);
        c->result = WaitForSingleObject(c->h, 0);
        if (c->result == WAIT_OBJECT_0) ReleaseMutex(c->h);
        return 0;
    };
    HANDLE t = CreateThread(nullptr, 0, tryTake, &ctx, 0, nullptr);
    ASSERT_NE(t, nullptr);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    EXPECT_EQ(ctx.result, static_cast<DWORD>(WAIT_TIMEOUT));
    lock->unlock();
    t = CreateThread(nullptr, 0, tryTake, &ctx, 0, nullptr);
    ASSERT_NE(t, nullptr);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    EXPECT_EQ(ctx.result, static_cast<DWORD>(WAIT_OBJECT_0));
    // A second open of the same name shares the mutex.
    auto again = kernel.openNamedLock(name.c_str());
    again->lock();
    again->unlock();
    CloseHandle(probe);
}

TEST(WinKernel, ExecutablePathIsTheTestProgram) {
    WinKernel kernel;
    const std::string exe = kernel.executablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_NE(exe.find("qxcore_tests"), std::string::npos);
}

TEST(WinKernel, ExecutableListedSizeIsTheFilesSize) {
    WinKernel kernel;
    const std::string exe = kernel.executablePath();
    ASSERT_FALSE(exe.empty());
    std::error_code ec;
    const auto size = std::filesystem::file_size(Utf8Path(exe), ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(kernel.executableListedSize(), static_cast<int64_t>(size));
}

// The elevation test is the Administrators group enabled in the token, as the system's own
// membership check sees it (under Wine the prefix's user is an administrator).
TEST(WinKernel, ElevationIsTheEnabledAdministratorsGroup) {
    WinKernel kernel;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                         0, 0, 0, 0, &admins));
    BOOL member = FALSE;
    ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
    FreeSid(admins);
    EXPECT_EQ(kernel.runsElevated(), member != FALSE);
}

// After the restriction a DLL is found in the system folder only: system DLLs still load.
TEST(WinKernel, DllSearchIsKeptToTheSystemFolder) {
    EXPECT_TRUE(RestrictDllSearchToSystem32());
    const HMODULE version = LoadLibraryW(L"version.dll");
    EXPECT_NE(version, nullptr);
    if (version != nullptr) FreeLibrary(version);
    EXPECT_EQ(LoadLibraryW(L"qx-no-such-library.dll"), nullptr);
}

TEST(WinKernel, SleepHoldSetsTheExecutionStateUntilReleased) {
    WinKernel kernel;
    {
        const auto hold = kernel.holdOffSleep("Firmware update of disk 1");
        ASSERT_NE(hold, nullptr);
        // The probe answers the state in force and puts the same back.
        const EXECUTION_STATE held = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        EXPECT_EQ(held & (ES_CONTINUOUS | ES_SYSTEM_REQUIRED), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    }
    const EXECUTION_STATE after = SetThreadExecutionState(ES_CONTINUOUS);
    EXPECT_EQ(after & ES_SYSTEM_REQUIRED, 0u);
}

}  // namespace
}  // namespace qx
