// Choosing the back-end from QXUPDATER_DEVICES / QXUPDATER_TRACE.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/DeviceIoctl.h"
#include "platform/HostPlatform.h"
#include "platform/sim/SimBench.h"
#include "support/TempDir.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

using test::TempDir;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(HostPlatform, SimIsTheDemoBenchOnTheRealKernel) {
    std::string error;
    auto host = HostPlatform::select("sim", nullptr, error);
    ASSERT_NE(host, nullptr) << error;
    EXPECT_TRUE(error.empty());
    ASSERT_TRUE(host->simulated());
    const Platform& p = host->parts();
    ASSERT_NE(p.clock, nullptr);
    ASSERT_NE(p.devices, nullptr);
    ASSERT_NE(p.system, nullptr);
    ASSERT_NE(p.kernel, nullptr);

    // The demo bench's seven disks, in its order.
    auto disks = p.system->diskInterfaces();
    ASSERT_TRUE(disks.has_value());
    ASSERT_EQ(disks->size(), 7u);
    EXPECT_NE(disks->at(0).find("quorvex_qx-t74_256gb"), std::string::npos);
    EXPECT_NE(disks->at(3).find("acme_ssd"), std::string::npos);

    // The real kernel serves the executable path; the real clock moves by itself.
    ASSERT_NE(host->hostKernel(), nullptr);
    EXPECT_EQ(p.kernel->executablePath(), host->hostKernel()->executablePath());
    EXPECT_FALSE(p.kernel->executablePath().empty());
    const uint32_t t0 = p.clock->tickCount();
    host->bench()->clock().advance(1000000000);  // the bench's own clock is not the one used
    EXPECT_LT(p.clock->tickCount() - t0, 100000u);

    // The power-off is only recorded.
    EXPECT_EQ(host->bench()->shutdownRequests(), 0);
    p.kernel->shutDownComputer();
    EXPECT_EQ(host->bench()->shutdownRequests(), 1);
}

TEST(HostPlatform, InstallMakesItTheProcessPlatform) {
    const Platform previous = platform();
    std::string error;
    auto host = HostPlatform::select("sim", "", error);
    ASSERT_NE(host, nullptr) << error;
    host->install();
    EXPECT_EQ(platform().devices, host->parts().devices);
    EXPECT_EQ(platform().kernel, host->parts().kernel);
    installPlatform(previous);
}

TEST(HostPlatform, BenchFileAndTrace) {
    TempDir dir;
    const fs::path bench = dir.file("bench.txt");
    {
        std::ofstream out(bench);
        out << "[system]\nos = 6.1\n[disk]\npath = \\\\?\\ide#diskone\nmodel = One\n"
               "[disk]\npath = \\\\?\\ide#disktwo\n";
    }
    const fs::path trace = dir.file("trace.jsonl");
    std::string error;
    auto host = HostPlatform::select(("sim:" + bench.string()).c_str(), trace.string().c_str(), error);
    ASSERT_NE(host, nullptr) << error;
    auto disks = host->parts().system->diskInterfaces();
    ASSERT_TRUE(disks.has_value());
    ASSERT_EQ(disks->size(), 2u);
    EXPECT_EQ(disks->at(1), "\\\\?\\ide#disktwo");

    // One control call, one trace line.
    DeviceIo& io = *host->parts().devices;
    const DeviceHandle h = io.open(disks->at(0).c_str(), AccessNone, ShareRead | ShareWrite);
    ASSERT_NE(h, kInvalidDevice);
    StorageDeviceNumber number{};
    uint32_t returned = 0;
    io.control(h, kIoctlStorageGetDeviceNumber, nullptr, 0, &number, sizeof number, &returned);
    io.close(h);
    const std::string lines = readAll(trace);
    EXPECT_FALSE(lines.empty());
    EXPECT_NE(lines.find("diskone"), std::string::npos);
}

TEST(HostPlatform, MissingBenchFileIsAnError) {
    TempDir dir;
    const std::string missing = dir.file("no-such-bench.txt");
    std::string error;
    auto host = HostPlatform::select(("sim:" + missing).c_str(), nullptr, error);
    EXPECT_EQ(host, nullptr);
    EXPECT_NE(error.find("no-such-bench.txt"), std::string::npos) << error;
}

TEST(HostPlatform, BrokenBenchFileIsAnError) {
    TempDir dir;
    const fs::path bench = dir.file("broken.txt");
    {
        std::ofstream out(bench);
        out << "[disk]\nbus = floppy\n";
    }
    std::string error;
    auto host = HostPlatform::select(("sim:" + bench.string()).c_str(), nullptr, error);
    EXPECT_EQ(host, nullptr);
    EXPECT_NE(error.find("line"), std::string::npos) << error;
}

TEST(HostPlatform, UnknownValuesAreErrors) {
    for (const char* value : {"SIM", "simulated", "real", " sim", "sim;x", "1"}) {
        std::string error;
        auto host = HostPlatform::select(value, nullptr, error);
        EXPECT_EQ(host, nullptr) << value;
        EXPECT_NE(error.find(std::string("QXUPDATER_DEVICES=") + value), std::string::npos) << error;
    }
}

TEST(HostPlatform, UnsetOrEmptyIsTheRealBackEnd) {
    TempDir dir;
    const std::string trace = dir.file("real.jsonl");
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        std::string error;
        auto host = HostPlatform::select(value, trace.c_str(), error);
        ASSERT_NE(host, nullptr) << error;
        EXPECT_FALSE(host->simulated());
        const Platform& p = host->parts();
        EXPECT_NE(p.clock, nullptr);
        EXPECT_NE(p.devices, nullptr);
        EXPECT_NE(p.system, nullptr);
        EXPECT_NE(p.kernel, nullptr);
        EXPECT_EQ(p.kernel, host->hostKernel());
    }
    // The real back-end is traced too (its system queries and control calls).
    EXPECT_TRUE(std::filesystem::exists(trace));
    std::string error;
    const fs::path folder = dir.file("a-folder");
    fs::create_directory(folder);
    EXPECT_EQ(HostPlatform::select(nullptr, folder.string().c_str(), error), nullptr);
    EXPECT_NE(error.find("cannot be opened"), std::string::npos) << error;
}

TEST(HostPlatform, PowerOffHandler) {
    int calls = 0;
    std::string error;
    // Under a bench the request stays recorded; the desktop's handler is never reached.
    auto bench = HostPlatform::select("sim", nullptr, error);
    ASSERT_NE(bench, nullptr) << error;
    bench->setPowerOffHandler([&calls] { return ++calls; });
    bench->parts().kernel->shutDownComputer();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(bench->bench()->shutdownRequests(), 1);
#if defined(__linux__)
    // The real Linux kernel powers off through the handler the desktop installs.
    auto real = HostPlatform::select(nullptr, nullptr, error);
    ASSERT_NE(real, nullptr) << error;
    EXPECT_EQ(real->parts().kernel->shutDownComputer(), 0);  // none installed yet
    real->setPowerOffHandler([&calls] { return ++calls; });
    EXPECT_EQ(real->parts().kernel->shutDownComputer(), 1);
    EXPECT_EQ(calls, 1);
#endif
}

}  // namespace
}  // namespace qx
