"""Record linkage on Apache Spark with the model of :func:`vornkit.link_records`.

The executors do the work over Arrow batches: they preprocess the records,
compute blocking keys and term-frequency keys, and weigh the candidate pairs
with the very code of ``LinkageModel.predict`` (``weigh_pair_batch``). Only
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
from vornkit._blocking import BlockingRule, CandidateLimitError, _expand, _key_function, auto_blocking_rules
from vornkit._candidate_pairs import ALL_PAIRS, BUDGET_PER_RECORD, MAX_CLUSTER_SIZE, Blocking, as_rules, rule_columns
from vornkit._clusters import cluster_pairs
from vornkit._comparisons import normal_dates
from vornkit._fellegi_sunter import DEFAULT_THRESHOLD, LinkageModel, _read, probability, weigh_pair_batch
from vornkit._records import preprocess, read_columns
from vornkit._spark_common import BATCH_ROWS, components, count_checked_ids

FIT_SAMPLE = 100_000  # records of each table a model is fitted on when none is given
SKEW_ROWS = 2_000  # records sharing one blocking key above which its pairs are spread over several tasks
MAX_SALTS = 256  # the most tasks one key's pairs are spread over
WEIGH_ROWS = 1 << 16  # pairs weighed at a time: each batch encodes its distinct values once
BLOCK_ROWS = 1 << 15  # key rows gathered before their whole runs are paired
GROUP_ROWS_PER_TASK = 400_000  # key rows (each carrying its record) per task of the grouping
BROADCAST_ROWS = 4_000_000  # the most rows of a count table sent whole to every executor

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

    def key_column(self, rule: int) -> str:
        """The prepared column of a rule's keys: its one key part's, or its own."""
        parts = self.part_columns[rule]
        return parts[0] if len(parts) == 1 else f"k{rule}"


# ---------------------------------------------------------------- executors


def _date_terms(layout: str) -> Callable[[list[str | None]], pa.Array]:
    """The values under which a date field's values are counted: in one layout, as the model
    compares them (null stays null)."""

    def run(values: list[str | None]) -> pa.Array:
        rows = [k for k, value in enumerate(values) if value is not None]
        texts, _ = normal_dates([values[k] for k in rows], layout)  # type: ignore[misc]
        out: list[str | None] = [None] * len(values)
        for k, text in zip(rows, texts):
            out[k] = text
        return pa.array(out, pa.string())

    return run


def _exact_key(parts: list[pa.Array]) -> pa.Array:
    """An exact rule's key from its parts (null when a part is missing): the part itself, or the
    parts length-prefixed, so that ("ab", "c") and ("a", "bc") differ."""
    if len(parts) == 1:
        return parts[0]
    pieces: list[Any] = []
    for part in parts:
        pieces += [pc.cast(pc.utf8_length(part), pa.string()), ":", part]
    return pc.binary_join_element_wise(*pieces, "")


def _band_keys(rule: BlockingRule, values: dict[str, list[str | None]], rows: int) -> pa.Array:
    """A MinHash rule's band keys of each record (null without text)."""
    texts = [" ".join(v for v in row if v) for row in zip(*(values[column] for column in rule.columns))]
    present = np.fromiter((bool(text) for text in texts), dtype=bool, count=rows)
    signatures = vornkit.minhash_signatures([t for t in texts if t], rule.shingle_size, rule.bands * rule.rows)
    band_keys = vornkit.lsh_band_keys(signatures, rule.bands, rule.rows).view(np.int64).reshape(-1)
    offsets = np.zeros(rows + 1, dtype=np.int32)
    offsets[1:] = np.cumsum(present * rule.bands)
    return pa.ListArray.from_arrays(pa.array(offsets), pa.array(band_keys), mask=pa.array(~present))


def _mapper(function: Callable[[str], str | None]) -> Callable[[list[str | None]], pa.Array]:
    """Applies a key function to values (null stays null), each distinct value once per task; an
    empty result makes no key (null)."""
    cache: dict[str | None, str | None] = {None: None}

    def run(values: list[str | None]) -> pa.Array:
        if len(cache) > 1 << 20:  # bounded: a task of many distinct values starts again
            cache.clear()
            cache[None] = None
        for value in set(values):
            if value not in cache:
                cache[value] = function(value) or None  # type: ignore[arg-type]
        return pa.array([cache[value] for value in values], pa.string())

    return run


