"""Legal move generation: exact order, special moves, board left untouched,
perft through the Python API and a differential check against python-chess."""

import platform
import random
import sys

import chess
import pytest

from mirelo_chess import Board, MoveGenerator
from support import KIWIPETE, POSITIONS, START, PanicException, history_fens, perft

ENDGAME = POSITIONS["pos3"].fen
PROMOTION_MIX = POSITIONS["pos4"].fen
PROMOTION_MIX_BLACK = "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ -"  # pos4 mirrored
BISHOP_CHECK = POSITIONS["pos5"].fen

WHITE_KING_E1 = ["e1e2", "e1f1", "e1d1", "e1f2", "e1d2"]
BLACK_KING_E8 = ["e8e7", "e8f8", "e8d8", "e8d7", "e8f7"]


@pytest.fixture(scope="module")
def gen():
    return MoveGenerator()


def snapshot(board):
    return board.fen(), board.turn(), board.bitboard(), history_fens(board)


# ---------------------------------------------------------------------------
# Exact order on hand-checked positions
# ---------------------------------------------------------------------------

# The positions listed with their legal moves in the shared positions file.
ORDER_CASES = {p.name: (p.fen, p.moves) for p in POSITIONS.values() if p.moves is not None}


@pytest.mark.parametrize("fen,expected", ORDER_CASES.values(), ids=ORDER_CASES.keys())
def test_exact_order(gen, fen, expected):
    board = Board(fen)
    before = snapshot(board)
    assert gen(board) == expected
    assert snapshot(board) == before


def test_en_passant_also_offered_when_target_holds_enemy_piece(gen):
    # The en-passant bit is open on d6 but a knight stands there: the plain
    # capture comes first, then the en-passant form of the same squares.
    board = Board("4k3/8/3n4/3pP3/8/8/8/4K3 w - d6")
    assert gen(board) == WHITE_KING_E1 + ["e5d6", "e5d6", "e5e6"]
    # either form of the move takes the knight and leaves the d5 pawn
    board.push("e5d6")
    assert board.fen() == "4k3/8/3P4/3p4/8/8/8/4K3 b - -"


def test_en_passant_needs_the_bit_of_the_right_file(gen):
    # a pawn next to a black pawn, but the open file is elsewhere: no capture
    board = Board("4k3/8/8/3pP1p1/8/8/8/4K3 w - g6")
    moves = gen(board)
    assert "e5d6" not in moves
    assert "e5f6" not in moves
    assert moves == WHITE_KING_E1 + ["e5e6"]


@pytest.mark.parametrize(
    "fen,present,absent",
    [
        # enemy piece on b1 blocks queen side as well
        ("4k3/8/8/8/8/8/8/Rn2K3 w Q -", [], ["e1c1"]),
        ("rn2k3/8/8/8/8/8/8/4K3 b q -", [], ["e8c8"]),
        ("rN2k3/8/8/8/8/8/8/4K3 b q -", [], ["e8c8"]),
        # attack on c1 or on d1 forbids the queen side
        ("2r1k3/8/8/8/8/8/8/R3K3 w Q -", [], ["e1c1"]),
        ("3rk3/8/8/8/8/8/8/R3K3 w Q -", [], ["e1c1"]),
        # attack on f1 or g1 forbids the king side, queen side is unaffected
        ("4kr2/8/8/8/8/8/8/R3K2R w KQ -", ["e1c1"], ["e1g1"]),
        ("4k1r1/8/8/8/8/8/8/R3K2R w KQ -", ["e1c1"], ["e1g1"]),
        # a rook standing under attack does not matter
        ("4k2r/8/8/8/8/8/8/R3K2R w KQ -", ["e1g1", "e1c1"], []),
        # pieces between king and rook
        ("4k3/8/8/8/8/8/8/R3KB1R w KQ -", ["e1c1"], ["e1g1"]),
        ("4k3/8/8/8/8/8/8/R3K1NR w KQ -", ["e1c1"], ["e1g1"]),
        ("4k3/8/8/8/8/8/8/R2QK2R w KQ -", ["e1g1"], ["e1c1"]),
        ("4k3/8/8/8/8/8/8/R1B1K2R w KQ -", ["e1g1"], ["e1c1"]),
        # in check: neither side
        ("4r2k/8/8/8/8/8/8/R3K2R w KQ -", [], ["e1g1", "e1c1"]),
        ("r3k2r/8/8/8/8/8/8/4R2K b kq -", [], ["e8g8", "e8c8"]),
        ("4k3/8/8/8/8/5n2/8/R3K2R w KQ -", [], ["e1g1", "e1c1"]),
        # the rights alone are not enough: the matching bit must be set
        ("4k3/8/8/8/8/8/8/R3K2R w K -", ["e1g1"], ["e1c1"]),
        ("4k3/8/8/8/8/8/8/R3K2R w Q -", ["e1c1"], ["e1g1"]),
        ("4k3/8/8/8/8/8/8/R3K2R w kq -", [], ["e1g1", "e1c1"]),
        # rights of the side not to move are not used
        ("r3k2r/8/8/8/8/8/8/R3K2R b KQ -", [], ["e1g1", "e1c1", "e8g8", "e8c8"]),
    ],
)
def test_castling_conditions(gen, fen, present, absent):
    board = Board(fen)
    before = board.fen()
    moves = gen(board)
    for m in present:
        assert m in moves
    for m in absent:
        assert m not in moves
    assert board.fen() == before


