"""Seeded comparisons with RapidFuzz where it computes the same quantity:
Levenshtein distance, Hamming distance, and Jaro similarity on texts
whose first characters differ (so the Winkler prefix adds nothing), on
short texts across the first block borders and on long texts and wide
alphabets through the multi-block paths. Results must agree exactly,
floats to the last bit."""

import random

import pytest
import reference as ref
import vorn

rapidfuzz = pytest.importorskip("rapidfuzz")
from rapidfuzz.distance import Hamming, Jaro, Levenshtein  # noqa: E402


@pytest.mark.parametrize("alphabet", ref.ALPHABETS)
def test_levenshtein_and_jaro_agree(alphabet):
    jaro_checked = 0
    for a, b in ref.random_pairs(f"peers-{alphabet}", ref.ALPHABETS[alphabet], 600):
        assert vorn.levenshtein_distance(a, b) == Levenshtein.distance(a, b), (a, b)
        if a and b and a[0] != b[0]:
            assert vorn.jaro_winkler_similarity(a, b) == Jaro.similarity(a, b), (a, b)
            jaro_checked += 1
    assert jaro_checked > 100


@pytest.mark.parametrize("alphabet", ref.ALPHABETS)
def test_hamming_distance_agrees(alphabet):
    rng = random.Random(f"hamming-{alphabet}")
    for length in ref.BOUNDARY_LENGTHS:
        a, b = (ref.random_text(rng, ref.ALPHABETS[alphabet], length) for _ in range(2))
        assert vorn.hamming_distance(a, b) == Hamming.distance(a, b), (a, b)


# "sparse": characters rarer than one per four blocks keep only their
# non-zero blocks; "mixed" puts such characters beside frequent ones.
LONG_ALPHABETS = {
    "ascii": "abcdefghij",
    "sparse": [chr(c) for c in range(0x4E00, 0x4E00 + 3000)],
    "mixed": list("abcé ") + [chr(c) for c in range(0x4E00, 0x4E00 + 1500)],
}
# Around the borders of 64-character blocks, on both parities (columns are
# taken in pairs) and past the 16-column steps of the band.
LONG_LENGTHS = [255, 256, 257, 511, 512, 513, 1023, 1024, 1025, 1537]


def shifted(rng, alphabet, source, moved):
    """`moved` characters cut near the start and as many new ones added
    near the end (or the reverse): the best alignment runs far from the
    main diagonal for most of the text."""
    fresh = ref.random_text(rng, alphabet, moved)
    head, body, tail = source[:20], source[20:-20], source[-20:]
    if rng.random() < 0.5:
        return head + body[moved:] + fresh + tail
    return head + fresh + body[: len(body) - moved] + tail


@pytest.mark.parametrize("alphabet", LONG_ALPHABETS)
def test_long_texts_agree(alphabet):
    rng = random.Random(f"long-{alphabet}")
    chars = LONG_ALPHABETS[alphabet]
    for i in range(60):
        a = ref.random_text(rng, chars, rng.choice(LONG_LENGTHS))
        if i % 3 == 0:
            b = ref.random_text(rng, chars, rng.choice(LONG_LENGTHS))
        elif i % 3 == 1:
            b = ref.edited(rng, chars, a, rng.randrange(1, 40))
        else:
            b = shifted(rng, chars, a, rng.choice([1, 63, 64, 65, 200]))
        expected = Levenshtein.distance(a, b)
        assert vorn.levenshtein_distance(a, b) == expected == vorn.levenshtein_distance(b, a), (len(a), len(b))
        b = "\x01" + b  # no common first character: Jaro-Winkler is plain Jaro
        assert vorn.jaro_winkler_similarity(a, b) == Jaro.similarity(a, b), (len(a), len(b))
        assert vorn.jaro_winkler_similarity(b, a) == Jaro.similarity(b, a)
