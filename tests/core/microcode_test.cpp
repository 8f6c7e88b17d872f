// Image preparation (option rule, personalisation, seal) and the chunked DOWNLOAD
// MICROCODE sequence on the simulated bench.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "QXLib/MicroCode.h"
#include "QXLib/Transport.h"
#include "devices/DriveTable.h"
#include "platform/sim/Sha256.h"
#include "platform/sim/SimDrive.h"
#include "support/ProcedureBench.h"

namespace qx {
namespace {

using test::ProcedureBench;
using test::makerSataDisk;
using test::usbBridgeDisk;

constexpr uint8_t kDownload = 0x92;
constexpr const char* kBuild = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";

using Chunk = std::pair<unsigned, unsigned>;  // (block count, block offset)

std::vector<Chunk> chunks(const ProcedureBench& b) {
    std::vector<Chunk> out;
    for (const auto& c : b.commands(kDownload)) {
        out.emplace_back(c.taskFileIn[1] | (c.taskFileIn[2] << 8),
                         c.taskFileIn[3] | (c.taskFileIn[4] << 8));
    }
    return out;
}

// An image in a full image area, prepared for drive `disk` of the bench as the update
// prepares it.
std::vector<uint8_t> preparedImage(size_t disk, uint32_t length) {
    std::vector<uint8_t> area = test::firmwareImage(length, kBuild);
    area.resize(kImageAreaSize, 0);
    const uint8_t* id = DriveInfo[disk].identify;
    EXPECT_TRUE(PersonaliseAndSeal(area.data(), length, IdentifyText(id, kSerialOffset, kSerialWidth),
                                   IdentifyText(id, kModelOffset, kModelWidth),
                                   WwnToText(id + kWwnOffset), "1.06"));
    return area;
}

bool checksumHolds(const std::vector<uint8_t>& image, uint32_t length) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 2 < length; ++i) sum += image[i];
    sum += image[length - 1];
    return (sum & 0xFF) == 0;
}

// ---------------------------------------------------------------------------------------
// Chunking.

struct ChunkCase {
    uint32_t length;
    std::vector<Chunk> expected;
};

class DownloadChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(DownloadChunks, SendsTheBlocksAndTheLastBlockAlone) {
    ProcedureBench b({makerSataDisk(1)});
    const auto image = preparedImage(0, GetParam().length);
    EXPECT_TRUE(VP_PROC_DownloadMicroCode(0, image.data(), GetParam().length));
    EXPECT_EQ(chunks(b), GetParam().expected);
    EXPECT_EQ(b.drive(0).downloadVerdict, "installed");
    EXPECT_EQ(b.drive(0).firmware, "1.06");
    for (const auto& c : b.commands(kDownload)) {
        EXPECT_EQ(c.direction, "out");
        EXPECT_EQ(c.taskFileIn[0], 0x03);
        EXPECT_EQ(c.length, (c.taskFileIn[1] | (c.taskFileIn[2] << 8)) * 512u);
        EXPECT_EQ(c.timeout, 120u);  // time for the drive to write its flash
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, DownloadChunks,
    ::testing::Values(
        ChunkCase{150016, {{128, 0}, {128, 128}, {36, 256}, {1, 292}}},
        ChunkCase{150528, {{128, 0}, {128, 128}, {37, 256}, {1, 293}}},
        ChunkCase{151040, {{128, 0}, {128, 128}, {38, 256}, {1, 294}}},
        // At most 128 blocks: two commands.
        ChunkCase{65536, {{127, 0}, {1, 127}}},
        ChunkCase{10240, {{19, 0}, {1, 19}}},
        // A final chunk of a single block: no command with a block count of zero.
        ChunkCase{66048, {{128, 0}, {1, 128}}},
        ChunkCase{131584, {{128, 0}, {128, 128}, {1, 256}}},
        // Not a multiple of 512: the last block is partly image, partly the area's zeros.
        ChunkCase{150017, {{128, 0}, {128, 128}, {37, 256}, {1, 293}}},
        ChunkCase{66000, {{128, 0}, {1, 128}}},
        // The whole image area.
        ChunkCase{163840, {{128, 0}, {128, 128}, {63, 256}, {1, 319}}}),
    [](const auto& info) { return "Bytes" + std::to_string(info.param.length); });

// The drive writes its flash while it holds the command that completes the image: a
// segment may take far longer than 10 seconds and still succeed; past 120 s it has failed.
TEST(Download, TheLastSegmentMayTakeTheDriveTwoMinutes) {
    for (const uint32_t ms : {60000u, 125000u}) {
        SCOPED_TRACE(ms);
        auto disk = makerSataDisk(1);
        sim::SimFault slow;
        slow.key = "ata:92";
        slow.occurrence = 4;  // the one-block command that ends the image
        slow.kind = sim::FaultKind::Hang;
        slow.ms = ms;
        disk.faults.push_back(slow);
        ProcedureBench b({disk});
        const auto image = preparedImage(0, 150016);
        const bool ok = VP_PROC_DownloadMicroCode(0, image.data(), 150016);
        EXPECT_EQ(ok, ms < 120000u);
        EXPECT_EQ(b.debugText().find("Timeout = ") != std::string::npos, ms >= 120000u);
    }
}

TEST(Download, ExampleLogLines) {
    ProcedureBench b({makerSataDisk(1)});
    const auto image = preparedImage(0, 150016);
    b.forget();
    ASSERT_TRUE(VP_PROC_DownloadMicroCode(0, image.data(), 150016));
    EXPECT_EQ(b.debugText(),
              "VP_PROC_DownloadMicroCode::Begin\r\n"
              "wTotalSectorCount = 293\r\n"
              "wTotalSectorCount = 293 wSectorCount = 128\r\n"
              "wTotalSectorCount = 165 wSectorCount = 128\r\n"
              "wTotalSectorCount = 37 wSectorCount = 37\r\n");
}

TEST(Download, SendsTheImageBytesFromTheArea) {
    // 10,000 bytes: the last block carries 272 image bytes and 240 zero bytes of the area.
    ProcedureBench b({makerSataDisk(1)});
    const auto image = preparedImage(0, 10000);
    ASSERT_TRUE(VP_PROC_DownloadMicroCode(0, image.data(), 10000));
    const auto& got = b.drive(0).downloaded;
    ASSERT_EQ(got.size(), 10000u);  // the drive found the image's end
    EXPECT_TRUE(std::equal(got.begin(), got.end(), image.begin()));
    const auto sent = chunks(b);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(b.commands(kDownload)[1].dataSha256, sim::Sha256::hex(image.data() + 19 * 512, 512));
}

TEST(Download, BridgeDriveGetsTheExactCommandBlock) {
    ProcedureBench b({usbBridgeDisk(1, "k403")});
    std::vector<uint8_t> area(kImageAreaSize, 0x5A);
    EXPECT_EQ(VC_STD_DownloadMicroCode(0, area.data(), 0x0123, 0x0456), 2);  // beyond 64 KiB
    EXPECT_EQ(VC_STD_DownloadMicroCode(0, area.data(), 0x0040, 0x0100), 1);
    const auto& calls = b.bench().calls();
    ASSERT_FALSE(calls.empty());
    const auto& c = calls.back();
    EXPECT_EQ(c.kind, "scsi");
    const std::array<uint8_t, 12> expected = {0xA1, 0x16, 0x03, 0x03, 0x40, 0x00,
                                              0x00, 0x01, 0xE0, 0x92, 0x00, 0x00};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), c.cdb.begin()));
    EXPECT_EQ(c.direction, "out");
    EXPECT_EQ(c.length, 32768u);
}

// ---------------------------------------------------------------------------------------
// Failures.

struct FailureCase {
    int failingCommand;  // 1-based occurrence of DOWNLOAD MICROCODE that fails
    std::vector<Chunk> sent;
    const char* line;
};

class DownloadFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DownloadFailure, StopsAtTheFailedCommand) {
    auto disk = makerSataDisk(1);
    disk.faults.push_back(test::fault("ata:92", GetParam().failingCommand, sim::FaultKind::AtaError));
    ProcedureBench b({disk});
    const auto image = preparedImage(0, 150016);
    b.forget();
    EXPECT_FALSE(VP_PROC_DownloadMicroCode(0, image.data(), 150016));
    EXPECT_EQ(chunks(b), GetParam().sent);
    const std::string log = b.debugText();
    EXPECT_NE(log.find(GetParam().line), std::string::npos) << log;
    EXPECT_NE(b.drive(0).downloadVerdict, "installed");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DownloadFailure,
    ::testing::Values(
        FailureCase{1, {{128, 0}}, "FAILED(VC_STD_DownloadMicroCode), dwBufferOffset = 0\r\n"},
        FailureCase{2, {{128, 0}, {128, 128}},
                    "FAILED(VC_STD_DownloadMicroCode), dwBufferOffset = 65536\r\n"},
        FailureCase{3, {{128, 0}, {128, 128}, {36, 256}},
                    "FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[0]), dwBufferOffset = 131072\r\n"},
        FailureCase{4, {{128, 0}, {128, 128}, {36, 256}, {1, 292}},
                    "FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[1]), dwBufferOffset = 149504\r\n"}),
    [](const auto& info) { return "Command" + std::to_string(info.param.failingCommand); });

TEST(Download, SingleBlockFinalChunkFailureNamesTheLastBlock) {
    const auto disk = test::withFault(makerSataDisk(1), "ata:92", 2, sim::FaultKind::AtaError);
    ProcedureBench b({disk});
    const auto image = preparedImage(0, 66048);
    b.forget();
    EXPECT_FALSE(VP_PROC_DownloadMicroCode(0, image.data(), 66048));
    EXPECT_NE(b.debugText().find("FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[1]), dwBufferOffset = 65536\r\n"),
              std::string::npos);
}

TEST(Download, ImpossibleLengthsSendNothing) {
    ProcedureBench b({makerSataDisk(1)});
    std::vector<uint8_t> area(kImageAreaSize, 0);
    for (const uint32_t length : {0u, kImageAreaSize + 1, 0xFFFFFFFFu}) {
        b.forget();
        EXPECT_FALSE(VP_PROC_DownloadMicroCode(0, area.data(), length)) << length;
        EXPECT_TRUE(b.commands(kDownload).empty()) << length;
        EXPECT_NE(b.debugText().find("nothing sent"), std::string::npos) << length;
    }
}

// ---------------------------------------------------------------------------------------
// Preparation.

TEST(OptionRule, SetsBitZeroOfTheOptionByteOnlyForBuild111008) {
    std::vector<uint8_t> image(kImageAreaSize, 0);
    image[831] = 0x80;
    ApplyOptionRule("111007", image.data());
    EXPECT_EQ(image[831], 0x80);
    ApplyOptionRule("11100", image.data());  // shorter text
    EXPECT_EQ(image[831], 0x80);
    ApplyOptionRule("1110O8", image.data());  // not a decimal number
    EXPECT_EQ(image[831], 0x80);
    ApplyOptionRule("", image.data());
    EXPECT_EQ(image[831], 0x80);
    ApplyOptionRule("111008", image.data());
    EXPECT_EQ(image[831], 0x81);
    ApplyOptionRule("111008", image.data());  // idempotent
    EXPECT_EQ(image[831], 0x81);
    const char notTerminated[6] = {'1', '1', '1', '0', '0', '8'};
    image[831] = 0;
    ApplyOptionRule(notTerminated, image.data());
    EXPECT_EQ(image[831], 0x01);
}

TEST(OptionRule, ChangesTheSealedChecksum) {
    auto image = test::firmwareImage(150016, kBuild);
    image.resize(kImageAreaSize, 0);
    auto plain = image;
    ApplyOptionRule("111008", image.data());
    const std::string wwn = "5001B44812345601";
    ASSERT_TRUE(PersonaliseAndSeal(image.data(), 150016, "S", "M", wwn, "1.06"));
    ASSERT_TRUE(PersonaliseAndSeal(plain.data(), 150016, "S", "M", wwn, "1.06"));
    EXPECT_EQ(image[831], plain[831] | 1);
    EXPECT_NE(image[150015], plain[150015]);
    EXPECT_TRUE(checksumHolds(image, 150016));
    EXPECT_TRUE(checksumHolds(plain, 150016));
}

