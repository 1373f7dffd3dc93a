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
* an absolute limit (generator construction, memory per board).

Timings use ``time.perf_counter``; each is the best (minimum) of several
rounds of many calls, which keeps ratios stable on a small, busy machine.
Only the standard library is imported here at import time.
"""

from __future__ import annotations

import argparse
import gc
import importlib
import os
import subprocess
import sys
import time
import timeit

# name, FEN (four fields: this library keeps no move counters)
POSITIONS = (
    ("start", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"),
    ("kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"),
    ("pos3", "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -"),
    ("pos4", "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -"),
    ("pos5", "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -"),
    ("pos6", "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -"),
)

# Published perft counts, depth 1, 2, ...
PERFT_COUNTS = {
    "start": (20, 400, 8902, 197281, 4865609, 119060324),
    "kiwipete": (48, 2039, 97862, 4085603, 193690690),
    "pos3": (14, 191, 2812, 43238, 674624, 11030083, 178633661),
    "pos4": (6, 264, 9467, 422333, 15833292, 706045033),
    "pos5": (44, 1486, 62379, 2103487, 89941194),
    "pos6": (46, 2079, 89890, 3894594, 164075551),
}

# Perft through the Python API: depths chosen so python-chess needs about
# 0.2-3 s per position (--quick: one ply less).
PY_PERFT_DEPTHS = {"start": 4, "kiwipete": 3, "pos3": 5, "pos4": 4, "pos5": 3, "pos6": 3}

PUSH_MOVE = "e2e4"
HISTORY = ("e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6")

# Boards held at once by the memory row.
MEMORY_BOARDS = 100_000

GROUPS = ("construct", "fen", "push", "generate", "perft", "bitboard", "copy", "movegen", "memory")


# --------------------------------------------------------------------------
# Rows and the table


class Row:
    """One line of the table.

    kind "faster": ratio = baseline / mirelo, passes when >= target.
    kind "floor":  ratio = mirelo / floor, passes when <= target.
    kind "limit":  no baseline; passes when mirelo <= target seconds.
    kind "bytes":  mirelo and baseline are sizes in bytes; ratio = baseline /
                   mirelo; passes when mirelo <= target bytes.
    kind "info":   baseline missing; mirelo time only.
    """

    __slots__ = ("workload", "mirelo", "baseline", "base_time", "kind", "target", "note", "error")

    def __init__(self, workload, mirelo, baseline=None, base_time=None, kind="info",
                 target=None, note="", error=None):
        self.workload = workload
        self.mirelo = mirelo
        self.baseline = baseline
        self.base_time = base_time
        self.kind = kind
        self.target = target
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

    @property
    def passed(self):
        if self.error:
            return False
        if self.kind in ("limit", "bytes"):
            return None if self.mirelo is None else self.mirelo <= self.target
        ratio = self.ratio
        if ratio is None or self.target is None:
            return None
        return ratio >= self.target if self.kind == "faster" else ratio <= self.target

    def target_text(self):
        if self.kind == "faster":
            return f">= {_num(self.target)}x faster"
        if self.kind == "floor":
            return f"<= {_num(self.target)}x floor"
        if self.kind == "limit":
            return f"< {fmt_time(self.target)}"
        if self.kind == "bytes":
            return f"<= {fmt_bytes(self.target)}"
        return "-"

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

    def result_text(self):
        if self.error:
            return "ERROR"
        passed = self.passed
        return "-" if passed is None else ("pass" if passed else "MISS")


def _num(x):
    return f"{x:g}"


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


def format_table(rows):
    """The rows as an aligned text table, misses and errors listed after it."""
    header = ("workload", "mirelo", "baseline", "baseline time", "ratio", "target", "result")
    lines = []
    for r in rows:
        lines.append((r.workload, r.value_text(r.mirelo), r.baseline or "-", r.value_text(r.base_time),
                      r.ratio_text(), r.target_text(), r.result_text()))
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
    misses = [r for r in rows if r.passed is False and not r.error]
    errors = [r for r in rows if r.error]
    text.append("")
    if not rows:
        text.append("no rows measured")
    elif misses:
        text.append(f"MISSED TARGETS ({len(misses)}):")
        for r in misses:
            text.append(f"  {r.workload}: {r.ratio_text() if r.ratio is not None else r.value_text(r.mirelo)}"
                        f" (target {r.target_text()})")
    else:
        text.append("all measured targets met")
    if errors:
        text.append(f"ERRORS ({len(errors)}):")
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

    def compare(self, *jobs):
        """Seconds per operation for each job (None stays None)."""
        live = [j for j in jobs if j is not None]
        for job in live:
            self._calibrate(job)
        best = {id(j): float("inf") for j in live}
        for _ in range(self.rounds):
            for job in live:
                best[id(job)] = min(best[id(job)], job.timer.timeit(job.number))
        return [None if j is None else best[id(j)] / (j.number * j.unroll * j.per) for j in jobs]

    def per_call(self, stmt, setup="pass", ns=None, unroll=1, per=1):
        return self.compare(Job(stmt, setup, ns, unroll, per))[0]

    @staticmethod
    def once(func, rounds):
        """Best of ``rounds`` single calls of func(); returns (seconds, result)."""
        best = None
        result = None
        was_enabled = gc.isenabled()
        gc.disable()
        try:
            for _ in range(max(1, rounds)):
                t0 = time.perf_counter()
                result = func()
                elapsed = time.perf_counter() - t0
                best = elapsed if best is None else min(best, elapsed)
        finally:
            if was_enabled:
                gc.enable()
        return best, result


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


def _python_perft(generator, board, depth):
    moves = generator(board)
    if depth <= 1:
        return len(moves) if depth == 1 else 1
    push = board.push
    pop = board.pop
    nodes = 0
    for move in moves:
        push(move)
        nodes += _python_perft(generator, board, depth - 1)
        pop()
    return nodes


def _chess_perft(board, depth):
    if depth <= 1:
        return board.legal_moves.count() if depth == 1 else 1
    push = board.push
    pop = board.pop
    nodes = 0
    for move in board.legal_moves:
        push(move)
        nodes += _chess_perft(board, depth - 1)
        pop()
    return nodes


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
    fens = [fen for _, fen in POSITIONS]

    # 1. Board(fen) and fen()
    if "construct" in groups:
        say("construct: Board(fen)")
        names = [f"f{i}" for i in range(len(fens))]
        setup = f"B = Board; {', '.join(names)} = fens"
        stmt = "; ".join(f"B({n})" for n in names)
        per = len(fens)
        t, tb = timer.compare(
            Job(stmt, setup, {"Board": Board, "fens": fens}, unroll=2, per=per),
            Job(stmt, setup, {"Board": chess.Board, "fens": fens}, unroll=2, per=per) if chess else None)
        rows.append(Row("Board(fen)", t, "chess.Board(fen)", tb, "faster", 40,
                        note=f"mean over the {per} test positions")
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
        rows.append(Row("board.fen()", t, "chess.Board.fen()", tb, "faster", 40, error=error)
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
            rows.append(Row(name, t, "chess push(Move.from_uci)+pop", tb, "faster", 15, error=error))
        else:
            rows.append(Row(name, t, error=error))
        if floor is not None:
            rows.append(Row(name, t, "floor: 2 empty native calls", tf, "floor", 3))

    # 3. legal move lists
    if "generate" in groups:
        generator = mc.MoveGenerator()
        for pname, fen in POSITIONS:
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
                rows.append(Row(name, t, "[m.uci() for m in legal_moves]", tb, "faster", 20,
                                note=f"{len(moves)} moves", error=error))
            else:
                rows.append(Row(name, t, note=f"{len(moves)} moves", error=error))
            if floor is not None:
                rows.append(Row(name, t, "floor: new list of new str", tf, "floor", 1.5))

    # 4. perft through the Python API
    if "perft" in groups:
        generator = mc.MoveGenerator()
        mine_rounds, their_rounds = (1, 1) if quick else (3, 2)
        for pname, fen in POSITIONS:
            depth = PY_PERFT_DEPTHS[pname] - (1 if quick else 0)
            say(f"perft: {pname} depth {depth}")
            b = Board(fen)
            cb = chess.Board(fen) if chess else None
            t = tb = None
            nodes = cnodes = None
            for r in range(max(mine_rounds, their_rounds)):  # alternate the two sides
                if r < mine_rounds:
                    ti, nodes = Timer.once(lambda: _python_perft(generator, b, depth), 1)
                    t = ti if t is None else min(t, ti)
                if cb is not None and r < their_rounds:
                    ti, cnodes = Timer.once(lambda: _chess_perft(cb, depth), 1)
                    tb = ti if tb is None else min(tb, ti)
            expected = PERFT_COUNTS[pname][depth - 1]
            error = None if nodes == expected else f"perft gave {nodes} nodes, expected {expected}"
            if b.fen() != fen:
                error = f"board not restored after perft: {b.fen()!r}"
            name = f"perft {pname} d{depth}"
            note = f"{nodes} nodes, {nodes / t / 1e6:.2f} M nodes/s"
            if chess:
                note += f" (python-chess {cnodes / tb / 1e6:.3f} M nodes/s)"
                rows.append(Row(name, t, "python-chess perft", tb, "faster", 10, note=note, error=error))
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
            rows.append(Row("bitboard()", t, f"chess idiom: {best_name}", tb, "faster", 10,
                            note="fastest of: " + ", ".join(idioms), error=error))
        else:
            t, tf = timer.compare(mine, floor_job)
            rows.append(Row("bitboard()", t, error=error))
        if floor is not None:
            rows.append(Row("bitboard()", t, "floor: 12 lists of 64 bools", tf, "floor", 1.5))

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
        rows.append(Row(name, t, "chess.Board.copy()", tb, "faster", 20, error=error)
                    if chess else Row(name, t, error=error))

    # 7. generator construction
    if "movegen" in groups:
        say("movegen: MoveGenerator()")
        MG = mc.MoveGenerator
        best = None
        deadline = time.perf_counter() + (0.3 if quick else 1.5)
        count = 0
        while count < 5 or time.perf_counter() < deadline:
            t0 = time.perf_counter()
            g = MG()
            elapsed = time.perf_counter() - t0
            del g
            best = elapsed if best is None else min(best, elapsed)
            count += 1
            if count >= 500:
                break
        rows.append(Row("MoveGenerator()", best, kind="limit", target=3e-3,
                        note=f"best of {count} constructions"))

    # 8. resident memory per board
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
                        "bytes", 1000, note=note))

    return rows


# --------------------------------------------------------------------------
# Command line


def build_parser(prog="python -m mirelo_chess bench"):
    parser = argparse.ArgumentParser(prog=prog, description=(
        "Time mirelo_chess workloads against python-chess (if installed) and "
        "against native floors (if the _mirelo_floor helper is importable)."))
    parser.add_argument("--quick", action="store_true",
                        help="shorter rounds and one ply less of perft")
    parser.add_argument("--only", metavar="GROUPS",
                        help="comma-separated subset of: " + ", ".join(GROUPS))
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
    The status is 0 unless a workload failed or gave a wrong result (missed
    speed targets are reported, not failed).
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
