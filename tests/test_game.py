"""mirelo_chess.game: check, repetitions, outcome, position keys and perft,
against python-chess over seeded random games and on hand-made positions."""

import inspect
import platform
import random
import types

import chess
import pytest

import mirelo_chess
from mirelo_chess import Board, game
from mirelo_chess.game import divide, is_check, outcome, perft, repetitions, zobrist_key
from positions import perft as perft_through_the_api
from support import (KIWIPETE, POS4_MIRRORED, POSITIONS, RICH_FENS, START, biased_choice, four_fields,
                     random_position, snapshot)

KNIGHT_SHUFFLE = ["g1f3", "g8f6", "f3g1", "f6g8"]


def played(fen, moves):
    board = Board(fen)
    for move in moves:
        board.push(move)
    return board


# ---------------------------------------------------------------------------
# The submodule and its native layer
# ---------------------------------------------------------------------------


CPYTHON = platform.python_implementation() == "CPython"
SIGNATURES = {"is_check": "(board)", "repetitions": "(board)", "zobrist_key": "(board)",
              "outcome": "(generator, board)", "perft": "(generator, board, depth)",
              "divide": "(generator, board, depth)"}


def test_surface():
    assert game.__all__ == ["is_check", "repetitions", "outcome", "zobrist_key", "perft", "divide"]
    from mirelo_chess import _native
    for name in game.__all__:
        function = getattr(game, name)
        assert function is getattr(_native, name)  # no Python layer on the way
        assert str(inspect.signature(function)) == SIGNATURES[name]
        if CPYTHON:  # the native functions themselves
            assert isinstance(function, types.BuiltinFunctionType)
    if CPYTHON:  # reachable through sys.modules only
        assert "_native" not in vars(mirelo_chess)
    assert mirelo_chess.__all__ == ["Board", "MoveGenerator"]


# ---------------------------------------------------------------------------
# Differential check against python-chess over random games
# ---------------------------------------------------------------------------


def expected_outcome(pc, legal):
    """python-chess's outcome(), without the move-counter rules."""
    if not legal and pc.is_check():
        return "checkmate"
    if pc.is_insufficient_material():
        return "insufficient_material"
    if not legal:
        return "stalemate"
    if pc.is_fivefold_repetition():
        return "fivefold_repetition"
    return None


def shuffling_choice(rng, pc, legal, shuffle):
    """With probability `shuffle`, take back the mover's previous move when it
    was a quiet piece move (knights to and fro, kings stepping back): the way
    repetitions arise. Otherwise a biased random move."""
    if len(pc.move_stack) >= 2 and rng.random() < shuffle:
        last = pc.move_stack[-2]
        back = chess.Move(last.to_square, last.from_square)
        if back in legal and pc.piece_type_at(back.from_square) != chess.PAWN and not pc.is_capture(back):
            return back
        quiet = [m for m in legal if pc.piece_type_at(m.from_square) in (chess.KNIGHT, chess.KING)
                 and not pc.is_capture(m)]
        if quiet:
            return rng.choice(quiet)
    return biased_choice(rng, pc, legal)


def check_game_state(generator, mb, pc, legal, keys, context):
    fen = mb.fen()
    key = zobrist_key(mb)
    assert is_check(mb) == pc.is_check(), context
    count = repetitions(mb)
    assert pc.is_repetition(count) and not pc.is_repetition(count + 1), (context, count)
    assert outcome(generator, mb) == expected_outcome(pc, legal), context
    # equal positions have equal keys, whatever the moves that led to them
    assert keys.setdefault(fen, key) == key, context
    assert keys.setdefault(key, fen) == fen, context
    assert zobrist_key(Board(fen)) == key, context
    assert mb.fen() == fen and zobrist_key(mb) == key, context


def game_playout(generator, rng, pc, plies, shuffle, keys):
    mb = Board(four_fields(pc))
    start = mb.fen()
    moves = []
    for ply in range(plies):
        legal = list(pc.legal_moves)
        context = f"start {start!r} after {moves}"
        check_game_state(generator, mb, pc, legal, keys, context)
        if ply % 16 == 5:
            check_perft_and_divide(generator, mb, 2)
        if not legal:
            break
        m = shuffling_choice(rng, pc, legal, shuffle)
        mb.push(m.uci())
        pc.push(m)
        moves.append(m.uci())
    before = snapshot(mb)
    repetitions(mb), is_check(mb), outcome(generator, mb), perft(generator, mb, 1), divide(generator, mb, 1)
    assert snapshot(mb) == before


