"""The comparison router: tiers and their threshold operators, the result
record, errors that stop a flow, names it rejects, intents and the "auto"
rule, each checked against the scalar functions."""

import math

import pytest
import vorn
from vorn import VornFlow

HAMMING_LENGTH_ERROR = "Algorithm error: Hamming requires equal-length strings"
NO_TIERS = "Router configuration error: No tiers configured"


def result(score, tier, algorithm):
    return {"score": score, "tier": tier, "algorithm": algorithm, "fallback_called": False, "fallback_data": ""}


LEV = VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2)
HAM = VornFlow().tier_1("hamming", "gt", 0.9, "lt", 0.2)


def test_traced_request_with_preprocessing():
    flow = VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2).preprocess(True)
    out = flow.compare("  Hello World ", "hello world")
    assert out == result(1.0, 1, "levenshtein")
    assert list(out) == ["score", "tier", "algorithm", "fallback_called", "fallback_data"]
    assert type(out["score"]) is float and type(out["tier"]) is int and type(out["fallback_data"]) is str


@pytest.mark.parametrize(
    "flow, a, b, expected",
    [
        (LEV, "hello", "hello", result(1.0, 1, "levenshtein")),  # above the match bound
        (LEV, "abc", "xyz", result(0.0, 1, "levenshtein")),  # below the mismatch bound
        (LEV, "flaw", "lawn", result(0.5, 1, "levenshtein")),  # undecided, no tier 2: the tier-1 outcome
        (LEV.tier_2("hamming", "between", 0.5, 1.0), "abcd", "abxd", result(0.75, 2, "hamming")),
        (LEV.tier_2("hamming", "between", 0.6, 1.0), "flaw", "lawn", result(0.5, 1, "levenshtein")),  # no hold
        (VornFlow().tier_2("levenshtein", "gt", 0.9, 0.0), "flaw", "lawn", result(0.5, 2, "levenshtein")),  # alone
        (LEV.tier_2("hamming", "between", 0.0, 1.0), "abc", "xyzwvut", result(0.0, 1, "levenshtein")),  # not run
        (HAM.preprocess(True), " AB ", "ab", result(1.0, 1, "hamming")),  # lengths after preprocessing
        (VornFlow(), "a", "b", NO_TIERS),
        (VornFlow().preprocess(True), "a", "b", NO_TIERS),
        (HAM, "abc", "abcd", HAMMING_LENGTH_ERROR),
        (HAM, " ab ", "ab", HAMMING_LENGTH_ERROR),
        (HAM.tier_2("levenshtein", "between", 0.0, 1.0), "abc", "abcd", HAMMING_LENGTH_ERROR),  # stops the flow
        (LEV.tier_2("hamming", "between", 0.0, 1.0), "flaw", "flaws", HAMMING_LENGTH_ERROR),  # after an undecided 0.8
    ],
)
def test_flows(flow, a, b, expected):
    if isinstance(expected, dict):
        assert flow.compare(a, b) == expected
    else:
        with pytest.raises(ValueError) as info:
            flow.compare(a, b)
        assert type(info.value) is ValueError and str(info.value) == expected


@pytest.mark.parametrize(
    "match_op, match_val, mismatch_op, mismatch_val, decides",
    [
        ("gt", 0.75, "lt", 0.2, False),  # score equal to the match bound: strict
        ("gt", 0.7, "lt", 0.2, True),
        ("greater_than", 0.7, "less_than", 0.2, True),
        ("gt", 0.9, "lt", 0.75, False),  # equal to the mismatch bound: strict
        ("gt", 0.9, "lt", 0.8, True),
        ("lt", 0.5, "gt", 0.5, False),  # reversed directions never decide at tier 1
        ("lt", 2.0, "gt", -1.0, False),
        ("gt", math.nan, "lt", math.nan, False),
        ("gt", -math.inf, "lt", 0.0, True),
        ("gt", 1, "lt", 0, False),  # ints are accepted as bounds
    ],
)
def test_tier1_bounds(match_op, match_val, mismatch_op, mismatch_val, decides):
    # levenshtein('abcd', 'abxd') = 0.75; tier 2 always holds, so it shows
    # whether tier 1 decided.
    flow = VornFlow().tier_1("levenshtein", match_op, match_val, mismatch_op, mismatch_val)
    flow = flow.tier_2("jaro_winkler", "between", -math.inf, math.inf)
    out = flow.compare("abcd", "abxd")
    assert out["tier"] == (1 if decides else 2)
    assert out["algorithm"] == ("levenshtein" if decides else "jaro_winkler")


