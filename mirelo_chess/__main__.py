"""Command line of mirelo_chess.

    python -m mirelo_chess perft [--depth N] [--divide] [FEN]
    python -m mirelo_chess svg [--lastmove MOVE] [--arrow MOVE]... [--flip] [FEN] > board.svg
    python -m mirelo_chess pgn FILE... [--npz OUT]

``perft`` counts the legal move paths of the given depth from a position
(the start position by default) with the library's native count
(``mirelo_chess.game.perft``), one root move at a time so that progress can
be shown and an interrupt is answered between root moves. It prints the node
count, the time taken and the nodes per second; ``--divide`` first lists the
count below each root move, as ``mirelo_chess.game.divide`` gives them.

``svg`` writes the position (the start position by default) as an SVG
picture on standard output, the document ``mirelo_chess.svg.board`` makes.

``pgn`` reads PGN files (plain, ``.gz``, ``.bz2``, ``.xz``, ``.zst``) with
``mirelo_chess.pgn.read_games`` and prints the games, plies and games with an
error it found, the time and the plies per second; ``--npz OUT`` then writes
the training arrays of ``mirelo_chess.pgn.training_batches`` (``planes``,
``moves``, ``results``, ``turns``, ``games``) to a compressed NumPy file,
reading the files a second time. On a terminal a progress line (bytes read,
games per second) is shown on standard error.

The installed console script ``mirelo-chess`` is the same program and names
itself so in its messages; ``--version`` prints the installed version.

Bad input ends the program with one line on standard error and exit status 2.
When the reader of standard output goes away (``perft --divide | head``), the
program stops quietly with status 141, as a shell reports a process ended by
a broken pipe.
"""

from __future__ import annotations

import argparse
import contextlib
import importlib.metadata
import os
import sys
import tempfile
import time
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import IO, Any, NoReturn, TextIO

from mirelo_chess import Board, MoveGenerator, svg
from mirelo_chess.errors import PanicException
from mirelo_chess.game import perft

# A board without moves: counting on it costs nothing, but the library still
# checks the depth.
EMPTY_FEN = "8/8/8/8/8/8/8/8 w - -"

SCRIPT = "mirelo-chess"
MODULE = "python -m mirelo_chess"
DEFAULT_DEPTH = 6  # 119,060,324 paths from the start position: a few seconds

EXIT_USAGE = 2
EXIT_FAILURE = 1
EXIT_BROKEN_PIPE = 128 + 13  # 128 + SIGPIPE


class UsageError(Exception):
    """Bad command-line input; its text is the one-line message."""


class _Parser(argparse.ArgumentParser):
    # argparse prints the usage block and then the error; a bad argument is
    # reported on a single line instead (--help still shows the usage).
    def error(self, message: str) -> NoReturn:
        raise UsageError(f"{self.prog}: {message}")


def _depth(text: str) -> int:
    try:
        value = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid depth {text!r}: expected a whole number") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"invalid depth {value}: must be 0 or more")
    return value


def _size(text: str) -> float:
    try:
        return int(text, 10)
    except ValueError:
        pass
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid size {text!r}: expected a number") from None


def _version() -> str:
    try:
        return importlib.metadata.version("mirelo-chess")
    except importlib.metadata.PackageNotFoundError:  # imported from a folder, not installed
        return "unknown"


def program_name() -> str:
    """The command as the user typed it: the console script's file bears its
    name, while under ``python -m`` the first argument is this file's path."""
    return SCRIPT if os.path.basename(sys.argv[0] if sys.argv else "") == SCRIPT else MODULE


def build_parser(prog: str) -> _Parser:
    parser = _Parser(
        prog=prog,
        description="Command line of mirelo_chess: move-path counting, pictures and PGN files.",
    )
    parser.add_argument("--version", action="version", version=f"mirelo-chess {_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    perft = commands.add_parser(
        "perft",
        help="count the legal move paths of a given depth",
        description=(
            "Count the legal move paths of DEPTH plies from a position with this "
            "library's native move-path count (the last ply is counted, not "
            "played), and print the count, the time and the nodes per second."
        ),
    )
    perft.add_argument(
        "--depth", "-d", type=_depth, default=DEFAULT_DEPTH, metavar="N",
        help=f"number of plies, 0 or more (default {DEFAULT_DEPTH})",
    )
    perft.add_argument(
        "--divide", action="store_true",
        help="first print the count below each root move, in generation order",
    )
    perft.add_argument(
        "--progress", action=argparse.BooleanOptionalAction, default=None,
        help="report each finished root move on standard error "
             "(default: when standard error is a terminal, unless the --divide "
             "rows go to the terminal too)",
    )
    picture = commands.add_parser(
        "svg",
        help="write the position as an SVG picture on standard output",
        description="Write the position as an SVG picture on standard output.",
    )
    picture.add_argument("--lastmove", metavar="MOVE", help="tint the two squares of this move (e2e4)")
    picture.add_argument("--arrow", action="append", default=[], metavar="MOVE",
                         help="draw an arrow for this move; may be repeated")
    picture.add_argument("--check", metavar="SQUARE",
                         help="mark the king on this square (default: the side to move's, when in check)")
    picture.add_argument("--flip", action="store_true", help="draw the board from black's side")
    picture.add_argument("--size", type=_size, default=360, metavar="PIXELS",
                         help="width and height of the picture (default 360)")
    picture.add_argument("--no-coordinates", dest="coordinates", action="store_false",
                         help="leave out the file letters and rank numbers")
    for command in (perft, picture):
        command.add_argument(
            "fen", nargs="*", metavar="FEN",
            help="the position; its fields may be given as one argument or several "
                 "(default: the start position)",
        )
    games = commands.add_parser(
        "pgn",
        help="read PGN files: count games, plies and errors; write training arrays",
        description=(
            "Read PGN files (plain, .gz, .bz2, .xz, .zst) and print the number of games, "
            "plies and games with an error, the time and the plies per second."
        ),
    )
    games.add_argument("files", nargs="+", metavar="FILE", help="a PGN file")
    games.add_argument("--npz", metavar="OUT",
                       help="also write the training arrays (planes, moves, results, turns, games) "
                            "to this compressed .npz file")
    return parser