@pytest.mark.parametrize(
    "fen,expected",
    [
        # king on f1 / d1 with both rights set: only ordinary king steps
        ("4k3/8/8/8/8/8/8/R4K1R w KQ -",
         ["f1f2", "f1g1", "f1e1", "f1g2", "f1e2",
          "a1b1", "a1c1", "a1d1", "a1e1", "a1a2", "a1a3", "a1a4", "a1a5", "a1a6", "a1a7", "a1a8",
          "h1g1", "h1h2", "h1h3", "h1h4", "h1h5", "h1h6", "h1h7", "h1h8"]),
        ("4k3/8/8/8/8/8/8/3K4 w KQ -",
         ["d1d2", "d1e1", "d1c1", "d1e2", "d1c2"]),
        ("3k4/8/8/8/8/8/8/4K3 b kq -",
         ["d8d7", "d8e8", "d8c8", "d8c7", "d8e7"]),
        # white king on e8 is not on its home square either
        ("4K3/8/8/8/8/8/8/k7 w KQ -",
         ["e8e7", "e8f8", "e8d8", "e8d7", "e8f7"]),
    ],
)
def test_no_castling_off_home_square(gen, fen, expected):
    assert gen(Board(fen)) == expected


@pytest.mark.parametrize(
    "fen",
    [
        "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -",  # fool's mate
        "r1bqkb1r/pppp1Qpp/2n2n2/4p3/2B1P3/8/PPPP1PPP/RNB1K1NR b KQkq -",  # scholar's mate
        "R5k1/5ppp/8/8/8/8/8/6K1 b - -",  # back rank
        "7k/5Q2/6K1/8/8/8/8/8 b - -",  # stalemate
        "k7/P7/K7/8/8/8/8/8 b - -",  # stalemate by a pawn
        "8/8/8/8/8/8/5k2/6qK w - -",  # mate by a defended queen next to the king
    ],
)
def test_no_moves_for_mate_and_stalemate(gen, fen):
    board = Board(fen)
    before = snapshot(board)
    assert gen(board) == []
    assert snapshot(board) == before
    assert list(chess.Board(fen).legal_moves) == []


@pytest.mark.parametrize(
    "fen,moves",
    [
        (START, []),
        (START, ["e2e4", "d7d5", "e4d5", "g8f6"]),
        (KIWIPETE, ["e1g1", "e8c8", "d5d6"]),
        ("4k3/1P6/8/8/8/8/8/4K3 w - -", ["e1d1", "e8e7"]),
        ("4k3/8/8/KPp4r/8/8/8/8 w - c6", []),
        ("rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq -", ["d8h4"]),
    ],
)
def test_board_unchanged_by_call(gen, fen, moves):
    board = Board(fen)
    for m in moves:
        board.push(m)
    before = snapshot(board)
    first = gen(board)
    assert snapshot(board) == before
    assert len(history_fens(board)) == len(moves)
    # the same call again gives the same list and still changes nothing
    assert gen(board) == first
    assert snapshot(board) == before


def test_keyword_form_and_two_generators_agree(gen):
    other = MoveGenerator()
    for fen in [START, KIWIPETE, ENDGAME, PROMOTION_MIX, PROMOTION_MIX_BLACK, BISHOP_CHECK]:
        board = Board(fen)
        positional = gen(board)
        assert gen(board=board) == positional
        assert other(board) == positional
        assert other(board=board) == positional
        assert board.fen() == fen


def test_result_is_a_fresh_list_of_str(gen):
    board = Board()
    moves = gen(board)
    assert type(moves) is list
    assert all(type(m) is str for m in moves)
    moves.append("junk")
    board.push("e2e4")
    board.pop()
    assert gen(board) == moves[:-1]


