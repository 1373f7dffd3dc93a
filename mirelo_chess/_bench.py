"""Speed of mirelo_chess from Python, against python-chess and native floors.

Run it as ``python -m mirelo_chess bench [--quick] [--only GROUPS]``.

Every row times one workload of this library and, when available, the same
workload done by a baseline:

* python-chess (PyPI ``chess``), when importable: the ratio is its time
  divided by ours (how many times faster we are);
* a "floor", when the optional ``_mirelo_floor`` helper extension is
  importable (``bench/run.py`` in the source tree builds it): the cheapest
  native code that produces the same Python objects.  The ratio is our time
  divided by the floor's (how far above the interpreter's own cost we are);
* nothing (generator construction, memory per board): the value alone.

Only timings and ratios are reported here; the development targets and the
verdicts against them live in ``bench/run.py`` of the source tree.

Timings use ``time.perf_counter``; each is the best (minimum) of several
rounds of many calls, which keeps ratios stable on a small, busy machine.
Only the standard library is imported here at import time.
"""

from __future__ import annotations

import argparse
import gc
import importlib
import os
import platform
import subprocess
import sys
import time
import timeit

# Perft through the Python API: the deepest depth of each position with at
# most this many nodes (python-chess then needs about 0.2-3 s per position);
# --quick goes one ply less.
PY_PERFT_NODES = 1_000_000

PUSH_MOVE = "e2e4"
HISTORY = ("e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6")

GROUPS = ("construct", "fen", "push", "generate", "perft", "bitboard", "copy", "movegen", "game", "arrays", "svg",
          "memory")

PYPY = platform.python_implementation() == "PyPy"

# PyPy compiles a loop once it has run a while: every job first runs untimed
# for this long, so that both sides are measured with warm JIT code.
WARM_UP_SECONDS = 0.3 if PYPY else 0.0

BATCH = 1024  # boards or texts per batch call of the arrays rows

# Boards held at once by the memory row.
MEMORY_BOARDS = 100_000


# --------------------------------------------------------------------------
# Rows and the table


class Row:
    """One line of the table.

    kind "faster": ratio = baseline / mirelo (how many times faster we are).
    kind "floor":  ratio = mirelo / floor (how far above the floor we are).
    kind "bytes":  mirelo and baseline are sizes in bytes; ratio = baseline / mirelo.
    kind "info":   no baseline; mirelo time only.
    """

    __slots__ = ("workload", "mirelo", "baseline", "base_time", "kind", "note", "error")

    def __init__(self, workload, mirelo, baseline=None, base_time=None, kind="info", note="", error=None):
        self.workload = workload
        self.mirelo = mirelo
        self.baseline = baseline
        self.base_time = base_time
        self.kind = kind
        self.note = note
        self.error = error

    @property
    def ratio(self):
        if self.mirelo is None or self.base_time is None:
            return None
        if self.kind == "faster":
            return self.base_time / self.mirelo if self.mirelo > 0 else float("inf")
        if self.kind == "floor":
            return self.mirelo / self.base_time if self.base_time > 0 else float("inf")
        if self.kind == "bytes":
            return self.base_time / self.mirelo if self.mirelo > 0 else float("inf")
        return None

    def value_text(self, value):
        return fmt_bytes(value) if self.kind == "bytes" else fmt_time(value)

    def ratio_text(self):
        ratio = self.ratio
        if ratio is None:
            return "-"
        if self.kind == "faster":
            return f"{ratio:.3g}x faster" if ratio >= 1 else f"{ratio:.3g}x"
        if self.kind == "bytes":
            return f"{ratio:.3g}x smaller" if ratio >= 1 else f"{ratio:.3g}x"
        return f"{ratio:.3g}x floor"


def fmt_time(seconds):
    if seconds is None:
        return "-"
    if seconds >= 1:
        return f"{seconds:.3f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3f} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.3f} us"
    return f"{seconds * 1e9:.1f} ns"


def fmt_bytes(size):
    return "-" if size is None else f"{size:,.0f} B"


