"""Recorded games: SAN both ways, and a native reader of PGN game collections.

``read_games`` streams the games of a path (``.pgn``, ``.gz``, ``.bz2``,
``.xz``, ``.zst``), a bytes-like object or a file object; ``training_batches``
turns them into NumPy arrays. Each function's documentation is its run-time
docstring (``help(mirelo_chess.pgn.read_games)``).
"""

import os
from collections.abc import Iterator
from typing import IO, NamedTuple, Union

import numpy as np
import numpy.typing as npt

from mirelo_chess import Board, MoveGenerator

__all__ = ["Game", "Batch", "san", "parse_san", "read_games", "training_batches"]

CHUNK_SIZE: int

Source = Union[str, os.PathLike[str], bytes, bytearray, memoryview, IO[bytes], IO[str]]

class Game(NamedTuple):
    index: int  # type: ignore[assignment]  # the field, not tuple.index
    headers: dict[str, str]
    fen: str
    moves: list[str]
    comments: list[str] | None
    result: str
    error: str | None

class Batch(NamedTuple):
    planes: npt.NDArray[np.bool_ | np.uint8 | np.float16 | np.float32]
    moves: npt.NDArray[np.int64]
    results: npt.NDArray[np.int8]
    turns: npt.NDArray[np.bool_]
    games: npt.NDArray[np.int64]

def san(generator: MoveGenerator, board: Board, move: str) -> str: ...
def parse_san(generator: MoveGenerator, board: Board, text: str) -> str: ...
def read_games(source: Source, *, comments: bool = False) -> Iterator[Game]: ...
def training_batches(
    source: Source, *, batch_size: int = 4096, dtype: npt.DTypeLike | None = None
) -> Iterator[Batch]: ...

# The file at path and its decompressed bytes (for the command line).
def _open(path: str | os.PathLike[str]) -> tuple[IO[bytes], IO[bytes]]: ...
