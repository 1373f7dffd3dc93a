"""Making and taking back moves through Board.push / Board.pop.

Move texts are long algebraic notation. Making a move is mechanical (no
legality check); every refused move leaves the position and its history as
they were, and every made move can be taken back exactly."""

import random

import chess
import pytest

from mirelo_chess import Board
from support import POSITIONS, START, PanicException, expected_fen, history_fens, pick_move
AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
CASTLES = POSITIONS["castling_white"].fen
CASTLES_BLACK = POSITIONS["castling_black"].fen
NOTATION = "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: "


def play(fen, moves):
    """Pushes the moves on a new board; returns the board and the FEN texts
    before the first move and after each."""
    board = Board(fen)
    fens = [board.fen()]
    for move in moves:
        board.push(move)
        fens.append(board.fen())
    return board, fens


def assert_history(board, fens):
    """The board shows fens[-1] and takes back exactly len(fens) - 1 moves,
    passing through the earlier texts."""
    assert board.fen() == fens[-1]
    for fen in reversed(fens[:-1]):
        board.pop()
        assert board.fen() == fen
    with pytest.raises(PanicException) as info:
        board.pop()
    assert str(info.value) == "No move to take back"
    assert board.fen() == fens[0]


# ---------------------------------------------------------------- python-chess oracle


def legal_line(fen, ucis):
    """The FEN texts python-chess gives along a line of legal moves."""
    pc = chess.Board(fen + " 0 1")
    fens = [expected_fen(pc)]
    for uci in ucis:
        move = chess.Move.from_uci(uci)
        assert move in pc.legal_moves, uci
        pc.push(move)
        fens.append(expected_fen(pc))
    return fens


# ---------------------------------------------------------------- move text


@pytest.mark.parametrize("text, reason", [
    ("e2e", NOTATION + "e2e"),
    ("", NOTATION),
    (" \t\n\u3000", NOTATION),
    ("e2e4qq", NOTATION + "e2e4qq"),
    ("  e2e4 q  ", NOTATION + "e2e4 q"),
    ("\u00e94", NOTATION + "\u00e94"),               # 3 bytes
    ("\u00e9\u00e9\u00e9", NOTATION + "\u00e9\u00e9\u00e9"),  # 6 bytes
    ("e2e4\u200b", NOTATION + "e2e4\u200b"),          # U+200B is not white space
    ("e2e4\u00e9", NOTATION + "e2e4\u00e9"),
    ("e2-e4", "Unsupported promotion type for e2-e4"),
    ("e7e8k", "Unsupported promotion type for e7e8k"),
    ("e7e8K", "Unsupported promotion type for e7e8K"),
    ("e7e8p", "Unsupported promotion type for e7e8p"),
    ("e2e44", "Unsupported promotion type for e2e44"),
    ("\u00e92e4", "Unsupported promotion type for \u00e92e4"),  # 5 bytes
    ("\x1ce2e4", "Unsupported promotion type for \x1ce2e4"),  # U+001C is not trimmed
    ("e2e4\x00", "Unsupported promotion type for e2e4\x00"),
    ("z9z9x", "Unsupported promotion type for z9z9x"),  # promotion letter is checked first
    ("\u3000 e7e8x\u2029", "Unsupported promotion type for e7e8x"),
])
def test_move_text_value_errors(text, reason):
    assert_refused(*play(START, ["e2e4", "e7e5"]), text, "value", reason)


def assert_refused(board, fens, move, kind, message):
    """push(move) fails with the message, as a ValueError ("value") or an
    internal failure ("panic"), and leaves no trace: position and history are
    as before."""
    if kind == "panic":
        with pytest.raises(PanicException) as info:
            board.push(move)
        assert str(info.value) == message
    else:
        with pytest.raises(ValueError) as info:
            board.push(move)
        assert type(info.value) is ValueError
        assert info.value.args == ("Invalid chess move: " + message,)
    assert_history(board, fens)


