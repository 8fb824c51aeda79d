"""The Spark guide's examples and those of vornkit.spark's docstrings run here,
in the Spark tests' session, where PySpark and Java are present
(tests/test_docs.py runs every other page and docstring)."""

import test_docs


def test_spark_guide_examples(spark, tmp_path, monkeypatch):
    page = test_docs.DOCS / "guides" / "spark.md"
    blocks, required = test_docs.page_session(page)
    assert required == ["pyspark"] and blocks
    monkeypatch.chdir(tmp_path)
    result = test_docs.run_examples(blocks, "docs/guides/spark.md")
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples of the Spark guide failed"


def test_spark_docstring_examples(spark, tmp_path, monkeypatch):
    # The examples of vornkit.spark's names use the session as ``spark``.
    import vornkit.spark

    objects = [(f"vornkit.spark.{name}", getattr(vornkit.spark, name)) for name in vornkit.spark.__all__]
    monkeypatch.chdir(tmp_path)
    result = test_docs.run_docstring_examples(objects, {"spark": spark})
    assert result.attempted > 0
    assert result.failed == 0, f"{result.failed} of {result.attempted} vornkit.spark docstring examples failed"
