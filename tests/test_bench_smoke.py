"""The benchmark runs end to end in its smoke mode, whichever peers are
installed, so it cannot rot between full runs. Nothing about time is
asserted."""

import subprocess
import sys
from pathlib import Path

import pytest

BENCH = Path(__file__).resolve().parent.parent / "bench" / "run.py"


@pytest.mark.skipif(not BENCH.exists(), reason="benchmark not in this tree")
def test_smoke_run_writes_the_report(tmp_path):
    completed = subprocess.run(
        [sys.executable, str(BENCH), "--smoke", "--output", str(tmp_path)],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert completed.returncode == 0, completed.stdout + completed.stderr
    report = (tmp_path / "results.md").read_text(encoding="utf-8")
    assert "## Targets" in report and "| call overhead |" in report
    assert "DISAGREEMENTS" not in completed.stderr
