"""Where a game stands: check, repetitions, outcome, position key and perft.

Every function reads the board it is given and leaves it as it was. A
``board`` that is not a ``Board`` or a ``generator`` that is not a
``MoveGenerator`` raises ``TypeError``.
"""

from typing import Literal

from mirelo_chess import Board, MoveGenerator

__all__ = ["is_check", "repetitions", "outcome", "zobrist_key", "perft", "divide"]

def is_check(board: Board) -> bool:
    """Whether the king of the side to move is attacked (``False`` when that
    side has no king)."""

def repetitions(board: Board) -> int:
    """How many times the current position has occurred in the board's
    history, this occurrence included (1 when it is new).

    The history is what ``pop()`` can take back: ``copy()`` keeps it,
    ``reflect()`` clears it. Positions are compared as the repetition rule
    does: the same placement, side to move and castling rights, where a right
    counts only while its king and rook stand on their home squares, and the
    same en-passant capture, which counts only when it is legal.
    """

def outcome(
    generator: MoveGenerator, board: Board
) -> Literal["checkmate", "stalemate", "insufficient_material", "fivefold_repetition"] | None:
    """How the game has ended, or ``None`` while it goes on.

    ``"checkmate"`` and ``"stalemate"``: the side to move has no legal move,
    with or without its king attacked. ``"insufficient_material"``: neither
    side can ever mate (a lone king, or a single minor piece that no
    opposing pawn, knight, bishop or rook could help to a self-mate, or
    bishops that all stand on one square colour). ``"fivefold_repetition"``:
    ``repetitions(board)`` is 5 or more. Where several apply, the first in
    the order checkmate, insufficient material, stalemate, fivefold
    repetition is reported. There are no move counters, so there is no
    fifty- or seventy-five-move rule.
    """

def zobrist_key(board: Board) -> int:
    """The board's 64-bit position key (0 to 2**64 - 1), kept in step by
    every move.

    The key is the XOR of one fixed random value per piece on a square, per
    castling right and en-passant file held, and for white to move. Equal
    positions have equal keys however they were reached, and a board's key
    equals that of ``Board(board.fen())``, unless the board holds an
    en-passant right that its FEN cannot show (as a move played out of turn
    leaves). ``reflect()`` gives the mirrored position its own key. Unlike
    ``repetitions``, the key
    counts the castling rights and en-passant file as the board holds them,
    usable or not. The values are fixed: the same position has the same key
    in every process and every release (the start position's is
    ``0x667057D6B81EBFB3``).
    """

def perft(generator: MoveGenerator, board: Board, depth: int) -> int:
    """The number of legal move paths of ``depth`` plies from the board
    (1 for depth 0), counted natively.

    ``depth`` runs from 0 to 32; outside that range ``ValueError``.
    """

def divide(generator: MoveGenerator, board: Board, depth: int) -> list[tuple[str, int]]:
    """``perft`` split by root move: one ``(move, count)`` pair per legal move,
    in the generator's order, ``count`` being the paths of ``depth`` plies
    that start with that move (empty for depth 0)."""
