"""vornkit.spark.link in a local[2] session, beside vornkit.link_records in this process
and beside Splink on the same Spark session.

    .venv/bin/python bench/spark_linkage.py [--records 1000000] [--repeats 2] [--splink]

Generated person records (bench/person_data.py, 20% duplicates) are
deduplicated, read by Spark from one Parquet file.

The local case (always, unless --splink-only): the model and the blocking
rules are fitted and chosen once by link_records (the local run, timed on
its own); then the same model and rules predict locally and on Spark, each
the best of --repeats runs. The Spark pairs and probabilities must equal
the local ones; the script says so, with F1 against the known duplicates,
and the time of the session start.

The Splink case (--splink): each tool starts from the records alone and
links them on Spark, fitting included: vornkit.spark.link given only the
fields and the id; Splink (its Spark backend, with its similarity UDF jar)
given bench/linkage.py's hand-written configuration and training, keeping
pairs at probability 0.5. Wall time runs from reading the Parquet file to
the pairs' ids collected in this process; F1 is pairwise against the
hidden entities. Splink gets --splink-minutes per run: past that its jobs
are cancelled and it is reported as not finished.
"""

import argparse
import logging
import signal
import sys
import tempfile
import time
from pathlib import Path

import linkage
import person_data
import pyarrow as pa
import pyarrow.parquet as pq
from linkage_eval import pair_quality
from spark_session import start_session

import vornkit

FIELDS = list(linkage.GENERATED_ON)
SPLINK_SCHEMA = "person"  # bench/linkage.py's configuration of the generated person records


def f1(found, truth):
    return pair_quality(found, truth, dedup=True).f1


def compare_with_local(spark, session_start, path, records, truth, repeats):
    """The fitted model and rules predict locally and on Spark; True if the pairs are equal."""
    from vornkit import spark as vornkit_spark

    start = time.perf_counter()
    fitted = vornkit.link_records(records, on=FIELDS, id="id")
    print(f"local link_records with fitting and rule choice: {time.perf_counter() - start:.1f} s")
    model, rules = fitted.model, fitted.blocking.rules
    for line in fitted.blocking.describe():
        print(f"  {line}")

    local_times = []
    for _ in range(repeats):
        start = time.perf_counter()
        local = vornkit.link_records(records, model=model, blocking=rules, id="id")
        local_times.append(time.perf_counter() - start)
    expected = {(a, b, p) for a, b, p in zip(local.left_id.tolist(), local.right_id.tolist(), local.match_probability)}
    print(f"local predict, given model and rules: {min(local_times):.1f} s, {len(local):,} pairs")

    spark_times = []
    for _ in range(repeats):
        start = time.perf_counter()
        lines = []
        found = vornkit_spark.link(spark.read.parquet(path), id="id", model=model, blocking=rules, report=lines.append)
        rows = found.select("left_id", "right_id", "match_probability").collect()
        spark_times.append(time.perf_counter() - start)
    for line in lines:
        print(f"  spark {line}")
    pairs = {(row[0], row[1], row[2]) for row in rows}
    equal = pairs == expected
    print(f"vornkit.spark.link: {min(spark_times):.1f} s, {len(pairs):,} pairs, equal to local: {equal}")
    local_runs, spark_runs = (", ".join(f"{t:.1f}" for t in times) for times in (local_times, spark_times))
    print(f"  each run: local {local_runs} s; spark {spark_runs} s")
    aim = 2 * min(local_times) + session_start
    print(f"aim (twice the local time plus the session start): {aim:.1f} s; met: {min(spark_times) <= aim}")
    ratio = min(spark_times) / min(local_times)
    with_start = (min(spark_times) + session_start) / min(local_times)
    print(f"ratio spark / local: {ratio:.2f} (with the session start: {with_start:.2f})")
    print(f"F1 against the known duplicates: {f1({(a, b) for a, b, _ in pairs}, truth):.4f}")
    return equal


def vornkit_on_spark(spark, path):
    """vornkit.spark.link from the records alone: fitting on a sample, rule choice, prediction."""
    from vornkit import spark as vornkit_spark

    found = vornkit_spark.link(spark.read.parquet(path), on=FIELDS, id="id", report=lambda line: None)
    pairs = found.select("left_id", "right_id").toArrow()
    return zip(pairs["left_id"].to_pylist(), pairs["right_id"].to_pylist())


