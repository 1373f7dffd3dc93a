"""mirelo_chess.arrays: planes and move indices as NumPy arrays, checked
against bitboard() and the generator on random playouts, the move index
bijection, bad input, and encoding over a Dask cluster."""

import pathlib
import platform
import random
import re
import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")

import mirelo_chess  # noqa: E402
from mirelo_chess import Board  # noqa: E402
from mirelo_chess import arrays  # noqa: E402
from mirelo_chess.arrays import (  # noqa: E402
    MOVE_INDEX_SIZE,
    legal_indices,
    legal_mask,
    legal_mask_batch,
    move_index,
    move_text,
    planes,
    planes_batch,
    planes_from_fens,
)
from support import KIWIPETE, raised_by, sneaky_argument  # noqa: E402

PROMOTIONS = "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - -"
DTYPES = (np.bool_, np.uint8, np.float16, np.float32)


def playout_positions(generator, seed, start, plies):
    """FEN texts of a random game from start, every position along it."""
    rng = random.Random(seed)
    board = Board(start)
    fens = [board.fen()]
    for _ in range(plies):
        moves = generator(board)
        if not moves:
            break
        board.push(rng.choice(moves))
        fens.append(board.fen())
    return fens


@pytest.fixture(scope="module")
def positions(generator):
    fens = []
    for seed, start in enumerate((Board().fen(), KIWIPETE, PROMOTIONS) * 4):
        fens += playout_positions(generator, seed, start, 80)
    return fens


# ---------------------------------------------------------------- module


def test_module_surface():
    assert arrays.MOVE_INDEX_SIZE == 4864 == 76 * 64
    assert sorted(arrays.__all__) == sorted(
        ["MOVE_INDEX_SIZE", "planes", "planes_batch", "planes_from_fens", "move_index", "move_text",
         "legal_indices", "legal_mask", "legal_mask_batch"])
    # The native half is importable; on CPython the extension module makes it,
    # and it is no attribute of the package.
    from mirelo_chess import _native
    assert sys.modules["mirelo_chess._native"] is _native
    if platform.python_implementation() == "CPython":
        assert "_native" not in vars(mirelo_chess)
    assert mirelo_chess.__all__ == ["Board", "MoveGenerator"]


