"""Chess positions for Python from a C++ core.

``Board`` is a position read from FEN; it plays moves given in long algebraic
notation and takes them back exactly. ``MoveGenerator`` lists the legal moves
of a board in a fixed order.

Two kinds of failure reach Python. Bad input that the library anticipates (a
malformed FEN field, a bad move text, an impossible promotion) raises
``ValueError``. An internal check that fails (a missing FEN field, a move from
an empty square, ``pop`` with no history, ...) raises
``pyo3_runtime.PanicException``, which derives from ``BaseException`` and so is
not caught by ``except Exception``.
"""

from typing import Literal, final

__all__ = ["Board", "MoveGenerator"]

@final
class Board:
    """A chess position: twelve piece bitboards, side to move, castling
    rights and en-passant file, plus the history of the moves played on it.

    There are no move counters: FEN text is read with four significant fields
    (placement, side to move, castling, en passant; later fields are ignored)
    and written with exactly those four.
    """

    def __new__(cls, fen: str = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -") -> Board:
        """Read a position from FEN (the standard start position by default).

        Raises ``ValueError`` ("Invalid fen: ...") for a bad side-to-move or
        castling field, and ``PanicException`` for a missing field or a
        placement character that is not a piece letter, digit or "/". The
        en-passant field is not validated: only its first character, a file
        letter, is read.
        """

    @staticmethod
    def bitboard_from_fen(fen: str) -> list[list[bool]]:
        """The piece placement of a FEN text as 12 planes of 64 flags, without
        building a board. Only the placement field is read; the text may be
        that field alone.

        The planes have the layout of ``bitboard()``.
        """

    def fen(self) -> str:
        """The position as FEN with four fields: placement, side to move,
        castling rights ("-" for none) and en-passant square ("-" for none)."""

    def push(self, chess_move: str) -> None:
        """Play a move given in long algebraic notation ("e2e4", "e1g1" for
        castling, "e7e8q" for a promotion). The move is not checked for
        legality: take the texts from a ``MoveGenerator`` for legal play.

        Raises ``ValueError`` ("Invalid chess move: ...") for a text that is
        not 4 or 5 characters long, a bad promotion letter, a pawn reaching
        the last rank without one, or a destination occupied by the mover's
        own piece; ``PanicException`` for a square outside a1 to h8 or a move
        from an empty square. The board is unchanged in every case.
        """

    def pop(self) -> None:
        """Take back the last move played with ``push``, restoring the
        position exactly. Raises ``PanicException`` when there is none."""

    def bitboard(self) -> list[list[bool]]:
        """The piece placement as 12 lists of 64 bools.

        Plane i is piece P, N, B, R, Q, K (white, 0 to 5) then p, n, b, r, q,
        k (black, 6 to 11); element j is square j, a1 = 0, h1 = 7, a8 = 56,
        h8 = 63. Side to move, castling and en passant are not included.
        """

    def turn(self) -> Literal["white", "black"]:
        """The side to move."""

    def reflect(self) -> None:
        """Mirror the position colour for colour, in place: every piece
        changes colour and moves to the same file on the mirrored rank (1 with
        8, 2 with 7, ...), and the side to move, castling rights and
        en-passant file follow. The move history is cleared."""

    def copy(self) -> Board:
        """An independent board with the same position and move history."""

@final
class MoveGenerator:
    """Lists legal moves. Building one precomputes 4 MiB of attack tables:
    create it once and call it with any number of boards."""

    def __new__(cls) -> MoveGenerator: ...
    def __call__(self, board: Board) -> list[str]:
        """The legal moves of the side to move, as long algebraic texts in a
        fixed order: king moves (castling last), knights, pawns, rooks and
        queens along lines, bishops and queens along diagonals, each group by
        ascending origin square. Checkmate and stalemate give an empty list.

        The board is only read: candidate moves are tried on a copy of its
        pieces, never on the board itself.
        """
