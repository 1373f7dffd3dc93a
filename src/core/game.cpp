#include "game.h"

#include <array>
#include <bit>
#include <cstddef>

#include "attacks.h"
#include "failure.h"

namespace mirelo {

namespace {

// A castling right is in force while its king and rook stand on their home
// squares; a right kept in the info word without them cannot be used.
std::uint64_t castling_in_force(const Pieces& pieces, std::uint64_t info) {
    std::uint64_t rights = 0;
    for (const Color c : {WHITE, BLACK}) {
        const SideFacts& facts = side(c);
        if (!has(pieces[make_piece(c, KING)], facts.king_home)) continue;
        for (const Castling& castling : facts.castling)
            if (((info >> castling.right) & 1) && has(pieces[make_piece(c, ROOK)], castling.rook_from))
                rights |= info_bit(castling.right);
    }
    return rights;
}

// The files of the side to move's en-passant rights on which a pawn of that
// side can take legally: the square passed over is empty, a pawn attacks it,
// and the capture does not leave the king attacked.
std::uint64_t legal_en_passant(const AttackTables& tables, const Pieces& pieces, std::uint64_t info) {
    const Color us = side_to_move(info);
    const SideFacts& ours = side(us);
    const std::uint64_t files = (info >> ours.en_passant_bit) & 0xFF;
    if (!files) return 0;
    const Bitboard occupied = occupancy(pieces);
    const Bitboard pawns = pieces[make_piece(us, PAWN)];
    std::uint64_t legal = 0;
    for (Bitboard f = files; f;) {
        const unsigned file = pop_lowest(f);
        const Square passed = make_square(file, relative_rank(us, 5));
        if (has(occupied, passed)) continue;
        // A pawn of ours attacks the square from where a pawn of theirs on it would attack.
        for (Bitboard from = PAWN_ATTACKS[~us][passed] & pawns; from;) {
            const ChessMove move = ChessMove::raw(pop_lowest(from), passed, EN_PASSANT);
            const MoveRoles roles = move_roles(pieces, occupied, move);
            if (roles.problem != MoveRoles::Problem::none) continue;
            Pieces after = pieces;
            apply_move(after, move, roles);
            if (!tables.king_attacked(after, us)) {
                legal |= std::uint64_t{1} << file;
                break;
            }
        }
    }
    return legal;
}

constexpr Bitboard DARK_SQUARES = 0xAA55AA55AA55AA55ULL;

// Can colour c never mate, whatever the other side does? A lone king cannot;
// one knight cannot unless the other side has a pawn, knight, bishop or rook
// to block its own king with; bishops cannot while every bishop on the board
// stands on one square colour and there is no pawn or knight.
bool side_insufficient(const Pieces& p, Color c) {
    if (p[make_piece(c, PAWN)] | p[make_piece(c, ROOK)] | p[make_piece(c, QUEEN)]) return false;
    if (p[make_piece(c, KNIGHT)])
        return std::popcount(pieces_of(p, c)) <= 2 &&
               !(pieces_of(p, ~c) & ~p[make_piece(~c, KING)] & ~p[make_piece(~c, QUEEN)]);
    if (p[make_piece(c, BISHOP)]) {
        const Bitboard bishops = p[make_piece(WHITE, BISHOP)] | p[make_piece(BLACK, BISHOP)];
        const bool one_colour = !(bishops & DARK_SQUARES) || !(bishops & ~DARK_SQUARES);
        return one_colour && !(p[make_piece(WHITE, PAWN)] | p[make_piece(BLACK, PAWN)] |
                               p[make_piece(WHITE, KNIGHT)] | p[make_piece(BLACK, KNIGHT)]);
    }
    return true;
}

}  // namespace

bool is_check(const Board& board) { return attack_tables().king_attacked(board.pieces, board.side_to_move()); }

std::uint64_t rights_in_force(const Pieces& pieces, std::uint64_t info) {
    const std::uint64_t en_passant = legal_en_passant(attack_tables(), pieces, info);
    return (info & WHITE_TO_MOVE) | castling_in_force(pieces, info) |
           en_passant << side(side_to_move(info)).en_passant_bit;
}

unsigned repetitions(const Board& board) {
    const Pieces& now = board.pieces;
    const std::uint64_t rights = rights_in_force(now, board.info);
    // No earlier position can have the current placement beyond the last
    // move that did what no later move undoes (see MoveProgress).
    const bool pawns_only_advance = board.history.empty() || (board.history.back().progress & PAWNS_ONLY_ADVANCE);
    const std::uint8_t barriers = REMOVES_PIECE | (pawns_only_advance ? ADVANCES_PAWN : 0);

    // Walk the history backwards, restoring the saved words into a scratch
    // placement as pop_move would, and keep a mask of the words that differ
    // from the current ones, so that only equal placements are compared further.
    Pieces past = now;
    unsigned differs = 0;
    unsigned count = 1;
    board.history.visit_back([&](const MoveRecord& record, const Bitboard* saved) {
        if (record.progress & barriers) return false;
        for (unsigned m = record.saved; m;) {
            const Piece piece = pop_piece(m);
            past[piece] = *saved++;
            differs = (differs & ~(1u << piece)) | static_cast<unsigned>(past[piece] != now[piece]) << piece;
        }
        const std::uint64_t info = (board.info & ~INFO_STATE_MASK) | record.info;
        if (differs == 0 && rights_in_force(past, info) == rights) ++count;
        return true;
    });
    return count;
}

bool insufficient_material(const Pieces& pieces) {
    return side_insufficient(pieces, WHITE) && side_insufficient(pieces, BLACK);
}

Outcome outcome(const MoveGenerator& generator, Board& board) {
    const bool stuck = !generator.has_legal_move(board);
    if (stuck && is_check(board)) return Outcome::checkmate;
    if (insufficient_material(board.pieces)) return Outcome::insufficient_material;
    if (stuck) return Outcome::stalemate;
    if (repetitions(board) >= 5) return Outcome::fivefold_repetition;
    return Outcome::none;
}

std::uint64_t perft(const MoveGenerator& generator, const Board& board, int depth) {
    return generator.perft(board, depth);
}

std::vector<std::pair<ChessMove, std::uint64_t>> divide(const MoveGenerator& generator, const Board& board,
                                                        int depth) {
    std::vector<std::pair<ChessMove, std::uint64_t>> rows;
    if (depth <= 0) return rows;
    MoveList list;
    generator.moves(board, list);
    rows.reserve(list.size);
    // Each move is made on a copy of the position, as perft makes them.
    const Bitboard occupied = board.occupancy();
    for (const ChessMove move : list)
        rows.emplace_back(move, generator.perft(board.after(move, move_roles(board.pieces, occupied, move)), depth - 1));
    return rows;
}

}  // namespace mirelo
