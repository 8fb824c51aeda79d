"""Every benchmark runs end to end in its smoke mode, whichever peers are
installed, so none can rot between full runs. Nothing about time is
asserted."""

import subprocess
import sys
from pathlib import Path

import pytest

BENCH = Path(__file__).resolve().parent.parent / "bench"

# Script, its arguments beside --smoke, the report it writes (or None: its
# standard output), and lines the report must hold.
RUNS = [
    ("run.py", ["--output"], "results.md", ["## Targets", "| call overhead |"]),
    (
        "collection_run.py",
        ["--output"],
        "collection_results.md",
        ["| cdist levenshtein_similarity", "| cdist jaro_winkler_similarity", "| topk k=5", "| threshold_join"],
    ),
    ("dedup.py", [], None, ["| dedup, 500 documents"]),
    ("edit_index.py", [], None, ["| build over 2,000 names", "| 100 queries, k = 1, workers=2", "| index memory"]),
]


@pytest.mark.parametrize(("script", "arguments", "report", "expected"), RUNS, ids=[run[0] for run in RUNS])
def test_smoke_run_writes_the_report(tmp_path, script, arguments, report, expected):
    if not (BENCH / script).exists():
        pytest.skip("benchmark not in this tree")
    command = [sys.executable, str(BENCH / script), "--smoke", *(arguments and [arguments[0], str(tmp_path)])]
    completed = subprocess.run(command, capture_output=True, text=True, timeout=600)
    assert completed.returncode == 0, completed.stdout + completed.stderr
    text = (tmp_path / report).read_text(encoding="utf-8") if report else completed.stdout
    for line in expected:
        assert line in text
    assert "DISAGREEMENTS" not in completed.stderr
