"""Boards as SVG pictures, for notebooks, documents and the command line.

``board(board)`` draws a position as a standalone SVG document. The result,
an ``SVG``, is a ``str`` whose ``_repr_svg_`` lets a notebook cell that ends
with it show the board; written to a file it is a picture that browsers and
document tools open as it is. Only the standard library is used.

The picture can be read back. The board is 360 by 360 units in the
``viewBox``, one square being 45, inside a frame of 16 units when coordinates
are drawn (the board group is then translated by 16). Square names below are
those of the drawn square, whatever the orientation:

- each piece is ``<use href="#mirelo-COLOUR-KIND" class="piece COLOUR KIND"
  data-square="g1" x=".." y=".."/>``, COLOUR ``white`` or ``black``, KIND
  ``pawn``, ``knight``, ``bishop``, ``rook``, ``queen`` or ``king``; ``x``
  and ``y`` are the top left corner of its square;
- each square of the last move is ``<rect class="lastmove" data-square=..>``;
- the king in check stands on ``<rect class="check" data-square=..>``;
- each arrow is ``<path class="arrow" data-from="e2" data-to="e4">``, one
  shaft and head from the centre of the first square to the centre of the
  second; a move text whose two squares are equal rings that square with
  ``<circle class="arrow" ..>`` instead.

The piece shapes are drawn for this library. Ids start with ``mirelo-`` so
that boards of other origins on the same page keep their own pictures.
"""

from __future__ import annotations

import math
from collections.abc import Iterable, Iterator
from numbers import Real

from mirelo_chess import Board
from mirelo_chess.errors import PanicException
from mirelo_chess.game import is_check

__all__ = ["SVG", "board"]

_SQUARE = 45
_BOARD_SIZE = 8 * _SQUARE
_FRAME = 16  # room for the coordinates around the board

_LIGHT = "#e9ecdf"
_DARK = "#8ca68f"
_FRAME_COLOUR = "#3d4a43"
_COORDINATE_COLOUR = "#e9ecdf"
_LASTMOVE_PAINT = 'fill="#f4d03f" fill-opacity="0.55"'
_ARROW_COLOUR = "#d9611e"

# Arrows, in units: the shaft's width, the head's width and length.
_SHAFT_WIDTH = 9.0
_HEAD_WIDTH = 25.0
_HEAD_LENGTH = 20.0
_RING_RADIUS = 19.5
_ARROW_PATH = "M" + "L".join(["%.1f %.1f"] * 7) + "Z"  # tail, neck, wing, tip, wing, neck, tail

_SQUARE_NAMES = [file + rank for rank in "12345678" for file in "abcdefgh"]
_SQUARE_INDEX = {name: index for index, name in enumerate(_SQUARE_NAMES)}

_KINDS = {"p": "pawn", "n": "knight", "b": "bishop", "r": "rook", "q": "queen", "k": "king"}
_PIECE_LETTERS = "PNBRQKpnbrqk"
_PIECE_SET = frozenset(_PIECE_LETTERS)

# Fill, outline and the colour of inner lines (``currentColor``): light lines
# keep the details of a dark piece visible.
_PIECE_COLOURS = {"white": ("#fbfaf6", "#1d1d1d", "#1d1d1d"), "black": ("#2b2b2b", "#0c0c0c", "#ececec")}

