// Standard Algebraic Notation both ways, for standard chess. The text of a
// legal move is written exactly as python-chess's Board.san writes it; a text
// is read with exactly the leniency and the refusals of its Board.parse_san,
// except that a null move, which a board here cannot play, is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "board.h"
#include "chess_move.h"
#include "move_generator.h"

namespace mirelo {

// The longest SAN: a piece letter, both from-coordinates, "x", the target and
// "+" or "#" ("Qa1xb2#"), or a pawn capture with promotion ("exd8=Q#").
constexpr std::size_t SAN_CAPACITY = 8;

// Why a text names no move that can be played.
enum class SanError : std::uint8_t {
    invalid,    // not SAN
    illegal,    // names no legal move
    ambiguous,  // names more than one
    null_move,  // "--", "Z0", "0000" or "@@@@"
};

// A SAN text taken apart, before any position is looked at.
struct SanParts {
    enum Kind : std::uint8_t { MOVE, KING_SIDE_CASTLING, QUEEN_SIDE_CASTLING, NULL_MOVE };
    static constexpr std::uint8_t ANY = 8;             // no piece letter, file or rank given
    static constexpr std::uint8_t KING_PROMOTION = 8;  // "=K": readable, never legal

    Kind kind = MOVE;
    std::uint8_t piece = ANY;  // the PieceType of the letter
    std::uint8_t from_file = ANY;
    std::uint8_t from_rank = ANY;
    Square to = SQ_A1;
    std::uint8_t promotion = 0;  // 0, a PROMOTE_* code or KING_PROMOTION
};

// The SAN move pattern [NBKRQ]?[a-h]?[1-8]?[-x]?[a-h][1-8](=?[nbrqkNBRQK])?
// at the start of [begin, end), matched as a backtracking regular expression
// would match it unanchored; returns the number of bytes taken, 0 when it
// does not match.
std::size_t match_san_move(const char* begin, const char* end, SanParts& out);

// The whole text as one SAN: castling as "O-O" or "0-0" (with "-O" or "-0"
// for the queen side) and an optional "+" or "#"; a null move; or the move
// pattern with an optional "+" or "#". Anything else is invalid.
std::expected<SanParts, SanError> split_san(std::string_view text);

// The legal move the parts name, coded as the generator codes it.
std::expected<ChessMove, SanError> resolve_san(const MoveGenerator& generator, const Position& position,
                                               const SanParts& parts);

// The same, also setting after to the position the move leads to. A caller
// that knows that no square of the position is held twice (any position
// reached by legal moves from a FEN that python-chess reads) says so, and the
// check is skipped.
std::expected<ChessMove, SanError> resolve_san(const MoveGenerator& generator, const Position& position,
                                               const SanParts& parts, Position& after, bool no_square_twice = false);

inline std::expected<ChessMove, SanError> parse_san(const MoveGenerator& generator, const Position& position,
                                                    std::string_view text) {
    const auto parts = split_san(text);
    if (!parts) return std::unexpected(parts.error());
    return resolve_san(generator, position, *parts);
}

// Writes the SAN of a legal move into out (SAN_CAPACITY bytes) and returns
// its length; legal holds the position's legal moves, as the generator lists
// them. Check and mate are decided on the position after the move alone.
std::size_t write_san(const MoveGenerator& generator, const Position& position, const MoveList& legal,
                      ChessMove move, char* out);

// The same for a move given by its squares and promotion, as a typed move
// text gives them; returns 0 when no legal move has them.
std::size_t write_san(const MoveGenerator& generator, const Position& position, ChessMove move, char* out);

// The one wording of SAN refusals: "Illegal SAN 'Ke3' in <fen>" for a caller
// that gave a board, and "illegal SAN 'Ke3' at ply 3" for a game's mainline.
std::string san_error_message(SanError error, std::string_view text, const Board& board);
std::string san_error_at_ply(SanError error, std::string_view text, std::size_t ply);

}  // namespace mirelo
