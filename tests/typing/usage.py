"""Typed use of every public name of mirelo_chess.

Checked with ``mypy --strict`` against the installed stubs, and run as a
script to confirm that what it claims also holds at run time. Not collected
by pytest (its name does not start with ``test_``).

The ``# type: ignore[code]`` lines are misuses the stubs must reject: under
``--strict`` an ignore that silences nothing is itself an error, so each one
fails the check if the stubs ever become too permissive.
"""

from __future__ import annotations

import sys
from typing import Any, Literal, Optional

import numpy as np
import numpy.typing as npt

import mirelo_chess
from mirelo_chess import Board, MoveGenerator, arrays, game, pgn, svg

if sys.version_info >= (3, 11):
    from typing import assert_type
else:
    from typing_extensions import assert_type

ENDGAME = "4k3/8/8/8/8/8/8/4K2R w K -"


def occupied(planes: list[list[bool]]) -> int:
    return sum(flag for plane in planes for flag in plane)


def main() -> None:
    names: list[str] = mirelo_chess.__all__
    assert names == ["Board", "MoveGenerator"]

    board = assert_type(Board(), Board)
    assert_type(Board(ENDGAME), Board)
    assert_type(Board(fen=ENDGAME), Board)

    generator = assert_type(MoveGenerator(), MoveGenerator)
    moves = assert_type(generator(board), list[str])
    assert moves == assert_type(generator(board=board), list[str])
    assert len(moves) == 20

    side = assert_type(board.turn(), Literal["white", "black"])
    assert side == "white"
    assert_type(board.push("e2e4"), None)
    assert_type(board.push(chess_move="e7e5"), None)
    after = assert_type(board.fen(), str)
    assert after == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"

    twin = assert_type(board.copy(), Board)
    assert_type(twin.pop(), None)
    assert twin.turn() == "black" and board.fen() == after

    planes = assert_type(board.bitboard(), list[list[bool]])
    assert occupied(planes) == 32
    assert assert_type(Board.bitboard_from_fen(after), list[list[bool]]) == planes
    assert Board.bitboard_from_fen(fen="8/8/8/8/8/8/8/8") == [[False] * 64 for _ in range(12)]
    assert board.bitboard_from_fen(ENDGAME) == Board(ENDGAME).bitboard()

    assert_type(board.reflect(), None)
    assert board.turn() == "black"

    played = Board()
    for move in ["g1f3", "g8f6", "f3g1", "f6g8"] * 4:
        played.push(move)
    assert assert_type(game.is_check(played), bool) is False
    assert assert_type(game.repetitions(board=played), int) == 5
    ending = assert_type(
        game.outcome(generator, played),
        Optional[Literal["checkmate", "stalemate", "insufficient_material", "fivefold_repetition"]],
    )
    assert ending == "fivefold_repetition"
    assert assert_type(game.zobrist_key(played), int) == 0x667057D6B81EBFB3
    assert assert_type(game.perft(generator, played, 2), int) == 400
    rows = assert_type(game.divide(generator=generator, board=played, depth=1), list[tuple[str, int]])
    assert rows[0] == ("b1c3", 1)
    encoded = assert_type(arrays.planes(board), npt.NDArray[Any])
    assert encoded.shape == (12, 8, 8)
    assert arrays.planes(board, out=encoded, dtype=np.uint8) is encoded
    batch = assert_type(arrays.planes_batch([board, twin], dtype="float16"), npt.NDArray[Any])
    assert (assert_type(arrays.planes_from_fens([board.fen(), twin.fen()], dtype=np.float16), npt.NDArray[Any])
            == batch).all()
    index = assert_type(arrays.move_index("e7e8q"), int)
    assert assert_type(arrays.move_text(index), str) == "e7e8q"
    indices = assert_type(arrays.legal_indices(generator, board), npt.NDArray[np.int64])
    mask = assert_type(arrays.legal_mask(generator, board), npt.NDArray[np.bool_])
    assert sorted(indices.tolist()) == np.flatnonzero(mask).tolist()
    masks = assert_type(arrays.legal_mask_batch(generator, [board]), npt.NDArray[np.bool_])
    assert masks.shape == (1, assert_type(arrays.MOVE_INDEX_SIZE, int))

    picture = assert_type(svg.board(board, size=240.5, orientation=board.turn(), lastmove="e2e4",
                                    check="e1", arrows=("g1f3",), coordinates=False), svg.SVG)
    assert assert_type(picture._repr_svg_(), str) == picture
    text: str = svg.board(ENDGAME, arrows=iter(["e1h1"]))
    assert text.startswith("<svg ")

    start = Board()
    assert assert_type(pgn.san(generator, start, "g1f3"), str) == "Nf3"
    assert assert_type(pgn.parse_san(generator, start, "Nf3"), str) == "g1f3"
    record = b'[Result "1-0"]\n\n1. e4 {a} e5 2. Qh5 Nc6 3. Bc4 Nf6 4. Qxf7# 1-0\n'
    for one in pgn.read_games(record, comments=True):
        assert_type(one, pgn.Game)
        headers: dict[str, str] = one.headers
        mainline: list[str] = one.moves
        notes: Optional[list[str]] = one.comments
        assert one.error is None and headers == {"Result": "1-0"} and len(mainline) == 7 and notes is not None
    for training in pgn.training_batches(record, batch_size=4, dtype=np.float32):
        assert_type(training.moves, npt.NDArray[np.int64])
        assert training.planes.shape[1:] == (12, 8, 8)

    try:
        Board("8/8/8/8/8/8/8/8 x - -")
    except ValueError as error:
        assert str(error) == "Invalid fen: Invalid side-to-move"
    else:
        raise AssertionError("a bad side to move was accepted")


