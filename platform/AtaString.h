// The text fields of IDENTIFY DEVICE data and of a firmware image's identify template (ATA
// strings: the two characters of every 16-bit word swapped, blank padded). An odd last byte
// belongs to no word: the swap leaves it, the reader ignores it, the writer leaves it blank.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qx {

// Swaps the two bytes of every whole word of a field, in place: from the drive's order into
// reading order, or back.
void SwapAtaPairs(uint8_t* field, std::size_t width);

// Writes `text` (its first `width` characters) into the field as an ATA string, blank filled.
void PutAtaString(uint8_t* field, std::size_t width, std::string_view text);

// What a NUL means to the reader of a field.
enum class AtaNul {
    EndsText,  // the text ends at the first NUL (the way the updater reads what a drive sends)
    PadsEnd,   // NULs at the end pad like blanks; one within the text is kept
};

// The text of an ATA string field in reading order, without blanks at either end.
std::string ReadAtaString(const uint8_t* field, std::size_t width, AtaNul nul);

}  // namespace qx
