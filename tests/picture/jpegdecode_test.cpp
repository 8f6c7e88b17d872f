// The toolkit-free picture decoder: bounds on scans and sizes, and what the file reader
// refuses. Pictures are made here with libjpeg's own encoder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/core/JpegDecode.h"
#include "support/TempDir.h"

namespace qx {
namespace {

using test::TempDir;

// A grey-scale picture with a gradient, baseline or with the given progressive scan script.
std::vector<uint8_t> encode(int width, int height, const std::vector<jpeg_scan_info>& script = {}) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (!script.empty()) {
        cinfo.scan_info = script.data();
        cinfo.num_scans = static_cast<int>(script.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(width));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x) row[static_cast<size_t>(x)] = static_cast<unsigned char>(x * 255 / width);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

// A valid progressive script of 1 + dcRefinements + 63 scans: the DC coefficient first at
// point transform `dcRefinements`, refined one bit per scan, then every AC coefficient in a
// scan of its own.
std::vector<jpeg_scan_info> progressiveScript(int dcRefinements) {
    std::vector<jpeg_scan_info> s;
    auto add = [&](int ss, int se, int ah, int al) {
        jpeg_scan_info i{};
        i.comps_in_scan = 1;
        i.component_index[0] = 0;
        i.Ss = ss;
        i.Se = se;
        i.Ah = ah;
        i.Al = al;
        s.push_back(i);
    };
    add(0, 0, 0, dcRefinements);
    for (int al = dcRefinements; al > 0; --al) add(0, 0, al, al - 1);
    for (int k = 1; k < 64; ++k) add(k, k, 0, 0);
    return s;
}

// The last scan (from its SOS marker up to EOI) repeated `times` more times: a small file
// that makes a decoder pass over the picture once per copy.
std::vector<uint8_t> repeatLastScan(const std::vector<uint8_t>& jpeg, int times) {
    size_t sos = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) sos = i;
    }
    const size_t eoi = jpeg.size() - 2;
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(eoi));
    for (int n = 0; n < times; ++n)
        out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(sos),
                   jpeg.begin() + static_cast<std::ptrdiff_t>(eoi));
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

TEST(JpegDecode, BaselineAndProgressivePicturesDecode) {
    JpegPixels p;
    std::string error;
    const std::vector<uint8_t> baseline = encode(40, 24);
    ASSERT_TRUE(DecodeJpegPixels(baseline.data(), baseline.size(), p, error)) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(p.width, 40);
    EXPECT_EQ(p.height, 24);
    ASSERT_EQ(p.rgb.size(), size_t{40 * 24 * 3});
    // Grey: the three channels agree, and the gradient rises from left to right.
    const size_t right = (10 * 40 + 38) * 3, left = (10 * 40 + 1) * 3;
    EXPECT_NEAR(p.rgb[right], p.rgb[right + 1], 2);
    EXPECT_GT(p.rgb[right], p.rgb[left] + 150);

    // Exactly the allowed number of scans: 1 + 0 + 63.
    const std::vector<uint8_t> atLimit = encode(40, 24, progressiveScript(kMaxJpegScans - 64));
    ASSERT_TRUE(DecodeJpegPixels(atLimit.data(), atLimit.size(), p, error)) << error;
    EXPECT_EQ(p.width, 40);
}

TEST(JpegDecode, PictureWithTooManyScansIsRefused) {
    JpegPixels p;
    std::string error;
    // A valid progressive picture of 74 scans.
    const std::vector<uint8_t> many = encode(40, 24, progressiveScript(10));
    EXPECT_FALSE(DecodeJpegPixels(many.data(), many.size(), p, error));
    EXPECT_EQ(error, "JPEG error: the picture has more than 64 scans");
    EXPECT_TRUE(p.rgb.empty());

    // A large picture whose last scan is repeated 20,000 times: about 2 MB of file that
    // would otherwise cost 20,000 passes over four million pixels.
    const std::vector<uint8_t> big = encode(2048, 2048, progressiveScript(0));
    const std::vector<uint8_t> crafted = repeatLastScan(big, 20000);
    EXPECT_FALSE(DecodeJpegPixels(crafted.data(), crafted.size(), p, error));
    EXPECT_EQ(error, "JPEG error: the picture has more than 64 scans");
}

TEST(JpegDecode, DamagedOversizedAndEmptyPicturesAreErrors) {
    JpegPixels p;
    std::string error;
    EXPECT_FALSE(DecodeJpegPixels(nullptr, 0, p, error));
    EXPECT_EQ(error, "JPEG error: the picture is empty");

    const std::vector<uint8_t> good = encode(64, 64);
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    EXPECT_FALSE(DecodeJpegPixels(cut.data(), cut.size(), p, error));
    EXPECT_EQ(error.rfind("JPEG error: ", 0), 0u) << error;
    EXPECT_TRUE(p.rgb.empty());

    std::vector<uint8_t> wide = good;
    for (size_t i = 2; i + 8 < wide.size(); ++i) {
        if (wide[i] == 0xFF && wide[i + 1] == 0xC0) {
            wide[i + 7] = 9000 >> 8;
            wide[i + 8] = 9000 & 0xFF;
            break;
        }
    }
    EXPECT_FALSE(DecodeJpegPixels(wide.data(), wide.size(), p, error));
    EXPECT_NE(error.find("9000 x 64"), std::string::npos) << error;
}

TEST(JpegDecode, FileReaderRefusesWhatIsNotARegularFile) {
    TempDir dir("jpeg");
    std::vector<uint8_t> bytes;
    std::string error;

    // A FIFO with no writer: a blocking open would wait for ever.
    const std::string fifo = dir.file("GUI_Main.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadPictureFile(fifo, bytes, error));
    EXPECT_EQ(error, "JPEG error: " + fifo + " is not a regular file");

    EXPECT_FALSE(ReadPictureFile(dir.str(), bytes, error));  // a directory
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    EXPECT_FALSE(ReadPictureFile(dir.file("missing.jpg"), bytes, error));
    EXPECT_EQ(error.rfind("Cannot open " + dir.file("missing.jpg"), 0), 0u) << error;

    const std::vector<uint8_t> picture = encode(33, 17);
    const std::string good = dir.file("good.jpg");
    std::ofstream(good, std::ios::binary)
        .write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
    ASSERT_TRUE(ReadPictureFile(good, bytes, error)) << error;
    EXPECT_EQ(bytes, picture);

    const std::string huge = dir.file("huge.jpg");
    { std::ofstream(huge, std::ios::binary).put('x'); }
    ASSERT_EQ(::truncate(huge.c_str(), kMaxPictureFileBytes + 1), 0);
    EXPECT_FALSE(ReadPictureFile(huge, bytes, error));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
    EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace qx
