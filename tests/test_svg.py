"""Boards as SVG pictures: pieces read back from the document against
bitboard() for seeded random positions in both orientations, the last move,
check and arrows exactly where asked, bad input that names the argument and
changes nothing, and the command line writing the function's document."""

import math
import pathlib
import random
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from fractions import Fraction

import chess
import pytest

from mirelo_chess import Board, MoveGenerator, svg
from support import KIWIPETE, START

NS = "{http://www.w3.org/2000/svg}"
KINDS = ["pawn", "knight", "bishop", "rook", "queen", "king"]
SQUARE = 45
DOCS = pathlib.Path(__file__).resolve().parent.parent / "docs"
IN_CHECK = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -"  # white is mated


def random_fens(count, seed=21):
    """Positions met along seeded random legal games."""
    rng = random.Random(seed)
    generator = MoveGenerator()
    fens = []
    while len(fens) < count:
        board = Board()
        for _ in range(rng.randrange(20, 160)):
            moves = generator(board)
            if not moves:
                break
            board.push(rng.choice(moves))
            fens.append(board.fen())
    return fens[:count]


@pytest.fixture(scope="module")
def fens():
    return random_fens(1000)


def square_at(x, y, orientation):
    """The name of the square whose top left corner is (x, y) on the board."""
    column, row = int(x // SQUARE), int(y // SQUARE)
    assert 0 <= column < 8 and 0 <= row < 8, (x, y)
    file, rank = (column, 7 - row) if orientation == "white" else (7 - column, row)
    return "abcdefgh"[file] + str(rank + 1)


def index(name):
    return "abcdefgh".index(name[0]) + 8 * (int(name[1]) - 1)


def parse(document, size=360):
    root = ET.fromstring(document)
    assert root.tag == NS + "svg"
    assert float(root.get("width")) == float(root.get("height")) == size
    assert len(root.get("viewBox").split()) == 4
    ids = {e.get("id") for e in root.iter() if e.get("id")}
    for use in root.iter(NS + "use"):
        assert use.get("href")[1:] in ids
    return root


def with_class(root, name):
    return [e for e in root.iter() if name in (e.get("class") or "").split()]


def planes(root, orientation):
    """The 12 planes of bitboard(), read from where the pieces are drawn."""
    found = [[False] * 64 for _ in range(12)]
    for piece in with_class(root, "piece"):
        _, colour, kind = piece.get("class").split()
        assert piece.get("href") == f"#mirelo-{colour}-{kind}"
        name = square_at(float(piece.get("x")), float(piece.get("y")), orientation)
        assert piece.get("data-square") == name
        plane = KINDS.index(kind) + 6 * (colour == "black")
        assert not found[plane][index(name)]
        found[plane][index(name)] = True
    return found


def marked(root, name, orientation):
    """Squares of the elements of a class, checked against where they are drawn."""
    squares = []
    for element in with_class(root, name):
        square = element.get("data-square")
        assert square_at(float(element.get("x")), float(element.get("y")), orientation) == square
        squares.append(square)
    return sorted(squares)


def centre_square(x, y, orientation):
    assert math.isclose(x % SQUARE, SQUARE / 2, abs_tol=0.06) and math.isclose(y % SQUARE, SQUARE / 2, abs_tol=0.06)
    return square_at(x, y, orientation)


def arrows(root, orientation):
    """(from, to) of every arrow, checked against where its tail and tip are drawn."""
    found = []
    for arrow in with_class(root, "arrow"):
        origin, target = arrow.get("data-from"), arrow.get("data-to")
        if arrow.tag == NS + "circle":
            assert origin == target == centre_square(float(arrow.get("cx")), float(arrow.get("cy")), orientation)
        else:
            points = [tuple(map(float, p.split())) for p in re.findall(r"[\d.-]+ [\d.-]+", arrow.get("d"))]
            assert len(points) == 7
            tail = [(a + b) / 2 for a, b in zip(points[0], points[6])]
            assert centre_square(*tail, orientation) == origin
            assert centre_square(*points[3], orientation) == target
        found.append((origin, target))
    return found


@pytest.mark.parametrize("orientation", ["white", "black"])
def test_pieces_read_back_as_bitboard(fens, orientation):
    checks = 0
    for fen in fens:
        board = Board(fen)
        document = svg.board(board, orientation=orientation)
        root = parse(document)
        assert planes(root, orientation) == board.bitboard()
        oracle = chess.Board(fen)
        expected_check = [chess.square_name(oracle.king(oracle.turn))] if oracle.is_check() else []
        assert marked(root, "check", orientation) == expected_check
        checks += bool(expected_check)
        assert not with_class(root, "lastmove") and not with_class(root, "arrow")
        assert board.fen() == fen
    assert checks > 10  # the default marker was exercised


@pytest.mark.parametrize("size, coordinates, view", [
    (360, True, "0 0 392 392"),
    (100, False, "0 0 360 360"),
    (512.5, True, "0 0 392 392"),
    (Fraction(1, 3), True, "0 0 392 392"),
])
def test_size_and_view_box(size, coordinates, view):
    document = svg.board(KIWIPETE, size=size, coordinates=coordinates)
    root = parse(document, float(size))
    assert root.get("viewBox") == view
    assert len(root.findall(f".//{NS}text")) == (16 if coordinates else 0)


@pytest.mark.parametrize("fen, orientation, lastmove, check, given, tinted, checked, drawn", [
    (START, "white", "e2e4", None, ["g1f3", "b1c3"], ["e2", "e4"], [], [("g1", "f3"), ("b1", "c3")]),
    (START, "black", "e7e8q", None, ("a1h8", "h8a1"), ["e7", "e8"], [], [("a1", "h8"), ("h8", "a1")]),
    (KIWIPETE, "black", None, "e8", iter(["d5d5", "e5f7"]), [], ["e8"], [("d5", "d5"), ("e5", "f7")]),
    (KIWIPETE, "white", "a1a1", "h1", [], ["a1"], ["h1"], []),
    (IN_CHECK, "white", "d8h4", None, [], ["d8", "h4"], ["e1"], []),
    (IN_CHECK, "black", None, "e8", [], [], ["e8"], []),  # the given square replaces the default
])
def test_decorations_where_asked(fen, orientation, lastmove, check, given, tinted, checked, drawn):
    document = svg.board(fen, orientation=orientation, lastmove=lastmove, check=check, arrows=given)
    root = parse(document)
    assert marked(root, "lastmove", orientation) == tinted
    assert marked(root, "check", orientation) == checked
    assert arrows(root, orientation) == drawn
    assert planes(root, orientation) == Board(fen).bitboard()


def test_document_type_and_board_or_fen():
    board = Board(KIWIPETE)
    document = svg.board(board, arrows=["e5f7"])
    assert type(document) is svg.SVG and isinstance(document, str)
    assert document._repr_svg_() == document and type(document._repr_svg_()) is str
    assert svg.board(KIWIPETE, arrows=["e5f7"]) == document
    assert document.endswith("</svg>\n")


@pytest.mark.parametrize("kwargs, error, message", [
    ({"board": 42}, TypeError, "board: expected a Board or a FEN text, not int"),
    ({"board": "8/8/8/8/8/8/8/8 x - -"}, ValueError, "board: '8/8/8/8/8/8/8/8 x - -' is not a FEN text"),
    ({"board": "xyz"}, ValueError, "board: 'xyz' is not a FEN text"),
    ({"size": 0}, ValueError, "size: 0 is not a positive number"),
    ({"size": float("nan")}, ValueError, "size: nan is not a positive number"),
    ({"size": float("inf")}, ValueError, "size: inf is not a positive number"),
    ({"size": 10 ** 400}, ValueError, "size: 1000"),
    ({"size": "360"}, TypeError, "size: expected a number, not str"),
    ({"size": True}, TypeError, "size: expected a number, not bool"),
    ({"orientation": "up"}, ValueError, "orientation: 'up' is neither 'white' nor 'black'"),
    ({"orientation": None}, TypeError, "orientation: expected 'white' or 'black', not NoneType"),
    ({"lastmove": "e2e9"}, ValueError, "lastmove: 'e2e9' is not a move text"),
    ({"lastmove": "e2"}, ValueError, "lastmove: 'e2' is not a move text"),
    ({"lastmove": "e7e8k"}, ValueError, "lastmove: 'e7e8k' is not a move text"),
    ({"lastmove": "e2e4 "}, ValueError, "lastmove: 'e2e4 ' is not a move text"),
    ({"lastmove": "E2E4"}, ValueError, "lastmove: 'E2E4' is not a move text"),
    ({"lastmove": ("e2", "e4")}, TypeError, "lastmove: expected a move text, not tuple"),
    ({"check": "e9"}, ValueError, "check: 'e9' is not a square name"),
    ({"check": 4}, TypeError, "check: expected a square name, not int"),
    ({"arrows": "e2e4"}, TypeError, "arrows: expected an iterable of move texts, not a str"),
    ({"arrows": 3}, TypeError, "arrows: expected an iterable of move texts, not int"),
    ({"arrows": ["e2e4", "e2-e4"]}, ValueError, "arrows[1]: 'e2-e4' is not a move text"),
    ({"arrows": [None]}, TypeError, "arrows[0]: expected a move text, not NoneType"),
])
def test_bad_input_names_the_argument(kwargs, error, message):
    board = Board(KIWIPETE)
    board.push("e2a6")
    before = (board.fen(), board.bitboard())
    arguments = {"board": board, **kwargs}
    with pytest.raises(error) as raised:
        svg.board(arguments.pop("board"), **arguments)
    assert str(raised.value).startswith(message)
    assert (board.fen(), board.bitboard()) == before
    board.pop()
    assert board.fen() == KIWIPETE


def run(tmp_path, *args):
    return subprocess.run([sys.executable, "-m", "mirelo_chess", "svg", *args], cwd=tmp_path,
                          capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize("args, fen, kwargs", [
    ((), START, {}),
    (("--lastmove", "e2e4", "--flip"), START, {"lastmove": "e2e4", "orientation": "black"}),
    (("--arrow", "e5f7", "--arrow", "d5e6", "--size", "240.5", "--no-coordinates", *KIWIPETE.split()), KIWIPETE,
     {"arrows": ["e5f7", "d5e6"], "size": 240.5, "coordinates": False}),
    (("--check", "e1", "--size", "200", KIWIPETE), KIWIPETE, {"check": "e1", "size": 200}),
])
def test_command_line_writes_the_document(tmp_path, args, fen, kwargs):
    done = run(tmp_path, *args)
    assert done.returncode == 0 and done.stderr == ""
    assert done.stdout == svg.board(fen, **kwargs)


@pytest.mark.parametrize("name, args", [("start.svg", ()), ("kiwipete.svg", ("--arrow", "e2a6", KIWIPETE))])
def test_readme_pictures_are_what_the_command_writes(tmp_path, name, args):
    assert run(tmp_path, *args).stdout == (DOCS / name).read_text()


@pytest.mark.parametrize("args, message", [
    (("--lastmove", "e2e9"), "lastmove: 'e2e9' is not a move text"),
    (("--size", "big"), "invalid size 'big'"),
    (("8/8/8/8/8/8/8/8", "x", "-", "-"), "invalid FEN '8/8/8/8/8/8/8/8 x - -'"),
])
def test_command_line_bad_input(tmp_path, args, message):
    done = run(tmp_path, *args)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr.startswith("python -m mirelo_chess svg: ") and message in done.stderr
    assert done.stderr.count("\n") == 1
