"""An exact index of texts by Levenshtein distance, and the joins it serves."""

from __future__ import annotations

import operator
import os
from typing import Any, TypeAlias

import numpy as np
import numpy.typing as npt

from vornkit import _native
from vornkit._collections import Processor, Texts, _prepared, _processor_of

PathLike: TypeAlias = str | os.PathLike[str]
Int64Array: TypeAlias = npt.NDArray[np.int64]
Float64Array: TypeAlias = npt.NDArray[np.float64]

# threshold_join takes the index from this many pairs on, where building
# it costs less than scoring every pair.
_JOIN_MIN_PAIRS = 1_000_000
_JOIN_MAX_DISTANCE = 4
_JOIN_MIN_SIMILARITY = 0.8


def _max_distance(value: Any) -> int:
    distance = operator.index(value)
    if distance < 0:
        raise ValueError("max_distance must not be negative")
    # No two texts of a process are 2**32 characters apart.
    return min(distance, 2**32)


def _similarity_cutoff(value: float) -> float:
    cutoff = float(value)
    if cutoff != cutoff:
        raise ValueError("score_cutoff must not be NaN")
    return cutoff


def _query_text(text: str | None) -> list[str | None]:
    if text is not None and not isinstance(text, str):
        raise TypeError(f"query must be str or None, not {type(text).__name__!r}")
    return [text]


