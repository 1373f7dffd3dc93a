"""Recorded games: SAN both ways, and a native reader of PGN game collections.

``san`` and ``parse_san`` turn a legal move into Standard Algebraic Notation
and back, exactly as python-chess's ``Board.san`` and ``Board.parse_san`` do
for standard chess. ``read_games`` streams the games of a PGN file (plain or
compressed), a bytes-like object or a file object, and ``training_batches``
turns the same stream into NumPy arrays for supervised training.

Games are read as python-chess's ``chess.pgn.read_game`` reads them from a
file opened in text mode: the same tags, the same mainline (variations, NAGs,
glyphs, ``;`` comments and ``%`` escape lines skipped), the same comments
after each move and the same result. A game that cannot be read to its end
has an ``error`` and the moves before it; the stream goes on with the next
game. Memory is bounded by the largest game, not by the input.
"""

from __future__ import annotations

import bz2
import gzip
import lzma
import mmap
import os
from collections.abc import Callable, Iterator
from typing import IO, Any, NamedTuple, Union

from mirelo_chess._native import PgnReader as _PgnReader
from mirelo_chess._native import parse_san, san

__all__ = ["Game", "Batch", "san", "parse_san", "read_games", "training_batches"]

# Bytes handed to the reader at a time: large enough that each call's cost
# vanishes, small enough that memory stays flat.
CHUNK_SIZE = 1 << 20

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, IO[bytes], IO[str]]


class Game(NamedTuple):
    """One game of a PGN stream."""

    index: int  # type: ignore[assignment]  # the field, not tuple.index
    """Position in the stream, from 0."""
    headers: dict[str, str]
    """The tag pairs of the file, in file order (no defaults added)."""
    fen: str
    """The start position as ``Board.fen()`` writes it."""
    moves: list[str]
    """The mainline as move texts of the generator (``"e2e4"``)."""
    comments: list[str] | None
    """With ``comments=True`` the comment after each mainline move (``""``
    where there is none), else ``None``."""
    result: str
    """The ``Result`` tag, or the termination marker where the tag is
    missing or ``"*"``."""
    error: str | None
    """``None`` when the whole mainline was read, else the reason, naming the
    ply and the token (``"illegal SAN 'Ke3' at ply 3"``); ``moves`` then
    holds the moves before it."""


class Batch(NamedTuple):
    """Training rows: one per position before a mainline move."""

    planes: Any
    """``(N, 12, 8, 8)`` in the requested dtype, as ``arrays.planes`` writes them."""
    moves: Any
    """``int64``: ``arrays.move_index`` of the move played."""
    results: Any
    """``int8``: the game's result from white's side, 1, 0 or -1."""
    turns: Any
    """``bool``: True where white is to move."""
    games: Any
    """``int64``: the ``Game.index`` of each row."""


_new_tuple = tuple.__new__
_DECOMPRESSORS: dict[str, Callable[[IO[bytes]], Any]] = {
    ".gz": lambda raw: gzip.GzipFile(fileobj=raw, mode="rb"),
    ".bz2": bz2.BZ2File,
    ".xz": lzma.LZMAFile,
}


def _decompressed(raw: IO[bytes], name: str | os.PathLike[str]) -> IO[bytes]:
    """The decompressed bytes of a binary file, by its name's suffix; closing
    the result leaves raw open."""
    suffix = os.path.splitext(os.fspath(name))[1].lower()
    if suffix == ".zst":
        try:
            import zstandard
        except ImportError:
            raise ImportError(".zst files need the zstandard package: pip install zstandard") from None
        stream: IO[bytes] = zstandard.ZstdDecompressor().stream_reader(raw, closefd=False)
        return stream
    opener = _DECOMPRESSORS.get(suffix)
    decompressed: IO[bytes] = raw if opener is None else opener(raw)
    return decompressed


def _open(path: str | os.PathLike[str]) -> tuple[IO[bytes], IO[bytes]]:
    """The file at path and the stream of its decompressed bytes."""
    raw = open(path, "rb")
    try:
        return raw, _decompressed(raw, path)
    except BaseException:
        raw.close()
        raise


def _file_chunks(stream: IO[Any], *owned: IO[Any]) -> Iterator[bytes]:
    """The bytes of a binary or text file object, chunk by chunk; the files
    owned are closed at the end."""
    try:
        read = stream.read
        while chunk := read(CHUNK_SIZE):
            if isinstance(chunk, str):
                try:
                    yield chunk.encode("utf-8", "surrogateescape")  # the bytes a text file decoded so
                except UnicodeEncodeError:
                    yield chunk.encode("utf-8", "surrogatepass")
            else:
                yield chunk
    finally:
        for file in owned:
            file.close()


