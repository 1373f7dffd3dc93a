// The C interface of the core: every entry point runs its body through one
// guard that takes the borrows, catches every failure and turns it into a
// status, and keeps the error of the calling thread for the caller to read.
#include "mirelo_capi.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "board.h"
#include "encoding.h"
#include "failure.h"
#include "game.h"
#include "move_generator.h"

using namespace mirelo;

namespace {

using BorrowFlag = std::atomic<std::uintptr_t>;
constexpr std::uintptr_t EXCLUSIVE = ~std::uintptr_t{0};

}  // namespace

struct mirelo_board {
    BorrowFlag borrow{0};
    Board value;
};

struct mirelo_generator {
    BorrowFlag borrow{0};
    MoveGenerator value;
};

static_assert(MIRELO_FEN_CAPACITY == FEN_CAPACITY);
static_assert(MIRELO_PLANES_SIZE == std::tuple_size_v<Planes> && std::extent_v<decltype(mirelo_out::marks)> == MIRELO_PLANES_SIZE);
static_assert(MIRELO_MAX_MOVES == std::extent_v<decltype(MoveList::moves)>);
static_assert(MIRELO_MAX_PERFT_DEPTH == MAX_PERFT_DEPTH);
static_assert(MIRELO_MOVE_INDEX_SIZE == MOVE_INDEX_SIZE && MOVE_INDEX_SIZE <= 0xFFFF);
static_assert(MIRELO_MAX_PERFT_DEPTH == MAX_PERFT_DEPTH);
static_assert(sizeof(mirelo_out::text) == FEN_CAPACITY &&
              std::extent_v<decltype(mirelo_out::moves)> == MIRELO_MAX_MOVES);

namespace {

// ---------------------------------------------------------------------------
// The error of the calling thread.

struct LastError {
    std::string text;
    const char* file = "";
    unsigned line = 0;
};

thread_local LastError last_error;

int set_error(int status, std::string_view text, const char* file = "", unsigned line = 0) noexcept {
    try {
        last_error.text.assign(text);
    } catch (...) {
        last_error.text.clear();  // no room for the text: the caller still gets the status
    }
    last_error.file = file;
    last_error.line = line;
    return status;
}

// ---------------------------------------------------------------------------
// Borrows.

int take(BorrowFlag& flag, bool exclusive) noexcept {
    std::uintptr_t current = flag.load(std::memory_order_relaxed);
    if (exclusive) {
        if (current != 0 || !flag.compare_exchange_strong(current, EXCLUSIVE, std::memory_order_acquire))
            return MIRELO_BORROWED;
        return MIRELO_OK;
    }
    do {
        // One below all-ones at most: n shared borrows never look exclusive.
        if (current >= EXCLUSIVE - 1) return MIRELO_MUTABLY_BORROWED;
    } while (!flag.compare_exchange_weak(current, current + 1, std::memory_order_acquire));
    return MIRELO_OK;
}

void release(BorrowFlag& flag, bool exclusive) noexcept {
    if (exclusive)
        flag.store(0, std::memory_order_release);
    else
        flag.fetch_sub(1, std::memory_order_release);
}

class Borrow {
public:
    Borrow(BorrowFlag& flag, bool exclusive) noexcept : flag_(flag), exclusive_(exclusive) {
        status_ = take(flag, exclusive);
    }
    ~Borrow() {
        if (status_ == MIRELO_OK) release(flag_, exclusive_);
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    int status() const { return status_; }

private:
    BorrowFlag& flag_;
    bool exclusive_;
    int status_;
};

constexpr bool SHARED = false, EXCLUSIVE_ACCESS = true;

// ---------------------------------------------------------------------------
// The guard: runs body, which returns a status, and turns every failure
// into one.

template <typename Body>
int guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const Failure& failure) {
        const std::string& message = failure.message();
        return set_error(MIRELO_FAILURE, message.empty() ? std::string_view(MIRELO_GENERIC_FAILURE) : message,
                         failure.where().file_name(), failure.where().line());
    } catch (const std::bad_alloc&) {
        return set_error(MIRELO_NO_MEMORY, "");
    } catch (const std::exception& error) {
        const char* what = error.what();
        return set_error(MIRELO_FAILURE, *what ? what : MIRELO_GENERIC_FAILURE, "<unknown>", 0);
    } catch (...) {
        return set_error(MIRELO_FAILURE, MIRELO_GENERIC_FAILURE, "<unknown>", 0);
    }
}

