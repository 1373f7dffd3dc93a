# mirelo_chess on PyPy: Board and MoveGenerator from a Python face over the
# C interface of the core, reached through cffi (see _face.py). The module
# shows the same surface as the C extension module CPython loads.
import sys as _sys

from mirelo_chess import _face

if _face.package is not None:
    # Imported again after being removed from sys.modules: the import gives
    # back the module object made the first time, as for an extension module.
    _sys.modules[__name__] = _face.package
else:
    __doc__ = ""
    __all__ = list(_face.package_classes)
    globals().update(_face.package_classes)
    _face.package = _sys.modules[__name__]
del _sys, _face
