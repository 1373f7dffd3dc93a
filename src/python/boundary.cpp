#include "boundary.h"

#include <atomic>
#include <cstring>
#include <utility>

namespace mirelo::py {

PyTypeObject* types[MIRELO_CLASS_END] = {};

void throw_python_error() { throw PythonError{}; }

// ---------------------------------------------------------------------------
// Exceptions

namespace {

PyObject* error_text() {
    return PyUnicode_DecodeUTF8(mirelo_error_text(), static_cast<Py_ssize_t>(mirelo_error_length()), "replace");
}

}  // namespace

PyObject* panic_exception_class() {
    static PyObject* cls = nullptr;
    if (cls == nullptr) cls = PyErr_NewExceptionWithDoc(mirelo_panic_name(), mirelo_panic_doc(), PyExc_BaseException, nullptr);
    return cls;
}

void raise_status(int status) {
    if (status == MIRELO_NO_MEMORY) {
        PyErr_NoMemory();
        throw_python_error();
    }
    PyObject* cls = status == MIRELO_VALUE_ERROR  ? PyExc_ValueError
                    : status == MIRELO_TYPE_ERROR ? PyExc_TypeError
                    : status == MIRELO_FAILURE    ? panic_exception_class()
                                                  : PyExc_RuntimeError;
    if (cls == nullptr) throw_python_error();  // the interpreter's own error is set
    PyObject* message = error_text();
    if (message != nullptr) {
        PyErr_SetObject(cls, message);
        Py_DECREF(message);
    }
    throw_python_error();
}

void raise_argument_error(const mirelo_callable& row, int param, long item, PyObject* value) {
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__");
    const char* text = nullptr;
    Py_ssize_t length = 0;
    if (name != nullptr && PyUnicode_Check(name)) text = PyUnicode_AsUTF8AndSize(name, &length);
    if (text == nullptr) PyErr_Clear();
    const int status = mirelo_argument_error(&row, param, item, text, static_cast<std::size_t>(length));
    Py_XDECREF(name);
    raise_status(status);
}

// ---------------------------------------------------------------------------
// Holds

void Holds::hold() {
    for (; taken_ < count_; ++taken_) {
        const int status = mirelo_hold(held_[taken_].record, held_[taken_].exclusive);
        if (status != MIRELO_OK) {
            unhold();
            raise_status(status);
        }
    }
}

void Holds::unhold() noexcept {
    while (taken_ > 0) {
        --taken_;
        mirelo_unhold(held_[taken_].record, held_[taken_].exclusive);
    }
}

// ---------------------------------------------------------------------------
// Binding

namespace {

void bind_keywords(const mirelo_callable& row, std::size_t nargs, PyObject* const* names, PyObject* const* values,
                   std::size_t nkw, PyObject** bound) {
    const char* texts[16] = {};
    std::size_t lengths[16] = {};
    int slots[16] = {};
    PyObject* encoded[16] = {};
    // More keywords than parameters is an error whatever they are: only
    // the first ones, up to the first that fails, decide which.
    const std::size_t shown = nkw < 16 ? nkw : 16;
    std::size_t count = 0;
    for (; count < shown; ++count) {
        PyObject* name = names[count];
        encoded[count] = PyUnicode_Check(name) ? PyUnicode_AsEncodedString(name, "utf-8", "surrogatepass") : nullptr;
        if (encoded[count] == nullptr) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "keywords must be strings");
            for (std::size_t k = 0; k < count; ++k) Py_DECREF(encoded[k]);
            throw_python_error();
        }
        texts[count] = PyBytes_AS_STRING(encoded[count]);
        lengths[count] = static_cast<std::size_t>(PyBytes_GET_SIZE(encoded[count]));
    }
    const int status = mirelo_bind(&row, nargs, texts, lengths, count, slots);
    for (std::size_t k = 0; k < count; ++k) Py_DECREF(encoded[k]);
    check(status);
    for (std::size_t k = 0; k < count; ++k) bound[slots[k]] = values[k];
}

}  // namespace

void bind(const mirelo_callable& row, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound) {
    const auto given = static_cast<std::size_t>(PyVectorcall_NARGS(nargs));
    const std::size_t nkw = kwnames == nullptr ? 0 : static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames));
    for (std::size_t i = 0; i < row.count; ++i) bound[i] = i < given ? args[i] : nullptr;
    if (nkw == 0 && given >= row.required && given <= row.count) return;  // the common call
    check(given > row.count ? mirelo_bind(&row, given, nullptr, nullptr, 0, nullptr) : MIRELO_OK);
    bind_keywords(row, given, nkw ? &PyTuple_GET_ITEM(kwnames, 0) : nullptr, args + given, nkw, bound);
}

