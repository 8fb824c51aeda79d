import math
import threading

import pytest

import vorn
from vorn import VornFlow

HAMMING_LENGTH_ERROR = "Algorithm error: Hamming requires equal-length strings"
NO_TIERS = "Router configuration error: No tiers configured"


def result(score, tier, algorithm):
    return {"score": score, "tier": tier, "algorithm": algorithm, "fallback_called": False, "fallback_data": ""}


@pytest.fixture
def lev_tier1():
    return VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2)


def test_traced_request_with_preprocessing():
    flow = VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2).preprocess(True)
    out = flow.compare("  Hello World ", "hello world")
    assert out == result(1.0, 1, "levenshtein")
    assert list(out) == ["score", "tier", "algorithm", "fallback_called", "fallback_data"]
    assert type(out["score"]) is float and type(out["tier"]) is int and type(out["fallback_data"]) is str


@pytest.mark.parametrize("flow", [VornFlow(), VornFlow().preprocess(True)])
def test_no_tiers_is_a_configuration_error(flow):
    with pytest.raises(ValueError, match=f"^{NO_TIERS}$"):
        flow.compare("a", "b")


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("hello", "hello", result(1.0, 1, "levenshtein")),  # match bound exceeded
        ("abc", "xyz", result(0.0, 1, "levenshtein")),  # below the mismatch bound
        ("flaw", "lawn", result(0.5, 1, "levenshtein")),  # undecided, no tier 2: tier-1 outcome
    ],
)
def test_tier1_alone(lev_tier1, a, b, expected):
    assert lev_tier1.compare(a, b) == expected


def test_tier2_decides_or_falls_back_to_tier1_outcome(lev_tier1):
    flow = lev_tier1.tier_2("hamming", "between", 0.5, 1.0)
    assert flow.compare("abcd", "abxd") == result(0.75, 2, "hamming")
    assert flow.compare("flaw", "lawn") == result(0.5, 1, "levenshtein")


def test_tier2_alone_reports_its_own_outcome_when_it_does_not_hold():
    flow = VornFlow().tier_2("levenshtein", "gt", 0.9, 0.0)
    assert flow.compare("flaw", "lawn") == result(0.5, 2, "levenshtein")
    assert flow.compare("same", "same") == result(1.0, 2, "levenshtein")


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
def test_tier2_operators(lev_tier1, op, val1, val2, decides):
    flow = lev_tier1.tier_2("hamming", op, val1, val2)
    out = flow.compare("abcd", "abxd")  # both scores 0.75
    assert out == result(0.75, 2 if decides else 1, "hamming" if decides else "levenshtein")


@pytest.mark.parametrize("with_tier2", [False, True])
def test_hamming_error_at_tier1_stops_the_flow(with_tier2):
    flow = VornFlow().tier_1("hamming", "gt", 0.9, "lt", 0.2)
    if with_tier2:
        flow = flow.tier_2("levenshtein", "between", 0.0, 1.0)
    with pytest.raises(ValueError, match=f"^{HAMMING_LENGTH_ERROR}$"):
        flow.compare("abc", "abcd")


def test_hamming_error_at_tier2_after_an_undecided_tier1(lev_tier1):
    flow = lev_tier1.tier_2("hamming", "between", 0.0, 1.0)
    with pytest.raises(ValueError, match=f"^{HAMMING_LENGTH_ERROR}$"):
        flow.compare("flaw", "flaws")  # 0.8 decides nothing at tier 1
    # decided at tier 1: tier 2 never runs, so no error
    assert flow.compare("abc", "xyzwvut")["tier"] == 1


def test_hamming_counts_characters_after_preprocessing():
    flow = VornFlow().tier_1("hamming", "gt", 0.9, "lt", 0.1)
    with pytest.raises(ValueError, match=HAMMING_LENGTH_ERROR):
        flow.compare(" ab ", "ab")
    assert flow.preprocess(True).compare(" AB ", "ab") == result(1.0, 1, "hamming")


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
    [("the quick brown fox", "the quick brown cat"), ("Straße nach Köln", "strasse nach koeln"), ("", "")],
)
def test_every_named_algorithm_scores_like_its_function(algo, name, function, a, b):
    if algo == "hamming" and len(a) != len(b):
        a, b = a[: len(b)], b[: len(a)]
    flow = VornFlow().tier_1(algo, "gt", 2.0, "lt", -1.0)
    out = flow.compare(a, b)
    expected = function(a, b)
    assert out["algorithm"] == name and out["tier"] == 1
    assert out["score"] == expected or (math.isnan(expected) and math.isnan(out["score"]))


