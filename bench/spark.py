"""vornkit.spark in a local[2] session, beside the single-process functions.

    .venv/bin/python bench/spark.py [--docs 100000] [--pairs 1000000]

1. minhash_dedup over near-duplicate documents of about 1 kB cut from the
   license texts of this machine: the whole job, session start included,
   and the same clusters as vornkit.dedup.
2. score over pairs of names and of sentences against cpdist on the same
   pairs in this process, with one thread and with two (local[2] has two
   cores), beside two floors of the same query: a JVM expression over the
   two columns (no Python at all) and an Arrow UDF that returns zeros
   (Spark's Python data path with no scoring). The pairs are cached and
   spread over one partition per core. The first run of score (Python
   workers starting, the JVM compiling) is printed on its own; then each
   query runs once untimed, and each time is the best of --repeats runs,
   interleaved.
"""

import argparse
import random
import sys
import time
from pathlib import Path

import numpy as np
import pyarrow as pa
import vorn
from spark_session import start_session


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


def time_score(spark, label, a, b, scorer, repeats):
    """score over the pairs (a[i], b[i]) against cpdist and the two floors."""
    from pyspark.sql import functions as F
    from pyspark.sql.types import DoubleType

    import vornkit.spark

    cores = spark.sparkContext.defaultParallelism
    pairs = spark.createDataFrame(pa.table({"a": a, "b": b})).repartition(cores).cache()
    pairs.count()

    def query(column):
        return lambda: pairs.select(column.alias("s")).agg(F.sum("s")).collect()[0][0]

    zeros = F.arrow_udf(lambda a, b: pa.array(np.zeros(len(a))), DoubleType())
    score = query(vornkit.spark.score("a", "b", scorer=scorer))
    started = time.perf_counter()
    got = score()
    first = time.perf_counter() - started
    contenders = {
        "cpdist, workers=1": lambda: vornkit.cpdist(a, b, scorer=scorer, workers=1),
        "cpdist, workers=2": lambda: vornkit.cpdist(a, b, scorer=scorer, workers=2),
        "floor: JVM expression, no Python": query(F.length("a") + F.length("b")),
        "floor: Arrow UDF returning zeros": query(zeros("a", "b")),
        "score": score,
    }
    for run in contenders.values():  # warm-up: workers, JIT, generated code
        run()
    best = dict.fromkeys(contenders, float("inf"))
    for _ in range(repeats):
        for name, run in contenders.items():
            started = time.perf_counter()
            run()
            best[name] = min(best[name], time.perf_counter() - started)
    expected = float(np.sum(vornkit.cpdist(a, b, scorer=scorer)))
    print(f"score, {len(a)} pairs of {label}, {cores} partitions, best of {repeats}:")
    print(f"  first run of score (cold: Python workers, JIT): {first:.2f} s")
    for name, seconds in best.items():
        ratios = ", ".join(f"{seconds / best[f'cpdist, workers={w}']:.1f}x cpdist workers={w}" for w in (1, 2))
        print(f"  {name:34s} {seconds:6.2f} s  ({ratios})")
    print(f"  target: score <= 3x cpdist workers=1; sums agree: {abs(got - expected) < 1e-6 * len(a)}")
    pairs.unpersist()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--docs", type=int, default=100_000)
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()

    texts = documents(args.docs)
    started = time.perf_counter()
    spark, session = start_session(driver_memory="4g")
    import vornkit.spark

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
        ("sentences (80-120 chars), Levenshtein", vorn.levenshtein_similarity, 80, 120),
    ):
        pieces = [t[: rng.randint(low, high)] for t in texts[: min(len(texts), 50_000)]]
        a = pa.array([rng.choice(pieces) for _ in range(args.pairs)])
        b = pa.array([rng.choice(pieces) for _ in range(args.pairs)])
        time_score(spark, label, a, b, scorer, args.repeats)
    spark.stop()
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
