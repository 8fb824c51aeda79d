"""Field comparisons of the linkage model: what a field holds, and how two values agree.

Each field is compared at a few agreement levels, numbered from 0 (the values
disagree) up to the exact level (equal after preprocessing); -1 is missing (a
side has no value, which says nothing for or against a match). Between them sit
the fuzzy levels, one per entry of ``Field.levels`` (strongest first):

- names (words of letters): Jaro-Winkler similarity >= 0.92, >= 0.80;
- codes and numbers (no letters): Levenshtein distance <= 1, <= 2;
- dates (most values in one date layout): one edit or day and month swapped, same year;
- free text (three words or more on average): word Jaccard similarity >= 0.6, >= 0.3.

A field's kind is decided from its values unless given. Scores come from vorn's
functions through vornkit's kernels, once per distinct pair of values.
"""

from __future__ import annotations

import re
from collections.abc import Callable, Sequence
from dataclasses import dataclass, replace
from dataclasses import field as dataclass_field

import numpy as np
import vorn

from vornkit import _native, _scorers
from vornkit._records import CodedValues

KINDS = ("name", "code", "date", "text")
AUTO = "auto"
GROUP = "group"  # fields that move together (an address), compared as one
DEFAULTS: dict[str, tuple[str, tuple[float, ...]]] = {
    "name": ("jaro_winkler", (0.92, 0.80)),
    "code": ("levenshtein_distance", (1, 2)),
    "date": ("date", ()),
    "text": ("jaccard_word", (0.6, 0.3)),
}
DATE_LEVELS = ("same year", "one edit or day/month swapped")  # weakest first
KIND_SAMPLE = 5000  # values looked at to decide a field's kind
DATE_SHARE = 0.9  # of the present values in one layout make a date field
CODE_SHARE = 0.95  # of the present values without letters make a code field
TEXT_WORDS = 3.0  # mean words per value that make a free-text field

MISSING = -1
# A group's level: which of its members agree (up to MAX_SET_GROUP members), or how many.
GROUP_WHICH, GROUP_COUNT = "which agree", "how many agree"
MAX_SET_GROUP = 6
_LETTER = re.compile(r"[^\W\d_]")
# (name, pattern, order of the year, month and day groups)
DATE_LAYOUTS = (
    ("yyyymmdd", re.compile(r"^(\d{4})(\d{2})(\d{2})$"), (0, 1, 2)),
    ("yyyy-mm-dd", re.compile(r"^(\d{4})[-/. ](\d{1,2})[-/. ](\d{1,2})$"), (0, 1, 2)),
    ("dd-mm-yyyy", re.compile(r"^(\d{1,2})[-/. ](\d{1,2})[-/. ](\d{4})$"), (2, 1, 0)),
    ("mm-dd-yyyy", re.compile(r"^(\d{1,2})[-/. ](\d{1,2})[-/. ](\d{4})$"), (2, 0, 1)),
)


