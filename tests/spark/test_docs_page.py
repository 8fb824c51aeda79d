"""The Spark guide's examples run here, in the Spark tests' session, where
PySpark and Java are present (tests/test_docs.py runs every other page)."""

import test_docs


def test_spark_guide_examples(spark, tmp_path, monkeypatch):
    page = test_docs.DOCS / "guides" / "spark.md"
    blocks, required = test_docs.page_session(page)
    assert required == ["pyspark"] and blocks
    monkeypatch.chdir(tmp_path)
    result = test_docs.run_examples(blocks, "docs/guides/spark.md")
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples of the Spark guide failed"
