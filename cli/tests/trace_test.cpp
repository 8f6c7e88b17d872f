// Traces and their replay: QXUPDATER_TRACE on a run of the command line, replay:PATH
// answering the same run from it, the recorded demo traces kept as test data, the
// password never in a trace, and the trace reader on hostile input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "CliHarness.h"
#include "platform/TraceReplay.h"
#include "platform/sim/Sha256.h"
#include "platform/DeviceIoctl.h"
#include "support/ProcedureBench.h"
#include "support/TempDir.h"

namespace qx::test {
namespace {

using nlohmann::json;

std::vector<json> traceLines(const std::string& path) {
    std::vector<json> lines;
    std::istringstream in(fileText(path));
    for (std::string line; std::getline(in, line);) {
        json j = json::parse(line, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << line;
        lines.push_back(j);
    }
    return lines;
}

// The stored recordings of the demo bench.
std::string dataFile(const std::string& name) {
#if defined(_WIN32)
    return std::string("Z:") + QX_CLI_TESTDATA + "/" + name;
#else
    return std::string(QX_CLI_TESTDATA) + "/" + name;
#endif
}

class CliTrace : public ::testing::Test {
protected:
    void SetUp() override { writeDemoPackage(package); }

    // Runs a command on the demo bench with QXUPDATER_TRACE=trace.
    CliRun record(std::vector<std::string> args, const std::string& trace) {
        CliSetup setup;
        setup.env["QXUPDATER_TRACE"] = trace;
        args.push_back("--devices");
        args.push_back("sim");
        return runCli(args, setup);
    }
    CliRun replay(std::vector<std::string> args, const std::string& trace) {
        args.push_back("--devices");
        args.push_back("replay:" + trace);
        return runCli(args);
    }

    TempDir dir;
    std::string package = dir.file("qxupdater-demo");
    std::string trace = dir.file("trace.jsonl");
};

TEST_F(CliTrace, RecordsCallsDataReadAndSystemQueries) {
    const CliRun r = record({"list", "--json"}, trace);
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = traceLines(trace);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front()["event"], "system");
    EXPECT_EQ(lines.front()["query"], "diskInterfaces");
    EXPECT_EQ(lines.front()["paths"].size(), 7u);
    int identifies = 0;
    for (const json& l : lines) {
        if (!l.contains("control") || l["control"] != "IOCTL_ATA_PASS_THROUGH") continue;
        if (l["taskFileIn"].get<std::string>().substr(12, 2) != "ec" || !l["result"]) continue;
        ++identifies;
        // IDENTIFY data: 512 bytes in base64, the bytes the call returned.
        EXPECT_EQ(l["data"].get<std::string>().size(), 684u);
        EXPECT_EQ(l["returned"], 48 + 512);
        EXPECT_EQ(l["taskFileOut"].get<std::string>().size(), 16u);
    }
    EXPECT_GT(identifies, 3);
}

TEST_F(CliTrace, ReplayGivesTheSameOutput) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", "--json"}, std::vector<std::string>{"explain", "--json"},
          std::vector<std::string>{"smart", "3", "--json"},
          std::vector<std::string>{"update", "--all", "--yes", "--json", "--package", package}}) {
        std::remove(trace.c_str());
        const CliRun live = record(args, trace);
        ASSERT_EQ(live.code, 0) << args[0] << ": " << live.err;
        const CliRun again = replay(args, trace);
        EXPECT_EQ(again.code, live.code) << args[0] << ": " << again.err;
        EXPECT_EQ(again.out, live.out) << args[0];
        EXPECT_EQ(again.err.find("replay:"), std::string::npos) << again.err;
    }
}

