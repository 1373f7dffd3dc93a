"""mirelo_chess.pgn against python-chess: every game of a seeded corpus
written by python-chess's exporter and of the PGN files of its source
distribution read alike, SAN both ways on every legal move of seeded
positions, every kind of source, hostile input, bounded memory, training
batches against a replay through mirelo_chess.arrays, the command line and
the README's Dask example."""

import bz2
import gzip
import io
import lzma
import os
import pathlib
import random
import re
import runpy
import subprocess
import sys
import tarfile
import types
from collections import Counter

import chess
import chess.pgn
import pytest

from mirelo_chess import Board, pgn
from mirelo_chess.pgn import Game, parse_san, read_games, san

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = pathlib.Path(os.environ.get("MIRELO_BUILD_DIR", ROOT / "build"))


# bench/pgn_compare.py: the corpus, the corner cases and the comparison of one
# game with python-chess's reading, shared with the core's check.
compare = types.SimpleNamespace(**runpy.run_path(str(ROOT / "bench" / "pgn_compare.py"), run_name="pgn_compare"))


def as_record(game):
    """A Game in the form pgn_compare.compare_game reads."""
    return {"index": game.index, "headers": list(game.headers.items()), "fen": game.fen, "moves": game.moves,
            "comments": game.comments, "result": game.result, "error": game.error}


def check_against_python_chess(data, name, read=None):
    """Reads data (bytes) with read_games and with chess.pgn.read_game from
    the text; returns the games and the intended differences met."""
    games = list(read_games(data, comments=True) if read is None else read(data))
    reference, failure = [], None
    handle = io.TextIOWrapper(io.BytesIO(data), encoding="utf-8", errors="replace")
    try:
        while (game := chess.pgn.read_game(handle)) is not None:
            reference.append(game)
    except Exception as error:  # python-chess's own failures on malformed input
        failure = error
    if failure is None:
        assert len(games) == len(reference), name
    differences, problems = Counter(), []
    for ours, game in zip(games, reference):
        compare.compare_game(as_record(ours), game, differences, problems, name)
    assert problems == [], problems[:10]
    return games, differences


def corpus(seed, count):
    rng = random.Random(seed)
    return "\n\n".join(str(compare.random_game(rng, i)) for i in range(count)) + "\n"


# ---------------------------------------------------------------- games against python-chess


@pytest.mark.parametrize("line_end", ["\n", "\r\n"])
def test_generated_corpus(line_end):
    data = corpus(18, 300).replace("\n", line_end).encode()
    games, _ = check_against_python_chess(data, "corpus")
    assert sum(len(g.moves) for g in games) > 10_000
    assert all(type(g) is Game and g.error is None for g in games)


@pytest.mark.slow
def test_generated_corpus_large():
    check_against_python_chess(corpus(7, 3000).encode(), "large corpus")


def test_corner_cases():
    differences = Counter()
    for i, text in enumerate(compare.CORNERS):
        data = text.encode("utf-8", "surrogateescape")
        differences += check_against_python_chess(data, f"corner {i}")[1]
    data = "".join(compare.CORNERS).encode("utf-8", "surrogateescape")
    differences += check_against_python_chess(data, "corners concatenated")[1]
    # The intended differences: this library plays no null move and no variant.
    assert set(differences) <= {"null moves (error)", "variant games (error, no moves)",
                                "python-chess errors inside variations only"}


class Trickle(io.RawIOBase):
    """A binary file object that hands out at most a few bytes per read."""

    def __init__(self, data, step):
        self.data, self.step, self.position = data, step, 0

    def readable(self):
        return True

    def read(self, size=-1):
        chunk = self.data[self.position:self.position + min(self.step, size if size >= 0 else self.step)]
        self.position += len(chunk)
        return chunk


@pytest.mark.parametrize("step", [1, 7, 4093])
def test_chunk_boundaries_change_nothing(step):
    data = (corpus(3, 20).replace("\n", "\r\n") + "".join(compare.CORNERS)).encode("utf-8", "surrogateescape")
    assert list(read_games(Trickle(data, step), comments=True)) == list(read_games(data, comments=True))