@dataclass(frozen=True)
class Field:
    """One compared field of record linkage.

    What is not given is decided from the values when a model is fitted
    (``completed``).

    Parameters
    ----------
    name : str
        The column.
    kind : {"auto", "name", "code", "date", "text"}, default "auto"
        "auto" decides from the values.
    scorer : str, optional
        A scorer name of vornkit's registry: a vorn similarity
        (``jaro_winkler``, ``levenshtein``, ``jaccard_word``, ...), a distance
        (``levenshtein_distance``, ``Levenshtein.distance``, ...) or one of
        RapidFuzz's scorers (``WRatio``, ``token_set_ratio``,
        ``JaroWinkler.similarity``, ...). A fuzz ratio (0 to 100) is read
        divided by 100, so its levels are in [0, 1] like every similarity's.
    levels : tuple of float, optional
        The scorer's fuzzy agreement levels, strongest first: decreasing
        similarities, or increasing distances. A scorer whose kind (similarity
        or distance) differs from the field kind's default scorer needs its
        own levels.
    term_frequency : bool, optional
        Agreeing on a rare value counts for more than on a common one
        (default: every kind but free text).
    date_layout : str, optional
        The layout of a date field's values; by default the best fitting one.
    members : tuple of str
        For a group of fields compared together: their names.

    Raises
    ------
    ValueError
        An unknown kind or scorer, or levels out of order.

    Examples
    --------
    >>> from vornkit import Field
    >>> field = Field("surname", kind="name")
    >>> field.scorer, field.levels
    ('jaro_winkler', (0.92, 0.8))
    >>> Field("zip", scorer="levenshtein_distance", levels=(1, 2)).levels
    (1.0, 2.0)
    """

    name: str
    kind: str = AUTO
    scorer: str | None = None
    levels: tuple[float, ...] | None = None
    term_frequency: bool | None = None
    date_layout: str | None = None
    members: tuple[str, ...] = ()  # a group: the fields compared together (scorer: GROUP_WHICH or GROUP_COUNT)

    def __post_init__(self) -> None:
        if self.kind == GROUP:
            object.__setattr__(self, "members", tuple(self.members))
            if len(self.members) < 2:
                raise ValueError(f"group {self.name!r}: needs two fields or more")
            object.__setattr__(self, "term_frequency", False)
            if self.scorer is None:
                object.__setattr__(self, "scorer", GROUP_WHICH if len(self.members) <= MAX_SET_GROUP else GROUP_COUNT)
            if self.scorer not in (GROUP_WHICH, GROUP_COUNT) or (
                self.scorer == GROUP_WHICH and len(self.members) > MAX_SET_GROUP
            ):
                raise ValueError(f"group {self.name!r}: cannot compare by {self.scorer!r}")
            return
        if self.kind != AUTO and self.kind not in KINDS:
            raise ValueError(f"field {self.name!r}: kind must be one of {', '.join((AUTO, *KINDS))}, not {self.kind!r}")
        if self.scorer in _scorers.OTHER_FORMS:
            metric = self.scorer.partition(".")[0]
            raise ValueError(
                f"field {self.name!r}: {self.scorer} is not a linkage scorer (its levels need a similarity in [0, 1] "
                f"or a count of edits): use {metric}.normalized_similarity"
                + ("" if metric in ("Jaro", "JaroWinkler") else f" or {metric}.distance")
            )
        if self.scorer is not None:
            try:
                _scorers.named(self.scorer)
            except ValueError as error:
                raise ValueError(f"field {self.name!r}: {error}") from None
        if self.kind in DEFAULTS and self.kind != "date":  # a known kind: its default scorer and levels
            scorer, levels = DEFAULTS[self.kind]
            object.__setattr__(self, "scorer", self.scorer or scorer)
            if self.levels is None and self.scorer == scorer:
                object.__setattr__(self, "levels", levels)
        if self.levels is not None:
            object.__setattr__(self, "levels", tuple(float(level) for level in self.levels))
            steps = np.diff(np.array(self.levels, dtype=np.float64))
            increasing = self.is_distance
            if not np.all(steps > 0 if increasing else steps < 0):
                order = "increasing distances" if increasing else "decreasing similarities"
                raise ValueError(f"field {self.name!r}: levels must be {order}, strongest first")

    @property
    def is_distance(self) -> bool:
        """Whether the scorer is a distance (lower is closer)."""
        return self.scorer is not None and _scorers.NAMED[self.scorer].is_distance

    @property
    def level_count(self) -> int:
        """Levels from 0 (disagree) to the exact level."""
        if self.kind == GROUP:
            return 1 << len(self.members) if self.scorer == GROUP_WHICH else len(self.members) + 1
        fuzzy = len(DATE_LEVELS) if self.kind == "date" else len(self.levels or ())
        return fuzzy + 2

    def level_names(self) -> list[str]:
        """Names of levels 0 (disagree) up to the exact level.

        Returns
        -------
        list of str
            One name per level.

        Examples
        --------
        >>> from vornkit import Field
        >>> Field("surname", kind="name").level_names()
        ['else', 'jaro_winkler >= 0.8', 'jaro_winkler >= 0.92', 'exact']
        """
        if self.kind == GROUP:
            if self.scorer == GROUP_WHICH:
                return [" & ".join(m for k, m in enumerate(self.members) if agree >> k & 1) or "none agree"
                        for agree in range(1 << len(self.members))]  # fmt: skip
            return [f"{count} of {len(self.members)} agree" for count in range(len(self.members) + 1)]
        if self.kind == "date":
            fuzzy = list(DATE_LEVELS)
        else:
            sign = "<=" if self.is_distance else ">="
            scale = _scorers.NAMED[self.scorer or ""].scale
            scored = self.scorer if scale == 1.0 else f"{self.scorer}/{scale:g}"
            fuzzy = [f"{scored} {sign} {level:g}" for level in reversed(self.levels or ())]
        return ["else", *fuzzy, "exact"]

    def completed(self, left: Sequence[str | None], right: Sequence[str | None]) -> Field:
        """This field with its kind, scorer, levels and term-frequency choice filled in from the values.

        Parameters
        ----------
        left, right : sequence of str or None
            The field's values in the two tables (the same values twice when
            deduplicating).

        Returns
        -------
        Field
            A new field; this one is unchanged.

        Examples
        --------
        >>> from vornkit import Field
        >>> field = Field("surname").completed(["smith", "jones"], ["smyth", "brown"])
        >>> field.kind, field.scorer, field.levels, field.term_frequency
        ('name', 'jaro_winkler', (0.92, 0.8), True)
        """
        kind, layout = self.kind, self.date_layout
        if kind == AUTO:
            kind, layout = detect_kind(left, right)
        elif kind == "date" and layout is None:
            layout = _best_date_layout(_sample(left, right))[0]
        scorer, levels = DEFAULTS[kind]
        if kind != "date" and self.levels is None and self.scorer not in (None, scorer):
            if _scorers.NAMED[self.scorer].is_distance != _scorers.NAMED[scorer].is_distance:
                wanted = "highest distances" if _scorers.NAMED[self.scorer].is_distance else "lowest similarities"
                raise ValueError(
                    f"field {self.name!r}: scorer {self.scorer!r} needs its own levels ({wanted}, strongest first); "
                    f"the default levels of {kind} fields are for {scorer!r}"
                )
        return replace(
            self,
            kind=kind,
            scorer=None if kind == "date" else self.scorer or scorer,
            levels=() if kind == "date" else self.levels if self.levels is not None else levels,
            term_frequency=kind != "text" if self.term_frequency is None else self.term_frequency,
            date_layout=layout,
        )