TEST_F(CliTrace, ReplayFailsWhatTheTraceDoesNotHold) {
    ASSERT_EQ(record({"list"}, trace).code, 0);
    // The scan is in the trace, the SMART commands are not.
    const CliRun smart = replay({"smart", "1", "--json"}, trace);
    EXPECT_EQ(smart.code, 1);
    EXPECT_NE(smart.err.find("replay: IOCTL_ATA_PASS_THROUGH on "), std::string::npos) << smart.err;
    EXPECT_NE(smart.err.find("the trace holds no such call"), std::string::npos) << smart.err;

    // Another image than the recorded one is another write: the replay refuses it.
    std::remove(trace.c_str());
    ASSERT_EQ(record({"update", "2", "--yes", "--package", package}, trace).code, 0);
    std::vector<PackageImage> images(3);
    images[0].bytes = firmwareImage(1024, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09", 1);
    images[1].bytes = images[0].bytes;
    images[2].bytes = firmwareImage(150528, "QXFWR_111021_R,Oct 02 2012,12:00:00,t74a,40C3D4,QX02", 9);
    const std::string other = dir.file("other-package");
    writePackage(other, "1.06", "QX Demo SSD", false, images);
    const CliRun update = replay({"update", "2", "--yes", "--json", "--package", other}, trace);
    EXPECT_EQ(update.code, 1);
    EXPECT_EQ(update.json()["drives"][0]["outcome"], "Fail");
    EXPECT_NE(update.err.find("data SHA-256"), std::string::npos) << update.err;

    // A trace that is not one cannot start the back-end.
    std::ofstream(dir.file("bad.jsonl")) << "{\"control\":\"IOCTL_ATA_PASS_THROUGH\"\n";
    const CliRun bad = replay({"list"}, dir.file("bad.jsonl"));
    EXPECT_EQ(bad.code, 4);
    EXPECT_NE(bad.err.find("line 1"), std::string::npos) << bad.err;
    EXPECT_EQ(replay({"list"}, dir.file("missing.jsonl")).code, 4);
}

TEST_F(CliTrace, PasswordNeverInTheTrace) {
    const std::string secret = "QXMASTER";
    std::ofstream(dir.file("pw")) << secret << "\n";
    const CliRun r = record({"erase", "1", "--yes", "--password-file", dir.file("pw")}, trace);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string text = fileText(trace);
    std::vector<uint8_t> block(512, 0);
    block[0] = 1;
    std::fill(block.begin() + 2, block.begin() + 34, ' ');
    std::copy(secret.begin(), secret.end(), block.begin() + 2);
    EXPECT_EQ(text.find(secret), std::string::npos);
    EXPECT_EQ(text.find("51584d4153544552"), std::string::npos);  // the password in hex
    EXPECT_EQ(text.find("UVhNQVNURVI"), std::string::npos);       // ... and in base64
    EXPECT_EQ(text.find(sim::Sha256::hex(block.data(), block.size())), std::string::npos)
        << "no unsalted digest of the block either";
    bool unitSeen = false;
    for (const json& l : traceLines(trace)) {
        if (l.contains("taskFileIn") && l["taskFileIn"].get<std::string>().substr(12, 2) == "f4") {
            unitSeen = true;
            EXPECT_EQ(l["dataOmitted"], true);
            EXPECT_FALSE(l.contains("dataSha256"));
        }
    }
    EXPECT_TRUE(unitSeen);
    // The erase replays without the block: the recorded answer stands.
    EXPECT_EQ(replay({"erase", "1", "--yes", "--password-file", dir.file("pw")}, trace).code, 0);
}

// The recorded demo traces replay to what the demo bench gives today. With QX_CLI_RECORD
// set they are recorded anew first (after a change of the commands the procedures send).
TEST_F(CliTrace, StoredDemoTracesReplay) {
    struct Stored {
        const char* file;
        std::vector<std::string> args;
    };
    const std::vector<Stored> stored = {
        {"demo-list.jsonl", {"list", "--json"}},
        {"demo-smart.jsonl", {"smart", "1", "--json"}},
        {"demo-update.jsonl", {"update", "--all", "--yes", "--json", "--package", package}},
    };
    const bool rerecord = std::getenv("QX_CLI_RECORD") != nullptr;
    for (const Stored& s : stored) {
        const std::string path = dataFile(s.file);
        std::string fresh = dir.file(std::string("fresh-") + s.file);
        const CliRun live = record(s.args, fresh);
        ASSERT_EQ(live.code, 0) << live.err;
        if (rerecord) {
            std::ofstream(path, std::ios::binary) << fileText(fresh);
        }
        ASSERT_FALSE(fileText(path).empty()) << path << " is missing: run with QX_CLI_RECORD=1";
        const CliRun again = replay(s.args, path);
        EXPECT_EQ(again.code, 0) << s.file << ": " << again.err;
        EXPECT_EQ(again.out, live.out) << s.file;
    }
}

// ---------------------------------------------------------------------------------------
TEST(TraceReader, HostileInputIsRefusedOrPassedOver) {
    TraceLog log;
    std::string error;
    EXPECT_TRUE(ParseTrace("", log, error));
    EXPECT_TRUE(ParseTrace("\n\n  \r\n", log, error));
    // Lines of unknown kinds are passed over.
    EXPECT_TRUE(ParseTrace("{\"note\":1}\n{\"event\":\"later\"}\n", log, error)) << error;
    EXPECT_TRUE(log.calls.empty());

    const std::string good =
        "{\"time\":1,\"elapsedMs\":1,\"path\":\"p\",\"control\":\"IOCTL_ATA_PASS_THROUGH\","
        "\"code\":\"0x4d02c\",\"taskFileIn\":\"0001000000e0ec00\",\"taskFileOut\":\"0001000000e05000\","
        "\"direction\":\"in\",\"length\":4,\"timeout\":10,\"result\":true,\"lastError\":0,"
        "\"transferred\":4,\"returned\":52,\"data\":\"AQIDBA==\"}";
    ASSERT_TRUE(ParseTrace(good, log, error)) << error;
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].readData, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(log.calls[0].taskFileIn[6], 0xEC);

    const auto refused = [&](const std::string& text) {
        TraceLog l;
        std::string e;
        const bool ok = ParseTrace(text, l, e);
        EXPECT_FALSE(ok) << text.substr(0, 120);
        EXPECT_EQ(e.rfind("line ", 0), 0u) << e;
    };
    refused("not json");
    refused("[1,2,3]");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"taskFileIn\":\"00\"}");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"taskFileIn\":\"zz01000000e0ec00\"}");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"length\":-1}");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"length\":99999999999}");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"data\":\"AQ=D\"}");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"data\":\"A\"}");
    refused("{\"control\":\"FROBNICATE\"}");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"direction\":\"sideways\"}");
    refused("{\"control\":\"IOCTL_SCSI_PASS_THROUGH_DIRECT\",\"cdb\":\"" + std::string(40, 'a') + "\"}");
    refused("{\"control\":\"IOCTL_ATA_PASS_THROUGH\",\"data\":\"" + std::string(200000, 'A') + "\"}");
    refused("{\"event\":\"system\",\"query\":\"diskInterfaces\",\"paths\":[1]}");
    refused("{\"event\":\"system\",\"query\":\"nothing\"}");
    refused(good + "\n{\"control\":");
    refused(std::string(100000, '[') + std::string(100000, ']'));
    refused(std::string(2 << 20, ' ') + "{}");
}

