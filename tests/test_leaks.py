"""Every public function and method, on success and on each way it can fail,
called 10**5 times: neither the arguments' reference counts nor the
process's resident memory may grow (see the no_leak fixture)."""

import pytest

import vorn

CALLS = 100_000
SURROGATE = "a\ud800b"
FLOW = vorn.VornFlow().tier_1("jaro_winkler", "gt", 0.9, "lt", 0.3).tier_2("levenshtein", "between", 0.5, 1.0)
HAMMING_FLOW = vorn.VornFlow().tier_1("hamming", "gt", 0.9, "lt", 0.1)
PREPROCESSOR = vorn.Preprocessor()


class NotIndex:
    def __index__(self):
        raise RuntimeError("no index")


class Words:
    """A sequence whose items go wrong half-way."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 0:
            return "the"
        if i == 1:
            return 7
        raise IndexError


PAIR_FUNCTIONS = [
    vorn.levenshtein_distance, vorn.levenshtein_similarity, vorn.jaro_winkler_similarity,
    vorn.hamming_distance, vorn.hamming_similarity, vorn.jaccard_bigram_similarity,
    vorn.jaccard_trigram_similarity, vorn.jaccard_word_similarity, vorn.minhash_similarity_default,
    vorn.simhash_similarity_default, vorn.bm25_similarity, vorn.tfidf_similarity,
]

# (callable, positional arguments, keyword arguments, expected exception)
CASES = []
for f in PAIR_FUNCTIONS:
    name = f.__name__
    CASES += [
        pytest.param(f, ("kitten", "sittin"), {}, None, id=f"{name}-ok"),
        pytest.param(f, ("Grüße", "grüßen"[:5]), {}, None, id=f"{name}-non-ascii"),
        pytest.param(f, ("a", 1), {}, TypeError, id=f"{name}-wrong-type"),
        pytest.param(f, ("a",), {}, TypeError, id=f"{name}-missing"),
        pytest.param(f, ("a", "b", "c"), {}, TypeError, id=f"{name}-extra"),
        pytest.param(f, ("a",), {"a": "b"}, TypeError, id=f"{name}-duplicate"),
        pytest.param(f, ("a", "b"), {"z": "c"}, TypeError, id=f"{name}-unknown-keyword"),
        pytest.param(f, ("a", SURROGATE), {}, UnicodeEncodeError, id=f"{name}-surrogate"),
    ]
CASES += [
    pytest.param(vorn.hamming_distance, ("abc", "ab"), {}, ValueError, id="hamming_distance-lengths"),
    pytest.param(vorn.hamming_similarity, ("é", "ab"), {}, ValueError, id="hamming_similarity-lengths"),
    pytest.param(vorn.levenshtein_distance, (), {"a": "kitten", "b": "sitting"}, None, id="keywords-ok"),
    pytest.param(vorn.jaccard_similarity, ("night", "nacht", 2), {}, None, id="jaccard-ok"),
    pytest.param(vorn.jaccard_similarity, ("night", "nacht", 0), {}, ValueError, id="jaccard-zero"),
    pytest.param(vorn.jaccard_similarity, ("night", "nacht", -1), {}, OverflowError, id="jaccard-negative"),
    pytest.param(vorn.jaccard_similarity, ("night", "nacht", 2.0), {}, TypeError, id="jaccard-float"),
    pytest.param(vorn.jaccard_similarity, ("night", "nacht", NotIndex()), {}, RuntimeError, id="jaccard-index-raises"),
    pytest.param(vorn.minhash_signature, ("hello world", 3, 16), {}, None, id="minhash_signature-ok"),
    pytest.param(vorn.minhash_signature, ("hello", 0, 16), {}, ValueError, id="minhash_signature-zero"),
    pytest.param(vorn.minhash_signature, ("hello", 3, 2**62), {}, MemoryError, id="minhash_signature-memory"),
    pytest.param(vorn.minhash_signature, ("hello", 3, 2**64), {}, OverflowError, id="minhash_signature-overflow"),
    pytest.param(vorn.minhash_similarity, ("hello", "hallo", 2, 16), {}, None, id="minhash_similarity-ok"),
    pytest.param(vorn.minhash_similarity, ("hello", "hallo", 2, 2**62), {}, MemoryError,
                 id="minhash_similarity-memory"),
    pytest.param(vorn.simhash_fingerprint, ("hello world", 3), {}, None, id="simhash_fingerprint-ok"),
    pytest.param(vorn.simhash_fingerprint, ("hello world", 0), {}, ValueError, id="simhash_fingerprint-zero"),
    pytest.param(vorn.simhash_fingerprint_default, ("hello world",), {}, None, id="simhash_default-ok"),
    pytest.param(vorn.simhash_fingerprint_default, (b"bytes",), {}, TypeError, id="simhash_default-bytes"),
    pytest.param(vorn.simhash_similarity, ("hello", "hallo", 2), {}, None, id="simhash_similarity-ok"),
    pytest.param(vorn.simhash_similarity, ("hello", "hallo", 0), {}, ValueError, id="simhash_similarity-zero"),
    pytest.param(vorn.clean_text, ("  Ｃafe\u0301  AU Lait ",), {}, None, id="clean_text-ok"),
    pytest.param(vorn.clean_text, (SURROGATE,), {}, UnicodeEncodeError, id="clean_text-surrogate"),
    pytest.param(vorn.clean_text_stopwords, ("The fox and the dog",), {}, None, id="clean_text_stopwords-ok"),
    pytest.param(vorn.clean_text_stopwords, (None,), {}, TypeError, id="clean_text_stopwords-none"),
    # Preprocessor
    pytest.param(vorn.Preprocessor, (), {}, None, id="Preprocessor-new"),
    pytest.param(vorn.Preprocessor, (1,), {}, TypeError, id="Preprocessor-new-args"),
    pytest.param(PREPROCESSOR.with_trim, (False,), {}, None, id="with_trim-ok"),
    pytest.param(PREPROCESSOR.with_trim, (1,), {}, TypeError, id="with_trim-int"),
    pytest.param(PREPROCESSOR.with_lowercase, (False,), {}, None, id="with_lowercase-ok"),
    pytest.param(PREPROCESSOR.with_normalize_unicode, (False,), {}, None, id="with_normalize_unicode-ok"),
    pytest.param(PREPROCESSOR.with_collapse_whitespace, (False,), {}, None, id="with_collapse_whitespace-ok"),
    pytest.param(PREPROCESSOR.with_remove_stopwords, (True,), {}, None, id="with_remove_stopwords-ok"),
    pytest.param(PREPROCESSOR.with_remove_stopwords, (), {}, TypeError, id="with_remove_stopwords-missing"),
    pytest.param(PREPROCESSOR.with_max_length, (5,), {}, None, id="with_max_length-ok"),
    pytest.param(PREPROCESSOR.with_max_length, (-5,), {}, OverflowError, id="with_max_length-negative"),
    pytest.param(PREPROCESSOR.with_stopwords, (["a", "the", "é"],), {}, None, id="with_stopwords-list"),
    pytest.param(PREPROCESSOR.with_stopwords, (("a", "the"),), {}, None, id="with_stopwords-tuple"),
    pytest.param(PREPROCESSOR.with_stopwords, ("the",), {}, TypeError, id="with_stopwords-str"),
    pytest.param(PREPROCESSOR.with_stopwords, ({"the"},), {}, TypeError, id="with_stopwords-set"),
    pytest.param(PREPROCESSOR.with_stopwords, (Words(),), {}, TypeError, id="with_stopwords-bad-item"),
    pytest.param(PREPROCESSOR.with_stopwords, (["a", SURROGATE],), {}, UnicodeEncodeError,
                 id="with_stopwords-surrogate"),
    pytest.param(PREPROCESSOR.process, ("  The  Quick FOX  ",), {}, None, id="process-ok"),
    pytest.param(PREPROCESSOR.process, (3,), {}, TypeError, id="process-int"),
    # VornFlow
    pytest.param(vorn.VornFlow, (), {}, None, id="VornFlow-new"),
    pytest.param(vorn.VornFlow, (), {"x": 1}, TypeError, id="VornFlow-new-kwargs"),
    pytest.param(FLOW.preprocess, (True,), {}, None, id="preprocess-ok"),
    pytest.param(FLOW.preprocess, ("yes",), {}, TypeError, id="preprocess-str"),
    pytest.param(FLOW.tier_1, ("levenshtein", "gt", 0.9, "lt", 0.2), {}, None, id="tier_1-ok"),
    pytest.param(FLOW.tier_1, ("soundex", "gt", 0.9, "lt", 0.2), {}, ValueError, id="tier_1-algorithm"),
    pytest.param(FLOW.tier_1, ("levenshtein", "between", 0.9, "lt", 0.2), {}, ValueError, id="tier_1-op"),
    pytest.param(FLOW.tier_1, ("levenshtein", "gt", "high", "lt", 0.2), {}, TypeError, id="tier_1-float"),
    pytest.param(FLOW.tier_2, ("tfidf", "between", 0.2, 0.8), {}, None, id="tier_2-ok"),
    pytest.param(FLOW.tier_2, ("tfidf", "within", 0.2, 0.8), {}, ValueError, id="tier_2-op"),
    pytest.param(FLOW.compare, ("Jonathan", "Jonathon"), {}, None, id="compare-ok"),
    pytest.param(FLOW.compare, ("Jonathan", 5), {}, TypeError, id="compare-type"),
    pytest.param(vorn.VornFlow().compare, ("a", "b"), {}, ValueError, id="compare-no-tiers"),
    pytest.param(HAMMING_FLOW.compare, ("abc", "ab"), {}, ValueError, id="compare-hamming-lengths"),
    pytest.param(FLOW.compare_with_intent, ("names", "Jon", "John"), {}, None, id="intent-ok"),
    pytest.param(FLOW.compare_with_intent, ("auto", "x" * 600, "y" * 600), {}, None, id="intent-auto-long"),
    pytest.param(FLOW.compare_with_intent, ("fuzzy", "Jon", "John"), {}, ValueError, id="intent-unknown"),
    pytest.param(FLOW.compare_with_intent, ("codes", "Jon", "John"), {}, ValueError, id="intent-codes-lengths"),
    pytest.param(FLOW.compare_with_intent, ("names", SURROGATE, "x"), {}, UnicodeEncodeError,
                 id="intent-surrogate"),
]


@pytest.mark.parametrize("fn, args, kwargs, expect", CASES)
def test_no_reference_or_memory_growth(no_leak, fn, args, kwargs, expect):
    if expect is None:
        fn(*args, **kwargs)  # succeeds
    else:
        with pytest.raises(expect):
            fn(*args, **kwargs)
    no_leak(fn, *args, calls=CALLS, expect=expect, **kwargs)
