"""What vornkit.spark's jobs share: the Arrow batch size, the check of an id column, and
connected components computed in Spark."""

from __future__ import annotations

from pyspark.sql import DataFrame  # type: ignore[import-not-found,unused-ignore]
from pyspark.sql import functions as F  # type: ignore[import-not-found,unused-ignore]  # noqa: N812
from pyspark.sql.types import IntegralType, StringType  # type: ignore[import-not-found,unused-ignore]

# Rows per Arrow batch handed to the kernels: large enough to amortise the
# call, small enough that a batch of signatures stays far below 2 GiB.
BATCH_ROWS = 4096


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
    per_id = df.groupBy(id_col).agg(F.count(F.lit(1)).alias("_vornkit_count"))
    rows, most, nulls = per_id.agg(
        F.sum("_vornkit_count"), F.max("_vornkit_count"), F.sum(F.col(id_col).isNull().cast("long"))
    ).collect()[0]
    if (most or 0) > 1 or (nulls or 0) > 0:
        _refuse_bad_id(df, id_col)
    return int(rows or 0)


def _check_id_type(df: DataFrame, id_col: str) -> object:
    id_type = df.schema[id_col].dataType
    if not isinstance(id_type, (IntegralType, StringType)):
        raise TypeError(f"ids in column {id_col!r} must be integers or strings, not {id_type.simpleString()}")
    return id_type


def _refuse_bad_id(df: DataFrame, id_col: str) -> None:
    repeated = (
        df.groupBy(id_col)
        .agg(F.count(F.lit(1)).alias("_vornkit_count"))
        .where((F.col("_vornkit_count") > 1) | F.col(id_col).isNull())
        .limit(1)
        .collect()
    )
    if repeated:
        value, count = repeated[0][0], repeated[0][1]
        if value is None:
            raise ValueError(f"column {id_col!r} holds a null id; every row needs one")
        raise ValueError(f"column {id_col!r} holds the id {value!r} {count} times; ids must be unique")
