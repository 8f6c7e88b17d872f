// ASCII case folding for names the system compares without regard to case (profile keys,
// bench and trace words, device paths, drive letters), and hexadecimal digits. Only A to Z
// fold: every other byte, a UTF-8 one included, stays as it is, whatever the locale.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace qx {

// Narrow and wide characters alike.
template <typename Char>
    requires std::is_integral_v<Char>
constexpr Char LowerAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
    requires std::is_integral_v<Char>
constexpr Char UpperAscii(Char c) {
    return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline std::string LowerAscii(std::string s) {
    for (char& c : s) c = LowerAscii(c);
    return s;
}

inline bool EqualNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

}  // namespace qx
