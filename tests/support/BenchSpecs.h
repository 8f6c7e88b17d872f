// A bench setup of the given disks, for tests (faults: test::fault in SimFixture.h).
#pragma once

#include <utility>
#include <vector>

#include "platform/sim/SimBench.h"

namespace qx::test {

inline sim::SimBenchSpec benchOf(std::vector<sim::SimDiskSpec> disks) {
    sim::SimBenchSpec s;
    s.disks = std::move(disks);
    return s;
}

}  // namespace qx::test