def format_table(rows, columns=()):
    """The rows as an aligned text table, notes and errors listed after it.

    columns: extra (header, function of a row giving its text) pairs.
    """
    header = ("workload", "mirelo", "baseline", "baseline time", "ratio") + tuple(h for h, _ in columns)
    lines = []
    for r in rows:
        lines.append((r.workload, r.value_text(r.mirelo), r.baseline or "-", r.value_text(r.base_time),
                      r.ratio_text()) + tuple(cell(r) for _, cell in columns))
    widths = [max(len(h), *(len(l[i]) for l in lines)) if lines else len(h)
              for i, h in enumerate(header)]
    right = {1, 3, 4}

    def fmt_line(cells):
        out = []
        for i, c in enumerate(cells):
            out.append(c.rjust(widths[i]) if i in right else c.ljust(widths[i]))
        return "  ".join(out).rstrip()

    text = [fmt_line(header), fmt_line(["-" * w for w in widths])]
    text += [fmt_line(l) for l in lines]
    notes = [f"  {r.workload}: {r.note}" for r in rows if r.note and not r.error]
    if notes:
        text += ["", "notes:"] + notes
    errors = [r for r in rows if r.error]
    if not rows:
        text += ["", "no rows measured"]
    if errors:
        text += ["", f"ERRORS ({len(errors)}):"]
        for r in errors:
            text.append(f"  {r.workload}: {r.error}")
    return "\n".join(text)


# --------------------------------------------------------------------------
# Timing


class Job:
    """A statement to time: ``setup`` runs once per round and the names it
    makes are locals of the timing loop, so bound methods fetched there cost
    one local load per call.  ``unroll`` repeats the statement inside the loop
    body so the loop's own cost is small; ``per`` divides the time further
    (a statement that does ``per`` operations)."""

    def __init__(self, stmt, setup="pass", ns=None, unroll=1, per=1):
        body = "\n".join([stmt] * unroll)
        self.timer = timeit.Timer(body, setup, timer=time.perf_counter, globals=ns or {})
        self.unroll = unroll
        self.per = per
        self.number = 1


class Timer:
    """Best-of-rounds time per call.

    The jobs compared in one row are calibrated to about ``round_time`` per
    round each and then run in alternation, round after round, and the
    fastest round of each is kept: a busy machine slows both sides of a
    comparison alike, and short rounds often catch it quiet.
    """

    def __init__(self, round_time=0.02, rounds=15):
        self.round_time = round_time
        self.rounds = rounds

    def _calibrate(self, job):
        number = 1
        while True:
            elapsed = job.timer.timeit(number)
            if elapsed >= self.round_time / 4 or number >= 1 << 30:
                break
            number *= 8 if elapsed < self.round_time / 50 else 2
        job.number = max(1, int(number * self.round_time / max(elapsed, 1e-9)))

    @staticmethod
    def _warm_up(job):
        deadline = time.perf_counter() + WARM_UP_SECONDS
        number = 1
        while time.perf_counter() < deadline:
            job.timer.timeit(number)
            number = min(number * 2, 1024)

    def compare(self, *jobs):
        """Seconds per operation for each job (None stays None)."""
        live = [j for j in jobs if j is not None]
        for job in live:
            self._warm_up(job)
            self._calibrate(job)
        best = {id(j): float("inf") for j in live}
        for _ in range(self.rounds):
            for job in live:
                best[id(job)] = min(best[id(job)], job.timer.timeit(job.number))
        return [None if j is None else best[id(j)] / (j.number * j.unroll * j.per) for j in jobs]

    def per_call(self, stmt, setup="pass", ns=None, unroll=1, per=1):
        return self.compare(Job(stmt, setup, ns, unroll, per))[0]

    @staticmethod
    def once(*calls):
        """Best time of single calls: each of ``calls`` is (func, rounds) or
        None, and the funcs take turns, round after round, until each has run
        its rounds (at least one). Returns (seconds, last result) per call,
        (None, None) for None."""
        best = [None] * len(calls)
        result = [None] * len(calls)
        was_enabled = gc.isenabled()
        gc.disable()
        try:
            for r in range(max([1] + [rounds for _, rounds in filter(None, calls)])):
                for i, call in enumerate(calls):
                    if call is None or (r > 0 and r >= call[1]):
                        continue
                    t0 = time.perf_counter()
                    value = call[0]()
                    elapsed = time.perf_counter() - t0
                    result[i] = value  # the previous result is freed outside the timing
                    best[i] = elapsed if best[i] is None else min(best[i], elapsed)
        finally:
            if was_enabled:
                gc.enable()
        return list(zip(best, result))


