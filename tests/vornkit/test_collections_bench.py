"""The collection benchmark runs end to end in its smoke mode, so it cannot
rot between full runs. Nothing about time is asserted."""

import subprocess
import sys
from pathlib import Path

BENCH = Path(__file__).resolve().parents[2] / "bench" / "collection_run.py"


def test_smoke_run_writes_the_report(tmp_path):
    completed = subprocess.run(
        [sys.executable, str(BENCH), "--smoke", "--output", str(tmp_path)], capture_output=True, text=True, timeout=600
    )
    assert completed.returncode == 0, completed.stdout + completed.stderr
    report = (tmp_path / "collection_results.md").read_text(encoding="utf-8")
    for workload in (
        "cdist levenshtein_similarity",
        "cdist jaro_winkler_similarity",
        "topk k=5",
        "extract 1x",
        "threshold_join",
    ):
        assert f"| {workload}" in report
