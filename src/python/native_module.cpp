// The private module mirelo_chess._native: the native half of
// mirelo_chess.arrays. Its functions take boards and generators and write
// planes, masks and indices straight into caller-supplied buffers; the
// Python half checks dtypes and shapes with NumPy before it calls them, so
// these checks only keep a bad call from writing out of bounds.
//
// The module is registered in sys.modules but is no attribute of
// mirelo_chess, whose surface stays the two classes.
#include "native_module.h"

#include <vector>

#include "boundary.h"
#include "encoding.h"

namespace mirelo::py {

namespace {

// A writable, contiguous view of a buffer. It is taken before any borrow:
// an object's buffer hook may run Python code.
class WritableBuffer {
public:
    explicit WritableBuffer(PyObject* object) {
        // A request without strides is granted only for contiguous memory.
        if (PyObject_GetBuffer(object, &view_, PyBUF_WRITABLE) < 0) throw_python_error();
    }
    ~WritableBuffer() { PyBuffer_Release(&view_); }
    WritableBuffer(const WritableBuffer&) = delete;
    WritableBuffer& operator=(const WritableBuffer&) = delete;

    // The memory, which must be exactly the given size.
    unsigned char* data(std::size_t bytes) const {
        if (static_cast<std::size_t>(view_.len) != bytes) {
            PyErr_Format(PyExc_ValueError, "out has %zd bytes, expected %zu", view_.len, bytes);
            throw_python_error();
        }
        return static_cast<unsigned char*>(view_.buf);
    }

private:
    Py_buffer view_{};
};

// The items of a list or tuple, held for the call.
class Items {
public:
    Items(PyObject* sequence, const char* param) {
        if (!PyList_Check(sequence) && !PyTuple_Check(sequence)) {
            PyErr_Format(PyExc_TypeError, "%s must be a list or tuple", param);
            throw_python_error();
        }
        Py_INCREF(sequence);
        sequence_ = sequence;
    }
    ~Items() { Py_DECREF(sequence_); }
    Items(const Items&) = delete;
    Items& operator=(const Items&) = delete;

    std::size_t size() const { return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence_)); }
    PyObject* operator[](std::size_t i) const {
        return PySequence_Fast_ITEMS(sequence_)[static_cast<Py_ssize_t>(i)];
    }

private:
    PyObject* sequence_;
};

// "boards[3]", the name of an item in messages.
std::string item_name(const char* param, std::size_t i) { return std::string(param) + "[" + std::to_string(i) + "]"; }

// Every item is an instance of the value's class that can be borrowed as
// asked: a batch fails before it writes anything.
template <typename Value>
void check_items(const Items& items, const char* param, Access access) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!PyObject_TypeCheck(items[i], type_object<Value>()))
            object_argument<Value>(items[i], item_name(param, i).c_str());
        Borrow probe(reinterpret_cast<NativeObject<Value>*>(items[i])->borrow, access);
    }
}

PlaneElement element_argument(PyObject* value) {
    const long code = PyLong_AsLong(value);
    if (code == -1 && PyErr_Occurred()) throw_python_error();
    if (code < 0 || code > static_cast<long>(PlaneElement::single)) {
        PyErr_Format(PyExc_ValueError, "no plane element kind %ld", code);
        throw_python_error();
    }
    return static_cast<PlaneElement>(code);
}

// ---------------------------------------------------------------------------
// Planes

constexpr const char* PLANES_PARAMS[] = {"board", "out", "element"};
constexpr Signature PLANES_SIGNATURE{"planes()", PLANES_PARAMS, 3, 3};

PyObject* planes(PyObject* const* bound) {
    const PlaneElement element = element_argument(bound[2]);
    const WritableBuffer out(bound[1]);
    BoardObject* board = object_argument<Board>(bound[0], "board");
    Borrow borrow(board->borrow, Access::shared);
    write_planes(board->value.pieces, element, out.data(plane_bytes(element)));
    return none();
}

constexpr const char* PLANES_BATCH_PARAMS[] = {"boards", "out", "element"};
constexpr Signature PLANES_BATCH_SIGNATURE{"planes_batch()", PLANES_BATCH_PARAMS, 3, 3};

