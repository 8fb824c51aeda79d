"""vornkit.distance against RapidFuzz 3.14 on seeded pairs, with its cutoff rules."""

import math

import pytest
import rapidfuzz.distance as rd
from fuzz_inputs import pairs

from vornkit import distance

FORMS = ["distance", "similarity", "normalized_distance", "normalized_similarity"]
METRICS = [
    ("Levenshtein", {}),
    ("Levenshtein", {"weights": (1, 1, 2)}),
    ("Levenshtein", {"weights": (2, 1, 1)}),
    ("Levenshtein", {"weights": (1, 3, 2)}),
    ("Levenshtein", {"weights": (3, 3, 1)}),
    ("Levenshtein", {"weights": (2, 2, 2)}),
    ("Levenshtein", {"weights": (0, 0, 1)}),
    ("Indel", {}),
    ("LCSseq", {}),
    ("OSA", {}),
    ("DamerauLevenshtein", {}),
    ("Hamming", {}),
    ("Jaro", {}),
    ("JaroWinkler", {}),
    ("JaroWinkler", {"prefix_weight": 0.25}),
    ("Prefix", {}),
    ("Postfix", {}),
]
PAIRS = pairs(seed=7, count=25)


@pytest.mark.parametrize(("metric", "options"), METRICS, ids=lambda x: str(x))
@pytest.mark.parametrize("form", FORMS)
def test_equals_rapidfuzz(metric, options, form):
    ours, theirs = getattr(getattr(distance, metric), form), getattr(getattr(rd, metric), form)
    wrong = []
    for a, b in PAIRS:
        x, y = ours(a, b, **options), theirs(a, b, **options)
        if x != y or type(x) is not type(y):
            wrong.append((a, b, x, y))
    assert wrong == []


@pytest.mark.parametrize(("metric", "options"), METRICS[::2], ids=lambda x: str(x))
def test_score_cutoff(metric, options):
    functions = getattr(distance, metric)
    for a, b in PAIRS[::9]:
        d, s = functions.distance(a, b, **options), functions.similarity(a, b, **options)
        nd, ns = functions.normalized_distance(a, b, **options), functions.normalized_similarity(a, b, **options)
        if isinstance(d, int):
            for cutoff in {0, max(d - 2, 0), max(d - 1, 0), d, d + 1}:
                assert functions.distance(a, b, score_cutoff=cutoff, **options) == min(d, cutoff + 1)
            for cutoff in {0, s, s + 1}:
                assert functions.similarity(a, b, score_cutoff=cutoff, **options) == (s if s >= cutoff else 0)
        assert functions.normalized_distance(a, b, score_cutoff=nd, **options) == nd
        above = math.nextafter(ns, math.inf)
        assert functions.normalized_similarity(a, b, score_cutoff=ns, **options) == ns
        assert functions.normalized_similarity(a, b, score_cutoff=above, **options) == 0.0
        if nd > 0:
            below = math.nextafter(nd, -math.inf)
            assert functions.normalized_distance(a, b, score_cutoff=below, **options) == 1.0


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: distance.Hamming.distance("ab", "b", pad=False), ValueError, "not the same length"),
        (lambda: distance.JaroWinkler.similarity("a", "b", prefix_weight=1.5), ValueError, "prefix_weight"),
        (lambda: distance.Levenshtein.distance("a", "b", weights=(-1, 1, 1)), OverflowError, "negative"),
        (lambda: distance.Levenshtein.distance("a", "b", weights=(1, 1)), TypeError, "three ints"),
        (lambda: distance.Levenshtein.distance("a", "b", score_cutoff=-1), OverflowError, "negative"),
        (lambda: distance.Indel.distance("a", "b", weights=(1, 1, 1)), TypeError, "unexpected keyword"),
        (lambda: distance.Levenshtein.distance(None, "b"), TypeError, "None"),
    ],
)
def test_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_none_in_normalized_forms():
    assert distance.Levenshtein.normalized_distance(None, "a") == 1.0
    assert distance.Indel.normalized_similarity("a", None) == 0.0
    assert distance.Jaro.distance(None, "a") == 1.0
    assert distance.JaroWinkler.similarity(None, "a") == 0.0


def test_float_cutoff_of_counted_metrics_is_truncated():
    assert distance.Levenshtein.distance("abc", "x", score_cutoff=1.9) == rd.Levenshtein.distance(
        "abc", "x", score_cutoff=1.9
    )


STORAGE_PAIRS = [
    ("abc\xe9", "ab\xe9c"),  # one byte a character
    ("ab\u0416c", "a\u0416bc"),  # two bytes
    ("a\U0001f600b", "ab\U0001f600"),  # four bytes
    ("\xe9a\U0001f600", "\u0416a\xe9"),  # kinds differing between s1 and s2
    ("a\ud800b", "ab\ud800"),  # lone surrogates are characters
]


@pytest.mark.parametrize("metric", ["Indel", "LCSseq", "OSA", "DamerauLevenshtein", "Hamming", "Prefix", "Postfix"])
@pytest.mark.parametrize(("a", "b"), STORAGE_PAIRS)
def test_code_points_of_every_str_storage(metric, a, b):
    """Strings are read by their storage width; each width gives RapidFuzz's counts."""
    ours, theirs = getattr(distance, metric), getattr(rd, metric)
    assert ours.distance(a, b) == theirs.distance(a, b)
    assert ours.distance(a, b, processor=str.upper) == theirs.distance(a, b, processor=str.upper)


@pytest.mark.parametrize("metric", ["Indel", "OSA", "Hamming", "Prefix"])
def test_preprocessor_output_is_decoded(metric):
    """A vorn.Preprocessor's UTF-8 result is compared as code points too."""
    import vorn

    pipeline = vorn.Preprocessor().with_lowercase(True)
    ours = getattr(distance, metric)
    a, b = "\xc9t\xc9 \U0001f600", "\xe9t\xe9 \U0001f600x"
    assert ours.distance(a, b, processor=pipeline) == ours.distance(a.lower(), b.lower())
