// JPEG pictures (the package's background picture, GUI_Main.jpg) decoded by the Windows
// Imaging Component into a device-independent bitmap. Only JPEG is accepted; a broken,
// truncated, oversized or foreign picture gives an error text, never a crash.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx::win32 {

// Largest picture side accepted, in pixels, and largest picture file read.
constexpr int kMaxPictureSide = 8192;
constexpr uint64_t kMaxPictureFileBytes = 32u * 1024u * 1024u;

struct Picture {
    HBITMAP bitmap = nullptr;  // 32-bit top-down DIB section; owned by the caller
    int width = 0;
    int height = 0;
};

// Decodes `size` bytes of JPEG data. False with `error` set when the picture is refused.
// At a `dpi` other than 96 the picture is resampled once, by the component's scaler, to
// its sides scaled like the window layout (ScaledAt); neither scaled side may exceed
// kMaxPictureSide.
bool DecodeJpeg(const uint8_t* data, size_t size, Picture& picture, std::string& error, int dpi = 96);
// Reads (at most kMaxPictureFileBytes) and decodes a picture file; `path` is UTF-8.
bool LoadJpegFile(const std::string& path, Picture& picture, std::string& error, int dpi = 96);

}  // namespace qx::win32