# One 45-unit square per shape; every piece stands on the same base.
_BASE = '<path d="M11.5 39.5h22a1 1 0 0 0 1-1v-2.5a1 1 0 0 0-1-1h-22a1 1 0 0 0-1 1v2.5a1 1 0 0 0 1 1z"/>'
_DETAIL = ' fill="none" stroke="currentColor"'
_SHAPES = {
    "pawn": ('<path d="M15.5 35c0-6 3-9.5 5-12.5h4c2 3 5 6.5 5 12.5z"/>'
             '<path d="M18 23.5h9a1.3 1.3 0 0 0 0-2.6h-9a1.3 1.3 0 0 0 0 2.6z"/>'
             '<circle cx="22.5" cy="15" r="5.5"/>'),
    "knight": ('<path d="M31.5 35c1.5-8.5 0-17.5-6.5-22.5l-1-5l-3 4c-5 .5-8 3.5-10 9l-1.5 4.5'
               'c-.5 2 1.5 3.5 3.5 2.5l4-2.5c2 0 3.5-.5 5.5-2.5c-.5 4-4 6.5-5.5 10c-.6 1-.9 1.7-1 2.5z"/>'
               '<circle cx="17.5" cy="17.5" r="1.3" fill="currentColor" stroke="none"/>'
               f'<path d="M27 14c3 4 4 11 2.5 19"{_DETAIL}/>'),
    "bishop": ('<path d="M16 35c1.5-2.5 3-4.5 3.5-7h6c.5 2.5 2 4.5 3.5 7z"/>'
               '<path d="M19 28c-5-4-5-11 3.5-17.5c8.5 6.5 8.5 13.5 3.5 17.5z"/>'
               '<path d="M18 29.5h9a1.5 1.5 0 0 0 0-3h-9a1.5 1.5 0 0 0 0 3z"/>'
               '<circle cx="22.5" cy="8.5" r="2.3"/>'
               f'<path d="M25.5 15.5l-5.5 6"{_DETAIL}/>'),
    "rook": ('<path d="M13.5 35l1.5-4h15l1.5 4z"/>'
             '<path d="M16 31l1-13h11l1 13z"/>'
             '<path d="M13.5 18v-8h3.75v3h3.4v-3h3.7v3h3.4v-3h3.75v8z"/>'
             f'<path d="M17 18h11M16.3 27.5h12.4"{_DETAIL}/>'),
    "queen": ('<path d="M13 35l-3.5-19l6.5 10l.5-13l5 12.5l1-14l1 14l5-12.5l.5 13l6.5-10l-3.5 19z"/>'
              '<circle cx="9.5" cy="14.5" r="2.2"/><circle cx="16.5" cy="11" r="2.2"/>'
              '<circle cx="22.5" cy="9" r="2.2"/><circle cx="28.5" cy="11" r="2.2"/>'
              '<circle cx="35.5" cy="14.5" r="2.2"/>'
              f'<path d="M13.5 31c6-2 12-2 18 0"{_DETAIL}/>'),
    "king": ('<path d="M13 35c-5-5-5-14 2-15c4-.5 6 2.5 7.5 5.5c1.5-3 3.5-6 7.5-5.5c7 1 7 10 2 15z"/>'
             '<path d="M20 25.5c-1-4 0-7.5 2.5-10c2.5 2.5 3.5 6 2.5 10z"/>'
             '<path d="M22.5 5v10.5M19 8.5h7" fill="none"/>'
             f'<path d="M14 31c6-2 11-2 17 0"{_DETAIL}/>'),
}

_CHECK_GRADIENT = ('<radialGradient id="mirelo-check"><stop offset="0" stop-color="#ff3b30"/>'
                   '<stop offset="0.5" stop-color="#e0201b" stop-opacity="0.85"/>'
                   '<stop offset="1" stop-color="#a00000" stop-opacity="0"/></radialGradient>')


def _corner(square: int, flipped: bool) -> tuple[int, int]:
    """The top left corner of a square on the drawn board."""
    file, rank = square % 8, square // 8
    if flipped:
        return (7 - file) * _SQUARE, rank * _SQUARE
    return file * _SQUARE, (7 - rank) * _SQUARE


def _piece_name(letter: str) -> tuple[str, str]:
    """The colour and kind of a FEN piece letter."""
    return "white" if letter.isupper() else "black", _KINDS[letter.lower()]


def _piece_definition(letter: str) -> str:
    colour, kind = _piece_name(letter)
    fill, outline, detail = _PIECE_COLOURS[colour]
    return (f'<g id="mirelo-{colour}-{kind}" fill="{fill}" stroke="{outline}" color="{detail}" '
            f'stroke-width="1.5" stroke-linejoin="round" stroke-linecap="round">{_BASE}{_SHAPES[kind]}</g>')


def _piece_uses(flipped: bool) -> dict[str, list[str]]:
    """For each piece letter, its ``<use>`` element on each of the 64 squares:
    drawing a position is then a walk along its FEN placement."""
    table = {}
    for letter in _PIECE_LETTERS:
        colour, kind = _piece_name(letter)
        row = []
        for square, name in enumerate(_SQUARE_NAMES):
            x, y = _corner(square, flipped)
            row.append(f'<use href="#mirelo-{colour}-{kind}" class="piece {colour} {kind}" '
                       f'data-square="{name}" x="{x}" y="{y}"/>')
        table[letter] = row
    return table


