__all__ = ["PanicException"]

class PanicException(BaseException):
    """Raised when native code called from Python fails an internal check.

    Its qualified name is ``pyo3_runtime.PanicException``; it derives from
    ``BaseException``, so ``except Exception`` does not catch it.
    """