@pytest.fixture(scope="session")
def python_chess_files():
    """The PGN files of python-chess's source distribution, fetched once
    into the build folder."""
    folder = BUILD / "pgn-cache" / f"chess-{chess.__version__}"
    if not (folder / "data" / "pgn").is_dir():
        folder.parent.mkdir(parents=True, exist_ok=True)
        done = subprocess.run([sys.executable, "-m", "pip", "download", f"chess=={chess.__version__}",
                               "--no-binary", ":all:", "--no-deps", "-q", "-d", str(folder.parent)],
                              capture_output=True, text=True, timeout=300)
        archive = folder.parent / f"chess-{chess.__version__}.tar.gz"
        if done.returncode != 0 or not archive.exists():
            pytest.skip(f"python-chess's source distribution cannot be fetched: {done.stderr[-300:]}")
        with tarfile.open(archive) as tar:
            members = [m for m in tar.getmembers() if "/data/pgn/" in m.name and m.isfile()]
            for member in members:
                member.name = str(pathlib.Path(*pathlib.Path(member.name).parts[1:]))
                tar.extract(member, folder)
    files = sorted((folder / "data" / "pgn").glob("*.pgn"))
    assert files
    return files


def test_python_chess_files(python_chess_files):
    variants = 0
    for path in python_chess_files:
        games, _ = check_against_python_chess(path.read_bytes(), path.name)
        for game in games:
            variant = game.headers.get("Variant", "standard").lower()
            if variant not in ("standard", "chess", "normal", "from position"):
                variants += 1
                assert game.error is not None and game.moves == [], (path.name, game.index)
    assert variants > 0


# ---------------------------------------------------------------- SAN both ways


def our_parse(generator, board, text):
    """parse_san's answer in the form of pgn_compare.reference_parse."""
    try:
        return parse_san(generator, board, text)
    except ValueError as error:
        message = str(error)
        kind = message.split(" ", 1)[0].lower()
        assert kind in ("invalid", "illegal", "ambiguous") and repr(text)[1:-1] in message, message
        return "error null" if message.endswith("a null move cannot be played") else f"error {kind}"


def san_differences(generator, boards, rng, texts_every):
    problems = []
    for i, reference in enumerate(boards):
        board = Board(reference.fen())
        fen = board.fen()
        for move in reference.legal_moves:
            written = reference.san(move)
            if san(generator, board, move.uci()) != written:
                problems.append((reference.fen(), move.uci(), written))
            if parse_san(generator, board, written) != move.uci():
                problems.append((reference.fen(), written))
        if i % texts_every == 0:
            for text in compare.san_texts(rng, reference):
                if our_parse(generator, board, text) != compare.reference_parse(reference, text):
                    problems.append((reference.fen(), text))
        assert board.fen() == fen
    return problems


def test_san_both_ways(generator):
    rng = random.Random(18)
    assert san_differences(generator, compare.random_positions(rng, 2000), rng, 10) == []


@pytest.mark.slow
def test_san_both_ways_many(generator):
    rng = random.Random(19)
    assert san_differences(generator, compare.random_positions(rng, 20000), rng, 4) == []


@pytest.mark.parametrize("move", ["e2e5", "e7e5", "E2E4", "e2e4 ", "z9z9", "", "e7e8q", "a1h7", "\udcff"])
def test_san_refuses_what_is_not_a_legal_move(generator, move):
    board = Board()
    with pytest.raises((ValueError, UnicodeEncodeError)) as raised:
        san(generator, board, move)
    if raised.type is ValueError:
        assert str(raised.value) == f"{move!r} is not a legal move in {board.fen()}"
    assert board.fen() == Board().fen()


def test_san_of_generator_texts_and_wrong_types(generator):
    board = Board("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -")
    moves = generator(board)
    assert [san(generator, board, m) for m in moves if m in ("e1g1", "e1c1")] == ["O-O", "O-O-O"]
    assert parse_san(generator, board, "0-0-0") is next(m for m in moves if m == "e1c1")  # the generator's text
    with pytest.raises(TypeError, match="argument 'board'"):
        san(generator, board.fen(), "e1g1")
    with pytest.raises(TypeError, match="argument 'text'"):
        parse_san(generator, board, b"O-O")