void bind(const mirelo_callable& row, PyObject* args, PyObject* kwargs, PyObject** bound) {
    const auto given = static_cast<std::size_t>(args == nullptr ? 0 : PyTuple_GET_SIZE(args));
    for (std::size_t i = 0; i < row.count; ++i)
        bound[i] = i < given ? PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i)) : nullptr;
    const std::size_t nkw = kwargs == nullptr ? 0 : static_cast<std::size_t>(PyDict_GET_SIZE(kwargs));
    if (nkw == 0 && given >= row.required && given <= row.count) return;
    check(given > row.count ? mirelo_bind(&row, given, nullptr, nullptr, 0, nullptr) : MIRELO_OK);
    PyObject* names[16];
    PyObject* values[16];
    std::size_t count = 0;
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (count < 16 && PyDict_Next(kwargs, &pos, &key, &value)) {
        names[count] = key;
        values[count++] = value;
    }
    bind_keywords(row, given, names, values, count, bound);
}

// ---------------------------------------------------------------------------
// Results

namespace {

// Whether every byte is below 0x80, eight at a time.
bool is_ascii(const char* text, std::size_t length) {
    std::uint64_t high = 0;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text + i, 8);
        high |= word;
    }
    for (; i < length; ++i) high |= static_cast<unsigned char>(text[i]);
    return (high & 0x8080808080808080ULL) == 0;
}

}  // namespace

PyObject* new_str(const char* text, std::size_t length) {
    PyObject* str = nullptr;
    if (is_ascii(text, length)) {
        str = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
        if (str != nullptr) std::memcpy(PyUnicode_DATA(str), text, length);
    } else {
        str = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(length), "replace");
    }
    if (str == nullptr) throw_python_error();
    return str;
}

namespace {

// One slot per from-square, to-square and text variant: the squares of the
// move code (its low 12 bits), then the variant (no letter, n, b, r, q) above
// them. Codes 0 to 3 above the squares write no letter, so they share a text.
constexpr std::size_t SQUARE_PAIRS = 64 * 64;
// Specials 8 to 15 have no text: their slots stay empty, so the C interface
// refuses them when they are met.
std::atomic<PyObject*> MOVE_TEXTS[13 * SQUARE_PAIRS];

// A new interned str of a move code's text; the C interface refuses a code
// with no text.
PyObject* new_move_text(std::uint16_t code) {
    mirelo_out out;
    check(mirelo_move_text(code, &out));
    PyObject* made = new_str(out.text, out.text_length);
    PyUnicode_InternInPlace(&made);
    return made;
}

PyObject* make_move_text(std::uint16_t code, std::atomic<PyObject*>& slot) {
    PyObject* made = new_move_text(code);
    // Threads without a shared interpreter lock may race here; the first text
    // stored wins and every other is dropped.
    PyObject* expected = nullptr;
    if (slot.compare_exchange_strong(expected, made, std::memory_order_acq_rel, std::memory_order_acquire))
        return made;
    Py_DECREF(made);
    return expected;
}

}  // namespace

PyObject* move_text(std::uint16_t code) {
    const std::size_t variant = code < 0x4000 ? 0 : (code >> 12) - 3;  // specials 0 to 3 write no letter
    std::atomic<PyObject*>& slot = MOVE_TEXTS[variant * SQUARE_PAIRS + (code & (SQUARE_PAIRS - 1))];
    PyObject* text = slot.load(std::memory_order_acquire);
    return text != nullptr ? text : make_move_text(code, slot);
}

namespace {

// A str made once for the life of the process: the names of sides and outcomes.
PyObject* shared_name(const char* name) {
    PyObject* text = PyUnicode_InternFromString(name);
    if (text == nullptr) throw_python_error();
    return text;
}

PyObject* shared(PyObject*& cache, const char* name) {
    if (cache == nullptr) cache = shared_name(name);
    Py_INCREF(cache);
    return cache;
}

PyObject* side_name(int side) {
    static PyObject* names[2];
    return shared(names[side == MIRELO_WHITE], mirelo_side_name(side));
}

PyObject* outcome_name(int outcome) {
    static PyObject* names[8];
    const char* name = mirelo_outcome_name(outcome);
    if (name == nullptr) Py_RETURN_NONE;
    return shared(names[outcome & 7], name);
}

// Adds n references to a shared singleton at once: under the interpreter
// lock this equals n single increments.
void add_references(PyObject* object, Py_ssize_t n) {
#ifdef Py_GIL_DISABLED
    for (Py_ssize_t i = 0; i < n; ++i) Py_INCREF(object);
#else
    Py_SET_REFCNT(object, Py_REFCNT(object) + n);
#endif
}

PyObject* plane_lists(const mirelo_out& out) {
    unsigned char flags[MIRELO_PLANES_SIZE] = {};
    for (std::size_t i = 0; i < out.mark_count; ++i) flags[out.marks[i]] = 1;
    PyObject* outer = PyList_New(12);
    if (outer == nullptr) throw_python_error();
    for (Py_ssize_t p = 0; p < 12; ++p) {
        PyObject* plane = PyList_New(64);
        if (plane == nullptr) {
            // The lists made so far own references not yet counted.
            add_references(Py_True, static_cast<Py_ssize_t>(out.mark_count));
            add_references(Py_False, 12 * 64 - static_cast<Py_ssize_t>(out.mark_count));
            Py_DECREF(outer);
            throw_python_error();
        }
        const unsigned char* row = flags + p * 64;
        for (Py_ssize_t s = 0; s < 64; ++s) PyList_SET_ITEM(plane, s, row[s] ? Py_True : Py_False);
        PyList_SET_ITEM(outer, p, plane);
    }
    add_references(Py_True, static_cast<Py_ssize_t>(out.mark_count));
    add_references(Py_False, 12 * 64 - static_cast<Py_ssize_t>(out.mark_count));
    return outer;
}

PyObject* move_texts(const std::uint16_t* codes, std::size_t count) {
    PyObject* texts = PyList_New(static_cast<Py_ssize_t>(count));
    if (texts == nullptr) throw_python_error();
    try {
        for (std::size_t i = 0; i < count; ++i) {
            PyObject* text = move_text(codes[i]);
            Py_INCREF(text);
            PyList_SET_ITEM(texts, static_cast<Py_ssize_t>(i), text);
        }
    } catch (...) {
        Py_DECREF(texts);
        throw;
    }
    return texts;
}

PyObject* new_reference(PyObject* object) {
    Py_INCREF(object);
    return object;
}

// A new reference, released when it goes out of scope unless handed on.
class Owned {
public:
    explicit Owned(PyObject* object) : object_(object) {
        if (object_ == nullptr) throw_python_error();
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Py_XDECREF(object_); }
    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }

private:
    PyObject* object_;
};

