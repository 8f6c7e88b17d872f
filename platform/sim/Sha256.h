// A small SHA-256 (FIPS 180-4) for the bench trace: data written to a simulated device is
// traced only as its digest, never as the bytes themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qx::sim {

class Sha256 {
public:
    Sha256();
    void update(const void* data, size_t length);
    std::array<uint8_t, 32> finish();

    // Digest of one buffer as 64 lower-case hexadecimal digits.
    static std::string hex(const void* data, size_t length);

private:
    void block(const uint8_t* p);

    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buf_{};
    size_t used_ = 0;
    uint64_t total_ = 0;
};

}  // namespace qx::sim
