// Sense data decoding on canned bytes: both formats, the ATA registers they carry, and
// hostile or cut data that must decode as a failure without reading past the end.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "QXLib/SenseData.h"
#include "platform/DeviceIoctl.h"

namespace qx {
namespace {

// Descriptor format, RECOVERED ERROR, ATA PASS-THROUGH INFORMATION AVAILABLE, with an ATA
// Status Return descriptor: error 04, count 01, LBA 11 22 33, device E0, status 51.
std::vector<uint8_t> descriptorSense(uint8_t key, uint8_t status) {
    return {0x72, key, 0x00, 0x1D, 0, 0, 0, 14,
            0x09, 0x0C, 0x00, 0x04, 0x00, 0x01, 0x00, 0x11, 0x00, 0x22, 0x00, 0x33, 0xE0, status};
}

// Fixed format with ASC/ASCQ 00h/1Dh: error 04, status 51, device E0, count 01 in the
// information field; LBA 11 22 33 in the command-specific information field.
std::vector<uint8_t> fixedAtaSense(uint8_t key, uint8_t status) {
    return {0x70, 0x00, key, 0x04, status, 0xE0, 0x01, 10, 0x00, 0x11, 0x22, 0x33,
            0x00, 0x1D, 0x00, 0x00, 0x00, 0x00};
}

std::optional<SenseData> decode(const std::vector<uint8_t>& s) {
    return DecodeSenseData(s.data(), s.size());
}

TEST(SenseDecode, DescriptorFormatWithAtaStatusReturn) {
    const auto d = decode(descriptorSense(kSenseKeyRecoveredError, 0x51));
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->responseCode, 0x72);
    EXPECT_EQ(d->senseKey, 0x01);
    EXPECT_EQ(d->asc, 0x00);
    EXPECT_EQ(d->ascq, 0x1D);
    ASSERT_TRUE(d->ataRegisters.has_value());
    const std::array<uint8_t, 8> expected{0x04, 0x01, 0x11, 0x22, 0x33, 0xE0, 0x51, 0x00};
    EXPECT_EQ(*d->ataRegisters, expected);
    EXPECT_EQ(d->ataStatus(), 0x51);
    EXPECT_EQ(d->ataError(), 0x04);
}

TEST(SenseDecode, DescriptorFormatSkipsOtherDescriptors) {
    // An information descriptor (00h, 0Ah) before the ATA Status Return descriptor.
    std::vector<uint8_t> s = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 26,
                              0x00, 0x0A, 0x80, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    const auto ata = descriptorSense(1, 0x50);
    s.insert(s.end(), ata.begin() + 8, ata.end());
    const auto d = decode(s);
    ASSERT_TRUE(d.has_value());
    ASSERT_TRUE(d->ataRegisters.has_value());
    EXPECT_EQ(d->ataStatus(), 0x50);
    EXPECT_EQ(d->ataError(), 0x04);
}

TEST(SenseDecode, DescriptorFormatWithoutDescriptors) {
    const std::vector<uint8_t> s = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0};
    const auto d = decode(s);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->senseKey, kSenseKeyIllegalRequest);
    EXPECT_EQ(d->asc, 0x24);
    EXPECT_FALSE(d->ataRegisters.has_value());
}

TEST(SenseDecode, FixedFormatAtaInformation) {
    const auto d = decode(fixedAtaSense(kSenseKeyRecoveredError, 0x51));
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->responseCode, 0x70);
    EXPECT_EQ(d->senseKey, 0x01);
    ASSERT_TRUE(d->ataRegisters.has_value());
    const std::array<uint8_t, 8> expected{0x04, 0x01, 0x11, 0x22, 0x33, 0xE0, 0x51, 0x00};
    EXPECT_EQ(*d->ataRegisters, expected);
}

TEST(SenseDecode, FixedFormatOtherAscCarriesNoRegisters) {
    // MEDIUM NOT PRESENT, with the VALID bit and the ILI bit set around the key.
    const std::vector<uint8_t> s = {0xF0, 0, 0x22, 1, 2, 3, 4, 10, 0, 0, 0, 0, 0x3A, 0x00, 0, 0, 0, 0};
    const auto d = decode(s);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->responseCode, 0x70);
    EXPECT_EQ(d->senseKey, 0x02);
    EXPECT_EQ(d->asc, 0x3A);
    EXPECT_FALSE(d->ataRegisters.has_value());
}

TEST(SenseDecode, DeferredErrorsAreRead) {
    auto fixed = fixedAtaSense(3, 0x50);
    fixed[0] = 0x71;
    auto desc = descriptorSense(3, 0x50);
    desc[0] = 0x73;
    ASSERT_TRUE(decode(fixed).has_value());
    ASSERT_TRUE(decode(desc).has_value());
    EXPECT_EQ(decode(fixed)->senseKey, 3);
    EXPECT_EQ(decode(desc)->responseCode, 0x73);
}

TEST(SenseDecode, UnknownResponseCodesFail) {
    for (uint8_t code : {0x00, 0x01, 0x6F, 0x74, 0x7E, 0x7F}) {
        auto s = descriptorSense(0, 0x50);
        s[0] = code;
        EXPECT_FALSE(decode(s).has_value()) << "response code " << int{code};
    }
    EXPECT_FALSE(DecodeSenseData(nullptr, 18).has_value());
}