// The pieces of a game's text, at 2 * count offsets and sizes: a list of str.
PyObject* text_pieces(const mirelo_game& game, const std::size_t* spans, std::size_t count) {
    Owned list(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i < count; ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_str(game.text + spans[2 * i], spans[2 * i + 1]));
    return list.release();
}

PyObject* game_tuple(const mirelo_game* game) {
    if (game == nullptr) Py_RETURN_NONE;
    const mirelo_game& g = *game;
    Owned headers(PyDict_New());
    for (std::size_t i = 0; i < g.tag_count; ++i) {
        const std::size_t* tag = g.tags + 4 * i;
        Owned name(new_str(g.text + tag[0], tag[1])), value(new_str(g.text + tag[2], tag[3]));
        if (PyDict_SetItem(headers.get(), name.get(), value.get()) < 0) throw_python_error();
    }
    Owned index(new_int(g.index));
    Owned fen(new_str(g.fen, g.fen_length));
    Owned moves(move_texts(g.moves, g.move_count));
    Owned comments(g.comments == nullptr ? new_reference(Py_None) : text_pieces(g, g.comments, g.move_count));
    Owned result(new_str(g.result, g.result_length));
    Owned error(g.error == nullptr ? new_reference(Py_None) : new_str(g.error, g.error_length));
    PyObject* tuple = PyTuple_Pack(7, index.get(), headers.get(), fen.get(), moves.get(), comments.get(), result.get(),
                                   error.get());
    if (tuple == nullptr) throw_python_error();
    return tuple;
}

PyObject* move_indices(const mirelo_out& out) {
    PyObject* bytes = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(8 * out.move_count));
    if (bytes == nullptr) throw_python_error();
    char* data = PyByteArray_AS_STRING(bytes);
    for (std::size_t i = 0; i < out.move_count; ++i) {
        const std::int64_t index = out.moves[i];
        std::memcpy(data + 8 * i, &index, 8);
    }
    return bytes;
}

PyObject* divide_rows(const mirelo_out& out) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(out.move_count));
    if (list == nullptr) throw_python_error();
    try {
        for (std::size_t i = 0; i < out.move_count; ++i) {
            PyObject* move = move_text(out.moves[i]);  // the generator's own text object
            PyObject* nodes = new_int(out.counts[i]);
            PyObject* row = PyTuple_New(2);
            if (row == nullptr) {
                Py_DECREF(nodes);
                throw_python_error();
            }
            Py_INCREF(move);
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

PyObject* result(int kind, const mirelo_out& out) {
    switch (kind) {
        case MIRELO_INDEX_NUMBER: return new_int(static_cast<unsigned long long>(out.index));
        case MIRELO_SIDE_NAME: return side_name(out.side);
        case MIRELO_OUTCOME_NAME: return outcome_name(out.outcome);
        case MIRELO_MOVE_TEXTS: return move_texts(out.moves, out.move_count);
        case MIRELO_MOVE_TEXT: return new_reference(move_text(out.code));
        case MIRELO_GAME: return game_tuple(out.game);
        case MIRELO_PLANE_LISTS: return plane_lists(out);
        case MIRELO_MOVE_INDICES: return move_indices(out);
        case MIRELO_DIVIDE_ROWS: return divide_rows(out);
        default: Py_RETURN_NONE;
    }
}

// ---------------------------------------------------------------------------
// New objects

PyObject* allocate(PyTypeObject* type) {
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) throw_python_error();
    reinterpret_cast<NativeObject*>(object)->vectorcall = nullptr;
    return object;
}

void free_unmade(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    type->tp_free(object);
    Py_DECREF(type);
}

}  // namespace mirelo::py
