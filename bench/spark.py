"""vornkit.spark in a local[2] session, beside the single-process functions.

    .venv/bin/python bench/spark.py [--docs 100000] [--pairs 1000000]

1. minhash_dedup over near-duplicate documents of about 1 kB cut from the
   license texts of this machine: the whole job, session start included,
   and the same clusters as vornkit.dedup.
2. score over pairs of names against cpdist on the same pairs, in-process.
"""

import argparse
import os
import random
import sys
import time
from pathlib import Path

import numpy as np
import pyarrow as pa
import vorn


def documents(count, seed=5):
    """Texts of about 1 kB: words drawn from the license texts, and near-
    duplicates of some of them with a few words changed."""
    words = []
    for path in sorted(Path("/usr/share/common-licenses").glob("*")):
        if path.is_file():
            words += path.read_text(errors="replace").split()
    rng = random.Random(seed)
    texts = []
    while len(texts) < count:
        base = [rng.choice(words) for _ in range(170)]
        texts.append(" ".join(base))
        for _ in range(rng.choice((0, 0, 1, 3))):  # near-duplicates: a few words changed
            variant = list(base)
            for _ in range(rng.randint(1, 4)):
                variant[rng.randrange(len(variant))] = rng.choice(words)
            texts.append(" ".join(variant))
    return texts[:count]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--docs", type=int, default=100_000)
    parser.add_argument("--pairs", type=int, default=1_000_000)
    args = parser.parse_args()

    texts = documents(args.docs)
    started = time.perf_counter()
    os.environ["PYSPARK_PYTHON"] = sys.executable  # workers run this interpreter
    from pyspark.sql import SparkSession

    import vornkit.spark

    spark = (
        SparkSession.builder.master("local[2]")
        .config("spark.ui.enabled", "false")
        .config("spark.driver.host", "127.0.0.1")
        .config("spark.driver.bindAddress", "127.0.0.1")
        .config("spark.sql.shuffle.partitions", "8")
        .config("spark.driver.memory", "4g")
        .getOrCreate()
    )
    spark.sparkContext.setLogLevel("ERROR")
    session = time.perf_counter() - started
    table = pa.table({"doc_id": pa.array(range(len(texts)), pa.int64()), "body": pa.array(texts)})
    df = spark.createDataFrame(table)
    rows = vornkit.spark.minhash_dedup(df, "body", id_col="doc_id", threshold=0.8).collect()
    total = time.perf_counter() - started
    spark_labels = np.empty(len(texts), dtype=np.int64)
    for row in rows:
        spark_labels[row["id"]] = row["component"]

    started = time.perf_counter()
    local_labels = vornkit.dedup(texts, threshold=0.8, workers=2)
    local = time.perf_counter() - started
    same = bool(np.array_equal(spark_labels, local_labels))
    clusters = len(np.unique(local_labels))
    print(f"minhash_dedup, {len(texts)} documents of ~1 kB, threshold 0.8, local[2]:")
    print(f"  session start {session:.1f} s, whole job with the start {total:.1f} s (target < 60 s)")
    print(f"  vornkit.dedup in one process, workers=2: {local:.1f} s; {clusters} clusters; same clusters: {same}")

    rng = random.Random(9)
    for label, scorer, low, high in (
        ("names, Jaro-Winkler", vorn.jaro_winkler_similarity, 5, 30),
        ("sentences, Levenshtein", vorn.levenshtein_similarity, 80, 120),
    ):
        pieces = [t[: rng.randint(low, high)] for t in texts[: min(len(texts), 50_000)]]
        a = pa.array([rng.choice(pieces) for _ in range(args.pairs)])
        b = pa.array([rng.choice(pieces) for _ in range(args.pairs)])
        started = time.perf_counter()
        expected = float(np.sum(vornkit.cpdist(a, b, scorer=scorer)))
        single = time.perf_counter() - started
        pairs = spark.createDataFrame(pa.table({"a": a, "b": b})).cache()
        pairs.count()
        started = time.perf_counter()
        got = pairs.select(vornkit.spark.score("a", "b", scorer=scorer).alias("s")).agg({"s": "sum"}).collect()[0][0]
        distributed = time.perf_counter() - started
        print(
            f"score, {args.pairs} pairs of {label}: cpdist {single:.2f} s, Spark {distributed:.2f} s, "
            f"ratio {distributed / single:.1f} (target <= 3); sums agree: {abs(got - expected) < 1e-6 * args.pairs}"
        )
        pairs.unpersist()
    spark.stop()
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
