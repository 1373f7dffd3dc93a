// A move packed into 16 bits: from + to * 64 + special * 4096.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "types.h"

namespace mirelo {

enum Special : unsigned {
    ORDINARY = 0,
    EN_PASSANT = 1,
    DOUBLE_STEP = 2,
    CASTLING = 3,
    PROMOTE_KNIGHT = 4,
    PROMOTE_BISHOP = 5,
    PROMOTE_ROOK = 6,
    PROMOTE_QUEEN = 7,
};

constexpr bool is_promotion(unsigned special) { return special >= PROMOTE_KNIGHT && special <= PROMOTE_QUEEN; }

// The piece a promotion code makes: knight, bishop, rook or queen.
constexpr PieceType promotion_type(unsigned special) {
    return static_cast<PieceType>(KNIGHT + (special - PROMOTE_KNIGHT));
}

struct ChessMove {
    std::uint16_t data;  // left uninitialised by default: move lists are large

    // Checked construction: every argument out of range is an internal failure.
    static ChessMove make(unsigned from, unsigned to, unsigned special);

    // Unchecked construction for the generator, whose squares are always 0..63.
    static constexpr ChessMove raw(Square from, Square to, unsigned special) {
        return ChessMove{static_cast<std::uint16_t>(from | (to << 6) | (special << 12))};
    }

    // Long algebraic notation ("e2e4", "e7e8q"). Texts of the wrong length or
    // with a bad promotion letter are error texts; squares outside a1..h8 are
    // internal failures.
    static std::expected<ChessMove, std::string> from_str(std::string_view text);

    constexpr Square from() const { return static_cast<Square>(data & 63); }
    constexpr Square to() const { return static_cast<Square>((data >> 6) & 63); }
    constexpr unsigned special() const { return data >> 12; }
    constexpr bool operator==(const ChessMove&) const = default;

    // Writes the text form into out (at least 5 bytes) and returns its length.
    std::size_t write(char* out) const;
    std::string to_string() const;
};

}  // namespace mirelo