// The same with a borrow of one object taken around the body.
template <typename Object, typename Body>
int with_borrow(Object* object, bool exclusive, Body&& body) noexcept {
    Borrow borrow(object->borrow, exclusive);
    if (borrow.status() != MIRELO_OK) return borrow.status();
    return guarded([&] { return body(object->value); });
}

int error_text(const std::string& text) { return set_error(MIRELO_ERROR, text); }

// The flags set in the planes of the pieces (flag 64 * piece + square, as
// expand_planes lays them out), read straight from the bitboards: a position
// sets a few dozen of the 768.
void write_marks(const std::array<Bitboard, 12>& pieces, mirelo_out* out) {
    std::size_t count = 0;
    for (std::size_t piece = 0; piece < pieces.size(); ++piece)
        for (Bitboard b = pieces[piece]; b; b &= b - 1)
            out->marks[count++] = static_cast<std::uint16_t>(64 * piece + std::countr_zero(b));
    out->length = count;
}

// body(tables, board) with the generator borrowed shared and the board
// exclusively, as a generator call holds them.
template <typename Body>
int with_generator_and_board(mirelo_generator* generator, mirelo_board* board, Body&& body) noexcept {
    return with_borrow(generator, SHARED, [&](const MoveGenerator& tables) {
        return with_borrow(board, EXCLUSIVE_ACCESS, [&](Board& value) { return body(tables, value); });
    });
}

}  // namespace

// ---------------------------------------------------------------------------
// Boards

int mirelo_board_new(const char* fen, size_t length, mirelo_out* out) {
    return guarded([&] {
        auto made = Board::from_fen(std::string_view(fen, length));
        if (!made) return error_text(made.error());
        out->board = new mirelo_board{.value = std::move(*made)};
        out->bytes = sizeof(mirelo_board);
        return int{MIRELO_OK};
    });
}

int mirelo_board_copy(mirelo_board* board, mirelo_out* out) {
    return with_borrow(board, SHARED, [&](const Board& value) {
        out->board = new mirelo_board{.value = value};
        out->bytes = sizeof(mirelo_board);
        return int{MIRELO_OK};
    });
}

void mirelo_board_free(mirelo_board* board) { delete board; }

int mirelo_board_fen(mirelo_board* board, mirelo_out* out) {
    return with_borrow(board, SHARED, [&](const Board& value) {
        out->length = value.write_fen(out->text);
        return int{MIRELO_OK};
    });
}

int mirelo_board_turn(mirelo_board* board, mirelo_out* out) {
    return with_borrow(board, SHARED, [&](const Board& value) {
        out->length = value.to_move() ? 1 : 0;
        return int{MIRELO_OK};
    });
}

int mirelo_board_planes(mirelo_board* board, mirelo_out* out) {
    return with_borrow(board, SHARED, [&](const Board& value) {
        write_marks(value.pieces, out);
        return int{MIRELO_OK};
    });
}

int mirelo_board_push(mirelo_board* board, const char* text, size_t length, mirelo_out* out) {
    return with_borrow(board, EXCLUSIVE_ACCESS, [&](Board& value) {
        const auto move = ChessMove::from_str(std::string_view(text, length));
        if (!move) return error_text(move.error());
        if (auto made = value.push(*move); !made) return error_text(made.error());
        out->moves[0] = move->data;
        out->length = 1;
        return int{MIRELO_OK};
    });
}

int mirelo_board_push_code(mirelo_board* board, uint16_t code) {
    return with_borrow(board, EXCLUSIVE_ACCESS, [&](Board& value) {
        if (auto made = value.push(ChessMove{code}); !made) return error_text(made.error());
        return int{MIRELO_OK};
    });
}

int mirelo_board_pop(mirelo_board* board) {
    return with_borrow(board, EXCLUSIVE_ACCESS, [](Board& value) {
        value.pop_move();
        return int{MIRELO_OK};
    });
}

int mirelo_board_reflect(mirelo_board* board) {
    return with_borrow(board, EXCLUSIVE_ACCESS, [](Board& value) {
        value.reflect();
        return int{MIRELO_OK};
    });
}

int mirelo_board_borrow(mirelo_board* board, int exclusive) { return take(board->borrow, exclusive != 0); }

