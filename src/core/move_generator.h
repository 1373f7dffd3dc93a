// Legal move generation: magic-bitboard attack tables, pseudo-legal moves in a
// fixed order, the attack test, and legality by playing each move, testing
// the mover's king and taking the move back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "bits.h"
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

constexpr unsigned ROOK_KIND = 3;    // piece_type selecting the rook tables
constexpr unsigned BISHOP_KIND = 2;  // any other value selects the bishop tables
constexpr std::size_t TABLE_SIZE = 4096;
constexpr std::size_t TABLE_COUNT = 128;  // rook table of s at 2s, bishop table at 2s + 1

constexpr std::array<std::int16_t, 4> ROOK_DIRECTIONS = {8, -8, 1, -1};
constexpr std::array<std::int16_t, 4> BISHOP_DIRECTIONS = {9, -9, 7, -7};
constexpr std::array<std::int16_t, 8> KING_DIRECTIONS = {-8, 8, 1, -1, 9, 7, -9, -7};
constexpr std::array<std::int16_t, 8> KNIGHT_DIRECTIONS = {-17, -15, -6, 10, 17, 15, 6, -10};

extern const std::array<std::uint64_t, 64> ROOK_MAGICS;
extern const std::array<std::uint64_t, 64> BISHOP_MAGICS;
extern const std::array<std::uint16_t, 64> ROOK_SHIFTS;
extern const std::array<std::uint16_t, 64> BISHOP_SHIFTS;

// square + jump, unless it leaves the board or changes the file by more than
// threshold (which is what stops a step from wrapping around the board edge).
constexpr std::optional<std::uint16_t> validate_move(std::uint16_t square, std::int16_t jump, std::uint16_t threshold) {
    const auto to = static_cast<std::uint16_t>(square + jump);
    if (to > 63) return std::nullopt;
    const int diff = static_cast<int>(to & 7) - static_cast<int>(square & 7);
    if ((diff < 0 ? -diff : diff) > threshold) return std::nullopt;
    return to;
}

std::vector<std::size_t> get_bits(Bitboard n);
Bitboard get_rook_cross(Square square);
Bitboard get_bishop_cross(Square square);
Bitboard get_king_circle(Square square);
Bitboard get_moves_from_blockers(Square square, Bitboard blocker_bitboard,
                                 const std::array<std::int16_t, 4>& directions);

class MoveGenerator {
public:
    // Builds the 128 attack tables (4 MiB).
    MoveGenerator();

    // The table for a square and kind, TABLE_SIZE entries.
    const Bitboard* table(Square square, unsigned piece_type) const {
        return sliding_moves_.get() + (2 * square + (piece_type == ROOK_KIND ? 0 : 1)) * TABLE_SIZE;
    }

    // The attack set of a slider on square for the occupancy; it includes the
    // first occupied square of each ray, whatever its colour.
    Bitboard slider_attacks(Square square, Bitboard occupancy, unsigned piece_type) const {
        const Magic& m = magics_[2 * square + (piece_type == ROOK_KIND ? 0 : 1)];
        return m.table[((occupancy & m.mask) * m.magic) >> m.shift];
    }

    // Is square attacked by the side opposite to to_move (1 = white)?
    bool square_in_check(const Pieces& pieces, Square square, std::uint64_t to_move) const;
    bool square_in_check(const Board& board, Square square, std::uint64_t to_move) const {
        return square_in_check(board.pieces, square, to_move);
    }

    // The pieces of the side opposite to to_move that attack square.
    Bitboard attackers(const Pieces& pieces, Square square, std::uint64_t to_move, Bitboard occupied) const;

    // The pieces of the side to_move (1 = white) that alone stand between its
    // king on the given square and a slider of the other side.
    Bitboard pinned_pieces(const Pieces& pieces, Square king, std::uint64_t to_move, Bitboard occupied) const;

    // Is the king of the given side (1 = white) attacked? With several kings
    // only the lowest is looked at; a side without a king is never in check.
    bool king_attacked(const Pieces& pieces, std::uint64_t side) const;

    // Right after a move: is the king of the side that just moved attacked?
    bool phantom_check(const Board& board) const { return king_attacked(board.pieces, board.to_move() ^ 1); }

    void pseudo_moves(const Board& board, MoveList& out) const;

    // The legal moves of the side to move, in pseudo-legal order. Every move
    // tried is taken back: the board is as it was afterwards.
    void moves(Board& board, MoveList& out) const;

    // Number of legal move paths of the given depth, counted in bulk at the last ply.
    std::uint64_t perft(Board& board, int depth) const;

private:
    struct Magic {
        Bitboard mask;
        Bitboard magic;
        unsigned shift;
        const Bitboard* table;
    };

    void king_moves(const Board& board, Bitboard self_mask, Bitboard opp_mask, MoveList& out) const;
    bool can_castle(const Board& board, std::initializer_list<Square> squares, Bitboard blockers,
                    std::optional<Square> queen_side) const;
    void pawn_moves(const Board& board, unsigned offset, Bitboard self_mask, Bitboard opp_mask, MoveList& out) const;
    void magic_moves(const Board& board, unsigned offset, Bitboard self_mask, Bitboard opp_mask, unsigned piece_type,
                     MoveList& out) const;

    struct FreeTables {
        void operator()(Bitboard* tables) const { std::free(tables); }
    };
    std::unique_ptr<Bitboard[], FreeTables> sliding_moves_;
    std::array<Magic, TABLE_COUNT> magics_;
};

}  // namespace mirelo
