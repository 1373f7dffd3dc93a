from collections.abc import Iterable
from typing import Literal

from mirelo_chess import Board

__all__ = ["SVG", "board"]

class SVG(str):
    def _repr_svg_(self) -> str: ...

def board(
    board: Board | str,
    *,
    size: float = 360,
    orientation: Literal["white", "black"] = "white",
    lastmove: str | None = None,
    check: str | None = None,
    arrows: Iterable[str] = (),
    coordinates: bool = True,
) -> SVG: ...