std::string ataField(const std::vector<uint8_t>& image, size_t at, size_t width) {
    std::string s;
    for (size_t i = 0; i < width; ++i) s.push_back(static_cast<char>(image[at + (i ^ 1)]));
    return s;
}

TEST(Personalise, WritesIdentityAsAtaStrings) {
    auto image = test::firmwareImage(150016, kBuild);
    image.resize(kImageAreaSize, 0);
    const uint8_t marker = image[150014];
    ASSERT_TRUE(PersonaliseAndSeal(image.data(), 150016, "ABCDEFGHIJKLMNOPQRST",
                                   "Quorvex QX-T74 256GB", "5001B448123456FF", "1.06.0123"));
    EXPECT_EQ(ataField(image, 96, 20), "ABCDEFGHIJKLMNOPQRST");   // exactly 20
    EXPECT_EQ(ataField(image, 122, 8), "1.06.012");               // cut to 8
    EXPECT_EQ(ataField(image, 130, 40), "Quorvex QX-T74 256GB                    ");
    const std::array<uint8_t, 8> wwn = {0x01, 0x50, 0x48, 0xB4, 0x34, 0x12, 0xFF, 0x56};
    EXPECT_TRUE(std::equal(wwn.begin(), wwn.end(), image.begin() + 292));
    EXPECT_EQ(image[150014], marker);
    EXPECT_TRUE(checksumHolds(image, 150016));
}

TEST(Personalise, ShortAndOddTextsKeepBlanks) {
    std::vector<uint8_t> image(kImageAreaSize, 0x11);
    ASSERT_TRUE(PersonaliseAndSeal(image.data(), 2048, "QX7", std::string("MOD\0EL", 6),
                                   "0000000000000000", ""));
    EXPECT_EQ(ataField(image, 96, 20), "QX7                 ");
    EXPECT_EQ(image[96], 'X');
    EXPECT_EQ(image[97], 'Q');
    EXPECT_EQ(image[98], ' ');  // the odd character's word keeps a blank in its second place
    EXPECT_EQ(image[99], '7');
    EXPECT_EQ(ataField(image, 130, 40), "MOD" + std::string(37, ' '));  // cut at the NUL
    EXPECT_EQ(ataField(image, 122, 8), std::string(8, ' '));
    EXPECT_EQ(image[116], 0x11);  // words 20-22 are not touched
    EXPECT_TRUE(checksumHolds(image, 2048));
}

TEST(Personalise, RefusesWhatCannotBeSealed) {
    std::vector<uint8_t> image(kImageAreaSize, 0x22);
    const auto before = image;
    EXPECT_FALSE(PersonaliseAndSeal(image.data(), 0, "S", "M", "0000000000000000", "1"));
    EXPECT_FALSE(PersonaliseAndSeal(image.data(), kImageAreaSize + 1, "S", "M", "0000000000000000", "1"));
    EXPECT_FALSE(PersonaliseAndSeal(image.data(), 4096, "S", "M", "00000000000000", "1"));
    EXPECT_FALSE(PersonaliseAndSeal(image.data(), 4096, "S", "M", "00000000000000G0", "1"));
    EXPECT_EQ(image, before);
    EXPECT_TRUE(PersonaliseAndSeal(image.data(), kImageAreaSize, "S", "M", "0000000000000000", "1"));
    EXPECT_TRUE(checksumHolds(image, kImageAreaSize));
}

TEST(Wwn, TextIsFourWordsMostSignificantDigitFirst) {
    const uint8_t words[8] = {0x01, 0x50, 0x48, 0xB4, 0x34, 0x12, 0x0A, 0x00};
    EXPECT_EQ(WwnToText(words), "5001B4481234000A");
    std::vector<uint8_t> image(kImageAreaSize, 0);
    ASSERT_TRUE(PersonaliseAndSeal(image.data(), 1024, "", "", WwnToText(words), ""));
    EXPECT_TRUE(std::equal(words, words + 8, image.begin() + 292));  // the bytes arrive unchanged
}

}  // namespace
}  // namespace qx
