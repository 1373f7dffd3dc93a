"""The native functions of the submodules (mirelo_chess.game, the native half
of mirelo_chess.arrays) on PyPy: made by mirelo_chess._face from the C
interface's declarations, as the C extension makes them on CPython."""

from mirelo_chess._face import PanicException, lib, native_classes, native_functions

MOVE_INDEX_SIZE = lib.MIRELO_MOVE_INDEX_SIZE
globals().update(native_classes)
globals().update(native_functions)
del lib, native_classes, native_functions
