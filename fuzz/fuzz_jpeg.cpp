// The toolkit-free picture decoder (the package's background picture, GUI_Main.jpg).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/core/JpegDecode.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JpegPixels pixels;
    std::string error;
    if (DecodeJpegPixels(data, size, pixels, error)) {
        if (pixels.width <= 0 || pixels.height <= 0 || pixels.width > kMaxPictureSide ||
            pixels.height > kMaxPictureSide ||
            pixels.rgb.size() != static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) * 3)
            std::abort();
    } else if (error.rfind("JPEG error: ", 0) != 0 || !pixels.rgb.empty()) {
        std::abort();
    }
    return 0;
}
