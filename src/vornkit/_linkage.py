"""Field-by-field record linkage of two tables, as the ``vornkit link`` command runs it.

Each field is preprocessed once per distinct value and scored with one of
vorn's similarity functions; a pair's score is the weighted mean of its field
scores over the fields present in both records (an empty field says nothing,
for or against). Pairs at or above the threshold are matches; with
``one_to_one`` the matches are taken best first, each record used at most once.

Every pair of the two tables is scored on every field, a chunk of left rows
against all right rows at a time; a field with few distinct left values is
scored once per distinct value and gathered from that matrix. With blocking,
only the pairs that agree exactly on one column are scored, pair by pair.
"""

from __future__ import annotations

import math
import re
from collections.abc import Callable, Sequence
from dataclasses import dataclass

import numpy as np
import vorn

from vornkit import _scorers

# The similarities of the registry by scorer name: vorn's router names, RapidFuzz's
# fuzz ratios (read divided by 100, so every field scores in [0, 1]) and metrics.
SCORERS: dict[str, Callable[..., float]] = {
    algorithm.name: algorithm.scorer() for algorithm in _scorers.NAMED.values() if not algorithm.is_distance
}
AUTO = "auto"
CHUNK_PAIRS = 1 << 21  # pairs combined at a time: about 16 MB per float64 buffer
LARGE_BLOCK = 1 << 16  # pairs in a block worth scoring as a matrix
SHARED_SCORES = 1 << 25  # float64 scores kept for fields with few distinct values: 256 MB

# Codes, numbers and dates: no letters. Edits count there, not a shared prefix.
_NO_LETTERS = re.compile(r"[^\W\d_]")


def score_matrix(queries: list[str], choices: list[str], scorer: str, workers: int) -> np.ndarray:
    """float64 (len(queries), len(choices)) of vorn scores: the one call into vornkit's kernels."""
    import vornkit

    return _in_unit_range(vornkit.cdist(queries, choices, scorer=SCORERS[scorer], workers=workers), scorer)


def _in_unit_range(scores: np.ndarray, scorer: str) -> np.ndarray:
    """A fuzz ratio's scores divided by 100, in place; other scores as they are."""
    scale = _scorers.NAMED[scorer].scale
    if scale != 1.0:
        scores /= scale
    return scores


@dataclass(frozen=True)
class Field:
    name: str
    scorer: str
    weight: float


@dataclass
class Matches:
    """Matched pairs, by row numbers, with the combined and the per-field scores."""

    left: np.ndarray  # int64 row numbers in the left table
    right: np.ndarray
    score: np.ndarray  # float64 combined score
    field_scores: dict[str, np.ndarray]  # float64, NaN where the field is missing
    compared: int  # pairs scored


def summable(fields: Sequence[Field]) -> list[Field]:
    """The fields, with every weight scaled by one power of two when their sum would overflow.

    A weighted mean does not change when all weights are scaled, and scaling by a
    power of two is exact: scores stay bit for bit those of the unscaled weights."""
    total = 0.0
    for field in fields:
        total += field.weight
    if math.isfinite(total):
        return list(fields)
    exponent = math.frexp(max(field.weight for field in fields))[1] + len(fields).bit_length()
    return [Field(field.name, field.scorer, math.ldexp(field.weight, -exponent)) for field in fields]


def auto_scorer(left: Sequence[str], right: Sequence[str]) -> str:
    """Levenshtein for fields without letters (codes, numbers, dates), Jaro-Winkler otherwise."""
    has_letters = any(_NO_LETTERS.search(value) for values in (left, right) for value in values)
    return "jaro_winkler" if has_letters else "levenshtein"


