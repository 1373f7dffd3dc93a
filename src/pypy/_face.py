"""The classes Board and MoveGenerator on PyPy, over the C interface of the
core (src/capi/mirelo_capi.h) reached through cffi.

Each call passes the same steps, in the same order, as on the C-API face:
bind the arguments, check the receiver and borrow it, convert the
arguments, run the core, convert the result. The borrow flags live in the
native records, so two threads never run the core on one board at once even
though PyPy releases its lock around every cffi call; a C call takes its
borrows itself and changes nothing when one is refused. Where Python code
must run while a call holds an object (building a conversion error reads the
__qualname__ of a type), the borrow is taken explicitly around it.

Results come back in a `mirelo_out` record taken from a small pool (a list:
its pop and append are atomic under the interpreter lock), so no call
allocates native memory. Move texts are made once per 16-bit code and kept
in a table indexed by the code; the push of a text met before goes through
its code.

Sibling private modules (mirelo_chess._native and the submodules built on
it) reach the native side through the helpers at the end of this module:
`board_handle`, `generator_handle`, `wrap_board`, `check`, `borrowed`,
`take_out` and `give_out`.
"""

import os

from mirelo_chess._ffi import ffi, lib

# The package module, once made: importing mirelo_chess again after it was
# removed from sys.modules gives this same object back.
package = None

DEFAULT_FEN = ffi.string(lib.mirelo_default_fen()).decode("ascii")
_DEFAULT_FEN_BYTES = DEFAULT_FEN.encode("ascii")

_free_board = lib.mirelo_board_free
_free_generator = lib.mirelo_generator_free
_new_object = object.__new__
_encode = str.encode

# ---------------------------------------------------------------- errors

_BORROW_MESSAGES = {
    lib.MIRELO_BORROWED: "Already borrowed",
    lib.MIRELO_MUTABLY_BORROWED: "Already mutably borrowed",
}

_panic_class = None


def _panic_exception():
    """pyo3_runtime.PanicException, made on first use."""
    global _panic_class
    if _panic_class is None:
        _panic_class = type("PanicException", (BaseException,), {
            "__module__": "pyo3_runtime",
            "__doc__": ffi.string(lib.mirelo_panic_doc()).decode("utf-8"),
        })
    return _panic_class


def _error_text():
    return ffi.unpack(lib.mirelo_error_text(), lib.mirelo_error_length()).decode("utf-8", "replace")


def check(status, prefix=""):
    """Raises the exception for a status other than MIRELO_OK: ValueError
    (prefix + the core's error text), PanicException (with its one-line
    diagnostic on standard error), MemoryError, or RuntimeError for a
    refused borrow."""
    if status == lib.MIRELO_OK:
        return
    if status == lib.MIRELO_ERROR:
        raise ValueError(prefix + _error_text())
    if status == lib.MIRELO_FAILURE:
        message = _error_text()
        path = ffi.string(lib.mirelo_error_file()).decode("utf-8", "replace")
        # One line: control characters of the message (input text) escaped.
        line = "".join("\\x%02x" % ord(c) if c < " " else c for c in message)
        diagnostic = "mirelo_chess: internal failure at %s:%d: %s\n" % (
            path.rpartition("/")[2], lib.mirelo_error_line(), line)
        # The process's standard error, as native code writes it.
        os.write(2, diagnostic.encode("utf-8", "replace"))
        raise _panic_exception()(message)
    if status == lib.MIRELO_NO_MEMORY:
        raise MemoryError()
    raise RuntimeError(_BORROW_MESSAGES[status])


def _type_name(value):
    """The __qualname__ of the value's type, read as the C-API face reads it."""
    try:
        name = getattr(type(value), "__qualname__")
    except BaseException:  # noqa: B036 - the C-API face clears whatever was raised
        return "<failed to extract type name>"
    return name if isinstance(name, str) else "<failed to extract type name>"


def _conversion_error(value, target, param=None):
    message = "".join(("'", _type_name(value), "' object cannot be converted to '", target, "'"))
    if param is not None:
        message = "".join(("argument '", param, "': ", message))
    return TypeError(message)


