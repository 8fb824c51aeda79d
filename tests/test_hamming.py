"""Hamming distance and similarity: positions counted in characters, texts
comparable only when their character counts agree."""

import random

import pytest

from vorn import hamming_distance as distance
from vorn import hamming_similarity as similarity


@pytest.mark.parametrize(
    "a, b, d, s",
    [
        ("karolin", "kathrin", 3, 0.5714285714285714),
        ("abc", "abd", 1, 0.6666666666666667),
        ("", "", 0, 1.0),
        ("same", "same", 0, 1.0),
        ("é", "e", 1, 0.0),
        # equal byte lengths, equal character counts, characters swapped
        ("éa", "aé", 2, 0.0),
        ("xé😀", "xè😀", 1, 1.0 - 1 / 3),  # é and è share their first byte
        ("a\0b", "a\0c", 1, 1.0 - 1 / 3),
    ],
)
def test_known_values(a, b, d, s):
    assert distance(a, b) == d == distance(b, a)
    assert similarity(a, b) == s == similarity(b, a)


@pytest.mark.parametrize(
    "a, b",
    [
        ("é", "ab"),  # two bytes each, one character against two
        ("abc", "abcd"),
        ("", "a"),
        ("日", "abc"),  # three bytes each
        ("😀", "éé"),  # four bytes each
    ],
)
@pytest.mark.parametrize("fn", [distance, similarity])
def test_different_character_counts_are_rejected(fn, a, b):
    for x, y in ((a, b), (b, a)):
        with pytest.raises(ValueError) as info:
            fn(x, y)
        assert type(info.value) is ValueError
        assert str(info.value) == "Strings must have equal length"
        assert not getattr(info.value, "__notes__", None)


ALPHABETS = {"ascii": "ab \0", "accented": "aéèe", "cjk": "日本語a", "emoji": "😀😁aé"}


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_against_reference(alphabet):
    rng = random.Random(f"hamming-{alphabet}")
    chars = ALPHABETS[alphabet]
    for length in [*range(0, 20), 31, 32, 33, 63, 64, 65, 1000]:
        for _ in range(10):
            a = "".join(rng.choice(chars) for _ in range(length))
            b = "".join(rng.choice(chars) for _ in range(length))
            d = sum(x != y for x, y in zip(a, b))
            assert distance(a, b) == d, (a, b)
            assert similarity(a, b) == (1.0 if length == 0 else 1.0 - d / length)


def test_error_path_does_not_leak(no_leak):
    no_leak(distance, "é", "ab", expect=ValueError, calls=20_000)
    no_leak(similarity, "abc", "abcd", expect=ValueError, calls=20_000)
