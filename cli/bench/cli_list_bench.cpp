// Start to the JSON of `qxupdater-cli list --json` on the demo bench, the bench on its
// virtual clock: argument parsing, back-end, scan and the document, as one run of the
// program. Counters: virtualMs, the drive time the run took on the bench's clock (what the
// commands and probe waits would take on real drives of the same timing); peakRssKiB, the
// process's peak resident size after the runs.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <sstream>

#include "cli/Cli.h"
#include "platform/sim/SimBench.h"

namespace {

void BM_ListJsonDemoBench(benchmark::State& state) {
    uint64_t virtualMs = 0;
    qx::cli::Host host;
    host.backendOptions.virtualClock = true;
    host.getenv = [](const char*) -> const char* { return nullptr; };
    uint64_t startMs = 0;
    host.onBackend = [&](qx::HostPlatform& p) { startMs = p.bench()->clock().now(); };
    host.onFinish = [&](qx::HostPlatform& p) { virtualMs = p.bench()->clock().now() - startMs; };
    const std::vector<std::string> args = {"list", "--json", "--devices", "sim"};
    for (auto _ : state) {
        std::istringstream in;
        std::ostringstream out, err;
        qx::cli::Streams streams{in, out, err, false, false};
        const int code = qx::cli::runCli(args, streams, host);
        if (code != 0 || out.str().find("\"schema\": 1") == std::string::npos) {
            state.SkipWithError("list --json failed");
            break;
        }
        benchmark::DoNotOptimize(out.str().size());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["virtualMs"] = static_cast<double>(virtualMs);
    state.counters["peakRssKiB"] = static_cast<double>(usage.ru_maxrss);
}
BENCHMARK(BM_ListJsonDemoBench)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
