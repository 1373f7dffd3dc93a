// Attack sets that need no tables built at run time: king, knight and pawn
// steps as compile-time masks, and slider attacks along whole-ray masks. The
// move generator fills its magic tables from the ray attacks and looks
// sliders up there; the attack query here serves callers without a generator.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <optional>

#include "bits.h"
#include "board.h"
#include "side.h"

namespace mirelo {

constexpr std::array<int, 4> ROOK_DIRECTIONS = {8, -8, 1, -1};
constexpr std::array<int, 4> BISHOP_DIRECTIONS = {9, -9, 7, -7};
constexpr std::array<int, 8> KING_DIRECTIONS = {-8, 8, 1, -1, 9, 7, -9, -7};
constexpr std::array<int, 8> KNIGHT_DIRECTIONS = {-17, -15, -6, 10, 17, 15, 6, -10};

// from + jump, unless it leaves the board or changes the file by more than
// max_file_change (which is what stops a step from wrapping around the board
// edge: a wrapped step changes the file by 6 or 7).
constexpr std::optional<Square> step_target(Square from, int jump, unsigned max_file_change) {
    const int to = static_cast<int>(from) + jump;
    if (to < 0 || to > 63) return std::nullopt;
    const int diff = (to & 7) - static_cast<int>(file_of(from));
    if (static_cast<unsigned>(diff < 0 ? -diff : diff) > max_file_change) return std::nullopt;
    return static_cast<Square>(to);
}

template <std::size_t N>
constexpr std::array<Bitboard, 64> make_step_masks(const std::array<int, N>& directions, unsigned max_file_change) {
    std::array<Bitboard, 64> masks{};
    for (Square s = 0; s < 64; ++s)
        for (const int d : directions)
            if (const auto to = step_target(s, d, max_file_change)) masks[s] |= square_bit(*to);
    return masks;
}

inline constexpr auto KING_ATTACKS = make_step_masks(KING_DIRECTIONS, 1);
inline constexpr auto KNIGHT_ATTACKS = make_step_masks(KNIGHT_DIRECTIONS, 2);
// The squares a pawn of each colour attacks.
inline constexpr std::array<std::array<Bitboard, 64>, 2> PAWN_ATTACKS = {
    make_step_masks(side(WHITE).pawn_captures, 1), make_step_masks(side(BLACK).pawn_captures, 1)};

// The four rays of a slider from every square, to the board's edge.
struct Rays {
    std::array<std::array<Bitboard, 4>, 64> ray{};
    std::array<int, 4> direction{};
};

constexpr Rays make_rays(const std::array<int, 4>& directions) {
    Rays rays;
    rays.direction = directions;
    for (Square s = 0; s < 64; ++s)
        for (std::size_t d = 0; d < 4; ++d)
            for (auto to = step_target(s, directions[d], 1); to; to = step_target(*to, directions[d], 1))
                rays.ray[s][d] |= square_bit(*to);
    return rays;
}

inline constexpr Rays ROOK_RAYS = make_rays(ROOK_DIRECTIONS);
inline constexpr Rays BISHOP_RAYS = make_rays(BISHOP_DIRECTIONS);

// The attack set of a rook or bishop on s: each ray stops at its first
// blocker, which it includes, whatever its colour.
inline Bitboard ray_attacks(Square s, Bitboard blockers, PieceType slider) {
    const Rays& rays = slider == ROOK ? ROOK_RAYS : BISHOP_RAYS;
    Bitboard attacks = 0;
    for (std::size_t d = 0; d < 4; ++d) {
        const Bitboard ray = rays.ray[s][d];
        const Bitboard hit = ray & blockers;
        if (!hit) {
            attacks |= ray;
            continue;
        }
        // Rays towards higher squares meet their lowest blocker first.
        const Square first = rays.direction[d] > 0 ? lowest(hit) : 63 - static_cast<Square>(std::countl_zero(hit));
        attacks |= ray & ~rays.ray[first][d];
    }
    return attacks;
}

// The pieces of colour by that attack square, for the given occupancy, with
// the slider attacks of slider(square, occupied, ROOK or BISHOP).
template <typename SliderAttacks>
Bitboard attackers_to(const Pieces& p, Square square, Color by, Bitboard occupied, SliderAttacks slider) {
    const Bitboard queens = p[make_piece(by, QUEEN)];
    // A pawn of colour by attacks square from where a pawn of the other colour
    // on square would attack.
    return (KNIGHT_ATTACKS[square] & p[make_piece(by, KNIGHT)]) |
           (PAWN_ATTACKS[~by][square] & p[make_piece(by, PAWN)]) |
           (slider(square, occupied, ROOK) & (p[make_piece(by, ROOK)] | queens)) |
           (slider(square, occupied, BISHOP) & (p[make_piece(by, BISHOP)] | queens)) |
           (KING_ATTACKS[square] & p[make_piece(by, KING)]);
}

// Is the king of colour c attacked? With several kings only the lowest is
// looked at; a side without a king is never in check.
template <typename SliderAttacks>
bool king_attacked(const Pieces& pieces, Color c, SliderAttacks slider) {
    const Bitboard king = pieces[make_piece(c, KING)];
    if (!king) return false;
    return attackers_to(pieces, lowest(king), ~c, occupancy(pieces), slider) != 0;
}

}  // namespace mirelo