def test_import_without_numpy():
    code = ("import sys; sys.modules['numpy'] = None\n"
            "import mirelo_chess; mirelo_chess.Board()\n"
            "try:\n"
            "    import mirelo_chess.arrays\n"
            "except ImportError as e:\n"
            "    print(e)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert 'pip install "mirelo-chess[numpy]"' in out


# ---------------------------------------------------------------- planes


def expected_planes(board):
    return np.array(board.bitboard(), dtype=np.uint8).reshape(12, 8, 8)


def test_planes_against_bitboard(positions):
    boards = [Board(fen) for fen in positions]
    reference = np.stack([expected_planes(b) for b in boards])
    for dtype in DTYPES:
        stacked = np.stack([planes(b, dtype=dtype) for b in boards])
        assert stacked.dtype == dtype and stacked.shape == (len(boards), 12, 8, 8)
        assert (stacked == reference).all()
        batch = planes_batch(boards, dtype=dtype)
        assert batch.dtype == dtype and batch.flags.c_contiguous
        assert (batch == reference).all()
        assert (planes_from_fens(positions, dtype=dtype) == reference).all()
    assert [b.fen() for b in boards] == positions


def test_planes_layout():
    a = planes(Board(KIWIPETE))
    assert a.shape == (12, 8, 8) and a.dtype == np.uint8
    assert a[5, 0, 4] == 1 and a[11, 7, 4] == 1  # kings on e1 and e8
    assert a[0].sum() == 8 and a.sum() == 32


def test_planes_into_out():
    board = Board()
    for dtype in DTYPES:
        out = np.full((12, 8, 8), 7, dtype=dtype)
        assert planes(board, out=out) is out
        assert (out == expected_planes(board)).all()
        assert planes(board, out, dtype) is out
        big = np.full((3, 12, 8, 8), 7, dtype=dtype)
        assert planes_batch([board, Board(KIWIPETE), board], out=big) is big
        assert planes_from_fens([KIWIPETE, "8/8/8/8/8/8/8/8", KIWIPETE], big) is big
        assert big[1].sum() == 0 and (big[0] == expected_planes(Board(KIWIPETE))).all()


@pytest.mark.parametrize("batch, message", [
    (lambda g, boards, out: planes_batch(boards, out=out), "Already mutably borrowed"),
    (lambda g, boards, out: legal_mask_batch(g, boards, out=out), "Already borrowed"),
])
def test_a_batch_with_a_held_board_writes_nothing(generator, batch, message):
    """A later board of a batch held by the call in progress: the batch is
    refused before it writes anything for the earlier ones."""
    first, held = Board(), Board(KIWIPETE)
    out = batch(generator, [first, held], None)
    out[...] = ~out if out.dtype == np.bool_ else 7
    before = out.copy()
    seen = []
    with pytest.raises(TypeError):
        held.push(sneaky_argument(lambda: seen.append(raised_by(batch, generator, [first, held], out))))
    assert type(seen[0]) is RuntimeError and str(seen[0]) == message
    assert (out == before).all()


def test_batches_of_any_iterable_and_empty(generator):
    boards = (Board(KIWIPETE), Board())
    assert (planes_batch(iter(boards)) == planes_batch(list(boards))).all()
    assert (planes_from_fens(b.fen() for b in boards) == planes_batch(boards)).all()
    assert planes_batch([]).shape == (0, 12, 8, 8)
    assert planes_from_fens((), dtype=np.float32).shape == (0, 12, 8, 8)
    assert legal_mask_batch(generator, []).shape == (0, MOVE_INDEX_SIZE)


def test_planes_from_fens_reads_the_placement_only():
    texts = ["rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "  8/8/8/8/8/8/8/8 x y z",
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b - - 5 9", "9/k/K", "\u3000p"]
    expected = np.array([Board.bitboard_from_fen(t) for t in texts], dtype=np.uint8).reshape(-1, 12, 8, 8)
    assert (planes_from_fens(texts) == expected).all()


# ---------------------------------------------------------------- move indices


def test_move_index_bijection():
    texts = set()
    for index in range(MOVE_INDEX_SIZE):
        try:
            text = move_text(index)
        except ValueError:
            continue
        assert move_index(text) == index
        texts.add(text)
    assert len(texts) == 1968


# The layout of the README: 64 * plane + from-square.
@pytest.mark.parametrize("text, index", [
    ("a1a2", 0), ("e2e4", 64 * 1 + 12), ("e1g1", 64 * 15 + 4), ("e8c8", 64 * 43 + 60),
    ("g1f3", 64 * 63 + 6), ("b1c3", 64 * 56 + 1), ("e7e8", 52), ("e7e8n", 64 * 65 + 52),
    ("b2a1r", 64 * 70 + 9), ("e7e8q", 64 * 74 + 52), ("a7b8q", 64 * 75 + 48),
])
def test_move_index_layout(text, index):
    assert move_index(text) == index
    assert move_text(index) == text
    assert move_text(np.int64(index)) == text


def test_legal_moves_against_generator(generator, positions):
    boards = [Board(fen) for fen in positions]
    masks = legal_mask_batch(generator, boards)
    assert masks.dtype == np.bool_ and masks.shape == (len(boards), MOVE_INDEX_SIZE)
    promotions = 0
    for board, mask in zip(boards, masks):
        moves = generator(board)
        indices = legal_indices(generator, board)
        assert indices.dtype == np.int64
        assert indices.tolist() == [move_index(m) for m in moves]
        assert [move_text(i) for i in indices] == moves
        single = legal_mask(generator, board)
        assert single.dtype == np.bool_ and single.shape == (MOVE_INDEX_SIZE,)
        assert np.flatnonzero(single).tolist() == sorted(indices.tolist())
        assert (mask == single).all()
        promotions += sum(len(m) == 5 for m in moves)
    assert promotions > 100
    assert [b.fen() for b in boards] == positions


def test_legal_mask_into_out(generator):
    out = np.ones(MOVE_INDEX_SIZE, dtype=bool)
    assert legal_mask(generator, Board(), out) is out
    assert out.sum() == 20
    outs = np.ones((2, MOVE_INDEX_SIZE), dtype=bool)
    assert legal_mask_batch(generator, [Board(), Board(KIWIPETE)], out=outs) is outs
    assert outs.sum(axis=1).tolist() == [20, 48]


# ---------------------------------------------------------------- bad input


def sentinel(shape, dtype=np.uint8):
    return np.full(shape, 7 if dtype != np.bool_ else True, dtype=dtype)


BAD_OUT = [
    (lambda: sentinel((12, 8, 8), np.int64), TypeError, "dtype int64"),
    (lambda: sentinel((12, 64)), ValueError, "shape (12, 64)"),
    (lambda: sentinel((13, 8, 8)), ValueError, "shape (13, 8, 8)"),
    (lambda: sentinel((12, 8, 16))[:, :, ::2], ValueError, "not C-contiguous"),
    (lambda: sentinel((12, 8, 8)).view(">u1"), None, None),  # byte order is irrelevant for one byte
    (lambda: sentinel((12, 8, 8), ">f4"), TypeError, "dtype >f4"),
    (lambda: [[0] * 64] * 12, TypeError, "numpy.ndarray, not list"),
]


@pytest.mark.parametrize("make, error, message", BAD_OUT)
def test_planes_bad_out(make, error, message):
    out = make()
    before = np.array(out, copy=True)
    if error is None:
        assert planes(Board(), out=out) is out
        return
    with pytest.raises(error) as info:
        planes(Board(), out=out)
    assert message in str(info.value)
    assert (np.asarray(out) == before).all()


def test_read_only_out_and_dtype_clash():
    out = sentinel((12, 8, 8))
    out.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        planes(Board(), out=out)
    with pytest.raises(ValueError, match="read-only"):
        planes_from_fens([KIWIPETE], out=out.reshape(1, 12, 8, 8))
    out = sentinel((12, 8, 8))
    with pytest.raises(TypeError, match="differs"):
        planes(Board(), out=out, dtype=np.float32)
    assert (out == 7).all()


@pytest.mark.parametrize("dtype", [np.int8, np.float64, "complex64", object, "no such type", 3])
def test_planes_bad_dtype(dtype):
    with pytest.raises(TypeError, match="bool, uint8, float16 or float32"):
        planes(Board(), dtype=dtype)
    with pytest.raises(TypeError, match="bool, uint8, float16 or float32"):
        planes_batch([Board()], dtype=dtype)


def test_batch_item_errors_name_the_index(generator):
    out = sentinel((3, 12, 8, 8))
    with pytest.raises(TypeError, match=r"boards\[2\].*'str'.*'Board'"):
        planes_batch([Board(), Board(), KIWIPETE], out=out)
    with pytest.raises(TypeError, match=r"boards\[1\].*'MoveGenerator'"):
        legal_mask_batch(generator, [Board(), generator], out=sentinel((2, MOVE_INDEX_SIZE), np.bool_))
    with pytest.raises(TypeError, match=r"fens\[0\]"):
        planes_from_fens([b"8/8/8/8/8/8/8/8", KIWIPETE, KIWIPETE], out=out)
    assert (out == 7).all()
    with pytest.raises(ValueError, match=r"fens\[1\] 'rnbqkxnr/8 w': Invalid piece type"):
        planes_from_fens([KIWIPETE, "rnbqkxnr/8 w", KIWIPETE], out=out)
    with pytest.raises(ValueError, match=r"fens\[2\] ' ': Missing FEN field"):
        planes_from_fens([KIWIPETE, KIWIPETE, " "], out=out)
    with pytest.raises(ValueError, match=r"fens\[0\] ''"):
        planes_from_fens([""])
    with pytest.raises(TypeError, match="fens must be an iterable of items, not str"):
        planes_from_fens(KIWIPETE, out=out)
    assert (out == 7).all()


@pytest.mark.parametrize("text", ["", "e2e", "E2E4", "e2e4 ", "e7e8k", "e7e8Q", "a1h7", "e6e7q", "e2e1x", "é2e4"])
def test_move_index_bad_text(text):
    with pytest.raises(ValueError, match="not a move text"):
        move_index(text)


@pytest.mark.parametrize("index", [-1, MOVE_INDEX_SIZE, 64 * 64, 64 * 56 + 63, 10 ** 30, -10 ** 30])
def test_move_text_bad_index(index):
    with pytest.raises(ValueError, match="not the index of a move"):
        move_text(index)


def test_wrong_argument_types(generator):
    with pytest.raises(TypeError):
        move_index(4)
    with pytest.raises(TypeError):
        move_text("e2e4")
    with pytest.raises(TypeError):
        move_text(1.0)
    with pytest.raises(TypeError, match="'board'.*'MoveGenerator'"):
        planes(generator)
    with pytest.raises(TypeError, match="'generator'.*'Board'"):
        legal_mask(Board(), Board())
    with pytest.raises(TypeError, match="'board'"):
        legal_indices(generator, KIWIPETE)
    with pytest.raises(ValueError):
        legal_mask(generator, Board(), out=np.zeros(MOVE_INDEX_SIZE - 1, dtype=bool))
    with pytest.raises(TypeError):
        legal_mask(generator, Board(), out=np.zeros(MOVE_INDEX_SIZE, dtype=np.uint8))


def test_native_half_refuses_bad_buffers():
    """The native functions check sizes themselves, whatever the caller passes."""
    from mirelo_chess import _native
    board = Board()
    with pytest.raises(ValueError, match="768 bytes, expected 3072"):
        _native.planes(board, np.zeros(768, np.uint8), 2)
    with pytest.raises(ValueError):
        _native.planes(board, np.zeros(768, np.uint8), 3)
    with pytest.raises((TypeError, BufferError)):
        _native.planes(board, b"x" * 768, 0)
    buffer = bytearray(768)
    _native.planes(board, buffer, 0)
    assert buffer == bytes(np.array(board.bitboard(), dtype=np.uint8).ravel())
    with pytest.raises(TypeError, match="list or tuple"):
        _native.planes_batch(iter([board]), bytearray(768), 0)


@pytest.mark.skipif(platform.python_implementation() != "CPython", reason="CPython's reference counts")
def test_calls_keep_reference_counts(generator):
    """Every object a call touches, failing calls included, has the same
    reference count after thousands of calls: no buffer, item or result
    is kept."""
    from mirelo_chess import _native
    board = Board(KIWIPETE)
    fen = KIWIPETE + " "  # a text of its own
    out = np.zeros((2, 12, 8, 8), np.float32)
    masks = np.zeros((2, MOVE_INDEX_SIZE), bool)
    boards = [board, board]
    watched = (board, fen, out, masks, boards, generator, Board, np.float32)

    def calls():
        planes(board, out=out[0])
        planes_batch(boards, out=out)
        planes_from_fens([fen, fen], out=out)
        legal_indices(generator, board)
        legal_mask_batch(generator, boards, out=masks)
        move_text(move_index("e7e8q"))
        for call, args in ((planes_from_fens, ([fen, "x"], out)), (planes_batch, ([board, fen], out)),
                           (_native.planes, (board, out, 0)), (_native.legal_mask, (generator, board, out)),
                           (_native.planes_batch, ([board, generator], out, 2)), (move_text, (-1,)),
                           (move_index, (fen,)), (legal_mask, (generator, fen))):
            try:
                call(*args)
            except (TypeError, ValueError):
                pass
            else:
                raise AssertionError(f"{call.__name__}{args!r} did not fail")

    calls()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(2000):
        calls()
    assert [sys.getrefcount(o) for o in watched] == before


# ---------------------------------------------------------------- README


def readme_example(marker):
    """The README's Python block that contains marker."""
    readme = pathlib.Path(__file__).resolve().parent.parent / "README.md"
    blocks = re.findall(r"```python\n(.*?)```", readme.read_text(encoding="utf-8"), re.S)
    return next(block for block in blocks if marker in block)


def test_readme_numpy_example():
    exec(readme_example("legal_mask(generator, board)"), {"__name__": "readme"})


def test_dask_cluster_matches_local(positions):
    """The README's Dask example on a LocalCluster of two worker processes."""
    pytest.importorskip("dask.array")
    dask = pytest.importorskip("dask")
    distributed = pytest.importorskip("distributed")

    example = {"__name__": "readme"}  # its main block does not run
    exec(readme_example("LocalCluster"), example)
    fens = positions[:300]
    # Forked workers start in a fraction of a second; spawned ones (the
    # default) import everything again, several seconds on a small machine.
    with dask.config.set({"distributed.worker.multiprocessing-method": "fork"}), \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                     dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        encoded = example["encode"](fens, chunk=100)
        assert encoded.numblocks[0] == 3
        everything = encoded.compute()
        counts = encoded.sum(axis=0).compute()
    local = planes_from_fens(fens)
    assert (everything == local).all()
    assert (counts == local.sum(axis=0)).all()
