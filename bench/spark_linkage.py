"""vornkit.spark.link in a local[2] session, beside vornkit.link_records in this process.

    .venv/bin/python bench/spark_linkage.py [--records 1000000] [--repeats 2]

Generated person records (bench/person_data.py, 20% duplicates) are
deduplicated. The model and the blocking rules are fitted and chosen once by
link_records (the local run, timed on its own); then the same model and
rules predict locally and on Spark (the records read from a Parquet file),
each the best of --repeats runs. The Spark pairs and probabilities must
equal the local ones; the script says so, with F1 against the known
duplicates, and the time of the session start.
"""

import argparse
import importlib.util
import os
import sys
import tempfile
import time
from pathlib import Path

import pyarrow as pa
import pyarrow.parquet as pq

import vornkit

BENCH = Path(__file__).resolve().parent
FIELDS = ["first_name", "surname", "dob", "street_number", "street", "city", "postcode", "phone", "email"]


def bench_module(name):
    module_spec = importlib.util.spec_from_file_location(f"bench_{name}", BENCH / f"{name}.py")
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[module_spec.name] = module  # dataclasses look their module up by name
    module_spec.loader.exec_module(module)
    return module


def f1(found, truth):
    hits = len(found & truth)
    precision = hits / max(len(found), 1)
    recall = hits / max(len(truth), 1)
    return 2 * precision * recall / max(precision + recall, 1e-12)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    person_data = bench_module("person_data")

    table = person_data.make_dedup_table(args.records, seed=args.seed)
    truth = person_data.true_dedup_pairs(table)
    records = {name: table[name] for name in ["id", *FIELDS]}

    start = time.perf_counter()
    fitted = vornkit.link_records(records, on=FIELDS, id="id")
    print(f"local link_records with fitting and rule choice: {time.perf_counter() - start:.1f} s")
    model, rules = fitted.model, fitted.blocking.rules
    for line in fitted.blocking.describe():
        print(f"  {line}")

    local_times = []
    for _ in range(args.repeats):
        start = time.perf_counter()
        local = vornkit.link_records(records, model=model, blocking=rules, id="id")
        local_times.append(time.perf_counter() - start)
    expected = {(a, b, p) for a, b, p in zip(local.left_id.tolist(), local.right_id.tolist(), local.match_probability)}
    print(f"local predict, given model and rules: {min(local_times):.1f} s, {len(local):,} pairs")

    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    from pyspark.sql import SparkSession

    from vornkit import spark as vornkit_spark

    start = time.perf_counter()
    spark = (
        SparkSession.builder.master("local[2]")
        .config("spark.ui.enabled", "false")
        .config("spark.ui.showConsoleProgress", "false")
        .config("spark.driver.memory", "6g")
        .config("spark.sql.shuffle.partitions", "8")
        .getOrCreate()
    )
    spark.sparkContext.setLogLevel("ERROR")
    session_start = time.perf_counter() - start
    print(f"session start: {session_start:.1f} s")

    with tempfile.TemporaryDirectory() as directory:
        path = Path(directory) / "records.parquet"
        pq.write_table(pa.table(records), path, row_group_size=50_000)
        spark_times = []
        for _ in range(args.repeats):
            start = time.perf_counter()
            df = spark.read.parquet(str(path))
            lines = []
            found = vornkit_spark.link(df, id="id", model=model, blocking=rules, report=lines.append)
            rows = found.select("left_id", "right_id", "match_probability").collect()
            spark_times.append(time.perf_counter() - start)
        for line in lines:
            print(f"  spark {line}")
    pairs = {(row[0], row[1], row[2]) for row in rows}
    equal = pairs == expected
    print(f"vornkit.spark.link: {min(spark_times):.1f} s, {len(pairs):,} pairs, equal to local: {equal}")
    ratio = min(spark_times) / min(local_times)
    with_start = (min(spark_times) + session_start) / min(local_times)
    print(f"ratio spark / local: {ratio:.2f} (with the session start: {with_start:.2f})")
    print(f"F1 against the known duplicates: {f1({(a, b) for a, b, _ in pairs}, truth):.4f}")
    spark.stop()
    sys.exit(0 if equal else 1)


if __name__ == "__main__":
    main()
