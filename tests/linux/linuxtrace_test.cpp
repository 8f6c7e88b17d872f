// QXUPDATER_TRACE on the Linux back-end: the recorder over LinuxDevices (SG_IO answered by a
// fake) writes the data read and the registers returned, and a replay of that trace hands
// the program the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/DeviceIoctl.h"
#include "platform/TraceRecorder.h"
#include "platform/TraceReplay.h"
#include "platform/linux/LinuxDevices.h"
#include "platform/sim/Sha256.h"
#include "support/TempDir.h"

namespace qx {
namespace {

// One answer for every SG_IO: CHECK CONDITION with the ATA Status Return descriptor, and
// data bytes 0, 1, 2, ... for a data-in command.
class AnsweringSgIo final : public SgIo {
public:
    int sgIo(int, sg_io_hdr_t& h) override {
        if (h.dxfer_direction == SG_DXFER_FROM_DEV && h.dxferp != nullptr) {
            auto* d = static_cast<uint8_t*>(h.dxferp);
            for (unsigned i = 0; i < h.dxfer_len; ++i) d[i] = static_cast<uint8_t>(i * 7);
        }
        const uint8_t sense[] = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0, 0x00, 0, 0x01,
                                 0, 0x33, 0, 0x44, 0, 0x55, 0xE0, 0x50};
        h.status = kScsiStatusCheckCondition;
        h.driver_status = 0x08;
        const size_t n = std::min<size_t>(sizeof sense, h.mx_sb_len);
        std::memcpy(h.sbp, sense, n);
        h.sb_len_wr = static_cast<unsigned char>(n);
        h.resid = resid;
        return 0;
    }
    int resid = 0;
};

struct Null final : SystemInfoSource {
    std::optional<std::vector<std::string>> diskInterfaces() override {
        return std::vector<std::string>{"\\\\.\\ide#sdz"};
    }
    uint32_t logicalDrives() override { return 4; }
    std::string windowsDirectory() override { return {}; }
    OsVersion osVersion() override { return {}; }
    int rescan(uint32_t*) override { return 0; }
};

struct Identify {
    AtaPassThroughEx hdr{};
    uint8_t data[512]{};
};

Identify identifyRequest() {
    Identify r;
    r.hdr.Length = sizeof(AtaPassThroughEx);
    r.hdr.AtaFlags = kAtaFlagsDrdyRequired | kAtaFlagsDataIn;
    r.hdr.DataTransferLength = 512;
    r.hdr.TimeOutValue = 10;
    r.hdr.DataBufferOffset = sizeof(AtaPassThroughEx);
    const uint8_t tf[8] = {0, 1, 0, 0, 0, 0xE0, 0xEC, 0};
    std::memcpy(r.hdr.CurrentTaskFile, tf, 8);
    return r;
}

bool send(DeviceIo& io, Identify& r, uint32_t& returned) {
    const DeviceHandle h = io.open("\\\\.\\ide#sdz", AccessRead | AccessWrite, ShareNone);
    if (h == kInvalidDevice) return false;
    const auto length = static_cast<uint32_t>(sizeof r);
    const bool ok = io.control(h, kIoctlAtaPassThrough, &r, length, &r, length, &returned);
    io.close(h);
    return ok;
}

TEST(LinuxTrace, RecordedCallReplaysToTheSameBytes) {
    test::TempDir dir;
    const std::string node = dir.file("sdz");
    std::ofstream(node) << "disk";
    AnsweringSgIo sg;
    LinuxDevices devices{sg, [&](const char* path) -> std::optional<std::string> {
                             if (std::strstr(path, "gone") != nullptr) return std::nullopt;
                             return node;
                         }};
    Null system;
    VirtualClock clock;
    const std::string trace = dir.file("trace.jsonl");
    std::string error;
    auto recorder = TraceRecorder::open(trace, devices, system, clock, error);
    ASSERT_NE(recorder, nullptr) << error;
    ASSERT_TRUE(recorder->system().diskInterfaces().has_value());
    Identify live = identifyRequest();
    uint32_t liveReturned = 0;
    ASSERT_TRUE(send(recorder->devices(), live, liveReturned));
    EXPECT_EQ(recorder->devices().open("\\\\.\\ide#gone", AccessRead, ShareNone), kInvalidDevice);
    recorder.reset();

    std::ifstream in(trace, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"taskFileOut\":\"0001334455e05000\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"data\":\"AAcOFRwj"), std::string::npos) << text;  // 0, 7, 14, 21, ...
    EXPECT_NE(text.find("\"event\":\"open\""), std::string::npos) << text;

    auto replay = TraceReplay::fromFile(trace, error);
    ASSERT_NE(replay, nullptr) << error;
    replay->setDiagnostics([](const std::string&) {});
    Identify again = identifyRequest();
    uint32_t returned = 0;
    ASSERT_TRUE(send(replay->devices(), again, returned));
    EXPECT_EQ(std::memcmp(&again, &live, sizeof live), 0);
    EXPECT_EQ(returned, liveReturned);
    EXPECT_EQ(replay->devices().open("\\\\.\\ide#gone", AccessRead, ShareNone), kInvalidDevice);
    EXPECT_EQ(replay->devices().lastError(), static_cast<uint32_t>(ENOENT));
}

TEST(LinuxTrace, ShortReadIsRecordedWithItsLengthAndFailsAgainInTheReplay) {
    test::TempDir dir;
    const std::string node = dir.file("sdz");
    std::ofstream(node) << "disk";
    AnsweringSgIo sg;
    sg.resid = 312;  // the drive moved 200 of the 512 bytes
    LinuxDevices devices{sg, [&](const char*) -> std::optional<std::string> { return node; }};
    Null system;
    VirtualClock clock;
    const std::string trace = dir.file("trace.jsonl");
    std::string error;
    auto recorder = TraceRecorder::open(trace, devices, system, clock, error);
    ASSERT_NE(recorder, nullptr) << error;
    Identify live = identifyRequest();
    uint32_t liveReturned = 0;
    ASSERT_TRUE(send(recorder->devices(), live, liveReturned));
    EXPECT_EQ(live.hdr.DataTransferLength, 200u);
    recorder.reset();

    std::ifstream in(trace, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"length\":512,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"transferred\":200"), std::string::npos) << text;

    // The replay hands the program the same short transfer, which it takes for a failure.
    auto replay = TraceReplay::fromFile(trace, error);
    ASSERT_NE(replay, nullptr) << error;
    replay->setDiagnostics([](const std::string&) {});
    Identify again = identifyRequest();
    uint32_t returned = 0;
    ASSERT_TRUE(send(replay->devices(), again, returned));
    EXPECT_EQ(again.hdr.DataTransferLength, 200u);
    EXPECT_EQ(std::memcmp(&again, &live, sizeof(AtaPassThroughEx) + 200), 0);
}

}  // namespace
}  // namespace qx