PyObject* planes_batch(PyObject* const* bound) {
    const PlaneElement element = element_argument(bound[2]);
    const WritableBuffer out(bound[1]);
    const Items boards(bound[0], "boards");
    check_items<Board>(boards, "boards", Access::shared);
    const std::size_t stride = plane_bytes(element);
    unsigned char* data = out.data(stride * boards.size());
    for (std::size_t i = 0; i < boards.size(); ++i) {
        auto* board = reinterpret_cast<BoardObject*>(boards[i]);
        Borrow borrow(board->borrow, Access::shared);
        write_planes(board->value.pieces, element, data + i * stride);
    }
    return none();
}

constexpr const char* PLANES_FROM_FENS_PARAMS[] = {"fens", "out", "element"};
constexpr Signature PLANES_FROM_FENS_SIGNATURE{"planes_from_fens()", PLANES_FROM_FENS_PARAMS, 3, 3};

PyObject* planes_from_fens(PyObject* const* bound) {
    const PlaneElement element = element_argument(bound[2]);
    const WritableBuffer out(bound[1]);
    const Items fens(bound[0], "fens");
    unsigned char* data = out.data(plane_bytes(element) * fens.size());
    std::vector<std::string_view> texts(fens.size());
    for (std::size_t i = 0; i < fens.size(); ++i) {
        // The item's name is only written out for an error.
        texts[i] = PyUnicode_Check(fens[i]) ? text_argument(fens[i], "fens")
                                            : text_argument(fens[i], item_name("fens", i).c_str());
    }
    if (const auto failure = write_fen_planes(texts, element, data)) {
        PyErr_Format(PyExc_ValueError, "fens[%zu] %R: %s", failure->index, fens[failure->index],
                     failure->message.c_str());
        throw_python_error();
    }
    return none();
}

// ---------------------------------------------------------------------------
// Move indices

constexpr const char* TEXT_PARAMS[] = {"text"};
constexpr Signature MOVE_INDEX_SIGNATURE{"move_index()", TEXT_PARAMS, 1, 1};

PyObject* move_index(PyObject* const* bound) {
    const auto index = mirelo::move_index(text_argument(bound[0], "text"));
    if (!index) {
        PyErr_Format(PyExc_ValueError, "%R is not a move text of the index layout", bound[0]);
        throw_python_error();
    }
    PyObject* result = PyLong_FromUnsignedLong(*index);
    if (result == nullptr) throw_python_error();
    return result;
}

constexpr const char* INDEX_PARAMS[] = {"index"};
constexpr Signature MOVE_TEXT_SIGNATURE{"move_text()", INDEX_PARAMS, 1, 1};

PyObject* move_text(PyObject* const* bound) {
    PyObject* number = PyNumber_Index(bound[0]);  // int, or anything with __index__
    if (number == nullptr) throw_python_error();
    int overflow = 0;
    const long long index = PyLong_AsLongLongAndOverflow(number, &overflow);
    Py_DECREF(number);
    if (index == -1 && PyErr_Occurred()) throw_python_error();
    char text[5];
    const std::size_t length =
        overflow != 0 || index < 0 ? 0 : mirelo::move_text(static_cast<std::size_t>(index), text);
    if (length == 0) {
        PyErr_Format(PyExc_ValueError, "%R is not the index of a move: indices are 0 to %zu, not all used",
                     bound[0], MOVE_INDEX_SIZE - 1);
        throw_python_error();
    }
    return new_ascii_str(text, length);
}

// ---------------------------------------------------------------------------
// Legal moves

// The legal moves of a board, as generator(board) finds them: the generator
// borrowed shared, the board exclusively.
void legal_moves(PyObject* generator_argument, PyObject* board_argument, MoveList& moves) {
    MoveGeneratorObject* generator = object_argument<MoveGenerator>(generator_argument, "generator");
    Borrow generator_borrow(generator->borrow, Access::shared);
    BoardObject* board = object_argument<Board>(board_argument, "board");
    Borrow board_borrow(board->borrow, Access::exclusive);
    generator->value.moves(board->value, moves);
}

constexpr const char* LEGAL_INDICES_PARAMS[] = {"generator", "board"};
constexpr Signature LEGAL_INDICES_SIGNATURE{"legal_indices()", LEGAL_INDICES_PARAMS, 2, 2};

