"""Seeded comparisons with RapidFuzz where it computes the same quantity:
Levenshtein distance, Hamming distance, and Jaro similarity on texts
whose first characters differ (so the Winkler prefix adds nothing).
Results must agree exactly, floats to the last bit."""

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
