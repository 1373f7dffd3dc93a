// Repetitions as the rule states them, for the suites and the fuzzers to hold
// the search over the history against: every move is taken back on a copy
// of the board and each earlier position compared with the current one.
#pragma once

#include "board.h"
#include "game.h"

namespace mirelo::testing {

inline unsigned reference_repetitions(Board board) {
    const Pieces now = board.pieces;
    const std::uint64_t rights = rights_in_force(now, board.info);
    unsigned count = 1;
    while (!board.history.empty()) {
        board.pop_move();
        count += board.pieces == now && rights_in_force(board.pieces, board.info) == rights;
    }
    return count;
}

}  // namespace mirelo::testing
