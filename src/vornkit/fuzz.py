"""RapidFuzz's ``fuzz`` scorers, equal as floats to RapidFuzz 3.14's.

Every scorer is ``f(s1, s2, *, processor=None, score_cutoff=None, score_hint=None) -> float``
in [0, 100]. ``processor`` is None, a ``vorn.Preprocessor`` or any callable applied once
to each string; a score below ``score_cutoff`` is 0, a score that reaches it is kept.
A pair with a None string scores 0. Characters are code points.
"""

from collections.abc import Callable
from typing import NamedTuple

from vornkit import _native

ratio = _native.ratio
partial_ratio = _native.partial_ratio
token_sort_ratio = _native.token_sort_ratio
token_set_ratio = _native.token_set_ratio
token_ratio = _native.token_ratio
partial_token_sort_ratio = _native.partial_token_sort_ratio
partial_token_set_ratio = _native.partial_token_set_ratio
partial_token_ratio = _native.partial_token_ratio
WRatio = _native.WRatio
QRatio = _native.QRatio


class ScoreAlignment(NamedTuple):
    """Where partial_ratio found its score: ``s1[src_start:src_end]`` against ``s2[dest_start:dest_end]``."""

    score: float
    src_start: int
    src_end: int
    dest_start: int
    dest_end: int


def partial_ratio_alignment(
    s1: str | None,
    s2: str | None,
    *,
    processor: Callable[[str], str] | object | None = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
) -> ScoreAlignment | None:
    """partial_ratio's score with the windows it compared; None below score_cutoff or for a None string."""
    found = _native.partial_ratio_alignment(s1, s2, processor=processor, score_cutoff=score_cutoff)
    return None if found is None else ScoreAlignment(*found)


__all__ = [
    "ratio",
    "partial_ratio",
    "partial_ratio_alignment",
    "token_sort_ratio",
    "token_set_ratio",
    "token_ratio",
    "partial_token_sort_ratio",
    "partial_token_set_ratio",
    "partial_token_ratio",
    "WRatio",
    "QRatio",
    "ScoreAlignment",
]