@contextlib.contextmanager
def _native_diagnostics_held() -> Iterator[None]:
    """Keep what native code writes to the standard error descriptor out of
    the terminal for the duration: an internal failure of the library writes a
    diagnostic there before it raises, and the command reports the failure
    itself, on one line."""
    sys.stderr.flush()
    try:
        saved = os.dup(2)
    except OSError:  # no standard error to protect
        yield
        return
    try:
        with tempfile.TemporaryFile() as sink:
            os.dup2(sink.fileno(), 2)
            try:
                yield
            finally:
                os.dup2(saved, 2)
    finally:
        os.close(saved)


def read_position(fen: str, command: str) -> Board:
    """The board of `fen`, or UsageError with the library's reason."""
    try:
        with _native_diagnostics_held():
            return Board(fen)
    except ValueError as error:
        reason = str(error).removeprefix("Invalid fen: ")
    except PanicException as error:
        reason = str(error) or type(error).__name__
    raise UsageError(f"{command}: invalid FEN {fen!r}: {reason}")


class _Progress:
    """One report per finished root move on standard error: an updating line
    on a terminal, plain lines otherwise."""

    def __init__(self, stream: TextIO, enabled: bool | None) -> None:
        self.stream = stream
        self.live = stream.isatty()
        self.enabled = self.live if enabled is None else enabled
        self.width = 0

    def report(self, done: int, total: int, move: str, nodes: int, elapsed: float) -> None:
        if not self.enabled:
            return
        text = f"perft: {done}/{total} root moves, {move} {nodes} nodes, {elapsed:.1f} s"
        if self.live:
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
        else:
            self.stream.write(text + "\n")
        self.stream.flush()

    def close(self) -> None:
        if self.enabled and self.live and self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()


def run_perft(fen: str, depth: int, divide: bool, progress: bool | None, prog: str) -> int:
    board = read_position(fen, f"{prog} perft")
    generator = MoveGenerator()
    try:
        perft(generator, Board(EMPTY_FEN), depth)
    except ValueError as error:
        raise UsageError(f"{prog} perft: {error}") from None
    out = sys.stdout
    if progress is None and divide and out.isatty():
        progress = False  # the rows on the terminal already show it
    ticker = _Progress(sys.stderr, progress)
    start = time.perf_counter()
    try:
        if depth == 0:
            nodes = 1
        else:
            moves = generator(board)
            nodes = 0
            for index, move in enumerate(moves, 1):
                board.push(move)
                below = perft(generator, board, depth - 1)
                board.pop()
                nodes += below
                if divide:
                    out.write(f"{move}: {below}\n")
                    out.flush()
                ticker.report(index, len(moves), move, below, time.perf_counter() - start)
    finally:
        ticker.close()
    elapsed = time.perf_counter() - start
    rate = nodes / elapsed if elapsed > 0 else float("inf")
    if divide:
        out.write("\n")
    out.write(f"nodes: {nodes}\n")
    out.write(f"time: {elapsed:.3f} s\n")
    out.write(f"nps: {rate:.0f}\n")
    return 0


def run_svg(fen: str, args: argparse.Namespace, prog: str) -> int:
    board = read_position(fen, f"{prog} svg")
    try:
        picture = svg.board(board, size=args.size, orientation="black" if args.flip else "white",
                            lastmove=args.lastmove, check=args.check, arrows=args.arrow,
                            coordinates=args.coordinates)
    except ValueError as error:
        raise UsageError(f"{prog} svg: {error}") from None
    sys.stdout.write(picture)
    return 0


