"""The forms of vornkit.distance's metrics that the native side does not
score itself, scored from a form it does score.

A metric counted in edits scores its ``distance``; its ``similarity`` is the
largest distance the lengths allow minus the distance, its
``normalized_distance`` the distance over that largest distance (0.0 for two
empty texts), each computed as the metric's own function computes it. Jaro's
and JaroWinkler's ``distance`` and ``normalized_distance`` are 1.0 minus
their ``similarity``. Searches over these forms rank full rows of scores, a
few queries at a time: they are exact, not pruned.
"""

from __future__ import annotations

from collections.abc import Callable, Iterator
from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from vornkit import _native, _scorers

_COUNTED = ("Levenshtein", "Indel", "LCSseq", "OSA", "DamerauLevenshtein", "Hamming", "Prefix", "Postfix")
# Rows of scores held at once by a search or join: 8 MB of float64.
_CELLS_PER_BLOCK = 1 << 20


class Form(NamedTuple):
    metric: str
    form: str
    base: Callable[..., object]  # the form the native side scores
    is_distance: bool  # lower is better
    integer: bool


def _forms() -> dict[int, Form]:
    """The forms the command line names (_scorers.OTHER_FORMS), by function."""
    from vornkit import distance

    found: dict[int, Form] = {}
    for name, algorithm in _scorers.OTHER_FORMS.items():
        metric, _, form = name.partition(".")
        cls = getattr(distance, metric)
        counted = metric in _COUNTED
        base = cls.distance if counted else cls.similarity
        found[id(getattr(cls, form))] = Form(
            metric, form, base, algorithm.is_distance, counted and form == "similarity"
        )
    return found


_FORMS: dict[int, Form] = {}


def form_of(scorer: object) -> Form | None:
    """The derived form a scorer is, or None for a scorer scored natively."""
    # The forms are vornkit._native's functions, reachable without importing
    # vornkit.distance (the command line's scorer names reach them so).
    if getattr(scorer, "__module__", None) != "vornkit._native":
        return None
    from vornkit import distance

    if not _FORMS:
        _FORMS.update(_forms())
    form = _FORMS.get(id(scorer))
    if form is None or getattr(getattr(distance, form.metric), form.form) is not scorer:
        return None
    return form


def _lengths(strings: _native.Strings) -> npt.NDArray[np.int64]:
    """Each text's character count (-1 for a null): Indel's distance to
    the empty text counts them."""
    counts = np.empty((len(strings), 1), dtype=np.int64)
    if len(strings):
        from vornkit import distance

        _native.cdist(strings, _native.Strings([""]), distance.Indel.distance, None, None, counts, 1)
    return counts[:, 0]


def _maximum(form: Form, scorer_kwargs: dict[str, Any] | None, len_a: Any, len_b: Any) -> Any:
    """The largest distance texts of these lengths allow, as the metric counts it."""
    if form.metric == "Indel":
        return len_a + len_b
    if form.metric == "Levenshtein":
        insertion, deletion, substitution = (scorer_kwargs or {}).get("weights", (1, 1, 1))
        most = len_a * deletion + len_b * insertion
        by_substitution = np.where(
            len_a >= len_b,
            len_b * substitution + (len_a - len_b) * deletion,
            len_a * substitution + (len_b - len_a) * insertion,
        )
        return np.minimum(most, by_substitution)
    return np.maximum(len_a, len_b)


