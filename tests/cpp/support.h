// Helpers shared by the GoogleTest suites.
#pragma once

#include <string_view>

#include "board.h"
#include "move_generator.h"

namespace mirelo {

// One generator for the whole run.
inline const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

inline Board board_of(std::string_view fen) { return Board::from_fen(fen).value(); }

}  // namespace mirelo
