"""The classes Board and MoveGenerator and the functions of
mirelo_chess._native on PyPy, over the C interface of the core
(src/capi/mirelo_capi.h) reached through cffi.

Nothing here is written per callable. The C interface declares every
callable once (mirelo_callables: names, parameters and their kinds, result
kind, documentation); this module writes the Python source of each one from
its row, with one snippet per argument kind and per result kind, and compiles
it. PyPy's JIT then sees plain functions calling cffi functions directly.

Each call passes the same steps, in the same order, as on the C-API face:
bind the arguments (a plain positional call needs no binding; any other asks
the C interface), check the receiver, convert the arguments, call the C
function, which takes the borrows and runs the core, convert the result.
Every message comes from the C interface. A conversion that fails, or that
may run Python code, runs while the records of the earlier arguments are
held (mirelo_board_hold), so that Python code calling back into them meets
the borrow as it would inside the C call.

Results come back in a `mirelo_out` record taken from a small pool (a list:
its pop and append are atomic under the interpreter lock). Move texts are
made once per 16-bit code; the push of a text met before passes its code,
which skips the parser.

Records live in memory the collector owns (ffi.new), which it frees with a
light destructor when the object dies young: a finalizer per object (ffi.gc)
would keep every dead board alive until a major collection. Such records must
own nothing outside that memory, so a board's history lives in a room the
face gives it (see Rooms in mirelo_capi.h): the object holds its record (_m)
and its room (_r), and a call that finds the room full makes the face give a
larger one and call again. A class whose records hold memory of their own
(the PGN reader's buffers) is the exception: its few objects own a record
the C call allocates, freed by a finalizer.
"""

import operator
from array import array
from inspect import Parameter, Signature

from mirelo_chess._ffi import ffi, lib

# The package module, once made: importing mirelo_chess again after it was
# removed from sys.modules gives this same object back.
package = None


def _string(pointer):
    return ffi.string(pointer).decode("utf-8")


DEFAULT_FEN = _string(lib.mirelo_default_fen())

# ---------------------------------------------------------------- errors

_panic_module, _, _panic_name = _string(lib.mirelo_panic_name()).rpartition(".")
PanicException = type(_panic_name, (BaseException,), {"__module__": _panic_module,
                                                      "__doc__": _string(lib.mirelo_panic_doc())})

_EXCEPTIONS = {
    lib.MIRELO_VALUE_ERROR: ValueError,
    lib.MIRELO_TYPE_ERROR: TypeError,
    lib.MIRELO_FAILURE: PanicException,
    lib.MIRELO_BORROWED: RuntimeError,
    lib.MIRELO_MUTABLY_BORROWED: RuntimeError,
}


def check(status):
    """Raises the exception of a status other than MIRELO_OK, with the C
    interface's text (the C interface has already written the one-line
    diagnostic of an internal failure)."""
    if status == lib.MIRELO_OK:
        return
    if status == lib.MIRELO_NO_MEMORY:
        raise MemoryError()
    text = ffi.unpack(lib.mirelo_error_text(), lib.mirelo_error_length()).decode("utf-8", "replace")
    raise _EXCEPTIONS[status](text)


def _qualname(value):
    """The UTF-8 __qualname__ of the value's type, read as the C-API face
    reads it; None when it cannot be read."""
    try:
        name = getattr(type(value), "__qualname__")
    except BaseException:  # noqa: B036 - the C-API face clears whatever was raised
        return None
    if not isinstance(name, str):
        return None
    try:
        return name.encode("utf-8", "surrogatepass")
    except UnicodeEncodeError:
        return None


def _argument_error(row, param, item, value):
    name = _qualname(value)
    check(lib.mirelo_argument_error(row, param, item, ffi.NULL if name is None else name,
                                    0 if name is None else len(name)))


