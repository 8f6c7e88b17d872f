// The virtual clock that tests and benchmarks run on.
#include <gtest/gtest.h>

#include "platform/Platform.h"

namespace qx {
namespace {

TEST(VirtualClock, SleepAdvancesAtOnceAndTickWraps) {
    VirtualClock clock;
    const uint32_t start = clock.tickCount();
    clock.sleep(200);
    EXPECT_EQ(clock.tickCount() - start, 200u);
    clock.advance(0x100000000ull);  // one full wrap of the 32-bit tick count
    EXPECT_EQ(clock.tickCount() - start, 200u);
}

TEST(PlatformSeam, InstallReplacesTheProcessPlatform) {
    VirtualClock clock;
    Platform p;
    p.clock = &clock;
    installPlatform(p);
    EXPECT_EQ(platform().clock, &clock);
    installPlatform(Platform{});
    EXPECT_EQ(platform().clock, nullptr);
}

}  // namespace
}  // namespace qx
