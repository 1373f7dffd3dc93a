"""Helpers shared by the test modules (their fixtures are in conftest.py):
the internal-failure class, the test positions with their perft counts and
move lists, positions rich in special moves, random legal positions and
biased move choices for differential games against python-chess, and a
python-chess oracle for the four-field FEN this library writes."""

import chess

from mirelo_chess import Board
from mirelo_chess.errors import PanicException  # noqa: F401 - the internal failure, for the test modules
from mirelo_chess.game import zobrist_key
from positions import POSITIONS

START = POSITIONS["start"].fen
KIWIPETE = POSITIONS["kiwipete"].fen




def assert_panics(call, message=None):
    """call() fails with the internal-failure exception (not an Exception),
    with this message when one is given."""
    try:
        call()
    except BaseException as e:  # noqa: B902
        assert type(e) is PanicException, repr(e)
        assert not isinstance(e, Exception)
        if message is not None:
            assert str(e) == message
        return
    raise AssertionError("no internal failure raised")


def four_fields(pc):
    """python-chess's FEN without the move counters, the en-passant square
    written after every double step."""
    return " ".join(pc.fen(en_passant="fen").split()[:4])


# pos4 with colours and sides swapped: the same counts, black to move.
POS4_MIRRORED = four_fields(chess.Board(POSITIONS["pos4"].fen).mirror())

# Starting points of differential games: the positions with perft counts and
# more with castling, en passant and promotions in reach.
RICH_FENS = [
    *(POSITIONS[name].fen for name in ("start", "kiwipete", "pos3", "pos4")),
    POS4_MIRRORED,
    *(POSITIONS[name].fen for name in ("pos5", "pos6")),
    # castling with attacked squares around
    *(POSITIONS[name].fen for name in ("castling_white", "castling_black")),
    "r3k2r/1b4bq/8/8/8/8/7B/R3K2R w KQkq -",
    "r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq -",
    "5k2/8/8/8/8/8/8/4K2R w K -",
    "3k4/8/8/8/8/8/8/R3K3 w Q -",
    "r3k2r/p6p/8/B7/1pp1p3/3b4/P6P/R3K2R w KQkq -",
    # en passant, with rank pins, diagonal pins and checks
    POSITIONS["en_passant_rank_pin"].fen,
    "8/8/8/8/R4pPk/8/8/4K3 b - g3",
    "8/8/8/2k5/3Pp3/8/8/4K1B1 b - d3",
    "8/8/8/4k3/2pP4/8/8/4K3 b - d3",
    "8/8/1k6/2b5/2pP4/8/5K2/8 b - d3",
    "8/8/8/8/k2Pp2Q/8/8/3K4 b - d3",
    "3k4/3p4/8/K1P4r/8/8/8/8 b - -",
    "rnbqkbnr/pp1ppppp/8/8/2pPP3/8/PPP2PPP/RNBQKBNR b KQkq d3",
    "4k3/8/8/8/3pPp2/8/8/4K3 b - e3",
    "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6",
    "4k3/pppppppp/8/1P1P1P1P/P1P1P1P1/8/8/4K3 b - -",
    "4k3/8/8/p1p1p1p1/1p1p1p1p/8/PPPPPPPP/4K3 w - -",
    "7k/8/8/1r2pP1K/8/8/8/8 w - e6",
    # promotions, discovered and double checks
    "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - -",
    "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N w - -",
    "2K2r2/4P3/8/8/8/8/8/3k4 w - -",
    "8/8/1P2K3/8/2n5/1q6/8/5k2 b - -",
    "4k3/1P6/8/8/8/8/K7/8 w - -",
    "8/P1k5/K7/8/8/8/8/8 w - -",
    "K1k5/8/P7/8/8/8/8/8 w - -",
    "8/k1P5/8/1K6/8/8/8/8 w - -",
    "8/8/2k5/5q2/5n2/8/5K2/8 b - -",
    "1k6/1b6/8/8/7R/8/8/4K2R b K -",
    "r1bqk2r/pppp1ppp/2n2n2/1Bb1p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq -",
]


def snapshot(board):
    """What a call that must change nothing could change."""
    return board.fen(), board.turn(), board.bitboard(), zobrist_key(board), history_fens(board)


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


def en_passant_opener(pc, m):
    """A double step that lands beside an enemy pawn."""
    if pc.piece_type_at(m.from_square) != chess.PAWN or abs(m.to_square - m.from_square) != 16:
        return False
    enemy = not pc.turn
    f = chess.square_file(m.to_square)
    for df in (-1, 1):
        if 0 <= f + df <= 7:
            sq = m.to_square + df
            p = pc.piece_at(sq)
            if p is not None and p.piece_type == chess.PAWN and p.color == enemy:
                return True
    return False


