"""Differential check of the core's SAN and PGN reading against python-chess.

    python bench/pgn_compare.py PROBE [--games N] [--positions N] [--seed S] [FILE.pgn ...]

PROBE is the pgn_probe program (built with -DMIRELO_BUILD_BENCH=ON). The
check has three parts:

- games: a seeded corpus written by python-chess's own exporter (clock
  comments, variations, NAGs, set-up positions, promotions, en passant,
  castling; once with LF and once with CRLF line ends), a set of hand-made
  texts that probe the reader's corners, and the files given, each read by
  the probe in chunks of several sizes and by chess.pgn.read_game from the
  file opened in text mode; every game's tags, start, mainline, comments,
  result and error must agree;
- san: every legal move of seeded positions (from random games and from
  random crowded placements) written by both;
- parse: SAN, long and malformed texts for those positions read by both:
  the same move, or the same kind of refusal.

Known, intended differences are counted and listed rather than failed:
null moves (python-chess plays them, the core stops with an error), games
of another variant or with Chess960 castling (python-chess reads them with
that variant's rules, the core gives an error and no moves). Exit status 1
on any other difference.
"""

from __future__ import annotations

import argparse
import io
import json
import logging
import os
import random
import subprocess
import sys
import tempfile
from collections import Counter

import chess
import chess.pgn

logging.getLogger("chess.pgn").setLevel(logging.CRITICAL)

ROSTER_DEFAULTS = {"Event": "?", "Site": "?", "Date": "????.??.??", "Round": "?", "White": "?", "Black": "?"}
CHUNKS = (1, 7, 1 << 16)


# ---------------------------------------------------------------------------
# Corpus


def biased_move(rng: random.Random, board: chess.Board) -> chess.Move:
    legal = list(board.legal_moves)
    special = [m for m in legal if m.promotion or board.is_castling(m) or board.is_en_passant(m)]
    if special and rng.random() < 0.6:
        return rng.choice(special)
    pawns = [m for m in legal if board.piece_type_at(m.from_square) == chess.PAWN]
    if pawns and rng.random() < 0.3:
        return rng.choice(pawns)
    return rng.choice(legal)


def random_start(rng: random.Random) -> chess.Board:
    board = chess.Board()
    for _ in range(rng.randint(1, 30)):
        if board.is_game_over():
            break
        board.push(biased_move(rng, board))
    return chess.Board(board.fen())


def clock(rng: random.Random) -> str:
    return f"[%clk {rng.randint(0, 2)}:{rng.randint(0, 59):02}:{rng.randint(0, 59):02}]"


def add_variation(rng: random.Random, node: chess.pgn.GameNode, depth: int) -> None:
    parent = node.parent
    if parent is None:
        return
    board = parent.board()
    alternatives = [m for m in board.legal_moves if m != node.move]
    if not alternatives:
        return
    child = parent.add_variation(rng.choice(alternatives))
    if rng.random() < 0.3:
        child.comment = "alternative " + rng.choice(["", "{nested}", "(x)", "é"])
    for _ in range(rng.randint(0, 4)):
        b = child.board()
        if b.is_game_over():
            break
        child = child.add_variation(biased_move(rng, b))
        if depth < 2 and rng.random() < 0.2:
            add_variation(rng, child, depth + 1)


def random_game(rng: random.Random, index: int) -> chess.pgn.Game:
    game = chess.pgn.Game()
    game.headers["Event"] = f"Random {index}"
    game.headers["Site"] = rng.choice(["?", "Somewhere", "Zürich", "x \"quoted\" y"])
    if rng.random() < 0.2:
        game.setup(random_start(rng))
    board = game.board()
    node: chess.pgn.GameNode = game
    clocks = rng.random() < 0.7
    for _ in range(rng.randint(0, 160)):
        if board.is_game_over():
            break
        move = biased_move(rng, board)
        board.push(move)
        node = node.add_variation(move)
        if clocks:
            node.comment = clock(rng)
        elif rng.random() < 0.1:
            node.comment = rng.choice(["good", "a\nlong comment", " spaced ", "ünïcode"])
        if rng.random() < 0.05:
            node.nags.add(rng.choice([1, 2, 3, 4, 5, 6, 10, 14, 18]))
        if rng.random() < 0.04:
            add_variation(rng, node, 0)
    game.headers["Result"] = board.result() if rng.random() < 0.9 else rng.choice(["*", "1-0"])
    return game