class _Held:
    """Holds the records of a call's earlier arguments for a with-block:
    (handle, exclusive) pairs, taken in order."""

    __slots__ = ("_records", "_taken")

    def __init__(self, records):
        self._records = records
        self._taken = 0

    def __enter__(self):
        for handle, exclusive in self._records:
            status = lib.mirelo_hold(handle, exclusive)
            if status:
                self.__exit__()
                check(status)
            self._taken += 1

    def __exit__(self, *exc):
        while self._taken:
            self._taken -= 1
            handle, exclusive = self._records[self._taken]
            lib.mirelo_unhold(handle, exclusive)
        return False


# ---------------------------------------------------------------- slow conversions
# Each runs with the earlier arguments held, converts or raises.

_INT_RANGE = (-(2 ** 31), 2 ** 31 - 1)
_INT64_RANGE = (-(2 ** 63), 2 ** 63 - 1)


def _slow_text(row, param, value, held):
    with _Held(held):
        if not isinstance(value, str):
            _argument_error(row, param, -1, value)
        return value.encode()  # the interpreter's own error for text it cannot encode


def _slow_object(row, param, value, held):
    with _Held(held):
        _argument_error(row, param, -1, value)


def _slow_integer(row, param, value, held, bounds):
    with _Held(held):
        if not hasattr(type(value), "__index__"):
            _argument_error(row, param, -1, value)
        number = operator.index(value)
        if not bounds[0] <= number <= bounds[1]:
            decimal = str(number).encode()
            check(lib.mirelo_range_error(row, param, decimal, len(decimal)))
        return number


def _buffer(row, param, value, held):
    """The memory of a writable, contiguous buffer, as a char array."""
    try:
        return ffi.from_buffer(value, require_writable=True)
    except Exception:
        with _Held(held):
            return ffi.from_buffer(value, require_writable=True)


def _bytes(row, param, value, held):
    """The memory of any bytes-like object, read only, as a char array."""
    if type(value) is not str:
        try:
            return ffi.from_buffer(value)
        except TypeError:
            pass
    with _Held(held):
        if isinstance(value, str) or not _has_buffer(value):
            _argument_error(row, param, -1, value)
        return ffi.from_buffer(value)  # the interpreter's error for a buffer it cannot give


def _has_buffer(value):
    try:
        memoryview(value).release()
    except TypeError:
        return False
    return True


def _slow_flag(row, param, value, held):
    with _Held(held):
        _argument_error(row, param, -1, value)


def _items(row, param, value, held):
    if type(value) is list or type(value) is tuple:
        return value
    if isinstance(value, (list, tuple)):
        return tuple(value)
    with _Held(held):
        _argument_error(row, param, -1, value)


def _handles(row, param, value, held, cls):
    """The handles of a list of instances of the class; TypeError naming the
    first item that is not one."""
    items = _items(row, param, value, held)
    handles = []
    for i, item in enumerate(items):
        if type(item) is not cls:
            with _Held(held):
                _argument_error(row, param, i, item)
        handles.append(item._h)
    return handles


def _texts(row, param, value, held):
    """The UTF-8 texts of a list of str, joined, and where each ends."""
    items = _items(row, param, value, held)
    encoded = []
    ends = []
    end = 0
    for i, text in enumerate(items):
        if type(text) is not str:
            with _Held(held):
                if not isinstance(text, str):
                    _argument_error(row, param, i, text)
        data = text.encode()
        encoded.append(data)
        end += len(data)
        ends.append(end)
    return b"".join(encoded), ends


# ---------------------------------------------------------------- results

_outs = []


def take_out():
    """A mirelo_out record for one call; give it back with give_out."""
    try:
        return _outs.pop()
    except IndexError:
        return ffi.new("mirelo_out *")


give_out = _outs.append


def _fail(out, status):
    give_out(out)
    check(status)


_NO_FLAGS = [False] * 64  # copied by slicing: far cheaper on PyPy than [False] * 64


def _planes(out):
    empty = _NO_FLAGS
    planes = [empty[:], empty[:], empty[:], empty[:], empty[:], empty[:],
              empty[:], empty[:], empty[:], empty[:], empty[:], empty[:]]
    for mark in ffi.unpack(out.marks, out.mark_count):
        planes[mark >> 6][mark & 63] = True
    return planes


