// Wiping secrets from memory (see Wipe.h).
#include "platform/Wipe.h"

namespace qx {

void WipeBytes(void* data, std::size_t size) noexcept {
    volatile auto* v = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) v[i] = 0;
}

void WipeString(std::string& s) noexcept {
    s.resize(s.capacity());
    WipeBytes(s.data(), s.size());
    s.clear();
}

}  // namespace qx
