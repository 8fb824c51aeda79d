"""Pairwise quality of record linkage against known answers.

A pair is (left id, right id). For deduplication pairs are unordered: both
the predicted and the true pairs are put as (smaller id, larger id) before
they are compared, and a record paired with itself is dropped.
"""

from __future__ import annotations

from collections.abc import Iterable
from dataclasses import dataclass

import numpy as np


@dataclass(frozen=True)
class Quality:
    precision: float
    recall: float
    f1: float
    predicted: int
    true: int
    correct: int
    threshold: float | None = None  # the probability the pairs were cut at, if any

    def __str__(self) -> str:
        at = "" if self.threshold is None else f" at {self.threshold:.4g}"
        return f"P {self.precision:.4f} R {self.recall:.4f} F1 {self.f1:.4f}{at}"


def _scores(correct: int, predicted: int, true: int, threshold: float | None = None) -> Quality:
    precision = correct / predicted if predicted else 1.0
    recall = correct / true if true else 1.0
    f1 = 2 * correct / (predicted + true) if predicted + true else 1.0
    return Quality(precision, recall, f1, predicted, true, correct, threshold)


def unordered(pairs: Iterable[tuple[str, str]]) -> set[tuple[str, str]]:
    return {(a, b) if a < b else (b, a) for a, b in pairs if a != b}


def pair_quality(predicted: Iterable[tuple[str, str]], true: set[tuple[str, str]], *, dedup: bool = False) -> Quality:
    """Precision, recall and F1 of the distinct predicted pairs."""
    chosen = unordered(predicted) if dedup else set(predicted)
    truth = unordered(true) if dedup else true
    return _scores(len(chosen & truth), len(chosen), len(truth))


def best_threshold(
    left_ids: Iterable[str],
    right_ids: Iterable[str],
    probability: Iterable[float],
    true: set[tuple[str, str]],
    *,
    dedup: bool = False,
) -> Quality:
    """The best F1 over every threshold t, keeping the pairs with probability
    >= t. Pairs that tie on probability are kept or dropped together; a pair
    listed twice counts once, at its highest probability; NaN never passes."""
    truth = unordered(true) if dedup else true
    best: dict[tuple[str, str], float] = {}
    for a, b, p in zip(left_ids, right_ids, probability):
        if dedup:
            if a == b:
                continue
            a, b = (a, b) if a < b else (b, a)
        p = float(p)
        if p == p and p > best.get((a, b), -np.inf):
            best[(a, b)] = p
    if not best:
        return _scores(0, 0, len(truth))
    values = np.fromiter(best.values(), float, len(best))
    hits = np.fromiter((pair in truth for pair in best), bool, len(best))
    order = np.argsort(-values, kind="stable")
    values, hits = values[order], hits[order]
    kept = np.arange(1, len(values) + 1)
    correct = np.cumsum(hits)
    # Only where the next pair has a lower probability can the cut fall.
    last_of_tie = np.append(values[1:] < values[:-1], True)
    f1 = np.where(last_of_tie, 2 * correct / (kept + len(truth)), -1.0)
    at = int(np.argmax(f1))
    return _scores(int(correct[at]), int(kept[at]), len(truth), float(values[at]))


def quality_at(
    left_ids: Iterable[str],
    right_ids: Iterable[str],
    probability: Iterable[float],
    true: set[tuple[str, str]],
    threshold: float,
    *,
    dedup: bool = False,
) -> Quality:
    """Quality of the pairs whose probability is >= threshold."""
    kept = [(a, b) for a, b, p in zip(left_ids, right_ids, probability) if float(p) >= threshold]
    quality = pair_quality(kept, true, dedup=dedup)
    return _scores(quality.correct, quality.predicted, quality.true, threshold)
