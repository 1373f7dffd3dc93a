#include "move_generator.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

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

// Step targets of one square, in the order of the step list; squares off the
// board or across an edge are left out.
struct Steps {
    std::uint8_t count = 0;
    std::array<std::uint8_t, 8> to{};
};

template <std::size_t N>
constexpr std::array<Steps, 64> make_steps(const std::array<int, N>& directions, unsigned max_file_change) {
    std::array<Steps, 64> table{};
    for (Square s = 0; s < 64; ++s)
        for (const int d : directions)
            if (const auto to = step_target(s, d, max_file_change))
                table[s].to[table[s].count++] = static_cast<std::uint8_t>(*to);
    return table;
}

constexpr auto KING_STEPS = make_steps(KING_DIRECTIONS, 1);
constexpr auto KNIGHT_STEPS = make_steps(KNIGHT_DIRECTIONS, 2);

// Pawn captures of each colour as ordered targets (PAWN_ATTACKS has them as masks).
constexpr std::array<std::array<Steps, 64>, 2> PAWN_CAPTURES = {make_steps(side(WHITE).pawn_captures, 1),
                                                                 make_steps(side(BLACK).pawn_captures, 1)};

// For two squares on one rank, file or diagonal: the squares strictly between
// them, and the whole line through both. Empty for squares not in line.
struct Lines {
    std::array<std::array<Bitboard, 64>, 64> between{};
    std::array<std::array<Bitboard, 64>, 64> line{};
};

constexpr Lines make_lines() {
    Lines lines;
    for (Square a = 0; a < 64; ++a) {
        // The rook and bishop directions come in opposite pairs: 8, -8, 1, -1, 9, -9, 7, -7.
        for (const auto& directions : {ROOK_DIRECTIONS, BISHOP_DIRECTIONS}) {
            for (std::size_t d = 0; d < 4; d += 2) {
                Bitboard whole = square_bit(a);
                for (const int jump : {directions[d], directions[d + 1]}) {
                    Bitboard passed = 0;
                    for (auto to = step_target(a, jump, 1); to; to = step_target(*to, jump, 1)) {
                        lines.between[a][*to] = passed;
                        passed |= square_bit(*to);
                    }
                    whole |= passed;
                }
                for (Square s = 0; s < 64; ++s)
                    if (s != a && has(whole, s)) lines.line[a][s] = whole;
            }
        }
    }
    return lines;
}

constexpr Lines LINES = make_lines();

constexpr Bitboard RANK_1 = 0xFF, FILE_A = 0x0101010101010101ULL;
constexpr Bitboard BOARD_EDGES = RANK_1 | (RANK_1 << 56) | FILE_A | (FILE_A << 7);

}  // namespace

Bitboard rook_relevance_mask(Square square) {
    // The rank and the file through the square, each without its own two ends.
    const Bitboard file = (FILE_A << file_of(square)) & ~RANK_1 & ~(RANK_1 << 56);
    const Bitboard rank = (RANK_1 << (8 * rank_of(square))) & ~FILE_A & ~(FILE_A << 7);
    return (file | rank) & ~square_bit(square);
}

Bitboard bishop_relevance_mask(Square square) {
    Bitboard mask = 0;
    for (const int jump : BISHOP_DIRECTIONS)
        for (auto to = step_target(square, jump, 1); to; to = step_target(*to, jump, 1)) mask |= square_bit(*to);
    return mask & ~BOARD_EDGES;
}

MoveGenerator::MoveGenerator()
    // calloc hands out zeroed pages lazily: only the entries written below are touched.
    : sliding_moves_(static_cast<Bitboard*>(std::calloc(TABLE_COUNT * TABLE_SIZE, sizeof(Bitboard)))) {
    if (!sliding_moves_) throw std::bad_alloc();
    for (Square s = 0; s < 64; ++s) {
        for (const PieceType slider : {ROOK, BISHOP}) {
            const bool rook = slider == ROOK;
            Magic& m = magics_[table_index(s, slider)];
            m.mask = rook ? rook_relevance_mask(s) : bishop_relevance_mask(s);
            m.magic = MAGIC_NUMBERS[slider_index(slider)][s];
            m.shift = 64 - count_squares(m.mask);
            Bitboard* entries = sliding_moves_.get() + table_index(s, slider) * TABLE_SIZE;
            m.attacks = entries;
            // Every subset of the mask, in the order of a counter whose bit k
            // stands for the k-th lowest mask square. A mask has at most 12
            // squares, so every index is below 2^12 = TABLE_SIZE.
            Bitboard blockers = 0;
            do {
                entries[m.index(blockers)] = ray_attacks(s, blockers, slider);
                blockers = (blockers - m.mask) & m.mask;
            } while (blockers);
        }
    }
}

