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

// White space as Python's str.isspace and its regular expressions see it:
// the White_Space property and the separators U+001C to U+001F.
constexpr bool is_python_space(char32_t c) { return is_white_space(c) || (c >= 0x1C && c <= 0x1F); }

// The end of the run of Python white space that starts at begin.
const char* skip_python_space(const char* begin, const char* end);

// The end of the last character of [begin, end) that is not Python white
// space; begin when there is none.
const char* python_text_end(const char* begin, const char* end);

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

// Appends text to out as well-formed UTF-8: each maximal piece of an
// ill-formed sequence becomes one U+FFFD, as Python's "replace" decoding does
// (the practice the Unicode standard recommends).
void append_utf8_replacing(std::string& out, std::string_view text);

// The text in single quotes for a one-line message: its first limit bytes
// (then "..."), with control characters and bytes that are not UTF-8
// escaped as \xNN and quotes and backslashes escaped with a backslash.
std::string quoted(std::string_view text, std::size_t limit = 40);

}  // namespace mirelo