void mirelo_board_release(mirelo_board* board, int exclusive) { release(board->borrow, exclusive != 0); }

int mirelo_planes_from_fen(const char* fen, size_t length, mirelo_out* out) {
    return guarded([&] {
        write_marks(pieces_from_fen(std::string_view(fen, length)), out);
        return int{MIRELO_OK};
    });
}

int mirelo_move_text(uint16_t code, mirelo_out* out) {
    return guarded([&] {
        out->length = ChessMove{code}.write(out->text);
        return int{MIRELO_OK};
    });
}

// ---------------------------------------------------------------------------
// Generators

int mirelo_generator_new(mirelo_out* out) {
    return guarded([&] {
        out->generator = new mirelo_generator;
        out->bytes = sizeof(mirelo_generator);  // the attack tables are the process's
        return int{MIRELO_OK};
    });
}

void mirelo_generator_free(mirelo_generator* generator) { delete generator; }

int mirelo_generator_moves(mirelo_generator* generator, mirelo_board* board, mirelo_out* out) {
    return with_generator_and_board(generator, board, [&](const MoveGenerator& tables, Board& value) {
        MoveList list;
        tables.moves(value, list);
        for (std::size_t i = 0; i < list.size; ++i) out->moves[i] = list.moves[i].data;
        out->length = list.size;
        return int{MIRELO_OK};
    });
}

int mirelo_generator_borrow(mirelo_generator* generator, int exclusive) {
    return take(generator->borrow, exclusive != 0);
}

void mirelo_generator_release(mirelo_generator* generator, int exclusive) {
    release(generator->borrow, exclusive != 0);
}

// ---------------------------------------------------------------------------
// Arrays

namespace {

int check_size(std::size_t size, std::size_t expected) {
    if (size == expected) return MIRELO_OK;
    return set_error(MIRELO_ERROR,
                     "out has " + std::to_string(size) + " bytes, expected " + std::to_string(expected));
}

// The plane element kind of a code; MIRELO_ERROR for a code that names none.
int plane_element(int code, PlaneElement& element) {
    if (code < 0 || code > static_cast<int>(PlaneElement::single))
        return set_error(MIRELO_ERROR, "no plane element kind " + std::to_string(code));
    element = static_cast<PlaneElement>(code);
    return MIRELO_OK;
}

// Takes and releases the borrow of every board, so that a batch refused
// anywhere writes nothing.
int probe(mirelo_board* const* boards, std::size_t count, bool exclusive) {
    for (std::size_t i = 0; i < count; ++i) {
        const Borrow borrow(boards[i]->borrow, exclusive);
        if (borrow.status() != MIRELO_OK) return borrow.status();
    }
    return MIRELO_OK;
}

}  // namespace

int mirelo_write_planes(mirelo_board* const* boards, size_t count, int element, void* out, size_t size) {
    return guarded([&] {
        PlaneElement kind;
        if (const int status = plane_element(element, kind)) return status;
        const std::size_t stride = plane_bytes(kind);
        if (const int status = check_size(size, count * stride)) return status;
        if (const int status = probe(boards, count, SHARED)) return status;
        auto* bytes = static_cast<unsigned char*>(out);
        for (std::size_t i = 0; i < count; ++i) {
            const Borrow borrow(boards[i]->borrow, SHARED);
            if (borrow.status() != MIRELO_OK) return borrow.status();
            write_planes(boards[i]->value.pieces, kind, bytes + i * stride);
        }
        return int{MIRELO_OK};
    });
}

int mirelo_write_fen_planes(const char* texts, const size_t* ends, size_t count, int element, void* out,
                            size_t size, size_t* failed) {
    *failed = count;
    return guarded([&] {
        PlaneElement kind;
        if (const int status = plane_element(element, kind)) return status;
        if (const int status = check_size(size, count * plane_bytes(kind))) return status;
        std::vector<std::string_view> views(count);
        for (std::size_t i = 0, begin = 0; i < count; begin = ends[i++])
            views[i] = std::string_view(texts + begin, ends[i] - begin);
        if (const auto failure = write_fen_planes(views, kind, out)) {
            *failed = failure->index;
            return set_error(MIRELO_ERROR, failure->message);
        }
        return int{MIRELO_OK};
    });
}

