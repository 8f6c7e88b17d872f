// Reads of the package behind the executable and of .bin images, on hand-laid files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Utf8Path.h"
#include "support/ProcedureBench.h"
#include "update/Package.h"

namespace qx {
namespace {

using test::TempDir;

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An image area whose bytes identify the slot: byte i = slot + i, BuildInfo text at 768.
std::vector<uint8_t> slotImage(uint32_t length, int slot) {
    std::vector<uint8_t> img(length);
    for (uint32_t i = 0; i < length; ++i) img[i] = static_cast<uint8_t>(slot + static_cast<int>(i));
    return img;
}

// Lays out a package by hand: exe padding, header, optional picture, slots.
std::vector<uint8_t> layPackage(bool picture, const std::vector<std::vector<uint8_t>>& images) {
    const uint32_t base = picture ? kImageBaseWithPicture : kImageBaseNoPicture;
    std::vector<uint8_t> file(base + images.size() * kSlotSize, 0);
    file[0] = 'M';
    file[1] = 'Z';
    std::memcpy(file.data() + kPackageHeaderOffset, "1.06", 4);
    std::memcpy(file.data() + kPackageHeaderOffset + 14, "QX Demo SSD", 11);
    file[kPackageHeaderOffset + kPictureFlagOffset] = picture ? 1 : 0;
    if (picture) {
        file[kPictureAreaOffset] = 0xFF;
        file[kPictureAreaOffset + 1] = 0xD8;
        file[kPictureAreaOffset + kPictureAreaSize - 1] = 0x77;  // last byte of the area
    }
    for (size_t s = 0; s < images.size(); ++s) {
        uint8_t* slot = file.data() + base + s * kSlotSize;
        putLe32(slot, static_cast<uint32_t>(images[s].size()));
        std::memcpy(slot + kSlotHeaderSize, images[s].data(), images[s].size());
    }
    return file;
}

struct Offer {
    int slot;
    uint32_t length;
    uint8_t first;
    size_t size;
};

std::vector<Offer> offersOf(const std::string& path, bool picture, int32_t size,
                            int acceptAt = -1, int* result = nullptr,
                            std::vector<uint8_t>* bufferOut = nullptr) {
    std::vector<Offer> offers;
    std::vector<uint8_t> buffer;
    const int r = EnumeratePackageImages(path, picture, size, buffer,
                                         [&](int slot, uint32_t length, const std::vector<uint8_t>& a) {
                                             offers.push_back({slot, length, a[0], a.size()});
                                             return slot == acceptAt;
                                         });
    if (result) *result = r;
    if (bufferOut) *bufferOut = buffer;
    return offers;
}

// ---------------------------------------------------------------------------------------
TEST(PackageHeader, TextsStayInsideTheirFieldsWithoutANul) {
    std::array<uint8_t, kPackageHeaderSize> h{};
    const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef";
    std::memcpy(h.data(), letters, 32);
    EXPECT_EQ(HeaderVersionText(h), "ABCDEFGHIJKLMN");
    EXPECT_EQ(HeaderProductName(h), "OPQRSTUVWXYZ");
    EXPECT_FALSE(HeaderPictureFlag(h));
    h[32] = 0x80;
    EXPECT_TRUE(HeaderPictureFlag(h));
}

TEST(PackageHeader, TextsEndAtTheFirstNul) {
    std::array<uint8_t, kPackageHeaderSize> h{};
    std::memcpy(h.data(), "1.06\0junk", 9);
    std::memcpy(h.data() + 14, "QX\0Demo", 7);
    EXPECT_EQ(HeaderVersionText(h), "1.06");
    EXPECT_EQ(HeaderProductName(h), "QX");
    h.fill(0);
    EXPECT_EQ(HeaderVersionText(h), "");
    EXPECT_EQ(HeaderProductName(h), "");
}

TEST(PackageStartupRead, ReadsHeaderAndPictureWhenFlagged) {
    TempDir dir;
    const std::string path = dir.file("pic.exe");
    writeFile(path, layPackage(true, {slotImage(1000, 0)}));
    const PackageStartup s = ReadPackageStartup(path);
    ASSERT_TRUE(s.opened);
    EXPECT_EQ(HeaderVersionText(s.header), "1.06");
    EXPECT_EQ(HeaderProductName(s.header), "QX Demo SSD");
    ASSERT_EQ(s.picture.size(), kPictureAreaSize);
    EXPECT_EQ(s.picture[0], 0xFF);
    EXPECT_EQ(s.picture[1], 0xD8);
    EXPECT_EQ(s.picture[kPictureAreaSize - 1], 0x77);
}

TEST(PackageStartupRead, NoPictureWithoutFlag) {
    TempDir dir;
    const std::string path = dir.file("nopic.exe");
    writeFile(path, layPackage(false, {slotImage(1000, 0)}));
    const PackageStartup s = ReadPackageStartup(path);
    ASSERT_TRUE(s.opened);
    EXPECT_FALSE(HeaderPictureFlag(s.header));
    EXPECT_TRUE(s.picture.empty());
}

TEST(PackageStartupRead, UnreadableFileLeavesHeaderZero) {
    TempDir dir;
    const PackageStartup s = ReadPackageStartup(dir.file("missing.exe"));
    EXPECT_FALSE(s.opened);
    for (uint8_t b : s.header) ASSERT_EQ(b, 0);
    EXPECT_TRUE(s.picture.empty());
}

TEST(PackageStartupRead, FileEndingInsideTheHeaderLeavesTheRestZero) {
    TempDir dir;
    const std::string path = dir.file("short.exe");
    std::vector<uint8_t> bytes(kPackageHeaderOffset + 20, 0);
    std::memcpy(bytes.data() + kPackageHeaderOffset, "ABCDEFGHIJKLMNOPQRST", 20);
    writeFile(path, bytes);
    const PackageStartup s = ReadPackageStartup(path);
    ASSERT_TRUE(s.opened);
    EXPECT_EQ(HeaderVersionText(s.header), "ABCDEFGHIJKLMN");
    EXPECT_EQ(HeaderProductName(s.header), "OPQRST");
    EXPECT_EQ(s.header[32], 0);
}

// ---------------------------------------------------------------------------------------
TEST(PackageSlots, CountFromSizeAndBase) {
    EXPECT_EQ(ImageBase(false), 0x300000u);
    EXPECT_EQ(ImageBase(true), 0x314000u);
    EXPECT_EQ(SlotCount(3145728, false), 0);
    EXPECT_EQ(SlotCount(3145728, true), 0);
    EXPECT_EQ(SlotCount(0, false), 0);
    EXPECT_EQ(SlotCount(-5, true), 0);
    EXPECT_EQ(SlotCount(static_cast<int32_t>(kImageBaseNoPicture + kImageArea - 1), false), 0);
    EXPECT_EQ(SlotCount(static_cast<int32_t>(kImageBaseNoPicture + kImageArea), false), 1);
    EXPECT_EQ(SlotCount(static_cast<int32_t>(kImageBaseNoPicture + kSlotSize), true), 0);
    EXPECT_EQ(SlotCount(static_cast<int32_t>(kImageBaseNoPicture + 27 * kSlotSize), false), 27);
    EXPECT_EQ(SlotCount(static_cast<int32_t>(kImageBaseWithPicture + 27 * kSlotSize), true), 27);
}

TEST(PackageEnumeration, ExeOfExactlyTheImageBaseHasNoSlots) {
    TempDir dir;
    const std::string path = dir.file("empty.exe");
    writeFile(path, layPackage(false, {}));
    int r = 0;
    EXPECT_TRUE(offersOf(path, false, 3145728, -1, &r).empty());
    EXPECT_EQ(r, -1);
}

TEST(PackageEnumeration, PictureFlagMovesTheFirstSlotTo0x314000) {
    TempDir dir;
    const std::string path = dir.file("pic.exe");
    const auto bytes = layPackage(true, {slotImage(2000, 9)});
    writeFile(path, bytes);
    const auto size = static_cast<int32_t>(bytes.size());
    const auto withFlag = offersOf(path, true, size);
    ASSERT_EQ(withFlag.size(), 1u);
    EXPECT_EQ(withFlag[0].length, 2000u);
    EXPECT_EQ(withFlag[0].first, 9);
    // Read without the flag, the first slot header would be the picture area's first bytes.
    const auto withoutFlag = offersOf(path, false, size);
    ASSERT_FALSE(withoutFlag.empty());
    EXPECT_NE(withoutFlag[0].length, 2000u);
}

TEST(PackageEnumeration, TwentySevenSlotsYieldTwentySevenInOrder) {
    TempDir dir;
    const std::string path = dir.file("27.exe");
    std::vector<std::vector<uint8_t>> images;
    for (int s = 0; s < 27; ++s) images.push_back(slotImage(1000 + static_cast<uint32_t>(s), s));
    const auto bytes = layPackage(false, images);
    writeFile(path, bytes);
    const auto offers = offersOf(path, false, static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(offers.size(), 27u);
    for (int s = 0; s < 27; ++s) {
        EXPECT_EQ(offers[s].slot, s);
        EXPECT_EQ(offers[s].length, 1000u + static_cast<uint32_t>(s));
        EXPECT_EQ(offers[s].first, s);
        EXPECT_EQ(offers[s].size, kImageArea);
    }
}

TEST(PackageEnumeration, StopsAtAcceptanceAndKeepsThatImage) {
    TempDir dir;
    const std::string path = dir.file("accept.exe");
    const auto bytes = layPackage(false, {slotImage(900, 1), slotImage(901, 2), slotImage(902, 3)});
    writeFile(path, bytes);
    int r = -2;
    std::vector<uint8_t> buffer;
    const auto offers = offersOf(path, false, static_cast<int32_t>(bytes.size()), 1, &r, &buffer);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(offers.size(), 2u);
    ASSERT_EQ(buffer.size(), kImageArea);
    EXPECT_EQ(buffer, [] {
        auto img = slotImage(901, 2);
        img.resize(kImageArea, 0);
        return img;
    }());
}

TEST(PackageEnumeration, WrongChecksumIsStillOffered) {
    TempDir dir;
    const std::string path = dir.file("badsum.exe");
    auto img = slotImage(1024, 5);
    img[1023] = static_cast<uint8_t>(ImageChecksumByte(img.data(), 1024) + 1);
    ASSERT_FALSE(ImageChecksumValid(img.data(), 1024));
    const auto bytes = layPackage(false, {img});
    writeFile(path, bytes);
    const auto offers = offersOf(path, false, static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].length, 1024u);
}

TEST(PackageEnumeration, SlotCutInsideItsImageIsNotOffered) {
    TempDir dir;
    const std::string path = dir.file("cut.exe");
    auto bytes = layPackage(false, {slotImage(150016, 1), slotImage(150016, 2)});
    // The second slot's image ends 150,016 bytes in; cut the file 100 bytes before that.
    bytes.resize(kImageBaseNoPicture + kSlotSize + kSlotHeaderSize + 150016 - 100);
    writeFile(path, bytes);
    const auto size = static_cast<int32_t>(bytes.size());
    ASSERT_EQ(SlotCount(size, false), 1);
    // Even when told the file is longer than it is, the cut slot is not handed on.
    const auto offers = offersOf(path, false, size + static_cast<int32_t>(kSlotSize));
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].slot, 0);
}

