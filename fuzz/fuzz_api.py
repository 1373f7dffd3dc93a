"""Coverage-guided fuzzing of the Python API of mirelo_chess with atheris.

Each input is turned into a short program over a few boards and generators:
build boards from arbitrary or FEN-shaped text, push arbitrary or legal move
texts, pop, generate, export planes, reflect, copy, ask the side to move and
the FEN, read the game state (mirelo_chess.game), pass arguments of the wrong
type, and call back into a board from inside one of its own calls. Every
step checks:

- every exception is a ValueError, TypeError, RuntimeError (with a borrow
  message), UnicodeEncodeError or PanicException (class PanicException of
  module pyo3_runtime), nothing else;
- an operation that raised left the board's FEN and history depth as they
  were (the depth is counted by popping a copy until it runs out);
- the history behaves like a stack of FEN texts: push followed by pop gives
  back the FEN before the push, at any depth; reflect and a new board empty it;
- reading operations (fen, turn, bitboard, copy, generating moves) change
  nothing; every generated move can be pushed and popped;
- with NumPy installed, mirelo_chess.arrays agrees with bitboard(),
  bitboard_from_fen and the generator, maps move texts and indices both ways,
  names the bad item of a batch, writes nothing when it refuses a call, and
  its native half refuses buffers of the wrong size or kind.

Run:  python fuzz/fuzz_api.py [libFuzzer options] [corpus directories]
e.g.  python fuzz/fuzz_api.py -max_total_time=60 -close_fd_mask=2 corpus/
Failures are written to the standard error stream that was open at start-up,
even when libFuzzer discards the target's own output (-close_fd_mask=2, which
keeps the module's diagnostics for internal failures out of the log).
"""

import os
import sys
import traceback

import atheris

import mirelo_chess
from mirelo_chess import game

# The test positions of the source tree.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
from positions import POSITIONS  # noqa: E402

try:
    import numpy as np

    from mirelo_chess import _native, arrays
except ImportError:  # the arrays operations are skipped
    np = None

Board = mirelo_chess.Board
MoveGenerator = mirelo_chess.MoveGenerator

# The standard error stream as it was at start-up, for reports.
REPORT_FD = os.dup(2)


def _panic_class():
    try:
        Board("x")
    except BaseException as e:  # noqa: BLE001 - the class is only reachable this way
        return type(e)
    raise AssertionError("Board('x') did not fail")


PanicException = _panic_class()
assert PanicException.__name__ == "PanicException"
assert PanicException.__module__ == "pyo3_runtime"
assert not issubclass(PanicException, Exception)

# BufferError: a read-only buffer handed to the native half of the arrays.
ALLOWED = (ValueError, TypeError, RuntimeError, UnicodeEncodeError, BufferError, PanicException)
BORROW_MESSAGES = ("Already borrowed", "Already mutably borrowed")
OUTCOMES = (None, "checkmate", "stalemate", "insufficient_material", "fivefold_repetition")

DEFAULT_FEN = POSITIONS["start"].fen
# The shared test positions, two of them with move counters, and a few more.
FENS = tuple(p.fen for p in POSITIONS.values()) + (
    POSITIONS["pos4"].fen + " 0 1",
    POSITIONS["pos5"].fen + " 1 8",
    "4k3/8/8/K1pP3r/8/8/8/8 w - c6",
    "8/P6k/8/8/8/8/6Kp/8 b - -",
    "8/8/8/8/8/8/8/8 b - -",
)
SPACES = (" ", "  ", "\t", "\n", "\u00a0", "\u2003", "\u3000", "\u0085", "\x1c")
FILES = "abcdefgh"
RANKS = "12345678"
PROMOTIONS = "nbrqNBRQkx"
BOARD_CHARS = "PNBRQKpnbrqk12345678/09x"


def _exact(e):
    return type(e) in ALLOWED