# --------------------------------------------------------------------------
# python-chess idioms for the 12x64 planes


def _chess_plane_idioms(chess):
    """Ways to build the same 12 lists of 64 bools from a python-chess board."""
    order = [(pt, c) for c in (chess.WHITE, chess.BLACK) for pt in chess.PIECE_TYPES]
    sq_bits = [1 << s for s in range(64)]

    def masks(b):
        black, white = b.occupied_co  # indexed by colour: BLACK is 0
        kinds = (b.pawns, b.knights, b.bishops, b.rooks, b.queens, b.kings)
        return [k & white for k in kinds] + [k & black for k in kinds]

    def pieces_mask_shift(b):
        return [[bool(m >> s & 1) for s in range(64)] for m in [b.pieces_mask(pt, c) for pt, c in order]]

    def pieces_mask_bits(b):
        return [[bool(m & x) for x in sq_bits] for m in [b.pieces_mask(pt, c) for pt, c in order]]

    def occupied_bits(b):
        return [[m & x != 0 for x in sq_bits] for m in masks(b)]

    def occupied_format(b):
        return [[c == "1" for c in format(m, "064b")[::-1]] for m in masks(b)]

    t8 = [tuple(bool(v >> i & 1) for i in range(8)) for v in range(256)]

    def occupied_byte_table(b):
        return [[*t8[m & 255], *t8[m >> 8 & 255], *t8[m >> 16 & 255], *t8[m >> 24 & 255],
                 *t8[m >> 32 & 255], *t8[m >> 40 & 255], *t8[m >> 48 & 255], *t8[m >> 56]]
                for m in masks(b)]

    t16 = [t8[v & 255] + t8[v >> 8] for v in range(65536)]

    def occupied_word_table(b):
        return [[*t16[m & 65535], *t16[m >> 16 & 65535], *t16[m >> 32 & 65535], *t16[m >> 48]]
                for m in masks(b)]

    return {
        "pieces_mask+shift": pieces_mask_shift,
        "pieces_mask+bit list": pieces_mask_bits,
        "occupied_co+bit list": occupied_bits,
        "occupied_co+format": occupied_format,
        "occupied_co+byte table": occupied_byte_table,
        "occupied_co+16-bit table": occupied_word_table,
    }


# --------------------------------------------------------------------------
# Workloads


def _random_game(mc, generator, game, plies):
    """A board after `plies` seeded random legal moves from the start, the
    first seed whose game is still going on."""
    import random
    for seed in range(100):
        rng = random.Random(seed)
        board = mc.Board()
        for _ in range(plies):
            moves = generator(board)
            if not moves:
                break
            board.push(rng.choice(moves))
        else:
            if game.outcome(generator, board) is None:
                return board
    raise RuntimeError(f"no seeded game of {plies} plies is still going on")


def _playouts(mc, game, games):
    """Plies of seeded random games played to their end, the loop a
    reinforcement-learning user writes."""
    import random
    choice = random.Random(0).choice
    generator = mc.MoveGenerator()
    outcome = game.outcome
    plies = 0
    for _ in range(games):
        board = mc.Board()
        while outcome(generator, board) is None:
            board.push(choice(generator(board)))
            plies += 1
    return plies


def _chess_playouts(chess, games):
    """The same loop with python-chess (whose outcome() also ends a game by
    the 75-move rule)."""
    import random
    choice = random.Random(0).choice
    plies = 0
    for _ in range(games):
        board = chess.Board()
        while board.outcome() is None:
            board.push(choice(list(board.legal_moves)))
            plies += 1
    return plies


# Run in a fresh interpreter, so that memory freed by an earlier workload is
# not reused: prints the growth of the resident set per board while it holds
# n boards built from the given FENs in turn.
_MEMORY_PROBE = r"""
import gc, os, sys
path, which, n, fens = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
sys.path.insert(0, path)
if which == "mirelo":
    from mirelo_chess import Board
else:
    from chess import Board

def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

Board(fens[0])  # what the first board builds once is not a cost per board
gc.collect()
gc.disable()
boards = [None] * n
before = resident()
for i in range(n):
    boards[i] = Board(fens[i % len(fens)])
print((resident() - before) / n)
"""


