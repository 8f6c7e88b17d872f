// The bench file parser (QXUPDATER_DEVICES=sim:PATH): a bench that parses is built and
// scanned, so what the parser lets through must also be safe to simulate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/core/MainState.h"
#include "devices/Scan.h"
#include "platform/sim/SimBench.h"
#include "support/FuzzPlatform.h"
#include "support/ScriptedUser.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::SimBenchSpec setup;
    std::string error;
    if (!sim::parseBenchText(text, setup, error)) {
        if (error.rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    if (setup.disks.size() > 8) return 0;  // a scan of many disks adds time, not paths
    fuzz::ResetCoreState();
    sim::SimBench bench(setup);
    bench.setRecordCalls(false);
    const Platform previous = platform();
    installPlatform(bench.platform());
    MainState state;
    test::ScriptedUser user;
    GetQuorvexDevice(state, user);
    if (static_cast<size_t>(DriveCount) > setup.disks.size() || user.rows.size() != static_cast<size_t>(DriveCount))
        std::abort();
    fuzz::ResetCoreState();
    installPlatform(previous);
    return 0;
}
