"""Helpers shared by the test modules: the internal-failure class, the test
positions with their perft counts and move lists, and a python-chess oracle
for the four-field FEN this library writes."""

import chess

from mirelo_chess import Board
from positions import POSITIONS, chess_perft, perft  # noqa: F401 - used by the test modules

START = POSITIONS["start"].fen
KIWIPETE = POSITIONS["kiwipete"].fen


def _panic_type():
    try:
        Board("x")
    except BaseException as e:  # noqa: B036 - the internal failure is a BaseException
        return type(e)
    raise AssertionError("Board('x') did not fail")


# The internal-failure exception; it is not a module attribute.
PanicException = _panic_type()


def castling_text(pc):
    rights = pc.castling_rights
    text = "".join(letter for letter, square in (("K", chess.H1), ("Q", chess.A1),
                                                  ("k", chess.H8), ("q", chess.A8))
                   if rights & chess.BB_SQUARES[square])
    return text or "-"


def expected_fen(pc):
    """The four-field text of a python-chess position reached by legal
    play, with the en-passant square written after every double pawn step
    (whether or not a capture is possible), as this library keeps it."""
    ep = "-"
    if not pc.move_stack and pc.ep_square is not None:  # as read from the text
        ep = chess.square_name(pc.ep_square)
    if pc.move_stack:
        move = pc.peek()
        if (pc.piece_type_at(move.to_square) == chess.PAWN and move.promotion is None
                and abs(move.to_square - move.from_square) == 16):
            ep = chess.square_name((move.from_square + move.to_square) // 2)
    side = "w" if pc.turn == chess.WHITE else "b"
    return " ".join([pc.board_fen(), side, castling_text(pc), ep])


def history_fens(board):
    """FENs met while taking back every move of a copy of `board`, newest
    first. The copy ends on an empty history, which must be reported as such."""
    c = board.copy()
    fens = []
    while True:
        try:
            c.pop()
        except BaseException as e:  # noqa: B036
            assert type(e) is PanicException
            assert str(e) == "No move to take back"
            return fens
        fens.append(c.fen())


def pick_move(rng, pc):
    """A legal python-chess move with special moves favoured (en passant,
    double steps, promotions, castling, captures); None when there is none."""
    moves = list(pc.legal_moves)
    if not moves:
        return None
    en_passant = [m for m in moves if pc.is_en_passant(m)]
    if en_passant and rng.random() < 0.8:
        return rng.choice(en_passant)
    double_steps = [m for m in moves if abs(m.to_square - m.from_square) == 16
                    and pc.piece_type_at(m.from_square) == chess.PAWN]
    if double_steps and rng.random() < 0.25:
        return rng.choice(double_steps)
    special = [m for m in moves if m.promotion or pc.is_castling(m) or pc.is_en_passant(m)
               or pc.is_capture(m)]
    if special and rng.random() < 0.4:
        return rng.choice(special)
    return rng.choice(moves)
