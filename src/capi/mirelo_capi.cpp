// The functions of the C interface: each takes the borrows it needs, runs the
// core in the guard, and leaves its result in the caller's mirelo_out.
#include "mirelo_capi.h"

#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "calls.h"
#include "game.h"

using namespace mirelo;
using namespace mirelo::capi;

static_assert(MIRELO_FEN_CAPACITY == FEN_CAPACITY && sizeof(mirelo_out::text) == FEN_CAPACITY);
static_assert(MIRELO_PLANES_SIZE == PLANE_FLAGS && std::extent_v<decltype(mirelo_out::marks)> == PLANE_FLAGS);
static_assert(MIRELO_MAX_MOVES == MAX_MOVES && std::extent_v<decltype(mirelo_out::moves)> == MAX_MOVES &&
              std::extent_v<decltype(mirelo_out::counts)> == MAX_MOVES);
static_assert(MIRELO_MAX_PERFT_DEPTH == MAX_PERFT_DEPTH);
static_assert(MIRELO_MOVE_INDEX_SIZE == MOVE_INDEX_SIZE && MOVE_INDEX_SIZE <= 0xFFFF);
static_assert(MIRELO_WHITE == 1 && MIRELO_BLACK == 0);  // the info word's side bit
static_assert(MIRELO_NO_OUTCOME == static_cast<int>(Outcome::none) &&
              MIRELO_CHECKMATE == static_cast<int>(Outcome::checkmate) &&
              MIRELO_STALEMATE == static_cast<int>(Outcome::stalemate) &&
              MIRELO_INSUFFICIENT_MATERIAL == static_cast<int>(Outcome::insufficient_material) &&
              MIRELO_FIVEFOLD_REPETITION == static_cast<int>(Outcome::fivefold_repetition));
static_assert(static_cast<int>(PlaneElement::single) == 2);

