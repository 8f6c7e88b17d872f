// Wiping secrets (passwords, the blocks that carry them) from memory with stores the
// compiler may not drop as dead.
#pragma once

#include <cstddef>
#include <string>

namespace qx {

// Overwrites `size` bytes at `data` with zeros.
void WipeBytes(void* data, std::size_t size) noexcept;

// Overwrites the whole allocation of a string, not only its current length (growing a string
// within its capacity does not reallocate, so earlier contents may lie past its end), and
// leaves it empty.
void WipeString(std::string& s) noexcept;

}  // namespace qx
