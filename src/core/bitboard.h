// Bitboards: bit n of a 64-bit word stands for square n.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "types.h"

namespace mirelo {

using Bitboard = std::uint64_t;

// A placement: one bitboard per piece.
using Pieces = std::array<Bitboard, PIECE_NB>;

constexpr Bitboard RANK_1 = 0xFF;
constexpr Bitboard FILE_A = 0x0101010101010101ULL;

constexpr Bitboard square_bit(Square s) { return Bitboard{1} << s; }
constexpr bool has(Bitboard b, Square s) { return (b >> s) & 1; }

// Number of squares in b. Without the processor's population-count
// instruction (targets built for any x86-64) the compiler would call a library
// routine; the bit-parallel sum is a few instructions inline.
constexpr unsigned count_squares(Bitboard b) {
#if defined(__POPCNT__) || !(defined(__x86_64__) || defined(__i386__))
    return static_cast<unsigned>(std::popcount(b));
#else
    b -= (b >> 1) & 0x5555555555555555ULL;
    b = (b & 0x3333333333333333ULL) + ((b >> 2) & 0x3333333333333333ULL);
    b = (b + (b >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<unsigned>((b * 0x0101010101010101ULL) >> 56);
#endif
}

// Lowest and highest set square; the bitboard must not be empty.
constexpr Square lowest(Bitboard b) { return static_cast<Square>(std::countr_zero(b)); }
constexpr Square highest(Bitboard b) { return static_cast<Square>(63 - std::countl_zero(b)); }

// Removes and returns the lowest set square; loops over a bitboard therefore
// run from the lowest square to the highest.
constexpr Square pop_lowest(Bitboard& b) {
    const Square s = lowest(b);
    b &= b - 1;
    return s;
}

}  // namespace mirelo