# ---------------------------------------------------------------- sources

SMALL = b'[Event "a"]\n[Result "1-0"]\n\n1. e4 e5 2. Qh5 Nc6 3. Bc4 Nf6 4. Qxf7# 1-0\n\n1. d4 *\n'


def small_games():
    return list(read_games(SMALL))


@pytest.mark.parametrize("kind", ["str", "pathlike", "gz", "bz2", "xz", "zst", "bytes", "bytearray",
                                  "memoryview", "strided memoryview", "mmap", "binary file", "text file", "array"])
def test_sources(tmp_path, kind):
    compressors = {"gz": gzip.compress, "bz2": bz2.compress, "xz": lzma.compress}
    if kind == "zst":
        zstandard = pytest.importorskip("zstandard")
        compressors["zst"] = zstandard.ZstdCompressor().compress
    if kind in compressors:
        path = tmp_path / f"games.pgn.{kind}"
        path.write_bytes(compressors[kind](SMALL))
        source = str(path)
    elif kind in ("str", "pathlike", "mmap"):
        path = tmp_path / "games.pgn"
        path.write_bytes(SMALL)
        source = str(path) if kind == "str" else path
        if kind == "mmap":
            import mmap
            with open(path, "rb") as handle:
                source = mmap.mmap(handle.fileno(), 0, access=mmap.ACCESS_READ)
    else:
        import array
        source = {"bytes": SMALL, "bytearray": bytearray(SMALL), "memoryview": memoryview(SMALL)[0:],
                  "strided memoryview": memoryview(bytes(b for c in SMALL for b in (c, 0)))[::2],
                  "binary file": io.BytesIO(SMALL), "text file": io.StringIO(SMALL.decode()),
                  "array": array.array("b", SMALL)}[kind]
    games = list(read_games(source))
    assert games == small_games()
    assert games[0].moves[-1] == "h5f7" and games[0].result == "1-0" and games[1].moves == ["d2d4"]


def test_byte_order_mark_and_invalid_utf8():
    games = list(read_games(b'\xef\xbb\xbf[Event "\xff\xe9t\xc3\xa9"]\n\n1. e4 {caf\xe9 \xc3\xa9} *\n', comments=True))
    assert games[0].headers == {"Event": "\ufffd\ufffdt\u00e9"}
    assert games[0].comments == ["caf\ufffd \u00e9"]


def test_bad_sources(tmp_path):
    with pytest.raises(FileNotFoundError):
        read_games(tmp_path / "missing.pgn")
    truncated = tmp_path / "truncated.pgn.gz"
    truncated.write_bytes(gzip.compress(SMALL * 100)[:-30])
    with pytest.raises((EOFError, OSError)):
        list(read_games(truncated))
    for source in (None, 42, 4.5, ["1. e4"], object()):
        with pytest.raises(TypeError, match="source must be a path, a bytes-like object or a file object"):
            read_games(source)


# ---------------------------------------------------------------- hostile input

HOSTILE = {
    "nul": b"1. e4 \x00\x00 e5 [Event \x00]\n\n",
    "invalid bytes": bytes(range(256)) * 4,
    "long tag line": b'[Event "' + b"x" * 300_000 + b'"]\n\n1. e4 *\n',
    "long bracket line": b"[" * 300_000 + b"\n\n1. e4 *\n",
    "unclosed comment": b"1. e4 { never closed " + b"e5 " * 10_000,
    "unbalanced": b"1. e4 }}} e5 ))) (( 2. Nf3 ( ( { ) } Nc6 *\n\n",
    "deep variations": b"1. e4 " + b"( e4 " * 5000 + b"e5 *\n",
    "off the board": b"1. e9 Nz4 Qa0 i1 *\n",
    "headers only": b'[Event "x"]\n[Site "y"]\n',
    "movetext only": b"e4 e5 Nf3\n",
}