TEST(PackageEnumeration, SlotCutOnlyInItsPaddingIsOfferedWithZeros) {
    TempDir dir;
    const std::string path = dir.file("pad.exe");
    auto bytes = layPackage(false, {slotImage(150016, 4)});
    bytes.resize(bytes.size() - 16);  // the count still sees one whole image area
    writeFile(path, bytes);
    int r = 0;
    std::vector<uint8_t> buffer;
    const auto offers = offersOf(path, false, static_cast<int32_t>(bytes.size()), 0, &r, &buffer);
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(r, 0);
    ASSERT_EQ(buffer.size(), kImageArea);
    EXPECT_EQ(buffer[kImageArea - 1], 0);
    EXPECT_EQ(buffer[150015], slotImage(150016, 4)[150015]);
}

TEST(PackageEnumeration, UnreadableExecutableYieldsNothing) {
    TempDir dir;
    int r = 0;
    EXPECT_TRUE(offersOf(dir.file("gone.exe"), false, 10'000'000, -1, &r).empty());
    EXPECT_EQ(r, -1);
}

// ---------------------------------------------------------------------------------------
// ---------------------------------------------------------------------------------------
// The whole check before any drive.

constexpr const char* kBuild = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";

// Marks the executable part of a laid-out package as a signed PE32 file whose certificate
// table of `tableSize` bytes starts at `at`, and appends the table.
void signLayout(std::vector<uint8_t>& file, uint32_t tableSize) {
    const auto at = static_cast<uint32_t>(file.size());
    constexpr uint32_t pe = 0x80;
    putLe32(file.data() + 0x3C, pe);
    std::memcpy(file.data() + pe, "PE\0\0", 4);
    file[pe + 4 + 16] = 224;  // SizeOfOptionalHeader of PE32 with 16 data directories
    uint8_t* optional = file.data() + pe + 24;
    optional[0] = 0x0B;  // PE32
    optional[1] = 0x01;
    putLe32(optional + 92, 16);              // NumberOfRvaAndSizes
    putLe32(optional + 96 + 4 * 8, at);      // security entry: file offset
    putLe32(optional + 96 + 4 * 8 + 4, tableSize);
    std::vector<uint8_t> table(tableSize, 0x30);
    putLe32(table.data(), tableSize);        // WIN_CERTIFICATE dwLength
    file.insert(file.end(), table.begin(), table.end());
}

