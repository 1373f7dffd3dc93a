"""The exception raised when an internal check of the library fails.

``PanicException`` derives from ``BaseException``, not ``Exception``, like
``SystemExit``: ``except Exception`` does not catch it. Catch it by class::

    from mirelo_chess.errors import PanicException

    try:
        board.pop()
    except PanicException as error:
        print("no move to take back:", error)
"""

from mirelo_chess._native import PanicException

__all__ = ["PanicException"]
