"""NumPy arrays for neural networks: position planes and policy move indices.

Planes. ``planes(board)`` is a ``(12, 8, 8)`` array with ``a[p, r, f]`` equal
to ``board.bitboard()[p][8 * r + f]``: plane ``p`` is piece ``p`` of
P N B R Q K p n b r q k, rank 0 is the first rank and file 0 the a-file,
never flipped for the side to move. ``planes_batch`` and
``planes_from_fens`` give ``(N, 12, 8, 8)`` for many boards or FEN texts in
one call. Elements are ``bool``, ``uint8`` (the default), ``float16`` or
``float32``, 1 where a piece stands and 0 elsewhere.

Move indices. ``MOVE_INDEX_SIZE`` (4864) indices, ``64 * plane + from``
with ``from`` the origin square (a1 = 0, h8 = 63, absolute, never flipped),
so that a policy vector reshaped to ``(76, 8, 8)`` is indexed
``[plane, rank, file]`` of the origin:

- planes 0 to 55: moves along a line, ``7 * direction + distance - 1`` with
  the directions N, NE, E, SE, S, SW, W, NW and distances 1 to 7; every move
  that is neither a knight jump nor a promotion, castling included (the
  king's two-square step, "e1g1");
- planes 56 to 63: knight jumps, clockwise from two north one east
  (+2/+1, +1/+2, -1/+2, -2/+1, -2/-1, -1/-2, +1/-2, +2/-1 in ranks/files);
- planes 64 to 72: promotions to knight, bishop and rook,
  ``64 + 3 * piece + file step + 1`` (piece 0 knight, 1 bishop, 2 rook; file
  step -1, 0 or +1); from the seventh rank the pawn moves north, from the
  second rank south;
- planes 73 to 75: promotions to a queen, ``73 + file step + 1``.

So a rook's "e7e8" and a pawn's "e7e8q" have different indices. 1968 of the
indices stand for a move; ``move_text`` refuses the others.

Checks happen before anything is written: a dtype other than the four
raises ``TypeError``, an ``out`` array of the wrong shape, not C-contiguous
or read-only ``ValueError``, an item of a batch that is not a ``Board`` (or
not a ``str``) ``TypeError`` naming its index, and a FEN text whose
placement cannot be read ``ValueError`` naming its index and quoting it.
"""

from __future__ import annotations

from collections.abc import Container, Iterable
from typing import Any

try:
    import numpy as np
except ImportError:  # the original error stays attached as the context
    raise ImportError('mirelo_chess.arrays needs NumPy: pip install "mirelo-chess[numpy]"')
import numpy.typing as npt

from . import Board, MoveGenerator, _native

__all__ = [
    "MOVE_INDEX_SIZE",
    "legal_indices",
    "legal_mask",
    "legal_mask_batch",
    "move_index",
    "move_text",
    "planes",
    "planes_batch",
    "planes_from_fens",
]

MOVE_INDEX_SIZE: int = _native.MOVE_INDEX_SIZE

_PLANE_SHAPE = (12, 8, 8)
_BOOL = np.dtype(np.bool_)
_MASK_DTYPES = {_BOOL}
_INT64 = np.dtype(np.int64)
_empty = np.empty
_frombuffer = np.frombuffer
_native_planes = _native.planes
_native_legal_mask = _native.legal_mask
_native_legal_indices = _native.legal_indices


def _plane_dtypes() -> dict[Any, tuple[int, np.dtype[Any]]]:
    """For each plane dtype, looked up by dtype or by scalar type: the element
    kind the native writer uses (one byte, binary16, binary32) and the dtype."""
    table: dict[Any, tuple[int, np.dtype[Any]]] = {}
    for kind, scalar in ((0, np.bool_), (0, np.uint8), (1, np.float16), (2, np.float32)):
        table[scalar] = table[np.dtype(scalar)] = (kind, np.dtype(scalar))
    return table


_PLANE_DTYPES = _plane_dtypes()
_UINT8_DTYPE = np.dtype(np.uint8)
_PLANE_DTYPE_NAMES = "bool, uint8, float16 or float32"


def _plane_dtype(dtype: npt.DTypeLike) -> tuple[int, np.dtype[Any]]:
    """The element kind and dtype of planes of the given dtype."""
    try:
        return _PLANE_DTYPES[dtype]
    except (KeyError, TypeError):
        pass
    try:
        return _PLANE_DTYPES[np.dtype(dtype)]
    except (KeyError, TypeError):
        raise TypeError(f"planes are {_PLANE_DTYPE_NAMES}, not {dtype!r}") from None


def _checked_out(out: object, shape: tuple[int, ...], dtypes: Container[Any], names: str) -> npt.NDArray[Any]:
    """out, when it is a C-contiguous writable array of the shape and one of
    the dtypes (named by names)."""
    if not isinstance(out, np.ndarray):
        raise TypeError(f"out must be a numpy.ndarray, not {type(out).__name__}")
    if out.dtype not in dtypes:
        raise TypeError(f"out has dtype {out.dtype}, expected {names}")
    if out.shape != shape:
        raise ValueError(f"out has shape {out.shape}, expected {shape}")
    flags = out.flags
    if not flags.c_contiguous:
        raise ValueError("out is not C-contiguous")
    if not flags.writeable:
        raise ValueError("out is read-only")
    return out


