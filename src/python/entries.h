// The conversions of each argument kind and the entry point of a declared
// row, included by boundary.h.
#pragma once

#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace mirelo::py {

// ---------------------------------------------------------------------------
// Argument kinds. Each converts in quick(), which runs no Python code and
// returns false where it cannot convert; slow() then converts or raises,
// with the earlier arguments held. args() is what the C function takes.

template <int Kind, int Class>
struct Argument;

struct TextArgument {
    const char* data = nullptr;
    Py_ssize_t size = 0;

    bool quick(PyObject* value) {
        if (!PyUnicode_Check(value)) return false;
        data = PyUnicode_AsUTF8AndSize(value, &size);
        if (data != nullptr) return true;
        PyErr_Clear();  // slow() meets the error again and raises it
        return false;
    }
    void slow(const mirelo_callable& row, int param, PyObject* value) {
        if (!PyUnicode_Check(value)) raise_argument_error(row, param, -1, value);
        data = PyUnicode_AsUTF8AndSize(value, &size);  // the interpreter's own error for text it cannot encode
        if (data == nullptr) throw_python_error();
    }
    void fallback(const char* text) {
        data = text;
        size = static_cast<Py_ssize_t>(std::strlen(text));
    }
};

template <int Class>
struct Argument<MIRELO_TEXT, Class> : TextArgument {
    auto args() const { return std::tuple{data, static_cast<std::size_t>(size)}; }
};

template <int Class>
struct Argument<MIRELO_MOVE, Class> : TextArgument {
    auto args() const { return std::tuple{data, static_cast<std::size_t>(size), -1}; }
};

// An instance of the parameter's class.
template <int Class>
struct ObjectArgument {
    PyObject* object = nullptr;

    bool quick(PyObject* value) {
        object = value;
        return Py_TYPE(value) == types[Class];
    }
    void slow(const mirelo_callable& row, int param, PyObject* value) { raise_argument_error(row, param, -1, value); }
    auto args() const { return std::tuple{AnyRecord{record_of(object)}}; }
};

// An integer: an int, or anything with __index__ (which may run Python
// code). One beyond Number's range is refused with the C interface's range
// message, the value written in full.
template <typename Number>
struct IntegerArgument {
    Number number = 0;

    bool quick(PyObject* value) {
        if (!PyLong_CheckExact(value)) return false;
        return fits(value);
    }
    void slow(const mirelo_callable& row, int param, PyObject* value) {
        if (!PyIndex_Check(value)) raise_argument_error(row, param, -1, value);
        PyObject* index = PyNumber_Index(value);
        if (index == nullptr) throw_python_error();
        const bool in_range = fits(index);
        if (!in_range) raise_range_error(row, param, index);
        Py_DECREF(index);
    }
    auto args() const { return std::tuple{number}; }

private:
    bool fits(PyObject* integer) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(integer, &overflow);
        if (overflow != 0 || n < std::numeric_limits<Number>::min() || n > std::numeric_limits<Number>::max())
            return false;
        number = static_cast<Number>(n);
        return true;
    }
    [[noreturn]] static void raise_range_error(const mirelo_callable& row, int param, PyObject* index) {
        PyObject* decimal = PyObject_Str(index);
        Py_DECREF(index);
        if (decimal == nullptr) throw_python_error();
        Py_ssize_t length = 0;
        const char* text = PyUnicode_AsUTF8AndSize(decimal, &length);
        const int status = text == nullptr ? MIRELO_OK
                                           : mirelo_range_error(&row, param, text, static_cast<std::size_t>(length));
        Py_DECREF(decimal);
        if (status == MIRELO_OK) throw_python_error();
        raise_status(status);
    }
};

template <int Class>
struct Argument<MIRELO_OBJECT, Class> : ObjectArgument<Class> {};
template <int Class>
struct Argument<MIRELO_DEPTH, Class> : IntegerArgument<int> {};
template <int Class>
struct Argument<MIRELO_INDEX, Class> : IntegerArgument<std::int64_t> {};
template <int Class>
struct Argument<MIRELO_ELEMENT, Class> : IntegerArgument<int> {};

// A contiguous buffer (a request without strides is granted only for
// contiguous memory), held until the call ends; Flags ask for it writable
// or not.
template <int Flags>
struct BufferArgument {
    Py_buffer view;  // filled by PyObject_GetBuffer where taken
    bool taken = false;

