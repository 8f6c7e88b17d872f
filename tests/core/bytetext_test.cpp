// The small byte and text helpers every layer shares: wiping secrets, ASCII case folding,
// ATA string fields, little-endian fields, and the security commands that carry a password.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/Ascii.h"
#include "platform/AtaString.h"
#include "platform/FlashPage.h"
#include "platform/LittleEndian.h"
#include "platform/Wipe.h"
#include "platform/sim/SimTrace.h"

namespace qx {
namespace {

TEST(Wipe, BytesZeroesExactlyTheRange) {
    std::array<uint8_t, 8> b{};
    b.fill(0xAA);
    WipeBytes(b.data() + 2, 4);
    EXPECT_EQ(b, (std::array<uint8_t, 8>{0xAA, 0xAA, 0, 0, 0, 0, 0xAA, 0xAA}));
    WipeBytes(b.data(), 0);
    EXPECT_EQ(b[0], 0xAA);
}

TEST(Wipe, StringWipesItsWholeAllocationAndEmpties) {
    std::string s(100, 'p');  // on the heap, past any small-string buffer
    s.resize(3);              // the earlier characters stay in the allocation
    const size_t capacity = s.capacity();
    const char* p = s.data();
    WipeString(s);
    EXPECT_TRUE(s.empty());
    ASSERT_EQ(s.data(), p);  // no reallocation: the same bytes were wiped
    for (size_t i = 0; i < capacity; ++i) ASSERT_EQ(p[i], '\0') << i;
    std::string empty;
    WipeString(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(Ascii, FoldsOnlyAToZ) {
    EXPECT_EQ(LowerAscii('A'), 'a');
    EXPECT_EQ(LowerAscii('Z'), 'z');
    EXPECT_EQ(LowerAscii('@'), '@');  // just below 'A'
    EXPECT_EQ(LowerAscii('['), '[');  // just above 'Z'
    EXPECT_EQ(LowerAscii('z'), 'z');
    EXPECT_EQ(LowerAscii('\xC4'), '\xC4');  // a UTF-8 lead byte stays
    EXPECT_EQ(LowerAscii(L'Q'), L'q');
    EXPECT_EQ(LowerAscii(L'\u00C4'), L'\u00C4');  // wide non-ASCII letters stay too
    EXPECT_EQ(LowerAscii(std::string("\\\\?\\IDE#Disk\xC3\x84")), "\\\\?\\ide#disk\xC3\x84");
    EXPECT_EQ(LowerAscii(std::string()), "");
}

TEST(Ascii, EqualNoCase) {
    EXPECT_TRUE(EqualNoCaseAscii("Settings", "sETTINGS"));
    EXPECT_TRUE(EqualNoCaseAscii("", ""));
    EXPECT_FALSE(EqualNoCaseAscii("Key", "Keys"));
    EXPECT_FALSE(EqualNoCaseAscii("\xC3\x84", "\xC3\xA4"));  // Ä and ä: not ASCII, not folded
    EXPECT_FALSE(EqualNoCaseAscii("a", "@"));
}

TEST(Ascii, UpperFoldsOnlyAToZ) {
    // '`' and '{' stand just outside a to z; a Latin-1 letter stays, whatever the locale.
    const std::pair<char, char> cases[] = {{'a', 'A'}, {'z', 'Z'}, {'`', '`'}, {'{', '{'}, {'Q', 'Q'}, {'\xE4', '\xE4'}};
    for (const auto& [in, out] : cases) EXPECT_EQ(UpperAscii(in), out) << int(in);
}

TEST(Ascii, HexDigitsOfEitherCase) {
    const std::string digits = "0123456789abcdef";
    for (int v = 0; v < 16; ++v) {
        EXPECT_EQ(HexDigitValue(digits[static_cast<size_t>(v)]), v);
        EXPECT_EQ(HexDigitValue(UpperAscii(digits[static_cast<size_t>(v)])), v);
    }
    for (const char c : {'/', ':', '@', 'G', '`', 'g', 'x', ' ', '\0', '\xB0'}) EXPECT_EQ(HexDigitValue(c), -1) << int(c);
}

TEST(AtaString, SwapLeavesAnOddLastByte) {
    uint8_t f[5] = {'B', 'A', 'D', 'C', 'E'};
    SwapAtaPairs(f, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f), 5), "ABCDE");
    SwapAtaPairs(f, 1);
    SwapAtaPairs(f, 0);
    EXPECT_EQ(f[0], 'A');
}

TEST(AtaString, PutPadsTruncatesAndStaysInItsField) {
    std::array<uint8_t, 10> b{};
    b.fill('#');
    PutAtaString(b.data() + 1, 8, "1.0");
    EXPECT_EQ(std::string(b.begin(), b.end()), "#.1 0    #");
    PutAtaString(b.data() + 1, 8, "ABCDEFGHIJ");  // longer than the field
    EXPECT_EQ(std::string(b.begin(), b.end()), "#BADCFEHG#");
    PutAtaString(b.data() + 1, 5, "ABCDEF");  // odd: the last byte belongs to no word
    EXPECT_EQ(std::string(b.begin(), b.end()), "#BADC EHG#");
    PutAtaString(b.data() + 1, 8, "");
    EXPECT_EQ(std::string(b.begin(), b.end()), "#        #");
    PutAtaString(b.data() + 1, 0, "AB");
    EXPECT_EQ(std::string(b.begin(), b.end()), "#        #");
    // The text's length counts, NULs included; a caller that stops at a NUL passes c_str().
    const std::string withNul("AB\0D", 4);
    PutAtaString(b.data() + 1, 4, withNul);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 5), std::string("#BAD\0", 5));
    PutAtaString(b.data() + 1, 4, withNul.c_str());
    EXPECT_EQ(std::string(b.begin(), b.begin() + 5), "#BA  ");
}

