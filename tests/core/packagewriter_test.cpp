// Package building, synthetic images and inspection, checked through the utility's reads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "QXLib/MicroCode.h"
#include "support/ProcedureBench.h"
#include "update/PackageWriter.h"

namespace qx {
namespace {

using test::TempDir;

const char* const kBuildInfo = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::vector<uint8_t> image(uint32_t length, const std::string& buildInfo, uint32_t seed = 1) {
    SyntheticImageSpec setup;
    setup.length = length;
    setup.buildInfo = buildInfo;
    setup.seed = seed;
    std::vector<uint8_t> img;
    std::string error;
    EXPECT_TRUE(MakeSyntheticImage(setup, img, error)) << error;
    return img;
}

std::vector<uint8_t> fakeJpeg(size_t size) {
    std::vector<uint8_t> j(size, 0x42);
    j[0] = 0xFF;
    j[1] = 0xD8;
    return j;
}

// A temp dir with an exe, a picture and images, and a request that builds from them.
struct Fixture {
    TempDir dir;
    PackageBuildRequest request;
    Fixture(size_t exeSize = 5000, bool picture = true) {
        writeFile(dir.file("in.exe"), std::vector<uint8_t>(exeSize, 0x4D));
        request.exePath = dir.file("in.exe");
        request.outPath = dir.file("out.exe");
        request.versionText = "1.06";
        request.productName = "QX Demo SSD";
        if (picture) {
            writeFile(dir.file("bg.jpg"), fakeJpeg(3000));
            request.picturePath = dir.file("bg.jpg");
        }
        addImage(150016, kBuildInfo, 1);
        addImage(150528, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40C3D4,QX02", 2);
    }
    void addImage(uint32_t length, const std::string& buildInfo, uint32_t seed) {
        const std::string p = dir.file("img" + std::to_string(request.imagePaths.size()) + ".bin");
        writeFile(p, image(length, buildInfo, seed));
        request.imagePaths.push_back(p);
    }
    std::string refusal() {
        std::string error;
        EXPECT_FALSE(BuildPackage(request, error));
        EXPECT_FALSE(std::filesystem::exists(request.outPath));
        return error;
    }
};

// ---------------------------------------------------------------------------------------
TEST(SyntheticImage, LayoutAndChecksum) {
    SyntheticImageSpec setup;
    setup.length = 150016;
    setup.buildInfo = kBuildInfo;
    setup.model = "Quorvex QX-T74 256GB";
    setup.serial = "QX74A0000001";
    setup.firmware = "1.02";
    ASSERT_TRUE(ParseWwn("5001B44812345601", setup.wwn));
    std::vector<uint8_t> img;
    std::string error;
    ASSERT_TRUE(MakeSyntheticImage(setup, img, error)) << error;
    ASSERT_EQ(img.size(), 150016u);
    EXPECT_EQ(img[150014], 0xA5);
    EXPECT_TRUE(ImageChecksumValid(img.data(), 150016));
    // ATA strings: word-swapped, space padded.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.data() + 96), 4), "XQ47");
    EXPECT_EQ(img[96 + 19], ' ');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.data() + 122), 8), ".120    ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.data() + 130), 4), "uQro");
    EXPECT_EQ(img[292], 0x01);
    EXPECT_EQ(img[293], 0x50);
    EXPECT_EQ(img[298], 0x01);
    EXPECT_EQ(img[299], 0x56);
    const BuildInfoFields f = ReadBuildInfo(img.data() + kBuildInfoOffset);
    EXPECT_EQ(f.fwVer, "42");
    EXPECT_EQ(f.binFileCode, "A1B2");
    EXPECT_EQ(f.customerId, "QX01");
    for (uint32_t i = 768 + 52; i < 832; ++i) EXPECT_EQ(img[i], 0) << i;
}

TEST(SyntheticImage, DeterministicAndSeeded) {
    EXPECT_EQ(image(4096, kBuildInfo, 3), image(4096, kBuildInfo, 3));
    EXPECT_NE(image(4096, kBuildInfo, 3), image(4096, kBuildInfo, 4));
}

TEST(SyntheticImage, ShortestAndLongestLengths) {
    const auto shortest = image(kMinSyntheticImageLength, kBuildInfo);
    EXPECT_TRUE(ImageChecksumValid(shortest.data(), kMinSyntheticImageLength));
    EXPECT_EQ(shortest[832], 0xA5);
    const auto longest = image(kImageArea, kBuildInfo);
    EXPECT_TRUE(ImageChecksumValid(longest.data(), kImageArea));
}

TEST(SyntheticImage, Refusals) {
    std::vector<uint8_t> img;
    std::string error;
    SyntheticImageSpec setup;
    setup.buildInfo = kBuildInfo;
    setup.length = kMinSyntheticImageLength - 1;
    EXPECT_FALSE(MakeSyntheticImage(setup, img, error));
    EXPECT_NE(error.find("length"), std::string::npos);
    setup.length = kImageArea + 1;
    EXPECT_FALSE(MakeSyntheticImage(setup, img, error));
    setup.length = 1024;
    setup.buildInfo = std::string(64, 'x');
    EXPECT_FALSE(MakeSyntheticImage(setup, img, error));
    setup.buildInfo = kBuildInfo;
    setup.firmware = "123456789";
    EXPECT_FALSE(MakeSyntheticImage(setup, img, error));
    EXPECT_NE(error.find("firmware"), std::string::npos);
}

TEST(SyntheticImage, WwnParsing) {
    std::array<uint16_t, 4> w{};
    ASSERT_TRUE(ParseWwn("5001b44812345601", w));
    EXPECT_EQ(w, (std::array<uint16_t, 4>{0x5001, 0xB448, 0x1234, 0x5601}));
    EXPECT_FALSE(ParseWwn("5001B4481234560", w));
    EXPECT_FALSE(ParseWwn("5001B44812345G01", w));
}

// ---------------------------------------------------------------------------------------
TEST(PackageBuild, LayoutReadsBackThroughTheUtility) {
    Fixture fx;
    std::string error;
    ASSERT_TRUE(BuildPackage(fx.request, error)) << error;
    const auto bytes = readFile(fx.request.outPath);
    ASSERT_EQ(bytes.size(), kImageBaseWithPicture + 2u * kSlotSize);
    EXPECT_EQ(bytes[0], 0x4D);
    EXPECT_EQ(bytes[4999], 0x4D);
    EXPECT_EQ(bytes[5000], 0);
    EXPECT_EQ(bytes[kPackageHeaderOffset + kHeaderSlotCountOffset], 2);
    EXPECT_EQ(bytes[kPackageHeaderOffset + kHeaderFormatOffset], 1);
    EXPECT_EQ(bytes[kPictureAreaOffset + 3000], 0);

    const PackageStartup s = ReadPackageStartup(fx.request.outPath);
    ASSERT_TRUE(s.opened);
    EXPECT_EQ(HeaderVersionText(s.header), "1.06");
    EXPECT_EQ(HeaderProductName(s.header), "QX Demo SSD");
    ASSERT_TRUE(HeaderPictureFlag(s.header));
    EXPECT_TRUE(std::equal(s.picture.begin(), s.picture.begin() + 3000, fakeJpeg(3000).begin()));

    std::vector<uint8_t> buffer;
    std::vector<uint32_t> lengths;
    const int r = EnumeratePackageImages(
        fx.request.outPath, true, static_cast<int32_t>(bytes.size()), buffer,
        [&](int, uint32_t length, const std::vector<uint8_t>& area) {
            lengths.push_back(length);
            return ReadBuildInfo(area.data() + kBuildInfoOffset).binFileCode == "C3D4";
        });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(lengths, (std::vector<uint32_t>{150016, 150528}));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 150528,
                           readFile(fx.request.imagePaths[1]).begin()));
    EXPECT_EQ(buffer[150528], 0);
}

