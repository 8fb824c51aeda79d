"""One local Spark session for the whole test run.

The Spark tests need PySpark (the ``spark`` extra) and a Java runtime, which
``scripts/test.sh`` installs. They never skip on their own: without PySpark
or Java they fail, unless VORN_SKIP_SPARK=1 asks for them to be skipped.
"""

import os
import shutil
import sys

import pytest

SKIP = os.environ.get("VORN_SKIP_SPARK") == "1"


def pytest_collection_modifyitems(items):
    if SKIP:
        marker = pytest.mark.skip(reason="Spark tests skipped: VORN_SKIP_SPARK=1")
        for item in items:
            if "tests/spark/" in item.nodeid:
                item.add_marker(marker)


@pytest.fixture(scope="session")
def spark():
    if shutil.which("java") is None:
        pytest.fail("Spark tests need a Java runtime (scripts/test.sh installs one; VORN_SKIP_SPARK=1 skips them)")
    try:
        from pyspark.sql import SparkSession
    except ImportError:
        pytest.fail("Spark tests need the spark extra (scripts/test.sh installs it; VORN_SKIP_SPARK=1 skips them)")
    # Workers run the interpreter of the tests, with vornkit installed.
    os.environ["PYSPARK_PYTHON"] = sys.executable
    session = (
        SparkSession.builder.master("local[2]")
        .appName("vornkit-tests")
        .config("spark.ui.enabled", "false")
        .config("spark.driver.host", "127.0.0.1")
        .config("spark.driver.bindAddress", "127.0.0.1")
        .config("spark.sql.shuffle.partitions", "4")
        .config("spark.default.parallelism", "4")
        .getOrCreate()
    )
    session.sparkContext.setLogLevel("ERROR")
    yield session
    session.stop()