# Texts that probe the reader's corners: line structure, comments, tokens,
# variations, tags, start positions and bad input.
CORNERS = [
    "1. e4 e5 2. Nf3 Nc6 *\n",
    "\ufeff[Event \"bom\"]\n\n1. e4 *\n\n\ufeff[Event \"bom again\"]\n\n1. d4 *\n",
    "% escape line\n; comment line\n\n[Event \"x\"]\n% inside\n[Site \"y\"]\n\n[Round \"z\"]\n\n1. e4\n; end\n% end\n e5\n\n",
    "[Event \"a\"]\n\n\n1. e4 *\n",
    "[Event \"headers only\"]\n[Result \"1-0\"]\n",
    "[Event \"two\"]\n[Result \"*\"]\n1. e4 1-0 e5 0-1\n\n",
    "1. e4 {multi\nline\n\ncomment} e5 { a } { } {b} {  c  } 2. Nf3\n{x}\n\n",
    "1. e4 (1. d4 d5 (1... Nf6 2. c4)) e5 (1... c5 {in var}) {after} 2. Nf3 *\n",
    "1. e4 ( ) {lost} e5 ( {only comment} ) {lost too} *\n",
    "( e4 ) e4 e5 )) 2. Nf3 ( 2. Nc3 *\n",
    "1. e4 ( ( 1. d4 ) 1. c4 ) e5 *\n",
    "1. e4 e5 2. Ke3 Nf6 3. Nf3 1-0\n\n1. d4 *\n",
    "1. e4 e5 2. Nf3 -- 3. Bc4 Z0 *\n",
    "1. e4 e5 2. N@f3 *\n",
    "1.e4e5 2.Nf3Nc6 3.Bb5a6$1 4.Ba4!? Nf6?! 5.O-O Be7 6.Re1 b5 7.Bb3 d6 8.c3 O-O 9.h3 1/2-1/2\n",
    "1. e4 d5 2. exd5 Qxd5 3. Nc3 Qa5 4. d4 c6 5. Nf3 Bg4 6. Bf4 e6 7. h3 Bxf3 8. Qxf3 Bb4 9. Be2 Nd7 10. a3 0-0-0 *\n",
    "[Variant \"Chess960\"]\n[FEN \"nbbrknrq/pppppppp/8/8/8/8/PPPPPPPP/NBBRKNRQ w KQkq - 0 1\"]\n\n1. e4 *\n",
    "[Variant \"wild/1\"]\n[FEN \"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\"]\n\n1. e4 *\n",
    "[Variant \"STANDARD\"]\n\n1. e4 *\n",
    "[FEN \"not a fen\"]\n\n1. e4 { skipped } (\n\n1. d4 *\n",
    "[FEN \"4k3/P7/8/8/8/8/8/4K3 w - - 0 1\"]\n\n1. a8=Q+ Kd7 2. Qb7+ *\n",
    "[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 2\"]\n\n1. exd6 *\n",
    "[FEN \"4k3/8/8/8/8/8/8/R3K2R w KQ e3 0 1\"]\n\n1. O-O *\n",
    "[FEN \"4k3/8/8/8/8/8/8/4K2R w HQ - 0 1\"]\n\n1. O-O *\n",
    "[FEN \"4k3/8/8/8/8/8/8/1R2K1R1 w KQ - 0 1\"]\n\n1. Kd1 *\n",
    "[FEN \" 4k3/8/8/8/8/8/8/4K3  w - - 0\"]\n\n1. Kd1 *\n",
    "[FEN \"4k3/8/8/8/8/8/8/4K3 w - - -1 1\"]\n\n1. Kd1 *\n",
    "[FEN \"4k3/8/8/8/8/8/8/4K~3 w - - 0 1\"]\n\n1. Kd1 *\n",
    "[FEN \"4k3/8/8/8/8/8/8/44K3 w - - 0 1\"]\n\n1. Kd1 *\n",
    "[Event \"tag\" with \"quotes\"]   \n[Bad tag]\n[ Event \"leading space\"]\n[Name_x+#=:- \"chars\"]\n[Weird\t\"tab\"]\n\n1. e4 *\n",
    "[Event \"no movetext\"]\n\n\n\n[Event \"next\"]\n1. e4\n\n",
    "[Event \"unterminated comment\"]\n\n1. e4 { never closes\n\n[Event \"swallowed\"]\n\n1. d4 *\n",
    "1. e4 e5 2. Qh5 Nc6 3. Bc4 Nf6 4. Qxf7# 1-0 {after the end} 5. e5\n",
    "[Event \"x\"]\r\n\r\n1. e4 {crlf\r\ncomment} e5\r\n\r\n[Event \"y\"]\r1. d4\r\r1. c4\n",
    # Bytes that are not UTF-8, written through surrogate escapes.
    "1. e4 \x00 e5 \udcff\udcfe 2. Nf3 {bad \udce2\udc82 bytes \udcf0\udc80} *\n",
    "1. e2e4 e7-e5 2. Ng1f3 Nb8xc6 3. Bf1c4 Bf8-c5 4. e1g1 g8f6 5. Re1 e8h8 *\n",
    "1. e4 e5 2. Nf3 Nf6 3. Nc3 Nc6 4. Nd5 Nd4 5. Nb4 Nb5 6. Nd3 Nd6 7. Nde5 Nfe4 *\n",
    "1. f4 e5 2. fxe5 d6 3. exd6 Bxd6 4. g3 Qg5 5. Nf3 Qxg3+ 6. hxg3 Bxg3# 0-1\n",
    "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Bxc6 dxc6 5. Nxe5 Qd4 6. Nf3 Qxe4+ 7. Qe2 Qxe2+ 8. Kxe2 *\n",
    "1. e4 1-e5 2. Nf3 xe5 3. 3e4 *\n",
    "[Event \"many\"]\n" + "1. e4 e5 " * 3 + "\n\n" * 3 + "[Event \"after blanks\"]\n\n1. d4\n",
    "; only a comment\n% only an escape\n\n",
    "\n\n   \n",
    "{opening comment} 1. e4 {c1} $14 {c2} e5 *\n",
    "1. e4 e5 2. Bc4 Nc6 3. Qh5 Nf6?? 4. Qxf7#\n",
    "[A \"1\"]\n\x1c\n[B \"2\"]\n\x0c\n1. e4 *\n\x1f\n1. d4\n",
    "[A \"\u3000\"]\u3000\n\u3000\n1. e4\n\u00a0\n1. d4\n",
    "[Event \"e\"]\n\n1. e4 e5 2. Nf3 Nf6 3. Nxe5 Nxe4 4. Qe2 Nf6?? 5. Nc6+ 1-0\n",
    "1. d4 e5 2. d5 c5 3. dxc6 bxc6 4. Qd6 Bxd6 *\n",
    "1. e4 f5 2. exf5 g5 3. fxg6 h5 4. gxh7 Nf6 5. hxg8=N Rh7 6. Nf6+ Rxh? 7. Nd5\n",
    "1. a4 b5 2. axb5 Bb7 3. b6 Bc6 4. bxa7 Bd5 5. axb8=Q Rxa1 6. Qxd8+ Kxd8 *\n",
]