@pytest.mark.parametrize("name", sorted(HOSTILE))
def test_hostile_input(name):
    data = HOSTILE[name] + b'\n\n[Event "after"]\n\n1. d4 *\n'
    games, _ = check_against_python_chess(data, name)
    assert games
    for game in games:
        assert type(game.index) is int and isinstance(game.result, str)
        assert all(type(m) is str for m in game.moves)


def endless_games(count):
    """PGN text of count short games, made as it is read."""
    for i in range(count):
        yield f'[Event "{i}"]\n[Result "1-0"]\n\n1. e4 {{[%clk 0:01:00]}} e5 2. Qh5 Nc6 3. Bc4 Nf6 4. Qxf7# 1-0\n\n'.encode()


class Stream(io.RawIOBase):
    def __init__(self, pieces):
        self.pieces, self.produced, self.rest = pieces, 0, b""

    def readable(self):
        return True

    def read(self, size=-1):
        while len(self.rest) < size and (piece := next(self.pieces, None)) is not None:
            self.rest += piece
        chunk, self.rest = self.rest[:size], self.rest[size:]
        self.produced += len(chunk)
        return chunk


def test_memory_stays_bounded():
    stream = Stream(endless_games(60_000))  # about 6 MB
    consumed = 0
    for game in read_games(stream):
        assert game.error is None
        consumed += 100
        # The stream is read a chunk ahead of the games handed out, no more.
        assert stream.produced <= 2 * consumed + 2 * pgn.CHUNK_SIZE
    assert game.index == 59_999
    from mirelo_chess._native import PgnReader
    reader = PgnReader(False)
    largest = 0
    for piece in endless_games(20_000):
        reader.feed(piece * 10)
        while reader.next() is not None:
            pass
        largest = max(largest, reader.pending())
    assert largest < 200


# ---------------------------------------------------------------- training batches


def replay(games, np):
    """The training rows of the games, through Board, arrays.planes and arrays.move_index."""
    from mirelo_chess import arrays
    rows = {"planes": [], "moves": [], "results": [], "turns": [], "games": []}
    for game in games:
        if game.error is not None or game.result not in ("1-0", "0-1", "1/2-1/2"):
            continue
        result = {"1-0": 1, "0-1": -1, "1/2-1/2": 0}[game.result]
        board = Board(game.fen)
        for move in game.moves:
            rows["planes"].append(arrays.planes(board))
            rows["moves"].append(arrays.move_index(move))
            rows["results"].append(result)
            rows["turns"].append(board.turn() == "white")
            rows["games"].append(game.index)
            board.push(move)
    return rows


@pytest.mark.parametrize("batch_size", [1, 7, 4096])
def test_training_batches_replay(batch_size):
    np = pytest.importorskip("numpy")
    rng = random.Random(5)
    # Games with errors, "*" and no moves among the others.
    data = (corpus(11, 40) + "\n\n" + "".join(compare.CORNERS)).encode("utf-8", "surrogateescape")
    games = list(read_games(data))
    expected = replay(games, np)
    batches = list(pgn.training_batches(Trickle(data, rng.randint(50, 5000)), batch_size=batch_size))
    assert all(len(b.moves) == batch_size for b in batches[:-1]) and 0 < len(batches[-1].moves) <= batch_size
    assert len(set(expected["games"])) < len(games)
    for field, dtype in (("planes", np.uint8), ("moves", np.int64), ("results", np.int8), ("turns", np.bool_),
                         ("games", np.int64)):
        joined = np.concatenate([getattr(b, field) for b in batches])
        assert joined.dtype == dtype
        assert joined.shape[1:] == ((12, 8, 8) if field == "planes" else ())
        assert (joined == np.array(expected[field], dtype=dtype)).all(), field


def test_training_batches_arguments():
    np = pytest.importorskip("numpy")
    for dtype in (np.bool_, np.uint8, np.float16, np.float32, "float32"):
        batch = next(pgn.training_batches(SMALL, dtype=dtype))
        assert batch.planes.dtype == np.dtype(dtype) and batch.planes.shape == (7, 12, 8, 8)
        assert (batch.planes.astype(np.uint8) == next(pgn.training_batches(SMALL)).planes).all()
    for size in (0, -1):
        with pytest.raises(ValueError, match="batch_size"):
            pgn.training_batches(SMALL, batch_size=size)
    with pytest.raises(TypeError):
        pgn.training_batches(SMALL, dtype=np.int32)
    with pytest.raises(TypeError, match="source"):
        pgn.training_batches(12)
    assert list(pgn.training_batches(b"1. e4 e5 *\n\n[Result \"1-0\"]\n\n1. e4 Ke7 2. Ke2\n")) == []