def group_levels(levels: np.ndarray, fields: Sequence[Field], by: str = GROUP_COUNT) -> np.ndarray:
    """A group's level from its members' levels (pairs x members), -1 when none is present:
    GROUP_WHICH: which members agree (at their two highest levels), bit k for member k, so that a
    moved person's surname still counts and a household's address is told from it;
    GROUP_COUNT: how many of the members present agree, scaled to the group's size."""
    size = len(fields)
    if by == GROUP_WHICH:
        # Column by column in int8: millions of pairs, a few members.
        which = np.zeros(len(levels), dtype=np.int8)
        none_present = np.ones(len(levels), dtype=bool)
        for k, field in enumerate(fields):
            column = levels[:, k]
            which |= (column >= max(field.level_count - 2, 0)).view(np.int8) << k  # missing (-1) is below
            none_present &= column < 0
        which[none_present] = MISSING
        return which
    top = np.array([field.level_count - 2 for field in fields])
    present = levels >= 0
    counted = present.sum(axis=1)
    agree = ((levels >= top) & present).sum(axis=1)
    scaled = (2 * size * agree + counted) // np.maximum(2 * counted, 1)
    return np.where(counted > 0, scaled, MISSING).astype(np.int8)


def _sample(left: Sequence[str | None], right: Sequence[str | None]) -> list[str]:
    values = [value for value in left[:KIND_SAMPLE] if value]
    values += [value for value in right[:KIND_SAMPLE] if value]
    return values


