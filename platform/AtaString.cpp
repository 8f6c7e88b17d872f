// ATA string fields (see AtaString.h).
#include "platform/AtaString.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qx {

void SwapAtaPairs(uint8_t* field, std::size_t width) {
    for (std::size_t i = 0; i + 1 < width; i += 2) std::swap(field[i], field[i + 1]);
}

void PutAtaString(uint8_t* field, std::size_t width, std::string_view text) {
    std::memset(field, ' ', width);
    const std::size_t words = width & ~std::size_t{1};
    const std::size_t n = std::min(words, text.size());
    if (n != 0) std::memcpy(field, text.data(), n);
    SwapAtaPairs(field, words);
}

std::string ReadAtaString(const uint8_t* field, std::size_t width, AtaNul nul) {
    std::string s(reinterpret_cast<const char*>(field), width & ~std::size_t{1});
    SwapAtaPairs(reinterpret_cast<uint8_t*>(s.data()), s.size());
    if (nul == AtaNul::EndsText) s.resize(std::min(s.find('\0'), s.size()));
    const std::size_t last = s.find_last_not_of(nul == AtaNul::PadsEnd ? std::string_view(" \0", 2) : " ");
    s.resize(last == std::string::npos ? 0 : last + 1);
    const std::size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}

}  // namespace qx
