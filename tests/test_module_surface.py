"""What Python sees of the extension module: the module object, the two
classes, their signatures and type properties, and the call boundary
(argument binding, argument and receiver types, the internal-failure
exception, borrows released after every failure)."""

import gc
import importlib
import inspect
import platform
import re
import sys
import types
import weakref

import pytest

import mirelo_chess
from mirelo_chess import Board, MoveGenerator, game
from support import START, PanicException
AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"

Py_TPFLAGS_BASETYPE = 1 << 10
Py_TPFLAGS_HAVE_GC = 1 << 14
CPYTHON = platform.python_implementation() == "CPython"


class _Outer:
    class Inner:
        pass


class _Text(str):
    """A str subclass whose str() differs from its content."""

    def __str__(self):
        return "garbage"


# ---------------------------------------------------------------- module


def test_module_object():
    assert mirelo_chess.__name__ == "mirelo_chess"
    assert mirelo_chess.__doc__ == ""
    assert mirelo_chess.__all__ == ["Board", "MoveGenerator"]
    assert type(mirelo_chess.__all__) is list
    assert mirelo_chess.Board is Board
    assert mirelo_chess.MoveGenerator is MoveGenerator
    # submodules become attributes once imported; nothing else is public
    public = [name for name, value in vars(mirelo_chess).items()
              if not name.startswith("_") and not isinstance(value, types.ModuleType)]
    assert public == ["Board", "MoveGenerator"]
    assert not hasattr(mirelo_chess, "PanicException")


def test_import_twice_gives_same_module():
    assert importlib.import_module("mirelo_chess") is mirelo_chess
    saved = sys.modules.pop("mirelo_chess")
    try:
        again = importlib.import_module("mirelo_chess")
        assert again is saved
        assert again.Board is Board and again.MoveGenerator is MoveGenerator
        assert again.__all__ == ["Board", "MoveGenerator"]
    finally:
        sys.modules["mirelo_chess"] = saved


# ---------------------------------------------------------------- classes


@pytest.mark.skipif(not CPYTHON, reason="type layout fields of CPython")
@pytest.mark.parametrize("cls", [Board, MoveGenerator])
def test_class_type_flags(cls):
    assert cls.__dictoffset__ == 0
    assert cls.__weakrefoffset__ == 0
    assert not cls.__flags__ & Py_TPFLAGS_BASETYPE
    assert not cls.__flags__ & Py_TPFLAGS_HAVE_GC


@pytest.mark.parametrize("cls", [Board, MoveGenerator])
def test_class_type_properties(cls):
    assert cls.__bases__ == (object,)
    assert cls.__doc__ == ""
    for name in ("__eq__", "__ne__", "__lt__", "__hash__", "__repr__", "__str__",
                 "__iter__", "__len__", "__reduce__", "__reduce_ex__", "__getstate__",
                 "__setstate__", "__copy__", "__deepcopy__", "__init__", "__dict__",
                 "__weakref__"):
        assert name not in cls.__dict__, name


def test_class_names():
    assert Board.__name__ == "Board" and Board.__qualname__ == "Board"
    assert MoveGenerator.__name__ == "MoveGenerator"
    assert MoveGenerator.__qualname__ == "MoveGenerator"


def test_board_text_signature():
    assert Board.__text_signature__ == '(fen="' + START + '")'
    sig = inspect.signature(Board)
    assert list(sig.parameters) == ["fen"]
    param = sig.parameters["fen"]
    assert param.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
    assert param.default == START


def test_move_generator_text_signature():
    assert MoveGenerator.__text_signature__ == "()"
    assert list(inspect.signature(MoveGenerator).parameters) == []


def test_board_method_table_order():
    public = [name for name in Board.__dict__ if not name.startswith("_")]
    assert public == ["bitboard_from_fen", "fen", "push", "pop", "bitboard", "turn",
                      "reflect", "copy"]
    assert [name for name in MoveGenerator.__dict__ if not name.startswith("_")] == []
    assert "__call__" in MoveGenerator.__dict__
    assert "__call__" not in Board.__dict__


@pytest.mark.parametrize("name, text_signature", [
    ("fen", "($self)"),
    ("push", "($self, chess_move)"),
    ("pop", "($self)"),
    ("bitboard", "($self)"),
    ("turn", "($self)"),
    ("reflect", "($self)"),
    ("copy", "($self)"),
])
def test_instance_method_docstrings(name, text_signature):
    method = getattr(Board, name)
    assert method.__text_signature__ == text_signature
    assert method.__doc__ in (None, "")
    bound = getattr(Board(), name)
    expected = ["chess_move"] if name == "push" else []
    params = inspect.signature(bound).parameters
    assert list(params) == expected
    for p in params.values():
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert p.default is inspect.Parameter.empty