def misuses(board: Board, generator: MoveGenerator) -> None:
    """Never called: each line is an error the stubs must report."""
    board.push(42)  # type: ignore[arg-type]
    board.push(move="e2e4")  # type: ignore[call-arg]
    board.fen(1)  # type: ignore[call-arg]
    Board(None)  # type: ignore[arg-type]
    Board("a", "b")  # type: ignore[call-arg]
    MoveGenerator(1)  # type: ignore[call-arg]
    generator("e2e4")  # type: ignore[arg-type]
    generator()  # type: ignore[call-arg]
    Board.fen()  # type: ignore[call-arg]
    wrong: int = board.turn()  # type: ignore[assignment]
    flat: list[bool] = board.bitboard()  # type: ignore[assignment]
    texts: list[bytes] = generator(board)  # type: ignore[assignment]
    board.x = 1  # type: ignore[attr-defined]
    mirelo_chess.PanicException  # type: ignore[attr-defined]
    game.is_check(generator)  # type: ignore[arg-type]
    game.outcome(board, generator)  # type: ignore[arg-type]
    game.perft(generator, board, "2")  # type: ignore[arg-type]
    game.perft(generator, board)  # type: ignore[call-arg]
    key: str = game.zobrist_key(board)  # type: ignore[assignment]
    ending: str = game.outcome(generator, board)  # type: ignore[assignment]
    del wrong, flat, texts, key, ending
    arrays.move_index(52)  # type: ignore[arg-type]
    arrays.move_text("e7e8")  # type: ignore[arg-type]
    arrays.planes_batch(board)  # type: ignore[arg-type]
    arrays.legal_mask(board, generator)  # type: ignore[arg-type]
    del wrong, flat, texts
    svg.board(board, 360)  # type: ignore[call-arg]
    svg.board(board, orientation="up")  # type: ignore[arg-type]
    svg.board(board, arrows=[("e2", "e4")])  # type: ignore[list-item]
    svg.board(board, size="360")  # type: ignore[arg-type]
    svg.board(42)  # type: ignore[arg-type]
    pgn.read_games(42)  # type: ignore[arg-type]
    pgn.read_games(b"", True)  # type: ignore[call-arg]
    pgn.training_batches(b"", batch_size="1")  # type: ignore[arg-type]

    class Derived(Board):  # type: ignore[misc]
        pass


if __name__ == "__main__":
    main()
    print("usage.py: ok")
