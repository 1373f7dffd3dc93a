"""Native calls for the private submodules of mirelo_chess on PyPy.

The same module exists on CPython, made by the extension module; here it sits
over the cffi module mirelo_chess._ffi, whose `lib` holds every function of
the C interface (src/capi/mirelo_capi.h: a function declared between its
cdef markers appears in `lib` after a rebuild).

A native call on a Board or MoveGenerator from Python code goes like this:

    from mirelo_chess._native import board_handle, check, ffi, lib, take_out, give_out

    def planes_as_bytes(board):
        handle = board_handle(board, "board")    # TypeError as the face gives it
        out = take_out()
        try:
            check(lib.mirelo_board_planes(handle, out))   # ValueError, PanicException, ...
            return bytes(ffi.buffer(out.planes))
        finally:
            give_out(out)

C functions that read or change a record take its borrow themselves (see
the header); `borrowed(obj, exclusive)` holds it around Python code instead.
`wrap_board(pointer)` makes a Board that owns a native board made in C.

Below: the native half of mirelo_chess.arrays, with the functions, checks
and messages of the module the C extension makes on CPython.
"""

from array import array as _array
from operator import index as _index

from mirelo_chess._face import (  # noqa: F401 - the toolkit of the submodules
    Board,
    _text,
    board_handle,
    borrowed,
    check,
    ffi,
    generator_handle,
    give_out,
    lib,
    take_out,
    wrap_board,
)


# ---------------------------------------------------------------- arrays

MOVE_INDEX_SIZE = lib.MIRELO_MOVE_INDEX_SIZE


def _writable(out):
    """The memory of a writable, contiguous buffer, as a char array."""
    return ffi.from_buffer(out, require_writable=True)


def _items(sequence, param):
    if not isinstance(sequence, (list, tuple)):
        raise TypeError("%s must be a list or tuple" % param)
    return sequence


def _handles(boards):
    """The handles of a list of Boards; TypeError naming the first item that is not one."""
    return [board._h if type(board) is Board else board_handle(board, "boards[%d]" % i)
            for i, board in enumerate(boards)]


def planes(board, out, element):
    kind = _index(element)
    buffer = _writable(out)
    handles = [board_handle(board, "board")]
    check(lib.mirelo_write_planes(handles, 1, kind, buffer, len(buffer)))


def planes_batch(boards, out, element):
    kind = _index(element)
    buffer = _writable(out)
    handles = _handles(_items(boards, "boards"))
    check(lib.mirelo_write_planes(handles, len(handles), kind, buffer, len(buffer)))


def planes_from_fens(fens, out, element):
    kind = _index(element)
    buffer = _writable(out)
    items = _items(fens, "fens")
    encoded = []
    ends = []
    end = 0
    for i, text in enumerate(items):
        data = text.encode() if type(text) is str else _text(text, None, None, None, False, "fens[%d]" % i)
        encoded.append(data)
        end += len(data)
        ends.append(end)
    failed = ffi.new("size_t *")
    status = lib.mirelo_write_fen_planes(b"".join(encoded), ends, len(items), kind, buffer, len(buffer), failed)
    if status:
        i = failed[0]
        check(status, "fens[%d] %r: " % (i, items[i]) if i < len(items) else "")


def move_index(text):
    data = text.encode() if type(text) is str else _text(text, None, None, None, False, "text")
    index = lib.mirelo_move_index(data, len(data))
    if index < 0:
        raise ValueError("%r is not a move text of the index layout" % (text,))
    return index


def move_text(index):
    number = _index(index)
    text = ""
    if 0 <= number < MOVE_INDEX_SIZE:
        out = take_out()
        try:
            check(lib.mirelo_index_move_text(number, out))
            text = ffi.unpack(out.text, out.length).decode("ascii")
        finally:
            give_out(out)
    if not text:
        raise ValueError("%r is not the index of a move: indices are 0 to %d, not all used"
                         % (index, MOVE_INDEX_SIZE - 1))
    return text


def legal_indices(generator, board):
    generator_h = generator_handle(generator, "generator")
    board_h = board_handle(board, "board")
    out = take_out()
    try:
        check(lib.mirelo_legal_indices(generator_h, board_h, out))
        return bytearray(_array("q", ffi.unpack(out.moves, out.length)))
    finally:
        give_out(out)


def legal_mask(generator, board, out):
    buffer = _writable(out)
    generator_h = generator_handle(generator, "generator")
    handles = [board_handle(board, "board")]
    check(lib.mirelo_legal_masks(generator_h, handles, 1, buffer, len(buffer)))


def legal_mask_batch(generator, boards, out):
    buffer = _writable(out)
    generator_h = generator_handle(generator, "generator")
    handles = _handles(_items(boards, "boards"))
    check(lib.mirelo_legal_masks(generator_h, handles, len(handles), buffer, len(buffer)))