TEST(PackageWhole, SoundPackageAndSlotsThatAreNeverOffered) {
    TempDir dir;
    const std::string path = dir.file("p.exe");
    auto bad = test::firmwareImage(150016, kBuild, 2);
    bad[100] ^= 0x01;  // checksum no longer right
    writeFile(path, layPackage(false, {test::firmwareImage(150016, kBuild, 1), bad, slotImage(800, 3)}));
    const PackageSoundness p = CheckPackageWhole(path, false);
    EXPECT_TRUE(p.sound) << p.reason;
    EXPECT_EQ(p.slotCount, 3);
    EXPECT_EQ(p.usableSlots, 1);
    EXPECT_EQ(p.slotRowEnd, static_cast<int32_t>(kImageBaseNoPicture + 3 * kSlotSize));

    // Not one usable image: refused.
    writeFile(path, layPackage(false, {bad, slotImage(800, 3)}));
    const PackageSoundness none = CheckPackageWhole(path, false);
    EXPECT_FALSE(none.sound);
    EXPECT_NE(none.reason.find("no slot holds a usable image"), std::string::npos);
}

TEST(PackageWhole, PackageCutInsideItsLastSlotIsRefused) {
    TempDir dir;
    const std::string path = dir.file("p.exe");
    const auto image = test::firmwareImage(150016, kBuild, 1);
    for (const uint32_t cut : {1u, 16u, 4000u, kSlotSize - 1}) {
        auto file = layPackage(false, {image, image, image});
        file.resize(file.size() - cut);
        writeFile(path, file);
        const PackageSoundness p = CheckPackageWhole(path, false);
        EXPECT_FALSE(p.sound) << cut;
        EXPECT_EQ(p.reason, "slot 2 is cut short: the file ends " + std::to_string(kSlotSize - cut) +
                                " bytes into it, 163856 are needed")
            << cut;
    }
    // The picture area, or the header, cut.
    auto file = layPackage(true, {image});
    file.resize(kImageBaseWithPicture - 10);
    writeFile(path, file);
    EXPECT_EQ(CheckPackageWhole(path, true).reason, "the file ends inside the picture area");
    EXPECT_EQ(CheckPackageWhole(dir.file("missing"), false).reason, "the package cannot be read");
}

