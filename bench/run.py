#!/usr/bin/env python3
"""The full mirelo_chess benchmark.

    python bench/run.py [--quick] [--only GROUPS] [--no-native] ...

1. Builds (or reuses) the ``_mirelo_floor`` helper extension from floor.c.
2. Runs the Python workloads of ``workloads.py`` against python-chess and
   against the native floors.
3. Builds ``perft_native`` with CMake and runs the core's bulk-counted perft
   next to Stockfish's ``go perft`` on the same positions and depths.
4. Prints one table with the development target of each row and whether it
   was met.  The exit status is non-zero only for errors (a build that fails,
   a wrong node count or move list, a crash), never for a missed speed
   target; misses are listed under the table.

mirelo_chess itself must be importable (installed) by the Python running
this script.
"""

from __future__ import annotations

import argparse
import os
import platform
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [HERE, os.path.join(ROOT, "tests")]  # the sibling modules and the test positions

import build_floor  # noqa: E402
import pgn_rows  # noqa: E402
import timing  # noqa: E402
import workloads  # noqa: E402
from positions import BENCHMARK_POSITIONS  # noqa: E402
from timing import PYPY, Row, fmt_time, format_table  # noqa: E402

# Development targets: (workload name prefix, kind of row, goal). For "faster"
# rows the goal is the least baseline/mirelo ratio, for "floor" rows the
# largest mirelo/floor ratio, for "info" rows (no baseline) the longest time.
# On PyPy both sides run JIT-compiled code, so python-chess is several times
# faster there than on CPython and the ratios aimed at differ.
_FASTER = ({"Board(fen)": 20, "board.fen()": 50, "push(": 15, "generator(board)": 15, "perft ": 30,
            "bitboard()": 5, "copy()": 20} if PYPY else
           {"Board(fen)": 40, "board.fen()": 40, "push(": 15, "generator(board)": 20, "perft ": 10,
            "bitboard()": 10, "copy()": 20})
TARGETS = tuple((prefix, "faster", goal) for prefix, goal in _FASTER.items()) + (
    ("push(", "floor", 3),
    ("generator(board)", "floor", 1.5),
    ("bitboard()", "floor", 1.5),
    ("MoveGenerator()", "info", 1e-5),
    ("memory per Board(fen)", "bytes", 1000),
    ("planes(board) uint8 vs README idiom", "faster", 30),
    ("planes(board) uint8", "faster", 8),
    ("planes_batch(", "faster", 30),
    ("planes_from_fens(", "faster", 20),
    ("legal_mask ", "floor", 1.5),
    ("is_check(board)", "floor", 2),
    ("zobrist_key(board)", "floor", 2),
    ("outcome(generator, board)", "floor", 1),
    ("random playout", "info", 1e-6),  # a million plies per second
    ("svg.board(board)", "info", 1e-4),  # a picture is string formatting: well under a millisecond
    ("python -m mirelo_chess perft", "floor", 1.3),  # the command line's time over the native perft's
    ("native perft ", "faster", 0.5),  # native perft speed as a fraction of Stockfish's
    # mirelo_chess.pgn (bench/pgn_rows.py)
    ("read_games, per ply", "faster", 50),
    ("read_games of the file's bytes", "floor", 1.5),  # chunks of a buffer cost no copy of the whole
    ("training_batches, per position", "info", 1e-6),  # a million positions per second
    ("training_batches vs read_games", "floor", 2),
    ("san(generator, board, move)", "faster", 20),
    ("san(generator, board, move)", "floor", 2),
    ("parse_san(generator, board, text)", "faster", 20),
    ("parse_san(generator, board, text)", "floor", 2),
)


def target_of(row):
    for prefix, kind, goal in TARGETS:
        if row.workload.startswith(prefix) and row.kind == kind:
            return goal
    return None


def target_text(row):
    goal = target_of(row)
    if goal is None:
        return "-"
    if row.kind == "faster":
        return f">= {goal:g}x faster"
    if row.kind == "floor":
        return f"<= {goal:g}x floor"
    if row.kind == "bytes":
        return f"<= {goal:,} B"
    return f"< {fmt_time(goal)}"


def passed(row):
    """True or False against the row's target; None without one."""
    goal = target_of(row)
    if goal is None or row.error:
        return None
    if row.kind in ("info", "bytes"):
        return None if row.mirelo is None else row.mirelo <= goal
    ratio = row.ratio
    if ratio is None:
        return None
    return ratio >= goal if row.kind == "faster" else ratio <= goal