def auto_weight(left: Sequence[str], right: Sequence[str]) -> float:
    """log2(1/u), at least 1: u is the chance that a random pair agrees exactly on the field.

    Agreement on a rare value (a date of birth) says far more than agreement on a
    common one (a state), as in Fellegi and Sunter's weights with a fixed m.
    """
    present_left = [value for value in left if value]
    present_right = [value for value in right if value]
    if not present_left or not present_right:
        return 1.0
    left_values, left_counts = np.unique(np.array(present_left, dtype=object), return_counts=True)
    right_values, right_counts = np.unique(np.array(present_right, dtype=object), return_counts=True)
    _, in_left, in_right = np.intersect1d(left_values, right_values, return_indices=True)
    agreeing = float(np.dot(left_counts[in_left].astype(np.float64), right_counts[in_right]))
    pairs = float(len(present_left)) * float(len(present_right))
    u = max(agreeing, 1.0) / pairs
    return max(math.log2(1.0 / u), 1.0)


def preprocess(values: Sequence[str | None], processor: vorn.Preprocessor | None) -> list[str]:
    """Each value preprocessed once; None becomes "" (missing)."""
    cache: dict[str, str] = {}
    out = []
    for value in values:
        if value is None:
            out.append("")
            continue
        done = cache.get(value)
        if done is None:
            done = cache[value] = processor.process(value) if processor is not None else value
        out.append(done)
    return out


class _FieldColumns:
    """One field's values on both sides, ready for the gather-combine loop."""

    def __init__(self, field: Field, left: list[str], right: list[str]) -> None:
        self.field = field
        self.left = np.array(left, dtype=object)
        self.right = np.array(right, dtype=object)
        self.left_present = self.left != ""
        self.right_present = self.right != ""

    def weighted_scores(self, left: np.ndarray, cols: np.ndarray, workers: int) -> np.ndarray:
        """weight x score of each left value against each right row; 0 where either is missing."""
        scores = score_matrix(left.tolist(), self.right[cols].tolist(), self.field.scorer, workers)
        scores[:, ~self.right_present[cols]] = 0.0
        scores[left == ""] = 0.0
        scores *= self.field.weight
        return scores


class _FieldPlan:
    """How one field's scores reach a chunk of left rows: gathered from a matrix over
    the group's distinct left values when they are few, else scored chunk by chunk."""

    def __init__(self, column: _FieldColumns, rows: np.ndarray, cols: np.ndarray, budget: int, workers: int):
        self.column, self.rows, self.cols, self.workers = column, rows, cols, workers
        distinct, inverse = np.unique(column.left[rows], return_inverse=True)
        self.shared = 2 * len(distinct) <= len(rows) and len(distinct) * len(cols) <= budget
        if self.shared:
            self.scores = column.weighted_scores(distinct, cols, workers)
            self.inverse = inverse.astype(np.intp)

    @property
    def size(self) -> int:
        return self.scores.size if self.shared else 0

    def add_to(self, out: np.ndarray, start: int, stop: int, scratch: np.ndarray, first: bool) -> None:
        if self.shared:
            np.take(self.scores, self.inverse[start:stop], axis=0, out=out if first else scratch)
            chunk = scratch
        else:
            chunk = self.column.weighted_scores(self.column.left[self.rows[start:stop]], self.cols, self.workers)
            if first:
                np.copyto(out, chunk)
        if not first:
            np.add(out, chunk, out=out)


def link(
    left: dict[str, list[str]],
    right: dict[str, list[str]],
    fields: Sequence[Field],
    threshold: float,
    *,
    block: tuple[list[str], list[str]] | None = None,
    one_to_one: bool = False,
    workers: int = -1,
    progress: Callable[[float], None] | None = None,
) -> Matches:
    """Links the preprocessed field values of two tables (see the module's docstring).

    ``progress`` is called with the fraction of the work done at each step."""
    columns = [_FieldColumns(field, left[field.name], right[field.name]) for field in fields]
    weight_sums = _WeightSums(columns)
    report = progress or (lambda fraction: None)
    if block is None:
        rows, cols = np.arange(len(columns[0].left)), np.arange(len(columns[0].right))
        i, j, score = _link_all(columns, weight_sums, rows, cols, threshold, workers, report)
        compared = len(rows) * len(cols)
    else:
        i, j, score, compared = _link_blocks(columns, weight_sums, block, threshold, workers, report)
    if one_to_one:
        keep = best_first_one_to_one(i, j, score)
        i, j, score = i[keep], j[keep], score[keep]
    order = np.lexsort((j, -score, i))
    i, j, score = i[order], j[order], score[order]
    field_scores = {}
    for column in columns:
        values = np.full(len(i), np.nan)
        present = column.left_present[i] & column.right_present[j]
        if present.any():
            values[present] = _pair_scores(column, i[present], j[present], workers)
        field_scores[column.field.name] = values
    return Matches(i.astype(np.int64), j.astype(np.int64), score, field_scores, compared)


