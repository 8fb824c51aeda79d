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
    """Where ``partial_ratio`` found its score: ``s1[src_start:src_end]`` against ``s2[dest_start:dest_end]``.

    Attributes
    ----------
    score : float
        The score, in [0, 100].
    src_start, src_end : int
        The window of s1.
    dest_start, dest_end : int
        The window of s2.

    Examples
    --------
    >>> from vornkit.fuzz import ScoreAlignment
    >>> ScoreAlignment(100.0, 0, 9, 4, 13).dest_start
    4
    """

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
    """``partial_ratio``'s score with the windows it compared.

    Parameters
    ----------
    s1, s2 : str or None
        The texts; the shorter one is slid along the longer.
    processor : vorn.Preprocessor or callable, optional
        Applied to each text first.
    score_cutoff : float, optional
        A score below it gives None.
    score_hint : float, optional
        Accepted for RapidFuzz's signature; it does not change the result.

    Returns
    -------
    ScoreAlignment or None
        None below ``score_cutoff`` or for a None string.

    Examples
    --------
    >>> from vornkit import fuzz
    >>> fuzz.partial_ratio_alignment("york mets", "new york mets!")
    ScoreAlignment(score=100.0, src_start=0, src_end=9, dest_start=4, dest_end=13)
    >>> fuzz.partial_ratio_alignment("abc", "xyz", score_cutoff=50) is None
    True
    """
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
