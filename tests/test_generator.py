"""Legal move generation: exact order, special moves, board left untouched
and a differential check against python-chess."""

import platform
import random
import sys

import chess
import pytest

from mirelo_chess import Board, MoveGenerator
from support import (KIWIPETE, POSITIONS, RICH_FENS, START, biased_choice, four_fields, history_fens,
                     random_position, snapshot)

WHITE_KING_E1 = ["e1e2", "e1f1", "e1d1", "e1f2", "e1d2"]
BLACK_KING_E8 = ["e8e7", "e8f8", "e8d8", "e8d7", "e8f7"]


# ---------------------------------------------------------------------------
# Exact order on hand-checked positions
# ---------------------------------------------------------------------------

# The positions listed with their legal moves in the shared positions file.
ORDER_CASES = {p.name: (p.fen, p.moves) for p in POSITIONS.values() if p.moves is not None}


@pytest.mark.parametrize("fen,expected", ORDER_CASES.values(), ids=ORDER_CASES.keys())
def test_exact_order(generator, fen, expected):
    board = Board(fen)
    before = snapshot(board)
    assert generator(board) == expected
    assert snapshot(board) == before


def test_en_passant_also_offered_when_target_holds_enemy_piece(generator):
    # The en-passant bit is open on d6 but a knight stands there: the plain
    # capture comes first, then the en-passant form of the same squares.
    board = Board("4k3/8/3n4/3pP3/8/8/8/4K3 w - d6")
    assert generator(board) == WHITE_KING_E1 + ["e5d6", "e5d6", "e5e6"]
    # either form of the move takes the knight and leaves the d5 pawn
    board.push("e5d6")
    assert board.fen() == "4k3/8/3P4/3p4/8/8/8/4K3 b - -"


def test_en_passant_needs_the_bit_of_the_right_file(generator):
    # a pawn next to a black pawn, but the open file is elsewhere: no capture
    board = Board("4k3/8/8/3pP1p1/8/8/8/4K3 w - g6")
    moves = generator(board)
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
def test_castling_conditions(generator, fen, present, absent):
    board = Board(fen)
    before = board.fen()
    moves = generator(board)
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
def test_no_castling_off_home_square(generator, fen, expected):
    assert generator(Board(fen)) == expected


@pytest.mark.parametrize(
    "fen",
    [
        "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -",  # fool's mate
        "r1bqkb1r/pppp1Qpp/2n2n2/4p3/2B1P3/8/PPPP1PPP/RNB1K1NR b KQkq -",  # scholar's mate
        "R5k1/5ppp/8/8/8/8/8/6K1 b - -",  # back rank
        "k7/P7/K7/8/8/8/8/8 b - -",  # stalemate by a pawn
        "8/8/8/8/8/8/5k2/6qK w - -",  # mate by a defended queen next to the king
    ],
)
def test_no_moves_for_mate_and_stalemate(generator, fen):
    board = Board(fen)
    before = snapshot(board)
    assert generator(board) == []
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
def test_board_unchanged_by_call(generator, fen, moves):
    board = Board(fen)
    for m in moves:
        board.push(m)
    before = snapshot(board)
    first = generator(board)
    assert snapshot(board) == before
    assert len(history_fens(board)) == len(moves)
    # the same call again gives the same list and still changes nothing
    assert generator(board) == first
    assert snapshot(board) == before


def test_keyword_form_and_two_generators_agree(generator):
    other = MoveGenerator()
    for fen in RICH_FENS[:7]:
        board = Board(fen)
        positional = generator(board)
        assert generator(board=board) == positional
        assert other(board) == positional
        assert other(board=board) == positional
        assert board.fen() == fen


def test_result_is_a_fresh_list_of_str(generator):
    board = Board()
    moves = generator(board)
    assert type(moves) is list
    assert all(type(m) is str for m in moves)
    moves.append("junk")
    board.push("e2e4")
    board.pop()
    assert generator(board) == moves[:-1]


