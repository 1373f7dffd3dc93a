#include "move_generator.h"

#include <bit>
#include <cstdlib>
#include <new>

#include "failure.h"

namespace mirelo {

// Multipliers that map every blocker configuration of a square's relevance
// mask one-to-one onto 0 .. 2^n - 1, n being the number of mask squares.
const std::array<std::uint64_t, 64> ROOK_MAGICS = {
    0x0A8002C000108020ULL, 0x06C00049B0002001ULL, 0x0100200010090040ULL, 0x2480041000800801ULL, 0x0280028004000800ULL, 0x0900410008040022ULL, 0x0280020001001080ULL, 0x2880002041000080ULL,
    0xA000800080400034ULL, 0x0004808020004000ULL, 0x2290802004801000ULL, 0x0411000D00100020ULL, 0x0402800800040080ULL, 0x000B000401004208ULL, 0x2409000100040200ULL, 0x0001002100004082ULL,
    0x0022878001E24000ULL, 0x1090810021004010ULL, 0x0801030040200012ULL, 0x0500808008001000ULL, 0x0A08018014000880ULL, 0x8000808004000200ULL, 0x0201008080010200ULL, 0x0801020000441091ULL,
    0x0000800080204005ULL, 0x1040200040100048ULL, 0x0000120200402082ULL, 0x0D14880480100080ULL, 0x0012040280080080ULL, 0x0100040080020080ULL, 0x9020010080800200ULL, 0x0813241200148449ULL,
    0x0491604001800080ULL, 0x0100401000402001ULL, 0x4820010021001040ULL, 0x0400402202000812ULL, 0x0209009005000802ULL, 0x0810800601800400ULL, 0x4301083214000150ULL, 0x204026458E001401ULL,
    0x0040204000808000ULL, 0x8001008040010020ULL, 0x8410820820420010ULL, 0x1003001000090020ULL, 0x0804040008008080ULL, 0x0012000810020004ULL, 0x1000100200040208ULL, 0x430000A044020001ULL,
    0x0280009023410300ULL, 0x00E0100040002240ULL, 0x0000200100401700ULL, 0x2244100408008080ULL, 0x0008000400801980ULL, 0x0002000810040200ULL, 0x8010100228810400ULL, 0x2000009044210200ULL,
    0x4080008040102101ULL, 0x0040002080411D01ULL, 0x2005524060000901ULL, 0x0502001008400422ULL, 0x489A000810200402ULL, 0x0001004400080A13ULL, 0x4000011008020084ULL, 0x0026002114058042ULL,
};

const std::array<std::uint64_t, 64> BISHOP_MAGICS = {
    0x89A1121896040240ULL, 0x2004844802002010ULL, 0x2068080051921000ULL, 0x62880A0220200808ULL, 0x0004042004000000ULL, 0x0100822020200011ULL, 0xC00444222012000AULL, 0x0028808801216001ULL,
    0x0400492088408100ULL, 0x0201C401040C0084ULL, 0x00840800910A0010ULL, 0x0000082080240060ULL, 0x2000840504006000ULL, 0x30010C4108405004ULL, 0x1008005410080802ULL, 0x8144042209100900ULL,
    0x0208081020014400ULL, 0x004800201208CA00ULL, 0x0F18140408012008ULL, 0x1004002802102001ULL, 0x0841000820080811ULL, 0x0040200200A42008ULL, 0x0000800054042000ULL, 0x88010400410C9000ULL,
    0x0520040470104290ULL, 0x1004040051500081ULL, 0x2002081833080021ULL, 0x000400C00C010142ULL, 0x941408200C002000ULL, 0x0658810000806011ULL, 0x0188071040440A00ULL, 0x4800404002011C00ULL,
    0x0104442040404200ULL, 0x0511080202091021ULL, 0x0004022401120400ULL, 0x80C0040400080120ULL, 0x8040010040820802ULL, 0x0480810700020090ULL, 0x0102008E00040242ULL, 0x0809005202050100ULL,
    0x8002024220104080ULL, 0x0431008804142000ULL, 0x0019001802081400ULL, 0x0200014208040080ULL, 0x3308082008200100ULL, 0x041010500040C020ULL, 0x4012020C04210308ULL, 0x208220A202004080ULL,
    0x0111040120082000ULL, 0x6803040141280A00ULL, 0x2101004202410000ULL, 0x8200000041108022ULL, 0x0000021082088000ULL, 0x0002410204010040ULL, 0x0040100400809000ULL, 0x0822088220820214ULL,
    0x0040808090012004ULL, 0x00910224040218C9ULL, 0x0402814422015008ULL, 0x0090014004842410ULL, 0x0001000042304105ULL, 0x0010008830412A00ULL, 0x2520081090008908ULL, 0x40102000A0A60140ULL,
};

// 64 minus the number of relevance-mask squares.
const std::array<std::uint16_t, 64> ROOK_SHIFTS = {
    52, 53, 53, 53, 53, 53, 53, 52,
    53, 54, 54, 54, 54, 54, 54, 53,
    53, 54, 54, 54, 54, 54, 54, 53,
    53, 54, 54, 54, 54, 54, 54, 53,
    53, 54, 54, 54, 54, 54, 54, 53,
    53, 54, 54, 54, 54, 54, 54, 53,
    53, 54, 54, 54, 54, 54, 54, 53,
    52, 53, 53, 53, 53, 53, 53, 52,
};

const std::array<std::uint16_t, 64> BISHOP_SHIFTS = {
    58, 59, 59, 59, 59, 59, 59, 58,
    59, 59, 59, 59, 59, 59, 59, 59,
    59, 59, 57, 57, 57, 57, 59, 59,
    59, 59, 57, 55, 55, 57, 59, 59,
    59, 59, 57, 55, 55, 57, 59, 59,
    59, 59, 57, 57, 57, 57, 59, 59,
    59, 59, 59, 59, 59, 59, 59, 59,
    58, 59, 59, 59, 59, 59, 59, 58,
};

namespace {

// Step targets of one square, in the order of the step list; squares off the
// board or across an edge are left out.
struct Steps {
    std::uint8_t count = 0;
    std::array<std::uint8_t, 8> to{};
};

template <std::size_t N>
constexpr std::array<Steps, 64> make_steps(const std::array<std::int16_t, N>& directions, std::uint16_t threshold) {
    std::array<Steps, 64> table{};
    for (std::uint16_t s = 0; s < 64; ++s)
        for (const std::int16_t d : directions)
            if (const auto to = validate_move(s, d, threshold)) table[s].to[table[s].count++] = static_cast<std::uint8_t>(*to);
    return table;
}

template <std::size_t N>
constexpr std::array<Bitboard, 64> make_step_masks(const std::array<std::int16_t, N>& directions,
                                                   std::uint16_t threshold) {
    std::array<Bitboard, 64> masks{};
    for (std::uint16_t s = 0; s < 64; ++s)
        for (const std::int16_t d : directions)
            if (const auto to = validate_move(s, d, threshold)) masks[s] |= square_bit(*to);
    return masks;
}

constexpr auto KING_STEPS = make_steps(KING_DIRECTIONS, 1);
constexpr auto KNIGHT_STEPS = make_steps(KNIGHT_DIRECTIONS, 2);
constexpr auto KNIGHT_ATTACKS = make_step_masks(KNIGHT_DIRECTIONS, 2);

// Squares from which a pawn attacks square s, seen from s: black pawns attack
// a square from s + 7 and s + 9, white pawns from s - 7 and s - 9.
constexpr std::array<std::int16_t, 2> BLACK_PAWN_ORIGINS = {7, 9};
constexpr std::array<std::int16_t, 2> WHITE_PAWN_ORIGINS = {-7, -9};
constexpr auto BLACK_PAWN_ATTACKERS = make_step_masks(BLACK_PAWN_ORIGINS, 1);
constexpr auto WHITE_PAWN_ATTACKERS = make_step_masks(WHITE_PAWN_ORIGINS, 1);

// Pawn capture targets, towards the first side then the second: white pawns
// up-left then up-right (+7, +9), black pawns down-right then down-left.
constexpr auto WHITE_PAWN_CAPTURES = make_steps(std::array<std::int16_t, 2>{7, 9}, 1);
constexpr auto BLACK_PAWN_CAPTURES = make_steps(std::array<std::int16_t, 2>{-7, -9}, 1);

constexpr Square E1 = 4, E8 = 60;

// For two squares on one rank, file or diagonal: the squares strictly between
// them, and the whole line through both. Empty for squares not in line.
struct Lines {
    std::array<std::array<Bitboard, 64>, 64> between{};
    std::array<std::array<Bitboard, 64>, 64> line{};
};

constexpr Lines make_lines() {
    Lines lines;
    for (Square a = 0; a < 64; ++a) {
        // Rook and bishop directions come in opposite pairs: 8, -8, 1, -1, 9, -9, 7, -7.
        for (std::size_t d = 0; d < 8; d += 2) {
            const auto& directions = d < 4 ? ROOK_DIRECTIONS : BISHOP_DIRECTIONS;
            Bitboard whole = square_bit(a);
            for (const std::int16_t step : {directions[d % 4], directions[d % 4 + 1]}) {
                Bitboard passed = 0;
                for (auto s = validate_move(static_cast<std::uint16_t>(a), step, 1); s;
                     s = validate_move(*s, step, 1)) {
                    lines.between[a][*s] = passed;
                    passed |= square_bit(*s);
                }
                whole |= passed;
            }
            for (Square s = 0; s < 64; ++s)
                if (s != a && has(whole, s)) lines.line[a][s] = whole;
        }
    }
    return lines;
}

constexpr Lines LINES = make_lines();

}  // namespace

std::vector<std::size_t> get_bits(Bitboard n) {
    std::vector<std::size_t> squares;
    while (n) squares.push_back(pop_lowest(n));
    return squares;
}

Bitboard get_rook_cross(Square square) {
    const Bitboard cross = (0x0001010101010100ULL << file_of(square)) | (Bitboard{0x7E} << (rank_of(square) * 8));
    return cross & ~square_bit(square);
}

Bitboard get_bishop_cross(Square square) {
    Bitboard cross = 0;
    for (const std::int16_t jump : {std::int16_t{9}, std::int16_t{7}, std::int16_t{-9}, std::int16_t{-7}}) {
        std::uint16_t t = static_cast<std::uint16_t>(square);
        while (const auto to = validate_move(t, jump, 1)) {
            if (rank_of(*to) == 0 || rank_of(*to) == 7 || file_of(*to) == 0 || file_of(*to) == 7) break;
            cross |= square_bit(*to);
            t = *to;
        }
    }
    return cross;
}

Bitboard get_king_circle(Square square) {
    const Bitboard king = square_bit(square);
    return (king << 8) | (king >> 8) | ((king & NOT_FILE_H) << 1) | ((king & NOT_FILE_A) >> 1) |
           ((king & NOT_FILE_H) << 9) | ((king & NOT_FILE_H) >> 7) | ((king & NOT_FILE_A) << 7) |
           ((king & NOT_FILE_A) >> 9);
}

Bitboard get_moves_from_blockers(Square square, Bitboard blocker_bitboard,
                                 const std::array<std::int16_t, 4>& directions) {
    Bitboard attacks = 0;
    for (const std::int16_t direction : directions) {
        std::uint16_t t = static_cast<std::uint16_t>(square);
        while (const auto to = validate_move(t, direction, 1)) {
            attacks |= square_bit(*to);
            if (has(blocker_bitboard, *to)) break;
            t = *to;
        }
    }
    return attacks;
}

namespace {

// Attack sets of the four rays of a slider, computed with whole-ray masks:
// each ray stops at its first blocker, which it includes.
struct Rays {
    std::array<std::array<Bitboard, 4>, 64> ray{};
    std::array<std::int16_t, 4> direction{};
};

Rays make_rays(const std::array<std::int16_t, 4>& directions) {
    Rays rays;
    rays.direction = directions;
    for (Square s = 0; s < 64; ++s) {
        for (std::size_t d = 0; d < 4; ++d) {
            std::uint16_t t = static_cast<std::uint16_t>(s);
            while (const auto to = validate_move(t, directions[d], 1)) {
                rays.ray[s][d] |= square_bit(*to);
                t = *to;
            }
        }
    }
    return rays;
}

Bitboard ray_attacks(const Rays& rays, Square s, Bitboard blockers) {
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

}  // namespace

MoveGenerator::MoveGenerator()
    // calloc hands out zeroed pages lazily: only the entries written below are touched.
    : sliding_moves_(static_cast<Bitboard*>(std::calloc(TABLE_COUNT * TABLE_SIZE, sizeof(Bitboard)))) {
    if (!sliding_moves_) throw std::bad_alloc();
    const Rays rook_rays = make_rays(ROOK_DIRECTIONS);
    const Rays bishop_rays = make_rays(BISHOP_DIRECTIONS);
    for (Square s = 0; s < 64; ++s) {
        for (const unsigned kind : {ROOK_KIND, BISHOP_KIND}) {
            const bool rook = kind == ROOK_KIND;
            Magic& m = magics_[2 * s + (rook ? 0 : 1)];
            m.mask = rook ? get_rook_cross(s) : get_bishop_cross(s);
            m.magic = rook ? ROOK_MAGICS[s] : BISHOP_MAGICS[s];
            m.shift = (rook ? ROOK_SHIFTS[s] : BISHOP_SHIFTS[s]) % 64;
            Bitboard* entries = sliding_moves_.get() + (2 * s + (rook ? 0 : 1)) * TABLE_SIZE;
            m.table = entries;
            // Every subset of the mask, in the order of a counter whose bit k
            // stands for the k-th lowest mask square.
            Bitboard blockers = 0;
            do {
                const std::uint64_t key = (blockers * m.magic) >> m.shift;
                if (key >= TABLE_SIZE) fail("index out of range: magic key " + std::to_string(key));
                entries[key] = ray_attacks(rook ? rook_rays : bishop_rays, s, blockers);
                blockers = (blockers - m.mask) & m.mask;
            } while (blockers);
        }
    }
}

bool MoveGenerator::square_in_check(const Pieces& p, Square square, std::uint64_t to_move) const {
    const unsigned offset = to_move ? BLACK_OFFSET : 0;
    if (KNIGHT_ATTACKS[square] & p[offset + KNIGHT]) return true;
    if ((to_move ? BLACK_PAWN_ATTACKERS : WHITE_PAWN_ATTACKERS)[square] & p[offset + PAWN]) return true;
    const Bitboard occupied = occupancy(p);
    const Bitboard queens = p[offset + QUEEN];
    if ((slider_attacks(square, occupied, ROOK_KIND) & (p[offset + ROOK] | queens)) |
        (slider_attacks(square, occupied, BISHOP_KIND) & (p[offset + BISHOP] | queens)))
        return true;
    return get_king_circle(square) & p[offset + KING];
}

Bitboard MoveGenerator::attackers(const Pieces& p, Square square, std::uint64_t to_move, Bitboard occupied) const {
    const unsigned offset = to_move ? BLACK_OFFSET : 0;
    const Bitboard queens = p[offset + QUEEN];
    return (KNIGHT_ATTACKS[square] & p[offset + KNIGHT]) |
           ((to_move ? BLACK_PAWN_ATTACKERS : WHITE_PAWN_ATTACKERS)[square] & p[offset + PAWN]) |
           (slider_attacks(square, occupied, ROOK_KIND) & (p[offset + ROOK] | queens)) |
           (slider_attacks(square, occupied, BISHOP_KIND) & (p[offset + BISHOP] | queens)) |
           (get_king_circle(square) & p[offset + KING]);
}

Bitboard MoveGenerator::pinned_pieces(const Pieces& p, Square king, std::uint64_t to_move, Bitboard occupied) const {
    const unsigned offset = to_move ? BLACK_OFFSET : 0;
    // The sliders of theirs that would attack the king if none of its own
    // pieces stood in the way; one own piece alone between is pinned.
    const Bitboard theirs = colour_mask(p, offset);
    const Bitboard queens = p[offset + QUEEN];
    Bitboard snipers = (slider_attacks(king, theirs, ROOK_KIND) & (p[offset + ROOK] | queens)) |
                       (slider_attacks(king, theirs, BISHOP_KIND) & (p[offset + BISHOP] | queens));
    Bitboard pinned = 0;
    while (snipers) {
        const Bitboard shield = LINES.between[king][pop_lowest(snipers)] & occupied;
        if (shield && !(shield & (shield - 1))) pinned |= shield;
    }
    return pinned;
}

bool MoveGenerator::king_attacked(const Pieces& pieces, std::uint64_t side) const {
    const Bitboard king = pieces[side ? KING : BLACK_OFFSET + KING];
    if (!king) return false;  // no king, nothing to attack
    return square_in_check(pieces, lowest(king), side);
}

bool MoveGenerator::can_castle(const Board& board, std::initializer_list<Square> squares, Bitboard blockers,
                               std::optional<Square> queen_side) const {
    for (const Square s : squares)
        if (has(blockers, s) || square_in_check(board, s, board.to_move())) return false;
    return !(queen_side && has(blockers, *queen_side));
}

void MoveGenerator::king_moves(const Board& board, Bitboard self_mask, Bitboard opp_mask, MoveList& out) const {
    const bool white = board.to_move();
    const Bitboard kings = board.pieces[(white ? 0 : BLACK_OFFSET) + KING];
    for (Bitboard b = kings; b;) {
        const Square from = pop_lowest(b);
        const Steps& steps = KING_STEPS[from];
        for (std::uint8_t i = 0; i < steps.count; ++i)
            if (!has(self_mask, steps.to[i])) out.push(from, steps.to[i], ORDINARY);
    }
    const Square home = white ? E1 : E8;
    const unsigned king_side = white ? WHITE_KING_SIDE : BLACK_KING_SIDE;
    const unsigned queen_side = white ? WHITE_QUEEN_SIDE : BLACK_QUEEN_SIDE;
    const bool may_castle = ((board.info >> king_side) & 1) || ((board.info >> queen_side) & 1);
    if (!may_castle || !has(kings, home) || square_in_check(board, home, white)) return;
    const Bitboard blockers = self_mask | opp_mask;
    if (((board.info >> king_side) & 1) && can_castle(board, {home + 1, home + 2}, blockers, std::nullopt))
        out.push(home, home + 2, CASTLING);
    if (((board.info >> queen_side) & 1) && can_castle(board, {home - 2, home - 1}, blockers, home - 3))
        out.push(home, home - 2, CASTLING);
}

void MoveGenerator::pawn_moves(const Board& board, unsigned offset, Bitboard self_mask, Bitboard opp_mask,
                               MoveList& out) const {
    const bool white = offset == 0;
    const Square start_rank = white ? 1 : 6;
    const Square end_rank = white ? 6 : 1;
    const Square enpass_rank = white ? 4 : 3;
    const unsigned enpass_offset = white ? EN_PASSANT_WHITE : EN_PASSANT_BLACK;
    const auto& captures = white ? WHITE_PAWN_CAPTURES : BLACK_PAWN_CAPTURES;
    const Bitboard occupied = self_mask | opp_mask;
    const auto promotions = [&](Square from, Square to) {
        for (unsigned special = PROMOTE_KNIGHT; special <= PROMOTE_QUEEN; ++special) out.push(from, to, special);
    };

    for (Bitboard b = board.pieces[offset + PAWN]; b;) {
        const Square i = pop_lowest(b);
        const Steps& targets = captures[i];
        for (std::uint8_t k = 0; k < targets.count; ++k) {
            const Square to = targets.to[k];
            if (has(opp_mask, to)) {
                if (rank_of(i) == end_rank)
                    promotions(i, to);
                else
                    out.push(i, to, ORDINARY);
            }
            if (rank_of(i) == enpass_rank && ((board.info >> (enpass_offset + file_of(to))) & 1))
                out.push(i, to, EN_PASSANT);
        }
        const unsigned to = white ? i + 8 : i - 8;  // wraps past 63 below rank 1
        if (to > 63 || has(occupied, to)) continue;
        if (rank_of(i) == end_rank) {
            promotions(i, to);
            continue;
        }
        out.push(i, to, ORDINARY);
        if (rank_of(i) == start_rank) {
            const unsigned to2 = white ? i + 16 : i - 16;
            if (to2 <= 63 && !has(occupied, to2)) out.push(i, to2, DOUBLE_STEP);
        }
    }
}

void MoveGenerator::magic_moves(const Board& board, unsigned offset, Bitboard self_mask, Bitboard opp_mask,
                                unsigned piece_type, MoveList& out) const {
    const Bitboard occupied = self_mask | opp_mask;
    // Queens take part in both passes.
    for (Bitboard b = board.pieces[offset + piece_type] | board.pieces[offset + QUEEN]; b;) {
        const Square s = pop_lowest(b);
        for (Bitboard targets = slider_attacks(s, occupied, piece_type) & ~self_mask; targets;)
            out.push(s, pop_lowest(targets), ORDINARY);
    }
}

void MoveGenerator::pseudo_moves(const Board& board, MoveList& out) const {
    const bool white = board.to_move();
    const unsigned self_offset = white ? 0 : BLACK_OFFSET;
    const Bitboard self_mask = board.colour_mask(self_offset);
    const Bitboard opp_mask = board.colour_mask(BLACK_OFFSET - self_offset);
    out.size = 0;
    king_moves(board, self_mask, opp_mask, out);
    for (Bitboard b = board.pieces[self_offset + KNIGHT]; b;) {
        const Square from = pop_lowest(b);
        const Steps& steps = KNIGHT_STEPS[from];
        for (std::uint8_t i = 0; i < steps.count; ++i)
            if (!has(self_mask, steps.to[i])) out.push(from, steps.to[i], ORDINARY);
    }
    pawn_moves(board, self_offset, self_mask, opp_mask, out);
    magic_moves(board, self_offset, self_mask, opp_mask, ROOK_KIND, out);
    magic_moves(board, self_offset, self_mask, opp_mask, BISHOP_KIND, out);
}

namespace {

// True when no square is held by two bitboards.
bool words_disjoint(const Pieces& pieces) {
    Bitboard seen = 0, twice = 0;
    for (const Bitboard b : pieces) {
        twice |= seen & b;
        seen |= b;
    }
    return twice == 0;
}

}  // namespace

void MoveGenerator::moves(Board& board, MoveList& out) const {
    pseudo_moves(board, out);
    const Pieces& pieces = board.pieces;
    const Bitboard occupied = board.occupancy();
    const std::uint64_t side = board.to_move();
    const Bitboard king = pieces[side ? KING : BLACK_OFFSET + KING];

    // The full test plays the move on a scratch copy of the bitboards, exactly
    // as push_move would play it, and tests the mover's king there; dropping
    // the copy takes the move back. The board itself is never written. A move
    // the board would refuse to play is not legal; only malformed positions
    // list one: an en-passant flag pointing at the mover's own piece, or a
    // square held twice, where the piece that moves can differ from the one
    // the move was generated for.
    const auto keeps_king_safe = [&](ChessMove move) {
        const MoveRoles roles = move_roles(pieces, occupied, move);
        if (roles.problem != MoveRoles::Problem::none) return false;
        Pieces after = pieces;
        apply_move(after, move, roles);
        return !king_attacked(after, side);
    };

    // The shortcuts below need an ordinary placement: one king, no square
    // held twice. Anything else gets the full test for every move.
    if (!king || (king & (king - 1)) || !words_disjoint(pieces)) {
        std::size_t kept = 0;
        for (const ChessMove move : out)
            if (keeps_king_safe(move)) out.moves[kept++] = move;
        out.size = kept;
        return;
    }

    const Square k = lowest(king);
    const Bitboard checkers = attackers(pieces, k, side, occupied);
    // Squares a move of another piece must reach: anywhere when the king is
    // not in check, the checker or a square between it and the king when one
    // piece gives check, none when two do.
    Bitboard targets = ~Bitboard{0};
    if (checkers) targets = (checkers & (checkers - 1)) ? 0 : checkers | LINES.between[k][lowest(checkers)];
    const Bitboard pinned = pinned_pieces(pieces, k, side, occupied);

    std::size_t kept = 0;
    for (const ChessMove move : out) {
        const Square from = move.from(), to = move.to();
        bool legal;
        if (move.special() == EN_PASSANT) {
            // Rare, and it takes a pawn off a second square.
            legal = keeps_king_safe(move);
        } else if (move.special() == CASTLING) {
            // Listed only when the king's home, the square it crosses and the
            // one it lands on are not attacked. The move vacates the home
            // square, but a ray through it to the landing square would have
            // attacked the home too, and the corner the rook leaves lies on
            // no ray to the landing square.
            legal = true;
        } else if (from == k) {
            // The king must not stand attacked where it lands; it no longer
            // shields that square from a slider behind it.
            legal = !attackers(pieces, to, side, occupied ^ king);
        } else {
            // Any other move exposes the king only by leaving the line of a
            // pin, and must deal with a check.
            legal = has(targets, to) && !(has(pinned, from) && !has(LINES.line[k][from], to));
        }
        out.moves[kept] = move;
        kept += legal;
    }
    out.size = kept;
}

std::uint64_t MoveGenerator::perft(Board& board, int depth) const {
    if (depth <= 0) return 1;
    MoveList list;
    moves(board, list);
    if (depth == 1) return list.size;
    std::uint64_t nodes = 0;
    for (const ChessMove move : list) {
        board.push_move(move);
        nodes += perft(board, depth - 1);
        board.pop_move();
    }
    return nodes;
}

}  // namespace mirelo
