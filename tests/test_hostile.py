"""Hostile and extreme input: every str parameter with a lone surrogate,
str subclasses and NUL characters everywhere, numbers that misbehave,
megabyte texts, and memory use on very long texts."""

import inspect
import subprocess
import sys
import textwrap

import pytest

import vorn

FLOW = vorn.VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
PREPROCESSOR = vorn.Preprocessor()

# Every callable taking str parameters, with valid arguments by name.
STR_TAKERS = [
    (getattr(vorn, name), {p: "abc" for p in inspect.signature(getattr(vorn, name)).parameters})
    for name in ["levenshtein_distance", "levenshtein_similarity", "jaro_winkler_similarity",
                 "hamming_distance", "hamming_similarity", "jaccard_bigram_similarity",
                 "jaccard_trigram_similarity", "jaccard_word_similarity", "minhash_similarity_default",
                 "simhash_fingerprint_default", "simhash_similarity_default", "bm25_similarity",
                 "tfidf_similarity", "clean_text", "clean_text_stopwords"]
] + [
    (vorn.jaccard_similarity, {"a": "abc", "b": "abd", "n": 2}),
    (vorn.minhash_signature, {"text": "abc", "shingle_size": 2, "num_hashes": 4}),
    (vorn.minhash_similarity, {"a": "abc", "b": "abd", "shingle_size": 2, "num_hashes": 4}),
    (vorn.simhash_fingerprint, {"text": "abc", "shingle_size": 2}),
    (vorn.simhash_similarity, {"a": "abc", "b": "abd", "shingle_size": 2}),
    (PREPROCESSOR.process, {"text": "abc"}),
    (FLOW.compare, {"a": "abc", "b": "abd"}),
    (FLOW.compare_with_intent, {"intent": "names", "a": "abc", "b": "abd"}),
    (FLOW.tier_1, {"algo": "levenshtein", "match_op": "gt", "match_val": 0.9, "mismatch_op": "lt",
                   "mismatch_val": 0.1}),
    (FLOW.tier_2, {"algo": "levenshtein", "op": "between", "val1": 0.1, "val2": 0.9}),
]
SURROGATE_CASES = [
    pytest.param(fn, args, name, id=f"{getattr(fn, '__qualname__', fn)}-{name}")
    for fn, args in STR_TAKERS for name, value in args.items() if isinstance(value, str)
]


@pytest.mark.parametrize("fn, args, name", SURROGATE_CASES)
def test_lone_surrogate_in_each_str_parameter(fn, args, name):
    with pytest.raises(UnicodeEncodeError) as info:
        fn(**{**args, name: "ok\udcffok"})
    assert info.value.__notes__ == [f"while processing '{name}'"]


class Text(str):
    pass


@pytest.mark.parametrize("fn, args", STR_TAKERS, ids=lambda x: getattr(x, "__qualname__", ""))
def test_str_subclasses_and_nul_characters_are_ordinary_text(fn, args):
    def outcome(result):  # a configured flow is judged by what it computes
        return result.compare("abc", "abd") if isinstance(result, vorn.VornFlow) else result

    plain = outcome(fn(**args))
    assert outcome(fn(**{k: Text(v) if isinstance(v, str) else v for k, v in args.items()})) == plain
    # A NUL inside a text is one more character; the call must not stop at it.
    with_nul = {k: v + "\0x" if k in ("a", "b", "text") else v for k, v in args.items()}
    fn(**with_nul)


def test_nul_characters_survive_preprocessing_and_count_everywhere():
    assert vorn.clean_text("A\0B  C") == "a\0b c"
    assert vorn.levenshtein_distance("ab\0", "ab") == 1
    assert vorn.hamming_distance("a\0c", "abc") == 1
    assert vorn.jaccard_word_similarity("x\0y", "x y") == 0.0
    assert vorn.minhash_signature("a\0b", 3, 4) != vorn.minhash_signature("a b", 3, 4)


class BadIndex:
    def __init__(self, result):
        self.result = result

    def __index__(self):
        if isinstance(self.result, Exception):
            raise type(self.result)(*self.result.args)  # a fresh one: notes are per exception
        return self.result


class BadFloat:
    def __init__(self, result):
        self.result = result

    def __float__(self):
        if isinstance(self.result, Exception):
            raise type(self.result)(*self.result.args)
        return self.result


@pytest.mark.parametrize("value, error", [
    (BadIndex(ZeroDivisionError("boom")), ZeroDivisionError),
    (BadIndex("3"), TypeError),  # __index__ returning a non-int
    (BadIndex(-3), OverflowError),
    (BadIndex(2**64), OverflowError),
    (3.0, TypeError),
    (None, TypeError),
])
def test_misbehaving_sizes(value, error):
    for call, name in [(lambda v: vorn.jaccard_similarity("ab", "ab", v), "n"),
                       (lambda v: vorn.minhash_signature("ab", v, 4), "shingle_size"),
                       (lambda v: vorn.minhash_signature("ab", 2, v), "num_hashes"),
                       (lambda v: vorn.simhash_fingerprint("ab", v), "shingle_size"),
                       (lambda v: PREPROCESSOR.with_max_length(v), "max")]:
        with pytest.raises(error) as info:
            call(value)
        assert info.value.__notes__ == [f"while processing '{name}'"]


