// The bench trace (one JSON line per control call) field by field, and the SHA-256 that
// stands in for data written to a device.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/DeviceIoctl.h"
#include "platform/sim/Sha256.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace qx {
namespace {

using sim::DataDir;
using sim::Sha256;
using test::regs;

// ------------------------------------------------------------------------- SHA-256
TEST(Sha256, KnownVectors) {
    EXPECT_EQ(Sha256::hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const char* two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256::hex(two, std::strlen(two)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    EXPECT_EQ(Sha256::hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PaddingEdgesAndPiecewiseUpdates) {
    const std::map<size_t, std::string> known = {
        {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {65, "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
    };
    for (const auto& [n, digest] : known) {
        const std::string a(n, 'a');
        EXPECT_EQ(Sha256::hex(a.data(), n), digest) << n;
    }
    std::vector<uint8_t> bytes(1024);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    Sha256 s;
    for (size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 % 97 + 1) {
        s.update(bytes.data() + at, std::min(step, bytes.size() - at));
    }
    const auto d = s.finish();
    char hex[65];
    for (size_t i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
    EXPECT_EQ(std::string(hex), "785b0751fc2c53dc14a4ce3d800e69ef9ce1009eb327ccf458afe09c242c26c9");
}

// ------------------------------------------------------------------------- JSON reading
// A small reader for the trace's flat objects: nested objects become "outer.inner" keys;
// string values are unescaped, other values kept as their text.
class JsonLine {
public:
    explicit JsonLine(const std::string& text) : s_(text) { ok_ = object("") && skipWs() == s_.size(); }
    bool ok() const { return ok_; }
    bool has(const std::string& k) const { return values_.count(k) != 0; }
    std::string operator[](const std::string& k) const {
        const auto it = values_.find(k);
        return it == values_.end() ? "<missing>" : it->second;
    }
    size_t size() const { return values_.size(); }

private:
    size_t skipWs() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
        return i_;
    }
    bool string(std::string& out) {
        if (s_[skipWs()] != '"') return false;
        ++i_;
        while (i_ < s_.size() && s_[i_] != '"') {
            if (s_[i_] == '\\') {
                ++i_;
                if (i_ >= s_.size()) return false;
                if (s_[i_] == 'u') {
                    if (i_ + 4 >= s_.size()) return false;
                    out.push_back(static_cast<char>(std::stoi(s_.substr(i_ + 1, 4), nullptr, 16)));
                    i_ += 5;
                    continue;
                }
                out.push_back(s_[i_++]);
                continue;
            }
            if (static_cast<unsigned char>(s_[i_]) < 0x20) return false;
            out.push_back(s_[i_++]);
        }
        if (i_ >= s_.size()) return false;
        ++i_;
        return true;
    }
    bool object(const std::string& prefix) {
        if (s_[skipWs()] != '{') return false;
        ++i_;
        if (s_[skipWs()] == '}') {
            ++i_;
            return true;
        }
        for (;;) {
            std::string key;
            if (!string(key)) return false;
            if (s_[skipWs()] != ':') return false;
            ++i_;
            const std::string full = prefix.empty() ? key : prefix + "." + key;
            if (values_.count(full)) return false;  // keys are unique
            const char c = s_[skipWs()];
            if (c == '{') {
                if (!object(full)) return false;
                values_[full] = "{}";
            } else if (c == '"') {
                std::string v;
                if (!string(v)) return false;
                values_[full] = v;
            } else {
                const size_t start = i_;
                while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '-')) ++i_;
                if (start == i_) return false;
                values_[full] = s_.substr(start, i_ - start);
            }
            const char next = s_[skipWs()];
            ++i_;
            if (next == '}') return true;
            if (next != ',') return false;
        }
    }
    std::string s_;
    size_t i_ = 0;
    bool ok_ = false;
    std::map<std::string, std::string> values_;
};

class TraceTest : public ::testing::Test {
protected:
    TraceTest() {
        sim::SimBenchSpec setup;
        setup.disks = {test::makerSataDisk(1), test::usbBridgeDisk(2, "k403")};
        setup.disks[0].commandMs = 2;
        fixture = std::make_unique<test::SimFixture>(setup);
        path = dir.file("trace.jsonl");
        fixture->bench.setTracePath(path);
    }
    ~TraceTest() override {
        fixture->bench.setTracePath("");
    }
    std::vector<std::string> lines() {
        fixture->bench.setTracePath("");  // flush and close
        std::ifstream in(path, std::ios::binary);
        std::vector<std::string> out;
        std::string line;
        while (std::getline(in, line)) out.push_back(line);
        fixture->bench.setTracePath(path);
        return out;
    }
    std::string fileText() {
        fixture->bench.setTracePath("");
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fixture->bench.setTracePath(path);
        return text;
    }
    std::unique_ptr<test::SimFixture> fixture;
    test::TempDir dir{"qx-trace"};
    std::string path;
};

TEST_F(TraceTest, NoDataAtaCommand) {
    const uint64_t start = fixture->clock().now();
    ASSERT_TRUE(test::rawAta(fixture->path(0), regs(0xEF, 0xDC, 0x51), DataDir::None, nullptr, 0).ok);
    const auto ls = lines();
    ASSERT_EQ(ls.size(), 1u);
    const JsonLine j(ls[0]);
    ASSERT_TRUE(j.ok()) << ls[0];
    EXPECT_EQ(j["time"], std::to_string(start));
    EXPECT_EQ(j["elapsedMs"], "2");
    EXPECT_EQ(j["path"], fixture->path(0));
    EXPECT_EQ(j["control"], "IOCTL_ATA_PASS_THROUGH");
    EXPECT_EQ(j["code"], "0x4d02c");
    EXPECT_EQ(j["request.Length"], std::to_string(sizeof(AtaPassThroughEx)));
    EXPECT_EQ(j["request.AtaFlags"], "0");
    EXPECT_EQ(j["request.DataTransferLength"], "0");
    EXPECT_EQ(j["request.TimeOutValue"], "10");
    EXPECT_EQ(j["request.DataBufferOffset"], std::to_string(sizeof(AtaPassThroughEx)));
    EXPECT_EQ(j["taskFileIn"], "dc51000000e0ef00");
    EXPECT_EQ(j["taskFileOut"], "0051000000e05000");
    EXPECT_EQ(j["direction"], "none");
    EXPECT_EQ(j["length"], "0");
    EXPECT_EQ(j["timeout"], "10");
    EXPECT_EQ(j["result"], "true");
    EXPECT_EQ(j["lastError"], "0");
    EXPECT_EQ(j["transferred"], "0");
    EXPECT_FALSE(j.has("dataSha256"));
    EXPECT_FALSE(j.has("cdb"));
    EXPECT_FALSE(j.has("scsiStatus"));
    EXPECT_EQ(j.size(), 19u) << ls[0];
}

TEST_F(TraceTest, DmaReadOf64KiBWithCommand86) {
    auto& io = *platform().devices;
    ASSERT_TRUE(test::rawAta(fixture->path(0), regs(0xEF, 0xDC, 0x51), DataDir::None, nullptr, 0).ok);
    std::vector<uint8_t> sector(512, 0);
    const uint8_t block[16] = {0xFF, 0xE5, 0x86, 0x03};
    std::memcpy(sector.data(), block, 16);
    ASSERT_TRUE(test::rawAta(fixture->path(0), regs(0x88, 0, 1, 0xFF, 0x34, 0x12), DataDir::Out,
                             sector.data(), 512).ok);
    // The read as the transport sends it: DATA_IN | DRDY | DMA.
    constexpr uint32_t kHeader = sizeof(AtaPassThroughEx);
    std::vector<uint8_t> buf(kHeader + 65536, 0);
    AtaPassThroughEx hdr{};
    hdr.Length = kHeader;
    hdr.AtaFlags = 0x13;
    hdr.DataTransferLength = 65536;
    hdr.TimeOutValue = 10;
    hdr.DataBufferOffset = kHeader;
    const auto tf = regs(0x86, 0, 0x80, 0x86, 0x34, 0x12);
    std::memcpy(hdr.CurrentTaskFile, tf.data(), 8);
    std::memcpy(buf.data(), &hdr, kHeader);
    const DeviceHandle h = io.open(fixture->path(0), AccessRead | AccessWrite, ShareNone);
    const auto size = static_cast<uint32_t>(buf.size());
    ASSERT_TRUE(io.control(h, kIoctlAtaPassThrough, buf.data(), size, buf.data(), size, nullptr));
    io.close(h);
    EXPECT_EQ(buf[kHeader + 0x300], 'Q') << "the information record arrived";

    const auto ls = lines();
    ASSERT_EQ(ls.size(), 3u);
    const JsonLine write(ls[1]);
    ASSERT_TRUE(write.ok());
    EXPECT_EQ(write["direction"], "out");
    EXPECT_EQ(write["request.AtaFlags"], "5");
    EXPECT_EQ(write["dataSha256"], Sha256::hex(sector.data(), 512));
    const JsonLine read(ls[2]);
    ASSERT_TRUE(read.ok()) << ls[2];
    EXPECT_EQ(read["request.Length"], std::to_string(kHeader));
    EXPECT_EQ(read["request.AtaFlags"], "19");
    EXPECT_EQ(read["request.DataTransferLength"], "65536");
    EXPECT_EQ(read["request.TimeOutValue"], "10");
    EXPECT_EQ(read["request.DataBufferOffset"], std::to_string(kHeader));
    EXPECT_EQ(read["taskFileIn"], "0080863412e08600");
    EXPECT_EQ(read["taskFileOut"], "0080863412e05000");
    EXPECT_EQ(read["direction"], "in");
    EXPECT_EQ(read["length"], "65536");
    EXPECT_EQ(read["transferred"], "65536");
    EXPECT_EQ(read["result"], "true");
    EXPECT_FALSE(read.has("dataSha256")) << "data from the device is not hashed";
}

TEST_F(TraceTest, ScsiReads) {
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0};
    uint8_t answer[40];
    ASSERT_TRUE(test::rawScsi(fixture->path(1), cdb, 12, true, answer, 40, 300).ok);
    uint8_t id[512];
    ASSERT_TRUE(test::rawSat(fixture->path(1), regs(0xEC, 0, 1), DataDir::In, id, 512).ok);
    const auto ls = lines();
    ASSERT_EQ(ls.size(), 2u);
    const JsonLine j(ls[0]);
    ASSERT_TRUE(j.ok()) << ls[0];
    EXPECT_EQ(j["control"], "IOCTL_SCSI_PASS_THROUGH_DIRECT");
    EXPECT_EQ(j["code"], "0x4d014");
    EXPECT_EQ(j["request.Length"], std::to_string(sizeof(ScsiPassThroughDirect)));
    EXPECT_EQ(j["request.TargetId"], "1");
    EXPECT_EQ(j["request.CdbLength"], "12");
    EXPECT_EQ(j["request.SenseInfoLength"], "64");
    EXPECT_EQ(j["request.SenseInfoOffset"], std::to_string(offsetof(ScsiPassThroughDirectWithSense, Sense)));
    EXPECT_EQ(j["request.DataIn"], "1");
    EXPECT_EQ(j["request.DataTransferLength"], "40");
    EXPECT_EQ(j["request.TimeOutValue"], "300");
    EXPECT_EQ(j["cdb"], "120000002800000000000000");
    EXPECT_EQ(j["direction"], "in");
    EXPECT_EQ(j["length"], "40");
    EXPECT_EQ(j["timeout"], "300");
    EXPECT_EQ(j["result"], "true");
    EXPECT_EQ(j["scsiStatus"], "0");
    EXPECT_EQ(j["sense"], "");
    EXPECT_EQ(j["transferred"], "40");
    EXPECT_FALSE(j.has("taskFileIn"));
    const JsonLine sat(ls[1]);
    ASSERT_TRUE(sat.ok());
    EXPECT_EQ(sat["cdb"], "a1080e0001000000e0ec0000");
    EXPECT_EQ(sat["taskFileIn"], "0001000000e0ec00");
    EXPECT_EQ(sat["taskFileOut"], "0001000000e05000");
    EXPECT_EQ(sat["transferred"], "512");
}

// A digest of a block that is zero but for a short password is as good as the password to
// anyone with a dictionary: the trace keeps none of it, on either path.
TEST_F(TraceTest, EraseBlockLeavesNoDigest) {
    ASSERT_TRUE(test::rawAta(fixture->path(0), regs(0xF3), DataDir::None, nullptr, 0).ok);
    std::vector<uint8_t> block(512, 0);
    block[0] = 1;
    std::memset(block.data() + 2, ' ', 32);
    std::memcpy(block.data() + 2, "QXMASTER", 8);
    ASSERT_TRUE(test::rawAta(fixture->path(0), regs(0xF4, 0, 1), DataDir::Out, block.data(), 512).ok);
    EXPECT_TRUE(fixture->drive(0).erased);
    test::rawSat(fixture->path(1), regs(0xF4, 0, 1), DataDir::Out, block.data(), 512);
    // Other data written keeps its digest.
    std::vector<uint8_t> chunk(512, 0x5A);
    test::rawAta(fixture->path(0), regs(0x92, 0x03, 1), DataDir::Out, chunk.data(), 512);

    const std::string text = fileText();
    EXPECT_EQ(text.find("QXMASTER"), std::string::npos);
    EXPECT_EQ(text.find("51584d4153544552"), std::string::npos);
    EXPECT_EQ(text.find("585144414d535245"), std::string::npos);
    EXPECT_EQ(text.find(Sha256::hex(block.data(), 512)), std::string::npos);
    const auto& calls = fixture->bench.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1].dataSha256, "");
    EXPECT_EQ(calls[2].dataSha256, "");
    EXPECT_EQ(calls[3].dataSha256, Sha256::hex(chunk.data(), 512));
    EXPECT_NE(text.find(Sha256::hex(chunk.data(), 512)), std::string::npos);
    EXPECT_NE(text.find("\"dataOmitted\":true"), std::string::npos);
}

TEST_F(TraceTest, FailedCallsAndOddPathsStayValidJson) {
    auto& io = *platform().devices;
    const DeviceHandle h = io.open(fixture->path(0), AccessRead | AccessWrite, ShareNone);
    uint8_t small[8] = {};
    EXPECT_FALSE(io.control(h, kIoctlAtaPassThrough, small, sizeof small, small, sizeof small, nullptr));
    io.close(h);
    fixture->bench.setup().disks[1].path = "\\\\?\\usb\"odd\xe9path";
    uint8_t answer[kSmartAnswerLength];
    const DeviceHandle u = io.open(fixture->path(1), AccessRead | AccessWrite, ShareRead | ShareWrite);
    SendCmdInParams p{};
    p.irDriveRegs.bCommandReg = 0xEC;
    EXPECT_FALSE(io.control(u, kSmartRcvDriveData, &p, kSmartRequestLength, answer, sizeof answer, nullptr));
    io.close(u);
    const auto ls = lines();
    ASSERT_EQ(ls.size(), 2u);
    const JsonLine bad(ls[0]);
    ASSERT_TRUE(bad.ok()) << ls[0];
    EXPECT_EQ(bad["result"], "false");
    EXPECT_EQ(bad["lastError"], "87");
    EXPECT_EQ(bad["lastErrorText"], "The parameter is incorrect.");
    EXPECT_FALSE(bad.has("transferred"));
    const JsonLine odd(ls[1]);
    ASSERT_TRUE(odd.ok()) << ls[1];
    EXPECT_EQ(odd["path"], fixture->path(1));
    EXPECT_EQ(odd["control"], "SMART_RCV_DRIVE_DATA");
    EXPECT_EQ(odd["lastError"], "1");
    EXPECT_EQ(odd["lastErrorText"], "Incorrect function.");
    for (char c : ls[1]) EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80);
}

TEST_F(TraceTest, AppendsAndStops) {
    uint8_t id[512];
    test::rawAta(fixture->path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    {
        // A second bench appending to the same file.
        sim::SimBenchSpec setup;
        setup.disks = {test::makerSataDisk(3)};
        test::SimFixture other(setup);
        other.bench.setTracePath(path);
        test::rawAta(other.path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
        other.bench.setTracePath("");
    }
    test::rawAta(fixture->path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    fixture->bench.setTracePath("");
    test::rawAta(fixture->path(0), regs(0xEC, 0, 1), DataDir::In, id, 512);
    std::ifstream in(path, std::ios::binary);
    int n = 0;
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_TRUE(JsonLine(line).ok()) << line;
        ++n;
    }
    EXPECT_EQ(n, 3);
    EXPECT_EQ(fixture->bench.calls().size(), 3u) << "calls() records with or without a trace";
}

}  // namespace
}  // namespace qx