def corpus_texts(rng: random.Random, count: int) -> list[tuple[str, str]]:
    games = [str(random_game(rng, i)) for i in range(count)]
    lf = "\n\n".join(games) + "\n"
    return [("generated-lf.pgn", lf), ("generated-crlf.pgn", lf.replace("\n", "\r\n")),
            ("corners.pgn", "\n\n".join(CORNERS)), ("corners-concatenated.pgn", "".join(CORNERS))] + [
            (f"corner-{i}.pgn", text) for i, text in enumerate(CORNERS)]


# ---------------------------------------------------------------------------
# Games


def probe_games(probe: str, path: str, chunk: int) -> list[dict]:
    out = subprocess.run([probe, "games", "--comments", "--chunk", str(chunk), path],
                         check=True, capture_output=True).stdout
    return [json.loads(line) for line in out.decode("utf-8").splitlines()]


def reference_games(path: str) -> tuple[list[chess.pgn.Game], Exception | None]:
    """The games python-chess reads, up to an exception it raises, if any."""
    games = []
    with open(path, encoding="utf-8", errors="replace") as handle:
        try:
            while (game := chess.pgn.read_game(handle)) is not None:
                games.append(game)
        except Exception as failure:  # python-chess's own bugs on malformed input
            return games, failure
    return games, None