def _pair_scores(column: _FieldColumns, i: np.ndarray, j: np.ndarray, workers: int) -> np.ndarray:
    import vornkit

    scores: np.ndarray = vornkit.cpdist(
        column.left[i], column.right[j], scorer=SCORERS[column.field.scorer], workers=workers
    )
    return _in_unit_range(scores, column.field.scorer)


def _link_blocks(
    columns: list[_FieldColumns],
    weight_sums: _WeightSums,
    block: tuple[list[str], list[str]],
    threshold: float,
    workers: int,
    progress: Callable[[float], None],
) -> tuple[np.ndarray, np.ndarray, np.ndarray, int]:
    """The pairs that agree on the (present) blocking value: large blocks as a whole,
    the pairs of small blocks gathered and scored pair by pair."""
    right_rows: dict[str, list[int]] = {}
    for row, value in enumerate(block[1]):
        if value:
            right_rows.setdefault(value, []).append(row)
    left_rows: dict[str, list[int]] = {}
    for row, value in enumerate(block[0]):
        if value in right_rows:
            left_rows.setdefault(value, []).append(row)
    compared = sum(len(rows) * len(right_rows[value]) for value, rows in left_rows.items())
    found = [(np.empty(0, np.intp), np.empty(0, np.intp), np.empty(0))]
    pairs_i, pairs_j = [np.empty(0, np.intp)], [np.empty(0, np.intp)]
    for value, rows in left_rows.items():
        left, right = np.array(rows, np.intp), np.array(right_rows[value], np.intp)
        if len(left) * len(right) >= LARGE_BLOCK:  # as without blocking, sharing distinct values
            share = len(left) * len(right) / compared
            part = _link_all(columns, weight_sums, left, right, threshold, workers, _scaled(progress, share))
            found.append(part)
        else:
            pairs_i.append(np.repeat(left, len(right)))
            pairs_j.append(np.tile(right, len(left)))
    i, j = np.concatenate(pairs_i), np.concatenate(pairs_j)
    for start in range(0, len(i), CHUNK_PAIRS):
        chunk_i, chunk_j = i[start : start + CHUNK_PAIRS], j[start : start + CHUNK_PAIRS]
        score = np.zeros(len(chunk_i))
        for column in columns:
            field = _pair_scores(column, chunk_i, chunk_j, workers)
            field[~(column.left_present[chunk_i] & column.right_present[chunk_j])] = 0.0
            field *= column.field.weight
            score += field
        with np.errstate(invalid="ignore", divide="ignore"):
            score /= weight_sums.pairs(chunk_i, chunk_j)
        keep = score >= threshold
        found.append((chunk_i[keep], chunk_j[keep], score[keep]))
        progress(len(chunk_i) / compared)
    out_i, out_j, out_s = (np.concatenate(parts) for parts in zip(*found))
    return out_i, out_j, out_s, compared


def _scaled(progress: Callable[[float], None], share: float) -> Callable[[float], None]:
    """A progress callback for a part worth ``share`` of the whole."""
    return lambda fraction: progress(fraction * share)