def _byte_view(source: Any) -> memoryview:
    """The bytes of a bytes-like object as a flat view whose slices reach the
    reader without a copy: the object's own memory where it is bytes,
    bytearray or mmap (or a flat view of one), a copy made once otherwise.
    PyPy copies the whole of any other buffer each time a slice of it is
    passed to native code, which would make reading quadratic."""
    view = memoryview(source)
    owner = view.obj
    if isinstance(owner, (bytes, bytearray, mmap.mmap)) and view.format == "B" and view.ndim == 1 \
            and view.c_contiguous:
        return view
    return memoryview(view.tobytes())


def _buffer_chunks(data: memoryview) -> Iterator[memoryview]:
    for start in range(0, len(data), CHUNK_SIZE):
        yield data[start:start + CHUNK_SIZE]


def _chunks(source: object, caller: str) -> Iterator[Any]:
    """The bytes of a source, chunk by chunk; a file is opened here, so that
    a missing one fails at once."""
    if isinstance(source, (str, os.PathLike)):
        raw, stream = _open(source)
        return _file_chunks(stream, stream, raw)
    if _is_buffer(source):
        return _buffer_chunks(_byte_view(source))
    if callable(getattr(source, "read", None)):
        return _file_chunks(source)  # type: ignore[arg-type]
    raise TypeError(f"{caller}() source must be a path, a bytes-like object or a file object, "
                    f"not {type(source).__name__}")


def _is_buffer(value: object) -> bool:
    try:
        memoryview(value)  # type: ignore[arg-type]
    except TypeError:
        return False
    return True


def _games(chunks: Iterator[Any], comments: bool) -> Iterator[Game]:
    reader = _PgnReader(comments)
    feed, next_game = reader.feed, reader.next
    for chunk in chunks:
        feed(chunk)
        while (game := next_game()) is not None:
            yield _new_tuple(Game, game)
    reader.finish()
    while (game := next_game()) is not None:
        yield _new_tuple(Game, game)


def read_games(source: Source, *, comments: bool = False) -> Iterator[Game]:
    """The games of a PGN source, one ``Game`` at a time.

    ``source`` is a path (``str`` or ``os.PathLike``; ``.gz``, ``.bz2`` and
    ``.xz`` files are decompressed with the standard library, ``.zst`` with
    the ``zstandard`` package), PGN text as a bytes-like object, or a binary
    or text file object (read, not closed). A UTF-8 byte order mark is
    skipped, and bytes that are not UTF-8 are read as replacement
    characters. With ``comments=True`` each game carries the comment after
    each of its mainline moves.

    A path that does not exist raises ``FileNotFoundError`` here; a truncated
    compressed file raises its decompressor's ``EOFError`` or ``OSError``
    while the games are read; a source of any other type ``TypeError``.
    """
    return _games(_chunks(source, "read_games"), bool(comments))


def _numpy() -> Any:
    try:
        import numpy
    except ImportError:  # the original error stays attached as the context
        raise ImportError('mirelo_chess.pgn.training_batches needs NumPy: pip install "mirelo-chess[numpy]"')
    return numpy


def _batches(chunks: Iterator[Any], batch_size: int, kind: int, dtype: Any, np: Any) -> Iterator[Batch]:
    reader = _PgnReader(False)
    feed, fill = reader.feed, reader.fill
    empty, int64 = np.empty, np.int64

    def arrays() -> tuple[Any, ...]:
        return (empty((batch_size, 12, 8, 8), dtype), empty(batch_size, int64), empty(batch_size, np.int8),
                empty(batch_size, np.bool_), empty(batch_size, int64))

    batch = arrays()
    rows = 0
    finished = False
    while not finished:
        chunk = next(chunks, None)
        if chunk is None:
            reader.finish()
            finished = True
        else:
            feed(chunk)
        while True:
            planes, moves, results, turns, games = batch
            rows += fill(planes[rows:], kind, moves[rows:], results[rows:], turns[rows:], games[rows:])
            if rows < batch_size:
                break
            yield _new_tuple(Batch, batch)
            batch = arrays()
            rows = 0
    if rows:
        yield _new_tuple(Batch, tuple(array[:rows] for array in batch))


def training_batches(source: Source, *, batch_size: int = 4096, dtype: Any = None) -> Iterator[Batch]:
    """Training rows of the games of a PGN source, in ``Batch``es of
    ``batch_size`` rows (the last may be shorter), with NumPy.

    A row stands for a position before a mainline move of a game read
    without error whose result is ``1-0``, ``0-1`` or ``1/2-1/2``, in stream
    order; a game's rows may go on in the next batch. ``dtype`` is that of
    the planes: ``bool``, ``uint8`` (the default), ``float16`` or
    ``float32``. ``source`` is read as by ``read_games``. ``batch_size`` below
    1 raises ``ValueError``.
    """
    np = _numpy()
    from mirelo_chess.arrays import _plane_dtype

    if batch_size < 1:
        raise ValueError(f"batch_size must be 1 or more, not {batch_size}")
    kind, resolved = _plane_dtype(np.uint8 if dtype is None else dtype)
    return _batches(_chunks(source, "training_batches"), int(batch_size), kind, resolved, np)
