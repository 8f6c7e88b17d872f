// The Windows system queries against the real system calls (run under Wine in the cross
// build): each call succeeds or fails cleanly and gives sane values. The disk list itself
// depends on the machine and is not compared.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>

#include "devices/Discovery.h"
#include "platform/windows/WinSystem.h"

namespace qx {
namespace {

TEST(WinSystem, DiskInterfacesAreDiskClassPaths) {
    WinSystem system;
    const auto paths = system.diskInterfaces();
    ASSERT_TRUE(paths.has_value());
    for (const std::string& p : *paths) {
        EXPECT_FALSE(p.empty());
        EXPECT_EQ(p.find('\0'), std::string::npos);
        EXPECT_EQ(p.rfind("\\\\", 0), 0u) << p;
    }
}

TEST(WinSystem, WindowsDirectoryAndItsLetter) {
    WinSystem system;
    const std::string dir = system.windowsDirectory();
    ASSERT_GE(dir.size(), 3u);
    EXPECT_EQ(dir[1], ':');
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(dir[0])));
    ASSERT_GE(letter, 'A');
    ASSERT_LE(letter, 'Z');
    EXPECT_NE(system.logicalDrives() & (1u << (letter - 'A')), 0u);
    EXPECT_EQ(system.logicalDrives(), static_cast<uint32_t>(GetLogicalDrives()));
}

TEST(WinSystem, VersionFromTheExtendedRecord) {
    WinSystem system;
    const OsVersion v = system.osVersion();
    EXPECT_TRUE(v.extendedOk);
    EXPECT_TRUE(v.basicOk);
    EXPECT_GE(v.major, 5u);
    EXPECT_EQ(v.major == 6 && v.minor == 2, [&] {
        Platform p;
        p.system = &system;
        const Platform previous = platform();
        installPlatform(p);
        const bool eight = IsWindows8();
        installPlatform(previous);
        return eight;
    }());
}

TEST(WinSystem, RescanReportsAStepAndACode) {
    WinSystem system;
    uint32_t code = 12345;
    const int step = system.rescan(&code);
    EXPECT_TRUE(step == 0 || step == 1 || step == 2) << step;
    if (step == 0) {
        EXPECT_EQ(code, 0u);
    } else {
        EXPECT_NE(code, 0u);
    }
    EXPECT_GE(system.rescan(nullptr), 0);
}

}  // namespace
}  // namespace qx