class Scoring:
    """Scores of a derived form between the rows of a and b."""

    def __init__(
        self,
        form: Form,
        scorer_kwargs: dict[str, Any] | None,
        score_cutoff: float | None,
        a: _native.Strings,
        b: _native.Strings,
        workers: int,
        out_dtype: np.dtype[Any],
        processor: object = None,
    ) -> None:
        # An integer form's cutoff is truncated, as its function truncates it.
        if form.integer and score_cutoff is not None:
            score_cutoff = int(score_cutoff)
        self.form, self.kwargs, self.cutoff = form, scorer_kwargs, score_cutoff
        self.a, self.b, self.workers, self.out_dtype = a, b, workers, out_dtype
        self.processor = processor  # what a's texts were processed with
        self.counted = form.metric in _COUNTED
        if self.counted:
            self.len_a, self.len_b = _lengths(a), _lengths(b)

    def _base(self, native: Callable[..., None], a: Any, b: Any, shape: tuple[int, ...]) -> npt.NDArray[Any]:
        out = np.empty(shape, dtype=np.int64 if self.counted else np.float64)
        native(a, b, self.form.base, self.kwargs, None, out, self.workers)
        return out

    def _derive(self, base: npt.NDArray[Any], len_a: Any, len_b: Any) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
        """(scores, whether each pair has no null) from the base form's scores."""
        if not self.counted:
            present = ~np.isnan(base)
            scores = 1.0 - base
            if self.cutoff is not None:
                scores = np.where(scores <= self.cutoff, scores, 1.0)
            return scores, present
        present = base >= 0
        maximum = _maximum(self.form, self.kwargs, len_a, len_b)
        if self.form.form == "similarity":
            scores = np.where(present, maximum - base, -1)
            if self.cutoff is not None:
                scores = np.where(present & (scores < self.cutoff), 0, scores)
            return scores, present
        with np.errstate(divide="ignore", invalid="ignore"):
            scores = np.where(maximum == 0, 0.0, base / np.where(maximum == 0, 1, maximum).astype(np.float64))
        if self.cutoff is not None:
            scores = np.where(scores <= self.cutoff, scores, 1.0)
        return np.where(present, scores, np.nan), present

    def matrix(self, rows: slice) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
        """Scores of a's rows in the slice against all of b, and which pairs have no null."""
        a = self.a
        if rows != slice(0, len(self.a)):
            # The rows read again from their original texts (a processed
            # text's item is its original), processed as a's were.
            a = _native.Strings([self.a[i] for i in range(rows.start, rows.stop)])
            if self.processor is not None:
                a = _native.apply_processor(a, self.processor, self.workers)
        base = self._base(_native.cdist, a, self.b, (len(a), len(self.b)))
        if not self.counted:
            return self._derive(base, None, None)
        return self._derive(base, self.len_a[rows, None], self.len_b[None, :])

    def full(self) -> npt.NDArray[Any]:
        """Scores of every row of a against every row of b."""
        base = self._base(_native.cdist, self.a, self.b, (len(self.a), len(self.b)))
        if not self.counted:
            return self._derive(base, None, None)[0]
        return self._derive(base, self.len_a[:, None], self.len_b[None, :])[0]

    def pairs(self) -> npt.NDArray[Any]:
        base = self._base(_native.cpdist, self.a, self.b, (len(self.a),))
        if not self.counted:
            return self._derive(base, None, None)[0]
        return self._derive(base, self.len_a, self.len_b)[0]

    def qualifies(self, scores: npt.NDArray[Any], present: npt.NDArray[Any]) -> npt.NDArray[Any]:
        if self.cutoff is None:
            return present
        if self.form.is_distance:
            return present & (scores <= self.cutoff)
        return present & (scores >= self.cutoff)

    def row_blocks(self) -> Iterator[slice]:
        """Slices of a's rows, each scored against all of b at once."""
        step = max(1, _CELLS_PER_BLOCK // max(1, len(self.b)))
        for start in range(0, len(self.a), step):
            yield slice(start, min(len(self.a), start + step))

    def best(self, k: int) -> tuple[npt.NDArray[np.int64], npt.NDArray[Any]]:
        """The best k of every row of a: higher similarity or lower distance,
        then lower index; indices -1 past what qualifies."""
        indices = np.full((len(self.a), k), -1, dtype=np.int64)
        scores = np.full((len(self.a), k), -1 if self.form.integer else np.nan, dtype=self.dtype)
        if k == 0:
            return indices, scores
        for rows in self.row_blocks():
            block, present = self.matrix(rows)
            keep = self.qualifies(block, present)
            for offset, i in enumerate(range(rows.start, rows.stop)):
                columns = np.flatnonzero(keep[offset])
                values = block[offset, columns]
                rank = values if self.form.is_distance else -values
                if len(rank) > k:
                    # Only what ranks at or above the k-th value (ties kept) is sorted.
                    kth = np.partition(rank, k - 1)[k - 1]
                    near = rank <= kth
                    columns, values, rank = columns[near], values[near], rank[near]
                order = np.lexsort((columns, rank))[:k]
                indices[i, : len(order)] = columns[order]
                scores[i, : len(order)] = values[order]
        return indices, scores

    @property
    def dtype(self) -> np.dtype[Any]:
        return np.dtype(np.int64 if self.form.integer else np.float64)

    def join(self, self_join: bool) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64], npt.NDArray[Any]]:
        """Every qualifying pair, ordered by i then j (i < j in a self-join)."""
        found_i, found_j, found = [], [], []
        for rows in self.row_blocks():
            block, present = self.matrix(rows)
            keep = self.qualifies(block, present)
            if self_join:
                keep &= np.arange(len(self.b))[None, :] > np.arange(rows.start, rows.stop)[:, None]
            i, j = np.nonzero(keep)
            found_i.append(i + rows.start)
            found_j.append(j)
            found.append(block[i, j])
        if not found:
            return np.empty(0, np.int64), np.empty(0, np.int64), np.empty(0, self.dtype)
        return (
            np.concatenate(found_i).astype(np.int64),
            np.concatenate(found_j).astype(np.int64),
            np.concatenate(found).astype(self.dtype),
        )
