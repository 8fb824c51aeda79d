"""RapidFuzz's ``distance`` metrics, equal to RapidFuzz 3.14's.

Each metric is a namespace with ``distance``, ``similarity``, ``normalized_distance`` and
``normalized_similarity``, each ``f(s1, s2, *, processor=None, score_cutoff=None,
score_hint=None)``. Counted metrics return ints from ``distance``/``similarity`` and floats
from the normalized forms; Jaro and JaroWinkler return floats throughout. Cutoffs: a
distance above ``score_cutoff`` is ``score_cutoff + 1`` (1.0 when normalized), a similarity
below it is 0. Characters are code points.

Levenshtein and Indel also have ``editops`` and ``opcodes``, ``f(s1, s2, *, processor=None,
score_hint=None)``: the edits of one cheapest alignment, the same one RapidFuzz picks, as
``Editops`` / ``Opcodes`` (see ``vornkit._editops``).

    from vornkit.distance import Levenshtein
    Levenshtein.distance("kitten", "sitting", weights=(1, 1, 2))
"""

from collections.abc import Callable
from typing import Any

from vornkit import _native
from vornkit._editops import Editop, Editops, MatchingBlock, Opcode, Opcodes


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


class _AlignedMetric(_Metric):
    """A metric that also gives the edits of its alignment."""

    __slots__ = ("_editops", "_opcodes")

    def __init__(self, name: str, prefix: str) -> None:
        super().__init__(name, prefix)
        self._editops: Callable[..., tuple[list[tuple[str, int, int]], int, int]] = getattr(
            _native, f"{prefix}_editops"
        )
        self._opcodes: Callable[..., tuple[list[tuple[str, int, int, int, int]], int, int]] = getattr(
            _native, f"{prefix}_opcodes"
        )

    def editops(self, s1: str, s2: str, *, processor: Any = None, score_hint: int | None = None) -> Editops:
        """The single-character edits of one cheapest alignment turning s1 into s2.

        The same alignment RapidFuzz picks.

        Parameters
        ----------
        s1, s2 : str
            The texts.
        processor : vorn.Preprocessor or callable, optional
            Applied to each text first.
        score_hint : int, optional
            Accepted for RapidFuzz's signature; it does not change the result.

        Returns
        -------
        Editops
            The edits, in increasing positions.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> Levenshtein.editops("kitten", "sitting").as_list()
        [('replace', 0, 0), ('replace', 4, 4), ('insert', 6, 6)]
        """
        ops, src_len, dest_len = self._editops(s1, s2, processor=processor, score_hint=score_hint)
        return Editops._wrap(ops, src_len, dest_len)

    def opcodes(self, s1: str, s2: str, *, processor: Any = None, score_hint: int | None = None) -> Opcodes:
        """The blocks, equal ones included, of one cheapest alignment turning s1 into s2.

        Parameters
        ----------
        s1, s2 : str
            The texts.
        processor : vorn.Preprocessor or callable, optional
            Applied to each text first.
        score_hint : int, optional
            Accepted for RapidFuzz's signature; it does not change the result.

        Returns
        -------
        Opcodes
            Consecutive blocks covering both strings.

        Examples
        --------
        >>> from vornkit.distance import Indel
        >>> for block in Indel.opcodes("abc", "abd"):
        ...     print(block)
        Opcode(tag='equal', src_start=0, src_end=2, dest_start=0, dest_end=2)
        Opcode(tag='insert', src_start=2, src_end=2, dest_start=2, dest_end=3)
        Opcode(tag='delete', src_start=2, src_end=3, dest_start=3, dest_end=3)
        """
        blocks, src_len, dest_len = self._opcodes(s1, s2, processor=processor, score_hint=score_hint)
        return Opcodes._wrap(blocks, src_len, dest_len)


Levenshtein = _AlignedMetric("Levenshtein", "levenshtein")  # keyword weights=(insertion, deletion, substitution)
Indel = _AlignedMetric("Indel", "indel")
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
    "Editop",
    "Editops",
    "Opcode",
    "Opcodes",
    "MatchingBlock",
]
