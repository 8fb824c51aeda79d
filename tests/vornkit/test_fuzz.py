"""vornkit.fuzz against RapidFuzz 3.14 on seeded pairs, with its cutoff and processor rules."""

import math

import pytest
import rapidfuzz.fuzz as rf_fuzz
import rapidfuzz.utils as rf_utils
import vorn
from fuzz_inputs import GENERATORS, pairs

from vornkit import fuzz, utils

SCORERS = [name for name in fuzz.__all__ if name.lower().endswith("ratio")]
PAIRS = pairs(seed=20260, count=40)


@pytest.mark.parametrize("name", SCORERS)
def test_equals_rapidfuzz_on_every_generator(name):
    ours, theirs = getattr(fuzz, name), getattr(rf_fuzz, name)
    wrong = [(a, b, ours(a, b), theirs(a, b)) for a, b in PAIRS if ours(a, b) != theirs(a, b)]
    assert wrong == []


@pytest.mark.parametrize(
    ("name", "a", "b"),
    [
        # In a text of Latin-1 characters only, U+00A0 and U+0085 do not split tokens;
        # in a wider text they do, like every other whitespace.
        ("token_sort_ratio", "b\xa0a", "a b"),
        ("token_sort_ratio", "b\xa0a\u0416", "a b\u0416"),
        ("token_set_ratio", "x\x85y", "y x"),
        ("token_set_ratio", "x\x85y\u0416", "y x\u0416"),
        ("token_sort_ratio", "a\x1cb", "b\x1ca"),
        # Length ratio exactly 8: the partial scale is still 0.9.
        ("WRatio", "mets", "fuzzy york tue giants giants was"),
        ("WRatio", "", ""),
        ("QRatio", "", ""),
        ("token_set_ratio", " ", " "),
        ("token_ratio", "", ""),
        ("partial_token_ratio", "", ""),
        ("partial_ratio", "", "a"),
        # Lone surrogates are characters like any other.
        ("ratio", "a\ud800b", "a\ud800c"),
        ("partial_ratio", "\udc00x", "yy\udc00x"),
    ],
)
def test_equals_rapidfuzz_on_edge_cases(name, a, b):
    assert getattr(fuzz, name)(a, b) == getattr(rf_fuzz, name)(a, b)


def test_partial_ratio_alignment_equals_rapidfuzz_and_locates_the_score():
    for a, b in PAIRS:
        found = fuzz.partial_ratio_alignment(a, b)
        assert tuple(found) == tuple(rf_fuzz.partial_ratio_alignment(a, b)), (a, b)
        if found.score:
            window_a, window_b = a[found.src_start : found.src_end], b[found.dest_start : found.dest_end]
            assert fuzz.ratio(window_a, window_b) == found.score


@pytest.mark.parametrize("name", SCORERS)
def test_score_cutoff_keeps_a_score_that_reaches_it(name):
    scorer = getattr(fuzz, name)
    for a, b in PAIRS[::7]:
        score = scorer(a, b)
        assert scorer(a, b, score_cutoff=score) == score
        assert scorer(a, b, score_cutoff=math.nextafter(score, -math.inf)) == score
        assert scorer(a, b, score_cutoff=math.nextafter(score, math.inf)) == 0
    assert scorer("abc", "abc", score_cutoff=100.5) == 0


def test_alignment_below_cutoff_is_none():
    assert fuzz.partial_ratio_alignment("abc", "xxabyy", score_cutoff=90) is None
    assert fuzz.partial_ratio_alignment(None, "abc") is None
    found = fuzz.partial_ratio_alignment("abc", "xxabyy", score_cutoff=60)
    assert found == (200 / 3, 0, 3, 2, 5)
    assert tuple(found) == tuple(rf_fuzz.partial_ratio_alignment("abc", "xxabyy", score_cutoff=60))


@pytest.mark.parametrize("name", SCORERS)
def test_none_scores_zero(name):
    assert getattr(fuzz, name)(None, "abc") == 0.0
    assert getattr(fuzz, name)("abc", None, processor=lambda s: 1 / 0) == 0.0


@pytest.mark.parametrize(
    "processor",
    [rf_utils.default_process, utils.default_process, str.upper, lambda s: s[::-1]],
)
def test_callable_processor_is_applied_to_both_strings(processor):
    for a, b in PAIRS[::11]:
        assert fuzz.WRatio(a, b, processor=processor) == rf_fuzz.WRatio(a, b, processor=processor)
        assert fuzz.partial_ratio(a, b, processor=processor) == rf_fuzz.partial_ratio(a, b, processor=processor)


def test_preprocessor_processor_runs_its_pipeline():
    pipeline = vorn.Preprocessor().with_lowercase(True)
    a, b = "New  YORK Mets", "new york METS!"
    assert fuzz.token_sort_ratio(a, b, processor=pipeline) == rf_fuzz.token_sort_ratio(
        pipeline.process(a), pipeline.process(b)
    )


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: fuzz.ratio("a", 1), TypeError, "s2 must be str, not 'int'"),
        (lambda: fuzz.ratio("a", ["a"]), TypeError, "must be str"),
        (lambda: fuzz.ratio("a", "b", cutoff=1), TypeError, "unexpected keyword argument 'cutoff'"),
        (lambda: fuzz.ratio("a"), TypeError, "missing required argument 's2'"),
        (lambda: fuzz.ratio("a", "b", "c"), TypeError, "takes 2 positional arguments"),
        (lambda: fuzz.ratio("a", s1="b"), TypeError, "multiple values for argument 's1'"),
        (lambda: fuzz.ratio("a", "b", processor=3), TypeError, "processor must be a callable"),
        (lambda: fuzz.ratio("a", "b", processor=lambda s: 3), TypeError, "s1 must be str, not 'int'"),
        (lambda: fuzz.ratio("a", "b", processor=lambda s: 1 / 0), ZeroDivisionError, "division"),
        (lambda: fuzz.ratio("a", "b", score_cutoff="x"), TypeError, "must be real number"),
    ],
)
def test_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_keyword_strings_and_score_hint_are_accepted():
    assert fuzz.ratio(s1="abc", s2="abd", score_hint=50) == rf_fuzz.ratio("abc", "abd")


def test_generators_are_all_exercised():
    assert len(PAIRS) == 2 * 40 * len(GENERATORS)


def test_default_process_equals_rapidfuzz_on_every_code_point():
    # Each character between two letters, so that trimming does not hide it.
    texts = ["x" + chr(c) + "y" for c in range(0x110000) if not 0xD800 <= c < 0xE000]
    ours = [utils.default_process(t) for t in texts]
    theirs = [rf_utils.default_process(t) for t in texts]
    assert [t for t, x, y in zip(texts, ours, theirs) if x != y] == []
    assert utils.default_process(" \t Héllo, WÖRLD_İ!\x1c ") == rf_utils.default_process(" \t Héllo, WÖRLD_İ!\x1c ")