def test_bm25_takes_the_first_text_as_the_query():
    flow = VornFlow().tier_1("bm25", "gt", 2.0, "lt", -1.0)
    a, b = "apple banana", "apple cherry date elderberry apple"
    assert flow.compare(a, b)["score"] == vorn.bm25_similarity(a, b)
    assert flow.compare(b, a)["score"] == vorn.bm25_similarity(b, a)


@pytest.mark.parametrize(
    "name",
    ["Levenshtein", " bm25", "bm25 ", "jaccard", "minhash", "simhash", "jaro", "levenshtein_similarity", "", "é"],
)
def test_unknown_algorithm_names(name):
    with pytest.raises(ValueError) as info:
        VornFlow().tier_1(name, "gt", 0.9, "lt", 0.1)
    assert str(info.value) == f"unknown algorithm: {name}"
    with pytest.raises(ValueError, match="^unknown algorithm: "):
        VornFlow().tier_2(name, "between", 0.1, 0.9)


@pytest.mark.parametrize("op", ["between", "GT", ">", "gt ", "", "greater"])
def test_unknown_tier1_operators(op):
    with pytest.raises(ValueError) as info:
        VornFlow().tier_1("levenshtein", op, 0.9, "lt", 0.1)
    assert str(info.value) == f"unknown threshold op: {op}"
    with pytest.raises(ValueError) as info:
        VornFlow().tier_1("levenshtein", "gt", 0.9, op, 0.1)
    assert str(info.value) == f"unknown threshold op: {op}"


def test_validation_order():
    with pytest.raises(ValueError, match="^unknown algorithm: nope$"):
        VornFlow().tier_1("nope", "bad", 0.9, "worse", 0.1)
    with pytest.raises(ValueError, match="^unknown threshold op: bad$"):
        VornFlow().tier_1("levenshtein", "bad", 0.9, "worse", 0.1)
    with pytest.raises(ValueError, match="^unknown threshold op: Between$"):
        VornFlow().tier_2("levenshtein", "Between", 0.1, 0.9)
    # conversion of every argument comes before any validation
    with pytest.raises(TypeError) as info:
        VornFlow().tier_1("nope", "bad", 0.9, "worse", "x")
    assert info.value.__notes__ == ["while processing 'mismatch_val'"]


@pytest.mark.parametrize(
    "method, args, parameter",
    [
        ("tier_1", (1, "gt", 0.9, "lt", 0.1), "algo"),
        ("tier_1", ("levenshtein", None, 0.9, "lt", 0.1), "match_op"),
        ("tier_1", ("levenshtein", "gt", "0.9", "lt", 0.1), "match_val"),
        ("tier_2", ("levenshtein", "gt", 0.5, "x"), "val2"),
        ("tier_2", ("levenshtein", b"gt", 0.5, 0.5), "op"),
        ("preprocess", (1,), "enable"),
        ("preprocess", ("yes",), "enable"),
        ("compare", ("a", 1), "b"),
        ("compare_with_intent", ("bogus", "a", 1), "b"),  # argument errors before intent errors
        ("compare_with_intent", (None, "a", "b"), "intent"),
    ],
)
def test_argument_errors_name_the_parameter(lev_tier1, method, args, parameter):
    with pytest.raises(TypeError) as info:
        getattr(lev_tier1, method)(*args)
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: VornFlow(1), "VornFlow() takes 0 positional arguments but 1 was given"),
        (lambda: VornFlow(x=1), "VornFlow() got an unexpected keyword argument 'x'"),
        (lambda: VornFlow().compare("a"), "VornFlow.compare() missing 1 required positional argument: 'b'"),
        (lambda: VornFlow().preprocess(), "VornFlow.preprocess() missing 1 required positional argument: 'enable'"),
        (
            lambda: VornFlow().tier_2("levenshtein", "gt"),
            "VornFlow.tier_2() missing 2 required positional arguments: 'val1' and 'val2'",
        ),
        (
            lambda: VornFlow().compare_with_intent("a", "b", "c", "d"),
            "VornFlow.compare_with_intent() takes 3 positional arguments but 4 were given",
        ),
        (lambda: VornFlow().compare("a", a="b"), "VornFlow.compare() got multiple values for argument 'a'"),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keywords_are_accepted_everywhere():
    flow = VornFlow().tier_1(mismatch_val=0.2, algo="levenshtein", match_op="gt", match_val=0.9, mismatch_op="lt")
    flow = flow.tier_2(val2=1.0, val1=0.5, op="between", algo="hamming").preprocess(enable=False)
    assert flow.compare(b="abxd", a="abcd") == result(0.75, 2, "hamming")
    assert flow.compare_with_intent(b="lawn", intent="typos", a="flaw") == result(0.5, 0, "levenshtein")