TEST(PackageBuild, NoPictureStartsSlotsAt0x300000) {
    Fixture fx(5000, false);
    std::string error;
    ASSERT_TRUE(BuildPackage(fx.request, error)) << error;
    const auto bytes = readFile(fx.request.outPath);
    ASSERT_EQ(bytes.size(), kImageBaseNoPicture + 2u * kSlotSize);
    EXPECT_EQ(bytes[kPackageHeaderOffset + kPictureFlagOffset], 0);
    EXPECT_EQ(bytes[kImageBaseNoPicture], 0x00);      // 150016 = 0x24A00
    EXPECT_EQ(bytes[kImageBaseNoPicture + 1], 0x4A);
    EXPECT_EQ(bytes[kImageBaseNoPicture + 2], 0x02);
}

TEST(PackageBuild, LongestTextsAndExecutableFit) {
    Fixture fx(kPackageHeaderOffset);
    fx.request.versionText = std::string(13, 'V');
    fx.request.productName = std::string(11, 'P');
    std::string error;
    ASSERT_TRUE(BuildPackage(fx.request, error)) << error;
    const PackageStartup s = ReadPackageStartup(fx.request.outPath);
    EXPECT_EQ(HeaderVersionText(s.header), std::string(13, 'V'));
    EXPECT_EQ(HeaderProductName(s.header), std::string(11, 'P'));
}