def result_text(row):
    if row.error:
        return "ERROR"
    verdict = passed(row)
    return "-" if verdict is None else ("pass" if verdict else "MISS")


def verdicts(rows):
    """The table with the target and result columns, and the list of misses."""
    columns = (("target", target_text), ("result", result_text))
    text = [format_table(rows, columns), ""]
    misses = [r for r in rows if passed(r) is False and not r.error]
    if misses:
        text.append(f"MISSED TARGETS ({len(misses)}):")
        for r in misses:
            shown = r.ratio_text() if r.ratio is not None else r.value_text(r.mirelo)
            text.append(f"  {r.workload}: {shown} (target {target_text(r)})")
    elif rows:
        text.append("all measured targets met")
    return "\n".join(text)


# --------------------------------------------------------------------------
# perft_native


class BuildError(Exception):
    pass


def find_cmake():
    exe = shutil.which("cmake")
    if exe:
        return exe
    try:  # the PyPI cmake package
        import cmake
        cand = os.path.join(cmake.CMAKE_BIN_DIR, "cmake")
        if os.path.exists(cand):
            return cand
    except ImportError:
        pass
    return None


def build_perft_native(build_dir, log):
    cmake = find_cmake()
    if cmake is None:
        raise BuildError("cmake not found (pip install cmake ninja)")
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        cmd = [cmake, "-S", ROOT, "-B", build_dir, "-DMIRELO_BUILD_BENCH=ON",
               "-DMIRELO_BUILD_MODULE=OFF", "-DCMAKE_BUILD_TYPE=Release"]
        if shutil.which("ninja"):
            cmd[1:1] = ["-G", "Ninja"]
        log("configuring: " + " ".join(cmd))
        proc = subprocess.run(cmd, capture_output=True, text=True)
        if proc.returncode != 0:
            shutil.rmtree(build_dir, ignore_errors=True)
            raise BuildError("cmake configure failed:\n" + proc.stdout[-4000:] + proc.stderr[-4000:])
    cmd = [cmake, "--build", build_dir, "--target", "perft_native", "--parallel", "2"]
    log("building: " + " ".join(cmd))
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        raise BuildError("perft_native build failed:\n" + proc.stdout[-6000:] + proc.stderr[-4000:])
    for name in ("perft_native", "perft_native.exe"):
        path = os.path.join(build_dir, name)
        if os.path.exists(path):
            return path
    raise BuildError(f"perft_native not found in {build_dir} after the build")


LINE = re.compile(r"^perft (\S+) depth=(\d+) nodes=(\d+) seconds=([\d.eE+-]+) nps=\S+ expected=(\S+) ok=([01])$")


def _parse_native(stdout, results):
    for line in stdout.splitlines():
        m = LINE.match(line.strip())
        if not m:
            continue
        name, depth, nodes, secs, expected, ok = m.groups()
        depth, nodes, secs = int(depth), int(nodes), float(secs)
        expected = None if expected == "?" else int(expected)
        prev = results.get(name)
        if prev is None or secs < prev[2]:
            results[name] = (depth, nodes, secs, expected, ok == "1")


def _run_native(cmd, log):
    log("native perft: " + " ".join(cmd))
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode not in (0, 1):  # 1: a wrong count, reported per row
        raise BuildError(f"perft_native exited with {proc.returncode}:\n{proc.stdout}{proc.stderr}")
    return proc.stdout


def run_perft_native(binary, seconds, rounds, log):
    """{name: (depth, nodes, best seconds, expected-or-None, ok)} for the six positions.

    The first round picks per position the depth whose time comes closest to
    ``seconds`` (never expected above four times it); later rounds repeat
    those depths and the best time is kept.
    """
    results = {}
    _parse_native(_run_native([binary, "--seconds", f"{seconds:g}"], log), results)
    if not results:
        raise BuildError("perft_native printed no result lines")
    for _ in range(rounds - 1):
        for name, (depth, *_rest) in list(results.items()):
            _parse_native(_run_native([binary, str(depth), name], log), results)
    return results


