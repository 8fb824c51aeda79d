"""What vornkit.spark's jobs share: the Arrow batch size, the check of an id column,
connected components computed in Spark, and the exchange of whole Arrow tables between tasks."""

from __future__ import annotations

from collections.abc import Iterable, Iterator

import numpy as np
import pyarrow as pa  # type: ignore[import-untyped,unused-ignore]
import pyarrow.compute as pc  # type: ignore[import-untyped,unused-ignore]
from pyspark.sql import DataFrame, SparkSession  # type: ignore[import-not-found,unused-ignore]
from pyspark.sql import functions as F  # type: ignore[import-not-found,unused-ignore]  # noqa: N812
from pyspark.sql.types import IntegralType, StringType  # type: ignore[import-not-found,unused-ignore]

# Rows per Arrow batch handed to the kernels: large enough to amortise the
# call, small enough that a batch of signatures stays far below 2 GiB.
BATCH_ROWS = 4096
TAGGED_SCHEMA = "tag int, blob binary"  # rows holding a whole Arrow table (blob) under a tag


# Spark copies a shuffled byte several times (into its rows, through its compression, to disk and
# back): zstd at its fastest level costs less than that on the 60% of the bytes it saves.
_IPC_OPTIONS = pa.ipc.IpcWriteOptions(
    compression=pa.Codec("zstd", compression_level=1) if pa.Codec.is_available("zstd") else None
)


def tagged(tag: int, table: pa.Table) -> pa.RecordBatch:
    """One row of ``TAGGED_SCHEMA``: the table as a compressed Arrow stream, under the tag."""
    table = _dictionaries_cut(table)
    sink = pa.BufferOutputStream()
    with pa.ipc.new_stream(sink, table.schema, options=_IPC_OPTIONS) as writer:
        writer.write_table(table)
    blob = sink.getvalue()
    offsets = pa.py_buffer(np.array([0, blob.size], dtype=np.int32))
    return pa.RecordBatch.from_arrays(
        [pa.array([tag], pa.int32()), pa.Array.from_buffers(pa.binary(), 1, [None, offsets, blob])],
        names=["tag", "blob"],
    )


def _dictionaries_cut(table: pa.Table) -> pa.Table:
    """The table with each dictionary column larger than its rows cut to the values its rows use:
    a slice of a dictionary column carries its whole dictionary into the stream."""
    for position, column in enumerate(table.columns):
        if not pa.types.is_dictionary(column.type):
            continue
        column = column.combine_chunks()
        if len(column.dictionary) <= len(column):
            continue
        indices = pc.fill_null(column.indices, 0).to_numpy()  # a null keeps the first value: harmless
        used = np.zeros(len(column.dictionary), dtype=bool)
        used[indices] = True
        renumbered = (np.cumsum(used) - 1).astype(np.int32)[indices]
        mask = column.is_null().to_numpy(zero_copy_only=False) if column.null_count else None
        cut = pa.DictionaryArray.from_arrays(pa.array(renumbered, mask=mask), column.dictionary.filter(used))
        table = table.set_column(position, table.field(position), cut)
    return table


def untagged(batches: Iterable[pa.RecordBatch] | pa.Table) -> Iterator[tuple[int, pa.Table]]:
    """The (tag, table) of each row of ``TAGGED_SCHEMA``."""
    for batch in batches.to_batches() if isinstance(batches, pa.Table) else batches:
        for tag, blob in zip(batch.column("tag").to_pylist(), batch.column("blob")):
            yield tag, pa.ipc.open_stream(blob.as_buffer()).read_all()


def partition_labels(spark: SparkSession, partitions: int) -> np.ndarray:
    """For each partition p, a tag that ``repartition(partitions, "tag")`` sends to p.

    Spark places a row by the Murmur3 hash of its key (the SQL ``hash``), so the tags are found
    by Spark itself; a tag that Spark placed elsewhere would only unbalance the tasks.
    """
    candidates = spark.range(64 * partitions).select(F.col("id").cast("int").alias("x"))
    placed = candidates.select("x", F.pmod(F.hash("x"), F.lit(partitions)).alias("p"))
    labels = np.arange(partitions, dtype=np.int32)
    for p, x in placed.groupBy("p").agg(F.min("x")).collect():
        labels[p] = x
    return labels


def destination_order(destination: np.ndarray) -> np.ndarray:
    """The rows in order of their partition (``shipped`` reads them so), each partition's in their
    own order. Fewer than 65 536 partitions are sorted as 16-bit numbers, which NumPy sorts by
    radix."""
    if len(destination) and int(destination.max()) < 1 << 16:
        destination = destination.astype(np.uint16)
    return np.argsort(destination, kind="stable")


def shipped(table: pa.Table, destination: np.ndarray, labels: np.ndarray) -> Iterator[pa.RecordBatch]:
    """The rows of ``table``, in order of their ``destination`` (a partition per row), as one
    tagged table per partition for ``repartition(len(labels), "tag")``. Spark moves these few
    large rows as bytes, whatever the table's columns."""
    bounds = np.searchsorted(destination, np.arange(len(labels) + 1))
    for p in np.flatnonzero(np.diff(bounds)):
        yield tagged(int(labels[p]), table.slice(bounds[p], bounds[p + 1] - bounds[p]))


def received(batches: Iterator[pa.RecordBatch]) -> pa.Table | None:
    """The tables that ``shipped`` sent to this task, as one (see ``concatenated``)."""
    return concatenated(table for _, table in untagged(batches))