class EditIndex:
    """Every choice within a Levenshtein distance of a query, found exactly
    without comparing the query with every choice.

    Parameters
    ----------
    choices : collection of str
        Any collection vornkit accepts (list, NumPy or pandas strings, Arrow
        arrays). Nulls are counted in ``len`` but never match. Indices in
        results are positions in ``choices``.
    processor : vorn.Preprocessor or callable, optional
        Applied once to every choice when the index is built and to every
        query before it is searched.
    workers : int, default 1
        Threads for applying ``processor`` and building, -1 for every core.

    Raises
    ------
    TypeError
        A choice that is neither a string nor null, named by its position.

    Notes
    -----
    Distances are ``vorn.levenshtein_distance``, counted in characters. The
    choices are kept sorted forwards and backwards as two flattened tries;
    a query walks both with one banded row of the edit-distance matrix per
    node, each walk allowing only half of the edits in its first half of
    the query (pigeonhole), and scores what it finds exactly. Distances
    above 8 scan every choice of a fitting length instead. The index holds
    the choices' UTF-8 plus about 20 bytes per choice.

    Examples
    --------
    >>> import vorn, vornkit
    >>> index = vornkit.EditIndex(["kitten", "sitting", "mitten", "Kitten", None],
    ...                           processor=vorn.Preprocessor())
    >>> index
    EditIndex(size=5)
    >>> index.query("KITEN", 1)
    (array([0, 3]), array([1, 1]))
    """

    def __init__(self, choices: Texts, *, processor: Processor | None = None, workers: int = 1) -> None:
        processor = self._processor = _processor_of(processor, choices)
        self._index: Any = _native.EditIndex(_prepared(choices, "choices", processor, workers))

    def __repr__(self) -> str:
        return f"EditIndex(size={len(self)})"

    def __len__(self) -> int:
        return len(self._index)

    @property
    def memory_bytes(self) -> int:
        """Bytes the index holds, the choices' text included."""
        return int(self._index.memory_bytes())

    def _queries(self, queries: Texts, workers: int) -> _native.Strings:
        return _prepared(queries, "queries", self._processor, workers)

    def query(self, text: str | None, max_distance: int) -> tuple[Int64Array, Int64Array]:
        """Every choice within ``max_distance`` edits of ``text``.

        Parameters
        ----------
        text : str or None
            The query; None matches nothing.
        max_distance : int
            The most Levenshtein edits (characters) a match may need.

        Returns
        -------
        indices, distances : numpy.ndarray of int64
            Sorted by distance, then index.

        Raises
        ------
        ValueError
            A negative ``max_distance``.

        Examples
        --------
        >>> import vornkit
        >>> index = vornkit.EditIndex(["kitten", "sitting", "mitten", None])
        >>> index.query("kiten", 1)
        (array([0]), array([1]))
        >>> index.query("mitt", 3)
        (array([2, 0]), array([2, 3]))
        """
        _, indices, distances = self.query_many(_query_text(text), max_distance)
        return indices, distances

    def query_many(
        self, queries: Texts, max_distance: int, *, workers: int = 1
    ) -> tuple[Int64Array, Int64Array, Int64Array]:
        """Every (query, choice) pair within ``max_distance`` edits.

        The interpreter lock is released while searching; Ctrl-C stops the search.

        Parameters
        ----------
        queries : collection of str
            Any collection vornkit accepts; nulls match nothing.
        max_distance : int
            The most Levenshtein edits (characters) a match may need.
        workers : int, default 1
            Threads to use; -1 for every core.

        Returns
        -------
        query_index, choice_index, distance : numpy.ndarray of int64
            Sorted by query, then distance, then choice.

        Examples
        --------
        >>> import vornkit
        >>> index = vornkit.EditIndex(["kitten", "sitting", "mitten", None])
        >>> index.query_many(["mitt", "sittin"], 2, workers=2)
        (array([0, 1, 1, 1]), array([2, 1, 0, 2]), array([2, 1, 2, 2]))
        """
        distance = _max_distance(max_distance)
        found = self._index.query_many(self._queries(queries, workers), distance, workers, False)
        return _distances(found)

    def query_similar(self, text: str | None, score_cutoff: float) -> tuple[Int64Array, Float64Array]:
        """Every choice whose ``vorn.levenshtein_similarity`` with ``text`` is at least ``score_cutoff``.

        Parameters
        ----------
        text : str or None
            The query; None matches nothing.
        score_cutoff : float
            The least similarity, in [0, 1].

        Returns
        -------
        indices : numpy.ndarray of int64
            The matching choices, by decreasing similarity, then index.
        similarities : numpy.ndarray of float64
            Their similarities, exactly ``vorn.levenshtein_similarity``'s.

        Examples
        --------
        >>> import vornkit
        >>> index = vornkit.EditIndex(["kitten", "sitting", "mitten", None])
        >>> index.query_similar("kitten", 0.8)
        (array([0, 2]), array([1.        , 0.83333333]))
        """
        _, indices, similarities = self.query_similar_many(_query_text(text), score_cutoff)
        return indices, similarities

    def query_similar_many(
        self, queries: Texts, score_cutoff: float, *, workers: int = 1
    ) -> tuple[Int64Array, Int64Array, Float64Array]:
        """Every (query, choice) pair whose ``vorn.levenshtein_similarity`` is at least ``score_cutoff``.

        Parameters
        ----------
        queries : collection of str
            Any collection vornkit accepts; nulls match nothing.
        score_cutoff : float
            The least similarity, in [0, 1].
        workers : int, default 1
            Threads to use; -1 for every core.

        Returns
        -------
        query_index, choice_index : numpy.ndarray of int64
            Sorted by query, then decreasing similarity, then choice.
        similarity : numpy.ndarray of float64
            Each pair's similarity.

        Examples
        --------
        >>> import vornkit
        >>> index = vornkit.EditIndex(["kitten", "sitting", "mitten", None])
        >>> index.query_similar_many(["kitten", "sitten"], 0.8)
        (array([0, 0, 1, 1]), array([0, 2, 0, 2]), array([1.        , 0.83333333, 0.83333333, 0.83333333]))
        """
        cutoff = _similarity_cutoff(score_cutoff)
        found = self._index.query_similar_many(self._queries(queries, workers), cutoff, workers)
        return _similarities(found)

    def _scan_many(
        self, queries: Texts, max_distance: int, *, workers: int = 1
    ) -> tuple[Int64Array, Int64Array, Int64Array]:
        """query_many by scoring every choice of a fitting length (the method
        beyond distance 8); for tests and benchmarks."""
        distance = _max_distance(max_distance)
        found = self._index.query_many(self._queries(queries, workers), distance, workers, True)
        return _distances(found)

    def save(self, path: PathLike) -> None:
        """Writes the index to a file, replaced atomically.

        The processor is not stored: pass it again to ``load()``.

        Parameters
        ----------
        path : str or os.PathLike
            The file to write; a new temporary file beside it is renamed into place.

        Examples
        --------
        >>> import vornkit
        >>> index = vornkit.EditIndex(["kitten", "sitting", "mitten", None])
        >>> index.save("names.index")
        >>> vornkit.EditIndex.load("names.index").query("kiten", 1)
        (array([0]), array([1]))
        """
        self._index.save(path)

    @classmethod
    def load(cls, path: PathLike, *, processor: Processor | None = None) -> EditIndex:
        """Reads a file written by ``save()`` into memory.

        Parameters
        ----------
        path : str or os.PathLike
            The file to read.
        processor : vorn.Preprocessor or callable, optional
            The processor the index was built with, applied to every query.

        Returns
        -------
        EditIndex
            The index as it was saved.

        Raises
        ------
        ValueError
            A truncated, corrupted or foreign file.

        Examples
        --------
        >>> import vornkit
        >>> index = vornkit.EditIndex(["kitten", "sitting", "mitten", None])
        >>> index.save("names.index")
        >>> vornkit.EditIndex.load("names.index")
        EditIndex(size=4)
        """
        index = cls.__new__(cls)
        index._processor = processor
        index._index = _native.EditIndex.load(path)
        return index


