"""Position planes, side to move, colour reflection and board copies."""

import random

import chess
import pytest

from mirelo_chess import Board
from mirelo_chess.game import zobrist_key
from support import KIWIPETE, POSITIONS, START, assert_panics, four_fields, history_fens

START_PLACEMENT = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR"


def planes_from_squares(squares_by_plane):
    planes = [[False] * 64 for _ in range(12)]
    for plane, squares in squares_by_plane.items():
        for sq in squares:
            planes[plane][sq] = True
    return planes


def planes_from_python_chess(pc):
    """The twelve planes worked out from python-chess's piece placement."""
    planes = [[False] * 64 for _ in range(12)]
    for sq, piece in pc.piece_map().items():
        plane = (piece.piece_type - 1) + (0 if piece.color == chess.WHITE else 6)
        planes[plane][sq] = True
    return planes


def mirror_fen(fen):
    """Colour-mirror a four-field FEN: ranks reversed, colours swapped, side
    swapped, castling letters swapped and the en-passant square moved to the
    mirrored rank."""
    placement, side, castling, ep = fen.split()
    placement = "/".join(reversed(placement.split("/"))).swapcase()
    side = "b" if side == "w" else "w"
    letters = set(castling.swapcase()) - {"-"}
    castling = "".join(c for c in "KQkq" if c in letters) or "-"
    if ep != "-":
        ep = ep[0] + {"3": "6", "6": "3"}[ep[1]]
    return " ".join([placement, side, castling, ep])


def mirror_move(text):
    def sq(s):
        return s[0] + str(9 - int(s[1]))

    return sq(text[0:2]) + sq(text[2:4]) + text[4:]


def random_playout(seed, plies):
    """Yield (mirelo board, python-chess board) after each of `plies` random
    moves played on both, starting from the start position."""
    rng = random.Random(seed)
    pc = chess.Board()
    mb = Board()
    yield mb, pc
    for _ in range(plies):
        legal = list(pc.legal_moves)
        if not legal:
            return
        m = rng.choice(legal)
        mb.push(m.uci())
        pc.push(m)
        yield mb, pc


# ---------------------------------------------------------------------------
# Planes
# ---------------------------------------------------------------------------

START_PLANES = planes_from_squares({
    0: range(8, 16), 1: [1, 6], 2: [2, 5], 3: [0, 7], 4: [3], 5: [4],
    6: range(48, 56), 7: [57, 62], 8: [58, 61], 9: [56, 63], 10: [59], 11: [60],
})

EMPTY_PLANES = [[False] * 64 for _ in range(12)]


def assert_plane_shape(planes):
    assert type(planes) is list and len(planes) == 12
    for plane in planes:
        assert type(plane) is list and len(plane) == 64
        assert all(type(x) is bool for x in plane)


def test_start_position_planes():
    planes = Board().bitboard()
    assert_plane_shape(planes)
    assert planes == START_PLANES
    assert sum(map(sum, planes)) == 32


@pytest.mark.parametrize(
    "call",
    [
        lambda text: Board.bitboard_from_fen(text),
        lambda text: Board.bitboard_from_fen(fen=text),
        lambda text: Board().bitboard_from_fen(text),
        lambda text: Board("8/8/8/8/8/8/8/8 b - -").bitboard_from_fen(fen=text),
    ],
    ids=["class", "class-keyword", "instance", "instance-keyword"],
)
@pytest.mark.parametrize(
    "text",
    [
        START,
        START_PLACEMENT,
        START + " 0 1",
        START_PLACEMENT + "   trailing garbage ?! 12 x",
        START_PLACEMENT + "\tb\n- -",
        "  " + START_PLACEMENT + " w",
        START.replace(" w ", " b "),
    ],
)
def test_bitboard_from_fen_start(call, text):
    planes = call(text)
    assert_plane_shape(planes)
    assert planes == START_PLANES


