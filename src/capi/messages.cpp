#include "messages.h"

#include <cstdint>
#include <cstdio>

namespace mirelo::capi::messages {

std::string_view refusal(int status) {
    return status == MIRELO_BORROWED ? "Already borrowed" : "Already mutably borrowed";
}

std::string_view needs_room() { return "Board history needs a larger room"; }

std::string invalid_fen(std::string_view error) { return "Invalid fen: " + std::string(error); }

std::string invalid_move(std::string_view error) { return "Invalid chess move: " + std::string(error); }

std::string takes(std::string_view name, std::size_t count, std::size_t required, std::size_t given) {
    const std::string range = required == count ? std::to_string(count)
                                                : "from " + std::to_string(required) + " to " + std::to_string(count);
    return std::string(name) + " takes " + range + " positional arguments but " + std::to_string(given) +
           (given == 1 ? " was" : " were") + " given";
}

std::string multiple_values(std::string_view name, std::string_view param) {
    return std::string(name) + " got multiple values for argument '" + std::string(param) + "'";
}

std::string unexpected_keyword(std::string_view name, std::string_view keyword) {
    return std::string(name) + " got an unexpected keyword argument '" + std::string(keyword) + "'";
}

std::string missing(std::string_view name, std::span<const char* const> params) {
    std::string list;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i > 0) list += params.size() == 2 ? " and " : (i == params.size() - 1 ? ", and " : ", ");
        list += '\'';
        list += params[i];
        list += '\'';
    }
    return std::string(name) + " missing " + std::to_string(params.size()) + " required positional " +
           (params.size() == 1 ? "argument" : "arguments") + ": " + list;
}

std::string not_convertible(std::string_view param, std::string_view type_name, std::string_view target) {
    std::string message = "'" + std::string(type_name) + "' object cannot be converted to '" + std::string(target) + "'";
    return param.empty() ? message : "argument '" + std::string(param) + "': " + message;
}

std::string not_a_list(std::string_view param) { return std::string(param) + " must be a list or tuple"; }

std::string invalid_depth(std::string_view value) {
    return "Invalid depth: " + std::string(value) + " (must be from 0 to " + std::to_string(MIRELO_MAX_PERFT_DEPTH) +
           ")";
}

std::string not_a_move_index(std::string_view value) {
    return std::string(value) + " is not the index of a move: indices are 0 to " +
           std::to_string(MIRELO_MOVE_INDEX_SIZE - 1) + ", not all used";
}

std::string not_a_plane_element(std::string_view value) { return "no plane element kind " + std::string(value); }

std::string not_a_move_text(std::string_view text) { return quoted(text) + " is not a move text of the index layout"; }

std::string fen_item(std::size_t index, std::string_view text, std::string_view error) {
    return "fens[" + std::to_string(index) + "] " + quoted(text) + ": " + std::string(error);
}

std::string wrong_size(std::size_t size, std::size_t expected) {
    return "out has " + std::to_string(size) + " bytes, expected " + std::to_string(expected);
}

namespace {

// The code point of the UTF-8 sequence at text[i], advancing i; a byte that
// starts no valid sequence stands for itself (texts come from str objects,
// so that does not happen).
char32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 0; k < extra && i < text.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    return c;
}

// Python escapes what it does not count as printable: control and format
// characters, separators other than the space, surrogates and private use.
bool printable(char32_t c) {
    if (c < 0x20 || c == 0x7F) return false;
    if (c < 0x80) return true;
    if (c <= 0xA0 || c == 0xAD) return false;
    if (c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F)) return false;
    if ((c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0xFEFF || (c >= 0xFFF0 && c <= 0xFFFB)) return false;
    if ((c >= 0xD800 && c <= 0xF8FF) || c >= 0xF0000) return false;  // surrogates, private use
    return true;
}

}  // namespace

std::string quoted(std::string_view utf8) {
    const bool single = utf8.find('\'') != std::string_view::npos;
    const char quote = single && utf8.find('"') == std::string_view::npos ? '"' : '\'';
    std::string out(1, quote);
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t c = next_code_point(utf8, i);
        if (c == static_cast<char32_t>(quote) || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\t' || c == '\n' || c == '\r') {
            out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
        } else if (printable(c)) {
            out.append(utf8.substr(start, i - start));
        } else {
            char escape[12];
            const auto code = static_cast<unsigned long>(c);
            std::snprintf(escape, sizeof escape, c < 0x100 ? "\\x%02lx" : c < 0x10000 ? "\\u%04lx" : "\\U%08lx", code);
            out += escape;
        }
    }
    out += quote;
    return out;
}

}  // namespace mirelo::capi::messages
