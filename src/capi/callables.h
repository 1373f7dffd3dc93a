// Every callable Python sees, declared once: the C function behind it, its
// class and names, its parameters with their kinds, its result kind and its
// documentation. The C interface exports the rows (mirelo_callables) for the
// PyPy face, which builds its Python functions from them; the CPython face
// instantiates its entry points from the same rows at compile time, the C
// function included.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include "board.h"
#include "mirelo_capi.h"

namespace mirelo::capi {

// A row and the C function it names.
template <auto Function>
struct Declared {
    static constexpr auto function = Function;
    mirelo_callable row;
};

constexpr mirelo_param param(const char* name, mirelo_kind kind) { return {name, kind, 0, nullptr}; }
constexpr mirelo_param changed(const char* name, mirelo_kind kind) { return {name, kind, 1, nullptr}; }

// The count of the parameters of a row, and how many lead without fallback.
template <std::size_t N>
constexpr std::size_t required_of(const std::array<mirelo_param, N>& params) {
    std::size_t required = 0;
    while (required < N && params[required].fallback == nullptr) ++required;
    return required;
}

template <auto Function, std::size_t N>
constexpr Declared<Function> declare(const char* function, const char* owner, const char* name, mirelo_entry entry,
                                     mirelo_class receiver, bool receiver_exclusive,
                                     const std::array<mirelo_param, N>& params, mirelo_result result,
                                     const char* doc) {
    static_assert(N <= MIRELO_MAX_PARAMS);
    mirelo_callable row{function, owner, name, entry, receiver, receiver_exclusive, result, N, required_of(params),
                        {}, doc};
    for (std::size_t i = 0; i < N; ++i) row.params[i] = params[i];
    return {row};
}

// DECLARE(C function, owner, Python name, entry, receiver, receiver changed?,
//         {parameters}, result, documentation)
#define MIRELO_DECLARE(function, owner, name, entry, receiver, exclusive, params, result, doc) \
    declare<&function>(#function, owner, name, entry, receiver, exclusive, params, result, doc)
#define MIRELO_PARAMS(...) std::to_array<mirelo_param>({__VA_ARGS__})

inline constexpr std::array<mirelo_param, 0> NO_PARAMS{};


inline constexpr auto CALLABLES = std::tuple{
    // ---- Board
    MIRELO_DECLARE(mirelo_board_new, "Board", "__new__", MIRELO_CONSTRUCTOR, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(mirelo_param{"fen", MIRELO_TEXT, 0, DEFAULT_FEN.data()}), MIRELO_NEW_BOARD, ""),
    MIRELO_DECLARE(mirelo_planes_from_fen, "Board", "bitboard_from_fen", MIRELO_STATIC_METHOD, MIRELO_NO_CLASS,
                   false, MIRELO_PARAMS(param("fen", MIRELO_TEXT)), MIRELO_PLANE_LISTS, ""),
    MIRELO_DECLARE(mirelo_board_fen, "Board", "fen", MIRELO_METHOD, MIRELO_BOARD_CLASS, false, NO_PARAMS,
                   MIRELO_STRING, ""),
    MIRELO_DECLARE(mirelo_board_push, "Board", "push", MIRELO_METHOD, MIRELO_BOARD_CLASS, true,
                   MIRELO_PARAMS(param("chess_move", MIRELO_MOVE)), MIRELO_NOTHING, ""),
    MIRELO_DECLARE(mirelo_board_pop, "Board", "pop", MIRELO_METHOD, MIRELO_BOARD_CLASS, true, NO_PARAMS,
                   MIRELO_NOTHING, ""),
    MIRELO_DECLARE(mirelo_board_planes, "Board", "bitboard", MIRELO_METHOD, MIRELO_BOARD_CLASS, false, NO_PARAMS,
                   MIRELO_PLANE_LISTS, ""),
    MIRELO_DECLARE(mirelo_board_turn, "Board", "turn", MIRELO_METHOD, MIRELO_BOARD_CLASS, false, NO_PARAMS,
                   MIRELO_SIDE_NAME, ""),
    MIRELO_DECLARE(mirelo_board_reflect, "Board", "reflect", MIRELO_METHOD, MIRELO_BOARD_CLASS, true, NO_PARAMS,
                   MIRELO_NOTHING, ""),
    MIRELO_DECLARE(mirelo_board_copy, "Board", "copy", MIRELO_METHOD, MIRELO_BOARD_CLASS, false, NO_PARAMS,
                   MIRELO_NEW_BOARD, ""),

    // ---- MoveGenerator
    MIRELO_DECLARE(mirelo_generator_new, "MoveGenerator", "__new__", MIRELO_CONSTRUCTOR, MIRELO_NO_CLASS, false,
                   NO_PARAMS, MIRELO_NEW_GENERATOR, ""),
    MIRELO_DECLARE(mirelo_generator_moves, "MoveGenerator", "__call__", MIRELO_CALL, MIRELO_GENERATOR_CLASS, false,
                   MIRELO_PARAMS(changed("board", MIRELO_BOARD)), MIRELO_MOVE_TEXTS, ""),

    // ---- mirelo_chess.game
    MIRELO_DECLARE(mirelo_game_is_check, nullptr, "is_check", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("board", MIRELO_BOARD)), MIRELO_YES_NO,
                   "Whether the king of the side to move is attacked (False when that\n"
                   "side has no king)."),
    MIRELO_DECLARE(mirelo_game_repetitions, nullptr, "repetitions", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("board", MIRELO_BOARD)), MIRELO_COUNT,
                   "How many times the current position has occurred in the board's\n"
                   "history, this occurrence included (1 when it is new).\n\n"
                   "The history is what pop() can take back: copy() keeps it,\n"
                   "reflect() clears it. Positions are compared as the repetition rule\n"
                   "does: the same placement, side to move and castling rights, where a right\n"
                   "counts only while its king and rook stand on their home squares, and the\n"
                   "same en-passant capture, which counts only when it is legal."),
    MIRELO_DECLARE(mirelo_game_outcome, nullptr, "outcome", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("generator", MIRELO_GENERATOR), changed("board", MIRELO_BOARD)), MIRELO_OUTCOME_NAME,
                   "How the game has ended, or None while it goes on.\n\n"
                   "\"checkmate\" and \"stalemate\": the side to move has no legal move,\n"
                   "with or without its king attacked. \"insufficient_material\": neither\n"
                   "side can ever mate (a lone king, or a single minor piece that no\n"
                   "opposing pawn, knight, bishop or rook could help to a self-mate, or\n"
                   "bishops that all stand on one square colour). \"fivefold_repetition\":\n"
                   "repetitions(board) is 5 or more. Where several apply, the first in\n"
                   "the order checkmate, insufficient material, stalemate, fivefold\n"
                   "repetition is reported. There are no move counters, so there is no\n"
                   "fifty- or seventy-five-move rule."),
    MIRELO_DECLARE(mirelo_game_zobrist_key, nullptr, "zobrist_key", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("board", MIRELO_BOARD)), MIRELO_KEY,
                   "The board's 64-bit position key (0 to 2**64 - 1), kept in step by\n"
                   "every move.\n\n"
                   "The key is the XOR of one fixed random value per piece on a square, per\n"
                   "castling right and en-passant file held, and for white to move. Equal\n"
                   "positions have equal keys however they were reached, and a board's key\n"
                   "equals that of Board(board.fen()), unless the board holds an\n"
                   "en-passant right that its FEN cannot show (as a move played out of turn\n"
                   "leaves). reflect() gives the mirrored position its own key. Unlike\n"
                   "repetitions, the key counts the castling rights and en-passant file as\n"
                   "the board holds them, usable or not. The values are fixed: the same\n"
                   "position has the same key in every process and every release (the start\n"
                   "position's is 0x667057D6B81EBFB3)."),
    MIRELO_DECLARE(mirelo_game_perft, nullptr, "perft", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("generator", MIRELO_GENERATOR), changed("board", MIRELO_BOARD),
                     param("depth", MIRELO_DEPTH)),
                   MIRELO_COUNT,
                   "The number of legal move paths of depth plies from the board\n"
                   "(1 for depth 0), counted natively.\n\n"
                   "depth runs from 0 to 32; outside that range ValueError."),
    MIRELO_DECLARE(mirelo_game_divide, nullptr, "divide", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("generator", MIRELO_GENERATOR), changed("board", MIRELO_BOARD),
                     param("depth", MIRELO_DEPTH)),
                   MIRELO_DIVIDE_ROWS,
                   "perft split by root move: one (move, count) pair per legal move,\n"
                   "in the generator's order, count being the paths of depth plies\n"
                   "that start with that move (empty for depth 0)."),

    // ---- the native half of mirelo_chess.arrays (documented there)
    MIRELO_DECLARE(mirelo_write_planes, nullptr, "planes", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("board", MIRELO_BOARD), param("out", MIRELO_BUFFER), param("element", MIRELO_ELEMENT)),
                   MIRELO_NOTHING, "The planes of a board into out."),
    MIRELO_DECLARE(mirelo_write_planes_batch, nullptr, "planes_batch", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("boards", MIRELO_BOARDS), param("out", MIRELO_BUFFER), param("element", MIRELO_ELEMENT)),
                   MIRELO_NOTHING, "The planes of boards into out, one block after the other."),
    MIRELO_DECLARE(mirelo_write_fen_planes, nullptr, "planes_from_fens", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("fens", MIRELO_TEXTS), param("out", MIRELO_BUFFER), param("element", MIRELO_ELEMENT)),
                   MIRELO_NOTHING, "The planes of the placement fields of FEN texts into out."),
    MIRELO_DECLARE(mirelo_move_index, nullptr, "move_index", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("text", MIRELO_TEXT)), MIRELO_INDEX_NUMBER, "The index of a move text."),
    MIRELO_DECLARE(mirelo_index_move_text, nullptr, "move_text", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("index", MIRELO_INDEX)), MIRELO_STRING, "The move text of an index."),
    MIRELO_DECLARE(mirelo_legal_indices, nullptr, "legal_indices", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("generator", MIRELO_GENERATOR), changed("board", MIRELO_BOARD)), MIRELO_MOVE_INDICES,
                   "The indices of the legal moves, as int64 bytes."),
    MIRELO_DECLARE(mirelo_legal_mask, nullptr, "legal_mask", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("generator", MIRELO_GENERATOR), changed("board", MIRELO_BOARD),
                     param("out", MIRELO_BUFFER)),
                   MIRELO_NOTHING, "The legal-move mask of a board into out."),
    MIRELO_DECLARE(mirelo_legal_mask_batch, nullptr, "legal_mask_batch", MIRELO_FUNCTION, MIRELO_NO_CLASS, false,
                   MIRELO_PARAMS(param("generator", MIRELO_GENERATOR), changed("boards", MIRELO_BOARDS),
                     param("out", MIRELO_BUFFER)),
                   MIRELO_NOTHING, "The legal-move masks of boards into out, one after the other."),
};

inline constexpr std::size_t CALLABLE_COUNT = std::tuple_size_v<decltype(CALLABLES)>;

// The rows alone, as the C interface exports them.
inline constexpr std::array<mirelo_callable, CALLABLE_COUNT> CALLABLE_ROWS =
    std::apply([](const auto&... declared) { return std::array{declared.row...}; }, CALLABLES);

}  // namespace mirelo::capi