Bitboard MoveGenerator::pinned_pieces(const Pieces& p, Square king, Color c, Bitboard occupied) const {
    // The sliders of the other colour that would attack the king if none of
    // its own pieces stood in the way; one own piece alone between is pinned.
    const Color them = ~c;
    const Bitboard queens = p[make_piece(them, QUEEN)];
    const Bitboard theirs = pieces_of(p, them);
    Bitboard snipers = (slider_attacks(king, theirs, ROOK) & (p[make_piece(them, ROOK)] | queens)) |
                       (slider_attacks(king, theirs, BISHOP) & (p[make_piece(them, BISHOP)] | queens));
    Bitboard pinned = 0;
    while (snipers) {
        const Bitboard shield = LINES.between[king][pop_lowest(snipers)] & occupied;
        if (shield && !(shield & (shield - 1))) pinned |= shield;
    }
    return pinned;
}

namespace {

// Ordinary moves from one square to every target, lowest target first.
void add_targets(MoveList& out, Square from, Bitboard targets) {
    while (targets) out.push(from, pop_lowest(targets), ORDINARY);
}
void add_targets(MoveCount& out, Square, Bitboard targets) { out.size += count_squares(targets); }

// Ordinary moves from one square to the targets in allowed, which holds only
// targets of the steps, in the order of the step list.
void add_steps(MoveList& out, Square from, const Steps& steps, Bitboard allowed) {
    for (std::uint8_t i = 0; i < steps.count; ++i)
        if (has(allowed, steps.to[i])) out.push(from, steps.to[i], ORDINARY);
}
void add_steps(MoveCount& out, Square, const Steps&, Bitboard allowed) { out.size += count_squares(allowed); }

}  // namespace

// What a listed move must respect beyond the piece's own rules. Nothing for a
// pseudo-legal move. A legal one answers a check, keeps a pinned piece on the
// line through its king, and never puts the king on an attacked square.
struct MoveGenerator::Limits {
    bool legal;
    Square king;       // the one king of the side to move, when legal
    Bitboard targets;  // where a piece other than a king may land
    Bitboard pinned;

    Bitboard allowed(Square from) const {
        return has(pinned, from) ? targets & LINES.line[king][from] : targets;
    }
};

bool MoveGenerator::keeps_king_safe(const Position& position, ChessMove move) const {
    // Played on a scratch copy of the bitboards, exactly as push_move would
    // play it; dropping the copy takes the move back. A move the board would
    // refuse to play is not legal. Only malformed positions list one: an
    // en-passant flag pointing at the mover's own piece, or a square held
    // twice, where the piece that moves can differ from the one the move was
    // generated for.
    const MoveRoles roles = move_roles(position.pieces, position.occupancy(), move);
    if (roles.problem != MoveRoles::Problem::none) return false;
    Pieces after = position.pieces;
    apply_move(after, move, roles);
    return !king_attacked(after, position.side_to_move());
}

template <typename Out>
void MoveGenerator::king_moves(const Position& position, Color us, const Limits& limits, Bitboard own,
                               Bitboard occupied, Out& out) const {
    const Bitboard kings = position.pieces[make_piece(us, KING)];
    for (Bitboard b = kings; b;) {
        const Square from = pop_lowest(b);
        Bitboard allowed = KING_ATTACKS[from] & ~own;
        // A legal one must not be attacked where it lands; it no longer
        // shields that square from a slider behind it.
        if (limits.legal)
            for (Bitboard t = allowed; t;) {
                const Square to = pop_lowest(t);
                if (attacked(position.pieces, to, ~us, occupied ^ kings)) allowed ^= square_bit(to);
            }
        add_steps(out, from, KING_STEPS[from], allowed);
    }
    // Castling: the king on its home square and not in check, the squares
    // between king and rook empty, and the squares the king passes and lands on
    // not attacked. The rook itself is not looked at. That makes the move
    // legal too: it vacates the home square, but a ray through it to the
    // landing square would have attacked the home, and the corner the rook
    // leaves lies on no ray to the landing square.
    const SideFacts& ours = side(us);
    const std::uint64_t rights = info_bit(ours.castling[KING_SIDE].right) | info_bit(ours.castling[QUEEN_SIDE].right);
    if (!(position.info & rights) || !has(kings, ours.king_home) ||
        attacked(position.pieces, ours.king_home, ~us, occupied))
        return;
    for (const Castling& castling : ours.castling) {
        if (!((position.info >> castling.right) & 1) || (occupied & castling.must_be_empty)) continue;
        bool safe = true;
        for (Bitboard b = castling.must_be_safe; b && safe;)
            safe = !attacked(position.pieces, pop_lowest(b), ~us, occupied);
        if (safe) out.push(ours.king_home, castling.king_to, CASTLING);
    }
}

