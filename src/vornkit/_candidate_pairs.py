"""Which pairs the linkage model compares, and how its links become clusters.

Stand-in until the blocking module lands: the union of exact keys on each field
whose pairs stay within a budget per record.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np

from vornkit._comparisons import FieldValues
from vornkit._records import Columns

BUDGET_PER_RECORD = 200
ALL_PAIRS = 4_000_000  # tables this small compare every pair


def _pairs_sharing(left: np.ndarray, right: np.ndarray, dedup: bool) -> tuple[np.ndarray, np.ndarray]:
    order_left = np.argsort(left, kind="stable")
    order_right = np.argsort(right, kind="stable")
    sorted_left, sorted_right = left[order_left], right[order_right]
    keys = np.unique(sorted_left[sorted_left >= 0])
    first_i, last_i = np.searchsorted(sorted_left, keys), np.searchsorted(sorted_left, keys, side="right")
    first_j, last_j = np.searchsorted(sorted_right, keys), np.searchsorted(sorted_right, keys, side="right")
    out_i, out_j = [np.empty(0, np.int64)], [np.empty(0, np.int64)]
    for a, b, c, d in zip(first_i.tolist(), last_i.tolist(), first_j.tolist(), last_j.tolist()):
        if c == d:
            continue
        rows, cols = order_left[a:b], order_right[c:d]
        out_i.append(np.repeat(rows, len(cols)))
        out_j.append(np.tile(cols, len(rows)))
    i, j = np.concatenate(out_i), np.concatenate(out_j)
    if dedup:
        keep = i < j
        i, j = i[keep], j[keep]
    return i, j


def _key_size(left: np.ndarray, right: np.ndarray) -> int:
    size = max(int(left.max(initial=-1)), int(right.max(initial=-1))) + 1
    a = np.bincount(left[left >= 0], minlength=size).astype(np.float64)
    b = np.bincount(right[right >= 0], minlength=size).astype(np.float64)
    return int(np.dot(a, b))


def candidates(
    left: Columns,
    right: Columns | None,
    columns: list[FieldValues],
    blocking: Sequence[Any] | None,
    workers: int,
) -> tuple[np.ndarray, np.ndarray]:
    """(i, j) int64: each candidate pair once; for one table only i < j."""
    left_rows = len(columns[0].left_codes)
    right_rows = len(columns[0].right_codes)
    dedup = right is None
    if left_rows * right_rows <= ALL_PAIRS:
        i, j = np.divmod(np.arange(left_rows * right_rows, dtype=np.int64), right_rows)
        if dedup:
            keep = i < j
            i, j = i[keep], j[keep]
        return i, j
    budget = BUDGET_PER_RECORD * max(left_rows, right_rows)
    keys = []
    for column in columns:
        if _key_size(column.left_codes, column.right_codes) <= budget:
            part_i, part_j = _pairs_sharing(column.left_codes, column.right_codes, dedup)
            keys.append(part_i * right_rows + part_j)
    if not keys:
        return np.empty(0, np.int64), np.empty(0, np.int64)
    union = np.unique(np.concatenate(keys))
    return union // right_rows, union % right_rows


def clusters(
    records: int,
    i: np.ndarray,
    j: np.ndarray,
    probability: np.ndarray,
    threshold: float,
    max_cluster_size: int | None,
) -> np.ndarray:
    """Connected components of the links at or above the threshold."""
    import vornkit

    keep = probability >= threshold
    return vornkit.connected_components(i[keep], j[keep], records)