def _coordinates(flipped: bool) -> str:
    files, ranks = "abcdefgh", "87654321"
    if flipped:
        files, ranks = files[::-1], ranks[::-1]
    middle = [_FRAME + _SQUARE * i + _SQUARE // 2 for i in range(8)]
    labels = [f'<text x="{x}" y="{_FRAME + _BOARD_SIZE + 12}">{f}</text>' for x, f in zip(middle, files)]
    labels += [f'<text x="{_FRAME // 2}" y="{y + 4}">{r}</text>' for y, r in zip(middle, ranks)]
    return (f'<g class="coordinates" fill="{_COORDINATE_COLOUR}" font-family="sans-serif" font-size="12" '
            f'text-anchor="middle">{"".join(labels)}</g>')


def _dark_squares() -> str:
    # The dark squares sit where they did after a half turn, so one path
    # serves both orientations.
    corners = [_corner(square, False) for square in range(64) if (square // 8 + square) % 2 == 0]
    steps = "".join(f"M{x} {y}h{_SQUARE}v{_SQUARE}h-{_SQUARE}z" for x, y in corners)
    return f'<path class="dark" fill="{_DARK}" d="{steps}"/>'


_DEFINITIONS = {letter: _piece_definition(letter) for letter in _PIECE_LETTERS}
_USES = {flipped: _piece_uses(flipped) for flipped in (False, True)}
_COORDINATES = {flipped: _coordinates(flipped) for flipped in (False, True)}
_SQUARES = f'<rect class="light" width="{_BOARD_SIZE}" height="{_BOARD_SIZE}" fill="{_LIGHT}"/>{_dark_squares()}'


class SVG(str):
    """An SVG document. It is the text itself; notebooks show it as a picture."""

    __slots__ = ()

    def _repr_svg_(self) -> str:
        """The document, for IPython's display machinery."""
        return str(self)


def _position(board: object) -> Board:
    if isinstance(board, Board):
        return board
    if isinstance(board, str):
        try:
            return Board(board)
        except (ValueError, PanicException) as error:
            raise ValueError(f"board: {board!r} is not a FEN text ({error})") from None
    raise TypeError(f"board: expected a Board or a FEN text, not {type(board).__name__}")


def _size_text(size: object) -> str:
    if isinstance(size, bool) or not isinstance(size, Real):
        raise TypeError(f"size: expected a number, not {type(size).__name__}")
    try:
        value = float(size)
    except OverflowError:
        value = math.inf
    if not 0 < value < math.inf:
        raise ValueError(f"size: {size!r} is not a positive number")
    return str(int(value)) if value.is_integer() else repr(value)


def _flipped(orientation: object) -> bool:
    if not isinstance(orientation, str):
        raise TypeError(f"orientation: expected 'white' or 'black', not {type(orientation).__name__}")
    if orientation not in ("white", "black"):
        raise ValueError(f"orientation: {orientation!r} is neither 'white' nor 'black'")
    return orientation == "black"


def _square(text: object, argument: str) -> int:
    if not isinstance(text, str):
        raise TypeError(f"{argument}: expected a square name, not {type(text).__name__}")
    square = _SQUARE_INDEX.get(text)
    if square is None:
        raise ValueError(f"{argument}: {text!r} is not a square name")
    return square


def _move(text: object, argument: str) -> tuple[int, int]:
    """The two squares of a move text ("e2e4", "e7e8q")."""
    if not isinstance(text, str):
        raise TypeError(f"{argument}: expected a move text, not {type(text).__name__}")
    origin = _SQUARE_INDEX.get(text[:2])
    target = _SQUARE_INDEX.get(text[2:4])
    if origin is None or target is None or not (len(text) == 4 or len(text) == 5 and text[4] in "nbrq"):
        raise ValueError(f"{argument}: {text!r} is not a move text")
    return origin, target


def _moves(arrows: object) -> list[tuple[int, int]]:
    if isinstance(arrows, str):  # a lone "e2e4" would otherwise be read letter by letter
        raise TypeError("arrows: expected an iterable of move texts, not a str (wrap one move in a list)")
    try:
        items = iter(arrows)  # type: ignore[call-overload]
    except TypeError:
        raise TypeError(f"arrows: expected an iterable of move texts, not {type(arrows).__name__}") from None
    return [_move(text, f"arrows[{index}]") for index, text in enumerate(items)]


def _placement_squares(placement: str) -> Iterator[tuple[int, str]]:
    """(square, piece letter) for each piece of a FEN placement field."""
    square = 56
    for letter in placement:
        if letter in _PIECE_SET:
            yield square, letter
            square += 1
        elif letter == "/":
            square -= 16
        else:
            square += int(letter)


def _square_mark(kind: str, square: int, flipped: bool, paint: str) -> str:
    x, y = _corner(square, flipped)
    return (f'<rect class="{kind}" data-square="{_SQUARE_NAMES[square]}" x="{x}" y="{y}" '
            f'width="{_SQUARE}" height="{_SQUARE}" {paint}/>')


def _arrow(origin: int, target: int, flipped: bool) -> str:
    names = f'data-from="{_SQUARE_NAMES[origin]}" data-to="{_SQUARE_NAMES[target]}"'
    x0, y0 = _corner(origin, flipped)
    x1, y1 = _corner(target, flipped)
    if origin == target:
        return (f'<circle class="arrow" {names} cx="{x0 + _SQUARE / 2}" cy="{y0 + _SQUARE / 2}" r="{_RING_RADIUS}" '
                f'fill="none" stroke="{_ARROW_COLOUR}" stroke-width="{_SHAFT_WIDTH / 2}" stroke-opacity="0.8"/>')
    length = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / length, (y1 - y0) / length  # along the arrow
    cx, cy = x0 + _SQUARE / 2, y0 + _SQUARE / 2  # the tail, at the centre of the first square
    neck = length - _HEAD_LENGTH
    corners: list[float] = []
    for along, across in ((0, _SHAFT_WIDTH / 2), (neck, _SHAFT_WIDTH / 2), (neck, _HEAD_WIDTH / 2), (length, 0),
                          (neck, -_HEAD_WIDTH / 2), (neck, -_SHAFT_WIDTH / 2), (0, -_SHAFT_WIDTH / 2)):
        corners += (cx + ux * along - uy * across, cy + uy * along + ux * across)
    return (f'<path class="arrow" {names} d="{_ARROW_PATH % tuple(corners)}" '
            f'fill="{_ARROW_COLOUR}" fill-opacity="0.8"/>')


def board(
    board: Board | str,
    *,
    size: float = 360,
    orientation: str = "white",
    lastmove: str | None = None,
    check: str | None = None,
    arrows: Iterable[str] = (),
    coordinates: bool = True,
) -> SVG:
    """The position as a standalone SVG document.

    ``board`` is a ``Board`` or a FEN text. The picture is ``size`` pixels
    wide and high (any positive number) and scales freely. ``orientation``
    ``"white"`` puts the first rank at the bottom, ``"black"`` the eighth.
    ``lastmove``, a move text such as ``"e2e4"``, tints its two squares.
    ``check``, a square name, marks the king there; by default the king of
    the side to move is marked when it is in check. ``arrows`` are move texts
    drawn as arrows from their first square to their second (a text whose
    squares are equal rings that square). ``coordinates`` draws the file
    letters and rank numbers in a frame around the board.

    A square name or move text that is not one, an orientation that is
    neither colour, a size that is not a positive number, or a FEN text that
    the library rejects raise ``ValueError``; an argument of the wrong type
    raises ``TypeError``. Both name the argument. The board is only read.
    """
    position = _position(board)
    width = _size_text(size)
    flipped = _flipped(orientation)
    tinted = () if lastmove is None else _move(lastmove, "lastmove")
    marked = None if check is None else _square(check, "check")
    drawn = _moves(arrows)

    fen = position.fen()
    placement, side = fen.split(" ", 2)[:2]
    if check is None and is_check(position):
        king = "K" if side == "w" else "k"
        marked = min(square for square, letter in _placement_squares(placement) if letter == king)

    uses = _USES[flipped]
    pieces = [uses[letter][square] for square, letter in _placement_squares(placement)]

    view = _BOARD_SIZE + 2 * _FRAME if coordinates else _BOARD_SIZE
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{width}" '
             f'viewBox="0 0 {view} {view}"><title>{fen}</title><defs>']
    parts += [_DEFINITIONS[letter] for letter in _PIECE_LETTERS if letter in placement]
    if marked is not None:
        parts.append(_CHECK_GRADIENT)
    parts.append("</defs>")
    if coordinates:
        parts.append(f'<rect class="frame" width="{view}" height="{view}" fill="{_FRAME_COLOUR}"/>')
        parts.append(_COORDINATES[flipped])
        parts.append(f'<g transform="translate({_FRAME} {_FRAME})">')
    else:
        parts.append("<g>")
    parts.append(_SQUARES)
    parts += [_square_mark("lastmove", square, flipped, _LASTMOVE_PAINT) for square in dict.fromkeys(tinted)]
    if marked is not None:
        parts.append(_square_mark("check", marked, flipped, 'fill="url(#mirelo-check)"'))
    parts += pieces
    parts += [_arrow(origin, target, flipped) for origin, target in drawn]
    parts.append("</g></svg>\n")
    return SVG("".join(parts))