TEST(PackageWhole, CertificateTableBehindTheSlotsIsNoSlot) {
    TempDir dir;
    const std::string path = dir.file("p.exe");
    const auto image = test::firmwareImage(150016, kBuild, 1);
    // Large enough that the slot count of the file size would take one slot more.
    for (const uint32_t table : {2048u, 163800u}) {
        auto file = layPackage(false, {image, image});
        signLayout(file, table);
        writeFile(path, file);
        const PackageSoundness p = CheckPackageWhole(path, false);
        EXPECT_TRUE(p.sound) << p.reason;
        EXPECT_EQ(p.slotCount, 2);
        EXPECT_EQ(p.slotRowEnd, static_cast<int32_t>(kImageBaseNoPicture + 2 * kSlotSize));
        EXPECT_EQ(SlotCount(p.slotRowEnd, false), 2);
    }
    // The same bytes without a certificate entry are a cut slot.
    auto file = layPackage(false, {image, image});
    file.resize(file.size() + 2048, 0x30);
    writeFile(path, file);
    EXPECT_FALSE(CheckPackageWhole(path, false).sound);
}

TEST(ImageFile, ShortFileFillsWithFFAndItsBuildInfoIsAllFF) {
    TempDir dir;
    const std::string path = dir.file("short.bin");
    writeFile(path, std::vector<uint8_t>(700, 0x11));
    std::vector<uint8_t> buffer;
    uint64_t length = 0;
    ASSERT_TRUE(LoadImageFile(path, buffer, length));
    EXPECT_EQ(length, 700u);
    ASSERT_EQ(buffer.size(), kImageArea);
    EXPECT_EQ(buffer[699], 0x11);
    EXPECT_EQ(buffer[700], 0xFF);
    const BuildInfoFields f = ReadBuildInfo(buffer.data() + kBuildInfoOffset);
    EXPECT_EQ(f.fwVer, "\xFF\xFF");
    EXPECT_EQ(f.binFileCode, "\xFF\xFF\xFF\xFF");
    EXPECT_EQ(f.customerId, "\xFF\xFF\xFF\xFF");
    EXPECT_EQ(f.option, 0xFF);
}

