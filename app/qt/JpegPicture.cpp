// libjpeg decoding with an error manager that returns to us (setjmp/longjmp) instead of
// ending the process. Everything libjpeg allocates belongs to the decompressor, so one
// jpeg_destroy_decompress on every way out releases it.
#include "app/qt/JpegPicture.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace qx {

namespace {

// libjpeg may use this much memory at most (a large progressive picture fails cleanly).
constexpr long kMaxDecoderMemory = 256L * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Everything the decoding touches after setjmp lives here, behind one pointer that does
// not change, so nothing is left indeterminate by a longjmp.
struct DecodeJob {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    const uint8_t* data = nullptr;
    size_t size = 0;
    QImage image;
    QString error;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings about missing data mean a truncated or damaged picture: treated as errors. Other
// warnings (stray bytes between markers) leave a usable picture. Trace messages are dropped.
void onMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    cinfo->err->num_warnings++;
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) onError(cinfo);
}

void cmykRowToRgb(const JSAMPLE* in, uchar* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x) {
        int c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
        if (inverted) {  // Adobe pictures store the inverted inks
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[3 * x] = static_cast<uchar>((255 - c) * (255 - k) / 255);
        out[3 * x + 1] = static_cast<uchar>((255 - m) * (255 - k) / 255);
        out[3 * x + 2] = static_cast<uchar>((255 - y) * (255 - k) / 255);
    }
}

bool runDecode(DecodeJob* job) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    cinfo->err = jpeg_std_error(&job->err.pub);
    job->err.pub.error_exit = onError;
    job->err.pub.emit_message = onMessage;
    if (setjmp(job->err.jump)) {
        job->error = QStringLiteral("JPEG error: %1").arg(QString::fromLocal8Bit(job->err.message));
        job->image = QImage();
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->image_width == 0 || cinfo->image_height == 0 ||
        cinfo->image_width > static_cast<JDIMENSION>(kMaxPictureSide) ||
        cinfo->image_height > static_cast<JDIMENSION>(kMaxPictureSide)) {
        job->error = QStringLiteral("JPEG error: picture of %1 x %2 pixels refused (at most %3 x %3)")
                         .arg(cinfo->image_width)
                         .arg(cinfo->image_height)
                         .arg(kMaxPictureSide);
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(cinfo);

    const int width = static_cast<int>(cinfo->output_width);
    const int height = static_cast<int>(cinfo->output_height);
    job->image = QImage(width, height, QImage::Format_RGB888);
    if (job->image.isNull()) {
        job->error = QStringLiteral("JPEG error: not enough memory for the picture");
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk)
        cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              cinfo->output_width * 4, 1);
    while (cinfo->output_scanline < cinfo->output_height) {
        uchar* line = job->image.scanLine(static_cast<int>(cinfo->output_scanline));
        if (cmyk) {
            jpeg_read_scanlines(cinfo, cmykRow, 1);
            cmykRowToRgb(cmykRow[0], line, cinfo->output_width, cinfo->saw_Adobe_marker != 0);
        } else {
            JSAMPROW row = line;
            jpeg_read_scanlines(cinfo, &row, 1);
        }
    }
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return true;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, QImage& image, QString& error) {
    image = QImage();
    error.clear();
    if (data == nullptr || size == 0) {
        error = QStringLiteral("JPEG error: the picture is empty");
        return false;
    }
    if (size > static_cast<size_t>(kMaxPictureFileBytes)) {
        error = QStringLiteral("JPEG error: the picture is larger than %1 bytes").arg(kMaxPictureFileBytes);
        return false;
    }
    auto job = std::make_unique<DecodeJob>();
    std::memset(&job->cinfo, 0, sizeof job->cinfo);
    job->data = data;
    job->size = size;
    if (!runDecode(job.get())) {
        error = job->error;
        return false;
    }
    image = std::move(job->image);
    return true;
}

bool LoadJpegFile(const QString& path, QImage& image, QString& error) {
    image = QImage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > kMaxPictureFileBytes) {
        error = QStringLiteral("JPEG error: %1 is larger than %2 bytes").arg(path).arg(kMaxPictureFileBytes);
        return false;
    }
    const QByteArray bytes = file.read(kMaxPictureFileBytes + 1);
    if (bytes.size() > kMaxPictureFileBytes) {
        error = QStringLiteral("JPEG error: %1 is larger than %2 bytes").arg(path).arg(kMaxPictureFileBytes);
        return false;
    }
    return DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.constData()),
                      static_cast<size_t>(bytes.size()), image, error);
}

}  // namespace qx
