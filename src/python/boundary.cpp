#include "boundary.h"

#include <cstdio>
#include <cstring>

#include "mirelo_capi.h"

namespace mirelo::py {

void throw_python_error() { throw PythonError{}; }

// ---------------------------------------------------------------------------
// Borrows

namespace {

constexpr std::uintptr_t EXCLUSIVE = ~std::uintptr_t{0};

[[noreturn]] void raise_runtime_error(const char* message) {
    PyErr_SetString(PyExc_RuntimeError, message);
    throw_python_error();
}

}  // namespace

Borrow::Borrow(BorrowFlag& flag, Access access) : flag_(flag), access_(access) {
    std::uintptr_t current = flag_.load(std::memory_order_relaxed);
    if (access_ == Access::exclusive) {
        if (current != 0 || !flag_.compare_exchange_strong(current, EXCLUSIVE, std::memory_order_acquire))
            raise_runtime_error("Already borrowed");
        return;
    }
    do {
        // One below all-ones at most: n shared borrows never look exclusive.
        if (current >= EXCLUSIVE - 1) raise_runtime_error("Already mutably borrowed");
    } while (!flag_.compare_exchange_weak(current, current + 1, std::memory_order_acquire));
}

Borrow::~Borrow() {
    if (access_ == Access::exclusive)
        flag_.store(0, std::memory_order_release);
    else
        flag_.fetch_sub(1, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Classes

PyTypeObject* create_type(PyType_Spec& layout, const char* bare_name) {
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&layout));
    if (type == nullptr) return nullptr;
    type->tp_name = bare_name;
#if !defined(PYPY_VERSION) && PY_VERSION_HEX < 0x030A0000
    // Before 3.10 a class made from a layout keeps only the text after its
    // signature; put the whole text back so that the signature can be read.
    for (const PyType_Slot* slot = layout.slots; slot->slot != 0; ++slot) {
        if (slot->slot != Py_tp_doc) continue;
        const auto* doc = static_cast<const char*>(slot->pfunc);
        const std::size_t size = std::strlen(doc) + 1;
        auto* copy = static_cast<char*>(PyObject_Malloc(size));
        if (copy == nullptr) {
            Py_DECREF(type);
            PyErr_NoMemory();
            return nullptr;
        }
        std::memcpy(copy, doc, size);
        PyObject_Free(const_cast<char*>(type->tp_doc));
        type->tp_doc = copy;
    }
#endif
#ifdef PYPY_VERSION
    if (set_empty_doc(reinterpret_cast<PyObject*>(type)) < 0) {
        Py_DECREF(type);
        return nullptr;
    }
#endif
    return type;
}

int set_empty_doc(PyObject* object) {
    PyObject* empty = PyUnicode_FromStringAndSize("", 0);
    if (empty == nullptr) return -1;
    const int result = PyObject_SetAttrString(object, "__doc__", empty);
    Py_DECREF(empty);
    return result;
}

void check_new_type(PyTypeObject* type, PyTypeObject* own, const char* name) {
    if (type == own) return;
    if (PyType_IsSubtype(type, own))
        PyErr_Format(PyExc_TypeError, "type '%s' is not an acceptable base type", name);
    else
        PyErr_Format(PyExc_TypeError, "%s.__new__(%s): %s is not a subtype of %s", name, type->tp_name,
                     type->tp_name, name);
    throw_python_error();
}

// ---------------------------------------------------------------------------
// Binding

namespace {

[[noreturn]] void raise_type_error(PyObject* message) {
    if (message != nullptr) {
        PyErr_SetObject(PyExc_TypeError, message);
        Py_DECREF(message);
    }
    throw_python_error();
}

[[noreturn]] void raise_too_many(const Signature& sig, Py_ssize_t given) {
    const char* verb = given == 1 ? "was" : "were";
    if (sig.required == sig.count)
        raise_type_error(PyUnicode_FromFormat("%s takes %zd positional arguments but %zd %s given", sig.name,
                                              sig.count, given, verb));
    raise_type_error(PyUnicode_FromFormat("%s takes from %zd to %zd positional arguments but %zd %s given",
                                          sig.name, sig.required, sig.count, given, verb));
}

// Fills the parameter named key with value.
void bind_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** out) {
    if (PyUnicode_Check(key)) {
        for (Py_ssize_t i = 0; i < sig.count; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, sig.params[i]) != 0) continue;
            if (out[i] != nullptr)
                raise_type_error(
                    PyUnicode_FromFormat("%s got multiple values for argument '%s'", sig.name, sig.params[i]));
            out[i] = value;
            return;
        }
        raise_type_error(PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'", sig.name, key));
    }
    raise_type_error(PyUnicode_FromFormat("%s keywords must be strings", sig.name));
}

