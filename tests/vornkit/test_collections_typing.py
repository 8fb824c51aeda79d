"""vornkit is typed: the package passes mypy --strict, and so does code that
uses its functions and indexes as documented, while misuse is caught."""

import harness
import pytest

pytest.importorskip("mypy")

GOOD = """
    import numpy as np
    import numpy.typing as npt
    import vorn
    import vornkit

    names = ["kitten", "sitting", None]
    matrix: npt.NDArray[np.float64] = vornkit.cdist(names, ("x",), scorer=vorn.jaro_winkler_similarity)
    aligned = vornkit.cpdist(np.array(["a"]), ["b"], scorer=vorn.levenshtein_distance, dtype=np.int32, workers=-1)
    indices, scores = vornkit.topk(names, names, 2, scorer=vorn.levenshtein_similarity, score_cutoff=0.5)
    first: int = int(indices[0, 0])
    hits = vornkit.extract("kitten", names, scorer=vorn.jaccard_similarity, scorer_kwargs={"n": 2}, limit=None)
    for choice, score, index in hits:
        position: int = index
    best = vornkit.extract_one("kitten", names, scorer=vorn.levenshtein_distance, processor=vorn.Preprocessor())
    prepared: vornkit.PreparedTexts = vornkit.prepare(names, processor=str.lower)
    again = vornkit.extract_one("Kitten", prepared, scorer=vorn.levenshtein_distance)
    original: str | None = prepared[0]
    i, j, s = vornkit.threshold_join(names, scorer=vorn.levenshtein_distance, score_cutoff=2)
    labels: npt.NDArray[np.int64] = vornkit.dedup(["a", "b"], method="simhash", workers=2)
    signatures: npt.NDArray[np.uint64] = vornkit.minhash_signatures(["a"], num_hashes=16)
    lsh = vornkit.MinHashLSH(0.7, 16, weights=(0.3, 0.7))
    lsh.add(np.arange(1), signatures)
    pair_i, pair_j = lsh.pairs()
    bands: int = lsh.bands
    pi, pj, distance = vornkit.SimHashIndex(max_distance=2).pairs()
    shape: tuple[int, int] = vornkit.lsh_params(0.5, 64)
    edits = vornkit.EditIndex(names, processor=vorn.Preprocessor())
    near, steps = edits.query("kiten", 1)
    qi, ci, dist = edits.query_many(["kiten"], 2, workers=2)
    similar: npt.NDArray[np.float64] = edits.query_similar("kiten", 0.8)[1]
    count: int = len(edits)
"""

BAD = """
    import vorn
    import vornkit

    vornkit.cdist(["a"], ["b"], vorn.levenshtein_distance)
    vornkit.threshold_join(["a"], scorer=vorn.levenshtein_distance)
    vornkit.extract(["a"], ["b"], scorer=vorn.levenshtein_distance)
    x: str = vornkit.extract_one("a", ["b"], scorer=vorn.levenshtein_distance)
    vornkit.dedup(["a"], method="exact")
    y: str = vornkit.lsh_params(0.5, 8)
    vornkit.SimHashIndex().bands
    vornkit.EditIndex(["a"]).query("a")
"""


def test_the_package_is_strict_clean(tmp_path):
    result = harness.run_mypy(tmp_path, "-p", "vornkit")
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("source,errors", [(GOOD, 0), (BAD, 8)])
def test_uses_check_and_misuses_are_caught(tmp_path, source, errors):
    result = harness.run_mypy_on(tmp_path, source)
    assert result.stdout.count(": error:") == errors, result.stdout
