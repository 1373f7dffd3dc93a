// The MoveGenerator class: attack tables built once, called with a Board to
// list its legal moves.
#include "boundary.h"

namespace mirelo::py {

namespace {

constexpr const char* CALL_PARAMS[] = {"board"};
constexpr Signature NEW_SIGNATURE{"MoveGenerator.__new__()", nullptr, 0, 0};
constexpr Signature CALL_SIGNATURE{"MoveGenerator.__call__()", CALL_PARAMS, 1, 1};

PyObject* generator_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        bind(NEW_SIGNATURE, args, kwargs, nullptr);
        return wrap<MoveGenerator>();
    });
}

PyObject* legal_move_texts(const MoveList& list) {
    PyObject* texts = PyList_New(static_cast<Py_ssize_t>(list.size));
    if (texts == nullptr) throw_python_error();
    try {
        for (std::size_t i = 0; i < list.size; ++i) {
            char text[5];
            PyList_SET_ITEM(texts, static_cast<Py_ssize_t>(i), new_ascii_str(text, list.moves[i].write(text)));
        }
    } catch (...) {
        Py_DECREF(texts);
        throw;
    }
    return texts;
}

PyObject* generator_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        PyObject* bound[1];
        bind(CALL_SIGNATURE, args, kwargs, bound);
        MoveGeneratorObject* generator = receiver<MoveGenerator>(self);
        Borrow generator_borrow(generator->borrow, Access::shared);
        BoardObject* board = board_argument(bound[0], "board");
        Borrow board_borrow(board->borrow, Access::exclusive);
        MoveList list;
        generator->value.moves(board->value, list);
        return legal_move_texts(list);
    });
}

PyType_Slot SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("MoveGenerator()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(generator_new)},
    {Py_tp_call, reinterpret_cast<void*>(generator_call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<MoveGenerator>)},
    {0, nullptr},
};

PyType_Spec SPEC = {"mirelo_chess.MoveGenerator", sizeof(MoveGeneratorObject), 0, Py_TPFLAGS_DEFAULT, SLOTS};

}  // namespace

template <>
PyTypeObject* type_object<MoveGenerator>() {
    static PyTypeObject* type = nullptr;
    if (type == nullptr) type = create_type(SPEC, class_name<MoveGenerator>());
    return type;
}

}  // namespace mirelo::py
