"""vornkit.fuzz's and vornkit.distance's functions as scorer= of the collection
functions: every score equals the function called on the pair, with the same
score_cutoff, in cdist, cpdist, topk, extract and threshold_join."""

import functools
import math
import random

import numpy as np
import pytest
from fuzz_inputs import GENERATORS
from test_isa_levels import needs, run_python

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
    # The forms scored from another form check their options as it does.
    for scorer in (distance.Indel.distance, distance.Indel.similarity, distance.Indel.normalized_distance):
        with pytest.raises(TypeError, match="unexpected scorer_kwargs entry 'weights'"):
            vornkit.cdist(["a"], ["b"], scorer=scorer, scorer_kwargs={"weights": (1, 1, 2)})
    with pytest.raises(TypeError, match="unexpected scorer_kwargs entry 'weights'"):
        vornkit.extract("a", ["b"], scorer=distance.Jaro.distance, scorer_kwargs={"weights": (1, 1, 2)})


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


# Texts at the lane widths of the LCS tiles (8, 16, 32 and 64 characters)
# and the 64-character blocks beyond them, more queries than a tile's rows
# and more choices than a register's lanes, with characters of one to four
# UTF-8 bytes, NUL (the lanes' padding) and repeated tokens. Each level
# needs a process of its own.
BOUNDARIES = """
import random, sys
import vornkit
from vornkit import distance, fuzz
rng = random.Random(7)
alphabet = ["a", "b", "c", "é", "中", "😀", " ", " ", "\\x00"]
lengths = [0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200]
texts = ["".join(rng.choices(alphabet, k=rng.choice(lengths))) for _ in range(150)]
texts += [" ".join(rng.choices(["new", "york", "nyc", "mets"], k=rng.randint(1, 5))) for _ in range(60)]
queries, choices = texts[::2], texts[1::2] + texts[:30]
scorers = [fuzz.ratio, fuzz.QRatio, fuzz.token_sort_ratio, fuzz.token_set_ratio, fuzz.WRatio,
           fuzz.partial_ratio, fuzz.token_ratio, fuzz.partial_token_ratio, distance.Indel.distance,
           distance.Indel.normalized_similarity, distance.LCSseq.distance, distance.LCSseq.normalized_similarity]
fuzz_scorers = scorers[:8]
for scorer in scorers:
    cutoff = 3 if scorer.__name__.endswith("_distance") else 50.0 if scorer in fuzz_scorers else 0.5
    for cutoff in (None, cutoff):
        got = vornkit.cdist(queries, choices, scorer=scorer, score_cutoff=cutoff, workers=2).tolist()
        for i, q in enumerate(queries):
            for j, c in enumerate(choices):
                want = scorer(q, c, score_cutoff=cutoff)
                if got[i][j] != want:
                    sys.exit(f"{scorer.__name__} {cutoff} {q!r} {c!r}: {got[i][j]} != {want}")
print("same")
"""


@pytest.mark.parametrize("level", ["portable", "avx2", "avx512"])
def test_lcs_tiles_equal_the_function_on_every_level(level):
    needs(level)
    run = run_python(["-c", BOUNDARIES], level)
    assert run.returncode == 0 and run.stdout.strip() == "same", run.stderr[-2000:]


@pytest.mark.parametrize(
    "scorer", [fuzz.ratio, fuzz.token_sort_ratio, fuzz.token_set_ratio, fuzz.WRatio, fuzz.partial_ratio], ids=_name
)
def test_cdist_equals_rapidfuzz(scorer):
    rapidfuzz = pytest.importorskip("rapidfuzz")
    peer = getattr(rapidfuzz.fuzz, scorer.__name__)
    texts = _texts(5, 90) + ["new york mets", "mets new york", "york york new", "", "  ", "a" * 64, "a" * 65]
    got = vornkit.cdist(texts, texts, scorer=scorer, workers=2)
    assert got.tolist() == rapidfuzz.process.cdist(texts, texts, scorer=peer, dtype=np.float64).tolist()


