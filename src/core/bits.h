// Squares and bitboards shared by every part of the core.
//
// A square is rank * 8 + file (a1 = 0, h1 = 7, a8 = 56, h8 = 63) and bit n of
// a bitboard stands for square n.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

namespace mirelo {

using Bitboard = std::uint64_t;
using Square = unsigned;

constexpr Square rank_of(Square s) { return s >> 3; }
constexpr Square file_of(Square s) { return s & 7; }
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

// Lowest set square; the bitboard must not be empty.
inline Square lowest(Bitboard b) { return static_cast<Square>(std::countr_zero(b)); }

// Removes and returns the lowest set square; loops over a bitboard therefore
// run from the lowest square to the highest.
inline Square pop_lowest(Bitboard& b) {
    const Square s = lowest(b);
    b &= b - 1;
    return s;
}

// "e2" for square 12.
inline void write_square(char* out, Square s) {
    out[0] = static_cast<char>('a' + file_of(s));
    out[1] = static_cast<char>('1' + (rank_of(s) & 7));
}

inline std::string square_name(Square s) {
    std::string name(2, ' ');
    write_square(name.data(), s);
    return name;
}

enum Color : unsigned { WHITE = 0, BLACK = 1 };

constexpr Color operator~(Color c) { return static_cast<Color>(c ^ BLACK); }

// Piece indexes: type + 6 for black; NO_PIECE stands for an empty square.
enum PieceType : unsigned { PAWN = 0, KNIGHT = 1, BISHOP = 2, ROOK = 3, QUEEN = 4, KING = 5 };
constexpr unsigned PIECE_TYPE_COUNT = 6;
constexpr unsigned NO_PIECE = 12;
constexpr char PIECE_LETTERS[] = "PNBRQKpnbrqk";

constexpr unsigned make_piece(Color c, PieceType t) { return PIECE_TYPE_COUNT * c + t; }
constexpr Color color_of(unsigned piece) { return piece < PIECE_TYPE_COUNT ? WHITE : BLACK; }
constexpr PieceType type_of(unsigned piece) { return static_cast<PieceType>(piece % PIECE_TYPE_COUNT); }

}  // namespace mirelo
