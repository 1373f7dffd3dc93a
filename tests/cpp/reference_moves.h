// The legal moves as the rule states them, for the suites and the fuzzers to
// hold the generator's filter against: every pseudo-legal move that the board
// accepts as a typed move is played, the mover's king is tested, and the move
// is taken back.
#pragma once

#include <vector>

#include "board.h"
#include "failure.h"
#include "move_generator.h"

namespace mirelo::testing {

// after_trial() runs after each move tried, when the board should be back as
// it was.
template <typename AfterTrial>
std::vector<ChessMove> reference_moves(const MoveGenerator& generator, Board& board, AfterTrial after_trial) {
    MoveList pseudo;
    generator.pseudo_moves(board, pseudo);
    std::vector<ChessMove> legal;
    for (const ChessMove move : pseudo) {
        bool made = false;
        try {
            made = board.push(move).has_value();
        } catch (const Failure&) {
        }
        if (made) {
            const bool safe = !attack_tables().king_attacked(board.pieces, ~board.side_to_move());
            board.pop_move();
            if (safe) legal.push_back(move);
        }
        after_trial();
    }
    return legal;
}

}  // namespace mirelo::testing
