// The Board class: a position read from FEN, with its moves, planes and copies.
#include "boundary.h"
#include "encoding.h"

namespace mirelo::py {

namespace {

constexpr const char* FEN_PARAMS[] = {"fen"};
constexpr const char* MOVE_PARAMS[] = {"chess_move"};
constexpr Signature NEW_SIGNATURE{"Board.__new__()", FEN_PARAMS, 1, 0};
constexpr Signature PLANES_SIGNATURE{"Board.bitboard_from_fen()", FEN_PARAMS, 1, 1};
constexpr Signature PUSH_SIGNATURE{"Board.push()", MOVE_PARAMS, 1, 1};

// A no-argument method: receiver check, borrow, body on the native board.
template <Access access, auto body>
PyObject* method(PyObject* self, PyObject*) {
    return guarded([&] {
        BoardObject* board = receiver<Board>(self);
        Borrow borrow(board->borrow, access);
        return body(board->value);
    });
}

PyObject* board_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        check_new_type(type, type_object<Board>(), "Board");
        PyObject* bound[1];
        bind(NEW_SIGNATURE, args, kwargs, bound);
        const std::string_view fen = bound[0] ? text_argument(bound[0], "fen") : DEFAULT_FEN;
        auto board = Board::from_fen(fen);
        if (!board) raise_value_error("Invalid fen: ", board.error());
        return wrap<Board>(std::move(*board));
    });
}

PyObject* bitboard_from_fen(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        PyObject* bound[1];
        bind(PLANES_SIGNATURE, args, nargs, kwnames, bound);
        Planes planes;
        write_planes(pieces_from_fen(text_argument(bound[0], "fen")), PlaneElement::byte, planes.data());
        return new_planes_list(planes);
    });
}

PyObject* push(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        PyObject* bound[1];
        bind(PUSH_SIGNATURE, args, nargs, kwnames, bound);
        BoardObject* board = receiver<Board>(self);
        Borrow borrow(board->borrow, Access::exclusive);
        const auto move = ChessMove::from_str(text_argument(bound[0], "chess_move"));
        if (!move) raise_value_error("Invalid chess move: ", move.error());
        if (auto made = board->value.push(*move); !made) raise_value_error("Invalid chess move: ", made.error());
        return none();
    });
}

PyObject* fen(Board& board) {
    char text[FEN_CAPACITY];
    return new_ascii_str(text, board.write_fen(text));
}

PyObject* pop(Board& board) {
    board.pop_move();
    return none();
}

PyObject* bitboard(Board& board) {
    Planes planes;
    write_planes(board.pieces, PlaneElement::byte, planes.data());
    return new_planes_list(planes);
}

PyObject* turn(Board& board) { return board.to_move() ? new_ascii_str("white", 5) : new_ascii_str("black", 5); }

PyObject* reflect(Board& board) {
    board.reflect();
    return none();
}

PyObject* copy(Board& board) { return wrap<Board>(board); }

template <typename F>
PyCFunction cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef METHODS[] = {
    {"bitboard_from_fen", cfunction(bitboard_from_fen), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "bitboard_from_fen(fen)\n--\n\n"},
    {"fen", method<Access::shared, fen>, METH_NOARGS, "fen($self)\n--\n\n"},
    {"push", cfunction(push), METH_FASTCALL | METH_KEYWORDS, "push($self, chess_move)\n--\n\n"},
    {"pop", method<Access::exclusive, pop>, METH_NOARGS, "pop($self)\n--\n\n"},
    {"bitboard", method<Access::shared, bitboard>, METH_NOARGS, "bitboard($self)\n--\n\n"},
    {"turn", method<Access::shared, turn>, METH_NOARGS, "turn($self)\n--\n\n"},
    {"reflect", method<Access::exclusive, reflect>, METH_NOARGS, "reflect($self)\n--\n\n"},
    {"copy", method<Access::shared, copy>, METH_NOARGS, "copy($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

template <>
PyType_Spec& type_layout<Board>() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(
                        "Board(fen=\"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -\")\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(board_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Board>)},
        {Py_tp_methods, METHODS},
        {0, nullptr},
    };
    static PyType_Spec layout = {"mirelo_chess.Board", sizeof(BoardObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return layout;
}

}  // namespace mirelo::py
