"""The command line, `python -m mirelo_chess`, run as a separate process:
move-path counts against the library's and python-chess's, the per-move
breakdown, progress reports, and bad input, which must end with one line on
standard error and no traceback."""

import importlib.metadata
import os
import re
import subprocess
import sys

import chess
import pytest

from mirelo_chess import Board
from mirelo_chess.game import divide, perft
from positions import chess_perft
from support import KIWIPETE, POSITIONS, START

ENDGAME = POSITIONS["pos3"].fen
PROMOTIONS = POSITIONS["pos5"].fen


def run(tmp_path, *args, check_clean=True):
    """Runs the command line from a scratch folder (so that the source tree
    never shadows the installed package)."""
    done = subprocess.run(
        [sys.executable, "-m", "mirelo_chess", *args],
        cwd=tmp_path, capture_output=True, text=True, timeout=300,
    )
    if check_clean:
        assert "Traceback" not in done.stderr, done.stderr
    return done


def run_code(tmp_path, code):
    """Runs Python code from a scratch folder."""
    return subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                          text=True, timeout=60)


def summary(stdout):
    """The three closing lines: nodes, time, nodes per second."""
    lines = stdout.splitlines()[-3:]
    assert [line.split(":")[0] for line in lines] == ["nodes", "time", "nps"], stdout
    nodes = int(lines[0].split(": ")[1])
    seconds_text, unit = lines[1].split(": ")[1].split(" ")
    assert unit == "s"
    seconds = float(seconds_text)
    assert seconds >= 0
    assert lines[2].split(": ")[1] in ("inf",) or int(lines[2].split(": ")[1]) >= 0
    return nodes


@pytest.mark.parametrize("fen, depth", [
    (START, 0),
    (START, 1),
    (START, 3),
    (KIWIPETE, 3),
    (ENDGAME, 4),
    (PROMOTIONS, 3),
])
def test_perft_counts_are_the_librarys(tmp_path, generator, fen, depth):
    done = run(tmp_path, "perft", "--depth", str(depth), fen)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    assert done.stdout.count("\n") == 3
    assert summary(done.stdout) == perft(generator, Board(fen), depth)


def test_default_position_and_fen_as_separate_words(tmp_path, generator):
    default = run(tmp_path, "perft", "-d", "3")
    words = run(tmp_path, "perft", "--depth=3", *KIWIPETE.split())
    assert default.returncode == 0 and words.returncode == 0
    assert summary(default.stdout) == perft(generator, Board(), 3)
    assert summary(words.stdout) == perft(generator, Board(KIWIPETE), 3)


def _chess_divide(fen, depth):
    board = chess.Board(fen)
    counts = {}
    for move in board.legal_moves:
        board.push(move)
        counts[move.uci()] = chess_perft(board, depth - 1)
        board.pop()
    return counts


@pytest.mark.parametrize("fen, depth", [
    (START, 2),
    (KIWIPETE, 2),
    (PROMOTIONS, 2),
    (ENDGAME, 3),
])
def test_divide_lists_each_root_move_in_generation_order(tmp_path, generator, fen, depth):
    done = run(tmp_path, "perft", "--divide", "--depth", str(depth), fen)
    assert done.returncode == 0, done.stderr
    body, _, tail = done.stdout.partition("\n\n")
    rows = [line.split(": ") for line in body.splitlines()]
    assert [move for move, _ in rows] == generator(Board(fen))
    assert [(move, int(count)) for move, count in rows] == divide(generator, Board(fen), depth)
    divided = {move: int(count) for move, count in rows}
    assert divided == _chess_divide(fen, depth)
    assert summary(tail) == sum(divided.values())


def test_divide_at_depth_zero_lists_nothing(tmp_path):
    done = run(tmp_path, "perft", "--divide", "--depth", "0")
    assert done.returncode == 0
    assert done.stdout.startswith("\nnodes: 1\n")


def test_progress_reports_each_root_move_on_stderr(tmp_path, generator):
    shown = run(tmp_path, "perft", "--progress", "--depth", "2", KIWIPETE)
    assert shown.returncode == 0
    lines = shown.stderr.splitlines()
    moves = generator(Board(KIWIPETE))
    assert len(lines) == len(moves) == 48
    for index, (line, move) in enumerate(zip(lines, moves), 1):
        assert line.startswith(f"perft: {index}/48 root moves, {move} "), line
    assert summary(shown.stdout) == perft(generator, Board(KIWIPETE), 2)
    hidden = run(tmp_path, "perft", "--no-progress", "--depth", "2", KIWIPETE)
    assert hidden.stderr == "" and hidden.stdout.count("\n") == 3


