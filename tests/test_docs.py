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
import inspect
import re
import sys
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


SECTION = re.compile(r"^ *(?P<name>Parameters|Attributes|Returns|Raises|Examples)\n *-{3,}$", re.MULTILINE)
SPARK = ROOT / "src" / "vornkit" / "spark.py"


def public_modules() -> list[tuple[str, list[str]]]:
    """The public modules of vornkit (vornkit.spark apart: it needs PySpark) and their names."""
    import vornkit
    import vornkit.distance
    import vornkit.fuzz
    import vornkit.utils

    return [
        (module.__name__, list(module.__all__)) for module in (vornkit, vornkit.fuzz, vornkit.distance, vornkit.utils)
    ]


def own_attributes(cls: type) -> dict[str, object]:
    """What a public class defines itself or takes from vornkit's private base classes."""
    found: dict[str, object] = {}
    for base in reversed(cls.__mro__):
        if base is cls or (base.__name__.startswith("_") and base.__module__.startswith("vornkit")):
            found.update(vars(base))
    return found


def members(obj: object) -> list[str]:
    """The public functions, methods and properties of ``obj``: a class's own (with those of
    vornkit's private base classes), or the functions of a ``vornkit.distance`` metric."""
    if inspect.isclass(obj):
        return [
            name
            for name, value in own_attributes(obj).items()
            if not name.startswith("_")
            and (inspect.isfunction(value) or isinstance(value, (classmethod, staticmethod, property)))
        ]
    if callable(getattr(obj, "distance", None)) and callable(getattr(obj, "similarity", None)):
        forms = ["distance", "similarity", "normalized_distance", "normalized_similarity", "editops", "opcodes"]
        return [name for name in forms if hasattr(obj, name)]
    return []


def takes_parameters(function: object) -> bool:
    try:
        parameters = inspect.signature(function).parameters  # type: ignore[arg-type]
    except (TypeError, ValueError):
        return True  # a native function without a text signature: every one takes arguments
    return any(name not in ("self", "cls") for name in parameters)


def returns_something(function: object) -> bool:
    try:
        annotation = inspect.signature(function).return_annotation  # type: ignore[arg-type]
    except (TypeError, ValueError):
        return True
    return annotation not in (None, "None")


def missing_sections(doc: str, *, parameters: bool, returns: bool, examples: bool = True) -> list[str]:
    """The NumPy sections a docstring lacks; ["docstring"] when there is none."""
    if not doc.strip():
        return ["docstring"]
    found = {m["name"] for m in SECTION.finditer(doc)}
    if "Attributes" in found:
        found.add("Parameters")  # a named tuple lists its fields as attributes
    wanted = [("Parameters", parameters), ("Returns", returns), ("Examples", examples)]
    lacking = [name for name, needed in wanted if needed and name not in found]
    if examples and ">>>" not in doc and "Examples" not in lacking:
        lacking.append("Examples (>>>)")
    return lacking


def runtime_doc_gaps() -> dict[str, list[str]]:
    """Every public name of vornkit's modules (and each class's and metric's own members) whose
    docstring lacks a section it needs."""
    gaps: dict[str, list[str]] = {}
    for module_name, names in public_modules():
        module = sys.modules[module_name]
        for name in names:
            obj = getattr(module, name)
            qualified = f"{module_name}.{name}"
            if inspect.isclass(obj):
                init = own_attributes(obj).get("__init__") or own_attributes(obj).get("__new__")
                gaps[qualified] = missing_sections(
                    inspect.getdoc(obj) or "", parameters=init is not None and takes_parameters(init), returns=False
                )
            elif callable(obj):
                gaps[qualified] = missing_sections(
                    obj.__doc__ or "", parameters=takes_parameters(obj), returns=returns_something(obj)
                )
            for member in members(obj):
                raw = own_attributes(obj)[member] if inspect.isclass(obj) else getattr(obj, member)
                if isinstance(raw, property):
                    gaps[f"{qualified}.{member}"] = missing_sections(
                        raw.__doc__ or "", parameters=False, returns=False, examples=False
                    )
                    continue
                function = raw.__func__ if isinstance(raw, (classmethod, staticmethod)) else raw
                gaps[f"{qualified}.{member}"] = missing_sections(
                    function.__doc__ or "", parameters=takes_parameters(function), returns=returns_something(function)
                )
    return {name: lacking for name, lacking in gaps.items() if lacking}