def _text_of(out):
    data = ffi.unpack(out.text, out.text_length)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("utf-8", "replace")


# Move texts by 16-bit code, made on first use. Pushed texts that are written
# as the generator writes them, with their code: the next push of such a text
# skips the parser.
_move_text_of = [None] * 65536
_codes = {}


def _move_text(code):
    out = take_out()
    status = lib.mirelo_move_text(code, out)
    if status:
        _fail(out, status)
    text = _text_of(out)
    give_out(out)
    _move_text_of[code] = text
    return text


def _move_texts(out):
    texts = _move_text_of
    return [texts[code] or _move_text(code) for code in ffi.unpack(out.moves, out.move_count)]


def _learn(text, code):
    if text == (_move_text_of[code] or _move_text(code)):
        _codes[text] = code


_SIDES = {lib.MIRELO_WHITE: _string(lib.mirelo_side_name(lib.MIRELO_WHITE)),
          lib.MIRELO_BLACK: _string(lib.mirelo_side_name(lib.MIRELO_BLACK))}
_OUTCOMES = [None if lib.mirelo_outcome_name(i) == ffi.NULL else _string(lib.mirelo_outcome_name(i))
             for i in range(8)]


def _indices(out):
    return bytearray(array("q", ffi.unpack(out.moves, out.move_count)))


def _unpack(pointer, count):
    """count items from pointer, which may be NULL when count is 0."""
    return ffi.unpack(pointer, count) if count else []


def _pieces(text, spans):
    """The str of each (offset, size) pair of spans within the UTF-8 bytes text."""
    return [text[spans[i]:spans[i] + spans[i + 1]].decode("utf-8") for i in range(0, len(spans), 2)]


def _game(out):
    """The tuple of the game a reader read, or None."""
    game = out.game
    if game == ffi.NULL:
        return None
    text = ffi.unpack(game.text, game.text_length)
    tags = _pieces(text, _unpack(game.tags, 4 * game.tag_count))
    headers = {}
    for i in range(0, len(tags), 2):
        headers[tags[i]] = tags[i + 1]
    count = game.move_count
    texts = _move_text_of
    moves = [texts[code] or _move_text(code) for code in _unpack(game.moves, count)]
    comments = None if game.comments == ffi.NULL else _pieces(text, _unpack(game.comments, 2 * count))
    error = None if game.error == ffi.NULL else ffi.unpack(game.error, game.error_length).decode("utf-8")
    return (game.index, headers, ffi.unpack(game.fen, game.fen_length).decode("ascii"), moves, comments,
            ffi.unpack(game.result, game.result_length).decode("utf-8"), error)


def _divide_rows(out):
    return list(zip(_move_texts(out), ffi.unpack(out.counts, out.move_count)))


_new_instance = object.__new__
_CHARS = ffi.typeof("char[]")
# Memory for records and rooms: each is written before it is read (a record
# by its constructor, a room up to the size in use), so clearing it would
# only cost time, much of it for a long history's room.
_allocate = ffi.new_allocator(should_clear_after_alloc=False)
_VOID = ffi.typeof("void *")
_NEEDS_ROOM = lib.MIRELO_NEEDS_ROOM


def _grow(instance, cls):
    """Moves what the instance's record keeps into a room as large as the C
    interface asks for. Where another thread has moved it meanwhile, nothing
    changes (the caller calls again): the room the record uses is always the
    one the instance holds, whatever the order of the threads."""
    used = instance._r
    room, size = ffi.NULL, 0
    out = take_out()
    while True:
        status = lib.mirelo_give_room(cls, instance._h, instance._h if used is None else used, room, size, out)
        if status != _NEEDS_ROOM:
            break
        size = out.size
        room = _allocate(_CHARS, size)
    if status:
        _fail(out, status)
    if out.flag:
        instance._r = room
    give_out(out)


