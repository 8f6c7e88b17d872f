// File-system paths from the core's texts. Paths travel through the core as UTF-8 (the
// kernels report the executable's path in UTF-8, the window toolkit hands over UTF-8), so
// files are opened through a path built from UTF-8 rather than from the narrow text, which
// Windows would read in its ANSI code page.
#pragma once

#include <filesystem>
#include <string>

namespace qx {

inline std::filesystem::path Utf8Path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace qx