// The recorded system's text for an error comes back from the replay with the error: the
// diagnostic log of a replayed run names the failure as the recorded one did.
TEST(TraceReader, ReplayHandsBackTheRecordedErrorTexts) {
    const std::string text =
        "{\"time\":1,\"event\":\"open\",\"path\":\"\\\\\\\\?\\\\ide#held\",\"result\":false,"
        "\"lastError\":32,\"lastErrorText\":\"In use elsewhere.\"}\n"
        "{\"time\":2,\"elapsedMs\":1,\"path\":\"\\\\\\\\?\\\\ide#x\",\"control\":\"IOCTL_ATA_PASS_THROUGH\","
        "\"code\":\"0x4d02c\",\"taskFileIn\":\"0001000000e0ec00\",\"direction\":\"in\",\"length\":512,"
        "\"timeout\":10,\"result\":false,\"lastError\":1117,\"lastErrorText\":\"Device trouble.\"}\n";
    TraceLog log;
    std::string error;
    ASSERT_TRUE(ParseTrace(text, log, error)) << error;
    EXPECT_EQ(log.calls.at(0).lastErrorText, "Device trouble.");
    TraceReplay replay(std::move(log));
    DeviceIo& io = replay.devices();
    EXPECT_EQ(io.open("\\\\?\\ide#held", AccessRead | AccessWrite, ShareNone), kInvalidDevice);
    EXPECT_EQ(io.lastError(), 32u);
    EXPECT_EQ(io.errorText(32), "In use elsewhere.");
    EXPECT_EQ(io.errorText(1117), "Device trouble.");
    EXPECT_EQ(io.errorText(5), "") << "a code the trace holds no text for";
}

