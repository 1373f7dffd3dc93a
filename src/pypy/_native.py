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

Functions for the submodules are added below.
"""

from inspect import Parameter as _Parameter
from inspect import Signature as _Signature
from operator import index as _index

from mirelo_chess._face import (  # noqa: F401 - the toolkit of the submodules
    Board,
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