@pytest.mark.parametrize("chunk", range(8))
def test_differential_games(generator, chunk):
    rng = random.Random(f"game:{chunk}")
    keys = {}
    for i in range(250):
        source = i % 4
        if source == 0:
            pc = chess.Board()
        elif source == 1:
            pc = chess.Board(rng.choice(RICH_FENS))
        else:
            pc = random_position(rng)
        game_playout(generator, rng, pc, 40, rng.choice([0.0, 0.5, 0.9]), keys)


# ---------------------------------------------------------------------------
# Check
# ---------------------------------------------------------------------------


@pytest.mark.parametrize("fen,expected", [
    (START, False),
    ("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", True),
    # a check given by a pinned piece is still a check
    ("5k2/8/8/8/8/5n2/8/4KR2 w - -", True),
    ("4k3/8/8/8/8/8/3b4/r2RK3 b - -", False),
    ("4k3/8/8/8/1b6/8/3R4/r3K3 w - -", True),
    # discovered by the rook behind the knight that moved
    ("4k3/8/8/8/8/2n5/8/4K2r w - -", True),
    # the king of the side not to move does not count
    ("4k3/4R3/8/8/8/8/8/4K3 w - -", False),
    ("4k3/4R3/8/8/8/8/8/4K3 b - -", True),
    # no king to attack
    ("8/8/8/8/8/8/4r3/8 w - -", False),
])
def test_is_check(fen, expected):
    board = Board(fen)
    assert is_check(board) is expected
    if chess.Board(fen).king(chess.WHITE if board.turn() == "white" else chess.BLACK) is not None:
        assert chess.Board(fen).is_check() is expected


# ---------------------------------------------------------------------------
# Repetitions
# ---------------------------------------------------------------------------


@pytest.mark.parametrize("fen,moves,expected", [
    (START, [], 1),
    (START, KNIGHT_SHUFFLE, 2),
    (START, KNIGHT_SHUFFLE * 4, 5),
    (START, KNIGHT_SHUFFLE * 6 + ["g1f3"], 7),
    # the same placement reached by another order counts
    (START, ["g1f3", "g8f6", "b1c3", "b8c6", "c3b1", "c6b8", "f3g1", "f6g8"], 2),
    # the position after the double step had en passant open, but no pawn
    # could take: it is the same position as later without it
    ("4k3/8/8/8/8/8/3P4/4K3 w - -", ["d2d4", "e8e7", "e1e2", "e7e8", "e2e1"], 2),
    ("4k3/8/8/8/8/8/3P4/4K3 w - -", ["d2d4", "e8e7", "e1e2", "e7e8", "e2e1", "e8e7", "e1e2", "e7e8", "e2e1"], 3),
    ("4k3/8/8/8/3P4/8/8/4K3 b - d3", ["e8e7", "e1e2", "e7e8", "e2e1"], 2),
    # a pawn that could take en passant makes it another position
    ("4k3/8/8/8/3Pp3/8/8/4K3 b - d3", ["e8e7", "e1e2", "e7e8", "e2e1"], 1),
    # ... unless the capture is illegal (rank pin)
    ("8/8/8/8/k2Pp2R/8/8/7K b - d3", ["a4a5", "h1h2", "a5a4", "h2h1"], 2),
    # a castling right without its rook is no right: the king moving loses nothing
    ("4k3/8/8/8/8/8/8/4K3 w K -", ["e1e2", "e8e7", "e2e1", "e7e8"], 2),
    ("4k3/8/8/8/8/8/8/4K2R w K -", ["e1e2", "e8e7", "e2e1", "e7e8"], 1),
    # the side to move is part of the position
    ("4k3/8/8/8/8/8/8/R3K3 w - -", ["a1a2", "e8e7", "a2a3", "e7e8", "a3a1"], 1),
    ("4k3/8/8/8/8/8/8/R3K3 w - -", ["a1a2", "e8e7", "a2a1", "e7d7", "a1a2", "d7e7", "a2a1", "e7e8"], 2),
])
def test_repetitions(fen, moves, expected):
    board = played(fen, moves)
    pc = chess.Board(fen)
    for move in moves:
        pc.push_uci(move)
    before = snapshot(board)
    assert repetitions(board) == expected
    assert pc.is_repetition(expected) and not pc.is_repetition(expected + 1)
    assert snapshot(board) == before