def test_static_method_docstring():
    assert isinstance(Board.__dict__["bitboard_from_fen"], staticmethod)
    function = Board.bitboard_from_fen
    assert function.__text_signature__ == "(fen)"
    assert function.__doc__ in (None, "")
    params = inspect.signature(function).parameters
    assert list(params) == ["fen"]
    assert params["fen"].kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
    assert params["fen"].default is inspect.Parameter.empty


def test_bitboard_from_fen_on_class_and_instance():
    planes = Board.bitboard_from_fen(START)
    assert Board().bitboard_from_fen(START) == planes
    assert Board.bitboard_from_fen(fen=START) == planes


@pytest.mark.parametrize("cls", [Board, MoveGenerator])
def test_not_subclassable(cls):
    with pytest.raises(TypeError, match="^type '" + cls.__name__ + "' is not an acceptable base type$"):
        type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        class Sub(cls):
            pass


def test_instances_have_no_dict_no_weakref_no_new_attributes(generator):
    for obj in (Board(), generator):
        assert not hasattr(obj, "__dict__")
        with pytest.raises(TypeError):
            vars(obj)
        if CPYTHON:  # every object of a Python-level class can be weakly referenced on PyPy
            with pytest.raises(TypeError):
                weakref.ref(obj)
        with pytest.raises(AttributeError):
            obj.x = 1
        assert not hasattr(obj, "x")
        if CPYTHON:
            assert gc.is_tracked(obj) is False
    board = Board()
    with pytest.raises(AttributeError):
        board.fen = lambda: "x"
    with pytest.raises(AttributeError):
        board.push = None
    assert board.fen() == START


def test_identity_semantics():
    a, b = Board(), Board()
    assert a == a and a != b
    assert hash(a) == hash(a)
    assert len({a, b}) == 2


def test_constructors_accept_documented_forms(generator):
    assert Board().fen() == START
    assert Board(START).fen() == START
    assert Board(fen=START).fen() == START
    assert Board(fen=AFTER_E4).fen() == AFTER_E4
    assert isinstance(MoveGenerator(), MoveGenerator)
    assert callable(generator)
    board = Board()
    assert sorted(generator(board=board)) == sorted(generator(board))
    assert len(generator(board)) == 20
    assert board.fen() == START


def test_results_are_fresh_objects():
    board = Board()
    assert board.push("e2e4") is None
    assert board.pop() is None
    assert board.push(chess_move="e2e4") is None
    assert board.fen() == AFTER_E4
    assert board.pop() is None
    first, second = board.fen(), board.fen()
    assert type(first) is str and first == second == START


@pytest.mark.parametrize("call", [
    lambda b: b.fen(1),
    lambda b: b.fen(x=1),
    lambda b: b.pop(1),
    lambda b: b.bitboard(1),
    lambda b: b.turn(None),
    lambda b: b.reflect(1),
    lambda b: b.copy(b),
])
def test_no_argument_methods_reject_arguments(call):
    board = Board(AFTER_E4)
    with pytest.raises(TypeError):
        call(board)
    assert board.fen() == AFTER_E4


# ---------------------------------------------------------------- argument binding

