"""Record linkage, near-duplicate detection and pairwise scores on Apache Spark.

The work runs in Spark's own executors, over Arrow batches, with the same
native kernels as the rest of vornkit, so a job gives the same answer on a
cluster as on one machine:

- :func:`minhash_dedup` links two documents when they share an LSH band key
  and their MinHash signatures agree in at least ``threshold`` of their
  positions (the rule of :func:`vornkit.dedup`), and labels each document with
  the smallest id of its connected component;
- :func:`score` is a column of the pairwise scores of two string columns;
- :func:`link` and :func:`link_clusters` link or deduplicate records with the
  Fellegi-Sunter model of :func:`vornkit.link_records`, with the same pairs,
  match probabilities and clusters.

PySpark is an optional dependency (``pip install 'vorn[spark]'``); importing
this module without it raises ImportError.
"""

from __future__ import annotations

from collections.abc import Callable, Iterator, Mapping
from typing import Any

import numpy as np
import pyarrow as pa  # type: ignore[import-untyped,unused-ignore]
import pyarrow.compute as pc  # type: ignore[import-untyped,unused-ignore]
import vorn
from pyspark.sql import Column, DataFrame  # type: ignore[import-not-found,unused-ignore]
from pyspark.sql import functions as F  # type: ignore[import-not-found,unused-ignore]  # noqa: N812
from pyspark.sql.types import DoubleType, LongType  # type: ignore[import-not-found,unused-ignore]
from pyspark.sql.window import Window  # type: ignore[import-not-found,unused-ignore]

import vornkit
from vornkit import _native
from vornkit._collections import Processor
from vornkit._spark_common import BATCH_ROWS, check_ids, components
from vornkit._spark_linkage import link, link_clusters

__all__ = ["link", "link_clusters", "minhash_dedup", "score"]


