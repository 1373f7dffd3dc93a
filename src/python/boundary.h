// The CPython face of the C interface: every entry point of the module is
// one row of the declaration table (callables.h), instantiated here.
//
// A call binds its arguments, checks the receiver, converts each argument by
// its kind, calls the row's C function (which takes the borrows and runs the
// core) and converts the result by its kind; a status other than MIRELO_OK
// becomes the exception of its kind, with the C interface's text. The
// messages, the binding rules, the borrow algorithm and the core's guard all
// live behind the C interface; this face only moves Python objects in and out.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <utility>

#include "callables.h"

namespace mirelo::py {

// Thrown once a Python exception has been set; the entry point returns null.
struct PythonError {};

[[noreturn]] void throw_python_error();

// Raises the exception of a status, with the calling thread's error text.
[[noreturn]] void raise_status(int status);

inline void check(int status) {
    if (status != MIRELO_OK) raise_status(status);
}

// ---------------------------------------------------------------------------
// The Python objects: header, the vector-call slot of callable instances,
// and the C interface's record placed inline (the class's basic size makes
// room for its record).

struct NativeObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    alignas(MIRELO_RECORD_ALIGN) unsigned char record[MIRELO_RECORD_ALIGN];
};

// The class objects by record class, made at module initialisation.
extern PyTypeObject* types[MIRELO_CLASS_END];

inline void* record_of(PyObject* object) { return reinterpret_cast<NativeObject*>(object)->record; }

// A record or an array of records, passed to whichever pointer type the C
// function takes for it.
struct AnyRecord {
    void* record;
    template <typename Record>
    operator Record*() const {
        return static_cast<Record*>(record);
    }
};

struct AnyRecords {
    void* const* records;
    template <typename Record>
    operator Record* const*() const {
        return reinterpret_cast<Record* const*>(records);
    }
};

// ---------------------------------------------------------------------------
// Objects held while Python code runs inside a call.

// The records a call's earlier arguments name, held while the conversion of
// a later one runs Python code (reading a type's name, __index__, a buffer
// hook): a call back into them from that code refuses, as it would while the
// C function runs, and other threads wait.
class Holds {
public:
    void add(PyObject* object, bool exclusive) { held_[count_++] = {record_of(object), exclusive}; }
    void hold();
    void unhold() noexcept;
    ~Holds() {
        if (taken_ != 0) unhold();
    }

private:
    struct Held {
        void* record;
        bool exclusive;
    };
    Held held_[MIRELO_MAX_PARAMS + 1];
    std::size_t count_ = 0;
    std::size_t taken_ = 0;
};

// The TypeError of an argument of the wrong type; param -1 is the receiver,
// item an index within a list argument or -1.
[[noreturn]] void raise_argument_error(const mirelo_callable& row, int param, long item, PyObject* value);

// ---------------------------------------------------------------------------
// Results

// A new str of ASCII or UTF-8 text.
PyObject* new_str(const char* text, std::size_t length);

// A new str of text known to be ASCII.
inline PyObject* new_ascii_str(const char* text, std::size_t length) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (str == nullptr) throw_python_error();
    std::memcpy(PyUnicode_DATA(str), text, length);
    return str;
}

inline PyObject* new_int(unsigned long long value) {
    PyObject* number = PyLong_FromUnsignedLongLong(value);
    if (number == nullptr) throw_python_error();
    return number;
}

// The text of a move code: a borrowed reference to the process's one
// immutable, interned str for it, made on first use.
PyObject* move_text(std::uint16_t code);

// The result of a call, by its kind: the plain ones inline, the others
// through result().
PyObject* result(int kind, const mirelo_out& out);

template <int Kind>
PyObject* result_of(const mirelo_out& out) {
    if constexpr (Kind == MIRELO_NOTHING)
        Py_RETURN_NONE;
    else if constexpr (Kind == MIRELO_STRING)
        return new_ascii_str(out.text, out.text_length);
    else if constexpr (Kind == MIRELO_YES_NO)
        return PyBool_FromLong(out.flag);
    else if constexpr (Kind == MIRELO_COUNT)
        return new_int(out.count);
    else if constexpr (Kind == MIRELO_KEY)
        return new_int(out.key);
    else
        return result(Kind, out);
}

// ---------------------------------------------------------------------------
// Entry points

// Binds a vector call's arguments to the row's parameters: bound[i] is the
// argument of parameter i, or null when an optional one was left out.
void bind(const mirelo_callable& row, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** bound);
// The same for a tuple-and-dictionary call.
void bind(const mirelo_callable& row, PyObject* args, PyObject* kwargs, PyObject** bound);

// Runs body and turns every failure into a Python exception: null.
template <typename Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// Calls row I with bound arguments; self is the receiver (or the new
// object's class for a constructor).
template <std::size_t I>
PyObject* invoke(PyObject* self, PyObject* const* bound);

}  // namespace mirelo::py

#include "entries.h"