def _best_date_layout(values: list[str], least: float = 0.0) -> tuple[str | None, float]:
    """The layout parsing the largest share of the values, and that share; a layout is given up
    as soon as it cannot reach the share ``least``."""
    best, share = None, 0.0
    for name, pattern, order in DATE_LAYOUTS:
        parsed = failed = 0
        for value in values:
            if _date_parts(value, pattern, order) is not None:
                parsed += 1
                continue
            failed += 1
            if (len(values) - failed) / len(values) < least:  # the share it could still reach
                break
        else:
            if values and parsed / len(values) > share:
                best, share = name, parsed / len(values)
    return best, share


def detect_kind(left: Sequence[str | None], right: Sequence[str | None]) -> tuple[str, str | None]:
    """(kind, date layout) from a sample of the present values."""
    values = _sample(left, right)
    if not values:
        return "name", None
    layout, share = _best_date_layout(values, DATE_SHARE)
    if layout is not None and share >= DATE_SHARE:
        return "date", layout
    if sum(not _LETTER.search(value) for value in values) >= CODE_SHARE * len(values):
        return "code", None
    if sum(len(value.split()) for value in values) >= TEXT_WORDS * len(values):
        return "text", None
    return "name", None


def _date_parts(value: str, pattern: re.Pattern[str], order: tuple[int, int, int]) -> tuple[int, int, int] | None:
    found = pattern.match(value)
    if found is None:
        return None
    groups = found.groups()
    year, month, day = int(groups[order[0]]), int(groups[order[1]]), int(groups[order[2]])
    if not (1 <= month <= 12 and 1 <= day <= 31 and 1000 <= year <= 2999):
        return None
    return year, month, day


# Each layout's values of a fixed width: the slices of its three groups of digits, and where the
# separators are. In ASCII, a value of that width matches the layout's pattern just when these hold.
_FIXED_WIDTH_DATES = {
    "yyyymmdd": (8, ((0, 4), (4, 6), (6, 8)), ()),
    "yyyy-mm-dd": (10, ((0, 4), (5, 7), (8, 10)), (4, 7)),
    "dd-mm-yyyy": (10, ((0, 2), (3, 5), (6, 10)), (2, 5)),
    "mm-dd-yyyy": (10, ((0, 2), (3, 5), (6, 10)), (2, 5)),
}
_DATE_SEPARATORS = np.frombuffer(b"-/. ", dtype=np.uint8)


def _parse_dates(values: Sequence[str], layout: str) -> np.ndarray:
    """(values, 3): the year, month and day ``_date_parts`` reads in each value, -1 where it reads
    none. The values of the layout's fixed width in ASCII (most dates) are read in bulk."""
    pattern, order = _date_layout(layout)
    width, groups, separators = _FIXED_WIDTH_DATES[layout]
    dates = np.full((len(values), 3), -1, dtype=np.int64)
    fixed = np.array([len(value) == width and value.isascii() for value in values], dtype=bool)
    rows = np.flatnonzero(fixed)
    if len(rows):
        text = "".join(values[row] for row in rows.tolist())
        chars = np.frombuffer(text.encode("ascii"), dtype=np.uint8).reshape(len(rows), width)
        digits = chars.astype(np.int64) - ord("0")
        ok = np.ones(len(rows), dtype=bool)
        numbers = []
        for begin, end in groups:
            group = digits[:, begin:end]
            ok &= ((group >= 0) & (group <= 9)).all(axis=1)
            numbers.append(group @ 10 ** np.arange(end - begin - 1, -1, -1, dtype=np.int64))
        for at in separators:
            ok &= np.isin(chars[:, at], _DATE_SEPARATORS)
        year, month, day = numbers[order[0]], numbers[order[1]], numbers[order[2]]
        ok &= (1 <= month) & (month <= 12) & (1 <= day) & (day <= 31) & (1000 <= year) & (year <= 2999)
        dates[rows[ok]] = np.stack([year, month, day], axis=1)[ok]
    for row in np.flatnonzero(~fixed).tolist():
        found = _date_parts(values[row], pattern, order)
        if found is not None:
            dates[row] = found
    return dates