def spark_doc_gaps() -> dict[str, list[str]]:
    """The same for vornkit.spark, read from its source, so that it holds without PySpark."""
    tree = ast.parse(SPARK.read_text(encoding="utf-8"))
    exported = next(
        ast.literal_eval(node.value)
        for node in tree.body
        if isinstance(node, ast.Assign) and any(getattr(t, "id", "") == "__all__" for t in node.targets)
    )
    gaps = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and node.name in exported:
            arguments = node.args.posonlyargs + node.args.args + node.args.kwonlyargs
            returns = node.returns is not None and ast.unparse(node.returns) != "None"
            lacking = missing_sections(ast.get_docstring(node) or "", parameters=bool(arguments), returns=returns)
            if lacking:
                gaps[f"vornkit.spark.{node.name}"] = lacking
    return gaps


def test_every_public_vornkit_name_has_a_numpy_docstring() -> None:
    # Parameters where a name takes any, Returns where it returns something, and an example.
    assert runtime_doc_gaps() == {}
    assert spark_doc_gaps() == {}


@pytest.mark.parametrize(
    ("doc", "parameters", "returns", "lacking"),
    [
        ("", True, True, ["docstring"]),
        (
            "Sum.\n\nParameters\n----------\nx : int\n\nReturns\n-------\nint\n\nExamples\n--------\n>>> 1\n1\n",
            True,
            True,
            [],
        ),
        ("Sum.\n\nReturns\n-------\nint\n\nExamples\n--------\n>>> 1\n1\n", True, True, ["Parameters"]),
        ("Sum.\n\nParameters\n----------\nx : int\n\nExamples\n--------\n>>> 1\n1\n", True, True, ["Returns"]),
        ("Sum.\n\nExamples\n--------\nsee above\n", False, False, ["Examples (>>>)"]),
        ("Sum.\n\nParameters: x\n>>> 1\n1\n", True, False, ["Parameters", "Examples"]),
    ],
)
def test_docstring_check_names_each_missing_section(doc, parameters, returns, lacking) -> None:
    assert missing_sections(doc, parameters=parameters, returns=returns) == lacking


def vornkit_objects() -> list[tuple[str, object]]:
    """vornkit's public names whose docstring examples run here (vornkit.spark's run with the
    Spark tests, which have a session: tests/spark/test_docs_page.py)."""
    found = []
    for module_name, names in public_modules():
        module = sys.modules[module_name]
        for name in names:
            obj = getattr(module, name)
            found.append((f"{module_name}.{name}", obj))
            if not inspect.isclass(obj):
                found += [(f"{module_name}.{name}.{member}", getattr(obj, member)) for member in members(obj)]
    return found


def run_docstring_examples(objects: list[tuple[str, object]], globs: dict[str, object]) -> doctest.TestResults:
    finder = doctest.DocTestFinder(exclude_empty=True)
    runner = doctest.DocTestRunner(optionflags=OPTIONS)
    seen: set[int] = set()
    for name, obj in objects:
        for test in finder.find(obj, name, globs=dict(globs)):
            if id(test.docstring) not in seen:  # a function exported under two names runs once
                seen.add(id(test.docstring))
                runner.run(test)
    return runner.summarize(verbose=False)


def test_vornkit_docstring_examples(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.chdir(tmp_path)  # examples that save a file write it here
    result = run_docstring_examples(vornkit_objects(), {})
    assert result.attempted > 0
    assert result.failed == 0, f"{result.failed} of {result.attempted} vornkit docstring examples failed"
