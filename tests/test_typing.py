import pathlib
import subprocess
import sys
import sysconfig

import harness
import pytest

STUBS = pathlib.Path(sysconfig.get_paths()["purelib"]) / "vorn-stubs" / "__init__.pyi"

pytest.importorskip("mypy")
pytestmark = pytest.mark.skipif(not STUBS.exists(), reason="vorn is not installed with its stubs (development build)")

GOOD = """
    import vorn

    d: int = vorn.levenshtein_distance("kitten", "sitting")
    s: float = vorn.jaccard_similarity(a="ab", b="abc", n=2)
    sig: list[int] = vorn.minhash_signature("text", 3, 128)
    fp: int = vorn.simhash_fingerprint_default("text")
    p = vorn.Preprocessor().with_lowercase(False).with_stopwords(["a", "the"]).with_max_length(10)
    cleaned: str = p.process("  Some Text ")
    flow = vorn.VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2).preprocess(True)
    result = flow.compare("a", "b")
    score: float = result["score"]
    tier: int = result["tier"]
    data: str = result["fallback_data"]
    reveal_type(flow.compare_with_intent("auto", "a", "b"))
"""

BAD = """
    import vorn

    vorn.levenshtein_distance("a", 1)
    vorn.VornFlow().compare("a", "b")["missing"]
    x: str = vorn.hamming_distance("a", "b")
    vorn.Preprocessor().with_trim(True).nope()
"""


def test_mypy_accepts_correct_use(tmp_path):
    out = harness.run_mypy_on(tmp_path, GOOD)
    assert out.returncode == 0, out.stdout + out.stderr
    assert "TypedDict(vorn.ComparisonResult, {'score': float" in out.stdout.replace('"', "")


def test_mypy_rejects_wrong_use(tmp_path):
    out = harness.run_mypy_on(tmp_path, BAD)
    assert out.returncode == 1, out.stdout + out.stderr
    for line in (4, 5, 6, 7):
        assert f"example.py:{line}: error" in out.stdout, out.stdout


def test_stubs_match_the_module(tmp_path):
    # Both ways: every stub name exists, and every public runtime name has a
    # stub. The result dict's TypedDict exists for type checkers only; the
    # Preprocessor's settings accessor is private to vornkit.
    allowlist = tmp_path / "allowlist.txt"
    allowlist.write_text("vorn.ComparisonResult\nvorn.Preprocessor.__vorn_settings__\n")
    out = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "vorn", "--allowlist", str(allowlist)],
        capture_output=True,
        text=True,
    )
    assert out.returncode == 0, out.stdout + out.stderr