def _date_layout(name: str) -> tuple[re.Pattern[str], tuple[int, int, int]]:
    for layout, pattern, order in DATE_LAYOUTS:
        if layout == name:
            return pattern, order
    raise ValueError(f"unknown date layout {name!r} (choose from {', '.join(n for n, _, _ in DATE_LAYOUTS)})")


@dataclass
class FieldValues:
    """One field's values on both sides, encoded once: a code per distinct value
    (shared by both sides, -1 for missing), its frequency, and for dates the parts."""

    field: Field
    values: list[str] | _native.Strings  # distinct values, by code (dates: a list)
    left_codes: np.ndarray
    right_codes: np.ndarray
    frequency: np.ndarray = dataclass_field(init=False)  # share of the present values (both sides) holding each code
    parts: np.ndarray | None = None  # dates: (distinct, 3) year, month, day; -1 where unparsed
    _strings: _native.Strings | None = dataclass_field(init=False, default=None, repr=False, compare=False)

    def __post_init__(self) -> None:
        counts = np.bincount(self.left_codes[self.left_codes >= 0], minlength=len(self.values))
        if self.right_codes is not self.left_codes:
            counts = counts + np.bincount(self.right_codes[self.right_codes >= 0], minlength=len(self.values))
        self.frequency = counts / max(int(counts.sum()), 1)

    def strings(self) -> _native.Strings:
        """The distinct values as the pair kernel reads them: converted once, not per batch of pairs."""
        if isinstance(self.values, _native.Strings):
            return self.values
        if self._strings is None:
            self._strings = _native.Strings(self.values, "values")
        return self._strings


def encode(field: Field, left: Sequence[str | None], right: Sequence[str | None] | None) -> FieldValues:
    """The field's values as codes; ``right`` None means one table (deduplication)."""
    index: dict[str, int] = {}

    def codes(column: Sequence[str | None]) -> np.ndarray:
        # A new value's code is the count of values seen before it.
        found = [MISSING if value is None else index.setdefault(value, len(index)) for value in column]
        return np.array(found, dtype=np.int64)

    left_codes = codes(left)
    right_codes = left_codes if right is None else codes(right)
    return _field_values(field, list(index), left_codes, right_codes, right is None)


def encode_distinct(field: Field, values: list[str] | _native.Strings) -> FieldValues:
    """``encode`` of one table whose values are distinct and present: each value's code is its
    position, as ``encode`` numbers values in order of first appearance. A date field's values
    are parsed, so they come as a list; other fields' may come as vornkit's native strings."""
    codes = np.arange(len(values), dtype=np.int64)
    return _field_values(field, values, codes, codes, True)


def encode_coded(field: Field, left: CodedValues, right: CodedValues | None) -> FieldValues:
    """``encode`` of preprocessed columns, from their distinct values: the same codes."""
    index: dict[str, int] = {}

    def codes(column: CodedValues) -> np.ndarray:
        # Distinct values come in order of first appearance: so do the codes.
        remap = [MISSING if value is None else index.setdefault(value, len(index)) for value in column.distinct]
        out: np.ndarray = np.array(remap, dtype=np.int64)[column.codes]
        return out

    left_codes = codes(left)
    right_codes = left_codes if right is None else codes(right)
    return _field_values(field, list(index), left_codes, right_codes, right is None)