def splink_on_spark(spark, path):
    """Splink's Spark backend with bench/linkage.py's configuration, pairs at its default 0.5."""
    from splink import Linker
    from splink.backends.spark import SparkAPI

    settings, training, deterministic = linkage.splink_settings(SPLINK_SCHEMA, dedup=True, spark=True)
    api = SparkAPI(spark_session=spark)
    linker = Linker(api.register(spark.read.parquet(path)), settings)
    linkage.train_splink(linker, training, deterministic)
    predictions = linker.inference.predict(threshold_match_probability=linkage.SPLINK_DEFAULT)
    pairs = predictions.as_spark_dataframe().select("id_l", "id_r").toArrow()
    return zip(pairs["id_l"].to_pylist(), pairs["id_r"].to_pylist())


class TimeLimit(Exception):
    pass


def timed(run, seconds):
    """run() and its wall time; TimeLimit when it takes longer than seconds (py4j hands the
    alarm's exception on as its own error, so the flag tells)."""
    expired = []

    def expire(signum, frame):
        expired.append(True)
        raise TimeLimit

    previous = signal.signal(signal.SIGALRM, expire)
    signal.alarm(max(1, round(seconds)))
    try:
        start = time.perf_counter()
        result = set(run())
        return result, time.perf_counter() - start
    except Exception as error:
        if expired:
            raise TimeLimit from error
        raise
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


def compare_with_splink(spark, path, truth, repeats, minutes):
    """vornkit.spark.link and Splink on Spark, interleaved, each the best of repeats runs;
    True unless vornkit's F1 is below Splink's."""
    logging.disable(logging.WARNING)  # Splink's progress lines
    splink = f"Splink {linkage.splink_version()} (Spark)"
    tools = {"vornkit.spark.link": (vornkit_on_spark, 24 * 3600), splink: (splink_on_spark, minutes * 60)}
    best = dict.fromkeys(tools, float("inf"))
    quality = {}
    for _ in range(repeats):
        for name, (run, limit) in tools.items():
            try:
                pairs, seconds = timed(lambda run=run: run(spark, str(path)), limit)
            except TimeLimit:
                spark.sparkContext.cancelAllJobs()
                print(f"{name}: did not finish in {limit / 60:g} min", flush=True)
                continue
            best[name] = min(best[name], seconds)
            quality[name] = pair_quality(pairs, truth, dedup=True)
            print(f"{name}: {seconds:.1f} s, {len(pairs):,} pairs, {quality[name]}", flush=True)
    ours, theirs = list(best)
    if theirs not in quality:
        return True
    print(f"{theirs} / vornkit.spark.link wall time: {best[theirs] / best[ours]:.2f}x (best of {repeats})")
    print(f"F1 vornkit {quality[ours].f1:.4f}, Splink {quality[theirs].f1:.4f}")
    return quality[ours].f1 >= quality[theirs].f1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--splink", action="store_true", help="add the case of Splink on Spark")
    parser.add_argument("--splink-only", action="store_true", help="the case of Splink on Spark alone")
    parser.add_argument("--splink-minutes", type=float, default=40, help="time limit of one Splink run")
    args = parser.parse_args()

    table = person_data.make_dedup_table(args.records, seed=args.seed)
    truth = person_data.true_dedup_pairs(table)
    records = {name: table[name] for name in ["id", *FIELDS]}
    print(f"{args.records:,} records, {len(truth):,} true pairs", flush=True)

    jars = []
    if args.splink or args.splink_only:
        from splink.backends.spark import similarity_jar_location

        jars.append(similarity_jar_location())
    with tempfile.TemporaryDirectory() as directory:
        spark, session_start = start_session(driver_memory="6g", jars=jars, checkpoint_dir=Path(directory) / "ckpt")
        print(f"session start: {session_start:.1f} s", flush=True)
        path = Path(directory) / "records.parquet"
        pq.write_table(pa.table(records), path, row_group_size=50_000)
        ok = True
        if not args.splink_only:
            ok = compare_with_local(spark, session_start, str(path), records, truth, args.repeats) and ok
        if args.splink or args.splink_only:
            ok = compare_with_splink(spark, path, truth, args.repeats, args.splink_minutes) and ok
        spark.stop()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