TEST(AtaString, ReadTrimsBlanksAndTreatsNulAsAsked) {
    uint8_t f[8];
    PutAtaString(f, 8, "  QX 1");
    EXPECT_EQ(ReadAtaString(f, 8, AtaNul::EndsText), "QX 1");
    EXPECT_EQ(ReadAtaString(f, 8, AtaNul::PadsEnd), "QX 1");
    const std::string inner("AB\0CD\0\0 ", 8);
    PutAtaString(f, 8, inner);
    EXPECT_EQ(ReadAtaString(f, 8, AtaNul::EndsText), "AB");
    EXPECT_EQ(ReadAtaString(f, 8, AtaNul::PadsEnd), std::string("AB\0CD", 5));
    PutAtaString(f, 8, "");
    EXPECT_EQ(ReadAtaString(f, 8, AtaNul::EndsText), "");
    EXPECT_EQ(ReadAtaString(f, 8, AtaNul::PadsEnd), "");
    EXPECT_EQ(ReadAtaString(f, 0, AtaNul::PadsEnd), "");
    // Non-ASCII bytes come back as they were sent.
    PutAtaString(f, 8, "\xC3\xA4\xFF");
    EXPECT_EQ(ReadAtaString(f, 8, AtaNul::EndsText), "\xC3\xA4\xFF");
    // An odd width reads whole words only.
    const uint8_t odd[3] = {'B', 'A', 'C'};
    EXPECT_EQ(ReadAtaString(odd, 3, AtaNul::PadsEnd), "AB");
    EXPECT_EQ(ReadAtaString(odd, 1, AtaNul::EndsText), "");
}

TEST(LittleEndian, ReadsAndWritesLowByteFirst) {
    uint8_t b[6] = {};
    PutLe16(b, 0x1234);
    PutLe32(b + 2, 0xA1B2C3D4u);
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[2], 0xD4);
    EXPECT_EQ(b[5], 0xA1);
    EXPECT_EQ(ReadLe16(b), 0x1234);
    EXPECT_EQ(ReadLe32(b + 2), 0xA1B2C3D4u);
    const uint8_t high[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ReadLe16(high), 0xFFFF);
    EXPECT_EQ(ReadLe32(high), 0xFFFFFFFFu);
}

TEST(FlashPage, SectorsByPageSizeCodeOnlyItsLowBits) {
    EXPECT_EQ(SectorsPerFlashPage(0), 4u);
    EXPECT_EQ(SectorsPerFlashPage(1), 8u);
    EXPECT_EQ(SectorsPerFlashPage(2), 16u);
    EXPECT_EQ(SectorsPerFlashPage(3), 32u);
    for (uint32_t code = 4; code < 8; ++code) EXPECT_EQ(SectorsPerFlashPage(code), 0u) << code;
    EXPECT_EQ(SectorsPerFlashPage(0xFFF9), 8u);  // the other bits of the word are not the size
}

TEST(PasswordCommand, OnlyTheSecurityCommandsThatCarryOne) {
    for (unsigned c = 0; c < 256; ++c) {
        const bool expected = c == 0xF1 || c == 0xF2 || c == 0xF4 || c == 0xF6;
        EXPECT_EQ(sim::isPasswordCommand(static_cast<uint8_t>(c)), expected) << std::hex << c;
    }
}

}  // namespace
}  // namespace qx
