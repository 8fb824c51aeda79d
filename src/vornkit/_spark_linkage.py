"""Record linkage on Apache Spark with the model of :func:`vornkit.link_records`.

The executors do the work over Arrow batches: they preprocess the records,
compute blocking keys and term-frequency keys, and weigh the candidate pairs
with the very code of ``LinkageModel.predict`` (``RowWeigher``). Only
counts and the model reach the driver (and, when no model is given, a sample
of the records to fit one on). With the same records, model and blocking
rules the pairs and match probabilities are those of ``link_records``, bit
for bit, whatever the partitioning; ``link_clusters`` labels records as
``LinkageResult.clusters`` does.
"""

from __future__ import annotations

import dataclasses
import logging
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np
import pyarrow as pa  # type: ignore[import-untyped,unused-ignore]
import pyarrow.compute as pc  # type: ignore[import-untyped,unused-ignore]
import vorn
from pyspark.sql import DataFrame  # type: ignore[import-not-found,unused-ignore]
from pyspark.sql import functions as F  # type: ignore[import-not-found,unused-ignore]  # noqa: N812

import vornkit
from vornkit import _native
from vornkit._blocking import (
    BlockingRule,
    CandidateLimitError,
    _expand,
    _key_function,
    auto_blocking_rules,
    find_sorted,
)
from vornkit._candidate_pairs import ALL_PAIRS, BUDGET_PER_RECORD, MAX_CLUSTER_SIZE, Blocking, as_rules, rule_columns
from vornkit._clusters import cluster_pairs
from vornkit._comparisons import normal_dates
from vornkit._fellegi_sunter import DEFAULT_THRESHOLD, LinkageModel, RowWeigher, _read, probability
from vornkit._records import read_columns
from vornkit._spark_common import (
    TAGGED_SCHEMA,
    components,
    concatenated,
    count_checked_ids,
    destination_order,
    partition_labels,
    received,
    shipped,
    tagged,
    untagged,
)

FIT_SAMPLE = 100_000  # records of each table a model is fitted on when none is given
SKEW_ROWS = 2_000  # records sharing one blocking key above which its pairs are spread over several tasks
MAX_SALTS = 256  # the most tasks one key's pairs are spread over
WEIGH_ROWS = 1 << 16  # pairs weighed at a time
GROUP_ROWS_PER_TASK = 400_000  # key rows (each carrying its record) per task of the grouping
COUNT_KEYS_PER_TASK = 4_000_000  # keys of records per task of the key counts
RECORDS_TAG = -1  # the tag of the prepared records' tables (their counts' tags are tasks' labels, from 0)
SEND_RECORDS = 1 << 16  # records whose key rows a task ships at once
PREPARE_RECORDS = 1 << 16  # records prepared at once (each distinct value once)
BROADCAST_ROWS = 4_000_000  # the most rows of a count table sent whole to every executor
FILTER_BITS_PER_KEY = 16  # bits of the filter of the keys that make pairs, per such key
DICTIONARY_SHARE = 4  # a shipped string column is dictionary-encoded with at most one distinct value in this many
HASH_DISTINCT_FROM = 1024  # strings from which _text_hashes looks for repeated ones
HASH_BITS = 64  # bits of the hashes of keys, ids and term values (see _hash_mask)

_log = logging.getLogger("vornkit.spark")


@dataclass
class _Plan:
    """What the executors compute for each record."""

    model: LinkageModel
    columns: list[str]  # preprocessed columns: the model's fields, then the other rule columns
    rules: list[BlockingRule]  # empty: every pair is compared
    term_fields: list[str]  # fields whose exact agreement is weighed by the value's frequency
    # Derived from the rules: the (column, key function) of each derived key part; each exact
    # rule's key parts as prepared columns; the (rule, band) of each key slot, in the local order.
    parts: list[tuple[str, Any]] = dataclasses.field(default_factory=list)
    part_columns: list[list[str]] = dataclasses.field(default_factory=list)
    slots: list[tuple[int, int | None]] = dataclasses.field(default_factory=list)

    def __post_init__(self) -> None:
        for r, rule in enumerate(self.rules):
            if rule.kind == "exact":
                names = []
                for column, key in zip(rule.columns, rule.keys):
                    if _key_function(key) is None:
                        names.append(f"v{self.columns.index(column)}")
                        continue
                    if (column, key) not in self.parts:
                        self.parts.append((column, key))
                    names.append(f"p{self.parts.index((column, key))}")
                self.part_columns.append(names)
                self.slots.append((r, None))
            else:
                self.part_columns.append([])
                self.slots += [(r, band) for band in range(rule.bands)]

    @property
    def fields(self) -> list[str]:
        return [field.name for field in self.model.fields]

    def term_column(self, k: int) -> str:
        """The prepared column of a term field's counted values: its values, or for a date field
        its values in one layout."""
        name = self.term_fields[k]
        is_date = next(field.kind == "date" for field in self.model.fields if field.name == name)
        return f"t{k}" if is_date else f"v{self.columns.index(name)}"


# ---------------------------------------------------------------- executors


def _date_terms(layout: str) -> Callable[[pa.Array], pa.Array]:
    """The values under which a date field's values are counted: in one layout, as the model
    compares them (null stays null), each distinct value once per batch."""

    def run(values: pa.Array) -> pa.Array:
        encoded = values.dictionary_encode()
        texts, _ = normal_dates(encoded.dictionary.to_pylist(), layout)
        return pa.array(texts, pa.string()).take(encoded.indices)

    return run


def _band_keys(rule: BlockingRule, values: dict[str, list[str | None]], rows: int) -> pa.Array:
    """A MinHash rule's band keys of each record (null without text)."""
    texts = [" ".join(v for v in row if v) for row in zip(*(values[column] for column in rule.columns))]
    present = np.fromiter((bool(text) for text in texts), dtype=bool, count=rows)
    signatures = vornkit.minhash_signatures([t for t in texts if t], rule.shingle_size, rule.bands * rule.rows)
    band_keys = vornkit.lsh_band_keys(signatures, rule.bands, rule.rows).view(np.int64).reshape(-1)
    offsets = np.zeros(rows + 1, dtype=np.int32)
    offsets[1:] = np.cumsum(present * rule.bands)
    return pa.ListArray.from_arrays(pa.array(offsets), pa.array(band_keys), mask=pa.array(~present))


def _preprocessed(processor: vorn.Preprocessor | None) -> Callable[[pa.Array], pa.Array]:
    """Values as ``read_columns`` and ``preprocess`` make them: processed by the native kernel,
    each distinct value once per batch (without Python strings); "" and what becomes "" are
    missing, and null stays null."""

    def run(values: pa.Array) -> pa.Array:
        encoded = values.dictionary_encode()
        distinct = encoded.dictionary
        if processor is not None:
            distinct = pa.array(_native.apply_processor(_native.Strings(distinct, "values"), processor, 1))
        distinct = distinct.cast(pa.string())
        present = pc.greater(pc.binary_length(distinct), 0)
        return pc.if_else(present, distinct, pa.nulls(len(distinct), pa.string())).take(encoded.indices)

    return run


def _each_distinct(function: Callable[[str], str | None]) -> Callable[[pa.Array], pa.Array]:
    """Applies a function to strings, each distinct value once per task (null stays null); an
    empty result is null."""
    cache: dict[str, str | None] = {}

    def run(values: pa.Array) -> pa.Array:
        if len(cache) > 1 << 20:  # bounded: a task of many distinct values starts again
            cache.clear()
        encoded = values.dictionary_encode()
        distinct = encoded.dictionary.to_pylist()
        for value in distinct:
            if value not in cache:
                cache[value] = (function(value) or None) if value else None
        return pa.array([cache[value] for value in distinct], pa.string()).take(encoded.indices)

    return run