def expected_en_passant(board: chess.Board) -> str:
    square = board.ep_square
    if square is None or chess.square_rank(square) != (5 if board.turn else 2) or board.piece_at(square):
        return "-"
    return chess.square_name(square)


def compare_game(ours: dict, game: chess.pgn.Game, differences: Counter, problems: list[str], where: str) -> None:
    def problem(what: str) -> None:
        problems.append(f"{where} game {ours['index']}: {what}")

    reference_headers = dict(game.headers)
    our_headers = dict(ours["headers"])
    for name, value in reference_headers.items():
        if name == "Result":
            continue
        if name in our_headers:
            if our_headers[name] != value:
                problem(f"tag {name}: {our_headers[name]!r} != {value!r}")
        elif ROSTER_DEFAULTS.get(name) != value:
            problem(f"tag {name} missing")
    for name in our_headers:
        if name not in reference_headers:
            problem(f"tag {name} extra")
    if ours["result"] != game.headers.get("Result", "*"):
        problem(f"result {ours['result']!r} != {game.headers.get('Result')!r}")

    error = ours["error"] or ""
    nodes = list(game.mainline())
    moves = [node.move.uci() for node in nodes]
    if error.startswith(("unsupported variant", "unsupported Chess960")):
        differences["variant games (error, no moves)"] += 1
        if ours["moves"]:
            problem("moves in a variant game")
        return
    if error.startswith("invalid FEN"):
        if ours["moves"] or not game.errors or moves:
            problem(f"FEN error {error!r} against {game.errors!r}, {len(moves)} moves")
        return
    board = game.board()
    fields = board.fen().split()
    if ours["fen"] != " ".join(fields[:3] + [expected_en_passant(board)]):
        problem(f"start {ours['fen']!r} != {board.fen()!r}")
    count = len(ours["moves"])
    if error.startswith("null move"):
        differences["null moves (error)"] += 1
        if moves[:count] != ours["moves"] or count >= len(moves) or moves[count] != "0000":
            problem(f"moves before a null move differ: {error}")
    elif ours["moves"] != moves:
        first = next((i for i, (a, b) in enumerate(zip(ours["moves"], moves)) if a != b), min(count, len(moves)))
        problem(f"moves differ from ply {first + 1}: ours {ours['moves'][first:first + 3]} "
                f"python-chess {moves[first:first + 3]} ({error or 'no error'}; {game.errors})")
    elif error and not game.errors:
        problem(f"error {error!r} where python-chess has none")
    elif game.errors and not error:
        # python-chess also checks the moves of variations.
        differences["python-chess errors inside variations only"] += 1
    comments = [node.comment for node in nodes][:count]
    if ours["comments"] != comments:
        first = next(i for i, (a, b) in enumerate(zip(ours["comments"], comments)) if a != b)
        problem(f"comment of ply {first + 1}: {ours['comments'][first]!r} != {comments[first]!r}")