def _plane_target(out: object, dtype: npt.DTypeLike, shape: tuple[int, ...]) -> tuple[npt.NDArray[Any], int]:
    """The array to write planes of the shape into, and its element kind."""
    kind, resolved = _plane_dtype(dtype)
    if out is None:
        return _empty(shape, resolved), kind
    array = _checked_out(out, shape, _PLANE_DTYPES, _PLANE_DTYPE_NAMES)
    if dtype is not np.uint8 and resolved != array.dtype:
        raise TypeError(f"dtype {resolved} differs from the dtype of out, {array.dtype}")
    return array, _PLANE_DTYPES[array.dtype][0]


def _as_list(items: Iterable[Any], name: str) -> list[Any] | tuple[Any, ...]:
    if isinstance(items, (list, tuple)):
        return items
    if isinstance(items, (str, bytes)):  # one text is no batch of texts
        raise TypeError(f"{name} must be an iterable of items, not {type(items).__name__}")
    return list(items)


def planes(board: Board, out: npt.NDArray[Any] | None = None, dtype: npt.DTypeLike = np.uint8) -> npt.NDArray[Any]:
    """The board's piece planes as a ``(12, 8, 8)`` array.

    With ``out`` (C-contiguous, writable, shape ``(12, 8, 8)``, one of the
    four dtypes) the planes are written into it and it is returned; nothing
    is allocated. ``dtype``, if given with ``out``, must be out's dtype.
    """
    if out is None and dtype is np.uint8:  # the common call, kept short
        out = _empty(_PLANE_SHAPE, _UINT8_DTYPE)
        _native_planes(board, out, 0)
        return out
    target, kind = _plane_target(out, dtype, _PLANE_SHAPE)
    _native_planes(board, target, kind)
    return target


def planes_batch(
    boards: Iterable[Board], out: npt.NDArray[Any] | None = None, dtype: npt.DTypeLike = np.uint8
) -> npt.NDArray[Any]:
    """The planes of many boards as an ``(N, 12, 8, 8)`` array, in one call.

    ``boards`` is any iterable of ``Board``; an item that is not a ``Board``
    raises ``TypeError`` naming its index before anything is written.
    """
    items = _as_list(boards, "boards")
    target, kind = _plane_target(out, dtype, (len(items), *_PLANE_SHAPE))
    _native.planes_batch(items, target, kind)
    return target


def planes_from_fens(
    fens: Iterable[str], out: npt.NDArray[Any] | None = None, dtype: npt.DTypeLike = np.uint8
) -> npt.NDArray[Any]:
    """The planes of the placement fields of FEN texts, ``(N, 12, 8, 8)``.

    Each text gives what ``Board.bitboard_from_fen`` gives for it: only the
    placement (the first field) is read, later fields may be anything or
    absent. Where that method fails (a character that is not a piece letter,
    digit or "/", an empty text) this raises ``ValueError`` naming the index
    and quoting the text, before anything is written.
    """
    items = _as_list(fens, "fens")
    target, kind = _plane_target(out, dtype, (len(items), *_PLANE_SHAPE))
    _native.planes_from_fens(items, target, kind)
    return target


def move_index(text: str) -> int:
    """The index of a move text as the generator writes it ("e2e4", "e7e8q").

    ``ValueError`` for any other text (upper case, white space, a promotion
    from the wrong rank) and for a move no index stands for ("a1h7").
    """
    result: int = _native.move_index(text)
    return result


def move_text(index: int) -> str:
    """The move text an index stands for; ``ValueError`` for an index outside
    ``range(MOVE_INDEX_SIZE)`` or one that stands for no move."""
    result: str = _native.move_text(index)
    return result


def legal_indices(generator: MoveGenerator, board: Board) -> npt.NDArray[np.int64]:
    """The indices of ``generator(board)``, in its order, as an ``int64`` array.

    The board is borrowed as by ``generator(board)`` and unchanged afterwards.
    """
    indices: npt.NDArray[np.int64] = _frombuffer(_native_legal_indices(generator, board), _INT64)
    return indices


def legal_mask(
    generator: MoveGenerator, board: Board, out: npt.NDArray[np.bool_] | None = None
) -> npt.NDArray[np.bool_]:
    """A ``bool`` array of ``MOVE_INDEX_SIZE``: True at the index of every
    legal move of the board, False elsewhere.

    With ``out`` (bool, C-contiguous, writable, shape ``(MOVE_INDEX_SIZE,)``)
    the mask is written into it and it is returned.
    """
    if out is None:
        out = _empty(MOVE_INDEX_SIZE, _BOOL)
    else:
        _checked_out(out, (MOVE_INDEX_SIZE,), _MASK_DTYPES, "bool")
    _native_legal_mask(generator, board, out)
    return out


def legal_mask_batch(
    generator: MoveGenerator, boards: Iterable[Board], out: npt.NDArray[np.bool_] | None = None
) -> npt.NDArray[np.bool_]:
    """The legal masks of many boards, a ``bool`` array ``(N, MOVE_INDEX_SIZE)``.

    An item that is not a ``Board`` raises ``TypeError`` naming its index
    before anything is written; the boards are unchanged afterwards.
    """
    items = _as_list(boards, "boards")
    shape = (len(items), MOVE_INDEX_SIZE)
    if out is None:
        out = _empty(shape, _BOOL)
    else:
        _checked_out(out, shape, _MASK_DTYPES, "bool")
    _native.legal_mask_batch(generator, items, out)
    return out
