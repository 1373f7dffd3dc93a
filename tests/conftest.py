"""Fixtures shared by the test modules (their helpers are in support.py)."""

import pytest

from mirelo_chess import MoveGenerator


@pytest.fixture(scope="session")
def generator():
    """One generator for the whole run: it keeps nothing between calls."""
    return MoveGenerator()