@pytest.mark.parametrize("args, words", [
    (["perft", "--depth", "x"], ["depth", "'x'"]),
    (["perft", "--depth", "-1"], ["depth", "-1"]),
    (["perft", "--depth", "33"], ["depth", "33"]),
    (["perft", "--depth", "2.5"], ["depth", "2.5"]),
    (["perft", "--depth", ""], ["depth"]),
    (["perft", "--depth"], ["--depth"]),
    (["perft", "--bogus"], ["--bogus"]),
    # Internal failures of the FEN reader: not a piece letter, missing fields.
    (["perft", "x"], ["FEN", "'x'", "Invalid piece type"]),
    (["perft", START.replace("K", "X", 1)], ["FEN", "Invalid piece type"]),
    (["perft", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR"], ["FEN", "side to move"]),
    (["perft", "8/8/8/8/8/8/8/8 w KQ"], ["FEN", "en passant"]),
    (["perft", ""], ["FEN"]),
    (["perft", "   "], ["FEN"]),
    # Errors reported by the reader: bad side to move, bad castling.
    (["perft", "8/8/8/8/8/8/8/8 x - -"], ["FEN", "Invalid side-to-move"]),
    (["perft", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkx -"], ["FEN", "Invalid castling specifier"]),
    # A line break in the text stays escaped in the one-line message.
    (["perft", "--depth", "1", "8/8/8/8/8/8/8/8\nz", "-", "-"], ["FEN", "\\n", "Invalid side-to-move"]),
    ([], ["command"]),
    (["perf"], ["perf"]),
    (["bench"], ["bench"]),  # the benchmarks live in the source tree, not in the package
])
def test_bad_input_gives_one_line_and_no_traceback(tmp_path, args, words):
    done = run(tmp_path, *args)
    assert done.returncode == 2
    assert done.stdout == ""
    assert "Traceback" not in done.stderr
    assert done.stderr.endswith("\n")
    lines = done.stderr.splitlines()
    assert len(lines) == 1, done.stderr
    assert lines[0].startswith("python -m mirelo_chess")
    for word in words:
        assert word in lines[0], lines[0]


def test_help(tmp_path):
    top = run(tmp_path, "--help")
    assert top.returncode == 0 and top.stderr == ""
    assert top.stdout.startswith("usage: python -m mirelo_chess ")
    assert "perft" in top.stdout
    perft = run(tmp_path, "perft", "--help")
    assert perft.returncode == 0
    for option in ("--depth", "--divide", "--progress", "FEN"):
        assert option in perft.stdout


def test_version_is_the_installed_distribution(tmp_path):
    done = run(tmp_path, "--version")
    assert done.returncode == 0 and done.stderr == ""
    version = importlib.metadata.version("mirelo-chess")
    assert re.fullmatch(r"[0-9]+(\.[0-9]+)+", version), version
    assert done.stdout == f"mirelo-chess {version}\n"


@pytest.mark.parametrize("args", [
    ["perft", "--depth", "2", KIWIPETE],
    ["--help"],
    ["--version"],
    ["perft", "--depth", "x"],
])
def test_console_script_is_the_module_under_its_own_name(tmp_path, args):
    script = os.path.join(os.path.dirname(sys.executable), "mirelo-chess")
    done = subprocess.run([script, *args], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    module = run(tmp_path, *args)
    assert done.returncode == module.returncode
    assert "python -m" not in done.stdout + done.stderr
    # The same output but for the program's name and the timings of perft.
    for mine, theirs in ((done.stdout, module.stdout), (done.stderr, module.stderr)):
        theirs = theirs.replace("python -m mirelo_chess", "mirelo-chess")
        assert re.sub(r"(time|nps): .*", "", mine) == re.sub(r"(time|nps): .*", "", theirs)


def test_closed_pipe_ends_quietly(tmp_path):
    # The reader goes away after the first row, as `perft --divide | head -1` does.
    process = subprocess.Popen(
        [sys.executable, "-m", "mirelo_chess", "perft", "--divide", "--depth", "5"],
        cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert process.stdout.readline() == "b1c3: 234656\n"
    process.stdout.close()
    stderr = process.stderr.read()
    assert process.wait(timeout=300) == 141
    assert stderr == ""


def test_importing_the_entry_module_runs_nothing(tmp_path):
    done = run_code(tmp_path, "import sys; sys.argv = ['x', 'perft', '--depth', '9']\n"
                              "import mirelo_chess.__main__ as cli\n"
                              "print(cli.perft(cli.MoveGenerator(), cli.Board(), 2))\n")
    assert done.returncode == 0, done.stderr
    assert (done.stdout, done.stderr) == ("400\n", "")