int mirelo_legal_masks(mirelo_generator* generator, mirelo_board* const* boards, size_t count, void* out,
                       size_t size) {
    return with_borrow(generator, SHARED, [&](const MoveGenerator& tables) {
        if (const int status = check_size(size, count * MOVE_INDEX_SIZE)) return status;
        if (const int status = probe(boards, count, EXCLUSIVE_ACCESS)) return status;
        auto* bytes = static_cast<std::uint8_t*>(out);
        MoveList moves;
        for (std::size_t i = 0; i < count; ++i) {
            const Borrow borrow(boards[i]->borrow, EXCLUSIVE_ACCESS);
            if (borrow.status() != MIRELO_OK) return borrow.status();
            tables.moves(boards[i]->value, moves);
            write_move_mask(moves, bytes + i * MOVE_INDEX_SIZE);
        }
        return int{MIRELO_OK};
    });
}

int mirelo_legal_indices(mirelo_generator* generator, mirelo_board* board, mirelo_out* out) {
    return with_borrow(generator, SHARED, [&](const MoveGenerator& tables) {
        return with_borrow(board, EXCLUSIVE_ACCESS, [&](Board& value) {
            MoveList moves;
            tables.moves(value, moves);
            for (std::size_t i = 0; i < moves.size; ++i)
                out->moves[i] = static_cast<std::uint16_t>(move_index(moves.moves[i]));
            out->length = moves.size;
            return int{MIRELO_OK};
        });
    });
}

int mirelo_move_index(const char* text, size_t length) {
    const auto index = move_index(std::string_view(text, length));
    return index ? static_cast<int>(*index) : -1;
}

int mirelo_index_move_text(size_t index, mirelo_out* out) {
    return guarded([&] {
        out->length = move_text(index, out->text);
        return int{MIRELO_OK};
    });
}

// ---------------------------------------------------------------------------
// Game state

int mirelo_game_is_check(mirelo_board* board, mirelo_out* out) {
    return with_borrow(board, SHARED, [&](const Board& value) {
        out->length = is_check(value) ? 1 : 0;
        return int{MIRELO_OK};
    });
}

int mirelo_game_repetitions(mirelo_board* board, mirelo_out* out) {
    return with_borrow(board, SHARED, [&](const Board& value) {
        out->length = repetitions(value);
        return int{MIRELO_OK};
    });
}

int mirelo_game_zobrist_key(mirelo_board* board, mirelo_out* out) {
    return with_borrow(board, SHARED, [&](const Board& value) {
        out->number = value.zobrist.z_key;
        return int{MIRELO_OK};
    });
}

namespace {

void check_depth(int depth) {
    if (depth < 0 || depth > MAX_PERFT_DEPTH) fail("depth out of range: " + std::to_string(depth));
}

}  // namespace

int mirelo_game_outcome(mirelo_generator* generator, mirelo_board* board, mirelo_out* out) {
    return with_generator_and_board(generator, board, [&](const MoveGenerator& tables, Board& value) {
        out->length = static_cast<std::size_t>(outcome(tables, value));
        return int{MIRELO_OK};
    });
}

int mirelo_game_perft(mirelo_generator* generator, mirelo_board* board, int depth, mirelo_out* out) {
    return with_generator_and_board(generator, board, [&](const MoveGenerator& tables, Board& value) {
        check_depth(depth);
        out->number = perft(tables, value, depth);
        return int{MIRELO_OK};
    });
}

int mirelo_game_divide(mirelo_generator* generator, mirelo_board* board, int depth, uint64_t* counts,
                       mirelo_out* out) {
    return with_generator_and_board(generator, board, [&](const MoveGenerator& tables, Board& value) {
        check_depth(depth);
        const auto rows = divide(tables, value, depth);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            out->moves[i] = rows[i].first.data;
            counts[i] = rows[i].second;
        }
        out->length = rows.size();
        return int{MIRELO_OK};
    });
}

const char* mirelo_default_fen(void) { return DEFAULT_FEN.data(); }

const char* mirelo_panic_doc(void) { return MIRELO_PANIC_DOC; }

// ---------------------------------------------------------------------------
// The last error

const char* mirelo_error_text(void) { return last_error.text.c_str(); }

size_t mirelo_error_length(void) { return last_error.text.size(); }

const char* mirelo_error_file(void) { return last_error.file; }

unsigned mirelo_error_line(void) { return last_error.line; }