def _field_values(
    field: Field, values: list[str] | _native.Strings, left_codes: np.ndarray, right_codes: np.ndarray, one_table: bool
) -> FieldValues:
    parts = None
    if field.kind == "date":
        if not isinstance(values, list):
            raise TypeError("a date field's distinct values must be a list of str")
        # Dates compare in one layout (yyyymmdd), so that 1/2/1990 and 01/02/1990 agree exactly.
        texts, dates = normal_dates(values, field.date_layout or "yyyymmdd")
        remap, distinct = _merge_equal(texts)
        left_codes = remapped(left_codes, remap)
        right_codes = left_codes if one_table else remapped(right_codes, remap)
        parts = np.full((len(distinct), 3), -1, dtype=np.int64)
        rows = np.flatnonzero(dates[:, 0] >= 0)
        parts[remap[rows]] = dates[rows]  # values merged into one text are one date
        values = distinct
    return FieldValues(field, values, left_codes, right_codes, parts=parts)


def remapped(codes: np.ndarray, remap: np.ndarray) -> np.ndarray:
    """Codes through ``remap``, missing ones kept missing (a column may have no value at all)."""
    out = np.full(len(codes), MISSING, dtype=np.int64)
    present = codes >= 0
    out[present] = remap[codes[present]]
    return out


def _merge_equal(texts: list[str]) -> tuple[np.ndarray, list[str]]:
    index: dict[str, int] = {}
    remap = np.empty(len(texts), dtype=np.int64)
    for k, text in enumerate(texts):
        remap[k] = index.setdefault(text, len(index))
    return remap, list(index)


def normal_dates(values: Sequence[str], layout: str) -> tuple[list[str], np.ndarray]:
    """Each value as its date's eight digits yyyymmdd where the layout reads one (a parsed year
    has four digits), else as it is; and the (year, month, day) of each, -1 where none."""
    dates = _parse_dates(values, layout)
    parsed = (dates[:, 0] >= 0).tolist()
    numbers = (dates[:, 0] * 10_000 + dates[:, 1] * 100 + dates[:, 2]).astype(str).tolist()
    return [number if ok else value for number, ok, value in zip(numbers, parsed, values)], dates


def _score_distinct(
    values: _native.Strings, a: np.ndarray, b: np.ndarray, scorer: Callable[..., float], workers: int
) -> np.ndarray:
    """scorer(values[a[k]], values[b[k]]) for each k, on vornkit's pair kernel."""
    from vornkit._blocking import score_pairs

    return score_pairs(values, None, a, b, scorer=scorer, workers=workers)


