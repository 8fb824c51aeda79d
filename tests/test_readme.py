"""Every interactive example in the README runs and prints what it shows,
so the documentation cannot drift from the code."""

import doctest
import re
from pathlib import Path

import pytest

README = Path(__file__).resolve().parent.parent / "README.md"
PYTHON_BLOCK = re.compile(r"^```python\n(.*?)^```", re.MULTILINE | re.DOTALL)


def example_blocks():
    return [block for block in PYTHON_BLOCK.findall(README.read_text(encoding="utf-8")) if ">>>" in block]


@pytest.mark.skipif(not README.exists(), reason="README not in this tree")
def test_readme_examples():
    blocks = example_blocks()
    assert len(blocks) >= 8
    # One test over all blocks, so that names carry over as in one session.
    test = doctest.DocTestParser().get_doctest("\n".join(blocks), {}, "README", str(README), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    summary = runner.summarize(verbose=False)
    assert summary.failed == 0, f"{summary.failed} of {summary.attempted} README examples failed"
