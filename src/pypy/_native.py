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

Functions for the submodules are added below.
"""

from mirelo_chess._face import (  # noqa: F401 - the toolkit of the submodules
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
