// The records behind the opaque handles of the C interface: a borrow flag
// and the core's value.
#pragma once

#include "board.h"
#include "borrow.h"
#include "mirelo_capi.h"
#include "move_generator.h"

struct mirelo_board {
    mirelo::capi::BorrowFlag borrow{0};
    mirelo::Board value;
};

struct mirelo_generator {
    mirelo::capi::BorrowFlag borrow{0};
    mirelo::MoveGenerator value;
};

// Faces that place records in memory of their own allocate these sizes.
static_assert(sizeof(mirelo_board) == MIRELO_BOARD_SIZE && alignof(mirelo_board) <= MIRELO_RECORD_ALIGN);
static_assert(sizeof(mirelo_generator) <= MIRELO_GENERATOR_SIZE && alignof(mirelo_generator) <= MIRELO_RECORD_ALIGN);
