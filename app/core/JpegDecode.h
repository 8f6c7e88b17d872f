// JPEG pictures (the package's background picture, GUI_Main.jpg) decoded with libjpeg
// under our own error manager, without any window toolkit: bytes in, RGB pixels out. A
// broken, truncated, oversized or over-long (too many scans) picture becomes an error text,
// never a process exit, a leak or a thread pinned for minutes. The Qt window wraps this in
// app/JpegPicture; the Win32 front end decodes with the system's own codec instead, so this
// part is built only where libjpeg is the decoder (not on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

// Largest picture side accepted, in pixels.
constexpr int kMaxPictureSide = 8192;
// Largest picture file read.
constexpr int64_t kMaxPictureFileBytes = 32 * 1024 * 1024;
// Most scans a picture may have. A progressive picture of libjpeg's own script has 10 (18
// for four components); every scan is a pass over the whole picture, so a small crafted
// file with thousands of them would keep the window thread busy for minutes.
constexpr int kMaxJpegScans = 64;

// A decoded picture: `width` x `height` pixels, three bytes (R, G, B) each, rows top to
// bottom without padding.
struct JpegPixels {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Decodes `size` bytes of JPEG data. True with `pixels` filled; false with `pixels` empty
// and `error` saying why (always starting "JPEG error: ").
bool DecodeJpegPixels(const uint8_t* data, size_t size, JpegPixels& pixels, std::string& error);

// Reads a picture file (UTF-8 path) of at most kMaxPictureFileBytes. Anything that is not a
// regular file (a FIFO, a device, a directory) is refused without being waited on.
bool ReadPictureFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace qx
