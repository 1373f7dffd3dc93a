"""The PGN rows of bench/run.py: mirelo_chess.pgn against python-chess.

- read_games over the benchmark file (10,000 games with a clock comment
  after every move, bench/make_pgn_bench.py, seeded, written once into the
  build folder), plies per second against python-chess's read_game loop on
  the first games of the same file, and over the same text held in memory
  as bytes against the path;
- training_batches over the same file, per position, and its time over that
  of read_games;
- san and parse_san on the positions of the first games against
  python-chess's Board.san and Board.parse_san, and against generator(board)
  on the same boards.

rows(bench, chess, build_dir, quick, log) returns the rows; bench is the
timing module (Row, Timer, Job), chess python-chess or None.
"""

from __future__ import annotations

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GAMES, SEED = 10_000, 18
SAN_POSITIONS = 4000


def bench_file(build_dir, log):
    """The benchmark file, written with python-chess's exporter on first use."""
    path = os.path.join(build_dir, "pgn-cache", f"bench-{GAMES}-{SEED}.pgn")
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        log(f"writing {path} (about a minute)")
        subprocess.run([sys.executable, os.path.join(HERE, "make_pgn_bench.py"), path + ".part",
                        "--games", str(GAMES), "--seed", str(SEED)], check=True)
        os.replace(path + ".part", path)
    return path


def _best(call, rounds):
    best, result = None, None
    for _ in range(rounds):
        start = time.perf_counter()
        result = call()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, result


def _read_plies(pgn, path):
    plies = 0
    for game in pgn.read_games(path):
        plies += len(game.moves)
    return plies


def _chess_plies(chess, path, games):
    import chess.pgn
    plies = 0
    with open(path, encoding="utf-8") as handle:
        for _ in range(games):
            game = chess.pgn.read_game(handle)
            if game is None:
                break
            plies += sum(1 for _ in game.mainline_moves())
    return plies


def _positions(mc, pgn, path, count):
    """(board, move) pairs of the mainlines of the first games, each board
    its own, and the games read."""
    pairs, games = [], []
    for game in pgn.read_games(path):
        games.append(game)
        board = mc.Board(game.fen)
        for move in game.moves:
            pairs.append((board.copy(), move))
            board.push(move)
        if len(pairs) >= count:
            return pairs[:count], games
    return pairs, games


def rows(bench, chess, build_dir, quick, log):
    import mirelo_chess as mc
    from mirelo_chess import pgn

    Row, Job = bench.Row, bench.Job
    path = bench_file(build_dir, log)
    rounds = 2 if quick else 5
    out = []

    log("pgn: read_games")
    _best(lambda: _read_plies(pgn, path), 1)  # warm (PyPy's JIT, the file cache)
    t_read, plies = _best(lambda: _read_plies(pgn, path), rounds)
    note = f"{GAMES} games, {plies} plies, {plies / t_read / 1e6:.2f} M plies/s"
    if chess is not None:
        sample = 100 if quick else 500
        log(f"pgn: python-chess read_game on {sample} games")
        t_chess, chess_plies = _best(lambda: _chess_plies(chess, path, sample), 1 if quick else 2)
        note += f"; python-chess {chess_plies / t_chess / 1e3:.0f} k plies/s on the first {sample} games"
        out.append(Row("read_games, per ply", t_read / plies, "chess.pgn.read_game loop", t_chess / chess_plies,
                       "faster", note=note))
    else:
        out.append(Row("read_games, per ply", t_read / plies, note=note))
    with open(path, "rb") as handle:
        data = handle.read()
    t_bytes, _ = _best(lambda: _read_plies(pgn, data), rounds)
    out.append(Row("read_games of the file's bytes", t_bytes, "read_games(path)", t_read, "floor",
                   note=f"{len(data) / 1e6:.1f} MB in memory, read in chunks of 1 MiB"))

    try:
        import numpy  # noqa: F401
    except ImportError:
        out.append(Row("training_batches", None, note="NumPy not installed: row skipped"))
    else:
        log("pgn: training_batches")

        def positions():
            return sum(len(batch.moves) for batch in pgn.training_batches(path))

        _best(positions, 1)
        t_train, count = _best(positions, rounds)
        note = f"{count} positions, {count / t_train / 1e6:.2f} M positions/s"
        out.append(Row("training_batches, per position", t_train / count, note=note))
        out.append(Row("training_batches vs read_games", t_train, "read_games", t_read, "floor",
                       note="whole file, uint8 planes"))

    log("pgn: san and parse_san")
    generator = mc.MoveGenerator()
    pairs, games = _positions(mc, pgn, path, 1000 if quick else SAN_POSITIONS)
    sans = [pgn.san(generator, board, move) for board, move in pairs]
    error = None
    if [pgn.parse_san(generator, board, text) for (board, _), text in zip(pairs, sans)] != [m for _, m in pairs]:
        error = "parse_san(san(move)) differs from the move"
    theirs = None
    if chess is not None:
        theirs = []
        for game in games:
            board = chess.Board(game.fen)
            for move in game.moves:
                theirs.append((board.copy(stack=False), chess.Move.from_uci(move)))
                board.push_uci(move)
        theirs = theirs[:len(pairs)]
        if [board.san(move) for board, move in theirs] != sans:
            error = "san differs from python-chess's Board.san"
    chess_sans = list(zip([board for board, _ in theirs], sans)) if theirs else None
    timer = bench.Timer(round_time=0.02, rounds=5 if quick else 15)
    ns = {"s": pgn.san, "p": pgn.parse_san, "g": generator, "items": pairs, "texts": list(zip(pairs, sans)),
          "theirs": theirs, "chess_sans": chess_sans}
    per = len(pairs)
    t_san, t_parse, t_gen, t_chess_san, t_chess_parse = timer.compare(
        Job("for b, m in items: s(g, b, m)", ns=ns, per=per),
        Job("for (b, _), t in texts: p(g, b, t)", ns=ns, per=per),
        Job("for b, _ in items: g(b)", ns=ns, per=per),
        Job("for b, m in theirs: b.san(m)", ns=ns, per=per) if theirs else None,
        Job("for b, t in chess_sans: b.parse_san(t)", ns=ns, per=per) if theirs else None)
    note = f"{per} positions of the benchmark games"
    for name, mine, base in (("san(generator, board, move)", t_san, t_chess_san),
                             ("parse_san(generator, board, text)", t_parse, t_chess_parse)):
        if base is not None:
            out.append(Row(name, mine, f"chess Board.{name.split('(')[0]}", base, "faster", note=note, error=error))
        out.append(Row(name, mine, "generator(board)", t_gen, "floor", note=note, error=error))
    return out
