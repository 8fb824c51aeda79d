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
from vornkit._blocking import BlockingRule, CandidateLimitError, _key_function, auto_blocking_rules
from vornkit._candidate_pairs import ALL_PAIRS, BUDGET_PER_RECORD, MAX_CLUSTER_SIZE, Blocking, as_rules, rule_columns
from vornkit._clusters import cluster_pairs
from vornkit._comparisons import _date_normaliser
from vornkit._fellegi_sunter import DEFAULT_THRESHOLD, LinkageModel, _read, probability, weigh_pair_batch
from vornkit._records import preprocess, read_columns
from vornkit._spark_common import BATCH_ROWS, check_ids, components

FIT_SAMPLE = 100_000  # records of each table a model is fitted on when none is given
SKEW_ROWS = 2_000  # records sharing one blocking key above which its pairs are spread over several tasks
MAX_SALTS = 256  # the most tasks one key's pairs are spread over
WEIGH_ROWS = 1 << 16  # pairs weighed at a time: each batch encodes its distinct values once

_log = logging.getLogger("vornkit.spark")


@dataclass
class _Plan:
    """What the executors compute for each record."""

    model: LinkageModel
    columns: list[str]  # preprocessed columns: the model's fields, then the other rule columns
    rules: list[BlockingRule]  # empty: every pair is compared
    term_fields: list[str]  # fields whose exact agreement is weighed by the value's frequency

    @property
    def fields(self) -> list[str]:
        return [field.name for field in self.model.fields]


# ---------------------------------------------------------------- executors


def _term_key(field: Any) -> Callable[[str], str]:
    """The value under which a field's value is counted: dates in one layout, as the model compares them."""
    if field.kind != "date":
        return lambda value: value
    normal = _date_normaliser(field)
    return lambda value: normal(value)[0]


def _rule_keys(rule: BlockingRule, values: dict[str, list[str | None]], rows: int) -> pa.Array:
    """A rule's key of each record: a string for an exact rule (null when a part is missing), the
    list of band keys for a MinHash rule (null without text)."""
    if rule.kind == "exact":
        parts = []
        for column, key in zip(rule.columns, rule.keys):
            function = _key_function(key)
            column_values = values[column]
            parts.append(
                column_values if function is None else [None if v is None else function(v) for v in column_values]
            )
        keys: list[str | None] = []
        for row in zip(*parts):
            if not all(row):
                keys.append(None)
            elif len(row) == 1:
                keys.append(row[0])
            else:  # length-prefixed, so that ("ab", "c") and ("a", "bc") differ
                keys.append("".join(f"{len(part)}:{part}" for part in row))
        return pa.array(keys, pa.string())
    texts = [" ".join(v for v in row if v) for row in zip(*(values[column] for column in rule.columns))]
    present = np.fromiter((bool(text) for text in texts), dtype=bool, count=rows)
    signatures = vornkit.minhash_signatures([t for t in texts if t], rule.shingle_size, rule.bands * rule.rows)
    band_keys = vornkit.lsh_band_keys(signatures, rule.bands, rule.rows).view(np.int64).reshape(-1)
    offsets = np.zeros(rows + 1, dtype=np.int32)
    offsets[1:] = np.cumsum(present * rule.bands)
    return pa.ListArray.from_arrays(pa.array(offsets), pa.array(band_keys), mask=pa.array(~present))


