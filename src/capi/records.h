// The records behind the opaque handles of the C interface: a borrow flag
// first, then the core's value.
#pragma once

#include <cstddef>
#include <type_traits>

#include "board.h"
#include "borrow.h"
#include "mirelo_capi.h"
#include "move_generator.h"

// What every record starts with.
struct mirelo_record {
    mirelo::capi::BorrowFlag borrow{0};
};

struct mirelo_board : mirelo_record {
    mirelo::Board value;
};

struct mirelo_generator : mirelo_record {
    mirelo::MoveGenerator value;
};

static_assert(alignof(mirelo_board) <= MIRELO_RECORD_ALIGN && alignof(mirelo_generator) <= MIRELO_RECORD_ALIGN);
// A generator owns nothing (the attack tables are the process's): a face may
// free a placed one without ending it.
static_assert(std::is_trivially_destructible_v<mirelo_generator>);
static_assert(offsetof(mirelo_board, borrow) == 0 && offsetof(mirelo_generator, borrow) == 0);