@pytest.mark.parametrize("text, message", [
    ("i2e4", "assertion failed: from_file <= 7"),
    ("E2E4", "assertion failed: from_file <= 7"),
    ("E2E4Q", "assertion failed: from_file <= 7"),
    ("`2e4", "assertion failed: from_file <= 7"),
    ("z9z9q", "assertion failed: from_file <= 7"),
    ("e9e4", "assertion failed: from_rank <= 7"),
    ("e0e4", "assertion failed: from_rank <= 7"),
    ("e9z9", "assertion failed: from_rank <= 7"),
    ("\u0161\u0161", "assertion failed: from_rank <= 7"),  # from-checks before the rest
    ("\u0161a1q", "assertion failed: from_rank <= 7"),
    ("e2z4", "assertion failed: to_file <= 7"),
    ("e2E4", "assertion failed: to_file <= 7"),
    ("h8i8", "assertion failed: to_file <= 7"),
    ("e2e9", "assertion failed: to_rank <= 7"),
    ("e2e0", "assertion failed: to_rank <= 7"),
    ("a1a9n", "assertion failed: to_rank <= 7"),
    # U+0161 and U+0131 have the low bytes of "a" and "1"
    ("\u0161\u0131", "Move text has fewer than four characters: \u0161\u0131"),
    ("\u0161\u0131b", "Move text has fewer than four characters: \u0161\u0131b"),
    (" \u0161\u0131\n", "Move text has fewer than four characters: \u0161\u0131"),
    # one character of four bytes: the second character is missing
    ("\U0001f600", "Move text has fewer than four characters: \U0001f600"),
])
def test_move_text_internal_failures(text, message):
    board, fens = play(START, ["e2e4", "e7e5"])
    with pytest.raises(PanicException) as info:
        board.push(text)
    assert str(info.value) == message
    assert_history(board, fens)


@pytest.mark.parametrize("text", ["e2e4", " e2e4", "e2e4\n", "\t\u3000e2e4\u00a0\u2028",
                                  "\x85e2e4\u205f", "e2e4q", "e2e4N"])
def test_move_text_trimming_and_ignored_promotion(text):
    # a promotion letter on a move that does not reach the last rank is ignored
    _, fens = play(START, [text])
    assert fens[-1] == AFTER_E4


@pytest.mark.parametrize("text, written", [
    ("e7e8q", "k3Q3/8/8/8/8/8/8/K7 b - -"),
    ("e7e8Q", "k3Q3/8/8/8/8/8/8/K7 b - -"),
    (" e7e8q\n", "k3Q3/8/8/8/8/8/8/K7 b - -"),
    ("e7e8r", "k3R3/8/8/8/8/8/8/K7 b - -"),
    ("e7e8R", "k3R3/8/8/8/8/8/8/K7 b - -"),
    ("e7e8b", "k3B3/8/8/8/8/8/8/K7 b - -"),
    ("e7e8B", "k3B3/8/8/8/8/8/8/K7 b - -"),
    ("e7e8n", "k3N3/8/8/8/8/8/8/K7 b - -"),
    ("e7e8N", "k3N3/8/8/8/8/8/8/K7 b - -"),
])
def test_promotion_letters(text, written):
    board, fens = play("k7/4P3/8/8/8/8/8/K7 w - -", [text])
    assert fens[-1] == written
    assert_history(board, fens)


def test_non_pawn_move_ignores_promotion_letter():
    _, fens = play(START, ["g1f3q", "b8c6R"])
    assert fens[-1] == "r1bqkbnr/pppppppp/2n5/8/8/5N2/PPPPPPPP/RNBQKB1R w KQkq -"


# ---------------------------------------------------------------- making moves


