"""Probabilistic record linkage (the Fellegi-Sunter model), fitted without labels.

For each field and agreement level (see ``_comparisons``) the model holds m, the
share of true matches at that level, and u, the share of non-matches. A pair's
match weight is the log2 of the prior odds of a match plus, per field, the log2
of m/u at the pair's level; its match probability is 2**w / (1 + 2**w).

Fitting needs no labels: u comes from random pairs (the exact level from the
value frequencies, which is exact), m and the prior by expectation-maximisation
over the candidate pairs with u held fixed. With labels (known matching pairs),
m is counted on them and only the prior is estimated. With term-frequency
adjustment, agreeing exactly on a value takes that value's frequency as its u.

Fields whose agreements go together among non-matches (members of a household
share surname, address and phone) are found from the data and merged into one
combined comparison (``_dependence``), so that the shared evidence counts once.
"""

from __future__ import annotations

import copy
import json
import math
import os
from collections.abc import Callable, Mapping, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import asdict, dataclass
from pathlib import Path
from typing import Any, cast

import numpy as np
import vorn

from vornkit import _candidate_pairs, _comparisons, _native
from vornkit._comparisons import MISSING, Field, FieldValues
from vornkit._records import CodedValues, Columns, collector_paused, read_coded_columns, read_ids

FORMAT = "vornkit-linkage-model"
FORMAT_VERSION = 2  # 2: groups compared by which members agree; version 1 files (by how many) are read too
DEFAULT_THRESHOLD = 0.5  # a pair is a match when it is more likely a match than not
U_SAMPLE = 300_000  # random pairs that estimate u
EM_ITERATIONS = 200
EM_TOLERANCE = 1e-8
LEVEL_THREADS = 2  # fields whose levels are computed at a time
PARALLEL_FIELDS_PAIRS = 100_000  # pairs from which fields' levels are computed two at a time
PSEUDO_COUNT = 0.5  # added to every level's count: no level is impossible
MAX_WEIGHT = 40.0  # |log2 m/u| at most: no single field decides alone beyond a trillion to one
PREDICT_CHUNK = 1 << 20  # candidate pairs weighed at a time
SHARED_AGREEMENT = 0.5  # related records agreeing at least half as often as matches share the field
RELATED_LIFT = 4.0  # exact agreement above chance, on every field, that makes related records matches
DEPENDENT_EXCESS = 2.0  # co-agreement beyond what copies of one entity give, that makes fields one group


def _rule_text(field: Field) -> str:
    return f"{field.name} ({field.kind})"


@dataclass
class _Tables:
    """The compared fields of one or two tables, preprocessed and encoded."""

    columns: list[FieldValues]
    values: tuple[Columns, Columns | None]  # preprocessed text, for blocking
    left_rows: int
    right_rows: int
    dedup: bool


def _read(
    fields: Sequence[Field],
    left: object,
    right: object | None,
    processor: vorn.Preprocessor | None,
    complete: bool,
    blocking: Sequence[Any] | None = None,
) -> tuple[list[Field], _Tables]:
    names = [field.name for field in fields]
    names += [name for name in _candidate_pairs.rule_columns(blocking) if name not in names]
    # Each column is preprocessed through its distinct values, whose codes the fields' encoding reuses.
    left_coded, left_rows = read_coded_columns(left, names, processor, "left table" if right is not None else "table")
    left_values = {name: coded.values for name, coded in left_coded.items()}
    right_coded: dict[str, CodedValues] | None = None
    right_values: Columns | None = None
    right_rows = left_rows
    if right is not None:
        right_coded, right_rows = read_coded_columns(right, names, processor, "right table")
        right_values = {name: coded.values for name, coded in right_coded.items()}
    done = []
    columns = []
    for field in fields:
        other = right_coded[field.name] if right_coded is not None else None
        if complete:
            field = field.completed(left_values[field.name], other.values if other is not None else [])
        done.append(field)
        columns.append(_comparisons.encode_coded(field, left_coded[field.name], other))
    return done, _Tables(columns, (left_values, right_values), left_rows, right_rows, right is None)


def _random_pairs(tables: _Tables, size: int, seed: int) -> tuple[np.ndarray, np.ndarray]:
    rng = np.random.default_rng(seed)
    total = tables.left_rows * tables.right_rows
    if total == 0:
        return np.empty(0, np.int64), np.empty(0, np.int64)
    i = rng.integers(0, tables.left_rows, size=min(size, total))
    j = rng.integers(0, tables.right_rows, size=min(size, total))
    if tables.dedup:
        keep = i != j
        i, j = i[keep], j[keep]
    return i, j


def exact_u(column: FieldValues, dedup: bool) -> float:
    """Chance that two different random records with the value present agree exactly on it."""
    left = np.bincount(column.left_codes[column.left_codes >= 0], minlength=len(column.values)).astype(np.float64)
    if dedup:
        present = left.sum()
        pairs = present * (present - 1)
        return float((np.dot(left, left) - present) / pairs) if pairs > 0 else 0.0
    right = np.bincount(column.right_codes[column.right_codes >= 0], minlength=len(column.values)).astype(np.float64)
    pairs = left.sum() * right.sum()
    return float(np.dot(left, right) / pairs) if pairs > 0 else 0.0


def estimate_u(tables: _Tables, model: LinkageModel, random_levels: np.ndarray) -> list[np.ndarray]:
    """u per compared field and level, from the levels of random pairs; a single field's exact
    level from its value counts (exact, however rare the agreement)."""
    levels = model._compared_levels(random_levels)
    sampled = len(random_levels)
    out = []
    for k, (field, column) in enumerate(zip(model.compared, model._compared_columns(tables))):
        count = field.level_count
        level = levels[:, k]
        if column is None:
            shares = np.bincount(level[level >= 0], minlength=count).astype(np.float64) + PSEUDO_COUNT
            out.append(shares / shares.sum())
            continue
        below = np.bincount(level[(level >= 0) & (level < count - 1)], minlength=count - 1).astype(np.float64)
        below += PSEUDO_COUNT
        exact = min(max(exact_u(column, tables.dedup), PSEUDO_COUNT / max(sampled, 1)), 0.5)
        out.append(np.append(below / below.sum() * (1.0 - exact), exact))
    return out


def level_matrix(tables: _Tables, i: np.ndarray, j: np.ndarray, workers: int) -> np.ndarray:
    """int8 (pairs, fields): each pair's level on each field."""
    out = np.empty((len(i), len(tables.columns)), dtype=np.int8)

    def fill(k: int) -> None:
        out[:, k] = _comparisons.levels(tables.columns[k], i, j, workers)

    # A field's NumPy steps run in one thread while its scoring uses every worker: a second field
    # at a time fills the gaps. Not more: each field in flight holds its pairs' arrays.
    threads = min(len(tables.columns), LEVEL_THREADS, os.cpu_count() or 1 if workers < 0 else workers)
    if threads <= 1 or len(i) < PARALLEL_FIELDS_PAIRS:
        for k in range(len(tables.columns)):
            fill(k)
        return out
    pool = ThreadPoolExecutor(threads, thread_name_prefix="vornkit-levels")
    try:
        for done in [pool.submit(fill, k) for k in range(len(tables.columns))]:
            done.result()
    finally:
        pool.shutdown(wait=True, cancel_futures=True)  # Ctrl-C: fields not begun are dropped
    return out


