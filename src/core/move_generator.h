// Legal move generation: pseudo-legal moves in a fixed order and the legality
// filter, which decides from the checks and pins of the position and plays
// only the rare remaining moves on a scratch copy of the bitboards. A
// generator holds nothing of its own: every one uses the process's attack
// tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "attacks.h"
#include "bitboard.h"
#include "board.h"
#include "chess_move.h"

namespace mirelo {

// Enough for any placement, even a malformed one: no origin square yields more
// than 55 pseudo-legal moves (8 king, 8 knight, 12 pawn, 14 rook-pass and 13
// bishop-pass moves), plus two castling moves.
constexpr std::size_t MAX_MOVES = 64 * 55 + 2;

// A move list in automatic storage: generation allocates nothing.
struct MoveList {
    std::size_t size = 0;
    ChessMove moves[MAX_MOVES];

    void push(Square from, Square to, unsigned special) { moves[size++] = ChessMove::raw(from, to, special); }
    const ChessMove* begin() const { return moves; }
    const ChessMove* end() const { return moves + size; }
};

// Counts the moves generation would list, without listing them.
struct MoveCount {
    std::size_t size = 0;

    void push(Square, Square, unsigned) { ++size; }
};

class MoveGenerator {
public:
    // Takes the process's attack tables, building them if no one has yet.
    MoveGenerator() : tables_(&attack_tables()) {}

    // The pieces of colour c that alone stand between its king on the given
    // square and a slider of the other colour.
    Bitboard pinned_pieces(const Pieces& pieces, Square king, Color c, Bitboard occupied) const;

    void pseudo_moves(const Position& position, MoveList& out) const;

    // The legal moves of the side to move, in pseudo-legal order.
    void moves(const Position& position, MoveList& out) const;

    // Whether moves() would list any, found without listing them all.
    bool has_legal_move(const Position& position) const;

    // Number of legal move paths of the given depth, counted in bulk at the last ply.
    std::uint64_t perft(const Position& position, int depth) const;

private:
    struct Limits;

    // Whether the side to move's king stays safe when the move is played.
    bool keeps_king_safe(const Position& position, ChessMove move) const;

    // Out is MoveList, MoveCount or a count that stops at the first move.
    template <typename Out>
    void generate(const Position& position, const Limits& limits, Out& out) const;
    template <typename Out>
    void legal_moves(const Position& position, Out& out) const;
    template <typename Out>
    void king_moves(const Position& position, Color us, const Limits& limits, Bitboard own, Bitboard occupied,
                    Out& out) const;
    template <typename Out>
    void pawn_moves(const Position& position, Color us, const Limits& limits, Bitboard theirs, Bitboard occupied,
                    Out& out) const;

    const AttackTables* tables_;
};

}  // namespace mirelo