# One binder serves every callable, so each rule is checked once per shape
# of parameter list: none (MoveGenerator()), one optional (Board()), one
# required (push, bitboard_from_fen, calling a generator) and several (the
# game functions).
BINDING_CASES = [
    # More positional arguments than parameters: the keywords are not looked at.
    (lambda g: MoveGenerator(1),
     "MoveGenerator.__new__() takes 0 positional arguments but 1 was given"),
    (lambda g: MoveGenerator(None, board=None),
     "MoveGenerator.__new__() takes 0 positional arguments but 1 was given"),
    (lambda g: Board("a", "b"),
     "Board.__new__() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda g: Board(1, 2, fen=3, zz=4),
     "Board.__new__() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda g: Board().push(1, 2, 3),
     "Board.push() takes 1 positional arguments but 3 were given"),
    (lambda g: Board.bitboard_from_fen(START, START),
     "Board.bitboard_from_fen() takes 1 positional arguments but 2 were given"),
    (lambda g: g(1, 2, board=3),
     "MoveGenerator.__call__() takes 1 positional arguments but 2 were given"),
    (lambda g: game.perft(g, Board(), 1, 2),
     "perft() takes 3 positional arguments but 4 were given"),
    # A keyword for a parameter already given.
    (lambda g: Board(None, fen=None),
     "Board.__new__() got multiple values for argument 'fen'"),
    (lambda g: Board(START, fen=START, move=1),
     "Board.__new__() got multiple values for argument 'fen'"),
    (lambda g: Board().push(1, chess_move=2),
     "Board.push() got multiple values for argument 'chess_move'"),
    (lambda g: g(Board(), board=Board()),
     "MoveGenerator.__call__() got multiple values for argument 'board'"),
    (lambda g: game.divide(g, Board(), 1, generator=g),
     "divide() got multiple values for argument 'generator'"),
    # A keyword that names no parameter: the first offending one, in the order given.
    (lambda g: MoveGenerator(board=Board()),
     "MoveGenerator.__new__() got an unexpected keyword argument 'board'"),
    (lambda g: Board(START, move=1, fen=START),
     "Board.__new__() got an unexpected keyword argument 'move'"),
    (lambda g: Board(fen=START, FEN=START),
     "Board.__new__() got an unexpected keyword argument 'FEN'"),
    (lambda g: Board(**{"fen": 1, "self": 2}),
     "Board.__new__() got an unexpected keyword argument 'self'"),
    (lambda g: Board().push(chess_move="e2e4", move=1),
     "Board.push() got an unexpected keyword argument 'move'"),
    (lambda g: Board.bitboard_from_fen(x=1, fen=START),
     "Board.bitboard_from_fen() got an unexpected keyword argument 'x'"),
    (lambda g: g(position=1, board=Board()),
     "MoveGenerator.__call__() got an unexpected keyword argument 'position'"),
    (lambda g: game.repetitions(board=Board(), count=3),
     "repetitions() got an unexpected keyword argument 'count'"),
    # A required parameter left out.
    (lambda g: Board().push(),
     "Board.push() missing 1 required positional argument: 'chess_move'"),
    (lambda g: Board().bitboard_from_fen(),
     "Board.bitboard_from_fen() missing 1 required positional argument: 'fen'"),
    (lambda g: g(),
     "MoveGenerator.__call__() missing 1 required positional argument: 'board'"),
    (lambda g: game.outcome(g),
     "outcome() missing 1 required positional argument: 'board'"),
    (lambda g: game.perft(g, depth=1),
     "perft() missing 1 required positional argument: 'board'"),
    (lambda g: game.divide(board=Board()),
     "divide() missing 2 required positional arguments: 'generator' and 'depth'"),
    (lambda g: game.perft(),
     "perft() missing 3 required positional arguments: 'generator', 'board', and 'depth'"),
]


@pytest.mark.parametrize("call, message", BINDING_CASES)
def test_argument_binding_messages(generator, call, message):
    with pytest.raises(TypeError) as info:
        call(generator)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    assert info.value.args == (message,)


# ---------------------------------------------------------------- argument types

TYPE_CASES = [
    (lambda g, b: Board(None),
     "argument 'fen': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda g, b: Board(fen=None),
     "argument 'fen': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda g, b: Board(42),
     "argument 'fen': 'int' object cannot be converted to 'PyString'"),
    (lambda g, b: Board(START.encode()),
     "argument 'fen': 'bytes' object cannot be converted to 'PyString'"),
    (lambda g, b: Board([START]),
     "argument 'fen': 'list' object cannot be converted to 'PyString'"),
    (lambda g, b: Board(_Outer.Inner()),
     "argument 'fen': '_Outer.Inner' object cannot be converted to 'PyString'"),
    (lambda g, b: Board.bitboard_from_fen(1.5),
     "argument 'fen': 'float' object cannot be converted to 'PyString'"),
    (lambda g, b: Board.bitboard_from_fen(fen=None),
     "argument 'fen': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda g, b: b.push(42),
     "argument 'chess_move': 'int' object cannot be converted to 'PyString'"),
    (lambda g, b: b.push(None),
     "argument 'chess_move': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda g, b: b.push(chess_move=b"e2e4"),
     "argument 'chess_move': 'bytes' object cannot be converted to 'PyString'"),
    (lambda g, b: b.push(bytearray(b"e2e4")),
     "argument 'chess_move': 'bytearray' object cannot be converted to 'PyString'"),
    (lambda g, b: b.push(b),
     "argument 'chess_move': 'Board' object cannot be converted to 'PyString'"),
    (lambda g, b: g(1),
     "argument 'board': 'int' object cannot be converted to 'Board'"),
    (lambda g, b: g(board=None),
     "argument 'board': 'NoneType' object cannot be converted to 'Board'"),
    (lambda g, b: g(START),
     "argument 'board': 'str' object cannot be converted to 'Board'"),
    (lambda g, b: g(g),
     "argument 'board': 'MoveGenerator' object cannot be converted to 'Board'"),
    (lambda g, b: g(_Outer.Inner()),
     "argument 'board': '_Outer.Inner' object cannot be converted to 'Board'"),
    (lambda g, b: g(Board),
     "argument 'board': 'type' object cannot be converted to 'Board'"),
]