TEST(SenseDecode, TruncatedDataFails) {
    const auto fixed = fixedAtaSense(1, 0x50);
    for (std::size_t n = 0; n < 14; ++n) {
        EXPECT_FALSE(DecodeSenseData(fixed.data(), n).has_value()) << "fixed, " << n << " bytes";
    }
    // Cut after ASCQ: everything needed is there.
    EXPECT_TRUE(DecodeSenseData(fixed.data(), 14).has_value());

    const auto desc = descriptorSense(1, 0x50);
    for (std::size_t n = 0; n < desc.size(); ++n) {
        EXPECT_FALSE(DecodeSenseData(desc.data(), n).has_value()) << "descriptor, " << n << " bytes";
    }
}

TEST(SenseDecode, FixedAdditionalLengthWithoutAscFails) {
    auto s = fixedAtaSense(0, 0x50);
    s[7] = 5;  // ends before ASC/ASCQ
    EXPECT_FALSE(decode(s).has_value());
}

TEST(SenseDecode, DescriptorRunningPastTheEndFails) {
    // The descriptor says 0x0C more bytes but the sense data ends four bytes early.
    auto s = descriptorSense(1, 0x50);
    s[7] = 10;
    EXPECT_FALSE(decode(s).has_value());
    // A descriptor whose length byte is far too large.
    auto big = descriptorSense(1, 0x50);
    big[9] = 0xFF;
    EXPECT_FALSE(decode(big).has_value());
    // A lone byte after the last descriptor (no room for a descriptor header).
    auto odd = descriptorSense(1, 0x50);
    odd.push_back(0x00);
    odd[7] = 15;
    EXPECT_FALSE(decode(odd).has_value());
}

TEST(SenseDecode, ShortAtaStatusDescriptorFails) {
    const std::vector<uint8_t> s = {0x72, 1, 0, 0x1D, 0, 0, 0, 6, 0x09, 0x04, 0, 0x04, 0, 1};
    EXPECT_FALSE(decode(s).has_value());
}

TEST(SenseDecode, EveryPrefixOfHostileBytesIsSafe) {
    // Pseudo-random bytes with a plausible response code: decoding any prefix must neither
    // read past it nor crash (the sanitizer build watches the reads).
    uint32_t x = 12345;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> s(32);
        for (auto& b : s) {
            x = x * 1103515245u + 12345u;
            b = static_cast<uint8_t>(x >> 16);
        }
        s[0] = static_cast<uint8_t>(0x70 + (round % 4));
        for (std::size_t n = 0; n <= s.size(); ++n) {
            std::vector<uint8_t> exact(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
            const auto d = DecodeSenseData(exact.data(), exact.size());
            if (d) EXPECT_GE(n, 8u);
        }
    }
}

TEST(SenseVerdict, GoodStatusSucceedsWhateverTheSense) {
    const std::vector<uint8_t> junk = {0xFF, 0xFF};
    std::optional<SenseData> decoded = SenseData{};
    EXPECT_TRUE(ScsiCommandSucceeded(kScsiStatusGood, junk.data(), junk.size(), &decoded));
    EXPECT_FALSE(decoded.has_value());
    EXPECT_TRUE(ScsiCommandSucceeded(kScsiStatusGood, nullptr, 0));
}

TEST(SenseVerdict, CheckConditionByKeyAndAtaStatus) {
    const auto check = [](const std::vector<uint8_t>& s) {
        return ScsiCommandSucceeded(kScsiStatusCheckCondition, s.data(), s.size());
    };
    EXPECT_TRUE(check(descriptorSense(kSenseKeyNoSense, 0x50)));
    EXPECT_TRUE(check(descriptorSense(kSenseKeyRecoveredError, 0x50)));
    EXPECT_TRUE(check(fixedAtaSense(kSenseKeyRecoveredError, 0x50)));
    // ERR in the returned ATA status.
    EXPECT_FALSE(check(descriptorSense(kSenseKeyRecoveredError, 0x51)));
    EXPECT_FALSE(check(fixedAtaSense(kSenseKeyNoSense, 0x51)));
    // Any other key.
    for (uint8_t key = 2; key < 16; ++key) EXPECT_FALSE(check(descriptorSense(key, 0x50))) << int{key};
    // Key NO SENSE without registers.
    EXPECT_TRUE(check({0x72, 0x00, 0x00, 0x00, 0, 0, 0, 0}));
    // No sense data at all, or unreadable sense data.
    EXPECT_FALSE(check({}));
    EXPECT_FALSE(check({0x72, 0x00, 0x00}));
}

TEST(SenseVerdict, OtherStatusesFail) {
    const auto s = descriptorSense(0, 0x50);
    for (uint8_t status : {0x04, 0x08, 0x18, 0x28, 0x40}) {
        EXPECT_FALSE(ScsiCommandSucceeded(status, s.data(), s.size())) << int{status};
    }
}

TEST(SenseVerdict, HandsBackTheDecodedSense) {
    const std::vector<uint8_t> s = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
    std::optional<SenseData> decoded;
    EXPECT_FALSE(ScsiCommandSucceeded(kScsiStatusCheckCondition, s.data(), s.size(), &decoded));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->senseKey, kSenseKeyIllegalRequest);
    EXPECT_EQ(decoded->asc, 0x20);
}

}  // namespace
}  // namespace qx