template <typename Out>
void MoveGenerator::pawn_moves(const Position& position, Color us, const Limits& limits, Bitboard theirs,
                               Bitboard occupied, Out& out) const {
    const SideFacts& ours = side(us);
    const auto promotions = [&](Square from, Square to) {
        for (unsigned special = PROMOTE_KNIGHT; special <= PROMOTE_QUEEN; ++special) out.push(from, to, special);
    };
    // The en-passant flag alone decides, for a pawn on its en-passant rank;
    // the target square is not examined. Such a pawn's capture targets are the
    // rank beyond.
    const Bitboard en_passant_files = (position.info >> ours.en_passant_bit) & 0xFF;
    const Bitboard en_passant_targets = en_passant_files
                                        << (8 * static_cast<int>(ours.en_passant_rank + ours.forward));

    for (Bitboard b = position.pieces[make_piece(us, PAWN)]; b;) {
        const Square from = pop_lowest(b);
        const Bitboard allowed = limits.allowed(from);
        if (PAWN_ATTACKS[us][from] & (theirs | en_passant_targets)) {
            const Steps& targets = PAWN_CAPTURES[us][from];
            for (std::uint8_t k = 0; k < targets.count; ++k) {
                const Square to = targets.to[k];
                if (has(theirs, to) && has(allowed, to)) {
                    if (rank_of(from) == ours.promotion_rank)
                        promotions(from, to);
                    else
                        out.push(from, to, ORDINARY);
                }
                // En passant takes a pawn off a second square: a legal one is
                // tested by playing it.
                if (has(en_passant_targets, to) &&
                    (!limits.legal || keeps_king_safe(position, ChessMove::raw(from, to, EN_PASSANT))))
                    out.push(from, to, EN_PASSANT);
            }
        }
        const Square to = from + static_cast<Square>(ours.pawn_push);  // wraps past 63 below rank 1
        if (to > 63 || has(occupied, to)) continue;
        if (rank_of(from) == ours.promotion_rank) {
            if (has(allowed, to)) promotions(from, to);
            continue;
        }
        if (has(allowed, to)) out.push(from, to, ORDINARY);
        if (rank_of(from) == ours.start_rank) {
            const Square to2 = to + static_cast<Square>(ours.pawn_push);
            if (to2 <= 63 && !has(occupied, to2) && has(allowed, to2)) out.push(from, to2, DOUBLE_STEP);
        }
    }
}

template <typename Out>
void MoveGenerator::generate(const Position& position, const Limits& limits, Out& out) const {
    const Color us = position.side_to_move();
    const Bitboard own = position.pieces_of(us);
    const Bitboard theirs = position.pieces_of(~us);
    const Bitboard occupied = own | theirs;
    king_moves(position, us, limits, own, occupied, out);
    for (Bitboard b = position.pieces[make_piece(us, KNIGHT)]; b;) {
        const Square from = pop_lowest(b);
        add_steps(out, from, KNIGHT_STEPS[from], KNIGHT_ATTACKS[from] & ~own & limits.allowed(from));
    }
    pawn_moves(position, us, limits, theirs, occupied, out);
    // Rooks and queens along ranks and files, then bishops and queens along
    // diagonals: queens take part in both passes.
    const Bitboard queens = position.pieces[make_piece(us, QUEEN)];
    for (const PieceType slider : {ROOK, BISHOP})
        for (Bitboard b = position.pieces[make_piece(us, slider)] | queens; b;) {
            const Square from = pop_lowest(b);
            add_targets(out, from, slider_attacks(from, occupied, slider) & ~own & limits.allowed(from));
        }
}

void MoveGenerator::pseudo_moves(const Position& position, MoveList& out) const {
    out.size = 0;
    generate(position, Limits{false, 0, ~Bitboard{0}, 0}, out);
}

template <typename Out>
void MoveGenerator::legal_moves(const Position& position, Out& out) const {
    out.size = 0;
    const Pieces& pieces = position.pieces;
    const Color us = position.side_to_move();
    const Bitboard king = pieces[make_piece(us, KING)];
    // Deciding from checks and pins needs an ordinary placement: one king, no
    // square held twice. Anything else plays every pseudo-legal move.
    if (!king || (king & (king - 1)) || squares_held_twice(pieces)) {
        MoveList pseudo;
        pseudo_moves(position, pseudo);
        for (const ChessMove move : pseudo)
            if (keeps_king_safe(position, move)) out.push(move.from(), move.to(), move.special());
        return;
    }
    // A move of a piece other than the king exposes the king only by leaving
    // the line of a pin, and must land on the checker or between it and the
    // king when one piece gives check; when two do, only the king can move.
    const Square k = lowest(king);
    const Bitboard occupied = position.occupancy();
    const Bitboard checkers = attackers_to(pieces, k, ~us, occupied);
    Bitboard targets = ~Bitboard{0};
    if (checkers) targets = (checkers & (checkers - 1)) ? 0 : checkers | LINES.between[k][lowest(checkers)];
    generate(position, Limits{true, k, targets, pinned_pieces(pieces, k, us, occupied)}, out);
}

void MoveGenerator::moves(const Position& position, MoveList& out) const { legal_moves(position, out); }

std::uint64_t MoveGenerator::perft(const Position& position, int depth) const {
    if (depth <= 0) return 1;
    if (depth == 1) {
        MoveCount count;
        legal_moves(position, count);
        return count.size;
    }
    MoveList list;
    legal_moves(position, list);
    // Each move is made on a copy: nothing to take back, no history or keys.
    std::uint64_t nodes = 0;
    const Bitboard occupied = position.occupancy();
    for (const ChessMove move : list)
        nodes += perft(position.after(move, move_roles(position.pieces, occupied, move)), depth - 1);
    return nodes;
}

}  // namespace mirelo