@pytest.mark.parametrize("call, message", TYPE_CASES)
def test_argument_type_messages(generator, call, message):
    board = Board(AFTER_E4)
    with pytest.raises(TypeError) as info:
        call(generator, board)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    assert info.value.args == (message,)
    # nothing was changed and no borrow stays taken
    assert board.fen() == AFTER_E4
    board.push("e7e5")
    board.pop()
    assert board.fen() == AFTER_E4
    assert len(generator(board)) == 20


def test_binding_is_checked_before_argument_types(generator):
    with pytest.raises(TypeError, match=r"^Board\.__new__\(\) takes from 0 to 1 "):
        Board(None, None)
    with pytest.raises(TypeError, match=r"^Board\.push\(\) got multiple values"):
        Board().push(None, chess_move=None)
    with pytest.raises(TypeError, match=r"^MoveGenerator\.__call__\(\) got an unexpected"):
        generator(1, x=1)


def test_str_subclasses_are_accepted(generator):
    board = Board(_Text(START))
    assert board.fen() == START
    board = Board(fen=_Text(AFTER_E4))
    assert board.fen() == AFTER_E4
    board = Board()
    board.push(_Text("e2e4"))
    assert board.fen() == AFTER_E4
    board.push(chess_move=_Text("e7e5"))
    assert board.fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"
    assert Board.bitboard_from_fen(_Text(START)) == Board.bitboard_from_fen(START)


def test_unencodable_text_passes_interpreter_error_through():
    board = Board()
    for call in (lambda: Board("\ud800"), lambda: board.push("e2e\udfff"),
                 lambda: Board.bitboard_from_fen("8/8\udc00")):
        with pytest.raises(UnicodeEncodeError) as info:
            call()
        assert not str(info.value).startswith("argument")
    assert board.fen() == START
    board.push("e2e4")
    assert board.fen() == AFTER_E4


# ---------------------------------------------------------------- receiver

_MODULE_RECEIVER = "'{}' object cannot be converted to '{}'"


@pytest.mark.parametrize("call, type_name, cls_name", [
    (lambda g: Board.fen(42), "int", "Board"),
    (lambda g: Board.pop(42), "int", "Board"),
    (lambda g: Board.push(42, "e2e4"), "int", "Board"),
    (lambda g: Board.push("e2e4", "e2e4"), "str", "Board"),
    (lambda g: Board.turn(42), "int", "Board"),
    (lambda g: Board.bitboard(42), "int", "Board"),
    (lambda g: Board.reflect(None), "NoneType", "Board"),
    (lambda g: Board.copy(g), "MoveGenerator", "Board"),
    (lambda g: Board.fen(_Outer.Inner()), "_Outer.Inner", "Board"),
    (lambda g: MoveGenerator.__call__(42, Board()), "int", "MoveGenerator"),
    (lambda g: MoveGenerator.__call__(Board(), Board()), "Board", "MoveGenerator"),
])
def test_receiver_of_wrong_class(generator, call, type_name, cls_name):
    with pytest.raises(TypeError) as info:
        call(generator)
    assert type(info.value) is TypeError
    message = str(info.value)
    # Either the module's own check or the interpreter's descriptor check,
    # which may run first, rejects the receiver.
    assert (message == _MODULE_RECEIVER.format(type_name, cls_name)
            or message.startswith("descriptor ")), message


@pytest.mark.parametrize("call", [
    lambda: Board.__new__(int),
    lambda: Board.__new__(MoveGenerator),
    lambda: MoveGenerator.__new__(Board),
])
def test_new_of_wrong_class(call):
    with pytest.raises(TypeError):
        call()