def _link_all(
    columns: list[_FieldColumns],
    weight_sums: _WeightSums,
    rows: np.ndarray,
    cols: np.ndarray,
    threshold: float,
    workers: int,
    progress: Callable[[float], None],
) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    # Fields with the fewest distinct values get a shared matrix first, within the memory
    # budget; the scores are still added in field order, so that a pair's score does not
    # depend on the rest of the run.
    shared: dict[int, _FieldPlan] = {}
    budget = SHARED_SCORES
    for k in sorted(range(len(columns)), key=lambda k: len(set(columns[k].left[rows].tolist()))):
        shared[k] = _FieldPlan(columns[k], rows, cols, budget, workers)
        budget -= shared[k].size
        if shared[k].shared:
            progress(1 / len(columns))
    plans = [shared[k] for k in range(len(columns))]
    step = max(1, CHUNK_PAIRS // max(1, len(cols)))
    total = np.empty((min(step, len(rows)), len(cols)))
    scratch = np.empty_like(total)
    out_i, out_j, out_s = [np.empty(0, np.intp)], [np.empty(0, np.intp)], [np.empty(0)]
    for start in range(0, len(rows), step):
        stop = min(start + step, len(rows))
        acc = total[: stop - start]
        for k, plan in enumerate(plans):
            plan.add_to(acc, start, stop, scratch[: stop - start], first=k == 0)
        with np.errstate(invalid="ignore", divide="ignore"):
            np.divide(acc, weight_sums.matrix(rows[start:stop], cols), out=acc)
        i, j = np.nonzero(acc >= threshold)  # NaN (no field present in both) never matches
        out_i.append(rows[start + i])
        out_j.append(cols[j])
        out_s.append(acc[i, j])
        progress((stop - start) / len(rows) * sum(not plan.shared for plan in plans) / len(columns))
    return np.concatenate(out_i), np.concatenate(out_j), np.concatenate(out_s)


class _WeightSums:
    """Per pair, the sum of the weights of the fields present on both sides, added in
    field order: looked up by the pair's presence bits in a table of every subset's sum."""

    MAX_FIELDS = 16  # a 65 536-entry table; more fields are added up pass by pass

    def __init__(self, columns: list[_FieldColumns]) -> None:
        self.weights = [column.field.weight for column in columns]
        self.left = [column.left_present for column in columns]
        self.right = [column.right_present for column in columns]
        self.by_bits = len(columns) <= self.MAX_FIELDS
        if self.by_bits:
            self.table = np.zeros(1 << len(columns))
            for k, weight in enumerate(self.weights):
                self.table[1 << k : 2 << k] = self.table[: 1 << k] + weight
            self.left_bits = np.zeros(len(self.left[0]), np.int32)
            self.right_bits = np.zeros(len(self.right[0]), np.int32)
            for k, (left, right) in enumerate(zip(self.left, self.right)):
                self.left_bits[left] |= 1 << k
                self.right_bits[right] |= 1 << k

    def matrix(self, rows: np.ndarray, cols: np.ndarray) -> np.ndarray:
        """(len(rows), len(cols)): every left row against every right row."""
        if self.by_bits:
            sums: np.ndarray = self.table[np.bitwise_and.outer(self.left_bits[rows], self.right_bits[cols])]
            return sums
        out = np.zeros((len(rows), len(cols)))
        for weight, left, right in zip(self.weights, self.left, self.right):
            out += np.multiply.outer(left[rows] * weight, right[cols])
        return out

    def pairs(self, i: np.ndarray, j: np.ndarray) -> np.ndarray:
        """(len(i),): left row i[k] against right row j[k]."""
        if self.by_bits:
            sums: np.ndarray = self.table[self.left_bits[i] & self.right_bits[j]]
            return sums
        out = np.zeros(len(i))
        for weight, left, right in zip(self.weights, self.left, self.right):
            out += (left[i] & right[j]) * weight
        return out


def best_first_one_to_one(i: np.ndarray, j: np.ndarray, score: np.ndarray) -> np.ndarray:
    """Indices of the pairs kept when taking pairs by descending score (ties: lower rows
    first), skipping any whose left or right row is already taken."""
    order = np.lexsort((j, i, -score))
    taken_left: set[int] = set()
    taken_right: set[int] = set()
    keep = []
    for k, a, b in zip(order.tolist(), i[order].tolist(), j[order].tolist()):
        if a not in taken_left and b not in taken_right:
            taken_left.add(a)
            taken_right.add(b)
            keep.append(k)
    return np.array(keep, dtype=np.intp)