    BufferArgument() = default;
    BufferArgument(const BufferArgument&) = delete;
    BufferArgument& operator=(const BufferArgument&) = delete;
    ~BufferArgument() {
        if (taken) PyBuffer_Release(&view);
    }
    bool quick(PyObject* value) {
        taken = PyObject_GetBuffer(value, &view, Flags) == 0;
        if (!taken) PyErr_Clear();
        return taken;
    }
    void slow(const mirelo_callable& row, int param, PyObject* value) {
        // An object without buffers is of the wrong type; one that cannot
        // give this buffer raises the interpreter's own error.
        if (Flags == PyBUF_SIMPLE && !PyObject_CheckBuffer(value)) raise_argument_error(row, param, -1, value);
        taken = PyObject_GetBuffer(value, &view, Flags) == 0;
        if (!taken) throw_python_error();
    }
};

// A writable buffer.
template <int Class>
struct Argument<MIRELO_BUFFER, Class> : BufferArgument<PyBUF_WRITABLE> {
    auto args() const { return std::tuple{view.buf, static_cast<std::size_t>(view.len)}; }
};

// Any bytes-like object, read only.
template <int Class>
struct Argument<MIRELO_BYTES, Class> : BufferArgument<PyBUF_SIMPLE> {
    auto args() const { return std::tuple{static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)}; }
};

// True or False.
template <int Class>
struct Argument<MIRELO_FLAG, Class> {
    int flag = 0;

    bool quick(PyObject* value) {
        flag = value == Py_True;
        return PyBool_Check(value);
    }
    void slow(const mirelo_callable& row, int param, PyObject* value) { raise_argument_error(row, param, -1, value); }
    auto args() const { return std::tuple{flag}; }
};

// The items of a list or tuple, kept alive for the call by a tuple of them
// (another thread may change a list while the call waits for a board).
struct ListArgument {
    PyObject* items = nullptr;

    ListArgument() = default;
    ListArgument(const ListArgument&) = delete;
    ListArgument& operator=(const ListArgument&) = delete;
    ~ListArgument() { Py_XDECREF(items); }

    bool take(PyObject* value) {
        if (PyTuple_Check(value)) {
            Py_INCREF(value);
            items = value;
            return true;
        }
        if (!PyList_Check(value)) return false;
        items = PyList_AsTuple(value);
        if (items == nullptr) throw_python_error();
        return true;
    }
    std::size_t size() const { return static_cast<std::size_t>(PyTuple_GET_SIZE(items)); }
    PyObject* operator[](std::size_t i) const { return PyTuple_GET_ITEM(items, static_cast<Py_ssize_t>(i)); }
};

// Instances of the parameter's class in a list or tuple.
template <int Class>
struct ObjectsArgument : ListArgument {
    std::vector<void*> records;

    bool quick(PyObject* value) {
        if (!take(value)) return false;
        records.resize(size());
        for (std::size_t i = 0; i < size(); ++i) {
            if (Py_TYPE((*this)[i]) != types[Class]) return false;
            records[i] = record_of((*this)[i]);
        }
        return true;
    }
    void slow(const mirelo_callable& row, int param, PyObject* value) {
        if (items == nullptr) raise_argument_error(row, param, -1, value);
        for (std::size_t i = 0; i < size(); ++i)
            if (Py_TYPE((*this)[i]) != types[Class]) raise_argument_error(row, param, static_cast<long>(i), (*this)[i]);
    }
    auto args() const { return std::tuple{AnyRecords{records.data()}, records.size()}; }
};

template <int Class>
struct Argument<MIRELO_TEXTS, Class> : ListArgument {
    std::string texts;
    std::vector<std::size_t> ends;

    bool quick(PyObject* value) {
        if (!take(value)) return false;
        ends.resize(size());
        for (std::size_t i = 0; i < size(); ++i) {
            PyObject* item = (*this)[i];
            Py_ssize_t length = 0;
            const char* text = PyUnicode_Check(item) ? PyUnicode_AsUTF8AndSize(item, &length) : nullptr;
            if (text == nullptr) {
                PyErr_Clear();
                return false;
            }
            texts.append(text, static_cast<std::size_t>(length));
            ends[i] = texts.size();
        }
        return true;
    }
    void slow(const mirelo_callable& row, int param, PyObject* value) {
        if (items == nullptr) raise_argument_error(row, param, -1, value);
        for (std::size_t i = 0; i < size(); ++i) {
            PyObject* item = (*this)[i];
            if (!PyUnicode_Check(item)) raise_argument_error(row, param, static_cast<long>(i), item);
            if (PyUnicode_AsUTF8AndSize(item, nullptr) == nullptr) throw_python_error();
        }
    }
    auto args() const { return std::tuple{texts.data(), ends.data(), ends.size()}; }
};