def test_configurations_are_immutable(lev_tier1):
    strict = lev_tier1.tier_2("hamming", "between", 0.5, 1.0)
    relaxed = lev_tier1.tier_1("levenshtein", "gt", 0.1, "lt", 0.0)
    preprocessed = lev_tier1.preprocess(True)
    assert lev_tier1.compare("abcd", "abxd") == result(0.75, 1, "levenshtein")
    assert strict.compare("abcd", "abxd") == result(0.75, 2, "hamming")
    assert relaxed.compare("abcd", "abxd") == result(0.75, 1, "levenshtein")
    assert lev_tier1.compare("Hello", "hello")["score"] == 0.8
    assert preprocessed.compare("Hello", "hello")["score"] == 1.0
    assert preprocessed.preprocess(False).compare("Hello", "hello")["score"] == 0.8
    # a failed call leaves the receiver as it was
    with pytest.raises(ValueError):
        strict.tier_2("hamming", "nope", 0.0, 1.0)
    assert strict.compare("abcd", "abxd") == result(0.75, 2, "hamming")
    assert len({id(lev_tier1), id(strict), id(relaxed), id(preprocessed)}) == 4


def test_class_surface():
    flow = VornFlow()
    assert repr(flow) == "VornFlow()"
    assert repr(flow.tier_1("levenshtein", "gt", 0.9, "lt", 0.2).preprocess(True)) == "VornFlow()"
    assert VornFlow.__module__ == "builtins" and VornFlow.__qualname__ == "VornFlow"
    assert VornFlow.__text_signature__ == "()"
    assert VornFlow.tier_1.__text_signature__ == "($self, algo, match_op, match_val, mismatch_op, mismatch_val)"
    assert VornFlow.tier_2.__text_signature__ == "($self, algo, op, val1, val2)"
    assert VornFlow.compare_with_intent.__text_signature__ == "($self, intent, a, b)"
    assert VornFlow.compare.__text_signature__ == "($self, a, b)"
    assert VornFlow.preprocess.__text_signature__ == "($self, enable)"
    own = [name for name in vars(VornFlow) if not name.startswith("__")]
    assert own == ["preprocess", "tier_1", "tier_2", "compare_with_intent", "compare"]
    with pytest.raises(AttributeError):
        flow.tier1 = None


def test_derived_objects_are_plain_vornflow():
    class Custom(VornFlow):
        pass

    custom = Custom()
    derived = custom.tier_1("levenshtein", "gt", 0.9, "lt", 0.2)
    assert type(derived) is VornFlow
    assert derived.compare("a", "a")["score"] == 1.0


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


@pytest.mark.parametrize("name", ["Typos", "auto ", "", "dedupe", "AUTO"])
def test_unknown_intents(name):
    with pytest.raises(ValueError) as info:
        VornFlow().compare_with_intent(name, "a", "b")
    assert str(info.value) == f"unknown intent: {name}"


def test_codes_intent_length_error():
    with pytest.raises(ValueError, match=f"^{HAMMING_LENGTH_ERROR}$"):
        VornFlow().compare_with_intent("codes", "abc", "abcd")


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


def test_comparisons_from_many_threads_agree():
    flow = VornFlow().tier_1("jaro_winkler", "gt", 0.95, "lt", 0.3).tier_2("levenshtein", "between", 0.5, 1.0)
    flow = flow.preprocess(True)
    pairs = [(f"Name {i} Smith", f"name {i * 7 % 13} smyth") for i in range(200)]
    expected = [flow.compare(a, b) for a, b in pairs]
    outcomes = [None] * 8

    def run(slot):
        outcomes[slot] = [flow.compare(a, b) for a, b in pairs]

    threads = [threading.Thread(target=run, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert outcomes == [expected] * 8


@pytest.mark.parametrize(
    "call, args, expect",
    [
        (lambda a, b: VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2).preprocess(True).compare(a, b), ("A b", "a B"), None),
        (lambda a, b: VornFlow().compare(a, b), ("a", "b"), ValueError),
        (lambda a, b: VornFlow().compare_with_intent("codes", a, b), ("a", "bb"), ValueError),
        (lambda a, b: VornFlow().compare_with_intent(a, "x", "y"), ("nope", None), ValueError),
        (lambda a, b: VornFlow().tier_1(a, "gt", 0.9, "lt", 0.2), ("nope", None), ValueError),
        (lambda a, b: VornFlow().compare(a, b), ("a", 7), TypeError),
    ],
)
def test_no_leaks(no_leak, call, args, expect):
    no_leak(call, *args, calls=30_000, expect=expect)
