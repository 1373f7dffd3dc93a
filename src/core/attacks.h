// Attack sets. King, knight and pawn steps are compile-time masks. Rook and
// bishop attacks come from magic-bitboard tables: too large to write out at
// compile time, they are built once per process, on first use, and shared by
// every move generator and every game function.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "bitboard.h"
#include "board.h"
#include "side.h"
#include "types.h"

namespace mirelo {

constexpr std::array<int, 4> ROOK_DIRECTIONS = {8, -8, 1, -1};
constexpr std::array<int, 4> BISHOP_DIRECTIONS = {9, -9, 7, -7};
constexpr std::array<int, 8> KING_DIRECTIONS = {-8, 8, 1, -1, 9, 7, -9, -7};
constexpr std::array<int, 8> KNIGHT_DIRECTIONS = {-17, -15, -6, 10, 17, 15, 6, -10};

// from + jump, unless it leaves the board or changes the file by more than
// max_file_change (which is what stops a step from wrapping around the board
// edge: a wrapped step changes the file by 6 or 7).
constexpr std::optional<Square> step_target(Square from, int jump, unsigned max_file_change) {
    const Square to = offset_square(from, jump);
    if (!is_ok(to)) return std::nullopt;
    const int diff = static_cast<int>(file_of(to)) - static_cast<int>(file_of(from));
    if (static_cast<unsigned>(diff < 0 ? -diff : diff) > max_file_change) return std::nullopt;
    return to;
}

template <std::size_t N>
constexpr std::array<Bitboard, 64> make_step_masks(const std::array<int, N>& directions, unsigned max_file_change) {
    std::array<Bitboard, 64> masks{};
    for (Square s = SQ_A1; s <= SQ_H8; ++s)
        for (const int d : directions)
            if (const auto to = step_target(s, d, max_file_change)) masks[s] |= square_bit(*to);
    return masks;
}

inline constexpr auto KING_ATTACKS = make_step_masks(KING_DIRECTIONS, 1);
inline constexpr auto KNIGHT_ATTACKS = make_step_masks(KNIGHT_DIRECTIONS, 2);
// The squares a pawn of each colour attacks.
inline constexpr std::array<std::array<Bitboard, 64>, 2> PAWN_ATTACKS = {
    make_step_masks(side(WHITE).pawn_captures, 1), make_step_masks(side(BLACK).pawn_captures, 1)};

constexpr Bitboard BOARD_EDGES = RANK_1 | (RANK_1 << 56) | FILE_A | (FILE_A << 7);

// The squares whose occupancy decides a slider's attacks: its rays without
// the board edge they run into.
constexpr Bitboard rook_relevance_mask(Square square) {
    // The rank and the file through the square, each without its own two ends.
    const Bitboard file = (FILE_A << file_of(square)) & ~RANK_1 & ~(RANK_1 << 56);
    const Bitboard rank = (RANK_1 << (8 * rank_of(square))) & ~FILE_A & ~(FILE_A << 7);
    return (file | rank) & ~square_bit(square);
}

constexpr Bitboard bishop_relevance_mask(Square square) {
    Bitboard mask = 0;
    for (const int jump : BISHOP_DIRECTIONS)
        for (auto to = step_target(square, jump, 1); to; to = step_target(*to, jump, 1)) mask |= square_bit(*to);
    return mask & ~BOARD_EDGES;
}

constexpr Bitboard relevance_mask(Square square, PieceType slider) {
    return slider == ROOK ? rook_relevance_mask(square) : bishop_relevance_mask(square);
}

// Rooks first, bishops second.
constexpr std::size_t slider_index(PieceType slider) { return slider == ROOK ? 0 : 1; }

// Multipliers that map every blocker configuration of a square's relevance
// mask one-to-one onto 0 .. 2^n - 1, n being the number of mask squares:
// [slider_index(slider)][square].
extern const std::array<std::array<std::uint64_t, 64>, 2> MAGIC_NUMBERS;

// Entries of all the slider tables together: 2^n for a mask of n squares.
constexpr std::size_t SLIDER_ENTRIES = [] {
    std::size_t entries = 0;
    for (Square s = SQ_A1; s <= SQ_H8; ++s)
        for (const PieceType slider : {ROOK, BISHOP}) entries += std::size_t{1} << count_squares(relevance_mask(s, slider));
    return entries;
}();

// One square's entry into a slider's attack table.
struct Magic {
    Bitboard mask;
    Bitboard magic;
    unsigned shift;  // 64 - the number of mask squares
    const Bitboard* attacks;

    unsigned index(Bitboard occupied) const { return static_cast<unsigned>(((occupied & mask) * magic) >> shift); }
};

class AttackTables {
public:
    // The attack set of a rook or bishop on square for the occupancy; it
    // includes the first occupied square of each ray, whatever its colour.
    Bitboard slider_attacks(Square square, Bitboard occupied, PieceType slider) const {
        const Magic& m = magic(square, slider);
        return m.attacks[m.index(occupied)];
    }

    const Magic& magic(Square square, PieceType slider) const { return magics_[2 * square + slider_index(slider)]; }

    // The pieces of colour by that attack square, for the given occupancy.
    Bitboard attackers_to(const Pieces& p, Square square, Color by, Bitboard occupied) const {
        const Bitboard queens = p[make_piece(by, QUEEN)];
        // A pawn of colour by attacks square from where a pawn of the other
        // colour on square would attack.
        return (KNIGHT_ATTACKS[square] & p[make_piece(by, KNIGHT)]) |
               (PAWN_ATTACKS[~by][square] & p[make_piece(by, PAWN)]) |
               (slider_attacks(square, occupied, ROOK) & (p[make_piece(by, ROOK)] | queens)) |
               (slider_attacks(square, occupied, BISHOP) & (p[make_piece(by, BISHOP)] | queens)) |
               (KING_ATTACKS[square] & p[make_piece(by, KING)]);
    }

    // Does any piece of colour by attack square?
    bool attacked(const Pieces& pieces, Square square, Color by, Bitboard occupied) const {
        return attackers_to(pieces, square, by, occupied) != 0;
    }

    // Is the king of colour c attacked? With several kings only the lowest is
    // looked at; a side without a king is never in check.
    bool king_attacked(const Pieces& pieces, Color c) const {
        const Bitboard king = pieces[make_piece(c, KING)];
        return king && attacked(pieces, lowest(king), ~c, occupancy(pieces));
    }

private:
    friend const AttackTables& attack_tables();
    AttackTables();

    std::array<Magic, 128> magics_;  // rook and bishop of square s at 2s and 2s + 1
    std::array<Bitboard, SLIDER_ENTRIES> entries_;
};

// The process's tables, built by the first caller while any other waits for
// them; never changed or freed afterwards.
const AttackTables& attack_tables();

}  // namespace mirelo
