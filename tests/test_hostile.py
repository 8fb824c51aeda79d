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


# Texts of 100 000 characters of a small alphabet, and of 20 000 distinct
# characters (a) with its shuffled copy (b): one dense mask row per
# distinct character would take 20 000 x 313 words (50 MB) there.
LONG_TEXTS = 'a = ("the quick brown fox " * 6000)[:100_000]; b = ("the quick brown cat " * 6000)[:100_000]'
WIDE_TEXTS = (
    "chars = [chr(0x4E00 + i) for i in range(20_000)]; a = ''.join(chars);"
    " random.Random(1).shuffle(chars); b = ''.join(chars)"
)


def peak_memory_growth(setup, code):
    """Result and peak resident memory growth in MB while `code` runs after
    `setup`, in a fresh interpreter so that nothing else in the process counts."""
    script = textwrap.dedent(f"""
        import random, resource, vorn
        {setup}
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = {code}
        print(result, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024)
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    result, growth = out.split()
    return result, float(growth)


@pytest.mark.parametrize(
    "setup, code, expected, limit",
    [
        (LONG_TEXTS, "vorn.levenshtein_distance(a, b)", "15000", 50),  # 'fox' -> 'cat' in each of 5000 runs
        (LONG_TEXTS, "vorn.jaro_winkler_similarity(a, b)", None, 50),
        (WIDE_TEXTS, "vorn.jaro_winkler_similarity('x', a)", "0.0", 16),
        (WIDE_TEXTS, "vorn.jaro_winkler_similarity(b, a)", None, 16),
        (WIDE_TEXTS, "vorn.levenshtein_distance(a, b)", None, 16),
    ],
)
def test_long_and_wide_texts_in_little_memory(setup, code, expected, limit):
    result, growth = peak_memory_growth(setup, code)
    if expected is not None:
        assert result == expected
    assert growth < limit