# result kind: the expression of the result, from out
_RESULTS = {
    lib.MIRELO_NOTHING: "None",
    lib.MIRELO_STRING: "_text_of(out)",
    lib.MIRELO_YES_NO: "out.flag != 0",
    lib.MIRELO_COUNT: "out.count",
    lib.MIRELO_KEY: "out.key",
    lib.MIRELO_INDEX_NUMBER: "out.index",
    lib.MIRELO_SIDE_NAME: "_SIDES[out.side]",
    lib.MIRELO_OUTCOME_NAME: "_OUTCOMES[out.outcome]",
    lib.MIRELO_MOVE_TEXTS: "_move_texts(out)",
    lib.MIRELO_PLANE_LISTS: "_planes(out)",
    lib.MIRELO_MOVE_INDICES: "_indices(out)",
    lib.MIRELO_DIVIDE_ROWS: "_divide_rows(out)",
    lib.MIRELO_MOVE_TEXT: "_move_text_of[out.code] or _move_text(out.code)",
    lib.MIRELO_GAME: "_game(out)",
}

# ---------------------------------------------------------------- binding

_MISSING = object()


def _bind(row, count, args, kwargs):
    """The arguments of a call that is not a plain positional one, bound to
    the row's parameters by the C interface (_MISSING where an optional one
    was left out)."""
    names = [key.encode("utf-8", "surrogatepass") for key in kwargs]
    slots = ffi.new("int[]", max(len(names), 1))
    check(lib.mirelo_bind(row, len(args), [ffi.from_buffer(n) for n in names], [len(n) for n in names],
                          len(names), slots))
    bound = list(args) + [_MISSING] * (count - len(args))
    for k, value in enumerate(kwargs.values()):
        bound[slots[k]] = value
    return bound


def _check_new_type(cls, own):
    """What CPython's __new__ wrapper checks before it calls a constructor."""
    name = own.__name__
    if not isinstance(cls, type):
        raise TypeError("%s.__new__(X): X is not a type object (%s)" % (name, type(cls).__name__))
    raise TypeError("%s.__new__(%s): %s is not a subtype of %s" % (name, cls.__name__, cls.__name__, name))


# ---------------------------------------------------------------- the source of a callable

_CLASS_NAMES = {cls: _string(lib.mirelo_class_info_of(cls).name) for cls in range(1, lib.MIRELO_CLASS_END)}
_GROWS = {cls: bool(lib.mirelo_class_info_of(cls).grows) for cls in _CLASS_NAMES}
_ENDS = {cls: bool(lib.mirelo_class_info_of(cls).ends) for cls in _CLASS_NAMES}
_FREE = {cls: (lambda record, cls=cls: lib.mirelo_free(cls, record)) for cls in _CLASS_NAMES if _ENDS[cls]}
_INTEGER_BOUNDS = {lib.MIRELO_DEPTH: "_INT_RANGE", lib.MIRELO_INDEX: "_INT64_RANGE", lib.MIRELO_ELEMENT: "_INT_RANGE"}