def test_repetitions_follow_the_history():
    board = played(START, KNIGHT_SHUFFLE * 2)
    assert repetitions(board) == 3
    assert repetitions(board.copy()) == 3  # a copy keeps the history
    board.pop()
    assert repetitions(board) == 2  # g1f3 g8f6 f3g1 played twice
    board.push("f6g8")
    board.reflect()  # the history is gone
    assert repetitions(board) == 1


# ---------------------------------------------------------------------------
# Outcome
# ---------------------------------------------------------------------------


@pytest.mark.parametrize("fen,moves,expected", [
    (START, [], None),
    ("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", [], "checkmate"),
    ("7k/5Q2/6K1/8/8/8/8/8 b - -", [], "stalemate"),
    ("4k3/8/8/8/8/8/8/4K3 w - -", [], "insufficient_material"),
    ("4k3/8/8/8/8/8/8/4KN2 w - -", [], "insufficient_material"),
    ("4kb2/8/8/8/8/8/8/2B1K3 w - -", [], "insufficient_material"),
    ("4k1b1/8/8/8/8/8/8/2B1K3 w - -", [], None),  # bishops on both colours
    ("4k3/8/8/8/8/8/8/3NKN2 w - -", [], None),  # two knights
    ("4kq2/8/8/8/8/8/8/4KN2 w - -", [], None),  # the queen can still mate
    ("4kn2/8/8/8/8/8/8/4KN2 w - -", [], None),  # knights can help each other's mate
    ("4k3/4p3/8/8/8/8/8/4K3 w - -", [], None),
    # stalemate with a lone king on the other side: insufficient material first
    ("7k/8/6KN/8/8/8/8/8 b - -", [], "insufficient_material"),
    (START, KNIGHT_SHUFFLE * 3, None),
    (START, KNIGHT_SHUFFLE * 4, "fivefold_repetition"),
    (START, KNIGHT_SHUFFLE * 4 + ["b1c3"], None),
])
def test_outcome(generator, fen, moves, expected):
    board = played(fen, moves)
    pc = chess.Board(fen)
    for move in moves:
        pc.push_uci(move)
    before = snapshot(board)
    assert outcome(generator, board) == expected
    assert expected_outcome(pc, list(pc.legal_moves)) == expected
    assert snapshot(board) == before


# ---------------------------------------------------------------------------
# Zobrist keys
# ---------------------------------------------------------------------------


def test_zobrist_key_values_are_fixed():
    # These values are part of the interface: they do not change between releases.
    board = Board()
    assert zobrist_key(board) == 0x667057D6B81EBFB3
    board.push("e2e4")
    assert zobrist_key(board) == 0x16C463C54535BBA0
    board.pop()
    assert zobrist_key(board) == 0x667057D6B81EBFB3
    assert zobrist_key(Board("8/8/8/8/8/8/8/8 b - -")) == 0


def test_zobrist_key_of_transpositions_and_copies():
    a = played(START, ["g1f3", "g8f6", "b1c3"])
    b = played(START, ["b1c3", "g8f6", "g1f3"])
    assert a.fen() == b.fen()
    assert zobrist_key(a) == zobrist_key(b) == zobrist_key(Board(a.fen())) == zobrist_key(a.copy())
    assert zobrist_key(a) != zobrist_key(played(START, ["g1f3", "g8f6"]))


@pytest.mark.parametrize("fen", [*RICH_FENS[:8], POSITIONS["en_passant"].fen])
def test_reflect_recomputes_the_key(fen):
    board = played(fen, [])
    assert zobrist_key(board) == zobrist_key(Board(fen))
    board.reflect()
    assert zobrist_key(board) == zobrist_key(Board(board.fen()))
    board.reflect()
    assert zobrist_key(board) == zobrist_key(Board(fen))


def test_reflect_recomputes_the_key_after_moves(generator):
    board = played(START, ["e2e4", "c7c5", "e4e5", "d7d5"])
    board.reflect()
    assert zobrist_key(board) == zobrist_key(Board(board.fen()))
    for move in generator(board):  # the keys stay in step from there
        board.push(move)
        assert zobrist_key(board) == zobrist_key(Board(board.fen()))
        board.pop()


# ---------------------------------------------------------------------------
# Perft and divide
# ---------------------------------------------------------------------------


