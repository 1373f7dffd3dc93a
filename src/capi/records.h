// The records behind the opaque handles of the C interface: a borrow flag
// first, then the core's value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "board.h"
#include "borrow.h"
#include "mirelo_capi.h"
#include "move_generator.h"
#include "pgn.h"

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

// A PGN reader with the game it handed out last, the C view of that game,
// and where the training rows of the games stand.
struct mirelo_pgn_reader : mirelo_record {
    explicit mirelo_pgn_reader(bool keep) : reader(generator, {.comments = keep}), keeps_comments(keep) {}

    mirelo::MoveGenerator generator;  // before the reader, which keeps a reference to it
    mirelo::PgnReader reader;
    mirelo::PgnGame game;
    bool keeps_comments;
    // The view and the arrays it points to, which keep their capacity from game to game.
    mirelo_game view{};
    std::vector<std::size_t> tags, comments;
    std::vector<std::uint16_t> moves;
    char fen[mirelo::FEN_CAPACITY];
    // The training rows: the position before move ply of game, and its result.
    mirelo::Position position;
    std::size_t ply = 0;
    std::int8_t result = 0;
};

static_assert(alignof(mirelo_board) <= MIRELO_RECORD_ALIGN && alignof(mirelo_generator) <= MIRELO_RECORD_ALIGN &&
              alignof(mirelo_pgn_reader) <= MIRELO_RECORD_ALIGN);
// A generator owns nothing (the attack tables are the process's): a face may
// free a placed one without ending it.
static_assert(std::is_trivially_destructible_v<mirelo_generator>);
// mirelo_hold and mirelo_unhold reach a record's flag through its address
// alone: every record class derives from mirelo_record first (the C++ tests
// check that the base lies at the start of each).