void check_missing(const Signature& sig, Py_ssize_t nargs, PyObject** out) {
    if (nargs >= sig.required) return;
    std::string names;
    Py_ssize_t missing = 0;
    const char* missing_names[MAX_PARAMS];
    for (Py_ssize_t i = nargs; i < sig.required; ++i)
        if (out[i] == nullptr) missing_names[missing++] = sig.params[i];
    if (missing == 0) return;
    for (Py_ssize_t i = 0; i < missing; ++i) {
        if (i > 0) names += missing == 2 ? " and " : (i == missing - 1 ? ", and " : ", ");
        names += '\'';
        names += missing_names[i];
        names += '\'';
    }
    raise_type_error(PyUnicode_FromFormat("%s missing %zd required positional %s: %s", sig.name, missing,
                                          missing == 1 ? "argument" : "arguments", names.c_str()));
}

}  // namespace

void bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    nargs = PyVectorcall_NARGS(nargs);
    if (kwnames == nullptr && nargs == sig.count) {  // the common call: every argument positional
        for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
        return;
    }
    if (nargs > sig.count) raise_too_many(sig, nargs);
    for (Py_ssize_t i = 0; i < sig.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) bind_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out);
    }
    check_missing(sig, nargs, out);
}

void bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
    const Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_GET_SIZE(args);
    if (nargs > sig.count) raise_too_many(sig, nargs);
    for (Py_ssize_t i = 0; i < sig.count; ++i) out[i] = i < nargs ? PyTuple_GET_ITEM(args, i) : nullptr;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(sig, key, value, out);
    }
    check_missing(sig, nargs, out);
}

// ---------------------------------------------------------------------------
// Conversions

void raise_conversion_error(PyObject* value, const char* target, const char* param) {
    PyObject* type_name = nullptr;
    if (value != nullptr) {
        type_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__");
        if (type_name != nullptr && !PyUnicode_Check(type_name)) Py_CLEAR(type_name);
        if (type_name == nullptr) PyErr_Clear();
    }
    if (type_name == nullptr) type_name = PyUnicode_FromString("<failed to extract type name>");
    if (type_name == nullptr) throw_python_error();
    PyObject* message =
        param == nullptr
            ? PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", type_name, target)
            : PyUnicode_FromFormat("argument '%s': '%U' object cannot be converted to '%s'", param, type_name, target);
    Py_DECREF(type_name);
    raise_type_error(message);
}

std::string_view text_argument(PyObject* value, const char* param) {
    if (!PyUnicode_Check(value)) raise_conversion_error(value, "PyString", param);
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value, &length);
    if (text == nullptr) throw_python_error();
    return {text, static_cast<std::size_t>(length)};
}

// ---------------------------------------------------------------------------
// Results

PyObject* new_ascii_str(const char* text, std::size_t length) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (str == nullptr) throw_python_error();
    std::memcpy(PyUnicode_DATA(str), text, length);
    return str;
}

namespace {

// One slot per from-square, to-square and text variant: the squares of the
// move code (its low 12 bits), then the variant (no letter, n, b, r, q) above
// them. Specials 0 to 3 write no letter, so they share a text.
constexpr std::size_t SQUARE_PAIRS = 64 * 64;
std::atomic<PyObject*> MOVE_TEXTS[5 * SQUARE_PAIRS];

PyObject* make_move_text(ChessMove move, std::atomic<PyObject*>& slot) {
    char text[5];
    PyObject* made = new_ascii_str(text, move.write(text));
    PyUnicode_InternInPlace(&made);
    // Threads without a shared interpreter lock may race here; the first text
    // stored wins and every other is dropped.
    PyObject* expected = nullptr;
    if (slot.compare_exchange_strong(expected, made, std::memory_order_acq_rel, std::memory_order_acquire))
        return made;
    Py_DECREF(made);
    return expected;
}

}  // namespace