def concatenated(tables: Iterable[pa.Table]) -> pa.Table | None:
    """The tables as one of one chunk (None when all are empty); a column that some tables lack is
    null in their rows. A dictionary column gets one dictionary, each value once (Arrow unifies
    them in concatenating)."""
    kept = [table for table in tables if table.num_rows]
    if not kept:
        return None
    return pa.concat_tables(_plain_where_mixed(kept), promote_options="default").combine_chunks()


def _plain_where_mixed(tables: list[pa.Table]) -> list[pa.Table]:
    """The tables with a column that some of them hold as a dictionary and others not decoded in
    all (a sender encodes a column or not by its values)."""
    types: dict[str, set[pa.DataType]] = {}
    for table in tables:
        for field in table.schema:
            types.setdefault(field.name, set()).add(field.type)
    mixed = {name for name, found in types.items() if len(found) > 1}
    if not mixed:
        return tables
    decoded = []
    for table in tables:
        for position, field in enumerate(table.schema):
            if field.name in mixed and pa.types.is_dictionary(field.type):
                table = table.set_column(position, field.name, table.column(position).cast(field.type.value_type))
        decoded.append(table)
    return decoded


def components(edges: DataFrame) -> DataFrame:
    """(node, component) for every node of an undirected edge list (src, dst),
    component being the smallest node of its connected component.

    Alternating large-star and small-star steps (Kiveris et al., "Connected
    Components in MapReduce and Beyond", 2014) until the edges form
    disjoint stars around each component's smallest node; each step is two shuffles, and the number of rounds grows with
    the logarithm of the largest component's size. Nodes with no edge do
    not appear. Lineage is cut every round, so plans stay small.
    """
    # Every edge points from the larger node to the smaller one.
    current = (
        edges.select(F.greatest("src", "dst").alias("src"), F.least("src", "dst").alias("dst"))
        .where(F.col("src") != F.col("dst"))
        .distinct()
        .localCheckpoint()
    )
    while True:
        # Large star: each node's larger neighbours attach to the node's
        # smallest neighbour (or to the node itself).
        both = current.union(current.select(F.col("dst").alias("src"), F.col("src").alias("dst")))
        least = both.groupBy("src").agg(F.least(F.min("dst"), F.col("src")).alias("m"))
        large = (
            both.join(least, "src")
            .where(F.col("dst") > F.col("src"))
            .select(F.col("dst").alias("src"), F.col("m").alias("dst"))
            .distinct()
        )
        # Small star: each node and its smaller neighbours attach to the
        # smallest of them.
        least = large.groupBy("src").agg(F.min("dst").alias("m"))
        small = (
            large.join(least, "src")
            .select(F.col("dst").alias("src"), F.col("m").alias("dst"))
            .union(least.select(F.col("src"), F.col("m").alias("dst")))
            .where(F.col("src") != F.col("dst"))
            .distinct()
            .localCheckpoint()
        )
        current = small
        # Done when the edges form disjoint stars: each node has one edge,
        # to a node that has none (the smallest of its component, since
        # every edge points to a smaller node). One job checks both.
        roots = current.select(F.col("src").alias("dst"))
        branching = current.groupBy("src").count().where(F.col("count") > 1).select("src")
        chained = current.join(roots, "dst", "left_semi").select("src")
        if branching.union(chained).limit(1).count() == 0:
            return current.select(F.col("src").alias("node"), F.col("dst").alias("component"))


def check_ids(df: DataFrame, id_col: str) -> bool:
    """Whether the ids are strings (else integers); TypeError for ids of
    another type, ValueError naming a null or repeated id. Ids are kept
    exactly: a cast would merge 1.2 and 1.7, or "01" and "1"."""
    id_type = _check_id_type(df, id_col)
    _refuse_bad_id(df, id_col)
    return isinstance(id_type, StringType)


def count_checked_ids(df: DataFrame, id_col: str) -> int:
    """The number of rows, with the checks of ``check_ids`` made in the same pass."""
    _check_id_type(df, id_col)
    rows, most, nulls = (
        _per_id(df, id_col)
        .agg(F.sum("_vornkit_count"), F.max("_vornkit_count"), F.sum(F.col(id_col).isNull().cast("long")))
        .collect()[0]
    )
    if (most or 0) > 1 or (nulls or 0) > 0:
        _refuse_bad_id(df, id_col)
    return int(rows or 0)


def _per_id(df: DataFrame, id_col: str) -> DataFrame:
    """Each id (null included) with its number of rows, ``_vornkit_count``."""
    return df.groupBy(id_col).agg(F.count(F.lit(1)).alias("_vornkit_count"))


def _check_id_type(df: DataFrame, id_col: str) -> object:
    id_type = df.schema[id_col].dataType
    if not isinstance(id_type, (IntegralType, StringType)):
        raise TypeError(f"ids in column {id_col!r} must be integers or strings, not {id_type.simpleString()}")
    return id_type


def _refuse_bad_id(df: DataFrame, id_col: str) -> None:
    repeated = _per_id(df, id_col).where((F.col("_vornkit_count") > 1) | F.col(id_col).isNull()).limit(1).collect()
    if repeated:
        value, count = repeated[0][0], repeated[0][1]
        if value is None:
            raise ValueError(f"column {id_col!r} holds a null id; every row needs one")
        raise ValueError(f"column {id_col!r} holds the id {value!r} {count} times; ids must be unique")