def biased_choice(rng, pc, moves):
    """Pick a move, preferring castling, en passant, promotions, moves that
    open en passant, checks and captures."""
    special = [m for m in moves
               if m.promotion or pc.is_castling(m) or pc.is_en_passant(m) or en_passant_opener(pc, m)]
    if special and rng.random() < 0.7:
        return rng.choice(special)
    r = rng.random()
    if r < 0.3:
        checks = [m for m in moves if pc.gives_check(m)]
        if checks:
            return rng.choice(checks)
    elif r < 0.5:
        captures = [m for m in moves if pc.is_capture(m)]
        if captures:
            return rng.choice(captures)
    return rng.choice(moves)


def random_position(rng):
    """A random legal position with both kings, pawns near promotion, castling
    rights where king and rook allow them and an en-passant square where a
    double step could just have happened."""
    while True:
        pc = chess.Board(None)
        squares = list(range(64))
        rng.shuffle(squares)
        free = set(squares)

        def put(sq, piece):
            pc.set_piece_at(sq, piece)
            free.discard(sq)

        for color, home in ((chess.WHITE, chess.E1), (chess.BLACK, chess.E8)):
            if rng.random() < 0.5 and home in free:
                put(home, chess.Piece(chess.KING, color))
                for corner in ((chess.A1, chess.H1) if color else (chess.A8, chess.H8)):
                    if rng.random() < 0.6 and corner in free:
                        put(corner, chess.Piece(chess.ROOK, color))
            else:
                put(rng.choice(sorted(free)), chess.Piece(chess.KING, color))
        turn = rng.random() < 0.5
        if rng.random() < 0.5:
            # a pawn that may just have stepped twice, with a capturer beside it
            rank = 4 if turn == chess.WHITE else 3
            f = rng.randint(0, 7)
            g = f + rng.choice([-1, 1])
            if 0 <= g <= 7 and chess.square(f, rank) in free and chess.square(g, rank) in free:
                put(chess.square(f, rank), chess.Piece(chess.PAWN, not turn))
                put(chess.square(g, rank), chess.Piece(chess.PAWN, turn))
        for color in (chess.WHITE, chess.BLACK):
            for _ in range(rng.randint(0, 5)):
                rank = rng.choice([1, 2, 3, 4, 5, 6, 6, 1, 4, 3])
                sq = chess.square(rng.randint(0, 7), rank)
                if sq in free:
                    put(sq, chess.Piece(chess.PAWN, color))
            for _ in range(rng.randint(0, 4)):
                kind = rng.choice([chess.KNIGHT, chess.BISHOP, chess.ROOK, chess.QUEEN])
                sq = rng.choice(sorted(free))
                put(sq, chess.Piece(kind, color))
        pc.turn = turn
        rights = 0
        for corner, king in ((chess.H1, chess.E1), (chess.A1, chess.E1),
                             (chess.H8, chess.E8), (chess.A8, chess.E8)):
            color = chess.WHITE if king == chess.E1 else chess.BLACK
            if (pc.piece_at(king) == chess.Piece(chess.KING, color)
                    and pc.piece_at(corner) == chess.Piece(chess.ROOK, color)
                    and rng.random() < 0.8):
                rights |= chess.BB_SQUARES[corner]
        pc.castling_rights = rights
        # en passant: a pawn of the side not to move on its fourth rank with an
        # empty path behind it
        ep_rank, behind = (4, 1) if pc.turn == chess.WHITE else (3, -1)
        candidates = []
        for f in range(8):
            sq = chess.square(f, ep_rank)
            p = pc.piece_at(sq)
            if p == chess.Piece(chess.PAWN, not pc.turn):
                if pc.piece_at(sq + 8 * behind) is None and pc.piece_at(sq + 16 * behind) is None:
                    candidates.append(sq + 8 * behind)
        if candidates and rng.random() < 0.8:
            pc.ep_square = rng.choice(candidates)
        if pc.is_valid():
            return pc


def sneaky_argument(on_name_read):
    """A non-str object: the conversion error of push reads the __qualname__
    of its type, which runs on_name_read() while push holds the board."""

    class Meta(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                on_name_read()
                return "Sneaky"
            return super().__getattribute__(name)

    class Sneaky(metaclass=Meta):
        pass

    return Sneaky()


def raised_by(call, *args):
    """The exception that call(*args) raised, or None."""
    try:
        call(*args)
    except BaseException as e:  # noqa: B036
        return e
    return None
