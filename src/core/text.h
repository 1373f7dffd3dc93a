// Text helpers shared by the FEN and move parsers: UTF-8 decoding and the
// Unicode White_Space property.
#pragma once

#include <cstddef>
#include <string_view>

namespace mirelo {

struct CodePoint {
    char32_t value;
    std::size_t length;  // bytes taken from the text, at least 1
};

// Decodes the character starting at byte pos (pos < text.size()). A byte that
// does not start a well-formed sequence decodes as U+FFFD of length 1, so any
// byte string can be walked safely.
CodePoint decode_utf8(std::string_view text, std::size_t pos);

// The Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The text without leading and trailing white space.
std::string_view trim_white_space(std::string_view text);

// Splits the text at runs of white space and stores up to max_fields fields
// in out; returns how many were stored. Text after the last stored field is
// not looked at.
std::size_t split_fields(std::string_view text, std::string_view* out, std::size_t max_fields);

}  // namespace mirelo
