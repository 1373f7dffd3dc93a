// The position a PGN game starts from, as python-chess finds it in the game's
// Variant and FEN tags, for standard chess.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "board.h"

namespace mirelo {

// Does python-chess play standard chess for this Variant tag value? It does
// for its standard board's names and the "wild/N" start positions, in any
// case. Chess960 names are not standard here: its castling is another game.
bool is_standard_variant(std::string_view name);

// The board of a FEN tag read as python-chess's Board(fen) reads it: one to
// six fields split at white space, the turn, castling, en-passant and
// counter fields optional. Castling rights stay only where their king and
// rook stand on their home squares, as python-chess's cleaned rights do, and
// an en-passant square only where it is empty behind a double step. An error
// text names a FEN python-chess refuses, and one whose castling rights only
// Chess960 has.
std::expected<Board, std::string> start_from_fen_tag(std::string_view fen);

// How the error text of a FEN with Chess960 castling rights begins.
constexpr std::string_view CHESS960_CASTLING = "unsupported Chess960 castling";

}  // namespace mirelo
