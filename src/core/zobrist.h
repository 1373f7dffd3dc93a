// Zobrist keys: one random feature per piece-on-square and per bit of the
// board's info word; a position's key is the XOR of its features.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "bitboard.h"
#include "types.h"

namespace mirelo {

// Features p * 64 + s (piece p on square s) and 768 + b (info bit b, b <= 21).
constexpr std::size_t FEATURE_COUNT = PIECE_NB * SQUARE_NB + 22;
constexpr std::size_t INFO_FEATURE_BASE = PIECE_NB * SQUARE_NB;
constexpr unsigned INFO_FEATURE_BITS = 22;

template <typename T>
struct ZobristLookupTable {
    std::array<T, FEATURE_COUNT> features;

    // Fills the table from the deterministic generator: increment 9 for the
    // 64-bit table, 3 for the 16-bit one.
    static ZobristLookupTable make(std::uint64_t seed);
};

using ZobristTable64 = ZobristLookupTable<std::uint64_t>;
using ZobristTable16 = ZobristLookupTable<std::uint16_t>;

// The running keys of one board. The feature tables are the process's one
// pair, built on first use and never changed or freed: every board would draw
// the same values from the same seeds, so all boards share that pair.
struct ZobristBoardComponent {
    std::uint64_t z_key = 0;
    std::uint16_t z_key16 = 0;  // the same features from the 16-bit table
    const ZobristTable64* z64 = nullptr;
    const ZobristTable16* z16 = nullptr;

    // The keys of the given position, over the shared tables.
    static ZobristBoardComponent make(const Pieces& pieces, std::uint64_t info);

    // Toggles the feature of piece on square.
    void xor_piece(Piece piece, Square square) {
        const std::size_t i = piece * SQUARE_NB + square;
        z_key ^= z64->features[i];
        z_key16 ^= z16->features[i];
    }

    // Toggles the features of every square in changed for piece.
    void xor_squares(Piece piece, Bitboard changed) {
        while (changed) xor_piece(piece, pop_lowest(changed));
    }

    // Toggles the features of every info bit in changed; the caller makes
    // sure no bit above 21 is set.
    void xor_info_bits(std::uint64_t changed) {
        for (; changed; changed &= changed - 1) {
            const std::size_t i = INFO_FEATURE_BASE + static_cast<unsigned>(std::countr_zero(changed));
            z_key ^= z64->features[i];
            z_key16 ^= z16->features[i];
        }
    }
};

// The keys of a position computed from scratch with the given tables.
std::pair<std::uint64_t, std::uint16_t> zobrist_keys(const ZobristTable64& z64, const ZobristTable16& z16,
                                                     const Pieces& pieces,
                                                     std::uint64_t info);

}  // namespace mirelo
