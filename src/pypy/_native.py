"""Native calls for the private submodules of mirelo_chess on PyPy.

The same module exists on CPython, made by the extension module; here it sits
over the cffi module mirelo_chess._ffi, whose `lib` holds every function of
the C interface (src/capi/mirelo_capi.h: a function declared between its
cdef markers appears in `lib` after a rebuild).

A native call on a Board or MoveGenerator from Python code goes like this:

    from mirelo_chess._native import board_handle, check, ffi, lib, take_out, give_out

    def legal_codes(generator, board):
        handle = board_handle(board, "board")    # TypeError as the face gives it
        out = take_out()
        try:
            check(lib.mirelo_generator_moves(generator_handle(generator), handle, out))
            return ffi.unpack(out.moves, out.length)   # ValueError, PanicException, ... above
        finally:
            give_out(out)

C functions that read or change a record take its borrow themselves (see
the header); `borrowed(obj, exclusive)` holds it around Python code instead.
`wrap_board(pointer, size)` makes a Board that owns a native board made in C
(size: the native bytes it holds, as `mirelo_out.bytes` reports them).

Below: the native half of mirelo_chess.arrays, with the functions, checks
and messages of the module the C extension makes on CPython.
"""

from inspect import Parameter as _Parameter
from inspect import Signature as _Signature
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
from mirelo_chess._face import _bind, _conversion_error, _move_texts, _refuse, _returning

# ---------------------------------------------------------------- game

_MAX_DEPTH = lib.MIRELO_MAX_PERFT_DEPTH
_OUTCOMES = (None, "checkmate", "stalemate", "insufficient_material", "fivefold_repetition")


def _board_argument(name, args, kwargs):
    """The handle of the one Board argument of a game function."""
    if kwargs or len(args) != 1:
        board = _bind(name, "board", 1, args, kwargs)
    else:
        board = args[0]
    return board_handle(board, "board")


def _generator_and_board(generator, board):
    """The handles of a MoveGenerator and a Board argument; the board's
    conversion error is made while the generator is held, as on the C-API
    face."""
    handle = generator_handle(generator, "generator")
    if type(board) is not Board:
        _refuse(lib.mirelo_generator_borrow, lib.mirelo_generator_release, handle, False, board, "Board", "board")
    return handle, board._h


def _converted_depth(value):
    if not hasattr(type(value), "__index__"):
        raise _conversion_error(value, "PyInt", "depth")
    depth = _index(value)
    if not 0 <= depth <= _MAX_DEPTH:
        raise ValueError("Invalid depth: %d (must be from 0 to %d)" % (depth, _MAX_DEPTH))
    return depth


def _depth(value, generator, board):
    """A depth argument as an int. Anything but an int in range is converted
    while the generator and the board are held, as on the C-API face, so
    that a borrow conflict is reported before a bad depth."""
    if type(value) is int and 0 <= value <= _MAX_DEPTH:
        return value
    check(lib.mirelo_generator_borrow(generator, 0))
    try:
        check(lib.mirelo_board_borrow(board, 1))
        try:
            return _converted_depth(value)
        finally:
            lib.mirelo_board_release(board, 1)
    finally:
        lib.mirelo_generator_release(generator, 0)


def _flag(out):
    return out.length != 0


def _length(out):
    return out.length


def _number(out):
    return out.number


def _outcome(out):
    return _OUTCOMES[out.length]


def is_check(*args, **kwargs):
    return _returning(_flag, lib.mirelo_game_is_check, _board_argument("is_check()", args, kwargs))


def repetitions(*args, **kwargs):
    return _returning(_length, lib.mirelo_game_repetitions, _board_argument("repetitions()", args, kwargs))


def zobrist_key(*args, **kwargs):
    return _returning(_number, lib.mirelo_game_zobrist_key, _board_argument("zobrist_key()", args, kwargs))


def outcome(generator, board):
    return _returning(_outcome, lib.mirelo_game_outcome, *_generator_and_board(generator, board))


def perft(generator, board, depth):
    handles = _generator_and_board(generator, board)
    return _returning(_number, lib.mirelo_game_perft, *handles, _depth(depth, *handles))


def divide(generator, board, depth):
    handles = _generator_and_board(generator, board)
    depth = _depth(depth, *handles)
    counts = ffi.new("uint64_t[]", lib.MIRELO_MAX_MOVES)
    return _returning(lambda out: list(zip(_move_texts(out), counts)), lib.mirelo_game_divide, *handles, depth,
                      counts)


# What inspect shows: the parameters of the C-API face.
for _function in (is_check, repetitions, zobrist_key):
    _function.__signature__ = _Signature([_Parameter("board", _Parameter.POSITIONAL_OR_KEYWORD)])
del _function


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