def _texts(column: pa.Array) -> pa.Array:
    """A column of records as strings, as ``read_columns`` reads it (but "" kept, as is)."""
    if pa.types.is_string(column.type) or pa.types.is_large_string(column.type):
        return column
    return pa.array(read_columns({"column": column.to_pylist()}, ["column"])[0]["column"], pa.string())


def _prepare(
    id_col: str, plan: _Plan, side: int, count_labels: np.ndarray
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: records to tables of prepared records (``_prepared_schema``), each
    shipped whole (TAGGED_SCHEMA, under RECORDS_TAG): the later stages read them without Spark's
    rows. With each table, its keys' and term values' counts, tagged for the tasks that count
    them over the input (``_counts``)."""
    fields = {field.name: field for field in plan.model.fields}
    use_processor = plan.model.preprocess
    keep, at_once = _hash_mask(), PREPARE_RECORDS  # read on the driver, not in the executors
    counts = _counts(plan, side, count_labels)

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        processor = vorn.Preprocessor() if use_processor else None
        # Preprocessed as read_columns and preprocess do it: "" and what becomes "" are missing.
        preprocessed = _preprocessed(processor)
        # Dates are counted in one layout; other values as they are.
        term_keys = [
            _date_terms(fields[name].date_layout or "yyyymmdd") if fields[name].kind == "date" else None
            for name in plan.term_fields
        ]
        part_keys = [_each_distinct(_key_function(key)) for _, key in plan.parts]  # type: ignore[arg-type]
        for table in _gathered(batches, at_once):
            values = {name: preprocessed(_texts(table.column(name).chunk(0))) for name in plan.columns}
            arrays = [table.column(id_col).chunk(0), *(values[name] for name in plan.columns)]
            arrays += [term(values[name]) for name, term in zip(plan.term_fields, term_keys) if term is not None]
            arrays += [key(values[column]) for (column, _), key in zip(plan.parts, part_keys)]
            if any(rule.kind != "exact" for rule in plan.rules):
                listed = {name: column.to_pylist() for name, column in values.items()}
                arrays += [_band_keys(rule, listed, table.num_rows) for rule in plan.rules if rule.kind != "exact"]
            table = pa.Table.from_arrays(arrays, names=_prepared_names(plan))
            table = pa.Table.from_arrays(
                [*table.columns, *_key_hashes(plan, table, keep), pa.array(_id_hashes(table.column("_id"), keep))],
                names=[*table.column_names, *_hash_names(plan), "_idh"],
            )
            yield tagged(RECORDS_TAG, table)
            yield from counts(table)

    return run


def _hash_mask() -> np.uint64:
    """The bits kept of the hashes of keys, ids and term values: all of them (tests keep fewer,
    so that different values share a hash)."""
    return np.uint64((1 << HASH_BITS) - 1)


def _id_hashes(ids: pa.ChunkedArray, keep: np.uint64) -> np.ndarray:
    """A 64-bit hash of each id: a record of a key split into parts leads in the part it picks."""
    ids = ids.combine_chunks()
    if pa.types.is_integer(ids.type):
        hashed = _code(0, pc.cast(ids, pa.int64()).to_numpy(zero_copy_only=False))
    else:
        hashed = _text_hashes(ids)
    return (hashed & keep).view(np.int64)


def _hash_names(plan: _Plan) -> list[str]:
    return [f"h{slot}" for slot in range(_slot_count(plan))]


def _key_hashes(plan: _Plan, table: pa.Table, keep: np.uint64) -> list[pa.Array]:
    """Each slot's key of the records as a 64-bit integer, h0, h1, ... (null without a key): a
    MinHash band's key itself, or a hash of an exact key's parts, in order (a key needs every
    part, and "" is none). Keys are counted and routed by it; a pair's shared key is then checked
    on the parts."""
    rows = table.num_rows
    if not plan.slots:
        return [pa.array(np.zeros(rows, dtype=np.int64))]
    found = []
    parts: dict[str, tuple[np.ndarray, np.ndarray]] = {}  # column -> (filled, text hashes), once each
    for slot, (r, band) in enumerate(plan.slots):
        if band is None:
            present = np.ones(rows, dtype=bool)
            hashed = np.zeros(rows, dtype=np.uint64)
            for name in plan.part_columns[r]:
                if name not in parts:
                    part = table.column(name).combine_chunks()
                    filled = pc.fill_null(pc.greater(pc.binary_length(part), 0), False)
                    parts[name] = (filled.to_numpy(zero_copy_only=False), _text_hashes(part))
                present &= parts[name][0]
                hashed = _code(slot, parts[name][1], hashed)
            found.append(pa.array((hashed & keep).view(np.int64), mask=~present))
        else:
            keys, present = _band_matrix(table.column(f"k{r}").combine_chunks(), plan.rules[r].bands)
            found.append(pa.array(keys[:, band], mask=~present))
    return found


def _band_matrix(lists: pa.ListArray, bands: int) -> tuple[np.ndarray, np.ndarray]:
    """A MinHash rule's band keys (rows x bands; zero without text) and which rows have them."""
    present = lists.is_valid().to_numpy(zero_copy_only=False)
    keys = np.zeros((len(lists), bands), dtype=np.int64)
    keys[present] = lists.flatten().to_numpy().reshape(-1, bands)
    return keys, present


def _unpacked(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
    """The prepared records of the tables that ``_prepare`` shipped (see ``_record_tables``)."""
    for _, table in untagged(batches):
        yield from table.to_batches()


def _record_tables(prepared: DataFrame) -> DataFrame:
    """The rows of the prepared records' tables, without their counts."""
    return prepared.where(F.col("tag") == RECORDS_TAG)


def _count_tables(prepared: DataFrame) -> DataFrame:
    """The rows of the counts of the prepared records, tagged for the tasks that add them up."""
    return prepared.where(F.col("tag") != RECORDS_TAG)


def _prepared_names(plan: _Plan) -> list[str]:
    return (
        ["_id"]
        + [f"v{k}" for k in range(len(plan.columns))]
        + [f"t{k}" for k in range(len(plan.term_fields)) if plan.term_column(k) == f"t{k}"]
        + [f"p{k}" for k in range(len(plan.parts))]
        + [f"k{r}" for r, rule in enumerate(plan.rules) if rule.kind != "exact"]
    )


def _prepared_schema(plan: _Plan, id_type: str) -> str:
    """The prepared columns: the id; strings (values, term values, key parts); the MinHash rules'
    band keys (k0, k1, ...); each slot's key hash (h0, h1, ...) and the id's hash. Term values
    equal to a column already there are not repeated."""
    names = _prepared_names(plan)
    minhash = {f"k{r}" for r, rule in enumerate(plan.rules) if rule.kind != "exact"}
    types = [id_type] + ["array<bigint>" if name in minhash else "string" for name in names[1:]]
    hashes = [f"{name} bigint" for name in [*_hash_names(plan), "_idh"]]
    return ", ".join([*(f"{name} {kind}" for name, kind in zip(names, types)), *hashes])


def _codes(column: pa.Array) -> tuple[np.ndarray, pa.Array]:
    """Each row's index into the column's distinct values (-1 for null), and the distinct values
    (a dictionary column's, each value once, as ``concatenated`` made it)."""
    encoded = column if pa.types.is_dictionary(column.type) else column.dictionary_encode()
    codes = pc.fill_null(encoded.indices, -1).to_numpy(zero_copy_only=False).astype(np.int64)
    return codes, encoded.dictionary


class _Block:
    """A task's key rows: the check that a pair's slot is the first the two records share, and the
    weigher of their pairs. The rows stay as received; what is read of them is indexed in ``order``
    (row k is the table's row order[k]), so that a run's pairs read neighbouring rows. Columns are
    encoded once, on first use."""

    def __init__(self, table: pa.Table, plan: _Plan, skipped: dict[int, np.ndarray], order: np.ndarray) -> None:
        self.table, self.plan, self.skipped, self.order = table, plan, skipped, order
        self.slot = table.column("slot").to_numpy()[order]
        self._encoded: dict[str, tuple[np.ndarray, pa.Array]] = {}
        self._part_codes: tuple[np.ndarray, list[list[int]]] | None = None
        self._bands: dict[int, tuple[np.ndarray, np.ndarray]] = {}
        self._skipped_rows: dict[int, np.ndarray] = {}

    def codes(self, name: str) -> tuple[np.ndarray, pa.Array]:
        if name not in self._encoded:
            codes, dictionary = _codes(self.table.column(name).chunk(0))
            self._encoded[name] = (codes[self.order], dictionary)
        return self._encoded[name]

    def bands(self, rule: int) -> tuple[np.ndarray, np.ndarray]:
        """A MinHash rule's band keys (rows x bands) and which rows have them."""
        if rule not in self._bands:
            keys, present = _band_matrix(self.table.column(f"k{rule}").chunk(0), self.plan.rules[rule].bands)
            self._bands[rule] = (keys[self.order], present[self.order])
        return self._bands[rule]

    def in_skipped_bucket(self, slot: int) -> np.ndarray:
        """Whether each row's key of a MinHash slot is a bucket skipped for its size."""
        if slot not in self._skipped_rows:
            rule, band = self.plan.slots[slot]
            keys, present = self.bands(rule)
            self._skipped_rows[slot] = present & np.isin(keys[:, band], self.skipped.get(slot, ()))
        return self._skipped_rows[slot]

    def share_band(self, slot: int, a: np.ndarray, b: np.ndarray) -> np.ndarray:
        """Whether the records of the pairs (a, b) share a key of this MinHash slot that makes pairs."""
        rule, band = self.plan.slots[slot]
        keys, present = self.bands(rule)
        shared = np.asarray(present[a] & present[b] & (keys[a, band] == keys[b, band]), dtype=bool)
        if slot in self.skipped:
            shared &= ~self.in_skipped_bucket(slot)[a]
        return shared

    def part_codes(self) -> tuple[np.ndarray, list[list[int]]]:
        """The codes of every exact rule's key parts, a row per record (read a pair's two rows at
        once; "", which makes no key, is missing like null), and each rule's columns in it."""
        if self._part_codes is None:
            names = list(dict.fromkeys(name for names in self.plan.part_columns for name in names))
            matrix = np.empty((self.table.num_rows, len(names)), dtype=np.int32)
            for column, name in enumerate(names):
                codes, dictionary = self.codes(name)
                empty = pc.index(dictionary, "").as_py()
                matrix[:, column] = np.where(codes == empty, -1, codes) if empty >= 0 else codes
            columns = [[names.index(name) for name in part_names] for part_names in self.plan.part_columns]
            self._part_codes = (matrix, columns)
        return self._part_codes

    def first_shared(self, a: np.ndarray, b: np.ndarray) -> np.ndarray:
        """Whether each pair's slot is the first slot its records share: so a pair that several
        rules or bands find is weighed once, as the local union of the rules keeps it once. Runs
        are keys' 64-bit hashes: a pair whose records only share a hash, not the key, is dropped."""
        if not self.plan.slots or not len(a):
            return np.ones(len(a), dtype=bool)
        own = self.slot[a]
        matrix, columns = self.part_codes()
        left = matrix[a]
        agree = (left == matrix[b]) & (left >= 0)
        shared = np.empty((len(a), int(own.max()) + 1), dtype=bool)
        for at in range(shared.shape[1]):
            rule, band = self.plan.slots[at]
            if band is None:
                shared[:, at] = agree[:, columns[rule]].all(axis=1)
            else:
                shared[:, at] = self.share_band(at, a, b)
        # The first True of each row is its first shared slot (argmax); it must be the pair's own.
        first: np.ndarray = shared[np.arange(len(a)), own] & (np.argmax(shared, axis=1) == own)
        return first

    def weigher(self, model: LinkageModel, totals: list[int], term: dict[str, int]) -> RowWeigher:
        """The weigher of this block's pairs. A value's frequency is its count over the whole input
        divided by the present values, as the local model divides them; a right record's is not
        known (the left value's is weighed)."""
        values: dict[str, tuple[list[str] | _native.Strings, np.ndarray]] = {}
        for k, field in enumerate(model.fields):
            codes, dictionary = self.codes(f"v{k}")
            # Dates are parsed from Python strings; other values go to the pair kernel as they are.
            distinct = dictionary.to_pylist() if field.kind == "date" else _native.Strings(dictionary, field.name)
            values[field.name] = (distinct, codes)
        frequencies = {
            name: pc.cast(self.table.column(f"c{k}"), pa.float64()).to_numpy(zero_copy_only=False)[self.order]
            / max(totals[k], 1)
            for name, k in term.items()
        }
        return RowWeigher(model, values, frequencies)


def _run_pairs(runs: pa.Table, dedup: bool, no_pairs: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Each row's first partner and partner count in its run, the rows sorted by (slot, key, salt,
    side, id): deduplicating, every later row of the run when the row leads (its salt part is its
    own); linking, every right row of the run when the row is a left one (left rows sort first).
    A row of ``no_pairs`` makes none."""
    rows = runs.num_rows
    starts = np.flatnonzero(_run_starts(runs))
    ends = np.r_[starts[1:], rows]
    run = np.repeat(np.arange(len(starts)), ends - starts)
    position = np.arange(rows, dtype=np.int64)
    if dedup:
        first_right = starts
        leads = runs.column("lead").to_numpy(zero_copy_only=False)
    else:
        leads = runs.column("side").to_numpy() == 0
        first_right = starts + np.add.reduceat(leads.astype(np.int64), starts) if rows else starts
    begin = np.maximum(position + 1, first_right[run])
    count = np.where(leads & ~no_pairs, np.maximum(ends[run] - begin, 0), 0)
    return begin, count


def _run_starts(table: pa.Table) -> np.ndarray:
    """Whether each row starts a run of equal (slot, key, salt)."""
    changed = np.ones(table.num_rows, dtype=bool)
    if table.num_rows < 2:
        return changed
    same = np.ones(table.num_rows - 1, dtype=bool)
    for name in ("slot", "key", "salt"):
        column = table.column(name).to_numpy()
        same &= column[1:] == column[:-1]
    changed[1:] = ~same
    return changed


def _group_and_weigh(
    plan: _Plan,
    totals: list[int],
    threshold: float,
    dedup: bool,
    skipped: dict[int, np.ndarray],
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: the key rows shipped to this task (each carrying its record) to the pairs
    at or above the threshold, with their match probability and weight. The rows are ordered by
    (slot, key, salt, side, id); each run of equal key's pairs are made, kept when their slot is
    the first their records share, and weighed WEIGH_ROWS at a time. The task's values are
    encoded once."""
    model, limit = plan.model, WEIGH_ROWS  # read on the driver, not in the executors
    term = {name: k for k, name in enumerate(plan.term_fields)}
    order_names = ["slot", "key", "salt", "side", "_id"] + ([] if dedup else ["_rid"])

    def pairs_of(block: _Block) -> Iterator[pa.RecordBatch]:
        """The pairs of the block's rows, sorted."""
        runs = block.table.select(["slot", "key", "salt", "side", *(["lead"] if dedup else [])]).take(block.order)
        # A bucket skipped for its size makes no pair (a row reaches it only through a hash collision).
        no_pairs = np.zeros(block.table.num_rows, dtype=bool)
        for slot in skipped:
            no_pairs |= (block.slot == slot) & block.in_skipped_bucket(slot)
        begin, count = _run_pairs(runs, dedup, no_pairs)
        rows = np.flatnonzero(count)
        ends = np.cumsum(count[rows])
        left_ids = block.table.column("_id").chunk(0)
        right_ids = left_ids if dedup else block.table.column("_rid").chunk(0)
        weigher = None
        done = 0
        while done < len(rows):
            base = int(ends[done - 1]) if done else 0
            stop = max(done + 1, int(np.searchsorted(ends, base + limit, side="right")))
            part = rows[done:stop]
            a, b = _expand(part, begin[part], count[part])
            kept = block.first_shared(a, b)
            a, b = a[kept], b[kept]
            done = stop
            if not len(a):
                continue
            weigher = weigher or block.weigher(model, totals, term)
            weight = weigher.weights(a, b)
            chance = probability(weight)
            keep = np.flatnonzero(chance >= threshold)
            yield pa.RecordBatch.from_arrays(
                [
                    left_ids.take(pa.array(block.order[a[keep]])),
                    right_ids.take(pa.array(block.order[b[keep]])),
                    pa.array(chance[keep]),
                    pa.array(weight[keep]),
                ],
                names=["left_id", "right_id", "match_probability", "match_weight"],
            )

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        table = received(batches)
        if table is None:
            return
        order = pc.sort_indices(table, sort_keys=[(name, "ascending") for name in order_names])
        yield from pairs_of(_Block(table, plan, skipped, order.to_numpy().astype(np.int64)))

    return run


# ---------------------------------------------------------------- driver


def _resolve_model(
    model: LinkageModel | str | Path | None, on: Sequence[Any] | None, preprocess_values: bool
) -> LinkageModel:
    if model is None:
        if on is None:
            raise ValueError("give the fields to compare (on=...) or a model")
        return LinkageModel(on, preprocess=preprocess_values)
    if on is not None:
        raise ValueError("give either the fields to compare (on=...) or a model, not both")
    if isinstance(model, (str, Path)):
        return LinkageModel.load(model)
    if not isinstance(model, LinkageModel):
        raise TypeError(f"model must be a LinkageModel or the path of a saved one, not {type(model).__name__}")
    return model


def _sample(df: DataFrame, id_col: str, columns: list[str], rows: int, seed: int) -> pa.Table:
    """About FIT_SAMPLE records of the table on the driver, in the order of their ids: a table
    that fits whole gives the model that ``link_records`` fits on it sorted by id."""
    fraction = min(1.0, FIT_SAMPLE / max(rows, 1))
    part = df if fraction >= 1.0 else df.sample(fraction=fraction, seed=seed)
    return part.orderBy(id_col).select(*columns).toArrow()


def _chosen_rules(
    model: LinkageModel,
    samples: tuple[pa.Table, pa.Table | None],
    rows: tuple[int, int | None],
    blocking: Sequence[Any] | None,
) -> list[BlockingRule]:
    """The user's rules; none (every pair) when the input has few pairs, as locally; else rules
    chosen on the sample, with the budget per record scaled down by the sample's share, since an
    exact key's pairs per record grow with the table."""
    if blocking is not None:
        return as_rules(blocking)
    left_rows, right_rows = rows
    if _pair_count(left_rows, right_rows) <= ALL_PAIRS:
        return []
    _, tables = _read(model.fields, samples[0], samples[1], model._processor(), complete=False)
    share = samples[0].num_rows / max(left_rows, 1)
    return list(
        auto_blocking_rules(
            tables.values[0],
            tables.values[1],
            [field.name for field in model.fields],
            budget_per_record=BUDGET_PER_RECORD * share,
        )
    )


def _pair_count(left_rows: int, right_rows: int | None) -> int:
    return left_rows * (left_rows - 1) // 2 if right_rows is None else left_rows * right_rows


def _records(df: DataFrame, id_col: str, plan: _Plan, side: int, count_labels: np.ndarray) -> DataFrame:
    """The prepared records and their counts, materialised as whole tables (see ``_prepare``): the
    key counts read the counts, the grouping the records."""
    selected = df.select(id_col, *dict.fromkeys(c for c in plan.columns if c != id_col))
    # Every core prepares records, and every later stage reads them as they are partitioned here.
    tasks = df.sparkSession.sparkContext.defaultParallelism
    if selected.rdd.getNumPartitions() < tasks:
        selected = selected.repartition(tasks)
    return selected.mapInArrow(_prepare(id_col, plan, side, count_labels), TAGGED_SCHEMA).localCheckpoint()


def _as_rows(records: DataFrame, plan: _Plan, id_type: str) -> DataFrame:
    """The prepared records (see ``_records``) as Spark's rows, one per record."""
    return _record_tables(records).mapInArrow(_unpacked, _prepared_schema(plan, id_type))


def _with_term_counts(sides: list[DataFrame], plan: _Plan) -> tuple[list[DataFrame], list[int]]:
    """The prepared records with their term values' counts over all the input (c0, c1, ...) in
    place of the term values, and each term field's number of present values. A count table of
    at most BROADCAST_ROWS values is sent whole to the executors, so the records are not shuffled."""
    totals = [0] * len(plan.term_fields)
    if not plan.term_fields:
        return sides, totals
    # One aggregation keyed by (field, value) counts every term field's values at once.
    entries = F.array(
        *(F.struct(F.lit(k).alias("k"), F.col(plan.term_column(k)).alias("term")) for k in range(len(totals)))
    )
    values = sides[0].select(F.inline(entries))
    for other in sides[1:]:
        values = values.unionAll(other.select(F.inline(entries)))
    counts = (
        values.where(F.col("term").isNotNull()).groupBy("k", "term").agg(F.count(F.lit(1)).alias("n"))
    ).localCheckpoint()
    distinct = 0
    for k, present, terms in counts.groupBy("k").agg(F.sum("n"), F.count(F.lit(1))).collect():
        totals[k] = int(present)
        distinct += int(terms)
    counted = sides
    for k in range(len(totals)):
        term = f"_term{k}"
        field_counts = counts.where(F.col("k") == k).select(F.col("term").alias(term), F.col("n").alias(f"c{k}"))
        if distinct <= BROADCAST_ROWS:
            field_counts = F.broadcast(field_counts)
        counted = [
            side.join(field_counts, side[plan.term_column(k)] == field_counts[term], "left").drop(term)
            for side in counted
        ]
    counted = [side.drop(*(f"t{k}" for k in range(len(totals)))) for side in counted]
    return counted, totals


def _slot_count(plan: _Plan) -> int:
    """Key slots: one per exact rule and per MinHash band; without rules one, whose key every
    record shares."""
    return max(1, len(plan.slots))


_SPREAD = (0x9E3779B97F4A7C15, 0xBF58476D1CE4E5B9, 0x94D049BB133111EB)


def _code(slot: np.ndarray | int, keys: np.ndarray, salt: np.ndarray | int = 0) -> np.ndarray:
    """A well-spread 64-bit code of (slot, key, salt): where a key's rows go, and what the sets of
    keys are looked up by. Two keys may share a code; that costs work, never a pair."""
    with np.errstate(over="ignore"):
        x = keys.view(np.uint64) ^ (np.asarray(slot, dtype=np.uint64) << np.uint64(48))
        x = x ^ (np.asarray(salt, dtype=np.uint64) * np.uint64(_SPREAD[0]))
        x = (x ^ (x >> np.uint64(30))) * np.uint64(_SPREAD[1])
        x = (x ^ (x >> np.uint64(27))) * np.uint64(_SPREAD[2])
        return np.asarray(x ^ (x >> np.uint64(31)))


def _text_hashes(texts: pa.Array) -> np.ndarray:
    """A 64-bit hash of each string's UTF-8 bytes (a null's means nothing): term values are counted
    and looked up by it once no two counted values of a field are found to share one. Where at
    least half the strings repeat others, each distinct string is hashed once."""
    if not (pa.types.is_string(texts.type) or pa.types.is_large_string(texts.type)):
        texts = texts.cast(pa.large_string())
    if len(texts) >= HASH_DISTINCT_FROM:
        encoded = texts.dictionary_encode()
        if 0 < 2 * len(encoded.dictionary) <= len(texts):
            each: np.ndarray = _byte_hashes(encoded.dictionary)[pc.fill_null(encoded.indices, 0).to_numpy()]
            return each
    return _byte_hashes(texts)


def _byte_hashes(texts: pa.Array) -> np.ndarray:
    """``_text_hashes`` of each string, computed over all their bytes."""
    if not len(texts):
        return np.zeros(0, dtype=np.uint64)
    width = np.dtype(np.int64 if pa.types.is_large_string(texts.type) else np.int32)
    _, offsets_buffer, data_buffer = texts.buffers()
    offsets = np.frombuffer(offsets_buffer, width, len(texts) + 1, texts.offset * width.itemsize).astype(np.int64)
    data = np.frombuffer(data_buffer, np.uint8) if data_buffer is not None else np.zeros(0, np.uint8)
    lengths = np.diff(offsets)
    begin, end = int(offsets[0]), int(offsets[-1])
    # Each byte (plus one) times a power of an odd constant, by its distance from its string's end.
    owner = np.repeat(np.arange(len(texts)), lengths)
    from_end = offsets[1:][owner] - 1 - np.arange(begin, end)
    with np.errstate(over="ignore"):
        powers = np.cumprod(np.full(max(int(lengths.max(initial=0)), 1), _SPREAD[0], dtype=np.uint64))
        terms = (data[begin:end].astype(np.uint64) + np.uint64(1)) * powers[from_end]
    sums = np.zeros(len(texts), dtype=np.uint64)
    filled = lengths > 0
    if filled.any():
        sums[filled] = np.add.reduceat(terms, offsets[:-1][filled] - begin)
    return _code(0, sums, lengths)


def _term_hashes(values: pa.Array, keep: np.uint64) -> np.ndarray:
    """The hashes term values are counted and looked up by (as int64)."""
    return (_text_hashes(values) & keep).view(np.int64)


def _gathered(batches: Iterator[pa.RecordBatch], rows: int) -> Iterator[pa.Table]:
    """The batches as tables of one chunk of at least ``rows`` rows (the last may be shorter)."""
    gathered: list[pa.RecordBatch] = []
    count = 0
    for batch in batches:
        gathered.append(batch)
        count += batch.num_rows
        if count >= rows:
            yield pa.Table.from_batches(gathered).combine_chunks()
            gathered, count = [], 0
    if count:
        yield pa.Table.from_batches(gathered).combine_chunks()


def _column(table: pa.Table, name: str, fill: int = 0) -> np.ndarray:
    """An integer column as a NumPy array, nulls as ``fill`` (all ``fill`` when the table lacks it)."""
    if name not in table.column_names:
        return np.full(table.num_rows, fill, dtype=np.int64)
    values: np.ndarray = pc.fill_null(table.column(name), fill).to_numpy().astype(np.int64)
    return values


def _present_keys(table: pa.Table, slot: int) -> tuple[np.ndarray, np.ndarray]:
    """The rows that have a key of this slot, and their keys' 64-bit integers."""
    column = table.column(f"h{slot}")
    rows = np.flatnonzero(pc.is_valid(column).to_numpy(zero_copy_only=False))
    return rows, _column(table, f"h{slot}")[rows]


def _counts(plan: _Plan, side: int, labels: np.ndarray) -> Callable[[pa.Table], Iterator[pa.RecordBatch]]:
    """Prepared records (see ``_prepare``) to each key's and each term value's count among them,
    tagged for the task that counts it over all the input."""
    slots, partitions = _slot_count(plan), len(labels)
    counted = ("n_left", "n_right")[side]
    keep = _hash_mask()  # read on the driver, not in the executors

    def term_counts(table: pa.Table) -> tuple[pa.Table, np.ndarray]:
        """Each term field's values among the records with their counts, (field, value, hash, n),
        and the task that counts each over the input."""
        found = []
        for k in range(len(plan.term_fields)):
            values = pc.value_counts(table.column(plan.term_column(k)).combine_chunks())
            distinct = pc.drop_null(values.field("values"))
            counts = values.field("counts").filter(values.field("values").is_valid())
            found.append(
                pa.table(
                    {
                        "field": pa.array(np.full(len(distinct), k, dtype=np.int32)),
                        "value": distinct,
                        "hash": pa.array(_term_hashes(distinct, keep)),
                        "n": pc.cast(counts, pa.int64()),
                    }
                )
            )
        terms = pa.concat_tables(found)
        destination = _code(_column(terms, "field"), _column(terms, "hash")) % np.uint64(partitions)
        return terms, destination.astype(np.int64)

    def run(table: pa.Table) -> Iterator[pa.RecordBatch]:
        slot, keys, counts = [], [], []
        for s in range(slots):
            distinct, n = np.unique(_present_keys(table, s)[1], return_counts=True)
            slot.append(np.full(len(distinct), s, dtype=np.int32))
            keys.append(distinct)
            counts.append(n.astype(np.int64))
        every_slot, found = np.concatenate(slot), np.concatenate(keys)
        destination = (_code(every_slot, found) % np.uint64(partitions)).astype(np.int64)
        order = destination_order(destination)
        counts_table = pa.table(
            {"slot": every_slot[order], "key": found[order], counted: np.concatenate(counts)[order]}
        )
        yield from shipped(counts_table, destination[order], labels)
        if plan.term_fields:
            terms, destination = term_counts(table)
            order = destination_order(destination)
            yield from shipped(terms.take(pa.array(order)), destination[order], labels)

    return run


_SUMMARY = ("pairs", "skewed", "parts", "keys", "rows", "all_rows")
# What a tagged table of the counts holds.
_COUNTED, _SKEWED, _SKIPPED, _USEFUL, _UNLISTED, _TERMS, _TERMS_UNLISTED = range(7)


def _receive_counts(
    plan: _Plan, dedup: bool, skew_rows: int, listed: int
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: a task's share of the keys' and term values' counts to their totals over
    the input: per rule the sums of _SUMMARY; the keys split over several parts (salts); the
    MinHash buckets skipped for their size; the codes of the keys that make pairs, unless there are
    more than ``listed``; and the term values' (field, hash, count), unless there are more than
    ``listed`` or two values of a field share a hash."""
    rule_of = np.array([r for r, _ in plan.slots] or [0], dtype=np.int64)
    max_group = np.array(
        [-1 if band is None else plan.rules[r].max_group for r, band in plan.slots] or [-1], dtype=np.int64
    )
    rules = max(1, len(plan.rules))

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        found = [table for _, table in untagged(batches)]
        terms = concatenated(table for table in found if "value" in table.column_names)
        if terms is not None:
            yield term_totals(terms)
        keys = concatenated(table for table in found if "slot" in table.column_names)
        if keys is not None:
            yield from key_totals(keys)

    def term_totals(table: pa.Table) -> pa.RecordBatch:
        summed = table.group_by(["field", "value"]).aggregate([("hash", "min"), ("n", "sum")])
        field, hashes = _column(summed, "field"), _column(summed, "hash_min")
        order = np.lexsort((hashes, field))
        field, hashes = field[order], hashes[order]
        shared = bool(np.any((field[1:] == field[:-1]) & (hashes[1:] == hashes[:-1])))
        if shared or summed.num_rows > listed:
            return tagged(_TERMS_UNLISTED, pa.table({}))
        return tagged(_TERMS, pa.table({"field": field, "hash": hashes, "n": _column(summed, "n_sum")[order]}))

    def key_totals(table: pa.Table) -> Iterator[pa.RecordBatch]:
        slot, keys = _column(table, "slot"), _column(table, "key")
        # By (slot, key) itself, not by code: two keys sharing a code are counted apart. Each
        # sending task's counts come sorted, and this sort makes use of it.
        order = np.lexsort((keys, slot))
        slot, keys = slot[order], keys[order]
        starts = np.flatnonzero(np.r_[True, (slot[1:] != slot[:-1]) | (keys[1:] != keys[:-1])])
        slot, keys = slot[starts], keys[starts]
        codes = _code(slot, keys)
        n_left = np.add.reduceat(_column(table, "n_left")[order], starts)
        n_right = np.add.reduceat(_column(table, "n_right")[order], starts)
        pairs = n_left * (n_left - 1) // 2 if dedup else n_left * n_right
        # A MinHash rule skips buckets of more than max_group records, as locally.
        skipped = (max_group[slot] >= 0) & (n_left + n_right > max_group[slot]) & (pairs > 0)
        useful = (pairs > 0) & ~skipped
        salts = np.minimum(MAX_SALTS, -(-n_left // skew_rows))
        # Rows the grouping ships: left rows once, right rows (all rows, deduplicating) once per part.
        shipped_rows = salts * n_left if dedup else n_left + salts * n_right
        skewed = useful & (salts > 1)
        # The keys come sorted by slot: summed per slot in runs, then per rule.
        slot_starts = np.flatnonzero(np.r_[True, slot[1:] != slot[:-1]])
        rule = rule_of[slot[slot_starts]]
        summary = {name: np.zeros(rules, dtype=np.int64) for name in _SUMMARY}
        for name, kept, values in [
            ("pairs", useful, pairs),
            ("skewed", skewed, 1),
            ("parts", skewed, salts),
            ("keys", useful, 1),
            ("rows", useful, shipped_rows),
            ("all_rows", ~skipped, shipped_rows),
        ]:
            np.add.at(summary[name], rule, np.add.reduceat(np.where(kept, values, 0), slot_starts))
        yield tagged(_COUNTED, pa.table(summary))
        yield tagged(_SKEWED, pa.table({"code": codes[skewed].view(np.int64), "salts": salts[skewed]}))
        yield tagged(_SKIPPED, pa.table({"slot": slot[skipped], "key": keys[skipped]}))
        if useful.sum() <= listed:
            yield tagged(_USEFUL, pa.table({"code": codes[useful]}))
        else:
            yield tagged(_UNLISTED, pa.table({}))

    return run


class _KeyFilter:
    """The key codes that may make pairs, as a bitmap over the codes' top bits, built from the codes
    of the keys that do: a code outside it makes none. About one in FILTER_BITS_PER_KEY other codes
    passes too, which costs work (rows that make no pair), never a pair. One lookup is one read of
    the bitmap, where a search of the sorted codes takes about twenty."""

    def __init__(self, codes: np.ndarray) -> None:
        self.shift = np.uint64(64 - max(6, int(np.ceil(np.log2(max(len(codes), 1) * FILTER_BITS_PER_KEY)))))
        self.words = np.zeros(1 << (64 - int(self.shift) - 6), dtype=np.uint64)
        top = codes.view(np.uint64) >> self.shift
        np.bitwise_or.at(self.words, (top >> np.uint64(6)).view(np.int64), np.uint64(1) << (top & np.uint64(63)))

    def may_hold(self, codes: np.ndarray) -> np.ndarray:
        top = codes.view(np.uint64) >> self.shift
        bits = self.words[(top >> np.uint64(6)).view(np.int64)] >> (top & np.uint64(63))
        return (bits & np.uint64(1)).astype(bool)


@dataclass
class _Keys:
    """What the key counts tell the grouping."""

    useful: _KeyFilter | None  # the keys that make pairs (None: too many to list)
    salted: tuple[np.ndarray, np.ndarray]  # sorted codes of the keys split into parts, their parts
    skipped: dict[int, np.ndarray]  # MinHash slot -> its buckets skipped for their size, sorted
    rows: int  # key rows the grouping ships (salted rows counted once per part)
    # Per term field, its values' sorted hashes and their counts (None: too many to list, or two
    # values share a hash).
    terms: list[tuple[np.ndarray, np.ndarray]] | None


def _count_keys(
    sides: list[DataFrame],
    plan: _Plan,
    dedup: bool,
    skew_rows: int,
    max_pairs: int | None,
    report: Callable[[str], None],
    records: int,
    count_labels: np.ndarray,
) -> _Keys:
    """Adds up the counts of every key's records and every term value that preparing the records
    made (``sides``: see ``_records``), over ``count_labels`` tasks; reports each rule's pair count
    (and refuses one above ``max_pairs``) before any pair is made. A key shared by more than
    ``skew_rows`` left records is split into parts (up to MAX_SALTS) whose pairs go to different
    tasks."""
    partitions = len(count_labels)
    sent = [_count_tables(prepared) for prepared in sides]
    exchanged = sent[0] if dedup else sent[0].unionAll(sent[1])
    totals = exchanged.repartition(partitions, "tag").mapInArrow(
        _receive_counts(plan, dedup, skew_rows, BROADCAST_ROWS // partitions), TAGGED_SCHEMA
    )
    found: dict[int, list[pa.Table]] = {}
    for tag, table in untagged(totals.toArrow()):
        found.setdefault(tag, []).append(table)

    def gathered(tag: int, **empty: np.ndarray) -> dict[str, np.ndarray]:
        """The columns of the tables under the tag, all tasks' together (``empty`` when none came)."""
        tables = found.get(tag, [])
        return {
            name: np.concatenate([table[name].to_numpy() for table in tables] or [none]) for name, none in empty.items()
        }

    per_rule = np.zeros(max(1, len(plan.rules)), np.int64)
    counted = {name: sum((table[name].to_numpy() for table in found.get(_COUNTED, [])), per_rule) for name in _SUMMARY}
    if plan.rules:
        used = Blocking(plan.rules, [int(count) for count in counted["pairs"]])
        for line in used.describe():
            report(f"blocking: {line}")
    else:
        report("blocking: every pair compared")
    skewed = gathered(_SKEWED, code=np.zeros(0, np.int64), salts=np.zeros(0, np.int64))
    if len(skewed["code"]):
        report(
            f"blocking: {len(skewed['code']):,} keys of more than {skew_rows:,} records spread over "
            f"{int(counted['parts'].sum()):,} tasks"
        )
    if max_pairs is not None and plan.rules:
        for rule, count in zip(used.rules, used.estimated_pairs):
            if count > max_pairs:
                raise CandidateLimitError(
                    f"blocking rule {rule} would make about {count:,} candidate pairs, more than the limit of "
                    f"{max_pairs:,}; use a more selective rule"
                )
    skipped = gathered(_SKIPPED, slot=np.zeros(0, np.int64), key=np.zeros(0, np.int64))
    salted_codes = skewed["code"].view(np.uint64)
    by_code = np.argsort(salted_codes)
    useful = None if _UNLISTED in found else _KeyFilter(gathered(_USEFUL, code=np.zeros(0, np.uint64))["code"])
    terms = gathered(_TERMS, field=np.zeros(0, np.int32), hash=np.zeros(0, np.int64), n=np.zeros(0, np.int64))
    by_hash = np.lexsort((terms["hash"], terms["field"]))
    field, term_hashes, term_counts = (terms[name][by_hash] for name in ("field", "hash", "n"))
    # A value's count is at most the records: 32 bits carry it, in every key row the grouping ships.
    carried_counts = term_counts.astype(np.int32 if records < 2**31 else np.int64)
    return _Keys(
        useful=useful,
        salted=(salted_codes[by_code], skewed["salts"][by_code]),
        skipped={int(slot): np.sort(skipped["key"][skipped["slot"] == slot]) for slot in np.unique(skipped["slot"])},
        rows=int(counted["rows" if useful is not None else "all_rows"].sum()),
        terms=None
        if _TERMS_UNLISTED in found
        else [(term_hashes[field == k], carried_counts[field == k]) for k in range(len(plan.term_fields))],
    )


def _shuffle_partitions(spark: Any) -> int:
    return int(spark.conf.get("spark.sql.shuffle.partitions") or 1)


def _payload_columns(plan: _Plan) -> list[str]:
    """What the weighing and the first-shared-key check read of a record, besides its id."""
    return [
        *(f"v{k}" for k in range(len(plan.columns))),
        *(f"c{k}" for k in range(len(plan.term_fields))),
        *(f"p{k}" for k in range(len(plan.parts))),
        *(f"k{r}" for r, rule in enumerate(plan.rules) if rule.kind != "exact"),
    ]


def _sent_columns(plan: _Plan) -> list[str]:
    """The columns of the records (as rows, with their term values' counts) that the grouping's
    senders read."""
    return ["_id", "_idh", *_payload_columns(plan), *_hash_names(plan)]


def _send_key_rows(
    plan: _Plan, side: int, dedup: bool, keys: _Keys, labels: np.ndarray
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: records to their key rows, each carrying its record's id and payload (values,
    term counts, key parts, MinHash band keys) with (slot, key, salt, side, lead), shipped to the
    task of their (slot, key, salt). Only keys that make pairs are sent, when they are few enough
    to be listed. A key split into parts has its rows (deduplicating: all of them; linking: the
    right ones) copied into each part; a record leads (is a pair's left end) in the part its id
    hashes to, so each pair is made in one part.

    The records come as ``_records`` made them, when the term values' counts are looked up here
    (``keys.terms``); else as rows with the counts joined."""
    partitions = len(labels)
    packed = keys.terms is not None
    keep, at_once = _hash_mask(), SEND_RECORDS  # read on the driver, not in the executors
    carried = ["_id", *_payload_columns(plan)]
    if side == 1:  # the right table's term counts are never read (the left value's frequency is weighed)
        carried = [name for name in carried if not name.startswith("c")]
    salted_codes, salted_parts = keys.salted

    def key_rows(table: pa.Table) -> tuple[np.ndarray, ...]:
        """(record row, slot, key, salt, lead) of each key row, over every slot."""
        id_hash = _column(table, "_idh")
        found_rows, found_slots, found_keys, found_salts, found_leads = [], [], [], [], []
        for slot in range(_slot_count(plan)):
            rows, found = _present_keys(table, slot)
            code = _code(slot, found)
            if keys.useful is not None:
                kept = keys.useful.may_hold(code)
                rows, found, code = rows[kept], found[kept], code[kept]
            at, salted = find_sorted(salted_codes, code)
            parts = np.ones(len(rows), dtype=np.int64)
            parts[salted] = salted_parts[at[salted]]
            own = np.mod(id_hash[rows], parts)
            if dedup or side == 1:
                copy = np.repeat(np.arange(len(rows)), parts)
                salt = np.arange(len(copy)) - np.repeat(np.cumsum(parts) - parts, parts)
                lead = salt == own[copy] if dedup else np.zeros(len(copy), dtype=bool)
            else:
                copy, salt, lead = np.arange(len(rows)), own, np.ones(len(rows), dtype=bool)
            found_rows.append(rows[copy])
            found_slots.append(np.full(len(copy), slot, dtype=np.int32))
            found_keys.append(found[copy])
            found_salts.append(salt.astype(np.int32))
            found_leads.append(lead)
        return tuple(np.concatenate(found) for found in (found_rows, found_slots, found_keys, found_salts, found_leads))

    def with_counts(table: pa.Table) -> pa.Table:
        """The records with their term values' counts, c0, c1, ..., looked up by hash (the counts
        are of every value of the input, and no two values of a field share a hash)."""
        assert keys.terms is not None
        for k, (hashes, counts) in enumerate(keys.terms):
            values = table.column(plan.term_column(k)).combine_chunks()
            at, found = find_sorted(hashes, _term_hashes(values, keep))
            present = found & values.is_valid().to_numpy(zero_copy_only=False)
            looked_up = counts[at] if len(counts) else np.zeros(len(at), dtype=counts.dtype)
            table = table.append_column(f"c{k}", pa.array(looked_up, mask=~present))
        return table

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        for table in _gathered(_unpacked(batches) if packed else batches, at_once):
            if side == 0 and packed:
                table = with_counts(table)
            rows, slot, key, salt, lead = key_rows(table)
            destination = (_code(slot, key, salt) % np.uint64(partitions)).astype(np.int64)
            order = destination_order(destination)
            shipped_rows = _dictionary_encoded(table.select(carried)).take(pa.array(rows[order]))
            if side == 1:
                shipped_rows = shipped_rows.rename_columns(["_rid" if name == "_id" else name for name in carried])
            for name, values in [
                ("slot", slot[order]),
                ("key", key[order]),
                ("salt", salt[order]),
                ("side", np.full(len(order), side, dtype=np.int8)),
                ("lead", lead[order]),
            ]:
                shipped_rows = shipped_rows.append_column(name, pa.array(values))
            yield from shipped(shipped_rows, destination[order], labels)

    return run


def _dictionary_encoded(table: pa.Table) -> pa.Table:
    """The records with each string column of few distinct values (at most one in
    DICTIONARY_SHARE of the records) as a dictionary column: a record is copied into each of its key
    rows, and such a value is then shipped and read once per task. A column of more would carry
    most of its values into every task's dictionary."""
    for position, name in enumerate(table.column_names):
        column = table.column(name)
        if name == "_id" or not (pa.types.is_string(column.type) or pa.types.is_large_string(column.type)):
            continue
        encoded = column.combine_chunks().dictionary_encode()
        if len(encoded.dictionary) * DICTIONARY_SHARE <= table.num_rows:
            table = table.set_column(position, name, encoded)
    return table


def _grouped(sides: list[DataFrame], plan: _Plan, dedup: bool, keys: _Keys, partitions_at_least: int) -> DataFrame:
    """The key rows of the keys that make pairs, shipped so that each (slot, key, salt) is in one
    partition (see ``_send_key_rows``, which says what ``sides`` holds): TAGGED_SCHEMA rows that
    ``_group_and_weigh`` reads."""
    spark = sides[0].sparkSession
    partitions = max(partitions_at_least, -(-keys.rows // GROUP_ROWS_PER_TASK))
    labels = partition_labels(spark, partitions)
    if keys.terms is None:
        sides = [records.select(*_sent_columns(plan)) for records in sides]
    else:
        sides = [_record_tables(records) for records in sides]
    sent = [
        records.mapInArrow(_send_key_rows(plan, side, dedup, keys, labels), TAGGED_SCHEMA)
        for side, records in enumerate(sides)
    ]
    exchanged = sent[0] if dedup else sent[0].unionAll(sent[1])
    return exchanged.repartition(partitions, "tag")


def link(
    left: DataFrame,
    right: DataFrame | None = None,
    *,
    on: Sequence[Any] | None = None,
    id: str | tuple[str, str],
    model: LinkageModel | str | Path | None = None,
    threshold: float | None = None,
    blocking: Sequence[Any] | None = None,
    preprocess: bool = True,
    seed: int = 0,
    skew_rows: int = SKEW_ROWS,
    max_pairs: int | None = None,
    report: Callable[[str], None] | None = None,
) -> DataFrame:
    """Links two DataFrames of records, or deduplicates one, with the Fellegi-Sunter model of
    :func:`vornkit.link_records`: a DataFrame (left_id, right_id, match_probability,
    match_weight) of the candidate pairs at or above ``threshold`` (default 0.5).

    ``model``: a fitted ``LinkageModel`` or the path of one saved by ``vornkit link --model``;
    None (or an unfitted model) fits one on a sample of about 100 000 records of each table
    (``on`` names the fields, as for ``link_records``). ``id``: the column of unique integer or
    string ids (or a (left, right) pair of names), kept exactly; a null or repeated id is refused
    before any work. Deduplicating, each pair comes once, with ``left_id < right_id``.
    ``blocking``: rules as for ``link_records``; by default every pair of small inputs, and rules
    chosen on the sample for larger ones. The estimated pairs of each rule go to ``report`` (by
    default the ``vornkit.spark`` logger) before any pair is made; ``max_pairs`` refuses a rule
    estimated above it (``CandidateLimitError``). A key shared by more than ``skew_rows``
    records has its pairs spread over several tasks.

    With the same records, model and rules, the pairs and probabilities are those of
    ``link_records``, bit for bit, whatever the partitioning.
    """
    dedup = right is None
    for table in (left, right):
        if table is not None and not isinstance(table, DataFrame):
            raise TypeError(f"records must be Spark DataFrames, not {type(table).__name__}")
    if threshold is None:
        threshold = DEFAULT_THRESHOLD
    if not 0.0 <= threshold <= 1.0:
        raise ValueError(f"threshold must be a probability between 0 and 1, not {threshold!r}")
    if skew_rows < 1:
        raise ValueError(f"skew_rows must be at least 1, not {skew_rows!r}")
    names = (id, id) if isinstance(id, str) else tuple(id)
    if len(names) != 2 or not all(isinstance(name, str) for name in names):
        raise ValueError("id: one column name, or a (left, right) pair of names")
    resolved = _resolve_model(model, on, preprocess)
    tables: list[DataFrame] = [left] if right is None else [left, right]
    wanted = [field.name for field in resolved.fields] + [
        name for name in rule_columns(blocking) if name not in {field.name for field in resolved.fields}
    ]
    for side, (table, id_col) in enumerate(zip(tables, names)):
        what = "the DataFrame" if dedup else ("the left DataFrame", "the right DataFrame")[side]
        for name in [id_col, *wanted]:
            if name not in table.columns:
                raise ValueError(f"no column {name!r} in {what}")
    counts = [count_checked_ids(table, id_col) for table, id_col in zip(tables, names)]
    rows = (counts[0], None if dedup else counts[1])
    samples: tuple[pa.Table, pa.Table | None] = (pa.table({}), None)
    if not resolved.fitted or (blocking is None and _pair_count(*rows) > ALL_PAIRS):
        taken = [_sample(table, id_col, wanted, n, seed) for table, id_col, n in zip(tables, names, counts)]
        samples = (taken[0], None if dedup else taken[1])
    if not resolved.fitted:
        resolved.fit(samples[0], samples[1], blocking=blocking, seed=seed)
    # As predict moves it: a prior of all pairs, fitted on a sample or on other tables, fits these.
    resolved = resolved.for_rows(counts[0], counts[0] if dedup else counts[1], dedup)
    rules = _chosen_rules(resolved, samples, rows, blocking)
    field_names = [field.name for field in resolved.fields]
    plan = _Plan(
        model=resolved,
        columns=field_names + [name for name in rule_columns(rules) if name not in field_names],
        rules=rules,
        term_fields=[field.name for field in resolved.fields if field.term_frequency],
    )
    spark = left.sparkSession
    count_tasks = max(_shuffle_partitions(spark), -(-sum(counts) * _slot_count(plan) // COUNT_KEYS_PER_TASK))
    count_labels = partition_labels(spark, count_tasks)
    prepared = [
        _records(table, id_col, plan, side, count_labels) for side, (table, id_col) in enumerate(zip(tables, names))
    ]
    keys = _count_keys(prepared, plan, dedup, skew_rows, max_pairs, report or _log.info, sum(counts), count_labels)
    id_types = [table.schema[id_col].dataType.simpleString() for table, id_col in zip(tables, names)]
    # The grouping's senders look the term values' counts up, or when there are too many to list
    # (or two share a hash), they are joined to the records as rows.
    if keys.terms is not None:  # a term field's present values: the sum of its values' counts
        counted, totals = prepared, [int(counts.sum(dtype=np.int64)) for _, counts in keys.terms]
    else:
        as_rows = [_as_rows(side, plan, id_type) for side, id_type in zip(prepared, id_types)]
        counted, totals = _with_term_counts(as_rows, plan)
    grouped = _grouped(counted, plan, dedup, keys, _shuffle_partitions(spark))
    return grouped.mapInArrow(
        _group_and_weigh(plan, totals, threshold, dedup, keys.skipped),
        f"left_id {id_types[0]}, right_id {id_types[-1]}, match_probability double, match_weight double",
    )


def _split_oversized(threshold: float, max_cluster_size: int) -> Callable[[Any], Any]:
    """applyInPandas body: one oversized component's links to (node, cluster) by the size-capped
    single linkage of ``cluster_pairs``; a cluster's label is its smallest id."""

    def run(links: Any) -> Any:
        import pandas as pd  # type: ignore[import-untyped,unused-ignore]

        first = links["left_id"].to_numpy()
        second = links["right_id"].to_numpy()
        nodes = np.unique(np.concatenate([first, second]))
        labels = cluster_pairs(
            len(nodes),
            np.searchsorted(nodes, first),
            np.searchsorted(nodes, second),
            links["match_probability"].to_numpy(),
            threshold,
            max_cluster_size=max_cluster_size,
        )
        return pd.DataFrame({"node": nodes, "cluster": nodes[labels]})

    return run


def link_clusters(
    df: DataFrame,
    *,
    on: Sequence[Any] | None = None,
    id: str,
    model: LinkageModel | str | Path | None = None,
    threshold: float | None = None,
    max_cluster_size: int | None = MAX_CLUSTER_SIZE,
    **options: Any,
) -> DataFrame:
    """Deduplicates ``df`` into entities: a DataFrame (id, cluster), ``cluster`` being the smallest
    id of the record's entity (its own id when it has no link).

    The links are those of :func:`link` at ``threshold``; their connected components are found in
    Spark, as in :func:`minhash_dedup`, and a component of more than ``max_cluster_size`` records
    is split as ``vornkit.cluster_pairs`` splits it (within one task). The labels are those of
    ``LinkageResult.clusters`` when the local table's row order is the order of the ids. Other
    keyword arguments go to :func:`link`.
    """
    if "right" in options:
        raise TypeError("link_clusters deduplicates one DataFrame; link two with link()")
    if max_cluster_size is not None and max_cluster_size < 1:
        raise ValueError("max_cluster_size must be at least 1")
    threshold = DEFAULT_THRESHOLD if threshold is None else threshold
    links = (
        link(df, on=on, id=id, model=model, threshold=threshold, **options)
        .select("left_id", "right_id", "match_probability")
        .localCheckpoint()
    )
    labels = components(links.select(F.col("left_id").alias("src"), F.col("right_id").alias("dst")))
    if max_cluster_size is not None:
        # A component's smallest id is not among its nodes (it is every other node's component).
        labels = labels.localCheckpoint()
        oversized = labels.groupBy("component").count().where(F.col("count") + 1 > max_cluster_size).select("component")
        # right_id > left_id: never a component's smallest id, so every link of it is found.
        inside = (
            links.join(labels, F.col("right_id") == F.col("node"))
            .join(oversized, "component", "left_semi")
            .select("component", "left_id", "right_id", "match_probability")
        )
        id_type = df.schema[id].dataType.simpleString()
        split = inside.groupBy("component").applyInPandas(
            _split_oversized(threshold, max_cluster_size), f"node {id_type}, cluster {id_type}"
        )
        labels = (
            labels.join(oversized, "component", "left_anti")
            .select("node", "component")
            .unionByName(split.select("node", F.col("cluster").alias("component")))
        )
    return (
        df.select(F.col(id).alias("id"))
        .join(labels, F.col("id") == F.col("node"), "left")
        .select("id", F.coalesce("component", "id").alias("cluster"))
    )


__all__ = ["link", "link_clusters"]
