// Module initialisation: the module object and its two classes, and the
// private module mirelo_chess._native, all made once per process from the
// rows of the declaration table.
#include "boundary.h"

#include <structmember.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace mirelo::py {

PyObject* panic_exception_class();

namespace {

using capi::CALLABLE_COUNT;

// ---------------------------------------------------------------------------
// The four calling conventions of a row.

template <std::size_t I>
PyObject* no_arguments(PyObject* self, PyObject*) {
    return guarded([&] { return invoke<I>(self, nullptr); });
}

template <std::size_t I>
PyObject* vector_arguments(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        PyObject* bound[MIRELO_MAX_PARAMS];
        bind(row_of<I>, args, nargs, kwnames, bound);
        return invoke<I>(self, bound);
    });
}

template <std::size_t I>
PyObject* tuple_arguments(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        PyObject* bound[MIRELO_MAX_PARAMS];
        bind(row_of<I>, args, kwargs, bound);
        return invoke<I>(self, bound);
    });
}

template <std::size_t I>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return tuple_arguments<I>(reinterpret_cast<PyObject*>(type), args, kwargs);
}

// The vector call of a callable instance (its nargs carries a flag bit).
template <std::size_t I>
PyObject* instance_call(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    return vector_arguments<I>(self, args, static_cast<Py_ssize_t>(nargsf), kwnames);
}

template <typename F>
PyCFunction cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// ---------------------------------------------------------------------------
// Classes and functions gathered from the rows.

// Texts made at initialisation and kept for the life of the process.
std::deque<std::string> texts;

const char* keep(std::string text) { return texts.emplace_back(std::move(text)).c_str(); }

// "name(signature)\n--\n\n" and the documentation: the form from which the
// interpreter reads a text signature.
const char* documentation(const char* name, const mirelo_callable& row) {
    return keep(std::string(name) + mirelo_signature(&row) + "\n--\n\n" + row.doc);
}

struct Gathered {
    std::vector<PyMethodDef> methods;
    std::vector<PyType_Slot> slots;
};

Gathered board_parts, generator_parts, functions;
vectorcallfunc generator_call = nullptr;

bool owned_by(const mirelo_callable& row, const char* owner) {
    return row.owner != nullptr && std::strcmp(row.owner, owner) == 0;
}

template <std::size_t I>
void gather() {
    constexpr const mirelo_callable& row = row_of<I>;
    Gathered& into = row.owner == nullptr ? functions : owned_by(row, "Board") ? board_parts : generator_parts;
    switch (row.entry) {
        case MIRELO_CONSTRUCTOR:
            into.slots.push_back({Py_tp_new, reinterpret_cast<void*>(construct<I>)});
            into.slots.push_back({Py_tp_doc, const_cast<char*>(documentation(row.owner, row))});
            break;
        case MIRELO_CALL:
            into.slots.push_back({Py_tp_call, reinterpret_cast<void*>(tuple_arguments<I>)});
            generator_call = instance_call<I>;
            break;
        default: {
            const int flags = row.entry == MIRELO_STATIC_METHOD ? METH_STATIC : 0;
            const char* doc = documentation(row.name, row);
            if (row.entry == MIRELO_METHOD && row.count == 0)
                into.methods.push_back({row.name, no_arguments<I>, METH_NOARGS, doc});
            else
                into.methods.push_back(
                    {row.name, cfunction(vector_arguments<I>), METH_FASTCALL | METH_KEYWORDS | flags, doc});
        }
    }
}

template <std::size_t... I>
void gather_all(std::index_sequence<I...>) {
    (gather<I>(), ...);
}

template <bool Board>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if constexpr (Board)
        mirelo_board_drop(board_of(self));
    else
        mirelo_generator_drop(generator_of(self));
    type->tp_free(self);
    Py_DECREF(type);
}

