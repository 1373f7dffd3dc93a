"""Robustness of the extension under long and hostile use: no native memory
or reference leaks over many mixed calls (failing ones included), very long
move histories, boards and a generator shared between threads, borrow
conflicts provoked from Python code running inside a call, and the cases
found by fuzzing."""

import contextlib
import ctypes
import gc
import os
import platform
import random
import sys
import threading
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from mirelo_chess import Board, MoveGenerator, game
from support import KIWIPETE, POSITIONS, START, PanicException, history_fens, raised_by, sneaky_argument
PROMOTIONS = POSITIONS["pos4"].fen
KNIGHT_SHUFFLE = ("g1f3", "g8f6", "f3g1", "f6g8")
# PyPy keeps no reference counts of its own: there the leak checks watch the
# memory held alone.
CPYTHON = platform.python_implementation() == "CPython"


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


_mallinfo2 = getattr(ctypes.CDLL(None), "mallinfo2", None)  # glibc 2.33 and later
if _mallinfo2 is not None:
    _mallinfo2.restype = _MallInfo2


def held_memory():
    """Bytes handed out by the C allocator (the core's boards and tables,
    PyPy's heap) and blocks handed out by CPython's object allocator, as
    exact counts. The resident size would not do: memory freed by earlier
    tests is reused without growing it, so a leak can hide in it for long,
    and the heap settles by steps that depend on what else runs."""
    info = _mallinfo2()
    return info.uordblks + info.hblkhd, sys.getallocatedblocks() if CPYTHON else 0


def under_address_sanitizer():
    """The sanitizer's allocator replaces the C allocator, whose counts then
    stay still (the sanitizer's own checks cover that run)."""
    with open("/proc/self/maps") as f:
        return "libasan" in f.read()


@contextlib.contextmanager
def quiet_stderr():
    """Every internal failure writes a diagnostic line to the process's
    standard error; hundreds of thousands of them are only noise here."""
    sys.stderr.flush()
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(devnull, 2)
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)


# ------------------------------------------------------------ leaks


class _Qualname(type):
    """A metaclass whose __qualname__ runs Python code while the binding
    builds a conversion error."""

    def __getattribute__(cls, name):
        if name == "__qualname__":
            return "Odd"
        return super().__getattribute__(name)


class _Odd(metaclass=_Qualname):
    pass