@pytest.mark.parametrize(
    "op, val1, val2, decides",
    [
        ("between", 0.75, 0.8, True),  # inclusive low end
        ("between", 0.7, 0.75, True),  # inclusive high end
        ("between", 0.75000001, 1.0, False),
        ("between", 0.8, 0.4, False),  # inverted range never holds
        ("between", math.nan, 1.0, False),
        ("gt", 0.7, 123.0, True),
        ("gt", 0.75, 0.0, False),
        ("lt", 0.8, math.nan, True),  # val2 is ignored for gt / lt
        ("less_than", 0.75, 0.0, False),
    ],
)
def test_tier2_operators(op, val1, val2, decides):
    flow = LEV.tier_2("hamming", op, val1, val2)
    out = flow.compare("abcd", "abxd")  # both scores 0.75
    assert out == result(0.75, 2 if decides else 1, "hamming" if decides else "levenshtein")


@pytest.mark.parametrize(
    "algo, name, function",
    [
        ("levenshtein", "levenshtein", vorn.levenshtein_similarity),
        ("jaro_winkler", "jaro_winkler", vorn.jaro_winkler_similarity),
        ("jaccard_bigram", "jaccard_bigram", vorn.jaccard_bigram_similarity),
        ("jaccard_trigram", "jaccard_trigram", vorn.jaccard_trigram_similarity),
        ("jaccard_word", "jaccard_word", vorn.jaccard_word_similarity),
        ("minhash_default", "minhash", vorn.minhash_similarity_default),
        ("simhash_default", "simhash", vorn.simhash_similarity_default),
        ("bm25", "bm25", vorn.bm25_similarity),
        ("tfidf", "tfidf", vorn.tfidf_similarity),
        ("hamming", "hamming", vorn.hamming_similarity),
    ],
)
@pytest.mark.parametrize(
    "a, b",
    [
        ("the quick brown fox", "the quick brown cat"),
        ("Straße nach Köln", "strasse nach koeln"),
        ("", ""),
        ("apple banana", "apple cherry date elderberry apple"),
    ],
)
def test_every_named_algorithm_scores_like_its_function(algo, name, function, a, b):
    if algo == "hamming" and len(a) != len(b):
        a, b = a[: len(b)], b[: len(a)]
    flow = VornFlow().tier_1(algo, "gt", 2.0, "lt", -1.0)
    out = flow.compare(a, b)
    expected = function(a, b)
    assert out["algorithm"] == name and out["tier"] == 1
    assert out["score"] == expected or (math.isnan(expected) and math.isnan(out["score"]))


UNKNOWN_ALGORITHMS = ["Levenshtein", " bm25", "bm25 ", "jaccard", "minhash", "jaro", "levenshtein_similarity", "", "é"]
UNKNOWN_OPERATORS = ["between", "GT", ">", "gt ", "", "greater"]