PyMemberDef GENERATOR_MEMBERS[] = {
    {"__vectorcalloffset__", T_PYSSIZET, static_cast<Py_ssize_t>(offsetof(GeneratorObject, vectorcall)), READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

// A class from its gathered parts. Its layout names the module
// ("mirelo_chess.Board") so that the class has a __module__; then it gets its
// bare name, which every message uses.
PyTypeObject* create_type(const char* name, const char* qualified, Gathered& parts, int size, unsigned long flags) {
    parts.methods.push_back({nullptr, nullptr, 0, nullptr});
    parts.slots.push_back({Py_tp_methods, parts.methods.data()});
    parts.slots.push_back({0, nullptr});
    static std::deque<PyType_Spec> specs;
    PyType_Spec& spec =
        specs.emplace_back(PyType_Spec{qualified, size, 0, static_cast<unsigned>(flags), parts.slots.data()});
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    if (type == nullptr) return nullptr;
    type->tp_name = name;
#if PY_VERSION_HEX < 0x030A0000
    // Before 3.10 a class made from a layout keeps only the text after its
    // signature; put the whole text back so that the signature can be read.
    for (const PyType_Slot& slot : parts.slots) {
        if (slot.slot != Py_tp_doc) continue;
        const auto* doc = static_cast<const char*>(slot.pfunc);
        const std::size_t length = std::strlen(doc) + 1;
        auto* copy = static_cast<char*>(PyObject_Malloc(length));
        if (copy == nullptr) {
            Py_DECREF(type);
            PyErr_NoMemory();
            return nullptr;
        }
        std::memcpy(copy, doc, length);
        PyObject_Free(const_cast<char*>(type->tp_doc));
        type->tp_doc = copy;
    }
#endif
    return type;
}

bool create_types() {
    gather_all(std::make_index_sequence<CALLABLE_COUNT>());
    board_parts.slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc<true>)});
    generator_parts.slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc<false>)});
    generator_parts.slots.push_back({Py_tp_members, GENERATOR_MEMBERS});
    board_type = create_type("Board", "mirelo_chess.Board", board_parts, sizeof(BoardObject), Py_TPFLAGS_DEFAULT);
    generator_type = create_type("MoveGenerator", "mirelo_chess.MoveGenerator", generator_parts,
                                 sizeof(GeneratorObject), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL);
    return board_type != nullptr && generator_type != nullptr;
}

// Appends the name to __all__ and sets the attribute.
int add_class(PyObject* module, const char* name, PyTypeObject* type) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return -1;
        }
    }
    PyObject* py_name = PyUnicode_FromString(name);
    const int appended = py_name == nullptr ? -1 : PyList_Append(all, py_name);
    Py_XDECREF(py_name);
    Py_DECREF(all);
    if (appended < 0) return -1;
    return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type));
}

PyModuleDef NATIVE_DEF = {PyModuleDef_HEAD_INIT, "mirelo_chess._native", "The native functions of the submodules.",
                          0, nullptr, nullptr, nullptr, nullptr, nullptr};

// mirelo_chess._native: registered in sys.modules, no attribute of
// mirelo_chess, whose surface stays the two classes.
int register_native_module() {
    functions.methods.push_back({nullptr, nullptr, 0, nullptr});
    PyObject* module = PyModule_Create(&NATIVE_DEF);
    if (module == nullptr) return -1;
    PyObject* panic = panic_exception_class();
    const int result = panic == nullptr || PyModule_AddFunctions(module, functions.methods.data()) < 0 ||
                               PyModule_AddIntConstant(module, "MOVE_INDEX_SIZE", MIRELO_MOVE_INDEX_SIZE) < 0 ||
                               PyObject_SetAttrString(module, "PanicException", panic) < 0
                           ? -1
                           : PyDict_SetItemString(PyImport_GetModuleDict(), "mirelo_chess._native", module);
    Py_DECREF(module);
    return result;
}

// A call that must wait for another thread's call on a record gives up the
// interpreter lock meanwhile: that call may need it to finish.
void wait_without_lock(void (*wait)(void*), void* context) {
    Py_BEGIN_ALLOW_THREADS
    wait(context);
    Py_END_ALLOW_THREADS
}

PyModuleDef MODULE_DEF = {PyModuleDef_HEAD_INIT, "mirelo_chess", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyObject* made(int result_kind, PyObject* object) {
    if (result_kind == MIRELO_NEW_GENERATOR) reinterpret_cast<GeneratorObject*>(object)->vectorcall = generator_call;
    return object;
}

}  // namespace mirelo::py

PyMODINIT_FUNC PyInit_mirelo_chess() {
    using namespace mirelo::py;
    static PyObject* module = nullptr;
    if (module != nullptr) {
        Py_INCREF(module);
        return module;
    }
    if (board_type == nullptr && !create_types()) return nullptr;
    PyObject* created = PyModule_Create(&MODULE_DEF);
    if (created == nullptr) return nullptr;
    if (add_class(created, "Board", board_type) < 0 || add_class(created, "MoveGenerator", generator_type) < 0 ||
        register_native_module() < 0) {
        Py_DECREF(created);
        return nullptr;
    }
    mirelo_set_wait_hook(wait_without_lock);
    module = created;
    Py_INCREF(module);
    return module;
}
