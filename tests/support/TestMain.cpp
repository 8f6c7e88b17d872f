// Test entry: every test starts from a zeroed process state on a simulated platform
// installed by the fixtures that need one.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