@pytest.mark.skipif(platform.python_implementation() != "CPython", reason="object identity of CPython's str")
def test_each_move_text_is_one_shared_str(gen):
    # The same move always comes back as the same immutable str object,
    # whichever board or generator lists it.
    fen = "4k3/1P6/8/8/8/8/8/4K3 w - -"  # promotions too
    board = Board(fen)
    first = gen(board)
    again = MoveGenerator()(Board(fen))
    assert all(a is b for a, b in zip(first, again)) and first == again
    assert all(m is sys.intern(m) for m in first)
    board.push(first[0])
    board.pop()
    assert all(a is b for a, b in zip(gen(board), first))


@pytest.mark.parametrize(
    "fen,expected",
    [
        # white to move without a white king: every pseudo-legal move, in order
        ("4k3/8/8/8/8/8/4P3/R6N w - -",
         ["h1g3", "h1f2", "e2e3", "e2e4",
          "a1b1", "a1c1", "a1d1", "a1e1", "a1f1", "a1g1",
          "a1a2", "a1a3", "a1a4", "a1a5", "a1a6", "a1a7", "a1a8"]),
        # rights and a rook but no king: no castling either
        ("4k3/8/8/8/8/8/8/7R w K -",
         ["h1a1", "h1b1", "h1c1", "h1d1", "h1e1", "h1f1", "h1g1",
          "h1h2", "h1h3", "h1h4", "h1h5", "h1h6", "h1h7", "h1h8"]),
        # black to move without a black king, a white queen "attacking" everything
        ("8/8/8/3Q4/8/8/3p4/7K b - -",
         ["d2d1n", "d2d1b", "d2d1r", "d2d1q"]),
        # nothing to move at all
        ("8/8/8/8/8/8/8/4k3 w - -", []),
    ],
)
def test_missing_king_of_side_to_move(gen, fen, expected):
    board = Board(fen)
    before = snapshot(board)
    moves = gen(board)
    assert moves == expected
    assert snapshot(board) == before
    assert set(moves) == {m.uci() for m in chess.Board(fen).legal_moves}


def test_every_move_text_can_be_pushed_and_popped(gen):
    board = Board(KIWIPETE)
    for m in gen(board):
        board.push(m)
        board.pop()
        assert board.fen() == KIWIPETE


# ---------------------------------------------------------------------------
# Perft through the Python API
# ---------------------------------------------------------------------------


def counts_up_to(counts, nodes=200_000_000, depth=6):
    return [count for count in counts[:depth] if count <= nodes]


PERFT = {p.name: (p.fen, counts_up_to(p.perft)) for p in POSITIONS.values() if p.perft}
PERFT["pos4_mirrored"] = (PROMOTION_MIX_BLACK, counts_up_to(POSITIONS["pos4"].perft))

# generator calls (nodes at depth - 1) above which a depth takes seconds
FAST_CALL_LIMIT = 300_000


def perft_params():
    for name, (fen, counts) in PERFT.items():
        for depth, count in enumerate(counts, start=1):
            calls = counts[depth - 2] if depth > 1 else 1
            marks = [pytest.mark.slow] if calls > FAST_CALL_LIMIT else []
            yield pytest.param(fen, depth, count, id=f"{name}-{depth}", marks=marks)


@pytest.mark.parametrize("fen,depth,count", list(perft_params()))
def test_perft(gen, fen, depth, count):
    board = Board(fen)
    before = board.fen()
    assert perft(gen, board, depth) == count
    assert board.fen() == before
    assert history_fens(board) == []


# ---------------------------------------------------------------------------
# Differential check against python-chess
# ---------------------------------------------------------------------------

