// The call boundary: every Python call into the module passes through here.
//
// One argument binder driven by parameter descriptors, one receiver check, one
// borrow guard and one error translator serve every entry point, so a method
// is a table row plus a core call. The order of the steps decides which error
// a caller sees when several apply: bind, check the receiver and borrow it,
// convert the arguments, run the core, convert the result, release.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <source_location>
#include <string>
#include <string_view>

#include "board.h"
#include "failure.h"
#include "move_generator.h"

namespace mirelo::py {

// Thrown once a Python exception has been set; the translator just returns null.
struct PythonError {};

[[noreturn]] void throw_python_error();

// ---------------------------------------------------------------------------
// Borrow flag: 0 free, n shared borrows, all ones one exclusive borrow.

using BorrowFlag = std::atomic<std::uintptr_t>;
enum class Access { shared, exclusive };

class Borrow {
public:
    Borrow(BorrowFlag& flag, Access access);  // RuntimeError when refused
    ~Borrow();
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

private:
    BorrowFlag& flag_;
    Access access_;
};

// ---------------------------------------------------------------------------
// The Python objects: the object header, the borrow flag and the native value.

struct ObjectHeader {
    PyObject_HEAD
    vectorcallfunc vectorcall;  // the fast call path of callable instances
    BorrowFlag borrow;
};

template <typename Value>
struct NativeObject : ObjectHeader {
    Value value;
};

using BoardObject = NativeObject<Board>;
using MoveGeneratorObject = NativeObject<MoveGenerator>;

template <typename Value>
constexpr const char* class_name();
template <>
constexpr const char* class_name<Board>() { return "Board"; }
template <>
constexpr const char* class_name<MoveGenerator>() { return "MoveGenerator"; }

// The layout of each class, defined next to its methods.
template <typename Value>
PyType_Spec& type_layout();
template <>
PyType_Spec& type_layout<Board>();
template <>
PyType_Spec& type_layout<MoveGenerator>();

// Creates a class from its layout, whose name carries the module
// ("mirelo_chess.Board") so that the class has a __module__, then gives the
// class its bare name, which every message uses.
PyTypeObject* create_type(PyType_Spec& layout, const char* bare_name);

// The class objects, created once per process on first use.
template <typename Value>
PyTypeObject* type_object() {
    static PyTypeObject* type = nullptr;
    if (type == nullptr) type = create_type(type_layout<Value>(), class_name<Value>());
    return type;
}

// Sets the object's __doc__ to the empty string; -1 with an exception set on
// failure. Used on PyPy, which reports None (classes) or the module type's
// docstring (modules) where CPython reports the empty docstring.
int set_empty_doc(PyObject* object);

// The class argument of a constructor. CPython's __new__ wrapper has already
// refused a class other than this one (no subclass can exist: the types lack
// Py_TPFLAGS_BASETYPE); PyPy passes on whatever Board.__new__(X) was given and
// lets the classes be subclassed, so the check is repeated here.
void check_new_type(PyTypeObject* type, PyTypeObject* own, const char* name);

// A new Python object of the value's class, its value built from args.
template <typename Value, typename... Args>
PyObject* wrap(Args&&... args) {
    PyTypeObject* type = type_object<Value>();
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) throw_python_error();
    auto* object = reinterpret_cast<NativeObject<Value>*>(self);
    object->vectorcall = nullptr;
    new (&object->borrow) BorrowFlag(0);
    try {
        new (&object->value) Value(std::forward<Args>(args)...);
    } catch (...) {
        type->tp_free(self);
        Py_DECREF(type);
        throw;
    }
    return self;
}

template <typename Value>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* object = reinterpret_cast<NativeObject<Value>*>(self);
    object->value.~Value();
    object->borrow.~BorrowFlag();
    type->tp_free(self);
    Py_DECREF(type);
}

// ---------------------------------------------------------------------------
// Argument binding.

// Parameter descriptor of a callable that takes parameters: its name in
// messages, its parameter names in order, and how many leading ones are
// required. None is positional-only or keyword-only.
struct Signature {
    const char* name;
    const char* const* params;
    Py_ssize_t count;
    Py_ssize_t required;
};

constexpr Py_ssize_t MAX_PARAMS = 4;

// Vector calling convention: args[0..nargs) and the keyword names in kwnames
// (their values follow the positional ones).
void bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
// Tuple-and-dictionary calling convention.
void bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// ---------------------------------------------------------------------------
// Receiver and argument conversions.

// TypeError "'T' object cannot be converted to 'C'", T being the qualified
// name of the object's type, prefixed by "argument 'param': " when param is set.
[[noreturn]] void raise_conversion_error(PyObject* value, const char* target, const char* param);

// An argument as an instance of the value's class; TypeError naming the
// parameter otherwise.
template <typename Value>
NativeObject<Value>* object_argument(PyObject* value, const char* param) {
    if (value == nullptr || !PyObject_TypeCheck(value, type_object<Value>()))
        raise_conversion_error(value, class_name<Value>(), param);
    return reinterpret_cast<NativeObject<Value>*>(value);
}

// self as an instance of the value's class, or TypeError.
template <typename Value>
NativeObject<Value>* receiver(PyObject* self) {
    return object_argument<Value>(self, nullptr);
}

// The UTF-8 text of a str argument; TypeError naming the parameter otherwise.
// The interpreter's own error for text that cannot be encoded passes through.
std::string_view text_argument(PyObject* value, const char* param);

// ---------------------------------------------------------------------------
// Results.

PyObject* new_ascii_str(const char* text, std::size_t length);

// The text of a move as a borrowed reference to the process's one immutable,
// interned str for it, made on first use and kept for the life of the
// process: move lists hand out references instead of building strings.
PyObject* move_text(ChessMove move);
PyObject* new_planes_list(const Planes& planes);
PyObject* none();

// ValueError whose message is prefix + text.
[[noreturn]] void raise_value_error(const char* prefix, const std::string& text);

// ---------------------------------------------------------------------------
// The error translator: runs body and turns every failure into a Python
// exception. Internal failures become PanicException, with a diagnostic on
// standard error; running out of memory becomes MemoryError. A failure
// without a location of its own is located where it was caught.

void raise_panic(const std::string& message, const std::source_location& where = std::source_location::current());

template <typename Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
        return nullptr;
    } catch (const Failure& failure) {
        raise_panic(failure.message(), failure.where());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_panic(error.what());
    } catch (...) {
        raise_panic("");
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Functions of the hidden module behind the submodules.

// Binds the call's arguments to the signature, then runs body on them.
template <const Signature& signature, PyObject* (*body)(PyObject* const*)>
PyObject* module_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        PyObject* bound[MAX_PARAMS];
        bind(signature, args, nargs, kwnames, bound);
        return body(bound);
    });
}

template <const Signature& signature, PyObject* (*body)(PyObject* const*)>
constexpr PyMethodDef function_entry(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(module_function<signature, body>)),
            METH_FASTCALL | METH_KEYWORDS, doc};
}

}  // namespace mirelo::py