@pytest.mark.parametrize(
    "call, message",
    [(lambda n=n: VornFlow().tier_1(n, "gt", 0.9, "lt", 0.1), f"unknown algorithm: {n}") for n in UNKNOWN_ALGORITHMS]
    + [(lambda n=n: VornFlow().tier_2(n, "between", 0.1, 0.9), f"unknown algorithm: {n}") for n in UNKNOWN_ALGORITHMS]
    + [
        (lambda o=o: VornFlow().tier_1("levenshtein", o, 0.9, "lt", 0.1), f"unknown threshold op: {o}")
        for o in UNKNOWN_OPERATORS
    ]
    + [
        (lambda o=o: VornFlow().tier_1("levenshtein", "gt", 0.9, o, 0.1), f"unknown threshold op: {o}")
        for o in UNKNOWN_OPERATORS
    ]
    + [
        (lambda i=i: VornFlow().compare_with_intent(i, "a", "b"), f"unknown intent: {i}")
        for i in ["Typos", "auto ", "", "dedupe", "AUTO"]
    ]
    + [
        # validation in parameter order
        (lambda: VornFlow().tier_1("nope", "bad", 0.9, "worse", 0.1), "unknown algorithm: nope"),
        (lambda: VornFlow().tier_1("levenshtein", "bad", 0.9, "worse", 0.1), "unknown threshold op: bad"),
        (lambda: VornFlow().tier_2("levenshtein", "Between", 0.1, 0.9), "unknown threshold op: Between"),
        (lambda: VornFlow().compare_with_intent("codes", "abc", "abcd"), HAMMING_LENGTH_ERROR),
    ],
)
def test_rejected_names(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert type(info.value) is ValueError and str(info.value) == message


def test_every_argument_is_converted_before_any_is_validated():
    with pytest.raises(TypeError) as info:
        VornFlow().tier_1("nope", "bad", 0.9, "worse", "x")
    assert info.value.__notes__ == ["while processing 'mismatch_val'"]
    with pytest.raises(TypeError) as info:
        VornFlow().compare_with_intent("bogus", "a", 1)
    assert info.value.__notes__ == ["while processing 'b'"]


def test_configurations_are_immutable():
    strict = LEV.tier_2("hamming", "between", 0.5, 1.0)
    relaxed = LEV.tier_1("levenshtein", "gt", 0.1, "lt", 0.0)
    preprocessed = LEV.preprocess(True)
    with pytest.raises(ValueError):  # a failed call leaves the receiver as it was
        strict.tier_2("hamming", "nope", 0.0, 1.0)
    assert [f.compare("abcd", "abxd") for f in (LEV, strict, relaxed)] == [
        result(0.75, 1, "levenshtein"),
        result(0.75, 2, "hamming"),
        result(0.75, 1, "levenshtein"),
    ]
    scores = [f.compare("Hello", "hello")["score"] for f in (LEV, preprocessed, preprocessed.preprocess(False))]
    assert scores == [0.8, 1.0, 0.8]


@pytest.mark.parametrize(
    "intent, a, b, expected",
    [
        ("typos", "flaw", "lawn", result(0.5, 0, "levenshtein")),
        ("auto", "abc", "abd", result(0.6666666666666667, 0, "hamming")),
        ("codes", "karolin", "kathrin", result(vorn.hamming_similarity("karolin", "kathrin"), 0, "hamming")),
        ("names", "MARTHA", "MARHTA", result(vorn.jaro_winkler_similarity("MARTHA", "MARHTA"), 0, "jaro_winkler")),
        ("documents", "a b", "b c d", result(vorn.bm25_similarity("a b", "b c d"), 0, "bm25")),
        ("dedup", "hello world", "hello world!", result(0.90625, 0, "simhash")),
        ("deduplication", "hello world", "hello world!", result(0.90625, 0, "simhash")),
    ],
)
def test_intents(intent, a, b, expected):
    assert VornFlow().compare_with_intent(intent, a, b) == expected
    # tiers are ignored by intents
    configured = VornFlow().tier_1("jaccard_word", "gt", 0.0, "lt", 1.0).tier_2("tfidf", "gt", 0.0, 0.0)
    assert configured.compare_with_intent(intent, a, b) == expected


@pytest.mark.parametrize(
    "a, b, algorithm",
    [
        ("a" * 20, "b" * 20, "hamming"),
        ("a" * 21, "b" * 21, "jaro_winkler"),
        ("abc", "abcd", "jaro_winkler"),
        ("a" * 50, "b" * 3, "jaro_winkler"),
        ("a" * 51, "b" * 3, "bm25"),
        ("a" * 500, "b" * 500, "bm25"),
        ("a" * 501, "b", "simhash"),
        ("", "", "hamming"),
        # sizes count bytes, the Hamming test counts characters
        ("é" * 10, "e" * 10, "hamming"),  # 20 bytes, 10 characters each
        ("é" * 10 + "e", "e" * 11, "jaro_winkler"),  # 21 bytes
        ("é" * 25, "e", "jaro_winkler"),  # 50 bytes
        ("é" * 25 + "e", "e", "bm25"),  # 51 bytes
        ("é" * 250, "e", "bm25"),
        ("é" * 250 + "e", "e", "simhash"),
        ("é", "ab", "jaro_winkler"),  # equal bytes, unequal characters
    ],
)
def test_auto_rule(a, b, algorithm):
    out = VornFlow().compare_with_intent("auto", a, b)
    assert out["algorithm"] == algorithm and out["tier"] == 0


def test_auto_rule_on_non_ascii_equal_character_counts():
    assert VornFlow().compare_with_intent("auto", "é", "e") == result(0.0, 0, "hamming")
    assert VornFlow().compare_with_intent("auto", "é", "ab")["score"] == vorn.jaro_winkler_similarity("é", "ab")


def test_auto_rule_measures_prepared_texts():
    assert VornFlow().preprocess(True).compare_with_intent("auto", "  ABC  ", "abd") == result(
        0.6666666666666667, 0, "hamming"
    )
    assert VornFlow().compare_with_intent("auto", "  ABC  ", "abd")["algorithm"] == "jaro_winkler"
    # 56 bytes before preprocessing, 44 after
    padded = "  " + "  ".join(["Word"] * 9) + "  "
    assert VornFlow().compare_with_intent("auto", padded, "w")["algorithm"] == "bm25"
    assert VornFlow().preprocess(True).compare_with_intent("auto", padded, "w")["algorithm"] == "jaro_winkler"
