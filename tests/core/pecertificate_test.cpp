// Signed packages: the Authenticode certificate table of a packed-then-signed executable
// lies behind the last image slot. The reader must offer every image and nothing of the
// table, whatever its size; qxpack must refuse an executable that is already signed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/BinaryFile.h"
#include "support/TempDir.h"
#include "update/PackageWriter.h"
#include "update/PeCertificate.h"

namespace qx {
namespace {

using test::TempDir;

constexpr uint32_t kPeAt = 0x80;
constexpr uint32_t kOptionalAt = kPeAt + 24;

void putLe(std::vector<uint8_t>& b, size_t at, uint32_t v, int width) {
    for (int i = 0; i < width; ++i) b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
}

// The headers of a small PE32+ (or PE32) program with 16 data directory entries; the
// security entry (the fifth) is left empty.
std::vector<uint8_t> peProgram(bool pe32Plus = true, size_t size = 5000) {
    std::vector<uint8_t> b(size, 0x90);
    b[0] = 'M';
    b[1] = 'Z';
    putLe(b, 0x3C, kPeAt, 4);
    std::fill(b.begin() + kPeAt, b.begin() + kOptionalAt + 240, uint8_t{0});
    b[kPeAt] = 'P';
    b[kPeAt + 1] = 'E';
    putLe(b, kPeAt + 20, pe32Plus ? 240 : 224, 2);  // SizeOfOptionalHeader
    putLe(b, kOptionalAt, pe32Plus ? 0x20B : 0x10B, 2);
    putLe(b, kOptionalAt + (pe32Plus ? 108 : 92), 16, 4);  // NumberOfRvaAndSizes
    return b;
}

size_t securityEntryAt(bool pe32Plus) { return kOptionalAt + (pe32Plus ? 144 : 128); }

void setSecurityEntry(std::vector<uint8_t>& b, uint32_t offset, uint32_t size, bool pe32Plus = true) {
    putLe(b, securityEntryAt(pe32Plus), offset, 4);
    putLe(b, securityEntryAt(pe32Plus) + 4, size, 4);
}

void save(const std::string& path, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(WriteWholeFile(path, std::string(bytes.begin(), bytes.end())));
}

std::vector<uint8_t> load(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// What a signing tool does to a packed file: the table (a WIN_CERTIFICATE whose first
// word is its length) goes at the end, and the security entry points to it.
void sign(const std::string& path, uint32_t tableSize) {
    std::vector<uint8_t> b = load(path);
    const auto offset = static_cast<uint32_t>(b.size());
    std::vector<uint8_t> table(tableSize, 0x30);
    if (tableSize >= 8) {
        putLe(table, 0, tableSize, 4);
        putLe(table, 4, 0x0200, 2);  // WIN_CERT_REVISION_2_0
        putLe(table, 6, 0x0002, 2);  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
    }
    b.insert(b.end(), table.begin(), table.end());
    setSecurityEntry(b, offset, tableSize);
    save(path, b);
}

struct PackedProgram {
    TempDir dir;
    PackageBuildRequest request;
    std::vector<uint32_t> lengths;

    PackedProgram(int images, bool picture) {
        save(dir.file("in.exe"), peProgram());
        request.exePath = dir.file("in.exe");
        request.outPath = dir.file("packed.exe");
        request.versionText = "1.06";
        request.productName = "QX Demo SSD";
        if (picture) {
            std::vector<uint8_t> jpeg(2000, 0x42);
            jpeg[0] = 0xFF;
            jpeg[1] = 0xD8;
            save(dir.file("bg.jpg"), jpeg);
            request.picturePath = dir.file("bg.jpg");
        }
        for (int i = 0; i < images; ++i) {
            SyntheticImageSpec synthetic;
            synthetic.length = 150016 + 512 * static_cast<uint32_t>(i);
            synthetic.buildInfo = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";
            synthetic.seed = static_cast<uint32_t>(i + 1);
            std::vector<uint8_t> img;
            std::string error;
            EXPECT_TRUE(MakeSyntheticImage(synthetic, img, error)) << error;
            const std::string p = dir.file("img" + std::to_string(i) + ".bin");
            save(p, img);
            request.imagePaths.push_back(p);
            lengths.push_back(synthetic.length);
        }
        std::string error;
        EXPECT_TRUE(BuildPackage(request, error)) << error;
    }

    // Every length the reader offers, the whole enumeration through.
    std::vector<uint32_t> offered() const {
        const auto size = static_cast<int32_t>(std::filesystem::file_size(request.outPath));
        std::vector<uint8_t> buffer;
        std::vector<uint32_t> seen;
        EnumeratePackageImages(request.outPath, !request.picturePath.empty(), size, buffer,
                               [&](int, uint32_t length, const std::vector<uint8_t>&) {
                                   seen.push_back(length);
                                   return false;
                               });
        return seen;
    }
};

// ---------------------------------------------------------------------------------------
TEST(PeCertificateTable, ReadsTheSecurityEntryOfPe32AndPe32Plus) {
    for (const bool plus : {true, false}) {
        std::vector<uint8_t> b = peProgram(plus);
        PeCertificateTable t = ParsePeCertificateTable(b.data(), b.size());
        EXPECT_TRUE(t.isPe);
        EXPECT_EQ(t.offset, 0u);
        EXPECT_EQ(t.size, 0u);
        setSecurityEntry(b, 3400000, 9000, plus);
        t = ParsePeCertificateTable(b.data(), b.size());
        EXPECT_TRUE(t.isPe) << plus;
        EXPECT_EQ(t.offset, 3400000u) << plus;
        EXPECT_EQ(t.size, 9000u) << plus;
    }
}

TEST(PeCertificateTable, HostileHeadersReadNoTable) {
    std::vector<uint8_t> b = peProgram();
    setSecurityEntry(b, 3400000, 9000);

    std::vector<uint8_t> noMz = b;
    noMz[0] = 'Z';
    EXPECT_FALSE(ParsePeCertificateTable(noMz.data(), noMz.size()).isPe);

    std::vector<uint8_t> farPe = b;  // e_lfanew past what was read
    putLe(farPe, 0x3C, 0xFFFFFFF0u, 4);
    EXPECT_FALSE(ParsePeCertificateTable(farPe.data(), farPe.size()).isPe);

    EXPECT_FALSE(ParsePeCertificateTable(b.data(), kOptionalAt + 1).isPe);  // cut in the header
    EXPECT_FALSE(ParsePeCertificateTable(b.data(), 10).isPe);

    std::vector<uint8_t> badMagic = b;
    putLe(badMagic, kOptionalAt, 0x107, 2);
    EXPECT_FALSE(ParsePeCertificateTable(badMagic.data(), badMagic.size()).isPe);

    // Four directory entries, or an optional header too short for the fifth: no table.
    std::vector<uint8_t> fewEntries = b;
    putLe(fewEntries, kOptionalAt + 108, 4, 4);
    EXPECT_EQ(ParsePeCertificateTable(fewEntries.data(), fewEntries.size()).size, 0u);
    std::vector<uint8_t> shortOptional = b;
    putLe(shortOptional, kPeAt + 20, 150, 2);
    EXPECT_EQ(ParsePeCertificateTable(shortOptional.data(), shortOptional.size()).size, 0u);
}

TEST(SignedPackage, EveryImageAndNoPhantomSlotWhateverTheTableSize) {
    // Below 163,840 - 16 * slots bytes the table hides in the slot-count division anyway;
    // from there on it would make one slot more, and from 163,856 on that slot would even
    // read as complete, with the table's length word as its image length.
    for (const bool picture : {false, true}) {
        for (const uint32_t table : {8u, 1500u, 163840u - 16u * 3u - 8u, 163840u - 16u * 3u,
                                     163856u, 163856u + 150016u, 500000u}) {
            PackedProgram p(3, picture);
            sign(p.request.outPath, table);
            EXPECT_EQ(p.offered(), p.lengths) << "table " << table << ", picture " << picture;

            PackageInspection inspection;
            std::string error;
            ASSERT_TRUE(InspectPackage(p.request.outPath, inspection, error)) << error;
            EXPECT_EQ(inspection.slotCount, 3) << table;
            EXPECT_EQ(inspection.certificateSize, table);
            EXPECT_NE(FormatInspection(inspection).find("certificate table: offset"),
                      std::string::npos);
        }
    }
}

TEST(SignedPackage, EntriesThatDoNotEndThePackageAreNotTaken) {
    PackedProgram p(2, false);
    std::vector<uint8_t> b = load(p.request.outPath);
    const auto size = static_cast<uint32_t>(b.size());
    // A table claimed past the end of the file, and one in front of the image base (a
    // program signed before it was packed by some other tool): the slots stand as laid.
    for (const auto& [offset, length] : {std::pair<uint32_t, uint32_t>{size - 100, 200},
                                         std::pair<uint32_t, uint32_t>{4096, 900}}) {
        setSecurityEntry(b, offset, length);
        save(p.request.outPath, b);
        EXPECT_EQ(p.offered(), p.lengths) << offset;
    }
}

TEST(SignedPackage, QxpackRefusesASignedProgram) {
    PackedProgram p(1, false);
    std::vector<uint8_t> exe = peProgram();
    exe.resize(6000, 0x30);
    setSecurityEntry(exe, 5000, 1000);
    save(p.request.exePath, exe);
    std::filesystem::remove(p.request.outPath);

    std::string error;
    EXPECT_FALSE(BuildPackage(p.request, error));
    EXPECT_FALSE(std::filesystem::exists(p.request.outPath));
    EXPECT_NE(error.find("already signed"), std::string::npos) << error;
    EXPECT_NE(error.find("pack the unsigned program first, then sign"), std::string::npos) << error;

    // The same program unsigned packs.
    setSecurityEntry(exe, 0, 0);
    save(p.request.exePath, exe);
    EXPECT_TRUE(BuildPackage(p.request, error)) << error;
}

}  // namespace
}  // namespace qx
