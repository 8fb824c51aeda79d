"""The demo runs end to end, on the machine's license texts and on a
directory of the user's own files, and groups what belongs together."""

import subprocess
import sys
from pathlib import Path

import pytest

DEMO = Path(__file__).resolve().parent.parent / "examples" / "demo.py"
LICENSES = Path("/usr/share/common-licenses")

pytestmark = pytest.mark.skipif(not DEMO.exists(), reason="demo not in this tree")


def run_demo(*args):
    completed = subprocess.run([sys.executable, str(DEMO), *args], capture_output=True, text=True, timeout=120)
    assert completed.returncode == 0, completed.stderr
    return completed.stdout


def family_lines(report):
    return [line for line in report.splitlines() if line.strip().startswith("family ")]


@pytest.mark.skipif(not (LICENSES / "GPL-3").exists(), reason="no Debian license texts here")
def test_license_families_and_corrections():
    report = run_demo()
    families = family_lines(report)
    assert any("GFDL-1.2" in line and "GFDL-1.3" in line for line in families)
    assert any("GPL-2" in line and "GPL-3" in line for line in families)
    assert "GPL -> GPL-3" in report  # a link is reported as an exact duplicate
    assert any(line.split()[:2] == ["COPYRIGTH", "copyright"] for line in report.splitlines())
    assert any(line.split()[:2] == ["Licence", "license"] for line in report.splitlines())


def test_own_directory(tmp_path):
    base = "The quick brown fox jumps over the lazy dog near the river bank. " * 20
    (tmp_path / "original.txt").write_text(base)
    (tmp_path / "edited.txt").write_text(base.replace("lazy", "sleepy", 3))
    (tmp_path / "other.txt").write_text("Completely unrelated words about compilers and parsers. " * 15)
    (tmp_path / "link.txt").symlink_to(tmp_path / "original.txt")
    report = run_demo(str(tmp_path))
    families = family_lines(report)
    assert len(families) == 1 and "edited.txt" in families[0] and "original.txt" in families[0]
    assert "no near duplicate: other.txt" in report
    assert "link.txt -> original.txt" in report


def test_missing_directory_is_a_usage_error(tmp_path):
    completed = subprocess.run([sys.executable, str(DEMO), str(tmp_path / "absent")], capture_output=True, text=True)
    assert completed.returncode == 2
    assert "is not a directory" in completed.stderr
