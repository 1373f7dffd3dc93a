"""Coverage-guided fuzzing of mirelo_chess.pgn with atheris.

Input: one byte that picks how the text is handed over (a bytes object or a
file object giving 1 to 64 bytes per read) and whether comments are kept,
then PGN text (fuzz/corpus/fuzz_pgn holds real-looking games, shared with the
libFuzzer target fuzz_pgn). Every input checks:

- read_games raises nothing, and reading in small pieces gives exactly the
  games of reading the text whole;
- every game is a Game of the right types: an int index counting from 0, str
  headers, a FEN that Board reads back to itself, move texts that Board plays
  one after the other from it, one str comment per move when comments are
  kept (else None), a result, and an error that is None or one line;
- on the positions of the first games' mainlines, san and parse_san of every
  move read back to the move and leave the board as it was;
- with NumPy, training_batches gives one row per move of the games read
  without error whose result is decisive or drawn, with their indices.

Run:  python fuzz/fuzz_pgn_api.py [libFuzzer options] [corpus directories]
Failures are written to the standard error stream open at start-up.
"""

import io
import os
import sys
import traceback

import atheris

from mirelo_chess import Board, MoveGenerator
from mirelo_chess.pgn import Game, parse_san, read_games, san, training_batches

try:
    import numpy  # noqa: F401
except ImportError:  # the training rows are not checked
    training_batches = None

REPORT_FD = os.dup(2)
GENERATOR = MoveGenerator()
TRAINED = ("1-0", "0-1", "1/2-1/2")


class Pieces(io.RawIOBase):
    """A binary file object that gives at most step bytes per read."""

    def __init__(self, data, step):
        self.data, self.step, self.position = data, step, 0

    def readable(self):
        return True

    def read(self, size=-1):
        chunk = self.data[self.position:self.position + self.step]
        self.position += len(chunk)
        return chunk


def check_game(game, index, comments):
    if type(game) is not Game or game.index != index:
        raise AssertionError(f"game {index} is {game!r}")
    if any(type(k) is not str or type(v) is not str for k, v in game.headers.items()):
        raise AssertionError("headers that are not str")
    board = Board(game.fen)
    if board.fen() != game.fen:
        raise AssertionError(f"the start {game.fen!r} does not read back to itself")
    for move in game.moves:
        if move not in GENERATOR(board):
            raise AssertionError(f"{move!r} is not legal in {board.fen()}")
        board.push(move)
    if comments != (game.comments is not None):
        raise AssertionError("comments kept or not against the option")
    if comments and (len(game.comments) != len(game.moves) or any(type(c) is not str for c in game.comments)):
        raise AssertionError("not one comment per move")
    if type(game.result) is not str or (game.error is not None and (not game.error or "\n" in game.error)):
        raise AssertionError(f"result {game.result!r}, error {game.error!r}")


def check_san(game):
    board = Board(game.fen)
    for move in game.moves:
        fen = board.fen()
        for legal in GENERATOR(board):
            text = san(GENERATOR, board, legal)
            if parse_san(GENERATOR, board, text) != legal or board.fen() != fen:
                raise AssertionError(f"SAN {text!r} of {legal!r} does not read back in {fen}")
        board.push(move)


def check_training(data, games):
    expected = [(game.index, len(game.moves)) for game in games if game.error is None and game.result in TRAINED]
    rows = {}
    for batch in training_batches(data, batch_size=17):
        for index in batch.games.tolist():
            rows[index] = rows.get(index, 0) + 1
    if sorted(rows.items()) != [item for item in expected if item[1]]:
        raise AssertionError("training rows differ from the games read")


@atheris.instrument_func
def test_one_input(data):
    if not data:
        return
    head, text = data[0], data[1:]
    comments = bool(head & 64)
    try:
        games = list(read_games(text, comments=comments))
        if head & 128:
            pieces = list(read_games(Pieces(text, 1 + (head & 63)), comments=comments))
            if pieces != games:
                raise AssertionError("reading in pieces differs from reading the text whole")
        for index, game in enumerate(games):
            check_game(game, index, comments)
        for game in games[:2]:
            check_san(game)
        if training_batches is not None:
            check_training(text, games)
    except BaseException:
        os.write(REPORT_FD, ("\n*** fuzz_pgn_api failure\n" + traceback.format_exc()).encode("utf-8", "replace"))
        raise


def main():
    global check_game, check_san, check_training
    check_game = atheris.instrument_func(check_game)
    check_san = atheris.instrument_func(check_san)
    check_training = atheris.instrument_func(check_training)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