def _refuse(take, release, handle, exclusive, value, target, param):
    """Raises the conversion error of an argument while the receiver is held,
    as the C-API face does: reading the type's name may run Python code,
    which then meets the borrow."""
    check(take(handle, exclusive))
    try:
        error = _conversion_error(value, target, param)
    finally:
        release(handle, exclusive)
    raise error


def _text(value, take, release, handle, exclusive, param):
    """The UTF-8 bytes of a str argument. A call that reaches this holds no
    borrow yet (the C call takes it), so the borrow is checked first, as it
    would be on the C-API face, before any conversion error is raised."""
    if isinstance(value, str):
        try:
            return _encode(value)
        except UnicodeEncodeError:
            if take is not None:
                check(take(handle, exclusive))
                release(handle, exclusive)
            raise
    if take is None:
        raise _conversion_error(value, "PyString", param)
    _refuse(take, release, handle, exclusive, value, "PyString", param)


# ---------------------------------------------------------------- binding

_MISSING = object()


def _bind(name, param, required, args, kwargs):
    """The argument of a callable with at most one parameter, bound from the
    positional and keyword arguments of a call (_MISSING when not given),
    or TypeError with the message of the C-API face."""
    count = 0 if param is None else 1
    n = len(args)
    if n > count:
        verb = "was" if n == 1 else "were"
        if required == count:
            raise TypeError("%s takes %d positional arguments but %d %s given" % (name, count, n, verb))
        raise TypeError("%s takes from %d to %d positional arguments but %d %s given"
                        % (name, required, count, n, verb))
    value = args[0] if n else _MISSING
    for key in kwargs:
        if param is not None and str.__eq__(key, param):
            if value is not _MISSING:
                raise TypeError("%s got multiple values for argument '%s'" % (name, param))
            value = kwargs[key]
        else:
            raise TypeError("".join((name, " got an unexpected keyword argument '", key, "'")))
    if value is _MISSING and required:
        raise TypeError("%s missing 1 required positional argument: '%s'" % (name, param))
    return value


def _check_new_type(cls, own):
    if cls is own:
        return
    name = own.__name__
    if not isinstance(cls, type):
        raise TypeError("%s.__new__(X): X is not a type object (%s)" % (name, type(cls).__name__))
    raise TypeError("%s.__new__(%s): %s is not a subtype of %s" % (name, cls.__name__, cls.__name__, name))


# ---------------------------------------------------------------- results
# The hot paths call the C functions directly: PyPy's JIT sees through a
# direct call of a cffi function, not through one made with *args.

_outs = []


def take_out():
    """A mirelo_out record for one call; give it back with give_out."""
    try:
        return _outs.pop()
    except IndexError:
        return ffi.new("mirelo_out *")


give_out = _outs.append


def _fail(out, status, prefix=""):
    give_out(out)
    check(status, prefix)


def _returning(convert, function, *args, prefix=""):
    """convert(out) after function(*args, out) succeeded; its exception
    otherwise (prefix goes before a core's error text). For the calls off
    the hot paths."""
    out = take_out()
    status = function(*args, out)
    if status:
        _fail(out, status, prefix)
    result = convert(out)
    give_out(out)
    return result


_NO_FLAGS = [False] * 64  # copied by slicing: far cheaper on PyPy than [False] * 64


def _planes(out):
    empty = _NO_FLAGS
    planes = [empty[:], empty[:], empty[:], empty[:], empty[:], empty[:],
              empty[:], empty[:], empty[:], empty[:], empty[:], empty[:]]
    for mark in ffi.unpack(out.marks, out.length):
        planes[mark >> 6][mark & 63] = True
    return planes


def _text_of(out):
    return ffi.unpack(out.text, out.length).decode("ascii")


def _side(out):
    return "white" if out.length else "black"


# Move texts by 16-bit code, made on first use. Pushed texts that are written
# as the generator writes them, with the code they read as: the next push of
# such a text skips the parser.
_texts = [None] * 65536
_codes = {}


def _move_text(code):
    text = _returning(_text_of, lib.mirelo_move_text, code)
    _texts[code] = text
    return text


def _move_texts(out):
    """The texts of the move codes in out."""
    texts = _texts
    return [texts[code] or _move_text(code) for code in ffi.unpack(out.moves, out.length)]


def _pushed(out):
    return out.moves[0]