@pytest.mark.parametrize("fen, moves, final", [
    # capture
    (START, ["e2e4", "d7d5", "e4d5"],
     "rnbqkbnr/ppp1pppp/8/3P4/8/8/PPPP1PPP/RNBQKBNR b KQkq -"),
    # en passant by white and by black: the captured pawn disappears
    (START, ["e2e4", "a7a6", "e4e5", "d7d5", "e5d6"],
     "rnbqkbnr/1pp1pppp/p2P4/8/8/8/PPPP1PPP/RNBQKBNR b KQkq -"),
    (START, ["a2a3", "e7e5", "a3a4", "e5e4", "d2d4", "e4d3"],
     "rnbqkbnr/pppp1ppp/8/8/P7/3p4/1PP1PPPP/RNBQKBNR w KQkq -"),
    # the en-passant square is written after every double step
    (START, ["h2h4", "a7a5", "b1c3"],
     "rnbqkbnr/1ppppppp/8/p7/7P/2N5/PPPPPPP1/R1BQKBNR b KQkq -"),
    # castling, typed as king moves
    ("r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq -", ["e1g1", "e8c8"],
     "2kr3r/pppppppp/8/8/8/8/PPPPPPPP/R4RK1 w - -"),
    ("r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq -", ["e1c1", "e8g8"],
     "r4rk1/pppppppp/8/8/8/8/PPPPPPPP/2KR3R w - -"),
    # rights lost by king and rook moves and by rooks captured on their corner
    (CASTLES, ["h1h2"], "r3k2r/8/8/8/8/8/7R/R3K3 b Qkq -"),
    (CASTLES, ["a1a2"], "r3k2r/8/8/8/8/8/R7/4K2R b Kkq -"),
    (CASTLES, ["e1e2"], "r3k2r/8/8/8/8/8/4K3/R6R b kq -"),
    (CASTLES, ["e1f1", "e8d8", "f1e1"], "r2k3r/8/8/8/8/8/8/R3K2R b - -"),
    (CASTLES, ["h1h8"], "r3k2R/8/8/8/8/8/8/R3K3 b Qq -"),
    (CASTLES, ["a1a8"], "R3k2r/8/8/8/8/8/8/4K2R b Kk -"),
    (CASTLES_BLACK, ["h8h1"], "r3k3/8/8/8/8/8/8/R3K2r w Qq -"),
    (CASTLES_BLACK, ["a8a1"], "4k2r/8/8/8/8/8/8/r3K2R w Kk -"),
    (CASTLES_BLACK, ["e8d8"], "r2k3r/8/8/8/8/8/8/R3K2R w KQ -"),
    (CASTLES_BLACK, ["a8b8", "h1g1", "b8a8", "g1h1"], "r3k2r/8/8/8/8/8/8/R3K2R b Qk -"),
    ("r3k2r/8/6N1/8/8/8/8/R3K2R w KQkq -", ["g6h8"], "r3k2N/8/8/8/8/8/8/R3K2R b KQq -"),
    ("r3k2r/8/8/8/8/8/1n6/R3K2R b KQkq -", ["b2a4", "a1a4"],
     "r3k2r/8/8/8/R7/8/8/4K2R b Kkq -"),
    # promotions and capture-promotions, with a corner rook captured
    ("r2bk3/1P6/8/8/8/8/6p1/4K2R w Kq -", ["b7a8q", "g2h1n"],
     "Q2bk3/8/8/8/8/8/8/4K2n w - -"),
    ("3rk3/4P3/8/8/8/8/8/4K3 w - -", ["e7d8n"], "3Nk3/8/8/8/8/8/8/4K3 b - -"),
    ("2r1k3/1P6/8/8/8/8/8/4K3 w - -", ["b7c8r", "e8e7", "c8c7"],
     "8/2R1k3/8/8/8/8/8/4K3 b - -"),
    ("4k3/8/8/8/8/8/p7/4K3 b - -", ["a2a1r"], "4k3/8/8/8/8/8/8/r3K3 w - -"),
    ("4k3/8/8/8/8/8/7p/4K1N1 b - -", ["h2g1b", "e1d1"], "4k3/8/8/8/8/8/8/3K2b1 b - -"),
])
def test_legal_lines(fen, moves, final):
    board, fens = play(fen, moves)
    assert fens == legal_line(fen, moves)
    assert fens[-1] == final
    assert_history(board, fens)


