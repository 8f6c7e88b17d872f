// JPEG pictures (the package's background picture, GUI_Main.jpg) for the Qt window: the
// toolkit-free decoder of app/core/JpegDecode, wrapped into QImage and QString.
#pragma once

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>

#include "app/core/JpegDecode.h"

namespace qx {

// Decodes `size` bytes of JPEG data. On success `image` holds the picture (RGB) and the
// result is true; on failure `image` is null and `error` says why.
bool DecodeJpeg(const uint8_t* data, size_t size, QImage& image, QString& error);

// Reads and decodes a picture file (a regular file of at most kMaxPictureFileBytes).
bool LoadJpegFile(const QString& path, QImage& image, QString& error);

}  // namespace qx