def check_exception(e, where):
    """Raises AssertionError unless e is one of the exceptions the API may raise."""
    if not _exact(e):
        raise AssertionError(f"{where}: unexpected exception {type(e).__module__}.{type(e).__qualname__}: {e!r}") from e
    if type(e) is RuntimeError and str(e) not in BORROW_MESSAGES:
        raise AssertionError(f"{where}: RuntimeError with message {str(e)!r}") from e
    if type(e) is PanicException and not str(e):
        raise AssertionError(f"{where}: PanicException without a message")


# The message beginnings of each kind of error, in the order of their branch numbers.
VALUE_ERRORS = (
    "Invalid fen: Invalid side-to-move",
    "Invalid fen: Invalid castling specifier",
    "Invalid chess move: Unsupported move notation",
    "Invalid chess move: Unsupported promotion type",
    "Invalid chess move: Promotion piece needed",
    "Invalid chess move: Destination holds",
)
PANICS = (
    "Invalid piece type",
    "Missing FEN field",
    "assertion failed: from_file",
    "assertion failed: from_rank",
    "assertion failed: to_",
    "No piece to move",
    "No move to take back",
    "Move text has fewer",
)


def classify(e):
    """Distinct branches per kind of error, so that atheris keeps inputs that reach new ones."""
    text = str(e)
    first = 1
    for kind, prefixes in ((ValueError, VALUE_ERRORS), (PanicException, PANICS)):
        if type(e) is kind:
            for number, prefix in enumerate(prefixes, first):
                if text.startswith(prefix):
                    return number
            return first + len(prefixes)
        first += len(prefixes) + 1
    if type(e) is TypeError:
        return first
    if type(e) is RuntimeError:
        return first + 1
    if type(e) is BufferError:
        return first + 2
    return first + 3


def history_depth(board):
    """The number of moves the board can take back, counted on a copy."""
    copy = board.copy()
    depth = 0
    while True:
        try:
            copy.pop()
        except BaseException as e:  # noqa: BLE001
            if type(e) is not PanicException or str(e) != "No move to take back":
                raise AssertionError(f"pop on a copy failed with {e!r}") from e
            return depth
        depth += 1


class Slot:
    """A board and the FEN texts of the positions its history can return to."""

    def __init__(self, board, history=()):
        self.board = board
        self.history = list(history)

    def check(self, where):
        depth = history_depth(self.board)
        if depth != len(self.history):
            raise AssertionError(f"{where}: history depth {depth}, expected {len(self.history)}")


