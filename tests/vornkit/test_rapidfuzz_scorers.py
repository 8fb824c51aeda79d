"""vornkit.fuzz's and vornkit.distance's functions as scorer= of the collection
functions: every score equals the function called on the pair, with the same
score_cutoff, in cdist, cpdist, topk, extract and threshold_join."""

import functools
import math
import random

import numpy as np
import pytest
from fuzz_inputs import GENERATORS

import vornkit
from vornkit import distance, fuzz

RATIOS = [getattr(fuzz, name) for name in fuzz.__all__ if name not in ("partial_ratio_alignment", "ScoreAlignment")]
COUNTED = [
    distance.Levenshtein,
    distance.Indel,
    distance.LCSseq,
    distance.OSA,
    distance.DamerauLevenshtein,
    distance.Hamming,
    distance.Prefix,
    distance.Postfix,
]
SIMILARITIES = (
    RATIOS
    + [metric.normalized_similarity for metric in COUNTED + [distance.Jaro, distance.JaroWinkler]]
    + [distance.Jaro.similarity, distance.JaroWinkler.similarity]
)
DISTANCES = [metric.distance for metric in COUNTED]
# (scorer, similarity cutoff) pairs: ratios in [0, 100], the rest in [0, 1].
SIMILARITY_CUTOFFS = [(s, 55.0 if s in RATIOS else 0.55) for s in SIMILARITIES]


def _texts(seed, n):
    rng = random.Random(seed)
    texts = []
    for _ in range((n + 1) // 2):
        texts.extend(rng.choice(GENERATORS)(rng))
    return texts[:n]


QUERIES = _texts(1, 24)
CHOICES = _texts(2, 30)


def _name(scorer):
    return f"{getattr(scorer, '__module__', '') or ''}.{scorer.__name__}"


def _expected(scorer, queries, choices, cutoff=None):
    return [[scorer(q, c, score_cutoff=cutoff) for c in choices] for q in queries]


@pytest.mark.parametrize("scorer", SIMILARITIES + DISTANCES, ids=_name)
def test_cdist_equals_the_function(scorer):
    got = vornkit.cdist(QUERIES, CHOICES, scorer=scorer, workers=2)
    assert got.dtype == (np.int64 if scorer in DISTANCES else np.float64)
    assert got.tolist() == _expected(scorer, QUERIES, CHOICES)


WITH_CUTOFFS = SIMILARITY_CUTOFFS + [(d, 3) for d in DISTANCES]


@pytest.mark.parametrize(("scorer", "cutoff"), WITH_CUTOFFS, ids=str)
def test_cutoffs_as_the_function_applies_them(scorer, cutoff):
    expected = _expected(scorer, QUERIES, CHOICES, cutoff)
    assert vornkit.cdist(QUERIES, CHOICES, scorer=scorer, score_cutoff=cutoff).tolist() == expected
    pairs = vornkit.cpdist(QUERIES, CHOICES[: len(QUERIES)], scorer=scorer, score_cutoff=cutoff)
    assert pairs.tolist() == [expected[i][i] for i in range(len(QUERIES))]


@pytest.mark.parametrize(("scorer", "cutoff"), WITH_CUTOFFS, ids=str)
def test_searches_find_what_the_function_scores(scorer, cutoff):
    is_distance = scorer in DISTANCES
    expected = _expected(scorer, QUERIES, CHOICES, cutoff)
    within = [[(s <= cutoff if is_distance else s >= cutoff) for s in row] for row in expected]

    i, j, scores = vornkit.threshold_join(QUERIES, CHOICES, scorer=scorer, score_cutoff=cutoff)
    want = [(a, b, expected[a][b]) for a in range(len(QUERIES)) for b in range(len(CHOICES)) if within[a][b]]
    assert list(zip(i.tolist(), j.tolist(), scores.tolist())) == want

    limit = 4
    indices, best = vornkit.topk(QUERIES, CHOICES, limit, scorer=scorer, score_cutoff=cutoff)

    def rank(row, b):
        return (row[b] if is_distance else -row[b], b)

    for a, row in enumerate(expected):
        order = sorted((b for b in range(len(CHOICES)) if within[a][b]), key=functools.partial(rank, row))
        assert indices[a].tolist()[: len(order[:limit])] == order[:limit]
        assert [best[a][k] for k in range(len(order[:limit]))] == [row[b] for b in order[:limit]]

    found = vornkit.extract_one(QUERIES[0], CHOICES, scorer=scorer, score_cutoff=cutoff)
    candidates = [b for b in range(len(CHOICES)) if within[0][b]]
    if not candidates:
        assert found is None
    else:
        b = min(candidates, key=functools.partial(rank, expected[0]))
        assert found == (CHOICES[b], expected[0][b], b)


def test_nulls_and_refused_forms():
    got = vornkit.cdist(["abc", None], ["abd"], scorer=fuzz.ratio)
    assert got[0, 0] == fuzz.ratio("abc", "abd") and math.isnan(got[1, 0])
    assert vornkit.cdist([None], ["abd"], scorer=distance.Indel.distance).tolist() == [[-1]]
    # Integer similarities and float distances are not collection scorers.
    for refused in (distance.Indel.similarity, distance.Levenshtein.normalized_distance, distance.Jaro.distance):
        with pytest.raises(TypeError, match="scorer must be one of vorn's pairwise scoring functions"):
            vornkit.cdist(["a"], ["b"], scorer=refused)
    with pytest.raises(TypeError, match="unexpected scorer_kwargs entry 'weights'"):
        vornkit.cdist(["a"], ["b"], scorer=distance.Indel.distance, scorer_kwargs={"weights": (1, 1, 2)})


def test_a_callable_processor_runs_once_per_string():
    calls = []

    def shout(text):
        calls.append(text)
        return text.upper()

    texts = ["abc", None, "xé中y", "Ab"]
    got = vornkit.cdist(texts, ["ABC", "AB"], scorer=fuzz.ratio, processor=shout)
    expected = [[fuzz.ratio(t, c, processor=shout) for c in ["ABC", "AB"]] for t in ["abc", "xé中y", "Ab"]]
    assert got[[0, 2, 3]].tolist() == expected
    assert np.isnan(got[1]).all()
    assert calls[:5] == ["abc", "xé中y", "Ab", "ABC", "AB"]
    assert vornkit.extract_one("ab", ["zz", "AB"], scorer=fuzz.ratio, processor=str.lower) == ("AB", 100.0, 1)
    with pytest.raises(TypeError, match="processor must return str, not 'int'"):
        vornkit.cdist(["a"], ["b"], scorer=fuzz.ratio, processor=len)
    with pytest.raises(ZeroDivisionError):
        vornkit.cdist(["a"], ["b"], scorer=fuzz.ratio, processor=lambda t: 1 / 0)
