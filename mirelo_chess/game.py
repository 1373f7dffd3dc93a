"""Where a game stands: check, repetitions, outcome, position key and perft.

The functions are the native ones, documented by their docstrings.
"""

from mirelo_chess._native import divide, is_check, outcome, perft, repetitions, zobrist_key

__all__ = ["is_check", "repetitions", "outcome", "zobrist_key", "perft", "divide"]
