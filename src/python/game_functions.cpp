// Functions of the game submodule: check, repetitions, outcome, position key
// and move-path counts of a board. Each passes the same boundary as the class
// methods: bind, convert and borrow the arguments in parameter order, run the
// core, convert the result.
#include "boundary.h"
#include "game.h"
#include "native_module.h"

namespace mirelo::py {

namespace {

constexpr const char* BOARD_PARAMS[] = {"board"};
constexpr const char* OUTCOME_PARAMS[] = {"generator", "board"};
constexpr const char* PERFT_PARAMS[] = {"generator", "board", "depth"};
constexpr Signature IS_CHECK_SIGNATURE{"is_check()", BOARD_PARAMS, 1, 1};
constexpr Signature REPETITIONS_SIGNATURE{"repetitions()", BOARD_PARAMS, 1, 1};
constexpr Signature ZOBRIST_KEY_SIGNATURE{"zobrist_key()", BOARD_PARAMS, 1, 1};
constexpr Signature OUTCOME_SIGNATURE{"outcome()", OUTCOME_PARAMS, 2, 2};
constexpr Signature PERFT_SIGNATURE{"perft()", PERFT_PARAMS, 3, 3};
constexpr Signature DIVIDE_SIGNATURE{"divide()", PERFT_PARAMS, 3, 3};

// A function of one board, read under a shared borrow.
template <PyObject* (*body)(const Board&)>
PyObject* on_board(PyObject* const* bound) {
    BoardObject* board = object_argument<Board>(bound[0], "board");
    Borrow borrow(board->borrow, Access::shared);
    return body(board->value);
}

PyObject* check(const Board& board) { return PyBool_FromLong(is_check(board)); }

PyObject* repetition_count(const Board& board) {
    PyObject* count = PyLong_FromUnsignedLong(repetitions(board));
    if (count == nullptr) throw_python_error();
    return count;
}

PyObject* key(const Board& board) {
    PyObject* value = PyLong_FromUnsignedLongLong(board.zobrist.z_key);
    if (value == nullptr) throw_python_error();
    return value;
}

// A function of a generator and a board it may play moves on: the generator
// borrowed shared, then the board exclusively, then the depth if there is one.
template <PyObject* (*body)(const MoveGenerator&, Board&, PyObject* const*)>
PyObject* on_generator_and_board(PyObject* const* bound) {
    MoveGeneratorObject* generator = object_argument<MoveGenerator>(bound[0], "generator");
    Borrow generator_borrow(generator->borrow, Access::shared);
    BoardObject* board = object_argument<Board>(bound[1], "board");
    Borrow board_borrow(board->borrow, Access::exclusive);
    return body(generator->value, board->value, bound + 2);
}

// The depth argument: any integer, or an object that converts to one like an
// index does, from 0 to MAX_PERFT_DEPTH.
int depth_argument(PyObject* value) {
    if (!PyIndex_Check(value)) raise_conversion_error(value, "PyInt", "depth");
    PyObject* index = PyNumber_Index(value);
    if (index == nullptr) throw_python_error();
    int overflow = 0;
    const long long depth = PyLong_AsLongLongAndOverflow(index, &overflow);
    if (depth == -1 && PyErr_Occurred()) {
        Py_DECREF(index);
        throw_python_error();
    }
    if (overflow != 0 || depth < 0 || depth > MAX_PERFT_DEPTH) {
        PyErr_Format(PyExc_ValueError, "Invalid depth: %S (must be from 0 to %d)", index, MAX_PERFT_DEPTH);
        Py_DECREF(index);
        throw_python_error();
    }
    Py_DECREF(index);
    return static_cast<int>(depth);
}

PyObject* outcome_text(const MoveGenerator& generator, Board& board, PyObject* const*) {
    switch (outcome(generator, board)) {
        case Outcome::none: return none();
        case Outcome::checkmate: return new_ascii_str("checkmate", 9);
        case Outcome::stalemate: return new_ascii_str("stalemate", 9);
        case Outcome::insufficient_material: return new_ascii_str("insufficient_material", 21);
        case Outcome::fivefold_repetition: return new_ascii_str("fivefold_repetition", 19);
    }
    fail("Unknown outcome");
}

PyObject* perft_count(const MoveGenerator& generator, Board& board, PyObject* const* rest) {
    const int depth = depth_argument(rest[0]);
    PyObject* nodes = PyLong_FromUnsignedLongLong(perft(generator, board, depth));
    if (nodes == nullptr) throw_python_error();
    return nodes;
}

// A list of (move text, count) pairs in generation order.
PyObject* divide_rows(const MoveGenerator& generator, Board& board, PyObject* const* rest) {
    const int depth = depth_argument(rest[0]);
    const auto rows = divide(generator, board, depth);
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(rows.size()));
    if (list == nullptr) throw_python_error();
    try {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            PyObject* move = move_text(rows[i].first);  // the generator's own text object
            Py_INCREF(move);
            PyObject* nodes = PyLong_FromUnsignedLongLong(rows[i].second);
            PyObject* row = nodes == nullptr ? nullptr : PyTuple_New(2);
            if (row == nullptr) {
                Py_DECREF(move);
                Py_XDECREF(nodes);
                throw_python_error();
            }
            PyTuple_SET_ITEM(row, 0, move);
            PyTuple_SET_ITEM(row, 1, nodes);
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), row);
        }
    } catch (...) {
        Py_DECREF(list);
        throw;
    }
    return list;
}

}  // namespace

PyMethodDef GAME_FUNCTIONS[] = {
    function_entry<IS_CHECK_SIGNATURE, on_board<check>>("is_check", "is_check(board)\n--\n\n"),
    function_entry<REPETITIONS_SIGNATURE, on_board<repetition_count>>("repetitions", "repetitions(board)\n--\n\n"),
    function_entry<OUTCOME_SIGNATURE, on_generator_and_board<outcome_text>>("outcome",
                                                                             "outcome(generator, board)\n--\n\n"),
    function_entry<ZOBRIST_KEY_SIGNATURE, on_board<key>>("zobrist_key", "zobrist_key(board)\n--\n\n"),
    function_entry<PERFT_SIGNATURE, on_generator_and_board<perft_count>>("perft",
                                                                          "perft(generator, board, depth)\n--\n\n"),
    function_entry<DIVIDE_SIGNATURE, on_generator_and_board<divide_rows>>("divide",
                                                                           "divide(generator, board, depth)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace mirelo::py