def _conversion(kind, cls, i, row, held, fallback):
    """Lines that convert argument p<i> of the kind (and class), and its C
    arguments."""
    p, slow = "p%d" % i, "(%s, %d, p%d, %s)" % (row, i, i, held)
    if kind in (lib.MIRELO_TEXT, lib.MIRELO_MOVE):
        lines = ["if type(%s) is str:" % p,
                 "    try:",
                 "        d%d = %s.encode()" % (i, p),
                 "    except UnicodeEncodeError:",
                 "        d%d = _slow_text%s" % (i, slow),
                 "else:",
                 "    d%d = _slow_text%s" % (i, slow)]
        if fallback is not None:
            lines = ["if %s is _MISSING:" % p, "    d%d = %r" % (i, fallback.encode()), "el" + lines[0]] + lines[1:]
        if kind == lib.MIRELO_TEXT:
            return lines, ["d%d" % i, "len(d%d)" % i]
        # A text met before goes as its code alone.
        lines = ["c%d = _codes.get(%s, -1) if type(%s) is str else -1" % (i, p, p),
                 "if c%d >= 0:" % i, "    d%d, n%d = ffi.NULL, 0" % (i, i), "else:"] + \
            ["    " + line for line in lines] + ["    n%d = len(d%d)" % (i, i)]
        return lines, ["d%d" % i, "n%d" % i, "c%d" % i]
    if kind == lib.MIRELO_OBJECT:
        return ["if type(%s) is not %s:" % (p, _CLASS_NAMES[cls]), "    _slow_object%s" % slow], ["%s._h" % p]
    if kind in _INTEGER_BOUNDS:
        bounds = _INTEGER_BOUNDS[kind]
        return ["n%d = %s if type(%s) is int and %s[0] <= %s <= %s[1] else _slow_integer(%s, %d, %s, %s, %s)"
                % (i, p, p, bounds, p, bounds, row, i, p, held, bounds)], ["n%d" % i]
    if kind == lib.MIRELO_BUFFER:
        return ["b%d = _buffer%s" % (i, slow)], ["b%d" % i, "len(b%d)" % i]
    if kind == lib.MIRELO_BYTES:
        return ["b%d = _bytes%s" % (i, slow)], ["b%d" % i, "len(b%d)" % i]
    if kind == lib.MIRELO_FLAG:
        return ["n%d = 1 if %s is True else 0 if %s is False else _slow_flag%s" % (i, p, p, slow)], ["n%d" % i]
    if kind == lib.MIRELO_OBJECTS:
        return ["l%d = _handles%s" % (i, slow[:-1] + ", %s)" % _CLASS_NAMES[cls])], ["l%d" % i, "len(l%d)" % i]
    if kind == lib.MIRELO_TEXTS:
        return ["t%d, e%d = _texts%s" % (i, i, slow)], ["t%d" % i, "e%d" % i, "len(e%d)" % i]
    raise AssertionError("no conversion for argument kind %d" % kind)


def _source(index, row):
    """The Python source of the function behind one row."""
    entry, count, required = row.entry, row.count, row.required
    name = "r%d" % index  # the row, a global of the compiled code
    params = ["p%d" % i for i in range(count)]
    receiver = entry in (lib.MIRELO_METHOD, lib.MIRELO_CALL)
    if entry == lib.MIRELO_CONSTRUCTOR:
        own = _CLASS_NAMES[row.owner]
        head, first = "def f(cls, /, *args, **kwargs):", ["if cls is not %s:" % own,
                                                           "    _check_new_type(cls, %s)" % own]
    elif receiver and count == 0:
        head, first = "def f(self):", []
    elif receiver:
        head, first = "def f(self, /, *args, **kwargs):", []
    else:
        head, first = "def f(*args, **kwargs):", []
    body = list(first)
    if count or entry == lib.MIRELO_CONSTRUCTOR or not receiver:
        plain = ["%s = args[%d]" % (p, i) if i < required else "%s = args[%d] if len(args) > %d else _MISSING"
                 % (p, i, i) for i, p in enumerate(params)]
        test = "kwargs or len(args) != %d" % count if required == count else \
            "kwargs or not %d <= len(args) <= %d" % (required, count)
        body += ["if %s:" % test,
                 "    %s = _bind(%s, %d, args, kwargs)" % ("".join(p + ", " for p in params) or "_", name, count)]
        if plain:
            body += ["else:"] + ["    " + line for line in plain]
    held = []
    c_args = []
    if receiver:
        body += ["if type(self) is not %s:" % _CLASS_NAMES[row.owner], "    _argument_error(%s, -1, -1, self)" % name]
        c_args.append("self._h")
        held.append("(self._h, %s)" % bool(row.receiver_exclusive))
    learn = None
    for i in range(count):
        param = row.params[i]
        fallback = _string(param.fallback) if param.fallback != ffi.NULL else None
        lines, args = _conversion(param.kind, param.cls, i, name, "(%s)" % "".join(h + ", " for h in held),
                                  fallback)
        body += lines
        c_args += args
        if param.kind == lib.MIRELO_OBJECT:
            held.append("(p%d._h, %s)" % (i, bool(param.exclusive)))
        if param.kind == lib.MIRELO_MOVE:
            learn = i
    function = _string(row.function)
    # A call that changes a receiver whose class grows may find its room full.
    grows = row.owner if receiver and row.receiver_exclusive and _GROWS[row.owner] else 0
    if row.result == lib.MIRELO_NEW_OBJECT:
        return _new_object_source(head, body, function, c_args, row, receiver)
    if row.result == lib.MIRELO_NOTHING:
        # Nothing to read back: no record, unless a new move text's code is
        # to be learnt.
        direct = _call(function, c_args + ["ffi.NULL"], "check(status)", grows) + ["return None"]
        if learn is None:
            return "\n".join([head] + ["    " + line for line in body + direct]) + "\n"
        body += ["if c%d >= 0:" % learn] + ["    " + line for line in direct]
    body += ["out = take_out()"] + _call(function, c_args + ["out"], "_fail(out, status)", grows)
    if learn is not None:
        body += ["if c%d < 0 and type(p%d) is str:" % (learn, learn), "    _learn(p%d, out.code)" % learn]
    body += ["result = %s" % _RESULTS[row.result], "give_out(out)", "return result"]
    return "\n".join([head] + ["    " + line for line in body]) + "\n"