class _ReadProgress:
    """Bytes read and games per second on standard error, updated in place;
    only on a terminal."""

    def __init__(self, stream: TextIO) -> None:
        self.stream = stream
        self.live = stream.isatty()
        self.width = 0
        self.shown = 0.0

    def report(self, name: str, position: int, size: int, games: int, elapsed: float) -> None:
        now = time.perf_counter()
        if not self.live or now - self.shown < 0.2:
            return
        self.shown = now
        rate = games / elapsed if elapsed > 0 else 0.0
        text = f"{name}: {position / 1e6:.1f} of {size / 1e6:.1f} MB, {games} games, {rate:,.0f} games/s"
        self.stream.write("\r" + text.ljust(self.width))
        self.width = len(text)
        self.stream.flush()

    def close(self) -> None:
        if self.live and self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()


def _pgn_files(files: Sequence[str], progress: _ReadProgress, start: float,
               read: Callable[[IO[bytes]], Iterable[int]], prog: str) -> None:
    """Runs read over the decompressed bytes of each file, reporting the
    bytes of the file read after each item read yields (its games so far)."""
    from mirelo_chess import pgn

    for name in files:
        try:
            raw, stream = pgn._open(name)
        except OSError as error:
            raise UsageError(f"{prog} pgn: cannot read {name!r}: {error.strerror or error}") from None
        size = os.fstat(raw.fileno()).st_size
        with raw, stream:
            try:
                for games in read(stream):
                    progress.report(name, raw.tell(), size, games, time.perf_counter() - start)
            except (OSError, EOFError) as error:  # a truncated or corrupt compressed file
                raise UsageError(f"{prog} pgn: cannot read {name!r}: {error}") from None


def run_pgn(files: Sequence[str], npz: str | None, prog: str) -> int:
    from mirelo_chess import pgn

    counts = {"games": 0, "plies": 0, "errors": 0}

    def read(stream: IO[bytes]) -> Iterator[int]:
        for game in pgn.read_games(stream):
            counts["games"] += 1
            counts["plies"] += len(game.moves)
            counts["errors"] += game.error is not None
            if counts["games"] & 255 == 0:
                yield counts["games"]

    progress = _ReadProgress(sys.stderr)
    start = time.perf_counter()
    try:
        _pgn_files(files, progress, start, read, prog)
        elapsed = time.perf_counter() - start
        if npz is not None:
            _write_training_arrays(files, npz, progress, prog)
    finally:
        progress.close()
    out = sys.stdout
    for name, value in counts.items():
        out.write(f"{name}: {value}\n")
    out.write(f"time: {elapsed:.3f} s\n")
    out.write(f"plies/s: {counts['plies'] / elapsed if elapsed > 0 else float('inf'):.0f}\n")
    return 0


def _write_training_arrays(files: Sequence[str], npz: str, progress: _ReadProgress, prog: str) -> None:
    try:
        import numpy as np
    except ImportError:
        raise UsageError(f'{prog} pgn: --npz needs NumPy: pip install "mirelo-chess[numpy]"') from None
    from mirelo_chess import pgn

    batches: list[pgn.Batch] = []

    def read(stream: IO[bytes]) -> Iterator[int]:
        for batch in pgn.training_batches(stream, batch_size=1 << 16):
            batches.append(batch)
            yield len(np.unique(batch.games))

    _pgn_files(files, progress, time.perf_counter(), read, prog)
    empty = {"planes": np.zeros((0, 12, 8, 8), np.uint8), "moves": np.zeros(0, np.int64),
             "results": np.zeros(0, np.int8), "turns": np.zeros(0, np.bool_), "games": np.zeros(0, np.int64)}
    arrays: dict[str, Any] = {field: np.concatenate([array, *(getattr(b, field) for b in batches)])
                              for field, array in empty.items()}
    try:
        np.savez_compressed(npz, **arrays)
    except OSError as error:
        raise UsageError(f"{prog} pgn: cannot write {npz!r}: {error.strerror or error}") from None


def _run(args_list: list[str], prog: str) -> int:
    args = build_parser(prog).parse_args(args_list)
    if args.command is None:
        raise UsageError(f"{prog}: choose a command: perft, svg or pgn (see --help)")
    if args.command == "pgn":
        return run_pgn(args.files, args.npz, prog)
    fen = " ".join(args.fen) if args.fen else Board().fen()
    if args.command == "svg":
        return run_svg(fen, args, prog)
    return run_perft(fen, args.depth, args.divide, args.progress, prog)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line (also the console script mirelo-chess); returns
    the exit status."""
    args_list = list(sys.argv[1:] if argv is None else argv)
    prog = program_name()
    try:
        try:
            return _run(args_list, prog)  # --help and --version end here too, with SystemExit
        finally:
            sys.stdout.flush()  # a reader that went away shows up here, not at exit
    except BrokenPipeError:
        # Nothing more can be shown; the interpreter's own flush at exit
        # must not fail again.
        with contextlib.suppress(OSError):
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
            os.close(devnull)
        return EXIT_BROKEN_PIPE
    except UsageError as error:
        sys.stderr.write(f"{error}\n")
        return EXIT_USAGE
    except KeyboardInterrupt:
        sys.stderr.write(f"{prog}: interrupted\n")
        return 130
    except PanicException as error:
        sys.stderr.write(f"{prog}: internal failure of the library: {error}\n")
        return EXIT_FAILURE


if __name__ == "__main__":
    sys.exit(main())