@pytest.mark.parametrize("fen, moves, final", [
    # double step of the side not to move: its en-passant right is in the
    # half of the side that is not to move, so it is not written and the next
    # move clears it
    (START, ["e7e5"], "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR b KQkq -"),
    (START, ["e7e5", "d7d5"], "rnbqkbnr/ppp2ppp/8/3pp3/8/8/PPPPPPPP/RNBQKBNR w KQkq d6"),
    (START, ["e7e5", "g8f6"], "rnbqkb1r/pppp1ppp/5n2/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq -"),
    # castling typed without rights still moves the rook
    ("r3k2r/8/8/8/8/8/8/R3K2R w - -", ["e1g1"], "r3k2r/8/8/8/8/8/8/R4RK1 b - -"),
    ("r3k2r/8/8/8/8/8/8/R3K2R w - -", ["e1c1"], "r3k2r/8/8/8/8/8/8/2KR3R b - -"),
    ("r3k2r/8/8/8/8/8/8/R3K2R b - -", ["e8g8"], "r4rk1/8/8/8/8/8/8/R3K2R w - -"),
    ("r3k2r/8/8/8/8/8/8/R3K2R b - -", ["e8c8"], "2kr3r/8/8/8/8/8/8/R3K2R w - -"),
    # a king from its home square to the g- or c-file with no rook there
    ("4k3/8/8/8/8/8/8/4K3 w - -", ["e1g1"], "4k3/8/8/8/8/8/8/6K1 b - -"),
    ("4k3/8/8/8/8/8/8/4K3 w - -", ["e1c1"], "4k3/8/8/8/8/8/8/2K5 b - -"),
    # a king away from its home square never castles
    ("4k3/8/8/8/4K3/8/8/7R w - -", ["e4g4"], "4k3/8/8/8/6K1/8/8/7R b - -"),
    ("4k3/8/8/8/4K2R/8/8/8 w - -", ["e4g4"], "4k3/8/8/8/6KR/8/8/8 b - -"),
    ("4k3/8/8/8/R3K3/8/8/R7 w - -", ["e4c4"], "4k3/8/8/8/R1K5/8/8/R7 b - -"),
    # castling by the king of the side not to move moves that king's rook;
    # a king or rook of the side not to move keeps its rights
    (CASTLES, ["e8g8"], "r4rk1/8/8/8/8/8/8/R3K2R b KQkq -"),
    (CASTLES_BLACK, ["e1c1"], "r3k2r/8/8/8/8/8/8/2KR3R w KQkq -"),
    (CASTLES, ["e8d8"], "r2k3r/8/8/8/8/8/8/R3K2R b KQkq -"),
    (CASTLES, ["h8h7"], "r3k3/7r/8/8/8/8/8/R3K2R b KQkq -"),
    # ... but a rook captured on its corner loses its right whoever moves
    (CASTLES, ["h8h1"], "r3k3/8/8/8/8/8/8/R3K2r b Qkq -"),
    (CASTLES_BLACK, ["a1a8"], "R3k2r/8/8/8/8/8/8/4K2R w KQk -"),
    # a rook that does not stand on its corner changes no right
    ("r3k2r/8/8/8/8/8/8/R3K1R1 w KQkq -", ["g1g2"], "r3k2r/8/8/8/8/8/6R1/R3K3 b KQkq -"),
    # a piece other than a rook captured on a corner changes no right
    ("n3k2r/8/8/8/8/8/8/R3K2R w KQkq -", ["a1a8"], "R3k2r/8/8/8/8/8/8/4K2R b Kkq -"),
    # a pawn moving diagonally onto an empty square takes the opposing pawn
    # behind it, as seen from the pawn's colour, if there is one
    ("4k3/8/8/3pP3/8/8/8/4K3 w - -", ["e5d6"], "4k3/8/3P4/8/8/8/8/4K3 b - -"),
    ("4k3/8/8/3pP3/8/8/8/4K3 b - -", ["e5d6"], "4k3/8/3P4/8/8/8/8/4K3 w - -"),
    ("4k3/8/8/8/3Pp3/8/8/4K3 w - -", ["e4d3"], "4k3/8/8/8/8/3p4/8/4K3 b - -"),
    ("4k3/8/8/4P3/8/8/8/4K3 w - -", ["e5d6"], "4k3/8/3P4/8/8/8/8/4K3 b - -"),
    ("4k3/8/8/3nP3/8/8/8/4K3 w - -", ["e5d6"], "4k3/8/3P4/3n4/8/8/8/4K3 b - -"),
    ("4k3/8/8/3PP3/8/8/8/4K3 w - -", ["e5d6"], "4k3/8/3P4/3P4/8/8/8/4K3 b - -"),
    # a king or a pawn walks into check or off the rules: made anyway
    ("4k3/8/8/8/8/8/8/4K2r w - -", ["e1f1"], "4k3/8/8/8/8/8/8/5K1r b - -"),
    ("4k3/8/8/8/8/8/4P3/4K3 w - -", ["e2e3", "e3e4", "e4e5"], "4k3/8/8/4P3/8/8/8/4K3 b - -"),
    ("4k3/8/8/8/8/8/8/R3K3 w Q -", ["a1a7", "a7e7", "e7e8"], "4R3/8/8/8/8/8/8/4K3 b - -"),
])
def test_mechanical_moves(fen, moves, final):
    board, fens = play(fen, moves)
    assert fens[-1] == final
    assert_history(board, fens)


