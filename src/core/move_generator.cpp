#include "move_generator.h"

#include <type_traits>

namespace mirelo {

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
    for (Square s = SQ_A1; s <= SQ_H8; ++s)
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
    for (Square a = SQ_A1; a <= SQ_H8; ++a) {
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
                for (Square s = SQ_A1; s <= SQ_H8; ++s)
                    if (s != a && has(whole, s)) lines.line[a][s] = whole;
            }
        }
    }
    return lines;
}

constexpr Lines LINES = make_lines();

}  // namespace

Bitboard MoveGenerator::pinned_pieces(const Pieces& p, Square king, Color c, Bitboard occupied) const {
    // The sliders of the other colour that would attack the king if none of
    // its own pieces stood in the way; one own piece alone between is pinned.
    const Color them = ~c;
    const Bitboard queens = p[make_piece(them, QUEEN)];
    const Bitboard theirs = pieces_of(p, them);
    Bitboard snipers = (tables_->slider_attacks(king, theirs, ROOK) & (p[make_piece(them, ROOK)] | queens)) |
                       (tables_->slider_attacks(king, theirs, BISHOP) & (p[make_piece(them, BISHOP)] | queens));
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
        if (const auto to = static_cast<Square>(steps.to[i]); has(allowed, to)) out.push(from, to, ORDINARY);
}
void add_steps(MoveCount& out, Square, const Steps&, Bitboard allowed) { out.size += count_squares(allowed); }

// Whether generation would list any move: a count that stops at the first
// group of moves with one.
struct AnyMove : MoveCount {};

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
    // Played on a scratch copy of the bitboards, exactly as push would
    // play it; dropping the copy takes the move back. A move the board would
    // refuse to play is not legal. Only malformed positions list one: an
    // en-passant flag pointing at the mover's own piece, or a square held
    // twice, where the piece that moves can differ from the one the move was
    // generated for.
    const MoveRoles roles = move_roles(position.pieces, position.occupancy(), move);
    if (roles.problem != MoveRoles::Problem::none) return false;
    Pieces after = position.pieces;
    apply_move(after, move, roles);
    return !tables_->king_attacked(after, position.side_to_move());
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
                if (tables_->attacked(position.pieces, to, ~us, occupied ^ kings)) allowed ^= square_bit(to);
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
        tables_->attacked(position.pieces, ours.king_home, ~us, occupied))
        return;
    for (const Castling& castling : ours.castling) {
        if (!((position.info >> castling.right) & 1) || (occupied & castling.must_be_empty)) continue;
        bool safe = true;
        for (Bitboard b = castling.must_be_safe; b && safe;)
            safe = !tables_->attacked(position.pieces, pop_lowest(b), ~us, occupied);
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
                const auto to = static_cast<Square>(targets.to[k]);
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
        const Square to = offset_square(from, ours.pawn_push);
        if (!is_ok(to) || has(occupied, to)) continue;
        if (rank_of(from) == ours.promotion_rank) {
            if (has(allowed, to)) promotions(from, to);
            continue;
        }
        if (has(allowed, to)) out.push(from, to, ORDINARY);
        if (rank_of(from) == ours.start_rank) {
            const Square to2 = offset_square(to, ours.pawn_push);
            if (is_ok(to2) && !has(occupied, to2) && has(allowed, to2)) out.push(from, to2, DOUBLE_STEP);
        }
    }
}

template <typename Out>
void MoveGenerator::generate(const Position& position, const Limits& limits, Out& out) const {
    const Color us = position.side_to_move();
    const Bitboard own = position.pieces_of(us);
    const Bitboard theirs = position.pieces_of(~us);
    const Bitboard occupied = own | theirs;
    const auto kings = [&] { king_moves(position, us, limits, own, occupied, out); };
    const auto knights = [&] {
        for (Bitboard b = position.pieces[make_piece(us, KNIGHT)]; b;) {
            const Square from = pop_lowest(b);
            add_steps(out, from, KNIGHT_STEPS[from], KNIGHT_ATTACKS[from] & ~own & limits.allowed(from));
        }
    };
    const auto pawns = [&] { pawn_moves(position, us, limits, theirs, occupied, out); };
    const auto sliders = [&] {
        // Rooks and queens along ranks and files, then bishops and queens
        // along diagonals: queens take part in both passes.
        const Bitboard queens = position.pieces[make_piece(us, QUEEN)];
        for (const PieceType slider : {ROOK, BISHOP})
            for (Bitboard b = position.pieces[make_piece(us, slider)] | queens; b;) {
                const Square from = pop_lowest(b);
                add_targets(out, from, tables_->slider_attacks(from, occupied, slider) & ~own & limits.allowed(from));
            }
    };
    if constexpr (std::is_same_v<Out, AnyMove>) {
        // The king's moves last: each of its targets costs an attack test.
        knights();
        if (out.size) return;
        pawns();
        if (out.size) return;
        sliders();
        if (out.size) return;
        kings();
    } else {
        kings();
        knights();
        pawns();
        sliders();
    }
}

void MoveGenerator::pseudo_moves(const Position& position, MoveList& out) const {
    out.size = 0;
    generate(position, Limits{false, SQ_NONE, ~Bitboard{0}, 0}, out);
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
        for (const ChessMove move : pseudo) {
            if (!keeps_king_safe(position, move)) continue;
            out.push(move.from(), move.to(), move.special());
            if constexpr (std::is_same_v<Out, AnyMove>) return;
        }
        return;
    }
    // A move of a piece other than the king exposes the king only by leaving
    // the line of a pin, and must land on the checker or between it and the
    // king when one piece gives check; when two do, only the king can move.
    const Square k = lowest(king);
    const Bitboard occupied = position.occupancy();
    const Bitboard checkers = tables_->attackers_to(pieces, k, ~us, occupied);
    Bitboard targets = ~Bitboard{0};
    if (checkers) targets = (checkers & (checkers - 1)) ? 0 : checkers | LINES.between[k][lowest(checkers)];
    generate(position, Limits{true, k, targets, pinned_pieces(pieces, k, us, occupied)}, out);
}

void MoveGenerator::moves(const Position& position, MoveList& out) const { legal_moves(position, out); }

bool MoveGenerator::has_legal_move(const Position& position) const {
    AnyMove any;
    legal_moves(position, any);
    return any.size != 0;
}

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