TEST(ImageFile, LargerThanTheAreaKeepsItsTrueLength) {
    TempDir dir;
    const std::string path = dir.file("big.bin");
    std::vector<uint8_t> bytes(kImageArea + 4096);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    writeFile(path, bytes);
    std::vector<uint8_t> buffer;
    uint64_t length = 0;
    ASSERT_TRUE(LoadImageFile(path, buffer, length));
    EXPECT_EQ(length, kImageArea + 4096u);
    ASSERT_EQ(buffer.size(), kImageArea);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), bytes.begin()));
}

TEST(ImageFile, UnreadableFileIsNotLoaded) {
    TempDir dir;
    std::vector<uint8_t> buffer(5, 1);
    uint64_t length = 99;
    EXPECT_FALSE(LoadImageFile(dir.file("none.bin"), buffer, length));
    EXPECT_EQ(length, 0u);
}

// Paths reach the reads in UTF-8 (from the kernel or the file chooser), also outside ASCII.
TEST(PackageFiles, Utf8PathsOutsideAsciiAreOpened) {
    TempDir dir;
    const std::string folder = dir.file("Lecteur \xC3\xA9t\xC3\xA9 \xE6\x9B\xB4\xE6\x96\xB0");
    std::filesystem::create_directory(Utf8Path(folder));
    const std::string exe = folder + "/qxupdater.exe";
    const std::vector<uint8_t> package = layPackage(false, {slotImage(1000, 3)});
    {
        std::ofstream f(Utf8Path(exe), std::ios::binary);
        f.write(reinterpret_cast<const char*>(package.data()),
                static_cast<std::streamsize>(package.size()));
    }
    const PackageStartup startup = ReadPackageStartup(exe);
    ASSERT_TRUE(startup.opened);
    EXPECT_EQ(HeaderVersionText(startup.header), "1.06");
    const auto offers = offersOf(exe, false, static_cast<int32_t>(package.size()));
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].first, 3);

    std::vector<uint8_t> buffer;
    uint64_t length = 0;
    ASSERT_TRUE(LoadImageFile(exe, buffer, length));
    EXPECT_EQ(length, package.size());
}

// ---------------------------------------------------------------------------------------
TEST(BuildInfoGroups, FixedWidthRawBytes) {
    std::array<uint8_t, 64> b{};
    const char* text = "QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01";
    std::memcpy(b.data(), text, std::strlen(text));
    b[63] = 0x01;
    BuildInfoFields f = ReadBuildInfo(b.data());
    EXPECT_EQ(f.svnVersion, "111007");
    EXPECT_EQ(f.buildDate, "Sep 18 2012");
    EXPECT_EQ(f.modelCode, "t74a");
    EXPECT_EQ(f.fwVer, "42");
    EXPECT_EQ(f.binFileCode, "A1B2");
    EXPECT_EQ(f.customerId, "QX01");
    EXPECT_EQ(f.option, 0x01);
    // A NUL inside a group is a byte of the group, not its end.
    b[49] = 0;
    f = ReadBuildInfo(b.data());
    EXPECT_EQ(f.customerId.size(), 4u);
    EXPECT_EQ(f.customerId, std::string("Q\0" "01", 4));
}

TEST(ImageChecksum, SumSkipsTheByteBeforeTheChecksum) {
    std::vector<uint8_t> img(1024);
    for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<uint8_t>(i * 13 + 5);
    img[1023] = ImageChecksumByte(img.data(), 1024);
    EXPECT_TRUE(ImageChecksumValid(img.data(), 1024));
    img[1022] ^= 0x5A;  // the 0xA5 position is outside the sum
    EXPECT_TRUE(ImageChecksumValid(img.data(), 1024));
    img[100] ^= 0x01;
    EXPECT_FALSE(ImageChecksumValid(img.data(), 1024));
}

TEST(ImageChecksum, GuardsLengths) {
    std::vector<uint8_t> img(kImageArea + 16, 0);
    EXPECT_FALSE(ImageChecksumValid(img.data(), 0));
    EXPECT_FALSE(ImageChecksumValid(img.data(), 2));
    EXPECT_TRUE(ImageChecksumValid(img.data(), 3));  // all zero: sum 0, checksum 0
    EXPECT_TRUE(ImageChecksumValid(img.data(), kImageArea));
    EXPECT_FALSE(ImageChecksumValid(img.data(), kImageArea + 1));
    EXPECT_EQ(ImageChecksumByte(img.data(), kImageArea + 1), 0);
}

}  // namespace
}  // namespace qx
