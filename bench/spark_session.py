"""The local[2] Spark session of the Spark benchmarks (bench/spark.py, bench/spark_linkage.py)."""

import os
import sys
import time


def start_session(driver_memory="6g", jars=(), checkpoint_dir=None):
    """A local[2] session on the loopback address, without the UI or progress bars, with 8 shuffle
    partitions; its Python workers run this interpreter. Returns the session and the seconds it
    took to start. ``jars`` go on the classpath (they must be given before the JVM starts);
    ``checkpoint_dir`` is where checkpointed DataFrames are written."""
    started = time.perf_counter()
    os.environ["PYSPARK_PYTHON"] = sys.executable
    from pyspark.sql import SparkSession

    builder = (
        SparkSession.builder.master("local[2]")
        .config("spark.ui.enabled", "false")
        .config("spark.ui.showConsoleProgress", "false")
        .config("spark.driver.host", "127.0.0.1")
        .config("spark.driver.bindAddress", "127.0.0.1")
        .config("spark.sql.shuffle.partitions", "8")
        .config("spark.driver.memory", driver_memory)
    )
    if jars:
        builder = builder.config("spark.jars", ",".join(jars))
    spark = builder.getOrCreate()
    spark.sparkContext.setLogLevel("ERROR")
    if checkpoint_dir is not None:
        spark.sparkContext.setCheckpointDir(str(checkpoint_dir))
    return spark, time.perf_counter() - started
