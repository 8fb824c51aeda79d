"""Which pairs the linkage model compares, and how its links become clusters.

Small inputs compare every pair. Larger ones compare the pairs that blocking
rules name: the user's, or rules chosen from the data (exact keys on the most
selective column combinations and a MinHash key on name-like columns, sized to
a budget of pairs per record); see ``_blocking``.
"""

from __future__ import annotations

from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass

import numpy as np

from vornkit._blocking import BlockingRule, _Columns, choose_rules, rule_estimates, rule_pairs
from vornkit._clusters import cluster_pairs
from vornkit._records import Columns

ALL_PAIRS = 2_000_000  # inputs with at most this many pairs compare every pair
BUDGET_PER_RECORD = 20.0  # candidate pairs per record the automatic rules aim at
MAX_CLUSTER_SIZE = 50  # a component above this size is split at higher probabilities


@dataclass
class Blocking:
    """The rules used and each one's estimated pair count (empty when every pair was compared)."""

    rules: list[BlockingRule]
    estimated_pairs: list[int]
    estimated_recall: float | None = None

    def describe(self) -> list[str]:
        if not self.rules:
            return ["every pair compared"]
        lines = [f"{count:,} pairs: {rule}" for rule, count in zip(self.rules, self.estimated_pairs)]
        if self.estimated_recall is not None and self.estimated_recall == self.estimated_recall:
            lines.append(f"estimated recall of the rules: {self.estimated_recall:.4f}")
        return lines


def as_rules(blocking: Sequence[BlockingRule | str | Sequence[str]]) -> list[BlockingRule]:
    """User rules: BlockingRule objects, or column names (one column, or a tuple of them) for exact keys."""
    rules = []
    for rule in blocking:
        if isinstance(rule, BlockingRule):
            rules.append(rule)
        else:
            rules.append(BlockingRule((rule,) if isinstance(rule, str) else tuple(rule)))
    return rules


def rule_columns(blocking: Sequence[BlockingRule | str | Sequence[str]] | None) -> list[str]:
    return list(dict.fromkeys(column for rule in as_rules(blocking or ()) for column in rule.columns))


def candidates(
    left: Columns,
    right: Columns | None,
    fields: Sequence[str],
    left_rows: int,
    right_rows: int,
    blocking: Sequence[BlockingRule | str | Sequence[str]] | None,
    workers: int,
    report: Callable[[str], None] | None = None,
    raw_codes: Mapping[str, tuple[np.ndarray, list[str]]] | None = None,
) -> tuple[np.ndarray, np.ndarray, Blocking]:
    """(i, j, blocking): each candidate pair once; for one table only i < j. ``raw_codes``: columns
    already coded (over left then right, -1 missing, codes in order of first appearance), with
    their distinct values."""
    dedup = right is None
    pairs = left_rows * (left_rows - 1) // 2 if dedup else left_rows * right_rows
    if blocking is None and pairs <= ALL_PAIRS:
        i, j = np.divmod(np.arange(left_rows * right_rows, dtype=np.int64), right_rows)
        if dedup:
            keep = i < j
            i, j = i[keep], j[keep]
        return i, j, Blocking([], [])
    # The columns are coded once: the rules' choice or estimates, then their pairs.
    coded = _Columns(left, right)
    for column, (codes, distinct) in (raw_codes or {}).items():
        coded.know_raw(column, codes, distinct)
    if blocking is None:
        plan = choose_rules(coded, list(fields), BUDGET_PER_RECORD, workers=workers)
        used = Blocking(list(plan), list(plan.estimated_pairs), plan.estimated_recall)
    else:
        rules = as_rules(blocking)
        used = Blocking(rules, rule_estimates(coded, rules, workers))
    if report is not None:
        for line in used.describe():
            report(f"blocking: {line}")
    i, j = rule_pairs(coded, used.rules, workers)
    return i, j, used


def clusters(
    records: int,
    i: np.ndarray,
    j: np.ndarray,
    probability: np.ndarray,
    threshold: float,
    max_cluster_size: int | None,
) -> np.ndarray:
    """Clusters of the links at or above the threshold, long chains split (see ``cluster_pairs``)."""
    return cluster_pairs(records, i, j, probability, threshold, max_cluster_size=max_cluster_size)
