"""The test positions, and perft through the public API to count on them.

The positions, with their published perft counts and the legal moves of some
in generation order, are read from ``positions.txt`` next to this module. The
pytest suite, the Python benchmarks (``bench/``) and the API fuzzer take them
from here; the GoogleTest suite, the native perft benchmark and the seeds of
the native fuzzers read the same file.
"""

from __future__ import annotations

import os
from typing import Any, NamedTuple

from mirelo_chess import Board, MoveGenerator

POSITIONS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "positions.txt")


class Position(NamedTuple):
    name: str
    fen: str
    perft: tuple[int, ...]  # counts from depth 1; empty when none are given
    moves: list[str] | None  # the legal moves in generation order, when given

    def depth_within(self, nodes: int) -> int:
        """The deepest depth whose perft count is at most `nodes` (at least 1)."""
        return max([1] + [depth for depth, count in enumerate(self.perft, 1) if count <= nodes])


def read_positions(path: str = POSITIONS_FILE) -> dict[str, Position]:
    positions: dict[str, Position] = {}
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            if not line.strip() or line.startswith("#"):
                continue
            name, fen, counts, moves = (field.strip() for field in line.split(" | "))
            positions[name] = Position(
                name, fen,
                () if counts == "-" else tuple(int(c) for c in counts.split()),
                None if moves == "-" else [] if moves == "none" else moves.split(),
            )
    return positions


POSITIONS = read_positions()

# The positions with published perft counts, the ones every benchmark runs.
BENCHMARK_POSITIONS = [p for p in POSITIONS.values() if p.perft]


def perft(generator: MoveGenerator, board: Board, depth: int) -> int:
    """Number of legal move paths of `depth` plies from `board`, which is
    left as it was; the last ply is counted, not played."""
    if depth == 0:
        return 1
    moves = generator(board)
    if depth == 1:
        return len(moves)
    push, pop = board.push, board.pop
    total = 0
    for move in moves:
        push(move)
        total += perft(generator, board, depth - 1)
        pop()
    return total


def chess_perft(board: Any, depth: int) -> int:
    """The same count on a python-chess board: the baseline of the benchmark
    and an oracle for the tests (python-chess is not needed to import this)."""
    if depth == 0:
        return 1
    if depth == 1:
        return int(board.legal_moves.count())
    push, pop = board.push, board.pop
    total = 0
    for move in board.legal_moves:
        push(move)
        total += chess_perft(board, depth - 1)
        pop()
    return total
