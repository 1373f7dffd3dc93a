#include "chess_move.h"

#include <array>

#include "failure.h"
#include "text.h"

namespace mirelo {

ChessMove ChessMove::make(unsigned from, unsigned to, unsigned special) {
    if (from >= 64) fail("Invalid FROM int");
    if (to >= 64) fail("Invalid TO int");
    if (special >= 16) fail("Invalid SPECIAL int");
    return raw(static_cast<Square>(from), static_cast<Square>(to), special);
}

namespace {

std::expected<unsigned, std::string> promotion_code(char32_t letter, std::string_view text) {
    switch (letter) {
        case 'n': case 'N': return PROMOTE_KNIGHT;
        case 'b': case 'B': return PROMOTE_BISHOP;
        case 'r': case 'R': return PROMOTE_ROOK;
        case 'q': case 'Q': return PROMOTE_QUEEN;
        default: return std::unexpected("Unsupported promotion type for " + std::string(text));
    }
}

}  // namespace

std::expected<ChessMove, std::string> ChessMove::from_str(std::string_view text) {
    const std::string_view trimmed = trim_white_space(text);
    if (trimmed.size() != 4 && trimmed.size() != 5) {
        return std::unexpected(
            "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: " +
            std::string(trimmed));
    }
    // At most five characters fit in five bytes.
    std::array<char32_t, 5> chars;
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < trimmed.size(); ++count) {
        const auto byte = static_cast<unsigned char>(trimmed[pos]);
        if (byte < 0x80) {
            chars[count] = byte;
            ++pos;
            continue;
        }
        const CodePoint c = decode_utf8(trimmed, pos);
        chars[count] = c.value;
        pos += c.length;
    }
    unsigned special = ORDINARY;
    if (trimmed.size() == 5) {
        auto code = promotion_code(chars[count - 1], trimmed);
        if (!code) return std::unexpected(std::move(code.error()));
        special = *code;
    }
    // Each coordinate is the low byte of the character minus 'a' or '1', modulo
    // 256, so only a..h and 1..8 pass the checks.
    const auto coordinate = [&](std::size_t i, char base) -> unsigned {
        if (i >= count) fail("Move text has fewer than four characters: " + std::string(trimmed));
        return static_cast<std::uint8_t>((chars[i] & 0xFF) - static_cast<unsigned char>(base));
    };
    const unsigned from_file = coordinate(0, 'a');
    const unsigned from_rank = coordinate(1, '1');
    if (from_file > 7) fail("assertion failed: from_file <= 7");
    if (from_rank > 7) fail("assertion failed: from_rank <= 7");
    const unsigned to_file = coordinate(2, 'a');
    const unsigned to_rank = coordinate(3, '1');
    if (to_file > 7) fail("assertion failed: to_file <= 7");
    if (to_rank > 7) fail("assertion failed: to_rank <= 7");
    return make(from_file + 8 * from_rank, to_file + 8 * to_rank, special);
}

std::size_t ChessMove::write(char* out) const {
    write_square(out, from());
    write_square(out + 2, to());
    const unsigned code = special();
    if (code < PROMOTE_KNIGHT) return 4;
    if (code > PROMOTE_QUEEN) fail("Move has no text form: special code " + std::to_string(code));
    out[4] = PIECE_LETTERS[make_piece(BLACK, promotion_type(code))];  // lower case
    return 5;
}

std::string ChessMove::to_string() const {
    char buffer[5];
    return std::string(buffer, write(buffer));
}

}  // namespace mirelo