TEST(TraceReader, ReplayAnswersBoundedByTheCallersBuffers) {
    // A recorded answer longer than the caller's data area is cut to the area.
    const std::string text =
        "{\"event\":\"system\",\"query\":\"diskInterfaces\",\"result\":true,\"paths\":[\"\\\\\\\\?\\\\ide#x\"]}\n"
        "{\"time\":1,\"elapsedMs\":7,\"path\":\"\\\\\\\\?\\\\ide#x\",\"control\":\"IOCTL_ATA_PASS_THROUGH\","
        "\"code\":\"0x4d02c\",\"taskFileIn\":\"0001000000e0ec00\",\"taskFileOut\":\"0001000000e05000\","
        "\"direction\":\"in\",\"length\":4,\"timeout\":10,\"result\":true,\"lastError\":0,"
        "\"transferred\":4,\"data\":\"AQIDBAUGBwg=\"}\n";
    TraceLog log;
    std::string error;
    ASSERT_TRUE(ParseTrace(text, log, error)) << error;
    TraceReplay replay(std::move(log));
    std::vector<std::string> said;
    replay.setDiagnostics([&](const std::string& s) { said.push_back(s); });
    auto paths = replay.system().diskInterfaces();
    ASSERT_TRUE(paths.has_value());
    ASSERT_EQ(paths->size(), 1u);
    DeviceIo& io = replay.devices();
    const DeviceHandle h = io.open(paths->at(0).c_str(), AccessRead | AccessWrite, ShareNone);
    ASSERT_NE(h, kInvalidDevice);
    std::vector<uint8_t> buffer(sizeof(AtaPassThroughEx) + 4 + 4, 0xEE);
    AtaPassThroughEx hdr{};
    hdr.Length = sizeof hdr;
    hdr.AtaFlags = kAtaFlagsDataIn;
    hdr.DataTransferLength = 4;
    hdr.TimeOutValue = 10;
    hdr.DataBufferOffset = sizeof hdr;
    hdr.CurrentTaskFile[1] = 1;
    hdr.CurrentTaskFile[5] = 0xE0;
    hdr.CurrentTaskFile[6] = 0xEC;
    std::memcpy(buffer.data(), &hdr, sizeof hdr);
    uint32_t returned = 0;
    const uint32_t length = static_cast<uint32_t>(sizeof hdr + 4);
    ASSERT_TRUE(io.control(h, kIoctlAtaPassThrough, buffer.data(), length, buffer.data(), length, &returned));
    EXPECT_EQ(buffer[sizeof hdr], 1);
    EXPECT_EQ(buffer[sizeof hdr + 3], 4);
    EXPECT_EQ(buffer[sizeof hdr + 4], 0xEE) << "nothing written past the data area";
    EXPECT_EQ(replay.clock().now(), 1000u + 7u);
    // The one answer is used: a second IDENTIFY is not in the trace.
    std::memcpy(buffer.data(), &hdr, sizeof hdr);
    EXPECT_FALSE(io.control(h, kIoctlAtaPassThrough, buffer.data(), length, buffer.data(), length, &returned));
    EXPECT_EQ(io.lastError(), 50u);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("used up"), std::string::npos) << said[0];
    io.close(h);
    EXPECT_EQ(io.open("\\\\?\\ide#other", AccessRead, ShareNone), kInvalidDevice);
}

}  // namespace
}  // namespace qx::test