def test_unbound_calls_with_right_receiver(generator):
    board = Board()
    Board.push(board, "e2e4")
    assert Board.fen(board) == AFTER_E4
    assert len(MoveGenerator.__call__(generator, board)) == 20
    Board.pop(board)
    assert Board.fen(board) == START


# ---------------------------------------------------------------- internal failure


def test_panic_exception_class():
    assert PanicException.__name__ == "PanicException"
    assert PanicException.__module__ == "pyo3_runtime"
    assert PanicException.__bases__ == (BaseException,)
    assert not issubclass(PanicException, Exception)
    assert isinstance(PanicException.__doc__, str) and PanicException.__doc__.strip()
    assert PanicException.__name__ not in vars(mirelo_chess)


def test_panic_exception_is_one_class_for_every_failure():
    failures = [
        lambda: Board("x"),
        lambda: Board().pop(),
        lambda: Board().push("e3e4"),
        lambda: Board().push("i2e4"),
        lambda: Board(""),
        lambda: Board.bitboard_from_fen("8/8/8/8/8/8/8/7X"),
    ]
    for call in failures:
        with pytest.raises(BaseException) as info:
            call()
        assert type(info.value) is PanicException


@pytest.mark.parametrize("call, message", [
    (lambda b: Board("x"), "Invalid piece type"),
    (lambda b: Board("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQXBNR w KQkq -"),
     "Invalid piece type"),
    (lambda b: Board.bitboard_from_fen("8/8/8/8/8/8/8/7X"), "Invalid piece type"),
    (lambda b: b.push("i2e4"), "assertion failed: from_file <= 7"),
    (lambda b: b.push("e9e4"), "assertion failed: from_rank <= 7"),
    (lambda b: b.push("e2z4"), "assertion failed: to_file <= 7"),
    (lambda b: b.push("e2e9"), "assertion failed: to_rank <= 7"),
])
def test_panic_exception_instance(call, message, capfd):
    board = Board(AFTER_E4)
    caught_by = None
    try:
        try:
            call(board)
        except Exception:
            caught_by = "Exception"
    except BaseException as e:  # noqa: B036
        caught_by = "BaseException"
        error = e
    assert caught_by == "BaseException"
    assert type(error) is PanicException
    assert str(error) == message
    assert error.args == (message,)
    # One line: the message and a short location, no build path or signature.
    diagnostic = capfd.readouterr().err
    assert re.fullmatch(r"mirelo_chess: internal failure at [\w.-]+\.\w+:[1-9][0-9]*: " + re.escape(message) + "\n",
                        diagnostic), diagnostic
    # no borrow stays taken
    assert board.fen() == AFTER_E4
    board.push("e7e5")
    board.pop()
    assert board.fen() == AFTER_E4


def test_value_errors_of_the_core():
    with pytest.raises(ValueError) as info:
        Board("8/8/8/8/8/8/8/8 x - -")
    assert type(info.value) is ValueError
    assert info.value.args == ("Invalid fen: Invalid side-to-move",)
    board = Board()
    with pytest.raises(ValueError) as info:
        board.push("e7e8x")
    assert type(info.value) is ValueError
    assert info.value.args == ("Invalid chess move: Unsupported promotion type for e7e8x",)
    board.push("e2e4")
    assert board.fen() == AFTER_E4


def test_every_failure_leaves_the_board_usable(generator):
    """After each kind of exception from a call on a board, the next calls on
    that board (shared and exclusive) succeed."""
    board = Board()
    failing = [
        lambda: board.push(),
        lambda: board.push(1),
        lambda: board.push("e2e4", "e2e4"),
        lambda: board.push(x=1),
        lambda: board.push("e2e"),
        lambda: board.push("e9e4"),
        lambda: board.push("e3e4"),
        lambda: board.push("\ud800\ud800"),
        lambda: board.pop(),
        lambda: board.fen(1),
        lambda: Board.fen(1),
        lambda: Board.push(1, "e2e4"),
        lambda: generator(board, board),
        lambda: generator(board=1),
    ]
    for call in failing:
        with pytest.raises(BaseException) as info:
            call()
        assert isinstance(info.value, (TypeError, ValueError, PanicException))
        assert board.fen() == START
        board.push("e2e4")
        assert board.fen() == AFTER_E4
        assert len(generator(board)) == 20
        board.pop()
        assert board.fen() == START