# ---------------------------------------------------------------- module


def test_surface():
    assert pgn.__all__ == ["Game", "Batch", "san", "parse_san", "read_games", "training_batches"]
    for name in pgn.__all__:
        assert getattr(pgn, name).__doc__
    assert san.__module__ == "mirelo_chess._native" and "Standard Algebraic Notation" in san.__doc__
    assert Game._fields == ("index", "headers", "fen", "moves", "comments", "result", "error")
    game = small_games()[0]
    with pytest.raises(AttributeError):
        game.moves = []


# ---------------------------------------------------------------- command line


def run_cli(tmp_path, *args):
    done = subprocess.run([sys.executable, "-m", "mirelo_chess", "pgn", *args], cwd=tmp_path,
                          capture_output=True, text=True, timeout=300)
    assert "Traceback" not in done.stderr, done.stderr
    return done


def test_command_line(tmp_path):
    np = pytest.importorskip("numpy")
    data = corpus(4, 30).encode() + b"\n\n1. e4 e5 2. Ke3 *\n"
    (tmp_path / "a.pgn").write_bytes(data)
    (tmp_path / "b.pgn.gz").write_bytes(gzip.compress(SMALL))
    done = run_cli(tmp_path, "a.pgn", "b.pgn.gz", "--npz", "out.npz")
    assert done.returncode == 0 and done.stderr == ""
    fields = dict(line.split(": ") for line in done.stdout.splitlines())
    games = list(read_games(data)) + small_games()
    assert int(fields["games"]) == len(games)
    assert int(fields["plies"]) == sum(len(g.moves) for g in games)
    assert int(fields["errors"]) == 1
    assert float(fields["time"].split()[0]) >= 0 and float(fields["plies/s"]) > 0
    saved = np.load(tmp_path / "out.npz")
    batches = list(pgn.training_batches(data)) + list(pgn.training_batches(SMALL))
    for field in pgn.Batch._fields:
        assert (saved[field] == np.concatenate([getattr(b, field) for b in batches])).all()


@pytest.mark.parametrize("name, content", [("missing.pgn", None), ("bad.pgn.gz", b"not gzip")])
def test_command_line_bad_files(tmp_path, name, content):
    if content is not None:
        (tmp_path / name).write_bytes(content)
    done = run_cli(tmp_path, name)
    assert done.returncode == 2 and done.stdout == ""
    assert re.fullmatch(rf"python -m mirelo_chess pgn: cannot read '{re.escape(name)}': .+\n", done.stderr)


# ---------------------------------------------------------------- README


def test_readme_dask_example(tmp_path):
    np = pytest.importorskip("numpy")
    dask = pytest.importorskip("dask")
    distributed = pytest.importorskip("distributed")
    blocks = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(encoding="utf-8"), re.S)
    example = {"__name__": "readme"}
    exec(next(block for block in blocks if "training_arrays" in block), example)
    paths = []
    for i in range(3):
        paths.append(str(tmp_path / f"part{i}.pgn"))
        pathlib.Path(paths[-1]).write_text(corpus(20 + i, 15))
    with dask.config.set({"distributed.worker.multiprocessing-method": "fork"}), \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                     dashboard_address=None) as cluster, distributed.Client(cluster):
        by_file = example["training_arrays"](paths)
        by_range = example["training_arrays_of_ranges"](paths[0], parts=3)
    for got, sources in ((by_file, paths), (by_range, paths[:1])):
        batches = [b for path in sources for b in pgn.training_batches(path)]
        for field in ("planes", "moves", "results", "turns"):
            assert (got[field] == np.concatenate([getattr(b, field) for b in batches])).all()
