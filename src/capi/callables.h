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
#include <type_traits>

#include "board.h"
#include "mirelo_capi.h"

namespace mirelo::capi {

// A row and the C function it names.
template <auto Function>
struct Declared {
    static constexpr auto function = Function;
    mirelo_callable row;
};

constexpr mirelo_param param(const char* name, mirelo_kind kind) { return {name, kind, MIRELO_NO_CLASS, 0, nullptr}; }

// An instance of a class (or, as OBJECTS, a list of them) that the call reads.
constexpr mirelo_param read(const char* name, mirelo_class cls, mirelo_kind kind = MIRELO_OBJECT) {
    return {name, kind, cls, 0, nullptr};
}

// The same, changed by the call (it may play moves on a board and take them back).
constexpr mirelo_param changed(const char* name, mirelo_class cls, mirelo_kind kind = MIRELO_OBJECT) {
    return {name, kind, cls, 1, nullptr};
}

// The count of the parameters of a row, and how many lead without fallback.
template <std::size_t N>
constexpr std::size_t required_of(const std::array<mirelo_param, N>& params) {
    std::size_t required = 0;
    while (required < N && params[required].fallback == nullptr) ++required;
    return required;
}

// What a call does with its receiver or makes.
enum class Self : bool { read, changed };

static_assert(std::extent_v<decltype(mirelo_callable::params)> == MIRELO_MAX_PARAMS);

template <auto Function, std::size_t N>
constexpr Declared<Function> declare(const char* function, const char* name, mirelo_entry entry, mirelo_class owner,
                                     Self self, const std::array<mirelo_param, N>& params, mirelo_result result,
                                     mirelo_class result_class, const char* doc) {
    static_assert(N <= MIRELO_MAX_PARAMS);
    mirelo_callable row{function, name,  entry, owner, self == Self::changed, result, result_class,
                        N,        required_of(params), {}, doc};
    for (std::size_t i = 0; i < N; ++i) row.params[i] = params[i];
    return {row};
}

// DECLARE(C function, Python name, entry, class, receiver read or changed,
//         parameters, result, class of a new object, documentation)
#define MIRELO_DECLARE(function, ...) declare<&function>(#function, __VA_ARGS__)
#define MIRELO_PARAMS(...) std::to_array<mirelo_param>({__VA_ARGS__})

inline constexpr std::array<mirelo_param, 0> NO_PARAMS{};

constexpr auto BOARD = MIRELO_BOARD_CLASS;
constexpr auto GENERATOR = MIRELO_GENERATOR_CLASS;
constexpr auto PGN_READER = MIRELO_PGN_READER_CLASS;
constexpr auto NONE = MIRELO_NO_CLASS;

inline constexpr auto CALLABLES = std::tuple{
    // ---- Board
    MIRELO_DECLARE(mirelo_board_new, "__new__", MIRELO_CONSTRUCTOR, BOARD, Self::read,
                   MIRELO_PARAMS(mirelo_param{"fen", MIRELO_TEXT, NONE, 0, DEFAULT_FEN.data()}), MIRELO_NEW_OBJECT,
                   BOARD, ""),
    MIRELO_DECLARE(mirelo_planes_from_fen, "bitboard_from_fen", MIRELO_STATIC_METHOD, BOARD, Self::read,
                   MIRELO_PARAMS(param("fen", MIRELO_TEXT)), MIRELO_PLANE_LISTS, NONE, ""),
    MIRELO_DECLARE(mirelo_board_fen, "fen", MIRELO_METHOD, BOARD, Self::read, NO_PARAMS, MIRELO_STRING, NONE, ""),
    MIRELO_DECLARE(mirelo_board_push, "push", MIRELO_METHOD, BOARD, Self::changed,
                   MIRELO_PARAMS(param("chess_move", MIRELO_MOVE)), MIRELO_NOTHING, NONE, ""),
    MIRELO_DECLARE(mirelo_board_pop, "pop", MIRELO_METHOD, BOARD, Self::changed, NO_PARAMS, MIRELO_NOTHING, NONE, ""),
    MIRELO_DECLARE(mirelo_board_planes, "bitboard", MIRELO_METHOD, BOARD, Self::read, NO_PARAMS, MIRELO_PLANE_LISTS, NONE, ""),
    MIRELO_DECLARE(mirelo_board_turn, "turn", MIRELO_METHOD, BOARD, Self::read, NO_PARAMS, MIRELO_SIDE_NAME, NONE, ""),
    MIRELO_DECLARE(mirelo_board_reflect, "reflect", MIRELO_METHOD, BOARD, Self::changed, NO_PARAMS, MIRELO_NOTHING, NONE, ""),
    MIRELO_DECLARE(mirelo_board_copy, "copy", MIRELO_METHOD, BOARD, Self::read, NO_PARAMS, MIRELO_NEW_OBJECT, BOARD, ""),

    // ---- MoveGenerator
    MIRELO_DECLARE(mirelo_generator_new, "__new__", MIRELO_CONSTRUCTOR, GENERATOR, Self::read, NO_PARAMS,
                   MIRELO_NEW_OBJECT, GENERATOR, ""),
    MIRELO_DECLARE(mirelo_generator_moves, "__call__", MIRELO_CALL, GENERATOR, Self::read,
                   MIRELO_PARAMS(changed("board", BOARD)), MIRELO_MOVE_TEXTS, NONE, ""),

    // ---- mirelo_chess.game
    MIRELO_DECLARE(mirelo_game_is_check, "is_check", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("board", BOARD)), MIRELO_YES_NO, NONE,
                   "Whether the king of the side to move is attacked (False when that\n"
                   "side has no king)."),
    MIRELO_DECLARE(mirelo_game_repetitions, "repetitions", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("board", BOARD)), MIRELO_COUNT, NONE,
                   "How many times the current position has occurred in the board's\n"
                   "history, this occurrence included (1 when it is new).\n\n"
                   "The history is what pop() can take back: copy() keeps it,\n"
                   "reflect() clears it. Positions are compared as the repetition rule\n"
                   "does: the same placement, side to move and castling rights, where a right\n"
                   "counts only while its king and rook stand on their home squares, and the\n"
                   "same en-passant capture, which counts only when it is legal."),
    MIRELO_DECLARE(mirelo_game_outcome, "outcome", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("board", BOARD)), MIRELO_OUTCOME_NAME, NONE,
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
    MIRELO_DECLARE(mirelo_game_zobrist_key, "zobrist_key", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("board", BOARD)), MIRELO_KEY, NONE,
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
    MIRELO_DECLARE(mirelo_game_perft, "perft", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("board", BOARD),
                     param("depth", MIRELO_DEPTH)),
                   MIRELO_COUNT, NONE,
                   "The number of legal move paths of depth plies from the board\n"
                   "(1 for depth 0), counted natively.\n\n"
                   "depth runs from 0 to 32; outside that range ValueError."),
    MIRELO_DECLARE(mirelo_game_divide, "divide", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("board", BOARD),
                     param("depth", MIRELO_DEPTH)),
                   MIRELO_DIVIDE_ROWS, NONE,
                   "perft split by root move: one (move, count) pair per legal move,\n"
                   "in the generator's order, count being the paths of depth plies\n"
                   "that start with that move (empty for depth 0)."),

    // ---- the native half of mirelo_chess.arrays (documented there)
    MIRELO_DECLARE(mirelo_write_planes, "planes", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("board", BOARD), param("out", MIRELO_BUFFER), param("element", MIRELO_ELEMENT)),
                   MIRELO_NOTHING, NONE, "The planes of a board into out."),
    MIRELO_DECLARE(mirelo_write_planes_batch, "planes_batch", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("boards", BOARD, MIRELO_OBJECTS), param("out", MIRELO_BUFFER), param("element", MIRELO_ELEMENT)),
                   MIRELO_NOTHING, NONE, "The planes of boards into out, one block after the other."),
    MIRELO_DECLARE(mirelo_write_fen_planes, "planes_from_fens", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(param("fens", MIRELO_TEXTS), param("out", MIRELO_BUFFER), param("element", MIRELO_ELEMENT)),
                   MIRELO_NOTHING, NONE, "The planes of the placement fields of FEN texts into out."),
    MIRELO_DECLARE(mirelo_move_index, "move_index", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(param("text", MIRELO_TEXT)), MIRELO_INDEX_NUMBER, NONE, "The index of a move text."),
    MIRELO_DECLARE(mirelo_index_move_text, "move_text", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(param("index", MIRELO_INDEX)), MIRELO_STRING, NONE, "The move text of an index."),
    MIRELO_DECLARE(mirelo_legal_indices, "legal_indices", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("board", BOARD)), MIRELO_MOVE_INDICES, NONE,
                   "The indices of the legal moves, as int64 bytes."),
    MIRELO_DECLARE(mirelo_legal_mask, "legal_mask", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("board", BOARD),
                     param("out", MIRELO_BUFFER)),
                   MIRELO_NOTHING, NONE, "The legal-move mask of a board into out."),
    MIRELO_DECLARE(mirelo_legal_mask_batch, "legal_mask_batch", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("boards", BOARD, MIRELO_OBJECTS),
                     param("out", MIRELO_BUFFER)),
                   MIRELO_NOTHING, NONE, "The legal-move masks of boards into out, one after the other."),

    // ---- mirelo_chess.pgn: SAN both ways
    MIRELO_DECLARE(mirelo_san, "san", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("board", BOARD), param("move", MIRELO_MOVE)),
                   MIRELO_STRING, NONE,
                   "The Standard Algebraic Notation of a legal move given as the\n"
                   "generator writes it: \"g1f3\" -> \"Nf3\", \"e1g1\" -> \"O-O\",\n"
                   "\"e7e8q\" -> \"e8=Q\", with \"+\" for check and \"#\" for mate, and the\n"
                   "piece's origin told apart by file, else rank, else both, where another\n"
                   "piece of its kind could reach the same square.\n\n"
                   "A move that is not in generator(board) raises ValueError naming it.\n"
                   "The board is unchanged."),
    MIRELO_DECLARE(mirelo_parse_san, "parse_san", MIRELO_FUNCTION, NONE, Self::read,
                   MIRELO_PARAMS(read("generator", GENERATOR), changed("board", BOARD), param("text", MIRELO_TEXT)),
                   MIRELO_MOVE_TEXT, NONE,
                   "The legal move a SAN text names, as the generator writes it\n"
                   "(\"Nf3\" -> \"g1f3\").\n\n"
                   "Check and mate suffixes, \"O-O\" and \"0-0\", promotions with or without\n"
                   "\"=\" and in either case, over-disambiguated texts (\"Ng1f3\", \"e2-e4\")\n"
                   "and plain move texts (\"e2e4\") are read. ValueError, quoting the text,\n"
                   "for a text that is no SAN (\"Invalid SAN\"), names no legal move or a\n"
                   "null move (\"Illegal SAN\") or more than one (\"Ambiguous SAN\"). The\n"
                   "board is unchanged."),

    // ---- the native half of mirelo_chess.pgn: the reader (documented there)
    MIRELO_DECLARE(mirelo_pgn_reader_new, "__new__", MIRELO_CONSTRUCTOR, PGN_READER, Self::read,
                   MIRELO_PARAMS(param("comments", MIRELO_FLAG)), MIRELO_NEW_OBJECT, PGN_READER,
                   "A reader of PGN games, fed bytes in chunks."),
    MIRELO_DECLARE(mirelo_pgn_reader_feed, "feed", MIRELO_METHOD, PGN_READER, Self::changed,
                   MIRELO_PARAMS(param("data", MIRELO_BYTES)), MIRELO_NOTHING, NONE, "Appends input bytes."),
    MIRELO_DECLARE(mirelo_pgn_reader_finish, "finish", MIRELO_METHOD, PGN_READER, Self::changed, NO_PARAMS,
                   MIRELO_NOTHING, NONE, "Marks the end of the input."),
    MIRELO_DECLARE(mirelo_pgn_reader_next, "next", MIRELO_METHOD, PGN_READER, Self::changed, NO_PARAMS, MIRELO_GAME,
                   NONE, "The next complete game, or None."),
    MIRELO_DECLARE(mirelo_pgn_reader_pending, "pending", MIRELO_METHOD, PGN_READER, Self::read, NO_PARAMS,
                   MIRELO_COUNT, NONE, "Bytes fed and not yet read into a game."),
    MIRELO_DECLARE(mirelo_pgn_reader_fill, "fill", MIRELO_METHOD, PGN_READER, Self::changed,
                   MIRELO_PARAMS(param("planes", MIRELO_BUFFER), param("element", MIRELO_ELEMENT),
                     param("moves", MIRELO_BUFFER), param("results", MIRELO_BUFFER), param("turns", MIRELO_BUFFER),
                     param("games", MIRELO_BUFFER)),
                   MIRELO_COUNT, NONE, "Training rows of the games read into the buffers; their number."),
};

inline constexpr std::size_t CALLABLE_COUNT = std::tuple_size_v<decltype(CALLABLES)>;

// The rows alone, as the C interface exports them.
inline constexpr std::array<mirelo_callable, CALLABLE_COUNT> CALLABLE_ROWS =
    std::apply([](const auto&... declared) { return std::array{declared.row...}; }, CALLABLES);

}  // namespace mirelo::capi