TEST(PackageBuild, Refusals) {
    {
        Fixture fx(kPackageHeaderOffset + 1);
        EXPECT_NE(fx.refusal().find("executable"), std::string::npos);
    }
    {
        Fixture fx;
        writeFile(fx.request.picturePath, fakeJpeg(kPictureAreaSize + 1));
        EXPECT_NE(fx.refusal().find("picture"), std::string::npos);
    }
    {
        Fixture fx;
        writeFile(fx.request.picturePath, std::vector<uint8_t>(100, 0x89));
        EXPECT_NE(fx.refusal().find("not a JPEG"), std::string::npos);
    }
    {
        Fixture fx;
        writeFile(fx.request.imagePaths[1], std::vector<uint8_t>(kImageArea + 1, 0));
        EXPECT_NE(fx.refusal().find("163840"), std::string::npos);
    }
    {
        Fixture fx;
        writeFile(fx.request.imagePaths[0], {});
        EXPECT_NE(fx.refusal().find("empty"), std::string::npos);
    }
    {
        Fixture fx;
        fx.request.versionText = std::string(14, '1');
        EXPECT_NE(fx.refusal().find("version text"), std::string::npos);
    }
    {
        Fixture fx;
        fx.request.productName = std::string(12, 'P');
        EXPECT_NE(fx.refusal().find("product name"), std::string::npos);
    }
    {
        Fixture fx;
        fx.request.imagePaths.push_back(fx.dir.file("missing.bin"));
        EXPECT_NE(fx.refusal().find("missing.bin"), std::string::npos);
    }
    {
        Fixture fx;
        fx.request.exePath = fx.dir.file("nothere.exe");
        EXPECT_NE(fx.refusal().find("nothere.exe"), std::string::npos);
    }
}

TEST(PackageBuild, RefusesToOverwriteItsInput) {
    Fixture fx;
    fx.request.outPath = fx.request.exePath;
    std::string error;
    EXPECT_FALSE(BuildPackage(fx.request, error));
    EXPECT_EQ(readFile(fx.request.exePath).size(), 5000u);
}

// ---------------------------------------------------------------------------------------
TEST(PackageInspect, ReportsHeaderAndSlots) {
    Fixture fx;
    std::string error;
    ASSERT_TRUE(BuildPackage(fx.request, error)) << error;
    PackageInspection p;
    ASSERT_TRUE(InspectPackage(fx.request.outPath, p, error)) << error;
    EXPECT_EQ(p.versionText, "1.06");
    EXPECT_EQ(p.productName, "QX Demo SSD");
    EXPECT_TRUE(p.pictureFlag);
    EXPECT_EQ(p.imageBase, kImageBaseWithPicture);
    EXPECT_EQ(p.slotCount, 2);
    EXPECT_EQ(p.headerSlotCount, 2u);
    EXPECT_EQ(p.headerFormat, 1);
    ASSERT_EQ(p.slots.size(), 2u);
    EXPECT_TRUE(p.slots[0].complete);
    EXPECT_TRUE(p.slots[0].checksumValid);
    EXPECT_EQ(p.slots[1].buildInfo.customerId, "QX02");
    const std::string text = FormatInspection(p);
    EXPECT_NE(text.find("version text: \"1.06\""), std::string::npos) << text;
    EXPECT_NE(text.find("image base: 0x314000"), std::string::npos) << text;
    EXPECT_NE(text.find("slot 1: length 150528, checksum valid, svn 111020, date Oct 01 2012, "
                        "model t74a, FwVer 40, bin C3D4, customer QX02, option 0x00"),
              std::string::npos)
        << text;
}

TEST(PackageInspect, FlagsWrongChecksumAndTruncation) {
    Fixture fx(5000, false);
    std::string error;
    ASSERT_TRUE(BuildPackage(fx.request, error)) << error;
    auto bytes = readFile(fx.request.outPath);
    bytes[kImageBaseNoPicture + kSlotHeaderSize + 2000] ^= 0x10;
    bytes.resize(bytes.size() - 20000);
    writeFile(fx.request.outPath, bytes);
    PackageInspection p;
    ASSERT_TRUE(InspectPackage(fx.request.outPath, p, error)) << error;
    ASSERT_EQ(p.slots.size(), 1u);  // the cut second slot no longer counts
    EXPECT_FALSE(p.slots[0].checksumValid);
    EXPECT_NE(FormatInspection(p).find("checksum WRONG"), std::string::npos);

    bytes.resize(kImageBaseNoPicture + kImageArea);  // counts one slot, image cut short
    writeFile(fx.request.outPath, bytes);
    ASSERT_TRUE(InspectPackage(fx.request.outPath, p, error)) << error;
    ASSERT_EQ(p.slots.size(), 1u);
    EXPECT_FALSE(p.slots[0].complete);
    EXPECT_NE(FormatInspection(p).find("TRUNCATED"), std::string::npos);
}

TEST(PackageInspect, RefusesFilesWithoutAHeader) {
    TempDir dir;
    writeFile(dir.file("small.exe"), std::vector<uint8_t>(1000, 1));
    PackageInspection p;
    std::string error;
    EXPECT_FALSE(InspectPackage(dir.file("small.exe"), p, error));
    EXPECT_NE(error.find("too short"), std::string::npos);
    EXPECT_FALSE(InspectPackage(dir.file("absent.exe"), p, error));
}

}  // namespace
}  // namespace qx
