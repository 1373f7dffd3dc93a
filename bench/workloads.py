"""The Python workloads of the benchmark, one function a group of rows.

Each workload checks its results first (move lists and planes against
python-chess and the floor, perft counts against the published ones), then
times mirelo_chess against python-chess and, where the floor module is
there, against the floor; a wrong result makes its row an error. ``run``
goes through the table ``WORKLOADS``; ``bench/run.py`` adds the targets.
"""

from __future__ import annotations

import os
import random
import subprocess
import sys

from positions import BENCHMARK_POSITIONS, chess_perft, perft
from timing import PYPY, Job, Row, Timer, fmt_time

# Perft through the Python API: the deepest depth of each position with at
# most this many nodes (python-chess then needs about 0.2-3 s per position);
# --quick goes one ply less.
PY_PERFT_NODES = 1_000_000

PUSH_MOVE = "e2e4"
# Calls of a few tens of nanoseconds are repeated in the loop body to hide the
# loop, except on PyPy: ten calls in a row make a trace longer than its limit,
# after which the JIT stops inlining the callee for the rest of the process,
# while a user's loop holds one call.
SHORT_CALL_UNROLL = 1 if PYPY else 10
HISTORY = ("e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6")

BATCH = 1024  # boards or texts per batch call of the arrays rows

# Boards held at once by the memory row.
MEMORY_BOARDS = 100_000


class Bench:
    """What the workloads share: the library, the baselines that are there,
    the timer, the positions, and the rows measured so far."""

    def __init__(self, mc, chess, floor, quick, log):
        self.mc = mc
        self.chess = chess
        self.floor = floor
        self.quick = quick
        self.log = log
        self.timer = Timer(round_time=0.001, rounds=40) if quick else Timer(round_time=0.002, rounds=100)
        self.fens = [p.fen for p in BENCHMARK_POSITIONS]
        self.rows = []

    def say(self, message):
        if self.log is not None:
            print(message, file=self.log, flush=True)

    def row(self, name, mine, baseline=None, theirs=None, kind="faster", note="", error=None):
        """A row against a baseline, or of our time alone where the baseline is missing."""
        if theirs is None:
            self.rows.append(Row(name, mine, note=note, error=error))
        else:
            self.rows.append(Row(name, mine, baseline, theirs, kind, note=note, error=error))

    def floor_row(self, name, mine, baseline, theirs):
        """A row against the floor, where the floor module is there."""
        if self.floor is not None:
            self.rows.append(Row(name, mine, baseline, theirs, "floor"))


# --------------------------------------------------------------------------
# Workloads


def construct(b):
    b.say("construct: Board(fen)")
    names = [f"f{i}" for i in range(len(b.fens))]
    setup = f"B = Board; {', '.join(names)} = fens"
    stmt = "; ".join(f"B({n})" for n in names)
    t, tb = b.timer.compare(
        Job(stmt, setup, {"Board": b.mc.Board, "fens": b.fens}, unroll=2, per=len(b.fens)),
        Job(stmt, setup, {"Board": b.chess.Board, "fens": b.fens}, unroll=2, per=len(b.fens)) if b.chess else None)
    b.row("Board(fen)", t, "chess.Board(fen)", tb, note=f"mean over the {len(b.fens)} test positions" if tb else "")


def fen(b):
    b.say("fen: board.fen()")
    names = [f"f{i}" for i in range(len(b.fens))]
    setup = f"{', '.join(names)} = [b.fen for b in boards]"
    stmt = "; ".join(f"{n}()" for n in names)
    mine = [b.mc.Board(f) for f in b.fens]
    error = None
    theirs = None
    if b.chess:
        theirs = [b.chess.Board(f) for f in b.fens]
        for board, other in zip(mine, theirs):
            if board.fen() != other.epd():
                error = f"fen() gave {board.fen()!r}, expected {other.epd()!r}"
    t, tb = b.timer.compare(
        Job(stmt, setup, {"boards": mine}, unroll=1 if PYPY else 2, per=len(b.fens)),
        Job(stmt, setup, {"boards": theirs}, unroll=1 if PYPY else 2, per=len(b.fens)) if b.chess else None)
    b.row("board.fen()", t, "chess.Board.fen()", tb, error=error)