def test_side_to_move_flips_after_every_move():
    board = Board()
    board.push("g1f3")
    assert board.fen().split(" ")[1] == "b"
    board.push("b1c3")  # white again, although black is to move
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/8/2N2N2/PPPPPPPP/R1BQKB1R w KQkq -"
    board.pop()
    board.pop()
    assert board.fen() == START


# ---------------------------------------------------------------- refusals


@pytest.mark.parametrize("fen, setup, move, kind, message", [
    (START, ["e2e4", "e7e5", "g1f3"], "e3e4", "panic", "No piece to move on e3"),
    (START, ["e2e4", "e7e5", "g1f3"], "g1h3", "panic", "No piece to move on g1"),
    (START, [], "a3a4", "panic", "No piece to move on a3"),
    ("8/8/8/8/8/8/8/8 w - -", [], "a1a2", "panic", "No piece to move on a1"),
    ("8/8/8/8/8/8/8/8 b - -", [], "h8h8", "panic", "No piece to move on h8"),
    (START, ["e2e4", "e7e5", "g1f3"], "e1d1", "value",
     "Destination holds a piece of the moving side: e1d1"),
    (START, ["e2e4", "e7e5", "g1f3"], "d8d7", "value",
     "Destination holds a piece of the moving side: d8d7"),
    (START, [], "e1e2", "value", "Destination holds a piece of the moving side: e1e2"),
    (START, [], "e1e1", "value", "Destination holds a piece of the moving side: e1e1"),
    (START, [], "a1h1", "value", "Destination holds a piece of the moving side: a1h1"),
    (START, [], "e8e7", "value", "Destination holds a piece of the moving side: e8e7"),
    (START, [], "b8d7", "value", "Destination holds a piece of the moving side: b8d7"),
    ("k7/4P3/8/8/8/8/8/K7 w - -", ["a1b1", "a8b8"], "e7e8", "value",
     "Promotion piece needed for e7e8 (add n, b, r or q)"),
    ("k7/8/8/8/8/8/4p3/K7 b - -", ["a8b8"], "e2e1", "value",
     "Promotion piece needed for e2e1 (add n, b, r or q)"),
    ("3rk3/4P3/8/8/8/8/8/4K3 w - -", [], "e7d8", "value",
     "Promotion piece needed for e7d8 (add n, b, r or q)"),
    (START, ["e2e4"], "e4e5x", "value", "Unsupported promotion type for e4e5x"),
    (START, ["e2e4"], "e7e", "value", NOTATION + "e7e"),
    (START, ["e2e4"], "e7e9", "panic", "assertion failed: to_rank <= 7"),
])
def test_refused_moves_change_nothing(fen, setup, move, kind, message):
    assert_refused(*play(fen, setup), move, kind, message)


@pytest.mark.parametrize("call, error", [
    (lambda b: b.push(1), TypeError),
    (lambda b: b.push(None), TypeError),
    (lambda b: b.push(), TypeError),
    (lambda b: b.push("e2e4", "e2e4"), TypeError),
    (lambda b: b.push("e7e5\ud800"), UnicodeEncodeError),
    (lambda b: b.pop(1), TypeError),
])
def test_argument_errors_change_nothing(call, error):
    board, fens = play(START, ["e2e4", "e7e5"])
    with pytest.raises(error):
        call(board)
    assert_history(board, fens)


@pytest.mark.parametrize("fen, move", [
    (START, "e2e4"),
    ("8/8/8/8/8/8/8/K7 b - -", "a1a2"),
    ("4k3/8/8/8/8/8/8/4K3 w - e3", "e1e2"),
])
def test_pop_on_fresh_board(fen, move):
    board = Board(fen)
    expected = board.fen()
    for _ in range(3):
        with pytest.raises(PanicException) as info:
            board.pop()
        assert str(info.value) == "No move to take back"
        assert board.fen() == expected
    board.push(move)
    assert board.fen() != expected
    board.pop()
    assert board.fen() == expected


def test_pop_after_history_is_used_up_then_push_again():
    board, fens = play(START, ["e2e4", "e7e5"])
    assert_history(board, fens)
    board.push("d2d4")
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3"
    assert_history(board, [START, board.fen()])