def _prepare(id_col: str, plan: _Plan) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: records to (id, preprocessed values, term keys, rule keys)."""
    fields = {field.name: field for field in plan.model.fields}
    term_keys = [_term_key(fields[name]) for name in plan.term_fields]
    use_processor = plan.model.preprocess

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        processor = vorn.Preprocessor() if use_processor else None
        for batch in batches:
            for start in range(0, batch.num_rows, BATCH_ROWS):
                part = batch.slice(start, BATCH_ROWS)
                raw, rows = read_columns(pa.Table.from_batches([part]), plan.columns)
                values = {name: preprocess(raw[name], processor) for name in plan.columns}
                arrays = [part.column(id_col), *(pa.array(values[name], pa.string()) for name in plan.columns)]
                for name, term in zip(plan.term_fields, term_keys):
                    arrays.append(pa.array([None if v is None else term(v) for v in values[name]], pa.string()))
                arrays += [_rule_keys(rule, values, rows) for rule in plan.rules]
                yield pa.RecordBatch.from_arrays(arrays, names=_prepared_names(plan))

    return run


def _prepared_names(plan: _Plan) -> list[str]:
    return (
        ["_id"]
        + [f"v{k}" for k in range(len(plan.columns))]
        + [f"t{k}" for k in range(len(plan.term_fields))]
        + [f"k{r}" for r in range(len(plan.rules))]
    )


def _prepared_schema(plan: _Plan, id_type: str) -> str:
    types = [id_type] + ["string"] * (len(plan.columns) + len(plan.term_fields))
    types += ["string" if rule.kind == "exact" else "array<bigint>" for rule in plan.rules]
    return ", ".join(f"{name} {kind}" for name, kind in zip(_prepared_names(plan), types))


def _dictionary(left: pa.Array, right: pa.Array) -> tuple[list[str], np.ndarray, np.ndarray]:
    """The distinct values of both columns, and each row's index into them (-1 for null)."""
    encoded = pa.concat_arrays([left, right]).dictionary_encode()
    indices = pc.fill_null(encoded.indices, -1).to_numpy(zero_copy_only=False).astype(np.intp)
    return encoded.dictionary.to_pylist(), indices[: len(left)], indices[len(left) :]


