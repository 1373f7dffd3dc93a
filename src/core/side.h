// The board's info word and the facts that differ between the two sides: where
// pawns start, step and promote, where en passant happens, where the king and
// rooks stand and what castling needs. Black's facts are white's with the
// ranks mirrored, so each is written once.
#pragma once

#include <array>
#include <cstdint>

#include "bitboard.h"
#include "types.h"

namespace mirelo {

// The info word: bit 0 the side to move (1 = white), bits 1 to 4 the castling
// rights K, Q, k, q, bits 5 + file the files on which white may take en
// passant, bits 13 + file those on which black may. Bits 21 to 63 stay zero.
constexpr std::uint64_t WHITE_TO_MOVE = 1;
constexpr unsigned FIRST_CASTLING_RIGHT = 1;
constexpr std::uint64_t CASTLING_RIGHTS = 0x1E;
constexpr std::uint64_t EN_PASSANT_MASK = 0x1FFFE0;
constexpr std::uint64_t INFO_STATE_MASK = 0x1FFFFF;  // every bit a position can set
constexpr char CASTLING_LETTERS[] = "KQkq";         // the rights in bit order

constexpr std::uint64_t info_bit(unsigned bit) { return std::uint64_t{1} << bit; }

enum CastlingSide : unsigned { KING_SIDE = 0, QUEEN_SIDE = 1 };

constexpr unsigned castling_right(Color c, CastlingSide cs) { return FIRST_CASTLING_RIGHT + 2 * c + cs; }

struct Castling {
    unsigned right;         // its info bit
    Square king_to;
    Square rook_from;
    Square rook_to;
    Bitboard must_be_empty;  // between king and rook
    Bitboard must_be_safe;   // the squares the king passes and lands on
};

struct SideFacts {
    int forward;                 // +1 rank for white, -1 for black
    int pawn_push;               // the square offset of one step forward
    unsigned start_rank;         // pawns on it may step twice
    unsigned promotion_rank;     // pawns on it promote with their next step
    unsigned en_passant_rank;    // pawns on it may take en passant
    unsigned en_passant_bit;     // info bit of file a on which this side may take en passant
    char en_passant_digit;       // the rank of the square it then moves to, as written in FEN
    std::array<int, 2> pawn_captures;  // capture steps, in the order the generator lists them
    Square king_home;
    std::array<Castling, 2> castling;  // king side, queen side
};

// The square or rank seen from the given side: rank 1 for white is rank 8 for black.
constexpr Square relative_square(Color c, Square s) { return c == WHITE ? s : static_cast<Square>(s ^ SQ_A8); }
constexpr unsigned relative_rank(Color c, unsigned rank) { return c == WHITE ? rank : 7 - rank; }

constexpr SideFacts make_side_facts(Color c) {
    const Square home = relative_square(c, SQ_E1);
    const int forward = c == WHITE ? 1 : -1;
    return SideFacts{
        .forward = forward,
        .pawn_push = 8 * forward,
        .start_rank = relative_rank(c, 1),
        .promotion_rank = relative_rank(c, 6),
        .en_passant_rank = relative_rank(c, 4),
        .en_passant_bit = 5 + 8 * c,
        .en_passant_digit = static_cast<char>('1' + relative_rank(c, 5)),
        // Towards the a-file first for white, towards the h-file first for black.
        .pawn_captures = {7 * forward, 9 * forward},
        .king_home = home,
        .castling = {{
            {castling_right(c, KING_SIDE), home + 2, home + 3, home + 1, square_bit(home + 1) | square_bit(home + 2),
             square_bit(home + 1) | square_bit(home + 2)},
            {castling_right(c, QUEEN_SIDE), home - 2, home - 4, home - 1,
             square_bit(home - 1) | square_bit(home - 2) | square_bit(home - 3),
             square_bit(home - 1) | square_bit(home - 2)},
        }},
    };
}

constexpr std::array<SideFacts, 2> SIDES = {make_side_facts(WHITE), make_side_facts(BLACK)};

constexpr const SideFacts& side(Color c) { return SIDES[c]; }

constexpr Color side_to_move(std::uint64_t info) { return (info & WHITE_TO_MOVE) ? WHITE : BLACK; }

static_assert(side(BLACK).en_passant_bit == 13 && side(BLACK).castling[QUEEN_SIDE].rook_from == 56);
static_assert((EN_PASSANT_MASK | CASTLING_RIGHTS | WHITE_TO_MOVE) == INFO_STATE_MASK);

}  // namespace mirelo