def check_games(probe: str, files: list[tuple[str, str]]) -> tuple[int, Counter, list[str]]:
    differences: Counter = Counter()
    problems: list[str] = []
    total = 0
    for name, path in files:
        runs = [probe_games(probe, path, chunk) for chunk in CHUNKS]
        for chunk, run in zip(CHUNKS[1:], runs[1:]):
            if run != runs[0]:
                problems.append(f"{name}: chunks of {chunk} bytes read differently")
        reference, failure = reference_games(path)
        ours = runs[0]
        if failure is not None:
            differences[f"python-chess fails ({type(failure).__name__}), games after it not compared"] += 1
        elif len(ours) != len(reference):
            problems.append(f"{name}: {len(ours)} games, python-chess {len(reference)}")
        for our_game, game in zip(ours, reference):
            compare_game(our_game, game, differences, problems, name)
        total += len(ours)
    return total, differences, problems


# ---------------------------------------------------------------------------
# SAN


def random_placement(rng: random.Random) -> chess.Board:
    while True:
        board = chess.Board(None)
        squares = rng.sample(chess.SQUARES, 2 + rng.randint(4, 20))
        board.set_piece_at(squares[0], chess.Piece(chess.KING, chess.WHITE))
        board.set_piece_at(squares[1], chess.Piece(chess.KING, chess.BLACK))
        for square in squares[2:]:
            kind = rng.choice([chess.PAWN, chess.KNIGHT, chess.KNIGHT, chess.BISHOP, chess.ROOK, chess.ROOK,
                               chess.QUEEN, chess.QUEEN])
            if kind == chess.PAWN and chess.square_rank(square) in (0, 7):
                kind = chess.QUEEN
            board.set_piece_at(square, chess.Piece(kind, rng.random() < 0.5))
        board.turn = rng.random() < 0.5
        if board.is_valid() and any(board.legal_moves):
            return board


def random_positions(rng: random.Random, count: int) -> list[chess.Board]:
    boards: list[chess.Board] = []
    while len(boards) < count:
        if rng.random() < 0.3:
            boards.append(random_placement(rng))
            continue
        board = chess.Board()
        for _ in range(rng.randint(1, 150)):
            if board.is_game_over() or len(boards) >= count:
                break
            board.push(biased_move(rng, board))
            if rng.random() < 0.3:
                boards.append(chess.Board(board.fen()))
    return boards


def san_texts(rng: random.Random, board: chess.Board) -> list[str]:
    texts = set()
    for move in board.legal_moves:
        san = board.san(move)
        bare = san.rstrip("+#")
        uci = move.uci()
        texts.update([san, bare, uci, uci[:2] + "-" + uci[2:], uci[:2] + "x" + uci[2:], bare + "!", uci[:4] + "q",
                      uci[:4] + "=N"])
        piece = board.piece_type_at(move.from_square)
        if piece != chess.PAWN and not board.is_castling(move):
            letter = chess.piece_symbol(piece).upper()
            texts.update([letter + uci[:4], letter + uci[:2] + "-" + uci[2:4], letter + "x" + uci[2:4],
                          letter + uci[0] + uci[2:4], letter + uci[1] + uci[2:4], letter + uci[2:4] + "=Q"])
        if move.promotion:
            texts.update([bare.replace("=", ""), bare.lower()[:-1] + bare[-1].lower(), bare[:-1] + "K",
                          bare.split("=")[0]])
        if board.is_castling(move):
            texts.update([san.replace("O", "0"), "K" + uci[2:4], "K" + uci[:4], uci[:2] + ("h" if uci[2] == "g" else "a") + uci[3]])
    files, ranks = "abcdefgh", "12345678"
    for _ in range(12):
        square = rng.choice(files) + rng.choice(ranks)
        texts.add(rng.choice(["", "N", "B", "R", "Q", "K", "P", "n"]) + rng.choice(["", rng.choice(files),
                  rng.choice(ranks), rng.choice(files) + rng.choice(ranks)]) + rng.choice(["", "x", "-", ":"]) + square
                  + rng.choice(["", "", "=Q", "q", "=N", "+", "#", "++", "=k"]))
    texts.update(["--", "Z0", "0000", "@@@@", "O-O", "O-O-O", "0-0+", "O-O-O#", "O-O!", "e9", "i4", "", "e4,e5",
                  " e4", "e4 ", "N@f3", "Nf3\u00e9", "e", "ee4", "xe4", "4e4", "1e4", "h1h1", "a1a2"])
    return sorted(texts)