@pytest.mark.parametrize(
    "scorer",
    [fuzz.ratio, fuzz.QRatio, fuzz.token_sort_ratio, fuzz.WRatio, fuzz.partial_ratio, distance.LCSseq.distance],
    ids=_name,
)
def test_nulls_in_the_batch_kernels(scorer):
    queries, choices = ["new york", None, "a" * 70], [None, "york new", "", "a" * 65]
    got = vornkit.cdist(queries, choices, scorer=scorer).tolist()
    null = -1 if scorer.__name__.endswith("_distance") else None
    for i, q in enumerate(queries):
        for j, c in enumerate(choices):
            if q is None or c is None:
                assert got[i][j] == null if null is not None else math.isnan(got[i][j])
            else:
                assert got[i][j] == scorer(q, c)


# partial_ratio's windows: needles at and around the 64-character blocks,
# placed at either end of the haystack, cut short at both ends, reversed,
# over few and many characters (beyond the BMP too), against RapidFuzz
# scalar and in cdist. Each level needs a process of its own.
PARTIAL_WINDOWS = """
import random, sys
import numpy as np
import rapidfuzz
import vornkit
from vornkit import fuzz
rng = random.Random(13)
pairs = []
for length in (1, 2, 5, 63, 64, 65, 127, 128, 129):
    for alphabet in ("ab", "abcdefgh", "aé中😀 "):
        needle = "".join(rng.choices(alphabet, k=length))
        noise = "".join(rng.choices(alphabet + "xyz", k=rng.randint(1, 2 * length + 10)))
        cut = rng.randint(1, length)
        pairs += [(needle, needle + noise), (needle, noise + needle), (needle, needle[cut:] + noise + needle[:cut]),
                  (needle, noise), (needle, needle[::-1]), (needle, alphabet[0] * len(noise)),
                  (needle, noise[:length] + needle[1:-1] + noise[length:])]
for a, b in pairs:
    for x, y in ((a, b), (b, a)):
        got, want = fuzz.partial_ratio_alignment(x, y), rapidfuzz.fuzz.partial_ratio_alignment(x, y)
        if tuple(got) != tuple(want) or fuzz.WRatio(x, y) != rapidfuzz.fuzz.WRatio(x, y):
            sys.exit(f"{x!r} {y!r}: {tuple(got)} != {tuple(want)}")
texts = sorted({t for pair in pairs for t in pair})
for scorer in (fuzz.partial_ratio, fuzz.WRatio):
    peer = getattr(rapidfuzz.fuzz, scorer.__name__)
    for cutoff in (None, 70.0):
        got = vornkit.cdist(texts, texts, scorer=scorer, score_cutoff=cutoff, workers=2)
        want = rapidfuzz.process.cdist(texts, texts, scorer=peer, score_cutoff=cutoff, dtype=np.float64)
        if not np.array_equal(got, want):
            i, j = map(int, np.argwhere(got != want)[0])
            sys.exit(f"{scorer.__name__} {cutoff} {texts[i]!r} {texts[j]!r}: {got[i, j]} != {want[i, j]}")
print("same")
"""


@pytest.mark.parametrize("level", ["portable", "avx2", "avx512"])
def test_partial_windows_equal_rapidfuzz_on_every_level(level):
    needs(level)
    pytest.importorskip("rapidfuzz")
    run = run_python(["-c", PARTIAL_WINDOWS], level)
    assert run.returncode == 0 and run.stdout.strip() == "same", (run.stdout + run.stderr)[-2000:]


@pytest.mark.parametrize("scorer", [fuzz.partial_ratio, fuzz.WRatio], ids=_name)
def test_few_queries_over_many_choices(scorer):
    # Tiles of few rows are wide: their choices' needles come in blocks.
    choices = _texts(9, 700)
    got = vornkit.cdist(QUERIES[:3], choices, scorer=scorer, workers=2)
    assert got.tolist() == _expected(scorer, QUERIES[:3], choices)