def _weigh(
    plan: _Plan, totals: list[int], threshold: float
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: candidate pairs with both records' values to the pairs at or above the
    threshold, with their match probability and weight. Batches are gathered to WEIGH_ROWS pairs:
    a field's values are encoded once per batch."""
    model, fields, limit = plan.model, plan.fields, WEIGH_ROWS  # read on the driver, not in the executors
    term = {name: k for k, name in enumerate(plan.term_fields)}

    def weigh(pairs: pa.Table) -> pa.RecordBatch:
        column = {name: pa.concat_arrays(pairs.column(name).chunks) for name in pairs.column_names}
        values = {name: _dictionary(column[f"l{k}"], column[f"r{k}"]) for k, name in enumerate(fields)}
        # A value's frequency is its count over the whole input divided by the present
        # values, as the local model divides them.
        frequencies = {
            name: column[f"c{k}"].to_numpy(zero_copy_only=False).astype(np.int64) / max(totals[k], 1)
            for name, k in term.items()
        }
        _, weight = weigh_pair_batch(model, values, frequencies)
        chance = probability(weight)
        keep = pa.array(np.flatnonzero(chance >= threshold))
        return pa.RecordBatch.from_arrays(
            [column["i"].take(keep), column["j"].take(keep), pa.array(chance).take(keep), pa.array(weight).take(keep)],
            names=["left_id", "right_id", "match_probability", "match_weight"],
        )

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        gathered: list[pa.RecordBatch] = []
        rows = 0
        for batch in batches:
            gathered.append(batch)
            rows += batch.num_rows
            if rows >= limit:
                yield weigh(pa.Table.from_batches(gathered))
                gathered, rows = [], 0
        if rows:
            yield weigh(pa.Table.from_batches(gathered))

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
    """The prepared records (see ``_prepare``), without term counts yet."""
    id_type = df.schema[id_col].dataType.simpleString()
    return df.select(id_col, *dict.fromkeys(c for c in plan.columns if c != id_col)).mapInArrow(
        _prepare(id_col, plan), _prepared_schema(plan, id_type)
    )


def _with_term_counts(sides: list[DataFrame], plan: _Plan) -> tuple[list[DataFrame], list[DataFrame], list[int]]:
    """The prepared records materialised (localCheckpoint); each record's id and field values
    with its term values' counts over all the input (c0, c1, ...), materialised too; and each
    term field's number of present values. The blocking keys stay out of the joins here."""
    sides = [side.localCheckpoint() for side in sides]  # read by every count and join below
    kept = ["_id", *(f"v{k}" for k in range(len(plan.fields))), *(f"t{k}" for k in range(len(plan.term_fields)))]
    counted = [side.select(*kept) for side in sides]
    totals = [0] * len(plan.term_fields)
    if plan.term_fields:
        # One aggregation keyed by (field, value) counts every term field's values at once.
        entries = F.array(*(F.struct(F.lit(k).alias("k"), F.col(f"t{k}").alias("term")) for k in range(len(totals))))
        values = sides[0].select(F.inline(entries))
        for other in sides[1:]:
            values = values.unionAll(other.select(F.inline(entries)))
        counts = (
            values.where(F.col("term").isNotNull()).groupBy("k", "term").agg(F.count(F.lit(1)).alias("n"))
        ).localCheckpoint()
        for k in range(len(totals)):
            field_counts = counts.where(F.col("k") == k).select(F.col("term").alias(f"t{k}"), F.col("n").alias(f"c{k}"))
            counted = [side.join(field_counts, f"t{k}", "left").drop(f"t{k}") for side in counted]
        for k, present in counts.groupBy("k").agg(F.sum("n")).collect():
            totals[k] = int(present)
    counted = [side.localCheckpoint() for side in counted]
    return sides, counted, totals


def _keyed(records: DataFrame, plan: _Plan, side: int) -> DataFrame:
    """(rule, key, side, _id): one row per record and key it has; a MinHash rule's band keys are
    told apart by their band."""
    parts = []
    for r, rule in enumerate(plan.rules):
        if rule.kind == "exact":
            part = records.where(F.col(f"k{r}").isNotNull()).select(F.col(f"k{r}").alias("key"), "_id")
        else:
            part = records.select("_id", F.posexplode(f"k{r}").alias("band", "band_key")).select(
                F.concat_ws(":", F.col("band").cast("string"), F.col("band_key").cast("string")).alias("key"), "_id"
            )
        parts.append(part.select(F.lit(r).alias("rule"), "key", F.lit(side).alias("side"), "_id"))
    out = parts[0]
    for part in parts[1:]:
        out = out.unionAll(part)
    return out


def _candidates(
    sides: list[DataFrame],
    plan: _Plan,
    dedup: bool,
    skew_rows: int,
    max_pairs: int | None,
    report: Callable[[str], None],
) -> DataFrame:
    """(i, j): each candidate pair once (deduplicating: i < j). The pair count of each rule is
    reported before any pair is made; a key shared by more than ``skew_rows`` records has its
    pairs spread over several tasks (its left records split by a hash of the id, its right
    records copied to every part)."""
    if not plan.rules:
        report("blocking: every pair compared")
        left = sides[0].select(F.col("_id").alias("i"))
        right = sides[-1].select(F.col("_id").alias("j"))
        pairs = left.crossJoin(right)
        return pairs.where(F.col("i") < F.col("j")) if dedup else pairs
    keyed = [_keyed(side, plan, k) for k, side in enumerate(sides)]
    useful = _key_groups(keyed, plan, dedup, skew_rows)
    skewed = F.col("salts") > 1
    by_rule = useful.groupBy("rule").agg(
        F.sum("pairs").alias("pairs"),
        F.sum(skewed.cast("long")).alias("skewed"),
        F.sum(F.when(skewed, F.col("salts")).otherwise(0)).alias("parts"),
    )
    counted = {row["rule"]: row for row in by_rule.collect()}
    used = Blocking(plan.rules, [int(counted[r]["pairs"]) if r in counted else 0 for r in range(len(plan.rules))])
    for line in used.describe():
        report(f"blocking: {line}")
    skewed_keys = sum(int(row["skewed"]) for row in counted.values())
    if skewed_keys:
        parts = sum(int(row["parts"]) for row in counted.values())
        report(f"blocking: {skewed_keys:,} keys of more than {skew_rows:,} records spread over {parts:,} tasks")
    if max_pairs is not None:
        for rule, count in zip(used.rules, used.estimated_pairs):
            if count > max_pairs:
                raise CandidateLimitError(
                    f"blocking rule {rule} would make about {count:,} candidate pairs, more than the limit of "
                    f"{max_pairs:,}; use a more selective rule"
                )
    groups = useful.select("rule", "key", "salts")
    left = (
        keyed[0]
        .join(groups, ["rule", "key"])
        .select(
            "rule", "key", F.pmod(F.xxhash64("_id"), F.col("salts")).cast("int").alias("salt"), F.col("_id").alias("i")
        )
    )
    right = (
        keyed[-1]
        .join(groups, ["rule", "key"])
        .select(
            "rule", "key", F.explode(F.sequence(F.lit(0), F.col("salts") - 1)).alias("salt"), F.col("_id").alias("j")
        )
    )
    pairs = left.join(right, ["rule", "key", "salt"])
    if dedup:
        pairs = pairs.where(F.col("i") < F.col("j"))
    return pairs.select("i", "j").distinct()


def _key_groups(keyed: list[DataFrame], plan: _Plan, dedup: bool, skew_rows: int) -> DataFrame:
    """(rule, key, pairs, salts) of the keys that make pairs: the pairs each makes, and the parts
    its pairs are spread over; materialised."""
    every_key = keyed[0].select("rule", "key", "side")
    if not dedup:
        every_key = every_key.unionAll(keyed[1].select("rule", "key", "side"))
    counts = every_key.groupBy("rule", "key").agg(
        F.sum((F.col("side") == 0).cast("long")).alias("n_left"),
        F.sum((F.col("side") == 1).cast("long")).alias("n_right"),
    )
    present = F.col("n_left") + F.col("n_right")
    group_pairs = F.expr("n_left * (n_left - 1) div 2") if dedup else F.col("n_left") * F.col("n_right")
    # A MinHash rule skips buckets of more than max_group records, as locally.
    max_group = F.lit(None).cast("long")
    for r, rule in enumerate(plan.rules):
        if rule.kind == "minhash":
            max_group = F.when(F.col("rule") == r, F.lit(rule.max_group)).otherwise(max_group)
    useful = (
        counts.where(max_group.isNull() | (present <= max_group))
        .withColumn("pairs", group_pairs.cast("long"))
        .where(F.col("pairs") > 0)
        .withColumn("salts", F.least(F.lit(MAX_SALTS), F.ceil(F.col("n_left") / F.lit(skew_rows))).cast("int"))
        .select("rule", "key", "pairs", "salts")
        .localCheckpoint()
    )
    return useful


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
    for table, id_col in zip(tables, names):
        check_ids(table, id_col)
    counts = [table.count() for table in tables]
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
    keyed, sides, totals = _with_term_counts(prepared, plan)
    pairs = _candidates(keyed, plan, dedup, skew_rows, max_pairs, report or _log.info)
    values = [F.col(f"v{k}") for k in range(len(plan.fields))]
    counts_of_terms = [F.coalesce(F.col(f"c{k}"), F.lit(0)).alias(f"c{k}") for k in range(len(plan.term_fields))]
    left_values = sides[0].select(
        F.col("_id").alias("i"), *(v.alias(f"l{k}") for k, v in enumerate(values)), *counts_of_terms
    )
    right_values = sides[-1].select(F.col("_id").alias("j"), *(v.alias(f"r{k}") for k, v in enumerate(values)))
    joined = (
        pairs.join(left_values, "i")
        .join(right_values, "j")
        .select("i", "j", *left_values.columns[1:], *right_values.columns[1:])
    )
    id_types = [table.schema[id_col].dataType.simpleString() for table, id_col in zip(tables, names)]
    return joined.mapInArrow(
        _weigh(plan, totals, threshold),
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