@pytest.mark.parametrize("text", ["8/8/8/8/8/8/8/8", "8/8/8/8/8/8/8/8 b - -", "8/8/8/8/8/8/8/8 w KQkq e6 5 9"])
def test_empty_board_planes(text):
    planes = Board.bitboard_from_fen(text)
    assert_plane_shape(planes)
    assert planes == EMPTY_PLANES
    if len(text.split()) >= 4:
        assert Board(text).bitboard() == EMPTY_PLANES


@pytest.mark.parametrize(
    "fen",
    [
        *(POSITIONS[name].fen for name in ("kiwipete", "pos3", "pos4", "en_passant")),
        "7k/8/8/8/8/8/8/K7 w - -",
    ],
)
def test_side_to_move_does_not_change_planes(fen):
    other = fen.replace(" w ", " b ")
    expected = planes_from_python_chess(chess.Board(fen))
    for text in (fen, other):
        assert Board(text).bitboard() == expected
        assert Board.bitboard_from_fen(text) == expected
        assert Board.bitboard_from_fen(text.split()[0]) == expected


@pytest.mark.parametrize("seed", range(12))
def test_planes_follow_random_playouts(seed):
    history = []
    for mb, pc in random_playout(f"planes:{seed}", 120):
        expected = planes_from_python_chess(pc)
        planes = mb.bitboard()
        assert planes == expected, pc.fen()
        assert Board.bitboard_from_fen(pc.fen()) == expected
        assert Board.bitboard_from_fen(mb.fen()) == expected
        assert Board.bitboard_from_fen(pc.board_fen()) == expected
        history.append(planes)
    # taking the moves back restores each earlier set of planes
    last = history.pop()
    assert mb.bitboard() == last
    while history:
        mb.pop()
        assert mb.bitboard() == history.pop()


def test_planes_are_a_fresh_list():
    board = Board()
    planes = board.bitboard()
    planes[0][8] = False
    planes.append([])
    assert board.bitboard() == START_PLANES
    assert Board.bitboard_from_fen(START) == START_PLANES


@pytest.mark.parametrize(
    "text",
    [
        "x",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq -",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX",
        "8/8/8/8/8/8/8/7x w - -",
        "8/8/8/8/8/8/8/8-",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKéNR w KQkq -",
    ],
)
def test_bitboard_from_fen_bad_piece_letter(text):
    assert_panics(lambda: Board.bitboard_from_fen(text), "Invalid piece type")
    assert_panics(lambda: Board.bitboard_from_fen(fen=text), "Invalid piece type")
    board = Board()
    assert_panics(lambda: board.bitboard_from_fen(text), "Invalid piece type")
    assert board.fen() == START


@pytest.mark.parametrize("text", ["", "   ", "\t\n "])
def test_bitboard_from_fen_without_placement(text):
    assert_panics(lambda: Board.bitboard_from_fen(text))
    assert_panics(lambda: Board.bitboard_from_fen(fen=text))


@pytest.mark.parametrize(
    "value,type_name",
    [(42, "int"), (None, "NoneType"), (b"8/8/8/8/8/8/8/8", "bytes"), (["8/8/8/8/8/8/8/8"], "list")],
)
def test_bitboard_from_fen_not_a_str(value, type_name):
    message = f"argument 'fen': '{type_name}' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError) as info:
        Board.bitboard_from_fen(value)
    assert str(info.value) == message
    with pytest.raises(TypeError) as info:
        Board.bitboard_from_fen(fen=value)
    assert str(info.value) == message
    with pytest.raises(TypeError) as info:
        Board().bitboard_from_fen(value)
    assert str(info.value) == message


# ---------------------------------------------------------------------------
# Side to move
# ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "fen,expected",
    [
        (START, "white"),
        (START.replace(" w ", " b "), "black"),
        ("8/8/8/8/8/8/8/8 w - -", "white"),
        ("8/8/8/8/8/8/8/8 b - -", "black"),
        (POSITIONS["en_passant"].fen, "white"),
        (POSITIONS["en_passant_black"].fen, "black"),
        ("r3k2r/8/8/8/8/8/8/R3K2R b - -", "black"),
    ],
)
def test_turn_from_fen(fen, expected):
    board = Board(fen)
    turn = board.turn()
    assert type(turn) is str
    assert turn == expected
    assert board.fen() == Board(fen).fen()