PyObject* move_text(ChessMove move) {
    const unsigned special = move.special();
    const std::size_t variant = special < PROMOTE_KNIGHT ? 0 : special - PROMOTE_KNIGHT + 1;
    if (variant > 4) {
        char text[5];
        move.write(text);  // fails: the move has no text form
    }
    std::atomic<PyObject*>& slot = MOVE_TEXTS[variant * SQUARE_PAIRS + (move.data & (SQUARE_PAIRS - 1))];
    PyObject* text = slot.load(std::memory_order_acquire);
    return text != nullptr ? text : make_move_text(move, slot);
}

namespace {

// Adds n references to a shared singleton at once. Under the interpreter lock
// this equals n single increments; interpreters that keep reference counts
// elsewhere get the increments one by one.
void add_references(PyObject* object, Py_ssize_t n) {
#if defined(PYPY_VERSION) || defined(Py_GIL_DISABLED)
    for (Py_ssize_t i = 0; i < n; ++i) Py_INCREF(object);
#else
    Py_SET_REFCNT(object, Py_REFCNT(object) + n);
#endif
}

}  // namespace

PyObject* new_planes_list(const Planes& planes) {
    PyObject* outer = PyList_New(12);
    if (outer == nullptr) throw_python_error();
    Py_ssize_t trues = 0;
    for (Py_ssize_t p = 0; p < 12; ++p) {
        PyObject* plane = PyList_New(64);
        if (plane == nullptr) {
            add_references(Py_True, trues);
            add_references(Py_False, p * 64 - trues);
            Py_DECREF(outer);
            throw_python_error();
        }
        const std::uint8_t* flags = planes.data() + p * 64;
        // The references are added in bulk below.
        for (Py_ssize_t s = 0; s < 64; ++s) {
            PyList_SET_ITEM(plane, s, flags[s] ? Py_True : Py_False);
            trues += flags[s];
        }
        PyList_SET_ITEM(outer, p, plane);
    }
    add_references(Py_True, trues);
    add_references(Py_False, 12 * 64 - trues);
    return outer;
}

PyObject* none() { Py_RETURN_NONE; }

void raise_value_error(const char* prefix, const std::string& text) {
    const std::string message = prefix + text;
    PyObject* value = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (value != nullptr) {
        PyErr_SetObject(PyExc_ValueError, value);
        Py_DECREF(value);
    }
    throw_python_error();
}

// ---------------------------------------------------------------------------
// Internal failures

namespace {

// Created on first use, then kept for the life of the process.
PyObject* panic_exception_class() {
    static PyObject* cls = nullptr;
    if (cls == nullptr)
        cls = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", MIRELO_PANIC_DOC, PyExc_BaseException, nullptr);
    return cls;
}

}  // namespace

void raise_panic(const std::string& text, const std::source_location& where) {
    const std::string message = text.empty() ? MIRELO_GENERIC_FAILURE : text;
    // One line for the user: the file's base name, not the path it was built
    // from, and control characters of the message (input text) escaped.
    const char* file = where.file_name();
    if (const char* slash = std::strrchr(file, '/')) file = slash + 1;
    std::fprintf(stderr, "mirelo_chess: internal failure at %s:%u: ", file, static_cast<unsigned>(where.line()));
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20)
            std::fprintf(stderr, "\\x%02x", static_cast<unsigned>(byte));
        else
            std::fputc(byte, stderr);
    }
    std::fputc('\n', stderr);
    std::fflush(stderr);
    PyObject* cls = panic_exception_class();
    if (cls == nullptr) return;  // the interpreter's own error is already set
    PyObject* value = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (value == nullptr) return;
    PyErr_SetObject(cls, value);
    Py_DECREF(value);
}

}  // namespace mirelo::py
