#include "attacks.h"

namespace mirelo {

// Rook magics, then bishop magics, by square.
const std::array<std::array<std::uint64_t, 64>, 2> MAGIC_NUMBERS = {{
    {
        0x0A8002C000108020ULL, 0x06C00049B0002001ULL, 0x0100200010090040ULL, 0x2480041000800801ULL, 0x0280028004000800ULL, 0x0900410008040022ULL, 0x0280020001001080ULL, 0x2880002041000080ULL,
        0xA000800080400034ULL, 0x0004808020004000ULL, 0x2290802004801000ULL, 0x0411000D00100020ULL, 0x0402800800040080ULL, 0x000B000401004208ULL, 0x2409000100040200ULL, 0x0001002100004082ULL,
        0x0022878001E24000ULL, 0x1090810021004010ULL, 0x0801030040200012ULL, 0x0500808008001000ULL, 0x0A08018014000880ULL, 0x8000808004000200ULL, 0x0201008080010200ULL, 0x0801020000441091ULL,
        0x0000800080204005ULL, 0x1040200040100048ULL, 0x0000120200402082ULL, 0x0D14880480100080ULL, 0x0012040280080080ULL, 0x0100040080020080ULL, 0x9020010080800200ULL, 0x0813241200148449ULL,
        0x0491604001800080ULL, 0x0100401000402001ULL, 0x4820010021001040ULL, 0x0400402202000812ULL, 0x0209009005000802ULL, 0x0810800601800400ULL, 0x4301083214000150ULL, 0x204026458E001401ULL,
        0x0040204000808000ULL, 0x8001008040010020ULL, 0x8410820820420010ULL, 0x1003001000090020ULL, 0x0804040008008080ULL, 0x0012000810020004ULL, 0x1000100200040208ULL, 0x430000A044020001ULL,
        0x0280009023410300ULL, 0x00E0100040002240ULL, 0x0000200100401700ULL, 0x2244100408008080ULL, 0x0008000400801980ULL, 0x0002000810040200ULL, 0x8010100228810400ULL, 0x2000009044210200ULL,
        0x4080008040102101ULL, 0x0040002080411D01ULL, 0x2005524060000901ULL, 0x0502001008400422ULL, 0x489A000810200402ULL, 0x0001004400080A13ULL, 0x4000011008020084ULL, 0x0026002114058042ULL,
    },
    {
        0x89A1121896040240ULL, 0x2004844802002010ULL, 0x2068080051921000ULL, 0x62880A0220200808ULL, 0x0004042004000000ULL, 0x0100822020200011ULL, 0xC00444222012000AULL, 0x0028808801216001ULL,
        0x0400492088408100ULL, 0x0201C401040C0084ULL, 0x00840800910A0010ULL, 0x0000082080240060ULL, 0x2000840504006000ULL, 0x30010C4108405004ULL, 0x1008005410080802ULL, 0x8144042209100900ULL,
        0x0208081020014400ULL, 0x004800201208CA00ULL, 0x0F18140408012008ULL, 0x1004002802102001ULL, 0x0841000820080811ULL, 0x0040200200A42008ULL, 0x0000800054042000ULL, 0x88010400410C9000ULL,
        0x0520040470104290ULL, 0x1004040051500081ULL, 0x2002081833080021ULL, 0x000400C00C010142ULL, 0x941408200C002000ULL, 0x0658810000806011ULL, 0x0188071040440A00ULL, 0x4800404002011C00ULL,
        0x0104442040404200ULL, 0x0511080202091021ULL, 0x0004022401120400ULL, 0x80C0040400080120ULL, 0x8040010040820802ULL, 0x0480810700020090ULL, 0x0102008E00040242ULL, 0x0809005202050100ULL,
        0x8002024220104080ULL, 0x0431008804142000ULL, 0x0019001802081400ULL, 0x0200014208040080ULL, 0x3308082008200100ULL, 0x041010500040C020ULL, 0x4012020C04210308ULL, 0x208220A202004080ULL,
        0x0111040120082000ULL, 0x6803040141280A00ULL, 0x2101004202410000ULL, 0x8200000041108022ULL, 0x0000021082088000ULL, 0x0002410204010040ULL, 0x0040100400809000ULL, 0x0822088220820214ULL,
        0x0040808090012004ULL, 0x00910224040218C9ULL, 0x0402814422015008ULL, 0x0090014004842410ULL, 0x0001000042304105ULL, 0x0010008830412A00ULL, 0x2520081090008908ULL, 0x40102000A0A60140ULL,
    },
}};

namespace {

// The four rays of a slider from every square, to the board's edge.
struct Rays {
    std::array<std::array<Bitboard, 4>, 64> ray{};
    std::array<int, 4> direction{};
};

constexpr Rays make_rays(const std::array<int, 4>& directions) {
    Rays rays;
    rays.direction = directions;
    for (Square s = SQ_A1; s <= SQ_H8; ++s)
        for (std::size_t d = 0; d < 4; ++d)
            for (auto to = step_target(s, directions[d], 1); to; to = step_target(*to, directions[d], 1))
                rays.ray[s][d] |= square_bit(*to);
    return rays;
}

constexpr Rays ROOK_RAYS = make_rays(ROOK_DIRECTIONS);
constexpr Rays BISHOP_RAYS = make_rays(BISHOP_DIRECTIONS);

// What the tables hold: the attack set of a rook or bishop on s, each ray
// stopping at its first blocker, which it includes, whatever its colour.
Bitboard ray_attacks(Square s, Bitboard blockers, PieceType slider) {
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
        const Square first = rays.direction[d] > 0 ? lowest(hit) : highest(hit);
        attacks |= ray & ~rays.ray[first][d];
    }
    return attacks;
}

}  // namespace

AttackTables::AttackTables() {
    Bitboard* entries = entries_.data();
    for (Square s = SQ_A1; s <= SQ_H8; ++s) {
        for (const PieceType slider : {ROOK, BISHOP}) {
            Magic& m = magics_[2 * s + slider_index(slider)];
            m.mask = relevance_mask(s, slider);
            m.magic = MAGIC_NUMBERS[slider_index(slider)][s];
            m.shift = 64 - count_squares(m.mask);
            m.attacks = entries;
            // Every subset of the mask, in the order of a counter whose bit k
            // stands for the k-th lowest mask square; the shift keeps every
            // index below 2^n, the table's size.
            Bitboard blockers = 0;
            do {
                entries[m.index(blockers)] = ray_attacks(s, blockers, slider);
                blockers = (blockers - m.mask) & m.mask;
            } while (blockers);
            entries += std::size_t{1} << count_squares(m.mask);
        }
    }
}

const AttackTables& attack_tables() {
    // A function-local static: built once, by whichever thread first asks,
    // while any other waits for it; it lives in zeroed static storage, not on
    // the heap.
    static const AttackTables tables;
    return tables;
}

}  // namespace mirelo
