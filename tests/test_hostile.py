"""Extreme input: megabyte texts, deeply repetitive texts, and memory use
on very long texts. (Hostile arguments, such as lone surrogates and numbers
that misbehave, are in test_binding.py.)"""

import subprocess
import sys
import textwrap

import pytest
import vorn

FLOW = vorn.VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
MEGABYTE_A = ("The quick brown fox jumps over the lazy dog. Ünïcödé 漢字 😀\n" * 16_000)[:1_000_000]
MEGABYTE_B = MEGABYTE_A.replace("lazy", "busy")


@pytest.mark.parametrize(
    "fn, args, check",
    [
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
    ],
)
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


@pytest.mark.parametrize(
    "code, expected",
    [
        ("vorn.levenshtein_distance(a, b)", "15000"),  # 'fox' -> 'cat' in each of 5000 runs
        ("vorn.jaro_winkler_similarity(a, b)", None),
    ],
)
def test_hundred_thousand_characters_in_little_memory(code, expected):
    result, growth = peak_memory_growth(code)
    if expected is not None:
        assert result == expected
    assert growth < 50