def reference_parse(board: chess.Board, text: str) -> str:
    try:
        move = board.parse_san(text)
    except chess.AmbiguousMoveError:
        return "error ambiguous"
    except chess.IllegalMoveError:
        return "error illegal"
    except chess.InvalidMoveError:
        return "error invalid"
    return "error null" if not move else move.uci()


def check_san(probe: str, boards: list[chess.Board], rng: random.Random, work: str) -> tuple[int, int, list[str]]:
    problems: list[str] = []
    fens = os.path.join(work, "positions.fen")
    with open(fens, "w") as out:
        for board in boards:
            out.write(board.fen() + "\n")
    lines = subprocess.run([probe, "san", fens], check=True, capture_output=True, text=True).stdout.splitlines()
    written = 0
    for board, line in zip(boards, lines):
        ours = dict(item.split(":") for item in line.split())
        reference = {move.uci(): board.san(move) for move in board.legal_moves}
        written += len(reference)
        if ours != reference:
            wrong = sorted(set(ours.items()) ^ set(reference.items()))[:4]
            problems.append(f"san {board.fen()}: {wrong}")
    cases = [(board, text) for board in boards for text in san_texts(rng, board)]
    requests = os.path.join(work, "parse.txt")
    with open(requests, "w", encoding="utf-8") as out:
        for board, text in cases:
            out.write(f"{board.fen()}\t{text}\n")
    answers = subprocess.run([probe, "parse", requests], check=True, capture_output=True,
                             text=True).stdout.splitlines()
    for (board, text), answer in zip(cases, answers):
        expected = reference_parse(board, text)
        if answer != expected:
            problems.append(f"parse {text!r} in {board.fen()}: {answer} != {expected}")
    if len(answers) != len(cases) or len(lines) != len(boards):
        problems.append("the probe answered too few lines")
    return written, len(cases), problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("probe")
    parser.add_argument("files", nargs="*")
    parser.add_argument("--games", type=int, default=3000)
    parser.add_argument("--positions", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=18)
    args = parser.parse_intermixed_args()
    rng = random.Random(args.seed)
    problems: list[str] = []
    with tempfile.TemporaryDirectory() as work:
        files = []
        for name, text in corpus_texts(rng, args.games):
            path = os.path.join(work, name)
            with open(path, "w", encoding="utf-8", errors="surrogateescape", newline="") as out:
                out.write(text)
            files.append((name, path))
        files += [(os.path.basename(path), path) for path in args.files]
        total, differences, game_problems = check_games(args.probe, files)
        problems += game_problems
        print(f"games: {total} read, {len(game_problems)} differences")
        for what, count in sorted(differences.items()):
            print(f"  intended: {what}: {count}")
        written, parsed, san_problems = check_san(args.probe, random_positions(rng, args.positions), rng, work)
        problems += san_problems
        print(f"san: {written} moves written, {parsed} texts parsed, {len(san_problems)} differences")
    for line in problems[:60]:
        print("  " + line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
