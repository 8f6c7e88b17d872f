// Slot enumeration over a 1,000-slot package against a plain sequential read of the same
// file: the enumeration should cost no more than reading the bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "update/Package.h"

namespace {

constexpr int kSlots = 1000;

struct PackageFile {
    std::string path;
    int32_t size = 0;
    PackageFile() {
        path = (std::filesystem::temp_directory_path() / "qx-package-bench.exe").string();
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        std::vector<char> zeros(qx::kImageBaseNoPicture, 0);
        zeros[qx::kPackageHeaderOffset] = '1';
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
        std::vector<char> slot(qx::kSlotSize, 0);
        for (int s = 0; s < kSlots; ++s) {
            const uint32_t length = 150016;
            for (int i = 0; i < 4; ++i) slot[static_cast<size_t>(i)] = static_cast<char>(length >> (8 * i));
            slot[qx::kSlotHeaderSize] = static_cast<char>(s);
            f.write(slot.data(), static_cast<std::streamsize>(slot.size()));
        }
        size = static_cast<int32_t>(qx::kImageBaseNoPicture + static_cast<uint64_t>(kSlots) * qx::kSlotSize);
    }
    ~PackageFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

PackageFile& package() {
    static PackageFile p;
    return p;
}

void BM_EnumerateAllSlots(benchmark::State& state) {
    PackageFile& p = package();
    std::vector<uint8_t> buffer;
    for (auto _ : state) {
        int seen = 0;
        const int r = qx::EnumeratePackageImages(p.path, false, p.size, buffer,
                                                 [&](int, uint32_t, const std::vector<uint8_t>& a) {
                                                     seen += a[0];
                                                     return false;
                                                 });
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(seen);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSlots) * qx::kSlotSize);
}
BENCHMARK(BM_EnumerateAllSlots)->Unit(benchmark::kMillisecond);

void BM_SequentialRead(benchmark::State& state) {
    PackageFile& p = package();
    std::vector<char> chunk(qx::kSlotSize);
    for (auto _ : state) {
        std::ifstream in(p.path, std::ios::binary);
        in.seekg(qx::kImageBaseNoPicture);
        int sum = 0;
        while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) sum += chunk[16];
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSlots) * qx::kSlotSize);
}
BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
