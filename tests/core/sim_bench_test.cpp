// The simulated bench as the platform: system information, kernel, device opening and
// the sharing rules, device numbers, faults on opening.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/DeviceIoctl.h"
#include "support/SimFixture.h"

namespace qx {
namespace {

using sim::SimBench;

TEST(SimBenchDemo, ListsTheDemoDisksInOrder) {
    test::SimFixture f;
    auto disks = platform().system->diskInterfaces();
    ASSERT_TRUE(disks.has_value());
    ASSERT_EQ(disks->size(), 7u);
    EXPECT_EQ((*disks)[0],
              "\\\\?\\ide#diskquorvex_qx-t74_256gb_______________1.02____#5&1a2b3c4d&0&0.0.0#"
              "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_NE((*disks)[2].find("usbstor"), std::string::npos);
    EXPECT_EQ(f.bench.spec().disks[2].inquiryCode[0], 'k');
    EXPECT_EQ(f.bench.spec().disks[4].drive.rotationRate, 7200);
    // Volumes C, D, E.
    EXPECT_EQ(platform().system->logicalDrives(), (1u << 2) | (1u << 3) | (1u << 4));
    EXPECT_EQ(platform().system->windowsDirectory(), "C:\\WINDOWS");
}

}  // namespace
}  // namespace qx