def check_perft_and_divide(generator, board, depth):
    before = snapshot(board)
    rows = divide(generator, board, depth)
    assert snapshot(board) == before
    assert [move for move, _ in rows] == generator(board)
    for move, count in rows:
        board.push(move)
        assert count == perft(generator, board, depth - 1)
        board.pop()
    assert perft(generator, board, depth) == sum(count for _, count in rows)
    assert snapshot(board) == before


# Counting through the Python API (the generator's lists, push and pop) takes
# seconds above this many generator calls (the count one ply less deep).
API_CALL_LIMIT = 300_000


def published_counts():
    """Every published count up to 200 million nodes, of each position and of
    its mirror image, which has the same counts; above 20 million, slow."""
    for position in POSITIONS.values():
        for depth, count in enumerate(position.perft[:6], start=1):
            if count > 200_000_000:
                break
            calls = position.perft[depth - 2] if depth > 1 else 1
            marks = [pytest.mark.slow] if count > 20_000_000 else []
            for mirrored in (False, True):
                yield pytest.param(position.fen, mirrored, depth, count, calls <= API_CALL_LIMIT, marks=marks,
                                   id=f"{position.name}{'-mirrored' if mirrored else ''}-{depth}")


@pytest.mark.parametrize("fen, mirrored, depth, count, through_the_api", list(published_counts()))
def test_published_perft_counts(generator, fen, mirrored, depth, count, through_the_api):
    board = Board(four_fields(chess.Board(fen).mirror()) if mirrored else fen)
    board.push(generator(board)[0])  # a history that was taken back counts for nothing
    board.pop()
    before = snapshot(board)
    assert perft(generator, board, depth) == count
    if through_the_api:
        assert perft_through_the_api(generator, board, depth) == count
    assert snapshot(board) == before


@pytest.mark.parametrize("fen,depth", [(START, 3), (KIWIPETE, 2), (POS4_MIRRORED, 2), ("7k/5Q2/6K1/8/8/8/8/8 b - -", 3)])
def test_divide(generator, fen, depth):
    check_perft_and_divide(generator, Board(fen), depth)


def test_depth_zero_and_keywords(generator):
    board = Board()
    assert perft(generator, board, 0) == 1
    assert divide(generator, board, 0) == []
    assert perft(generator=generator, board=board, depth=True) == 20
    assert divide(generator, board=board, depth=1)[0] == ("b1c3", 1)
    assert perft(generator, board, 2**63 - 2**63 + 2) == 400


# ---------------------------------------------------------------------------
# Bad input: clear errors, nothing changed
# ---------------------------------------------------------------------------


BAD_CALLS = [
    (lambda g, b: is_check(1), TypeError, "argument 'board': 'int' object cannot be converted to 'Board'"),
    (lambda g, b: repetitions(None), TypeError,
     "argument 'board': 'NoneType' object cannot be converted to 'Board'"),
    (lambda g, b: zobrist_key(g), TypeError,
     "argument 'board': 'MoveGenerator' object cannot be converted to 'Board'"),
    (lambda g, b: outcome(b, g), TypeError,
     "argument 'generator': 'Board' object cannot be converted to 'MoveGenerator'"),
    (lambda g, b: outcome(g, "b"), TypeError, "argument 'board': 'str' object cannot be converted to 'Board'"),
    (lambda g, b: perft(g, b, "2"), TypeError, "argument 'depth': 'str' object cannot be converted to 'PyInt'"),
    (lambda g, b: divide(g, b, 2.0), TypeError,
     "argument 'depth': 'float' object cannot be converted to 'PyInt'"),
    (lambda g, b: perft(g, b, -1), ValueError, "Invalid depth: -1 (must be from 0 to 32)"),
    (lambda g, b: divide(g, b, -(2**70)), ValueError,
     f"Invalid depth: {-(2**70)} (must be from 0 to 32)"),
    (lambda g, b: perft(g, b, 33), ValueError, "Invalid depth: 33 (must be from 0 to 32)"),
]


@pytest.mark.parametrize("call,error,message", BAD_CALLS)
def test_bad_input(generator, call, error, message):
    board = played(START, ["e2e4"])
    before = snapshot(board)
    with pytest.raises(error) as info:
        call(generator, board)
    assert type(info.value) is error
    assert str(info.value) == message
    assert snapshot(board) == before
    assert perft(generator, board, 1) == 20  # no borrow left behind