def _patterns(levels: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Distinct rows of the level matrix and how often each occurs."""
    if len(levels) == 0:
        return levels, np.empty(0, np.float64)
    shifted = levels.astype(np.int64) + 1  # 0 for missing
    base = int(shifted.max()) + 1
    if base ** levels.shape[1] < 1 << 62:  # each row as one integer: a 1-d sort, not a row sort
        keys = shifted @ (base ** np.arange(levels.shape[1], dtype=np.int64))
        groups = _comparisons.group_keys(keys)
        return levels[groups.first], groups.counts.astype(np.float64)
    patterns, counts = np.unique(levels, axis=0, return_counts=True)
    return patterns, counts.astype(np.float64)


def _log_likelihood(patterns: np.ndarray, tables: list[np.ndarray]) -> np.ndarray:
    """Sum over fields of log(table[level]); a missing level adds 0."""
    out = np.zeros(len(patterns))
    for k, table in enumerate(tables):
        out += np.append(np.log(table), 0.0)[patterns[:, k]]  # level -1 reads the appended 0
    return out


@dataclass
class Mixture:
    """The fitted classes: matches (m), optionally related non-matches (r), and the other
    non-matches (u); ``shares`` are their prior shares of the pairs, in that order."""

    m: list[np.ndarray]
    related: list[np.ndarray] | None
    u: list[np.ndarray]
    shares: np.ndarray
    iterations: int


def _level_shares(patterns: np.ndarray, weighted: np.ndarray, sizes: list[int], pseudo: float) -> list[np.ndarray]:
    out = []
    for k, size in enumerate(sizes):
        present = patterns[:, k] >= 0
        level_counts = np.bincount(patterns[present, k], weights=weighted[present], minlength=size) + pseudo
        out.append(level_counts / level_counts.sum())
    return out


def expectation_maximisation(
    patterns: np.ndarray,
    counts: np.ndarray,
    m: list[np.ndarray],
    u: list[np.ndarray],
    prior: float,
    *,
    related: list[np.ndarray] | None = None,
    related_share: float = 0.0,
    fix_m: bool = False,
    fix_u: bool = True,
    start: np.ndarray | None = None,
    population: float | None = None,
) -> Mixture:
    """EM over weighted agreement patterns: m, u and the classes' shares, with m or u held
    fixed when asked; ``related`` adds a third class, of non-matches that share some fields.
    ``start``: each pattern's initial posterior per class (classes x patterns), used for a
    first maximisation step in place of the tables given.

    ``population``: the patterns are the candidate pairs of that many pairs in all, the others
    non-matches (u fixed); the match share is then of the whole population, not of the candidates
    (``population_shares``)."""
    classes = [m] + ([related] if related is not None else []) + [u]
    free = [not fix_m] + ([True] if related is not None else []) + [not fix_u]
    shares = np.array([prior] + ([related_share] if related is not None else []))
    shares = np.append(shares, 1.0 - shares.sum())
    total = counts.sum()
    if population is not None and (related is not None or not fix_u or population < total):
        raise ValueError("population: two classes, u fixed, and at least as many pairs as the patterns count")
    sizes = [len(table) for table in m]
    iterations = 0
    while iterations < EM_ITERATIONS:
        iterations += 1
        if start is not None and iterations == 1:
            posterior = start
        else:
            logs = np.array([math.log(share) + _log_likelihood(patterns, t) for share, t in zip(shares, classes)])
            posterior = np.exp(logs - logs.max(axis=0))
            posterior /= posterior.sum(axis=0)
        weighted = counts * posterior
        if population is not None:
            new_shares = population_shares(weighted[0], population)
            change = float(abs(new_shares[0] - shares[0]) / shares[0])
        else:
            new_shares = np.maximum(weighted.sum(axis=1) / total, 1e-9)
            new_shares /= new_shares.sum()
            change = float(np.max(np.abs(new_shares - shares)))
        for c, is_free in enumerate(free):
            if is_free:
                # Over a population the match share is tiny: the pseudo-count is then one of pairs.
                pseudo = PSEUDO_COUNT * (1.0 if population is not None else new_shares[c])
                table = _level_shares(patterns, weighted[c], sizes, pseudo)
                change = max([change] + [float(np.max(np.abs(a - b))) for a, b in zip(table, classes[c])])
                classes[c] = table
        shares = new_shares
        if change < EM_TOLERANCE:
            break
    return Mixture(classes[0], classes[1] if related is not None else None, classes[-1], shares, iterations)


def population_shares(match_weights: np.ndarray, population: float) -> np.ndarray:
    """(match, non-match) shares of a population of pairs whose candidates carry the posterior
    match weights given (pattern counts times posteriors); pairs not compared are non-matches."""
    share = min(max(float(match_weights.sum()) / population, 1e-12), 0.5)
    return np.array([share, 1.0 - share])


def pair_count(left_rows: int, right_rows: int, dedup: bool) -> int:
    """Pairs of records: each unordered pair once for one table."""
    return left_rows * (left_rows - 1) // 2 if dedup else left_rows * right_rows


def co_agreement(columns: Sequence[FieldValues], dedup: bool, workers: int = 1) -> tuple[np.ndarray, np.ndarray]:
    """(excess, chance), each (fields, fields): pairs of records agreeing exactly on both fields
    beyond what independent fields would give, and what they would give, among the records with
    both present, scaled to the whole population.

    Copies of one entity agree on every field together: they add about the same excess to each
    pair of fields. Fields that also agree together among different entities (an address, and
    the surname of a household) add much more."""
    count = len(columns)
    out, chance = np.zeros((count, count)), np.zeros((count, count))
    population = pair_count(len(columns[0].left_codes), len(columns[0].right_codes), dedup) if count else 0
    # Per pair of fields, counted natively (whole numbers, exact in any order): the records with
    # both present on each side, and the pairs of them agreeing on a, on b, on both.
    counts = np.zeros((count * (count - 1) // 2, 5), dtype=np.uint64)
    _native.co_agreement_counts(
        [np.ascontiguousarray(column.left_codes, dtype=np.int64) for column in columns],
        None if dedup else [np.ascontiguousarray(column.right_codes, dtype=np.int64) for column in columns],
        [len(column.values) for column in columns],
        counts,
        workers,
    )
    pairs = iter(counts.tolist())
    for a in range(count):
        for b in range(a + 1, count):
            left_records, right_records, *agreeing = next(pairs)
            present = pair_count(left_records, right_records, dedup)
            if present == 0:
                continue
            agree_a, agree_b, agree_both = (float(pairs_agreeing) for pairs_agreeing in agreeing)
            independent = agree_a * agree_b / present
            out[a, b] = out[b, a] = (agree_both - independent) * population / present
            chance[a, b] = chance[b, a] = independent * population / present
    return out, chance


def dependent_groups(excess: np.ndarray, chance: np.ndarray, names: Sequence[str]) -> list[tuple[str, ...]]:
    """The groups of fields that agree together far more than copies of one entity explain.

    Copies of one entity agreeing on fields a and b independently give an excess of about
    D * r_a * r_b (D copies, r the share agreeing on a field). A field's least excess with another
    is then D * r_a * r_least, so least_a * least_b / (the smallest least) estimates D * r_a * r_b.
    Two fields depend on each other when their excess is DEPENDENT_EXCESS times that, and clear
    of the noise of chance agreement (four standard deviations of a count). Groups (two fields or
    more) gather fields more than half of whose pairs depend, provided at least one field stays outside."""
    count = len(names)
    if count < 3:
        return []
    noise = 4.0 * np.sqrt(chance)
    # An excess within the noise (common names in big towns) says nothing, and is no least.
    measured = np.where(excess > noise, excess, np.inf)
    np.fill_diagonal(measured, np.inf)
    least = measured.min(axis=1)
    if not np.isfinite(least).any():
        return []
    expected = np.outer(least, least) / least[np.isfinite(least)].min()  # inf for a field never measured
    dependent = excess > DEPENDENT_EXCESS * expected + noise
    np.fill_diagonal(dependent, False)
    # Most dependent first, two sets merge when more than half of the pairs between them depend:
    # an e-mail address holding a first name and a surname does not join a name to an address.
    ratio = excess / expected
    pairs = sorted(zip(*np.nonzero(np.triu(dependent))), key=lambda ab: -ratio[ab])
    sets = [{k} for k in range(count)]
    merged = True
    while merged:
        merged = False
        for a, b in pairs:
            first = next(k for k, members in enumerate(sets) if a in members)
            second = next(k for k, members in enumerate(sets) if b in members)
            linked = sum(bool(dependent[x, y]) for x in sets[first] for y in sets[second])
            if first != second and 2 * linked > len(sets[first]) * len(sets[second]):
                sets[first] = sets[first] | sets[second]
                del sets[second]
                merged = True
                break
    groups = [tuple(names[k] for k in sorted(members)) for members in sets if len(members) >= 2]
    return groups if sum(map(len, groups)) < count else []


def _agreement_start(patterns: np.ndarray, fields: Sequence[Field]) -> np.ndarray:
    """Initial posteriors (match, related, other) from each pattern's share of agreeing fields:
    nearly all agree (at the top two levels) -> match; a good part -> related; else other."""
    top = np.array([field.level_count - 2 for field in fields])
    present = patterns >= 0
    agree = (patterns >= top) & present
    share = agree.sum(axis=1) / np.maximum(present.sum(axis=1), 1)
    start = np.zeros((3, len(patterns)))
    start[0] = share >= 0.8
    start[1] = (share >= 0.4) & (share < 0.8)
    start[2] = share < 0.4
    return start


def _initial_related(field: Field) -> np.ndarray:
    count = field.level_count
    related = np.full(count, 0.1 / max(count - 2, 1))
    related[0], related[-1] = 0.6, 0.3
    normalised: np.ndarray = related / related.sum()
    return normalised


def _initial_m(field: Field) -> np.ndarray:
    count = field.level_count
    m = np.full(count, min(0.05, 0.5 / max(count - 1, 1)))  # many levels (a group): half the mass below exact
    m[-1] = 1.0 - m[0] * (count - 1)
    return m


class LinkageModel:
    """A Fellegi-Sunter model over a few fields: fit it, predict with it, explain it, save it.

    Parameters
    ----------
    fields : sequence of Field or str
        The compared fields, as names or ``Field`` descriptions; what is not
        given (kind, scorer, levels, term frequency) is decided from the data
        when fitting.
    preprocess : bool, default True
        Compare the values after ``vorn.Preprocessor()`` (NFC, whitespace,
        lowercase).
    related : bool or None, default None
        True fits three classes over the candidate pairs (matches, related
        records such as a household, other pairs) and finds fields that move
        together from the related class; False fits matches against all pairs
        of records (u and the prior of all pairs), the fields that move
        together found from the value counts. None: False for one table,
        True for two.

    Raises
    ------
    ValueError
        No field, or a field given twice.

    Examples
    --------
    >>> import itertools, vornkit
    >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
    ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
    >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
    ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
    >>> right = {column: values[::2] for column, values in left.items()}    # every second person
    >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
    >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
    >>> model.fitted
    True
    >>> result = model.predict(left, right)
    >>> len(result), bool((result.left == 2 * result.right).all())   # right row k is left row 2k
    (24, True)
    """

    def __init__(self, fields: Sequence[Field | str], *, preprocess: bool = True, related: bool | None = None) -> None:
        described = [Field(field) if isinstance(field, str) else field for field in fields]
        if not described:
            raise ValueError("a linkage model needs at least one field")
        names = [field.name for field in described]
        repeated = sorted({name for name in names if names.count(name) > 1})
        if repeated:
            raise ValueError(f"field {repeated[0]!r} is given twice")
        self.fields: list[Field] = described
        self.preprocess = preprocess
        self.m: list[np.ndarray] | None = None
        self.u: list[np.ndarray] | None = None
        self.prior: float | None = None
        self.related: list[np.ndarray] | None = None  # the class of related non-matches, if any
        self.related_prior = 0.0
        self.related_class = related
        self._three_classes = bool(related)
        self.related_matches = False  # whether the related class turned out to be matches too
        self.groups: list[tuple[str, ...]] = []  # fields compared together
        self.count_groups = False  # groups compared by how many members agree (models of format 1)
        self.chance_exact: list[float] | None = None  # chance agreement from random pairs, for term frequencies
        self.iterations = 0
        # The tables' sizes (left rows, right rows, one table) when the prior is a share of all their
        # pairs; None when it is a share of the candidate pairs (three classes).
        self.population: tuple[int, int, bool] | None = None

    # ------------------------------------------------------------ fitting

    @property
    def fitted(self) -> bool:
        """Whether the model has been fitted (or loaded) and can predict."""
        return self.m is not None

    def _processor(self) -> vorn.Preprocessor | None:
        return vorn.Preprocessor() if self.preprocess else None

    def fit(
        self,
        left: object,
        right: object | None = None,
        *,
        labels: Sequence[tuple[int, int]] | None = None,
        blocking: Sequence[Any] | None = None,
        workers: int = -1,
        seed: int = 0,
    ) -> LinkageModel:
        """Fits the model on one table (deduplication) or two (linkage).

        Without labels, m and u are estimated by expectation maximisation on the
        candidate pairs.

        Parameters
        ----------
        left, right : dict of column name to list of str or None, or a DataFrame
            The tables (pandas, Polars, Arrow or a dict of columns); ``right=None``
            deduplicates ``left``.
        labels : sequence of (int, int), optional
            Known matching pairs as (left row, right row) numbers; with them m is
            counted on those pairs instead of estimated.
        blocking : sequence of BlockingRule or str, optional
            Rules naming the pairs to compare (column names for exact keys); by
            default every pair of small inputs, and rules chosen from the data
            (``auto_blocking_rules``) for larger ones.
        workers : int, default -1
            Threads to use; -1 for every core.
        seed : int, default 0
            Seed of the random pairs that estimate u.

        Returns
        -------
        LinkageModel
            The model itself, fitted.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"])
        >>> model.fit(left, right) is model, model.fitted
        (True, True)
        """
        self.fields, tables = _read(self.fields, left, right, self._processor(), complete=True, blocking=blocking)
        i, j, _ = _candidates(tables, blocking, workers)
        self._fit(tables, level_matrix(tables, i, j, workers), labels, workers, seed)
        return self

    def _fit(
        self,
        tables: _Tables,
        levels: np.ndarray,
        labels: Sequence[tuple[int, int]] | None,
        workers: int,
        seed: int,
    ) -> None:
        self.groups = []
        self._three_classes = not tables.dedup if self.related_class is None else self.related_class
        self.population = None if self._three_classes else (tables.left_rows, tables.right_rows, tables.dedup)
        # Three classes: the related class tells a household from a match; otherwise which fields of
        # a group agree does (a moved person keeps a surname, a household shares an address).
        self.count_groups = self._three_classes
        random_levels = level_matrix(tables, *_random_pairs(tables, U_SAMPLE, seed), workers)
        if not self._three_classes:
            # Fields that agree together beyond what copies of one entity explain (an address, a
            # household's surname and phone) are found from the value counts of the whole table
            # and compared as one, so that the shared evidence counts once.
            excess, chance = co_agreement(tables.columns, tables.dedup, workers)
            self.groups = dependent_groups(excess, chance, [column.field.name for column in tables.columns])
            self._fit_classes(tables, levels, random_levels, labels, workers)
            return
        self._fit_classes(tables, levels, random_levels, labels, workers)
        group = self._dependent_group()
        if group:
            # Fields that related records share (an address, a surname) move together: one
            # comparison counts how many agree, so that moving house is one piece of evidence.
            self.groups = [group]
            self._fit_classes(tables, levels, random_levels, labels, workers)

    def _dependent_group(self) -> tuple[str, ...]:
        """The fields that related records share: on them (at their two highest levels) related
        records agree far above chance and about as often as matches do. A group needs two
        such fields or more, and at least one field left outside it."""
        if self.related is None or self.related_matches or self.chance_exact is None or self.m is None:
            return ()
        shared = []
        for field, m, related, chance in zip(self.compared, self.m, self.related, self.chance_exact):
            if related[-1] >= RELATED_LIFT * chance and related[-2:].sum() >= SHARED_AGREEMENT * m[-2:].sum():
                shared.append(field.name)
        return tuple(shared) if 2 <= len(shared) < len(self.fields) else ()

    def _fit_classes(
        self,
        tables: _Tables,
        base_levels: np.ndarray,
        random_levels: np.ndarray,
        labels: Sequence[tuple[int, int]] | None,
        workers: int,
    ) -> None:
        compared = self.compared
        self.u = estimate_u(tables, self, random_levels)
        levels = self._compared_levels(base_levels)
        patterns, counts = _patterns(levels)
        expected_matches = min(tables.left_rows, tables.right_rows)
        population = pair_count(tables.left_rows, tables.right_rows, tables.dedup)
        # Without a related class the prior is of all pairs (u is of all pairs too); with one, the
        # classes share the candidate pairs.
        pairs = len(levels) if self._three_classes else population
        prior = min(max(expected_matches / max(pairs, 1), 1e-6 if self._three_classes else 1e-12), 0.5)
        if labels is not None:
            known = np.asarray(list(labels), dtype=np.int64).reshape(-1, 2)
            if len(known) == 0:
                raise ValueError("labels: no pairs given")
            if known.min() < 0 or known[:, 0].max() >= tables.left_rows or known[:, 1].max() >= tables.right_rows:
                raise ValueError("labels: a row number is outside the table")
            labelled = self._compared_levels(level_matrix(tables, known[:, 0], known[:, 1], workers))
            m = []
            for k, field in enumerate(compared):
                present = labelled[:, k] >= 0
                level_counts = np.bincount(labelled[present, k], minlength=field.level_count) + PSEUDO_COUNT
                m.append(level_counts / level_counts.sum())
            start, fix_m = m, True
        else:
            start, fix_m = [_initial_m(field) for field in compared], False
        self.chance_exact = [float(table[-1]) for table in self.u]
        if len(patterns) == 0:
            self.m, self.related, self.prior, self.related_prior, self.iterations = start, None, prior, 0.0, 0
            return
        related = [_initial_related(field) for field in compared] if self._three_classes else None
        fit = expectation_maximisation(
            patterns,
            counts,
            start,
            self.u,
            prior,
            related=related,
            related_share=min(prior, 0.25),
            fix_m=fix_m,
            fix_u=not self._three_classes,
            start=_agreement_start(patterns, compared) if self._three_classes else None,
            population=None if self._three_classes else float(max(population, counts.sum())),
        )
        self.m, self.u, self.related, self.iterations = fit.m, fit.u, fit.related, fit.iterations
        self.prior, self.related_prior = float(fit.shares[0]), float(fit.shares[1]) if related else 0.0
        self.related_matches = False
        if self.related is not None:
            # Related records agree on some fields no more often than chance (siblings' first names,
            # birth dates); a class agreeing far above chance on every field is matches too.
            lifts = [related[-1] / exact for related, exact in zip(self.related, self.chance_exact)]
            self.related_matches = bool(min(lifts) >= RELATED_LIFT)

    # ------------------------------------------------------------ compared fields and groups

    @property
    def compared(self) -> list[Field]:
        """The comparisons the model weighs: each field on its own, or its group in its place."""
        grouped = {name: group for group in self.groups for name in group}
        out: list[Field] = []
        for field in self.fields:
            group = grouped.get(field.name)
            if group is None:
                out.append(field)
            elif field.name == group[0]:
                by = _comparisons.GROUP_COUNT if self.count_groups else None
                out.append(Field("+".join(group), kind=_comparisons.GROUP, scorer=by, members=group))
        return out

    def _compared_levels(self, base_levels: np.ndarray) -> np.ndarray:
        if not self.groups:
            return base_levels
        position = {field.name: k for k, field in enumerate(self.fields)}
        columns = []
        for field in self.compared:
            if field.kind == _comparisons.GROUP:
                members = [position[name] for name in field.members]
                member_fields = [self.fields[k] for k in members]
                columns.append(_comparisons.group_levels(base_levels[:, members], member_fields, field.scorer or ""))
            else:
                columns.append(base_levels[:, position[field.name]])
        return np.stack(columns, axis=1) if columns else base_levels[:, :0]

    def _compared_columns(self, tables: _Tables) -> list[FieldValues | None]:
        by_name = {column.field.name: column for column in tables.columns}
        return [None if field.kind == _comparisons.GROUP else by_name[field.name] for field in self.compared]

    # ------------------------------------------------------------ weights

    def _require_fitted(self) -> tuple[list[np.ndarray], list[np.ndarray], float]:
        if self.m is None or self.u is None or self.prior is None:
            raise ValueError("the model is not fitted: call fit() first, or load a saved model")
        return self.m, self.u, self.prior

    def weight_tables(self) -> list[np.ndarray]:
        """The match weights log2(m/u) of every compared field, level by level.

        Returns
        -------
        list of numpy.ndarray
            One array per compared field: the weight of levels 0 to exact,
            bounded, then 0.0 for a missing value (level -1).

        Raises
        ------
        ValueError
            The model is not fitted.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> [len(weights) for weights in model.weight_tables()] == [f.level_count + 1 for f in model.compared]
        True
        """
        m, u, _ = self._require_fitted()
        return [np.append(np.clip(np.log2(a / b), -MAX_WEIGHT, MAX_WEIGHT), 0.0) for a, b in zip(m, u)]

    def for_rows(self, left_rows: int, right_rows: int, dedup: bool) -> LinkageModel:
        """This model for tables of other sizes.

        A one-table model's prior is a share of all pairs of records: on a table ten times
        larger, the same share would give each record ten times the matches. The model for
        other sizes keeps each record's expected matches, over the pairs of the new tables.
        ``predict``, ``link_records`` and ``vornkit.spark.link`` apply it themselves.

        Parameters
        ----------
        left_rows, right_rows : int
            The tables' rows (for one table, its rows twice).
        dedup : bool
            One table (each unordered pair once) rather than two.

        Returns
        -------
        LinkageModel
            A copy with the prior moved; the model itself when it was fitted on tables of these
            sizes, or when its prior is a share of the candidate pairs (two tables, three
            classes), which carries over as it is.

        Examples
        --------
        >>> import vornkit
        >>> table = {"name": ["anna", "anne", "bob", "rob", "carl", "karl"] * 20,
        ...          "zip": [str(1000 + k // 2) for k in range(120)]}
        >>> model = vornkit.LinkageModel(["name", "zip"]).fit(table)
        >>> model.population
        (120, 120, True)
        >>> model.for_rows(120, 120, True) is model
        True
        >>> bigger = model.for_rows(1200, 1200, True)
        >>> round(bigger.prior / model.prior * 10, 2)   # ten times the records: a tenth of the share
        0.99
        """
        if self.population is None or self.prior is None or self.population == (left_rows, right_rows, dedup):
            return self
        fitted_left, fitted_right, fitted_dedup = self.population
        per_record = (
            self.prior * pair_count(fitted_left, fitted_right, fitted_dedup) / max(min(fitted_left, fitted_right), 1)
        )
        pairs = max(pair_count(left_rows, right_rows, dedup), 1)
        moved = copy.copy(self)
        moved.prior = min(max(per_record * min(left_rows, right_rows) / pairs, 1e-12), 0.5)
        moved.population = (left_rows, right_rows, dedup)
        return moved

    @property
    def prior_weight(self) -> float:
        """log2 of the prior odds of a match against an unrelated pair."""
        _, _, prior = self._require_fitted()
        return math.log2(prior) - math.log2(1.0 - prior - self.related_prior)

    def _weights(self, tables: _Tables, levels: np.ndarray, i: np.ndarray, rates: list[np.ndarray]) -> np.ndarray:
        """float64 (pairs, fields): log2(rate/u) of each pair's level on each field, with u at the
        exact level the value's frequency when the field is term-frequency adjusted."""
        _, u, _ = self._require_fitted()
        chance = self.chance_exact or [float(table[-1]) for table in u]
        out = np.empty(levels.shape, dtype=np.float64)
        for k, (rate, column) in enumerate(zip(rates, self._compared_columns(tables))):
            out[:, k] = np.append(np.clip(np.log2(rate / u[k]), -MAX_WEIGHT, MAX_WEIGHT), 0.0)[levels[:, k]]
            if column is not None and column.field.term_frequency:
                field = column.field
                # The exact level's u scaled by how much rarer (or commoner) this value is than
                # chance agreement on the field: frequency / chance.
                exact = np.flatnonzero(levels[:, k] == field.level_count - 1)
                frequency = np.maximum(column.frequency[column.left_codes[i[exact]]], 1e-12)
                tf_weight = np.log2(rate[-1] / u[k][-1]) + np.log2(chance[k] / frequency)
                out[exact, k] = np.clip(tf_weight, -MAX_WEIGHT, MAX_WEIGHT)
        return out

    def _pair_weights(self, tables: _Tables, levels: np.ndarray, i: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
        """(field weights (pairs, fields), match weights): the match weight is the prior weight plus
        the fields' weights, less the related class's share of the evidence when there is one."""
        m, _, prior = self._require_fitted()
        weights = self._weights(tables, levels, i, m)
        total = self.prior_weight + weights.sum(axis=1)
        if self.related is not None:
            related = self._weights(tables, levels, i, self.related).sum(axis=1)
            odds = math.log2(self.related_prior) - math.log2(1.0 - prior - self.related_prior)
            # log2 odds of related against other non-matches, per pair
            related_odds = odds + related
            if self.related_matches:
                total = np.logaddexp2(total, related_odds)
            else:
                total -= np.logaddexp2(0.0, related_odds)
        return weights, total

    # ------------------------------------------------------------ prediction

    def predict(
        self,
        left: object,
        right: object | None = None,
        *,
        id: str | tuple[str, str] | None = None,
        threshold: float = DEFAULT_THRESHOLD,
        blocking: Sequence[Any] | None = None,
        workers: int = -1,
    ) -> LinkageResult:
        """The candidate pairs whose match probability is at least ``threshold``.

        Parameters
        ----------
        left, right : dict of column name to list of str or None, or a DataFrame
            The tables (pandas, Polars, Arrow or a dict of columns); ``right=None``
            deduplicates ``left``.
        id : str or (str, str), optional
            The id column (one name, or a (left, right) pair); by default row numbers.
        threshold : float, default 0.5
            The least match probability of a returned pair.
        blocking : sequence of BlockingRule or str, optional
            Rules naming the pairs to compare (column names for exact keys); by
            default every pair of small inputs, and rules chosen from the data
            (``auto_blocking_rules``) for larger ones.
        workers : int, default -1
            Threads to use; -1 for every core.

        Returns
        -------
        LinkageResult
            The pairs, best first.

        Raises
        ------
        ValueError
            The model is not fitted, or a table lacks one of its fields.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> len(model.predict(left, right)), len(model.predict(left, right, threshold=1.0))
        (24, 0)
        """
        self._require_fitted()
        _, tables = _read(self.fields, left, right, self._processor(), complete=False, blocking=blocking)
        i, j, used = _candidates(tables, blocking, workers)
        return self._predict(tables, left, right, id, i, j, level_matrix(tables, i, j, workers), threshold, used)

    def _predict(
        self,
        tables: _Tables,
        left: object,
        right: object | None,
        id: str | tuple[str, str] | None,
        i: np.ndarray,
        j: np.ndarray,
        levels: np.ndarray,
        threshold: float,
        blocking: _candidate_pairs.Blocking,
    ) -> LinkageResult:
        if not 0.0 <= threshold <= 1.0:
            raise ValueError(f"threshold must be a probability between 0 and 1, not {threshold!r}")
        moved = self.for_rows(tables.left_rows, tables.right_rows, tables.dedup)
        if moved is not self:
            return moved._predict(tables, left, right, id, i, j, levels, threshold, blocking)
        levels = self._compared_levels(levels)
        compared = self.compared
        kept_i, kept_j, kept_levels, kept_weights, kept_total = [], [], [], [], []
        for start in range(0, len(i), PREDICT_CHUNK):
            part = slice(start, start + PREDICT_CHUNK)
            weights, total = self._pair_weights(tables, levels[part], i[part])
            keep = np.flatnonzero(probability(total) >= threshold)
            kept_i.append(i[part][keep])
            kept_j.append(j[part][keep])
            kept_levels.append(levels[part][keep])
            kept_weights.append(weights[keep])
            kept_total.append(total[keep])
        width = len(compared)
        pairs_i = np.concatenate([np.empty(0, np.int64), *kept_i])
        pairs_j = np.concatenate([np.empty(0, np.int64), *kept_j])
        weight = np.concatenate([np.empty(0), *kept_total])
        level = np.concatenate([np.empty((0, width), np.int8), *kept_levels])
        field_weight = np.concatenate([np.empty((0, width)), *kept_weights])
        order = np.lexsort((pairs_j, pairs_i, -weight))
        left_ids, right_ids = _ids(left, right, id, tables)
        return LinkageResult(
            model=self,
            left=pairs_i[order],
            right=pairs_j[order],
            left_id=left_ids[pairs_i[order]],
            right_id=right_ids[pairs_j[order]],
            match_weight=weight[order],
            match_probability=probability(weight[order]),
            levels={f.name: level[order, k] for k, f in enumerate(compared)},
            weights={f.name: field_weight[order, k] for k, f in enumerate(compared)},
            records=tables.left_rows,
            dedup=tables.dedup,
            candidates=len(i),
            blocking=blocking,
            threshold=threshold,
        )

    # ------------------------------------------------------------ the model as a table, a chart, a file

    def table(self) -> dict[str, list[Any]]:
        """The fitted model, one row per compared field and level.

        Returns
        -------
        dict of str to list
            Columns ``field``, ``level``, ``name``, ``m``, ``u`` and ``weight``
            (the match weight log2(m/u)).

        Raises
        ------
        ValueError
            The model is not fitted.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> table = model.table()
        >>> list(table)
        ['field', 'level', 'name', 'm', 'u', 'weight']
        >>> [name for field, name in zip(table["field"], table["name"]) if field == "surname"]
        ['exact', 'jaro_winkler >= 0.92', 'jaro_winkler >= 0.8', 'else']
        """
        m, u, _ = self._require_fitted()
        rows: dict[str, list[Any]] = {"field": [], "level": [], "name": [], "m": [], "u": [], "weight": []}
        for field, m_levels, u_levels, weights in zip(self.compared, m, u, self.weight_tables()):
            for level, name in reversed(list(enumerate(field.level_names()))):
                for key, value in zip(
                    rows, (field.name, level, name, float(m_levels[level]), float(u_levels[level]), weights[level])
                ):
                    rows[key].append(value if not isinstance(value, np.floating) else float(value))
        return rows

    def chart(self, path: str | Path) -> Path:
        """A PNG chart of the fitted model: each level's match weight, with m and u.

        Needs matplotlib.

        Parameters
        ----------
        path : str or pathlib.Path
            The PNG file to write.

        Returns
        -------
        pathlib.Path
            The file written.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> model.chart("model.png").name
        'model.png'
        """
        from vornkit._linkage_charts import model_chart

        return model_chart(self, Path(path))

    def to_dict(self) -> dict[str, Any]:
        """The fitted model as plain data, the content of the file ``save`` writes.

        Returns
        -------
        dict
            JSON-ready: format, version, priors, and each field's description, m and u.

        Raises
        ------
        ValueError
            The model is not fitted.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> data = model.to_dict()
        >>> data["format"] == vornkit.LinkageModel.from_dict(data).to_dict()["format"]
        True
        """
        m, u, prior = self._require_fitted()
        fields = []
        for field in self.fields:
            description = {key: value for key, value in asdict(field).items() if value is not None and value != ()}
            if field.levels is not None:
                description["levels"] = list(field.levels)
            fields.append(description)
        comparisons = []
        for k, field in enumerate(self.compared):
            comparison: dict[str, Any] = {"name": field.name, "level_names": field.level_names()}
            if field.kind == _comparisons.GROUP:
                comparison["members"] = list(field.members)
                comparison["agreement"] = field.scorer
            comparison["m"] = m[k].tolist()
            comparison["u"] = u[k].tolist()
            if self.related is not None:
                comparison["related"] = self.related[k].tolist()
            if self.chance_exact is not None:
                comparison["chance_exact"] = self.chance_exact[k]
            comparisons.append(comparison)
        return {
            "format": FORMAT,
            "version": FORMAT_VERSION,
            "prior": prior,
            "related_prior": self.related_prior,
            "related_matches": self.related_matches,
            **(
                {}
                if self.population is None
                else {"population": dict(zip(("left_rows", "right_rows", "dedup"), self.population))}
            ),
            "preprocess": self.preprocess,
            "fields": fields,
            "comparisons": comparisons,
        }

    def save(self, path: str | Path) -> None:
        """Writes the fitted model as readable JSON, replacing the file only when complete.

        Parameters
        ----------
        path : str or pathlib.Path
            The file to write.

        Raises
        ------
        ValueError
            The model is not fitted.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> model.save("model.json")
        >>> len(vornkit.LinkageModel.load("model.json").predict(left, right))
        24
        """
        from vornkit._tables import _replaced_atomically

        text = json.dumps(self.to_dict(), indent=2) + "\n"
        with _replaced_atomically(str(path), "w") as file:
            file.write(text)

    @classmethod
    def from_dict(cls, data: Mapping[str, Any], source: str = "model") -> LinkageModel:
        """A fitted model from the data ``to_dict`` gives.

        Parameters
        ----------
        data : mapping
            The model's data.
        source : str, default "model"
            What the data was read from, named in errors.

        Returns
        -------
        LinkageModel
            The fitted model.

        Raises
        ------
        ValueError
            Data of another format or version, or damaged.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> copy = vornkit.LinkageModel.from_dict(model.to_dict())
        >>> copy.fitted, [field.name for field in copy.fields]
        (True, ['given_name', 'surname', 'dob'])
        """

        def bad(reason: str) -> ValueError:
            return ValueError(f"{source}: not a vornkit linkage model ({reason})")

        if not isinstance(data, Mapping) or data.get("format") != FORMAT:
            raise bad(f'no "format": "{FORMAT}"')
        if data.get("version") not in (1, FORMAT_VERSION):
            raise bad(f"format version {data.get('version')!r}; this vornkit reads versions 1 to {FORMAT_VERSION}")
        try:
            fields = []
            for entry in data["fields"]:
                field = Field(
                    name=str(entry["name"]),
                    kind=str(entry["kind"]),
                    scorer=entry.get("scorer"),
                    levels=tuple(entry["levels"]) if entry.get("levels") is not None else None,
                    term_frequency=bool(entry["term_frequency"]),
                    date_layout=entry.get("date_layout"),
                )
                if field.kind not in _comparisons.KINDS:
                    raise bad(f"field {field.name!r} has no kind")
                fields.append(field)
            model = cls(fields, preprocess=bool(data.get("preprocess", True)))
            known = {field.name for field in fields}
            model.groups = [tuple(map(str, entry["members"])) for entry in data["comparisons"] if "members" in entry]
            # Format 1 compared every group by count; format 2 names each group's way.
            # (a group too large to compare by which members agree is counted in either way).
            model.count_groups = data["version"] == 1 or any(
                entry.get("agreement") == _comparisons.GROUP_COUNT
                and len(entry["members"]) <= _comparisons.MAX_SET_GROUP
                for entry in data["comparisons"]
                if "members" in entry
            )
            for group in model.groups:
                if not set(group) <= known or len(group) < 2:
                    raise bad(f"group {'+'.join(group)!r} names fields the model does not have")
            compared = model.compared
            if len(compared) != len(data["comparisons"]):
                raise bad(f"{len(data['comparisons'])} comparisons for {len(compared)} fields and groups")
            prior, related_prior = float(data["prior"]), float(data.get("related_prior", 0.0))
            if not (0.0 < prior < 1.0 and 0.0 <= related_prior and prior + related_prior < 1.0):
                raise bad(f"prior {prior!r} and related_prior {related_prior!r} are not shares of the pairs")
            m, u, related, chances = [], [], [], []
            for field, entry in zip(compared, data["comparisons"]):
                if entry["name"] != field.name:
                    raise bad(f"comparison {entry['name']!r} where {field.name!r} was expected")
                if field.kind == _comparisons.GROUP and entry.get("agreement", field.scorer) != field.scorer:
                    raise bad(f"group {field.name!r} compared by {entry['agreement']!r}, not {field.scorer!r}")
                tables = {"m": np.array(entry["m"], dtype=np.float64), "u": np.array(entry["u"], dtype=np.float64)}
                if related_prior:
                    tables["related"] = np.array(entry["related"], dtype=np.float64)
                for name, values in tables.items():
                    if values.shape != (field.level_count,):
                        raise bad(f"field {field.name!r}: {field.level_count} levels but {values.size} {name} values")
                    if not np.all((values > 0) & (values <= 1)):
                        raise bad(f"field {field.name!r}: {name} values must be in (0, 1]")
                m.append(tables["m"])
                u.append(tables["u"])
                if related_prior:
                    related.append(tables["related"])
                chances.append(entry.get("chance_exact"))
        except (KeyError, TypeError) as error:
            raise bad(f"missing or malformed entry {error}") from None
        except ValueError as error:
            if str(error).startswith(source):
                raise
            raise bad(str(error)) from None
        model.m, model.u, model.prior = m, u, prior
        population = data.get("population")
        if population is not None:
            try:
                rows, one_table = (population["left_rows"], population["right_rows"]), population["dedup"]
            except (KeyError, TypeError):
                raise bad(f"population {population!r}: needs left_rows, right_rows and dedup") from None
            if not all(isinstance(n, int) and not isinstance(n, bool) and n >= 1 for n in rows):
                raise bad(f"population {population!r}: row counts must be positive integers")
            if not isinstance(one_table, bool):
                raise bad(f"population {population!r}: dedup must be true or false")
            model.population = (rows[0], rows[1], one_table)
        model.related, model.related_prior = (related, related_prior) if related_prior else (None, 0.0)
        model.related_matches = bool(data.get("related_matches", False))
        if all(isinstance(chance, float) and 0.0 < chance <= 1.0 for chance in chances):
            model.chance_exact = chances
        return model

    @classmethod
    def load(cls, path: str | Path) -> LinkageModel:
        """Reads a model written by ``save``.

        Parameters
        ----------
        path : str or pathlib.Path
            The JSON file.

        Returns
        -------
        LinkageModel
            The fitted model.

        Raises
        ------
        ValueError
            A damaged or foreign file.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> model = vornkit.LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
        >>> model.save("model.json")
        >>> vornkit.LinkageModel.load("model.json").fitted
        True
        """
        try:
            text = Path(path).read_text(encoding="utf-8")
        except UnicodeDecodeError:
            raise ValueError(f"{path}: not a vornkit linkage model (not UTF-8 text)") from None
        try:
            data = json.loads(text)
        except json.JSONDecodeError as error:
            raise ValueError(f"{path}: not a vornkit linkage model (not JSON: {error.msg})") from None
        return cls.from_dict(data, str(path))

    def __repr__(self) -> str:
        state = f"prior={self.prior:.3g}" if self.prior is not None else "not fitted"
        return f"LinkageModel([{', '.join(_rule_text(f) for f in self.fields)}], {state})"


class RowWeigher:
    """Weighs pairs of rows of one batch of records as ``predict`` weighs them: for prediction run
    batch by batch elsewhere (Spark's executors). The batch's values are encoded once, whatever
    the number of pairs weighed.

    ``values``: for each field, its distinct preprocessed values in the batch (each once, none
    missing: a list, or for a field other than a date ``vornkit._native.Strings``, which spares
    building Python strings) and each row's index into them (-1 missing). ``frequencies``: for each
    term-frequency field, each row's value's frequency over the whole input (``FieldValues.frequency``
    of its code), which a batch alone does not know; NaN where not known (a pair's left value's
    frequency is the one weighed).
    """

    def __init__(
        self,
        model: LinkageModel,
        values: Mapping[str, tuple[list[str] | _native.Strings, np.ndarray]],
        frequencies: Mapping[str, np.ndarray],
    ) -> None:
        columns = []
        rows = 0
        for field in model.fields:
            distinct, row_index = values[field.name]
            rows = len(row_index)
            # Encoding the distinct values (dates merged in one layout) and gathering their codes
            # gives the codes encode() gives the rows' values, at the cost of the distinct ones.
            encoded = _comparisons.encode_distinct(field, distinct)
            if field.kind == "date":  # equal dates in other layouts merged
                codes = _comparisons.remapped(row_index, encoded.left_codes)
            else:  # each distinct value's code is its position
                codes = np.asarray(row_index, dtype=np.int64)
            column = FieldValues(field, encoded.values, codes, codes, parts=encoded.parts)
            if field.term_frequency:
                frequency = np.asarray(frequencies[field.name], dtype=np.float64)
                known = (codes >= 0) & ~np.isnan(frequency)
                column.frequency = np.zeros(len(column.values))
                column.frequency[codes[known]] = frequency[known]
            columns.append(column)
        self.model = model
        self.tables = _Tables(columns, ({}, None), rows, rows, dedup=False)

    def weights(self, left: np.ndarray, right: np.ndarray, workers: int = 1) -> np.ndarray:
        """The match weights of the pairs of rows (left[k], right[k])."""
        levels = self.model._compared_levels(level_matrix(self.tables, left, right, workers))
        return self.model._pair_weights(self.tables, levels, left)[1]


def probability(weight: np.ndarray) -> np.ndarray:
    """Match probability from the match weight (log2 odds)."""
    return 1.0 / (1.0 + np.exp2(-np.asarray(weight, dtype=np.float64)))


def _ids(
    left: object, right: object | None, id: str | tuple[str, str] | None, tables: _Tables
) -> tuple[np.ndarray, np.ndarray]:
    names = (id, id) if id is None or isinstance(id, str) else tuple(id)
    if len(names) != 2:
        raise ValueError("id: one column name, or a (left, right) pair of names")
    left_ids = read_ids(left, names[0], tables.left_rows, "left table" if right is not None else "table")
    if names[0] is None:
        left_array: np.ndarray = np.arange(tables.left_rows, dtype=np.int64)
    else:
        left_array = np.array(left_ids, dtype=object)
    if right is None:
        return left_array, left_array
    if names[1] is None:
        return left_array, np.arange(tables.right_rows, dtype=np.int64)
    return left_array, np.array(read_ids(right, names[1], tables.right_rows, "right table"), dtype=object)


def _candidates(
    tables: _Tables, blocking: Sequence[Any] | None, workers: int, report: Callable[[str], None] | None = None
) -> tuple[np.ndarray, np.ndarray, _candidate_pairs.Blocking]:
    return _candidate_pairs.candidates(
        tables.values[0],
        tables.values[1],
        [column.field.name for column in tables.columns],
        tables.left_rows,
        tables.right_rows,
        blocking,
        workers,
        report,
        # A field's codes are blocking's raw codes of its values, but for dates (merged layouts).
        {
            column.field.name: (
                column.left_codes if tables.dedup else np.concatenate([column.left_codes, column.right_codes]),
                cast(list[str], column.values),  # encoded here from lists
            )
            for column in tables.columns
            if column.field.kind != "date"
        },
    )


@dataclass
class LinkageResult:
    """Pairs the model predicted, best first.

    Row numbers (``left``, ``right``), ids, match weight and probability, and
    each field's level and weight; ``to_pandas()``, ``to_arrow()`` or
    ``to_dict()`` give them as a table. ``link_records`` and
    ``LinkageModel.predict`` make it.

    Parameters
    ----------
    model : LinkageModel
        The fitted model.
    left, right : numpy.ndarray of int64
        The pairs' row numbers.
    left_id, right_id : numpy.ndarray
        Their ids (the row numbers without an id column).
    match_probability, match_weight : numpy.ndarray of float64
        Each pair's probability and log2 odds of a match.
    levels, weights : dict of str to numpy.ndarray
        Each compared field's agreement level and weight.
    records : int
        Rows of the (left) table.
    dedup : bool
        Whether one table was deduplicated.
    candidates : int
        Pairs compared.
    blocking : object
        The rules that chose them.
    threshold : float
        The lowest match probability the result holds.

    Examples
    --------
    >>> import itertools, vornkit
    >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
    ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
    >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
    ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
    >>> right = {column: values[::2] for column, values in left.items()}    # every second person
    >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
    >>> result = vornkit.link_records(left, right, on=["given_name", "surname", "dob"])
    >>> len(result), result.candidates
    (24, 1152)
    >>> bool((result.left == 2 * result.right).all())   # right row k is left row 2k
    True
    """

    model: LinkageModel
    left: np.ndarray  # int64 row numbers
    right: np.ndarray
    left_id: np.ndarray
    right_id: np.ndarray
    match_probability: np.ndarray
    match_weight: np.ndarray
    levels: dict[str, np.ndarray]
    weights: dict[str, np.ndarray]
    records: int  # rows of the (left) table
    dedup: bool
    candidates: int  # pairs compared
    blocking: _candidate_pairs.Blocking  # the rules that chose them
    threshold: float  # the lowest match probability the result holds

    def __len__(self) -> int:
        return len(self.left)

    def to_dict(self, detail: str = "weight") -> dict[str, np.ndarray]:
        """The pairs as columns.

        Parameters
        ----------
        detail : {"weight", "level", "both"}, default "weight"
            Each field's ``<field>_weight``, ``<field>_level`` or both.

        Returns
        -------
        dict of str to numpy.ndarray
            left_id, right_id, match_probability, match_weight, then the fields'
            columns.

        Raises
        ------
        ValueError
            An unknown ``detail``.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> result = vornkit.link_records(left, right, on=["given_name", "surname", "dob"])
        >>> list(result.to_dict(detail="level"))
        ['left_id', 'right_id', 'match_probability', 'match_weight', 'given_name+dob_level', 'surname_level']
        """
        if detail not in ("weight", "level", "both"):
            raise ValueError(f"detail must be 'weight', 'level' or 'both', not {detail!r}")
        columns = {
            "left_id": self.left_id,
            "right_id": self.right_id,
            "match_probability": self.match_probability,
            "match_weight": self.match_weight,
        }
        for field in self.model.compared:
            if detail in ("level", "both"):
                columns[f"{field.name}_level"] = self.levels[field.name]
            if detail in ("weight", "both"):
                columns[f"{field.name}_weight"] = self.weights[field.name]
        return columns

    def to_pandas(self, detail: str = "weight") -> Any:
        """The pairs as a pandas DataFrame (needs pandas).

        Parameters
        ----------
        detail : {"weight", "level", "both"}, default "weight"
            As for ``to_dict``.

        Returns
        -------
        pandas.DataFrame
            The columns of ``to_dict``.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> result = vornkit.link_records(left, right, on=["given_name", "surname", "dob"])
        >>> result.to_pandas().shape
        (24, 6)
        """
        import pandas as pd  # type: ignore[import-untyped,unused-ignore]

        return pd.DataFrame(self.to_dict(detail))

    def to_arrow(self, detail: str = "weight") -> Any:
        """The pairs as an Arrow table (needs pyarrow).

        Parameters
        ----------
        detail : {"weight", "level", "both"}, default "weight"
            As for ``to_dict``.

        Returns
        -------
        pyarrow.Table
            The columns of ``to_dict``.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> result = vornkit.link_records(left, right, on=["given_name", "surname", "dob"])
        >>> result.to_arrow(detail="both").num_columns
        8
        """
        import pyarrow as pa  # type: ignore[import-untyped,unused-ignore]

        return pa.table({name: list(values) if values.dtype == object else values
                         for name, values in self.to_dict(detail).items()})  # fmt: skip

    def clusters(
        self, threshold: float = DEFAULT_THRESHOLD, *, max_cluster_size: int | None = _candidate_pairs.MAX_CLUSTER_SIZE
    ) -> np.ndarray:
        """A cluster label for every record of a deduplicated table.

        Records are clustered from the pairs at or above ``threshold``; see
        ``cluster_pairs`` for the guard against long chains.

        Parameters
        ----------
        threshold : float, default 0.5
            The least match probability of a link; not below the result's own.
        max_cluster_size : int or None, default 50
            The largest cluster kept whole; None means no limit.

        Returns
        -------
        numpy.ndarray of int64
            Shape (records,): each record's label, the smallest row of its cluster.

        Raises
        ------
        ValueError
            A result of two tables, or a threshold below the result's.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> table = {column: values + right[column] for column, values in left.items()}   # 48 + 24 records
        >>> result = vornkit.link_records(table, on=["given_name", "surname", "dob"])
        >>> labels = result.clusters()
        >>> len(labels), len(set(labels.tolist()))
        (72, 48)
        >>> int(labels[48]), int(labels[49])     # the first two copies join persons 0 and 2
        (0, 2)
        """
        if not self.dedup:
            raise ValueError("clusters are for deduplication (one table); a linkage result pairs two tables")
        if threshold < self.threshold:
            raise ValueError(
                f"the result holds the pairs at match probability >= {self.threshold:g} only: "
                f"predict with threshold={threshold:g} to cluster at {threshold:g}"
            )
        return _candidate_pairs.clusters(
            self.records, self.left, self.right, self.match_probability, threshold, max_cluster_size
        )

    def explain(self, row: int) -> dict[str, list[Any]]:
        """The waterfall of one predicted pair.

        The prior, then each compared field's level and weight, with the running
        total, ending at the match weight.

        Parameters
        ----------
        row : int
            The pair's row in this result (negative counts from the end).

        Returns
        -------
        dict of str to list
            Columns ``step``, ``level``, ``weight`` and ``cumulative``.

        Raises
        ------
        IndexError
            A row outside the result.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> result = vornkit.link_records(left, right, on=["given_name", "surname", "dob"])
        >>> steps = result.explain(0)
        >>> steps["step"]
        ['prior', 'given_name+dob', 'surname', 'related records', 'match weight']
        >>> steps["cumulative"][-1] == float(result.match_weight[0])
        True
        """
        if not -len(self) <= row < len(self):
            raise IndexError(f"row {row} is outside the result's {len(self)} pairs")
        steps: dict[str, list[Any]] = {"step": ["prior"], "level": [""], "weight": [self.model.prior_weight]}
        for field in self.model.compared:
            level = int(self.levels[field.name][row])
            steps["step"].append(field.name)
            steps["level"].append("missing" if level == MISSING else field.level_names()[level])
            steps["weight"].append(float(self.weights[field.name][row]))
        if self.model.related is not None:
            # The evidence of the third class: related records (a household) rather than one entity,
            # or, when that class holds matches too, copies of one entity that differ more.
            steps["step"].append("differing copies" if self.model.related_matches else "related records")
            steps["level"].append("")
            steps["weight"].append(float(self.match_weight[row]) - float(np.sum(steps["weight"])))
        steps["cumulative"] = np.cumsum(steps["weight"]).tolist()
        steps["step"].append("match weight")
        steps["level"].append(f"probability {float(self.match_probability[row]):.6g}")
        steps["weight"].append(float(self.match_weight[row]))
        steps["cumulative"].append(float(self.match_weight[row]))
        return steps

    def explain_chart(self, row: int, path: str | Path) -> Path:
        """The waterfall of one pair as a PNG chart (needs matplotlib).

        Parameters
        ----------
        row : int
            The pair's row in this result.
        path : str or pathlib.Path
            The PNG file to write.

        Returns
        -------
        pathlib.Path
            The file written.

        Examples
        --------
        >>> import itertools, vornkit
        >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
        ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
        >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
        ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
        >>> right = {column: values[::2] for column, values in left.items()}    # every second person
        >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
        >>> result = vornkit.link_records(left, right, on=["given_name", "surname", "dob"])
        >>> result.explain_chart(0, "pair.png").name
        'pair.png'
        """
        from vornkit._linkage_charts import waterfall_chart

        return waterfall_chart(self, row, Path(path))


def link_records(
    left: object,
    right: object | None = None,
    *,
    on: Sequence[Field | str] | None = None,
    id: str | tuple[str, str] | None = None,
    threshold: float = DEFAULT_THRESHOLD,
    model: LinkageModel | None = None,
    labels: Sequence[tuple[int, int]] | None = None,
    blocking: Sequence[Any] | None = None,
    preprocess: bool = True,
    workers: int = -1,
    seed: int = 0,
    report: Callable[[str], None] | None = None,
) -> LinkageResult:
    """Links two tables, or deduplicates one, with no configuration.

    The fields in ``on`` are compared as their values suggest, the model is
    fitted on the candidate pairs (unless a fitted ``model`` is given) and the
    pairs at or above the match probability ``threshold`` are returned;
    deduplicating, each unordered pair once.

    Parameters
    ----------
    left, right : dict of column name to list of str or None, or a DataFrame
        The tables (pandas, Polars, Arrow or a dict of columns); ``right=None``
        deduplicates ``left``.
    on : sequence of Field or str, optional
        The fields to compare; required unless ``model`` is given.
    id : str or (str, str), optional
        The id column (one name, or a (left, right) pair); by default row numbers.
    threshold : float, default 0.5
        The least match probability of a returned pair.
    model : LinkageModel, optional
        A model to use instead of a new one: fitted, it only predicts;
        unfitted, it is fitted here.
    labels : sequence of (int, int), optional
        Known matching pairs (left row, right row) that fit m.
    blocking : sequence of BlockingRule or str, optional
        Rules naming the pairs to compare (column names for exact keys); by
        default every pair of small inputs, and rules chosen from the data
        (``auto_blocking_rules``) for larger ones.
    workers : int, default -1
        Threads to use; -1 for every core.
    preprocess : bool, default True
        Compare the values after ``vorn.Preprocessor()``.
    seed : int, default 0
        Seed of the random pairs that estimate u.
    report : callable, optional
        Receives a line per blocking rule (its estimated pair count) before any
        pair is compared.

    Returns
    -------
    LinkageResult
        The pairs, best first; ``result.model`` is the fitted model.

    Raises
    ------
    ValueError
        Neither ``on`` nor ``model``, both, or a threshold outside [0, 1].

    Notes
    -----
    Python's cyclic garbage collector is paused for the call (for every thread) and turned back on
    after it, if it was on: the tables' value lists would be walked again and again for nothing.

    Examples
    --------
    >>> import itertools, vornkit
    >>> people = list(itertools.product(["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"],
    ...                                 ["smith", "jones", "brown", "taylor", "wilson", "evans"]))
    >>> left = {"given_name": [g for g, s in people], "surname": [s for g, s in people],
    ...         "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))]}
    >>> right = {column: values[::2] for column, values in left.items()}    # every second person
    >>> right["surname"] = [s.replace("o", "0") for s in right["surname"]]   # with typos
    >>> result = vornkit.link_records(left, right, on=["given_name", "surname", "dob"])
    >>> len(result), bool((result.left == 2 * result.right).all())   # right row k is left row 2k
    (24, True)
    >>> [round(p, 2) for p in result.match_probability[:2].tolist()]
    [1.0, 1.0]
    """
    if model is None:
        if on is None:
            raise ValueError("give the fields to compare (on=...) or a fitted model")
        model = LinkageModel(on, preprocess=preprocess)
    elif on is not None:
        raise ValueError("give either the fields to compare (on=...) or a model, not both")
    elif labels is not None and model.fitted:
        raise ValueError("labels fit a model: give them with an unfitted model, or fit it with LinkageModel.fit")
    if not 0.0 <= threshold <= 1.0:
        raise ValueError(f"threshold must be a probability between 0 and 1, not {threshold!r}")
    fit = not model.fitted
    with collector_paused():
        model.fields, tables = _read(model.fields, left, right, model._processor(), complete=fit, blocking=blocking)
        i, j, used = _candidates(tables, blocking, workers, report)
        levels = level_matrix(tables, i, j, workers)
        if fit:
            model._fit(tables, levels, labels, workers, seed)
        return model._predict(tables, left, right, id, i, j, levels, threshold, used)