def _prepare(id_col: str, plan: _Plan) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: records to (id, preprocessed values, term keys, derived key parts, rule keys)."""
    fields = {field.name: field for field in plan.model.fields}
    use_processor = plan.model.preprocess

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        processor = vorn.Preprocessor() if use_processor else None
        # Dates are counted in one layout; other values as they are.
        term_keys = [
            _date_terms(fields[name].date_layout or "yyyymmdd") if fields[name].kind == "date" else None
            for name in plan.term_fields
        ]
        part_keys = [_mapper(_key_function(key)) for _, key in plan.parts]  # type: ignore[arg-type]
        for batch in batches:
            for start in range(0, batch.num_rows, BATCH_ROWS):
                part = batch.slice(start, BATCH_ROWS)
                raw, rows = read_columns(pa.Table.from_batches([part]), plan.columns)
                values = {name: preprocess(raw[name], processor) for name in plan.columns}
                prepared = {f"v{k}": pa.array(values[name], pa.string()) for k, name in enumerate(plan.columns)}
                for k, ((column, _), key) in enumerate(zip(plan.parts, part_keys)):
                    prepared[f"p{k}"] = key(values[column])
                arrays = [part.column(id_col), *(prepared[f"v{k}"] for k in range(len(plan.columns)))]
                arrays += [term(values[name]) for name, term in zip(plan.term_fields, term_keys) if term is not None]
                arrays += [prepared[f"p{k}"] for k in range(len(plan.parts))]
                for r, (rule, names) in enumerate(zip(plan.rules, plan.part_columns)):
                    if rule.kind != "exact":
                        arrays.append(_band_keys(rule, values, rows))
                    elif plan.key_column(r) == f"k{r}":
                        arrays.append(_exact_key([prepared[name] for name in names]))
                yield pa.RecordBatch.from_arrays(arrays, names=_prepared_names(plan))

    return run


def _prepared_names(plan: _Plan) -> list[str]:
    return (
        ["_id"]
        + [f"v{k}" for k in range(len(plan.columns))]
        + [f"t{k}" for k in range(len(plan.term_fields)) if plan.term_column(k) == f"t{k}"]
        + [f"p{k}" for k in range(len(plan.parts))]
        + [f"k{r}" for r in range(len(plan.rules)) if plan.key_column(r) == f"k{r}"]
    )


def _prepared_schema(plan: _Plan, id_type: str) -> str:
    """The prepared columns: strings but the id and the MinHash rules' band keys. Term values
    and keys equal to a column already there are not repeated."""
    names = _prepared_names(plan)
    minhash = {f"k{r}" for r, rule in enumerate(plan.rules) if rule.kind != "exact"}
    types = [id_type] + ["array<bigint>" if name in minhash else "string" for name in names[1:]]
    return ", ".join(f"{name} {kind}" for name, kind in zip(names, types))


def _codes(column: pa.Array, empty_is_missing: bool = False) -> tuple[np.ndarray, pa.Array]:
    """Each row's index into the column's distinct values (-1 for null, and for "" when it makes
    no key), and the distinct values."""
    encoded = column.dictionary_encode()
    codes = pc.fill_null(encoded.indices, -1).to_numpy(zero_copy_only=False).astype(np.int64)
    if empty_is_missing:
        empty = pc.index(encoded.dictionary, "").as_py()
        if empty >= 0:
            codes[codes == empty] = -1
    return codes, encoded.dictionary


class _Block:
    """Rows of whole key runs, sorted by (slot, key, salt, side, id): their pairs, the check
    that a pair's slot is the first the two records share, and the columns the weighing reads.
    Columns are encoded once per block, on first use."""

    def __init__(self, table: pa.Table, plan: _Plan, skipped: dict[int, np.ndarray]) -> None:
        self.table, self.plan, self.skipped = table, plan, skipped
        self.slot = table.column("slot").to_numpy()
        self._encoded: dict[tuple[str, bool], tuple[np.ndarray, pa.Array]] = {}
        self._bands: dict[int, tuple[np.ndarray, np.ndarray]] = {}
        self._skipped_rows: dict[int, np.ndarray] = {}

    def codes(self, name: str, empty_is_missing: bool = False) -> tuple[np.ndarray, pa.Array]:
        cached = self._encoded.get((name, empty_is_missing))
        if cached is None:
            cached = self._encoded[(name, empty_is_missing)] = _codes(
                self.table.column(name).chunk(0), empty_is_missing
            )
        return cached

    def bands(self, rule: int) -> tuple[np.ndarray, np.ndarray]:
        """A MinHash rule's band keys (rows x bands) and which rows have them."""
        if rule not in self._bands:
            lists = self.table.column(f"k{rule}").chunk(0)
            present = ~lists.is_null().to_numpy(zero_copy_only=False)
            keys = np.zeros((len(lists), self.plan.rules[rule].bands), dtype=np.int64)
            keys[present] = lists.flatten().to_numpy().reshape(-1, keys.shape[1])
            self._bands[rule] = (keys, present)
        return self._bands[rule]

    def in_skipped_bucket(self, slot: int) -> np.ndarray:
        """Whether each row's key of a MinHash slot is a bucket skipped for its size."""
        if slot not in self._skipped_rows:
            rule, band = self.plan.slots[slot]
            keys, present = self.bands(rule)
            self._skipped_rows[slot] = present & np.isin(keys[:, band], self.skipped.get(slot, ()))
        return self._skipped_rows[slot]

    def share(self, slot: int, a: np.ndarray, b: np.ndarray) -> np.ndarray:
        """Whether the records of the pairs (a, b) share a key of this slot that makes pairs."""
        rule, band = self.plan.slots[slot]
        if band is None:
            shared = np.ones(len(a), dtype=bool)
            for name in self.plan.part_columns[rule]:
                codes = self.codes(name, empty_is_missing=True)[0]
                shared &= (codes[a] >= 0) & (codes[a] == codes[b])
            return shared
        keys, present = self.bands(rule)
        shared = np.asarray(present[a] & present[b] & (keys[a, band] == keys[b, band]), dtype=bool)
        if slot in self.skipped:
            shared &= ~self.in_skipped_bucket(slot)[a]
        return shared

    def first_shared(self, a: np.ndarray, b: np.ndarray) -> np.ndarray:
        """Whether each pair's slot is the first slot its records share: so a pair that several
        rules or bands find is weighed once, as the local union of the rules keeps it once."""
        slot = self.slot[a]
        keep = np.ones(len(a), dtype=bool)
        for earlier in range(int(slot.max(initial=0))):
            later = slot > earlier
            keep[later] &= ~self.share(earlier, a[later], b[later])
        return keep