# The collector learns of a board's native memory, so that boards made in a
# loop are collected as often as their size asks.
def wrap_board(pointer, size):
    """A new Board owning the native board at pointer (freed with it)."""
    handle = ffi.gc(pointer, _free_board, size)
    board = _new_object(Board)
    board._h = handle
    return board


def _new_generator(out):
    handle = ffi.gc(out.generator, _free_generator, out.bytes)
    generator = _new_object(MoveGenerator)
    generator._h = handle
    return generator


# ---------------------------------------------------------------- classes


class _Class(type):
    """The class of Board and MoveGenerator. It only reports their text
    signatures, which PyPy's type reads for its built-in types alone, and
    goes by the name of the class of classes in messages."""

    @property
    def __text_signature__(cls):
        return _TEXT_SIGNATURES.get(cls)


_Class.__name__ = _Class.__qualname__ = "type"


class Board(metaclass=_Class):
    __slots__ = ("_h",)
    __module__ = "mirelo_chess"
    __doc__ = ""

    def __init_subclass__(cls, **kwargs):
        raise TypeError("type 'Board' is not an acceptable base type")

    def __new__(cls, /, *args, **kwargs):
        _check_new_type(cls, Board)
        if kwargs or len(args) > 1:
            fen = _bind("Board.__new__()", "fen", 0, args, kwargs)
        else:
            fen = args[0] if args else _MISSING
        if fen is _MISSING:
            data = _DEFAULT_FEN_BYTES
        elif type(fen) is str:
            data = fen.encode()
        else:
            data = _text(fen, None, None, None, False, "fen")
        out = take_out()
        status = lib.mirelo_board_new(data, len(data), out)
        if status:
            _fail(out, status, "Invalid fen: ")
        board = wrap_board(out.board, out.bytes)
        give_out(out)
        return board

    @staticmethod
    def bitboard_from_fen(*args, **kwargs):
        if kwargs or len(args) != 1:
            fen = _bind("Board.bitboard_from_fen()", "fen", 1, args, kwargs)
        else:
            fen = args[0]
        data = fen.encode() if type(fen) is str else _text(fen, None, None, None, False, "fen")
        return _returning(_planes, lib.mirelo_planes_from_fen, data, len(data))

    def fen(self):
        if type(self) is not Board:
            raise _conversion_error(self, "Board")
        out = take_out()
        status = lib.mirelo_board_fen(self._h, out)
        if status:
            _fail(out, status)
        text = ffi.unpack(out.text, out.length).decode("ascii")
        give_out(out)
        return text

    def push(self, /, *args, **kwargs):
        if kwargs or len(args) != 1:
            chess_move = _bind("Board.push()", "chess_move", 1, args, kwargs)
        else:
            chess_move = args[0]
        if type(self) is not Board:
            raise _conversion_error(self, "Board")
        handle = self._h
        if type(chess_move) is str:
            code = _codes.get(chess_move)
            if code is not None:
                status = lib.mirelo_board_push_code(handle, code)
                if status:
                    check(status, "Invalid chess move: ")
                return None
        data = _text(chess_move, lib.mirelo_board_borrow, lib.mirelo_board_release, handle, True,
                     "chess_move")
        code = _returning(_pushed, lib.mirelo_board_push, handle, data, len(data), prefix="Invalid chess move: ")
        if type(chess_move) is str and chess_move == (_texts[code] or _move_text(code)):
            _codes[chess_move] = code
        return None

    def pop(self):
        if type(self) is not Board:
            raise _conversion_error(self, "Board")
        status = lib.mirelo_board_pop(self._h)
        if status:
            check(status)

    def bitboard(self):
        if type(self) is not Board:
            raise _conversion_error(self, "Board")
        out = take_out()
        status = lib.mirelo_board_planes(self._h, out)
        if status:
            _fail(out, status)
        planes = _planes(out)
        give_out(out)
        return planes

    def turn(self):
        if type(self) is not Board:
            raise _conversion_error(self, "Board")
        return _returning(_side, lib.mirelo_board_turn, self._h)

    def reflect(self):
        if type(self) is not Board:
            raise _conversion_error(self, "Board")
        status = lib.mirelo_board_reflect(self._h)
        if status:
            check(status)

    def copy(self):
        if type(self) is not Board:
            raise _conversion_error(self, "Board")
        out = take_out()
        status = lib.mirelo_board_copy(self._h, out)
        if status:
            _fail(out, status)
        board = wrap_board(out.board, out.bytes)
        give_out(out)
        return board


