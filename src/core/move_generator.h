// Legal move generation: magic-bitboard attack tables, pseudo-legal moves in a
// fixed order, the attack queries, and the legality filter, which decides from
// the checks and pins of the position and plays only the rare remaining moves
// on a scratch copy of the bitboards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "attacks.h"
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

// Counts the moves generation would list, without listing them.
struct MoveCount {
    std::size_t size = 0;

    void push(Square, Square, unsigned) { ++size; }
};

constexpr std::size_t TABLE_SIZE = 4096;  // 2^12: a relevance mask has at most 12 squares
constexpr std::size_t TABLE_COUNT = 128;

// Rooks come first, bishops second; the rook table of square s is table 2s,
// its bishop table 2s + 1.
constexpr std::size_t slider_index(PieceType slider) { return slider == ROOK ? 0 : 1; }
constexpr std::size_t table_index(Square s, PieceType slider) { return 2 * s + slider_index(slider); }

// Multipliers that map every blocker configuration of a square's relevance
// mask one-to-one onto 0 .. 2^n - 1, n being the number of mask squares:
// [slider_index(slider)][square].
extern const std::array<std::array<std::uint64_t, 64>, 2> MAGIC_NUMBERS;

// The squares whose occupancy decides a slider's attacks: its rays without
// the board edge they run into.
Bitboard rook_relevance_mask(Square square);
Bitboard bishop_relevance_mask(Square square);

// One square's entry into a slider's attack table.
struct Magic {
    Bitboard mask;
    Bitboard magic;
    unsigned shift;  // 64 - the number of mask squares
    const Bitboard* attacks;

    unsigned index(Bitboard occupied) const { return static_cast<unsigned>(((occupied & mask) * magic) >> shift); }
};

class MoveGenerator {
public:
    // Builds the 128 attack tables (4 MiB).
    MoveGenerator();

    // The attack set of a rook or bishop on square for the occupancy; it
    // includes the first occupied square of each ray, whatever its colour.
    Bitboard slider_attacks(Square square, Bitboard occupied, PieceType slider) const {
        const Magic& m = magic(square, slider);
        return m.attacks[m.index(occupied)];
    }

    const Magic& magic(Square square, PieceType slider) const {
        return magics_[table_index(square, slider)];
    }

    // The pieces of colour by that attack square, for the given occupancy.
    Bitboard attackers_to(const Pieces& pieces, Square square, Color by, Bitboard occupied) const {
        return mirelo::attackers_to(pieces, square, by, occupied, TableAttacks{this});
    }

    // Does any piece of colour by attack square?
    bool attacked(const Pieces& pieces, Square square, Color by, Bitboard occupied) const {
        return attackers_to(pieces, square, by, occupied) != 0;
    }

    // The pieces of colour c that alone stand between its king on the given
    // square and a slider of the other colour.
    Bitboard pinned_pieces(const Pieces& pieces, Square king, Color c, Bitboard occupied) const;

    // Is the king of colour c attacked? With several kings only the lowest is
    // looked at; a side without a king is never in check.
    bool king_attacked(const Pieces& pieces, Color c) const {
        return mirelo::king_attacked(pieces, c, TableAttacks{this});
    }

    void pseudo_moves(const Position& position, MoveList& out) const;

    // The legal moves of the side to move, in pseudo-legal order.
    void moves(const Position& position, MoveList& out) const;

    // Number of legal move paths of the given depth, counted in bulk at the last ply.
    std::uint64_t perft(const Position& position, int depth) const;

private:
    // slider_attacks as a function object for the attack queries of attacks.h.
    struct TableAttacks {
        const MoveGenerator* generator;
        Bitboard operator()(Square square, Bitboard occupied, PieceType slider) const {
            return generator->slider_attacks(square, occupied, slider);
        }
    };

    struct Limits;

    // Whether the side to move's king stays safe when the move is played.
    bool keeps_king_safe(const Position& position, ChessMove move) const;

    // Out is MoveList or MoveCount.
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

    struct FreeTables {
        void operator()(Bitboard* tables) const { std::free(tables); }
    };
    std::unique_ptr<Bitboard[], FreeTables> sliding_moves_;
    std::array<Magic, TABLE_COUNT> magics_;
};

}  // namespace mirelo
