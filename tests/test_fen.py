"""Reading positions from FEN text and writing them back.

The reader is lenient: four white-space separated fields, a square counter
that runs on across the whole board field, only the first character of the
en-passant field. The writer always produces exactly four fields."""

import random

import chess
import pytest

from mirelo_chess import Board
from support import KIWIPETE, POSITIONS, START, PanicException, assert_panics, expected_fen, pick_move
EMPTY_BLACK = "8/8/8/8/8/8/8/8 b - -"

# Characters with the Unicode White_Space property (not the same set as
# Python's str.isspace: U+001C..U+001F are not white space here).
WHITE_SPACE = (
    [chr(c) for c in range(0x09, 0x0E)] + [" ", "\x85", "\xa0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)
NOT_WHITE_SPACE = ["\x1c", "\x1d", "\x1e", "\x1f", "\u200b", "\u180e", "\ufeff", "\x00", "_"]


def fen_of(text):
    return Board(text).fen()


def assert_value_error(text, reason):
    with pytest.raises(ValueError) as info:
        Board(text)
    assert type(info.value) is ValueError
    assert info.value.args == ("Invalid fen: " + reason,)


# ---------------------------------------------------------------- reading: board field


@pytest.mark.parametrize("text, expected", [
    # a rank of seven squares shifts every later square by one
    ("rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
     "nbqkbnr1/pppppppr/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPP/RNBQKBNR w KQkq -",
     "nbqkbnr1/pppppppr/7p/8/8/8/PPPPPPP1/RNBQKBNR w KQkq -"),
    # "9" counts nine squares
    ("4k3/8/8/8/8/8/8/9K w - -", "6k1/8/8/8/8/8/1K6/8 w - -"),
    ("9/9/9/9/9/9/9/9 b - -", EMPTY_BLACK),
    # "0" counts none
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ0KBNR w KQkq -", START),
    ("00000000/8/8/8/8/8/8/8 b - -", EMPTY_BLACK),
    ("4k3/8/8/8/8/8/8/0004K3 w - -", "4k3/8/8/8/8/8/8/4K3 w - -"),
    # nine ranks: the counter reaches 64 and wraps to a1
    ("p7/8/8/8/8/8/8/8/8 w - -", "8/8/8/8/8/8/8/p7 w - -"),
    ("8/8/8/8/8/8/8/8/8/8/7K w - -", "8/8/8/8/8/8/8/7K w - -"),
    ("3p4/8/8/8/8/8/8/8/8 b - -", "8/8/8/8/8/8/8/3p4 b - -"),
    # one square held twice: the lower piece index is written
    ("n7/8/8/8/8/8/8/8/N7 w - -", "8/8/8/8/8/8/8/N7 w - -"),
    ("N7/8/8/8/8/8/8/8/n7 w - -", "8/8/8/8/8/8/8/N7 w - -"),
    ("k7/8/8/8/8/8/8/8/P7 w - -", "8/8/8/8/8/8/8/P7 w - -"),
    # no "/" at all: one run of squares from a1
    ("RNBQKBNRPPPPPPPP w - -", "8/8/8/8/8/8/PPPPPPPP/RNBQKBNR w - -"),
    ("44k b - -", "8/8/8/8/8/8/k7/8 b - -"),
    # "/" never moves the counter; empty parts are harmless
    ("////K b - -", "8/8/8/8/8/8/8/K7 b - -"),
    ("K/k// w - -", "8/8/8/8/8/8/8/kK6 w - -"),
    ("8/8/8/8/8/8/8/8/ w - -", "8/8/8/8/8/8/8/8 w - -"),
    ("/ w - -", "8/8/8/8/8/8/8/8 w - -"),
    # short and long fields
    ("k b - -", "8/8/8/8/8/8/8/k7 b - -"),
    ("8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/8/q6Q b - -",
     "8/8/8/8/8/8/8/q6Q b - -"),
])
def test_board_field_is_one_continuous_count(text, expected):
    assert fen_of(text) == expected


@pytest.mark.parametrize("text, expected", [
    ("9" * 100000 + "p w - -", "8/8/8/p7/8/8/8/8 w - -"),  # 900000 % 64 == 32 (a5)
    ("P" * 100000 + " b - -", "/".join(["PPPPPPPP"] * 8) + " b - -"),
    ("8/" * 100000 + "k w - -", "8/8/8/8/8/8/8/k7 w - -"),
    ("0" * 200000 + "K w - -", "8/8/8/8/8/8/8/K7 w - -"),
    ("/" * 100000 + " w - -", "8/8/8/8/8/8/8/8 w - -"),
    ("k" * 63 + "0" * 100000 + "K b - -",
     "kkkkkkkK/" + "/".join(["kkkkkkkk"] * 7) + " b - -"),
])
def test_huge_board_fields(text, expected):
    assert fen_of(text) == expected


@pytest.mark.parametrize("text", [
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQXBNR w KQkq -",
    "x",
    "x w KQkq -",
    "x W X",  # the board field is read first
    "8/8/8/8/8/8/8/8x",
    "8/8/8/8/8/8/8/8\x1c w - -",  # U+001C is not white space here
    "8/8/8/8/8/8/8/8\u200b w - -",
    "8/8/8/8/8/8/8/8\x00 w - -",
    "8/8/8/8/8/8/8/8\x00",
    "8/8/8/8/8/8/8/\u0663 w - -",  # an Arabic-Indic digit is not a digit here
    "8/8/8/8/8/8/8/\uff18 w - -",  # neither is a full-width 8
    "8-8 w - -",
    "8/8/8/8/8/8/8/7\u212a w - -",  # KELVIN SIGN, not K
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBN\xe9 w KQkq -",
    "8/8/8/8/8/8/8/8/" * 1000 + "?",
])
def test_invalid_piece_character(text):
    assert_panics(lambda: Board(text), "Invalid piece type")


# ---------------------------------------------------------------- reading: side, castling


@pytest.mark.parametrize("side", ["W", "B", "white", "black", "wb", "ww", "x", "-", "0",
                                  "w\x00", "\u0175", "w\u200b", "\x1cw", "ｗ"])
def test_invalid_side_to_move(side):
    assert_value_error("8/8/8/8/8/8/8/8 " + side + " - -", "Invalid side-to-move")


@pytest.mark.parametrize("castling, written", [
    ("-", "-"),
    ("KQkq", "KQkq"),
    ("qkQK", "KQkq"),
    ("QK", "KQ"),
    ("KQ", "KQ"),
    ("KQ-kq", "KQ"),
    ("-KQ", "-"),
    ("--", "-"),
    ("-X", "-"),
    ("K-\x00\u3042?", "K"),
    ("kkkkQ", "Qk"),
    ("q", "q"),
    ("kq", "kq"),
    ("Qq", "Qq"),
])
def test_castling_field(castling, written):
    assert fen_of("r3k2r/8/8/8/8/8/8/R3K2R w " + castling + " -") == \
        "r3k2r/8/8/8/8/8/8/R3K2R w " + written + " -"


@pytest.mark.parametrize("castling", ["X", "KX", "KQkqX", "K\x00", "KQk\u212a", "kQx", "0",
                                      "KQkq1", "w", "\u200b-"])
def test_invalid_castling_specifier(castling):
    assert_value_error("8/8/8/8/8/8/8/8 b " + castling + " -", "Invalid castling specifier")


# ---------------------------------------------------------------- reading: en passant


@pytest.mark.parametrize("side, field, written", [
    ("w", "-", "-"),
    ("b", "-", "-"),
    ("b", "e3", "e3"),
    ("w", "e6", "e6"),
    ("w", "e3", "e6"),    # only the file letter counts
    ("b", "e6", "e3"),
    ("w", "e", "e6"),
    ("b", "a", "a3"),
    ("w", "h9xyz", "h6"),
    ("b", "c-", "c3"),
    ("w", "a1", "a6"),
    ("b", "h8", "h3"),
    ("w", "z", "-"),      # sets a bit above the en-passant bits
    ("b", "z", "-"),
    ("w", "E3", "-"),
    ("w", "-e", "-"),     # not exactly "-": "-" lands in black's half with white to move
    ("b", "-e", "-"),
    ("w", "0", "-"),
    ("w", "!", "a6"),     # code point 33: (33 + 36) % 64 == 5
    ("w", "(", "h6"),     # code point 40
    ("b", "!", "a3"),     # (33 + 44) % 64 == 13
    ("b", "\u00e1", "a3"),  # code point 225: (225 + 44) % 64 == 13
    ("w", "\u00e1", "a6"),  # (225 + 36) % 64 == 5
    ("w", "\u0165", "e6"),  # code point 0x165, low byte "e": (357 + 36) % 64 == 9
    ("b", "\u3000x", "-"),  # white space splits: the field is "x"
    ("w", "--", "-"),
])
def test_en_passant_field(side, field, written):
    board = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR "
    assert fen_of(board + side + " KQkq " + field) == board + side + " KQkq " + written


def test_en_passant_square_of_the_side_not_to_move_is_dropped_on_the_next_move():
    # "0" with white to move lands in black's en-passant half; it is not written
    # and any move clears it
    board = Board("4k3/8/8/8/8/8/4P3/4K3 w - 0")
    assert board.fen() == "4k3/8/8/8/8/8/4P3/4K3 w - -"
    board.push("e1d1")
    assert board.fen() == "4k3/8/8/8/8/8/4P3/3K4 b - -"
    board.pop()
    assert board.fen() == "4k3/8/8/8/8/8/4P3/4K3 w - -"


def test_en_passant_bit_above_the_en_passant_bits_survives_moves():
    board = Board("4k3/8/8/8/8/8/8/4K3 w - z")
    board.push("e1e2")
    board.push("e8e7")
    assert board.fen() == "8/4k3/8/8/8/8/4K3/8 w - -"
    board.pop()
    board.pop()
    assert board.fen() == "4k3/8/8/8/8/8/8/4K3 w - -"


# ---------------------------------------------------------------- fields


@pytest.mark.parametrize("ws", WHITE_SPACE)
def test_every_unicode_white_space_separates_fields(ws):
    text = ws.join(["rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR", "b", "KQkq", "e3"])
    assert fen_of(text) == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
    assert fen_of(ws * 3 + text.replace(ws, ws * 2) + ws) == fen_of(text)


@pytest.mark.parametrize("ch", NOT_WHITE_SPACE)
def test_other_characters_do_not_separate_fields(ch):
    # between side and castling: the side field becomes "w" + ch
    assert_value_error("8/8/8/8/8/8/8/8 w" + ch + "- -", "Invalid side-to-move")


@pytest.mark.parametrize("text", [
    START + " 0 1",
    START + " 37 112 and more",
    "\t\n " + START.replace(" ", "\t\r\n  ") + " \n",
    "\u3000" + START.replace(" ", "\u00a0\u2003") + "\u2029",
    START + " x" * 5000,
    START + "\n" + "\x00 " * 3000,
    START + " " + "\ud800",  # a lone surrogate anywhere still fails encoding
])
def test_extra_fields_and_spacing(text):
    if "\ud800" in text:
        with pytest.raises(UnicodeEncodeError):
            Board(text)
        return
    assert fen_of(text) == START


@pytest.mark.parametrize("text, message", [
    ("", "Missing FEN field: board"),
    ("   ", "Missing FEN field: board"),
    ("\t\n\u3000\u00a0\u2028", "Missing FEN field: board"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "Missing FEN field: side to move"),
    ("8/8/8/8/8/8/8/8 \u3000", "Missing FEN field: side to move"),
    ("K", "Missing FEN field: side to move"),
    ("8/8/8/8/8/8/8/8 w", "Missing FEN field: castling"),
    ("8/8/8/8/8/8/8/8 b\n", "Missing FEN field: castling"),
    ("8/8/8/8/8/8/8/8 w -", "Missing FEN field: en passant"),
    ("8/8/8/8/8/8/8/8 w KQ-X", "Missing FEN field: en passant"),
])
def test_missing_fields(text, message):
    assert_panics(lambda: Board(text), message)


@pytest.mark.parametrize("text, kind, message", [
    # the board field comes first, whatever else is wrong
    ("X", "panic", "Invalid piece type"),
    ("X Y Z W", "panic", "Invalid piece type"),
    ("8/8/8/8/8/8/8/8X y", "panic", "Invalid piece type"),
    # then the fields in order
    ("8/8/8/8/8/8/8/8 x", "value", "Invalid side-to-move"),
    ("8/8/8/8/8/8/8/8 x X", "value", "Invalid side-to-move"),
    ("8/8/8/8/8/8/8/8 x - -", "value", "Invalid side-to-move"),
    ("8/8/8/8/8/8/8/8 w X", "value", "Invalid castling specifier"),
    ("8/8/8/8/8/8/8/8 b KQX z", "value", "Invalid castling specifier"),
    ("8/8/8/8/8/8/8/8 w KQ\x00X -", "value", "Invalid castling specifier"),
])
def test_error_order(text, kind, message):
    if kind == "panic":
        assert_panics(lambda: Board(text), message)
    else:
        assert_value_error(text, message)


def test_missing_field_is_not_a_value_error():
    for text in ("", "8/8/8/8/8/8/8/8", "8/8/8/8/8/8/8/8 w", "8/8/8/8/8/8/8/8 w -"):
        try:
            Board(text)
        except Exception as e:  # a missing field must not look like bad input
            pytest.fail(f"{text!r} raised {type(e).__name__}: {e}")
        except BaseException as e:  # noqa: B036
            assert type(e) is PanicException
        else:
            pytest.fail(f"{text!r} was accepted")


def test_default_position():
    assert Board().fen() == START
    assert Board(START).fen() == START
    assert Board(fen=START + " 0 1").fen() == START


# ---------------------------------------------------------------- writing


@pytest.mark.parametrize("text, expected", [
    (START, START),
    ("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
     "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"),
    ("8/8/8/8/8/8/8/8 b - -", EMPTY_BLACK),
    ("8/8/8/8/8/8/8/8 w - -", "8/8/8/8/8/8/8/8 w - -"),
    ("11111111/2222/44/8/17/71/116/611 b - -", EMPTY_BLACK),
    (KIWIPETE + " 0 1", KIWIPETE),
    (POSITIONS["pos3"].fen + " 0 1", POSITIONS["pos3"].fen),
    ("1k6/8/8/8/8/8/8/6K1 b - -", "1k6/8/8/8/8/8/8/6K1 b - -"),
    ("7k/8/8/8/8/8/8/K7 w - -", "7k/8/8/8/8/8/8/K7 w - -"),
    ("pppppppp/PPPPPPPP/nnnnnnnn/NNNNNNNN/bbbbbbbb/BBBBBBBB/rrqqkkRR/QQKKrrRR b Kq h3",
     "pppppppp/PPPPPPPP/nnnnnnnn/NNNNNNNN/bbbbbbbb/BBBBBBBB/rrqqkkRR/QQKKrrRR b Kq h3"),
    ("1p1p1p1p/P1P1P1P1/8/8/8/8/8/8 w - a6", "1p1p1p1p/P1P1P1P1/8/8/8/8/8/8 w - a6"),
])
def test_fen_writing(text, expected):
    written = fen_of(text)
    assert written == expected
    assert len(written.split(" ")) == 4
    assert fen_of(written) == written


def test_after_e2e4():
    board = Board()
    board.push("e2e4")
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"


# ---------------------------------------------------------------- round trips


def _playout_positions(seed, games, plies):
    rng = random.Random(seed)
    for _ in range(games):
        pc = chess.Board()
        yield pc.copy()
        for _ in range(plies):
            move = pick_move(rng, pc)
            if move is None:
                break
            pc.push(move)
            yield pc.copy(stack=1)


def test_round_trip_on_playout_positions():
    checked = 0
    double_steps = 0
    for pc in _playout_positions(seed=20240611, games=30, plies=120):
        expected = expected_fen(pc)
        if expected.split(" ")[3] != "-":
            double_steps += 1
        board = Board(expected)
        assert board.fen() == expected
        assert Board(board.fen()).fen() == board.fen()
        # the six-field texts of python-chess read the same
        assert Board(pc.fen(en_passant="fen")).fen() == expected
        legal_ep = pc.fen()  # en-passant square only when a capture is legal
        assert Board(legal_ep).fen() == " ".join(legal_ep.split(" ")[:4])
        checked += 1
    assert checked > 2000
    assert double_steps > 50


def test_round_trip_on_reflected_python_chess_positions():
    for pc in _playout_positions(seed=7, games=10, plies=100):
        mirrored = pc.mirror()
        text = mirrored.fen(en_passant="fen")
        written = Board(text).fen()
        assert written.split(" ")[:3] == text.split(" ")[:3]
        assert Board(written).fen() == written


# ---------------------------------------------------------------- robustness

_WS_SET = frozenset(WHITE_SPACE)
_LETTERS = "PNBRQKpnbrqk"


def _split(text):
    fields, current = [], []
    for ch in text:
        if ch in _WS_SET:
            if current:
                fields.append("".join(current))
                current = []
        else:
            current.append(ch)
    if current:
        fields.append("".join(current))
    return fields


def _model(text):
    """Outcome of reading text: ("ok", written fen), ("value", message),
    ("panic", message) or ("unicode", None)."""
    if any(0xD800 <= ord(ch) <= 0xDFFF for ch in text):
        return "unicode", None
    fields = _split(text)
    if not fields:
        return "panic", "Missing FEN field: board"
    pieces = [0] * 12
    counter = 0
    for ch in "/".join(reversed(fields[0].split("/"))):
        if ch == "/":
            continue
        if ch in "0123456789":
            counter += ord(ch) - 48
        elif ch in _LETTERS:
            pieces[_LETTERS.index(ch)] |= 1 << (counter % 64)
            counter += 1
        else:
            return "panic", "Invalid piece type"
    if len(fields) < 2:
        return "panic", "Missing FEN field: side to move"
    if fields[1] not in ("w", "b"):
        return "value", "Invalid fen: Invalid side-to-move"
    white = fields[1] == "w"
    info = 1 if white else 0
    if len(fields) < 3:
        return "panic", "Missing FEN field: castling"
    for ch in fields[2]:
        if ch == "-":
            break
        if ch not in "KQkq":
            return "value", "Invalid fen: Invalid castling specifier"
        info |= 1 << (1 + "KQkq".index(ch))
    if len(fields) < 4:
        return "panic", "Missing FEN field: en passant"
    if fields[3] != "-":
        info |= 1 << ((ord(fields[3][0]) + 36 + (0 if white else 8)) % 64)
    ranks = []
    for rank in range(8):
        out, empty = "", 0
        for file in range(8):
            square = rank * 8 + file
            index = next((i for i in range(12) if pieces[i] >> square & 1), None)
            if index is None:
                empty += 1
            else:
                out += (str(empty) if empty else "") + _LETTERS[index]
                empty = 0
        ranks.append(out + (str(empty) if empty else ""))
    castling = "".join(c for i, c in enumerate("KQkq") if info >> (1 + i) & 1) or "-"
    base = 5 if white else 13
    ep = next((chr(97 + f) + ("6" if white else "3") for f in range(8)
               if info >> (base + f) & 1), "-")
    return "ok", " ".join(["/".join(reversed(ranks)), "w" if white else "b", castling, ep])


_SEEDS = [p.fen for p in POSITIONS.values()] + [
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
    KIWIPETE + " 0 1",
    POSITIONS["pos5"].fen + " 1 8",
    EMPTY_BLACK,
]
_ALPHABET = (list("PNBRQKpnbrqk0123456789/ wb-KQkqabcdefgh12345678x")
             + ["\t", "\n", "\u3000", "\xa0", "\u2003", "\x85", "\x1c", "\x00", "\u200b",
                "\xe9", "\u0661", "\U0001f600", "\uffff", "\u212a"])


def _random_text(rng):
    kind = rng.random()
    if kind < 0.3:  # random characters from a chess-flavoured alphabet
        return "".join(rng.choice(_ALPHABET) for _ in range(rng.randrange(0, 60)))
    if kind < 0.4:  # random code points, surrogates included
        return "".join(chr(rng.randrange(0, 0x110000)) for _ in range(rng.randrange(0, 12)))
    text = list(rng.choice(_SEEDS))
    for _ in range(rng.randrange(1, 6)):  # point mutations of a real position
        op = rng.random()
        pos = rng.randrange(len(text) + 1)
        ch = rng.choice(_ALPHABET) if rng.random() < 0.9 else chr(rng.randrange(0, 0x110000))
        if op < 0.4 and text:
            text[min(pos, len(text) - 1)] = ch
        elif op < 0.7:
            text.insert(pos, ch)
        elif text:
            del text[min(pos, len(text) - 1)]
    text = "".join(text)
    if rng.random() < 0.03:  # a lone surrogate cannot be encoded
        pos = rng.randrange(len(text) + 1)
        text = text[:pos] + chr(rng.randrange(0xD800, 0xE000)) + text[pos:]
    if rng.random() < 0.1:  # shuffle or duplicate fields
        fields = text.split(" ")
        if rng.random() < 0.5:
            rng.shuffle(fields)
        else:
            fields = fields + fields * rng.randrange(1, 4)
        text = rng.choice([" ", "\t", "\u3000"]).join(fields)
    return text


def _check(text):
    expected_kind, expected = _model(text)
    try:
        board = Board(text)
    except UnicodeEncodeError:
        assert expected_kind == "unicode", repr(text[:200])
        return "unicode"
    except ValueError as e:
        assert type(e) is ValueError
        assert str(e).startswith("Invalid fen: ")
        assert (expected_kind, expected) == ("value", str(e)), repr(text[:200])
        return "value"
    except Exception as e:
        pytest.fail(f"{text[:200]!r} raised {type(e).__name__}: {e}")
    except BaseException as e:  # noqa: B036
        assert type(e) is PanicException, repr(text[:200])
        assert expected_kind == "panic", repr(text[:200])
        assert str(e) == expected
        return "panic"
    assert isinstance(board, Board)
    assert (expected_kind, expected) == ("ok", board.fen()), repr(text[:200])
    return "ok"


def test_random_and_mutated_texts():
    rng = random.Random(0xF3E5)
    outcomes = {"ok": 0, "value": 0, "panic": 0, "unicode": 0}
    for _ in range(4000):
        outcomes[_check(_random_text(rng))] += 1
    # the generator reaches every outcome
    assert min(outcomes.values()) >= 20, outcomes


@pytest.mark.parametrize("text", [
    "9" * 100000,
    "9" * 100000 + " w - -",
    START + " " * 100000,
    " ".join(["w"] * 5000),
    START.split(" ")[0] + " w" * 5000,
    START.split(" ")[0] + " w KQkq" + " -" * 5000,
    "\x00" * 100000,
    "\x00 " * 5000,
    "8/8 \x00 \x00 \x00",
    START.replace(" ", "\x00"),
    START + "\x00",
    "\ud800",
    START + " \udfff",
    "\udbff" * 1000,
    "\U0010ffff" * 10000,
    "\u3000" * 50000 + START + "\u3000" * 50000,
    "k/" * 50000 + " b - -",
    ("rnbqkbnr" * 1000) + " w KQkq -",
    "".join(chr(c) for c in range(0x20, 0x3000)) + " w - -",
])
def test_extreme_texts(text):
    _check(text)