def run_cli_perft(fen, depth, rounds, log):
    """(nodes, best seconds) of ``python -m mirelo_chess perft`` as it reports them."""
    best = None
    nodes = None
    for _ in range(rounds):
        cmd = [sys.executable, "-m", "mirelo_chess", "perft", "--no-progress", "--depth", str(depth), fen]
        log("command line perft: " + " ".join(cmd[1:]))
        proc = subprocess.run(cmd, capture_output=True, text=True, cwd=os.path.join(ROOT, "build"))
        if proc.returncode != 0:
            raise BuildError(f"python -m mirelo_chess perft exited with {proc.returncode}:\n{proc.stderr}")
        fields = dict(line.split(": ", 1) for line in proc.stdout.splitlines() if ": " in line)
        nodes = int(fields["nodes"])
        seconds = float(fields["time"].split()[0])
        best = seconds if best is None else min(best, seconds)
    return nodes, best


# --------------------------------------------------------------------------
# Stockfish


def find_stockfish(explicit):
    for cand in (explicit, shutil.which("stockfish"), "/usr/games/stockfish"):
        if cand and os.path.exists(cand) and os.access(cand, os.X_OK):
            return cand
    return None


class Stockfish:
    """A single-threaded Stockfish speaking UCI over pipes."""

    def __init__(self, binary):
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.banner = self._readline()
        self._send("uci")
        self._wait_for("uciok")
        self._send("setoption name Threads value 1")
        self._send("isready")
        self._wait_for("readyok")

    def _send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def _readline(self):
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError("stockfish closed its output")
        return line.strip()

    def _wait_for(self, prefix):
        while True:
            line = self._readline()
            if line.startswith(prefix):
                return line

    def perft(self, fen, depth):
        """(nodes, seconds) of ``go perft depth``; the time is from the command to the total."""
        self._send(f"position fen {fen}")
        self._send("isready")
        self._wait_for("readyok")
        t0 = time.perf_counter()
        self._send(f"go perft {depth}")
        line = self._wait_for("Nodes searched")
        elapsed = time.perf_counter() - t0
        return int(line.split(":")[1]), elapsed

    def close(self):
        try:
            self._send("quit")
            self.proc.wait(timeout=10)
        except Exception:
            self.proc.kill()
            self.proc.wait()


def native_rows(args, log):
    rows = []
    notes = []
    if args.perft_native:
        binary = args.perft_native
    else:
        binary = build_perft_native(args.build_dir, log)
    rounds = 1 if args.quick else args.rounds
    seconds = args.seconds if args.seconds else (0.4 if args.quick else 2.5)
    native = run_perft_native(binary, seconds, rounds, log)

    sf_path = find_stockfish(args.stockfish)
    stockfish = None
    if sf_path is None:
        notes.append("stockfish not found (apt-get install stockfish): native perft without ratio")
    else:
        try:
            stockfish = Stockfish(sf_path)
            notes.append(f"baseline engine: {stockfish.banner} ({sf_path}), Threads=1")
        except Exception as exc:  # a broken engine is reported, the rest still runs
            notes.append(f"stockfish at {sf_path} did not start: {exc}")
            stockfish = None
    try:
        for position in BENCHMARK_POSITIONS:
            name = position.name
            if name not in native:
                continue
            depth, nodes, secs, expected, ok = native[name]
            error = None
            if not ok:
                error = f"native perft {name} depth {depth}: {nodes} nodes, expected {expected}"
            label = f"native perft {name} d{depth}"
            note = f"{nodes} nodes, mirelo {nodes / secs / 1e6:.1f} M nodes/s"
            cli_nodes, cli_secs = run_cli_perft(position.fen, depth, rounds, log)
            rows.append(Row(f"python -m mirelo_chess perft {name} d{depth}", cli_secs, "perft_native",
                                  secs, "floor", note=f"{cli_nodes} nodes",
                                  error=None if cli_nodes == nodes else f"{cli_nodes} nodes, native {nodes}"))
            if stockfish is None:
                rows.append(Row(label, secs, note=note, error=error))
                continue
            best = None
            for _ in range(rounds):
                log(f"stockfish perft {name} depth {depth}")
                sf_nodes, sf_secs = stockfish.perft(position.fen, depth)
                best = sf_secs if best is None else min(best, sf_secs)
            if sf_nodes != nodes and error is None:
                error = f"stockfish counts {sf_nodes} nodes, mirelo {nodes}"
            note += f", stockfish {sf_nodes / best / 1e6:.1f} M nodes/s"
            rows.append(Row(label, secs, "stockfish go perft", best, "faster", note=note, error=error))
    finally:
        if stockfish is not None:
            stockfish.close()
    return rows, notes


