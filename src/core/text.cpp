#include "text.h"

namespace mirelo {

namespace {

constexpr CodePoint INVALID{0xFFFD, 1};

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

CodePoint decode_utf8(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    std::size_t length;
    char32_t value;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return INVALID;
    }
    if (text.size() - pos < length) return INVALID;
    for (std::size_t i = 1; i < length; ++i) {
        if (!is_continuation(byte(i))) return INVALID;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return INVALID;
    return {value, length};
}

std::string_view trim_white_space(std::string_view text) {
    const auto plain = [](char c) { return c > ' ' && static_cast<unsigned char>(c) < 0x80; };
    if (text.empty() || (plain(text.front()) && plain(text.back()))) return text;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const CodePoint c = decode_utf8(text, begin);
        if (!is_white_space(c.value)) break;
        begin += c.length;
    }
    // Scan forward so that multi-byte characters are decoded from their start.
    std::size_t end = begin;
    for (std::size_t pos = begin; pos < text.size();) {
        const CodePoint c = decode_utf8(text, pos);
        pos += c.length;
        if (!is_white_space(c.value)) end = pos;
    }
    return text.substr(begin, end - begin);
}

std::size_t split_fields(std::string_view text, std::string_view* out, std::size_t max_fields) {
    std::size_t count = 0;
    std::size_t pos = 0;
    std::size_t field_start = 0;
    bool in_field = false;
    while (pos < text.size() && count < max_fields) {
        const CodePoint c = decode_utf8(text, pos);
        if (is_white_space(c.value)) {
            if (in_field) out[count++] = text.substr(field_start, pos - field_start);
            in_field = false;
        } else if (!in_field) {
            in_field = true;
            field_start = pos;
        }
        pos += c.length;
    }
    if (in_field && count < max_fields) out[count++] = text.substr(field_start);
    return count;
}

std::string square_name(Square s) {
    std::string name(2, ' ');
    write_square(name.data(), s);
    return name;
}

}  // namespace mirelo