def number_keys(keys: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """(codes, first) of int64 keys: codes 0, 1, ... in order of first appearance, and the position
    of each code's first appearance."""
    keys = np.ascontiguousarray(keys, dtype=np.int64)
    codes = np.empty(len(keys), dtype=np.int64)
    first = np.empty(len(keys), dtype=np.int64)
    return codes, first[: _native.number_keys(keys, codes, first)]


@dataclass
class KeyGroups:
    """The distinct values of an int64 key column, as np.unique gives them (sorted, each with its
    first position and count), and each key's index among them."""

    distinct: np.ndarray
    inverse: np.ndarray
    first: np.ndarray
    counts: np.ndarray


def group_keys(keys: np.ndarray) -> KeyGroups:
    """np.unique(keys, return_index=True, return_inverse=True, return_counts=True) of 1-d int64 or
    uint64 keys: hashed in one pass (vornkit's native kernel, without the GIL), only the distinct
    keys sorted."""
    keys = np.ascontiguousarray(keys)
    if keys.dtype != np.uint64:
        keys = keys.astype(np.int64, copy=False)
    codes, first = number_keys(keys.view(np.int64))  # equal bits: equal keys
    count = len(first)
    order = np.argsort(keys[first])  # distinct keys: no ties, so any sort gives np.unique's order
    rank = np.empty(count, dtype=np.int64)
    rank[order] = np.arange(count, dtype=np.int64)
    counts = np.bincount(codes, minlength=count)[order]
    return KeyGroups(keys[first[order]], rank[codes], first[order], counts)


def levels(column: FieldValues, i: np.ndarray, j: np.ndarray, workers: int = -1) -> np.ndarray:
    """int8 level of each pair (left row i[k], right row j[k]): -1 missing, 0 else, ..., exact."""
    field = column.field
    left, right = column.left_codes[i], column.right_codes[j]
    out = np.full(len(i), MISSING, dtype=np.int8)
    present = (left >= 0) & (right >= 0)
    out[present] = 0
    exact = present & (left == right)
    out[exact] = field.level_count - 1
    rest = np.flatnonzero(present & ~exact)
    if len(rest) == 0:
        return out
    left, right = left[rest], right[rest]
    if field.kind == "date":
        out[rest] = _date_levels(column, left, right, workers)
        return out
    # Each distinct pair of values is scored once (in order of first appearance: each score
    # depends on its pair alone).
    inverse, first = number_keys(left * len(column.values) + right)
    algorithm = _scorers.NAMED[field.scorer or ""]
    scores = _score_distinct(column.strings(), left[first], right[first], algorithm.scorer(), workers)
    if algorithm.scale != 1.0:
        scores = scores / algorithm.scale  # levels read a fuzz ratio in [0, 1]
    level = np.zeros(len(first), dtype=np.int8)
    for number, bound in enumerate(reversed(field.levels or ()), 1):  # weakest first
        level[scores <= bound if field.is_distance else scores >= bound] = number
    out[rest] = level[inverse]
    return out


def _date_levels(column: FieldValues, a: np.ndarray, b: np.ndarray, workers: int) -> np.ndarray:
    """Levels of pairs of different dates (codes a[k], b[k]): 2 for one edit apart or day and month
    swapped, 1 for the same year."""
    assert column.parts is not None
    parts = column.parts
    # Per distinct value, then per pair: a column each, as 32-bit integers (-1: not parsed).
    year = parts[:, 0].astype(np.int32)
    month_day = np.where(year >= 0, parts[:, 1] * 100 + parts[:, 2], -1).astype(np.int32)
    day_month = np.where(year >= 0, parts[:, 2] * 100 + parts[:, 1], -2).astype(np.int32)
    # A parsed date's text is its eight digits yyyymmdd, and between texts of one length one edit
    # is one changed digit: the edits are counted on the digits, packed four bits each.
    digits = _packed_digits(parts)
    left_year, right_year = year[a], year[b]
    parsed = (left_year >= 0) & (right_year >= 0)
    same_year = parsed & (left_year == right_year)
    level: np.ndarray = same_year.astype(np.int8)
    swapped = same_year & (month_day[a] == day_month[b])
    changed = digits[a] ^ digits[b]
    changed = (changed | (changed >> 1) | (changed >> 2) | (changed >> 3)) & 0x11111111  # a bit per digit
    one_edit = parsed & ((changed & (changed - 1)) == 0)
    unparsed = np.flatnonzero(~parsed)
    if len(unparsed):
        a, b = a[unparsed], b[unparsed]
        inverse, first = number_keys(a * len(column.values) + b)
        edits = _score_distinct(column.strings(), a[first], b[first], vorn.levenshtein_distance, workers)
        one_edit[unparsed] = (edits <= 1)[inverse]
    level[one_edit | swapped] = 2
    return level


def _packed_digits(parts: np.ndarray) -> np.ndarray:
    """Each parsed date's eight digits yyyymmdd, four bits each (the last digit lowest)."""
    number = parts[:, 0] * 10_000 + parts[:, 1] * 100 + parts[:, 2]
    packed = np.zeros(len(parts), dtype=np.int64)
    for place in range(8):
        packed |= (number // 10**place % 10) << (4 * place)
    return packed.astype(np.int32)  # 32 bits hold the eight digits