def test_turn_follows_push_and_pop():
    board = Board()
    assert board.turn() == "white"
    board.push("e2e4")
    assert board.turn() == "black"
    board.push("e7e5")
    assert board.turn() == "white"
    board.pop()
    assert board.turn() == "black"
    board.pop()
    assert board.turn() == "white"
    # a move of the side not to move still hands the turn over
    board.push("e7e5")
    assert board.turn() == "black"


@pytest.mark.parametrize("seed", range(4))
def test_turn_on_random_playouts(seed):
    for mb, pc in random_playout(f"turn:{seed}", 80):
        assert mb.turn() == ("white" if pc.turn == chess.WHITE else "black")


# ---------------------------------------------------------------------------
# Reflection
# ---------------------------------------------------------------------------


def test_reflect_start_position():
    board = Board()
    assert board.reflect() is None
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -"
    assert board.turn() == "black"
    assert board.bitboard() == START_PLANES


@pytest.mark.parametrize(
    "fen,reflected",
    [
        # en passant for white on the e-file becomes en passant for black
        ("4k3/8/8/3Pp3/8/8/8/4K3 w - e6", "4k3/8/8/8/3pP3/8/8/4K3 b - e3"),
        ("4k3/8/8/8/3pP3/8/8/4K3 b - e3", "4k3/8/8/3Pp3/8/8/8/4K3 w - e6"),
        ("r3k2r/8/8/8/8/8/8/R3K2R w Kq -", "r3k2r/8/8/8/8/8/8/R3K2R b Qk -"),
        ("r3k2r/8/8/8/8/8/8/R3K2R b Q -", "r3k2r/8/8/8/8/8/8/R3K2R w q -"),
        ("4k3/8/8/8/4P3/8/8/1n2K3 w - -", "1N2k3/8/8/4p3/8/8/8/4K3 b - -"),
        ("8/8/8/8/8/8/8/8 w - -", "8/8/8/8/8/8/8/8 b - -"),
        (KIWIPETE, "r3k2r/pppbbppp/2n2q1P/1P2p3/3pn3/BN2PNP1/P1PPQPB1/R3K2R b KQkq -"),
    ],
)
def test_reflect_examples(generator, fen, reflected):
    board = Board(fen)
    moves = generator(board)
    assert board.reflect() is None
    assert board.fen() == reflected
    assert board.fen() == mirror_fen(Board(fen).fen())
    assert board.bitboard() == Board(reflected).bitboard()
    # the mirrored position has the mirrored moves
    assert sorted(generator(board)) == sorted(mirror_move(m) for m in moves)
    assert board.reflect() is None
    assert board.fen() == Board(fen).fen()


def test_reflected_en_passant_is_playable(generator):
    board = Board("4k3/8/8/3Pp3/8/8/8/4K3 w - e6")
    assert "d5e6" in generator(board)
    board.reflect()
    assert "d4e3" in generator(board)
    board.push("d4e3")
    # the white pawn behind the destination (as seen by black) is gone
    assert board.fen() == "4k3/8/8/8/8/4p3/8/4K3 w - -"


def test_reflect_empties_history():
    board = Board()
    for m in ["e2e4", "e7e5", "g1f3"]:
        board.push(m)
    board.reflect()
    after = board.fen()
    assert history_fens(board) == []
    assert_panics(board.pop, "No move to take back")
    assert board.fen() == after
    # the reflected board starts a history of its own (white to move now)
    board.push("g1f3")
    board.pop()
    assert board.fen() == after
    assert_panics(board.pop, "No move to take back")
    # a second reflection brings the position back, not the history
    board.reflect()
    assert board.fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -"
    assert_panics(board.pop, "No move to take back")