class Program:
    def __init__(self, data):
        self.fdp = atheris.FuzzedDataProvider(data)
        self.slots = [Slot(Board())]
        self.generators = [GENERATOR]
        self.log = []

    # -- text -------------------------------------------------------------

    def pick(self, seq):
        return seq[self.fdp.ConsumeIntInRange(0, len(seq) - 1)]

    def space(self):
        return self.pick(SPACES) if self.fdp.ConsumeBool() else ""

    def move_text(self):
        kind = self.fdp.ConsumeIntInRange(0, 3)
        if kind == 0:
            return self.fdp.ConsumeUnicode(self.fdp.ConsumeIntInRange(0, 7))
        text = self.pick(FILES) + self.pick(RANKS) + self.pick(FILES) + self.pick(RANKS)
        if kind == 2:
            text += self.pick(PROMOTIONS)
        if kind == 3:
            # One character replaced by anything.
            i = self.fdp.ConsumeIntInRange(0, 3)
            text = text[:i] + self.fdp.ConsumeUnicode(1) + text[i + 1:]
        return self.space() + text + self.space()

    def fen_text(self):
        kind = self.fdp.ConsumeIntInRange(0, 3)
        if kind == 0:
            return self.fdp.ConsumeUnicode(self.fdp.ConsumeIntInRange(0, 80))
        if kind == 1:
            return self.pick(FENS)
        fields = []
        if kind == 2:
            fields.append("".join(self.pick(BOARD_CHARS) for _ in range(self.fdp.ConsumeIntInRange(0, 40))))
        else:
            fields.append(self.pick(FENS).split()[0])
        fields.append(self.pick(("w", "b", "w", "b", "W", "-", "wb")))
        fields.append("".join(self.pick("KQkq-KQkqX") for _ in range(self.fdp.ConsumeIntInRange(0, 5))) or "-")
        fields.append(self.pick(("-", "-", "e3", "e6", "c6", "d3", "z", "1", "\u00e9", "h")))
        count = self.fdp.ConsumeIntInRange(0, 6)
        fields = (fields + ["0", "1"])[:count]
        return self.space() + (self.space() or " ").join(fields) + self.space()

    def wrong_value(self):
        return self.pick((None, 42, 4.5, b"e2e4", ["e2e4"], object(), Board, self.slots[0].board, GENERATOR))

    # -- operations ---------------------------------------------------------

    def run(self):
        steps = 0
        while self.fdp.remaining_bytes() > 0 and steps < 48:
            steps += 1
            slot = self.pick(self.slots)
            op = self.fdp.ConsumeIntInRange(0, 18)
            before_fen = slot.board.fen()
            before_depth = len(slot.history)
            self.log.append(op)
            try:
                self.step(op, slot, before_fen)
            except BaseException as e:  # noqa: BLE001 - PanicException derives from BaseException
                if isinstance(e, AssertionError):
                    raise
                check_exception(e, f"operation {op}")
                classify(e)
                after = slot.board.fen()
                if after != before_fen:
                    raise AssertionError(f"operation {op} raised {e!r} and changed the FEN {before_fen!r} -> {after!r}")
                depth = history_depth(slot.board)
                if depth != before_depth:
                    raise AssertionError(f"operation {op} raised {e!r} and changed the history depth {before_depth} -> {depth}")
            for s in self.slots:
                s.check(f"after operation {op}")
                if s.history and not isinstance(s.history[-1], str):
                    raise AssertionError("history entry is not a FEN")

    def push_checked(self, slot, text, before_fen):
        slot.board.push(text)
        after = slot.board.fen()
        # Push then pop gives the position back; push again to keep the move.
        slot.board.pop()
        if slot.board.fen() != before_fen:
            raise AssertionError(f"push({text!r}) then pop gave {slot.board.fen()!r}, expected {before_fen!r}")
        slot.board.push(text)
        if slot.board.fen() != after:
            raise AssertionError(f"push({text!r}) twice from the same position differs")
        slot.history.append(before_fen)

    def step(self, op, slot, before_fen):
        board = slot.board
        if op == 0:
            fen = self.fen_text()
            new = Board(fen)
            written = new.fen()
            if Board(written).fen() != written:
                raise AssertionError(f"FEN {written!r} of Board({fen!r}) does not read back to itself")
            self.replace(slot, Slot(new))
        elif op == 1:
            self.push_checked(slot, self.move_text(), before_fen)
        elif op == 2:
            moves = self.pick(self.generators)(board)
            if board.fen() != before_fen:
                raise AssertionError("generating moves changed the board")
            if moves:
                move = self.pick(moves)
                try:
                    self.push_checked(slot, move, before_fen)
                except ValueError as e:
                    raise AssertionError(f"generated move {move!r} refused: {e}") from e
        elif op == 3:
            if not slot.history:
                try:
                    board.pop()
                except BaseException as e:  # noqa: BLE001
                    if type(e) is not PanicException or str(e) != "No move to take back":
                        raise AssertionError(f"pop on an empty history raised {e!r}") from e
                    raise
                raise AssertionError("pop on an empty history succeeded")
            board.pop()
            expected = slot.history.pop()
            if board.fen() != expected:
                raise AssertionError(f"pop gave {board.fen()!r}, expected {expected!r}")
        elif op == 4:
            moves = self.pick(self.generators)(board)
            again = self.pick(self.generators)(board=board)
            if moves != again or board.fen() != before_fen:
                raise AssertionError("generating moves twice differs or changed the board")
            if not all(type(m) is str and len(m) in (4, 5) for m in moves):
                raise AssertionError(f"generated texts {moves!r}")
            for move in moves:
                try:
                    board.push(move)
                except ValueError as e:
                    raise AssertionError(f"generated move {move!r} refused: {e}") from e
                board.pop()
                if board.fen() != before_fen:
                    raise AssertionError(f"generated move {move!r} pushed and popped changed the board")
        elif op == 5:
            planes = board.bitboard()
            if len(planes) != 12 or any(len(p) != 64 or any(type(f) is not bool for f in p) for p in planes):
                raise AssertionError("malformed planes")
            overlaps = any(sum(p[s] for p in planes) > 1 for s in range(64))
            if not overlaps and planes != Board.bitboard_from_fen(before_fen):
                raise AssertionError(f"bitboard() differs from bitboard_from_fen({before_fen!r})")
        elif op == 6:
            text = self.fen_text()
            planes = Board.bitboard_from_fen(fen=text) if self.fdp.ConsumeBool() else board.bitboard_from_fen(text)
            if len(planes) != 12 or any(len(p) != 64 for p in planes):
                raise AssertionError("malformed planes")
        elif op == 7:
            result = board.reflect()
            if result is not None:
                raise AssertionError("reflect returned a value")
            slot.history.clear()
            twice = board.copy()
            twice.reflect()
            if twice.fen() != before_fen:
                raise AssertionError(f"reflect twice gave {twice.fen()!r}, expected {before_fen!r}")
        elif op == 8:
            copy = board.copy()
            if type(copy) is not Board or copy is board or copy.fen() != before_fen:
                raise AssertionError("copy is not an equal, distinct Board")
            if len(self.slots) < 4:
                self.slots.append(Slot(copy, slot.history))
            else:
                self.replace(self.pick(self.slots), Slot(copy, slot.history))
        elif op == 9:
            if board.turn() != ("white" if before_fen.split()[1] == "w" else "black"):
                raise AssertionError("turn() disagrees with the FEN")
        elif op == 10:
            if board.fen() != before_fen:
                raise AssertionError("fen() is not stable")
        elif op == 11:
            self.wrong_types(board)
        elif op == 12:
            # Keyword forms.
            text = self.move_text()
            board.push(chess_move=text)
            board.pop()
            if board.fen() != before_fen:
                raise AssertionError(f"push(chess_move={text!r}) then pop changed the board")
        elif op == 13:
            self.replace(slot, Slot(Board()))
        elif op == 14:
            self.reentrant(slot)
        elif op == 15:
            if len(self.generators) < 2:
                self.generators.append(MoveGenerator())
            elif self.fdp.ConsumeBool():
                self.generators.pop()
        elif op == 18:
            if np is not None:
                self.arrays(board, before_fen)
        elif op == 16:
            # The same board as receiver and argument of several calls in a row.
            other = self.pick(self.slots)
            self.pick(self.generators)(other.board)
            if board.fen() != before_fen:
                raise AssertionError("generating moves for another board changed this one")
        elif op == 17:
            # The game state is read without changing anything; a bad depth is a ValueError.
            generator = self.pick(self.generators)
            key = game.zobrist_key(board)
            count = game.repetitions(board=board)
            if type(game.is_check(board)) is not bool or not 0 <= key < 1 << 64:
                raise AssertionError("is_check or zobrist_key gave a value of the wrong kind")
            if not 1 <= count <= len(slot.history) + 1:
                raise AssertionError(f"repetitions {count} with a history of {len(slot.history)}")
            if game.outcome(generator, board) not in OUTCOMES:
                raise AssertionError("outcome gave an unknown ending")
            if game.zobrist_key(board.copy()) != key:
                raise AssertionError("a copy has another key")
            rows = game.divide(generator, board, self.fdp.ConsumeIntInRange(-1, 2))
            if board.fen() != before_fen or game.zobrist_key(board) != key:
                raise AssertionError("reading the game state changed the board")
            if rows and [m for m, _ in rows] != generator(board):
                raise AssertionError("divide's root moves differ from the generator's")
        else:
            self.slots = self.slots[:1] if self.fdp.ConsumeBool() else self.slots

    # -- arrays -----------------------------------------------------------

    DTYPES = ("bool", "uint8", "float16", "float32", "int64", "float64", ">f4", "no type")
    GOOD_DTYPES = DTYPES[:4]

    def arrays(self, board, before_fen):
        which = self.fdp.ConsumeIntInRange(0, 6)
        if which == 0:
            dtype = self.pick(self.DTYPES)
            try:
                a = arrays.planes(board, dtype=dtype)
            except TypeError:
                if dtype in self.GOOD_DTYPES:
                    raise AssertionError(f"planes refused dtype {dtype}") from None
                raise
            if (a != np.array(board.bitboard()).reshape(12, 8, 8)).any():
                raise AssertionError("planes() differs from bitboard()")
        elif which == 1:
            boards = [s.board for s in self.slots]
            bad = self.fdp.ConsumeBool()
            if bad:
                boards.insert(self.fdp.ConsumeIntInRange(0, len(boards)), self.wrong_value())
            rows = len(boards) + self.fdp.ConsumeIntInRange(-1, 1) * self.fdp.ConsumeBool()
            out = np.full((max(rows, 0), 12, 8, 8), 7, dtype=self.pick(self.GOOD_DTYPES))
            before = out.copy()
            try:
                arrays.planes_batch(boards, out=out)
            except BaseException:  # noqa: BLE001
                if (out != before).any():
                    raise AssertionError("a refused planes_batch wrote into out") from None
                raise
            expected = np.array([b.bitboard() for b in boards]).reshape(-1, 12, 8, 8)
            if any(type(b) is not Board for b in boards) or (out != expected).any():
                raise AssertionError("planes_batch took a wrong item or differs from bitboard()")
        elif which == 2:
            texts = [self.fen_text() for _ in range(self.fdp.ConsumeIntInRange(0, 4))]
            expected = []
            first_bad = None
            for i, text in enumerate(texts):
                try:
                    expected.append(Board.bitboard_from_fen(text))
                except BaseException as e:  # noqa: BLE001
                    if type(e) is not PanicException:
                        raise
                    first_bad = i if first_bad is None else first_bad
            try:
                result = arrays.planes_from_fens(texts)
            except ValueError as e:
                if first_bad is None or not str(e).startswith(f"fens[{first_bad}] "):
                    raise AssertionError(f"planes_from_fens raised {e!r}, first bad text {first_bad}") from e
                raise
            if first_bad is not None or (result != np.array(expected, dtype=bool).reshape(-1, 12, 8, 8)).any():
                raise AssertionError("planes_from_fens differs from bitboard_from_fen")
        elif which == 3:
            text = self.move_text()
            try:
                index = arrays.move_index(text)
            except ValueError:
                index = None
            if index is not None and arrays.move_text(index) != text:
                raise AssertionError(f"move_text(move_index({text!r})) differs")
            number = self.fdp.ConsumeIntInRange(-2, arrays.MOVE_INDEX_SIZE + 1)
            try:
                text = arrays.move_text(number)
            except ValueError:
                return
            if arrays.move_index(text) != number:
                raise AssertionError(f"move_index(move_text({number})) differs")
        elif which == 4:
            generator = self.pick(self.generators)
            moves = generator(board)
            indices = arrays.legal_indices(generator, board).tolist()
            mask = arrays.legal_mask(generator, board)
            # A typed en-passant square that holds a piece gives the capture
            # twice, as a plain capture and as en passant: one index.
            marked = np.flatnonzero(mask).tolist()
            if indices != [arrays.move_index(m) for m in moves] or sorted(set(indices)) != marked:
                raise AssertionError("legal indices or mask differ from the generator")
            masks = arrays.legal_mask_batch(generator, [s.board for s in self.slots])
            if (masks[self.slots.index(self.slot_of(board))] != mask).any():
                raise AssertionError("legal_mask_batch differs from legal_mask")
            if board.fen() != before_fen:
                raise AssertionError("the legal masks changed the board")
        elif which == 5:
            # The native half, called directly with any buffer and element kind.
            buffer = bytearray(self.fdp.ConsumeIntInRange(0, 3200))
            element = self.fdp.ConsumeIntInRange(-1, 3)
            call = self.fdp.ConsumeIntInRange(0, 3)
            if call == 0:
                _native.planes(board, buffer, element)
            elif call == 1:
                _native.planes_from_fens([self.fen_text()], buffer, element)
            elif call == 2:
                _native.legal_mask(self.pick(self.generators), board, buffer)
            else:
                _native.planes_batch((board, board), bytes(len(buffer)), element)
            if len(buffer) not in (768, 1536, 3072, 4864):
                raise AssertionError(f"a native call wrote into a buffer of {len(buffer)} bytes")
        else:
            out = np.zeros(arrays.MOVE_INDEX_SIZE, dtype=bool)
            out.flags.writeable = False
            arrays.legal_mask(self.pick(self.generators), board, out=out)
            raise AssertionError("legal_mask wrote into a read-only array")

    def slot_of(self, board):
        return next(s for s in self.slots if s.board is board)

    def replace(self, old, new):
        i = self.slots.index(old)
        self.slots[i] = new

    def wrong_types(self, board):
        which = self.fdp.ConsumeIntInRange(0, 9)
        value = self.wrong_value()
        if which == 0:
            board.push(value)
        elif which == 1:
            Board(value)
        elif which == 2:
            self.pick(self.generators)(value)
        elif which == 3:
            Board.fen(value)
        elif which == 4:
            Board.bitboard_from_fen(value)
        elif which == 5:
            board.push("e2e4", chess_move="e2e4")
        elif which == 6:
            board.push(move="e2e4")
        elif which == 7:
            Board(DEFAULT_FEN, DEFAULT_FEN)
        elif which == 8:
            MoveGenerator(value)
        else:
            board.fen(value)
        if which not in (2, 3) or type(value) is not Board:
            raise AssertionError(f"wrong-type call {which} with {value!r} succeeded")

    def reentrant(self, slot):
        """Calls back into the board while the board is borrowed by push.

        The conversion error for a chess_move that is not a str reads the
        __qualname__ of the argument's type; a metaclass runs Python code
        right there, inside the exclusive borrow.
        """
        seen = []
        inner_op = self.fdp.ConsumeIntInRange(0, 5)
        board = slot.board
        generator = self.pick(self.generators)

        class Meta(type):
            def __getattribute__(cls, name):
                if name != "__qualname__":
                    return super().__getattribute__(name)
                calls = (board.fen, board.turn, board.bitboard, board.copy, board.pop, lambda: generator(board))
                try:
                    calls[inner_op]()
                    seen.append(None)
                except BaseException as e:  # noqa: BLE001
                    seen.append(e)
                return "Sneaky"

        class Sneaky(metaclass=Meta):
            pass

        try:
            board.push(Sneaky())
        except TypeError as e:
            if str(e) != "argument 'chess_move': 'Sneaky' object cannot be converted to 'PyString'":
                raise AssertionError(f"conversion error {e}") from e
        else:
            raise AssertionError("push of a non-str succeeded")
        if len(seen) != 1:
            raise AssertionError(f"the type name was read {len(seen)} times")
        e = seen[0]
        expected = "Already borrowed" if inner_op in (4, 5) else "Already mutably borrowed"
        if type(e) is not RuntimeError or str(e) != expected:
            raise AssertionError(f"call {inner_op} inside push gave {e!r}, expected RuntimeError({expected!r})")


GENERATOR = MoveGenerator()


@atheris.instrument_func
def test_one_input(data):
    program = Program(data)
    try:
        program.run()
    except BaseException:
        report = f"\n*** fuzz_api failure after operations {program.log}\n" + traceback.format_exc()
        os.write(REPORT_FD, report.encode("utf-8", "replace"))
        raise


def main():
    global classify
    for name in ("run", "step", "push_checked", "wrong_types", "reentrant", "move_text", "fen_text", "arrays"):
        setattr(Program, name, atheris.instrument_func(getattr(Program, name)))
    classify = atheris.instrument_func(classify)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