def _memory_per_board(which, path, fens, n):
    """Bytes of resident memory per board, or None where that cannot be read."""
    if not os.path.exists("/proc/self/statm"):
        return None
    proc = subprocess.run([sys.executable, "-c", _MEMORY_PROBE, path, which, str(n), *fens],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise RuntimeError(f"memory probe of {which} failed: {proc.stderr.strip()[-500:]}")
    return float(proc.stdout.split()[-1])


def _import_mirelo():
    import mirelo_chess
    if not hasattr(mirelo_chess, "Board"):
        raise ImportError("mirelo_chess has no Board: the native module is not built/installed")
    return mirelo_chess


def _import_chess():
    try:
        import chess
    except ImportError:
        return None
    return chess


def _import_numpy():
    try:
        import numpy
    except ImportError:
        return None
    return numpy


def _chess_numpy_planes(chess, np):
    """python-chess's fastest NumPy idiom for the (12, 8, 8) planes: the
    twelve piece masks into a uint64 array, unpacked bit by bit."""
    order = [(pt, c) for c in (chess.WHITE, chess.BLACK) for pt in chess.PIECE_TYPES]
    little = np.dtype("<u8")  # byte k of a word holds squares 8k..8k+7

    def planes(board):
        words = np.array([board.pieces_mask(pt, c) for pt, c in order], dtype=little)
        return np.unpackbits(words.view(np.uint8), bitorder="little").reshape(12, 8, 8)

    return planes


def _import_floor():
    try:
        return importlib.import_module("_mirelo_floor")
    except ImportError:
        return None


def run(floor=None, quick=False, only=None, chess_module=None, use_chess=True, log=None):
    """Run the workloads; return a list of Row.

    floor: the ``_mirelo_floor`` module or None; quick: shorter rounds and
    shallower perft; only: iterable of group names (see GROUPS).
    """
    mc = _import_mirelo()
    chess = chess_module if chess_module is not None else (_import_chess() if use_chess else None)
    groups = set(GROUPS if not only else only)
    unknown = groups - set(GROUPS)
    if unknown:
        raise ValueError(f"unknown workload group(s): {', '.join(sorted(unknown))}")
    timer = Timer(round_time=0.001, rounds=40) if quick else Timer(round_time=0.002, rounds=100)
    rows = []

    def say(msg):
        if log is not None:
            print(msg, file=log, flush=True)

    Board = mc.Board
    from mirelo_chess._perft import BENCHMARK_POSITIONS, chess_perft, perft

    fens = [p.fen for p in BENCHMARK_POSITIONS]

    # 1. Board(fen) and fen()
    if "construct" in groups:
        say("construct: Board(fen)")
        names = [f"f{i}" for i in range(len(fens))]
        setup = f"B = Board; {', '.join(names)} = fens"
        stmt = "; ".join(f"B({n})" for n in names)
        t, tb = timer.compare(
            Job(stmt, setup, {"Board": Board, "fens": fens}, unroll=2, per=len(fens)),
            Job(stmt, setup, {"Board": chess.Board, "fens": fens}, unroll=2, per=len(fens)) if chess else None)
        rows.append(Row("Board(fen)", t, "chess.Board(fen)", tb, "faster",
                        note=f"mean over the {len(fens)} test positions")
                    if chess else Row("Board(fen)", t))

    if "fen" in groups:
        say("fen: board.fen()")
        names = [f"f{i}" for i in range(len(fens))]
        setup = f"{', '.join(names)} = [b.fen for b in boards]"
        stmt = "; ".join(f"{n}()" for n in names)
        mine = [Board(f) for f in fens]
        error = None
        theirs = None
        if chess:
            theirs = [chess.Board(f) for f in fens]
            for b, c in zip(mine, theirs):
                if b.fen() != c.epd():
                    error = f"fen() gave {b.fen()!r}, expected {c.epd()!r}"
        t, tb = timer.compare(
            Job(stmt, setup, {"boards": mine}, unroll=2, per=len(fens)),
            Job(stmt, setup, {"boards": theirs}, unroll=2, per=len(fens)) if chess else None)
        rows.append(Row("board.fen()", t, "chess.Board.fen()", tb, "faster", error=error)
                    if chess else Row("board.fen()", t, error=error))

    # 2. push + pop
    if "push" in groups:
        say("push: push(text) + pop()")
        b = Board()
        jobs = [Job("push(m); pop()", "push = b.push; pop = b.pop", {"b": b, "m": PUSH_MOVE}, unroll=10)]
        jobs.append(Job("push(uci(m)); pop()", "push = b.push; pop = b.pop; uci = Move.from_uci",
                        {"b": chess.Board(), "m": PUSH_MOVE, "Move": chess.Move}, unroll=10)
                    if chess else None)
        jobs.append(Job("one(m); none()", "one = f.onearg; none = f.noargs",
                        {"f": floor, "m": PUSH_MOVE}, unroll=10) if floor is not None else None)
        t, tb, tf = timer.compare(*jobs)
        error = None if b.fen() == fens[0] else f"board changed by push/pop: {b.fen()!r}"
        name = f"push({PUSH_MOVE!r}) + pop()"
        if chess:
            rows.append(Row(name, t, "chess push(Move.from_uci)+pop", tb, "faster", error=error))
        else:
            rows.append(Row(name, t, error=error))
        if floor is not None:
            rows.append(Row(name, t, "floor: 2 empty native calls", tf, "floor"))

    # 3. legal move lists
    if "generate" in groups:
        generator = mc.MoveGenerator()
        for pname, fen in ((p.name, p.fen) for p in BENCHMARK_POSITIONS):
            say(f"generate: {pname}")
            b = Board(fen)
            moves = generator(b)
            error = None
            name = f"generator(board) {pname}"
            cb = None
            if chess:
                cb = chess.Board(fen)
                expected = [m.uci() for m in cb.legal_moves]
                if sorted(moves) != sorted(expected):
                    error = (f"moves differ from python-chess: extra {sorted(set(moves) - set(expected))},"
                             f" missing {sorted(set(expected) - set(moves))}")
            t, tb, tf = timer.compare(
                Job("g(b)", "pass", {"g": generator, "b": b}, unroll=4),
                Job("[m.uci() for m in b.legal_moves]", "pass", {"b": cb}, unroll=2) if chess else None,
                Job("s(l)", "pass", {"s": floor.str_list, "l": moves}, unroll=4) if floor is not None else None)
            if chess:
                rows.append(Row(name, t, "[m.uci() for m in legal_moves]", tb, "faster",
                                note=f"{len(moves)} moves", error=error))
            else:
                rows.append(Row(name, t, note=f"{len(moves)} moves", error=error))
            if floor is not None:
                rows.append(Row(name, t, "floor: new list of new str", tf, "floor"))

    # 4. perft through the Python API
    if "perft" in groups:
        generator = mc.MoveGenerator()
        mine_rounds, their_rounds = (1, 1) if quick else (3, 2)
        for position in BENCHMARK_POSITIONS:
            pname, fen = position.name, position.fen
            depth = position.depth_within(PY_PERFT_NODES) - (1 if quick else 0)
            say(f"perft: {pname} depth {depth}")
            b = Board(fen)
            cb = chess.Board(fen) if chess else None
            if PYPY and depth > 1:  # warm JIT code on both sides, one ply shallower
                perft(generator, b, depth - 1)
                if cb is not None:
                    chess_perft(cb, depth - 1)
            (t, nodes), (tb, cnodes) = Timer.once(
                (lambda: perft(generator, b, depth), mine_rounds),
                (lambda: chess_perft(cb, depth), their_rounds) if cb is not None else None)
            expected = position.perft[depth - 1]
            error = None if nodes == expected else f"perft gave {nodes} nodes, expected {expected}"
            if b.fen() != fen:
                error = f"board not restored after perft: {b.fen()!r}"
            name = f"perft {pname} d{depth}"
            note = f"{nodes} nodes, {nodes / t / 1e6:.2f} M nodes/s"
            if chess:
                note += f" (python-chess {cnodes / tb / 1e6:.3f} M nodes/s)"
                rows.append(Row(name, t, "python-chess perft", tb, "faster", note=note, error=error))
            else:
                rows.append(Row(name, t, note=note, error=error))

    # 5. planes
    if "bitboard" in groups:
        say("bitboard: bitboard()")
        b = Board()
        planes = b.bitboard()
        error = None
        if floor is not None and [[bool(x) for x in p] for p in floor.bool_planes()] != planes:
            error = "bitboard() of the start position differs from the floor's planes"
        mine = Job("bb()", "bb = b.bitboard", {"b": b}, unroll=4)
        floor_job = Job("bp()", "bp = f.bool_planes", {"f": floor}, unroll=4) if floor is not None else None
        if chess:
            cb = chess.Board()
            idioms = _chess_plane_idioms(chess)
            reference = idioms["pieces_mask+shift"](cb)
            if planes != reference:
                error = "bitboard() differs from the python-chess placement"
            # Pick the fastest idiom first, then time it against ours.
            candidates = {n: f for n, f in idioms.items() if f(cb) == reference}
            quick_timer = Timer(round_time=timer.round_time, rounds=max(3, timer.rounds // 4))
            times = quick_timer.compare(*(Job("f(b)", "pass", {"f": f, "b": cb}, unroll=2)
                                          for f in candidates.values()))
            for n, ti in zip(candidates, times):
                say(f"  python-chess idiom {n}: {fmt_time(ti)}")
            best_name = min(zip(times, candidates))[1]
            t, tb, tf = timer.compare(mine, Job("f(b)", "pass", {"f": candidates[best_name], "b": cb}, unroll=2),
                                      floor_job)
            rows.append(Row("bitboard()", t, f"chess idiom: {best_name}", tb, "faster",
                            note="fastest of: " + ", ".join(idioms), error=error))
        else:
            t, tf = timer.compare(mine, floor_job)
            rows.append(Row("bitboard()", t, error=error))
        if floor is not None:
            rows.append(Row("bitboard()", t, "floor: 12 lists of 64 bools", tf, "floor"))

    # 6. copy with history
    if "copy" in groups:
        say("copy: copy() with 6-ply history")
        b = Board()
        for m in HISTORY:
            b.push(m)
        dup = b.copy()
        error = None
        for _ in HISTORY:
            dup.pop()
        if dup.fen() != fens[0]:
            error = f"copy() history does not pop back to the start: {dup.fen()!r}"
        name = "copy() with 6-ply history"
        cb = None
        if chess:
            cb = chess.Board()
            for m in HISTORY:
                cb.push_uci(m)
            if b.fen() != cb.epd():
                error = f"after {' '.join(HISTORY)}: fen() {b.fen()!r}, expected {cb.epd()!r}"
        t, tb = timer.compare(Job("c()", "c = b.copy", {"b": b}, unroll=4),
                              Job("c()", "c = b.copy", {"b": cb}, unroll=4) if chess else None)
        rows.append(Row(name, t, "chess.Board.copy()", tb, "faster", error=error)
                    if chess else Row(name, t, error=error))

    # 7. generator construction
    if "movegen" in groups:
        say("movegen: MoveGenerator()")
        count = 40 if quick else 200
        [(best, _)] = Timer.once((mc.MoveGenerator, count))
        rows.append(Row("MoveGenerator()", best, note=f"best of {count} constructions"))

    # 8. game state: check and key against the cheapest board method, the
    # outcome of a long game against one move list
    if "game" in groups:
        say("game: is_check, zobrist_key, outcome")
        game = importlib.import_module("mirelo_chess.game")
        generator = mc.MoveGenerator()
        b = Board(fens[1])
        turn = Job("t()", "t = b.turn", {"b": b}, unroll=10)
        for name in ("is_check", "zobrist_key"):
            t, tb = timer.compare(Job("f(b)", "pass", {"f": getattr(game, name), "b": b}, unroll=10), turn)
            rows.append(Row(f"{name}(board)", t, "board.turn()", tb, "floor", note="kiwipete"))
        long_game = _random_game(mc, generator, game, 100)
        error = None if game.outcome(generator, long_game) is None else "the 100-ply game has ended"
        t, tb = timer.compare(Job("o(g, b)", "o = game.outcome", {"game": game, "g": generator, "b": long_game},
                                  unroll=4),
                              Job("g(b)", "pass", {"g": generator, "b": long_game}, unroll=4))
        rows.append(Row("outcome(generator, board)", t, "generator(board)", tb, "floor",
                        note="100-ply history", error=error))

        say("game: random playouts")
        games, chess_games = (20, 2) if quick else (50, 5)
        if PYPY:  # warm JIT code on both sides
            _playouts(mc, game, games)
            if chess:
                _chess_playouts(chess, chess_games)
        (t, plies), (tb, chess_plies) = Timer.once(
            (lambda: _playouts(mc, game, games), 2 if quick else 5),
            (lambda: _chess_playouts(chess, chess_games), 1 if quick else 3) if chess else None)
        t /= plies
        note = f"{games} games, {plies} plies, {1 / t / 1e3:.0f} k plies/s"
        rows.append(Row("random playout, per ply", t, note=note))
        if chess:
            tb /= chess_plies
            rows.append(Row("random playout, per ply", t, "python-chess playout", tb, "faster",
                            note=f"python-chess {1 / tb / 1e3:.1f} k plies/s"))

    # 9. NumPy arrays for neural networks
    if "arrays" in groups:
        rows += _array_rows(mc, chess, timer, say)

    # 10. a picture with everything the drawing can add
    if "svg" in groups:
        say("svg: svg.board(board) with last move, check and arrows")
        svg = importlib.import_module("mirelo_chess.svg")
        b = Board(fens[1])
        ns = {"svg": svg, "b": b, "m": "e2a6", "c": "e1", "a": ("e5f7", "d5e6")}
        picture = svg.board(b, lastmove="e2a6", check="e1", arrows=("e5f7", "d5e6"))
        error = None
        if picture.count('class="piece ') != sum(map(sum, b.bitboard())) or picture.count('class="arrow"') != 2:
            error = "the picture does not show every piece and arrow"
        t = timer.per_call("d(b, lastmove=m, check=c, arrows=a)", "d = svg.board", ns, unroll=2)
        rows.append(Row("svg.board(board)", t, note="kiwipete, last move, check, two arrows", error=error))

    # 11. resident memory per board
    if "memory" in groups:
        n = MEMORY_BOARDS // 10 if quick else MEMORY_BOARDS
        say(f"memory: {n} boards")
        path = os.path.dirname(os.path.dirname(os.path.abspath(mc.__file__)))
        mine = _memory_per_board("mirelo", path, fens, n)
        theirs = _memory_per_board("chess", path, fens, n) if chess else None
        note = f"resident set growth / {n} boards held, built from the test positions in turn"
        if mine is None:
            note = "resident set size not readable here (/proc/self/statm)"
        rows.append(Row("memory per Board(fen)", mine, "chess.Board(fen)" if theirs else None, theirs,
                        "bytes", note=note))

    return rows


def _array_rows(mc, chess, timer, say):
    from mirelo_chess._perft import BENCHMARK_POSITIONS
    np = _import_numpy()
    if np is None:
        return [Row("mirelo_chess.arrays", None, error=None, note="NumPy not installed: rows skipped")]
    from mirelo_chess import arrays

    rows = []
    fen = next(p.fen for p in BENCHMARK_POSITIONS if p.name == "kiwipete")
    board = mc.Board(fen)
    ns = {"a": arrays, "b": board, "np": np}
    expected = np.array(board.bitboard(), dtype=np.uint8).reshape(12, 8, 8)
    error = None if (arrays.planes(board) == expected).all() else "planes(board) differs from bitboard()"
    idiom = _chess_numpy_planes(chess, np) if chess else None
    cb = chess.Board(fen) if chess else None
    if idiom is not None and not (idiom(cb) == expected).all():
        error = "the python-chess idiom differs from bitboard()"

    say("arrays: planes(board)")
    t, tb, told = timer.compare(
        Job("p(b)", "p = a.planes", ns, unroll=4),
        Job("f(b)", "pass", {"f": idiom, "b": cb}, unroll=2) if chess else None,
        Job("np.array(bb(), dtype=f32).reshape(12, 8, 8)", "bb = b.bitboard; f32 = np.float32", ns, unroll=2))
    if chess:
        rows.append(Row("planes(board) uint8", t, "chess idiom: pieces_mask+unpackbits", tb, "faster",
                        error=error))
    rows.append(Row("planes(board) uint8 vs README idiom", t, "np.array(bitboard()) float32", told, "faster",
                    error=error))

    say(f"arrays: planes_batch of {BATCH} boards, float32")
    boards = [mc.Board(p.fen) for p in BENCHMARK_POSITIONS] * (BATCH // len(BENCHMARK_POSITIONS) + 1)
    boards = boards[:BATCH]
    batch = arrays.planes_batch(boards, dtype=np.float32)
    batch_error = None
    if not all((batch[i] == np.array(b.bitboard()).reshape(12, 8, 8)).all() for i, b in enumerate(boards)):
        batch_error = "planes_batch differs from bitboard()"
    t = timer.compare(Job("pb(bs, dtype=f32)", "pb = a.planes_batch; f32 = np.float32",
                          {"a": arrays, "bs": boards, "np": np}, per=BATCH))[0]
    rows.append(Row(f"planes_batch({BATCH}) float32, per board", t, "chess idiom: pieces_mask+unpackbits", tb,
                    "faster", error=batch_error) if chess else Row("planes_batch", t, error=batch_error))

    say(f"arrays: planes_from_fens of {BATCH} texts")
    texts = [p.fen for p in BENCHMARK_POSITIONS] * (BATCH // len(BENCHMARK_POSITIONS) + 1)
    texts = texts[:BATCH]
    fens_error = None if (arrays.planes_from_fens(texts) == arrays.planes_batch(boards)).all() else \
        "planes_from_fens differs from planes_batch"
    t, tb = timer.compare(
        Job("pf(ts)", "pf = a.planes_from_fens", {"a": arrays, "ts": texts}, per=BATCH),
        Job("for t in ts: f(B(t))", "B = chess.Board", {"f": idiom, "ts": texts, "chess": chess}, per=BATCH)
        if chess else None)
    rows.append(Row(f"planes_from_fens({BATCH}), per text", t, "chess.Board(fen) + idiom", tb, "faster",
                    error=fens_error) if chess else Row("planes_from_fens", t, error=fens_error))

    generator = mc.MoveGenerator()
    for pname, pfen in ((p.name, p.fen) for p in BENCHMARK_POSITIONS):
        say(f"arrays: legal_mask {pname}")
        b = mc.Board(pfen)
        mask = arrays.legal_mask(generator, b)
        mask_error = None
        if sorted(np.flatnonzero(mask).tolist()) != sorted(arrays.move_index(m) for m in generator(b)):
            mask_error = "legal_mask differs from the generator's moves"
        t, tg = timer.compare(Job("lm(g, b)", "lm = a.legal_mask", {"a": arrays, "g": generator, "b": b}, unroll=4),
                              Job("g(b)", "pass", {"g": generator, "b": b}, unroll=4))
        rows.append(Row(f"legal_mask {pname}", t, "generator(board)", tg, "floor", error=mask_error))
    return rows


# --------------------------------------------------------------------------
# Command line


def add_run_arguments(parser):
    """--quick and --only, shared with bench/run.py of the source tree."""
    parser.add_argument("--quick", action="store_true",
                        help="shorter rounds and one ply less of perft")
    parser.add_argument("--only", metavar="GROUPS",
                        help="comma-separated subset of the Python workloads: " + ", ".join(GROUPS))


def build_parser(prog="python -m mirelo_chess bench"):
    parser = argparse.ArgumentParser(prog=prog, description=(
        "Time mirelo_chess workloads against python-chess (if installed) and "
        "against native floors (if the _mirelo_floor helper is importable)."))
    add_run_arguments(parser)
    parser.add_argument("--no-chess", action="store_true",
                        help="do not compare against python-chess even if it is installed")
    parser.add_argument("-v", "--verbose", action="store_true", help="progress on stderr")
    return parser


def parse_only(text):
    if not text:
        return None
    return [g.strip() for g in text.split(",") if g.strip()]


def main(argv=None, floor=None):
    """Run the benchmark and print its table; returns the exit status.

    floor: the ``_mirelo_floor`` module; when None it is imported if present.
    The status is 0 unless a workload failed or gave a wrong result.
    """
    args = build_parser().parse_args(argv)
    if floor is None:
        floor = _import_floor()
    chess = None if args.no_chess else _import_chess()
    try:
        rows = run(floor=floor, quick=args.quick, only=parse_only(args.only),
                   chess_module=chess, use_chess=not args.no_chess,
                   log=sys.stderr if args.verbose else None)
    except (ImportError, ValueError) as exc:
        print(f"bench: {exc}", file=sys.stderr)
        return 2
    if chess is None:
        print("python-chess is not installed: mirelo times only"
              if not args.no_chess else "python-chess comparison disabled")
    if floor is None:
        print("floor module not available: floor comparisons skipped (bench/run.py builds it)")
    print(format_table(rows))
    return 1 if any(r.error for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
