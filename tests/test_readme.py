"""The README is what a first visit needs: it opens with the two commands that
do all set-up, stays short, runs every example it shows, and every link it
gives into the documentation resolves. Everything else lives under docs/,
whose examples tests/test_docs.py runs."""

import doctest
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
PYTHON_BLOCK = re.compile(r"^```python\n(.*?)^```", re.MULTILINE | re.DOTALL)
FIRST_BLOCK = re.compile(r"^```sh\n(.*?)^```", re.MULTILINE | re.DOTALL)
LINK = re.compile(r"\]\((?P<target>[^)#\s]+)(?:#(?P<anchor>[^)\s]+))?\)")
# CI and new users run exactly these: the first runs the main job on real data, the second the tests.
SET_UP_COMMANDS = (
    "bash scripts/demo.sh     # set up .venv, build vorn, run the main job: deduplication and record linkage\n"
    "bash scripts/test.sh     # set up .venv with the test dependencies, build vorn, run the tests\n"
)

pytestmark = pytest.mark.skipif(not README.exists(), reason="README not in this tree")


def readme_text() -> str:
    return README.read_text(encoding="utf-8")


def example_blocks():
    return [block for block in PYTHON_BLOCK.findall(readme_text()) if ">>>" in block]


def test_readme_examples():
    blocks = example_blocks()
    assert len(blocks) >= 4
    # One test over all blocks, so that names carry over as in one session.
    test = doctest.DocTestParser().get_doctest("\n".join(blocks), {}, "README", str(README), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    summary = runner.summarize(verbose=False)
    assert summary.failed == 0, f"{summary.failed} of {summary.attempted} README examples failed"


def test_readme_opens_with_the_two_set_up_commands():
    text = readme_text()
    first = FIRST_BLOCK.search(text)
    assert first is not None and first[1] == SET_UP_COMMANDS
    assert text.index("```") == first.start(), "the two commands come before any other block"


def test_readme_stays_short():
    assert len(readme_text().splitlines()) <= 300


def heading_anchors(page: Path) -> set[str]:
    """The anchors MkDocs' toc extension gives the page's headings."""
    anchors = set()
    for heading in re.findall(r"^#+ (.+)$", page.read_text(encoding="utf-8"), re.MULTILINE):
        slug = re.sub(r"[^\w\s-]", "", heading.replace("`", "")).strip().lower()
        anchors.add(re.sub(r"[\s-]+", "-", slug))
    return anchors


def test_readme_links_resolve():
    links = [m for m in LINK.finditer(readme_text()) if "://" not in m["target"]]
    assert any(m["target"].startswith("docs/") for m in links)
    broken = [m[0] for m in links if not (ROOT / m["target"]).is_file()]
    assert broken == []
    missing = [m[0] for m in links if m["anchor"] and m["anchor"] not in heading_anchors(ROOT / m["target"])]
    assert missing == []


def test_readme_keeps_the_benchmark_table_markers():
    # bench/run.py --readme README.md rewrites the table between them.
    text = readme_text()
    assert text.index("<!-- benchmark table start -->") < text.index("<!-- benchmark table end -->")