def _call(function, c_args, failure, grows):
    """Lines that call the C function and act on its status; grows: the
    class of a receiver that may need a larger room, or 0."""
    call = "status = lib.%s(%s)" % (function, ", ".join(c_args))
    if not grows:
        return [call, "if status:", "    " + failure]
    return [call, "if status:",
            "    while status == _NEEDS_ROOM:",
            "        _grow(self, %d)" % grows,
            "        " + call,
            "    if status:",
            "        " + failure]


def _new_object_source(head, body, function, c_args, row, receiver):
    """The rest of the source of a callable that makes an instance: its
    record is placed in memory the collector owns; that of a class that grows
    gets a room, like the receiver's where it copies one, none otherwise. A
    record that holds memory of its own (a class that ends) is allocated by
    the C call instead and freed by a finalizer: such objects are few."""
    cls = row.result_class
    if _ENDS[cls]:
        body = body + ["out = take_out()"] + \
            _call(function, c_args + ["ffi.NULL", "ffi.NULL", "0", "out"], "_fail(out, status)", False) + \
            ["result = _new_instance(%s)" % _CLASS_NAMES[cls],
             "result._h = ffi.gc(out.record, _FREE[%d], out.size)" % cls,
             "give_out(out)", "return result"]
        return "\n".join([head] + ["    " + line for line in body]) + "\n"
    body = body + ["out = take_out()",
                   "m = _allocate(_CHARS, %d)" % lib.mirelo_class_info_of(cls).size,
                   "h = ffi.cast(_VOID, m)"]
    if not _GROWS[cls]:
        body += _call(function, c_args + ["h", "ffi.NULL", "0", "out"], "_fail(out, status)", False)
    else:
        if receiver and row.owner == cls:
            body += ["r = self._r", "if r is not None:", "    r = _allocate(_CHARS, len(r))"]
        else:
            body += ["r = None"]
        # An empty room is any pointer but NULL: the record's own.
        call = "status = lib.%s(%s)" % (function, ", ".join(c_args + ["h", "h if r is None else r",
                                                                     "0 if r is None else len(r)", "out"]))
        body += [call,
                 "while status == _NEEDS_ROOM:",
                 "    r = _allocate(_CHARS, out.size)",
                 "    " + call,
                 "if status:",
                 "    _fail(out, status)"]
    body += ["result = _new_instance(%s)" % _CLASS_NAMES[cls], "result._h = h", "result._m = m"]
    if _GROWS[cls]:
        body += ["result._r = r"]
    body += ["give_out(out)", "return result"]
    return "\n".join([head] + ["    " + line for line in body]) + "\n"