def _run_pairs(block: _Block, dedup: bool, skipped: dict[int, np.ndarray]) -> tuple[np.ndarray, np.ndarray]:
    """Each row's first partner and partner count in its run: deduplicating, every later row of
    the run when the row leads (its salt part is its own); linking, every right row of the run
    when the row is a left one (left rows sort first)."""
    table, rows = block.table, block.table.num_rows
    starts = np.flatnonzero(_run_starts(table))
    ends = np.r_[starts[1:], rows]
    run = np.repeat(np.arange(len(starts)), ends - starts)
    position = np.arange(rows, dtype=np.int64)
    if dedup:
        first_right = starts
        leads = table.column("lead").to_numpy()
    else:
        leads = table.column("side").to_numpy() == 0
        first_right = starts + np.add.reduceat(leads.astype(np.int64), starts) if rows else starts
    begin = np.maximum(position + 1, first_right[run])
    count = np.where(leads, np.maximum(ends[run] - begin, 0), 0)
    # A bucket skipped for its size makes no pair (a row reaches it only through a hash collision).
    for slot in skipped:
        in_slot = block.slot == slot
        if in_slot.any():
            count[in_slot & block.in_skipped_bucket(slot)] = 0
    return begin, count


def _run_starts(table: pa.Table) -> np.ndarray:
    """Whether each row starts a run of equal (slot, key, salt)."""
    changed = np.ones(table.num_rows, dtype=bool)
    if table.num_rows < 2:
        return changed
    same = np.ones(table.num_rows - 1, dtype=bool)
    for name in ("slot", "salt"):
        column = table.column(name).to_numpy()
        same &= column[1:] == column[:-1]
    exact = _codes(table.column("skey").chunk(0))[0]
    same &= exact[1:] == exact[:-1]
    bands = table.column("lkey").chunk(0)
    missing = bands.is_null().to_numpy(zero_copy_only=False)
    band_keys = pc.fill_null(bands, 0).to_numpy()
    same &= (band_keys[1:] == band_keys[:-1]) & (missing[1:] == missing[:-1])
    changed[1:] = ~same
    return changed