@pytest.mark.skipif(platform.python_implementation() != "CPython", reason="object identity of CPython's str")
def test_each_move_text_is_one_shared_str(generator):
    # The same move always comes back as the same immutable str object,
    # whichever board or generator lists it.
    fen = "4k3/1P6/8/8/8/8/8/4K3 w - -"  # promotions too
    board = Board(fen)
    first = generator(board)
    again = MoveGenerator()(Board(fen))
    assert all(a is b for a, b in zip(first, again)) and first == again
    assert all(m is sys.intern(m) for m in first)
    board.push(first[0])
    board.pop()
    assert all(a is b for a, b in zip(generator(board), first))


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
def test_missing_king_of_side_to_move(generator, fen, expected):
    board = Board(fen)
    before = snapshot(board)
    moves = generator(board)
    assert moves == expected
    assert snapshot(board) == before
    assert set(moves) == {m.uci() for m in chess.Board(fen).legal_moves}


def test_every_move_text_can_be_pushed_and_popped(generator):
    board = Board(KIWIPETE)
    for m in generator(board):
        board.push(m)
        board.pop()
        assert board.fen() == KIWIPETE


# ---------------------------------------------------------------------------
# Differential check against python-chess
# ---------------------------------------------------------------------------

def check_same_moves(generator, mb, pc, legal, context):
    before = mb.fen()
    ours = generator(mb)
    assert mb.fen() == before, context
    theirs = {m.uci() for m in legal}
    assert len(ours) == len(set(ours)), context
    assert set(ours) == theirs, (
        f"{context}\nextra: {sorted(set(ours) - theirs)}\nmissing: {sorted(theirs - set(ours))}")
    return ours


def playout(generator, rng, pc, plies, check):
    """Play the same biased random moves on both boards, checking every ply."""
    mb = Board(four_fields(pc))
    start = mb.fen()
    played = []
    for _ in range(plies):
        legal = list(pc.legal_moves)
        check(generator, mb, pc, legal, f"start {start!r} after {played}")
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
def test_differential_from_rich_positions(generator, fen):
    rng = random.Random(f"rich:{fen}")
    for _ in range(50):
        playout(generator, rng, chess.Board(fen), 16, check_same_moves)


@pytest.mark.parametrize("chunk", range(8))
def test_differential_from_random_positions(generator, chunk):
    rng = random.Random(f"random:{chunk}")
    for _ in range(125):
        playout(generator, rng, random_position(rng), 10, check_same_moves)


@pytest.mark.parametrize("chunk", range(4))
def test_differential_from_start(generator, chunk):
    rng = random.Random(f"start:{chunk}")
    for _ in range(60):
        playout(generator, rng, chess.Board(), 40, check_same_moves)


@pytest.mark.slow
@pytest.mark.parametrize("chunk", range(20))
def test_differential_soak(generator, chunk):
    rng = random.Random(f"soak:{chunk}")
    for i in range(500):
        if i % 3 == 0:
            pc = chess.Board(rng.choice(RICH_FENS))
        elif i % 3 == 1:
            pc = random_position(rng)
        else:
            pc = chess.Board()
        playout(generator, rng, pc, 60, check_same_moves)


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


def check_documented_order(generator, mb, pc, legal, context):
    ours = check_same_moves(generator, mb, pc, legal, context)
    expected = [m.uci() for m in sorted(legal, key=lambda m: documented_key(pc, m))]
    assert ours == expected, context
    return ours


@pytest.mark.parametrize("source", ["rich", "random", "start"])
def test_differential_order(generator, source):
    rng = random.Random(f"order:{source}")
    for _ in range(120):
        if source == "rich":
            pc = chess.Board(rng.choice(RICH_FENS))
        elif source == "random":
            pc = random_position(rng)
        else:
            pc = chess.Board()
        playout(generator, rng, pc, 20, check_documented_order)
