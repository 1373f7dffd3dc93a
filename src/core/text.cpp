#include "text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace mirelo {

namespace {

// The bytes a sequence starting at pos takes when well formed (valid), or its
// longest start that some well-formed sequence has, at least 1 (not valid).
struct Utf8Sequence {
    std::size_t length;
    bool valid;
};

Utf8Sequence utf8_sequence(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (pos + i >= text.size()) return {i, false};
        const unsigned char b = byte(i);
        if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return {i, false};
    }
    return {length, true};
}

constexpr CodePoint INVALID{0xFFFD, 1};

}  // namespace

CodePoint decode_utf8(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) return {lead, 1};
    const Utf8Sequence sequence = utf8_sequence(text, pos);
    if (!sequence.valid) return INVALID;
    // The lead byte keeps 7 - length bits of the value, each further byte 6.
    char32_t value = lead & (0x7F >> sequence.length);
    for (std::size_t i = 1; i < sequence.length; ++i)
        value = (value << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    return {value, sequence.length};
}

const char* skip_python_space(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte < 0x80) {
            if (!is_python_space(byte)) break;
            ++p;
            continue;
        }
        const CodePoint c = decode_utf8({p, static_cast<std::size_t>(end - p)}, 0);
        if (!is_python_space(c.value)) break;
        p += c.length;
    }
    return p;
}

const char* python_text_end(const char* begin, const char* end) {
    const char* p = end;
    while (p > begin && static_cast<unsigned char>(p[-1]) < 0x80 && is_python_space(static_cast<unsigned char>(p[-1])))
        --p;
    if (p == begin || static_cast<unsigned char>(p[-1]) < 0x80) return p;
    // A character of several bytes comes last: characters are only found
    // reliably by decoding from the start.
    const char* last = begin;
    for (const char* q = begin; q < end;) {
        const CodePoint c = decode_utf8({q, static_cast<std::size_t>(end - q)}, 0);
        q += c.length;
        if (!is_python_space(c.value)) last = q;
    }
    return last;
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

void append_utf8_replacing(std::string& out, std::string_view text) {
    constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ULL;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Plain ASCII is copied in runs, eight bytes tested at a time.
        std::size_t end = pos;
        for (std::uint64_t word; end + 8 <= text.size(); end += 8) {
            std::memcpy(&word, text.data() + end, 8);
            if (word & HIGH_BITS) break;
        }
        while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) ++end;
        out.append(text.data() + pos, end - pos);
        pos = end;
        if (pos == text.size()) break;
        const Utf8Sequence sequence = utf8_sequence(text, pos);
        if (sequence.valid)
            out.append(text.data() + pos, sequence.length);
        else
            out.append("\xEF\xBF\xBD");
        pos += sequence.length;
    }
}

std::string quoted(std::string_view text, std::size_t limit) {
    std::string out = "'";
    for (std::size_t pos = 0; pos < text.size();) {
        if (pos >= limit) {
            out += "...";
            break;
        }
        const CodePoint c = decode_utf8(text, pos);
        // A byte that is no character, or a control character, is one byte.
        if ((c.value == 0xFFFD && c.length == 1) || c.value < 0x20 || c.value == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[pos]));
            out += escape;
        } else {
            if (c.value == '\'' || c.value == '\\') out += '\\';
            out.append(text.substr(pos, c.length));
        }
        pos += c.length;
    }
    return out + "'";
}

}  // namespace mirelo