# --------------------------------------------------------------------------


def workload_names(text):
    names = [name.strip() for name in text.split(",") if name.strip()]
    unknown = set(names) - set(workloads.WORKLOADS) - {"pgn"}
    if unknown:
        raise argparse.ArgumentTypeError(f"unknown workload group(s): {', '.join(sorted(unknown))}")
    return names


def main(argv=None):
    parser = argparse.ArgumentParser(prog="bench/run.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="shorter rounds and one ply less of perft")
    parser.add_argument("--only", metavar="GROUPS", type=workload_names,
                        help="comma-separated subset of the Python workloads: " + ", ".join([*workloads.WORKLOADS, "pgn"]))
    parser.add_argument("--no-python", action="store_true", help="skip the Python workloads")
    parser.add_argument("--no-native", action="store_true", help="skip native perft vs Stockfish")
    parser.add_argument("--no-pgn", action="store_true", help="skip the rows of mirelo_chess.pgn")
    parser.add_argument("--no-floor", action="store_true", help="do not build the floor module")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench-perft"),
                        help="CMake build directory for perft_native (default: %(default)s)")
    parser.add_argument("--perft-native", metavar="PATH", help="use this perft_native binary, do not build")
    parser.add_argument("--stockfish", metavar="PATH", help="Stockfish binary (default: found on PATH)")
    parser.add_argument("--rounds", type=int, default=2, help="native perft rounds, best kept (default 2)")
    parser.add_argument("--seconds", type=float,
                        help="native perft: wanted time per position; the depth coming closest "
                             "is used (default 2.5, 0.4 with --quick)")
    parser.add_argument("-q", "--silent", action="store_true", help="no progress messages")
    args = parser.parse_args(argv)

    def log(msg):
        if not args.silent:
            print(f"[bench] {msg}", file=sys.stderr, flush=True)

    rows = []
    notes = []
    failures = []

    print(f"python {platform.python_version()} ({sys.executable}), {platform.machine()}, "
          f"{os.cpu_count()} cpus, {'quick' if args.quick else 'full'} run")

    # "pgn" in --only selects the rows of bench/pgn_rows.py, which the
    # workloads module does not know.
    only = args.only
    pgn_wanted = not args.no_pgn and (only is None or "pgn" in only)
    if only is not None and "pgn" in only:
        only = [name for name in only if name != "pgn"]
        args.no_python = args.no_python or not only
        args.no_native = True

    if not args.no_python:
        # The floor is a C-API extension module: under PyPy it would time
        # PyPy's emulation of that interface, which is no floor at all.
        floor = None if args.no_floor or PYPY else build_floor.build(verbose=not args.silent)
        if floor is None:
            notes.append("floor rows skipped under PyPy" if PYPY else "floor module unavailable: floor rows skipped")
        try:
            import chess
        except ImportError:
            chess = None
            notes.append("python-chess not installed: Python rows without ratios")
        try:
            import mirelo_chess
            log(f"mirelo_chess from {getattr(mirelo_chess, '__file__', '?')}")
            rows += workloads.run(floor=floor, quick=args.quick, only=only, chess=chess,
                                  log=None if args.silent else sys.stderr)
        except Exception as exc:
            failures.append(f"Python workloads: {type(exc).__name__}: {exc}")

    if pgn_wanted:
        try:
            try:
                import chess as chess_module
            except ImportError:
                chess_module = None
            rows += pgn_rows.rows(timing, chess_module, os.path.join(ROOT, "build"), args.quick, log)
        except (ImportError, OSError, subprocess.CalledProcessError) as exc:
            failures.append(f"pgn rows: {type(exc).__name__}: {exc}")

    if not args.no_native:
        try:
            extra_rows, extra_notes = native_rows(args, log)
            rows += extra_rows
            notes += extra_notes
        except (BuildError, OSError, RuntimeError) as exc:
            failures.append(f"native perft: {exc}")

    for n in notes:
        print(n)
    print()
    print(verdicts(rows))
    for f in failures:
        print(f"ERROR: {f}")
    return 1 if failures or any(r.error for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
