"""Where a game stands: check, repetitions, outcome, position key and perft.

Every function reads the board it is given and leaves it as it was. A
``board`` that is not a ``Board`` or a ``generator`` that is not a
``MoveGenerator`` raises ``TypeError``. Each function's documentation is its
run-time docstring (``help(mirelo_chess.game.perft)``).
"""

from typing import Literal

from mirelo_chess import Board, MoveGenerator

__all__ = ["is_check", "repetitions", "outcome", "zobrist_key", "perft", "divide"]

def is_check(board: Board) -> bool: ...

def repetitions(board: Board) -> int: ...

def outcome(
    generator: MoveGenerator, board: Board
) -> Literal["checkmate", "stalemate", "insufficient_material", "fivefold_repetition"] | None: ...

def zobrist_key(board: Board) -> int: ...

def perft(generator: MoveGenerator, board: Board, depth: int) -> int: ...

def divide(generator: MoveGenerator, board: Board, depth: int) -> list[tuple[str, int]]: ...
