// The MoveGenerator class: attack tables built once, called with a Board to
// list its legal moves.
#include "boundary.h"

#include <structmember.h>

namespace mirelo::py {

namespace {

constexpr const char* CALL_PARAMS[] = {"board"};
constexpr Signature NEW_SIGNATURE{"MoveGenerator.__new__()", nullptr, 0, 0};
constexpr Signature CALL_SIGNATURE{"MoveGenerator.__call__()", CALL_PARAMS, 1, 1};

PyObject* generator_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames);

PyObject* generator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        check_new_type(type, type_object<MoveGenerator>(), "MoveGenerator");
        bind(NEW_SIGNATURE, args, kwargs, nullptr);
        PyObject* generator = wrap<MoveGenerator>();
        reinterpret_cast<MoveGeneratorObject*>(generator)->vectorcall = generator_vectorcall;
        return generator;
    });
}

PyObject* legal_move_texts(const MoveList& list) {
    PyObject* texts = PyList_New(static_cast<Py_ssize_t>(list.size));
    if (texts == nullptr) throw_python_error();
    try {
        for (std::size_t i = 0; i < list.size; ++i) {
            PyObject* text = move_text(list.moves[i]);
            Py_INCREF(text);
            PyList_SET_ITEM(texts, static_cast<Py_ssize_t>(i), text);
        }
    } catch (...) {
        Py_DECREF(texts);
        throw;
    }
    return texts;
}

// The legal moves of the bound board, as texts.
PyObject* call(PyObject* self, PyObject* const* bound) {
    MoveGeneratorObject* generator = receiver<MoveGenerator>(self);
    Borrow generator_borrow(generator->borrow, Access::shared);
    BoardObject* board = object_argument<Board>(bound[0], "board");
    Borrow board_borrow(board->borrow, Access::exclusive);
    MoveList list;
    generator->value.moves(board->value, list);
    return legal_move_texts(list);
}

PyObject* generator_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        PyObject* bound[1];
        bind(CALL_SIGNATURE, args, kwargs, bound);
        return call(self, bound);
    });
}

// The same call without building an argument tuple.
PyObject* generator_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    return guarded([&] {
        PyObject* bound[1];
        bind(CALL_SIGNATURE, args, static_cast<Py_ssize_t>(nargsf), kwnames, bound);
        return call(self, bound);
    });
}

#ifndef PYPY_VERSION
PyMemberDef MEMBERS[] = {
    {"__vectorcalloffset__", T_PYSSIZET, static_cast<Py_ssize_t>(offsetof(ObjectHeader, vectorcall)), READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};
constexpr unsigned long FLAGS = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL;
#else
constexpr unsigned long FLAGS = Py_TPFLAGS_DEFAULT;
#endif

}  // namespace

template <>
PyType_Spec& type_layout<MoveGenerator>() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("MoveGenerator()\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(generator_new)},
        {Py_tp_call, reinterpret_cast<void*>(generator_call)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<MoveGenerator>)},
#ifndef PYPY_VERSION
        {Py_tp_members, MEMBERS},
#endif
        {0, nullptr},
    };
    static PyType_Spec layout = {"mirelo_chess.MoveGenerator", sizeof(MoveGeneratorObject), 0, FLAGS, slots};
    return layout;
}

}  // namespace mirelo::py