def test_index_objects_that_behave_are_sizes():
    assert vorn.jaccard_similarity("abc", "abd", BadIndex(2)) == vorn.jaccard_similarity("abc", "abd", 2)
    assert vorn.simhash_fingerprint("abc", BadIndex(2**64 - 1)) == vorn.simhash_fingerprint("abc", 2**64 - 1)


@pytest.mark.parametrize("value, error", [
    (BadFloat(ValueError("no")), ValueError),
    (BadFloat("0.5"), TypeError),  # __float__ returning a non-float
    ("0.5", TypeError),
    (None, TypeError),
])
def test_misbehaving_thresholds(value, error):
    with pytest.raises(error) as info:
        vorn.VornFlow().tier_1("levenshtein", "gt", value, "lt", 0.1)
    assert info.value.__notes__ == ["while processing 'match_val'"]
    with pytest.raises(error) as info:
        vorn.VornFlow().tier_2("levenshtein", "between", 0.1, value)
    assert info.value.__notes__ == ["while processing 'val2'"]


def test_float_like_thresholds_are_accepted():
    flow = vorn.VornFlow().tier_1("levenshtein", "gt", BadFloat(0.5), "lt", 1)
    assert flow.compare("abc", "abc")["tier"] == 1


MEGABYTE_A = ("The quick brown fox jumps over the lazy dog. Ünïcödé 漢字 😀\n" * 16_000)[:1_000_000]
MEGABYTE_B = MEGABYTE_A.replace("lazy", "busy")


@pytest.mark.parametrize("fn, args, check", [
    (vorn.hamming_distance, (MEGABYTE_A, MEGABYTE_B), lambda r: r == 3 * MEGABYTE_A.count("lazy")),
    (vorn.jaro_winkler_similarity, (MEGABYTE_A, MEGABYTE_B), lambda r: 0.8 < r < 1.0),
    (vorn.jaccard_bigram_similarity, (MEGABYTE_A, MEGABYTE_B), lambda r: 0.8 < r < 1.0),
    (vorn.jaccard_trigram_similarity, (MEGABYTE_A, MEGABYTE_A), lambda r: r == 1.0),
    (vorn.jaccard_word_similarity, (MEGABYTE_A, MEGABYTE_B), lambda r: 0.8 < r < 1.0),
    (vorn.minhash_similarity_default, (MEGABYTE_A, MEGABYTE_A), lambda r: r == 1.0),
    (vorn.simhash_similarity_default, (MEGABYTE_A, MEGABYTE_A), lambda r: r == 1.0),
    (vorn.tfidf_similarity, (MEGABYTE_A, MEGABYTE_A), lambda r: r == 1.0),
    (vorn.bm25_similarity, (MEGABYTE_A, MEGABYTE_A), lambda r: r == 1.0),
    (vorn.clean_text, (MEGABYTE_A,), lambda r: r == " ".join(MEGABYTE_A.lower().split())),
    (vorn.clean_text_stopwords, (MEGABYTE_A,), lambda r: r.startswith("quick brown fox jumps lazy dog.")),
    (FLOW.compare_with_intent, ("auto", MEGABYTE_A, MEGABYTE_B), lambda r: r["algorithm"] == "simhash"),
])
def test_megabyte_texts(fn, args, check):
    assert check(fn(*args))


def test_megabyte_edit_distance_with_a_short_text():
    # The bit-parallel path keeps the shorter text as pattern: one pass.
    assert vorn.levenshtein_distance("fox", MEGABYTE_A) == len(MEGABYTE_A) - 3


@pytest.mark.parametrize("fn", [vorn.minhash_signature, vorn.simhash_fingerprint])
def test_deeply_repetitive_text_is_one_shingle(fn):
    args = (3, 16) if fn is vorn.minhash_signature else (3,)
    assert fn("a" * 10**6, *args) == fn("aaa", *args)
    assert vorn.jaccard_similarity("a" * 10**6, "aaaa", 3) == 1.0


def peak_memory_growth(code):
    """Peak resident memory growth in MB while `code` runs, in a fresh
    interpreter so that nothing else in the process counts."""
    script = textwrap.dedent(f"""
        import resource, vorn
        a = ("the quick brown fox " * 6000)[:100_000]
        b = ("the quick brown cat " * 6000)[:100_000]
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = {code}
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        print(result, (after - before) / 1024)
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    result, growth = out.split()
    return result, float(growth)


@pytest.mark.parametrize("code, expected", [
    ("vorn.levenshtein_distance(a, b)", "15000"),  # 'fox' -> 'cat' in each of 5000 runs
    ("vorn.jaro_winkler_similarity(a, b)", None),
])
def test_hundred_thousand_characters_in_little_memory(code, expected):
    result, growth = peak_memory_growth(code)
    if expected is not None:
        assert result == expected
    assert growth < 50