# ---------------------------------------------------------------- random playouts


PLAYOUT_STARTS = [p.fen for p in POSITIONS.values() if p.perft] + [
    "r3k2r/1pp3pp/8/8/8/8/PP3PP1/R3K2R b KQkq -",
    "4k3/1P4P1/8/3pP3/8/8/1p4p1/4K3 w - d6",
]


@pytest.mark.parametrize("start", PLAYOUT_STARTS)
def test_random_playouts_match_python_chess_and_undo_exactly(start):
    rng = random.Random(101 + PLAYOUT_STARTS.index(start))
    seen = {"ep": 0, "castle": 0, "promotion": 0}
    for _ in range(12):
        pc = chess.Board(start + " 0 1")
        board = Board(start)
        fens = [board.fen()]
        assert fens[0] == start
        for _ in range(rng.randrange(20, 160)):
            move = pick_move(rng, pc)
            if move is None:
                break
            seen["ep"] += pc.is_en_passant(move)
            seen["castle"] += pc.is_castling(move)
            seen["promotion"] += move.promotion is not None
            pc.push(move)
            board.push(move.uci())
            fens.append(board.fen())
            assert fens[-1] == expected_fen(pc), (pc.move_stack[-1].uci(), fens[-2])
        assert_history(board, fens)
    assert sum(seen.values()) > 0


def test_random_push_pop_interleaving():
    rng = random.Random(4242)
    for start in PLAYOUT_STARTS:
        pc = chess.Board(start + " 0 1")
        board = Board(start)
        fens = [board.fen()]
        for _ in range(400):
            move = pick_move(rng, pc)
            if len(fens) > 1 and (move is None or rng.random() < 0.3):
                for _ in range(rng.randrange(1, min(4, len(fens) - 1) + 1)):
                    pc.pop()
                    board.pop()
                    fens.pop()
                    assert board.fen() == fens[-1] == expected_fen(pc)
                continue
            if move is None:
                break
            pc.push(move)
            board.push(move.uci())
            fens.append(board.fen())
            assert fens[-1] == expected_fen(pc)
        assert_history(board, fens)


def test_playouts_cover_every_special_move():
    rng = random.Random(99)
    seen = {"ep_white": 0, "ep_black": 0, "castle": 0, "promotion": 0, "rook_capture": 0}
    for _ in range(40):
        pc = chess.Board()
        board = Board()
        fens = [board.fen()]
        for _ in range(200):
            move = pick_move(rng, pc)
            if move is None:
                break
            if pc.is_en_passant(move):
                seen["ep_white" if pc.turn else "ep_black"] += 1
            seen["castle"] += pc.is_castling(move)
            seen["promotion"] += move.promotion is not None
            seen["rook_capture"] += pc.piece_type_at(move.to_square) == chess.ROOK
            pc.push(move)
            board.push(move.uci())
            fens.append(board.fen())
            assert fens[-1] == expected_fen(pc)
        assert_history(board, fens)
    assert min(seen.values()) > 0, seen


# ---------------------------------------------------------------- planes and history after moves


def _squares(plane):
    return [i for i, flag in enumerate(plane) if flag]


def test_planes_after_en_passant_and_castling():
    board, _ = play(START, ["e2e4", "a7a6", "e4e5", "d7d5"])
    before = board.bitboard()
    assert 35 in _squares(before[6])  # black pawn on d5
    board.push("e5d6")
    planes = board.bitboard()
    assert 35 not in _squares(planes[6])
    assert 43 in _squares(planes[0]) and 36 not in _squares(planes[0])
    board.pop()
    assert board.bitboard() == before

    board = Board(CASTLES)
    board.push("e1c1")
    planes = board.bitboard()
    assert _squares(planes[5]) == [2]
    assert _squares(planes[3]) == [3, 7]


@pytest.mark.parametrize("move", ["e3e4", "e1d1", "e2e", "e7e8x", "i2e4", "e2e9"])
def test_refusal_keeps_history_depth_of_a_copy(move):
    board, fens = play(START, ["e2e4", "e7e5", "g1f3"])
    assert len(history_fens(board)) == 3
    with pytest.raises(BaseException):
        board.push(move)
    assert len(history_fens(board)) == 3
    assert board.fen() == fens[-1]
    assert board.turn() == "black"