def push(b):
    b.say("push: push(text) + pop()")
    board = b.mc.Board()
    chess, floor = b.chess, b.floor
    t, tb, tf = b.timer.compare(
        Job("push(m); pop()", "push = b.push; pop = b.pop", {"b": board, "m": PUSH_MOVE}, unroll=SHORT_CALL_UNROLL),
        Job("push(uci(m)); pop()", "push = b.push; pop = b.pop; uci = Move.from_uci",
            {"b": chess.Board(), "m": PUSH_MOVE, "Move": chess.Move}, unroll=SHORT_CALL_UNROLL) if chess else None,
        Job("one(m); none()", "one = f.onearg; none = f.noargs",
            {"f": floor, "m": PUSH_MOVE}, unroll=10) if floor is not None else None)
    error = None if board.fen() == b.fens[0] else f"board changed by push/pop: {board.fen()!r}"
    name = f"push({PUSH_MOVE!r}) + pop()"
    b.row(name, t, "chess push(Move.from_uci)+pop", tb, error=error)
    b.floor_row(name, t, "floor: 2 empty native calls", tf)


def generate(b):
    generator = b.mc.MoveGenerator()
    for position in BENCHMARK_POSITIONS:
        b.say(f"generate: {position.name}")
        board = b.mc.Board(position.fen)
        moves = generator(board)
        error = None
        theirs = None
        if b.chess:
            theirs = b.chess.Board(position.fen)
            expected = [m.uci() for m in theirs.legal_moves]
            if sorted(moves) != sorted(expected):
                error = (f"moves differ from python-chess: extra {sorted(set(moves) - set(expected))},"
                         f" missing {sorted(set(expected) - set(moves))}")
        t, tb, tf = b.timer.compare(
            Job("g(b)", "pass", {"g": generator, "b": board}, unroll=4),
            Job("[m.uci() for m in b.legal_moves]", "pass", {"b": theirs}, unroll=2) if b.chess else None,
            Job("s(l)", "pass", {"s": b.floor.str_list, "l": moves}, unroll=4) if b.floor is not None else None)
        name = f"generator(board) {position.name}"
        b.row(name, t, "[m.uci() for m in legal_moves]", tb, note=f"{len(moves)} moves", error=error)
        b.floor_row(name, t, "floor: new list of new str", tf)


def perft_rows(b):
    """Perft through the Python API against the same recursion on python-chess."""
    generator = b.mc.MoveGenerator()
    mine_rounds, their_rounds = (1, 1) if b.quick else (3, 2)
    for position in BENCHMARK_POSITIONS:
        depth = position.depth_within(PY_PERFT_NODES) - (1 if b.quick else 0)
        b.say(f"perft: {position.name} depth {depth}")
        board = b.mc.Board(position.fen)
        theirs = b.chess.Board(position.fen) if b.chess else None
        if PYPY and depth > 1:  # warm JIT code on both sides, one ply shallower
            perft(generator, board, depth - 1)
            if theirs is not None:
                chess_perft(theirs, depth - 1)
        (t, nodes), (tb, their_nodes) = Timer.once(
            (lambda: perft(generator, board, depth), mine_rounds),
            (lambda: chess_perft(theirs, depth), their_rounds) if theirs is not None else None)
        expected = position.perft[depth - 1]
        error = None if nodes == expected else f"perft gave {nodes} nodes, expected {expected}"
        if board.fen() != position.fen:
            error = f"board not restored after perft: {board.fen()!r}"
        note = f"{nodes} nodes, {nodes / t / 1e6:.2f} M nodes/s"
        if theirs is not None:
            note += f" (python-chess {their_nodes / tb / 1e6:.3f} M nodes/s)"
        b.row(f"perft {position.name} d{depth}", t, "python-chess perft", tb, note=note, error=error)