def _expect(exc_type, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except BaseException as e:  # noqa: B036 - PanicException derives from BaseException
        if type(e) is not exc_type:
            raise AssertionError(f"{call!r}{args!r} raised {type(e).__name__}: {e}, expected {exc_type.__name__}")
        return
    raise AssertionError(f"{call!r}{args!r} did not raise {exc_type.__name__}")


def mixed_calls(generator, rounds):
    """`rounds` rounds of 51 calls each, 20 successful and 31 failing ones,
    through every entry point. Returns the number of calls made."""
    board = Board()
    busy = Board(KIWIPETE)
    for i in range(rounds):
        board.push("e2e4")
        board.push(chess_move="e7e5")
        board.fen()
        board.turn()
        board.bitboard()
        board.pop()
        board.pop()
        generator(board)
        generator(board=busy)
        copy = busy.copy()
        copy.push("e1g1")
        copy.reflect()
        copy.fen()
        Board.bitboard_from_fen(PROMOTIONS)
        busy.bitboard_from_fen(fen=START)
        Board(KIWIPETE).fen()
        Board(fen=PROMOTIONS).turn()
        Board()
        # Bad FEN texts.
        _expect(ValueError, Board, "8/8/8/8/8/8/8/8 x - -")
        _expect(ValueError, Board, "8/8/8/8/8/8/8/8 w KX -")
        _expect(PanicException, Board, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq -")
        _expect(PanicException, Board, "8/8/8/8/8/8/8/8 w")
        _expect(PanicException, Board, "")
        _expect(PanicException, Board.bitboard_from_fen, " \t")
        _expect(PanicException, Board.bitboard_from_fen, "8/8/x")
        # Bad moves.
        _expect(ValueError, board.push, "e2e")
        _expect(ValueError, board.push, "e7e8k")
        _expect(ValueError, board.push, "e1e2")
        _expect(PanicException, board.push, "i2e4")
        _expect(PanicException, board.push, "e2z4")
        _expect(PanicException, board.push, "e3e4")
        _expect(PanicException, board.push, "e2\u00e9")
        _expect(UnicodeEncodeError, board.push, "\ud800e2e4")
        _expect(PanicException, board.pop)
        # Wrong types and argument binding.
        _expect(TypeError, board.push, 42)
        _expect(TypeError, board.push, _Odd())
        _expect(TypeError, board.push)
        _expect(TypeError, board.push, "e2e4", "e7e5")
        _expect(TypeError, board.push, "e2e4", chess_move="e2e4")
        _expect(TypeError, board.push, move="e2e4")
        _expect(TypeError, Board, None)
        _expect(TypeError, Board, START, START)
        _expect(TypeError, Board.bitboard_from_fen, b"8/8")
        _expect(TypeError, Board.turn, 42)
        _expect(TypeError, board.fen, 1)
        _expect(TypeError, generator, 42)
        _expect(TypeError, generator)
        _expect(TypeError, generator, board, board)
        _expect(TypeError, MoveGenerator, 1)
        if i % 500 == 0:
            MoveGenerator()(busy)
    assert board.fen() == START
    return rounds * 51


def reference_counts():
    watched = (None, True, False, Board, MoveGenerator, PanicException, str, list, ValueError, TypeError,
               RuntimeError, UnicodeEncodeError, _Odd, _Qualname)
    gc.collect()
    return {repr(obj): sys.getrefcount(obj) for obj in watched}


# A leak keeps memory on every call, so it grows the memory held in every
# chunk of calls by about the same amount. Caches and allocator pools grow it
# by steps, in a few chunks only. So the warm-up lasts until two chunks in a
# row keep no more than a leak could hide in, and the measure is the median
# growth of nine chunks after that: steps in four of them do not move it.
SETTLING_CHUNKS = 40  # at most; a leak never settles, and then the median shows it
MEASURED_CHUNKS = 9

# Per call, at most: a leak of one object per call keeps at least 16 bytes
# (the least either allocator hands out) and one block.
LEAK_BYTES = 2
LEAK_BLOCKS = 0.01


def growth_per_call(workload, calls, bytes_bound=LEAK_BYTES, blocks_bound=LEAK_BLOCKS):
    """The median growth of the memory held over a chunk of `workload()`
    (`calls` calls) once it has settled: (bytes, blocks) per call, and the
    counts measured."""

    def chunk():
        workload()
        gc.collect()
        return held_memory()

    def quiet(before, after):
        return after[0] - before[0] <= bytes_bound * calls and after[1] - before[1] <= blocks_bound * calls

    held = [chunk()]
    for _ in range(SETTLING_CHUNKS):
        held.append(chunk())
        if len(held) >= 3 and quiet(*held[-3:-1]) and quiet(*held[-2:]):
            break
    held = held[-1:] + [chunk() for _ in range(MEASURED_CHUNKS)]
    pairs = list(zip(held, held[1:]))
    growth = [sorted(after[i] - before[i] for before, after in pairs)[MEASURED_CHUNKS // 2] / calls for i in (0, 1)]
    return growth, held


def assert_nothing_kept(workload, calls, bytes_bound=LEAK_BYTES, blocks_bound=LEAK_BLOCKS):
    if _mallinfo2 is None or under_address_sanitizer():
        workload()
        return
    (kept_bytes, kept_blocks), held = growth_per_call(workload, calls, bytes_bound, blocks_bound)
    assert kept_bytes <= bytes_bound and kept_blocks <= blocks_bound, \
        f"{kept_bytes:.2f} bytes and {kept_blocks:.3f} blocks kept per call: {held}"


def check_flat(generator, rounds):
    """`rounds` rounds of mixed calls per chunk keep no memory and no references."""
    with quiet_stderr():
        mixed_calls(generator, 20)  # the interpreter's caches take their references
        counts = reference_counts() if CPYTHON else {}
        assert_nothing_kept(lambda: mixed_calls(generator, rounds), rounds * 51)
        after = reference_counts() if CPYTHON else {}
    for name, count in counts.items():
        # A reference leaked per call would add tens of thousands. The
        # singletons move a little with the interpreter's own caches.
        slack = 200 if name in ("None", "True", "False") else 8
        assert abs(after[name] - count) <= slack, f"reference count of {name} went from {count} to {after[name]}"


def test_mixed_calls_do_not_leak(generator):
    check_flat(generator, 250)  # 12 750 calls a chunk


@pytest.mark.slow
def test_a_million_mixed_calls_do_not_leak(generator):
    check_flat(generator, 2_500)


def test_generators_share_the_attack_tables():
    board = Board()
    assert len(MoveGenerator()(board)) == 20  # the process's tables exist from here on
    gc.collect()
    before, _ = held_memory()
    generators = [MoveGenerator() for _ in range(1000)]
    assert all(len(generator(board)) == 20 for generator in generators)
    held, _ = held_memory()
    if not under_address_sanitizer():  # tables of their own would take megabytes each
        assert held - before < 2**20


def test_generators_are_freed():
    board = Board()

    def construct():
        for _ in range(20):
            assert len(MoveGenerator()(board)) == 20

    # A generator kept would keep its native record (its tables too, while it
    # has its own) and, on CPython, one block.
    assert_nothing_kept(construct, 20, bytes_bound=2**10, blocks_bound=0.5)


# ------------------------------------------------------------ random call sequences

# Texts that reach deep into the FEN and move parsers: their pieces glued
# together, white space, non-ASCII characters, lone surrogates, zero bytes.
TEXT_PIECES = ["8", "/", "rnbqkbnr", "pppppppp", "PPPPPPPP", "RNBQKBNR", "4P3", "k", "K", "P", " ", "w", "b",
               "KQkq", "-", "e3", "x", "e2e4", "e7e5", "g1f3", "e7e8q", "a7a8", "i9", "\u00e9", "\u3000", "\x00",
               "\ud800", "\t"]
TEXTS = st.lists(st.sampled_from(TEXT_PIECES), max_size=10).map("".join) | st.text(max_size=8)
ARGUMENTS = TEXTS | st.sampled_from([None, 42, 1.5, b"e2e4", Board])
BAD_BINDINGS = [
    lambda board, generator: board.push(),
    lambda board, generator: board.push("e2e4", "e7e5"),
    lambda board, generator: board.push(move="e2e4"),
    lambda board, generator: generator(board, board),
    lambda board, generator: Board.fen(generator),
]
CALLS = st.one_of(
    st.tuples(st.sampled_from(["push", "push by keyword", "new", "planes"]), ARGUMENTS),
    st.tuples(st.just("legal"), st.integers(0, 255)),
    st.tuples(st.sampled_from(["pop", "reflect", "copy", "read"]), st.none()),
    st.tuples(st.just("bad binding"), st.sampled_from(BAD_BINDINGS)),
)
ALLOWED = (TypeError, ValueError, UnicodeEncodeError, PanicException)


def run_call(board, generator, name, argument):
    """Runs one call; returns the board to go on with."""
    if name == "push":
        board.push(argument)
    elif name == "push by keyword":
        board.push(chess_move=argument)
    elif name == "new":
        return Board(argument)
    elif name == "planes":
        planes = Board.bitboard_from_fen(argument)
        assert [len(p) for p in planes] == [64] * 12
    elif name == "legal":
        moves = generator(board)
        if moves:
            board.push(moves[argument % len(moves)])
    elif name == "pop":
        board.pop()
    elif name == "reflect":
        board.reflect()
    elif name == "copy":
        return board.copy()
    elif name == "read":
        board.fen(), board.turn(), board.bitboard(), generator(board)
    else:
        argument(board, generator)
    return board


# No deadline and no health check on speed: a busy machine says nothing of the library.
@settings(max_examples=200, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(calls=st.lists(CALLS, max_size=25))
def test_random_call_sequences(generator, calls):
    """Random texts and call sequences: only the documented exception types
    come out, and a call that fails changes neither the position nor the
    history."""
    board = Board()
    with quiet_stderr():
        for name, argument in calls:
            before = board.fen(), history_fens(board)
            try:
                board = run_call(board, generator, name, argument)
            except BaseException as e:  # noqa: B036
                assert type(e) in ALLOWED, f"{name}({argument!r}) raised {type(e).__name__}: {e}"
                assert (board.fen(), history_fens(board)) == before, f"{name}({argument!r}) changed the board"


# ------------------------------------------------------------ long histories


def long_history(moves):
    assert moves % 4 == 0  # whole knight cycles: back on the start position
    board = Board()
    for i in range(moves):
        board.push(KNIGHT_SHUFFLE[i % 4])
    assert board.fen() == START
    copy = board.copy()
    # The copy is independent: a move on it leaves the original alone.
    copy.push("e2e4")
    assert board.fen() == START
    assert copy.fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
    copy.pop()
    # As many moves again outgrow whatever room the copy came with (on PyPy
    # its history lives in memory the face gives it).
    for i in range(moves):
        copy.push(KNIGHT_SHUFFLE[i % 4])
    for i in range(moves - 1, -1, -1):
        board.pop()
        if i % 4 == 0:
            assert board.fen() == START
    assert board.fen() == START
    _expect(PanicException, board.pop)
    # The copy still holds the whole history, the original's and its own.
    for i in range(2 * moves - 1, -1, -1):
        copy.pop()
        if i % 4 == 0:
            assert copy.fen() == START
    _expect(PanicException, copy.pop)


def test_million_move_history_pops_back():
    long_history(1_000_000)


# ------------------------------------------------------------ borrows


INSIDE_PUSH = [
    ("fen", lambda board, generator: board.fen(), "Already mutably borrowed"),
    ("turn", lambda board, generator: board.turn(), "Already mutably borrowed"),
    ("bitboard", lambda board, generator: board.bitboard(), "Already mutably borrowed"),
    ("copy", lambda board, generator: board.copy(), "Already mutably borrowed"),
    ("push", lambda board, generator: board.push("e2e4"), "Already borrowed"),
    ("pop", lambda board, generator: board.pop(), "Already borrowed"),
    ("reflect", lambda board, generator: board.reflect(), "Already borrowed"),
    ("generator", lambda board, generator: generator(board), "Already borrowed"),
    ("is_check", lambda board, generator: game.is_check(board), "Already mutably borrowed"),
    ("repetitions", lambda board, generator: game.repetitions(board), "Already mutably borrowed"),
    ("zobrist_key", lambda board, generator: game.zobrist_key(board), "Already mutably borrowed"),
    ("outcome", lambda board, generator: game.outcome(generator, board), "Already borrowed"),
    ("perft", lambda board, generator: game.perft(generator, board, 1), "Already borrowed"),
    # the borrow is refused before the depth is looked at
    ("divide with a bad depth", lambda board, generator: game.divide(generator, board, -1), "Already borrowed"),
]


@pytest.mark.parametrize("name, call, message", INSIDE_PUSH, ids=[c[0] for c in INSIDE_PUSH])
def test_call_back_into_a_board_held_by_push(generator, name, call, message):
    board = Board()
    board.push("d2d4")
    seen = []

    def inner():
        seen.append(raised_by(call, board, generator))

    with pytest.raises(TypeError) as info:
        board.push(sneaky_argument(inner))
    assert str(info.value) == "argument 'chess_move': 'Sneaky' object cannot be converted to 'PyString'"
    assert len(seen) == 1
    assert type(seen[0]) is RuntimeError and str(seen[0]) == message
    # Nothing changed and nothing stays borrowed.
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3"
    board.pop()
    assert board.fen() == START
    assert len(generator(board)) == 20


def test_other_boards_are_free_while_one_is_held(generator):
    held, other = Board(), Board(KIWIPETE)
    castled = Board(KIWIPETE)
    castled.push("e1g1")
    expected = generator(castled)
    results = []

    def inner():
        other.push("e1g1")
        results.append(generator(other))
        results.append(other.fen())
        other.pop()
        results.append(other.fen())
        results.append(Board(held.fen()).fen())

    with pytest.raises(TypeError):
        held.push(sneaky_argument(inner))
    assert results[0] == expected and len(expected) > 30
    assert results[1] == castled.fen()
    assert results[2] == KIWIPETE


@pytest.mark.parametrize("name, call, message", INSIDE_PUSH, ids=[c[0] for c in INSIDE_PUSH])
def test_another_thread_waits_for_the_borrow(generator, name, call, message):
    """Thread A holds the board inside push (in the type-name read) until
    thread B has started its call on the same board; B waits for A's call to
    end instead of meeting the borrow, then runs as on a free board."""
    board = Board()
    expected = raised_by(call, Board(), generator)  # the call alone, on a board like this one
    inside, calling = threading.Event(), threading.Event()
    order, seen, errors = [], [], []

    def hold():
        inside.set()
        assert calling.wait(10)
        time.sleep(0.05)  # B is inside its call by now, or soon: either way it must not see the borrow
        order.append("A")

    def holder():
        try:
            board.push(sneaky_argument(hold))
        except TypeError:
            pass
        except BaseException as e:  # noqa: B036
            errors.append(e)

    def other():
        assert inside.wait(10)
        calling.set()
        seen.append(raised_by(call, board, generator))
        order.append("B")

    threads = [threading.Thread(target=holder), threading.Thread(target=other)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(20)
    assert not any(t.is_alive() for t in threads)
    assert errors == [] and order == ["A", "B"]
    assert type(seen[0]) is type(expected) and str(seen[0]) == str(expected)


# ------------------------------------------------------------ threads


def hammer(boards, generator, seconds, seed, outcome):
    """Random calls on shared boards for a while; every push that succeeded
    is popped again by this thread, so the history stays balanced. No call
    may meet another thread's borrow."""
    rng = random.Random(seed)
    pending = []  # boards this thread pushed on and still has to pop
    deadline = time.monotonic() + seconds
    calls = 0
    try:
        while time.monotonic() < deadline:
            board = rng.choice(boards)
            op = rng.randrange(9)
            calls += 1
            try:
                if op == 0:
                    board.push(rng.choice(("g1f3", "b1c3", "g8f6", "b8c6", "a2a3", "h7h6")))
                    pending.append(board)
                elif op == 1 and pending:
                    pending.pop(rng.randrange(len(pending))).pop()
                elif op == 2:
                    moves = generator(board)
                    assert all(type(m) is str for m in moves)
                elif op == 3:
                    board.copy().fen()
                elif op == 4:
                    board.fen()
                    game.is_check(board)
                elif op == 5:
                    assert len(board.bitboard()) == 12
                elif op == 6:
                    # Holds the board inside push for a moment: the other
                    # threads wait meanwhile.
                    try:
                        board.push(sneaky_argument(lambda: time.sleep(0.0005)))
                    except TypeError:
                        pass
                elif op == 7:
                    # A push that fails leaves nothing to pop.
                    board.push("e3e4")
                    raise AssertionError("push from the empty e3 succeeded")
                else:
                    Board.bitboard_from_fen(START)
            except PanicException as e:
                # From an empty square, or a piece already moved away by
                # another thread.
                assert op in (0, 7) and str(e).startswith("No piece to move on"), repr(e)
            except ValueError as e:
                assert op == 0 and "Destination holds a piece of the moving side" in str(e), str(e)
        while pending:
            pending.pop().pop()
        outcome.append(("ok", calls))
    except BaseException as e:  # noqa: B036
        outcome.append(("error", calls, e))


def run_threads(*targets):
    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=target) for target in targets]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
    finally:
        sys.setswitchinterval(old_interval)
    assert not any(t.is_alive() for t in threads)


def test_threads_share_boards_and_a_generator(generator):
    boards = [Board(), Board(), Board(KIWIPETE)]
    starts = [b.fen() for b in boards]
    outcome = []
    with quiet_stderr():
        run_threads(*(lambda seed=seed: hammer(boards, generator, 2.0, seed, outcome) for seed in (1, 2, 3, 4)))
    assert [o[0] for o in outcome] == ["ok"] * 4, outcome
    # Balanced pushes and pops bring every board back to its start, with an
    # empty history.
    for board, start in zip(boards, starts):
        assert board.fen() == start
        _expect(PanicException, board.pop)


def test_readers_see_whole_moves_only(generator):
    """One thread plays and takes back moves on a board that two others read:
    every read sees a position before or after a whole move, never a borrow."""
    board = Board()
    line = ["e2e4", "e7e5", "g1f3", "b8c6"]
    fens = [START]
    for move in line:
        board.push(move)
        fens.append(board.fen())
    for _ in line:
        board.pop()
    moves = {fen: generator(Board(fen)) for fen in fens}
    stop = threading.Event()
    problems = []

    def writer():
        try:
            for _ in range(3000):
                for move in line:
                    board.push(move)
                for _ in line:
                    board.pop()
        except BaseException as e:  # noqa: B036
            problems.append(e)
        finally:
            stop.set()

    def reader():
        try:
            while not stop.is_set():
                fen = board.fen()
                if fen not in moves:
                    problems.append(fen)
                seen = generator(board)
                if seen not in moves.values():
                    problems.append(seen)
                board.bitboard()
        except BaseException as e:  # noqa: B036
            problems.append(e)

    run_threads(writer, reader, reader)
    assert problems == []
    assert board.fen() == START


def test_threads_grow_one_history():
    """Four threads push on one board, each its own knight to and fro: the
    history grows under all of them at once and takes every move back."""
    start = "n6n/8/8/8/8/8/8/N6N w - -"
    board = Board(start)
    paths = [("a1b3", "b3a1"), ("h1g3", "g3h1"), ("a8b6", "b6a8"), ("h8g6", "g6h8")]
    problems = []

    def shuffle(path):
        try:
            for i in range(3000):
                board.push(path[i % 2])
        except BaseException as e:  # noqa: B036
            problems.append(e)

    run_threads(*(lambda path=path: shuffle(path) for path in paths))
    assert problems == []
    assert board.fen() == start
    for _ in range(4 * 3000):
        board.pop()
    assert board.fen() == start
    _expect(PanicException, board.pop)


# ------------------------------------------------------------ found by fuzzing


def squares_held_twice(board):
    planes = board.bitboard()
    return [square for square in range(64) if sum(plane[square] for plane in planes) > 1]


CASTLING_ONTO_A_PIECE = [
    ("4k3/8/8/8/8/8/8/4KB1R w K -", "e1g1"),  # own bishop on f1
    ("4k3/8/8/8/8/8/8/R2QK3 w Q -", "e1c1"),  # own queen on d1
    ("4k3/8/8/8/8/8/8/4Kn1R w K -", "e1g1"),  # black knight on f1
    ("r2qk3/8/8/8/8/8/8/4K3 b q -", "e8c8"),  # own queen on d8
]


@pytest.mark.parametrize("fen, move", CASTLING_ONTO_A_PIECE)
def test_castling_never_puts_two_pieces_on_one_square(fen, move):
    """Typed castling with a piece on the rook's destination next to the
    king: refused, or played without leaving a square held twice."""
    board = Board(fen)
    try:
        board.push(move)
    except ValueError:
        assert board.fen() == fen
        return
    assert squares_held_twice(board) == []
    board.pop()
    assert board.fen() == fen


def test_generator_survives_a_square_held_twice(generator):
    """A white pawn and a black rook both on h8 (the board field counts 127
    squares, which wrap). Pseudo-legal generation lists the rook's moves;
    making one finds the pawn first, which has no promotion piece."""
    board = Board("9999999P9999999r b - -")
    assert squares_held_twice(board) == [63]
    generator(board)  # no PanicException
    assert board.fen() == "7P/8/8/8/8/8/8/8 b - -"
    assert squares_held_twice(board) == [63]


EN_PASSANT_FLAGS = [
    "4k3/8/3N4/3pP3/8/8/8/4K3 w - d6",  # own knight on the target square
    "4k3/8/3n4/3pP3/8/8/8/4K3 w - d6",  # enemy knight on the target square
    "4k3/8/8/8/3pP3/4n3/8/4K3 b - e3",  # own knight on the target square, black to move
]


@pytest.mark.parametrize("fen", EN_PASSANT_FLAGS)
def test_every_generated_move_is_accepted_by_push(generator, fen):
    """Pseudo-legal generation takes the en-passant flag alone, without
    looking at the target square; the legal list must still hold only
    moves that push accepts."""
    board = Board(fen)
    for move in generator(board):
        board.push(move)
        board.pop()
        assert board.fen() == fen
