"""Seeded comparisons with RapidFuzz where it computes the same quantity:
Levenshtein distance, Hamming distance, and Jaro similarity on texts
whose first characters differ (so the Winkler prefix adds nothing).
Results must agree exactly, floats to the last bit."""

import random

import pytest

import vorn

rapidfuzz = pytest.importorskip("rapidfuzz")
from rapidfuzz.distance import Hamming, Jaro, Levenshtein  # noqa: E402

ALPHABETS = {"ascii": "abcdefgh ", "binary": "ab", "mixed": "aé漢😀 \u0301", "wide": [chr(c) for c in range(0x3B1, 0x3B1 + 200)]}
# Lengths around the 64-character word and the 128 and 192 block borders.
LENGTHS = list(range(0, 8)) + [31, 32, 33, 63, 64, 65, 100, 127, 128, 129, 191, 192, 193, 300]


def text(rng, alphabet, length):
    return "".join(rng.choice(alphabet) for _ in range(length))


def edited(rng, alphabet, source):
    chars = list(source)
    for _ in range(rng.randrange(1, 10)):
        pos = rng.randrange(len(chars) + 1)
        if rng.random() < 0.5 or not chars:
            chars.insert(pos, rng.choice(alphabet))
        else:
            chars[min(pos, len(chars) - 1)] = rng.choice(alphabet)
    return "".join(chars)


def pairs(name, count=400):
    rng = random.Random(f"peers-{name}")
    alphabet = ALPHABETS[name]
    for _ in range(count):
        a = text(rng, alphabet, rng.choice(LENGTHS))
        b = edited(rng, alphabet, a) if rng.random() < 0.5 else text(rng, alphabet, rng.choice(LENGTHS))
        yield a, b


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_levenshtein_distance_agrees(alphabet):
    for a, b in pairs(alphabet):
        assert vorn.levenshtein_distance(a, b) == Levenshtein.distance(a, b), (a, b)


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_hamming_distance_agrees(alphabet):
    rng = random.Random(f"hamming-{alphabet}")
    for length in LENGTHS:
        a, b = text(rng, ALPHABETS[alphabet], length), text(rng, ALPHABETS[alphabet], length)
        assert vorn.hamming_distance(a, b) == Hamming.distance(a, b), (a, b)


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_jaro_without_common_prefix_agrees(alphabet):
    checked = 0
    for a, b in pairs(alphabet, 600):
        if not a or not b or a[0] == b[0]:
            continue
        assert vorn.jaro_winkler_similarity(a, b) == Jaro.similarity(a, b), (a, b)
        checked += 1
    assert checked > 100
