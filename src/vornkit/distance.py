"""RapidFuzz's ``distance`` metrics, equal to RapidFuzz 3.14's.

Each metric is a namespace with ``distance``, ``similarity``, ``normalized_distance`` and
``normalized_similarity``, each ``f(s1, s2, *, processor=None, score_cutoff=None,
score_hint=None)``. Counted metrics return ints from ``distance``/``similarity`` and floats
from the normalized forms; Jaro and JaroWinkler return floats throughout. Cutoffs: a
distance above ``score_cutoff`` is ``score_cutoff + 1`` (1.0 when normalized), a similarity
below it is 0. Characters are code points.

    from vornkit.distance import Levenshtein
    Levenshtein.distance("kitten", "sitting", weights=(1, 1, 2))
"""

from collections.abc import Callable
from typing import Any

from vornkit import _native


class _Metric:
    """The four functions of one metric."""

    __slots__ = ("__name__", "distance", "similarity", "normalized_distance", "normalized_similarity")

    def __init__(self, name: str, prefix: str) -> None:
        self.__name__ = name
        self.distance: Callable[..., Any] = getattr(_native, f"{prefix}_distance")
        self.similarity: Callable[..., Any] = getattr(_native, f"{prefix}_similarity")
        self.normalized_distance: Callable[..., float] = getattr(_native, f"{prefix}_normalized_distance")
        self.normalized_similarity: Callable[..., float] = getattr(_native, f"{prefix}_normalized_similarity")

    def __repr__(self) -> str:
        return f"<vornkit.distance.{self.__name__}>"


Levenshtein = _Metric("Levenshtein", "levenshtein")  # keyword weights=(insertion, deletion, substitution)
Indel = _Metric("Indel", "indel")
LCSseq = _Metric("LCSseq", "lcs_seq")
OSA = _Metric("OSA", "osa")
DamerauLevenshtein = _Metric("DamerauLevenshtein", "damerau_levenshtein")
Hamming = _Metric("Hamming", "hamming")  # keyword pad=True: unequal lengths count their difference
Jaro = _Metric("Jaro", "jaro")
JaroWinkler = _Metric("JaroWinkler", "jaro_winkler")  # keyword prefix_weight=0.1
Prefix = _Metric("Prefix", "prefix")
Postfix = _Metric("Postfix", "postfix")

__all__ = [
    "Levenshtein",
    "Indel",
    "LCSseq",
    "OSA",
    "DamerauLevenshtein",
    "Hamming",
    "Jaro",
    "JaroWinkler",
    "Prefix",
    "Postfix",
]