def _signature(row):
    """What inspect shows: the parameters of the C-API face."""
    params = []
    if row.entry == lib.MIRELO_CONSTRUCTOR:
        params.append(Parameter("cls", Parameter.POSITIONAL_ONLY))
    elif row.entry in (lib.MIRELO_METHOD, lib.MIRELO_CALL):
        params.append(Parameter("self", Parameter.POSITIONAL_ONLY))
    for i in range(row.count):
        p = row.params[i]
        fallback = _string(p.fallback) if p.fallback != ffi.NULL else Parameter.empty
        params.append(Parameter(_string(p.name), Parameter.POSITIONAL_OR_KEYWORD, default=fallback))
    return Signature(params)


def _compile(index, row, namespace):
    namespace["r%d" % index] = row
    exec(compile(_source(index, row), "<mirelo_chess %s>" % _string(row.function), "exec"), namespace)
    function = namespace.pop("f")
    function.__name__ = _string(row.name)
    owner = None if row.entry == lib.MIRELO_FUNCTION else row.owner
    function.__qualname__ = "%s.%s" % (_CLASS_NAMES[owner], function.__name__) if owner else function.__name__
    function.__module__ = _string(lib.mirelo_class_info_of(owner).module) if owner else "mirelo_chess._native"
    function.__doc__ = _string(row.doc)
    function.__signature__ = _signature(row)
    function.__text_signature__ = _string(lib.mirelo_signature(row))
    return owner, function


# ---------------------------------------------------------------- classes


class _Class(type):
    """The class of Board and MoveGenerator. It only reports their text
    signatures, which PyPy's type reads for its built-in types alone, and
    goes by the name of the class of classes in messages."""

    @property
    def __text_signature__(cls):
        return _TEXT_SIGNATURES.get(cls)


_Class.__name__ = _Class.__qualname__ = "type"


def _refuse_subclass(cls, **kwargs):
    raise TypeError("type '%s' is not an acceptable base type" % cls.__mro__[1].__name__)


def _make_everything():
    """The classes, by number, and the functions of mirelo_chess._native."""
    # The code runs in this module's namespace: PyPy's JIT treats the globals
    # of a module (not those of a plain dict) as constants it can follow.
    namespace = globals()
    count = ffi.new("size_t *")
    rows = lib.mirelo_callables(count)
    members = {cls: {} for cls in _CLASS_NAMES}
    docs = {}  # a class's documentation is its constructor's
    functions = {}
    for index in range(count[0]):
        row = rows + index
        owner, function = _compile(index, row, namespace)
        if owner is None:
            functions[function.__name__] = function
            continue
        if row.entry == lib.MIRELO_CONSTRUCTOR:
            _TEXT_SIGNATURES[_CLASS_NAMES[owner]] = _string(lib.mirelo_signature(row))
            docs[owner] = function.__doc__
        members[owner][function.__name__] = staticmethod(function) if row.entry == lib.MIRELO_STATIC_METHOD \
            else function
    classes = {}
    for cls, attributes in members.items():
        info = lib.mirelo_class_info_of(cls)
        slots = ("_h", "_m", "_r") if _GROWS[cls] else ("_h", "_m")
        attributes.update({"__slots__": slots, "__module__": _string(info.module), "__doc__": docs.get(cls, ""),
                           "__init_subclass__": classmethod(_refuse_subclass)})
        if "__new__" not in attributes:
            attributes["__new__"] = _not_constructible
        classes[cls] = _Class(_CLASS_NAMES[cls], (), attributes)
        # The generated code names the classes through this module's globals.
        namespace[_CLASS_NAMES[cls]] = classes[cls]
    return classes, functions


def _not_constructible(cls, *args, **kwargs):
    raise TypeError("cannot create '%s' instances" % cls.__name__)


_TEXT_SIGNATURES = {}  # by class name, for the classes made with a constructor
_CLASSES, native_functions = _make_everything()
_TEXT_SIGNATURES = {_CLASSES[cls]: _TEXT_SIGNATURES[name] for cls, name in _CLASS_NAMES.items()
                    if name in _TEXT_SIGNATURES}
# The classes of the package itself, and those of mirelo_chess._native.
package_classes = {c.__name__: c for c in _CLASSES.values() if c.__module__ == "mirelo_chess"}
native_classes = {c.__name__: c for c in _CLASSES.values() if c.__module__ == "mirelo_chess._native"}