class MoveGenerator(metaclass=_Class):
    __slots__ = ("_h",)
    __module__ = "mirelo_chess"
    __doc__ = ""

    def __init_subclass__(cls, **kwargs):
        raise TypeError("type 'MoveGenerator' is not an acceptable base type")

    def __new__(cls, /, *args, **kwargs):
        _check_new_type(cls, MoveGenerator)
        if args or kwargs:
            _bind("MoveGenerator.__new__()", None, 0, args, kwargs)
        return _returning(_new_generator, lib.mirelo_generator_new)

    def __call__(self, /, *args, **kwargs):
        if kwargs or len(args) != 1:
            board = _bind("MoveGenerator.__call__()", "board", 1, args, kwargs)
        else:
            board = args[0]
        if type(self) is not MoveGenerator:
            raise _conversion_error(self, "MoveGenerator")
        if type(board) is not Board:
            _refuse(lib.mirelo_generator_borrow, lib.mirelo_generator_release, self._h, False, board,
                    "Board", "board")
        out = take_out()
        status = lib.mirelo_generator_moves(self._h, board._h, out)
        if status:
            _fail(out, status)
        texts = _move_texts(out)
        give_out(out)
        return texts


# What inspect and help() show: the parameter names of the C-API face. The
# callables taking arguments bind them by hand (for the messages of that face);
# inspect follows __wrapped__ to a function with the signature they present.
class _Shown:
    def board_new(cls, /, fen=DEFAULT_FEN):
        pass

    def bitboard_from_fen(fen):
        pass

    def push(self, /, chess_move):
        pass

    def generator_new(cls, /):
        pass

    def generator_call(self, /, board):
        pass


_TEXT_SIGNATURES = {Board: '(fen="%s")' % DEFAULT_FEN, MoveGenerator: "()"}
Board.__new__.__wrapped__ = _Shown.board_new
Board.bitboard_from_fen.__wrapped__ = _Shown.bitboard_from_fen
Board.bitboard_from_fen.__text_signature__ = "(fen)"
Board.push.__wrapped__ = _Shown.push
MoveGenerator.__new__.__wrapped__ = _Shown.generator_new
MoveGenerator.__call__.__wrapped__ = _Shown.generator_call
for _name in ("fen", "push", "pop", "bitboard", "turn", "reflect", "copy"):
    _method = Board.__dict__[_name]
    _method.__text_signature__ = "($self, chess_move)" if _name == "push" else "($self)"
for _cls in (Board, MoveGenerator):
    for _function in vars(_cls).values():
        _function = getattr(_function, "__func__", _function)
        if hasattr(_function, "__code__"):
            _function.__module__ = "mirelo_chess"
del _name, _method, _cls, _function


# ---------------------------------------------------------------- native access
# For the private modules of the package (see mirelo_chess._native).


def board_handle(board, param=None):
    """The native handle (a `mirelo_board *`) of a Board, or the TypeError of
    the C-API face naming param."""
    if type(board) is not Board:
        raise _conversion_error(board, "Board", param)
    return board._h


def generator_handle(generator, param=None):
    """The native handle (a `mirelo_generator *`) of a MoveGenerator."""
    if type(generator) is not MoveGenerator:
        raise _conversion_error(generator, "MoveGenerator", param)
    return generator._h


class borrowed:
    """Holds the borrow of a Board or MoveGenerator for a with-block (shared,
    or exclusive when asked), for Python code that must run while a call
    holds the object; RuntimeError when it is refused."""

    __slots__ = ("_handle", "_exclusive", "_take", "_release")

    def __init__(self, obj, exclusive=False):
        if type(obj) is Board:
            take, self._release = lib.mirelo_board_borrow, lib.mirelo_board_release
        else:
            take, self._release = lib.mirelo_generator_borrow, lib.mirelo_generator_release
            generator_handle(obj)
        self._handle = obj._h
        self._exclusive = exclusive
        self._take = take

    def __enter__(self):
        check(self._take(self._handle, self._exclusive))
        return self._handle

    def __exit__(self, *exc):
        self._release(self._handle, self._exclusive)
        return False
