// The SMART report: catalogue texts, field decoding, order and repetition of entries.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/sim/SimBench.h"
#include "smart/SmartReport.h"

namespace qx {
namespace {

using Lines = std::vector<std::string>;

Lines report(const std::vector<sim::SmartEntry>& entries) {
    const auto sector = sim::makeSmartData(entries);
    return BuildSmartReport(sector.data());
}

// Raw value from six raw bytes, raw byte 0 first.
uint64_t raw(uint8_t b0, uint8_t b1, uint8_t b2 = 0, uint8_t b3 = 0, uint8_t b4 = 0,
             uint8_t b5 = 0) {
    return uint64_t{b0} | uint64_t{b1} << 8 | uint64_t{b2} << 16 | uint64_t{b3} << 24 |
           uint64_t{b4} << 32 | uint64_t{b5} << 40;
}

TEST(SmartReport, EveryCatalogueEntryHasItsText) {
    const Lines lines = report({{9, 1234},
                                {12, 56},
                                {167, 0},
                                {169, raw(3, 0, 10, 0, 2, 0)},
                                {173, 812},
                                {175, 0},
                                {192, 7},
                                {194, raw(0x21, 0, 0x12, 0, 0x40, 0)}});
    const Lines expected = {"Power on hour=1234",
                            "Power on count=56",
                            "SSD Protect Mode=0",
                            "Bad Block count=3",
                            "Total bad number=10",
                            "Later bad number=2",
                            "Erase count=812",
                            "Bad cluster table count=0",
                            "Unexpected power loss count=7",
                            "Temperature: Current=33  Min=18  Max=64"};
    EXPECT_EQ(lines, expected);
}

TEST(SmartReport, FieldsAreSixteenBitUnsigned) {
    // 70,000 hours: only the low 16 bits of the counter are shown.
    EXPECT_EQ(report({{9, 70000}}), Lines{"Power on hour=4464"});
    // The largest field value prints unsigned, not as -1.
    EXPECT_EQ(report({{173, 0xFFFF}}), Lines{"Erase count=65535"});
    // Raw bytes past the field are not added in.
    EXPECT_EQ(report({{12, raw(0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF)}}), Lines{"Power on count=1"});
    // Temperature fields are read on their own, each little-endian.
    EXPECT_EQ(report({{194, raw(0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80)}}),
              Lines{"Temperature: Current=4660  Min=65535  Max=32768"});
}

TEST(SmartReport, ProtectModeReadsRawByteZeroOnly) {
    EXPECT_EQ(report({{167, raw(0xFF, 0x01)}}), Lines{"SSD Protect Mode=255"});
}

TEST(SmartReport, BadBlockCountGivesThreeLinesInRawOrder) {
    EXPECT_EQ(report({{169, raw(0x01, 0x02, 0x03, 0x04, 0x05, 0x06)}}),
              (Lines{"Bad Block count=513", "Total bad number=1027", "Later bad number=1541"}));
}

TEST(SmartReport, LinesFollowTheSectorOrderAndRepeat) {
    const Lines lines = report({{192, 1}, {9, 2}, {1, 99}, {9, 3}});
    EXPECT_EQ(lines, (Lines{"Unexpected power loss count=1", "Power on hour=2", "Power on hour=3"}));
}

TEST(SmartReport, UncataloguedAndEmptySectorsGiveNothing) {
    EXPECT_TRUE(report({{1, 5}, {5, 0}, {177, 9}}).empty());
    const std::array<uint8_t, 512> zeros{};
    EXPECT_TRUE(BuildSmartReport(zeros.data()).empty());
}

TEST(SmartReport, ReadsAllThirtyEntriesAndNothingBeyond) {
    // Entry 29 is the last one (offset 350); bytes from 362 on are not entries.
    std::array<uint8_t, 512> sector{};
    sector[2 + 12 * 29] = 12;
    sector[2 + 12 * 29 + 5] = 42;
    sector[362] = 9;  // would be entry 30
    sector[362 + 5] = 1;
    EXPECT_EQ(BuildSmartReport(sector.data()), Lines{"Power on count=42"});
}

}  // namespace
}  // namespace qx
