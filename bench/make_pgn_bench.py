"""Writes the PGN benchmark file: seeded random-ish games in the shape of an
online database dump (a dozen tags, a clock comment after every move), as
python-chess's exporter writes them.

    python bench/make_pgn_bench.py OUT.pgn [--games 10000] [--seed 18]
"""

from __future__ import annotations

import argparse
import random

import chess
import chess.pgn


def pick(rng: random.Random, board: chess.Board) -> chess.Move:
    # Captures and checks a little more often than the rest, so that games
    # look less aimless and reach endgames and promotions.
    legal = list(board.legal_moves)
    forcing = [m for m in legal if m.promotion or board.is_capture(m)]
    return rng.choice(forcing if forcing and rng.random() < 0.4 else legal)


def game(rng: random.Random, index: int) -> chess.pgn.Game:
    g = chess.pgn.Game()
    base = rng.choice([60, 180, 300, 600])
    g.headers.update({
        "Event": "Rated Blitz game", "Site": f"https://example.org/{index:08x}", "Date": "2024.01.01",
        "Round": "-", "White": f"player{rng.randrange(10**6)}", "Black": f"player{rng.randrange(10**6)}",
        "WhiteElo": str(rng.randint(800, 2800)), "BlackElo": str(rng.randint(800, 2800)),
        "TimeControl": f"{base}+0", "ECO": f"{rng.choice('ABCDE')}{rng.randint(0, 99):02}",
        "Termination": "Normal",
    })
    board = g.board()
    node: chess.pgn.GameNode = g
    clocks = [base, base]
    for _ in range(rng.randint(10, 150)):
        if board.is_game_over():
            break
        side = 0 if board.turn else 1
        move = pick(rng, board)
        board.push(move)
        node = node.add_variation(move)
        clocks[side] = max(0, clocks[side] - rng.randint(0, 6))
        node.set_clock(clocks[side])
    g.headers["Result"] = board.result() if board.is_game_over() else rng.choice(["1-0", "0-1", "1/2-1/2"])
    return g


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out")
    parser.add_argument("--games", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=18)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    with open(args.out, "w", encoding="utf-8") as out:
        for index in range(args.games):
            out.write(str(game(rng, index)) + "\n\n")


if __name__ == "__main__":
    main()
