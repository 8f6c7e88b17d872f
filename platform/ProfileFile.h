// Portable profile ("INI") files with the behaviour of the Windows profile functions:
// section and key names match without regard to ASCII case, names and values are trimmed,
// one pair of surrounding quotes is taken off a value, and the first matching section and
// key win. Used by the Linux kernel and the simulated bench; the Windows kernel calls the
// system's own functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

// Reads are bounded: at most this much of a file is looked at, and a longer line is cut.
constexpr size_t kProfileMaxFileBytes = 1u << 20;
constexpr size_t kProfileMaxLineBytes = 64u << 10;

// The value of `key` in `section`, or `def` when the file, the section or the key is
// missing.
std::string ProfileGetString(const std::string& section, const std::string& key,
                             const std::string& def, const std::string& path);

// The value read as an integer the way GetPrivateProfileInt does: an optional sign, "0x"
// for hexadecimal, then digits up to the first other character ("12abc" is 12, "abc" is 0).
// `def` when the key is missing or its value is empty.
int32_t ProfileGetInt(const std::string& section, const std::string& key, int32_t def,
                      const std::string& path);

// Sets `key` in `section`, creating the file and the section when needed. The first
// matching key is replaced; a new key goes at the end of its section. Lines end in CRLF.
// False when the file cannot be written, when it is too large to be rewritten without
// losing text, or when a name or the value would break the line structure.
bool ProfileWriteString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

// The integer rule on its own, for a value already read.
int32_t ProfileParseInt(const std::string& text);

}  // namespace qx