RICH_FENS = [
    START,
    KIWIPETE,
    ENDGAME,
    PROMOTION_MIX,
    PROMOTION_MIX_BLACK,
    BISHOP_CHECK,
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -",
    # castling with attacked squares around
    "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -",
    "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -",
    "r3k2r/1b4bq/8/8/8/8/7B/R3K2R w KQkq -",
    "r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq -",
    "5k2/8/8/8/8/8/8/4K2R w K -",
    "3k4/8/8/8/8/8/8/R3K3 w Q -",
    "r3k2r/p6p/8/B7/1pp1p3/3b4/P6P/R3K2R w KQkq -",
    # en passant, with rank pins, diagonal pins and checks
    "4k3/8/8/KPp4r/8/8/8/8 w - c6",
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


def four_fields(pc):
    return " ".join(pc.fen(en_passant="fen").split()[:4])


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


def check_same_moves(gen, mb, pc, legal, context):
    before = mb.fen()
    ours = gen(mb)
    assert mb.fen() == before, context
    theirs = {m.uci() for m in legal}
    assert len(ours) == len(set(ours)), context
    assert set(ours) == theirs, (
        f"{context}\nextra: {sorted(set(ours) - theirs)}\nmissing: {sorted(theirs - set(ours))}")
    return ours


def playout(gen, rng, pc, plies, check):
    """Play the same biased random moves on both boards, checking every ply."""
    mb = Board(four_fields(pc))
    start = mb.fen()
    played = []
    for _ in range(plies):
        legal = list(pc.legal_moves)
        check(gen, mb, pc, legal, f"start {start!r} after {played}")
        if not legal:
            break
        m = biased_choice(rng, pc, legal)
        mb.push(m.uci())
        pc.push(m)
        played.append(m.uci())


def test_rich_positions_are_valid():
    for fen in RICH_FENS:
        pc = chess.Board(fen)
        assert pc.is_valid(), fen
        # python-chess keeps the rights and the en-passant square as written
        assert four_fields(pc) == fen


@pytest.mark.parametrize("fen", RICH_FENS)
def test_differential_from_rich_positions(gen, fen):
    rng = random.Random(f"rich:{fen}")
    for _ in range(50):
        playout(gen, rng, chess.Board(fen), 16, check_same_moves)


@pytest.mark.parametrize("chunk", range(8))
def test_differential_from_random_positions(gen, chunk):
    rng = random.Random(f"random:{chunk}")
    for _ in range(125):
        playout(gen, rng, random_position(rng), 10, check_same_moves)


@pytest.mark.parametrize("chunk", range(4))
def test_differential_from_start(gen, chunk):
    rng = random.Random(f"start:{chunk}")
    for _ in range(60):
        playout(gen, rng, chess.Board(), 40, check_same_moves)


@pytest.mark.slow
@pytest.mark.parametrize("chunk", range(20))
def test_differential_soak(gen, chunk):
    rng = random.Random(f"soak:{chunk}")
    for i in range(500):
        if i % 3 == 0:
            pc = chess.Board(rng.choice(RICH_FENS))
        elif i % 3 == 1:
            pc = random_position(rng)
        else:
            pc = chess.Board()
        playout(gen, rng, pc, 60, check_same_moves)


# The documented order, recomputed from python-chess's legal moves: king steps
# by direction then king-side and queen-side castling, knights by jump, pawns
# (captures towards the first side with en passant after the plain capture,
# then the second side, then the push, then the double step; promotions n, b,
# r, q), then the rook pass and the bishop pass by origin and target square,
# a queen taking part in both.
KING_STEPS = [-8, 8, 1, -1, 9, 7, -9, -7]
KNIGHT_JUMPS = [-17, -15, -6, 10, 17, 15, 6, -10]
PROMOTION_RANK = {None: 0, chess.KNIGHT: 0, chess.BISHOP: 1, chess.ROOK: 2, chess.QUEEN: 3}


def documented_key(pc, m):
    o, t = m.from_square, m.to_square
    d = t - o
    kind = pc.piece_type_at(o)
    if kind == chess.KING:
        if pc.is_castling(m):
            return (0, o, 8 if t > o else 9)
        return (0, o, KING_STEPS.index(d))
    if kind == chess.KNIGHT:
        return (1, o, KNIGHT_JUMPS.index(d))
    if kind == chess.PAWN:
        sign = 1 if pc.turn == chess.WHITE else -1
        slot = {7 * sign: 0, 9 * sign: 1, 8 * sign: 2, 16 * sign: 3}[d]
        return (2, o, slot, PROMOTION_RANK[m.promotion], pc.is_en_passant(m))
    if kind == chess.ROOK:
        return (3, o, t)
    if kind == chess.BISHOP:
        return (4, o, t)
    orthogonal = chess.square_file(o) == chess.square_file(t) or chess.square_rank(o) == chess.square_rank(t)
    return (3 if orthogonal else 4, o, t)


def check_documented_order(gen, mb, pc, legal, context):
    ours = check_same_moves(gen, mb, pc, legal, context)
    expected = [m.uci() for m in sorted(legal, key=lambda m: documented_key(pc, m))]
    assert ours == expected, context
    return ours


@pytest.mark.parametrize("source", ["rich", "random", "start"])
def test_differential_order(gen, source):
    rng = random.Random(f"order:{source}")
    for _ in range(120):
        if source == "rich":
            pc = chess.Board(rng.choice(RICH_FENS))
        elif source == "random":
            pc = random_position(rng)
        else:
            pc = chess.Board()
        playout(gen, rng, pc, 20, check_documented_order)
