"""The instruction-set level every kernel family runs: VORN_ISA lowers it and
clamps what the processor lacks, and every level the processor runs gives the
same scores, signatures and Arrow reading, through the public functions. Each
level needs a process of its own (the choice is made once per process). The
kernels themselves are checked on every level by tests/core/kernels_test.cpp."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

from vornkit import _native

LEVELS = ["portable", "avx2", "avx512"]
HERE = Path(__file__).resolve().parent


def run_python(args, level):
    env = {**os.environ, "VORN_ISA": level}
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, env=env, check=False)


def needs(level):
    if level not in _native.isa_levels:
        pytest.skip(f"this processor does not run {level}")


@pytest.mark.parametrize("requested", [*LEVELS, "", "avx9"])
def test_vorn_isa_lowers_the_level_and_clamps(requested):
    run = run_python(["-c", "from vornkit import _native; print(_native.isa, *_native.isa_levels)"], requested)
    assert run.returncode == 0, run.stderr
    active, *levels = run.stdout.split()
    assert levels == list(_native.isa_levels) == LEVELS[: len(levels)]
    assert active == (requested if requested in levels else levels[-1])
    assert ("ignoring VORN_ISA=avx9" in run.stderr) == (requested == "avx9")


# Texts at the lane widths of the tiles and the blocks of the UTF-8 kernels,
# long enough for every MinHash register group.
RESULTS = """
import hashlib, random
import numpy as np
import vorn, vornkit
rng = random.Random(3)
alphabet = "abcdé中😀 "
texts = ["".join(rng.choices(alphabet, k=rng.choice([0, 1, 7, 8, 9, 16, 31, 33, 64, 65, 130]))) for _ in range(120)]
digest = hashlib.sha256()
for scorer in (vorn.levenshtein_distance, vorn.jaro_winkler_similarity):
    digest.update(vornkit.cdist(texts[:20], texts, scorer=scorer).tobytes())
    digest.update(vornkit.cpdist(texts, texts[::-1], scorer=scorer).tobytes())
digest.update(vornkit.cdist(texts[:20], texts, scorer=vorn.levenshtein_distance, score_cutoff=3).tobytes())
for text in texts[:40]:
    digest.update(repr(vorn.minhash_signature(text * 3, 3, 300)).encode())
    digest.update(repr(vorn.minhash_signature(text, 2, 17)).encode())
print(digest.hexdigest())
"""


@pytest.mark.parametrize("level", LEVELS)
def test_every_level_gives_the_same_results(level):
    needs(level)
    runs = {name: run_python(["-c", RESULTS], name) for name in ("portable", level)}
    for run in runs.values():
        assert run.returncode == 0, run.stderr
    assert runs[level].stdout == runs["portable"].stdout


@pytest.mark.parametrize("level", LEVELS)
def test_arrow_reading_on_every_level(level):
    needs(level)
    pytest.importorskip("pyarrow")
    test_file = str(HERE / "test_utf8_validation.py")
    run = run_python(["-m", "pytest", "-q", "-p", "no:cacheprovider", test_file], level)
    assert run.returncode == 0, run.stdout[-3000:]