@pytest.mark.parametrize("seed", range(12))
def test_reflect_on_random_playouts(generator, seed):
    for mb, pc in random_playout(f"reflect:{seed}", 100):
        fen = mb.fen()
        c = mb.copy()
        assert c.reflect() is None
        assert c.fen() == mirror_fen(four_fields(pc)), four_fields(pc)
        assert c.bitboard() == planes_from_python_chess(pc.mirror())
        assert c.turn() == ("black" if pc.turn == chess.WHITE else "white")
        assert zobrist_key(c) == zobrist_key(Board(c.fen()))
        assert {mirror_move(m) for m in generator(c)} == {m.uci() for m in pc.legal_moves}
        assert history_fens(c) == []
        c.reflect()
        assert c.fen() == fen
        assert mb.fen() == fen


# ---------------------------------------------------------------------------
# Copies
# ---------------------------------------------------------------------------


def test_copy_is_a_new_board():
    board = Board(KIWIPETE)
    c = board.copy()
    assert type(c) is Board
    assert c is not board
    assert c.fen() == board.fen() == KIWIPETE
    assert c.bitboard() == board.bitboard()
    assert c.turn() == board.turn()
    assert c.copy() is not c


def test_copy_independent_both_ways(generator):
    board = Board()
    board.push("e2e4")
    c = board.copy()

    c.push("e7e5")
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
    assert c.fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"

    board.push("c7c5")
    assert c.fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"
    assert board.fen() == "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq c6"

    c.reflect()
    assert board.fen() == "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq c6"
    assert len(history_fens(board)) == 2

    board.pop()
    board.pop()
    assert c.fen() == mirror_fen("rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6")
    assert board.fen() == START

    # the generator's trial moves on one board do not reach the other
    d = board.copy()
    generator(d)
    generator(board)
    assert d.fen() == board.fen() == START


def test_copy_carries_history():
    board = Board()
    fens = [board.fen()]
    for m in ["e2e4", "d7d5"]:
        board.push(m)
        fens.append(board.fen())
    c = board.copy()

    c.pop()
    assert c.fen() == fens[1]
    c.pop()
    assert c.fen() == fens[0]
    assert_panics(c.pop, "No move to take back")
    assert c.fen() == fens[0]

    # the source still has both moves to take back, with the same results
    assert board.fen() == fens[2]
    board.pop()
    assert board.fen() == fens[1]
    board.pop()
    assert board.fen() == fens[0]
    assert_panics(board.pop, "No move to take back")


def test_copy_of_fresh_board_has_no_history():
    c = Board(KIWIPETE).copy()
    assert_panics(c.pop, "No move to take back")
    assert c.fen() == KIWIPETE


def play_on(board, generator, rng, plies):
    """Up to plies random legal moves on board; the FENs from the one it
    had to the last."""
    fens = [board.fen()]
    for _ in range(plies):
        moves = generator(board)
        if not moves:
            break
        board.push(rng.choice(moves))
        fens.append(board.fen())
    return fens


@pytest.mark.parametrize("seed", range(8))
def test_copy_on_random_playouts(generator, seed):
    rng = random.Random(f"copy:{seed}")
    board = Board()
    fens = play_on(board, generator, rng, rng.randint(5, 60))
    expected = list(reversed(fens[:-1]))
    c = board.copy()
    cc = c.copy()
    assert generator(c) == generator(board)
    assert c.bitboard() == board.bitboard()
    assert history_fens(c) == expected
    assert history_fens(cc) == expected
    # unwind the copy completely; the source keeps its history
    for fen in expected:
        c.pop()
        assert c.fen() == fen
    assert_panics(c.pop, "No move to take back")
    assert board.fen() == fens[-1]
    assert history_fens(board) == expected
    assert history_fens(cc) == expected
    # the copy of the copy grows a history of its own, longer than the room
    # it started with, over its inherited one
    own = play_on(cc, generator, rng, rng.randint(0, 80))
    assert history_fens(cc) == list(reversed(own[:-1])) + expected
    assert history_fens(board) == expected