def _group_and_weigh(
    plan: _Plan,
    totals: list[int],
    threshold: float,
    dedup: bool,
    skipped: dict[int, np.ndarray],
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: key rows carrying their records, sorted by (slot, key, salt, side, id), to
    the pairs at or above the threshold, with their match probability and weight. Whole runs of
    equal key are gathered (a run that spans batches waits for its end); each run's pairs are
    made, kept when their slot is the first their records share, and weighed WEIGH_ROWS at a time."""
    model, fields, limit = plan.model, plan.fields, WEIGH_ROWS  # read on the driver, not in the executors
    term = {name: k for k, name in enumerate(plan.term_fields)}

    def weigh(block: _Block, a: np.ndarray, b: np.ndarray) -> pa.RecordBatch:
        values = {}
        for k, name in enumerate(fields):
            codes, dictionary = block.codes(f"v{k}")
            left, right = codes[a], codes[b]
            used = np.unique(np.concatenate([left[left >= 0], right[right >= 0]]))
            distinct = dictionary.take(pa.array(used)).to_pylist()
            values[name] = (
                distinct,
                np.where(left >= 0, np.searchsorted(used, left), -1),
                np.where(right >= 0, np.searchsorted(used, right), -1),
            )
        # A value's frequency is its count over the whole input divided by the present
        # values, as the local model divides them.
        frequencies = {
            name: pc.fill_null(block.table.column(f"c{k}").chunk(0), 0).to_numpy().astype(np.int64)[a]
            / max(totals[k], 1)
            for name, k in term.items()
        }
        _, weight = weigh_pair_batch(model, values, frequencies)
        chance = probability(weight)
        keep = np.flatnonzero(chance >= threshold)
        left_ids = block.table.column("_id").chunk(0)
        right_ids = left_ids if dedup else block.table.column("_rid").chunk(0)
        return pa.RecordBatch.from_arrays(
            [
                left_ids.take(pa.array(a[keep])),
                right_ids.take(pa.array(b[keep])),
                pa.array(chance[keep]),
                pa.array(weight[keep]),
            ],
            names=["left_id", "right_id", "match_probability", "match_weight"],
        )

    def pairs_of(table: pa.Table) -> Iterator[pa.RecordBatch]:
        block = _Block(table, plan, skipped)
        begin, count = _run_pairs(block, dedup, skipped)
        rows = np.flatnonzero(count)
        ends = np.cumsum(count[rows])
        done = 0
        while done < len(rows):
            base = int(ends[done - 1]) if done else 0
            stop = max(done + 1, int(np.searchsorted(ends, base + limit, side="right")))
            part = rows[done:stop]
            a, b = _expand(part, begin[part], count[part])
            kept = block.first_shared(a, b)
            if kept.any():
                yield weigh(block, a[kept], b[kept])
            done = stop

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        gathered: list[pa.RecordBatch] = []
        rows, wanted = 0, BLOCK_ROWS
        for batch in batches:
            gathered.append(batch)
            rows += batch.num_rows
            if rows < wanted:
                continue
            table = pa.Table.from_batches(gathered).combine_chunks()
            last = int(np.flatnonzero(_run_starts(table))[-1])
            if last == 0:  # one run so far: wait for its end
                wanted = 2 * rows
                continue
            yield from pairs_of(table.slice(0, last).combine_chunks())
            gathered = table.slice(last).combine_chunks().to_batches()
            rows, wanted = table.num_rows - last, BLOCK_ROWS
        if rows:
            yield from pairs_of(pa.Table.from_batches(gathered).combine_chunks())

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


def _records(df: DataFrame, id_col: str, plan: _Plan) -> DataFrame:
    """The prepared records (see ``_prepare``), materialised: the key counts and the grouping
    read them."""
    id_type = df.schema[id_col].dataType.simpleString()
    selected = df.select(id_col, *dict.fromkeys(c for c in plan.columns if c != id_col))
    # Every core prepares records, and every later stage reads them as they are partitioned here.
    tasks = df.sparkSession.sparkContext.defaultParallelism
    if selected.rdd.getNumPartitions() < tasks:
        selected = selected.repartition(tasks)
    return selected.mapInArrow(_prepare(id_col, plan), _prepared_schema(plan, id_type)).localCheckpoint()


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


def _slot_keys(plan: _Plan) -> Any:
    """Each record's keys as an array of (slot, skey, lkey): an exact rule's key string, or a
    MinHash band's key; without rules one key that every record shares."""
    no_string, no_long = F.lit(None).cast("string"), F.lit(None).cast("long")
    entries = []
    for slot, (r, band) in enumerate(plan.slots):
        exact = band is None
        entries.append(
            F.struct(
                F.lit(slot).alias("slot"),
                (F.col(plan.key_column(r)) if exact else no_string).alias("skey"),
                (no_long if exact else F.col(f"k{r}")[band]).alias("lkey"),
            )
        )
    if not entries:
        entries.append(F.struct(F.lit(0).alias("slot"), F.lit("").alias("skey"), no_long.alias("lkey")))
    return F.array(*entries)


def _exploded(records: DataFrame, plan: _Plan, *carried: Any) -> DataFrame:
    """One row per record and key it has: the carried columns, slot, skey, lkey."""
    return records.select(*carried, F.inline(_slot_keys(plan))).where(
        F.col("skey").isNotNull() | F.col("lkey").isNotNull()
    )


def _key_hash() -> Any:
    return F.xxhash64("slot", "skey", "lkey")


@dataclass
class _Keys:
    """What the key counts tell the grouping."""

    useful: DataFrame  # (h, salts): hashes of the keys that make pairs, and their parts
    skipped: dict[int, np.ndarray]  # MinHash slot -> its buckets skipped for their size, sorted
    rows: int  # key rows the grouping shuffles (salted rows counted once per part)
    broadcast: bool  # whether the useful keys are few enough to send whole to the executors


def _count_keys(
    sides: list[DataFrame],
    plan: _Plan,
    dedup: bool,
    skew_rows: int,
    max_pairs: int | None,
    report: Callable[[str], None],
) -> _Keys:
    """Counts every key's records; reports each rule's pair count (and refuses one above
    ``max_pairs``) before any pair is made. A key shared by more than ``skew_rows`` left records
    is split into parts (up to MAX_SALTS) whose pairs go to different tasks."""
    every_key = _exploded(sides[0], plan, F.lit(0).alias("side"))
    if not dedup:
        every_key = every_key.unionAll(_exploded(sides[1], plan, F.lit(1).alias("side")))
    counts = every_key.groupBy("slot", "skey", "lkey").agg(
        F.sum((F.col("side") == 0).cast("long")).alias("n_left"),
        F.sum((F.col("side") == 1).cast("long")).alias("n_right"),
    )
    present = F.col("n_left") + F.col("n_right")
    group_pairs = F.expr("n_left * (n_left - 1) div 2") if dedup else F.col("n_left") * F.col("n_right")
    # A MinHash rule skips buckets of more than max_group records, as locally.
    max_group = F.lit(None).cast("long")
    rule_of = F.lit(0)
    for slot, (r, band) in enumerate(plan.slots):
        rule_of = F.when(F.col("slot") == slot, F.lit(r)).otherwise(rule_of)
        if band is not None:
            max_group = F.when(F.col("slot") == slot, F.lit(plan.rules[r].max_group)).otherwise(max_group)
    salts = F.least(F.lit(MAX_SALTS), F.ceil(F.col("n_left") / F.lit(skew_rows))).cast("int")
    # Rows the grouping shuffles: left rows once, right rows (all rows, deduplicating) once per part.
    if dedup:
        shuffled = F.col("salts") * F.col("n_left")
    else:
        shuffled = F.col("n_left") + F.col("salts") * F.col("n_right")
    keys = (
        counts.withColumn("pairs", group_pairs.cast("long"))
        .where(F.col("pairs") > 0)
        .select(
            "slot",
            "skey",
            "lkey",
            "n_left",
            "n_right",
            "pairs",
            rule_of.alias("rule"),
            (max_group.isNotNull() & (present > max_group)).alias("skipped"),
            salts.alias("salts"),
        )
        .localCheckpoint()
    )
    useful = keys.where(~F.col("skipped"))
    skewed = F.col("salts") > 1
    by_rule = useful.groupBy("rule").agg(
        F.sum("pairs").alias("pairs"),
        F.sum(skewed.cast("long")).alias("skewed"),
        F.sum(F.when(skewed, F.col("salts")).otherwise(0)).alias("parts"),
        F.count(F.lit(1)).alias("keys"),
        F.sum(shuffled).alias("rows"),
    )
    counted = {row["rule"]: row for row in by_rule.collect()}
    if plan.rules:
        used = Blocking(plan.rules, [int(counted[r]["pairs"]) if r in counted else 0 for r in range(len(plan.rules))])
        for line in used.describe():
            report(f"blocking: {line}")
    else:
        report("blocking: every pair compared")
    skewed_keys = sum(int(row["skewed"]) for row in counted.values())
    if skewed_keys:
        parts = sum(int(row["parts"]) for row in counted.values())
        report(f"blocking: {skewed_keys:,} keys of more than {skew_rows:,} records spread over {parts:,} tasks")
    if max_pairs is not None and plan.rules:
        for rule, count in zip(used.rules, used.estimated_pairs):
            if count > max_pairs:
                raise CandidateLimitError(
                    f"blocking rule {rule} would make about {count:,} candidate pairs, more than the limit of "
                    f"{max_pairs:,}; use a more selective rule"
                )
    skipped: dict[int, list[int]] = {}
    for slot, key in keys.where(F.col("skipped")).select("slot", "lkey").collect():
        skipped.setdefault(int(slot), []).append(int(key))
    return _Keys(
        useful=useful.groupBy(_key_hash().alias("h")).agg(F.max("salts").alias("salts")),
        skipped={slot: np.sort(np.array(found, dtype=np.int64)) for slot, found in skipped.items()},
        rows=sum(int(row["rows"]) for row in counted.values()),
        broadcast=sum(int(row["keys"]) for row in counted.values()) <= BROADCAST_ROWS,
    )


def _payload_columns(plan: _Plan) -> list[str]:
    """What the weighing and the first-shared-key check read of a record, besides its id."""
    return [
        *(f"v{k}" for k in range(len(plan.columns))),
        *(f"c{k}" for k in range(len(plan.term_fields))),
        *(f"p{k}" for k in range(len(plan.parts))),
        *(f"k{r}" for r, rule in enumerate(plan.rules) if rule.kind != "exact"),
    ]


def _grouped(sides: list[DataFrame], plan: _Plan, dedup: bool, keys: _Keys) -> DataFrame:
    """The key rows of the keys that make pairs, with (salt, side, lead), partitioned by (slot,
    key, salt) and sorted by (slot, key, salt, side, id); each carries its record's id and
    payload (values, term counts, key parts, MinHash band keys).
    A key's rows (deduplicating: all of them; linking: the right ones) are copied into each of
    its salt parts; a record leads (is a pair's left end) in the part its id hashes to, so each
    pair is made in one part."""
    carried = ["_id", *_payload_columns(plan)]
    useful = F.broadcast(keys.useful) if keys.broadcast else keys.useful
    own_part = F.pmod(F.xxhash64("_id"), F.col("salts")).cast("int")
    every_part = F.explode(F.sequence(F.lit(0), F.col("salts") - 1))
    parts = []
    id_types = [records.schema["_id"].dataType.simpleString() for records in sides]
    counts = {f"c{k}" for k in range(len(plan.term_fields))}
    for side, records in enumerate(sides):
        rows = _exploded(records, plan, *carried).withColumn("h", _key_hash()).join(useful, "h")
        if dedup:
            rows = rows.withColumn("salt", every_part).withColumn("lead", F.col("salt") == own_part)
        elif side == 0:
            rows = rows.withColumn("salt", own_part).withColumn("lead", F.lit(True))
            rows = rows.withColumn("_rid", F.lit(None).cast(id_types[1]))
        else:
            # The ids of the two tables may differ in type: the right ones go in a column of their own.
            # Their term counts are never read (the left value's frequency is weighed).
            rows = rows.withColumn("salt", every_part).withColumn("lead", F.lit(False))
            rows = rows.select(
                *(F.lit(None).cast("long").alias(c) if c in counts else c for c in rows.columns if c != "_id"),
                F.col("_id").alias("_rid"),
                F.lit(None).cast(id_types[0]).alias("_id"),
            )
        parts.append(rows.withColumn("side", F.lit(side)).drop("h", "salts"))
    rows = parts[0] if dedup else parts[0].unionByName(parts[1])
    partitions = max(
        int(rows.sparkSession.conf.get("spark.sql.shuffle.partitions") or 1), -(-keys.rows // GROUP_ROWS_PER_TASK)
    )
    order = ["slot", "skey", "lkey", "salt", "side", "_id"] + ([] if dedup else ["_rid"])
    return rows.repartition(partitions, "slot", "skey", "lkey", "salt").sortWithinPartitions(*order)


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
    prepared = [_records(table, id_col, plan) for table, id_col in zip(tables, names)]
    keys = _count_keys(prepared, plan, dedup, skew_rows, max_pairs, report or _log.info)
    counted, totals = _with_term_counts(prepared, plan)
    grouped = _grouped(counted, plan, dedup, keys)
    id_types = [table.schema[id_col].dataType.simpleString() for table, id_col in zip(tables, names)]
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