template <int Class>
struct Argument<MIRELO_OBJECTS, Class> : ObjectsArgument<Class> {};

// ---------------------------------------------------------------------------
// The entry point of row I.

template <std::size_t I>
inline constexpr const mirelo_callable& row_of = capi::CALLABLE_ROWS[I];

template <std::size_t I, typename Params = std::make_index_sequence<row_of<I>.count>>
struct ArgumentsOf;

template <std::size_t I, std::size_t... P>
struct ArgumentsOf<I, std::index_sequence<P...>> {
    using type = std::tuple<Argument<row_of<I>.params[P].kind, row_of<I>.params[P].cls>...>;
};

// Converts parameter P of row I, holding the records of the earlier
// arguments while a slow conversion runs.
template <std::size_t I, std::size_t P, typename Arg>
void convert(Arg& argument, Holds& holds, PyObject* value) {
    constexpr mirelo_param param = row_of<I>.params[P];
    if (value == nullptr) {
        if constexpr (param.kind == MIRELO_TEXT && param.fallback != nullptr) argument.fallback(param.fallback);
        return;
    }
    if (!argument.quick(value)) {
        holds.hold();
        argument.slow(row_of<I>, static_cast<int>(P), value);
        holds.unhold();
    }
    // Held only for the conversions of later arguments.
    if constexpr (param.kind == MIRELO_OBJECT && P + 1 < row_of<I>.count) holds.add(value, param.exclusive != 0);
}

template <std::size_t I, typename Arguments, std::size_t... P>
void convert_all(Arguments& arguments, Holds& holds, PyObject* const* bound, std::index_sequence<P...>) {
    (convert<I, P>(std::get<P>(arguments), holds, bound[P]), ...);
}

// The C arguments of the receiver, if any.
template <std::size_t I>
auto receiver_args(PyObject* self) {
    constexpr int entry = row_of<I>.entry;
    if constexpr (entry == MIRELO_METHOD || entry == MIRELO_CALL)
        return std::tuple{AnyRecord{record_of(self)}};
    else
        return std::tuple{};
}

// A new, still empty object of a class, and the object once the C function
// has made its record.
PyObject* allocate(PyTypeObject* type);
void free_unmade(PyObject* object) noexcept;
PyObject* made(int cls, PyObject* object);

template <std::size_t I>
PyObject* invoke(PyObject* self, PyObject* const* bound) {
    constexpr const mirelo_callable& row = row_of<I>;
    constexpr int kind = row.result;
    Holds holds;
    if constexpr (row.entry == MIRELO_METHOD || row.entry == MIRELO_CALL) {
        if (Py_TYPE(self) != types[row.owner]) raise_argument_error(row, -1, -1, self);
        if constexpr (row.count > 0) holds.add(self, row.receiver_exclusive != 0);
    }
    typename ArgumentsOf<I>::type arguments;
    convert_all<I>(arguments, holds, bound, std::make_index_sequence<row_of<I>.count>());
    auto args = std::apply([](const auto&... a) { return std::tuple_cat(a.args()...); }, arguments);
    mirelo_out out;
    constexpr auto function = std::get<I>(capi::CALLABLES).function;
    if constexpr (kind == MIRELO_NEW_OBJECT) {
        PyObject* object = allocate(types[row.result_class]);
        // The record keeps what grows in memory of its own: the object's dealloc ends it.
        const int status = std::apply(function, std::tuple_cat(receiver_args<I>(self), args,
                                                               std::tuple{AnyRecord{record_of(object)}, nullptr,
                                                                          std::size_t{0}, &out}));
        if (status != MIRELO_OK) {
            free_unmade(object);
            raise_status(status);
        }
        return made(row.result_class, object);
    } else {
        check(std::apply(function, std::tuple_cat(receiver_args<I>(self), args, std::tuple{&out})));
        return result_of<kind>(out);
    }
}

}  // namespace mirelo::py
