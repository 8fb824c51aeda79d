"""Every function and method, on success and on each way it can fail:
neither the arguments' reference counts, nor the Python objects alive, nor
the C heap may grow over many calls (see the no_leak fixture)."""

import pytest
import vorn
from reference import CALLS, FLOW, PREPROCESSOR

SURROGATE = "a\ud800b"


class NotIndex:
    def __index__(self):
        raise RuntimeError("no index")


class FreshIndex:
    def __index__(self):
        return int("1" * 12)  # a new int object every time


class Words:
    """A sequence whose items go wrong half-way."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        return ["the", 7][i]


def last_parameter_wrong(kwargs):
    # Every earlier argument has been converted when the last one fails.
    *converted, (last, value) = kwargs.items()
    return {**dict(converted), last: SURROGATE if isinstance(value, str) else "wrong"}


CASES = [
    case
    for name, (fn, kwargs) in CALLS.items()
    for case in (
        pytest.param(fn, (), kwargs, None, id=f"{name}-ok"),
        pytest.param(fn, (*kwargs.values(), "extra"), {}, TypeError, id=f"{name}-binding"),
        pytest.param(fn, (), last_parameter_wrong(kwargs), (TypeError, UnicodeEncodeError), id=f"{name}-conversion"),
    )
] + [
    pytest.param(vorn.levenshtein_distance, ("Grüße" * 30, "grüßen" * 30), {}, None, id="levenshtein-long"),
    pytest.param(vorn.jaro_winkler_similarity, ("é" * 100 + "a", "a" + "é" * 100), {}, None, id="jaro-long"),
    pytest.param(vorn.hamming_distance, ("abc", "ab"), {}, ValueError, id="hamming_distance-lengths"),
    pytest.param(vorn.hamming_similarity, ("é", "ab"), {}, ValueError, id="hamming_similarity-lengths"),
    pytest.param(vorn.jaccard_similarity, ("é" * 300 + "a" * 300, "a" * 300, 3), {}, None, id="jaccard-long"),
    pytest.param(vorn.jaccard_similarity, ("night", "nacht", 0), {}, ValueError, id="jaccard-zero"),
    pytest.param(vorn.jaccard_similarity, ("night", "nacht", NotIndex()), {}, RuntimeError, id="jaccard-index"),
    pytest.param(vorn.minhash_signature, ("hello", 0, 16), {}, ValueError, id="minhash_signature-zero"),
    pytest.param(vorn.minhash_signature, ("hello", 3, 2**62), {}, MemoryError, id="minhash_signature-memory"),
    pytest.param(vorn.minhash_similarity, ("hello", "hallo", 2, 2**62), {}, MemoryError, id="minhash-memory"),
    pytest.param(vorn.simhash_similarity, ("hello", "hallo", 0), {}, ValueError, id="simhash_similarity-zero"),
    pytest.param(vorn.clean_text, ("  Ｃafe\u0301  AU Lait ",), {}, None, id="clean_text-nfc"),
    pytest.param(PREPROCESSOR.with_max_length, (FreshIndex(),), {}, None, id="with_max_length-index"),
    pytest.param(PREPROCESSOR.with_stopwords, (Words(),), {}, TypeError, id="with_stopwords-bad-item"),
    pytest.param(PREPROCESSOR.with_stopwords, ("the",), {}, TypeError, id="with_stopwords-str"),
    pytest.param(PREPROCESSOR.with_max_length(2).process, ("héllo",), {}, None, id="process-cut"),
    pytest.param(vorn.VornFlow().compare, ("a", "b"), {}, ValueError, id="compare-no-tiers"),
    pytest.param(FLOW.tier_1, ("soundex", "gt", 0.9, "lt", 0.2), {}, ValueError, id="tier_1-algorithm"),
    pytest.param(FLOW.tier_1, ("levenshtein", "between", 0.9, "lt", 0.2), {}, ValueError, id="tier_1-op"),
    pytest.param(FLOW.tier_2, ("tfidf", "within", 0.2, 0.8), {}, ValueError, id="tier_2-op"),
    pytest.param(
        FLOW.preprocess(True).tier_2("jaccard_word", "between", 0.0, 1.0).compare,
        ("A b", "c"),
        {},
        None,
        id="compare-two-tiers",
    ),
    pytest.param(
        FLOW.tier_2("hamming", "gt", 0.0, 0.0).compare, ("flaw", "flaws"), {}, ValueError, id="compare-hamming-lengths"
    ),
    pytest.param(FLOW.compare_with_intent, ("auto", "x" * 600, "y" * 600), {}, None, id="intent-auto-long"),
    pytest.param(FLOW.compare_with_intent, ("fuzzy", "Jon", "John"), {}, ValueError, id="intent-unknown"),
    pytest.param(FLOW.compare_with_intent, ("codes", "Jon", "John"), {}, ValueError, id="intent-codes-lengths"),
]


@pytest.mark.parametrize("fn, args, kwargs, expect", CASES)
def test_no_reference_or_memory_growth(no_leak, fn, args, kwargs, expect):
    if expect is None:
        fn(*args, **kwargs)  # succeeds
    else:
        with pytest.raises(expect):
            fn(*args, **kwargs)
    no_leak(fn, *args, expect=expect, **kwargs)
