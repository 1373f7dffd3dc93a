// Attack sets that need no tables built at run time: the knight and pawn
// steps as compile-time masks, and slider attacks along whole-ray masks. The
// move generator fills its magic tables from the ray attacks and looks them
// up from then on; the attack test here serves callers without a generator.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "bits.h"
#include "board.h"
#include "move_generator.h"

namespace mirelo {

template <std::size_t N>
constexpr std::array<Bitboard, 64> make_step_masks(const std::array<std::int16_t, N>& directions,
                                                   std::uint16_t threshold) {
    std::array<Bitboard, 64> masks{};
    for (std::uint16_t s = 0; s < 64; ++s)
        for (const std::int16_t d : directions)
            if (const auto to = validate_move(s, d, threshold)) masks[s] |= square_bit(*to);
    return masks;
}

constexpr auto KNIGHT_ATTACKS = make_step_masks(KNIGHT_DIRECTIONS, 2);

// Squares from which a pawn attacks square s, seen from s: black pawns attack
// a square from s + 7 and s + 9, white pawns from s - 7 and s - 9.
constexpr auto BLACK_PAWN_ATTACKERS = make_step_masks(std::array<std::int16_t, 2>{7, 9}, 1);
constexpr auto WHITE_PAWN_ATTACKERS = make_step_masks(std::array<std::int16_t, 2>{-7, -9}, 1);

// The four rays of a slider from every square, to the board's edge.
struct Rays {
    std::array<std::array<Bitboard, 4>, 64> ray{};
    std::array<std::int16_t, 4> direction{};
};

constexpr Rays make_rays(const std::array<std::int16_t, 4>& directions) {
    Rays rays;
    rays.direction = directions;
    for (std::uint16_t s = 0; s < 64; ++s) {
        for (std::size_t d = 0; d < 4; ++d) {
            std::uint16_t t = s;
            while (const auto to = validate_move(t, directions[d], 1)) {
                rays.ray[s][d] |= square_bit(*to);
                t = *to;
            }
        }
    }
    return rays;
}

constexpr Rays ROOK_RAYS = make_rays(ROOK_DIRECTIONS);
constexpr Rays BISHOP_RAYS = make_rays(BISHOP_DIRECTIONS);

// The attack set of a slider on s: each ray stops at its first blocker, which
// it includes, whatever its colour.
inline Bitboard ray_attacks(const Rays& rays, Square s, Bitboard blockers) {
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

inline Bitboard ray_slider_attacks(Square s, Bitboard occupied, unsigned piece_type) {
    return ray_attacks(piece_type == ROOK_KIND ? ROOK_RAYS : BISHOP_RAYS, s, occupied);
}

// The pieces of the side opposite to to_move (1 = white) that attack square,
// sliders seen through slider(square, occupied, piece_type).
template <typename SliderAttacks>
Bitboard attackers_of(const Pieces& p, Square square, std::uint64_t to_move, Bitboard occupied,
                      SliderAttacks slider) {
    const unsigned offset = to_move ? BLACK_OFFSET : 0;
    const Bitboard queens = p[offset + QUEEN];
    return (KNIGHT_ATTACKS[square] & p[offset + KNIGHT]) |
           ((to_move ? BLACK_PAWN_ATTACKERS : WHITE_PAWN_ATTACKERS)[square] & p[offset + PAWN]) |
           (slider(square, occupied, ROOK_KIND) & (p[offset + ROOK] | queens)) |
           (slider(square, occupied, BISHOP_KIND) & (p[offset + BISHOP] | queens)) |
           (get_king_circle(square) & p[offset + KING]);
}

// Is the king of the given side (1 = white) attacked? With several kings only
// the lowest is looked at; a side without a king is never in check.
inline bool king_attacked_by_rays(const Pieces& pieces, std::uint64_t side) {
    const Bitboard king = pieces[side ? KING : BLACK_OFFSET + KING];
    if (!king) return false;
    return attackers_of(pieces, lowest(king), side, occupancy(pieces), ray_slider_attacks) != 0;
}

}  // namespace mirelo
