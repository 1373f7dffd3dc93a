// Module initialisation: the module object and its two classes, and the
// private module mirelo_chess._native, all made once per process from the
// rows of the declaration table.
#include "boundary.h"

#include <structmember.h>

#include <cstring>
#include <array>
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
        // The common call gives every argument by position: they are bound as they stand.
        if (kwnames == nullptr && PyVectorcall_NARGS(nargs) == static_cast<Py_ssize_t>(row_of<I>.count))
            return invoke<I>(self, args);
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
    vectorcallfunc call = nullptr;  // the vector call of callable instances
};

// The parts of each class, and the functions of mirelo_chess._native.
Gathered classes[MIRELO_CLASS_END], functions;

template <std::size_t I>
void gather() {
    constexpr const mirelo_callable& row = row_of<I>;
    Gathered& into = row.entry == MIRELO_FUNCTION ? functions : classes[row.owner];
    switch (row.entry) {
        case MIRELO_CONSTRUCTOR:
            into.slots.push_back({Py_tp_new, reinterpret_cast<void*>(construct<I>)});
            into.slots.push_back(
                {Py_tp_doc, const_cast<char*>(documentation(mirelo_class_info_of(row.owner)->name, row))});
            break;
        case MIRELO_CALL:
            into.slots.push_back({Py_tp_call, reinterpret_cast<void*>(tuple_arguments<I>)});
            into.call = instance_call<I>;
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

template <int Class>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    mirelo_drop(Class, record_of(self));
    type->tp_free(self);
    Py_DECREF(type);
}

template <std::size_t... C>
constexpr std::array<destructor, MIRELO_CLASS_END> deallocs(std::index_sequence<C...>) {
    return {dealloc<static_cast<int>(C)>...};
}

PyMemberDef CALL_MEMBERS[] = {
    {"__vectorcalloffset__", T_PYSSIZET, static_cast<Py_ssize_t>(offsetof(NativeObject, vectorcall)), READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

// A class from its gathered parts. Its layout names its module
// ("mirelo_chess.Board") so that the class has a __module__; then it gets its
// bare name, which every message uses.
PyTypeObject* create_type(int cls) {
    static constexpr auto DEALLOCS = deallocs(std::make_index_sequence<MIRELO_CLASS_END>());
    const mirelo_class_info& info = *mirelo_class_info_of(cls);
    Gathered& parts = classes[cls];
    unsigned flags = Py_TPFLAGS_DEFAULT;
    if (parts.call != nullptr) {
        flags |= Py_TPFLAGS_HAVE_VECTORCALL;
        parts.slots.push_back({Py_tp_members, CALL_MEMBERS});
    }
    parts.slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(DEALLOCS[cls])});
    parts.methods.push_back({nullptr, nullptr, 0, nullptr});
    parts.slots.push_back({Py_tp_methods, parts.methods.data()});
    parts.slots.push_back({0, nullptr});
    static std::deque<PyType_Spec> layouts;
    const int size = static_cast<int>(offsetof(NativeObject, record) + info.size);
    PyType_Spec& layout = layouts.emplace_back(
        PyType_Spec{keep(std::string(info.module) + "." + info.name), size, 0, flags, parts.slots.data()});
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&layout));
    if (type == nullptr) return nullptr;
    type->tp_name = info.name;
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
    for (int cls = 1; cls < MIRELO_CLASS_END; ++cls)
        if ((types[cls] = create_type(cls)) == nullptr) return false;
    return true;
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
    bool classes_added = true;
    for (int cls = 1; classes_added && cls < MIRELO_CLASS_END; ++cls) {
        const mirelo_class_info& info = *mirelo_class_info_of(cls);
        if (std::strcmp(info.module, NATIVE_DEF.m_name) == 0)
            classes_added = PyObject_SetAttrString(module, info.name, reinterpret_cast<PyObject*>(types[cls])) == 0;
    }
    const int result = !classes_added || panic == nullptr || PyModule_AddFunctions(module, functions.methods.data()) < 0 ||
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

PyObject* made(int cls, PyObject* object) {
    reinterpret_cast<NativeObject*>(object)->vectorcall = classes[cls].call;
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
    if (types[1] == nullptr && !create_types()) return nullptr;
    PyObject* created = PyModule_Create(&MODULE_DEF);
    if (created == nullptr) return nullptr;
    bool added = true;
    for (int cls = 1; added && cls < MIRELO_CLASS_END; ++cls) {
        const mirelo_class_info& info = *mirelo_class_info_of(cls);
        if (std::strcmp(info.module, "mirelo_chess") == 0) added = add_class(created, info.name, types[cls]) == 0;
    }
    if (!added || register_native_module() < 0) {
        Py_DECREF(created);
        return nullptr;
    }
    mirelo_set_wait_hook(wait_without_lock);
    module = created;
    Py_INCREF(module);
    return module;
}