namespace {

// The flags set in the planes of the pieces (flag 64 * piece + square), read
// straight from the bitboards: a position sets a few dozen of the 768.
void write_marks(const Pieces& pieces, mirelo_out* out) {
    std::size_t count = 0;
    for (std::size_t piece = 0; piece < pieces.size(); ++piece)
        for (Bitboard b = pieces[piece]; b; b &= b - 1)
            out->marks[count++] = static_cast<std::uint16_t>(64 * piece + std::countr_zero(b));
    out->mark_count = count;
}

// A board record placed where the face asks, or allocated when it gives no place.
template <typename Value>
mirelo_board* make_board(mirelo_board* place, Value&& value) {
    if (place == nullptr) return new mirelo_board{{}, std::forward<Value>(value)};
    return new (place) mirelo_board{{}, std::forward<Value>(value)};
}

// Every record class, by its number in the C interface.
constexpr mirelo_class_info CLASSES[MIRELO_CLASS_END] = {
    {"", "", 0, 0, 0},
    {"Board", "mirelo_chess", sizeof(mirelo_board), 1, 0},
    {"MoveGenerator", "mirelo_chess", sizeof(mirelo_generator), 0, 0},
    {"PgnReader", "mirelo_chess._native", sizeof(mirelo_pgn_reader), 0, 1},
};

constexpr std::size_t WORD = sizeof(std::uint64_t);

// The words of a room.
std::uint64_t* room_words(void* room) {
    if (reinterpret_cast<std::uintptr_t>(room) % alignof(std::uint64_t) != 0) fail("A room must be aligned like a record");
    return static_cast<std::uint64_t*>(room);
}

// Too little room: the bytes wanted go to out where there is one.
int needs_room(std::size_t words, mirelo_out* out) {
    if (out != nullptr) out->size = words * WORD;
    return set_error(MIRELO_NEEDS_ROOM, messages::needs_room());
}

template <typename Record>
void end(void* record, bool allocated) {
    auto* typed = static_cast<Record*>(record);
    if (allocated)
        delete typed;
    else
        typed->~Record();
}

void end_record(int cls, void* record, bool allocated) {
    switch (cls) {
        case MIRELO_BOARD_CLASS: return end<mirelo_board>(record, allocated);
        case MIRELO_GENERATOR_CLASS: return end<mirelo_generator>(record, allocated);
        case MIRELO_PGN_READER_CLASS: return end<mirelo_pgn_reader>(record, allocated);
    }
}

Access access_of(int exclusive) { return exclusive ? Access::exclusive : Access::shared; }

std::vector<Claim> claims_of(mirelo_board* const* boards, std::size_t count, Access access) {
    std::vector<Claim> claims(count);
    for (std::size_t i = 0; i < count; ++i) claims[i] = {&boards[i]->borrow, access};
    return claims;
}

int check_depth(int depth) {
    if (depth >= 0 && depth <= MAX_PERFT_DEPTH) return MIRELO_OK;
    return value_error(messages::invalid_depth(std::to_string(depth)));
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// Boards

int mirelo_board_new(const char* fen, size_t length, mirelo_board* place, void* room, size_t room_size,
                     mirelo_out* out) {
    return guarded([&] {
        auto made = Board::from_fen(std::string_view(fen, length));
        if (!made) return value_error(messages::invalid_fen(made.error()));
        if (room != nullptr) made->history.lend(room_words(room), room_size / WORD);  // no moves yet: any room holds them
        out->record = make_board(place, std::move(*made));
        out->size = sizeof(mirelo_board);
        return int{MIRELO_OK};
    });
}

int mirelo_board_copy(mirelo_board* board, mirelo_board* place, void* room, size_t room_size, mirelo_out* out) {
    return with(shared(board), [&] {
        const Board& original = board->value;
        if (room == nullptr) {
            out->record = make_board(place, original);
        } else {
            // Enough for the moves there are; room for one more is welcome.
            const std::size_t words = room_size / WORD;
            if (words < original.history.size()) return needs_room(original.history.size() + MAX_MOVE_WORDS, out);
            out->record = make_board(place, original.lent_copy(room_words(room), words));
        }
        out->size = sizeof(mirelo_board);
        return int{MIRELO_OK};
    });
}

int mirelo_board_fen(mirelo_board* board, mirelo_out* out) {
    return with(shared(board), [&] {
        out->text_length = board->value.write_fen(out->text);
        return int{MIRELO_OK};
    });
}

int mirelo_board_turn(mirelo_board* board, mirelo_out* out) {
    return with(shared(board), [&] {
        out->side = board->value.to_move() ? MIRELO_WHITE : MIRELO_BLACK;
        return int{MIRELO_OK};
    });
}

int mirelo_board_planes(mirelo_board* board, mirelo_out* out) {
    return with(shared(board), [&] {
        write_marks(board->value.pieces, out);
        return int{MIRELO_OK};
    });
}

int mirelo_board_push(mirelo_board* board, const char* text, size_t length, int code, mirelo_out* out) {
    return with(exclusive(board), [&] {
        ChessMove move{static_cast<std::uint16_t>(code)};
        if (code < 0 || code > 0xFFFF) {  // a text the face has not met before
            const auto read = ChessMove::from_str(std::string_view(text, length));
            if (!read) return value_error(messages::invalid_move(read.error()));
            move = *read;
        }
        const History& history = board->value.history;
        if (!history.has_room()) return needs_room(history.wanted_capacity(), out);
        if (auto made = board->value.push(move); !made) return value_error(messages::invalid_move(made.error()));
        if (out != nullptr) out->code = move.data;
        return int{MIRELO_OK};
    });
}

int mirelo_board_pop(mirelo_board* board, mirelo_out*) {
    return with(exclusive(board), [&] {
        board->value.pop_move();
        return int{MIRELO_OK};
    });
}

int mirelo_board_reflect(mirelo_board* board, mirelo_out*) {
    return with(exclusive(board), [&] {
        board->value.reflect();
        return int{MIRELO_OK};
    });
}

int mirelo_planes_from_fen(const char* fen, size_t length, mirelo_out* out) {
    return guarded([&] {
        write_marks(pieces_from_fen(std::string_view(fen, length)), out);
        return int{MIRELO_OK};
    });
}

// ---------------------------------------------------------------------------
// Records

const mirelo_class_info* mirelo_class_info_of(int cls) { return cls > 0 && cls < MIRELO_CLASS_END ? &CLASSES[cls] : nullptr; }

int mirelo_hold(void* record, int exclusive) {
    const int status = hold(static_cast<mirelo_record*>(record)->borrow, access_of(exclusive));
    return status == MIRELO_OK ? status : refused(status);
}

void mirelo_unhold(void* record, int exclusive) {
    unhold(static_cast<mirelo_record*>(record)->borrow, access_of(exclusive));
}

void mirelo_drop(int cls, void* record) { end_record(cls, record, false); }

void mirelo_free(int cls, void* record) { end_record(cls, record, true); }

int mirelo_give_room(int cls, void* record, const void* used, void* room, size_t size, mirelo_out* out) {
    // Of the classes, only boards grow: their history.
    if (cls != MIRELO_BOARD_CLASS) return guarded([]() -> int { fail("This class takes no room"); });
    auto* board = static_cast<mirelo_board*>(record);
    return with(exclusive(board), [&] {
        History& history = board->value.history;
        const auto moved = [out](bool yes) {
            if (out != nullptr) out->flag = yes;
            return int{MIRELO_OK};
        };
        if (!history.keeps_in(used)) return moved(false);
        const std::size_t words = size / WORD;
        if (room == nullptr || words < history.size() + MAX_MOVE_WORDS)
            return needs_room(history.wanted_capacity(), out);
        history.lend(room_words(room), words);
        return moved(true);
    });
}

// ---------------------------------------------------------------------------
// Generators

int mirelo_generator_new(mirelo_generator* place, void*, size_t, mirelo_out* out) {
    return guarded([&] {
        out->record = place == nullptr ? new mirelo_generator : new (place) mirelo_generator;
        out->size = sizeof(mirelo_generator);
        return int{MIRELO_OK};
    });
}

int mirelo_generator_moves(mirelo_generator* generator, mirelo_board* board, mirelo_out* out) {
    return with(shared(generator), exclusive(board), [&] {
        MoveList list;
        generator->value.moves(board->value, list);
        for (std::size_t i = 0; i < list.size; ++i) out->moves[i] = list.moves[i].data;
        out->move_count = list.size;
        return int{MIRELO_OK};
    });
}

int mirelo_move_text(int code, mirelo_out* out) {
    return guarded([&] {
        if (code < 0 || code > 0xFFFF) fail("move code out of range: " + std::to_string(code));
        out->text_length = ChessMove{static_cast<std::uint16_t>(code)}.write(out->text);
        return int{MIRELO_OK};
    });
}

// ---------------------------------------------------------------------------
// Game state

int mirelo_game_is_check(mirelo_board* board, mirelo_out* out) {
    return with(shared(board), [&] {
        out->flag = is_check(board->value);
        return int{MIRELO_OK};
    });
}

int mirelo_game_repetitions(mirelo_board* board, mirelo_out* out) {
    return with(shared(board), [&] {
        out->count = repetitions(board->value);
        return int{MIRELO_OK};
    });
}

int mirelo_game_zobrist_key(mirelo_board* board, mirelo_out* out) {
    return with(shared(board), [&] {
        out->key = board->value.zobrist.z_key;
        return int{MIRELO_OK};
    });
}

int mirelo_game_outcome(mirelo_generator* generator, mirelo_board* board, mirelo_out* out) {
    return with(shared(generator), exclusive(board), [&] {
        out->outcome = static_cast<int>(outcome(generator->value, board->value));
        return int{MIRELO_OK};
    });
}

int mirelo_game_perft(mirelo_generator* generator, mirelo_board* board, int depth, mirelo_out* out) {
    return with(shared(generator), exclusive(board), [&] {
        if (const int status = check_depth(depth)) return status;
        out->count = perft(generator->value, board->value, depth);
        return int{MIRELO_OK};
    });
}

int mirelo_game_divide(mirelo_generator* generator, mirelo_board* board, int depth, mirelo_out* out) {
    return with(shared(generator), exclusive(board), [&] {
        if (const int status = check_depth(depth)) return status;
        const auto rows = divide(generator->value, board->value, depth);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            out->moves[i] = rows[i].first.data;
            out->counts[i] = rows[i].second;
        }
        out->move_count = rows.size();
        return int{MIRELO_OK};
    });
}

// ---------------------------------------------------------------------------
// Arrays

int mirelo_write_planes(mirelo_board* board, void* data, size_t size, int element, mirelo_out*) {
    return with(shared(board), [&] {
        PlaneElement kind;
        if (const int status = plane_element(element, kind)) return status;
        if (const int status = check_size(size, plane_bytes(kind))) return status;
        write_planes(board->value.pieces, kind, data);
        return int{MIRELO_OK};
    });
}

int mirelo_write_planes_batch(mirelo_board* const* boards, size_t count, void* data, size_t size, int element,
                              mirelo_out*) {
    return guarded([&] {
        const std::vector<Claim> claims = claims_of(boards, count, Access::shared);
        return with(claims, [&] {
            PlaneElement kind;
            if (const int status = plane_element(element, kind)) return status;
            const std::size_t stride = plane_bytes(kind);
            if (const int status = check_size(size, count * stride)) return status;
            for (std::size_t i = 0; i < count; ++i)
                write_planes(boards[i]->value.pieces, kind, static_cast<unsigned char*>(data) + i * stride);
            return int{MIRELO_OK};
        });
    });
}

int mirelo_write_fen_planes(const char* texts, const size_t* ends, size_t count, void* data, size_t size,
                            int element, mirelo_out*) {
    return guarded([&] {
        PlaneElement kind;
        if (const int status = plane_element(element, kind)) return status;
        if (const int status = check_size(size, count * plane_bytes(kind))) return status;
        std::vector<std::string_view> views(count);
        for (std::size_t i = 0, begin = 0; i < count; begin = ends[i++])
            views[i] = std::string_view(texts + begin, ends[i] - begin);
        if (const auto failure = write_fen_planes(views, kind, data))
            return value_error(messages::fen_item(failure->index, views[failure->index], failure->message));
        return int{MIRELO_OK};
    });
}

int mirelo_move_index(const char* text, size_t length, mirelo_out* out) {
    return guarded([&] {
        const std::string_view view(text, length);
        const auto index = move_index(view);
        if (!index) return value_error(messages::not_a_move_text(view));
        out->index = *index;
        return int{MIRELO_OK};
    });
}

int mirelo_index_move_text(int64_t index, mirelo_out* out) {
    return guarded([&] {
        out->text_length = index < 0 ? 0 : move_text(static_cast<std::size_t>(index), out->text);
        if (out->text_length == 0) return value_error(messages::not_a_move_index(std::to_string(index)));
        return int{MIRELO_OK};
    });
}

int mirelo_legal_indices(mirelo_generator* generator, mirelo_board* board, mirelo_out* out) {
    return with(shared(generator), exclusive(board), [&] {
        MoveList moves;
        generator->value.moves(board->value, moves);
        for (std::size_t i = 0; i < moves.size; ++i)
            out->moves[i] = static_cast<std::uint16_t>(move_index(moves.moves[i]));
        out->move_count = moves.size;
        return int{MIRELO_OK};
    });
}

int mirelo_legal_mask(mirelo_generator* generator, mirelo_board* board, void* data, size_t size, mirelo_out*) {
    return with(shared(generator), exclusive(board), [&] {
        if (const int status = check_size(size, MOVE_INDEX_SIZE)) return status;
        MoveList moves;
        generator->value.moves(board->value, moves);
        write_move_mask(moves, static_cast<std::uint8_t*>(data));
        return int{MIRELO_OK};
    });
}

int mirelo_legal_mask_batch(mirelo_generator* generator, mirelo_board* const* boards, size_t count, void* data,
                            size_t size, mirelo_out*) {
    return guarded([&] {
        std::vector<Claim> claims = claims_of(boards, count, Access::exclusive);
        claims.insert(claims.begin(), shared(generator));
        return with(claims, [&] {
            if (const int status = check_size(size, count * MOVE_INDEX_SIZE)) return status;
            MoveList moves;
            for (std::size_t i = 0; i < count; ++i) {
                generator->value.moves(boards[i]->value, moves);
                write_move_mask(moves, static_cast<std::uint8_t*>(data) + i * MOVE_INDEX_SIZE);
            }
            return int{MIRELO_OK};
        });
    });
}

// ---------------------------------------------------------------------------
// Texts

const char* mirelo_default_fen(void) { return DEFAULT_FEN.data(); }

const char* mirelo_side_name(int side) { return side == MIRELO_WHITE ? "white" : "black"; }

const char* mirelo_outcome_name(int outcome) {
    switch (outcome) {
        case MIRELO_CHECKMATE: return "checkmate";
        case MIRELO_STALEMATE: return "stalemate";
        case MIRELO_INSUFFICIENT_MATERIAL: return "insufficient_material";
        case MIRELO_FIVEFOLD_REPETITION: return "fivefold_repetition";
        default: return nullptr;
    }
}

const char* mirelo_panic_name(void) { return "pyo3_runtime.PanicException"; }

const char* mirelo_panic_doc(void) {
    return "Raised when native code called from Python fails an internal check.\n\n"
           "Like SystemExit, it derives from BaseException, not from Exception, so that it\n"
           "normally propagates all the way up and ends the interpreter.";
}

void mirelo_set_wait_hook(mirelo_wait_hook hook) { set_wait_hook(hook); }

}  // extern "C"
