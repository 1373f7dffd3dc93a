// The position record: twelve piece bitboards, the packed info word, the
// running Zobrist keys and the history that takes a move back exactly.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "bitboard.h"
#include "chess_move.h"
#include "failure.h"
#include "history.h"
#include "side.h"
#include "types.h"
#include "zobrist.h"

namespace mirelo {

constexpr std::string_view DEFAULT_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// Longest text write_fen can produce: eight ranks of at most eight characters,
// seven slashes, " w ", four castling letters, " " and a square.
constexpr std::size_t FEN_CAPACITY = 96;

// Piece placement expanded to 12 planes of 64 flags (byte 64 * piece + square).
using Planes = std::array<std::uint8_t, PIECE_NB * SQUARE_NB>;

inline Bitboard occupancy(const Pieces& pieces) {
    Bitboard all = 0;
    for (const Bitboard b : pieces) all |= b;
    return all;
}

// The squares of one colour's six pieces.
inline Bitboard pieces_of(const Pieces& pieces, Color c) {
    const Piece first = make_piece(c, PAWN);
    return pieces[first] | pieces[first + 1] | pieces[first + 2] | pieces[first + 3] | pieces[first + 4] |
           pieces[first + 5];
}

// Squares held by more than one bitboard; only a malformed FEN makes any.
inline Bitboard squares_held_twice(const Pieces& pieces) {
    Bitboard seen = 0, twice = 0;
    for (const Bitboard b : pieces) {
        twice |= seen & b;
        seen |= b;
    }
    return twice;
}

// The lowest piece from first up to, not including, end that holds square,
// or NO_PIECE; a square outside occupied holds nothing.
inline Piece piece_on(const Pieces& pieces, Square square, Bitboard occupied, Piece first = W_PAWN,
                      Piece end = NO_PIECE) {
    if (!has(occupied, square)) return NO_PIECE;
    for (Piece p = first; p < end; ++p)
        if (has(pieces[p], square)) return p;
    return NO_PIECE;
}

// The piece of colour c on square, or NO_PIECE.
inline Piece piece_on(const Pieces& pieces, Square square, Bitboard occupied, Color c) {
    return piece_on(pieces, square, occupied, make_piece(c, PAWN), static_cast<Piece>(make_piece(c, KING) + 1));
}

// What a move does to the piece bitboards: the pieces it touches and the
// squares involved. Absent roles are NO_PIECE and SQ_NONE.
struct MoveRoles {
    Piece mover;
    Piece captured;
    Piece rook;          // the castling rook
    Piece promotion;     // the piece a pawn becomes
    Square captured_on;  // SQ_NONE: an en-passant victim off the board
    Square rook_from;
    Square rook_to;
    // Why the move cannot be played as it stands. The board refuses each:
    // the last two would leave two pieces on one square.
    enum class Problem : std::uint8_t {
        none,
        empty_square,       // nothing on the from-square
        promotion_needed,   // a pawn reaching the last rank without a promotion code
        own_destination,    // the to-square holds a piece of the mover's colour
        rook_square_taken,  // castling whose rook would land on an occupied square
    } problem;
};

// The roles of a move on a position with the given occupancy.
MoveRoles move_roles(const Pieces& pieces, Bitboard occupancy, ChessMove move);

// Applies a move's changes to the bitboards; only the words of its roles change.
void apply_move(Pieces& pieces, ChessMove move, const MoveRoles& roles);

// What a move did that no later move undoes, for the search of repetitions.
// No move puts a piece on the board, so the positions before a move that
// takes one off all differ from those after it. While every pawn move of the
// history has advanced its pawn, the same holds across a pawn's advance:
// such moves only shorten the pawns' way to their last ranks or take pieces
// off, and other moves change neither. (A typed move can take a pawn back,
// which is why that second barrier needs the whole history to hold.)
enum MoveProgress : std::uint8_t {
    REMOVES_PIECE = 1,
    ADVANCES_PAWN = 2,
    PAWNS_ONLY_ADVANCE = 4,  // every pawn move so far, this one included, advanced
};

inline Bitboard move_bit(Bitboard value, Square source, Square destination) {
    const Bitboard source_bit = (value >> source) & 1;
    return (value & ~square_bit(source)) | (source_bit << destination);
}

inline Bitboard delete_bit(Bitboard value, Square index) { return value & ~square_bit(index); }

// The FEN board field (the first field of the text) as twelve bitboards.
// Squares are counted continuously over the whole field, rank 1 first, modulo
// 64; a character that is not a piece letter, a digit or "/" is an internal
// failure.
Pieces pieces_from_fen(std::string_view fen);

// The info word after a move with the given roles, played by the side to move:
// the side flips, en passant opens behind a pawn's double step, and castling
// rights go with a king or rook that moves or a rook that is taken.
std::uint64_t info_after(std::uint64_t info, ChessMove move, const MoveRoles& roles);

// A position without its history: the piece bitboards and the info word.
struct Position {
    Pieces pieces{};
    std::uint64_t info = 0;

    // 1 when white is to move, 0 when black is (the info bit itself).
    std::uint64_t to_move() const { return info & WHITE_TO_MOVE; }
    Color side_to_move() const { return mirelo::side_to_move(info); }

    Bitboard occupancy() const { return mirelo::occupancy(pieces); }
    Bitboard pieces_of(Color c) const { return mirelo::pieces_of(pieces, c); }

    // The position after a move whose roles are known and playable.
    Position after(ChessMove move, const MoveRoles& roles) const {
        Position next{pieces, info_after(info, move, roles)};
        apply_move(next.pieces, move, roles);
        return next;
    }
};

struct Board : Position {
    ZobristBoardComponent zobrist;
    History history;

    // Reads the first four FEN fields leniently. A bad side-to-move or castling
    // field is an error text; a bad board character or a missing field is an
    // internal failure.
    static std::expected<Board, std::string> from_fen(std::string_view fen);

    // Writes the four FEN fields into out (FEN_CAPACITY bytes); returns the length.
    std::size_t write_fen(char* out) const;
    std::string to_fen() const;

    // Makes a move, whether a user typed it or the generator listed it:
    // refuses, as an error text and before anything changes, a pawn reaching
    // the last rank without a promotion piece, a move onto a piece of the
    // mover's own colour, and castling whose rook would land on an occupied
    // square (no legal move is any of these). A move from an empty square is
    // an internal failure and changes nothing.
    std::expected<void, std::string> push(ChessMove move);

    // Takes the last move back; with no history it is an internal failure.
    void pop_move();

    // A copy whose history lives in storage lent for capacity words (at
    // least history.size()).
    Board lent_copy(std::uint64_t* storage, std::size_t capacity) const {
        return Board{{pieces, info}, zobrist, History(history, storage, capacity)};
    }

    // Mirrors the position colour for colour, forgets the history and
    // computes the keys of the mirrored position.
    void reflect();

private:
    // Makes a move whose roles are known and playable.
    void play(ChessMove move, const MoveRoles& roles);
};

}  // namespace mirelo
