// libjpeg decoding with an error manager that returns to us (setjmp/longjmp) instead of
// ending the process. Everything libjpeg allocates belongs to the decompressor, so one
// jpeg_destroy_decompress on every way out releases it.
#include "app/core/JpegDecode.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    jpeg_progress_mgr progress;
    const uint8_t* data = nullptr;
    size_t size = 0;
    JpegPixels pixels;
    std::string error;
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

// Called by libjpeg while it takes in the scans: a picture with more scans than any real
// encoder writes is refused before the next pass over it.
void onProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number <= kMaxJpegScans) return;
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "the picture has more than %d scans",
                  kMaxJpegScans);
    std::longjmp(err->jump, 1);
}

void cmykRowToRgb(const JSAMPLE* in, uint8_t* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x) {
        int c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
        if (inverted) {  // Adobe pictures store the inverted inks
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[3 * x] = static_cast<uint8_t>((255 - c) * (255 - k) / 255);
        out[3 * x + 1] = static_cast<uint8_t>((255 - m) * (255 - k) / 255);
        out[3 * x + 2] = static_cast<uint8_t>((255 - y) * (255 - k) / 255);
    }
}

bool runDecode(DecodeJob* job) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    cinfo->err = jpeg_std_error(&job->err.pub);
    job->err.pub.error_exit = onError;
    job->err.pub.emit_message = onMessage;
    if (setjmp(job->err.jump)) {
        job->error = std::string("JPEG error: ") + job->err.message;
        job->pixels = JpegPixels{};
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
    job->progress.progress_monitor = onProgress;
    cinfo->progress = &job->progress;
    jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->image_width == 0 || cinfo->image_height == 0 ||
        cinfo->image_width > static_cast<JDIMENSION>(kMaxPictureSide) ||
        cinfo->image_height > static_cast<JDIMENSION>(kMaxPictureSide)) {
        job->error = "JPEG error: picture of " + std::to_string(cinfo->image_width) + " x " +
                     std::to_string(cinfo->image_height) + " pixels refused (at most " +
                     std::to_string(kMaxPictureSide) + " x " + std::to_string(kMaxPictureSide) +
                     ")";
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(cinfo);

    const size_t width = cinfo->output_width;
    const size_t height = cinfo->output_height;
    const size_t stride = width * 3;
    job->pixels.width = static_cast<int>(width);
    job->pixels.height = static_cast<int>(height);
    job->pixels.rgb.assign(stride * height, 0);
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk)
        cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              cinfo->output_width * 4, 1);
    while (cinfo->output_scanline < cinfo->output_height) {
        uint8_t* line = job->pixels.rgb.data() + stride * cinfo->output_scanline;
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

// Closes the descriptor on every way out.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool DecodeJpegPixels(const uint8_t* data, size_t size, JpegPixels& pixels, std::string& error) {
    pixels = JpegPixels{};
    error.clear();
    if (data == nullptr || size == 0) {
        error = "JPEG error: the picture is empty";
        return false;
    }
    if (size > static_cast<size_t>(kMaxPictureFileBytes)) {
        error = "JPEG error: the picture is larger than " + std::to_string(kMaxPictureFileBytes) +
                " bytes";
        return false;
    }
    auto job = std::make_unique<DecodeJob>();
    std::memset(&job->cinfo, 0, sizeof job->cinfo);
    std::memset(&job->progress, 0, sizeof job->progress);
    job->data = data;
    job->size = size;
    if (!runDecode(job.get())) {
        error = job->error;
        return false;
    }
    pixels = std::move(job->pixels);
    return true;
}

bool ReadPictureFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    error.clear();
    // Opened without waiting: opening a FIFO for reading would otherwise block until some
    // other process opens it for writing. What it is shows after the open, on the descriptor
    // itself, so nothing can be swapped in between the check and the read.
    Descriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file.fd < 0) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "JPEG error: " + path + " is not a regular file";
        return false;
    }
    const std::string tooLarge =
        "JPEG error: " + path + " is larger than " + std::to_string(kMaxPictureFileBytes) + " bytes";
    if (st.st_size > kMaxPictureFileBytes) {
        error = tooLarge;
        return false;
    }
    // The file may grow after fstat: read at most one byte more than allowed to notice.
    bytes.resize(static_cast<size_t>(st.st_size) + 1);
    size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (bytes.size() > static_cast<size_t>(kMaxPictureFileBytes)) {
                bytes.clear();
                error = tooLarge;
                return false;
            }
            bytes.resize(std::min(bytes.size() * 2, static_cast<size_t>(kMaxPictureFileBytes) + 1));
        }
        const ssize_t n = ::read(file.fd, bytes.data() + have, bytes.size() - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            bytes.clear();
            error = "Cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    bytes.resize(have);
    return true;
}

}  // namespace qx
