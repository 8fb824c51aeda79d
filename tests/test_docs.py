"""The examples of the documentation site run, and print what they show.

Every ```python block of a page under docs/ is an interactive session (lines
starting with >>>); the blocks of one page run as one session, in a fresh
working directory, so that names carry over from block to block. A page that
needs an optional package says so with ``<!-- docs-test: requires NAME -->``
and is skipped without it; a page that needs PySpark runs with the Spark
tests, in their session. The examples in the docstrings of the vorn stubs
run against the real extension, and those of vornkit's public names against
vornkit.
"""

from __future__ import annotations

import ast
import doctest
import importlib.util
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs"
STUBS = ROOT / "stubs" / "vorn-stubs" / "__init__.pyi"
PYTHON_BLOCK = re.compile(r"^```python\n(.*?)^```", re.MULTILINE | re.DOTALL)
REQUIRES = re.compile(r"^<!-- docs-test: requires (?P<module>[\w.]+) -->$", re.MULTILINE)
OPTIONS = doctest.ELLIPSIS

pages = sorted(DOCS.rglob("*.md")) if DOCS.is_dir() else []


def run_examples(blocks: list[tuple[str, int]], name: str) -> doctest.TestResults:
    """Runs the doctest examples of ``blocks`` (source, first line) as one session,
    each failure reported at its line of ``name``; returns (failed, attempted)."""
    globs: dict[str, object] = {"__name__": "__docs__"}
    runner = doctest.DocTestRunner(optionflags=OPTIONS)
    parser = doctest.DocTestParser()
    try:
        for source, line in blocks:
            test = parser.get_doctest(source, globs, name, name, line)
            test.globs = globs  # get_doctest copies them; the session shares one namespace
            runner.run(test, clear_globs=False)
    finally:
        globs.clear()
    return runner.summarize(verbose=False)


def page_session(page: Path) -> tuple[list[tuple[str, int]], list[str]]:
    """The page's python blocks with the line each starts at, and the modules the page requires."""
    text = page.read_text(encoding="utf-8")
    blocks = [(m[1], text.count("\n", 0, m.start(1))) for m in PYTHON_BLOCK.finditer(text)]
    return blocks, REQUIRES.findall(text)


@pytest.mark.parametrize("page", pages, ids=[str(p.relative_to(DOCS)) for p in pages])
def test_page_examples(page: Path, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    session, required = page_session(page)
    if "pyspark" in required:
        pytest.skip("runs with the Spark tests (tests/spark/test_docs_page.py)")
    for module in required:
        if importlib.util.find_spec(module) is None:
            pytest.skip(f"{page.name} needs {module}")
    if not session:
        pytest.skip("no examples on this page")
    monkeypatch.chdir(tmp_path)
    result = run_examples(session, str(page.relative_to(ROOT)))
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples of {page.name} failed"


@pytest.mark.parametrize("page", pages, ids=[str(p.relative_to(DOCS)) for p in pages])
def test_every_python_block_is_an_example(page: Path) -> None:
    # A block without >>> would be shown but never run: a shell command belongs in ```sh.
    untested = [block for block in PYTHON_BLOCK.findall(page.read_text(encoding="utf-8")) if ">>>" not in block]
    assert not untested, f"{page.name} has a python block that does not run: {untested[0][:80]!r}"


@pytest.mark.parametrize(
    ("source", "failed"),
    [
        (">>> 1 + 1\n2\n", 0),
        (">>> 1 + 1\n3\n", 1),  # wrong output
        (">>> import vorn\n>>> vorn.levenshtein_distance('kitten', 'sitting')\n4\n", 1),
        (">>> undefined_name\n", 1),  # an exception nobody expected
        (">>> x = 2\n\n>>> x * 3\n6\n", 0),  # names carry over between blocks
    ],
)
def test_runner_catches_broken_examples(source: str, failed: int) -> None:
    blocks = [(block, 0) for block in source.split("\n\n")]
    assert run_examples(blocks, "example").failed == failed


def test_runner_reads_each_python_block_of_a_page(tmp_path: Path) -> None:
    page = tmp_path / "page.md"
    page.write_text(
        "<!-- docs-test: requires pyspark -->\n```python\n>>> x = 1\n```\n\n```sh\necho no\n```\n\n"
        "```python\n>>> x + 1\n3\n```\n",
        encoding="utf-8",
    )
    session, required = page_session(page)
    assert required == ["pyspark"]
    assert run_examples(session, "page").failed == 1


def stub_docstrings() -> dict[str, str]:
    """Docstrings of the stub's module-level functions and classes and of their methods, by name."""
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    found: dict[str, str] = {}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            found[node.name] = ast.get_docstring(node) or ""
        if isinstance(node, ast.ClassDef):
            for member in node.body:
                if isinstance(member, ast.FunctionDef):
                    found[f"{node.name}.{member.name}"] = ast.get_docstring(member) or ""
    return found


def test_every_vorn_name_has_help_with_an_example() -> None:
    import vorn

    docs = stub_docstrings()
    assert set(vorn.__all__) <= set(docs)
    assert [name for name in vorn.__all__ if ">>>" not in docs[name]] == []
    methods = [name for name in docs if "." in name]
    assert [name for name in methods if not docs[name]] == []


@pytest.mark.parametrize("name", sorted(stub_docstrings()) if STUBS.exists() else [])
def test_stub_examples(name: str) -> None:
    source = stub_docstrings()[name]
    if ">>>" not in source:
        pytest.skip("no example")
    result = run_examples([(source, 0)], f"vorn.{name}")
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples of vorn.{name} failed"


def vornkit_objects() -> list[tuple[str, object]]:
    import vornkit

    found = [(name, getattr(vornkit, name)) for name in vornkit.__all__]
    if importlib.util.find_spec("pyspark") is not None:
        import vornkit.spark

        found += [(f"spark.{name}", getattr(vornkit.spark, name)) for name in vornkit.spark.__all__]
    return found


def test_vornkit_docstring_examples() -> None:
    finder = doctest.DocTestFinder(exclude_empty=True)
    runner = doctest.DocTestRunner(optionflags=OPTIONS)
    for name, obj in vornkit_objects():
        for test in finder.find(obj, f"vornkit.{name}", globs={}):
            runner.run(test)
    result = runner.summarize(verbose=False)
    assert result.failed == 0, f"{result.failed} of {result.attempted} vornkit docstring examples failed"