def _signature_batches(
    text_col: str, id_col: str, shingle_size: int, num_hashes: int, bands: int, rows: int
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: (id, text) batches to (id, signature, band keys)."""

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        for batch in batches:
            ids = batch.column(id_col)
            texts = batch.column(text_col)
            valid = texts.is_valid()
            if valid.false_count:
                # A document without text is never linked: it keeps no keys.
                ids = ids.filter(valid)
                texts = texts.filter(valid)
            n = len(texts)
            if n == 0:
                continue
            signatures = vornkit.minhash_signatures(texts, shingle_size, num_hashes)
            keys = vornkit.lsh_band_keys(signatures, bands, rows).view(np.int64)
            width = num_hashes * 8
            offsets = pa.py_buffer((np.arange(n + 1, dtype=np.int64) * width).astype(np.int32))
            signature_array = pa.Array.from_buffers(
                pa.binary(), n, [None, offsets, pa.py_buffer(np.ascontiguousarray(signatures))]
            )
            key_lists = pa.ListArray.from_arrays(
                pa.array(np.arange(n + 1, dtype=np.int32) * bands), pa.array(keys.reshape(-1))
            )
            yield pa.RecordBatch.from_arrays(
                [ids.cast(pa.int64()), signature_array, key_lists], names=["id", "signature", "keys"]
            )

    return run


def _verified_edges(
    threshold: float, num_hashes: int
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    """mapInArrow body: candidate pairs with both signatures to the pairs whose
    signatures agree in at least ``threshold`` of their positions."""

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        for batch in batches:
            n = batch.num_rows
            if n == 0:
                continue
            a = _signature_matrix(batch.column("sig_i"), num_hashes)
            b = _signature_matrix(batch.column("sig_j"), num_hashes)
            keep = vornkit.signature_agreement(a, b) >= threshold
            yield pa.RecordBatch.from_arrays(
                [batch.column("i").filter(pa.array(keep)), batch.column("j").filter(pa.array(keep))],
                names=["src", "dst"],
            )

    return run


def _signature_matrix(column: pa.Array, num_hashes: int) -> np.ndarray:
    """The uint64 (n, num_hashes) view of a binary column of signatures."""
    column = column.combine_chunks() if isinstance(column, pa.ChunkedArray) else column
    offsets = np.frombuffer(column.buffers()[1], dtype=np.int32, count=len(column) + 1, offset=column.offset * 4)
    data = np.frombuffer(column.buffers()[2], dtype=np.uint8)
    width = num_hashes * 8
    if not np.array_equal(np.diff(offsets), np.full(len(column), width, dtype=np.int32)):
        raise ValueError("signatures of unequal length")
    start = int(offsets[0])
    return data[start : start + len(column) * width].view(np.uint64).reshape(len(column), num_hashes)


def minhash_dedup(
    df: DataFrame,
    text_col: str,
    *,
    id_col: str,
    threshold: float,
    shingle_size: int = _native.MINHASH_SHINGLE_SIZE,
    num_hashes: int = _native.MINHASH_NUM_HASHES,
    bands: int | None = None,
) -> DataFrame:
    """Clusters of near-duplicate documents, computed in Spark's executors.

    Signatures and band keys are computed by the executors over Arrow
    batches; candidate pairs come from grouping on (band, band key); a pair is
    linked when its signatures agree in at least ``threshold`` of their
    positions; components are found with large-star/small-star rounds in
    Spark. Nothing but counts reaches the driver. With the same texts and
    parameters the clusters are those of :func:`vornkit.dedup`, whatever the
    partitioning.

    Parameters
    ----------
    df : pyspark.sql.DataFrame
        The documents.
    text_col : str
        The column of texts; a null text is never linked.
    id_col : str
        Unique integer or string ids, none null (anything else is refused with
        ValueError or TypeError before any work).
    threshold : float
        The signature agreement that links two documents, in [0, 1].
    shingle_size : int, default 3
        Characters per shingle.
    num_hashes : int, default 128
        MinHash signature length.
    bands : int, optional
        The LSH bands (rows per band: ``num_hashes // bands``); by default the
        choice of :func:`vornkit.lsh_params` for the threshold.

    Returns
    -------
    pyspark.sql.DataFrame
        Columns (``id_col``, ``component``): ``component`` is the smallest id of
        the document's cluster (its own id when it has no near-duplicate), of
        the ids' own type.

    Raises
    ------
    ValueError
        A threshold outside [0, 1], a missing column, bands that do not fit, or
        ids that are null or repeated.

    Examples
    --------
    >>> import vornkit.spark
    >>> docs = spark.createDataFrame(
    ...     [(1, "the quick brown fox jumps over the lazy dog"),
    ...      (2, "the quick brown fox jumped over the lazy dog"),
    ...      (3, "an entirely different sentence about cats")],
    ...     "doc_id long, body string")
    >>> clusters = vornkit.spark.minhash_dedup(docs, "body", id_col="doc_id", threshold=0.5)
    >>> sorted(tuple(row) for row in clusters.collect())
    [(1, 1), (2, 1), (3, 3)]
    """
    if not 0.0 <= threshold <= 1.0:
        raise ValueError(f"threshold must be between 0 and 1, not {threshold!r}")
    # The sizes are checked here, as the executors would take them, before any work.
    vornkit.minhash_signatures([""], shingle_size, num_hashes)
    if bands is None:
        bands, rows = vornkit.lsh_params(threshold, num_hashes)
    else:
        if not 1 <= bands <= num_hashes:
            raise ValueError(f"bands must be between 1 and num_hashes ({num_hashes}), not {bands!r}")
        rows = num_hashes // bands
    for name in (text_col, id_col):
        if name not in df.columns:
            raise ValueError(f"no column {name!r} in the DataFrame")
    string_ids = check_ids(df, id_col)

    spark = df.sparkSession
    if string_ids:
        # The work runs on long ids: each string's rank in sorted order, so
        # that the smallest rank of a cluster is its smallest string.
        ranks = spark.createDataFrame(
            df.select(id_col).orderBy(id_col).rdd.zipWithIndex().map(lambda pair: (pair[0][0], pair[1])),
            "_vornkit_key string, _vornkit_rank long",
        ).localCheckpoint()
        df = (
            df.join(ranks, F.col(id_col) == F.col("_vornkit_key"))
            .drop(id_col)
            .withColumnRenamed("_vornkit_rank", id_col)
        )
    documents = df.select(F.col(id_col).cast("long").alias(id_col), F.col(text_col).cast("string").alias(text_col))
    previous_batch = spark.conf.get("spark.sql.execution.arrow.maxRecordsPerBatch", None)
    spark.conf.set("spark.sql.execution.arrow.maxRecordsPerBatch", str(BATCH_ROWS))
    try:
        signed = documents.mapInArrow(
            _signature_batches(text_col, id_col, shingle_size, num_hashes, bands, rows),
            "id long, signature binary, keys array<long>",
        )

        # Documents with equal signatures are linked to the first of them
        # (they agree everywhere and share every key); only that one takes
        # part in the bands, so a bucket of many exact copies costs no
        # quadratic number of pairs. One shuffle of the signatures.
        grouped = signed.withColumn("first", F.min("id").over(Window.partitionBy("signature"))).localCheckpoint()
        copies = grouped.where(F.col("id") != F.col("first")).select(
            F.col("id").alias("src"), F.col("first").alias("dst")
        )
        representatives = grouped.where(F.col("id") == F.col("first"))
        keyed = representatives.select("id", F.posexplode("keys").alias("band", "key"))
        candidates = (
            keyed.alias("a")
            .join(keyed.alias("b"), ["band", "key"])
            .where(F.col("a.id") < F.col("b.id"))
            .select(F.col("a.id").alias("i"), F.col("b.id").alias("j"))
            .distinct()
        )
        signatures = representatives.select("id", "signature")
        with_signatures = candidates.join(
            signatures.select(F.col("id").alias("i"), F.col("signature").alias("sig_i")), "i"
        ).join(signatures.select(F.col("id").alias("j"), F.col("signature").alias("sig_j")), "j")
        edges = with_signatures.select("i", "j", "sig_i", "sig_j").mapInArrow(
            _verified_edges(threshold, num_hashes), "src long, dst long"
        )
        labels = components(edges.union(copies))
    finally:
        if previous_batch is None:
            spark.conf.unset("spark.sql.execution.arrow.maxRecordsPerBatch")
        else:
            spark.conf.set("spark.sql.execution.arrow.maxRecordsPerBatch", previous_batch)

    clusters = (
        documents.select(F.col(id_col).alias("id"))
        .join(labels, F.col("id") == F.col("node"), "left")
        .select("id", F.coalesce("component", "id").alias("component"))
    )
    if not string_ids:
        return clusters
    return (
        clusters.join(ranks.select(F.col("_vornkit_rank").alias("id"), F.col("_vornkit_key").alias("_id")), "id")
        .join(ranks.select(F.col("_vornkit_rank").alias("component"), F.col("_vornkit_key").alias("_c")), "component")
        .select(F.col("_id").alias("id"), F.col("_c").alias("component"))
    )


def _rebuilt_processor(state: tuple[Any, ...]) -> Any:
    """A vorn.Preprocessor equal to the one whose processor_state this is."""
    normalize, collapse, trim, lowercase, remove_stopwords, stopwords, max_length = state
    return (
        vorn.Preprocessor()
        .with_normalize_unicode(normalize)
        .with_collapse_whitespace(collapse)
        .with_trim(trim)
        .with_lowercase(lowercase)
        .with_remove_stopwords(remove_stopwords)
        .with_stopwords(stopwords)
        .with_max_length(max_length)
    )


def _pair_validity(a: pa.Array, b: pa.Array) -> pa.Buffer | None:
    """The validity bitmap (offset 0) of the pairs where both texts are set,
    or None when no text is null."""
    if not a.null_count and not b.null_count:
        return None
    both = pc.and_(a.is_valid(), b.is_valid()).to_numpy(zero_copy_only=False)
    return pa.py_buffer(np.packbits(both, bitorder="little"))


def score(
    col_a: Column | str,
    col_b: Column | str,
    *,
    scorer: Callable[..., Any],
    processor: Processor | None = None,
    scorer_kwargs: Mapping[str, Any] | None = None,
) -> Column:
    """A Column of ``scorer``'s scores of the pairs (col_a[i], col_b[i]).

    Scores are the very values of the vorn function, computed in the
    executors over Arrow batches.

    Parameters
    ----------
    col_a, col_b : pyspark.sql.Column or str
        Two string columns.
    scorer : callable
        One of vorn's pairwise functions, as for :func:`vornkit.cpdist`.
    processor : vorn.Preprocessor, optional
        Applied to each text first.
    scorer_kwargs : mapping, optional
        The scorer's size arguments (``n``, ``shingle_size``, ``num_hashes``).

    Returns
    -------
    pyspark.sql.Column
        A ``long`` column for a distance, a ``double`` one for a similarity;
        null where either text is null.

    Raises
    ------
    TypeError
        A scorer that is not one of vorn's pairwise functions.

    Examples
    --------
    >>> import vorn, vornkit.spark
    >>> pairs = spark.createDataFrame([("Jonathan", "Jonathon"), ("Mary", None)], "a string, b string")
    >>> scores = pairs.select(vornkit.spark.score("a", "b", scorer=vorn.levenshtein_distance).alias("d"))
    >>> [row.d for row in scores.collect()]
    [1, None]
    """
    kwargs = dict(scorer_kwargs or {})
    # Checked here, on the driver, rather than in the first task.
    is_distance = bool(_native.scorer_info(scorer, kwargs)[1])
    processor_state = None if processor is None else _native.processor_state(processor)

    arrow_type = pa.int64() if is_distance else pa.float64()
    # The Preprocessor is rebuilt on a task's first batch, not on every one.
    processors: list[Any] = []

    def run(a: pa.Array, b: pa.Array) -> pa.Array:
        if processor_state is not None and not processors:
            processors.append(_rebuilt_processor(processor_state))
        # cpdist reads the Arrow buffers in place and gives null pairs a
        # placeholder score; their validity is restored below.
        values = vornkit.cpdist(
            a,
            b,
            scorer=scorer,
            scorer_kwargs=kwargs,
            processor=processors[0] if processors else None,
            dtype=np.int64 if is_distance else np.float64,
        )
        return pa.Array.from_buffers(arrow_type, len(values), [_pair_validity(a, b), pa.py_buffer(values)])

    udf = F.arrow_udf(run, LongType() if is_distance else DoubleType())  # type: ignore[attr-defined,unused-ignore]
    column: Column = udf(col_a, col_b)
    return column