PyObject* legal_indices(PyObject* const* bound) {
    MoveList moves;
    legal_moves(bound[0], bound[1], moves);
    PyObject* indices = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(8 * moves.size));
    if (indices == nullptr) throw_python_error();
    write_move_indices(moves, PyByteArray_AS_STRING(indices));
    return indices;
}

constexpr const char* LEGAL_MASK_PARAMS[] = {"generator", "board", "out"};
constexpr Signature LEGAL_MASK_SIGNATURE{"legal_mask()", LEGAL_MASK_PARAMS, 3, 3};

PyObject* legal_mask(PyObject* const* bound) {
    const WritableBuffer out(bound[2]);
    unsigned char* data = out.data(MOVE_INDEX_SIZE);
    MoveList moves;
    legal_moves(bound[0], bound[1], moves);
    write_move_mask(moves, data);
    return none();
}

constexpr const char* LEGAL_MASK_BATCH_PARAMS[] = {"generator", "boards", "out"};
constexpr Signature LEGAL_MASK_BATCH_SIGNATURE{"legal_mask_batch()", LEGAL_MASK_BATCH_PARAMS, 3, 3};

PyObject* legal_mask_batch(PyObject* const* bound) {
    const WritableBuffer out(bound[2]);
    MoveGeneratorObject* generator = object_argument<MoveGenerator>(bound[0], "generator");
    Borrow generator_borrow(generator->borrow, Access::shared);
    const Items boards(bound[1], "boards");
    check_items<Board>(boards, "boards", Access::exclusive);
    unsigned char* data = out.data(MOVE_INDEX_SIZE * boards.size());
    MoveList moves;
    for (std::size_t i = 0; i < boards.size(); ++i) {
        auto* board = reinterpret_cast<BoardObject*>(boards[i]);
        Borrow borrow(board->borrow, Access::exclusive);
        generator->value.moves(board->value, moves);
        write_move_mask(moves, data + i * MOVE_INDEX_SIZE);
    }
    return none();
}

// ---------------------------------------------------------------------------
// The module

PyMethodDef FUNCTIONS[] = {
    function_entry<PLANES_SIGNATURE, planes>("planes", "planes($module, board, out, element)\n--\n\n"),
    function_entry<PLANES_BATCH_SIGNATURE, planes_batch>("planes_batch",
                                                "planes_batch($module, boards, out, element)\n--\n\n"),
    function_entry<PLANES_FROM_FENS_SIGNATURE, planes_from_fens>("planes_from_fens",
                                                        "planes_from_fens($module, fens, out, element)\n--\n\n"),
    function_entry<MOVE_INDEX_SIGNATURE, move_index>("move_index", "move_index($module, text)\n--\n\n"),
    function_entry<MOVE_TEXT_SIGNATURE, move_text>("move_text", "move_text($module, index)\n--\n\n"),
    function_entry<LEGAL_INDICES_SIGNATURE, legal_indices>("legal_indices",
                                                  "legal_indices($module, generator, board)\n--\n\n"),
    function_entry<LEGAL_MASK_SIGNATURE, legal_mask>("legal_mask", "legal_mask($module, generator, board, out)\n--\n\n"),
    function_entry<LEGAL_MASK_BATCH_SIGNATURE, legal_mask_batch>("legal_mask_batch",
                                                        "legal_mask_batch($module, generator, boards, out)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef NATIVE_DEF = {PyModuleDef_HEAD_INIT, "mirelo_chess._native", "Native half of mirelo_chess.arrays and mirelo_chess.game.",
                          0, FUNCTIONS, nullptr, nullptr, nullptr, nullptr};

}  // namespace

int register_native_module() {
    PyObject* module = PyModule_Create(&NATIVE_DEF);
    if (module == nullptr) return -1;
    const int result = PyModule_AddIntConstant(module, "MOVE_INDEX_SIZE", static_cast<long>(MOVE_INDEX_SIZE)) < 0 ||
                               PyModule_AddFunctions(module, GAME_FUNCTIONS) < 0
                           ? -1
                           : PyDict_SetItemString(PyImport_GetModuleDict(), "mirelo_chess._native", module);
    Py_DECREF(module);
    return result;
}

}  // namespace mirelo::py
