// Text helpers shared by the FEN and move parsers and writers: UTF-8
// decoding, the Unicode White_Space property and square names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "types.h"

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

// "e2" for square 12, in the first two bytes of out.
constexpr void write_square(char* out, Square s) {
    out[0] = static_cast<char>('a' + file_of(s));
    out[1] = static_cast<char>('1' + rank_of(s));
}

std::string square_name(Square s);

}  // namespace mirelo
