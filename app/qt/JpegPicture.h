// JPEG pictures (the package's background picture, GUI_Main.jpg) decoded with libjpeg
// under our own error manager: a broken, truncated or oversized picture becomes an error
// text, never a process exit and never a leak.
#pragma once

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace qx {

// Largest picture side accepted, in pixels.
constexpr int kMaxPictureSide = 8192;
// Largest picture file read.
constexpr qint64 kMaxPictureFileBytes = 32 * 1024 * 1024;

// Decodes `size` bytes of JPEG data. On success `image` holds the picture (RGB) and the
// result is true; on failure `image` is null and `error` says why.
bool DecodeJpeg(const uint8_t* data, size_t size, QImage& image, QString& error);

// Reads and decodes a picture file (at most kMaxPictureFileBytes).
bool LoadJpegFile(const QString& path, QImage& image, QString& error);

}  // namespace qx