def _distances(found: tuple[bytearray, bytearray, bytearray]) -> tuple[Int64Array, Int64Array, Int64Array]:
    return tuple(np.frombuffer(values, dtype=np.int64) for values in found)  # type: ignore[return-value]


def _similarities(found: tuple[bytearray, bytearray, bytearray]) -> tuple[Int64Array, Int64Array, Float64Array]:
    query_index, choices, similarities = found
    return (
        np.frombuffer(query_index, dtype=np.int64),
        np.frombuffer(choices, dtype=np.int64),
        np.frombuffer(similarities, dtype=np.float64),
    )


def join_is_faster(name: str, score_cutoff: float | int, query_count: int, choice_count: int) -> bool:
    """Whether threshold_join with this Levenshtein scorer and cutoff is
    answered faster through an index over the choices than pair by pair."""
    if query_count * choice_count < _JOIN_MIN_PAIRS:
        return False
    if name == "levenshtein_distance":
        try:
            return 0 <= operator.index(score_cutoff) <= _JOIN_MAX_DISTANCE  # type: ignore[arg-type]
        except TypeError:
            return False  # the pairwise path reports it
    return (
        name == "levenshtein_similarity"
        and isinstance(score_cutoff, (int, float))
        and score_cutoff >= _JOIN_MIN_SIMILARITY
    )


def threshold_join(
    a: _native.Strings, b: _native.Strings | None, is_distance: bool, score_cutoff: float | int, workers: int
) -> tuple[Int64Array, Int64Array, npt.NDArray[Any]]:
    """threshold_join through an index over b (a itself when b is None: pairs
    i < j only), in the same order: by i, then j."""
    index: Any = _native.EditIndex(a if b is None else b)
    scores: npt.NDArray[Any]
    if is_distance:
        found = index.query_many(a, _max_distance(score_cutoff), workers, False)
        i, j, scores = _distances(found)
    else:
        found = index.query_similar_many(a, _similarity_cutoff(score_cutoff), workers)
        i, j, scores = _similarities(found)
    if b is None:
        keep = i < j
        i, j, scores = i[keep], j[keep], scores[keep]
    order = np.lexsort((j, i))
    return i[order], j[order], scores[order]
