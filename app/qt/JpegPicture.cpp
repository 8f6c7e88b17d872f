// The Qt side of the picture decoder: pixels into a QImage, texts into QString.
#include "app/qt/JpegPicture.h"

#include <string>
#include <vector>

namespace qx {

bool DecodeJpeg(const uint8_t* data, size_t size, QImage& image, QString& error) {
    image = QImage();
    error.clear();
    JpegPixels pixels;
    std::string why;
    if (!DecodeJpegPixels(data, size, pixels, why)) {
        error = QString::fromStdString(why);
        return false;
    }
    const QImage view(pixels.rgb.data(), pixels.width, pixels.height, pixels.width * 3,
                      QImage::Format_RGB888);
    image = view.copy();  // the view borrows the pixels; the copy owns its own
    if (image.isNull()) {
        error = QStringLiteral("JPEG error: not enough memory for the picture");
        return false;
    }
    return true;
}

bool LoadJpegFile(const QString& path, QImage& image, QString& error) {
    image = QImage();
    std::vector<uint8_t> bytes;
    std::string why;
    if (!ReadPictureFile(path.toStdString(), bytes, why)) {
        error = QString::fromStdString(why);
        return false;
    }
    return DecodeJpeg(bytes.data(), bytes.size(), image, error);
}

}  // namespace qx
