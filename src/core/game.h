// Where a game stands: check, repetitions of the position over the board's
// history, how the game has ended, and move-path counts.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "board.h"
#include "chess_move.h"
#include "move_generator.h"

namespace mirelo {

// Deeper counts could not finish anyway, and each ply of the recursion holds
// a move list on the stack.
constexpr int MAX_PERFT_DEPTH = 32;

// Is the side to move's king attacked? False when that side has no king.
bool is_check(const Board& board);

// What tells apart two positions with the same placement, as an info word:
// the side to move, the castling rights in force (the right's king and rook
// still on their home squares) and the en-passant files on which a capture is
// legal; an en-passant right that no pawn can use legally does not count.
std::uint64_t rights_in_force(const Pieces& pieces, std::uint64_t info);

// How many times the current position has occurred in the board's history,
// this occurrence included: the same placement with the same rights in force.
unsigned repetitions(const Board& board);

// Neither side can mate: a lone king, or a king with one minor piece and no
// help for a self-mate, or bishops all on one square colour.
bool insufficient_material(const Pieces& pieces);

enum class Outcome : std::uint8_t { none, checkmate, stalemate, insufficient_material, fivefold_repetition };

// How the game has ended, if it has; where several endings apply, the first
// of checkmate, insufficient material, stalemate and fivefold repetition.
// The board is as it was afterwards.
Outcome outcome(const MoveGenerator& generator, Board& board);

// Legal move paths of the given depth (0 or more), counted in bulk at the
// last ply, and the same count split by root move in generation order. The
// moves are made on copies of the position: the board's history is not used.
std::uint64_t perft(const MoveGenerator& generator, const Board& board, int depth);
std::vector<std::pair<ChessMove, std::uint64_t>> divide(const MoveGenerator& generator, const Board& board,
                                                        int depth);

}  // namespace mirelo