def bitboard(b):
    b.say("bitboard: bitboard()")
    board = b.mc.Board()
    planes = board.bitboard()
    error = None
    floor = b.floor
    if floor is not None and [[bool(x) for x in p] for p in floor.bool_planes()] != planes:
        error = "bitboard() of the start position differs from the floor's planes"
    mine = Job("bb()", "bb = b.bitboard", {"b": board}, unroll=4)
    floor_job = Job("bp()", "bp = f.bool_planes", {"f": floor}, unroll=4) if floor is not None else None
    if b.chess:
        theirs = b.chess.Board()
        idioms = _chess_plane_idioms(b.chess)
        reference = idioms["pieces_mask+shift"](theirs)
        if planes != reference:
            error = "bitboard() differs from the python-chess placement"
        # Pick the fastest idiom first, then time it against ours.
        candidates = {n: f for n, f in idioms.items() if f(theirs) == reference}
        quick_timer = Timer(round_time=b.timer.round_time, rounds=max(3, b.timer.rounds // 4))
        times = quick_timer.compare(*(Job("f(b)", "pass", {"f": f, "b": theirs}, unroll=2)
                                      for f in candidates.values()))
        for n, ti in zip(candidates, times):
            b.say(f"  python-chess idiom {n}: {fmt_time(ti)}")
        best_name = min(zip(times, candidates))[1]
        t, tb, tf = b.timer.compare(mine, Job("f(b)", "pass", {"f": candidates[best_name], "b": theirs}, unroll=2),
                                    floor_job)
        b.row("bitboard()", t, f"chess idiom: {best_name}", tb, note="fastest of: " + ", ".join(idioms),
              error=error)
    else:
        t, tf = b.timer.compare(mine, floor_job)
        b.row("bitboard()", t, error=error)
    b.floor_row("bitboard()", t, "floor: 12 lists of 64 bools", tf)


def copy(b):
    b.say("copy: copy() with 6-ply history")
    board = b.mc.Board()
    for move in HISTORY:
        board.push(move)
    dup = board.copy()
    error = None
    for _ in HISTORY:
        dup.pop()
    if dup.fen() != b.fens[0]:
        error = f"copy() history does not pop back to the start: {dup.fen()!r}"
    theirs = None
    if b.chess:
        theirs = b.chess.Board()
        for move in HISTORY:
            theirs.push_uci(move)
        if board.fen() != theirs.epd():
            error = f"after {' '.join(HISTORY)}: fen() {board.fen()!r}, expected {theirs.epd()!r}"
    t, tb = b.timer.compare(Job("c()", "c = b.copy", {"b": board}, unroll=4),
                            Job("c()", "c = b.copy", {"b": theirs}, unroll=4) if b.chess else None)
    b.row("copy() with 6-ply history", t, "chess.Board.copy()", tb, error=error)


def movegen(b):
    b.say("movegen: MoveGenerator()")
    count = 40 if b.quick else 200
    [(best, _)] = Timer.once((b.mc.MoveGenerator, count))
    b.row("MoveGenerator()", best, note=f"best of {count} constructions")


def game_rows(b):
    """Check and key against the cheapest board method, the outcome of a long
    game against one move list."""
    b.say("game: is_check, zobrist_key, outcome")
    from mirelo_chess import game
    generator = b.mc.MoveGenerator()
    board = b.mc.Board(b.fens[1])
    turn = Job("t()", "t = b.turn", {"b": board}, unroll=SHORT_CALL_UNROLL)
    for name in ("is_check", "zobrist_key"):
        t, tb = b.timer.compare(
            Job("f(b)", "pass", {"f": getattr(game, name), "b": board}, unroll=SHORT_CALL_UNROLL), turn)
        b.row(f"{name}(board)", t, "board.turn()", tb, "floor", note="kiwipete")
    long_game = _random_game(b.mc, generator, game, 100)
    error = None if game.outcome(generator, long_game) is None else "the 100-ply game has ended"
    t, tb = b.timer.compare(
        Job("o(g, b)", "o = game.outcome", {"game": game, "g": generator, "b": long_game}, unroll=4),
        Job("g(b)", "pass", {"g": generator, "b": long_game}, unroll=4))
    b.row("outcome(generator, board)", t, "generator(board)", tb, "floor", note="100-ply history", error=error)

    b.say("game: random playouts")
    games, chess_games = (20, 2) if b.quick else (50, 5)
    if PYPY:  # warm JIT code on both sides
        _playouts(b.mc, game, games)
        if b.chess:
            _chess_playouts(b.chess, chess_games)
    (t, plies), (tb, chess_plies) = Timer.once(
        (lambda: _playouts(b.mc, game, games), 2 if b.quick else 5),
        (lambda: _chess_playouts(b.chess, chess_games), 1 if b.quick else 3) if b.chess else None)
    t /= plies
    b.row("random playout, per ply", t, note=f"{games} games, {plies} plies, {1 / t / 1e3:.0f} k plies/s")
    if b.chess:
        tb /= chess_plies
        b.row("random playout, per ply", t, "python-chess playout", tb,
              note=f"python-chess {1 / tb / 1e3:.1f} k plies/s")


def array_rows(b):
    """NumPy arrays for neural networks (skipped without NumPy)."""
    try:
        import numpy as np
    except ImportError:
        b.row("mirelo_chess.arrays", None, note="NumPy not installed: rows skipped")
        return
    from mirelo_chess import arrays

    chess, mc = b.chess, b.mc
    kiwipete = b.fens[1]
    board = mc.Board(kiwipete)
    ns = {"a": arrays, "b": board, "np": np}
    expected = np.array(board.bitboard(), dtype=np.uint8).reshape(12, 8, 8)
    error = None if (arrays.planes(board) == expected).all() else "planes(board) differs from bitboard()"
    idiom = _chess_numpy_planes(chess, np) if chess else None
    theirs = chess.Board(kiwipete) if chess else None
    if idiom is not None and not (idiom(theirs) == expected).all():
        error = "the python-chess idiom differs from bitboard()"

    b.say("arrays: planes(board)")
    t, tb, told = b.timer.compare(
        Job("p(b)", "p = a.planes", ns, unroll=4),
        Job("f(b)", "pass", {"f": idiom, "b": theirs}, unroll=2) if chess else None,
        Job("np.array(bb(), dtype=f32).reshape(12, 8, 8)", "bb = b.bitboard; f32 = np.float32", ns, unroll=2))
    if chess:
        b.row("planes(board) uint8", t, "chess idiom: pieces_mask+unpackbits", tb, error=error)
    b.row("planes(board) uint8 vs README idiom", t, "np.array(bitboard()) float32", told, error=error)

    b.say(f"arrays: planes_batch of {BATCH} boards, float32")
    boards = [mc.Board(f) for f in b.fens] * (BATCH // len(b.fens) + 1)
    boards = boards[:BATCH]
    batch = arrays.planes_batch(boards, dtype=np.float32)
    batch_error = None
    if not all((batch[i] == np.array(x.bitboard()).reshape(12, 8, 8)).all() for i, x in enumerate(boards)):
        batch_error = "planes_batch differs from bitboard()"
    t = b.timer.compare(Job("pb(bs, dtype=f32)", "pb = a.planes_batch; f32 = np.float32",
                            {"a": arrays, "bs": boards, "np": np}, per=BATCH))[0]
    b.row(f"planes_batch({BATCH}) float32, per board" if chess else "planes_batch", t,
          "chess idiom: pieces_mask+unpackbits", tb, error=batch_error)

    b.say(f"arrays: planes_from_fens of {BATCH} texts")
    texts = b.fens * (BATCH // len(b.fens) + 1)
    texts = texts[:BATCH]
    fens_error = None if (arrays.planes_from_fens(texts) == arrays.planes_batch(boards)).all() else \
        "planes_from_fens differs from planes_batch"
    t, tb = b.timer.compare(
        Job("pf(ts)", "pf = a.planes_from_fens", {"a": arrays, "ts": texts}, per=BATCH),
        Job("for t in ts: f(B(t))", "B = chess.Board", {"f": idiom, "ts": texts, "chess": chess}, per=BATCH)
        if chess else None)
    b.row(f"planes_from_fens({BATCH}), per text" if chess else "planes_from_fens", t,
          "chess.Board(fen) + idiom", tb, error=fens_error)

    generator = mc.MoveGenerator()
    for position in BENCHMARK_POSITIONS:
        b.say(f"arrays: legal_mask {position.name}")
        board = mc.Board(position.fen)
        mask = arrays.legal_mask(generator, board)
        mask_error = None
        if sorted(np.flatnonzero(mask).tolist()) != sorted(arrays.move_index(m) for m in generator(board)):
            mask_error = "legal_mask differs from the generator's moves"
        t, tg = b.timer.compare(
            Job("lm(g, b)", "lm = a.legal_mask", {"a": arrays, "g": generator, "b": board}, unroll=4),
            Job("g(b)", "pass", {"g": generator, "b": board}, unroll=4))
        b.row(f"legal_mask {position.name}", t, "generator(board)", tg, "floor", error=mask_error)


def svg_rows(b):
    """A picture with everything the drawing can add."""
    b.say("svg: svg.board(board) with last move, check and arrows")
    from mirelo_chess import svg
    board = b.mc.Board(b.fens[1])
    picture = svg.board(board, lastmove="e2a6", check="e1", arrows=("e5f7", "d5e6"))
    error = None
    if picture.count('class="piece ') != sum(map(sum, board.bitboard())) or picture.count('class="arrow"') != 2:
        error = "the picture does not show every piece and arrow"
    ns = {"svg": svg, "b": board, "m": "e2a6", "c": "e1", "a": ("e5f7", "d5e6")}
    t = b.timer.compare(Job("d(b, lastmove=m, check=c, arrows=a)", "d = svg.board", ns, unroll=2))[0]
    b.row("svg.board(board)", t, note="kiwipete, last move, check, two arrows", error=error)


def memory(b):
    """Resident memory per board, each side in a fresh interpreter."""
    n = MEMORY_BOARDS // 10 if b.quick else MEMORY_BOARDS
    b.say(f"memory: {n} boards")
    path = os.path.dirname(os.path.dirname(os.path.abspath(b.mc.__file__)))
    mine = _memory_per_board("mirelo", path, b.fens, n)
    theirs = _memory_per_board("chess", path, b.fens, n) if b.chess else None
    note = f"resident set growth / {n} boards held, built from the test positions in turn"
    if mine is None:
        note = "resident set size not readable here (/proc/self/statm)"
    # A size, not a time, with or without the baseline.
    b.rows.append(Row("memory per Board(fen)", mine, "chess.Board(fen)" if theirs else None, theirs, "bytes",
                      note=note))


# The groups of rows, in the order they run; `--only` picks some by name.
WORKLOADS = {
    "construct": construct,
    "fen": fen,
    "push": push,
    "generate": generate,
    "perft": perft_rows,
    "bitboard": bitboard,
    "copy": copy,
    "movegen": movegen,
    "game": game_rows,
    "arrays": array_rows,
    "svg": svg_rows,
    "memory": memory,
}


def run(floor=None, quick=False, only=None, chess=None, log=None):
    """Rows of the workloads named in `only` (all by default).

    floor: the ``_mirelo_floor`` module or None; chess: python-chess or None;
    quick: shorter rounds and shallower perft; log: a stream for progress.
    """
    import mirelo_chess
    bench = Bench(mirelo_chess, chess, floor, quick, log)
    for name, workload in WORKLOADS.items():
        if not only or name in only:
            workload(bench)
    return bench.rows


# --------------------------------------------------------------------------
# Helpers of the workloads


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



def _playouts(mc, game, games):
    """Plies of seeded random games played to their end, the loop a
    reinforcement-learning user writes."""
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
    choice = random.Random(0).choice
    plies = 0
    for _ in range(games):
        board = chess.Board()
        while board.outcome() is None:
            board.push(choice(list(board.legal_moves)))
            plies += 1
    return plies


def _random_game(mc, generator, game, plies):
    """A board after `plies` seeded random legal moves from the start, the
    first seed whose game is still going on."""
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


def _chess_numpy_planes(chess, np):
    """python-chess's fastest NumPy idiom for the (12, 8, 8) planes: the
    twelve piece masks into a uint64 array, unpacked bit by bit."""
    order = [(pt, c) for c in (chess.WHITE, chess.BLACK) for pt in chess.PIECE_TYPES]
    little = np.dtype("<u8")  # byte k of a word holds squares 8k..8k+7

    def planes(board):
        words = np.array([board.pieces_mask(pt, c) for pt, c in order], dtype=little)
        return np.unpackbits(words.view(np.uint8), bitorder="little").reshape(12, 8, 8)

    return planes
